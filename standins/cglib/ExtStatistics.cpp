// BSTestSequence and BSReleaseStatistic of cgext.so: the FIPS 140-2
// statistical tests of random bits (monobit, poker, runs, long run). A draw
// of 20,000 bits or more is judged on its first 20,000 bits with the
// standard's bounds; a shorter draw gets bounds scaled to its length: the
// monobit count within four standard deviations, no run of 26 or more, and
// the poker statistic below the standard's upper bound once it has 80
// nibbles or more.
#include <cmath>
#include <cstring>
#include <new>

#include "CGExport.h"

using cglib::InjectedFailure;

namespace {

// What the last test found; the caller releases it with BSReleaseStatistic.
struct Statistics {
    uint32_t bits;
    uint32_t ones;
    double poker;
    uint32_t runs[2][7];  // runs of 0s and 1s of length 1..5 and 6+ (index 1..6)
    uint32_t longestRun;
    int passed;
};

int Bit(const uint8_t* data, uint32_t i)
{
    return (data[i / 8] >> (7 - i % 8)) & 1;
}

void Measure(const uint8_t* data, uint32_t bits, Statistics* s)
{
    std::memset(s, 0, sizeof *s);
    s->bits = bits;
    uint32_t nibbles[16] = {};
    for (uint32_t i = 0; i < bits; ++i) s->ones += static_cast<uint32_t>(Bit(data, i));
    const uint32_t groups = bits / 4;
    for (uint32_t g = 0; g < groups; ++g) {
        uint32_t v = 0;
        for (int k = 0; k < 4; ++k) v = (v << 1) | static_cast<uint32_t>(Bit(data, g * 4 + k));
        ++nibbles[v];
    }
    if (groups != 0) {
        double sum = 0;
        for (uint32_t f : nibbles) sum += static_cast<double>(f) * f;
        s->poker = 16.0 / groups * sum - groups;
    }
    uint32_t run = 0;
    for (uint32_t i = 0; i < bits; ++i) {
        ++run;
        if (i + 1 == bits || Bit(data, i + 1) != Bit(data, i)) {
            if (run > s->longestRun) s->longestRun = run;
            ++s->runs[Bit(data, i)][run >= 6 ? 6 : run];
            run = 0;
        }
    }
}

bool PassesStandard(const Statistics& s)
{
    static const uint32_t low[7] = {0, 2315, 1114, 527, 240, 103, 103};
    static const uint32_t high[7] = {0, 2685, 1386, 723, 384, 209, 209};
    if (s.ones <= 9725 || s.ones >= 10275) return false;
    if (s.poker <= 2.16 || s.poker >= 46.17) return false;
    for (int b = 0; b < 2; ++b)
        for (int len = 1; len <= 6; ++len)
            if (s.runs[b][len] < low[len] || s.runs[b][len] > high[len]) return false;
    return s.longestRun < 26;
}

bool PassesScaled(const Statistics& s)
{
    const double half = s.bits / 2.0;
    const double deviation = 4.0 * std::sqrt(static_cast<double>(s.bits)) / 2.0;
    if (std::fabs(s.ones - half) > deviation) return false;
    if (s.bits / 4 >= 80 && s.poker >= 46.17) return false;
    return s.longestRun < 26;
}

}  // namespace

CG_EXPORT int BSTestSequence(void** statistics, const uint8_t* data, uint32_t bits)
{
    if (statistics != nullptr) *statistics = nullptr;
    if (data == nullptr || bits == 0 || InjectedFailure("BSTestSequence")) return 0;
    auto* s = new (std::nothrow) Statistics;
    if (s == nullptr) return 0;
    if (bits >= 20000) {
        Measure(data, 20000, s);
        s->passed = PassesStandard(*s) ? 1 : 0;
    } else {
        Measure(data, bits, s);
        s->passed = PassesScaled(*s) ? 1 : 0;
    }
    int passed = s->passed;
    if (statistics != nullptr)
        *statistics = s;
    else
        delete s;
    return passed;
}
CG_SHAPE(BSTestSequence, CGBSTestSequenceFn);

CG_EXPORT int BSReleaseStatistic(void* statistics)
{
    delete static_cast<Statistics*>(statistics);
    return 1;
}
CG_SHAPE(BSReleaseStatistic, CGBSReleaseStatisticFn);
