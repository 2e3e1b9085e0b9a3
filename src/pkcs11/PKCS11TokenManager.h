// Token managers: a token with its connector (the reference-counted open
// state and the login state of its device object) and its storage; the pool
// of token managers that sessions and the information calls borrow; the
// token context record of devices that use token contexts.
#ifndef QVK_PKCS11_PKCS11TOKENMANAGER_H
#define QVK_PKCS11_PKCS11TOKENMANAGER_H

#include <cstdint>
#include <memory>

#include "pkcs11/PKCS11Lock.h"
#include "pkcs11/PKCS11Token.h"
#include "pkcs11/PKCS11TokenStorage.h"
#include "pkcs11/pkcs11ua.h"

// Every operation holds the token's lock.
class PKCS11TokenConnector {
public:
    explicit PKCS11TokenConnector(PKCS11Token* token);
    virtual ~PKCS11TokenConnector();

    CK_RV Open();
    CK_RV Close();
    CK_RV Login(bool isUser, const char* pin, std::uint32_t length);
    CK_RV Logout();
    // The PIN of the current login: CKR_OK, CKR_PIN_INCORRECT, or
    // CKR_USER_NOT_LOGGED_IN.
    CK_RV CheckPIN(const char* pin, std::uint32_t length);
    CK_RV VerifyPINRecord(const char* pin, std::uint32_t length);
    // After a successful PIN change of the logged-in user type: the current
    // login now stands for the new PIN.
    void ReplacePINDigest(CK_BYTE userType, const char* pin, std::uint32_t length);
    bool IsOpen();
    bool IsLoggedIn();
    CK_BYTE GetUserType();
    CK_RV GetToken(PKCS11Token** token);
    bool IsTokenPresent();

private:
    PKCS11Token* token_;
    std::uint32_t slotId_;
    std::uint32_t openCount_ = 0;
    std::uint32_t loginCount_ = 0;
    CK_BYTE userType_ = 0;
    std::uint8_t pinDigest_[32] = {};
};

class PKCS11TokenManager {
public:
    explicit PKCS11TokenManager(PKCS11Token* token);
    virtual ~PKCS11TokenManager();

    CK_RV GetToken(PKCS11Token** token);
    CK_RV GetConnector(PKCS11TokenConnector** connector);
    CK_RV GetStorage(PKCS11TokenStorage** storage);

    CK_RV InitToken(const CK_UTF8CHAR* pin, CK_ULONG pinLength, const CK_UTF8CHAR* label);
    CK_RV InitPIN(CK_SESSION_HANDLE session, const CK_UTF8CHAR* pin, CK_ULONG pinLength);
    CK_RV SetPIN(CK_SESSION_HANDLE session, const CK_UTF8CHAR* oldPin, CK_ULONG oldLength, const CK_UTF8CHAR* newPin,
                 CK_ULONG newLength);

private:
    CK_RV FirstInitialization(const CK_UTF8CHAR* pin, CK_ULONG pinLength, const CK_UTF8CHAR* label);
    CK_RV Reinitialization(const CK_UTF8CHAR* pin, CK_ULONG pinLength, const CK_UTF8CHAR* label);

    PKCS11Token* token_;
    std::unique_ptr<PKCS11TokenConnector> connector_;
    std::unique_ptr<PKCS11TokenStorage> storage_;
};

class PKCS11TokenManagerPool : public PKCS11Lock {
public:
    explicit PKCS11TokenManagerPool(std::uint32_t capacity);
    ~PKCS11TokenManagerPool() override;

    // A session keeps its entry to itself for its life (its login state lives
    // there); a short look at the token may share an entry with anyone.
    enum class Borrower { Look, Session };
    // The entry of the slot with the fewest borrowers (a fresh one before one
    // already lent out), for a session one that no other session holds;
    // CKR_SESSION_COUNT when none is left.
    CK_RV Acquire(std::uint32_t slotId, PKCS11TokenManager** manager, Borrower borrower = Borrower::Look);
    CK_RV Release(PKCS11TokenManager* manager, Borrower borrower = Borrower::Look);
    CK_RV ReleaseOtherDevices(std::uint32_t slotId, PKCS11Device* spare);

private:
    std::unique_ptr<PKCS11TokenManager*[]> managers_;
    std::unique_ptr<PKCS11Token*[]> tokens_;
    std::unique_ptr<std::uint32_t[]> useCounts_;
    std::unique_ptr<bool[]> sessionHeld_;
    std::uint32_t capacity_ = 0;
};

// Kept for devices that use token contexts (not this key's driver).
class PKCS11TokenCotext {
public:
    explicit PKCS11TokenCotext(std::uint32_t id) : id_(id) {}
    virtual ~PKCS11TokenCotext() = default;

    std::uint32_t GetId() const { return id_; }
    CK_RV SetData(const std::uint8_t* first, std::uint32_t firstLength, const std::uint8_t* second,
                  std::uint32_t secondLength);
    void GetData(const std::uint8_t** first, std::uint32_t* firstLength, const std::uint8_t** second,
                 std::uint32_t* secondLength) const;
    bool CompareFirst(const std::uint8_t* data, std::uint32_t length) const;
    bool CompareSecond(const std::uint8_t* data, std::uint32_t length) const;
    bool SetSecond(const std::uint8_t* data, std::uint32_t length);

private:
    std::uint32_t id_;
    std::unique_ptr<std::uint8_t[]> first_;
    std::uint32_t firstLength_ = 0;
    std::unique_ptr<std::uint8_t[]> second_;
    std::uint32_t secondLength_ = 0;
};

#endif
