// The signature-value imprints the facade computes itself, over the real CSP
// on the stand-in provider libraries, against the published DSTU 7564
// answers (the messages are the standard's byte sequences 00 01 02 ...).
#include "KeyProviders.h"

using namespace keytest;

namespace {

Bytes Unhex(const std::string& hex)
{
    Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return out;
}

Bytes Counting(std::size_t n)
{
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i);
    return b;
}

class SignatureValueImprints : public Providers {};

}  // namespace

TEST_F(SignatureValueImprints, DSTU7564ImprintsEqualThePublishedAnswers)
{
    struct Case {
        std::size_t messageBytes;
        std::uint32_t hashBytes;
        const char* expected;
    };
    const Case cases[] = {
        {64, 32, "08F4EE6F1BE6903B324C4E27990CB24EF69DD58DBE84813EE0A52F6631239875"},
        {128, 32, "0A9474E645A7D25E255E9E89FFF42EC7EB31349007059284F0B182E452BDA882"},
        {64, 64,
         "3813E2109118CDFB5A6D5E72F7208DCCC80A2DFB3AFDFB02F46992B5EDBE536B3560DD1D7E29C6F53978AF58B444E37BA685C0DD91053"
         "3BA5D78EFFFC13DE62A"},
    };
    for (const Case& c : cases) {
        auto* signer = new fake::CmsSigner(lib);
        signer->signatureValue = Counting(c.messageBytes);
        Bytes hash(c.hashBytes);
        ASSERT_EQ(facade->HashSignatureValueDSTU7564(signer, 3, c.hashBytes, hash.data()), 1);
        EXPECT_EQ(hash, Unhex(c.expected)) << c.messageBytes << "/" << c.hashBytes;
        // Only hash kind 3 is DSTU 7564.
        EXPECT_EQ(facade->HashSignatureValueDSTU7564(signer, 1, c.hashBytes, hash.data()), 0);
        signer->Release();
    }
}

// A signature value of the largest DSTU 4145 signature is hashed; one byte
// more is refused before it is read.
TEST_F(SignatureValueImprints, DSTU7564SignatureValuesUpTo152Bytes)
{
    auto* signer = new fake::CmsSigner(lib);
    signer->signatureValue = Counting(PKIF_DSTU4145_SIGNATURE_MAX);
    Bytes hash(32), direct(32);
    ASSERT_EQ(facade->HashSignatureValueDSTU7564(signer, 3, 32, hash.data()), 1);
    ASSERT_EQ(csp->HashDSTU7564(signer->signatureValue.data(), PKIF_DSTU4145_SIGNATURE_MAX, nullptr, 32, direct.data()),
              CSP_OK);
    EXPECT_EQ(hash, direct);
    signer->signatureValue = Counting(PKIF_DSTU4145_SIGNATURE_MAX + 1);
    lib.log.clear();
    EXPECT_EQ(facade->HashSignatureValueDSTU7564(signer, 3, 32, hash.data()), 0);
    EXPECT_EQ(lib.log, std::vector<std::string>{"4918:70(length)"});
    signer->Release();
}

namespace {

class ECDSAOverCSPI : public Providers {
protected:
    // A certificate of an EC key whose record asks for a field of `bits`.
    fake::CmsCertificate* ECCertificate(std::uint32_t bits)
    {
        auto* certificate = new fake::CmsCertificate(lib, 4);
        certificate->ec.record[0] = static_cast<std::uint8_t>(bits);
        certificate->ec.record[1] = static_cast<std::uint8_t>(bits >> 8);
        std::memset(certificate->ec.point.data(), 0x44, certificate->ec.point.size());
        return certificate;
    }
    void UseMessageObjects()
    {
        lib.makers[{PKI_CLASS_SIGNED_DATA, PKI_IID_SIGNED_DATA}] = [this]() -> void* {
            return static_cast<IPKISignedData*>(new fake::CmsSignedData(lib));
        };
        lib.makers[{PKI_CLASS_SIGNER_INFO, PKI_IID_SIGNER_INFO}] = [this]() -> void* {
            return static_cast<IPKISignerInfo*>(new fake::CmsSigner(lib, false));
        };
        lib.makers[{PKI_CLASS_SIGNING_CERTIFICATE, PKI_IID_SIGNING_CERTIFICATE}] = [this]() -> void* {
            return static_cast<IPKISigningCertificate*>(new fake::SigningCertificate(lib));
        };
        fake::UseCmsInteger(lib);
    }
};

PKIBlob Text(const std::string& s)
{
    return PKIBlob{static_cast<std::uint32_t>(s.size()), reinterpret_cast<std::uint8_t*>(const_cast<char*>(s.data()))};
}

}  // namespace

// Without an explicit size the certificate's named curve (chosen by the
// CSPI from the field size) gives the hash, and so the digest OID.
TEST_F(ECDSAOverCSPI, TheCurvesHashSizeChoosesTheDigest)
{
    UseMessageObjects();
    struct Case {
        std::uint32_t fieldBits;
        const char* oid;
        std::uint32_t hashBits;
    };
    const Case cases[] = {{192, "1.3.14.3.2.26", 160},
                          {224, "2.16.840.1.101.3.4.2.4", 224},
                          {256, "2.16.840.1.101.3.4.2.1", 256},
                          {521, "2.16.840.1.101.3.4.2.3", 512}};
    auto* key = new fake::Generic(lib, 4893);
    key->View(4128);
    const std::string text = "hello";
    PKIBlob content = Text(text);
    for (const Case& c : cases) {
        auto* certificate = ECCertificate(c.fieldBits);
        void* out = nullptr;
        ASSERT_EQ(facade->CreateSignedDataOfDataECDSA(&content, 0, key, certificate, &out, nullptr, 0), 1);
        auto* message =
            static_cast<fake::CmsSignedData*>(static_cast<IPKISignedDataSigners*>(static_cast<IPKISignedData*>(out)));
        EXPECT_EQ(message->digests, std::vector<std::string>{c.oid}) << c.fieldBits;
        EXPECT_EQ(message->signers[0]->digestSet, "content:" + std::to_string(c.hashBits) + ":hello");
        message->Release();
        certificate->Release();
    }
    key->Release();
}

// Caller data and the message's content must be equal when both are given;
// a hash is verified with the signer's hash size; a signer's certificate
// without a signing usage is refused.
TEST_F(ECDSAOverCSPI, VerificationCoversTheMessagesContentAndOnlyEqualData)
{
    auto* certificate = ECCertificate(256);
    struct Case {
        const char* name;
        std::string messageContent;
        const char* data;
        int result;
        const char* verified;
    };
    const Case cases[] = {
        {"content, same data", "signed text", "signed text", 1, "signed text"},
        {"content, other data", "signed text", "signed texT", 0, ""},
        {"content, no data", "signed text", nullptr, 1, "signed text"},
        {"detached, data", "", "detached data", 1, "detached data"},
        {"detached, no data", "", nullptr, 0, ""},
    };
    for (const Case& c : cases) {
        auto* data = new fake::CmsSignedData(lib);
        auto* signer = new fake::CmsSigner(lib, false);
        signer->standardAttributes = 0;
        data->signers.push_back(signer);
        data->hasContent = !c.messageContent.empty();
        data->content = c.messageContent;
        std::string given = c.data ? c.data : "";
        PKIBlob blob = Text(given);
        EXPECT_EQ(facade->VerifySignerECDSA(data, 0, c.data ? &blob : nullptr, certificate, nullptr), c.result)
            << c.name;
        EXPECT_EQ(signer->verified, c.verified) << c.name;
        data->Release();
    }
    auto* data = new fake::CmsSignedData(lib);
    auto* signer = new fake::CmsSigner(lib, false);
    signer->standardAttributes = 0;
    signer->hashBits = 384;
    data->signers.push_back(signer);
    const Bytes hash(64, 0x0F);
    EXPECT_EQ(facade->VerifySignerECDSA(data, 0, nullptr, certificate, hash.data()), 1);
    std::string expected;
    for (int i = 0; i < 48; ++i) expected += "0f";
    EXPECT_EQ(signer->verified, expected);
    signer->hashBits = 200;  // not a SHA size
    EXPECT_EQ(facade->VerifySignerECDSA(data, 0, nullptr, certificate, hash.data()), 0);
    signer->hashBits = 384;
    certificate->usage = 0x10;
    EXPECT_EQ(facade->VerifySignerECDSA(data, 0, nullptr, certificate, hash.data()), 0);
    data->Release();
    certificate->Release();
}

// The ECDSA imprint of a signature value takes the hash size of the
// certificate's curve (SHA-1 without a certificate); over "abc" it gives the
// published SHA answers.
TEST_F(ECDSAOverCSPI, ECDSAImprintsFollowTheCurveAndGiveThePublishedAnswers)
{
    auto* signer = new fake::TSSigner(lib);
    signer->signature = {'a', 'b', 'c'};
    struct Case {
        std::uint32_t fieldBits;  // 0: no certificate
        std::uint32_t bits;
        const char* expected;
    };
    const Case cases[] = {
        {0, 160, "A9993E364706816ABA3E25717850C26C9CD0D89D"},
        {256, 256, "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD"},
        {521, 512,
         "DDAF35A193617ABACC417349AE20413112E6FA4E89A97EA20A9EEEE64B55D39A2192992A274FC1A836BA3C23A3FEEBBD454D4423643CE"
         "80E"
         "2A9AC94FA54CA49F"},
    };
    for (const Case& c : cases) {
        auto* certificate = c.fieldBits ? ECCertificate(c.fieldBits) : nullptr;
        std::uint32_t bits = 0;
        Bytes hash(64, 0);
        ASSERT_EQ(facade->HashSignatureValueECDSA(signer, certificate, &bits, hash.data()), 1) << c.fieldBits;
        EXPECT_EQ(bits, c.bits);
        EXPECT_EQ(Bytes(hash.begin(), hash.begin() + c.bits / 8), Unhex(c.expected)) << c.fieldBits;
        if (certificate) certificate->Release();
    }
    signer->Release();
}

// The enveloped form verifies what the message itself carries; a message
// without content, a signature the library refuses or a certificate
// without a signing usage fail.
TEST_F(ECDSAOverCSPI, EnvelopedVerificationCoversTheMessagesOwnContent)
{
    auto* certificate = ECCertificate(256);
    struct Case {
        const char* name;
        std::string messageContent;
        int libraryAnswer;
        std::uint32_t usage;
        int result;
        const char* verified;
    };
    const Case cases[] = {
        {"content", "carried text", 0, 0x01, 1, "carried text"},
        {"non-repudiation only", "carried text", 0, 0x02, 1, "carried text"},
        {"no content", "", 0, 0x01, 0, ""},
        {"refused signature", "carried text", PKI_E_FAILURE, 0x01, 0, "carried text"},
        {"no signing usage", "carried text", 0, 0x10, 0, ""},
    };
    for (const Case& c : cases) {
        auto* data = new fake::CmsSignedData(lib);
        auto* signer = new fake::CmsSigner(lib, false);
        signer->standardAttributes = 0;
        signer->verifyAnswer = c.libraryAnswer;
        data->signers.push_back(signer);
        data->hasContent = !c.messageContent.empty();
        data->content = c.messageContent;
        certificate->usage = c.usage;
        EXPECT_EQ(facade->VerifySignerEnvelopedECDSA(data, 0, certificate), c.result) << c.name;
        EXPECT_EQ(signer->verified, c.verified) << c.name;
        // An index past the signers finds none.
        EXPECT_EQ(facade->VerifySignerEnvelopedECDSA(data, 1, certificate), 0) << c.name;
        data->Release();
    }
    certificate->Release();
}
