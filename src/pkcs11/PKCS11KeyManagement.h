// Key derivation, wrapping and unwrapping: the workers that have the key
// agree a DSTU 4145 key with another party's public key and wrap or unwrap
// 32-byte secret keys under it, and the work of the C_DeriveKey, C_WrapKey
// and C_UnwrapKey entry points. The agreed key never leaves the key: the
// device keeps it as a context of (session handle, derived key handle).
#ifndef QVK_PKCS11_PKCS11KEYMANAGEMENT_H
#define QVK_PKCS11_PKCS11KEYMANAGEMENT_H

#include <cstdint>

#include "pkcs11/PKCS11Device.h"
#include "pkcs11/pkcs11ua.h"

class PKCS11Object;

// Wrapped sizes under a GOST 28147 and a DSTU 7624 key; the wrapped key is
// always 32 bytes.
constexpr CK_ULONG WRAPPED_KEY_OLD_BYTES = 44;
constexpr CK_ULONG WRAPPED_KEY_NEW_BYTES = 96;
constexpr CK_ULONG SECRET_KEY_BYTES = 32;
// Shared data longer than this makes no agreement.
constexpr CK_ULONG MAX_SHARED_DATA_BYTES = 0xFFFF;

// The shared data of an agreement encoded by the PKI formats library, as
// CKA_VENDOR_DEFINED; the older form for a GOST 28147 agreed key, the newer
// for a DSTU 7624 one. The value is array new (FreeAttributeValue).
bool MakeUKMAttribute(const std::uint8_t* data, std::uint32_t length, CK_ATTRIBUTE* out);
bool MakeUKMAttributeNew(const std::uint8_t* data, std::uint32_t length, CK_ATTRIBUTE* out);

// A new key object of the class: the defaults whose types the caller's
// entries do not name, then the caller's entries.
CK_RV CreateKeyObject(CK_OBJECT_CLASS objectClass, const CK_ATTRIBUTE* defaults, CK_ULONG defaultCount,
                      const CK_ATTRIBUTE* entries, CK_ULONG count, PKCS11Object** out);

CK_RV PKIDeriveKey(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE newKeyHandle, PKCS11Device* device,
                   const CK_MECHANISM* mechanism, const PKCS11Object* baseKey, PKCS11Object* newKey);
CK_RV PKIWrapKey(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE wrappingKeyHandle, PKCS11Device* device,
                 const PKCS11Object* wrappingKey, const PKCS11Object* key, std::uint8_t* out, CK_ULONG* outLength);
CK_RV PKIUnwrapKey(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE unwrappingKeyHandle, PKCS11Device* device,
                   const std::uint8_t* wrapped, CK_ULONG wrappedLength, const PKCS11Object* unwrappingKey,
                   PKCS11Object* newKey);

// The entry points' work (the entry layer adds the frame).
CK_RV DeriveKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hBaseKey,
                CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulAttributeCount, CK_OBJECT_HANDLE_PTR phKey);
CK_RV WrapKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hWrappingKey,
              CK_OBJECT_HANDLE hKey, CK_BYTE_PTR pWrappedKey, CK_ULONG_PTR pulWrappedKeyLen);
CK_RV UnwrapKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hUnwrappingKey,
                CK_BYTE_PTR pWrappedKey, CK_ULONG ulWrappedKeyLen, CK_ATTRIBUTE_PTR pTemplate,
                CK_ULONG ulAttributeCount, CK_OBJECT_HANDLE_PTR phKey);

#endif
