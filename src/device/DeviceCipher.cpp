// The key's block primitives (8-byte blocks with a 32-bit MAC; 32-byte blocks
// with a 32-byte MAC on new keys), the CFB and MAC modes built on them here,
// the substitution tables and the remaining new-form commands.
#include <algorithm>
#include <cstring>

#include "device/DeviceInternal.h"

using namespace qvkdev;

namespace {

constexpr uint32_t kOldBlock = 8;
constexpr uint32_t kNewBlock = 32;
constexpr uint32_t kMacPiece = 56;  // one MAC step carries seven 8-byte blocks on both forms
constexpr uint8_t kCfbOptions = 0x40;
constexpr uint8_t kMacOption = 0x80;
constexpr uint32_t kSBoxBytes = 64;
constexpr uint32_t kWideTableBytes = 1024;

// The block count is checked against what one request carries before
// anything is sent: a negative or zero count, or one past the data area,
// would send garbage or overrun the block.
bool BlockCountFits(const DeviceContext* c, int blocks, uint32_t blockSize)
{
    return blocks >= 1 && static_cast<uint32_t>(blocks) <= BlockDataSize(c) / blockSize;
}

uint32_t TransformBlocks(DeviceContext* c, uint8_t command, uint8_t* buffer, int blocks, uint8_t options,
                         uint32_t blockSize, bool mustBeEncrypted)
{
    const uint32_t length = static_cast<uint32_t>(blocks) * blockSize;
    return SingleExchange(c, command, static_cast<uint8_t>(options | blocks), buffer, length, buffer, length,
                          mustBeEncrypted);
}

}  // namespace

uint32_t SetSubstitutionTable(DeviceContext* context, uint8_t table, const uint8_t sbox[64])
{
    if (table < 1 || table > 3 || sbox == nullptr) return KEYERR_BAD_PARAMETER;
    if (WaitDeviceMutex(context) != 0) return KEYERR_DEVICE_BUSY;
    // The table number sits above the chunk index: 8, 16 or 24 OR the index.
    const uint32_t r = SendChunked(context, KEYCMD_SET_SBOX, sbox, kSBoxBytes, static_cast<uint8_t>(table * 8));
    ReleaseDeviceMutex(context);
    return r;
}

uint32_t StartDeviceMac(DeviceContext* context, const uint8_t iv[8])
{
    if (iv == nullptr) return KEYERR_BAD_PARAMETER;
    return SingleExchange(context, KEYCMD_SET_IV, 0, iv, kOldBlock, nullptr, 0, false);
}

uint32_t GetDeviceMac(DeviceContext* context, uint32_t* mac)
{
    if (mac == nullptr) return KEYERR_BAD_PARAMETER;
    uint8_t bytes[4];
    const uint32_t r = SingleExchange(context, KEYCMD_GET_MAC, 0, nullptr, 0, bytes, 4, false);
    if (r == 0)
        *mac = uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
    SecureWipe(bytes, sizeof(bytes));
    return r;
}

uint32_t CipherBlocks(DeviceContext* context, uint8_t* buffer, int blocks, uint8_t options)
{
    if (buffer == nullptr || !BlockCountFits(context, blocks, kOldBlock)) return KEYERR_BAD_PARAMETER;
    return TransformBlocks(context, KEYCMD_CIPHER_BLOCKS, buffer, blocks, options, kOldBlock, false);
}

uint32_t CipherBlocksProtected(DeviceContext* context, uint8_t* buffer, int blocks, uint8_t options)
{
    if (buffer == nullptr || !BlockCountFits(context, blocks, kOldBlock)) return KEYERR_BAD_PARAMETER;
    return TransformBlocks(context, KEYCMD_CIPHER_BLOCKS_PROTECTED, buffer, blocks, options, kOldBlock, true);
}

uint32_t CipherBlocksNew(DeviceContext* context, uint8_t* buffer, int blocks, uint8_t options)
{
    if (buffer == nullptr || !BlockCountFits(context, blocks, kNewBlock)) return KEYERR_BAD_PARAMETER;
    if (context->version < DEVICE_NEW_FORM_VERSION) return KEYERR_NOT_SUPPORTED;
    return TransformBlocks(context, KEYCMD_CIPHER_BLOCKS_NEW, buffer, blocks, options, kNewBlock, false);
}

uint32_t CipherBlocksProtectedNew(DeviceContext* context, uint8_t* buffer, int blocks, uint8_t options)
{
    if (buffer == nullptr || !BlockCountFits(context, blocks, kNewBlock)) return KEYERR_BAD_PARAMETER;
    if (context->version < DEVICE_NEW_FORM_VERSION) return KEYERR_NOT_SUPPORTED;
    return TransformBlocks(context, KEYCMD_CIPHER_BLOCKS_PROTECTED_NEW, buffer, blocks, options, kNewBlock, true);
}

uint32_t GetDeviceMacNew(DeviceContext* context, uint8_t mac[32])
{
    if (context->version < DEVICE_NEW_FORM_VERSION) return KEYERR_NOT_SUPPORTED;
    if (mac == nullptr) return KEYERR_BAD_PARAMETER;
    return SingleExchange(context, KEYCMD_GET_MAC_NEW, 0, nullptr, 0, mac, 32, false);
}

uint32_t GetValueBySize(DeviceContext* context, uint8_t* out, uint32_t size)
{
    if (size != 32 && size != 48 && size != 64) return KEYERR_BAD_PARAMETER;
    if (context->version < DEVICE_NEW_FORM_VERSION) return KEYERR_NOT_SUPPORTED;
    if (out == nullptr) return KEYERR_BAD_PARAMETER;
    return SingleExchange(context, KEYCMD_GET_VALUE_NEW, static_cast<uint8_t>((size - 32) / 16), nullptr, 0, out, size,
                          false);
}

uint32_t CfbEncryptOnDevice(DeviceContext* context, const uint8_t iv[8], uint8_t* buffer, uint32_t length,
                            uint8_t options)
{
    if (iv == nullptr || (buffer == nullptr && length != 0)) return KEYERR_BAD_PARAMETER;
    if (WaitDeviceMutex(context) != 0) return KEYERR_DEVICE_BUSY;
    uint8_t f[kOldBlock];
    std::memcpy(f, iv, kOldBlock);
    uint32_t r = 0;
    for (uint32_t offset = 0; offset < length && r == 0;) {
        r = CipherBlocks(context, f, 1, options);
        if (r != 0) break;
        const uint32_t n = std::min(length - offset, kOldBlock);
        for (uint32_t i = 0; i < n; ++i) buffer[offset + i] ^= f[i];
        if (n == kOldBlock) std::memcpy(f, buffer + offset, kOldBlock);
        offset += n;
    }
    SecureWipe(f, sizeof(f));
    ReleaseDeviceMutex(context);
    return r;
}

uint32_t CfbDecryptOnDevice(DeviceContext* context, const uint8_t iv[8], uint8_t* buffer, uint32_t length)
{
    if (iv == nullptr || (buffer == nullptr && length != 0)) return KEYERR_BAD_PARAMETER;
    if (WaitDeviceMutex(context) != 0) return KEYERR_DEVICE_BUSY;
    uint8_t f[kOldBlock];
    std::memcpy(f, iv, kOldBlock);
    uint32_t r = 0;
    for (uint32_t offset = 0; offset < length && r == 0;) {
        // Decryption runs the block transformation forward, as encryption does.
        r = CipherBlocks(context, f, 1, kCfbOptions);
        if (r != 0) break;
        const uint32_t n = std::min(length - offset, kOldBlock);
        uint8_t next[kOldBlock];
        std::memcpy(next, buffer + offset, n);
        for (uint32_t i = 0; i < n; ++i) buffer[offset + i] ^= f[i];
        if (n == kOldBlock) std::memcpy(f, next, kOldBlock);
        SecureWipe(next, sizeof(next));
        offset += n;
    }
    SecureWipe(f, sizeof(f));
    ReleaseDeviceMutex(context);
    return r;
}

uint32_t ComputeMacOnDevice(DeviceContext* context, const uint8_t* data, uint32_t length, uint32_t* mac,
                            uint8_t options)
{
    if (mac == nullptr || (data == nullptr && length != 0)) return KEYERR_BAD_PARAMETER;
    if (WaitDeviceMutex(context) != 0) return KEYERR_DEVICE_BUSY;
    const uint8_t zeros[kOldBlock] = {};
    uint32_t r = StartDeviceMac(context, zeros);
    const uint8_t pieceOptions = static_cast<uint8_t>(options | kMacOption);
    for (uint32_t offset = 0; offset < length && r == 0;) {
        // The last piece is padded with zeros to whole blocks.
        uint8_t piece[kMacPiece] = {};
        const uint32_t n = std::min(length - offset, kMacPiece);
        std::memcpy(piece, data + offset, n);
        r = CipherBlocks(context, piece, static_cast<int>((n + kOldBlock - 1) / kOldBlock), pieceOptions);
        SecureWipe(piece, sizeof(piece));
        offset += n;
    }
    if (r == 0) r = GetDeviceMac(context, mac);
    ReleaseDeviceMutex(context);
    return r;
}

// New-form CFB: 32-byte feedback; a short tail uses the last bytes of the
// transformed register and feeds its ciphertext back into them.
namespace {

uint32_t CfbNew(DeviceContext* c, const uint8_t* iv, uint8_t* buffer, uint32_t length, bool encrypt)
{
    if (iv == nullptr || (buffer == nullptr && length != 0)) return KEYERR_BAD_PARAMETER;
    // The whole run under one hold of the key, so no other user's command
    // (a new working key) lands between its blocks.
    if (WaitDeviceMutex(c) != 0) return KEYERR_DEVICE_BUSY;
    uint8_t f[kNewBlock];
    std::memcpy(f, iv, kNewBlock);
    uint32_t r = 0;
    for (uint32_t offset = 0; offset < length;) {
        r = CipherBlocksNew(c, f, 1, kCfbOptions);
        if (r != 0) break;
        const uint32_t n = std::min(length - offset, kNewBlock);
        uint8_t* tail = f + kNewBlock - n;
        for (uint32_t i = 0; i < n; ++i) {
            const uint8_t in = buffer[offset + i];
            const uint8_t out = static_cast<uint8_t>(in ^ tail[i]);
            buffer[offset + i] = out;
            tail[i] = encrypt ? out : in;
        }
        offset += n;
    }
    SecureWipe(f, sizeof(f));
    ReleaseDeviceMutex(c);
    return r;
}

}  // namespace

uint32_t CfbEncryptOnDeviceNew(DeviceContext* context, const uint8_t iv[32], uint8_t* buffer, uint32_t length)
{
    return CfbNew(context, iv, buffer, length, true);
}

uint32_t CfbDecryptOnDeviceNew(DeviceContext* context, const uint8_t iv[32], uint8_t* buffer, uint32_t length)
{
    return CfbNew(context, iv, buffer, length, false);
}

uint32_t ComputeMacOnDeviceNew(DeviceContext* context, const uint8_t value[32], uint8_t mac[32])
{
    if (value == nullptr || mac == nullptr) return KEYERR_BAD_PARAMETER;
    if (WaitDeviceMutex(context) != 0) return KEYERR_DEVICE_BUSY;
    uint8_t buffer[2 * kNewBlock] = {};
    std::memcpy(buffer, value, kNewBlock);
    uint32_t r = CipherBlocksNew(context, buffer, 1, kCfbOptions | kMacOption);
    SecureWipe(buffer, sizeof(buffer));
    if (r == 0) r = GetDeviceMacNew(context, mac);
    ReleaseDeviceMutex(context);
    return r;
}

uint32_t WriteTableNew(DeviceContext* context, const uint8_t table[1024])
{
    if (table == nullptr) return KEYERR_BAD_PARAMETER;
    if (WaitDeviceMutex(context) != 0) return KEYERR_DEVICE_BUSY;
    uint32_t r = KEYERR_NOT_SUPPORTED;
    if (context->version >= DEVICE_NEW_FORM_VERSION)
        r = SendChunked(context, KEYCMD_WRITE_TABLE_NEW, table, kWideTableBytes, 0);
    ReleaseDeviceMutex(context);
    return r;
}

// Random numbers from the key; also the probe of a shared session.
uint32_t GetDeviceRandom(DeviceContext* context, uint8_t* out, int count)
{
    if (count < 0 || (count > 0 && out == nullptr)) return KEYERR_BAD_PARAMETER;
    if (WaitDeviceMutex(context) != 0) return KEYERR_DEVICE_BUSY;
    const bool repeatCheck = context->version < 10;
    const uint32_t maxCount = BlockDataSize(context) - 1;
    uint32_t remaining = static_cast<uint32_t>(count);
    bool extraSample = false;
    uint32_t r = 0;
    // Every answer carries at least one byte, so the requests are bounded by
    // the count (plus repeats, each of which the budget bounds).
    RetryBudget budget;
    for (;;) {
        DeviceBlock block;
        InitRequest(&block, KEYCMD_GET_RANDOM, 0);
        r = ExchangeBlock(context, &block);
        if (r == 0) r = block.status();
        if (r == 0 && block.protection < KEYPROT_MAC_ENCRYPT && context->loggedIn) r = KEYERR_CORRUPTED_REQUEST;
        if (r == 0) r = VerifyBlock(context, &block);
        const uint32_t n = block.data[0];
        // A count the block cannot hold, or none at all, is a corrupted answer.
        if (r == 0 && (n == 0 || n > maxCount)) r = KEYERR_CORRUPTED_REQUEST;
        if (r != 0) {
            SecureWipe(&block, sizeof(block));
            break;
        }
        const uint8_t* sample = block.data + 1;
        if (repeatCheck && context->lastSampleLength != 0 &&
            std::memcmp(sample, context->lastSample, context->lastSampleLength) == 0) {
            SecureWipe(&block, sizeof(block));
            if (budget.Exhausted()) {
                r = KEYERR_DEVICE_BUSY;
                break;
            }
            continue;
        }
        context->lastSampleLength = static_cast<uint8_t>(std::min<uint32_t>(n, 8));
        std::memcpy(context->lastSample, sample, 8);
        if (remaining == 0 || extraSample) {
            SecureWipe(&block, sizeof(block));
            break;
        }
        const uint32_t take = std::min(n, remaining);
        std::memcpy(out + (static_cast<uint32_t>(count) - remaining), sample, take);
        remaining -= take;
        SecureWipe(&block, sizeof(block));
        if (remaining == 0) {
            if (!repeatCheck) break;
            extraSample = true;  // remember a sample that was not handed out
        }
    }
    ReleaseDeviceMutex(context);
    return r;
}
