#include "pkcs11driver/PKCS11DeviceStatus.h"

#include "device/DeviceProtocol.h"

namespace {

struct StatusRow {
    KeyStatus status;
    CK_RV rv;
};

constexpr StatusRow kStatusRows[] = {
    {KEYERR_OK, CKR_OK},
    // The password.
    {KEYERR_WRONG_PASSWORD, CKR_PIN_INCORRECT},
    {KEYERR_PASSWORD_BLOCKED, CKR_PIN_LOCKED},
    // The key is gone: no reader or no key in it, or a transmission that
    // failed again after the reader was connected anew.
    {KEYERR_NOT_FOUND, CKR_DEVICE_REMOVED},
    {KEYERR_SEND_FAILED, CKR_DEVICE_REMOVED},
    {KEYERR_READER_EMPTY, CKR_DEVICE_REMOVED},
    // Another process held the key past the wait, or the key stayed busy:
    // nothing is wrong with the token, the call may be tried again.
    {KEYERR_DEVICE_BUSY, CKR_FUNCTION_FAILED},
    // The key's memory is full.
    {KEYERR_NO_MEMORY, CKR_DEVICE_MEMORY},
    {KEYERR_NO_SPACE, CKR_DEVICE_MEMORY},
    // The key refused a command that needs its login, and no login could
    // be made again.
    {KEYERR_NOT_AUTHENTICATED, CKR_USER_NOT_LOGGED_IN},
    // A wrapped key whose check value the key refused.
    {KEYERR_BAD_CHECKSUM, CKR_WRAPPED_KEY_INVALID},
    // Bad answers: cut short, failing their protection, or refused requests.
    {KEYERR_RECEIVE_FAILED, CKR_DEVICE_ERROR},
    {KEYERR_CORRUPTED_REQUEST, CKR_DEVICE_ERROR},
};

}  // namespace

CK_RV DeviceStatusToCKR(std::uint32_t status)
{
    for (const StatusRow& row : kStatusRows)
        if (row.status == status) return row.rv;
    return CKR_DEVICE_ERROR;
}

CK_FLAGS PinTryFlags(std::uint32_t failedTries)
{
    CK_FLAGS flags = 0;
    if (failedTries >= 1) flags |= CKF_USER_PIN_COUNT_LOW | CKF_SO_PIN_COUNT_LOW;
    if (failedTries + 1 == DEVICE_PASSWORD_TRIES) flags |= CKF_USER_PIN_FINAL_TRY | CKF_SO_PIN_FINAL_TRY;
    if (failedTries >= DEVICE_PASSWORD_TRIES) flags |= CKF_USER_PIN_LOCKED | CKF_SO_PIN_LOCKED;
    return flags;
}
