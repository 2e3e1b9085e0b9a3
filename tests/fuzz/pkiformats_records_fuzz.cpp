// Flat records A to G from outside: every unpacker on an exactly sized heap
// copy of the input; what unpacks must pack again.
// Seeds are records that the facade's own packers make.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "PKIFormatsFuzz.h"
#include "pkiformats/SPKIFormats.h"

using pkifuzz::Seed;
using pkifuzz::View;

// Seeds: one record of each kind A to G made by the facade's packers.
extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const std::string seeds = qvkfuzz::SeedFolder();
    if (seeds.empty()) return 0;
    SPKIFormats f(nullptr, nullptr, nullptr);
    const std::uint8_t value16[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    PKIBlob data = View("data part"), second = View("second data"), r{0, nullptr};
    qvkfuzz::Check(f.PackRecordA(3, value16, "record A", 77, &data, &r) == 1, "record A");
    Seed(f, seeds, "record_a", &r);
    qvkfuzz::Check(f.PackRecordB(4, 88, "record B", &data, &r) == 1, "record B");
    Seed(f, seeds, "record_b", &r);
    qvkfuzz::Check(f.PackRecordC(5, "record C", value16, &data, &second, &r) == 1, "record C");
    Seed(f, seeds, "record_c", &r);
    qvkfuzz::Check(f.PackRecordD(6, &data, &r) == 1, "record D");
    Seed(f, seeds, "record_d", &r);
    qvkfuzz::Check(f.PackRecordE(7, &data, &r) == 1, "record E");
    Seed(f, seeds, "record_e", &r);
    qvkfuzz::Check(f.PackShortText("short text", &r) == 1, "record F");
    Seed(f, seeds, "record_f", &r);
    qvkfuzz::Check(f.PackWordA(0x12345678, &r) == 1, "record G");
    Seed(f, seeds, "record_g", &r);
    std::exit(0);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 0xFFFF) return 0;
    SPKIFormats f(nullptr, nullptr, nullptr);
    pkifuzz::InputRecord input(data, size);
    PKIBlob& record = input.blob;
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
