// Signing on the key, key agreement, the secret-value commands, and the key
// wraps under the agreed key (the key's own and the ones composed here from
// its block primitives).
#include <algorithm>
#include <cstring>

#include "crypto/ByteOrder.h"
#include "device/DeviceInternal.h"

using namespace qvkdev;

namespace {

using qvkcrypto::StoreLE32;

constexpr uint32_t kPeerKeyBytes = DEVICE_AGREE_KEY_BYTES;
constexpr uint32_t kAgreeRequestOld = 168;
constexpr uint32_t kAgreeRequestMax = 256;
constexpr int kUkmMaxOld = 95;
constexpr uint32_t kAgreeDataMaxNew = kAgreeRequestMax - kPeerKeyBytes - 1;  // 183
constexpr uint8_t kSignOptionsRefused = 0x60;                                // the size code's bits

// The fixed IV of the old wrap; the composed new wrap uses it four times, as
// the key's own wrap does, so that either side opens the other's values.
constexpr uint8_t kWrapIv[8] = {0x4A, 0xDD, 0xA2, 0x2C, 0x79, 0xE8, 0x21, 0x05};
constexpr uint8_t kWrapIvNew[32] = {0x4A, 0xDD, 0xA2, 0x2C, 0x79, 0xE8, 0x21, 0x05, 0x4A, 0xDD, 0xA2,
                                    0x2C, 0x79, 0xE8, 0x21, 0x05, 0x4A, 0xDD, 0xA2, 0x2C, 0x79, 0xE8,
                                    0x21, 0x05, 0x4A, 0xDD, 0xA2, 0x2C, 0x79, 0xE8, 0x21, 0x05};

// Sends one chunk again after 10 ms for as long as the key answers busy,
// within the retry budget of the whole operation.
uint32_t ExchangeWaitingOutBusy(DeviceContext* c, const DeviceBlock& request, DeviceBlock* answer, RetryBudget& budget)
{
    for (;;) {
        *answer = request;
        const uint32_t r = ProtectedExchange(c, answer, false);
        if (r != KEYERR_DEVICE_BUSY || !budget.PauseAndContinue()) return r;
    }
}

// The three signing chunks; each carries the whole hash.
uint32_t SignChunks(DeviceContext* c, uint8_t parameter, const uint8_t* hash, uint32_t length, uint8_t* signature)
{
    const uint32_t chunkSize = BlockDataSize(c);
    RetryBudget budget;
    uint32_t done = 0;
    uint32_t r = 0;
    for (uint8_t index = 0; done < DEVICE_SIGNATURE_BYTES && r == 0; ++index) {
        DeviceBlock request, answer;
        InitRequest(&request, KEYCMD_SIGN_HASH, static_cast<uint8_t>(parameter | index));
        std::memcpy(request.data, hash, length);
        r = ExchangeWaitingOutBusy(c, request, &answer, budget);
        if (r == 0) {
            const uint32_t n = std::min(DEVICE_SIGNATURE_BYTES - done, chunkSize);
            std::memcpy(signature + done, answer.data, n);
            done += n;
        }
        SecureWipe(&answer, sizeof(answer));
        SecureWipe(&request, sizeof(request));
    }
    return r;
}

// A chunked agreement request, waiting out busy answers.
uint32_t SendAgreement(DeviceContext* c, uint8_t command, const uint8_t* data, uint32_t length, uint8_t options)
{
    const uint32_t chunkSize = BlockDataSize(c);
    RetryBudget budget;
    uint32_t r = 0;
    for (uint32_t offset = 0, index = 0; offset < length && r == 0; ++index) {
        DeviceBlock request, answer;
        InitRequest(&request, command, static_cast<uint8_t>(options | index));
        const uint32_t n = std::min(length - offset, chunkSize);
        std::memcpy(request.data, data + offset, n);
        offset += n;
        r = ExchangeWaitingOutBusy(c, request, &answer, budget);
        SecureWipe(&answer, sizeof(answer));
        SecureWipe(&request, sizeof(request));
    }
    return r;
}

uint32_t BuildAndSendAgreement(DeviceContext* c, uint8_t command, const uint8_t* peer, const uint8_t* ukm,
                               uint32_t ukmLength, uint32_t requestLength, uint8_t options)
{
    uint8_t request[kAgreeRequestMax] = {};
    std::memcpy(request, peer, kPeerKeyBytes);
    request[kPeerKeyBytes] = static_cast<uint8_t>(ukmLength);
    if (ukmLength != 0) std::memcpy(request + kPeerKeyBytes + 1, ukm, ukmLength);
    const uint32_t r = SendAgreement(c, command, request, requestLength, options);
    SecureWipe(request, sizeof(request));
    return r;
}

void Reverse(uint8_t* data, uint32_t length)
{
    std::reverse(data, data + length);
}

uint32_t WrapOld(DeviceContext* c, const uint8_t* key, uint8_t* out)
{
    // T = U || K || MAC(K): CFB under U over K and its MAC, reversed, then
    // CFB under the fixed IV.
    uint8_t t[DEVICE_WRAPPED_KEY_OLD_BYTES] = {};
    uint32_t mac = 0;
    uint32_t r = GetDeviceRandom(c, t, 8);
    if (r == 0) {
        std::memcpy(t + 8, key, 32);
        r = ComputeMacOnDevice(c, key, 32, &mac, 0x40);
    }
    if (r == 0) {
        StoreLE32(t + 40, mac);
        uint8_t iv[8];
        std::memcpy(iv, t, 8);
        r = CfbEncryptOnDevice(c, iv, t + 8, 36, 0x40);
    }
    if (r == 0) {
        Reverse(t, sizeof(t));
        r = CfbEncryptOnDevice(c, kWrapIv, t, sizeof(t), 0x40);
    }
    if (r == 0) std::memcpy(out, t, sizeof(t));
    SecureWipe(t, sizeof(t));
    SecureWipe(&mac, sizeof(mac));
    return r;
}

uint32_t UnwrapOld(DeviceContext* c, const uint8_t* wrapped, uint8_t* out)
{
    uint8_t r8[DEVICE_WRAPPED_KEY_OLD_BYTES];
    std::memcpy(r8, wrapped, sizeof(r8));
    uint32_t mac = 0;
    uint32_t r = CfbDecryptOnDevice(c, kWrapIv, r8, sizeof(r8));
    if (r == 0) {
        Reverse(r8, sizeof(r8));
        uint8_t iv[8];
        std::memcpy(iv, r8, 8);
        r = CfbDecryptOnDevice(c, iv, r8 + 8, 36);
    }
    if (r == 0) r = ComputeMacOnDevice(c, r8 + 8, 32, &mac, 0x40);
    if (r == 0) {
        uint8_t expected[4];
        StoreLE32(expected, mac);
        if (std::memcmp(expected, r8 + 40, 4) != 0)
            r = KEYERR_BAD_CHECKSUM;
        else
            std::memcpy(out, r8 + 8, 32);
        SecureWipe(expected, sizeof(expected));
    }
    SecureWipe(r8, sizeof(r8));
    SecureWipe(&mac, sizeof(mac));
    return r;
}

uint32_t WrapOnKey(DeviceContext* c, const uint8_t* key, uint8_t* out)
{
    const uint32_t chunkSize = BlockDataSize(c);
    uint32_t done = 0;
    uint32_t r = 0;
    for (uint8_t index = 0; done < DEVICE_WRAPPED_KEY_NEW_BYTES && r == 0; ++index) {
        DeviceBlock block;
        InitRequest(&block, KEYCMD_WRAP_KEY, index);
        if (index == 0) std::memcpy(block.data, key, 32);
        r = ProtectedExchange(c, &block, true);
        if (r == 0) {
            const uint32_t n = std::min(DEVICE_WRAPPED_KEY_NEW_BYTES - done, chunkSize);
            std::memcpy(out + done, block.data, n);
            done += n;
        }
        SecureWipe(&block, sizeof(block));
    }
    return r;
}

uint32_t UnwrapOnKey(DeviceContext* c, const uint8_t* wrapped, uint8_t* out)
{
    const uint32_t chunkSize = BlockDataSize(c);
    uint32_t r = 0;
    for (uint32_t offset = 0, index = 0; offset < DEVICE_WRAPPED_KEY_NEW_BYTES && r == 0; ++index) {
        DeviceBlock block;
        InitRequest(&block, KEYCMD_UNWRAP_KEY, static_cast<uint8_t>(index));
        const uint32_t n = std::min(DEVICE_WRAPPED_KEY_NEW_BYTES - offset, chunkSize);
        std::memcpy(block.data, wrapped + offset, n);
        offset += n;
        r = ProtectedExchange(c, &block, true);
        if (r == 0 && offset == DEVICE_WRAPPED_KEY_NEW_BYTES) std::memcpy(out, block.data, 32);
        SecureWipe(&block, sizeof(block));
    }
    return r;
}

uint32_t WrapComposed(DeviceContext* c, const uint8_t* key, uint8_t* out)
{
    uint32_t r = GetDeviceRandom(c, out, 32);
    if (r != 0) return r;
    std::memcpy(out + 32, key, 32);
    r = ComputeMacOnDeviceNew(c, key, out + 64);
    if (r == 0) {
        uint8_t iv[32];
        std::memcpy(iv, out, 32);
        r = CfbEncryptOnDeviceNew(c, iv, out + 32, 64);
        SecureWipe(iv, sizeof(iv));
    }
    if (r == 0) {
        Reverse(out, DEVICE_WRAPPED_KEY_NEW_BYTES);
        r = CfbEncryptOnDeviceNew(c, kWrapIvNew, out, DEVICE_WRAPPED_KEY_NEW_BYTES);
    }
    if (r != 0) SecureWipe(out, DEVICE_WRAPPED_KEY_NEW_BYTES);
    return r;
}

uint32_t UnwrapComposed(DeviceContext* c, const uint8_t* wrapped, uint8_t* out)
{
    uint8_t w[DEVICE_WRAPPED_KEY_NEW_BYTES];
    std::memcpy(w, wrapped, sizeof(w));
    uint8_t mac[32];
    uint32_t r = CfbDecryptOnDeviceNew(c, kWrapIvNew, w, sizeof(w));
    if (r == 0) {
        Reverse(w, sizeof(w));
        uint8_t iv[32];
        std::memcpy(iv, w, 32);
        r = CfbDecryptOnDeviceNew(c, iv, w + 32, 64);
        SecureWipe(iv, sizeof(iv));
    }
    if (r == 0) r = ComputeMacOnDeviceNew(c, w + 32, mac);
    if (r == 0) {
        if (std::memcmp(mac, w + 64, 32) != 0)
            r = KEYERR_BAD_CHECKSUM;
        else
            std::memcpy(out, w + 32, 32);
    }
    SecureWipe(mac, sizeof(mac));
    SecureWipe(w, sizeof(w));
    return r;
}

}  // namespace

uint32_t SignHash32OnDevice(DeviceContext* context, const uint8_t hash[32], uint8_t signature[144], uint8_t options)
{
    if (hash == nullptr || signature == nullptr) return KEYERR_BAD_PARAMETER;
    if (WaitDeviceMutex(context) != 0) return KEYERR_DEVICE_BUSY;
    const uint32_t r = SignChunks(context, options, hash, 32, signature);
    ReleaseDeviceMutex(context);
    return r;
}

uint32_t SignHashOnDevice(DeviceContext* context, const uint8_t* hash, int length, uint8_t signature[144],
                          uint8_t options)
{
    if ((length != 32 && length != 48 && length != 64) || (options & kSignOptionsRefused) != 0)
        return KEYERR_BAD_PARAMETER;
    if (hash == nullptr || signature == nullptr) return KEYERR_BAD_PARAMETER;
    if (WaitDeviceMutex(context) != 0) return KEYERR_DEVICE_BUSY;
    uint32_t r;
    if (context->version >= DEVICE_NEW_FORM_VERSION) {
        const uint8_t sizeCode = static_cast<uint8_t>(2 * length - 64);
        r = SignChunks(context, static_cast<uint8_t>(sizeCode | options), hash, static_cast<uint32_t>(length),
                       signature);
    } else {
        r = length == 32 ? SignHash32OnDevice(context, hash, signature, options) : KEYERR_NOT_SUPPORTED;
    }
    ReleaseDeviceMutex(context);
    return r;
}

uint32_t AgreeKeyOnDevice(DeviceContext* context, const uint8_t peerPublicKey[72], const uint8_t* ukm, int ukmLength,
                          uint8_t options)
{
    if (ukmLength < 0 || ukmLength > kUkmMaxOld) return KEYERR_BAD_PARAMETER;
    if (peerPublicKey == nullptr || (ukmLength != 0 && ukm == nullptr)) return KEYERR_BAD_PARAMETER;
    if (WaitDeviceMutex(context) != 0) return KEYERR_DEVICE_BUSY;
    const uint32_t r = BuildAndSendAgreement(context, KEYCMD_AGREE_KEY, peerPublicKey, ukm,
                                             static_cast<uint32_t>(ukmLength), kAgreeRequestOld, options);
    ReleaseDeviceMutex(context);
    return r;
}

uint32_t AgreeKeyOnDeviceNew(DeviceContext* context, const uint8_t peerPublicKey[72], const uint8_t* data,
                             uint32_t length, uint8_t options)
{
    // Compared directly: 73 + length could wrap around.
    if (length > kAgreeDataMaxNew) return KEYERR_BAD_PARAMETER;
    if (peerPublicKey == nullptr || (length != 0 && data == nullptr)) return KEYERR_BAD_PARAMETER;
    if (WaitDeviceMutex(context) != 0) return KEYERR_DEVICE_BUSY;
    uint32_t r = KEYERR_NOT_SUPPORTED;
    if (context->version >= DEVICE_NEW_FORM_VERSION)
        r = BuildAndSendAgreement(context, KEYCMD_AGREE_KEY_NEW, peerPublicKey, data, length,
                                  kPeerKeyBytes + 1 + length, options);
    ReleaseDeviceMutex(context);
    return r;
}

uint32_t GenerateDeviceSecret(DeviceContext* context, uint8_t out[32])
{
    if (context->version < 7) return KEYERR_BAD_REQUEST;
    if (out == nullptr) return KEYERR_BAD_PARAMETER;
    return SingleExchange(context, KEYCMD_GENERATE_SECRET, 0, nullptr, 0, out, 32, false);
}

uint32_t LoadKeyContext(DeviceContext* context, const uint8_t value[32])
{
    if (value == nullptr) return KEYERR_BAD_PARAMETER;
    return SingleExchange(context, KEYCMD_LOAD_KEY_CONTEXT, 0, value, 32, nullptr, 0, false);
}

uint32_t StoreDeviceSecret(DeviceContext* context, const uint8_t value[32], uint8_t parameter)
{
    if (value == nullptr) return KEYERR_BAD_PARAMETER;
    return SingleExchange(context, KEYCMD_STORE_SECRET, parameter, value, 32, nullptr, 0, false);
}

uint32_t ReadDeviceSecret(DeviceContext* context, uint8_t out[32], uint8_t parameter)
{
    if (out == nullptr) return KEYERR_BAD_PARAMETER;
    return SingleExchange(context, KEYCMD_READ_SECRET, parameter, nullptr, 0, out, 32, false);
}

uint32_t EraseDeviceSecret(DeviceContext* context, uint8_t parameter)
{
    return SingleExchange(context, KEYCMD_ERASE_SECRET, parameter, nullptr, 0, nullptr, 0, false);
}

uint32_t StoreDeviceSecretNew(DeviceContext* context, const uint8_t value[32], uint8_t parameter)
{
    if (value == nullptr) return KEYERR_BAD_PARAMETER;
    return SingleExchange(context, KEYCMD_STORE_SECRET_NEW, parameter, value, 32, nullptr, 0, false);
}

uint32_t ReadDeviceSecretNew(DeviceContext* context, uint8_t out[32], uint8_t parameter)
{
    if (out == nullptr) return KEYERR_BAD_PARAMETER;
    return SingleExchange(context, KEYCMD_READ_SECRET_NEW, parameter, nullptr, 0, out, 32, false);
}

uint32_t EraseDeviceSecretNew(DeviceContext* context, uint8_t parameter)
{
    if (context->version < DEVICE_NEW_FORM_VERSION) return KEYERR_NOT_SUPPORTED;
    return SingleExchange(context, KEYCMD_ERASE_SECRET_NEW, parameter, nullptr, 0, nullptr, 0, false);
}

uint32_t WrapKeyOnDeviceOld(DeviceContext* context, const uint8_t key[32], uint8_t wrapped[44])
{
    if (key == nullptr || wrapped == nullptr) return KEYERR_BAD_PARAMETER;
    if (WaitDeviceMutex(context) != 0) return KEYERR_DEVICE_BUSY;
    const uint32_t r = WrapOld(context, key, wrapped);
    ReleaseDeviceMutex(context);
    return r;
}

uint32_t UnwrapKeyOnDeviceOld(DeviceContext* context, const uint8_t wrapped[44], uint8_t key[32])
{
    if (key == nullptr || wrapped == nullptr) return KEYERR_BAD_PARAMETER;
    if (WaitDeviceMutex(context) != 0) return KEYERR_DEVICE_BUSY;
    const uint32_t r = UnwrapOld(context, wrapped, key);
    ReleaseDeviceMutex(context);
    return r;
}

uint32_t WrapKeyOnDevice(DeviceContext* context, const uint8_t key[32], uint8_t wrapped[96], int onKey)
{
    if (key == nullptr || wrapped == nullptr) return KEYERR_BAD_PARAMETER;
    if (WaitDeviceMutex(context) != 0) return KEYERR_DEVICE_BUSY;
    uint32_t r = KEYERR_NOT_SUPPORTED;
    if (context->version >= DEVICE_NEW_FORM_VERSION)
        r = onKey != 0 ? WrapOnKey(context, key, wrapped) : WrapComposed(context, key, wrapped);
    ReleaseDeviceMutex(context);
    return r;
}

uint32_t UnwrapKeyOnDevice(DeviceContext* context, const uint8_t wrapped[96], uint8_t key[32], int onKey)
{
    if (key == nullptr || wrapped == nullptr) return KEYERR_BAD_PARAMETER;
    if (WaitDeviceMutex(context) != 0) return KEYERR_DEVICE_BUSY;
    uint32_t r = KEYERR_NOT_SUPPORTED;
    if (context->version >= DEVICE_NEW_FORM_VERSION)
        r = onKey != 0 ? UnwrapOnKey(context, wrapped, key) : UnwrapComposed(context, wrapped, key);
    ReleaseDeviceMutex(context);
    return r;
}
