#include "dstu4145/DSTU4145.h"

#include "StandardCurves.h"
#include "dstu4145/BinaryField.h"

#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/rand.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

using dstu4145::Bytes;
using dstu4145::Curve;
using dstu4145::Engine;
using dstu4145::Result;
using dstu4145_test::kStandardCurves;
using dstu4145_test::PublishedCurve;

namespace {

// A published big-endian hex number as little-endian bytes.
Bytes Le(const std::string& hex)
{
    std::string h = hex.size() % 2 ? "0" + hex : hex;
    Bytes out(h.size() / 2);
    for (std::size_t i = 0; i < out.size(); ++i)
        out[out.size() - 1 - i] = static_cast<std::uint8_t>(std::stoul(h.substr(2 * i, 2), nullptr, 16));
    return out;
}

Bytes Padded(Bytes v, std::size_t size)
{
    v.resize(size, 0);
    return v;
}

std::string Hex(const Bytes& le)
{
    static const char* digits = "0123456789ABCDEF";
    std::string s;
    for (std::size_t i = le.size(); i-- > 0;) {
        s += digits[le[i] >> 4];
        s += digits[le[i] & 15];
    }
    return s;
}

// The published curve with the given base point (compressed).
Curve MakeCurve(const PublishedCurve& pc, const Bytes& p)
{
    Curve c;
    c.m = pc.m;
    c.k = pc.k;
    c.j = pc.j;
    c.l = pc.l;
    c.a = pc.a;
    c.b = Le(pc.b);
    c.n = Le(pc.n);
    c.p = p;
    c.nBits = pc.nBits;
    return c;
}

// The standard's compressed base point: an engine over the published x alone
// (which decompresses to P or -P, both of order n) compresses (x, y).
Bytes CompressedBasePoint(const PublishedCurve& pc)
{
    Result why;
    auto provisional = Engine::Create(MakeCurve(pc, Le(pc.px)), &why);
    EXPECT_EQ(why, Result::Ok) << pc.m;
    Bytes c;
    if (provisional) {
        EXPECT_EQ(provisional->Compress(Le(pc.px), Le(pc.py), c), Result::Ok);
    }
    return c;
}

std::unique_ptr<Engine> StandardEngine(int index)
{
    const PublishedCurve& pc = kStandardCurves[index];
    Result why;
    auto e = Engine::Create(MakeCurve(pc, CompressedBasePoint(pc)), &why);
    EXPECT_EQ(why, Result::Ok);
    return e;
}

// ---------------------------------------------------------------------------
// The worked example of the standard's appendix (m = 163, its own base point).

struct AppendixExample : ::testing::Test {
    static constexpr const char* kPx = "72D867F93A93AC27DF9FF01AFFE74885C8C540420";
    static constexpr const char* kPy = "0224A9C3947852B97C5599D5F4AB81122ADC3FD9B";
    static constexpr const char* kD = "183F60FDF7951FF47D67193F8D073790C1C9B5A3E";
    static constexpr const char* kQx = "57DE7FDE023FF929CB6AC785CE4B79CF64ABDC2DA";
    static constexpr const char* kQy = "3E85444324BCF06AD85ABF6AD7B5F34770532B9AA";
    static constexpr const char* kH = "09C9C44277910C9AAEE486883A2EB95B7180166DDF73532EEB76EDAEF52247FF";
    static constexpr const char* kHField = "03A2EB95B7180166DDF73532EEB76EDAEF52247FF";
    static constexpr const char* kE = "1025E40BD97DB012B7A1D79DE8E12932D247F61C6";
    static constexpr const char* kR = "274EA2C0CAA014A0D80A424F59ADE7A93068D08A7";
    static constexpr const char* kS = "2100D86957331832B8E8C230F5BD6A332B3615ACA";

    void SetUp() override
    {
        auto standard = StandardEngine(0);
        ASSERT_TRUE(standard);
        Bytes p;
        ASSERT_EQ(standard->Compress(Le(kPx), Le(kPy), p), Result::Ok);
        engine = Engine::Create(MakeCurve(kStandardCurves[0], p));
        ASSERT_TRUE(engine);
        // The hash value H as a number; its bytes go least significant first.
        hash = Padded(Le(kH), 32);
        d = Le(kD);
        ASSERT_EQ(engine->PublicFromPrivate(d, q), Result::Ok);
        signature = Padded(Le(kR), 21);
        Bytes s = Padded(Le(kS), 21);
        signature.insert(signature.end(), s.begin(), s.end());
    }

    std::unique_ptr<Engine> engine;
    Bytes hash, d, q, signature;
};

TEST_F(AppendixExample, PublicKeyIsMinusDP)
{
    Bytes x, y;
    ASSERT_EQ(engine->Decompress(q, x, y), Result::Ok);
    EXPECT_EQ(x, Padded(Le(kQx), 21));
    EXPECT_EQ(y, Padded(Le(kQy), 21));
    EXPECT_EQ(engine->CheckPublicKey(q), Result::Ok);
}

TEST_F(AppendixExample, HashMapsToTheExampleFieldElement)
{
    Bytes h;
    ASSERT_EQ(engine->HashToField(hash, h), Result::Ok);
    EXPECT_EQ(h, Padded(Le(kHField), 21));
}

TEST_F(AppendixExample, SignatureWithTheExampleNonceIsExact)
{
    Bytes sig;
    ASSERT_EQ(engine->Sign(hash, d, sig, Le(kE)), Result::Ok);
    EXPECT_EQ(sig, signature) << Hex(sig);
    EXPECT_EQ(engine->Verify(hash, q, signature), Result::Ok);
}

TEST_F(AppendixExample, AnyChangeBreaksTheSignature)
{
    Bytes h = hash;
    h[5] ^= 0x10;
    EXPECT_EQ(engine->Verify(h, q, signature), Result::BadSignature) << "hash";
    for (std::size_t at : {std::size_t(0), std::size_t(20), std::size_t(21), std::size_t(41)}) {
        Bytes sig = signature;
        sig[at] ^= 0x01;
        EXPECT_EQ(engine->Verify(hash, q, sig), Result::BadSignature) << "byte " << at;
    }
    Bytes otherQ;
    ASSERT_EQ(engine->PublicFromPrivate(Le("1234567"), otherQ), Result::Ok);
    EXPECT_EQ(engine->Verify(hash, otherQ, signature), Result::BadSignature) << "key";
}

TEST_F(AppendixExample, PaddedSignatureBuffers)
{
    Bytes padded = Padded(signature, 144);
    EXPECT_EQ(engine->Verify(hash, Padded(q, 64), padded), Result::Ok);
    padded[100] = 1;
    EXPECT_EQ(engine->Verify(hash, q, padded), Result::BadSignature);
    EXPECT_EQ(engine->Verify(hash, q, Bytes(signature.begin(), signature.end() - 1)), Result::BadSignature);
}

TEST_F(AppendixExample, OutOfRangeSignatureValues)
{
    const Bytes n = Padded(Le(kStandardCurves[0].n), 21);
    const Bytes zero(21, 0);
    const Bytes r(signature.begin(), signature.begin() + 21), s(signature.begin() + 21, signature.end());
    auto join = [](const Bytes& a, const Bytes& b) {
        Bytes v = a;
        v.insert(v.end(), b.begin(), b.end());
        return v;
    };
    EXPECT_EQ(engine->Verify(hash, q, join(zero, s)), Result::BadSignature);
    EXPECT_EQ(engine->Verify(hash, q, join(r, zero)), Result::BadSignature);
    EXPECT_EQ(engine->Verify(hash, q, join(n, s)), Result::BadSignature);
    EXPECT_EQ(engine->Verify(hash, q, join(r, n)), Result::BadSignature);
}

TEST_F(AppendixExample, RefusedInputs)
{
    const Bytes n = Le(kStandardCurves[0].n);
    Bytes out;
    EXPECT_EQ(engine->PublicFromPrivate(Bytes{0}, out), Result::BadKey);
    EXPECT_EQ(engine->PublicFromPrivate(n, out), Result::BadKey);
    EXPECT_EQ(engine->Sign(hash, n, out), Result::BadKey);
    EXPECT_EQ(engine->Sign(hash, d, out, Bytes{0}), Result::BadNonce);
    EXPECT_EQ(engine->Sign(hash, d, out, n), Result::BadNonce);
    EXPECT_EQ(engine->Sign(Bytes{}, d, out), Result::BadHash);
    EXPECT_EQ(engine->Verify(Bytes{}, q, signature), Result::BadHash);
}

// ---------------------------------------------------------------------------
// The ten standard curves.

class StandardCurve : public ::testing::TestWithParam<int> {};

TEST_P(StandardCurve, BasePointCompressionRoundTrip)
{
    const PublishedCurve& pc = kStandardCurves[GetParam()];
    Bytes c = CompressedBasePoint(pc);
    ASSERT_FALSE(c.empty());
    // Compression only ever changes bit 0 of x.
    Bytes px = Padded(Le(pc.px), c.size());
    EXPECT_EQ(c[0] & 0xFE, px[0] & 0xFE);
    EXPECT_TRUE(std::equal(c.begin() + 1, c.end(), px.begin() + 1));

    auto engine = Engine::Create(MakeCurve(pc, c));
    ASSERT_TRUE(engine);
    Bytes x, y;
    ASSERT_EQ(engine->Decompress(c, x, y), Result::Ok);
    EXPECT_EQ(x, px);
    EXPECT_EQ(y, Padded(Le(pc.py), y.size()));
    EXPECT_EQ(engine->NBits(), pc.nBits);
    EXPECT_EQ(engine->FieldBytes(), static_cast<std::size_t>((pc.m + 7) / 8));
    EXPECT_EQ(engine->Cofactor(), pc.a == 1 ? 2 : 4);
}

TEST_P(StandardCurve, RecordsRoundTrip)
{
    const PublishedCurve& pc = kStandardCurves[GetParam()];
    const Curve curve = MakeCurve(pc, CompressedBasePoint(pc));
    std::uint32_t field[25], point[39];
    ASSERT_EQ(dstu4145::CurveToRecords(curve, field, point), Result::Ok);
    EXPECT_EQ(field[20], static_cast<std::uint32_t>(pc.m));
    EXPECT_EQ(field[24], pc.a == 1 ? 2u : 4u);
    EXPECT_EQ(point[38], static_cast<std::uint32_t>(pc.nBits));
    EXPECT_EQ(field[19], 0u);
    EXPECT_EQ(point[18], 0u);
    EXPECT_EQ(point[37], 0u);

    Curve back;
    ASSERT_EQ(dstu4145::CurveFromRecords(field, point, back), Result::Ok);
    auto engine = Engine::Create(back);
    ASSERT_TRUE(engine);
    Bytes x, y;
    ASSERT_EQ(engine->Decompress(back.p, x, y), Result::Ok);
    EXPECT_EQ(x, Padded(Le(pc.px), x.size()));

    std::uint8_t record[240];
    ASSERT_EQ(dstu4145::CurveToDeviceKeyParameters(back, record), Result::Ok);
    Curve fromDevice;
    ASSERT_EQ(dstu4145::CurveFromDeviceKeyParameters(record, fromDevice), Result::Ok);
    std::uint32_t field2[25], point2[39];
    ASSERT_EQ(dstu4145::CurveToRecords(fromDevice, field2, point2), Result::Ok);
    EXPECT_EQ(0, std::memcmp(field, field2, sizeof field));
    EXPECT_EQ(0, std::memcmp(point, point2, sizeof point));
}

TEST_P(StandardCurve, SignVerifyRoundTrip)
{
    auto engine = StandardEngine(GetParam());
    ASSERT_TRUE(engine);
    const int nBits = engine->NBits();
    const std::size_t len = engine->OrderBytes();
    Bytes d, q;
    ASSERT_EQ(engine->GenerateKey(d, q), Result::Ok);
    EXPECT_EQ(q.size(), engine->FieldBytes());
    EXPECT_EQ(engine->CheckPublicKey(q), Result::Ok);
    Bytes q2;
    ASSERT_EQ(engine->PublicFromPrivate(d, q2), Result::Ok);
    EXPECT_EQ(q, q2);

    for (std::size_t hashSize : {32u, 48u, 64u}) {
        Bytes hash(hashSize);
        for (std::size_t i = 0; i < hashSize; ++i) hash[i] = static_cast<std::uint8_t>(i * 37 + hashSize);
        for (int round = 0; round < 4; ++round) {
            Bytes sig;
            ASSERT_EQ(engine->Sign(hash, d, sig), Result::Ok);
            ASSERT_EQ(sig.size(), 2 * len);
            // r is cut to nBits - 1 bits.
            Bytes r(sig.begin(), sig.begin() + len);
            const int top = (nBits - 1) % 8;  // bits in use in r's top byte (0 = all 8 of the byte below)
            if (top == 0)
                EXPECT_EQ(r[len - 1], 0) << "r above nBits - 1";
            else
                EXPECT_EQ(r[len - 1] >> top, 0) << "r above nBits - 1";
            EXPECT_EQ(engine->Verify(hash, q, sig), Result::Ok) << hashSize;

            Bytes badHash = hash;
            badHash[hashSize - 1 - round] ^= 0x80;
            // A change above the m low bits of the hash is not seen (the
            // hash is cut to m bits); only 48- and 64-byte hashes reach there.
            const bool seen = (hashSize - 1 - round) * 8 + 7 < static_cast<std::size_t>(engine->M());
            EXPECT_EQ(engine->Verify(badHash, q, sig), seen ? Result::BadSignature : Result::Ok);
            Bytes badR = sig, badS = sig;
            badR[round] ^= 0x04;
            badS[len + round] ^= 0x04;
            EXPECT_EQ(engine->Verify(hash, q, badR), Result::BadSignature);
            EXPECT_EQ(engine->Verify(hash, q, badS), Result::BadSignature);
        }
    }
}

TEST_P(StandardCurve, AgreementIsSymmetricAndUsesTheCofactor)
{
    auto engine = StandardEngine(GetParam());
    ASSERT_TRUE(engine);
    Bytes dA, qA, dB, qB;
    ASSERT_EQ(engine->GenerateKey(dA, qA), Result::Ok);
    ASSERT_EQ(engine->GenerateKey(dB, qB), Result::Ok);
    Bytes xAB, yAB, xBA, yBA;
    ASSERT_EQ(engine->Agree(dA, qB, xAB, &yAB), Result::Ok);
    ASSERT_EQ(engine->Agree(dB, qA, xBA, &yBA), Result::Ok);
    EXPECT_EQ(xAB, xBA);
    EXPECT_EQ(yAB, yBA);
    EXPECT_EQ(xAB.size(), engine->FieldBytes());

    // Z = c dA dB P up to sign: the x of -(c dA dB mod n) P.
    BN_CTX* ctx = BN_CTX_new();
    BIGNUM* n = BN_lebin2bn(Le(kStandardCurves[GetParam()].n).data(),
                            static_cast<int>(Le(kStandardCurves[GetParam()].n).size()), nullptr);
    BIGNUM* a = BN_lebin2bn(dA.data(), static_cast<int>(dA.size()), nullptr);
    BIGNUM* b = BN_lebin2bn(dB.data(), static_cast<int>(dB.size()), nullptr);
    BIGNUM* k = BN_new();
    ASSERT_TRUE(BN_mod_mul(k, a, b, n, ctx));
    ASSERT_TRUE(BN_mul_word(k, static_cast<BN_ULONG>(engine->Cofactor())));
    ASSERT_TRUE(BN_mod(k, k, n, ctx));
    Bytes kBytes(engine->OrderBytes());
    ASSERT_GE(BN_bn2lebinpad(k, kBytes.data(), static_cast<int>(kBytes.size())), 0);
    BN_free(k);
    BN_free(b);
    BN_free(a);
    BN_free(n);
    BN_CTX_free(ctx);
    Bytes zCompressed, zx, zy;
    ASSERT_EQ(engine->PublicFromPrivate(kBytes, zCompressed), Result::Ok);
    ASSERT_EQ(engine->Decompress(zCompressed, zx, zy), Result::Ok);
    EXPECT_EQ(zx, xAB);

    Bytes other;
    EXPECT_EQ(engine->Agree(dA, qA, other), Result::Ok);
    EXPECT_NE(other, xAB);
}

INSTANTIATE_TEST_SUITE_P(All, StandardCurve, ::testing::Range(0, 10),
                         [](const auto& info) { return "m" + std::to_string(kStandardCurves[info.param].m); });

// ---------------------------------------------------------------------------

TEST(Dstu4145Records, TheCurveRecordOf163MatchesItsPublishedWords)
{
    const PublishedCurve& pc = kStandardCurves[0];
    std::uint32_t field[25], point[39];
    ASSERT_EQ(dstu4145::CurveToRecords(MakeCurve(pc, CompressedBasePoint(pc)), field, point), Result::Ok);
    const std::uint32_t b[6] = {0xC1455D21, 0x5E638A19, 0x0AB40392, 0x2A2DC821, 0xFF610846, 0x00000005};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(field[1 + i], b[i]) << i;
    // The compressed P of the 163-bit curve is its x (Tr(y/x) = bit 0 of x = 0).
    EXPECT_EQ(point[0], 0xF35823BEu);
    EXPECT_EQ(point[5], 0x2u);
    EXPECT_EQ(field[21], 7u);
    EXPECT_EQ(field[22], 6u);
    EXPECT_EQ(field[23], 3u);
}

TEST(Dstu4145Records, NormalBasisAndBrokenCurvesAreRefused)
{
    const PublishedCurve& pc = kStandardCurves[0];
    const Curve good = MakeCurve(pc, CompressedBasePoint(pc));
    std::uint32_t field[25], point[39];
    ASSERT_EQ(dstu4145::CurveToRecords(good, field, point), Result::Ok);

    // A normal-basis record: no field polynomial, word 24 zero.
    std::uint32_t nbField[25];
    std::memcpy(nbField, field, sizeof nbField);
    nbField[21] = nbField[22] = nbField[23] = nbField[24] = 0;
    Curve c;
    EXPECT_EQ(dstu4145::CurveFromRecords(nbField, point, c), Result::NormalBasis);
    Result why = Result::Ok;
    Curve nb = good;
    nb.k = nb.j = nb.l = 0;
    EXPECT_FALSE(Engine::Create(nb, &why));
    EXPECT_EQ(why, Result::NormalBasis);

    struct Case {
        const char* what;
        void (*spoil)(Curve&);
    };
    const Case cases[] = {
        {"reducible polynomial", [](Curve& v) { v.k = 8; }},
        {"even m", [](Curve& v) { v.m = 164; }},
        {"j without l", [](Curve& v) { v.l = 0; }},
        {"A = 2", [](Curve& v) { v.a = 2; }},
        {"other A", [](Curve& v) { v.a = 0; }},
        {"B = 0", [](Curve& v) { v.b.assign(1, 0); }},
        {"other B", [](Curve& v) { v.b[3] ^= 1; }},
        {"n + 2", [](Curve& v) { v.n[0] += 2; }},
        {"wrong bit length", [](Curve& v) { v.nBits = 162; }},
        {"base point 0", [](Curve& v) { v.p.assign(1, 0); }},
        {"base point above 2^m",
         [](Curve& v) {
             v.p.resize(21);
             v.p[20] |= 0x10;
         }},
    };
    for (const Case& k : cases) {
        Curve bad = good;
        k.spoil(bad);
        why = Result::Ok;
        EXPECT_FALSE(Engine::Create(bad, &why)) << k.what;
        EXPECT_EQ(why, Result::BadParameters) << k.what;
    }
}

TEST(Dstu4145Points, CompressionRoundTripAndInvalidPoints)
{
    auto engine = StandardEngine(1);  // m = 167, a trinomial
    ASSERT_TRUE(engine);
    for (int i = 0; i < 8; ++i) {
        Bytes d, q, x, y, again;
        ASSERT_EQ(engine->GenerateKey(d, q), Result::Ok);
        ASSERT_EQ(engine->Decompress(q, x, y), Result::Ok);
        ASSERT_EQ(engine->Compress(x, y, again), Result::Ok);
        EXPECT_EQ(again, q);
        // -Q = (x, x + y) differs in the trace bit only.
        Bytes negY = y;
        for (std::size_t b = 0; b < y.size(); ++b) negY[b] ^= x[b];
        ASSERT_EQ(engine->Compress(x, negY, again), Result::Ok);
        EXPECT_EQ(again[0] ^ q[0], 1);
        EXPECT_TRUE(std::equal(again.begin() + 1, again.end(), q.begin() + 1));
    }

    // Half of all x have no point: such a value is refused as a key.
    const Bytes hash(32, 0x5A);
    Bytes d, q, sig;
    ASSERT_EQ(engine->GenerateKey(d, q), Result::Ok);
    ASSERT_EQ(engine->Sign(hash, d, sig), Result::Ok);
    int refused = 0;
    for (std::uint8_t v = 2; v < 40; ++v) {
        Bytes c{v, 0x11, 0x22}, x, y;
        if (engine->Decompress(c, x, y) == Result::Ok) continue;
        ++refused;
        EXPECT_EQ(engine->CheckPublicKey(c), Result::BadKey);
        EXPECT_EQ(engine->Verify(hash, c, sig), Result::BadKey);
        Bytes shared;
        EXPECT_EQ(engine->Agree(d, c, shared), Result::BadKey);
    }
    EXPECT_GT(refused, 0);

    // Not on the curve, above 2^m, and the point of order 2.
    Bytes x, y, out;
    ASSERT_EQ(engine->Decompress(q, x, y), Result::Ok);
    y[0] ^= 1;
    EXPECT_EQ(engine->Compress(x, y, out), Result::BadKey);
    Bytes big(22, 0);
    big[21] = 1;
    EXPECT_EQ(engine->Decompress(big, x, y), Result::BadKey);
    EXPECT_EQ(engine->CheckPublicKey(Bytes{0}), Result::BadKey);
    Bytes padded = Padded(q, 64);
    EXPECT_EQ(engine->CheckPublicKey(padded), Result::Ok);
    padded[63] = 1;
    EXPECT_EQ(engine->CheckPublicKey(padded), Result::BadKey);
}

TEST(Dstu4145Points, KeysOutsideThePrimeOrderSubgroupAreRefused)
{
    // With A = 0 the cofactor is 4: decompression lands in a group of order
    // 2n, so about half of the points it yields are not of order n.
    auto engine = StandardEngine(2);  // m = 173, A = 0
    ASSERT_TRUE(engine);
    Bytes d, q, sig;
    const Bytes hash(32, 0x33);
    ASSERT_EQ(engine->GenerateKey(d, q), Result::Ok);
    ASSERT_EQ(engine->Sign(hash, d, sig), Result::Ok);
    int accepted = 0, refused = 0;
    for (std::uint8_t v = 2; v < 80; ++v) {
        Bytes c{v, 0x5C, 0x17, 0x09}, x, y;
        if (engine->Decompress(c, x, y) != Result::Ok) continue;
        if (engine->CheckPublicKey(c) == Result::Ok) {
            ++accepted;
            continue;
        }
        ++refused;
        EXPECT_EQ(engine->Verify(hash, c, sig), Result::BadKey);
        Bytes shared;
        EXPECT_EQ(engine->Agree(d, c, shared), Result::BadKey);
    }
    EXPECT_GT(accepted, 0);
    EXPECT_GT(refused, 0);
}

// Random points of the whole curve, made by OpenSSL from the published
// curve: those of order n compress and come back unchanged, every other one
// is refused (its compressed form would decompress to another point).
TEST(Dstu4145Points, OnlyPointsOfOrderNCompress)
{
    for (int index : {0, 2}) {  // A = 1 (cofactor 2) and A = 0 (cofactor 4)
        const PublishedCurve& pc = kStandardCurves[index];
        auto engine = StandardEngine(index);
        ASSERT_TRUE(engine);
        int poly[6] = {pc.m, pc.k, pc.j, pc.l, 0, -1};
        if (pc.j == 0) {
            poly[2] = 0;
            poly[3] = -1;
        }
        BN_CTX* ctx = BN_CTX_new();
        BIGNUM *f = BN_new(), *a = BN_new(), *b = BN_new(), *n = BN_new(), *x = BN_new(), *y = BN_new();
        ASSERT_TRUE(ctx && f && a && b && n && x && y);
        const Bytes bLe = Le(pc.b), nLe = Le(pc.n);
        ASSERT_TRUE(BN_GF2m_arr2poly(poly, f) && BN_set_word(a, static_cast<BN_ULONG>(pc.a)) &&
                    BN_lebin2bn(bLe.data(), static_cast<int>(bLe.size()), b) &&
                    BN_lebin2bn(nLe.data(), static_cast<int>(nLe.size()), n));
        EC_GROUP* group = EC_GROUP_new_curve_GF2m(f, a, b, ctx);
        ASSERT_NE(group, nullptr);
        EC_POINT *pt = EC_POINT_new(group), *t = EC_POINT_new(group);
        int ofOrderN = 0, others = 0;
        for (int tries = 0; tries < 200 && (ofOrderN < 6 || others < 6); ++tries) {
            ASSERT_EQ(BN_rand(x, pc.m, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY), 1);
            if (BN_is_zero(x) || EC_POINT_set_compressed_coordinates(group, pt, x, tries & 1, ctx) != 1) continue;
            ASSERT_EQ(EC_POINT_get_affine_coordinates(group, pt, x, y, ctx), 1);
            ASSERT_EQ(EC_POINT_mul(group, t, nullptr, pt, n, ctx), 1);
            const bool orderN = EC_POINT_is_at_infinity(group, t) == 1;
            const std::size_t size = engine->FieldBytes();
            Bytes xs(size), ys(size), c, backX, backY;
            ASSERT_GE(BN_bn2lebinpad(x, xs.data(), static_cast<int>(size)), 0);
            ASSERT_GE(BN_bn2lebinpad(y, ys.data(), static_cast<int>(size)), 0);
            if (orderN) {
                ++ofOrderN;
                ASSERT_EQ(engine->Compress(xs, ys, c), Result::Ok);
                ASSERT_EQ(engine->Decompress(c, backX, backY), Result::Ok);
                EXPECT_EQ(backX, xs);
                EXPECT_EQ(backY, ys);
            } else {
                ++others;
                EXPECT_EQ(engine->Compress(xs, ys, c), Result::BadKey) << pc.m << " " << Hex(xs);
            }
        }
        EXPECT_GE(ofOrderN, 6);
        EXPECT_GE(others, 6);
        EC_POINT_free(pt);
        EC_POINT_free(t);
        EC_GROUP_free(group);
        for (BIGNUM* v : {f, a, b, n, x, y}) BN_free(v);
        BN_CTX_free(ctx);
    }
}

// Verification checks a signer's public key once and keeps it; refused keys
// are not kept, and a kept key still verifies only its own signatures.
TEST(Dstu4145Points, VerifyChecksEachPublicKeyOnce)
{
    auto engine = StandardEngine(1);
    ASSERT_TRUE(engine);
    const Bytes hash(32, 0x42);
    Bytes d1, q1, d2, q2, sig1, sig2;
    ASSERT_EQ(engine->GenerateKey(d1, q1), Result::Ok);
    ASSERT_EQ(engine->GenerateKey(d2, q2), Result::Ok);
    ASSERT_EQ(engine->Sign(hash, d1, sig1), Result::Ok);
    ASSERT_EQ(engine->Sign(hash, d2, sig2), Result::Ok);
    const unsigned long before = engine->PublicKeyChecks();
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(engine->Verify(hash, q1, sig1), Result::Ok);
        EXPECT_EQ(engine->Verify(hash, Padded(q1, 40), sig1), Result::Ok);
        EXPECT_EQ(engine->Verify(hash, q2, sig1), Result::BadSignature);
        EXPECT_EQ(engine->Verify(hash, q2, sig2), Result::Ok);
    }
    EXPECT_EQ(engine->PublicKeyChecks() - before, 2u);

    // A value with no point on the curve is checked (and refused) every time.
    Bytes bad;
    for (std::uint8_t v = 2; bad.empty(); ++v) {
        Bytes c{v, 0x11, 0x22}, x, y;
        if (engine->Decompress(c, x, y) != Result::Ok) bad = c;
    }
    const unsigned long mid = engine->PublicKeyChecks();
    for (int i = 0; i < 3; ++i) EXPECT_EQ(engine->Verify(hash, bad, sig1), Result::BadKey);
    EXPECT_EQ(engine->Verify(hash, q1, sig1), Result::Ok);
    Bytes longBad = Padded(q1, 40);
    longBad[39] = 1;
    EXPECT_EQ(engine->Verify(hash, longBad, sig1), Result::BadKey);
    EXPECT_EQ(engine->PublicKeyChecks(), mid);  // refused before any point was made
}

TEST(Dstu4145Points, TraceIsLinearAndOfOne)
{
    auto engine = StandardEngine(0);
    ASSERT_TRUE(engine);
    EXPECT_EQ(engine->Trace(Bytes{1}), 1);  // m odd
    EXPECT_EQ(engine->Trace(Bytes{0}), 0);
    const Bytes u = Le("123456789ABCDEF0123456789ABCDEF01234567"), v = Le("FEDCBA9876543210FEDCBA98765432");
    Bytes w = Padded(u, 21), vp = Padded(v, 21);
    for (std::size_t i = 0; i < w.size(); ++i) w[i] ^= vp[i];
    EXPECT_EQ(engine->Trace(w), engine->Trace(u) ^ engine->Trace(v));
    Bytes tooBig(21, 0);
    tooBig[20] = 0x08;  // t^163
    EXPECT_EQ(engine->Trace(tooBig), -1);
}

TEST(Dstu4145Hash, MappingToTheField)
{
    auto engine = StandardEngine(0);
    ASSERT_TRUE(engine);
    Bytes h;
    ASSERT_EQ(engine->HashToField(Bytes(32, 0), h), Result::Ok);
    EXPECT_EQ(h, Padded(Bytes{1}, 21)) << "zero maps to 1";
    ASSERT_EQ(engine->HashToField(Bytes{0xAB, 0xCD}, h), Result::Ok);
    EXPECT_EQ(h, Padded(Bytes{0xAB, 0xCD}, 21)) << "short hashes are taken whole";
    Bytes onlyHigh(32, 0);
    onlyHigh[31] = 0xFF;  // bits above 163 only
    ASSERT_EQ(engine->HashToField(onlyHigh, h), Result::Ok);
    EXPECT_EQ(h, Padded(Bytes{1}, 21));
    Bytes top(21, 0);
    top[20] = 0xFF;
    ASSERT_EQ(engine->HashToField(top, h), Result::Ok);
    EXPECT_EQ(h[20], 0x07);
}

// ---------------------------------------------------------------------------
// The engine's own group law against OpenSSL's binary-curve arithmetic.

// OpenSSL's group for a published curve, with the published base point.
struct OpenSslCurve {
    BN_CTX* ctx = BN_CTX_new();
    EC_GROUP* group = nullptr;
    EC_POINT* g = nullptr;
    BIGNUM* n = nullptr;

    explicit OpenSslCurve(const PublishedCurve& pc)
    {
        int poly[6] = {pc.m, pc.k, pc.j, pc.l, 0, -1};
        if (pc.j == 0) {
            poly[2] = 0;
            poly[3] = -1;
        }
        BIGNUM *f = BN_new(), *a = BN_new(), *b = Bn(Le(pc.b)), *x = Bn(Le(pc.px)), *y = Bn(Le(pc.py));
        n = Bn(Le(pc.n));
        EXPECT_TRUE(BN_GF2m_arr2poly(poly, f) && BN_set_word(a, static_cast<BN_ULONG>(pc.a)));
        group = EC_GROUP_new_curve_GF2m(f, a, b, ctx);
        g = EC_POINT_new(group);
        EXPECT_EQ(EC_POINT_set_affine_coordinates(group, g, x, y, ctx), 1);
        for (BIGNUM* v : {f, a, b, x, y}) BN_free(v);
    }
    ~OpenSslCurve()
    {
        EC_POINT_free(g);
        EC_GROUP_free(group);
        BN_free(n);
        BN_CTX_free(ctx);
    }
    static BIGNUM* Bn(const Bytes& le) { return BN_lebin2bn(le.data(), static_cast<int>(le.size()), nullptr); }

    // k G as (x, y) in `size` bytes each.
    void Multiple(const Bytes& k, std::size_t size, Bytes& x, Bytes& y, bool negate = false) const
    {
        BIGNUM *kb = Bn(k), *bx = BN_new(), *by = BN_new();
        EC_POINT* p = EC_POINT_new(group);
        ASSERT_EQ(EC_POINT_mul(group, p, nullptr, g, kb, ctx), 1);
        if (negate) {
            ASSERT_EQ(EC_POINT_invert(group, p, ctx), 1);
        }
        ASSERT_EQ(EC_POINT_get_affine_coordinates(group, p, bx, by, ctx), 1);
        x.assign(size, 0);
        y.assign(size, 0);
        ASSERT_GE(BN_bn2lebinpad(bx, x.data(), static_cast<int>(size)), 0);
        ASSERT_GE(BN_bn2lebinpad(by, y.data(), static_cast<int>(size)), 0);
        EC_POINT_free(p);
        for (BIGNUM* v : {kb, bx, by}) BN_free(v);
    }

    Bytes RandomScalar(std::size_t size) const
    {
        BIGNUM* k = BN_new();
        do {
            EXPECT_EQ(BN_rand_range(k, n), 1);
        } while (BN_is_zero(k));
        Bytes out(size);
        EXPECT_GE(BN_bn2lebinpad(k, out.data(), static_cast<int>(size)), 0);
        BN_free(k);
        return out;
    }

    // a b mod n.
    Bytes Product(const Bytes& a, const Bytes& b, BN_ULONG c, std::size_t size) const
    {
        BIGNUM *x = Bn(a), *y = Bn(b), *r = BN_new();
        EXPECT_TRUE(BN_mod_mul(r, x, y, n, ctx) && BN_mul_word(r, c) && BN_mod(r, r, n, ctx));
        Bytes out(size);
        EXPECT_GE(BN_bn2lebinpad(r, out.data(), static_cast<int>(size)), 0);
        for (BIGNUM* v : {x, y, r}) BN_free(v);
        return out;
    }
};

// Public keys (-dP, through the base point's table), agreement (c d Q,
// through the ladder) and verification (sP + rQ, the ladder and, once a key
// is used often, its own table) against points OpenSSL computes.
TEST_P(StandardCurve, GroupLawMatchesOpenSsl)
{
    const PublishedCurve& pc = kStandardCurves[GetParam()];
    auto engine = StandardEngine(GetParam());
    ASSERT_TRUE(engine);
    OpenSslCurve ref(pc);
    const std::size_t fieldBytes = engine->FieldBytes(), orderBytes = engine->OrderBytes();
    for (int round = 0; round < 4; ++round) {
        const Bytes d = ref.RandomScalar(orderBytes), t = ref.RandomScalar(orderBytes);
        Bytes q, qx, qy, wantX, wantY;
        ASSERT_EQ(engine->PublicFromPrivate(d, q), Result::Ok);
        ASSERT_EQ(engine->Decompress(q, qx, qy), Result::Ok);
        ref.Multiple(d, fieldBytes, wantX, wantY, true);
        EXPECT_EQ(qx, wantX) << "m = " << pc.m;
        EXPECT_EQ(qy, wantY) << "m = " << pc.m;

        // The peer's key t G made by OpenSSL; Z = c d t G.
        Bytes peerX, peerY, peer, zx, zy;
        ref.Multiple(t, fieldBytes, peerX, peerY);
        ASSERT_EQ(engine->Compress(peerX, peerY, peer), Result::Ok);
        ASSERT_EQ(engine->Agree(d, peer, zx, &zy), Result::Ok);
        ref.Multiple(ref.Product(d, t, static_cast<BN_ULONG>(engine->Cofactor()), orderBytes), fieldBytes, wantX,
                     wantY);
        EXPECT_EQ(zx, wantX) << "m = " << pc.m;
        EXPECT_EQ(zy, wantY) << "m = " << pc.m;
    }
    // One signer's key verifies many signatures: the key's table is made on
    // its fourth use; every signature verifies before and after, and none
    // verifies another message.
    Bytes d, q;
    ASSERT_EQ(engine->GenerateKey(d, q), Result::Ok);
    for (int i = 0; i < 7; ++i) {
        const Bytes hash(32, static_cast<std::uint8_t>(0x30 + i)), other(32, static_cast<std::uint8_t>(0x60 + i));
        Bytes sig;
        ASSERT_EQ(engine->Sign(hash, d, sig), Result::Ok);
        EXPECT_EQ(engine->Verify(hash, q, sig), Result::Ok) << "m = " << pc.m << ", signature " << i;
        EXPECT_EQ(engine->Verify(other, q, sig), Result::BadSignature) << "m = " << pc.m << ", signature " << i;
    }
}

// Work on secret scalars takes the same field operations whatever the
// scalar: small, large, of few and of many set bits.
TEST(Dstu4145ConstantTime, SecretScalarsTakeTheSameSteps)
{
    for (int index : {2, 6, 9}) {  // m = 173 (A = 0), 257 (A = 0), 431 (A = 1)
        const PublishedCurve& pc = kStandardCurves[index];
        auto engine = StandardEngine(index);
        ASSERT_TRUE(engine);
        OpenSslCurve ref(pc);
        const std::size_t size = engine->OrderBytes();
        const Bytes n = Padded(Le(pc.n), size);
        Bytes nMinus1 = n, nMinus2 = n;
        nMinus1[0] -= 1;  // n is odd: no borrow
        nMinus2[0] -= 2;
        Bytes one(size, 0), two(size, 0), highBit(size, 0), sparse(size, 0);
        one[0] = 1;
        two[0] = 2;
        highBit[(static_cast<std::size_t>(pc.nBits) - 2) / 8] = static_cast<std::uint8_t>(1u << ((pc.nBits - 2) % 8));
        sparse[0] = 0x01;
        sparse[size / 2] = 0x80;
        std::vector<Bytes> scalars = {one, two, nMinus1, nMinus2, highBit, sparse};
        for (int i = 0; i < 3; ++i) scalars.push_back(ref.RandomScalar(size));

        Bytes peer, warm;
        Bytes dPeer;
        ASSERT_EQ(engine->GenerateKey(dPeer, peer), Result::Ok);
        ASSERT_EQ(engine->Agree(dPeer, peer, warm), Result::Ok);  // the peer key's check, once
        const Bytes hash(32, 0x5A);
        std::vector<dstu4145::FieldOperationCounts> publicKey, agreement, signature;
        dstu4145::BinaryField::CountOperations(true);
        for (const Bytes& k : scalars) {
            Bytes out, sig;
            auto before = dstu4145::BinaryField::Counts();
            ASSERT_EQ(engine->PublicFromPrivate(k, out), Result::Ok);
            auto after = dstu4145::BinaryField::Counts();
            publicKey.push_back({after.multiplications - before.multiplications, after.squarings - before.squarings,
                                 after.inversions - before.inversions});
            before = dstu4145::BinaryField::Counts();
            ASSERT_EQ(engine->Agree(k, peer, out), Result::Ok);
            after = dstu4145::BinaryField::Counts();
            agreement.push_back({after.multiplications - before.multiplications, after.squarings - before.squarings,
                                 after.inversions - before.inversions});
            // The same key signs with each scalar as its one-time value.
            before = dstu4145::BinaryField::Counts();
            ASSERT_EQ(engine->Sign(hash, dPeer, sig, k), Result::Ok);
            after = dstu4145::BinaryField::Counts();
            signature.push_back({after.multiplications - before.multiplications, after.squarings - before.squarings,
                                 after.inversions - before.inversions});
        }
        for (std::size_t i = 1; i < scalars.size(); ++i) {
            EXPECT_EQ(publicKey[i], publicKey[0]) << "m = " << pc.m << ", scalar " << i;
            EXPECT_EQ(agreement[i], agreement[0]) << "m = " << pc.m << ", scalar " << i;
            EXPECT_EQ(signature[i], signature[0]) << "m = " << pc.m << ", scalar " << i;
        }
        EXPECT_GT(publicKey[0].multiplications, 0u);
        dstu4145::BinaryField::CountOperations(false);
    }
}

}  // namespace
