// Request blocks: the FF 14 pseudo-APDU, MAC and encryption in the old
// (GOST 28147-89, 64-byte) and new (DSTU 7624, 76-byte) forms, the shared
// answer checks and the chunked senders.
#include <algorithm>
#include <cstring>

#include "device/DeviceInternal.h"

using namespace qvkdev;

namespace {

constexpr uint32_t kApduBufferSize = 256;
constexpr uint32_t kOldMacOffset = 60;
constexpr uint32_t kNewMacOffset = 68;

}  // namespace

namespace qvkdev {

uint32_t SendChunked(DeviceContext* context, uint8_t command, const uint8_t* data, uint32_t length, uint8_t options)
{
    const uint32_t chunkSize = BlockDataSize(context);
    uint32_t offset = 0;
    for (uint8_t index = 0; offset < length; ++index) {
        DeviceBlock block;
        InitRequest(&block, command, static_cast<uint8_t>(options | index));
        const uint32_t n = std::min(length - offset, chunkSize);
        std::memcpy(block.data, data + offset, n);
        offset += n;
        uint32_t r = ProtectBlock(context, &block, KEYPROT_MAC_ENCRYPT);
        if (r == 0) r = CheckProtectedAnswer(context, &block, ExchangeBlock(context, &block), false);
        SecureWipe(&block, sizeof(block));
        if (r != 0) return r;
    }
    return 0;
}

uint32_t ProtectedExchange(DeviceContext* context, DeviceBlock* block, bool mustBeEncrypted)
{
    const uint32_t r = ProtectBlock(context, block, KEYPROT_MAC_ENCRYPT);
    if (r != 0) return r;
    return CheckProtectedAnswer(context, block, ExchangeBlock(context, block), mustBeEncrypted);
}

uint32_t SingleExchange(DeviceContext* context, uint8_t command, uint8_t parameter, const uint8_t* in,
                        uint32_t inLength, uint8_t* out, uint32_t outLength, bool mustBeEncrypted)
{
    DeviceBlock block;
    InitRequest(&block, command, parameter);
    if (inLength != 0) std::memcpy(block.data, in, inLength);
    const uint32_t r = ProtectedExchange(context, &block, mustBeEncrypted);
    if (r == 0 && outLength != 0) std::memcpy(out, block.data, outLength);
    SecureWipe(&block, sizeof(block));
    return r;
}

void InitRequest(DeviceBlock* block, uint8_t command, uint8_t parameter)
{
    std::memset(block, 0, sizeof(*block));
    block->direction = 1;
    block->command = command;
    block->parameter = parameter;
}

uint32_t CheckProtectedAnswer(DeviceContext* context, DeviceBlock* block, uint32_t transport, bool mustBeEncrypted)
{
    if (transport != 0) return transport;
    if (VerifyBlock(context, block) != 0) return KEYERR_CORRUPTED_REQUEST;
    if (block->protection == KEYPROT_NONE) return KEYERR_CORRUPTED_REQUEST;
    if (mustBeEncrypted && block->protection == KEYPROT_MAC) return KEYERR_CORRUPTED_REQUEST;
    return block->status();
}

}  // namespace qvkdev

uint32_t BlockDataSize(const DeviceContext* context)
{
    return context->version < DEVICE_NEW_FORM_VERSION ? 56 : 64;
}

uint32_t TransmitBlock(DeviceContext* context, DeviceBlock* block, uint32_t blockSize)
{
    // Only the two block forms exist; any other size would run past the block.
    if (blockSize != DEVICE_BLOCK_SIZE_OLD && blockSize != DEVICE_BLOCK_SIZE_NEW) return KEYERR_BAD_PARAMETER;
    uint8_t apdu[kApduBufferSize] = {};
    apdu[0] = 0xFF;
    apdu[1] = 0x14;
    apdu[4] = static_cast<uint8_t>(blockSize - 1);
    std::memcpy(apdu + 5, block->bytes() + 1, blockSize - 1);
    apdu[blockSize + 4] = static_cast<uint8_t>(blockSize + 2);

    if (WaitDeviceMutex(context) != 0) {
        SecureWipe(apdu, sizeof(apdu));
        return KEYERR_DEVICE_BUSY;
    }
    uint8_t answer[kApduBufferSize];
    uint32_t received = sizeof(answer);
    const long rc = pcsc::Transmit(context->cardHandle, apdu, blockSize + 5, answer, &received);
    ReleaseDeviceMutex(context);
    SecureWipe(apdu, sizeof(apdu));

    if (rc != 0) return KEYERR_SEND_FAILED;
    // A short answer would leave the request in the block and read as success.
    if (received < blockSize - 1) {
        SecureWipe(answer, sizeof(answer));
        return KEYERR_RECEIVE_FAILED;
    }
    std::memcpy(block->bytes() + 1, answer, blockSize - 1);
    block->direction = 2;
    SecureWipe(answer, sizeof(answer));
    return 0;
}

uint32_t ExchangeBlock(DeviceContext* context, DeviceBlock* block)
{
    return TransmitBlock(context, block, BlockSizeFor(context->version));
}

uint32_t ProtectBlockNew(DeviceBlock* block, const uint8_t key[32], uint8_t mode)
{
    block->protection = mode;
    if (mode != KEYPROT_MAC && mode != KEYPROT_MAC_ENCRYPT) return 0;
    uint8_t* b = block->bytes();
    uint32_t r = Dstu7624Cmac64(key, b, kNewMacOffset * 8, b + kNewMacOffset);
    if (r == 0 && mode == KEYPROT_MAC_ENCRYPT) r = Dstu7624Ecb(key, b + 4, 2, true);
    return r;
}

void ProtectBlockOld(DeviceBlock* block, const uint8_t key[32], uint8_t mode)
{
    block->protection = mode;
    if (mode != KEYPROT_MAC && mode != KEYPROT_MAC_ENCRYPT) return;
    uint8_t* b = block->bytes();
    std::memset(b + kOldMacOffset, 0, 4);
    uint8_t mac[4];
    if (Gost28147Mac(key, b, DEVICE_BLOCK_SIZE_OLD, mac)) std::memcpy(b + kOldMacOffset, mac, 4);
    SecureWipe(mac, sizeof(mac));
    if (mode == KEYPROT_MAC_ENCRYPT) Gost28147Ecb(key, b + 4, 7, true);
}

uint32_t ProtectBlock(DeviceContext* context, DeviceBlock* block, uint8_t mode)
{
    if (context->version >= DEVICE_NEW_FORM_VERSION) return ProtectBlockNew(block, context->sessionKey, mode);
    ProtectBlockOld(block, context->sessionKey, mode);
    return 0;
}

uint32_t VerifyBlockNew(DeviceBlock* block, const uint8_t key[32])
{
    if (block->protection > KEYPROT_MAC_ENCRYPT) return KEYERR_CORRUPTED_REQUEST;
    if (block->protection == KEYPROT_NONE) return 0;
    uint8_t* b = block->bytes();
    if (block->protection == KEYPROT_MAC_ENCRYPT) {
        const uint32_t r = Dstu7624Ecb(key, b + 4, 2, false);
        if (r == KEYERR_NO_MEMORY) return r;
        if (r != 0) return KEYERR_CORRUPTED_REQUEST;
    }
    uint8_t mac[8];
    const uint32_t r = Dstu7624Cmac64(key, b, kNewMacOffset * 8, mac);
    if (r == KEYERR_NO_MEMORY) return r;
    const bool equal = r == 0 && std::memcmp(mac, b + kNewMacOffset, 8) == 0;
    SecureWipe(mac, sizeof(mac));
    return equal ? 0 : KEYERR_CORRUPTED_REQUEST;
}

uint32_t VerifyBlockOld(DeviceBlock* block, const uint8_t key[32])
{
    if (block->protection > KEYPROT_MAC_ENCRYPT) return KEYERR_CORRUPTED_REQUEST;
    if (block->protection == KEYPROT_NONE) return 0;
    uint8_t* b = block->bytes();
    if (block->protection == KEYPROT_MAC_ENCRYPT && !Gost28147Ecb(key, b + 4, 7, false))
        return KEYERR_CORRUPTED_REQUEST;
    uint8_t kept[4];
    std::memcpy(kept, b + kOldMacOffset, 4);
    std::memset(b + kOldMacOffset, 0, 4);
    uint8_t mac[4];
    const bool equal = Gost28147Mac(key, b, DEVICE_BLOCK_SIZE_OLD, mac) && std::memcmp(mac, kept, 4) == 0;
    SecureWipe(mac, sizeof(mac));
    SecureWipe(kept, sizeof(kept));
    return equal ? 0 : KEYERR_CORRUPTED_REQUEST;
}

uint32_t VerifyBlock(DeviceContext* context, DeviceBlock* block)
{
    if (context->version >= DEVICE_NEW_FORM_VERSION) return VerifyBlockNew(block, context->sessionKey);
    return VerifyBlockOld(block, context->sessionKey);
}

uint32_t WriteSignatureKey(DeviceContext* context, const uint8_t parameters[240], const uint8_t privateKey[64],
                           uint8_t options)
{
    uint8_t data[304];
    std::memcpy(data, parameters, 240);
    std::memcpy(data + 240, privateKey, 64);
    const uint32_t r = SendChunked(context, KEYCMD_WRITE_SIGN_KEY, data, sizeof(data), options);
    SecureWipe(data, sizeof(data));
    return r;
}

uint32_t WriteAgreementKey(DeviceContext* context, const uint8_t parameters[240], const uint8_t privateKey[72],
                           uint8_t options)
{
    uint8_t data[312];
    std::memcpy(data, parameters, 240);
    std::memcpy(data + 240, privateKey, 72);
    const uint32_t r = SendChunked(context, KEYCMD_WRITE_AGREE_KEY, data, sizeof(data), options);
    SecureWipe(data, sizeof(data));
    return r;
}

uint32_t SendGenerateSignatureKey(DeviceContext* context, const uint8_t parameters[240], uint8_t options)
{
    return SendChunked(context, KEYCMD_GENERATE_SIGN_KEY, parameters, 240, options);
}
