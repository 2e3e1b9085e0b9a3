#include "pkcs11/PKCS11Library.h"

#include <atomic>
#include <cstring>
#include <new>

#include "pkcs11/PKCS11DriverSeam.h"
#include "pkcs11/PKCS11Session.h"
#include "pkcs11/PKCS11Slot.h"
#include "pkcs11/PKCS11Text.h"
#include "pkcs11/PKCS11TokenManager.h"
#include "wemu.h"

namespace {

std::atomic<PKCS11Entity*> g_entity{nullptr};
std::atomic<void*> g_moduleHandle{nullptr};

const char MANUFACTURER[] = "JSC_TVR";
const char LIBRARY_DESCRIPTION[] = "Q.uor_Korvo-7Q_Library";

// A text into a blank-padded fixed field.
CK_RV FillText(CK_UTF8CHAR* field, CK_ULONG size, const char* text)
{
    std::memset(field, ' ', size);
    CK_ULONG written = 0;
    return Cp1251ToUtf8(text, std::strlen(text), reinterpret_cast<char*>(field), &written, size);
}

}  // namespace

PKCS11Entity::PKCS11Entity() : tokenManagers_(new (std::nothrow) std::unique_ptr<PKCS11TokenManager>[SLOT_COUNT]) {}

PKCS11Entity::~PKCS11Entity()
{
    sessionManager_.reset();
    tokenManagers_.reset();
    slotManager_.reset();
    pool_.reset();
}

void PKCS11Entity::Destroy()
{
    // The entity stays registered while it is torn down: closing sessions
    // reaches the pool through it.
    PKCS11Entity* entity = g_entity.load();
    delete entity;
    g_entity.store(nullptr);
}

CK_RV PKCS11Entity::GetSlotManager(PKCS11SlotManager** manager)
{
    if (manager == nullptr) return CKR_ARGUMENTS_BAD;
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) return lock.Result();
    if (!slotManager_) {
        slotManager_.reset(new (std::nothrow) PKCS11SlotManager());
        if (!slotManager_) return CKR_HOST_MEMORY;
    }
    *manager = slotManager_.get();
    return CKR_OK;
}

CK_RV PKCS11Entity::GetSlot(CK_SLOT_ID slotId, PKCS11Slot** slot)
{
    PKCS11SlotManager* manager = nullptr;
    CK_RV rv = GetSlotManager(&manager);
    if (rv != CKR_OK) return rv;
    return manager->GetSlotById(slotId, slot);
}

CK_RV PKCS11Entity::GetTokenOfSlot(CK_SLOT_ID slotId, PKCS11Token** token)
{
    if (token == nullptr) return CKR_ARGUMENTS_BAD;
    PKCS11Slot* slot = nullptr;
    CK_RV rv = GetSlot(slotId, &slot);
    if (rv != CKR_OK) return rv;
    return slot->GetToken(token);
}

CK_RV PKCS11Entity::GetTokenManagerOfSlot(CK_SLOT_ID slotId, PKCS11TokenManager** manager)
{
    if (manager == nullptr) return CKR_ARGUMENTS_BAD;
    PKCS11Token* token = nullptr;
    CK_RV rv = GetTokenOfSlot(slotId, &token);
    if (rv != CKR_OK) return rv;
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) return lock.Result();
    if (!tokenManagers_) return CKR_HOST_MEMORY;
    std::unique_ptr<PKCS11TokenManager>& entry = tokenManagers_[slotId];
    if (!entry) {
        entry.reset(new (std::nothrow) PKCS11TokenManager(token));
        if (!entry) return CKR_HOST_MEMORY;
    }
    *manager = entry.get();
    return CKR_OK;
}

CK_RV PKCS11Entity::GetTokenManagerPool(PKCS11TokenManagerPool** pool)
{
    if (pool == nullptr) return CKR_ARGUMENTS_BAD;
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) return lock.Result();
    if (!pool_) {
        pool_.reset(new (std::nothrow) PKCS11TokenManagerPool(TOKEN_MANAGER_POOL_CAPACITY));
        if (!pool_) return CKR_HOST_MEMORY;
    }
    *pool = pool_.get();
    return CKR_OK;
}

CK_RV PKCS11Entity::GetSessionManager(PKCS11SessionManager** manager)
{
    if (manager == nullptr) return CKR_ARGUMENTS_BAD;
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) return lock.Result();
    if (!sessionManager_) {
        sessionManager_.reset(new (std::nothrow) PKCS11SessionManager());
        if (!sessionManager_) return CKR_HOST_MEMORY;
    }
    *manager = sessionManager_.get();
    return CKR_OK;
}

CK_RV PKCS11Entity::ReleaseSlotDevice(CK_SLOT_ID slotId, PKCS11Device* spare)
{
    PKCS11Token* token = nullptr;
    CK_RV rv = GetTokenOfSlot(slotId, &token);
    if (rv != CKR_OK) return rv;
    PKCS11Device* own = nullptr;
    if (token->GetDevice(&own) == CKR_OK && own != spare) own->ReleaseOthers();
    PKCS11TokenManagerPool* pool = nullptr;
    if ((rv = GetTokenManagerPool(&pool)) != CKR_OK) return rv;
    return pool->ReleaseOtherDevices(static_cast<std::uint32_t>(slotId), spare);
}

bool IsLibraryInitialized()
{
    return g_entity.load() != nullptr;
}

CK_RV GetEntity(PKCS11Entity** entity)
{
    if (entity == nullptr) return CKR_ARGUMENTS_BAD;
    PKCS11Entity* current = g_entity.load();
    if (current == nullptr) {
        current = new (std::nothrow) PKCS11Entity();
        if (current == nullptr) return CKR_HOST_MEMORY;
        if (current->CreationError() != CKR_OK) {
            CK_RV rv = current->CreationError();
            delete current;
            return rv;
        }
        g_entity.store(current);
    }
    *entity = current;
    return CKR_OK;
}

bool InitializeLibrary(const CK_C_INITIALIZE_ARGS* args)
{
    // Every C_Initialize starts from the platform's mutexes; the arguments
    // of an earlier one never carry over.
    SetMutexCallbacks(nullptr);
    if (args != nullptr) {
        const bool create = args->CreateMutex != nullptr;
        if (create != (args->DestroyMutex != nullptr) || create != (args->LockMutex != nullptr) ||
            create != (args->UnlockMutex != nullptr))
            return false;
        SetMutexCallbacks(args);
    }
    if (!StartRegisteredDriver()) {
        SetMutexCallbacks(nullptr);
        return false;
    }
    return true;
}

void FinalizeLibrary()
{
    StopRegisteredDriver();
    // Only now, with the entity and its locks gone: each mutex keeps the
    // callbacks it was made with anyway.
    SetMutexCallbacks(nullptr);
}

CK_RV GetLibraryInfo(CK_INFO* info)
{
    if (info == nullptr) return CKR_ARGUMENTS_BAD;
    info->cryptokiVersion.major = 2;
    info->cryptokiVersion.minor = 20;
    CK_RV rv = FillText(info->manufacturerID, sizeof(info->manufacturerID), MANUFACTURER);
    if (rv != CKR_OK) return rv;
    rv = FillText(info->libraryDescription, sizeof(info->libraryDescription), LIBRARY_DESCRIPTION);
    if (rv != CKR_OK) return rv;
    info->libraryVersion.major = 1;
    info->libraryVersion.minor = 0;
    info->flags = 0;
    return CKR_OK;
}

void* LibraryModuleHandle()
{
    return g_moduleHandle.load();
}

extern "C" __attribute__((visibility("default"))) int DllMain(void* module, unsigned reason, void* reserved)
{
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) g_moduleHandle.store(module);
    return 1;
}

namespace {

// The platform never calls DllMain: the loader's constructor does, with the
// handle of the module that holds this code.
__attribute__((constructor)) void ModuleLoaded()
{
    DllMain(WemuModuleOfAddress(reinterpret_cast<const void*>(&ModuleLoaded)), DLL_PROCESS_ATTACH, nullptr);
}

__attribute__((destructor)) void ModuleUnloaded()
{
    DllMain(nullptr, DLL_PROCESS_DETACH, nullptr);
}

}  // namespace
