#include "csp/CSP.h"

int CSP::InitializePRNG(const std::uint8_t*, const std::uint8_t*, const std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::SetHardwareRNG(ICSPHardwareRNG*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::GenerateRandom(std::uint8_t*, std::uint32_t)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::TestRandomSource(std::uint8_t*, std::uint32_t)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::GenerateTestedRandom(std::uint8_t*, std::uint32_t)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::TestRandomSourceCtx(CSPContext*, std::uint8_t*, std::uint32_t)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::SeedFromNoiseGenerator(CSPContext*, std::uint8_t*, std::uint8_t*, std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::CreatePRNG(CSPContext*, const std::uint8_t*, const std::uint8_t*, const std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::ReseedPRNG(CSPContext*, const std::uint8_t*, const std::uint8_t*, const std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::TestRNG(CSPContext*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::GenerateRandomCtx(CSPContext*, std::uint8_t*, std::uint32_t)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::GenerateTestedRandomCtx(CSPContext*, std::uint8_t*, std::uint32_t)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::SetHardwareRNGObject(ICSPHardwareRNG*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::GenerateKeyAndIV(std::uint8_t*, std::uint32_t, std::uint8_t*, std::uint32_t)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::GenerateKeyAndIVCtx(CSPContext*, std::uint8_t*, std::uint32_t, std::uint8_t*, std::uint32_t)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::GenerateDataAndKey(std::uint8_t*, std::uint32_t, std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::GenerateDataAndKeyCtx(CSPContext*, std::uint8_t*, std::uint32_t, std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::ReseedDefaultPRNG(int, const std::uint8_t*, const std::uint8_t*, const std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::GenerateNoiseRandom(CSPContext*, std::uint8_t*, std::uint32_t)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::CreateDensePRNG(CSPContext*, int, const std::uint8_t*, const std::uint8_t*, const std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::ReseedDensePRNG(CSPContext*, int, const std::uint8_t*, const std::uint8_t*, const std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}
