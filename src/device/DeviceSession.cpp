// One user session per key, shared by every context that knows the password:
// the device-cache record keeps the session key under a hash of the password.
#include <cstring>

#include "device/DeviceInternal.h"

using namespace qvkdev;

namespace {

// Windows-1251 texts of the authentication failures.
constexpr char kLogWait[] =
    "\xC2\xE8\xED\xE8\xEA\xEB\xE0 \xEF\xEE\xEC\xE8\xEB\xEA\xE0 \xEF\xF0\xE8 \xEE\xF7\xB3\xEA\xF3\xE2\xE0\xED\xED\xB3 "
    "\xE4\xEE\xF1\xF2\xF3\xEF\xF3 \xE4\xEE \xEF\xF0\xE8\xF1\xF2\xF0\xEE\xFE";
constexpr char kLogInitialise[] =
    "\xC2\xE8\xED\xE8\xEA\xEB\xE0 \xEF\xEE\xEC\xE8\xEB\xEA\xE0 \xEF\xF0\xE8 \xB3\xED\xB3\xF6\xB3\xE0\xEB\xB3\xE7\xE0"
    "\xF6\xB3\xBF \xF1\xE5\xF1\xB3\xBF \xEA\xEE\xF0\xE8\xF1\xF2\xF3\xE2\xE0\xF7\xE0";
constexpr char kLogSessionWait[] =
    "\xC2\xE8\xED\xE8\xEA\xEB\xE0 \xEF\xEE\xEC\xE8\xEB\xEA\xE0 \xEF\xF0\xE8 \xEE\xF7\xB3\xEA\xF3\xE2\xE0\xED\xED\xB3 "
    "\xE4\xEE\xF1\xF2\xF3\xEF\xF3 \xE4\xEE \xF1\xE5\xF1\xB3\xBF \xEA\xEE\xF0\xE8\xF1\xF2\xF3\xE2\xE0\xF7\xE0";
constexpr char kLogLogin[] =
    "\xC2\xE8\xED\xE8\xEA\xEB\xE0 \xEF\xEE\xEC\xE8\xEB\xEA\xE0 \xEF\xF0\xE8 \xE0\xE2\xF2\xE5\xED\xF2\xE8\xF4\xB3\xEA"
    "\xE0\xF6\xB3\xBF \xF3 \xEF\xF0\xE8\xF1\xF2\xF0\xEE\xBF";
constexpr char kLogRestore[] =
    "\xC2\xE8\xED\xE8\xEA\xEB\xE0 \xEF\xEE\xEC\xE8\xEB\xEA\xE0 \xEF\xF0\xE8 \xE0\xE2\xF2\xE5\xED\xF2\xE8\xF4\xB3\xEA"
    "\xE0\xF6\xB3\xBF \xF3 \xF1\xE5\xF1\xB3\xBF \xEA\xEE\xF0\xE8\xF1\xF2\xF3\xE2\xE0\xF7\xE0";
constexpr char kLogProbe[] =
    "\xC2\xE8\xED\xE8\xEA\xEB\xE0 \xEF\xEE\xEC\xE8\xEB\xEA\xE0 \xEF\xF0\xE8 \xE2\xE7\xE0\xBA\xEC\xEE\xE4\xB3\xBF "
    "\xB3\xE7 \xEF\xF0\xE8\xF1\xF2\xF0\xEE\xBA\xEC";
constexpr char kLogRead[] =
    "\xC2\xE8\xED\xE8\xEA\xEB\xE0 \xEF\xEE\xEC\xE8\xEB\xEA\xE0 \xEF\xF0\xE8 \xE7\xF7\xE8\xF2\xF3\xE2\xE0\xED\xED\xB3 "
    "\xE4\xE0\xED\xE8\xF5 \xE7 \xEF\xF0\xE8\xF1\xF2\xF0\xEE\xFE";
constexpr char kLogClosing[] =
    "\xC2\xE8\xED\xE8\xEA\xEB\xE0 \xEF\xEE\xEC\xE8\xEB\xEA\xE0 \xEF\xF0\xE8 \xEF\xE5\xF0\xE5\xE2\xB3\xF0\xF6\xB3 "
    "\xF1\xE5\xF1\xB3\xBF \xEA\xEE\xF0\xE8\xF1\xF2\xF3\xE2\xE0\xF7\xE0";
constexpr char kLogConfigure[] =
    "\xC2\xE8\xED\xE8\xEA\xEB\xE0 \xEF\xEE\xEC\xE8\xEB\xEA\xE0 \xEF\xF0\xE8 \xEA\xEE\xED\xF4\xB3\xE3\xF3\xF0\xE0\xF6"
    "\xB3\xBF \xF1\xE5\xF1\xB3\xBF \xEA\xEE\xF0\xE8\xF1\xF2\xF3\xE2\xE0\xF7\xE0";
constexpr char kLogCreate[] =
    "\xC2\xE8\xED\xE8\xEA\xEB\xE0 \xEF\xEE\xEC\xE8\xEB\xEA\xE0 \xEF\xF0\xE8 \xF1\xF2\xE2\xEE\xF0\xE5\xED\xED\xB3 "
    "\xF1\xE5\xF1\xB3\xBF \xEA\xEE\xF0\xE8\xF1\xF2\xF3\xE2\xE0\xF7\xE0";

const uint8_t* Bytes(const char* text)
{
    return reinterpret_cast<const uint8_t*>(text);
}

// The forms follow the key's version only, passed explicitly so that the
// old-form variants never touch the context (other threads read it).

// K: one hashing of the password in the form of the version.
uint32_t PasswordHash(uint8_t version, const char* password, uint8_t out[32])
{
    const size_t n = std::strlen(password);
    if (version >= DEVICE_NEW_FORM_VERSION) return Hash7564(Bytes(password), n, out);
    return Hash34311(Bytes(password), n, out) ? 0 : KEYERR_GENERAL_FAILURE;
}

uint32_t SessionKeyHash(uint8_t version, const uint8_t key[32], uint8_t out[32])
{
    if (version >= DEVICE_NEW_FORM_VERSION) return Hash7564(key, 32, out);
    return Hash34311(key, 32, out) ? 0 : KEYERR_GENERAL_FAILURE;
}

uint32_t CipherSessionKey(uint8_t version, const uint8_t k[32], uint8_t data[32], bool encrypt)
{
    if (version >= DEVICE_NEW_FORM_VERSION) return Dstu7624Ecb(k, data, 1, encrypt);
    return Gost28147Ecb(k, data, 4, encrypt) ? 0 : KEYERR_GENERAL_FAILURE;
}

// The 64-byte password field under a session key (the form of the kept password).
uint32_t CipherPassword(uint8_t version, const uint8_t key[32], uint8_t data[64], bool encrypt)
{
    if (version >= DEVICE_NEW_FORM_VERSION) return Dstu7624Ecb(key, data, 2, encrypt);
    return Gost28147Ecb(key, data, 8, encrypt) ? 0 : KEYERR_GENERAL_FAILURE;
}

uint32_t SaveSession(DeviceContext* c, uint8_t version, const char* password, DeviceCacheRecord* record)
{
    const size_t length = PasswordLength(password);
    if (length == SIZE_MAX) return KEYERR_BAD_PARAMETER;
    uint8_t k[32], encrypted[32], hash[32], kept[64] = {};
    std::memcpy(encrypted, c->sessionKey, 32);
    std::memcpy(kept, password, length);
    uint32_t r = PasswordHash(version, password, k);
    if (r == 0) r = CipherSessionKey(version, k, encrypted, true);
    if (r == 0) r = SessionKeyHash(version, c->sessionKey, hash);
    if (r == 0) r = CipherPassword(version, c->sessionKey, kept, true);
    if (r == 0) {
        std::memcpy(record->encryptedSessionKey, encrypted, 32);
        std::memcpy(record->sessionKeyHash, hash, 32);
        // The sharers of this session read the current password from here
        // after a password change.
        if (SessionShareRecord* share = SessionShareOf(record)) std::memcpy(share->encryptedPassword, kept, 64);
    }
    SecureWipe(k, sizeof(k));
    SecureWipe(encrypted, sizeof(encrypted));
    SecureWipe(hash, sizeof(hash));
    SecureWipe(kept, sizeof(kept));
    return r;
}

uint32_t RestoreSession(DeviceContext* c, uint8_t version, const char* password, DeviceCacheRecord* record)
{
    if (PasswordLength(password) == SIZE_MAX) return KEYERR_BAD_PARAMETER;
    uint8_t k[32], candidate[32], hash[32];
    std::memcpy(candidate, record->encryptedSessionKey, 32);
    uint32_t r = PasswordHash(version, password, k);
    if (r == 0) r = CipherSessionKey(version, k, candidate, false);
    if (r == 0) r = SessionKeyHash(version, candidate, hash);
    if (r == 0) {
        if (std::memcmp(hash, record->sessionKeyHash, 32) == 0)
            std::memcpy(c->sessionKey, candidate, 32);
        else
            r = KEYERR_WRONG_PASSWORD;
    }
    SecureWipe(k, sizeof(k));
    SecureWipe(candidate, sizeof(candidate));
    SecureWipe(hash, sizeof(hash));
    return r;
}

// True when the context's session key is the one the record shares.
bool HoldsRecordSession(const DeviceContext* c, const DeviceCacheRecord* record)
{
    uint8_t hash[32];
    const bool same =
        SessionKeyHash(c->version, c->sessionKey, hash) == 0 && std::memcmp(hash, record->sessionKeyHash, 32) == 0;
    SecureWipe(hash, sizeof(hash));
    return same;
}

// The context now holds a share of the record's current session.
void TakeShare(DeviceContext* c, DeviceCacheRecord* record)
{
    c->sharesSession = 1;
    if (const SessionShareRecord* share = SessionShareOf(record)) {
        c->shareGeneration = share->generation;
        c->passwordGeneration = share->passwordGeneration;
    }
}

// The password this context may log in with, into plain (65 bytes): its own
// kept copy, or, when another context has changed the password since, the
// current one from the shared session. 23 when the current password cannot
// be had: the kept one is known to be outdated and is never sent.
uint32_t CurrentPassword(DeviceContext* c, DeviceCacheRecord* record, uint8_t plain[DEVICE_MAX_PASSWORD + 1],
                         bool* fromShare)
{
    *fromShare = false;
    const SessionShareRecord* share = SessionShareOf(record);
    uint32_t r = 0;
    if (share != nullptr && c->sharesSession && c->passwordGeneration != share->passwordGeneration) {
        if (!HoldsRecordSession(c, record)) return KEYERR_WRONG_PASSWORD;
        std::memcpy(plain, share->encryptedPassword, DEVICE_MAX_PASSWORD);
        r = CipherPassword(c->version, c->sessionKey, plain, false);
        *fromShare = r == 0;
    } else if (c->version >= DEVICE_NEW_FORM_VERSION) {
        std::memcpy(plain, c->encryptedPassword, DEVICE_MAX_PASSWORD);
        r = Dstu7624Ecb(c->sessionKey, plain, 2, false);
    } else {
        r = RecallPassword(c, plain);
    }
    plain[DEVICE_MAX_PASSWORD] = 0;
    if (r != 0) SecureWipe(plain, DEVICE_MAX_PASSWORD + 1);
    return r;
}

void ForgetSession(DeviceContext* c)
{
    SecureWipe(c->sessionKey, sizeof(c->sessionKey));
    c->loggedIn = 0;
}

}  // namespace

namespace qvkdev {

void ClearSharedSession(DeviceCacheRecord* record)
{
    record->sessionUsers = 0;
    SecureWipe(record->encryptedSessionKey, sizeof(record->encryptedSessionKey));
    SecureWipe(record->sessionKeyHash, sizeof(record->sessionKeyHash));
    if (SessionShareRecord* share = SessionShareOf(record)) {
        share->generation += 1;
        SecureWipe(share->encryptedPassword, sizeof(share->encryptedPassword));
    }
}

bool HoldsCurrentShare(const DeviceContext* context, DeviceCacheRecord* record)
{
    if (!context->sharesSession) return false;
    const SessionShareRecord* share = SessionShareOf(record);
    return share == nullptr || share->generation == context->shareGeneration;
}

uint32_t DropSessionShare(DeviceContext* context, DeviceCacheRecord* record)
{
    if (record->sessionUsers <= 0) {
        // Unmatched logout: the count never goes below zero.
        record->sessionUsers = 0;
        return 0;
    }
    record->sessionUsers -= 1;
    if (record->sessionUsers != 0) return 0;
    const uint32_t r = SendLogout(context);
    ClearSharedSession(record);
    SecureWipe(record->privateImage, sizeof(record->privateImage));
    record->privateImageValid = 0;
    return r;
}

uint32_t SessionProbe(DeviceContext* context)
{
    RetryBudget budget;
    uint8_t sample[1];
    for (;;) {
        const uint32_t r = GetDeviceRandom(context, sample, 1);
        if (r == KEYERR_DEVICE_BUSY && budget.PauseAndContinue()) continue;
        SecureWipe(sample, sizeof(sample));
        return r;
    }
}

}  // namespace qvkdev

uint32_t SaveSharedSessionOld(DeviceContext* context, const char* password, DeviceCacheRecord* record)
{
    return SaveSession(context, 0, password, record);  // the old form whatever the key
}

uint32_t SaveSharedSession(DeviceContext* context, const char* password, DeviceCacheRecord* record)
{
    return SaveSession(context, context->version, password, record);
}

uint32_t RestoreSharedSessionOld(DeviceContext* context, const char* password, DeviceCacheRecord* record)
{
    return RestoreSession(context, 0, password, record);
}

uint32_t RestoreSharedSession(DeviceContext* context, const char* password, DeviceCacheRecord* record)
{
    return RestoreSession(context, context->version, password, record);
}

uint32_t LoginAndShareSession(DeviceContext* context, const char* password, DeviceCacheRecord* record)
{
    uint32_t r = LoginWithUpgrade(context, password, 1);
    if (r == 0) r = SaveSharedSession(context, password, record);
    return r;
}

uint32_t AuthenticateDevice(DeviceContext* context, const char* password)
{
    if (PasswordLength(password) == SIZE_MAX) {
        LogDeviceError(kLogLogin);
        return KEYERR_BAD_PARAMETER;
    }
    KeyAndCacheLock lock(context);
    if (lock.status() != 0) {
        const KeyAndCacheLock::Step step = lock.failed();
        LogDeviceError(step == KeyAndCacheLock::Step::KeyMutex       ? kLogWait
                       : step == KeyAndCacheLock::Step::SharedMemory ? kLogInitialise
                                                                     : kLogSessionWait);
        return lock.status();
    }

    DeviceCacheRecord* record = FindDeviceRecord(context->deviceId);
    const bool newSession = record == nullptr || record->sessionUsers <= 0;
    if (record == nullptr) record = FindFreeDeviceRecord();
    if (record == nullptr) {
        lock.Release();
        LogDeviceError(kLogCreate);
        return KEYERR_NO_MEMORY;
    }

    uint32_t r = 0;
    if (newSession) {
        r = LoginAndShareSession(context, password, record);
        if (r != 0) {
            ForgetSession(context);
            lock.Release();
            LogDeviceError(kLogLogin);
            return r;
        }
        record->serial = context->deviceId;
        record->sessionUsers = 1;
    } else {
        r = RestoreSharedSession(context, password, record);
        if (r != 0) {
            lock.Release();
            LogDeviceError(kLogRestore);
            return r;
        }
        context->loggedIn = 1;
        r = SessionProbe(context);
        if (r == KEYERR_CORRUPTED_REQUEST) {
            // The shared session is no longer the key's: log in anew for everyone.
            context->loggedIn = 0;
            const char* failure = nullptr;
            r = LoginAndShareSession(context, password, record);
            if (r != 0) {
                failure = kLogLogin;
            } else {
                SecureWipe(record->privateImage, sizeof(record->privateImage));
                record->publicImageValid = 0;
                record->privateImageValid = 0;
                if (KeyCacheRecord* keys = FindOrClaimKeyRecord(context->deviceId)) {
                    keys->signKeyParametersValid = 0;
                    keys->signPublicKeyValid = 0;
                    keys->agreementKeyParametersValid = 0;
                    keys->agreementPublicKeyValid = 0;
                    r = LoadMemoryImage(context, 0);
                    if (r != 0) failure = kLogRead;
                } else {
                    r = KEYERR_NO_MEMORY;
                    failure = kLogInitialise;
                }
            }
            if (failure != nullptr) {
                ForgetSession(context);
                LogDeviceError(failure);
                lock.Release();
                LogDeviceError(kLogClosing);
                return r;
            }
        } else if (r != 0) {
            ForgetSession(context);
            LogDeviceError(kLogProbe);
            lock.Release();
            LogDeviceError(kLogClosing);
            return r;
        }
        std::memcpy(context->publicImage, record->publicImage, sizeof(context->publicImage));
        record->sessionUsers += 1;
    }

    r = StorePassword(context, password);
    if (r != 0) {
        // Give back the share taken above, so the count matches the users.
        DropSessionShare(context, record);
        ForgetSession(context);
        lock.Release();
        LogDeviceError(kLogConfigure);
        return r;
    }
    TakeShare(context, record);
    lock.Release();
    return 0;
}

namespace {

// A context whose share ended (a format, or the last user left) joins the
// session that is shared now when its password unlocks it; it never logs in
// by itself, since the end of its session may have come with a new password.
uint32_t RejoinSharedSession(DeviceContext* context, DeviceCacheRecord* record)
{
    if (record->sessionUsers <= 0) return KEYERR_NOT_AUTHENTICATED;
    uint8_t plain[DEVICE_MAX_PASSWORD + 1] = {};
    uint32_t r = 0;
    if (context->version >= DEVICE_NEW_FORM_VERSION) {
        std::memcpy(plain, context->encryptedPassword, DEVICE_MAX_PASSWORD);
        r = Dstu7624Ecb(context->sessionKey, plain, 2, false);
    } else {
        r = RecallPassword(context, plain);
    }
    plain[DEVICE_MAX_PASSWORD] = 0;
    const char* password = reinterpret_cast<const char*>(plain);
    uint8_t previous[32];
    std::memcpy(previous, context->sessionKey, 32);
    if (r == 0) r = RestoreSharedSession(context, password, record);
    if (r == 0) r = StorePassword(context, password);
    if (r == 0) {
        record->sessionUsers += 1;
        TakeShare(context, record);
    } else {
        std::memcpy(context->sessionKey, previous, 32);
    }
    SecureWipe(previous, sizeof(previous));
    SecureWipe(plain, sizeof(plain));
    return r;
}

}  // namespace

uint32_t Relogin(DeviceContext* context)
{
    KeyAndCacheLock lock(context);
    if (lock.status() != 0) return lock.status();
    if (!context->loggedIn) return KEYERR_NOT_AUTHENTICATED;
    DeviceCacheRecord* record = FindDeviceRecord(context->deviceId);
    if (record == nullptr) return KEYERR_NOT_FOUND;
    if (context->sharesSession && !HoldsCurrentShare(context, record)) return RejoinSharedSession(context, record);

    // The password is read under the locks: a change by another context
    // since this one kept its copy is seen here.
    uint8_t plain[DEVICE_MAX_PASSWORD + 1] = {};
    bool fromShare = false;
    uint32_t r = CurrentPassword(context, record, plain, &fromShare);
    if (r != 0) return r;
    const char* password = reinterpret_cast<const char*>(plain);

    r = LoginWithUpgrade(context, password, 0);
    bool save = true;
    if (r == KEYERR_ALREADY_AUTHENTICATED) {
        // Another context logged the key in anew: join its shared session.
        uint8_t remembered[32];
        std::memcpy(remembered, context->sessionKey, 32);
        r = RestoreSharedSession(context, password, record);
        if (r == 0 && std::memcmp(remembered, context->sessionKey, 32) == 0) save = false;
        SecureWipe(remembered, sizeof(remembered));
    } else if (r == KEYERR_CORRUPTED_REQUEST) {
        r = SendLogout(context);
        if (r == 0) r = LoginWithUpgrade(context, password, 0);
    }
    if (r == 0 && save) r = SaveSharedSession(context, password, record);
    if (r == 0 && (save || fromShare)) r = StorePassword(context, password);
    if (r == 0 && context->sharesSession) TakeShare(context, record);
    SecureWipe(plain, sizeof(plain));
    return r;
}

uint32_t LogoutDevice(DeviceContext* context)
{
    if (DeviceCacheView() == nullptr) return KEYERR_GENERAL_FAILURE;
    KeyAndCacheLock lock(context);
    if (lock.status() != 0) return lock.status();
    DeviceCacheRecord* record = FindDeviceRecord(context->deviceId);
    if (record == nullptr) return KEYERR_GENERAL_FAILURE;
    // Only a context that holds a share of the current session gives one back:
    // a repeated or unmatched logout, or one of a context whose session ended
    // (a format), must not end the others' session.
    const uint32_t r = HoldsCurrentShare(context, record) ? DropSessionShare(context, record) : 0;
    context->sharesSession = 0;
    SecureWipe(context->sessionKey, sizeof(context->sessionKey));
    SecureWipe(context->encryptedPassword, sizeof(context->encryptedPassword));
    context->loggedIn = 0;
    // The private area stays readable only under a login.
    std::memset(context->privateImage, 0xFF, sizeof(context->privateImage));
    context->privateCopyValid = 0;
    return r;
}
