#include "crypto/CpuFeatures.h"

#include <atomic>
#include <cpuid.h>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string.h>

namespace qvkcrypto {

namespace {

bool Detect()
{
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
    const bool osxsave = (c >> 27) & 1;
    if (!osxsave) return false;
    // XCR0: SSE, AVX, opmask, upper halves of zmm0-15, zmm16-31.
    unsigned lo, hi;
    __asm__("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    if ((lo & 0xE6) != 0xE6) return false;
    if (__get_cpuid_max(0, nullptr) < 7) return false;
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

}  // namespace

bool ProcessorHasVectorFeatures()
{
    static const bool has = Detect();
    return has;
}

namespace {
std::atomic<int> gVectorPath{-1};  // -1 not decided yet
}  // namespace

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

}  // namespace qvkcrypto

namespace qvkcrypto {

QVK_VECTOR_TARGET void ClearVectorRegisters()
{
    __asm__ volatile("vzeroall\n\t"
                     "vpxord %%zmm16, %%zmm16, %%zmm16\n\tvpxord %%zmm17, %%zmm17, %%zmm17\n\t"
                     "vpxord %%zmm18, %%zmm18, %%zmm18\n\tvpxord %%zmm19, %%zmm19, %%zmm19\n\t"
                     "vpxord %%zmm20, %%zmm20, %%zmm20\n\tvpxord %%zmm21, %%zmm21, %%zmm21\n\t"
                     "vpxord %%zmm22, %%zmm22, %%zmm22\n\tvpxord %%zmm23, %%zmm23, %%zmm23\n\t"
                     "vpxord %%zmm24, %%zmm24, %%zmm24\n\tvpxord %%zmm25, %%zmm25, %%zmm25\n\t"
                     "vpxord %%zmm26, %%zmm26, %%zmm26\n\tvpxord %%zmm27, %%zmm27, %%zmm27\n\t"
                     "vpxord %%zmm28, %%zmm28, %%zmm28\n\tvpxord %%zmm29, %%zmm29, %%zmm29\n\t"
                     "vpxord %%zmm30, %%zmm30, %%zmm30\n\tvpxord %%zmm31, %%zmm31, %%zmm31" ::
                         : "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8", "xmm9", "xmm10",
                           "xmm11", "xmm12", "xmm13", "xmm14", "xmm15", "xmm16", "xmm17", "xmm18", "xmm19", "xmm20",
                           "xmm21", "xmm22", "xmm23", "xmm24", "xmm25", "xmm26", "xmm27", "xmm28", "xmm29", "xmm30",
                           "xmm31");
}

namespace {

template <size_t N>
__attribute__((noinline)) void Scrub()
{
    unsigned char area[N];
    explicit_bzero(area, sizeof area);
    __asm__ volatile("" : : "r"(area) : "memory");
}

}  // namespace

void ScrubStack()
{
#ifdef __OPTIMIZE__
    Scrub<8192>();
#else
    Scrub<65536>();  // unoptimised frames (sanitizer builds above all) are far larger
#endif
}

void ScrubStackSmall()
{
    Scrub<1024>();
}

}  // namespace qvkcrypto
