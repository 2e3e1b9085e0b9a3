// Certificate attributes and the certificate folder store over the
// stand-in PKI formats library, with certificates and .p7b bundles made here
// by OpenSSL and the expected values read back by OpenSSL.
#include <gtest/gtest.h>

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/pkcs7.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "PkiServicesStart.h"
#include "pkcs11/PKCS11CertificateAttributes.h"
#include "pkcs11/PKCS11CertificateStorage.h"
#include "pkcs11/PKCS11Library.h"
#include "pkcs11/PKCS11PKI.h"
#include "support/CSPParameters.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

struct Attr {
    CK_ATTRIBUTE a{0, nullptr, 0};
    ~Attr() { delete[] static_cast<std::uint8_t*>(a.pValue); }
    Bytes bytes() const
    {
        auto* p = static_cast<std::uint8_t*>(a.pValue);
        return Bytes(p, p + a.ulValueLen);
    }
};

EVP_PKEY* NewRsaKey(unsigned bits)
{
    return EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(bits));
}

struct CertSpec {
    std::string commonName = "Test Holder";
    long serial = 1;
    const char* notBefore = "20200101000000Z";
    const char* notAfter = "20301231235959Z";
    const char* keyUsage = "digitalSignature";  // null: no extension
    EVP_PKEY* key = nullptr;                    // RSA or EC subject key
    Bytes dstuKey;                              // else a DSTU 4145 key of these bytes
    Bytes dstuParams;                           // and its algorithm parameters' DER (none: absent)
};

template <typename T, typename F>
Bytes Der(T* object, F encode)
{
    int length = encode(object, nullptr);
    Bytes out(static_cast<std::size_t>(length));
    unsigned char* p = out.data();
    encode(object, &p);
    return out;
}

class CertificateFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(StartPKIServicesAsTheModule());
        caKey_ = NewRsaKey(2048);
        ASSERT_NE(caKey_, nullptr);
        dir_ = fs::temp_directory_path() / ("qvk-certs-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override
    {
        for (X509* x : made_) X509_free(x);
        for (EVP_PKEY* k : keys_) EVP_PKEY_free(k);
        EVP_PKEY_free(caKey_);
        fs::remove_all(dir_);
        StopPKIServices();
    }

    EVP_PKEY* Key(EVP_PKEY* k)
    {
        keys_.push_back(k);
        return k;
    }

    X509* Make(const CertSpec& spec)
    {
        X509* x = X509_new();
        made_.push_back(x);
        X509_set_version(x, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(x), spec.serial);
        ASN1_TIME_set_string(X509_getm_notBefore(x), spec.notBefore);
        ASN1_TIME_set_string(X509_getm_notAfter(x), spec.notAfter);
        X509_NAME* issuer = X509_get_issuer_name(x);
        X509_NAME_add_entry_by_txt(issuer, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("Test CA"), -1,
                                   -1, 0);
        X509_NAME_add_entry_by_txt(issuer, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("Rig"), -1, -1, 0);
        // The common name is set after the entry is made, so that names longer
        // than X.520 allows can be tried too.
        X509_NAME_ENTRY* entry =
            X509_NAME_ENTRY_create_by_txt(nullptr, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>("x"), 1);
        ASN1_STRING_set(X509_NAME_ENTRY_get_data(entry), spec.commonName.data(),
                        static_cast<int>(spec.commonName.size()));
        X509_NAME_add_entry(X509_get_subject_name(x), entry, -1, 0);
        X509_NAME_ENTRY_free(entry);
        if (spec.key != nullptr) {
            X509_set_pubkey(x, spec.key);
        } else {
            ASN1_OCTET_STRING* point = ASN1_OCTET_STRING_new();
            ASN1_OCTET_STRING_set(point, spec.dstuKey.data(), static_cast<int>(spec.dstuKey.size()));
            Bytes der = Der(point, i2d_ASN1_OCTET_STRING);
            ASN1_OCTET_STRING_free(point);
            auto* copy = static_cast<unsigned char*>(OPENSSL_malloc(der.size()));
            std::memcpy(copy, der.data(), der.size());
            ASN1_STRING* params = nullptr;
            if (!spec.dstuParams.empty()) {
                params = ASN1_STRING_new();
                ASN1_STRING_set(params, spec.dstuParams.data(), static_cast<int>(spec.dstuParams.size()));
            }
            X509_PUBKEY_set0_param(X509_get_X509_PUBKEY(x), OBJ_txt2obj("1.2.804.2.1.1.1.1.3.1.1", 1),
                                   params != nullptr ? V_ASN1_SEQUENCE : V_ASN1_UNDEF, params, copy,
                                   static_cast<int>(der.size()));
        }
        X509V3_CTX ctx;
        X509V3_set_ctx_nodb(&ctx);
        X509V3_set_ctx(&ctx, nullptr, x, nullptr, nullptr, 0);
        if (spec.keyUsage != nullptr) Extend(x, &ctx, "keyUsage", spec.keyUsage);
        if (spec.key != nullptr) {
            Extend(x, &ctx, "subjectKeyIdentifier", "hash");
        } else {
            Extend(x, &ctx, "subjectKeyIdentifier", "0102030405060708090A0B0C0D0E0F1011121314");
        }
        EXPECT_GT(X509_sign(x, caKey_, EVP_sha256()), 0);
        return x;
    }

    static void Extend(X509* x, X509V3_CTX* ctx, const char* name, const char* value)
    {
        X509_EXTENSION* ext = X509V3_EXT_conf(nullptr, ctx, name, value);
        ASSERT_NE(ext, nullptr) << name;
        X509_add_ext(x, ext, -1);
        X509_EXTENSION_free(ext);
    }

    static Bytes DerOf(X509* x) { return Der(x, i2d_X509); }

    void WriteFile(const std::string& name, const Bytes& bytes)
    {
        std::ofstream(dir_ / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }

    // A certificates-only signed-data message.
    static Bytes Bundle(const std::vector<X509*>& certificates)
    {
        PKCS7* p7 = PKCS7_new();
        PKCS7_set_type(p7, NID_pkcs7_signed);
        PKCS7_content_new(p7, NID_pkcs7_data);
        for (X509* x : certificates) PKCS7_add_certificate(p7, x);
        Bytes der = Der(p7, i2d_PKCS7);
        PKCS7_free(p7);
        return der;
    }

    std::string Folder() const { return dir_.string() + "/"; }

    EVP_PKEY* caKey_ = nullptr;
    fs::path dir_;
    std::vector<X509*> made_;
    std::vector<EVP_PKEY*> keys_;
};

CK_ATTRIBUTE ValueOf(Bytes& der)
{
    return CK_ATTRIBUTE{CKA_VALUE, der.data(), der.size()};
}

TEST_F(CertificateFixture, ExtractorsAgreeWithOpenSSL)
{
    CertSpec spec;
    spec.serial = 0x1234567;
    spec.key = Key(NewRsaKey(1024));
    X509* x = Make(spec);
    Bytes der = DerOf(x);
    CK_ATTRIBUTE value = ValueOf(der);

    Attr subject, issuer, serial, start, end, id, bits, exponent, modulus;
    ASSERT_EQ(GetCertificateSubjectAttribute(&value, &subject.a), CKR_OK);
    EXPECT_EQ(subject.a.type, CKA_SUBJECT);
    EXPECT_EQ(subject.bytes(), Der(X509_get_subject_name(x), i2d_X509_NAME));
    ASSERT_EQ(GetCertificateIssuerSerialAttributes(&value, &issuer.a, &serial.a), CKR_OK);
    EXPECT_EQ(issuer.a.type, CKA_ISSUER);
    EXPECT_EQ(issuer.bytes(), Der(X509_get_issuer_name(x), i2d_X509_NAME));
    EXPECT_EQ(serial.a.type, CKA_SERIAL_NUMBER);
    EXPECT_EQ(serial.bytes(), (Bytes{0x02, 0x04, 0x01, 0x23, 0x45, 0x67}));
    ASSERT_EQ(GetCertificateValidityAttributes(&value, &start.a, &end.a), CKR_OK);
    EXPECT_EQ(std::string(static_cast<char*>(start.a.pValue), 8), "20200101");
    EXPECT_EQ(std::string(static_cast<char*>(end.a.pValue), 8), "20301231");
    EXPECT_EQ(end.a.type, CKA_END_DATE);
    ASSERT_EQ(GetCertificateKeyIdAttribute(&value, &id.a), CKR_OK);
    const ASN1_OCTET_STRING* ski = X509_get0_subject_key_id(x);
    EXPECT_EQ(id.bytes(), Bytes(ASN1_STRING_get0_data(ski), ASN1_STRING_get0_data(ski) + ASN1_STRING_length(ski)));

    ASSERT_EQ(GetCertificateRSAKeyAttributes(&value, &bits.a, &exponent.a), CKR_OK);
    std::uint32_t modulusBits = 0;
    ASSERT_EQ(bits.a.ulValueLen, 4u);
    std::memcpy(&modulusBits, bits.a.pValue, 4);
    EXPECT_EQ(modulusBits, 1024u);
    EXPECT_EQ(exponent.bytes(), (Bytes{0x01, 0x00, 0x01}));
    ASSERT_EQ(GetCertificateModulusAttribute(&value, &modulus.a), CKR_OK);
    BIGNUM* n = nullptr;
    ASSERT_EQ(EVP_PKEY_get_bn_param(spec.key, OSSL_PKEY_PARAM_RSA_N, &n), 1);
    Bytes expected(static_cast<std::size_t>(BN_num_bytes(n)));
    BN_bn2bin(n, expected.data());
    BN_free(n);
    EXPECT_EQ(modulus.bytes(), expected);

    // Inputs that are not certificates.
    Attr unused, unused2;
    CK_ATTRIBUTE wrongType{CKA_LABEL, der.data(), der.size()};
    Bytes junk{0x30, 0x03, 0x02, 0x01, 0x01};
    CK_ATTRIBUTE notCertificate = ValueOf(junk);
    EXPECT_EQ(GetCertificateSubjectAttribute(nullptr, &unused.a), CKR_ATTRIBUTE_TYPE_INVALID);
    EXPECT_EQ(GetCertificateLabelAttribute(&wrongType, &unused.a), CKR_ATTRIBUTE_TYPE_INVALID);
    EXPECT_EQ(GetCertificateValidityAttributes(&notCertificate, &unused.a, &unused2.a), CKR_ATTRIBUTE_VALUE_INVALID);
    EXPECT_EQ(GetCertificateECKeyAttributes(&value, &unused.a, &unused2.a), CKR_HOST_MEMORY);
}

TEST_F(CertificateFixture, LabelsAreTheDisplayNameUpTo64Bytes)
{
    struct Case {
        std::string name;
        CK_RV rv;
    } cases[] = {
        {std::string(20, 'a'), CKR_OK},
        {std::string(64, 'b'), CKR_OK},
        {std::string(65, 'c'), CKR_ATTRIBUTE_VALUE_INVALID},
        {std::string(70, 'd'), CKR_ATTRIBUTE_VALUE_INVALID},
        // 32 Cyrillic letters are 64 bytes of UTF-8, 33 are 66.
        {[] {
             std::string s;
             for (int i = 0; i < 32; ++i) s += "\xD0\x96";
             return s;
         }(),
         CKR_OK},
        {[] {
             std::string s;
             for (int i = 0; i < 33; ++i) s += "\xD0\x96";
             return s;
         }(),
         CKR_ATTRIBUTE_VALUE_INVALID},
    };
    EVP_PKEY* key = Key(NewRsaKey(1024));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CertSpec spec;
        spec.commonName = c.name;
        spec.key = key;
        Bytes der = DerOf(Make(spec));
        CK_ATTRIBUTE value = ValueOf(der);
        Attr label;
        ASSERT_EQ(GetCertificateLabelAttribute(&value, &label.a), c.rv);
        if (c.rv == CKR_OK) {
            EXPECT_EQ(label.a.type, CKA_LABEL);
            EXPECT_EQ(std::string(static_cast<char*>(label.a.pValue), label.a.ulValueLen), c.name);
        }
    }
}

TEST_F(CertificateFixture, CertificatesArePickedByKindAndUsage)
{
    CertSpec rsa;
    rsa.key = Key(NewRsaKey(1024));
    rsa.keyUsage = "digitalSignature,nonRepudiation";
    Bytes der = DerOf(Make(rsa));
    Attr out;
    // nonRepudiation is bit 1 (value 2), digitalSignature bit 0 (value 1).
    EXPECT_TRUE(
        SelectCertificateByUsage(der.data(), static_cast<std::uint32_t>(der.size()), CERTIFICATE_KEY_RSA, 0x3, &out.a));
    EXPECT_EQ(out.bytes(), der);
    Attr none;
    EXPECT_FALSE(SelectCertificateByUsage(der.data(), static_cast<std::uint32_t>(der.size()), CERTIFICATE_KEY_RSA, 0x4,
                                          &none.a));
    EXPECT_FALSE(SelectCertificateByUsage(der.data(), static_cast<std::uint32_t>(der.size()), CERTIFICATE_KEY_DSTU4145,
                                          0x1, &none.a));
}

TEST_F(CertificateFixture, TheFolderStoreListsTheBundlesCertificatesOnce)
{
    CertSpec signer, encipherer, dstu;
    signer.key = Key(NewRsaKey(1024));
    signer.serial = 1;
    encipherer.key = Key(NewRsaKey(1024));
    encipherer.serial = 2;
    encipherer.keyUsage = "keyEncipherment";
    dstu.serial = 3;
    dstu.keyUsage = "digitalSignature,nonRepudiation";
    for (int i = 0; i < 33; ++i) dstu.dstuKey.push_back(static_cast<std::uint8_t>(0x40 + i));
    X509* a = Make(signer);
    X509* b = Make(encipherer);
    X509* c = Make(dstu);
    WriteFile("one.p7b", Bundle({a, b}));
    WriteFile("two.P7B", Bundle({b, c}));  // b again; the mask ignores case
    WriteFile("junk.p7b", Bytes{1, 2, 3});
    WriteFile("single.cer", DerOf(a));
    // Enveloped data is not a bundle of certificates.
    X509* d = Make(CertSpec{
        "Enveloped", 4, "20200101000000Z", "20301231235959Z", "digitalSignature", Key(NewRsaKey(1024)), {}, {}});
    STACK_OF(X509)* recipients = sk_X509_new_null();
    sk_X509_push(recipients, d);
    BIO* data = BIO_new_mem_buf("content", 7);
    PKCS7* enveloped = PKCS7_encrypt(recipients, data, EVP_aes_128_cbc(), PKCS7_BINARY);
    ASSERT_NE(enveloped, nullptr);
    EXPECT_EQ(OBJ_obj2nid(enveloped->type), NID_pkcs7_enveloped);
    PKCS7_add_certificate(enveloped, d);  // refused for this type: nothing rides along
    WriteFile("enveloped.p7b", Der(enveloped, i2d_PKCS7));
    BIO_free(data);
    sk_X509_free(recipients);
    PKCS7_free(enveloped);

    PKCS11CertificateStorage store(Folder().c_str());
    ASSERT_TRUE(store.LoadFolder("*.p7b"));
    EXPECT_EQ(store.Count(), 3u);

    Attr found;
    Bytes dstuKey(76, 0);
    std::memcpy(dstuKey.data(), dstu.dstuKey.data(), dstu.dstuKey.size());
    ASSERT_TRUE(store.FindByPublicKey(dstuKey.data(), 76, &found.a));
    EXPECT_EQ(found.bytes(), DerOf(c));
    BIGNUM* n = nullptr;
    ASSERT_EQ(EVP_PKEY_get_bn_param(encipherer.key, OSSL_PKEY_PARAM_RSA_N, &n), 1);
    Bytes modulus(600);
    BN_bn2binpad(n, modulus.data(), 600);
    BN_free(n);
    Attr foundRsa;
    ASSERT_TRUE(store.FindByPublicKey(modulus.data(), 600, &foundRsa.a));
    EXPECT_EQ(foundRsa.bytes(), DerOf(b));
    modulus[599] ^= 1;
    Attr missing;
    EXPECT_FALSE(store.FindByPublicKey(modulus.data(), 600, &missing.a));

    // By kind and usage: the first RSA signer, then none further.
    Attr id;
    ASSERT_EQ(store.GetKeyIdByUsage(CERTIFICATE_KEY_RSA, 0x1, 0, &id.a), CKR_OK);
    const ASN1_OCTET_STRING* ski = X509_get0_subject_key_id(a);
    EXPECT_EQ(id.bytes(), Bytes(ASN1_STRING_get0_data(ski), ASN1_STRING_get0_data(ski) + ASN1_STRING_length(ski)));
    Attr second, dstuId;
    EXPECT_EQ(store.GetKeyIdByUsage(CERTIFICATE_KEY_RSA, 0x1, 1, &second.a), CKR_GENERAL_ERROR);
    ASSERT_EQ(store.GetKeyIdByUsage(CERTIFICATE_KEY_DSTU4145, 0x2, 0, &dstuId.a), CKR_OK);
    EXPECT_EQ(dstuId.bytes().size(), 20u);

    // The same folder read as single certificates.
    PKCS11CertificateStorage plain(Folder().c_str());
    ASSERT_TRUE(plain.LoadFolder("*.cer"));
    EXPECT_EQ(plain.Count(), 1u);
    EXPECT_FALSE(plain.LoadFolder("*.none"));
    plain.Clear();
    EXPECT_EQ(plain.GetKeyIdByUsage(CERTIFICATE_KEY_RSA, 0x1FF, 0, &second.a), CKR_GENERAL_ERROR);
}

TEST_F(CertificateFixture, PathsThatDoNotFitAreRefused)
{
    // A folder of 1,044 characters leaves no room for the terminator.
    std::string tooLong = Folder() + std::string(1044, 'x');
    PKCS11CertificateStorage store(tooLong.c_str());
    EXPECT_FALSE(store.LoadFolder("*.p7b"));
    // A mask that would run the search pattern past its buffer.
    PKCS11CertificateStorage fits(Folder().c_str());
    std::string longMask(2000, '*');
    EXPECT_FALSE(fits.LoadFolder(longMask.c_str()));
    EXPECT_EQ(fits.Count(), 0u);
}

// DER by hand: tag, short or long length, content.
Bytes Tlv(std::uint8_t tag, const Bytes& content)
{
    Bytes out{tag};
    if (content.size() < 0x80) {
        out.push_back(static_cast<std::uint8_t>(content.size()));
    } else {
        out.push_back(0x82);
        out.push_back(static_cast<std::uint8_t>(content.size() >> 8));
        out.push_back(static_cast<std::uint8_t>(content.size()));
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

// DSTU4145Params naming a curve: SEQUENCE { OBJECT IDENTIFIER }.
Bytes NamedCurveParams(const char* oid)
{
    ASN1_OBJECT* object = OBJ_txt2obj(oid, 1);
    Bytes der = Der(object, i2d_ASN1_OBJECT);
    ASN1_OBJECT_free(object);
    return Tlv(0x30, der);
}

TEST_F(CertificateFixture, CertificateKeyTypesFollowTheKeyAndTheBasisOfItsCurve)
{
    // The explicit form of standard curve 0 as the formats library writes it.
    CSPParameters standard;
    DSTU4145FieldRecord field{};
    DSTU4145PointRecord point{};
    ASSERT_EQ(standard.GetStandardCurve(1, 0, &field, &point), 1);
    void* made = nullptr;
    ASSERT_EQ(PKIInterface->CreateObject(PKI_CLASS_DSTU4145_PARAMETERS, PKI_IID_DSTU4145_PARAMETERS, &made), PKI_OK);
    auto* explicitParameters = static_cast<IPKIParameters*>(made);
    ASSERT_EQ(explicitParameters->SetExplicit(&field, &point, nullptr), PKI_OK);
    CK_ATTRIBUTE explicitDer{CKA_EC_PARAMS, nullptr, 0};
    ASSERT_TRUE(EncodePKIObjectAttribute(CKA_EC_PARAMS, explicitParameters, &explicitDer));
    explicitParameters->Release();
    Attr explicitOwner;
    explicitOwner.a = explicitDer;
    ASSERT_EQ(explicitOwner.bytes()[0], 0x30);
    ASSERT_EQ(explicitOwner.bytes()[2], 0x30) << "an ECBinary, not a name";

    Bytes dstuKey(33);
    for (std::size_t i = 0; i < dstuKey.size(); ++i) dstuKey[i] = static_cast<std::uint8_t>(0x11 * (i % 15) + 1);
    struct Case {
        const char* name;
        EVP_PKEY* key;
        Bytes params;
        CK_RV rv;
        CK_KEY_TYPE type;
        std::uint32_t m;  // the curve's degree read from the certificate (0: no parameters)
    } cases[] = {
        {"RSA", Key(NewRsaKey(1024)), {}, CKR_OK, CKK_RSA, 0},
        {"ECDSA P-256", Key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256")), {}, CKR_OK, CKK_EC, 0},
        {"DSTU 4145 without parameters", nullptr, {}, CKR_OK, CKK_DSTU4145, 0},
        {"DSTU 4145 on M257 (polynomial basis)", nullptr, NamedCurveParams("1.2.804.2.1.1.1.1.3.1.1.2.6"), CKR_OK,
         CKK_DSTU4145_PB, 257},
        {"DSTU 4145 on a normal-basis curve", nullptr, NamedCurveParams("1.2.804.2.1.1.1.1.3.1.2.2.0"), CKR_OK,
         CKK_DSTU4145, 173},
        {"DSTU 4145 on an unknown named curve", nullptr, NamedCurveParams("1.2.3.4.5"), CKR_OK, CKK_DSTU4145, 0},
        {"DSTU 4145 with explicit parameters", nullptr, explicitOwner.bytes(), CKR_OK, CKK_DSTU4145_PB, 163},
        // A SEQUENCE around an INTEGER is no DSTU 4145 parameters.
        {"DSTU 4145 with damaged parameters", nullptr, Tlv(0x30, Bytes{0x02, 0x01, 0x05}), CKR_ATTRIBUTE_VALUE_INVALID,
         0, 0},
        {"Ed25519 (a kind of key the device has no type for)",
         Key(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519")),
         {},
         CKR_ATTRIBUTE_VALUE_INVALID,
         0,
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CertSpec spec;
        spec.key = c.key;
        spec.dstuKey = dstuKey;
        spec.dstuParams = c.params;
        Bytes der = DerOf(Make(spec));
        CK_KEY_TYPE type = 0;
        EXPECT_EQ(GetCertificateKeyType(der.data(), static_cast<std::uint32_t>(der.size()), &type), c.rv);
        if (c.rv == CKR_OK) {
            EXPECT_EQ(type, c.type);
        }
        if (c.key != nullptr || c.rv != CKR_OK) continue;

        // The key from the subject key's bit string, the curve from the
        // algorithm's parameters.
        made = nullptr;
        ASSERT_EQ(PKIInterface->CreateObject(PKI_CLASS_CERTIFICATE, PKI_IID_CERTIFICATE, &made), PKI_OK);
        auto* certificate = static_cast<IPKICertificate*>(made);
        PKIBlob in{static_cast<std::uint32_t>(der.size()), der.data()};
        ASSERT_EQ(certificate->Decode(&in), PKI_OK);
        std::uint8_t key[76];
        std::uint32_t length = 0;
        void* parameters = nullptr;
        ASSERT_EQ(certificate->GetDSTU4145PublicKey(key, &length, &parameters), PKI_OK);
        certificate->Release();
        EXPECT_EQ(Bytes(key, key + length), dstuKey);
        EXPECT_EQ(Bytes(key + length, key + 76), Bytes(76 - length, 0));
        if (c.params.empty()) {
            EXPECT_EQ(parameters, nullptr);
            continue;
        }
        ASSERT_NE(parameters, nullptr);
        auto* held = static_cast<IPKIParameters*>(parameters);
        DSTU4145FieldRecord readField{};
        const int rc = held->GetParameters(&readField, nullptr, nullptr);
        held->Release();
        if (c.m == 0) {
            EXPECT_EQ(rc, PKI_E_FAILURE) << "a curve the library does not know has no records";
        } else {
            ASSERT_EQ(rc, PKI_OK);
            EXPECT_EQ(readField.words[DSTU4145_FIELD_M], c.m);
        }
    }
    const Bytes junk{0x30, 0x03, 0x02, 0x01, 0x01};
    CK_KEY_TYPE type = 0;
    EXPECT_EQ(GetCertificateKeyType(junk.data(), 5, &type), CKR_ATTRIBUTE_VALUE_INVALID);
}

}  // namespace
