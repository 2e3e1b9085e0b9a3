// DSTU 4145-2002 on the field arithmetic of BinaryField: the group law,
// scalar multiplication by a Montgomery ladder in projective x-coordinates
// (constant time for secret scalars), and the standard's own pieces (trace,
// half-trace, point compression, hash mapping, truncation of r). OpenSSL
// serves for the numbers modulo n (primality, random scalars, s = e + d r).
#include "dstu4145/DSTU4145.h"

#include "crypto/ByteOrder.h"
#include "dstu4145/BinaryField.h"

#include <openssl/bn.h>
#include <openssl/crypto.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>

namespace dstu4145 {

namespace {

using qvkcrypto::LoadLE32;
using qvkcrypto::StoreLE32;

// The records hold numbers in 19 words; the field polynomial must fit too.
constexpr int kMaxFieldDegree = 19 * 32 - 1;
static_assert(kMaxFieldDegree <= kFieldMaxDegree, "the field elements hold every degree the records carry");
constexpr std::size_t kNumberWords = 19;
constexpr std::size_t kDeviceNumberBytes = 72;

struct BnFree {
    void operator()(BIGNUM* p) const { BN_clear_free(p); }
};
struct CtxFree {
    void operator()(BN_CTX* p) const { BN_CTX_free(p); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;
using Ctx = std::unique_ptr<BN_CTX, CtxFree>;
struct MontFree {
    void operator()(BN_MONT_CTX* p) const { BN_MONT_CTX_free(p); }
};
using Mont = std::unique_ptr<BN_MONT_CTX, MontFree>;

// Public keys whose checks a verifier keeps: a signer's few keys verify many
// signatures, and the check (decompression, n * Q = O) costs a large part of
// a verification.
constexpr std::size_t kCheckedKeysKept = 16;

Bn NewBn()
{
    return Bn(BN_new());
}

// A little-endian number; null on allocation failure.
Bn FromLe(ByteSpan bytes)
{
    if (bytes.empty()) {
        Bn z = NewBn();
        if (z) BN_zero(z.get());
        return z;
    }
    return Bn(BN_lebin2bn(bytes.data(), static_cast<int>(bytes.size()), nullptr));
}

bool ToLe(const BIGNUM* v, std::size_t size, Bytes& out)
{
    Bytes tmp(size);
    if (BN_bn2lebinpad(v, tmp.data(), static_cast<int>(size)) < 0) return false;
    out.swap(tmp);
    return true;
}

Bytes WordsToBytes(const std::uint32_t* words, std::size_t count)
{
    Bytes out(count * 4);
    for (std::size_t i = 0; i < count; ++i) StoreLE32(&out[i * 4], words[i]);
    return out;
}

// Little-endian bytes into `count` words; false when a nonzero byte does not fit.
template <class Word>
bool BytesToWords(ByteSpan bytes, Word* words, std::size_t count)
{
    std::fill(words, words + count, Word(0));
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i >= count * sizeof(Word)) {
            if (bytes[i] != 0) return false;
            continue;
        }
        words[i / sizeof(Word)] |= Word(bytes[i]) << (8 * (i % sizeof(Word)));
    }
    return true;
}

bool IsZeroFrom(ByteSpan bytes, std::size_t from)
{
    for (std::size_t i = from; i < bytes.size(); ++i)
        if (bytes[i] != 0) return false;
    return true;
}

int BitLength(const Bytes& le)
{
    for (std::size_t i = le.size(); i-- > 0;) {
        if (le[i] == 0) continue;
        int bits = 0;
        for (std::uint8_t v = le[i]; v != 0; v >>= 1) ++bits;
        return static_cast<int>(i * 8) + bits;
    }
    return 0;
}

}  // namespace

const char* ResultText(Result result)
{
    switch (result) {
    case Result::Ok:
        return "success";
    case Result::BadParameters:
        return "invalid curve parameters";
    case Result::NormalBasis:
        return "curves over a normal basis are not supported";
    case Result::BadKey:
        return "invalid key";
    case Result::BadSignature:
        return "invalid signature";
    case Result::BadHash:
        return "invalid hash";
    case Result::BadNonce:
        return "unusable nonce";
    case Result::RandomFailure:
        return "random generator failure";
    case Result::InternalError:
        return "arithmetic failure";
    }
    return "unknown result";
}

Result CurveFromRecords(const std::uint32_t* field, const std::uint32_t* point, Curve& out)
{
    if (field == nullptr || point == nullptr) return Result::BadParameters;
    Curve c;
    c.m = static_cast<int>(field[20]);
    c.k = static_cast<int>(field[21]);
    c.j = static_cast<int>(field[22]);
    c.l = static_cast<int>(field[23]);
    if (field[20] == 0 || field[20] > static_cast<std::uint32_t>(kMaxFieldDegree)) return Result::BadParameters;
    if (field[21] == 0 && field[22] == 0 && field[23] == 0) return Result::NormalBasis;
    if (field[21] > field[20] || field[22] > field[20] || field[23] > field[20] || field[0] > 1)
        return Result::BadParameters;
    c.a = static_cast<int>(field[0]);
    c.b = WordsToBytes(field + 1, kNumberWords);
    c.p = WordsToBytes(point, kNumberWords);
    c.n = WordsToBytes(point + 19, kNumberWords);
    c.nBits = point[38] <= static_cast<std::uint32_t>(kMaxFieldDegree + 1) ? static_cast<int>(point[38]) : -1;
    if (c.nBits < 0) return Result::BadParameters;
    out = std::move(c);
    return Result::Ok;
}

Result CurveToRecords(const Curve& curve, std::uint32_t* field, std::uint32_t* point)
{
    if (field == nullptr || point == nullptr) return Result::BadParameters;
    std::uint32_t f[kFieldRecordWords] = {};
    std::uint32_t p[kPointRecordWords] = {};
    if (curve.m <= 0 || curve.k < 0 || curve.j < 0 || curve.l < 0 || (curve.a != 0 && curve.a != 1))
        return Result::BadParameters;
    // Each number takes 19 words; the 20th word of each block stays zero.
    if (!BytesToWords(curve.b, f + 1, kNumberWords) || !BytesToWords(curve.p, p, kNumberWords) ||
        !BytesToWords(curve.n, p + 19, kNumberWords))
        return Result::BadParameters;
    f[0] = static_cast<std::uint32_t>(curve.a);
    f[20] = static_cast<std::uint32_t>(curve.m);
    f[21] = static_cast<std::uint32_t>(curve.k);
    f[22] = static_cast<std::uint32_t>(curve.j);
    f[23] = static_cast<std::uint32_t>(curve.l);
    f[24] = curve.a == 1 ? 2 : 4;
    p[38] = static_cast<std::uint32_t>(curve.nBits != 0 ? curve.nBits : BitLength(curve.n));
    std::memcpy(field, f, sizeof f);
    std::memcpy(point, p, sizeof p);
    return Result::Ok;
}

Result CurveFromDeviceKeyParameters(ByteSpan record, Curve& out)
{
    if (record.size() < kDeviceKeyParametersBytes) return Result::BadParameters;
    std::uint32_t field[kFieldRecordWords] = {};
    std::uint32_t point[kPointRecordWords] = {};
    for (int i = 0; i < 4; ++i) field[20 + i] = LoadLE32(&record[4 * i]);
    field[0] = LoadLE32(&record[16]);
    field[24] = LoadLE32(&record[20]);
    for (std::size_t i = 0; i < 18; ++i) {
        field[1 + i] = LoadLE32(&record[24 + 4 * i]);
        point[19 + i] = LoadLE32(&record[96 + 4 * i]);
        point[i] = LoadLE32(&record[168 + 4 * i]);
    }
    point[38] = 0;  // the record carries no bit length: taken from n
    return CurveFromRecords(field, point, out);
}

Result CurveToDeviceKeyParameters(const Curve& curve, std::uint8_t* record)
{
    if (record == nullptr) return Result::BadParameters;
    std::uint32_t field[kFieldRecordWords];
    std::uint32_t point[kPointRecordWords];
    Result r = CurveToRecords(curve, field, point);
    if (r != Result::Ok) return r;
    // 72-byte fields: word 18 of each number must be free.
    if (field[19] != 0 || point[18] != 0 || point[37] != 0) return Result::BadParameters;
    std::uint8_t out[kDeviceKeyParametersBytes] = {};
    for (int i = 0; i < 4; ++i) StoreLE32(&out[4 * i], field[20 + i]);
    StoreLE32(&out[16], field[0]);
    StoreLE32(&out[20], field[24]);
    for (std::size_t i = 0; i < kDeviceNumberBytes / 4; ++i) {
        StoreLE32(&out[24 + 4 * i], field[1 + i]);
        StoreLE32(&out[96 + 4 * i], point[19 + i]);
        StoreLE32(&out[168 + 4 * i], point[i]);
    }
    std::memcpy(record, out, sizeof out);
    return Result::Ok;
}

// ---------------------------------------------------------------------------

namespace {

// Scalars below 2n in words: n has at most m + 1 bits.
constexpr int kScalarWords = kFieldMaxWords + 1;

struct Affine {
    FieldElement x, y;
    bool infinity = true;
};

// Lopez-Dahab projective coordinates: x = X / Z, y = Y / Z^2.
struct Projective {
    FieldElement x, y, z;
};

// Fixed windows of a point's table: 4 bits, 15 multiples each.
constexpr int kWindowBits = 4;
constexpr int kWindowEntries = (1 << kWindowBits) - 1;
using Table = std::vector<std::uint64_t>;

// A kept public key gets a table of its own from this many verifications
// on: the table costs about twelve multiplications to make and makes each
// later one about four times as fast.
constexpr unsigned kUsesBeforeTable = 4;

// a + b over `words` words; the carry out is dropped (callers leave room).
void AddWords(std::uint64_t* r, const std::uint64_t* a, const std::uint64_t* b, int words)
{
    unsigned __int128 carry = 0;
    for (int i = 0; i < words; ++i) {
        carry += static_cast<unsigned __int128>(a[i]) + b[i];
        r[i] = static_cast<std::uint64_t>(carry);
        carry >>= 64;
    }
}

}  // namespace

struct Engine::State {
    int m = 0;
    int a = 0;
    int nBits = 0;
    int cofactor = 0;
    std::unique_ptr<BinaryField> field;
    FieldElement b{};
    FieldElement sqrtB{};
    Affine base;
    Bn n;
    Mont mont;  // Montgomery form modulo n, for constant-time s = e + d r
    std::uint64_t nWords[kScalarWords] = {};
    // The curve has cofactor * n points, so halving tells the subgroup.
    bool traceGivesOrder = false;

    // The base point's window table, made on first use.
    mutable std::once_flag tableOnce;
    mutable Table baseTable;
    int windows = 0;

    // Checked public keys, newest last, keyed by their compressed form in
    // FieldBytes() bytes.
    struct CheckedKey {
        Bytes compressed;
        Affine point;
        unsigned uses = 0;
        std::shared_ptr<const Table> table;
    };
    mutable std::mutex checkedLock;
    mutable std::vector<CheckedKey> checked;
    mutable std::atomic<unsigned long> publicKeyChecks{0};

    const BinaryField& F() const { return *field; }

    // --- elements and numbers ---
    bool Element(ByteSpan bytes, FieldElement& out) const { return F().FromBytes(bytes.data(), bytes.size(), out); }
    Bytes ElementBytes(const FieldElement& v) const
    {
        Bytes out(F().Bytes());
        F().ToBytes(v, out.data());
        return out;
    }
    // --- the group law in affine coordinates (public points only) ---
    bool OnCurve(const FieldElement& x, const FieldElement& y) const
    {
        // y^2 + xy = x^3 + A x^2 + B
        FieldElement l, r, x2, t;
        F().Sqr(l, y);
        F().Mul(t, x, y);
        F().Add(l, l, t);
        F().Sqr(x2, x);
        F().Mul(r, x2, x);
        if (a != 0) F().Add(r, r, x2);
        F().Add(r, r, b);
        return F().Equal(l, r);
    }

    Affine Double(const Affine& p) const
    {
        Affine out;
        if (p.infinity || F().IsZero(p.x)) return out;  // O, or the point of order 2
        // lambda = x + y / x; x3 = lambda^2 + lambda + A; y3 = x^2 + (lambda + 1) x3
        FieldElement inv, lambda, t, one;
        F().Inv(inv, p.x);
        F().Mul(lambda, p.y, inv);
        F().Add(lambda, lambda, p.x);
        F().Sqr(out.x, lambda);
        F().Add(out.x, out.x, lambda);
        if (a != 0) {
            F().One(one);
            F().Add(out.x, out.x, one);
        }
        F().One(one);
        F().Add(t, lambda, one);
        F().Mul(t, t, out.x);
        F().Sqr(out.y, p.x);
        F().Add(out.y, out.y, t);
        out.infinity = false;
        return out;
    }

    Affine Add(const Affine& p, const Affine& q) const
    {
        if (p.infinity) return q;
        if (q.infinity) return p;
        FieldElement dx, dy;
        F().Add(dx, p.x, q.x);
        F().Add(dy, p.y, q.y);
        if (F().IsZero(dx)) {
            // Same x: the same point (double it) or its negative (-P = (x, x + y)).
            if (F().IsZero(dy)) return Double(p);
            return Affine{};
        }
        // lambda = (y1 + y2) / (x1 + x2); x3 = lambda^2 + lambda + x1 + x2 + A;
        // y3 = lambda (x1 + x3) + x3 + y1
        Affine out;
        FieldElement inv, lambda, t;
        F().Inv(inv, dx);
        F().Mul(lambda, dy, inv);
        F().Sqr(out.x, lambda);
        F().Add(out.x, out.x, lambda);
        F().Add(out.x, out.x, dx);
        if (a != 0) {
            FieldElement one;
            F().One(one);
            F().Add(out.x, out.x, one);
        }
        F().Add(t, p.x, out.x);
        F().Mul(t, t, lambda);
        F().Add(t, t, out.x);
        F().Add(out.y, t, p.y);
        out.infinity = false;
        return out;
    }

    Affine Negate(const Affine& p) const
    {
        Affine out = p;
        if (!p.infinity) F().Add(out.y, p.x, p.y);
        return out;
    }

    // --- scalar multiplication ---

    // Montgomery ladder over x-coordinates: (X1 : Z1) = k P and
    // (X2 : Z2) = (k + 1) P for a scalar of `bits` bits whose top bit is set,
    // P with x != 0. The same steps for every scalar of that length: the
    // bits only choose, by masks, which of the two points each step adds
    // into and which it doubles.
    void Ladder(const FieldElement& x, const std::uint64_t* k, int bits, FieldElement& x1, FieldElement& z1,
                FieldElement& x2, FieldElement& z2) const
    {
        const BinaryField& f = F();
        x1 = x;
        f.One(z1);
        f.Sqr(z2, x);  // 2P = (x^4 + B : x^2)
        f.Sqr(x2, z2);
        f.Add(x2, x2, b);
        std::uint64_t swapped = 0;
        FieldElement t1, t2, u, v;
        for (int i = bits - 2; i >= 0; --i) {
            const std::uint64_t bit = (k[i >> 6] >> (i & 63)) & 1;
            const std::uint64_t mask = 0 - (bit ^ swapped);
            f.CondSwap(x1, x2, mask);
            f.CondSwap(z1, z2, mask);
            swapped = bit;
            // (X2 : Z2) = (X1 : Z1) + (X2 : Z2), whose difference is P:
            // Z = (X1 Z2 + X2 Z1)^2, X = x Z + X1 Z2 X2 Z1.
            f.Mul(t1, x1, z2);
            f.Mul(t2, x2, z1);
            f.Add(u, t1, t2);
            f.Sqr(z2, u);
            f.Mul(v, t1, t2);
            f.Mul(x2, x, z2);
            f.Add(x2, x2, v);
            // (X1 : Z1) = 2 (X1 : Z1): X = X^4 + B Z^4 = (X^2 + sqrt(B) Z^2)^2,
            // Z = X^2 Z^2.
            f.Sqr(t1, x1);
            f.Sqr(t2, z1);
            f.Mul(z1, t1, t2);
            f.Mul(t2, t2, sqrtB);
            f.Add(t1, t1, t2);
            f.Sqr(x1, t1);
        }
        const std::uint64_t mask = 0 - swapped;
        f.CondSwap(x1, x2, mask);
        f.CondSwap(z1, z2, mask);
        OPENSSL_cleanse(&t1, sizeof t1);
        OPENSSL_cleanse(&t2, sizeof t2);
        OPENSSL_cleanse(&u, sizeof u);
        OPENSSL_cleanse(&v, sizeof v);
    }

    // k P in affine coordinates from the ladder's two points (the y
    // recovery of projective x-only ladders).
    Affine Recover(const Affine& p, const FieldElement& x1, const FieldElement& z1, const FieldElement& x2,
                   const FieldElement& z2) const
    {
        const BinaryField& f = F();
        Affine out;
        if (f.IsZero(z1)) return out;        // k P = O
        if (f.IsZero(z2)) return Negate(p);  // (k + 1) P = O: k P = -P
        // x_k = X1 / Z1;
        // y_k = (x + x_k) [(X1 + x Z1)(X2 + x Z2) + (x^2 + y) Z1 Z2] / (x Z1 Z2) + y
        FieldElement zz, t, inv, a1, a2, c;
        f.Mul(zz, z1, z2);
        f.Mul(t, zz, p.x);
        f.Inv(inv, t);
        f.Mul(t, p.x, z2);
        f.Mul(t, t, inv);
        f.Mul(out.x, x1, t);  // X1 x Z2 / (x Z1 Z2)
        f.Mul(a1, p.x, z1);
        f.Add(a1, a1, x1);
        f.Mul(a2, p.x, z2);
        f.Add(a2, a2, x2);
        f.Mul(a1, a1, a2);
        f.Sqr(c, p.x);
        f.Add(c, c, p.y);
        f.Mul(c, c, zz);
        f.Add(a1, a1, c);
        f.Mul(a1, a1, inv);
        f.Add(t, p.x, out.x);
        f.Mul(a1, a1, t);
        f.Add(out.y, a1, p.y);
        out.infinity = false;
        return out;
    }

    // k in [1, n - 1] as k + n or k + 2n, whichever has nBits + 1 bits, chosen
    // by a mask: every secret scalar then takes a ladder of the same length.
    void FixedLength(const std::uint64_t* k, std::uint64_t* out) const
    {
        std::uint64_t k1[kScalarWords], k2[kScalarWords];
        AddWords(k1, k, nWords, kScalarWords);
        AddWords(k2, k1, nWords, kScalarWords);
        const std::uint64_t top = (k1[nBits >> 6] >> (nBits & 63)) & 1;
        const std::uint64_t mask = 0 - top;
        for (int i = 0; i < kScalarWords; ++i) out[i] = (k1[i] & mask) | (k2[i] & ~mask);
        OPENSSL_cleanse(k1, sizeof k1);
        OPENSSL_cleanse(k2, sizeof k2);
    }

    // The ladder's two points for k in [1, n - 1] (a secret or not), run on
    // k's fixed-length form; the points and that form are wiped when the run
    // goes out of scope.
    struct LadderRun {
        FieldElement x1, z1, x2, z2;
        LadderRun(const State& s, const FieldElement& x, const std::uint64_t* k)
        {
            std::uint64_t fixed[kScalarWords];
            s.FixedLength(k, fixed);
            s.Ladder(x, fixed, s.nBits + 1, x1, z1, x2, z2);
            OPENSSL_cleanse(fixed, sizeof fixed);
        }
        ~LadderRun() { OPENSSL_cleanse(this, sizeof *this); }
        LadderRun(const LadderRun&) = delete;
        LadderRun& operator=(const LadderRun&) = delete;
    };

    // k P for P of order n with x != 0.
    Affine Multiply(const Affine& p, const std::uint64_t* k) const
    {
        const LadderRun run(*this, p.x, k);
        return Recover(p, run.x1, run.z1, run.x2, run.z2);
    }

    // x(k P) alone: one inversion, no y.
    bool MultiplyX(const Affine& p, const std::uint64_t* k, FieldElement& x) const
    {
        const LadderRun run(*this, p.x, k);
        FieldElement inv;
        const bool finite = !F().IsZero(run.z1);
        F().Inv(inv, run.z1);
        F().Mul(x, run.x1, inv);
        return finite;
    }

    // Ok when n * P = O for a point P on the curve other than O.
    Result HasOrderN(const Affine& p) const
    {
        if (p.infinity || F().IsZero(p.x)) return Result::BadKey;  // O, or the point of order 2
        if (traceGivesOrder) return InSubgroupByHalving(p) ? Result::Ok : Result::BadKey;
        return LadderHasOrderN(p);
    }

    // The halvable points (2E) are those with Tr(x) = Tr(A). With 2n points
    // (cofactor 2) 2E is the subgroup of order n. With 4n points (cofactor
    // 4, A = 0) the part of order 4 is cyclic, the subgroup is 4E, and P is
    // in it when a half Q of P is halvable: Q = (u, .) with
    // lambda^2 + lambda = x + A and u^2 = y + x (lambda + 1); the other half,
    // Q plus the point of order 2, is halvable exactly when Q is.
    bool InSubgroupByHalving(const Affine& p) const
    {
        const BinaryField& f = F();
        const int trA = a == 0 ? 0 : (m & 1);
        if (f.Trace(p.x) != trA) return false;
        if (cofactor == 2) return true;
        FieldElement w, lambda, u;
        f.Copy(w, p.x);
        if (a != 0) w.w[0] ^= 1;
        f.HalfTrace(lambda, w);
        lambda.w[0] ^= 1;  // lambda + 1
        f.Mul(u, p.x, lambda);
        f.Add(u, u, p.y);
        f.Sqrt(u, u);
        return f.Trace(u) == trA;
    }

    Result LadderHasOrderN(const Affine& p) const
    {
        FieldElement x1, z1, x2, z2;
        Ladder(p.x, nWords, nBits, x1, z1, x2, z2);
        return F().IsZero(z1) ? Result::Ok : Result::BadKey;
    }

    // --- the base point's fixed windows ---

    // 2 P in Lopez-Dahab coordinates: Z = X^2 Z^2, X = X^4 + B Z^4,
    // Y = B Z^4 Z' + X' (A Z' + Y^2 + B Z^4).
    void DoubleProjective(Projective& r, const Projective& p) const
    {
        const BinaryField& f = F();
        FieldElement x2, z2, bz4, t;
        f.Sqr(x2, p.x);
        f.Sqr(z2, p.z);
        f.Sqr(bz4, z2);
        f.Mul(bz4, bz4, b);
        f.Mul(r.z, x2, z2);
        f.Sqr(x2, x2);
        f.Add(r.x, x2, bz4);
        f.Sqr(t, p.y);
        f.Add(t, t, bz4);
        if (a != 0) f.Add(t, t, r.z);
        f.Mul(t, t, r.x);
        f.Mul(bz4, bz4, r.z);
        f.Add(r.y, bz4, t);
    }

    // P + Q for P projective, Q affine, P != +-Q, neither O. Sets `same`
    // when the two share x (the formula does not hold then).
    void AddMixed(Projective& r, const Projective& p, const FieldElement& qx, const FieldElement& qy, bool& same) const
    {
        const BinaryField& f = F();
        // A = y2 Z1^2 + Y1; B = x2 Z1 + X1; C = Z1 B; D = B^2 (C + A Z1^2);
        // Z3 = C^2; E = A C; X3 = A^2 + D + E; F = X3 + x2 Z3;
        // G = (x2 + y2) Z3^2; Y3 = (E + Z3) F + G.
        FieldElement z2, aa, bb, c, d, e, t;
        f.Sqr(z2, p.z);
        f.Mul(aa, qy, z2);
        f.Add(aa, aa, p.y);
        f.Mul(bb, qx, p.z);
        f.Add(bb, bb, p.x);
        same = f.IsZero(bb);
        f.Mul(c, p.z, bb);
        f.Copy(t, c);
        if (a != 0) f.Add(t, t, z2);
        f.Sqr(d, bb);
        f.Mul(d, d, t);
        f.Sqr(r.z, c);
        f.Mul(e, aa, c);
        f.Sqr(r.x, aa);
        f.Add(r.x, r.x, d);
        f.Add(r.x, r.x, e);
        f.Mul(t, qx, r.z);
        f.Add(t, t, r.x);  // F
        f.Add(e, e, r.z);
        f.Mul(e, e, t);
        f.Add(t, qx, qy);
        f.Sqr(d, r.z);
        f.Mul(t, t, d);  // G
        f.Add(r.y, e, t);
        OPENSSL_cleanse(&aa, sizeof aa);
        OPENSSL_cleanse(&c, sizeof c);
        OPENSSL_cleanse(&e, sizeof e);
    }

    // d * 16^i * P for d = 1..15 in every window i of a scalar of nBits + 1
    // bits, affine, x then y in Words() words each.
    Table MakeTable(const Affine& p) const
    {
        const BinaryField& f = F();
        const int w = f.Words();
        Table table(static_cast<std::size_t>(windows) * kWindowEntries * 2 * static_cast<std::size_t>(w), 0);
        Affine windowBase = p;
        Projective points[kWindowEntries + 1];
        for (int i = 0; i < windows; ++i) {
            // d B for d = 1..16 projective, then all of them affine with one
            // inversion (each inverse from the running products).
            f.Copy(points[0].x, windowBase.x);
            f.Copy(points[0].y, windowBase.y);
            f.One(points[0].z);
            DoubleProjective(points[1], points[0]);
            for (int d = 2; d < kWindowEntries; ++d) {
                bool same = false;
                AddMixed(points[d], points[d - 1], windowBase.x, windowBase.y, same);
            }
            DoubleProjective(points[kWindowEntries], points[7]);
            FieldElement running[kWindowEntries + 1], inv, t;
            f.Copy(running[0], points[0].z);
            for (int d = 1; d <= kWindowEntries; ++d) f.Mul(running[d], running[d - 1], points[d].z);
            f.Inv(inv, running[kWindowEntries]);
            Affine affine[kWindowEntries + 1];
            for (int d = kWindowEntries; d >= 0; --d) {
                FieldElement zInv;
                if (d > 0) {
                    f.Mul(zInv, inv, running[d - 1]);
                    f.Mul(inv, inv, points[d].z);
                } else {
                    f.Copy(zInv, inv);
                }
                f.Mul(affine[d].x, points[d].x, zInv);
                f.Sqr(t, zInv);
                f.Mul(affine[d].y, points[d].y, t);
                affine[d].infinity = false;
            }
            for (int d = 0; d < kWindowEntries; ++d) {
                std::uint64_t* entry = &table[(static_cast<std::size_t>(i) * kWindowEntries + d) * 2 * w];
                std::memcpy(entry, affine[d].x.w, static_cast<std::size_t>(w) * 8);
                std::memcpy(entry + w, affine[d].y.w, static_cast<std::size_t>(w) * 8);
            }
            windowBase = affine[kWindowEntries];
        }
        return table;
    }

    const Table& BaseTable() const
    {
        std::call_once(tableOnce, [this] { baseTable = MakeTable(base); });
        return baseTable;
    }

    // k P from P's table: one mixed addition per window of the fixed-length
    // scalar. Every entry of a window is read and the one wanted kept by
    // masks; additions of a zero digit and the additions into O are made too
    // and dropped by masks. False for the scalars (about one in n) where an
    // addition meets its own point; the ladder serves those.
    bool MultiplyTable(const Table& table, const std::uint64_t* k, Projective& out) const
    {
        const BinaryField& f = F();
        const int w = f.Words();
        std::uint64_t fixed[kScalarWords];
        FixedLength(k, fixed);
        Projective acc, sum;
        f.Zero(acc.x);
        f.Zero(acc.y);
        f.Zero(acc.z);
        std::uint64_t accIsO = ~std::uint64_t(0);
        bool fallback = false;
        FieldElement ex, ey;
        for (int i = 0; i < windows; ++i) {
            const int bit = i * kWindowBits;
            const std::uint64_t digit = (fixed[bit >> 6] >> (bit & 63)) & ((1u << kWindowBits) - 1);
            f.Zero(ex);
            f.Zero(ey);
            const std::uint64_t* row = &table[static_cast<std::size_t>(i) * kWindowEntries * 2 * w];
            for (int d = 0; d < kWindowEntries; ++d) {
                const std::uint64_t mask = 0 - (((static_cast<std::uint64_t>(d + 1) ^ digit) - 1) >> 63);
                const std::uint64_t* entry = row + static_cast<std::size_t>(d) * 2 * w;
                for (int j = 0; j < w; ++j) {
                    ex.w[j] |= entry[j] & mask;
                    ey.w[j] |= entry[w + j] & mask;
                }
            }
            const std::uint64_t zeroDigit = 0 - ((digit - 1) >> 63);
            bool same = false;
            AddMixed(sum, acc, ex, ey, same);
            // acc = O: take the entry; zero digit: keep acc; else the sum.
            const std::uint64_t takeEntry = accIsO & ~zeroDigit;
            const std::uint64_t takeSum = ~accIsO & ~zeroDigit;
            // The sum's formula fails when acc = +-entry: possible only for
            // scalars the ladder then serves (about one in n).
            fallback |= same & (takeSum != 0);
            FieldElement one;
            f.One(one);
            for (int j = 0; j < w; ++j) {
                acc.x.w[j] = (acc.x.w[j] & ~(takeEntry | takeSum)) | (ex.w[j] & takeEntry) | (sum.x.w[j] & takeSum);
                acc.y.w[j] = (acc.y.w[j] & ~(takeEntry | takeSum)) | (ey.w[j] & takeEntry) | (sum.y.w[j] & takeSum);
                acc.z.w[j] = (acc.z.w[j] & ~(takeEntry | takeSum)) | (one.w[j] & takeEntry) | (sum.z.w[j] & takeSum);
            }
            accIsO &= zeroDigit;
        }
        out = acc;
        OPENSSL_cleanse(fixed, sizeof fixed);
        OPENSSL_cleanse(&ex, sizeof ex);
        OPENSSL_cleanse(&ey, sizeof ey);
        OPENSSL_cleanse(&acc, sizeof acc);
        OPENSSL_cleanse(&sum, sizeof sum);
        return !fallback;
    }

    Affine ToAffine(const Projective& p) const
    {
        Affine out;
        if (F().IsZero(p.z)) return out;
        FieldElement inv, t;
        F().Inv(inv, p.z);
        F().Mul(out.x, p.x, inv);
        F().Sqr(t, inv);
        F().Mul(out.y, p.y, t);
        out.infinity = false;
        return out;
    }

    Affine MultiplyWithTable(const Affine& point, const Table& table, const std::uint64_t* k) const
    {
        Projective p;
        if (!MultiplyTable(table, k, p)) return Multiply(point, k);
        Affine out = ToAffine(p);
        OPENSSL_cleanse(&p, sizeof p);
        return out;
    }

    Affine MultiplyBasePoint(const std::uint64_t* k) const
    {
        Projective p;
        if (!MultiplyTable(BaseTable(), k, p)) return Multiply(base, k);
        Affine out = ToAffine(p);
        OPENSSL_cleanse(&p, sizeof p);
        return out;
    }

    bool MultiplyBaseX(const std::uint64_t* k, FieldElement& x) const
    {
        Projective p;
        if (!MultiplyTable(BaseTable(), k, p)) return MultiplyX(base, k, x);
        FieldElement inv;
        const bool finite = !F().IsZero(p.z);
        F().Inv(inv, p.z);
        F().Mul(x, p.x, inv);
        OPENSSL_cleanse(&p, sizeof p);
        return finite;
    }

    // --- compression ---
    Result Decompress(const FieldElement& c, Affine& out) const
    {
        const BinaryField& f = F();
        out = Affine{};
        if (f.IsZero(c)) {
            // The point of order 2: (0, sqrt(B)).
            f.Zero(out.x);
            f.Sqrt(out.y, b);
            out.infinity = false;
            return Result::Ok;
        }
        const int k = static_cast<int>(c.w[0] & 1);
        FieldElement x = c;
        x.w[0] &= ~std::uint64_t(1);
        // Points of odd order have Tr(x) = Tr(A); that rebuilds bit 0.
        const int trA = a == 0 ? 0 : (m & 1);
        if (f.Trace(x) != trA) x.w[0] |= 1;
        if (f.IsZero(x)) return Result::BadKey;
        // y = z x with z^2 + z = x + A + B / x^2.
        FieldElement w, z, check;
        f.Sqr(w, x);
        f.Inv(w, w);
        f.Mul(w, w, b);
        f.Add(w, w, x);
        if (a != 0) w.w[0] ^= 1;
        f.HalfTrace(z, w);
        f.Sqr(check, z);
        f.Add(check, check, z);
        if (!f.Equal(check, w)) return Result::BadKey;
        if (f.Trace(z) != k) z.w[0] ^= 1;
        f.Mul(out.y, z, x);
        out.x = x;
        out.infinity = false;
        return Result::Ok;
    }

    Result CompressPoint(const Affine& p, Bytes& out) const
    {
        if (p.infinity) return Result::BadKey;
        FieldElement c = p.x;
        if (!F().IsZero(p.x)) {
            FieldElement z;
            F().Inv(z, p.x);
            F().Mul(z, z, p.y);
            c.w[0] = (c.w[0] & ~std::uint64_t(1)) | static_cast<std::uint64_t>(F().Trace(z));
        }
        out = ElementBytes(c);
        return Result::Ok;
    }

    // A public key: decompresses to a point of order n.
    Result LoadPublic(ByteSpan bytes, Affine& q) const
    {
        FieldElement c;
        if (!Element(bytes, c) || F().IsZero(c)) return Result::BadKey;
        Result r = Decompress(c, q);
        if (r != Result::Ok) return r;
        publicKeyChecks.fetch_add(1, std::memory_order_relaxed);
        return HasOrderN(q);
    }

    // LoadPublic through the kept checks: a key seen before is not checked
    // again. Only keys that passed are kept. A key verified often gets a
    // window table, handed out in `table` (null until then).
    Result LoadCheckedPublic(ByteSpan bytes, Affine& q, std::shared_ptr<const Table>* table = nullptr) const
    {
        const std::size_t size = FieldBytes();
        Bytes key(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(std::min(size, bytes.size())));
        if (!IsZeroFrom(bytes, key.size())) return Result::BadKey;
        key.resize(size, 0);
        bool found = false, makeTable = false;
        {
            std::lock_guard<std::mutex> hold(checkedLock);
            for (auto it = checked.begin(); it != checked.end() && !found; ++it) {
                if (it->compressed != key) continue;
                found = true;
                q = it->point;
                if (table != nullptr) {
                    *table = it->table;
                    makeTable = !it->table && ++it->uses == kUsesBeforeTable;
                }
                // Most recently used last.
                std::rotate(it, it + 1, checked.end());
            }
        }
        if (found) {
            if (makeTable) {
                auto made = std::make_shared<const Table>(MakeTable(q));
                std::lock_guard<std::mutex> hold(checkedLock);
                for (CheckedKey& k : checked)
                    if (k.compressed == key) k.table = made;
                *table = std::move(made);
            }
            return Result::Ok;
        }
        Result r = LoadPublic(bytes, q);
        if (r != Result::Ok) return r;
        std::lock_guard<std::mutex> hold(checkedLock);
        for (const CheckedKey& k : checked)
            if (k.compressed == key) return Result::Ok;  // another thread kept it meanwhile
        if (checked.size() >= kCheckedKeysKept) checked.erase(checked.begin());
        checked.push_back(CheckedKey{std::move(key), q, 0, nullptr});
        return Result::Ok;
    }

    // A scalar in [1, n - 1]. Scalars are secrets (private keys and one-time
    // values): OpenSSL takes its constant-time paths for them.
    Result LoadScalar(ByteSpan bytes, Bn& out) const
    {
        out = FromLe(bytes);
        if (!out) return Result::InternalError;
        BN_set_flags(out.get(), BN_FLG_CONSTTIME);
        if (BN_is_zero(out.get()) || BN_cmp(out.get(), n.get()) >= 0) return Result::BadKey;
        return Result::Ok;
    }

    // The scalar's words for the ladder; false when it does not fit.
    bool LadderScalar(const BIGNUM* v, std::uint64_t* words) const
    {
        std::uint8_t bytes[kScalarWords * 8];
        if (BN_bn2lebinpad(v, bytes, static_cast<int>(sizeof bytes)) < 0) return false;
        const bool ok = BytesToWords(ByteSpan(bytes, sizeof bytes), words, kScalarWords);
        OPENSSL_cleanse(bytes, sizeof bytes);
        return ok;
    }

    Result HashToField(ByteSpan hash, FieldElement& h) const
    {
        if (hash.empty()) return Result::BadHash;
        // The hash as a little-endian number cut to its m low bits.
        std::uint8_t bytes[kFieldMaxWords * 8] = {};
        std::memcpy(bytes, hash.data(), std::min(hash.size(), sizeof bytes));
        F().Zero(h);
        for (int i = 0; i < F().Words(); ++i)
            for (int j = 0; j < 8; ++j) h.w[i] |= std::uint64_t(bytes[8 * i + j]) << (8 * j);
        if ((m & 63) != 0) h.w[F().Words() - 1] &= (std::uint64_t(1) << (m & 63)) - 1;
        if (F().IsZero(h)) h.w[0] = 1;
        return Result::Ok;
    }

    // r from a field element: the element read as a number, cut to
    // nBits - 1 bits so that r < n.
    Bytes Truncate(const FieldElement& v) const
    {
        Bytes out(OrderBytes(), 0);
        const int keep = nBits - 1;
        for (int i = 0; i < keep && i / 8 < static_cast<int>(out.size()); ++i)
            if ((v.w[i >> 6] >> (i & 63)) & 1) out[static_cast<std::size_t>(i / 8)] |= std::uint8_t(1u << (i % 8));
        return out;
    }

    std::size_t FieldBytes() const { return static_cast<std::size_t>((m + 7) / 8); }
    std::size_t OrderBytes() const { return static_cast<std::size_t>((nBits + 7) / 8); }
};

namespace {

// t^(2^m) = t (mod f): for prime m this is irreducibility, else a necessary
// condition that still rejects most mistyped polynomials.
bool PassesIrreducibility(const BinaryField& f)
{
    FieldElement t, x;
    f.Zero(t);
    t.w[0] = 2;
    f.SqrTimes(x, t, f.M());
    return f.Equal(x, t);
}

bool AllZero(const Bytes& v)
{
    return std::all_of(v.begin(), v.end(), [](std::uint8_t c) { return c == 0; });
}

}  // namespace

Engine::Engine(std::unique_ptr<State> state) : state_(std::move(state)) {}
Engine::~Engine() = default;

std::unique_ptr<Engine> Engine::Create(const Curve& curve, Result* why)
{
    Result dummy;
    Result& res = why != nullptr ? *why : dummy;
    res = Result::BadParameters;
    const int m = curve.m, k = curve.k, j = curve.j, l = curve.l;
    if (m <= 0 || m > kMaxFieldDegree) return nullptr;
    if (k == 0 && j == 0 && l == 0) {
        res = Result::NormalBasis;
        return nullptr;
    }
    const bool trinomial = j == 0 && l == 0;
    if (!(m > k && k > 0) || (!trinomial && !(k > j && j > l && l > 0))) return nullptr;
    // Decompression solves the quadratic by the half-trace, which needs odd m.
    if (m % 2 == 0 || (curve.a != 0 && curve.a != 1)) return nullptr;
    if (!BinaryField::Valid(m, k, j, l)) return nullptr;

    auto s = std::make_unique<State>();
    s->m = m;
    s->a = curve.a;
    s->cofactor = curve.a == 1 ? 2 : 4;
    s->field = std::make_unique<BinaryField>(m, k, j, l);
    const BinaryField& f = *s->field;
    if (!PassesIrreducibility(f)) return nullptr;
    FieldElement pc;
    if (AllZero(curve.b) || !s->Element(curve.b, s->b) || !s->Element(curve.p, pc)) return nullptr;
    f.Sqrt(s->sqrtB, s->b);

    Ctx ctx(BN_CTX_new());
    Bn nBn(FromLe(curve.n));
    if (!ctx || !nBn) {
        res = Result::InternalError;
        return nullptr;
    }
    const int nBits = BN_num_bits(nBn.get());
    if (nBits < 2 || (curve.nBits != 0 && curve.nBits != nBits) || nBits > m + 1) return nullptr;
    s->nBits = nBits;
    // The curve has cofactor * n points: Hasse bound |c n - 2^m - 1| <= 2^(m/2 + 1).
    {
        Bn t(NewBn()), bound(NewBn());
        if (!t || !bound || !BN_copy(t.get(), nBn.get()) || !BN_mul_word(t.get(), static_cast<BN_ULONG>(s->cofactor)) ||
            !BN_sub_word(t.get(), 1) || !BN_set_bit(bound.get(), m) || !BN_sub(t.get(), t.get(), bound.get()) ||
            !BN_sqr(t.get(), t.get(), ctx.get())) {
            res = Result::InternalError;
            return nullptr;
        }
        BN_zero(bound.get());
        if (!BN_set_bit(bound.get(), m + 2)) {
            res = Result::InternalError;
            return nullptr;
        }
        if (BN_cmp(t.get(), bound.get()) > 0) return nullptr;
    }
    if (!BN_is_odd(nBn.get()) || BN_check_prime(nBn.get(), ctx.get(), nullptr) != 1) return nullptr;
    s->mont.reset(BN_MONT_CTX_new());
    if (!s->mont || !BN_MONT_CTX_set(s->mont.get(), nBn.get(), ctx.get()) || !s->LadderScalar(nBn.get(), s->nWords)) {
        res = Result::InternalError;
        return nullptr;
    }
    s->n = std::move(nBn);

    if (f.IsZero(pc)) return nullptr;  // the point of order 2 is never a base point
    if (s->Decompress(pc, s->base) != Result::Ok) return nullptr;
    if (s->LadderHasOrderN(s->base) != Result::Ok) return nullptr;
    // n P = O with n prime puts n among the divisors of the number of points;
    // that number and 2n both lie in the Hasse interval, which holds one
    // multiple of n once n is wider than the interval.
    s->traceGivesOrder = nBits > m / 2 + 4;
    s->windows = (nBits + 1 + kWindowBits - 1) / kWindowBits;
    res = Result::Ok;
    return std::unique_ptr<Engine>(new Engine(std::move(s)));
}

unsigned long Engine::PublicKeyChecks() const
{
    return state_->publicKeyChecks.load();
}
int Engine::M() const
{
    return state_->m;
}
int Engine::NBits() const
{
    return state_->nBits;
}
int Engine::Cofactor() const
{
    return state_->cofactor;
}
std::size_t Engine::FieldBytes() const
{
    return state_->FieldBytes();
}
std::size_t Engine::OrderBytes() const
{
    return state_->OrderBytes();
}
std::size_t Engine::SignatureBytes() const
{
    return 2 * state_->OrderBytes();
}

Result Engine::GenerateKey(Bytes& privateKey, Bytes& publicKey) const
{
    const State& s = *state_;
    Bn d(NewBn());
    if (!d) return Result::InternalError;
    BN_set_flags(d.get(), BN_FLG_CONSTTIME);
    do {
        if (!BN_priv_rand_range(d.get(), s.n.get())) return Result::RandomFailure;
    } while (BN_is_zero(d.get()));
    Bytes dBytes;
    if (!ToLe(d.get(), s.OrderBytes(), dBytes)) return Result::InternalError;
    Bytes q;
    Result r = PublicFromPrivate(dBytes, q);
    if (r != Result::Ok) {
        OPENSSL_cleanse(dBytes.data(), dBytes.size());
        return r;
    }
    privateKey.swap(dBytes);
    OPENSSL_cleanse(dBytes.data(), dBytes.size());
    publicKey.swap(q);
    return Result::Ok;
}

Result Engine::PublicFromPrivate(ByteSpan privateKey, Bytes& publicKey) const
{
    const State& s = *state_;
    Bn d;
    Result r = s.LoadScalar(privateKey, d);
    if (r != Result::Ok) return r;
    std::uint64_t dw[kScalarWords];
    if (!s.LadderScalar(d.get(), dw)) return Result::InternalError;
    // Q = -dP.
    const Affine q = s.Negate(s.MultiplyBasePoint(dw));
    OPENSSL_cleanse(dw, sizeof dw);
    return s.CompressPoint(q, publicKey);
}

Result Engine::CheckPublicKey(ByteSpan publicKey) const
{
    Affine q;
    return state_->LoadPublic(publicKey, q);
}

Result Engine::Sign(ByteSpan hash, ByteSpan privateKey, Bytes& signature, ByteSpan nonce) const
{
    const State& s = *state_;
    Ctx ctx(BN_CTX_new());
    Bn e(NewBn()), ss(NewBn()), dr(NewBn()), rr;
    if (!ctx || !e || !ss || !dr) return Result::InternalError;
    // The one-time value and everything computed from the private key stay
    // on constant-time paths.
    for (BIGNUM* secret : {e.get(), ss.get(), dr.get()}) BN_set_flags(secret, BN_FLG_CONSTTIME);
    FieldElement h;
    Result res = s.HashToField(hash, h);
    if (res != Result::Ok) return res;
    Bn d;
    res = s.LoadScalar(privateKey, d);
    if (res != Result::Ok) return res;
    const bool fixedNonce = !nonce.empty();
    if (fixedNonce) {
        Bn given;
        if (s.LoadScalar(nonce, given) != Result::Ok) return Result::BadNonce;
        if (!BN_copy(e.get(), given.get())) return Result::InternalError;
    }
    Bytes rBytes;
    std::uint64_t ew[kScalarWords];
    for (;;) {
        if (!fixedNonce) {
            do {
                if (!BN_priv_rand_range(e.get(), s.n.get())) return Result::RandomFailure;
            } while (BN_is_zero(e.get()));
        }
        // Presignature: Fe = x(eP); then r = trunc(h * Fe), s = e + d r mod n.
        FieldElement fe, y;
        if (!s.LadderScalar(e.get(), ew)) return Result::InternalError;
        const bool finite = s.MultiplyBaseX(ew, fe);
        OPENSSL_cleanse(ew, sizeof ew);
        bool retry = !finite || s.F().IsZero(fe);
        if (!retry) {
            s.F().Mul(y, h, fe);
            rBytes = s.Truncate(y);
            retry = AllZero(rBytes);
        }
        if (!retry) {
            rr = FromLe(rBytes);
            // s = e + d r mod n: d r in Montgomery form (d R, then times r and
            // R^-1), and an addition of two numbers below n.
            if (!rr || !BN_to_montgomery(dr.get(), d.get(), s.mont.get(), ctx.get()) ||
                !BN_mod_mul_montgomery(dr.get(), dr.get(), rr.get(), s.mont.get(), ctx.get()) ||
                !BN_mod_add_quick(ss.get(), dr.get(), e.get(), s.n.get()))
                return Result::InternalError;
            retry = BN_is_zero(ss.get());
        }
        if (!retry) break;
        if (fixedNonce) return Result::BadNonce;
    }
    const std::size_t len = s.OrderBytes();
    Bytes out(2 * len);
    std::copy(rBytes.begin(), rBytes.end(), out.begin());
    if (BN_bn2lebinpad(ss.get(), out.data() + len, static_cast<int>(len)) < 0) return Result::InternalError;
    signature.swap(out);
    return Result::Ok;
}

Result Engine::Verify(ByteSpan hash, ByteSpan publicKey, ByteSpan signature) const
{
    const State& s = *state_;
    const std::size_t len = s.OrderBytes();
    if (signature.size() < 2 * len || !IsZeroFrom(signature, 2 * len)) return Result::BadSignature;
    FieldElement h;
    Result res = s.HashToField(hash, h);
    if (res != Result::Ok) return res;
    Affine q;
    std::shared_ptr<const Table> qTable;
    res = s.LoadCheckedPublic(publicKey, q, &qTable);
    if (res != Result::Ok) return res;
    Bn rr(FromLe(signature.first(len))), ss(FromLe(signature.subspan(len, len)));
    if (!rr || !ss) return Result::InternalError;
    if (BN_is_zero(rr.get()) || BN_is_zero(ss.get()) || BN_cmp(rr.get(), s.n.get()) >= 0 ||
        BN_cmp(ss.get(), s.n.get()) >= 0)
        return Result::BadSignature;
    std::uint64_t rw[kScalarWords], sw[kScalarWords];
    if (!s.LadderScalar(rr.get(), rw) || !s.LadderScalar(ss.get(), sw)) return Result::InternalError;
    // R = sP + rQ; valid when trunc(h * x(R)) = r.
    const Affine rq = qTable ? s.MultiplyWithTable(q, *qTable, rw) : s.Multiply(q, rw);
    const Affine big = s.Add(s.MultiplyBasePoint(sw), rq);
    if (big.infinity) return Result::BadSignature;
    FieldElement y;
    s.F().Mul(y, h, big.x);
    return s.Truncate(y) == Bytes(signature.begin(), signature.begin() + static_cast<std::ptrdiff_t>(len))
               ? Result::Ok
               : Result::BadSignature;
}

Result Engine::Agree(ByteSpan privateKey, ByteSpan peerPublicKey, Bytes& sharedX, Bytes* sharedY) const
{
    const State& s = *state_;
    Ctx ctx(BN_CTX_new());
    if (!ctx) return Result::InternalError;
    Bn d;
    Result res = s.LoadScalar(privateKey, d);
    if (res != Result::Ok) return res;
    Affine q;
    res = s.LoadCheckedPublic(peerPublicKey, q);
    if (res != Result::Ok) return res;
    // Q has order n, so cofactor * d * Q = (cofactor * d mod n) Q, a scalar
    // in [1, n - 1] (n is a prime above the cofactor).
    Bn cofactor(NewBn()), t(NewBn());
    if (!cofactor || !t || !BN_set_word(cofactor.get(), static_cast<BN_ULONG>(s.cofactor)))
        return Result::InternalError;
    BN_set_flags(t.get(), BN_FLG_CONSTTIME);
    if (!BN_mod_mul(t.get(), d.get(), cofactor.get(), s.n.get(), ctx.get())) return Result::InternalError;
    std::uint64_t tw[kScalarWords];
    if (!s.LadderScalar(t.get(), tw)) return Result::InternalError;
    const Affine z = s.Multiply(q, tw);
    OPENSSL_cleanse(tw, sizeof tw);
    if (z.infinity) return Result::BadKey;
    Bytes outX = s.ElementBytes(z.x), outY;
    if (sharedY) outY = s.ElementBytes(z.y);
    sharedX.swap(outX);
    if (sharedY) sharedY->swap(outY);
    return Result::Ok;
}

Result Engine::Compress(ByteSpan x, ByteSpan y, Bytes& compressed) const
{
    const State& s = *state_;
    Affine p;
    if (!s.Element(x, p.x) || !s.Element(y, p.y) || !s.OnCurve(p.x, p.y)) return Result::BadKey;
    p.infinity = false;
    // The compressed form keeps x and one bit: only for points of order n
    // does decompression give the same point back.
    Result r = s.HasOrderN(p);
    if (r != Result::Ok) return r;
    return s.CompressPoint(p, compressed);
}

Result Engine::Decompress(ByteSpan compressed, Bytes& x, Bytes& y) const
{
    const State& s = *state_;
    FieldElement c;
    if (!s.Element(compressed, c)) return Result::BadKey;
    Affine p;
    Result r = s.Decompress(c, p);
    if (r != Result::Ok) return r;
    x = s.ElementBytes(p.x);
    y = s.ElementBytes(p.y);
    return Result::Ok;
}

int Engine::Trace(ByteSpan element) const
{
    const State& s = *state_;
    FieldElement v;
    if (!s.Element(element, v)) return -1;
    return s.F().Trace(v);
}

Result Engine::HashToField(ByteSpan hash, Bytes& element) const
{
    const State& s = *state_;
    FieldElement h;
    Result r = s.HashToField(hash, h);
    if (r != Result::Ok) return r;
    element = s.ElementBytes(h);
    return Result::Ok;
}

Result Engine::AddPublicKeys(ByteSpan first, ByteSpan second, Bytes& sum) const
{
    const State& s = *state_;
    Affine a, b;
    Result r = s.LoadPublic(first, a);
    if (r == Result::Ok) r = s.LoadPublic(second, b);
    if (r != Result::Ok) return r;
    return s.CompressPoint(s.Add(a, b), sum);
}

Result Engine::CommitNonce(ByteSpan nonce, Bytes& point) const
{
    const State& s = *state_;
    Bn e;
    if (s.LoadScalar(nonce, e) != Result::Ok) return Result::BadNonce;
    std::uint64_t ew[kScalarWords];
    if (!s.LadderScalar(e.get(), ew)) return Result::InternalError;
    const Affine q = s.MultiplyBasePoint(ew);
    OPENSSL_cleanse(ew, sizeof ew);
    return s.CompressPoint(q, point);
}

Result Engine::RFromPoint(ByteSpan hash, ByteSpan point, Bytes& r) const
{
    const State& s = *state_;
    FieldElement h, c;
    Result res = s.HashToField(hash, h);
    if (res != Result::Ok) return res;
    if (!s.Element(point, c)) return Result::BadKey;
    Affine p;
    res = s.Decompress(c, p);
    if (res != Result::Ok) return res;
    if (s.F().IsZero(p.x)) return Result::BadNonce;
    FieldElement y;
    s.F().Mul(y, h, p.x);
    Bytes out = s.Truncate(y);
    if (AllZero(out)) return Result::BadNonce;
    r.swap(out);
    return Result::Ok;
}

Result Engine::ScalarMulAdd(ByteSpan e, ByteSpan d, ByteSpan r, Bytes& out) const
{
    const State& s = *state_;
    Ctx ctx(BN_CTX_new());
    Bn be(FromLe(e)), br(FromLe(r)), t(NewBn());
    if (!ctx || !be || !br || !t) return Result::InternalError;
    if (BN_cmp(be.get(), s.n.get()) >= 0 || BN_cmp(br.get(), s.n.get()) >= 0) return Result::BadKey;
    if (d.empty()) {
        if (!BN_copy(t.get(), br.get())) return Result::InternalError;
    } else {
        Bn bd;
        Result res = s.LoadScalar(d, bd);
        if (res != Result::Ok) return res;
        if (!BN_mod_mul(t.get(), bd.get(), br.get(), s.n.get(), ctx.get())) return Result::InternalError;
    }
    if (!BN_mod_add(t.get(), t.get(), be.get(), s.n.get(), ctx.get())) return Result::InternalError;
    return ToLe(t.get(), s.OrderBytes(), out) ? Result::Ok : Result::InternalError;
}

}  // namespace dstu4145
