// Discovery, open, close and recovery of a key.
#pragma once

#include "device/DeviceContext.h"

// Discovery, open, close and recovery.
// Card handle of the n-th reader of the model, or 0; the PC/SC context stays
// open for the caller on success.
intptr_t ConnectReader(uint32_t ordinal, char* mutexName, size_t mutexNameSize, intptr_t* pcscContext);
DeviceContext* OpenDeviceByOrdinal(uint32_t ordinal);
// The ordinal counts readers of the model: 1 past the last reader, 101 for a
// reader without a key (callers skip it and go on with the next ordinal).
uint32_t GetSerialByOrdinal(uint32_t ordinal, uint32_t* serial);
uint32_t QueryDeviceInfo(DeviceContext* context, DeviceInfo* info);
// The state byte of the device information, asked again while the key is not
// ready within the retry budget and then given as it stands (bit 7 still set
// when the key never became ready).
uint32_t QueryDeviceState(DeviceContext* context, uint8_t* state);
DeviceContext* OpenDevice(uint32_t deviceId);
uint32_t OpenDeviceHandle(uint32_t deviceId, DeviceContext** context);
uint32_t ConnectDevice(uint32_t deviceId, DeviceContext** context);
DeviceContext* OpenDeviceById(uint32_t deviceId);
void DestroyDeviceContext(DeviceContext* context);
uint32_t CloseDevice(DeviceContext* context);
uint32_t GetDeviceClock(DeviceContext* context, uint32_t* seconds);
uint32_t SetDeviceClock(DeviceContext* context, uint32_t seconds);
uint32_t SyncDeviceClock(DeviceContext* context);
uint32_t ReconnectDevice(DeviceContext* context);
uint32_t RecoverFromError(DeviceContext* context, uint32_t code);
