// Mutexes, events, waits and critical sections.
#include "Internal.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <pthread.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

namespace wemu {
namespace {

constexpr uint32_t kMutexReady = 0x574D5458;  // "WMTX"

// The record a named mutex keeps in shared memory. A robust, recursive,
// process-shared mutex gives the Win32 behaviour: same object in every
// process, re-entry by the owner, and EOWNERDEAD (WAIT_ABANDONED) when the
// owner died holding it.
struct SharedMutexRecord {
    std::atomic<uint32_t> ready;
    uint32_t reserved;
    pthread_mutex_t mutex;
};

void initMutexRecord(void* base)
{
    auto* rec = static_cast<SharedMutexRecord*>(base);
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
    pthread_mutex_init(&rec->mutex, &attr);
    pthread_mutexattr_destroy(&attr);
    rec->ready.store(kMutexReady, std::memory_order_release);
}

bool mutexRecordValid(const void* base, size_t size)
{
    return size >= sizeof(SharedMutexRecord) &&
           static_cast<const SharedMutexRecord*>(base)->ready.load(std::memory_order_acquire) == kMutexReady;
}

struct MutexObject : Object {
    MutexObject() : Object(Kind::Mutex) {}
    ~MutexObject() override;
    std::shared_ptr<SharedObject> shared;
    pthread_mutex_t* mutex() const { return &static_cast<SharedMutexRecord*>(shared->base())->mutex; }
};

// Win32 lets a thread close its last handle to a mutex it still owns; the
// mutex stays owned until the thread ends. The C library's list of held
// robust mutexes runs through the mutexes themselves, so such a mutex must
// stay mapped: its mapping is left in place (the name is still released).
MutexObject::~MutexObject()
{
    if (shared && shared->base() && (mutex()->__data.__owner & 0x3FFFFFFF) == static_cast<int>(syscall(SYS_gettid)))
        shared->keepMapped();
}

struct EventObject : Object {
    EventObject() : Object(Kind::Event) {}
    std::mutex lock;
    std::condition_variable changed;
    bool manualReset = false;
    bool signaled = false;
};

DWORD waitMutex(MutexObject& m, DWORD milliseconds)
{
    int rc;
    if (milliseconds == INFINITE) {
        rc = pthread_mutex_lock(m.mutex());
    } else if (milliseconds == 0) {
        rc = pthread_mutex_trylock(m.mutex());
        if (rc == EBUSY) rc = ETIMEDOUT;
    } else {
        struct timespec deadline;
        clock_gettime(CLOCK_MONOTONIC, &deadline);
        deadline.tv_sec += milliseconds / 1000;
        deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
        if (deadline.tv_nsec >= 1000000000L) {
            deadline.tv_sec += 1;
            deadline.tv_nsec -= 1000000000L;
        }
        rc = pthread_mutex_clocklock(m.mutex(), CLOCK_MONOTONIC, &deadline);
    }
    switch (rc) {
    case 0:
        return WAIT_OBJECT_0;
    case ETIMEDOUT:
        return WAIT_TIMEOUT;
    case EOWNERDEAD:
        // The previous owner died holding it: ours now, and consistent again.
        pthread_mutex_consistent(m.mutex());
        return WAIT_ABANDONED;
    default:
        setErrno(rc);
        return WAIT_FAILED;
    }
}

DWORD waitEvent(EventObject& e, DWORD milliseconds)
{
    std::unique_lock<std::mutex> g(e.lock);
    auto ready = [&] { return e.signaled; };
    if (milliseconds == INFINITE) {
        e.changed.wait(g, ready);
    } else if (!e.changed.wait_for(g, std::chrono::milliseconds(milliseconds), ready)) {
        return WAIT_TIMEOUT;
    }
    if (!e.manualReset) e.signaled = false;
    return WAIT_OBJECT_0;
}

}  // namespace
}  // namespace wemu

using namespace wemu;

extern "C" {

HANDLE CreateMutex(LPSECURITY_ATTRIBUTES, BOOL initialOwner, LPCSTR name)
{
    if (injectedFailure("CreateMutex")) return nullptr;
    auto m = std::make_shared<MutexObject>();
    bool existed = false;
    if (name)
        m->shared = SharedObject::open(sharedObjectName('m', name), sizeof(SharedMutexRecord), true, initMutexRecord,
                                       mutexRecordValid, existed);
    else
        m->shared = SharedObject::anonymous(sizeof(SharedMutexRecord), true, initMutexRecord);
    if (!m->shared) return nullptr;
    if (initialOwner && !existed) pthread_mutex_lock(m->mutex());
    HANDLE h = registerHandle(m);
    setError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return h;
}

BOOL ReleaseMutex(HANDLE h)
{
    auto object = lookupHandle(h, Kind::Mutex);
    if (!object) return FALSE;
    int rc = pthread_mutex_unlock(static_cast<MutexObject&>(*object).mutex());
    if (rc != 0) {
        setError(rc == EPERM ? ERROR_NOT_OWNER : errorFromErrno(rc));
        return FALSE;
    }
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE h, DWORD milliseconds)
{
    if (injectedFailure("WaitForSingleObject")) return WAIT_FAILED;
    auto object = lookupAnyHandle(h);
    if (!object) return WAIT_FAILED;
    switch (object->kind) {
    case Kind::Mutex:
        return waitMutex(static_cast<MutexObject&>(*object), milliseconds);
    case Kind::Event:
        return waitEvent(static_cast<EventObject&>(*object), milliseconds);
    default:
        setError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
}

HANDLE CreateEvent(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCSTR name)
{
    if (injectedFailure("CreateEvent")) return nullptr;
    if (name) {
        // Only in-process events are offered; nothing here names one.
        setError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    auto e = std::make_shared<EventObject>();
    e->manualReset = manualReset != FALSE;
    e->signaled = initialState != FALSE;
    HANDLE h = registerHandle(e);
    setError(ERROR_SUCCESS);
    return h;
}

BOOL SetEvent(HANDLE h)
{
    auto object = lookupHandle(h, Kind::Event);
    if (!object) return FALSE;
    auto& e = static_cast<EventObject&>(*object);
    {
        std::lock_guard<std::mutex> g(e.lock);
        e.signaled = true;
    }
    if (e.manualReset)
        e.changed.notify_all();
    else
        e.changed.notify_one();
    return TRUE;
}

BOOL ResetEvent(HANDLE h)
{
    auto object = lookupHandle(h, Kind::Event);
    if (!object) return FALSE;
    auto& e = static_cast<EventObject&>(*object);
    std::lock_guard<std::mutex> g(e.lock);
    e.signaled = false;
    return TRUE;
}

// ---- Critical sections ----

static_assert(sizeof(pthread_mutex_t) <= sizeof(CRITICAL_SECTION::opaque), "CRITICAL_SECTION too small");
static_assert(alignof(pthread_mutex_t) <= alignof(CRITICAL_SECTION), "CRITICAL_SECTION misaligned");

static pthread_mutex_t* sectionMutex(LPCRITICAL_SECTION cs)
{
    return std::launder(reinterpret_cast<pthread_mutex_t*>(cs->opaque));
}

void InitializeCriticalSection(LPCRITICAL_SECTION cs)
{
    auto* m = new (cs->opaque) pthread_mutex_t;
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(m, &attr);
    pthread_mutexattr_destroy(&attr);
}

void EnterCriticalSection(LPCRITICAL_SECTION cs)
{
    pthread_mutex_lock(sectionMutex(cs));
}

BOOL TryEnterCriticalSection(LPCRITICAL_SECTION cs)
{
    return pthread_mutex_trylock(sectionMutex(cs)) == 0;
}

void LeaveCriticalSection(LPCRITICAL_SECTION cs)
{
    pthread_mutex_unlock(sectionMutex(cs));
}

void DeleteCriticalSection(LPCRITICAL_SECTION cs)
{
    pthread_mutex_destroy(sectionMutex(cs));
}

}  // extern "C"
