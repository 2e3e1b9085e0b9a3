// How the DSTU 4145, GOST and key-transport operations answer when the
// library lacks its extension entries or a library call fails (the
// stand-ins' failure switch).
#include <gtest/gtest.h>

#include <cstring>

#include "CSPProviderFixture.h"

namespace {

using namespace csptest;

TEST(ProviderWithoutExtensions, OperationsNeedingThemAnswerLibraryError)
{
    Provider p(1, "base_without_extras");
    ASSERT_NE(p.csp, nullptr);
    Curve c = StandardCurve(0);
    CSPContext context = p->PlainContext();
    std::uint8_t buffer[152] = {}, out[96];
    // Checked before any argument, even a null context.
    EXPECT_EQ(p->MakeSignRDSTU4145Ctx(nullptr, &c.field, &c.point, buffer, buffer), CSP_LIBRARY_ERROR);
    EXPECT_EQ(p->MakeCommonKeyQDSTU4145(&c.field, &c.point, buffer, buffer, buffer), CSP_LIBRARY_ERROR);
    std::memset(out, 0x5A, sizeof out);
    EXPECT_EQ(p->ComputeHMACGOST34311(buffer, 8, &DefaultSBox(), nullptr, buffer, out), CSP_LIBRARY_ERROR);
    EXPECT_EQ(out[0], 0x5A) << "the output is not touched";
    EXPECT_EQ(p->DeriveKeyPBKDF2(buffer, 8, buffer, 8, 0, 1, out, 32, nullptr), CSP_LIBRARY_ERROR);
    EXPECT_EQ(p->WrapKeyDSTU7624Ctx(&context, &c.field, &c.point, buffer, buffer, 0, buffer, 8, nullptr, buffer,
                                    nullptr, out, nullptr),
              CSP_LIBRARY_ERROR);
    EXPECT_EQ(
        p->WrapKeyDSTU7624Dense(buffer, 91, buffer, 21, buffer, 21, buffer, 8, nullptr, buffer, nullptr, out, nullptr),
        CSP_LIBRARY_ERROR);
    DSTU4145FieldRecord field{};
    DSTU4145PointRecord point{};
    point.words[DSTU4145_POINT_BITS] = 24;
    EXPECT_EQ(p->GenerateSignatureKeyPairDSTU4145(&field, &point, nullptr, nullptr), CSP_LIBRARY_ERROR);
    // What the required functions do still works.
    std::uint8_t hash[32];
    EXPECT_EQ(p->HashGOST34311(buffer, 8, &DefaultSBox(), nullptr, hash), CSP_OK);
}

TEST_F(ProviderTest, AFailedHashStepEndsTheHashAndClearsTheHandle)
{
    std::uint8_t data[16] = {}, hash[32];
    CSPHandle state = nullptr;
    ASSERT_EQ(csp->BeginHashGOST34311(&DefaultSBox(), nullptr, &state), CSP_OK);
    {
        FailSwitch fail("GOST34311HashData");
        EXPECT_EQ(csp->UpdateHashGOST34311(data, 16, &state), CSP_LIBRARY_ERROR);
    }
    EXPECT_EQ(state, nullptr);
    // A later finish finds no state instead of releasing it a second time.
    EXPECT_EQ(csp->FinishHashGOST34311(hash, &state), CSP_BAD_ARGUMENT);
    {
        FailSwitch fail("GOST34311SetStateParameters");
        state = reinterpret_cast<CSPHandle>(0x1);
        EXPECT_EQ(csp->BeginHashGOST34311(&DefaultSBox(), nullptr, &state), CSP_LIBRARY_ERROR);
        EXPECT_EQ(state, nullptr);
    }
}

TEST_F(ProviderTest, LibraryFailuresMapToTheirCodes)
{
    Curve c = StandardCurve(1);
    const KeyPair k = Generate(c);
    std::uint8_t hash[32] = {7}, signature[152];
    {
        FailSwitch fail("DSTU4145AcquireState");
        EXPECT_EQ(csp->SignHashDSTU4145Ctx(&context, hash, &c.field, &c.point, k.priv, signature), CSP_NO_MEMORY);
        EXPECT_EQ(csp->CheckParametersDSTU4145(&c.field, &c.point), CSP_NO_MEMORY);
    }
    {
        // Every parameter was taken: a failure afterwards is the library's.
        FailSwitch fail("DSTU4145SignHash");
        EXPECT_EQ(csp->SignHashDSTU4145Ctx(&context, hash, &c.field, &c.point, k.priv, signature), CSP_LIBRARY_ERROR);
    }
    std::uint8_t data[16] = {}, key[32] = {};
    std::uint32_t mac = 0;
    {
        FailSwitch fail("GOST28147AcquireState");
        EXPECT_EQ(csp->ProtectDataGOST28147(data, 16, &DefaultSBox(), nullptr, &mac, nullptr, nullptr, nullptr, key),
                  CSP_NO_MEMORY);
    }
    {
        FailSwitch fail("GOST28147GetDataMAC");
        const std::uint8_t before = data[0];
        EXPECT_EQ(csp->ProtectDataGOST28147(data, 16, &DefaultSBox(), nullptr, &mac, nullptr, nullptr, nullptr, key),
                  CSP_LIBRARY_ERROR);
        EXPECT_EQ(data[0], before);
    }
}

}  // namespace
