// On-key signing, key agreement, secret values and key wrapping.
#pragma once

#include "device/DeviceContext.h"

// On-key signing, key agreement and key wrapping.
uint32_t SignHash32OnDevice(DeviceContext* context, const uint8_t hash[32], uint8_t signature[144], uint8_t options);
// length 32, 48 or 64 (the last two on keys of version 18 and above).
uint32_t SignHashOnDevice(DeviceContext* context, const uint8_t* hash, int length, uint8_t signature[144],
                          uint8_t options);
// ukmLength at most 95.
uint32_t AgreeKeyOnDevice(DeviceContext* context, const uint8_t peerPublicKey[72], const uint8_t* ukm, int ukmLength,
                          uint8_t options);
// length at most 183.
uint32_t AgreeKeyOnDeviceNew(DeviceContext* context, const uint8_t peerPublicKey[72], const uint8_t* data,
                             uint32_t length, uint8_t options);
// Single exchanges inside the caller's LockDevice.
uint32_t GenerateDeviceSecret(DeviceContext* context, uint8_t out[32]);
uint32_t LoadKeyContext(DeviceContext* context, const uint8_t value[32]);
uint32_t StoreDeviceSecret(DeviceContext* context, const uint8_t value[32], uint8_t parameter);
uint32_t ReadDeviceSecret(DeviceContext* context, uint8_t out[32], uint8_t parameter);
uint32_t EraseDeviceSecret(DeviceContext* context, uint8_t parameter);
uint32_t StoreDeviceSecretNew(DeviceContext* context, const uint8_t value[32], uint8_t parameter);
uint32_t ReadDeviceSecretNew(DeviceContext* context, uint8_t out[32], uint8_t parameter);
uint32_t EraseDeviceSecretNew(DeviceContext* context, uint8_t parameter);
// Wraps under the agreed key; 29 from an unwrap whose check value differs.
uint32_t WrapKeyOnDeviceOld(DeviceContext* context, const uint8_t key[32], uint8_t wrapped[44]);
uint32_t UnwrapKeyOnDeviceOld(DeviceContext* context, const uint8_t wrapped[44], uint8_t key[32]);
// onKey nonzero: the key's own wrap command; 0: composed on the host.
uint32_t WrapKeyOnDevice(DeviceContext* context, const uint8_t key[32], uint8_t wrapped[96], int onKey);
uint32_t UnwrapKeyOnDevice(DeviceContext* context, const uint8_t wrapped[96], uint8_t key[32], int onKey);
