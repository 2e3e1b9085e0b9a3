// Mode behaviour beyond the published examples: bit lengths ending inside a
// byte, split messages, padding rules, refusals and the mended faults.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "dstu7624_test_util.h"

using namespace dstu7624test;

namespace {

const uint32_t kBlocks[5] = {128, 128, 256, 256, 512};
const uint32_t kKeys[5] = {128, 256, 256, 512, 512};

Context Variant(int v)
{
    return Keyed(kBlocks[v], Seq(0, kKeys[v] / 8));
}

Bytes Block(const DSTU7624Context* c, const uint64_t* words)
{
    const uint8_t* p = reinterpret_cast<const uint8_t*>(words);
    return Bytes(p, p + c->blockWords * 8);
}

Bytes Encrypted(DSTU7624Context* c, Bytes block)
{
    DSTU7624EncryptECB(block.data(), 1, c);
    return block;
}

Bytes Cleared(Bytes data, uint64_t bits)
{
    data.resize((bits + 7) / 8);
    if (bits % 8) data.back() &= static_cast<uint8_t>(0xFF00u >> (bits % 8));
    return data;
}

// ---- bit-string helpers ----

TEST(Dstu7624Bits, PadBlock)
{
    Bytes buf(32, 0xFF);
    DSTU7624PadBlock(buf.data(), 256, 2);  // block boundary: untouched
    EXPECT_EQ(buf, Bytes(32, 0xFF));
    DSTU7624PadBlock(buf.data(), 128 + 3, 2);
    EXPECT_EQ(buf[16], 0xF0);  // 3 message bits, the 1 bit, zeros
    EXPECT_EQ(Bytes(buf.begin() + 17, buf.end()), Bytes(15, 0));
    EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 16), Bytes(16, 0xFF));
}

// Used to write whole 64-bit words past the bits it was asked for.
TEST(Dstu7624Bits, ExtractTrailingBitsWritesOnlyWhatIsAsked)
{
    const Bytes src = Seq(0x10, 16);
    struct Case {
        uint64_t total;
        uint32_t count;
        Bytes expected;
    };
    const Case cases[] = {
        {72, 8, {0x18}},                // one byte after a word boundary
        {128, 4, {0xF0}},               // low nibble of 0x1F
        {20, 12, {0x11, 0x10}},         // bits 8..19 of 10 11 12
        {128, 17, {0x8F, 0x0F, 0x80}},  // bit 111 (low bit of 0x1D), then 0x1E, 0x1F
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.count);
        Bytes dst(16, 0xAA);
        DSTU7624ExtractTrailingBits(src.data(), tc.total, dst.data(), tc.count);
        const size_t n = (tc.count + 7) / 8;
        EXPECT_EQ(Bytes(dst.begin(), dst.begin() + n), tc.expected);
        EXPECT_EQ(Bytes(dst.begin() + n, dst.end()), Bytes(16 - n, 0xAA));
    }
}

TEST(Dstu7624Bits, RemovePaddingAndClearLeadingBits)
{
    Bytes buf(32, 0);
    uint64_t pos = 0;
    EXPECT_EQ(0, DSTU7624RemovePadding(buf.data(), 256, &pos, 2));  // all zero
    EXPECT_EQ(0, DSTU7624RemovePadding(buf.data(), 200, &pos, 2));  // not whole blocks
    EXPECT_EQ(0, DSTU7624RemovePadding(buf.data(), 256, &pos, 0));
    buf[20] = 0x28;
    ASSERT_EQ(1, DSTU7624RemovePadding(buf.data(), 256, &pos, 2));
    EXPECT_EQ(pos, 128u + 32 + 4);
    EXPECT_EQ(buf[20], 0x20);

    Bytes c(4, 0xFF);
    DSTU7624ClearLeadingBits(c.data(), 11, 0);
    EXPECT_EQ(c, (Bytes{0x00, 0x1F, 0xFF, 0xFF}));
}

// ---- ECB and CMAC ----

TEST(Dstu7624Cmac, Structure)
{
    auto c = Variant(2);
    const uint32_t B = 256;
    Bytes msg = Seq(0x40, 68);
    // One whole block M: E(M xor E(0)).
    ASSERT_EQ(1, DSTU7624ComputeCMAC(msg.data(), B, 0, c.get()));
    Bytes m(msg.begin(), msg.begin() + 32);
    const Bytes e0 = Encrypted(c.get(), Bytes(32, 0));
    for (int i = 0; i < 32; ++i) m[i] ^= e0[i];
    EXPECT_EQ(Block(c.get(), c->mac), Encrypted(c.get(), m));

    // 544 bits: two blocks, then 4 bytes, 0x80, 27 zeros with subkey E(01 00..).
    ASSERT_EQ(1, DSTU7624ComputeCMAC(msg.data(), 544, 0, c.get()));
    Bytes v = Encrypted(c.get(), Bytes(msg.begin(), msg.begin() + 32));
    for (int i = 0; i < 32; ++i) v[i] ^= msg[32 + i];
    v = Encrypted(c.get(), v);
    Bytes last(32, 0);
    std::memcpy(last.data(), msg.data() + 64, 4);
    last[4] = 0x80;
    Bytes one(32, 0);
    one[0] = 1;
    const Bytes k1 = Encrypted(c.get(), one);
    for (int i = 0; i < 32; ++i) v[i] ^= last[i] ^ k1[i];
    const Bytes expected = Encrypted(c.get(), v);
    EXPECT_EQ(Block(c.get(), c->mac), expected);
    EXPECT_EQ(GetMac(c.get(), 64), Bytes(expected.begin(), expected.begin() + 8));

    // 12 bits: the low 4 bits of the second byte do not count.
    Bytes a = {0xAB, 0xC0}, b = {0xAB, 0xCF};
    ASSERT_EQ(1, DSTU7624ComputeCMAC(a.data(), 12, 0, c.get()));
    const Bytes macA = Block(c.get(), c->mac);
    ASSERT_EQ(1, DSTU7624ComputeCMAC(b.data(), 12, 0, c.get()));
    EXPECT_EQ(macA, Block(c.get(), c->mac));
    ASSERT_EQ(1, DSTU7624ComputeCMAC(msg.data(), B + 1, 0, c.get()));
    EXPECT_NE(macA, Block(c.get(), c->mac));

    // Zero bits: refused and the earlier MAC is no longer readable.
    EXPECT_EQ(0, DSTU7624ComputeCMAC(msg.data(), 0, 0, c.get()));
    ASSERT_EQ(1, Set32(c.get(), 64, DSTU7624_MAC_BITS));
    uint8_t out[8];
    EXPECT_EQ(0, DSTU7624GetParameter(c.get(), out, DSTU7624_MAC));
}

TEST(Dstu7624Cmac, Verify)
{
    auto c = Variant(2);
    const Bytes msg = Seq(0x40, 68);
    EXPECT_EQ(0, DSTU7624VerifyCMAC(msg.data(), 544, 0, c.get()));  // no MAC length / expected MAC
    ASSERT_EQ(1, DSTU7624ComputeCMAC(msg.data(), 544, 0, c.get()));
    Bytes mac = GetMac(c.get(), 64);
    ASSERT_EQ(1, DSTU7624SetParameter(c.get(), mac.data(), DSTU7624_MAC));
    EXPECT_EQ(1, DSTU7624VerifyCMAC(msg.data(), 544, 0, c.get()));
    mac[3] ^= 1;
    ASSERT_EQ(1, DSTU7624SetParameter(c.get(), mac.data(), DSTU7624_MAC));
    EXPECT_EQ(0, DSTU7624VerifyCMAC(msg.data(), 544, 0, c.get()));
    // 32 bits cannot be verified even when the first 4 bytes agree.
    auto d = Variant(2);
    ASSERT_EQ(1, Set32(d.get(), 32, DSTU7624_MAC_BITS));
    mac[3] ^= 1;
    ASSERT_EQ(1, DSTU7624SetParameter(d.get(), mac.data(), DSTU7624_MAC));
    EXPECT_EQ(0, DSTU7624VerifyCMAC(msg.data(), 544, 0, d.get()));
}

TEST(Dstu7624Ecb, ZeroBlocksAndRoundTrip)
{
    for (int v = 0; v < 5; ++v) {
        auto c = Variant(v);
        Bytes data = Seq(7, 3 * kBlocks[v] / 8);
        const Bytes orig = data;
        EXPECT_EQ(1, DSTU7624EncryptECB(data.data(), 0, c.get()));
        EXPECT_EQ(data, orig);
        // Odd address: the cores take unaligned blocks.
        Bytes shifted(data.size() + 1);
        std::memcpy(shifted.data() + 1, data.data(), data.size());
        ASSERT_EQ(1, DSTU7624EncryptECB(data.data(), 3, c.get()));
        ASSERT_EQ(1, DSTU7624EncryptECB(shifted.data() + 1, 3, c.get()));
        EXPECT_EQ(Bytes(shifted.begin() + 1, shifted.end()), data);
        ASSERT_EQ(1, DSTU7624DecryptECB(data.data(), 3, c.get()));
        EXPECT_EQ(data, orig);
    }
}

// ---- round trips over lengths that end inside a byte ----

using Op = std::function<int(uint8_t*, uint64_t, DSTU7624Context*)>;

struct StreamMode {
    const char* name;
    Op encrypt, decrypt;
    bool keepsSpareBits;
};

TEST(Dstu7624Modes, RoundTripsAtOddLengths)
{
    const auto cfb = [](uint32_t s) {
        return StreamMode{
            "CFB",
            [s](uint8_t* d, uint64_t L, DSTU7624Context* c) { return DSTU7624EncryptCFB(d, Lo(L), Hi(L), s, c); },
            [s](uint8_t* d, uint64_t L, DSTU7624Context* c) { return DSTU7624DecryptCFB(d, Lo(L), Hi(L), s, c); },
            s == 1};
    };
    std::vector<StreamMode> modes = {
        {"CTR", [](uint8_t* d, uint64_t L, DSTU7624Context* c) { return DSTU7624EncryptCTR(d, Lo(L), Hi(L), c); },
         [](uint8_t* d, uint64_t L, DSTU7624Context* c) { return DSTU7624DecryptCTR(d, Lo(L), Hi(L), c); }, false},
        {"OFB", [](uint8_t* d, uint64_t L, DSTU7624Context* c) { return DSTU7624EncryptOFB(d, Lo(L), Hi(L), c); },
         [](uint8_t* d, uint64_t L, DSTU7624Context* c) { return DSTU7624DecryptOFB(d, Lo(L), Hi(L), c); }, false},
        {"XTS", [](uint8_t* d, uint64_t L, DSTU7624Context* c) { return DSTU7624EncryptXTS(d, Lo(L), Hi(L), c); },
         [](uint8_t* d, uint64_t L, DSTU7624Context* c) { return DSTU7624DecryptXTS(d, Lo(L), Hi(L), c); }, false},
    };
    for (uint32_t s : {1u, 8u, 64u, 128u, 256u, 512u}) modes.push_back(cfb(s));

    for (int v = 0; v < 5; ++v) {
        const uint32_t B = kBlocks[v];
        for (const auto& mode : modes) {
            for (uint64_t L :
                 {uint64_t(B), uint64_t(B + 3), uint64_t(2 * B + 13), uint64_t(3 * B - 1), uint64_t(1), uint64_t(77)}) {
                if (std::string(mode.name) == "XTS" && L < B) continue;
                SCOPED_TRACE(testing::Message() << mode.name << " v" << v << " L=" << L);
                auto c = Variant(v);
                const Bytes iv = Seq(0x33, B / 8);
                Bytes data = Seq(0x5A, static_cast<int>((L + 7) / 8), 3);
                const Bytes orig = data;
                ASSERT_EQ(1, DSTU7624SetParameter(c.get(), iv.data(), DSTU7624_IV));
                const int ok = mode.encrypt(data.data(), L, c.get());
                if (ok == 0) {  // CFB feedback wider than the block
                    EXPECT_EQ(data, orig);
                    continue;
                }
                if (L >= 8) {
                    EXPECT_NE(Cleared(data, L), Cleared(orig, L));
                }
                ASSERT_EQ(1, DSTU7624SetParameter(c.get(), iv.data(), DSTU7624_IV));
                ASSERT_EQ(1, mode.decrypt(data.data(), L, c.get()));
                if (mode.keepsSpareBits)
                    EXPECT_EQ(data, orig);
                else
                    EXPECT_EQ(data, Cleared(orig, L));
            }
        }
    }
}

TEST(Dstu7624Modes, CfbFeedbackRules)
{
    auto c = Variant(0);
    const Bytes iv = Seq(1, 16);
    ASSERT_EQ(1, DSTU7624SetParameter(c.get(), iv.data(), DSTU7624_IV));
    Bytes data(64, 0x11);
    for (uint32_t s : {256u, 512u, 16u, 32u, 0u, 2u})
        EXPECT_EQ(0, DSTU7624EncryptCFB(data.data(), 512, 0, s, c.get())) << s;
    EXPECT_EQ(data, Bytes(64, 0x11));
}

TEST(Dstu7624Modes, CtrAndOfbSplitOnByteBoundaries)
{
    for (int v = 0; v < 5; ++v) {
        const uint32_t B = kBlocks[v];
        const Bytes iv = Seq(0x21, B / 8);
        for (int mode = 0; mode < 2; ++mode) {
            const auto run = [mode](uint8_t* d, uint64_t L, DSTU7624Context* c) {
                return mode == 0 ? DSTU7624EncryptCTR(d, Lo(L), Hi(L), c) : DSTU7624EncryptOFB(d, Lo(L), Hi(L), c);
            };
            SCOPED_TRACE(testing::Message() << (mode ? "OFB" : "CTR") << " v" << v);
            const uint64_t L = 3 * B + 5;
            auto whole = Variant(v);
            ASSERT_EQ(1, DSTU7624SetParameter(whole.get(), iv.data(), DSTU7624_IV));
            Bytes one = Seq(3, static_cast<int>((L + 7) / 8));
            ASSERT_EQ(1, run(one.data(), L, whole.get()));
            // Pieces of 1, 2, 3, ... bytes, then the rest.
            auto split = Variant(v);
            ASSERT_EQ(1, DSTU7624SetParameter(split.get(), iv.data(), DSTU7624_IV));
            Bytes pieces = Seq(3, static_cast<int>((L + 7) / 8));
            uint64_t done = 0;
            for (uint64_t n = 1; done + 8 * n < L; ++n) {
                ASSERT_EQ(1, run(pieces.data() + done / 8, 8 * n, split.get()));
                done += 8 * n;
            }
            ASSERT_EQ(1, run(pieces.data() + done / 8, L - done, split.get()));
            EXPECT_EQ(pieces, one);
        }
    }
}

TEST(Dstu7624Modes, CtrLeftoverBits)
{
    auto c = Variant(0);
    const Bytes iv = Seq(0x10, 16);
    ASSERT_EQ(1, DSTU7624SetParameter(c.get(), iv.data(), DSTU7624_IV));
    EXPECT_EQ(1, DSTU7624EncryptCTR(nullptr, 0, 0, c.get()));
    EXPECT_EQ(0, std::memcmp(c->iv, iv.data(), 16));  // length 0 does not start the counter
    Bytes gamma(32, 0);
    auto ref = Variant(0);
    ASSERT_EQ(1, DSTU7624SetParameter(ref.get(), iv.data(), DSTU7624_IV));
    ASSERT_EQ(1, DSTU7624EncryptCTR(gamma.data(), 256, 0, ref.get()));  // the raw stream
    Bytes first(16, 0);
    ASSERT_EQ(1, DSTU7624EncryptCTR(first.data(), 124, 0, c.get()));  // leaves 4 bits
    EXPECT_EQ(c->gammaBitsLeft, 4u);
    Bytes next = {0xFF, 0xFF};
    ASSERT_EQ(1, DSTU7624EncryptCTR(next.data(), 12, 0, c.get()));
    EXPECT_EQ(next[0], static_cast<uint8_t>(((0xFF ^ (gamma[15] << 4)) & 0xF0)));
    EXPECT_EQ(next[1], static_cast<uint8_t>(0xFF ^ gamma[16]));
}

TEST(Dstu7624Modes, OfbLeftoverState)
{
    auto c = Variant(2);
    const Bytes iv = Seq(0x10, 32);
    ASSERT_EQ(1, DSTU7624SetParameter(c.get(), iv.data(), DSTU7624_IV));
    Bytes d(64, 0);
    ASSERT_EQ(1, DSTU7624EncryptOFB(d.data(), 256, 0, c.get()));
    EXPECT_EQ(c->gammaBitsLeft, 0u);
    ASSERT_EQ(1, DSTU7624EncryptOFB(d.data(), 100, 0, c.get()));
    EXPECT_EQ(c->gammaBitsLeft, 156u);
}

// ---- CBC and key wrap ----

TEST(Dstu7624Cbc, PaddingRules)
{
    auto c = Variant(0);
    const Bytes iv = Seq(0x10, 16);
    EXPECT_EQ(0, DSTU7624EncryptCBC(Bytes(32).data(), 256, 0, 256, 0, c.get()));  // no IV
    ASSERT_EQ(1, DSTU7624SetParameter(c.get(), iv.data(), DSTU7624_IV));
    Bytes data = Seq(0x40, 17);
    data.resize(32, 0x77);
    const Bytes orig = data;
    EXPECT_EQ(0, DSTU7624EncryptCBC(data.data(), 130, 0, 130, 0, c.get()));
    EXPECT_EQ(data, orig);
    EXPECT_EQ(1, DSTU7624EncryptCBC(data.data(), 0, 0, 999, 0, c.get()));
    ASSERT_EQ(1, DSTU7624EncryptCBC(data.data(), 130, 0, 256, 0, c.get()));
    Bytes again = orig;
    ASSERT_EQ(1, DSTU7624EncryptCBC(again.data(), 130, 0, 256, 0, c.get()));
    EXPECT_EQ(again, data);  // the IV is not advanced
    CryptoBitLength result{77, 77};
    EXPECT_EQ(0, DSTU7624DecryptCBC(data.data(), 200, 0, 1, &result, c.get()));
    EXPECT_EQ(1, DSTU7624DecryptCBC(data.data(), 0, 0, 1, &result, c.get()));
    EXPECT_EQ(result.low, 77u);
    ASSERT_EQ(1, DSTU7624DecryptCBC(data.data(), 256, 0, 1, &result, c.get()));
    EXPECT_EQ(CryptoLoadBitLength(&result), 130u);
    EXPECT_EQ(Bytes(data.begin(), data.begin() + 17), Cleared(orig, 130));

    // An all-zero last block has no padding bit.
    Bytes zeros(16, 0);
    ASSERT_EQ(1, DSTU7624EncryptCBC(zeros.data(), 128, 0, 128, 0, c.get()));
    EXPECT_EQ(0, DSTU7624DecryptCBC(zeros.data(), 128, 0, 1, &result, c.get()));
}

TEST(Dstu7624KeyWrap, RoundTripsAndLengths)
{
    for (int v = 0; v < 5; ++v) {
        const uint32_t B = kBlocks[v];
        for (uint64_t L : {uint64_t(B), uint64_t(2 * B), uint64_t(10), uint64_t(B + 58), uint64_t(B / 2),
                           uint64_t(B + B / 2), uint64_t(B / 2 + 1), uint64_t(3 * B - 7)}) {
            SCOPED_TRACE(testing::Message() << "v" << v << " L=" << L);
            const uint64_t r = L % B;
            const uint64_t W = r == 0 ? L + B : (L - r) + ((r + B / 2) / B + 2) * B;
            auto c = Variant(v);
            Bytes data = Seq(0x91, static_cast<int>(W / 8), 5);
            const Bytes orig = Cleared(data, L);
            EXPECT_EQ(0, DSTU7624WrapKey(data.data(), Lo(L), Hi(L), Lo(W + B), Hi(W + B), c.get()));
            ASSERT_EQ(1, DSTU7624WrapKey(data.data(), Lo(L), Hi(L), Lo(W), Hi(W), c.get()));
            CryptoBitLength result{};
            ASSERT_EQ(1, DSTU7624UnwrapKey(data.data(), Lo(W), Hi(W), r != 0, &result, c.get()));
            EXPECT_EQ(CryptoLoadBitLength(&result), L);
            EXPECT_EQ(Cleared(data, L), orig);
        }
    }
}

TEST(Dstu7624KeyWrap, PreparedLayout)
{
    // 10 bits on a 128-bit block: the key keeps its 10 bits, LEN starts at bit 10.
    auto c = Variant(0);
    Bytes data = {0xFF, 0xFF};
    data.resize(32, 0x55);
    ASSERT_EQ(1, DSTU7624WrapKey(data.data(), 10, 0, 256, 0, c.get()));
    CryptoBitLength result{};
    ASSERT_EQ(1, DSTU7624UnwrapKey(data.data(), 256, 0, 0, &result, c.get()));
    EXPECT_EQ(CryptoLoadBitLength(&result), 128u);
    // FF C0 | LEN = 10 (0A 00 .. as 64 bits at bit 10) | padding bit at bit 74.
    const Bytes expected = {0xFF, 0xC2, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x20, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(Bytes(data.begin(), data.begin() + 16), expected);
    // 0 bits wrap to one block, which unwrapping refuses.
    Bytes empty(16, 0);
    ASSERT_EQ(1, DSTU7624WrapKey(empty.data(), 0, 0, 128, 0, c.get()));
    EXPECT_EQ(0, DSTU7624UnwrapKey(empty.data(), 128, 0, 0, &result, c.get()));
}

// A padding bit in the first half of the only message block used to make the
// LEN read start in front of the scratch buffer.
TEST(Dstu7624KeyWrap, PaddingBitBeforeLenIsRefusedAndWiped)
{
    for (int v : {0, 2, 4}) {
        const uint32_t B = kBlocks[v];
        auto c = Variant(v);
        Bytes data(2 * B / 8, 0);
        data[0] = 0x80;
        ASSERT_EQ(1, DSTU7624WrapKey(data.data(), B, 0, 2 * B, 0, c.get()));
        CryptoBitLength result{};
        EXPECT_EQ(0, DSTU7624UnwrapKey(data.data(), 2 * B, 0, 1, &result, c.get()));
        EXPECT_EQ(data, Bytes(2 * B / 8, 0));
    }
}

// A failed check used to leave the unwrapped, unverified key in the buffer.
TEST(Dstu7624KeyWrap, FailedCheckWipesTheBuffer)
{
    auto c = Variant(1);
    Bytes data = Seq(0x20, 64);
    ASSERT_EQ(1, DSTU7624WrapKey(data.data(), 384, 0, 512, 0, c.get()));
    data[5] ^= 0x01;
    CryptoBitLength result{};
    EXPECT_EQ(0, DSTU7624UnwrapKey(data.data(), 512, 0, 0, &result, c.get()));
    EXPECT_EQ(data, Bytes(64, 0));
    Bytes odd(40, 1);
    EXPECT_EQ(0, DSTU7624UnwrapKey(odd.data(), 320, 0, 0, &result, c.get()));  // not whole blocks
    EXPECT_EQ(odd, Bytes(40, 1));
}

// ---- GMAC, GCM, CCM ----

TEST(Dstu7624Gcm, TagRules)
{
    auto c = Variant(0);
    const Bytes iv = Seq(0x10, 16), ad = Seq(0x20, 16);
    Bytes data = Seq(0x30, 32);
    EXPECT_EQ(0, DSTU7624EncryptGCM(data.data(), 0, 0, ad.data(), 0, 0, c.get()));      // both empty
    EXPECT_EQ(0, DSTU7624EncryptGCM(data.data(), 256, 0, ad.data(), 128, 0, c.get()));  // no IV
    EXPECT_EQ(data, Seq(0x30, 32));
    // Associated data only: no IV needed to encrypt.
    ASSERT_EQ(1, DSTU7624EncryptGCM(data.data(), 0, 0, ad.data(), 128, 0, c.get()));
    EXPECT_EQ(data, Seq(0x30, 32));

    // The tag does not depend on the IV, only on the ciphertext.
    ASSERT_EQ(1, DSTU7624ComputeGMAC(data.data(), 0, 0, c.get()));
    EXPECT_EQ(Block(c.get(), c->mac), Encrypted(c.get(), Bytes(16, 0)));  // empty GMAC = H
    const Bytes ct = Seq(0x77, 32);
    Bytes x = ct, y = ct;
    DSTU7624ComputeGCMTag(x.data(), 256, 0, ad.data(), 128, 0, c.get());
    const Bytes tag1 = Block(c.get(), c->mac);
    ASSERT_EQ(1, DSTU7624SetParameter(c.get(), iv.data(), DSTU7624_IV));
    DSTU7624ComputeGCMTag(y.data(), 256, 0, ad.data(), 128, 0, c.get());
    EXPECT_EQ(tag1, Block(c.get(), c->mac));

    // Wrong tag: refused, ciphertext left in place. MAC of 100 bits: 13 bytes.
    ASSERT_EQ(1, DSTU7624SetParameter(c.get(), iv.data(), DSTU7624_IV));
    Bytes msg = Seq(0x30, 32);
    ASSERT_EQ(1, DSTU7624EncryptGCM(msg.data(), 256, 0, ad.data(), 128, 0, c.get()));
    Bytes tag = GetMac(c.get(), 100);
    ASSERT_EQ(tag.size(), 13u);
    EXPECT_EQ(tag[12] & 0x0F, 0);
    const Bytes cipher = msg;
    tag[0] ^= 1;
    ASSERT_EQ(1, DSTU7624SetParameter(c.get(), tag.data(), DSTU7624_MAC));
    ASSERT_EQ(1, DSTU7624SetParameter(c.get(), iv.data(), DSTU7624_IV));
    EXPECT_EQ(0, DSTU7624DecryptGCM(msg.data(), 256, 0, ad.data(), 128, 0, c.get()));
    EXPECT_EQ(msg, cipher);
    tag[0] ^= 1;
    tag[12] |= 0x01;  // spare bits set in the expected MAC never match
    ASSERT_EQ(1, DSTU7624SetParameter(c.get(), tag.data(), DSTU7624_MAC));
    EXPECT_EQ(0, DSTU7624DecryptGCM(msg.data(), 256, 0, ad.data(), 128, 0, c.get()));
    tag[12] &= 0xF0;
    ASSERT_EQ(1, DSTU7624SetParameter(c.get(), tag.data(), DSTU7624_MAC));
    ASSERT_EQ(1, DSTU7624DecryptGCM(msg.data(), 256, 0, ad.data(), 128, 0, c.get()));
    EXPECT_EQ(msg, Seq(0x30, 32));

    // MAC length 0: verification compares nothing.
    ASSERT_EQ(1, Set32(c.get(), 0, DSTU7624_MAC_BITS));
    ASSERT_EQ(1, DSTU7624SetParameter(c.get(), tag.data(), DSTU7624_MAC));
    EXPECT_EQ(1, DSTU7624VerifyGMAC(ad.data(), 77, 0, c.get()));
}

TEST(Dstu7624Gcm, GmacPadsPartialBlock)
{
    // 139 bits: block 2 holds byte 16 and the top 3 bits of byte 17 then a 1 bit.
    auto c = Variant(0);
    Bytes m = Seq(0x20, 18);
    m[17] = 0xE0;
    ASSERT_EQ(1, DSTU7624ComputeGMAC(m.data(), 139, 0, c.get()));
    const Bytes mac = Block(c.get(), c->mac);
    uint64_t h[2] = {0, 0};
    DSTU7624EncryptECB(reinterpret_cast<uint8_t*>(h), 1, c.get());
    uint64_t acc[2] = {0, 0}, b[2];
    std::memcpy(b, m.data(), 16);
    acc[0] ^= b[0];
    acc[1] ^= b[1];
    DSTU7624MultiplyGF(acc, h, 2, acc);
    uint8_t last[16] = {m[16], 0xF0};
    std::memcpy(b, last, 16);
    acc[0] ^= b[0];
    acc[1] ^= b[1];
    DSTU7624MultiplyGF(acc, h, 2, acc);
    acc[0] ^= 139;
    DSTU7624EncryptECB(reinterpret_cast<uint8_t*>(acc), 1, c.get());
    EXPECT_EQ(mac, Bytes(reinterpret_cast<uint8_t*>(acc), reinterpret_cast<uint8_t*>(acc) + 16));
}

TEST(Dstu7624Gcm, FieldArithmetic)
{
    for (uint32_t n : {2u, 4u, 8u}) {
        uint64_t a[8], one[8] = {1}, x[8] = {2}, out[8];
        for (uint32_t i = 0; i < n; ++i) a[i] = 0x9E3779B97F4A7C15ULL * (i + 1);
        DSTU7624MultiplyGF(a, one, n, out);
        EXPECT_EQ(0, std::memcmp(out, a, n * 8));
        uint64_t t[8];
        std::memcpy(t, a, n * 8);
        DSTU7624MultiplyTweak(t, n);
        DSTU7624MultiplyGF(a, x, n, out);
        EXPECT_EQ(0, std::memcmp(out, t, n * 8));
        // x^(B-1) * x wraps to the reduction constant.
        uint64_t top[8] = {};
        top[n - 1] = 1ULL << 63;
        DSTU7624MultiplyTweak(top, n);
        EXPECT_EQ(top[0], n == 2 ? 0x87u : n == 4 ? 0x425u : 0x125u);
    }
}

// B0 is the MAC when both the plaintext and the associated data are empty.
TEST(Dstu7624Ccm, FirstBlockFlags)
{
    struct Case {
        int v;
        uint32_t macBits, width;
        uint8_t flags;
    };
    for (const Case& tc : {Case{0, 64, 2, 0x21}, Case{0, 128, 4, 0x33}, Case{4, 512, 8, 0x67}}) {
        auto c = Variant(tc.v);
        const Bytes nonce = Seq(0x10, kBlocks[tc.v] / 8);
        ASSERT_EQ(1, DSTU7624SetParameter(c.get(), nonce.data(), DSTU7624_IV));
        ASSERT_EQ(1, Set32(c.get(), tc.macBits, DSTU7624_MAC_BITS));
        Bytes buf(tc.macBits / 8);
        ASSERT_EQ(1, DSTU7624EncryptCCM(buf.data(), 0, tc.macBits / 8, nullptr, 0, tc.width, c.get()));
        const Bytes b0 = Block(c.get(), c->mac);
        const size_t nb = kBlocks[tc.v] / 8;
        EXPECT_EQ(b0[nb - 1], tc.flags);
        EXPECT_TRUE(std::equal(nonce.begin(), nonce.begin() + (nb - tc.width - 1), b0.begin()));
        EXPECT_EQ(Bytes(b0.begin() + (nb - tc.width - 1), b0.end() - 1), Bytes(tc.width, 0));
    }
}

TEST(Dstu7624Ccm, LengthsAndWidths)
{
    auto c = Variant(0);
    const Bytes nonce = Seq(0x10, 16);
    ASSERT_EQ(1, DSTU7624SetParameter(c.get(), nonce.data(), DSTU7624_IV));
    ASSERT_EQ(1, Set32(c.get(), 128, DSTU7624_MAC_BITS));
    Bytes big(65536 + 16, 0x42);
    // w = 2: 65,535 bytes fit, 65,536 do not.
    EXPECT_EQ(1, DSTU7624EncryptCCM(big.data(), 65535, 65535 + 16, nullptr, 0, 2, c.get()));
    ASSERT_EQ(1, DSTU7624SetParameter(c.get(), nonce.data(), DSTU7624_IV));
    EXPECT_EQ(0, DSTU7624EncryptCCM(big.data(), 65536, 65536 + 16, nullptr, 0, 2, c.get()));
    // Widths outside 1 .. min(16, B/8 - 1) used to overrun the first block.
    Bytes buf(32, 0);
    for (uint32_t w : {0u, 16u, 17u, 100u})
        EXPECT_EQ(0, DSTU7624EncryptCCM(buf.data(), 16, 32, nullptr, 0, w, c.get())) << w;
    EXPECT_EQ(buf, Bytes(32, 0));
    // Associated data too long for a narrow field used to be truncated silently.
    Bytes ad(256, 1);
    EXPECT_EQ(0, DSTU7624EncryptCCM(buf.data(), 16, 32, ad.data(), 256, 1, c.get()));
    EXPECT_EQ(1, DSTU7624EncryptCCM(buf.data(), 16, 32, ad.data(), 255, 1, c.get()));
    // Tag lengths other than the coded ones: refused after the CBC-MAC.
    auto e = Variant(0);
    Bytes plain = Seq(0x30, 16);
    plain.resize(28);
    ASSERT_EQ(1, Set32(e.get(), 96, DSTU7624_MAC_BITS));
    ASSERT_EQ(1, DSTU7624SetParameter(e.get(), nonce.data(), DSTU7624_IV));
    EXPECT_EQ(0, DSTU7624EncryptCCM(plain.data(), 16, 28, nullptr, 0, 4, e.get()));
    EXPECT_TRUE(std::equal(plain.begin(), plain.begin() + 16, Seq(0x30, 16).begin()));
    // Wider blocks allow up to 16 bytes.
    auto d = Variant(4);
    ASSERT_EQ(1, DSTU7624SetParameter(d.get(), Seq(0, 64).data(), DSTU7624_IV));
    ASSERT_EQ(1, Set32(d.get(), 64, DSTU7624_MAC_BITS));
    Bytes wide(24, 0);
    EXPECT_EQ(1, DSTU7624EncryptCCM(wide.data(), 16, 24, nullptr, 0, 16, d.get()));
}

TEST(Dstu7624Ccm, AssociatedDataLayoutsRoundTrip)
{
    // 13, 16 and 20 bytes of associated data cross the header differently.
    for (uint32_t a : {0u, 1u, 13u, 16u, 20u, 33u}) {
        for (uint32_t p : {0u, 5u, 16u, 37u}) {
            SCOPED_TRACE(testing::Message() << "a=" << a << " p=" << p);
            auto c = Variant(0);
            const Bytes nonce = Seq(0x10, 16), ad = Seq(0x80, static_cast<int>(a));
            Bytes buf = Seq(0x30, static_cast<int>(p));
            buf.resize(p + 16);
            ASSERT_EQ(1, DSTU7624SetParameter(c.get(), nonce.data(), DSTU7624_IV));
            ASSERT_EQ(1, Set32(c.get(), 128, DSTU7624_MAC_BITS));
            ASSERT_EQ(1, DSTU7624EncryptCCM(buf.data(), p, p + 16, ad.data(), a, 4, c.get()));
            ASSERT_EQ(1, DSTU7624SetParameter(c.get(), nonce.data(), DSTU7624_IV));
            ASSERT_EQ(1, DSTU7624DecryptCCM(buf.data(), p + 16, ad.data(), a, 4, c.get()));
            EXPECT_EQ(Bytes(buf.begin(), buf.begin() + p), Seq(0x30, static_cast<int>(p)));
        }
    }
}

// A failed tag check used to leave the decrypted, unverified plaintext behind.
TEST(Dstu7624Ccm, FailedCheckWipesTheBuffer)
{
    auto c = Variant(2);
    const Bytes nonce = Seq(0x20, 32), ad = Seq(0x40, 32);
    Bytes buf = Seq(0x60, 64);
    buf.resize(80);
    ASSERT_EQ(1, DSTU7624SetParameter(c.get(), nonce.data(), DSTU7624_IV));
    ASSERT_EQ(1, Set32(c.get(), 128, DSTU7624_MAC_BITS));
    ASSERT_EQ(1, DSTU7624EncryptCCM(buf.data(), 64, 80, ad.data(), 32, 4, c.get()));
    for (size_t flip : {size_t(3), size_t(70)}) {
        Bytes bad = buf;
        bad[flip] ^= 0x10;
        ASSERT_EQ(1, DSTU7624SetParameter(c.get(), nonce.data(), DSTU7624_IV));
        EXPECT_EQ(0, DSTU7624DecryptCCM(bad.data(), 80, ad.data(), 32, 4, c.get()));
        EXPECT_EQ(bad, Bytes(80, 0));
    }
    Bytes shortBuf(8, 9);
    EXPECT_EQ(0, DSTU7624DecryptCCM(shortBuf.data(), 8, nullptr, 0, 4, c.get()));  // tag longer than buffer
    EXPECT_EQ(shortBuf, Bytes(8, 9));
}

// ---- XTS ----

TEST(Dstu7624Xts, LengthsAndTweak)
{
    auto c = Variant(0);
    const Bytes iv = Seq(0x10, 16);
    Bytes data = Seq(0x20, 41);
    ASSERT_EQ(1, DSTU7624SetParameter(c.get(), iv.data(), DSTU7624_IV));
    EXPECT_EQ(0, DSTU7624EncryptXTS(data.data(), 127, 0, c.get()));
    EXPECT_EQ(data, Seq(0x20, 41));
    EXPECT_EQ(0, std::memcmp(c->iv, iv.data(), 16));

    // One block: tweak E(IV)*x; iv ends as that tweak.
    ASSERT_EQ(1, DSTU7624EncryptXTS(data.data(), 128, 0, c.get()));
    uint64_t t[2];
    std::memcpy(t, iv.data(), 16);
    DSTU7624EncryptECB(reinterpret_cast<uint8_t*>(t), 1, c.get());
    DSTU7624MultiplyTweak(t, 2);
    EXPECT_EQ(0, std::memcmp(c->iv, t, 16));

    // B + 3 bits: the spare low 5 bits of the last byte come out cleared.
    Bytes odd = Seq(0x20, 17);
    odd[16] = 0xFF;
    ASSERT_EQ(1, DSTU7624SetParameter(c.get(), iv.data(), DSTU7624_IV));
    ASSERT_EQ(1, DSTU7624EncryptXTS(odd.data(), 131, 0, c.get()));
    EXPECT_EQ(odd[16] & 0x1F, 0);
    ASSERT_EQ(1, DSTU7624SetParameter(c.get(), iv.data(), DSTU7624_IV));
    ASSERT_EQ(1, DSTU7624DecryptXTS(odd.data(), 131, 0, c.get()));
    EXPECT_EQ(odd[16], 0xE0);

    // 328 bits: the last partial 9 bytes are the first 9 bytes of CC (the
    // second block encrypted under T2).
    Bytes full = Seq(0x20, 41), two = Seq(0x20, 32);
    ASSERT_EQ(1, DSTU7624SetParameter(c.get(), iv.data(), DSTU7624_IV));
    ASSERT_EQ(1, DSTU7624EncryptXTS(full.data(), 328, 0, c.get()));
    ASSERT_EQ(1, DSTU7624SetParameter(c.get(), iv.data(), DSTU7624_IV));
    ASSERT_EQ(1, DSTU7624EncryptXTS(two.data(), 256, 0, c.get()));
    EXPECT_TRUE(std::equal(full.begin(), full.begin() + 16, two.begin()));
    EXPECT_TRUE(std::equal(full.begin() + 32, full.end(), two.begin() + 16));
    EXPECT_FALSE(std::equal(full.begin() + 16, full.begin() + 32, two.begin() + 16));
}

TEST(Dstu7624Modes, MissingFlagsRefuseWithoutChange)
{
    Context c(DSTU7624CreateContext());
    ASSERT_EQ(1, Set32(c.get(), 128, DSTU7624_BLOCK_BITS));
    Bytes data(64, 0x3C);
    CryptoBitLength r{};
    EXPECT_EQ(0, DSTU7624EncryptCTR(data.data(), 8, 0, c.get()));
    EXPECT_EQ(0, DSTU7624EncryptOFB(data.data(), 8, 0, c.get()));
    EXPECT_EQ(0, DSTU7624EncryptCFB(data.data(), 8, 0, 8, c.get()));
    EXPECT_EQ(0, DSTU7624EncryptXTS(data.data(), 128, 0, c.get()));
    EXPECT_EQ(0, DSTU7624WrapKey(data.data(), 128, 0, 256, 0, c.get()));
    EXPECT_EQ(0, DSTU7624UnwrapKey(data.data(), 256, 0, 0, &r, c.get()));
    EXPECT_EQ(0, DSTU7624ComputeGMAC(data.data(), 8, 0, c.get()));
    EXPECT_EQ(0, DSTU7624EncryptCCM(data.data(), 0, 16, nullptr, 0, 4, c.get()));
    EXPECT_EQ(data, Bytes(64, 0x3C));
    auto k = Variant(0);  // key but no IV / MAC length
    EXPECT_EQ(0, DSTU7624EncryptCTR(data.data(), 8, 0, k.get()));
    EXPECT_EQ(0, DSTU7624DecryptGCM(data.data(), 8, 0, nullptr, 0, 0, k.get()));
    EXPECT_EQ(0, DSTU7624VerifyGMAC(data.data(), 8, 0, k.get()));
    EXPECT_EQ(data, Bytes(64, 0x3C));
}

}  // namespace
