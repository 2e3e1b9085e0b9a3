// Labels and PINs between UTF-8 and Windows-1251: Cyrillic both ways,
// characters Windows-1251 lacks, the cap at whole characters, refusals.
#include <gtest/gtest.h>

#include <string>

#include "pkcs11/PKCS11Text.h"

namespace {

std::string ToCp1251(const std::string& utf8, CK_RV* rv = nullptr)
{
    std::string out(utf8.size(), '\0');
    CK_ULONG length = 0;
    CK_RV r = Utf8ToCp1251(utf8.data(), utf8.size(), out.data(), &length);
    if (rv != nullptr) *rv = r;
    out.resize(r == CKR_OK ? length : 0);
    return out;
}

std::string ToUtf8(const std::string& cp1251, CK_ULONG cap, CK_RV* rv = nullptr)
{
    std::string out(4 * cp1251.size() + 4, '#');
    CK_ULONG length = 0;
    CK_RV r = Cp1251ToUtf8(cp1251.data(), cp1251.size(), out.data(), &length, cap);
    if (rv != nullptr) *rv = r;
    // Nothing may be written past the reported length.
    for (std::size_t i = r == CKR_OK ? length : 0; i < out.size(); ++i) EXPECT_EQ(out[i], '#') << "byte " << i;
    out.resize(r == CKR_OK ? length : 0);
    return out;
}

// "Пароль Їжак ґ є і" in Windows-1251, byte by byte from the code page table.
const std::string kUkrainianUtf8 = "\xD0\x9F\xD0\xB0\xD1\x80\xD0\xBE\xD0\xBB\xD1\x8C \xD0\x87\xD0\xB6\xD0\xB0\xD0\xBA "
                                   "\xD2\x91 \xD1\x94 \xD1\x96";
const std::string kUkrainianCp1251 = "\xCF\xE0\xF0\xEE\xEB\xFC \xAF\xE6\xE0\xEA \xB4 \xBA \xB3";

TEST(Pkcs11Text, CyrillicGoesToOneBytePerLetterAndBack)
{
    EXPECT_EQ(ToCp1251(kUkrainianUtf8), kUkrainianCp1251);
    EXPECT_EQ(ToUtf8(kUkrainianCp1251, 64), kUkrainianUtf8);
    // One two-byte UTF-8 letter is one Windows-1251 byte.
    EXPECT_EQ(ToCp1251("\xD0\x96"), "\xC6");
}

TEST(Pkcs11Text, EveryWindows1251ByteButTheUnassignedOneRoundTrips)
{
    std::string all;
    for (int b = 1; b < 256; ++b)
        if (b != 0x98) all.push_back(static_cast<char>(b));
    const std::string utf8 = ToUtf8(all, 1024);
    ASSERT_FALSE(utf8.empty());
    EXPECT_EQ(ToCp1251(utf8), all);
}

TEST(Pkcs11Text, CharactersWithoutAWindows1251FormBecomeQuestionMarks)
{
    // CJK letter, Greek alpha, an emoji (four UTF-8 bytes): one '?' each.
    EXPECT_EQ(ToCp1251("a\xE4\xB8\xAD"
                       "b\xCE\xB1"
                       "c\xF0\x9F\x98\x80"),
              "a?b?c?");
    // The euro sign and the numero sign have one.
    EXPECT_EQ(ToCp1251("\xE2\x82\xAC\xE2\x84\x96"), "\x88\xB9");
}

TEST(Pkcs11Text, LengthOnlyWhenNoBufferIsGiven)
{
    CK_ULONG length = 0;
    ASSERT_EQ(Utf8ToCp1251(kUkrainianUtf8.data(), kUkrainianUtf8.size(), nullptr, &length), CKR_OK);
    EXPECT_EQ(length, kUkrainianCp1251.size());
    ASSERT_EQ(Cp1251ToUtf8(kUkrainianCp1251.data(), kUkrainianCp1251.size(), nullptr, &length, 100), CKR_OK);
    EXPECT_EQ(length, kUkrainianUtf8.size());
    ASSERT_EQ(Cp1251ToUtf8("JSC_TVR", 7, nullptr, &length, 32), CKR_OK);
    EXPECT_EQ(length, 7u);
}

TEST(Pkcs11Text, TheCapCutsBeforeACharacterThatWouldNotFitWhole)
{
    const std::string twenty(20, '\xC0');  // 20 x 'А', 40 UTF-8 bytes
    std::string expected;
    for (int i = 0; i < 16; ++i) expected += "\xD0\x90";
    EXPECT_EQ(ToUtf8(twenty, 32), expected);
    expected.resize(30);  // a cap of 31 keeps 15 whole letters, no lone lead byte
    EXPECT_EQ(ToUtf8(twenty, 31), expected);
    EXPECT_EQ(ToUtf8("\xC0", 1), "");
    EXPECT_EQ(ToUtf8("ab\xC0", 3), "ab");
}

TEST(Pkcs11Text, RefusesMissingAndMalformedInput)
{
    CK_ULONG length = 0;
    char out[8];
    EXPECT_EQ(Utf8ToCp1251("a", 0, out, &length), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(Utf8ToCp1251(nullptr, 1, out, &length), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(Utf8ToCp1251("a", 1, out, nullptr), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(Cp1251ToUtf8("a", 0, out, &length, 8), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(Cp1251ToUtf8(nullptr, 1, out, &length, 8), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(Cp1251ToUtf8("a", 1, out, nullptr, 8), CKR_ARGUMENTS_BAD);

    CK_RV rv = CKR_OK;
    ToCp1251("\xC0\x80", &rv);  // overlong NUL
    EXPECT_EQ(rv, CKR_GENERAL_ERROR);
    ToCp1251("ab\xD0", &rv);  // cut inside a letter
    EXPECT_EQ(rv, CKR_GENERAL_ERROR);
    ToUtf8("a\x98", 8, &rv);  // the one unassigned Windows-1251 byte
    EXPECT_EQ(rv, CKR_GENERAL_ERROR);
}

}  // namespace
