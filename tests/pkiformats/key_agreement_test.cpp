// Key preparation over the real CSP on the stand-in crypto libraries: a
// DSTU 4145 pair the CSP makes is confirmed against its certificate and a
// foreign public key refused; the parameter blocks handed to the content
// cipher; key parameter records compared after the CSP's check.
#include <algorithm>
#include <functional>

#include "KeyProviders.h"

using namespace keytest;

namespace {

class KeyAgreement : public Providers {
protected:
    void SetUp() override
    {
        Providers::SetUp();
        fake::UseEnvelopedObjects(lib);
    }
    // A certificate for `publicKey` on `curve` with the usage bits given.
    fake::AgreementCertificate* Certificate(const fake::Curve& curve, const Bytes& publicKey, std::uint32_t usage)
    {
        auto* c = new fake::AgreementCertificate(lib, 1, usage);
        c->curve = curve;
        c->publicKey = publicKey;
        return c;
    }
    Bytes StandardSBox(unsigned index)
    {
        GOST28147PackedSBox sBox;
        EXPECT_NE(csp->Parameters().GetStandardSBox(index, &sBox), 0);
        const auto* p = reinterpret_cast<const std::uint8_t*>(&sBox);
        return Bytes(p, p + 64);
    }
    static Bytes Words(const std::uint32_t* words)
    {
        return Bytes(reinterpret_cast<const std::uint8_t*>(words), reinterpret_cast<const std::uint8_t*>(words) + 64);
    }
};

}  // namespace

// The own key and the certificate's public key form a pair the CSP made:
// confirmed, and the key, its length, the curve's S-box as parameter block
// and the parameter object are handed out. Another pair's public key (same
// curve) is refused with the key output left zero; so is a certificate
// without key agreement.
TEST_F(KeyAgreement, APairMadeByTheCSPIsConfirmedAndAForeignKeyRefused)
{
    fake::Curve curve = StandardCurve(3);
    std::memcpy(curve.sBox, StandardSBox(2).data(), 64);
    Bytes publicKey, foreignPublic;
    fake::KeyObject* key = DSTU4145Key(curve, &publicKey);
    Drop dk{static_cast<IPKIKeyObject*>(key)};
    Drop df{static_cast<IPKIKeyObject*>(DSTU4145Key(curve, &foreignPublic))};
    auto* own = Certificate(curve, publicKey, 0x11);
    Drop dc{static_cast<IPKICertificate*>(own)};
    auto* foreign = Certificate(curve, foreignPublic, 0x10);
    Drop dfc{static_cast<IPKICertificate*>(foreign)};
    auto* signingOnly = Certificate(curve, publicKey, 0x01);
    Drop ds{static_cast<IPKICertificate*>(signingOnly)};

    for (std::uint32_t staticForm : {0u, 1u}) {
        std::uint8_t out[76];
        std::memset(out, 0xEE, sizeof out);
        std::uint32_t length = 0, parameters[16] = {}, flag = 9;
        void* keyObject = nullptr;
        ASSERT_EQ(facade->PrepareKeyAgreement(staticForm, 0, static_cast<IPKIKeyObject*>(key),
                                              static_cast<IPKICertificate*>(own), out, &length, &keyObject, parameters,
                                              &flag),
                  1);
        EXPECT_EQ(Bytes(out, out + 76), key->dstuPrivate);
        EXPECT_EQ(length, 76u);
        EXPECT_EQ(Words(parameters), StandardSBox(2));
        EXPECT_EQ(flag, 0u);
        ASSERT_NE(keyObject, nullptr);
        static_cast<IPKIObject*>(keyObject)->Release();
    }
    for (auto* certificate : {foreign, signingOnly}) {
        std::uint8_t out[76];
        std::memset(out, 0xEE, sizeof out);
        std::uint32_t length = 5, parameters[16];
        void* keyObject = nullptr;
        EXPECT_EQ(facade->PrepareKeyAgreement(1, 1, static_cast<IPKIKeyObject*>(key),
                                              static_cast<IPKICertificate*>(certificate), out, &length, &keyObject,
                                              parameters, nullptr),
                  0);
        EXPECT_TRUE(std::all_of(out, out + 76, [](std::uint8_t b) { return b == 0; }));
        EXPECT_EQ(length, 0u);
        EXPECT_EQ(keyObject, nullptr);
    }
}

// Enveloped data for recipients: with a sender key the prepared key goes to
// the recipient (kind 4, the certificate's issuer) and the curve's S-box to
// the cipher; without one the cipher takes standard S-box 0. The recipients
// added by issuer and serial carry the certificate's public key.
TEST_F(KeyAgreement, RecipientsAreAddedWithThePreparedKeysAndParameterBlocks)
{
    fake::Curve curve = StandardCurve(0);
    std::memcpy(curve.sBox, StandardSBox(1).data(), 64);
    Bytes publicKey;
    fake::KeyObject* key = DSTU4145Key(curve, &publicKey);
    Drop dk{static_cast<IPKIKeyObject*>(key)};
    auto* certificate = Certificate(curve, publicKey, 0x10);
    Drop dc{static_cast<IPKICertificate*>(certificate)};

    void* out = nullptr;
    ASSERT_EQ(facade->CreateEnvelopedDataForRecipients(1, static_cast<IPKIKeyObject*>(key),
                                                       static_cast<IPKICertificate*>(certificate), &out),
              1);
    Drop de{static_cast<IPKIObject*>(out)};
    auto* e = static_cast<fake::EnvelopedData*>(static_cast<IPKIEnvelopedData*>(out));
    EXPECT_EQ(e->added, (std::vector<std::string>{"49:4:CN=Agreement CA:76"}));
    EXPECT_EQ(e->addedKey, key->dstuPrivate);
    EXPECT_EQ(Words(e->parameters.data()), StandardSBox(1));
    EXPECT_EQ(e->innerType, "1.2.840.113549.1.7.1");
    EXPECT_EQ(e->flag, 0u);

    ASSERT_EQ(facade->AddRecipientByIssuerSerial(e, static_cast<IPKICertificate*>(certificate)), 1);
    EXPECT_EQ(e->added.back(), "47:4:CN=Agreement CA:" + std::to_string((curve.field.words[DSTU4145_FIELD_M] + 7) / 8));
    EXPECT_EQ(e->addedKey, publicKey);

    void* plain = nullptr;
    ASSERT_EQ(facade->CreateEnvelopedDataForRecipients(1, nullptr, static_cast<IPKICertificate*>(certificate), &plain),
              1);
    Drop dp{static_cast<IPKIObject*>(plain)};
    auto* p = static_cast<fake::EnvelopedData*>(static_cast<IPKIEnvelopedData*>(plain));
    EXPECT_TRUE(p->added.empty());
    EXPECT_EQ(Words(p->parameters.data()), StandardSBox(0));

    // Content enveloped at once: the library gets its own copy.
    const std::string content = "enveloped content";
    PKIBlob in = View(content);
    void* full = nullptr;
    lib.log.clear();
    ASSERT_EQ(facade->EnvelopeForRecipientsDSTU4145(9, &in, 1, static_cast<IPKIKeyObject*>(key),
                                                    static_cast<IPKICertificate*>(certificate), &full),
              1);
    Drop dfull{static_cast<IPKIObject*>(full)};
    auto* fe = static_cast<fake::EnvelopedData*>(static_cast<IPKIEnvelopedData*>(full));
    EXPECT_EQ(std::string(fe->content.begin(), fe->content.end()), content);
    EXPECT_EQ(fe->innerType, "1.2.840.113549.1.7.2");
    EXPECT_NE(std::find(lib.log.begin(), lib.log.end(), "4883:67(9,0,0)"), lib.log.end());

    // A certificate whose key does not match the sender key adds nothing.
    Bytes otherPublic;
    Drop dother{static_cast<IPKIKeyObject*>(DSTU4145Key(curve, &otherPublic))};
    certificate->publicKey = otherPublic;
    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(facade->CreateEnvelopedDataForRecipients(1, static_cast<IPKIKeyObject*>(key),
                                                       static_cast<IPKICertificate*>(certificate), &none),
              0);
    EXPECT_EQ(none, nullptr);
}

// Parameter records pass the CSP's check before they are compared; the same
// curve compares equal, another curve or a damaged record does not.
TEST_F(KeyAgreement, KeyParametersCompareAfterTheCSPCheck)
{
    auto params = [&](const fake::Curve& c) { return new fake::CurveParameters(lib, c); };
    fake::Curve a = StandardCurve(2), b = StandardCurve(5), damaged = StandardCurve(2);
    damaged.point.words[0] ^= 1;
    IPKIParameters* pa = params(a);
    IPKIParameters* pa2 = params(a);
    IPKIParameters* pb = params(b);
    IPKIParameters* pd = params(damaged);
    Drop d1{pa}, d2{pa2}, d3{pb}, d4{pd};
    EXPECT_EQ(facade->CompareKeyParameters(pa, pa2), 1);
    EXPECT_EQ(facade->CompareKeyParameters(pa, pb), 0);
    EXPECT_EQ(facade->CompareKeyParameters(pa, pd), 0);
}

namespace {

// A sender key, its certificate (the originator's) and a recipient's
// certificate, each pair made by the CSP on one standard curve.
struct Parties {
    fake::Curve curve;
    Bytes senderPublic, recipientPublic;
    fake::KeyObject* sender = nullptr;
    fake::AgreementCertificate *originator = nullptr, *recipient = nullptr;
    Drop d1{nullptr}, d2{nullptr}, d3{nullptr}, d4{nullptr};
};

}  // namespace

class AgreementRecipients : public KeyAgreement {
protected:
    void Make(Parties& p)
    {
        p.curve = StandardCurve(1);
        std::memcpy(p.curve.sBox, StandardSBox(3).data(), 64);
        p.sender = DSTU4145Key(p.curve, &p.senderPublic);
        p.d1.object = static_cast<IPKIKeyObject*>(p.sender);
        p.d2.object = static_cast<IPKIKeyObject*>(DSTU4145Key(p.curve, &p.recipientPublic));
        p.originator = Certificate(p.curve, p.senderPublic, 0x10);
        p.d3.object = static_cast<IPKICertificate*>(p.originator);
        p.recipient = Certificate(p.curve, p.recipientPublic, 0x10);
        p.recipient->issuer = L"CN=Recipient CA";
        p.d4.object = static_cast<IPKICertificate*>(p.recipient);
    }
    // Opens an enveloped data that "decrypts" to `decrypted` with `type`.
    int Open(Parties& p, const std::string& decrypted, const std::string& type, int form, std::uint32_t* isSigned,
             std::string* content, fake::EnvelopedData** kept = nullptr)
    {
        auto* e = new fake::EnvelopedData(lib);
        Drop de{static_cast<IPKIEnvelopedData*>(e)};
        e->decrypted.assign(decrypted.begin(), decrypted.end());
        e->innerType = type;
        PKIBlob out{0, nullptr};
        int rc = 0;
        auto* own = static_cast<IPKIKeyObject*>(p.sender);
        auto* originator = static_cast<IPKICertificate*>(p.originator);
        auto* recipient = static_cast<IPKICertificate*>(p.recipient);
        if (form == 0) rc = facade->OpenEnvelopedForRecipient(e, own, originator, recipient, isSigned, &out);
        if (form == 1)
            rc = facade->OpenEnvelopedForRecipientStatic(e, own, originator, nullptr, p.recipientPublic.data(), 76,
                                                         isSigned, &out);
        if (form == 2) rc = facade->OpenEnvelopedDataOnly(e, own, originator, recipient, &out);
        if (form == 3)
            rc =
                facade->OpenEnvelopedForRecipientEntry(e, own, originator, nullptr, p.recipientPublic.data(), 76, &out);
        if (form == 4) rc = facade->OpenEnvelopedForRecipientEntry(e, own, originator, recipient, nullptr, 0, &out);
        content->assign(reinterpret_cast<char*>(out.data), out.length);
        facade->ReleaseBlob(&out);
        if (kept) {
            setUpKey = e->setUpKey;
            setUpPeer = e->setUpPeer;
        }
        return rc;
    }
    Bytes setUpKey, setUpPeer;
};

// Ephemeral form: the sender's prepared key and the curve's S-box become
// the originator's material and parameters; plain content goes in wrapped
// as Data, a signed message as it is.
TEST_F(AgreementRecipients, EphemeralFormSetsTheOriginatorMaterial)
{
    Parties p;
    Make(p);
    void* out = nullptr;
    ASSERT_EQ(facade->CreateEnvelopedDataForRecipient(static_cast<IPKIKeyObject*>(p.sender),
                                                      static_cast<IPKICertificate*>(p.originator), &out),
              1);
    Drop de{static_cast<IPKIObject*>(out)};
    auto* e = static_cast<fake::EnvelopedData*>(static_cast<IPKIEnvelopedData*>(out));
    EXPECT_EQ(e->added, (std::vector<std::string>{"5:CN=Agreement CA:76"}));
    EXPECT_EQ(e->addedKey, p.sender->dstuPrivate);
    EXPECT_EQ(Words(e->parameters.data()), StandardSBox(3));
    EXPECT_TRUE(e->content.empty());

    for (std::uint32_t isSigned : {0u, 1u}) {
        const std::string content = "message";
        PKIBlob in = View(content);
        void* full = nullptr;
        ASSERT_EQ(facade->EnvelopeForRecipientDSTU4145(&in, isSigned, static_cast<IPKIKeyObject*>(p.sender),
                                                       static_cast<IPKICertificate*>(p.originator), &full),
                  1);
        Drop df{static_cast<IPKIObject*>(full)};
        auto* fe = static_cast<fake::EnvelopedData*>(static_cast<IPKIEnvelopedData*>(full));
        EXPECT_EQ(std::string(fe->content.begin(), fe->content.end()), isSigned ? content : "DATA:" + content);
        EXPECT_EQ(fe->innerType, isSigned ? "1.2.840.113549.1.7.2" : "1.2.840.113549.1.7.1");
    }
    // A sender key that is not the certificate's: nothing is made.
    void* none = nullptr;
    EXPECT_EQ(facade->CreateEnvelopedDataForRecipient(static_cast<IPKIKeyObject*>(p.sender),
                                                      static_cast<IPKICertificate*>(p.recipient), &none),
              0);
    EXPECT_EQ(none, nullptr);
}

// Recipients added from their certificates carry the public key and, in
// the plain form, the parameter block; kind 1 goes to the library as 4.
TEST_F(AgreementRecipients, RecipientsAddedFromCertificatesCarryTheirKeys)
{
    Parties p;
    Make(p);
    auto* e = new fake::EnvelopedData(lib);
    Drop de{static_cast<IPKIEnvelopedData*>(e)};
    auto* recipient = static_cast<IPKICertificate*>(p.recipient);
    ASSERT_EQ(facade->AddRecipientFromKeyAgreement(e, recipient), 1);
    ASSERT_EQ(facade->AddRecipientWithKeyIdentifier(e, recipient, 1), 1);
    ASSERT_EQ(facade->AddRecipientWithKeyIdentifier(e, recipient, 2), 1);
    const std::string length = std::to_string((p.curve.field.words[DSTU4145_FIELD_M] + 7) / 8);
    EXPECT_EQ(e->added, (std::vector<std::string>{"31:CN=Recipient CA:" + length, "47:4:CN=Recipient CA:" + length,
                                                  "47:2:CN=Recipient CA:" + length}));
    EXPECT_EQ(e->addedKey, p.recipientPublic);
    EXPECT_EQ(Words(e->parameters.data()), StandardSBox(3));
    // A certificate without key agreement adds nothing.
    auto* signing = Certificate(p.curve, p.recipientPublic, 0x01);
    Drop ds{static_cast<IPKICertificate*>(signing)};
    EXPECT_EQ(facade->AddRecipientFromKeyAgreement(e, static_cast<IPKICertificate*>(signing)), 0);
    EXPECT_EQ(facade->AddRecipientByIssuerSerial(e, static_cast<IPKICertificate*>(signing)), 0);
    EXPECT_EQ(e->added.size(), 3u);
}

// The signed flag follows the inner type; Data is unwrapped to its octets;
// another type, or a signed message where only data is accepted, is
// refused. The decryption is set up with the sender's key and the peer's
// public key (the caller's own 76 bytes in the static form).
TEST_F(AgreementRecipients, OpeningReportsTheSignedFlagAndUnwrapsData)
{
    Parties p;
    Make(p);
    std::uint32_t isSigned = 9;
    std::string content;
    ASSERT_EQ(Open(p, "signed message", "1.2.840.113549.1.7.2", 0, &isSigned, &content, nullptr), 1);
    EXPECT_EQ(isSigned, 1u);
    EXPECT_EQ(content, "signed message");
    fake::EnvelopedData* kept = nullptr;
    ASSERT_EQ(Open(p, "DATA:plain", "1.2.840.113549.1.7.1", 0, &isSigned, &content, &kept), 1);
    EXPECT_EQ(isSigned, 0u);
    EXPECT_EQ(content, "plain");
    EXPECT_EQ(setUpKey, p.sender->dstuPrivate);
    EXPECT_EQ(setUpPeer, p.recipientPublic);
    lib.log.clear();
    ASSERT_EQ(Open(p, "DATA:static", "1.2.840.113549.1.7.1", 1, &isSigned, &content, &kept), 1);
    EXPECT_EQ(content, "static");
    EXPECT_EQ(setUpPeer, p.recipientPublic);
    EXPECT_NE(
        std::find_if(lib.log.begin(), lib.log.end(), [](const std::string& s) { return s.rfind("4883:10(", 0) == 0; }),
        lib.log.end());
    EXPECT_EQ(Open(p, "DATA:x", "1.2.840.113549.1.7.3", 0, &isSigned, &content), 0);
    EXPECT_EQ(Open(p, "not data", "1.2.840.113549.1.7.1", 0, &isSigned, &content), 0);
    EXPECT_EQ(Open(p, "signed", "1.2.840.113549.1.7.2", 2, &isSigned, &content), 0);
    ASSERT_EQ(Open(p, "DATA:only", "1.2.840.113549.1.7.1", 2, &isSigned, &content), 1);
    EXPECT_EQ(content, "only");
}

// One recipient's entry opens in the static form, with the recipient's own
// 76 bytes or its certificate, and gives only Data.
TEST_F(AgreementRecipients, ARecipientEntryOpensStaticallyAndOnlyToData)
{
    Parties p;
    Make(p);
    std::string content;
    for (int form : {3, 4}) {
        lib.log.clear();
        setUpPeer.clear();
        ASSERT_EQ(Open(p, "DATA:entry", "1.2.840.113549.1.7.1", form, nullptr, &content, nullptr), 1) << form;
        EXPECT_EQ(content, "entry");
        EXPECT_NE(std::find_if(lib.log.begin(), lib.log.end(),
                               [](const std::string& s) { return s.rfind("4883:10(", 0) == 0; }),
                  lib.log.end());
        EXPECT_EQ(std::find_if(lib.log.begin(), lib.log.end(),
                               [](const std::string& s) { return s.rfind("4883:11(", 0) == 0; }),
                  lib.log.end());
        fake::EnvelopedData* kept = nullptr;
        ASSERT_EQ(Open(p, "DATA:entry", "1.2.840.113549.1.7.1", form, nullptr, &content, &kept), 1);
        EXPECT_EQ(setUpKey, p.sender->dstuPrivate);
        EXPECT_EQ(setUpPeer, p.recipientPublic);
        EXPECT_EQ(Open(p, "signed message", "1.2.840.113549.1.7.2", form, nullptr, &content), 0) << form;
        EXPECT_EQ(content, "");
    }
    // A caller's key longer than 76 bytes is refused before anything is read.
    auto* e = new fake::EnvelopedData(lib);
    Drop de{static_cast<IPKIEnvelopedData*>(e)};
    Bytes longKey(77, 1);
    PKIBlob out{0, nullptr};
    lib.log.clear();
    EXPECT_EQ(facade->OpenEnvelopedForRecipientEntry(e, static_cast<IPKIKeyObject*>(p.sender),
                                                     static_cast<IPKICertificate*>(p.originator), nullptr,
                                                     longKey.data(), 77, &out),
              0);
    EXPECT_TRUE(lib.log.empty());
    EXPECT_EQ(out.data, nullptr);
}

// The originator of the group that names the certificate among its
// recipients (same issuer, same serial) is handed out; an issuer longer
// than the output's capacity is refused, the text left empty.
TEST_F(AgreementRecipients, TheOriginatorOfTheCertificatesGroupIsFound)
{
    Parties p;
    Make(p);
    auto* e = new fake::EnvelopedData(lib);
    Drop de{static_cast<IPKIEnvelopedData*>(e)};
    fake::RecipientId other, mine, originA, originB;
    other.issuer = L"CN=Recipient CA";  // same issuer, other serial
    mine.issuer = L"CN=Recipient CA";
    mine.serial = std::string(19, '\0') + '\x07';
    originA.issuer = L"CN=First originator";
    originB.issuer = L"CN=Second originator";
    originB.serial = std::string(20, '\x09');
    e->groups = {new fake::AgreementGroup(lib, originA, {other}),
                 new fake::AgreementGroup(lib, originB, {other, mine})};
    char issuer[PKIF_NAME_TEXT_BYTES];
    std::uint8_t serial[20];
    ASSERT_EQ(facade->GetOriginatorForRecipient(e, static_cast<IPKICertificate*>(p.recipient), issuer, serial), 1);
    EXPECT_STREQ(issuer, "CN=Second originator");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(serial), 20), originB.serial);
    EXPECT_EQ(facade->GetOriginatorForRecipient(e, static_cast<IPKICertificate*>(p.originator), issuer, serial), 0);
}

TEST_F(AgreementRecipients, ALongOriginatorIssuerIsRefused)
{
    Parties p;
    Make(p);
    auto* e = new fake::EnvelopedData(lib);
    Drop de{static_cast<IPKIEnvelopedData*>(e)};
    fake::RecipientId mine, origin;
    mine.issuer = L"CN=Recipient CA";
    mine.serial = std::string(19, '\0') + '\x07';
    origin.issuer = L"CN=" + std::wstring(PKIF_NAME_TEXT_BYTES, L'o');
    e->groups = {new fake::AgreementGroup(lib, origin, {mine})};
    char issuer[PKIF_NAME_TEXT_BYTES] = "x";
    std::uint8_t serial[20];
    EXPECT_EQ(facade->GetOriginatorForRecipient(e, static_cast<IPKICertificate*>(p.recipient), issuer, serial), 0);
    EXPECT_STREQ(issuer, "");
}

// Each library call of building for a recipient and of opening failing (or
// throwing) in turn leaves nothing behind and fails the whole; only the key
// object's optional context interface may be missing.
TEST_F(AgreementRecipients, FailuresLeaveNothingBehind)
{
    Parties p;
    Make(p);
    const std::function<int()> runs[] = {
        [&] {
            void* out = nullptr;
            int rc = facade->CreateEnvelopedDataForRecipients(1, static_cast<IPKIKeyObject*>(p.sender),
                                                              static_cast<IPKICertificate*>(p.originator), &out);
            if (out) static_cast<IPKIObject*>(out)->Release();
            return rc;
        },
        [&] {
            std::uint32_t isSigned = 0;
            std::string content;
            return Open(p, "DATA:plain", "1.2.840.113549.1.7.1", 0, &isSigned, &content);
        },
        [&] {
            std::string content;
            return Open(p, "DATA:plain", "1.2.840.113549.1.7.1", 3, nullptr, &content);
        },
    };
    for (const auto& run : runs) {
        const int objects = lib.LiveObjects();
        const std::size_t blobs = lib.LiveBlobs();
        const int before = lib.Calls();
        ASSERT_EQ(run(), 1);
        const int calls = lib.Calls() - before;
        for (bool throws : {false, true})
            for (int k = 1; k <= calls; ++k) {
                lib.log.clear();
                lib.FailCall(k, PKI_E_OUT_OF_MEMORY, throws);
                int rc = 0;
                EXPECT_NO_THROW(rc = run());
                EXPECT_EQ(lib.LiveObjects(), objects) << k;
                EXPECT_EQ(lib.LiveBlobs(), blobs) << k;
                EXPECT_EQ(lib.doubleReleases, 0) << k;
                EXPECT_EQ(lib.unwipedFrees, 0) << k;
                const std::string& failed = lib.log[static_cast<std::size_t>(k - 1)];
                bool optional = failed.find(":1(") != std::string::npos || failed.find(":7(") != std::string::npos ||
                                failed.find(":2(4215)") != std::string::npos;
                if (!optional) {
                    EXPECT_EQ(rc, 0) << k << (throws ? " throw " : " ") << failed;
                }
            }
        lib.FailCall(0);
    }
}
