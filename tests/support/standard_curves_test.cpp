// The built-in curve and S-box tables against published values and the curve
// arithmetic of OpenSSL.
#include <gtest/gtest.h>

#include <openssl/bn.h>
#include <openssl/ec.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "crypto/DSTUCiphersTables.h"
#include "support/CSPParameters.h"

namespace {

using BnPtr = std::unique_ptr<BIGNUM, decltype(&BN_free)>;
BnPtr NewBn()
{
    return BnPtr(BN_new(), BN_free);
}

BnPtr FromWords(const std::uint32_t* words, std::size_t count)
{
    unsigned char le[4 * 19] = {};
    for (std::size_t i = 0; i < count; ++i)
        for (int b = 0; b < 4; ++b) le[4 * i + b] = static_cast<unsigned char>(words[i] >> (8 * b));
    return BnPtr(BN_lebin2bn(le, static_cast<int>(4 * count), nullptr), BN_free);
}

BnPtr FromHex(const char* hex)
{
    BIGNUM* bn = nullptr;
    BN_hex2bn(&bn, hex);
    return BnPtr(bn, BN_free);
}

// tr(a) = a + a^2 + ... + a^(2^(m-1)), 0 or 1.
int Trace(const BIGNUM* a, const int* poly, BN_CTX* ctx)
{
    BnPtr t(BN_dup(a), BN_free), acc(BN_dup(a), BN_free);
    for (int i = 1; i < poly[0]; ++i) {
        BN_GF2m_mod_sqr_arr(t.get(), t.get(), poly, ctx);
        BN_GF2m_add(acc.get(), acc.get(), t.get());
    }
    return BN_is_one(acc.get()) ? 1 : (BN_is_zero(acc.get()) ? 0 : -1);
}

// Published affine base points (second source, the records hold the
// compressed form).
struct PublishedPoint {
    const char* x;
    const char* y;
};
const PublishedPoint kPublished[10] = {
    {"2E2F85F5DD74CE983A5C4237229DAF8A3F35823BE", "3826F008A8C51D7B95284D9D03FF0E00CE2CD723A"},
    {"7A1F6653786A68192803910A3D30B2A2018B21CD54", "5F49EB26781C0EC6B8909156D98ED435E45FD59918"},
    {"4D41A619BCC6EADF0448FA22FAD567A9181D37389CA", "10B51CC12849B234C75E6DD2028BF7FF5C1CE0D991A1"},
    {"6BA06FE51464B2BD26DC57F48819BA9954667022C7D03", "25FBC363582DCEC065080CA8287AAFF09788A66DC3A9E"},
    {"714114B762F2FF4A7912A6D2AC58B9B5C2FCFE76DAEB7129", "29C41E568B77C617EFE5902F11DB96FA9613CD8D03DB08DA"},
    {"3FCDA526B6CDF83BA1118DF35B3C31761D3545F32728D003EEB25EFE96",
     "9CA8B57A934C54DEEDA9E54A7BBAD95E3B2E91C54D32BE0B9DF96D8D35"},
    {"2A29EF207D0E9B6C55CD260B306C7E007AC491CA1B10C62334A9E8DCD8D20FB7",
     "10686D41FF744D4449FCCF6D8EEA03102E6812C93A9D60B978B702CF156D814EF"},
    {"216EE8B189D291A0224984C1E92F1D16BF75CCD825A087A239B276D3167743C52C02D6E7232AA",
     "5D9306BACD22B7FAEB09D2E049C6E2866C5D1677762A8F2F2DC9A11C7F7BE8340AB2237C7F2A0"},
    {"324A6EDDD512F08C49A99AE0D3F961197A76413E7BE81A400CA681E09639B5FE12E59A109F78BF4A373541B3B9A1",
     "1AB597A5B4477F59E39539007C7F977D1A567B92B043A49C6B61984C3FE3481AAF454CD41BA1F051626442B3C10"},
    {"1A62BA79D98133A16BBAE7ED9A8E03C32E0824D57AEF72F88986874E5AAE49C27BED49A2A95058068426C2171E99FD3B43C5947C857D",
     "70B5E1E14031C1F70BBEFE96BDDE66F451754B4CA5F48DA241F331AA396B8D1839A855C1769B1EA14BA53308B5E2723724E090E02DB9"},
};

void ExpectZeroAbove(const std::uint32_t* words, std::size_t used, const char* what)
{
    for (std::size_t i = used; i < 19; ++i) EXPECT_EQ(words[i], 0u) << what << " word " << i;
}

}  // namespace

TEST(StandardCurves, PolynomialBasisCurvesAreValid)
{
    CSPParameters parameters;
    std::unique_ptr<BN_CTX, decltype(&BN_CTX_free)> ctx(BN_CTX_new(), BN_CTX_free);
    for (unsigned index = 0; index < 10; ++index) {
        SCOPED_TRACE("polynomial index " + std::to_string(index));
        DSTU4145FieldRecord field;
        DSTU4145PointRecord point;
        ASSERT_EQ(parameters.GetStandardCurve(1, index, &field, &point), 1);
        const std::uint32_t* f = field.words;
        const std::uint32_t* p = point.words;
        int m = static_cast<int>(f[DSTU4145_FIELD_M]);
        int poly[6] = {m, static_cast<int>(f[DSTU4145_FIELD_K]), 0, 0, 0, -1};
        int used = 2;
        if (f[DSTU4145_FIELD_J] != 0) {
            poly[used++] = static_cast<int>(f[DSTU4145_FIELD_J]);
            poly[used++] = static_cast<int>(f[DSTU4145_FIELD_L]);
        }
        poly[used++] = 0;
        poly[used] = -1;
        std::size_t words = (static_cast<std::size_t>(m) + 31) / 32;
        ExpectZeroAbove(f + DSTU4145_FIELD_B, words, "B");
        ExpectZeroAbove(p + DSTU4145_POINT_P, words, "P");
        ExpectZeroAbove(p + DSTU4145_POINT_N, words, "n");
        EXPECT_EQ(f[DSTU4145_FIELD_COFACTOR], f[DSTU4145_FIELD_A] == 1 ? 2u : 4u);

        BnPtr a(BN_new(), BN_free);
        BN_set_word(a.get(), f[DSTU4145_FIELD_A]);
        BnPtr b = FromWords(f + DSTU4145_FIELD_B, 19);
        BnPtr xc = FromWords(p + DSTU4145_POINT_P, 19);
        BnPtr n = FromWords(p + DSTU4145_POINT_N, 19);
        EXPECT_EQ(static_cast<std::uint32_t>(BN_num_bits(n.get())), p[DSTU4145_POINT_BITS]);

        // Decompression: bit 0 carries tr(y/x); x itself has tr(x) = tr(A).
        int k = BN_is_bit_set(xc.get(), 0);
        BnPtr x(BN_dup(xc.get()), BN_free);
        if (Trace(x.get(), poly, ctx.get()) != static_cast<int>(f[DSTU4145_FIELD_A])) {
            if (k)
                BN_clear_bit(x.get(), 0);
            else
                BN_set_bit(x.get(), 0);
        }
        BnPtr w = NewBn(), t = NewBn(), z = NewBn(), y = NewBn();
        BN_GF2m_mod_sqr_arr(t.get(), x.get(), poly, ctx.get());
        ASSERT_EQ(BN_GF2m_mod_div_arr(w.get(), b.get(), t.get(), poly, ctx.get()), 1);
        BN_GF2m_add(w.get(), w.get(), x.get());
        BN_GF2m_add(w.get(), w.get(), a.get());
        ASSERT_EQ(BN_GF2m_mod_solve_quad_arr(z.get(), w.get(), poly, ctx.get()), 1);
        if (Trace(z.get(), poly, ctx.get()) != k) BN_GF2m_add(z.get(), z.get(), BN_value_one());
        BN_GF2m_mod_mul_arr(y.get(), z.get(), x.get(), poly, ctx.get());

        BnPtr pPoly = NewBn();
        BN_GF2m_arr2poly(poly, pPoly.get());
        std::unique_ptr<EC_GROUP, decltype(&EC_GROUP_free)> group(
            EC_GROUP_new_curve_GF2m(pPoly.get(), a.get(), b.get(), ctx.get()), EC_GROUP_free);
        ASSERT_TRUE(group);
        std::unique_ptr<EC_POINT, decltype(&EC_POINT_free)> base(EC_POINT_new(group.get()), EC_POINT_free);
        ASSERT_EQ(EC_POINT_set_affine_coordinates(group.get(), base.get(), x.get(), y.get(), ctx.get()), 1);
        EXPECT_EQ(EC_POINT_is_on_curve(group.get(), base.get(), ctx.get()), 1);
        std::unique_ptr<EC_POINT, decltype(&EC_POINT_free)> product(EC_POINT_new(group.get()), EC_POINT_free);
        ASSERT_EQ(EC_POINT_mul(group.get(), product.get(), nullptr, base.get(), n.get(), ctx.get()), 1);
        EXPECT_EQ(EC_POINT_is_at_infinity(group.get(), product.get()), 1);

        EXPECT_EQ(BN_cmp(x.get(), FromHex(kPublished[index].x).get()), 0);
        EXPECT_EQ(BN_cmp(y.get(), FromHex(kPublished[index].y).get()), 0);
    }
}

TEST(StandardCurves, Polynomial163RecordIsBitExact)
{
    CSPParameters parameters;
    DSTU4145FieldRecord field;
    DSTU4145PointRecord point;
    ASSERT_EQ(parameters.GetStandardCurve(1, 0, &field, &point), 1);
    DSTU4145FieldRecord expectedField = {{1, 0xC1455D21, 0x5E638A19, 0x0AB40392, 0x2A2DC821, 0xFF610846, 0x00000005}};
    expectedField.words[DSTU4145_FIELD_M] = 163;
    expectedField.words[DSTU4145_FIELD_K] = 7;
    expectedField.words[DSTU4145_FIELD_J] = 6;
    expectedField.words[DSTU4145_FIELD_L] = 3;
    expectedField.words[DSTU4145_FIELD_COFACTOR] = 2;
    EXPECT_EQ(std::memcmp(&field, &expectedField, sizeof field), 0);
    // P = 2E2F85F5DD74CE983A5C4237229DAF8A3F35823BE, n = 400000000000000000002BEC12BE2262D39BCF14D.
    DSTU4145PointRecord expectedPoint = {{0xF35823BE, 0x29DAF8A3, 0xA5C42372, 0xD74CE983, 0xE2F85F5D, 0x00000002}};
    const std::uint32_t n[6] = {0x39BCF14D, 0x2BE2262D, 0x0002BEC1, 0, 0, 4};
    std::memcpy(&expectedPoint.words[DSTU4145_POINT_N], n, sizeof n);
    expectedPoint.words[DSTU4145_POINT_BITS] = 163;
    EXPECT_EQ(std::memcmp(&point, &expectedPoint, sizeof point), 0);
}

// Normal-basis records against a second publication of the standard's
// numbers: B, n and the affine x of the base point (whose bit 0 the compressed
// form replaces by tr(y/x), which is 0 for all five points).
TEST(StandardCurves, NormalBasisRecordsMatchSecondSource)
{
    struct Published {
        std::uint32_t m, a, bits;
        const char *b, *n, *x;
    };
    const Published published[5] = {
        {173, 0, 172, "43D7E139319F43BA00944915740E1E6651B06E278C7", "800000000000000000000189B4E67606E3825BB2831",
         "A3B8B8D704089B24318CAA51917CB6E424B4E6DEA56"},
        {179, 1, 178, "19C9EBC4FD8308193D3A61762C547C82F2E6B2182CBCB", "3FFFFFFFFFFFFFFFFFFFFFFB981960435FE5AB64236EF",
         "11F4112265410477159E0D3E39BC4AC4ADE43B21B66B9"},
        {191, 1, 191, "13871C9D29D6CEEA740FD57444F72FDBAE559C13A1E31EF8",
         "40000000000000000000000069A779CAC1DABC6788F7474F", "7159E0D3E39BC4AC4ADE43B21B66B94F2AF25ABEEB1D85D3"},
        {233, 1, 233, "80F920952A702C75B704A424C018EEA55AA44664F3A003E0962D4F9A8E",
         "1000000000000000000000000000013E974E72F8A6922031D2603CFE0D7",
         "A0823B8ACF069F1CDE256256F21D90DB35CA795792D5F758EC2E9992FB"},
        {431, 1, 430,
         "53FB7AF7B4407000A6F226AD6BAD28378646BD83F1F940810A4C19536EE65E53F40F973F2F06C5E80EFE3B43651BD5FF8B06BA5F9299",
         "3FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFBA3175458009A8C0A724F02F81AA8A1FCBAF80D90C7A95110504CF",
         "2020182CFCD7C724157B363D4ABFD4C16251773C595D4E5C88572FA9D5EBB58142326448C08D3EE3E17E40B835D3090DCFBA7C5ADEA"
         "6"},
    };
    CSPParameters parameters;
    for (unsigned index = 0; index < 5; ++index) {
        SCOPED_TRACE("normal index " + std::to_string(index));
        const Published& e = published[index];
        DSTU4145FieldRecord field;
        DSTU4145PointRecord point;
        ASSERT_EQ(parameters.GetStandardCurve(0, index, &field, &point), 1);
        const std::uint32_t* f = field.words;
        const std::uint32_t* p = point.words;
        EXPECT_EQ(f[DSTU4145_FIELD_A], e.a);
        EXPECT_EQ(f[DSTU4145_FIELD_M], e.m);
        EXPECT_EQ(f[DSTU4145_FIELD_K], 0u);
        EXPECT_EQ(f[DSTU4145_FIELD_J], 0u);
        EXPECT_EQ(f[DSTU4145_FIELD_L], 0u);
        EXPECT_EQ(f[DSTU4145_FIELD_COFACTOR], 0u);
        EXPECT_EQ(p[DSTU4145_POINT_BITS], e.bits);
        std::size_t words = (e.m + 31) / 32;
        ExpectZeroAbove(f + DSTU4145_FIELD_B, words, "B");
        ExpectZeroAbove(p + DSTU4145_POINT_P, words, "P");
        ExpectZeroAbove(p + DSTU4145_POINT_N, words, "n");
        EXPECT_EQ(BN_cmp(FromWords(f + DSTU4145_FIELD_B, 19).get(), FromHex(e.b).get()), 0);
        BnPtr n = FromWords(p + DSTU4145_POINT_N, 19);
        EXPECT_EQ(BN_cmp(n.get(), FromHex(e.n).get()), 0);
        EXPECT_EQ(static_cast<std::uint32_t>(BN_num_bits(n.get())), e.bits);
        BnPtr x = FromHex(e.x);
        BN_clear_bit(x.get(), 0);
        EXPECT_EQ(BN_cmp(FromWords(p + DSTU4145_POINT_P, 19).get(), x.get()), 0);
        // Same n as the polynomial-basis curve of the same m.
        for (unsigned pi = 0; pi < 10; ++pi) {
            DSTU4145FieldRecord pf;
            DSTU4145PointRecord pp;
            parameters.GetStandardCurve(1, pi, &pf, &pp);
            if (pf.words[DSTU4145_FIELD_M] == e.m) {
                EXPECT_EQ(std::memcmp(&pp.words[DSTU4145_POINT_N], &p[DSTU4145_POINT_N], 19 * 4), 0);
            }
        }
    }
}

namespace {

// Arithmetic in the type II optimal normal basis of GF(2^m) (2m + 1 = p is
// prime): with g a primitive p-th root of unity, basis element i is
// g^(2^i) + g^(-2^i), so products can be taken as polynomials modulo x^p + 1
// and read back. The coefficient of basis element i is bit m - 1 - i of the
// integer form, as the standard writes its numbers.
class NormalBasis {
public:
    NormalBasis(int m, BN_CTX* ctx) : m_(m), p_(2 * m + 1), ctx_(ctx), modulus_{2 * m + 1, 0, -1}
    {
        for (int i = 0, k = 1; i < m; ++i, k = 2 * k % p_) power_.push_back(k);
    }
    BnPtr Mul(const BIGNUM* a, const BIGNUM* b) const
    {
        BnPtr pa = ToPoly(a), pb = ToPoly(b), product = NewBn();
        BN_GF2m_mod_mul_arr(product.get(), pa.get(), pb.get(), modulus_, ctx_);
        return FromPoly(product.get());
    }
    BnPtr One() const
    {
        BnPtr one = NewBn();
        for (int i = 0; i < m_; ++i) BN_set_bit(one.get(), i);
        return one;
    }
    // a^(2^m - 2) = a^2 * a^4 * ... * a^(2^(m-1)).
    BnPtr Inverse(const BIGNUM* a) const
    {
        BnPtr result = One(), power(BN_dup(a), BN_free);
        for (int i = 1; i < m_; ++i) {
            power = Mul(power.get(), power.get());
            result = Mul(result.get(), power.get());
        }
        return result;
    }
    // The trace is the sum of the coordinates.
    static int Trace(const BIGNUM* a)
    {
        int parity = 0;
        for (int i = 0; i < BN_num_bits(a); ++i) parity ^= BN_is_bit_set(a, i);
        return parity;
    }

private:
    BnPtr ToPoly(const BIGNUM* a) const
    {
        BnPtr r = NewBn();
        for (int i = 0; i < m_; ++i)
            if (BN_is_bit_set(a, m_ - 1 - i))
                for (int e : {power_[i], p_ - power_[i]})
                    BN_is_bit_set(r.get(), e) ? BN_clear_bit(r.get(), e) : BN_set_bit(r.get(), e);
        return r;
    }
    // A constant term stands for 1, the sum of all basis elements.
    BnPtr FromPoly(const BIGNUM* r) const
    {
        int constant = BN_is_bit_set(r, 0);
        BnPtr a = NewBn();
        for (int i = 0; i < m_; ++i)
            if (BN_is_bit_set(r, power_[i]) ^ constant) BN_set_bit(a.get(), m_ - 1 - i);
        return a;
    }

    int m_, p_;
    BN_CTX* ctx_;
    int modulus_[3];
    std::vector<int> power_;
};

}  // namespace

// The published affine base points of the normal-basis curves lie on their
// curves, and each record holds x with bit 0 replaced by tr(y/x), the
// compressed form; tr(x) = tr(A) lets the reader restore that bit.
TEST(StandardCurves, NormalBasisPointsCompressCorrectly)
{
    const PublishedPoint published[5] = {
        {"A3B8B8D704089B24318CAA51917CB6E424B4E6DEA56", "5A43D5EE1F400349CF35150C74F119A39145F0CB08"},
        {"11F4112265410477159E0D3E39BC4AC4ADE43B21B66B9", "2CA5F0B34C61A86216F13766591CB266E2819EE582B3C"},
        {"7159E0D3E39BC4AC4ADE43B21B66B94F2AF25ABEEB1D85D3", "57E45D546BE6201E9705E029535D009D31F51D81E18226BE"},
        {"A0823B8ACF069F1CDE256256F21D90DB35CA795792D5F758EC2E9992FB",
         "19DAE222AF326D33AFB7761953F624A23D3EB1CA7A1C300F0AA9953CA85"},
        {"2020182CFCD7C724157B363D4ABFD4C16251773C595D4E5C88572FA9D5EBB58142326448C08D3EE3E17E40B835D3090DCFBA7C5ADEA6",
         "18E1B6EFB28EEF8A1F9C1859ED57C74CA747E4E1A60294C005D1920E80903A432929855828DD7F21714F837E119A044987F00110ADA"
         "D"},
    };
    CSPParameters parameters;
    std::unique_ptr<BN_CTX, decltype(&BN_CTX_free)> ctx(BN_CTX_new(), BN_CTX_free);
    for (unsigned index = 0; index < 5; ++index) {
        SCOPED_TRACE("normal index " + std::to_string(index));
        DSTU4145FieldRecord field;
        DSTU4145PointRecord point;
        ASSERT_EQ(parameters.GetStandardCurve(0, index, &field, &point), 1);
        NormalBasis basis(static_cast<int>(field.words[DSTU4145_FIELD_M]), ctx.get());
        BnPtr b = FromWords(field.words + DSTU4145_FIELD_B, 19);
        BnPtr a = field.words[DSTU4145_FIELD_A] ? basis.One() : NewBn();
        BnPtr x = FromHex(published[index].x), y = FromHex(published[index].y);

        // y^2 + xy = x^3 + A x^2 + B
        BnPtr left = basis.Mul(y.get(), y.get()), xy = basis.Mul(x.get(), y.get());
        BN_GF2m_add(left.get(), left.get(), xy.get());
        BnPtr x2 = basis.Mul(x.get(), x.get());
        BnPtr right = basis.Mul(x2.get(), x.get()), ax2 = basis.Mul(a.get(), x2.get());
        BN_GF2m_add(right.get(), right.get(), ax2.get());
        BN_GF2m_add(right.get(), right.get(), b.get());
        EXPECT_EQ(BN_cmp(left.get(), right.get()), 0) << "not on the curve";

        EXPECT_EQ(NormalBasis::Trace(x.get()), static_cast<int>(field.words[DSTU4145_FIELD_A]));
        BnPtr z = basis.Mul(y.get(), basis.Inverse(x.get()).get());
        BnPtr compressed(BN_dup(x.get()), BN_free);
        NormalBasis::Trace(z.get()) ? BN_set_bit(compressed.get(), 0) : BN_clear_bit(compressed.get(), 0);
        EXPECT_EQ(BN_cmp(FromWords(point.words + DSTU4145_POINT_P, 19).get(), compressed.get()), 0);
    }
}

TEST(StandardCurves, LookupsOverTheWholeTable)
{
    struct Row {
        int basis;
        unsigned index;
        const char* oid;
        const char* name;  // Windows-1251
        std::uint32_t m, k, j, l, a, word24;
        int bits;
    };
    const Row rows[15] = {
        {1, 0, "1.2.804.2.1.1.1.1.3.1.1.2.0", "\xCF\xC1, 163 \xE1\xB3\xF2\xE0", 163, 7, 6, 3, 1, 2, 163},
        {1, 1, "1.2.804.2.1.1.1.1.3.1.1.2.1", "\xCF\xC1, 167 \xE1\xB3\xF2", 167, 6, 0, 0, 1, 2, 166},
        {1, 2, "1.2.804.2.1.1.1.1.3.1.1.2.2", "\xCF\xC1, 173 \xE1\xB3\xF2\xE0", 173, 10, 2, 1, 0, 4, 172},
        {1, 3, "1.2.804.2.1.1.1.1.3.1.1.2.3", "\xCF\xC1, 179 \xE1\xB3\xF2", 179, 4, 2, 1, 1, 2, 178},
        {1, 4, "1.2.804.2.1.1.1.1.3.1.1.2.4", "\xCF\xC1, 191 \xE1\xB3\xF2", 191, 9, 0, 0, 1, 2, 191},
        {1, 5, "1.2.804.2.1.1.1.1.3.1.1.2.5", "\xCF\xC1, 233 \xE1\xB3\xF2\xE0", 233, 9, 4, 1, 1, 2, 233},
        {1, 6, "1.2.804.2.1.1.1.1.3.1.1.2.6", "\xCF\xC1, 257 \xE1\xB3\xF2", 257, 12, 0, 0, 0, 4, 256},
        {1, 7, "1.2.804.2.1.1.1.1.3.1.1.2.7", "\xCF\xC1, 307 \xE1\xB3\xF2", 307, 8, 4, 2, 1, 2, 306},
        {1, 8, "1.2.804.2.1.1.1.1.3.1.1.2.8", "\xCF\xC1, 367 \xE1\xB3\xF2", 367, 21, 0, 0, 1, 2, 367},
        {1, 9, "1.2.804.2.1.1.1.1.3.1.1.2.9", "\xCF\xC1, 431 \xE1\xB3\xF2", 431, 5, 3, 1, 1, 2, 430},
        {0, 0, "1.2.804.2.1.1.1.1.3.1.2.2.0", "\xCE\xCD\xC1, 173 \xE1\xB3\xF2\xE0", 173, 0, 0, 0, 0, 0, 172},
        {0, 1, "1.2.804.2.1.1.1.1.3.1.2.2.1", "\xCE\xCD\xC1, 179 \xE1\xB3\xF2", 179, 0, 0, 0, 1, 0, 178},
        {0, 2, "1.2.804.2.1.1.1.1.3.1.2.2.2", "\xCE\xCD\xC1, 191 \xE1\xB3\xF2", 191, 0, 0, 0, 1, 0, 191},
        {0, 3, "1.2.804.2.1.1.1.1.3.1.2.2.3", "\xCE\xCD\xC1, 233 \xE1\xB3\xF2\xE0", 233, 0, 0, 0, 1, 0, 233},
        {0, 4, "1.2.804.2.1.1.1.1.3.1.2.2.4", "\xCE\xCD\xC1, 431 \xE1\xB3\xF2", 431, 0, 0, 0, 1, 0, 430},
    };
    CSPParameters parameters;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.oid);
        // Any nonzero flag selects the polynomial basis.
        int flag = row.basis ? 7 : 0;
        int bits = -1;
        char name[CSP_CURVE_TEXT_BYTES];
        char oid[CSP_CURVE_TEXT_BYTES];
        ASSERT_EQ(parameters.GetStandardCurveInfo(flag, row.index, &bits, name, oid), 1);
        EXPECT_EQ(bits, row.bits);
        EXPECT_STREQ(name, row.name);
        EXPECT_STREQ(oid, row.oid);
        EXPECT_EQ(parameters.GetStandardCurveInfo(flag, row.index, nullptr, nullptr, nullptr), 1);

        int foundBasis = -1, foundIndex = -1;
        ASSERT_EQ(parameters.FindStandardCurve(row.oid, &foundBasis, &foundIndex), 1);
        EXPECT_EQ(foundBasis, row.basis);
        EXPECT_EQ(foundIndex, static_cast<int>(row.index));

        DSTU4145FieldRecord field;
        DSTU4145PointRecord point;
        ASSERT_EQ(parameters.GetStandardCurve(flag, row.index, &field, &point), 1);
        const std::uint32_t* f = field.words;
        EXPECT_EQ(f[DSTU4145_FIELD_M], row.m);
        EXPECT_EQ(f[DSTU4145_FIELD_K], row.k);
        EXPECT_EQ(f[DSTU4145_FIELD_J], row.j);
        EXPECT_EQ(f[DSTU4145_FIELD_L], row.l);
        EXPECT_EQ(f[DSTU4145_FIELD_A], row.a);
        EXPECT_EQ(f[DSTU4145_FIELD_COFACTOR], row.word24);
        EXPECT_EQ(point.words[DSTU4145_POINT_BITS], static_cast<std::uint32_t>(row.bits));
    }

    // Out of range: 0 and nothing written.
    DSTU4145FieldRecord field;
    DSTU4145PointRecord point;
    std::memset(&field, 0xA5, sizeof field);
    std::memset(&point, 0x5A, sizeof point);
    DSTU4145FieldRecord fieldBefore = field;
    DSTU4145PointRecord pointBefore = point;
    for (auto [flag, index] : {std::pair{1, 10u}, {0, 5u}, {1, 0xFFFFFFFFu}}) {
        EXPECT_EQ(parameters.GetStandardCurve(flag, index, &field, &point), 0);
        int bits = 77;
        EXPECT_EQ(parameters.GetStandardCurveInfo(flag, index, &bits, nullptr, nullptr), 0);
        EXPECT_EQ(bits, 77);
    }
    EXPECT_EQ(std::memcmp(&field, &fieldBefore, sizeof field), 0);
    EXPECT_EQ(std::memcmp(&point, &pointBefore, sizeof point), 0);

    // How callers count the standard curves.
    unsigned count = 0;
    while (parameters.GetStandardCurve(1, count, &field, &point)) ++count;
    EXPECT_EQ(count, 10u);

    int basis = 42, index = 43;
    for (const char* oid : {"1.2.804.2.1.1.1.1.3.1.1.2.10", "1.2.804.2.1.1.1.1.3.1.1.2.9 ",
                            " 1.2.804.2.1.1.1.1.3.1.1.2.9", "1.2.804.2.1.1.1.1.3.1.1.2", ""}) {
        EXPECT_EQ(parameters.FindStandardCurve(oid, &basis, &index), 0) << oid;
    }
    EXPECT_EQ(basis, 42);
    EXPECT_EQ(index, 43);
    EXPECT_EQ(parameters.FindStandardCurve("1.2.804.2.1.1.1.1.3.1.2.2.4", nullptr, nullptr), 1);
}

TEST(StandardSBoxes, TableAndRange)
{
    CSPParameters parameters;
    GOST28147PackedSBox sBox;
    ASSERT_EQ(parameters.GetStandardSBox(0, &sBox), 1);
    // Row 0 of the DKE No. 1 table sits in the low nibbles of group 0.
    const std::uint8_t row0[16] = {10, 9, 13, 6, 14, 11, 4, 5, 15, 1, 3, 12, 7, 0, 8, 2};
    for (int i = 0; i < 16; ++i) EXPECT_EQ(sBox.rows[0][i] & 0x0F, row0[i]) << i;
    const std::uint8_t first[16] = {0x8a, 0x09, 0xcd, 0x46, 0x9e, 0x6b, 0x74, 0xb5,
                                    0x2f, 0x31, 0x13, 0xfc, 0x57, 0xe0, 0xa8, 0xd2};
    EXPECT_EQ(std::memcmp(sBox.rows[0], first, 16), 0);
    // Last bytes of entries 1 and 9.
    ASSERT_EQ(parameters.GetStandardSBox(1, &sBox), 1);
    EXPECT_EQ(sBox.rows[3][15], 0x2C);
    ASSERT_EQ(parameters.GetStandardSBox(9, &sBox), 1);
    EXPECT_EQ(sBox.rows[3][15], 0xE4);
    GOST28147PackedSBox distinct[10];
    for (unsigned i = 0; i < 10; ++i) {
        ASSERT_EQ(parameters.GetStandardSBox(i, &distinct[i]), 1);
        for (unsigned j = 0; j < i; ++j) EXPECT_NE(std::memcmp(&distinct[i], &distinct[j], 64), 0);
    }
    std::memset(&sBox, 0x77, sizeof sBox);
    EXPECT_EQ(parameters.GetStandardSBox(10, &sBox), 0);
    EXPECT_EQ(sBox.rows[0][0], 0x77);
}

// All ten S-boxes, byte for byte, as the standard tables publish them.
TEST(StandardSBoxes, EveryTableIsBitExact)
{
    const char* const published[10] = {
        "8a09cd469e6b74b52f3113fc57e0a8d23f86d5986ebbfa042c50c3a742e9117d"
        "2f889e7957f200bdcc16d1e5ab34634a13283be566d4be8af2acc157799f0d40",
        "aed93c776fe48c1bf63abd4100955822445b11cf79e29e2ca6fab8d70385603d"
        "8c7b33a99f60e455d7024ecd112af8b64f30eed6580d25b91aa3716c94fb872c",
        "7d8961be07324cd5945bf6efa3c82a10baa5c31c59689de624dffe70024b3187"
        "453bb3d01ff98e2471ecc896a20a675d63d7c8abb17e9530fde41c2a02894f56",
        "a95cb3ed77660ec12a82f044d83f951b349c4350ed728e6bd70f25f9b1c8aa16"
        "e259dcbf1d9b4421f785730e36c8aa601e96c5ba796d84382bfce00357a14fd2",
        "c3746d983c87ba52f0ae09df4b2115e63e9468d78bf3aa2c71e2c609bd4f1055"
        "158cbae77241af0dce335bd490f86926e99b1a8d55feb2036026c47caf41d738",
        "efcc59067e42a13b206d14da97b8f38515f67d49b2eeca336fb298810450a7dc"
        "bf09de76cde115482432638caa5bf097175eefb82dc03b83aa019472f96c46d5",
        "2f5daa056c9011f6d9427ee7b33b84c843aeb49bf529e152df16386d0770ca8c"
        "cfb6f5485917ec9b008ad321a2743d6e1d5204f86bac31e37a25c9deb78f0946",
        "3ee4cba26827d51c998d704301ff56bac5a278d7e13f0e26945d1b60ba43fc89"
        "66d3ff1750398a08bbace44195c22d7e320f5cc58bf1d3eeb0662d9a771944a8",
        "39500bfc8274e3cfdda61e61ba2745985844f50acebbda961cef87693321d270"
        "774c33b066a88e1b91cfedda09f52254e72e89ff310478c3bbdd1052664a95ac",
        "78d41689abec41f293076e302dcabf552cb83d41ca7299d6f3845e0715efa06b"
        "48c39dbaeeaf756134570bfc122086d9a5385e9703d0718dca461962bffb2ce4",
    };
    CSPParameters parameters;
    for (unsigned index = 0; index < 10; ++index) {
        GOST28147PackedSBox sBox;
        ASSERT_EQ(parameters.GetStandardSBox(index, &sBox), 1);
        std::uint8_t expected[64];
        for (int i = 0; i < 64; ++i)
            expected[i] = static_cast<std::uint8_t>(std::stoi(std::string(published[index] + 2 * i, 2), nullptr, 16));
        EXPECT_EQ(std::memcmp(&sBox, expected, 64), 0) << "S-box " << index;
    }
}

TEST(StandardSBoxes, DefaultDSTUSet)
{
    CSPParameters parameters;
    std::uint8_t set[1024];
    std::memcpy(set, DSTUDefaultSBoxes, sizeof set);
    // pi0 of DSTU 7624:2014 begins A8 43 5F 06, pi3 begins 68 8D CA 4D.
    EXPECT_EQ(set[0], 0xA8);
    EXPECT_EQ(set[3], 0x06);
    EXPECT_EQ(set[768], 0x68);
    EXPECT_EQ(set[771], 0x4D);
    EXPECT_EQ(parameters.IsDefaultDSTUSBoxes(set), 1);
    EXPECT_EQ(parameters.IsDefaultDSTUSBoxesEx(set), 1);
    EXPECT_TRUE(CSPParameters::IsValidDSTUSBoxSet(set));
    for (int at : {0, 511, 1023}) {
        set[at] ^= 1;
        EXPECT_EQ(parameters.IsDefaultDSTUSBoxes(set), 0) << at;
        EXPECT_EQ(parameters.IsDefaultDSTUSBoxesEx(set), 0) << at;
        set[at] ^= 1;
    }
    // Validation: a repeated byte value, and a permutation of low nonlinearity.
    std::uint8_t repeated[1024];
    std::memcpy(repeated, set, sizeof repeated);
    repeated[256 + 5] = repeated[256 + 6];
    EXPECT_FALSE(CSPParameters::IsValidDSTUSBoxSet(repeated));
    std::uint8_t linear[1024];
    std::memcpy(linear, set, sizeof linear);
    for (int x = 0; x < 256; ++x) linear[512 + x] = static_cast<std::uint8_t>(x ^ 0x5C);
    EXPECT_FALSE(CSPParameters::IsValidDSTUSBoxSet(linear));
}
