// Key preparation over the real CSP on the stand-in crypto libraries: a
// DSTU 4145 pair the CSP makes is confirmed against its certificate and a
// foreign public key refused; the parameter blocks handed to the content
// cipher; key parameter records compared after the CSP's check.
#include <algorithm>

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
    static Bytes Words(const std::uint32_t* words) { return Bytes(reinterpret_cast<const std::uint8_t*>(words), reinterpret_cast<const std::uint8_t*>(words) + 64); }
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
                                              static_cast<IPKICertificate*>(own), out, &length, &keyObject,
                                              parameters, &flag),
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
