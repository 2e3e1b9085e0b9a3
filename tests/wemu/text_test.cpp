// Code-page conversion, checked against the C library's iconv tables.
#include "wemu.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <iterator>
#include <string>
#include <vector>

namespace {

// iconv's view of one text; empty optional-like flag when it refuses it.
bool iconvConvert(const char* to, const char* from, const std::string& in, std::string& out)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    std::vector<char> buffer(in.size() * 4 + 16);
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char* dst = buffer.data();
    size_t dstLeft = buffer.size();
    size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    iconv_close(cd);
    if (rc == static_cast<size_t>(-1)) return false;
    out.assign(buffer.data(), buffer.size() - dstLeft);
    return true;
}

// Our conversion from one code page to another through wide characters, as
// the callers do it (length -1, size queries first).
bool viaWide(UINT from, UINT to, const std::string& in, std::string& out)
{
    int wide = MultiByteToWideChar(from, 0, in.c_str(), -1, nullptr, 0);
    if (wide <= 0) return false;
    std::vector<wchar_t> w(static_cast<size_t>(wide));
    if (MultiByteToWideChar(from, 0, in.c_str(), -1, w.data(), wide) != wide) return false;
    int bytes = WideCharToMultiByte(to, 0, w.data(), -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return false;
    std::vector<char> b(static_cast<size_t>(bytes));
    if (WideCharToMultiByte(to, 0, w.data(), -1, b.data(), bytes, nullptr, nullptr) != bytes) return false;
    out.assign(b.data(), static_cast<size_t>(bytes) - 1);
    return true;
}

TEST(WemuCodePages, EveryWindows1251ByteRoundTripsThroughUtf8LikeIconv)
{
    int checked = 0;
    for (int b = 1; b < 256; ++b) {
        std::string one(1, static_cast<char>(b));
        if (b == 0x98) {
            std::string ignored;
            EXPECT_FALSE(iconvConvert("UTF-8", "CP1251", one, ignored)) << "iconv also leaves 0x98 unassigned";
            EXPECT_FALSE(viaWide(CP_ACP, CP_UTF8, one, ignored));
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
            continue;
        }
        std::string expected, utf8, back;
        ASSERT_TRUE(iconvConvert("UTF-8", "CP1251", one, expected)) << b;
        ASSERT_TRUE(viaWide(CP_ACP, CP_UTF8, one, utf8)) << b;
        EXPECT_EQ(utf8, expected) << "byte " << b;
        ASSERT_TRUE(viaWide(CP_UTF8, CP_ACP, utf8, back)) << b;
        EXPECT_EQ(back, one) << "byte " << b;
        ++checked;
    }
    EXPECT_EQ(checked, 254);

    // The whole table at once, also under the explicit number 1251.
    std::string all;
    for (int b = 1; b < 256; ++b)
        if (b != 0x98) all += static_cast<char>(b);
    std::string expected, utf8, back;
    ASSERT_TRUE(iconvConvert("UTF-8", "CP1251", all, expected));
    ASSERT_TRUE(viaWide(CP_1251, CP_UTF8, all, utf8));
    EXPECT_EQ(utf8, expected);
    ASSERT_TRUE(viaWide(CP_UTF8, CP_ACP, expected, back));
    EXPECT_EQ(back, all);
}

TEST(WemuCodePages, UkrainianLettersHaveTheirCodes)
{
    struct Case {
        unsigned char byte;
        wchar_t code;
    } cases[] = {
        {0xB2, 0x0406}, {0xB3, 0x0456},  // І і
        {0xAF, 0x0407}, {0xBF, 0x0457},  // Ї ї
        {0xAA, 0x0404}, {0xBA, 0x0454},  // Є є
        {0xA5, 0x0490}, {0xB4, 0x0491},  // Ґ ґ
        {0xA1, 0x040E}, {0xA2, 0x045E},  // Ў ў
        {0xC0, 0x0410}, {0xFF, 0x044F},  // А я
        {0x88, 0x20AC}, {0xB9, 0x2116},  // € №
    };
    for (const auto& c : cases) {
        char in[2] = {static_cast<char>(c.byte), 0};
        wchar_t w[2] = {};
        EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, in, -1, w, 2), 2);
        EXPECT_EQ(w[0], c.code) << std::hex << int(c.byte);
        wchar_t win[2] = {c.code, 0};
        char out[2] = {};
        EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, win, -1, out, 2, nullptr, nullptr), 2);
        EXPECT_EQ(static_cast<unsigned char>(out[0]), c.byte);
    }
}

TEST(WemuCodePages, SizeQueryShortBufferAndExplicitLength)
{
    const char cp1251[] = "\xB3\xBF\xBA\xB4";  // іїєґ
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, cp1251, -1, nullptr, 0), 5);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, cp1251, 4, nullptr, 0), 4) << "no terminator without -1";
    wchar_t w[5];
    std::fill(std::begin(w), std::end(w), L'#');
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, cp1251, -1, w, 4), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(w[0], L'#') << "a failed call leaves the buffer";
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, cp1251, -1, w, 5), 5);
    EXPECT_EQ(w[3], 0x0491);
    EXPECT_EQ(w[4], 0);

    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, w, -1, nullptr, 0, nullptr, nullptr), 9);
    char u[9];
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, w, -1, u, 8, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, w, -1, u, 9, nullptr, nullptr), 9);
    EXPECT_STREQ(u, "\xD1\x96\xD1\x97\xD1\x94\xD2\x91");
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, w, 1, u, 9, nullptr, nullptr), 2);

    // 1,100 Cyrillic letters double in UTF-8.
    std::string letters(1100, '\xE0');
    std::vector<wchar_t> wide(1101);
    ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, letters.c_str(), -1, wide.data(), 1101), 1101);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, wide.data(), -1, nullptr, 0, nullptr, nullptr), 2201);
    std::vector<char> small(2049);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, wide.data(), -1, small.data(), 2049, nullptr, nullptr), 0);

    // A character beyond the basic plane is one 32-bit wide character.
    const char emoji[] = "\xF0\x9F\x98\x80";
    wchar_t e[2];
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, emoji, -1, e, 2), 2);
    EXPECT_EQ(e[0], static_cast<wchar_t>(0x1F600));
}

TEST(WemuCodePages, MalformedInputFails)
{
    const char* badUtf8[] = {
        "\xC0\x80",          // overlong NUL
        "\xE0\x80\xAF",      // overlong '/'
        "\xED\xA0\x80",      // surrogate
        "\xF4\x90\x80\x80",  // beyond U+10FFFF
        "\xD1",              // cut short
        "\x80",              // stray continuation
        "\xFF",
    };
    for (const char* text : badUtf8) {
        EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0), 0) << text;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
    }
    const wchar_t badWide[][2] = {{static_cast<wchar_t>(0xD800), 0}, {static_cast<wchar_t>(0x110000), 0}};
    for (const auto& w : badWide) {
        EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, w, -1, nullptr, 0, nullptr, nullptr), 0);
        EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, w, -1, nullptr, 0, nullptr, nullptr), 0);
    }
    // Bad arguments.
    wchar_t w[4];
    EXPECT_EQ(MultiByteToWideChar(437, 0, "a", -1, w, 4), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "a", 0, w, 4), 0);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, nullptr, -1, w, 4), 0);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "a", -1, nullptr, 4), 0);
    BOOL used = FALSE;
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, L"a", -1, nullptr, 0, nullptr, &used), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(WemuCodePages, CharactersWithoutWindows1251FormBecomeTheDefault)
{
    const wchar_t text[] = {L'A', static_cast<wchar_t>(0x4E2D), static_cast<wchar_t>(0x0456), 0};
    char out[4];
    BOOL used = FALSE;
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, text, -1, out, 4, nullptr, &used), 4);
    EXPECT_STREQ(out, "A?\xB3");
    EXPECT_TRUE(used);
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, text, -1, out, 4, "*", &used), 4);
    EXPECT_STREQ(out, "A*\xB3");
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, text + 2, -1, out, 4, nullptr, &used), 2);
    EXPECT_FALSE(used);
}

TEST(WemuStrings, StrnicmpIgnoresAsciiCaseOnly)
{
    struct Case {
        const char *a, *b;
        size_t n;
        int sign;
    } cases[] = {
        {"Global\\X", "GLOBAL\\x", 9, 0},
        {"abc", "abd", 2, 0},
        {"abc", "abd", 3, -1},
        {"b", "A", 1, 1},
        {"ab", "abc", 5, -1},
        {"", "", 4, 0},
        {"\xC0", "\xE0", 1, -1},  // not Cyrillic-aware
    };
    for (const auto& c : cases) {
        int r = strnicmp(c.a, c.b, c.n);
        EXPECT_EQ((r > 0) - (r < 0), c.sign) << c.a << " / " << c.b;
    }
}

}  // namespace
