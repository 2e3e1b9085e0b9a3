#include "dstu4145/BinaryField.h"

#include <immintrin.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace dstu4145 {

namespace {

bool PortableForced()
{
    const char* v = std::getenv("QVK_CRYPTO_PORTABLE");
    return v != nullptr && *v != '\0' && std::strcmp(v, "0") != 0;
}

bool HasCarrylessMultiply()
{
    static const bool has = __builtin_cpu_supports("pclmul") != 0;
    return has;
}

// --- portable: carry-less products from integer multiplications ---

// 32 x 32 bits. Each operand is split into four lanes of every fourth bit;
// a lane holds at most 8 bits, so an integer product gathers at most 8 ones
// on any bit position and its carries stay within the three bits up to the
// next position of the same lane, which the masks drop.
inline std::uint64_t Clmul32(std::uint32_t x, std::uint32_t y)
{
    const std::uint64_t x0 = x & 0x11111111u, x1 = x & 0x22222222u, x2 = x & 0x44444444u, x3 = x & 0x88888888u;
    const std::uint64_t y0 = y & 0x11111111u, y1 = y & 0x22222222u, y2 = y & 0x44444444u, y3 = y & 0x88888888u;
    const std::uint64_t z0 = (x0 * y0) ^ (x1 * y3) ^ (x2 * y2) ^ (x3 * y1);
    const std::uint64_t z1 = (x0 * y1) ^ (x1 * y0) ^ (x2 * y3) ^ (x3 * y2);
    const std::uint64_t z2 = (x0 * y2) ^ (x1 * y1) ^ (x2 * y0) ^ (x3 * y3);
    const std::uint64_t z3 = (x0 * y3) ^ (x1 * y2) ^ (x2 * y1) ^ (x3 * y0);
    return (z0 & 0x1111111111111111ULL) | (z1 & 0x2222222222222222ULL) | (z2 & 0x4444444444444444ULL) |
           (z3 & 0x8888888888888888ULL);
}

// 64 x 64 bits by one Karatsuba step over the 32-bit halves.
inline void Clmul64(std::uint64_t a, std::uint64_t b, std::uint64_t& lo, std::uint64_t& hi)
{
    const auto a0 = static_cast<std::uint32_t>(a), a1 = static_cast<std::uint32_t>(a >> 32);
    const auto b0 = static_cast<std::uint32_t>(b), b1 = static_cast<std::uint32_t>(b >> 32);
    const std::uint64_t l = Clmul32(a0, b0), h = Clmul32(a1, b1);
    const std::uint64_t mid = Clmul32(a0 ^ a1, b0 ^ b1) ^ l ^ h;
    lo = l ^ (mid << 32);
    hi = h ^ (mid >> 32);
}

// The bits of x moved to the even positions of 64 bits.
inline std::uint64_t Spread32(std::uint32_t v)
{
    std::uint64_t x = v;
    x = (x | x << 16) & 0x0000FFFF0000FFFFULL;
    x = (x | x << 8) & 0x00FF00FF00FF00FFULL;
    x = (x | x << 4) & 0x0F0F0F0F0F0F0F0FULL;
    x = (x | x << 2) & 0x3333333333333333ULL;
    x = (x | x << 1) & 0x5555555555555555ULL;
    return x;
}

template <int N>
void MulPortable(std::uint64_t* r, const std::uint64_t* a, const std::uint64_t* b)
{
    for (int i = 0; i < 2 * N; ++i) r[i] = 0;
    for (int i = 0; i < N; ++i) {
        for (int j = 0; j < N; ++j) {
            std::uint64_t lo, hi;
            Clmul64(a[i], b[j], lo, hi);
            r[i + j] ^= lo;
            r[i + j + 1] ^= hi;
        }
    }
}

template <int N>
void SqrPortable(std::uint64_t* r, const std::uint64_t* a)
{
    for (int i = 0; i < N; ++i) {
        r[2 * i] = Spread32(static_cast<std::uint32_t>(a[i]));
        r[2 * i + 1] = Spread32(static_cast<std::uint32_t>(a[i] >> 32));
    }
}

// --- the processor's carry-less multiply ---

#define QVK_CLMUL_TARGET __attribute__((target("pclmul,sse4.1")))

// The product of a and b (N words each, in the low halves) as 2N - 1
// diagonals: diag[d] gathers the 128-bit products of the words i + j = d.
// From three words on, Karatsuba: with a = a0 + x^H a1, the products a0 b0,
// a1 b1 and (a0 + a1)(b0 + b1) give the middle part, 25 multiplications
// instead of 49 at seven words. The diagonals add like the products they
// stand for, so the parts combine by xors at shifted positions.
template <int N>
QVK_CLMUL_TARGET inline __attribute__((always_inline)) void ProductDiagonals(__m128i* diag, const __m128i* a,
                                                                             const __m128i* b)
{
    if constexpr (N <= 2) {
#pragma GCC unroll 20
        for (int d = 0; d < 2 * N - 1; ++d) diag[d] = _mm_setzero_si128();
#pragma GCC unroll 20
        for (int i = 0; i < N; ++i)
#pragma GCC unroll 20
            for (int j = 0; j < N; ++j)
                diag[i + j] = _mm_xor_si128(diag[i + j], _mm_clmulepi64_si128(a[i], b[j], 0x00));
    } else {
        constexpr int H = (N + 1) / 2, L = N - H;
        __m128i sa[H], sb[H];
#pragma GCC unroll 20
        for (int i = 0; i < H; ++i) {
            sa[i] = i < L ? _mm_xor_si128(a[i], a[H + i]) : a[i];
            sb[i] = i < L ? _mm_xor_si128(b[i], b[H + i]) : b[i];
        }
        __m128i low[2 * H - 1], middle[2 * H - 1], high[2 * L - 1];
        ProductDiagonals<H>(low, a, b);
        ProductDiagonals<H>(middle, sa, sb);
        ProductDiagonals<L>(high, a + H, b + H);
#pragma GCC unroll 20
        for (int d = 0; d < 2 * N - 1; ++d) diag[d] = _mm_setzero_si128();
#pragma GCC unroll 20
        for (int d = 0; d < 2 * H - 1; ++d) {
            diag[d] = _mm_xor_si128(diag[d], low[d]);
            diag[d + H] = _mm_xor_si128(diag[d + H], _mm_xor_si128(middle[d], low[d]));
        }
#pragma GCC unroll 20
        for (int d = 0; d < 2 * L - 1; ++d) {
            diag[d + H] = _mm_xor_si128(diag[d + H], high[d]);
            diag[d + 2 * H] = _mm_xor_si128(diag[d + 2 * H], high[d]);
        }
    }
}

// Products of one diagonal (i + j = d) are gathered in one register before
// they are split over their two words.
template <int N>
QVK_CLMUL_TARGET void MulClmul(std::uint64_t* r, const std::uint64_t* a, const std::uint64_t* b)
{
    __m128i va[N], vb[N];
#pragma GCC unroll 20
    for (int i = 0; i < N; ++i) {
        va[i] = _mm_cvtsi64_si128(static_cast<long long>(a[i]));
        vb[i] = _mm_cvtsi64_si128(static_cast<long long>(b[i]));
    }
    __m128i diag[2 * N - 1];
    ProductDiagonals<N>(diag, va, vb);
    r[0] = static_cast<std::uint64_t>(_mm_cvtsi128_si64(diag[0]));
#pragma GCC unroll 20
    for (int d = 1; d < 2 * N - 1; ++d)
        r[d] = static_cast<std::uint64_t>(_mm_extract_epi64(diag[d - 1], 1) ^ _mm_cvtsi128_si64(diag[d]));
    r[2 * N - 1] = static_cast<std::uint64_t>(_mm_extract_epi64(diag[2 * N - 2], 1));
}

template <int N>
QVK_CLMUL_TARGET void SqrClmul(std::uint64_t* r, const std::uint64_t* a)
{
    for (int i = 0; i < N; ++i) {
        const __m128i v = _mm_cvtsi64_si128(static_cast<long long>(a[i]));
        const __m128i p = _mm_clmulepi64_si128(v, v, 0x00);
        r[2 * i] = static_cast<std::uint64_t>(_mm_cvtsi128_si64(p));
        r[2 * i + 1] = static_cast<std::uint64_t>(_mm_extract_epi64(p, 1));
    }
}

template <int N>
struct Kernels {
    static void Pick(bool clmul, void (*&mul)(std::uint64_t*, const std::uint64_t*, const std::uint64_t*),
                     void (*&sqr)(std::uint64_t*, const std::uint64_t*))
    {
        mul = clmul ? MulClmul<N> : MulPortable<N>;
        sqr = clmul ? SqrClmul<N> : SqrPortable<N>;
    }
};

// Whole words at a time, from the top: with m - k >= 64 the bits a word
// folds to lie below the word itself, so each word is read once.
template <int N>
void ReduceWords(std::uint64_t* t, std::uint64_t* r, int m, const int* terms, int termCount)
{
    const int top = m >> 6, rest = m & 63;
    for (int i = 2 * N - 1; i > top; --i) {
        const std::uint64_t v = t[i];
        for (int e = 0; e < termCount; ++e) {
            const int off = 64 * i - m + terms[e];
            const int w = off >> 6, s = off & 63;
            t[w] ^= v << s;
            if (s != 0) t[w + 1] ^= v >> (64 - s);
        }
    }
    const std::uint64_t v = rest != 0 ? t[top] >> rest : 0;
    if (rest != 0 && top < N) {
        t[top] &= (std::uint64_t(1) << rest) - 1;
        for (int e = 0; e < termCount; ++e) {
            const int w = terms[e] >> 6, s = terms[e] & 63;
            t[w] ^= v << s;
            if (s != 0) t[w + 1] ^= v >> (64 - s);
        }
    }
    for (int i = 0; i < N; ++i) r[i] = t[i];
}

template <int N>
void PickReduce(void (*&reduce)(std::uint64_t*, std::uint64_t*, int, const int*, int))
{
    reduce = ReduceWords<N>;
}

// The same folding for one field polynomial known when compiling: the shifts
// and word positions are constants and the product stays in registers, where
// the general loop goes through memory word by word (most of a
// multiplication's time on the larger fields).
template <int M, int K, int J, int L>
void ReduceFixed(std::uint64_t* t, std::uint64_t* r, int, const int*, int)
{
    constexpr int N = (M + 63) / 64, top = M >> 6, rest = M & 63;
    constexpr bool trinomial = J == 0;
    constexpr int count = trinomial ? 2 : 4;
    constexpr int terms[4] = {K, trinomial ? 0 : J, trinomial ? 0 : L, 0};
    static_assert(M - K >= 64, "each word folds below itself");
    std::uint64_t w[2 * N];
#pragma GCC unroll 20
    for (int i = 0; i < 2 * N; ++i) w[i] = t[i];
#pragma GCC unroll 20
    for (int i = 2 * N - 1; i > top; --i) {
        const std::uint64_t v = w[i];
#pragma GCC unroll 4
        for (int e = 0; e < count; ++e) {
            const int off = 64 * i - M + terms[e];
            const int at = off >> 6, shift = off & 63;
            w[at] ^= v << shift;
            if (shift != 0) w[at + 1] ^= v >> (64 - shift);
        }
    }
    if constexpr (rest != 0) {
        const std::uint64_t v = w[top] >> rest;
        w[top] &= (std::uint64_t(1) << rest) - 1;
#pragma GCC unroll 4
        for (int e = 0; e < count; ++e) {
            const int at = terms[e] >> 6, shift = terms[e] & 63;
            w[at] ^= v << shift;
            if (shift != 0) w[at + 1] ^= v >> (64 - shift);
        }
    }
#pragma GCC unroll 10
    for (int i = 0; i < N; ++i) r[i] = w[i];
}

// The polynomials of the standard curves, each with its own folding.
struct FixedReduction {
    int m, k, j, l;
    void (*reduce)(std::uint64_t*, std::uint64_t*, int, const int*, int);
};
constexpr FixedReduction kFixedReductions[] = {
    {163, 7, 6, 3, ReduceFixed<163, 7, 6, 3>},   {167, 6, 0, 0, ReduceFixed<167, 6, 0, 0>},
    {173, 10, 2, 1, ReduceFixed<173, 10, 2, 1>}, {179, 4, 2, 1, ReduceFixed<179, 4, 2, 1>},
    {191, 9, 0, 0, ReduceFixed<191, 9, 0, 0>},   {233, 9, 4, 1, ReduceFixed<233, 9, 4, 1>},
    {257, 12, 0, 0, ReduceFixed<257, 12, 0, 0>}, {307, 8, 4, 2, ReduceFixed<307, 8, 4, 2>},
    {367, 21, 0, 0, ReduceFixed<367, 21, 0, 0>}, {431, 5, 3, 1, ReduceFixed<431, 5, 3, 1>},
};

// Bits [pos, pos + len) of t, len <= 64.
inline std::uint64_t GetBits(const std::uint64_t* t, int pos, int len)
{
    const int w = pos >> 6, s = pos & 63;
    std::uint64_t v = t[w] >> s;
    if (s != 0 && s + len > 64) v |= t[w + 1] << (64 - s);
    return len == 64 ? v : v & ((std::uint64_t(1) << len) - 1);
}

inline void XorBits(std::uint64_t* t, int pos, std::uint64_t v, int len)
{
    const int w = pos >> 6, s = pos & 63;
    t[w] ^= v << s;
    if (s != 0 && s + len > 64) t[w + 1] ^= v >> (64 - s);
}

// Plain globals rather than thread-local ones: the engine lives in libraries
// that are loaded and unloaded at run time, where thread-local storage
// outlives its library in some tools' eyes.
std::atomic<bool> gCounting{false};
std::atomic<std::uint64_t> gMultiplications{0}, gSquarings{0}, gInversions{0};

inline void Count(std::atomic<std::uint64_t>& counter)
{
    if (gCounting.load(std::memory_order_relaxed)) counter.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

void BinaryField::CountOperations(bool on)
{
    gCounting.store(on);
}

FieldOperationCounts BinaryField::Counts()
{
    return {gMultiplications.load(), gSquarings.load(), gInversions.load()};
}

bool BinaryField::Valid(int m, int k, int j, int l)
{
    if (m < 2 || m > kFieldMaxDegree) return false;
    if (j == 0 && l == 0) return m > k && k > 0;
    return m > k && k > j && j > l && l > 0;
}

BinaryField::BinaryField(int m, int k, int j, int l) : m_(m), words_((m + 63) / 64)
{
    termCount_ = 0;
    terms_[termCount_++] = k;
    if (j != 0 || l != 0) {
        terms_[termCount_++] = j;
        terms_[termCount_++] = l;
    }
    terms_[termCount_++] = 0;
    chunk_ = m - k < 64 ? m - k : 64;
    Choose(HasCarrylessMultiply() && !PortableForced());

    // Tr(t^i) are the power sums of the roots of f, which Newton's identities
    // give from f's coefficients: s_i = sum c_r s_(i-r) (r < i) + i c_i, where
    // c_r is the coefficient of t^(m - r).
    Zero(traceMask_);
    auto coefficient = [&](int r) {
        for (int e = 0; e < termCount_; ++e)
            if (m - r == terms_[e]) return 1;
        return 0;
    };
    int* s = new int[static_cast<std::size_t>(m)];
    s[0] = m & 1;
    for (int i = 1; i < m; ++i) {
        int v = (i & 1) & coefficient(i);
        for (int e = 0; e < termCount_; ++e) {
            const int r = m - terms_[e];
            if (r < i) v ^= s[i - r];
        }
        s[i] = v;
    }
    for (int i = 0; i < m; ++i)
        if (s[i]) traceMask_.w[i >> 6] |= std::uint64_t(1) << (i & 63);
    delete[] s;
}

namespace {

template <int N>
void PickAll(bool clmul, BinaryField::MulFn& mul, BinaryField::SqrFn& sqr, BinaryField::ReduceFn& reduce)
{
    Kernels<N>::Pick(clmul, mul, sqr);
    PickReduce<N>(reduce);
}

}  // namespace

void BinaryField::Choose(bool clmul)
{
    clmul_ = clmul;
    // One set of kernels per word count, 1 to kFieldMaxWords.
    using Picker = void (*)(bool, MulFn&, SqrFn&, ReduceFn&);
    static constexpr Picker kPickers[kFieldMaxWords] = {PickAll<1>, PickAll<2>, PickAll<3>, PickAll<4>, PickAll<5>,
                                                        PickAll<6>, PickAll<7>, PickAll<8>, PickAll<9>, PickAll<10>};
    kPickers[words_ - 1](clmul, mul_, sqr_, reduce_);
    for (const FixedReduction& f : kFixedReductions) {
        const int j = termCount_ == 4 ? terms_[1] : 0, l = termCount_ == 4 ? terms_[2] : 0;
        if (f.m == m_ && f.k == terms_[0] && f.j == j && f.l == l) reduce_ = f.reduce;
    }
    // Word-wise folding needs every term at least a word below m.
    if (m_ - terms_[0] < 64) reduce_ = nullptr;
}

void BinaryField::ForcePortable()
{
    Choose(false);
}

// Folds the bits at and above m back with t^m = t^k [+ t^j + t^l] + 1, a
// chunk at a time from the top: a chunk of at most m - k bits lands wholly
// below itself, so each chunk is read once.
void BinaryField::Reduce(std::uint64_t* t, FieldElement& r) const
{
    if (reduce_ != nullptr) {
        reduce_(t, r.w, m_, terms_, termCount_);
        for (int i = words_; i < kFieldMaxWords; ++i) r.w[i] = 0;
        return;
    }
    int hi = 2 * m_ - 1;
    while (hi > m_) {
        const int pos = hi - chunk_ > m_ ? hi - chunk_ : m_;
        const int len = hi - pos;
        const std::uint64_t v = GetBits(t, pos, len);
        for (int e = 0; e < termCount_; ++e) XorBits(t, pos - m_ + terms_[e], v, len);
        hi = pos;
    }
    for (int i = 0; i < words_; ++i) r.w[i] = t[i];
    for (int i = words_; i < kFieldMaxWords; ++i) r.w[i] = 0;
    if ((m_ & 63) != 0) r.w[words_ - 1] &= (std::uint64_t(1) << (m_ & 63)) - 1;
}

void BinaryField::Zero(FieldElement& r) const
{
    std::memset(r.w, 0, sizeof r.w);
}

void BinaryField::One(FieldElement& r) const
{
    Zero(r);
    r.w[0] = 1;
}

void BinaryField::Copy(FieldElement& r, const FieldElement& a) const
{
    r = a;
}

void BinaryField::Add(FieldElement& r, const FieldElement& a, const FieldElement& b) const
{
    for (int i = 0; i < kFieldMaxWords; ++i) r.w[i] = a.w[i] ^ b.w[i];
}

void BinaryField::Mul(FieldElement& r, const FieldElement& a, const FieldElement& b) const
{
    Count(gMultiplications);
    std::uint64_t t[2 * kFieldMaxWords];
    mul_(t, a.w, b.w);
    Reduce(t, r);
}

void BinaryField::Sqr(FieldElement& r, const FieldElement& a) const
{
    Count(gSquarings);
    std::uint64_t t[2 * kFieldMaxWords];
    sqr_(t, a.w);
    Reduce(t, r);
}

void BinaryField::SqrTimes(FieldElement& r, const FieldElement& a, int count) const
{
    if (count <= 0) {
        r = a;
        return;
    }
    Sqr(r, a);
    for (int i = 1; i < count; ++i) Sqr(r, r);
}

// Itoh-Tsujii: b_e = a^(2^e - 1) grows along the bits of m - 1
// (b_2e = b_e^(2^e) b_e, b_(e+1) = b_e^2 a); then 1/a = b_(m-1)^2. The steps
// depend on m only.
void BinaryField::Inv(FieldElement& r, const FieldElement& a) const
{
    Count(gInversions);
    const int target = m_ - 1;
    int top = 0;
    while ((target >> (top + 1)) != 0) ++top;
    FieldElement b = a, t;
    int e = 1;
    for (int bit = top - 1; bit >= 0; --bit) {
        SqrTimes(t, b, e);
        Mul(b, t, b);
        e *= 2;
        if ((target >> bit) & 1) {
            Sqr(t, b);
            Mul(b, t, a);
            e += 1;
        }
    }
    Sqr(r, b);
}

void BinaryField::Sqrt(FieldElement& r, const FieldElement& a) const
{
    SqrTimes(r, a, m_ - 1);
}

int BinaryField::Trace(const FieldElement& a) const
{
    std::uint64_t v = 0;
    for (int i = 0; i < words_; ++i) v ^= a.w[i] & traceMask_.w[i];
    return __builtin_parityll(v);
}

void BinaryField::HalfTrace(FieldElement& r, const FieldElement& a) const
{
    FieldElement sum = a, t = a;
    for (int i = 1; i <= (m_ - 1) / 2; ++i) {
        Sqr(t, t);
        Sqr(t, t);
        Add(sum, sum, t);
    }
    r = sum;
}

bool BinaryField::IsZero(const FieldElement& a) const
{
    std::uint64_t v = 0;
    for (int i = 0; i < kFieldMaxWords; ++i) v |= a.w[i];
    return v == 0;
}

bool BinaryField::IsOne(const FieldElement& a) const
{
    std::uint64_t v = a.w[0] ^ 1;
    for (int i = 1; i < kFieldMaxWords; ++i) v |= a.w[i];
    return v == 0;
}

bool BinaryField::Equal(const FieldElement& a, const FieldElement& b) const
{
    std::uint64_t v = 0;
    for (int i = 0; i < kFieldMaxWords; ++i) v |= a.w[i] ^ b.w[i];
    return v == 0;
}

void BinaryField::CondSwap(FieldElement& a, FieldElement& b, std::uint64_t mask) const
{
    for (int i = 0; i < words_; ++i) {
        const std::uint64_t d = (a.w[i] ^ b.w[i]) & mask;
        a.w[i] ^= d;
        b.w[i] ^= d;
    }
}

bool BinaryField::FromBytes(const std::uint8_t* bytes, std::size_t size, FieldElement& r) const
{
    FieldElement v;
    Zero(v);
    for (std::size_t i = 0; i < size; ++i) {
        if (bytes[i] == 0) continue;
        if (i >= static_cast<std::size_t>(words_) * 8) return false;
        v.w[i / 8] |= std::uint64_t(bytes[i]) << (8 * (i % 8));
    }
    if ((m_ & 63) != 0 && (v.w[words_ - 1] >> (m_ & 63)) != 0) return false;
    r = v;
    return true;
}

void BinaryField::ToBytes(const FieldElement& a, std::uint8_t* out) const
{
    for (std::size_t i = 0; i < Bytes(); ++i) out[i] = static_cast<std::uint8_t>(a.w[i / 8] >> (8 * (i % 8)));
}

}  // namespace dstu4145
