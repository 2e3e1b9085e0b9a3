// DSTU 7564 compression with AVX-512 VBMI and GFNI. P, the chain, keeps the
// state's memory order (byte 8c + r is row r of column c) in one register
// (two for 16 columns): per round the row S-boxes as eight half-table lookups
// merged by OR, the row shift as one byte permute, and the column mixing as
// GF(2^8) products by 2, 4 and 8 (affine maps) with rows moved by byte
// shuffles. Q runs byte-sliced over batches of blocks beside P (Sliced).
#include "crypto/DSTU7564Vector.h"

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"  // GCC 12 on its own intrinsic wrappers
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

#include <immintrin.h>

#include <cstring>

#include "crypto/CpuFeatures.h"
#include "crypto/DSTUCiphersTables.h"
#include "crypto/GF256Affine.h"

namespace qvkcrypto {

namespace {

// The sliced rows and the batch's registers are arrays: fully unrolled, they
// stay in registers.
#if defined(__clang__)
#define QVK_UNROLL _Pragma("unroll")
#else
#define QVK_UNROLL _Pragma("GCC unroll 8")
#endif

constexpr uint64_t kTimes2 = MultiplyMatrix(2);
constexpr uint64_t kTimes4 = MultiplyMatrix(4);
constexpr uint64_t kTimes8 = MultiplyMatrix(8);

// The mixing row by distance; the plane split below relies on it.
constexpr uint8_t kMix[8] = {0x01, 0x01, 0x05, 0x01, 0x08, 0x06, 0x07, 0x04};

bool MixRowAgrees()
{
    for (int d = 0; d < 8; ++d)
        if (kMix[d] != DSTUMDSRow[(d + 7) % 8]) return false;
    return true;
}

// Row r of the state moves this many columns towards higher numbers; with 16
// columns row 7 moves 11.
constexpr uint32_t RowShift(uint32_t columns, uint32_t r)
{
    return (columns == 16 && r == 7) ? 11 : r;
}

// Q's additive constant of column c in round 0 (the round number goes into
// the top byte's low half).
constexpr uint64_t QConstant(uint32_t columns, uint32_t c)
{
    return 0x00F0F0F0F0F0F0F3ull + (uint64_t(columns - 1 - c) << 60);
}

struct alignas(64) Prepared {
    __m512i sBoxes[16];  // pi_s in registers 4s..4s+3
    __m512i rows[8];     // Rows(): k rows down
    __m512i shift[2];    // row shift: output register k from the state's registers
    __m512i xorBase[2];  // P: (column << 4) in row 0
    __m512i addBase[2];  // Q: QConstant() of each column
};

QVK_VECTOR_INLINE __m512i SBoxes(const Prepared& p, __m512i x)
{
    // Row r (byte 8c + r) takes S-box r % 4: each half table is looked up for
    // its rows only, zero elsewhere, so the halves merge by OR as they come
    // and only the top bit's choice waits for the last lookup.
    constexpr __mmask64 kRows = 0x1111111111111111ull;
    const __m512i* t = p.sBoxes;
    const __m512i l0 = _mm512_maskz_permutex2var_epi8(kRows, t[0], x, t[1]);
    const __m512i l1 = _mm512_maskz_permutex2var_epi8(kRows << 1, t[4], x, t[5]);
    const __m512i l2 = _mm512_maskz_permutex2var_epi8(kRows << 2, t[8], x, t[9]);
    const __m512i l3 = _mm512_maskz_permutex2var_epi8(kRows << 3, t[12], x, t[13]);
    const __m512i h0 = _mm512_maskz_permutex2var_epi8(kRows, t[2], x, t[3]);
    const __m512i h1 = _mm512_maskz_permutex2var_epi8(kRows << 1, t[6], x, t[7]);
    const __m512i h2 = _mm512_maskz_permutex2var_epi8(kRows << 2, t[10], x, t[11]);
    const __m512i h3 = _mm512_maskz_permutex2var_epi8(kRows << 3, t[14], x, t[15]);
    const __m512i l = _mm512_ternarylogic_epi64(_mm512_ternarylogic_epi64(l0, l1, l2, 0xFE), l3, l3, 0xFC);
    const __m512i h = _mm512_ternarylogic_epi64(_mm512_ternarylogic_epi64(h0, h1, h2, 0xFE), h3, h3, 0xFC);
    return _mm512_mask_blend_epi8(_mm512_movepi8_mask(x), l, h);
}

// Bytes of each 64-bit column moved down k rows (row r takes row r + k): a
// byte shuffle, which runs beside the GF(2^8) products on another port.
QVK_VECTOR_INLINE __m512i Rows(const Prepared& p, __m512i x, int k)
{
    return _mm512_shuffle_epi8(x, p.rows[k]);
}

// out row r = sum over d of kMix[d] * row r + d: with x2, x4 and x8 the
// products of x, A(x) + B(x2) + C(x4) + D(x8). The products come first so
// the round's latency has one multiplication and one shuffle on it.
QVK_VECTOR_INLINE __m512i Mix(const Prepared& p, __m512i x)
{
    const __m512i x2 = _mm512_gf2p8affine_epi64_epi8(x, _mm512_set1_epi64(static_cast<long long>(kTimes2)), 0);
    const __m512i x4 = _mm512_gf2p8affine_epi64_epi8(x, _mm512_set1_epi64(static_cast<long long>(kTimes4)), 0);
    const __m512i x8 = _mm512_gf2p8affine_epi64_epi8(x, _mm512_set1_epi64(static_cast<long long>(kTimes8)), 0);
    const __m512i a = _mm512_ternarylogic_epi64(_mm512_ternarylogic_epi64(x, Rows(p, x, 1), Rows(p, x, 2), 0x96),
                                                Rows(p, x, 3), Rows(p, x, 6), 0x96);
    const __m512i b = _mm512_ternarylogic_epi64(Rows(p, x2, 5), Rows(p, x2, 6), Rows(p, x8, 4), 0x96);
    const __m512i c = _mm512_ternarylogic_epi64(
        _mm512_ternarylogic_epi64(Rows(p, x4, 2), Rows(p, x4, 5), Rows(p, x4, 6), 0x96), Rows(p, x4, 7), b, 0x96);
    return _mm512_xor_si512(a, c);
}

// The row S-boxes, row shift and column mixing of one permutation's round,
// R registers.
template <int R>
QVK_VECTOR_INLINE void SubShiftMix(const Prepared& p, __m512i* x)
{
    __m512i s[R];
    for (int k = 0; k < R; ++k) s[k] = SBoxes(p, x[k]);
    if constexpr (R == 1)
        x[0] = Mix(p, _mm512_permutexvar_epi8(p.shift[0], s[0]));
    else
        for (int k = 0; k < 2; ++k) x[k] = Mix(p, _mm512_permutex2var_epi8(s[0], p.shift[k], s[1]));
}

template <int R>
QVK_VECTOR_INLINE void RoundP(const Prepared& p, __m512i* P, int round)
{
    const __m512i xorRound = _mm512_set1_epi64(round);
    for (int k = 0; k < R; ++k) P[k] = _mm512_ternarylogic_epi64(P[k], p.xorBase[k], xorRound, 0x96);
    SubShiftMix<R>(p, P);
}

template <int R>
QVK_VECTOR_INLINE void RoundQ(const Prepared& p, __m512i* Q, int round)
{
    const __m512i addRound = _mm512_set1_epi64(static_cast<long long>(uint64_t(round) << 56));
    for (int k = 0; k < R; ++k) Q[k] = _mm512_add_epi64(Q[k], _mm512_add_epi64(p.addBase[k], addRound));
    SubShiftMix<R>(p, Q);
}

// Q does not depend on the chaining value, so a batch of 8 / R blocks runs it
// byte-sliced: register r holds row r of every column of every block of the
// batch (byte c * B + b is column c of block b, B = 8 / R). Each register then
// needs one S-box instead of four, the row shift moves whole columns and the
// column mixing combines whole registers; only Q's additions carry from row
// to row. P, which the chain waits for, keeps one state to a register.
struct alignas(64) Sliced {
    uint8_t gather[8][64];   // row register r: byte of a batch register...
    uint64_t from[8];        // ...the one with these bytes
    uint8_t scatter[8][64];  // batch register j: byte of row register q % 8
    uint8_t shift[8][64];    // row r's shift
    uint8_t addBase[8][64];  // Q's constant in round 0, byte r of each column
};

QVK_VECTOR_INLINE __m512i SBox(const Prepared& p, int box, __m512i x)
{
    const __m512i* t = p.sBoxes + 4 * box;
    const __m512i l = _mm512_permutex2var_epi8(t[0], x, t[1]), h = _mm512_permutex2var_epi8(t[2], x, t[3]);
    return _mm512_mask_blend_epi8(_mm512_movepi8_mask(x), l, h);
}

// Row r of Q's round: the additive constant (each column is a little-endian
// 64-bit word, so a carry goes on into the next row where a byte sum wrapped,
// or came to 0xFF with a carry in), the row's S-box and its shift.
QVK_VECTOR_INLINE __m512i SlicedRow(const Prepared& p, const Sliced& s, int r, int round, __m512i x, __mmask64& carry)
{
    const __m512i ones = _mm512_set1_epi8(-1);
    __m512i k = _mm512_load_si512(s.addBase[r]);
    if (r == 7) k = _mm512_add_epi8(k, _mm512_set1_epi8(static_cast<char>(round)));
    const __m512i t = _mm512_add_epi8(x, k);
    const __mmask64 out = _mm512_cmplt_epu8_mask(t, k);
    x = _mm512_mask_sub_epi8(t, carry, t, ones);
    carry = r < 7 ? _kor_mask64(out, _kand_mask64(_mm512_cmpeq_epi8_mask(t, ones), carry)) : 0;
    x = SBox(p, r % 4, x);
    return r ? _mm512_permutexvar_epi8(_mm512_load_si512(s.shift[r]), x) : x;
}

// Row r of the column mixing over sliced rows: the sum over d of kMix[d] *
// row r + d, as in Mix.
QVK_VECTOR_INLINE __m512i SlicedMix(int r, const __m512i* y)
{
    const __m512i a = _mm512_ternarylogic_epi64(_mm512_ternarylogic_epi64(y[r], y[(r + 1) % 8], y[(r + 2) % 8], 0x96),
                                                y[(r + 3) % 8], y[(r + 6) % 8], 0x96);
    const __m512i b = _mm512_xor_si512(y[(r + 5) % 8], y[(r + 6) % 8]);
    const __m512i c = _mm512_ternarylogic_epi64(y[(r + 2) % 8], b, y[(r + 7) % 8], 0x96);
    const __m512i b2 = _mm512_gf2p8affine_epi64_epi8(b, _mm512_set1_epi64(static_cast<long long>(kTimes2)), 0);
    const __m512i c4 = _mm512_gf2p8affine_epi64_epi8(c, _mm512_set1_epi64(static_cast<long long>(kTimes4)), 0);
    const __m512i d8 =
        _mm512_gf2p8affine_epi64_epi8(y[(r + 4) % 8], _mm512_set1_epi64(static_cast<long long>(kTimes8)), 0);
    return _mm512_ternarylogic_epi64(a, b2, _mm512_xor_si512(c4, d8), 0x96);
}

// One batch's worth of work, P and Q of different batches interleaved: P of
// the blocks at `pData` (chaining through h, finished with their Q results
// qIn) and Q of the batch at `qData` into qOut. P is a chain whose rounds
// wait on their own latency; Q's rows fill the execution slots it leaves,
// a row of Q (R == 1) or two (R == 2) after each round of P.
template <int R, int Rounds, bool kP, bool kQ>
QVK_VECTOR_INLINE void Stage(const Prepared& p, const Sliced& s, __m512i* h, const uint8_t* pData, const __m512i* qIn,
                             const uint8_t* qData, __m512i* qOut)
{
    __m512i y[2][8], P[R];
    if constexpr (kQ) {
        QVK_UNROLL
        for (int r = 0; r < 8; ++r) {
            const __m512i gather = _mm512_load_si512(s.gather[r]);
            y[1][r] = _mm512_setzero_si512();
            QVK_UNROLL
            for (int j = 0; j < 8; ++j)
                y[1][r] = _mm512_mask_permutexvar_epi8(y[1][r], s.from[j], gather, _mm512_loadu_si512(qData + 64 * j));
        }
    }
    int block = 0, pRound = 0;
    for (int round = 0; round < Rounds; round += 2) {
        QVK_UNROLL
        for (int half = 0; half < 2; ++half) {
            __mmask64 carry = 0;
            QVK_UNROLL
            for (int r = 0; r < 8; ++r) {
                if constexpr (kQ) {
                    const __m512i x = (round + half == 0) ? y[1][r] : SlicedMix(r, y[1 - half]);
                    y[half][r] = SlicedRow(p, s, r, round + half, x, carry);
                }
                if constexpr (kP) {
                    if (r % R == 0) {
                        if (pRound == 0)
                            for (int k = 0; k < R; ++k)
                                P[k] = _mm512_xor_si512(h[k], _mm512_loadu_si512(pData + 64 * (R * block + k)));
                        RoundP<R>(p, P, pRound);
                        if (++pRound == Rounds) {
                            for (int k = 0; k < R; ++k)
                                h[k] = _mm512_ternarylogic_epi64(h[k], P[k], qIn[R * block + k], 0x96);
                            pRound = 0;
                            ++block;
                        }
                    }
                }
            }
        }
    }
    if constexpr (kQ) {
        QVK_UNROLL
        for (int r = 0; r < 8; ++r) y[0][r] = SlicedMix(r, y[1]);
        QVK_UNROLL
        for (int j = 0; j < 8; ++j) {
            const __m512i scatter = _mm512_load_si512(s.scatter[j]);
            qOut[j] = _mm512_setzero_si512();
            QVK_UNROLL
            for (int r = 0; r < 8; ++r)
                qOut[j] = _mm512_mask_permutexvar_epi8(qOut[j], 0x0101010101010101ull << r, scatter, y[0][r]);
        }
    }
}

template <int R, int Rounds>
QVK_VECTOR_TARGET void Compress(const Prepared& p, const Sliced* s, const uint8_t* data, uint64_t blocks,
                                uint8_t* state)
{
    __m512i h[R];
    for (int k = 0; k < R; ++k) h[k] = _mm512_loadu_si512(state + 64 * k);
    constexpr uint64_t kBatch = 8 / R;
    if (s && blocks >= kBatch) {
        // Q of a batch runs beside P of the batch before it.
        alignas(64) __m512i q[2][8];
        Stage<R, Rounds, false, true>(p, *s, h, nullptr, nullptr, data, q[0]);
        int at = 0;
        for (; blocks >= 2 * kBatch; blocks -= kBatch, data += 64 * 8, at ^= 1)
            Stage<R, Rounds, true, true>(p, *s, h, data, q[at], data + 64 * 8, q[1 - at]);
        Stage<R, Rounds, true, false>(p, *s, h, data, q[at], nullptr, nullptr);
        blocks -= kBatch;
        data += 64 * 8;
    }
    for (; blocks; --blocks, data += 64 * R) {
        __m512i P[R], Q[R];
        for (int k = 0; k < R; ++k) {
            Q[k] = _mm512_loadu_si512(data + 64 * k);
            P[k] = _mm512_xor_si512(h[k], Q[k]);
        }
        for (int round = 0; round < Rounds; ++round) {
            RoundP<R>(p, P, round);
            RoundQ<R>(p, Q, round);
        }
        for (int k = 0; k < R; ++k) h[k] = _mm512_ternarylogic_epi64(h[k], P[k], Q[k], 0x96);
    }
    for (int k = 0; k < R; ++k) _mm512_storeu_si512(state + 64 * k, h[k]);
}

void PrepareSliced(uint32_t columns, Sliced& s)
{
    const uint32_t batch = 64 / columns, halves = columns / 8;
    std::memset(s.from, 0, sizeof s.from);
    for (uint32_t pos = 0; pos < 64; ++pos) {
        const uint32_t c = pos / batch, b = pos % batch;
        s.from[b * halves + c / 8] |= uint64_t(1) << pos;
        for (uint32_t r = 0; r < 8; ++r) {
            s.gather[r][pos] = static_cast<uint8_t>((8 * c + r) % 64);
            s.shift[r][pos] = static_cast<uint8_t>((c + columns - RowShift(columns, r)) % columns * batch + b);
            s.addBase[r][pos] = static_cast<uint8_t>(QConstant(columns, c) >> (8 * r));
        }
    }
    for (uint32_t j = 0; j < 8; ++j)
        for (uint32_t q = 0; q < 64; ++q) {
            const uint32_t c = 8 * (j % halves) + q / 8;
            s.scatter[j][q] = static_cast<uint8_t>(c * batch + j / halves);
        }
}

QVK_VECTOR_TARGET void Prepare(const uint8_t* sBoxes, uint32_t columns, Prepared& p)
{
    for (int i = 0; i < 16; ++i) p.sBoxes[i] = _mm512_loadu_si512(sBoxes + 64 * i);
    alignas(64) uint8_t rows[8][64];
    for (int k = 0; k < 8; ++k)
        for (int i = 0; i < 64; ++i) rows[k][i] = static_cast<uint8_t>((i & 8) + ((i + k) & 7));
    for (int k = 0; k < 8; ++k) p.rows[k] = _mm512_load_si512(rows[k]);
    alignas(64) uint8_t idx[2][64];
    for (uint32_t c = 0; c < columns; ++c)
        for (uint32_t r = 0; r < 8; ++r) {
            const uint32_t from = 8 * ((c + columns - RowShift(columns, r)) % columns) + r;
            idx[c / 8][8 * (c % 8) + r] = static_cast<uint8_t>(from);
        }
    alignas(64) uint64_t xorBase[2][8], addBase[2][8];
    for (uint32_t c = 0; c < columns; ++c) {
        xorBase[c / 8][c % 8] = uint64_t(c) << 4;
        addBase[c / 8][c % 8] = QConstant(columns, c);
    }
    for (uint32_t k = 0; k < columns / 8; ++k) {
        p.shift[k] = _mm512_load_si512(idx[k]);
        p.xorBase[k] = _mm512_load_si512(xorBase[k]);
        p.addBase[k] = _mm512_load_si512(addBase[k]);
    }
}

}  // namespace

bool DSTU7564CompressVector(const DSTU7564Context* c, const uint8_t* data, uint64_t blocks, uint8_t* state)
{
    static const bool rowAgrees = MixRowAgrees();
    if (!rowAgrees || !VectorPathAvailable()) return false;
    const bool standard = (c->columns == 8 && c->compress == DSTU7564Compress512) ||
                          (c->columns == 16 && c->compress == DSTU7564Compress1024);
    if (!standard) return false;
    Prepared p;
    Prepare(c->sBoxes, c->columns, p);
    Sliced s;
    const bool batches = blocks >= 8 * 8 / c->columns;
    if (batches) PrepareSliced(c->columns, s);
    if (c->columns == 8)
        Compress<1, 10>(p, batches ? &s : nullptr, data, blocks, state);
    else
        Compress<2, 14>(p, batches ? &s : nullptr, data, blocks, state);
    ClearVectorRegisters();  // the chaining value (of a password, in a login)
    ScrubStack();
    return true;
}

}  // namespace qvkcrypto
