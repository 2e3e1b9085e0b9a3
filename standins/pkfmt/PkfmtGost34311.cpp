#include "PkfmtGost34311.h"

#include <openssl/asn1.h>
#include <openssl/objects.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "PkfmtCertificate.h"
#include "PkfmtDerObject.h"
#include "PkfmtSBoxChoice.h"
#include "support/PKIGOST34311Parameters.h"

namespace pkfmt {
namespace {

constexpr std::size_t kVectorBytes = PKI_GOST34311_START_VECTOR_BYTES;
static_assert(PKI_GOST34311_SBOX == SBoxChoice::kSBox && PKI_GOST34311_REFERENCE == SBoxChoice::kReference);
static_assert(PKI_GOST34311_REFERENCE_CHARS == SBoxChoice::kMaxReferenceChars);

struct SequenceFree {
    void operator()(ASN1_SEQUENCE_ANY* s) const { sk_ASN1_TYPE_pop_free(s, ASN1_TYPE_free); }
};
using Sequence = std::unique_ptr<ASN1_SEQUENCE_ANY, SequenceFree>;

// Appends an element; false when out of memory.
bool Push(ASN1_SEQUENCE_ANY* sequence, Asn1Type element)
{
    if (!element || sk_ASN1_TYPE_push(sequence, element.get()) <= 0) return false;
    element.release();
    return true;
}

Asn1Type Octets(const std::uint8_t* data, std::size_t length)
{
    Asn1Octets s(ASN1_OCTET_STRING_new());
    Asn1Type t(ASN1_TYPE_new());
    if (!s || !t || ASN1_OCTET_STRING_set(s.get(), data, static_cast<int>(length)) != 1) return nullptr;
    ASN1_TYPE_set(t.get(), V_ASN1_OCTET_STRING, s.release());
    return t;
}

class Gost34311Parameters final : public IPKIGOST34311Parameters, public DerObject, public Core {
public:
    PKFMT_DER_OBJECT_COMMON

    int GetParameters(std::uint32_t* kind, std::uint8_t* sBox, char* reference, std::uint32_t referenceBytes,
                      std::uint32_t* hasStartVector, std::uint8_t* startVector) override
    {
        const int rc = value_.Get(kind, sBox, reference, referenceBytes);
        if (rc != PKI_OK) return rc;
        if (hasStartVector != nullptr) *hasStartVector = hasStartVector_ ? 1 : 0;
        if (startVector != nullptr && hasStartVector_) std::memcpy(startVector, startVector_, kVectorBytes);
        return PKI_OK;
    }

    int SetParameters(std::uint32_t kind, const void* value, const std::uint8_t* startVector) override
    {
        if (value == nullptr) return PKI_E_INVALID_ARGUMENT;
        int rc = PKI_E_INVALID_ARGUMENT;
        if (kind == PKI_GOST34311_SBOX)
            rc = value_.SetSBox(static_cast<const std::uint8_t*>(value));
        else if (kind == PKI_GOST34311_REFERENCE)
            rc = value_.SetReference(static_cast<const char*>(value));
        if (rc == PKI_OK) SetStartVector(startVector);
        return rc;
    }

    int EncodeDer(PKIBlob* out) override
    {
        if (value_.kind() == 0) return PKI_E_NOT_SET;
        Sequence sequence(sk_ASN1_TYPE_new_null());
        if (!sequence) return PKI_E_OUT_OF_MEMORY;
        if (!Push(sequence.get(), value_.Encode())) return PKI_E_OUT_OF_MEMORY;
        if (hasStartVector_ && !Push(sequence.get(), Octets(startVector_, kVectorBytes))) return PKI_E_OUT_OF_MEMORY;
        return EncodeToBlock(sequence.get(), i2d_ASN1_SEQUENCE_ANY, out);
    }

    int DecodeDer(const std::uint8_t* data, std::size_t length) override
    {
        if (data == nullptr || length == 0 || length > 0x7FFFFFFF) return PKI_E_BAD_ENCODING;
        const unsigned char* p = data;
        Sequence sequence(d2i_ASN1_SEQUENCE_ANY(nullptr, &p, static_cast<long>(length)));
        if (!sequence || p != data + length) return PKI_E_BAD_ENCODING;
        const int count = sk_ASN1_TYPE_num(sequence.get());
        if (count != 1 && count != 2) return PKI_E_BAD_ENCODING;
        // Only DER: what is read must be written back byte for byte.
        std::vector<std::uint8_t> again;
        if (!ToDer(sequence.get(), i2d_ASN1_SEQUENCE_ANY, &again) || again.size() != length ||
            std::memcmp(again.data(), data, length) != 0)
            return PKI_E_BAD_ENCODING;

        const std::uint8_t* vector = nullptr;
        if (count == 2) {
            const ASN1_TYPE* v = sk_ASN1_TYPE_value(sequence.get(), 1);
            if (v->type != V_ASN1_OCTET_STRING || ASN1_STRING_length(v->value.octet_string) != int(kVectorBytes))
                return PKI_E_BAD_ENCODING;
            vector = ASN1_STRING_get0_data(v->value.octet_string);
        }
        if (value_.Decode(sk_ASN1_TYPE_value(sequence.get(), 0)) != PKI_OK) return PKI_E_BAD_ENCODING;
        SetStartVector(vector);
        return PKI_OK;
    }

protected:
    void* Offer(std::uint32_t interfaceId) override
    {
        return interfaceId == PKI_IID_GOST34311_PARAMETERS ? static_cast<IPKIGOST34311Parameters*>(this) : nullptr;
    }

private:
    void SetStartVector(const std::uint8_t* startVector)
    {
        hasStartVector_ = startVector != nullptr;
        if (hasStartVector_)
            std::memcpy(startVector_, startVector, kVectorBytes);
        else
            std::memset(startVector_, 0, kVectorBytes);
    }

    SBoxChoice value_;
    bool hasStartVector_ = false;
    std::uint8_t startVector_[kVectorBytes] = {};
};

}  // namespace

int CreateGost34311Parameters(std::uint32_t interfaceId, void** object)
{
    return CreateCoreObject<Gost34311Parameters>(interfaceId, object);
}

}  // namespace pkfmt
