// Name texts through the library's conversions, hexadecimal value texts,
// key-usage texts and certificate policy levels.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "FakeFormats.h"
#include "pkiformats/SPKIFormats.h"

namespace {

std::vector<std::uint8_t> Bytes(std::initializer_list<int> v)
{
    std::vector<std::uint8_t> out;
    for (int b : v) out.push_back(static_cast<std::uint8_t>(b));
    return out;
}

}  // namespace

TEST(FacadeHex, PrintingAndParsingValues)
{
    SPKIFormats f(nullptr, nullptr, nullptr);
    char text[200];
    std::uint8_t serial[20] = {};
    EXPECT_EQ(f.Serial20ToText(serial, 0, text), 1);
    EXPECT_STREQ(text, "00");
    serial[17] = 0x01;
    serial[18] = 0xAB;
    serial[19] = 0x0C;
    EXPECT_EQ(f.Serial20ToText(serial, 1, text), 1);
    EXPECT_STREQ(text, "01 AB 0C ");

    std::uint8_t hash[32];
    for (int i = 0; i < 32; ++i) hash[i] = static_cast<std::uint8_t>(i * 7);
    EXPECT_EQ(f.Hash32ToText(hash, 0, text), 1);
    EXPECT_EQ(std::strlen(text), 64u);
    EXPECT_EQ(std::string(text, 8), "00070E15");
    std::uint8_t back[32];
    EXPECT_EQ(f.TextToHash32(text, back), 1);
    EXPECT_EQ(std::memcmp(back, hash, 32), 0);

    EXPECT_EQ(f.TextToHash32("0A 0b", back), 1);
    for (int i = 0; i < 30; ++i) EXPECT_EQ(back[i], 0) << i;
    EXPECT_EQ(back[30], 0x0A);
    EXPECT_EQ(back[31], 0x0B);
    // An unpaired first digit is ignored; the text is read from its end.
    std::uint8_t s20[20];
    EXPECT_EQ(f.TextToSerial20("F123", s20), 1);
    EXPECT_EQ(s20[18], 0xF1);
    EXPECT_EQ(s20[19], 0x23);
    EXPECT_EQ(f.TextToSerial20("123", s20), 1);
    EXPECT_EQ(s20[18], 0x00);
    EXPECT_EQ(s20[19], 0x23);

    EXPECT_EQ(f.HexPairToByte('1', 'G'), 0x01);
    EXPECT_EQ(f.HexPairToByte('G', '1'), 0x10);
    EXPECT_EQ(f.HexPairToByte('f', 'A'), 0xAF);

    auto b = Bytes({0xDE, 0xAD, 0xBE});
    EXPECT_EQ(f.BytesToText(b.data(), 2, 0, 0, text), 1);
    EXPECT_STREQ(text, "DEAD");
    EXPECT_EQ(f.BytesToText(b.data(), 0, 17, 1, text), 1);  // (17 + 7) / 8 bytes
    EXPECT_STREQ(text, "DE AD BE ");

    std::uint8_t buf[4];
    EXPECT_EQ(f.HexTextToBytes("1 23 45", buf, 4), 1);
    EXPECT_EQ(std::memcmp(buf, "\x00\x00\x23\x45", 4), 0);
    EXPECT_EQ(f.HexTextToBytes("AABBCCDDEEFF", buf, 4), 1);
    EXPECT_EQ(std::memcmp(buf, "\xCC\xDD\xEE\xFF", 4), 0);

    std::uint8_t n76[76] = {};
    n76[75] = 0x80;
    EXPECT_EQ(f.TrimAndConvertNumber76(n76, 1, 0, text), 1);
    EXPECT_STREQ(text, "0080");
    EXPECT_EQ(f.TrimAndConvertNumber76(n76, 0, 0, text), 1);
    EXPECT_STREQ(text, "80");
    std::uint8_t n152[152] = {};
    EXPECT_EQ(f.TrimAndConvertNumber152(n152, 0, text), 1);
    EXPECT_STREQ(text, "00");
}

TEST(FacadeHex, KeyUsageTexts)
{
    SPKIFormats f(nullptr, nullptr, nullptr);
    char text[PKIF_KEY_USAGE_TEXT_BYTES];
    f.KeyUsageToText(0x11, text);
    // "ЕЦП, Протоколи розподілу ключів" in Windows-1251.
    EXPECT_STREQ(text, "\xC5\xD6\xCF, \xCF\xF0\xEE\xF2\xEE\xEA\xEE\xEB\xE8\x20\xF0\xEE\xE7\xEF\xEE\xE4\xB3\xEB\xF3\x20"
                       "\xEA\xEB\xFE\xF7\xB3\xE2");
    f.KeyUsageToText(0, text);
    EXPECT_STREQ(text, "");
    f.KeyUsageToText(0xFFFFFFFF, text);
    EXPECT_EQ(std::strlen(text), 118u);
    EXPECT_EQ(std::string(text + 108), "\xCF\xB3\xE4\xEF\xE8\xF1\x20\xD1\xC2\xD1");
}

TEST(FacadeNameTexts, ComposeGoesThroughTheLibraryAndRefusesOverlongFields)
{
    fake::Library lib;
    SPKIFormats f(nullptr, nullptr, &lib);
    char out[PKIF_NAME_TEXT_BYTES];
    // "Київ" in Windows-1251 survives the round trip through wide text.
    f.ComposeNameText("1", "UA", nullptr, nullptr, nullptr, nullptr, "\xCA\xE8\xBF\xE2", nullptr, nullptr, nullptr,
                      out);
    EXPECT_STREQ(out, "CN=\xCA\xE8\xBF\xE2;C=UA");
    EXPECT_EQ(lib.LiveBlobs(), 0u);

    std::string cn64(64, 'x'), cn65(65, 'x');
    f.ComposeNameText(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, cn64.c_str(), nullptr, nullptr, nullptr,
                      out);
    EXPECT_EQ(std::string(out), "CN=" + cn64 + ";C=");
    lib.log.clear();
    f.ComposeNameText(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, cn65.c_str(), nullptr, nullptr, nullptr,
                      out);
    EXPECT_STREQ(out, "");
    // Refused before the library converts anything past its capacity.
    for (const std::string& call : lib.log) EXPECT_EQ(call.find(cn65), std::string::npos) << call;
    f.ComposeNameText(nullptr, "UKR", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, out);
    EXPECT_STREQ(out, "");

    // A composed text longer than the output's capacity is refused, not cut.
    lib.composed = std::wstring(PKIF_NAME_TEXT_BYTES - 1, L'a');
    lib.composedSet = true;
    f.ComposeNameText(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, "x", nullptr, nullptr, nullptr, out);
    EXPECT_EQ(std::strlen(out), PKIF_NAME_TEXT_BYTES - 1);
    lib.composed = std::wstring(PKIF_NAME_TEXT_BYTES, L'a');
    f.ComposeNameText(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, "x", nullptr, nullptr, nullptr, out);
    EXPECT_STREQ(out, "");

    SPKIFormats none(nullptr, nullptr, nullptr);
    std::strcpy(out, "old");
    none.ComposeNameText("1", "UA", nullptr, nullptr, nullptr, nullptr, "x", nullptr, nullptr, nullptr, out);
    EXPECT_STREQ(out, "");
}

TEST(FacadeNameTexts, ParseFillsEachOutputWithinItsField)
{
    fake::Library lib;
    SPKIFormats f(nullptr, nullptr, &lib);
    lib.parsed[1] = L"UA";
    lib.parsed[6] = L"\x041A\x0438\x0457\x0432";  // Київ
    lib.parsed[8] = std::wstring(32, L'g');       // given name: exactly its 33-character field
    char sn[65], c[3], cn[65], gn[33];
    std::strcpy(sn, "old");
    f.ParseNameText("C=UA", sn, c, nullptr, nullptr, nullptr, nullptr, cn, nullptr, gn, nullptr);
    EXPECT_STREQ(sn, "");
    EXPECT_STREQ(c, "UA");
    EXPECT_STREQ(cn, "\xCA\xE8\xBF\xE2");
    EXPECT_EQ(std::string(gn), std::string(32, 'g'));
    ASSERT_GE(lib.log.size(), 1u);
    EXPECT_EQ(lib.log[0], "0:8(C=UA)");

    lib.Answer(0, 13, {PKI_E_BAD_ENCODING});
    f.ParseNameText("C=UA", nullptr, c, nullptr, nullptr, nullptr, nullptr, cn, nullptr, nullptr, nullptr);
    EXPECT_STREQ(c, "");
    EXPECT_STREQ(cn, "");
}

TEST(FacadeNameTexts, ConvertHandsTheWideTextOn)
{
    fake::Library lib;
    SPKIFormats f(nullptr, nullptr, &lib);
    std::uint8_t gost[32] = {}, sha[20] = {};
    f.ConvertNameText("CN=x", gost);
    f.ConvertNameTextLimited("CN=xy", sha);
    ASSERT_EQ(lib.log.size(), 4u);
    EXPECT_EQ(lib.log[1], "0:15(4)");
    EXPECT_EQ(lib.log[3], "0:16(5,160)");
    EXPECT_EQ(gost[0], 1);
    EXPECT_EQ(gost[31], 32);
    EXPECT_EQ(sha[0], 0x80);
    EXPECT_EQ(sha[19], 0x80 + 19);
    lib.Throw(0, 15);
    f.ConvertNameText("CN=x", gost);  // swallowed
}

TEST(FacadePolicies, PolicyLevelsByOid)
{
    fake::Library lib;
    SPKIFormats f(nullptr, nullptr, &lib);
    void* cert = nullptr;
    ASSERT_EQ(lib.CreateObject(PKI_CLASS_CERTIFICATE, PKI_IID_CERTIFICATE, &cert), 0);
    auto* c = static_cast<IPKICertificate*>(cert);
    struct Case {
        const char* oid;
        std::uint32_t kind, level;
    } cases[] = {{"1.3.6.1.4.1.19398.1.1.9.1", 1, 99}, {"1.3.6.1.4.1.19398.1.1.9.2", 2, 1},
                 {"1.3.6.1.4.1.19398.1.1.9.3", 2, 2},  {"1.3.6.1.4.1.19398.1.1.9.4", 2, 3},
                 {"1.3.6.1.4.1.19398.1.1.9.7", 2, 4},  {"1.3.6.1.4.1.19398.1.1.9.5", 3, 99},
                 {"1.3.6.1.4.1.19398.1.1.9.6", 4, 99}, {"1.3.6.1.4.1.19398.1.1.9.77", 99, 99},
                 {"1.3.6.1.4.1.19398.1.1.9", 99, 99}};
    for (const Case& k : cases) {
        lib.firstPolicy = k.oid;
        std::uint32_t kind = 99, level = 99;  // "not written" leaves the level as it was
        EXPECT_EQ(f.GetCertificatePolicyLevel(c, &kind, &level), 1) << k.oid;
        EXPECT_EQ(kind, k.kind) << k.oid;
        EXPECT_EQ(level, k.level) << k.oid;
    }
    EXPECT_EQ(lib.LiveObjects(), 1);
    EXPECT_EQ(lib.LiveBlobs(), 0u);
    std::uint32_t kind = 0, level = 0;
    lib.hasPolicies = false;
    EXPECT_EQ(f.GetCertificatePolicyLevel(c, &kind, &level), 0);
    lib.hasPolicies = true;
    lib.Answer(1, 3, {PKI_E_FAILURE});
    EXPECT_EQ(f.GetCertificatePolicyLevel(c, &kind, &level), 0);
    EXPECT_EQ(lib.LiveObjects(), 1);
    lib.Throw(1, 3);
    EXPECT_EQ(f.GetCertificatePolicyLevel(c, &kind, &level), 0);
    EXPECT_EQ(lib.LiveObjects(), 1);
    c->Release();
    EXPECT_EQ(lib.LiveObjects(), 0);
    EXPECT_EQ(lib.doubleReleases, 0);
}

TEST(FacadeCallOrder, NamesAndPoliciesCallTheLibraryInOrder)
{
    fake::Library lib;
    SPKIFormats f(nullptr, nullptr, &lib);
    char out[PKIF_NAME_TEXT_BYTES];
    f.ComposeNameText("1", "UA", "s", "l", "o", "u", "cn", "sn", "gn", "t", out);
    std::vector<std::string> expect = {"0:8(1)",  "0:8(UA)", "0:8(s)",  "0:8(l)", "0:8(o)",     "0:8(u)",
                                       "0:8(cn)", "0:8(sn)", "0:8(gn)", "0:8(t)", "0:14(2048)", "0:9(10)"};
    EXPECT_EQ(lib.log, expect);

    lib.log.clear();
    auto* cert = new fake::Certificate(lib);
    std::uint32_t kind = 0, level = 0;
    ASSERT_EQ(f.GetCertificatePolicyLevel(cert, &kind, &level), 1);
    // Policies, their first OID (the library allocates it), the policies
    // object released, then the OID's blob freed.
    expect = {"4870:76()", "1:3()", "0:6(26)", "1:1()", "0:7(25)"};
    EXPECT_EQ(lib.log, expect);
    cert->Release();
    EXPECT_EQ(lib.LiveObjects(), 0);
}

// The library-text copy hands its first argument to library operation 13 as
// it is and copies each asked-for field of the record it gets back.
TEST(FacadeNameTexts, LibraryTextsCopyEachFieldAndRefuseOneThatDoesNotFit)
{
    fake::Library lib;
    SPKIFormats f(nullptr, nullptr, &lib);
    const std::wstring texts[PKI_NAME_FIELD_COUNT] = {L"SN",   L"UA", std::wstring(128, L's'), L"Kyiv", L"Org",
                                                      L"Unit", L"CN", std::wstring(40, L'n'),  L"Gn",   L"Title"};
    for (int i = 0; i < static_cast<int>(PKI_NAME_FIELD_COUNT); ++i) lib.parsed[i] = texts[i];
    wchar_t sn[PKI_NAME_SERIAL_CHARS], c[PKI_NAME_COUNTRY_CHARS], st[PKI_NAME_STATE_CHARS], l[PKI_NAME_LOCALITY_CHARS],
        o[PKI_NAME_ORGANISATION_CHARS], u[PKI_NAME_UNIT_CHARS], cn[PKI_NAME_COMMON_NAME_CHARS],
        s[PKI_NAME_SURNAME_CHARS], g[PKI_NAME_GIVEN_NAME_CHARS], t[PKI_NAME_TITLE_CHARS];
    const void* source = reinterpret_cast<const void*>(std::uintptr_t{7});  // an index, one word wide
    ASSERT_EQ(f.CopyLibraryTexts(source, sn, c, st, l, o, u, cn, s, g, t), 1);
    EXPECT_EQ(lib.nameSource, source);
    const wchar_t* got[] = {sn, c, st, l, o, u, cn, s, g, t};
    for (int i = 0; i < static_cast<int>(PKI_NAME_FIELD_COUNT); ++i) EXPECT_EQ(std::wstring(got[i]), texts[i]) << i;

    // Only the asked-for fields are written.
    std::wcscpy(cn, L"old");
    ASSERT_EQ(
        f.CopyLibraryTexts(source, nullptr, c, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
        1);
    EXPECT_STREQ(cn, L"old");

    // A country the library left three characters long has no terminator
    // within its capacity: refused, and every asked-for output left empty.
    lib.parsed[1] = L"UKR";
    EXPECT_EQ(f.CopyLibraryTexts(source, sn, c, nullptr, nullptr, nullptr, nullptr, cn, nullptr, nullptr, nullptr), 0);
    EXPECT_STREQ(sn, L"");
    EXPECT_STREQ(c, L"");
    EXPECT_STREQ(cn, L"");
    // A field that does not fit but is not asked for does not matter.
    EXPECT_EQ(
        f.CopyLibraryTexts(source, sn, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
        1);
    EXPECT_STREQ(sn, L"SN");

    lib.Answer(0, 13, {PKI_E_FAILURE});
    EXPECT_EQ(
        f.CopyLibraryTexts(source, sn, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
        0);
    EXPECT_STREQ(sn, L"");
    SPKIFormats without(nullptr, nullptr, nullptr);
    EXPECT_EQ(without.CopyLibraryTexts(source, sn, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                       nullptr, nullptr),
              0);
}
