// The support layer's built-in curve table, read through the engine's record
// conversion: every polynomial-basis record must decompress to the base point
// the standard publishes, and sign and verify.
#include "dstu4145/DSTU4145.h"
#include "support/CSPParameters.h"

#include "StandardCurves.h"

#include <gtest/gtest.h>

#include <string>

using dstu4145::Bytes;
using dstu4145::Curve;
using dstu4145::Engine;
using dstu4145::Result;
using dstu4145_test::kStandardCurves;

namespace {

Bytes Le(const std::string& hex, std::size_t size)
{
    std::string h = hex.size() % 2 ? "0" + hex : hex;
    Bytes out(size, 0);
    const std::size_t bytes = h.size() / 2;
    for (std::size_t i = 0; i < bytes && i < size; ++i)
        out[i] = static_cast<std::uint8_t>(std::stoul(h.substr(h.size() - 2 * (i + 1), 2), nullptr, 16));
    return out;
}

class SupportTable : public ::testing::TestWithParam<unsigned> {};

TEST_P(SupportTable, RecordDecompressesToThePublishedBasePoint)
{
    CSPParameters parameters;
    DSTU4145FieldRecord field{};
    DSTU4145PointRecord point{};
    ASSERT_EQ(parameters.GetStandardCurve(1, GetParam(), &field, &point), 1);
    Curve curve;
    ASSERT_EQ(dstu4145::CurveFromRecords(field.words, point.words, curve), Result::Ok);
    Result why = Result::Ok;
    auto engine = Engine::Create(curve, &why);
    ASSERT_TRUE(engine) << dstu4145::ResultText(why);

    const auto& published = kStandardCurves[GetParam()];
    EXPECT_EQ(curve.m, published.m);
    EXPECT_EQ(engine->NBits(), published.nBits);
    Bytes x, y;
    ASSERT_EQ(engine->Decompress(curve.p, x, y), Result::Ok);
    EXPECT_EQ(x, Le(published.px, x.size()));
    EXPECT_EQ(y, Le(published.py, y.size()));

    Bytes d, q, sig;
    const Bytes hash(32, 0xA5);
    ASSERT_EQ(engine->GenerateKey(d, q), Result::Ok);
    ASSERT_EQ(engine->Sign(hash, d, sig), Result::Ok);
    EXPECT_EQ(engine->Verify(hash, q, sig), Result::Ok);
}

INSTANTIATE_TEST_SUITE_P(Polynomial, SupportTable, ::testing::Range(0u, 10u));

TEST(SupportTableNormalBasis, IsRefusedClearly)
{
    CSPParameters parameters;
    for (unsigned i = 0; i < 5; ++i) {
        DSTU4145FieldRecord field{};
        DSTU4145PointRecord point{};
        ASSERT_EQ(parameters.GetStandardCurve(0, i, &field, &point), 1);
        Curve curve;
        EXPECT_EQ(dstu4145::CurveFromRecords(field.words, point.words, curve), Result::NormalBasis) << i;
    }
}

}  // namespace
