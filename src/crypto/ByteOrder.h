// Little-endian loads and stores of 32- and 64-bit words at any alignment: the
// word order of every cipher and hash here (DSTU columns, GOST 32-bit words).
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace qvkcrypto {

inline uint32_t Load32(const uint8_t* p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
    return v;
}

inline void Store32(uint8_t* p, uint32_t v)
{
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
    std::memcpy(p, &v, 4);
}

inline uint64_t Load64(const uint8_t* p)
{
    uint64_t v;
    std::memcpy(&v, p, 8);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
    return v;
}

inline void Store64(uint8_t* p, uint64_t v)
{
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
    std::memcpy(p, &v, 8);
}

}  // namespace qvkcrypto
