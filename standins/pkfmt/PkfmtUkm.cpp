#include "PkfmtUkm.h"

#include <openssl/asn1.h>
#include <openssl/crypto.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "PkfmtAsn1.h"
#include "PkfmtCertificate.h"
#include "PkfmtDerObject.h"
#include "support/PKIKeyAgreement.h"

namespace pkfmt {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int kEntityTag = 0;
constexpr int kKeyLengthTag = 2;
constexpr std::size_t kKeyLengthBytes = 4;

struct AlgorithmFree {
    void operator()(X509_ALGOR* a) const { X509_ALGOR_free(a); }
};

Asn1Object ParseOid(const char* text)
{
    return ParseDottedOid(text, PKI_UKM_MAX_OID_CHARS);
}

// One TLV around `content` with OpenSSL's header writer.
bool PutTagged(int constructed, int tag, int xclass, const Bytes& content, Bytes* out)
{
    const int total = ASN1_object_size(constructed, static_cast<int>(content.size()), tag);
    if (total <= 0) return false;
    const std::size_t start = out->size();
    out->resize(start + static_cast<std::size_t>(total));
    unsigned char* p = out->data() + start;
    ASN1_put_object(&p, constructed, static_cast<int>(content.size()), tag, xclass);
    std::memcpy(p, content.data(), content.size());
    return p + content.size() == out->data() + out->size();
}

bool OctetsDer(const std::uint8_t* data, std::size_t length, Bytes* out)
{
    Asn1Octets s(ASN1_OCTET_STRING_new());
    return s && ASN1_OCTET_STRING_set(s.get(), data, static_cast<int>(length)) == 1 &&
           ToDer(s.get(), i2d_ASN1_OCTET_STRING, out);
}

// Reads one header at *p within [*p, end): its tag, class and content length;
// the content must be primitive or constructed as asked and lie inside.
bool GetTagged(const unsigned char** p, const unsigned char* end, bool constructed, int* tag, int* xclass, long* length)
{
    if (*p >= end) return false;
    const int flags = ASN1_get_object(p, length, tag, xclass, end - *p);
    if ((flags & 0x80) != 0) return false;
    if (((flags & V_ASN1_CONSTRUCTED) != 0) != constructed) return false;
    return *length >= 0 && *length <= end - *p;
}

// An OCTET STRING that fills [p, end) exactly.
bool ReadOctets(const unsigned char* p, const unsigned char* end, Bytes* out)
{
    const unsigned char* q = p;
    Asn1Octets s(d2i_ASN1_OCTET_STRING(nullptr, &q, end - p));
    if (!s || q != end) return false;
    const std::uint8_t* data = ASN1_STRING_get0_data(s.get());
    out->assign(data, data + ASN1_STRING_length(s.get()));
    return true;
}

class Ukm final : public IPKIUKM, public IPKIUKMEx, public DerObject, public Core {
public:
    ~Ukm() override
    {
        if (!data_.empty()) OPENSSL_cleanse(data_.data(), data_.size());
    }

    PKFMT_DER_OBJECT_COMMON

    void* Offer(std::uint32_t interfaceId) override
    {
        if (interfaceId == PKI_IID_UKM) return static_cast<IPKIUKM*>(this);
        if (interfaceId == PKI_IID_UKM_EX) return static_cast<IPKIUKMEx*>(this);
        return nullptr;
    }

    int SetUKM(const std::uint8_t* data, std::uint32_t length, std::uint32_t keyBits) override
    {
        return Set(PKI_OID_UKM_GOST28147_WRAP, data, length, keyBits);
    }
    int GetUKM(PKIBlob* data, std::uint32_t* keyBits) override { return GetUKM(nullptr, 0, data, keyBits); }

    int SetUKM(const char* algorithm, const std::uint8_t* data, std::uint32_t length, std::uint32_t keyBits) override
    {
        return Set(algorithm, data, length, keyBits);
    }
    int GetUKM(char* algorithm, std::uint32_t algorithmBytes, PKIBlob* data, std::uint32_t* keyBits) override
    {
        if (data == nullptr || keyBits == nullptr) return PKI_E_INVALID_ARGUMENT;
        if (algorithm_.empty()) return PKI_E_NOT_SET;
        if (algorithm != nullptr) {
            if (algorithm_.size() + 1 > algorithmBytes) return PKI_E_INVALID_ARGUMENT;
            std::memcpy(algorithm, algorithm_.c_str(), algorithm_.size() + 1);
        }
        *data = PKIBlob{0, nullptr};
        if (!data_.empty()) {
            const int rc = CopyToLibraryBlock(data, data_.data(), data_.size(), false);
            if (rc != PKI_OK) return rc;
        }
        *keyBits = keyBits_;
        return PKI_OK;
    }

    int EncodeDer(PKIBlob* out) override
    {
        if (algorithm_.empty()) return PKI_E_NOT_SET;
        Bytes content;
        if (!AlgorithmDer(&content)) return PKI_E_FAILURE;
        Bytes inner;
        if (!data_.empty()) {
            if (!OctetsDer(data_.data(), data_.size(), &inner) ||
                !PutTagged(V_ASN1_CONSTRUCTED, kEntityTag, V_ASN1_CONTEXT_SPECIFIC, inner, &content))
                return PKI_E_FAILURE;
        }
        const std::uint8_t bits[kKeyLengthBytes] = {
            static_cast<std::uint8_t>(keyBits_ >> 24), static_cast<std::uint8_t>(keyBits_ >> 16),
            static_cast<std::uint8_t>(keyBits_ >> 8), static_cast<std::uint8_t>(keyBits_)};
        if (!OctetsDer(bits, sizeof(bits), &inner) ||
            !PutTagged(V_ASN1_CONSTRUCTED, kKeyLengthTag, V_ASN1_CONTEXT_SPECIFIC, inner, &content))
            return PKI_E_FAILURE;
        Bytes der;
        if (!PutTagged(V_ASN1_CONSTRUCTED, V_ASN1_SEQUENCE, V_ASN1_UNIVERSAL, content, &der)) return PKI_E_FAILURE;
        const int rc = CopyToLibraryBlock(out, der.data(), der.size(), false);
        OPENSSL_cleanse(der.data(), der.size());
        return rc;
    }

    int DecodeDer(const std::uint8_t* data, std::size_t length) override
    {
        if (data == nullptr || length == 0 || length > 0x7FFFFFFF) return PKI_E_BAD_ENCODING;
        const unsigned char* p = data;
        const unsigned char* const end = data + length;
        int tag = 0, xclass = 0;
        long n = 0;
        if (!GetTagged(&p, end, true, &tag, &xclass, &n) || tag != V_ASN1_SEQUENCE || xclass != V_ASN1_UNIVERSAL ||
            p + n != end)
            return PKI_E_BAD_ENCODING;
        const unsigned char* q = p;
        std::unique_ptr<X509_ALGOR, AlgorithmFree> algorithm(d2i_X509_ALGOR(nullptr, &q, end - p));
        if (!algorithm) return PKI_E_BAD_ENCODING;
        p = q;
        const ASN1_OBJECT* oid = nullptr;
        int parameterType = V_ASN1_UNDEF;
        X509_ALGOR_get0(&oid, &parameterType, nullptr, algorithm.get());
        char text[PKI_UKM_MAX_OID_CHARS + 2] = {};
        const int chars = OBJ_obj2txt(text, sizeof(text), oid, 1);
        if (parameterType != V_ASN1_UNDEF || chars <= 0 || chars > static_cast<int>(PKI_UKM_MAX_OID_CHARS))
            return PKI_E_BAD_ENCODING;

        Bytes shared, bits;
        if (!GetTagged(&p, end, true, &tag, &xclass, &n) || xclass != V_ASN1_CONTEXT_SPECIFIC)
            return PKI_E_BAD_ENCODING;
        if (tag == kEntityTag) {
            // Empty shared data is written by leaving the item out.
            if (!ReadOctets(p, p + n, &shared) || shared.empty()) return PKI_E_BAD_ENCODING;
            p += n;
            if (!GetTagged(&p, end, true, &tag, &xclass, &n) || xclass != V_ASN1_CONTEXT_SPECIFIC)
                return PKI_E_BAD_ENCODING;
        }
        if (tag != kKeyLengthTag || !ReadOctets(p, p + n, &bits) || bits.size() != kKeyLengthBytes || p + n != end)
            return PKI_E_BAD_ENCODING;
        const std::uint32_t keyBits =
            (std::uint32_t(bits[0]) << 24) | (std::uint32_t(bits[1]) << 16) | (std::uint32_t(bits[2]) << 8) | bits[3];
        const int rc = Set(text, shared.data(), static_cast<std::uint32_t>(shared.size()), keyBits);
        if (!shared.empty()) OPENSSL_cleanse(shared.data(), shared.size());
        return rc == PKI_OK ? PKI_OK : PKI_E_BAD_ENCODING;
    }

private:
    int Set(const char* algorithm, const std::uint8_t* data, std::uint32_t length, std::uint32_t keyBits)
    {
        if ((data == nullptr && length != 0) || keyBits == 0 || length > PKI_UKM_MAX_DATA_BYTES)
            return PKI_E_INVALID_ARGUMENT;
        if (!ParseOid(algorithm)) return PKI_E_INVALID_ARGUMENT;
        try {
            std::string text(algorithm);
            Bytes copy(data, data + length);
            if (!data_.empty()) OPENSSL_cleanse(data_.data(), data_.size());
            algorithm_.swap(text);
            data_.swap(copy);
        } catch (const std::bad_alloc&) {
            return PKI_E_OUT_OF_MEMORY;
        }
        keyBits_ = keyBits;
        return PKI_OK;
    }

    // AlgorithmIdentifier { oid } with the parameters left out.
    bool AlgorithmDer(Bytes* out) const
    {
        auto oid = ParseOid(algorithm_.c_str());
        std::unique_ptr<X509_ALGOR, AlgorithmFree> a(X509_ALGOR_new());
        if (!oid || !a || X509_ALGOR_set0(a.get(), oid.get(), V_ASN1_UNDEF, nullptr) != 1) return false;
        oid.release();  // the algorithm owns it now
        return ToDer(a.get(), i2d_X509_ALGOR, out);
    }

    std::string algorithm_;  // empty while nothing was set
    Bytes data_;
    std::uint32_t keyBits_ = 0;
};

}  // namespace

int CreateUkmObject(std::uint32_t interfaceId, void** object)
{
    return CreateCoreObject<Ukm>(interfaceId, object);
}

}  // namespace pkfmt
