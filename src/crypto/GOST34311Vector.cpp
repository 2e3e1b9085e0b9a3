// GOST 34.311-95 step parts with AVX-512 (256-bit registers).
#include "crypto/GOST34311Vector.h"

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"  // GCC 12 on its own intrinsic wrappers
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

#include <immintrin.h>

#include <array>
#include <cstring>

#include "crypto/CpuFeatures.h"
#include "crypto/SecureWipe.h"

namespace qvkcrypto {

namespace {

// psi^n as a matrix over the sixteen 16-bit words: bit j of row i says
// whether input word j enters output word i (psi only XORs whole words).
constexpr std::array<uint16_t, 16> PsiRows(int n)
{
    std::array<uint16_t, 16 + 80> m{};
    for (int i = 0; i < 16; ++i) m[i] = static_cast<uint16_t>(1u << i);
    for (int k = 0; k < n; ++k) m[16 + k] = m[k] ^ m[k + 1] ^ m[k + 2] ^ m[k + 3] ^ m[k + 12] ^ m[k + 15];
    std::array<uint16_t, 16> rows{};
    for (int i = 0; i < 16; ++i) rows[i] = m[n + i];
    return rows;
}

// Column j of the matrices for H (psi^61), M (psi^62) and S (psi^74): lane i
// all ones where input word j enters output word i.
struct PsiColumns {
    alignas(32) uint16_t column[48][16];
    constexpr PsiColumns() : column{}
    {
        constexpr std::array<uint16_t, 16> rows[3] = {PsiRows(61), PsiRows(62), PsiRows(74)};
        for (int a = 0; a < 3; ++a)
            for (int j = 0; j < 16; ++j)
                for (int i = 0; i < 16; ++i) column[16 * a + j][i] = (rows[a][i] >> j) & 1 ? 0xFFFF : 0;
    }
};

constexpr PsiColumns kPsi{};

inline uint16_t Word(const uint8_t* p, int j)
{
    return static_cast<uint16_t>(p[2 * j] | p[2 * j + 1] << 8);
}

}  // namespace

QVK_VECTOR_TARGET void GOST34311MixPsiVector(uint8_t* H, const uint8_t* M, const uint8_t* S)
{
    __m256i acc[4] = {_mm256_setzero_si256(), _mm256_setzero_si256(), _mm256_setzero_si256(), _mm256_setzero_si256()};
    const uint8_t* inputs[3] = {H, M, S};
    for (int a = 0; a < 3; ++a)
        for (int j = 0; j < 16; ++j) {
            const __m256i column = _mm256_load_si256(reinterpret_cast<const __m256i*>(kPsi.column[16 * a + j]));
            const __m256i word = _mm256_set1_epi16(static_cast<short>(Word(inputs[a], j)));
            acc[j & 3] = _mm256_ternarylogic_epi64(acc[j & 3], word, column, 0x78);  // acc ^ (word & column)
        }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(H),
                        _mm256_ternarylogic_epi64(acc[0], acc[1], _mm256_xor_si256(acc[2], acc[3]), 0x96));
    ClearVectorRegisters();  // the chaining value of a password hash
}

namespace {

// A^n for n = 1..3 as two word permutes and a masked xor: output word i is
// input word (i + n) mod 4, xored with word i + n - 3 where i + n >= 4.
template <int N>
QVK_VECTOR_INLINE __m256i PowerA(__m256i y)
{
    constexpr int first = ((0 + N) & 3) | ((1 + N) & 3) << 2 | ((2 + N) & 3) << 4 | ((3 + N) & 3) << 6;
    constexpr int second = ((0 + N + 1) & 3) | ((1 + N + 1) & 3) << 2 | ((2 + N + 1) & 3) << 4 | ((3 + N + 1) & 3) << 6;
    const __m256i t = _mm256_permute4x64_epi64(y, first);
    // word i + n - 3 = (i + n + 1) mod 4 wherever i + n >= 4
    return _mm256_mask_xor_epi64(t, static_cast<__mmask8>((0xF << (4 - N)) & 0xF), t,
                                 _mm256_permute4x64_epi64(y, second));
}

// psi^n (n = 61, 62, 74) of sixteen 16-bit words, from registers: word j of
// the input broadcast and masked by column j, eight partial sums.
QVK_VECTOR_INLINE __m256i PsiPower(__m256i x, int a)
{
    __m256i acc[8];
    for (int j = 0; j < 16; ++j) {
        const __m256i column = _mm256_load_si256(reinterpret_cast<const __m256i*>(kPsi.column[16 * a + j]));
        const __m256i word = _mm256_permutexvar_epi16(_mm256_set1_epi16(static_cast<short>(j)), x);
        acc[j & 7] = j < 8 ? _mm256_and_si256(word, column) : _mm256_ternarylogic_epi64(acc[j & 7], word, column, 0x78);
    }
    const __m256i s0 = _mm256_ternarylogic_epi64(acc[0], acc[1], acc[2], 0x96);
    const __m256i s1 = _mm256_ternarylogic_epi64(acc[3], acc[4], acc[5], 0x96);
    return _mm256_ternarylogic_epi64(s0, s1, _mm256_xor_si256(acc[6], acc[7]), 0x96);
}

// Byte k of a word (k = 0..3) looks its low nibble up at 16k + nibble in
// tableLow (result in the low nibble, high nibble zero) and its high nibble
// at 16k + nibble in tableHigh (result in the high nibble).
struct StepConstants {
    __m512i tableLow, tableHigh;
    __m128i base, low;
};

// b ^= f(a + k) for the four encryptions of a step, one per 32-bit lane.
QVK_VECTOR_INLINE __m128i Round(const StepConstants& c, __m128i a, __m128i b, __m128i k)
{
    const __m128i x = _mm_add_epi32(a, k);
    const __m128i lowIndex = _mm_ternarylogic_epi32(x, c.low, c.base, 0xEA);  // (x & 0F) | base
    const __m128i highIndex = _mm_ternarylogic_epi32(_mm_srli_epi32(x, 4), c.low, c.base, 0xEA);
    const __m128i l = _mm512_castsi512_si128(_mm512_permutexvar_epi8(_mm512_castsi128_si512(lowIndex), c.tableLow));
    const __m128i h = _mm512_castsi512_si128(_mm512_permutexvar_epi8(_mm512_castsi128_si512(highIndex), c.tableHigh));
    return _mm_ternarylogic_epi32(_mm_rol_epi32(l, 11), _mm_rol_epi32(h, 11), b, 0x56);  // (l | h) ^ b
}

// Round-key index of each of the 32 rounds of the encryption cycle.
constexpr int kOrder[32] = {0, 1, 2, 3, 4, 5, 6, 7, 0, 1, 2, 3, 4, 5, 6, 7,
                            0, 1, 2, 3, 4, 5, 6, 7, 7, 6, 5, 4, 3, 2, 1, 0};

// Transposed P: byte 4j + i of round key k is byte 8i + k of W_j, with
// W_0 W_1 in the first 64-byte table and W_2 W_3 in the second.
struct RoundKeyIndex {
    alignas(64) uint8_t index[8][64];
    constexpr RoundKeyIndex() : index{}
    {
        for (int k = 0; k < 8; ++k)
            for (int j = 0; j < 4; ++j)
                for (int i = 0; i < 4; ++i) index[k][4 * j + i] = static_cast<uint8_t>(32 * j + 8 * i + k);
    }
};

constexpr RoundKeyIndex kRoundKeyIndex{};

}  // namespace

QVK_VECTOR_TARGET void GOST34311StepsVector(GOST34311Context* context, uint8_t* H, const uint8_t* blocks, size_t count,
                                            uint8_t* checksum)
{
    StepConstants c;
    {
        alignas(64) uint8_t low[64], high[64];
        for (int k = 0; k < 4; ++k)
            for (int v = 0; v < 16; ++v) {
                // tables[k][x]: byte x substituted, moved to byte k and rotated left by 11
                const auto byteOf = [&](unsigned x) {
                    const uint32_t w = context->expandedSBox.tables[k][x];
                    return static_cast<uint8_t>(((w >> 11) | (w << 21)) >> (8 * k));
                };
                low[16 * k + v] = static_cast<uint8_t>(byteOf(v) & 0x0F);
                high[16 * k + v] = static_cast<uint8_t>(byteOf(v << 4) & 0xF0);
            }
        c.tableLow = _mm512_load_si512(low);
        c.tableHigh = _mm512_load_si512(high);
    }
    c.base = _mm_set1_epi32(0x30201000);
    c.low = _mm_set1_epi8(0x0F);
    const __m256i c3 = _mm256_setr_epi64x(static_cast<long long>(0xFF00FF00FF00FF00ull), 0x00FF00FF00FF00FFll,
                                          static_cast<long long>(0xFF0000FF00FFFF00ull),
                                          static_cast<long long>(0xFF00FFFF000000FFull));
    const __m256i ac3 = PowerA<1>(c3);
    const __m256i evenWords = _mm256_setr_epi32(0, 2, 4, 6, 0, 0, 0, 0);
    const __m256i oddWords = _mm256_setr_epi32(1, 3, 5, 7, 0, 0, 0, 0);

    uint64_t sum[4];
    if (checksum) std::memcpy(sum, checksum, sizeof sum);
    __m256i h = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(H));
    __m256i u = h, v = h, w = h, s = h;
    for (size_t n = 0; n < count; ++n, blocks += 32) {
        const __m256i m = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(blocks));
        if (checksum) {
            uint64_t b[4];
            std::memcpy(b, blocks, sizeof b);
            unsigned char carry = 0;
            for (int i = 0; i < 4; ++i)
                carry = _addcarry_u64(carry, sum[i], b[i], reinterpret_cast<unsigned long long*>(&sum[i]));
        }
        // Keys: W_j = A^j(H) (C3 added at the third) xor A^2j(M).
        const __m256i v1 = PowerA<2>(m), v2 = PowerA<2>(v1);
        v = PowerA<2>(v2);
        u = _mm256_xor_si256(PowerA<3>(h), ac3);
        const __m256i w0 = _mm256_xor_si256(h, m);
        const __m256i w1 = _mm256_xor_si256(PowerA<1>(h), v1);
        const __m256i w2 = _mm256_ternarylogic_epi64(PowerA<2>(h), c3, v2, 0x96);
        w = _mm256_xor_si256(u, v);
        const __m512i w01 = _mm512_inserti64x4(_mm512_castsi256_si512(w0), w1, 1);
        const __m512i w23 = _mm512_inserti64x4(_mm512_castsi256_si512(w2), w, 1);
        __m128i key[8];
        for (int k = 0; k < 8; ++k)
            key[k] = _mm512_castsi512_si128(_mm512_permutex2var_epi8(
                w01, _mm512_load_si512(reinterpret_cast<const __m512i*>(kRoundKeyIndex.index[k])), w23));

        // The part of the new H that does not wait for the encryption.
        const __m256i early = _mm256_xor_si256(PsiPower(h, 0), PsiPower(m, 1));

        // Encryption j: N1 = word 2j of H, N2 = word 2j + 1, under key j.
        __m128i a = _mm256_castsi256_si128(_mm256_permutexvar_epi32(evenWords, h));
        __m128i b = _mm256_castsi256_si128(_mm256_permutexvar_epi32(oddWords, h));
        for (int r = 0; r < 32; r += 2) {
            b = Round(c, a, b, key[kOrder[r]]);
            a = Round(c, b, a, key[kOrder[r + 1]]);
        }
        // The halves alternated roles: N1 ends in b.
        s = _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_unpacklo_epi32(b, a)), _mm_unpackhi_epi32(b, a), 1);
        h = _mm256_xor_si256(early, PsiPower(s, 2));
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(H), h);
    if (count) {
        // The work area as the portable steps leave it.
        alignas(32) uint8_t p[32];
        for (int k = 0; k < 8; ++k)
            for (int i = 0; i < 4; ++i) p[4 * k + i] = static_cast<uint8_t>(8 * i + k);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(context->stepKeys),
                            _mm256_permutexvar_epi8(_mm256_load_si256(reinterpret_cast<const __m256i*>(p)), w));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(context->U), u);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(context->V), v);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(context->W), w);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(context->S), s);
    }
    if (checksum) {
        std::memcpy(checksum, sum, sizeof sum);
        SecureWipe(sum, sizeof sum);
    }
    SecureWipe(&c, sizeof c);
}

}  // namespace qvkcrypto
