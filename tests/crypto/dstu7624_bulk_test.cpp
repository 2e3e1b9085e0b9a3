// The multi-block vector path of DSTU 7624 (ECB, counter mode, CBC
// decryption, XTS) against the published examples and against the table code.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "crypto/CpuFeatures.h"
#include "dstu7624_test_util.h"

using namespace dstu7624test;

namespace {

// Turns the vector path on or off for a scope.
class VectorPath {
public:
    explicit VectorPath(bool on) { qvkcrypto::UseVectorPath(on); }
    ~VectorPath() { qvkcrypto::UseVectorPath(true); }
};

#define REQUIRE_VECTOR_FEATURES()                                                                                      \
    if (!qvkcrypto::ProcessorHasVectorFeatures())                                                                      \
    GTEST_SKIP() << "this processor lacks AVX-512 VBMI or GFNI: the vector path is not tested here"

struct Variant {
    uint32_t block, key;
};
constexpr Variant kVariants[] = {{128, 128}, {128, 256}, {256, 256}, {256, 512}, {512, 512}};

Bytes Random(std::mt19937& rng, size_t n)
{
    Bytes out(n);
    for (auto& b : out) b = static_cast<uint8_t>(rng());
    return out;
}

TEST(Dstu7624Bulk, PublishedExamplesOnBothPaths)
{
    REQUIRE_VECTOR_FEATURES();
    struct Case {
        uint32_t blockBits;
        Bytes key, input, expected;
    };
    const Case cases[] = {
        {128, Seq(0, 16), Seq(0x10, 16), Hex("81BF1C7D779BAC20E1C9EA39B4D2AD06")},
        {128, Seq(0, 32), Seq(0x20, 16), Hex("58EC3E091000158A1148F7166F334F14")},
        {256, Seq(0, 32), Seq(0x20, 32), Hex("F66E3D570EC92135AEDAE323DCBD2A8CA03963EC206A0D5A88385C24617FD92C")},
        {256, Seq(0, 64), Seq(0x40, 32), Hex("606990E9E6B7B67A4BD6D893D72268B78E02C83C3CD7E102FD2E74A8FDFE5DD9")},
        {512, Seq(0, 64), Seq(0x40, 64),
         Hex("4A26E31B811C356AA61DD6CA0596231A67BA8354AA47F3A13E1DEEC320EB56B895D0F417175BAB662FD6F134BB15C86C"
             "CB906A26856EFEB7C5BC6472940DD9D9")},
    };
    for (bool vector : {false, true}) {
        VectorPath path(vector);
        for (const auto& tc : cases) {
            SCOPED_TRACE(testing::Message() << tc.blockBits << "/" << tc.key.size() * 8 << (vector ? " vector" : ""));
            auto c = Keyed(tc.blockBits, tc.key);
            ASSERT_TRUE(c);
            // One group of 64 blocks on the byte-sliced kernel, a batch and a
            // block, each block the example.
            const uint32_t blocks = 64 + 2048 / tc.blockBits + 1;
            Bytes data;
            for (uint32_t i = 0; i < blocks; ++i) data.insert(data.end(), tc.input.begin(), tc.input.end());
            ASSERT_EQ(1, DSTU7624EncryptECB(data.data(), blocks, c.get()));
            for (uint32_t i = 0; i < blocks; ++i)
                ASSERT_TRUE(std::equal(tc.expected.begin(), tc.expected.end(), data.begin() + i * tc.input.size()))
                    << "block " << i;
            ASSERT_EQ(1, DSTU7624DecryptECB(data.data(), blocks, c.get()));
            for (uint32_t i = 0; i < blocks; ++i)
                ASSERT_TRUE(std::equal(tc.input.begin(), tc.input.end(), data.begin() + i * tc.input.size()))
                    << "block " << i;
        }
    }
}

// Runs `fn` on a fresh context per path and returns the two outputs.
template <typename Fn>
std::pair<Bytes, Bytes> BothPaths(const Variant& v, const Bytes& key, const Bytes& iv, const Bytes& input, Fn fn)
{
    std::pair<Bytes, Bytes> out;
    for (bool vector : {false, true}) {
        VectorPath path(vector);
        auto c = Keyed(v.block, key);
        EXPECT_TRUE(c);
        if (!c) return out;
        if (!iv.empty()) {
            EXPECT_EQ(1, DSTU7624SetParameter(c.get(), iv.data(), DSTU7624_IV));
        }
        Bytes data = input;
        fn(c.get(), data);
        (vector ? out.second : out.first) = data;
    }
    return out;
}

TEST(Dstu7624Bulk, PathsAgreeOnRandomKeysAndLengths)
{
    REQUIRE_VECTOR_FEATURES();
    std::mt19937 rng(7624);
    for (const Variant& v : kVariants) {
        const uint32_t bytes = v.block / 8;
        const uint32_t batch = 2048 / v.block;
        // Every block size also goes 64 blocks at a time on the byte-sliced
        // kernels: around those boundaries too.
        for (uint32_t blocks : {1u, batch - 1, batch, batch + 1, 4 * batch - 1, 4 * batch, 4 * batch + 1, 5 * batch - 1,
                                8 * batch + batch / 2, 17 * batch + 3, 41 * batch + 7, 63u, 64u, 65u, 128u + batch + 1,
                                // CBC decryption and XTS go 32 KiB at a time: over two of those.
                                2 * 32768 / bytes + 64 + batch + 1}) {
            SCOPED_TRACE(testing::Message() << v.block << "/" << v.key << " blocks " << blocks);
            const Bytes key = Random(rng, v.key / 8), iv = Random(rng, bytes);
            const Bytes plain = Random(rng, size_t(blocks) * bytes);

            auto ecb = BothPaths(v, key, {}, plain, [&](DSTU7624Context* c, Bytes& d) {
                ASSERT_EQ(1, DSTU7624EncryptECB(d.data(), blocks, c));
            });
            EXPECT_EQ(ecb.first, ecb.second);
            auto back = BothPaths(v, key, {}, ecb.first, [&](DSTU7624Context* c, Bytes& d) {
                ASSERT_EQ(1, DSTU7624DecryptECB(d.data(), blocks, c));
            });
            EXPECT_EQ(back.first, plain);
            EXPECT_EQ(back.second, plain);

            // CBC: the table code encrypts; both paths decrypt.
            Bytes cbc = plain;
            {
                auto c = Keyed(v.block, key);
                ASSERT_EQ(1, DSTU7624SetParameter(c.get(), iv.data(), DSTU7624_IV));
                const uint64_t bits = uint64_t(blocks) * v.block;
                ASSERT_EQ(1, DSTU7624EncryptCBC(cbc.data(), Lo(bits), Hi(bits), Lo(bits), Hi(bits), c.get()));
            }
            auto cbcBack = BothPaths(v, key, iv, cbc, [&](DSTU7624Context* c, Bytes& d) {
                const uint64_t bits = uint64_t(blocks) * v.block;
                CryptoBitLength result{};
                ASSERT_EQ(1, DSTU7624DecryptCBC(d.data(), Lo(bits), Hi(bits), 0, &result, c));
            });
            EXPECT_EQ(cbcBack.first, plain);
            EXPECT_EQ(cbcBack.second, plain);

            // Counter mode in one call (table code) and in pieces at random
            // bit-exact and byte splits (vector path); lengths not whole blocks.
            const uint64_t total = uint64_t(blocks) * v.block - (blocks > 1 ? 5 : 0);
            Bytes one = plain, pieces = plain;
            {
                VectorPath path(false);
                auto c = Keyed(v.block, key);
                ASSERT_EQ(1, DSTU7624SetParameter(c.get(), iv.data(), DSTU7624_IV));
                ASSERT_EQ(1, DSTU7624EncryptCTR(one.data(), Lo(total), Hi(total), c.get()));
            }
            {
                VectorPath path(true);
                auto c = Keyed(v.block, key);
                ASSERT_EQ(1, DSTU7624SetParameter(c.get(), iv.data(), DSTU7624_IV));
                uint64_t at = 0;
                while (at < total) {
                    uint64_t take = 8 * (rng() % (3 * size_t(batch) * bytes + 1));
                    if (take == 0 || take > total - at) take = total - at;
                    ASSERT_EQ(1, DSTU7624EncryptCTR(pieces.data() + at / 8, Lo(take), Hi(take), c.get()));
                    at += take;
                }
            }
            EXPECT_EQ(one, pieces);

            // XTS, whole blocks and with a stolen partial block.
            for (uint64_t bits : {uint64_t(blocks) * v.block, uint64_t(blocks) * v.block - 11}) {
                if (bits < v.block) continue;
                auto xts = BothPaths(v, key, iv, plain, [&](DSTU7624Context* c, Bytes& d) {
                    ASSERT_EQ(1, DSTU7624EncryptXTS(d.data(), Lo(bits), Hi(bits), c));
                });
                EXPECT_EQ(xts.first, xts.second) << bits;
                auto xtsBack = BothPaths(v, key, iv, xts.first, [&](DSTU7624Context* c, Bytes& d) {
                    ASSERT_EQ(1, DSTU7624DecryptXTS(d.data(), Lo(bits), Hi(bits), c));
                });
                EXPECT_EQ(xtsBack.first, xtsBack.second) << bits;
            }
        }
    }
}

// The sliced kernels take the context's own S-boxes (and their inverses),
// not the standard's.
TEST(Dstu7624Bulk, OtherSBoxesOnBothPaths)
{
    REQUIRE_VECTOR_FEATURES();
    std::mt19937 rng(1024);
    // Each S-box a random permutation of its own.
    Bytes sboxes(1024);
    for (int box = 0; box < 4; ++box) {
        for (int i = 0; i < 256; ++i) sboxes[256 * box + i] = static_cast<uint8_t>(i);
        std::shuffle(sboxes.begin() + 256 * box, sboxes.begin() + 256 * (box + 1), rng);
    }
    for (const Variant& v : kVariants) {
        SCOPED_TRACE(testing::Message() << v.block << "/" << v.key);
        const uint32_t bytes = v.block / 8, blocks = 64 + 2048 / v.block + 3;
        const Bytes key = Random(rng, v.key / 8), iv = Random(rng, bytes), plain = Random(rng, blocks * bytes);
        Bytes out[2], standard;
        for (bool vector : {false, true}) {
            VectorPath path(vector);
            Context c(DSTU7624CreateContext());
            ASSERT_TRUE(c);
            ASSERT_EQ(1, DSTU7624SetParameter(c.get(), sboxes.data(), DSTU7624_SBOXES));
            ASSERT_EQ(1, Set32(c.get(), v.block, DSTU7624_BLOCK_BITS));
            ASSERT_EQ(1, Set32(c.get(), v.key, DSTU7624_KEY_BITS));
            ASSERT_EQ(1, DSTU7624SetParameter(c.get(), key.data(), DSTU7624_KEY));
            Bytes d = plain;
            ASSERT_EQ(1, DSTU7624EncryptECB(d.data(), blocks, c.get()));
            out[vector] = d;
            ASSERT_EQ(1, DSTU7624DecryptECB(d.data(), blocks, c.get()));
            EXPECT_EQ(d, plain) << (vector ? "vector" : "portable");
            ASSERT_EQ(1, DSTU7624SetParameter(c.get(), iv.data(), DSTU7624_IV));
            d = plain;
            const uint64_t bits = uint64_t(blocks) * v.block;
            ASSERT_EQ(1, DSTU7624EncryptCTR(d.data(), Lo(bits), Hi(bits), c.get()));
            out[vector].insert(out[vector].end(), d.begin(), d.end());
        }
        EXPECT_EQ(out[0], out[1]);
        // And they are not the standard S-boxes' results.
        auto c = Keyed(v.block, key);
        standard = plain;
        ASSERT_EQ(1, DSTU7624EncryptECB(standard.data(), blocks, c.get()));
        EXPECT_FALSE(std::equal(standard.begin(), standard.end(), out[1].begin()));
    }
}

TEST(Dstu7624Bulk, CounterCarriesStayInTheLowHalf)
{
    REQUIRE_VECTOR_FEATURES();
    std::mt19937 rng(28);
    for (const Variant& v : kVariants) {
        const uint32_t bw = v.block / 64, bytes = v.block / 8, batch = 2048 / v.block;
        const Bytes key = Random(rng, v.key / 8), iv = Random(rng, bytes);
        const uint64_t blocks = 20 * batch + 2;
        const Bytes plain = Random(rng, blocks * bytes);
        // The wrap in the first batches, and after several batches without one.
        for (uint64_t before : {uint64_t(3), uint64_t(9 * batch + 5)}) {
            SCOPED_TRACE(testing::Message() << v.block << "/" << v.key << " wrap after " << before);
            auto out = BothPaths(v, key, iv, plain, [&](DSTU7624Context* c, Bytes& d) {
                // One block starts the gamma; then the counter is put a few
                // steps before its low half wraps (every low word all ones).
                ASSERT_EQ(1, DSTU7624EncryptCTR(d.data(), v.block, 0, c));
                for (uint32_t w = 0; w < bw / 2; ++w) c->iv[w] = ~0ULL;
                c->iv[0] -= before;
                const uint64_t high = bw > 1 ? c->iv[bw / 2] : 0;
                const uint64_t bits = (blocks - 1) * v.block;
                ASSERT_EQ(1, DSTU7624EncryptCTR(d.data() + bytes, Lo(bits), Hi(bits), c));
                // After the wrap the low half restarts from zero, the high half unchanged.
                for (uint32_t w = 0; w < bw / 2; ++w) EXPECT_EQ(c->iv[w], w == 0 ? blocks - 1 - before - 1 : 0u);
                EXPECT_EQ(high, bw > 1 ? c->iv[bw / 2] : 0);
            });
            EXPECT_EQ(out.first, out.second);
        }
    }
}

}  // namespace
