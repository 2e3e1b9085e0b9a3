// One open key (DeviceContext), the records of the shared memories that all
// processes of both libraries map (a cross-process format), the names of the
// named objects, borrowed PC/SC connections, and the locks and caches.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "device/DeviceBlock.h"
#include "device/DeviceStatus.h"

static_assert(std::endian::native == std::endian::little, "shared records and wire blocks are stored little-endian");

// Device information (data bytes 0..15 of the device-information answer).
struct DeviceInfo {
    uint32_t serial;
    uint8_t infoByte4;
    uint8_t version;
    uint8_t unused6;
    uint8_t state;          // bit 7: not ready
    uint32_t capabilities;  // 0xFFFFFFFF = none; 0x200 new password scheme; bits 28-31 failed tries
    uint32_t infoWord12;
};
static_assert(sizeof(DeviceInfo) == 16);

constexpr uint32_t DEVICE_CAP_NEW_PASSWORD = 0x200;
// The key blocks its password after this many failed tries in a row.
constexpr uint32_t DEVICE_PASSWORD_TRIES = 15;

// Failed password tries since the last good login, as the key reports them
// (a key that reports no capabilities at all has none).
constexpr uint32_t FailedPasswordTries(const DeviceInfo& info)
{
    return info.capabilities == 0xFFFFFFFFu ? 0 : info.capabilities >> 28;
}

// ---------------------------------------------------------------------------
// One open key (in memory only).
struct DeviceContext {
    intptr_t cardHandle;  // SCARDHANDLE
    void* deviceMutex;    // per-key named mutex, or null
    uint32_t deviceId;    // serial (or the borrowed id while opening)
    uint32_t capabilities;
    uint8_t version;
    uint8_t loggedIn;
    uint32_t borrowed;  // 1: the PC/SC handles belong to the caller
    uint8_t sessionKey[32];
    uint8_t publicImage[4096];
    intptr_t pcscContext;  // SCARDCONTEXT
    uint8_t privateImage[3072];
    uint8_t encryptedPassword[64];
    uint8_t lastSampleLength;
    uint8_t lastSample[8];
    // This context's share of the key's shared session: held only while
    // `sharesSession` is set and `shareGeneration` equals the generation of
    // the key's SessionShareRecord (a format or the last logout ends it).
    uint8_t sharesSession;
    uint32_t shareGeneration;
    // Password generation the kept password belongs to; an older one means
    // another context has changed the password since.
    uint32_t passwordGeneration;
    // The storage change mark (DeviceStorage.cpp). How often this context's
    // thread holds the per-key mutex, and what its outermost hold has done:
    // compared the key's mark with the images (markChecked), moved it before
    // its first memory write (markMoved).
    uint32_t holdDepth;
    uint8_t markChecked;
    uint8_t markMoved;
    uint8_t markSupported;  // the key keeps auxiliary data, where the mark lives
    uint32_t keyMark;       // the key's mark as this hold knows it (0: unknown)
    // privateImage is this context's own: it holds the key's private area
    // while privateCopyValid is set and the key's mark is privateCopyMark.
    uint8_t privateCopyValid;
    uint32_t privateCopyMark;
    // Page copies of an interrupted area write that this hold found on the
    // key and could not complete (not logged in): bytes 4..15 of the
    // auxiliary record, kept by every mark move until a writer completes them.
    uint8_t copiesPending;
    uint8_t pendingCopies[12];
};

// ---------------------------------------------------------------------------
// Records of the two shared memories (cross-process format).
struct DeviceCacheRecord {
    uint32_t serial;
    int32_t sessionUsers;
    // The session key under a hash of the salt and the password. Nothing kept
    // here tells a right password from a wrong one: a joiner confirms the key
    // it derives with the key itself.
    uint8_t encryptedSessionKey[32];
    uint8_t sessionSalt[32];  // random, new with every saved session
    uint8_t publicImage[4096];
    uint8_t privateImage[3072];
    uint32_t publicImageValid;
    uint32_t privateImageValid;
    int32_t openCount;
};
static_assert(sizeof(DeviceCacheRecord) == 7252);
static_assert(offsetof(DeviceCacheRecord, sessionUsers) == 4);
static_assert(offsetof(DeviceCacheRecord, encryptedSessionKey) == 8);
static_assert(offsetof(DeviceCacheRecord, sessionSalt) == 40);
static_assert(offsetof(DeviceCacheRecord, publicImage) == 72);
static_assert(offsetof(DeviceCacheRecord, privateImage) == 4168);
static_assert(offsetof(DeviceCacheRecord, publicImageValid) == 7240);
static_assert(offsetof(DeviceCacheRecord, privateImageValid) == 7244);
static_assert(offsetof(DeviceCacheRecord, openCount) == 7248);

struct KeyCacheRecord {
    uint32_t serial;
    uint8_t signKeyParameters[240];
    uint32_t signKeyParametersPresent;
    uint32_t signKeyParametersValid;
    uint8_t signPublicKey[64];
    uint32_t signPublicKeyPresent;
    uint32_t signPublicKeyValid;
    uint8_t agreementKeyParameters[240];
    uint32_t agreementKeyParametersPresent;
    uint32_t agreementKeyParametersValid;
    uint8_t agreementPublicKey[72];
    uint32_t agreementPublicKeyPresent;
    uint32_t agreementPublicKeyValid;
};
static_assert(sizeof(KeyCacheRecord) == 652);
static_assert(offsetof(KeyCacheRecord, signKeyParameters) == 4);
static_assert(offsetof(KeyCacheRecord, signKeyParametersPresent) == 244);
static_assert(offsetof(KeyCacheRecord, signKeyParametersValid) == 248);
static_assert(offsetof(KeyCacheRecord, signPublicKey) == 252);
static_assert(offsetof(KeyCacheRecord, signPublicKeyPresent) == 316);
static_assert(offsetof(KeyCacheRecord, signPublicKeyValid) == 320);
static_assert(offsetof(KeyCacheRecord, agreementKeyParameters) == 324);
static_assert(offsetof(KeyCacheRecord, agreementKeyParametersPresent) == 564);
static_assert(offsetof(KeyCacheRecord, agreementKeyParametersValid) == 568);
static_assert(offsetof(KeyCacheRecord, agreementPublicKey) == 572);
static_assert(offsetof(KeyCacheRecord, agreementPublicKeyPresent) == 644);
static_assert(offsetof(KeyCacheRecord, agreementPublicKeyValid) == 648);

// A process that holds shares of a key's session: a dead one's shares are
// given back by the next process that looks, so a session (and whatever
// hangs on it) never outlives the last live holder.
struct SessionHolder {
    uint32_t pid;         // 0: free entry
    uint32_t shares;      // contexts of that process counted in sessionUsers
    uint64_t startTicks;  // the process's start time, so a reused pid is no holder
};
static_assert(sizeof(SessionHolder) == 16);
constexpr uint32_t SESSION_HOLDERS = 16;

// Record i of the session-share memory belongs to device-cache record i. The
// device-cache record has no free byte, so what ends or re-keys the shared
// session lives beside it in a memory of its own (same lifetime: every
// process maps the three memories together).
struct SessionShareRecord {
    uint32_t serial;              // serial of device-cache record i once touched
    uint32_t generation;          // +1 whenever the shared session ends (format, last logout)
    uint32_t passwordGeneration;  // +1 whenever the key's password is changed or set by a format
    uint32_t storageMark;         // the key's storage mark the public image was read or written at (0: none)
    SessionHolder holders[SESSION_HOLDERS];
};
static_assert(sizeof(SessionShareRecord) == 16 + 16 * SESSION_HOLDERS);
static_assert(offsetof(SessionShareRecord, generation) == 4 && offsetof(SessionShareRecord, holders) == 16);

constexpr uint32_t DEVICE_CACHE_RECORDS = 128;
constexpr uint32_t DEVICE_CACHE_SIZE = DEVICE_CACHE_RECORDS * sizeof(DeviceCacheRecord);  // 0xE2A00
constexpr uint32_t KEY_CACHE_SIZE = DEVICE_CACHE_RECORDS * sizeof(KeyCacheRecord);        // 0x14600
static_assert(DEVICE_CACHE_SIZE == 0xE2A00 && KEY_CACHE_SIZE == 0x14600);
constexpr uint32_t SESSION_SHARE_SIZE = DEVICE_CACHE_RECORDS * sizeof(SessionShareRecord);  // 0x8800

// Names of the cross-process objects.
#define QVK_DEVICE_MUTEX_PREFIX "Global\\QuorKorvo7QOpenMutex"
#define QVK_GLOBAL_MUTEX_NAME "Global\\QuorKorvo7QMutex"
#define QVK_DEVICE_MEMORY_NAME "Global\\QuorKorvo7QMemory"
#define QVK_DEVICE_MEMORY_LOCAL_NAME "Local\\QuorKorvo7QMemory"
#define QVK_KEYS_MEMORY_NAME "Global\\QuorKorvo7QKeysMemory"
#define QVK_KEYS_MEMORY_LOCAL_NAME "Local\\QuorKorvo7QKeysMemory"
#define QVK_SESSION_MEMORY_NAME "Global\\QuorKorvo7QSessionMemory"
#define QVK_SESSION_MEMORY_LOCAL_NAME "Local\\QuorKorvo7QSessionMemory"
#define QVK_READER_PREFIX "TVR Q.uor Korvo-7Q"
constexpr size_t QVK_READER_PREFIX_LENGTH = 18;

// ---------------------------------------------------------------------------
// Borrowed PC/SC connections.
struct BorrowedHandlePair {
    intptr_t pcscContext;  // SCARDCONTEXT
    intptr_t cardHandle;   // SCARDHANDLE
};
constexpr uint32_t BORROWED_HANDLE_BASE = 0xF4100;
constexpr uint32_t BORROWED_HANDLE_ENTRIES = 128;

// ---------------------------------------------------------------------------
// Locks and shared caches.
uint32_t WaitDeviceMutex(DeviceContext* context);
void ReleaseDeviceMutex(DeviceContext* context);
uint32_t LockDevice(DeviceContext* context);
uint32_t UnlockDevice(DeviceContext* context);
// Writes the per-key mutex name for a reader name; false when it does not fit.
bool MakeDeviceMutexName(const char* readerName, char* out, size_t outSize);
void* OpenDeviceMutex(const char* name);
int OpenSecurityDescriptor(void* descriptor);
int OpenGlobalMutex();
int OpenSharedMemory();
void CloseSharedMemory();
uint32_t ReleaseDeviceCache(const uint32_t* deviceId);
uint32_t InvalidateSignatureKeyParametersCache(DeviceContext* context);
uint32_t InvalidateSignaturePublicKeyCache(DeviceContext* context);
uint32_t InvalidateAgreementKeyParametersCache(DeviceContext* context);
uint32_t InvalidateAgreementPublicKeyCache(DeviceContext* context);
int InitHandleTable();
uint32_t RegisterBorrowedHandle(const BorrowedHandlePair* pair, uint32_t* id);
uint32_t UnregisterBorrowedHandle(uint32_t id);
uint32_t GetBorrowedHandleId(uint32_t ordinal, uint32_t* id);
