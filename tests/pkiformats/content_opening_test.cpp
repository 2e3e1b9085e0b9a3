// Opening a content info into a content container: enveloped data with its
// one recipient's originator and cipher flag, signed data with its one
// signer, plain data; anything else, or a message for more than one
// recipient or signer, is refused with nothing handed out.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "FailureSweep.h"
#include "FakeFormats.h"
#include "VirtualSlot.h"
#include "pkiformats/SPKIFormats.h"

namespace {

const char kData[] = "1.2.840.113549.1.7.1";
const char kSigned[] = "1.2.840.113549.1.7.2";
const char kEnveloped[] = "1.2.840.113549.1.7.3";

struct Outputs {
    std::uint32_t kind = 99, extra = 99, keyLength = 99, flag = 99, contentKind = 99;
    char text[PKIF_NAME_TEXT_BYTES];
    std::uint8_t identifier[20];
    std::uint8_t key[76];
    void* container = reinterpret_cast<void*>(1);
    Outputs()
    {
        std::memset(text, 'x', sizeof text);
        std::memset(identifier, 0xEE, sizeof identifier);
        std::memset(key, 0xEE, sizeof key);
    }
    int Open(SPKIFormats& f, bool forwarded = false)
    {
        std::uint8_t bytes[] = {0x30, 0x03, 1, 2, 3};
        PKIBlob blob{sizeof bytes, bytes};
        return forwarded ? f.ForwardToOperation524(&blob, &kind, &extra, text, identifier, key, &keyLength, &flag,
                                                   &contentKind, &container)
                         : f.OpenContentInfo(&blob, &kind, &extra, text, identifier, key, &keyLength, &flag,
                                             &contentKind, &container);
    }
    void ReleaseContainer()
    {
        if (container) static_cast<IPKIContentContainer*>(container)->Release();
        container = nullptr;
    }
};

// Enveloped data for one recipient from an originator of the given form,
// made with the given cipher kind.
void UseEnveloped(fake::Library& lib, std::uint32_t form, std::uint32_t cipherKind, fake::ContentBox** box,
                  std::size_t groups = 1, std::size_t entries = 1)
{
    fake::UseContentOpening(
        lib, kEnveloped, PKI_CLASS_ENVELOPED_DATA,
        [&lib, form, cipherKind, groups, entries]() -> void* {
            auto* e = new fake::EnvelopedData(lib);
            e->cipherKind = cipherKind;
            fake::RecipientId originator;
            originator.kind = form;
            originator.issuer = L"CN=Sender";
            originator.serial = std::string(19, '\x01') + '\x7F';
            for (std::size_t g = 0; g < groups; ++g)
                e->groups.push_back(new fake::AgreementGroup(lib, originator, std::vector<fake::RecipientId>(entries)));
            return static_cast<IPKIEnvelopedData*>(e);
        },
        box);
}

}  // namespace

TEST(FacadeContentOpening, ModelSlots)
{
#define QVK_SLOT(cls, slot, op) EXPECT_EQ(qvktest::SlotOf(&cls::op), slot) << #cls "::" #op;
    QVK_PKI_CONTENT_OPENING_SLOTS(QVK_SLOT)
#undef QVK_SLOT
}

// The originator of the one recipient by issuer and serial; the flag is 3
// for the cipher kinds 8 and 9 and 1 for every other.
TEST(FacadeContentOpening, EnvelopedByIssuerAndSerial)
{
    const std::uint32_t ciphers[][2] = {{1, 1}, {7, 1}, {8, 3}, {9, 3}, {10, 1}};
    for (const auto& [cipher, flag] : ciphers) {
        fake::Library lib;
        SPKIFormats f(nullptr, nullptr, &lib);
        fake::ContentBox* box = nullptr;
        UseEnveloped(lib, 1, cipher, &box);
        Outputs o;
        ASSERT_EQ(o.Open(f), 1) << cipher;
        EXPECT_EQ(o.flag, flag) << cipher;
        EXPECT_EQ(o.kind, 1u);
        EXPECT_EQ(o.contentKind, 2u);
        EXPECT_EQ(o.extra, 0x2Au);
        EXPECT_STREQ(o.text, "CN=Sender");
        EXPECT_EQ(std::string(reinterpret_cast<char*>(o.identifier), 20), std::string(19, '\x01') + '\x7F');
        EXPECT_EQ(o.keyLength, 0u);
        EXPECT_EQ(std::vector<std::uint8_t>(o.key, o.key + 76), std::vector<std::uint8_t>(76, 0));
        ASSERT_EQ(o.container, static_cast<void*>(static_cast<IPKIContentContainer*>(box)));
        EXPECT_EQ(box->storedSlot, 7u);
        o.ReleaseContainer();
        EXPECT_EQ(lib.LiveObjects(), 0);
        EXPECT_EQ(lib.LiveBlobs(), 0u);
    }
}

// Before library version 267 an originator has no extra value to read.
TEST(FacadeContentOpening, OriginatorExtraOnlyFromVersion267)
{
    for (std::uint32_t version : {266u, 267u}) {
        fake::Library lib;
        lib.version = version;
        SPKIFormats f(nullptr, nullptr, &lib);
        UseEnveloped(lib, 1, 1, nullptr);
        Outputs o;
        ASSERT_EQ(o.Open(f), 1);
        EXPECT_EQ(o.extra, version >= 267 ? 0x2Au : 0u);
        bool read = false;
        for (const std::string& e : lib.log) read = read || e == "4884:16()";
        EXPECT_EQ(read, version >= 267);
        o.ReleaseContainer();
    }
}

// An originator named by its key: the 76 bytes and their length; one named
// by a 32-byte key identifier does not fit the 20-byte output, which stays
// empty (the kind says which it is).
TEST(FacadeContentOpening, EnvelopedByKeyOrKeyIdentifier)
{
    {
        fake::Library lib;
        SPKIFormats f(nullptr, nullptr, &lib);
        UseEnveloped(lib, 3, 1, nullptr);
        Outputs o;
        ASSERT_EQ(o.Open(f), 1);
        EXPECT_EQ(o.kind, 3u);
        EXPECT_EQ(o.keyLength, 33u);
        EXPECT_EQ(std::vector<std::uint8_t>(o.key, o.key + 76), std::vector<std::uint8_t>(76, 0x3C));
        EXPECT_STREQ(o.text, "");
        EXPECT_EQ(std::vector<std::uint8_t>(o.identifier, o.identifier + 20), std::vector<std::uint8_t>(20, 0));
        o.ReleaseContainer();
    }
    {
        fake::Library lib;
        SPKIFormats f(nullptr, nullptr, &lib);
        UseEnveloped(lib, 2, 1, nullptr);
        Outputs o;
        ASSERT_EQ(o.Open(f), 1);
        EXPECT_EQ(o.kind, 2u);
        EXPECT_EQ(o.extra, 0u);
        EXPECT_STREQ(o.text, "");
        EXPECT_EQ(std::vector<std::uint8_t>(o.identifier, o.identifier + 20), std::vector<std::uint8_t>(20, 0));
        EXPECT_EQ(o.keyLength, 0u);
        o.ReleaseContainer();
        EXPECT_EQ(lib.LiveObjects(), 0);
    }
}

// More than one recipient, an originator key longer than its 76-byte
// output, an unknown content type, or signed data with two signers: 0, the
// text empty and nothing handed out or left behind.
TEST(FacadeContentOpening, RefusedMessages)
{
    struct Case {
        const char* name;
        std::function<void(fake::Library&)> setUp;
    };
    const Case cases[] = {
        {"two groups", [](fake::Library& lib) { UseEnveloped(lib, 1, 1, nullptr, 2, 1); }},
        {"two entries", [](fake::Library& lib) { UseEnveloped(lib, 1, 1, nullptr, 1, 2); }},
        {"no entry", [](fake::Library& lib) { UseEnveloped(lib, 1, 1, nullptr, 1, 0); }},
        {"unknown form", [](fake::Library& lib) { UseEnveloped(lib, 4, 1, nullptr); }},
        {"other type",
         [](fake::Library& lib) {
             fake::UseContentOpening(
                 lib, "1.2.840.113549.1.7.5", PKI_CLASS_DATA_CONTENT,
                 [&lib]() -> void* { return static_cast<IPKIDataContent*>(new fake::DataContent(lib)); }, nullptr);
         }},
        {"data type prefix",
         [](fake::Library& lib) {
             fake::UseContentOpening(
                 lib, "1.2.840.113549.1.7.11", PKI_CLASS_DATA_CONTENT,
                 [&lib]() -> void* { return static_cast<IPKIDataContent*>(new fake::DataContent(lib)); }, nullptr);
         }},
        {"two signers",
         [](fake::Library& lib) {
             fake::UseContentOpening(
                 lib, kSigned, PKI_CLASS_SIGNED_DATA,
                 [&lib]() -> void* {
                     auto* sd = new fake::CmsSignedData(lib);
                     sd->signers = {new fake::CmsSigner(lib), new fake::CmsSigner(lib)};
                     return static_cast<IPKISignedDataSigners*>(sd);
                 },
                 nullptr);
         }},
    };
    for (const Case& c : cases) {
        fake::Library lib;
        SPKIFormats f(nullptr, nullptr, &lib);
        c.setUp(lib);
        Outputs o;
        EXPECT_EQ(o.Open(f), 0) << c.name;
        EXPECT_EQ(o.container, nullptr) << c.name;
        EXPECT_STREQ(o.text, "") << c.name;
        EXPECT_EQ(o.kind, 99u) << c.name;
        EXPECT_EQ(lib.LiveObjects(), 0) << c.name;
        EXPECT_EQ(lib.LiveBlobs(), 0u) << c.name;
        for (const std::string& e : lib.log) EXPECT_NE(e, "4900:11(0)") << c.name;  // no signer taken
    }
    // An originator key longer than 76 bytes.
    fake::Library lib;
    SPKIFormats f(nullptr, nullptr, &lib);
    fake::UseContentOpening(
        lib, kEnveloped, PKI_CLASS_ENVELOPED_DATA,
        [&lib]() -> void* {
            auto* e = new fake::EnvelopedData(lib);
            fake::RecipientId originator;
            originator.kind = 3;
            auto* g = new fake::AgreementGroup(lib, originator, std::vector<fake::RecipientId>(1));
            g->originatorKeyLength = 77;
            e->groups.push_back(g);
            return static_cast<IPKIEnvelopedData*>(e);
        },
        nullptr);
    Outputs o;
    EXPECT_EQ(o.Open(f), 0);
    EXPECT_EQ(o.container, nullptr);
    EXPECT_EQ(o.keyLength, 99u);
    EXPECT_EQ(lib.LiveObjects(), 0);
}

// Plain data: kinds and flag 0, stored as data; position 88 answers the same.
TEST(FacadeContentOpening, PlainData)
{
    for (bool forwarded : {false, true}) {
        fake::Library lib;
        SPKIFormats f(nullptr, nullptr, &lib);
        fake::ContentBox* box = nullptr;
        fake::UseContentOpening(
            lib, kData, PKI_CLASS_DATA_CONTENT,
            [&lib]() -> void* { return static_cast<IPKIDataContent*>(new fake::DataContent(lib)); }, &box);
        Outputs o;
        ASSERT_EQ(o.Open(f, forwarded), 1);
        EXPECT_EQ(o.kind, 0u);
        EXPECT_EQ(o.flag, 0u);
        EXPECT_EQ(o.contentKind, 0u);
        EXPECT_EQ(o.extra, 0u);
        EXPECT_STREQ(o.text, "");
        EXPECT_EQ(box->storedSlot, 5u);
        EXPECT_EQ(o.container, static_cast<void*>(static_cast<IPKIContentContainer*>(box)));
        o.ReleaseContainer();
        EXPECT_EQ(lib.LiveObjects(), 0);
        // Container, content info, decode, type, content, store: in that order.
        std::vector<std::string> steps;
        for (const std::string& e : lib.log)
            if (e.rfind("0:10(", 0) == 0 || e.rfind("4879:", 0) == 0 || e.rfind("4874:", 0) == 0) steps.push_back(e);
        EXPECT_EQ(steps, (std::vector<std::string>{"0:10(4874,4107)", "0:10(4879,4113)", "4879:4(5)", "4879:5()",
                                                   "4879:7(4901,4138)", "4874:5()", "4879:1()", "4874:1()"}));
    }
    SPKIFormats f(nullptr, nullptr, nullptr);
    Outputs o;
    EXPECT_EQ(o.Open(f), 0);
    EXPECT_EQ(o.container, nullptr);
}

TEST(FacadeContentOpening, FailureSweep)
{
    fake::SweepFailures(
        "data",
        [](SPKIFormats& f, fake::Library& lib) {
            fake::UseContentOpening(
                lib, kData, PKI_CLASS_DATA_CONTENT,
                [&lib]() -> void* { return static_cast<IPKIDataContent*>(new fake::DataContent(lib)); }, nullptr);
            Outputs o;
            int rc = o.Open(f);
            if (!rc) {
                EXPECT_EQ(o.container, nullptr);
            }
            o.ReleaseContainer();
            return rc;
        },
        true);
    // The library version read decides only whether the extra value is read.
    fake::SweepFailures(
        "enveloped",
        [](SPKIFormats& f, fake::Library& lib) {
            UseEnveloped(lib, 1, 8, nullptr);
            Outputs o;
            int rc = o.Open(f);
            if (!rc) {
                EXPECT_EQ(o.container, nullptr);
                EXPECT_STREQ(o.text, "");
            }
            o.ReleaseContainer();
            return rc;
        },
        false);
}
