// The key's event journal, its state query, the auxiliary data area and the
// placeholder operations of the command set. None of these requests is
// protected.
#include <cstring>

#include "device/DeviceInternal.h"

using namespace qvkdev;

namespace {

constexpr uint8_t kFirstJournalVersion = 9;
constexpr uint8_t kFirstStateVersion = 11;
constexpr uint32_t kAuxBytesOld = 60;  // bytes 4..63, the MAC field included
constexpr uint32_t kAuxBytesNew = 72;  // bytes 4..75
constexpr char kAuxSelectorA5 = static_cast<char>(0xA5);

// An unprotected request with data byte 0 = the selector.
uint32_t ExchangeUnprotected(DeviceContext* c, DeviceBlock* block, uint8_t command, uint8_t parameter, char selector)
{
    InitRequest(block, command, parameter);
    block->data[0] = static_cast<uint8_t>(selector);
    return ExchangeBlock(c, block);
}

}  // namespace

int HasJournal(const DeviceContext* context)
{
    return context->version >= kFirstJournalVersion ? 1 : 0;
}

uint32_t ReadJournalRecord(DeviceContext* context, int index, JournalRecord* out)
{
    if (context->version < kFirstJournalVersion) return KEYERR_NOT_SUPPORTED;
    // An index is one byte on the wire.
    if (index < 0 || index > 255 || out == nullptr) return KEYERR_BAD_PARAMETER;
    DeviceBlock block;
    uint32_t r = ExchangeUnprotected(context, &block, KEYCMD_READ_JOURNAL, static_cast<uint8_t>(index), 0);
    if (r == 0) r = block.status();
    if (r == 0) {
        const uint8_t* d = block.data;
        out->event = uint32_t(d[0]) | uint32_t(d[1]) << 8 | uint32_t(d[2]) << 16 | uint32_t(d[3]) << 24;
        out->operation = d[4];
        out->result = d[5];
        out->detail = static_cast<uint16_t>(d[6] | d[7] << 8);
    }
    SecureWipe(&block, sizeof(block));
    return r;
}

uint32_t GetDeviceState(DeviceContext* context, char selector, uint8_t* out17)
{
    if (context->version < kFirstStateVersion) return KEYERR_NOT_SUPPORTED;
    DeviceBlock block;
    uint32_t r = ExchangeUnprotected(context, &block, KEYCMD_GET_STATE, 0, selector);
    if (r == 0) r = block.status();
    if (r == 0) {
        const uint32_t verified = VerifyBlock(context, &block);
        if (out17 != nullptr) std::memcpy(out17, block.data, DEVICE_STATE_BYTES);
        // A key that is not logged in cannot protect its answer.
        r = context->loggedIn ? verified : 0;
    }
    SecureWipe(&block, sizeof(block));
    return r;
}

uint32_t WriteAuxData(DeviceContext* context, const uint8_t* data, uint32_t length)
{
    const uint32_t limit = context->version < DEVICE_NEW_FORM_VERSION ? kAuxBytesOld : kAuxBytesNew;
    if (length > limit || (data == nullptr && length != 0)) return KEYERR_BAD_PARAMETER;
    if (WaitDeviceMutex(context) != 0) return KEYERR_DEVICE_BUSY;
    DeviceBlock block;
    InitRequest(&block, KEYCMD_WRITE_AUX, 0);
    // The data runs over the MAC field: the request carries no MAC.
    if (length != 0) std::memcpy(block.bytes() + 4, data, length);
    uint32_t r = ExchangeBlock(context, &block);
    if (r == 0) r = block.status();
    SecureWipe(&block, sizeof(block));
    ReleaseDeviceMutex(context);
    return r;
}

uint32_t ReadAuxRecord(DeviceContext* context, char selector, uint8_t* out16, int* length)
{
    if (length == nullptr) return KEYERR_BAD_PARAMETER;
    *length = DEVICE_AUX_RECORD_BYTES;
    if (out16 == nullptr) return 0;
    if (WaitDeviceMutex(context) != 0) return KEYERR_DEVICE_BUSY;
    DeviceBlock block;
    uint32_t r = ExchangeUnprotected(context, &block, KEYCMD_READ_AUX, 0, selector);
    if (r == 0 && VerifyBlock(context, &block) != 0) r = KEYERR_CORRUPTED_REQUEST;
    if (r == 0) r = block.status();
    if (r == 0) std::memcpy(out16, block.data, DEVICE_AUX_RECORD_BYTES);
    SecureWipe(&block, sizeof(block));
    ReleaseDeviceMutex(context);
    return r;
}

uint32_t ReadAuxRecordA5(DeviceContext* context, uint8_t* out16, int* length)
{
    return ReadAuxRecord(context, kAuxSelectorA5, out16, length);
}

uint32_t HasAuxData(DeviceContext* context)
{
    if (WaitDeviceMutex(context) != 0) return KEYERR_DEVICE_BUSY;
    // Probed with a read: a write of zeros would wipe the area it asks about.
    DeviceBlock block;
    const uint32_t r = ExchangeUnprotected(context, &block, KEYCMD_READ_AUX, 0, 0);
    const bool unknown = r == 0 && block.status() == KEYERR_BAD_REQUEST;
    SecureWipe(&block, sizeof(block));
    ReleaseDeviceMutex(context);
    return unknown ? 0 : 1;
}

uint32_t ReservedDeviceOperation1(DeviceContext*)
{
    return KEYERR_NOT_SUPPORTED;
}

uint32_t ReservedDeviceOperation2(DeviceContext*)
{
    return KEYERR_NOT_SUPPORTED;
}

uint32_t ReservedDeviceOperation3(DeviceContext*)
{
    return KEYERR_NOT_SUPPORTED;
}

uint32_t ReservedDeviceOperation4(DeviceContext*)
{
    return KEYERR_NOT_SUPPORTED;
}

uint32_t ReservedDeviceOperation5(DeviceContext*)
{
    return KEYERR_NOT_SUPPORTED;
}
