// DSTU 4145-2002 over OpenSSL's binary-field arithmetic. OpenSSL does the
// group law and scalar multiplication; the standard's own pieces (trace,
// half-trace, point compression, hash mapping, truncation of r) are here.
#include "dstu4145/DSTU4145.h"

#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <openssl/ec.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>

namespace dstu4145 {

namespace {

// The records hold numbers in 19 words; the field polynomial must fit too.
constexpr int kMaxFieldDegree = 19 * 32 - 1;
constexpr std::size_t kNumberWords = 19;
constexpr std::size_t kDeviceNumberBytes = 72;

struct BnFree {
    void operator()(BIGNUM* p) const { BN_clear_free(p); }
};
struct CtxFree {
    void operator()(BN_CTX* p) const { BN_CTX_free(p); }
};
struct PointFree {
    void operator()(EC_POINT* p) const { EC_POINT_clear_free(p); }
};
struct GroupFree {
    void operator()(EC_GROUP* p) const { EC_GROUP_free(p); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;
using Ctx = std::unique_ptr<BN_CTX, CtxFree>;
using Point = std::unique_ptr<EC_POINT, PointFree>;
using Group = std::unique_ptr<EC_GROUP, GroupFree>;
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

std::uint32_t LoadWord(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

void StoreWord(std::uint8_t* p, std::uint32_t v)
{
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
    p[2] = std::uint8_t(v >> 16);
    p[3] = std::uint8_t(v >> 24);
}

Bytes WordsToBytes(const std::uint32_t* words, std::size_t count)
{
    Bytes out(count * 4);
    for (std::size_t i = 0; i < count; ++i) StoreWord(&out[i * 4], words[i]);
    return out;
}

// Little-endian bytes into `count` words; false when a nonzero byte does not fit.
bool BytesToWords(const Bytes& bytes, std::uint32_t* words, std::size_t count)
{
    std::fill(words, words + count, 0u);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i >= count * 4) {
            if (bytes[i] != 0) return false;
            continue;
        }
        words[i / 4] |= std::uint32_t(bytes[i]) << (8 * (i % 4));
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
    for (int i = 0; i < 4; ++i) field[20 + i] = LoadWord(&record[4 * i]);
    field[0] = LoadWord(&record[16]);
    field[24] = LoadWord(&record[20]);
    for (std::size_t i = 0; i < 18; ++i) {
        field[1 + i] = LoadWord(&record[24 + 4 * i]);
        point[19 + i] = LoadWord(&record[96 + 4 * i]);
        point[i] = LoadWord(&record[168 + 4 * i]);
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
    for (int i = 0; i < 4; ++i) StoreWord(&out[4 * i], field[20 + i]);
    StoreWord(&out[16], field[0]);
    StoreWord(&out[20], field[24]);
    for (std::size_t i = 0; i < kDeviceNumberBytes / 4; ++i) {
        StoreWord(&out[24 + 4 * i], field[1 + i]);
        StoreWord(&out[96 + 4 * i], point[19 + i]);
        StoreWord(&out[168 + 4 * i], point[i]);
    }
    std::memcpy(record, out, sizeof out);
    return Result::Ok;
}

// ---------------------------------------------------------------------------

struct Engine::State {
    int m = 0;
    int a = 0;
    int nBits = 0;
    int cofactor = 0;
    int poly[6] = {};  // exponents of f(t), decreasing, ending in 0 and -1
    Bn b;
    Bn n;
    Mont mont;  // Montgomery form modulo n, for constant-time s = e + d r
    Group group;

    // Checked public keys, newest last, keyed by their compressed form in
    // FieldBytes() bytes.
    struct CheckedKey {
        Bytes compressed;
        Point point;
    };
    mutable std::mutex checkedLock;
    mutable std::vector<CheckedKey> checked;
    mutable std::atomic<unsigned long> publicKeyChecks{0};

    // --- field arithmetic modulo f(t) ---
    bool IsElement(const BIGNUM* v) const { return !BN_is_negative(v) && BN_num_bits(v) <= m; }

    bool Mul(BIGNUM* r, const BIGNUM* x, const BIGNUM* y, BN_CTX* ctx) const
    {
        return BN_GF2m_mod_mul_arr(r, x, y, poly, ctx) == 1;
    }
    bool Sqr(BIGNUM* r, const BIGNUM* x, BN_CTX* ctx) const { return BN_GF2m_mod_sqr_arr(r, x, poly, ctx) == 1; }
    bool Inv(BIGNUM* r, const BIGNUM* x, BN_CTX* ctx) const
    {
        return !BN_is_zero(x) && BN_GF2m_mod_inv_arr(r, x, poly, ctx) == 1;
    }

    // Tr(x) = x + x^2 + x^4 + ... + x^(2^(m-1)); 0 or 1, -1 on failure.
    int Trace(const BIGNUM* x, BN_CTX* ctx) const
    {
        Bn t(BN_dup(x)), s(BN_dup(x));
        if (!t || !s) return -1;
        for (int i = 1; i < m; ++i) {
            if (!Sqr(t.get(), t.get(), ctx) || !BN_GF2m_add(s.get(), s.get(), t.get())) return -1;
        }
        if (BN_is_zero(s.get())) return 0;
        if (BN_is_one(s.get())) return 1;
        return -1;
    }

    // For odd m, z = sum of w^(4^i), i = 0..(m-1)/2, solves z^2 + z = w
    // whenever Tr(w) = 0. False when there is no solution.
    bool SolveQuadratic(BIGNUM* z, const BIGNUM* w, BN_CTX* ctx) const
    {
        Bn t(BN_dup(w)), check(NewBn());
        if (!t || !check || !BN_copy(z, w)) return false;
        for (int i = 1; i <= (m - 1) / 2; ++i) {
            if (!Sqr(t.get(), t.get(), ctx) || !Sqr(t.get(), t.get(), ctx) || !BN_GF2m_add(z, z, t.get())) return false;
        }
        if (!Sqr(check.get(), z, ctx) || !BN_GF2m_add(check.get(), check.get(), z)) return false;
        return BN_cmp(check.get(), w) == 0;
    }

    // --- points ---
    Point NewPoint() const { return Point(EC_POINT_new(group.get())); }

    Result Decompress(const BIGNUM* c, BIGNUM* x, BIGNUM* y, BN_CTX* ctx) const
    {
        if (!IsElement(c)) return Result::BadKey;
        if (BN_is_zero(c)) {
            // The point of order 2: (0, sqrt(B)).
            BN_zero(x);
            return BN_GF2m_mod_sqrt_arr(y, b.get(), poly, ctx) == 1 ? Result::Ok : Result::InternalError;
        }
        const int k = BN_is_bit_set(c, 0);
        if (!BN_copy(x, c) || !BN_clear_bit(x, 0)) return Result::InternalError;
        // Points of odd order have Tr(x) = Tr(A); that rebuilds bit 0.
        const int trX = Trace(x, ctx);
        const int trA = a == 0 ? 0 : (m & 1);
        if (trX < 0) return Result::InternalError;
        if (trX != trA && !BN_set_bit(x, 0)) return Result::InternalError;
        if (BN_is_zero(x)) return Result::BadKey;
        // y = z x with z^2 + z = x + A + B / x^2.
        Bn w(NewBn()), z(NewBn());
        if (!w || !z || !Sqr(w.get(), x, ctx) || !Inv(w.get(), w.get(), ctx) || !Mul(w.get(), w.get(), b.get(), ctx) ||
            !BN_GF2m_add(w.get(), w.get(), x))
            return Result::InternalError;
        if (a != 0 && !BN_GF2m_add(w.get(), w.get(), BN_value_one())) return Result::InternalError;
        if (!SolveQuadratic(z.get(), w.get(), ctx)) return Result::BadKey;
        const int trZ = Trace(z.get(), ctx);
        if (trZ < 0) return Result::InternalError;
        if (trZ != k && !BN_GF2m_add(z.get(), z.get(), BN_value_one())) return Result::InternalError;
        return Mul(y, z.get(), x, ctx) ? Result::Ok : Result::InternalError;
    }

    Result Compress(const BIGNUM* x, const BIGNUM* y, BIGNUM* out, BN_CTX* ctx) const
    {
        if (BN_is_zero(x)) {
            BN_zero(out);
            return Result::Ok;
        }
        Bn z(NewBn());
        if (!z || !Inv(z.get(), x, ctx) || !Mul(z.get(), z.get(), y, ctx)) return Result::InternalError;
        const int k = Trace(z.get(), ctx);
        if (k < 0 || !BN_copy(out, x)) return Result::InternalError;
        const bool ok = k ? BN_set_bit(out, 0) == 1 : BN_clear_bit(out, 0) == 1;
        return ok ? Result::Ok : Result::InternalError;
    }

    Result CompressPoint(const EC_POINT* p, Bytes& out, BN_CTX* ctx) const
    {
        Bn x(NewBn()), y(NewBn()), c(NewBn());
        if (!x || !y || !c) return Result::InternalError;
        if (EC_POINT_is_at_infinity(group.get(), p)) return Result::BadKey;
        if (!EC_POINT_get_affine_coordinates(group.get(), p, x.get(), y.get(), ctx)) return Result::InternalError;
        Result r = Compress(x.get(), y.get(), c.get(), ctx);
        if (r != Result::Ok) return r;
        return ToLe(c.get(), FieldBytes(), out) ? Result::Ok : Result::InternalError;
    }

    // A public key: decompresses to a point of order n.
    Result LoadPublic(ByteSpan bytes, EC_POINT* q, BN_CTX* ctx) const
    {
        Bn c(FromLe(bytes)), x(NewBn()), y(NewBn());
        if (!c || !x || !y) return Result::InternalError;
        if (BN_is_zero(c.get())) return Result::BadKey;
        Result r = Decompress(c.get(), x.get(), y.get(), ctx);
        if (r != Result::Ok) return r;
        if (!EC_POINT_set_affine_coordinates(group.get(), q, x.get(), y.get(), ctx)) return Result::BadKey;
        publicKeyChecks.fetch_add(1, std::memory_order_relaxed);
        return HasOrderN(q, ctx);
    }

    // Ok when n * P = O for a point P on the curve other than O.
    Result HasOrderN(const EC_POINT* pt, BN_CTX* ctx) const
    {
        if (EC_POINT_is_at_infinity(group.get(), pt)) return Result::BadKey;
        Point t = NewPoint();
        if (!t || !EC_POINT_mul(group.get(), t.get(), nullptr, pt, n.get(), ctx)) return Result::InternalError;
        return EC_POINT_is_at_infinity(group.get(), t.get()) ? Result::Ok : Result::BadKey;
    }

    // LoadPublic through the kept checks: a key seen before is not checked
    // again. Only keys that passed are kept.
    Result LoadCheckedPublic(ByteSpan bytes, EC_POINT* q, BN_CTX* ctx) const
    {
        const std::size_t size = FieldBytes();
        Bytes key(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(std::min(size, bytes.size())));
        if (!IsZeroFrom(bytes, key.size())) return Result::BadKey;
        key.resize(size, 0);
        {
            std::lock_guard<std::mutex> hold(checkedLock);
            for (auto it = checked.begin(); it != checked.end(); ++it) {
                if (it->compressed != key) continue;
                if (!EC_POINT_copy(q, it->point.get())) return Result::InternalError;
                // Most recently used last.
                std::rotate(it, it + 1, checked.end());
                return Result::Ok;
            }
        }
        Result r = LoadPublic(bytes, q, ctx);
        if (r != Result::Ok) return r;
        Point kept(EC_POINT_dup(q, group.get()));
        if (!kept) return Result::Ok;  // no room to keep it: checked again next time
        std::lock_guard<std::mutex> hold(checkedLock);
        for (const CheckedKey& k : checked)
            if (k.compressed == key) return Result::Ok;  // another thread kept it meanwhile
        if (checked.size() >= kCheckedKeysKept) checked.erase(checked.begin());
        checked.push_back(CheckedKey{std::move(key), std::move(kept)});
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

    Result HashToField(ByteSpan hash, BIGNUM* h) const
    {
        if (hash.empty()) return Result::BadHash;
        if (!BN_lebin2bn(hash.data(), static_cast<int>(hash.size()), h)) return Result::InternalError;
        if (BN_num_bits(h) > m && !BN_mask_bits(h, m)) return Result::InternalError;
        if (BN_is_zero(h) && !BN_one(h)) return Result::InternalError;
        return Result::Ok;
    }

    // r from a field element: the element read as a number, cut to
    // nBits - 1 bits so that r < n.
    bool Truncate(BIGNUM* v) const { return BN_num_bits(v) < nBits || BN_mask_bits(v, nBits - 1) == 1; }

    std::size_t FieldBytes() const { return static_cast<std::size_t>((m + 7) / 8); }
    std::size_t OrderBytes() const { return static_cast<std::size_t>((nBits + 7) / 8); }
};

namespace {

// t^(2^m) = t (mod f): for prime m this is irreducibility, else a necessary
// condition that still rejects most mistyped polynomials.
bool PassesIrreducibility(const int* poly, int m, BN_CTX* ctx)
{
    Bn t(BN_new()), x(BN_new());
    if (!t || !x || !BN_set_word(t.get(), 2) || !BN_copy(x.get(), t.get())) return false;
    for (int i = 0; i < m; ++i)
        if (!BN_GF2m_mod_sqr_arr(x.get(), x.get(), poly, ctx)) return false;
    return BN_cmp(x.get(), t.get()) == 0;
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

    auto s = std::make_unique<State>();
    s->m = m;
    s->a = curve.a;
    s->cofactor = curve.a == 1 ? 2 : 4;
    int* p = s->poly;
    *p++ = m;
    *p++ = k;
    if (!trinomial) {
        *p++ = j;
        *p++ = l;
    }
    *p++ = 0;
    *p = -1;

    Ctx ctx(BN_CTX_new());
    Bn f(NewBn()), aBn(NewBn()), nBn(FromLe(curve.n)), pc(FromLe(curve.p));
    s->b = FromLe(curve.b);
    if (!ctx || !f || !aBn || !nBn || !pc || !s->b || !BN_GF2m_arr2poly(s->poly, f.get()) ||
        !BN_set_word(aBn.get(), static_cast<BN_ULONG>(curve.a))) {
        res = Result::InternalError;
        return nullptr;
    }
    if (!PassesIrreducibility(s->poly, m, ctx.get())) return nullptr;
    if (BN_is_zero(s->b.get()) || !s->IsElement(s->b.get()) || !s->IsElement(pc.get())) return nullptr;

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
    if (!s->mont || !BN_MONT_CTX_set(s->mont.get(), nBn.get(), ctx.get())) {
        res = Result::InternalError;
        return nullptr;
    }

    s->group.reset(EC_GROUP_new_curve_GF2m(f.get(), aBn.get(), s->b.get(), ctx.get()));
    if (!s->group) return nullptr;
    Bn x(NewBn()), y(NewBn()), cof(NewBn());
    Point g = s->NewPoint();
    if (!x || !y || !cof || !g || !BN_set_word(cof.get(), static_cast<BN_ULONG>(s->cofactor))) {
        res = Result::InternalError;
        return nullptr;
    }
    if (BN_is_zero(pc.get())) return nullptr;  // the point of order 2 is never a base point
    if (s->Decompress(pc.get(), x.get(), y.get(), ctx.get()) != Result::Ok) return nullptr;
    if (!EC_POINT_set_affine_coordinates(s->group.get(), g.get(), x.get(), y.get(), ctx.get())) return nullptr;
    if (!EC_GROUP_set_generator(s->group.get(), g.get(), nBn.get(), cof.get())) return nullptr;
    Point t = s->NewPoint();
    if (!t || !EC_POINT_mul(s->group.get(), t.get(), nBn.get(), nullptr, nullptr, ctx.get())) {
        res = Result::InternalError;
        return nullptr;
    }
    if (!EC_POINT_is_at_infinity(s->group.get(), t.get())) return nullptr;
    s->n = std::move(nBn);
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
    Ctx ctx(BN_CTX_new());
    Point q = s.NewPoint();
    if (!ctx || !q) return Result::InternalError;
    Bn d;
    Result r = s.LoadScalar(privateKey, d);
    if (r != Result::Ok) return r;
    // Q = -dP.
    if (!EC_POINT_mul(s.group.get(), q.get(), d.get(), nullptr, nullptr, ctx.get()) ||
        !EC_POINT_invert(s.group.get(), q.get(), ctx.get()))
        return Result::InternalError;
    return s.CompressPoint(q.get(), publicKey, ctx.get());
}

Result Engine::CheckPublicKey(ByteSpan publicKey) const
{
    const State& s = *state_;
    Ctx ctx(BN_CTX_new());
    Point q = s.NewPoint();
    if (!ctx || !q) return Result::InternalError;
    return s.LoadPublic(publicKey, q.get(), ctx.get());
}

Result Engine::Sign(ByteSpan hash, ByteSpan privateKey, Bytes& signature, ByteSpan nonce) const
{
    const State& s = *state_;
    Ctx ctx(BN_CTX_new());
    Bn h(NewBn()), e(NewBn()), fe(NewBn()), rr(NewBn()), ss(NewBn()), y(NewBn()), dr(NewBn());
    Point big = s.NewPoint();
    if (!ctx || !h || !e || !fe || !rr || !ss || !y || !dr || !big) return Result::InternalError;
    // The one-time value and everything computed from the private key stay
    // on OpenSSL's constant-time paths.
    for (BIGNUM* secret : {e.get(), ss.get(), dr.get()}) BN_set_flags(secret, BN_FLG_CONSTTIME);
    Result res = s.HashToField(hash, h.get());
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
    for (;;) {
        if (!fixedNonce) {
            do {
                if (!BN_priv_rand_range(e.get(), s.n.get())) return Result::RandomFailure;
            } while (BN_is_zero(e.get()));
        }
        // Presignature: Fe = x(eP); then r = trunc(h * Fe), s = e + d r mod n.
        if (!EC_POINT_mul(s.group.get(), big.get(), e.get(), nullptr, nullptr, ctx.get()) ||
            !EC_POINT_get_affine_coordinates(s.group.get(), big.get(), fe.get(), nullptr, ctx.get()))
            return Result::InternalError;
        bool retry = BN_is_zero(fe.get());
        if (!retry) {
            if (!s.Mul(y.get(), h.get(), fe.get(), ctx.get()) || !BN_copy(rr.get(), y.get()) || !s.Truncate(rr.get()))
                return Result::InternalError;
            retry = BN_is_zero(rr.get());
        }
        if (!retry) {
            // s = e + d r mod n: d r in Montgomery form (d R, then times r and
            // R^-1), and an addition of two numbers below n.
            if (!BN_to_montgomery(dr.get(), d.get(), s.mont.get(), ctx.get()) ||
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
    if (BN_bn2lebinpad(rr.get(), out.data(), static_cast<int>(len)) < 0 ||
        BN_bn2lebinpad(ss.get(), out.data() + len, static_cast<int>(len)) < 0)
        return Result::InternalError;
    signature.swap(out);
    return Result::Ok;
}

Result Engine::Verify(ByteSpan hash, ByteSpan publicKey, ByteSpan signature) const
{
    const State& s = *state_;
    const std::size_t len = s.OrderBytes();
    if (signature.size() < 2 * len || !IsZeroFrom(signature, 2 * len)) return Result::BadSignature;
    Ctx ctx(BN_CTX_new());
    Bn h(NewBn()), x(NewBn()), y(NewBn());
    Bn rr(FromLe(signature.first(len))), ss(FromLe(signature.subspan(len, len)));
    Point q = s.NewPoint(), big = s.NewPoint();
    if (!ctx || !h || !x || !y || !rr || !ss || !q || !big) return Result::InternalError;
    Result res = s.HashToField(hash, h.get());
    if (res != Result::Ok) return res;
    res = s.LoadCheckedPublic(publicKey, q.get(), ctx.get());
    if (res != Result::Ok) return res;
    if (BN_is_zero(rr.get()) || BN_is_zero(ss.get()) || BN_cmp(rr.get(), s.n.get()) >= 0 ||
        BN_cmp(ss.get(), s.n.get()) >= 0)
        return Result::BadSignature;
    // R = sP + rQ; valid when trunc(h * x(R)) = r.
    if (!EC_POINT_mul(s.group.get(), big.get(), ss.get(), q.get(), rr.get(), ctx.get())) return Result::InternalError;
    if (EC_POINT_is_at_infinity(s.group.get(), big.get())) return Result::BadSignature;
    if (!EC_POINT_get_affine_coordinates(s.group.get(), big.get(), x.get(), nullptr, ctx.get()) ||
        !s.Mul(y.get(), h.get(), x.get(), ctx.get()) || !s.Truncate(y.get()))
        return Result::InternalError;
    return BN_cmp(y.get(), rr.get()) == 0 ? Result::Ok : Result::BadSignature;
}

Result Engine::Agree(ByteSpan privateKey, ByteSpan peerPublicKey, Bytes& sharedX, Bytes* sharedY) const
{
    const State& s = *state_;
    Ctx ctx(BN_CTX_new());
    Bn x(NewBn()), y(NewBn());
    Point q = s.NewPoint(), z = s.NewPoint();
    if (!ctx || !x || !y || !q || !z) return Result::InternalError;
    Bn d;
    Result res = s.LoadScalar(privateKey, d);
    if (res != Result::Ok) return res;
    res = s.LoadCheckedPublic(peerPublicKey, q.get(), ctx.get());
    if (res != Result::Ok) return res;
    if (!BN_mul_word(d.get(), static_cast<BN_ULONG>(s.cofactor)) ||
        !EC_POINT_mul(s.group.get(), z.get(), nullptr, q.get(), d.get(), ctx.get()))
        return Result::InternalError;
    if (EC_POINT_is_at_infinity(s.group.get(), z.get())) return Result::BadKey;
    if (!EC_POINT_get_affine_coordinates(s.group.get(), z.get(), x.get(), y.get(), ctx.get()))
        return Result::InternalError;
    Bytes outX, outY;
    if (!ToLe(x.get(), s.FieldBytes(), outX) || (sharedY && !ToLe(y.get(), s.FieldBytes(), outY)))
        return Result::InternalError;
    sharedX.swap(outX);
    if (sharedY) sharedY->swap(outY);
    return Result::Ok;
}

Result Engine::Compress(ByteSpan x, ByteSpan y, Bytes& compressed) const
{
    const State& s = *state_;
    Ctx ctx(BN_CTX_new());
    Bn bx(FromLe(x)), by(FromLe(y)), c(NewBn());
    Point pt = s.NewPoint();
    if (!ctx || !bx || !by || !c || !pt) return Result::InternalError;
    if (!s.IsElement(bx.get()) || !s.IsElement(by.get()) ||
        !EC_POINT_set_affine_coordinates(s.group.get(), pt.get(), bx.get(), by.get(), ctx.get()))
        return Result::BadKey;
    // The compressed form keeps x and one bit: only for points of order n
    // does decompression give the same point back.
    Result r = s.HasOrderN(pt.get(), ctx.get());
    if (r != Result::Ok) return r;
    r = s.Compress(bx.get(), by.get(), c.get(), ctx.get());
    if (r != Result::Ok) return r;
    return ToLe(c.get(), s.FieldBytes(), compressed) ? Result::Ok : Result::InternalError;
}

Result Engine::Decompress(ByteSpan compressed, Bytes& x, Bytes& y) const
{
    const State& s = *state_;
    Ctx ctx(BN_CTX_new());
    Bn c(FromLe(compressed)), bx(NewBn()), by(NewBn());
    if (!ctx || !c || !bx || !by) return Result::InternalError;
    Result r = s.Decompress(c.get(), bx.get(), by.get(), ctx.get());
    if (r != Result::Ok) return r;
    Bytes ox, oy;
    if (!ToLe(bx.get(), s.FieldBytes(), ox) || !ToLe(by.get(), s.FieldBytes(), oy)) return Result::InternalError;
    x.swap(ox);
    y.swap(oy);
    return Result::Ok;
}

int Engine::Trace(ByteSpan element) const
{
    const State& s = *state_;
    Ctx ctx(BN_CTX_new());
    Bn v(FromLe(element));
    if (!ctx || !v || !s.IsElement(v.get())) return -1;
    return s.Trace(v.get(), ctx.get());
}

Result Engine::HashToField(ByteSpan hash, Bytes& element) const
{
    const State& s = *state_;
    Bn h(NewBn());
    if (!h) return Result::InternalError;
    Result r = s.HashToField(hash, h.get());
    if (r != Result::Ok) return r;
    return ToLe(h.get(), s.FieldBytes(), element) ? Result::Ok : Result::InternalError;
}

Result Engine::AddPublicKeys(ByteSpan first, ByteSpan second, Bytes& sum) const
{
    const State& s = *state_;
    Ctx ctx(BN_CTX_new());
    Point a = s.NewPoint(), b = s.NewPoint();
    if (!ctx || !a || !b) return Result::InternalError;
    Result r = s.LoadPublic(first, a.get(), ctx.get());
    if (r == Result::Ok) r = s.LoadPublic(second, b.get(), ctx.get());
    if (r != Result::Ok) return r;
    if (!EC_POINT_add(s.group.get(), a.get(), a.get(), b.get(), ctx.get())) return Result::InternalError;
    return s.CompressPoint(a.get(), sum, ctx.get());
}

Result Engine::CommitNonce(ByteSpan nonce, Bytes& point) const
{
    const State& s = *state_;
    Ctx ctx(BN_CTX_new());
    Point q = s.NewPoint();
    if (!ctx || !q) return Result::InternalError;
    Bn e;
    Result r = s.LoadScalar(nonce, e);
    if (r != Result::Ok) return Result::BadNonce;
    if (!EC_POINT_mul(s.group.get(), q.get(), e.get(), nullptr, nullptr, ctx.get())) return Result::InternalError;
    return s.CompressPoint(q.get(), point, ctx.get());
}

Result Engine::RFromPoint(ByteSpan hash, ByteSpan point, Bytes& r) const
{
    const State& s = *state_;
    Ctx ctx(BN_CTX_new());
    Bn h(NewBn()), x(NewBn()), y(NewBn()), c(FromLe(point));
    if (!ctx || !h || !x || !y || !c) return Result::InternalError;
    Result res = s.HashToField(hash, h.get());
    if (res != Result::Ok) return res;
    res = s.Decompress(c.get(), x.get(), y.get(), ctx.get());
    if (res != Result::Ok) return res;
    if (BN_is_zero(x.get())) return Result::BadNonce;
    if (!s.Mul(y.get(), h.get(), x.get(), ctx.get()) || !s.Truncate(y.get())) return Result::InternalError;
    if (BN_is_zero(y.get())) return Result::BadNonce;
    return ToLe(y.get(), s.OrderBytes(), r) ? Result::Ok : Result::InternalError;
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
