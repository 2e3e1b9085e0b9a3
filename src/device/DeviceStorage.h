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
// Page copies journalled in the auxiliary record (pages numbered over the
// whole memory, as EraseMemoryPage takes them). *supported is 1 when the key
// keeps the journal and no copies of an earlier writer wait for completion.
uint32_t StorageJournalReady(DeviceContext* context, int* supported);
// Names up to 4 copies (each shadow page already holds its target's new
// content) before the targets are rewritten; a key without auxiliary data
// answers KEYERR_NOT_SUPPORTED.
uint32_t BeginPageCopies(DeviceContext* context, const uint8_t* targets, const uint8_t* shadows, uint32_t count);
// Clears the named copies once every target holds its new content.
uint32_t EndPageCopies(DeviceContext* context);
uint32_t FormatDevice(DeviceContext* context, const char* newPassword);
uint32_t ChangeDevicePassword(DeviceContext* context, const char* newPassword);
