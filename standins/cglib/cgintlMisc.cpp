// The remaining entries of the stand-in cgintl.so: bit-granular draws from the
// DSTU 4145 generator (whose other entries are cgbase.so's own code), and the
// GOST R 34.10 names, which no CSPI operation calls and which refuse.
#include <cstdint>

#include "cgintlCommon.h"

extern "C" int DSTU4145PseudoRNGGenerateSequence(std::uint8_t* buffer, std::uint32_t length, void* state);

// Whole bytes for the leading bits; the bits of the last byte beyond the
// count are cleared (most significant bits first).
CG_EXPORT int DSTU4145PseudoRNGGenerateSequenceInBits(std::uint8_t* buffer, std::uint32_t bits, void* state)
{
    if (buffer == nullptr || state == nullptr) return 0;
    std::uint32_t bytes = bits / 8 + (bits % 8 != 0 ? 1 : 0);
    if (bytes == 0) return 1;
    if (DSTU4145PseudoRNGGenerateSequence(buffer, bytes, state) == 0) return 0;
    if (bits % 8 != 0) buffer[bytes - 1] &= static_cast<std::uint8_t>(0xFF << (8 - bits % 8));
    return 1;
}

CG_EXPORT int GOSTR3410SelfTest(void)
{
    return 0;
}
CG_EXPORT CSPIState GOSTR3410AcquireState(int)
{
    return nullptr;
}
CG_EXPORT int GOSTR3410ReleaseState(CSPIState)
{
    return 0;
}
CG_EXPORT int GOSTR3410SetStateParameters(CSPIState, const void*, std::uint32_t)
{
    return 0;
}
CG_EXPORT int GOSTR3410GetStateParameters(CSPIState, void*, std::uint32_t)
{
    return 0;
}
CG_EXPORT int GOSTR3410GenerateParameters(CSPIState, std::uint32_t)
{
    return 0;
}
CG_EXPORT int GOSTR3410SignHash(CSPIState)
{
    return 0;
}
CG_EXPORT int GOSTR3410VerifySignature(CSPIState)
{
    return 0;
}
CG_EXPORT int GOSTR3410TestOnStandartParameters(void)
{
    return 0;
}
