// DSTU 7564 compression with AVX-512 VBMI and GFNI. The state keeps its
// memory order (byte 8c + r is row r of column c), so the additive constants
// of Q stay 64-bit additions. Per round and register: the row S-boxes as
// four 256-entry lookups merged by row, the row shift as one byte permute
// (two for 16 columns), and the column mixing as byte rotations of each
// 64-bit column multiplied by 1, 2, 4 or 8 (GF(2^8) affine maps).
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

struct alignas(64) Prepared {
    __m512i sBoxes[16];  // pi_s in registers 4s..4s+3
    __m512i shift[2];    // row shift: output register k from the state's registers
    __m512i xorBase[2];  // P: (column << 4) in row 0
    __m512i addBase[2];  // Q: 0x00F0F0F0F0F0F0F3 + ((columns - 1 - column) << 60)
};

QVK_VECTOR_INLINE __m512i SBoxes(const Prepared& p, __m512i x)
{
    constexpr __mmask64 kOddRow = 0xAAAAAAAAAAAAAAAAull;   // rows 1, 3, 5, 7
    constexpr __mmask64 kRowBit1 = 0xCCCCCCCCCCCCCCCCull;  // rows 2, 3, 6, 7
    const __m512i* t = p.sBoxes;
    const __m512i l0 = _mm512_permutex2var_epi8(t[0], x, t[1]), h0 = _mm512_permutex2var_epi8(t[2], x, t[3]);
    const __m512i l1 = _mm512_permutex2var_epi8(t[4], x, t[5]), h1 = _mm512_permutex2var_epi8(t[6], x, t[7]);
    const __m512i l2 = _mm512_permutex2var_epi8(t[8], x, t[9]), h2 = _mm512_permutex2var_epi8(t[10], x, t[11]);
    const __m512i l3 = _mm512_permutex2var_epi8(t[12], x, t[13]), h3 = _mm512_permutex2var_epi8(t[14], x, t[15]);
    const __m512i l = _mm512_mask_blend_epi8(kRowBit1, _mm512_mask_blend_epi8(kOddRow, l0, l1),
                                             _mm512_mask_blend_epi8(kOddRow, l2, l3));
    const __m512i h = _mm512_mask_blend_epi8(kRowBit1, _mm512_mask_blend_epi8(kOddRow, h0, h1),
                                             _mm512_mask_blend_epi8(kOddRow, h2, h3));
    return _mm512_mask_blend_epi8(_mm512_movepi8_mask(x), l, h);
}

// out row r = sum over d of kMix[d] * row r + d: A + 2B + 4C + 8D.
QVK_VECTOR_INLINE __m512i Mix(__m512i x)
{
    const __m512i t1 = _mm512_ror_epi64(x, 8), t2 = _mm512_ror_epi64(x, 16), t3 = _mm512_ror_epi64(x, 24);
    const __m512i t4 = _mm512_ror_epi64(x, 32), t5 = _mm512_ror_epi64(x, 40), t6 = _mm512_ror_epi64(x, 48);
    const __m512i t7 = _mm512_ror_epi64(x, 56);
    const __m512i a = _mm512_ternarylogic_epi64(_mm512_ternarylogic_epi64(x, t1, t2, 0x96), t3, t6, 0x96);
    const __m512i b = _mm512_xor_si512(t5, t6);
    const __m512i c = _mm512_ternarylogic_epi64(_mm512_xor_si512(t2, t5), t6, t7, 0x96);
    const __m512i b2 = _mm512_gf2p8affine_epi64_epi8(b, _mm512_set1_epi64(static_cast<long long>(kTimes2)), 0);
    const __m512i c4 = _mm512_gf2p8affine_epi64_epi8(c, _mm512_set1_epi64(static_cast<long long>(kTimes4)), 0);
    const __m512i d8 = _mm512_gf2p8affine_epi64_epi8(t4, _mm512_set1_epi64(static_cast<long long>(kTimes8)), 0);
    return _mm512_ternarylogic_epi64(a, b2, _mm512_xor_si512(c4, d8), 0x96);
}

// One round of P and of Q, R registers each.
template <int R>
QVK_VECTOR_INLINE void Round(const Prepared& p, __m512i* P, __m512i* Q, int round)
{
    const __m512i xorRound = _mm512_set1_epi64(round);
    const __m512i addRound = _mm512_set1_epi64(static_cast<long long>(uint64_t(round) << 56));
    __m512i s[2 * R];
    for (int k = 0; k < R; ++k) {
        s[k] = SBoxes(p, _mm512_ternarylogic_epi64(P[k], p.xorBase[k], xorRound, 0x96));
        s[R + k] = SBoxes(p, _mm512_add_epi64(Q[k], _mm512_add_epi64(p.addBase[k], addRound)));
    }
    if constexpr (R == 1) {
        P[0] = Mix(_mm512_permutexvar_epi8(p.shift[0], s[0]));
        Q[0] = Mix(_mm512_permutexvar_epi8(p.shift[0], s[1]));
    } else {
        for (int k = 0; k < 2; ++k) {
            P[k] = Mix(_mm512_permutex2var_epi8(s[0], p.shift[k], s[1]));
            Q[k] = Mix(_mm512_permutex2var_epi8(s[2], p.shift[k], s[3]));
        }
    }
}

template <int R, int Rounds>
QVK_VECTOR_TARGET void Compress(const Prepared& p, const uint8_t* data, uint64_t blocks, uint8_t* state)
{
    __m512i h[R];
    for (int k = 0; k < R; ++k) h[k] = _mm512_loadu_si512(state + 64 * k);
    for (; blocks; --blocks, data += 64 * R) {
        __m512i P[R], Q[R];
        for (int k = 0; k < R; ++k) {
            Q[k] = _mm512_loadu_si512(data + 64 * k);
            P[k] = _mm512_xor_si512(h[k], Q[k]);
        }
        for (int round = 0; round < Rounds; ++round) Round<R>(p, P, Q, round);
        for (int k = 0; k < R; ++k) h[k] = _mm512_ternarylogic_epi64(h[k], P[k], Q[k], 0x96);
    }
    for (int k = 0; k < R; ++k) _mm512_storeu_si512(state + 64 * k, h[k]);
}

QVK_VECTOR_TARGET void Prepare(const uint8_t* sBoxes, uint32_t columns, Prepared& p)
{
    for (int i = 0; i < 16; ++i) p.sBoxes[i] = _mm512_loadu_si512(sBoxes + 64 * i);
    // Row r moves r columns towards higher numbers; with 16 columns row 7
    // moves 11.
    alignas(64) uint8_t idx[2][64];
    for (uint32_t c = 0; c < columns; ++c)
        for (uint32_t r = 0; r < 8; ++r) {
            const uint32_t s = (columns == 16 && r == 7) ? 11 : r;
            const uint32_t from = 8 * ((c + columns - s) % columns) + r;
            idx[c / 8][8 * (c % 8) + r] = static_cast<uint8_t>(from);
        }
    alignas(64) uint64_t xorBase[2][8], addBase[2][8];
    for (uint32_t c = 0; c < columns; ++c) {
        xorBase[c / 8][c % 8] = uint64_t(c) << 4;
        addBase[c / 8][c % 8] = 0x00F0F0F0F0F0F0F3ull + (uint64_t(columns - 1 - c) << 60);
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
    if (c->columns == 8)
        Compress<1, 10>(p, data, blocks, state);
    else
        Compress<2, 14>(p, data, blocks, state);
    ClearVectorRegisters();  // the chaining value (of a password, in a login)
    ScrubStack();
    return true;
}

}  // namespace qvkcrypto
