// Key-parts records from outside: every reader, and appending into a copy
// with room to spare, on an exactly sized heap copy of the input.
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
    std::uint32_t a = 0, b = 0;
    f.GetKeyPartsWords(&record, &a, &b);
    for (std::uint32_t n = 0; n < 5; ++n) {
        PKIBlob view{0, nullptr};
        if (f.GetKeyPart(&record, n, &view, &a, &b) && view.length) {
            volatile std::uint8_t sink = view.data[0] ^ view.data[view.length - 1];
            (void)sink;
        }
    }
    for (std::uint32_t kind : {1u, 2u, 4u}) {
        PKIBlob out{0, nullptr};
        if (f.CopyKeyPart(&record, kind, 1, &out)) f.ReleaseBlob(&out);
    }
    std::vector<std::uint8_t> roomy(copy);
    roomy.resize(size + 32);
    PKIBlob bigger{static_cast<std::uint32_t>(size), roomy.data()};
    std::uint8_t part[7] = {1, 2, 3, 4, 5, 6, 7};
    PKIBlob p{7, part};
    f.AppendKeyPart(&bigger, 1, 0x10, &p);
    bigger.length = static_cast<std::uint32_t>(roomy.size());
    f.AppendKeyPart(&bigger, 4, 0, &p);
    PKIBlob view{0, nullptr};
    f.GetKeyPart(&bigger, 0, &view, nullptr, nullptr);
    return 0;
}
