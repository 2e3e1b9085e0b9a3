// The engine's binary-field arithmetic against OpenSSL's GF(2^m) functions,
// on the fields of the ten standard curves and on fields whose middle term
// lies within a word of m (the reduction's other path), by both
// multiplications.
#include "dstu4145/BinaryField.h"

#include "StandardCurves.h"

#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/rand.h>

#include <string>
#include <vector>

using dstu4145::BinaryField;
using dstu4145::FieldElement;

namespace {

struct FieldForm {
    int m, k, j, l;
};

std::vector<FieldForm> Forms()
{
    std::vector<FieldForm> forms;
    for (const auto& pc : dstu4145_test::kStandardCurves) forms.push_back({pc.m, pc.k, pc.j, pc.l});
    // Middle terms less than a word below m, and a one-word field.
    forms.push_back({163, 127, 0, 0});
    forms.push_back({100, 90, 50, 3});
    forms.push_back({61, 5, 2, 1});
    forms.push_back({607, 105, 0, 0});
    return forms;
}

struct Bn {
    BIGNUM* v = BN_new();
    ~Bn() { BN_free(v); }
};

void ToBn(const BinaryField& f, const FieldElement& e, BIGNUM* out)
{
    std::vector<std::uint8_t> bytes(f.Bytes());
    f.ToBytes(e, bytes.data());
    ASSERT_NE(BN_lebin2bn(bytes.data(), static_cast<int>(bytes.size()), out), nullptr);
}

FieldElement Random(const BinaryField& f)
{
    std::vector<std::uint8_t> bytes(f.Bytes());
    EXPECT_EQ(RAND_bytes(bytes.data(), static_cast<int>(bytes.size())), 1);
    if (f.M() % 8 != 0) bytes.back() &= static_cast<std::uint8_t>((1u << (f.M() % 8)) - 1);
    FieldElement e;
    EXPECT_TRUE(f.FromBytes(bytes.data(), bytes.size(), e));
    return e;
}

class BinaryFieldAgainstOpenSsl : public ::testing::TestWithParam<std::tuple<int, bool>> {};

TEST_P(BinaryFieldAgainstOpenSsl, OperationsGiveOpenSslsResults)
{
    const FieldForm form = Forms()[static_cast<std::size_t>(std::get<0>(GetParam()))];
    ASSERT_TRUE(BinaryField::Valid(form.m, form.k, form.j, form.l));
    BinaryField f(form.m, form.k, form.j, form.l);
    if (std::get<1>(GetParam())) f.ForcePortable();
    // OpenSSL's form of f: the exponents, decreasing, ending in 0 and -1.
    int arr[6] = {form.m, form.k, form.j, form.l, 0, -1};
    if (form.j == 0) {
        arr[2] = 0;
        arr[3] = -1;
    }

    BN_CTX* ctx = BN_CTX_new();
    Bn a, b, got, want;
    for (int round = 0; round < 40; ++round) {
        FieldElement x = Random(f), y = Random(f), r;
        if (round == 0) {  // every bit set: the longest carries of the reduction
            for (int i = 0; i < f.Words(); ++i) x.w[i] = y.w[i] = ~0ULL;
            if (form.m % 64 != 0) x.w[f.Words() - 1] = y.w[f.Words() - 1] = (1ULL << (form.m % 64)) - 1;
        }
        if (round == 1 || round == 2) {
            // t^(m-1) squared and times the top bit of every word: the
            // highest product bits fold twice, and each word of the split
            // products meets the top one.
            f.Zero(x);
            x.w[(form.m - 1) / 64] = 1ULL << ((form.m - 1) % 64);
            f.Zero(y);
            for (int i = 0; i < f.Words(); ++i) y.w[i] = round == 1 ? x.w[i] : 1ULL << 63;
            if (form.m % 64 != 0) y.w[f.Words() - 1] &= (1ULL << (form.m % 64)) - 1;
            if (f.IsZero(y)) y.w[0] = 1;
        }
        ToBn(f, x, a.v);
        ToBn(f, y, b.v);

        f.Mul(r, x, y);
        ToBn(f, r, got.v);
        ASSERT_EQ(BN_GF2m_mod_mul_arr(want.v, a.v, b.v, arr, ctx), 1);
        ASSERT_EQ(BN_cmp(got.v, want.v), 0) << "mul, m = " << form.m << ", round " << round;

        f.Sqr(r, x);
        ToBn(f, r, got.v);
        ASSERT_EQ(BN_GF2m_mod_sqr_arr(want.v, a.v, arr, ctx), 1);
        ASSERT_EQ(BN_cmp(got.v, want.v), 0) << "sqr, m = " << form.m;

        f.Sqrt(r, x);
        ToBn(f, r, got.v);
        ASSERT_EQ(BN_GF2m_mod_sqrt_arr(want.v, a.v, arr, ctx), 1);
        ASSERT_EQ(BN_cmp(got.v, want.v), 0) << "sqrt, m = " << form.m;

        // Inversion and the trace need an irreducible f: the standard fields.
        if (form.m == 163 && form.k == 127) continue;
        if (form.m == 100 || form.m == 61 || form.m == 607) continue;
        if (!f.IsZero(x)) {
            f.Inv(r, x);
            ToBn(f, r, got.v);
            ASSERT_EQ(BN_GF2m_mod_inv_arr(want.v, a.v, arr, ctx), 1);
            ASSERT_EQ(BN_cmp(got.v, want.v), 0) << "inv, m = " << form.m;
        }
        // Tr(x) = x + x^2 + ... + x^(2^(m-1)) summed by OpenSSL's squarings.
        Bn t, s;
        ASSERT_TRUE(BN_copy(t.v, a.v) && BN_copy(s.v, a.v));
        for (int i = 1; i < form.m; ++i)
            ASSERT_TRUE(BN_GF2m_mod_sqr_arr(t.v, t.v, arr, ctx) && BN_GF2m_add(s.v, s.v, t.v));
        ASSERT_TRUE(BN_is_zero(s.v) || BN_is_one(s.v));
        EXPECT_EQ(f.Trace(x), BN_is_one(s.v) ? 1 : 0) << "trace, m = " << form.m;
        // The half-trace solves z^2 + z = x when Tr(x) = 0.
        if (f.Trace(x) == 0) {
            FieldElement z, z2;
            f.HalfTrace(z, x);
            f.Sqr(z2, z);
            f.Add(z2, z2, z);
            EXPECT_TRUE(f.Equal(z2, x)) << "half-trace, m = " << form.m;
        }
    }
    FieldElement zero, r;
    f.Zero(zero);
    f.Inv(r, zero);
    EXPECT_TRUE(f.IsZero(r));
    BN_CTX_free(ctx);
}

INSTANTIATE_TEST_SUITE_P(Fields, BinaryFieldAgainstOpenSsl,
                         ::testing::Combine(::testing::Range(0, static_cast<int>(Forms().size())), ::testing::Bool()),
                         [](const auto& info) {
                             const FieldForm form = Forms()[static_cast<std::size_t>(std::get<0>(info.param))];
                             return "m" + std::to_string(form.m) + "k" + std::to_string(form.k) +
                                    (std::get<1>(info.param) ? "_portable" : "_processor");
                         });

TEST(BinaryField, BytesOutsideTheFieldAreRefused)
{
    BinaryField f(163, 7, 6, 3);
    FieldElement e;
    std::vector<std::uint8_t> bytes(21, 0);
    bytes[20] = 0x07;  // bits 160..162: inside
    EXPECT_TRUE(f.FromBytes(bytes.data(), bytes.size(), e));
    bytes[20] = 0x08;  // bit 163
    EXPECT_FALSE(f.FromBytes(bytes.data(), bytes.size(), e));
    bytes[20] = 0;
    bytes.push_back(0);  // longer, extra bytes zero
    EXPECT_TRUE(f.FromBytes(bytes.data(), bytes.size(), e));
    bytes.resize(40, 0);
    bytes[39] = 1;
    EXPECT_FALSE(f.FromBytes(bytes.data(), bytes.size(), e));
    EXPECT_FALSE(BinaryField::Valid(163, 163, 0, 0));
    EXPECT_FALSE(BinaryField::Valid(163, 7, 7, 3));
    EXPECT_FALSE(BinaryField::Valid(700, 7, 0, 0));
}

}  // namespace
