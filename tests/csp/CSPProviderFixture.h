// Fixture of the DSTU 4145, key-transport and GOST provider tests over the
// complete stand-in cgbase.so and cgext.so: the process moves to their folder
// (they are loaded by bare file name) and creates a provider there. The
// context is the provider's own, with the default generator started.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "CSPTestSupport.h"
#include "csp/CSP.h"
#include "support/CSPParameters.h"

namespace csptest {

struct Curve {
    DSTU4145FieldRecord field;
    DSTU4145PointRecord point;
};

inline Curve StandardCurve(unsigned index)
{
    Curve c{};
    CSPParameters params;
    EXPECT_EQ(params.GetStandardCurve(1, index, &c.field, &c.point), 1);
    return c;
}

inline const GOST28147PackedSBox& DefaultSBox()
{
    static GOST28147PackedSBox box = [] {
        GOST28147PackedSBox b{};
        CSPParameters params;
        params.GetStandardSBox(0, &b);
        return b;
    }();
    return box;
}

class ProviderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(chdir(VariantDir("full").c_str()), 0);
        // With the default generator started, so that random draws work.
        ASSERT_EQ(CreateCSP(&csp, 1), CSP_OK);
        ASSERT_NE(csp, nullptr);
        context = csp->PlainContext();
        ASSERT_NE(context.prng, nullptr);
    }
    void TearDown() override { DestroyCSP(&csp); }

    struct KeyPair {
        std::uint8_t priv[76] = {};
        std::uint8_t pub[76] = {};
    };
    KeyPair Generate(Curve& c, bool signature = true)
    {
        KeyPair k;
        const int r = signature ? csp->GenerateSignatureKeyPairDSTU4145Ctx(&context, &c.field, &c.point, k.priv, k.pub)
                                : csp->GenerateAgreementKeyPairDSTU4145Ctx(&context, &c.field, &c.point, k.priv, k.pub);
        EXPECT_EQ(r, CSP_OK);
        return k;
    }

    CSP* csp = nullptr;
    CSPContext context{};
};

}  // namespace csptest
