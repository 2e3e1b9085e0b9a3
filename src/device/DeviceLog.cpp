// Failures of the key search and of authentication go to the system log
// under the device layer's own source name.
#include "device/DeviceInternal.h"
#include "support/SystemLog.h"

namespace qvkdev {

// "ТВР Квор Корво-7Ф" in Windows-1251.
constexpr char kLogSource[] = "\xD2\xC2\xD0 \xCA\xE2\xEE\xF0 \xCA\xEE\xF0\xE2\xEE-7\xD4";

void LogDeviceError(const char* text)
{
    SystemLogReport(kLogSource, text, SYSTEM_LOG_ERROR, 0);
}

}  // namespace qvkdev
