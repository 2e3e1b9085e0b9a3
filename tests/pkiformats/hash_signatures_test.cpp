// Hash signatures by key family over the real providers: DSTU 4145 pairs
// made by the CSP, RSA and ECDSA pairs made by a CSPI the test constructs.
// Signatures the facade makes are checked by the provider directly and by
// OpenSSL where one exists; peer signatures are bounded before they are
// copied; hash codes and key identifiers.
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include "KeyProviders.h"
#include "VirtualSlot.h"

using namespace keytest;

namespace {

class HashSignatures : public Providers {
protected:
    fake::KeyCertificate* DSTU4145Certificate(const fake::Curve& curve, const Bytes& publicKey)
    {
        auto* certificate = new fake::KeyCertificate(lib, 1);
        certificate->curve = curve;
        certificate->dstuPublic = publicKey;
        return certificate;
    }
    // The DSTU 4145 bytes of an encoded signature value, as a peer reads them.
    Bytes DSTU4145Bytes(const PKIBlob& signature)
    {
        Bytes out(PKIF_DSTU4145_SIGNATURE_MAX);
        std::uint32_t length = 0;
        EXPECT_EQ(facade->DecodeDSTU4145Signature(&signature, out.data(), &length), 1);
        out.resize(length);
        return out;
    }
    Bytes Sign(IPKIObject* key, std::uint32_t family, const std::string& data)
    {
        PKIBlob in = View(data), out{0, nullptr};
        EXPECT_EQ(facade->SignHashByKeyFamily(key, family, &in, &out), 1);
        Bytes bytes = Copy(out);
        facade->ReleaseBlob(&out);
        return bytes;
    }
    int VerifyCertificate(IPKIObject* certificate, const std::string& data, const Bytes& signature)
    {
        PKIBlob in = View(data), sig = View(signature);
        return facade->VerifyWithCertificate(certificate, &in, &sig);
    }
};

// Flips one bit inside the value bytes of an encoded signature (past the
// encoding's two magic bytes, set flag and bit length).
Bytes FlipBit(Bytes signature, std::size_t at)
{
    signature[7 + at] ^= 0x10;
    return signature;
}

}  // namespace

TEST(HashSignatureSlots, TheNewObjectSlotsSitWhereTheLibraryHasThem)
{
#define QVK_SLOT(cls, slot, op) EXPECT_EQ(qvktest::SlotOf(&cls::op), slot) << #cls "::" #op;
    QVK_PKI_KEY_MODEL_SLOTS(QVK_SLOT)
#undef QVK_SLOT
}

// Data signed through the CSP on the smallest standard curve, the largest
// one (431-bit order: 108 signature bytes, more than the 76 of a key) and the
// 571-bit built-in curve (144 bytes) verifies through the certificate and
// through the provider directly, and fails with one bit changed in the
// signature or in the data.
TEST_F(HashSignatures, DSTU4145SignaturesVerifyAndFailWithOneBitChanged)
{
    fake::Curve builtIn = StandardCurve(0);
    PKIBuiltInCurve(&builtIn.field, &builtIn.point);
    const std::pair<fake::Curve, std::uint32_t> curves[] = {
        {StandardCurve(0), 2 * 21}, {StandardCurve(9), 2 * 54}, {builtIn, 2 * 72}};
    const std::string data = "data signed with a DSTU 4145 key";
    for (const auto& [curve, length] : curves) {
        SCOPED_TRACE(curve.field.words[DSTU4145_FIELD_M]);
        Bytes publicKey;
        fake::KeyObject* key = DSTU4145Key(curve, &publicKey);
        Drop dropKey{key};
        fake::KeyCertificate* certificate = DSTU4145Certificate(curve, publicKey);
        Drop dropCertificate{certificate};

        Bytes signature = Sign(key, 1, data);
        PKIBlob blob = View(signature);
        Bytes value = DSTU4145Bytes(blob);
        ASSERT_EQ(value.size(), length);
        EXPECT_EQ(VerifyCertificate(certificate, data, signature), 1);

        // The provider itself accepts it over the GOST 34.311 hash of the data.
        std::uint8_t hash[32], padded[152] = {};
        std::memcpy(padded, value.data(), value.size());
        ASSERT_EQ(csp->HashGOST34311(reinterpret_cast<const std::uint8_t*>(data.data()),
                                     static_cast<std::uint32_t>(data.size()),
                                     reinterpret_cast<const GOST28147PackedSBox*>(curve.sBox), nullptr, hash),
                  CSP_OK);
        fake::Curve copy = curve;
        EXPECT_EQ(csp->VerifyHashSignatureDSTU4145(hash, &copy.field, &copy.point, publicKey.data(), padded), CSP_OK);

        EXPECT_EQ(VerifyCertificate(certificate, data, FlipBit(signature, 3)), 0);
        EXPECT_EQ(VerifyCertificate(certificate, data, FlipBit(signature, length - 1)), 0);
        std::string changed = data;
        changed[0] ^= 1;
        EXPECT_EQ(VerifyCertificate(certificate, changed, signature), 0);
    }
}

// The DSTU 7564 form signs the DSTU 7564 hash; a request verifies by its hash
// code: code 7 takes the DSTU 7564 route, code 1 the GOST 34.311 one.
TEST_F(HashSignatures, DSTU7564FormVerifiesThroughARequestByItsHashCode)
{
    fake::Curve curve = StandardCurve(5);
    Bytes publicKey;
    fake::KeyObject* key = DSTU4145Key(curve, &publicKey);
    Drop dropKey{key};
    const std::string data = "request body";
    PKIBlob in = View(data), out{0, nullptr};
    ASSERT_EQ(facade->SignDataDSTU4145With7564(key, &in, &out), 1);
    Bytes signature = Copy(out);
    facade->ReleaseBlob(&out);
    PKIBlob sig = View(signature);

    for (std::uint32_t code : {7u, 1u}) {
        auto* request = new fake::KeyRequest(lib, 1);
        Drop dropRequest{request};
        request->curve = curve;
        request->dstuPublic = publicKey;
        request->OfferHashCode(code);
        EXPECT_EQ(facade->VerifyWithRequest(request, &in, &sig), code == 7 ? 1 : 0) << code;
    }
    auto* parameters = new fake::CurveParameters(lib, curve);
    Drop dropParameters{parameters};
    EXPECT_EQ(facade->VerifyDSTU7564Signature(publicKey.data(), parameters, &in, &sig), 1);
    EXPECT_EQ(facade->VerifyDSTU4145Signature(publicKey.data(), parameters, &in, &sig), 0);
}

// A peer's signature value is copied only within the documented capacity:
// 152 bytes for DSTU 4145, 1,152 for RSA, the 152-byte record for ECDSA.
// Nothing past the capacity is written when the value is longer.
TEST_F(HashSignatures, DecodedPeerSignaturesAreBoundedByTheCapacity)
{
    struct Case {
        int form;
        std::uint32_t capacity;
    };
    for (const Case& c : {Case{0, 152}, Case{1, 1152}, Case{2, 152}}) {
        SCOPED_TRACE(c.form);
        for (std::uint32_t length : {c.capacity, c.capacity + 1}) {
            Bytes peer = fake::PeerSignature(c.form, Bytes(length, 0x5A));
            PKIBlob blob = View(peer);
            Bytes buffer(c.capacity + 64, 0xEE);
            std::uint32_t got = 0;
            int rc = c.form == 0   ? facade->DecodeDSTU4145Signature(&blob, buffer.data(), &got)
                     : c.form == 1 ? facade->DecodeRSASignature(&blob, buffer.data(), &got)
                                   : facade->DecodeECDSASignature(&blob, buffer.data());
            if (length == c.capacity) {
                EXPECT_EQ(rc, 1);
                EXPECT_EQ(buffer[c.capacity - 1], 0x5A);
                if (c.form != 2) {
                    EXPECT_EQ(got, length);
                }
            } else {
                EXPECT_EQ(rc, 0);
                EXPECT_EQ(buffer[0], 0xEE) << "nothing copied";
            }
            EXPECT_EQ(buffer[c.capacity], 0xEE) << "nothing past the capacity";
        }
    }
    // The encoders hold the same maxima.
    Bytes long153(153, 1), long1153(1153, 1);
    PKIBlob out{0, nullptr};
    EXPECT_EQ(facade->EncodeDSTU4145Signature(long153.data(), 153, &out), 0);
    EXPECT_EQ(facade->EncodeRSASignature(long1153.data(), 1153, &out), 0);
    EXPECT_EQ(out.data, nullptr);
}

// A value the encoder reports in bits rounds up to whole bytes.
TEST_F(HashSignatures, EncodedLengthsRoundTripInBitsAndBytes)
{
    Bytes value(40);
    for (std::size_t i = 0; i < value.size(); ++i) value[i] = static_cast<std::uint8_t>(i + 1);
    PKIBlob out{0, nullptr};
    ASSERT_EQ(facade->EncodeRSASignature(value.data(), 40, &out), 1);
    // The encoding carries the bit length the facade set: 320.
    EXPECT_EQ(out.data[2 + 5 + 0], 1);
    EXPECT_EQ(out.data[2 + 5 + 1] | (out.data[2 + 5 + 2] << 8), 320);
    Bytes back(1152);
    std::uint32_t length = 0;
    ASSERT_EQ(facade->DecodeRSASignature(&out, back.data(), &length), 1);
    EXPECT_EQ(length, 40u);
    EXPECT_TRUE(std::equal(value.begin(), value.end(), back.begin()));
    facade->ReleaseBlob(&out);
    // A DSTU 4145 value of 161 bits reads back as 21 bytes.
    fake::SignatureValue::Form forms[3];
    forms[0] = {Bytes(21, 7), 161, true};
    Bytes peer = fake::EncodeSignatureValue(forms);
    PKIBlob blob = View(peer);
    ASSERT_EQ(facade->DecodeDSTU4145Signature(&blob, back.data(), &length), 1);
    EXPECT_EQ(length, 21u);
}

namespace {

// OpenSSL's RSA public key from the provider's record (u32 bits, modulus in
// 512 bytes, exponent in 84) and its PKCS#1 v1.5 verification over `md`.
bool OpenSSLVerifiesRSA(const Bytes& record, const EVP_MD* md, const std::string& data, const Bytes& signature)
{
    BIGNUM* n = BN_bin2bn(record.data() + 4, 512, nullptr);
    BIGNUM* e = BN_bin2bn(record.data() + 516, 84, nullptr);
    OSSL_PARAM_BLD* bld = OSSL_PARAM_BLD_new();
    OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_N, n);
    OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_E, e);
    OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(bld);
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr);
    EVP_PKEY* key = nullptr;
    bool ok = EVP_PKEY_fromdata_init(ctx) == 1 && EVP_PKEY_fromdata(ctx, &key, EVP_PKEY_PUBLIC_KEY, params) == 1;
    EVP_MD_CTX* md_ctx = EVP_MD_CTX_new();
    ok = ok && EVP_DigestVerifyInit(md_ctx, nullptr, md, nullptr, key) == 1 &&
         EVP_DigestVerify(md_ctx, signature.data(), signature.size(),
                          reinterpret_cast<const unsigned char*>(data.data()), data.size()) == 1;
    EVP_MD_CTX_free(md_ctx);
    EVP_PKEY_free(key);
    EVP_PKEY_CTX_free(ctx);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(bld);
    BN_free(n);
    BN_free(e);
    return ok;
}

}  // namespace

// RSA keys below 2,048 bits sign the SHA-1 hash, from 2,048 bits on the
// SHA-256 hash: OpenSSL verifies each with that digest and no other. The
// facade's own verification through the certificate agrees and refuses a
// changed bit.
TEST_F(HashSignatures, RSAHashFollowsTheKeySizeAndOpenSSLAgrees)
{
    const std::string data = "data signed with an RSA key";
    for (std::uint32_t bits : {1024u, 2048u}) {
        SCOPED_TRACE(bits);
        Bytes record;
        fake::KeyObject* key = RSAKey(bits, &record);
        Drop dropKey{key};
        Bytes signature = Sign(key, 2, data);
        PKIBlob blob = View(signature);
        Bytes value(PKIF_SIGNATURE_MAX);
        std::uint32_t length = 0;
        ASSERT_EQ(facade->DecodeRSASignature(&blob, value.data(), &length), 1);
        ASSERT_EQ(length, bits / 8);
        value.resize(length);
        EXPECT_EQ(OpenSSLVerifiesRSA(record, bits < 2048 ? EVP_sha1() : EVP_sha256(), data, value), true);
        EXPECT_EQ(OpenSSLVerifiesRSA(record, bits < 2048 ? EVP_sha256() : EVP_sha1(), data, value), false);

        auto* certificate = new fake::KeyCertificate(lib, 2);
        Drop dropCertificate{certificate};
        RSAFields(record, certificate->rsaFields);
        certificate->rsaBits = bits;
        EXPECT_EQ(VerifyCertificate(certificate, data, signature), 1);
        EXPECT_EQ(VerifyCertificate(certificate, data, FlipBit(signature, 10)), 0);
    }
}

// An RSA key whose signature would pass the 1,152-byte capacity is refused
// before the provider is asked; a key without the RSA capability is refused
// even for family 2.
TEST_F(HashSignatures, RSASigningRefusesOversizedKeysAndKeysWithoutTheCapability)
{
    Bytes record;
    fake::KeyObject* key = RSAKey(1024, &record);
    Drop dropKey{key};
    PKIBlob in = View(std::string("x")), out{0, nullptr};
    key->capabilities = 1 | 4;  // DSTU 4145 and ECDSA, no RSA
    EXPECT_EQ(facade->SignHashByKeyFamily(key, 2, &in, &out), 0);
    key->capabilities = 2;
    const std::uint32_t oversized[2] = {1153 * 8, 256};
    std::memcpy(key->rsaProfile, oversized, 8);
    EXPECT_EQ(facade->SignDataRSA(key, &in, &out), 0);
    EXPECT_EQ(out.data, nullptr);
}

namespace {

// OpenSSL's verification of an ECDSA signature (r and s of 76 bytes each)
// on the P-256 curve with the provider's 152-byte point (04, x, y at the end).
bool OpenSSLVerifiesP256(const Bytes& point, const std::string& data, const Bytes& rs)
{
    unsigned char encoded[65];
    std::memcpy(encoded, point.data() + 152 - 65, 65);
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, const_cast<char*>("prime256v1"), 0),
        OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, encoded, sizeof encoded),
        OSSL_PARAM_construct_end()};
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr);
    EVP_PKEY* key = nullptr;
    bool ok = EVP_PKEY_fromdata_init(ctx) == 1 && EVP_PKEY_fromdata(ctx, &key, EVP_PKEY_PUBLIC_KEY, params) == 1;
    // DER of SEQUENCE { INTEGER r, INTEGER s } from the right-aligned halves.
    ECDSA_SIG* sig = ECDSA_SIG_new();
    ECDSA_SIG_set0(sig, BN_bin2bn(rs.data(), 76, nullptr), BN_bin2bn(rs.data() + 76, 76, nullptr));
    unsigned char* der = nullptr;
    int derLength = i2d_ECDSA_SIG(sig, &der);
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    ok = ok && derLength > 0 && EVP_DigestVerifyInit(md, nullptr, EVP_sha256(), nullptr, key) == 1 &&
         EVP_DigestVerify(md, der, static_cast<std::size_t>(derLength),
                          reinterpret_cast<const unsigned char*>(data.data()), data.size()) == 1;
    EVP_MD_CTX_free(md);
    OPENSSL_free(der);
    ECDSA_SIG_free(sig);
    EVP_PKEY_free(key);
    EVP_PKEY_CTX_free(ctx);
    return ok;
}

}  // namespace

// ECDSA through the key family signs the SHA-256 hash on P-256 (curve 4 of
// the second provider): OpenSSL verifies it, and so does the facade through
// the certificate's EC view with the record's named curve; one bit changed
// fails.
TEST_F(HashSignatures, ECDSASignaturesVerifyThroughOpenSSLAndTheCertificate)
{
    Bytes point;
    fake::KeyObject* key = ECKey(4, &point);
    Drop dropKey{key};
    const std::string data = "data signed with an ECDSA key";
    Bytes signature = Sign(key, 4, data);
    PKIBlob blob = View(signature);
    Bytes rs(152);
    ASSERT_EQ(facade->DecodeECDSASignature(&blob, rs.data()), 1);
    EXPECT_TRUE(OpenSSLVerifiesP256(point, data, rs));

    auto* certificate = new fake::KeyCertificate(lib, 4);
    Drop dropCertificate{certificate};
    certificate->ec.point = point;
    certificate->ec.record = ECRecord(4);
    EXPECT_EQ(VerifyCertificate(certificate, data, signature), 1);
    EXPECT_EQ(VerifyCertificate(certificate, data, FlipBit(signature, 151)), 0);
    std::string changed = data;
    changed.back() ^= 1;
    EXPECT_EQ(VerifyCertificate(certificate, changed, signature), 0);
}

// Hash codes 1 to 9 and their lengths, through a signed object's interface
// 4238 and a request's interface 4237; without the interface the family
// decides (1 gives 1, 2 and 4 give SHA-256); a code outside 1 to 9 fails
// only when the length is asked.
TEST_F(HashSignatures, HashCodesAndTheirLengths)
{
    const std::uint32_t lengths[10] = {0, 32, 20, 28, 32, 48, 64, 32, 48, 64};
    for (std::uint32_t code = 1; code <= 10; ++code) {
        auto* signedObject = new fake::SignedObject(lib, 1);
        Drop dropSigned{signedObject};
        signedObject->OfferHashCode(code);
        auto* request = new fake::KeyRequest(lib, 2);
        Drop dropRequest{request};
        request->OfferHashCode(code);
        std::uint32_t c = 0, length = 0;
        EXPECT_EQ(facade->GetHashAlgorithmOfSigned(signedObject, &c, &length), code <= 9 ? 1 : 0) << code;
        if (code <= 9) {
            EXPECT_EQ(length, lengths[code]) << code;
        }
        EXPECT_EQ(facade->GetHashAlgorithmOfRequest(request, &c, &length), code <= 9 ? 1 : 0) << code;
        EXPECT_EQ(facade->GetHashAlgorithmOfRequestDefault(request, &c), 1);
        EXPECT_EQ(c, code);
    }
    struct Default {
        std::uint32_t family;
        int result;
        std::uint32_t code;
    };
    for (const Default& d :
         {Default{1, 1, 1}, Default{2, 1, 4}, Default{4, 1, 4}, Default{3, 0, 0}, Default{7, 0, 0}}) {
        auto* signedObject = new fake::SignedObject(lib, d.family);
        Drop dropSigned{signedObject};
        auto* request = new fake::KeyRequest(lib, d.family);
        Drop dropRequest{request};
        std::uint32_t c = 0, length = 0;
        EXPECT_EQ(facade->GetHashAlgorithmOfSigned(signedObject, &c, &length), d.result) << d.family;
        EXPECT_EQ(c, d.code);
        c = 0;
        EXPECT_EQ(facade->GetHashAlgorithmOfRequest(request, &c, &length), d.result) << d.family;
        EXPECT_EQ(c, d.code);
        if (d.result) {
            EXPECT_EQ(length, 32u);
        }
    }
}

TEST_F(HashSignatures, HashAlgorithmCodeOfFamilyAndLength)
{
    struct Case {
        std::uint32_t family, flag, length, second;
        int code;
    };
    const Case cases[] = {{1, 1, 32, 0, 1}, {1, 1, 32, 1, 0}, {1, 0, 32, 0, 0}, {1, 0, 48, 0, 8},
                          {1, 0, 64, 1, 9}, {1, 1, 20, 0, 0}, {2, 0, 20, 0, 2}, {2, 0, 28, 0, 3},
                          {2, 0, 32, 0, 4}, {4, 0, 48, 0, 5}, {4, 1, 64, 1, 6}, {1, 1, 24, 0, 0},
                          {2, 0, 24, 0, 0}, {4, 0, 24, 0, 0}, {3, 0, 32, 0, 0}, {0, 1, 20, 0, 0}};
    for (const Case& c : cases)
        EXPECT_EQ(facade->GetHashAlgorithmCode(c.family, c.flag, c.length, c.second), c.code)
            << c.family << "," << c.flag << "," << c.length << "," << c.second;
}

// Key identifiers: the request's own identifier is copied (20 or 32 bytes,
// the rest of the 32-byte output zero), one longer than 32 bytes is refused;
// without one it is computed by the key's family through the library's
// operation for it, behind its version gate.
TEST_F(HashSignatures, KeyIdentifiersOwnOrComputedByFamily)
{
    for (std::size_t length : {20u, 32u, 33u}) {
        auto* request = new fake::KeyRequest(lib, 1);
        Drop dropRequest{request};
        request->identifier = Bytes(length, 0x3C);
        Bytes out(40, 0xEE);
        int rc = facade->ComputeKeyIdentifier(request, 1, 0, out.data());
        if (length <= 32) {
            EXPECT_EQ(rc, 1);
            EXPECT_EQ(Bytes(out.begin(), out.begin() + static_cast<long>(length)), Bytes(length, 0x3C));
            EXPECT_EQ(Bytes(out.begin() + static_cast<long>(length), out.begin() + 32), Bytes(32 - length, 0));
        } else {
            EXPECT_EQ(rc, 0);
            EXPECT_EQ(out, Bytes(40, 0xEE)) << "nothing written";
        }
        EXPECT_EQ(out[32], 0xEE);
    }

    auto expect = [](std::uint8_t tag, const std::uint8_t* key, std::uint32_t keyLength, std::uint32_t size) {
        Bytes id(32, 0);
        fake::KeysLibrary::Identifier(tag, key, keyLength, id.data(), size);
        return id;
    };
    Bytes out(32);
    // RSA: from the modulus field through operation 17.
    auto* rsa = new fake::KeyRequest(lib, 2);
    Drop dropRSA{rsa};
    for (std::size_t i = 0; i < 1200; ++i) rsa->rsaFields[i] = static_cast<std::uint8_t>(i * 7);
    ASSERT_EQ(facade->ComputeKeyIdentifier(rsa, 0, 0, out.data()), 1);
    EXPECT_EQ(out, expect(17, rsa->rsaFields.data(), 600, 20));
    // ECDSA: from the public point through operation 28, from version 262 on.
    auto* ec = new fake::KeyRequest(lib, 4);
    Drop dropEC{ec};
    for (std::size_t i = 0; i < 152; ++i) ec->ec.point[i] = static_cast<std::uint8_t>(i + 3);
    lib.version = 261;
    EXPECT_EQ(facade->ComputeKeyIdentifier(ec, 0, 0, out.data()), 0);
    lib.version = 262;
    ASSERT_EQ(facade->ComputeKeyIdentifier(ec, 0, 0, out.data()), 1);
    EXPECT_EQ(out, expect(28, ec->ec.point.data(), 152, 20));
    // DSTU 4145: code 1 through operation 18 with the key's field bytes; a
    // request hash code other than 1 through operation 37 from version 272.
    auto* dstu = new fake::KeyRequest(lib, 1);
    Drop dropDSTU{dstu};
    dstu->curve = StandardCurve(0);
    for (std::size_t i = 0; i < 76; ++i) dstu->dstuPublic[i] = static_cast<std::uint8_t>(0x40 + i);
    ASSERT_EQ(facade->ComputeKeyIdentifier(dstu, 0, 0, out.data()), 1);
    EXPECT_EQ(out, expect(18, dstu->dstuPublic.data(), 21, 20));
    lib.version = 271;
    EXPECT_EQ(facade->ComputeKeyIdentifier(dstu, 0, 1, out.data()), 0);
    lib.version = 272;
    ASSERT_EQ(facade->ComputeKeyIdentifier(dstu, 0, 1, out.data()), 1);
    EXPECT_EQ(out, expect(37, dstu->dstuPublic.data(), 21, 32));
    dstu->OfferHashCode(7);
    std::fill(out.begin(), out.end(), 0);
    ASSERT_EQ(facade->ComputeKeyIdentifier(dstu, 1, 0, out.data()), 1);
    EXPECT_EQ(out, expect(37, dstu->dstuPublic.data(), 21, 32));
}

// Every library call of a signing and a verification fails in turn, and
// throws in turn: the operation answers 0 and leaves nothing behind (the
// fixture checks objects, blobs and unwiped frees).
TEST_F(HashSignatures, FailuresAtEveryCallLeaveNothingBehind)
{
    fake::Curve curve = StandardCurve(0);
    Bytes publicKey;
    fake::KeyObject* key = DSTU4145Key(curve, &publicKey);
    Drop dropKey{key};
    fake::KeyCertificate* certificate = DSTU4145Certificate(curve, publicKey);
    Drop dropCertificate{certificate};
    const std::string data = "sweep";
    PKIBlob in = View(data);
    for (bool throws : {false, true}) {
        for (int k = 1;; ++k) {
            PKIBlob out{0, nullptr};
            lib.FailCall(k, PKI_E_FAILURE, throws);
            int signedOk = facade->SignDataDSTU4145(key, &in, &out);
            int verified = signedOk ? facade->VerifyWithCertificate(certificate, &in, &out) : 0;
            bool reached = lib.FailureUsed();
            lib.FailCall(1 << 30);
            facade->ReleaseBlob(&out);
            if (!reached) {
                EXPECT_EQ(verified, 1);
                break;
            }
        }
    }
}
