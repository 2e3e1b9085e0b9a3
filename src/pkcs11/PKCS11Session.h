// Sessions: each borrows a token manager from the pool when it opens, so its
// login state lives in that entry's connector; it logs in at most once (a
// second login of the same user is refused), remembers whether it did, and
// keeps one active operation with its host hash state.
// Sessions are shared: a caller that looked one up keeps it alive while a
// concurrent C_CloseSession removes it from the table.
#ifndef QVK_PKCS11_PKCS11SESSION_H
#define QVK_PKCS11_PKCS11SESSION_H

#include <cstdint>
#include <memory>
#include <vector>

#include "pkcs11/PKCS11Device.h"
#include "pkcs11/PKCS11Lock.h"
#include "pkcs11/PKCS11PKI.h"
#include "pkcs11/pkcs11ua.h"

class PKCS11Object;
class PKCS11ObjectManager;
class PKCS11TokenManager;

enum : std::uint32_t {
    SESSION_TABLE_SIZE = 8192,
    OPERATION_NONE = 0,
    OPERATION_SIGN = 2,
    OPERATION_VERIFY = 3,
    OPERATION_DIGEST = 4
};

class PKCS11Session : public PKCS11Lock {
public:
    PKCS11Session(std::uint32_t slotId, CK_FLAGS flags);
    ~PKCS11Session() override;

    CK_RV Open(CK_FLAGS flags);
    CK_RV Login(CK_USER_TYPE userType, const CK_UTF8CHAR* pin, CK_ULONG pinLength);
    CK_RV Logout();
    // Undoes this session's logins, closes its connector once and gives the
    // token manager back.
    CK_RV ReleaseToken();

    CK_RV GetTokenManager(PKCS11TokenManager** manager);
    // CKR_DEVICE_ERROR unless the token manager's connector is open.
    CK_RV GetDevice(PKCS11Device** device);
    CK_RV GetState(CK_STATE* state);
    bool IsReadOnly() const { return readOnly_; }
    std::uint32_t GetSlotId() const { return slotId_; }
    // The handle the session manager gave it (0 before).
    CK_SESSION_HANDLE GetHandle() const { return handle_; }
    void SetHandle(CK_SESSION_HANDLE handle) { handle_ = handle; }

    // The active operation (digest, sign or verify).
    CK_RV BeginOperation(std::uint32_t kind, CK_MECHANISM_TYPE mechanism);
    CK_RV BeginSign(std::uint32_t kind, const CK_MECHANISM* mechanism);
    // CKR_OPERATION_NOT_INITIALIZED, CKR_OPERATION_ACTIVE for another kind,
    // CKR_USER_NOT_LOGGED_IN while a context-specific login is due.
    CK_RV CheckOperation(std::uint32_t kind);
    void EndOperation();
    void SetHashContext(PKIHashState context);
    PKIHashState TakeHashContext();
    void SetUpdateSeen();
    bool IsUpdateSeen();
    bool HasOperation();
    std::uint32_t GetOperationKind();
    CK_MECHANISM_TYPE GetOperationMechanism();
    std::vector<std::uint8_t> GetOperationParameter();
    void AuthorizeOperation();
    // The copy of the key a sign or verify operation works with; the session
    // owns it until the operation ends. A key with CKA_ALWAYS_AUTHENTICATE
    // true clears the context-login mark.
    CK_RV SetOperationKey(PKCS11Object* key);
    std::shared_ptr<const PKCS11Object> GetOperationKey();

    // The session's objects, made on first use; the holder keeps the
    // manager alive past a concurrent close.
    CK_RV GetObjectManager(std::shared_ptr<PKCS11ObjectManager>* manager);

private:
    void EndOperationLocked();

    std::uint32_t slotId_;
    CK_SESSION_HANDLE handle_ = 0;
    bool readOnly_;
    PKCS11TokenManager* tokenManager_ = nullptr;
    std::uint32_t loginCount_ = 0;
    std::uint32_t operationKind_ = OPERATION_NONE;
    CK_MECHANISM_TYPE operationMechanism_ = 0;
    std::vector<std::uint8_t> operationParameter_;
    std::shared_ptr<const PKCS11Object> operationKey_;
    bool contextLoginDone_ = true;
    PKIHashState hashContext_ = nullptr;
    bool updateSeen_ = false;
    std::shared_ptr<PKCS11ObjectManager> objectManager_;
};

class PKCS11SessionManager : public PKCS11Lock {
public:
    PKCS11SessionManager();
    ~PKCS11SessionManager() override;

    CK_RV OpenSession(CK_SLOT_ID slotId, CK_FLAGS flags, CK_SESSION_HANDLE* handle);
    CK_RV GetSession(CK_SESSION_HANDLE handle, std::shared_ptr<PKCS11Session>* session);
    CK_RV CloseSession(CK_SESSION_HANDLE handle);
    CK_RV CloseAllSessions(CK_SLOT_ID slotId);
    CK_RV GetSessionInfo(CK_SESSION_HANDLE handle, CK_SESSION_INFO* info);
    CK_RV Login(CK_SESSION_HANDLE handle, CK_USER_TYPE userType, const CK_UTF8CHAR* pin, CK_ULONG pinLength);
    CK_RV Logout(CK_SESSION_HANDLE handle);
    bool HasSessionOnSlot(std::uint32_t slotId);
    std::uint32_t GetSessionCount();
    std::uint32_t GetRwSessionCount();

private:
    std::uint32_t sessionCount_ = 0;
    std::uint32_t rwSessionCount_ = 0;
    std::vector<std::shared_ptr<PKCS11Session>> sessions_;
};

// Ends the session's operation when an entry function returns, unless kept.
class PKCS11Operation {
public:
    PKCS11Operation() = default;
    virtual ~PKCS11Operation();
    void Bind(std::shared_ptr<PKCS11Session> session) { session_ = std::move(session); }
    CK_RV KeepIfEqual(CK_RV result, CK_RV code)
    {
        keep_ = result == code;
        return result;
    }
    void Keep(bool keep) { keep_ = keep; }

private:
    std::shared_ptr<PKCS11Session> session_;
    bool keep_ = false;
};

// The session of a handle through the library entity.
CK_RV FindSession(CK_SESSION_HANDLE handle, std::shared_ptr<PKCS11Session>* session);

#endif
