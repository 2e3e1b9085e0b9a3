#include "pkcs11/PKCS11Object.h"

#include <cstring>
#include <new>

namespace {

constexpr std::uint32_t REQ = 0;
constexpr std::uint32_t OPT = ITEM_OPTIONAL;
constexpr std::uint32_t OPT_HIDDEN = ITEM_OPTIONAL | ITEM_HIDDEN;

// Lays out one attribute of the type's kind (CKA_ALWAYS_AUTHENTICATE, which
// the kind table files under bytes, is made Boolean by the caller passing
// `forceBoolean`).
class Layout {
public:
    explicit Layout(PKCS11Template* owner) : owner_(owner) {}

    PKCS11Attribute* Add(CK_ATTRIBUTE_TYPE type, std::uint32_t flags, AttributeSetHook setHook = nullptr,
                         AttributeGetHook getHook = nullptr, bool forceBoolean = false)
    {
        PKCS11Attribute* made = nullptr;
        if (forceBoolean)
            made = new PKCS11BooleanAttribute(type);
        else if (CreateAttributeForType(type, &made) != CKR_OK)
            throw std::bad_alloc();
        if (setHook != nullptr || getHook != nullptr) made->SetHooks(owner_, setHook, getHook);
        if (!owner_->AddAttribute(made, flags)) {
            made->Release();
            throw std::bad_alloc();
        }
        return made;
    }

    void BoolDefault(CK_ATTRIBUTE_TYPE type, bool value, AttributeSetHook hook = nullptr, bool forceBoolean = false)
    {
        static_cast<PKCS11BooleanAttribute*>(Add(type, REQ, hook, nullptr, forceBoolean))->SetBool(value, true);
    }

    void BoolPreset(CK_ATTRIBUTE_TYPE type, bool value, AttributeSetHook hook)
    {
        static_cast<PKCS11BooleanAttribute*>(Add(type, REQ, hook))->SetBool(value, false);
    }

    void IntegerDefault(CK_ATTRIBUTE_TYPE type, std::uint32_t flags, CK_ULONG value, AttributeSetHook hook = nullptr)
    {
        static_cast<PKCS11IntegerAttribute*>(Add(type, flags, hook))->SetInteger(value, true);
    }

private:
    PKCS11Template* owner_;
};

}  // namespace

// ---- Classes ----

PKCS11Object::PKCS11Object()
{
    Layout l(this);
    l.Add(CKA_CLASS, REQ, FixedOnceSetHook);
    l.IntegerDefault(CKA_VENDOR_OBJECT_HANDLE, REQ, 0, ReadOnlyHook);
}

template <typename T>
CK_RV PKCS11Object::CloneAs(PKCS11Template** out) const
{
    if (out == nullptr) return CKR_ARGUMENTS_BAD;
    T* copy = nullptr;
    try {
        copy = new T();
    } catch (const std::bad_alloc&) {
        return CKR_HOST_MEMORY;
    }
    copy->RemoveAll();
    CloneItemsInto(copy);
    copy->tokenContext_ = tokenContext_;
    *out = copy;
    return CKR_OK;
}

CK_RV PKCS11Object::Clone(PKCS11Template** out) const
{
    return CloneAs<PKCS11Object>(out);
}

CK_RV PKCS11Object::MakeHandle(CK_ULONG entry, CK_OBJECT_HANDLE* handle) const
{
    bool token = false;
    bool isPrivate = false;
    CK_RV rv = GetBoolOr(CKA_TOKEN, false, &token);
    if (rv != CKR_OK) return rv;
    rv = GetBoolOr(CKA_PRIVATE, false, &isPrivate);
    if (rv != CKR_OK) return rv;
    *handle = ((entry + 1) & HANDLE_ENTRY_MASK) | (token ? HANDLE_TOKEN_BIT : 0) | (isPrivate ? HANDLE_PRIVATE_BIT : 0);
    return CKR_OK;
}

PKCS11StorageObject::PKCS11StorageObject()
{
    Layout l(this);
    l.BoolDefault(CKA_TOKEN, false, FixedOnceSetHook);
    l.BoolDefault(CKA_PRIVATE, true, FixedOnceSetHook);
    l.BoolDefault(CKA_MODIFIABLE, true);
    l.Add(CKA_LABEL, OPT);
    l.BoolDefault(CKA_COPYABLE, true, OnlyTrueToFalseHook);
    l.Add(CKA_VENDOR_KEY_REF_1, OPT_HIDDEN);
    l.Add(CKA_VENDOR_KEY_REF_2, OPT_HIDDEN);
}

CK_RV PKCS11StorageObject::Clone(PKCS11Template** out) const
{
    return CloneAs<PKCS11StorageObject>(out);
}

PKCS11DataObject::PKCS11DataObject()
{
    Layout l(this);
    l.Add(CKA_APPLICATION, OPT);
    l.Add(CKA_OBJECT_ID, OPT);
    l.Add(CKA_VALUE, OPT);
    SetIntegerAttribute(CKA_CLASS, CKO_DATA, false);
}

CK_RV PKCS11DataObject::Clone(PKCS11Template** out) const
{
    return CloneAs<PKCS11DataObject>(out);
}

PKCS11CertificateObject::PKCS11CertificateObject()
{
    Layout l(this);
    l.Add(CKA_CERTIFICATE_TYPE, REQ);
    l.BoolDefault(CKA_TRUSTED, true, OnlyFalseToTrueHook);
    l.IntegerDefault(CKA_CERTIFICATE_CATEGORY, OPT, 0);
    l.Add(CKA_CHECK_VALUE, OPT);
    l.Add(CKA_START_DATE, OPT);
    l.Add(CKA_END_DATE, OPT);
    l.Add(CKA_SUBJECT, REQ);
    l.Add(CKA_ID, OPT);
    l.Add(CKA_ISSUER, OPT);
    l.Add(CKA_SERIAL_NUMBER, OPT);
    l.Add(CKA_VALUE, REQ);
    l.Add(CKA_URL, OPT);
    l.Add(CKA_HASH_OF_SUBJECT_PUBLIC_KEY, OPT);
    l.Add(CKA_HASH_OF_ISSUER_PUBLIC_KEY, OPT);
    l.IntegerDefault(CKA_JAVA_MIDP_SECURITY_DOMAIN, OPT, 0);
}

CK_RV PKCS11CertificateObject::Clone(PKCS11Template** out) const
{
    return CloneAs<PKCS11CertificateObject>(out);
}

PKCS11KeyObject::PKCS11KeyObject()
{
    Layout l(this);
    l.Add(CKA_KEY_TYPE, REQ, FixedOnceSetHook);
    l.Add(CKA_ID, OPT);
    l.Add(CKA_START_DATE, OPT);
    l.Add(CKA_END_DATE, OPT);
    l.BoolDefault(CKA_DERIVE, false);
    l.BoolDefault(CKA_LOCAL, true, ReadOnlyHook);
    l.Add(CKA_KEY_GEN_MECHANISM, OPT, FixedOnceSetHook);
    l.Add(CKA_ALLOWED_MECHANISMS, OPT, FixedOnceSetHook);
}

CK_RV PKCS11KeyObject::Clone(PKCS11Template** out) const
{
    return CloneAs<PKCS11KeyObject>(out);
}

PKCS11PrivateKeyObject::PKCS11PrivateKeyObject()
{
    Layout l(this);
    l.Add(CKA_SUBJECT, OPT);
    l.BoolDefault(CKA_SENSITIVE, true, SensitiveHook);
    l.BoolPreset(CKA_DECRYPT, false, FixedOnceSetHook);
    l.BoolDefault(CKA_SIGN, false);
    l.BoolPreset(CKA_SIGN_RECOVER, false, FixedOnceSetHook);
    l.BoolPreset(CKA_UNWRAP, false, FixedOnceSetHook);
    l.BoolDefault(CKA_EXTRACTABLE, false, ExtractableHook);
    l.BoolPreset(CKA_ALWAYS_SENSITIVE, true, ReadOnlyHook);
    l.BoolPreset(CKA_NEVER_EXTRACTABLE, true, ReadOnlyHook);
    l.BoolDefault(CKA_WRAP_WITH_TRUSTED, false, OnlyFalseToTrueHook);
    l.Add(CKA_UNWRAP_TEMPLATE, OPT);
    l.BoolDefault(CKA_ALWAYS_AUTHENTICATE, false, nullptr, true);
    l.Add(CKA_EC_PARAMS, OPT, FixedOnceSetHook);
    l.Add(CKA_MODULUS, OPT, FixedOnceSetHook);
    l.Add(CKA_PUBLIC_EXPONENT, OPT, FixedOnceSetHook);
    l.Add(CKA_HASH_OF_SUBJECT_PUBLIC_KEY, OPT);
    SetIntegerAttribute(CKA_CLASS, CKO_PRIVATE_KEY, false);
}

CK_RV PKCS11PrivateKeyObject::Clone(PKCS11Template** out) const
{
    return CloneAs<PKCS11PrivateKeyObject>(out);
}

PKCS11PublicKeyObject::PKCS11PublicKeyObject()
{
    Layout l(this);
    l.Add(CKA_SUBJECT, OPT);
    l.BoolPreset(CKA_ENCRYPT, false, FixedOnceSetHook);
    l.BoolDefault(CKA_VERIFY, false);
    l.BoolPreset(CKA_VERIFY_RECOVER, false, FixedOnceSetHook);
    l.BoolPreset(CKA_WRAP, false, FixedOnceSetHook);
    l.BoolDefault(CKA_TRUSTED, false, ReadOnlyHook);
    l.Add(CKA_WRAP_TEMPLATE, OPT);
    l.Add(CKA_EC_PARAMS, OPT, FixedOnceSetHook);
    l.Add(CKA_EC_POINT, OPT, FixedOnceSetHook);
    l.Add(CKA_MODULUS, OPT, FixedOnceSetHook);
    l.Add(CKA_MODULUS_BITS, OPT, FixedOnceSetHook);
    l.Add(CKA_PUBLIC_EXPONENT, OPT, FixedOnceSetHook);
    l.Add(CKA_HASH_OF_SUBJECT_PUBLIC_KEY, OPT);
    SetIntegerAttribute(CKA_CLASS, CKO_PUBLIC_KEY, false);
    SetBoolAttribute(CKA_PRIVATE, false, true);
}

CK_RV PKCS11PublicKeyObject::Clone(PKCS11Template** out) const
{
    return CloneAs<PKCS11PublicKeyObject>(out);
}

PKCS11SecretKeyObject::PKCS11SecretKeyObject()
{
    Layout l(this);
    l.BoolDefault(CKA_SENSITIVE, false, SensitiveHook);
    l.BoolDefault(CKA_ENCRYPT, false);
    l.BoolDefault(CKA_DECRYPT, false);
    l.BoolDefault(CKA_SIGN, false);
    l.BoolDefault(CKA_VERIFY, false);
    l.BoolDefault(CKA_WRAP, false);
    l.BoolDefault(CKA_UNWRAP, false);
    l.BoolDefault(CKA_EXTRACTABLE, false, ExtractableHook);
    l.BoolPreset(CKA_ALWAYS_SENSITIVE, false, ReadOnlyHook);
    l.BoolPreset(CKA_NEVER_EXTRACTABLE, true, ReadOnlyHook);
    l.Add(CKA_CHECK_VALUE, OPT);
    l.BoolDefault(CKA_WRAP_WITH_TRUSTED, false, OnlyFalseToTrueHook);
    l.BoolDefault(CKA_TRUSTED, false, ReadOnlyHook);
    l.Add(CKA_WRAP_TEMPLATE, OPT);
    l.Add(CKA_UNWRAP_TEMPLATE, OPT);
    l.Add(CKA_VALUE, OPT, nullptr, SecretValueGetHook);
    l.Add(CKA_VENDOR_KEY_INFO, OPT, FixedOnceSetHook);
    SetIntegerAttribute(CKA_CLASS, CKO_SECRET_KEY, false);
}

CK_RV PKCS11SecretKeyObject::Clone(PKCS11Template** out) const
{
    return CloneAs<PKCS11SecretKeyObject>(out);
}

// ---- Factories ----

CK_RV CreateObjectForClass(CK_OBJECT_CLASS objectClass, const CK_ATTRIBUTE* entries, CK_ULONG count, bool useHooks,
                           PKCS11Object** out)
{
    if (out == nullptr) return CKR_ARGUMENTS_BAD;
    PKCS11ObjectPtr made;
    try {
        switch (objectClass) {
        case CKO_DATA:
            made.Reset(new PKCS11DataObject());
            break;
        case CKO_CERTIFICATE:
            made.Reset(new PKCS11CertificateObject());
            break;
        case CKO_PUBLIC_KEY:
            made.Reset(new PKCS11PublicKeyObject());
            break;
        case CKO_PRIVATE_KEY:
            made.Reset(new PKCS11PrivateKeyObject());
            break;
        case CKO_SECRET_KEY:
            made.Reset(new PKCS11SecretKeyObject());
            break;
        default:
            made.Reset(new PKCS11Object());
            break;
        }
    } catch (const std::bad_alloc&) {
        return CKR_HOST_MEMORY;
    }
    CK_RV rv = objectClass <= CKO_SECRET_KEY ? made->ApplyNewObjectTemplate(entries, count, useHooks)
                                             : made->SetAttributes(entries, count);
    // A plain object takes only what it is given, so its handle has no
    // value yet: without one it could not be numbered as a token object.
    CK_ULONG handle = 0;
    if (rv == CKR_OK && made->GetInteger(CKA_VENDOR_OBJECT_HANDLE, &handle) != CKR_OK)
        rv = made->SetIntegerAttribute(CKA_VENDOR_OBJECT_HANDLE, 0, false);
    if (rv != CKR_OK) return rv;
    *out = made.Detach();
    return CKR_OK;
}

CK_RV CreateObjectFromTemplate(const CK_ATTRIBUTE* entries, CK_ULONG count, bool useHooks, PKCS11Object** out)
{
    if (count == 0 || entries == nullptr) return CKR_TEMPLATE_INCONSISTENT;
    // The class chooses the object's attribute table, so every CKA_CLASS
    // entry must name the same one: a later, different class would leave an
    // object whose stored form another class cannot read back.
    bool found = false;
    CK_OBJECT_CLASS objectClass = 0;
    for (CK_ULONG i = 0; i < count; ++i) {
        if (entries[i].type != CKA_CLASS) continue;
        if (entries[i].ulValueLen != sizeof(CK_OBJECT_CLASS) || entries[i].pValue == nullptr)
            return CKR_ATTRIBUTE_VALUE_INVALID;
        CK_OBJECT_CLASS named = 0;
        std::memcpy(&named, entries[i].pValue, sizeof(named));
        if (found && named != objectClass) return CKR_TEMPLATE_INCONSISTENT;
        found = true;
        objectClass = named;
    }
    if (!found) return CKR_TEMPLATE_INCONSISTENT;
    return CreateObjectForClass(objectClass, entries, count, useHooks, out);
}

CK_RV CreateObjectFromStoredForm(const std::uint8_t* bytes, CK_ULONG length, PKCS11Object** out)
{
    CK_ATTRIBUTE* entries = nullptr;
    CK_ULONG count = 0;
    CK_RV rv = ParseSerializedTemplate(bytes, length, &entries, &count);
    if (rv != CKR_OK) return rv;
    rv = CreateObjectFromTemplate(entries, count, false, out);
    FreeCkAttributeArray(entries, count);
    return rv;
}

CK_RV SetObjectHandleAttribute(PKCS11Object* object, CK_OBJECT_HANDLE handle)
{
    return object->SetIntegerAttribute(CKA_VENDOR_OBJECT_HANDLE, handle & HANDLE_STORED_MASK, false);
}

CK_RV GetObjectHandle(const PKCS11Object* object, CK_OBJECT_HANDLE* handle)
{
    CK_ULONG stored = 0;
    const CK_RV rv = object->GetInteger(CKA_VENDOR_OBJECT_HANDLE, &stored);
    if (rv != CKR_OK) return rv;
    *handle = stored | ((CK_ULONG(object->GetTokenContextNumber()) << 8) & HANDLE_CONTEXT_MASK);
    return CKR_OK;
}

CK_RV SetObjectClass(PKCS11Object* object, CK_OBJECT_CLASS objectClass)
{
    return object->SetIntegerAttribute(CKA_CLASS, objectClass, false);
}

CK_RV GetKeyReferences(const PKCS11Object* object, const std::uint8_t** ref1, CK_ULONG* length1,
                       const std::uint8_t** ref2, CK_ULONG* length2)
{
    *ref1 = *ref2 = nullptr;
    *length1 = *length2 = 0;
    if (object->GetValueOf(CKA_VENDOR_KEY_REF_1, ref1, length1) != CKR_OK || *length1 == 0) {
        *ref1 = nullptr;
        *length1 = 0;
        return CKR_OK;
    }
    if (object->GetValueOf(CKA_VENDOR_KEY_REF_2, ref2, length2) != CKR_OK) {
        *ref2 = nullptr;
        *length2 = 0;
    }
    return CKR_OK;
}

CK_RV CheckAllowedMechanism(const PKCS11Object* key, CK_MECHANISM_TYPE mechanism)
{
    const std::uint8_t* list = nullptr;
    CK_ULONG length = 0;
    if (key->GetValueOf(CKA_ALLOWED_MECHANISMS, &list, &length) != CKR_OK) return CKR_ATTRIBUTE_TYPE_INVALID;
    for (CK_ULONG i = 0; i + sizeof(CK_ULONG) <= length; i += sizeof(CK_ULONG)) {
        CK_MECHANISM_TYPE allowed = 0;
        std::memcpy(&allowed, list + i, sizeof(allowed));
        if (allowed == mechanism) return CKR_OK;
    }
    return CKR_MECHANISM_INVALID;
}

CK_RV IsSignatureKey(const PKCS11Object* key, bool* out)
{
    bool sign = false;
    CK_RV rv = key->GetBool(CKA_SIGN, &sign);
    if (rv != CKR_OK) return rv;
    if (!sign) {
        *out = false;
        return CKR_OK;
    }
    bool derive = false;
    rv = key->GetBool(CKA_DERIVE, &derive);
    if (rv != CKR_OK) return rv;
    if (!derive) {
        *out = true;
        return CKR_OK;
    }
    const std::uint8_t* label = nullptr;
    CK_ULONG length = 0;
    rv = key->GetBytes(CKA_LABEL, &label, &length);
    if (rv != CKR_OK) return rv;
    *out = length == 7 && std::memcmp(label, "KM AFD1", 7) == 0;
    return CKR_OK;
}

bool IsInternalAttributeType(CK_ATTRIBUTE_TYPE type)
{
    return type == CKA_VENDOR_OBJECT_HANDLE || type == CKA_VENDOR_KEY_REF_1 || type == CKA_VENDOR_KEY_REF_2;
}
