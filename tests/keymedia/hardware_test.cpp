// The on-key CSP hardware object and random generator, reached as a crypto
// provider reaches them: through GetInfo of an open full-key device object,
// on the emulated key behind the in-process PC/SC double. Signatures are
// checked with the independent DSTU 4145 engine.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "KMTestSupport.h"
#include "device/DeviceProtocol.h"
#include "dstu4145/DSTU4145.h"
#include "support/CSPParameters.h"
#include "support/ICSPHardware.h"

namespace {

namespace pd = keyemu::pcscdouble;

constexpr char kSerial[] = "314159";
constexpr char kPassword[] = "1234";

struct Curve {
    DSTU4145FieldRecord field{};
    DSTU4145PointRecord point{};
    std::uint32_t FieldBytes() const { return (field.words[DSTU4145_FIELD_M] + 7) / 8; }
};

Curve StandardCurve(unsigned index)
{
    Curve c;
    CSPParameters parameters;
    EXPECT_EQ(parameters.GetStandardCurve(1, index, &c.field, &c.point), 1);
    return c;
}

// Question form of the key-pair operations: m = 0, the code in point word 38.
Curve Question(std::uint32_t code)
{
    Curve c;
    c.point.words[DSTU4145_POINT_BITS] = code;
    return c;
}

class HardwareTest : public kmtest::KMTest {
protected:
    void SetUp() override
    {
        KMTest::SetUp();
        reader_ = AddKey(std::atoi(kSerial), 18, 0x200, kPassword);
        device_ = FullKey();
        ASSERT_NE(device_, nullptr);
        OpenKey();
        int caps = 0;
        void* objects[2] = {nullptr, nullptr};
        ASSERT_EQ(device_->GetInfo(nullptr, &caps, objects), KM_OK);
        hardware_ = static_cast<ICSPHardware*>(objects[0]);
        random_ = static_cast<ICSPHardwareRNG*>(objects[1]);
        ASSERT_NE(hardware_, nullptr);
        ASSERT_NE(random_, nullptr);
    }
    void TearDown() override
    {
        if (device_ != nullptr) device_->Close(nullptr);
        device_.reset();
        KMTest::TearDown();
    }

    void OpenKey()
    {
        char serial[sizeof kSerial];
        char password[sizeof kPassword];
        std::memcpy(serial, kSerial, sizeof serial);
        std::memcpy(password, kPassword, sizeof password);
        ASSERT_EQ(device_->Open(serial, password, 0), KM_OK);
    }

    int Commands(int command) const
    {
        int n = 0;
        for (const std::string& line : pd::CommandLog(reader_)) {
            int cmd = -1;
            if (std::sscanf(line.c_str(), "cmd=%d", &cmd) == 1 && cmd == command) ++n;
        }
        return n;
    }

    std::string reader_;
    kmtest::Device device_;
    ICSPHardware* hardware_ = nullptr;
    ICSPHardwareRNG* random_ = nullptr;
};

void ExpectZeroFrom(const std::uint8_t* key, std::size_t from)
{
    for (std::size_t i = from; i < 76; ++i) {
        EXPECT_EQ(key[i], 0) << "byte " << i;
    }
}

TEST_F(HardwareTest, KeyPairOnStandardCurve0SignsWhatTheEngineVerifies)
{
    Curve curve = StandardCurve(0);
    const std::uint32_t keyBytes = curve.FieldBytes();
    std::uint8_t publicKey[76];
    std::memset(publicKey, 0xCC, sizeof publicKey);
    ASSERT_EQ(hardware_->GenerateSignatureKeyPair(&curve.field, &curve.point, publicKey), 1);
    ExpectZeroFrom(publicKey, keyBytes);

    // The key's curve comes back from a zeroed request; a standard curve is
    // recognised from the first chunk of the parameters alone.
    pd::ClearCommandLog(reader_);
    Curve asked;
    std::uint8_t queried[76];
    std::memset(queried, 0xCC, sizeof queried);
    ASSERT_EQ(hardware_->QuerySignaturePublicKey(&asked.field, &asked.point, queried), 1);
    EXPECT_EQ(std::memcmp(queried, publicKey, sizeof publicKey), 0);
    EXPECT_EQ(std::memcmp(&asked.field, &curve.field, sizeof asked.field), 0);
    EXPECT_EQ(std::memcmp(&asked.point, &curve.point, DSTU4145_POINT_BITS * 4), 0);
    EXPECT_EQ(Commands(KEYCMD_READ_SIGN_KEY_PARAMS), 1);

    dstu4145::Curve engineCurve;
    ASSERT_EQ(dstu4145::CurveFromRecords(curve.field.words, curve.point.words, engineCurve), dstu4145::Result::Ok);
    auto engine = dstu4145::Engine::Create(engineCurve);
    ASSERT_NE(engine, nullptr);
    ASSERT_EQ(engine->CheckPublicKey(dstu4145::ByteSpan(publicKey, keyBytes)), dstu4145::Result::Ok);

    std::uint8_t hash[32];
    for (int i = 0; i < 32; ++i) hash[i] = static_cast<std::uint8_t>(0x31 * i + 7);
    std::uint8_t signature[144] = {};
    ASSERT_EQ(hardware_->SignHash(&curve.field, nullptr, hash, signature), 1);
    EXPECT_EQ(engine->Verify(dstu4145::ByteSpan(hash, 32), dstu4145::ByteSpan(publicKey, keyBytes),
                             dstu4145::ByteSpan(signature, sizeof signature)),
              dstu4145::Result::Ok);
    hash[5] ^= 1;
    EXPECT_EQ(engine->Verify(dstu4145::ByteSpan(hash, 32), dstu4145::ByteSpan(publicKey, keyBytes),
                             dstu4145::ByteSpan(signature, sizeof signature)),
              dstu4145::Result::BadSignature);

    // SignHashEx with a 48-byte hash on a version-18 key.
    std::uint8_t longHash[48];
    for (int i = 0; i < 48; ++i) longHash[i] = static_cast<std::uint8_t>(0x5B ^ i);
    ASSERT_EQ(hardware_->SignHashEx(&curve.field, nullptr, sizeof longHash, longHash, signature), 1);
    EXPECT_EQ(engine->Verify(dstu4145::ByteSpan(longHash, 48), dstu4145::ByteSpan(publicKey, keyBytes),
                             dstu4145::ByteSpan(signature, sizeof signature)),
              dstu4145::Result::Ok);
}

TEST_F(HardwareTest, QueryRefusesAnotherCurveAndCheckComparesTheFieldBytes)
{
    Curve curve = StandardCurve(0);
    std::uint8_t publicKey[76];
    ASSERT_EQ(hardware_->GenerateSignatureKeyPair(&curve.field, &curve.point, publicKey), 1);

    std::uint8_t out[76];
    Curve otherN = curve;
    otherN.point.words[DSTU4145_POINT_N] ^= 2;
    EXPECT_EQ(hardware_->QuerySignaturePublicKey(&otherN.field, &otherN.point, out), 0);
    Curve otherCurve = StandardCurve(1);
    EXPECT_EQ(hardware_->QuerySignaturePublicKey(&otherCurve.field, &otherCurve.point, out), 0);
    // The key's own curve given by the caller: accepted, with or without n.
    EXPECT_EQ(hardware_->QuerySignaturePublicKey(&curve.field, &curve.point, out), 1);
    EXPECT_EQ(hardware_->QuerySignaturePublicKey(&curve.field, nullptr, out), 1);
    // A zeroed request needs the point record to fill.
    Curve zeroed;
    EXPECT_EQ(hardware_->QuerySignaturePublicKey(&zeroed.field, nullptr, out), 0);

    // 163 bits: 21 bytes are compared, whatever follows them.
    std::uint8_t given[76];
    std::memcpy(given, publicKey, sizeof given);
    given[21] ^= 0xFF;
    given[75] ^= 0xFF;
    EXPECT_EQ(hardware_->CheckSignaturePublicKey(&curve.field, nullptr, given), 1);
    given[20] ^= 1;
    EXPECT_EQ(hardware_->CheckSignaturePublicKey(&curve.field, nullptr, given), 0);
    // No agreement key yet.
    EXPECT_EQ(hardware_->CheckAgreementPublicKey(&curve.field, nullptr, publicKey), 0);
}

TEST_F(HardwareTest, CheckPublicKeyNeverComparesPastTheKeysSize)
{
    Curve curve = StandardCurve(0);
    std::uint8_t signatureKey[76], agreementKey[76];
    ASSERT_EQ(hardware_->GenerateSignatureKeyPair(&curve.field, &curve.point, signatureKey), 1);
    ASSERT_EQ(hardware_->GenerateAgreementKeyPair(&curve.field, &curve.point, agreementKey), 1);

    // A field degree whose byte count exceeds what the key holds (64 bytes
    // for a signature key, 72 for an agreement key): the bytes after the
    // key's size are not part of the comparison.
    Curve wide = curve;
    wide.field.words[DSTU4145_FIELD_M] = 599;  // 75 bytes
    std::memset(signatureKey + 64, 0xEE, 12);
    std::memset(agreementKey + 72, 0xEE, 4);
    EXPECT_EQ(hardware_->CheckSignaturePublicKey(&wide.field, nullptr, signatureKey), 1);
    EXPECT_EQ(hardware_->CheckAgreementPublicKey(&wide.field, nullptr, agreementKey), 1);
    agreementKey[71] ^= 1;
    EXPECT_EQ(hardware_->CheckAgreementPublicKey(&wide.field, nullptr, agreementKey), 0);
}

TEST_F(HardwareTest, SharedAgreementKeyStillYieldsAPublicKey)
{
    Curve curve = StandardCurve(0);
    Curve shared = Question(6);
    ASSERT_EQ(hardware_->GenerateSignatureKeyPair(&shared.field, &shared.point, nullptr), 1);
    std::uint8_t signatureKey[76];
    ASSERT_EQ(hardware_->GenerateSignatureKeyPair(&curve.field, &curve.point, signatureKey), 1);

    pd::ClearCommandLog(reader_);
    std::uint8_t agreementKey[76];
    std::memset(agreementKey, 0xAA, sizeof agreementKey);
    ASSERT_EQ(hardware_->GenerateAgreementKeyPair(&curve.field, &curve.point, agreementKey), 1);
    EXPECT_EQ(Commands(KEYCMD_GENERATE_AGREE_KEY), 0);
    ExpectZeroFrom(agreementKey, curve.FieldBytes());

    // What the key reports for key agreement, else the signature key.
    Curve asked;
    std::uint8_t reported[76];
    if (hardware_->QueryAgreementPublicKey(&asked.field, &asked.point, reported) == 1) {
        EXPECT_EQ(std::memcmp(agreementKey, reported, sizeof reported), 0);
    } else {
        EXPECT_EQ(std::memcmp(agreementKey, signatureKey, sizeof signatureKey), 0);
    }

    // Back to a separate agreement key: generated on the key.
    Curve separate = Question(5);
    ASSERT_EQ(hardware_->GenerateAgreementKeyPair(&separate.field, &separate.point, nullptr), 1);
    ASSERT_EQ(hardware_->GenerateAgreementKeyPair(&curve.field, &curve.point, agreementKey), 1);
    EXPECT_GT(Commands(KEYCMD_GENERATE_AGREE_KEY), 0);
}

TEST_F(HardwareTest, QuestionsAndUnofferedOperations)
{
    struct Case {
        std::uint32_t m, bits;
        int signature, agreement;
    } const cases[] = {
        {0, 11, 1, 0},    {0, 17, 1, 0},    {0, 21, 1, 0},    {0, 25, 1, 0},    {0, 99, 0, 0},
        {163, 163, 1, 1}, {131, 509, 1, 1}, {131, 510, 0, 1}, {131, 571, 0, 1}, {131, 572, 0, 0},
    };
    for (const Case& c : cases) {
        Curve q = Question(c.bits);
        q.field.words[DSTU4145_FIELD_M] = c.m;
        EXPECT_EQ(hardware_->GenerateSignatureKeyPair(&q.field, &q.point, nullptr), c.signature)
            << c.m << "/" << c.bits;
        EXPECT_EQ(hardware_->GenerateAgreementKeyPair(&q.field, &q.point, nullptr), c.agreement)
            << c.m << "/" << c.bits;
    }
    EXPECT_EQ(hardware_->DecryptSessionKey(nullptr, nullptr, nullptr, nullptr, nullptr, 0, nullptr), 1);
    EXPECT_EQ(
        hardware_->UnwrapKeyGOST28147(nullptr, nullptr, nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(hardware_->Reserved11(), 0);
    EXPECT_EQ(hardware_->Reserved15(), 0);
    EXPECT_EQ(hardware_->Reserved19(), 0);
    std::uint8_t s[72] = {};
    EXPECT_EQ(hardware_->MakeSignS(nullptr, nullptr, s, s, s), 0);
}

TEST_F(HardwareTest, StoredValueIsMadeOnceAndThenKept)
{
    std::uint8_t first[32] = {}, second[32] = {};
    ASSERT_EQ(hardware_->GetStoredHash(first), 1);
    ASSERT_EQ(hardware_->GetStoredHash(second), 1);
    EXPECT_EQ(std::memcmp(first, second, 32), 0);
    EXPECT_NE(std::count(first, first + 32, 0), 32);
}

TEST_F(HardwareTest, RandomGeneratorFillsExactlyTheRequestedLength)
{
    for (std::uint32_t length : {1u, 7u, 55u, 63u, 64u, 300u, 4096u}) {
        std::vector<std::uint8_t> buffer(length + 16, 0x5A);
        ASSERT_EQ(random_->GenerateRandom(buffer.data(), length), 1) << length;
        for (std::uint32_t i = length; i < buffer.size(); ++i) {
            ASSERT_EQ(buffer[i], 0x5A) << "written past " << length;
        }
        if (length >= 32) {
            EXPECT_GT(std::count_if(buffer.begin(), buffer.begin() + length, [](std::uint8_t b) { return b != 0x5A; }),
                      static_cast<long>(length) / 2);
        }
    }
    std::uint8_t a[32], b[32];
    ASSERT_EQ(random_->GenerateRandom(a, sizeof a), 1);
    ASSERT_EQ(random_->GenerateRandom(b, sizeof b), 1);
    EXPECT_NE(std::memcmp(a, b, sizeof a), 0);
}

// A provider may keep both objects across Close; they must fail rather than
// reach the freed connection, and work again once the key is reopened.
TEST_F(HardwareTest, ObjectsAreUnboundAtCloseAndReboundAtOpen)
{
    ASSERT_EQ(device_->Close(nullptr), KM_OK);
    std::uint8_t buffer[64] = {};
    Curve curve = StandardCurve(0);
    Curve asked;
    std::uint8_t hash[32] = {1};
    EXPECT_EQ(random_->GenerateRandom(buffer, sizeof buffer), 0);
    EXPECT_EQ(hardware_->QuerySignaturePublicKey(&asked.field, &asked.point, buffer), 0);
    EXPECT_EQ(hardware_->SignHash(&curve.field, nullptr, hash, buffer), 0);
    EXPECT_EQ(hardware_->GenerateSignatureKeyPair(&curve.field, &curve.point, buffer), 0);
    EXPECT_EQ(hardware_->GetStoredHash(buffer), 0);

    OpenKey();
    EXPECT_EQ(random_->GenerateRandom(buffer, sizeof buffer), 1);
    std::uint8_t publicKey[76];
    EXPECT_EQ(hardware_->GenerateSignatureKeyPair(&curve.field, &curve.point, publicKey), 1);

    // Objects handed out again are the same objects.
    void* objects[2] = {nullptr, nullptr};
    ASSERT_EQ(device_->GetInfo(nullptr, nullptr, objects), KM_OK);
    EXPECT_EQ(objects[0], static_cast<void*>(hardware_));
    EXPECT_EQ(objects[1], static_cast<void*>(random_));
}

// Two keys agree on a key from each other's public keys: what one
// transports, wraps or MACs, the other recovers and checks.
TEST_F(HardwareTest, TwoKeysTransportAndWrapKeysForEachOther)
{
    const char peerSerial[] = "271829";
    std::string peerReader = AddKey(std::atoi(peerSerial), 18, 0x200, "5678");
    kmtest::Device peer = OpenFullKey(peerSerial, "5678");
    void* objects[2] = {nullptr, nullptr};
    ASSERT_EQ(peer->GetInfo(nullptr, nullptr, objects), KM_OK);
    auto* peerHardware = static_cast<ICSPHardware*>(objects[0]);

    Curve curve = StandardCurve(0);
    std::uint8_t ours[76] = {}, theirs[76] = {};
    ASSERT_EQ(hardware_->GenerateAgreementKeyPair(&curve.field, &curve.point, ours), 1);
    ASSERT_EQ(peerHardware->GenerateAgreementKeyPair(&curve.field, &curve.point, theirs), 1);
    const std::uint8_t ukm[8] = {1, 2, 3, 4, 5, 6, 7, 8};

    std::uint8_t sessionKey[32], transported[32], mac[4] = {};
    for (int i = 0; i < 32; ++i) sessionKey[i] = static_cast<std::uint8_t>(200 - i);
    std::memcpy(transported, sessionKey, sizeof transported);
    ASSERT_EQ(hardware_->EncryptSessionKey(&curve.field, &curve.point, theirs, ukm, transported, 32, mac), 1);
    EXPECT_NE(std::memcmp(transported, sessionKey, 32), 0);
    std::uint8_t received[32];
    std::memcpy(received, transported, sizeof received);
    ASSERT_EQ(peerHardware->DecryptSessionKey(&curve.field, &curve.point, ours, ukm, received, 32, mac), 1);
    EXPECT_EQ(std::memcmp(received, sessionKey, 32), 0);
    std::uint8_t badMac[4];
    std::memcpy(badMac, mac, 4);
    badMac[0] ^= 1;
    std::memcpy(received, transported, sizeof received);
    EXPECT_EQ(peerHardware->DecryptSessionKey(&curve.field, &curve.point, ours, ukm, received, 32, badMac), 0);

    std::uint8_t wrappedOld[44], unwrapped[32] = {};
    ASSERT_EQ(
        hardware_->WrapKeyGOST28147(nullptr, nullptr, theirs, 0, ukm, 8, nullptr, nullptr, sessionKey, wrappedOld), 1);
    ASSERT_EQ(
        peerHardware->UnwrapKeyGOST28147(nullptr, nullptr, ours, 0, ukm, 8, nullptr, nullptr, wrappedOld, unwrapped),
        1);
    EXPECT_EQ(std::memcmp(unwrapped, sessionKey, 32), 0);

    std::uint8_t wrapped[96];
    std::memset(unwrapped, 0, sizeof unwrapped);
    ASSERT_EQ(
        hardware_->WrapKeyDSTU7624(nullptr, nullptr, theirs, 1, ukm, 8, nullptr, sessionKey, nullptr, wrapped, nullptr),
        1);
    // The first exchange of the unwrap fails on the way to the key: the
    // operation recovers, repeats the agreement and goes on.
    pd::FailTransmits(peerReader, 1);
    ASSERT_EQ(peerHardware->UnwrapKeyDSTU7624(nullptr, nullptr, ours, 1, ukm, 8, nullptr, wrapped, nullptr, unwrapped),
              1);
    EXPECT_EQ(std::memcmp(unwrapped, sessionKey, 32), 0);
    // The key was left unlocked: another user's locked operation proceeds.
    std::uint8_t stored[32];
    EXPECT_EQ(peerHardware->GetStoredHash(stored), 1);
    peer->Close(nullptr);
}

// A failed device call gets one more attempt after recovery where the
// operation marks it, and only there; answers that are results, not failures
// (no stored value yet), are not retried.
TEST_F(HardwareTest, RetriesOnlyTheMarkedCalls)
{
    Curve curve = StandardCurve(0);
    std::uint8_t signatureKey[76], agreementKey[76];
    ASSERT_EQ(hardware_->GenerateSignatureKeyPair(&curve.field, &curve.point, signatureKey), 1);
    ASSERT_EQ(hardware_->GenerateAgreementKeyPair(&curve.field, &curve.point, agreementKey), 1);
    const std::uint8_t ukm[8] = {8, 7, 6, 5, 4, 3, 2, 1};
    std::uint8_t hash[32] = {3}, buffer[160] = {}, key[32] = {9}, mac[4] = {};
    std::uint8_t sBox[64];
    GOST28147PackedSBox standard;
    ASSERT_EQ(CSPParameters().GetStandardSBox(0, &standard), 1);
    std::memcpy(sBox, &standard, sizeof sBox);

    struct Case {
        const char* what;
        std::uint8_t command;
        std::uint8_t status;
        int expected;
        bool retried;  // recovery ran and the call was made again
        std::function<int()> run;
    };
    const Case cases[] = {
        {"sign", KEYCMD_SIGN_HASH, KEYERR_NOT_AUTHENTICATED, 1, true,
         [&] { return hardware_->SignHash(&curve.field, nullptr, hash, buffer); }},
        {"generate", KEYCMD_GENERATE_SIGN_KEY, KEYERR_NOT_AUTHENTICATED, 1, true,
         [&] { return hardware_->GenerateSignatureKeyPair(&curve.field, &curve.point, signatureKey); }},
        {"random", KEYCMD_GET_RANDOM, KEYERR_NOT_AUTHENTICATED, 1, true,
         [&] { return random_->GenerateRandom(buffer, 16); }},
        {"s-box, first table", KEYCMD_SET_SBOX, KEYERR_NOT_AUTHENTICATED, 1, true,
         [&] { return hardware_->SetSBox(nullptr, nullptr, nullptr, sBox); }},
        {"agreement inside a transport", KEYCMD_AGREE_KEY, KEYERR_NOT_AUTHENTICATED, 0, false,
         [&] { return hardware_->EncryptSessionKey(&curve.field, &curve.point, agreementKey, ukm, key, 32, mac); }},
        {"agreement of a wrap", KEYCMD_AGREE_KEY_NEW, KEYERR_NOT_AUTHENTICATED, 1, true,
         [&] {
             return hardware_->WrapKeyDSTU7624(nullptr, nullptr, agreementKey, 0, ukm, 8, nullptr, key, nullptr, buffer,
                                               nullptr);
         }},
        {"stored value absent", KEYCMD_READ_SECRET, KEYERR_NO_KEY, 1, false,
         [&] { return hardware_->GetStoredHash(hash); }},
        {"stored value unreadable", KEYCMD_READ_SECRET, KEYERR_NOT_AUTHENTICATED, 1, true,
         [&] { return hardware_->GetStoredHash(hash); }},
    };
    for (const Case& c : cases) {
        pd::ClearCommandLog(reader_);
        pcsctap::ForceStatus(c.command, c.status, 1);
        EXPECT_EQ(c.run(), c.expected) << c.what;
        EXPECT_EQ(Commands(KEYCMD_LOGIN_NEW), c.retried ? 1 : 0) << c.what;
        if (c.retried) {
            EXPECT_GE(Commands(c.command), 2) << c.what;
        } else {
            EXPECT_EQ(Commands(c.command), 1) << c.what;
        }
    }
}

}  // namespace
