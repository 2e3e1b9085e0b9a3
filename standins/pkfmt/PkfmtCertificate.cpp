// Certificates (4870 / 4102 and 4226), their names, key usages and subject
// key identifiers, integers (4877 / 4111), content information (4879 / 4113)
// and signed data (4900 / 4136). The encodings are DER and are parsed with
// OpenSSL; nothing here parses ASN.1 itself.
#include "PkfmtCertificate.h"

#include "PkfmtDerObject.h"
#include "PkfmtObject.h"

#include <openssl/asn1.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstring>
#include <ctime>
#include <new>
#include <string>
#include <vector>

namespace pkfmt {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Public-key algorithm of DSTU 4145 keys (polynomial basis, little-endian).
constexpr char DSTU4145_KEY_OID[] = "1.2.804.2.1.1.1.1.3.1.1";
constexpr std::uint32_t DSTU4145_KEY_BYTES = 76;
constexpr std::uint32_t RSA_FIELD_BYTES = 600;

// Hands a new object out as interface I (the caller gets the only reference).
template <typename I, typename T>
int HandOut(T* made, void** out)
{
    *out = static_cast<I*>(made);
    return PKI_OK;
}

bool ReadBlob(const PKIBlob* in, Bytes* out)
{
    if (in == nullptr || in->length == 0 || in->data == nullptr || in->length > (16u << 20)) return false;
    out->assign(in->data, in->data + in->length);
    return true;
}

// *held replaced by the object the whole blob decodes to; kept when the
// blob is not exactly one such object.
template <typename T, typename Free>
int DecodeWhole(const PKIBlob* in, T* (*decode)(T**, const unsigned char**, long), Free release, T** held)
{
    return Guard([&] {
        Bytes der;
        if (!ReadBlob(in, &der)) return int(PKI_E_INVALID_ARGUMENT);
        const unsigned char* p = der.data();
        T* made = decode(nullptr, &p, static_cast<long>(der.size()));
        if (made == nullptr || p != der.data() + der.size()) {
            release(made);
            return int(PKI_E_BAD_ENCODING);
        }
        release(*held);
        *held = made;
        return int(PKI_OK);
    });
}

class Name final : public IPKIName, public Core {
public:
    PKFMT_COUNTED_COMMON
    explicit Name(Bytes der) : der_(std::move(der)) {}
    int Encode(PKIBlob* out) override { return CopyToLibraryBlock(out, der_.data(), der_.size(), false); }

protected:
    void* Offer(std::uint32_t) override { return static_cast<IPKIName*>(this); }

private:
    Bytes der_;
};

class KeyUsage final : public IPKIKeyUsage, public Core {
public:
    PKFMT_COUNTED_COMMON
    explicit KeyUsage(std::uint32_t bits) : bits_(bits) {}
    int GetBits(std::uint32_t* bits) override
    {
        if (bits == nullptr) return PKI_E_INVALID_ARGUMENT;
        *bits = bits_;
        return PKI_OK;
    }

protected:
    void* Offer(std::uint32_t) override { return static_cast<IPKIKeyUsage*>(this); }

private:
    std::uint32_t bits_;
};

class KeyIdentifier final : public IPKIKeyIdentifier, public Core {
public:
    PKFMT_COUNTED_COMMON
    explicit KeyIdentifier(Bytes id) : id_(std::move(id)) {}
    int GetIdentifier(std::uint8_t* identifier, std::uint32_t* length) override
    {
        if (identifier == nullptr || length == nullptr) return PKI_E_INVALID_ARGUMENT;
        if (*length < id_.size()) {
            *length = static_cast<std::uint32_t>(id_.size());
            return PKI_E_INVALID_ARGUMENT;
        }
        std::memcpy(identifier, id_.data(), id_.size());
        *length = static_cast<std::uint32_t>(id_.size());
        return PKI_OK;
    }

protected:
    void* Offer(std::uint32_t) override { return static_cast<IPKIKeyIdentifier*>(this); }

private:
    Bytes id_;
};

class Integer final : public IPKIInteger, public Core {
public:
    PKFMT_COUNTED_COMMON
    int Encode(PKIBlob* out) override
    {
        if (der_.empty()) return PKI_E_NOT_SET;
        return CopyToLibraryBlock(out, der_.data(), der_.size(), false);
    }
    int Decode(const PKIBlob* in) override
    {
        return Guard([&] {
            Bytes der;
            if (!ReadBlob(in, &der)) return int(PKI_E_INVALID_ARGUMENT);
            const unsigned char* p = der.data();
            ASN1_INTEGER* value = d2i_ASN1_INTEGER(nullptr, &p, static_cast<long>(der.size()));
            bool whole = value != nullptr && p == der.data() + der.size();
            ASN1_INTEGER_free(value);
            if (!whole) return int(PKI_E_BAD_ENCODING);
            der_ = std::move(der);
            return int(PKI_OK);
        });
    }

protected:
    void* Offer(std::uint32_t interfaceId) override
    {
        return interfaceId == PKI_IID_INTEGER ? static_cast<IPKIInteger*>(this) : nullptr;
    }

private:
    Bytes der_;
};

// X.509 KeyUsage bits as OpenSSL reports them, to bit n of value 2^n.
std::uint32_t KeyUsageBits(std::uint32_t openssl)
{
    static const std::uint32_t order[9] = {KU_DIGITAL_SIGNATURE, KU_NON_REPUDIATION, KU_KEY_ENCIPHERMENT,
                                           KU_DATA_ENCIPHERMENT, KU_KEY_AGREEMENT,   KU_KEY_CERT_SIGN,
                                           KU_CRL_SIGN,          KU_ENCIPHER_ONLY,   KU_DECIPHER_ONLY};
    std::uint32_t bits = 0;
    for (std::uint32_t n = 0; n < 9; ++n)
        if ((openssl & order[n]) != 0) bits |= 1u << n;
    return bits;
}

bool ToSystemTime(const ASN1_TIME* time, SYSTEMTIME* out)
{
    std::tm tm{};
    if (time == nullptr || ASN1_TIME_to_tm(time, &tm) != 1) return false;
    *out = SYSTEMTIME{};
    out->wYear = static_cast<WORD>(tm.tm_year + 1900);
    out->wMonth = static_cast<WORD>(tm.tm_mon + 1);
    out->wDayOfWeek = static_cast<WORD>(tm.tm_wday);
    out->wDay = static_cast<WORD>(tm.tm_mday);
    out->wHour = static_cast<WORD>(tm.tm_hour);
    out->wMinute = static_cast<WORD>(tm.tm_min);
    out->wSecond = static_cast<WORD>(tm.tm_sec);
    return true;
}

// UTF-8 to wide characters (code points); false on malformed input.
bool Utf8ToWide(const unsigned char* text, int length, std::wstring* out)
{
    out->clear();
    for (int i = 0; i < length;) {
        unsigned char c = text[i];
        int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
        if (extra < 0 || i + extra >= length) return false;
        std::uint32_t cp = extra == 0 ? c : (c & (0x3Fu >> extra));
        for (int k = 1; k <= extra; ++k) {
            unsigned char next = text[i + k];
            if ((next & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (next & 0x3Fu);
        }
        out->push_back(static_cast<wchar_t>(cp));
        i += extra + 1;
    }
    return true;
}

class Certificate final : public IPKICertificate, public IPKICertificateEC, public Core {
public:
    PKFMT_COUNTED_COMMON
    ~Certificate() override { X509_free(x509_); }

    int Encode(PKIBlob* out) override { return EncodeToBlock(x509_, i2d_X509, out); }

    int Decode(const PKIBlob* in) override { return DecodeWhole(in, d2i_X509, X509_free, &x509_); }

    int GetSerial(PKIBlob* serial) override
    {
        if (x509_ == nullptr) return PKI_E_NOT_SET;
        return EncodeToBlock(X509_get0_serialNumber(x509_), i2d_ASN1_INTEGER, serial);
    }

    int GetIssuer(void** name) override { return NameOut(X509_get_issuer_name(x509_), name); }
    int GetSubject(void** name) override { return NameOut(X509_get_subject_name(x509_), name); }

    int GetValidity(SYSTEMTIME* start, SYSTEMTIME* end) override
    {
        if (x509_ == nullptr) return PKI_E_NOT_SET;
        if ((start != nullptr && !ToSystemTime(X509_get0_notBefore(x509_), start)) ||
            (end != nullptr && !ToSystemTime(X509_get0_notAfter(x509_), end)))
            return PKI_E_FAILURE;
        return PKI_OK;
    }

    int GetKeyKind(std::uint32_t* kind) override
    {
        if (kind == nullptr) return PKI_E_INVALID_ARGUMENT;
        if (x509_ == nullptr) return PKI_E_NOT_SET;
        if (IsDSTU4145Key()) {
            *kind = 1;
            return PKI_OK;
        }
        EVP_PKEY* key = X509_get0_pubkey(x509_);
        int id = key != nullptr ? EVP_PKEY_get_base_id(key) : NID_undef;
        if (id == EVP_PKEY_RSA)
            *kind = 2;
        else if (id == EVP_PKEY_EC)
            *kind = 4;
        else
            return PKI_E_FAILURE;
        return PKI_OK;
    }

    // The basis of the curve in the key's algorithm parameters; a key
    // without parameters has no known basis.
    int GetKeyParameterKind(std::uint32_t* kind) override
    {
        if (kind == nullptr) return PKI_E_INVALID_ARGUMENT;
        if (x509_ == nullptr) return PKI_E_NOT_SET;
        if (!IsDSTU4145Key()) return PKI_E_FAILURE;
        return Guard([&] {
            Bytes params;
            if (!AlgorithmParameters(&params)) return int(PKI_E_FAILURE);
            if (params.empty()) {
                *kind = PKI_KEY_PARAMETERS_UNKNOWN;
                return int(PKI_OK);
            }
            return ReadKeyParameters(params.data(), params.size(), nullptr, kind);
        });
    }

    // The key is the OCTET STRING inside the subject public key's BIT STRING;
    // the parameters are those of the key's algorithm (none: null).
    int GetDSTU4145PublicKey(std::uint8_t* key, std::uint32_t* length, void** parameters) override
    {
        if (key == nullptr || length == nullptr) return PKI_E_INVALID_ARGUMENT;
        if (parameters != nullptr) *parameters = nullptr;
        if (x509_ == nullptr) return PKI_E_NOT_SET;
        if (!IsDSTU4145Key()) return PKI_E_FAILURE;
        const unsigned char* bits = nullptr;
        int bitsLength = 0;
        if (X509_PUBKEY_get0_param(nullptr, &bits, &bitsLength, nullptr, X509_get_X509_PUBKEY(x509_)) != 1)
            return PKI_E_FAILURE;
        const unsigned char* p = bits;
        ASN1_OCTET_STRING* point = d2i_ASN1_OCTET_STRING(nullptr, &p, bitsLength);
        const bool whole = point != nullptr && p == bits + bitsLength && ASN1_STRING_length(point) > 0 &&
                           ASN1_STRING_length(point) <= static_cast<int>(DSTU4145_KEY_BYTES);
        Bytes value;
        if (whole) value.assign(ASN1_STRING_get0_data(point), ASN1_STRING_get0_data(point) + ASN1_STRING_length(point));
        ASN1_OCTET_STRING_free(point);
        if (!whole) return PKI_E_BAD_ENCODING;
        return Guard([&] {
            if (parameters != nullptr) {
                Bytes params;
                if (!AlgorithmParameters(&params)) return int(PKI_E_FAILURE);
                int rc =
                    params.empty() ? int(PKI_OK) : ReadKeyParameters(params.data(), params.size(), parameters, nullptr);
                if (rc != PKI_OK) return rc;
            }
            std::memset(key, 0, DSTU4145_KEY_BYTES);
            std::memcpy(key, value.data(), value.size());
            *length = static_cast<std::uint32_t>(value.size());
            return int(PKI_OK);
        });
    }

    int GetRSAPublicKey(std::uint8_t* fields, std::uint32_t* bits) override
    {
        if (fields == nullptr || bits == nullptr) return PKI_E_INVALID_ARGUMENT;
        if (x509_ == nullptr) return PKI_E_NOT_SET;
        EVP_PKEY* key = X509_get0_pubkey(x509_);
        if (key == nullptr || EVP_PKEY_get_base_id(key) != EVP_PKEY_RSA) return PKI_E_FAILURE;
        BIGNUM* n = nullptr;
        BIGNUM* e = nullptr;
        int rc = PKI_E_FAILURE;
        if (EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_N, &n) == 1 &&
            EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_E, &e) == 1 &&
            BN_bn2binpad(n, fields, RSA_FIELD_BYTES) == static_cast<int>(RSA_FIELD_BYTES) &&
            BN_bn2binpad(e, fields + RSA_FIELD_BYTES, RSA_FIELD_BYTES) == static_cast<int>(RSA_FIELD_BYTES)) {
            *bits = static_cast<std::uint32_t>(BN_num_bits(n));
            rc = PKI_OK;
        }
        BN_free(n);
        BN_free(e);
        return rc;
    }

    int GetPolicies(void** policies) override
    {
        if (policies != nullptr) *policies = nullptr;
        return PKI_E_NOT_IMPLEMENTED;
    }

    int GetKeyUsage(void** keyUsage) override
    {
        if (keyUsage == nullptr) return PKI_E_INVALID_ARGUMENT;
        *keyUsage = nullptr;
        if (x509_ == nullptr) return PKI_E_NOT_SET;
        if ((X509_get_extension_flags(x509_) & EXFLAG_KUSAGE) == 0) return PKI_E_ABSENT;
        return Guard(
            [&] { return HandOut<IPKIKeyUsage>(new KeyUsage(KeyUsageBits(X509_get_key_usage(x509_))), keyUsage); });
    }

    int GetSubjectKeyId(void** identifier) override
    {
        if (identifier == nullptr) return PKI_E_INVALID_ARGUMENT;
        *identifier = nullptr;
        if (x509_ == nullptr) return PKI_E_NOT_SET;
        const ASN1_OCTET_STRING* id = X509_get0_subject_key_id(x509_);
        if (id == nullptr) return PKI_E_ABSENT;
        return Guard([&] {
            const unsigned char* data = ASN1_STRING_get0_data(id);
            return HandOut<IPKIKeyIdentifier>(new KeyIdentifier(Bytes(data, data + ASN1_STRING_length(id))),
                                              identifier);
        });
    }

    // The holder's common name; a certificate without one has no display name.
    int GetDisplayName(wchar_t* text, std::uint32_t* length) override
    {
        if (text == nullptr || length == nullptr) return PKI_E_INVALID_ARGUMENT;
        if (x509_ == nullptr) return PKI_E_NOT_SET;
        X509_NAME* subject = X509_get_subject_name(x509_);
        int at = X509_NAME_get_index_by_NID(subject, NID_commonName, -1);
        if (at < 0) return PKI_E_ABSENT;
        unsigned char* utf8 = nullptr;
        int utf8Length = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, at)));
        if (utf8Length < 0) return PKI_E_FAILURE;
        int rc = Guard([&] {
            std::wstring wide;
            if (!Utf8ToWide(utf8, utf8Length, &wide)) return int(PKI_E_BAD_ENCODING);
            if (wide.size() + 1 > *length) {
                *length = static_cast<std::uint32_t>(wide.size());
                return int(PKI_E_INVALID_ARGUMENT);
            }
            std::memcpy(text, wide.c_str(), (wide.size() + 1) * sizeof(wchar_t));
            *length = static_cast<std::uint32_t>(wide.size());
            return int(PKI_OK);
        });
        OPENSSL_free(utf8);
        return rc;
    }

    int GetECPublicKey(PKIBlob* point, PKIBlob* parameters) override
    {
        if (point == nullptr || parameters == nullptr) return PKI_E_INVALID_ARGUMENT;
        if (x509_ == nullptr) return PKI_E_NOT_SET;
        const unsigned char* bits = nullptr;
        int bitsLength = 0;
        if (X509_PUBKEY_get0_param(nullptr, &bits, &bitsLength, nullptr, X509_get_X509_PUBKEY(x509_)) != 1)
            return PKI_E_FAILURE;
        return Guard([&] {
            Bytes params;
            if (!AlgorithmParameters(&params)) return int(PKI_E_FAILURE);
            int rc = CopyToLibraryBlock(point, bits, static_cast<std::size_t>(bitsLength), false);
            if (rc == PKI_OK && (rc = CopyToLibraryBlock(parameters, params.data(), params.size(), false)) != PKI_OK)
                FreeLibraryBlock(point);
            return rc;
        });
    }

protected:
    void* Offer(std::uint32_t interfaceId) override
    {
        if (interfaceId == PKI_IID_CERTIFICATE) return static_cast<IPKICertificate*>(this);
        if (interfaceId == PKI_IID_CERTIFICATE_EX && x509_ != nullptr) {
            EVP_PKEY* key = X509_get0_pubkey(x509_);
            if (key != nullptr && EVP_PKEY_get_base_id(key) == EVP_PKEY_EC)
                return static_cast<IPKICertificateEC*>(this);
        }
        return nullptr;
    }

private:
    bool IsDSTU4145Key() const
    {
        ASN1_OBJECT* algorithm = nullptr;
        if (X509_PUBKEY_get0_param(&algorithm, nullptr, nullptr, nullptr, X509_get_X509_PUBKEY(x509_)) != 1)
            return false;
        char oid[64];
        return OBJ_obj2txt(oid, sizeof oid, algorithm, 1) > 0 && std::strcmp(oid, DSTU4145_KEY_OID) == 0;
    }

    // The DER of the key's algorithm parameters; empty when they are absent
    // or NULL.
    bool AlgorithmParameters(Bytes* out) const
    {
        out->clear();
        X509_ALGOR* algorithm = nullptr;
        if (X509_PUBKEY_get0_param(nullptr, nullptr, nullptr, &algorithm, X509_get_X509_PUBKEY(x509_)) != 1)
            return false;
        const void* value = nullptr;
        int type = V_ASN1_UNDEF;
        X509_ALGOR_get0(nullptr, &type, &value, algorithm);
        if (type == V_ASN1_UNDEF || type == V_ASN1_NULL) return true;
        if (type == V_ASN1_OBJECT) return ToDer(static_cast<const ASN1_OBJECT*>(value), i2d_ASN1_OBJECT, out);
        if (type != V_ASN1_SEQUENCE) return false;
        const auto* sequence = static_cast<const ASN1_STRING*>(value);
        out->assign(ASN1_STRING_get0_data(sequence), ASN1_STRING_get0_data(sequence) + ASN1_STRING_length(sequence));
        return true;
    }

    int NameOut(const X509_NAME* source, void** name)
    {
        if (name == nullptr) return PKI_E_INVALID_ARGUMENT;
        *name = nullptr;
        if (x509_ == nullptr) return PKI_E_NOT_SET;
        return Guard([&] {
            Bytes der;
            if (!ToDer(source, i2d_X509_NAME, &der)) return int(PKI_E_FAILURE);
            return HandOut<IPKIName>(new Name(std::move(der)), name);
        });
    }

    X509* x509_ = nullptr;
};

class ContentInfo final : public IPKIContentInfo, public Core {
public:
    PKFMT_COUNTED_COMMON
    ~ContentInfo() override { PKCS7_free(p7_); }

    int Encode(PKIBlob* out) override { return EncodeToBlock(p7_, i2d_PKCS7, out); }

    int Decode(const PKIBlob* in) override { return DecodeWhole(in, d2i_PKCS7, PKCS7_free, &p7_); }

    int GetContentType(PKIBlob* oid) override
    {
        if (oid == nullptr) return PKI_E_INVALID_ARGUMENT;
        if (p7_ == nullptr) return PKI_E_NOT_SET;
        char text[128];
        int length = OBJ_obj2txt(text, sizeof text, p7_->type, 1);
        if (length <= 0 || length >= static_cast<int>(sizeof text)) return PKI_E_FAILURE;
        return CopyToLibraryBlock(oid, text, static_cast<std::size_t>(length), true);
    }

    int GetContent(PKIBlob* content) override
    {
        if (content == nullptr) return PKI_E_INVALID_ARGUMENT;
        if (p7_ == nullptr) return PKI_E_NOT_SET;
        if (!PKCS7_type_is_signed(p7_) || p7_->d.sign == nullptr) return PKI_E_NOT_IMPLEMENTED;
        return EncodeToBlock(p7_->d.sign, i2d_PKCS7_SIGNED, content);
    }

protected:
    void* Offer(std::uint32_t interfaceId) override
    {
        return interfaceId == PKI_IID_CONTENT_INFO ? static_cast<IPKIContentInfo*>(this) : nullptr;
    }

private:
    PKCS7* p7_ = nullptr;
};

class SignedData final : public IPKISignedData, public Core {
public:
    PKFMT_COUNTED_COMMON
    ~SignedData() override { PKCS7_SIGNED_free(signed_); }

    int Encode(PKIBlob* out) override { return EncodeToBlock(signed_, i2d_PKCS7_SIGNED, out); }

    int Decode(const PKIBlob* in) override { return DecodeWhole(in, d2i_PKCS7_SIGNED, PKCS7_SIGNED_free, &signed_); }

    int GetCertificate(std::uint32_t index, PKIBlob* certificate) override
    {
        if (certificate == nullptr) return PKI_E_INVALID_ARGUMENT;
        if (signed_ == nullptr) return PKI_E_NOT_SET;
        if (signed_->cert == nullptr || index >= static_cast<std::uint32_t>(sk_X509_num(signed_->cert)))
            return PKI_E_INDEX;
        return EncodeToBlock(sk_X509_value(signed_->cert, static_cast<int>(index)), i2d_X509, certificate);
    }

protected:
    void* Offer(std::uint32_t interfaceId) override
    {
        return interfaceId == PKI_IID_SIGNED_DATA ? static_cast<IPKISignedData*>(this) : nullptr;
    }

private:
    PKCS7_SIGNED* signed_ = nullptr;
};

}  // namespace

int CreateCertificateObject(std::uint32_t classId, std::uint32_t interfaceId, void** object)
{
    return Guard([&] {
        if (classId == PKI_CLASS_CERTIFICATE && interfaceId == PKI_IID_CERTIFICATE)
            return HandOut<IPKICertificate>(new Certificate(), object);
        if (classId == PKI_CLASS_INTEGER && interfaceId == PKI_IID_INTEGER)
            return HandOut<IPKIInteger>(new Integer(), object);
        if (classId == PKI_CLASS_CONTENT_INFO && interfaceId == PKI_IID_CONTENT_INFO)
            return HandOut<IPKIContentInfo>(new ContentInfo(), object);
        if (classId == PKI_CLASS_SIGNED_DATA && interfaceId == PKI_IID_SIGNED_DATA)
            return HandOut<IPKISignedData>(new SignedData(), object);
        return int(PKI_E_UNKNOWN_CLASS);
    });
}

}  // namespace pkfmt
