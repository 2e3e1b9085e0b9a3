#include "pkcs11/PKCS11Library.h"

#include <atomic>
#include <cstring>
#include <new>

#include "pkcs11/PKCS11Text.h"
#include "pkcs11driver/PKCS11Driver.h"
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

PKCS11Entity::~PKCS11Entity() = default;

void PKCS11Entity::Destroy()
{
    delete g_entity.exchange(nullptr);
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
    if (!StartDriver()) {
        SetMutexCallbacks(nullptr);
        return false;
    }
    return true;
}

void FinalizeLibrary()
{
    StopDriver();
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
