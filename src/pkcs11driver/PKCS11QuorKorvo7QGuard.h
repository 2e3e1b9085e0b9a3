// The guarded-call pattern of the driver object's operations, shared by its
// source files.
#ifndef QVK_PKCS11DRIVER_PKCS11QUORKORVO7QGUARD_H
#define QVK_PKCS11DRIVER_PKCS11QUORKORVO7QGUARD_H

#include "device/DeviceProtocol.h"
#include "pkcs11driver/PKCS11DeviceStatus.h"
#include "pkcs11driver/PKCS11QuorKorvo7Q.h"

template <typename Call>
CK_RV PKCS11QuorKorvo7Q::Retried(Call call)
{
    std::uint32_t status = call();
    if (status == 0) return CKR_OK;
    const std::uint32_t unrecovered = RecoverFromError(device_, status);
    if (unrecovered != 0) return DeviceStatusToCKR(unrecovered);
    return DeviceStatusToCKR(call());
}

template <typename Call>
CK_RV PKCS11QuorKorvo7Q::Guarded(Call call)
{
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) return lock.Result();
    if (device_ == nullptr) return CKR_DEVICE_ERROR;
    return Retried(call);
}

#endif
