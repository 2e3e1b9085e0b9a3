#include "pkcs11/PKCS11TokenManager.h"

#include <cstring>
#include <new>

#include "pkcs11/PKCS11Library.h"
#include "pkcs11/PKCS11PKI.h"
#include "pkcs11/PKCS11Session.h"
#include "pkcs11/PKCS11Text.h"

namespace {

constexpr std::uint32_t MAX_PIN_BYTES = 32;
constexpr std::uint32_t MAX_SLOT_ID = 255;

bool PinLengthInRange(CK_ULONG length)
{
    return length >= 1 && length <= MAX_PIN_BYTES;
}

const char* Text(const CK_UTF8CHAR* p)
{
    return reinterpret_cast<const char*>(p);
}

}  // namespace

// ---- connector ----

PKCS11TokenConnector::PKCS11TokenConnector(PKCS11Token* token)
    : token_(token), slotId_(token != nullptr ? token->GetSlotId() : 0)
{
}

PKCS11TokenConnector::~PKCS11TokenConnector()
{
    explicit_bzero(pinDigest_, sizeof(pinDigest_));
}

CK_RV PKCS11TokenConnector::Open()
{
    if (slotId_ > MAX_SLOT_ID) return CKR_SLOT_ID_INVALID;
    if (token_ == nullptr) return CKR_GENERAL_ERROR;
    PKCS11LockGuard lock(*token_);
    if (lock.Result() != CKR_OK) return lock.Result();
    if (openCount_ > 0) {
        ++openCount_;
        return CKR_OK;
    }
    PKCS11Device* device = nullptr;
    CK_RV rv = token_->GetDevice(&device);
    if (rv != CKR_OK) return rv;
    rv = device->Open(slotId_);
    if (rv == CKR_OK) openCount_ = 1;
    return rv;
}

CK_RV PKCS11TokenConnector::Close()
{
    if (token_ == nullptr) return CKR_GENERAL_ERROR;
    PKCS11LockGuard lock(*token_);
    if (lock.Result() != CKR_OK) return lock.Result();
    if (openCount_ > 1) {
        --openCount_;
        return CKR_OK;
    }
    if (openCount_ == 0) return CKR_OK;
    PKCS11Device* device = nullptr;
    CK_RV rv = token_->GetDevice(&device);
    if (rv != CKR_OK) return rv;
    rv = device->Close();
    if (rv == CKR_OK) {
        openCount_ = 0;
        loginCount_ = 0;
        userType_ = 0;
        explicit_bzero(pinDigest_, sizeof(pinDigest_));
    }
    return rv;
}

CK_RV PKCS11TokenConnector::Login(bool isUser, const char* pin, std::uint32_t length)
{
    if (token_ == nullptr) return CKR_GENERAL_ERROR;
    PKCS11LockGuard lock(*token_);
    if (lock.Result() != CKR_OK) return lock.Result();
    if (openCount_ == 0) return CKR_DEVICE_ERROR;
    if (loginCount_ > 0) {
        CK_RV rv = CheckPIN(pin, length);
        if (rv == CKR_OK) ++loginCount_;
        return rv;
    }
    PKCS11Device* device = nullptr;
    CK_RV rv = token_->GetDevice(&device);
    if (rv != CKR_OK) return rv;
    if ((rv = device->Login(pin, length)) != CKR_OK) return rv;
    if (!DigestPIN(reinterpret_cast<const std::uint8_t*>(pin), length, pinDigest_))
        std::memset(pinDigest_, 0, sizeof(pinDigest_));
    loginCount_ = 1;
    userType_ = isUser ? CKU_USER : CKU_SO;
    return CKR_OK;
}

CK_RV PKCS11TokenConnector::Logout()
{
    if (token_ == nullptr) return CKR_GENERAL_ERROR;
    PKCS11LockGuard lock(*token_);
    if (lock.Result() != CKR_OK) return lock.Result();
    if (openCount_ == 0) return CKR_OK;
    if (loginCount_ > 1) {
        --loginCount_;
        return CKR_OK;
    }
    explicit_bzero(pinDigest_, sizeof(pinDigest_));
    loginCount_ = 0;
    userType_ = 0;
    PKCS11Device* device = nullptr;
    CK_RV rv = token_->GetDevice(&device);
    if (rv != CKR_OK) return rv;
    return device->Logout();
}

CK_RV PKCS11TokenConnector::CheckPIN(const char* pin, std::uint32_t length)
{
    if (token_ == nullptr) return CKR_GENERAL_ERROR;
    PKCS11LockGuard lock(*token_);
    if (lock.Result() != CKR_OK) return lock.Result();
    if (openCount_ == 0) return CKR_DEVICE_ERROR;
    if (loginCount_ == 0) return CKR_USER_NOT_LOGGED_IN;
    return VerifyPINDigest(reinterpret_cast<const std::uint8_t*>(pin), length, pinDigest_) ? CKR_OK : CKR_PIN_INCORRECT;
}

CK_RV PKCS11TokenConnector::VerifyPINRecord(const char* pin, std::uint32_t length)
{
    if (pin == nullptr || length == 0) return CKR_ARGUMENTS_BAD;
    if (token_ == nullptr) return CKR_GENERAL_ERROR;
    PKCS11LockGuard lock(*token_);
    if (lock.Result() != CKR_OK) return lock.Result();
    if (openCount_ == 0) return CKR_DEVICE_ERROR;
    if (loginCount_ == 0) return CKR_USER_NOT_LOGGED_IN;
    PKCS11TokenStorage storage(this);
    TokenRecordBytes record;
    CK_RV rv = storage.ReadTokenRecord(&record);
    if (rv != CKR_OK) return rv;
    PKCS11Device* device = nullptr;
    if ((rv = token_->GetDevice(&device)) != CKR_OK) return rv;
    return device->VerifyPINRecord(record.get(), userType_, pin, length);
}

void PKCS11TokenConnector::ReplacePINDigest(CK_BYTE userType, const char* pin, std::uint32_t length)
{
    if (token_ == nullptr) return;
    PKCS11LockGuard lock(*token_);
    if (lock.Result() != CKR_OK || loginCount_ == 0 || userType_ != userType) return;
    if (!DigestPIN(reinterpret_cast<const std::uint8_t*>(pin), length, pinDigest_))
        std::memset(pinDigest_, 0, sizeof(pinDigest_));
}

bool PKCS11TokenConnector::IsOpen()
{
    if (token_ == nullptr) return false;
    PKCS11LockGuard lock(*token_);
    return lock.Result() == CKR_OK && openCount_ > 0;
}

bool PKCS11TokenConnector::IsLoggedIn()
{
    if (token_ == nullptr) return false;
    PKCS11LockGuard lock(*token_);
    return lock.Result() == CKR_OK && loginCount_ > 0;
}

CK_BYTE PKCS11TokenConnector::GetUserType()
{
    if (token_ == nullptr) return 0;
    PKCS11LockGuard lock(*token_);
    return lock.Result() == CKR_OK ? userType_ : 0;
}

CK_RV PKCS11TokenConnector::GetToken(PKCS11Token** token)
{
    if (token == nullptr) return CKR_ARGUMENTS_BAD;
    if (token_ == nullptr) return CKR_GENERAL_ERROR;
    *token = token_;
    return CKR_OK;
}

bool PKCS11TokenConnector::IsTokenPresent()
{
    if (!IsOpen()) return false;
    PKCS11Device* device = nullptr;
    return token_->GetDevice(&device) == CKR_OK && device->IsPresent() != 0;
}

// ---- token manager ----

PKCS11TokenManager::PKCS11TokenManager(PKCS11Token* token)
    : token_(token), connector_(new (std::nothrow) PKCS11TokenConnector(token))
{
    if (connector_) storage_.reset(new (std::nothrow) PKCS11TokenStorage(connector_.get()));
}

PKCS11TokenManager::~PKCS11TokenManager() = default;

CK_RV PKCS11TokenManager::GetToken(PKCS11Token** token)
{
    if (token == nullptr) return CKR_ARGUMENTS_BAD;
    if (token_ == nullptr) return CKR_HOST_MEMORY;
    *token = token_;
    return CKR_OK;
}

CK_RV PKCS11TokenManager::GetConnector(PKCS11TokenConnector** connector)
{
    if (connector == nullptr) return CKR_ARGUMENTS_BAD;
    if (!connector_) return CKR_HOST_MEMORY;
    *connector = connector_.get();
    return CKR_OK;
}

CK_RV PKCS11TokenManager::GetStorage(PKCS11TokenStorage** storage)
{
    if (storage == nullptr) return CKR_ARGUMENTS_BAD;
    if (!storage_) return CKR_HOST_MEMORY;
    *storage = storage_.get();
    return CKR_OK;
}

CK_RV PKCS11TokenManager::InitToken(const CK_UTF8CHAR* pin, CK_ULONG pinLength, const CK_UTF8CHAR* label)
{
    if (pin == nullptr || label == nullptr) return CKR_ARGUMENTS_BAD;
    if (!PinLengthInRange(pinLength)) return CKR_PIN_LEN_RANGE;
    // A PIN the key could not hold exactly (a character without a Windows-1251
    // form, an embedded NUL) would be another PIN than the one given.
    if (!IsExactCp1251Text(Text(pin), pinLength)) return CKR_PIN_INVALID;
    if (!IsExactCp1251Text(Text(label), TOKEN_RECORD_LABEL_BYTES)) return CKR_ARGUMENTS_BAD;
    if (token_ == nullptr || !connector_ || !storage_) return CKR_HOST_MEMORY;
    PKCS11Entity* entity = nullptr;
    PKCS11SessionManager* sessions = nullptr;
    CK_RV rv;
    if ((rv = GetEntity(&entity)) != CKR_OK || (rv = entity->GetSessionManager(&sessions)) != CKR_OK) return rv;
    if (sessions->HasSessionOnSlot(token_->GetSlotId())) return CKR_SESSION_EXISTS;

    PKCS11LockGuard lock(*token_);
    if (lock.Result() != CKR_OK) return lock.Result();
    if ((rv = connector_->Open()) != CKR_OK) return rv;
    bool initialized = false;
    rv = storage_->IsInitialized(&initialized);
    if (rv == CKR_OK)
        rv = initialized ? Reinitialization(pin, pinLength, label) : FirstInitialization(pin, pinLength, label);
    connector_->Close();
    return rv;
}

CK_RV PKCS11TokenManager::Reinitialization(const CK_UTF8CHAR* pin, CK_ULONG pinLength, const CK_UTF8CHAR* label)
{
    if (!connector_->IsOpen()) return CKR_DEVICE_ERROR;
    if (connector_->IsLoggedIn()) connector_->Logout();
    TokenRecordBytes record;
    CK_RV rv = storage_->ReadTokenRecord(&record);
    if (rv != CKR_OK) return rv;
    if ((TokenRecordFlags(record.get()) & CKF_TOKEN_INITIALIZED) == 0) return CKR_DEVICE_ERROR;
    if ((rv = connector_->Login(false, Text(pin), static_cast<std::uint32_t>(pinLength))) != CKR_OK) return rv;
    PKCS11Device* device = nullptr;
    if ((rv = token_->GetDevice(&device)) == CKR_OK)
        rv = device->VerifyPINRecord(record.get(), CKU_SO, Text(pin), static_cast<std::uint32_t>(pinLength));
    connector_->Logout();
    if (rv != CKR_OK && rv != CKR_FUNCTION_NOT_SUPPORTED) return rv;
    return FirstInitialization(pin, pinLength, label);
}

CK_RV PKCS11TokenManager::FirstInitialization(const CK_UTF8CHAR* pin, CK_ULONG pinLength, const CK_UTF8CHAR* label)
{
    if (!connector_->IsOpen()) return CKR_DEVICE_ERROR;
    if (connector_->IsLoggedIn()) connector_->Logout();
    PKCS11Device* device = nullptr;
    CK_RV rv = token_->GetDevice(&device);
    if (rv != CKR_OK) return rv;
    std::uint8_t* made = nullptr;
    if ((rv = device->InitToken(Text(pin), static_cast<std::uint32_t>(pinLength), &made)) != CKR_OK) return rv;
    TokenRecordBytes record(made);
    if (device->CanInitToken() &&
        (rv = connector_->Login(false, Text(pin), static_cast<std::uint32_t>(pinLength))) != CKR_OK)
        return rv;
    CK_ULONG converted = 0;
    std::uint8_t* labelField = record.get() + TOKEN_RECORD_LABEL;
    std::memset(labelField, 0, TOKEN_RECORD_LABEL_BYTES);
    rv = Utf8ToCp1251(Text(label), TOKEN_RECORD_LABEL_BYTES, reinterpret_cast<char*>(labelField), &converted);
    if (rv == CKR_OK) rv = storage_->WriteTokenRecord(record.get());
    if (rv == CKR_OK) rv = storage_->AdjustFreeMemory(0, 2, device->GetTokenRecordSize() + TOKEN_STORAGE_MARK_BYTES);
    if (connector_->IsLoggedIn()) connector_->Logout();
    return rv;
}

CK_RV PKCS11TokenManager::InitPIN(CK_SESSION_HANDLE handle, const CK_UTF8CHAR* pin, CK_ULONG pinLength)
{
    if (pin == nullptr) return CKR_ARGUMENTS_BAD;
    if (!PinLengthInRange(pinLength)) return CKR_PIN_LEN_RANGE;
    if (!IsExactCp1251Text(Text(pin), pinLength)) return CKR_PIN_INCORRECT;
    std::shared_ptr<PKCS11Session> session;
    CK_RV rv = FindSession(handle, &session);
    if (rv != CKR_OK) return rv;
    CK_STATE state = 0;
    if ((rv = session->GetState(&state)) != CKR_OK) return rv;
    if (state != CKS_RW_SO_FUNCTIONS) return CKR_USER_NOT_LOGGED_IN;
    PKCS11LockGuard lock(*token_);
    if (lock.Result() != CKR_OK) return lock.Result();
    PKCS11Device* device = nullptr;
    if ((rv = token_->GetDevice(&device)) != CKR_OK) return rv;
    // The driver says why the key did not take the PIN (a busy or pulled key
    // is no wrong PIN).
    if ((rv = device->SetPIN(CKU_USER, Text(pin), static_cast<std::uint32_t>(pinLength))) != CKR_OK) return rv;
    // The key has one password, so the SO's login now stands for the new PIN.
    connector_->ReplacePINDigest(CKU_SO, Text(pin), static_cast<std::uint32_t>(pinLength));
    rv = storage_->UpdatePINRecord(Text(pin), static_cast<std::uint32_t>(pinLength), CKU_USER);
    return rv == CKR_FUNCTION_NOT_SUPPORTED ? CKR_OK : rv;
}

CK_RV PKCS11TokenManager::SetPIN(CK_SESSION_HANDLE handle, const CK_UTF8CHAR* oldPin, CK_ULONG oldLength,
                                 const CK_UTF8CHAR* newPin, CK_ULONG newLength)
{
    if (newPin == nullptr || oldPin == nullptr) return CKR_ARGUMENTS_BAD;
    if (!PinLengthInRange(newLength) || !PinLengthInRange(oldLength)) return CKR_PIN_LEN_RANGE;
    if (!IsExactCp1251Text(Text(newPin), newLength)) return CKR_PIN_INCORRECT;
    std::shared_ptr<PKCS11Session> session;
    CK_RV rv = FindSession(handle, &session);
    if (rv != CKR_OK) return rv;
    CK_STATE state = 0;
    if ((rv = session->GetState(&state)) != CKR_OK) return rv;
    if (state == CKS_RO_PUBLIC_SESSION || state == CKS_RO_USER_FUNCTIONS) return CKR_SESSION_READ_ONLY;
    if (state == CKS_RW_PUBLIC_SESSION) {
        // Logged in as the user with the old PIN first, before the token's
        // lock is taken: the session layer's locks always come first.
        PKCS11Entity* entity = nullptr;
        PKCS11SessionManager* sessions = nullptr;
        if ((rv = GetEntity(&entity)) != CKR_OK || (rv = entity->GetSessionManager(&sessions)) != CKR_OK ||
            (rv = sessions->Login(handle, CKU_USER, oldPin, oldLength)) != CKR_OK)
            return rv;
        if ((rv = session->GetState(&state)) != CKR_OK) return rv;
    }
    CK_BYTE user = 0;
    if (state == CKS_RW_USER_FUNCTIONS)
        user = CKU_USER;
    else if (state == CKS_RW_SO_FUNCTIONS)
        user = CKU_SO;
    else
        return CKR_SESSION_READ_ONLY;

    PKCS11TokenManager* sessionManager = nullptr;
    PKCS11TokenConnector* loginConnector = nullptr;
    if ((rv = session->GetTokenManager(&sessionManager)) != CKR_OK ||
        (rv = sessionManager->GetConnector(&loginConnector)) != CKR_OK)
        return rv;
    PKCS11LockGuard lock(*token_);
    if (lock.Result() != CKR_OK) return lock.Result();
    // The old PIN must be the one the session logged in with.
    if ((rv = loginConnector->CheckPIN(Text(oldPin), static_cast<std::uint32_t>(oldLength))) != CKR_OK)
        return rv == CKR_USER_NOT_LOGGED_IN ? rv : CKR_PIN_INCORRECT;
    PKCS11Device* device = nullptr;
    if ((rv = token_->GetDevice(&device)) != CKR_OK) return rv;
    if ((rv = device->SetPIN(user, Text(newPin), static_cast<std::uint32_t>(newLength))) != CKR_OK) return rv;
    loginConnector->ReplacePINDigest(user, Text(newPin), static_cast<std::uint32_t>(newLength));
    if (loginConnector != connector_.get())
        connector_->ReplacePINDigest(user, Text(newPin), static_cast<std::uint32_t>(newLength));
    rv = storage_->UpdatePINRecord(Text(newPin), static_cast<std::uint32_t>(newLength), user);
    return rv == CKR_FUNCTION_NOT_SUPPORTED ? CKR_OK : rv;
}

// ---- pool ----

PKCS11TokenManagerPool::PKCS11TokenManagerPool(std::uint32_t capacity)
{
    managers_.reset(new (std::nothrow) PKCS11TokenManager*[capacity]());
    tokens_.reset(new (std::nothrow) PKCS11Token*[capacity]());
    useCounts_.reset(new (std::nothrow) std::uint32_t[capacity]());
    sessionHeld_.reset(new (std::nothrow) bool[capacity]());
    if (managers_ && tokens_ && useCounts_ && sessionHeld_) {
        capacity_ = capacity;
    } else {
        managers_.reset();
        tokens_.reset();
        useCounts_.reset();
        sessionHeld_.reset();
    }
}

PKCS11TokenManagerPool::~PKCS11TokenManagerPool()
{
    for (std::uint32_t i = 0; i < capacity_; ++i) {
        if (managers_[i] == nullptr) continue;
        PKCS11TokenConnector* connector = nullptr;
        if (managers_[i]->GetConnector(&connector) == CKR_OK) {
            // Bounded: a device that refuses to close must not hold C_Finalize.
            for (int tries = 0; tries < 1024 && connector->IsOpen(); ++tries)
                if (connector->Close() != CKR_OK) break;
        }
        delete managers_[i];
    }
    for (std::uint32_t i = 0; i < capacity_; ++i) delete tokens_[i];
}

CK_RV PKCS11TokenManagerPool::Acquire(std::uint32_t slotId, PKCS11TokenManager** manager, Borrower borrower)
{
    const bool forSession = borrower == Borrower::Session;
    if (manager == nullptr) return CKR_ARGUMENTS_BAD;
    if (capacity_ == 0) return CKR_HOST_MEMORY;
    std::uint32_t chosen = capacity_;
    PKCS11TokenManager* made = nullptr;
    {
        PKCS11LockGuard lock(*this);
        if (lock.Result() != CKR_OK) return lock.Result();
        for (std::uint32_t i = 0; i < capacity_; ++i) {
            // Two sessions on one entry would share one login: past the last
            // free entry a session is refused instead.
            const bool fits =
                (tokens_[i] == nullptr || tokens_[i]->GetSlotId() == slotId) && !(forSession && sessionHeld_[i]);
            if (fits && (chosen == capacity_ || useCounts_[i] < useCounts_[chosen])) chosen = i;
        }
        if (chosen == capacity_) return CKR_SESSION_COUNT;
        if (managers_[chosen] == nullptr) {
            tokens_[chosen] = new (std::nothrow) PKCS11Token(slotId);
            if (tokens_[chosen] != nullptr) managers_[chosen] = new (std::nothrow) PKCS11TokenManager(tokens_[chosen]);
            if (managers_[chosen] == nullptr) {
                delete tokens_[chosen];
                tokens_[chosen] = nullptr;
                return CKR_HOST_MEMORY;
            }
        }
        ++useCounts_[chosen];
        if (forSession) sessionHeld_[chosen] = true;
        made = managers_[chosen];
    }
    PKCS11Token* token = tokens_[chosen];
    PKCS11LockGuard tokenLock(*token);
    if (tokenLock.Result() == CKR_OK) {
        PKCS11TokenConnector* connector = nullptr;
        PKCS11Device* device = nullptr;
        CK_RV rv = made->GetConnector(&connector);
        if (rv == CKR_OK) rv = token->GetDevice(&device);
        if (rv == CKR_OK && !connector->IsOpen() && device->IsConnected()) rv = connector->Open();
        if (rv == CKR_OK) {
            *manager = made;
            return CKR_OK;
        }
        Release(made, borrower);
        return rv;
    }
    Release(made, borrower);
    return tokenLock.Result();
}

CK_RV PKCS11TokenManagerPool::Release(PKCS11TokenManager* manager, Borrower borrower)
{
    if (capacity_ == 0) return CKR_HOST_MEMORY;
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) return lock.Result();
    for (std::uint32_t i = 0; i < capacity_; ++i) {
        if (managers_[i] == manager) {
            if (useCounts_[i] > 0) --useCounts_[i];
            if (borrower == Borrower::Session) sessionHeld_[i] = false;
            break;
        }
    }
    return CKR_OK;
}

CK_RV PKCS11TokenManagerPool::ReleaseOtherDevices(std::uint32_t slotId, PKCS11Device* spare)
{
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) return lock.Result();
    for (std::uint32_t i = 0; i < capacity_; ++i) {
        if (tokens_[i] == nullptr || tokens_[i]->GetSlotId() != slotId) continue;
        PKCS11LockGuard tokenLock(*tokens_[i]);
        PKCS11Device* device = nullptr;
        if (tokenLock.Result() == CKR_OK && tokens_[i]->GetDevice(&device) == CKR_OK && device != spare)
            device->ReleaseOthers();
    }
    return CKR_OK;
}

// ---- token context ----

CK_RV PKCS11TokenCotext::SetData(const std::uint8_t* first, std::uint32_t firstLength, const std::uint8_t* second,
                                 std::uint32_t secondLength)
{
    std::unique_ptr<std::uint8_t[]> a, b;
    std::uint32_t aLength = 0, bLength = 0;
    if (first != nullptr && firstLength != 0) {
        a.reset(new (std::nothrow) std::uint8_t[firstLength]);
        if (!a) return CKR_HOST_MEMORY;
        std::memcpy(a.get(), first, firstLength);
        aLength = firstLength;
        if (second != nullptr && secondLength != 0) {
            b.reset(new (std::nothrow) std::uint8_t[secondLength]);
            if (!b) return CKR_HOST_MEMORY;
            std::memcpy(b.get(), second, secondLength);
            bLength = secondLength;
        }
    }
    first_ = std::move(a);
    firstLength_ = aLength;
    second_ = std::move(b);
    secondLength_ = bLength;
    return CKR_OK;
}

void PKCS11TokenCotext::GetData(const std::uint8_t** first, std::uint32_t* firstLength, const std::uint8_t** second,
                                std::uint32_t* secondLength) const
{
    if (first != nullptr) *first = first_.get();
    if (firstLength != nullptr) *firstLength = firstLength_;
    if (second != nullptr) *second = second_.get();
    if (secondLength != nullptr) *secondLength = secondLength_;
}

bool PKCS11TokenCotext::CompareFirst(const std::uint8_t* data, std::uint32_t length) const
{
    return length == firstLength_ && (length == 0 || (data != nullptr && std::memcmp(data, first_.get(), length) == 0));
}

bool PKCS11TokenCotext::CompareSecond(const std::uint8_t* data, std::uint32_t length) const
{
    return length == secondLength_ &&
           (length == 0 || (data != nullptr && std::memcmp(data, second_.get(), length) == 0));
}

bool PKCS11TokenCotext::SetSecond(const std::uint8_t* data, std::uint32_t length)
{
    if (firstLength_ != 0 && data != nullptr) {
        std::unique_ptr<std::uint8_t[]> copy;
        if (length != 0) {
            copy.reset(new (std::nothrow) std::uint8_t[length]);
            if (!copy) return false;
            std::memcpy(copy.get(), data, length);
        }
        second_ = std::move(copy);
        secondLength_ = length;
        return true;
    }
    second_.reset();
    secondLength_ = 0;
    return true;
}
