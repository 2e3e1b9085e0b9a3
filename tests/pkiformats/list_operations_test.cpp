// Certificate, request and list operations: searches by issuer and serial
// number and by subject, family and key usage; copies and comparisons of
// encodings; optional items; and a failure sweep over the operations of
// this group that reach the library.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "FailureSweep.h"
#include "FakeFormats.h"
#include "pkiformats/SPKIFormats.h"

namespace {

// Three certificates: DSTU 4145 "Ann" (signing), RSA "Bob" (encipherment,
// read as 0x10), DSTU 4145 "Bob" (0x40 among others).
fake::CertificateList* ThreeCertificates(fake::Library& lib)
{
    auto* list = new fake::CertificateList(lib);
    struct Row {
        const wchar_t* name;
        const wchar_t* issuer;
        std::uint32_t kind, usage;
        std::string serial;
    };
    const Row rows[] = {
        {L"Ann", L"CN=CA One", 1, 0x80, std::string("\x02\x01\x05", 3)},
        {L"Bob", L"CN=CA Two", 2, 0x04, std::string("\x02\x02\x00\x85", 4)},
        {L"Bob", L"CN=CA Two", 1, 0x61, std::string("\x02\x81\x15\x00", 4) + std::string(20, '\x7A')},
    };
    for (const Row& r : rows) {
        auto* cert = new fake::ScriptedCertificate(lib);
        cert->commonName = r.name;
        cert->issuer = r.issuer;
        cert->kind = r.kind;
        cert->keyUsage = r.usage;
        cert->serial = r.serial;
        list->Add(cert);
    }
    return list;
}

std::vector<std::uint8_t> Serial(std::initializer_list<int> tail)
{
    std::vector<std::uint8_t> s(20, 0);
    std::size_t i = 20 - tail.size();
    for (int b : tail) s[i++] = static_cast<std::uint8_t>(b);
    return s;
}

}  // namespace

TEST(FacadeListSearch, ByIssuerAndSerial)
{
    fake::Library lib;
    SPKIFormats f(nullptr, nullptr, &lib);
    auto* list = ThreeCertificates(lib);
    std::uint32_t index = 99;
    ASSERT_EQ(f.FindCertificateByIssuerSerial(list, nullptr, nullptr, &index), 1);
    EXPECT_EQ(index, 0u);
    ASSERT_EQ(f.FindCertificateByIssuerSerial(list, "CN=CA Two", nullptr, &index), 1);
    EXPECT_EQ(index, 1u);
    // The serial is the INTEGER's value right-aligned in 20 bytes (its
    // leading zero dropped).
    auto s = Serial({0x85});
    ASSERT_EQ(f.FindCertificateByIssuerSerial(list, "CN=CA Two", s.data(), &index), 1);
    EXPECT_EQ(index, 1u);
    std::vector<std::uint8_t> full(20, 0x7A);
    ASSERT_EQ(f.FindCertificateByIssuerSerial(list, nullptr, full.data(), &index), 1);
    EXPECT_EQ(index, 2u);
    EXPECT_EQ(f.FindCertificateByIssuerSerial(list, "CN=CA One", full.data(), &index), 0);
    EXPECT_EQ(f.FindCertificateByIssuerSerial(list, "CN=CA", nullptr, nullptr), 0);
    // An entry whose reads fail is passed over.
    lib.Answer(PKI_CLASS_CERTIFICATE, 9, {PKI_E_FAILURE, -1});
    ASSERT_EQ(f.FindCertificateByIssuerSerial(list, nullptr, nullptr, &index), 1);
    EXPECT_EQ(index, 1u);
    list->Release();

    auto* empty = new fake::CertificateList(lib);
    EXPECT_EQ(f.FindCertificateByIssuerSerial(empty, nullptr, nullptr, &index), 0);
    empty->Release();
    EXPECT_EQ(lib.LiveObjects(), 0);
    EXPECT_EQ(lib.LiveBlobs(), 0u);
}

TEST(FacadeListSearch, BySubjectFamilyAndUsage)
{
    fake::Library lib;
    SPKIFormats f(nullptr, nullptr, &lib);
    auto* list = ThreeCertificates(lib);
    struct Case {
        const char* subject;
        std::uint32_t family, usage;
        int result;
        std::uint32_t index;
    };
    const Case cases[] = {
        {nullptr, 0, 0, 1, 0},          {"CN=Bob;C=UA", 0, 0, 1, 1}, {"CN=Bob;C=UA", 1, 0, 1, 2},
        {nullptr, 2, 0, 1, 1},          {nullptr, 0, 0x40, 1, 2},    {nullptr, 0, 0x10, 1, 1},
        {"CN=Ann;C=UA", 0, 0x40, 0, 9}, {nullptr, 4, 0, 0, 9},       {"CN=Bob", 0, 0, 0, 9},
    };
    for (const Case& c : cases) {
        std::uint32_t index = 9;
        EXPECT_EQ(f.FindCertificateBySubject(list, c.subject, c.family, c.usage, &index), c.result)
            << (c.subject ? c.subject : "-") << " " << c.family << " " << c.usage;
        EXPECT_EQ(index, c.index);
    }
    // An entry that is no certificate ends the search.
    auto* mixed = new fake::CertificateList(lib);
    mixed->Add(new fake::Encoded(lib, "other"));
    mixed->Add(new fake::ScriptedCertificate(lib));
    EXPECT_EQ(f.FindCertificateBySubject(mixed, nullptr, 0, 0, nullptr), 0);
    mixed->Release();
    list->Release();
    EXPECT_EQ(lib.LiveObjects(), 0);
    EXPECT_EQ(lib.LiveBlobs(), 0u);
}

TEST(FacadeItems, RequestKindAndOptionalItems)
{
    fake::Library lib;
    lib.requireWipe = true;
    SPKIFormats f(nullptr, nullptr, &lib);
    auto* request = new fake::ScriptedRequest(lib);
    request->kind = 4;
    std::uint32_t kind = 0, present = 9;
    PKIBlob item{0, nullptr};
    ASSERT_EQ(f.GetRequestKindAndItem(request, &kind, &present, &item), 1);
    EXPECT_EQ(kind, 4u);
    EXPECT_EQ(present, 1u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(item.data), item.length), "usage");
    f.ReleaseBlob(&item);
    request->hasUsage = false;
    ASSERT_EQ(f.GetRequestKindAndItem(request, &kind, &present, &item), 1);
    EXPECT_EQ(present, 0u);
    EXPECT_EQ(f.GetRequestKindAndItem(request, &kind, nullptr, nullptr), 1);  // absent either way
    request->Release();

    auto* object = new fake::Item50(lib);
    ASSERT_EQ(f.GetObjectItem50(object, &present, &item), 1);
    EXPECT_EQ(present, 1u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(item.data), item.length), "item 50");
    f.ReleaseBlob(&item);
    object->answer = PKI_E_ABSENT;
    ASSERT_EQ(f.GetObjectItem50(object, &present, &item), 1);
    EXPECT_EQ(present, 0u);
    EXPECT_EQ(f.GetObjectItem50(object, nullptr, &item), 0);  // absent needs a flag output
    object->answer = PKI_E_FAILURE;
    EXPECT_EQ(f.GetObjectItem50(object, &present, &item), 0);
    object->Release();
    EXPECT_EQ(lib.LiveObjects(), 0);
    EXPECT_EQ(lib.LiveBlobs(), 0u);
    EXPECT_EQ(lib.unwipedFrees, 0);
}

TEST(FacadeEncodings, CopyCompareAndAgreementParameters)
{
    fake::Library lib;
    lib.requireWipe = true;
    SPKIFormats f(nullptr, nullptr, &lib);
    auto* a = new fake::ScriptedCertificate(lib);
    auto* b = new fake::ScriptedCertificate(lib);
    std::uint32_t equal = 9;
    ASSERT_EQ(f.EncodedObjectsEqual(static_cast<IPKICertificate*>(a), static_cast<IPKICertificate*>(a), &equal), 1);
    EXPECT_EQ(equal, 1u);
    b->encoding = "certificatE";
    ASSERT_EQ(f.EncodedObjectsEqual(static_cast<IPKICertificate*>(a), static_cast<IPKICertificate*>(b), &equal), 1);
    EXPECT_EQ(equal, 0u);
    b->encoding = "certificate!";
    ASSERT_EQ(f.EncodedObjectsEqual(static_cast<IPKICertificate*>(a), static_cast<IPKICertificate*>(b), nullptr), 1);

    void* copy = nullptr;
    ASSERT_EQ(f.CopyAsCertificate(static_cast<IPKICertificate*>(a), &copy), 1);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(lib.log[lib.log.size() - 2], "4870:4(11)");  // the copy is loaded from the 11-byte encoding
    static_cast<IPKIObject*>(copy)->Release();

    std::uint32_t flag = 9;
    ASSERT_EQ(f.HasOwnAgreementParameters(static_cast<IPKICertificate*>(a), &flag), 1);
    EXPECT_EQ(flag, 0u);
    a->agreementAnswer = 0;
    ASSERT_EQ(f.HasOwnAgreementParameters(static_cast<IPKICertificate*>(a), &flag), 1);
    EXPECT_EQ(flag, 1u);
    a->agreementAnswer = PKI_E_FAILURE;
    EXPECT_EQ(f.HasOwnAgreementParameters(static_cast<IPKICertificate*>(a), &flag), 0);
    a->Release();
    b->Release();
    EXPECT_EQ(lib.LiveObjects(), 0);
    EXPECT_EQ(lib.LiveBlobs(), 0u);
    EXPECT_EQ(lib.unwipedFrees, 0);
}

TEST(FacadeNumbers, LongNumberKeepsAtLeastOneByte)
{
    SPKIFormats f(nullptr, nullptr, nullptr);
    std::vector<std::uint8_t> n(600, 0);
    std::vector<char> text(3 * 600 + 1, 'x');
    f.BigNumber600ToText(n.data(), 0, text.data());
    EXPECT_STREQ(text.data(), "00");
    n[597] = 0x0A;
    n[599] = 0xFF;
    f.BigNumber600ToText(n.data(), 1, text.data());
    EXPECT_STREQ(text.data(), "0A 00 FF ");
    n.assign(600, 0xAB);
    f.BigNumber600ToText(n.data(), 0, text.data());
    EXPECT_EQ(std::strlen(text.data()), 1200u);
}

// Every library call of each operation in turn fails (then throws): nothing
// stays behind, and a failed step gives 0 (the searches look for the first
// entry, so an entry they pass over leaves nothing that matches).
TEST(FacadeCertificateOperationsSweep, EveryFailingCallLeavesNothingBehind)
{
    using Run = std::function<int(SPKIFormats&, fake::Library&)>;
    struct Family {
        const char* name;
        Run run;
    };
    const Family families[] = {
        {"issuer and serial",
         [](SPKIFormats& f, fake::Library& lib) {
             auto* list = ThreeCertificates(lib);
             auto s = Serial({5});
             std::uint32_t index = 0;
             int rc = f.FindCertificateByIssuerSerial(list, "CN=CA One", s.data(), &index);
             list->Release();
             return rc;
         }},
        {"subject",
         [](SPKIFormats& f, fake::Library& lib) {
             auto* list = ThreeCertificates(lib);
             std::uint32_t index = 0;
             int rc = f.FindCertificateBySubject(list, "CN=Ann;C=UA", 1, 0x80, &index);
             list->Release();
             return rc;
         }},
        {"copy and compare",
         [](SPKIFormats& f, fake::Library& lib) {
             auto* a = new fake::ScriptedCertificate(lib);
             void* copy = nullptr;
             std::uint32_t equal = 0;
             int rc = f.CopyAsCertificate(static_cast<IPKICertificate*>(a), &copy) &&
                      f.EncodedObjectsEqual(static_cast<IPKICertificate*>(a), static_cast<IPKICertificate*>(a), &equal);
             if (copy) static_cast<IPKIObject*>(copy)->Release();
             a->Release();
             return rc;
         }},
        {"request item",
         [](SPKIFormats& f, fake::Library& lib) {
             auto* request = new fake::ScriptedRequest(lib);
             std::uint32_t kind = 0, present = 0;
             PKIBlob item{0, nullptr};
             int rc = f.GetRequestKindAndItem(request, &kind, &present, &item);
             f.ReleaseBlob(&item);
             request->Release();
             return rc;
         }},
        {"key cache and mark",
         [](SPKIFormats& f, fake::Library& lib) {
             auto* list = new fake::CertificateList(lib);
             auto* cert = new fake::ScriptedCertificate(lib);
             list->Add(cert);
             const std::uint8_t one[4] = {1, 0, 0, 0};
             PKIBlob word{4, const_cast<std::uint8_t*>(one)};
             int rc = f.WriteKeyCache(static_cast<IPKICertificate*>(cert), 8, &word) && f.HasMarkedCertificate(list);
             list->Release();
             return rc;
         }},
        {"key identifier search",
         [](SPKIFormats& f, fake::Library& lib) {
             auto* list = ThreeCertificates(lib);
             std::string id(32, '\x11');
             std::uint32_t index = 0;
             int rc = f.FindCertificateInList(list, L"CN=Ann;C=UA", reinterpret_cast<const std::uint8_t*>(id.data()),
                                              &index);
             list->Release();
             return rc;
         }},
        {"time-stamp information",
         [](SPKIFormats& f, fake::Library& lib) {
             fake::UseTypedObjects(lib);
             auto* token = new fake::TimeStampToken(lib);
             void* info = nullptr;
             int rc = f.DecodeTimeStampInfo(token, &info);
             if (info) static_cast<IPKIObject*>(info)->Release();
             token->Release();
             return rc;
         }},
        {"serial record",
         [](SPKIFormats& f, fake::Library& lib) {
             auto* cert = new fake::ScriptedCertificate(lib);
             std::uint8_t record[20];
             int rc = f.GetPublicKeyParameters(static_cast<IPKICertificate*>(cert), nullptr, 1, 2, 3, record);
             cert->Release();
             return rc;
         }},
    };
    for (const Family& family : families) fake::SweepFailures(family.name, family.run, true);
}

TEST(FacadeItems, EncodedRequestIsDecodedAndReleased)
{
    fake::Library lib;
    SPKIFormats f(nullptr, nullptr, &lib);
    lib.makers[{PKI_CLASS_REQUEST, PKI_IID_REQUEST}] = [&lib]() -> void* {
        auto* request = new fake::ScriptedRequest(lib);
        request->kind = 2;
        request->hasUsage = false;
        return static_cast<IPKIRequest*>(request);
    };
    std::string bytes = "request";
    PKIBlob blob{static_cast<std::uint32_t>(bytes.size()), reinterpret_cast<std::uint8_t*>(bytes.data())};
    std::uint32_t kind = 0, present = 9;
    ASSERT_EQ(f.GetEncodedRequestKindAndItem(&blob, &kind, &present, nullptr), 1);
    EXPECT_EQ(kind, 2u);
    EXPECT_EQ(present, 0u);
    EXPECT_EQ(lib.log[1], "4873:4(7)");
    PKIBlob empty{0, nullptr};
    EXPECT_EQ(f.GetEncodedRequestKindAndItem(&empty, &kind, &present, nullptr), 0);
    EXPECT_EQ(lib.LiveObjects(), 0);
}
