#include "pkcs11/PKCS11Session.h"

#include <cstring>
#include <mutex>

#include "pkcs11/PKCS11Library.h"
#include "pkcs11/PKCS11Object.h"
#include "pkcs11/PKCS11Slot.h"
#include "pkcs11/PKCS11Token.h"
#include "pkcs11/PKCS11TokenManager.h"

namespace {

constexpr CK_ULONG MAX_PIN_BYTES = 32;

}  // namespace

CK_RV FindSession(CK_SESSION_HANDLE handle, std::shared_ptr<PKCS11Session>* session)
{
    PKCS11Entity* entity = nullptr;
    PKCS11SessionManager* sessions = nullptr;
    CK_RV rv;
    if ((rv = GetEntity(&entity)) != CKR_OK || (rv = entity->GetSessionManager(&sessions)) != CKR_OK) return rv;
    return sessions->GetSession(handle, session);
}

// ---- session ----

PKCS11Session::PKCS11Session(std::uint32_t slotId, CK_FLAGS flags)
    : slotId_(slotId), readOnly_((flags & CKF_RW_SESSION) == 0)
{
}

PKCS11Session::~PKCS11Session()
{
    EndOperation();
    ReleaseToken();
}

CK_RV PKCS11Session::Open(CK_FLAGS flags)
{
    PKCS11Entity* entity = nullptr;
    PKCS11TokenManagerPool* pool = nullptr;
    PKCS11TokenManager* manager = nullptr;
    CK_RV rv;
    if ((rv = GetEntity(&entity)) != CKR_OK || (rv = entity->GetTokenManagerPool(&pool)) != CKR_OK ||
        (rv = pool->Acquire(slotId_, &manager, PKCS11TokenManagerPool::Borrower::Session)) != CKR_OK)
        return rv;
    rv = [&]() -> CK_RV {
        PKCS11Token* token = nullptr;
        PKCS11TokenConnector* connector = nullptr;
        CK_RV r;
        if ((r = manager->GetToken(&token)) != CKR_OK || (r = manager->GetConnector(&connector)) != CKR_OK) return r;
        CK_TOKEN_INFO info;
        if ((r = token->BuildTokenInfo(manager, &info)) != CKR_OK) return r;
        if ((info.flags & CKF_TOKEN_INITIALIZED) == 0) return CKR_TOKEN_NOT_RECOGNIZED;
        if ((flags & CKF_SERIAL_SESSION) == 0) return CKR_SESSION_PARALLEL_NOT_SUPPORTED;
        if ((flags & CKF_RW_SESSION) == 0 && connector->IsLoggedIn() && connector->GetUserType() == CKU_SO)
            return CKR_SESSION_READ_WRITE_SO_EXISTS;
        if ((r = connector->Open()) != CKR_OK) return r;
        if (!connector->IsTokenPresent()) {
            connector->Close();
            return CKR_DEVICE_ERROR;
        }
        PKCS11LockGuard lock(*this);
        if (lock.Result() != CKR_OK) {
            connector->Close();
            return lock.Result();
        }
        tokenManager_ = manager;
        return CKR_OK;
    }();
    if (rv != CKR_OK) pool->Release(manager, PKCS11TokenManagerPool::Borrower::Session);
    return rv;
}

CK_RV PKCS11Session::ReleaseToken()
{
    PKCS11TokenManager* manager = nullptr;
    std::uint32_t logins = 0;
    {
        PKCS11LockGuard lock(*this);
        if (lock.Result() != CKR_OK) return lock.Result();
        manager = tokenManager_;
        logins = loginCount_;
        tokenManager_ = nullptr;
        loginCount_ = 0;
    }
    if (manager == nullptr) return CKR_OK;  // never opened: nothing borrowed
    PKCS11Entity* entity = nullptr;
    PKCS11TokenManagerPool* pool = nullptr;
    CK_RV rv;
    if ((rv = GetEntity(&entity)) != CKR_OK || (rv = entity->GetTokenManagerPool(&pool)) != CKR_OK) return rv;
    PKCS11TokenConnector* connector = nullptr;
    if ((rv = manager->GetConnector(&connector)) == CKR_OK) {
        for (std::uint32_t i = 0; i < logins && rv == CKR_OK; ++i) rv = connector->Logout();
        const CK_RV closed = connector->Close();
        if (rv == CKR_OK) rv = closed;
    }
    pool->Release(manager, PKCS11TokenManagerPool::Borrower::Session);
    return rv;
}

CK_RV PKCS11Session::GetTokenManager(PKCS11TokenManager** manager)
{
    if (manager == nullptr) return CKR_ARGUMENTS_BAD;
    {
        PKCS11LockGuard lock(*this);
        if (lock.Result() != CKR_OK) return lock.Result();
        if (tokenManager_ != nullptr) {
            *manager = tokenManager_;
            return CKR_OK;
        }
    }
    PKCS11Entity* entity = nullptr;
    CK_RV rv = GetEntity(&entity);
    if (rv != CKR_OK) return rv;
    return entity->GetTokenManagerOfSlot(slotId_, manager);
}

CK_RV PKCS11Session::GetDevice(PKCS11Device** device)
{
    if (device == nullptr) return CKR_ARGUMENTS_BAD;
    PKCS11TokenManager* manager = nullptr;
    PKCS11TokenConnector* connector = nullptr;
    PKCS11Token* token = nullptr;
    CK_RV rv;
    if ((rv = GetTokenManager(&manager)) != CKR_OK || (rv = manager->GetConnector(&connector)) != CKR_OK) return rv;
    if (!connector->IsOpen()) return CKR_DEVICE_ERROR;
    if ((rv = manager->GetToken(&token)) != CKR_OK) return rv;
    return token->GetDevice(device);
}

CK_RV PKCS11Session::GetState(CK_STATE* state)
{
    if (state == nullptr) return CKR_ARGUMENTS_BAD;
    PKCS11TokenManager* manager = nullptr;
    PKCS11TokenConnector* connector = nullptr;
    CK_RV rv;
    if ((rv = GetTokenManager(&manager)) != CKR_OK || (rv = manager->GetConnector(&connector)) != CKR_OK) return rv;
    if (!connector->IsLoggedIn())
        *state = readOnly_ ? CKS_RO_PUBLIC_SESSION : CKS_RW_PUBLIC_SESSION;
    else if (connector->GetUserType() == CKU_SO)
        *state = CKS_RW_SO_FUNCTIONS;
    else
        *state = readOnly_ ? CKS_RO_USER_FUNCTIONS : CKS_RW_USER_FUNCTIONS;
    return CKR_OK;
}

CK_RV PKCS11Session::Login(CK_USER_TYPE userType, const CK_UTF8CHAR* pin, CK_ULONG pinLength)
{
    PKCS11TokenManager* manager = nullptr;
    PKCS11TokenConnector* connector = nullptr;
    PKCS11TokenStorage* storage = nullptr;
    CK_RV rv;
    if ((rv = GetTokenManager(&manager)) != CKR_OK || (rv = manager->GetConnector(&connector)) != CKR_OK ||
        (rv = manager->GetStorage(&storage)) != CKR_OK)
        return rv;
    if (!connector->IsOpen()) return CKR_SESSION_CLOSED;
    PKCS11Device* device = nullptr;
    if ((rv = GetDevice(&device)) != CKR_OK) return rv;
    if (device->UsesTokenContexts() && (rv = device->SynchronizeContexts(0, 0, 0, 0, 1)) != CKR_OK) return rv;
    // An unknown user type is refused rather than taken for the SO.
    if (userType != CKU_SO && userType != CKU_USER && userType != CKU_CONTEXT_SPECIFIC) return CKR_USER_TYPE_INVALID;
    const std::uint32_t countLow = userType == CKU_SO ? CKF_SO_PIN_COUNT_LOW : CKF_USER_PIN_COUNT_LOW;
    // The key takes the flag only under a login; without one the failed
    // login is still reported as such.
    if (pinLength < 1 || pinLength > MAX_PIN_BYTES) {
        storage->SetTokenFlags(countLow);
        return CKR_PIN_INCORRECT;
    }
    const char* text = reinterpret_cast<const char*>(pin);
    const auto length = static_cast<std::uint32_t>(pinLength);
    // The token's lock from the look at the login state to the count of this
    // login: two threads logging one session in at once would otherwise both
    // find it logged out, and the second would join the first's login.
    PKCS11Token* token = nullptr;
    if ((rv = manager->GetToken(&token)) != CKR_OK) return rv;
    PKCS11LockGuard tokenLock(*token);
    if (tokenLock.Result() != CKR_OK) return tokenLock.Result();
    if (connector->IsLoggedIn()) {
        const CK_BYTE current = connector->GetUserType();
        if ((userType == CKU_USER && current == CKU_SO) || (userType == CKU_SO && current == CKU_USER))
            return CKR_USER_ANOTHER_ALREADY_LOGGED_IN;
        // Not logged in again, whatever the PIN: a second login would need a
        // second logout to make the session public again.
        if (userType == current) return CKR_USER_ALREADY_LOGGED_IN;
    }
    if (userType == CKU_CONTEXT_SPECIFIC) {
        if (!HasOperation()) return CKR_OPERATION_NOT_INITIALIZED;
        rv = connector->CheckPIN(text, length);
        if (rv == CKR_OK) AuthorizeOperation();
        return rv;
    }
    rv = connector->Login(userType == CKU_USER, text, length);
    if (rv == CKR_PIN_INCORRECT) {
        storage->SetTokenFlags(countLow);
        return CKR_PIN_INCORRECT;
    }
    if (rv != CKR_OK) return rv;
    rv = connector->VerifyPINRecord(text, length);
    if (rv == CKR_OK || rv == CKR_FUNCTION_NOT_SUPPORTED) rv = storage->ClearTokenFlags(countLow);
    if (rv != CKR_OK) {
        connector->Logout();
        return rv;
    }
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) {
        connector->Logout();
        return lock.Result();
    }
    ++loginCount_;
    return CKR_OK;
}

CK_RV PKCS11Session::Logout()
{
    PKCS11TokenManager* manager = nullptr;
    PKCS11TokenConnector* connector = nullptr;
    CK_RV rv;
    if ((rv = GetTokenManager(&manager)) != CKR_OK || (rv = manager->GetConnector(&connector)) != CKR_OK) return rv;
    {
        PKCS11LockGuard lock(*this);
        if (lock.Result() != CKR_OK) return lock.Result();
        if (loginCount_ == 0) return CKR_USER_NOT_LOGGED_IN;
        --loginCount_;
    }
    return connector->Logout();
}

CK_RV PKCS11Session::BeginOperation(std::uint32_t kind, CK_MECHANISM_TYPE mechanism)
{
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) return lock.Result();
    if (operationKind_ != OPERATION_NONE) return CKR_OPERATION_ACTIVE;
    contextLoginDone_ = true;
    operationKind_ = kind;
    operationMechanism_ = mechanism;
    return CKR_OK;
}

CK_RV PKCS11Session::BeginSign(std::uint32_t kind, const CK_MECHANISM* mechanism)
{
    if (mechanism == nullptr) return CKR_ARGUMENTS_BAD;
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) return lock.Result();
    CK_RV rv = BeginOperation(kind, mechanism->mechanism);
    if (rv != CKR_OK) return rv;
    if (mechanism->pParameter != nullptr && mechanism->ulParameterLen != 0) {
        try {
            const auto* p = static_cast<const std::uint8_t*>(mechanism->pParameter);
            operationParameter_.assign(p, p + mechanism->ulParameterLen);
        } catch (const std::bad_alloc&) {
            EndOperationLocked();
            return CKR_HOST_MEMORY;
        }
    }
    return CKR_OK;
}

CK_RV PKCS11Session::CheckOperation(std::uint32_t kind)
{
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) return lock.Result();
    if (operationKind_ == OPERATION_NONE) return CKR_OPERATION_NOT_INITIALIZED;
    if (operationKind_ != kind) return CKR_OPERATION_ACTIVE;
    return contextLoginDone_ ? CKR_OK : CKR_USER_NOT_LOGGED_IN;
}

void PKCS11Session::EndOperationLocked()
{
    if (operationKind_ == OPERATION_NONE) return;
    ReleaseDigestState(operationKind_, operationMechanism_, &hashContext_);
    hashContext_ = nullptr;
    operationParameter_.clear();
    operationKey_.reset();
    operationKind_ = OPERATION_NONE;
    operationMechanism_ = 0;
    updateSeen_ = false;
}

void PKCS11Session::EndOperation()
{
    PKCS11LockGuard lock(*this);
    if (lock.Result() == CKR_OK) EndOperationLocked();
}

void PKCS11Session::SetHashContext(PKIHashState context)
{
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) return;
    if (hashContext_ != nullptr && hashContext_ != context)
        ReleaseDigestState(operationKind_, operationMechanism_, &hashContext_);
    hashContext_ = context;
}

PKIHashState PKCS11Session::TakeHashContext()
{
    PKCS11LockGuard lock(*this);
    PKIHashState taken = hashContext_;
    hashContext_ = nullptr;
    return taken;
}

void PKCS11Session::SetUpdateSeen()
{
    PKCS11LockGuard lock(*this);
    updateSeen_ = true;
}

bool PKCS11Session::IsUpdateSeen()
{
    PKCS11LockGuard lock(*this);
    return updateSeen_;
}

bool PKCS11Session::HasOperation()
{
    PKCS11LockGuard lock(*this);
    return operationKind_ != OPERATION_NONE;
}

std::uint32_t PKCS11Session::GetOperationKind()
{
    PKCS11LockGuard lock(*this);
    return operationKind_;
}

CK_MECHANISM_TYPE PKCS11Session::GetOperationMechanism()
{
    PKCS11LockGuard lock(*this);
    return operationMechanism_;
}

std::vector<std::uint8_t> PKCS11Session::GetOperationParameter()
{
    PKCS11LockGuard lock(*this);
    return operationParameter_;
}

CK_RV PKCS11Session::SetOperationKey(PKCS11Object* key)
{
    std::shared_ptr<const PKCS11Object> held(key,
                                             [](const PKCS11Object* o) { const_cast<PKCS11Object*>(o)->Release(); });
    // A key that demands its PIN for every use holds the operation until a
    // context-specific login.
    bool alwaysAuthenticate = false;
    if (held) {
        CK_RV rv = held->GetBoolOr(CKA_ALWAYS_AUTHENTICATE, false, &alwaysAuthenticate);
        if (rv != CKR_OK) return rv;
    }
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) return lock.Result();
    operationKey_ = std::move(held);
    if (alwaysAuthenticate) contextLoginDone_ = false;
    return CKR_OK;
}

std::shared_ptr<const PKCS11Object> PKCS11Session::GetOperationKey()
{
    PKCS11LockGuard lock(*this);
    return operationKey_;
}

void PKCS11Session::AuthorizeOperation()
{
    PKCS11LockGuard lock(*this);
    contextLoginDone_ = true;
}

PKCS11Operation::~PKCS11Operation()
{
    if (session_ && !keep_) session_->EndOperation();
}

// ---- session manager ----

PKCS11SessionManager::PKCS11SessionManager() : sessions_(SESSION_TABLE_SIZE) {}

PKCS11SessionManager::~PKCS11SessionManager()
{
    std::vector<std::shared_ptr<PKCS11Session>> all;
    all.swap(sessions_);
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (!all[i]) continue;
        PKCS11Device* device = nullptr;
        if (all[i]->GetDevice(&device) == CKR_OK) device->CloseSessionContexts(i + 1);
    }
    all.clear();  // each session gives its token back as it goes
}

CK_RV PKCS11SessionManager::OpenSession(CK_SLOT_ID slotId, CK_FLAGS flags, CK_SESSION_HANDLE* handle)
{
    if (handle == nullptr) return CKR_ARGUMENTS_BAD;
    // The slot is checked whole before the pool binds an entry to it: an
    // entry stays bound to its slot id for good, and an id cut to 32 bits
    // would name another slot.
    PKCS11Entity* entity = nullptr;
    PKCS11Slot* slot = nullptr;
    CK_RV checked;
    if ((checked = GetEntity(&entity)) != CKR_OK || (checked = entity->GetSlot(slotId, &slot)) != CKR_OK)
        return checked;
    std::shared_ptr<PKCS11Session> session;
    try {
        session = std::make_shared<PKCS11Session>(static_cast<std::uint32_t>(slotId), flags);
    } catch (const std::bad_alloc&) {
        return CKR_HOST_MEMORY;
    }
    if (session->CreationError() != CKR_OK) return session->CreationError();
    CK_RV rv = session->Open(flags);
    if (rv != CKR_OK) return rv;
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) return lock.Result();
    for (std::size_t i = 0; i < sessions_.size(); ++i) {
        if (sessions_[i]) continue;
        session->SetHandle(i + 1);
        sessions_[i] = std::move(session);
        *handle = i + 1;
        ++sessionCount_;
        if (!sessions_[i]->IsReadOnly()) ++rwSessionCount_;
        return CKR_OK;
    }
    return CKR_SESSION_COUNT;
}

CK_RV PKCS11SessionManager::GetSession(CK_SESSION_HANDLE handle, std::shared_ptr<PKCS11Session>* session)
{
    if (handle < 1 || handle > SESSION_TABLE_SIZE) return CKR_SESSION_HANDLE_INVALID;
    if (session == nullptr) return CKR_ARGUMENTS_BAD;
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) return lock.Result();
    if (!sessions_[handle - 1]) return CKR_SESSION_HANDLE_INVALID;
    *session = sessions_[handle - 1];
    return CKR_OK;
}

CK_RV PKCS11SessionManager::CloseSession(CK_SESSION_HANDLE handle)
{
    std::shared_ptr<PKCS11Session> session;
    {
        PKCS11LockGuard lock(*this);
        if (lock.Result() != CKR_OK) return lock.Result();
        if (handle < 1 || handle > SESSION_TABLE_SIZE || !sessions_[handle - 1]) return CKR_SESSION_HANDLE_INVALID;
        session = std::move(sessions_[handle - 1]);
        --sessionCount_;
        if (!session->IsReadOnly()) --rwSessionCount_;
    }
    // The device forgets the session's contexts first; the close completes
    // whatever it answers.
    PKCS11Device* device = nullptr;
    if (session->GetDevice(&device) == CKR_OK) device->CloseSessionContexts(handle);
    return CKR_OK;
}

CK_RV PKCS11SessionManager::CloseAllSessions(CK_SLOT_ID slotId)
{
    std::vector<std::pair<CK_SESSION_HANDLE, std::shared_ptr<PKCS11Session>>> closed;
    {
        PKCS11LockGuard lock(*this);
        if (lock.Result() != CKR_OK) return lock.Result();
        for (std::size_t i = 0; i < sessions_.size(); ++i) {
            if (!sessions_[i] || sessions_[i]->GetSlotId() != slotId) continue;
            if (!sessions_[i]->IsReadOnly()) --rwSessionCount_;
            --sessionCount_;
            closed.emplace_back(i + 1, std::move(sessions_[i]));
        }
    }
    for (auto& [handle, session] : closed) {
        PKCS11Device* device = nullptr;
        if (session->GetDevice(&device) == CKR_OK) device->CloseSessionContexts(handle);
    }
    return CKR_OK;
}

CK_RV PKCS11SessionManager::GetSessionInfo(CK_SESSION_HANDLE handle, CK_SESSION_INFO* info)
{
    if (info == nullptr) return CKR_ARGUMENTS_BAD;
    std::shared_ptr<PKCS11Session> session;
    CK_RV rv = GetSession(handle, &session);
    if (rv != CKR_OK) return rv;
    CK_STATE state = 0;
    if ((rv = session->GetState(&state)) != CKR_OK) return rv;
    info->slotID = session->GetSlotId();
    info->state = state;
    info->flags = CKF_SERIAL_SESSION | (session->IsReadOnly() ? 0 : CKF_RW_SESSION);
    info->ulDeviceError = 0;
    return CKR_OK;
}

CK_RV PKCS11SessionManager::Login(CK_SESSION_HANDLE handle, CK_USER_TYPE userType, const CK_UTF8CHAR* pin,
                                  CK_ULONG pinLength)
{
    if (pin == nullptr) return CKR_ARGUMENTS_BAD;
    std::shared_ptr<PKCS11Session> session;
    CK_RV rv = GetSession(handle, &session);
    if (rv != CKR_OK) return rv;
    if (userType == CKU_SO) {
        PKCS11LockGuard lock(*this);
        if (lock.Result() != CKR_OK) return lock.Result();
        for (const auto& other : sessions_)
            if (other && other->GetSlotId() == session->GetSlotId() && other->IsReadOnly())
                return CKR_SESSION_READ_ONLY_EXISTS;
    }
    return session->Login(userType, pin, pinLength);
}

CK_RV PKCS11SessionManager::Logout(CK_SESSION_HANDLE handle)
{
    std::shared_ptr<PKCS11Session> session;
    CK_RV rv = GetSession(handle, &session);
    if (rv != CKR_OK) return rv;
    return session->Logout();
}

bool PKCS11SessionManager::HasSessionOnSlot(std::uint32_t slotId)
{
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) return false;
    for (const auto& session : sessions_)
        if (session && session->GetSlotId() == slotId) return true;
    return false;
}

std::uint32_t PKCS11SessionManager::GetSessionCount()
{
    PKCS11LockGuard lock(*this);
    return sessionCount_;
}

std::uint32_t PKCS11SessionManager::GetRwSessionCount()
{
    PKCS11LockGuard lock(*this);
    return rwSessionCount_;
}
