// The constant lookup tables against the builders and the algebra behind them.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "crypto/DSTUCiphersTables.h"

namespace {

uint8_t Row(uint64_t word, int r)
{
    return static_cast<uint8_t>(word >> (8 * r));
}

// Inverse mixing of one column through the constant IM tables.
uint64_t InverseMix(uint64_t column)
{
    uint64_t out = 0;
    for (int b = 0; b < 8; ++b) out ^= DSTUInverseMDSTables[256 * b + Row(column, b)];
    return out;
}

TEST(DstuTables, MultiplyGF256)
{
    EXPECT_EQ(DSTUMultiplyGF256(0x80, 0x02), 0x1D);
    EXPECT_EQ(DSTUMultiplyGF256(0x8E, 0x02), 0x01);
    for (unsigned a = 0; a < 256; ++a) {
        EXPECT_EQ(DSTUMultiplyGF256(uint8_t(a), 0), 0);
        EXPECT_EQ(DSTUMultiplyGF256(uint8_t(a), 1), a);
        for (unsigned b = a; b < 256; ++b)
            ASSERT_EQ(DSTUMultiplyGF256(uint8_t(a), uint8_t(b)), DSTUMultiplyGF256(uint8_t(b), uint8_t(a)));
    }
}

TEST(DstuTables, MdsRowsAreMutuallyInverse)
{
    // The published first row v of the MDS matrix: 01 01 05 01 08 06 07 04.
    uint64_t entry = 0;
    DSTUMultiplyMDSRow(0x01, DSTUMDSRow, 0, &entry);
    const uint8_t expected[8] = {0x01, 0x04, 0x07, 0x06, 0x08, 0x01, 0x05, 0x01};  // v0 v7 v6 ... v1
    for (int k = 0; k < 8; ++k) EXPECT_EQ(Row(entry, k), expected[k]) << k;
    // M * M^-1 = I, column by column: mixing the unit column e_b and
    // inverse-mixing the result returns e_b.
    for (int b = 0; b < 8; ++b) {
        uint64_t mixed = 0;
        for (int r = 0; r < 8; ++r) mixed |= uint64_t(DSTUMultiplyGF256(1, DSTUMDSRow[(b - r + 7) & 7])) << (8 * r);
        EXPECT_EQ(InverseMix(mixed), uint64_t(1) << (8 * b)) << b;
    }
}

TEST(DstuTables, SBoxesArePermutationsWithGivenInverses)
{
    for (int j = 0; j < 4; ++j) {
        for (int x = 0; x < 256; ++x) ASSERT_EQ(DSTUDefaultInverseSBoxes[256 * j + DSTUDefaultSBoxes[256 * j + x]], x);
    }
    // Spot values of the published pi0..pi3 and of pi0^-1.
    EXPECT_EQ(DSTUDefaultSBoxes[0], 0xA8);
    EXPECT_EQ(DSTUDefaultSBoxes[255], 0x80);
    EXPECT_EQ(DSTUDefaultSBoxes[256], 0xCE);
    EXPECT_EQ(DSTUDefaultSBoxes[512], 0x93);
    EXPECT_EQ(DSTUDefaultSBoxes[768], 0x68);
    EXPECT_EQ(DSTUDefaultSBoxes[1023], 0x61);
    EXPECT_EQ(DSTUDefaultInverseSBoxes[0], 0xA4);
}

TEST(DstuTables, BuildersReproduceTheConstants)
{
    std::vector<uint8_t> inv(1024, 0);
    std::vector<uint64_t> t(2048, 0), it(2048, 0), ht(2048, 0);
    DSTUBuildCipherTables(DSTUDefaultSBoxes, inv.data(), t.data(), it.data());
    EXPECT_EQ(0, std::memcmp(inv.data(), DSTUDefaultInverseSBoxes, 1024));
    EXPECT_EQ(0, std::memcmp(t.data(), DSTUDefaultTTables, sizeof(uint64_t) * 2048));
    EXPECT_EQ(0, std::memcmp(it.data(), DSTUDefaultInverseTTables, sizeof(uint64_t) * 2048));
    DSTUBuildHashTables(DSTUDefaultSBoxes, ht.data());
    EXPECT_EQ(0, std::memcmp(ht.data(), DSTUDefaultTTables, sizeof(uint64_t) * 2048));
}

TEST(DstuTables, TableRelations)
{
    for (int b = 0; b < 8; ++b) {
        const uint8_t* sbox = DSTUDefaultSBoxes + 256 * (b % 4);
        const uint8_t* inv = DSTUDefaultInverseSBoxes + 256 * (b % 4);
        for (int x = 0; x < 256; ++x) {
            const uint64_t t = DSTUDefaultTTables[256 * b + x];
            // The three unit coefficients of the row put the S-box output in place.
            ASSERT_EQ(Row(t, b), sbox[x]);
            ASSERT_EQ(Row(t, (b + 7) % 8), sbox[x]);
            ASSERT_EQ(Row(t, (b + 5) % 8), sbox[x]);
            // Inverse mixing undoes the mixing.
            ASSERT_EQ(InverseMix(t), uint64_t(sbox[x]) << (8 * b));
            ASSERT_EQ(DSTUDefaultInverseTTables[256 * b + x], DSTUInverseMDSTables[256 * b + inv[x]]);
            if (b < 4) {
                const auto swap = [](uint64_t v) { return (v << 32) | (v >> 32); };
                ASSERT_EQ(DSTUDefaultTTables[256 * (b + 4) + x], swap(t));
                ASSERT_EQ(DSTUInverseMDSTables[256 * (b + 4) + x], swap(DSTUInverseMDSTables[256 * b + x]));
                ASSERT_EQ(DSTUDefaultInverseTTables[256 * (b + 4) + x], swap(DSTUDefaultInverseTTables[256 * b + x]));
            }
        }
    }
}

TEST(DstuTables, NonPermutationSBoxesStillBuild)
{
    // Every input maps to 7 or 9: the inverse entries 7 and 9 take the largest
    // such input; unreached entries keep their previous content.
    std::vector<uint8_t> sboxes(1024);
    for (int i = 0; i < 1024; ++i) sboxes[i] = (i & 1) ? 9 : 7;
    std::vector<uint8_t> inv(1024, 0xEE);
    std::vector<uint64_t> t(2048, 0), it(2048, 0x5555);
    DSTUBuildCipherTables(sboxes.data(), inv.data(), t.data(), it.data());
    EXPECT_EQ(inv[7], 254);
    EXPECT_EQ(inv[9], 255);
    EXPECT_EQ(inv[8], 0xEE);
    EXPECT_EQ(it[8], 0x5555u);
    uint64_t expected;
    DSTUMultiplyMDSRow(254, DSTUInverseMDSRow, 0, &expected);
    EXPECT_EQ(it[7], expected);
    DSTUMultiplyMDSRow(9, DSTUMDSRow, 0, &expected);
    EXPECT_EQ(t[1], expected);
}

}  // namespace
