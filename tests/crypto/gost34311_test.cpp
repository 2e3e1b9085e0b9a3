// GOST 34.311-95 against the standard's examples (test S-box, zero start
// vector), published values under the test S-box and under the system's
// default S-box, the split rules and the empty-update rule of old keys.
#include <gtest/gtest.h>

#include "GostTestSBox.h"
#include "TestHex.h"

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "crypto/GOST34311.h"

namespace {

using Bytes = std::vector<uint8_t>;

using cryptotest::Hex;

Bytes Text(const std::string& s)
{
    return Bytes(s.begin(), s.end());
}

GOST28147PackedSBox TestSBox()
{
    GOST28147PackedSBox packed;
    const auto bytes = cryptotest::PackedGostTestSBox();
    std::memcpy(packed.rows, bytes.data(), bytes.size());
    return packed;
}

// The system's default S-box (DKE No. 1) as the key device protocol sets it.
GOST28147PackedSBox DefaultSBox()
{
    const Bytes b = Hex("8a09cd469e6b74b52f3113fc57e0a8d23f86d5986ebbfa042c50c3a742e9117d"
                        "2f889e7957f200bdcc16d1e5ab34634a13283be566d4be8af2acc157799f0d40");
    GOST28147PackedSBox packed;
    std::memcpy(&packed, b.data(), 64);
    return packed;
}

// The key device protocol's sequence: zeroed record, S-box, zero start
// vector, updates, finish(0), read.
struct Hasher {
    GOST34311Context c{};
    explicit Hasher(const GOST28147PackedSBox& sbox)
    {
        EXPECT_EQ(GOST34311SetParameter(&c, &sbox, GOST34311_SBOX), 1);
        EXPECT_EQ(GOST34311SetParameter(&c, nullptr, GOST34311_START_VECTOR), 1);
    }
    void Update(const uint8_t* p, uint32_t n) { ASSERT_EQ(GOST34311UpdateHash(p, n, &c), 1); }
    Bytes Finish(uint32_t bits = 0)
    {
        EXPECT_EQ(GOST34311FinishHash(bits, &c), 1);
        Bytes out(32);
        EXPECT_EQ(GOST34311GetParameter(&c, out.data(), GOST34311_HASH), 1);
        return out;
    }
};

Bytes HashOf(const GOST28147PackedSBox& sbox, const Bytes& message)
{
    Hasher h(sbox);
    if (!message.empty()) h.Update(message.data(), static_cast<uint32_t>(message.size()));
    return h.Finish();
}

struct Vector {
    bool defaultSBox;
    Bytes message;
    const char* hash;
};

TEST(Gost34311, KnownAnswers)
{
    const Vector vectors[] = {
        // The standard's two examples.
        {false, Text("This is message, length=32 bytes"),
         "B1C466D37519B82E8319819FF32595E047A28CB6F83EFF1C6916A815A637FFFA"},
        {false, Text("Suppose the original message has length = 50 bytes"),
         "471ABA57A60A770D3A76130635C1FBEA4EF14DE51F78B4AE57DD893B62F55208"},
        // Published values under the same S-box: the empty message (no update
        // at all), short ones, and a multi-block one.
        {false, Bytes(), "ce85b99cc46752fffee35cab9a7b0278abb4c2d2055cff685af4912c49490f8d"},
        {false, Text("a"), "d42c539e367c66e9c88a801f6649349c21871b4344c6a573f849fdce62f314dd"},
        {false, Text("message digest"), "ad4434ecb18f2c99b60cbe59ec3d2469582b65273f48de72db2fde16a4889a4d"},
        {false, Bytes(128, 'U'), "53a3a3ed25180cef0c1d85a074273e551c25660a87062a52d926a9e8fe5733a4"},
        {false, Text("The quick brown fox jumps over the lazy dog"),
         "77b7fa410c9ac58a25f49bca7d0468c9296529315eaca76bd1a10f376d1f4294"},
        // The system's default S-box.
        {true, Text("12345678901234567890123456789011"),
         "7686f3f4b113aadc97bca9ea054f41821f0676c5c28ffb987e41797a568e1ed4"},
        {true, Bytes{0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f,
                     0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x1b, 0x1c, 0x1d, 0x1e, 0x1f},
         "811cb06a8ee423182d9cc9d281f783908f4cfbaf47a68be8415d3499674a3063"},
        {true, Text("123123"), "34d4da2c04e9c1ceb933282069c864617d94ed7cc5c0a9840c0c1a99629df637"},
    };
    for (const Vector& v : vectors) {
        SCOPED_TRACE(std::string(v.message.begin(), v.message.end()));
        EXPECT_EQ(HashOf(v.defaultSBox ? DefaultSBox() : TestSBox(), v.message), Hex(v.hash));
    }
}

TEST(Gost34311, MillionBytes)
{
    Hasher h(TestSBox());
    const Bytes chunk(1000, 'a');
    for (int i = 0; i < 1000; ++i) h.Update(chunk.data(), 1000);
    EXPECT_EQ(h.Finish(), Hex("5c00ccc2734cdd3332d3d4749576e3c1a7dbaf0e7ea74e9fa602413c90a129fa"));
}

TEST(Gost34311, EverySplitEqualsOneUpdate)
{
    Bytes message(70);
    for (size_t i = 0; i < message.size(); ++i) message[i] = static_cast<uint8_t>(i * 37 + 11);
    const uint32_t total = static_cast<uint32_t>(message.size());
    const Bytes expected = HashOf(TestSBox(), message);
    // Empty pieces are given everywhere except before the first byte: there
    // an empty update is the old keys' empty-password step (tested below).
    for (uint32_t i = 0; i <= total; ++i)
        for (uint32_t j = i; j <= total; ++j) {
            Hasher h(TestSBox());
            bool absorbed = false;
            for (auto [from, to] : {std::pair{0u, i}, {i, j}, {j, j}, {j, total}}) {
                if (!absorbed && from == to) continue;
                h.Update(message.data() + from, to - from);
                absorbed = true;
            }
            ASSERT_EQ(h.Finish(), expected) << i << "," << j;
        }
}

TEST(Gost34311, EmptyUpdateOnAFreshContextKeepsTheOldKeysValue)
{
    // An empty password is hashed by a single update of length 0: one step
    // over the zero block buffer before the length and checksum steps.
    Hasher quirk(TestSBox());
    quirk.Update(nullptr, 0);
    const Bytes value = quirk.Finish();
    EXPECT_NE(value, Hex("ce85b99cc46752fffee35cab9a7b0278abb4c2d2055cff685af4912c49490f8d"));
    // The same value is published elsewhere as the empty message hashed as
    // one zero block under this S-box.
    EXPECT_EQ(value, Hex("891d358a84c6033cf17bac82d77bb5d6791695a08ffce3768d39fbcacf8b29bd"));

    GOST34311Context model{};
    const GOST28147PackedSBox sbox = TestSBox();
    ASSERT_EQ(GOST34311SetParameter(&model, &sbox, GOST34311_SBOX), 1);
    uint8_t H[32] = {}, zero[32] = {};
    GOST34311Step(H, zero, &model);  // the zero block
    GOST34311Step(H, zero, &model);  // length 0
    GOST34311Step(H, zero, &model);  // checksum 0
    EXPECT_EQ(value, Bytes(H, H + 32));

    // A second empty update, or one after data, adds nothing.
    Hasher twice(TestSBox());
    twice.Update(nullptr, 0);
    twice.Update(nullptr, 0);
    EXPECT_EQ(twice.Finish(), value);
    Hasher after(TestSBox());
    const Bytes a = Text("a");
    after.Update(a.data(), 1);
    after.Update(nullptr, 0);
    EXPECT_EQ(after.Finish(), Hex("d42c539e367c66e9c88a801f6649349c21871b4344c6a573f849fdce62f314dd"));

    // Setting the start vector makes the context fresh again.
    Hasher reused(TestSBox());
    reused.Update(a.data(), 1);
    reused.Finish();
    ASSERT_EQ(GOST34311SetParameter(&reused.c, nullptr, GOST34311_START_VECTOR), 1);
    reused.Update(nullptr, 0);
    EXPECT_EQ(reused.Finish(), value);
}

TEST(Gost34311, StepsOfShortAndPartialMessages)
{
    const GOST28147PackedSBox sbox = TestSBox();
    GOST34311Context model{};
    ASSERT_EQ(GOST34311SetParameter(&model, &sbox, GOST34311_SBOX), 1);

    // 33 bytes: the first 32 in the update, the last byte padded in finish,
    // a length block of 264 and the checksum of both blocks.
    Bytes message(33);
    for (size_t i = 0; i < 33; ++i) message[i] = static_cast<uint8_t>(0xA0 + i);
    uint8_t H[32] = {}, last[32] = {}, length[32] = {}, sum[32] = {};
    last[0] = message[32];
    length[0] = 264 & 0xFF;
    length[1] = 264 >> 8;
    GOST34311Step(H, message.data(), &model);
    GOST34311Step(H, last, &model);
    GOST34311Step(H, length, &model);
    GOST34311Add256(sum, message.data());
    GOST34311Add256(sum, last);
    GOST34311Step(H, sum, &model);
    EXPECT_EQ(HashOf(sbox, message), Bytes(H, H + 32));

    // Bits taken off the length at finish: the length block holds 264 - 3.
    uint8_t H2[32] = {};
    length[0] = (264 - 3) & 0xFF;
    GOST34311Step(H2, message.data(), &model);
    GOST34311Step(H2, last, &model);
    GOST34311Step(H2, length, &model);
    GOST34311Step(H2, sum, &model);
    Hasher h(sbox);
    h.Update(message.data(), 33);
    EXPECT_EQ(h.Finish(3), Bytes(H2, H2 + 32));
}

TEST(Gost34311, Add256CarriesAcrossAllWords)
{
    Bytes a(32, 0xFF), one(32, 0);
    one[0] = 1;
    GOST34311Add256(a.data(), one.data());
    EXPECT_EQ(a, Bytes(32, 0));
    // The carry out of the top word is dropped (modulo 2^256).
    Bytes b = Hex("ffffffff 00000000 ffffffff ffffffff 00000000 00000000 00000000 00000080");
    Bytes c = Hex("01000000 00000000 01000000 00000000 00000000 00000000 00000000 00000080");
    GOST34311Add256(b.data(), c.data());
    EXPECT_EQ(b, Hex("00000000 01000000 00000000 00000000 01000000 00000000 00000000 00000000"));
}

TEST(Gost34311, StartVectorAndStates)
{
    const GOST28147PackedSBox sbox = TestSBox();
    const Bytes data = Text("abc");
    uint8_t out[32];

    // Without the S-box nothing runs.
    GOST34311Context empty{};
    EXPECT_EQ(GOST34311UpdateHash(data.data(), 3, &empty), 0);
    EXPECT_EQ(GOST34311FinishHash(0, &empty), 0);
    EXPECT_EQ(GOST34311GetParameter(&empty, out, GOST34311_HASH), 0);

    // Null and 32 zero bytes are the same start vector.
    Hasher a(sbox);
    GOST34311Context b{};
    ASSERT_EQ(GOST34311SetParameter(&b, &sbox, GOST34311_SBOX), 1);
    const uint8_t zeros[32] = {};
    ASSERT_EQ(GOST34311SetParameter(&b, zeros, GOST34311_START_VECTOR), 1);
    a.Update(data.data(), 3);
    ASSERT_EQ(GOST34311UpdateHash(data.data(), 3, &b), 1);
    ASSERT_EQ(GOST34311FinishHash(0, &b), 1);
    ASSERT_EQ(GOST34311GetParameter(&b, out, GOST34311_HASH), 1);
    EXPECT_EQ(a.Finish(), Bytes(out, out + 32));
    EXPECT_EQ(Bytes(out, out + 32), Hex("f3134348c44fb1b2a277729e2285ebb5cb5e0f29c975bc753b70497c06a4d51d"));

    // Finished and unread: update and finish refused; one read only.
    Hasher c(sbox);
    ASSERT_EQ(GOST34311FinishHash(0, &c.c), 1);
    EXPECT_EQ(GOST34311UpdateHash(data.data(), 3, &c.c), 0);
    EXPECT_EQ(GOST34311FinishHash(0, &c.c), 0);
    // Setting the start vector does not make the finished hash go away.
    ASSERT_EQ(GOST34311SetParameter(&c.c, nullptr, GOST34311_START_VECTOR), 1);
    EXPECT_EQ(GOST34311UpdateHash(data.data(), 3, &c.c), 0);
    ASSERT_EQ(GOST34311GetParameter(&c.c, out, GOST34311_HASH), 1);
    EXPECT_EQ(GOST34311GetParameter(&c.c, out, GOST34311_HASH), 0);

    // Get before finish; unknown codes.
    Hasher d(sbox);
    EXPECT_EQ(GOST34311GetParameter(&d.c, out, GOST34311_HASH), 0);
    EXPECT_EQ(GOST34311GetParameter(&d.c, out, GOST34311_SBOX), 0);
    EXPECT_EQ(GOST34311SetParameter(&d.c, out, 3), 0);
    EXPECT_EQ(GOST34311SetParameter(&d.c, out, 0), 0);

    // A non-zero start vector changes the result.
    Bytes sv(32, 0x5A);
    GOST34311Context e{};
    ASSERT_EQ(GOST34311SetParameter(&e, &sbox, GOST34311_SBOX), 1);
    ASSERT_EQ(GOST34311SetParameter(&e, sv.data(), GOST34311_START_VECTOR), 1);
    ASSERT_EQ(GOST34311UpdateHash(data.data(), 3, &e), 1);
    ASSERT_EQ(GOST34311FinishHash(0, &e), 1);
    ASSERT_EQ(GOST34311GetParameter(&e, out, GOST34311_HASH), 1);
    EXPECT_NE(Bytes(out, out + 32), Hex("f3134348c44fb1b2a277729e2285ebb5cb5e0f29c975bc753b70497c06a4d51d"));
}

TEST(Gost34311, CreateAndFree)
{
    GOST34311Context* c = GOST34311CreateContext();
    ASSERT_NE(c, nullptr);
    const GOST34311Context zero{};
    EXPECT_EQ(std::memcmp(c, &zero, sizeof zero), 0);
    GOST34311FreeContext(c);
    GOST34311FreeContext(nullptr);
}

}  // namespace
