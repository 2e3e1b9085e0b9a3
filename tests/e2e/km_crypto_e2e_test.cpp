// The key-media library's on-key crypto objects and key containers as a
// consumer sees them: km.qvk7q.so loaded with dlopen, the emulated key behind
// a real pcscd, the PKI formats stand-in found next to the test's working
// directory.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "KeyRig.h"
#include "dstu4145/DSTU4145.h"
#include "keymedia/KMDevice.h"
#include "support/ICSPHardware.h"
#include "support/PKIInterface.h"

namespace qvk::e2e {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kSerialNumber = 424242;
constexpr char kSerial[] = "424242";
constexpr char kPassword[] = "12345678";
constexpr char kContainerPassword[] = "Rb8qNw2Xv$5hTm0kLp<3Zc7YeJ4uFa9sGd1WoK6i";
const char kFullKeyName[] = "\xea\xe2\xee\xf0 \xd2\xc2\xd0 \xca\xee\xf0\xe2\xee-7\xd4";

// The library as a consumer loads it.
struct Library {
    void* handle = nullptr;
    KMGetInterfaceFunction getInterface = nullptr;
    KMFinalizeFunction finalize = nullptr;

    bool Load()
    {
        handle = dlopen(QVK_KM_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) return false;
        getInterface = reinterpret_cast<KMGetInterfaceFunction>(dlsym(handle, "KMGetInterface"));
        finalize = reinterpret_cast<KMFinalizeFunction>(dlsym(handle, "KMFinalize"));
        return getInterface != nullptr && finalize != nullptr;
    }
    void Unload()
    {
        if (handle == nullptr) return;
        finalize();
        dlclose(handle);
        handle = nullptr;
    }
    ~Library() { Unload(); }
};

// The formats library, asked directly for curves and containers (the same
// pkfmt.so the key-media library loads).
struct Formats {
    void* handle = nullptr;
    IPKIInterface* pki = nullptr;

    bool Load()
    {
        handle = dlopen("./pkfmt.so", RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) return false;
        auto init = reinterpret_cast<int (*)()>(dlsym(handle, "PKIInitialize"));
        auto get = reinterpret_cast<int (*)(void**)>(dlsym(handle, "PKIGetInterface"));
        void* raw = nullptr;
        if (init == nullptr || get == nullptr || init() != 0 || get(&raw) != 0) return false;
        pki = static_cast<IPKIInterface*>(raw);
        return pki != nullptr;
    }
    ~Formats()
    {
        if (handle != nullptr) {
            if (auto fin = reinterpret_cast<int (*)()>(dlsym(handle, "PKIFinalize"))) fin();
            dlclose(handle);
        }
    }

    template <class T>
    T* Make(std::uint32_t classId, std::uint32_t interfaceId)
    {
        void* object = nullptr;
        EXPECT_EQ(pki->CreateObject(classId, interfaceId, &object), PKI_OK);
        return static_cast<T*>(object);
    }
    Bytes Take(PKIBlob& blob)
    {
        Bytes out(blob.data, blob.data + blob.length);
        pki->FreeBlob(&blob);
        return out;
    }

    void StandardCurve(unsigned index, DSTU4145FieldRecord* field, DSTU4145PointRecord* point)
    {
        auto* p = Make<IPKIParameters>(PKI_CLASS_DSTU4145_PARAMETERS, PKI_IID_DSTU4145_PARAMETERS);
        ASSERT_EQ(p->SetStandard(1, index, nullptr), PKI_OK);
        ASSERT_EQ(p->GetParameters(field, point, nullptr), PKI_OK);
        p->Release();
    }

    // A container of `count` keys on explicit standard curves, entries and
    // container under `password`.
    Bytes Container(unsigned count, const char* password)
    {
        auto* container = Make<IPKIKeyContainer>(PKI_CLASS_KEY_CONTAINER, PKI_IID_KEY_CONTAINER);
        auto* list = Make<IPKIEntryList>(PKI_CLASS_ENTRY_LIST, PKI_IID_ENTRY_LIST);
        for (unsigned i = 0; i < count; ++i) {
            DSTU4145FieldRecord field;
            DSTU4145PointRecord point;
            StandardCurve(i % 10, &field, &point);
            auto* parameters = Make<IPKIParameters>(PKI_CLASS_DSTU4145_PARAMETERS, PKI_IID_DSTU4145_PARAMETERS);
            EXPECT_EQ(parameters->SetExplicit(&field, &point, nullptr), PKI_OK);
            Bytes value((field.words[DSTU4145_FIELD_M] + 7) / 8, static_cast<std::uint8_t>(i + 1));
            PKIBlob v{static_cast<std::uint32_t>(value.size()), value.data()};
            auto* key = Make<IPKIKey>(PKI_CLASS_KEY, PKI_IID_KEY);
            EXPECT_EQ(key->SetKeyValue(&v, parameters), PKI_OK);
            auto* entry = Make<IPKIPrivateKey>(PKI_CLASS_PRIVATE_KEY, PKI_IID_PRIVATE_KEY);
            EXPECT_EQ(entry->SetKey(key, password), PKI_OK);
            EXPECT_EQ(list->AddEntry(entry, nullptr), PKI_OK);
            entry->Release();
            key->Release();
            parameters->Release();
        }
        EXPECT_EQ(container->AddItem(list), PKI_OK);
        EXPECT_EQ(container->SetPassword(PKI_PROTECT_WITH_PASSWORD, password), PKI_OK);
        PKIBlob out{0, nullptr};
        EXPECT_EQ(container->Encode(&out), PKI_OK);
        list->Release();
        container->Release();
        return Take(out);
    }

    // Key values of a container whose entries open with `password`; empty
    // when the container does not decode or an entry does not open.
    std::vector<Bytes> KeyValues(const Bytes& data, const char* password)
    {
        std::vector<Bytes> values;
        auto* container = Make<IPKIKeyContainer>(PKI_CLASS_KEY_CONTAINER, PKI_IID_KEY_CONTAINER);
        PKIBlob in{static_cast<std::uint32_t>(data.size()), const_cast<std::uint8_t*>(data.data())};
        std::uint32_t items = 0;
        bool ok = container->Decode(&in) == PKI_OK && container->CheckPassword(password) == PKI_OK &&
                  container->GetItemCount(&items) == PKI_OK;
        for (std::uint32_t i = 0; ok && i < items; ++i) {
            void* raw = nullptr;
            ok = container->GetItem(i, &raw) == PKI_OK;
            auto* list = static_cast<IPKIEntryList*>(raw);
            std::uint32_t entries = 0;
            ok = ok && list->GetEntryCount(&entries) == PKI_OK;
            for (std::uint32_t e = 0; ok && e < entries; ++e) {
                void* entry = nullptr;
                void* key = nullptr;
                ok = list->GetEntry(e, &entry, nullptr) == PKI_OK &&
                     static_cast<IPKIPrivateKey*>(entry)->Open(password, &key) == PKI_OK;
                if (ok) {
                    PKIBlob value{0, nullptr};
                    void* parameters = nullptr;
                    ok = static_cast<IPKIKey*>(key)->GetKeyValue(&value, &parameters) == PKI_OK;
                    if (ok) {
                        values.push_back(Take(value));
                        static_cast<IPKIParameters*>(parameters)->Release();
                    }
                }
                if (key != nullptr) static_cast<IPKIKey*>(key)->Release();
                if (entry != nullptr) static_cast<IPKIPrivateKey*>(entry)->Release();
            }
            if (list != nullptr) list->Release();
        }
        container->Release();
        return ok ? values : std::vector<Bytes>{};
    }
};

class KMCryptoE2ETest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string prefix = "qvkkmcre2e" + std::to_string(getpid()) + "_";
        setenv("WEMU_NAME_PREFIX", prefix.c_str(), 1);
        ASSERT_NE(getcwd(oldDirectory_, sizeof oldDirectory_), nullptr);
        ASSERT_EQ(chdir(QVK_PKFMT_DIR), 0);
        rig_ = std::make_unique<KeyRig>(std::vector<RigKey>{RigKey(kSerialNumber, 18, kPassword)});
        ASSERT_TRUE(library_.Load()) << dlerror();
        ASSERT_TRUE(formats_.Load());
    }
    void TearDown() override
    {
        library_.Unload();
        rig_.reset();
        ASSERT_EQ(chdir(oldDirectory_), 0);
    }

    IKMQuorKorvo7Q* OpenDevice()
    {
        IKMQuorKorvo7Q* device = library_.getInterface(kFullKeyName);
        EXPECT_NE(device, nullptr);
        if (device == nullptr) return nullptr;
        std::string serial = kSerial, password = kPassword;
        EXPECT_EQ(device->Open(serial.data(), password.data(), 0), KM_OK);
        return device;
    }

    static Bytes ReadRecord(IKMQuorKorvo7Q* device, unsigned type, int* result)
    {
        Bytes buffer(4096);
        unsigned length = 0;
        *result = device->ReadRecord(nullptr, type, buffer.data(), &length);
        buffer.resize(*result == KM_OK ? length : 0);
        return buffer;
    }

    char oldDirectory_[PATH_MAX] = {};
    std::unique_ptr<KeyRig> rig_;
    Library library_;
    Formats formats_;
};

TEST_F(KMCryptoE2ETest, HardwareObjectsSignOnTheKeyAndSurviveCloseAndOpen)
{
    IKMQuorKorvo7Q* device = OpenDevice();
    ASSERT_NE(device, nullptr);
    void* objects[2] = {nullptr, nullptr};
    ASSERT_EQ(device->GetInfo(nullptr, nullptr, objects), KM_OK);
    auto* hardware = static_cast<ICSPHardware*>(objects[0]);
    auto* random = static_cast<ICSPHardwareRNG*>(objects[1]);

    for (std::uint32_t length : {1u, 63u, 64u, 1000u}) {
        Bytes buffer(length + 8, 0xA5);
        ASSERT_EQ(random->GenerateRandom(buffer.data(), length), 1) << length;
        EXPECT_EQ(Bytes(buffer.end() - 8, buffer.end()), Bytes(8, 0xA5)) << length;
    }

    DSTU4145FieldRecord field;
    DSTU4145PointRecord point;
    formats_.StandardCurve(0, &field, &point);
    const std::uint32_t keyBytes = (field.words[DSTU4145_FIELD_M] + 7) / 8;
    std::uint8_t publicKey[76];
    ASSERT_EQ(hardware->GenerateSignatureKeyPair(&field, &point, publicKey), 1);

    DSTU4145FieldRecord askedField{};
    DSTU4145PointRecord askedPoint{};
    std::uint8_t queried[76];
    ASSERT_EQ(hardware->QuerySignaturePublicKey(&askedField, &askedPoint, queried), 1);
    EXPECT_EQ(std::memcmp(queried, publicKey, sizeof queried), 0);
    EXPECT_EQ(std::memcmp(&askedField, &field, sizeof field), 0);
    EXPECT_EQ(hardware->CheckSignaturePublicKey(&field, nullptr, publicKey), 1);

    std::uint8_t hash[32];
    for (int i = 0; i < 32; ++i) hash[i] = static_cast<std::uint8_t>(i * 13 + 5);
    std::uint8_t signature[144] = {};
    ASSERT_EQ(hardware->SignHash(&field, nullptr, hash, signature), 1);
    dstu4145::Curve curve;
    ASSERT_EQ(dstu4145::CurveFromRecords(field.words, point.words, curve), dstu4145::Result::Ok);
    auto engine = dstu4145::Engine::Create(curve);
    ASSERT_NE(engine, nullptr);
    EXPECT_EQ(engine->Verify(dstu4145::ByteSpan(hash, 32), dstu4145::ByteSpan(publicKey, keyBytes),
                             dstu4145::ByteSpan(signature, sizeof signature)),
              dstu4145::Result::Ok);

    // After Close the objects refuse; after Open they work again.
    ASSERT_EQ(device->Close(nullptr), KM_OK);
    std::uint8_t buffer[32];
    EXPECT_EQ(random->GenerateRandom(buffer, sizeof buffer), 0);
    EXPECT_EQ(hardware->SignHash(&field, nullptr, hash, signature), 0);
    std::string serial = kSerial, password = kPassword;
    ASSERT_EQ(device->Open(serial.data(), password.data(), 0), KM_OK);
    EXPECT_EQ(random->GenerateRandom(buffer, sizeof buffer), 1);
    EXPECT_EQ(hardware->SignHash(&field, nullptr, hash, signature), 1);
    device->Close(nullptr);
    device->Release();
}

TEST_F(KMCryptoE2ETest, ContainersWrappedOnTheKeyReadBackAfterAReloadAndSynthesisedAfterErase)
{
    IKMQuorKorvo7Q* device = OpenDevice();
    ASSERT_NE(device, nullptr);
    Bytes large = formats_.Container(24, kPassword);
    ASSERT_GT(large.size(), 3068u);
    ASSERT_EQ(device->WriteRecord(nullptr, 5, large.data(), static_cast<unsigned>(large.size())), KM_OK);
    device->Close(nullptr);
    device->Release();

    library_.Unload();
    ASSERT_TRUE(library_.Load());
    device = OpenDevice();
    ASSERT_NE(device, nullptr);
    int result = -1;
    Bytes back = ReadRecord(device, 5, &result);
    ASSERT_EQ(result, KM_OK);
    std::vector<Bytes> values = formats_.KeyValues(back, kPassword);
    ASSERT_EQ(values.size(), 24u);
    EXPECT_EQ(values, formats_.KeyValues(large, kPassword));

    // After erasing: a container standing for the signature key on the key.
    ASSERT_EQ(device->Erase(nullptr), KM_OK);
    void* objects[2] = {nullptr, nullptr};
    ASSERT_EQ(device->GetInfo(nullptr, nullptr, objects), KM_OK);
    DSTU4145FieldRecord field;
    DSTU4145PointRecord point;
    formats_.StandardCurve(0, &field, &point);
    std::uint8_t publicKey[76];
    ASSERT_EQ(static_cast<ICSPHardware*>(objects[0])->GenerateSignatureKeyPair(&field, &point, publicKey), 1);
    Bytes synthesised = ReadRecord(device, 6, &result);
    ASSERT_EQ(result, KM_OK);
    values = formats_.KeyValues(synthesised, kContainerPassword);
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(values[0], Bytes(publicKey, publicKey + 21));
    EXPECT_TRUE(formats_.KeyValues(synthesised, kPassword).empty());
    device->Close(nullptr);
    device->Release();
}

}  // namespace
}  // namespace qvk::e2e
