// DSTU 4145 through the provider over the stand-in library: signatures on
// every polynomial-basis standard curve, the standard's worked example,
// parameter checks, key pairs, dense records and two-party signing.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "CSPProviderFixture.h"

namespace {

using namespace csptest;

Bytes Le(const std::string& hex)
{
    std::string h = hex.size() % 2 ? "0" + hex : hex;
    Bytes out(h.size() / 2);
    for (std::size_t i = 0; i < out.size(); ++i)
        out[out.size() - 1 - i] = static_cast<std::uint8_t>(std::stoul(h.substr(2 * i, 2), nullptr, 16));
    return out;
}

class SignEveryCurve : public ProviderTest, public ::testing::WithParamInterface<unsigned> {};

TEST_P(SignEveryCurve, SignsAndVerifiesEachHashSizeAndRefusesTampering)
{
    Curve c = StandardCurve(GetParam());
    const std::uint32_t bits = c.point.words[DSTU4145_POINT_BITS];
    const KeyPair k = Generate(c);
    for (std::uint32_t length : {32u, 48u, 64u}) {
        SCOPED_TRACE(length);
        Bytes hash(length);
        for (std::size_t i = 0; i < length; ++i) hash[i] = static_cast<std::uint8_t>(i * 31 + length + GetParam());
        std::uint8_t signature[152] = {};
        c.point.words[DSTU4145_POINT_BITS] = 0;
        ASSERT_EQ(csp->SignHashDSTU4145ExCtx(&context, length, hash.data(), &c.field, &c.point, k.priv, signature),
                  CSP_OK);
        EXPECT_EQ(c.point.words[DSTU4145_POINT_BITS], bits) << "bit length written back";
        EXPECT_EQ(csp->VerifySignatureDSTU4145(length, hash.data(), &c.field, &c.point, k.pub, signature), CSP_OK);
        Bytes other = hash;
        other[0] ^= 0x01;
        EXPECT_EQ(csp->VerifySignatureDSTU4145(length, other.data(), &c.field, &c.point, k.pub, signature),
                  CSP_INVALID_SIGNATURE);
        std::uint8_t bad[152];
        std::memcpy(bad, signature, sizeof bad);
        bad[3] ^= 0x20;
        EXPECT_EQ(csp->VerifySignatureDSTU4145(length, hash.data(), &c.field, &c.point, k.pub, bad),
                  CSP_INVALID_SIGNATURE);
    }
    // The 32-byte forms.
    std::uint8_t hash[32], signature[152] = {};
    for (int i = 0; i < 32; ++i) hash[i] = static_cast<std::uint8_t>(200 - i);
    ASSERT_EQ(csp->SignHashDSTU4145Ctx(&context, hash, &c.field, &c.point, k.priv, signature), CSP_OK);
    EXPECT_EQ(csp->VerifyHashSignatureDSTU4145Ctx(&context, hash, &c.field, &c.point, k.pub, signature), CSP_OK);
    EXPECT_EQ(csp->VerifyHashSignatureDSTU4145(hash, &c.field, &c.point, k.pub, signature), CSP_OK);
}

INSTANTIATE_TEST_SUITE_P(Polynomial, SignEveryCurve, ::testing::Range(0u, 10u));

// The worked example of DSTU 4145-2002 (m = 163 with the example's own base
// point): its key, hash and signature verify through the provider.
TEST_F(ProviderTest, TheStandardsWorkedExampleVerifies)
{
    Curve c = StandardCurve(0);
    // The example's base point, compressed: x with bit 0 set to Tr(y / x),
    // which for this point is 1 (x ends in ...420, compressed ...421).
    const Bytes px = Le("72D867F93A93AC27DF9FF01AFFE74885C8C540421");
    std::memset(c.point.words, 0, 19 * 4);
    std::memcpy(c.point.words, px.data(), px.size());
    const Bytes d = Le("183F60FDF7951FF47D67193F8D073790C1C9B5A3E");
    std::uint8_t priv[76] = {}, pub[76] = {};
    std::memcpy(priv, d.data(), d.size());
    ASSERT_EQ(csp->GetSignaturePublicKeyDSTU4145Ctx(&context, &c.field, &c.point, priv, pub), CSP_OK);
    Bytes hash = Le("09C9C44277910C9AAEE486883A2EB95B7180166DDF73532EEB76EDAEF52247FF");
    hash.resize(32, 0);
    const Bytes r = Le("274EA2C0CAA014A0D80A424F59ADE7A93068D08A7"),
                s = Le("2100D86957331832B8E8C230F5BD6A332B3615ACA");
    std::uint8_t signature[152] = {};
    std::memcpy(signature, r.data(), r.size());
    std::memcpy(signature + 21, s.data(), s.size());
    EXPECT_EQ(csp->VerifyHashSignatureDSTU4145(hash.data(), &c.field, &c.point, pub, signature), CSP_OK);
    signature[0] ^= 1;
    EXPECT_EQ(csp->VerifyHashSignatureDSTU4145(hash.data(), &c.field, &c.point, pub, signature), CSP_INVALID_SIGNATURE);
}

TEST_F(ProviderTest, ParameterCheckAcceptsStandardRecordsAndRefusesDamagedOnes)
{
    for (unsigned i = 0; i < 10; ++i) {
        Curve c = StandardCurve(i);
        EXPECT_EQ(csp->CheckParametersDSTU4145(&c.field, &c.point), CSP_OK) << i;
        EXPECT_EQ(csp->ValidateParametersDSTU4145(&c.field, &c.point), CSP_OK) << i;
    }
    struct Damage {
        const char* what;
        std::size_t word;
        bool inField;
        std::uint32_t mask;
    };
    const Damage damages[] = {{"B", 2, true, 0x100},
                              {"cofactor", 24, true, 0x1},
                              {"degree", 20, true, 0x2},
                              {"base point", 1, false, 0x10},
                              {"order", 20, false, 0x8}};
    for (const Damage& d : damages) {
        Curve c = StandardCurve(3);
        (d.inField ? c.field.words : c.point.words)[d.word] ^= d.mask;
        EXPECT_EQ(csp->CheckParametersDSTU4145(&c.field, &c.point), CSP_BAD_PARAMETERS) << d.what;
    }
}

TEST_F(ProviderTest, ARecordReadFromATextFileIsTheStandardRecordAfterTheCheck)
{
    const Curve standard = StandardCurve(0);
    const std::uint32_t w = (163 + 31) / 32;
    char path[] = "/tmp/csp14-curve-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    std::FILE* f = fdopen(fd, "w");
    std::fprintf(f, "DSTU4145\nM %u\nA %u\nB", 163u, standard.field.words[0]);
    for (std::uint32_t i = 0; i < w; ++i) std::fprintf(f, " %X", standard.field.words[1 + i]);
    std::fprintf(f, "\nK %u\nJ %u\nL %u\nH %u\nP", standard.field.words[21], standard.field.words[22],
                 standard.field.words[23], standard.field.words[24]);
    for (std::uint32_t i = 0; i < w; ++i) std::fprintf(f, " %X", standard.point.words[i]);
    std::fprintf(f, "\nN");
    for (std::uint32_t i = 0; i < w; ++i) std::fprintf(f, " %X", standard.point.words[19 + i]);
    std::fprintf(f, "\nSBOX\n");
    for (int g = 0; g < 4; ++g)
        for (int half = 0; half < 2; ++half)
            for (int v = 0; v < 16; ++v) std::fprintf(f, "%X ", (DefaultSBox().rows[g][v] >> (4 * half)) & 0xF);
    std::fclose(f);
    Curve loaded{};
    GOST28147PackedSBox sBox{};
    ASSERT_EQ(csp->Parameters().LoadParametersText(path, &loaded.field, &loaded.point, &sBox), 1);
    std::remove(path);
    EXPECT_EQ(loaded.point.words[DSTU4145_POINT_BITS], 0u);
    ASSERT_EQ(csp->CheckParametersDSTU4145(&loaded.field, &loaded.point), CSP_OK);
    EXPECT_EQ(0, std::memcmp(&loaded.field, &standard.field, sizeof loaded.field));
    EXPECT_EQ(0, std::memcmp(&loaded.point, &standard.point, sizeof loaded.point));
}

TEST_F(ProviderTest, KeyPairsCheckAndGivePublicKeys)
{
    Curve c = StandardCurve(2);
    const KeyPair sig = Generate(c, true), agr = Generate(c, false);
    EXPECT_EQ(csp->CheckSignatureKeyPairDSTU4145Ctx(&context, &c.field, &c.point, sig.priv, sig.pub), CSP_OK);
    EXPECT_EQ(csp->CheckAgreementKeyPairDSTU4145Ctx(&context, &c.field, &c.point, agr.priv, agr.pub), CSP_OK);
    EXPECT_EQ(csp->CheckSignatureKeyPairDSTU4145Ctx(&context, &c.field, &c.point, sig.priv, agr.pub),
              CSP_BAD_PARAMETERS);
    EXPECT_EQ(csp->CheckSignatureKeyPairDSTU4145Ctx(&context, &c.field, &c.point, sig.priv, nullptr), CSP_OK);
    std::uint8_t pub[76];
    ASSERT_EQ(csp->GetAgreementPublicKeyDSTU4145Ctx(&context, &c.field, &c.point, agr.priv, pub), CSP_OK);
    EXPECT_EQ(0, std::memcmp(pub, agr.pub, 76));
    // A private key alone may be asked for: the public output is skipped.
    std::uint8_t onlyPrivate[76] = {};
    EXPECT_EQ(csp->GenerateSignatureKeyPairDSTU4145Ctx(&context, &c.field, &c.point, onlyPrivate, nullptr), CSP_OK);
    EXPECT_EQ(csp->GetSignaturePublicKeyDSTU4145Ctx(&context, &c.field, &c.point, onlyPrivate, pub), CSP_OK);
    // No generator in the context: nothing to draw from.
    CSPContext none{nullptr, nullptr, nullptr};
    EXPECT_EQ(csp->GenerateSignatureKeyPairDSTU4145Ctx(&none, &c.field, &c.point, onlyPrivate, pub), CSP_NO_OBJECT);
    std::uint8_t hash[32] = {1};
    std::uint8_t signature[152];
    EXPECT_EQ(csp->SignHashDSTU4145Ctx(&none, hash, &c.field, &c.point, sig.priv, signature), CSP_NO_OBJECT);
    EXPECT_EQ(csp->SignHashDSTU4145Ctx(&none, hash, &c.field, &c.point, nullptr, signature), CSP_NO_OBJECT);
    EXPECT_EQ(csp->SignHashDSTU4145ExCtx(&context, 65, hash, &c.field, &c.point, sig.priv, signature),
              CSP_BAD_ARGUMENT);
    EXPECT_EQ(csp->VerifySignatureDSTU4145(65, hash, &c.field, &c.point, sig.pub, signature), CSP_BAD_ARGUMENT);
}

TEST_F(ProviderTest, FeatureQueriesAnsweredByTheProvider)
{
    for (std::uint32_t feature : {8u, 10u, 12u, 13u, 15u, 16u, 18u, 19u, 20u, 22u, 23u, 24u}) {
        DSTU4145FieldRecord field{};
        DSTU4145PointRecord point{};
        point.words[DSTU4145_POINT_BITS] = feature;
        EXPECT_EQ(csp->GenerateSignatureKeyPairDSTU4145(&field, &point, nullptr, nullptr), CSP_OK) << feature;
    }
    DSTU4145FieldRecord field{};
    DSTU4145PointRecord point{};
    point.words[DSTU4145_POINT_BITS] = 17;
    EXPECT_EQ(csp->GenerateSignatureKeyPairDSTU4145(&field, &point, nullptr, nullptr), CSP_NO_OBJECT);
}

// Dense records in the stand-in's layout: m, k, j, l, A, cofactor, the bit
// length slot, then B, n and the base point in (m + 7) / 8 bytes each.
Bytes DenseRecord(const Curve& c)
{
    const std::uint32_t m = c.field.words[DSTU4145_FIELD_M];
    const std::size_t fb = (m + 7) / 8;
    Bytes record(28 + 3 * fb, 0);
    const std::uint32_t header[6] = {
        m, c.field.words[21], c.field.words[22], c.field.words[23], c.field.words[0], c.field.words[24]};
    std::memcpy(record.data(), header, sizeof header);
    std::memcpy(record.data() + 28, &c.field.words[1], fb);
    std::memcpy(record.data() + 28 + fb, &c.point.words[19], fb);
    std::memcpy(record.data() + 28 + 2 * fb, &c.point.words[0], fb);
    return record;
}

TEST_F(ProviderTest, DenseRecordsSignVerifyAndCheckWithCallerSizes)
{
    const Curve c = StandardCurve(1);  // m = 167: 21-byte keys
    Bytes record = DenseRecord(c);
    const std::uint32_t size = static_cast<std::uint32_t>(record.size());
    EXPECT_EQ(csp->QueryParametersDSTU4145(record.data(), size), CSP_OK);
    std::uint32_t bits;
    std::memcpy(&bits, record.data() + 24, 4);
    EXPECT_EQ(bits, c.point.words[DSTU4145_POINT_BITS]);

    std::uint8_t priv[21], pub[21], signature[42];
    ASSERT_EQ(csp->GenerateKeyPairDSTU4145SizedCtx(&context, record.data(), size, priv, 21, pub, 21), CSP_OK);
    EXPECT_EQ(csp->CheckKeyPairDSTU4145SizedCtx(&context, record.data(), size, priv, 21, pub, 21), CSP_OK);
    EXPECT_EQ(csp->CheckKeyPairDSTU4145SizedCtx(&context, record.data(), size, priv, 21, nullptr, 0), CSP_OK);
    std::uint8_t got[21];
    ASSERT_EQ(csp->GetPublicKeyDSTU4145SizedCtx(&context, record.data(), size, priv, 21, got, 21), CSP_OK);
    EXPECT_EQ(0, std::memcmp(got, pub, 21));
    // One byte shorter: equal only when the dropped byte is zero.
    EXPECT_EQ(csp->CheckKeyPairDSTU4145SizedCtx(&context, record.data(), size, priv, 21, pub, 20),
              pub[20] == 0 ? CSP_OK : CSP_BAD_PARAMETERS);

    std::uint8_t hash[64];
    for (int i = 0; i < 64; ++i) hash[i] = static_cast<std::uint8_t>(i ^ 0x5A);
    ASSERT_EQ(
        csp->SignHashDSTU4145SizedCtx(&context, 64, hash, record.data(), size, priv, 21, signature, sizeof signature),
        CSP_OK);
    EXPECT_EQ(csp->VerifySignatureDSTU4145Sized(64, hash, record.data(), size, pub, 21, signature, 42), CSP_OK);
    hash[1] ^= 1;
    EXPECT_EQ(csp->VerifySignatureDSTU4145Sized(64, hash, record.data(), size, pub, 21, signature, 42),
              CSP_INVALID_SIGNATURE);
    EXPECT_EQ(csp->SignHashDSTU4145SizedCtx(&context, 65, hash, record.data(), size, priv, 21, signature, 42),
              CSP_BAD_ARGUMENT);

    // A refused record leaves bytes 24..27 as they were.
    Bytes broken = record;
    broken[28] ^= 0x04;
    const std::uint32_t marker = 0xA5A5A5A5u;
    std::memcpy(broken.data() + 24, &marker, 4);
    EXPECT_EQ(csp->QueryParametersDSTU4145(broken.data(), size), CSP_BAD_PARAMETERS);
    EXPECT_EQ(0, std::memcmp(broken.data() + 24, &marker, 4));
    CSPContext none{nullptr, nullptr, nullptr};
    EXPECT_EQ(csp->GenerateKeyPairDSTU4145SizedCtx(&none, record.data(), size, priv, 21, pub, 21), CSP_NO_OBJECT);
}

// Sizes that do not fit the record or the 16 bits of the parameter code are
// refused before the library sees them; the sized verify bounds its hash as
// the context forms do.
TEST_F(ProviderTest, DenseSizesOutsideTheCodeAreRefused)
{
    const Curve c = StandardCurve(0);
    Bytes record = DenseRecord(c);
    const std::uint32_t size = static_cast<std::uint32_t>(record.size());
    std::uint8_t priv[21] = {1}, pub[21] = {}, signature[42] = {}, hash[65] = {};
    Bytes small(27, 0);
    EXPECT_EQ(csp->QueryParametersDSTU4145(small.data(), 27), CSP_BAD_ARGUMENT);
    EXPECT_EQ(csp->GetPublicKeyDSTU4145SizedCtx(&context, small.data(), 27, priv, 21, pub, 21), CSP_BAD_ARGUMENT);
    EXPECT_EQ(csp->QueryParametersDSTU4145(record.data(), 0x10000 + size), CSP_BAD_ARGUMENT);
    EXPECT_EQ(csp->GenerateKeyPairDSTU4145SizedCtx(&context, record.data(), size, priv, 0x10015, pub, 21),
              CSP_BAD_ARGUMENT);
    EXPECT_EQ(csp->VerifySignatureDSTU4145Sized(65, hash, record.data(), size, pub, 21, signature, 42),
              CSP_BAD_ARGUMENT);
    // Keys below 28 bytes are normal: a 21-byte key went through above.
}

TEST_F(ProviderTest, TwoPartySignatureVerifiesUnderTheCommonKey)
{
    Curve c = StandardCurve(5);
    const KeyPair a = Generate(c), b = Generate(c);
    std::uint8_t q[76];
    ASSERT_EQ(csp->MakeCommonKeyQDSTU4145(&c.field, &c.point, a.pub, b.pub, q), CSP_OK);
    for (std::uint32_t length : {32u, 64u}) {
        SCOPED_TRACE(length);
        std::uint8_t hash[64];
        for (int i = 0; i < 64; ++i) hash[i] = static_cast<std::uint8_t>(i * 7 + length);
        // A makes its R and hands it over; B makes its own R and the common R.
        std::uint8_t eA[76], rA[76], eB[76], commonR[76];
        ASSERT_EQ(csp->MakeSignRDSTU4145Ctx(&context, &c.field, &c.point, eA, rA), CSP_OK);
        if (length == 32)
            ASSERT_EQ(csp->MakeCommonSignRDSTU4145Ctx(&context, &c.field, &c.point, hash, rA, eB, commonR), CSP_OK);
        else
            ASSERT_EQ(csp->MakeCommonSignRDSTU4145ExCtx(&context, &c.field, &c.point, length, hash, rA, eB, commonR),
                      CSP_OK);
        // A makes its S; B makes its own and the whole signature.
        std::uint8_t sA[76], signature[152];
        ASSERT_EQ(csp->MakeSignSDSTU4145Ctx(&context, &c.field, &c.point, a.priv, eA, commonR, sA), CSP_OK);
        ASSERT_EQ(csp->MakeCommonSignDSTU4145Ctx(&context, &c.field, &c.point, b.priv, eB, commonR, sA, signature),
                  CSP_OK);
        EXPECT_EQ(csp->VerifySignatureDSTU4145(length, hash, &c.field, &c.point, q, signature), CSP_OK);
        EXPECT_EQ(csp->VerifySignatureDSTU4145(length, hash, &c.field, &c.point, a.pub, signature),
                  CSP_INVALID_SIGNATURE);
    }
    std::uint8_t hash[65] = {}, e[76], r[76];
    EXPECT_EQ(csp->MakeCommonSignRDSTU4145ExCtx(&context, &c.field, &c.point, 65, hash, r, e, r), CSP_BAD_ARGUMENT);
    std::uint8_t s[76];
    EXPECT_EQ(csp->MakeSignSDSTU4145Ctx(&context, &c.field, &c.point, nullptr, e, r, s), CSP_NO_OBJECT);
    std::uint8_t offCurve[76] = {};
    offCurve[0] = 1;
    EXPECT_EQ(csp->MakeCommonKeyQDSTU4145(&c.field, &c.point, a.pub, offCurve, q), CSP_BAD_PARAMETERS);
}

TEST(ProviderUninitialized, EveryOperationAnswersNotInitialized)
{
    CSP csp;
    Curve c = StandardCurve(0);
    CSPContext context{nullptr, nullptr, nullptr};
    std::uint8_t buffer[152] = {};
    EXPECT_EQ(csp.CheckParametersDSTU4145(&c.field, &c.point), CSP_NOT_INITIALIZED);
    EXPECT_EQ(csp.SignHashDSTU4145Ctx(&context, buffer, &c.field, &c.point, buffer, buffer), CSP_NOT_INITIALIZED);
    EXPECT_EQ(csp.VerifySignatureDSTU4145(32, buffer, &c.field, &c.point, buffer, buffer), CSP_NOT_INITIALIZED);
    EXPECT_EQ(csp.MakeSignRDSTU4145Ctx(nullptr, &c.field, &c.point, buffer, buffer), CSP_NOT_INITIALIZED);
    EXPECT_EQ(csp.QueryParametersDSTU4145(buffer, 60), CSP_NOT_INITIALIZED);
    EXPECT_EQ(csp.HashGOST34311(buffer, 8, &DefaultSBox(), nullptr, buffer), CSP_NOT_INITIALIZED);
}

}  // namespace
