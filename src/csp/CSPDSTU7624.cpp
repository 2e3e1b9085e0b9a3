#include "csp/CSP.h"

int CSP::CreateCipherDSTU7624(const std::uint8_t*, const std::uint8_t*, std::uint32_t, const std::uint8_t*,
                              std::uint32_t, CSPHandle*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::DestroyCipherDSTU7624(CSPHandle*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::EncryptECBDSTU7624(std::uint8_t*, std::uint32_t, const std::uint8_t*, const std::uint8_t*, std::uint32_t,
                            std::uint32_t)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::DecryptECBDSTU7624(std::uint8_t*, std::uint32_t, const std::uint8_t*, const std::uint8_t*, std::uint32_t,
                            std::uint32_t)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::EncryptCTRDSTU7624State(std::uint8_t*, std::uint32_t, CSPHandle*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::EncryptCTRDSTU7624StateAt(std::uint8_t*, std::uint32_t, const std::uint8_t*, std::uint32_t, std::uint32_t,
                                   CSPHandle*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::EncryptCTRDSTU7624(std::uint8_t*, std::uint32_t, const std::uint8_t*, const std::uint8_t*, std::uint32_t,
                            const std::uint8_t*, std::uint32_t)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::DecryptCTRDSTU7624State(std::uint8_t*, std::uint32_t, CSPHandle*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::DecryptCTRDSTU7624StateAt(std::uint8_t*, std::uint32_t, const std::uint8_t*, std::uint32_t, std::uint32_t,
                                   CSPHandle*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::DecryptCTRDSTU7624(std::uint8_t*, std::uint32_t, const std::uint8_t*, const std::uint8_t*, std::uint32_t,
                            const std::uint8_t*, std::uint32_t)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::EncryptCFBDSTU7624(std::uint8_t*, std::uint32_t, const std::uint8_t*, const std::uint8_t*, std::uint32_t,
                            const std::uint8_t*, std::uint32_t, std::uint32_t)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::DecryptCFBDSTU7624(std::uint8_t*, std::uint32_t, const std::uint8_t*, const std::uint8_t*, std::uint32_t,
                            const std::uint8_t*, std::uint32_t, std::uint32_t)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::ComputeCMACDSTU7624(const std::uint8_t*, std::uint32_t, const std::uint8_t*, const std::uint8_t*,
                             std::uint32_t, std::uint32_t, std::uint8_t*, std::uint32_t)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::CheckCMACDSTU7624(const std::uint8_t*, std::uint32_t, const std::uint8_t*, std::uint32_t, const std::uint8_t*,
                           const std::uint8_t*, std::uint32_t, std::uint32_t)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::EncryptCBCDSTU7624(std::uint8_t*, std::uint32_t, std::uint32_t, const std::uint8_t*, const std::uint8_t*,
                            std::uint32_t, const std::uint8_t*, std::uint32_t)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::DecryptCBCDSTU7624(std::uint8_t*, std::uint32_t*, int, const std::uint8_t*, const std::uint8_t*, std::uint32_t,
                            const std::uint8_t*, std::uint32_t)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::EncryptOFBDSTU7624State(std::uint8_t*, std::uint32_t, CSPHandle*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::EncryptOFBDSTU7624(std::uint8_t*, std::uint32_t, const std::uint8_t*, const std::uint8_t*, std::uint32_t,
                            const std::uint8_t*, std::uint32_t)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::DecryptOFBDSTU7624State(std::uint8_t*, std::uint32_t, CSPHandle*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::DecryptOFBDSTU7624(std::uint8_t*, std::uint32_t, const std::uint8_t*, const std::uint8_t*, std::uint32_t,
                            const std::uint8_t*, std::uint32_t)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::EncryptGCMDSTU7624(std::uint8_t*, std::uint32_t, const std::uint8_t*, std::uint32_t, const std::uint8_t*,
                            const std::uint8_t*, std::uint32_t, const std::uint8_t*, std::uint32_t, std::uint8_t*,
                            std::uint32_t)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::DecryptGCMDSTU7624(std::uint8_t*, std::uint32_t, const std::uint8_t*, std::uint32_t, const std::uint8_t*,
                            std::uint32_t, const std::uint8_t*, const std::uint8_t*, std::uint32_t, const std::uint8_t*,
                            std::uint32_t)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::ComputeGMACDSTU7624(const std::uint8_t*, std::uint32_t, const std::uint8_t*, const std::uint8_t*,
                             std::uint32_t, std::uint32_t, std::uint8_t*, std::uint32_t)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::CheckGMACDSTU7624(const std::uint8_t*, std::uint32_t, const std::uint8_t*, std::uint32_t, const std::uint8_t*,
                           const std::uint8_t*, std::uint32_t, std::uint32_t)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::EncryptCCMDSTU7624(std::uint8_t*, std::uint32_t, std::uint32_t, const std::uint8_t*, std::uint32_t,
                            const std::uint8_t*, const std::uint8_t*, std::uint32_t, const std::uint8_t*, std::uint32_t,
                            std::uint32_t, std::uint32_t)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::DecryptCCMDSTU7624(std::uint8_t*, std::uint32_t, const std::uint8_t*, std::uint32_t, const std::uint8_t*,
                            const std::uint8_t*, std::uint32_t, const std::uint8_t*, std::uint32_t, std::uint32_t,
                            std::uint32_t)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::EncryptXTSDSTU7624(std::uint8_t*, std::uint32_t, const std::uint8_t*, const std::uint8_t*, std::uint32_t,
                            const std::uint8_t*, std::uint32_t)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::DecryptXTSDSTU7624(std::uint8_t*, std::uint32_t, const std::uint8_t*, const std::uint8_t*, std::uint32_t,
                            const std::uint8_t*, std::uint32_t)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::EncryptKWDSTU7624(std::uint8_t*, std::uint32_t, std::uint32_t, const std::uint8_t*, const std::uint8_t*,
                           std::uint32_t, std::uint32_t)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::DecryptKWDSTU7624(std::uint8_t*, std::uint32_t*, int, const std::uint8_t*, const std::uint8_t*, std::uint32_t,
                           const void*, std::uint32_t)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::ExportStateDSTU7624(CSPHandle*, std::uint8_t*, std::uint32_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::ImportStateDSTU7624(CSPHandle*, const std::uint8_t*, std::uint32_t)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::EncryptCFBDSTU7624State(std::uint8_t*, std::uint32_t, std::uint32_t, CSPHandle*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::DecryptCFBDSTU7624State(std::uint8_t*, std::uint32_t, std::uint32_t, CSPHandle*)
{
    return CSP_LIBRARY_ERROR;
}

