// Context holders over the real CSP (on the stand-in provider libraries): the
// plain form, the context form with a key object's context, the default
// generator as fallback, and a holder that cannot call, over DSTU 4145 key
// pairs the provider makes.
#include <gtest/gtest.h>

#include <climits>
#include <unistd.h>
#include <vector>

#include "FakeFormats.h"
#include "pkiformats/ContextHolders.h"

namespace {

class Holders : public ::testing::Test {
protected:
    void SetUp() override
    {
        char previous[PATH_MAX];
        ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
        ASSERT_EQ(chdir((std::string(CGLIB_VARIANTS_DIR) + "/full").c_str()), 0);
        int rc = CreateCSP(&csp, 1);  // with its default generator
        ASSERT_EQ(chdir(previous), 0);
        ASSERT_EQ(rc, CSP_OK);
        ASSERT_NE(csp->Parameters().GetStandardCurve(1, 0, &field, &point), 0);
        DSTU4145FieldRecord probeField{};
        DSTU4145PointRecord probePoint{};
        probePoint.words[38] = 13;
        withDSTU4145 = csp->GenerateSignatureKeyPairDSTU4145(&probeField, &probePoint, nullptr, nullptr) == CSP_OK;
        if (withDSTU4145) {
            ASSERT_EQ(csp->GenerateSignatureKeyPairDSTU4145(&field, &point, privateKey, publicKey), CSP_OK);
        }
        other = std::vector<std::uint8_t>(publicKey, publicKey + sizeof publicKey);
        other[5] ^= 0x40;
    }
    void TearDown() override
    {
        EXPECT_EQ(lib.LiveObjects(), 0);
        EXPECT_EQ(lib.doubleReleases, 0);
        DestroyCSP(&csp);
    }
    int Check(CSPContextHolder* h, const std::uint8_t* pub)
    {
        return CheckSignatureKeyPair(h, &field, &point, privateKey, pub);
    }
    CSP* csp = nullptr;
    fake::Library lib;
    DSTU4145FieldRecord field{};
    DSTU4145PointRecord point{};
    std::uint8_t privateKey[152] = {};
    std::uint8_t publicKey[152] = {};
    std::vector<std::uint8_t> other;
    bool withDSTU4145 = false;
};

}  // namespace

// A CSP that answers the probe with anything but 0 builds its own context on
// every call: the key object is not asked, and calls take the plain form
// when use-own-context is set. A provider not yet initialised fails the
// probe for real; initialised afterwards, the plain calls reach it.
TEST_F(Holders, AProviderThatFailsTheProbeIsCalledPlain)
{
    ASSERT_TRUE(withDSTU4145);
    auto* late = new CSP();
    auto* key = new fake::KeyContext(lib, 1, {nullptr, nullptr, csp->DefaultPRNG()}, 0);
    DSTU4145FieldRecord probeField{};
    DSTU4145PointRecord probePoint{};
    probePoint.words[38] = 13;
    EXPECT_NE(late->GenerateSignatureKeyPairDSTU4145(&probeField, &probePoint, nullptr, nullptr), CSP_OK);
    CSPContextHolder plain, none;
    InitCSPContextHolder(&plain, late, key, 1, 1);
    InitCSPContextHolder(&none, late, key, 0, 1);
    EXPECT_EQ(plain.usable, 1u);
    EXPECT_EQ(plain.contextPresent, 0u);
    EXPECT_EQ(plain.contextInterface, nullptr);
    EXPECT_TRUE(lib.log.empty());

    char previous[PATH_MAX];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir((std::string(CGLIB_VARIANTS_DIR) + "/full").c_str()), 0);
    const int initialized = late->Initialize();
    ASSERT_EQ(chdir(previous), 0);
    ASSERT_EQ(initialized, CSP_OK);
    ASSERT_EQ(late->InitializePRNG(nullptr, nullptr, nullptr), CSP_OK);
    EXPECT_EQ(Check(&plain, publicKey), CSP_OK);
    EXPECT_NE(Check(&plain, other.data()), CSP_OK);
    // Without use-own-context such a holder cannot call at all.
    EXPECT_EQ(Check(&none, publicKey), CSP_NO_OBJECT);
    EXPECT_TRUE(lib.log.empty());
    ReleaseContextHolder(&plain);
    ReleaseContextHolder(&none);
    EXPECT_EQ(key->References(), 1);
    key->Release();
    delete late;

    CSPContextHolder h;
    InitCSPContextHolder(&h, nullptr, nullptr, 1, 1);
    EXPECT_EQ(h.usable, 0u);
    EXPECT_EQ(Check(&h, publicKey), CSP_NO_OBJECT);
    CSPIContextHolder hi;
    InitCSPIContextHolder(&hi, nullptr, nullptr, 1, 1);
    EXPECT_EQ(CheckKeyPairRSAWithHolder(&hi, nullptr, nullptr, nullptr), CSP_NO_OBJECT);
    EXPECT_EQ(CheckKeyPairECDSAWithHolder(&hi, nullptr, nullptr, nullptr), CSP_NO_OBJECT);
}

TEST_F(Holders, WithoutAKeyObjectThePlainFormOrNothing)
{
    ASSERT_TRUE(withDSTU4145) << "the provider offers DSTU 4145 key pairs";
    CSPContextHolder h;
    InitCSPContextHolder(&h, csp, nullptr, 1, 0);
    EXPECT_EQ(h.usable, 1u);
    EXPECT_EQ(h.contextPresent, 0u);
    EXPECT_EQ(Check(&h, publicKey), CSP_OK);
    EXPECT_NE(Check(&h, other.data()), CSP_OK);
    ReleaseContextHolder(&h);

    InitCSPContextHolder(&h, csp, nullptr, 0, 0);
    EXPECT_EQ(Check(&h, publicKey), CSP_NO_OBJECT);

    // Fallback: the CSP's default generator as the context.
    InitCSPContextHolder(&h, csp, nullptr, 0, 1);
    EXPECT_EQ(h.contextFlags, 4u);
    EXPECT_EQ(h.context.prng, csp->DefaultPRNG());
    EXPECT_EQ(Check(&h, publicKey), CSP_OK);
    ReleaseContextHolder(&h);

    InitCSPContextHolder(&h, nullptr, nullptr, 1, 1);
    EXPECT_EQ(h.usable, 0u);
    EXPECT_EQ(Check(&h, publicKey), CSP_NO_OBJECT);
    CSPIContextHolder hi;
    InitCSPIContextHolder(&hi, nullptr, nullptr, 1, 1);
    EXPECT_EQ(CheckKeyPairRSAWithHolder(&hi, nullptr, nullptr, nullptr), CSP_NO_OBJECT);
    EXPECT_EQ(CheckKeyPairECDSAWithHolder(&hi, nullptr, nullptr, nullptr), CSP_NO_OBJECT);
}

TEST_F(Holders, AKeyObjectLendsItsContext)
{
    ASSERT_TRUE(withDSTU4145) << "the provider offers DSTU 4145 key pairs";
    auto* key = new fake::KeyContext(lib, 0xF, {nullptr, nullptr, csp->DefaultPRNG()}, 0);
    CSPContextHolder h;
    InitCSPContextHolder(&h, csp, key, 0, 0);
    EXPECT_EQ(h.usable, 1u);
    EXPECT_EQ(h.contextPresent, 1u);
    EXPECT_EQ(h.contextFlags, 7u);
    ASSERT_EQ(lib.log.back(), "4893:5(7)");
    EXPECT_EQ(key->References(), 2);
    EXPECT_EQ(Check(&h, publicKey), CSP_OK);
    EXPECT_NE(CheckAgreementKeyPair(&h, &field, &point, privateKey, other.data()), CSP_OK);
    ReleaseContextHolder(&h);
    EXPECT_EQ(key->References(), 1);
    ReleaseContextHolder(&h);  // once only
    EXPECT_EQ(key->References(), 1);

    // A key whose context cannot be had: the holder cannot call.
    auto* failing = new fake::KeyContext(lib, 1, {}, 5);
    InitCSPContextHolder(&h, csp, failing, 1, 1);
    EXPECT_EQ(h.usable, 0u);
    EXPECT_EQ(failing->References(), 1);
    EXPECT_EQ(Check(&h, publicKey), CSP_NO_OBJECT);

    // An empty context with fallback: the interface goes back at once and the
    // default generator serves.
    auto* empty = new fake::KeyContext(lib, 2, {}, 0);
    InitCSPContextHolder(&h, csp, empty, 0, 1);
    EXPECT_EQ(empty->References(), 1);
    EXPECT_EQ(h.contextInterface, nullptr);
    EXPECT_EQ(h.contextFlags, 4u);
    EXPECT_EQ(Check(&h, publicKey), CSP_OK);
    ReleaseContextHolder(&h);

    // An empty context without fallback and without the plain form: nothing.
    InitCSPContextHolder(&h, csp, empty, 0, 0);
    EXPECT_EQ(Check(&h, publicKey), CSP_NO_OBJECT);
    ReleaseContextHolder(&h);
    EXPECT_EQ(empty->References(), 1);

    key->Release();
    failing->Release();
    empty->Release();
}
