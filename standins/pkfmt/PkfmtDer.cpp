#include "PkfmtDer.h"

#include <openssl/asn1.h>
#include <openssl/bn.h>
#include <openssl/objects.h>

#include <cstring>
#include <memory>

namespace pkfmt {
namespace {

struct StackFree {
    void operator()(STACK_OF(ASN1_TYPE) * s) const { sk_ASN1_TYPE_pop_free(s, ASN1_TYPE_free); }
};
using Sequence = std::unique_ptr<STACK_OF(ASN1_TYPE), StackFree>;

Sequence NewSequence()
{
    return Sequence(sk_ASN1_TYPE_new_null());
}

bool Push(STACK_OF(ASN1_TYPE) * s, ASN1_TYPE* t)
{
    if (t == nullptr) return false;
    if (sk_ASN1_TYPE_push(s, t) <= 0) {
        ASN1_TYPE_free(t);
        return false;
    }
    return true;
}

ASN1_TYPE* Wrap(int type, void* value)
{
    if (value == nullptr) return nullptr;
    ASN1_TYPE* t = ASN1_TYPE_new();
    if (t == nullptr) return nullptr;
    ASN1_TYPE_set(t, type, value);
    return t;
}

ASN1_TYPE* Integer(std::uint64_t v)
{
    ASN1_INTEGER* i = ASN1_INTEGER_new();
    if (i != nullptr && ASN1_INTEGER_set_uint64(i, v) != 1) {
        ASN1_INTEGER_free(i);
        i = nullptr;
    }
    return Wrap(V_ASN1_INTEGER, i);
}

// A number of 19 little-endian words.
ASN1_TYPE* BigInteger(const std::uint32_t* words)
{
    std::uint8_t be[DSTU4145_NUMBER_WORDS * 4];
    for (std::size_t i = 0; i < DSTU4145_NUMBER_WORDS; ++i)
        for (int k = 0; k < 4; ++k) be[sizeof(be) - 1 - (4 * i + k)] = static_cast<std::uint8_t>(words[i] >> (8 * k));
    BIGNUM* bn = BN_bin2bn(be, sizeof(be), nullptr);
    ASN1_INTEGER* i = bn != nullptr ? BN_to_ASN1_INTEGER(bn, nullptr) : nullptr;
    BN_free(bn);
    return Wrap(V_ASN1_INTEGER, i);
}

ASN1_TYPE* Octets(const std::uint8_t* data, std::size_t length)
{
    ASN1_OCTET_STRING* s = ASN1_OCTET_STRING_new();
    if (s != nullptr && ASN1_OCTET_STRING_set(s, data, static_cast<int>(length)) != 1) {
        ASN1_OCTET_STRING_free(s);
        s = nullptr;
    }
    return Wrap(V_ASN1_OCTET_STRING, s);
}

// Field element bytes, least significant first.
ASN1_TYPE* Element(const std::uint32_t* words, std::uint32_t m)
{
    std::uint8_t bytes[DSTU4145_NUMBER_WORDS * 4];
    for (std::size_t i = 0; i < sizeof(bytes); ++i) bytes[i] = static_cast<std::uint8_t>(words[i / 4] >> (8 * (i % 4)));
    return Octets(bytes, (m + 7) / 8);
}

bool Encode(STACK_OF(ASN1_TYPE) * s, std::vector<std::uint8_t>* out)
{
    unsigned char* der = nullptr;
    const int length = i2d_ASN1_SEQUENCE_ANY(s, &der);
    if (length <= 0) return false;
    out->assign(der, der + length);
    OPENSSL_free(der);
    return true;
}

ASN1_TYPE* Nested(STACK_OF(ASN1_TYPE) * s)
{
    std::vector<std::uint8_t> der;
    if (!Encode(s, &der)) return nullptr;
    ASN1_STRING* str = ASN1_STRING_type_new(V_ASN1_SEQUENCE);
    if (str != nullptr && ASN1_STRING_set(str, der.data(), static_cast<int>(der.size())) != 1) {
        ASN1_STRING_free(str);
        str = nullptr;
    }
    return Wrap(V_ASN1_SEQUENCE, str);
}

Sequence Parse(const std::uint8_t* data, std::size_t length)
{
    const unsigned char* p = data;
    Sequence s(d2i_ASN1_SEQUENCE_ANY(nullptr, &p, static_cast<long>(length)));
    if (s && p != data + length) s.reset();  // trailing bytes
    return s;
}

Sequence ParseNested(const ASN1_TYPE* t)
{
    if (t == nullptr || t->type != V_ASN1_SEQUENCE) return nullptr;
    return Parse(t->value.sequence->data, static_cast<std::size_t>(t->value.sequence->length));
}

bool SmallInteger(const ASN1_TYPE* t, std::uint32_t* out)
{
    std::uint64_t v = 0;
    if (t == nullptr || t->type != V_ASN1_INTEGER || ASN1_INTEGER_get_uint64(&v, t->value.integer) != 1 ||
        v > 0xFFFFFFFFu)
        return false;
    *out = static_cast<std::uint32_t>(v);
    return true;
}

bool ReadBigInteger(const ASN1_TYPE* t, std::uint32_t* words)
{
    if (t == nullptr || t->type != V_ASN1_INTEGER) return false;
    BIGNUM* bn = ASN1_INTEGER_to_BN(t->value.integer, nullptr);
    if (bn == nullptr) return false;
    std::uint8_t be[DSTU4145_NUMBER_WORDS * 4];
    const bool ok = !BN_is_negative(bn) && BN_bn2binpad(bn, be, sizeof(be)) == static_cast<int>(sizeof(be));
    BN_free(bn);
    if (!ok) return false;
    for (std::size_t i = 0; i < DSTU4145_NUMBER_WORDS; ++i) {
        words[i] = 0;
        for (int k = 0; k < 4; ++k) words[i] |= std::uint32_t(be[sizeof(be) - 1 - (4 * i + k)]) << (8 * k);
    }
    return true;
}

bool ReadElement(const ASN1_TYPE* t, std::uint32_t m, std::uint32_t* words)
{
    if (t == nullptr || t->type != V_ASN1_OCTET_STRING) return false;
    const std::size_t length = static_cast<std::size_t>(t->value.octet_string->length);
    if (length != (m + 7) / 8 || length > DSTU4145_NUMBER_WORDS * 4) return false;
    std::memset(words, 0, DSTU4145_NUMBER_WORDS * 4);
    for (std::size_t i = 0; i < length; ++i)
        words[i / 4] |= std::uint32_t(t->value.octet_string->data[i]) << (8 * (i % 4));
    return true;
}

std::uint32_t BitLength(const std::uint32_t* words)
{
    for (std::size_t i = DSTU4145_NUMBER_WORDS; i-- > 0;)
        if (words[i] != 0) return static_cast<std::uint32_t>(32 * i + 32 - __builtin_clz(words[i]));
    return 0;
}

bool EncodeExplicit(const DerParameters& in, STACK_OF(ASN1_TYPE) * outer)
{
    const std::uint32_t* f = in.field.words;
    const std::uint32_t m = f[DSTU4145_FIELD_M];
    if (m == 0 || m > 32 * DSTU4145_NUMBER_WORDS) return false;
    Sequence basis = NewSequence(), binaryField = NewSequence(), binary = NewSequence();
    if (!basis || !binaryField || !binary) return false;
    const bool trinomial = f[DSTU4145_FIELD_J] == 0 && f[DSTU4145_FIELD_L] == 0;
    if (!Push(binaryField.get(), Integer(m))) return false;
    if (trinomial) {
        if (!Push(binaryField.get(), Integer(f[DSTU4145_FIELD_K]))) return false;
    } else if (!Push(basis.get(), Integer(f[DSTU4145_FIELD_K])) || !Push(basis.get(), Integer(f[DSTU4145_FIELD_J])) ||
               !Push(basis.get(), Integer(f[DSTU4145_FIELD_L])) || !Push(binaryField.get(), Nested(basis.get()))) {
        return false;
    }
    return Push(binary.get(), Nested(binaryField.get())) && Push(binary.get(), Integer(f[DSTU4145_FIELD_A])) &&
           Push(binary.get(), Element(f + DSTU4145_FIELD_B, m)) &&
           Push(binary.get(), BigInteger(in.point.words + DSTU4145_POINT_N)) &&
           Push(binary.get(), Element(in.point.words + DSTU4145_POINT_P, m)) && Push(outer, Nested(binary.get()));
}

bool DecodeExplicit(const ASN1_TYPE* t, DerParameters* out)
{
    Sequence binary = ParseNested(t);
    if (!binary || sk_ASN1_TYPE_num(binary.get()) != 5) return false;
    Sequence binaryField = ParseNested(sk_ASN1_TYPE_value(binary.get(), 0));
    if (!binaryField || sk_ASN1_TYPE_num(binaryField.get()) != 2) return false;
    std::uint32_t* f = out->field.words;
    std::uint32_t* p = out->point.words;
    std::memset(f, 0, sizeof(out->field));
    std::memset(p, 0, sizeof(out->point));
    std::uint32_t m = 0;
    if (!SmallInteger(sk_ASN1_TYPE_value(binaryField.get(), 0), &m) || m == 0 || m > 32 * DSTU4145_NUMBER_WORDS)
        return false;
    f[DSTU4145_FIELD_M] = m;
    const ASN1_TYPE* basis = sk_ASN1_TYPE_value(binaryField.get(), 1);
    if (basis->type == V_ASN1_INTEGER) {
        if (!SmallInteger(basis, &f[DSTU4145_FIELD_K])) return false;
    } else {
        Sequence pentanomial = ParseNested(basis);
        if (!pentanomial || sk_ASN1_TYPE_num(pentanomial.get()) != 3 ||
            !SmallInteger(sk_ASN1_TYPE_value(pentanomial.get(), 0), &f[DSTU4145_FIELD_K]) ||
            !SmallInteger(sk_ASN1_TYPE_value(pentanomial.get(), 1), &f[DSTU4145_FIELD_J]) ||
            !SmallInteger(sk_ASN1_TYPE_value(pentanomial.get(), 2), &f[DSTU4145_FIELD_L]))
            return false;
    }
    if (!SmallInteger(sk_ASN1_TYPE_value(binary.get(), 1), &f[DSTU4145_FIELD_A]) || f[DSTU4145_FIELD_A] > 1 ||
        !ReadElement(sk_ASN1_TYPE_value(binary.get(), 2), m, f + DSTU4145_FIELD_B) ||
        !ReadBigInteger(sk_ASN1_TYPE_value(binary.get(), 3), p + DSTU4145_POINT_N) ||
        !ReadElement(sk_ASN1_TYPE_value(binary.get(), 4), m, p + DSTU4145_POINT_P))
        return false;
    f[DSTU4145_FIELD_COFACTOR] = f[DSTU4145_FIELD_A] == 1 ? 2 : 4;
    p[DSTU4145_POINT_BITS] = BitLength(p + DSTU4145_POINT_N);
    return true;
}

}  // namespace

bool EncodeParametersDer(const DerParameters& in, std::vector<std::uint8_t>* out)
{
    Sequence outer = NewSequence();
    if (!outer || out == nullptr) return false;
    if (in.named) {
        if (!Push(outer.get(), Wrap(V_ASN1_OBJECT, OBJ_txt2obj(in.oid.c_str(), 1)))) return false;
    } else if (!EncodeExplicit(in, outer.get())) {
        return false;
    }
    if (in.hasSBox && !Push(outer.get(), Octets(in.sBox, sizeof(in.sBox)))) return false;
    return Encode(outer.get(), out);
}

bool DecodeParametersDer(const std::uint8_t* data, std::size_t length, DerParameters* out)
{
    if (data == nullptr || out == nullptr || length == 0) return false;
    Sequence outer = Parse(data, length);
    const int count = outer ? sk_ASN1_TYPE_num(outer.get()) : 0;
    if (count < 1 || count > 2) return false;
    DerParameters result;
    const ASN1_TYPE* definition = sk_ASN1_TYPE_value(outer.get(), 0);
    if (definition->type == V_ASN1_OBJECT) {
        char text[128];
        const int n = OBJ_obj2txt(text, sizeof(text), definition->value.object, 1);
        if (n <= 0 || n >= static_cast<int>(sizeof(text))) return false;
        result.named = true;
        result.oid.assign(text, static_cast<std::size_t>(n));
    } else if (!DecodeExplicit(definition, &result)) {
        return false;
    }
    if (count == 2) {
        const ASN1_TYPE* dke = sk_ASN1_TYPE_value(outer.get(), 1);
        if (dke->type != V_ASN1_OCTET_STRING || dke->value.octet_string->length != 64) return false;
        result.hasSBox = true;
        std::memcpy(result.sBox, dke->value.octet_string->data, 64);
    }
    *out = result;
    return true;
}

}  // namespace pkfmt
