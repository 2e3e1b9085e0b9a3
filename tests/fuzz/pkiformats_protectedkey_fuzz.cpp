// Protected key files from outside: marker, payload length, payload and the
// optional trailer of a length and hexadecimal text, read through the test
// double (its encrypted keys, key stores and containers, as the library
// would read them) on an exactly sized heap copy of the input. A file that
// is accepted must have a marker and a payload inside the input; whatever
// the outcome, every object and blob is released and every blob wiped.
// Seeds are files of both markers, with and without a trailer, and a file
// wrapping a key store.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "FakeFormats.h"
#include "FuzzSupport.h"
#include "PKIFormatsFuzz.h"
#include "pkiformats/SPKIFormats.h"

namespace {

void U32LE(qvkfuzz::Bytes& b, std::uint32_t v)
{
    for (int s = 0; s < 32; s += 8) b.push_back(static_cast<std::uint8_t>(v >> s));
}

qvkfuzz::Bytes File(std::uint16_t marker, const std::string& payload, std::uint32_t trailer)
{
    qvkfuzz::Bytes b{static_cast<std::uint8_t>(marker), static_cast<std::uint8_t>(marker >> 8)};
    U32LE(b, static_cast<std::uint32_t>(payload.size()));
    b.insert(b.end(), payload.begin(), payload.end());
    if (trailer) {
        U32LE(b, trailer);
        for (std::uint32_t i = 0; i < trailer; ++i) b.push_back(static_cast<std::uint8_t>("0123456789abcdef"[i % 16]));
    }
    return b;
}

std::string KeyStore(const std::string& key)
{
    std::string s = "\xFE\xED\xFE\xED";
    s += std::string("\0\0\0\2\0\0\0\1\0\0\0\1\0\1k", 15) + "stamp..!";
    const auto n = static_cast<std::uint32_t>(key.size());
    s += {static_cast<char>(n >> 24), static_cast<char>(n >> 16), static_cast<char>(n >> 8), static_cast<char>(n)};
    s += key + std::string(4, '\0');
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    qvkfuzz::WriteSeedsWhenAsked([](const std::string& folder) {
        const std::string key = fake::EncryptedKey::Encoding("pw", "key bytes", true);
        qvkfuzz::Check(qvkfuzz::WriteSeed(folder, "layouts", File(0x4C51, key, 0)), "layouts");
        qvkfuzz::Check(qvkfuzz::WriteSeed(folder, "layouts_trailer", File(0x4C51, key, 80)), "trailer");
        qvkfuzz::Check(qvkfuzz::WriteSeed(folder, "key_store", File(0x4C51, KeyStore(key), 0)), "key store");
        qvkfuzz::Check(qvkfuzz::WriteSeed(folder, "encrypted", File(0x5A42, "KC:k1|k2", 64)), "encrypted");
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 0x10000) return 0;
    pkifuzz::InputRecord input(data, size);
    {
        fake::Library lib;
        lib.requireWipe = true;
        fake::UseKeyFileObjects(lib);
        {
            SPKIFormats f(nullptr, nullptr, &lib);
            void* read = nullptr;
            PKIBlob names{0, nullptr};
            if (f.DecodeProtectedKey(&input.blob, "pw", &read, &names)) {
                const std::uint16_t marker = static_cast<std::uint16_t>(data[0] | data[1] << 8);
                const std::uint64_t payload = data[2] | data[3] << 8 | data[4] << 16 | std::uint64_t(data[5]) << 24;
                if ((marker != 0x4C51 && marker != 0x5A42) || 6 + payload > size || !read) __builtin_trap();
                static_cast<IPKIObject*>(read)->Release();
            } else if (read || names.data) {
                __builtin_trap();
            }
            f.ReleaseBlob(&names);
            read = nullptr;
            std::uint32_t format = 0;
            if (f.ReadPrivateKeyAnyFormat(&input.blob, "pw", 0, &format, &read)) {
                if (!read) __builtin_trap();
                static_cast<IPKIObject*>(read)->Release();
            }
        }
        if (lib.LiveObjects() != 0 || lib.LiveBlobs() != 0 || lib.unwipedFrees != 0 || lib.doubleReleases != 0)
            __builtin_trap();
    }
    return 0;
}
