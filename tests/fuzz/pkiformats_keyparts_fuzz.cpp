// Key-parts records from outside: every reader, and appending into a copy
// with room to spare, on an exactly sized heap copy of the input.
// Seeds are records that the facade's own writers make.
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

// Seeds: records of both versions made by the facade's writers, empty,
// with parts of each kind, and with the protection words set.
extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const std::string seeds = qvkfuzz::SeedFolder();
    if (seeds.empty()) return 0;
    SPKIFormats f(nullptr, nullptr, nullptr);
    for (std::uint32_t version : {2u, 3u}) {
        PKIBlob r{0, nullptr};
        qvkfuzz::Check(f.CreateKeyPartsRecord(version, 0, &r) == 1, "an empty record is made");
        Seed(f, seeds, version == 2 ? "empty_v2" : "empty_v3", &r);
        qvkfuzz::Check(f.CreateKeyPartsRecord(version, 64, &r) == 1, "a record is made");
        PKIBlob b = View("signature key part"), a = View("agreement"), d = View("further part");
        qvkfuzz::Check(f.AppendKeyPart(&r, 1, 0x10, &b) == 1, "a signature part is appended");
        qvkfuzz::Check(f.AppendKeyPart(&r, 1, 0x01, &a) == 1, "a second usage is appended");
        if (version == 3) qvkfuzz::Check(f.AppendKeyPart(&r, 4, 0, &d) == 1, "a further part is appended");
        qvkfuzz::Check(f.SetKeyPartsWords(&r, 0x1234, 7) == 1, "the words are set");
        Seed(f, seeds, version == 2 ? "parts_v2" : "parts_v3", &r);
    }
    std::exit(0);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 0xFFFF) return 0;
    SPKIFormats f(nullptr, nullptr, nullptr);
    pkifuzz::InputRecord input(data, size);
    PKIBlob& record = input.blob;
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
    std::vector<std::uint8_t> roomy(input.bytes);
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
