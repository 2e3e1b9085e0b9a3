#include "PkfmtGost28147.h"

#include <openssl/asn1.h>
#include <openssl/objects.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "PkfmtCertificate.h"

namespace pkfmt {
namespace {

constexpr int kMaxReferenceChars = 128;

struct TypeFree {
    void operator()(ASN1_TYPE* t) const { ASN1_TYPE_free(t); }
};
struct StringFree {
    void operator()(ASN1_OCTET_STRING* s) const { ASN1_OCTET_STRING_free(s); }
};
struct ObjectFree {
    void operator()(ASN1_OBJECT* o) const { ASN1_OBJECT_free(o); }
};

// A dotted OID OpenSSL accepts as numbers only (no names), within the size
// a reference may have.
std::unique_ptr<ASN1_OBJECT, ObjectFree> ParseOid(const char* text)
{
    if (text == nullptr || std::strlen(text) > kMaxReferenceChars) return nullptr;
    return std::unique_ptr<ASN1_OBJECT, ObjectFree>(OBJ_txt2obj(text, 1));
}

class Gost28147Parameters final : public IPKIGOST28147Parameters, public DerObject {
public:
    Gost28147Parameters() { ++LiveObjectCount(); }
    ~Gost28147Parameters() { --LiveObjectCount(); }
    Gost28147Parameters(const Gost28147Parameters&) = delete;
    Gost28147Parameters& operator=(const Gost28147Parameters&) = delete;

    int Release() override
    {
        if (references_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
        return PKI_OK;
    }
    int QueryInterface(std::uint32_t interfaceId, void** object) override
    {
        if (object == nullptr) return PKI_E_INVALID_ARGUMENT;
        *object = nullptr;
        if (interfaceId != PKI_IID_GOST28147_PARAMETERS) return PKI_E_NO_INTERFACE;
        HoldDer();
        *object = static_cast<IPKIGOST28147Parameters*>(this);
        return PKI_OK;
    }

    int GetParameters(std::uint32_t* kind, std::uint8_t* sBox, char* reference, std::uint32_t referenceBytes) override
    {
        if (kind == nullptr) return PKI_E_INVALID_ARGUMENT;
        if (kind_ == 0) return PKI_E_NOT_SET;
        if (reference != nullptr && kind_ == PKI_GOST28147_REFERENCE) {
            if (reference_.size() + 1 > referenceBytes) return PKI_E_INVALID_ARGUMENT;
            std::memcpy(reference, reference_.c_str(), reference_.size() + 1);
        }
        if (sBox != nullptr && kind_ == PKI_GOST28147_SBOX) std::memcpy(sBox, sBox_, sizeof(sBox_));
        *kind = kind_;
        return PKI_OK;
    }

    int SetParameters(const std::uint8_t* sBox, const char* reference) override
    {
        if ((sBox == nullptr) == (reference == nullptr)) return PKI_E_INVALID_ARGUMENT;
        return sBox != nullptr ? SetSBox(sBox) : SetReference(reference);
    }

    int EncodeDer(PKIBlob* out) override
    {
        if (kind_ == 0) return PKI_E_NOT_SET;
        unsigned char* der = nullptr;
        int length = -1;
        if (kind_ == PKI_GOST28147_SBOX) {
            std::unique_ptr<ASN1_OCTET_STRING, StringFree> s(ASN1_OCTET_STRING_new());
            if (!s || ASN1_OCTET_STRING_set(s.get(), sBox_, sizeof(sBox_)) != 1) return PKI_E_OUT_OF_MEMORY;
            length = i2d_ASN1_OCTET_STRING(s.get(), &der);
        } else {
            auto oid = ParseOid(reference_.c_str());
            if (!oid) return PKI_E_FAILURE;
            length = i2d_ASN1_OBJECT(oid.get(), &der);
        }
        if (length <= 0) return PKI_E_FAILURE;
        const int rc = CopyToLibraryBlock(out, der, static_cast<std::size_t>(length), false);
        OPENSSL_free(der);
        return rc;
    }

    int DecodeDer(const std::uint8_t* data, std::size_t length) override
    {
        if (data == nullptr || length == 0 || length > 0x7FFFFFFF) return PKI_E_BAD_ENCODING;
        const unsigned char* p = data;
        std::unique_ptr<ASN1_TYPE, TypeFree> t(d2i_ASN1_TYPE(nullptr, &p, static_cast<long>(length)));
        if (!t || p != data + length) return PKI_E_BAD_ENCODING;
        if (t->type == V_ASN1_OCTET_STRING) {
            const ASN1_OCTET_STRING* s = t->value.octet_string;
            if (ASN1_STRING_length(s) != static_cast<int>(sizeof(sBox_))) return PKI_E_BAD_ENCODING;
            return SetSBox(ASN1_STRING_get0_data(s));
        }
        if (t->type == V_ASN1_OBJECT) {
            char text[kMaxReferenceChars + 2] = {};
            const int n = OBJ_obj2txt(text, sizeof(text), t->value.object, 1);
            if (n <= 0 || n > kMaxReferenceChars) return PKI_E_BAD_ENCODING;
            return SetReference(text) == PKI_OK ? PKI_OK : PKI_E_BAD_ENCODING;
        }
        return PKI_E_BAD_ENCODING;
    }

    void HoldDer() override { references_.fetch_add(1, std::memory_order_relaxed); }
    void DropDer() override { Release(); }

private:
    int SetSBox(const std::uint8_t* sBox)
    {
        std::memcpy(sBox_, sBox, sizeof(sBox_));
        reference_.clear();
        kind_ = PKI_GOST28147_SBOX;
        return PKI_OK;
    }

    int SetReference(const char* reference)
    {
        if (!ParseOid(reference)) return PKI_E_INVALID_ARGUMENT;
        try {
            reference_.assign(reference, std::strlen(reference));
        } catch (const std::bad_alloc&) {
            return PKI_E_OUT_OF_MEMORY;
        }
        std::memset(sBox_, 0, sizeof(sBox_));
        kind_ = PKI_GOST28147_REFERENCE;
        return PKI_OK;
    }

    std::atomic<int> references_{1};
    std::uint32_t kind_ = 0;
    std::uint8_t sBox_[PKI_SBOX_BYTES] = {};
    std::string reference_;
};

}  // namespace

int CreateGost28147Parameters(std::uint32_t interfaceId, void** object)
{
    if (object == nullptr) return PKI_E_INVALID_ARGUMENT;
    *object = nullptr;
    if (interfaceId != PKI_IID_GOST28147_PARAMETERS) return PKI_E_UNKNOWN_CLASS;
    auto* made = new (std::nothrow) Gost28147Parameters();
    if (made == nullptr) return PKI_E_OUT_OF_MEMORY;
    *object = static_cast<IPKIGOST28147Parameters*>(made);
    return PKI_OK;
}

}  // namespace pkfmt
