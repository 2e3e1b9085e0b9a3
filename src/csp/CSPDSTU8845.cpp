#include "csp/CSP.h"

int CSP::CreateCipherDSTU8845(const std::uint8_t*, const std::uint8_t*, std::uint32_t, const std::uint8_t*, CSPHandle*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::DestroyCipherDSTU8845(CSPHandle*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::CryptDSTU8845State(std::uint8_t*, std::uint32_t, CSPHandle*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::CryptDSTU8845StateAt(std::uint8_t*, std::uint32_t, const std::uint8_t*, std::uint32_t, std::uint32_t,
                              CSPHandle*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::CryptDSTU8845(std::uint8_t*, std::uint32_t, const std::uint8_t*, const std::uint8_t*, std::uint32_t,
                       const std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::ExportStateDSTU8845(CSPHandle*, std::uint8_t*, std::uint32_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::ImportStateDSTU8845(CSPHandle*, const std::uint8_t*, std::uint32_t)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::CryptDSTU8845StateAtEx(std::uint8_t*, std::uint32_t, const std::uint8_t*, std::uint32_t, std::uint32_t,
                                CSPHandle*)
{
    return CSP_LIBRARY_ERROR;
}
