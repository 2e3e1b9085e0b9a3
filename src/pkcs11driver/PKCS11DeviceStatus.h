// What the key's answers mean to a PKCS#11 application: every operation of
// the driver that passes on a device-layer status answers through this one
// table, so a busy or pulled key never reads as a wrong PIN.
#ifndef QVK_PKCS11DRIVER_PKCS11DEVICESTATUS_H
#define QVK_PKCS11DRIVER_PKCS11DEVICESTATUS_H

#include <cstdint>

#include "pkcs11/pkcs11ua.h"

// CKR_OK for 0; a status without a row of its own is CKR_DEVICE_ERROR.
CK_RV DeviceStatusToCKR(std::uint32_t status);

// The token flags that tell the application how far the key's password is
// from being blocked, from the failed tries the key reports. The key has one
// password, which is both the user PIN and the SO PIN, so both sets of flags
// follow the one count.
CK_FLAGS PinTryFlags(std::uint32_t failedTries);
// Every flag that PinTryFlags may set.
inline constexpr CK_FLAGS PIN_TRY_FLAGS = CKF_USER_PIN_COUNT_LOW | CKF_USER_PIN_FINAL_TRY | CKF_USER_PIN_LOCKED |
                                          CKF_SO_PIN_COUNT_LOW | CKF_SO_PIN_FINAL_TRY | CKF_SO_PIN_LOCKED;

#endif
