// Key device protocol: contexts, cross-process locks and caches, protected
// request blocks, discovery and open, password login, storage images and
// shared sessions of the hardware key reached as a PC/SC reader.
//
// Every operation returns 0 or a KeyStatus code unless said otherwise. The
// header deliberately includes neither the PC/SC headers nor the Win32 layer:
// their basic type names clash, so PC/SC handles travel as intptr_t (the
// width of SCARDHANDLE / SCARDCONTEXT on this platform) and the mutex handle
// as void*.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "support/DSTU4145Records.h"

static_assert(std::endian::native == std::endian::little,
              "shared records and wire blocks are stored little-endian");

// ---------------------------------------------------------------------------
// Status codes shared by the key's answers and the local failures.
using KeyStatus = uint32_t;
inline constexpr KeyStatus KEYERR_OK = 0;
inline constexpr KeyStatus KEYERR_NOT_FOUND = 1;
inline constexpr KeyStatus KEYERR_SEND_FAILED = 2;
inline constexpr KeyStatus KEYERR_RECEIVE_FAILED = 3;
inline constexpr KeyStatus KEYERR_NO_MEMORY = 4;
inline constexpr KeyStatus KEYERR_FILE_SYSTEM = 5;
inline constexpr KeyStatus KEYERR_NO_SPACE = 6;
inline constexpr KeyStatus KEYERR_FILE_EXISTS = 7;
inline constexpr KeyStatus KEYERR_BAD_PARAMETER = 8;
inline constexpr KeyStatus KEYERR_BUFFER_TOO_SHORT = 9;
inline constexpr KeyStatus KEYERR_BAD_REQUEST = 20;
inline constexpr KeyStatus KEYERR_NOT_AUTHENTICATED = 21;
inline constexpr KeyStatus KEYERR_ALREADY_AUTHENTICATED = 22;
inline constexpr KeyStatus KEYERR_WRONG_PASSWORD = 23;
inline constexpr KeyStatus KEYERR_DEVICE_BUSY = 24;
inline constexpr KeyStatus KEYERR_BAD_STATE = 25;
inline constexpr KeyStatus KEYERR_NO_KEY = 26;
inline constexpr KeyStatus KEYERR_KEY_NOT_EXPORTABLE = 27;
inline constexpr KeyStatus KEYERR_BAD_ADDRESS = 28;
inline constexpr KeyStatus KEYERR_BAD_CHECKSUM = 29;
inline constexpr KeyStatus KEYERR_ROM_PAGE_NOT_CLEAN = 30;
inline constexpr KeyStatus KEYERR_ROM_ERASE_FAILED = 31;
inline constexpr KeyStatus KEYERR_ROM_WRITE_FAILED = 32;
inline constexpr KeyStatus KEYERR_PROTECTION_LEVEL = 33;
inline constexpr KeyStatus KEYERR_BAD_EC_PARAMETERS = 34;
inline constexpr KeyStatus KEYERR_HARDWARE_FAILURE = 35;
inline constexpr KeyStatus KEYERR_BAD_KEY_USAGE = 36;
inline constexpr KeyStatus KEYERR_JOURNAL_EXHAUSTED = 37;
inline constexpr KeyStatus KEYERR_CORRUPTED_REQUEST = 40;
inline constexpr KeyStatus KEYERR_LOW_BATTERY = 43;
inline constexpr KeyStatus KEYERR_NOT_SUPPORTED = 99;
inline constexpr KeyStatus KEYERR_GENERAL_FAILURE = 100;
// Local only: the reader exists but holds no key, or cannot be connected now.
// Distinct from 1 (no such reader), which ends an enumeration.
inline constexpr KeyStatus KEYERR_READER_EMPTY = 101;

// Texts in Windows-1251, owned by the library.
const char* StatusText(uint32_t code);
const char* JournalOperationName(uint32_t operation);
const char* JournalDetailName(uint32_t operation, uint32_t detail);

// ---------------------------------------------------------------------------
// Wire block.
enum KeyCommand : uint8_t {
    KEYCMD_LOGIN = 1,
    KEYCMD_GET_CLOCK = 2,
    KEYCMD_SET_CLOCK = 3,
    KEYCMD_READ_JOURNAL = 4,
    KEYCMD_GET_STATE = 5,
    KEYCMD_READ_AUX = 6,
    KEYCMD_WRITE_AUX = 7,
    KEYCMD_GET_RANDOM = 10,
    KEYCMD_READ_MEMORY = 11,
    KEYCMD_FORMAT = 12,
    KEYCMD_GET_DEVICE_INFO = 13,
    KEYCMD_READ_SIGN_PUBLIC_KEY = 14,
    KEYCMD_READ_SIGN_KEY_PARAMS = 15,
    KEYCMD_READ_AGREE_PUBLIC_KEY = 16,
    KEYCMD_READ_AGREE_KEY_PARAMS = 17,
    KEYCMD_LOGOUT = 20,
    KEYCMD_ERASE_PAGE = 32,
    KEYCMD_GENERATE_SECRET = 33,
    KEYCMD_GET_MAC = 34,
    KEYCMD_ERASE_SECRET = 35,
    KEYCMD_GENERATE_SIGN_KEY = 36,
    KEYCMD_GENERATE_AGREE_KEY = 37,
    KEYCMD_AGREE_KEY = 38,
    KEYCMD_DESTROY_SIGN_KEY = 40,
    KEYCMD_DESTROY_AGREE_KEY = 41,
    KEYCMD_SIGN_HASH = 44,
    KEYCMD_CIPHER_BLOCKS_PROTECTED = 50,
    KEYCMD_READ_SECRET = 54,
    KEYCMD_EXPORT_SIGN_PRIVATE_KEY = 55,
    KEYCMD_CHANGE_PASSWORD = 60,
    KEYCMD_SET_SBOX = 62,
    KEYCMD_LOAD_KEY_CONTEXT = 63,
    KEYCMD_SET_IV = 65,
    KEYCMD_CIPHER_BLOCKS = 66,
    KEYCMD_STORE_SECRET = 67,
    KEYCMD_WRITE_SIGN_KEY = 68,
    KEYCMD_WRITE_AGREE_KEY = 69,
    KEYCMD_WRITE_MEMORY = 70,
    KEYCMD_CHANGE_PASSWORD_NEW = 101,
    KEYCMD_FORMAT_NEW = 111,
    KEYCMD_LOGIN_NEW = 131,
    KEYCMD_GET_VALUE_NEW = 132,
    KEYCMD_AGREE_KEY_NEW = 133,
    KEYCMD_WRITE_TABLE_NEW = 134,
    KEYCMD_CIPHER_BLOCKS_NEW = 135,
    KEYCMD_CIPHER_BLOCKS_PROTECTED_NEW = 136,
    KEYCMD_GET_MAC_NEW = 137,
    KEYCMD_ERASE_SECRET_NEW = 138,
    KEYCMD_STORE_SECRET_NEW = 139,
    KEYCMD_READ_SECRET_NEW = 140,
    KEYCMD_WRAP_KEY = 142,
    KEYCMD_UNWRAP_KEY = 143
};

enum ProtectionMode : uint8_t { KEYPROT_NONE = 0, KEYPROT_MAC = 1, KEYPROT_MAC_ENCRYPT = 2 };

constexpr uint32_t DEVICE_BLOCK_SIZE_OLD = 64;  // GOST 28147-89 form, 56 data bytes, 4-byte MAC
constexpr uint32_t DEVICE_BLOCK_SIZE_NEW = 76;  // DSTU 7624 form, 64 data bytes, 8-byte MAC
constexpr uint8_t DEVICE_NEW_FORM_VERSION = 18;

// One request or response. The old form uses bytes 0..63 (its MAC sits in
// bytes 60..63, inside `data`); the new form all 76.
struct DeviceBlock {
    uint8_t direction;   // 1 request, 2 response
    uint8_t command;     // KeyCommand
    uint8_t protection;  // ProtectionMode
    uint8_t parameter;   // request parameter; the KeyStatus in a response
    uint8_t data[64];
    uint8_t mac[8];      // new form only

    uint8_t* bytes() { return &direction; }
    const uint8_t* bytes() const { return &direction; }
    uint8_t status() const { return parameter; }
};
static_assert(sizeof(DeviceBlock) == 76);

// ---------------------------------------------------------------------------
// Device information (data bytes 0..15 of the device-information answer).
struct DeviceInfo {
    uint32_t serial;
    uint8_t infoByte4;
    uint8_t version;
    uint8_t unused6;
    uint8_t state;         // bit 7: not ready
    uint32_t capabilities; // 0xFFFFFFFF = none; 0x200 new password scheme; bits 28-31 failed tries
    uint32_t infoWord12;
};
static_assert(sizeof(DeviceInfo) == 16);

constexpr uint32_t DEVICE_CAP_NEW_PASSWORD = 0x200;

// ---------------------------------------------------------------------------
// One open key (in memory only).
struct DeviceContext {
    intptr_t cardHandle;          // SCARDHANDLE
    void* deviceMutex;            // per-key named mutex, or null
    uint32_t deviceId;            // serial (or the borrowed id while opening)
    uint32_t capabilities;
    uint8_t version;
    uint8_t loggedIn;
    uint32_t borrowed;            // 1: the PC/SC handles belong to the caller
    uint8_t sessionKey[32];
    uint8_t publicImage[4096];
    intptr_t pcscContext;         // SCARDCONTEXT
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
};

// ---------------------------------------------------------------------------
// Records of the two shared memories (cross-process format).
struct DeviceCacheRecord {
    uint32_t serial;
    int32_t sessionUsers;
    uint8_t encryptedSessionKey[32];
    uint8_t sessionKeyHash[32];
    uint8_t publicImage[4096];
    uint8_t privateImage[3072];
    uint32_t publicImageValid;
    uint32_t privateImageValid;
    int32_t openCount;
};
static_assert(sizeof(DeviceCacheRecord) == 7252);
static_assert(offsetof(DeviceCacheRecord, sessionUsers) == 4);
static_assert(offsetof(DeviceCacheRecord, encryptedSessionKey) == 8);
static_assert(offsetof(DeviceCacheRecord, sessionKeyHash) == 40);
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

// Record i of the session-share memory belongs to device-cache record i. The
// device-cache record has no free byte, so what ends or re-keys the shared
// session lives beside it in a memory of its own (same lifetime: every
// process maps the three memories together).
struct SessionShareRecord {
    uint32_t serial;              // serial of device-cache record i once touched
    uint32_t generation;          // +1 whenever the shared session ends (format, last logout)
    uint32_t passwordGeneration;  // +1 whenever the key's password is changed or set by a format
    uint32_t reserved;
    uint8_t encryptedPassword[64];  // current password under the shared session key (form of the key's version)
};
static_assert(sizeof(SessionShareRecord) == 80);
static_assert(offsetof(SessionShareRecord, generation) == 4 && offsetof(SessionShareRecord, encryptedPassword) == 16);

constexpr uint32_t DEVICE_CACHE_RECORDS = 128;
constexpr uint32_t DEVICE_CACHE_SIZE = DEVICE_CACHE_RECORDS * sizeof(DeviceCacheRecord);  // 0xE2A00
constexpr uint32_t KEY_CACHE_SIZE = DEVICE_CACHE_RECORDS * sizeof(KeyCacheRecord);        // 0x14600
static_assert(DEVICE_CACHE_SIZE == 0xE2A00 && KEY_CACHE_SIZE == 0x14600);
constexpr uint32_t SESSION_SHARE_SIZE = DEVICE_CACHE_RECORDS * sizeof(SessionShareRecord);  // 0x2800

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

// ---------------------------------------------------------------------------
// Blocks, transport and protection.
uint32_t BlockDataSize(const DeviceContext* context);
uint32_t TransmitBlock(DeviceContext* context, DeviceBlock* block, uint32_t blockSize);
uint32_t ExchangeBlock(DeviceContext* context, DeviceBlock* block);
uint32_t ProtectBlockNew(DeviceBlock* block, const uint8_t key[32], uint8_t mode);
void ProtectBlockOld(DeviceBlock* block, const uint8_t key[32], uint8_t mode);
uint32_t ProtectBlock(DeviceContext* context, DeviceBlock* block, uint8_t mode);
uint32_t VerifyBlockNew(DeviceBlock* block, const uint8_t key[32]);
uint32_t VerifyBlockOld(DeviceBlock* block, const uint8_t key[32]);
uint32_t VerifyBlock(DeviceContext* context, DeviceBlock* block);
uint32_t WriteSignatureKey(DeviceContext* context, const uint8_t parameters[240], const uint8_t privateKey[64],
                           uint8_t options);
uint32_t WriteAgreementKey(DeviceContext* context, const uint8_t parameters[240], const uint8_t privateKey[72],
                           uint8_t options);
uint32_t SendGenerateSignatureKey(DeviceContext* context, const uint8_t parameters[240], uint8_t options);

// ---------------------------------------------------------------------------
// Discovery, open, close and recovery.
// Card handle of the n-th reader of the model, or 0; the PC/SC context stays
// open for the caller on success.
intptr_t ConnectReader(uint32_t ordinal, char* mutexName, size_t mutexNameSize, intptr_t* pcscContext);
DeviceContext* OpenDeviceByOrdinal(uint32_t ordinal);
// The ordinal counts readers of the model: 1 past the last reader, 101 for a
// reader without a key (callers skip it and go on with the next ordinal).
uint32_t GetSerialByOrdinal(uint32_t ordinal, uint32_t* serial);
uint32_t QueryDeviceInfo(DeviceContext* context, DeviceInfo* info);
// The state byte of the device information, asked again while the key is not
// ready within the retry budget and then given as it stands (bit 7 still set
// when the key never became ready).
uint32_t QueryDeviceState(DeviceContext* context, uint8_t* state);
DeviceContext* OpenDevice(uint32_t deviceId);
uint32_t OpenDeviceHandle(uint32_t deviceId, DeviceContext** context);
uint32_t ConnectDevice(uint32_t deviceId, DeviceContext** context);
DeviceContext* OpenDeviceById(uint32_t deviceId);
void DestroyDeviceContext(DeviceContext* context);
uint32_t CloseDevice(DeviceContext* context);
uint32_t GetDeviceClock(DeviceContext* context, uint32_t* seconds);
uint32_t SetDeviceClock(DeviceContext* context, uint32_t seconds);
uint32_t SyncDeviceClock(DeviceContext* context);
uint32_t ReconnectDevice(DeviceContext* context);
uint32_t RecoverFromError(DeviceContext* context, uint32_t code);

// ---------------------------------------------------------------------------
// Password login and session key. Passwords are NUL-terminated Windows-1251
// texts of at most 64 bytes.
constexpr size_t DEVICE_MAX_PASSWORD = 64;
uint32_t DerivePasswordKeyNew(const char* password, uint8_t value[32], uint8_t* packetKey);
void DerivePasswordKeyOld(const char* password, uint8_t value[32], uint8_t* packetKey);
uint32_t LoginWithPassword(DeviceContext* context, const char* password);
uint32_t LoginWithUpgrade(DeviceContext* context, const char* password, int retryOn22);
uint32_t SendLogout(DeviceContext* context);
uint32_t StorePasswordNew(DeviceContext* context, const char* password);
uint32_t StorePasswordOld(DeviceContext* context, const char* password);
uint32_t StorePassword(DeviceContext* context, const char* password);
uint32_t RecallPassword(DeviceContext* context, uint8_t out[64]);

// ---------------------------------------------------------------------------
// Storage area images, format and password change.
uint32_t PublicAreaSize(const DeviceContext* context);
uint32_t LoadMemoryImage(DeviceContext* context, uint32_t area);
uint32_t InvalidateMemoryImage(DeviceContext* context, uint32_t area);
uint32_t ResetMemoryImages(DeviceContext* context, uint32_t area);
uint32_t ReadMemoryBlock(DeviceContext* context, uint8_t out[32], uint32_t block);
uint32_t WriteMemoryBlock(DeviceContext* context, const uint8_t data[32], uint32_t block);
uint32_t EraseMemoryPage(DeviceContext* context, uint32_t page);
uint32_t FormatDevice(DeviceContext* context, const char* newPassword);
uint32_t ChangeDevicePassword(DeviceContext* context, const char* newPassword);

// ---------------------------------------------------------------------------
// Shared sessions, authentication and re-login.
uint32_t SaveSharedSessionOld(DeviceContext* context, const char* password, DeviceCacheRecord* record);
uint32_t SaveSharedSession(DeviceContext* context, const char* password, DeviceCacheRecord* record);
uint32_t RestoreSharedSessionOld(DeviceContext* context, const char* password, DeviceCacheRecord* record);
uint32_t RestoreSharedSession(DeviceContext* context, const char* password, DeviceCacheRecord* record);
uint32_t LoginAndShareSession(DeviceContext* context, const char* password, DeviceCacheRecord* record);
uint32_t AuthenticateDevice(DeviceContext* context, const char* password);
uint32_t Relogin(DeviceContext* context);
uint32_t LogoutDevice(DeviceContext* context);

// ---------------------------------------------------------------------------
// Cached reads of the key's parameters and public keys (null output allowed).
uint32_t LoadSignatureKeyParameters(DeviceContext* context, uint8_t* out240);
uint32_t LoadSignaturePublicKey(DeviceContext* context, uint8_t* out64);
uint32_t LoadAgreementKeyParameters(DeviceContext* context, uint8_t* out240);
uint32_t LoadAgreementPublicKey(DeviceContext* context, uint8_t* out72);
uint32_t GetSignatureKeyParameters(DeviceContext* context, uint8_t* out240);
uint32_t GetSignaturePublicKey(DeviceContext* context, uint8_t* out64);
uint32_t GetAgreementKeyParameters(DeviceContext* context, uint8_t* out240);
uint32_t GetAgreementPublicKey(DeviceContext* context, uint8_t* out72);

// ---------------------------------------------------------------------------
// Key parameters, public keys and key lifecycle.

// The key's record of a DSTU 4145 curve (wire format, little-endian).
struct DeviceKeyParameters {
    uint32_t m;         // field degree
    uint32_t k, j, l;   // exponents of the field polynomial (j = l = 0: trinomial)
    uint32_t a;         // coefficient A
    uint32_t cofactor;  // cofactor word of the field record
    uint8_t b[72];      // coefficient B
    uint8_t n[72];      // order of the base point
    uint8_t p[72];      // base point, compressed

    uint8_t* bytes() { return reinterpret_cast<uint8_t*>(this); }
    const uint8_t* bytes() const { return reinterpret_cast<const uint8_t*>(this); }
};
static_assert(sizeof(DeviceKeyParameters) == 240);
static_assert(offsetof(DeviceKeyParameters, b) == 24 && offsetof(DeviceKeyParameters, n) == 96 &&
              offsetof(DeviceKeyParameters, p) == 168);

constexpr uint32_t DEVICE_KEY_PARAMETERS_BYTES = 240;
constexpr uint32_t DEVICE_SIGN_KEY_BYTES = 64;    // signature public and private keys
constexpr uint32_t DEVICE_AGREE_KEY_BYTES = 72;   // key-agreement public and private keys
constexpr uint32_t DEVICE_SIGNATURE_BYTES = 144;
constexpr uint32_t DEVICE_WRAPPED_KEY_OLD_BYTES = 44;
constexpr uint32_t DEVICE_WRAPPED_KEY_NEW_BYTES = 96;

// Option bits of the generation and write commands.
constexpr uint8_t DEVICE_KEY_EXPORTABLE = 0x80;       // signature private key may be exported
constexpr uint8_t DEVICE_KEY_ALSO_AGREEMENT = 0x40;   // signature pair also serves key agreement
constexpr uint8_t DEVICE_KEY_AGREEMENT_OPTION = 0x20; // what every caller passes to GenerateAgreementKey

// Builds the record from the two curve records: a null point record leaves
// bytes 96..239 zero, both null give 240 zero bytes.
void MakeDeviceKeyParameters(const DSTU4145FieldRecord* field, const DSTU4145PointRecord* point,
                             DeviceKeyParameters* out);
// The inverse; field word 19 and point words 18, 37 and 38 come out zero.
// Either output may be null.
void SplitDeviceKeyParameters(const DeviceKeyParameters* parameters, DSTU4145FieldRecord* field,
                              DSTU4145PointRecord* point);

// Uncached chunk reads: chunks firstChunk.. (chunkCount 0 = to the end) land
// at offset firstChunk x data size of out240. 8 when the first chunk lies
// beyond the record.
uint32_t ReadSignatureKeyParameters(DeviceContext* context, int firstChunk, int chunkCount, uint8_t out240[240]);
uint32_t ReadAgreementKeyParameters(DeviceContext* context, int firstChunk, int chunkCount, uint8_t out240[240]);
uint32_t GenerateSignatureKey(DeviceContext* context, const uint8_t parameters[240], uint8_t options);
uint32_t GenerateAgreementKey(DeviceContext* context, const uint8_t parameters[240], uint8_t options);
// privateKey holds 64 bytes, or 72 with DEVICE_KEY_ALSO_AGREEMENT.
uint32_t ImportSignatureKey(DeviceContext* context, const uint8_t parameters[240], const uint8_t* privateKey,
                            uint8_t options);
uint32_t ImportAgreementKey(DeviceContext* context, const uint8_t parameters[240], const uint8_t privateKey[72],
                            uint8_t options);
uint32_t DestroySignatureKey(DeviceContext* context);
uint32_t DestroyAgreementKey(DeviceContext* context);
uint32_t ExportSignaturePrivateKey(DeviceContext* context, uint8_t out64[64]);

// ---------------------------------------------------------------------------
// On-key signing, key agreement and key wrapping.
uint32_t SignHash32OnDevice(DeviceContext* context, const uint8_t hash[32], uint8_t signature[144], uint8_t options);
// length 32, 48 or 64 (the last two on keys of version 18 and above).
uint32_t SignHashOnDevice(DeviceContext* context, const uint8_t* hash, int length, uint8_t signature[144],
                          uint8_t options);
// ukmLength at most 95.
uint32_t AgreeKeyOnDevice(DeviceContext* context, const uint8_t peerPublicKey[72], const uint8_t* ukm, int ukmLength,
                          uint8_t options);
// length at most 183.
uint32_t AgreeKeyOnDeviceNew(DeviceContext* context, const uint8_t peerPublicKey[72], const uint8_t* data,
                             uint32_t length, uint8_t options);
// Single exchanges inside the caller's LockDevice.
uint32_t GenerateDeviceSecret(DeviceContext* context, uint8_t out[32]);
uint32_t LoadKeyContext(DeviceContext* context, const uint8_t value[32]);
uint32_t StoreDeviceSecret(DeviceContext* context, const uint8_t value[32], uint8_t parameter);
uint32_t ReadDeviceSecret(DeviceContext* context, uint8_t out[32], uint8_t parameter);
uint32_t EraseDeviceSecret(DeviceContext* context, uint8_t parameter);
uint32_t StoreDeviceSecretNew(DeviceContext* context, const uint8_t value[32], uint8_t parameter);
uint32_t ReadDeviceSecretNew(DeviceContext* context, uint8_t out[32], uint8_t parameter);
uint32_t EraseDeviceSecretNew(DeviceContext* context, uint8_t parameter);
// Wraps under the agreed key; 29 from an unwrap whose check value differs.
uint32_t WrapKeyOnDeviceOld(DeviceContext* context, const uint8_t key[32], uint8_t wrapped[44]);
uint32_t UnwrapKeyOnDeviceOld(DeviceContext* context, const uint8_t wrapped[44], uint8_t key[32]);
// onKey nonzero: the key's own wrap command; 0: composed on the host.
uint32_t WrapKeyOnDevice(DeviceContext* context, const uint8_t key[32], uint8_t wrapped[96], int onKey);
uint32_t UnwrapKeyOnDevice(DeviceContext* context, const uint8_t wrapped[96], uint8_t key[32], int onKey);

// ---------------------------------------------------------------------------
// On-key ciphering, MAC and random numbers.

// Random numbers from the key (also the session probe).
uint32_t GetDeviceRandom(DeviceContext* context, uint8_t* out, int count);
// table 1..3; a 64-byte packed GOST 28147 S-box.
uint32_t SetSubstitutionTable(DeviceContext* context, uint8_t table, const uint8_t sbox[64]);
// Single exchanges inside the caller's LockDevice. A block count runs from 1 to
// what one request carries (8-byte blocks: 7 on old keys, 8 on new ones;
// 32-byte blocks: 2), else 8 without an exchange.
uint32_t StartDeviceMac(DeviceContext* context, const uint8_t iv[8]);
uint32_t GetDeviceMac(DeviceContext* context, uint32_t* mac);
uint32_t CipherBlocks(DeviceContext* context, uint8_t* buffer, int blocks, uint8_t options);
uint32_t CipherBlocksProtected(DeviceContext* context, uint8_t* buffer, int blocks, uint8_t options);
uint32_t CipherBlocksNew(DeviceContext* context, uint8_t* buffer, int blocks, uint8_t options);
uint32_t CipherBlocksProtectedNew(DeviceContext* context, uint8_t* buffer, int blocks, uint8_t options);
uint32_t GetDeviceMacNew(DeviceContext* context, uint8_t mac[32]);
uint32_t GetValueBySize(DeviceContext* context, uint8_t* out, uint32_t size);
// Host-side modes over the block commands.
uint32_t CfbEncryptOnDevice(DeviceContext* context, const uint8_t iv[8], uint8_t* buffer, uint32_t length,
                            uint8_t options);
uint32_t CfbDecryptOnDevice(DeviceContext* context, const uint8_t iv[8], uint8_t* buffer, uint32_t length);
uint32_t ComputeMacOnDevice(DeviceContext* context, const uint8_t* data, uint32_t length, uint32_t* mac,
                            uint8_t options);
uint32_t CfbEncryptOnDeviceNew(DeviceContext* context, const uint8_t iv[32], uint8_t* buffer, uint32_t length);
uint32_t CfbDecryptOnDeviceNew(DeviceContext* context, const uint8_t iv[32], uint8_t* buffer, uint32_t length);
uint32_t ComputeMacOnDeviceNew(DeviceContext* context, const uint8_t value[32], uint8_t mac[32]);
uint32_t WriteTableNew(DeviceContext* context, const uint8_t table[1024]);

// ---------------------------------------------------------------------------
// Device journal, state and auxiliary data.

// One journal record (wire format).
struct JournalRecord {
    uint32_t event;      // filled by the key
    uint8_t operation;   // 1 password change, 2 key write, 3 generation, 4 destruction, 5 format, 9 blocked
    uint8_t result;      // KeyStatus of the operation
    uint16_t detail;     // key kind (operations 2-4) or initiator (5)
};
static_assert(sizeof(JournalRecord) == 8);

constexpr uint32_t DEVICE_STATE_BYTES = 17;
constexpr uint32_t DEVICE_AUX_RECORD_BYTES = 16;

// 1 when the key keeps a journal (version above 8), else 0.
int HasJournal(const DeviceContext* context);
// 37 past the last record.
uint32_t ReadJournalRecord(DeviceContext* context, int index, JournalRecord* out);
uint32_t GetDeviceState(DeviceContext* context, char selector, uint8_t* out17);
uint32_t WriteAuxData(DeviceContext* context, const uint8_t* data, uint32_t length);
// *length is set to 16; a null out asks only the size.
uint32_t ReadAuxRecord(DeviceContext* context, char selector, uint8_t* out16, int* length);
uint32_t ReadAuxRecordA5(DeviceContext* context, uint8_t* out16, int* length);
// 1 when the key answers the auxiliary-data commands, 0 when it does not know
// them; 24 when the key is held elsewhere.
uint32_t HasAuxData(DeviceContext* context);
// Placeholders of the command set; always 99.
uint32_t ReservedDeviceOperation1(DeviceContext* context);
uint32_t ReservedDeviceOperation2(DeviceContext* context);
uint32_t ReservedDeviceOperation3(DeviceContext* context);
uint32_t ReservedDeviceOperation4(DeviceContext* context);
uint32_t ReservedDeviceOperation5(DeviceContext* context);
