#include "csp/CSP.h"

int CSP::BeginHashDSTU7564(const std::uint8_t*, std::uint32_t, CSPHandle*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::FinishHashDSTU7564(std::uint8_t*, CSPHandle*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::UpdateHashDSTU7564(const std::uint8_t*, std::uint32_t, CSPHandle*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::HashDSTU7564(const std::uint8_t*, std::uint32_t, const std::uint8_t*, std::uint32_t, std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::CompareHashDSTU7564(const std::uint8_t*, std::uint32_t, const std::uint8_t*, std::uint32_t,
                             const std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::DeriveKeyPKCS12DSTU7564(const std::uint8_t*, std::uint32_t, const std::uint8_t*, std::uint32_t, std::uint32_t,
                                 std::uint32_t, std::uint8_t*, std::uint32_t)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::BeginHMACDSTU7564(const std::uint8_t*, const std::uint8_t*, std::uint32_t, CSPHandle*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::FinishHMACDSTU7564(std::uint8_t*, CSPHandle*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::UpdateHMACDSTU7564(const std::uint8_t*, std::uint32_t, CSPHandle*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::ComputeHMACDSTU7564(const std::uint8_t*, std::uint32_t, const std::uint8_t*, const std::uint8_t*,
                             std::uint32_t, std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::CompareHMACDSTU7564(const std::uint8_t*, std::uint32_t, const std::uint8_t*, const std::uint8_t*,
                             std::uint32_t, const std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::DeriveKeyPBKDF2DSTU7564(const std::uint8_t*, std::uint32_t, const std::uint8_t*, std::uint32_t, std::uint32_t,
                                 const std::uint8_t*, std::uint32_t, std::uint8_t*, std::uint32_t)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::HashDataDSTU7564(const std::uint8_t*, std::uint32_t, const std::uint8_t*, std::uint32_t, std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::HashDataDSTU7564Ctx(CSPContext*, const std::uint8_t*, std::uint32_t, const std::uint8_t*, std::uint32_t,
                             std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}
