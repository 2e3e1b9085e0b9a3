// Failures of the key search and of authentication go to the system log
// under the source name of the system's events.
#include "device/DeviceInternal.h"
#include "support/SystemLog.h"

namespace qvkdev {

void LogDeviceError(const char* text)
{
    SystemLogReport(SYSTEM_LOG_SOURCE_NAME, text, SYSTEM_LOG_ERROR, 0);
}

}  // namespace qvkdev
