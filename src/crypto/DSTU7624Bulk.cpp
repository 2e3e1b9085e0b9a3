// DSTU 7624 on 256-byte batches of independent blocks with AVX-512 VBMI and
// GFNI, compiled for that target through function attributes only.
//
// Layout. A batch is four 64-byte registers in memory order. After the first
// key addition (modulo 2^64 per column, so done in that order) it is
// rearranged so that register j holds state rows j and j + 4 of every column
// of every block: within each 128-bit lane (one quarter of the batch) the
// low 8 bytes are row j of that quarter's eight columns, the high 8 bytes row
// j + 4. Rows j and j + 4 use the same S-box pi_j, so a register needs one
// 256-entry lookup (two two-register byte permutes and a blend on the top
// bit); the row shift is one byte permute per register, inside each block;
// the column mixing is a sum of products by constants (GF(2^8) affine maps)
// of the four registers and of their copies with the two rows exchanged. The
// layout goes back before the last key addition.
//
// Every block size goes 64 blocks at a time through a byte-sliced kernel
// where there are that many (SlicedEncrypt for 128-bit blocks, WideEncrypt
// for the others); the batches above take the rest.
#include "crypto/DSTU7624Bulk.h"

// GCC 12 takes the deliberately undefined pass-through of its own intrinsic
// wrappers for an uninitialised variable.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"  // GCC 12 on its own intrinsic wrappers
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

#include <immintrin.h>

#include <cstddef>
#include <cstring>

#include "crypto/CpuFeatures.h"
#include "crypto/DSTUCiphersTables.h"
#include "crypto/GF256Affine.h"
#include "crypto/SecureWipe.h"

namespace qvkcrypto {

namespace {

#ifndef QVK_PLANES
#define QVK_PLANES 1
#endif

// The MDS row and its inverse by distance d = (input row - output row) mod 8.
constexpr uint8_t kMix[8] = {0x01, 0x01, 0x05, 0x01, 0x08, 0x06, 0x07, 0x04};
constexpr uint8_t kInverseMix[8] = {0xAD, 0x95, 0x76, 0xA8, 0x2F, 0x49, 0xD7, 0xCA};

// The constants above are the library's: checked once before first use.
bool MixConstantsAgree()
{
    for (int d = 0; d < 8; ++d) {
        if (kMix[d] != DSTUMDSRow[(d + 7) % 8] || kInverseMix[d] != DSTUInverseMDSRow[(d + 7) % 8]) return false;
    }
    return true;
}

const DSTU7624Variant* Variant(const DSTU7624Context* ctx)
{
    for (const DSTU7624Variant& v : DSTU7624Variants)
        if (v.blockWords == ctx->blockWords && v.keyWords == ctx->keyWords) return &v;
    return nullptr;
}

// Everything a bulk call keeps for its batches; wiped at the end of the call.
struct alignas(64) Prepared {
    __m512i sBoxes[16];    // pi_j (or its inverse) in registers 4j..4j+3
    __m512i shift[4];      // row shift (or its inverse) per register
    __m512i shiftSwap[4];  // the same, then the two rows of each lane exchanged
    __m512i zero[4];       // no round key
    __m512i first, last;   // whole-order keys added before and after the rounds
    __m512i keys[19][4];   // round keys 1..nr-1 in the rearranged layout
    // Byte p of round key i repeated over a 32-bit word, for the
    // byte-sliced kernels (one register per byte position of the block).
    uint32_t sliceKeys[19][64];
    int rounds;
};

// The byte-sliced state of the 256- and 512-bit blocks (32 or 64
// registers) and a second copy that each round writes; kept in memory.
struct alignas(64) SlicedWork {
    __m512i x[2][64];
};

QVK_VECTOR_INLINE __m512i Gather()
{
    // Byte 16j + 8h + c of a quarter's lane j comes from column c, row j + 4h.
    alignas(64) uint8_t idx[64];
    for (int j = 0; j < 4; ++j)
        for (int h = 0; h < 2; ++h)
            for (int c = 0; c < 8; ++c) idx[16 * j + 8 * h + c] = static_cast<uint8_t>(8 * c + j + 4 * h);
    return _mm512_load_si512(idx);
}

QVK_VECTOR_INLINE __m512i Scatter()
{
    alignas(64) uint8_t idx[64];
    for (int j = 0; j < 4; ++j)
        for (int h = 0; h < 2; ++h)
            for (int c = 0; c < 8; ++c) idx[8 * c + j + 4 * h] = static_cast<uint8_t>(16 * j + 8 * h + c);
    return _mm512_load_si512(idx);
}

// The lane transpose that turns four quarters' lanes j into register j; it
// is its own inverse.
QVK_VECTOR_INLINE void TransposeLanes(__m512i* x)
{
    const __m512i t0 = _mm512_shuffle_i64x2(x[0], x[1], 0x44);
    const __m512i t1 = _mm512_shuffle_i64x2(x[0], x[1], 0xEE);
    const __m512i t2 = _mm512_shuffle_i64x2(x[2], x[3], 0x44);
    const __m512i t3 = _mm512_shuffle_i64x2(x[2], x[3], 0xEE);
    x[0] = _mm512_shuffle_i64x2(t0, t2, 0x88);
    x[1] = _mm512_shuffle_i64x2(t0, t2, 0xDD);
    x[2] = _mm512_shuffle_i64x2(t1, t3, 0x88);
    x[3] = _mm512_shuffle_i64x2(t1, t3, 0xDD);
}

QVK_VECTOR_INLINE void ToRows(__m512i* x, __m512i gather)
{
    for (int k = 0; k < 4; ++k) x[k] = _mm512_permutexvar_epi8(gather, x[k]);
    TransposeLanes(x);
}

QVK_VECTOR_INLINE void FromRows(__m512i* x, __m512i scatter)
{
    TransposeLanes(x);
    for (int k = 0; k < 4; ++k) x[k] = _mm512_permutexvar_epi8(scatter, x[k]);
}

QVK_VECTOR_INLINE __m512i SBox(const __m512i* t, __m512i x)
{
    const __m512i low = _mm512_permutex2var_epi8(t[0], x, t[1]);
    const __m512i high = _mm512_permutex2var_epi8(t[2], x, t[3]);
    return _mm512_mask_blend_epi8(_mm512_movepi8_mask(x), low, high);
}

// Wrappers of intrinsics that some compilers define as macros (template
// arguments in their operands would not pass through a macro).
QVK_VECTOR_INLINE __m512i Xor3(__m512i a, __m512i b, __m512i c)
{
    return _mm512_ternarylogic_epi64(a, b, c, 0x96);
}

QVK_VECTOR_INLINE __m512i Affine(__m512i x, __m512i matrix)
{
    return _mm512_gf2p8affine_epi64_epi8(x, matrix, 0);
}

template <bool Inverse, int D>
QVK_VECTOR_INLINE __m512i Times(__m512i x)
{
    constexpr uint8_t c = Inverse ? kInverseMix[D & 7] : kMix[D & 7];
    if constexpr (c == 1)
        return x;
    else
        return Affine(x, _mm512_set1_epi64(static_cast<long long>(MultiplyMatrix(c))));
}

// Output register I (rows I and I + 4) of the column mixing; w[j] is y[j]
// with its two rows exchanged.
template <bool Inverse, int I>
QVK_VECTOR_INLINE __m512i MixRow(const __m512i* y, const __m512i* w, __m512i key)
{
    const __m512i y0 = Times<Inverse, 0 - I>(y[0]), w0 = Times<Inverse, 4 - I>(w[0]);
    const __m512i y1 = Times<Inverse, 1 - I>(y[1]), w1 = Times<Inverse, 5 - I>(w[1]);
    const __m512i y2 = Times<Inverse, 2 - I>(y[2]), w2 = Times<Inverse, 6 - I>(w[2]);
    const __m512i y3 = Times<Inverse, 3 - I>(y[3]), w3 = Times<Inverse, 7 - I>(w[3]);
    return Xor3(Xor3(y0, w0, y1), Xor3(w1, y2, w2), Xor3(y3, w3, key));
}

// Forward mixing written over multiples of 2, 4 and 8: every coefficient of
// the row is at most 8, so an output is A + 2B + 4C + 8D with A..D sums of
// inputs chosen by the coefficients' bits (three affine maps, not five).
template <int I, int Bit, int D>
QVK_VECTOR_INLINE __m512i PlaneTerm(const __m512i* y, const __m512i* w)
{
    constexpr int j = (D + I) & 7;
    if constexpr (((kMix[D] >> Bit) & 1) == 0)
        return _mm512_setzero_si512();
    else if constexpr (j < 4)
        return y[j];
    else
        return w[j - 4];
}

template <int I, int Bit>
QVK_VECTOR_INLINE __m512i Plane(const __m512i* y, const __m512i* w)
{
    const __m512i t0 = PlaneTerm<I, Bit, 0>(y, w), t1 = PlaneTerm<I, Bit, 1>(y, w);
    const __m512i t2 = PlaneTerm<I, Bit, 2>(y, w), t3 = PlaneTerm<I, Bit, 3>(y, w);
    const __m512i t4 = PlaneTerm<I, Bit, 4>(y, w), t5 = PlaneTerm<I, Bit, 5>(y, w);
    const __m512i t6 = PlaneTerm<I, Bit, 6>(y, w), t7 = PlaneTerm<I, Bit, 7>(y, w);
    return Xor3(Xor3(t0, t1, t2), Xor3(t3, t4, t5), _mm512_xor_si512(t6, t7));
}

template <int I>
QVK_VECTOR_INLINE __m512i MixRowPlanes(const __m512i* y, const __m512i* w, __m512i key)
{
    const __m512i a = Plane<I, 0>(y, w), b = Plane<I, 1>(y, w), c = Plane<I, 2>(y, w), d = Plane<I, 3>(y, w);
    const __m512i b2 = Affine(b, _mm512_set1_epi64(static_cast<long long>(MultiplyMatrix(2))));
    const __m512i c4 = Affine(c, _mm512_set1_epi64(static_cast<long long>(MultiplyMatrix(4))));
    const __m512i d8 = Affine(d, _mm512_set1_epi64(static_cast<long long>(MultiplyMatrix(8))));
    return Xor3(a, b2, Xor3(c4, d8, key));
}

// The column mixing of y (w: y with its two rows exchanged), plus a round
// key (zero for none), into x.
template <bool Inverse>
QVK_VECTOR_INLINE void Mix(const __m512i* y, const __m512i* w, const __m512i* key, __m512i* x)
{
    if constexpr (Inverse || !QVK_PLANES) {
        x[0] = MixRow<Inverse, 0>(y, w, key[0]);
        x[1] = MixRow<Inverse, 1>(y, w, key[1]);
        x[2] = MixRow<Inverse, 2>(y, w, key[2]);
        x[3] = MixRow<Inverse, 3>(y, w, key[3]);
    } else {
        x[0] = MixRowPlanes<0>(y, w, key[0]);
        x[1] = MixRowPlanes<1>(y, w, key[1]);
        x[2] = MixRowPlanes<2>(y, w, key[2]);
        x[3] = MixRowPlanes<3>(y, w, key[3]);
    }
}

constexpr int kGroup = 3;

// S-boxes, row shift (both act row by row, so in either order), mixing and
// the round key. The shifted state and its row-exchanged copy come from one
// permute each.
template <bool Inverse>
QVK_VECTOR_INLINE void Round(const Prepared& p, __m512i* x, const __m512i* key)
{
    __m512i y[4], w[4];
    for (int j = 0; j < 4; ++j) {
        const __m512i s = SBox(p.sBoxes + 4 * j, x[j]);
        y[j] = _mm512_permutexvar_epi8(p.shift[j], s);
        w[j] = _mm512_permutexvar_epi8(p.shiftSwap[j], s);
    }
    Mix<Inverse>(y, w, key, x);
}

QVK_VECTOR_INLINE void SubstituteAndShift(const Prepared& p, __m512i* x)
{
    for (int j = 0; j < 4; ++j) x[j] = _mm512_permutexvar_epi8(p.shift[j], SBox(p.sBoxes + 4 * j, x[j]));
}

// G batches side by side: their rounds are independent, which hides the
// latency of one batch's permutes behind the other's.
template <int G>
QVK_VECTOR_INLINE void EncryptGroup(const Prepared& p, uint8_t* data, __m512i gather, __m512i scatter)
{
    __m512i x[4 * G];
    for (int k = 0; k < 4 * G; ++k) x[k] = _mm512_add_epi64(_mm512_loadu_si512(data + 64 * k), p.first);
    for (int g = 0; g < G; ++g) ToRows(x + 4 * g, gather);
    for (int i = 1; i < p.rounds; ++i)
        for (int g = 0; g < G; ++g) Round<false>(p, x + 4 * g, p.keys[i]);
    for (int g = 0; g < G; ++g) {
        Round<false>(p, x + 4 * g, p.zero);
        FromRows(x + 4 * g, scatter);
    }
    for (int k = 0; k < 4 * G; ++k) _mm512_storeu_si512(data + 64 * k, _mm512_add_epi64(x[k], p.last));
}

template <int G>
QVK_VECTOR_INLINE void DecryptGroup(const Prepared& p, uint8_t* data, __m512i gather, __m512i scatter)
{
    __m512i x[4 * G];
    for (int k = 0; k < 4 * G; ++k) x[k] = _mm512_sub_epi64(_mm512_loadu_si512(data + 64 * k), p.last);
    for (int g = 0; g < G; ++g) {
        ToRows(x + 4 * g, gather);
        __m512i y[4], w[4];
        for (int j = 0; j < 4; ++j) {
            y[j] = x[4 * g + j];
            w[j] = _mm512_shuffle_epi32(y[j], _MM_PERM_BADC);
        }
        Mix<true>(y, w, p.zero, x + 4 * g);
    }
    for (int i = p.rounds - 1; i > 0; --i)
        for (int g = 0; g < G; ++g) Round<true>(p, x + 4 * g, p.keys[i]);
    for (int g = 0; g < G; ++g) {
        SubstituteAndShift(p, x + 4 * g);
        FromRows(x + 4 * g, scatter);
    }
    for (int k = 0; k < 4 * G; ++k) _mm512_storeu_si512(data + 64 * k, _mm512_sub_epi64(x[k], p.first));
}

// Byte-sliced DSTU 7624 with 128-bit blocks, 64 blocks at a time: register
// 8c + r holds byte r of column c (the state's row r) of every block, so
// each register takes one S-box lookup, the row shift (row r moves r / 4
// columns, an exchange of the two columns for rows 4..7) is a renaming, and
// the column mixing works on whole registers. The layout is changed after
// the first key addition and back before the last.
constexpr uint64_t kSliceBlocks = 64;

// The loops over registers must be unrolled for the registers to stay registers.
#define QVK_UNROLL _Pragma("GCC unroll 16")

// Within a register of four blocks: byte 4p + b takes byte p of block b.
QVK_VECTOR_INLINE __m512i SliceIndex()
{
    alignas(64) uint8_t idx[64];
    for (int p = 0; p < 16; ++p)
        for (int b = 0; b < 4; ++b) idx[4 * p + b] = static_cast<uint8_t>(16 * b + p);
    return _mm512_load_si512(idx);
}

QVK_VECTOR_INLINE __m512i UnsliceIndex()
{
    alignas(64) uint8_t idx[64];
    for (int p = 0; p < 16; ++p)
        for (int b = 0; b < 4; ++b) idx[16 * b + p] = static_cast<uint8_t>(4 * p + b);
    return _mm512_load_si512(idx);
}

// Transposes 16 x 16 words of 32 bits (word j of register i to word i of
// register j); its own inverse.
QVK_VECTOR_INLINE void Transpose16(__m512i* r)
{
    __m512i t[16], u[16];
    QVK_UNROLL
    for (int i = 0; i < 8; ++i) {
        t[2 * i] = _mm512_unpacklo_epi32(r[2 * i], r[2 * i + 1]);
        t[2 * i + 1] = _mm512_unpackhi_epi32(r[2 * i], r[2 * i + 1]);
    }
    // Lane L of u[4g + c]: word 4L + c of registers 4g..4g+3.
    QVK_UNROLL
    for (int g = 0; g < 4; ++g) {
        u[4 * g] = _mm512_unpacklo_epi64(t[4 * g], t[4 * g + 2]);
        u[4 * g + 1] = _mm512_unpackhi_epi64(t[4 * g], t[4 * g + 2]);
        u[4 * g + 2] = _mm512_unpacklo_epi64(t[4 * g + 1], t[4 * g + 3]);
        u[4 * g + 3] = _mm512_unpackhi_epi64(t[4 * g + 1], t[4 * g + 3]);
    }
    QVK_UNROLL
    for (int c = 0; c < 4; ++c) {
        __m512i x[4] = {u[c], u[4 + c], u[8 + c], u[12 + c]};
        TransposeLanes(x);
        QVK_UNROLL
        for (int l = 0; l < 4; ++l) r[4 * l + c] = x[l];
    }
}

// Product with a constant; none for 0 and 1.
template <uint8_t C>
QVK_VECTOR_INLINE __m512i Mul(__m512i x)
{
    if constexpr (C == 0)
        return _mm512_setzero_si512();
    else if constexpr (C == 1)
        return x;
    else
        return Affine(x, _mm512_set1_epi64(static_cast<long long>(MultiplyMatrix(C))));
}

QVK_VECTOR_INLINE __m512i SliceKey(const uint32_t* key, int pos)
{
    return _mm512_set1_epi32(static_cast<int>(key[pos]));
}

// The forward mixing of one column y[0..7] (rows), key added. With
// q_k = y_k + y_{k+1} the row (1, 1, 5, 1, 8, 6, 7, 4) by distance gives
// out_i = q_i + q_{i+2} + y_{i+6} + 6 q_{i+5} + 4 (y_{i+2} + y_{i+7} + 2 y_{i+4}):
// three affine maps per output.
template <bool Keyed>
QVK_VECTOR_INLINE void SlicedMixColumn(const __m512i* y, const uint32_t* key, int column, __m512i* out)
{
    __m512i q[8];
    QVK_UNROLL
    for (int k = 0; k < 8; ++k) q[k] = _mm512_xor_si512(y[k], y[(k + 1) & 7]);
    QVK_UNROLL
    for (int i = 0; i < 8; ++i) {
        __m512i a;
        if constexpr (Keyed)
            a = _mm512_xor_si512(Xor3(q[i], q[(i + 2) & 7], y[(i + 6) & 7]), SliceKey(key, 8 * column + i));
        else
            a = Xor3(q[i], q[(i + 2) & 7], y[(i + 6) & 7]);
        const __m512i t = Xor3(Mul<2>(y[(i + 4) & 7]), y[(i + 2) & 7], y[(i + 7) & 7]);
        out[8 * column + i] = Xor3(a, Mul<6>(q[(i + 5) & 7]), Mul<4>(t));
    }
}

// The inverse mixing, whose coefficients are all full products, by halving:
// a circulant [[C0, C1], [C1, C0]] of 4 x 4 blocks gives C1 (lo + hi) + D lo
// and C1 (lo + hi) + D hi with D = C0 + C1, and a Toeplitz matrix
// [[T0, T1], [T2, T0]] gives T0 (lo + hi) + (T1 + T0) hi and
// T0 (lo + hi) + (T2 + T0) lo, down to 2 x 2 blocks of three products: 27
// affine maps a column instead of 64.
// [[A, B], [C, A]] times (u, v).
template <uint8_t A, uint8_t B, uint8_t C>
QVK_VECTOR_INLINE void Toeplitz2(__m512i u, __m512i v, __m512i* out)
{
    const __m512i w = Mul<A>(_mm512_xor_si512(u, v));
    out[0] = _mm512_xor_si512(w, Mul<B ^ A>(v));
    out[1] = _mm512_xor_si512(w, Mul<C ^ A>(u));
}

// A 4 x 4 Toeplitz matrix: entry (i, j) is at(j - i).
struct Toeplitz4Coefficients {
    uint8_t t[7];
    constexpr uint8_t at(int delta) const { return t[delta + 3]; }
};

template <Toeplitz4Coefficients T>
QVK_VECTOR_INLINE void Toeplitz4(const __m512i* z, __m512i* out)
{
    __m512i w[2], a[2], b[2];
    Toeplitz2<T.at(0), T.at(1), T.at(-1)>(_mm512_xor_si512(z[0], z[2]), _mm512_xor_si512(z[1], z[3]), w);
    Toeplitz2<T.at(2) ^ T.at(0), T.at(3) ^ T.at(1), T.at(1) ^ T.at(-1)>(z[2], z[3], a);
    Toeplitz2<T.at(-2) ^ T.at(0), T.at(-1) ^ T.at(1), T.at(-3) ^ T.at(-1)>(z[0], z[1], b);
    out[0] = _mm512_xor_si512(w[0], a[0]);
    out[1] = _mm512_xor_si512(w[1], a[1]);
    out[2] = _mm512_xor_si512(w[0], b[0]);
    out[3] = _mm512_xor_si512(w[1], b[1]);
}

// C1 and D of the inverse row (entry (i, j) is kInverseMix[(j - i) mod 8]).
constexpr Toeplitz4Coefficients InverseBlock(bool d)
{
    Toeplitz4Coefficients c{};
    for (int delta = -3; delta <= 3; ++delta) {
        const uint8_t c1 = kInverseMix[(delta + 4) & 7];
        c.t[delta + 3] = d ? static_cast<uint8_t>(c1 ^ kInverseMix[delta & 7]) : c1;
    }
    return c;
}

QVK_VECTOR_INLINE void SlicedInverseMixColumn(const __m512i* y, const uint32_t* key, int column, __m512i* out)
{
    constexpr Toeplitz4Coefficients kC1 = InverseBlock(false), kD = InverseBlock(true);
    const __m512i sum[4] = {_mm512_xor_si512(y[0], y[4]), _mm512_xor_si512(y[1], y[5]), _mm512_xor_si512(y[2], y[6]),
                            _mm512_xor_si512(y[3], y[7])};
    __m512i shared[4], low[4], high[4];
    Toeplitz4<kC1>(sum, shared);
    Toeplitz4<kD>(y, low);
    Toeplitz4<kD>(y + 4, high);
    QVK_UNROLL
    for (int i = 0; i < 4; ++i) {
        const __m512i k0 = key ? SliceKey(key, 8 * column + i) : _mm512_setzero_si512();
        const __m512i k1 = key ? SliceKey(key, 8 * column + 4 + i) : _mm512_setzero_si512();
        out[8 * column + i] = Xor3(shared[i], low[i], k0);
        out[8 * column + 4 + i] = Xor3(shared[i], high[i], k1);
    }
}

// Register of the state's row j in column c after the row shift.
constexpr int Shifted(int c, int j)
{
    return 8 * (c ^ (j >> 2)) + j;
}

template <bool Inverse, bool Keyed>
QVK_VECTOR_INLINE void SlicedRound(const Prepared& p, __m512i* x, const uint32_t* key)
{
    __m512i s[16];
    QVK_UNROLL
    for (int pos = 0; pos < 16; ++pos) s[pos] = SBox(p.sBoxes + 4 * (pos & 3), x[pos]);
    QVK_UNROLL
    for (int c = 0; c < 2; ++c) {
        __m512i y[8];
        QVK_UNROLL
        for (int j = 0; j < 8; ++j) y[j] = s[Shifted(c, j)];
        if constexpr (Inverse)
            SlicedInverseMixColumn(y, Keyed ? key : nullptr, c, x);
        else
            SlicedMixColumn<Keyed>(y, key, c, x);
    }
}

QVK_VECTOR_INLINE void Slice(__m512i* x, __m512i index)
{
    QVK_UNROLL
    for (int k = 0; k < 16; ++k) x[k] = _mm512_permutexvar_epi8(index, x[k]);
    Transpose16(x);
}

QVK_VECTOR_INLINE void Unslice(__m512i* x, __m512i index)
{
    Transpose16(x);
    QVK_UNROLL
    for (int k = 0; k < 16; ++k) x[k] = _mm512_permutexvar_epi8(index, x[k]);
}

QVK_VECTOR_TARGET void SlicedEncrypt(const Prepared& p, uint8_t* data, uint64_t groups)
{
    const __m512i slice = SliceIndex(), unslice = UnsliceIndex();
    for (; groups; --groups, data += 16 * kSliceBlocks) {
        __m512i x[16];
        QVK_UNROLL
        for (int k = 0; k < 16; ++k) x[k] = _mm512_add_epi64(_mm512_loadu_si512(data + 64 * k), p.first);
        Slice(x, slice);
        for (int i = 1; i < p.rounds; ++i) SlicedRound<false, true>(p, x, p.sliceKeys[i]);
        SlicedRound<false, false>(p, x, nullptr);
        Unslice(x, unslice);
        QVK_UNROLL
        for (int k = 0; k < 16; ++k) _mm512_storeu_si512(data + 64 * k, _mm512_add_epi64(x[k], p.last));
    }
}

QVK_VECTOR_TARGET void SlicedDecrypt(const Prepared& p, uint8_t* data, uint64_t groups)
{
    const __m512i slice = SliceIndex(), unslice = UnsliceIndex();
    for (; groups; --groups, data += 16 * kSliceBlocks) {
        __m512i x[16];
        QVK_UNROLL
        for (int k = 0; k < 16; ++k) x[k] = _mm512_sub_epi64(_mm512_loadu_si512(data + 64 * k), p.last);
        Slice(x, slice);
        {
            const __m512i y0[8] = {x[0], x[1], x[2], x[3], x[4], x[5], x[6], x[7]};
            const __m512i y1[8] = {x[8], x[9], x[10], x[11], x[12], x[13], x[14], x[15]};
            SlicedInverseMixColumn(y0, nullptr, 0, x);
            SlicedInverseMixColumn(y1, nullptr, 1, x);
        }
        for (int i = p.rounds - 1; i > 0; --i) SlicedRound<true, true>(p, x, p.sliceKeys[i]);
        __m512i s[16];
        QVK_UNROLL
        for (int pos = 0; pos < 16; ++pos) s[pos] = SBox(p.sBoxes + 4 * (pos & 3), x[pos]);
        QVK_UNROLL
        for (int c = 0; c < 2; ++c) QVK_UNROLL
        for (int j = 0; j < 8; ++j) x[8 * c + j] = s[Shifted(c, j)];
        Unslice(x, unslice);
        QVK_UNROLL
        for (int k = 0; k < 16; ++k) _mm512_storeu_si512(data + 64 * k, _mm512_sub_epi64(x[k], p.first));
    }
}

// Byte-sliced 256- and 512-bit blocks, 64 at a time: register 8c + r of
// the state holds byte r of column c of every block, as above, but 32 or 64
// of them leave no room for the S-box tables, so the state lives in memory
// and a round goes column by column: the eight registers that the row shift
// brings into the column are loaded and substituted, mixed with the round
// key added, and stored into the other copy of the state.

// The column that row j of column c comes from; decryption shifts back.
template <int NB, bool Inverse>
constexpr int SourceColumn(int c, int j)
{
    const int shift = j * NB / 8;
    return Inverse ? (c + shift) % NB : (c + NB - shift) % NB;
}

template <int NB, bool Inverse, bool Keyed>
QVK_VECTOR_INLINE void WideRound(const Prepared& p, const __m512i* in, __m512i* out, const uint32_t* key)
{
    for (int c = 0; c < NB; ++c) {
        __m512i y[8];
        QVK_UNROLL
        for (int j = 0; j < 8; ++j) y[j] = SBox(p.sBoxes + 4 * (j & 3), in[8 * SourceColumn<NB, Inverse>(c, j) + j]);
        if constexpr (Inverse)
            SlicedInverseMixColumn(y, Keyed ? key : nullptr, c, out);
        else
            SlicedMixColumn<Keyed>(y, key, c, out);
    }
}

// Within a register of two 256-bit blocks: the halves (columns 0-1, 2-3) of
// blocks 4i..4i+3 from the two registers that hold them, as 128-bit lanes.
constexpr int kLowHalves = 0x88, kHighHalves = 0xDD;

template <bool Subtract>
QVK_VECTOR_INLINE __m512i LoadKeyed(const uint8_t* data, __m512i key)
{
    const __m512i v = _mm512_loadu_si512(data);
    return Subtract ? _mm512_sub_epi64(v, key) : _mm512_add_epi64(v, key);
}

template <bool Subtract>
QVK_VECTOR_INLINE void StoreKeyed(uint8_t* data, __m512i v, __m512i key)
{
    _mm512_storeu_si512(data, Subtract ? _mm512_sub_epi64(v, key) : _mm512_add_epi64(v, key));
}

// Loads 64 blocks from data, adds `key` (mod 2^64 per column, so before the
// layout changes) or subtracts it, and slices them into x; `spare` is
// scratch of the same size.
template <int NB, bool Subtract>
QVK_VECTOR_INLINE void WideSlice(const uint8_t* data, __m512i key, __m512i* x, __m512i* spare)
{
    const __m512i slice = SliceIndex();
    if constexpr (NB == 4) {
        // spare[16h + i]: half h of blocks 4i..4i+3, byte p of block b at 4p + b.
        for (int i = 0; i < 16; ++i) {
            const __m512i a = LoadKeyed<Subtract>(data + 128 * i, key);
            const __m512i b = LoadKeyed<Subtract>(data + 128 * i + 64, key);
            spare[i] = _mm512_permutexvar_epi8(slice, _mm512_shuffle_i64x2(a, b, kLowHalves));
            spare[16 + i] = _mm512_permutexvar_epi8(slice, _mm512_shuffle_i64x2(a, b, kHighHalves));
        }
    } else {
        // spare[16q + i]: quarter q of blocks 4i..4i+3.
        for (int i = 0; i < 16; ++i) {
            __m512i b[4];
            QVK_UNROLL
            for (int k = 0; k < 4; ++k) b[k] = LoadKeyed<Subtract>(data + 256 * i + 64 * k, key);
            TransposeLanes(b);
            QVK_UNROLL
            for (int q = 0; q < 4; ++q) spare[16 * q + i] = _mm512_permutexvar_epi8(slice, b[q]);
        }
    }
    for (int part = 0; part < NB / 2; ++part) {
        __m512i r[16];
        QVK_UNROLL
        for (int k = 0; k < 16; ++k) r[k] = spare[16 * part + k];
        Transpose16(r);
        QVK_UNROLL
        for (int k = 0; k < 16; ++k) x[16 * part + k] = r[k];
    }
}

template <int NB, bool Subtract>
QVK_VECTOR_INLINE void WideUnslice(uint8_t* data, __m512i key, const __m512i* x, __m512i* spare)
{
    const __m512i unslice = UnsliceIndex();
    for (int part = 0; part < NB / 2; ++part) {
        __m512i r[16];
        QVK_UNROLL
        for (int k = 0; k < 16; ++k) r[k] = x[16 * part + k];
        Transpose16(r);
        QVK_UNROLL
        for (int k = 0; k < 16; ++k) spare[16 * part + k] = _mm512_permutexvar_epi8(unslice, r[k]);
    }
    if constexpr (NB == 4) {
        // Qwords of the low (L) and high (H) halves back into blocks: L0 H0 L1 H1 and L2 H2 L3 H3.
        const __m512i first = _mm512_set_epi64(11, 10, 3, 2, 9, 8, 1, 0);
        const __m512i second = _mm512_set_epi64(15, 14, 7, 6, 13, 12, 5, 4);
        for (int i = 0; i < 16; ++i) {
            StoreKeyed<Subtract>(data + 128 * i, _mm512_permutex2var_epi64(spare[i], first, spare[16 + i]), key);
            StoreKeyed<Subtract>(data + 128 * i + 64, _mm512_permutex2var_epi64(spare[i], second, spare[16 + i]), key);
        }
    } else {
        for (int i = 0; i < 16; ++i) {
            __m512i b[4];
            QVK_UNROLL
            for (int q = 0; q < 4; ++q) b[q] = spare[16 * q + i];
            TransposeLanes(b);
            QVK_UNROLL
            for (int k = 0; k < 4; ++k) StoreKeyed<Subtract>(data + 256 * i + 64 * k, b[k], key);
        }
    }
}

template <int NB>
QVK_VECTOR_TARGET void WideEncrypt(const Prepared& p, SlicedWork& w, uint8_t* data, uint64_t groups)
{
    for (; groups; --groups, data += 64 * 8 * NB) {
        __m512i *a = w.x[0], *b = w.x[1];
        WideSlice<NB, false>(data, p.first, a, b);
        for (int i = 1; i < p.rounds; ++i) {
            WideRound<NB, false, true>(p, a, b, p.sliceKeys[i]);
            __m512i* t = a;
            a = b;
            b = t;
        }
        WideRound<NB, false, false>(p, a, b, nullptr);
        WideUnslice<NB, false>(data, p.last, b, a);
    }
}

template <int NB>
QVK_VECTOR_TARGET void WideDecrypt(const Prepared& p, SlicedWork& w, uint8_t* data, uint64_t groups)
{
    for (; groups; --groups, data += 64 * 8 * NB) {
        __m512i *a = w.x[0], *b = w.x[1];
        WideSlice<NB, true>(data, p.last, a, b);
        for (int c = 0; c < NB; ++c) {
            __m512i y[8];
            QVK_UNROLL
            for (int j = 0; j < 8; ++j) y[j] = a[8 * c + j];
            SlicedInverseMixColumn(y, nullptr, c, a);
        }
        for (int i = p.rounds - 1; i > 0; --i) {
            WideRound<NB, true, true>(p, a, b, p.sliceKeys[i]);
            __m512i* t = a;
            a = b;
            b = t;
        }
        for (int c = 0; c < NB; ++c) QVK_UNROLL
        for (int j = 0; j < 8; ++j)
            b[8 * c + j] = SBox(p.sBoxes + 4 * (j & 3), a[8 * SourceColumn<NB, true>(c, j) + j]);
        WideUnslice<NB, true>(data, p.first, b, a);
    }
}

// Batches (256 bytes) in one byte-sliced group of 64 blocks.
//
// The two batch runners below are kept out of line, as Prepare is: the
// kernels spill whole-order round keys, and their frames must lie below the
// bulk call's, where it scrubs, not in its own frame with the buffers.
inline uint64_t SlicedBatches(uint32_t blockWords)
{
    return 2 * blockWords;
}

__attribute__((noinline)) QVK_VECTOR_TARGET void EncryptBatches(const Prepared& p, SlicedWork& w, uint32_t nb,
                                                                uint8_t* data, uint64_t batches)
{
    const uint64_t per = SlicedBatches(nb), groups = batches / per;
    if (groups) {
        if (nb == 2)
            SlicedEncrypt(p, data, groups);
        else if (nb == 4)
            WideEncrypt<4>(p, w, data, groups);
        else
            WideEncrypt<8>(p, w, data, groups);
        data += 256 * per * groups;
        batches %= per;
    }
    const __m512i gather = Gather(), scatter = Scatter();
    for (; batches >= kGroup; batches -= kGroup, data += 256 * kGroup) EncryptGroup<kGroup>(p, data, gather, scatter);
    for (; batches; --batches, data += 256) EncryptGroup<1>(p, data, gather, scatter);
}

__attribute__((noinline)) QVK_VECTOR_TARGET void DecryptBatches(const Prepared& p, SlicedWork& w, uint32_t nb,
                                                                uint8_t* data, uint64_t batches)
{
    const uint64_t per = SlicedBatches(nb), groups = batches / per;
    if (groups) {
        if (nb == 2)
            SlicedDecrypt(p, data, groups);
        else if (nb == 4)
            WideDecrypt<4>(p, w, data, groups);
        else
            WideDecrypt<8>(p, w, data, groups);
        data += 256 * per * groups;
        batches %= per;
    }
    const __m512i gather = Gather(), scatter = Scatter();
    for (; batches >= kGroup; batches -= kGroup, data += 256 * kGroup) DecryptGroup<kGroup>(p, data, gather, scatter);
    for (; batches; --batches, data += 256) DecryptGroup<1>(p, data, gather, scatter);
}

// A round key (blockWords words) repeated over a whole register.
QVK_VECTOR_INLINE __m512i Repeat(const uint64_t* key, uint32_t blockWords)
{
    alignas(64) uint64_t words[8];
    for (int q = 0; q < 8; ++q) words[q] = key[q % blockWords];
    const __m512i v = _mm512_load_si512(words);
    SecureWipe(words, sizeof words);
    return v;
}

// Kept out of line: its working copies of the round keys (spilled registers,
// the arrays that the key rearrangement goes through) then lie in a frame
// below the bulk call's, which the call scrubs at its end.
__attribute__((noinline)) QVK_VECTOR_TARGET void Prepare(const DSTU7624Context* ctx, bool decrypting, int rounds,
                                                         Prepared& p)
{
    const uint32_t nb = ctx->blockWords;
    const uint8_t* s = decrypting ? ctx->inverseSBoxes : ctx->sBoxes;
    for (int i = 0; i < 16; ++i) p.sBoxes[i] = _mm512_loadu_si512(s + 64 * i);
    // Row r moves floor(r * nb / 8) columns towards higher numbers, inside
    // its block; decryption moves it back. nb is a power of two: masks, not
    // divisions, which cost a short call as much as its blocks did.
    const uint32_t columnMask = nb - 1;
    for (int j = 0; j < 4; ++j) {
        alignas(64) uint8_t idx[64];
        for (int lane = 0; lane < 4; ++lane)
            for (int h = 0; h < 2; ++h) {
                const uint32_t shift = (j + 4 * h) * nb / 8;
                for (uint32_t b = 0; b < 8; ++b) {
                    const uint32_t from = (decrypting ? b + shift : b - shift) & columnMask;
                    idx[16 * lane + 8 * h + b] = static_cast<uint8_t>(16 * lane + 8 * h + (b & ~columnMask) + from);
                }
            }
        p.shift[j] = _mm512_load_si512(idx);
        p.shiftSwap[j] = _mm512_shuffle_epi32(p.shift[j], _MM_PERM_BADC);
        p.zero[j] = _mm512_setzero_si512();
    }
    const uint64_t* k = decrypting ? ctx->decryptionRoundKeys : ctx->roundKeys;
    p.rounds = rounds;
    p.first = Repeat(k, nb);
    p.last = Repeat(k + rounds * nb, nb);
    const __m512i gather = Gather();
    for (int i = 1; i < rounds; ++i) {
        __m512i x[4];
        x[0] = x[1] = x[2] = x[3] = Repeat(k + i * nb, nb);
        ToRows(x, gather);
        for (int j = 0; j < 4; ++j) p.keys[i][j] = x[j];
    }
    for (int i = 1; i < rounds; ++i)
        for (uint32_t pos = 0; pos < 8 * nb; ++pos)
            p.sliceKeys[i][pos] = 0x01010101u * ((k[i * nb + pos / 8] >> (8 * (pos % 8))) & 0xFF);
}

// Counter blocks, one batch-sized chunk at a time.
void FillCounters(uint8_t* out, uint64_t blocks, uint64_t* counter, uint32_t blockWords)
{
    const uint32_t half = blockWords / 2;
    for (uint64_t b = 0; b < blocks; ++b, out += 8 * blockWords) {
        counter[0] += 1;
        for (uint32_t j = 1; j < half && counter[j - 1] == 0; ++j) counter[j] += 1;
        std::memcpy(out, counter, 8 * blockWords);
    }
}

// The same when word 0 does not wrap: block b has word 0 one more than
// block b - 1, the other words as they are.
QVK_VECTOR_TARGET void FillCountersNoCarry(uint8_t* out, uint64_t blocks, uint64_t* counter, uint32_t blockWords)
{
    alignas(64) uint64_t first[8], step[8];
    for (uint32_t q = 0; q < 8; ++q) {
        const bool low = q % blockWords == 0;
        first[q] = counter[q % blockWords] + (low ? 1 + q / blockWords : 0);
        step[q] = low ? 8 / blockWords : 0;
    }
    __m512i v = _mm512_load_si512(first);
    const __m512i inc = _mm512_load_si512(step);
    for (uint64_t r = blocks * blockWords / 8; r; --r, out += 64) {
        _mm512_store_si512(out, v);
        v = _mm512_add_epi64(v, inc);
    }
    counter[0] += blocks;
}

}  // namespace

bool DSTU7624BulkUsable(const DSTU7624Context* ctx, bool decrypting)
{
    static const bool constantsAgree = MixConstantsAgree();
    if (!constantsAgree || !VectorPathAvailable()) return false;
    const DSTU7624Variant* v = Variant(ctx);
    if (!v) return false;
    return decrypting ? ctx->decryptBlock == v->decryptBlock : ctx->encryptBlock == v->encryptBlock;
}

namespace {

enum class Work { Encrypt, Decrypt, Counter };

// One bulk call: the prepared keys live only inside it.
QVK_VECTOR_TARGET uint64_t Run(const DSTU7624Context* ctx, uint8_t* data, uint64_t blocks, uint64_t* counter, Work work)
{
    const uint32_t bw = ctx->blockWords;
    const uint64_t batch = DSTU7624BatchBlocks(bw);
    const uint64_t done = blocks / batch * batch;
    Prepared p;
    SlicedWork w;
    Prepare(ctx, work == Work::Decrypt, static_cast<int>(Variant(ctx)->rounds), p);
    if (work == Work::Encrypt) {
        EncryptBatches(p, w, bw, data, done / batch);
    } else if (work == Work::Decrypt) {
        DecryptBatches(p, w, bw, data, done / batch);
    } else {
        constexpr uint64_t kChunkBatches = 32;  // whole sliced groups of every block size
        alignas(64) uint8_t gamma[256 * kChunkBatches];
        for (uint64_t left = done; left;) {
            const uint64_t batches = left / batch < kChunkBatches ? left / batch : kChunkBatches;
            const uint64_t n = batches * batch;
            if (counter[0] <= ~0ULL - n)
                FillCountersNoCarry(gamma, n, counter, bw);
            else
                FillCounters(gamma, n, counter, bw);
            EncryptBatches(p, w, bw, gamma, batches);
            for (uint64_t i = 0; i < batches * 4; ++i, data += 64)
                _mm512_storeu_si512(data,
                                    _mm512_xor_si512(_mm512_loadu_si512(data), _mm512_load_si512(gamma + 64 * i)));
            left -= batches * batch;
        }
        SecureWipe(gamma, done * 8 * bw < sizeof gamma ? done * 8 * bw : sizeof gamma);
    }
    // What this call filled (a short call would otherwise pay more for the
    // wiping than for its blocks): the keys of its rounds, the sliced state of
    // its block size.
    const size_t rounds = static_cast<size_t>(p.rounds);
    SecureWipe(&p, offsetof(Prepared, keys));
    SecureWipe(p.keys, sizeof p.keys[0] * rounds);
    SecureWipe(p.sliceKeys, sizeof p.sliceKeys[0] * rounds);
    if (bw > 2 && done >= 64) {
        SecureWipe(w.x[0], sizeof(__m512i) * 8 * bw);
        SecureWipe(w.x[1], sizeof(__m512i) * 8 * bw);
    }
    ClearVectorRegisters();
    // The kernels' frames lay just below this one.
    ScrubStack();
    return done;
}

}  // namespace

uint64_t DSTU7624BulkEncrypt(const DSTU7624Context* ctx, uint8_t* data, uint64_t blocks)
{
    if (blocks < DSTU7624BatchBlocks(ctx->blockWords) || !DSTU7624BulkUsable(ctx, false)) return 0;
    const uint64_t done = Run(ctx, data, blocks, nullptr, Work::Encrypt);
    ScrubStack();
    return done;
}

uint64_t DSTU7624BulkDecrypt(const DSTU7624Context* ctx, uint8_t* data, uint64_t blocks)
{
    if (blocks < DSTU7624BatchBlocks(ctx->blockWords) || !DSTU7624BulkUsable(ctx, true)) return 0;
    const uint64_t done = Run(ctx, data, blocks, nullptr, Work::Decrypt);
    ScrubStack();
    return done;
}

uint64_t DSTU7624BulkCounter(const DSTU7624Context* ctx, uint8_t* data, uint64_t blocks, uint64_t* counter)
{
    if (blocks < DSTU7624BatchBlocks(ctx->blockWords) || !DSTU7624BulkUsable(ctx, false)) return 0;
    const uint64_t done = Run(ctx, data, blocks, counter, Work::Counter);
    ScrubStack();
    return done;
}

// XTS tweaks a register at a time: a register holds 8 / bw consecutive
// tweaks. Four tweaks on, the tweaks are these times x^4, lane by lane: every
// word shifted left by 4 bits with the top 4 of the word below (none for
// word 0), and the 4 bits leaving the top word reduced into word 0 by a
// 16-entry table of their products with the constant. So 4 / (8 / bw)
// registers step side by side, each four tweaks ahead of the one before it
// (a single chain of steps waited on its permutes).
namespace {

struct XtsStep {
    __m512i lowerIndex, topIndex, table0, table1;
    __mmask8 low, notLow;
};

QVK_VECTOR_INLINE __m512i TimesX4(const XtsStep& s, __m512i r)
{
    const __m512i below = _mm512_maskz_permutexvar_epi64(s.notLow, s.lowerIndex, r);
    const __m512i out = _mm512_srli_epi64(_mm512_maskz_permutexvar_epi64(s.low, s.topIndex, r), 60);
    const __m512i reduced = _mm512_maskz_permutex2var_epi64(s.low, s.table0, out, s.table1);
    return _mm512_ternarylogic_epi64(_mm512_slli_epi64(r, 4), _mm512_srli_epi64(below, 60), reduced, 0x96);
}

}  // namespace

QVK_VECTOR_TARGET void DSTU7624BulkXtsMask(uint8_t* data, uint64_t* mask, uint64_t blocks, uint64_t* t,
                                           uint32_t blockWords, uint64_t constant)
{
    const uint32_t bw = blockWords, perRegister = 8 / bw, chains = 4 / perRegister;
    const uint64_t registers = blocks / perRegister / chains * chains;
    if (registers) {
        alignas(64) uint64_t first[4][8], lower[8], top[8], products[16];
        XtsStep step;
        step.low = step.notLow = 0;
        for (uint32_t c = 0; c < chains; ++c)
            for (uint32_t q = 0; q < 8; ++q) {
                if (q % bw == 0) {
                    // The first four tweaks one by one, as the modes step them.
                    const uint64_t carry = t[bw - 1] >> 63;
                    for (uint32_t w = bw - 1; w >= 1; --w) t[w] = (t[w] << 1) | (t[w - 1] >> 63);
                    t[0] = (t[0] << 1) ^ (carry ? constant : 0);
                }
                first[c][q] = t[q % bw];
            }
        for (uint32_t q = 0; q < 8; ++q) {
            if (q % bw == 0)
                step.low = static_cast<__mmask8>(step.low | 1u << q);
            else
                step.notLow = static_cast<__mmask8>(step.notLow | 1u << q);
            lower[q] = q % bw ? q - 1 : 0;
            top[q] = q + bw - 1 < 8 ? q + bw - 1 : 0;
        }
        for (uint64_t v = 0; v < 16; ++v) {
            uint64_t p = 0;
            for (int bit = 0; bit < 4; ++bit)
                if ((v >> bit) & 1) p ^= constant << bit;
            products[v] = p;
        }
        step.lowerIndex = _mm512_load_si512(lower);
        step.topIndex = _mm512_load_si512(top);
        step.table0 = _mm512_load_si512(products);
        step.table1 = _mm512_load_si512(products + 8);
        __m512i r[4];
        for (uint32_t c = 0; c < chains; ++c) r[c] = _mm512_load_si512(first[c]);
        for (uint64_t i = 0;; i += chains) {
            for (uint32_t c = 0; c < chains; ++c) {
                _mm512_storeu_si512(mask + 8 * (i + c), r[c]);
                _mm512_storeu_si512(data + 64 * (i + c),
                                    _mm512_xor_si512(_mm512_loadu_si512(data + 64 * (i + c)), r[c]));
            }
            if (i + chains == registers) break;
            for (uint32_t c = 0; c < chains; ++c) r[c] = TimesX4(step, r[c]);
        }
        _mm512_store_si512(first[0], r[chains - 1]);
        for (uint32_t w = 0; w < bw; ++w) t[w] = first[0][8 - bw + w];
        SecureWipe(first, sizeof first);
        ClearVectorRegisters();
    }
    // What is left of four tweaks' worth, one by one.
    for (uint64_t b = registers * perRegister; b < blocks; ++b) {
        const uint64_t carry = t[bw - 1] >> 63;
        for (uint32_t w = bw - 1; w >= 1; --w) t[w] = (t[w] << 1) | (t[w - 1] >> 63);
        t[0] = (t[0] << 1) ^ (carry ? constant : 0);
        for (uint32_t w = 0; w < bw; ++w) {
            mask[b * bw + w] = t[w];
            uint64_t d;
            std::memcpy(&d, data + 8 * (b * bw + w), 8);
            d ^= t[w];
            std::memcpy(data + 8 * (b * bw + w), &d, 8);
        }
    }
}

QVK_VECTOR_TARGET void DSTU7624BulkXor(uint8_t* data, const uint64_t* mask, uint64_t words)
{
    uint64_t w = 0;
    for (; w + 8 <= words; w += 8)
        _mm512_storeu_si512(data + 8 * w,
                            _mm512_xor_si512(_mm512_loadu_si512(data + 8 * w), _mm512_loadu_si512(mask + w)));
    if (w < words) {
        const __mmask8 m = static_cast<__mmask8>((1u << (words - w)) - 1);
        _mm512_mask_storeu_epi64(
            data + 8 * w, m,
            _mm512_xor_si512(_mm512_maskz_loadu_epi64(m, data + 8 * w), _mm512_maskz_loadu_epi64(m, mask + w)));
    }
    ClearVectorRegisters();
}

}  // namespace qvkcrypto
