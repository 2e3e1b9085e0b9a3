// Storage areas read from a key: the object records of an area and each
// record's attributes rebuilt into an object, which must serialise again
// without fault. With QVK_FUZZ_WRITE_SEEDS set, writes its seed corpus
// (real areas made by the module's own serialiser) there and exits.
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "pkcs11/PKCS11Object.h"
#include "pkcs11/PKCS11TokenStorage.h"

namespace {

std::vector<std::uint8_t> RecordOf(PKCS11Object* object)
{
    CK_ULONG length = 0;
    object->Serialize(nullptr, &length);
    std::vector<std::uint8_t> record(6 + length);
    record[0] = 0x1F;
    record[1] = 0xFF;
    for (int i = 0; i < 4; ++i) record[2 + i] = static_cast<std::uint8_t>(length >> (24 - 8 * i));
    object->Serialize(record.data() + 6, &length);
    return record;
}

void WriteSeeds(const char* folder)
{
    CK_OBJECT_CLASS data = CKO_DATA, priv = CKO_PRIVATE_KEY;
    CK_KEY_TYPE dstu = CKK_DSTU4145;
    CK_BBOOL yes = CK_TRUE;
    CK_ULONG mechanisms[2] = {CKM_DSTU4145, CKM_DSTU4145_GOST34311};
    CK_ATTRIBUTE nested[] = {{CKA_LABEL, (void*)"in", 2}, {CKA_TOKEN, &yes, 1}};
    CK_ATTRIBUTE a[] = {{CKA_CLASS, &data, sizeof(data)}, {CKA_LABEL, (void*)"label", 5}, {CKA_VALUE, (void*)"v", 1}};
    CK_ATTRIBUTE b[] = {{CKA_CLASS, &priv, sizeof(priv)},
                        {CKA_KEY_TYPE, &dstu, sizeof(dstu)},
                        {CKA_TOKEN, &yes, 1},
                        {CKA_ALLOWED_MECHANISMS, mechanisms, sizeof(mechanisms)},
                        {CKA_UNWRAP_TEMPLATE, nested, sizeof(nested)},
                        {CKA_START_DATE, (void*)"20260101", 8}};
    std::vector<std::uint8_t> area;
    int n = 0;
    for (auto [entries, count] : {std::pair{a, 3ul}, std::pair{b, 6ul}}) {
        PKCS11ObjectPtr object;
        if (CreateObjectFromTemplate(entries, count, true, object.Address()) != CKR_OK) continue;
        const std::vector<std::uint8_t> record = RecordOf(object.Get());
        area.insert(area.end(), record.begin(), record.end());
        std::ofstream(std::string(folder) + "/seed" + std::to_string(n++), std::ios::binary)
            .write(reinterpret_cast<const char*>(record.data()), static_cast<std::streamsize>(record.size()));
    }
    std::ofstream(std::string(folder) + "/area", std::ios::binary)
        .write(reinterpret_cast<const char*>(area.data()), static_cast<std::streamsize>(area.size()));
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
    if (size > 0xFFFF) return 0;
    std::vector<ObjectRecordSpan> spans;
    if (SplitObjectRecords(data, static_cast<std::uint32_t>(size), 0, &spans) != CKR_OK) return 0;
    for (const ObjectRecordSpan& span : spans) {
        if (span.offset + span.length > size || span.length < OBJECT_RECORD_HEADER_BYTES) std::abort();
        PKCS11ObjectPtr object;
        if (CreateObjectFromStoredForm(data + span.offset + OBJECT_RECORD_HEADER_BYTES,
                                       span.length - OBJECT_RECORD_HEADER_BYTES, object.Address()) != CKR_OK)
            continue;
        CK_ULONG length = 0;
        if (object->Serialize(nullptr, &length) != CKR_OK) continue;
        std::vector<std::uint8_t> again(length);
        if (object->Serialize(again.data(), &length) != CKR_OK) continue;
        // What was rebuilt must rebuild again.
        PKCS11ObjectPtr twice;
        if (CreateObjectFromStoredForm(again.data(), again.size(), twice.Address()) != CKR_OK) std::abort();
    }
    return 0;
}
