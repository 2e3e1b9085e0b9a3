#include "keymedia/HardwareRNG.h"

#include <climits>

#include "device/DeviceProtocol.h"
#include "keymedia/DeviceObject.h"

int HRNGImplementationQuorKorvo7Q::GenerateRandom(std::uint8_t* buffer, std::uint32_t length)
{
    // Unbound: the device object was closed; its context is gone.
    if (context_ == nullptr || (buffer == nullptr && length != 0) || length > static_cast<std::uint32_t>(INT_MAX))
        return 0;
    DeviceContext* context = context_;
    const int count = static_cast<int>(length);
    return qvkkm::CallWithRecovery(context, [&] { return GetDeviceRandom(context, buffer, count); }) == 0 ? 1 : 0;
}
