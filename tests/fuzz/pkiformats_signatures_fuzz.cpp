// Peer signature values from outside: each form decoded into a heap buffer of
// exactly the documented capacity (so a copy past it is caught), through the
// test double's encoder, which takes any bytes apart into the three forms
// and their bit lengths as the library would.
// Seeds are values that the facade's own encoders make.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "FakeFormats.h"
#include "FuzzSupport.h"
#include "PKIFormatsFuzz.h"
#include "pkiformats/HashSignatureLimits.h"
#include "pkiformats/SPKIFormats.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const std::string seeds = qvkfuzz::SeedFolder();
    if (seeds.empty()) return 0;
    fake::KeysLibrary lib;
    SPKIFormats f(nullptr, nullptr, &lib);
    std::vector<std::uint8_t> value(PKIF_SIGNATURE_MAX, 0x5A);
    struct {
        const char* name;
        std::uint32_t length;
    } const seedsOf[] = {{"dstu4145_42", 42}, {"dstu4145_152", 152}, {"rsa_256", 256}, {"rsa_1152", 1152}};
    for (const auto& s : seedsOf) {
        PKIBlob out{0, nullptr};
        const bool dstu = s.name[0] == 'd';
        qvkfuzz::Check((dstu ? f.EncodeDSTU4145Signature(value.data(), s.length, &out)
                             : f.EncodeRSASignature(value.data(), s.length, &out)) == 1,
                       s.name);
        pkifuzz::Seed(f, seeds, s.name, &out);
    }
    PKIBlob out{0, nullptr};
    qvkfuzz::Check(f.EncodeECDSASignature(value.data(), &out) == 1, "ecdsa");
    pkifuzz::Seed(f, seeds, "ecdsa_152", &out);
    std::exit(0);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 0x4000) return 0;
    fake::KeysLibrary lib;
    SPKIFormats f(nullptr, nullptr, &lib);
    pkifuzz::InputRecord input(data, size);
    std::uint32_t length = 0;
    std::vector<std::uint8_t> dstu(PKIF_DSTU4145_SIGNATURE_MAX), rsa(PKIF_SIGNATURE_MAX),
        ecdsa(PKIF_ECDSA_SIGNATURE_RECORD);
    if (f.DecodeDSTU4145Signature(&input.blob, dstu.data(), &length))
        qvkfuzz::Check(length >= 1 && length <= dstu.size(), "a DSTU 4145 value within its capacity");
    if (f.DecodeRSASignature(&input.blob, rsa.data(), &length))
        qvkfuzz::Check(length >= 1 && length <= rsa.size(), "an RSA value within its capacity");
    f.DecodeECDSASignature(&input.blob, ecdsa.data());
    qvkfuzz::Check(lib.LiveObjects() == 0 && lib.LiveBlobs() == 0, "nothing left behind");
    return 0;
}
