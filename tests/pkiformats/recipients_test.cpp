// Content types, time-stamp attributes and token blobs, and the recipients
// of a certificate, over the test double.
#include <cstring>
#include <string>
#include <vector>

#include "FailureSweep.h"
#include "FakeFormats.h"
#include "pkiformats/ContextHolders.h"
#include "pkiformats/SPKIFormats.h"

namespace {

struct Drop {
    IPKIObject* object;
    ~Drop()
    {
        if (object) object->Release();
    }
};

PKIBlob View(const std::string& s)
{
    return PKIBlob{static_cast<std::uint32_t>(s.size()), reinterpret_cast<std::uint8_t*>(const_cast<char*>(s.data()))};
}

std::string Text(const PKIBlob& b)
{
    return std::string(reinterpret_cast<const char*>(b.data), b.length);
}

class Recipients : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake::UseContentObjects(lib);
        lib.requireWipe = true;
    }
    void TearDown() override
    {
        EXPECT_EQ(lib.LiveObjects(), 0);
        EXPECT_EQ(lib.LiveBlobs(), 0u);
        EXPECT_EQ(lib.doubleReleases, 0);
        EXPECT_EQ(lib.unwipedFrees, 0);
    }
    fake::TSCertificate* Certificate(std::uint8_t last, char keyByte)
    {
        auto* c = new fake::TSCertificate(lib, L"CN=Recipient", last);
        c->keyIdentifier = std::string(32, keyByte);
        return c;
    }
    fake::Library lib;
    SPKIFormats f{nullptr, nullptr, &lib};
};

}  // namespace

// Block formats end in their padding count: at most 16, never more than the
// content; a data message of the plain kind is moved through plain data.
TEST_F(Recipients, ContentTypeAndPaddingOfAContentInfo)
{
    struct Case {
        std::uint32_t kind;
        std::string content;
        const char* type;
        int result;
        std::uint32_t isSigned;
        std::string out;
    } cases[] = {
        {3, "abc", "1.2.840.113549.1.7.1", 1, 0, "plain:abc"},
        {3, "abc", "1.2.840.113549.1.7.2", 1, 1, "abc"},
        {4, std::string("data") + std::string(4, '\x04'), "1.2.840.113549.1.7.1", 1, 0, "data"},
        {7, std::string(16, '\x10'), "1.2.840.113549.1.7.2", 1, 1, ""},
        {5, std::string(17, '\x11'), "1.2.840.113549.1.7.1", 0, 9, ""},     // a count above 16
        {6, std::string("\x05\x05", 2), "1.2.840.113549.1.7.1", 0, 9, ""},  // more than the content
        {3, "abc", "1.2.840.113549.1.7.3", 0, 9, ""},
        {3, "abc", "1.2.840.113549.1.7.1.1", 0, 9, ""},
    };
    const std::string encoded = "encoded";
    PKIBlob in = View(encoded);
    for (const Case& k : cases) {
        auto* content = new fake::TSContent(lib);
        Drop d{static_cast<IPKIContentInfoForms*>(content)};
        content->kind = k.kind;
        content->content = k.content;
        content->type = std::string(k.type) + '\0';
        std::uint32_t isSigned = 9;
        PKIBlob out{0, nullptr};
        ASSERT_EQ(f.ParseContentInfoType(content, &in, &isSigned, &out), k.result) << k.kind << " " << k.type;
        EXPECT_EQ(isSigned, k.isSigned);
        EXPECT_EQ(Text(out), k.out);
        f.ReleaseBlob(&out);
        EXPECT_EQ(f.IsDataOrSignedContent(content, &in),
                  std::string(k.type).size() == 20 && std::string(k.type) != "1.2.840.113549.1.7.3");
    }
    lib.version = 269;
    auto* content = new fake::TSContent(lib);
    Drop d{static_cast<IPKIContentInfoForms*>(content)};
    std::uint32_t isSigned = 0;
    PKIBlob out{0, nullptr};
    EXPECT_EQ(f.ParseContentInfoType(content, &in, &isSigned, &out), 0);
    EXPECT_EQ(f.IsDataOrSignedContent(content, &in), 0);
    EXPECT_EQ(f.SetContentVersion(content, 3), 0);
    lib.version = 270;
    EXPECT_EQ(f.SetContentVersion(content, 3), 1);
    EXPECT_EQ(content->version, 3u);
}

TEST_F(Recipients, DataContentAttributeAndTokenBlob)
{
    void* object = nullptr;
    ASSERT_EQ(f.CreateDataContent(&object), 1);
    EXPECT_EQ(static_cast<fake::TSDataContent*>(static_cast<IPKIEnvelopedContentType*>(object))->type,
              "1.2.840.113549.1.7.1");
    static_cast<IPKIObject*>(object)->Release();

    const std::string value = "\x04\x02hi";
    PKIBlob v = View(value);
    for (std::uint32_t version : {259u, 260u}) {
        lib.version = version;
        void* attribute = nullptr;
        ASSERT_EQ(f.CreateTimeStampAttribute("1.2.840.113549.1.9.16.2.14", &v, &attribute), version >= 260 ? 1 : 0);
        if (!attribute) continue;
        auto* a = static_cast<fake::TSSignedAttribute*>(static_cast<IPKISignedAttribute*>(attribute));
        EXPECT_EQ(a->type, "1.2.840.113549.1.9.16.2.14");
        EXPECT_EQ(a->value, value);
        a->Release();
    }

    auto* signer = new fake::TSSigner(lib);
    Drop d1{static_cast<IPKISignerInfo*>(signer)};
    auto* token = new fake::TSSignedData(lib);
    token->encoding = "the token's encoding";
    signer->tokens.push_back(static_cast<IPKISignedDataSigners*>(token));
    PKIBlob out{0, nullptr};
    ASSERT_EQ(f.GetTimeStampTokenBlob(signer, 0, &out), 1);
    EXPECT_EQ(Text(out), "the token's encoding");
    f.ReleaseBlob(&out);
    EXPECT_EQ(f.GetTimeStampTokenBlob(signer, 1, &out), 0);
    lib.Answer(PKI_CLASS_SIGNED_DATA, 32, {0, PKI_E_FAILURE});  // the length, then a failed encoding
    EXPECT_EQ(f.GetTimeStampTokenBlob(signer, 0, &out), 0);
    EXPECT_EQ(out.data, nullptr);

    auto* message = new fake::TSSignedData(lib);
    Drop d2{static_cast<IPKISignedDataSigners*>(message)};
    lib.version = 269;
    EXPECT_EQ(f.SetContentCertificates(message, signer), 0);
    lib.version = 270;
    EXPECT_EQ(f.SetContentCertificates(message, signer), 1);
    EXPECT_EQ(message->certificateList, static_cast<IPKIObject*>(static_cast<IPKISignerInfo*>(signer)));
}

TEST_F(Recipients, RecipientIsAddedByIssuerSerialAndKeyIdentifier)
{
    auto* builder = new fake::TSEnveloped(lib);
    auto* cert = Certificate(0x42, '\x7e');
    Drop d1{static_cast<IPKIEnvelopedRecipients*>(builder)}, d2{static_cast<IPKICertificate*>(cert)};
    ASSERT_EQ(f.AddRecipientOfCertificate(builder, cert, 5), 1);
    ASSERT_EQ(f.AddRecipientOfCertificate(builder, nullptr, 6), 1);
    ASSERT_EQ(builder->added.size(), 2u);
    EXPECT_EQ(builder->added[0],
              "12," + fake::Hex(reinterpret_cast<const std::uint8_t*>(fake::SerialInteger(cert->serial).data()), 22) +
                  ",7e7e7e7e,5");
    EXPECT_EQ(builder->added[1], "-,-,-,6");
    lib.Answer(4909, 64, {PKI_E_FAILURE});
    EXPECT_EQ(f.AddRecipientOfCertificate(builder, cert, 5), 0);
    lib.version = 269;
    EXPECT_EQ(f.AddRecipientOfCertificate(builder, cert, 5), 0);
}

// Entries are walked with their index arithmetic: a removed entry leaves the
// index where it is, a key taken out of a shared entry moves it on.
TEST_F(Recipients, RecipientsOfACertificateAreRemoved)
{
    auto* cert = Certificate(0x42, '\x01');
    auto* twin = Certificate(0x43, '\x02');  // same issuer, serial differs in its last byte
    Drop d1{static_cast<IPKICertificate*>(cert)}, d2{static_cast<IPKICertificate*>(twin)};
    auto* env = new fake::TSEnveloped(lib);
    Drop d3{static_cast<IPKIEnvelopedRecipients*>(env)};
    auto entry = [&](std::uint32_t kind, std::vector<PKIRecipientIdentifier> keys) {
        auto* r = new fake::TSRecipient(lib, kind);
        r->keys = std::move(keys);
        env->entries.push_back(r);
    };
    entry(1, {fake::RecipientOf(*cert, 1)});                               // removed
    entry(1, {fake::RecipientOf(*cert, 2)});                               // removed (same index)
    entry(1, {fake::RecipientOf(*twin, 1)});                               // stays
    entry(2, {fake::RecipientOf(*twin, 1), fake::RecipientOf(*cert, 2)});  // loses one key
    entry(2, {fake::RecipientOf(*cert, 1)});                               // removed whole
    entry(2, {fake::RecipientOf(*twin, 2)});                               // stays
    std::uint32_t count = 99;
    ASSERT_EQ(f.RemoveRecipientsOfCertificate(env, cert, &count), 1);
    EXPECT_EQ(count, 4u);
    ASSERT_EQ(env->entries.size(), 3u);
    EXPECT_EQ(env->entries[0]->keys[0].serial[19], 0x43);
    ASSERT_EQ(env->entries[1]->keys.size(), 1u);
    EXPECT_EQ(env->entries[1]->keys[0].serial[19], 0x43);
    EXPECT_EQ(env->entries[2]->keys[0].keyIdentifier[0], 2);
    // Nothing of its own left: success, none counted.
    ASSERT_EQ(f.RemoveRecipientsOfCertificate(env, cert, &count), 1);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(env->entries.size(), 3u);
}

// Without a key argument the certificate's key parameters receive the
// holder's flags and, when the holder has one, its context masked by them.
TEST_F(Recipients, AgreementKeyTakesTheHoldersContext)
{
    auto* cert = Certificate(0x42, '\x01');
    auto* outer = Certificate(0x50, '\x09');
    Drop d1{static_cast<IPKICertificate*>(cert)}, d2{static_cast<IPKICertificate*>(outer)};
    outer->inner = cert;  // the inner certificate is the one used
    fake::ContextRecord record;
    cert->context = &record;
    auto* entry = new fake::TSRecipient(lib, 2);
    Drop d3{static_cast<IPKIRecipientEntry*>(entry)};

    CSPContextHolder holder{};
    holder.usable = 1;
    holder.contextPresent = 1;
    holder.contextFlags = 6;
    holder.context.prng = reinterpret_cast<void*>(0x1234);
    ASSERT_EQ(f.SetRecipientAgreementKey(entry, nullptr, &holder, outer), 1);
    EXPECT_EQ(record.given, "flags:6;context:4:4660;");  // 5 & 6 = 4
    EXPECT_EQ(entry->agreement, "zero,0,4,12,22");       // issuer of 12 characters, 22-byte serial

    // A holder without a context gives its flags only; none at all leaves
    // the parameters alone.
    record.given.clear();
    holder.context = CSPContext{};
    ASSERT_EQ(f.SetRecipientAgreementKey(entry, nullptr, &holder, cert), 1);
    EXPECT_EQ(record.given, "flags:6;");
    record.given.clear();
    ASSERT_EQ(f.SetRecipientAgreementKey(entry, nullptr, nullptr, cert), 1);
    EXPECT_EQ(record.given, "");

    // Parameters without interface 4215 refuse a holder's own context that
    // may not give way to the CSP's.
    cert->context = nullptr;
    holder.context.prng = reinterpret_cast<void*>(0x1234);
    holder.useOwnContext = 0;
    EXPECT_EQ(f.SetRecipientAgreementKey(entry, nullptr, &holder, cert), 0);
    holder.useOwnContext = 1;
    EXPECT_EQ(f.SetRecipientAgreementKey(entry, nullptr, &holder, cert), 1);
}

TEST(RecipientSweeps, NothingStaysBehind)
{
    fake::SweepFailures(
        "RemoveRecipientsOfCertificate",
        [](SPKIFormats& f, fake::Library& lib) {
            auto* cert = new fake::TSCertificate(lib, L"CN=R", 1);
            auto* env = new fake::TSEnveloped(lib);
            for (std::uint32_t kind : {1u, 2u}) {
                auto* r = new fake::TSRecipient(lib, kind);
                r->keys = {fake::RecipientOf(*cert, 1), fake::RecipientOf(*cert, 2)};
                env->entries.push_back(r);
            }
            std::uint32_t count = 0;
            int rc = f.RemoveRecipientsOfCertificate(env, cert, &count);
            env->Release();
            cert->Release();
            return rc;
        },
        true);
    fake::SweepFailures(
        "ParseContentInfoType",
        [](SPKIFormats& f, fake::Library& lib) {
            fake::UseContentObjects(lib);
            auto* content = new fake::TSContent(lib);
            const std::string encoded = "encoded";
            PKIBlob in = View(encoded), out{0, nullptr};
            std::uint32_t isSigned = 0;
            int rc = f.ParseContentInfoType(content, &in, &isSigned, &out);
            f.ReleaseBlob(&out);
            content->Release();
            return rc;
        },
        true);
    fake::SweepFailures(
        "GetTimeStampTokenBlob",
        [](SPKIFormats& f, fake::Library& lib) {
            auto* signer = new fake::TSSigner(lib);
            signer->tokens.push_back(static_cast<IPKISignedDataSigners*>(new fake::TSSignedData(lib)));
            PKIBlob out{0, nullptr};
            int rc = f.GetTimeStampTokenBlob(signer, 0, &out);
            f.ReleaseBlob(&out);
            signer->Release();
            return rc;
        },
        true);
}

// Signing with a key object: the signing time unless kept, the signer's
// DSTU 7564 view deciding the path, and the key's own signing slot.
TEST_F(Recipients, SignersAreSignedWithKeyObjects)
{
    auto* cert = Certificate(1, '\x01');
    auto* key = new fake::KeyObject(lib);
    Drop d1{static_cast<IPKICertificate*>(cert)}, d2{static_cast<IPKIKeyObject*>(key)};
    key->dstuPrivate = {1, 2, 3, 4, 5};
    key->rsaPrivate[0] = 0xAA;
    struct Case {
        std::uint32_t hashKind, keepTime, usage;
        int result;
        int times;
        std::string signedWith;
    } cases[] = {
        {0, 0, 0x01, 1, 1, "79:0102030405,parameters"},
        {0, 1, 0x02, 1, 0, "79:0102030405,parameters"},
        {1, 0, 0x01, 1, 1, "79:0102030405,parameters"},
        {3, 0, 0x01, 1, 1, "130:3,32"},
        {2, 0, 0x01, 0, 1, ""},
        {0, 0, 0x04, 0, 0, ""},
    };
    for (const Case& k : cases) {
        cert->keyUsageBits = k.usage;
        auto* signer = new fake::TSSigner(lib, k.hashKind);
        Drop d{static_cast<IPKISignerInfo*>(signer)};
        EXPECT_EQ(f.SignSignerWithKey(signer, key, cert, k.keepTime), k.result) << k.hashKind << "/" << k.usage;
        EXPECT_EQ(signer->timesWritten, k.times) << k.hashKind << "/" << k.usage;
        EXPECT_EQ(signer->signedWith, k.signedWith) << k.hashKind << "/" << k.usage;
    }
    // RSA: through the certificate's RSA view, and the signer's hash-length
    // view when it has one.
    auto* ec = Certificate(2, '\x02');
    auto* rsa = Certificate(3, '\x03');
    Drop d3{static_cast<IPKICertificate*>(ec)}, d4{static_cast<IPKICertificate*>(rsa)};
    ec->kind = 4;
    rsa->kind = 2;
    rsa->keyUsageBits = 0x02;
    ec->keyUsageBits = 0x04;  // its own usage does not count
    auto* signer = new fake::TSSigner(lib);
    Drop d5{static_cast<IPKISignerInfo*>(signer)};
    EXPECT_EQ(f.SignSignerRSA(signer, key, ec, 0), 0);  // no RSA view
    ec->rsaView = rsa;
    ASSERT_EQ(f.SignSignerRSA(signer, key, ec, 0), 1);
    EXPECT_EQ(signer->signedWith.substr(0, 11), "89:aa000000");
    signer->OfferHashLengthView();
    ASSERT_EQ(f.SignSignerRSA(signer, key, rsa, 1), 1);
    EXPECT_EQ(signer->signedWith, "117");
    // The last signer of a message.
    auto* message = new fake::TSSignedData(lib);
    Drop d6{static_cast<IPKISignedDataSigners*>(message)};
    EXPECT_EQ(f.SignLastSignerWithKey(message, key, nullptr, 0), 0);
    message->signers = {new fake::TSSigner(lib), new fake::TSSigner(lib)};
    cert->keyUsageBits = 1;
    ASSERT_EQ(f.SignLastSignerWithKey(message, key, cert, 0), 1);
    ASSERT_EQ(f.SignLastSignerRSA(message, key, rsa, 0), 1);
    EXPECT_EQ(message->signers[0]->signedWith, "");
    EXPECT_EQ(message->signers[1]->signedWith.substr(0, 3), "89:");
}

TEST_F(Recipients, SignerAttributeCertificateAndHolder)
{
    auto* signer = new fake::TSSigner(lib);
    Drop d{static_cast<IPKISignerInfo*>(signer)};
    const char* oid = "1.2.840.113549.1.9.5";
    PKIBlob value{0, nullptr};
    EXPECT_EQ(f.GetSignerAttributeValueDirect(signer, oid, &value), 0);  // none
    signer->attributes[oid] = {"one"};
    ASSERT_EQ(f.GetSignerAttributeValueDirect(signer, oid, &value), 1);
    EXPECT_EQ(Text(value), "one");
    f.ReleaseBlob(&value);
    signer->attributes[oid].push_back("two");  // exactly one is required
    EXPECT_EQ(f.GetSignerAttributeValueDirect(signer, oid, &value), 0);
    EXPECT_EQ(value.data, nullptr);

    const std::string encoded = "certificate";
    PKIBlob in = View(encoded);
    ASSERT_EQ(f.SetSignerDecodedCertificate(signer, &in), 1);
    EXPECT_NE(signer->certificate, nullptr);
    PKIBlob none{0, nullptr};
    EXPECT_EQ(f.SetSignerDecodedCertificate(signer, &none), 0);

    void* holder = nullptr;
    lib.log.clear();
    ASSERT_EQ(f.CreateHolderFromBlob(&in, &holder), 1);
    EXPECT_EQ(lib.log.at(0), "0:10(4940,1)");
    static_cast<IPKIObject*>(holder)->Release();
    EXPECT_EQ(f.CreateHolderFromBlob(&none, &holder), 0);
    EXPECT_EQ(holder, nullptr);
}

// A detached object without content form has nothing embedded; an absent
// embedded object (code 11) is no failure.
TEST_F(Recipients, EmbeddedObjectAndContentInfo)
{
    auto* token = new fake::TSSignedData(lib);
    Drop d{static_cast<IPKISignedDataSigners*>(token)};
    struct Case {
        std::uint32_t form, detached;
        int answer;
        int result;
        std::uint32_t flag;
        std::string encoded;
    } cases[] = {
        {0, 1, 0, 1, 0, ""},
        {1, 1, 0, 1, 1, "embedded"},
        {0, 0, 0, 1, 1, "embedded"},
        {1, 0, PKI_E_ABSENT, 1, 0, ""},
        {1, 0, PKI_E_FAILURE, 0, 9, ""},
    };
    for (const Case& k : cases) {
        token->contentForm = k.form;
        token->detached = k.detached;
        token->embeddedAnswer = k.answer;
        std::uint32_t flag = 9;
        PKIBlob out{0, nullptr};
        EXPECT_EQ(f.GetEmbeddedObject(token, &flag, &out), k.result) << k.form << k.detached << k.answer;
        EXPECT_EQ(flag, k.flag);
        EXPECT_EQ(Text(out), k.encoded);
        f.ReleaseBlob(&out);
    }
    const std::string encoded = "content info";
    PKIBlob in = View(encoded);
    lib.version = 258;
    EXPECT_EQ(f.AttachContentInfo(token, &in), 0);
    lib.version = 259;
    ASSERT_EQ(f.AttachContentInfo(token, &in), 1);
    EXPECT_TRUE(token->contentInfoSet);
}

// The key-agreement group whose recipient is the certificate (issuer and the
// whole 20-byte serial, or the 32-byte key identifier) gives its originator
// in the originator's form; the extra value is read from version 267 on.
TEST_F(Recipients, OriginatorOfTheCertificatesKeyAgreementGroup)
{
    auto* enveloped = new fake::EnvelopedData(lib);
    Drop de{static_cast<IPKIEnvelopedData*>(enveloped)};
    auto serialOf = [](std::uint8_t last) {
        std::string s(20, '\0');
        s[0] = 0x11;
        s[19] = static_cast<char>(last);
        return s;
    };
    fake::RecipientId byName, byKey, byValue, entry1, entry2, entry3;
    byName.issuer = L"CN=Originator";
    byName.serial = std::string(20, '\x07');
    byKey.kind = 2;
    byKey.keyId = std::string(32, '\x44');
    byValue.kind = 3;
    entry1.issuer = entry3.issuer = L"CN=Recipient";
    entry1.serial = serialOf(0x30);
    entry3.serial = serialOf(0x32);
    entry2.kind = 2;
    entry2.keyId = std::string(32, 'K');
    enveloped->groups = {new fake::AgreementGroup(lib, byName, {entry1}),
                         new fake::AgreementGroup(lib, byKey, {entry2}),
                         new fake::AgreementGroup(lib, byValue, {entry3})};
    struct Case {
        std::uint8_t last;
        char keyByte;
        std::uint32_t version;
        int result;
        std::uint32_t form, extra;
    } cases[] = {
        {0x30, 'Z', 267, 1, 1, 0x2A},  // issuer and serial
        {0x30, 'Z', 266, 1, 1, 0},     // below 267 no extra value
        {0x31, 'K', 270, 1, 2, 0},     // key identifier (the near serial of group 0 does not match)
        {0x32, 'Z', 270, 1, 3, 0},     // originator public key
        {0x33, 'Z', 270, 0, 99, 99},   // no group of this recipient
    };
    for (const Case& k : cases) {
        auto* cert = Certificate(k.last, k.keyByte);
        Drop dc{static_cast<IPKICertificate*>(cert)};
        cert->keyUsageBits = 0x10;
        lib.version = k.version;
        std::uint32_t form = 99, extra = 99, keyLength = 99;
        char issuer[64] = "untouched";
        std::uint8_t serial[20] = {}, keyId[32] = {}, key[76] = {};
        ASSERT_EQ(
            f.FindRecipientOriginator(enveloped, cert, &form, &extra, issuer, serial, keyId, key, &keyLength, nullptr),
            k.result)
            << int(k.last);
        EXPECT_EQ(form, k.form) << int(k.last);
        if (k.form == 1) {
            EXPECT_STREQ(issuer, "CN=Originator");
            EXPECT_EQ(extra, k.extra);
            EXPECT_EQ(std::string(reinterpret_cast<char*>(serial), 20), byName.serial);
        } else {
            EXPECT_STREQ(issuer, "untouched") << int(k.last);
        }
        if (k.form == 2) {
            EXPECT_EQ(std::string(reinterpret_cast<char*>(keyId), 32), byKey.keyId);
        }
        if (k.form == 3) {
            EXPECT_EQ(key[0], 0x3C);
            EXPECT_EQ(key[75], 0x3C);
            EXPECT_EQ(keyLength, 33u);
        } else {
            EXPECT_EQ(keyLength, 99u) << int(k.last);
        }
    }

    // The key-agreement usage is required, of the inner certificate when
    // there is one; the inner certificate's identity is the one looked for.
    auto* outer = Certificate(0x77, 'Z');
    auto* inner = Certificate(0x32, 'Z');
    Drop d1{static_cast<IPKICertificate*>(outer)}, d2{static_cast<IPKICertificate*>(inner)};
    std::uint32_t form = 0;
    EXPECT_EQ(f.FindRecipientOriginator(enveloped, inner, &form, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                        nullptr),
              0);  // digital signature only
    inner->keyUsageBits = 0x10;
    outer->inner = inner;
    ASSERT_EQ(f.FindRecipientOriginator(enveloped, outer, &form, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                        nullptr),
              1);
    EXPECT_EQ(form, 3u);
    // The enveloped-data operation of the same name forwards here.
    form = 0;
    ASSERT_EQ(f.FindRecipientOriginatorEntry(enveloped, outer, &form, nullptr, nullptr, nullptr, nullptr, nullptr,
                                             nullptr, nullptr),
              1);
    EXPECT_EQ(form, 3u);
}
