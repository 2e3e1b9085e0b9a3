// What the PKCS#11 framework reaches in the token driver besides the device
// objects: the factory, the availability test, the enumeration of attached
// keys into stable slot numbers, and the start and stop glue.
#ifndef QVK_PKCS11DRIVER_PKCS11DRIVER_H
#define QVK_PKCS11DRIVER_PKCS11DRIVER_H

#include <cstdint>

#include "pkcs11/PKCS11Device.h"
#include "pkcs11/pkcs11ua.h"

enum : std::uint32_t { KEY_SERIAL_ENTRIES = 256, KEY_SERIAL_TEXT_BYTES = 32 };

// The serial numbers seen since the module was loaded, as "%d" texts; an
// entry's index is the slot id of that key. Entries are only appended, and
// the count is published only after its entry is written, so readers on
// other threads never see an entry before it is complete.
std::uint32_t KeySerialCount();
// Copies entry `index` (terminated); false when the index is not in use.
bool GetKeySerialEntry(std::uint32_t index, char out[KEY_SERIAL_TEXT_BYTES]);
// Makes sure the table has an entry at `wanted`, scanning the attached keys
// in reader order when it does not: CKR_OK, or CKR_SLOT_ID_INVALID when there
// are not enough keys. A reader whose key does not answer the scan is passed
// over, so one failing key never hides the others.
CK_RV EnumerateKeySerials(std::uint32_t wanted);

// A new device object (owned by the caller, destroyed with Release); null
// when memory runs out.
PKCS11Device* CreatePKCS11Device();
bool IsDeviceLayerAvailable();

// Run by C_Initialize and C_Finalize: the PKI services, then (at the stop)
// the device layer's shared memory.
bool StartDriver();
void StopDriver();

#endif
