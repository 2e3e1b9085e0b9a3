// Flat records A to G from outside: every unpacker on an exactly sized heap
// copy of the input; what unpacks must pack again.
#include <cstdint>
#include <cstring>
#include <vector>

#include "pkiformats/SPKIFormats.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 0xFFFF) return 0;
    SPKIFormats f(nullptr, nullptr, nullptr);
    std::vector<std::uint8_t> copy(data, data + size);
    PKIBlob record{static_cast<std::uint32_t>(size), copy.data()};
    char text[PKIF_RECORD_TEXT_MAX + 1];
    std::uint8_t value16[16];
    std::uint32_t kind = 0, value = 0;
    PKIBlob d1{0, nullptr}, d2{0, nullptr}, again{0, nullptr};
    if (f.UnpackRecordA(&record, &kind, value16, text, &value, &d1)) {
        if (!f.PackRecordA(kind, value16, text, value, &d1, &again)) __builtin_trap();
        f.ReleaseBlob(&again);
        f.ReleaseBlob(&d1);
    }
    if (f.UnpackRecordB(&record, &kind, &value, text, &d1)) {
        if (!f.PackRecordB(kind, value, text, &d1, &again)) __builtin_trap();
        f.ReleaseBlob(&again);
        f.ReleaseBlob(&d1);
    }
    if (f.UnpackRecordC(&record, &kind, text, value16, &d1, &d2)) {
        if (!f.PackRecordC(kind, text, value16, &d1, &d2, &again)) __builtin_trap();
        if (!f.UnpackRecordC(&again, &kind, text, value16, nullptr, nullptr)) __builtin_trap();
        f.ReleaseBlob(&again);
        f.ReleaseBlob(&d1);
        f.ReleaseBlob(&d2);
    }
    if (f.UnpackRecordD(&record, &kind, &d1)) f.ReleaseBlob(&d1);
    if (f.UnpackRecordE(&record, &kind, nullptr)) {}
    char shortText[PKIF_SHORT_TEXT_BYTES];
    if (f.UnpackShortText(&record, shortText)) {
        if (!f.PackShortText(shortText, &again)) __builtin_trap();
        f.ReleaseBlob(&again);
    }
    f.UnpackWordA(&record, &value);
    f.UnpackWordB(&record, &value);
    return 0;
}
