// CSPI random numbers and the GOST 28147 / GOST 34.311 operations that its
// parameter files need. They follow the provider's own operations of the same
// names; until those are shared here they answer as for a missing library
// entry.
#include "csp/CSPI.h"
#include "csp/CSPIInternal.h"

using cspi::Guarded;

int CSPI::InitializePRNG(const std::uint8_t*, const std::uint8_t*, const std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSPI::SetHardwareRNG(ICSPIHardwareRNG*)
{
    return CSP_LIBRARY_ERROR;
}

int CSPI::TestRandomSource(std::uint8_t* buffer, std::uint32_t length)
{
    return Guarded([&]() -> int {
        CSPContext context = PlainContext();
        return TestRandomSourceCtx(&context, buffer, length);
    });
}

int CSPI::GenerateRandom(std::uint8_t* buffer, std::uint32_t length)
{
    return Guarded([&]() -> int {
        CSPContext context = PlainContext();
        return GenerateRandomCtx(&context, buffer, length);
    });
}

int CSPI::GenerateTestedRandom(std::uint8_t* buffer, std::uint32_t length)
{
    return Guarded([&]() -> int {
        CSPContext context = PlainContext();
        return GenerateTestedRandomCtx(&context, buffer, length);
    });
}

int CSPI::TestRandomSourceCtx(CSPContext*, std::uint8_t*, std::uint32_t)
{
    return CSP_LIBRARY_ERROR;
}

int CSPI::SeedFromNoiseGenerator(CSPContext*, std::uint8_t*, std::uint8_t*, std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSPI::CreatePRNG(CSPContext*, const std::uint8_t*, const std::uint8_t*, const std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSPI::ReseedPRNG(CSPContext*, const std::uint8_t*, const std::uint8_t*, const std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSPI::TestRNG(CSPContext*)
{
    return CSP_LIBRARY_ERROR;
}

int CSPI::GenerateRandomCtx(CSPContext*, std::uint8_t*, std::uint32_t)
{
    return CSP_LIBRARY_ERROR;
}

int CSPI::GenerateTestedRandomCtx(CSPContext*, std::uint8_t*, std::uint32_t)
{
    return CSP_LIBRARY_ERROR;
}

int CSPI::ProtectDataGOST28147(std::uint8_t*, std::uint32_t, const GOST28147PackedSBox*, const std::uint8_t*,
                               std::uint32_t*, std::uint8_t*, std::uint32_t*, const char*, const std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSPI::UnprotectDataGOST28147(std::uint8_t*, std::uint32_t, const GOST28147PackedSBox*, const std::uint8_t*,
                                 std::uint32_t, const std::uint8_t*, std::uint32_t, const char*, const std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSPI::HashGOST34311(const std::uint8_t*, std::uint32_t, const GOST28147PackedSBox*, const std::uint8_t*,
                        std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSPI::CompareHashGOST34311(const std::uint8_t*, std::uint32_t, const GOST28147PackedSBox*, const std::uint8_t*,
                               const std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}
