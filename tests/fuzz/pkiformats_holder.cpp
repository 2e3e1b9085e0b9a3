// Holder records from outside: reading, key views, texts, the extension and
// the upgrade, on an exactly sized heap copy of the input.
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
