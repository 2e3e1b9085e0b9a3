// GOST 34.311-95 steps on the vector path against the table code: random
// S-boxes, start vectors, message lengths and pieces; the hash and the
// step work area left in the context must agree.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "crypto/CpuFeatures.h"
#include "crypto/GOST34311.h"

namespace {

using Bytes = std::vector<uint8_t>;

class VectorPath {
public:
    explicit VectorPath(bool on) { qvkcrypto::UseVectorPath(on); }
    ~VectorPath() { qvkcrypto::UseVectorPath(true); }
};

struct Outcome {
    Bytes hash;
    GOST34311Context afterUpdates;
};

Outcome HashOn(bool vector, const Bytes& sBox, const Bytes& start, const Bytes& message,
               const std::vector<size_t>& cuts)
{
    VectorPath path(vector);
    GOST34311Context c{};
    EXPECT_EQ(GOST34311SetParameter(&c, sBox.data(), GOST34311_SBOX), 1);
    EXPECT_EQ(GOST34311SetParameter(&c, start.data(), GOST34311_START_VECTOR), 1);
    size_t at = 0;
    for (size_t cut : cuts) {
        EXPECT_EQ(GOST34311UpdateHash(message.data() + at, static_cast<uint32_t>(cut - at), &c), 1);
        at = cut;
    }
    EXPECT_EQ(GOST34311UpdateHash(message.data() + at, static_cast<uint32_t>(message.size() - at), &c), 1);
    Outcome o{Bytes(32), c};
    EXPECT_EQ(GOST34311FinishHash(0, &c), 1);
    EXPECT_EQ(GOST34311GetParameter(&c, o.hash.data(), GOST34311_HASH), 1);
    return o;
}

TEST(Gost34311Vector, PathsAgreeOnRandomSBoxesMessagesAndSplits)
{
    if (!qvkcrypto::ProcessorHasVectorFeatures())
        GTEST_SKIP() << "this processor lacks AVX-512 VBMI or GFNI: the vector path is not tested here";
    std::mt19937 rng(34311);
    for (int trial = 0; trial < 40; ++trial) {
        Bytes sBox(64), start(32), message(rng() % (trial < 10 ? 200 : 5000) + 1);
        for (auto* v : {&sBox, &start, &message})
            for (auto& b : *v) b = static_cast<uint8_t>(rng());
        if (trial % 4 == 0) std::memset(message.data(), 0xFF, message.size());  // checksum carries through all words
        std::vector<size_t> cuts;
        for (size_t at = 0; at + 1 < message.size() && cuts.size() < 6;) {
            at += rng() % (message.size() - at);
            if (at != 0) cuts.push_back(at);
        }
        const Outcome portable = HashOn(false, sBox, start, message, cuts);
        const Outcome vector = HashOn(true, sBox, start, message, cuts);
        ASSERT_EQ(vector.hash, portable.hash) << "trial " << trial;
        ASSERT_EQ(std::memcmp(&vector.afterUpdates, &portable.afterUpdates, sizeof(GOST34311Context)), 0)
            << "trial " << trial;
    }
}

// Runs of 64 whole blocks and more in one update run the four encryptions
// in a vector register with nibble tables made for the call; around that
// length, on random S-boxes, and on a context whose expanded tables were
// written directly and do not split by nibble (the table loads must serve it).
TEST(Gost34311Vector, LongRunsAgree)
{
    if (!qvkcrypto::ProcessorHasVectorFeatures())
        GTEST_SKIP() << "this processor lacks AVX-512 VBMI or GFNI: the vector path is not tested here";
    struct Case {
        size_t length;
        std::vector<size_t> cuts;
    };
    const Case cases[] = {
        {64 * 32, {}},
        {64 * 32 - 1, {}},
        {63 * 32 + 5, {3}},                   // 63 whole blocks after the first piece
        {65 * 32 + 7, {32}},                  // 64 blocks left after one
        {1400 * 32 + 19, {7, 7 + 600 * 32}},  // a run, then the rest after a partial block
    };
    std::mt19937 rng(3411);
    for (const Case& tc : cases) {
        for (bool directTables : {false, true}) {
            SCOPED_TRACE(testing::Message() << tc.length << (directTables ? " tables written directly" : ""));
            Bytes sBox(64), start(32), message(tc.length);
            for (auto* v : {&sBox, &start, &message})
                for (auto& b : *v) b = static_cast<uint8_t>(rng());
            Bytes hashes[2];
            GOST34311Context contexts[2];
            const uint32_t entry = static_cast<uint32_t>(rng()) | 1;
            for (int v = 0; v < 2; ++v) {
                VectorPath path(v == 1);
                GOST34311Context& c = contexts[v];
                c = GOST34311Context{};
                ASSERT_EQ(GOST34311SetParameter(&c, sBox.data(), GOST34311_SBOX), 1);
                if (directTables) c.expandedSBox.tables[1][0x35] ^= entry;
                ASSERT_EQ(GOST34311SetParameter(&c, start.data(), GOST34311_START_VECTOR), 1);
                size_t at = 0;
                for (size_t cut : tc.cuts) {
                    ASSERT_EQ(GOST34311UpdateHash(message.data() + at, static_cast<uint32_t>(cut - at), &c), 1);
                    at = cut;
                }
                ASSERT_EQ(GOST34311UpdateHash(message.data() + at, static_cast<uint32_t>(message.size() - at), &c), 1);
                hashes[v].resize(32);
                ASSERT_EQ(GOST34311FinishHash(0, &c), 1);
                ASSERT_EQ(GOST34311GetParameter(&c, hashes[v].data(), GOST34311_HASH), 1);
            }
            EXPECT_EQ(hashes[1], hashes[0]);
            EXPECT_EQ(std::memcmp(&contexts[1], &contexts[0], sizeof contexts[0]), 0);
        }
    }
}

TEST(Gost34311Vector, SingleStepOnSeparateBuffersAgrees)
{
    if (!qvkcrypto::ProcessorHasVectorFeatures())
        GTEST_SKIP() << "this processor lacks AVX-512 VBMI or GFNI: the vector path is not tested here";
    std::mt19937 rng(2811);
    for (int trial = 0; trial < 20; ++trial) {
        uint8_t sBox[64], h[2][32], m[32];
        for (auto& b : sBox) b = static_cast<uint8_t>(rng());
        for (auto& b : h[0]) b = static_cast<uint8_t>(rng());
        for (auto& b : m) b = static_cast<uint8_t>(rng());
        std::memcpy(h[1], h[0], 32);
        GOST34311Context c[2]{};
        for (int v = 0; v < 2; ++v) {
            VectorPath path(v == 1);
            GOST34311SetParameter(&c[v], sBox, GOST34311_SBOX);
            GOST34311Step(h[v], m, &c[v]);
        }
        ASSERT_EQ(std::memcmp(h[0], h[1], 32), 0) << "trial " << trial;
        ASSERT_EQ(std::memcmp(&c[0], &c[1], sizeof c[0]), 0) << "trial " << trial;
    }
}

}  // namespace
