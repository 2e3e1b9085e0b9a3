// The public key is an OCTET STRING of (m + 7) / 8 bytes: the compressed
// point, least significant byte first, as DSTU 4145 certificates carry it.
#include "PkfmtPoint.h"

#include "PkfmtDerObject.h"

#include <openssl/asn1.h>

#include <atomic>
#include <cstring>
#include <new>

#include "PkfmtCertificate.h"

namespace pkfmt {
namespace {

constexpr std::uint32_t RECORD_BYTES = 76;
constexpr std::uint32_t MAX_DEGREE = RECORD_BYTES * 8;

class ECPoint final : public IPKIECPoint, public DerObject, public Core {
public:
    PKFMT_DER_OBJECT_COMMON

    int GetPoint(std::uint8_t* record, std::uint32_t* m) override
    {
        if (record == nullptr) return PKI_E_INVALID_ARGUMENT;
        if (length_ == 0) return PKI_E_NOT_SET;
        std::memset(record, 0, RECORD_BYTES);
        std::memcpy(record, bytes_, length_);
        if (m != nullptr) *m = m_;
        return PKI_OK;
    }
    int SetPoint(const std::uint8_t* record, std::uint32_t m) override
    {
        if (record == nullptr || m == 0 || m > MAX_DEGREE) return PKI_E_INVALID_ARGUMENT;
        const std::uint32_t length = (m + 7) / 8;
        // A point that does not fit the field's bytes is not this curve's.
        for (std::uint32_t i = length; i < RECORD_BYTES; ++i)
            if (record[i] != 0) return PKI_E_INVALID_ARGUMENT;
        std::memset(bytes_, 0, sizeof(bytes_));
        std::memcpy(bytes_, record, length);
        length_ = length;
        m_ = m;
        return PKI_OK;
    }

    int EncodeDer(PKIBlob* out) override
    {
        if (out == nullptr) return PKI_E_INVALID_ARGUMENT;
        if (length_ == 0) return PKI_E_NOT_SET;
        ASN1_OCTET_STRING* s = ASN1_OCTET_STRING_new();
        if (s == nullptr || ASN1_OCTET_STRING_set(s, bytes_, static_cast<int>(length_)) != 1) {
            ASN1_OCTET_STRING_free(s);
            return PKI_E_OUT_OF_MEMORY;
        }
        unsigned char* der = nullptr;
        const int n = i2d_ASN1_OCTET_STRING(s, &der);
        ASN1_OCTET_STRING_free(s);
        if (n <= 0) return PKI_E_FAILURE;
        const int rc = CopyToLibraryBlock(out, der, static_cast<std::size_t>(n), false);
        OPENSSL_free(der);
        return rc;
    }
    int DecodeDer(const std::uint8_t* data, std::size_t length) override
    {
        if (data == nullptr || length == 0 || length > 4096) return PKI_E_BAD_ENCODING;
        const unsigned char* p = data;
        ASN1_OCTET_STRING* s = d2i_ASN1_OCTET_STRING(nullptr, &p, static_cast<long>(length));
        if (s == nullptr || p != data + length) {
            ASN1_OCTET_STRING_free(s);
            return PKI_E_BAD_ENCODING;
        }
        const int n = ASN1_STRING_length(s);
        if (n <= 0 || static_cast<std::uint32_t>(n) > RECORD_BYTES) {
            ASN1_OCTET_STRING_free(s);
            return PKI_E_BAD_ENCODING;
        }
        std::memset(bytes_, 0, sizeof(bytes_));
        std::memcpy(bytes_, ASN1_STRING_get0_data(s), static_cast<std::size_t>(n));
        ASN1_OCTET_STRING_free(s);
        length_ = static_cast<std::uint32_t>(n);
        // The encoding keeps the byte count only; the degree is its upper end.
        m_ = length_ * 8;
        return PKI_OK;
    }

protected:
    void* Offer(std::uint32_t interfaceId) override
    {
        return interfaceId == PKI_IID_DSTU4145_PUBLIC_KEY ? static_cast<IPKIECPoint*>(this) : nullptr;
    }

private:
    std::uint8_t bytes_[RECORD_BYTES] = {};
    std::uint32_t length_ = 0;
    std::uint32_t m_ = 0;
};

}  // namespace

int CreatePointObject(std::uint32_t classId, std::uint32_t interfaceId, void** object)
{
    if (classId != PKI_CLASS_DSTU4145_PUBLIC_KEY || interfaceId != PKI_IID_DSTU4145_PUBLIC_KEY)
        return PKI_E_UNKNOWN_CLASS;
    return CreateCoreObject<ECPoint>(interfaceId, object);
}

}  // namespace pkfmt
