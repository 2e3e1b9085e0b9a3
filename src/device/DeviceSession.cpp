// One user session per key, shared by every context that knows the password:
// the device-cache record keeps the session key under a salted hash of the
// password, and the key itself confirms the key a joiner derives.
#include <signal.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
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

// The forms follow the key's version only, passed explicitly so that the
// old-form variants never touch the context (other threads read it).

// K: one hashing of the session's salt followed by the password, in the form
// of the version. The salt is new with every saved session, so no table of
// password hashes made beforehand fits it.
uint32_t PasswordKey(uint8_t version, const uint8_t salt[32], const char* password, uint8_t out[32])
{
    const size_t n = PasswordLength(password);
    if (n == SIZE_MAX) return KEYERR_BAD_PARAMETER;
    uint8_t input[32 + DEVICE_MAX_PASSWORD];
    std::memcpy(input, salt, 32);
    std::memcpy(input + 32, password, n);
    uint32_t r = 0;
    if (version >= DEVICE_NEW_FORM_VERSION)
        r = Hash7564(input, 32 + n, out);
    else
        r = Hash34311(input, 32 + n, out) ? 0 : KEYERR_GENERAL_FAILURE;
    SecureWipe(input, sizeof(input));
    return r;
}

uint32_t CipherSessionKey(uint8_t version, const uint8_t k[32], uint8_t data[32], bool encrypt)
{
    if (version >= DEVICE_NEW_FORM_VERSION) return Dstu7624Ecb(k, data, 1, encrypt);
    return Gost28147Ecb(k, data, 4, encrypt) ? 0 : KEYERR_GENERAL_FAILURE;
}

// The record keeps the session key under K and nothing else derived from the
// session key or the password: a reader of the shared memory can test no
// password guess, since every guess decrypts to some key and only the key
// itself tells the right one (SessionProbe).
uint32_t SaveSession(DeviceContext* c, uint8_t version, const char* password, DeviceCacheRecord* record)
{
    if (PasswordLength(password) == SIZE_MAX) return KEYERR_BAD_PARAMETER;
    uint8_t salt[32], k[32], encrypted[32];
    if (getrandom(salt, sizeof(salt), 0) != static_cast<ssize_t>(sizeof(salt))) return KEYERR_GENERAL_FAILURE;
    std::memcpy(encrypted, c->sessionKey, 32);
    uint32_t r = PasswordKey(version, salt, password, k);
    if (r == 0) r = CipherSessionKey(version, k, encrypted, true);
    if (r == 0) {
        std::memcpy(record->encryptedSessionKey, encrypted, 32);
        std::memcpy(record->sessionSalt, salt, 32);
    }
    SecureWipe(k, sizeof(k));
    SecureWipe(encrypted, sizeof(encrypted));
    return r;
}

// Takes the record's session key as the password unlocks it; whether it is
// the key's session is for the key to say.
uint32_t RestoreSession(DeviceContext* c, uint8_t version, const char* password, DeviceCacheRecord* record)
{
    if (PasswordLength(password) == SIZE_MAX) return KEYERR_BAD_PARAMETER;
    uint8_t k[32], candidate[32];
    std::memcpy(candidate, record->encryptedSessionKey, 32);
    uint32_t r = PasswordKey(version, record->sessionSalt, password, k);
    if (r == 0) r = CipherSessionKey(version, k, candidate, false);
    if (r == 0) std::memcpy(c->sessionKey, candidate, 32);
    SecureWipe(k, sizeof(k));
    SecureWipe(candidate, sizeof(candidate));
    return r;
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

// The context's kept password, into plain (65 bytes, ended by a zero).
uint32_t RecallKeptPassword(DeviceContext* c, uint8_t plain[DEVICE_MAX_PASSWORD + 1])
{
    uint32_t r = 0;
    if (c->version >= DEVICE_NEW_FORM_VERSION) {
        std::memcpy(plain, c->encryptedPassword, DEVICE_MAX_PASSWORD);
        r = Dstu7624Ecb(c->sessionKey, plain, 2, false);
    } else {
        r = RecallPassword(c, plain);
    }
    plain[DEVICE_MAX_PASSWORD] = 0;
    if (r != 0) SecureWipe(plain, DEVICE_MAX_PASSWORD + 1);
    return r;
}

// The password this context may log in with. 23 when another context has
// changed the password since this one kept it: the kept one is known to be
// outdated and is never sent.
uint32_t CurrentPassword(DeviceContext* c, DeviceCacheRecord* record, uint8_t plain[DEVICE_MAX_PASSWORD + 1])
{
    const SessionShareRecord* share = SessionShareOf(record);
    if (share != nullptr && c->sharesSession && c->passwordGeneration != share->passwordGeneration)
        return KEYERR_WRONG_PASSWORD;
    return RecallKeptPassword(c, plain);
}

void ForgetSession(DeviceContext* c)
{
    SecureWipe(c->sessionKey, sizeof(c->sessionKey));
    c->loggedIn = 0;
}

}  // namespace

namespace {

// The start time of a process (clock ticks after boot), 0 when it cannot be
// read; *zombie is set for a process that has ended but not been reaped.
uint64_t ProcessStartTicks(pid_t pid, bool* zombie)
{
    *zombie = false;
    char path[48];
    std::snprintf(path, sizeof(path), "/proc/%d/stat", static_cast<int>(pid));
    FILE* f = std::fopen(path, "re");
    if (f == nullptr) return 0;
    char text[1024];
    const size_t n = std::fread(text, 1, sizeof(text) - 1, f);
    std::fclose(f);
    text[n] = '\0';
    // The name (field 2) may hold anything; the fields after it are plain.
    const char* p = std::strrchr(text, ')');
    if (p == nullptr) return 0;
    for (int field = 3; *p != '\0'; ++field) {
        while (*p == ' ' || *p == ')') ++p;
        if (field == 3) *zombie = *p == 'Z' || *p == 'X';
        if (field == 22) return std::strtoull(p, nullptr, 10);
        while (*p != '\0' && *p != ' ') ++p;
    }
    return 0;
}

bool HolderAlive(const SessionHolder& holder)
{
    if (kill(static_cast<pid_t>(holder.pid), 0) != 0 && errno != EPERM) return false;
    bool zombie = false;
    const uint64_t ticks = ProcessStartTicks(static_cast<pid_t>(holder.pid), &zombie);
    if (zombie) return false;
    return ticks == 0 || holder.startTicks == 0 || ticks == holder.startTicks;
}

// One more (or one fewer) share of this process in the record's session.
void AddHolderShare(DeviceCacheRecord* record)
{
    SessionShareRecord* share = SessionShareOf(record);
    if (share == nullptr) return;
    const uint32_t pid = static_cast<uint32_t>(getpid());
    SessionHolder* free = nullptr;
    for (SessionHolder& h : share->holders) {
        if (h.pid == pid) {
            h.shares += 1;
            return;
        }
        if (h.pid == 0 && free == nullptr) free = &h;
    }
    // A full table leaves the share counted but unwatched: it is then never
    // taken for a dead one's.
    if (free == nullptr) return;
    bool zombie = false;
    *free = SessionHolder{pid, 1, ProcessStartTicks(static_cast<pid_t>(pid), &zombie)};
}

void RemoveHolderShare(DeviceCacheRecord* record)
{
    SessionShareRecord* share = SessionShareOf(record);
    if (share == nullptr) return;
    const uint32_t pid = static_cast<uint32_t>(getpid());
    for (SessionHolder& h : share->holders) {
        if (h.pid != pid) continue;
        if (h.shares > 1)
            h.shares -= 1;
        else
            h = SessionHolder{};
        return;
    }
}

void WipeSharedState(DeviceCacheRecord* record)
{
    ClearSharedSession(record);
    SecureWipe(record->privateImage, sizeof(record->privateImage));
    record->privateImageValid = 0;
}

}  // namespace

namespace qvkdev {

void ClearSharedSession(DeviceCacheRecord* record)
{
    record->sessionUsers = 0;
    SecureWipe(record->encryptedSessionKey, sizeof(record->encryptedSessionKey));
    SecureWipe(record->sessionSalt, sizeof(record->sessionSalt));
    if (SessionShareRecord* share = SessionShareOf(record)) {
        share->generation += 1;
        std::memset(share->holders, 0, sizeof(share->holders));
    }
}

void ReleaseDeadHolders(DeviceCacheRecord* record)
{
    SessionShareRecord* share = SessionShareOf(record);
    if (share == nullptr) return;
    int64_t dead = 0;
    bool found = false;
    for (SessionHolder& h : share->holders) {
        if (h.pid == 0 || HolderAlive(h)) continue;
        dead += h.shares;
        h = SessionHolder{};
        found = true;
    }
    if (!found) return;
    const int64_t left = static_cast<int64_t>(record->sessionUsers) - dead;
    if (left > 0)
        record->sessionUsers = static_cast<int32_t>(left);
    else
        WipeSharedState(record);
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
    RemoveHolderShare(record);
    record->sessionUsers -= 1;
    if (record->sessionUsers != 0) return 0;
    const uint32_t r = SendLogout(context);
    WipeSharedState(record);
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
    // A session whose holders have all gone is no one's to join.
    if (record != nullptr) ReleaseDeadHolders(record);
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
        AddHolderShare(record);
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
            // The key refuses the session key the password gave: the shared
            // session is no longer the key's, or the password is not the one it
            // was shared under. A login of our own tells which (and costs a
            // try only for a wrong password); a good one is shared anew.
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
        AddHolderShare(record);
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
// session that is shared now when its password unlocks it, as the key
// confirms; it never logs in by itself, since the end of its session may have
// come with a new password.
uint32_t RejoinSharedSession(DeviceContext* context, DeviceCacheRecord* record)
{
    if (record->sessionUsers <= 0) return KEYERR_NOT_AUTHENTICATED;
    uint8_t plain[DEVICE_MAX_PASSWORD + 1] = {};
    uint32_t r = RecallKeptPassword(context, plain);
    const char* password = reinterpret_cast<const char*>(plain);
    uint8_t previous[32];
    std::memcpy(previous, context->sessionKey, 32);
    if (r == 0) r = RestoreSharedSession(context, password, record);
    if (r == 0) r = SessionProbe(context);
    if (r == 0) r = StorePassword(context, password);
    if (r == 0) {
        record->sessionUsers += 1;
        AddHolderShare(record);
        TakeShare(context, record);
    } else {
        std::memcpy(context->sessionKey, previous, 32);
    }
    SecureWipe(previous, sizeof(previous));
    SecureWipe(plain, sizeof(plain));
    return r;
}

// The key has a session while this context's commands fail: the one shared
// now (another context logged in anew), this context's own after a passing
// fault, or one of another program that took the key over. The first two are
// joined as the key confirms them; the last is ended, and this context logs
// in once with its own password.
uint32_t JoinOrTakeOver(DeviceContext* context, const char* password, DeviceCacheRecord* record, bool* save)
{
    uint8_t remembered[32];
    std::memcpy(remembered, context->sessionKey, 32);
    uint32_t r = RestoreSharedSession(context, password, record);
    if (r == 0 && SessionProbe(context) == 0) {
        *save = false;
    } else if (r == 0) {
        std::memcpy(context->sessionKey, remembered, 32);
        if (SessionProbe(context) != 0) {
            r = SendLogout(context);
            if (r == 0) r = LoginWithUpgrade(context, password, 0);
        }
    }
    SecureWipe(remembered, sizeof(remembered));
    return r;
}

// The key refused the kept password (it was changed elsewhere): it is never
// sent again, and the context is logged out with its share given back. The
// answer tells a blocked password from a wrong one.
uint32_t GiveUpRefusedPassword(DeviceContext* context, DeviceCacheRecord* record)
{
    if (HoldsCurrentShare(context, record)) DropSessionShare(context, record);
    context->sharesSession = 0;
    ForgetSession(context);
    SecureWipe(context->encryptedPassword, sizeof(context->encryptedPassword));
    DeviceInfo info{};
    if (QueryDeviceInfo(context, &info) == 0 && FailedPasswordTries(info) >= DEVICE_PASSWORD_TRIES)
        return KEYERR_PASSWORD_BLOCKED;
    return KEYERR_WRONG_PASSWORD;
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
    uint32_t r = CurrentPassword(context, record, plain);
    if (r == KEYERR_WRONG_PASSWORD) return GiveUpRefusedPassword(context, record);
    if (r != 0) return r;
    const char* password = reinterpret_cast<const char*>(plain);

    // One login at most after a logout: no password is sent twice.
    r = LoginWithUpgrade(context, password, 0);
    bool save = true;
    if (r == KEYERR_ALREADY_AUTHENTICATED) {
        r = JoinOrTakeOver(context, password, record, &save);
    } else if (r == KEYERR_CORRUPTED_REQUEST) {
        r = SendLogout(context);
        if (r == 0) r = LoginWithUpgrade(context, password, 0);
    }
    if (r == 0 && save) r = SaveSharedSession(context, password, record);
    if (r == 0) r = StorePassword(context, password);
    if (r == 0 && context->sharesSession) TakeShare(context, record);
    SecureWipe(plain, sizeof(plain));
    return r == KEYERR_WRONG_PASSWORD ? GiveUpRefusedPassword(context, record) : r;
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
