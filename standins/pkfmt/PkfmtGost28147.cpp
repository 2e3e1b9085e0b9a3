#include "PkfmtGost28147.h"

#include <openssl/asn1.h>
#include <openssl/objects.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "PkfmtCertificate.h"
#include "PkfmtSBoxChoice.h"

namespace pkfmt {
namespace {

static_assert(PKI_GOST28147_SBOX == SBoxChoice::kSBox && PKI_GOST28147_REFERENCE == SBoxChoice::kReference);

class Gost28147Parameters final : public IPKIGOST28147Parameters, public DerObject, public Core {
public:
    PKFMT_DER_OBJECT_COMMON

    int GetParameters(std::uint32_t* kind, std::uint8_t* sBox, char* reference, std::uint32_t referenceBytes) override
    {
        return value_.Get(kind, sBox, reference, referenceBytes);
    }

    int SetParameters(const std::uint8_t* sBox, const char* reference) override
    {
        if ((sBox == nullptr) == (reference == nullptr)) return PKI_E_INVALID_ARGUMENT;
        return sBox != nullptr ? value_.SetSBox(sBox) : value_.SetReference(reference);
    }

    int EncodeDer(PKIBlob* out) override
    {
        if (value_.kind() == 0) return PKI_E_NOT_SET;
        Asn1Type t = value_.Encode();
        if (!t) return PKI_E_FAILURE;
        return EncodeToBlock(t.get(), i2d_ASN1_TYPE, out);
    }

    int DecodeDer(const std::uint8_t* data, std::size_t length) override
    {
        if (data == nullptr || length == 0 || length > 0x7FFFFFFF) return PKI_E_BAD_ENCODING;
        const unsigned char* p = data;
        Asn1Type t(d2i_ASN1_TYPE(nullptr, &p, static_cast<long>(length)));
        if (!t || p != data + length) return PKI_E_BAD_ENCODING;
        return value_.Decode(t.get());
    }

protected:
    void* Offer(std::uint32_t interfaceId) override
    {
        return interfaceId == PKI_IID_GOST28147_PARAMETERS ? static_cast<IPKIGOST28147Parameters*>(this) : nullptr;
    }

private:
    SBoxChoice value_;
};

}  // namespace

int CreateGost28147Parameters(std::uint32_t interfaceId, void** object)
{
    return CreateCoreObject<Gost28147Parameters>(interfaceId, object);
}

}  // namespace pkfmt
