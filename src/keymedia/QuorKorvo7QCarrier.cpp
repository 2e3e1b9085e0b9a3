#include "keymedia/QuorKorvo7QCarrier.h"

#include <cstring>

#include "device/DeviceProtocol.h"

namespace {
constexpr qvkkm::KeyDeviceObject::Traits kCarrierTraits{false, false, false};
}

QuorKorvo7QCarrier::QuorKorvo7QCarrier() : KeyDeviceObject(kCarrierTraits) {}

int QuorKorvo7QCarrier::GetInfo(const char*, int* caps, void**)
{
    return qvkkm::Guarded([&]() -> int {
        if (caps != nullptr) *caps = KM_CAPS_STORAGE;
        return KM_OK;
    });
}

int QuorKorvo7QCarrier::GetRecordHeader(const char* serial, int which, int*)
{
    // The carrier reports no header: it only checks that the block reads.
    return qvkkm::Guarded([&]() -> int {
        if (const int r = CheckOpen(serial); r != KM_OK) return r;
        if (which != 0) return KM_NOT_FOUND;
        uint8_t block[qvkkm::kMemoryBlockBytes] = {};
        const uint32_t r = ReadMemoryBlock(context_, block, PublicAreaSize(context_) / qvkkm::kMemoryBlockBytes);
        std::memset(block, 0, sizeof(block));
        return r != 0 ? KM_DEVICE_ERROR : KM_NOT_FOUND;
    });
}
