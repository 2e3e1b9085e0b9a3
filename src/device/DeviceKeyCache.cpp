// Reads of the key's parameters and public keys through the shared key
// cache, and random numbers from the key.
#include <algorithm>
#include <cstddef>
#include <cstring>

#include "device/DeviceInternal.h"

using namespace qvkdev;

namespace {

struct CacheItemLayout {
    uint8_t command;
    uint32_t size;
    size_t dataOffset;
    uint32_t KeyCacheRecord::*present;
    uint32_t KeyCacheRecord::*valid;
};

const CacheItemLayout kSignParameters{KEYCMD_READ_SIGN_KEY_PARAMS, 240, offsetof(KeyCacheRecord, signKeyParameters),
                                      &KeyCacheRecord::signKeyParametersPresent,
                                      &KeyCacheRecord::signKeyParametersValid};
const CacheItemLayout kSignPublicKey{KEYCMD_READ_SIGN_PUBLIC_KEY, 64, offsetof(KeyCacheRecord, signPublicKey),
                                     &KeyCacheRecord::signPublicKeyPresent, &KeyCacheRecord::signPublicKeyValid};
const CacheItemLayout kAgreementParameters{
    KEYCMD_READ_AGREE_KEY_PARAMS, 240, offsetof(KeyCacheRecord, agreementKeyParameters),
    &KeyCacheRecord::agreementKeyParametersPresent, &KeyCacheRecord::agreementKeyParametersValid};
const CacheItemLayout kAgreementPublicKey{
    KEYCMD_READ_AGREE_PUBLIC_KEY, 72, offsetof(KeyCacheRecord, agreementPublicKey),
    &KeyCacheRecord::agreementPublicKeyPresent, &KeyCacheRecord::agreementPublicKeyValid};

uint8_t* ItemData(KeyCacheRecord* r, size_t offset)
{
    return reinterpret_cast<uint8_t*>(r) + offset;
}

// One attempt at reading the whole item from the key into `out`.
uint32_t ReadItemFromKey(DeviceContext* c, const CacheItemLayout& item, uint8_t* out)
{
    const uint32_t chunkSize = BlockDataSize(c);
    uint32_t done = 0;
    for (uint8_t index = 0; done < item.size; ++index) {
        DeviceBlock block;
        InitRequest(&block, item.command, index);
        uint32_t r = ProtectBlock(c, &block, KEYPROT_MAC_ENCRYPT);
        if (r == 0) r = ExchangeBlock(c, &block);
        if (r == 0) {
            if (block.protection == KEYPROT_NONE && c->loggedIn)
                r = KEYERR_CORRUPTED_REQUEST;
            else if (VerifyBlock(c, &block) != 0)
                r = c->loggedIn ? KEYERR_CORRUPTED_REQUEST : KEYERR_ALREADY_AUTHENTICATED;
            else
                r = block.status();
        }
        if (r == 0) {
            const uint32_t n = std::min(item.size - done, chunkSize);
            std::memcpy(out + done, block.data, n);
            done += n;
        }
        SecureWipe(&block, sizeof(block));
        if (r != 0) return r;
    }
    return 0;
}

uint32_t LoadCachedItem(DeviceContext* c, const CacheItemLayout& item, uint8_t* out)
{
    if (c->deviceId == 0) return KEYERR_GENERAL_FAILURE;
    KeyAndCacheLock lock(c);
    if (lock.status() != 0) return lock.status();
    uint32_t r = 0;
    KeyCacheRecord* record = FindOrClaimKeyRecord(c->deviceId);
    if (record == nullptr) {
        r = KEYERR_NO_MEMORY;
    } else if (record->*item.valid) {
        r = record->*item.present ? 0 : KEYERR_NO_KEY;
    } else {
        // A session of another context hides the item: end it once and ask again.
        bool loggedOutOnce = false;
        for (;;) {
            r = ReadItemFromKey(c, item, ItemData(record, item.dataOffset));
            if (r == KEYERR_ALREADY_AUTHENTICATED && !loggedOutOnce) {
                loggedOutOnce = true;
                r = SendLogout(c);
                if (r == 0) continue;
            }
            break;
        }
        if (r == 0) {
            record->*item.present = 1;
            record->*item.valid = 1;
        } else if (r == KEYERR_NO_KEY) {
            record->*item.present = 0;
            record->*item.valid = 1;
        }
    }
    if (r == 0 && out != nullptr) std::memcpy(out, ItemData(record, item.dataOffset), item.size);
    return r;
}

}  // namespace

uint32_t LoadSignatureKeyParameters(DeviceContext* context, uint8_t* out240)
{
    return LoadCachedItem(context, kSignParameters, out240);
}

uint32_t LoadSignaturePublicKey(DeviceContext* context, uint8_t* out64)
{
    return LoadCachedItem(context, kSignPublicKey, out64);
}

uint32_t LoadAgreementKeyParameters(DeviceContext* context, uint8_t* out240)
{
    return LoadCachedItem(context, kAgreementParameters, out240);
}

uint32_t LoadAgreementPublicKey(DeviceContext* context, uint8_t* out72)
{
    return LoadCachedItem(context, kAgreementPublicKey, out72);
}

uint32_t GetSignatureKeyParameters(DeviceContext* context, uint8_t* out240)
{
    return LoadSignatureKeyParameters(context, out240);
}

uint32_t GetSignaturePublicKey(DeviceContext* context, uint8_t* out64)
{
    return LoadSignaturePublicKey(context, out64);
}

uint32_t GetAgreementKeyParameters(DeviceContext* context, uint8_t* out240)
{
    return LoadAgreementKeyParameters(context, out240);
}

uint32_t GetAgreementPublicKey(DeviceContext* context, uint8_t* out72)
{
    return LoadAgreementPublicKey(context, out72);
}
