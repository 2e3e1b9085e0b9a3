// Request blocks: transport, protection and verification.
#pragma once

#include "device/DeviceContext.h"

// Blocks, transport and protection.
uint32_t BlockDataSize(const DeviceContext* context);
uint32_t TransmitBlock(DeviceContext* context, DeviceBlock* block, uint32_t blockSize);
uint32_t ExchangeBlock(DeviceContext* context, DeviceBlock* block);
uint32_t ProtectBlockNew(DeviceBlock* block, const uint8_t key[32], uint8_t mode);
void ProtectBlockOld(DeviceBlock* block, const uint8_t key[32], uint8_t mode);
uint32_t ProtectBlock(DeviceContext* context, DeviceBlock* block, uint8_t mode);
uint32_t VerifyBlockNew(DeviceBlock* block, const uint8_t key[32]);
uint32_t VerifyBlockOld(DeviceBlock* block, const uint8_t key[32]);
uint32_t VerifyBlock(DeviceContext* context, DeviceBlock* block);
uint32_t WriteSignatureKey(DeviceContext* context, const uint8_t parameters[240], const uint8_t privateKey[64],
                           uint8_t options);
uint32_t WriteAgreementKey(DeviceContext* context, const uint8_t parameters[240], const uint8_t privateKey[72],
                           uint8_t options);
uint32_t SendGenerateSignatureKey(DeviceContext* context, const uint8_t parameters[240], uint8_t options);
