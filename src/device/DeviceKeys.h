// Key parameters, public keys (cached and uncached) and the key lifecycle.
#pragma once

#include "device/DeviceContext.h"
#include "support/DSTU4145Records.h"

// Cached reads of the key's parameters and public keys (null output allowed).
uint32_t LoadSignatureKeyParameters(DeviceContext* context, uint8_t* out240);
uint32_t LoadSignaturePublicKey(DeviceContext* context, uint8_t* out64);
uint32_t LoadAgreementKeyParameters(DeviceContext* context, uint8_t* out240);
uint32_t LoadAgreementPublicKey(DeviceContext* context, uint8_t* out72);
uint32_t GetSignatureKeyParameters(DeviceContext* context, uint8_t* out240);
uint32_t GetSignaturePublicKey(DeviceContext* context, uint8_t* out64);
uint32_t GetAgreementKeyParameters(DeviceContext* context, uint8_t* out240);
uint32_t GetAgreementPublicKey(DeviceContext* context, uint8_t* out72);

// ---------------------------------------------------------------------------
// Key parameters, public keys and key lifecycle.

// The key's record of a DSTU 4145 curve (wire format, little-endian).
struct DeviceKeyParameters {
    uint32_t m;         // field degree
    uint32_t k, j, l;   // exponents of the field polynomial (j = l = 0: trinomial)
    uint32_t a;         // coefficient A
    uint32_t cofactor;  // cofactor word of the field record
    uint8_t b[72];      // coefficient B
    uint8_t n[72];      // order of the base point
    uint8_t p[72];      // base point, compressed

    uint8_t* bytes() { return reinterpret_cast<uint8_t*>(this); }
    const uint8_t* bytes() const { return reinterpret_cast<const uint8_t*>(this); }
};
static_assert(sizeof(DeviceKeyParameters) == 240);
static_assert(offsetof(DeviceKeyParameters, b) == 24 && offsetof(DeviceKeyParameters, n) == 96 &&
              offsetof(DeviceKeyParameters, p) == 168);

constexpr uint32_t DEVICE_KEY_PARAMETERS_BYTES = 240;
constexpr uint32_t DEVICE_SIGN_KEY_BYTES = 64;   // signature public and private keys
constexpr uint32_t DEVICE_AGREE_KEY_BYTES = 72;  // key-agreement public and private keys
constexpr uint32_t DEVICE_SIGNATURE_BYTES = 144;
constexpr uint32_t DEVICE_WRAPPED_KEY_OLD_BYTES = 44;
constexpr uint32_t DEVICE_WRAPPED_KEY_NEW_BYTES = 96;

// Option bits of the generation and write commands.
constexpr uint8_t DEVICE_KEY_EXPORTABLE = 0x80;        // signature private key may be exported
constexpr uint8_t DEVICE_KEY_ALSO_AGREEMENT = 0x40;    // signature pair also serves key agreement
constexpr uint8_t DEVICE_KEY_AGREEMENT_OPTION = 0x20;  // what every caller passes to GenerateAgreementKey

// Builds the record from the two curve records: a null point record leaves
// bytes 96..239 zero, both null give 240 zero bytes.
void MakeDeviceKeyParameters(const DSTU4145FieldRecord* field, const DSTU4145PointRecord* point,
                             DeviceKeyParameters* out);
// The inverse; field word 19 and point words 18, 37 and 38 come out zero.
// Either output may be null.
void SplitDeviceKeyParameters(const DeviceKeyParameters* parameters, DSTU4145FieldRecord* field,
                              DSTU4145PointRecord* point);

// Uncached chunk reads: chunks firstChunk.. (chunkCount 0 = to the end) land
// at offset firstChunk x data size of out240. 8 when the first chunk lies
// beyond the record.
uint32_t ReadSignatureKeyParameters(DeviceContext* context, int firstChunk, int chunkCount, uint8_t out240[240]);
uint32_t ReadAgreementKeyParameters(DeviceContext* context, int firstChunk, int chunkCount, uint8_t out240[240]);
uint32_t GenerateSignatureKey(DeviceContext* context, const uint8_t parameters[240], uint8_t options);
uint32_t GenerateAgreementKey(DeviceContext* context, const uint8_t parameters[240], uint8_t options);
// privateKey holds 64 bytes, or 72 with DEVICE_KEY_ALSO_AGREEMENT.
uint32_t ImportSignatureKey(DeviceContext* context, const uint8_t parameters[240], const uint8_t* privateKey,
                            uint8_t options);
uint32_t ImportAgreementKey(DeviceContext* context, const uint8_t parameters[240], const uint8_t privateKey[72],
                            uint8_t options);
uint32_t DestroySignatureKey(DeviceContext* context);
uint32_t DestroyAgreementKey(DeviceContext* context);
uint32_t ExportSignaturePrivateKey(DeviceContext* context, uint8_t out64[64]);
