#include "pkcs11/PKCS11DriverSeam.h"

namespace {

// Constant-initialised: set by the driver's load-time registration, read only
// from C_Initialize on.
PKCS11DriverEntries g_driver{};

}  // namespace

void RegisterPKCS11Driver(const PKCS11DriverEntries& entries)
{
    g_driver = entries;
}

bool StartRegisteredDriver()
{
    return g_driver.start != nullptr && g_driver.start();
}

void StopRegisteredDriver()
{
    if (g_driver.stop != nullptr) g_driver.stop();
}

bool RegisteredDeviceLayerAvailable()
{
    return g_driver.deviceLayerAvailable != nullptr && g_driver.deviceLayerAvailable();
}

CK_RV EnumerateRegisteredKeySerials(std::uint32_t wanted)
{
    return g_driver.enumerateKeySerials != nullptr ? g_driver.enumerateKeySerials(wanted) : CKR_SLOT_ID_INVALID;
}

PKCS11Device* CreateRegisteredDevice()
{
    return g_driver.createDevice != nullptr ? g_driver.createDevice() : nullptr;
}
