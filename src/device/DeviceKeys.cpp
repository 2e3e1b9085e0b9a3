// The key's two key pairs: parameter records, uncached parameter reads,
// generation, import, destruction and export, and the key-cache upkeep that
// goes with them.
#include <algorithm>
#include <cstring>

#include "device/DeviceInternal.h"

using namespace qvkdev;

namespace {

constexpr uint32_t kParametersSize = DEVICE_KEY_PARAMETERS_BYTES;
constexpr uint32_t kNumberBytes = 72;  // B, n and P: 18 words each

// The items of one key pair in the shared key cache.
struct PairItems {
    uint32_t KeyCacheRecord::*parametersPresent;
    uint32_t KeyCacheRecord::*parametersValid;
    uint32_t KeyCacheRecord::*publicKeyPresent;
    uint32_t KeyCacheRecord::*publicKeyValid;
};

const PairItems kSignatureItems{&KeyCacheRecord::signKeyParametersPresent, &KeyCacheRecord::signKeyParametersValid,
                                &KeyCacheRecord::signPublicKeyPresent, &KeyCacheRecord::signPublicKeyValid};
const PairItems kAgreementItems{&KeyCacheRecord::agreementKeyParametersPresent,
                                &KeyCacheRecord::agreementKeyParametersValid,
                                &KeyCacheRecord::agreementPublicKeyPresent, &KeyCacheRecord::agreementPublicKeyValid};

// Makes a pair's items unknown in every process; the first failure is the result.
uint32_t InvalidateSignatureItems(DeviceContext* c)
{
    uint32_t r = InvalidateSignatureKeyParametersCache(c);
    if (r == 0) r = InvalidateSignaturePublicKeyCache(c);
    return r;
}

uint32_t InvalidateAgreementItems(DeviceContext* c)
{
    uint32_t r = InvalidateAgreementKeyParametersCache(c);
    if (r == 0) r = InvalidateAgreementPublicKeyCache(c);
    return r;
}

uint32_t ReloadSignatureItems(DeviceContext* c)
{
    uint32_t r = LoadSignatureKeyParameters(c, nullptr);
    if (r == 0) r = LoadSignaturePublicKey(c, nullptr);
    return r;
}

uint32_t ReloadAgreementItems(DeviceContext* c)
{
    uint32_t r = LoadAgreementKeyParameters(c, nullptr);
    if (r == 0) r = LoadAgreementPublicKey(c, nullptr);
    return r;
}

uint32_t ReadParameterChunks(DeviceContext* c, uint8_t command, int firstChunk, int chunkCount, uint8_t* out)
{
    if (out == nullptr || firstChunk < 0 || chunkCount < 0) return KEYERR_BAD_PARAMETER;
    const uint32_t chunkSize = BlockDataSize(c);
    // A start beyond the record would write past the caller's 240 bytes.
    const uint64_t start = static_cast<uint64_t>(firstChunk) * chunkSize;
    if (start >= kParametersSize) return KEYERR_BAD_PARAMETER;
    if (WaitDeviceMutex(c) != 0) return KEYERR_DEVICE_BUSY;
    uint64_t remaining = kParametersSize - start;
    if (chunkCount != 0) remaining = std::min<uint64_t>(remaining, static_cast<uint64_t>(chunkCount) * chunkSize);
    uint32_t offset = static_cast<uint32_t>(start);
    uint32_t r = 0;
    for (uint32_t index = static_cast<uint32_t>(firstChunk); remaining > 0 && r == 0; ++index) {
        DeviceBlock block;
        InitRequest(&block, command, static_cast<uint8_t>(index));
        r = ProtectBlock(c, &block, KEYPROT_MAC_ENCRYPT);
        if (r == 0) r = ExchangeBlock(c, &block);
        if (r == 0 && ((block.protection == KEYPROT_NONE && c->loggedIn) || VerifyBlock(c, &block) != 0))
            r = KEYERR_CORRUPTED_REQUEST;
        if (r == 0) r = block.status();
        if (r == 0) {
            const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(remaining, chunkSize));
            std::memcpy(out + offset, block.data, n);
            offset += n;
            remaining -= n;
        }
        SecureWipe(&block, sizeof(block));
    }
    ReleaseDeviceMutex(c);
    return r;
}

// Sends a destroy command and records the pair as absent in the key cache.
uint32_t DestroyPair(DeviceContext* c, uint8_t command, const PairItems& items)
{
    if (c->deviceId == 0) return KEYERR_GENERAL_FAILURE;
    if (WaitDeviceMutex(c) != 0) return KEYERR_DEVICE_BUSY;
    DeviceBlock block;
    InitRequest(&block, command, 0);
    uint32_t r = ProtectedExchange(c, &block, false);
    SecureWipe(&block, sizeof(block));
    if (r == 0) {
        if (!OpenSharedMemory()) {
            r = KEYERR_GENERAL_FAILURE;
        } else if (WaitGlobalMutex() != 0) {
            r = KEYERR_DEVICE_BUSY;
        } else {
            if (KeyCacheRecord* record = FindKeyRecord(c->deviceId)) {
                record->*items.parametersPresent = 0;
                record->*items.parametersValid = 1;
                record->*items.publicKeyPresent = 0;
                record->*items.publicKeyValid = 1;
            }
            ReleaseGlobalMutex();
        }
    }
    ReleaseDeviceMutex(c);
    return r;
}

// Old keys cannot make their signature pair serve key agreement: generate an
// exportable pair, take its private key out and write it back as both pairs.
uint32_t GenerateAndPairOnHost(DeviceContext* c, const uint8_t* parameters, uint8_t options)
{
    uint32_t r = SendGenerateSignatureKey(c, parameters, options | DEVICE_KEY_EXPORTABLE);
    if (r != 0) return r;
    uint8_t privateKey[DEVICE_AGREE_KEY_BYTES] = {};
    r = ExportSignaturePrivateKey(c, privateKey);
    if (r == 0 && (options & DEVICE_KEY_EXPORTABLE) == 0) {
        // Written back without 0x80 so that the key stays unexportable.
        r = DestroySignatureKey(c);
        if (r == 0) r = WriteSignatureKey(c, parameters, privateKey, 0);
    }
    if (r == 0) r = WriteAgreementKey(c, parameters, privateKey, 0);
    SecureWipe(privateKey, sizeof(privateKey));
    return r;
}

}  // namespace

void MakeDeviceKeyParameters(const DSTU4145FieldRecord* field, const DSTU4145PointRecord* point,
                             DeviceKeyParameters* out)
{
    std::memset(out, 0, sizeof(*out));
    if (field == nullptr) return;
    out->m = field->words[DSTU4145_FIELD_M];
    out->k = field->words[DSTU4145_FIELD_K];
    out->j = field->words[DSTU4145_FIELD_J];
    out->l = field->words[DSTU4145_FIELD_L];
    out->a = field->words[DSTU4145_FIELD_A];
    out->cofactor = field->words[DSTU4145_FIELD_COFACTOR];
    std::memcpy(out->b, &field->words[DSTU4145_FIELD_B], kNumberBytes);
    if (point == nullptr) return;
    std::memcpy(out->n, &point->words[DSTU4145_POINT_N], kNumberBytes);
    std::memcpy(out->p, &point->words[DSTU4145_POINT_P], kNumberBytes);
}

void SplitDeviceKeyParameters(const DeviceKeyParameters* parameters, DSTU4145FieldRecord* field,
                              DSTU4145PointRecord* point)
{
    if (field != nullptr) {
        std::memset(field, 0, sizeof(*field));
        field->words[DSTU4145_FIELD_M] = parameters->m;
        field->words[DSTU4145_FIELD_K] = parameters->k;
        field->words[DSTU4145_FIELD_J] = parameters->j;
        field->words[DSTU4145_FIELD_L] = parameters->l;
        field->words[DSTU4145_FIELD_A] = parameters->a;
        field->words[DSTU4145_FIELD_COFACTOR] = parameters->cofactor;
        std::memcpy(&field->words[DSTU4145_FIELD_B], parameters->b, kNumberBytes);
    }
    if (point != nullptr) {
        std::memset(point, 0, sizeof(*point));
        std::memcpy(&point->words[DSTU4145_POINT_N], parameters->n, kNumberBytes);
        std::memcpy(&point->words[DSTU4145_POINT_P], parameters->p, kNumberBytes);
    }
}

uint32_t ReadSignatureKeyParameters(DeviceContext* context, int firstChunk, int chunkCount, uint8_t out240[240])
{
    return ReadParameterChunks(context, KEYCMD_READ_SIGN_KEY_PARAMS, firstChunk, chunkCount, out240);
}

uint32_t ReadAgreementKeyParameters(DeviceContext* context, int firstChunk, int chunkCount, uint8_t out240[240])
{
    return ReadParameterChunks(context, KEYCMD_READ_AGREE_KEY_PARAMS, firstChunk, chunkCount, out240);
}

uint32_t GenerateSignatureKey(DeviceContext* context, const uint8_t parameters[240], uint8_t options)
{
    if (parameters == nullptr) return KEYERR_BAD_PARAMETER;
    if (WaitDeviceMutex(context) != 0) return KEYERR_DEVICE_BUSY;
    const bool alsoAgreement = (options & DEVICE_KEY_ALSO_AGREEMENT) != 0;
    uint32_t r = context->version <= 2 && alsoAgreement ? GenerateAndPairOnHost(context, parameters, options)
                                                        : SendGenerateSignatureKey(context, parameters, options);
    // Whatever the outcome, the key may hold a new pair now (and, with 0x40,
    // a new key-agreement pair): every process must ask the key again.
    uint32_t invalidated = InvalidateSignatureItems(context);
    if (invalidated == 0 && alsoAgreement) invalidated = InvalidateAgreementItems(context);
    if (r == 0) r = invalidated;
    if (r == 0) r = ReloadSignatureItems(context);
    ReleaseDeviceMutex(context);
    return r;
}

uint32_t GenerateAgreementKey(DeviceContext* context, const uint8_t parameters[240], uint8_t options)
{
    if (parameters == nullptr) return KEYERR_BAD_PARAMETER;
    if (WaitDeviceMutex(context) != 0) return KEYERR_DEVICE_BUSY;
    uint32_t r = SendChunked(context, KEYCMD_GENERATE_AGREE_KEY, parameters, kParametersSize, options);
    const uint32_t invalidated = InvalidateAgreementItems(context);
    if (r == 0) r = invalidated;
    if (r == 0) r = ReloadAgreementItems(context);
    ReleaseDeviceMutex(context);
    return r;
}

uint32_t ImportSignatureKey(DeviceContext* context, const uint8_t parameters[240], const uint8_t* privateKey,
                            uint8_t options)
{
    if (parameters == nullptr || privateKey == nullptr) return KEYERR_BAD_PARAMETER;
    if (WaitDeviceMutex(context) != 0) return KEYERR_DEVICE_BUSY;
    const bool alsoAgreement = (options & DEVICE_KEY_ALSO_AGREEMENT) != 0;
    uint32_t r = WriteSignatureKey(context, parameters, privateKey, options);
    if (r == 0 && alsoAgreement) r = WriteAgreementKey(context, parameters, privateKey, 0);
    // The written pairs replace whatever the cache holds for them.
    uint32_t invalidated = InvalidateSignatureItems(context);
    if (invalidated == 0 && alsoAgreement) invalidated = InvalidateAgreementItems(context);
    if (r == 0) r = invalidated;
    ReleaseDeviceMutex(context);
    return r;
}

uint32_t ImportAgreementKey(DeviceContext* context, const uint8_t parameters[240], const uint8_t privateKey[72],
                            uint8_t options)
{
    if (parameters == nullptr || privateKey == nullptr) return KEYERR_BAD_PARAMETER;
    if (WaitDeviceMutex(context) != 0) return KEYERR_DEVICE_BUSY;
    uint32_t r = WriteAgreementKey(context, parameters, privateKey, options);
    const uint32_t invalidated = InvalidateAgreementItems(context);
    if (r == 0) r = invalidated;
    ReleaseDeviceMutex(context);
    return r;
}

uint32_t DestroySignatureKey(DeviceContext* context)
{
    return DestroyPair(context, KEYCMD_DESTROY_SIGN_KEY, kSignatureItems);
}

uint32_t DestroyAgreementKey(DeviceContext* context)
{
    return DestroyPair(context, KEYCMD_DESTROY_AGREE_KEY, kAgreementItems);
}

uint32_t ExportSignaturePrivateKey(DeviceContext* context, uint8_t out64[64])
{
    if (out64 == nullptr) return KEYERR_BAD_PARAMETER;
    if (WaitDeviceMutex(context) != 0) return KEYERR_DEVICE_BUSY;
    const uint32_t chunkSize = BlockDataSize(context);
    uint32_t done = 0;
    uint32_t r = 0;
    for (uint8_t index = 0; done < DEVICE_SIGN_KEY_BYTES && r == 0; ++index) {
        DeviceBlock block;
        InitRequest(&block, KEYCMD_EXPORT_SIGN_PRIVATE_KEY, index);
        r = ProtectedExchange(context, &block, true);
        if (r == 0) {
            const uint32_t n = std::min(DEVICE_SIGN_KEY_BYTES - done, chunkSize);
            std::memcpy(out64 + done, block.data, n);
            done += n;
        }
        SecureWipe(&block, sizeof(block));
    }
    ReleaseDeviceMutex(context);
    return r;
}
