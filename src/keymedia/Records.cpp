// The two record places on the key: record 17 at block 1 of the public area
// and one data record (types 0 to 15) at the start of the private area. Each
// record is a 4-byte little-endian header {type, length} followed by the
// data, written in whole 32-byte blocks after the area's pages are erased.
#include <cstring>

#include "device/DeviceProtocol.h"
#include "keymedia/DeviceObject.h"

namespace qvkkm {

namespace {

constexpr uint32_t kBufferBytes = 4096;  // the larger of the two areas

struct RecordHeader {
    uint32_t type;
    uint32_t length;
};

RecordHeader ParseHeader(const uint8_t* block)
{
    return {static_cast<uint32_t>(block[0] | (block[1] << 8)), static_cast<uint32_t>(block[2] | (block[3] << 8))};
}

void PutHeader(uint8_t* block, uint32_t type, uint32_t length)
{
    block[0] = static_cast<uint8_t>(type);
    block[1] = static_cast<uint8_t>(type >> 8);
    block[2] = static_cast<uint8_t>(length);
    block[3] = static_cast<uint8_t>(length >> 8);
}

// Blocks a record of `length` data bytes occupies, header included.
uint32_t BlocksFor(uint32_t length)
{
    return (length + kRecordHeaderBytes + kMemoryBlockBytes - 1) / kMemoryBlockBytes;
}

// A record image wiped when it goes out of scope.
struct RecordBuffer {
    uint8_t bytes[kBufferBytes] = {};
    ~RecordBuffer() { std::memset(bytes, 0, sizeof(bytes)); }
};

// A block of the PKI formats library's making, handed back on every path.
struct WrappedRecord {
    uint8_t* data = nullptr;
    uint32_t length = 0;
    ~WrappedRecord()
    {
        if (data != nullptr) QuorKorvo7QPKI::ReleaseRecord(data, length);
    }
};

}  // namespace

int KeyDeviceObject::ReadPublicRecord(DeviceContext* context, void* data, unsigned* length)
{
    DeviceLock lock(context);
    if (!lock.Held()) return KM_DEVICE_ERROR;
    const uint32_t limit = PublicAreaSize(context) - kPublicRecordReserve;
    RecordBuffer buffer;
    if (Call(context, [&] { return ReadMemoryBlock(context, buffer.bytes, 1); }) != 0) return KM_DEVICE_ERROR;
    const RecordHeader header = ParseHeader(buffer.bytes);
    if (header.type != kPublicRecordType) return KM_DEVICE_ERROR;
    // Checked before a size query answers too: callers size their buffers
    // from the length reported here.
    if (header.length > limit) return KM_DEVICE_ERROR;
    *length = header.length;
    if (data == nullptr) return KM_OK;
    const uint32_t blocks = BlocksFor(header.length);
    for (uint32_t i = 1; i < blocks; ++i)
        if (ReadMemoryBlock(context, buffer.bytes + i * kMemoryBlockBytes, 1 + i) != 0) return KM_DEVICE_ERROR;
    std::memcpy(data, buffer.bytes + kRecordHeaderBytes, header.length);
    return KM_OK;
}

int KeyDeviceObject::ReadDataRecord(unsigned type, void* data, unsigned* length)
{
    bool absent = false;
    {
        DeviceLock lock(context_);
        if (!lock.Held()) return KM_DEVICE_ERROR;
        const uint32_t first = PublicAreaSize(context_) / kMemoryBlockBytes;
        RecordBuffer buffer;
        if (Call(context_, [&] { return ReadMemoryBlock(context_, buffer.bytes, first); }) != 0) return KM_DEVICE_ERROR;
        const RecordHeader header = ParseHeader(buffer.bytes);
        if (header.type != type) {
            absent = true;
        } else if (data == nullptr) {
            *length = KM_RECORD_BUFFER;
            return KM_OK;
        } else if (header.length > kDataRecordLimit) {
            absent = true;
        } else {
            const uint32_t blocks = BlocksFor(header.length);
            for (uint32_t i = 1; i < blocks; ++i)
                if (ReadMemoryBlock(context_, buffer.bytes + i * kMemoryBlockBytes, first + i) != 0)
                    return KM_DEVICE_ERROR;
            const uint8_t* stored = buffer.bytes + kRecordHeaderBytes;
            if (IsWrappedRecord(stored, header.length)) return UnwrapRecordInto(stored, header.length, data, length);
            std::memcpy(data, stored, header.length);
            *length = header.length;
            return KM_OK;
        }
    }
    if (absent && traits_.synthesiseContainer && (type == 5 || type == 6))
        return BuildKeyContainerRecord(HardwareForContainer(), type, data, length);
    return KM_DEVICE_ERROR;
}

int KeyDeviceObject::WritePublicRecord(const void* data, unsigned length)
{
    const uint32_t area = PublicAreaSize(context_);
    if (length > area - kPublicRecordReserve) return KM_DEVICE_ERROR;
    DeviceLock lock(context_);
    if (!lock.Held()) return KM_DEVICE_ERROR;
    for (uint32_t page = 0; page < area / kMemoryPageBytes; ++page)
        if (Call(context_, [&] { return EraseMemoryPage(context_, page); }) != 0) return KM_DEVICE_ERROR;
    RecordBuffer buffer;
    PutHeader(buffer.bytes, kPublicRecordType, length);
    if (length != 0) std::memcpy(buffer.bytes + kRecordHeaderBytes, data, length);
    const uint32_t blocks = BlocksFor(length);
    for (uint32_t i = 0; i < blocks; ++i)
        if (WriteMemoryBlock(context_, buffer.bytes + i * kMemoryBlockBytes, 1 + i) != 0) return KM_DEVICE_ERROR;
    return KM_OK;
}

int KeyDeviceObject::WriteDataRecord(unsigned type, const void* data, unsigned length)
{
    const uint8_t* stored = static_cast<const uint8_t*>(data);
    WrappedRecord wrapped;
    if (length > kDataRecordLimit) {
        if (!WrapRecord(stored, length, &wrapped.data, &wrapped.length) || wrapped.data == nullptr)
            return KM_DEVICE_ERROR;
        if (wrapped.length > kDataRecordLimit) return KM_DEVICE_ERROR;
        stored = wrapped.data;
        length = wrapped.length;
    }
    DeviceLock lock(context_);
    if (!lock.Held()) return KM_DEVICE_ERROR;
    const uint32_t area = PublicAreaSize(context_);
    for (uint32_t page = area / kMemoryPageBytes; page < (area + kPrivateAreaBytes) / kMemoryPageBytes; ++page)
        if (Call(context_, [&] { return EraseMemoryPage(context_, page); }) != 0) return KM_DEVICE_ERROR;
    RecordBuffer buffer;
    PutHeader(buffer.bytes, type, length);
    if (length != 0) std::memcpy(buffer.bytes + kRecordHeaderBytes, stored, length);
    const uint32_t first = area / kMemoryBlockBytes;
    const uint32_t blocks = BlocksFor(length);
    for (uint32_t i = 0; i < blocks; ++i)
        if (WriteMemoryBlock(context_, buffer.bytes + i * kMemoryBlockBytes, first + i) != 0) return KM_DEVICE_ERROR;
    return KM_OK;
}

}  // namespace qvkkm
