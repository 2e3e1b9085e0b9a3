// Loads and stores of 16-, 32- and 64-bit words at any alignment, the one
// byte-order header of the tree. Little-endian is the word order of every
// cipher and hash here (DSTU columns, GOST 32-bit words), of the key's records
// and of the parameter files; big-endian that of the token storage records.
#ifndef QVK_CRYPTO_BYTEORDER_H
#define QVK_CRYPTO_BYTEORDER_H

#include <bit>
#include <cstdint>
#include <cstring>

namespace qvkcrypto {

inline std::uint16_t LoadLE16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

inline void StoreLE16(std::uint8_t* p, std::uint16_t v)
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

inline std::uint32_t LoadLE32(const std::uint8_t* p)
{
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
    return v;
}

inline void StoreLE32(std::uint8_t* p, std::uint32_t v)
{
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
    std::memcpy(p, &v, 4);
}

inline std::uint64_t LoadLE64(const std::uint8_t* p)
{
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
    return v;
}

inline void StoreLE64(std::uint8_t* p, std::uint64_t v)
{
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
    std::memcpy(p, &v, 8);
}

inline std::uint32_t LoadBE32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

inline void StoreBE32(std::uint8_t* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

}  // namespace qvkcrypto

#endif
