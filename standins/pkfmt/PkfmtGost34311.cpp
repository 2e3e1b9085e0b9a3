#include "PkfmtGost34311.h"

#include <openssl/asn1.h>
#include <openssl/objects.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "PkfmtCertificate.h"
#include "PkfmtDerObject.h"
#include "support/PKIGOST34311Parameters.h"

namespace pkfmt {
namespace {

constexpr std::size_t kSBoxBytes = PKI_SBOX_BYTES;
constexpr std::size_t kVectorBytes = PKI_GOST34311_START_VECTOR_BYTES;
constexpr std::size_t kMaxReferenceChars = PKI_GOST34311_REFERENCE_CHARS;

struct SequenceFree {
    void operator()(ASN1_SEQUENCE_ANY* s) const { sk_ASN1_TYPE_pop_free(s, ASN1_TYPE_free); }
};
struct TypeFree {
    void operator()(ASN1_TYPE* t) const { ASN1_TYPE_free(t); }
};
struct ObjectFree {
    void operator()(ASN1_OBJECT* o) const { ASN1_OBJECT_free(o); }
};
struct StringFree {
    void operator()(ASN1_OCTET_STRING* s) const { ASN1_OCTET_STRING_free(s); }
};
using Sequence = std::unique_ptr<ASN1_SEQUENCE_ANY, SequenceFree>;

// A dotted OID as numbers only (no names), within the size a reference has.
std::unique_ptr<ASN1_OBJECT, ObjectFree> ParseOid(const char* text)
{
    if (text == nullptr || std::strlen(text) > kMaxReferenceChars) return nullptr;
    return std::unique_ptr<ASN1_OBJECT, ObjectFree>(OBJ_txt2obj(text, 1));
}

// Appends an OCTET STRING element; false when out of memory.
bool PushOctets(ASN1_SEQUENCE_ANY* sequence, const std::uint8_t* data, std::size_t length)
{
    std::unique_ptr<ASN1_OCTET_STRING, StringFree> s(ASN1_OCTET_STRING_new());
    std::unique_ptr<ASN1_TYPE, TypeFree> t(ASN1_TYPE_new());
    if (!s || !t || ASN1_OCTET_STRING_set(s.get(), data, static_cast<int>(length)) != 1) return false;
    ASN1_TYPE_set(t.get(), V_ASN1_OCTET_STRING, s.release());
    if (sk_ASN1_TYPE_push(sequence, t.get()) <= 0) return false;
    t.release();
    return true;
}

class Gost34311Parameters final : public IPKIGOST34311Parameters, public DerObject {
public:
    Gost34311Parameters() { ++LiveObjectCount(); }
    ~Gost34311Parameters() { --LiveObjectCount(); }
    Gost34311Parameters(const Gost34311Parameters&) = delete;
    Gost34311Parameters& operator=(const Gost34311Parameters&) = delete;

    int Release() override
    {
        if (references_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
        return PKI_OK;
    }
    int QueryInterface(std::uint32_t interfaceId, void** object) override
    {
        if (object == nullptr) return PKI_E_INVALID_ARGUMENT;
        *object = nullptr;
        if (interfaceId != PKI_IID_GOST34311_PARAMETERS) return PKI_E_NO_INTERFACE;
        HoldDer();
        *object = static_cast<IPKIGOST34311Parameters*>(this);
        return PKI_OK;
    }

    int GetParameters(std::uint32_t* kind, std::uint8_t* sBox, char* reference, std::uint32_t referenceBytes,
                      std::uint32_t* hasStartVector, std::uint8_t* startVector) override
    {
        if (kind == nullptr) return PKI_E_INVALID_ARGUMENT;
        if (kind_ == 0) return PKI_E_NOT_SET;
        if (reference != nullptr && kind_ == PKI_GOST34311_REFERENCE) {
            if (reference_.size() + 1 > referenceBytes) return PKI_E_INVALID_ARGUMENT;
            std::memcpy(reference, reference_.c_str(), reference_.size() + 1);
        }
        if (sBox != nullptr && kind_ == PKI_GOST34311_SBOX) std::memcpy(sBox, sBox_, kSBoxBytes);
        if (hasStartVector != nullptr) *hasStartVector = hasStartVector_ ? 1 : 0;
        if (startVector != nullptr && hasStartVector_) std::memcpy(startVector, startVector_, kVectorBytes);
        *kind = kind_;
        return PKI_OK;
    }

    int SetParameters(std::uint32_t kind, const void* value, const std::uint8_t* startVector) override
    {
        if (value == nullptr) return PKI_E_INVALID_ARGUMENT;
        int rc = PKI_E_INVALID_ARGUMENT;
        if (kind == PKI_GOST34311_SBOX)
            rc = SetSBox(static_cast<const std::uint8_t*>(value));
        else if (kind == PKI_GOST34311_REFERENCE)
            rc = SetReference(static_cast<const char*>(value));
        if (rc == PKI_OK) SetStartVector(startVector);
        return rc;
    }

    int EncodeDer(PKIBlob* out) override
    {
        if (kind_ == 0) return PKI_E_NOT_SET;
        Sequence sequence(sk_ASN1_TYPE_new_null());
        if (!sequence) return PKI_E_OUT_OF_MEMORY;
        if (kind_ == PKI_GOST34311_SBOX) {
            if (!PushOctets(sequence.get(), sBox_, kSBoxBytes)) return PKI_E_OUT_OF_MEMORY;
        } else {
            auto oid = ParseOid(reference_.c_str());
            std::unique_ptr<ASN1_TYPE, TypeFree> t(ASN1_TYPE_new());
            if (!oid || !t) return PKI_E_FAILURE;
            ASN1_TYPE_set(t.get(), V_ASN1_OBJECT, oid.release());
            if (sk_ASN1_TYPE_push(sequence.get(), t.get()) <= 0) return PKI_E_OUT_OF_MEMORY;
            t.release();
        }
        if (hasStartVector_ && !PushOctets(sequence.get(), startVector_, kVectorBytes)) return PKI_E_OUT_OF_MEMORY;
        unsigned char* der = nullptr;
        const int length = i2d_ASN1_SEQUENCE_ANY(sequence.get(), &der);
        if (length <= 0) return PKI_E_FAILURE;
        const int rc = CopyToLibraryBlock(out, der, static_cast<std::size_t>(length), false);
        OPENSSL_free(der);
        return rc;
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
        unsigned char* again = nullptr;
        const int againLength = i2d_ASN1_SEQUENCE_ANY(sequence.get(), &again);
        const bool canonical = againLength == static_cast<int>(length) && std::memcmp(again, data, length) == 0;
        OPENSSL_free(again);
        if (!canonical) return PKI_E_BAD_ENCODING;

        const std::uint8_t* vector = nullptr;
        if (count == 2) {
            const ASN1_TYPE* v = sk_ASN1_TYPE_value(sequence.get(), 1);
            if (v->type != V_ASN1_OCTET_STRING || ASN1_STRING_length(v->value.octet_string) != int(kVectorBytes))
                return PKI_E_BAD_ENCODING;
            vector = ASN1_STRING_get0_data(v->value.octet_string);
        }
        const ASN1_TYPE* s = sk_ASN1_TYPE_value(sequence.get(), 0);
        int rc = PKI_E_BAD_ENCODING;
        if (s->type == V_ASN1_OCTET_STRING) {
            if (ASN1_STRING_length(s->value.octet_string) == int(kSBoxBytes))
                rc = SetSBox(ASN1_STRING_get0_data(s->value.octet_string));
        } else if (s->type == V_ASN1_OBJECT) {
            char text[kMaxReferenceChars + 2] = {};
            const int n = OBJ_obj2txt(text, sizeof(text), s->value.object, 1);
            if (n > 0 && n <= int(kMaxReferenceChars) && SetReference(text) == PKI_OK) rc = PKI_OK;
        }
        if (rc != PKI_OK) return PKI_E_BAD_ENCODING;
        SetStartVector(vector);
        return PKI_OK;
    }

    void HoldDer() override { references_.fetch_add(1, std::memory_order_relaxed); }
    void DropDer() override { Release(); }

private:
    int SetSBox(const std::uint8_t* sBox)
    {
        std::memcpy(sBox_, sBox, kSBoxBytes);
        reference_.clear();
        kind_ = PKI_GOST34311_SBOX;
        return PKI_OK;
    }

    int SetReference(const char* reference)
    {
        if (!ParseOid(reference)) return PKI_E_INVALID_ARGUMENT;
        try {
            reference_.assign(reference);
        } catch (const std::bad_alloc&) {
            return PKI_E_OUT_OF_MEMORY;
        }
        std::memset(sBox_, 0, kSBoxBytes);
        kind_ = PKI_GOST34311_REFERENCE;
        return PKI_OK;
    }

    void SetStartVector(const std::uint8_t* startVector)
    {
        hasStartVector_ = startVector != nullptr;
        if (hasStartVector_)
            std::memcpy(startVector_, startVector, kVectorBytes);
        else
            std::memset(startVector_, 0, kVectorBytes);
    }

    std::atomic<int> references_{1};
    std::uint32_t kind_ = 0;
    std::uint8_t sBox_[kSBoxBytes] = {};
    std::string reference_;
    bool hasStartVector_ = false;
    std::uint8_t startVector_[kVectorBytes] = {};
};

}  // namespace

int CreateGost34311Parameters(std::uint32_t interfaceId, void** object)
{
    if (object == nullptr) return PKI_E_INVALID_ARGUMENT;
    *object = nullptr;
    if (interfaceId != PKI_IID_GOST34311_PARAMETERS) return PKI_E_UNKNOWN_CLASS;
    auto* made = new (std::nothrow) Gost34311Parameters();
    if (made == nullptr) return PKI_E_OUT_OF_MEMORY;
    *object = static_cast<IPKIGOST34311Parameters*>(made);
    return PKI_OK;
}

}  // namespace pkfmt
