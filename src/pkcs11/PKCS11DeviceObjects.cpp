#include "pkcs11/PKCS11DeviceObjects.h"

#include "pkcs11/PKCS11CertificateAttributes.h"
#include "pkcs11/PKCS11Object.h"
#include "pkcs11/PKCS11PKI.h"

namespace {

// The key type of a certificate's key, read from its CKA_VALUE.
CK_RV CertificateKeyType(const PKCS11Object* object, CK_KEY_TYPE* keyType)
{
    const std::uint8_t* value = nullptr;
    CK_ULONG length = 0;
    CK_RV rv = object->GetValueOf(CKA_VALUE, &value, &length);
    if (rv != CKR_OK) return rv;
    if (length == 0 || length > 0xFFFFFFFFu) return CKR_ATTRIBUTE_VALUE_INVALID;
    return GetCertificateKeyType(value, static_cast<std::uint32_t>(length), keyType);
}

CK_BYTE Selector(const PKCS11Object* object)
{
    bool signature = false;
    return IsSignatureKey(object, &signature) == CKR_OK && signature ? 1 : 0;
}

}  // namespace

CK_RV GetDeviceObjectNumber(PKCS11Device* device, const PKCS11Object* object, std::uint32_t* number)
{
    if (device == nullptr || object == nullptr || number == nullptr) return CKR_ARGUMENTS_BAD;
    CK_ULONG objectClass = 0;
    CK_RV rv = object->GetInteger(CKA_CLASS, &objectClass);
    if (rv != CKR_OK) return rv;
    if (objectClass == CKO_CERTIFICATE) {
        CK_KEY_TYPE keyType = 0;
        if ((rv = CertificateKeyType(object, &keyType)) != CKR_OK) return rv;
        return device->GetCertificateNumber(keyType, number);
    }
    if (objectClass != CKO_PRIVATE_KEY) return CKR_FUNCTION_NOT_SUPPORTED;
    CK_ULONG keyType = 0;
    if ((rv = object->GetInteger(CKA_KEY_TYPE, &keyType)) != CKR_OK) return rv;
    switch (keyType) {
    case CKK_RSA:
    case CKK_EC:
        return device->GetPrivateKeyNumber(keyType, 1, number);
    case CKK_DSTU4145:
        return device->GetPrivateKeyNumber(keyType, Selector(object), number);
    default:
        return CKR_FUNCTION_NOT_SUPPORTED;
    }
}

CK_RV NotifyDeviceObjectDeleted(PKCS11Device* device, const PKCS11Object* object)
{
    if (device == nullptr || object == nullptr) return CKR_ARGUMENTS_BAD;
    CK_ULONG objectClass = 0;
    CK_RV rv = object->GetInteger(CKA_CLASS, &objectClass);
    if (rv != CKR_OK) return rv;
    if (objectClass == CKO_CERTIFICATE) {
        CK_KEY_TYPE keyType = 0;
        if ((rv = CertificateKeyType(object, &keyType)) != CKR_OK) return rv;
        return device->DeleteCertificate(keyType);
    }
    if (objectClass != CKO_PRIVATE_KEY) return CKR_FUNCTION_NOT_SUPPORTED;
    CK_ULONG keyType = 0;
    if ((rv = object->GetInteger(CKA_KEY_TYPE, &keyType)) != CKR_OK) return rv;
    switch (keyType) {
    case CKK_EC:
        return device->DeleteECPrivateKey();
    case CKK_DSTU4145:
        return device->DeleteDSTU4145PrivateKey(Selector(object));
    case CKK_RSA:
        return device->DeleteRSAPrivateKey();
    default:
        return CKR_FUNCTION_NOT_SUPPORTED;
    }
}
