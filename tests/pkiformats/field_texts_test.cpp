// Request and certificate field texts, the certificate's role and the texts
// of extended key usages.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "FailureSweep.h"
#include "FakeFormats.h"
#include "VirtualSlot.h"
#include "pkiformats/SPKIFormats.h"

using qvktest::SlotOf;

namespace {

using fake::fields::FieldsScript;

// UTF-8 text as Windows-1251, through the Win32 layer's own conversions.
std::string Cp1251(const char* utf8)
{
    std::vector<wchar_t> wide(std::strlen(utf8) + 1, 0);
    MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide.data(), static_cast<int>(wide.size()));
    std::vector<char> out(wide.size() * 2, 0);
    WideCharToMultiByte(CP_1251, 0, wide.data(), -1, out.data(), static_cast<int>(out.size()), nullptr, nullptr);
    return out.data();
}

// The outputs of the request reader, each of the documented capacity.
struct RequestOutputs {
    std::vector<std::string> t = std::vector<std::string>(14, std::string(PKIF_NAME_TEXT_BYTES, 'x'));
    std::uint8_t keyIdentifier[PKIF_KEY_IDENTIFIER_BYTES] = {};
    SYSTEMTIME from1{}, to1{}, from2{}, to2{};
    std::uint32_t read1 = 7, read2 = 7;
    std::string multi = std::string(PKIF_REQUEST_LIST_BYTES, 'x');
    std::string text23 = std::string(PKIF_NAME_TEXT_BYTES, 'x');
    const char* T(int i) const { return t[static_cast<std::size_t>(i)].c_str(); }

    int Run(SPKIFormats& f, IPKIObject* request, std::uint32_t value24 = 5)
    {
        auto p = [&](int i) { return t[static_cast<std::size_t>(i)].data(); };
        return f.GetRequestFieldTexts(request, p(0), p(1), p(2), p(3), p(4), p(5), p(6), p(7), p(8), p(9), p(10), p(11),
                                      p(12), p(13), keyIdentifier, &from1, &to1, &read1, &from2, &to2, &read2,
                                      multi.data(), text23.data(), value24);
    }
};

// The certificate reader's outputs: text, AN5, AN4, AN2, AN1, D1 to D7, AN6.
struct CertificateOutputs {
    std::vector<std::string> t = std::vector<std::string>(13, std::string(PKIF_NAME_TEXT_BYTES, 'x'));
    std::uint8_t keyIdentifier[PKIF_KEY_IDENTIFIER_BYTES] = {};
    std::uint32_t word = 9;
    const char* T(int i) const { return t[static_cast<std::size_t>(i)].c_str(); }

    int Run(SPKIFormats& f, IPKIObject* certificate)
    {
        auto p = [&](int i) { return t[static_cast<std::size_t>(i)].data(); };
        return f.GetCertificateFieldTexts(certificate, p(0), keyIdentifier, &word, 0, p(1), p(2), p(3), p(4), p(5),
                                          p(6), p(7), p(8), p(9), p(10), p(11), p(12));
    }
};

// A request with every part present.
FieldsScript FullRequest()
{
    FieldsScript s;
    s.subject = L"CN=\x041A\x0438\x0457\x0432";  // "Київ"
    s.namesAnswer = 0;
    s.names = {{1, L"one@example.org"}, {4, L"host"}, {1, L"two@example.org"}, {2, L"a.example"},
               {5, L"street"},          {6, L"uri"},  {2, L"b.example"}};
    s.itemsAnswer = 0;
    s.items = {{1, L"12345678"}, {2, L"1234567890"}, {3, L"third"}, {7, L"seventh"}};
    s.keyIdentifier = std::string(32, '\x5A');
    s.list1Answer = 0;
    s.list1 = {L"first", L"second"};
    s.firstPeriodAnswer = 0;
    s.firstFrom = SYSTEMTIME{2025, 1, 3, 1, 0, 0, 0, 0};
    s.firstTo = SYSTEMTIME{2027, 1, 5, 1, 0, 0, 0, 0};
    s.entriesAnswer = 0;
    s.entries = {"1.2.3", "4.5"};
    s.textValueAnswer = 0;
    s.textValue = L"value text";
    return s;
}

}  // namespace

TEST(FieldTexts, ObjectModelSlots)
{
#define QVK_SLOT(cls, slot, op) EXPECT_EQ(SlotOf(&cls::op), slot) << #cls "::" #op;
    QVK_PKI_OBJECT_MODEL_SLOTS_FIELD_TEXTS(QVK_SLOT)
#undef QVK_SLOT
}

TEST(FieldTexts, RequestTextsInOrder)
{
    fake::Library lib;
    SPKIFormats f(nullptr, nullptr, &lib);
    FieldsScript s = FullRequest();
    lib.nameValues["1.2.840.113549.1.9.1"] = L"subject@example.org";  // e-mail: overrides AN1
    lib.nameValues["2.5.4.5"] = L"TINUA-0123456789";                  // a card number: overrides D2
    auto* request = new fake::fields::Request(lib, s);
    RequestOutputs out;
    ASSERT_EQ(out.Run(f, request, 77), 1);

    EXPECT_EQ(out.T(0), Cp1251("CN=Київ"));
    EXPECT_STREQ(out.T(1), "street");               // AN5
    EXPECT_STREQ(out.T(2), "host");                 // AN4
    EXPECT_STREQ(out.T(3), "a.example;b.example");  // AN2 joined
    EXPECT_STREQ(out.T(4), "subject@example.org");  // AN1 from the subject
    EXPECT_STREQ(out.T(5), "first");                // L1
    EXPECT_STREQ(out.T(6), "second");               // L2: no second list, list 1's entry 1
    EXPECT_STREQ(out.T(7), "12345678");             // D1
    EXPECT_STREQ(out.T(8), "0123456789");           // D2 from the subject
    EXPECT_STREQ(out.T(9), "third");                // D3
    EXPECT_STREQ(out.T(10), "");                    // D4 absent
    EXPECT_STREQ(out.T(13), "seventh");             // D7
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out.keyIdentifier), 32), std::string(32, '\x5A'));
    EXPECT_EQ(out.read1, 1u);
    EXPECT_EQ(out.from1.wYear, 2025);
    EXPECT_EQ(out.to1.wYear, 2027);
    EXPECT_EQ(out.read2, 0u);
    EXPECT_EQ(std::string(out.multi.data(), 11), std::string("1.2.3\0"
                                                             "4.5\0\0",
                                                             11));
    EXPECT_STREQ(out.text23.c_str(), "value text");
    EXPECT_EQ(s.valuesSet, std::vector<std::uint32_t>{77});

    // The request's parts in the order the texts are filled.
    std::vector<std::string> parts;
    for (const std::string& call : lib.log)
        if (call.rfind("4873:", 0) == 0) parts.push_back(call.substr(0, call.find('(')));
    EXPECT_EQ(parts, (std::vector<std::string>{"4873:7", "4873:79", "4873:49", "4873:52", "4873:49", "4873:82",
                                               "4873:9", "4873:88", "4873:46", "4873:70", "4873:61", "4873:98"}));
    request->Release();
    EXPECT_EQ(lib.LiveObjects(), 0);
    EXPECT_EQ(lib.LiveBlobs(), 0u);
}

TEST(FieldTexts, RequestListsIdentifiersAndLimits)
{
    struct Case {
        const char* name;
        std::function<void(FieldsScript&, fake::Library&)> change;
        int result;
        std::function<void(const RequestOutputs&)> check;
    };
    const std::vector<Case> cases = {
        {"one-entry list 1 and no list 2 leave L2 empty", [](FieldsScript& s, fake::Library&) { s.list1 = {L"only"}; },
         1,
         [](const RequestOutputs& o) {
             EXPECT_STREQ(o.T(5), "only");
             EXPECT_STREQ(o.T(6), "");
         }},
        {"a second list gives L2 its entry 0",
         [](FieldsScript& s, fake::Library&) {
             s.list2Answer = 0;
             s.list2 = {L"other"};
         },
         1, [](const RequestOutputs& o) { EXPECT_STREQ(o.T(6), "other"); }},
        {"eleven digits after the prefix leave D2 as the directory gave it",
         [](FieldsScript&, fake::Library& lib) { lib.nameValues["2.5.4.5"] = L"TINUA-01234567890"; }, 1,
         [](const RequestOutputs& o) { EXPECT_STREQ(o.T(8), "1234567890"); }},
        {"no alternative names, directory items or lists: empty texts",
         [](FieldsScript& s, fake::Library& lib) {
             lib.nameValues.clear();
             s.namesAnswer = s.itemsAnswer = s.list1Answer = PKI_E_ABSENT;
             s.entriesAnswer = PKI_E_FAILURE;
         },
         1,
         [](const RequestOutputs& o) {
             for (int i = 1; i < 14; ++i) EXPECT_STREQ(o.T(i), "") << i;
             EXPECT_EQ(std::string(o.multi.data(), 2), std::string("\0\0", 2));
         }},
        {"a joined list longer than its output is refused, not cut",
         [](FieldsScript& s, fake::Library&) {
             s.names = {{2, std::wstring(1200, L'a')}, {2, std::wstring(1200, L'b')}};
         },
         0, [](const RequestOutputs& o) { EXPECT_STREQ(o.T(3), ""); }},
        {"a text longer than its output is refused",
         [](FieldsScript& s, fake::Library&) { s.subject = std::wstring(PKIF_NAME_TEXT_BYTES, L's'); }, 0,
         [](const RequestOutputs& o) { EXPECT_STREQ(o.T(0), ""); }},
        {"at most 32 entries in the multi-string",
         [](FieldsScript& s, fake::Library&) {
             s.entries.clear();
             for (int i = 0; i < 40; ++i) s.entries.push_back(std::to_string(i));
         },
         1,
         [](const RequestOutputs& o) {
             std::string expect;
             for (int i = 0; i < 32; ++i) expect += std::to_string(i) + '\0';
             expect += '\0';
             EXPECT_EQ(o.multi.substr(0, expect.size()), expect);
         }},
        {"a multi-string longer than its output is refused",
         [](FieldsScript& s, fake::Library&) { s.entries = std::vector<std::string>(2, std::string(2047, 'e')); }, 0,
         [](const RequestOutputs& o) { EXPECT_EQ(o.multi[0], 0); }},
        {"a text item that does not take its value fails",
         [](FieldsScript&, fake::Library& lib) { lib.Answer(4951, 5, {PKI_E_FAILURE}); }, 0,
         [](const RequestOutputs& o) { EXPECT_STREQ(o.text23.c_str(), "value text"); }},
        {"no text item: text 23 empty, still a success",
         [](FieldsScript& s, fake::Library&) { s.textValueAnswer = PKI_E_FAILURE; }, 1,
         [](const RequestOutputs& o) { EXPECT_STREQ(o.text23.c_str(), ""); }},
        {"a failing alternative-name read fails",
         [](FieldsScript&, fake::Library& lib) { lib.Answer(4865, 5, {PKI_E_FAILURE}); }, 0,
         [](const RequestOutputs&) {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::Library lib;
        SPKIFormats f(nullptr, nullptr, &lib);
        FieldsScript s = FullRequest();
        lib.nameValues["2.5.4.5"] = L"TINUA-1234567890";
        c.change(s, lib);
        auto* request = new fake::fields::Request(lib, s);
        RequestOutputs out;
        EXPECT_EQ(out.Run(f, request), c.result);
        c.check(out);
        request->Release();
        EXPECT_EQ(lib.LiveObjects(), 0);
        EXPECT_EQ(lib.LiveBlobs(), 0u);
    }
}

TEST(FieldTexts, RequestFailureSweep)
{
    FieldsScript s;
    fake::SweepFailures(
        "GetRequestFieldTexts",
        [&s](SPKIFormats& f, fake::Library& lib) {
            s = FullRequest();
            auto* request = new fake::fields::Request(lib, s);
            RequestOutputs out;
            int rc = out.Run(f, request);
            request->Release();
            return rc;
        },
        false);
}

TEST(FieldTexts, CertificateTextsAndKeyIdentifier)
{
    fake::KeysLibrary lib;
    SPKIFormats f(nullptr, nullptr, &lib);
    FieldsScript s;
    s.subject = L"Holder";
    s.namesAnswer = 0;
    s.names = {{5, L"street"},
               {6, L"http://example.org/a"},
               {1, L"x@example.org"},
               {1, L"y@example.org"},
               {6, L"http://example.org/b"}};
    s.itemsAnswer = 0;
    s.items = {{1, L"12345678"}, {2, L"1234567890"}};
    lib.nameValues["2.5.4.97"] = L"NTRUA-87654321";
    s.keyIdentifier = std::string("\x01\x02\x03", 3);
    auto* certificate = new fake::fields::Certificate(lib, s);
    CertificateOutputs out;
    ASSERT_EQ(out.Run(f, certificate), 1);
    EXPECT_STREQ(out.T(0), "CN=Holder;C=UA");  // composed from the name record
    EXPECT_EQ(out.word, 0u);
    EXPECT_STREQ(out.T(1), "street");
    EXPECT_STREQ(out.T(4), "x@example.org;y@example.org");
    EXPECT_STREQ(out.T(5), "87654321");  // D1 from the subject's organisation identifier
    EXPECT_STREQ(out.T(6), "1234567890");
    EXPECT_STREQ(out.T(12), "http://example.org/b");  // AN6: the last one
    const std::uint8_t own[32] = {1, 2, 3};
    EXPECT_EQ(std::memcmp(out.keyIdentifier, own, 32), 0);

    // No subject key identifier: an RSA key's 20-byte identifier of its
    // 600-byte modulus field (the fake library's identifier: 17 ^ byte ^ index).
    s.keyIdentifier.clear();
    s.keyKind = 2;
    ASSERT_EQ(out.Run(f, certificate), 1);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(out.keyIdentifier[i], (17 ^ (i + 1) ^ i) & 0xFF) << i;
    for (int i = 20; i < 32; ++i) EXPECT_EQ(out.keyIdentifier[i], 0) << i;

    // ECDSA needs a library of version 262; DSTU 4145 keys have no computed identifier.
    s.keyKind = 4;
    lib.version = 261;
    EXPECT_EQ(out.Run(f, certificate), 0);
    s.keyKind = 1;
    EXPECT_EQ(out.Run(f, certificate), 0);
    // An identifier longer than the 32-byte output fails.
    s.keyIdentifier = std::string(33, '\x11');
    EXPECT_EQ(out.Run(f, certificate), 0);

    // Alternative names and directory items that cannot be read are skipped;
    // no subject name ends the reading with a success.
    s.keyIdentifier = "k";
    lib.Answer(4865, 5, {PKI_E_FAILURE});
    s.subjectNameAnswer = PKI_E_FAILURE;
    lib.Answer(4918, 22, {PKI_E_FAILURE});
    ASSERT_EQ(out.Run(f, certificate), 1);
    EXPECT_STREQ(out.T(1), "");
    EXPECT_STREQ(out.T(5), "12345678");
    EXPECT_STREQ(out.T(6), "");
    certificate->Release();
    EXPECT_EQ(lib.LiveObjects(), 0);
    EXPECT_EQ(lib.LiveBlobs(), 0u);
}

TEST(FieldTexts, CertificateRoles)
{
    struct Case {
        int constraints;
        std::uint32_t ca;
        std::vector<std::string> usages;  // empty: no extended key usages
        std::uint32_t role, subtype;
    };
    const char* cmp = "1.3.6.1.4.1.19398.1.1.8.1";
    const char* registration = "1.3.6.1.4.1.19398.1.1.8.2";
    const char* ts = "1.3.6.1.5.5.7.3.8";
    const char* ocsp = "1.3.6.1.5.5.7.3.9";
    const char* dvcs = "1.3.6.1.5.5.7.3.10";
    const std::vector<Case> cases = {
        {0, 1, {ts, ocsp}, 1, 0},
        {0, 0, {ts, ocsp}, 2, 0},
        {PKI_E_ABSENT, 0, {cmp}, 2, 1},
        {PKI_E_ABSENT, 0, {ts}, 2, 2},
        {PKI_E_ABSENT, 0, {"1.2.3", ocsp}, 2, 3},
        {PKI_E_ABSENT, 0, {dvcs}, 2, 4},
        {PKI_E_ABSENT, 0, {registration, dvcs}, 2, 4},
        {PKI_E_ABSENT, 0, {registration}, 3, 0},
        {PKI_E_ABSENT, 0, {}, 4, 0},
        {PKI_E_ABSENT, 0, {"1.3.6.1.5.5.7.3.81", "1.3.6.1.5.5.7.3.1"}, 4, 0},
    };
    for (const Case& c : cases) {
        fake::Library lib;
        SPKIFormats f(nullptr, nullptr, &lib);
        FieldsScript s;
        s.constraintsAnswer = c.constraints;
        s.ca = c.ca;
        s.usagesAnswer = c.usages.empty() ? PKI_E_ABSENT : 0;
        s.usages = c.usages;
        auto* certificate = new fake::fields::Certificate(lib, s);
        std::uint32_t role = 9, subtype = 9;
        ASSERT_EQ(f.GetCertificateRole(certificate, &role, &subtype), 1);
        EXPECT_EQ(role, c.role) << c.usages.size();
        EXPECT_EQ(subtype, c.subtype) << c.usages.size();
        certificate->Release();
        EXPECT_EQ(lib.LiveBlobs(), 0u);
        EXPECT_EQ(lib.LiveObjects(), 0);
    }

    // Present but unreadable: constraints or extended key usages fail the role.
    FieldsScript s;
    s.constraintsAnswer = 0;
    s.usagesAnswer = 0;
    s.usages = {ts};
    fake::SweepFailures(
        "GetCertificateRole",
        [&s](SPKIFormats& f, fake::Library& lib) {
            auto* certificate = new fake::fields::Certificate(lib, s);
            std::uint32_t role = 0, subtype = 0;
            int rc = f.GetCertificateRole(certificate, &role, &subtype);
            certificate->Release();
            return rc;
        },
        false);
    for (std::uint32_t op : {3u, 4u}) {
        fake::Library lib;
        SPKIFormats f(nullptr, nullptr, &lib);
        lib.Answer(op == 3 ? 4868 : 1, op == 3 ? 3 : 4, {PKI_E_FAILURE});
        auto* certificate = new fake::fields::Certificate(lib, s);
        std::uint32_t role = 0, subtype = 0;
        EXPECT_EQ(f.GetCertificateRole(certificate, &role, &subtype), 0) << op;
        certificate->Release();
    }
}

// The configured texts live in the Win32 layer's registry.
class UsageTexts : public ::testing::Test {
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
    }
    static void Set(const char* key, const char* name, const std::string& text)
    {
        ASSERT_EQ(
            WemuRegSetValue(HKEY_LOCAL_MACHINE, key, name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1)),
            ERROR_SUCCESS);
    }
    static constexpr const char* kCA = "SOFTWARE\\Tavren\\Keyrond\\Common\\OIDs\\ExtKeyUsages\\CA";
    static constexpr const char* kUser = "SOFTWARE\\Tavren\\Keyrond\\Common\\OIDs\\ExtKeyUsages\\EUser";
    std::string dir;
    SPKIFormats f{nullptr, nullptr, nullptr};
};

TEST_F(UsageTexts, RowsThenConfiguredTextsThenTheOid)
{
    const std::pair<const char*, const char*> rows[] = {
        {"1.3.6.1.5.5.7.3.8", "Формування позначок часу"},
        {"1.3.6.1.5.5.7.3.9", "Підпис OCSP-відповідей"},
        {"1.3.6.1.5.5.7.3.10", "Підпис DVCS-відповідей"},
        {"1.3.6.1.4.1.19398.1.1.8.1", "Обробка CMP-повідомлень"},
        {"1.3.6.1.4.1.19398.1.1.8.2", "Адміністратор реєстрації"},
        {"1.3.6.1.4.1.19398.1.1.8.11", "Сервер безпеки"},
        {"1.3.6.1.4.1.19398.1.1.8.12", "Сервер"},
        {"1.3.6.1.4.1.19398.1.1.8.13", "Користувач"},
        {"1.2.804.2.1.1.1.3.9", "Цифрова печатка"},
        {"1.3.6.1.5.5.7.3.1", "SSL-сервер"},
        {"1.3.6.1.5.5.7.3.2", "SSL-клієнт"},
        {"1.3.6.1.4.1.311.20.2.2", "Автентифікація за смарт-картою"},
    };
    char text[PKIF_EXT_KEY_USAGE_TEXT_BYTES];
    for (const auto& [oid, expect] : rows) {
        f.ExtKeyUsagesToText(oid, text);
        EXPECT_EQ(std::string(text), Cp1251(expect)) << oid;
    }
    // The sixteen device rows each have a text of their own.
    std::set<std::string> devices;
    for (int n = 21; n <= 36; ++n) {
        const std::string oid = "1.3.6.1.4.1.19398.1.1.8." + std::to_string(n);
        f.ExtKeyUsagesToText(oid.c_str(), text);
        EXPECT_NE(std::string(text), oid);
        devices.insert(text);
    }
    EXPECT_EQ(devices.size(), 16u);

    // Compared whole: a longer OID is not the row; the authority list comes
    // before the end-user list, and the OID itself is the last resort.
    Set(kUser, "1.3.6.1.5.5.7.3.81", "user text");
    Set(kUser, "1.2.3", "user 1.2.3");
    Set(kCA, "1.2.3", "ca 1.2.3");
    f.ExtKeyUsagesToText("1.3.6.1.5.5.7.3.81", text);
    EXPECT_STREQ(text, "user text");
    f.ExtKeyUsagesToText("1.2.3", text);
    EXPECT_STREQ(text, "ca 1.2.3");
    f.ExtKeyUsagesToText("1.3.6.1.5.5.7.3.80", text);
    EXPECT_STREQ(text, "1.3.6.1.5.5.7.3.80");
    // An OID that does not fit the output leaves it empty.
    const std::string fits(PKIF_EXT_KEY_USAGE_TEXT_BYTES - 1, '1'), longer(PKIF_EXT_KEY_USAGE_TEXT_BYTES, '1');
    f.ExtKeyUsagesToText(fits.c_str(), text);
    EXPECT_EQ(std::string(text), fits);
    f.ExtKeyUsagesToText(longer.c_str(), text);
    EXPECT_STREQ(text, "");
}
