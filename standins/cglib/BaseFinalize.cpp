// CSPFinalize of cgbase.so, run by the provider right before it releases the
// library. Nothing is held across calls, so there is nothing to drop. For the
// tests, each call appends a line to the file named by QVK_CGLIB_FINALIZE_LOG
// when that variable is set.
#include <cstdio>
#include <cstdlib>

#include "CGExport.h"

CG_EXPORT int CSPFinalize(void)
{
    if (const char* log = std::getenv("QVK_CGLIB_FINALIZE_LOG")) {
        if (std::FILE* f = std::fopen(log, "a")) {
            std::fputs("CSPFinalize\n", f);
            std::fclose(f);
        }
    }
    return 1;
}
CG_SHAPE(CSPFinalize, CGFinalizeFn);
