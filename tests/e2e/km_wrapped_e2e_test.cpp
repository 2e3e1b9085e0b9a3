// A key container too large for the key's data record, stored through the
// dlopen'ed key-media library in its wrapped form and read back, expanded,
// by another process; the container is built and checked through the PKI
// formats library the way any outside program would use it.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "E2EProcess.h"
#include "KeyRig.h"
#include "keymedia/KMDevice.h"
#include "support/CSPParameters.h"
#include "support/PKIInterface.h"

#ifndef QVK_PKFMT_DIR
#error "the PKI formats stand-in is needed"
#endif

namespace qvk::e2e {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr uint32_t kSerial = 100001;
constexpr char kPassword[] = "12345678";
const char kFullKey[] = "\xEA\xE2\xEE\xF0 \xD2\xC2\xD0 \xCA\xEE\xF0\xE2\xEE-7\xD4";

// The PKI formats library of this process (the key-media library loads the
// same file by its bare name).
class Formats {
public:
    Formats()
    {
        handle_ = dlopen(QVK_PKFMT_DIR "/pkfmt.so", RTLD_NOW | RTLD_LOCAL);
        if (handle_ == nullptr) return;
        auto init = reinterpret_cast<int (*)()>(dlsym(handle_, "PKIInitialize"));
        auto get = reinterpret_cast<int (*)(void**)>(dlsym(handle_, "PKIGetInterface"));
        void* pki = nullptr;
        if (init != nullptr && get != nullptr && init() == 0 && get(&pki) == 0) pki_ = static_cast<IPKIInterface*>(pki);
    }
    ~Formats()
    {
        if (handle_ == nullptr) return;
        if (auto fini = reinterpret_cast<int (*)()>(dlsym(handle_, "PKIFinalize")); fini != nullptr && pki_ != nullptr)
            fini();
        dlclose(handle_);
    }
    IPKIInterface* operator->() const { return pki_; }
    explicit operator bool() const { return pki_ != nullptr; }

    Bytes Take(PKIBlob& blob) const
    {
        Bytes out(blob.data, blob.data + blob.length);
        pki_->FreeBlob(&blob);
        return out;
    }

private:
    void* handle_ = nullptr;
    IPKIInterface* pki_ = nullptr;
};

// One reference to a PKI object.
template <class T>
class Ref {
public:
    Ref() = default;
    ~Ref()
    {
        if (raw_ != nullptr) static_cast<IPKIObject*>(raw_)->Release();
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    void** out() { return &raw_; }
    T* operator->() const { return static_cast<T*>(raw_); }
    IPKIObject* obj() const { return static_cast<IPKIObject*>(raw_); }

private:
    void* raw_ = nullptr;
};

Bytes KeyValue(unsigned seed, unsigned bits)
{
    Bytes v((bits + 7) / 8);
    for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<uint8_t>(seed * 41 + i * 3 + 1);
    return v;
}

// A protected container of keys over the ten polynomial-basis standard
// curves, several rounds of them; explicit parameters make it large.
Bytes BuildContainer(const Formats& pki, unsigned rounds, std::vector<Bytes>* values)
{
    CSPParameters parameters;
    GOST28147PackedSBox sBox;
    parameters.GetStandardSBox(0, &sBox);
    Ref<IPKIKeyContainer> container;
    Ref<IPKIEntryList> list;
    EXPECT_EQ(pki->CreateObject(PKI_CLASS_KEY_CONTAINER, PKI_IID_KEY_CONTAINER, container.out()), PKI_OK);
    EXPECT_EQ(pki->CreateObject(PKI_CLASS_ENTRY_LIST, PKI_IID_ENTRY_LIST, list.out()), PKI_OK);
    for (unsigned round = 0; round < rounds; ++round) {
        for (unsigned curve = 0; curve < 10; ++curve) {
            DSTU4145FieldRecord field{};
            DSTU4145PointRecord point{};
            EXPECT_NE(parameters.GetStandardCurve(1, curve, &field, &point), 0);
            Ref<IPKIParameters> explicitParameters;
            EXPECT_EQ(
                pki->CreateObject(PKI_CLASS_DSTU4145_PARAMETERS, PKI_IID_DSTU4145_PARAMETERS, explicitParameters.out()),
                PKI_OK);
            EXPECT_EQ(explicitParameters->SetExplicit(&field, &point, reinterpret_cast<const uint8_t*>(&sBox)), PKI_OK);
            Bytes value = KeyValue(round * 10 + curve, field.words[DSTU4145_FIELD_M]);
            PKIBlob blob{static_cast<uint32_t>(value.size()), value.data()};
            Ref<IPKIKey> key;
            EXPECT_EQ(pki->CreateObject(PKI_CLASS_KEY, PKI_IID_KEY, key.out()), PKI_OK);
            EXPECT_EQ(key->SetKeyValue(&blob, explicitParameters.obj()), PKI_OK);
            Ref<IPKIPrivateKey> entry;
            EXPECT_EQ(pki->CreateObject(PKI_CLASS_PRIVATE_KEY, PKI_IID_PRIVATE_KEY, entry.out()), PKI_OK);
            EXPECT_EQ(entry->SetKey(key.obj(), kPassword), PKI_OK);
            EXPECT_EQ(list->AddEntry(entry.obj(), nullptr), PKI_OK);
            values->push_back(value);
        }
    }
    EXPECT_EQ(container->AddItem(list.obj()), PKI_OK);
    EXPECT_EQ(container->SetPassword(PKI_PROTECT_WITH_PASSWORD, kPassword), PKI_OK);
    PKIBlob out{0, nullptr};
    EXPECT_EQ(container->Encode(&out), PKI_OK);
    return pki.Take(out);
}

// The key values of a container opened with the password; empty when it
// does not decode, does not open or a key does not open.
std::vector<Bytes> OpenContainer(const Formats& pki, const Bytes& data, const char* password)
{
    std::vector<Bytes> out;
    Ref<IPKIKeyContainer> container;
    if (pki->CreateObject(PKI_CLASS_KEY_CONTAINER, PKI_IID_KEY_CONTAINER, container.out()) != PKI_OK) return {};
    PKIBlob in{static_cast<uint32_t>(data.size()), const_cast<uint8_t*>(data.data())};
    if (container->Decode(&in) != PKI_OK || container->CheckPassword(password) != PKI_OK) return {};
    uint32_t items = 0;
    container->GetItemCount(&items);
    for (uint32_t i = 0; i < items; ++i) {
        Ref<IPKIEntryList> list;
        if (container->GetItem(i, list.out()) != PKI_OK) return {};
        uint32_t entries = 0;
        list->GetEntryCount(&entries);
        for (uint32_t e = 0; e < entries; ++e) {
            Ref<IPKIPrivateKey> entry;
            Ref<IPKIKey> key;
            Ref<IPKIParameters> parameters;
            PKIBlob value{0, nullptr};
            if (list->GetEntry(e, entry.out(), nullptr) != PKI_OK || entry->Open(password, key.out()) != PKI_OK ||
                key->GetKeyValue(&value, parameters.out()) != PKI_OK)
                return {};
            out.push_back(pki.Take(value));
        }
    }
    return out;
}

struct KeyMedia {
    KeyMedia() : handle(dlopen(QVK_KM_LIBRARY, RTLD_NOW | RTLD_LOCAL))
    {
        if (handle == nullptr) return;
        getInterface = reinterpret_cast<KMGetInterfaceFunction>(dlsym(handle, "KMGetInterface"));
        finalize = reinterpret_cast<KMFinalizeFunction>(dlsym(handle, "KMFinalize"));
    }
    ~KeyMedia()
    {
        if (finalize != nullptr) finalize();
        if (handle != nullptr) dlclose(handle);
    }
    void* handle;
    KMGetInterfaceFunction getInterface = nullptr;
    KMFinalizeFunction finalize = nullptr;
};

class KMWrappedE2ETest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string prefix = "qvkkmwe2e" + std::to_string(getpid()) + "_";
        setenv("WEMU_NAME_PREFIX", prefix.c_str(), 1);
        // The key-media library loads pkfmt.so by its bare name.
        ASSERT_EQ(chdir(QVK_PKFMT_DIR), 0);
    }
};

TEST_F(KMWrappedE2ETest, AContainerAboveTheRecordPlaceIsWrappedAndReadBackElsewhere)
{
    KeyRig rig({RigKey(kSerial)});
    Formats pki;
    ASSERT_TRUE(pki);
    std::vector<Bytes> values;
    const Bytes container = BuildContainer(pki, 2, &values);
    ASSERT_GT(container.size(), 3068u) << "the container must need wrapping";
    ASSERT_FALSE(OpenContainer(pki, container, kPassword).empty());
    {
        KeyMedia km;
        ASSERT_NE(km.getInterface, nullptr);
        IKMQuorKorvo7Q* d = km.getInterface(kFullKey);
        std::string serial = std::to_string(kSerial), password = kPassword;
        ASSERT_EQ(d->Open(serial.data(), password.data(), 0), KM_OK);
        ASSERT_EQ(d->WriteRecord(nullptr, 5, container.data(), static_cast<unsigned>(container.size())), KM_OK);
        int header = -1;
        EXPECT_EQ(d->GetRecordHeader(nullptr, 0, &header), KM_OK);
        EXPECT_EQ(header, 5);
        EXPECT_EQ(d->Close(nullptr), KM_OK);
        d->Release();
    }
    EXPECT_EQ(RunChild([&] {
                  KeyMedia km;
                  Formats reader;
                  if (km.getInterface == nullptr || !reader) return 1;
                  IKMQuorKorvo7Q* d = km.getInterface(kFullKey);
                  std::string serial = std::to_string(kSerial), password = kPassword;
                  if (d->Open(serial.data(), password.data(), 0) != KM_OK) return 2;
                  Bytes buffer(4096);
                  unsigned length = 0;
                  const int r = d->ReadRecord(nullptr, 5, buffer.data(), &length);
                  d->Close(nullptr);
                  d->Release();
                  if (r != KM_OK || length == 0 || length > buffer.size()) return 3;
                  buffer.resize(length);
                  if (OpenContainer(reader, buffer, "wrong password").size() != 0) return 4;
                  return OpenContainer(reader, buffer, kPassword) == values ? 0 : 5;
              }),
              0);
}

}  // namespace
}  // namespace qvk::e2e
