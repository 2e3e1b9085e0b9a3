// GOST 34.311-95 steps with AVX-512 (256-bit registers for key generation,
// psi mixing and the checksum). The four GOST 28147 encryptions of a step run
// side by side in one vector register with nibble permutes on long runs, and
// as four interleaved chains of table loads in general registers on short
// ones (a login's hashings), which do not pay for making the permute tables.
#include "crypto/GOST34311Vector.h"

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"  // GCC 12 on its own intrinsic wrappers
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

#include <immintrin.h>

#include <array>
#include <bit>
#include <cstring>

#include "crypto/CpuFeatures.h"
#include "crypto/GOST28147Core.h"
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

// The same maps by diagonals: lane i all ones where input word (i + d)
// mod 16 enters output word i.
struct PsiDiagonals {
    alignas(32) uint16_t diagonal[48][16];
    constexpr PsiDiagonals() : diagonal{}
    {
        constexpr std::array<uint16_t, 16> rows[3] = {PsiRows(61), PsiRows(62), PsiRows(74)};
        for (int a = 0; a < 3; ++a)
            for (int d = 0; d < 16; ++d)
                for (int i = 0; i < 16; ++i) diagonal[16 * a + d][i] = (rows[a][i] >> ((i + d) % 16)) & 1 ? 0xFFFF : 0;
    }
};

constexpr PsiDiagonals kDiagonals{};

#define diagonal(d) _mm256_load_si256(reinterpret_cast<const __m256i*>(kDiagonals.diagonal[16 * a + (d)]))

// psi^n (n = 61, 62, 74 for a = 0, 1, 2) of sixteen 16-bit words, from
// registers: the xor over d of the input rotated by d words and masked by
// diagonal d; one word permute, the other rotations by dword alignment.
QVK_VECTOR_INLINE __m256i PsiPower(__m256i x, int a)
{
    const __m256i x1 =
        _mm256_permutexvar_epi16(_mm256_setr_epi16(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 0), x);
    __m256i acc[8];
// Statement macros without semicolons: kept as written.
// clang-format off
#define QVK_PSI_PAIR(e)                                                                                                \
    acc[e] = _mm256_ternarylogic_epi64(_mm256_and_si256(_mm256_alignr_epi32(x, x, e), diagonal(2 * e)),                \
                                       _mm256_alignr_epi32(x1, x1, e), diagonal(2 * e + 1), 0x78);
    acc[0] = _mm256_ternarylogic_epi64(_mm256_and_si256(x, diagonal(0)), x1, diagonal(1), 0x78);
    QVK_PSI_PAIR(1)
    QVK_PSI_PAIR(2) QVK_PSI_PAIR(3) QVK_PSI_PAIR(4) QVK_PSI_PAIR(5) QVK_PSI_PAIR(6) QVK_PSI_PAIR(7)
#undef QVK_PSI_PAIR
        // clang-format on
        const __m256i s0 = _mm256_ternarylogic_epi64(acc[0], acc[1], acc[2], 0x96);
    const __m256i s1 = _mm256_ternarylogic_epi64(acc[3], acc[4], acc[5], 0x96);
    return _mm256_ternarylogic_epi64(s0, s1, _mm256_xor_si256(acc[6], acc[7]), 0x96);
}

#undef diagonal

// P: byte i + 4k of a key is byte 8i + k of W.
struct KeyIndex {
    alignas(32) uint8_t index[32];
    constexpr KeyIndex() : index{}
    {
        for (int k = 0; k < 8; ++k)
            for (int i = 0; i < 4; ++i) index[4 * k + i] = static_cast<uint8_t>(8 * i + k);
    }
};

constexpr KeyIndex kKeyIndex{};

// One step of the four encryptions of a hash step: q ^= f(p + K_i) for each.
// Written out for the processor: byte indexes taken as the low and high
// bytes of four registers that have them (no shifts for bytes 1 and 3), one
// index register renamed for all lookups, the keys read from memory; the
// compiler's own code moved key words through vector registers and
// zero-extended indexes twice.
#define QVK_GOST_CHAIN(n)                                                                                              \
    "mov %[P" #n "], %k[X" #n "]\n\t"                                                                                  \
    "add %[K" #n "], %k[X" #n "]\n\t"                                                                                  \
    "movzbl %b[X" #n "], %k[i]\n\t"                                                                                    \
    "xor (%[t],%q[i],4), %[Q" #n "]\n\t"                                                                               \
    "movzbl %h[X" #n "], %k[i]\n\t"                                                                                    \
    "xor 0x400(%[t],%q[i],4), %[Q" #n "]\n\t"                                                                          \
    "shr $16, %k[X" #n "]\n\t"                                                                                         \
    "movzbl %b[X" #n "], %k[i]\n\t"                                                                                    \
    "xor 0x800(%[t],%q[i],4), %[Q" #n "]\n\t"                                                                          \
    "movzbl %h[X" #n "], %k[i]\n\t"                                                                                    \
    "xor 0xc00(%[t],%q[i],4), %[Q" #n "]\n\t"

// Two chains per statement, so that the compiler needs few free registers
// around it (sanitizer and unoptimised builds included).
#define QVK_GOST_PAIR(p, q, r, m, n, xm, xn)                                                                           \
    {                                                                                                                  \
        uint32_t x##m, x##n, index;                                                                                    \
        __asm__(QVK_GOST_CHAIN(m) QVK_GOST_CHAIN(n)                                                                    \
                : [Q##m] "+r"(q##m), [Q##n] "+r"(q##n), [X##m] "=&" xm(x##m), [X##n] "=&" xn(x##n), [i] "=&D"(index)   \
                : [P##m] "r"(p##m), [P##n] "r"(p##n), [t] "r"(t), [K##m] "m"(k##m[r]), [K##n] "m"(k##n[r]));           \
    }

#define QVK_GOST_STEP4(p, q, r) QVK_GOST_PAIR(p, q, r, 0, 1, "a", "b") QVK_GOST_PAIR(p, q, r, 2, 3, "c", "d")

// The four encryptions side by side in one vector register (dword j is
// chain j), each S-box nibble looked up with one byte permute over a
// 64-entry table (byte position x 16 + nibble): the low nibbles' outputs,
// and the high nibbles' already in the high half of their byte. A step is
// then an addition, two index forms, two permutes, two rotations and a
// three-way xor, shorter than a step of table loads.
struct alignas(64) NibbleTables {
    uint8_t low[64];
    uint8_t high[64];
};

// The expanded tables give entry v of table k as the S-box byte of v (low
// nibble from one S-box, high from the next) rotated by 11 + 8k; false where
// they are not of that form.
bool MakeNibbleTables(const uint32_t (*t)[256], NibbleTables& n)
{
    for (unsigned k = 0; k < 4; ++k)
        for (unsigned v = 0; v < 16; ++v) {
            n.low[16 * k + v] = static_cast<uint8_t>(std::rotr(t[k][v], 11 + 8 * k) & 0x0F);
            n.high[16 * k + v] = static_cast<uint8_t>(std::rotr(t[k][16 * v], 11 + 8 * k) & 0xF0);
        }
    for (unsigned k = 0; k < 4; ++k)
        for (unsigned v = 0; v < 256; ++v)
            if (std::rotr(t[k][v], 11 + 8 * k) != uint32_t(n.low[16 * k + v % 16] | n.high[16 * k + v / 16]))
                return false;
    return true;
}

// Making and checking them takes about a microsecond: short runs (a login's
// hashings) keep the table loads.
constexpr size_t kNibbleBlocks = 64;

// Round key r of the four encryptions (dword j: word r of key j) from the
// four W values (two to a register): P's byte order and the transpose.
struct KeyColumns {
    alignas(64) uint8_t index[8][64];
    constexpr KeyColumns() : index{}
    {
        for (int r = 0; r < 8; ++r)
            for (int j = 0; j < 4; ++j)
                for (int i = 0; i < 4; ++i)
                    index[r][4 * j + i] = static_cast<uint8_t>(64 * (j / 2) + 32 * (j % 2) + 8 * i + r);
    }
};

constexpr KeyColumns kKeyColumns{};

#define QVK_GOST_VECTOR_STEP(p, q, r)                                                                                  \
    {                                                                                                                  \
        const __m512i x = _mm512_add_epi32(p, roundKey[r]);                                                            \
        const __m512i lowIndex = _mm512_ternarylogic_epi32(x, nibble, position, 0xEA);                                 \
        const __m512i highIndex = _mm512_ternarylogic_epi32(_mm512_srli_epi32(x, 4), nibble, position, 0xEA);          \
        const __m512i lo = _mm512_permutexvar_epi8(lowIndex, lowTable);                                                \
        const __m512i hi = _mm512_permutexvar_epi8(highIndex, highTable);                                              \
        q = _mm512_ternarylogic_epi32(q, _mm512_rol_epi32(lo, 11), _mm512_rol_epi32(hi, 11), 0x96);                    \
    }

// The step loop; with nibbles, its encryptions run in a vector register
// (NibbleTables), else as four chains of table loads in general registers.
QVK_VECTOR_TARGET __attribute__((noinline)) void Steps(GOST34311Context* context, uint8_t* H, const uint8_t* blocks,
                                                       size_t count, uint8_t* checksum, const NibbleTables* nibbles)
{
    const __m256i c3 = _mm256_setr_epi64x(static_cast<long long>(0xFF00FF00FF00FF00ull), 0x00FF00FF00FF00FFll,
                                          static_cast<long long>(0xFF0000FF00FFFF00ull),
                                          static_cast<long long>(0xFF00FFFF000000FFull));
    const __m256i ac3 = PowerA<1>(c3);
    const __m256i p = _mm256_load_si256(reinterpret_cast<const __m256i*>(kKeyIndex.index));
    alignas(32) uint32_t keys[4][8];

    unsigned long long sum[4];  // the type _addcarry_u64 writes
    if (checksum) std::memcpy(sum, checksum, sizeof sum);
    __m256i h = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(H));
    __m256i u = h, v = h, w = h, s = h;
    [[maybe_unused]] const __m512i nibble = _mm512_set1_epi32(0x0F0F0F0F), position = _mm512_set1_epi32(0x30201000);
    [[maybe_unused]] const __m512i lowTable = nibbles ? _mm512_load_si512(nibbles->low) : nibble;
    [[maybe_unused]] const __m512i highTable = nibbles ? _mm512_load_si512(nibbles->high) : nibble;
    for (size_t block = 0; block < count; ++block, blocks += 32) {
        const __m256i m = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(blocks));
        if (checksum) {
            unsigned long long b[4];
            std::memcpy(b, blocks, sizeof b);
            unsigned char carry = 0;
            for (int i = 0; i < 4; ++i) carry = _addcarry_u64(carry, sum[i], b[i], &sum[i]);
        }
        // Keys: W_j = A^j(H) (C3 added at the third) xor A^2j(M).
        const __m256i v1 = PowerA<2>(m), v2 = PowerA<2>(v1);
        v = PowerA<2>(v2);
        u = _mm256_xor_si256(PowerA<3>(h), ac3);
        const __m256i w0 = _mm256_xor_si256(h, m);
        const __m256i w1 = _mm256_xor_si256(PowerA<1>(h), v1);
        const __m256i w2 = _mm256_ternarylogic_epi64(PowerA<2>(h), c3, v2, 0x96);
        w = _mm256_xor_si256(u, v);
        // The part of the new H that does not wait for the encryption.
        const __m256i early = _mm256_xor_si256(PsiPower(h, 0), PsiPower(m, 1));

        if (nibbles) {
            const __m512i w01 = _mm512_inserti64x4(_mm512_zextsi256_si512(w0), w1, 1);
            const __m512i w23 = _mm512_inserti64x4(_mm512_zextsi256_si512(w2), w, 1);
            __m512i roundKey[8];
            for (int r = 0; r < 8; ++r)
                roundKey[r] = _mm512_permutex2var_epi8(w01, _mm512_load_si512(kKeyColumns.index[r]), w23);
            // Encryption j: N1 = word 2j of H, N2 = word 2j + 1.
            const __m512i h512 = _mm512_zextsi256_si512(h);
            __m512i a =
                _mm512_permutexvar_epi32(_mm512_setr_epi32(0, 2, 4, 6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0), h512);
            __m512i b =
                _mm512_permutexvar_epi32(_mm512_setr_epi32(1, 3, 5, 7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0), h512);
            GOST_ENCRYPT_STEPS(QVK_GOST_VECTOR_STEP)
            // N1 ends in b, N2 in a.
            s = _mm512_castsi512_si256(
                _mm512_permutex2var_epi32(b, _mm512_setr_epi32(0, 16, 1, 17, 2, 18, 3, 19, 0, 0, 0, 0, 0, 0, 0, 0), a));
        } else {
            _mm256_store_si256(reinterpret_cast<__m256i*>(keys[0]), _mm256_permutexvar_epi8(p, w0));
            _mm256_store_si256(reinterpret_cast<__m256i*>(keys[1]), _mm256_permutexvar_epi8(p, w1));
            _mm256_store_si256(reinterpret_cast<__m256i*>(keys[2]), _mm256_permutexvar_epi8(p, w2));
            _mm256_store_si256(reinterpret_cast<__m256i*>(keys[3]), _mm256_permutexvar_epi8(p, w));

            // Encryption j: N1 = word 2j of H, N2 = word 2j + 1, under key j.
            // The words stay in general registers between the 32 rounds and
            // go between vector and general registers directly, never
            // through memory: a load of what narrower stores just wrote waits for
            // them to retire.
            const __m128i hl = _mm256_castsi256_si128(h), hh = _mm256_extracti128_si256(h, 1);
            const uint64_t q0 = static_cast<uint64_t>(_mm_cvtsi128_si64(hl));
            const uint64_t q1 = static_cast<uint64_t>(_mm_extract_epi64(hl, 1));
            const uint64_t q2 = static_cast<uint64_t>(_mm_cvtsi128_si64(hh));
            const uint64_t q3 = static_cast<uint64_t>(_mm_extract_epi64(hh, 1));
            {
                using namespace gost28147core;
                const uint32_t *k0 = keys[0], *k1 = keys[1], *k2 = keys[2], *k3 = keys[3];
                const Tables t = context->expandedSBox.tables;
                uint32_t a0 = static_cast<uint32_t>(q0), b0 = static_cast<uint32_t>(q0 >> 32);
                uint32_t a1 = static_cast<uint32_t>(q1), b1 = static_cast<uint32_t>(q1 >> 32);
                uint32_t a2 = static_cast<uint32_t>(q2), b2 = static_cast<uint32_t>(q2 >> 32);
                uint32_t a3 = static_cast<uint32_t>(q3), b3 = static_cast<uint32_t>(q3 >> 32);
                GOST_ENCRYPT_STEPS(QVK_GOST_STEP4)
                // N1 ends in b, N2 in a.
                const __m128i lo = _mm_insert_epi64(_mm_cvtsi64_si128(static_cast<long long>(b0 | uint64_t(a0) << 32)),
                                                    static_cast<long long>(b1 | uint64_t(a1) << 32), 1);
                const __m128i hi = _mm_insert_epi64(_mm_cvtsi64_si128(static_cast<long long>(b2 | uint64_t(a2) << 32)),
                                                    static_cast<long long>(b3 | uint64_t(a3) << 32), 1);
                s = _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
            }
        }
        h = _mm256_xor_si256(early, PsiPower(s, 2));
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(H), h);
    if (count) {
        // The work area as the portable steps leave it.
        if (nibbles) _mm256_store_si256(reinterpret_cast<__m256i*>(keys[3]), _mm256_permutexvar_epi8(p, w));
        std::memcpy(context->stepKeys, keys[3], sizeof context->stepKeys);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(context->U), u);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(context->V), v);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(context->W), w);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(context->S), s);
    }
    if (checksum) {
        std::memcpy(checksum, sum, sizeof sum);
        SecureWipe(sum, sizeof sum);
    }
    SecureWipe(keys, sizeof keys);
}

}  // namespace

QVK_VECTOR_TARGET void GOST34311StepsVector(GOST34311Context* context, uint8_t* H, const uint8_t* blocks, size_t count,
                                            uint8_t* checksum)
{
    NibbleTables nibbles;
    const bool vectorSteps = count >= kNibbleBlocks && MakeNibbleTables(context->expandedSBox.tables, nibbles);
    Steps(context, H, blocks, count, checksum, vectorSteps ? &nibbles : nullptr);
    SecureWipe(&nibbles, sizeof nibbles);
}

}  // namespace qvkcrypto
