#include "csp/CSP.h"

int CSP::EncryptWithPasswordDSTU7624(const std::uint8_t*, std::uint32_t, std::uint8_t*, std::uint32_t,
                                     const std::uint8_t*, const char*, const std::uint8_t*, std::uint32_t,
                                     const std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::DecryptWithPasswordDSTU7624(std::uint8_t*, std::uint32_t, std::uint8_t**, std::uint32_t*, const std::uint8_t*,
                                     const char*, const std::uint8_t*, std::uint32_t)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::EncryptWithPasswordDSTU7624Ex(const std::uint8_t*, std::uint32_t, std::uint8_t*, std::uint32_t,
                                       const std::uint8_t*, const char*, const std::uint8_t*, std::uint32_t,
                                       const std::uint8_t*, std::uint32_t, std::uint32_t)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::DecryptWithPasswordDSTU7624Ex(std::uint8_t*, std::uint32_t, std::uint8_t**, std::uint32_t*,
                                       const std::uint8_t*, const char*, const std::uint8_t*, std::uint32_t)
{
    return CSP_LIBRARY_ERROR;
}
