// One attribute of an object, template or search pattern: its type, a kind
// chosen from the type, an owned value and default, length limits and two
// optional hooks the owning object installs. The kind decides how values are
// checked, compared and written into the stored form kept on the key (the
// SerializedAttribute record: type, length unless the type has a fixed one,
// value, all big-endian).
//
// In memory Integer values are CK_ULONG; on the key they are 4 bytes, so a
// value above 0xFFFFFFFF cannot be stored. Template values are arrays of the
// platform's CK_ATTRIBUTE.
#ifndef QVK_PKCS11_PKCS11ATTRIBUTE_H
#define QVK_PKCS11_PKCS11ATTRIBUTE_H

#include <cstdint>

#include "crypto/SecureWipe.h"
#include "pkcs11/pkcs11ua.h"

enum AttributeKind : std::uint32_t {
    ATTR_KIND_BYTES = 0,
    ATTR_KIND_BOOLEAN = 1,
    ATTR_KIND_INTEGER = 3,
    ATTR_KIND_DATE = 4,
    ATTR_KIND_INTEGER_ARRAY = 5,
    ATTR_KIND_TEMPLATE = 6,
    ATTR_KIND_EC_PARAMS = 7
};

// Nested templates read from storage deeper than this are refused.
constexpr unsigned MAX_NESTED_TEMPLATE_DEPTH = 4;

class PKCS11Attribute;
class PKCS11Template;

// Hooks get the owning template as their context.
using AttributeSetHook = CK_RV (*)(PKCS11Template* owner, PKCS11Attribute* attribute, const void* value,
                                   CK_ULONG length);
using AttributeGetHook = CK_RV (*)(PKCS11Template* owner, PKCS11Attribute* attribute);

class PKCS11Attribute {
public:
    PKCS11Attribute();
    explicit PKCS11Attribute(CK_ATTRIBUTE_TYPE type);
    PKCS11Attribute(const PKCS11Attribute&) = delete;
    PKCS11Attribute& operator=(const PKCS11Attribute&) = delete;
    virtual ~PKCS11Attribute();

    void Release() { delete this; }
    virtual CK_RV Clone(PKCS11Attribute** out) const;
    void SetHooks(PKCS11Template* context, AttributeSetHook setHook, AttributeGetHook getHook);
    void RebindHookContext(PKCS11Template* context);
    PKCS11Template* HookContext() const { return context_; }
    void SetMinLength(CK_ULONG n) { minLength_ = n; }
    void SetMaxLength(CK_ULONG n) { maxLength_ = n; }
    void SetType(CK_ATTRIBUTE_TYPE type) { type_ = type; }
    CK_ATTRIBUTE_TYPE GetType() const { return type_; }
    AttributeKind GetKind() const { return kind_; }
    virtual CK_RV SetValue(const void* bytes, CK_ULONG length);
    CK_RV SetValueChecked(const void* bytes, CK_ULONG length);
    const std::uint8_t* GetValue() const { return value_.empty() ? nullptr : value_.data(); }
    CK_ULONG GetLength() const { return length_; }
    virtual bool IsEmpty() const { return length_ == 0; }
    virtual CK_RV GetAttributeValue(void* pValue, CK_ULONG* pulValueLen);
    CK_RV SetDefaultValue(const void* bytes, CK_ULONG length);
    CK_RV ResetToDefault();
    const std::uint8_t* GetDefaultValue() const { return default_.empty() ? nullptr : default_.data(); }
    CK_ULONG GetDefaultLength() const { return defaultLength_; }
    bool HasDefault() const { return defaultLength_ != 0; }
    virtual bool IsDefault() const;
    bool Equals(const PKCS11Attribute& other) const;
    // out NULL: *pulLen := record length.
    CK_RV Serialize(std::uint8_t* out, CK_ULONG* pulLen) const;
    // Reads one record of this attribute's type.
    CK_RV Deserialize(const std::uint8_t* bytes, CK_ULONG length, CK_ULONG* consumed, unsigned depth = 0);
    void SetKind(AttributeKind kind) { kind_ = kind; }
    virtual bool CompareValue(const PKCS11Attribute& other) const;
    virtual CK_RV GetStoredLength(CK_ULONG* out) const;
    virtual CK_RV WriteStoredValue(std::uint8_t* dst, CK_ULONG length) const;
    virtual CK_RV ReadStoredValue(const std::uint8_t* src, CK_ULONG length, unsigned depth);

    // Every field but a nested template (used by Clone).
    CK_RV CopyFieldsFrom(const PKCS11Attribute& other);

protected:
    static CK_RV StoreCopy(const void* bytes, CK_ULONG length, CK_ULONG minLength, CK_ULONG maxLength,
                           qvkcrypto::SecureBytes* buffer, CK_ULONG* bufferLength);

    PKCS11Template* context_ = nullptr;
    AttributeSetHook setHook_ = nullptr;
    AttributeGetHook getHook_ = nullptr;
    CK_ULONG minLength_ = 0;
    CK_ULONG maxLength_ = ~CK_ULONG(0);
    AttributeKind kind_ = ATTR_KIND_BYTES;
    CK_ATTRIBUTE_TYPE type_ = CKA_VENDOR_DEFINED;
    qvkcrypto::SecureBytes value_;
    CK_ULONG length_ = 0;
    qvkcrypto::SecureBytes default_;
    CK_ULONG defaultLength_ = 0;
};

class PKCS11BooleanAttribute : public PKCS11Attribute {
public:
    PKCS11BooleanAttribute() : PKCS11BooleanAttribute(CKA_VENDOR_DEFINED) {}
    explicit PKCS11BooleanAttribute(CK_ATTRIBUTE_TYPE type);
    CK_RV Clone(PKCS11Attribute** out) const override;
    CK_RV SetBool(bool value, bool asDefault);
    CK_RV GetBool(bool* out) const;
    bool SameTruth(const PKCS11BooleanAttribute& other) const;
};

class PKCS11IntegerAttribute : public PKCS11Attribute {
public:
    PKCS11IntegerAttribute() : PKCS11IntegerAttribute(CKA_VENDOR_DEFINED) {}
    explicit PKCS11IntegerAttribute(CK_ATTRIBUTE_TYPE type);
    CK_RV Clone(PKCS11Attribute** out) const override;
    CK_RV SetInteger(CK_ULONG value, bool asDefault);
    CK_RV GetInteger(CK_ULONG* out) const;
    CK_RV GetStoredLength(CK_ULONG* out) const override;
    CK_RV WriteStoredValue(std::uint8_t* dst, CK_ULONG length) const override;
    CK_RV ReadStoredValue(const std::uint8_t* src, CK_ULONG length, unsigned depth) override;
};

class PKCS11DateAttribute : public PKCS11Attribute {
public:
    PKCS11DateAttribute() : PKCS11DateAttribute(CKA_VENDOR_DEFINED) {}
    explicit PKCS11DateAttribute(CK_ATTRIBUTE_TYPE type);
    CK_RV Clone(PKCS11Attribute** out) const override;
    CK_RV SetDate(const CK_DATE& date);
    CK_RV GetDate(CK_DATE* out) const;
    CK_RV GetStoredLength(CK_ULONG* out) const override;
    CK_RV WriteStoredValue(std::uint8_t* dst, CK_ULONG length) const override;
    CK_RV ReadStoredValue(const std::uint8_t* src, CK_ULONG length, unsigned depth) override;
};

class PKCS11IntegerArrayAttribute : public PKCS11Attribute {
public:
    PKCS11IntegerArrayAttribute() : PKCS11IntegerArrayAttribute(CKA_VENDOR_DEFINED) {}
    explicit PKCS11IntegerArrayAttribute(CK_ATTRIBUTE_TYPE type);
    CK_RV Clone(PKCS11Attribute** out) const override;
    bool CompareValue(const PKCS11Attribute& other) const override;
    CK_RV GetStoredLength(CK_ULONG* out) const override;
    CK_RV WriteStoredValue(std::uint8_t* dst, CK_ULONG length) const override;
    CK_RV ReadStoredValue(const std::uint8_t* src, CK_ULONG length, unsigned depth) override;
};

class PKCS11ECParamsAttribute : public PKCS11Attribute {
public:
    PKCS11ECParamsAttribute() : PKCS11ECParamsAttribute(CKA_VENDOR_DEFINED) {}
    explicit PKCS11ECParamsAttribute(CK_ATTRIBUTE_TYPE type);
    CK_RV Clone(PKCS11Attribute** out) const override;
    CK_RV SetCurve(std::uint32_t curve, std::uint32_t sBox);
    bool CompareValue(const PKCS11Attribute& other) const override;
    CK_RV GetStoredLength(CK_ULONG* out) const override;
    CK_RV WriteStoredValue(std::uint8_t* dst, CK_ULONG length) const override;
    CK_RV ReadStoredValue(const std::uint8_t* src, CK_ULONG length, unsigned depth) override;
};

class PKCS11TemplateAttribute : public PKCS11Attribute {
public:
    PKCS11TemplateAttribute() : PKCS11TemplateAttribute(CKA_VENDOR_DEFINED) {}
    explicit PKCS11TemplateAttribute(CK_ATTRIBUTE_TYPE type);
    ~PKCS11TemplateAttribute() override;
    CK_RV Clone(PKCS11Attribute** out) const override;
    // An array of CK_ATTRIBUTE, length a multiple of sizeof(CK_ATTRIBUTE).
    CK_RV SetValue(const void* bytes, CK_ULONG length) override;
    bool IsEmpty() const override;
    // A template value has no default: only an empty one is left out.
    bool IsDefault() const override { return IsEmpty(); }
    CK_RV GetAttributeValue(void* pValue, CK_ULONG* pulValueLen) override;
    bool CompareValue(const PKCS11Attribute& other) const override;
    CK_RV GetStoredLength(CK_ULONG* out) const override;
    CK_RV WriteStoredValue(std::uint8_t* dst, CK_ULONG length) const override;
    CK_RV ReadStoredValue(const std::uint8_t* src, CK_ULONG length, unsigned depth) override;
    PKCS11Template* GetNestedTemplate() const { return nested_; }
    CK_RV SetNestedTemplate(const PKCS11Template* nested);

private:
    PKCS11Template* nested_ = nullptr;
};

AttributeKind KindOfAttributeType(CK_ATTRIBUTE_TYPE type);
bool FixedValueLength(CK_ATTRIBUTE_TYPE type, CK_ULONG* length);
CK_RV CreateAttributeForType(CK_ATTRIBUTE_TYPE type, PKCS11Attribute** out);
// The header of one record, without copying; CKR_DEVICE_MEMORY when the bytes
// do not hold a whole record.
CK_RV ParseSerializedAttribute(const std::uint8_t* bytes, CK_ULONG length, CK_ATTRIBUTE_TYPE* type,
                               const std::uint8_t** value, CK_ULONG* valueLength, CK_ULONG* recordLength);
CK_RV DeserializeAttribute(const std::uint8_t* bytes, CK_ULONG length, PKCS11Attribute** out, CK_ULONG* consumed,
                           unsigned depth = 0);
// The entry's value is a new buffer (free with FreeAttributeValue); for a
// template-kind type a nested CK_ATTRIBUTE array (free with
// FreeCkAttributeArray) whose length is its count times sizeof(CK_ATTRIBUTE).
CK_RV DeserializeToCkAttribute(const std::uint8_t* bytes, CK_ULONG length, CK_ATTRIBUTE* out, CK_ULONG* consumed,
                               unsigned depth = 0);
CK_ULONG FreeAttributeValue(CK_ATTRIBUTE* attribute);

// Standard hooks.
CK_RV FixedOnceSetHook(PKCS11Template* owner, PKCS11Attribute* attribute, const void* value, CK_ULONG length);
CK_RV ReadOnlyHook(PKCS11Template* owner, PKCS11Attribute* attribute, const void* value, CK_ULONG length);
CK_RV OnlyTrueToFalseHook(PKCS11Template* owner, PKCS11Attribute* attribute, const void* value, CK_ULONG length);
CK_RV OnlyFalseToTrueHook(PKCS11Template* owner, PKCS11Attribute* attribute, const void* value, CK_ULONG length);
CK_RV SensitiveHook(PKCS11Template* owner, PKCS11Attribute* attribute, const void* value, CK_ULONG length);
CK_RV ExtractableHook(PKCS11Template* owner, PKCS11Attribute* attribute, const void* value, CK_ULONG length);
CK_RV SecretValueGetHook(PKCS11Template* owner, PKCS11Attribute* attribute);

#endif
