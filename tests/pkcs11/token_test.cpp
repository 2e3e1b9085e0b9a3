// Token labels as shown, and PINs and labels the key can hold exactly.
#include <gtest/gtest.h>

#include <string>

#include "pkcs11/PKCS11Text.h"
#include "pkcs11/PKCS11Token.h"
#include "pkcs11/PKCS11TokenManager.h"

namespace {

std::string Clean(std::string label)
{
    label.resize(32, '\0');
    const std::uint32_t n = CleanTokenLabel(reinterpret_cast<std::uint8_t*>(label.data()), 32);
    return label.substr(0, n);
}

TEST(Pkcs11TokenLabel, QuestionMarkRunsAreDroppedOrCutOff)
{
    struct {
        std::string stored, shown;
    } cases[] = {
        {"Ab? ?cd", "Abcd"},
        {"Key ?  ", "Key "},
        {"?", ""},
        {"??x", "x"},
        {"a?b?c", "abc"},
        {"a? ", "a"},
        {"no marks here", "no marks here"},
        {std::string(32, 'Z'), std::string(32, 'Z')},
        {"", ""},
        {"   ", "   "},
    };
    for (const auto& c : cases) EXPECT_EQ(Clean(c.stored), c.shown) << '"' << c.stored << '"';
    std::string full(32, 'a');
    full[31] = '?';
    EXPECT_EQ(Clean(full), std::string(31, 'a'));
}

TEST(Pkcs11TokenLabel, ExactWindows1251TextsOnly)
{
    EXPECT_TRUE(IsExactCp1251Text("1234", 4));
    EXPECT_TRUE(IsExactCp1251Text("\xD0\x9F\xD1\x96", 4));  // Cyrillic
    EXPECT_FALSE(IsExactCp1251Text("\xE4\xB8\xAD", 3));     // no Windows-1251 form
    EXPECT_FALSE(IsExactCp1251Text("12\0"
                                   "34",
                                   5));              // embedded NUL
    EXPECT_FALSE(IsExactCp1251Text("\xC0\x80", 2));  // not UTF-8
    EXPECT_FALSE(IsExactCp1251Text("", 0));
}

TEST(Pkcs11Mechanisms, InformationOfUnlistedAndUnknownMechanisms)
{
    CK_MECHANISM_INFO info{};
    EXPECT_EQ(GetMechanismInfo(CKM_VENDOR_EXT_1, &info), CKR_MECHANISM_INVALID);
    EXPECT_EQ(GetMechanismInfo(CKM_GOST28147_DERIVED_USE, &info), CKR_MECHANISM_INVALID);
    EXPECT_EQ(GetMechanismInfo(CKM_DSTU4145_DSTU7564_384, nullptr), CKR_ARGUMENTS_BAD);
    ASSERT_EQ(GetMechanismInfo(CKM_DSTU4145_DSTU7564_384, &info), CKR_OK);
    EXPECT_EQ(info.ulMinKeySize, 163u);
    EXPECT_EQ(info.ulMaxKeySize, 509u);
    EXPECT_EQ(info.flags, 0x2E02801u);
}

}  // namespace
