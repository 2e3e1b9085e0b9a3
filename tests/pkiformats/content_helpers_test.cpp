// Certificate, request and content helpers: multi-strings, extension flags,
// the per-certificate key cache, searches of certificate lists, extension
// entries, time-stamp information and the choice of a certificate's view
// by key usage.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "FailureSweep.h"
#include "FakeFormats.h"
#include "pkiformats/SPKIFormats.h"

TEST(FacadeMultiString, WholeStringsOnly)
{
    SPKIFormats f(nullptr, nullptr, nullptr);
    const char multi[] = "1.3.6.1.5.5.7.3.8\0"
                         "1.3.6.1.5.5.7.3.9\0"
                         "abc\0";
    struct Case {
        const char* multi;
        const char* text;
        int expected;
    };
    const Case cases[] = {
        {multi, "1.3.6.1.5.5.7.3.8", 1},
        {multi, "abc", 1},
        {multi, "ab", 0},
        {multi, "1.3.6.1.5.5.7.3", 0},
        {multi, "abcd", 0},
        {multi, "", 0},
        {"\0\0", "abc", 0},
        {nullptr, "abc", 0},
        {multi, nullptr, 0},
        {"x\0\0y\0", "y", 0},  // the empty string ends the list
    };
    for (const Case& c : cases) EXPECT_EQ(f.FindInMultiString(c.multi, c.text), c.expected) << (c.text ? c.text : "-");
}

// SetExtensionFlag answers 1 only when the value was set.
TEST(FacadeExtensionFlag, SetOnlyWhenPresentAndAccepted)
{
    fake::Library lib;
    SPKIFormats f(nullptr, nullptr, &lib);
    auto* cert = new fake::ScriptedCertificate(lib);
    IPKIObject* c = static_cast<IPKICertificate*>(cert);
    ASSERT_EQ(f.SetExtensionFlag(c, 7), 1);
    EXPECT_EQ(cert->flag, 7u);
    std::uint32_t value = 0;
    ASSERT_EQ(f.GetExtensionFlag(c, &value), 1);
    EXPECT_EQ(value, 7u);

    // The set refused: the flag stays and the answer is 0.
    lib.Answer(PKI_CLASS_CERTIFICATE, 118, {PKI_E_FAILURE});
    EXPECT_EQ(f.SetExtensionFlag(c, 9), 0);
    EXPECT_EQ(cert->flag, 7u);
    lib.Answer(PKI_CLASS_CERTIFICATE, 118, {});
    // No such extension: nothing is set.
    cert->hasFlagExtension = false;
    EXPECT_EQ(f.SetExtensionFlag(c, 9), 0);
    EXPECT_EQ(cert->flag, 7u);
    EXPECT_EQ(f.GetExtensionFlag(c, &value), 0);

    ASSERT_EQ(f.SetExtensionPair(c, 1, 2), 1);
    EXPECT_EQ(cert->pairFirst, 1u);
    EXPECT_EQ(cert->pairSecond, 2u);
    cert->Release();
    EXPECT_EQ(lib.LiveObjects(), 0);
}

TEST(FacadeKeyCache, WriteReadRemoveAndTheMarkedCertificate)
{
    fake::Library lib;
    lib.requireWipe = true;
    SPKIFormats f(nullptr, nullptr, &lib);
    auto* list = new fake::CertificateList(lib);
    auto* plain = new fake::ScriptedCertificate(lib);
    auto* marked = new fake::ScriptedCertificate(lib);
    list->Add(plain);
    list->Add(marked);
    IPKIObject* m = static_cast<IPKICertificate*>(marked);
    EXPECT_EQ(f.HasMarkedCertificate(list), 0);

    const std::uint8_t zero[4] = {0, 0, 0, 0}, one[4] = {0, 0, 1, 0};
    PKIBlob word{4, const_cast<std::uint8_t*>(zero)};
    ASSERT_EQ(f.WriteKeyCache(m, 8, &word), 1);
    EXPECT_EQ(f.HasMarkedCertificate(list), 0);  // a zero word is no mark
    word.data = const_cast<std::uint8_t*>(one);
    ASSERT_EQ(f.WriteKeyCache(m, 8, &word), 1);
    EXPECT_EQ(f.HasMarkedCertificate(list), 1);
    PKIBlob out{0, nullptr};
    ASSERT_EQ(f.ReadKeyCache(m, 8, &out), 1);
    ASSERT_EQ(out.length, 4u);
    EXPECT_EQ(std::memcmp(out.data, one, 4), 0);
    f.ReleaseBlob(&out);
    // Three bytes are no word.
    word.length = 3;
    ASSERT_EQ(f.WriteKeyCache(m, 8, &word), 1);
    EXPECT_EQ(f.HasMarkedCertificate(list), 0);

    ASSERT_EQ(f.RemoveKeyCache(m, 8), 1);
    EXPECT_EQ(f.ReadKeyCache(m, 8, &out), 0);
    EXPECT_EQ(f.RemoveKeyCache(m, 8), 0);
    list->Release();
    EXPECT_EQ(lib.LiveObjects(), 0);
    EXPECT_EQ(lib.LiveBlobs(), 0u);
    EXPECT_EQ(lib.unwipedFrees, 0);
}

TEST(FacadeCertificateList, FindByComposedNameAndKeyIdentifier)
{
    fake::Library lib;
    SPKIFormats f(nullptr, nullptr, &lib);
    auto* list = new fake::CertificateList(lib);
    for (int i = 0; i < 3; ++i) {
        auto* cert = new fake::ScriptedCertificate(lib);
        cert->commonName = i == 0 ? L"Ann" : L"Bob";
        cert->keyId = std::string(32, static_cast<char>('a' + i));
        list->Add(cert);
    }
    std::uint32_t index = 99;
    // The name is the subject record composed by the library.
    ASSERT_EQ(f.FindCertificateInList(list, L"CN=Bob;C=UA", nullptr, &index), 1);
    EXPECT_EQ(index, 1u);
    std::string c(32, 'c');
    ASSERT_EQ(f.FindCertificateInList(list, L"CN=Bob;C=UA", reinterpret_cast<const std::uint8_t*>(c.data()), &index),
              1);
    EXPECT_EQ(index, 2u);
    ASSERT_EQ(f.FindCertificateInListByKeyIdentifier(list, reinterpret_cast<const std::uint8_t*>(c.data()), &index), 1);
    EXPECT_EQ(index, 2u);
    std::string a(32, 'a');
    EXPECT_EQ(f.FindCertificateInList(list, L"CN=Bob;C=UA", reinterpret_cast<const std::uint8_t*>(a.data()), &index),
              0);
    EXPECT_EQ(f.FindCertificateInList(list, L"CN=Bob", nullptr, &index), 0);
    EXPECT_EQ(f.FindCertificateInList(list, nullptr, nullptr, &index), 0);
    EXPECT_EQ(f.FindCertificateInListByKeyIdentifier(list, nullptr, &index), 0);
    list->Release();
    EXPECT_EQ(lib.LiveObjects(), 0);
    EXPECT_EQ(lib.LiveBlobs(), 0u);
}

TEST(FacadeExtensions, EntriesAndTheKeyUsagePeriod)
{
    fake::Library lib;
    lib.requireWipe = true;
    fake::UseTypedObjects(lib);
    SPKIFormats f(nullptr, nullptr, &lib);
    auto* value = new fake::Encoded(lib, "value");
    PKIBlob out{0, nullptr};
    ASSERT_EQ(f.EncodeExtensionEntry(value, 5, &out), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out.data), out.length), "extensions:1");
    f.ReleaseBlob(&out);
    ASSERT_EQ(f.EncodeExtensionEntryAlias(value, 6, &out), 1);
    f.ReleaseBlob(&out);
    ASSERT_EQ(f.ForwardToOperation635(value, 7, &out), 1);
    f.ReleaseBlob(&out);
    std::vector<std::string> steps;
    for (const std::string& e : lib.log)
        if (e.rfind("4905:", 0) == 0 || e.rfind("0:10", 0) == 0) steps.push_back(e);
    const std::vector<std::string> expected = {"0:10(4905,4146)", "4905:9(5)", "4905:3()", "4905:1()",
                                               "0:10(4905,4146)", "4905:9(6)", "4905:3()", "4905:1()",
                                               "0:10(4905,4146)", "4905:9(7)", "4905:3()", "4905:1()"};
    EXPECT_EQ(steps, expected);

    EXPECT_EQ(f.CreateKeyUsagePeriodExtension(2, 1, 0, &out), 0);
    ASSERT_EQ(f.CreateKeyUsagePeriodExtension(3, 40, 1, &out), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out.data), out.length), "period:3,40,1");
    f.ReleaseBlob(&out);
    // An extension that cannot be added is not encoded.
    lib.Answer(4905, 9, {PKI_E_FAILURE});
    lib.log.clear();
    EXPECT_EQ(f.EncodeExtensionEntry(value, 5, &out), 0);
    for (const std::string& e : lib.log) EXPECT_NE(e, "4905:3()");

    std::string bytes = "list";
    PKIBlob encoded{4, reinterpret_cast<std::uint8_t*>(bytes.data())};
    void* list = nullptr;
    ASSERT_EQ(f.DecodeExtensionList(&encoded, &list), 1);
    static_cast<IPKIExtensionList*>(list)->Release();
    ASSERT_EQ(f.DecodeExtensionList(&encoded, nullptr), 1);  // a check only
    lib.Answer(4905, 4, {PKI_E_BAD_ENCODING});
    list = reinterpret_cast<void*>(1);
    EXPECT_EQ(f.DecodeExtensionList(&encoded, &list), 0);
    EXPECT_EQ(list, nullptr);
    value->Release();
    EXPECT_EQ(lib.LiveObjects(), 0);
    EXPECT_EQ(lib.LiveBlobs(), 0u);
    EXPECT_EQ(lib.unwipedFrees, 0);
}

TEST(FacadeTimeStampInfo, OnlyTimeStampTokenContentIsDecoded)
{
    fake::Library lib;
    lib.requireWipe = true;
    SPKIFormats f(nullptr, nullptr, &lib);
    fake::UseTypedObjects(lib);
    auto* token = new fake::TimeStampToken(lib);
    void* info = nullptr;
    ASSERT_EQ(f.DecodeTimeStampInfo(token, &info), 1);
    ASSERT_NE(info, nullptr);
    static_cast<IPKIObject*>(info)->Release();
    int part = 0;
    ASSERT_EQ(f.GetTimeStampInfoPartA(token, &part), 1);
    EXPECT_EQ(part, 12);
    ASSERT_EQ(f.GetTimeStampInfoPartB(token, &part), 1);
    EXPECT_EQ(part, 14);
    ASSERT_EQ(f.GetTimeStampInfoPartB(token, nullptr), 1);  // decoded only
    lib.Answer(4904, 14, {PKI_E_FAILURE});
    EXPECT_EQ(f.GetTimeStampInfoPartB(token, &part), 0);

    for (std::string type : {std::string("1.2.840.113549.1.9.16.1.4"),  // no terminator
                             std::string("1.2.840.113549.1.9.16.1.5", 26), std::string("1.2.840.113549.1.7.1", 21)}) {
        token->contentType = type;
        info = reinterpret_cast<void*>(1);
        EXPECT_EQ(f.DecodeTimeStampInfo(token, &info), 0);
        EXPECT_EQ(info, nullptr);
    }
    token->Release();
    EXPECT_EQ(lib.LiveObjects(), 0);
    EXPECT_EQ(lib.LiveBlobs(), 0u);
    EXPECT_EQ(lib.unwipedFrees, 0);
}

TEST(FacadeStatements, FlagsAndTheStatementText)
{
    fake::Library lib;
    lib.requireWipe = true;
    SPKIFormats f(nullptr, nullptr, &lib);
    auto* cert = new fake::ScriptedCertificate(lib);
    IPKIObject* c = static_cast<IPKICertificate*>(cert);
    std::uint32_t value = 9;
    char text[PKIF_STATEMENT_TEXT_BYTES];
    std::strcpy(text, "stale");
    // No statements: flags 0, result 1.
    ASSERT_EQ(f.SetStatementFromObject(c, &value), 1);
    EXPECT_EQ(value, 0u);
    value = 9;
    ASSERT_EQ(f.GetStatementFlag(c, &value, text), 1);
    EXPECT_EQ(value, 0u);
    EXPECT_STREQ(text, "");

    cert->hasStatements = true;
    cert->flagA = 1;
    cert->flagB = 2;
    cert->textFlag = 1;
    cert->statementText = "UAH 1000";
    ASSERT_EQ(f.SetStatementFromObject(c, &value), 1);
    EXPECT_EQ(value, 1u);
    ASSERT_EQ(f.GetStatementValue(c, &value), 1);
    EXPECT_EQ(value, 2u);
    ASSERT_EQ(f.GetStatementFlag(c, &value, text), 1);
    EXPECT_EQ(value, 1u);
    EXPECT_STREQ(text, "UAH 1000");

    // The longest text that fits, then one byte more: refused, left empty.
    cert->statementText = std::string(PKIF_STATEMENT_TEXT_BYTES - 1, 'a');
    ASSERT_EQ(f.GetStatementFlag(c, &value, text), 1);
    EXPECT_EQ(std::strlen(text), PKIF_STATEMENT_TEXT_BYTES - 1);
    cert->statementText += 'a';
    EXPECT_EQ(f.GetStatementFlag(c, &value, text), 0);
    EXPECT_STREQ(text, "");
    // A failing read is no flag.
    lib.Answer(4907, 11, {PKI_E_FAILURE});
    EXPECT_EQ(f.SetStatementFromObject(c, &value), 0);
    cert->Release();
    EXPECT_EQ(lib.LiveObjects(), 0);
    EXPECT_EQ(lib.LiveBlobs(), 0u);
    EXPECT_EQ(lib.unwipedFrees, 0);
}

TEST(FacadeCertificateViews, NamePairsAndVersionValue)
{
    fake::Library lib;
    SPKIFormats f(nullptr, nullptr, &lib);
    auto* cert = new fake::ScriptedCertificate(lib);
    IPKIObject* c = static_cast<IPKICertificate*>(cert);
    PKIBlob out{0, nullptr};
    ASSERT_EQ(f.SetCertificateNamePair(c, 5, 6, &out), 1);
    EXPECT_EQ(cert->namePair[0], 5u);
    EXPECT_EQ(cert->namePair[1], 6u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out.data), out.length), "certificate");
    f.ReleaseBlob(&out);
    const std::uint32_t pair[2] = {7, 8};
    ASSERT_EQ(f.SetCertificateNamePairSwapped(c, pair, &out), 1);
    EXPECT_EQ(cert->namePair[0], 7u);
    EXPECT_EQ(cert->namePair[1], 8u);
    EXPECT_EQ(lib.log[lib.log.size() - 4], "4870:110()");
    f.ReleaseBlob(&out);
    EXPECT_EQ(f.SetCertificateValuePair(c, 1, 2), 0);  // no view 4262 on this certificate
    cert->Release();

    // The version value needs a library above version 256.
    auto* signer = new fake::Signer(lib);
    lib.version = 256;
    EXPECT_EQ(f.SetObjectVersionValue(signer, 3), 0);
    EXPECT_EQ(signer->value, 0u);
    lib.version = 257;
    EXPECT_EQ(f.SetObjectVersionValue(signer, 3), 1);
    EXPECT_EQ(signer->value, 3u);
    signer->Release();
    EXPECT_EQ(lib.LiveObjects(), 0);
    EXPECT_EQ(lib.LiveBlobs(), 0u);
}

TEST(FacadeEntryAttributes, LastEntryIsSetAndReplacedThenFound)
{
    fake::Library lib;
    lib.requireWipe = true;
    SPKIFormats f(nullptr, nullptr, &lib);
    auto* container = new fake::AttributeContainer(lib);
    auto* first = new fake::Encoded(lib, "first");
    auto* last = new fake::Encoded(lib, "last");
    container->entries = {first, last};
    std::string bytes = "attribute";
    PKIBlob value{static_cast<std::uint32_t>(bytes.size()), reinterpret_cast<std::uint8_t*>(bytes.data())};
    ASSERT_EQ(f.SetLastEntryAttribute(container, "pw", &value, "1.2.3"), 1);
    // The last entry went out and came back in, carrying the attribute.
    ASSERT_EQ(container->entries.size(), 2u);
    EXPECT_EQ(container->entries[1], last);
    std::vector<std::string> steps;
    for (const std::string& e : lib.log)
        if (e.rfind("4931:", 0) == 0 && e != "4931:2(4266)") steps.push_back(e);
    const std::vector<std::string> expected = {"4931:5()",  "4931:6(1)", "4931:22(pw,1.2.3)",
                                               "4931:8(1)", "4931:7()",  "4931:1()"};
    EXPECT_EQ(steps, expected);

    PKIBlob out{0, nullptr};
    ASSERT_EQ(f.FindEntryAttribute(container, "pw", "1.2.3", &out), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out.data), out.length), "attribute");
    f.ReleaseBlob(&out);
    EXPECT_EQ(f.FindEntryAttribute(container, "pw", "1.2.4", &out), 0);
    // A refused attribute leaves the entries as they were.
    lib.Answer(PKI_CLASS_KEY_CONTAINER, 22, {PKI_E_FAILURE});
    lib.log.clear();
    EXPECT_EQ(f.SetLastEntryAttribute(container, "pw", &value, "1.2.5"), 0);
    for (const std::string& e : lib.log) EXPECT_NE(e, "4931:8(1)");
    container->entries.clear();
    EXPECT_EQ(f.SetLastEntryAttribute(container, "pw", &value, "1.2.5"), 0);
    first->Release();
    last->Release();
    container->Release();
    EXPECT_EQ(lib.LiveObjects(), 0);
    EXPECT_EQ(lib.LiveBlobs(), 0u);
    EXPECT_EQ(lib.unwipedFrees, 0);
}

TEST(FacadeStatements, ValueAddedToTheStatementList)
{
    fake::Library lib;
    SPKIFormats f(nullptr, nullptr, &lib);
    auto* request = new fake::ScriptedRequest(lib);
    ASSERT_EQ(f.SetStatementValue(static_cast<IPKIRequest*>(request), 3, 4), 1);
    ASSERT_EQ(request->statementAdds.size(), 1u);
    EXPECT_EQ(request->statementAdds[0], std::make_pair(3u, 4u));
    lib.Answer(4916, 4, {PKI_E_FAILURE});
    EXPECT_EQ(f.SetStatementValue(static_cast<IPKIRequest*>(request), 3, 4), 0);
    request->Release();
    EXPECT_EQ(lib.LiveObjects(), 0);
}

TEST(FacadeSigners, PolicyKeyThroughTheViewElseTheKeyItself)
{
    fake::Library lib;
    SPKIFormats f(nullptr, nullptr, &lib);
    auto* key = new fake::KeySource(lib);
    auto* withView = new fake::KeyedSigner(lib, true);
    ASSERT_EQ(f.SetSignerPolicyOrKey(withView, key, 7), 1);
    EXPECT_EQ(withView->key, static_cast<IPKIObject*>(key));
    EXPECT_EQ(withView->policyValue, 7u);
    // Without the view the key object's own key goes to the signer.
    auto* plain = new fake::KeyedSigner(lib, false);
    ASSERT_EQ(f.SetSignerPolicyOrKey(plain, key, 7), 1);
    ASSERT_NE(plain->key, nullptr);
    EXPECT_NE(plain->key, static_cast<IPKIObject*>(key));
    EXPECT_EQ(lib.LiveObjects(), 3);  // the inner key was released again
    lib.Answer(4893, 9, {PKI_E_FAILURE});
    EXPECT_EQ(f.SetSignerPolicyOrKey(plain, key, 7), 0);
    withView->Release();
    plain->Release();
    key->Release();
    EXPECT_EQ(lib.LiveObjects(), 0);
}

namespace {

// An RSA certificate's views: `rsa` (family 2) and `inner` beside it.
struct Views {
    fake::Library lib;
    SPKIFormats f{nullptr, nullptr, &lib};
    fake::ProfileCertificate* outer = Make(1, 0x40);
    fake::ProfileCertificate* rsa = Make(2, 0x10);
    fake::ProfileCertificate* inner = Make(2, 0x40);
    Views()
    {
        outer->rsa = rsa;
        rsa->inner = inner;
    }
    ~Views()
    {
        inner->Release();
        rsa->Release();
        outer->Release();
    }
    fake::ProfileCertificate* Make(std::uint32_t kind, std::uint32_t usage)
    {
        fake::Profile p;
        p.keyKind = kind;
        p.keyUsage = true;
        p.keyUsageBits = usage;
        return new fake::ProfileCertificate(lib, p);
    }
};

IPKIObject* Obj(fake::ProfileCertificate* c)
{
    return static_cast<IPKICertificate*>(c);
}

// The kind a selected certificate answers, 0 for none; the reference is released.
std::uint32_t KindOf(IPKIObject* selected)
{
    if (!selected) return 0;
    std::uint32_t kind = 0;
    static_cast<IPKICertificate*>(selected)->GetKeyKind(&kind);
    selected->Release();
    return kind;
}

}  // namespace

TEST(FacadeCertificateSelection, ViewBitsAndTheDSTU4145Flag)
{
    Views v;
    std::uint32_t flag = 9, bits = 9;
    ASSERT_EQ(v.f.GetCertificateViews(Obj(v.outer), &flag, &bits), 1);
    EXPECT_EQ(flag, 1u);
    EXPECT_EQ(bits, 2u);
    // An RSA certificate is its own family-2 view and has no RSA view to ask.
    v.lib.log.clear();
    ASSERT_EQ(v.f.GetCertificateViews(Obj(v.rsa), &flag, &bits), 1);
    EXPECT_EQ(flag, 0u);
    EXPECT_EQ(bits, 2u);
    for (const std::string& e : v.lib.log) EXPECT_EQ(e.find(":103("), std::string::npos) << e;
    v.outer->rsa = nullptr;
    ASSERT_EQ(v.f.GetCertificateViews(Obj(v.outer), nullptr, &bits), 1);
    EXPECT_EQ(bits, 0u);
    // A failed read of the view is a failure, not an absent view: outputs stay.
    v.outer->rsa = v.rsa;
    flag = bits = 7;
    v.lib.Answer(PKI_CLASS_CERTIFICATE, 103, {PKI_E_FAILURE});
    EXPECT_EQ(v.f.GetCertificateViews(Obj(v.outer), &flag, &bits), 0);
    EXPECT_EQ(flag, 7u);
    EXPECT_EQ(bits, 7u);
    EXPECT_EQ(v.f.GetCertificateViews(nullptr, &flag, &bits), 0);
}

TEST(FacadeCertificateSelection, ViewOfTheFamilyElseItsInnerCertificate)
{
    struct Case {
        std::uint32_t family, usage, expectedKind;
        const char* what;
    };
    const Case cases[] = {
        {1, 0x40, 1, "the certificate itself has the usage"},
        {1, 0x10, 0, "family 1 has no other view and no inner certificate"},
        {2, 0x10, 2, "the RSA view has the usage"},
        {2, 0x40, 2, "the RSA view lacks it, its inner certificate has it"},
        {2, 0x50, 0, "neither has both bits"},
        {4, 0x40, 0, "no EC view"},
        {3, 0x40, 0, "no such family"},
    };
    for (const Case& c : cases) {
        Views v;
        IPKIObject* got = v.f.SelectCertificateForUsage(Obj(v.outer), c.family, c.usage);
        if (c.family == 2 && c.usage == 0x40) {
            EXPECT_EQ(got, Obj(v.inner)) << c.what;
        }
        if (c.family == 2 && c.usage == 0x10) {
            EXPECT_EQ(got, Obj(v.rsa)) << c.what;
        }
        EXPECT_EQ(KindOf(got), c.expectedKind) << c.what;
        // What was handed out was a new reference: every object can still go.
        EXPECT_EQ(v.lib.LiveObjects(), 3) << c.what;
    }
}

TEST(FacadeCertificateSelection, ECViewThroughTheInnerECCertificate)
{
    fake::Library lib;
    SPKIFormats f(nullptr, nullptr, &lib);
    auto* outer = new fake::KeyCertificate(lib, 2);
    auto* ec = new fake::KeyCertificate(lib, 4);
    std::uint32_t bits = 0;
    ASSERT_EQ(f.GetCertificateViews(static_cast<IPKICertificate*>(outer), nullptr, &bits), 1);
    EXPECT_EQ(bits, 2u);
    outer->inner = ec;
    ASSERT_EQ(f.GetCertificateViews(static_cast<IPKICertificate*>(outer), nullptr, &bits), 1);
    EXPECT_EQ(bits, 6u);
    ec->Release();
    outer->Release();
    EXPECT_EQ(lib.LiveObjects(), 0);
}

TEST(FacadeCertificateSelection, FailingCallsLeaveNothingBehind)
{
    auto make = [](fake::Library& lib, std::uint32_t kind, std::uint32_t usage) {
        fake::Profile p;
        p.keyKind = kind;
        p.keyUsage = true;
        p.keyUsageBits = usage;
        return new fake::ProfileCertificate(lib, p);
    };
    fake::SweepFailures(
        "selection by usage",
        [&](SPKIFormats& f, fake::Library& lib) {
            auto* outer = make(lib, 1, 0);
            auto* rsa = make(lib, 2, 0x10);
            outer->rsa = rsa;
            std::uint32_t flag = 0, bits = 0;
            int rc = f.GetCertificateViews(Obj(outer), &flag, &bits);
            IPKIObject* got = rc ? f.SelectCertificateForUsage(Obj(outer), 2, 0x10) : nullptr;
            if (!got) rc = 0;
            if (got) got->Release();
            rsa->Release();
            outer->Release();
            return rc;
        },
        true);
}

namespace {

// A signature-policy value that keeps what it decoded, and a codec that
// encodes such a value as "P:" and those bytes.
class PolicyValue final : public fake::Object<IPKIEncoded> {
public:
    explicit PolicyValue(fake::Library& lib) : Object(lib, 4942) {}
    std::string decoded;
    int Encode(PKIBlob*) override { return PKI_E_NOT_IMPLEMENTED; }
    int Decode(const PKIBlob* in) override
    {
        int c = lib_.Enter(4942, 4, std::to_string(in->length));
        if (c >= 0) return c;
        if (in->length < 2) return PKI_E_BAD_ENCODING;
        decoded.assign(reinterpret_cast<const char*>(in->data), in->length);
        return 0;
    }
};

class PolicyCodec final : public fake::Object<IPKICodec> {
public:
    explicit PolicyCodec(fake::Library& lib) : Object(lib, PKI_CLASS_CODEC) {}
    int Attach(IPKIObject* object) override
    {
        int c = lib_.Enter(PKI_CLASS_CODEC, 5, "");
        if (c >= 0) return c;
        attached_ = dynamic_cast<PolicyValue*>(static_cast<IPKIEncoded*>(object));
        return attached_ ? 0 : PKI_E_INVALID_ARGUMENT;
    }
    int Encode(PKIBlob* out) override
    {
        int c = lib_.Enter(PKI_CLASS_CODEC, 3, "");
        if (c >= 0) return c;
        std::string bytes = "P:" + attached_->decoded;
        return fake::CopyToLibraryBlob(lib_, std::vector<std::uint8_t>(bytes.begin(), bytes.end()), out);
    }
    int Decode(const PKIBlob*) override { return PKI_E_NOT_IMPLEMENTED; }

private:
    PolicyValue* attached_ = nullptr;
};

int EncodePolicy(SPKIFormats& f, fake::Library& lib, const std::string& bytes, std::string* encoded)
{
    lib.makers[{4942, 4243}] = [&lib] { return static_cast<IPKIEncoded*>(new PolicyValue(lib)); };
    lib.makers[{PKI_CLASS_CODEC, PKI_IID_CODEC}] = [&lib] { return static_cast<IPKICodec*>(new PolicyCodec(lib)); };
    PKIBlob in{static_cast<std::uint32_t>(bytes.size()), (std::uint8_t*)bytes.data()};
    PKIBlob out{0, nullptr};
    int rc = f.EncodeSignaturePolicy(&in, &out);
    if (rc && encoded) encoded->assign(reinterpret_cast<const char*>(out.data), out.length);
    if (!rc && (out.data || out.length)) rc = 2;  // a failure hands out nothing
    f.ReleaseBlob(&out);
    return rc;
}

}  // namespace

TEST(FacadeSignaturePolicy, DecodedAndEncodedAgainByTheLibrary)
{
    fake::Library lib;
    SPKIFormats f(nullptr, nullptr, &lib);
    std::string encoded;
    ASSERT_EQ(EncodePolicy(f, lib, "policy", &encoded), 1);
    EXPECT_EQ(encoded, "P:policy");
    EXPECT_EQ(EncodePolicy(f, lib, "x", nullptr), 0);  // refused by the decoder
    EXPECT_EQ(EncodePolicy(f, lib, "", nullptr), 0);
    // An output that already holds a blob is not overwritten.
    std::uint8_t held = 0;
    PKIBlob in{6, (std::uint8_t*)"policy"}, out{1, &held};
    EXPECT_EQ(f.EncodeSignaturePolicy(&in, &out), 0);
    EXPECT_EQ(out.data, &held);
    EXPECT_EQ(f.EncodeSignaturePolicy(nullptr, &out), 0);
    EXPECT_EQ(lib.LiveObjects(), 0);
    EXPECT_EQ(lib.LiveBlobs(), 0u);
    fake::SweepFailures(
        "signature policy", [](SPKIFormats& f, fake::Library& lib) { return EncodePolicy(f, lib, "policy", nullptr); },
        true);
}

// A key's own capability groups, or for a container those of its keys; the
// marker by the groups the mask lets through: 2 (3 with a nonzero word in
// cache slot 5) for DSTU 4145, 1 for RSA or ECDSA, 0 for none.
TEST(FacadeKeyMarker, FlagsOfTheKeyOrItsContainerAndTheMarker)
{
    fake::Library lib;
    lib.requireWipe = true;
    SPKIFormats f(nullptr, nullptr, &lib);
    auto* key = new fake::KeyObject(lib);
    key->capabilities = 1;
    std::uint32_t flags = 9, marker = 9;
    ASSERT_EQ(f.GetKeyUsageFlags(key, &flags), 1);
    EXPECT_EQ(flags, 1u);
    struct Case {
        std::uint32_t capabilities, mask;
        std::vector<std::uint8_t> slot5;  // empty: absent
        std::uint32_t marker;
    };
    const Case cases[] = {
        {1, 0xFFFFFFFF, {}, 2},           {1, 0xFFFFFFFF, {1, 0, 0, 0}, 3},
        {1, 0xFFFFFFFF, {0, 0, 0, 0}, 2}, {1, 0xFFFFFFFF, {1, 0, 0}, 2},  // not one word
        {1, 0, {1, 0, 0, 0}, 0},          {2, 0xFFFFFFFF, {}, 1},
        {4, 0xFFFFFFFF, {}, 1},           {4, 2, {}, 0},
        {1 | 2, 2, {1, 0, 0, 0}, 1},
    };
    for (const Case& c : cases) {
        key->capabilities = c.capabilities;
        key->cache->values.erase(5);
        if (!c.slot5.empty()) key->cache->values[5] = c.slot5;
        marker = 9;
        EXPECT_EQ(f.GetCertificateMarker(key, c.mask, &marker), 1) << c.capabilities << "/" << c.mask;
        EXPECT_EQ(marker, c.marker) << c.capabilities << "/" << c.mask;
    }

    // A container has no capabilities of its own: its keys' are ORed.
    auto* container = new fake::KeyContainer(lib);
    auto* rsa = new fake::KeyObject(lib);
    auto* ec = new fake::KeyObject(lib);
    container->Add(rsa, 2);
    container->Add(ec, 4);
    ASSERT_EQ(f.GetKeyUsageFlags(container, &flags), 1);
    EXPECT_EQ(flags, 6u);
    ASSERT_EQ(f.GetCertificateMarker(container, 0xFFFFFFFF, &marker), 1);
    EXPECT_EQ(marker, 1u);

    // A failing read answers 0 with the outputs cleared.
    lib.Answer(4893, 49, {PKI_E_FAILURE});
    marker = 9;
    EXPECT_EQ(f.GetKeyUsageFlags(container, &flags), 0);
    EXPECT_EQ(flags, 0u);
    EXPECT_EQ(f.GetCertificateMarker(container, 0xFFFFFFFF, &marker), 0);
    EXPECT_EQ(marker, 0u);
    EXPECT_EQ(f.GetKeyUsageFlags(nullptr, &flags), 0);
    EXPECT_EQ(f.GetCertificateMarker(key, 1, nullptr), 0);
    container->Release();
    key->Release();
    EXPECT_EQ(lib.LiveObjects(), 0);
    EXPECT_EQ(lib.LiveBlobs(), 0u);
    EXPECT_EQ(lib.unwipedFrees, 0);
}
