// The provider's hardware paths (no private key given) through a recording
// fake of the hardware object: which operation is asked, with which
// arguments, after which feature probes, and how its answers map.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "CSPProviderFixture.h"

namespace {

using namespace csptest;

class RecordingHardware : public FakeHardware {
public:
    // Features (m = 0 questions) answered yes.
    std::vector<std::uint32_t> features;
    bool answer = true;
    std::vector<std::string> calls;
    // What the last call saw.
    std::uint32_t firstFieldWord = 0, cofactorWord = 0, hashLength = 0;
    const std::uint8_t* signatureArgument = nullptr;
    std::uint8_t blockKey[76] = {};
    const void* args[4] = {};
    std::uint32_t* lengthArgument = nullptr;

    bool Feature(const DSTU4145FieldRecord* field, const DSTU4145PointRecord* point)
    {
        const std::uint32_t f = point->words[DSTU4145_POINT_BITS];
        calls.push_back("feature " + std::to_string(f));
        (void)field;
        for (std::uint32_t x : features)
            if (x == f) return true;
        return false;
    }
    int GenerateSignatureKeyPair(const DSTU4145FieldRecord* field, const DSTU4145PointRecord* point,
                                 std::uint8_t* publicKey) override
    {
        if (publicKey == nullptr && field->words[DSTU4145_FIELD_M] == 0) return Feature(field, point) ? 1 : 0;
        calls.push_back("generate signature");
        return answer;
    }
    int GenerateAgreementKeyPair(const DSTU4145FieldRecord* field, const DSTU4145PointRecord* point,
                                 std::uint8_t* publicKey) override
    {
        if (publicKey == nullptr && field->words[DSTU4145_FIELD_M] == 0) return Feature(field, point) ? 1 : 0;
        calls.push_back("generate agreement");
        return answer;
    }
    int SignHash(const DSTU4145FieldRecord* field, const DSTU4145PointRecord*, const std::uint8_t*,
                 std::uint8_t* signature) override
    {
        calls.push_back("sign");
        cofactorWord = field->words[DSTU4145_FIELD_COFACTOR];
        std::memcpy(blockKey, reinterpret_cast<const std::uint8_t*>(field) + 100, 76);
        signatureArgument = signature;
        // A signer writes its output: a verification request must not let
        // that reach the caller's signature.
        std::memset(signature, 0xAB, 152);
        return answer;
    }
    int SignHashEx(const DSTU4145FieldRecord*, const DSTU4145PointRecord*, std::uint32_t length, const std::uint8_t*,
                   std::uint8_t*) override
    {
        calls.push_back("sign ex");
        hashLength = length;
        return answer;
    }
    int EncryptSessionKey(const DSTU4145FieldRecord*, const DSTU4145PointRecord*, const std::uint8_t*,
                          const std::uint8_t*, std::uint8_t*, std::uint32_t, std::uint8_t*) override
    {
        calls.push_back("encrypt session key");
        return answer;
    }
    int DecryptSessionKey(const DSTU4145FieldRecord* field, const DSTU4145PointRecord*, const std::uint8_t*,
                          const std::uint8_t*, std::uint8_t*, std::uint32_t, const std::uint8_t*) override
    {
        calls.push_back("decrypt session key");
        firstFieldWord = field->words[0];
        return answer;
    }
    int UnwrapKeyGOST28147(const void* field, const void*, const std::uint8_t*, int, const std::uint8_t*, std::uint32_t,
                           const void*, const void*, const std::uint8_t*, std::uint8_t*) override
    {
        calls.push_back("unwrap gost");
        firstFieldWord = static_cast<const DSTU4145FieldRecord*>(field)->words[0];
        return answer;
    }
    int WrapKeyDSTU7624(const void*, const void*, const std::uint8_t*, int, const std::uint8_t*, std::uint32_t,
                        const void*, const std::uint8_t*, const void*, std::uint8_t*, std::uint32_t* length) override
    {
        calls.push_back("wrap dstu");
        lengthArgument = length;
        return answer;
    }
    int SetSBox(const void* a, const void* b, const void* c, const std::uint8_t* sBox) override
    {
        calls.push_back("sbox");
        args[0] = a;
        args[1] = b;
        args[2] = c;
        args[3] = sBox;
        return answer;
    }
    int MakeSignS(const DSTU4145FieldRecord*, const DSTU4145PointRecord*, const std::uint8_t*, const std::uint8_t*,
                  std::uint8_t*) override
    {
        calls.push_back("make s");
        return answer;
    }
    int QuerySignaturePublicKey(DSTU4145FieldRecord*, DSTU4145PointRecord*, std::uint8_t*) override
    {
        calls.push_back("query signature key");
        return answer;
    }
};

class HardwarePathTest : public ProviderTest {
protected:
    void SetUp() override
    {
        ProviderTest::SetUp();
        context.hardware = &hw;
        curve = StandardCurve(0);
    }
    std::string Calls() const
    {
        std::string all;
        for (const std::string& c : hw.calls) all += (all.empty() ? "" : ", ") + c;
        return all;
    }
    RecordingHardware hw;
    Curve curve{};
    std::uint8_t hash[64] = {1, 2, 3};
    std::uint8_t signature[152] = {};
};

TEST_F(HardwarePathTest, SigningGoesToTheHardwareAndMapsItsAnswer)
{
    EXPECT_EQ(csp->SignHashDSTU4145Ctx(&context, hash, &curve.field, &curve.point, nullptr, signature), CSP_OK);
    EXPECT_EQ(Calls(), "sign");
    hw.answer = false;
    EXPECT_EQ(csp->SignHashDSTU4145Ctx(&context, hash, &curve.field, &curve.point, nullptr, signature),
              CSP_HARDWARE_ERROR);
    // A damaged curve never reaches the hardware.
    hw.calls.clear();
    Curve bad = curve;
    bad.field.words[1] ^= 2;
    EXPECT_EQ(csp->SignHashDSTU4145Ctx(&context, hash, &bad.field, &bad.point, nullptr, signature), CSP_BAD_PARAMETERS);
    EXPECT_EQ(Calls(), "");
}

TEST_F(HardwarePathTest, ExplicitHashLengthsFollowFeature17)
{
    hw.features = {17};
    EXPECT_EQ(csp->SignHashDSTU4145ExCtx(&context, 48, hash, &curve.field, &curve.point, nullptr, signature), CSP_OK);
    EXPECT_EQ(Calls(), "feature 17, sign ex");
    EXPECT_EQ(hw.hashLength, 48u);
    hw.features.clear();
    hw.calls.clear();
    EXPECT_EQ(csp->SignHashDSTU4145ExCtx(&context, 32, hash, &curve.field, &curve.point, nullptr, signature), CSP_OK);
    EXPECT_EQ(Calls(), "feature 17, sign");
    EXPECT_EQ(csp->SignHashDSTU4145ExCtx(&context, 48, hash, &curve.field, &curve.point, nullptr, signature),
              CSP_LIBRARY_ERROR);
}

TEST_F(HardwarePathTest, DelegatedVerificationSendsTheMarkedBlockAndACopyOfTheSignature)
{
    Curve c = curve;
    const KeyPair k = Generate(c);
    std::memset(signature, 0x11, sizeof signature);
    // Without feature 2 the verification stays in software.
    EXPECT_EQ(csp->VerifyHashSignatureDSTU4145Ctx(&context, hash, &c.field, &c.point, k.pub, signature),
              CSP_INVALID_SIGNATURE);
    EXPECT_EQ(Calls(), "feature 2");
    hw.features = {2};
    hw.calls.clear();
    EXPECT_EQ(csp->VerifyHashSignatureDSTU4145Ctx(&context, hash, &c.field, &c.point, k.pub, signature), CSP_OK);
    EXPECT_EQ(Calls(), "feature 2, sign");
    EXPECT_EQ(hw.cofactorWord, 0xFFFFFFFFu);
    EXPECT_EQ(0, std::memcmp(hw.blockKey, k.pub, 76));
    EXPECT_NE(hw.signatureArgument, signature);
    for (std::uint8_t b : signature) ASSERT_EQ(b, 0x11) << "the caller's signature is untouched";
    hw.answer = false;
    EXPECT_EQ(csp->VerifyHashSignatureDSTU4145Ctx(&context, hash, &c.field, &c.point, k.pub, signature),
              CSP_INVALID_SIGNATURE);
}

TEST_F(HardwarePathTest, FeatureQueriesAndKeyPairs)
{
    DSTU4145FieldRecord field{};
    DSTU4145PointRecord point{};
    point.words[DSTU4145_POINT_BITS] = 16;
    EXPECT_EQ(csp->GenerateSignatureKeyPairDSTU4145Ctx(&context, &field, &point, nullptr, nullptr), CSP_OK);
    EXPECT_EQ(Calls(), "");
    point.words[DSTU4145_POINT_BITS] = 17;
    EXPECT_EQ(csp->GenerateSignatureKeyPairDSTU4145Ctx(&context, &field, &point, nullptr, nullptr), CSP_HARDWARE_ERROR);
    EXPECT_EQ(Calls(), "feature 17");
    std::uint8_t pub[76];
    hw.calls.clear();
    EXPECT_EQ(csp->GenerateAgreementKeyPairDSTU4145Ctx(&context, &curve.field, &curve.point, nullptr, pub), CSP_OK);
    EXPECT_EQ(Calls(), "generate agreement");
    // The public key of a key held by the hardware needs feature 11.
    hw.calls.clear();
    EXPECT_EQ(csp->GetSignaturePublicKeyDSTU4145Ctx(&context, &curve.field, &curve.point, nullptr, pub),
              CSP_LIBRARY_ERROR);
    hw.features = {11};
    EXPECT_EQ(csp->GetSignaturePublicKeyDSTU4145Ctx(&context, &curve.field, &curve.point, nullptr, pub), CSP_OK);
    EXPECT_EQ(Calls(), "feature 11, feature 11, query signature key");
}

TEST_F(HardwarePathTest, EveryFeatureNumberIsAnsweredByTheProviderOrAskedOfTheHardware)
{
    // The provider answers 8, 10, 12, 13, 15, 16, 18, 19, 20, 22 and 23 itself
    // and 24 through the library; every other number, and every number in
    // the agreement form, is the hardware's to answer (here: no).
    const std::vector<std::uint32_t> own = {8, 10, 12, 13, 15, 16, 18, 19, 20, 22, 23, 24};
    for (std::uint32_t feature = 0; feature <= 32; ++feature) {
        SCOPED_TRACE(feature);
        const bool answeredHere = std::find(own.begin(), own.end(), feature) != own.end();
        DSTU4145FieldRecord field{};
        DSTU4145PointRecord point{};
        point.words[DSTU4145_POINT_BITS] = feature;
        hw.calls.clear();
        EXPECT_EQ(csp->GenerateSignatureKeyPairDSTU4145Ctx(&context, &field, &point, nullptr, nullptr),
                  answeredHere ? CSP_OK : CSP_HARDWARE_ERROR);
        EXPECT_EQ(Calls(), answeredHere ? "" : "feature " + std::to_string(feature));
        hw.calls.clear();
        EXPECT_EQ(csp->GenerateAgreementKeyPairDSTU4145Ctx(&context, &field, &point, nullptr, nullptr),
                  CSP_HARDWARE_ERROR);
        EXPECT_EQ(Calls(), "feature " + std::to_string(feature));
    }
}

TEST_F(HardwarePathTest, SessionKeyTransportOnTheHardware)
{
    std::uint8_t ukm[8] = {}, data[32] = {}, mac[4] = {};
    const GOST28147PackedSBox& box = DefaultSBox();
    // Without a MAC the hardware must offer feature 3.
    EXPECT_EQ(csp->EncryptSessionKeyCtx(&context, &curve.field, &curve.point, nullptr, data, ukm, &box, nullptr, data,
                                        32, nullptr),
              CSP_BAD_ARGUMENT);
    EXPECT_EQ(Calls(), "feature 3");
    hw.calls.clear();
    EXPECT_EQ(csp->EncryptSessionKeyCtx(&context, &curve.field, &curve.point, nullptr, data, ukm, &box, nullptr, data,
                                        32, mac),
              CSP_OK);
    EXPECT_EQ(Calls(), "encrypt session key");
    // The key transforms 32 bytes in place: less is refused before it is asked.
    hw.calls.clear();
    EXPECT_EQ(csp->EncryptSessionKeyCtx(&context, &curve.field, &curve.point, nullptr, data, ukm, &box, nullptr, data,
                                        16, mac),
              CSP_BAD_ARGUMENT);
    EXPECT_EQ(csp->DecryptSessionKeyCtx(&context, &curve.field, &curve.point, nullptr, data, ukm, &box, nullptr, data,
                                        24, mac),
              CSP_BAD_ARGUMENT);
    EXPECT_EQ(Calls(), "");
    // The capability question (no UKM, data or MAC, length 0) still reaches it.
    EXPECT_EQ(csp->DecryptSessionKeyCtx(&context, &curve.field, &curve.point, nullptr, data, nullptr, &box, nullptr,
                                        nullptr, 0, nullptr),
              CSP_OK);
    EXPECT_EQ(Calls(), "decrypt session key");
}

TEST_F(HardwarePathTest, UnwrapFlagReachesTheHardwareButNeverTheLibrary)
{
    Curve flagged = curve;
    flagged.field.words[0] |= 0x80000000u;
    const std::uint32_t word = flagged.field.words[0];
    std::uint8_t wrapped[44] = {}, key[32] = {};
    EXPECT_EQ(csp->UnwrapKeyGOST28147Ctx(&context, &flagged.field, &flagged.point, nullptr, key, 0, wrapped, 8, nullptr,
                                         nullptr, nullptr, wrapped, key),
              CSP_OK);
    EXPECT_EQ(hw.firstFieldWord, word);
    EXPECT_EQ(flagged.field.words[0], word) << "the caller's record keeps its flag";
    std::uint8_t ukm[8] = {}, mac[4] = {}, data[32] = {};
    EXPECT_EQ(csp->DecryptSessionKeyCtx(&context, &flagged.field, &flagged.point, nullptr, key, ukm, &DefaultSBox(),
                                        nullptr, data, 32, mac),
              CSP_OK);
    EXPECT_EQ(hw.firstFieldWord, word);
    // On the software path the library gets the record without the flag (it
    // would refuse A > 1), and the caller's record still has it.
    const KeyPair a = Generate(curve, false), b = Generate(curve, false);
    std::uint8_t sent[32] = {1, 2, 3};
    ASSERT_EQ(csp->EncryptSessionKeyCtx(&context, &curve.field, &curve.point, a.priv, b.pub, ukm, &DefaultSBox(),
                                        nullptr, sent, 32, mac),
              CSP_OK);
    EXPECT_EQ(csp->DecryptSessionKeyCtx(&context, &flagged.field, &flagged.point, b.priv, a.pub, ukm, &DefaultSBox(),
                                        nullptr, sent, 32, mac),
              CSP_OK);
    EXPECT_EQ(sent[0], 1);
    EXPECT_EQ(flagged.field.words[0], word);
}

TEST_F(HardwarePathTest, DstuWrapNeedsFeature21AndPassesEveryArgument)
{
    std::uint8_t key[32] = {}, wrapped[96];
    std::uint32_t length = 0;
    EXPECT_EQ(csp->WrapKeyDSTU7624Ctx(&context, &curve.field, &curve.point, nullptr, key, 1, key, 8, nullptr, key,
                                      nullptr, wrapped, &length),
              CSP_HARDWARE_ERROR);
    EXPECT_EQ(Calls(), "feature 21");
    hw.features = {21};
    hw.calls.clear();
    EXPECT_EQ(csp->WrapKeyDSTU7624Ctx(&context, &curve.field, &curve.point, nullptr, key, 1, key, 8, nullptr, key,
                                      nullptr, wrapped, &length),
              CSP_OK);
    EXPECT_EQ(Calls(), "feature 21, wrap dstu");
    EXPECT_EQ(hw.lengthArgument, &length);
}

TEST_F(HardwarePathTest, TwoPartySStepNeedsFeature14)
{
    std::uint8_t e[76] = {}, r[76] = {}, s[76];
    EXPECT_EQ(csp->MakeSignSDSTU4145Ctx(&context, &curve.field, &curve.point, nullptr, e, r, s), CSP_LIBRARY_ERROR);
    EXPECT_EQ(Calls(), "feature 14");
    hw.features = {14};
    hw.calls.clear();
    EXPECT_EQ(csp->MakeSignSDSTU4145Ctx(&context, &curve.field, &curve.point, nullptr, e, r, s), CSP_OK);
    EXPECT_EQ(Calls(), "feature 14, make s");
}

TEST_F(HardwarePathTest, SBoxAndStoredValue)
{
    int a = 0, b = 0, c = 0;
    const std::uint8_t* box = reinterpret_cast<const std::uint8_t*>(&DefaultSBox());
    EXPECT_EQ(csp->SetHardwareSBoxCtx(&context, &a, &b, &c, box), CSP_OK);
    EXPECT_EQ(hw.args[0], &a);
    EXPECT_EQ(hw.args[1], &b);
    EXPECT_EQ(hw.args[2], &c);
    EXPECT_EQ(hw.args[3], box);
    CSPContext none{nullptr, nullptr, nullptr};
    EXPECT_EQ(csp->SetHardwareSBoxCtx(&none, &a, &b, &c, box), CSP_OK);
    std::uint8_t value[32];
    EXPECT_EQ(csp->HashDataGOST34311Ctx(&context, nullptr, 0, &DefaultSBox(), nullptr, value), CSP_OK);
    EXPECT_EQ(value[0], 0xC0);
    hw.storedHashWorks = false;
    EXPECT_EQ(csp->HashDataGOST34311Ctx(&context, nullptr, 0, &DefaultSBox(), nullptr, value), CSP_HARDWARE_ERROR);
}

}  // namespace
