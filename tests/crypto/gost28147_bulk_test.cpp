// The multi-block vector path of GOST 28147-89 (simple replacement, counter
// gamma) against published known answers and against the table code.
#include <gtest/gtest.h>

#include "TestHex.h"

#include <cstring>
#include <random>
#include <vector>

#include "crypto/CpuFeatures.h"
#include "crypto/GOST28147.h"

namespace {

using Bytes = std::vector<uint8_t>;
using cryptotest::Hex;

class VectorPath {
public:
    explicit VectorPath(bool on) { qvkcrypto::UseVectorPath(on); }
    ~VectorPath() { qvkcrypto::UseVectorPath(true); }
};

#define REQUIRE_VECTOR_FEATURES()                                                                                      \
    if (!qvkcrypto::ProcessorHasVectorFeatures())                                                                      \
    GTEST_SKIP() << "this processor lacks AVX-512 VBMI or GFNI: the vector path is not tested here"

// id-Gost28147-89-CryptoPro-A-ParamSet (RFC 4357), S-box 0 first, packed.
GOST28147PackedSBox CryptoProA()
{
    const uint8_t rows[8][16] = {
        {9, 6, 3, 2, 8, 11, 1, 7, 10, 4, 14, 15, 12, 0, 13, 5}, {3, 7, 14, 9, 8, 10, 15, 0, 5, 2, 6, 12, 11, 4, 13, 1},
        {14, 4, 6, 2, 11, 3, 13, 8, 12, 15, 5, 10, 0, 7, 1, 9}, {14, 7, 10, 12, 13, 1, 3, 9, 0, 2, 11, 4, 15, 8, 5, 6},
        {11, 5, 1, 9, 8, 13, 15, 0, 14, 4, 2, 3, 12, 7, 10, 6}, {3, 10, 13, 12, 1, 2, 0, 11, 7, 5, 9, 4, 8, 15, 14, 6},
        {1, 13, 2, 9, 7, 10, 6, 0, 8, 12, 4, 5, 15, 3, 11, 14}, {11, 10, 15, 5, 0, 12, 14, 8, 6, 2, 3, 9, 1, 7, 13, 4},
    };
    GOST28147PackedSBox packed;
    for (int r = 0; r < 4; ++r)
        for (int v = 0; v < 16; ++v) packed.rows[r][v] = static_cast<uint8_t>(rows[2 * r][v] | rows[2 * r + 1][v] << 4);
    return packed;
}

GOST28147Context Make(const GOST28147PackedSBox& sBox, const Bytes& key)
{
    GOST28147Context c{};
    EXPECT_EQ(GOST28147SetParameter(&c, &sBox, GOST28147_SBOX), 1);
    EXPECT_EQ(GOST28147SetParameter(&c, key.data(), GOST28147_KEY), 1);
    return c;
}

Bytes Random(std::mt19937& rng, size_t n)
{
    Bytes out(n);
    for (auto& b : out) b = static_cast<uint8_t>(rng());
    return out;
}

TEST(Gost28147Bulk, PublishedExamplesOnBothPaths)
{
    REQUIRE_VECTOR_FEATURES();
    const Bytes key = Hex("bbf1edd320af8a628e11c8a951ccbe81477b41a16af67f05e8512f9e01f8cf49");
    const Bytes plain = Hex("743d76f91bee353ca25c3b10eb64cff5"), cipher = Hex("c373909535580863cb68859677e8fba9");
    // Counter gamma: the first two blocks of a long stream.
    const Bytes gammaKey = Hex("599f84bac3f3d2f160e1e3f26a961af99c48b24ebcbbbf7cd8f3accd968d286a");
    const Bytes iv = Hex("8dafa8d158ed058d");
    const Bytes gammaPlain = Hex("90a23966ae01b9a3524ec8ed6cdd8830");
    const Bytes gammaCipher = Hex("6e7262cce3593690833afea91bc9bece");
    const uint32_t pairs = 12 * 16 + 5 * 8 + 3;  // whole and partial groups
    for (bool vector : {false, true}) {
        SCOPED_TRACE(vector ? "vector" : "tables");
        VectorPath path(vector);
        GOST28147Context c = Make(CryptoProA(), key);
        Bytes data;
        for (uint32_t i = 0; i < pairs; ++i) data.insert(data.end(), plain.begin(), plain.end());
        ASSERT_EQ(GOST28147EncryptECB(data.data(), 2 * pairs, &c), 1);
        for (uint32_t i = 0; i < pairs; ++i)
            ASSERT_TRUE(std::equal(cipher.begin(), cipher.end(), data.begin() + 16 * i)) << i;
        ASSERT_EQ(GOST28147DecryptECB(data.data(), 2 * pairs, &c), 1);
        for (uint32_t i = 0; i < pairs; ++i)
            ASSERT_TRUE(std::equal(plain.begin(), plain.end(), data.begin() + 16 * i)) << i;

        GOST28147Context g = Make(CryptoProA(), gammaKey);
        ASSERT_EQ(GOST28147SetParameter(&g, iv.data(), GOST28147_IV), 1);
        Bytes stream(8 * 16 * 20, 0);
        std::copy(gammaPlain.begin(), gammaPlain.end(), stream.begin());
        ASSERT_EQ(GOST28147ApplyCounterGamma(stream.data(), static_cast<uint32_t>(stream.size()), &g), 1);
        EXPECT_TRUE(std::equal(gammaCipher.begin(), gammaCipher.end(), stream.begin()));
    }
}

TEST(Gost28147Bulk, PathsAgreeOnRandomKeysAndLengths)
{
    REQUIRE_VECTOR_FEATURES();
    std::mt19937 rng(28147);
    GOST28147PackedSBox sBox;
    for (uint32_t length : {8u * 15, 8u * 16, 8u * 16 + 3, 8u * 63 + 5, 8u * 192, 8u * 192 * 3 + 8 * 70 + 1}) {
        SCOPED_TRACE(length);
        const Bytes packed = Random(rng, 64), key = Random(rng, 32), iv = Random(rng, 8);
        std::memcpy(&sBox, packed.data(), 64);
        const Bytes plain = Random(rng, length);

        Bytes outputs[2][2];
        for (bool vector : {false, true}) {
            VectorPath path(vector);
            GOST28147Context c = Make(sBox, key);
            Bytes ecb = plain;
            ASSERT_EQ(GOST28147EncryptECB(ecb.data(), length / 8, &c), 1);
            outputs[vector][0] = ecb;
            ASSERT_EQ(GOST28147DecryptECB(ecb.data(), length / 8, &c), 1);
            EXPECT_EQ(ecb, plain);

            // Counter gamma in random pieces.
            ASSERT_EQ(GOST28147SetParameter(&c, iv.data(), GOST28147_IV), 1);
            Bytes gamma = plain;
            for (uint32_t at = 0; at < length;) {
                uint32_t take = static_cast<uint32_t>(rng() % (8 * 16 * 14));
                take = take > length - at ? length - at : take;
                ASSERT_EQ(GOST28147ApplyCounterGamma(gamma.data() + at, take, &c), 1);
                at += take;
            }
            outputs[vector][1] = gamma;
        }
        EXPECT_EQ(outputs[0][0], outputs[1][0]);
        EXPECT_EQ(outputs[0][1], outputs[1][1]);
    }
}

TEST(Gost28147Bulk, CountersWrapAlike)
{
    REQUIRE_VECTOR_FEATURES();
    std::mt19937 rng(89);
    const Bytes key = Random(rng, 32), iv = Random(rng, 8), plain = Random(rng, 8 * 16 * 30);
    // N3 wraps modulo 2^32 and N4 modulo 2^32 - 1 inside the stream, N4
    // passing through 2^32 - 1 itself; and an N4 of 0 from the encrypted IV.
    const uint32_t starts[][2] = {
        {0xFFFFFF00u, 0xFFFFFFFFu - 40 * 0x01010104u}, {0x7FFFFFFFu, 0xFFFFFFFFu - 0x01010104u * 17}, {0, 0}};
    for (const auto& start : starts) {
        SCOPED_TRACE(testing::Message() << std::hex << start[0] << " " << start[1]);
        Bytes out[2];
        for (bool vector : {false, true}) {
            VectorPath path(vector);
            GOST28147Context c = Make(CryptoProA(), key);
            ASSERT_EQ(GOST28147SetParameter(&c, iv.data(), GOST28147_IV), 1);
            out[vector] = plain;
            ASSERT_EQ(GOST28147ApplyCounterGamma(out[vector].data(), 8, &c), 1);  // starts the gamma
            c.gamma[0] = start[0];
            c.gamma[1] = start[1];
            ASSERT_EQ(GOST28147ApplyCounterGamma(out[vector].data() + 8, static_cast<uint32_t>(plain.size() - 8), &c),
                      1);
            for (uint32_t word : {c.gamma[0], c.gamma[1]})  // the counters after the stream
                for (int i = 0; i < 4; ++i) out[vector].push_back(static_cast<uint8_t>(word >> (8 * i)));
        }
        EXPECT_EQ(out[0], out[1]);
    }
}

}  // namespace
