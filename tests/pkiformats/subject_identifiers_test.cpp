// Subject identifiers: the identifier prefixes in subject names, the
// identifier patterns of natural and legal persons, name texts through the
// library's name tables, and the maker's and qualified policy OIDs.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "FakeFormats.h"
#include "pkiformats/HolderProfiles.h"
#include "pkiformats/SPKIFormats.h"

namespace {

struct Release {
    void operator()(IPKIObject* o) const { o->Release(); }
};

class SubjectIdentifiers : public ::testing::Test {
protected:
    void TearDown() override
    {
        nameHeld.reset();
        EXPECT_EQ(lib.LiveObjects(), 0);
        EXPECT_EQ(lib.LiveBlobs(), 0u);
        EXPECT_EQ(lib.doubleReleases, 0);
    }
    std::unique_ptr<fake::ProfileCertificate, Release> Certificate(fake::Profile p = {})
    {
        return std::unique_ptr<fake::ProfileCertificate, Release>(new fake::ProfileCertificate(lib, std::move(p)));
    }
    fake::Library lib;
    SPKIFormats f{nullptr, nullptr, &lib};
    fake::Name* name = new fake::Name(lib);
    std::unique_ptr<fake::Name, Release> nameHeld{name};
};

const char kOrganisation[] = "1.2.804.2.1.1.1.11.1.4.2.1";
const char kTaxNumber[] = "1.2.804.2.1.1.1.11.1.4.1.1";
const char kIdentityCard[] = "1.2.804.2.1.1.1.11.1.4.11.1";

}  // namespace

TEST_F(SubjectIdentifiers, MakerAndQualifiedPolicies)
{
    const char* endings[] = {"21", "22", "23", "34", "24", "25", "26", "27",
                             "28", "36", "29", "30", "31", "35", "32", "33"};
    for (const char* e : endings) {
        std::string oid = std::string("1.3.6.1.4.1.19398.1.1.8.") + e;
        EXPECT_EQ(f.IsMakerPolicy(oid.c_str()), 1) << oid;
        EXPECT_EQ(f.IsMakerPolicy((oid + "0").c_str()), 0) << oid;
    }
    for (const char* no : {"1.3.6.1.4.1.19398.1.1.8.37", "1.3.6.1.4.1.19398.1.1.8.2", "1.3.6.1.4.1.19398.1.1.8.",
                           "1.3.6.1.4.1.19398.1.1.9.21", "", "1.3.6.1.4.1.19398.1.1.8.021"})
        EXPECT_EQ(f.IsMakerPolicy(no), 0) << no;
    EXPECT_EQ(f.IsMakerPolicy(nullptr), 0);

    // The first maker policy in the certificate's order is the one reported.
    fake::Profile p;
    p.policies = true;
    p.policyOids = {"1.2.804.2.1.1.1.2.2", "1.3.6.1.4.1.19398.1.1.8.35", "1.3.6.1.4.1.19398.1.1.8.21",
                    "0.4.0.194112.1.3"};
    auto c = Certificate(p);
    std::uint32_t found = 9;
    char oid[PKIF_OID_TEXT_BYTES];
    ASSERT_EQ(f.FindMakerPolicy(c.get(), &found, oid), 1);
    EXPECT_EQ(found, 1u);
    EXPECT_STREQ(oid, "1.3.6.1.4.1.19398.1.1.8.35");
    ASSERT_EQ(f.HasQualifiedPolicy(c.get(), &found), 1);
    EXPECT_EQ(found, 1u);
    c->p.policyOids = {"1.2.804.2.1.1.1.2.2", "0.4.0.1456.1.11", "1.3.6.1.4.1.19398.1.1.8.37"};
    ASSERT_EQ(f.FindMakerPolicy(c.get(), &found, oid), 1);
    EXPECT_EQ(found, 0u);
    EXPECT_STREQ(oid, "");
    ASSERT_EQ(f.HasQualifiedPolicy(c.get(), &found), 1);
    EXPECT_EQ(found, 0u);
    for (const char* q : {"0.4.0.1456.1.1", "0.4.0.194112.1.2", "0.4.0.194112.1.3", "1.2.804.2.1.1.1.2.4"}) {
        c->p.policyOids = {"1.2.3", q};
        ASSERT_EQ(f.HasQualifiedPolicy(c.get(), &found), 1);
        EXPECT_EQ(found, 1u) << q;
    }
    c->p.policies = false;  // no policies: answered, nothing found
    ASSERT_EQ(f.FindMakerPolicy(c.get(), &found, oid), 1);
    EXPECT_EQ(found, 0u);
    ASSERT_EQ(f.HasQualifiedPolicy(c.get(), &found), 1);
    EXPECT_EQ(found, 0u);
    c->p.policies = true;
    lib.Answer(1, 4, {PKI_E_FAILURE});  // an OID that cannot be read
    EXPECT_EQ(f.FindMakerPolicy(c.get(), &found, oid), 0);
}

TEST_F(SubjectIdentifiers, WildcardMatching)
{
    struct Row {
        const char *text, *pattern;
        int match;
    };
    const Row rows[] = {
        {"PASUA-1", "PAS?\?-*", 1},
        {"PASUA-", "PAS?\?-*", 1},
        {"PASU-1", "PAS?\?-*", 0},
        {"XPASUA-1", "PAS?\?-*", 0},
        {"12:34-x", "?\?:?\?-*", 1},
        {"abc", "a*c", 1},
        {"ac", "a*c", 1},
        {"abcb", "a*c", 0},
        {"abcbc", "a*bc", 1},
        {"", "*", 1},
        {"", "", 1},
        {"a", "", 0},
        {"", "?", 0},
        {"ab", "*?*?*", 1},
        {"a", "*?*?*", 0},
        {"mississippi", "m*iss*pi", 1},
    };
    for (const Row& r : rows)
        EXPECT_EQ(f.MatchWildcard(r.text, static_cast<std::uint32_t>(std::strlen(r.text)), r.pattern,
                                  static_cast<std::uint32_t>(std::strlen(r.pattern))),
                  r.match)
            << r.text << " ~ " << r.pattern;
    // The lengths bound the comparison, not the terminators.
    EXPECT_EQ(f.MatchWildcard("PASUA-1zzz", 7, "PAS?\?-*", 7), 1);
    // Many stars over a long text that fails at its end still ends quickly.
    std::string text(4000, 'a');
    std::string pattern = "*a*a*a*a*a*a*a*a*b";
    EXPECT_EQ(f.MatchWildcard(text.c_str(), 4000, pattern.c_str(), static_cast<std::uint32_t>(pattern.size())), 0);
}

TEST_F(SubjectIdentifiers, PersonIdentifiersParsedByPattern)
{
    struct Row {
        bool legal;
        const char* text;
        int result;
        const char *country, *number;
    };
    const Row rows[] = {
        {false, "PASUA-1234567890", 1, "UA", "1234567890"},
        {false, "PASUA-12345678901", 1, "UA", ""},  // eleven digits: no number
        {false, "IDCUA-AB123", 1, "UA", "AB123"},
        {false, "PNOPL-1234", 1, "PL", ""},  // only Ukrainian numbers are taken
        {false, "TAXUA-", 1, "UA", ""},
        {false, "TINUA-42", 1, "UA", "42"},
        {false, "12:34-5", 1, "", ""},
        {false, "NTRUA-12345678", 0, "keep", "keep"},
        {false, "PASUA1234", 0, "keep", "keep"},
        {true, "NTRUA-12345678", 1, "UA", "12345678"},
        {true, "VATDE-1", 1, "DE", ""},
        {true, "UA:ED-1", 1, "", ""},
        {true, "PASUA-1", 0, "keep", "keep"},
    };
    for (const Row& r : rows) {
        char country[3] = "ke", number[PKIF_IDENTIFIER_NUMBER_BYTES] = "keep";
        std::strcpy(country, "ke");
        int result = r.legal ? f.ParseLegalPersonIdentifier(r.text, country, number)
                             : f.ParseNaturalPersonIdentifier(r.text, country, number);
        EXPECT_EQ(result, r.result) << r.text;
        EXPECT_EQ(std::string(country), std::string(r.country).substr(0, 2)) << r.text;
        EXPECT_STREQ(number, r.number) << r.text;
    }
    EXPECT_EQ(f.ParseNaturalPersonIdentifier("PASUA-1", nullptr, nullptr), 1);
    EXPECT_EQ(f.ParseNaturalPersonIdentifier(nullptr, nullptr, nullptr), 0);
}

TEST_F(SubjectIdentifiers, IdentifiersFormattedWithTheirPrefixes)
{
    char out[PKIF_IDENTIFIER_TEXT_BYTES];
    lib.taxConversions[{1, "1234567890"}] = "0987654321";
    ASSERT_EQ(f.FormatTaxIdentifier("UA", "1234567890", out), 1);
    EXPECT_STREQ(out, "TINUA-0987654321");  // the converted number
    ASSERT_EQ(f.FormatOrganisationIdentifier("UA", "12345678", out), 1);
    EXPECT_STREQ(out, "NTRUA-12345678");
    for (auto [country, number] : {std::pair{"", "1"}, {"UA", ""}, {nullptr, "1"}, {"UA", nullptr}}) {
        std::strcpy(out, "stale");
        EXPECT_EQ(f.FormatTaxIdentifier(country, number, out), 0);
        EXPECT_STREQ(out, "");
        std::strcpy(out, "stale");
        EXPECT_EQ(f.FormatOrganisationIdentifier(country, number, out), 0);
        EXPECT_STREQ(out, "");
    }
    EXPECT_EQ(f.FormatTaxIdentifier("UA", "1", nullptr), 1);
    // A text that would not fit is refused, not cut.
    std::string longNumber(PKIF_IDENTIFIER_TEXT_BYTES - 6, '7');
    std::strcpy(out, "stale");
    EXPECT_EQ(f.FormatOrganisationIdentifier("UA", longNumber.c_str(), out), 0);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(f.FormatOrganisationIdentifier("UA", longNumber.substr(1).c_str(), out), 1);
    EXPECT_EQ(std::strlen(out), PKIF_IDENTIFIER_TEXT_BYTES - 1u);
    EXPECT_EQ(f.FormatTaxIdentifier("UA", longNumber.c_str(), out), 0);
    EXPECT_STREQ(out, "");
    lib.Answer(0, 20, {PKI_E_FAILURE});
    EXPECT_EQ(f.FormatTaxIdentifier("UA", "1", out), 0);
}

TEST_F(SubjectIdentifiers, NameTextsThroughTheLibrary)
{
    std::uint32_t found = 9;
    char text[PKIF_NAME_VALUE_TEXT_BYTES];
    ASSERT_EQ(f.LookupNameText(name, "2.5.4.3", 0, &found, text), 1);
    EXPECT_EQ(found, 0u);
    EXPECT_STREQ(text, "");
    ASSERT_EQ(f.SetNameText(name, "2.5.4.3", 0, "\xCA\xE8\xBF\xE2"), 1);  // Windows-1251 text
    ASSERT_EQ(f.LookupNameText(name, "2.5.4.3", 0, &found, text), 1);
    EXPECT_EQ(found, 1u);
    EXPECT_STREQ(text, "\xCA\xE8\xBF\xE2");
    EXPECT_EQ(lib.nameValues["2.5.4.3"], L"\u041A\u0438\u0457\u0432");
    ASSERT_EQ(f.SetNameTextPair(name, "2.5.4.97", "NTRUA-1"), 1);
    EXPECT_EQ(lib.nameValues["2.5.4.97"], L"NTRUA-1");

    std::string tooLong(PKIF_NAME_VALUE_TEXT_BYTES, 'a');
    EXPECT_EQ(f.SetNameText(name, "2.5.4.3", 0, tooLong.c_str()), 0);
    EXPECT_EQ(f.SetNameTextPair(name, "2.5.4.3", tooLong.c_str()), 0);
    lib.Answer(0, 29, {PKI_E_FAILURE});
    EXPECT_EQ(f.LookupNameText(name, "2.5.4.3", 0, &found, text), 0);
    lib.Answer(0, 29, {});
    lib.version = 262;  // the name tables need a newer library
    EXPECT_EQ(f.LookupNameText(name, "2.5.4.3", 0, &found, text), 0);
    EXPECT_EQ(f.SetNameText(name, "2.5.4.3", 0, "x"), 0);
    EXPECT_EQ(f.SetNameTextPair(name, "2.5.4.3", "x"), 0);
}

TEST_F(SubjectIdentifiers, IdentifiersFilledFromTheSubjectName)
{
    // Three identifier attributes; the serial number carries the tax number.
    lib.nameValues["2.5.4.97"] = L"NTRUA-12345678";
    lib.nameValues["2.5.4.5"] = L"TINUA-1234567890";
    lib.nameValues["2.5.4.9"] = L"Main street 1";
    lib.taxConversions[{2, "1234567890"}] = "3333333333";
    const char* oids[] = {"2.5.4.9", "2.5.4.97", "2.5.4.5", "2.5.4.5", "2.5.4.5"};
    const char* prefixes[] = {nullptr, "NTRUA-", "TAXUA-", "TINUA-", "PASUA-"};
    std::uint32_t longest[] = {128, 10, 10, 10, 10};
    char street[129] = "x", organisation[11] = "x", tax[11] = "x", tin[11] = "x", passport[11] = "x";
    char* outputs[] = {street, organisation, tax, tin, passport};
    ASSERT_EQ(f.FillSubjectIdentifiers(name, 5, oids, prefixes, outputs, longest), 1);
    EXPECT_STREQ(street, "Main street 1");
    EXPECT_STREQ(organisation, "12345678");
    EXPECT_STREQ(tax, "x");  // another prefix: left alone
    EXPECT_STREQ(tin, "3333333333");
    EXPECT_STREQ(passport, "x");

    // A conversion too long for the position counts as failed: the value as read.
    lib.taxConversions[{2, "1234567890"}] = "33333333333";
    std::strcpy(tin, "x");
    ASSERT_EQ(f.FillSubjectIdentifiers(name, 5, oids, prefixes, outputs, longest), 1);
    EXPECT_STREQ(tin, "1234567890");
    lib.Answer(0, 20, {PKI_E_FAILURE});
    std::strcpy(tin, "x");
    ASSERT_EQ(f.FillSubjectIdentifiers(name, 5, oids, prefixes, outputs, longest), 1);
    EXPECT_STREQ(tin, "1234567890");
    lib.Answer(0, 20, {});

    // Skipped: nothing after the prefix, a value above the longest, no output.
    for (const wchar_t* skipped : {L"TINUA-", L"TINUA-12345678901", L"TINUA"}) {
        lib.nameValues["2.5.4.5"] = skipped;
        std::strcpy(tin, "x");
        ASSERT_EQ(f.FillSubjectIdentifiers(name, 5, oids, prefixes, outputs, longest), 1);
        EXPECT_STREQ(tin, "x");
    }
    char* none[] = {nullptr, nullptr, nullptr, nullptr, nullptr};
    int before = lib.Calls();
    ASSERT_EQ(f.FillSubjectIdentifiers(name, 5, oids, prefixes, none, longest), 1);
    EXPECT_EQ(lib.Calls(), before);
    lib.Answer(0, 29, {PKI_E_FAILURE});
    EXPECT_EQ(f.FillSubjectIdentifiers(name, 5, oids, prefixes, outputs, longest), 0);
}

TEST_F(SubjectIdentifiers, UkrainianOutputsMappedByOid)
{
    char a[16], b[16], c[16], d[16];
    const char* oids[] = {"2.5.4.3", kTaxNumber, kOrganisation, kTaxNumber, kIdentityCard};
    char* outputs[] = {a, b, c, d, nullptr};
    char* positions[PKIF_DIRECTORY_POSITIONS];
    ASSERT_EQ(f.MapUkrainianIdentifierOutputs(5, oids, outputs, positions), 1);
    const char* expected[] = {nullptr, nullptr, c, b, b, b, nullptr};  // the first of a repeated OID
    for (std::uint32_t j = 0; j < PKIF_DIRECTORY_POSITIONS; ++j) EXPECT_EQ(positions[j], expected[j]) << j;
    ASSERT_EQ(f.MapUkrainianIdentifierOutputs(0, nullptr, nullptr, positions), 1);
    for (char* p : positions) EXPECT_EQ(p, nullptr);
}

// The certificate's identifiers: its directory attributes, then the subject
// name's identifiers over them. An absent output is not wanted and not touched.
TEST_F(SubjectIdentifiers, CertificateIdentifiersSkipAbsentOutputs)
{
    fake::Profile p;
    p.attributesAnswer = 0;
    p.attributeValues = {{"1.2.804.2.1.1.1.11.1.4.3.1", L"123456"}, {kTaxNumber, L"1111111111"}};
    auto cert = Certificate(p);
    lib.nameValues["2.5.4.5"] = L"TAXUA-2222222222";
    char tax[11] = "x", card[15] = "x", other[7] = "x";
    const char* oids[] = {kTaxNumber, kIdentityCard, "1.2.804.2.1.1.1.11.1.4.3.1", kOrganisation};
    char* outputs[] = {tax, card, other, nullptr};
    ASSERT_EQ(f.FillCertificateSubjectIdentifiers(cert.get(), 1, 4, oids, outputs), 1);
    EXPECT_STREQ(tax, "2222222222");  // the subject name's value wins
    EXPECT_STREQ(card, "");
    EXPECT_STREQ(other, "123456");
    ASSERT_EQ(f.FillCertificateSubjectIdentifiers(cert.get(), 0, 4, oids, outputs), 1);
    EXPECT_STREQ(tax, "1111111111");  // without the flag only the attributes
    ASSERT_EQ(f.FillCertificateSubjectIdentifiersDefault(cert.get(), 4, oids, outputs), 1);
    EXPECT_STREQ(tax, "2222222222");
}

TEST_F(SubjectIdentifiers, TaxAttributeOfTheSubject)
{
    fake::Profile p;
    p.listAnswer = 0;
    p.listValues = {{"1.2.804.2.1.1.1.2.2", L"\u0406\u041F\u041D 1234567890"}};
    auto cert = Certificate(p);
    char text[PKIF_NAME_VALUE_TEXT_BYTES] = "stale";
    ASSERT_EQ(f.GetSubjectTaxAttributeText(cert.get(), 0, text), 1);
    EXPECT_STREQ(text, "\xB2\xCF\xCD 1234567890");  // Windows-1251
    cert->p.listValues.clear();
    ASSERT_EQ(f.GetSubjectTaxAttributeText(cert.get(), 0, text), 1);
    EXPECT_STREQ(text, "");
    cert->p.listByOid = false;  // no values by OID: answered, nothing written
    std::strcpy(text, "kept");
    ASSERT_EQ(f.GetSubjectTaxAttributeText(cert.get(), 0, text), 1);
    EXPECT_STREQ(text, "kept");
    // A value longer than the output holds is refused, not cut.
    cert->p.listByOid = true;
    cert->p.listValues = {{"1.2.804.2.1.1.1.2.2", std::wstring(PKIF_NAME_VALUE_TEXT_BYTES, L'7')}};
    EXPECT_EQ(f.GetSubjectTaxAttributeText(cert.get(), 0, text), 0);
    EXPECT_STREQ(text, "");
    cert->p.listAnswer = PKI_E_FAILURE;
    EXPECT_EQ(f.GetSubjectTaxAttributeText(cert.get(), 0, text), 0);
}
