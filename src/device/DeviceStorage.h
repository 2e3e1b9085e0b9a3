// Images of the key's memory areas, format and password change.
#pragma once

#include "device/DeviceContext.h"

// Storage area images, format and password change.
uint32_t PublicAreaSize(const DeviceContext* context);
uint32_t LoadMemoryImage(DeviceContext* context, uint32_t area);
uint32_t InvalidateMemoryImage(DeviceContext* context, uint32_t area);
uint32_t ResetMemoryImages(DeviceContext* context, uint32_t area);
uint32_t ReadMemoryBlock(DeviceContext* context, uint8_t out[32], uint32_t block);
// count blocks from firstBlock into out (32 x count bytes), as that many
// ReadMemoryBlock calls would give them, loading each area's image once.
// 8 when the run goes beyond the private area.
uint32_t ReadMemoryBlocks(DeviceContext* context, uint8_t* out, uint32_t firstBlock, uint32_t count);
uint32_t WriteMemoryBlock(DeviceContext* context, const uint8_t data[32], uint32_t block);
uint32_t EraseMemoryPage(DeviceContext* context, uint32_t page);
uint32_t FormatDevice(DeviceContext* context, const char* newPassword);
uint32_t ChangeDevicePassword(DeviceContext* context, const char* newPassword);
