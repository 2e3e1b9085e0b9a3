// GOST 28147-89 on groups of 16 blocks with AVX-512 VBMI: one register holds
// N1 of 16 blocks, another N2. The eight 4-bit S-boxes are one 64-byte table,
// entry 16k + v holding S-box 2k of v in its low nibble and S-box 2k + 1 of v
// in its high nibble; byte k of a word looks up its low nibble at 16k + low
// and its high nibble at 16k + high, two byte permutes for all eight S-boxes.
// Several groups run side by side to hide the permutes' latency.
#include "crypto/GOST28147Bulk.h"

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"  // GCC 12 on its own intrinsic wrappers
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

#include <immintrin.h>

#include "crypto/CpuFeatures.h"
#include "crypto/SecureWipe.h"

namespace qvkcrypto {

namespace {

constexpr uint32_t kC1 = 0x01010104;  // added to N4 modulo 2^32 - 1
constexpr uint32_t kC2 = 0x01010101;  // added to N3 modulo 2^32
constexpr int kGroups = 12;

constexpr int kEncryptOrder[32] = {0, 1, 2, 3, 4, 5, 6, 7, 0, 1, 2, 3, 4, 5, 6, 7,
                                   0, 1, 2, 3, 4, 5, 6, 7, 7, 6, 5, 4, 3, 2, 1, 0};
constexpr int kDecryptOrder[32] = {0, 1, 2, 3, 4, 5, 6, 7, 7, 6, 5, 4, 3, 2, 1, 0,
                                   7, 6, 5, 4, 3, 2, 1, 0, 7, 6, 5, 4, 3, 2, 1, 0};

struct alignas(64) Prepared {
    __m512i key[8];  // K0..K7 in every lane
    __m512i table;   // the eight S-boxes, see above
    __m512i base;    // 16k in byte k of every word
    __m512i low;     // 0x0F in every byte
};

// The 4-bit S-boxes back from the expanded tables: tables[k][x] is byte x
// substituted, moved to byte k and rotated left by 11.
QVK_VECTOR_TARGET void Prepare(const uint32_t* key, const GOST28147ExpandedSBox* sBox, Prepared& p)
{
    alignas(64) uint8_t table[64];
    for (int k = 0; k < 4; ++k)
        for (int v = 0; v < 16; ++v) {
            const auto byteOf = [&](unsigned x) {
                const uint32_t w = sBox->tables[k][x];
                return static_cast<uint8_t>(((w >> 11) | (w << 21)) >> (8 * k));
            };
            table[16 * k + v] = static_cast<uint8_t>((byteOf(v) & 0x0F) | (byteOf(v << 4) & 0xF0));
        }
    p.table = _mm512_load_si512(table);
    for (int i = 0; i < 8; ++i) p.key[i] = _mm512_set1_epi32(static_cast<int>(key[i]));
    p.base = _mm512_set1_epi32(0x30201000);
    p.low = _mm512_set1_epi8(0x0F);
}

QVK_VECTOR_INLINE __m512i F(const Prepared& p, __m512i x)
{
    const __m512i lowIndex = _mm512_ternarylogic_epi32(x, p.low, p.base, 0xEA);  // (x & 0F) | base
    const __m512i highIndex = _mm512_ternarylogic_epi32(_mm512_srli_epi32(x, 4), p.low, p.base, 0xEA);
    const __m512i l = _mm512_permutexvar_epi8(lowIndex, p.table);
    const __m512i h = _mm512_permutexvar_epi8(highIndex, p.table);
    return _mm512_rol_epi32(_mm512_ternarylogic_epi32(l, h, p.low, 0xE4), 11);  // low nibbles of l, high of h
}

// 32 steps on G groups (a: N1, b: N2); the halves alternate roles instead of
// being exchanged, so the result is (b, a).
template <int G, bool Decrypt>
QVK_VECTOR_INLINE void Cycle(const Prepared& p, __m512i* a, __m512i* b)
{
    constexpr const int* order = Decrypt ? kDecryptOrder : kEncryptOrder;
    for (int s = 0; s < 32; s += 2) {
        const __m512i k0 = p.key[order[s]], k1 = p.key[order[s + 1]];
        for (int g = 0; g < G; ++g) b[g] = _mm512_xor_si512(b[g], F(p, _mm512_add_epi32(a[g], k0)));
        for (int g = 0; g < G; ++g) a[g] = _mm512_xor_si512(a[g], F(p, _mm512_add_epi32(b[g], k1)));
    }
}

QVK_VECTOR_INLINE __m512i Index(int first, int step, int secondHalf)
{
    alignas(64) int idx[16];
    for (int i = 0; i < 16; ++i) idx[i] = secondHalf < 0 ? first + step * i : (i % 2 ? 16 : 0) + first + i / 2;
    return _mm512_load_si512(idx);
}

template <int G, bool Decrypt>
QVK_VECTOR_INLINE void ECBGroups(const Prepared& p, uint8_t* data)
{
    const __m512i even = Index(0, 2, -1), odd = Index(1, 2, -1);
    const __m512i first = Index(0, 0, 0), second = Index(8, 0, 0);
    __m512i a[G], b[G];
    for (int g = 0; g < G; ++g) {
        const __m512i lo = _mm512_loadu_si512(data + 128 * g), hi = _mm512_loadu_si512(data + 128 * g + 64);
        a[g] = _mm512_permutex2var_epi32(lo, even, hi);
        b[g] = _mm512_permutex2var_epi32(lo, odd, hi);
    }
    Cycle<G, Decrypt>(p, a, b);
    for (int g = 0; g < G; ++g) {
        _mm512_storeu_si512(data + 128 * g, _mm512_permutex2var_epi32(b[g], first, a[g]));
        _mm512_storeu_si512(data + 128 * g + 64, _mm512_permutex2var_epi32(b[g], second, a[g]));
    }
}

template <bool Decrypt>
QVK_VECTOR_TARGET void ECB(const Prepared& p, uint8_t* data, uint32_t groups)
{
    for (; groups >= kGroups; groups -= kGroups, data += 128 * kGroups) ECBGroups<kGroups, Decrypt>(p, data);
    for (; groups >= 4; groups -= 4, data += 128 * 4) ECBGroups<4, Decrypt>(p, data);
    for (; groups; --groups, data += 128) ECBGroups<1, Decrypt>(p, data);
}

// N4 plus d modulo 2^32 - 1, kept in 1..2^32 - 1 like the single steps.
QVK_VECTOR_INLINE __m512i AddModulo(__m512i n4, __m512i d)
{
    const __m512i s = _mm512_add_epi32(n4, d);
    return _mm512_mask_add_epi32(s, _mm512_cmplt_epu32_mask(s, n4), s, _mm512_set1_epi32(1));
}

template <int G>
QVK_VECTOR_INLINE void CounterGroups(const Prepared& p, uint8_t* data, __m512i& n3, __m512i& n4, __m512i& last3,
                                     __m512i& last4)
{
    const __m512i first = Index(0, 0, 0), second = Index(8, 0, 0);
    const __m512i step3 = _mm512_set1_epi32(static_cast<int>(16 * kC2));
    const __m512i step4 = _mm512_set1_epi32(static_cast<int>(16 * kC1));
    __m512i a[G], b[G];
    for (int g = 0; g < G; ++g) {
        a[g] = last3 = n3;
        b[g] = last4 = n4;
        n3 = _mm512_add_epi32(n3, step3);
        n4 = AddModulo(n4, step4);
    }
    Cycle<G, false>(p, a, b);
    for (int g = 0; g < G; ++g) {
        uint8_t* d = data + 128 * g;
        _mm512_storeu_si512(d, _mm512_xor_si512(_mm512_loadu_si512(d), _mm512_permutex2var_epi32(b[g], first, a[g])));
        _mm512_storeu_si512(
            d + 64, _mm512_xor_si512(_mm512_loadu_si512(d + 64), _mm512_permutex2var_epi32(b[g], second, a[g])));
    }
}

QVK_VECTOR_TARGET void Counter(const Prepared& p, uint8_t* data, uint32_t groups, uint32_t& n3, uint32_t& n4)
{
    // Lane i: the counters after i + 1 steps.
    alignas(64) uint32_t c3[16], c4[16];
    uint32_t s3 = n3, s4 = n4;
    for (int i = 0; i < 16; ++i) {
        s3 += kC2;
        const uint32_t before = s4;
        s4 += kC1;
        if (s4 < before) s4 += 1;
        c3[i] = s3;
        c4[i] = s4;
    }
    __m512i v3 = _mm512_load_si512(c3), v4 = _mm512_load_si512(c4), last3 = v3, last4 = v4;
    for (; groups >= kGroups; groups -= kGroups, data += 128 * kGroups)
        CounterGroups<kGroups>(p, data, v3, v4, last3, last4);
    for (; groups >= 4; groups -= 4, data += 128 * 4) CounterGroups<4>(p, data, v3, v4, last3, last4);
    for (; groups; --groups, data += 128) CounterGroups<1>(p, data, v3, v4, last3, last4);
    _mm512_store_si512(c3, last3);
    _mm512_store_si512(c4, last4);
    n3 = c3[15];
    n4 = c4[15];
}

}  // namespace

uint32_t GOST28147BulkECB(uint8_t* data, uint32_t blocks, const uint32_t* key, const GOST28147ExpandedSBox* sBox,
                          bool decrypting)
{
    if (blocks < kGOST28147BulkBlocks || !VectorPathAvailable()) return 0;
    Prepared p;
    Prepare(key, sBox, p);
    if (decrypting)
        ECB<true>(p, data, blocks / kGOST28147BulkBlocks);
    else
        ECB<false>(p, data, blocks / kGOST28147BulkBlocks);
    SecureWipe(&p, sizeof p);
    ClearVectorRegisters();
    ScrubStack();
    return blocks / kGOST28147BulkBlocks * kGOST28147BulkBlocks;
}

uint32_t GOST28147BulkCounter(uint8_t* data, uint32_t blocks, const uint32_t* key, const GOST28147ExpandedSBox* sBox,
                              uint32_t& n3, uint32_t& n4)
{
    if (blocks < kGOST28147BulkBlocks || !VectorPathAvailable()) return 0;
    Prepared p;
    Prepare(key, sBox, p);
    Counter(p, data, blocks / kGOST28147BulkBlocks, n3, n4);
    SecureWipe(&p, sizeof p);
    ClearVectorRegisters();
    ScrubStack();
    return blocks / kGOST28147BulkBlocks * kGOST28147BulkBlocks;
}

}  // namespace qvkcrypto
