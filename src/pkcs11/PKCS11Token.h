// The key in a slot: a token owns one device object of the token driver and
// knows its slot id. Also the token information, the mechanism list and the
// fixed mechanism information of this module.
#ifndef QVK_PKCS11_PKCS11TOKEN_H
#define QVK_PKCS11_PKCS11TOKEN_H

#include <cstdint>

#include "pkcs11/PKCS11Device.h"
#include "pkcs11/PKCS11Lock.h"
#include "pkcs11/pkcs11ua.h"

class PKCS11TokenManager;

class PKCS11Token : public PKCS11Lock {
public:
    explicit PKCS11Token(std::uint32_t slotId);
    ~PKCS11Token() override;

    // CKR_DEVICE_ERROR when the device object could not be made.
    CK_RV GetDevice(PKCS11Device** device);
    std::uint32_t GetSlotId() const { return slotId_; }

    // Read through a token manager borrowed from the pool.
    CK_RV GetTokenInfo(CK_TOKEN_INFO* info);
    CK_RV BuildTokenInfo(PKCS11TokenManager* manager, CK_TOKEN_INFO* info);
    CK_RV GetMechanismList(CK_MECHANISM_TYPE* list, CK_ULONG* count);

private:
    PKCS11Device* device_;
    std::uint32_t slotId_;
};

// The mechanism information of this module, the same for every token.
CK_RV GetMechanismInfo(CK_MECHANISM_TYPE type, CK_MECHANISM_INFO* info);

// The stored label as shown: each run that starts with '?' and goes on over
// '?' and blanks is dropped when another character follows it, and cut off
// at the end; a NUL ends the label. Returns the length kept in `label`.
std::uint32_t CleanTokenLabel(std::uint8_t* label, std::uint32_t length);

#endif
