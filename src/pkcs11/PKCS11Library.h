// The library singleton, whose existence means that the module is
// initialised, and the start, stop and information operations behind
// C_Initialize, C_Finalize and C_GetInfo.
#ifndef QVK_PKCS11_PKCS11LIBRARY_H
#define QVK_PKCS11_PKCS11LIBRARY_H

#include "pkcs11/PKCS11Lock.h"
#include "pkcs11/pkcs11ua.h"

class PKCS11Entity : public PKCS11Lock {
public:
    PKCS11Entity() = default;
    ~PKCS11Entity() override;

    // Deletes the singleton (if any) and clears the pointer.
    static void Destroy();
};

// True while the singleton exists (read without a lock).
bool IsLibraryInitialized();
// The singleton, created when there is none; CKR_HOST_MEMORY when it cannot
// be made, the lock's error when its mutex cannot be.
CK_RV GetEntity(PKCS11Entity** entity);

// Checks and keeps the mutex callbacks (all four or none), then starts the
// token driver and the PKI services. False: C_Initialize fails and nothing
// stays stored.
bool InitializeLibrary(const CK_C_INITIALIZE_ARGS* args);
// Stops the driver and the PKI services, then forgets the mutex callbacks.
void FinalizeLibrary();
CK_RV GetLibraryInfo(CK_INFO* info);

// The module handle DllMain received at load (the PKI services find the
// module's folder from it).
void* LibraryModuleHandle();
extern "C" int DllMain(void* module, unsigned reason, void* reserved);

#endif
