// The noise generator of cgext.so: the operating system's random numbers.
#include <sys/random.h>

#include <cerrno>

#include "CGExport.h"

using cglib::InjectedFailure;

CG_EXPORT int TSCGIsEnable(void)
{
    return InjectedFailure("TSCGIsEnable") ? 0 : 1;
}
CG_SHAPE(TSCGIsEnable, CGTSCGIsEnableFn);

CG_EXPORT int TSCGGenerateSequence(uint8_t* buffer, uint32_t length)
{
    if ((buffer == nullptr && length != 0) || InjectedFailure("TSCGGenerateSequence")) return 0;
    for (uint32_t done = 0; done < length;) {
        ssize_t got = getrandom(buffer + done, length - done, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            return 0;
        }
        done += static_cast<uint32_t>(got);
    }
    return 1;
}
CG_SHAPE(TSCGGenerateSequence, CGTSCGGenerateSequenceFn);
