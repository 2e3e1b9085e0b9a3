// CRC32Count of cgext.so: the standard CRC-32 (reflected polynomial
// 0xEDB88320, initial value and final XOR 0xFFFFFFFF).
#include "CGExport.h"

CG_EXPORT uint32_t CRC32Count(const uint8_t* data, uint32_t length)
{
    static const auto table = [] {
        struct Table {
            uint32_t entries[256];
        } t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t.entries[n] = c;
        }
        return t;
    }();
    if (data == nullptr) return 0;
    uint32_t crc = 0xFFFFFFFFu;
    for (uint32_t i = 0; i < length; ++i) crc = table.entries[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}
CG_SHAPE(CRC32Count, CGCRC32CountFn);
