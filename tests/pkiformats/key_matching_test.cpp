// Private keys against certificates and requests, key identifiers against
// certificates, and hash signatures checked with a certificate's key: the
// pairs are made and the signatures computed by the real CSP on the stand-in
// crypto libraries.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "KeyProviders.h"

namespace {

using keytest::Bytes;
using keytest::Drop;

const Bytes kId(32, 0x5A);

class KeyMatching : public keytest::Providers {
protected:
    // A DSTU 4145 key object (with its signature-key identifier) and a
    // certificate of its public key on the same curve.
    void MakePair(fake::KeyObject** key, fake::KeyCertificate** certificate)
    {
        curve = StandardCurve(0);
        Bytes publicKey;
        *key = DSTU4145Key(curve, &publicKey);
        (*key)->signatureId = kId;
        *certificate = Certificate(publicKey);
    }
    fake::KeyCertificate* Certificate(const Bytes& publicKey)
    {
        auto* c = new fake::KeyCertificate(lib, 1);
        c->curve = curve;
        c->dstuPublic = publicKey;
        c->keyId = kId;
        return c;
    }
    // Another pair's public key on the same curve.
    Bytes OtherPublicKey()
    {
        Bytes other;
        Drop d{DSTU4145Key(curve, &other)};
        return other;
    }
    fake::Curve curve;
};

TEST_F(KeyMatching, PrivateKeyAgainstCertificate)
{
    fake::KeyObject* key = nullptr;
    fake::KeyCertificate* cert = nullptr;
    MakePair(&key, &cert);
    Drop dk{key}, dc{cert};
    EXPECT_EQ(facade->PrivateKeyMatchesCertificate(cert, key), 1);

    // Each way the pair can fail to belong together.
    struct Case {
        const char* what;
        std::function<void()> spoil, mend;
    };
    const Bytes good = cert->dstuPublic;
    const Bytes other = OtherPublicKey();
    const Case cases[] = {
        {"another public key", [&] { cert->dstuPublic = other; }, [&] { cert->dstuPublic = good; }},
        {"another identifier", [&] { cert->keyId.assign(32, 0x11); }, [&] { cert->keyId = kId; }},
        {"no certificate identifier", [&] { cert->keyId.clear(); }, [&] { cert->keyId = kId; }},
        {"no key identifier", [&] { key->signatureId.clear(); }, [&] { key->signatureId = kId; }},
        {"key without signing", [&] { key->capabilities = 2; }, [&] { key->capabilities = 1; }},
        {"another curve", [&] { cert->curve = StandardCurve(1); }, [&] { cert->curve = curve; }},
    };
    for (const auto& c : cases) {
        c.spoil();
        EXPECT_EQ(facade->PrivateKeyMatchesCertificate(cert, key), 0) << c.what;
        c.mend();
        EXPECT_EQ(facade->PrivateKeyMatchesCertificate(cert, key), 1) << c.what;
    }
    EXPECT_EQ(facade->PrivateKeyMatchesCertificate(nullptr, key), 0);
    EXPECT_EQ(facade->PrivateKeyMatchesCertificate(cert, nullptr), 0);

    auto* rsa = new fake::KeyCertificate(lib, 2);
    Drop dr{rsa};
    rsa->keyId = kId;
    EXPECT_EQ(facade->PrivateKeyMatchesCertificate(rsa, key), 0);
}

TEST_F(KeyMatching, CompanionViewsAreCheckedWhereTheKeyOffersTheirFamily)
{
    fake::KeyObject* key = nullptr;
    fake::KeyCertificate* cert = nullptr;
    MakePair(&key, &cert);
    Drop dk{key}, dc{cert};
    Drop dv{Certificate(OtherPublicKey())};
    auto* view = static_cast<fake::KeyCertificate*>(dv.object);
    cert->rsaView = view;

    // A key without the view's family leaves the view alone.
    EXPECT_EQ(facade->PrivateKeyMatchesCertificate(cert, key), 1);
    key->capabilities = 1 | 2;
    EXPECT_EQ(facade->PrivateKeyMatchesCertificate(cert, key), 0);
    view->dstuPublic = cert->dstuPublic;
    EXPECT_EQ(facade->PrivateKeyMatchesCertificate(cert, key), 1);
}

// A view that leads back to its own certificate must not recurse without
// end: the check stops a few views deep and refuses the certificate.
TEST_F(KeyMatching, ViewCycleIsBounded)
{
    fake::KeyObject* key = nullptr;
    fake::KeyCertificate* cert = nullptr;
    MakePair(&key, &cert);
    Drop dk{key}, dc{cert};
    key->capabilities = 1 | 2;
    cert->rsaView = cert;
    lib.log.clear();
    EXPECT_EQ(facade->PrivateKeyMatchesCertificate(cert, key), 0);
    const auto kinds = std::count(lib.log.begin(), lib.log.end(), std::string("4870:23()"));
    EXPECT_EQ(kinds, 4);  // the certificate and three views of it
    cert->rsaView = nullptr;
}

TEST_F(KeyMatching, PrivateKeyAgainstRequest)
{
    fake::KeyObject* key = nullptr;
    fake::KeyCertificate* cert = nullptr;
    MakePair(&key, &cert);
    Drop dk{key}, dc{cert};
    auto* request = new fake::ScriptedRequest(lib);
    Drop dr{request};
    request->curve = curve;
    request->publicKey.assign(reinterpret_cast<const char*>(cert->dstuPublic.data()), 76);
    request->keyId.assign(reinterpret_cast<const char*>(kId.data()), 32);
    EXPECT_EQ(facade->PrivateKeyMatchesRequest(request, key), 1);

    const Bytes other = OtherPublicKey();
    request->publicKey.assign(reinterpret_cast<const char*>(other.data()), 76);
    EXPECT_EQ(facade->PrivateKeyMatchesRequest(request, key), 0);
    request->publicKey.assign(reinterpret_cast<const char*>(cert->dstuPublic.data()), 76);
    request->keyId.assign(32, '\x11');
    EXPECT_EQ(facade->PrivateKeyMatchesRequest(request, key), 0);
    request->keyId.assign(reinterpret_cast<const char*>(kId.data()), 32);
    request->kind = 2;
    EXPECT_EQ(facade->PrivateKeyMatchesRequest(request, key), 0);
    request->kind = 1;
    EXPECT_EQ(facade->PrivateKeyMatchesRequest(request, key), 1);
}

// Every failing library step refuses the pair and leaves nothing behind
// (the fixture checks live objects and that the private key's blob was
// wiped before it was freed).
TEST_F(KeyMatching, FailureSweep)
{
    fake::KeyObject* key = nullptr;
    fake::KeyCertificate* cert = nullptr;
    MakePair(&key, &cert);
    Drop dk{key}, dc{cert};
    const int before = lib.Calls();
    ASSERT_EQ(facade->PrivateKeyMatchesCertificate(cert, key), 1);
    // Interface queries (op 2) have their fallbacks, and the last steps ask
    // for the companion views, whose absence is no failure.
    const int calls = lib.Calls() - before;
    for (bool throws : {false, true})
        for (int k = 1; k <= calls; ++k) {
            const std::size_t at = lib.log.size();
            lib.FailCall(k, PKI_E_OUT_OF_MEMORY, throws);
            int rc = -1;
            EXPECT_NO_THROW(rc = facade->PrivateKeyMatchesCertificate(cert, key));
            const std::string failed = lib.log[at + static_cast<std::size_t>(k - 1)];
            const bool optional = failed == "4870:103()" || failed == "4870:112()" ||
                                  failed.find(":1(") != std::string::npos || failed.find(":2(") != std::string::npos ||
                                  failed.find("0:7(") == 0;
            if (!optional) {
                EXPECT_EQ(rc, 0) << "k=" << k << " failed " << failed;
            }
            lib.FailCall(0);
        }
}

TEST_F(KeyMatching, KeyIdentifierAgainstCertificate)
{
    fake::KeyObject* key = nullptr;
    fake::KeyCertificate* cert = nullptr;
    MakePair(&key, &cert);
    Drop dk{key}, dc{cert};
    std::uint32_t flag = 7;
    EXPECT_EQ(facade->KeyMatchesCertificate(key, cert, &flag), 1);
    EXPECT_EQ(flag, 1u);
    cert->keyId.back() ^= 1;
    EXPECT_EQ(facade->KeyMatchesCertificate(key, cert, &flag), 1);
    EXPECT_EQ(flag, 0u);
    // An identifier that cannot be read is no answer.
    cert->keyId.clear();
    flag = 7;
    EXPECT_EQ(facade->KeyMatchesCertificate(key, cert, &flag), 0);
    EXPECT_EQ(flag, 0u);
    cert->keyId = kId;
    key->signatureId.clear();
    EXPECT_EQ(facade->KeyMatchesCertificate(key, cert, &flag), 0);
    EXPECT_EQ(facade->KeyMatchesCertificate(key, cert, nullptr), 0);
}

TEST_F(KeyMatching, HashSignatureWithCertificateKey)
{
    fake::KeyObject* key = nullptr;
    fake::KeyCertificate* cert = nullptr;
    MakePair(&key, &cert);
    Drop dk{key}, dc{cert};
    // A GOST 34.311 hash of a message signed by the provider with the key.
    const std::string message = "message to sign";
    std::uint8_t hash[32] = {}, zero[32] = {};
    ASSERT_EQ(csp->HashGOST34311(reinterpret_cast<const std::uint8_t*>(message.data()),
                                 static_cast<std::uint32_t>(message.size()),
                                 reinterpret_cast<const GOST28147PackedSBox*>(curve.sBox), zero, hash),
              CSP_OK);
    std::uint8_t signature[PKIF_DSTU4145_SIGNATURE_MAX] = {};
    ASSERT_EQ(csp->SignHashDSTU4145(hash, &curve.field, &curve.point, key->dstuPrivate.data(), signature), CSP_OK);

    EXPECT_EQ(facade->VerifyDataSignature(cert, hash, signature), 1);
    std::uint8_t changed[32];
    std::memcpy(changed, hash, 32);
    changed[5] ^= 0x01;
    EXPECT_EQ(facade->VerifyDataSignature(cert, changed, signature), 0);
    cert->dstuPublic = OtherPublicKey();
    EXPECT_EQ(facade->VerifyDataSignature(cert, hash, signature), 0);
    EXPECT_EQ(facade->VerifyDataSignature(cert, hash, nullptr), 0);
    EXPECT_EQ(facade->VerifyDataSignature(nullptr, hash, signature), 0);
}

}  // namespace
