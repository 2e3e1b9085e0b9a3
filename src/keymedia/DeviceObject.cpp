#include "keymedia/DeviceObject.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "device/DeviceProtocol.h"
#include "keymedia/Library.h"

namespace qvkkm {

uint32_t SerialNumberOf(const char* serial)
{
    if (serial == nullptr) return 0;
    return static_cast<uint32_t>(std::strtoul(serial, nullptr, 10));
}

TemporaryConnection::~TemporaryConnection()
{
    if (context_ != nullptr) CloseDevice(context_);
}

DeviceLock::DeviceLock(DeviceContext* context) : context_(context), held_(LockDevice(context) == 0) {}

DeviceLock::~DeviceLock()
{
    if (held_) UnlockDevice(context_);
}

namespace {

bool SafeEqual(const char* a, const char* b)
{
    return std::strcmp(a != nullptr ? a : "", b != nullptr ? b : "") == 0;
}

// The index-th answering key in reader order: readers without a key, and
// keys that do not answer (busy, cut short, failing), are skipped, so one of
// them never hides the keys after it.
uint32_t SerialOfAttachedKey(uint32_t index, uint32_t* serial)
{
    uint32_t attached = 0;
    for (uint32_t reader = 0;; ++reader) {
        const uint32_t r = GetSerialByOrdinal(reader, serial);
        if (r == KEYERR_NOT_FOUND) return r;
        if (r == 0 && attached++ == index) return 0;
    }
}

}  // namespace

KeyDeviceObject::KeyDeviceObject(const Traits& traits) : traits_(traits) {}

KeyDeviceObject::~KeyDeviceObject()
{
    std::memset(serial_, 0, sizeof(serial_));
}

void KeyDeviceObject::Release()
{
    // An open key gives back its share of the session; otherwise the key
    // would stay logged in with the share count raised.
    Shutdown(true);
    delete this;
}

int KeyDeviceObject::CheckOpen(const char* serial) const
{
    if (!open_) return KM_BAD_STATE;
    if (serial != nullptr && std::strcmp(serial, serial_) != 0) return KM_SERIAL_MISMATCH;
    return KM_OK;
}

bool RecoverAfter(DeviceContext* context, uint32_t code)
{
    return RecoverFromError(context, code) == 0;
}

int KeyDeviceObject::Connect(const char* serial, uint32_t extraHealthy, DeviceContext** context)
{
    *context = nullptr;
    DeviceContext* connected = nullptr;
    if (serial == nullptr || ConnectDevice(SerialNumberOf(serial), &connected) != 0 || connected == nullptr)
        return KM_DEVICE_ERROR;
    if (traits_.probeState) {
        const uint32_t state = GetDeviceState(connected, 0, nullptr);
        if (state != 0 && state != KEYERR_NOT_SUPPORTED && (extraHealthy == 0 || state != extraHealthy)) {
            CloseDevice(connected);
            return KM_DEVICE_ERROR;
        }
    }
    *context = connected;
    return KM_OK;
}

void KeyDeviceObject::ReplaceContext(DeviceContext* context)
{
    if (context_ == context) return;
    DeviceContext* old = context_;
    context_ = context;
    ContextChanged();
    if (old != nullptr) CloseDevice(old);
}

int KeyDeviceObject::Shutdown(bool logout)
{
    int result = KM_OK;
    if (open_ && logout && context_ != nullptr && LogoutDevice(context_) != 0) result = KM_DEVICE_ERROR;
    ReplaceContext(nullptr);
    open_ = 0;
    std::memset(serial_, 0, sizeof(serial_));
    WipePassword(password_);
    return result;
}

int KeyDeviceObject::EnumDevice(int index, char* serial)
{
    return Guarded([&]() -> int {
        if (serial == nullptr) return KM_BAD_STATE;
        if (open_) {
            std::memcpy(serial, serial_, std::strlen(serial_) + 1);
            return KM_OK;
        }
        uint32_t number = 0;
        uint32_t result;
        if (index == -2) {
            number = SerialNumberOf(serial);
            result = UnregisterBorrowedHandle(number);
        } else if (index == -1) {
            BorrowedHandlePair pair;
            std::memcpy(&pair, serial, sizeof(pair));
            result = RegisterBorrowedHandle(&pair, &number);
        } else if (index & 0x40000000) {
            result = GetBorrowedHandleId(static_cast<uint32_t>(index) & ~0x40000000u, &number);
        } else {
            result = SerialOfAttachedKey(static_cast<uint32_t>(index), &number);
        }
        if (result == KEYERR_NOT_FOUND) return KM_NOT_FOUND;
        if (result != 0) return KM_DEVICE_ERROR;
        std::sprintf(serial, "%06u", number);
        return KM_OK;
    });
}

int KeyDeviceObject::Open(char* serial, char* password, int flags)
{
    return Guarded([&]() -> int {
        if (open_) return KM_BAD_STATE;
        // The kept serial has room for 7 characters; a longer text names no
        // key this object could keep.
        if (serial == nullptr || std::strlen(serial) >= kSerialBuffer) return KM_DEVICE_ERROR;

        // A connection left by GetInfo is closed before a new one replaces it.
        ReplaceContext(nullptr);

        const bool format = (flags & KM_OPEN_FORMAT) != 0;
        bool knownOther = false;
        if (!format) {
            char refused[KM_PASSWORD_BUFFER] = {};
            const bool known = FindRefusedPassword(serial, refused);
            const bool sameAsRefused = known && SafeEqual(refused, password);
            WipePassword(refused);
            // The key already refused this password: answer before even
            // connecting, so not one command (let alone a try) is spent.
            if (sameAsRefused) return KM_WRONG_PASSWORD;
            knownOther = known;
        }

        DeviceContext* connected = nullptr;
        if (const int r = Connect(serial, 0, &connected); r != KM_OK) return r;
        ReplaceContext(connected);
        // Only a password that is about to reach the key replaces the refused
        // one; a key that could not be reached keeps its entry.
        if (knownOther) ForgetRefusedPassword(serial);

        if (format) {
            if (FormatDevice(context_, password) != 0) {
                ReplaceContext(nullptr);
                return KM_DEVICE_ERROR;
            }
            ForgetRefusedPassword(serial);
        }

        const uint32_t auth = AuthenticateDevice(context_, password);
        // 22 means the key already holds this context's login; without a
        // login on the context it is no success.
        if (auth == 0 || (auth == KEYERR_ALREADY_AUTHENTICATED && context_->loggedIn)) {
            std::memcpy(serial_, serial, std::strlen(serial) + 1);
            SetPassword(password_, password);
            open_ = 1;
            ContextChanged();
            return KM_OK;
        }
        ReplaceContext(nullptr);
        if (auth == KEYERR_WRONG_PASSWORD) {
            RememberRefusedPassword(serial, password != nullptr ? password : "");
            return KM_WRONG_PASSWORD;
        }
        return KM_DEVICE_ERROR;
    });
}

int KeyDeviceObject::Close(const char* serial)
{
    return Guarded([&]() -> int {
        if (const int r = CheckOpen(serial); r != KM_OK) return r;
        // The kept password goes whether or not the logout succeeded.
        return Shutdown(true);
    });
}

int KeyDeviceObject::ChangePassword(const char* serial, char* newPassword)
{
    return Guarded([&]() -> int {
        if (const int r = CheckOpen(serial); r != KM_OK) return r;
        if (Call(context_, [&] { return ChangeDevicePassword(context_, newPassword); }) != 0) return KM_DEVICE_ERROR;
        SetPassword(password_, newPassword);
        return KM_OK;
    });
}

int KeyDeviceObject::Erase(const char* serial)
{
    return Guarded([&]() -> int {
        if (const int r = CheckOpen(serial); r != KM_OK) return r;
        DeviceLock lock(context_);
        if (!lock.Held()) return KM_DEVICE_ERROR;
        const uint32_t pages = (PublicAreaSize(context_) + kPrivateAreaBytes) / kMemoryPageBytes;
        for (uint32_t page = 0; page < pages; ++page)
            if (Call(context_, [&] { return EraseMemoryPage(context_, page); }) != 0) return KM_DEVICE_ERROR;
        const uint32_t signature = DestroySignatureKey(context_);
        if (signature != 0 && signature != KEYERR_NO_KEY) return KM_DEVICE_ERROR;
        const uint32_t agreement = DestroyAgreementKey(context_);
        if (agreement != 0 && agreement != KEYERR_NO_KEY) return KM_DEVICE_ERROR;
        return KM_OK;
    });
}

int KeyDeviceObject::ReadRecord(char* serial, unsigned type, void* data, unsigned* length)
{
    return Guarded([&]() -> int {
        if (length == nullptr) return KM_BAD_STATE;
        if (type == kPublicRecordType) {
            if (open_) return ReadPublicRecord(context_, data, length);
            TemporaryConnection temporary;
            if (const int r = Connect(serial, 0, temporary.Slot()); r != KM_OK) return r;
            return ReadPublicRecord(temporary.Get(), data, length);
        }
        if (const int r = CheckOpen(serial); r != KM_OK) return r;
        if (type > kLastDataRecordType) return KM_DEVICE_ERROR;
        return ReadDataRecord(type, data, length);
    });
}

int KeyDeviceObject::WriteRecord(const char* serial, unsigned type, const void* data, unsigned length)
{
    return Guarded([&]() -> int {
        if (const int r = CheckOpen(serial); r != KM_OK) return r;
        if (data == nullptr && length != 0) return KM_DEVICE_ERROR;
        if (type == kPublicRecordType) return WritePublicRecord(data, length);
        if (type > kLastDataRecordType) return KM_DEVICE_ERROR;
        return WriteDataRecord(type, data, length);
    });
}

}  // namespace qvkkm
