// DSTU 7564:2014 hash: context, bit-granular absorption, padding, output
// transformation, and the two compression functions unrolled per state size.

#include "crypto/DSTU7564.h"

#include <bit>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "crypto/ByteOrder.h"
#include "crypto/DSTU7564Vector.h"
#include "crypto/DSTUCiphersTables.h"
#include "crypto/SecureWipe.h"

namespace {

using qvkcrypto::LoadLE64;
using qvkcrypto::StoreLE64;

}  // namespace

// One table entry per state byte: T_i serves row i, indexed by that row's byte.
#define L(i, x) t[256 * (i) + (((x) >> (8 * (i))) & 0xFF)]

namespace {

// Each round: the constant (xor into row 0 for P, a 64-bit addition for Q),
// then S-boxes, row shifts and mixing as eight lookups per new column, every
// lookup taken from the columns as they were before the round. Columns are
// loaded little-endian, so row 0 is the low byte and row 7 the high one.
//
// The loops over columns and lookups are unrolled at compile time, so every
// column stays in its own variable. The 512-bit function unrolls its rounds
// as well; the 1024-bit one unrolls a pair of rounds and runs that body
// seven times per permutation: all 28 rounds unrolled make about 75 KB of
// code, which no longer stays in the instruction cache and runs at less than
// half the speed.

template <int C>
constexpr int kRounds = C == 8 ? 10 : 14;

// Row i of new column j comes from column j - shift: row i moves i places,
// except row 7 of the 1024-bit state, which moves 11.
template <int C>
constexpr int Source(int j, int i)
{
    return (j - (C == 16 && i == 7 ? 11 : i) + C) % C;
}

// P, round v, column j: (j << 4) xor v into row 0.
constexpr uint64_t PConstant(int j, uint64_t v)
{
    return uint64_t(j) << 4 ^ v;
}

// Q, round v, column j: rows 0..7 are F3, F0, ..., F0, ((C - 1 - j) << 4) xor v,
// added as one 64-bit number. v < 16, so adding it into row 7 is that xor.
template <int C>
constexpr uint64_t QConstant(int j, uint64_t v)
{
    return (0x00F0F0F0F0F0F0F3ull | uint64_t(C - 1 - j) << 60) + (v << 56);
}

// New column J: row I of the lookups comes from column Source(J, I).
template <int C, int J, size_t... I>
inline __attribute__((always_inline)) uint64_t Column(const uint64_t* t, const uint64_t (&a)[C],
                                                      std::index_sequence<I...>)
{
    return (... ^ L(I, a[Source<C>(J, I)]));
}

// Columns and rows are expanded by parameter packs rather than loops: every
// index is a constant from the start, so each column lives in a register
// instead of a stack array.
template <int C, bool Q, size_t... J>
inline __attribute__((always_inline)) void Round(const uint64_t* t, uint64_t (&a)[C], uint64_t (&b)[C], uint64_t v,
                                                 std::index_sequence<J...>)
{
    if constexpr (Q)
        ((a[J] += QConstant<C>(J, v)), ...);
    else
        ((a[J] ^= PConstant(J, v)), ...);
    ((b[J] = Column<C, J>(t, a, std::make_index_sequence<8>())), ...);
}

template <int C, bool Q>
inline __attribute__((always_inline)) void Round(const uint64_t* t, uint64_t (&a)[C], uint64_t (&b)[C], uint64_t v)
{
    Round<C, Q>(t, a, b, v, std::make_index_sequence<C>());
}

// All rounds of P (Q = false) or Q (Q = true) over the columns a.
template <int C, bool Q>
inline __attribute__((always_inline)) void Permute(const uint64_t* t, uint64_t (&a)[C])
{
    uint64_t b[C];
    if constexpr (C == 8) {
#pragma GCC unroll 5
        for (uint64_t v = 0; v < kRounds<C>; v += 2) {
            Round<C, Q>(t, a, b, v);
            Round<C, Q>(t, b, a, v + 1);
        }
    } else {
#pragma GCC unroll 1
        for (uint64_t v = 0; v < kRounds<C>; v += 2) {
            Round<C, Q>(t, a, b, v);
            Round<C, Q>(t, b, a, v + 1);
        }
    }
}

// state = state xor P(state xor block) xor Q(block).
template <int C>
inline __attribute__((always_inline)) void Compress(const uint64_t* t, const uint8_t* block, uint8_t* state)
{
    uint64_t h[C], p[C], q[C];
#pragma GCC unroll 16
    for (int j = 0; j < C; ++j) q[j] = LoadLE64(block + 8 * j);
    Permute<C, true>(t, q);
#pragma GCC unroll 16
    for (int j = 0; j < C; ++j) {
        h[j] = LoadLE64(state + 8 * j);
        p[j] = h[j] ^ LoadLE64(block + 8 * j);
    }
    Permute<C, false>(t, p);
#pragma GCC unroll 16
    for (int j = 0; j < C; ++j) StoreLE64(state + 8 * j, h[j] ^ p[j] ^ q[j]);
}

// state = state xor P(state).
template <int C>
void OutputTransform(const uint64_t* t, uint8_t* state)
{
    uint64_t h[C], p[C];
#pragma GCC unroll 16
    for (int j = 0; j < C; ++j) p[j] = h[j] = LoadLE64(state + 8 * j);
    Permute<C, false>(t, p);
#pragma GCC unroll 16
    for (int j = 0; j < C; ++j) StoreLE64(state + 8 * j, h[j] ^ p[j]);
}

}  // namespace

extern "C" void DSTU7564Compress512(const uint64_t* t, const uint8_t* block, uint8_t* state)
{
    Compress<8>(t, block, state);
}

extern "C" void DSTU7564Compress1024(const uint64_t* t, const uint8_t* block, uint8_t* state)
{
    Compress<16>(t, block, state);
}

#undef L

namespace {

constexpr uint32_t kReady = DSTU7564_FLAG_SBOXES | DSTU7564_FLAG_HASH_BITS;

using U128 = unsigned __int128;

U128 Get128(const uint32_t* w)
{
    return U128(w[0]) | U128(w[1]) << 32 | U128(w[2]) << 64 | U128(w[3]) << 96;
}

void Put128(uint32_t* w, U128 v)
{
    for (int i = 0; i < 4; ++i) w[i] = static_cast<uint32_t>(v >> (32 * i));
}

// Totals from here on would not fit the counters' contract.
const U128 kTotalLimit = (U128(1) << 96) + (U128(1) << 64);

bool CanAbsorb(const DSTU7564Context* c)
{
    return (c->flags & kReady) == kReady && !(c->flags & DSTU7564_FLAG_FINISHED);
}

uint32_t BlockBits(const DSTU7564Context* c)
{
    return 64 * c->columns;
}

// `count` bits that start at bit `shift` (0..7) of src, as a byte-aligned
// string: out byte i holds bits 8i.. of them; bits after `count` in the last
// byte are zero. Reads only the bytes that hold those bits.
void ExtractBits(uint8_t* out, const uint8_t* src, unsigned shift, size_t count)
{
    const size_t outBytes = (count + 7) / 8;
    const size_t srcBytes = (shift + count + 7) / 8;
    if (shift == 0) {
        std::memcpy(out, src, outBytes);
    } else {
        for (size_t i = 0; i < outBytes; ++i) {
            uint8_t v = static_cast<uint8_t>(src[i] << shift);
            if (i + 1 < srcBytes) v |= static_cast<uint8_t>(src[i + 1] >> (8 - shift));
            out[i] = v;
        }
    }
    if (count % 8) out[outBytes - 1] &= static_cast<uint8_t>(0xFF << (8 - count % 8));
}

// ORs `count` bits (from bit `shift` of src) into the block buffer behind
// its first `at` bits; at + count does not exceed the block.
void AppendBits(DSTU7564Context* c, uint32_t at, const uint8_t* src, unsigned shift, uint32_t count)
{
    if (count == 0) return;
    uint8_t bits[128];
    ExtractBits(bits, src, shift, count);
    const uint32_t bytes = (count + 7) / 8;
    const uint32_t first = at / 8, s = at % 8, limit = BlockBits(c) / 8;
    uint8_t* buffer = c->blockBuffer;
    for (uint32_t i = 0; i < bytes; ++i) {
        buffer[first + i] |= static_cast<uint8_t>(bits[i] >> s);
        if (s && first + i + 1 < limit) buffer[first + i + 1] |= static_cast<uint8_t>(bits[i] << (8 - s));
    }
    qvkcrypto::SecureWipe(bits, bytes);  // message bits (a password, say) must not stay in a dead frame
}

inline void Wipe(void* p, size_t n)
{
    qvkcrypto::SecureWipe(p, n);
}

}  // namespace

extern "C" DSTU7564Context* DSTU7564CreateContext(void)
{
    auto* c = static_cast<DSTU7564Context*>(std::calloc(1, sizeof(DSTU7564Context)));
    if (!c) return nullptr;
    std::memcpy(c->sBoxes, DSTUDefaultSBoxes, sizeof c->sBoxes);
    std::memcpy(c->tTables, DSTUDefaultTTables, sizeof c->tTables);
    c->flags = DSTU7564_FLAG_SBOXES;
    return c;
}

extern "C" void DSTU7564FreeContext(DSTU7564Context* context)
{
    if (!context) return;
    Wipe(context, sizeof *context);
    std::free(context);
}

extern "C" int DSTU7564CompressTail(DSTU7564Context* context)
{
    DSTU7564Context* c = context;
    if (!CanAbsorb(c)) return 0;
    const uint32_t blockBits = BlockBits(c), blockBytes = blockBits / 8;
    const uint32_t b = c->bufferedBits;
    uint8_t* buffer = c->blockBuffer;
    U128 padding = blockBits - b;  // the 1 bit, the zeros and the 96 length bits

    // The single 1 bit right behind the message (byte 0 when nothing is buffered).
    buffer[b / 8] |= static_cast<uint8_t>(0x80u >> (b % 8));
    if (b + 96 >= blockBits) {
        // No room for the length: this block ends in zeros, the next holds it.
        c->compress(c->tTables, buffer, c->state);
        std::memset(buffer, 0, blockBytes);
        padding += blockBits;
    }
    for (int i = 0; i < 12; ++i)
        buffer[blockBytes - 12 + i] = static_cast<uint8_t>(c->lengthField[i / 4] >> (8 * (i % 4)));
    c->compress(c->tTables, buffer, c->state);

    std::memset(buffer, 0, blockBytes);
    std::memset(c->lengthField, 0, sizeof c->lengthField);
    c->bufferedBits = 0;
    Put128(c->totalBits, Get128(c->totalBits) + padding);
    return 1;
}

extern "C" int DSTU7564SetParameter(DSTU7564Context* context, const void* value, uint32_t type)
{
    DSTU7564Context* c = context;
    switch (type) {
    case DSTU7564_SBOXES:
        std::memcpy(c->sBoxes, value, sizeof c->sBoxes);
        DSTUBuildHashTables(c->sBoxes, c->tTables);
        c->flags |= DSTU7564_FLAG_SBOXES;
        return 1;
    case DSTU7564_HASH_BITS: {
        uint32_t bits;
        std::memcpy(&bits, value, sizeof bits);
        if (bits % 8 != 0 || bits > 512) return 0;
        if (bits <= 256) {
            c->columns = 8;
            c->compress = DSTU7564Compress512;
        } else {
            c->columns = 16;
            c->compress = DSTU7564Compress1024;
        }
        c->hashBits = bits;
        std::memset(c->state, 0, sizeof c->state);
        c->state[0] = static_cast<uint8_t>(8 * c->columns);  // the state size in bytes
        std::memset(c->totalBits, 0, sizeof c->totalBits);
        std::memset(c->lengthField, 0, sizeof c->lengthField);
        std::memset(c->blockBuffer, 0, sizeof c->blockBuffer);
        c->bufferedBits = 0;
        c->flags = (c->flags & DSTU7564_FLAG_SBOXES) | DSTU7564_FLAG_HASH_BITS;
        return 1;
    }
    case DSTU7564_COMPRESS_TAIL:
        return DSTU7564CompressTail(c);
    default:
        return 0;
    }
}

extern "C" int DSTU7564GetParameter(DSTU7564Context* context, void* value, uint32_t type)
{
    const DSTU7564Context* c = context;
    switch (type) {
    case DSTU7564_HASH_BITS:
        if (!(c->flags & DSTU7564_FLAG_HASH_BITS)) return 0;
        std::memcpy(value, &c->hashBits, sizeof c->hashBits);
        return 1;
    case DSTU7564_HASH: {
        const uint32_t need = DSTU7564_FLAG_HASH_BITS | DSTU7564_FLAG_FINISHED;
        if ((c->flags & need) != need) return 0;
        const uint32_t column = (64 * c->columns - c->hashBits) / 64;
        std::memcpy(value, c->state + 8 * column, c->hashBits / 8);
        return 1;
    }
    default:
        return 0;
    }
}

extern "C" int DSTU7564UpdateHash(const void* data, uint32_t lengthLow, uint32_t lengthHigh, DSTU7564Context* context)
{
    DSTU7564Context* c = context;
    if (!CanAbsorb(c)) return 0;
    uint64_t n = CryptoJoinBitLength(lengthLow, lengthHigh);
    // Test the limit before counting: a refused update leaves the counters
    // as they were, so the context stays usable and its hash correct.
    const U128 total = Get128(c->totalBits) + n;
    if (total >= kTotalLimit) return 0;
    Put128(c->totalBits, total);
    Put128(c->lengthField, Get128(c->lengthField) + n);
    if (n == 0) return 1;

    const uint32_t blockBits = BlockBits(c), blockBytes = blockBits / 8;
    const uint8_t* p = static_cast<const uint8_t*>(data);
    unsigned shift = 0;  // bit offset of the next input bit within *p

    if (c->bufferedBits != 0) {
        const uint32_t room = blockBits - c->bufferedBits;
        const uint32_t take = n < room ? static_cast<uint32_t>(n) : room;
        AppendBits(c, c->bufferedBits, p, 0, take);
        c->bufferedBits += take;
        n -= take;
        if (c->bufferedBits < blockBits) return 1;
        c->compress(c->tTables, c->blockBuffer, c->state);
        std::memset(c->blockBuffer, 0, blockBytes);
        c->bufferedBits = 0;
        p += take / 8;
        shift = take % 8;
    }

    if (shift == 0) {
        if (n >= blockBits && qvkcrypto::DSTU7564CompressVector(c, p, n / blockBits, c->state)) {
            p += n / blockBits * blockBytes;
            n %= blockBits;
        }
        for (; n >= blockBits; n -= blockBits, p += blockBytes) c->compress(c->tTables, p, c->state);
    } else {
        // Shifted copies, several blocks at a time for the vector path.
        uint8_t block[8 * 128];
        while (n >= blockBits) {
            uint32_t count = 0;
            for (; count < 8 && n >= blockBits; ++count, n -= blockBits, p += blockBytes)
                ExtractBits(block + count * blockBytes, p, shift, blockBits);
            if (!qvkcrypto::DSTU7564CompressVector(c, block, count, c->state))
                for (uint32_t i = 0; i < count; ++i) c->compress(c->tTables, block + i * blockBytes, c->state);
        }
        qvkcrypto::SecureWipe(block, sizeof block);
    }

    AppendBits(c, 0, p, shift, static_cast<uint32_t>(n));
    c->bufferedBits = static_cast<uint32_t>(n);
    return 1;
}

extern "C" int DSTU7564FinishHash(DSTU7564Context* context)
{
    DSTU7564Context* c = context;
    if (!CanAbsorb(c)) return 0;
    std::memcpy(c->lengthField, c->totalBits, sizeof c->lengthField);
    DSTU7564CompressTail(c);
    if (c->columns == 8)
        OutputTransform<8>(c->tTables, c->state);
    else
        OutputTransform<16>(c->tTables, c->state);
    // The hash is the last hashBits / 8 bytes; move them to the start of their
    // first column, where DSTU7564_HASH reads them.
    const uint32_t bytes = c->hashBits / 8;
    const uint32_t column = (64 * c->columns - c->hashBits) / 64;
    std::memmove(c->state + 8 * column, c->state + 8 * c->columns - bytes, bytes);
    c->flags |= DSTU7564_FLAG_FINISHED;
    return 1;
}

namespace {

struct TestVector {
    uint32_t hashBits;
    uint32_t messageBits;  // of the byte sequence 00 01 02 ... (or FF for the 8-bit one)
    bool singleFF;
    bool twoUpdates;  // the first 344 bits, then the rest
    const char* hash;
};

// The examples of DSTU 7564:2014.
const TestVector kVectors[] = {
    {256, 512, false, false, "08F4EE6F1BE6903B324C4E27990CB24EF69DD58DBE84813EE0A52F6631239875"},
    {256, 1024, false, false, "0A9474E645A7D25E255E9E89FFF42EC7EB31349007059284F0B182E452BDA882"},
    {256, 2048, false, false, "D305A32B963D149DC765F68594505D4077024F836C1BF03806E1624CE176C08F"},
    {256, 8, true, false, "EA7677CA4526555680441C117982EA14059EA6D0D7124D6ECDB3DEEC49E890F4"},
    {256, 760, false, false, "1075C8B0CB910F116BDA5FA1F19C29CF8ECC75CAFF7208BA2994B68FC56E8D16"},
    {256, 0, false, false, "CD5101D1CCDF0D1D1F4ADA56E888CD724CA1A0838A3521E7131D4FB78D0F5EB6"},
    {256, 510, false, false, "875C0023DAA0C077809FDD6A9672B49E03903BFF98EBE48740AE998C7BE3851E"},
    {256, 655, false, false, "4237D7DE1A00C4CC8037EDE9C54BA60D1C705CD1495DE19E5245BF3509DB59CE"},
    {512, 512, false, false,
     "3813E2109118CDFB5A6D5E72F7208DCCC80A2DFB3AFDFB02F46992B5EDBE536B"
     "3560DD1D7E29C6F53978AF58B444E37BA685C0DD910533BA5D78EFFFC13DE62A"},
    {512, 1024, false, false,
     "76ED1AC28B1D0143013FFA87213B4090B356441263C13E03FA060A8CADA32B97"
     "9635657F256B15D5FCA4A174DE029F0B1B4387C878FCC1C00E8705D783FD7FFE"},
    {512, 2048, false, false,
     "0DD03D7350C409CB3C29C25893A0724F6B133FA8B9EB90A64D1A8FA93B565566"
     "11EB187D715A956B107E3BFC76482298133A9CE8CBC0BD5E1436A5B197284F7E"},
    {512, 8, true, false,
     "871B18CF754B72740307A97B449ABEB32B64444CC0D5A4D65830AE5456837A72"
     "D8458F12C8F06C98C616ABE11897F86263B5CB77C420FB375374BEC52B6D0292"},
    {512, 1536, false, false,
     "B189BFE987F682F5F167F0D7FA565330E126B6E592B1C55D44299064EF95B1A5"
     "7F3C2D0ECF17869D1D199EBBD02E8857FB8ADD67A8C31F56CD82C016CF743121"},
    {512, 0, false, false,
     "656B2F4CD71462388B64A37043EA55DBE445D452AECD46C3298343314EF04019"
     "BCFA3F04265A9857F91BE91FCE197096187CEDA78C9C1C021C294A0689198538"},
    {512, 510, false, false,
     "2F3BBAC98E8771D6E3B8AA30153ABC4D0C2985E91DA1B5568FD1BDD705CCAB7E"
     "E8D95D2FC98BFA5322A241E09C896B58284C83F2488CF943E4B3DE43E05F0DEA"},
    {512, 655, false, false,
     "01B7BDA1DBA77D7379F53C2A498A390DE5E688A12BC75FEE9E010CB6FEBED3B9"
     "C7023931C74A7B55168A15047D5E2CB78A8B5CA2F75E05E80CA398030E02C7AA"},
    {48, 512, false, true, "2F6631239875"},
    {304, 1024, false, true, "0A8CADA32B979635657F256B15D5FCA4A174DE029F0B1B4387C878FCC1C00E8705D783FD7FFE"},
    {384, 760, false, true,
     "D9021692D84E5175735654846BA751E6D0ED0FAC36DFBC0841287DCB0B5584C7"
     "5016C3DECC2A6E47C50B2F3811E351B8"},
};

unsigned HexDigit(char ch)
{
    return ch <= '9' ? unsigned(ch - '0') : unsigned((ch | 0x20) - 'a' + 10);
}

bool RunVector(const TestVector& v, DSTU7564Context* c)
{
    uint8_t message[256];
    for (int i = 0; i < 256; ++i) message[i] = static_cast<uint8_t>(i);
    if (v.singleFF) message[0] = 0xFF;
    if (!DSTU7564SetParameter(c, DSTUDefaultSBoxes, DSTU7564_SBOXES) ||
        !DSTU7564SetParameter(c, &v.hashBits, DSTU7564_HASH_BITS))
        return false;
    if (v.twoUpdates) {
        if (!DSTU7564UpdateHash(message, 344, 0, c) ||
            !DSTU7564UpdateHash(message + 344 / 8, v.messageBits - 344, 0, c))
            return false;
    } else if (v.messageBits != 0) {
        if (!DSTU7564UpdateHash(message, v.messageBits, 0, c)) return false;
    }
    uint8_t hash[64];
    if (!DSTU7564FinishHash(c) || !DSTU7564GetParameter(c, hash, DSTU7564_HASH)) return false;
    for (uint32_t i = 0; i < v.hashBits / 8; ++i)
        if (hash[i] != (HexDigit(v.hash[2 * i]) << 4 | HexDigit(v.hash[2 * i + 1]))) return false;
    return true;
}

}  // namespace

extern "C" int DSTU7564RunTestVectors(void)
{
    for (const TestVector& v : kVectors) {
        DSTU7564Context* c = DSTU7564CreateContext();
        if (!c) return 0;
        const bool ok = RunVector(v, c);
        DSTU7564FreeContext(c);
        if (!ok) return 0;
    }
    return 1;
}
