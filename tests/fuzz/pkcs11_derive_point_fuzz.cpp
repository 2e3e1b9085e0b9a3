// The check of the other party's public point in C_DeriveKey: the encoded
// point decoded for the base key's curve (its byte length exactly) and
// accepted by the crypto service provider only when it is on the curve, not
// the point at infinity, and of order n. The provider and the PKI formats
// stand-ins of the build's distribution folder run as the module starts
// them. Every point the check accepts is decompressed again here with
// OpenSSL's GF(2^m) arithmetic and must be a point of order n of the curve;
// a point built from a field element of the right size must be accepted
// exactly when that computation says it is such a point.
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/err.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "PkiServicesStart.h"
#include "pkcs11/PKCS11ECPoint.h"
#include "support/CSPParameters.h"

namespace {

using qvkfuzz::Bytes;
using qvkfuzz::Check;

// Standard polynomial-basis curves of several sizes: m = 163, 179, 257, 431.
constexpr unsigned kCurveIndexes[] = {0, 3, 6, 9};
constexpr unsigned kCurveCount = sizeof kCurveIndexes / sizeof kCurveIndexes[0];

struct BnFree {
    void operator()(BIGNUM* b) const { BN_free(b); }
};
struct PointFree {
    void operator()(EC_POINT* p) const { EC_POINT_free(p); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;
using Point = std::unique_ptr<EC_POINT, PointFree>;

Bn NewBn()
{
    return Bn(BN_new());
}

struct Curve {
    DSTU4145FieldRecord field{};
    DSTU4145PointRecord point{};
    std::uint32_t m = 0;
    int poly[6] = {};  // exponents of the reduction polynomial, -1 ended
    Bn a, b, n;
    EC_GROUP* group = nullptr;
};

// The bytes of a record's number: 32-bit words, least significant first.
std::vector<std::uint8_t> LittleEndian(const std::uint32_t* words, std::size_t count)
{
    std::vector<std::uint8_t> le(count * 4);
    for (std::size_t i = 0; i < le.size(); ++i) le[i] = static_cast<std::uint8_t>(words[i / 4] >> (8 * (i % 4)));
    return le;
}

Bn FromWords(const std::uint32_t* words, std::size_t count)
{
    const std::vector<std::uint8_t> le = LittleEndian(words, count);
    return Bn(BN_lebin2bn(le.data(), static_cast<int>(le.size()), nullptr));
}

// The base point's public-key record.
void BaseRecord(const Curve& c, std::uint8_t record[DSTU4145_NUMBER_BYTES])
{
    const std::vector<std::uint8_t> le = LittleEndian(&c.point.words[DSTU4145_POINT_P], DSTU4145_NUMBER_WORDS);
    std::memcpy(record, le.data(), DSTU4145_NUMBER_BYTES);
}

Curve g_curves[kCurveCount];
BN_CTX* g_bn = nullptr;

// Tr(x) = x + x^2 + x^4 + ... + x^(2^(m-1)), 0 or 1.
bool Trace(const Curve& c, const BIGNUM* x, int* trace)
{
    Bn sum(BN_dup(x)), power(BN_dup(x));
    for (std::uint32_t i = 1; i < c.m; ++i)
        if (!BN_GF2m_mod_sqr_arr(power.get(), power.get(), c.poly, g_bn) ||
            !BN_GF2m_add(sum.get(), sum.get(), power.get()))
            return false;
    *trace = BN_is_one(sum.get()) ? 1 : 0;
    return BN_is_zero(sum.get()) || BN_is_one(sum.get());
}

// The point a compressed public-key record stands for on the curve (DSTU
// 4145 decompression: the low bit carries Tr(y/x), x is completed so that
// Tr(x) = Tr(A), and y/x solves z^2 + z = x + A + B/x^2), or null when the
// record names no point. Null also for x = 0, whose point (0, sqrt B) is of
// order 2.
Point Decompress(const Curve& c, const std::uint8_t record[DSTU4145_NUMBER_BYTES])
{
    Bn x(BN_lebin2bn(record, DSTU4145_NUMBER_BYTES, nullptr));
    if (!x || BN_num_bits(x.get()) > static_cast<int>(c.m) || BN_is_zero(x.get())) return nullptr;
    const int yTrace = BN_is_bit_set(x.get(), 0);
    int xTrace = 0, aTrace = 0;
    Check(Trace(c, x.get(), &xTrace) && Trace(c, c.a.get(), &aTrace), "independent: a trace");
    if (xTrace != aTrace) {
        if (BN_is_bit_set(x.get(), 0))
            BN_clear_bit(x.get(), 0);
        else
            BN_set_bit(x.get(), 0);
    }
    if (BN_is_zero(x.get())) return nullptr;
    Bn inverse = NewBn(), w = NewBn(), z = NewBn(), y = NewBn();
    Check(BN_GF2m_mod_inv_arr(inverse.get(), x.get(), c.poly, g_bn) &&
              BN_GF2m_mod_sqr_arr(inverse.get(), inverse.get(), c.poly, g_bn) &&
              BN_GF2m_mod_mul_arr(w.get(), c.b.get(), inverse.get(), c.poly, g_bn) &&
              BN_GF2m_add(w.get(), w.get(), x.get()) && BN_GF2m_add(w.get(), w.get(), c.a.get()),
          "independent: x + A + B/x^2");
    if (!BN_GF2m_mod_solve_quad_arr(z.get(), w.get(), c.poly, g_bn)) return nullptr;
    int zTrace = 0;
    Check(Trace(c, z.get(), &zTrace), "independent: a trace");
    if (zTrace != yTrace && !BN_GF2m_add(z.get(), z.get(), BN_value_one())) return nullptr;
    Check(BN_GF2m_mod_mul_arr(y.get(), z.get(), x.get(), c.poly, g_bn), "independent: y = zx");
    Point p(EC_POINT_new(c.group));
    Check(p && EC_POINT_set_affine_coordinates(c.group, p.get(), x.get(), y.get(), g_bn),
          "independent: a solved point lies on the curve");
    return p;
}

// On the curve, not infinity, n times it infinity.
bool OfOrderN(const Curve& c, const std::uint8_t record[DSTU4145_NUMBER_BYTES])
{
    const Point p = Decompress(c, record);
    if (!p || EC_POINT_is_at_infinity(c.group, p.get()) || EC_POINT_is_on_curve(c.group, p.get(), g_bn) != 1)
        return false;
    Point q(EC_POINT_new(c.group));
    Check(q && EC_POINT_mul(c.group, q.get(), nullptr, p.get(), c.n.get(), g_bn), "independent: n times the point");
    return EC_POINT_is_at_infinity(c.group, q.get()) == 1;
}

bool SetUpCurve(unsigned index, Curve* c)
{
    if (!CSPParameters().GetStandardCurve(1, index, &c->field, &c->point)) return false;
    const std::uint32_t* f = c->field.words;
    c->m = f[DSTU4145_FIELD_M];
    int at = 0;
    c->poly[at++] = static_cast<int>(c->m);
    c->poly[at++] = static_cast<int>(f[DSTU4145_FIELD_K]);
    if (f[DSTU4145_FIELD_J] != 0) {
        c->poly[at++] = static_cast<int>(f[DSTU4145_FIELD_J]);
        c->poly[at++] = static_cast<int>(f[DSTU4145_FIELD_L]);
    }
    c->poly[at++] = 0;
    c->poly[at] = -1;
    Bn p = NewBn();
    c->a = FromWords(&f[DSTU4145_FIELD_A], 1);
    c->b = FromWords(&f[DSTU4145_FIELD_B], DSTU4145_NUMBER_WORDS);
    c->n = FromWords(&c->point.words[DSTU4145_POINT_N], DSTU4145_NUMBER_WORDS);
    if (!p || !c->a || !c->b || !c->n || !BN_GF2m_arr2poly(c->poly, p.get())) return false;
    c->group = EC_GROUP_new_curve_GF2m(p.get(), c->a.get(), c->b.get(), g_bn);
    if (c->group == nullptr) return false;
    // With its base point, order and cofactor the group multiplies by a
    // ladder with one inversion, not by affine additions.
    std::uint8_t base[DSTU4145_NUMBER_BYTES];
    BaseRecord(*c, base);
    const Point g = Decompress(*c, base);
    Bn cofactor = NewBn();
    if (!g || !cofactor || !BN_set_word(cofactor.get(), f[DSTU4145_FIELD_COFACTOR]) ||
        !EC_GROUP_set_generator(c->group, g.get(), c->n.get(), cofactor.get()))
        return false;
    // The base point passes the independent check: the record's layout and
    // the decompression here agree with the curve's own data.
    return OfOrderN(*c, base);
}

// The record of a point from `bytes`, kept to m bits.
void RecordOf(const Bytes& bytes, std::uint32_t m, std::uint8_t record[DSTU4145_NUMBER_BYTES])
{
    std::memset(record, 0, DSTU4145_NUMBER_BYTES);
    std::copy_n(bytes.begin(), std::min<std::size_t>(bytes.size(), (m + 7) / 8), record);
    if (m % 8 != 0) record[m / 8] &= static_cast<std::uint8_t>((1u << (m % 8)) - 1);
}

// The point encoded as the CKA_EC_POINT attribute carries it, for m bits.
Bytes Encoded(const std::uint8_t record[DSTU4145_NUMBER_BYTES], std::uint32_t m)
{
    CK_ATTRIBUTE attribute{};
    Check(MakeECPointAttribute(record, m, &attribute), "a point encodes");
    const auto* value = static_cast<const std::uint8_t*>(attribute.pValue);
    Bytes out(value, value + attribute.ulValueLen);
    delete[] value;
    return out;
}

CK_RV CheckPoint(const Curve& c, const Bytes& value, std::uint8_t decoded[DSTU4145_NUMBER_BYTES])
{
    std::memset(decoded, 0xA5, DSTU4145_NUMBER_BYTES);
    const CK_RV rv = DecodeECPointForCurve(value.data(), value.size(), &c.field, &c.point, decoded);
    Check(rv == CKR_OK || rv == CKR_MECHANISM_PARAM_INVALID, "a point is accepted or refused as a parameter");
    if (rv == CKR_OK) Check(OfOrderN(c, decoded), "an accepted point is on the curve and of order n");
    return rv;
}

enum Mode { Raw, OfTheCurve, OfAnotherSize, kModes };

void WriteSeeds(const std::string& folder)
{
    for (unsigned i = 0; i < kCurveCount; ++i) {
        const Curve& c = g_curves[i];
        std::uint8_t base[DSTU4145_NUMBER_BYTES];
        BaseRecord(c, base);
        const Bytes x(base, base + (c.m + 7) / 8);
        const std::string name = "m" + std::to_string(c.m);
        Bytes raw{static_cast<std::uint8_t>(Raw * kCurveCount + i)};
        const Bytes encoded = Encoded(base, c.m);
        raw.insert(raw.end(), encoded.begin(), encoded.end());
        qvkfuzz::WriteSeed(folder, name + "-base-encoded", raw);
        Bytes point{static_cast<std::uint8_t>(OfTheCurve * kCurveCount + i)};
        point.insert(point.end(), x.begin(), x.end());
        qvkfuzz::WriteSeed(folder, name + "-base", point);
        point[1] ^= 2;
        qvkfuzz::WriteSeed(folder, name + "-other-x", point);
        point[0] = static_cast<std::uint8_t>(OfAnotherSize * kCurveCount + i);
        qvkfuzz::WriteSeed(folder, name + "-other-size", point);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    g_bn = BN_CTX_new();
    Check(g_bn != nullptr && StartPKIServicesAsTheModule(), "the provider and the formats library start");
    for (unsigned i = 0; i < kCurveCount; ++i)
        Check(SetUpCurve(kCurveIndexes[i], &g_curves[i]), "a standard curve and its base point");
    qvkfuzz::WriteSeedsWhenAsked(WriteSeeds);
    return 0;
}

// Byte 0: the mode and the curve; the rest: the encoded point (Raw) or the
// bytes of x (the others).
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    qvkfuzz::Input in(data, size);
    const unsigned head = in.Byte();
    const Curve& c = g_curves[head % kCurveCount];
    const auto mode = static_cast<Mode>(head / kCurveCount % kModes);
    const Bytes rest = in.Rest();
    std::uint8_t decoded[DSTU4145_NUMBER_BYTES];
    if (mode == Raw) {
        CheckPoint(c, rest, decoded);
    } else if (mode == OfTheCurve) {
        std::uint8_t record[DSTU4145_NUMBER_BYTES];
        RecordOf(rest, c.m, record);
        const bool valid = OfOrderN(c, record);
        const CK_RV rv = CheckPoint(c, Encoded(record, c.m), decoded);
        Check((rv == CKR_OK) == valid, "a point of the curve's size is accepted exactly when of order n");
        if (rv == CKR_OK) Check(std::memcmp(decoded, record, sizeof record) == 0, "the accepted point is the one sent");
    } else {
        // Another curve's size: never the right length.
        const Curve& other = g_curves[(head % kCurveCount + 1 + rest.size() % (kCurveCount - 1)) % kCurveCount];
        std::uint8_t record[DSTU4145_NUMBER_BYTES];
        RecordOf(rest, other.m, record);
        Check(CheckPoint(c, Encoded(record, other.m), decoded) == CKR_MECHANISM_PARAM_INVALID,
              "a point of another size is refused");
    }
    ERR_clear_error();
    return 0;
}
