// GOST 34.311-95 step parts with AVX-512 (256-bit registers).
#include "crypto/GOST34311Vector.h"

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"  // GCC 12 on its own intrinsic wrappers
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

#include <immintrin.h>

#include <array>

#include "crypto/CpuFeatures.h"

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

// A: shift by one 64-bit word towards the low end; the new top word is y1 xor y2.
QVK_VECTOR_INLINE __m256i TransformA(__m256i y)
{
    const __m256i t = _mm256_permutexvar_epi64(_mm256_setr_epi64x(1, 2, 3, 0), y);
    return _mm256_mask_xor_epi64(t, 0x8, t, _mm256_permutexvar_epi64(_mm256_set1_epi64x(1), y));
}

}  // namespace

QVK_VECTOR_TARGET void GOST34311KeysVector(const uint8_t* H, const uint8_t* M, uint32_t (*keys)[8], uint8_t* U,
                                           uint8_t* V, uint8_t* W)
{
    // P: key byte i + 4k is W byte 8i + k.
    alignas(32) uint8_t index[32];
    for (int k = 0; k < 8; ++k)
        for (int i = 0; i < 4; ++i) index[4 * k + i] = static_cast<uint8_t>(8 * i + k);
    const __m256i p = _mm256_load_si256(reinterpret_cast<const __m256i*>(index));
    const __m256i c3 = _mm256_setr_epi64x(static_cast<long long>(0xFF00FF00FF00FF00ull), 0x00FF00FF00FF00FFll,
                                          static_cast<long long>(0xFF0000FF00FFFF00ull),
                                          static_cast<long long>(0xFF00FFFF000000FFull));
    __m256i u = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(H));
    __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(M));
    __m256i w = _mm256_xor_si256(u, v);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(keys[0]), _mm256_permutexvar_epi8(p, w));
    for (int j = 1; j < 4; ++j) {
        u = TransformA(u);
        if (j == 2) u = _mm256_xor_si256(u, c3);
        v = TransformA(TransformA(v));
        w = _mm256_xor_si256(u, v);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(keys[j]), _mm256_permutexvar_epi8(p, w));
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(U), u);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(V), v);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(W), w);
    ClearVectorRegisters();
}

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

}  // namespace qvkcrypto
