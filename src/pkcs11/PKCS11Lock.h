// The lock layer of the PKCS#11 framework: mutexes made either on the
// application's callbacks from CK_C_INITIALIZE_ARGS or on the Win32 layer's
// critical sections, the one-mutex lock that most framework classes carry,
// and a writer-preferring readers/writer lock.
#ifndef QVK_PKCS11_PKCS11LOCK_H
#define QVK_PKCS11_PKCS11LOCK_H

#include <cstdint>

#include "pkcs11/pkcs11ua.h"

// The callbacks new mutexes are made with: the application's when all four
// are given and CKF_OS_LOCKING_OK is not set, else the platform's. Each
// mutex remembers the callbacks it was made with, so these can be replaced
// or cleared while older mutexes still exist. args NULL clears them.
void SetMutexCallbacks(const CK_C_INITIALIZE_ARGS* args);
// True when the mutexes made from now on use the application's callbacks.
bool UsesApplicationMutexes();

// Every mutex of the layer may be taken again by the thread that holds it,
// the application's too (the layer counts the depth on top of them).
CK_RV MutexLayerCreate(void** mutex);
CK_RV MutexLayerLock(void* mutex);
CK_RV MutexLayerUnlock(void* mutex);
CK_RV MutexLayerDestroy(void* mutex);
bool IsLockingEnabled();

class PKCS11Lock {
public:
    PKCS11Lock();
    virtual ~PKCS11Lock();
    PKCS11Lock(const PKCS11Lock&) = delete;
    PKCS11Lock& operator=(const PKCS11Lock&) = delete;

    // A lock whose mutex could not be made answers with that error.
    CK_RV Lock();
    CK_RV Unlock();
    CK_RV CreationError() const { return creationError_; }

private:
    void* mutex_ = nullptr;
    CK_RV creationError_ = CKR_OK;
};

// Holds a PKCS11Lock for a scope; Result() is the lock's answer.
class PKCS11LockGuard {
public:
    explicit PKCS11LockGuard(PKCS11Lock& lock) : lock_(lock), result_(lock.Lock()) {}
    ~PKCS11LockGuard()
    {
        if (result_ == CKR_OK) lock_.Unlock();
    }
    PKCS11LockGuard(const PKCS11LockGuard&) = delete;
    PKCS11LockGuard& operator=(const PKCS11LockGuard&) = delete;
    CK_RV Result() const { return result_; }

private:
    PKCS11Lock& lock_;
    CK_RV result_;
};

// Writer-preferring readers/writer lock: once a writer has entered, no new
// reader gets in; the writer waits for the readers already inside.
class PKCS11RWLock {
public:
    PKCS11RWLock();
    virtual ~PKCS11RWLock();
    PKCS11RWLock(const PKCS11RWLock&) = delete;
    PKCS11RWLock& operator=(const PKCS11RWLock&) = delete;

    CK_RV ReadLock();
    // CKR_MUTEX_NOT_LOCKED when no reader holds the lock.
    CK_RV ReadUnlock();
    CK_RV WriteLock();
    CK_RV WriteUnlock();
    CK_RV CreationError() const { return creationError_; }

private:
    void* entryMutex_ = nullptr;   // guards the reader count
    void* writerMutex_ = nullptr;  // held by a writer throughout, briefly by each entering reader
    CK_RV creationError_ = CKR_OK;
    std::uint32_t readers_ = 0;
    bool writerWaiting_ = false;
    void* event_ = nullptr;  // auto-reset: the last reader out wakes the waiting writer
};

#endif
