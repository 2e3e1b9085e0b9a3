// An ordered list of attributes, one per type: what every object, search
// pattern and nested wrap/unwrap template is made of. It applies caller
// CK_ATTRIBUTE arrays under the PKCS#11 creation and modification rules,
// answers C_GetAttributeValue, matches C_FindObjects patterns and turns
// itself into the stored form kept on the key (the attributes' records one
// after another, leaving out hidden items, empty optional ones and values
// equal to their defaults).
#ifndef QVK_PKCS11_PKCS11TEMPLATE_H
#define QVK_PKCS11_PKCS11TEMPLATE_H

#include <cstdint>

#include "pkcs11/PKCS11Attribute.h"
#include "pkcs11/pkcs11ua.h"

enum : std::uint32_t {
    ITEM_COPY = 0x1,      // AddAttribute stores a clone; never kept
    ITEM_OPTIONAL = 0x2,  // may be empty, and an empty one is not stored
    ITEM_HIDDEN = 0x4     // not stored and no search criterion
};

class PKCS11Template {
public:
    PKCS11Template() = default;
    PKCS11Template(const PKCS11Template&) = delete;
    PKCS11Template& operator=(const PKCS11Template&) = delete;
    virtual ~PKCS11Template();

    void Release() { delete this; }
    virtual CK_RV Clone(PKCS11Template** out) const;
    virtual CK_RV ApplyNewObjectTemplate(const CK_ATTRIBUTE* entries, CK_ULONG count, bool useHooks);
    virtual CK_RV ApplyTemplate(const CK_ATTRIBUTE* entries, CK_ULONG count, bool useHooks);
    virtual CK_RV CopyFrom(const PKCS11Template& other, bool useHooks);
    virtual CK_RV GetAttributeValues(CK_ATTRIBUTE* entries, CK_ULONG count);
    virtual bool IsEmpty() const { return count_ == 0; }
    virtual bool Matches(const CK_ATTRIBUTE* pattern, CK_ULONG count) const;
    virtual bool ContainsTemplate(const PKCS11Template& other) const;
    virtual bool AttributeEquals(CK_ATTRIBUTE_TYPE type, const PKCS11Template& other) const;
    virtual CK_RV ReconcileAttribute(CK_ATTRIBUTE_TYPE type, PKCS11Template& other);
    virtual CK_RV SetAttributes(const CK_ATTRIBUTE* entries, CK_ULONG count);
    virtual CK_RV Serialize(std::uint8_t* out, CK_ULONG* pulLen) const;
    virtual CK_RV DeserializeInOrder(const std::uint8_t* bytes, CK_ULONG length, CK_ULONG* consumed);
    virtual CK_ULONG GetCount() const { return count_; }
    virtual void SetShowHidden(std::uint32_t value) { showHidden_ = value; }

    bool FindIndex(CK_ATTRIBUTE_TYPE type, CK_ULONG* index) const;
    bool GetItem(CK_ULONG index, PKCS11Attribute** attribute, std::uint32_t* flags) const;
    PKCS11Attribute* FindAttribute(CK_ATTRIBUTE_TYPE type) const;
    // Takes the attribute (or a clone with ITEM_COPY); false when it cannot.
    bool AddAttribute(PKCS11Attribute* attribute, std::uint32_t flags);
    void RemoveAt(CK_ULONG index);
    void RemoveAll();
    bool IsOptional(CK_ULONG index) const;
    // The stored attributes as a CK_ATTRIBUTE array (FreeCkAttributeArray).
    CK_RV ToCkAttributeArray(CK_ATTRIBUTE** out, CK_ULONG* count) const;

    bool HasValue(CK_ATTRIBUTE_TYPE type) const;
    CK_RV GetBool(CK_ATTRIBUTE_TYPE type, bool* out) const;
    CK_RV GetBoolOr(CK_ATTRIBUTE_TYPE type, bool fallback, bool* out) const;
    CK_RV GetInteger(CK_ATTRIBUTE_TYPE type, CK_ULONG* out) const;
    CK_RV GetBytes(CK_ATTRIBUTE_TYPE type, const std::uint8_t** out, CK_ULONG* length) const;
    CK_RV GetValueOf(CK_ATTRIBUTE_TYPE type, const std::uint8_t** out, CK_ULONG* length) const;
    CK_RV GetNestedTemplateOf(CK_ATTRIBUTE_TYPE type, PKCS11Template** out) const;
    CK_RV SetBoolAttribute(CK_ATTRIBUTE_TYPE type, bool value, bool asDefault);
    CK_RV SetIntegerAttribute(CK_ATTRIBUTE_TYPE type, CK_ULONG value, bool asDefault);
    CK_RV SetAttributeHooks(CK_ATTRIBUTE_TYPE type, AttributeSetHook setHook, AttributeGetHook getHook);

protected:
    // Adds a new attribute of the type's kind (or of the given one).
    PKCS11Attribute* AddNew(CK_ATTRIBUTE_TYPE type, std::uint32_t flags);
    template <typename T>
    T* AddNewOf(CK_ATTRIBUTE_TYPE type, std::uint32_t flags);
    CK_RV Apply(const CK_ATTRIBUTE* entries, CK_ULONG count, bool creationChecks, bool useHooks);
    CK_RV CloneItemsInto(PKCS11Template* copy) const;

private:
    struct Item {
        PKCS11Attribute* attribute;
        std::uint32_t flags;
    };
    Item* items_ = nullptr;
    CK_ULONG count_ = 0;
    CK_ULONG capacity_ = 0;
    std::uint32_t showHidden_ = 0;
};

CK_RV CreateTemplateFromArray(const CK_ATTRIBUTE* entries, CK_ULONG count, PKCS11Template** out);
// The stored form as a CK_ATTRIBUTE array of owned copies (nested arrays for
// the template kinds).
CK_RV ParseSerializedTemplate(const std::uint8_t* bytes, CK_ULONG length, CK_ATTRIBUTE** out, CK_ULONG* count,
                              unsigned depth = 0);
void FreeCkAttributeArray(CK_ATTRIBUTE* entries, CK_ULONG count);

template <typename T>
T* PKCS11Template::AddNewOf(CK_ATTRIBUTE_TYPE type, std::uint32_t flags)
{
    T* made = new T(type);
    if (!AddAttribute(made, flags)) {
        made->Release();
        return nullptr;
    }
    return made;
}

#endif
