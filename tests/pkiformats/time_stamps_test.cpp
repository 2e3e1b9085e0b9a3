// Time stamps and signer signing: signers signed through the real CSP on
// every standard curve and checked with the CSP's verification; imprints of
// signature values against the standard's published GOST 34.311 answers and
// OpenSSL's SHA; tokens, requests and time-stamp information over the test
// double.
#include <openssl/sha.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "../crypto/GostTestSBox.h"
#include "FailureSweep.h"
#include "KeyProviders.h"
#include "VirtualSlot.h"
#include "pkiformats/ContextHolders.h"

using keytest::Bytes;
using keytest::Drop;

namespace {

Bytes Hex(const char* text)
{
    Bytes out;
    for (std::size_t i = 0; text[i] && text[i + 1]; i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoi(std::string(text + i, 2), nullptr, 16)));
    return out;
}

Bytes BytesOf(const char* text)
{
    return Bytes(text, text + std::strlen(text));
}

}  // namespace

TEST(TimeStampModel, SlotTableMatchesTheDeclarations)
{
#define QVK_SLOT(cls, slot, op) EXPECT_EQ(qvktest::SlotOf(&cls::op), slot) << #cls "::" #op;
    QVK_PKI_TS_MODEL_SLOTS(QVK_SLOT)
#undef QVK_SLOT
}

// ---- Over the real providers ----

class SignerSigning : public keytest::Providers {
protected:
    // A certificate with a fresh DSTU 4145 key on standard curve `index`; its
    // private key out.
    fake::TSCertificate* Certificate(unsigned index, Bytes* privateKey)
    {
        auto* c = new fake::TSCertificate(lib, L"CN=Issuer", 1);
        c->curve = StandardCurve(index);
        std::uint8_t priv[76] = {}, pub[76] = {};
        EXPECT_EQ(csp->GenerateSignatureKeyPairDSTU4145(&c->curve.field, &c->curve.point, priv, pub), CSP_OK);
        privateKey->assign(priv, priv + 76);
        c->dstuPublic.assign(pub, pub + 76);
        return c;
    }
    fake::TSSigner* SignerWithValue(std::uint32_t hashKind = 0)
    {
        auto* s = new fake::TSSigner(lib, hashKind);
        for (int i = 0; i < 32; ++i) s->prepared[i] = static_cast<std::uint8_t>(0xC0 + i);
        return s;
    }
    bool Verifies(const fake::TSCertificate& c, const std::uint8_t* hash, Bytes signature)
    {
        signature.resize(152, 0);
        fake::Curve curve = c.curve;
        return csp->VerifyHashSignatureDSTU4145(hash, &curve.field, &curve.point, c.dstuPublic.data(),
                                                signature.data()) == CSP_OK;
    }
    CSPContextHolder PlainHolder()
    {
        CSPContextHolder h{};
        InitCSPContextHolder(&h, csp, nullptr, 1, 0);
        return h;
    }
};

// Curves of degree 307, 367 and 431 give signatures longer than 76 bytes:
// all of it reaches the signer, and the CSP verifies it with the public key.
TEST_F(SignerSigning, SignsOnEveryStandardCurveAndTheCSPVerifies)
{
    for (unsigned index = 0; index < 10; ++index) {
        Bytes priv;
        auto* cert = Certificate(index, &priv);
        auto* signer = SignerWithValue();
        Drop d1{static_cast<IPKICertificate*>(cert)}, d2{static_cast<IPKISignerInfo*>(signer)};
        CSPContextHolder h = PlainHolder();
        ASSERT_EQ(facade->SignSignerDSTU4145(signer, &h, priv.data(), cert), 1) << index;
        ReleaseContextHolder(&h);
        const std::uint32_t orderBits = cert->curve.point.words[DSTU4145_POINT_BITS];
        EXPECT_EQ(signer->signature.size(), ((orderBits + 7) / 8) * 2) << index;
        EXPECT_TRUE(Verifies(*cert, signer->prepared, signer->signature)) << index;
        std::uint8_t other[32];
        std::memcpy(other, signer->prepared, 32);
        other[0] ^= 1;
        EXPECT_FALSE(Verifies(*cert, other, signer->signature)) << index;
        // The certificate's public key went to the preparation, and the
        // signing time was written.
        EXPECT_EQ(signer->preparedWith, cert->dstuPublic) << index;
        EXPECT_GE(signer->timesWritten, 1) << index;
    }
}

// The value to be signed is the 32-byte hash the signer prepares: an answer
// of any other length is refused rather than signed in part or past its end.
TEST_F(SignerSigning, OnlyA32BytePreparedValueIsSigned)
{
    for (std::uint32_t length : {0u, 31u, 32u}) {
        Bytes priv;
        auto* cert = Certificate(0, &priv);
        auto* signer = SignerWithValue();
        signer->preparedLength = length;
        Drop d1{static_cast<IPKICertificate*>(cert)}, d2{static_cast<IPKISignerInfo*>(signer)};
        CSPContextHolder h = PlainHolder();
        EXPECT_EQ(facade->SignSignerDSTU4145(signer, &h, priv.data(), cert), length == 32 ? 1 : 0) << length;
        ReleaseContextHolder(&h);
        EXPECT_EQ(signer->signature.empty(), length != 32) << length;
    }
    EXPECT_EQ(lib.LiveObjects(), 0);
}

TEST_F(SignerSigning, KeyUsageDecidesBeforeAnythingIsWritten)
{
    struct Case {
        std::uint32_t bits;
        int result;
    } cases[] = {{0x01, 1}, {0x02, 1}, {0x03, 1}, {0x04, 0}, {0x00, 0}};
    for (const Case& k : cases) {
        Bytes priv;
        auto* cert = Certificate(0, &priv);
        cert->keyUsageBits = k.bits;
        auto* signer = SignerWithValue();
        Drop d1{static_cast<IPKICertificate*>(cert)}, d2{static_cast<IPKISignerInfo*>(signer)};
        CSPContextHolder h = PlainHolder();
        EXPECT_EQ(facade->SignSignerDSTU4145(signer, &h, priv.data(), cert), k.result) << k.bits;
        ReleaseContextHolder(&h);
        if (!k.result) {
            EXPECT_EQ(signer->timesWritten, 0) << k.bits;
            EXPECT_TRUE(signer->signature.empty()) << k.bits;
        }
    }
}

TEST_F(SignerSigning, HashKindOfTheDSTU7564ViewAndTheHolderDecide)
{
    for (std::uint32_t kind : {1u, 2u, 3u}) {
        Bytes priv;
        auto* cert = Certificate(1, &priv);
        auto* signer = SignerWithValue(kind);
        Drop d1{static_cast<IPKICertificate*>(cert)}, d2{static_cast<IPKISignerInfo*>(signer)};
        CSPContextHolder h = PlainHolder();
        EXPECT_EQ(facade->SignSignerDSTU4145(signer, &h, priv.data(), cert), kind == 1 ? 1 : 0) << kind;
        ReleaseContextHolder(&h);
        if (kind == 1) {
            EXPECT_TRUE(Verifies(*cert, signer->prepared, signer->signature));
        }
    }
    // A holder that cannot call, or one without its own context and without
    // leave to use the CSP's, signs nothing.
    Bytes priv;
    auto* cert = Certificate(1, &priv);
    auto* signer = SignerWithValue();
    Drop d1{static_cast<IPKICertificate*>(cert)}, d2{static_cast<IPKISignerInfo*>(signer)};
    CSPContextHolder unusable{};
    EXPECT_EQ(facade->SignSignerDSTU4145(signer, &unusable, priv.data(), cert), 0);
    CSPContextHolder noOwn{};
    InitCSPContextHolder(&noOwn, csp, nullptr, 0, 0);
    EXPECT_EQ(facade->SignSignerDSTU4145(signer, &noOwn, priv.data(), cert), 0);
    ReleaseContextHolder(&noOwn);
    EXPECT_TRUE(signer->signature.empty());
}

TEST_F(SignerSigning, LastSignerOfAMessageIsSigned)
{
    Bytes priv;
    auto* cert = Certificate(8, &priv);
    auto* message = new fake::TSSignedData(lib);
    Drop d1{static_cast<IPKICertificate*>(cert)}, d2{static_cast<IPKISignedDataSigners*>(message)};
    for (int i = 0; i < 3; ++i) message->signers.push_back(SignerWithValue());
    CSPContextHolder h = PlainHolder();
    ASSERT_EQ(facade->SignLastSignerDSTU4145(message, &h, priv.data(), cert), 1);
    ReleaseContextHolder(&h);
    EXPECT_TRUE(message->signers[0]->signature.empty());
    EXPECT_TRUE(message->signers[1]->signature.empty());
    EXPECT_TRUE(Verifies(*cert, message->signers[2]->prepared, message->signers[2]->signature));
    auto* empty = new fake::TSSignedData(lib);
    Drop d3{static_cast<IPKISignedDataSigners*>(empty)};
    CSPContextHolder h2 = PlainHolder();
    EXPECT_EQ(facade->SignLastSignerDSTU4145(empty, &h2, priv.data(), cert), 0);
    ReleaseContextHolder(&h2);
}

// GOST 34.311-95's published answers: under the default S-box (number 0,
// no certificate) and under the standard's test S-box carried by the
// certificate's key parameters.
TEST_F(SignerSigning, GOSTImprintGivesThePublishedAnswers)
{
    auto* signer = new fake::TSSigner(lib);
    Drop d1{static_cast<IPKISignerInfo*>(signer)};
    std::uint8_t hash[32];
    signer->signature = BytesOf("12345678901234567890123456789011");
    ASSERT_EQ(facade->HashSignatureValueGOST34311(signer, nullptr, hash), 1);
    EXPECT_EQ(Bytes(hash, hash + 32), Hex("7686f3f4b113aadc97bca9ea054f41821f0676c5c28ffb987e41797a568e1ed4"));

    auto* cert = new fake::TSCertificate(lib, L"CN=Issuer", 1);
    Drop d2{static_cast<IPKICertificate*>(cert)};
    cert->curve = StandardCurve(0);
    const auto testBox = cryptotest::PackedGostTestSBox();
    std::memcpy(cert->curve.sBox, testBox.data(), 64);
    signer->signature = BytesOf("This is message, length=32 bytes");
    ASSERT_EQ(facade->HashSignatureValueGOST34311(signer, cert, hash), 1);
    EXPECT_EQ(Bytes(hash, hash + 32), Hex("B1C466D37519B82E8319819FF32595E047A28CB6F83EFF1C6916A815A637FFFA"));

    // 152 bytes are hashed, 153 refused.
    signer->signature.assign(152, 0x5C);
    ASSERT_EQ(facade->HashSignatureValueGOST34311(signer, cert, hash), 1);
    GOST28147PackedSBox box;
    std::memcpy(&box, testBox.data(), 64);
    std::uint8_t expected[32];
    ASSERT_EQ(csp->HashGOST34311(signer->signature.data(), 152, &box, nullptr, expected), CSP_OK);
    EXPECT_EQ(Bytes(hash, hash + 32), Bytes(expected, expected + 32));
    signer->signature.assign(153, 0x5C);
    EXPECT_EQ(facade->HashSignatureValueGOST34311(signer, cert, hash), 0);
}

// The SHA imprint follows the RSA key size (2,047 bits: SHA-1, 2,048: SHA-256,
// no certificate: SHA-1) and equals OpenSSL's digest of the value.
TEST_F(SignerSigning, SHAImprintFollowsTheKeySizeAndOpenSSLAgrees)
{
    auto* signer = new fake::TSSigner(lib);
    Drop d1{static_cast<IPKISignerInfo*>(signer)};
    signer->signature.assign(256, 0);
    for (std::size_t i = 0; i < 256; ++i) signer->signature[i] = static_cast<std::uint8_t>(i * 7);
    std::uint8_t sha1[20], sha256[32];
    SHA1(signer->signature.data(), signer->signature.size(), sha1);
    SHA256(signer->signature.data(), signer->signature.size(), sha256);
    struct Case {
        std::uint32_t keyBits;  // 0: no certificate
        std::uint32_t bits;
    } cases[] = {{0, 160}, {1024, 160}, {2047, 160}, {2048, 256}, {4096, 256}};
    for (const Case& k : cases) {
        std::unique_ptr<fake::TSCertificate, void (*)(fake::TSCertificate*)> cert(
            k.keyBits ? new fake::TSCertificate(lib, L"CN=RSA", 2) : nullptr, [](fake::TSCertificate* c) {
                if (c) c->Release();
            });
        if (cert) {
            cert->kind = 2;
            cert->rsaBits = k.keyBits;
        }
        std::uint32_t bits = 0;
        std::uint8_t hash[64] = {};
        ASSERT_EQ(facade->HashSignatureValueSHA(signer, cert.get(), &bits, hash), 1) << k.keyBits;
        EXPECT_EQ(bits, k.bits) << k.keyBits;
        if (k.bits == 160)
            EXPECT_EQ(Bytes(hash, hash + 20), Bytes(sha1, sha1 + 20));
        else
            EXPECT_EQ(Bytes(hash, hash + 32), Bytes(sha256, sha256 + 32));
    }
    // An ECDSA certificate goes through its RSA view; without one it fails.
    auto* ec = new fake::TSCertificate(lib, L"CN=EC", 3);
    auto* rsa = new fake::TSCertificate(lib, L"CN=EC", 3);
    Drop d2{static_cast<IPKICertificate*>(ec)}, d3{static_cast<IPKICertificate*>(rsa)};
    ec->kind = 4;
    std::uint32_t bits = 0;
    std::uint8_t hash[64];
    EXPECT_EQ(facade->HashSignatureValueSHA(signer, ec, &bits, hash), 0);
    rsa->kind = 2;
    rsa->rsaBits = 3072;
    ec->rsaView = rsa;
    EXPECT_EQ(facade->HashSignatureValueSHA(signer, ec, &bits, hash), 1);
    EXPECT_EQ(bits, 256u);
    // 1,152 bytes are hashed, 1,153 refused.
    signer->signature.assign(1152, 1);
    EXPECT_EQ(facade->HashSignatureValueWithProvider(signer, 256, hash), 1);
    signer->signature.assign(1153, 1);
    EXPECT_EQ(facade->HashSignatureValueWithProvider(signer, 256, hash), 0);
}

// Below 266 the request is filled with the older operations, from 266 on
// with the newer; the DSTU 4145 imprint is built under the CSP's S-box 0.
TEST_F(SignerSigning, RequestFillingFollowsTheLibraryVersion)
{
    fake::UseTimeStampObjects(lib);
    GOST28147PackedSBox box;
    ASSERT_NE(csp->Parameters().GetStandardSBox(0, &box), 0);
    const std::string boxStart = fake::Hex(reinterpret_cast<const std::uint8_t*>(&box), 4);
    struct Case {
        std::uint32_t version, kind;
        int result;
        std::string filled;
    } cases[] = {
        {258, 1, 0, ""},
        {259, 1, 1, "key;31:1.2.804.2.1.1.1.1.2.1;gost:" + boxStart + ";"},
        {265, 2, 1, "key;32:1.2.804.2.1.1.1.1.2.1;sha;"},
        {266, 1, 1, "key;33:1.2.804.2.1.1.1.1.2.1;gost:" + boxStart + ";"},
        {266, 4, 1, "key;34:1.2.804.2.1.1.1.1.2.1;sha;"},
        {270, 3, 0, ""},
    };
    for (const Case& k : cases) {
        lib.version = k.version;
        auto* signer = new fake::TSRequestSource(lib);
        Drop d{static_cast<IPKISignerInfoTimeStampSource*>(signer)};
        signer->kind = k.kind;
        void* request = nullptr;
        ASSERT_EQ(facade->CreateTimeStampRequest(signer, &request), k.result) << k.version << "/" << k.kind;
        if (!request) continue;
        auto* r = static_cast<fake::TSRequest*>(static_cast<IPKITimeStampRequest*>(request));
        EXPECT_EQ(r->filled, k.filled);
        r->Release();
    }
    EXPECT_EQ(lib.LiveObjects(), 0);
}

// ---- Over the test double ----

class TimeStamps : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake::UseTimeStampObjects(lib);
        lib.requireWipe = true;
    }
    void TearDown() override
    {
        EXPECT_EQ(lib.LiveObjects(), 0);
        EXPECT_EQ(lib.LiveBlobs(), 0u);
        EXPECT_EQ(lib.doubleReleases, 0);
        EXPECT_EQ(lib.unwipedFrees, 0);
    }
    // A token (or message) with signers of the given serial last bytes, all
    // of one issuer, and certificates of the given serial last bytes.
    fake::TSSignedData* Token(std::vector<std::uint8_t> signers, std::vector<std::uint8_t> certificates)
    {
        auto* t = new fake::TSSignedData(lib);
        for (std::uint8_t s : signers) {
            auto* signer = new fake::TSSigner(lib);
            auto* c = new fake::TSCertificate(lib, L"CN=TSA", s);
            signer->Identify(*c);
            c->Release();
            t->signers.push_back(signer);
        }
        for (std::uint8_t c : certificates) t->certificates.push_back(new fake::TSCertificate(lib, L"CN=TSA", c));
        return t;
    }
    int Ops(const std::string& entry) const
    {
        int n = 0;
        for (const std::string& e : lib.log) n += e.rfind(entry, 0) == 0;
        return n;
    }
    fake::Library lib;
    SPKIFormats f{nullptr, nullptr, &lib};
};

// The matching signer last among several: the search's own index stands
// (with 1 added, the last signer fails the count check).
TEST_F(TimeStamps, TokenSignerIsFoundWhereverItStands)
{
    auto* token = Token({1, 2, 3}, {});
    Drop d{static_cast<IPKISignedDataSigners*>(token)};
    for (std::uint8_t last : {1, 2, 3}) {
        auto* cert = new fake::TSCertificate(lib, L"CN=TSA", last);
        Drop dc{static_cast<IPKICertificate*>(cert)};
        lib.log.clear();
        std::int32_t index = -7;
        ASSERT_EQ(f.FindTimeStampSigner(token, cert, &index), 1) << int(last);
        EXPECT_EQ(index, last - 1);
        // Signer 0 is tested first; only the others need the search.
        EXPECT_EQ(Ops("4900:105"), last == 1 ? 0 : 1);
        index = -7;
        ASSERT_EQ(f.FindSignerIndexByCertificate(token, cert, &index), 1);
        EXPECT_EQ(index, last - 1);
    }
    auto* stranger = new fake::TSCertificate(lib, L"CN=TSA", 9);
    auto* otherIssuer = new fake::TSCertificate(lib, L"CN=Other", 1);
    Drop d1{static_cast<IPKICertificate*>(stranger)}, d2{static_cast<IPKICertificate*>(otherIssuer)};
    std::int32_t index = -7;
    EXPECT_EQ(f.FindTimeStampSigner(token, stranger, &index), 0);
    EXPECT_EQ(f.FindTimeStampSigner(token, otherIssuer, &index), 0);
    EXPECT_EQ(f.FindSignerIndexByCertificate(token, stranger, &index), 0);
    EXPECT_EQ(f.FindSignerIndexByCertificate(token, nullptr, &index), 0);
    EXPECT_EQ(index, -7);
}

// Serials that differ only in their last byte tell two certificates apart;
// the signer index is checked against the signers, not the certificates.
TEST_F(TimeStamps, TokenCertificateMatchesTheWholeSerialAndTheSignerIndex)
{
    auto* token = Token({0x20, 0x21}, {0x20, 0x21, 0x22, 0x23});
    Drop d{static_cast<IPKISignedDataSigners*>(token)};
    for (std::uint32_t i : {0u, 1u}) {
        void* out = nullptr;
        ASSERT_EQ(f.FindTimeStampCertificate(token, i, &out), 1);
        auto* c = static_cast<fake::TSCertificate*>(static_cast<IPKICertificate*>(out));
        EXPECT_EQ(c, token->certificates[i]);
        c->Release();
    }
    void* out = nullptr;
    EXPECT_EQ(f.FindTimeStampCertificate(token, 2, &out), 0);  // 2 signers, 4 certificates
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(f.FindTimeStampCertificate(token, 1, nullptr), 1);

    // The key-identifier forms: 32 bytes (form 2) and 20 bytes (others),
    // each then with the serial.
    auto* keyed = Token({0x21}, {0x20, 0x21});
    Drop d2{static_cast<IPKISignedDataSigners*>(keyed)};
    keyed->certificates[0]->keyIdentifier = std::string(32, '\x01');
    keyed->certificates[1]->keyIdentifier = std::string(32, '\x02');
    PKISignerIdentifier& id = keyed->signers[0]->id;
    id.form = 2;
    std::memset(id.keyIdentifier, 2, 32);
    ASSERT_EQ(f.FindTimeStampCertificate(keyed, 0, &out), 1);
    EXPECT_EQ(static_cast<IPKICertificate*>(out), static_cast<IPKICertificate*>(keyed->certificates[1]));
    static_cast<IPKIObject*>(out)->Release();
    id.serial[19] = 0x20;  // identifier of one, serial of the other
    EXPECT_EQ(f.FindTimeStampCertificate(keyed, 0, nullptr), 0);
    id.form = 0;
    id.serial[19] = 0x21;
    keyed->certificates[1]->keyIdentifier = std::string(20, '\x02');
    EXPECT_EQ(f.FindTimeStampCertificate(keyed, 0, nullptr), 1);

    // Through a signer's token.
    auto* holder = new fake::TSSigner(lib);
    Drop d3{static_cast<IPKISignerInfo*>(holder)};
    token->Retain();
    holder->tokens.push_back(static_cast<IPKISignedDataSigners*>(token));
    ASSERT_EQ(f.FindTimeStampCertificateInSigner(holder, 0, 1, &out), 1);
    EXPECT_EQ(static_cast<IPKICertificate*>(out), static_cast<IPKICertificate*>(token->certificates[1]));
    static_cast<IPKIObject*>(out)->Release();
    EXPECT_EQ(f.FindTimeStampCertificateInSigner(holder, 1, 0, &out), 0);
}

TEST_F(TimeStamps, SignersOfACertificateAreCountedByWholeIdentity)
{
    auto* message = Token({5, 6, 5, 5}, {});
    Drop d{static_cast<IPKISignedDataSigners*>(message)};
    auto* cert = new fake::TSCertificate(lib, L"CN=TSA", 5);
    auto* near = new fake::TSCertificate(lib, L"CN=TSA", 7);
    Drop d1{static_cast<IPKICertificate*>(cert)}, d2{static_cast<IPKICertificate*>(near)};
    std::uint32_t index = 99;
    struct Case {
        std::uint32_t n;
        int result;
        std::uint32_t index;
    } cases[] = {{0, 1, 0}, {1, 1, 2}, {2, 1, 3}, {3, 0, 99}, {4, 0, 99}};
    for (const Case& k : cases) {
        index = 99;
        EXPECT_EQ(f.FindNthSignerOfCertificate(message, cert, k.n, &index), k.result) << k.n;
        EXPECT_EQ(index, k.index) << k.n;
    }
    EXPECT_EQ(f.IsSignerOfCertificate(message->signers[0], cert), 1);
    EXPECT_EQ(f.IsSignerOfCertificate(message->signers[1], cert), 0);
    EXPECT_EQ(f.IsSignerOfCertificate(message->signers[0], near), 0);
}

// Each gate at its edge: the lowest version admitted and the one below.
TEST_F(TimeStamps, VersionGatesAtTheirEdges)
{
    auto* token = Token({1, 2}, {1, 2});
    Drop d{static_cast<IPKISignedDataSigners*>(token)};
    auto* cert = new fake::TSCertificate(lib, L"CN=TSA", 2);
    Drop dc{static_cast<IPKICertificate*>(cert)};
    for (std::uint32_t v : {258u, 259u}) {
        lib.version = v;
        const int want = v >= 259 ? 1 : 0;
        std::int32_t index = 0;
        EXPECT_EQ(f.FindTimeStampSigner(token, cert, &index), want) << v;
        EXPECT_EQ(f.FindSignerIndexByCertificate(token, cert, &index), want) << v;
        EXPECT_EQ(f.FindTimeStampCertificate(token, 0, nullptr), want) << v;
    }
}

TEST_F(TimeStamps, ImprintLengthsAreCheckedByKind)
{
    struct Case {
        std::uint32_t kind, length;
        int result;
        const char* form;
    } cases[] = {
        {1, 32, 1, "gost:"},  {1, 31, 0, ""},       {1, 20, 0, ""},       {2, 20, 1, "sha:"}, {2, 28, 1, "sha:"},
        {2, 32, 1, "sha:"},   {2, 48, 1, "sha:"},   {2, 64, 1, "sha:"},   {2, 33, 0, ""},     {2, 16, 0, ""},
        {3, 32, 1, "long3:"}, {3, 48, 1, "long3:"}, {3, 64, 1, "long3:"}, {3, 20, 0, ""},     {4, 32, 0, ""},
    };
    for (const Case& k : cases) {
        auto* r = new fake::TSRequest(lib);
        Drop d{static_cast<IPKITimeStampRequest*>(r)};
        r->kind = k.kind;
        r->imprint.assign(k.length, 0xAB);
        PKIBlob out{0, nullptr};
        ASSERT_EQ(f.CreateTimeStampInfo(r, 11, 22, &out), k.result) << k.kind << "/" << k.length;
        if (!k.result) {
            EXPECT_EQ(out.data, nullptr);
            continue;
        }
        std::string text(reinterpret_cast<char*>(out.data), out.length);
        EXPECT_EQ(text, "tst:request;first:11;second:22;" + std::string(k.form) +
                            fake::Hex(r->imprint.data(), k.length) + ";");
        f.ReleaseBlob(&out);
    }
}

TEST_F(TimeStamps, NonceIsReadAndPassedOnWhenPresent)
{
    auto* r = new fake::TSRequest(lib);
    Drop d{static_cast<IPKITimeStampRequest*>(r)};
    r->nonce = "\x01\x02\x03";
    std::uint32_t kind = 0, second = 0, has = 0;
    PKIBlob nonce{0, nullptr};
    ASSERT_EQ(f.ReadTimeStampRequest(r, &kind, &second, &has, &nonce), 1);
    EXPECT_EQ(kind, 1u);
    EXPECT_EQ(second, 7u);
    EXPECT_EQ(has, 1u);
    ASSERT_EQ(nonce.length, 3u);
    EXPECT_EQ(std::memcmp(nonce.data, "\x01\x02\x03", 3), 0);
    std::memset(nonce.data, 0, nonce.length);
    lib.FreeBlob(&nonce);
    PKIBlob out{0, nullptr};
    ASSERT_EQ(f.CreateTimeStampInfo(r, 1, 2, &out), 1);
    EXPECT_NE(std::string(reinterpret_cast<char*>(out.data), out.length).find(";nonce:010203;"), std::string::npos);
    f.ReleaseBlob(&out);
    // Nothing asked, nothing read.
    lib.log.clear();
    EXPECT_EQ(f.ReadTimeStampRequest(r, nullptr, nullptr, nullptr, nullptr), 1);
    EXPECT_TRUE(lib.log.empty());
    r->nonce.clear();
    has = 9;
    EXPECT_EQ(f.ReadTimeStampRequest(r, nullptr, nullptr, &has, &nonce), 1);
    EXPECT_EQ(has, 0u);
    EXPECT_EQ(nonce.data, nullptr);
}

TEST_F(TimeStamps, HolderObjectsAreMadeOfTheirClasses)
{
    using Maker = int (SPKIFormats::*)(void**);
    struct Case {
        Maker make;
        std::string created;
    } cases[] = {{&SPKIFormats::CreateTimeStampHolderA, "0:10(4935,4197)"},
                 {&SPKIFormats::CreateTimeStampHolderB, "0:10(4936,4196)"},
                 {&SPKIFormats::CreateTimeStampHolderC, "0:10(4937,4195)"},
                 {&SPKIFormats::CreateTimeStampHolderD, "0:10(4938,4181)"}};
    for (const Case& k : cases) {
        lib.log.clear();
        void* object = nullptr;
        ASSERT_EQ((f.*k.make)(&object), 1);
        ASSERT_NE(object, nullptr);
        EXPECT_EQ(lib.log.at(0), k.created);
        static_cast<IPKIObject*>(object)->Release();
        EXPECT_EQ((f.*k.make)(nullptr), 1);  // made and released again
    }
}

TEST(TimeStampSweeps, NothingStaysBehind)
{
    auto token = [](fake::Library& lib) {
        auto* t = new fake::TSSignedData(lib);
        for (std::uint8_t s : {1, 2}) {
            auto* signer = new fake::TSSigner(lib);
            auto* c = new fake::TSCertificate(lib, L"CN=TSA", s);
            signer->Identify(*c);
            c->Release();
            t->signers.push_back(signer);
            t->certificates.push_back(new fake::TSCertificate(lib, L"CN=TSA", s));
        }
        return t;
    };
    fake::SweepFailures(
        "FindTimeStampSigner",
        [&](SPKIFormats& f, fake::Library& lib) {
            auto* t = token(lib);
            auto* cert = new fake::TSCertificate(lib, L"CN=TSA", 2);
            std::int32_t index = 0;
            int rc = f.FindTimeStampSigner(t, cert, &index);
            cert->Release();
            t->Release();
            return rc;
        },
        false);
    fake::SweepFailures(
        "FindTimeStampCertificate",
        [&](SPKIFormats& f, fake::Library& lib) {
            auto* t = token(lib);
            void* out = nullptr;
            int rc = f.FindTimeStampCertificate(t, 1, &out);
            if (out) static_cast<IPKIObject*>(out)->Release();
            t->Release();
            return rc;
        },
        false);
    fake::SweepFailures(
        "CreateTimeStampInfo",
        [](SPKIFormats& f, fake::Library& lib) {
            fake::UseTimeStampObjects(lib);
            auto* r = new fake::TSRequest(lib);
            r->kind = 3;
            r->nonce = "nonce";
            PKIBlob out{0, nullptr};
            int rc = f.CreateTimeStampInfo(r, 1, 2, &out);
            f.ReleaseBlob(&out);
            r->Release();
            return rc;
        },
        true);
    fake::SweepFailures(
        "CreateTimeStampRequest",
        [](SPKIFormats& f, fake::Library& lib) {
            fake::UseTimeStampObjects(lib);
            auto* s = new fake::TSRequestSource(lib);
            s->kind = 2;
            void* request = nullptr;
            int rc = f.CreateTimeStampRequest(s, &request);
            if (request) static_cast<IPKIObject*>(request)->Release();
            s->Release();
            return rc;
        },
        true);
}

// ---- Signature-value imprints and attributes of a message's signer ----

// Each list entry reaches the signer's request in list order; an empty or
// absent list is one call with none.
TEST_F(TimeStamps, RequestCertificatesFollowTheList)
{
    auto* signer = new fake::TSSigner(lib);
    auto* list = new fake::CertificateList(lib);
    auto* a = new fake::ScriptedCertificate(lib);
    auto* b = new fake::ScriptedCertificate(lib);
    Drop d1{static_cast<IPKISignerInfo*>(signer)}, d2{static_cast<IPKICertificateList*>(list)};
    ASSERT_EQ(f.SetRequestCertificates(signer, list), 1);
    EXPECT_EQ(signer->requestCertificates, (std::vector<IPKIObject*>{nullptr}));
    list->Add(a);
    list->Add(b);
    signer->requestCertificates.clear();
    ASSERT_EQ(f.SetRequestCertificates(signer, list), 1);
    EXPECT_EQ(signer->requestCertificates,
              (std::vector<IPKIObject*>{static_cast<IPKICertificate*>(a), static_cast<IPKICertificate*>(b)}));
    signer->requestCertificates.clear();
    ASSERT_EQ(f.SetRequestCertificates(signer, nullptr), 1);
    EXPECT_EQ(signer->requestCertificates, (std::vector<IPKIObject*>{nullptr}));
    EXPECT_EQ(f.SetRequestCertificates(nullptr, list), 0);
}

// The operations that find the certificate's signer in a message refuse
// while the finder finds none: nothing is written, created or added.
TEST_F(TimeStamps, SignerLookupsByCertificateTouchNothingWithoutASigner)
{
    fake::UseTimeStampAttributes(lib);
    auto* message = Token({1}, {});
    auto* cert = new fake::TSCertificate(lib, L"CN=TSA", 1);
    auto* other = new fake::TSCertificate(lib, L"CN=TSA", 2);
    Drop d1{static_cast<IPKISignedDataSigners*>(message)}, d2{static_cast<IPKICertificate*>(cert)},
        d3{static_cast<IPKICertificate*>(other)};
    message->signers[0]->signature.assign(64, 7);
    std::uint8_t hash[64];
    std::memset(hash, 0xEE, sizeof hash);
    std::uint32_t bits = 99;
    EXPECT_EQ(f.HashSignerSignatureGOST34311(message, cert, hash), 0);
    EXPECT_EQ(f.HashSignerSignatureSHA(message, cert, &bits, hash), 0);
    EXPECT_EQ(f.HashCertificateSignatureValue(cert, other, message, 256, hash), 0);
    EXPECT_EQ(bits, 99u);
    EXPECT_EQ(hash[0], 0xEE);
    PKIBlob value{0, nullptr};
    EXPECT_EQ(f.GetSignerAttributeValue(message, cert, "1.2.3", &value), 0);
    EXPECT_EQ(value.data, nullptr);
    std::uint8_t bytes[] = {1, 2, 3};
    PKIBlob given{3, bytes};
    EXPECT_EQ(f.AddSignerAttribute(message, cert, "1.2.3", &given), 0);
    EXPECT_TRUE(message->signers[0]->attributes.empty());
    EXPECT_EQ(Ops("4866:"), 0);  // no attribute made for a missing signer
    // Missing arguments are refused before any lookup.
    lib.log.clear();
    EXPECT_EQ(f.HashSignerSignatureGOST34311(message, nullptr, hash), 0);
    EXPECT_EQ(f.AddSignerAttribute(message, cert, "1.2.3", nullptr), 0);
    EXPECT_EQ(f.HashCertificateSignatureValue(nullptr, nullptr, message, 256, hash), 0);
    EXPECT_TRUE(lib.log.empty());
}

// A certificate with neither signing usage is never the one looked up.
TEST_F(TimeStamps, SignatureValueHashNeedsASigningCertificate)
{
    auto* message = Token({1}, {});
    auto* a = new fake::TSCertificate(lib, L"CN=TSA", 1);
    auto* b = new fake::TSCertificate(lib, L"CN=TSA", 2);
    Drop d1{static_cast<IPKISignedDataSigners*>(message)}, d2{static_cast<IPKICertificate*>(a)},
        d3{static_cast<IPKICertificate*>(b)};
    a->keyUsageBits = b->keyUsageBits = 0x10;
    std::uint8_t hash[32];
    lib.log.clear();
    EXPECT_EQ(f.HashCertificateSignatureValue(a, b, message, 160, hash), 0);
    EXPECT_EQ(Ops("4900:"), 0);  // the message was never searched
}

// The hash code follows the hash type and size, or with type 0 the signer's
// key kind (a DSTU 4145 signer with a DSTU 7564 parameter code takes code 7);
// the GOST 34.311 form is built under the CSP's S-box 0.
TEST_F(SignerSigning, RequestByHashTypeChoosesTheHashCode)
{
    fake::UseTimeStampRequestsByHash(lib);
    GOST28147PackedSBox box;
    ASSERT_NE(csp->Parameters().GetStandardSBox(0, &box), 0);
    const std::string gost =
        "33:source,1,1.2.804.2.1.1.1.1.2.1;25:none,gost:" + fake::Hex(reinterpret_cast<const std::uint8_t*>(&box), 4) +
        ";";
    auto coded = [](int code) {
        const std::string c = std::to_string(code);
        return "41:source," + c + ",1.2.804.2.1.1.1.1.2.1;38:none," + c + ",1.2.804.2.1.1.1.1.2.1;";
    };
    struct Case {
        std::uint32_t type, size, kind, parameterCode;  // parameterCode 0: no 4258 view
        std::string filled;                             // empty: refused
    } cases[] = {
        {0, 0, 2, 0, coded(2)},   {0, 0, 4, 0, coded(2)},   {0, 0, 1, 0, gost},       {0, 0, 1, 8, coded(7)},
        {0, 0, 1, 9, coded(7)},   {0, 0, 1, 6, gost},       {0, 0, 3, 0, ""},         {1, 0, 2, 0, gost},
        {2, 160, 1, 0, coded(2)}, {2, 224, 1, 0, coded(3)}, {2, 512, 1, 0, coded(6)}, {2, 300, 1, 0, ""},
        {3, 32, 1, 0, coded(7)},  {3, 48, 1, 0, coded(8)},  {3, 64, 1, 0, coded(9)},  {3, 40, 1, 0, ""},
        {4, 32, 1, 0, ""},
    };
    for (const Case& k : cases) {
        auto* source = new fake::TSRequestSource(lib);
        Drop d{static_cast<IPKISignerInfoTimeStampSource*>(source)};
        source->kind = k.kind;
        if (k.parameterCode) source->OfferHashCode(k.parameterCode);
        void* request = nullptr;
        const std::string label = std::to_string(k.type) + "/" + std::to_string(k.size) + "/" + std::to_string(k.kind) +
                                  "/" + std::to_string(k.parameterCode);
        ASSERT_EQ(facade->CreateTimeStampRequestByHashType(source, k.type, k.size, &request), k.filled.empty() ? 0 : 1)
            << label;
        if (k.filled.empty()) {
            EXPECT_EQ(request, nullptr) << label;
            continue;
        }
        auto* r = static_cast<fake::TSRequestByHash*>(static_cast<IPKITimeStampRequestByHash*>(request));
        EXPECT_EQ(r->filled, "24:key;" + k.filled) << label;
        r->Release();
    }
    // Without a source the request is handed out empty, or only reported.
    void* request = nullptr;
    ASSERT_EQ(facade->CreateTimeStampRequestByHashType(nullptr, 3, 40, &request), 1);
    EXPECT_EQ(static_cast<fake::TSRequestByHash*>(static_cast<IPKITimeStampRequestByHash*>(request))->filled, "");
    static_cast<IPKIObject*>(request)->Release();
    EXPECT_EQ(facade->CreateTimeStampRequestByHashType(nullptr, 0, 0, nullptr), 1);
    EXPECT_EQ(lib.LiveObjects(), 0);
}

// A library that cannot make the coded request builds the older one for the
// GOST 34.311 and SHA-1 imprints only.
TEST_F(SignerSigning, RequestByHashTypeFallsBackToTheOlderRequest)
{
    fake::UseTimeStampObjects(lib);
    lib.version = 270;
    struct Case {
        std::uint32_t type, size;
        int result;
    } cases[] = {{0, 0, 1}, {1, 0, 1}, {2, 160, 1}, {2, 256, 0}, {3, 32, 0}};
    for (const Case& k : cases) {
        auto* source = new fake::TSRequestSource(lib);
        Drop d{static_cast<IPKISignerInfoTimeStampSource*>(source)};
        source->kind = 2;
        void* request = nullptr;
        lib.FailCall(1, PKI_E_UNKNOWN_CLASS);  // the coded request cannot be made
        ASSERT_EQ(facade->CreateTimeStampRequestByHashType(source, k.type, k.size, &request), k.result) << k.type;
        if (!request) continue;
        EXPECT_EQ(static_cast<fake::TSRequest*>(static_cast<IPKITimeStampRequest*>(request))->filled,
                  "key;34:1.2.804.2.1.1.1.1.2.1;sha;");
        static_cast<IPKIObject*>(request)->Release();
    }
    EXPECT_EQ(lib.LiveObjects(), 0);
}

TEST(TimeStampSweeps, RequestByHashTypeLeavesNothingBehind)
{
    fake::SweepFailures(
        "CreateTimeStampRequestByHashType",
        [](SPKIFormats& f, fake::Library& lib) {
            fake::UseTimeStampObjects(lib);  // the older request, where the coded one cannot be made
            fake::UseTimeStampRequestsByHash(lib);
            auto* s = new fake::TSRequestSource(lib);
            s->kind = 1;
            s->OfferHashCode(8);
            void* request = nullptr;
            int rc = f.CreateTimeStampRequestByHashType(s, 0, 0, &request);
            if (request) static_cast<IPKIObject*>(request)->Release();
            s->Release();
            return rc;
        },
        true);
}

// A signature time stamp's request: the signer's own hash kind and size when
// none is given (a signer without one leaves the choice to the source's key),
// then the request and the source go to the signer in that order.
TEST_F(SignerSigning, SignatureTimeStampRequestFollowsTheSignersHash)
{
    fake::UseTimeStampRequestsByHash(lib);
    const std::string digest = "1.2.804.2.1.1.1.1.2.1;";
    struct Case {
        std::uint32_t signerHashKind, kind, size, version;
        std::string filled;  // empty: refused
    } cases[] = {
        {3, 0, 0, 270, "24:key;41:source,7," + digest + "38:none,7," + digest},    // the signer's DSTU 7564 hash
        {3, 2, 256, 270, "24:key;41:source,4," + digest + "38:none,4," + digest},  // as given
        {0, 0, 0, 270, "24:key;41:source,2," + digest + "38:none,2," + digest},    // the source's RSA key
        {3, 2, 300, 270, ""},
        {3, 0, 0, 259, "24:key;41:source,7," + digest + "38:none,7," + digest},
        {3, 0, 0, 258, ""},
    };
    for (const Case& k : cases) {
        lib.version = k.version;
        auto* signer = new fake::TSSigner(lib, k.signerHashKind);
        auto* source = new fake::TSRequestSource(lib);
        Drop d1{static_cast<IPKISignerInfo*>(signer)}, d2{static_cast<IPKISignerInfoTimeStampSource*>(source)};
        source->kind = 2;
        lib.log.clear();
        const int want = k.filled.empty() ? 0 : 1;
        ASSERT_EQ(facade->AddSignatureTimeStamp(signer, source, k.kind, k.size), want) << k.kind << "/" << k.version;
        if (!want) {
            EXPECT_TRUE(signer->timeStampRequests.empty());
            EXPECT_EQ(signer->timeStampSource, nullptr);
            continue;
        }
        EXPECT_EQ(signer->timeStampRequests, std::vector<std::string>{k.filled}) << k.kind;
        EXPECT_EQ(signer->timeStampSource,
                  static_cast<IPKIObject*>(static_cast<IPKISignerInfoTimeStampSource*>(source)));
        std::vector<std::string> order;
        for (const std::string& e : lib.log)
            if (e.rfind("4918:57", 0) == 0 || e.rfind("4918:68", 0) == 0) order.push_back(e.substr(0, 7));
        EXPECT_EQ(order, (std::vector<std::string>{"4918:57", "4918:68"}));
    }
    EXPECT_EQ(lib.LiveObjects(), 0);
}

// Without a response the signer takes an empty request; a response that
// does not decode sets nothing.
TEST_F(SignerSigning, SignerResponseObjectTakesARequest)
{
    fake::UseTimeStampRequestsByHash(lib);
    auto* signer = new fake::TSSigner(lib);
    Drop d{static_cast<IPKISignerInfo*>(signer)};
    ASSERT_EQ(facade->SetSignerResponseObject(signer, nullptr), 1);
    EXPECT_NE(signer->certificate, nullptr);
    signer->certificate = nullptr;
    const std::string bytes = "not a response";
    PKIBlob blob{static_cast<std::uint32_t>(bytes.size()),
                 reinterpret_cast<std::uint8_t*>(const_cast<char*>(bytes.data()))};
    lib.FailCall(1);  // the response object cannot be made
    EXPECT_EQ(facade->SetSignerResponseObject(signer, &blob), 0);
    EXPECT_EQ(signer->certificate, nullptr);
    EXPECT_EQ(facade->SetSignerResponseObject(nullptr, nullptr), 0);
    EXPECT_EQ(lib.LiveObjects(), 1);  // the signer alone
}

// Each certificate of the list is added to the signer's request hashes (the
// DSTU 7564 view takes the kind and the size, SHA sizes in bytes); a request
// object goes to the signer once for each certificate it does not count yet.
TEST_F(SignerSigning, RequestHashesOfAListOfCertificates)
{
    fake::UseTimeStampObjects(lib);
    auto* list = new fake::CertificateList(lib);
    Drop dl{static_cast<IPKICertificateList*>(list)};
    struct Case {
        std::uint32_t signerHashKind, kind, bits, counted, version;
        int result;
        std::string added;
        std::size_t requests;
    } cases[] = {
        {0, 0, 0, 0, 270, 1, "53:1,0;53:1,0;", 2},
        {0, 2, 160, 1, 270, 1, "53:1,0;53:1,0;", 1},
        {0, 2, 256, 0, 270, 0, "", 0},  // SHA-256 needs the DSTU 7564 view
        {3, 2, 256, 0, 270, 1, "136:1,2,32;136:1,2,32;", 2},
        {3, 3, 48, 2, 270, 1, "136:1,3,48;136:1,3,48;", 0},
        {0, 0, 0, 0, 258, 0, "", 0},
    };
    list->Add(new fake::ScriptedCertificate(lib));
    list->Add(new fake::ScriptedCertificate(lib));
    for (const Case& k : cases) {
        lib.version = k.version;
        auto* signer = new fake::TSSigner(lib, k.signerHashKind);
        Drop d{static_cast<IPKISignerInfo*>(signer)};
        signer->requestHashCount = k.counted;
        ASSERT_EQ(facade->AddTimeStampRequestHashes(signer, list, k.kind, k.bits), k.result) << k.kind << "/" << k.bits;
        std::string added;
        for (const std::string& a : signer->requestHashes) added += a + ";";
        EXPECT_EQ(added, k.added) << k.kind << "/" << k.bits;
        EXPECT_EQ(signer->timeStampRequests.size(), k.requests) << k.kind << "/" << k.bits;
    }
    // An empty list succeeds without touching the signer.
    auto* empty = new fake::CertificateList(lib);
    auto* signer = new fake::TSSigner(lib);
    Drop d1{static_cast<IPKICertificateList*>(empty)}, d2{static_cast<IPKISignerInfo*>(signer)};
    lib.version = 270;
    lib.log.clear();
    ASSERT_EQ(facade->AddTimeStampRequestHashes(signer, empty, 2, 512), 1);
    for (const std::string& e : lib.log) EXPECT_NE(e.rfind("4918:", 0), 0u) << e;
}
