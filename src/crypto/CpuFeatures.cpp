#include "crypto/CpuFeatures.h"

#include <atomic>
#include <cpuid.h>
#include <cstdlib>
#include <cstring>

namespace qvkcrypto {

namespace {

bool Detect()
{
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d))
        return false;
    const bool osxsave = (c >> 27) & 1;
    if (!osxsave)
        return false;
    // XCR0: SSE, AVX, opmask, upper halves of zmm0-15, zmm16-31.
    unsigned lo, hi;
    __asm__("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    if ((lo & 0xE6) != 0xE6)
        return false;
    if (__get_cpuid_max(0, nullptr) < 7)
        return false;
    __cpuid_count(7, 0, a, b, c, d);
    const bool f = (b >> 16) & 1, bw = (b >> 30) & 1, vl = (b >> 31) & 1;
    const bool vbmi = (c >> 1) & 1, gfni = (c >> 8) & 1;
    return f && bw && vl && vbmi && gfni;
}

bool PortableForced()
{
    const char* v = std::getenv("QVK_CRYPTO_PORTABLE");
    return v != nullptr && *v != '\0' && std::strcmp(v, "0") != 0;
}

} // namespace

bool ProcessorHasVectorFeatures()
{
    static const bool has = Detect();
    return has;
}

namespace {
std::atomic<int> gVectorPath{-1};  // -1 not decided yet
} // namespace

bool VectorPathAvailable()
{
    int v = gVectorPath.load(std::memory_order_relaxed);
    if (v < 0) {
        v = ProcessorHasVectorFeatures() && !PortableForced();
        gVectorPath.store(v, std::memory_order_relaxed);
    }
    return v != 0;
}

bool UseVectorPath(bool on)
{
    const bool v = on && ProcessorHasVectorFeatures();
    gVectorPath.store(v, std::memory_order_relaxed);
    return v;
}

} // namespace qvkcrypto
