// The records of the shared memories that all processes of both libraries
// map (a cross-process format, so fixed-width fields and fixed offsets), their
// sizes and the names of the cross-process objects. Only the device layer and
// its own tests read them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "device/DeviceContext.h"

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
