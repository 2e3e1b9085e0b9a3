// DSTU 7564 compression on the vector path against the table code: random
// S-box-default messages of random bit lengths, absorbed in random pieces
// (whole blocks from the caller's data and from bit-shifted copies).
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "crypto/CpuFeatures.h"
#include "crypto/DSTU7564.h"

namespace {

using Bytes = std::vector<uint8_t>;

class VectorPath {
public:
    explicit VectorPath(bool on) { qvkcrypto::UseVectorPath(on); }
    ~VectorPath() { qvkcrypto::UseVectorPath(true); }
};

Bytes Hash(uint32_t hashBits, const Bytes& message, uint64_t bits, const std::vector<uint64_t>& cuts)
{
    DSTU7564Context* c = DSTU7564CreateContext();
    EXPECT_EQ(DSTU7564SetParameter(c, &hashBits, DSTU7564_HASH_BITS), 1);
    uint64_t at = 0;
    for (uint64_t cut : cuts) {
        // Pieces start on byte boundaries of the message only when `at` does:
        // pass the piece's first byte and keep the bit offset in the length.
        EXPECT_EQ(at % 8, 0u);
        const uint64_t take = cut - at;
        EXPECT_EQ(DSTU7564UpdateHash(message.data() + at / 8, static_cast<uint32_t>(take),
                                     static_cast<uint32_t>(take >> 32), c),
                  1);
        at = cut;
    }
    const uint64_t rest = bits - at;
    EXPECT_EQ(DSTU7564UpdateHash(message.data() + at / 8, static_cast<uint32_t>(rest), 0, c), 1);
    EXPECT_EQ(DSTU7564FinishHash(c), 1);
    Bytes out(hashBits / 8);
    EXPECT_EQ(DSTU7564GetParameter(c, out.data(), DSTU7564_HASH), 1);
    DSTU7564FreeContext(c);
    return out;
}

TEST(Dstu7564Vector, PathsAgreeOnRandomMessagesAndSplits)
{
    if (!qvkcrypto::ProcessorHasVectorFeatures())
        GTEST_SKIP() << "this processor lacks AVX-512 VBMI or GFNI: the vector path is not tested here";
    std::mt19937 rng(7564);
    for (uint32_t hashBits : {256u, 384u, 512u}) {
        for (int trial = 0; trial < 6; ++trial) {
            const uint64_t bits = rng() % (8 * 1024 * 9) + (trial == 0 ? 0 : 1);
            Bytes message((bits + 7) / 8 + 1);
            for (auto& b : message) b = static_cast<uint8_t>(rng());
            // Cuts on byte boundaries, then one odd-length piece so the
            // following whole blocks are taken at a bit offset.
            std::vector<uint64_t> cuts;
            for (uint64_t at = 0; at + 8 * 200 < bits;) {
                at += 8 * (rng() % 600 + 1);
                if (at < bits) cuts.push_back(at);
            }
            SCOPED_TRACE(testing::Message() << hashBits << " bits " << bits << " pieces " << cuts.size() + 1);
            Bytes portable, vector;
            {
                VectorPath path(false);
                portable = Hash(hashBits, message, bits, {});
            }
            {
                VectorPath path(true);
                vector = Hash(hashBits, message, bits, cuts);
            }
            EXPECT_EQ(portable, vector);
            // Shifted whole blocks: three bits first, then the rest in one piece.
            if (bits > 3 + 2048) {
                DSTU7564Context* a = DSTU7564CreateContext();
                DSTU7564Context* b = DSTU7564CreateContext();
                Bytes ha(hashBits / 8), hb(hashBits / 8);
                for (auto [ctx, out, vec] : {std::tuple{a, &ha, false}, std::tuple{b, &hb, true}}) {
                    VectorPath path(vec);
                    ASSERT_EQ(DSTU7564SetParameter(ctx, &hashBits, DSTU7564_HASH_BITS), 1);
                    ASSERT_EQ(DSTU7564UpdateHash(message.data(), 3, 0, ctx), 1);
                    Bytes shifted(message.size());
                    for (size_t i = 0; i + 1 < message.size(); ++i)
                        shifted[i] = static_cast<uint8_t>(message[i] << 3 | message[i + 1] >> 5);
                    ASSERT_EQ(DSTU7564UpdateHash(shifted.data(), static_cast<uint32_t>(bits - 3), 0, ctx), 1);
                    ASSERT_EQ(DSTU7564FinishHash(ctx), 1);
                    ASSERT_EQ(DSTU7564GetParameter(ctx, out->data(), DSTU7564_HASH), 1);
                }
                EXPECT_EQ(ha, hb);
                EXPECT_EQ(ha, portable);
                DSTU7564FreeContext(a);
                DSTU7564FreeContext(b);
            }
        }
    }
}

// The vector path works in batches (8 blocks of 64 bytes, 4 of 128) and runs
// each batch's Q beside the previous batch's P: whole numbers of blocks around
// one, two and three batches, taken in one piece and starting one block in.
TEST(Dstu7564Vector, BlockCountsAroundTheBatches)
{
    if (!qvkcrypto::ProcessorHasVectorFeatures())
        GTEST_SKIP() << "this processor lacks AVX-512 VBMI or GFNI: the vector path is not tested here";
    std::mt19937 rng(75642);
    for (uint32_t hashBits : {256u, 512u}) {
        const uint64_t blockBytes = hashBits <= 256 ? 64 : 128, batch = 512 / blockBytes;
        for (uint64_t blocks :
             {batch - 1, batch, batch + 1, 2 * batch - 1, 2 * batch, 2 * batch + 1, 3 * batch, 3 * batch + 1}) {
            Bytes message(blocks * blockBytes + 5);
            for (auto& b : message) b = static_cast<uint8_t>(rng());
            const uint64_t bits = 8 * message.size();
            SCOPED_TRACE(testing::Message() << hashBits << " bits, " << blocks << " blocks");
            Bytes portable;
            {
                VectorPath path(false);
                portable = Hash(hashBits, message, bits, {});
            }
            VectorPath path(true);
            EXPECT_EQ(Hash(hashBits, message, bits, {}), portable);
            EXPECT_EQ(Hash(hashBits, message, bits, {8 * blockBytes}), portable);
        }
    }
}

}  // namespace
