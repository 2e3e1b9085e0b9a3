// Zeroing of secrets that the optimiser may not drop.
#pragma once

#include <cstddef>
#include <string.h>

namespace qvkcrypto {

inline void SecureWipe(void* p, size_t n)
{
    if (p != nullptr && n != 0) explicit_bzero(p, n);
}

}  // namespace qvkcrypto
