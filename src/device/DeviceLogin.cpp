// Password derivation, the old and new login schemes with the upgrade of new
// keys, logout, and the password kept in the context for re-login.
#include <cstdint>
#include <cstring>

#include "device/DeviceInternal.h"

using namespace qvkdev;

namespace qvkdev {

size_t PasswordLength(const char* password)
{
    if (password == nullptr) return SIZE_MAX;
    const size_t n = strnlen(password, DEVICE_MAX_PASSWORD + 1);
    return n > DEVICE_MAX_PASSWORD ? SIZE_MAX : n;
}

}  // namespace qvkdev

uint32_t DerivePasswordKeyNew(const char* password, uint8_t value[32], uint8_t* packetKey)
{
    return IterateHash7564(reinterpret_cast<const uint8_t*>(password), std::strlen(password), value, packetKey);
}

void DerivePasswordKeyOld(const char* password, uint8_t value[32], uint8_t* packetKey)
{
    IterateHash34311(reinterpret_cast<const uint8_t*>(password), std::strlen(password), value, packetKey);
}

uint32_t LoginWithPassword(DeviceContext* context, const char* password)
{
    // encryptedPassword holds at most 64 bytes; refuse before any exchange.
    if (PasswordLength(password) == SIZE_MAX) return KEYERR_BAD_PARAMETER;
    DeviceInfo info;
    uint32_t r = QueryDeviceInfo(context, &info);
    if (r != 0) return r;
    context->capabilities = info.capabilities == 0xFFFFFFFFu ? 0 : info.capabilities;

    const bool newScheme = UsesNewLoginScheme(context);
    DeviceBlock block;
    InitRequest(&block, newScheme ? KEYCMD_LOGIN_NEW : KEYCMD_LOGIN, 0);
    uint8_t packetKey[32] = {};
    if (newScheme) {
        r = DerivePasswordKeyNew(password, block.data, packetKey);
        if (r == 0) r = ProtectBlockNew(&block, packetKey, KEYPROT_MAC_ENCRYPT);
    } else {
        DerivePasswordKeyOld(password, block.data, packetKey);
        ProtectBlockOld(&block, packetKey, KEYPROT_MAC_ENCRYPT);
    }
    if (r == 0) r = TransmitBlock(context, &block, newScheme ? DEVICE_BLOCK_SIZE_NEW : DEVICE_BLOCK_SIZE_OLD);
    if (r == 0) r = block.status();
    if (r == 0) {
        const uint32_t v = newScheme ? VerifyBlockNew(&block, packetKey) : VerifyBlockOld(&block, packetKey);
        if (v != 0) r = v;
    }
    if (r == 0) {
        std::memcpy(context->sessionKey, block.data, 32);
        context->loggedIn = 1;
        context->capabilities = info.capabilities == 0xFFFFFFFFu ? 0 : info.capabilities;
    }
    SecureWipe(&block, sizeof(block));
    SecureWipe(packetKey, sizeof(packetKey));
    return r;
}

uint32_t LoginWithUpgrade(DeviceContext* context, const char* password, int retryOn22)
{
    // Bounded: one logout-and-retry for a key that already has a session, and
    // one password change to install the new scheme.
    bool loggedOutOnce = false;
    bool upgraded = false;
    for (;;) {
        const uint32_t r = LoginWithPassword(context, password);
        if (r == 0) {
            if (context->version < DEVICE_NEW_FORM_VERSION || (context->capabilities & DEVICE_CAP_NEW_PASSWORD))
                return 0;
            // The key kept the old scheme after the change: stay with the old-form session.
            if (upgraded) return 0;
            const uint32_t change = ChangePasswordOnKey(context, password, false);
            if (change != 0) {
                SendLogout(context);
                return change;
            }
            SendLogout(context);
            upgraded = true;
            continue;
        }
        if (r == KEYERR_ALREADY_AUTHENTICATED && retryOn22 && !loggedOutOnce) {
            loggedOutOnce = true;
            SendLogout(context);
            continue;
        }
        return r;
    }
}

uint32_t SendLogout(DeviceContext* context)
{
    DeviceBlock block;
    InitRequest(&block, KEYCMD_LOGOUT, 0);
    const uint32_t r = ExchangeBlock(context, &block);
    if (r != 0) return r;
    if (block.status() != 0) return block.status();
    SecureWipe(context->sessionKey, sizeof(context->sessionKey));
    context->loggedIn = 0;
    return 0;
}

uint32_t StorePasswordNew(DeviceContext* context, const char* password)
{
    const size_t n = PasswordLength(password);
    if (n == SIZE_MAX) return KEYERR_BAD_PARAMETER;
    std::memset(context->encryptedPassword, 0, sizeof(context->encryptedPassword));
    std::memcpy(context->encryptedPassword, password, n);
    const uint32_t r = Dstu7624Ecb(context->sessionKey, context->encryptedPassword, 2, true);
    if (r != 0) SecureWipe(context->encryptedPassword, sizeof(context->encryptedPassword));
    return r;
}

uint32_t StorePasswordOld(DeviceContext* context, const char* password)
{
    const size_t n = PasswordLength(password);
    if (n == SIZE_MAX) return KEYERR_BAD_PARAMETER;
    std::memset(context->encryptedPassword, 0, sizeof(context->encryptedPassword));
    std::memcpy(context->encryptedPassword, password, n);
    if (Gost28147Ecb(context->sessionKey, context->encryptedPassword, 8, true)) return 0;
    SecureWipe(context->encryptedPassword, sizeof(context->encryptedPassword));
    return KEYERR_GENERAL_FAILURE;
}

uint32_t StorePassword(DeviceContext* context, const char* password)
{
    return context->version >= DEVICE_NEW_FORM_VERSION ? StorePasswordNew(context, password)
                                                       : StorePasswordOld(context, password);
}

uint32_t RecallPassword(DeviceContext* context, uint8_t out[64])
{
    std::memcpy(out, context->encryptedPassword, 64);
    if (Gost28147Ecb(context->sessionKey, out, 8, false)) return 0;
    SecureWipe(out, 64);
    return KEYERR_GENERAL_FAILURE;
}
