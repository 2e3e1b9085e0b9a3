// The random-number operations that the provider (CSP) and the provider for
// the international algorithms (CSPI) share: the tested hardware random
// source, the noise generator, and the classic pseudo-random generator states
// with their seeding. Each provider hands in the functions of its own
// libraries; the rules are the same for both.
#ifndef QVK_CSP_CSPRANDOMCORE_H
#define QVK_CSP_CSPRANDOMCORE_H

#include <cstdint>

#include "cgapi/CSPLibraryFunctions.h"
#include "csp/CSP.h"

namespace csprandom {

struct Functions {
    bool initialized;
    CGTSCGIsEnableFn isEnable;
    CGTSCGGenerateSequenceFn noise;
    CGBSTestSequenceFn test;
    CGBSReleaseStatisticFn releaseStatistic;
    CGPseudoRNGInitializeFn initialize;
    CGPseudoRNGReinitializeFn reinitialize;  // null when the library lacks it
    CGPseudoRNGGenerateSequenceFn generate;
    CSPHandle defaultPrng;  // the provider's default generator, or null
};

// GOST 28147-89 standard S-box 0, for generators given no S-box.
const std::uint8_t* DefaultSBox();

// The current system time as 8 bytes, low 32-bit word first, as the
// generators' seeding mixes it in.
void TimeValue(std::uint8_t* out);

int TestRNG(const Functions& f, CSPContext* context);
int TestRandomSourceCtx(const Functions& f, CSPContext* context, std::uint8_t* buffer, std::uint32_t length);
int GenerateRandomCtx(const Functions& f, CSPContext* context, std::uint8_t* buffer, std::uint32_t length);
int GenerateTestedRandomCtx(const Functions& f, CSPContext* context, std::uint8_t* buffer, std::uint32_t length);
int SeedFromNoiseGenerator(const Functions& f, CSPContext* context, std::uint8_t* seed, std::uint8_t* key,
                           std::uint8_t* secondSeed);
int CreatePRNG(const Functions& f, CSPContext* context, const std::uint8_t* sBox, const std::uint8_t* seed,
               const std::uint8_t* key);
int ReseedPRNG(const Functions& f, CSPContext* context, const std::uint8_t* sBox, const std::uint8_t* seed,
               const std::uint8_t* key);

}  // namespace csprandom

#endif
