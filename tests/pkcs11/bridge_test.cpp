// The PKI bridge: start and stop over the crypto and PKI formats stand-ins
// of the distribution folder, the hash wrappers and the PIN digest against
// published GOST 34.311-95 and DSTU 7564 answers, and the attribute and
// encoding helpers (the latter against a recording PKI interface).
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "GostTestSBox.h"
#include "PkiServicesStart.h"
#include "TestHex.h"
#include "csp/CSP.h"
#include "pkcs11/PKCS11Attribute.h"
#include "pkcs11/PKCS11Library.h"
#include "pkcs11/PKCS11PKI.h"

namespace {

using cryptotest::Hex;
using Bytes = std::vector<std::uint8_t>;

// libwemu.so sits in the distribution folder beside the stand-ins, so its
// handle stands for the module's there.

class Pkcs11Bridge : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* name : {"PKFMT_VERSION", "PKFMT_OPTION_A", "PKFMT_INITIALIZE_RESULT"}) unsetenv(name);
        startDir_ = std::filesystem::current_path().string();
    }
    void TearDown() override
    {
        StopPKIServices();
        EXPECT_EQ(std::filesystem::current_path().string(), startDir_);
    }
    void Start() { ASSERT_TRUE(StartPKIServicesAsTheModule()); }
    std::string startDir_;
};

TEST_F(Pkcs11Bridge, StartsFromTheModulesFolderAndStopsCompletely)
{
    Start();
    EXPECT_NE(ModuleCSP, nullptr);
    EXPECT_TRUE(IsPKILibraryReady());
    EXPECT_EQ(std::filesystem::current_path().string(), startDir_);
    StopPKIServices();
    EXPECT_EQ(ModuleCSP, nullptr);
    EXPECT_FALSE(IsPKILibraryReady());
    StopPKIServices();  // a second stop finds nothing to do
    ASSERT_TRUE(StartPKIServices(nullptr)) << "starts again after a stop";
}

TEST_F(Pkcs11Bridge, AFailedStartLeavesNothingAndRestoresTheFolder)
{
    // This test program's own folder holds none of the outside libraries.
    DllMain(WemuModuleOfAddress(reinterpret_cast<const void*>(&DistributionModule)), DLL_PROCESS_ATTACH, nullptr);
    EXPECT_FALSE(StartPKIServices(nullptr));
    EXPECT_EQ(ModuleCSP, nullptr);
    EXPECT_FALSE(IsPKILibraryReady());
    EXPECT_EQ(std::filesystem::current_path().string(), startDir_);
    StopPKIServices();
}

TEST_F(Pkcs11Bridge, WrappersFailWithoutAProvider)
{
    PKIHashState state = nullptr;
    std::uint8_t out[64];
    EXPECT_FALSE(BeginDigestGOST34311(nullptr, nullptr, &state));
    EXPECT_FALSE(BeginDigestDSTU7564(32, &state));
    EXPECT_FALSE(DigestPIN(reinterpret_cast<const std::uint8_t*>("1"), 1, out));
    EXPECT_FALSE(VerifyPINDigest(reinterpret_cast<const std::uint8_t*>("1"), 1, out));
    EXPECT_FALSE(FinishDigestGOST34311(&state, out));
    EXPECT_FALSE(PKILibraryHasOptionA());
}

TEST_F(Pkcs11Bridge, Dstu7564WrappersGiveThePublishedAnswers)
{
    Start();
    Bytes counting(64);
    for (int i = 0; i < 64; ++i) counting[i] = static_cast<std::uint8_t>(i);
    struct {
        std::uint32_t length;
        const char* expected;
    } dstu[] = {
        {32, "08F4EE6F1BE6903B324C4E27990CB24EF69DD58DBE84813EE0A52F6631239875"},
        {64, "3813E2109118CDFB5A6D5E72F7208DCCC80A2DFB3AFDFB02F46992B5EDBE536B"
             "3560DD1D7E29C6F53978AF58B444E37BA685C0DD910533BA5D78EFFFC13DE62A"},
    };
    PKIHashState state = nullptr;
    std::uint8_t hash[64];
    for (const auto& d : dstu) {
        ASSERT_TRUE(BeginDigestDSTU7564(d.length, &state));
        ASSERT_TRUE(UpdateDigestDSTU7564(&state, counting.data(), 33));
        ASSERT_TRUE(UpdateDigestDSTU7564(&state, counting.data() + 33, 31));
        ASSERT_TRUE(FinishDigestDSTU7564(&state, hash));
        EXPECT_EQ(Bytes(hash, hash + d.length), Hex(d.expected)) << d.length;
    }
}

TEST_F(Pkcs11Bridge, ReleasedStatesAreGoneAndOtherKindsAreKept)
{
    Start();
    PKIHashState state = nullptr;
    ASSERT_TRUE(BeginDigestDSTU7564(32, &state));
    ReleaseDigestState(1, CKM_DSTU7564_256, &state);  // kind 1 keeps nothing here
    EXPECT_NE(state, nullptr);
    ReleaseDigestState(4, CKM_DSTU7564_256, &state);
    EXPECT_EQ(state, nullptr);
    ASSERT_TRUE(BeginDigestDSTU7564(48, &state));
    ReleaseDigestState(2, CKM_DSTU4145_DSTU7564_384, &state);
    EXPECT_EQ(state, nullptr) << "a sign operation's state goes through its hash family";
    EXPECT_FALSE(FinishDigestDSTU7564(&state, nullptr)) << "no state left to finish";
}

TEST_F(Pkcs11Bridge, PinDigestIsGost34311UnderTheDefaultSBox)
{
    Start();
    const std::string pin = "123123";
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(pin.data());
    std::uint8_t digest[32];
    ASSERT_TRUE(DigestPIN(bytes, 6, digest));
    EXPECT_EQ(Bytes(digest, digest + 32), Hex("34d4da2c04e9c1ceb933282069c864617d94ed7cc5c0a9840c0c1a99629df637"));
    EXPECT_TRUE(VerifyPINDigest(bytes, 6, digest));
    EXPECT_FALSE(VerifyPINDigest(bytes, 5, digest));
    digest[31] ^= 1;
    EXPECT_FALSE(VerifyPINDigest(bytes, 6, digest));
}

TEST_F(Pkcs11Bridge, Gost34311WrappersGiveThePublishedAnswers)
{
    Start();
    const auto testSBox = cryptotest::PackedGostTestSBox();

    const std::string message = "This is message, length=32 bytes";
    const auto* m = reinterpret_cast<const std::uint8_t*>(message.data());
    PKIHashState state = nullptr;
    ASSERT_TRUE(BeginDigestGOST34311(testSBox.data(), nullptr, &state));
    ASSERT_TRUE(UpdateDigestGOST34311(&state, m, 10));
    ASSERT_TRUE(UpdateDigestGOST34311(&state, m + 10, 22));
    std::uint8_t hash[64];
    ASSERT_TRUE(FinishDigestGOST34311(&state, hash));
    EXPECT_EQ(Bytes(hash, hash + 32), Hex("B1C466D37519B82E8319819FF32595E047A28CB6F83EFF1C6916A815A637FFFA"));
}

TEST_F(Pkcs11Bridge, ReleasedGost34311StatesAreGone)
{
    Start();
    PKIHashState state = nullptr;
    ASSERT_TRUE(BeginDigestGOST34311(nullptr, nullptr, &state));
    ReleaseDigestState(3, CKM_DSTU4145_GOST34311, &state);
    EXPECT_EQ(state, nullptr) << "a verify operation's state goes through its hash family";
}

TEST(Pkcs11BridgeAttributes, ValuesDatesAndPadding)
{
    CK_ATTRIBUTE a{};
    std::uint8_t field[600] = {};
    ASSERT_TRUE(MakeUnpaddedAttribute(CKA_VALUE, field, &a));
    EXPECT_EQ(a.type, CKA_VALUE);
    EXPECT_EQ(a.ulValueLen, 0u);
    delete[] static_cast<std::uint8_t*>(a.pValue);
    field[599] = 7;
    ASSERT_TRUE(MakeUnpaddedAttribute(CKA_VALUE, field, &a));
    ASSERT_EQ(a.ulValueLen, 1u);
    EXPECT_EQ(static_cast<std::uint8_t*>(a.pValue)[0], 7);
    delete[] static_cast<std::uint8_t*>(a.pValue);
    field[100] = 1;
    ASSERT_TRUE(MakeUnpaddedAttribute(CKA_VALUE, field, &a));
    EXPECT_EQ(a.ulValueLen, 500u);
    delete[] static_cast<std::uint8_t*>(a.pValue);

    SYSTEMTIME t{};
    t.wYear = 2024;
    t.wMonth = 3;
    t.wDay = 5;
    ASSERT_TRUE(MakeDateAttribute(CKA_START_DATE, &t, &a));
    ASSERT_EQ(a.ulValueLen, 8u);
    EXPECT_EQ(std::string(static_cast<char*>(a.pValue), 8), "20240305");
    delete[] static_cast<std::uint8_t*>(a.pValue);
    EXPECT_FALSE(MakeAttribute(CKA_LABEL, "x", 1, nullptr));
    // An empty made value still owns a buffer: freeing it must release it
    // (the sanitizer run's leak check sees one that stays).
    ASSERT_TRUE(MakeAttribute(CKA_LABEL, nullptr, 0, &a));
    EXPECT_EQ(a.ulValueLen, 0u);
    EXPECT_EQ(FreeAttributeValue(&a), 0u);
    EXPECT_EQ(a.pValue, nullptr);

    const std::uint8_t src[3] = {1, 2, 3};
    std::uint8_t dst[6];
    std::memset(dst, 0xEE, sizeof(dst));
    ASSERT_TRUE(PadLeftCopy(src, 3, dst, 6));
    EXPECT_EQ(Bytes(dst, dst + 6), (Bytes{0, 0, 0, 1, 2, 3}));
    EXPECT_FALSE(PadLeftCopy(src, 3, dst, 2));
}

// A PKI interface that records what the bridge asks of it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
struct FakeObject final : IPKIObject {
    int* live;
    explicit FakeObject(int* counter) : live(counter) { ++*live; }
    int Release() override
    {
        --*live;
        delete this;
        return PKI_OK;
    }
    int QueryInterface(std::uint32_t, void**) override { return PKI_E_NO_INTERFACE; }
    Bytes decoded;
};

struct FakeCodec final : IPKICodec {
    int* live;
    FakeObject* attached = nullptr;
    explicit FakeCodec(int* counter) : live(counter) { ++*live; }
    int Release() override
    {
        --*live;
        delete this;
        return PKI_OK;
    }
    int QueryInterface(std::uint32_t, void**) override { return PKI_E_NO_INTERFACE; }
    int Attach(IPKIObject* object) override
    {
        attached = static_cast<FakeObject*>(object);
        return PKI_OK;
    }
    int Encode(PKIBlob* out) override
    {
        out->length = 3;
        out->data = new std::uint8_t[3]{0x30, 0x01, 0x00};
        return PKI_OK;
    }
    int Decode(const PKIBlob* in) override
    {
        if (in->length == 0) return PKI_E_BAD_ENCODING;
        attached->decoded.assign(in->data, in->data + in->length);
        return PKI_OK;
    }
};

struct FakeInterface final : IPKIInterface {
    int live = 0;
    int freed = 0;
    std::uint32_t version = 264;
    int getVersionResult = PKI_OK;
    int optionA = 1, optionB = 1;
    int Release() override { return PKI_OK; }
    int QueryInterface(std::uint32_t, void**) override { return PKI_E_NO_INTERFACE; }
    int GetVersion(std::uint32_t* v) override
    {
        *v = version;
        return getVersionResult;
    }
    int SetCSP(void*) override { return PKI_OK; }
    int AllocateBlob(PKIBlob*, std::uint32_t) override { return PKI_E_NOT_IMPLEMENTED; }
    int FreeBlob(PKIBlob* blob) override
    {
        ++freed;
        delete[] blob->data;
        *blob = PKIBlob{0, nullptr};
        return PKI_OK;
    }
    int CreateObject(std::uint32_t classId, std::uint32_t interfaceId, void** object) override
    {
        if (classId == PKI_CLASS_CODEC && interfaceId == PKI_IID_CODEC)
            *object = static_cast<IPKIObject*>(new FakeCodec(&live));
        else if (classId == PKI_CLASS_DSTU4145_PUBLIC_KEY)
            *object = static_cast<IPKIObject*>(new FakeObject(&live));
        else
            return PKI_E_UNKNOWN_CLASS;
        return PKI_OK;
    }
    int HasOptionA() override { return optionA; }
    int HasOptionB() override { return optionB; }
};
#pragma GCC diagnostic pop

class Pkcs11BridgeEncoding : public ::testing::Test {
protected:
    void SetUp() override { PKIInterface = &fake; }
    void TearDown() override { PKIInterface = nullptr; }
    FakeInterface fake;
};

TEST_F(Pkcs11BridgeEncoding, EncodingReleasesTheCodecAndFreesTheBlob)
{
    auto* object = new FakeObject(&fake.live);
    CK_ATTRIBUTE a{};
    ASSERT_TRUE(EncodePKIObjectAttribute(CKA_EC_POINT, object, &a));
    EXPECT_EQ(a.type, CKA_EC_POINT);
    ASSERT_EQ(a.ulValueLen, 3u);
    EXPECT_EQ(Bytes(static_cast<std::uint8_t*>(a.pValue), static_cast<std::uint8_t*>(a.pValue) + 3),
              (Bytes{0x30, 0x01, 0x00}));
    delete[] static_cast<std::uint8_t*>(a.pValue);
    EXPECT_EQ(fake.freed, 1);
    EXPECT_EQ(fake.live, 1) << "only the caller's object is left";
    object->Release();
    EXPECT_FALSE(EncodePKIObjectAttribute(CKA_EC_POINT, nullptr, &a));
}

TEST_F(Pkcs11BridgeEncoding, DecodingHandsOverTheObjectOrReleasesEverything)
{
    const std::uint8_t data[4] = {4, 3, 2, 1};
    IPKIObject* out = nullptr;
    ASSERT_TRUE(DecodePKIObject(data, 4, PKI_CLASS_DSTU4145_PUBLIC_KEY, PKI_IID_DSTU4145_PUBLIC_KEY, &out));
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(static_cast<FakeObject*>(out)->decoded, Bytes(data, data + 4));
    EXPECT_EQ(fake.live, 1);
    out->Release();
    EXPECT_FALSE(DecodePKIObject(data, 0, PKI_CLASS_DSTU4145_PUBLIC_KEY, PKI_IID_DSTU4145_PUBLIC_KEY, &out));
    EXPECT_EQ(out, nullptr);
    EXPECT_FALSE(DecodePKIObject(data, 4, 1, 2, &out));
    EXPECT_EQ(fake.live, 0) << "every object of a failed decoding is released";
}

TEST_F(Pkcs11BridgeEncoding, OptionsCountOnlyAboveVersion264)
{
    EXPECT_FALSE(PKILibraryHasOptionA());
    EXPECT_FALSE(PKILibraryHasOptionB());
    fake.version = 265;
    EXPECT_TRUE(PKILibraryHasOptionA());
    EXPECT_TRUE(PKILibraryHasOptionB());
    fake.optionB = 0;
    EXPECT_FALSE(PKILibraryHasOptionB());
    fake.getVersionResult = PKI_E_FAILURE;
    EXPECT_FALSE(PKILibraryHasOptionA());
}

}  // namespace
