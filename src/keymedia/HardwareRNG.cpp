#include "keymedia/HardwareRNG.h"

#include <climits>

#include "device/DeviceProtocol.h"

int HRNGImplementationQuorKorvo7Q::GenerateRandom(std::uint8_t* buffer, std::uint32_t length) {
    // Unbound: the device object was closed; its context is gone.
    if (context_ == nullptr || (buffer == nullptr && length != 0) || length > static_cast<std::uint32_t>(INT_MAX))
        return 0;
    uint32_t status = GetDeviceRandom(context_, buffer, static_cast<int>(length));
    if (status != 0) {
        if (RecoverFromError(context_, status) != 0)
            return 0;
        status = GetDeviceRandom(context_, buffer, static_cast<int>(length));
    }
    return status == 0 ? 1 : 0;
}
