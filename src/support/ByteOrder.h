// Little-endian 32-bit words in byte buffers, as the key's records and the
// parameter files hold them.
#ifndef QVK_SUPPORT_BYTEORDER_H
#define QVK_SUPPORT_BYTEORDER_H

#include <cstdint>

inline std::uint32_t LoadLE32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

inline void StoreLE32(std::uint8_t* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

#endif
