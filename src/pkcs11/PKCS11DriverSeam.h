// How the framework reaches the token driver: the driver registers these
// entries when the module is loaded, so the framework names no driver header.
#ifndef QVK_PKCS11_PKCS11DRIVERSEAM_H
#define QVK_PKCS11_PKCS11DRIVERSEAM_H

#include <cstdint>

#include "pkcs11/PKCS11Device.h"
#include "pkcs11/pkcs11ua.h"

struct PKCS11DriverEntries {
    bool (*start)();
    void (*stop)();
    bool (*deviceLayerAvailable)();
    // CKR_OK once key entry `wanted` exists, CKR_SLOT_ID_INVALID past the last key.
    CK_RV (*enumerateKeySerials)(std::uint32_t wanted);
    PKCS11Device* (*createDevice)();
};

// Called once by the driver as the module loads.
void RegisterPKCS11Driver(const PKCS11DriverEntries& entries);

// The framework's calls; without a registered driver they fail as a missing
// device layer does (no start, no devices).
bool StartRegisteredDriver();
void StopRegisteredDriver();
bool RegisteredDeviceLayerAvailable();
CK_RV EnumerateRegisteredKeySerials(std::uint32_t wanted);
PKCS11Device* CreateRegisteredDevice();

#endif
