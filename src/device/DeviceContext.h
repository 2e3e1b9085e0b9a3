// One open key (DeviceContext), borrowed PC/SC connections, and the locks and
// caches. The shared memories' records are the device layer's own.
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
// Records of the shared memories that all processes of both libraries map:
// their layouts are the device layer's own (DeviceSharedRecords.h); users
// see them only through the functions below.
struct DeviceCacheRecord;
struct KeyCacheRecord;
struct SessionShareRecord;

// The key readers' name prefix.
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
