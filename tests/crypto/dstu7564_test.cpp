// DSTU 7564 against the standard's examples (whole and in bit-level pieces),
// a byte-by-byte model of the compression function, and the context rules.
#include <gtest/gtest.h>

#include "TestHex.h"

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "crypto/DSTU7564.h"
#include "crypto/DSTUCiphersTables.h"

namespace {

using Bytes = std::vector<uint8_t>;

using cryptotest::Hex;

Bytes Sequence()
{
    Bytes m(256);
    for (int i = 0; i < 256; ++i) m[i] = static_cast<uint8_t>(i);
    return m;
}

// Bits [from, from + count) of a bit string (most significant bit first),
// as bytes starting at bit 0.
Bytes Bits(const Bytes& m, size_t from, size_t count)
{
    Bytes out((count + 7) / 8, 0);
    for (size_t i = 0; i < count; ++i) {
        const size_t k = from + i;
        if (m[k / 8] & (0x80 >> (k % 8))) out[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
    }
    return out;
}

struct Context {
    DSTU7564Context* c = DSTU7564CreateContext();
    explicit Context(uint32_t hashBits)
    {
        EXPECT_NE(c, nullptr);
        EXPECT_EQ(DSTU7564SetParameter(c, &hashBits, DSTU7564_HASH_BITS), 1);
    }
    ~Context() { DSTU7564FreeContext(c); }
    int Update(const Bytes& data, uint64_t bits)
    {
        return DSTU7564UpdateHash(data.data(), static_cast<uint32_t>(bits), static_cast<uint32_t>(bits >> 32), c);
    }
    Bytes Finish()
    {
        EXPECT_EQ(DSTU7564FinishHash(c), 1);
        Bytes out(c->hashBits / 8);
        EXPECT_EQ(DSTU7564GetParameter(c, out.data(), DSTU7564_HASH), 1);
        return out;
    }
};

struct Example {
    uint32_t hashBits;
    uint32_t messageBits;  // of 00 01 02 ..., or of the single byte FF
    bool singleFF;
    const char* hash;
};

// The examples of DSTU 7564:2014.
const Example kExamples[] = {
    {256, 512, false, "08F4EE6F1BE6903B324C4E27990CB24EF69DD58DBE84813EE0A52F6631239875"},
    {256, 1024, false, "0A9474E645A7D25E255E9E89FFF42EC7EB31349007059284F0B182E452BDA882"},
    {256, 2048, false, "D305A32B963D149DC765F68594505D4077024F836C1BF03806E1624CE176C08F"},
    {256, 8, true, "EA7677CA4526555680441C117982EA14059EA6D0D7124D6ECDB3DEEC49E890F4"},
    {256, 760, false, "1075C8B0CB910F116BDA5FA1F19C29CF8ECC75CAFF7208BA2994B68FC56E8D16"},
    {256, 0, false, "CD5101D1CCDF0D1D1F4ADA56E888CD724CA1A0838A3521E7131D4FB78D0F5EB6"},
    {256, 510, false, "875C0023DAA0C077809FDD6A9672B49E03903BFF98EBE48740AE998C7BE3851E"},
    {256, 655, false, "4237D7DE1A00C4CC8037EDE9C54BA60D1C705CD1495DE19E5245BF3509DB59CE"},
    {512, 512, false,
     "3813E2109118CDFB5A6D5E72F7208DCCC80A2DFB3AFDFB02F46992B5EDBE536B3560DD1D7E29C6F53978AF58B444E37BA685C0DD910533BA5"
     "D78EFFFC13DE62A"},
    {512, 1024, false,
     "76ED1AC28B1D0143013FFA87213B4090B356441263C13E03FA060A8CADA32B979635657F256B15D5FCA4A174DE029F0B1B4387C878FCC1C00"
     "E8705D783FD7FFE"},
    {512, 2048, false,
     "0DD03D7350C409CB3C29C25893A0724F6B133FA8B9EB90A64D1A8FA93B56556611EB187D715A956B107E3BFC76482298133A9CE8CBC0BD5E1"
     "436A5B197284F7E"},
    {512, 8, true,
     "871B18CF754B72740307A97B449ABEB32B64444CC0D5A4D65830AE5456837A72D8458F12C8F06C98C616ABE11897F86263B5CB77C420FB375"
     "374BEC52B6D0292"},
    {512, 1536, false,
     "B189BFE987F682F5F167F0D7FA565330E126B6E592B1C55D44299064EF95B1A57F3C2D0ECF17869D1D199EBBD02E8857FB8ADD67A8C31F56C"
     "D82C016CF743121"},
    {512, 0, false,
     "656B2F4CD71462388B64A37043EA55DBE445D452AECD46C3298343314EF04019BCFA3F04265A9857F91BE91FCE197096187CEDA78C9C1C021"
     "C294A0689198538"},
    {512, 510, false,
     "2F3BBAC98E8771D6E3B8AA30153ABC4D0C2985E91DA1B5568FD1BDD705CCAB7EE8D95D2FC98BFA5322A241E09C896B58284C83F2488CF943E"
     "4B3DE43E05F0DEA"},
    {512, 655, false,
     "01B7BDA1DBA77D7379F53C2A498A390DE5E688A12BC75FEE9E010CB6FEBED3B9C7023931C74A7B55168A15047D5E2CB78A8B5CA2F75E05E80"
     "CA398030E02C7AA"},
    {48, 512, false, "2F6631239875"},
    {304, 1024, false, "0A8CADA32B979635657F256B15D5FCA4A174DE029F0B1B4387C878FCC1C00E8705D783FD7FFE"},
    {384, 760, false,
     "D9021692D84E5175735654846BA751E6D0ED0FAC36DFBC0841287DCB0B5584C75016C3DECC2A6E47C50B2F3811E351B8"},
};

Bytes MessageOf(const Example& e)
{
    return e.singleFF ? Bytes{0xFF} : Sequence();
}

TEST(Dstu7564, RunTestVectorsPasses)
{
    EXPECT_EQ(DSTU7564RunTestVectors(), 1);
}

TEST(Dstu7564, StandardExamplesInOneUpdate)
{
    for (const Example& e : kExamples) {
        SCOPED_TRACE(testing::Message() << e.hashBits << "/" << e.messageBits);
        Context ctx(e.hashBits);
        if (e.messageBits != 0) {  // the empty message has no update at all
            ASSERT_EQ(ctx.Update(MessageOf(e), e.messageBits), 1);
        }
        EXPECT_EQ(ctx.Finish(), Hex(e.hash));
    }
    // The empty message given as one update of length 0 hashes the same.
    Context ctx(256);
    ASSERT_EQ(ctx.Update(Bytes(1), 0), 1);
    EXPECT_EQ(ctx.Finish(), Hex(kExamples[5].hash));
}

TEST(Dstu7564, StandardExamplesInBitPieces)
{
    // Three pieces cut anywhere, byte-aligned or not, give the same hash.
    const size_t cuts[] = {0, 1, 3, 7, 8, 13, 116, 344, 415, 416, 500, 509, 511, 512, 513, 655, 1000, 1023, 1024, 1025};
    for (const Example& e : kExamples) {
        if (e.messageBits < 16) continue;
        SCOPED_TRACE(testing::Message() << e.hashBits << "/" << e.messageBits);
        const Bytes message = MessageOf(e);
        const Bytes expected = Hex(e.hash);
        for (size_t a : cuts)
            for (size_t b : cuts) {
                if (a > b || b > e.messageBits) continue;
                Context ctx(e.hashBits);
                ASSERT_EQ(ctx.Update(Bits(message, 0, a), a), 1);
                ASSERT_EQ(ctx.Update(Bits(message, a, b - a), b - a), 1);
                ASSERT_EQ(ctx.Update(Bits(message, b, e.messageBits - b), e.messageBits - b), 1);
                ASSERT_EQ(ctx.Finish(), expected) << a << "," << b;
            }
    }
    // 3, 13 and 100 bits equal one update of the 116 bits.
    const Bytes message = Sequence();
    Context whole(256), pieces(256);
    ASSERT_EQ(whole.Update(message, 116), 1);
    ASSERT_EQ(pieces.Update(Bits(message, 0, 3), 3), 1);
    ASSERT_EQ(pieces.Update(Bits(message, 3, 13), 13), 1);
    ASSERT_EQ(pieces.Update(Bits(message, 16, 100), 100), 1);
    EXPECT_EQ(whole.Finish(), pieces.Finish());
}

TEST(Dstu7564, BitsAfterTheLengthAreIgnored)
{
    // 510 bits end inside byte 63: whatever its low two bits hold, the hash is
    // the standard's (the sequence itself has them set).
    for (uint8_t last : {0x3C, 0x3D, 0x3F}) {
        Bytes message = Sequence();
        message[63] = last;
        Context ctx(256);
        ASSERT_EQ(ctx.Update(message, 510), 1);
        EXPECT_EQ(ctx.Finish(), Hex(kExamples[6].hash)) << int(last);
    }
}

// --- The compression function against a plain model -----------------------

const uint8_t kMdsRow[8] = {0x01, 0x01, 0x05, 0x01, 0x08, 0x06, 0x07, 0x04};

using State = std::vector<uint64_t>;

State Load(const uint8_t* p, int c)
{
    State s(c);
    for (int j = 0; j < c; ++j)
        for (int r = 0; r < 8; ++r) s[j] |= uint64_t(p[8 * j + r]) << (8 * r);
    return s;
}

uint8_t Row(uint64_t w, int r)
{
    return static_cast<uint8_t>(w >> (8 * r));
}

// One permutation of the standard: constants, S-boxes, row shifts, mixing.
State Permute(State s, bool additive, const uint8_t* sboxes)
{
    const int c = static_cast<int>(s.size());
    const int rounds = c == 8 ? 10 : 14;
    const int shift[8] = {0, 1, 2, 3, 4, 5, 6, c == 8 ? 7 : 11};
    for (int v = 0; v < rounds; ++v) {
        for (int j = 0; j < c; ++j) {
            if (additive)
                s[j] += 0x00F0F0F0F0F0F0F3ull ^ (uint64_t(((c - 1 - j) << 4) ^ v) << 56);
            else
                s[j] ^= uint64_t((j << 4) ^ v);
        }
        State shifted(c, 0);
        for (int j = 0; j < c; ++j)
            for (int r = 0; r < 8; ++r) {
                const uint8_t y = sboxes[256 * (r % 4) + Row(s[j], r)];
                shifted[(j + shift[r]) % c] |= uint64_t(y) << (8 * r);
            }
        for (int j = 0; j < c; ++j) {
            uint64_t col = 0;
            for (int r = 0; r < 8; ++r) {
                uint8_t acc = 0;
                for (int b = 0; b < 8; ++b) acc ^= DSTUMultiplyGF256(Row(shifted[j], b), kMdsRow[(b - r + 8) % 8]);
                col |= uint64_t(acc) << (8 * r);
            }
            s[j] = col;
        }
    }
    return s;
}

State ModelCompress(const State& h, const State& m, const uint8_t* sboxes)
{
    State x(h.size());
    for (size_t j = 0; j < h.size(); ++j) x[j] = h[j] ^ m[j];
    const State p = Permute(x, false, sboxes), q = Permute(m, true, sboxes);
    State out(h.size());
    for (size_t j = 0; j < h.size(); ++j) out[j] = p[j] ^ q[j] ^ h[j];
    return out;
}

TEST(Dstu7564, CompressionMatchesTheModel)
{
    uint64_t seed = 0x0123456789ABCDEFull;
    auto next = [&seed] {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint8_t>(seed >> 56);
    };
    for (int c : {8, 16}) {
        for (int trial = 0; trial < 6; ++trial) {
            SCOPED_TRACE(testing::Message() << c << " columns, trial " << trial);
            uint8_t block[128 + 3], state[128];
            uint8_t* b = block + 3;  // any byte address
            for (int i = 0; i < 8 * c; ++i) {
                b[i] = next();
                state[i] = next();
            }
            if (trial == 1) std::memset(b, 0, 8 * c), std::memset(state, 0, 8 * c);  // P(0) xor Q(0)
            if (trial == 2) std::memset(b, 0xFF, 8 * c);  // the Q constants wrap modulo 2^64 in every column
            if (trial == 3) std::memset(b + 8, 0xFF, 8);  // one column wraps, its neighbours do not
            const State expected = ModelCompress(Load(state, c), Load(b, c), DSTUDefaultSBoxes);
            const Bytes blockBefore(b, b + 8 * c);
            if (c == 8)
                DSTU7564Compress512(DSTUDefaultTTables, b, state);
            else
                DSTU7564Compress1024(DSTUDefaultTTables, b, state);
            EXPECT_EQ(Load(state, c), expected);
            EXPECT_EQ(Bytes(b, b + 8 * c), blockBefore);
            if (trial == 1) {
                EXPECT_NE(Load(state, c), State(c, 0));
            }
        }
    }
}

TEST(Dstu7564, OtherSBoxesRebuildTheTables)
{
    // The standard's S-boxes set explicitly: same tables, same hash.
    Context standard(256);
    ASSERT_EQ(DSTU7564SetParameter(standard.c, DSTUDefaultSBoxes, DSTU7564_SBOXES), 1);
    EXPECT_EQ(std::memcmp(standard.c->tTables, DSTUDefaultTTables, sizeof standard.c->tTables), 0);
    ASSERT_EQ(standard.Update(Sequence(), 512), 1);
    EXPECT_EQ(standard.Finish(), Hex(kExamples[0].hash));

    // pi1, pi2, pi3, pi0: the rounds run over the rebuilt tables.
    uint8_t rotated[1024];
    std::memcpy(rotated, DSTUDefaultSBoxes + 256, 768);
    std::memcpy(rotated + 768, DSTUDefaultSBoxes, 256);
    for (uint32_t bits : {256u, 512u}) {
        Context ctx(bits);
        ASSERT_EQ(DSTU7564SetParameter(ctx.c, rotated, DSTU7564_SBOXES), 1);
        const Bytes message = Sequence();
        ASSERT_EQ(ctx.Update(message, 8 * 16), 1);  // one partial block
        const Bytes hash = ctx.Finish();

        const int c = bits == 256 ? 8 : 16;
        State h(c, 0);
        h[0] = 8 * c;
        Bytes block(8 * c, 0);
        std::memcpy(block.data(), message.data(), 16);
        block[16] = 0x80;
        block[8 * c - 12] = 128;  // the 96-bit length, little-endian
        h = ModelCompress(h, Load(block.data(), c), rotated);
        const State p = Permute(h, false, rotated);
        Bytes out(8 * c);
        for (int j = 0; j < c; ++j)
            for (int r = 0; r < 8; ++r) out[8 * j + r] = Row(h[j] ^ p[j], r);
        EXPECT_EQ(hash, Bytes(out.end() - bits / 8, out.end())) << bits;
    }
}

// --- The context -------------------------------------------------------------

TEST(Dstu7564, HashLengthsAndStateSizes)
{
    const Bytes message = Sequence();
    auto hashOf = [&](uint32_t bits) {
        Context ctx(bits);
        EXPECT_EQ(ctx.Update(message, 800), 1);
        return ctx.Finish();
    };
    const Bytes h256 = hashOf(256), h512 = hashOf(512);
    // Same state size, same initial value: shorter outputs are the tail bytes.
    for (uint32_t bits : {8u, 48u, 136u, 256u}) {
        EXPECT_EQ(hashOf(bits), Bytes(h256.end() - bits / 8, h256.end())) << bits;
    }
    for (uint32_t bits : {264u, 304u, 384u, 512u}) {
        EXPECT_EQ(hashOf(bits), Bytes(h512.end() - bits / 8, h512.end())) << bits;
    }

    // Length 0: accepted, finish succeeds, get writes nothing.
    Context zero(0);
    EXPECT_EQ(zero.c->columns, 8u);
    ASSERT_EQ(zero.Update(message, 100), 1);
    ASSERT_EQ(DSTU7564FinishHash(zero.c), 1);
    uint8_t out[64];
    std::memset(out, 0xAB, sizeof out);
    EXPECT_EQ(DSTU7564GetParameter(zero.c, out, DSTU7564_HASH), 1);
    EXPECT_EQ(out[0], 0xAB);

    // Lengths the standard does not allow are refused and change nothing.
    Context ctx(384);
    for (uint32_t bad : {7u, 513u, 520u, 1u, 0xFFFFFFF8u}) {
        EXPECT_EQ(DSTU7564SetParameter(ctx.c, &bad, DSTU7564_HASH_BITS), 0) << bad;
    }
    uint32_t got = 0;
    ASSERT_EQ(DSTU7564GetParameter(ctx.c, &got, DSTU7564_HASH_BITS), 1);
    EXPECT_EQ(got, 384u);
    EXPECT_EQ(ctx.c->columns, 16u);
    EXPECT_EQ(ctx.c->state[0], 0x80);
}

// Counts the compressions of one context and records the blocks it was given.
struct Counter {
    static inline int calls = 0;
    static inline std::vector<const uint8_t*> blocks;
    static void Compress512(const uint64_t* t, const uint8_t* block, uint8_t* state)
    {
        ++calls;
        blocks.push_back(block);
        DSTU7564Compress512(t, block, state);
    }
    static void Compress1024(const uint64_t* t, const uint8_t* block, uint8_t* state)
    {
        ++calls;
        blocks.push_back(block);
        DSTU7564Compress1024(t, block, state);
    }
};

TEST(Dstu7564, PaddingTakesOneOrTwoBlocks)
{
    struct Case {
        uint32_t hashBits;
        uint32_t messageBits;
        int compressions;  // updates and finish together
    } cases[] = {
        {256, 0, 1},   {256, 415, 1}, {256, 416, 2}, {256, 511, 2},  {256, 512, 2},  {256, 927, 2},
        {256, 928, 3}, {512, 927, 1}, {512, 928, 2}, {512, 1023, 2}, {512, 1024, 2}, {512, 1025, 2},
    };
    const Bytes message = Sequence();
    for (const Case& cs : cases) {
        Context ctx(cs.hashBits);
        ctx.c->compress = cs.hashBits <= 256 ? Counter::Compress512 : Counter::Compress1024;
        Counter::calls = 0;
        if (cs.messageBits) {
            ASSERT_EQ(ctx.Update(message, cs.messageBits), 1);
        }
        ctx.Finish();
        EXPECT_EQ(Counter::calls, cs.compressions) << cs.hashBits << "/" << cs.messageBits;
    }
}

TEST(Dstu7564, WholeBlocksAreCompressedFromTheCallersData)
{
    Bytes data(3 + 256);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i - 3);
    const uint8_t* p = data.data() + 3;  // 00 01 02 ... at an odd address
    Context ctx(256);
    ctx.c->compress = Counter::Compress512;
    Counter::blocks.clear();
    ASSERT_EQ(DSTU7564UpdateHash(p, 2048, 0, ctx.c), 1);
    ASSERT_EQ(Counter::blocks.size(), 4u);
    for (size_t i = 0; i < 4; ++i) EXPECT_EQ(Counter::blocks[i], p + 64 * i);
    EXPECT_EQ(ctx.Finish(), Hex(kExamples[2].hash));
}

TEST(Dstu7564, StateRules)
{
    const Bytes message = Sequence();
    DSTU7564Context* c = DSTU7564CreateContext();
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->flags, uint32_t(DSTU7564_FLAG_SBOXES));
    EXPECT_EQ(c->columns, 0u);
    EXPECT_EQ(c->compress, nullptr);
    EXPECT_EQ(std::memcmp(c->sBoxes, DSTUDefaultSBoxes, 1024), 0);
    EXPECT_EQ(std::memcmp(c->tTables, DSTUDefaultTTables, sizeof c->tTables), 0);

    // Before the hash length: nothing absorbs.
    uint8_t out[64];
    EXPECT_EQ(DSTU7564UpdateHash(message.data(), 8, 0, c), 0);
    EXPECT_EQ(DSTU7564FinishHash(c), 0);
    EXPECT_EQ(DSTU7564CompressTail(c), 0);
    EXPECT_EQ(DSTU7564GetParameter(c, out, DSTU7564_HASH_BITS), 0);
    EXPECT_EQ(DSTU7564GetParameter(c, out, DSTU7564_HASH), 0);

    const uint32_t bits = 256;
    ASSERT_EQ(DSTU7564SetParameter(c, &bits, DSTU7564_HASH_BITS), 1);
    ASSERT_EQ(DSTU7564UpdateHash(message.data(), 512, 0, c), 1);
    EXPECT_EQ(DSTU7564GetParameter(c, out, DSTU7564_HASH), 0);  // not finished
    ASSERT_EQ(DSTU7564FinishHash(c), 1);
    // Finished: update, tail and finish refused; the value stays readable.
    EXPECT_EQ(DSTU7564UpdateHash(message.data(), 8, 0, c), 0);
    EXPECT_EQ(DSTU7564CompressTail(c), 0);
    EXPECT_EQ(DSTU7564SetParameter(c, nullptr, DSTU7564_COMPRESS_TAIL), 0);
    EXPECT_EQ(DSTU7564FinishHash(c), 0);
    ASSERT_EQ(DSTU7564GetParameter(c, out, DSTU7564_HASH), 1);
    ASSERT_EQ(DSTU7564GetParameter(c, out, DSTU7564_HASH), 1);
    EXPECT_EQ(Bytes(out, out + 32), Hex(kExamples[0].hash));

    // Setting the length again restarts with the same S-boxes.
    ASSERT_EQ(DSTU7564SetParameter(c, &bits, DSTU7564_HASH_BITS), 1);
    ASSERT_EQ(DSTU7564UpdateHash(message.data(), 512, 0, c), 1);
    ASSERT_EQ(DSTU7564FinishHash(c), 1);
    ASSERT_EQ(DSTU7564GetParameter(c, out, DSTU7564_HASH), 1);
    EXPECT_EQ(Bytes(out, out + 32), Hex(kExamples[0].hash));

    // Codes that are not settable or gettable.
    EXPECT_EQ(DSTU7564GetParameter(c, out, DSTU7564_SBOXES), 0);
    EXPECT_EQ(DSTU7564GetParameter(c, out, DSTU7564_COMPRESS_TAIL), 0);
    EXPECT_EQ(DSTU7564SetParameter(c, out, DSTU7564_HASH), 0);
    EXPECT_EQ(DSTU7564SetParameter(c, out, 0), 0);
    EXPECT_EQ(DSTU7564SetParameter(c, out, 5), 0);
    DSTU7564FreeContext(c);
    DSTU7564FreeContext(nullptr);
}

TEST(Dstu7564, TailOperationPadsMidMessage)
{
    // Tail after 20 bytes, then 30 more, then finish: the hash of the 20
    // bytes, their padding block and the 30 bytes, whose total length
    // includes the padding.
    const Bytes message = Sequence();
    Context ctx(256);
    ASSERT_EQ(ctx.Update(message, 160), 1);
    ASSERT_EQ(DSTU7564SetParameter(ctx.c, nullptr, DSTU7564_COMPRESS_TAIL), 1);
    EXPECT_EQ(ctx.c->totalBits[0], 512u);
    ASSERT_EQ(ctx.Update(Bytes(message.begin() + 20, message.end()), 240), 1);

    Bytes explicitly(message.begin(), message.begin() + 20);
    explicitly.resize(64, 0);
    explicitly[20] = 0x80;
    explicitly[52] = 160;  // 96-bit little-endian length of the 20 bytes
    explicitly.insert(explicitly.end(), message.begin() + 20, message.begin() + 50);
    Context reference(256);
    ASSERT_EQ(reference.Update(explicitly, 8 * explicitly.size()), 1);
    EXPECT_EQ(ctx.Finish(), reference.Finish());
}

TEST(Dstu7564, RefusedUpdateLeavesTheCountersAlone)
{
    // Counters just below the limit of 2^96 + 2^64 bits.
    Context ctx(256);
    const Bytes data(8, 0x5A);
    const uint32_t nearLimit[4] = {0xFFFFFFF8, 0xFFFFFFFF, 0x00000000, 0x00000001};  // 2^96 + 2^64 - 8
    std::memcpy(ctx.c->totalBits, nearLimit, sizeof nearLimit);
    std::memcpy(ctx.c->lengthField, nearLimit, sizeof nearLimit);
    const DSTU7564Context before = *ctx.c;

    EXPECT_EQ(ctx.Update(data, 8), 0);  // would reach the limit
    EXPECT_EQ(ctx.Update(data, 64), 0);
    EXPECT_EQ(DSTU7564UpdateHash(data.data(), 0, 1, ctx.c), 0);  // 2^32 bits, far over
    EXPECT_EQ(std::memcmp(&before, ctx.c, sizeof before), 0);

    // Below it, updates are taken and counted.
    ASSERT_EQ(ctx.Update(data, 7), 1);
    EXPECT_EQ(ctx.c->totalBits[0], 0xFFFFFFFFu);
    EXPECT_EQ(ctx.c->bufferedBits, 7u);
    EXPECT_EQ(ctx.Update(data, 1), 0);
}

// Whether `pattern` lies in the stack below this call, where the frames of
// calls that have returned were. No instrumentation: the bytes are dead.
__attribute__((noinline, no_sanitize("address"))) bool DeadStackHolds(const Bytes& pattern)
{
    const volatile uint8_t* top = static_cast<const volatile uint8_t*>(__builtin_frame_address(0));
    const size_t n = pattern.size();
    for (const volatile uint8_t* p = top - 16384; p + n <= top - 64; ++p) {
        size_t i = 0;
        while (i < n && p[i] == pattern[i]) ++i;
        if (i == n) return true;
    }
    return false;
}

__attribute__((noinline)) void Absorb(Context& ctx, const Bytes& head, uint64_t headBits, const Bytes& data,
                                      uint64_t bits)
{
    ASSERT_EQ(ctx.Update(head, headBits), 1);
    ASSERT_EQ(ctx.Update(data, bits), 1);
}

TEST(Dstu7564, CopiesOfTheMessageDoNotStayOnTheStack)
{
    // A password is hashed for a login: the bit-shifted copies made of it
    // (a partial block, or whole blocks at an odd bit offset) must be wiped.
    Bytes secret(192);
    for (size_t i = 0; i < secret.size(); ++i) secret[i] = static_cast<uint8_t>(0xA5 ^ (i * 37 + 11));
    {
        SCOPED_TRACE("partial block behind buffered bits");
        Context ctx(256);
        Absorb(ctx, Bytes(1, 0), 5, secret, 200);  // 25 bytes, unshifted, into the buffer
        EXPECT_FALSE(DeadStackHolds(Bytes(secret.begin(), secret.begin() + 25)));
    }
    {
        SCOPED_TRACE("whole blocks at a bit offset");
        Context ctx(256);
        Absorb(ctx, Bytes(1, 0), 3, secret, 509 + 512 + 40);
        // The block after the first 509 bits starts 5 bits into byte 63.
        Bytes shifted(48);
        for (size_t i = 0; i < shifted.size(); ++i)
            shifted[i] = static_cast<uint8_t>(secret[63 + i] << 5 | secret[64 + i] >> 3);
        EXPECT_FALSE(DeadStackHolds(shifted));
    }
}

}  // namespace
