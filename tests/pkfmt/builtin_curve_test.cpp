// The built-in curve of the shared header against OpenSSL's B-571
// (sect571r1): field polynomial, A, B, order and cofactor must agree.
#include <gtest/gtest.h>

#include <cstring>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/obj_mac.h>

#include "support/PKIInterface.h"

namespace {

void ExpectNumber(const std::uint32_t* words, const BIGNUM* expected, const char* what)
{
    unsigned char le[4 * DSTU4145_NUMBER_WORDS];
    ASSERT_EQ(BN_bn2lebinpad(expected, le, sizeof le), static_cast<int>(sizeof le)) << what;
    for (std::size_t i = 0; i < DSTU4145_NUMBER_WORDS; ++i) {
        std::uint32_t word = le[4 * i] | (le[4 * i + 1] << 8) | (le[4 * i + 2] << 16) |
                             (static_cast<std::uint32_t>(le[4 * i + 3]) << 24);
        EXPECT_EQ(words[i], word) << what << " word " << i;
    }
}

TEST(PkfmtBuiltInCurve, MatchesOpenSSLB571)
{
    EC_GROUP* group = EC_GROUP_new_by_curve_name(NID_sect571r1);
    ASSERT_NE(group, nullptr);
    BIGNUM *polynomial = BN_new(), *a = BN_new(), *b = BN_new(), *cofactor = BN_new();
    ASSERT_EQ(EC_GROUP_get_curve(group, polynomial, a, b, nullptr), 1);
    ASSERT_EQ(EC_GROUP_get_cofactor(group, cofactor, nullptr), 1);

    DSTU4145FieldRecord field;
    DSTU4145PointRecord point;
    PKIBuiltInCurve(&field, &point);

    EXPECT_EQ(field.words[DSTU4145_FIELD_M], 571u);
    EXPECT_EQ(BN_num_bits(polynomial), 572);
    for (int bit :
         {571, static_cast<int>(field.words[DSTU4145_FIELD_K]), static_cast<int>(field.words[DSTU4145_FIELD_J]),
          static_cast<int>(field.words[DSTU4145_FIELD_L]), 0})
        EXPECT_TRUE(BN_is_bit_set(polynomial, bit)) << bit;
    int setBits = 0;
    for (int bit = 0; bit < 572; ++bit) setBits += BN_is_bit_set(polynomial, bit);
    EXPECT_EQ(setBits, 5);

    EXPECT_TRUE(BN_is_one(a));
    EXPECT_EQ(field.words[DSTU4145_FIELD_A], 1u);
    ExpectNumber(&field.words[DSTU4145_FIELD_B], b, "B");
    ExpectNumber(&point.words[DSTU4145_POINT_N], EC_GROUP_get0_order(group), "n");
    EXPECT_EQ(point.words[DSTU4145_POINT_BITS], static_cast<std::uint32_t>(BN_num_bits(EC_GROUP_get0_order(group))));
    EXPECT_TRUE(BN_is_word(cofactor, field.words[DSTU4145_FIELD_COFACTOR]));
    // The base point (the system's own, compressed): its top word.
    EXPECT_EQ(point.words[DSTU4145_POINT_P + 17], 0x77u);
    EXPECT_EQ(point.words[DSTU4145_POINT_P + 0], 0xCDEFF87Eu);

    BN_free(polynomial);
    BN_free(a);
    BN_free(b);
    BN_free(cofactor);
    EC_GROUP_free(group);
}

}  // namespace
