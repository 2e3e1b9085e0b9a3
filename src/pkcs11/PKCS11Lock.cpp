#include "pkcs11/PKCS11Lock.h"

#include <atomic>
#include <mutex>
#include <new>
#include <thread>
#include <utility>
#include <vector>

#include "wemu.h"

namespace {

struct MutexCallbacks {
    CK_CREATEMUTEX create = nullptr;
    CK_DESTROYMUTEX destroy = nullptr;
    CK_LOCKMUTEX lock = nullptr;
    CK_UNLOCKMUTEX unlock = nullptr;
};

std::mutex g_callbacksLock;
MutexCallbacks g_callbacks;  // all null: platform mutexes

// One mutex of the layer. It carries the callbacks it was made with, so a
// later C_Initialize with other arguments (or none) never sends it to the
// wrong layer. Application mutexes need not be recursive: the owner and the
// depth are kept here and only the outermost Lock/Unlock reach them.
struct LayerMutex {
    MutexCallbacks callbacks;
    void* applicationMutex = nullptr;
    std::atomic<std::thread::id> owner{};
    unsigned depth = 0;
    CRITICAL_SECTION section;

    bool IsApplication() const { return callbacks.create != nullptr; }
};

MutexCallbacks CurrentCallbacks()
{
    std::lock_guard<std::mutex> guard(g_callbacksLock);
    return g_callbacks;
}

}  // namespace

void SetMutexCallbacks(const CK_C_INITIALIZE_ARGS* args)
{
    MutexCallbacks made;
    if (args != nullptr && args->CreateMutex != nullptr && args->DestroyMutex != nullptr &&
        args->LockMutex != nullptr && args->UnlockMutex != nullptr && (args->flags & CKF_OS_LOCKING_OK) == 0) {
        made.create = args->CreateMutex;
        made.destroy = args->DestroyMutex;
        made.lock = args->LockMutex;
        made.unlock = args->UnlockMutex;
    }
    std::lock_guard<std::mutex> guard(g_callbacksLock);
    g_callbacks = made;
}

bool UsesApplicationMutexes()
{
    return CurrentCallbacks().create != nullptr;
}

bool IsLockingEnabled()
{
    return true;
}

CK_RV MutexLayerCreate(void** mutex)
{
    if (mutex == nullptr) return CKR_ARGUMENTS_BAD;
    *mutex = nullptr;
    auto* made = new (std::nothrow) LayerMutex;
    if (made == nullptr) return CKR_HOST_MEMORY;
    made->callbacks = CurrentCallbacks();
    if (made->IsApplication()) {
        CK_RV rv = made->callbacks.create(&made->applicationMutex);
        if (rv != CKR_OK) {
            delete made;
            return rv;
        }
    } else {
        InitializeCriticalSection(&made->section);
    }
    *mutex = made;
    return CKR_OK;
}

CK_RV MutexLayerLock(void* mutex)
{
    auto* m = static_cast<LayerMutex*>(mutex);
    if (m == nullptr) return CKR_MUTEX_BAD;
    if (!m->IsApplication()) {
        EnterCriticalSection(&m->section);
        return CKR_OK;
    }
    const std::thread::id self = std::this_thread::get_id();
    if (m->owner.load() == self) {
        ++m->depth;
        return CKR_OK;
    }
    CK_RV rv = m->callbacks.lock(m->applicationMutex);
    if (rv != CKR_OK) return rv;
    m->owner.store(self);
    m->depth = 1;
    return CKR_OK;
}

CK_RV MutexLayerUnlock(void* mutex)
{
    auto* m = static_cast<LayerMutex*>(mutex);
    if (m == nullptr) return CKR_MUTEX_BAD;
    if (!m->IsApplication()) {
        LeaveCriticalSection(&m->section);
        return CKR_OK;
    }
    if (m->owner.load() != std::this_thread::get_id()) return CKR_MUTEX_NOT_LOCKED;
    if (--m->depth > 0) return CKR_OK;
    m->owner.store(std::thread::id());
    return m->callbacks.unlock(m->applicationMutex);
}

CK_RV MutexLayerDestroy(void* mutex)
{
    auto* m = static_cast<LayerMutex*>(mutex);
    if (m == nullptr) return CKR_MUTEX_BAD;
    CK_RV rv = CKR_OK;
    if (m->IsApplication())
        rv = m->callbacks.destroy(m->applicationMutex);
    else
        DeleteCriticalSection(&m->section);
    delete m;
    return rv;
}

// ---- PKCS11Lock ----

PKCS11Lock::PKCS11Lock()
{
    if (IsLockingEnabled()) creationError_ = MutexLayerCreate(&mutex_);
}

PKCS11Lock::~PKCS11Lock()
{
    if (creationError_ == CKR_OK && mutex_ != nullptr) MutexLayerDestroy(mutex_);
}

CK_RV PKCS11Lock::Lock()
{
    if (!IsLockingEnabled()) return CKR_OK;
    if (creationError_ != CKR_OK) return creationError_;
    return MutexLayerLock(mutex_);
}

CK_RV PKCS11Lock::Unlock()
{
    if (!IsLockingEnabled()) return CKR_OK;
    if (creationError_ != CKR_OK) return creationError_;
    return MutexLayerUnlock(mutex_);
}

// ---- PKCS11RWLock ----

PKCS11RWLock::PKCS11RWLock()
{
    creationError_ = MutexLayerCreate(&entryMutex_);
    if (creationError_ != CKR_OK) return;
    creationError_ = MutexLayerCreate(&writerMutex_);
    if (creationError_ != CKR_OK) {
        MutexLayerDestroy(entryMutex_);
        entryMutex_ = nullptr;
        return;
    }
    event_ = CreateEvent(nullptr, FALSE, FALSE, nullptr);
    if (event_ == nullptr) {
        MutexLayerDestroy(writerMutex_);
        MutexLayerDestroy(entryMutex_);
        writerMutex_ = entryMutex_ = nullptr;
        creationError_ = CKR_GENERAL_ERROR;
    }
}

PKCS11RWLock::~PKCS11RWLock()
{
    if (creationError_ != CKR_OK) return;
    MutexLayerDestroy(writerMutex_);
    MutexLayerDestroy(entryMutex_);
    CloseHandle(event_);
}

namespace {

// The read locks each thread holds, by lock: a reader that already holds one
// enters again without queueing behind a waiting writer (which waits for it).
thread_local std::vector<std::pair<const PKCS11RWLock*, unsigned>> t_readsHeld;

unsigned* HeldReads(const PKCS11RWLock* lock)
{
    for (auto& entry : t_readsHeld)
        if (entry.first == lock) return &entry.second;
    return nullptr;
}

}  // namespace

CK_RV PKCS11RWLock::ReadLock()
{
    if (creationError_ != CKR_OK) return creationError_;
    if (!IsLockingEnabled()) return CKR_OK;
    unsigned* held = HeldReads(this);
    const bool reentry = held != nullptr && *held > 0;
    CK_RV rv = CKR_OK;
    if (!reentry && (rv = MutexLayerLock(writerMutex_)) != CKR_OK) return rv;
    rv = MutexLayerLock(entryMutex_);
    if (rv != CKR_OK) {
        if (!reentry) MutexLayerUnlock(writerMutex_);
        return rv;
    }
    ++readers_;
    MutexLayerUnlock(entryMutex_);
    if (!reentry) MutexLayerUnlock(writerMutex_);
    if (held != nullptr)
        ++*held;
    else
        t_readsHeld.emplace_back(this, 1u);
    return CKR_OK;
}

CK_RV PKCS11RWLock::ReadUnlock()
{
    if (creationError_ != CKR_OK) return creationError_;
    if (!IsLockingEnabled()) return CKR_OK;
    CK_RV rv = MutexLayerLock(entryMutex_);
    if (rv != CKR_OK) return rv;
    if (readers_ == 0) {
        MutexLayerUnlock(entryMutex_);
        return CKR_MUTEX_NOT_LOCKED;
    }
    if (--readers_ == 0 && writerWaiting_) {
        writerWaiting_ = false;
        SetEvent(event_);
    }
    unsigned* held = HeldReads(this);
    if (held != nullptr && *held > 0 && --*held == 0) {
        for (auto it = t_readsHeld.begin(); it != t_readsHeld.end(); ++it)
            if (it->first == this) {
                t_readsHeld.erase(it);
                break;
            }
    }
    return MutexLayerUnlock(entryMutex_);
}

CK_RV PKCS11RWLock::WriteLock()
{
    if (creationError_ != CKR_OK) return creationError_;
    if (!IsLockingEnabled()) return CKR_OK;
    CK_RV rv = MutexLayerLock(writerMutex_);  // kept until WriteUnlock
    if (rv != CKR_OK) return rv;
    // The count is read under the entry mutex only: readers change it there.
    rv = MutexLayerLock(entryMutex_);
    if (rv != CKR_OK) {
        MutexLayerUnlock(writerMutex_);
        return rv;
    }
    const bool wait = readers_ != 0;
    writerWaiting_ = wait;
    rv = MutexLayerUnlock(entryMutex_);
    if (rv != CKR_OK) {
        MutexLayerUnlock(writerMutex_);
        return rv;
    }
    if (wait && WaitForSingleObject(event_, INFINITE) != WAIT_OBJECT_0) {
        MutexLayerUnlock(writerMutex_);
        return CKR_GENERAL_ERROR;
    }
    return CKR_OK;
}

CK_RV PKCS11RWLock::WriteUnlock()
{
    if (creationError_ != CKR_OK) return creationError_;
    if (!IsLockingEnabled()) return CKR_OK;
    return MutexLayerUnlock(writerMutex_);
}
