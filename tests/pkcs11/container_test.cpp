// Key containers of the PKI bridge over the stand-in PKI formats library of
// the distribution folder: what they write opens with the module's
// container password (the literal text, not the module's constant), the
// caller's passwords are tried in their order and within their limits, and
// keys of one kind come out of a container while the other kind stays.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <string>
#include <vector>

#include "PkiServicesStart.h"
#include "crypto/CryptoTypes.h"
#include "crypto/DSTU7564.h"
#include "pkcs11/PKCS11DSTU4145.h"
#include "pkcs11/PKCS11KeyContainers.h"
#include "pkcs11/PKCS11Library.h"
#include "pkcs11/PKCS11PKI.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

const char kContainerPassword[] = "Rb8qNw2Xv$5hTm0kLp<3Zc7YeJ4uFa9sGd1WoK6i";

template <typename T>
struct Obj {
    void* raw = nullptr;
    ~Obj() { Reset(); }
    T* operator->() const { return static_cast<T*>(raw); }
    T* get() const { return static_cast<T*>(raw); }
    void** out()
    {
        Reset();
        return &raw;
    }
    void Reset()
    {
        if (raw != nullptr) static_cast<T*>(raw)->Release();
        raw = nullptr;
    }
};

struct Attr {
    CK_ATTRIBUTE a{0, nullptr, 0};
    ~Attr() { delete[] static_cast<std::uint8_t*>(a.pValue); }
    PKIBlob blob() const
    {
        return PKIBlob{static_cast<std::uint32_t>(a.ulValueLen), static_cast<std::uint8_t*>(a.pValue)};
    }
};

Bytes Pattern(std::size_t n, std::uint8_t seed)
{
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(seed + 7 * i);
    return b;
}

// The stand-in's identifier: the first 20 bytes of DSTU 7564-256 over the
// operation's tag and the key.
Bytes ExpectedIdentifier(std::uint8_t tag, const Bytes& key)
{
    DSTU7564Context* c = DSTU7564CreateContext();
    std::uint32_t bits = 256;
    Bytes input{tag};
    input.insert(input.end(), key.begin(), key.end());
    std::uint64_t length = input.size() * 8ull;
    Bytes out(32);
    EXPECT_EQ(DSTU7564SetParameter(c, &bits, DSTU7564_HASH_BITS), 1);
    EXPECT_EQ(DSTU7564UpdateHash(input.data(), CryptoBitLengthLow(length), CryptoBitLengthHigh(length), c), 1);
    EXPECT_EQ(DSTU7564FinishHash(c), 1);
    EXPECT_EQ(DSTU7564GetParameter(c, out.data(), DSTU7564_HASH), 1);
    DSTU7564FreeContext(c);
    out.resize(20);
    return out;
}

class KeyContainers : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("PKFMT_DEFAULT_ITERATIONS", "16", 1);
        ASSERT_TRUE(StartPKIServicesAsTheModule());
        void* library = dlopen("pkfmt.so", RTLD_NOW | RTLD_NOLOAD);
        ASSERT_NE(library, nullptr);
        liveObjects_ = reinterpret_cast<int (*)()>(dlsym(library, "PKFMTLiveObjects"));
        liveBlobs_ = reinterpret_cast<int (*)()>(dlsym(library, "PKFMTLiveBlobs"));
        dlclose(library);
        ASSERT_NE(liveObjects_, nullptr);
        objectsBefore_ = liveObjects_();
        blobsBefore_ = liveBlobs_();
        ASSERT_TRUE(GetStandardCurveRecords(0, &field_[0], &point_[0]));
        ASSERT_TRUE(GetStandardCurveRecords(3, &field_[1], &point_[1]));
    }
    void TearDown() override
    {
        if (liveObjects_ != nullptr) {
            EXPECT_EQ(liveObjects_(), objectsBefore_) << "every object released";
            EXPECT_EQ(liveBlobs_(), blobsBefore_) << "every blob freed";
        }
        StopPKIServices();
    }

    // Opens a store the way an outside reader would: the literal password.
    void OpenStore(const CK_ATTRIBUTE& value, Obj<IPKIKeyContainer>* store)
    {
        ASSERT_EQ(value.type, CKA_VALUE);
        ASSERT_EQ(PKIInterface->CreateObject(PKI_CLASS_KEY_CONTAINER, PKI_IID_KEY_CONTAINER, store->out()), PKI_OK);
        PKIBlob in{static_cast<std::uint32_t>(value.ulValueLen), static_cast<std::uint8_t*>(value.pValue)};
        ASSERT_EQ((*store)->Decode(&in), PKI_OK);
        std::uint32_t isProtected = 0;
        ASSERT_EQ((*store)->IsProtected(&isProtected), PKI_OK);
        EXPECT_EQ(isProtected, 1u) << "every container written is protected";
        EXPECT_NE((*store)->CheckPassword("wrong"), PKI_OK);
        EXPECT_EQ((*store)->CheckPassword(kContainerPassword), PKI_OK);
    }

    // A store protected with `password`, holding one DSTU 4145 key.
    void ProtectedStore(const char* password, Attr* out)
    {
        Obj<IPKIKeyContainer> store;
        Obj<IPKIEntryList> entry;
        Obj<IPKIKey> key;
        Obj<IPKIParameters> parameters;
        Obj<IPKIPrivateKey> privateKey;
        ASSERT_EQ(PKIInterface->CreateObject(PKI_CLASS_KEY_CONTAINER, PKI_IID_KEY_CONTAINER, store.out()), PKI_OK);
        ASSERT_EQ(PKIInterface->CreateObject(PKI_CLASS_ENTRY_LIST, PKI_IID_ENTRY_LIST, entry.out()), PKI_OK);
        ASSERT_EQ(PKIInterface->CreateObject(PKI_CLASS_KEY, PKI_IID_KEY, key.out()), PKI_OK);
        ASSERT_EQ(
            PKIInterface->CreateObject(PKI_CLASS_DSTU4145_PARAMETERS, PKI_IID_DSTU4145_PARAMETERS, parameters.out()),
            PKI_OK);
        ASSERT_EQ(PKIInterface->CreateObject(PKI_CLASS_PRIVATE_KEY, PKI_IID_PRIVATE_KEY, privateKey.out()), PKI_OK);
        Bytes value = Pattern(32, 1);
        PKIBlob v{32, value.data()};
        ASSERT_EQ(parameters->SetStandard(1, 0, nullptr), PKI_OK);
        ASSERT_EQ(key->SetKeyValue(&v, parameters.get()), PKI_OK);
        ASSERT_EQ(privateKey->SetKey(key.get(), password != nullptr ? password : ""), PKI_OK);
        ASSERT_EQ(entry->AddEntry(privateKey.get(), nullptr), PKI_OK);
        ASSERT_EQ(store->AddItem(entry.get()), PKI_OK);
        if (password != nullptr) {
            ASSERT_EQ(store->SetPassword(PKI_PROTECT_WITH_PASSWORD, password), PKI_OK);
        }
        PKIBlob encoded{0, nullptr};
        ASSERT_EQ(store->Encode(&encoded), PKI_OK);
        ASSERT_TRUE(MakeAttributeFromBlob(CKA_VALUE, &encoded, &out->a));
        PKIInterface->FreeBlob(&encoded);
    }

    DSTU4145FieldRecord field_[2];
    DSTU4145PointRecord point_[2];
    int (*liveObjects_)() = nullptr;
    int (*liveBlobs_)() = nullptr;
    int objectsBefore_ = 0, blobsBefore_ = 0;
};

const KeyContainerPasswords kNoPasswords{nullptr, 0, nullptr};

TEST_F(KeyContainers, ExportedKeysOpenWithTheContainerPassword)
{
    Bytes first = Pattern(33, 3), second = Pattern(45, 9);
    PKIBlob keys[2] = {{33, first.data()}, {45, second.data()}};
    Attr out;
    ASSERT_TRUE(ExportKeyContainer(2, field_, point_, keys, &out.a));
    Obj<IPKIKeyContainer> store;
    OpenStore(out.a, &store);
    Obj<IPKIEntryList> entry;
    std::uint32_t items = 0, count = 0;
    ASSERT_EQ(store->GetItemCount(&items), PKI_OK);
    ASSERT_EQ(items, 1u);
    ASSERT_EQ(store->GetItem(0, entry.out()), PKI_OK);
    ASSERT_EQ(entry->GetEntryCount(&count), PKI_OK);
    ASSERT_EQ(count, 2u);
    for (std::uint32_t i = 0; i < 2; ++i) {
        Obj<IPKIPrivateKey> privateKey;
        Obj<IPKIKey> key;
        Obj<IPKIParameters> parameters;
        ASSERT_EQ(entry->GetEntry(i, privateKey.out(), nullptr), PKI_OK);
        EXPECT_NE(privateKey->Open("", key.out()), PKI_OK);
        ASSERT_EQ(privateKey->Open(kContainerPassword, key.out()), PKI_OK);
        PKIBlob value{0, nullptr};
        ASSERT_EQ(key->GetKeyValue(&value, parameters.out()), PKI_OK);
        EXPECT_EQ(Bytes(value.data, value.data + value.length), i == 0 ? first : second);
        PKIInterface->FreeBlob(&value);
        DSTU4145FieldRecord f;
        DSTU4145PointRecord p;
        ASSERT_EQ(parameters->GetParameters(&f, &p, nullptr), PKI_OK);
        EXPECT_EQ(std::memcmp(&f, &field_[i], sizeof f), 0);
        EXPECT_EQ(std::memcmp(&p, &point_[i], sizeof p), 0);
    }
    // The driver's passwords: the empty text as bytes, the serial as text.
    const std::uint8_t empty[1] = {0};
    Obj<IPKIKey> key;
    PKIBlob blob = out.blob();
    ASSERT_TRUE(LoadPrivateKeyFromBlob({empty, 1, "000042"}, &blob, PKI_KEY_USAGE_DSTU4145,
                                       reinterpret_cast<IPKIKey**>(key.out())));
    std::uint32_t bits = 0;
    ASSERT_TRUE(GetKeyUsageBits(key.get(), &bits));
    EXPECT_EQ(bits, std::uint32_t(PKI_KEY_USAGE_DSTU4145));
    EXPECT_FALSE(
        LoadPrivateKeyFromBlob(kNoPasswords, &blob, PKI_KEY_USAGE_DATA, reinterpret_cast<IPKIKey**>(key.out())));
}

TEST_F(KeyContainers, CallersPasswordsAreTriedWithinTheirLimits)
{
    const std::string sixtyFour(64, 'p'), sixtyFive(65, 'p');
    struct Case {
        const char* protection;
        KeyContainerPasswords passwords;
        bool opens;
    } cases[] = {
        {nullptr, kNoPasswords, true},  // not protected: nothing tried
        {"serial", {nullptr, 0, "serial"}, true},
        {"serial", {nullptr, 0, "other"}, false},
        {"", {reinterpret_cast<const std::uint8_t*>(""), 1, "000042"}, true},
        {sixtyFour.c_str(), {reinterpret_cast<const std::uint8_t*>(sixtyFour.data()), 64, nullptr}, true},
        {sixtyFive.c_str(), {reinterpret_cast<const std::uint8_t*>(sixtyFive.data()), 65, nullptr}, false},
        {kContainerPassword, kNoPasswords, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.protection != nullptr ? c.protection : "(none)");
        Attr value;
        ProtectedStore(c.protection, &value);
        Obj<IPKIKeyContainer> store;
        PKIBlob blob = value.blob();
        ASSERT_EQ(PKIInterface->CreateObject(PKI_CLASS_KEY_CONTAINER, PKI_IID_KEY_CONTAINER, store.out()), PKI_OK);
        ASSERT_EQ(store->Decode(&blob), PKI_OK);
        EXPECT_EQ(UnlockKeyStore(c.passwords, store.get()), c.opens);
    }
}

TEST_F(KeyContainers, KeysOfOneKindComeAndGoWhileTheOtherStays)
{
    Bytes privateKey = Pattern(32, 5), publicKey = Pattern(33, 11);
    Bytes data = Pattern(PKI_KEY_DATA_BYTES, 13), modulus = Pattern(40, 17);
    KeyContainerParts dstu{};
    dstu.field = &field_[0];
    dstu.point = &point_[0];
    dstu.privateKey = privateKey.data();
    dstu.privateKeyLength = 32;
    KeyContainerParts keyData{};
    keyData.data = data.data();
    keyData.dataParameters[0] = 2048;
    keyData.dataParameters[1] = 7;
    PKIBlob open4{33, publicKey.data()}, open2{40, modulus.data()};

    Attr withDstu, withBoth;
    ASSERT_TRUE(AddKeyToContainer(kNoPasswords, nullptr, PKI_KEY_USAGE_DSTU4145, &dstu, &open4, &withDstu.a));
    PKIBlob blob = withDstu.blob();
    ASSERT_TRUE(AddKeyToContainer(kNoPasswords, &blob, PKI_KEY_USAGE_DATA, &keyData, &open2, &withBoth.a));
    {
        Obj<IPKIKeyContainer> store;
        OpenStore(withBoth.a, &store);  // protected though no key-data bit 0 is left
        // The key-data key's entry carries its identifier.
        Obj<IPKIEntryList> entry;
        Obj<IPKIPrivateKey> entryKey;
        PKIBlob attribute{0, nullptr};
        std::uint32_t items = 0;
        ASSERT_EQ(store->GetItemCount(&items), PKI_OK);
        ASSERT_EQ(items, 2u);
        ASSERT_EQ(store->GetItem(1, entry.out()), PKI_OK);
        ASSERT_EQ(entry->GetEntry(0, entryKey.out(), &attribute), PKI_OK);
        EXPECT_EQ(Bytes(attribute.data, attribute.data + attribute.length), ExpectedIdentifier(0x17, modulus));
        PKIInterface->FreeBlob(&attribute);
        ASSERT_EQ(store->GetItem(0, entry.out()), PKI_OK);
        ASSERT_EQ(entry->GetEntry(0, entryKey.out(), &attribute), PKI_OK);
        EXPECT_EQ(Bytes(attribute.data, attribute.data + attribute.length), ExpectedIdentifier(0x28, publicKey));
        PKIInterface->FreeBlob(&attribute);
    }

    // Decoding behind a key blob header: the data and its two words.
    Bytes headed(8, 0);
    headed[0] = 1;  // two lengths that do not cover the blob
    headed.insert(headed.end(), static_cast<std::uint8_t*>(withBoth.a.pValue),
                  static_cast<std::uint8_t*>(withBoth.a.pValue) + withBoth.a.ulValueLen);
    PKIBlob headedBlob{static_cast<std::uint32_t>(headed.size()), headed.data()};
    std::uint32_t words[2] = {};
    Bytes decoded(PKI_KEY_DATA_BYTES);
    ASSERT_TRUE(DecodeKeyBlob(kNoPasswords, &headedBlob, words, decoded.data()));
    EXPECT_EQ(decoded, data);
    EXPECT_EQ(words[0], 2048u);
    EXPECT_EQ(words[1], 7u);
    std::uint8_t parameters[536], open[76];
    ASSERT_TRUE(DecodePublicKeyBlob(kNoPasswords, &headedBlob, parameters, open));
    EXPECT_EQ(std::memcmp(parameters, &field_[0], sizeof field_[0]), 0);
    EXPECT_EQ(Bytes(open, open + 33), publicKey);

    // Removing the key data leaves the DSTU 4145 key; removing that leaves nothing.
    Attr onlyDstu, nothing;
    blob = withBoth.blob();
    ASSERT_TRUE(RemoveKeyFromContainer(kNoPasswords, &blob, PKI_KEY_USAGE_DATA, &onlyDstu.a));
    Obj<IPKIKey> key;
    PKIBlob left = onlyDstu.blob();
    EXPECT_TRUE(
        LoadPrivateKeyFromBlob(kNoPasswords, &left, PKI_KEY_USAGE_DSTU4145, reinterpret_cast<IPKIKey**>(key.out())));
    EXPECT_FALSE(
        LoadPrivateKeyFromBlob(kNoPasswords, &left, PKI_KEY_USAGE_DATA, reinterpret_cast<IPKIKey**>(key.out())));
    ASSERT_TRUE(RemoveKeyFromContainer(kNoPasswords, &left, PKI_KEY_USAGE_DSTU4145, &nothing.a));
    EXPECT_EQ(nothing.a.type, 0u);
    EXPECT_EQ(nothing.a.pValue, nullptr);
    EXPECT_EQ(nothing.a.ulValueLen, 0u);
}

TEST_F(KeyContainers, ASingleProtectedKeyGivesUpOneKindToANewContainer)
{
    Bytes privateKey = Pattern(32, 5), publicKey = Pattern(33, 11), data = Pattern(PKI_KEY_DATA_BYTES, 13);
    // One private-key object holding both parts, as another tool writes it.
    Obj<IPKIKey> key;
    Obj<IPKIKeyExport> exporter;
    Obj<IPKIPrivateKey> single;
    ASSERT_EQ(PKIInterface->CreateObject(PKI_CLASS_KEY, PKI_IID_KEY, key.out()), PKI_OK);
    ASSERT_EQ(key->QueryInterface(PKI_IID_KEY_EXPORT, exporter.out()), PKI_OK);
    PKIBlob secret{32, privateKey.data()}, open{33, publicKey.data()};
    const std::uint32_t words[2] = {1024, 3};
    ASSERT_EQ(exporter->SetDSTU4145Part(&field_[1], &point_[1], nullptr, &secret, &open), PKI_OK);
    ASSERT_EQ(key->SetKeyData(data.data(), words), PKI_OK);
    ASSERT_EQ(PKIInterface->CreateObject(PKI_CLASS_PRIVATE_KEY, PKI_IID_PRIVATE_KEY, single.out()), PKI_OK);
    ASSERT_EQ(single->SetFormat(1), PKI_OK);
    ASSERT_EQ(single->SetKey(key.get(), "000042"), PKI_OK);
    PKIBlob encoded{0, nullptr};
    ASSERT_EQ(single->Encode(&encoded), PKI_OK);
    Attr original;
    ASSERT_TRUE(MakeAttributeFromBlob(CKA_VALUE, &encoded, &original.a));
    PKIInterface->FreeBlob(&encoded);

    Attr rest;
    PKIBlob blob = original.blob();
    EXPECT_FALSE(RemoveKeyFromContainer(kNoPasswords, &blob, PKI_KEY_USAGE_DSTU4145, &rest.a)) << "serial not given";
    ASSERT_TRUE(RemoveKeyFromContainer({nullptr, 0, "000042"}, &blob, PKI_KEY_USAGE_DSTU4145, &rest.a));
    Obj<IPKIKeyContainer> store;
    OpenStore(rest.a, &store);
    PKIBlob restBlob = rest.blob();
    // Two leading lengths that cover the whole blob: it is used unchanged.
    Bytes whole(static_cast<std::uint8_t*>(rest.a.pValue),
                static_cast<std::uint8_t*>(rest.a.pValue) + rest.a.ulValueLen);
    std::uint32_t first = whole[0] | (whole[1] << 8) | (whole[2] << 16) | (std::uint32_t(whole[3]) << 24);
    std::uint32_t second = whole[4] | (whole[5] << 8) | (whole[6] << 16) | (std::uint32_t(whole[7]) << 24);
    PKIBlob view{0, nullptr};
    ASSERT_TRUE(SkipKeyBlobHeader(&restBlob, &view));
    EXPECT_EQ(view.data, std::uint64_t(first) + second == whole.size() ? restBlob.data : restBlob.data + 8);
    Bytes headed{0, 0, 0, 0, 0, 0, 0, 0};
    headed.insert(headed.end(), whole.begin(), whole.end());
    PKIBlob headedBlob{static_cast<std::uint32_t>(headed.size()), headed.data()};
    std::uint32_t back[2] = {};
    Bytes decoded(PKI_KEY_DATA_BYTES);
    ASSERT_TRUE(DecodeKeyBlob(kNoPasswords, &headedBlob, back, decoded.data()));
    EXPECT_EQ(decoded, data);
    EXPECT_EQ(back[1], 3u);
    Obj<IPKIKey> opened;
    EXPECT_FALSE(LoadPrivateKeyFromBlob(kNoPasswords, &restBlob, PKI_KEY_USAGE_DSTU4145,
                                        reinterpret_cast<IPKIKey**>(opened.out())));

    // A single key of only the removed kind: the empty result.
    Attr onlyData, empty;
    KeyContainerParts parts{};
    parts.data = data.data();
    PKIBlob modulus{33, publicKey.data()};
    ASSERT_TRUE(AddKeyToContainer(kNoPasswords, nullptr, PKI_KEY_USAGE_DATA, &parts, &modulus, &onlyData.a));
    PKIBlob onlyBlob = onlyData.blob();
    ASSERT_TRUE(RemoveKeyFromContainer(kNoPasswords, &onlyBlob, PKI_KEY_USAGE_DATA, &empty.a));
    EXPECT_EQ(empty.a.ulValueLen, 0u);
}

TEST_F(KeyContainers, IdentifiersAndTheMissingInterface)
{
    Bytes publicKey = Pattern(76, 21);
    std::uint8_t identifier[20];
    ASSERT_TRUE(GetDSTU4145KeyIdentifier(publicKey.data(), &field_[0], nullptr, identifier));
    // Curve 0 has m = 163: 21 bytes of key, then standard S-box 0.
    std::uint8_t sBox[64];
    ASSERT_TRUE(GetStandardSBoxRecord(0, sBox));
    Bytes expectedInput(publicKey.begin(), publicKey.begin() + 21);
    expectedInput.insert(expectedInput.end(), sBox, sBox + 64);
    EXPECT_EQ(Bytes(identifier, identifier + 20), ExpectedIdentifier(0x18, expectedInput));

    IPKIInterface* saved = PKIInterface;
    PKIInterface = nullptr;
    Attr out;
    PKIBlob key{76, publicKey.data()};
    EXPECT_FALSE(ExportKeyContainer(1, field_, point_, &key, &out.a));
    EXPECT_FALSE(GetDSTU4145KeyIdentifier(publicKey.data(), &field_[0], nullptr, identifier));
    EXPECT_FALSE(RemoveKeyFromContainer(kNoPasswords, &key, PKI_KEY_USAGE_DATA, &out.a));
    PKIInterface = saved;
}

}  // namespace
