// Key transport and key wrapping, GOST 28147 ciphering and GOST 34.311
// hashing through the provider over the stand-in library, with the faults
// mended in these operations.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>

#include "CSPProviderFixture.h"
#include "GostTestSBox.h"

namespace {

using namespace csptest;

Bytes Hex(const std::string& text)
{
    Bytes out;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
    return out;
}

class TransportTest : public ProviderTest {
protected:
    void SetUp() override
    {
        ProviderTest::SetUp();
        curve = StandardCurve(0);
        ours = Generate(curve, false);
        theirs = Generate(curve, false);
    }
    Curve curve{};
    KeyPair ours, theirs;
};

TEST_F(TransportTest, SessionKeyTravelsUnderTheAgreedKey)
{
    std::uint8_t ukm[8] = {}, mac[4] = {};
    Bytes key = Sequence(0x40, 32), sent = key;
    const GOST28147PackedSBox& box = DefaultSBox();
    ASSERT_EQ(csp->EncryptSessionKeyCtx(&context, &curve.field, &curve.point, ours.priv, theirs.pub, ukm, &box, nullptr,
                                        sent.data(), 32, mac),
              CSP_OK);
    EXPECT_NE(sent, key);
    EXPECT_NE(Bytes(ukm, ukm + 8), Bytes(8, 0)) << "a fresh UKM";
    Bytes received = sent;
    ASSERT_EQ(csp->DecryptSessionKeyCtx(&context, &curve.field, &curve.point, theirs.priv, ours.pub, ukm, &box, nullptr,
                                        received.data(), 32, mac),
              CSP_OK);
    EXPECT_EQ(received, key);
    // A wrong MAC leaves the data as it came.
    received = sent;
    mac[0] ^= 1;
    EXPECT_EQ(csp->DecryptSessionKeyCtx(&context, &curve.field, &curve.point, theirs.priv, ours.pub, ukm, &box, nullptr,
                                        received.data(), 32, mac),
              CSP_VALUE_MISMATCH);
    EXPECT_EQ(received, sent);
    // Without a MAC the agreed key itself comes back; both sides agree on it.
    std::uint8_t a[32], b[32];
    ASSERT_EQ(csp->EncryptSessionKeyCtx(&context, &curve.field, &curve.point, ours.priv, theirs.pub, ukm, &box, nullptr,
                                        a, 32, nullptr),
              CSP_OK);
    ASSERT_EQ(csp->EncryptSessionKeyCtx(&context, &curve.field, &curve.point, theirs.priv, ours.pub, ukm, &box, nullptr,
                                        b, 32, nullptr),
              CSP_OK);
    EXPECT_EQ(0, std::memcmp(a, b, 32));
}

TEST_F(TransportTest, SessionKeyArgumentsRefused)
{
    std::uint8_t ukm[8] = {}, mac[4] = {}, data[32] = {};
    const GOST28147PackedSBox& box = DefaultSBox();
    EXPECT_EQ(csp->EncryptSessionKeyCtx(&context, &curve.field, &curve.point, ours.priv, theirs.pub, ukm, &box, nullptr,
                                        data, 12, mac),
              CSP_BAD_ARGUMENT);
    // The agreed key is 32 bytes: a shorter buffer without a MAC is refused,
    // while any multiple of 8 is fine when a MAC is made.
    EXPECT_EQ(csp->EncryptSessionKeyCtx(&context, &curve.field, &curve.point, ours.priv, theirs.pub, ukm, &box, nullptr,
                                        data, 16, nullptr),
              CSP_BAD_ARGUMENT);
    EXPECT_EQ(csp->EncryptSessionKeyCtx(&context, &curve.field, &curve.point, ours.priv, theirs.pub, ukm, &box, nullptr,
                                        data, 16, mac),
              CSP_OK);
    EXPECT_EQ(csp->DecryptSessionKeyCtx(&context, &curve.field, &curve.point, theirs.priv, ours.pub, ukm, &box, nullptr,
                                        data, 16, mac),
              CSP_OK);
    EXPECT_EQ(csp->EncryptSessionKeyCtx(nullptr, &curve.field, &curve.point, ours.priv, theirs.pub, ukm, &box, nullptr,
                                        data, 32, mac),
              CSP_BAD_ARGUMENT);
    CSPContext noHardware{nullptr, nullptr, context.prng};
    EXPECT_EQ(csp->DecryptSessionKeyCtx(&noHardware, &curve.field, &curve.point, nullptr, ours.pub, ukm, &box, nullptr,
                                        data, 32, mac),
              CSP_NO_OBJECT);
}

TEST_F(TransportTest, GostWrapRoundTripsAndRefusesTampering)
{
    const Bytes ukm = Sequence(1, 8), key = Sequence(0x80, 32);
    std::uint8_t wrapped[44], back[32] = {};
    ASSERT_EQ(csp->WrapKeyGOST28147Ctx(&context, &curve.field, &curve.point, ours.priv, theirs.pub, 1, ukm.data(), 8,
                                       nullptr, nullptr, &DefaultSBox(), key.data(), wrapped),
              CSP_OK);
    ASSERT_EQ(csp->UnwrapKeyGOST28147Ctx(&context, &curve.field, &curve.point, theirs.priv, ours.pub, 1, ukm.data(), 8,
                                         nullptr, nullptr, &DefaultSBox(), wrapped, back),
              CSP_OK);
    EXPECT_EQ(Bytes(back, back + 32), key);
    wrapped[7] ^= 0x10;
    EXPECT_EQ(csp->UnwrapKeyGOST28147Ctx(&context, &curve.field, &curve.point, theirs.priv, ours.pub, 1, ukm.data(), 8,
                                         nullptr, nullptr, &DefaultSBox(), wrapped, back),
              CSP_LIBRARY_ERROR);
    CSPContext noGenerator{nullptr, nullptr, nullptr};
    EXPECT_EQ(csp->WrapKeyGOST28147Ctx(&noGenerator, &curve.field, &curve.point, ours.priv, theirs.pub, 1, ukm.data(),
                                       8, nullptr, nullptr, &DefaultSBox(), key.data(), wrapped),
              CSP_NO_OBJECT);
}

TEST_F(TransportTest, DstuWrapRoundTripsAndRefusesTampering)
{
    const Bytes ukm = Sequence(9, 8), key = Sequence(0x20, 32);
    std::uint8_t wrapped[96], back[32] = {};
    std::uint32_t wrappedLength = 0;
    ASSERT_EQ(csp->WrapKeyDSTU7624Ctx(&context, &curve.field, &curve.point, ours.priv, theirs.pub, 0, ukm.data(), 8,
                                      nullptr, key.data(), nullptr, wrapped, &wrappedLength),
              CSP_OK);
    EXPECT_EQ(wrappedLength, 96u);
    ASSERT_EQ(csp->UnwrapKeyDSTU7624Ctx(&context, &curve.field, &curve.point, theirs.priv, ours.pub, 0, ukm.data(), 8,
                                        nullptr, wrapped, nullptr, back, nullptr),
              CSP_OK);
    EXPECT_EQ(Bytes(back, back + 32), key);
    wrapped[90] ^= 0x01;
    EXPECT_EQ(csp->UnwrapKeyDSTU7624Ctx(&context, &curve.field, &curve.point, theirs.priv, ours.pub, 0, ukm.data(), 8,
                                        nullptr, wrapped, nullptr, back, nullptr),
              CSP_LIBRARY_ERROR);
    // Other keying material, other key.
    wrapped[90] ^= 0x01;
    const Bytes otherUkm = Sequence(10, 8);
    EXPECT_EQ(csp->UnwrapKeyDSTU7624Ctx(&context, &curve.field, &curve.point, theirs.priv, ours.pub, 0, otherUkm.data(),
                                        8, nullptr, wrapped, nullptr, back, nullptr),
              CSP_LIBRARY_ERROR);
}

TEST_F(TransportTest, DenseWrapRoundTrips)
{
    // The dense record of the curve (the stand-in's layout) and 21-byte keys.
    const std::size_t fb = 21;
    Bytes record(28 + 3 * fb, 0);
    const std::uint32_t header[6] = {163, 7, 6, 3, 1, 2};
    std::memcpy(record.data(), header, sizeof header);
    std::memcpy(record.data() + 28, &curve.field.words[1], fb);
    std::memcpy(record.data() + 28 + fb, &curve.point.words[19], fb);
    std::memcpy(record.data() + 28 + 2 * fb, &curve.point.words[0], fb);
    const std::uint32_t size = static_cast<std::uint32_t>(record.size());
    const Bytes ukm = Sequence(3, 8), key = Sequence(0x33, 32);
    std::uint8_t wrapped[96], back[32] = {};
    ASSERT_EQ(csp->WrapKeyDSTU7624DenseCtx(&context, record.data(), size, ours.priv, 21, theirs.pub, 21, ukm.data(), 8,
                                           nullptr, key.data(), nullptr, wrapped, nullptr),
              CSP_OK);
    ASSERT_EQ(csp->UnwrapKeyDSTU7624DenseCtx(&context, record.data(), size, theirs.priv, 21, ours.pub, 21, ukm.data(),
                                             8, nullptr, wrapped, nullptr, back, nullptr),
              CSP_OK);
    EXPECT_EQ(Bytes(back, back + 32), key);
    // The same agreement over the curve records unwraps it too.
    std::memset(back, 0, 32);
    ASSERT_EQ(csp->UnwrapKeyDSTU7624Ctx(&context, &curve.field, &curve.point, theirs.priv, ours.pub, 0, ukm.data(), 8,
                                        nullptr, wrapped, nullptr, back, nullptr),
              CSP_OK);
    EXPECT_EQ(Bytes(back, back + 32), key);
}

// ---- GOST 28147 ----

TEST_F(ProviderTest, ProtectedBlocksRoundTripAndMendedFaults)
{
    const GOST28147PackedSBox& box = DefaultSBox();
    const Bytes key = Sequence(0x10, 32);
    Bytes data = Sequence(0x61, 10), original = data;
    std::uint32_t mac = 0, tailLength = 99;
    std::uint8_t tail[8];
    std::memset(tail, 0xEE, 8);
    ASSERT_EQ(csp->ProtectDataGOST28147(data.data(), 10, &box, nullptr, &mac, tail, &tailLength, nullptr, key.data()),
              CSP_OK);
    EXPECT_EQ(tailLength, 6u);
    EXPECT_EQ(tail[6], 0);
    EXPECT_EQ(tail[7], 0);
    Bytes damaged = data;
    EXPECT_EQ(csp->UnprotectDataGOST28147(damaged.data(), 10, &box, nullptr, mac ^ 1, tail, 6, nullptr, key.data()),
              CSP_VALUE_MISMATCH);
    EXPECT_EQ(damaged, data) << "data stays as given on a mismatch";
    ASSERT_EQ(csp->UnprotectDataGOST28147(data.data(), 10, &box, nullptr, mac, tail, 6, nullptr, key.data()), CSP_OK);
    EXPECT_EQ(data, original);
    EXPECT_EQ(csp->UnprotectDataGOST28147(data.data(), 10, &box, nullptr, mac, tail, 5, nullptr, key.data()),
              CSP_BAD_ARGUMENT);

    // A whole number of blocks: no tail outputs needed, and a mismatch leaves
    // the data encrypted as it came rather than half-recovered.
    Bytes blocks = Sequence(0, 16), plain = blocks;
    ASSERT_EQ(csp->ProtectDataGOST28147(blocks.data(), 16, &box, nullptr, &mac, nullptr, nullptr, nullptr, key.data()),
              CSP_OK);
    Bytes encrypted = blocks;
    EXPECT_EQ(csp->UnprotectDataGOST28147(blocks.data(), 16, &box, nullptr, mac + 1, nullptr, 0, nullptr, key.data()),
              CSP_VALUE_MISMATCH);
    EXPECT_EQ(blocks, encrypted);
    ASSERT_EQ(csp->UnprotectDataGOST28147(blocks.data(), 16, &box, nullptr, mac, nullptr, 0, nullptr, key.data()),
              CSP_OK);
    EXPECT_EQ(blocks, plain);
    // A partial block without tail outputs, and neither password nor key.
    EXPECT_EQ(csp->ProtectDataGOST28147(data.data(), 10, &box, nullptr, &mac, nullptr, nullptr, nullptr, key.data()),
              CSP_BAD_ARGUMENT);
    EXPECT_EQ(data, original);
    EXPECT_EQ(csp->ProtectDataGOST28147(data.data(), 10, &box, nullptr, &mac, tail, &tailLength, nullptr, nullptr),
              CSP_BAD_ARGUMENT);
    EXPECT_EQ(data, original);
    // A password keys the block by its hash.
    ASSERT_EQ(csp->ProtectDataGOST28147(data.data(), 10, &box, nullptr, &mac, tail, &tailLength, "pass", nullptr),
              CSP_OK);
    EXPECT_EQ(csp->UnprotectDataGOST28147(data.data(), 10, &box, nullptr, mac, tail, 6, "pass", nullptr), CSP_OK);
    EXPECT_EQ(data, original);
}

TEST_F(ProviderTest, SessionsOverSplitMessagesEqualTheOneShot)
{
    const GOST28147PackedSBox& box = DefaultSBox();
    std::uint8_t key[32], iv[8];
    CSPHandle sender = nullptr, receiver = nullptr;
    ASSERT_EQ(csp->CreateSenderSessionGOST28147Ctx(&context, &box, key, iv, 1, &sender), CSP_OK);
    const Bytes message = Sequence(3, 100);
    Bytes split = message;
    const std::size_t cuts[] = {0, 1, 9, 40, 63, 100};
    for (std::size_t i = 0; i + 1 < std::size(cuts); ++i)
        ASSERT_EQ(csp->EncryptSessionGOST28147(split.data() + cuts[i],
                                               static_cast<std::uint32_t>(cuts[i + 1] - cuts[i]), sender),
                  CSP_OK);
    Bytes whole = message;
    ASSERT_EQ(csp->CryptGammaGOST28147(whole.data(), 100, &box, key, iv), CSP_OK);
    EXPECT_EQ(split, whole);
    ASSERT_EQ(csp->CreateReceiverSessionGOST28147(&box, key, iv, &receiver), CSP_OK);
    ASSERT_EQ(csp->DecryptSessionGOST28147(split.data(), 37, receiver), CSP_OK);
    ASSERT_EQ(csp->DecryptSessionGOST28147(split.data() + 37, 63, receiver), CSP_OK);
    EXPECT_EQ(split, message);

    // A new IV restarts the gamma: the same as a fresh receiver under it.
    Bytes a = message, b = message;
    std::uint8_t iv2[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_EQ(csp->EncryptSessionGOST28147WithIV(a.data(), 20, 0x04030201u, 0x08070605u, sender), CSP_OK);
    ASSERT_EQ(csp->CryptGammaGOST28147(b.data(), 20, &box, key, iv2), CSP_OK);
    EXPECT_EQ(a, b);

    ASSERT_EQ(csp->DestroySenderSessionGOST28147(&sender), CSP_OK);
    EXPECT_EQ(sender, nullptr);
    EXPECT_EQ(csp->DestroySenderSessionGOST28147(&sender), CSP_OK);
    EXPECT_EQ(csp->DestroyReceiverSessionGOST28147Ex(&receiver), CSP_OK);
    // A null session never reaches the library.
    EXPECT_EQ(csp->EncryptSessionGOST28147(a.data(), 8, nullptr), CSP_BAD_ARGUMENT);
    EXPECT_EQ(csp->DecryptSessionGOST28147WithIV(a.data(), 8, 0, 0, nullptr), CSP_BAD_ARGUMENT);
    EXPECT_EQ(csp->EncryptCFBSessionGOST28147(a.data(), 8, nullptr), CSP_BAD_ARGUMENT);
    // A session without key and IV is refused by the library, not run.
    CSPHandle bare = nullptr;
    ASSERT_EQ(csp->CreateSenderSessionGOST28147Ctx(&context, &box, nullptr, nullptr, 0, &bare), CSP_OK);
    EXPECT_EQ(csp->EncryptSessionGOST28147(a.data(), 8, bare), CSP_LIBRARY_ERROR);
    csp->DestroySenderSessionGOST28147(&bare);
}

TEST_F(ProviderTest, FeedbackModeRoundTrips)
{
    const GOST28147PackedSBox& box = DefaultSBox();
    std::uint8_t key[32], iv[8];
    const Bytes message = Sequence(7, 45);
    Bytes data = message;
    ASSERT_EQ(csp->EncryptCFBGOST28147(data.data(), 45, &box, key, iv, 1, 1), CSP_OK);
    EXPECT_NE(data, message);
    ASSERT_EQ(csp->DecryptCFBGOST28147(data.data(), 45, &box, key, iv), CSP_OK);
    EXPECT_EQ(data, message);
    ASSERT_EQ(csp->EncryptWithRandomKeyCFBGOST28147(data.data(), 45, &box, key, iv), CSP_OK);
    CSPHandle receiver = nullptr;
    ASSERT_EQ(csp->CreateReceiverSessionGOST28147Ex(&box, key, iv, &receiver), CSP_OK);
    ASSERT_EQ(csp->DecryptCFBSessionGOST28147(data.data(), 16, receiver), CSP_OK);
    ASSERT_EQ(csp->DecryptCFBSessionGOST28147(data.data() + 16, 29, receiver), CSP_OK);
    EXPECT_EQ(data, message);
    csp->DestroyReceiverSessionGOST28147Ex(&receiver);
}

// ---- GOST 34.311 ----

// Published values of GOST 34.311-95: the standard's examples under its test
// S-box, and values under the system's default S-box.
TEST_F(ProviderTest, HashGivesTheStandardsKnownAnswers)
{
    struct Vector {
        const char* message;
        const char* hash;
    };
    const Vector defaults[] = {
        {"12345678901234567890123456789011", "7686f3f4b113aadc97bca9ea054f41821f0676c5c28ffb987e41797a568e1ed4"},
        {"123123", "34d4da2c04e9c1ceb933282069c864617d94ed7cc5c0a9840c0c1a99629df637"},
    };
    // The standard's own two examples, under its test parameter set.
    GOST28147PackedSBox testBox;
    const auto packed = cryptotest::PackedGostTestSBox();
    std::memcpy(testBox.rows, packed.data(), packed.size());
    const Vector examples[] = {
        {"This is message, length=32 bytes", "B1C466D37519B82E8319819FF32595E047A28CB6F83EFF1C6916A815A637FFFA"},
        {"Suppose the original message has length = 50 bytes",
         "471ABA57A60A770D3A76130635C1FBEA4EF14DE51F78B4AE57DD893B62F55208"},
    };
    for (const Vector& v : examples) {
        std::uint8_t hash[32];
        ASSERT_EQ(csp->HashGOST34311(reinterpret_cast<const std::uint8_t*>(v.message),
                                     static_cast<std::uint32_t>(std::strlen(v.message)), &testBox, nullptr, hash),
                  CSP_OK);
        EXPECT_EQ(Bytes(hash, hash + 32), Hex(v.hash)) << v.message;
    }

    const GOST28147PackedSBox& box = DefaultSBox();
    for (const Vector& v : defaults) {
        const auto* m = reinterpret_cast<const std::uint8_t*>(v.message);
        const std::uint32_t n = static_cast<std::uint32_t>(std::strlen(v.message));
        std::uint8_t hash[32];
        ASSERT_EQ(csp->HashGOST34311(m, n, &box, nullptr, hash), CSP_OK);
        EXPECT_EQ(Bytes(hash, hash + 32), Hex(v.hash)) << v.message;
        EXPECT_EQ(csp->CompareHashGOST34311(m, n, &box, nullptr, Hex(v.hash).data()), CSP_OK);
        Bytes wrong = Hex(v.hash);
        wrong[31] ^= 1;
        EXPECT_EQ(csp->CompareHashGOST34311(m, n, &box, nullptr, wrong.data()), CSP_VALUE_MISMATCH);
        // Incrementally, in two pieces.
        CSPHandle state = nullptr;
        ASSERT_EQ(csp->BeginHashGOST34311(&box, nullptr, &state), CSP_OK);
        ASSERT_EQ(csp->UpdateHashGOST34311(m, 3, &state), CSP_OK);
        ASSERT_EQ(csp->UpdateHashGOST34311(m + 3, n - 3, &state), CSP_OK);
        ASSERT_EQ(csp->FinishHashGOST34311(hash, &state), CSP_OK);
        EXPECT_EQ(state, nullptr);
        EXPECT_EQ(Bytes(hash, hash + 32), Hex(v.hash));
        // By bit length: 13 bits hash one byte.
        std::uint8_t oneByte[32], viaBits[32];
        ASSERT_EQ(csp->HashGOST34311(m, 1, &box, nullptr, oneByte), CSP_OK);
        ASSERT_EQ(csp->HashDataGOST34311(m, 13, &box, nullptr, viaBits), CSP_OK);
        EXPECT_EQ(0, std::memcmp(oneByte, viaBits, 32));
    }
    // Pieces that end on a block boundary, with a zero start vector given
    // explicitly, hash as the whole message does.
    std::uint8_t data[96], zero[32] = {}, whole[32], pieces[32];
    for (std::size_t i = 0; i < sizeof data; ++i) data[i] = static_cast<std::uint8_t>(i * 7 + 1);
    for (std::uint32_t length : {32u, 64u, 96u}) {
        ASSERT_EQ(csp->HashGOST34311(data, length, &box, zero, whole), CSP_OK);
        for (std::uint32_t piece : {32u, 16u, length}) {
            CSPHandle s = nullptr;
            ASSERT_EQ(csp->BeginHashGOST34311(&box, zero, &s), CSP_OK);
            for (std::uint32_t at = 0; at < length; at += piece)
                ASSERT_EQ(csp->UpdateHashGOST34311(data + at, std::min(piece, length - at), &s), CSP_OK);
            ASSERT_EQ(csp->FinishHashGOST34311(pieces, &s), CSP_OK);
            EXPECT_EQ(0, std::memcmp(whole, pieces, 32)) << length << "/" << piece;
        }
    }
    // A finished or failed state leaves a zero handle: later calls answer 3
    // instead of reaching freed memory.
    CSPHandle state = nullptr;
    std::uint8_t hash[32];
    EXPECT_EQ(csp->UpdateHashGOST34311(hash, 4, &state), CSP_BAD_ARGUMENT);
    EXPECT_EQ(csp->FinishHashGOST34311(hash, &state), CSP_BAD_ARGUMENT);
    std::uint8_t noHardwareHash[32];
    EXPECT_EQ(csp->HashDataGOST34311(nullptr, 0, &box, nullptr, noHardwareHash), CSP_NO_OBJECT);
}

TEST_F(ProviderTest, HmacAndKeyDerivation)
{
    const GOST28147PackedSBox& box = DefaultSBox();
    const Bytes key = Sequence(0x80, 32), data = Sequence(1, 50);
    std::uint8_t mac[32], again[32];
    ASSERT_EQ(csp->ComputeHMACGOST34311(data.data(), 50, &box, nullptr, key.data(), mac), CSP_OK);
    // HMAC(K, m) = H((K ^ opad) || H((K ^ ipad) || m)) over the same hash.
    Bytes inner(32), outer(32);
    for (int i = 0; i < 32; ++i) {
        inner[i] = key[i] ^ 0x36;
        outer[i] = key[i] ^ 0x5C;
    }
    inner.insert(inner.end(), data.begin(), data.end());
    std::uint8_t ih[32], expected[32];
    ASSERT_EQ(csp->HashGOST34311(inner.data(), static_cast<std::uint32_t>(inner.size()), &box, nullptr, ih), CSP_OK);
    outer.insert(outer.end(), ih, ih + 32);
    ASSERT_EQ(csp->HashGOST34311(outer.data(), 64, &box, nullptr, expected), CSP_OK);
    EXPECT_EQ(0, std::memcmp(mac, expected, 32));
    EXPECT_EQ(csp->CompareHMACGOST34311(data.data(), 50, &box, nullptr, key.data(), mac), CSP_OK);
    mac[0] ^= 1;
    EXPECT_EQ(csp->CompareHMACGOST34311(data.data(), 50, &box, nullptr, key.data(), mac), CSP_VALUE_MISMATCH);

    // PBKDF2 with one iteration and one block is the HMAC of salt || 1.
    std::uint8_t salt[8] = {1, 2, 3, 4, 5, 6, 7, 8}, derived[32];
    ASSERT_EQ(csp->DeriveKeyPBKDF2(key.data(), 32, salt, 8, 0, 1, derived, 32, &box), CSP_OK);
    Bytes block(salt, salt + 8);
    block.insert(block.end(), {0, 0, 0, 1});
    ASSERT_EQ(csp->ComputeHMACGOST34311(block.data(), 12, &box, nullptr, key.data(), again), CSP_OK);
    EXPECT_EQ(0, std::memcmp(derived, again, 32));
    // A drawn salt changes the key.
    std::uint8_t drawn[8] = {}, other[32];
    ASSERT_EQ(csp->DeriveKeyPBKDF2(key.data(), 32, drawn, 8, 1, 2, other, 32, &box), CSP_OK);
    EXPECT_NE(Bytes(drawn, drawn + 8), Bytes(8, 0));
    ASSERT_EQ(csp->DeriveKeyPBKDFMAC("pw", 2, salt, 8, 0, 3, other, 32, &box), CSP_OK);
}

// ---- parameter files through the real provider ----

TEST_F(ProviderTest, ProtectedAndCheckedParameterFilesRoundTrip)
{
    Curve c = StandardCurve(4);
    const GOST28147PackedSBox& box = DefaultSBox();
    const std::string base = ::testing::TempDir() + std::to_string(getpid()) + "-csp14-params-";
    for (int pass = 0; pass < 2; ++pass) {
        SCOPED_TRACE(pass == 0 ? "plain" : "password envelope");
        if (pass == 1) {
            ASSERT_EQ(csp->SetStoredString("envelope password"), CSP_OK);
        }
        CSPParameters& params = csp->Parameters();
        const std::string protectedPath = base + "protected.bin", checkedPath = base + "checked.bin",
                          sBoxPath = base + "sbox.bin", hashedPath = base + "hashed.bin";
        ASSERT_EQ(params.SaveProtectedParameters(protectedPath.c_str(), &c.field, &c.point, &box), 1);
        ASSERT_EQ(params.SaveCheckedParameters(checkedPath.c_str(), &c.field, &c.point, &box), 1);
        ASSERT_EQ(params.SaveProtectedSBox(sBoxPath.c_str(), &box), 1);
        ASSERT_EQ(params.SaveHashedParameters(hashedPath.c_str(), &c.field, &c.point), 1);
        Curve loaded{};
        GOST28147PackedSBox loadedBox{};
        ASSERT_EQ(params.LoadProtectedParameters(protectedPath.c_str(), &loaded.field, &loaded.point, &loadedBox), 1);
        EXPECT_EQ(0, std::memcmp(&loaded, &c, sizeof c));
        EXPECT_EQ(0, std::memcmp(&loadedBox, &box, sizeof box));
        loaded = Curve{};
        ASSERT_EQ(params.LoadCheckedParameters(checkedPath.c_str(), &loaded.field, &loaded.point, &loadedBox), 1);
        EXPECT_EQ(0, std::memcmp(&loaded, &c, sizeof c));
        loaded = Curve{};
        ASSERT_EQ(params.LoadCheckedParameters(hashedPath.c_str(), &loaded.field, &loaded.point, nullptr), 1);
        EXPECT_EQ(0, std::memcmp(&loaded, &c, sizeof c));
        ASSERT_EQ(params.LoadProtectedSBox(sBoxPath.c_str(), &loadedBox), 1);

        // One changed byte anywhere is refused.
        for (const std::string& path : {protectedPath, checkedPath}) {
            std::FILE* f = std::fopen(path.c_str(), "r+b");
            ASSERT_NE(f, nullptr);
            std::fseek(f, 40, SEEK_SET);
            const int byte = std::fgetc(f);
            std::fseek(f, 40, SEEK_SET);
            std::fputc(byte ^ 0x01, f);
            std::fclose(f);
        }
        EXPECT_EQ(params.LoadProtectedParameters(protectedPath.c_str(), &loaded.field, &loaded.point, &loadedBox), 0);
        EXPECT_EQ(params.LoadCheckedParameters(checkedPath.c_str(), &loaded.field, &loaded.point, &loadedBox), 0);
        for (const std::string& path : {protectedPath, checkedPath, sBoxPath, hashedPath}) std::remove(path.c_str());
    }
}

}  // namespace
