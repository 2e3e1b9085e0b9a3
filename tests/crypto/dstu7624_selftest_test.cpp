// The module's own known-answer self-tests.
#include <gtest/gtest.h>

#include "crypto/DSTU7624Modes.h"

TEST(Dstu7624SelfTest, AllPass)
{
    EXPECT_EQ(1, DSTU7624TestKeySchedule());
    for (int v = 0; v < 5; ++v) {
        EXPECT_EQ(1, DSTU7624TestCBC(v)) << v;
        EXPECT_EQ(1, DSTU7624TestKeyWrap(v)) << v;
    }
    EXPECT_EQ(1, DSTU7624TestModes());
}

TEST(Dstu7624SelfTest, InvalidVariantIndexFails)
{
    for (int v : {-1, 5}) {
        EXPECT_EQ(0, DSTU7624TestCBC(v));
        EXPECT_EQ(0, DSTU7624TestKeyWrap(v));
    }
}

TEST(Dstu7624SelfTest, EachFailsWithABrokenCipher)
{
    struct Restore {
        ~Restore() { qvkcrypto::dstu7624SelfTestsBreakCipher = false; }
    } restore;
    qvkcrypto::dstu7624SelfTestsBreakCipher = true;
    EXPECT_EQ(0, DSTU7624TestKeySchedule());
    for (int v = 0; v < 5; ++v) {
        EXPECT_EQ(0, DSTU7624TestCBC(v)) << v;
        EXPECT_EQ(0, DSTU7624TestKeyWrap(v)) << v;
    }
    EXPECT_EQ(0, DSTU7624TestModes());
    qvkcrypto::dstu7624SelfTestsBreakCipher = false;
    EXPECT_EQ(1, DSTU7624TestModes());
}
