// Internals shared by the translation units of the device layer.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstring>

#include "crypto/SecureWipe.h"
#include "device/DeviceProtocol.h"
#include "device/DeviceSharedRecords.h"

namespace qvkdev {

// Waits and retry budgets. Tests shorten them; nothing else changes them.
struct Timings {
    uint32_t mutexWaitMs = 15000;    // every wait on a named mutex
    uint32_t retryBudgetMs = 15000;  // busy / not-ready repetitions while a key is held
    uint32_t retryPauseMs = 10;
};
Timings& DeviceTimings();

// Measures the retry budget of one operation.
class RetryBudget {
public:
    RetryBudget() : start_(std::chrono::steady_clock::now()) {}
    bool Exhausted() const
    {
        return std::chrono::steady_clock::now() - start_ >= std::chrono::milliseconds(DeviceTimings().retryBudgetMs);
    }
    // Pauses before the next try; false when the budget is spent.
    bool PauseAndContinue();

private:
    std::chrono::steady_clock::time_point start_;
};

using qvkcrypto::SecureWipe;
void Pause(uint32_t ms);

// ---- Global mutex and shared memories (DeviceLocks.cpp) ----
uint32_t WaitGlobalMutex();  // 0 or 24
void ReleaseGlobalMutex();
DeviceCacheRecord* DeviceCacheView();  // null until mapped
KeyCacheRecord* KeyCacheView();
// The session-share record beside a device-cache record; global mutex held.
SessionShareRecord* SessionShareOf(const DeviceCacheRecord* record);
DeviceCacheRecord* FindDeviceRecord(uint32_t serial);
DeviceCacheRecord* FindFreeDeviceRecord();
KeyCacheRecord* FindKeyRecord(uint32_t serial);
KeyCacheRecord* FindOrClaimKeyRecord(uint32_t serial);
// An id names a borrowed connection only while its table entry is in use.
bool IsBorrowedIdInUse(uint32_t id, BorrowedHandlePair* pair);

// Holds the per-key mutex, then the global mutex, with the shared memories
// set up; releases in reverse. status(): 0, 24 (a mutex not obtained) or 100
// (no shared memory); failed() names the step for callers that report it.
class KeyAndCacheLock {
public:
    enum class Step { None, KeyMutex, SharedMemory, GlobalMutex };
    explicit KeyAndCacheLock(DeviceContext* c) : c_(c)
    {
        if (WaitDeviceMutex(c) != 0) {
            Fail(Step::KeyMutex, KEYERR_DEVICE_BUSY);
            return;
        }
        keyHeld_ = true;
        if (!OpenSharedMemory()) {
            Fail(Step::SharedMemory, KEYERR_GENERAL_FAILURE);
            return;
        }
        if (WaitGlobalMutex() != 0) {
            Fail(Step::GlobalMutex, KEYERR_DEVICE_BUSY);
            return;
        }
        globalHeld_ = true;
        status_ = 0;
    }
    ~KeyAndCacheLock() { Release(); }
    KeyAndCacheLock(const KeyAndCacheLock&) = delete;
    KeyAndCacheLock& operator=(const KeyAndCacheLock&) = delete;
    uint32_t status() const { return status_; }
    Step failed() const { return failed_; }
    // Gives both mutexes back early (for a caller that logs after releasing).
    void Release()
    {
        if (globalHeld_) ReleaseGlobalMutex();
        if (keyHeld_) ReleaseDeviceMutex(c_);
        globalHeld_ = keyHeld_ = false;
    }

private:
    void Fail(Step step, uint32_t status)
    {
        Release();  // a failed lock holds nothing
        failed_ = step;
        status_ = status;
    }
    DeviceContext* c_;
    uint32_t status_ = KEYERR_GENERAL_FAILURE;
    Step failed_ = Step::None;
    bool keyHeld_ = false;
    bool globalHeld_ = false;
};

// ---- PC/SC port (PcscPort.cpp; the only unit that includes winscard.h) ----
namespace pcsc {
constexpr long kNoReadersAvailable = 0x8010002E;
long EstablishContext(intptr_t* context);
long ListReaders(intptr_t context, char* buffer, uint32_t* length);
long ConnectShared(intptr_t context, const char* reader, intptr_t* card);
// T=1 exchange; *receivedLength holds the buffer size on entry.
long Transmit(intptr_t card, const uint8_t* send, uint32_t sendLength, uint8_t* receive, uint32_t* receivedLength);
long GetSystemName(intptr_t card, char* buffer, uint32_t* length);
long Disconnect(intptr_t card);
long ReleaseContext(intptr_t context);
}  // namespace pcsc

// ---- Cipher and hash steps (DeviceCrypto.cpp) ----
// All return 0, 4 (no context) or 100 (a step failed) unless said otherwise.
extern const uint8_t kDefaultGostSBox[64];
uint32_t Dstu7624Cmac64(const uint8_t key[32], const uint8_t* data, uint32_t bits, uint8_t mac[8]);
uint32_t Dstu7624Ecb(const uint8_t key[32], uint8_t* data, uint32_t blocks, bool encrypt);
bool Gost28147Mac(const uint8_t key[32], const uint8_t* data, uint32_t length, uint8_t mac[4]);
bool Gost28147Ecb(const uint8_t key[32], uint8_t* data, uint32_t blocks, bool encrypt);
uint32_t Hash7564(const uint8_t* data, size_t length, uint8_t out[32]);
bool Hash34311(const uint8_t* data, size_t length, uint8_t out[32]);
// V = H^10000(data); P = H(V) when packetKey is given.
uint32_t IterateHash7564(const uint8_t* data, size_t length, uint8_t value[32], uint8_t* packetKey);
bool IterateHash34311(const uint8_t* data, size_t length, uint8_t value[32], uint8_t* packetKey);

// ---- Shared helpers ----
inline uint32_t BlockSizeFor(uint8_t version)
{
    return version < DEVICE_NEW_FORM_VERSION ? DEVICE_BLOCK_SIZE_OLD : DEVICE_BLOCK_SIZE_NEW;
}
inline bool UsesNewLoginScheme(const DeviceContext* c)
{
    return c->version >= DEVICE_NEW_FORM_VERSION && (c->capabilities & DEVICE_CAP_NEW_PASSWORD) != 0;
}
void InitRequest(DeviceBlock* block, uint8_t command, uint8_t parameter);
// The shared answer checks after a protected request.
uint32_t CheckProtectedAnswer(DeviceContext* context, DeviceBlock* block, uint32_t transport, bool mustBeEncrypted);
// One request under the session key (mode 2), sent, and the shared answer
// checks; mustBeEncrypted refuses an answer of mode 1 too.
uint32_t ProtectedExchange(DeviceContext* context, DeviceBlock* block, bool mustBeEncrypted);
// ProtectedExchange of one request: `in` goes to the data area, `out` takes
// the first data bytes of the answer; the block is wiped.
uint32_t SingleExchange(DeviceContext* context, uint8_t command, uint8_t parameter, const uint8_t* in,
                        uint32_t inLength, uint8_t* out, uint32_t outLength, bool mustBeEncrypted);
// Chunked protected request: parameter = options OR chunk index, data in
// BlockDataSize pieces, the shared answer checks; the first failure ends it.
uint32_t SendChunked(DeviceContext* context, uint8_t command, const uint8_t* data, uint32_t length, uint8_t options);
// Password length in bytes, or SIZE_MAX when it is null or longer than 64.
size_t PasswordLength(const char* password);
void LogDeviceError(const char* text);
uint32_t SessionProbe(DeviceContext* context);
// Undoes this context's share of the record's session (count clamped at 0,
// last user logs the key out and wipes the shared fields). Global mutex held.
uint32_t DropSessionShare(DeviceContext* context, DeviceCacheRecord* record);
// Ends the record's shared session: count 0, shared fields wiped, and a new
// generation, so no context from before holds a share any longer.
void ClearSharedSession(DeviceCacheRecord* record);
// Gives back the shares of processes that have gone; when none is left, the
// shared session and the private image are wiped. Global mutex held.
void ReleaseDeadHolders(DeviceCacheRecord* record);
// True when the context holds a share of the record's current session.
// ChangeDevicePassword; announce false for a change to the same password (the
// scheme upgrade at login), which leaves the other sharers' passwords current.
uint32_t ChangePasswordOnKey(DeviceContext* context, const char* newPassword, bool announce);
bool HoldsCurrentShare(const DeviceContext* context, DeviceCacheRecord* record);

}  // namespace qvkdev
