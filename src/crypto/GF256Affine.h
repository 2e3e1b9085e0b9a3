// Multiplication by a constant in GF(2^8) modulo x^8 + x^4 + x^3 + x^2 + 1
// (the DSTU ciphers' field) as the 8x8 bit matrix GF2P8AFFINEQB takes.
#pragma once

#include <cstdint>

namespace qvkcrypto {

constexpr uint8_t GfMultiply(uint8_t a, uint8_t b)
{
    uint8_t r = 0;
    for (int i = 0; i < 8; ++i) {
        if (b & 1) r ^= a;
        const bool high = a & 0x80;
        a = static_cast<uint8_t>(a << 1);
        if (high) a ^= 0x1D;
        b >>= 1;
    }
    return r;
}

// Byte 7 - i of the matrix selects the input bits whose products carry bit i.
constexpr uint64_t MultiplyMatrix(uint8_t c)
{
    uint64_t m = 0;
    for (int i = 0; i < 8; ++i) {
        uint64_t row = 0;
        for (int j = 0; j < 8; ++j)
            if ((GfMultiply(c, static_cast<uint8_t>(1u << j)) >> i) & 1) row |= 1u << j;
        m |= row << (8 * (7 - i));
    }
    return m;
}

}  // namespace qvkcrypto
