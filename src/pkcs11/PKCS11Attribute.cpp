#include "pkcs11/PKCS11Attribute.h"

#include <cstring>
#include <new>
#include <stdexcept>

#include "crypto/ByteOrder.h"
#include "pkcs11/PKCS11DSTU4145.h"
#include "pkcs11/PKCS11Template.h"

namespace {

using qvkcrypto::LoadBE32;
using qvkcrypto::StoreBE32;

constexpr CK_ULONG kStoredWord = 4;
constexpr CK_ULONG kDateBytes = 8;

template <typename T>
CK_RV CloneAs(const T& self, PKCS11Attribute** out)
{
    if (out == nullptr) return CKR_ARGUMENTS_BAD;
    T* copy = new (std::nothrow) T(self.GetType());
    if (copy == nullptr) return CKR_HOST_MEMORY;
    const CK_RV rv = copy->CopyFieldsFrom(self);
    if (rv != CKR_OK) {
        copy->Release();
        return rv;
    }
    *out = copy;
    return CKR_OK;
}

}  // namespace

// ---- PKCS11Attribute ----

PKCS11Attribute::PKCS11Attribute() = default;

PKCS11Attribute::PKCS11Attribute(CK_ATTRIBUTE_TYPE type) : type_(type) {}

// Values and defaults sit in wiping buffers: a key value leaves nothing in
// the heap when it is replaced or the attribute goes.
PKCS11Attribute::~PKCS11Attribute() = default;

CK_RV PKCS11Attribute::StoreCopy(const void* bytes, CK_ULONG length, CK_ULONG minLength, CK_ULONG maxLength,
                                 qvkcrypto::SecureBytes* buffer, CK_ULONG* bufferLength)
{
    if (length == 0) {
        *buffer = qvkcrypto::SecureBytes();
        *bufferLength = 0;
        return CKR_OK;
    }
    if (bytes == nullptr) return CKR_ARGUMENTS_BAD;
    if (length < minLength || length > maxLength) return CKR_ATTRIBUTE_VALUE_INVALID;
    try {
        const auto* first = static_cast<const std::uint8_t*>(bytes);
        qvkcrypto::SecureBytes copy(first, first + length);
        buffer->swap(copy);
    } catch (const std::bad_alloc&) {
        return CKR_HOST_MEMORY;
    } catch (const std::length_error&) {
        return CKR_HOST_MEMORY;
    }
    *bufferLength = length;
    return CKR_OK;
}

CK_RV PKCS11Attribute::CopyFieldsFrom(const PKCS11Attribute& other)
{
    context_ = other.context_;
    setHook_ = other.setHook_;
    getHook_ = other.getHook_;
    minLength_ = other.minLength_;
    maxLength_ = other.maxLength_;
    kind_ = other.kind_;
    type_ = other.type_;
    CK_RV rv = StoreCopy(other.value_.data(), other.length_, 0, ~CK_ULONG(0), &value_, &length_);
    if (rv != CKR_OK) return rv;
    return StoreCopy(other.default_.data(), other.defaultLength_, 0, ~CK_ULONG(0), &default_, &defaultLength_);
}

CK_RV PKCS11Attribute::Clone(PKCS11Attribute** out) const
{
    return CloneAs(*this, out);
}

void PKCS11Attribute::SetHooks(PKCS11Template* context, AttributeSetHook setHook, AttributeGetHook getHook)
{
    context_ = context;
    setHook_ = setHook;
    getHook_ = getHook;
}

void PKCS11Attribute::RebindHookContext(PKCS11Template* context)
{
    if (context_ != nullptr) context_ = context;
}

CK_RV PKCS11Attribute::SetValue(const void* bytes, CK_ULONG length)
{
    return StoreCopy(bytes, length, minLength_, maxLength_, &value_, &length_);
}

CK_RV PKCS11Attribute::SetValueChecked(const void* bytes, CK_ULONG length)
{
    if (setHook_ != nullptr) {
        const CK_RV rv = setHook_(context_, this, bytes, length);
        if (rv != CKR_OK) return rv;
    }
    return SetValue(bytes, length);
}

CK_RV PKCS11Attribute::GetAttributeValue(void* pValue, CK_ULONG* pulValueLen)
{
    if (pulValueLen == nullptr) return CKR_ARGUMENTS_BAD;
    if (getHook_ != nullptr) {
        const CK_RV rv = getHook_(context_, this);
        if (rv != CKR_OK) {
            *pulValueLen = CK_UNAVAILABLE_INFORMATION;
            return rv;
        }
    }
    if (pValue == nullptr) {
        *pulValueLen = length_;
        return CKR_OK;
    }
    if (*pulValueLen < length_) {
        *pulValueLen = CK_UNAVAILABLE_INFORMATION;
        return CKR_BUFFER_TOO_SMALL;
    }
    if (length_ != 0) std::memcpy(pValue, value_.data(), length_);
    *pulValueLen = length_;
    return CKR_OK;
}

CK_RV PKCS11Attribute::SetDefaultValue(const void* bytes, CK_ULONG length)
{
    return StoreCopy(bytes, length, minLength_, maxLength_, &default_, &defaultLength_);
}

CK_RV PKCS11Attribute::ResetToDefault()
{
    return SetValue(default_.data(), defaultLength_);
}

bool PKCS11Attribute::IsDefault() const
{
    return length_ == defaultLength_ && (length_ == 0 || std::memcmp(value_.data(), default_.data(), length_) == 0);
}

bool PKCS11Attribute::Equals(const PKCS11Attribute& other) const
{
    return type_ == other.type_ && GetLength() == other.GetLength() && CompareValue(other);
}

bool PKCS11Attribute::CompareValue(const PKCS11Attribute& other) const
{
    if (length_ == 0) return true;
    return other.length_ == length_ && std::memcmp(value_.data(), other.value_.data(), length_) == 0;
}

CK_RV PKCS11Attribute::GetStoredLength(CK_ULONG* out) const
{
    *out = length_;
    return CKR_OK;
}

CK_RV PKCS11Attribute::WriteStoredValue(std::uint8_t* dst, CK_ULONG length) const
{
    if (length != length_) return CKR_ATTRIBUTE_VALUE_INVALID;
    if (length != 0) std::memcpy(dst, value_.data(), length);
    return CKR_OK;
}

CK_RV PKCS11Attribute::ReadStoredValue(const std::uint8_t* src, CK_ULONG length, unsigned)
{
    return SetValue(src, length);
}

CK_RV PKCS11Attribute::Serialize(std::uint8_t* out, CK_ULONG* pulLen) const
{
    if (pulLen == nullptr) return CKR_ARGUMENTS_BAD;
    CK_ULONG stored = 0;
    CK_RV rv = GetStoredLength(&stored);
    if (rv != CKR_OK) return rv;
    if (stored == 0) {
        *pulLen = 0;
        return CKR_OK;
    }
    // The record's fields are 32-bit: a type or a value that does not fit
    // cannot be kept on the key.
    if (type_ > 0xFFFFFFFFu || stored > 0xFFFFFFFFu - 8) return CKR_ATTRIBUTE_VALUE_INVALID;
    CK_ULONG fixed = 0;
    CK_ULONG header = 8;
    if (FixedValueLength(type_, &fixed)) {
        if (stored != fixed) return CKR_ATTRIBUTE_VALUE_INVALID;
        header = 4;
    }
    const CK_ULONG total = header + stored;
    if (out == nullptr) {
        *pulLen = total;
        return CKR_OK;
    }
    if (*pulLen < total) {
        *pulLen = total;
        return CKR_BUFFER_TOO_SMALL;
    }
    *pulLen = total;
    StoreBE32(out, static_cast<std::uint32_t>(type_));
    if (header == 8) StoreBE32(out + 4, static_cast<std::uint32_t>(stored));
    return WriteStoredValue(out + header, stored);
}

CK_RV PKCS11Attribute::Deserialize(const std::uint8_t* bytes, CK_ULONG length, CK_ULONG* consumed, unsigned depth)
{
    if (length == 0 || bytes == nullptr || consumed == nullptr) return CKR_ARGUMENTS_BAD;
    CK_ATTRIBUTE_TYPE type = 0;
    const std::uint8_t* value = nullptr;
    CK_ULONG valueLength = 0;
    CK_ULONG recordLength = 0;
    const CK_RV rv = ParseSerializedAttribute(bytes, length, &type, &value, &valueLength, &recordLength);
    if (rv != CKR_OK) return rv;
    if (type != type_) return CKR_ATTRIBUTE_TYPE_INVALID;
    const CK_RV read = ReadStoredValue(value, valueLength, depth);
    if (read != CKR_OK) return read;
    *consumed = recordLength;
    return CKR_OK;
}

// ---- Boolean ----

PKCS11BooleanAttribute::PKCS11BooleanAttribute(CK_ATTRIBUTE_TYPE type) : PKCS11Attribute(type)
{
    kind_ = ATTR_KIND_BOOLEAN;
    minLength_ = maxLength_ = sizeof(CK_BBOOL);
}

CK_RV PKCS11BooleanAttribute::Clone(PKCS11Attribute** out) const
{
    return CloneAs(*this, out);
}

CK_RV PKCS11BooleanAttribute::SetBool(bool value, bool asDefault)
{
    const CK_BBOOL byte = value ? CK_TRUE : CK_FALSE;
    return asDefault ? SetDefaultValue(&byte, 1) : SetValue(&byte, 1);
}

CK_RV PKCS11BooleanAttribute::GetBool(bool* out) const
{
    if (length_ == 0) return CKR_ATTRIBUTE_VALUE_INVALID;
    *out = value_[0] != 0;
    return CKR_OK;
}

bool PKCS11BooleanAttribute::SameTruth(const PKCS11BooleanAttribute& other) const
{
    if (length_ == 0) return true;
    return other.length_ != 0 && (value_[0] != 0) == (other.value_[0] != 0);
}

// ---- Integer ----

PKCS11IntegerAttribute::PKCS11IntegerAttribute(CK_ATTRIBUTE_TYPE type) : PKCS11Attribute(type)
{
    kind_ = ATTR_KIND_INTEGER;
    minLength_ = maxLength_ = sizeof(CK_ULONG);
}

CK_RV PKCS11IntegerAttribute::Clone(PKCS11Attribute** out) const
{
    return CloneAs(*this, out);
}

CK_RV PKCS11IntegerAttribute::SetInteger(CK_ULONG value, bool asDefault)
{
    return asDefault ? SetDefaultValue(&value, sizeof(value)) : SetValue(&value, sizeof(value));
}

CK_RV PKCS11IntegerAttribute::GetInteger(CK_ULONG* out) const
{
    if (length_ != sizeof(CK_ULONG)) return CKR_ATTRIBUTE_VALUE_INVALID;
    std::memcpy(out, value_.data(), sizeof(CK_ULONG));
    return CKR_OK;
}

CK_RV PKCS11IntegerAttribute::GetStoredLength(CK_ULONG* out) const
{
    if (length_ == 0) {
        *out = 0;
        return CKR_OK;
    }
    if (length_ != sizeof(CK_ULONG)) return CKR_ATTRIBUTE_VALUE_INVALID;
    *out = kStoredWord;
    return CKR_OK;
}

CK_RV PKCS11IntegerAttribute::WriteStoredValue(std::uint8_t* dst, CK_ULONG length) const
{
    if (length == 0 && length_ == 0) return CKR_OK;
    CK_ULONG value = 0;
    if (length != kStoredWord || GetInteger(&value) != CKR_OK) return CKR_ATTRIBUTE_VALUE_INVALID;
    if (value > 0xFFFFFFFFu) return CKR_ATTRIBUTE_VALUE_INVALID;  // the key keeps 4 bytes
    StoreBE32(dst, static_cast<std::uint32_t>(value));
    return CKR_OK;
}

CK_RV PKCS11IntegerAttribute::ReadStoredValue(const std::uint8_t* src, CK_ULONG length, unsigned)
{
    if (length == 0) return SetValue(nullptr, 0);
    if (length != kStoredWord) return CKR_DEVICE_MEMORY;
    return SetInteger(LoadBE32(src), false);
}

// ---- Date ----

PKCS11DateAttribute::PKCS11DateAttribute(CK_ATTRIBUTE_TYPE type) : PKCS11Attribute(type)
{
    kind_ = ATTR_KIND_DATE;
    minLength_ = maxLength_ = kDateBytes;
}

CK_RV PKCS11DateAttribute::Clone(PKCS11Attribute** out) const
{
    return CloneAs(*this, out);
}

CK_RV PKCS11DateAttribute::SetDate(const CK_DATE& date)
{
    return SetValue(&date, sizeof(date));
}

CK_RV PKCS11DateAttribute::GetDate(CK_DATE* out) const
{
    if (length_ != sizeof(CK_DATE)) return CKR_ATTRIBUTE_VALUE_INVALID;
    std::memcpy(out, value_.data(), sizeof(CK_DATE));
    return CKR_OK;
}

CK_RV PKCS11DateAttribute::GetStoredLength(CK_ULONG* out) const
{
    if (length_ != 0 && length_ != kDateBytes) return CKR_ATTRIBUTE_VALUE_INVALID;
    *out = length_;
    return CKR_OK;
}

CK_RV PKCS11DateAttribute::WriteStoredValue(std::uint8_t* dst, CK_ULONG length) const
{
    if (length != length_) return CKR_ATTRIBUTE_VALUE_INVALID;
    if (length != 0) std::memcpy(dst, value_.data(), length);
    return CKR_OK;
}

CK_RV PKCS11DateAttribute::ReadStoredValue(const std::uint8_t* src, CK_ULONG length, unsigned)
{
    if (length == 0) return SetValue(nullptr, 0);
    if (length != kDateBytes) return CKR_DEVICE_MEMORY;
    return SetValue(src, length);
}

// ---- IntegerArray ----

PKCS11IntegerArrayAttribute::PKCS11IntegerArrayAttribute(CK_ATTRIBUTE_TYPE type) : PKCS11Attribute(type)
{
    kind_ = ATTR_KIND_INTEGER_ARRAY;
}

CK_RV PKCS11IntegerArrayAttribute::Clone(PKCS11Attribute** out) const
{
    return CloneAs(*this, out);
}

bool PKCS11IntegerArrayAttribute::CompareValue(const PKCS11Attribute& other) const
{
    if (length_ < sizeof(CK_ULONG)) return true;
    const CK_ULONG count = length_ / sizeof(CK_ULONG);
    const CK_ULONG otherCount = other.GetLength() / sizeof(CK_ULONG);
    for (CK_ULONG i = 0; i < count; ++i) {
        CK_ULONG mine = 0;
        std::memcpy(&mine, value_.data() + i * sizeof(CK_ULONG), sizeof(CK_ULONG));
        bool found = false;
        for (CK_ULONG j = 0; j < otherCount && !found; ++j) {
            CK_ULONG theirs = 0;
            std::memcpy(&theirs, other.GetValue() + j * sizeof(CK_ULONG), sizeof(CK_ULONG));
            found = mine == theirs;
        }
        if (!found) return false;
    }
    return true;
}

CK_RV PKCS11IntegerArrayAttribute::GetStoredLength(CK_ULONG* out) const
{
    if (length_ % sizeof(CK_ULONG) != 0) return CKR_ATTRIBUTE_VALUE_INVALID;
    *out = length_ / sizeof(CK_ULONG) * kStoredWord;
    return CKR_OK;
}

CK_RV PKCS11IntegerArrayAttribute::WriteStoredValue(std::uint8_t* dst, CK_ULONG length) const
{
    CK_ULONG expected = 0;
    if (GetStoredLength(&expected) != CKR_OK || length != expected) return CKR_ATTRIBUTE_VALUE_INVALID;
    for (CK_ULONG i = 0; i < length / kStoredWord; ++i) {
        CK_ULONG element = 0;
        std::memcpy(&element, value_.data() + i * sizeof(CK_ULONG), sizeof(CK_ULONG));
        if (element > 0xFFFFFFFFu) return CKR_ATTRIBUTE_VALUE_INVALID;
        StoreBE32(dst + i * kStoredWord, static_cast<std::uint32_t>(element));
    }
    return CKR_OK;
}

CK_RV PKCS11IntegerArrayAttribute::ReadStoredValue(const std::uint8_t* src, CK_ULONG length, unsigned)
{
    if (length % kStoredWord != 0) return CKR_DEVICE_MEMORY;
    if (length == 0) return SetValue(nullptr, 0);
    const CK_ULONG count = length / kStoredWord;
    auto* elements = new (std::nothrow) CK_ULONG[count];
    if (elements == nullptr) return CKR_HOST_MEMORY;
    for (CK_ULONG i = 0; i < count; ++i) elements[i] = LoadBE32(src + i * kStoredWord);
    const CK_RV rv = SetValue(elements, count * sizeof(CK_ULONG));
    delete[] elements;
    return rv;
}

// ---- ECParams ----

PKCS11ECParamsAttribute::PKCS11ECParamsAttribute(CK_ATTRIBUTE_TYPE type) : PKCS11Attribute(type)
{
    kind_ = ATTR_KIND_EC_PARAMS;
}

CK_RV PKCS11ECParamsAttribute::Clone(PKCS11Attribute** out) const
{
    return CloneAs(*this, out);
}

CK_RV PKCS11ECParamsAttribute::SetCurve(std::uint32_t curve, std::uint32_t sBox)
{
    CK_ATTRIBUTE made{};
    if (!MakeStandardECParamsAttribute(curve, sBox, &made)) return CKR_GENERAL_ERROR;
    const CK_RV rv = SetValue(made.pValue, made.ulValueLen);
    FreeAttributeValue(&made);
    return rv;
}

bool PKCS11ECParamsAttribute::CompareValue(const PKCS11Attribute& other) const
{
    if (length_ != 0 && SameECParams(value_.data(), length_, other.GetValue(), other.GetLength())) return true;
    return PKCS11Attribute::CompareValue(other);
}

CK_RV PKCS11ECParamsAttribute::GetStoredLength(CK_ULONG* out) const
{
    std::uint32_t curve = 0, sBox = 0;
    *out = length_ != 0 && ECParamsToStandardIndexes(value_.data(), length_, &curve, &sBox) ? 2 * kStoredWord : length_;
    return CKR_OK;
}

CK_RV PKCS11ECParamsAttribute::WriteStoredValue(std::uint8_t* dst, CK_ULONG length) const
{
    std::uint32_t curve = 0, sBox = 0;
    if (length_ != 0 && ECParamsToStandardIndexes(value_.data(), length_, &curve, &sBox)) {
        if (length != 2 * kStoredWord) return CKR_ATTRIBUTE_VALUE_INVALID;
        StoreBE32(dst, curve);
        StoreBE32(dst + kStoredWord, sBox);
        return CKR_OK;
    }
    return PKCS11Attribute::WriteStoredValue(dst, length);
}

CK_RV PKCS11ECParamsAttribute::ReadStoredValue(const std::uint8_t* src, CK_ULONG length, unsigned)
{
    if (length == 2 * kStoredWord) {
        const std::uint32_t curve = LoadBE32(src);
        const std::uint32_t sBox = LoadBE32(src + kStoredWord);
        if (AreStandardIndexesValid(curve, sBox)) return SetCurve(curve, sBox);
    }
    return SetValue(src, length);
}

// ---- Template ----

PKCS11TemplateAttribute::PKCS11TemplateAttribute(CK_ATTRIBUTE_TYPE type) : PKCS11Attribute(type)
{
    kind_ = ATTR_KIND_TEMPLATE;
}

PKCS11TemplateAttribute::~PKCS11TemplateAttribute()
{
    if (nested_ != nullptr) nested_->Release();
}

CK_RV PKCS11TemplateAttribute::Clone(PKCS11Attribute** out) const
{
    if (out == nullptr) return CKR_ARGUMENTS_BAD;
    auto* copy = new (std::nothrow) PKCS11TemplateAttribute(type_);
    if (copy == nullptr) return CKR_HOST_MEMORY;
    CK_RV rv = copy->CopyFieldsFrom(*this);
    if (rv == CKR_OK) rv = copy->SetNestedTemplate(nested_);
    if (rv != CKR_OK) {
        copy->Release();
        return rv;
    }
    *out = copy;
    return CKR_OK;
}

CK_RV PKCS11TemplateAttribute::SetNestedTemplate(const PKCS11Template* nested)
{
    PKCS11Template* copy = nullptr;
    if (nested != nullptr) {
        const CK_RV rv = nested->Clone(&copy);
        if (rv != CKR_OK) return rv;
    }
    if (nested_ != nullptr) nested_->Release();
    nested_ = copy;
    return CKR_OK;
}

CK_RV PKCS11TemplateAttribute::SetValue(const void* bytes, CK_ULONG length)
{
    if (length % sizeof(CK_ATTRIBUTE) != 0) return CKR_ATTRIBUTE_VALUE_INVALID;
    if (length != 0 && bytes == nullptr) return CKR_ARGUMENTS_BAD;
    auto* made = new (std::nothrow) PKCS11Template();
    if (made == nullptr) return CKR_HOST_MEMORY;
    if (length != 0) {
        const CK_RV rv = made->SetAttributes(static_cast<const CK_ATTRIBUTE*>(bytes), length / sizeof(CK_ATTRIBUTE));
        if (rv != CKR_OK) {
            made->Release();
            return rv;
        }
    }
    if (nested_ != nullptr) nested_->Release();
    nested_ = made;
    return CKR_OK;
}

bool PKCS11TemplateAttribute::IsEmpty() const
{
    return nested_ == nullptr || nested_->GetCount() == 0;
}

CK_RV PKCS11TemplateAttribute::GetAttributeValue(void* pValue, CK_ULONG* pulValueLen)
{
    if (pulValueLen == nullptr) return CKR_ARGUMENTS_BAD;
    if (pValue == nullptr) {
        *pulValueLen = IsEmpty() ? 0 : nested_->GetCount() * sizeof(CK_ATTRIBUTE);
        return CKR_OK;
    }
    auto* entries = static_cast<CK_ATTRIBUTE*>(pValue);
    const CK_ULONG count = *pulValueLen / sizeof(CK_ATTRIBUTE);
    if (IsEmpty()) {
        for (CK_ULONG i = 0; i < count; ++i) entries[i].ulValueLen = CK_UNAVAILABLE_INFORMATION;
        return *pulValueLen == 0 ? CKR_OK : CKR_ATTRIBUTE_TYPE_INVALID;
    }
    return nested_->GetAttributeValues(entries, count);
}

bool PKCS11TemplateAttribute::CompareValue(const PKCS11Attribute& other) const
{
    const auto* that = dynamic_cast<const PKCS11TemplateAttribute*>(&other);
    const bool otherEmpty = that == nullptr || that->IsEmpty();
    if (IsEmpty() && otherEmpty) return true;
    if (nested_ == nullptr) return false;
    if (otherEmpty) return true;
    return nested_->ContainsTemplate(*that->nested_);
}

CK_RV PKCS11TemplateAttribute::GetStoredLength(CK_ULONG* out) const
{
    if (IsEmpty()) {
        *out = 0;
        return CKR_OK;
    }
    return nested_->Serialize(nullptr, out);
}

CK_RV PKCS11TemplateAttribute::WriteStoredValue(std::uint8_t* dst, CK_ULONG length) const
{
    if ((length != 0) != (nested_ != nullptr)) return CKR_ATTRIBUTE_VALUE_INVALID;
    if (length == 0) return CKR_OK;
    CK_ULONG written = length;
    const CK_RV rv = nested_->Serialize(dst, &written);
    if (rv != CKR_OK || written != length) return CKR_ATTRIBUTE_VALUE_INVALID;
    return CKR_OK;
}

CK_RV PKCS11TemplateAttribute::ReadStoredValue(const std::uint8_t* src, CK_ULONG length, unsigned depth)
{
    if (nested_ != nullptr) {
        nested_->Release();
        nested_ = nullptr;
    }
    if (length == 0) return CKR_OK;
    // Storage read from the key could nest without end.
    if (depth >= MAX_NESTED_TEMPLATE_DEPTH) return CKR_DEVICE_MEMORY;
    nested_ = new (std::nothrow) PKCS11Template();
    if (nested_ == nullptr) return CKR_HOST_MEMORY;
    CK_ULONG offset = 0;
    while (offset < length) {
        CK_ATTRIBUTE entry{};
        CK_ULONG used = 0;
        CK_RV rv = DeserializeToCkAttribute(src + offset, length - offset, &entry, &used, depth + 1);
        if (rv != CKR_OK) return rv;
        rv = nested_->SetAttributes(&entry, 1);
        if (KindOfAttributeType(entry.type) == ATTR_KIND_TEMPLATE)
            FreeCkAttributeArray(static_cast<CK_ATTRIBUTE*>(entry.pValue), entry.ulValueLen / sizeof(CK_ATTRIBUTE));
        else
            FreeAttributeValue(&entry);
        if (rv != CKR_OK) return rv;
        offset += used;
    }
    return CKR_OK;
}

// ---- Free functions ----

AttributeKind KindOfAttributeType(CK_ATTRIBUTE_TYPE type)
{
    switch (type) {
    case CKA_CLASS:
    case CKA_CERTIFICATE_TYPE:
    case CKA_CERTIFICATE_CATEGORY:
    case CKA_JAVA_MIDP_SECURITY_DOMAIN:
    case CKA_KEY_TYPE:
    case CKA_MODULUS_BITS:
    case CKA_PRIME_BITS:
    case CKA_SUB_PRIME_BITS:
    case CKA_VALUE_BITS:
    case CKA_VALUE_LEN:
    case CKA_KEY_GEN_MECHANISM:
    case CKA_VENDOR_OBJECT_HANDLE:
        return ATTR_KIND_INTEGER;
    case CKA_TOKEN:
    case CKA_PRIVATE:
    case CKA_TRUSTED:
    case CKA_SENSITIVE:
    case CKA_ENCRYPT:
    case CKA_DECRYPT:
    case CKA_WRAP:
    case CKA_UNWRAP:
    case CKA_SIGN:
    case CKA_SIGN_RECOVER:
    case CKA_VERIFY:
    case CKA_VERIFY_RECOVER:
    case CKA_DERIVE:
    case CKA_EXTRACTABLE:
    case CKA_LOCAL:
    case CKA_NEVER_EXTRACTABLE:
    case CKA_ALWAYS_SENSITIVE:
    case CKA_MODIFIABLE:
    case CKA_COPYABLE:
    case CKA_WRAP_WITH_TRUSTED:
        return ATTR_KIND_BOOLEAN;
    case CKA_START_DATE:
    case CKA_END_DATE:
        return ATTR_KIND_DATE;
    case CKA_ALLOWED_MECHANISMS:
        return ATTR_KIND_INTEGER_ARRAY;
    case CKA_WRAP_TEMPLATE:
    case CKA_UNWRAP_TEMPLATE:
        return ATTR_KIND_TEMPLATE;
    case CKA_EC_PARAMS:
        return ATTR_KIND_EC_PARAMS;
    default:
        return ATTR_KIND_BYTES;
    }
}

bool FixedValueLength(CK_ATTRIBUTE_TYPE type, CK_ULONG* length)
{
    switch (KindOfAttributeType(type)) {
    case ATTR_KIND_BOOLEAN:
        *length = 1;
        return true;
    case ATTR_KIND_INTEGER:
        *length = kStoredWord;
        return true;
    case ATTR_KIND_DATE:
        *length = kDateBytes;
        return true;
    default:
        return false;
    }
}

CK_RV CreateAttributeForType(CK_ATTRIBUTE_TYPE type, PKCS11Attribute** out)
{
    if (out == nullptr) return CKR_ARGUMENTS_BAD;
    PKCS11Attribute* made = nullptr;
    switch (KindOfAttributeType(type)) {
    case ATTR_KIND_BOOLEAN:
        made = new (std::nothrow) PKCS11BooleanAttribute(type);
        break;
    case ATTR_KIND_INTEGER:
        made = new (std::nothrow) PKCS11IntegerAttribute(type);
        break;
    case ATTR_KIND_DATE:
        made = new (std::nothrow) PKCS11DateAttribute(type);
        break;
    case ATTR_KIND_INTEGER_ARRAY:
        made = new (std::nothrow) PKCS11IntegerArrayAttribute(type);
        break;
    case ATTR_KIND_TEMPLATE:
        made = new (std::nothrow) PKCS11TemplateAttribute(type);
        break;
    case ATTR_KIND_EC_PARAMS:
        made = new (std::nothrow) PKCS11ECParamsAttribute(type);
        break;
    default:
        made = new (std::nothrow) PKCS11Attribute(type);
        break;
    }
    if (made == nullptr) return CKR_HOST_MEMORY;
    *out = made;
    return CKR_OK;
}

CK_RV ParseSerializedAttribute(const std::uint8_t* bytes, CK_ULONG length, CK_ATTRIBUTE_TYPE* type,
                               const std::uint8_t** value, CK_ULONG* valueLength, CK_ULONG* recordLength)
{
    if (bytes == nullptr && length != 0) return CKR_ARGUMENTS_BAD;
    if (length < 4) return CKR_DEVICE_MEMORY;
    const CK_ATTRIBUTE_TYPE t = LoadBE32(bytes);
    CK_ULONG n = 0;
    CK_ULONG header = 4;
    if (!FixedValueLength(t, &n)) {
        if (length < 8) return CKR_DEVICE_MEMORY;
        n = LoadBE32(bytes + 4);
        header = 8;
    }
    // Compared with what remains, so a huge n from the key cannot wrap.
    if (n > length - header) return CKR_DEVICE_MEMORY;
    *type = t;
    *value = bytes + header;
    *valueLength = n;
    *recordLength = header + n;
    return CKR_OK;
}

CK_RV DeserializeAttribute(const std::uint8_t* bytes, CK_ULONG length, PKCS11Attribute** out, CK_ULONG* consumed,
                           unsigned depth)
{
    if (bytes == nullptr || length == 0 || out == nullptr || consumed == nullptr) return CKR_ARGUMENTS_BAD;
    if (length < 4) return CKR_DEVICE_MEMORY;
    PKCS11Attribute* made = nullptr;
    CK_RV rv = CreateAttributeForType(LoadBE32(bytes), &made);
    if (rv != CKR_OK) return rv;
    rv = made->Deserialize(bytes, length, consumed, depth);
    if (rv != CKR_OK) {
        made->Release();
        return rv;
    }
    *out = made;
    return CKR_OK;
}

CK_RV DeserializeToCkAttribute(const std::uint8_t* bytes, CK_ULONG length, CK_ATTRIBUTE* out, CK_ULONG* consumed,
                               unsigned depth)
{
    if (out == nullptr) return CKR_ARGUMENTS_BAD;
    PKCS11Attribute* attribute = nullptr;
    CK_RV rv = DeserializeAttribute(bytes, length, &attribute, consumed, depth);
    if (rv != CKR_OK) return rv;
    CK_ATTRIBUTE entry{attribute->GetType(), nullptr, 0};
    if (attribute->GetKind() == ATTR_KIND_TEMPLATE) {
        auto* holder = static_cast<PKCS11TemplateAttribute*>(attribute);
        CK_ATTRIBUTE* nested = nullptr;
        CK_ULONG count = 0;
        if (!holder->IsEmpty()) rv = holder->GetNestedTemplate()->ToCkAttributeArray(&nested, &count);
        entry.pValue = nested;
        entry.ulValueLen = count * sizeof(CK_ATTRIBUTE);
    } else if (attribute->GetLength() != 0) {
        auto* copy = new (std::nothrow) std::uint8_t[attribute->GetLength()];
        if (copy == nullptr) {
            rv = CKR_HOST_MEMORY;
        } else {
            std::memcpy(copy, attribute->GetValue(), attribute->GetLength());
            entry.pValue = copy;
            entry.ulValueLen = attribute->GetLength();
        }
    }
    attribute->Release();
    if (rv == CKR_OK) *out = entry;
    return rv;
}

CK_ULONG FreeAttributeValue(CK_ATTRIBUTE* attribute)
{
    if (attribute == nullptr) return 0;
    const CK_ULONG length = attribute->ulValueLen;
    // An empty value may still have its buffer (the makers allocate a byte).
    // These temporaries carry key values and PINs too: wiped before release.
    qvkcrypto::SecureWipe(attribute->pValue, length);
    delete[] static_cast<std::uint8_t*>(attribute->pValue);
    attribute->pValue = nullptr;
    return length;
}

// ---- Hooks ----

namespace {

// The one-way Boolean rules: `allowedFrom` is the current value from which
// any change is accepted; from the other value the new one must be equal.
CK_RV OneWayBoolean(PKCS11Attribute* attribute, const void* value, CK_ULONG length, bool allowedFrom)
{
    if (attribute->GetKind() != ATTR_KIND_BOOLEAN) return CKR_ATTRIBUTE_VALUE_INVALID;
    if (attribute->IsEmpty() || length == 0) return CKR_OK;
    const bool current = attribute->GetValue()[0] != 0;
    if (current == allowedFrom) return CKR_OK;
    if (value == nullptr) return CKR_ARGUMENTS_BAD;
    const bool wanted = static_cast<const std::uint8_t*>(value)[0] != 0;
    return wanted == current ? CKR_OK : CKR_ATTRIBUTE_READ_ONLY;
}

CK_RV ReadNewBool(const void* value, CK_ULONG length, bool* out)
{
    PKCS11BooleanAttribute probe;
    const CK_RV rv = probe.SetValue(value, length);
    if (rv != CKR_OK) return rv;
    return probe.GetBool(out);
}

CK_RV ClearOwnerFlag(PKCS11Template* owner, CK_ATTRIBUTE_TYPE type)
{
    if (owner == nullptr) return CKR_OK;
    CK_BBOOL no = CK_FALSE;
    CK_ATTRIBUTE entry{type, &no, sizeof(no)};
    return owner->ApplyTemplate(&entry, 1, false);
}

}  // namespace

CK_RV FixedOnceSetHook(PKCS11Template*, PKCS11Attribute* attribute, const void* value, CK_ULONG length)
{
    if (attribute->IsEmpty()) return CKR_OK;
    PKCS11Attribute* probe = nullptr;
    CK_RV rv = attribute->Clone(&probe);
    if (rv != CKR_OK) return rv;
    rv = probe->SetValue(value, length);
    if (rv == CKR_OK && !attribute->Equals(*probe)) rv = CKR_TEMPLATE_INCONSISTENT;
    probe->Release();
    return rv;
}

CK_RV ReadOnlyHook(PKCS11Template*, PKCS11Attribute*, const void*, CK_ULONG)
{
    return CKR_ATTRIBUTE_READ_ONLY;
}

CK_RV OnlyTrueToFalseHook(PKCS11Template*, PKCS11Attribute* attribute, const void* value, CK_ULONG length)
{
    return OneWayBoolean(attribute, value, length, true);
}

CK_RV OnlyFalseToTrueHook(PKCS11Template*, PKCS11Attribute* attribute, const void* value, CK_ULONG length)
{
    return OneWayBoolean(attribute, value, length, false);
}

CK_RV SensitiveHook(PKCS11Template* owner, PKCS11Attribute* attribute, const void* value, CK_ULONG length)
{
    CK_RV rv = OneWayBoolean(attribute, value, length, false);
    if (rv != CKR_OK) return rv;
    bool wanted = false;
    rv = ReadNewBool(value, length, &wanted);
    if (rv != CKR_OK) return rv;
    return wanted ? CKR_OK : ClearOwnerFlag(owner, CKA_ALWAYS_SENSITIVE);
}

CK_RV ExtractableHook(PKCS11Template* owner, PKCS11Attribute* attribute, const void* value, CK_ULONG length)
{
    CK_RV rv = OneWayBoolean(attribute, value, length, true);
    if (rv != CKR_OK) return rv;
    bool wanted = false;
    rv = ReadNewBool(value, length, &wanted);
    if (rv != CKR_OK) return rv;
    return wanted ? ClearOwnerFlag(owner, CKA_NEVER_EXTRACTABLE) : CKR_OK;
}

CK_RV SecretValueGetHook(PKCS11Template* owner, PKCS11Attribute*)
{
    if (owner == nullptr) return CKR_OK;
    CK_BBOOL sensitive = CK_FALSE;
    CK_BBOOL extractable = CK_TRUE;
    CK_ATTRIBUTE one{CKA_SENSITIVE, &sensitive, 1};
    CK_RV rv = owner->GetAttributeValues(&one, 1);
    if (rv != CKR_OK && rv != CKR_ATTRIBUTE_TYPE_INVALID) return rv;
    if (rv != CKR_OK || one.ulValueLen != 1) sensitive = CK_FALSE;
    CK_ATTRIBUTE two{CKA_EXTRACTABLE, &extractable, 1};
    rv = owner->GetAttributeValues(&two, 1);
    if (rv != CKR_OK && rv != CKR_ATTRIBUTE_TYPE_INVALID) return rv;
    if (rv != CKR_OK || two.ulValueLen != 1) extractable = CK_TRUE;
    return sensitive != CK_FALSE || extractable == CK_FALSE ? CKR_ATTRIBUTE_SENSITIVE : CKR_OK;
}
