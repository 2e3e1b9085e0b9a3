// Per-key and global named mutexes, the two shared-memory caches and the
// table of borrowed PC/SC connections.
#include <atomic>
#include <cstdio>
#include <cstring>

#include "device/DeviceInternal.h"
#include "wemu.h"

namespace qvkdev {

Timings& DeviceTimings()
{
    static Timings timings;
    return timings;
}

void Pause(uint32_t ms)
{
    Sleep(ms);
}

bool RetryBudget::PauseAndContinue()
{
    if (Exhausted()) return false;
    Pause(DeviceTimings().retryPauseMs);
    return true;
}

namespace {

// Process-wide state. The "already set up" tests read it without a lock;
// creation runs under the global mutex.
std::atomic<HANDLE> g_globalMutex{nullptr};
std::atomic<HANDLE> g_deviceMapping{nullptr};
std::atomic<DeviceCacheRecord*> g_deviceView{nullptr};
std::atomic<HANDLE> g_keyMapping{nullptr};
std::atomic<KeyCacheRecord*> g_keyView{nullptr};
std::atomic<HANDLE> g_shareMapping{nullptr};
std::atomic<SessionShareRecord*> g_shareView{nullptr};

struct NamedObjectSecurity {
    SECURITY_DESCRIPTOR descriptor;
    SECURITY_ATTRIBUTES attributes;
};

bool MakeSecurity(NamedObjectSecurity* s)
{
    std::memset(s, 0, sizeof(*s));
    if (!OpenSecurityDescriptor(&s->descriptor)) return false;
    s->attributes.nLength = sizeof(SECURITY_ATTRIBUTES);
    s->attributes.lpSecurityDescriptor = &s->descriptor;
    s->attributes.bInheritHandle = TRUE;
    return true;
}

bool ObtainedWait(DWORD result)
{
    return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
}

// Creates (or opens) a memory under its Global name, else its Local name, and
// maps it whole.
bool CreateMapped(NamedObjectSecurity* s, const char* globalName, const char* localName, DWORD size, HANDLE* mapping,
                  void** view)
{
    HANDLE h = CreateFileMapping(INVALID_HANDLE_VALUE, &s->attributes, PAGE_READWRITE, 0, size, globalName);
    if (h == nullptr) h = CreateFileMapping(INVALID_HANDLE_VALUE, &s->attributes, PAGE_READWRITE, 0, size, localName);
    if (h == nullptr) return false;
    void* v = MapViewOfFile(h, FILE_MAP_ALL_ACCESS, 0, 0, size);
    if (v == nullptr) {
        CloseHandle(h);
        return false;
    }
    *mapping = h;
    *view = v;
    return true;
}

// Borrowed-handle table.
BorrowedHandlePair g_borrowed[BORROWED_HANDLE_ENTRIES];
CRITICAL_SECTION g_borrowedLock;
std::atomic<bool> g_borrowedReady{false};

bool InUse(const BorrowedHandlePair& e)
{
    return e.pcscContext != 0 || e.cardHandle != 0;
}

bool LooksBorrowed(uint32_t id)
{
    return (id & BORROWED_HANDLE_BASE) == BORROWED_HANDLE_BASE;
}

uint32_t BorrowedIndex(uint32_t id)
{
    return id & ~BORROWED_HANDLE_BASE;
}

// Shared body of the four key-cache invalidations.
uint32_t InvalidateKeyCacheFlag(DeviceContext* context, uint32_t KeyCacheRecord::*flag)
{
    if (context->deviceId == 0) return KEYERR_GENERAL_FAILURE;
    KeyAndCacheLock lock(context);
    if (lock.status() != 0) return lock.status();
    if (KeyCacheRecord* r = FindKeyRecord(context->deviceId)) r->*flag = 0;
    return 0;
}

}  // namespace

uint32_t WaitGlobalMutex()
{
    HANDLE h = g_globalMutex.load();
    if (h == nullptr) return KEYERR_DEVICE_BUSY;
    return ObtainedWait(WaitForSingleObject(h, DeviceTimings().mutexWaitMs)) ? 0 : KEYERR_DEVICE_BUSY;
}

void ReleaseGlobalMutex()
{
    if (HANDLE h = g_globalMutex.load()) ReleaseMutex(h);
}

DeviceCacheRecord* DeviceCacheView()
{
    return g_deviceView.load();
}

KeyCacheRecord* KeyCacheView()
{
    return g_keyView.load();
}

SessionShareRecord* SessionShareOf(const DeviceCacheRecord* record)
{
    DeviceCacheRecord* devices = g_deviceView.load();
    SessionShareRecord* shares = g_shareView.load();
    if (record == nullptr || devices == nullptr || shares == nullptr) return nullptr;
    // A record outside the device cache (a caller's own copy) has no share record.
    const uintptr_t first = reinterpret_cast<uintptr_t>(devices);
    const uintptr_t at = reinterpret_cast<uintptr_t>(record);
    if (at < first || at >= first + DEVICE_CACHE_SIZE || (at - first) % sizeof(DeviceCacheRecord) != 0) return nullptr;
    SessionShareRecord* share = &shares[(at - first) / sizeof(DeviceCacheRecord)];
    if (share->serial != record->serial) {
        // First touch of this record (or a record taken over by another serial).
        std::memset(share, 0, sizeof(*share));
        share->serial = record->serial;
    }
    return share;
}

namespace {

template <typename Record>
Record* FindBySerial(Record* view, uint32_t serial)
{
    if (view == nullptr) return nullptr;
    for (uint32_t i = 0; i < DEVICE_CACHE_RECORDS; ++i)
        if (view[i].serial == serial) return &view[i];
    return nullptr;
}

}  // namespace

DeviceCacheRecord* FindDeviceRecord(uint32_t serial)
{
    return serial == 0 ? nullptr : FindBySerial(g_deviceView.load(), serial);
}

DeviceCacheRecord* FindFreeDeviceRecord()
{
    return FindBySerial(g_deviceView.load(), 0u);
}

KeyCacheRecord* FindKeyRecord(uint32_t serial)
{
    return serial == 0 ? nullptr : FindBySerial(g_keyView.load(), serial);
}

KeyCacheRecord* FindOrClaimKeyRecord(uint32_t serial)
{
    if (serial == 0) return nullptr;
    KeyCacheRecord* view = g_keyView.load();
    if (KeyCacheRecord* r = FindBySerial(view, serial)) return r;
    KeyCacheRecord* r = FindBySerial(view, 0u);
    if (r != nullptr) r->serial = serial;
    return r;
}

bool IsBorrowedIdInUse(uint32_t id, BorrowedHandlePair* pair)
{
    if (!LooksBorrowed(id) || BorrowedIndex(id) >= BORROWED_HANDLE_ENTRIES) return false;
    if (!InitHandleTable()) return false;
    EnterCriticalSection(&g_borrowedLock);
    const BorrowedHandlePair entry = g_borrowed[BorrowedIndex(id)];
    LeaveCriticalSection(&g_borrowedLock);
    if (!InUse(entry)) return false;
    if (pair != nullptr) *pair = entry;
    return true;
}

}  // namespace qvkdev

using namespace qvkdev;

uint32_t WaitDeviceMutex(DeviceContext* context)
{
    if (context == nullptr || context->deviceMutex == nullptr) return KEYERR_DEVICE_BUSY;
    if (!ObtainedWait(WaitForSingleObject(context->deviceMutex, DeviceTimings().mutexWaitMs)))
        return KEYERR_DEVICE_BUSY;
    // A new outermost hold: whatever another holder did to the key since the
    // last one must be looked at again before the images are trusted.
    if (context->holdDepth++ == 0) {
        context->markChecked = 0;
        context->markMoved = 0;
    }
    return 0;
}

void ReleaseDeviceMutex(DeviceContext* context)
{
    if (context == nullptr || context->deviceMutex == nullptr) return;
    if (context->holdDepth > 0) context->holdDepth -= 1;
    ReleaseMutex(context->deviceMutex);
}

uint32_t LockDevice(DeviceContext* context)
{
    return WaitDeviceMutex(context);
}

uint32_t UnlockDevice(DeviceContext* context)
{
    ReleaseDeviceMutex(context);
    return 0;
}

bool MakeDeviceMutexName(const char* readerName, char* out, size_t outSize)
{
    if (readerName == nullptr || out == nullptr || std::strlen(readerName) < QVK_READER_PREFIX_LENGTH) return false;
    const int n = std::snprintf(out, outSize, "%s%s", QVK_DEVICE_MUTEX_PREFIX, readerName + QVK_READER_PREFIX_LENGTH);
    return n >= 0 && static_cast<size_t>(n) < outSize;
}

int OpenSecurityDescriptor(void* descriptor)
{
    auto* sd = static_cast<SECURITY_DESCRIPTOR*>(descriptor);
    if (!InitializeSecurityDescriptor(sd, SECURITY_DESCRIPTOR_REVISION)) return 0;
    return SetSecurityDescriptorDacl(sd, TRUE, nullptr, FALSE) ? 1 : 0;
}

void* OpenDeviceMutex(const char* name)
{
    NamedObjectSecurity s;
    if (!MakeSecurity(&s)) return nullptr;
    return CreateMutex(&s.attributes, FALSE, name);
}

int OpenGlobalMutex()
{
    if (g_globalMutex.load() != nullptr) return 1;
    NamedObjectSecurity s;
    if (!MakeSecurity(&s)) return 0;
    HANDLE h = CreateMutex(&s.attributes, FALSE, QVK_GLOBAL_MUTEX_NAME);
    if (h == nullptr) return 0;
    if (!ObtainedWait(WaitForSingleObject(h, DeviceTimings().mutexWaitMs))) {
        CloseHandle(h);
        return 0;
    }
    HANDLE expected = nullptr;
    if (g_globalMutex.compare_exchange_strong(expected, h)) {
        ReleaseMutex(h);
    } else {
        // Another thread stored its handle meanwhile.
        ReleaseMutex(h);
        CloseHandle(h);
    }
    return 1;
}

int OpenSharedMemory()
{
    if (g_deviceView.load() != nullptr) return 1;
    if (!OpenGlobalMutex()) return 0;
    if (WaitGlobalMutex() != 0) return 0;
    if (g_deviceView.load() != nullptr) {
        ReleaseGlobalMutex();
        return 1;
    }
    NamedObjectSecurity s;
    HANDLE deviceMapping = nullptr, keyMapping = nullptr, shareMapping = nullptr;
    void* deviceView = nullptr;
    void* keyView = nullptr;
    void* shareView = nullptr;
    bool ok = MakeSecurity(&s) && CreateMapped(&s, QVK_DEVICE_MEMORY_NAME, QVK_DEVICE_MEMORY_LOCAL_NAME,
                                               DEVICE_CACHE_SIZE, &deviceMapping, &deviceView);
    if (ok &&
        !CreateMapped(&s, QVK_KEYS_MEMORY_NAME, QVK_KEYS_MEMORY_LOCAL_NAME, KEY_CACHE_SIZE, &keyMapping, &keyView)) {
        UnmapViewOfFile(deviceView);
        CloseHandle(deviceMapping);
        ok = false;
    }
    if (ok && !CreateMapped(&s, QVK_SESSION_MEMORY_NAME, QVK_SESSION_MEMORY_LOCAL_NAME, SESSION_SHARE_SIZE,
                            &shareMapping, &shareView)) {
        UnmapViewOfFile(keyView);
        CloseHandle(keyMapping);
        UnmapViewOfFile(deviceView);
        CloseHandle(deviceMapping);
        ok = false;
    }
    if (ok) {
        g_shareMapping.store(shareMapping);
        g_shareView.store(static_cast<SessionShareRecord*>(shareView));
        g_keyMapping.store(keyMapping);
        g_keyView.store(static_cast<KeyCacheRecord*>(keyView));
        g_deviceMapping.store(deviceMapping);
        g_deviceView.store(static_cast<DeviceCacheRecord*>(deviceView));
    }
    ReleaseGlobalMutex();
    return ok ? 1 : 0;
}

void CloseSharedMemory()
{
    HANDLE h = g_globalMutex.load();
    if (h == nullptr) return;
    if (!ObtainedWait(WaitForSingleObject(h, DeviceTimings().mutexWaitMs))) return;
    if (DeviceCacheRecord* v = g_deviceView.exchange(nullptr)) UnmapViewOfFile(v);
    if (HANDLE m = g_deviceMapping.exchange(nullptr)) CloseHandle(m);
    if (KeyCacheRecord* v = g_keyView.exchange(nullptr)) UnmapViewOfFile(v);
    if (HANDLE m = g_keyMapping.exchange(nullptr)) CloseHandle(m);
    if (SessionShareRecord* v = g_shareView.exchange(nullptr)) UnmapViewOfFile(v);
    if (HANDLE m = g_shareMapping.exchange(nullptr)) CloseHandle(m);
    g_globalMutex.store(nullptr);
    ReleaseMutex(h);
    CloseHandle(h);
}

uint32_t ReleaseDeviceCache(const uint32_t* deviceId)
{
    if (deviceId == nullptr || *deviceId == 0 || g_deviceView.load() == nullptr) return KEYERR_GENERAL_FAILURE;
    if (WaitGlobalMutex() != 0) return KEYERR_DEVICE_BUSY;
    uint32_t result = KEYERR_GENERAL_FAILURE;
    if (DeviceCacheRecord* r = FindDeviceRecord(*deviceId)) {
        if (r->openCount > 0) r->openCount -= 1;
        result = 0;
    }
    ReleaseGlobalMutex();
    return result;
}

uint32_t InvalidateSignatureKeyParametersCache(DeviceContext* context)
{
    return InvalidateKeyCacheFlag(context, &KeyCacheRecord::signKeyParametersValid);
}

uint32_t InvalidateSignaturePublicKeyCache(DeviceContext* context)
{
    return InvalidateKeyCacheFlag(context, &KeyCacheRecord::signPublicKeyValid);
}

uint32_t InvalidateAgreementKeyParametersCache(DeviceContext* context)
{
    return InvalidateKeyCacheFlag(context, &KeyCacheRecord::agreementKeyParametersValid);
}

uint32_t InvalidateAgreementPublicKeyCache(DeviceContext* context)
{
    return InvalidateKeyCacheFlag(context, &KeyCacheRecord::agreementPublicKeyValid);
}

int InitHandleTable()
{
    if (g_borrowedReady.load()) return 1;
    if (!OpenGlobalMutex()) return 0;
    if (WaitGlobalMutex() != 0) return 0;
    if (!g_borrowedReady.load()) {
        std::memset(g_borrowed, 0, sizeof(g_borrowed));
        InitializeCriticalSection(&g_borrowedLock);
        g_borrowedReady.store(true);
    }
    ReleaseGlobalMutex();
    return 1;
}

uint32_t RegisterBorrowedHandle(const BorrowedHandlePair* pair, uint32_t* id)
{
    if (pair == nullptr || id == nullptr) return KEYERR_BAD_PARAMETER;
    if (!InitHandleTable()) return KEYERR_GENERAL_FAILURE;
    uint32_t result = KEYERR_NO_MEMORY;
    EnterCriticalSection(&g_borrowedLock);
    for (uint32_t i = 0; i < BORROWED_HANDLE_ENTRIES; ++i) {
        if (!InUse(g_borrowed[i])) {
            g_borrowed[i] = *pair;
            *id = i | BORROWED_HANDLE_BASE;
            result = 0;
            break;
        }
    }
    LeaveCriticalSection(&g_borrowedLock);
    return result;
}

uint32_t UnregisterBorrowedHandle(uint32_t id)
{
    if (!LooksBorrowed(id) || BorrowedIndex(id) >= BORROWED_HANDLE_ENTRIES) return KEYERR_BAD_PARAMETER;
    if (!InitHandleTable()) return KEYERR_GENERAL_FAILURE;
    EnterCriticalSection(&g_borrowedLock);
    BorrowedHandlePair& e = g_borrowed[BorrowedIndex(id)];
    const bool used = InUse(e);
    e = BorrowedHandlePair{};
    LeaveCriticalSection(&g_borrowedLock);
    return used ? 0 : KEYERR_NOT_FOUND;
}

uint32_t GetBorrowedHandleId(uint32_t ordinal, uint32_t* id)
{
    if (id == nullptr) return KEYERR_BAD_PARAMETER;
    if (!InitHandleTable()) return KEYERR_GENERAL_FAILURE;
    uint32_t result = KEYERR_NOT_FOUND;
    uint32_t seen = 0;
    EnterCriticalSection(&g_borrowedLock);
    for (uint32_t i = 0; i < BORROWED_HANDLE_ENTRIES; ++i) {
        if (!InUse(g_borrowed[i])) continue;
        if (seen++ == ordinal) {
            *id = i | BORROWED_HANDLE_BASE;
            result = 0;
            break;
        }
    }
    LeaveCriticalSection(&g_borrowedLock);
    return result;
}
