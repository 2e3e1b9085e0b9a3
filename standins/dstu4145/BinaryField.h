// Arithmetic in GF(2^m) over a polynomial basis with a trinomial or
// pentanomial f(t) = t^m + t^k [+ t^j + t^l] + 1, on fixed-size elements.
//
// Multiplication runs on the processor's carry-less multiply (PCLMULQDQ)
// where it has one, chosen once per field; elsewhere, and whenever
// QVK_CRYPTO_PORTABLE is set to anything but "0", on integer multiplications
// with masked lanes. Both paths are constant time: no branch and no table
// index depends on an element's value, so secret scalars can run over them.
#ifndef QVK_STANDINS_DSTU4145_BINARYFIELD_H
#define QVK_STANDINS_DSTU4145_BINARYFIELD_H

#include <cstddef>
#include <cstdint>

namespace dstu4145 {

// Up to 10 words of 64 bits: the largest field the curve records can carry
// (degree 607) fits.
constexpr int kFieldMaxWords = 10;
constexpr int kFieldMaxDegree = kFieldMaxWords * 64 - 33;

// Little-endian words; the words above the field's own and the bits at and
// above m stay zero.
struct FieldElement {
    std::uint64_t w[kFieldMaxWords];
};

// Field operations run while counting is on: tests read them to show that a
// computation on a secret takes the same steps whatever the secret. Counting
// is process-wide and off unless a test turns it on.
struct FieldOperationCounts {
    std::uint64_t multiplications = 0, squarings = 0, inversions = 0;
    bool operator==(const FieldOperationCounts&) const = default;
};

class BinaryField {
public:
    static void CountOperations(bool on);
    static FieldOperationCounts Counts();

    // m > k > j > l > 0, or a trinomial with j = l = 0; m <= kFieldMaxDegree.
    // Valid() says whether the arguments make a field form this class
    // handles (irreducibility is the caller's check).
    static bool Valid(int m, int k, int j, int l);
    BinaryField(int m, int k, int j, int l);

    int M() const { return m_; }
    int Words() const { return words_; }
    // Which multiplication this field runs on, for tests and benchmarks.
    bool UsesCarrylessMultiply() const { return clmul_; }
    // For tests: the portable path on a field that would use the other.
    void ForcePortable();

    void Zero(FieldElement& r) const;
    void One(FieldElement& r) const;
    void Copy(FieldElement& r, const FieldElement& a) const;
    void Add(FieldElement& r, const FieldElement& a, const FieldElement& b) const;
    void Mul(FieldElement& r, const FieldElement& a, const FieldElement& b) const;
    void Sqr(FieldElement& r, const FieldElement& a) const;
    // a^(2^count): count squarings.
    void SqrTimes(FieldElement& r, const FieldElement& a, int count) const;
    // 1 / a by Itoh-Tsujii (a chain fixed by m); 0 gives 0.
    void Inv(FieldElement& r, const FieldElement& a) const;
    // The square root: a^(2^(m-1)).
    void Sqrt(FieldElement& r, const FieldElement& a) const;
    // Tr(a) = a + a^2 + ... + a^(2^(m-1)), 0 or 1, from a mask of the basis
    // elements' traces.
    int Trace(const FieldElement& a) const;
    // For odd m: sum of a^(4^i), i = 0..(m-1)/2; solves z^2 + z = a when
    // Tr(a) = 0.
    void HalfTrace(FieldElement& r, const FieldElement& a) const;

    bool IsZero(const FieldElement& a) const;  // without a branch on the value
    bool IsOne(const FieldElement& a) const;
    bool Equal(const FieldElement& a, const FieldElement& b) const;
    // Swaps a and b when mask is all ones, leaves them when it is zero.
    void CondSwap(FieldElement& a, FieldElement& b, std::uint64_t mask) const;

    // Little-endian bytes; longer inputs are fine when the extra bits are
    // zero. False when the value has a bit at or above m.
    bool FromBytes(const std::uint8_t* bytes, std::size_t size, FieldElement& r) const;
    // (m + 7) / 8 little-endian bytes.
    void ToBytes(const FieldElement& a, std::uint8_t* out) const;
    std::size_t Bytes() const { return static_cast<std::size_t>((m_ + 7) / 8); }

    using MulFn = void (*)(std::uint64_t* product, const std::uint64_t* a, const std::uint64_t* b);
    using SqrFn = void (*)(std::uint64_t* product, const std::uint64_t* a);
    using ReduceFn = void (*)(std::uint64_t* product, std::uint64_t* r, int m, const int* terms, int termCount);

private:
    void Choose(bool clmul);
    void Reduce(std::uint64_t* t, FieldElement& r) const;

    int m_, words_;
    int terms_[4];  // k [, j, l], 0
    int termCount_;
    int chunk_;  // bits reduced per step: min(64, m - k)
    bool clmul_;
    MulFn mul_;
    SqrFn sqr_;
    ReduceFn reduce_;  // null: the chunked reduction
    FieldElement traceMask_;
};

}  // namespace dstu4145

#endif
