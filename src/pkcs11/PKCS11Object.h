// The object classes: each constructor lays out the full attribute set its
// class allows, with kinds, item flags, defaults and hooks, so creating an
// object from a caller's template, rebuilding one from its stored form and
// copying one all follow the same policy.
//
// Handle layout (CK_OBJECT_HANDLE): bits 0-7 entry number + 1, bits 8-27 the
// token-context number, bit 28 token object, bit 29 private object. The
// object keeps bits 0-7 and 28-31 in CKA_VENDOR_OBJECT_HANDLE, which is
// stored with a token object.
#ifndef QVK_PKCS11_PKCS11OBJECT_H
#define QVK_PKCS11_PKCS11OBJECT_H

#include <cstdint>

#include "pkcs11/PKCS11Template.h"

constexpr CK_ULONG HANDLE_ENTRY_MASK = 0xFF;
constexpr CK_ULONG HANDLE_CONTEXT_MASK = 0x0FFFFF00;
constexpr CK_ULONG HANDLE_TOKEN_BIT = 0x10000000;
constexpr CK_ULONG HANDLE_PRIVATE_BIT = 0x20000000;
constexpr CK_ULONG HANDLE_STORED_MASK = 0xF00000FF;

class PKCS11Object : public PKCS11Template {
public:
    PKCS11Object();
    CK_RV Clone(PKCS11Template** out) const override;
    virtual CK_RV MakeHandle(CK_ULONG entry, CK_OBJECT_HANDLE* handle) const;
    std::uint32_t GetTokenContextNumber() const { return tokenContext_; }
    void SetTokenContextNumber(std::uint32_t number) { tokenContext_ = number; }

protected:
    // A copy of the same class with every item and the context number.
    template <typename T>
    CK_RV CloneAs(PKCS11Template** out) const;

private:
    std::uint32_t tokenContext_ = 0;
};

class PKCS11StorageObject : public PKCS11Object {
public:
    PKCS11StorageObject();
    CK_RV Clone(PKCS11Template** out) const override;
};

class PKCS11DataObject : public PKCS11StorageObject {
public:
    PKCS11DataObject();
    CK_RV Clone(PKCS11Template** out) const override;
};

class PKCS11CertificateObject : public PKCS11StorageObject {
public:
    PKCS11CertificateObject();
    CK_RV Clone(PKCS11Template** out) const override;
};

class PKCS11KeyObject : public PKCS11StorageObject {
public:
    PKCS11KeyObject();
    CK_RV Clone(PKCS11Template** out) const override;
};

class PKCS11PrivateKeyObject : public PKCS11KeyObject {
public:
    PKCS11PrivateKeyObject();
    CK_RV Clone(PKCS11Template** out) const override;
};

class PKCS11PublicKeyObject : public PKCS11KeyObject {
public:
    PKCS11PublicKeyObject();
    CK_RV Clone(PKCS11Template** out) const override;
};

class PKCS11SecretKeyObject : public PKCS11KeyObject {
public:
    PKCS11SecretKeyObject();
    CK_RV Clone(PKCS11Template** out) const override;
};

// Owns one object (or none) and releases it.
class PKCS11ObjectPtr {
public:
    PKCS11ObjectPtr() = default;
    explicit PKCS11ObjectPtr(PKCS11Object* object) : object_(object) {}
    PKCS11ObjectPtr(const PKCS11ObjectPtr&) = delete;
    PKCS11ObjectPtr& operator=(const PKCS11ObjectPtr&) = delete;
    PKCS11ObjectPtr(PKCS11ObjectPtr&& other) noexcept : object_(other.Detach()) {}
    PKCS11ObjectPtr& operator=(PKCS11ObjectPtr&& other) noexcept
    {
        if (this != &other) Reset(other.Detach());
        return *this;
    }
    ~PKCS11ObjectPtr() { Reset(nullptr); }
    PKCS11Object* Get() const { return object_; }
    PKCS11Object** Address() { return &object_; }
    PKCS11Object* operator->() const { return object_; }
    PKCS11Object* Detach()
    {
        PKCS11Object* object = object_;
        object_ = nullptr;
        return object;
    }
    void Reset(PKCS11Object* object)
    {
        if (object_ != nullptr) object_->Release();
        object_ = object;
    }

private:
    PKCS11Object* object_ = nullptr;
};

CK_RV CreateObjectForClass(CK_OBJECT_CLASS objectClass, const CK_ATTRIBUTE* entries, CK_ULONG count, bool useHooks,
                           PKCS11Object** out);
// The class comes from the first CKA_CLASS entry, whose value is a CK_ULONG.
CK_RV CreateObjectFromTemplate(const CK_ATTRIBUTE* entries, CK_ULONG count, bool useHooks, PKCS11Object** out);
CK_RV CreateObjectFromStoredForm(const std::uint8_t* bytes, CK_ULONG length, PKCS11Object** out);

CK_RV SetObjectHandleAttribute(PKCS11Object* object, CK_OBJECT_HANDLE handle);
CK_RV GetObjectHandle(const PKCS11Object* object, CK_OBJECT_HANDLE* handle);
CK_RV SetObjectClass(PKCS11Object* object, CK_OBJECT_CLASS objectClass);
// Pointers into the object; ref 2 only when ref 1 is set.
CK_RV GetKeyReferences(const PKCS11Object* object, const std::uint8_t** ref1, CK_ULONG* length1,
                       const std::uint8_t** ref2, CK_ULONG* length2);
CK_RV CheckAllowedMechanism(const PKCS11Object* key, CK_MECHANISM_TYPE mechanism);
// A signature key rather than a key-agreement key.
CK_RV IsSignatureKey(const PKCS11Object* key, bool* out);

// The vendor attributes the module keeps for itself: never in a caller's
// creation or modification template.
bool IsInternalAttributeType(CK_ATTRIBUTE_TYPE type);

#endif
