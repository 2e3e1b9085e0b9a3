// The library singleton, whose existence means that the module is
// initialised, and the start, stop and information operations behind
// C_Initialize, C_Finalize and C_GetInfo.
#ifndef QVK_PKCS11_PKCS11LIBRARY_H
#define QVK_PKCS11_PKCS11LIBRARY_H

#include <cstdint>
#include <memory>

#include "pkcs11/PKCS11Device.h"
#include "pkcs11/PKCS11Lock.h"
#include "pkcs11/pkcs11ua.h"

class PKCS11Slot;
class PKCS11SlotManager;
class PKCS11SessionManager;
class PKCS11Token;
class PKCS11TokenManager;
class PKCS11TokenManagerPool;

enum : std::uint32_t { TOKEN_MANAGER_POOL_CAPACITY = 3000 };

// Owns every manager; each is made on first use under the entity's lock.
class PKCS11Entity : public PKCS11Lock {
public:
    PKCS11Entity();
    // Releases the session manager (closing every session), the token
    // managers, the slot manager and the pool, in that order.
    ~PKCS11Entity() override;

    // Deletes the singleton (if any) and clears the pointer.
    static void Destroy();

    CK_RV GetSlotManager(PKCS11SlotManager** manager);
    CK_RV GetSlot(CK_SLOT_ID slotId, PKCS11Slot** slot);
    CK_RV GetTokenOfSlot(CK_SLOT_ID slotId, PKCS11Token** token);
    CK_RV GetTokenManagerOfSlot(CK_SLOT_ID slotId, PKCS11TokenManager** manager);
    CK_RV GetTokenManagerPool(PKCS11TokenManagerPool** pool);
    CK_RV GetSessionManager(PKCS11SessionManager** manager);
    // Tells every other device object of the slot that the key's content
    // changes (before C_InitToken and key-pair generation).
    CK_RV ReleaseSlotDevice(CK_SLOT_ID slotId, PKCS11Device* spare);

private:
    std::unique_ptr<PKCS11SlotManager> slotManager_;
    std::unique_ptr<PKCS11SessionManager> sessionManager_;
    std::unique_ptr<std::unique_ptr<PKCS11TokenManager>[]> tokenManagers_;
    std::unique_ptr<PKCS11TokenManagerPool> pool_;
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
