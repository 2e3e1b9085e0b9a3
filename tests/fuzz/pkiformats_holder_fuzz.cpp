// Holder records from outside: reading, key views, texts, the extension and
// the upgrade, on an exactly sized heap copy of the input.
// Seeds are records that the facade's own writer makes.
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

// Seeds: holder records made by the facade's writer, with and without a
// holder data block, key parts, texts and the extension words.
extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const std::string seeds = qvkfuzz::SeedFolder();
    if (seeds.empty()) return 0;
    SPKIFormats f(nullptr, nullptr, nullptr);
    SYSTEMTIME from{2024, 1, 1, 1, 0, 0, 0, 0}, to{2026, 1, 4, 1, 0, 0, 0, 0};
    std::vector<std::uint8_t> area(PKIF_HOLDER_DATA_AREA, 0);
    std::memcpy(area.data() + 4, "Common Name", 12);
    std::memcpy(area.data() + 2194, "UA", 3);
    area[1830] = 7;
    area[2823] = 1;
    const char optional[] = "1.3.6.1.5.5.7.3.2\0\0";
    PKIBlob k1 = View("first key"), k2 = View("second key"), k3 = View("third key"), further = View("further");
    PKIBlob r{0, nullptr};
    qvkfuzz::Check(f.CreateHolderRecord(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0, 0, 0, nullptr, nullptr,
                                        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                        nullptr, 0, 0, nullptr, 0, nullptr, 0, 0, 0, 0, 0, 0, nullptr, &r) == 1,
                   "an empty holder record is made");
    Seed(f, seeds, "empty", &r);
    qvkfuzz::Check(f.CreateHolderRecord(area.data(), &from, &to, &from, &to, optional, sizeof optional, 5, 6, "k1a",
                                        "k1b", "k2a", "k2b", "k3a", "k3b", "http://ocsp", "http://tsp", &k1, &further,
                                        &k2, &k3, 1, 2, "UAH", 3, "text nine", 0x10, 0x01, 1, 4, 5, 6, "text ten",
                                        &r) == 1,
                   "a full holder record is made");
    Seed(f, seeds, "full", &r);
    qvkfuzz::Check(f.CreateHolderRecord(nullptr, &from, &to, nullptr, nullptr, nullptr, 0, 1, 2, "a", nullptr, nullptr,
                                        nullptr, nullptr, nullptr, nullptr, "t8", &k1, nullptr, nullptr, nullptr, 0, 0,
                                        nullptr, 0, nullptr, 0, 0, 0, 0, 0, 0, nullptr, &r) == 1,
                   "a one-key holder record is made");
    Seed(f, seeds, "one_key", &r);
    std::exit(0);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 0xFFFF) return 0;
    SPKIFormats f(nullptr, nullptr, nullptr);
    pkifuzz::InputRecord input(data, size);
    PKIBlob& record = input.blob;
    std::vector<std::uint8_t> area(PKIF_HOLDER_DATA_AREA);
    const SYSTEMTIME *t1 = nullptr, *t2 = nullptr, *t3 = nullptr, *t4 = nullptr;
    const std::uint8_t* optional = nullptr;
    if (f.ReadHolderRecord(&record, area.data(), &t1, &t2, &t3, &t4, &optional)) {
        volatile int sink = t1->wYear + t4->wMilliseconds;
        (void)sink;
    }
    for (std::uint32_t n = 0; n < 4; ++n) {
        PKIBlob key{0, nullptr}, x{0, nullptr}, y{0, nullptr};
        std::uint32_t a, b, c, d;
        if (f.GetHolderRecordKey(&record, n, &key, &a, &b, &c, &d, &x, &y) && key.length) {
            volatile std::uint8_t sink = key.data[key.length - 1];
            (void)sink;
        }
    }
    const char* text = nullptr;
    if (f.GetHolderRecordText(&record, &text)) {
        volatile std::size_t sink = std::strlen(text);
        (void)sink;
    }
    std::uint32_t present = 0, words[3];
    text = nullptr;
    if (f.GetHolderRecordExtension(&record, &present, words, &text) && text) {
        volatile std::size_t sink = std::strlen(text);
        (void)sink;
    }
    PKIBlob upgraded{0, nullptr};
    if (f.UpgradeHolderRecord(6, &record, &upgraded)) {
        PKIBlob again{0, nullptr};
        f.ReadHolderRecord(&upgraded, area.data(), &t1, &t2, &t3, &t4, &optional);
        if (f.UpgradeHolderRecord(6, &upgraded, &again)) f.ReleaseBlob(&again);
        f.ReleaseBlob(&upgraded);
    }
    return 0;
}
