// RSA, DSA, ECDSA, DH and ECDH through the provider: published known answers
// (RFC 6979 signatures, RFC 7027 key agreement), round trips over the
// stand-in, the capability query and the hardware paths.
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>

#include <cstring>

#include "CSPITestSupport.h"

using namespace cspitest;

namespace {

class CSPIPublicKey : public testing::Test {
protected:
    void SetUp() override
    {
        int code = -1;
        cspi_ = Create("full", &code);
        ASSERT_EQ(code, CSP_OK);
        ASSERT_NE(cspi_, nullptr);
    }
    CSPIPointer cspi_;
};

// A hardware object that answers every operation with a fixed result and
// counts the calls.
class FakeHardware : public ICSPIHardware {
public:
    explicit FakeHardware(int answer) : answer_(answer) {}
    int calls = 0;
    std::uint32_t lastQuery = 0;
    int Reserved0() override { return ++calls, 0; }
    int GenerateKeyPairRSA(const std::uint8_t* parameters, std::uint8_t* publicKey) override
    {
        if (publicKey == nullptr) std::memcpy(&lastQuery, parameters, 4);
        return ++calls, answer_;
    }
    int SignHashRSA(const std::uint8_t*, const std::uint8_t*, std::uint8_t*) override { return ++calls, answer_; }
    int CheckKeyPairRSA(const std::uint8_t*, const std::uint8_t*) override { return ++calls, answer_; }
    int SignHashDSA(std::uint32_t, const std::uint8_t*, const std::uint8_t*, std::uint8_t*) override
    {
        return ++calls, answer_;
    }
    int GenerateKeyPairDSA(const std::uint8_t*, std::uint8_t*) override { return ++calls, answer_; }
    int CheckKeyPairDSA(const std::uint8_t*, const std::uint8_t*) override { return ++calls, answer_; }
    int SignHashECDSA(std::uint32_t, const std::uint8_t*, const std::uint8_t*, std::uint8_t*) override
    {
        return ++calls, answer_;
    }
    int GenerateKeyPairECDSA(const std::uint8_t*, std::uint8_t*) override { return ++calls, answer_; }
    int CheckKeyPairECDSA(const std::uint8_t*, const std::uint8_t*) override { return ++calls, answer_; }
    int CalculateSharedSecretECDH(const std::uint8_t*, const std::uint8_t*, std::uint8_t*) override
    {
        return ++calls, answer_;
    }
    int CalculateSharedSecretDH(const std::uint8_t*, const std::uint8_t*, std::uint8_t*) override
    {
        return ++calls, answer_;
    }
    int GenerateHardwareKeyPairRSA(const std::uint8_t*, std::uint8_t*) override { return ++calls, answer_; }
    int GenerateHardwareKeyPairDSA(const std::uint8_t*, std::uint8_t*) override { return ++calls, answer_; }
    int GenerateHardwareKeyPairECDSA(const std::uint8_t*, std::uint8_t*) override { return ++calls, answer_; }
    int DecryptRSA(std::uint8_t*, std::uint32_t*, const std::uint8_t*, std::uint32_t) override
    {
        return ++calls, answer_;
    }
    int SignHashRSAEx(const std::uint8_t*, const std::uint8_t*, std::uint8_t*) override { return ++calls, answer_; }
    int CoupleGenerateKeyECDSA(std::uint32_t, const std::uint8_t*, const std::uint8_t*, const std::uint8_t*,
                               std::uint8_t*, std::uint8_t*, std::uint8_t*, std::uint8_t*) override
    {
        return ++calls, answer_;
    }
    int CoupleMakeCommonKeyECDSA(const std::uint8_t*, const std::uint8_t*, std::uint8_t*) override
    {
        return ++calls, answer_;
    }

private:
    int answer_;
};

Bytes Point(const char* x, const char* y, std::size_t coordinate)
{
    Bytes point(CSPI_EC_POINT_BYTES, 0);
    Bytes xb = Hex(x), yb = Hex(y);
    std::size_t start = CSPI_EC_POINT_BYTES - (2 * coordinate + 1);
    point[start] = 0x04;
    std::copy(xb.begin(), xb.end(), point.begin() + static_cast<std::ptrdiff_t>(start + 1 + coordinate - xb.size()));
    std::copy(yb.begin(), yb.end(), point.end() - static_cast<std::ptrdiff_t>(yb.size()));
    return point;
}

Bytes Signature(const char* r, const char* s)
{
    Bytes out = RightAligned(Hex(r), CSPI_EC_NUMBER_BYTES);
    Bytes sb = RightAligned(Hex(s), CSPI_EC_NUMBER_BYTES);
    out.insert(out.end(), sb.begin(), sb.end());
    return out;
}

TEST_F(CSPIPublicKey, VerifiesTheECDSAKnownAnswersOfRFC6979)
{
    // P-256 (curve 4), key pair and the SHA-256 signature of "sample".
    Bytes curve = Curve(*cspi_, 4);
    Bytes publicKey = Point("60FED4BA255A9D31C961EB74C6356D68C049B8923B61FA6CE669622E60F29FB6",
                            "7903FE1008B8BC99A41AE9E95628BC64F2F1B20C2D7E9F5177A3C294D4462299", 32);
    Bytes signature = Signature("EFD48B2AACB6A8FD1140DD9CD45E81D69D2C877B56AAF991C34D0EA84EAF3716",
                                "F7CB1C942D657C41D436C7A1B6E29F65F3E900DBB9AFF4064DC4AB2F843ACDA8");
    std::uint8_t hash[32];
    ASSERT_EQ(cspi_->HashSHA(U8("sample"), 6, 256, hash), CSP_OK);
    EXPECT_EQ(cspi_->VerifySignatureECDSA(32, hash, curve.data(), publicKey.data(), signature.data()), CSP_OK);
    // The private key of the RFC gives the same public key.
    Bytes privateKey = RightAligned(Hex("C9AFA9D845BA75166B5C215767B1D6934E50C3DB36E89B127B8A622B120F6721"), 76);
    EXPECT_EQ(cspi_->CheckKeyPairECDSA(curve.data(), privateKey.data(), publicKey.data()), CSP_OK);

    signature[CSPI_EC_SIGNATURE_BYTES - 1] ^= 1;
    EXPECT_EQ(cspi_->VerifySignatureECDSA(32, hash, curve.data(), publicKey.data(), signature.data()),
              CSP_INVALID_SIGNATURE);
    publicKey[CSPI_EC_POINT_BYTES - 1] ^= 1;  // off the curve
    EXPECT_EQ(cspi_->VerifySignatureECDSA(32, hash, curve.data(), publicKey.data(), signature.data()),
              CSP_BAD_PARAMETERS);
}

TEST_F(CSPIPublicKey, AgreesOnTheBrainpoolSecretOfRFC7027)
{
    Bytes curve = Curve(*cspi_, 5);  // brainpoolP256r1
    Bytes dA = RightAligned(Hex("81DB1EE100150FF2EA338D708271BE38300CB54241D79950F77B063039804F1D"), 76);
    Bytes dB = RightAligned(Hex("55E40BC41E37E3E2AD25C3C6654511FFA8474A91A0032087593852D3E7D76BD3"), 76);
    Bytes qA = Point("44106E913F92BC02A1705D9953A8414DB95E1AAA49E81D9E85F929A8E3100BE5",
                     "8AB4846F11CACCB73CE49CBDD120F5A900A69FD32C272223F789EF10EB089BDC", 32);
    Bytes qB = Point("8D2D688C6CF93E1160AD04CC4429117DC2C41825E1E9FCA0ADDD34E6F1B39F7B",
                     "990C57520812BE512641E47034832106BC7D3E8DD0E4C7F1136D7006547CEC6A", 32);
    Bytes z = Hex("89AFC39D41D3B327814B80940B042590F96556EC91E6AE7939BCE31F3A18BF2B");
    Bytes secretA(32), secretB(32);
    ASSERT_EQ(cspi_->CalculateSharedSecretECDH(curve.data(), dA.data(), qB.data(), secretA.data()), CSP_OK);
    ASSERT_EQ(cspi_->CalculateSharedSecretECDH(curve.data(), dB.data(), qA.data(), secretB.data()), CSP_OK);
    EXPECT_EQ(secretA, z);
    EXPECT_EQ(secretB, z);
    // Each public key belongs to its private key.
    Bytes derived(CSPI_EC_POINT_BYTES);
    ASSERT_EQ(cspi_->GenerateHardwareKeyPairECDSA(curve.data(), dA.data(), derived.data()), CSP_OK);
    EXPECT_EQ(derived, qA);
}

TEST_F(CSPIPublicKey, ECDSAKeysSignAndVerifyOnEveryCurve)
{
    for (std::uint32_t i = 0; i < CSPI_CURVE_COUNT; ++i) {
        SCOPED_TRACE(i);
        Bytes curve = Curve(*cspi_, i);
        ASSERT_EQ(cspi_->CheckParametersECDSA(curve.data()), CSP_OK);
        Bytes privateKey(CSPI_EC_NUMBER_BYTES), publicKey(CSPI_EC_POINT_BYTES), signature(CSPI_EC_SIGNATURE_BYTES);
        ASSERT_EQ(cspi_->GenerateKeyPairECDSA(curve.data(), privateKey.data(), publicKey.data()), CSP_OK);
        EXPECT_EQ(cspi_->CheckKeyPairECDSA(curve.data(), privateKey.data(), publicKey.data()), CSP_OK);
        std::uint8_t hash[64];
        std::memset(hash, 0x5A, sizeof hash);
        ASSERT_EQ(cspi_->SignHashECDSA(64, hash, curve.data(), privateKey.data(), signature.data()), CSP_OK);
        EXPECT_EQ(cspi_->VerifySignatureECDSA(64, hash, curve.data(), publicKey.data(), signature.data()), CSP_OK);
    }
    Bytes broken = Curve(*cspi_, 4);
    broken[CSPI_CURVE_B + 75] ^= 1;  // the base point leaves the curve
    EXPECT_EQ(cspi_->CheckParametersECDSA(broken.data()), CSP_BAD_PARAMETERS);
}

TEST_F(CSPIPublicKey, RSASignsInBothSchemesEncryptsAndRefusesForeignKeys)
{
    const std::uint32_t profile[2] = {1024, 256};
    const auto* parameters = reinterpret_cast<const std::uint8_t*>(profile);
    EXPECT_EQ(cspi_->CheckPublicKeyRSA(parameters), CSP_OK);
    const std::uint32_t badProfile[2] = {1024, 200};
    EXPECT_EQ(cspi_->CheckPublicKeyRSA(reinterpret_cast<const std::uint8_t*>(badProfile)), CSP_BAD_PARAMETERS);

    Bytes privateKey(CSPI_RSA_PRIVATE_KEY_BYTES), publicKey(CSPI_RSA_PUBLIC_KEY_BYTES);
    ASSERT_EQ(cspi_->GenerateKeyPairRSA(parameters, privateKey.data(), publicKey.data()), CSP_OK);
    EXPECT_EQ(cspi_->CheckKeyPairRSA(parameters, privateKey.data(), publicKey.data()), CSP_OK);

    std::uint8_t hash[32];
    ASSERT_EQ(cspi_->HashSHA(U8("abc"), 3, 256, hash), CSP_OK);
    Bytes signature(128), signatureEx(128);
    ASSERT_EQ(cspi_->SignHashRSA(hash, parameters, privateKey.data(), signature.data()), CSP_OK);
    ASSERT_EQ(cspi_->SignHashRSAEx(hash, parameters, privateKey.data(), signatureEx.data()), CSP_OK);
    EXPECT_EQ(cspi_->VerifySignatureRSA(hash, parameters, publicKey.data(), signature.data()), CSP_OK);
    EXPECT_EQ(cspi_->VerifySignatureRSAEx(hash, parameters, publicKey.data(), signatureEx.data()), CSP_OK);
    EXPECT_EQ(cspi_->VerifySignatureRSA(hash, parameters, publicKey.data(), signatureEx.data()), CSP_INVALID_SIGNATURE)
        << "a PSS signature is no PKCS#1 v1.5 signature";
    hash[0] ^= 1;
    EXPECT_EQ(cspi_->VerifySignatureRSA(hash, parameters, publicKey.data(), signature.data()), CSP_INVALID_SIGNATURE);

    // Encrypt, then decrypt in place; the length shrinks to the message.
    Bytes buffer(128);
    ASSERT_EQ(cspi_->EncryptRSA(U8("session key 16 b"), 16, parameters, publicKey.data(), buffer.data()), CSP_OK);
    std::uint32_t length = 128;
    ASSERT_EQ(cspi_->DecryptRSA(buffer.data(), &length, parameters, privateKey.data(), 0), CSP_OK);
    ASSERT_EQ(length, 16u);
    EXPECT_EQ(std::memcmp(buffer.data(), "session key 16 b", 16), 0);
    EXPECT_EQ(buffer[16], 0) << "the old contents beyond the result are cleared";

    // A failed decryption leaves the caller's buffer and length as they were.
    Bytes before(100, 0x33);
    Bytes shortBuffer = before;
    length = 100;
    EXPECT_EQ(cspi_->DecryptRSA(shortBuffer.data(), &length, parameters, privateKey.data(), 0), CSP_LIBRARY_ERROR);
    EXPECT_EQ(length, 100u);
    EXPECT_EQ(shortBuffer, before);

    // A public key of another pair is refused beside the private key.
    Bytes otherPrivate(CSPI_RSA_PRIVATE_KEY_BYTES), otherPublic(CSPI_RSA_PUBLIC_KEY_BYTES);
    ASSERT_EQ(cspi_->GenerateKeyPairRSA(parameters, otherPrivate.data(), otherPublic.data()), CSP_OK);
    EXPECT_EQ(cspi_->CheckKeyPairRSA(parameters, privateKey.data(), otherPublic.data()), CSP_BAD_PARAMETERS);

    Bytes record(CSPI_RSA_PRIVATE_KEY_BYTES);
    ASSERT_EQ(cspi_->GenerateHardwareKeyPairRSA(parameters, privateKey.data(), record.data()), CSP_OK);
    EXPECT_EQ(record, privateKey);
}

TEST_F(CSPIPublicKey, DSAAndDHOverTheBuiltInGroups)
{
    Bytes domain(CSPI_DOMAIN_RECORD_BYTES);
    ASSERT_EQ(cspi_->Parameters()->GetDomainParameters(2, domain.data(), nullptr), 1);
    EXPECT_EQ(cspi_->CheckParametersDSA(domain.data()), CSP_OK);
    Bytes x(400), y(400), signature(CSPI_DSA_SIGNATURE_BYTES);
    ASSERT_EQ(cspi_->GenerateKeyPairDSA(domain.data(), x.data(), y.data()), CSP_OK);
    EXPECT_EQ(cspi_->CheckKeyPairDSA(domain.data(), x.data(), y.data()), CSP_OK);
    std::uint8_t hash[32];
    ASSERT_EQ(cspi_->HashSHA(U8("abc"), 3, 256, hash), CSP_OK);
    ASSERT_EQ(cspi_->SignHashDSA(32, hash, domain.data(), x.data(), signature.data()), CSP_OK);
    EXPECT_EQ(cspi_->VerifySignatureDSA(32, hash, domain.data(), y.data(), signature.data()), CSP_OK);
    hash[31] ^= 1;
    EXPECT_EQ(cspi_->VerifySignatureDSA(32, hash, domain.data(), y.data(), signature.data()), CSP_INVALID_SIGNATURE);

    // DH: both sides reach the same secret.
    Bytes x2(400), y2(400), s1(400), s2(400);
    ASSERT_EQ(cspi_->GenerateKeyPairDSA(domain.data(), x2.data(), y2.data()), CSP_OK);
    ASSERT_EQ(cspi_->CalculateSharedSecretDH(domain.data(), x.data(), y2.data(), s1.data()), CSP_OK);
    ASSERT_EQ(cspi_->CalculateSharedSecretDH(domain.data(), x2.data(), y.data(), s2.data()), CSP_OK);
    EXPECT_EQ(s1, s2);
    Bytes one = RightAligned({1}, 400);
    EXPECT_EQ(cspi_->CalculateSharedSecretDH(domain.data(), x.data(), one.data(), s1.data()), CSP_LIBRARY_ERROR);

    Bytes broken = domain;
    broken[CSPI_DOMAIN_G + 399] ^= 2;
    EXPECT_EQ(cspi_->CheckParametersDSA(broken.data()), CSP_BAD_PARAMETERS);
}

TEST_F(CSPIPublicKey, CapabilityQueryAnswersItselfOrAsksTheHardware)
{
    auto query = [&](std::uint32_t code, std::uint32_t second = 0) {
        std::uint32_t pair[2] = {code, second};
        return cspi_->GenerateKeyPairRSA(reinterpret_cast<const std::uint8_t*>(pair), nullptr, nullptr);
    };
    for (std::uint32_t code : {1u, 2u, 5u, 6u, 8u, 9u, 11u}) EXPECT_EQ(query(code), CSP_OK) << code;
    EXPECT_EQ(query(12), CSP_OK);
    EXPECT_EQ(query(13), CSP_OK);
    EXPECT_EQ(query(3), CSP_NO_OBJECT) << "no hardware object";
    EXPECT_EQ(query(5, 1), CSP_NO_OBJECT) << "a nonzero second word goes to the hardware";

    FakeHardware yes(1), no(0);
    cspi_->SetHardware(&yes);
    EXPECT_EQ(query(3), CSP_OK);
    EXPECT_EQ(yes.lastQuery, 3u);
    cspi_->SetHardware(&no);
    EXPECT_EQ(query(3), CSP_HARDWARE_ERROR);
    cspi_->SetHardware(nullptr);
    EXPECT_EQ(cspi_->Flags() & CSP_FLAG_HARDWARE, 0u);

    int code = -1;
    CSPIPointer lacking = Create("without_sha_kdf", &code);
    ASSERT_EQ(code, CSP_OK);
    std::uint32_t pair[2] = {12, 0};
    EXPECT_EQ(lacking->GenerateKeyPairRSA(reinterpret_cast<const std::uint8_t*>(pair), nullptr, nullptr),
              CSP_LIBRARY_ERROR);
}

TEST_F(CSPIPublicKey, HardwarePathsWithoutAPrivateKey)
{
    Bytes curve = Curve(*cspi_, 4);
    std::uint8_t hash[32] = {}, out[200] = {};
    EXPECT_EQ(cspi_->SignHashECDSA(32, hash, curve.data(), nullptr, out), CSP_NO_OBJECT);
    FakeHardware refusing(0), willing(1);
    cspi_->SetHardware(&refusing);
    EXPECT_EQ(cspi_->SignHashECDSA(32, hash, curve.data(), nullptr, out), CSP_HARDWARE_ERROR);
    cspi_->SetHardware(&willing);
    EXPECT_EQ(cspi_->SignHashECDSA(32, hash, curve.data(), nullptr, out), CSP_OK);
    EXPECT_EQ(cspi_->CalculateSharedSecretECDH(curve.data(), nullptr, out, out), CSP_OK);
    // The hardware key pair asks the query (code 3) first.
    willing.lastQuery = 0;
    EXPECT_EQ(cspi_->GenerateHardwareKeyPairECDSA(curve.data(), nullptr, out), CSP_OK);
    EXPECT_EQ(willing.lastQuery, 3u);
    cspi_->SetHardware(nullptr);
}

TEST_F(CSPIPublicKey, TwoPartyECDSAIsAbsentFromTheStandIn)
{
    Bytes curve = Curve(*cspi_, 4);
    Bytes key(76, 1);
    std::uint8_t buffer[512] = {};
    EXPECT_EQ(cspi_->CoupleEncryptKeyECDSA(buffer, curve.data(), key.data(), buffer), CSP_LIBRARY_ERROR);
    EXPECT_EQ(cspi_->CoupleStep1ECDSA(curve.data(), buffer, buffer), CSP_LIBRARY_ERROR);
    EXPECT_EQ(
        cspi_->CoupleGenerateKeyECDSA(32, buffer, buffer, curve.data(), key.data(), buffer, buffer, buffer, buffer),
        CSP_LIBRARY_ERROR);
    EXPECT_EQ(cspi_->CoupleStep2ECDSA(buffer, curve.data(), buffer, buffer, buffer, buffer), CSP_LIBRARY_ERROR);
    EXPECT_EQ(cspi_->CoupleMakeCommonKeyECDSA(curve.data(), key.data(), buffer, buffer), CSP_LIBRARY_ERROR);
    // Without a key share the hardware path is taken: none is installed.
    EXPECT_EQ(cspi_->CoupleMakeCommonKeyECDSA(curve.data(), nullptr, buffer, buffer), CSP_NO_OBJECT);
    FakeHardware willing(1);
    cspi_->SetHardware(&willing);
    EXPECT_EQ(cspi_->CoupleGenerateKeyECDSA(32, buffer, buffer, curve.data(), nullptr, buffer, buffer, buffer, buffer),
              CSP_OK)
        << "the hardware step works while the library lacks the function";
    EXPECT_EQ(willing.lastQuery, 10u);
    cspi_->SetHardware(nullptr);
}

}  // namespace

namespace {

// An OpenSSL public key from the provider's 600-byte public-key record: u32
// key bits, the modulus in 512 bytes and the exponent in 84.
EVP_PKEY* OpenSSLPublicKey(const Bytes& record)
{
    BIGNUM* n = BN_bin2bn(record.data() + 4, 512, nullptr);
    BIGNUM* e = BN_bin2bn(record.data() + 516, 84, nullptr);
    OSSL_PARAM_BLD* build = OSSL_PARAM_BLD_new();
    OSSL_PARAM_BLD_push_BN(build, OSSL_PKEY_PARAM_RSA_N, n);
    OSSL_PARAM_BLD_push_BN(build, OSSL_PKEY_PARAM_RSA_E, e);
    OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(build);
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr);
    EVP_PKEY* key = nullptr;
    EXPECT_EQ(EVP_PKEY_fromdata_init(ctx), 1);
    EXPECT_EQ(EVP_PKEY_fromdata(ctx, &key, EVP_PKEY_PUBLIC_KEY, params), 1);
    EVP_PKEY_CTX_free(ctx);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(build);
    BN_free(n);
    BN_free(e);
    return key;
}

// OpenSSL's own verification of a signature over a SHA-256 hash.
bool OpenSSLVerifies(EVP_PKEY* key, bool pss, const std::uint8_t* hash, const Bytes& signature)
{
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
    bool ok = EVP_PKEY_verify_init(ctx) == 1 && EVP_PKEY_CTX_set_signature_md(ctx, EVP_sha256()) == 1 &&
              EVP_PKEY_CTX_set_rsa_padding(ctx, pss ? RSA_PKCS1_PSS_PADDING : RSA_PKCS1_PADDING) == 1 &&
              (!pss || EVP_PKEY_CTX_set_rsa_pss_saltlen(ctx, RSA_PSS_SALTLEN_DIGEST) == 1) &&
              EVP_PKEY_verify(ctx, signature.data(), signature.size(), hash, 32) == 1;
    EVP_PKEY_CTX_free(ctx);
    return ok;
}

TEST_F(CSPIPublicKey, RSASignaturesAndEncryptionAreTheStandardSchemes)
{
    const std::uint32_t profile[2] = {2048, 256};
    const auto* parameters = reinterpret_cast<const std::uint8_t*>(profile);
    Bytes privateKey(CSPI_RSA_PRIVATE_KEY_BYTES), publicKey(CSPI_RSA_PUBLIC_KEY_BYTES);
    ASSERT_EQ(cspi_->GenerateKeyPairRSA(parameters, privateKey.data(), publicKey.data()), CSP_OK);
    EVP_PKEY* key = OpenSSLPublicKey(publicKey);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(EVP_PKEY_get_bits(key), 2048);

    std::uint8_t hash[32];
    ASSERT_EQ(cspi_->HashSHA(U8("abc"), 3, 256, hash), CSP_OK);
    Bytes pkcs1(256), pss(256);
    ASSERT_EQ(cspi_->SignHashRSA(hash, parameters, privateKey.data(), pkcs1.data()), CSP_OK);
    ASSERT_EQ(cspi_->SignHashRSAEx(hash, parameters, privateKey.data(), pss.data()), CSP_OK);
    EXPECT_TRUE(OpenSSLVerifies(key, false, hash, pkcs1)) << "PKCS#1 v1.5 with the SHA-256 DigestInfo";
    EXPECT_TRUE(OpenSSLVerifies(key, true, hash, pss)) << "PSS, MGF1-SHA-256, salt as long as the hash";
    EXPECT_FALSE(OpenSSLVerifies(key, false, hash, pss));

    // Data encrypted by OpenSSL (PKCS#1 v1.5) decrypts through the provider.
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
    ASSERT_EQ(EVP_PKEY_encrypt_init(ctx), 1);
    ASSERT_EQ(EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING), 1);
    Bytes buffer(256);
    std::size_t written = buffer.size();
    ASSERT_EQ(EVP_PKEY_encrypt(ctx, buffer.data(), &written, U8("from outside"), 12), 1);
    EVP_PKEY_CTX_free(ctx);
    std::uint32_t length = static_cast<std::uint32_t>(written);
    ASSERT_EQ(cspi_->DecryptRSA(buffer.data(), &length, parameters, privateKey.data(), 0), CSP_OK);
    ASSERT_EQ(length, 12u);
    EXPECT_EQ(std::memcmp(buffer.data(), "from outside", 12), 0);
    EVP_PKEY_free(key);
}

}  // namespace
