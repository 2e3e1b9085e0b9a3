// The device's own side of token objects: the number under which the key
// keeps its counterpart of a private key or certificate, and the hook that
// tells the key when such an object is deleted. CKR_FUNCTION_NOT_SUPPORTED
// means the device keeps nothing for the object.
#ifndef QVK_PKCS11_PKCS11DEVICEOBJECTS_H
#define QVK_PKCS11_PKCS11DEVICEOBJECTS_H

#include <cstdint>

#include "pkcs11/PKCS11Device.h"
#include "pkcs11/pkcs11ua.h"

class PKCS11Object;

CK_RV GetDeviceObjectNumber(PKCS11Device* device, const PKCS11Object* object, std::uint32_t* number);
CK_RV NotifyDeviceObjectDeleted(PKCS11Device* device, const PKCS11Object* object);

#endif
