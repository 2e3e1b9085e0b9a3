// Exports of the key-media library and its process-wide state.
#include "keymedia/Library.h"

#include <cstdint>
#include <cstring>
#include <new>

#include "device/DeviceProtocol.h"
#include "keymedia/KMDevice.h"
#include "keymedia/QuorKorvo7Q.h"
#include "keymedia/QuorKorvo7QCarrier.h"
#include "support/HashTable.h"
#include "support/PKIFormats.h"
#include "support/PKIInterface.h"
#include "wemu.h"

#define KM_EXPORT extern "C" __attribute__((visibility("default")))

namespace qvkkm {

// "квор ТВР Корво-7Ф" and "квор ТВР Корво-7Ф (носій)" in Windows-1251.
const char kFullKeyTypeName[] = "\xEA\xE2\xEE\xF0 \xD2\xC2\xD0 \xCA\xEE\xF0\xE2\xEE-7\xD4";
const char kCarrierTypeName[] = "\xEA\xE2\xEE\xF0 \xD2\xC2\xD0 \xCA\xEE\xF0\xE2\xEE-7\xD4 (\xED\xEE\xF1\xB3\xE9)";

namespace {

// Versions above this one may refuse to serve the library (operation 33).
constexpr unsigned kLastUnconditionalPKIVersion = 264;

CRITICAL_SECTION g_lock;
bool g_lockReady = false;
HashTable* g_wrongPasswords = nullptr;
void* g_pkiInterface = nullptr;

void ReleasePassword(void* value)
{
    char* text = static_cast<char*>(value);
    if (text != nullptr) std::memset(text, 0, std::strlen(text));
    delete[] text;
}

class LibraryLock {
public:
    LibraryLock()
    {
        // The constructor of the module normally made the lock; a host that
        // skipped it (a static link) still gets one.
        if (!g_lockReady) {
            InitializeCriticalSection(&g_lock);
            g_lockReady = true;
        }
        EnterCriticalSection(&g_lock);
    }
    ~LibraryLock() { LeaveCriticalSection(&g_lock); }
    LibraryLock(const LibraryLock&) = delete;
    LibraryLock& operator=(const LibraryLock&) = delete;
};

int InitializeGlobalsLocked()
{
    if (g_wrongPasswords == nullptr) {
        auto* table = new HashTable();
        table->SetCallbacks(nullptr, ReleasePassword);
        g_wrongPasswords = table;
    }
    if (g_pkiInterface != nullptr) return 1;

    const int acquired = AcquirePKILibrary();
    if (acquired != 0) {
        // A library that loaded but failed to start was counted by the
        // loader; give that reference back so a later success is balanced.
        if (acquired != PKI_LIBRARY_MISSING) ReleasePKILibrary();
        return 0;
    }
    void* pki = nullptr;
    if (GetPKIInterface(&pki) != 0 || pki == nullptr) {
        ReleasePKILibrary();
        g_pkiInterface = nullptr;
        return 0;
    }
    g_pkiInterface = pki;
    auto* formats = static_cast<IPKIInterface*>(pki);
    std::uint32_t version = 0;
    if (formats->GetVersion(&version) != 0 || version <= kLastUnconditionalPKIVersion) return 1;
    if (formats->HasOptionA() == 0) return 1;
    ReleasePKILibrary();
    g_pkiInterface = nullptr;
    return 0;
}

}  // namespace

int InitializeGlobals()
{
    LibraryLock lock;
    return InitializeGlobalsLocked();
}

HashTable* WrongPasswordCache()
{
    return g_wrongPasswords;
}

void* PKIFormatsInterface()
{
    return g_pkiInterface;
}

bool FindRefusedPassword(const char* serial, char password[65])
{
    HashTable* table = g_wrongPasswords;
    if (table == nullptr || serial == nullptr) return false;
    table->Lock();
    void* value = nullptr;
    bool found = table->FindByString(serial, 0, &value) != 0 && value != nullptr;
    if (found) {
        const char* text = static_cast<const char*>(value);
        const size_t length = std::strlen(text);
        if (length > 64) {
            found = false;
        } else {
            std::memcpy(password, text, length + 1);
        }
    }
    table->Unlock();
    return found;
}

void RememberRefusedPassword(const char* serial, const char* password)
{
    HashTable* table = g_wrongPasswords;
    if (table == nullptr || serial == nullptr || password == nullptr) return;
    const size_t length = std::strlen(password);
    char* copy = new char[length + 1];
    std::memcpy(copy, password, length + 1);
    int existed = 0;
    if (table->InsertIfAbsentByString(serial, copy, &existed) == 0) ReleasePassword(copy);
}

void ForgetRefusedPassword(const char* serial)
{
    HashTable* table = g_wrongPasswords;
    if (table == nullptr || serial == nullptr) return;
    table->RemoveByString(serial);
}

}  // namespace qvkkm

using namespace qvkkm;

KM_EXPORT int DllMain(void* module, int reason, void* reserved)
{
    (void)module;
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        if (!g_lockReady) {
            InitializeCriticalSection(&g_lock);
            g_lockReady = true;
        }
    } else if (reason == DLL_PROCESS_DETACH) {
        CloseSharedMemory();
    }
    return 1;
}

KM_EXPORT int KMEnumDeviceTypes(int index, char* name)
{
    {
        LibraryLock lock;
        InitializeGlobalsLocked();
    }
    const char* typeName = nullptr;
    if (index == 0)
        typeName = kFullKeyTypeName;
    else if (index == 1)
        typeName = kCarrierTypeName;
    else
        return KM_NOT_FOUND;
    if (name != nullptr) std::memcpy(name, typeName, std::strlen(typeName) + 1);
    return KM_OK;
}

KM_EXPORT IKMQuorKorvo7Q* KMGetInterface(const char* name)
{
    {
        LibraryLock lock;
        InitializeGlobalsLocked();
    }
    if (name == nullptr) return nullptr;
    if (std::strcmp(name, kFullKeyTypeName) == 0) return new QuorKorvo7Q();
    if (std::strcmp(name, kCarrierTypeName) == 0) return new QuorKorvo7QCarrier();
    return nullptr;
}

KM_EXPORT void KMFinalize()
{
    {
        LibraryLock lock;
        if (g_wrongPasswords != nullptr) {
            HashTable* table = g_wrongPasswords;
            g_wrongPasswords = nullptr;
            delete table;  // the on-remove callback releases every value
        }
        if (g_pkiInterface != nullptr) {
            ReleasePKILibrary();
            g_pkiInterface = nullptr;
        }
    }
    CloseSharedMemory();
}

// The module's load and unload stand in for the process attach and detach
// notifications of the original platform.
__attribute__((constructor)) static void KeyMediaLibraryLoaded()
{
    DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr);
}

__attribute__((destructor)) static void KeyMediaLibraryUnloaded()
{
    DllMain(nullptr, DLL_PROCESS_DETACH, nullptr);
}
