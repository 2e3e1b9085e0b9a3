// The DSTU 4145, key-wrap, GOST 28147 and GOST 34.311 entries of the stand-in
// cgbase.so, called directly. The wraps are checked against a step-by-step
// build from the key's own primitives (the emulated key's crypto module).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "cglib/CgDSTUGOSTEntries.h"
#include "dstu4145/DSTU4145.h"
#include "keyemu/KeyCrypto.h"
#include "support/CSPParameters.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
namespace kc = keyemu::kc;

struct Curve {
    DSTU4145FieldRecord field;
    DSTU4145PointRecord point;
};

Curve Standard(unsigned index)
{
    Curve c{};
    CSPParameters params;
    EXPECT_EQ(params.GetStandardCurve(1, index, &c.field, &c.point), 1);
    return c;
}

struct State {
    void* h;
    explicit State(int check = 0) : h(DSTU4145AcquireState(check, 0)) {}
    ~State() { DSTU4145ReleaseState(h); }
    int Set(const void* v, std::uint32_t code) { return DSTU4145SetStateParameters(h, v, code); }
    int Get(void* v, std::uint32_t code) { return DSTU4145GetStateParameters(h, v, code); }
    bool Curve(const ::Curve& c) { return Set(&c.field, 2) && Set(&c.point, 3); }
};

int g_prng;  // any non-null handle

struct KeyPair {
    std::uint8_t priv[76] = {};
    std::uint8_t pub[76] = {};
};

KeyPair Generate(const Curve& c)
{
    KeyPair k;
    State s;
    EXPECT_TRUE(s.Curve(c));
    EXPECT_EQ(s.Set(&g_prng, 8), 1);
    EXPECT_EQ(DSTU4145GenerateParameters(s.h, 3), 1);
    EXPECT_EQ(s.Get(k.priv, 5), 1);
    EXPECT_EQ(s.Get(k.pub, 6), 1);
    return k;
}

int Verify(const Curve& c, const std::uint8_t* pub, const std::uint8_t* hash, std::uint32_t hashLength,
           const std::uint8_t* signature)
{
    State s;
    std::uint8_t padded[64] = {};
    std::memcpy(padded, hash, hashLength);
    const std::uint32_t words = (hashLength + 3) / 4;
    if (!s.Curve(c) || !s.Set(pub, 6) || !s.Set(signature, 9) || !s.Set(&words, 18) || !s.Set(padded, 12)) return -1;
    return DSTU4145VerifySignature(s.h);
}

class StandardCurveTest : public ::testing::TestWithParam<unsigned> {};

TEST_P(StandardCurveTest, SignVerifyAndBitLengthForEachHashSize)
{
    const Curve c = Standard(GetParam());
    const KeyPair k = Generate(c);
    for (std::uint32_t hashLength : {32u, 48u, 64u}) {
        Bytes hash(hashLength);
        for (std::size_t i = 0; i < hash.size(); ++i) hash[i] = static_cast<std::uint8_t>(i * 7 + hashLength);
        std::uint8_t signature[152] = {};
        State s;
        const std::uint32_t words = hashLength / 4;
        ASSERT_TRUE(s.Curve(c));
        ASSERT_EQ(s.Set(k.priv, 5), 1);
        ASSERT_EQ(s.Set(&g_prng, 8), 1);
        ASSERT_EQ(s.Set(&words, 18), 1);
        ASSERT_EQ(s.Set(hash.data(), 12), 1);
        ASSERT_EQ(DSTU4145SignHash(s.h), 1);
        ASSERT_EQ(s.Get(signature, 9), 1);
        std::uint32_t bits = 0;
        ASSERT_EQ(s.Get(&bits, 20), 1);
        EXPECT_EQ(bits, c.point.words[38]);
        EXPECT_EQ(Verify(c, k.pub, hash.data(), hashLength, signature), 1) << hashLength;
        hash[hashLength - 1] ^= 1;
        // The hash is cut to m bits, so only a change inside them must fail.
        hash[0] ^= 1;
        EXPECT_EQ(Verify(c, k.pub, hash.data(), hashLength, signature), 0) << hashLength;
    }
}

INSTANTIATE_TEST_SUITE_P(Polynomial, StandardCurveTest, ::testing::Range(0u, 10u));

TEST(CgDSTU4145, StrictCheckRefusesDamagedRecordsAndTakesAZeroBitLength)
{
    const Curve good = Standard(0);
    {
        State s(1);
        EXPECT_TRUE(s.Curve(good));
    }
    Curve noBits = good;
    noBits.point.words[38] = 0;
    {
        State s(1);
        EXPECT_TRUE(s.Curve(noBits));
        std::uint32_t bits = 0;
        ASSERT_EQ(s.Get(&bits, 20), 1);
        EXPECT_EQ(bits, good.point.words[38]);
    }
    struct Damage {
        const char* what;
        void (*apply)(Curve&);
    };
    const Damage damages[] = {
        {"B", [](Curve& c) { c.field.words[1] ^= 4; }},
        {"n", [](Curve& c) { c.point.words[19] ^= 2; }},
        {"base point", [](Curve& c) { c.point.words[0] ^= 8; }},
        {"cofactor", [](Curve& c) { c.field.words[24] = 3; }},
        {"bit length", [](Curve& c) { c.point.words[38] += 1; }},
        {"flag bit in A", [](Curve& c) { c.field.words[0] |= 0x80000000u; }},
        {"m", [](Curve& c) { c.field.words[20] = 0; }},
    };
    for (const Damage& d : damages) {
        Curve bad = good;
        d.apply(bad);
        State s(1);
        EXPECT_FALSE(s.Curve(bad)) << d.what;
    }
}

TEST(CgDSTU4145, PrivateKeyGivesItsPublicKeyAndBadKeysAreRefused)
{
    const Curve c = Standard(2);
    const KeyPair k = Generate(c);
    State s;
    ASSERT_TRUE(s.Curve(c));
    ASSERT_EQ(s.Set(k.priv, 5), 1);
    ASSERT_EQ(s.Set(&g_prng, 8), 1);
    ASSERT_EQ(DSTU4145GenerateParameters(s.h, 2), 1);
    std::uint8_t pub[76];
    ASSERT_EQ(s.Get(pub, 6), 1);
    EXPECT_EQ(0, std::memcmp(pub, k.pub, 76));
    std::uint8_t zero[76] = {};
    EXPECT_EQ(s.Set(zero, 5), 0);
    std::uint8_t offCurve[76];
    std::memcpy(offCurve, k.pub, 76);
    offCurve[3] ^= 0x40;
    // Either off the curve or a different valid point: never accepted as k.pub.
    if (s.Set(offCurve, 6) == 1) {
        std::uint8_t back[76];
        ASSERT_EQ(s.Get(back, 6), 1);
        EXPECT_NE(0, std::memcmp(back, k.pub, 76));
    }
    // Signing without a generator is refused.
    State t;
    ASSERT_TRUE(t.Curve(c));
    ASSERT_EQ(t.Set(k.priv, 5), 1);
    std::uint8_t hash[32] = {1};
    ASSERT_EQ(t.Set(hash, 12), 1);
    EXPECT_EQ(DSTU4145SignHash(t.h), 0);
}

TEST(CgDSTU4145, SignatureOfTheKeyLayoutVerifies)
{
    // The key answers r || s packed at the start of 144 bytes; the provider
    // hands 152 zero-padded bytes over.
    const Curve c = Standard(4);
    dstu4145::Curve curve;
    ASSERT_EQ(dstu4145::CurveFromRecords(c.field.words, c.point.words, curve), dstu4145::Result::Ok);
    auto engine = dstu4145::Engine::Create(curve);
    ASSERT_TRUE(engine);
    dstu4145::Bytes d, q, sig;
    ASSERT_EQ(engine->GenerateKey(d, q), dstu4145::Result::Ok);
    std::uint8_t hash[32];
    for (int i = 0; i < 32; ++i) hash[i] = static_cast<std::uint8_t>(0xA0 + i);
    ASSERT_EQ(engine->Sign(dstu4145::ByteSpan(hash, 32), d, sig), dstu4145::Result::Ok);
    std::uint8_t answer[152] = {}, pub[76] = {};
    std::memcpy(answer, sig.data(), sig.size());
    std::memcpy(pub, q.data(), q.size());
    EXPECT_EQ(Verify(c, pub, hash, 32, answer), 1);
    answer[150] = 1;  // nonzero beyond r || s
    EXPECT_EQ(Verify(c, pub, hash, 32, answer), 0);
}

TEST(CgDSTU4145, TwoPartySignatureVerifiesUnderTheCommonKey)
{
    const Curve c = Standard(1);
    const KeyPair a = Generate(c), b = Generate(c);
    std::uint8_t q[76];
    {
        State s;
        ASSERT_TRUE(s.Curve(c));
        ASSERT_EQ(s.Set(b.pub, 6), 1);
        ASSERT_EQ(DSTU4145CoupleMakeCommonKeyQ(s.h, a.pub), 1);
        ASSERT_EQ(s.Get(q, 6), 1);
    }
    std::uint8_t hash[32];
    for (int i = 0; i < 32; ++i) hash[i] = static_cast<std::uint8_t>(i * 13 + 5);
    std::uint8_t rA[76], rB[76], eA[76], eB[76], commonA[76], commonB[76];
    auto stepR = [&](std::uint8_t* r, std::uint8_t* e) {
        State s;
        ASSERT_TRUE(s.Curve(c));
        ASSERT_EQ(s.Set(&g_prng, 8), 1);
        ASSERT_EQ(DSTU4145CoupleMakeSignR(s.h, r), 1);
        ASSERT_EQ(s.Get(e, 16), 1);
    };
    stepR(rA, eA);
    stepR(rB, eB);
    auto commonR = [&](const std::uint8_t* own, const std::uint8_t* other, std::uint8_t* out) {
        State s;
        ASSERT_TRUE(s.Curve(c));
        ASSERT_EQ(s.Set(hash, 12), 1);
        ASSERT_EQ(DSTU4145CoupleMakeCommonSignR(s.h, own, other, out), 1);
    };
    commonR(rA, rB, commonA);
    commonR(rB, rA, commonB);
    ASSERT_EQ(0, std::memcmp(commonA, commonB, 76));
    std::uint8_t sA[76], sB[76];
    auto stepS = [&](const KeyPair& k, const std::uint8_t* e, std::uint8_t* out) {
        State s;
        ASSERT_TRUE(s.Curve(c));
        ASSERT_EQ(s.Set(k.priv, 5), 1);
        ASSERT_EQ(s.Set(e, 16), 1);
        ASSERT_EQ(DSTU4145CoupleMakeSignS(s.h, commonA, out), 1);
    };
    stepS(a, eA, sA);
    stepS(b, eB, sB);
    std::uint8_t signature[152];
    {
        State s;
        std::uint8_t commonS[76];
        ASSERT_TRUE(s.Curve(c));
        ASSERT_EQ(DSTU4145CoupleMakeCommonSignS(s.h, sA, sB, commonS), 1);
        ASSERT_EQ(DSTU4145CoupleMakeCommonSign(s.h, commonA, commonS), 1);
        ASSERT_EQ(s.Get(signature, 9), 1);
    }
    EXPECT_EQ(Verify(c, q, hash, 32, signature), 1);
    EXPECT_EQ(Verify(c, a.pub, hash, 32, signature), 0);
}

TEST(CgDSTU4145, DenseRecordsCarryTheCurve)
{
    const Curve c = Standard(0);
    dstu4145::Curve curve;
    ASSERT_EQ(dstu4145::CurveFromRecords(c.field.words, c.point.words, curve), dstu4145::Result::Ok);
    const std::size_t fb = 21;
    Bytes record(28 + 3 * fb, 0);
    const std::uint32_t header[6] = {163, 7, 6, 3, 1, 2};
    std::memcpy(record.data(), header, sizeof header);
    std::memcpy(record.data() + 28, curve.b.data(), fb);
    std::memcpy(record.data() + 28 + fb, curve.n.data(), fb);
    std::memcpy(record.data() + 28 + 2 * fb, curve.p.data(), fb);
    const std::uint32_t size = static_cast<std::uint32_t>(record.size());
    std::uint8_t priv[21], pub[21], signature[42];
    {
        State s;
        ASSERT_EQ(s.Set(record.data(), 28 + (size << 16)), 1);
        ASSERT_EQ(s.Set(&g_prng, 8), 1);
        ASSERT_EQ(DSTU4145GenerateParameters(s.h, 3), 1);
        ASSERT_EQ(s.Get(priv, 29 + (21u << 16)), 1);
        ASSERT_EQ(s.Get(pub, 30 + (21u << 16)), 1);
        std::uint8_t hash[32] = {9, 8, 7};
        ASSERT_EQ(s.Set(hash, 12), 1);
        ASSERT_EQ(DSTU4145SignHash(s.h), 1);
        EXPECT_EQ(s.Get(signature, 31 + (41u << 16)), 0) << "a signature does not fit 41 bytes";
        ASSERT_EQ(s.Get(signature, 31 + (42u << 16)), 1);
    }
    State v;
    std::uint8_t hash[32] = {9, 8, 7};
    ASSERT_EQ(v.Set(record.data(), 28 + (size << 16)), 1);
    ASSERT_EQ(v.Set(pub, 30 + (21u << 16)), 1);
    ASSERT_EQ(v.Set(signature, 31 + (42u << 16)), 1);
    ASSERT_EQ(v.Set(hash, 12), 1);
    EXPECT_EQ(DSTU4145VerifySignature(v.h), 1);
    State shortRecord;
    EXPECT_EQ(shortRecord.Set(record.data(), 28 + ((size - 1) << 16)), 0);
    EXPECT_EQ(DSTU4145IsDenseNumbersSupported(), 1);
}

// --- wraps against the key's construction, step by step ---

void CfbGost(const std::uint8_t key[32], const std::uint8_t iv[8], std::uint8_t* data, std::size_t length)
{
    std::uint8_t f[8];
    std::memcpy(f, iv, 8);
    for (std::size_t off = 0; off < length; off += 8) {
        ASSERT_TRUE(kc::GostEcb(key, kc::kDefaultSBox, f, 1, true));
        const std::size_t n = std::min<std::size_t>(8, length - off);
        for (std::size_t i = 0; i < n; ++i) data[off + i] ^= f[i];
        if (n == 8) std::memcpy(f, data + off, 8);
    }
}

void CfbDstu(const std::uint8_t key[32], const std::uint8_t iv[32], std::uint8_t* data, std::size_t length)
{
    std::uint8_t f[32];
    std::memcpy(f, iv, 32);
    for (std::size_t off = 0; off < length; off += 32) {
        ASSERT_TRUE(kc::DstuEcb(key, f, 1, true));
        for (std::size_t i = 0; i < 32; ++i) data[off + i] ^= f[i];
        std::memcpy(f, data + off, 32);
    }
}

const std::uint8_t kFixedIv[8] = {0x4A, 0xDD, 0xA2, 0x2C, 0x79, 0xE8, 0x21, 0x05};

TEST(CgWrap, AgreedKeyIsTheKeysHashOfXAndUkm)
{
    const Curve c = Standard(0);
    const KeyPair a = Generate(c), b = Generate(c);
    const std::uint8_t ukm[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    std::uint8_t ab[32], ba[32], abKdf[32], sessionKey[32];
    ASSERT_EQ(ECDHUACalculateSharedKey(&c.field, &c.point, a.priv, b.pub, 1, ukm, 8, nullptr, nullptr, ab), 1);
    ASSERT_EQ(ECDHUACalculateSharedKey(&c.field, &c.point, b.priv, a.pub, 0, ukm, 8, nullptr, nullptr, ba), 1);
    EXPECT_EQ(0, std::memcmp(ab, ba, 32));
    ASSERT_EQ(ECDHKDFDSTU7564CalculateSharedKey(&c.field, &c.point, a.priv, b.pub, 0, ukm, 8, nullptr, 256, abKdf, 32),
              1);
    EXPECT_EQ(0, std::memcmp(ab, abKdf, 32));
    ASSERT_EQ(ECDHCalculateSharedKey(&c.field, &c.point, a.priv, b.pub, ukm, kc::kDefaultSBox, nullptr, sessionKey), 1);
    EXPECT_EQ(0, std::memcmp(ab, sessionKey, 32));

    // x(Z) from the engine, then DSTU 7564-256 of x || UKM as the key does.
    dstu4145::Curve curve;
    ASSERT_EQ(dstu4145::CurveFromRecords(c.field.words, c.point.words, curve), dstu4145::Result::Ok);
    auto engine = dstu4145::Engine::Create(curve);
    dstu4145::Bytes x;
    ASSERT_EQ(engine->Agree(dstu4145::ByteSpan(a.priv, 21), dstu4145::ByteSpan(b.pub, 21), x), dstu4145::Result::Ok);
    x.insert(x.end(), ukm, ukm + 8);
    std::uint8_t expected[32];
    ASSERT_TRUE(kc::HashDstu(x.data(), x.size(), expected));
    EXPECT_EQ(0, std::memcmp(ab, expected, 32));
}

TEST(CgWrap, GostWrapIsTheKeysConstruction)
{
    std::uint8_t kek[32], key[32], u[8];
    for (int i = 0; i < 32; ++i) {
        kek[i] = static_cast<std::uint8_t>(0x11 * i + 3);
        key[i] = static_cast<std::uint8_t>(0xF0 - i);
    }
    for (int i = 0; i < 8; ++i) u[i] = static_cast<std::uint8_t>(0x30 + i);
    std::uint8_t wrapped[44];
    ASSERT_EQ(GOST28147WrapSharedKey(kek, kc::kDefaultSBox, key, u, &g_prng, wrapped), 1);

    std::uint8_t t[44];
    std::memcpy(t, u, 8);
    std::memcpy(t + 8, key, 32);
    std::uint32_t mac = 0;
    ASSERT_TRUE(kc::GostMac(kek, kc::kDefaultSBox, key, 32, &mac));
    for (int i = 0; i < 4; ++i) t[40 + i] = static_cast<std::uint8_t>(mac >> (8 * i));
    CfbGost(kek, u, t + 8, 36);
    std::reverse(t, t + 44);
    CfbGost(kek, kFixedIv, t, 44);
    EXPECT_EQ(0, std::memcmp(t, wrapped, 44));

    std::uint8_t back[32] = {};
    ASSERT_EQ(GOST28147UnwrapSharedKey(kek, nullptr, wrapped, back), 1);
    EXPECT_EQ(0, std::memcmp(back, key, 32));
    for (int at : {0, 20, 43}) {
        std::uint8_t bad[44], untouched[32] = {};
        std::memcpy(bad, wrapped, 44);
        bad[at] ^= 0x01;
        EXPECT_EQ(GOST28147UnwrapSharedKey(kek, nullptr, bad, untouched), 0) << at;
        EXPECT_EQ(std::count(untouched, untouched + 32, 0), 32);
    }
}

TEST(CgWrap, DstuWrapIsTheKeysConstruction)
{
    std::uint8_t kek[32], key[32], v[32];
    for (int i = 0; i < 32; ++i) {
        kek[i] = static_cast<std::uint8_t>(0x5A ^ i);
        key[i] = static_cast<std::uint8_t>(i * 3);
        v[i] = static_cast<std::uint8_t>(0xC0 + i);
    }
    std::uint8_t wrapped[96];
    std::uint32_t length = 0;
    ASSERT_EQ(DSTU7624WrapSharedKey(kek, 32, nullptr, key, v, nullptr, 32, &g_prng, wrapped, &length), 1);
    EXPECT_EQ(length, 96u);

    std::uint8_t w[96];
    std::memcpy(w, v, 32);
    std::memcpy(w + 32, key, 32);
    ASSERT_TRUE(kc::DstuCmac(kek, key, 256, 32, w + 64));
    CfbDstu(kek, v, w + 32, 64);
    std::reverse(w, w + 96);
    std::uint8_t iv[32];
    for (int i = 0; i < 4; ++i) std::memcpy(iv + 8 * i, kFixedIv, 8);
    CfbDstu(kek, iv, w, 96);
    EXPECT_EQ(0, std::memcmp(w, wrapped, 96));

    std::uint8_t back[32] = {};
    ASSERT_EQ(DSTU7624UnwrapSharedKey(kek, 32, nullptr, wrapped, nullptr, back, &length), 1);
    EXPECT_EQ(0, std::memcmp(back, key, 32));
    EXPECT_EQ(length, 32u);
    wrapped[50] ^= 0x80;
    EXPECT_EQ(DSTU7624UnwrapSharedKey(kek, 32, nullptr, wrapped, nullptr, back, nullptr), 0);
    // Without a fixed V, two wraps differ and both unwrap.
    std::uint8_t w1[96], w2[96];
    ASSERT_EQ(DSTU7624WrapSharedKey(kek, 32, nullptr, key, nullptr, nullptr, 32, &g_prng, w1, nullptr), 1);
    ASSERT_EQ(DSTU7624WrapSharedKey(kek, 32, nullptr, key, nullptr, nullptr, 32, &g_prng, w2, nullptr), 1);
    EXPECT_NE(0, std::memcmp(w1, w2, 96));
}

// --- GOST 28147 states ---

TEST(CgGOST28147, DataCallsNeedAKeyAndTheNewIvRestartsTheGamma)
{
    void* bare = GOST28147AcquireState();
    std::uint8_t data[16] = {};
    EXPECT_EQ(GOST28147EncryptDataGMode(data, 16, bare), 0);
    EXPECT_EQ(GOST28147EncryptDataSSMode(data, 2, bare), 0);
    EXPECT_EQ(GOST28147GetDataMAC(data, 16, bare), 0);
    GOST28147ReleaseState(bare);

    std::uint8_t key[32], iv[8] = {1, 2, 3, 4, 5, 6, 7, 8}, iv2[8] = {9, 9, 9, 9, 1, 1, 1, 1};
    for (int i = 0; i < 32; ++i) key[i] = static_cast<std::uint8_t>(i + 1);
    auto keyed = [&](const std::uint8_t* startIv) {
        void* s = GOST28147AcquireState();
        EXPECT_EQ(GOST28147SetStateParameters(s, kc::kDefaultSBox, 2), 1);
        EXPECT_EQ(GOST28147SetStateParameters(s, key, 1), 1);
        EXPECT_EQ(GOST28147SetStateParameters(s, startIv, 3), 1);
        return s;
    };
    // A session run under iv, then switched to iv2 mid-way, equals a fresh
    // state under iv2 for the second part.
    std::uint8_t a[24] = {}, b[24] = {};
    void* s1 = keyed(iv);
    ASSERT_EQ(GOST28147EncryptDataGMode(a, 5, s1), 1);
    ASSERT_EQ(GOST28147SetStateParameters(s1, iv2, 5), 1);
    ASSERT_EQ(GOST28147EncryptDataGMode(a + 5, 19, s1), 1);
    void* s2 = keyed(iv2);
    ASSERT_EQ(GOST28147EncryptDataGMode(b + 5, 19, s2), 1);
    EXPECT_EQ(0, std::memcmp(a + 5, b + 5, 19));
    GOST28147ReleaseState(s1);
    GOST28147ReleaseState(s2);
    void* noIv = GOST28147AcquireState();
    GOST28147SetStateParameters(noIv, kc::kDefaultSBox, 2);
    GOST28147SetStateParameters(noIv, key, 1);
    EXPECT_EQ(GOST28147SetStateParameters(noIv, iv2, 5), 0) << "no session running";
    EXPECT_EQ(GOST28147EncryptDataGMode(a, 8, noIv), 0);
    GOST28147ReleaseState(noIv);
}

TEST(CgGOST34311, HmacIsTheStandardConstructionOverTheHash)
{
    std::uint8_t key[32];
    for (int i = 0; i < 32; ++i) key[i] = static_cast<std::uint8_t>(0x80 + i);
    const char* message = "message to authenticate";
    const std::uint32_t length = static_cast<std::uint32_t>(std::strlen(message));
    void* h = GOST34311HMACAcquireState();
    std::uint8_t zero[32] = {}, mac[32];
    ASSERT_EQ(GOST34311HMACSetStateParameters(h, kc::kDefaultSBox, 1), 1);
    ASSERT_EQ(GOST34311HMACSetStateParameters(h, zero, 2), 1);
    ASSERT_EQ(GOST34311HMACSetStateParameters(h, key, 3), 1);
    ASSERT_EQ(GOST34311HMACUpdateData(reinterpret_cast<const std::uint8_t*>(message), 5, h), 1);
    ASSERT_EQ(GOST34311HMACUpdateData(reinterpret_cast<const std::uint8_t*>(message) + 5, length - 5, h), 1);
    ASSERT_EQ(GOST34311HMACFinalizeDataMac(h), 1);
    ASSERT_EQ(GOST34311HMACGetStateParameters(h, mac, 4), 1);
    GOST34311HMACReleaseState(h);

    Bytes inner(32), outer(32);
    for (int i = 0; i < 32; ++i) {
        inner[i] = key[i] ^ 0x36;
        outer[i] = key[i] ^ 0x5C;
    }
    inner.insert(inner.end(), message, message + length);
    std::uint8_t ih[32], expected[32];
    ASSERT_TRUE(kc::HashGost(inner.data(), inner.size(), ih));
    outer.insert(outer.end(), ih, ih + 32);
    ASSERT_TRUE(kc::HashGost(outer.data(), outer.size(), expected));
    EXPECT_EQ(0, std::memcmp(mac, expected, 32));
}

}  // namespace
