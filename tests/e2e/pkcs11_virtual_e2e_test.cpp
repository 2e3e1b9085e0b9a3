// The in-memory storage variant against an emulated key behind a real pcscd:
// the images it serves, the write it refuses before they exist, the key's
// own records, which image changes must never reach, and key changes that
// reach the key's areas without losing what the plain driver (checked
// through the built module) or the key-media library (checked through the
// built library) keeps there.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "E2EProcess.h"
#include "KeyRig.h"
#include "Pkcs11Module.h"
#include "crypto/ByteOrder.h"
#include "device/DeviceProtocol.h"
#include "keymedia/KMDevice.h"
#include "pkcs11/PKCS11DSTU4145.h"
#include "pkcs11/PKCS11ECPoint.h"
#include "pkcs11/PKCS11Library.h"
#include "pkcs11/PKCS11Object.h"
#include "pkcs11/PKCS11PKI.h"
#include "pkcs11/PKCS11TokenStorage.h"
#include "pkcs11driver/PKCS11Driver.h"
#include "pkcs11driver/PKCS11VirtualQuorKorvo7Q.h"

namespace qvk::e2e {
namespace {

using qvkcrypto::LoadLE32;

using Bytes = std::vector<std::uint8_t>;

Bytes ReadArea(PKCS11Device& device, CK_BYTE area)
{
    std::uint8_t* image = nullptr;
    std::uint32_t length = 0;
    EXPECT_EQ(device.ReadStorageArea(area, &image, &length), CKR_OK);
    Bytes out(image, image + length);
    delete[] image;
    return out;
}

class Pkcs11VirtualE2E : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("WEMU_NAME_PREFIX", ("qvkp11virt" + std::to_string(getpid())).c_str(), 1);
        rig_ = std::make_unique<KeyRig>(std::vector<RigKey>{RigKey(4321)});
        ASSERT_EQ(EnumerateKeySerials(0), CKR_OK);
    }
    void TearDown() override
    {
        rig_.reset();
        CloseSharedMemory();
        unsetenv("WEMU_NAME_PREFIX");
    }
    std::unique_ptr<KeyRig> rig_;
};

TEST_F(Pkcs11VirtualE2E, ServesImagesAndLeavesTheKeysRecordsAlone)
{
    // A key formatted for the key-media library: its certificate record at
    // block 1 of the public area, written by the plain driver.
    Bytes keyMedia(64, 0xFF);
    keyMedia[32] = 17;
    keyMedia[33] = 0;
    keyMedia[34] = 28;
    keyMedia[35] = 0;
    for (int i = 36; i < 64; ++i) keyMedia[i] = static_cast<std::uint8_t>(i);
    {
        PKCS11QuorKorvo7Q plain;
        ASSERT_EQ(plain.Open(0), CKR_OK);
        ASSERT_EQ(plain.Login("12345678", 8), CKR_OK);
        ASSERT_EQ(plain.WriteStorageArea(0, keyMedia.data(), keyMedia.size()), CKR_OK);
        ASSERT_EQ(plain.Close(), CKR_OK);
    }

    PKCS11VirtualQuorKorvo7Q virt;
    ASSERT_EQ(virt.Open(0), CKR_OK);
    std::uint32_t real = 0;
    std::uint32_t capacity = 0;
    ASSERT_EQ(virt.PKCS11QuorKorvo7Q::GetAreaCapacity(0, &real), CKR_OK);
    ASSERT_EQ(virt.GetAreaCapacity(0, &capacity), CKR_OK);
    EXPECT_EQ(capacity, real + 4096);
    std::uint32_t length = 0;
    ASSERT_EQ(virt.ReadStorageArea(1, nullptr, &length), CKR_OK);
    EXPECT_EQ(length, 3072u);

    // The certificate record is too short for the conversion that reads it.
    std::vector<std::uint8_t> certificate;
    EXPECT_EQ(virt.CertificateFromRecord(CKK_DSTU4145, 0, &certificate), CKR_DEVICE_MEMORY);

    // Before any read there are no images: the write is refused.
    const Bytes junk(40, 0xAB);
    EXPECT_NE(virt.WriteStorageArea(1, junk.data(), junk.size()), CKR_OK);
    EXPECT_FALSE(virt.HasImages());

    // The first read builds a fresh token labelled with the serial number.
    const Bytes pub = ReadArea(virt, 0);
    EXPECT_FALSE(virt.KeyHoldsToken());
    const std::uint32_t recordSize = virt.GetTokenRecordSize();
    ASSERT_EQ(pub.size(), recordSize + 2);
    EXPECT_EQ(pub[0], 0x3F);
    EXPECT_EQ(pub[1], 0xFF);
    EXPECT_EQ(pub[2], 1);
    std::string label(reinterpret_cast<const char*>(pub.data() + 2 + TOKEN_RECORD_LABEL), 32);
    EXPECT_EQ(label, "004321" + std::string(26, ' '));
    EXPECT_NE(LoadLE32(pub.data() + 2 + TOKEN_RECORD_FLAGS) & CKF_USER_PIN_INITIALIZED, 0u);
    EXPECT_EQ(LoadLE32(pub.data() + 2 + 42), capacity - recordSize - 2);
    EXPECT_EQ(LoadLE32(pub.data() + 2 + 38), 3072u);
    EXPECT_TRUE(ReadArea(virt, 1).empty());

    // Writes and erasures change the images only.
    ASSERT_EQ(virt.WriteStorageArea(1, junk.data(), junk.size()), CKR_OK);
    EXPECT_EQ(ReadArea(virt, 1), junk);
    Bytes tooLong(3073, 1);
    EXPECT_EQ(virt.WriteStorageArea(1, tooLong.data(), tooLong.size()), CKR_DEVICE_MEMORY);
    EXPECT_EQ(ReadArea(virt, 1), junk);
    ASSERT_EQ(virt.EraseStorageArea(0), CKR_OK);
    EXPECT_TRUE(ReadArea(virt, 0).empty());

    // After ReleaseOthers the next read rebuilds both images from the key.
    ASSERT_EQ(virt.ReleaseOthers(), CKR_OK);
    EXPECT_FALSE(virt.HasImages());
    EXPECT_EQ(ReadArea(virt, 0), pub);
    EXPECT_TRUE(ReadArea(virt, 1).empty());

    std::uint32_t number = 0;
    EXPECT_EQ(virt.GetPrivateKeyNumber(CKK_DSTU4145, 1, &number), CKR_OK);
    EXPECT_EQ(number, 1u);
    EXPECT_EQ(virt.GetPrivateKeyNumber(CKK_DSTU4145, 0, &number), CKR_OK);
    EXPECT_EQ(number, 2u);
    EXPECT_EQ(virt.GetPrivateKeyNumber(CKK_RSA, 0, &number), CKR_FUNCTION_NOT_SUPPORTED);
    ASSERT_EQ(virt.Close(), CKR_OK);

    // The key's own record survived every image change.
    PKCS11QuorKorvo7Q plain;
    ASSERT_EQ(plain.Open(0), CKR_OK);
    std::uint8_t* image = nullptr;
    ASSERT_EQ(plain.ReadStorageArea(0, &image, &length), CKR_OK);
    std::unique_ptr<std::uint8_t[]> owned(image);
    ASSERT_GE(length, 64u);
    EXPECT_EQ(Bytes(image + 32, image + 64), Bytes(keyMedia.begin() + 32, keyMedia.end()));
    ASSERT_EQ(plain.Close(), CKR_OK);
}

TEST(Pkcs11VirtualContainerRecord, ReplacesOnlyAContainerOrAnEmptyArea)
{
    const Bytes container = {0x30, 0x03, 0x02, 0x01, 0x07};
    const Bytes expected = {6, 0, 5, 0, 0x30, 0x03, 0x02, 0x01, 0x07};
    const Bytes empty(32, 0xFF);
    const Bytes oldContainer = {6, 0, 2, 0, 0xAA, 0xBB};
    const Bytes otherRecord = {3, 0, 2, 0, 0xAA, 0xBB};
    Bytes out;
    EXPECT_EQ(PKCS11VirtualQuorKorvo7Q::MergeContainerRecord(nullptr, 0, container.data(), 5, &out), CKR_OK);
    EXPECT_EQ(out, expected);
    EXPECT_EQ(PKCS11VirtualQuorKorvo7Q::MergeContainerRecord(empty.data(), 32, container.data(), 5, &out), CKR_OK);
    EXPECT_EQ(out, expected);
    EXPECT_EQ(PKCS11VirtualQuorKorvo7Q::MergeContainerRecord(oldContainer.data(), 6, container.data(), 5, &out),
              CKR_OK);
    EXPECT_EQ(out, expected);
    out.clear();
    EXPECT_EQ(PKCS11VirtualQuorKorvo7Q::MergeContainerRecord(otherRecord.data(), 6, container.data(), 5, &out),
              CKR_DEVICE_MEMORY);
    EXPECT_TRUE(out.empty());
    const Bytes big(3069, 1);
    EXPECT_EQ(PKCS11VirtualQuorKorvo7Q::MergeContainerRecord(nullptr, 0, big.data(), 3069, &out), CKR_DEVICE_MEMORY);
    EXPECT_EQ(PKCS11VirtualQuorKorvo7Q::MergeContainerRecord(nullptr, 0, big.data(), 3068, &out), CKR_OK);
}

// ---- Key changes written back to the key ----

const std::string& kPin = kRigPin;
// The module's container password, written out here rather than taken from
// the module.
const char kContainerPassword[] = "Rb8qNw2Xv$5hTm0kLp<3Zc7YeJ4uFa9sGd1WoK6i";
// The key-media library's name of the full key (Windows-1251).
const char kFullKey[] = "\xEA\xE2\xEE\xF0 \xD2\xC2\xD0 \xCA\xEE\xF0\xE2\xEE-7\xD4";
constexpr std::uint32_t kCurve = 0;

Bytes Pattern(std::size_t length, std::uint8_t seed)
{
    Bytes out(length);
    for (std::size_t i = 0; i < length; ++i) out[i] = static_cast<std::uint8_t>(seed + i * 7);
    return out;
}

// A library object of the formats stand-in, released on scope exit.
template <typename T>
struct Held {
    void* raw = nullptr;
    ~Held()
    {
        if (raw != nullptr) static_cast<T*>(raw)->Release();
    }
    T* operator->() const { return static_cast<T*>(raw); }
};

// The keys' values in a container, opened with the literal password.
std::vector<Bytes> ContainerKeyValues(const Bytes& container)
{
    std::vector<Bytes> values;
    Held<IPKIKeyContainer> store;
    Held<IPKIEntryList> entry;
    PKIBlob in{static_cast<std::uint32_t>(container.size()), const_cast<std::uint8_t*>(container.data())};
    std::uint32_t items = 0, count = 0;
    if (PKIInterface->CreateObject(PKI_CLASS_KEY_CONTAINER, PKI_IID_KEY_CONTAINER, &store.raw) != PKI_OK ||
        store->Decode(&in) != PKI_OK || store->CheckPassword(kContainerPassword) != PKI_OK ||
        store->GetItemCount(&items) != PKI_OK || items != 1 || store->GetItem(0, &entry.raw) != PKI_OK ||
        entry->GetEntryCount(&count) != PKI_OK)
        return values;
    for (std::uint32_t i = 0; i < count; ++i) {
        Held<IPKIPrivateKey> privateKey;
        Held<IPKIKey> key;
        Held<IPKIObject> parameters;
        PKIBlob value{0, nullptr};
        if (entry->GetEntry(i, &privateKey.raw, nullptr) != PKI_OK ||
            privateKey->Open(kContainerPassword, &key.raw) != PKI_OK ||
            key->GetKeyValue(&value, &parameters.raw) != PKI_OK)
            return {};
        values.emplace_back(value.data, value.data + value.length);
        PKIInterface->FreeBlob(&value);
    }
    return values;
}

// The objects of an area's records from `start` on.
std::vector<PKCS11ObjectPtr> ParseObjects(const Bytes& area, std::uint32_t start)
{
    std::vector<PKCS11ObjectPtr> objects;
    std::vector<ObjectRecordSpan> spans;
    EXPECT_EQ(SplitObjectRecords(area.data(), static_cast<std::uint32_t>(area.size()), start, &spans), CKR_OK);
    for (const ObjectRecordSpan& span : spans) {
        PKCS11ObjectPtr object;
        EXPECT_EQ(CreateObjectFromStoredForm(area.data() + span.offset + OBJECT_RECORD_HEADER_BYTES,
                                             span.length - OBJECT_RECORD_HEADER_BYTES, object.Address()),
                  CKR_OK);
        objects.push_back(std::move(object));
    }
    return objects;
}

std::string LabelOf(const PKCS11Object* object)
{
    const std::uint8_t* label = nullptr;
    CK_ULONG length = 0;
    if (object->GetBytes(CKA_LABEL, &label, &length) != CKR_OK || label == nullptr) return std::string();
    return std::string(reinterpret_cast<const char*>(label), length);
}

CK_ULONG IntegerOf(const PKCS11Object* object, CK_ATTRIBUTE_TYPE type)
{
    CK_ULONG value = ~CK_ULONG(0);
    EXPECT_EQ(object->GetInteger(type, &value), CKR_OK) << type;
    return value;
}

Bytes BytesOf(const PKCS11Object* object, CK_ATTRIBUTE_TYPE type)
{
    const std::uint8_t* value = nullptr;
    CK_ULONG length = 0;
    EXPECT_EQ(object->GetValueOf(type, &value, &length), CKR_OK) << type;
    return value == nullptr ? Bytes() : Bytes(value, value + length);
}

bool BoolOf(const PKCS11Object* object, CK_ATTRIBUTE_TYPE type)
{
    bool value = false;
    EXPECT_EQ(object->GetBoolOr(type, false, &value), CKR_OK) << type;
    return value;
}

// The one object of the class with the label; null when there is not
// exactly one.
const PKCS11Object* Only(const std::vector<PKCS11ObjectPtr>& objects, CK_OBJECT_CLASS cls, const std::string& label)
{
    const PKCS11Object* found = nullptr;
    int n = 0;
    for (const PKCS11ObjectPtr& o : objects)
        if (LabelOf(o.Get()) == label && IntegerOf(o.Get(), CKA_CLASS) == cls) {
            found = o.Get();
            ++n;
        }
    return n == 1 ? found : nullptr;
}

// The key's real areas as the plain driver reads them (used parts), and
// the whole private area.
struct RealAreas {
    Bytes publicArea;
    Bytes privateArea;
    Bytes wholePrivateArea;
};

RealAreas ReadRealAreas()
{
    PKCS11QuorKorvo7Q plain;
    RealAreas out;
    EXPECT_EQ(plain.Open(0), CKR_OK);
    // The private area is read from the key itself, under a login of its own.
    EXPECT_EQ(plain.Login(kPin.c_str(), static_cast<std::uint32_t>(kPin.size())), CKR_OK);
    out.publicArea = ReadArea(plain, 0);
    out.privateArea = ReadArea(plain, 1);
    std::uint8_t* image = nullptr;
    std::uint32_t used = 0, capacity = 0;
    EXPECT_EQ(plain.GetAreaCapacity(1, &capacity), CKR_OK);
    EXPECT_EQ(plain.ReadStorageArea(1, &image, &used), CKR_OK);
    if (image != nullptr) out.wholePrivateArea.assign(image, image + capacity);
    delete[] image;
    EXPECT_EQ(plain.Close(), CKR_OK);
    return out;
}

// Runs body against the key through the built key-media library, in a child
// process as another program on the machine would. Its result is the
// child's exit status (body's codes are below 90).
int WithKeyMediaLibrary(std::uint32_t serial, const std::function<int(IKMQuorKorvo7Q*)>& body)
{
#if defined(QVK_KM_LIBRARY)
    return RunChild([&] {
        // The library loads pkfmt.so by its bare name, from the current folder.
        if (chdir(QVK_PKFMT_DIR) != 0) return 90;
        void* library = dlopen(QVK_KM_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) return 91;
        auto getInterface = reinterpret_cast<KMGetInterfaceFunction>(dlsym(library, "KMGetInterface"));
        auto finalize = reinterpret_cast<KMFinalizeFunction>(dlsym(library, "KMFinalize"));
        if (getInterface == nullptr || finalize == nullptr) return 92;
        IKMQuorKorvo7Q* device = getInterface(kFullKey);
        if (device == nullptr) return 93;
        std::string s = std::to_string(serial), p = kPin;
        int result = device->Open(s.data(), p.data(), 0) == KM_OK ? body(device) : 94;
        if (device->Close(nullptr) != KM_OK && result == 0) result = 95;
        device->Release();
        finalize();
        dlclose(library);
        return result;
    });
#else
    (void)serial;
    (void)body;
    return 96;
#endif
}

int ExpectRecord(IKMQuorKorvo7Q* device, unsigned type, const Bytes& expected)
{
    Bytes buffer(8192);
    unsigned length = 0;
    if (device->ReadRecord(nullptr, type, buffer.data(), &length) != KM_OK) return 10;
    buffer.resize(length);
    return buffer == expected ? 0 : 11;
}

// The key with the PKI services of this process running, and a curve and
// S-box to generate pairs with.
class Pkcs11VirtualKeysE2E : public Pkcs11VirtualE2E {
protected:
    void SetUp() override
    {
        setenv("PKFMT_DEFAULT_ITERATIONS", "16", 1);
        DllMain(WemuModuleOfAddress(reinterpret_cast<const void*>(&GetCurrentDirectory)), DLL_PROCESS_ATTACH, nullptr);
        ASSERT_TRUE(StartPKIServices(nullptr));
        ASSERT_TRUE(GetStandardCurveRecords(kCurve, &field_, &point_));
        ASSERT_TRUE(GetStandardSBoxRecord(0, sBox_));
        CK_ATTRIBUTE params{CKA_EC_PARAMS, nullptr, 0};
        ASSERT_TRUE(MakeStandardECParamsAttribute(kCurve, 0, &params));
        const auto* p = static_cast<const std::uint8_t*>(params.pValue);
        standardParams_.assign(p, p + params.ulValueLen);
        delete[] p;
        Pkcs11VirtualE2E::SetUp();
    }
    void TearDown() override
    {
        Pkcs11VirtualE2E::TearDown();
        StopPKIServices();
    }

    Bytes Generate(PKCS11VirtualQuorKorvo7Q& virt, CK_BYTE selector, CK_RV expected = CKR_OK)
    {
        Bytes publicKey(DSTU4145_NUMBER_BYTES);
        EXPECT_EQ(virt.GenerateKeyPair(selector, 0, &field_, &point_, sBox_, publicKey.data()), expected);
        publicKey.resize((field_.words[DSTU4145_FIELD_M] + 7) / 8);
        return publicKey;
    }

    // A public- or private-key object made from the key, checked against
    // the standard curve's encoding, its pair's public key and its handle.
    void CheckKeyObject(const PKCS11Object* key, bool isPublic, CK_ULONG entry, const Bytes& publicKey)
    {
        ASSERT_NE(key, nullptr);
        EXPECT_EQ(IntegerOf(key, CKA_KEY_TYPE), CKK_DSTU4145);
        EXPECT_EQ(IntegerOf(key, CKA_KEY_GEN_MECHANISM), CKM_DSTU4145_KEY_PAIR_GEN);
        EXPECT_TRUE(BoolOf(key, CKA_TOKEN));
        EXPECT_EQ(BytesOf(key, CKA_EC_PARAMS), standardParams_);
        const Bytes allowed = BytesOf(key, CKA_ALLOWED_MECHANISMS);
        const CK_ULONG count = allowed.size() / sizeof(CK_MECHANISM_TYPE);
        EXPECT_TRUE(count == 6 || count == 8) << count;
        std::vector<CK_MECHANISM_TYPE> mechanisms(count);
        std::memcpy(mechanisms.data(), allowed.data(), count * sizeof(CK_MECHANISM_TYPE));
        EXPECT_EQ(mechanisms[0], CKM_DSTU4145);
        EXPECT_NE(std::find(mechanisms.begin(), mechanisms.end(), CKM_DSTU4145_DERIVE), mechanisms.end());
        const CK_ULONG stored = (entry + 1) | HANDLE_TOKEN_BIT | (isPublic ? 0 : HANDLE_PRIVATE_BIT);
        EXPECT_EQ(IntegerOf(key, CKA_VENDOR_OBJECT_HANDLE), stored);
        if (isPublic) {
            EXPECT_TRUE(BoolOf(key, CKA_VERIFY));
            const Bytes point = BytesOf(key, CKA_EC_POINT);
            std::uint8_t decoded[DSTU4145_NUMBER_BYTES] = {};
            ASSERT_TRUE(DecodeECPoint(point.data(), point.size(), decoded));
            EXPECT_EQ(Bytes(decoded, decoded + publicKey.size()), publicKey);
        } else {
            EXPECT_TRUE(BoolOf(key, CKA_SIGN));
        }
    }

    DSTU4145FieldRecord field_{};
    DSTU4145PointRecord point_{};
    std::uint8_t sBox_[64] = {};
    Bytes standardParams_;
};

TEST_F(Pkcs11VirtualKeysE2E, KeyMediaKeyGetsItsContainerRecordAndKeepsTheLibrarysOtherRecords)
{
    const Bytes certificate = Pattern(300, 3);
    Bytes certificateRecord = certificate;  // kind 1
    certificateRecord[0] = 1;
    certificateRecord[1] = certificateRecord[2] = certificateRecord[3] = 0;
    const Bytes other = Pattern(100, 9);
    ASSERT_EQ(WithKeyMediaLibrary(4321,
                                  [&](IKMQuorKorvo7Q* d) {
                                      if (d->WriteRecord(nullptr, 17, certificateRecord.data(), 300) != KM_OK) return 1;
                                      return d->WriteRecord(nullptr, 3, other.data(), 100) == KM_OK ? 0 : 2;
                                  }),
              0);

    PKCS11VirtualQuorKorvo7Q virt;
    ASSERT_EQ(virt.Open(0), CKR_OK);
    ASSERT_EQ(virt.Login(kPin.c_str(), 8), CKR_OK);
    // The conversions of the library's records refuse, after checking the
    // record they read.
    Bytes out;
    EXPECT_EQ(virt.CertificateFromRecord(CKK_DSTU4145, 0, &out), CKR_FUNCTION_NOT_SUPPORTED);
    EXPECT_EQ(virt.KeyFromContainerRecord(4, &out), CKR_DEVICE_MEMORY) << "a record of type 3 is no container";
    EXPECT_EQ(virt.ReencodeContainerRecord(), CKR_FUNCTION_NOT_SUPPORTED);
    EXPECT_EQ(virt.WriteCertificateRecord(certificate.data(), 300), CKR_FUNCTION_NOT_SUPPORTED);
    EXPECT_EQ(virt.CertificateToObjects(certificate.data(), 300, &out), CKR_FUNCTION_NOT_SUPPORTED);
    EXPECT_EQ(virt.ContainerToPrivateKeyObjects(other.data(), 100, &out), CKR_FUNCTION_NOT_SUPPORTED);
    EXPECT_TRUE(out.empty());

    // The pair is made on the key, but its container would replace the
    // library's record of type 3: refused, and the record stays.
    const Bytes signaturePublic = Generate(virt, 1, CKR_DEVICE_MEMORY);
    {
        // The only pair: its two key objects and the container object, and
        // its private key derives.
        const std::vector<PKCS11ObjectPtr> publicObjects =
            ParseObjects(ReadArea(virt, 0), 2 + virt.GetTokenRecordSize());
        const std::vector<PKCS11ObjectPtr> privateObjects = ParseObjects(ReadArea(virt, 1), 0);
        EXPECT_EQ(publicObjects.size(), 1u);
        ASSERT_EQ(privateObjects.size(), 2u);
        CheckKeyObject(Only(publicObjects, CKO_PUBLIC_KEY, "KM AFD1"), true, 1, signaturePublic);
        const PKCS11Object* only = Only(privateObjects, CKO_PRIVATE_KEY, "KM AFD1");
        CheckKeyObject(only, false, 1, signaturePublic);
        ASSERT_NE(only, nullptr);
        EXPECT_TRUE(BoolOf(only, CKA_DERIVE));
        const PKCS11Object* container = Only(privateObjects, CKO_DATA, "KM AFC6");
        ASSERT_NE(container, nullptr);
        EXPECT_EQ(ContainerKeyValues(BytesOf(container, CKA_VALUE)), std::vector<Bytes>{signaturePublic});
    }
    ASSERT_EQ(virt.Close(), CKR_OK);
    EXPECT_EQ(WithKeyMediaLibrary(4321,
                                  [&](IKMQuorKorvo7Q* d) {
                                      return ExpectRecord(d, 3, other) + 20 * ExpectRecord(d, 17, certificateRecord);
                                  }),
              0);

    // An earlier container record is replaced.
    const Bytes oldContainer = Pattern(50, 1);
    ASSERT_EQ(WithKeyMediaLibrary(4321,
                                  [&](IKMQuorKorvo7Q* d) {
                                      return d->WriteRecord(nullptr, 6, oldContainer.data(), 50) == KM_OK ? 0 : 1;
                                  }),
              0);
    ASSERT_EQ(virt.Open(0), CKR_OK);
    ASSERT_EQ(virt.Login(kPin.c_str(), 8), CKR_OK);
    EXPECT_EQ(virt.KeyFromContainerRecord(4, &out), CKR_FUNCTION_NOT_SUPPORTED);
    const Bytes agreementPublic = Generate(virt, 0);

    // Both pairs in the images: the signature pair's private key no longer
    // derives, the key-agreement pair's does; the container holds both.
    const Bytes pub = ReadArea(virt, 0);
    const Bytes priv = ReadArea(virt, 1);
    EXPECT_FALSE(virt.KeyHoldsToken());
    const std::vector<PKCS11ObjectPtr> publicObjects = ParseObjects(pub, 2 + virt.GetTokenRecordSize());
    const std::vector<PKCS11ObjectPtr> privateObjects = ParseObjects(priv, 0);
    ASSERT_EQ(publicObjects.size(), 2u);
    ASSERT_EQ(privateObjects.size(), 3u);
    CheckKeyObject(Only(publicObjects, CKO_PUBLIC_KEY, "KM AFD1"), true, 1, signaturePublic);
    CheckKeyObject(Only(publicObjects, CKO_PUBLIC_KEY, "KM AFD2"), true, 2, agreementPublic);
    const PKCS11Object* signatureKey = Only(privateObjects, CKO_PRIVATE_KEY, "KM AFD1");
    const PKCS11Object* agreementKey = Only(privateObjects, CKO_PRIVATE_KEY, "KM AFD2");
    CheckKeyObject(signatureKey, false, 1, signaturePublic);
    CheckKeyObject(agreementKey, false, 2, agreementPublic);
    ASSERT_NE(signatureKey, nullptr);
    ASSERT_NE(agreementKey, nullptr);
    EXPECT_FALSE(BoolOf(signatureKey, CKA_DERIVE));
    EXPECT_TRUE(BoolOf(agreementKey, CKA_DERIVE));
    const PKCS11Object* container = Only(privateObjects, CKO_DATA, "KM AFC6");
    ASSERT_NE(container, nullptr);
    EXPECT_EQ(IntegerOf(container, CKA_VENDOR_OBJECT_HANDLE), 4 | HANDLE_TOKEN_BIT | HANDLE_PRIVATE_BIT);
    EXPECT_TRUE(BoolOf(container, CKA_MODIFIABLE));
    const Bytes value = BytesOf(container, CKA_VALUE);
    EXPECT_EQ(ContainerKeyValues(value), (std::vector<Bytes>{signaturePublic, agreementPublic}));
    // The record size field of the private area matches what was appended.
    EXPECT_EQ(LoadLE32(pub.data() + 2 + 38), 3072u - priv.size());

    // The key's private area: a container of both pairs (made afresh, so
    // not byte for byte the image's) in the library's record form, which
    // the library reads back; its certificate record is untouched.
    const RealAreas real = ReadRealAreas();
    ASSERT_GE(real.privateArea.size(), 4u);
    EXPECT_EQ(LoadLE32(real.privateArea.data()) & 0xFFFF, 6u);
    const std::uint32_t length = LoadLE32(real.privateArea.data()) >> 16;
    ASSERT_LE(length + 4, real.privateArea.size());
    const Bytes written(real.privateArea.begin() + 4, real.privateArea.begin() + 4 + length);
    EXPECT_EQ(ContainerKeyValues(written), (std::vector<Bytes>{signaturePublic, agreementPublic}));
    ASSERT_EQ(virt.Close(), CKR_OK);
    EXPECT_EQ(WithKeyMediaLibrary(4321,
                                  [&](IKMQuorKorvo7Q* d) {
                                      return ExpectRecord(d, 6, written) + 20 * ExpectRecord(d, 17, certificateRecord);
                                  }),
              0);

    // The variant signs with the pairs; deleting both empties the container
    // record and leaves the certificate record.
    ASSERT_EQ(virt.Open(0), CKR_OK);
    ASSERT_EQ(virt.Login(kPin.c_str(), 8), CKR_OK);
    const Bytes hash = Pattern(32, 5);
    Bytes signature(144);
    EXPECT_EQ(virt.SignHash(1, &field_, &point_, hash.data(), 32, signature.data()), CKR_OK);
    EXPECT_EQ(virt.DeleteDSTU4145PrivateKey(1), CKR_OK);
    EXPECT_NE(virt.SignHash(1, &field_, &point_, hash.data(), 32, signature.data()), CKR_OK);
    const std::vector<PKCS11ObjectPtr> left = ParseObjects(ReadArea(virt, 1), 0);
    EXPECT_TRUE(left.empty()) << "no signature key: the images hold only the token record";
    EXPECT_EQ(virt.DeleteDSTU4145PrivateKey(0), CKR_OK);
    ASSERT_EQ(virt.Close(), CKR_OK);
    EXPECT_EQ(WithKeyMediaLibrary(4321,
                                  [&](IKMQuorKorvo7Q* d) {
                                      Bytes buffer(8192);
                                      unsigned length = 0;
                                      if (d->ReadRecord(nullptr, 6, buffer.data(), &length) == KM_OK) return 1;
                                      return 20 * ExpectRecord(d, 17, certificateRecord);
                                  }),
              0);
}

// The built module, loaded and started for a phase of a test and finalised
// after it.
class Module : public LoadedModule {
public:
    Module()
    {
        if (!ok()) {
            ADD_FAILURE() << dlerror();
            return;
        }
        Initialize();
    }

    CK_SESSION_HANDLE UserSession() { return LoggedIn(kPin); }
    std::vector<CK_OBJECT_HANDLE> Find(CK_SESSION_HANDLE h, CK_OBJECT_CLASS cls, const std::string& label)
    {
        CK_ATTRIBUTE pattern[] = {{CKA_CLASS, &cls, sizeof(cls)},
                                  {CKA_LABEL, const_cast<char*>(label.data()), label.size()}};
        EXPECT_EQ(f->C_FindObjectsInit(h, pattern, 2), CKR_OK);
        std::vector<CK_OBJECT_HANDLE> found(16);
        CK_ULONG n = 0;
        EXPECT_EQ(f->C_FindObjects(h, found.data(), found.size(), &n), CKR_OK);
        EXPECT_EQ(f->C_FindObjectsFinal(h), CKR_OK);
        found.resize(n);
        return found;
    }
    Bytes Value(CK_SESSION_HANDLE h, CK_OBJECT_HANDLE object)
    {
        Bytes value(256);
        CK_ATTRIBUTE a{CKA_VALUE, value.data(), value.size()};
        EXPECT_EQ(f->C_GetAttributeValue(h, object, &a, 1), CKR_OK);
        value.resize(a.ulValueLen);
        return value;
    }
};

TEST_F(Pkcs11VirtualKeysE2E, TokenKeyKeepsThePlainDriversObjectsAndLabelAcrossKeyChanges)
{
    std::string tokenLabel = "plain token";
    tokenLabel.resize(32, ' ');
    const std::vector<std::pair<std::string, bool>> plainObjects = {
        {"plain public", false}, {"plain private 1", true}, {"plain private 2", true}};
    {
        Module m;
        ASSERT_NE(m.f, nullptr);
        ASSERT_EQ(m.f->C_InitToken(m.slot, U(kPin), kPin.size(), U(tokenLabel)), CKR_OK);
        const CK_SESSION_HANDLE h = m.UserSession();
        for (const auto& [label, isPrivate] : plainObjects) {
            CK_OBJECT_CLASS cls = CKO_DATA;
            CK_BBOOL yes = CK_TRUE, priv = isPrivate ? CK_TRUE : CK_FALSE;
            CK_ATTRIBUTE t[] = {{CKA_CLASS, &cls, sizeof(cls)},
                                {CKA_TOKEN, &yes, 1},
                                {CKA_PRIVATE, &priv, 1},
                                {CKA_LABEL, const_cast<char*>(label.data()), label.size()},
                                {CKA_VALUE, const_cast<char*>(label.data()), label.size()}};
            CK_OBJECT_HANDLE object = 0;
            ASSERT_EQ(m.f->C_CreateObject(h, t, 5, &object), CKR_OK) << label;
        }
    }

    // Two key changes through the variant: each rewrite replaces its own
    // earlier objects and keeps the rest.
    PKCS11VirtualQuorKorvo7Q virt;
    ASSERT_EQ(virt.Open(0), CKR_OK);
    ASSERT_EQ(virt.Login(kPin.c_str(), 8), CKR_OK);
    // The framework sets an image's free memory (larger than the key's
    // area) before it writes the image: the key's own area is still read
    // whole, and still found to hold a token.
    std::uint32_t imageCapacity = 0;
    ASSERT_EQ(virt.GetAreaCapacity(0, &imageCapacity), CKR_OK);
    Bytes imageRecord(virt.GetTokenRecordSize());
    ASSERT_EQ(virt.SetFreeMemory(imageRecord.data(), 0, imageCapacity - virt.GetTokenRecordSize() - 2), CKR_OK);
    const Bytes signaturePublic = Generate(virt, 1);
    const Bytes agreementPublic = Generate(virt, 0);
    EXPECT_TRUE(ReadArea(virt, 0).size() > 2u + virt.GetTokenRecordSize());
    EXPECT_TRUE(virt.KeyHoldsToken());
    ASSERT_EQ(virt.Close(), CKR_OK);

    const std::uint32_t recordSize = virt.GetTokenRecordSize();
    RealAreas real = ReadRealAreas();
    ASSERT_GE(real.publicArea.size(), 2u + recordSize);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(real.publicArea.data()) + 2 + TOKEN_RECORD_LABEL, 32),
              tokenLabel);
    {
        const std::vector<PKCS11ObjectPtr> pub = ParseObjects(real.publicArea, 2 + recordSize);
        const std::vector<PKCS11ObjectPtr> priv = ParseObjects(real.privateArea, 0);
        EXPECT_EQ(pub.size(), 3u);
        EXPECT_EQ(priv.size(), 5u);
        EXPECT_NE(Only(pub, CKO_DATA, "plain public"), nullptr);
        EXPECT_NE(Only(priv, CKO_DATA, "plain private 1"), nullptr);
        EXPECT_NE(Only(priv, CKO_DATA, "plain private 2"), nullptr);
        EXPECT_NE(Only(pub, CKO_PUBLIC_KEY, "KM AFD1"), nullptr);
        EXPECT_NE(Only(pub, CKO_PUBLIC_KEY, "KM AFD2"), nullptr);
        EXPECT_NE(Only(priv, CKO_PRIVATE_KEY, "KM AFD1"), nullptr);
        EXPECT_NE(Only(priv, CKO_PRIVATE_KEY, "KM AFD2"), nullptr);
        const PKCS11Object* container = Only(priv, CKO_DATA, "KM AFC6");
        ASSERT_NE(container, nullptr);
        EXPECT_EQ(ContainerKeyValues(BytesOf(container, CKA_VALUE)),
                  (std::vector<Bytes>{signaturePublic, agreementPublic}));
        // The plain driver's private objects hold entries 0 and 1: the
        // variant's objects take free numbers, so no handle is shared.
        for (const auto* area : {&pub, &priv}) {
            std::set<CK_ULONG> handles;
            for (const PKCS11ObjectPtr& o : *area) handles.insert(IntegerOf(o.Get(), CKA_VENDOR_OBJECT_HANDLE));
            EXPECT_EQ(handles.size(), area->size());
        }
    }

    // The module finds the label, the plain objects, and signs with the
    // signature key object the variant wrote, verified on the host with its
    // public key object.
    {
        Module m;
        ASSERT_NE(m.f, nullptr);
        CK_TOKEN_INFO info{};
        ASSERT_EQ(m.f->C_GetTokenInfo(m.slot, &info), CKR_OK);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(info.label), 32), tokenLabel);
        const CK_SESSION_HANDLE h = m.UserSession();
        for (const auto& [label, isPrivate] : plainObjects) {
            const std::vector<CK_OBJECT_HANDLE> found = m.Find(h, CKO_DATA, label);
            ASSERT_EQ(found.size(), 1u) << label;
            EXPECT_EQ(m.Value(h, found[0]), Bytes(label.begin(), label.end()));
        }
        const std::vector<CK_OBJECT_HANDLE> priv = m.Find(h, CKO_PRIVATE_KEY, "KM AFD1");
        const std::vector<CK_OBJECT_HANDLE> pub = m.Find(h, CKO_PUBLIC_KEY, "KM AFD1");
        ASSERT_EQ(priv.size(), 1u);
        ASSERT_EQ(pub.size(), 1u);
        CK_MECHANISM mechanism{CKM_DSTU4145, nullptr, 0};
        Bytes hash = Pattern(32, 11);
        Bytes signature(256);
        CK_ULONG length = signature.size();
        ASSERT_EQ(m.f->C_SignInit(h, &mechanism, priv[0]), CKR_OK);
        ASSERT_EQ(m.f->C_Sign(h, hash.data(), hash.size(), signature.data(), &length), CKR_OK);
        ASSERT_EQ(m.f->C_VerifyInit(h, &mechanism, pub[0]), CKR_OK);
        EXPECT_EQ(m.f->C_Verify(h, hash.data(), hash.size(), signature.data(), length), CKR_OK);
        signature[0] ^= 1;
        ASSERT_EQ(m.f->C_VerifyInit(h, &mechanism, pub[0]), CKR_OK);
        EXPECT_EQ(m.f->C_Verify(h, hash.data(), hash.size(), signature.data(), length), CKR_SIGNATURE_INVALID);
    }

    // Deleting the signature key takes its objects off the key's areas and
    // nothing else.
    ASSERT_EQ(virt.Open(0), CKR_OK);
    ASSERT_EQ(virt.Login(kPin.c_str(), 8), CKR_OK);
    ASSERT_EQ(virt.DeleteDSTU4145PrivateKey(1), CKR_OK);
    ASSERT_EQ(virt.Close(), CKR_OK);
    real = ReadRealAreas();
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(real.publicArea.data()) + 2 + TOKEN_RECORD_LABEL, 32),
              tokenLabel);
    const std::vector<PKCS11ObjectPtr> pub = ParseObjects(real.publicArea, 2 + recordSize);
    const std::vector<PKCS11ObjectPtr> priv = ParseObjects(real.privateArea, 0);
    EXPECT_NE(Only(pub, CKO_DATA, "plain public"), nullptr);
    EXPECT_NE(Only(priv, CKO_DATA, "plain private 1"), nullptr);
    EXPECT_NE(Only(priv, CKO_DATA, "plain private 2"), nullptr);
    EXPECT_EQ(pub.size(), 1u) << "no signature key: no key objects";
    EXPECT_EQ(priv.size(), 2u);
    // The shorter content was written over an erased area: nothing of the
    // removed objects stays behind it (past its last 32-byte block).
    ASSERT_EQ(real.wholePrivateArea.size(), 3072u);
    const std::size_t end = (real.privateArea.size() + 31) / 32 * 32;
    EXPECT_EQ(Bytes(real.wholePrivateArea.begin() + end, real.wholePrivateArea.end()), Bytes(3072 - end, 0xFF));
}

}  // namespace
}  // namespace qvk::e2e
