// Password login and the session key.
#pragma once

#include "device/DeviceContext.h"

// Password login and session key. Passwords are NUL-terminated Windows-1251
// texts of at most 64 bytes.
constexpr size_t DEVICE_MAX_PASSWORD = 64;
uint32_t DerivePasswordKeyNew(const char* password, uint8_t value[32], uint8_t* packetKey);
void DerivePasswordKeyOld(const char* password, uint8_t value[32], uint8_t* packetKey);
uint32_t LoginWithPassword(DeviceContext* context, const char* password);
uint32_t LoginWithUpgrade(DeviceContext* context, const char* password, int retryOn22);
uint32_t SendLogout(DeviceContext* context);
uint32_t StorePasswordNew(DeviceContext* context, const char* password);
uint32_t StorePasswordOld(DeviceContext* context, const char* password);
uint32_t StorePassword(DeviceContext* context, const char* password);
uint32_t RecallPassword(DeviceContext* context, uint8_t out[64]);
