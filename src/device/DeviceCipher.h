// On-key ciphering, MAC and random numbers.
#pragma once

#include "device/DeviceContext.h"

// On-key ciphering, MAC and random numbers.

// Random numbers from the key (also the session probe).
uint32_t GetDeviceRandom(DeviceContext* context, uint8_t* out, int count);
// table 1..3; a 64-byte packed GOST 28147 S-box.
uint32_t SetSubstitutionTable(DeviceContext* context, uint8_t table, const uint8_t sbox[64]);
// Single exchanges inside the caller's LockDevice. A block count runs from 1 to
// what one request carries (8-byte blocks: 7 on old keys, 8 on new ones;
// 32-byte blocks: 2), else 8 without an exchange.
uint32_t StartDeviceMac(DeviceContext* context, const uint8_t iv[8]);
uint32_t GetDeviceMac(DeviceContext* context, uint32_t* mac);
uint32_t CipherBlocks(DeviceContext* context, uint8_t* buffer, int blocks, uint8_t options);
uint32_t CipherBlocksProtected(DeviceContext* context, uint8_t* buffer, int blocks, uint8_t options);
uint32_t CipherBlocksNew(DeviceContext* context, uint8_t* buffer, int blocks, uint8_t options);
uint32_t CipherBlocksProtectedNew(DeviceContext* context, uint8_t* buffer, int blocks, uint8_t options);
uint32_t GetDeviceMacNew(DeviceContext* context, uint8_t mac[32]);
uint32_t GetValueBySize(DeviceContext* context, uint8_t* out, uint32_t size);
// Host-side modes over the block commands.
uint32_t CfbEncryptOnDevice(DeviceContext* context, const uint8_t iv[8], uint8_t* buffer, uint32_t length,
                            uint8_t options);
uint32_t CfbDecryptOnDevice(DeviceContext* context, const uint8_t iv[8], uint8_t* buffer, uint32_t length);
uint32_t ComputeMacOnDevice(DeviceContext* context, const uint8_t* data, uint32_t length, uint32_t* mac,
                            uint8_t options);
uint32_t CfbEncryptOnDeviceNew(DeviceContext* context, const uint8_t iv[32], uint8_t* buffer, uint32_t length);
uint32_t CfbDecryptOnDeviceNew(DeviceContext* context, const uint8_t iv[32], uint8_t* buffer, uint32_t length);
uint32_t ComputeMacOnDeviceNew(DeviceContext* context, const uint8_t value[32], uint8_t mac[32]);
uint32_t WriteTableNew(DeviceContext* context, const uint8_t table[1024]);
