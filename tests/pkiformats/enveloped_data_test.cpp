// Enveloped data, key-transport recipients and streamed encodings over the
// test double: the call orders and arguments the library sees, the padding
// the facade adds and removes itself, the 64-bit length arithmetic of the
// streamed headers, and the failure sweeps.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "FailureSweep.h"
#include "FakeFormats.h"
#include "VirtualSlot.h"
#include "pkiformats/SPKIFormats.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

PKIBlob View(const Bytes& b)
{
    return PKIBlob{static_cast<std::uint32_t>(b.size()), const_cast<std::uint8_t*>(b.data())};
}

// The log from the first entry that starts with `from`, library releases
// and blob calls left out.
std::vector<std::string> Steps(const std::vector<std::string>& log, const std::string& from = "")
{
    std::vector<std::string> out;
    bool on = from.empty();
    for (const std::string& e : log) {
        if (!on && e.rfind(from, 0) == 0) on = true;
        if (!on || e.find(":1(") != std::string::npos || e.rfind("0:", 0) == 0) continue;
        out.push_back(e.substr(0, e.find('(')));
    }
    return out;
}

class Enveloped : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake::UseEnvelopedObjects(lib);
        lib.requireWipe = true;
    }
    void TearDown() override
    {
        EXPECT_EQ(lib.LiveObjects(), 0);
        EXPECT_EQ(lib.LiveBlobs(), 0u);
        EXPECT_EQ(lib.doubleReleases, 0);
        EXPECT_EQ(lib.unwipedFrees, 0);
    }
    fake::Library lib;
    SPKIFormats f{nullptr, nullptr, &lib};
};

struct Released {
    IPKIObject* object;
    ~Released()
    {
        if (object) object->Release();
    }
};

}  // namespace

TEST(EnvelopedSlots, TheNewObjectSlotsSitWhereTheLibraryHasThem)
{
#define QVK_SLOT(cls, slot, op) EXPECT_EQ(qvktest::SlotOf(&cls::op), slot) << #cls "::" #op;
    QVK_PKI_ENVELOPED_MODEL_SLOTS(QVK_SLOT)
#undef QVK_SLOT
}

// Raw content is padded to whole blocks (8 bytes for cipher kind 4, 16 for
// every other kind), each added byte holding the count added; a whole block
// is added to content that already fills its blocks.
TEST_F(Enveloped, RawContentIsPaddedToWholeBlocksOfItsCipher)
{
    struct Case {
        std::uint32_t kind, length, padded;
    } const cases[] = {{4, 16, 24}, {1, 16, 32}, {4, 5, 8}, {7, 0, 16}, {9, 31, 32}, {4, 8, 16}};
    for (const Case& c : cases) {
        Bytes content(c.length);
        for (std::uint32_t i = 0; i < c.length; ++i) content[i] = static_cast<std::uint8_t>(0x40 + i);
        PKIBlob in = View(content);
        void* out = nullptr;
        lib.log.clear();
        ASSERT_EQ(f.EnvelopeRawContent(c.kind, &in, 0, &out), 1) << c.kind << "/" << c.length;
        Released hold{static_cast<IPKIObject*>(out)};
        auto* e = static_cast<fake::EnvelopedData*>(static_cast<IPKIEnvelopedData*>(out));
        Bytes expected = content;
        expected.resize(c.padded, static_cast<std::uint8_t>(c.padded - c.length));
        EXPECT_EQ(e->content, expected) << c.kind << "/" << c.length;
        EXPECT_EQ(e->innerType, "1.2.840.113549.1.7.1");
        EXPECT_EQ(Steps(lib.log, "0:10"),
                  (std::vector<std::string>{"4883:35", "4883:51", "4883:8", "4883:9", "4883:39"}));
    }
    Bytes content(3, 1);
    PKIBlob in = View(content);
    void* out = nullptr;
    ASSERT_EQ(f.EnvelopeRawContent(4, &in, 1, &out), 1);
    Released hold{static_cast<IPKIObject*>(out)};
    EXPECT_EQ(static_cast<fake::EnvelopedData*>(static_cast<IPKIEnvelopedData*>(out))->innerType,
              "1.2.840.113549.1.7.2");
}

namespace {

// Opening a key-transport message whose decrypted content and inner type the
// double hands out.
struct Opening {
    fake::Library& lib;
    SPKIFormats& f;
    int Open(const Bytes& decrypted, const std::string& type, Bytes* content, std::uint32_t* isSigned,
             bool view = false)
    {
        auto* e = new fake::EnvelopedData(lib);
        Released he{static_cast<IPKIEnvelopedData*>(e)};
        if (view) e->OfferKeyTransportView();
        e->decrypted = decrypted;
        e->innerType = type;
        auto* key = new fake::KeyObject(lib);
        Released hk{static_cast<IPKIKeyObject*>(key)};
        auto* cert = new fake::ScriptedCertificate(lib);
        Released hc{static_cast<IPKICertificate*>(cert)};
        cert->kind = 2;
        cert->keyUsage = 0x04;  // RSA key encipherment: key agreement for the facade
        PKIBlob out{0, nullptr};
        *isSigned = 9;
        int rc = f.OpenEnvelopedKeyTransport(static_cast<IPKIEnvelopedData*>(e), static_cast<IPKIKeyObject*>(key),
                                             static_cast<IPKICertificate*>(cert), isSigned, &out);
        content->assign(out.data, out.data + out.length);
        f.ReleaseBlob(&out);
        return rc;
    }
};

}  // namespace

// The padding named by the last byte comes off; 0 keeps the full length. A
// last byte above 16 (no block is longer) is refused even when the content
// is long enough, so a wrong key's garbage is not handed out as content; so
// is one above the length, and an empty content.
TEST_F(Enveloped, KeyTransportContentLosesItsPaddingAndBadPaddingIsRefused)
{
    Opening o{lib, f};
    Bytes content;
    std::uint32_t isSigned = 0;
    const std::string data = "1.2.840.113549.1.7.1";
    Bytes body(40, 'x');
    struct Case {
        std::uint8_t last;
        std::size_t length;
        int rc;
        std::size_t kept;
    } const cases[] = {{0, 40, 1, 40},   {8, 40, 1, 32}, {16, 40, 1, 24}, {17, 40, 0, 0},
                       {0xFF, 40, 0, 0}, {5, 4, 0, 0},   {4, 4, 1, 0},    {1, 1, 1, 0}};
    for (const Case& c : cases) {
        Bytes decrypted(body.begin(), body.begin() + static_cast<std::ptrdiff_t>(c.length));
        decrypted.back() = c.last;
        EXPECT_EQ(o.Open(decrypted, data, &content, &isSigned), c.rc) << int(c.last) << "/" << c.length;
        EXPECT_EQ(content.size(), c.kept) << int(c.last) << "/" << c.length;
        if (c.rc) {
            EXPECT_EQ(isSigned, 0u);
        }
    }
    EXPECT_EQ(o.Open({}, data, &content, &isSigned), 0);
}

// Padding made for both block sizes comes off again to the original bytes.
TEST_F(Enveloped, PaddingAddedForEitherBlockComesOffAgain)
{
    Opening o{lib, f};
    for (std::uint32_t kind : {4u, 1u})
        for (std::uint32_t length : {0u, 1u, 7u, 8u, 15u, 16u, 33u}) {
            Bytes original(length, 0x5C);
            PKIBlob in = View(original);
            void* out = nullptr;
            ASSERT_EQ(f.EnvelopeRawContent(kind, &in, 0, &out), 1);
            Bytes padded = static_cast<fake::EnvelopedData*>(static_cast<IPKIEnvelopedData*>(out))->content;
            static_cast<IPKIObject*>(out)->Release();
            Bytes content;
            std::uint32_t isSigned = 0;
            ASSERT_EQ(o.Open(padded, "1.2.840.113549.1.7.1", &content, &isSigned), 1) << kind << "/" << length;
            EXPECT_EQ(content, original) << kind << "/" << length;
        }
}

// The inner type decides the signed flag; another type is refused, and so
// is one longer than the facade's buffer (the library is told the buffer's
// size). Both decryption routes are taken: the view when offered.
TEST_F(Enveloped, KeyTransportInnerTypeSetsTheSignedFlagAndALongTypeFails)
{
    Opening o{lib, f};
    Bytes content, decrypted = {'a', 'b', 'c', 1};
    std::uint32_t isSigned = 0;
    EXPECT_EQ(o.Open(decrypted, "1.2.840.113549.1.7.2", &content, &isSigned, true), 1);
    EXPECT_EQ(isSigned, 1u);
    EXPECT_EQ(content, (Bytes{'a', 'b', 'c'}));
    EXPECT_NE(std::find(lib.log.begin(), lib.log.end(), "4883:66(1208)"), lib.log.end());
    EXPECT_NE(std::find(lib.log.begin(), lib.log.end(), "4883:34(64)"), lib.log.end());
    lib.log.clear();
    EXPECT_EQ(o.Open(decrypted, "1.2.840.113549.1.7.1", &content, &isSigned), 1);
    EXPECT_EQ(isSigned, 0u);
    EXPECT_NE(std::find(lib.log.begin(), lib.log.end(), "4883:55(1208)"), lib.log.end());
    EXPECT_EQ(Steps(lib.log, "4883:37"),
              (std::vector<std::string>{"4883:37", "4883:2", "4883:55", "4883:13", "4883:14", "4883:34"}));
    EXPECT_EQ(o.Open(decrypted, "1.2.840.113549.1.7.3", &content, &isSigned), 0);
    EXPECT_EQ(o.Open(decrypted, "1.2.840.113549.1.7.1" + std::string(60, '1'), &content, &isSigned), 0);
    EXPECT_EQ(o.Open(decrypted, "1.2.840.113549.1.7.1" + std::string(43, '1'), &content, &isSigned), 0);
}

TEST_F(Enveloped, KeyTransportCheckAcceptsDataAndSignedContentOnly)
{
    for (const char* type : {"1.2.840.113549.1.7.1", "1.2.840.113549.1.7.2", "1.2.840.113549.1.7.3"}) {
        auto* e = new fake::EnvelopedData(lib);
        Released he{static_cast<IPKIEnvelopedData*>(e)};
        e->innerType = type;
        auto* key = new fake::KeyObject(lib);
        Released hk{static_cast<IPKIKeyObject*>(key)};
        auto* cert = new fake::ScriptedCertificate(lib);
        Released hc{static_cast<IPKICertificate*>(cert)};
        cert->kind = 1;
        cert->keyUsage = 0x10;
        EXPECT_EQ(f.CheckKeyTransportRecipient(static_cast<IPKIEnvelopedData*>(e), static_cast<IPKIKeyObject*>(key),
                                               static_cast<IPKICertificate*>(cert)),
                  type[19] == '3' ? 0 : 1)
            << type;
        EXPECT_EQ(e->decryptedWith, "CN=Issuer:1208");
    }
}

// Recipients added by key transport are found again by index among the
// key-transport entries only; kind 1 goes to the library as 4.
TEST_F(Enveloped, KeyTransportRecipientsAreAddedAndFound)
{
    void* out = nullptr;
    ASSERT_EQ(f.CreateEnvelopedDataShell(4, &out), 1);
    Released he{static_cast<IPKIObject*>(out)};
    auto* e = static_cast<fake::EnvelopedData*>(static_cast<IPKIEnvelopedData*>(out));
    auto* cert = new fake::ScriptedCertificate(lib);
    Released hc{static_cast<IPKICertificate*>(cert)};
    cert->kind = 2;
    for (std::uint32_t usage : {0x04u, 0x08u, 0x10u}) {
        cert->keyUsage = usage;
        EXPECT_EQ(f.AddKeyTransportRecipient(e, static_cast<IPKICertificate*>(cert), usage == 0x04 ? 1 : 2), 1);
    }
    EXPECT_EQ(e->added,
              (std::vector<std::string>{"52:4:CN=Issuer:2048", "52:2:CN=Issuer:2048", "52:2:CN=Issuer:2048"}));
    cert->keyUsage = 0x03;
    EXPECT_EQ(f.AddKeyTransportRecipient(e, static_cast<IPKICertificate*>(cert), 1), 0);
    EXPECT_EQ(e->added.size(), 3u);

    fake::RecipientId first, other, second;
    other.entryKind = 2;
    second.kind = 2;
    second.keyId = std::string(32, '\x33');
    first.issuer = L"CN=First";
    e->transport = {first, other, second};
    std::uint32_t kind = 0;
    char issuer[PKIF_NAME_TEXT_BYTES] = "x";
    std::uint8_t serial[20] = {}, keyId[32] = {};
    ASSERT_EQ(f.GetKeyTransportRecipient(e, 0, &kind, issuer, serial, keyId), 1);
    EXPECT_EQ(kind, 1u);
    EXPECT_STREQ(issuer, "CN=First");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(serial), 20), first.serial);
    ASSERT_EQ(f.GetKeyTransportRecipient(e, 1, &kind, issuer, serial, keyId), 1);
    EXPECT_EQ(kind, 2u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(keyId), 32), second.keyId);
    EXPECT_EQ(f.GetKeyTransportRecipient(e, 2, &kind, issuer, serial, keyId), 0);
    // An issuer longer than the output's capacity is refused, the text left empty.
    e->transport[0].issuer = L"CN=" + std::wstring(PKIF_NAME_TEXT_BYTES, L'a');
    std::strcpy(issuer, "x");
    EXPECT_EQ(f.GetKeyTransportRecipient(e, 0, &kind, issuer, serial, keyId), 0);
    EXPECT_STREQ(issuer, "");
}

// Recipients of key-agreement groups are found by one index across the
// groups; the index equal to the total count is past the end.
TEST_F(Enveloped, AgreementRecipientsAreCountedAndFoundAcrossGroups)
{
    auto* e = new fake::EnvelopedData(lib);
    Released he{static_cast<IPKIEnvelopedData*>(e)};
    fake::RecipientId a, b, c;
    a.issuer = L"CN=A";
    b.issuer = L"CN=B";
    c.kind = 2;
    c.keyId = std::string(32, '\x44');
    e->groups = {new fake::AgreementGroup(lib, {}, {a, b}), new fake::AgreementGroup(lib, {}, {}),
                 new fake::AgreementGroup(lib, {}, {c})};
    std::uint32_t count = 0;
    ASSERT_EQ(f.CountRecipients(static_cast<IPKIEnvelopedData*>(e), &count), 1);
    EXPECT_EQ(count, 3u);
    std::uint32_t kind = 0;
    char issuer[PKIF_NAME_TEXT_BYTES];
    std::uint8_t serial[20], keyId[32];
    ASSERT_EQ(f.GetRecipientByIndex(e, 1, &kind, issuer, serial, keyId), 1);
    EXPECT_EQ(kind, 1u);
    EXPECT_STREQ(issuer, "CN=B");
    ASSERT_EQ(f.GetRecipientByIndex(e, 2, &kind, issuer, serial, keyId), 1);
    EXPECT_EQ(kind, 2u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(keyId), 32), c.keyId);
    EXPECT_EQ(f.GetRecipientByIndex(e, 3, &kind, issuer, serial, keyId), 0);
}

// The full form also reads the originator: issuer and serial (with the
// extra value from library version 267), key identifier, or its key; the
// short form asks for none of it.
TEST_F(Enveloped, TheFullRecipientReadGivesTheOriginator)
{
    auto* e = new fake::EnvelopedData(lib);
    Released he{static_cast<IPKIEnvelopedData*>(e)};
    fake::RecipientId entry, byName, byId, byKey;
    byName.issuer = L"CN=Originator";
    byName.serial = std::string(20, '\x0A');
    byId.kind = 2;
    byId.keyId = std::string(32, '\x0B');
    byKey.kind = 3;
    e->groups = {new fake::AgreementGroup(lib, byName, {entry}), new fake::AgreementGroup(lib, byId, {entry}),
                 new fake::AgreementGroup(lib, byKey, {entry})};
    struct Out {
        std::uint32_t kind = 0, originatorKind = 0, extra = 9, keyLength = 0;
        char issuer[PKIF_NAME_TEXT_BYTES] = "", originatorIssuer[PKIF_NAME_TEXT_BYTES] = "";
        std::uint8_t serial[20] = {}, keyId[32] = {}, originatorSerial[20] = {}, originatorKeyId[32] = {}, key[76] = {};
    };
    auto read = [&](std::uint32_t index, Out& o) {
        return f.GetRecipientByIndexFull(e, index, &o.kind, o.issuer, o.serial, o.keyId, &o.originatorKind, &o.extra,
                                         o.originatorIssuer, o.originatorSerial, o.originatorKeyId, o.key,
                                         &o.keyLength);
    };
    Out a, b, c;
    ASSERT_EQ(read(0, a), 1);
    EXPECT_EQ(a.originatorKind, 1u);
    EXPECT_STREQ(a.originatorIssuer, "CN=Originator");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(a.originatorSerial), 20), byName.serial);
    EXPECT_EQ(a.extra, 0x2Au);
    EXPECT_STREQ(a.issuer, "CN=Issuer");
    ASSERT_EQ(read(1, b), 1);
    EXPECT_EQ(b.originatorKind, 2u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(b.originatorKeyId), 32), byId.keyId);
    EXPECT_EQ(b.extra, 0u);
    ASSERT_EQ(read(2, c), 1);
    EXPECT_EQ(c.originatorKind, 3u);
    EXPECT_EQ(c.keyLength, 33u);
    EXPECT_EQ(c.key[75], 0x3C);
    Out d;
    EXPECT_EQ(read(3, d), 0);
    // The entry's issuer is read before the originator: when the originator
    // cannot be read, no text is left behind.
    lib.Answer(4884, 3, {PKI_E_FAILURE});
    Out failed;
    EXPECT_EQ(read(0, failed), 0);
    EXPECT_STREQ(failed.issuer, "");
    EXPECT_STREQ(failed.originatorIssuer, "");
    lib.Answer(4884, 3, {-1});
    lib.version = 266;
    Out old;
    ASSERT_EQ(read(0, old), 1);
    EXPECT_EQ(old.extra, 0u);
    // The short form reads no originator.
    lib.log.clear();
    std::uint32_t kind = 0;
    ASSERT_EQ(f.GetRecipientByIndex(e, 0, &kind, a.issuer, a.serial, a.keyId), 1);
    EXPECT_EQ(std::count(lib.log.begin(), lib.log.end(), "4884:3()"), 0);
}

// The seven-zero forward reads a recipient's identity and no originator.
TEST_F(Enveloped, RecipientIdentityWithoutOriginator)
{
    auto* e = new fake::EnvelopedData(lib);
    Released he{static_cast<IPKIEnvelopedData*>(e)};
    fake::RecipientId byName, byId;
    byName.issuer = L"CN=Originator";
    byId.kind = 2;
    byId.keyId = std::string(32, '\x0B');
    e->groups = {new fake::AgreementGroup(lib, byName, {byName, byId})};
    std::uint32_t kind = 0;
    char issuer[PKIF_NAME_TEXT_BYTES] = "x";
    std::uint8_t serial[20] = {}, keyId[32] = {};
    lib.log.clear();
    ASSERT_EQ(f.ForwardToOperation190(e, 0, &kind, issuer, serial, keyId), 1);
    EXPECT_EQ(kind, 1u);
    EXPECT_STREQ(issuer, "CN=Originator");
    ASSERT_EQ(f.ForwardToOperation190(e, 1, &kind, issuer, serial, keyId), 1);
    EXPECT_EQ(kind, 2u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(keyId), 32), byId.keyId);
    EXPECT_EQ(std::count(lib.log.begin(), lib.log.end(), "4884:3()"), 0);
    EXPECT_EQ(f.ForwardToOperation190(e, 2, &kind, issuer, serial, keyId), 0);
    EXPECT_EQ(f.ForwardToOperation190(e, 0, nullptr, issuer, serial, keyId), 0);
}

// A certificate is found by each identity value given (an absent value
// matches anything); a certificate whose name cannot be read is skipped.
TEST_F(Enveloped, CertificatesAreFoundByTheirIdentity)
{
    auto* collection = new fake::CertificateCollection(lib);
    Released hc{static_cast<IPKICertificateCollection*>(collection)};
    for (int i = 0; i < 3; ++i) collection->certificates.push_back(new fake::ScriptedCertificate(lib));
    auto& certs = collection->certificates;
    certs[0]->issuer = std::wstring(PKIF_NAME_TEXT_BYTES + 5, L'n');  // unreadable: skipped
    certs[1]->issuer = L"CN=Same";
    certs[1]->serial = std::string("\x02\x01\x05", 3);
    certs[2]->issuer = L"CN=Same";
    certs[2]->serial = std::string("\x02\x02\x01\x05", 4);
    certs[2]->keyId = std::string(32, '\x7E');
    std::uint8_t serial105[20] = {}, serial5[20] = {}, keyId[32];
    serial105[18] = 1;
    serial105[19] = 5;
    serial5[19] = 5;
    std::memset(keyId, 0x7E, 32);
    auto* c = static_cast<IPKICertificateCollection*>(collection);
    void* found = nullptr;
    ASSERT_EQ(f.FindCertificateByIdentity(c, "CN=Same", nullptr, nullptr, &found), 1);
    EXPECT_EQ(found, static_cast<IPKICertificate*>(certs[1]));
    static_cast<IPKIObject*>(found)->Release();
    ASSERT_EQ(f.FindCertificateByIdentity(c, "CN=Same", serial105, nullptr, &found), 1);
    EXPECT_EQ(found, static_cast<IPKICertificate*>(certs[2]));
    static_cast<IPKIObject*>(found)->Release();
    EXPECT_EQ(f.FindCertificateByIdentity(c, nullptr, serial5, keyId, nullptr), 0);
    EXPECT_EQ(f.FindCertificateByIdentity(c, nullptr, nullptr, keyId, nullptr), 1);
    EXPECT_EQ(f.FindCertificateByIdentity(c, "CN=Other", nullptr, nullptr, &found), 0);
    EXPECT_EQ(found, nullptr);
}

// Kinds 8 and 9 set their cipher through interface 4264 without the block;
// the others through slot 7 with it.
TEST_F(Enveloped, ContentCipherGoesByKind)
{
    auto* e = new fake::EnvelopedData(lib);
    Released he{static_cast<IPKIEnvelopedData*>(e)};
    std::uint32_t block[16];
    for (std::uint32_t i = 0; i < 16; ++i) block[i] = 0x01010101u * i;
    for (std::uint32_t kind : {8u, 9u, 1u, 4u}) {
        lib.log.clear();
        e->parameters.clear();
        ASSERT_EQ(f.SetContentCipher(static_cast<IPKIEnvelopedData*>(e), kind, block), 1);
        if (kind >= 8) {
            EXPECT_NE(std::find(lib.log.begin(), lib.log.end(), "4883:67(" + std::to_string(kind) + ",0,0)"),
                      lib.log.end());
            EXPECT_TRUE(e->parameters.empty());
        } else {
            EXPECT_EQ(lib.log.back(), "4883:7(" + std::to_string(kind) + ",0)");
            EXPECT_EQ(e->parameters, std::vector<std::uint32_t>(block, block + 16));
        }
    }
}

// The forwarders reach their slots and pass the library's answer on.
TEST_F(Enveloped, ForwardersReachTheirSlots)
{
    auto* e = new fake::EnvelopedData(lib);
    Released he{static_cast<IPKIEnvelopedData*>(e)};
    EXPECT_EQ(f.CallObjectOperation48(static_cast<IPKIEnvelopedData*>(e)), 1);
    EXPECT_EQ(lib.log.back(), "4883:48()");
    lib.Answer(PKI_CLASS_ENVELOPED_DATA, 48, {PKI_E_FAILURE});
    EXPECT_EQ(f.CallObjectOperation48(static_cast<IPKIEnvelopedData*>(e)), 0);
    EXPECT_EQ(f.CallObjectOperation48(nullptr), 0);
}

// A content info opens as enveloped data only with the enveloped-data type,
// compared whole (a longer type with that prefix is refused).
TEST_F(Enveloped, OnlyAnEnvelopedDataContentInfoOpens)
{
    Bytes encoded = {1, 2, 3};
    PKIBlob in = View(encoded);
    for (const char* type : {"1.2.840.113549.1.7.3", "1.2.840.113549.1.7.2", "1.2.840.113549.1.7.30"}) {
        lib.makers[{PKI_CLASS_CONTENT_INFO, PKI_IID_CONTENT_INFO}] = [this, type]() -> void* {
            auto* ci = new fake::CMSContentInfo(lib);
            ci->type = type;
            return static_cast<IPKICMSContentInfo*>(ci);
        };
        void* out = nullptr;
        lib.log.clear();
        int rc = f.OpenEnvelopedData(&in, &out);
        EXPECT_EQ(rc, std::string(type) == "1.2.840.113549.1.7.3" ? 1 : 0) << type;
        EXPECT_EQ(out != nullptr, rc == 1);
        if (out) {
            EXPECT_EQ(Steps(lib.log, "4879:4"), (std::vector<std::string>{"4879:4", "4879:5", "4879:7"}));
            static_cast<IPKIObject*>(out)->Release();
        }
    }
    auto* e = new fake::EnvelopedData(lib);
    Released he{static_cast<IPKIEnvelopedData*>(e)};
    fake::UseEnvelopedObjects(lib);
    PKIBlob out{0, nullptr};
    ASSERT_EQ(f.EncodeEnvelopedDataAsContentInfo(static_cast<IPKIEnvelopedData*>(e), &out), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out.data), out.length), "content info:1.2.840.113549.1.7.3");
    f.ReleaseBlob(&out);
}

// ---- Streamed encodings ----

// The content length is the end offset minus the header offset in 64 bits,
// handed out as (low, high); an end before the header is refused.
TEST_F(Enveloped, StreamedHeadersGiveSixtyFourBitLengths)
{
    struct Case {
        std::uint64_t offset, end;
        int rc;
    } const cases[] = {{0x10, 0x110, 1},
                       {0x100000010ull, 0x300000000ull, 1},
                       {0xFFFFFFF0ull, 0x100000020ull, 1},
                       {0x200000000ull, 0x1FFFFFFFFull, 0},
                       {5, 5, 1}};
    for (const Case& c : cases) {
        Bytes header = fake::StreamHeader(c.offset, c.end, 77);
        PKIBlob in = View(header);
        std::uint32_t offset[2] = {9, 9}, length[2] = {9, 9}, value = 9, seen[2] = {9, 9}, needed[2] = {9, 9};
        lib.log.clear();
        ASSERT_EQ(f.ParseStreamedContentInfo(&in, nullptr, offset, length, &value, seen, needed), c.rc) << c.end;
        std::uint64_t want = c.rc ? c.end - c.offset : 0;
        EXPECT_EQ(length[0], static_cast<std::uint32_t>(want));
        EXPECT_EQ(length[1], static_cast<std::uint32_t>(want >> 32));
        EXPECT_EQ(offset[0], c.rc ? static_cast<std::uint32_t>(c.offset) : 0u);
        EXPECT_EQ(offset[1], c.rc ? static_cast<std::uint32_t>(c.offset >> 32) : 0u);
        EXPECT_EQ(value, c.rc ? 77u : 0u);
        EXPECT_EQ(seen[0] | seen[1] | needed[0] | needed[1], 0u);
        if (c.rc) {
            EXPECT_EQ(Steps(lib.log, "4879:13"), (std::vector<std::string>{"4879:13", "4879:12", "4879:10"}));
            EXPECT_EQ(lib.log[2], "4879:12(" + std::to_string(static_cast<std::uint32_t>(c.offset)) + "," +
                                      std::to_string(static_cast<std::uint32_t>(c.offset >> 32)) + ")");
        }
        for (int family = 0; family < 2; ++family) {
            std::uint32_t l2[2] = {9, 9};
            int rc = family ? f.ParseStreamedSignedData(&in, offset, l2, &value, seen, needed)
                            : f.ParseStreamedEnvelopedData(&in, offset, l2, &value, seen, needed);
            EXPECT_EQ(rc, c.rc);
            EXPECT_EQ(l2[0], static_cast<std::uint32_t>(want));
            EXPECT_EQ(l2[1], static_cast<std::uint32_t>(want >> 32));
        }
    }
}

// An incomplete header (status 261) reports what was seen and what is
// needed, and answers 0 without handing out an object.
TEST_F(Enveloped, IncompleteStreamedHeadersReportProgress)
{
    Bytes whole = fake::StreamHeader(0x20, 0x40, 5);
    Bytes part(whole.begin(), whole.begin() + 6);
    PKIBlob in = View(part);
    std::uint32_t offset[2], length[2], value = 9, seen[2], needed[2];
    EXPECT_EQ(f.ParseStreamedContentInfo(&in, nullptr, offset, length, &value, seen, needed), 0);
    EXPECT_EQ(seen[0], 6u);
    EXPECT_EQ(needed[0], 16u);
    EXPECT_EQ(length[0] | length[1] | offset[0] | offset[1], 0u);
    for (int family = 0; family < 2; ++family) {
        void* object = &value;
        std::uint32_t s[2] = {0, 0}, n[2] = {0, 0};
        EXPECT_EQ(family ? f.BeginStreamedSignedData(&in, 1, 2, &object, &value, s, n)
                         : f.BeginStreamedEnvelopedData(&in, 1, 2, &object, &value, s, n),
                  0);
        EXPECT_EQ(object, nullptr);
        EXPECT_EQ(s[0], 6u);
        EXPECT_EQ(n[0], 16u);
    }
}

// The expected content type must equal the parsed one; a refusal reports
// nothing.
TEST_F(Enveloped, StreamedContentInfoChecksTheExpectedType)
{
    Bytes header = fake::StreamHeader(4, 10, 0);
    PKIBlob in = View(header);
    std::uint32_t offset[2], length[2], value, seen[2], needed[2];
    EXPECT_EQ(f.ParseStreamedContentInfo(&in, "1.2.840.113549.1.7.3", offset, length, &value, seen, needed), 1);
    EXPECT_EQ(f.ParseStreamedContentInfo(&in, "1.2.840.113549.1.7.2", offset, length, &value, seen, needed), 0);
    EXPECT_EQ(length[0] | length[1] | offset[0] | offset[1], 0u);  // nothing reported for a refusal
    EXPECT_EQ(f.ParseStreamedContentInfo(&in, "1.2.840.113549.1.7.", offset, length, &value, seen, needed), 0);
}

// Both halves of a content length above 4 GiB reach the library unchanged;
// the header length is the content info's plus the inner one's.
TEST_F(Enveloped, StreamedEncodersPassBothLengthHalves)
{
    auto* e = new fake::EnvelopedData(lib);
    Released he{static_cast<IPKIEnvelopedData*>(e)};
    PKIBlob header{0, nullptr};
    std::uint32_t length[2] = {0, 0};
    ASSERT_EQ(
        f.EncodeStreamedEnvelopedDataHeader(static_cast<IPKIEnvelopedData*>(e), 0x89ABCDEF, 0x12, &header, length), 1);
    EXPECT_EQ(length[0], 44u);
    EXPECT_EQ(length[1], 0u);
    EXPECT_EQ(header.length, 44u);
    f.ReleaseBlob(&header);
    EXPECT_NE(std::find(lib.log.begin(), lib.log.end(), "4883:45(2309737967,18)"), lib.log.end());
    EXPECT_EQ(Steps(lib.log, "4879:6"),
              (std::vector<std::string>{"4879:6", "4883:45", "4879:11", "4879:9", "4879:13", "4883:46"}));

    auto* s = new fake::SignedDataStream(lib);
    Released hs{static_cast<IPKISignedDataStream*>(s)};
    lib.log.clear();
    ASSERT_EQ(f.EncodeStreamedSignedDataHeaderGOST34311(static_cast<IPKISignedDataStream*>(s), nullptr, nullptr, 7,
                                                        0x100, &header, length),
              1);
    EXPECT_EQ(length[0], 44u);
    EXPECT_NE(std::find(lib.log.begin(), lib.log.end(), "4900:28(7,256)"), lib.log.end());
    f.ReleaseBlob(&header);
    ASSERT_EQ(f.EncodeStreamedBareSignedDataHeaderSHA(static_cast<IPKISignedDataStream*>(s), nullptr, nullptr, 7, 1,
                                                      &header, length),
              1);
    EXPECT_EQ(length[0], 22u);
    f.ReleaseBlob(&header);
    void* info = nullptr;
    ASSERT_EQ(f.PrepareStreamedSignedDataECDSA(static_cast<IPKISignedDataStream*>(s), nullptr, nullptr, 1, 2, &info),
              1);
    EXPECT_EQ(static_cast<fake::CMSContentInfo*>(static_cast<IPKICMSContentInfo*>(info))->type, "1.2.840.113549.1.7.2");
    static_cast<IPKIObject*>(info)->Release();
    // With a key the last signer is signed first: that operation still
    // answers 0 here, so nothing is encoded.
    auto* key = new fake::KeyObject(lib);
    Released hk{static_cast<IPKIKeyObject*>(key)};
    EXPECT_EQ(f.EncodeStreamedSignedDataHeaderGOST34311(static_cast<IPKISignedDataStream*>(s),
                                                        static_cast<IPKIKeyObject*>(key), nullptr, 7, 0, &header,
                                                        length),
              0);
    EXPECT_EQ(header.data, nullptr);
}

TEST_F(Enveloped, BeginStreamedHandsOutTheObjectWithItsLength)
{
    Bytes header = fake::StreamHeader(4, 10, 31);
    PKIBlob in = View(header);
    void* object = nullptr;
    std::uint32_t value = 0, seen[2], needed[2];
    ASSERT_EQ(f.BeginStreamedEnvelopedData(&in, 0xFFFFFFFF, 0x7, &object, &value, seen, needed), 1);
    EXPECT_EQ(value, 31u);
    EXPECT_EQ(Steps(lib.log, "4883:45"), (std::vector<std::string>{"4883:45", "4883:44"}));
    EXPECT_NE(std::find(lib.log.begin(), lib.log.end(), "4883:45(4294967295,7)"), lib.log.end());
    static_cast<IPKIObject*>(object)->Release();
    ASSERT_EQ(f.BeginStreamedSignedData(&in, 3, 0, &object, &value, seen, needed), 1);
    static_cast<IPKIObject*>(object)->Release();
}

// Each library call of these operations failing (or throwing) in turn
// leaves nothing behind and, where every step is needed, fails the whole.
TEST(EnvelopedSweep, FailuresLeaveNothingBehind)
{
    using Run = std::function<int(SPKIFormats&, fake::Library&)>;
    struct Sweep {
        const char* name;
        Run run;
        bool everyStepNeeded = true;
    };
    const Sweep runs[] = {
        {"EnvelopeRawContent",
         [](SPKIFormats& f, fake::Library& lib) {
             fake::UseEnvelopedObjects(lib);
             Bytes content(13, 7);
             PKIBlob in = View(content);
             void* out = nullptr;
             int rc = f.EnvelopeRawContent(4, &in, 1, &out);
             if (out) static_cast<IPKIObject*>(out)->Release();
             return rc;
         }},
        {"OpenEnvelopedKeyTransport",
         [](SPKIFormats& f, fake::Library& lib) {
             auto* e = new fake::EnvelopedData(lib);
             Released he{static_cast<IPKIEnvelopedData*>(e)};
             auto* key = new fake::KeyObject(lib);
             Released hk{static_cast<IPKIKeyObject*>(key)};
             auto* cert = new fake::ScriptedCertificate(lib);
             Released hc{static_cast<IPKICertificate*>(cert)};
             cert->keyUsage = 0x10;
             PKIBlob out{0, nullptr};
             std::uint32_t isSigned = 0;
             int rc = f.OpenEnvelopedKeyTransport(static_cast<IPKIEnvelopedData*>(e), static_cast<IPKIKeyObject*>(key),
                                                  static_cast<IPKICertificate*>(cert), &isSigned, &out);
             f.ReleaseBlob(&out);
             return rc;
         },
         false},  // without the key-transport view the slot of its own serves
        {"AddAndFindKeyTransportRecipient",
         [](SPKIFormats& f, fake::Library& lib) {
             auto* e = new fake::EnvelopedData(lib);
             Released he{static_cast<IPKIEnvelopedData*>(e)};
             auto* cert = new fake::ScriptedCertificate(lib);
             Released hc{static_cast<IPKICertificate*>(cert)};
             cert->kind = 2;
             cert->keyUsage = 0x08;
             e->transport = {fake::RecipientId{}};
             std::uint32_t kind = 0;
             char issuer[PKIF_NAME_TEXT_BYTES];
             std::uint8_t serial[20], keyId[32];
             return f.AddKeyTransportRecipient(e, static_cast<IPKICertificate*>(cert), 3) &
                    f.GetKeyTransportRecipient(e, 0, &kind, issuer, serial, keyId);
         }},
        {"EncodeStreamedEnvelopedDataHeader",
         [](SPKIFormats& f, fake::Library& lib) {
             fake::UseEnvelopedObjects(lib);
             auto* e = new fake::EnvelopedData(lib);
             Released he{static_cast<IPKIEnvelopedData*>(e)};
             PKIBlob header{0, nullptr};
             std::uint32_t length[2];
             int rc = f.EncodeStreamedEnvelopedDataHeader(static_cast<IPKIEnvelopedData*>(e), 1, 1, &header, length);
             f.ReleaseBlob(&header);
             return rc;
         }},
        {"ParseStreamedContentInfo",
         [](SPKIFormats& f, fake::Library& lib) {
             fake::UseEnvelopedObjects(lib);
             Bytes header = fake::StreamHeader(4, 10, 0);
             PKIBlob in = View(header);
             std::uint32_t offset[2], length[2], value, seen[2], needed[2];
             return f.ParseStreamedContentInfo(&in, "1.2.840.113549.1.7.3", offset, length, &value, seen, needed);
         }},
        {"OpenAndCountRecipients",
         [](SPKIFormats& f, fake::Library& lib) {
             fake::UseEnvelopedObjects(lib);
             Bytes encoded = {1};
             PKIBlob in = View(encoded);
             void* out = nullptr;
             if (f.OpenEnvelopedData(&in, &out) != 1) return 0;
             Released he{static_cast<IPKIObject*>(out)};
             auto* e = static_cast<fake::EnvelopedData*>(static_cast<IPKIEnvelopedData*>(out));
             e->groups = {new fake::AgreementGroup(lib, {}, {fake::RecipientId{}})};
             std::uint32_t count = 0, kind = 0;
             char issuer[PKIF_NAME_TEXT_BYTES];
             std::uint8_t serial[20], keyId[32];
             return f.CountRecipients(e, &count) & f.GetRecipientByIndex(e, 0, &kind, issuer, serial, keyId);
         }},
    };
    for (const Sweep& s : runs) fake::SweepFailures(s.name, s.run, s.everyStepNeeded);
}
