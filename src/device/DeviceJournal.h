// The key's journal, state and auxiliary data.
#pragma once

#include "device/DeviceContext.h"

// Device journal, state and auxiliary data.

// One journal record (wire format).
struct JournalRecord {
    uint32_t event;     // filled by the key
    uint8_t operation;  // 1 password change, 2 key write, 3 generation, 4 destruction, 5 format, 9 blocked
    uint8_t result;     // KeyStatus of the operation
    uint16_t detail;    // key kind (operations 2-4) or initiator (5)
};
static_assert(sizeof(JournalRecord) == 8);

constexpr uint32_t DEVICE_STATE_BYTES = 17;
constexpr uint32_t DEVICE_AUX_RECORD_BYTES = 16;

// 1 when the key keeps a journal (version above 8), else 0.
int HasJournal(const DeviceContext* context);
// 37 past the last record.
uint32_t ReadJournalRecord(DeviceContext* context, int index, JournalRecord* out);
uint32_t GetDeviceState(DeviceContext* context, char selector, uint8_t* out17);
uint32_t WriteAuxData(DeviceContext* context, const uint8_t* data, uint32_t length);
// *length is set to 16; a null out asks only the size.
uint32_t ReadAuxRecord(DeviceContext* context, char selector, uint8_t* out16, int* length);
uint32_t ReadAuxRecordA5(DeviceContext* context, uint8_t* out16, int* length);
// 1 when the key answers the auxiliary-data commands, 0 when it does not know
// them; 24 when the key is held elsewhere.
uint32_t HasAuxData(DeviceContext* context);
// Placeholders of the command set; always 99.
uint32_t ReservedDeviceOperation1(DeviceContext* context);
uint32_t ReservedDeviceOperation2(DeviceContext* context);
uint32_t ReservedDeviceOperation3(DeviceContext* context);
uint32_t ReservedDeviceOperation4(DeviceContext* context);
uint32_t ReservedDeviceOperation5(DeviceContext* context);
