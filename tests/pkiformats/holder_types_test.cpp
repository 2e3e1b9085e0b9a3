// Holder types of the authority's profile: names and role codes, key usages,
// built-in and registry extended key usages, validity checks, the holder-type
// test of certificates, revocation-list file names and serial suffixes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FakeFormats.h"
#include "pkiformats/HolderProfiles.h"
#include "pkiformats/SPKIFormats.h"

namespace {

std::vector<std::string> Strings(const char* multi)
{
    std::vector<std::string> out;
    for (const char* p = multi; *p; p += std::strlen(p) + 1) out.emplace_back(p);
    return out;
}

struct Release {
    void operator()(IPKIObject* o) const { o->Release(); }
};
template <typename T>
using Held = std::unique_ptr<T, Release>;

class HolderTypes : public ::testing::Test {
protected:
    void TearDown() override
    {
        EXPECT_EQ(lib.LiveObjects(), 0);
        EXPECT_EQ(lib.LiveBlobs(), 0u);
        EXPECT_EQ(lib.doubleReleases, 0);
    }
    Held<fake::ProfileCertificate> Certificate(fake::Profile p = {})
    {
        return Held<fake::ProfileCertificate>(new fake::ProfileCertificate(lib, std::move(p)));
    }
    fake::Library lib;
    SPKIFormats f{nullptr, nullptr, &lib};
};

}  // namespace

TEST_F(HolderTypes, RoleCodesAndNamesInBothLanguages)
{
    struct Row {
        std::uint32_t type, kind, role;
        const char *english, *ukrainian, *capitalised;
    };
    // Windows-1251: "ЦСК", "сервер ЦСК", "CMP-сервер", "адміністратор реєстрації",
    // "віддалений адміністратор реєстрації", "користувач ЦСК", "невизначений".
    const Row rows[] = {
        {1, 0, 1, "CA", "\xD6\xD1\xCA", "\xD6\xD1\xCA"},
        {1, 9, 1, "CA", "\xD6\xD1\xCA", "\xD6\xD1\xCA"},
        {2, 0, 16, "CAServer", "\xF1\xE5\xF0\xE2\xE5\xF0 \xD6\xD1\xCA", "\xD1\xE5\xF0\xE2\xE5\xF0 \xD6\xD1\xCA"},
        {2, 1, 2, "CACMPServer", "CMP-\xF1\xE5\xF0\xE2\xE5\xF0", "CMP-\xF1\xE5\xF0\xE2\xE5\xF0"},
        {2, 2, 3, "CATSPServer", "TSP-\xF1\xE5\xF0\xE2\xE5\xF0", "TSP-\xF1\xE5\xF0\xE2\xE5\xF0"},
        {2, 3, 4, "CAOCSPServer", "OCSP-\xF1\xE5\xF0\xE2\xE5\xF0", "OCSP-\xF1\xE5\xF0\xE2\xE5\xF0"},
        {2, 4, 16, "CADVCSServer", "DVCS-\xF1\xE5\xF0\xE2\xE5\xF0", "DVCS-\xF1\xE5\xF0\xE2\xE5\xF0"},
        {2, 7, 16, "C", "\xED\xE5\xE2\xE8\xE7\xED\xE0\xF7\xE5\xED\xE8\xE9",
         "\xCD\xE5\xE2\xE8\xE7\xED\xE0\xF7\xE5\xED\xE8\xE9"},
        {3, 1, 5, "RAAdministrator",
         "\xE0\xE4\xEC\xB3\xED\xB3\xF1\xF2\xF0\xE0\xF2\xEE\xF0 \xF0\xE5\xBA\xF1\xF2\xF0\xE0\xF6\xB3\xBF",
         "\xC0\xE4\xEC\xB3\xED\xB3\xF1\xF2\xF0\xE0\xF2\xEE\xF0 \xF0\xE5\xBA\xF1\xF2\xF0\xE0\xF6\xB3\xBF"},
        {3, 2, 5, "RAAdministrator",
         "\xE2\xB3\xE4\xE4\xE0\xEB\xE5\xED\xE8\xE9 \xE0\xE4\xEC\xB3\xED\xB3\xF1\xF2\xF0\xE0\xF2\xEE\xF0 "
         "\xF0\xE5\xBA\xF1\xF2\xF0\xE0\xF6\xB3\xBF",
         "\xC2\xB3\xE4\xE4\xE0\xEB\xE5\xED\xE8\xE9 \xE0\xE4\xEC\xB3\xED\xB3\xF1\xF2\xF0\xE0\xF2\xEE\xF0 "
         "\xF0\xE5\xBA\xF1\xF2\xF0\xE0\xF6\xB3\xBF"},
        {3, 3, 5, "C", "\xED\xE5\xE2\xE8\xE7\xED\xE0\xF7\xE5\xED\xE8\xE9",
         "\xCD\xE5\xE2\xE8\xE7\xED\xE0\xF7\xE5\xED\xE8\xE9"},
        {4, 0, 6, "EU", "\xEA\xEE\xF0\xE8\xF1\xF2\xF3\xE2\xE0\xF7 \xD6\xD1\xCA",
         "\xCA\xEE\xF0\xE8\xF1\xF2\xF3\xE2\xE0\xF7 \xD6\xD1\xCA"},
        {0, 0, 16, "C", "\xED\xE5\xE2\xE8\xE7\xED\xE0\xF7\xE5\xED\xE8\xE9",
         "\xCD\xE5\xE2\xE8\xE7\xED\xE0\xF7\xE5\xED\xE8\xE9"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::to_string(r.type) + "/" + std::to_string(r.kind));
        EXPECT_EQ(f.GetHolderRoleCode(r.type, r.kind), r.role);
        char name[PKIF_HOLDER_TYPE_NAME_BYTES];
        f.GetHolderTypeName(r.type, r.kind, name, 0, 1);
        EXPECT_STREQ(name, r.english);
        f.GetHolderTypeName(r.type, r.kind, name, 1, 1);
        EXPECT_STREQ(name, r.english);
        f.GetHolderTypeName(r.type, r.kind, name, 0, 0);
        EXPECT_STREQ(name, r.ukrainian);
        f.GetHolderTypeName(r.type, r.kind, name, 1, 0);
        EXPECT_STREQ(name, r.capitalised);
    }
}

TEST_F(HolderTypes, DefaultExtKeyUsagesByHolder)
{
    const std::vector<std::string> authority = {"1.3.6.1.5.5.7.3.8", "1.3.6.1.5.5.7.3.9", "1.3.6.1.5.5.7.3.10",
                                                "1.3.6.1.4.1.19398.1.1.8.1"};
    struct Row {
        std::uint32_t type, kind;
        int result;
        std::vector<std::string> oids;
    };
    const Row rows[] = {
        {1, 0, 1, authority},
        {2, 0, 1, authority},
        {2, 1, 1, {"1.3.6.1.4.1.19398.1.1.8.1"}},
        {2, 2, 1, {"1.3.6.1.5.5.7.3.8"}},
        {2, 3, 1, {"1.3.6.1.5.5.7.3.9"}},
        {2, 4, 1, {"1.3.6.1.5.5.7.3.10"}},
        {2, 5, 0, {}},
        {3, 0, 0, {}},
        {4, 0, 1, {"1.2.804.2.1.1.1.3.9", "1.3.6.1.5.5.7.3.1", "1.3.6.1.5.5.7.3.2", "1.3.6.1.4.1.311.20.2.2"}},
        {5, 0, 0, {}},
    };
    for (const Row& r : rows) {
        char list[PKIF_EXT_KEY_USAGE_LIST_BYTES];
        std::memset(list, 'x', sizeof list);
        EXPECT_EQ(f.GetDefaultExtKeyUsages(r.type, r.kind, list), r.result) << r.type << "/" << r.kind;
        EXPECT_EQ(Strings(list), r.oids) << r.type << "/" << r.kind;
    }
}

TEST_F(HolderTypes, KeyUsageTable)
{
    struct Row {
        std::uint32_t type, kind, family, a, b;
        int result;
        std::uint32_t bits;
    };
    const Row rows[] = {
        {1, 0, 1, 0, 0, 1, 96}, {1, 3, 2, 1, 1, 1, 96}, {1, 0, 9, 0, 0, 1, 96},  // the authority: any family
        {2, 2, 1, 0, 0, 1, 3},  {2, 2, 2, 1, 0, 1, 3},  {2, 3, 4, 0, 0, 1, 1},  {2, 4, 2, 0, 1, 1, 1},
        {2, 1, 1, 1, 0, 1, 17}, {2, 1, 2, 1, 0, 1, 5},  {2, 1, 4, 0, 1, 1, 16}, {2, 1, 2, 0, 1, 1, 4},
        {2, 1, 1, 0, 0, 1, 1},  {3, 2, 2, 0, 0, 1, 1},  {3, 0, 4, 1, 1, 1, 17},  // flag A wins over B
        {4, 0, 1, 1, 0, 1, 19}, {4, 0, 2, 1, 0, 1, 7},  {4, 0, 4, 0, 1, 1, 16}, {4, 0, 2, 0, 1, 1, 4},
        {4, 0, 1, 0, 0, 1, 3},  {4, 3, 1, 0, 0, 1, 33}, {4, 3, 2, 1, 0, 1, 37}, {4, 3, 1, 0, 1, 1, 48},
        {2, 0, 1, 0, 0, 0, 0},  {2, 5, 1, 0, 0, 0, 0},  {4, 0, 3, 0, 0, 0, 0},  {5, 0, 1, 0, 0, 0, 0},
    };
    for (const Row& r : rows) {
        std::uint32_t bits = 0xDEAD;
        EXPECT_EQ(f.GetHolderKeyUsage(r.type, r.kind, r.family, r.a, r.b, &bits), r.result)
            << r.type << "/" << r.kind << "/" << r.family;
        if (r.result) {
            EXPECT_EQ(bits, r.bits) << r.type << "/" << r.kind << "/" << r.family << " A" << r.a;
        }
    }
}

TEST_F(HolderTypes, ExtKeyUsagesAllowedForHolder)
{
    struct Row {
        std::uint32_t type, options;
        const char* oid;
        int allowed;
    };
    const Row rows[] = {
        {1, 0, "1.2.804.2.1.1.1.3.9", 0},        {1, 1, "1.2.804.2.1.1.1.3.9", 1},
        {1, 1, "1.3.6.1.5.5.7.3.1", 0},          {1, 0, "1.3.6.1.5.5.7.3.2", 0},
        {1, 0, "1.3.6.1.4.1.311.20.2.2", 0},     {1, 0, "1.3.6.1.4.1.19398.1.1.8.21", 1},
        {1, 0, "1.3.6.1.5.5.7.3.8", 1},          {4, 1, "1.2.804.2.1.1.1.3.9", 0},
        {4, 0, "1.3.6.1.4.1.19398.1.1.8.21", 0}, {4, 0, "1.3.6.1.4.1.19398.1.1.8.37", 1},
        {4, 0, "1.3.6.1.5.5.7.3.2", 1},          {2, 0, "1.3.6.1.4.1.19398.1.1.8.33", 0},
    };
    for (const Row& r : rows) EXPECT_EQ(f.IsExtKeyUsageAllowed(r.type, r.options, r.oid), r.allowed) << r.oid;
    EXPECT_EQ(f.IsExtKeyUsageAllowed(1, 0, nullptr), 0);
}

TEST_F(HolderTypes, SerialSuffixOfFileNames)
{
    struct Row {
        const char* name;
        std::int32_t number;
        const char* expected;
    };
    const Row rows[] = {
        {"key-S3.dat", 5, "key-S5.dat"},
        {"key-S3.dat", 0, "key.dat"},
        {"key.dat", 2, "key-S2.dat"},
        {"key", 2, "key-S2"},
        {"key", 0, "key"},
        {"my-key.dat", 4, "my-key-S4.dat"},  // a "-" that starts no suffix
        {"key-S007.dat", 8, "key-S8.dat"},   // leading zeros belong to the old suffix
        {"key-S12", 3, "key-S3"},
        {"a.b.c", 1, "a.b-S1.c"},
    };
    for (const Row& r : rows) {
        char out[PKIF_FILE_NAME_BYTES];
        ASSERT_EQ(f.SetFileNameSerialSuffix(r.name, r.number, out), 1) << r.name;
        EXPECT_STREQ(out, r.expected) << r.name << " " << r.number;
    }
    std::uint32_t position = 0;
    std::int32_t number = 0;
    EXPECT_EQ(f.ParseFileNameSerialSuffix("dir-x/key-S42.dat", &position, &number), 1);
    EXPECT_EQ(position, 9u);
    EXPECT_EQ(number, 42);
    EXPECT_EQ(f.ParseFileNameSerialSuffix("key-S007", &position, &number), 1);
    EXPECT_EQ(number, 7);
    for (const char* none : {"key.dat", "key-T3.dat", "key-S.dat", "key-Sx", "key-S2147483648", "-S 5"})
        EXPECT_EQ(f.ParseFileNameSerialSuffix(none, &position, &number), 0) << none;
    EXPECT_EQ(f.ParseFileNameSerialSuffix("key-S2147483647", &position, &number), 1);
    EXPECT_EQ(number, 2147483647);

    // Too long a result is refused, not cut; no output buffer is no work.
    std::string longName(PKIF_FILE_NAME_BYTES - 3, 'n');
    char out[PKIF_FILE_NAME_BYTES];
    EXPECT_EQ(f.SetFileNameSerialSuffix(longName.c_str(), 7, out), 0);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(f.SetFileNameSerialSuffix(longName.c_str(), 0, out), 1);
    EXPECT_EQ(f.SetFileNameSerialSuffix("", 1, out), 0);
    EXPECT_EQ(f.SetFileNameSerialSuffix(nullptr, 1, out), 0);
    EXPECT_EQ(f.SetFileNameSerialSuffix(nullptr, 1, nullptr), 1);
}

TEST_F(HolderTypes, RevocationListFileNamesUseEightUpperCaseHexDigits)
{
    std::uint8_t identifier[32];
    for (int i = 0; i < 32; ++i) identifier[i] = static_cast<std::uint8_t>(0xAB + 0x11 * i);
    char name[PKIF_CRL_FILE_NAME_BYTES];
    ASSERT_EQ(pkif::CRLFileNameOf(f, identifier, 1, name), 1);
    EXPECT_STREQ(name, "CA-ABBCCDDE-Full.crl");
    for (std::uint32_t kind : {0u, 2u, 7u}) {
        ASSERT_EQ(pkif::CRLFileNameOf(f, identifier, kind, name), 1);
        EXPECT_STREQ(name, "CA-ABBCCDDE-Delta.crl");
    }
    // Until the list object can be read the name is refused, never guessed
    // (the object decodes; its texts are not read yet).
    fake::UseTypedObjects(lib);
    std::uint8_t bytes[4] = {1, 2, 3, 4};
    PKIBlob encoded{4, bytes};
    std::strcpy(name, "stale");
    EXPECT_EQ(f.MakeCRLFileName(&encoded, 1, name), 0);
    EXPECT_STREQ(name, "");
}

TEST_F(HolderTypes, ValidityPeriodChecks)
{
    SYSTEMTIME inside{2025, 6, 0, 15, 12, 0, 0, 0}, before{2023, 12, 0, 31, 23, 59, 59, 0},
        after{2030, 1, 0, 1, 1, 0, 1, 0};
    auto c = Certificate();
    std::uint32_t outside = 9;
    ASSERT_EQ(f.CheckCertificateValidityAt(c.get(), &inside, &outside), 1);
    EXPECT_EQ(outside, 0u);
    ASSERT_EQ(f.CheckCertificateValidityAt(c.get(), &c->p.notBefore, &outside), 1);
    EXPECT_EQ(outside, 0u);  // both ends belong to the period
    ASSERT_EQ(f.CheckCertificateValidityAt(c.get(), &c->p.notAfter, &outside), 1);
    EXPECT_EQ(outside, 0u);
    for (const SYSTEMTIME* t : {&before, &after}) {
        ASSERT_EQ(f.CheckCertificateValidityAt(c.get(), t, &outside), 1);
        EXPECT_EQ(outside, 1u);
    }
    // An end that is no time at all does not make the certificate valid for ever.
    c->p.notAfter.wMonth = 13;
    ASSERT_EQ(f.CheckCertificateValidityAt(c.get(), &inside, &outside), 1);
    EXPECT_EQ(outside, 1u);
    c->p.notAfter.wMonth = 1;
    SYSTEMTIME invalid = inside;
    invalid.wDay = 32;
    ASSERT_EQ(f.CheckCertificateValidityAt(c.get(), &invalid, &outside), 1);
    EXPECT_EQ(outside, 1u);
    c->p.validityAnswer = PKI_E_FAILURE;
    EXPECT_EQ(f.CheckCertificateValidityAt(c.get(), &inside, &outside), 0);
    std::uint32_t keyOutside = 9;
    EXPECT_EQ(f.CheckCertificateUsableNow(c.get(), &outside, &keyOutside), 0);
    EXPECT_EQ(keyOutside, 9u);  // the second check is not run
    c->p.validityAnswer = 0;

    // The private-key usage period: absent counts as inside.
    ASSERT_EQ(f.CheckPrivateKeyUsagePeriodNow(c.get(), &keyOutside), 1);
    EXPECT_EQ(keyOutside, 0u);
    c->p.keyPeriod = true;
    c->p.keyFrom = {2020, 1, 0, 1, 0, 0, 0, 0};
    c->p.keyTo = {2021, 1, 0, 1, 0, 0, 0, 0};
    ASSERT_EQ(f.CheckCertificateUsableNow(c.get(), &outside, &keyOutside), 1);
    EXPECT_EQ(keyOutside, 1u);
    c->p.keyTo = {9999, 12, 0, 31, 0, 0, 0, 0};
    ASSERT_EQ(f.CheckPrivateKeyUsagePeriodNow(c.get(), &keyOutside), 1);
    EXPECT_EQ(keyOutside, 0u);
    c->p.keyTo.wMonth = 0;
    ASSERT_EQ(f.CheckPrivateKeyUsagePeriodNow(c.get(), &keyOutside), 1);
    EXPECT_EQ(keyOutside, 1u);
    lib.Answer(4889, 3, {PKI_E_FAILURE});
    EXPECT_EQ(f.CheckPrivateKeyUsagePeriodNow(c.get(), &keyOutside), 0);
}

TEST_F(HolderTypes, CertificatesOfHolderTypes)
{
    const char* cmp = "1.3.6.1.4.1.19398.1.1.8.1";
    const char* ra = "1.3.6.1.4.1.19398.1.1.8.2";
    const char* tsp = "1.3.6.1.5.5.7.3.8";
    const char* ocsp = "1.3.6.1.5.5.7.3.9";
    const char* dvcs = "1.3.6.1.5.5.7.3.10";
    struct Row {
        bool ca;
        std::vector<std::string> usages;  // empty: no extension
        // expected for (1,0) (2,0) (2,1) (2,2) (2,3) (2,4) (2,5) (3,0) (4,0) (5,0)
        std::vector<int> answers;
    };
    const Row rows[] = {
        {true, {}, {1, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {false, {}, {0, 0, 0, 0, 0, 0, 0, 0, 1, 0}},
        {false, {cmp}, {0, 1, 1, 0, 0, 0, 0, 0, 0, 0}},
        {false, {tsp, "1.2.3"}, {0, 1, 0, 1, 0, 0, 0, 0, 0, 0}},
        {false, {ocsp}, {0, 1, 0, 0, 1, 0, 0, 0, 0, 0}},
        {false, {dvcs}, {0, 1, 0, 0, 0, 1, 0, 0, 1, 0}},  // DVCS does not exclude the end user
        {false, {ra}, {0, 0, 0, 0, 0, 0, 0, 1, 0, 0}},
        {false, {ra, ocsp}, {0, 1, 0, 0, 1, 0, 0, 0, 0, 0}},
        {true, {ra}, {1, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {false, {"1.3.6.1.5.5.7.3.81"}, {0, 0, 0, 0, 0, 0, 0, 0, 1, 0}},  // compared whole
    };
    const std::pair<std::uint32_t, std::uint32_t> holders[] = {{1, 0}, {2, 0}, {2, 1}, {2, 2}, {2, 3},
                                                               {2, 4}, {2, 5}, {3, 0}, {4, 0}, {5, 0}};
    for (const Row& r : rows) {
        fake::Profile p;
        p.constraintsAnswer = r.ca ? 0 : PKI_E_ABSENT;
        p.ca = r.ca;
        p.extKeyUsages = !r.usages.empty();
        p.usages = r.usages;
        auto c = Certificate(p);
        for (std::size_t h = 0; h < std::size(holders); ++h)
            EXPECT_EQ(f.IsCertificateOfHolderType(holders[h].first, holders[h].second, c.get()), r.answers[h])
                << (r.usages.empty() ? "" : r.usages[0]) << " ca " << r.ca << " holder " << holders[h].first << "/"
                << holders[h].second;
    }

    // Every view must agree: an inner or RSA view of another type says no.
    fake::Profile endUser;
    auto outer = Certificate(endUser);
    fake::Profile server;
    server.extKeyUsages = true;
    server.usages = {ocsp};
    auto inner = Certificate(server);
    auto agreeing = Certificate(endUser);
    outer->inner = agreeing.get();
    EXPECT_EQ(f.IsCertificateOfHolderType(4, 0, outer.get()), 1);
    outer->rsa = inner.get();
    EXPECT_EQ(f.IsCertificateOfHolderType(4, 0, outer.get()), 0);
    outer->rsa = nullptr;

    // Constraints or usages that cannot be read answer no.
    fake::Profile unreadable;
    unreadable.constraintsAnswer = PKI_E_FAILURE;
    EXPECT_EQ(f.IsCertificateOfHolderType(4, 0, Certificate(unreadable).get()), 0);
    lib.Answer(1, 4, {PKI_E_FAILURE});
    EXPECT_EQ(f.IsCertificateOfHolderType(2, 3, inner.get()), 0);
}

TEST_F(HolderTypes, SignatureFamilyAndDecodedPairs)
{
    for (auto [kind, family] : {std::pair{1u, 1u}, {2u, 2u}, {4u, 4u}, {3u, 0u}, {0u, 0u}}) {
        fake::Profile p;
        p.keyKind = kind;
        std::uint32_t out = 9;
        EXPECT_EQ(f.GetSignatureFamily(Certificate(p).get(), &out), 1);
        EXPECT_EQ(out, family) << kind;
    }
    lib.Answer(PKI_CLASS_CERTIFICATE, 23, {PKI_E_FAILURE});
    std::uint32_t out = 0;
    EXPECT_EQ(f.GetSignatureFamily(Certificate().get(), &out), 0);

    // Both decoded: the caller owns both; either failing leaves neither behind.
    lib.makers[{PKI_CLASS_KEY, PKI_IID_KEY}] = [this]() -> void* { return static_cast<IPKIKey*>(new fake::Key(lib)); };
    lib.makers[{PKI_CLASS_CERTIFICATE, PKI_IID_CERTIFICATE}] = [this]() -> void* {
        return static_cast<IPKICertificate*>(new fake::ProfileCertificate(lib, {}));
    };
    std::uint8_t bytes[3] = {1, 2, 3};
    PKIBlob data{3, bytes};
    void* container = nullptr;
    void* certificate = nullptr;
    ASSERT_EQ(f.DecodeKeyAndCertificate(&data, &data, &container, &certificate), 1);
    ASSERT_NE(container, nullptr);
    ASSERT_NE(certificate, nullptr);
    EXPECT_EQ(lib.LiveObjects(), 2);
    static_cast<IPKIKey*>(container)->Release();
    static_cast<IPKICertificate*>(certificate)->Release();
    lib.Answer(PKI_CLASS_CERTIFICATE, 4, {PKI_E_BAD_ENCODING});
    EXPECT_EQ(f.DecodeKeyAndCertificate(&data, &data, &container, &certificate), 0);
    EXPECT_EQ(container, nullptr);
    EXPECT_EQ(certificate, nullptr);
    EXPECT_EQ(lib.LiveObjects(), 0);
    lib.Answer(PKI_CLASS_KEY, 4, {PKI_E_BAD_ENCODING});
    container = &out;
    EXPECT_EQ(f.DecodeKeyAndCertificate(&data, &data, &container, &certificate), 0);
    EXPECT_EQ(container, nullptr);
}

// The configured extended key usages live in the Win32 layer's registry.
class ConfiguredUsages : public HolderTypes {
protected:
    void SetUp() override
    {
        char templ[] = "/tmp/qvk-registry-XXXXXX";
        ASSERT_NE(mkdtemp(templ), nullptr);
        dir = templ;
        setenv("WEMU_REGISTRY_DIR", dir.c_str(), 1);
    }
    void TearDown() override
    {
        unsetenv("WEMU_REGISTRY_DIR");
        std::string command = "rm -rf '" + dir + "'";
        EXPECT_EQ(std::system(command.c_str()), 0);
        HolderTypes::TearDown();
    }
    static void Set(HKEY root, const char* key, const char* name, const std::string& text)
    {
        ASSERT_EQ(WemuRegSetValue(root, key, name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1)),
                  ERROR_SUCCESS);
    }
    static constexpr const char* kCA = "SOFTWARE\\Tavren\\Keyrond\\Common\\OIDs\\ExtKeyUsages\\CA";
    static constexpr const char* kUser = "SOFTWARE\\Tavren\\Keyrond\\Common\\OIDs\\ExtKeyUsages\\EUser";
    std::string dir;
};

TEST_F(ConfiguredUsages, ListsAndTextsFromTheMachineBeforeTheUser)
{
    char list[PKIF_EXT_KEY_USAGE_LIST_BYTES];
    char text[PKIF_EXT_KEY_USAGE_TEXT_BYTES];
    EXPECT_EQ(f.ListConfiguredExtKeyUsages(1, 0, list), 0);  // no key anywhere

    Set(HKEY_CURRENT_USER, kCA, "1.2.3.4", "user's");
    ASSERT_EQ(f.ListConfiguredExtKeyUsages(1, 0, list), 1);
    EXPECT_EQ(Strings(list), std::vector<std::string>{"1.2.3.4"});
    ASSERT_EQ(f.GetConfiguredExtKeyUsageText(1, 0, "1.2.3.4", text), 1);
    EXPECT_STREQ(text, "user's");

    Set(HKEY_LOCAL_MACHINE, kCA, "1.3.6.1.5.5.7.3.9", "OCSP");
    Set(HKEY_LOCAL_MACHINE, kCA, "1.3.6.1.5.5.7.3.1", "\xD1\xE5\xF0\xE2\xE5\xF0");  // Windows-1251 text
    DWORD word = 7;
    ASSERT_EQ(WemuRegSetValue(HKEY_LOCAL_MACHINE, kCA, "1.9", REG_DWORD, &word, sizeof word), ERROR_SUCCESS);
    ASSERT_EQ(f.ListConfiguredExtKeyUsages(1, 0, list), 1);
    EXPECT_EQ(Strings(list), (std::vector<std::string>{"1.3.6.1.5.5.7.3.1", "1.3.6.1.5.5.7.3.9"}));
    ASSERT_EQ(f.GetConfiguredExtKeyUsageText(1, 0, "1.3.6.1.5.5.7.3.1", text), 1);
    EXPECT_STREQ(text, "\xD1\xE5\xF0\xE2\xE5\xF0");
    EXPECT_EQ(f.GetConfiguredExtKeyUsageText(1, 0, "1.2.3.4", text), 0);  // only the machine's key is read
    EXPECT_EQ(f.GetConfiguredExtKeyUsageText(1, 0, "1.9", text), 0);      // not a text
    EXPECT_STREQ(text, "");

    Set(HKEY_LOCAL_MACHINE, kUser, "1.2.804.2.1.1.1.3.9", "user");
    ASSERT_EQ(f.ListConfiguredExtKeyUsages(4, 0, list), 1);
    EXPECT_EQ(Strings(list), std::vector<std::string>{"1.2.804.2.1.1.1.3.9"});
    for (std::uint32_t type : {0u, 2u, 3u, 5u}) {
        EXPECT_EQ(f.ListConfiguredExtKeyUsages(type, 0, list), 0);
        EXPECT_EQ(f.GetConfiguredExtKeyUsageText(type, 0, "1.3.6.1.5.5.7.3.9", text), 0);
    }
}

TEST_F(ConfiguredUsages, OverlongValuesAndListsAreRefusedNotCut)
{
    char text[PKIF_EXT_KEY_USAGE_TEXT_BYTES + 8];
    std::string longest(PKIF_EXT_KEY_USAGE_TEXT_BYTES - 1, 't');
    Set(HKEY_LOCAL_MACHINE, kCA, "fits", longest);
    ASSERT_EQ(f.GetConfiguredExtKeyUsageText(1, 0, "fits", text), 1);
    EXPECT_EQ(std::string(text), longest);
    // 257 bytes of text and no terminator: the buffer would fill with no end.
    std::string unterminated(PKIF_EXT_KEY_USAGE_TEXT_BYTES, 'u');
    ASSERT_EQ(WemuRegSetValue(HKEY_LOCAL_MACHINE, kCA, "open", REG_SZ, unterminated.data(),
                              static_cast<DWORD>(unterminated.size())),
              ERROR_SUCCESS);
    std::memset(text, 'x', sizeof text);
    EXPECT_EQ(f.GetConfiguredExtKeyUsageText(1, 0, "open", text), 0);
    EXPECT_EQ(text[0], 0);
    Set(HKEY_LOCAL_MACHINE, kCA, "long", longest + "t");
    EXPECT_EQ(f.GetConfiguredExtKeyUsageText(1, 0, "long", text), 0);
    EXPECT_EQ(text[PKIF_EXT_KEY_USAGE_TEXT_BYTES], 'x');  // nothing written past the capacity

    // More names than the list holds: no list at all rather than part of one.
    for (int i = 0; i < 20; ++i)
        Set(HKEY_LOCAL_MACHINE, kUser, (std::to_string(i) + std::string(240, 'n')).c_str(), "");
    std::vector<char> list(2 * PKIF_EXT_KEY_USAGE_LIST_BYTES, 'x');
    EXPECT_EQ(f.ListConfiguredExtKeyUsages(4, 0, list.data()), 0);
    EXPECT_EQ(list[0], 0);
    EXPECT_EQ(list[PKIF_EXT_KEY_USAGE_LIST_BYTES], 'x');
}

// Every library call failing or throwing in turn leaves no object and no
// blob behind, in the operations that walk a certificate's parts.
TEST_F(HolderTypes, FailingLibraryCallsLeaveNothingBehind)
{
    fake::Profile p;
    p.constraintsAnswer = 0;
    p.extKeyUsages = true;
    p.usages = {"1.3.6.1.5.5.7.3.9", "1.2.3"};
    p.policies = true;
    p.policyOids = {"1.2.3", "1.3.6.1.4.1.19398.1.1.8.21"};
    p.keyPeriod = true;
    p.attributesAnswer = 0;
    p.attributeValues = {{"1.2.804.2.1.1.1.11.1.4.1.1", L"1"}};
    auto c = Certificate(p);
    auto inner = Certificate(p);
    c->inner = inner.get();
    lib.nameValues["2.5.4.5"] = L"TAXUA-2";
    const std::vector<std::function<int()>> runs = {
        [&] { return f.IsCertificateOfHolderType(1, 0, c.get()); },
        [&] {
            std::uint32_t found = 0;
            char oid[PKIF_OID_TEXT_BYTES];
            return f.FindMakerPolicy(c.get(), &found, oid);
        },
        [&] {
            std::uint32_t outside = 0;
            return f.CheckPrivateKeyUsagePeriodNow(c.get(), &outside);
        },
        [&] {
            char tax[11];
            const char* oids[] = {"1.2.804.2.1.1.1.11.1.4.1.1"};
            char* outputs[] = {tax};
            return f.FillCertificateSubjectIdentifiersDefault(c.get(), 1, oids, outputs);
        },
    };
    for (std::size_t r = 0; r < runs.size(); ++r) {
        int before = lib.Calls();
        runs[r]();
        int calls = lib.Calls() - before;
        for (bool throws : {false, true})
            for (int k = 1; k <= calls; ++k) {
                lib.FailCall(k, PKI_E_FAILURE, throws);
                EXPECT_NO_THROW(runs[r]()) << r << " k=" << k;
                EXPECT_EQ(lib.LiveObjects(), 2) << r << " k=" << k;  // the two certificates
                EXPECT_EQ(lib.LiveBlobs(), 0u) << r << " k=" << k;
            }
        lib.FailCall(1 << 20);
    }
}
