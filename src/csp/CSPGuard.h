// Small helpers shared by the provider's operation files.
#ifndef QVK_CSP_CSPGUARD_H
#define QVK_CSP_CSPGUARD_H

#include <cstdint>

#include "crypto/SecureWipe.h"
#include "csp/CSP.h"

namespace qvkcsp {

// Runs an operation body; an exception becomes CSP_LIBRARY_ERROR, since no
// exception may leave the provider.
template <typename Body>
int Guarded(Body body) noexcept
{
    try {
        return body();
    } catch (...) {
        return CSP_LIBRARY_ERROR;
    }
}

// Runs the context form of an operation on the provider's plain context, as
// the plain forms do.
template <typename... Inputs, typename... Arguments>
int OnPlainContext(CSP& csp, int (CSP::*operation)(CSPContext*, Inputs...), Arguments... arguments)
{
    return Guarded([&] {
        CSPContext context = csp.PlainContext();
        return (csp.*operation)(&context, arguments...);
    });
}

using qvkcrypto::SecureWipe;

// A 64-bit bit count of `bytes` bytes, as its two 32-bit halves.
inline std::uint32_t BitsLow(std::uint64_t bytes)
{
    return static_cast<std::uint32_t>(bytes * 8);
}
inline std::uint32_t BitsHigh(std::uint64_t bytes)
{
    return static_cast<std::uint32_t>((bytes * 8) >> 32);
}

}  // namespace qvkcsp

#endif
