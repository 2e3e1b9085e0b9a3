// Attribute records as stored on a key: one record and a whole template
// parsed into CK_ATTRIBUTE arrays (nested ones included), applied to a
// template and freed. With QVK_FUZZ_WRITE_SEEDS set, writes its seed corpus
// there and exits.
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "pkcs11/PKCS11Attribute.h"
#include "pkcs11/PKCS11Template.h"

namespace {

void WriteSeeds(const char* folder)
{
    const std::vector<std::vector<std::uint8_t>> seeds = {
        {0, 0, 0, 0, 0, 0, 0, 3},
        {0, 0, 0, 1, 1},
        {0, 0, 0, 3, 0, 0, 0, 3, 0x61, 0x62, 0x63},
        {0, 0, 2, 2, 0, 0, 0, 1, 1},
        {0x40, 0, 6, 0, 0, 0, 0, 8, 0x80, 0x42, 0, 0x31, 0x80, 0x42, 0, 0x32},
        {0x40, 0, 2, 0x12, 0, 0, 0, 16, 0, 0, 0, 3, 0, 0, 0, 2, 'i', 'n', 0, 0, 0, 1, 1, 0, 0, 0},
        {0, 0, 1, 0x10, '2', '0', '2', '6', '0', '1', '0', '1'},
    };
    int n = 0;
    for (const auto& seed : seeds)
        std::ofstream(std::string(folder) + "/seed" + std::to_string(n++), std::ios::binary)
            .write(reinterpret_cast<const char*>(seed.data()), static_cast<std::streamsize>(seed.size()));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    if (const char* folder = std::getenv("QVK_FUZZ_WRITE_SEEDS")) {
        WriteSeeds(folder);
        std::exit(0);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0 || size > 0xFFFF) return 0;
    PKCS11Attribute* one = nullptr;
    CK_ULONG used = 0;
    if (DeserializeAttribute(data, size, &one, &used) == CKR_OK) {
        if (used == 0 || used > size) std::abort();
        CK_ULONG length = 0;
        one->Serialize(nullptr, &length);
        one->Release();
    }
    CK_ATTRIBUTE* entries = nullptr;
    CK_ULONG count = 0;
    if (ParseSerializedTemplate(data, size, &entries, &count) != CKR_OK) return 0;
    PKCS11Template* t = nullptr;
    if (CreateTemplateFromArray(entries, count, &t) == CKR_OK) {
        CK_ULONG length = 0;
        if (t->Serialize(nullptr, &length) == CKR_OK) {
            std::vector<std::uint8_t> again(length);
            t->Serialize(again.data(), &length);
        }
        t->Matches(entries, count);
        t->Release();
    }
    FreeCkAttributeArray(entries, count);
    return 0;
}
