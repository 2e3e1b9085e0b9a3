#include "PkfmtSBoxChoice.h"

#include <cstring>
#include <new>

namespace pkfmt {

int SBoxChoice::SetSBox(const std::uint8_t* sBox)
{
    std::memcpy(sBox_, sBox, sizeof(sBox_));
    reference_.clear();
    kind_ = kSBox;
    return PKI_OK;
}

int SBoxChoice::SetReference(const char* reference)
{
    if (!ParseDottedOid(reference, kMaxReferenceChars)) return PKI_E_INVALID_ARGUMENT;
    try {
        reference_.assign(reference);
    } catch (const std::bad_alloc&) {
        return PKI_E_OUT_OF_MEMORY;
    }
    std::memset(sBox_, 0, sizeof(sBox_));
    kind_ = kReference;
    return PKI_OK;
}

int SBoxChoice::Get(std::uint32_t* kind, std::uint8_t* sBox, char* reference, std::uint32_t referenceBytes) const
{
    if (kind == nullptr) return PKI_E_INVALID_ARGUMENT;
    if (kind_ == 0) return PKI_E_NOT_SET;
    if (reference != nullptr && kind_ == kReference) {
        if (reference_.size() + 1 > referenceBytes) return PKI_E_INVALID_ARGUMENT;
        std::memcpy(reference, reference_.c_str(), reference_.size() + 1);
    }
    if (sBox != nullptr && kind_ == kSBox) std::memcpy(sBox, sBox_, sizeof(sBox_));
    *kind = kind_;
    return PKI_OK;
}

Asn1Type SBoxChoice::Encode() const
{
    Asn1Type t(ASN1_TYPE_new());
    if (!t || kind_ == 0) return nullptr;
    if (kind_ == kSBox) {
        Asn1Octets s(ASN1_OCTET_STRING_new());
        if (!s || ASN1_OCTET_STRING_set(s.get(), sBox_, sizeof(sBox_)) != 1) return nullptr;
        ASN1_TYPE_set(t.get(), V_ASN1_OCTET_STRING, s.release());
    } else {
        Asn1Object oid = ParseDottedOid(reference_.c_str(), kMaxReferenceChars);
        if (!oid) return nullptr;
        ASN1_TYPE_set(t.get(), V_ASN1_OBJECT, oid.release());
    }
    return t;
}

int SBoxChoice::Decode(const ASN1_TYPE* value)
{
    if (value->type == V_ASN1_OCTET_STRING) {
        const ASN1_OCTET_STRING* s = value->value.octet_string;
        if (ASN1_STRING_length(s) != static_cast<int>(sizeof(sBox_))) return PKI_E_BAD_ENCODING;
        return SetSBox(ASN1_STRING_get0_data(s));
    }
    if (value->type == V_ASN1_OBJECT) {
        char text[kMaxReferenceChars + 2] = {};
        const int n = OBJ_obj2txt(text, sizeof(text), value->value.object, 1);
        if (n <= 0 || n > static_cast<int>(kMaxReferenceChars)) return PKI_E_BAD_ENCODING;
        return SetReference(text) == PKI_OK ? PKI_OK : PKI_E_BAD_ENCODING;
    }
    return PKI_E_BAD_ENCODING;
}

}  // namespace pkfmt
