// After a bulk call on the vector path, no vector register may still hold
// key material: round keys, the GOST 28147 key or the GOST 34.311 step keys.
// The registers are read right after the call by a helper compiled for the
// same target as the vector code; a control first shows that the helper
// does see key words left in registers.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <iterator>
#include <random>
#include <utility>
#include <vector>

#include "crypto/CpuFeatures.h"
#include "crypto/GOST28147.h"
#include "crypto/GOST34311.h"
#include "dstu7624_test_util.h"

namespace {

using Registers = uint8_t[32][64];

// zmm0..zmm31 as they are on entry: nothing runs between the caller's last
// call and the stores but the call itself.
__attribute__((noinline, target("avx512f"))) void ReadVectorRegisters(Registers* out)
{
    __asm__ volatile("vmovdqu64 %%zmm0, 0(%0)\n\tvmovdqu64 %%zmm1, 64(%0)\n\tvmovdqu64 %%zmm2, 128(%0)\n\t"
                     "vmovdqu64 %%zmm3, 192(%0)\n\tvmovdqu64 %%zmm4, 256(%0)\n\tvmovdqu64 %%zmm5, 320(%0)\n\t"
                     "vmovdqu64 %%zmm6, 384(%0)\n\tvmovdqu64 %%zmm7, 448(%0)\n\tvmovdqu64 %%zmm8, 512(%0)\n\t"
                     "vmovdqu64 %%zmm9, 576(%0)\n\tvmovdqu64 %%zmm10, 640(%0)\n\tvmovdqu64 %%zmm11, 704(%0)\n\t"
                     "vmovdqu64 %%zmm12, 768(%0)\n\tvmovdqu64 %%zmm13, 832(%0)\n\tvmovdqu64 %%zmm14, 896(%0)\n\t"
                     "vmovdqu64 %%zmm15, 960(%0)\n\tvmovdqu64 %%zmm16, 1024(%0)\n\tvmovdqu64 %%zmm17, 1088(%0)\n\t"
                     "vmovdqu64 %%zmm18, 1152(%0)\n\tvmovdqu64 %%zmm19, 1216(%0)\n\tvmovdqu64 %%zmm20, 1280(%0)\n\t"
                     "vmovdqu64 %%zmm21, 1344(%0)\n\tvmovdqu64 %%zmm22, 1408(%0)\n\tvmovdqu64 %%zmm23, 1472(%0)\n\t"
                     "vmovdqu64 %%zmm24, 1536(%0)\n\tvmovdqu64 %%zmm25, 1600(%0)\n\tvmovdqu64 %%zmm26, 1664(%0)\n\t"
                     "vmovdqu64 %%zmm27, 1728(%0)\n\tvmovdqu64 %%zmm28, 1792(%0)\n\tvmovdqu64 %%zmm29, 1856(%0)\n\t"
                     "vmovdqu64 %%zmm30, 1920(%0)\n\tvmovdqu64 %%zmm31, 1984(%0)"
                     :
                     : "r"(out)
                     : "memory");
}

// Puts a 32-bit word into every lane of zmm7 and zmm29: the control.
__attribute__((noinline, target("avx512f"))) void LeaveInRegisters(uint32_t word)
{
    __asm__ volatile("vpbroadcastd %0, %%zmm7\n\tvpbroadcastd %0, %%zmm29" : : "r"(word) : "xmm7", "xmm29");
}

// How many 4-byte-aligned words of the registers equal one of `words`.
int Found(const Registers& r, const std::vector<uint32_t>& words)
{
    int hits = 0;
    for (const auto& reg : r)
        for (int i = 0; i < 64; i += 4) {
            uint32_t v;
            std::memcpy(&v, reg + i, 4);
            for (uint32_t w : words) hits += v == w;
        }
    return hits;
}

#define REQUIRE_VECTOR_FEATURES()                                                                                      \
    if (!qvkcrypto::VectorPathAvailable())                                                                             \
    GTEST_SKIP() << "the vector path is off here (processor features or QVK_CRYPTO_PORTABLE): nothing to clear"

// Words with four distinct non-zero bytes, so no data or counter of the
// tests below is mistaken for them.
std::vector<uint32_t> KeyWords(std::mt19937& rng, size_t n)
{
    std::vector<uint32_t> out;
    while (out.size() < n) {
        const uint32_t w = rng();
        const uint8_t b0 = w & 0xFF, b1 = w >> 8 & 0xFF, b2 = w >> 16 & 0xFF, b3 = w >> 24;
        if (b0 && b1 && b2 && b3 && b0 != b1 && b0 != b2 && b0 != b3 && b1 != b2 && b1 != b3 && b2 != b3)
            out.push_back(w);
    }
    return out;
}

const uint8_t kSBox[64] = {
    0x8a, 0x09, 0xcd, 0x46, 0x9e, 0x6b, 0x74, 0xb5, 0x2f, 0x31, 0x13, 0xfc, 0x57, 0xe0, 0xa8, 0xd2,
    0x3f, 0x86, 0xd5, 0x98, 0x6e, 0xbb, 0xfa, 0x04, 0x2c, 0x50, 0xc3, 0xa7, 0x42, 0xe9, 0x11, 0x7d,
    0x2f, 0x88, 0x9e, 0x79, 0x57, 0xf2, 0x00, 0xbd, 0xcc, 0x16, 0xd1, 0xe5, 0xab, 0x34, 0x63, 0x4a,
    0x13, 0x28, 0x3b, 0xe5, 0x66, 0xd4, 0xbe, 0x8a, 0xf2, 0xac, 0xc1, 0x57, 0x79, 0x9f, 0x0d, 0x40,
};

TEST(VectorClearing, TheReaderSeesWordsLeftInRegisters)
{
    REQUIRE_VECTOR_FEATURES();
    Registers r;
    LeaveInRegisters(0x5A3C9671);
    ReadVectorRegisters(&r);
    // All of zmm29; of zmm7 the low 128 bits survive the vzeroupper the
    // compiler puts at the end of the helper.
    EXPECT_GE(Found(r, {0x5A3C9671}), 16);
}

TEST(VectorClearing, Gost28147BulkLeavesNoKeyWords)
{
    REQUIRE_VECTOR_FEATURES();
    std::mt19937 rng(28147);
    const std::vector<uint32_t> key = KeyWords(rng, 8);
    GOST28147Context c{};
    ASSERT_EQ(GOST28147SetParameter(&c, kSBox, GOST28147_SBOX), 1);
    ASSERT_EQ(GOST28147SetParameter(&c, key.data(), GOST28147_KEY), 1);
    const uint8_t iv[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_EQ(GOST28147SetParameter(&c, iv, GOST28147_IV), 1);
    std::vector<uint8_t> data(8 * 16 * 20);
    Registers r;

    LeaveInRegisters(key[3]);
    GOST28147EncryptECB(data.data(), static_cast<uint32_t>(data.size() / 8), &c);
    ReadVectorRegisters(&r);
    EXPECT_EQ(Found(r, key), 0) << "after ECB";

    LeaveInRegisters(key[5]);
    GOST28147ApplyCounterGamma(data.data(), static_cast<uint32_t>(data.size()), &c);
    ReadVectorRegisters(&r);
    EXPECT_EQ(Found(r, key), 0) << "after counter gamma";
}

TEST(VectorClearing, Gost34311LeavesNoStepKeys)
{
    REQUIRE_VECTOR_FEATURES();
    // A short run (table loads), and one long enough for the encryptions in a
    // vector register.
    for (size_t blocks : {40, 520}) {
        GOST34311Context c{};
        ASSERT_EQ(GOST34311SetParameter(&c, kSBox, GOST34311_SBOX), 1);
        ASSERT_EQ(GOST34311SetParameter(&c, nullptr, GOST34311_START_VECTOR), 1);
        std::vector<uint8_t> data(32 * blocks);
        for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 29 + 3);
        Registers r;
        GOST34311UpdateHash(data.data(), static_cast<uint32_t>(data.size()), &c);
        ReadVectorRegisters(&r);
        // The last step's last key, and its W (the same bytes before P).
        std::vector<uint32_t> words(c.stepKeys, c.stepKeys + 8);
        for (int i = 0; i < 8; ++i) {
            uint32_t w;
            std::memcpy(&w, c.W + 4 * i, 4);
            words.push_back(w);
        }
        EXPECT_EQ(Found(r, words), 0) << blocks << " blocks";
    }
}

// The stack below the caller as the last call left it: how many 4-byte
// words of the area there equal one of `words`. The area is not written
// before it is read: that is the point.
constexpr size_t kStackScan = 96 * 1024;

[[maybe_unused]] __attribute__((noinline)) int FoundBelow(const std::vector<uint32_t>& words)
{
    uint8_t area[kStackScan];
    __asm__ volatile("" : : "r"(area) : "memory");
    int hits = 0;
    for (size_t i = 0; i < sizeof area; i += 4) {
        uint32_t v;
        std::memcpy(&v, area + i, 4);
        for (uint32_t w : words) hits += v == w;
    }
    return hits;
}

// Zeroes the same area, so that what is found there afterwards was left by
// the calls in between.
[[maybe_unused]] __attribute__((noinline)) void ClearBelow()
{
    uint8_t area[kStackScan];
    explicit_bzero(area, sizeof area);
    __asm__ volatile("" : : "r"(area) : "memory");
}

// The kernels keep the whole-order round keys (added before and after the
// rounds) in registers that the compiler spills to their frames; the bulk
// call scrubs those frames. Unoptimised and sanitizer frames are laid out
// otherwise: checked in optimised builds only.
TEST(VectorClearing, Dstu7624BulkLeavesNoRoundKeyWordsOnTheStack)
{
    REQUIRE_VECTOR_FEATURES();
#if !defined(__OPTIMIZE__) || defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "frames of unoptimised or sanitizer builds";
#else
    std::mt19937 rng(4096);
    for (auto [block, keyBits] : {std::pair{128u, 128u}, {256u, 256u}, {256u, 512u}, {512u, 512u}}) {
        dstu7624test::Bytes key(keyBits / 8);
        for (auto& b : key) b = static_cast<uint8_t>(rng());
        auto c = dstu7624test::Keyed(block, key);
        ASSERT_TRUE(c);
        std::vector<uint32_t> words;
        for (const uint64_t* k : {c->roundKeys, c->decryptionRoundKeys})
            for (size_t i = 0; i < std::size(c->roundKeys); ++i)
                for (uint32_t w : {static_cast<uint32_t>(k[i]), static_cast<uint32_t>(k[i] >> 32)})
                    if (w != 0) words.push_back(w);
        std::vector<uint8_t> data(64 * 64 * 4);
        const uint32_t blocks = static_cast<uint32_t>(data.size() * 8 / block);
        ClearBelow();
        ASSERT_EQ(DSTU7624EncryptECB(data.data(), blocks, c.get()), 1);
        EXPECT_EQ(FoundBelow(words), 0) << block << "/" << keyBits << " ECB encryption";
        ClearBelow();
        ASSERT_EQ(DSTU7624DecryptECB(data.data(), blocks, c.get()), 1);
        EXPECT_EQ(FoundBelow(words), 0) << block << "/" << keyBits << " ECB decryption";
        // The modes that go through the kernels 32 KiB at a time, with their
        // own vector steps between (tweaks, chaining).
        const uint8_t iv[64] = {3, 1, 4};
        const uint32_t bits = static_cast<uint32_t>(data.size() * 8);
        CryptoBitLength result{};
        const std::pair<const char*, std::function<int()>> modes[] = {
            {"CBC decryption", [&] { return DSTU7624DecryptCBC(data.data(), bits, 0, 0, &result, c.get()); }},
            {"XTS encryption", [&] { return DSTU7624EncryptXTS(data.data(), bits, 0, c.get()); }},
            {"XTS decryption", [&] { return DSTU7624DecryptXTS(data.data(), bits, 0, c.get()); }},
        };
        for (const auto& [name, call] : modes) {
            ASSERT_EQ(DSTU7624SetParameter(c.get(), iv, DSTU7624_IV), 1);
            ClearBelow();
            ASSERT_EQ(call(), 1) << name;
            EXPECT_EQ(FoundBelow(words), 0) << block << "/" << keyBits << " " << name;
        }
    }
#endif
}

TEST(VectorClearing, Dstu7624BulkLeavesNoRoundKeyWords)
{
    REQUIRE_VECTOR_FEATURES();
    std::mt19937 rng(7624);
    for (auto [block, keyBits] : {std::pair{128u, 128u}, {128u, 256u}, {256u, 256u}, {256u, 512u}, {512u, 512u}}) {
        dstu7624test::Bytes key(keyBits / 8);
        for (auto& b : key) b = static_cast<uint8_t>(rng());
        auto c = dstu7624test::Keyed(block, key);
        ASSERT_TRUE(c);
        // Every 4-byte word of every round key, encryption and decryption.
        std::vector<uint32_t> words;
        for (const uint64_t* k : {c->roundKeys, c->decryptionRoundKeys})
            for (size_t i = 0; i < std::size(c->roundKeys); ++i) {
                for (uint32_t w : {static_cast<uint32_t>(k[i]), static_cast<uint32_t>(k[i] >> 32)})
                    if (w != 0) words.push_back(w);
            }
        // Three byte-sliced groups of 64 blocks and a few batches: every
        // kernel of the block size, and each mode's own vector code.
        std::vector<uint8_t> data(64 * 64 * 3 + 1024);
        const uint8_t iv[64] = {9, 8, 7};
        Registers r;
        const uint32_t blocks = static_cast<uint32_t>(data.size() * 8 / block);
        const uint32_t bits = static_cast<uint32_t>(data.size() * 8);
        CryptoBitLength result{};
        const std::pair<const char*, std::function<int()>> calls[] = {
            {"ECB encryption", [&] { return DSTU7624EncryptECB(data.data(), blocks, c.get()); }},
            {"ECB decryption", [&] { return DSTU7624DecryptECB(data.data(), blocks, c.get()); }},
            {"counter mode", [&] { return DSTU7624EncryptCTR(data.data(), bits, 0, c.get()); }},
            {"CBC decryption", [&] { return DSTU7624DecryptCBC(data.data(), bits, 0, 0, &result, c.get()); }},
            {"XTS encryption", [&] { return DSTU7624EncryptXTS(data.data(), bits, 0, c.get()); }},
            {"XTS decryption", [&] { return DSTU7624DecryptXTS(data.data(), bits, 0, c.get()); }},
        };
        for (const auto& [name, call] : calls) {
            ASSERT_EQ(DSTU7624SetParameter(c.get(), iv, DSTU7624_IV), 1);
            LeaveInRegisters(words[0]);
            ASSERT_EQ(call(), 1) << name;
            ReadVectorRegisters(&r);
            EXPECT_EQ(Found(r, words), 0) << block << "/" << keyBits << " " << name;
        }
    }
}

}  // namespace
