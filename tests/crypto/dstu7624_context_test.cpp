// Context parameters, flags, counter seek and export/import.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <utility>
#include <vector>

#include "crypto/DSTUCiphersTables.h"
#include "dstu7624_test_util.h"

using namespace dstu7624test;

namespace {

TEST(Dstu7624Context, BlockAndKeySizeRules)
{
    struct Case {
        uint32_t block, key;
        int blockOk, keyOk;
        uint32_t blockRead;
    };
    const Case cases[] = {
        {130, 128, 1, 1, 128}, {575, 512, 1, 1, 512}, {200, 0, 0, 0, 0},     {64, 0, 0, 0, 0},
        {1024, 0, 0, 0, 0},    {128, 512, 1, 0, 128}, {256, 319, 1, 1, 256}, {256, 575, 1, 1, 256},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(testing::Message() << tc.block << "/" << tc.key);
        Context c(DSTU7624CreateContext());
        EXPECT_EQ(tc.blockOk, Set32(c.get(), tc.block, DSTU7624_BLOCK_BITS));
        if (!tc.blockOk) continue;
        uint32_t read = 0;
        ASSERT_EQ(1, DSTU7624GetParameter(c.get(), &read, DSTU7624_BLOCK_BITS));
        EXPECT_EQ(read, tc.blockRead);
        EXPECT_EQ(tc.keyOk, Set32(c.get(), tc.key, DSTU7624_KEY_BITS));
    }
}

TEST(Dstu7624Context, OrderOfSettingIsEnforced)
{
    const Bytes key = Seq(0, 64);
    Context c(DSTU7624CreateContext());
    EXPECT_EQ(0, Set32(c.get(), 256, DSTU7624_KEY_BITS));  // no block size yet
    ASSERT_EQ(1, Set32(c.get(), 256, DSTU7624_BLOCK_BITS));
    EXPECT_EQ(0, DSTU7624SetParameter(c.get(), key.data(), DSTU7624_KEY));  // no key size yet
    uint8_t block[64] = {};
    EXPECT_EQ(0, DSTU7624EncryptECB(block, 1, c.get()));

    // 512-bit block with a 1,024-bit key names no variant.
    ASSERT_EQ(1, Set32(c.get(), 512, DSTU7624_BLOCK_BITS));
    EXPECT_EQ(0, Set32(c.get(), 1024, DSTU7624_KEY_BITS));
    EXPECT_EQ(0, DSTU7624SetParameter(c.get(), key.data(), DSTU7624_KEY));
    uint32_t bits;
    EXPECT_EQ(0, DSTU7624GetParameter(c.get(), &bits, DSTU7624_KEY_BITS));

    // A new block size after the key forgets the key.
    auto k = Keyed(256, Seq(0, 32));
    ASSERT_TRUE(k);
    ASSERT_EQ(1, Set32(k.get(), 256, DSTU7624_BLOCK_BITS));
    EXPECT_EQ(0, DSTU7624EncryptECB(block, 1, k.get()));
    EXPECT_EQ(0, DSTU7624ComputeCMAC(block, 256, 0, k.get()));
}

TEST(Dstu7624Context, UnknownTypesAreRefused)
{
    auto c = Keyed(256, Seq(0, 32));
    uint8_t buf[64] = {};
    for (uint32_t type : {0u, 8u, 9u, 10u, 13u, 100u}) EXPECT_EQ(0, DSTU7624SetParameter(c.get(), buf, type)) << type;
    for (uint32_t type : {0u, 1u, 4u, 5u, 6u, 12u}) EXPECT_EQ(0, DSTU7624GetParameter(c.get(), buf, type)) << type;
    DSTU7624FreeContext(nullptr);
}

TEST(Dstu7624Context, MacLengthRule)
{
    auto c = Keyed(256, Seq(0, 32));
    const Bytes data = Seq(0, 64);
    EXPECT_EQ(0, Set32(c.get(), 257, DSTU7624_MAC_BITS));
    EXPECT_EQ(1, Set32(c.get(), 0, DSTU7624_MAC_BITS));
    EXPECT_EQ(1, Set32(c.get(), 96, DSTU7624_MAC_BITS));  // no MAC held yet
    uint8_t mac[64];
    EXPECT_EQ(0, DSTU7624GetParameter(c.get(), mac, DSTU7624_MAC));  // none computed

    ASSERT_EQ(1, DSTU7624ComputeCMAC(data.data(), 512, 0, c.get()));
    for (uint32_t bits : {64u, 128u, 256u}) EXPECT_EQ(1, Set32(c.get(), bits, DSTU7624_MAC_BITS)) << bits;
    EXPECT_EQ(0, Set32(c.get(), 96, DSTU7624_MAC_BITS));

    ASSERT_EQ(1, DSTU7624ComputeGMAC(data.data(), 512, 0, c.get()));
    EXPECT_EQ(1, Set32(c.get(), 96, DSTU7624_MAC_BITS));

    // 12 bits: two bytes, the second keeping only its high half.
    ASSERT_EQ(1, Set32(c.get(), 12, DSTU7624_MAC_BITS));
    uint8_t shortMac[2];
    ASSERT_EQ(1, DSTU7624GetParameter(c.get(), shortMac, DSTU7624_MAC));
    EXPECT_EQ(shortMac[0], reinterpret_cast<const uint8_t*>(c->mac)[0]);
    EXPECT_EQ(shortMac[1], reinterpret_cast<const uint8_t*>(c->mac)[1] & 0xF0);
}

TEST(Dstu7624Context, SBoxesAfterKeyKeepOldRoundKeys)
{
    const Bytes key = Seq(0, 32);
    auto c = Keyed(256, key);
    std::vector<uint8_t> before(15 * 32), after(15 * 32);
    ASSERT_EQ(1, DSTU7624GetParameter(c.get(), before.data(), DSTU7624_ROUND_KEYS));
    // Other S-boxes: each one shifted by a rotation of its entries.
    std::vector<uint8_t> sboxes(1024);
    for (int i = 0; i < 1024; ++i) sboxes[i] = DSTUDefaultSBoxes[(i & ~255) | ((i + 1) & 255)];
    ASSERT_EQ(1, DSTU7624SetParameter(c.get(), sboxes.data(), DSTU7624_SBOXES));
    ASSERT_EQ(1, DSTU7624GetParameter(c.get(), after.data(), DSTU7624_ROUND_KEYS));
    EXPECT_EQ(before, after);
    ASSERT_EQ(1, DSTU7624SetParameter(c.get(), key.data(), DSTU7624_KEY));
    ASSERT_EQ(1, DSTU7624GetParameter(c.get(), after.data(), DSTU7624_ROUND_KEYS));
    EXPECT_NE(before, after);
    // Decryption still inverts encryption with the rebuilt tables.
    Bytes block = Seq(0x40, 32);
    ASSERT_EQ(1, DSTU7624EncryptECB(block.data(), 1, c.get()));
    EXPECT_NE(block, Seq(0x40, 32));
    ASSERT_EQ(1, DSTU7624DecryptECB(block.data(), 1, c.get()));
    EXPECT_EQ(block, Seq(0x40, 32));
}

TEST(Dstu7624Context, KeyScheduleProperties)
{
    // Word 0 of all ones: the start value wraps inside word 0; decryption keys
    // 0 and nr are the encryption ones; odd keys are byte rotations.
    Bytes key(32, 0);
    std::memset(key.data(), 0xFF, 8);
    auto c = Keyed(256, key);
    ASSERT_TRUE(c);
    std::vector<uint8_t> rk(15 * 32), dk(15 * 32);
    ASSERT_EQ(1, DSTU7624GetParameter(c.get(), rk.data(), DSTU7624_ROUND_KEYS));
    ASSERT_EQ(1, DSTU7624GetParameter(c.get(), dk.data(), DSTU7624_DECRYPTION_ROUND_KEYS));
    EXPECT_TRUE(std::equal(rk.begin(), rk.begin() + 32, dk.begin()));
    EXPECT_TRUE(std::equal(rk.end() - 32, rk.end(), dk.end() - 32));
    for (int i = 0; i < 7; ++i) {
        for (int j = 0; j < 32; ++j)
            ASSERT_EQ(rk[(2 * i + 1) * 32 + j], rk[2 * i * 32 + (j + 11) % 32]) << i << " " << j;
    }
}

// Round key 0 computed from the key schedule's definition with the published
// T-tables, from a given start value of the K-sigma chain (the key's first
// half with NB + NK + 1 added).
using Words = std::vector<uint64_t>;

Words KeylessRound(const Words& s)
{
    // Row r of output column c comes from column c - floor(r * NB / 8).
    const size_t nb = s.size();
    Words d(nb, 0);
    for (size_t c = 0; c < nb; ++c)
        for (size_t r = 0; r < 8; ++r)
            d[c] ^= DSTUDefaultTTables[256 * r + ((s[(c + nb - r * nb / 8) % nb] >> (8 * r)) & 0xFF)];
    return d;
}

Words RoundKeyZero(const Words& key, size_t nb, const Words& start)
{
    const Words ka(key.begin(), key.begin() + nb);
    const Words kw(key.end() - nb, key.end());
    Words t = KeylessRound(start);
    for (size_t c = 0; c < nb; ++c) t[c] ^= kw[c];
    Words s = KeylessRound(t);
    for (size_t c = 0; c < nb; ++c) s[c] += ka[c];
    Words kt = KeylessRound(s);
    for (size_t c = 0; c < nb; ++c) kt[c] += 0x0001000100010001ULL;
    for (size_t c = 0; c < nb; ++c) s[c] = key[c] + kt[c];
    t = KeylessRound(s);
    for (size_t c = 0; c < nb; ++c) t[c] ^= kt[c];
    s = KeylessRound(t);
    for (size_t c = 0; c < nb; ++c) s[c] += kt[c];
    return s;
}

TEST(Dstu7624Context, KeyScheduleStartValueWrapsInsideWordZero)
{
    // Word 0 of all ones: adding NB + NK + 1 wraps inside word 0 and carries
    // nothing into word 1.
    const std::pair<uint32_t, uint32_t> variants[] = {{128, 128}, {128, 256}, {256, 256}, {256, 512}, {512, 512}};
    for (const auto& [block, keyBits] : variants) {
        SCOPED_TRACE(testing::Message() << block << "/" << keyBits);
        const size_t nb = block / 64, nk = keyBits / 64;
        Words key(nk);
        for (size_t i = 0; i < nk; ++i) key[i] = 0x0F1E2D3C4B5A6978ULL * (i + 3);
        key[0] = ~0ULL;
        Bytes keyBytes(keyBits / 8);
        std::memcpy(keyBytes.data(), key.data(), keyBytes.size());
        auto c = Keyed(block, keyBytes);
        ASSERT_TRUE(c);
        Words rk(nb * 19);
        ASSERT_EQ(1, DSTU7624GetParameter(c.get(), rk.data(), DSTU7624_ROUND_KEYS));
        rk.resize(nb);

        Words wrapped(key.begin(), key.begin() + nb);
        wrapped[0] = nb + nk + 1 - 1;
        EXPECT_EQ(rk, RoundKeyZero(key, nb, wrapped));
        Words carried = wrapped;
        carried[1] += 1;
        EXPECT_NE(rk, RoundKeyZero(key, nb, carried));
    }
}

TEST(Dstu7624Context, CounterSeek)
{
    for (uint32_t block : {128u, 256u, 512u}) {
        SCOPED_TRACE(block);
        const Bytes iv = Seq(0x10, block / 8);
        auto a = Keyed(block, Seq(0, block / 8));
        auto b = Keyed(block, Seq(0, block / 8));
        const uint64_t n = 3;
        EXPECT_EQ(0, DSTU7624SetParameter(a.get(), &n, DSTU7624_COUNTER_OFFSET));  // no IV
        ASSERT_EQ(1, DSTU7624SetParameter(a.get(), iv.data(), DSTU7624_IV));
        ASSERT_EQ(1, DSTU7624SetParameter(b.get(), iv.data(), DSTU7624_IV));
        ASSERT_EQ(1, DSTU7624SetParameter(a.get(), &n, DSTU7624_COUNTER_OFFSET));
        EXPECT_EQ(0, DSTU7624SetParameter(a.get(), &n, DSTU7624_COUNTER_OFFSET));  // twice
        Bytes stream(5 * block / 8, 0), tail(2 * block / 8, 0);
        ASSERT_EQ(1, DSTU7624EncryptCTR(stream.data(), 5 * block, 0, b.get()));
        ASSERT_EQ(1, DSTU7624EncryptCTR(tail.data(), 2 * block, 0, a.get()));
        EXPECT_TRUE(std::equal(tail.begin(), tail.end(), stream.begin() + 3 * block / 8));
        ASSERT_EQ(1, DSTU7624SetParameter(a.get(), iv.data(), DSTU7624_IV));
        EXPECT_EQ(1, DSTU7624SetParameter(a.get(), &n, DSTU7624_COUNTER_OFFSET));
    }
}

TEST(Dstu7624Context, CounterCarryStaysInLowHalf)
{
    struct Case {
        uint32_t block;
        uint64_t offset;
    };
    for (const Case& tc : {Case{128, ~0ULL}, Case{256, ~0ULL}, Case{512, 5}}) {
        SCOPED_TRACE(tc.block);
        const uint32_t words = tc.block / 64;
        auto c = Keyed(tc.block, Seq(0, tc.block / 8));
        const Bytes iv = Seq(0x10, tc.block / 8);
        ASSERT_EQ(1, DSTU7624SetParameter(c.get(), iv.data(), DSTU7624_IV));
        uint64_t start[8];
        std::memcpy(start, iv.data(), tc.block / 8);
        ASSERT_EQ(1, DSTU7624EncryptECB(reinterpret_cast<uint8_t*>(start), 1, c.get()));  // E(IV)
        ASSERT_EQ(1, DSTU7624SetParameter(c.get(), &tc.offset, DSTU7624_COUNTER_OFFSET));
        uint64_t expected[8];
        std::memcpy(expected, start, tc.block / 8);
        expected[0] += tc.offset;
        if (expected[0] < tc.offset && words >= 4)
            expected[1] += 1;  // carries into word 1 only when it is in the low half
        EXPECT_EQ(0, std::memcmp(c->iv, expected, tc.block / 8));
    }
}

// The export image is the record itself: the field order of the record is
// the image format (function fields pointer-sized on this platform).
TEST(Dstu7624Context, ExportImageLayout)
{
    struct Field {
        const char* name;
        size_t offset, expected;
    };
    const size_t fn = sizeof(void*);
    const Field fields[] = {
        {"flags", offsetof(DSTU7624Context, flags), 0},
        {"blockWords", offsetof(DSTU7624Context, blockWords), 4},
        {"keyWords", offsetof(DSTU7624Context, keyWords), 8},
        {"roundKeyCount", offsetof(DSTU7624Context, roundKeyCount), 12},
        {"decryptionRoundKeyCount", offsetof(DSTU7624Context, decryptionRoundKeyCount), 16},
        {"gammaBitsLeft", offsetof(DSTU7624Context, gammaBitsLeft), 20},
        {"macBits", offsetof(DSTU7624Context, macBits), 24},
        {"macMode", offsetof(DSTU7624Context, macMode), 28},
        {"key", offsetof(DSTU7624Context, key), 32},
        {"roundKeys", offsetof(DSTU7624Context, roundKeys), 128},
        {"decryptionRoundKeys", offsetof(DSTU7624Context, decryptionRoundKeys), 1344},
        {"iv", offsetof(DSTU7624Context, iv), 2560},
        {"gamma", offsetof(DSTU7624Context, gamma), 2624},
        {"mac", offsetof(DSTU7624Context, mac), 2688},
        {"expectedMac", offsetof(DSTU7624Context, expectedMac), 2752},
        {"expandKey", offsetof(DSTU7624Context, expandKey), 2816},
        {"decryptBlock", offsetof(DSTU7624Context, decryptBlock), 2816 + 3 * fn},
        {"sBoxes", offsetof(DSTU7624Context, sBoxes), 2816 + 4 * fn},
        {"inverseSBoxes", offsetof(DSTU7624Context, inverseSBoxes), 3840 + 4 * fn},
        {"tTables", offsetof(DSTU7624Context, tTables), 4864 + 4 * fn},
        {"inverseTTables", offsetof(DSTU7624Context, inverseTTables), 21248 + 4 * fn},
        {"end", sizeof(DSTU7624Context), 37680 + 4 * fn},
    };
    for (const Field& f : fields) EXPECT_EQ(f.offset, f.expected) << f.name;
    // With 4-byte function references this is the 37,696-byte record.
    EXPECT_EQ(sizeof(DSTU7624Context) - 4 * fn + 16, 37696u);
}

TEST(Dstu7624Context, ExportImport)
{
    uint32_t size = 0;
    Context fresh(DSTU7624CreateContext());
    ASSERT_EQ(1, DSTU7624GetParameter(fresh.get(), &size, DSTU7624_CONTEXT_SIZE));
    EXPECT_EQ(size, sizeof(DSTU7624Context));

    auto a = Keyed(256, Seq(0, 32));
    std::vector<uint8_t> image(size);
    ASSERT_EQ(1, DSTU7624GetParameter(a.get(), image.data(), DSTU7624_CONTEXT));
    Context b(DSTU7624CreateContext());
    ASSERT_EQ(1, DSTU7624SetParameter(b.get(), image.data(), DSTU7624_CONTEXT));
    Bytes x = Seq(0x20, 32), y = x;
    ASSERT_EQ(1, DSTU7624EncryptECB(x.data(), 1, a.get()));
    ASSERT_EQ(1, DSTU7624EncryptECB(y.data(), 1, b.get()));
    EXPECT_EQ(x, y);

    // An image from before any key size: refused, no key usable.
    ASSERT_EQ(1, DSTU7624GetParameter(fresh.get(), image.data(), DSTU7624_CONTEXT));
    Context d(DSTU7624CreateContext());
    EXPECT_EQ(0, DSTU7624SetParameter(d.get(), image.data(), DSTU7624_CONTEXT));
    EXPECT_EQ(0, DSTU7624EncryptECB(x.data(), 1, d.get()));
}

// Images that used to be copied in unchecked and then made the modes read or
// write outside the context's buffers.
TEST(Dstu7624Context, ImportRefusesUnsoundImages)
{
    auto good = Keyed(256, Seq(0, 32));
    const Bytes iv = Seq(0x10, 32);
    ASSERT_EQ(1, DSTU7624SetParameter(good.get(), iv.data(), DSTU7624_IV));
    ASSERT_EQ(1, Set32(good.get(), 64, DSTU7624_MAC_BITS));
    using Mutator = void (*)(DSTU7624Context*);
    const Mutator bad[] = {
        [](DSTU7624Context* c) { c->macBits = 4096; },
        [](DSTU7624Context* c) { c->macBits = 320; },  // above the 256-bit block
        [](DSTU7624Context* c) { c->gammaBitsLeft = 1000; },
        [](DSTU7624Context* c) { c->gammaBitsLeft = 300; },  // above the block
        [](DSTU7624Context* c) { c->blockWords = 100; },
        [](DSTU7624Context* c) { c->keyWords = 3; },
        [](DSTU7624Context* c) { c->flags &= ~DSTU7624_FLAG_KEY_SIZE; },  // key without functions
        [](DSTU7624Context* c) { c->flags |= 0x100; },
        [](DSTU7624Context* c) { c->macMode = 7; },
    };
    for (size_t i = 0; i < std::size(bad); ++i) {
        SCOPED_TRACE(i);
        DSTU7624Context image;
        ASSERT_EQ(1, DSTU7624GetParameter(good.get(), &image, DSTU7624_CONTEXT));
        bad[i](&image);
        auto target = Keyed(128, Seq(0, 16));
        EXPECT_EQ(0, DSTU7624SetParameter(target.get(), &image, DSTU7624_CONTEXT));
        // Refused images leave the target as it was.
        uint32_t bits = 0;
        ASSERT_EQ(1, DSTU7624GetParameter(target.get(), &bits, DSTU7624_BLOCK_BITS));
        EXPECT_EQ(bits, 128u);
    }
}

}  // namespace
