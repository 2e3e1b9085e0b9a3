// The GOST R 34.11-94 test parameter set (RFC 5831, section 7.1): S-box 0
// (the least significant nibble) first, and packed two rows per byte as the
// GOST 28147 code holds it.
#pragma once

#include <array>
#include <cstdint>

namespace cryptotest {

inline constexpr std::uint8_t kGostTestSBoxRows[8][16] = {
    {4, 10, 9, 2, 13, 8, 0, 14, 6, 11, 1, 12, 7, 15, 5, 3}, {14, 11, 4, 12, 6, 13, 15, 10, 2, 3, 8, 1, 0, 7, 5, 9},
    {5, 8, 1, 13, 10, 3, 4, 2, 14, 15, 12, 7, 6, 0, 9, 11}, {7, 13, 10, 1, 0, 8, 9, 15, 14, 4, 6, 12, 11, 2, 5, 3},
    {6, 12, 7, 1, 5, 15, 13, 8, 4, 10, 9, 14, 0, 3, 11, 2}, {4, 11, 10, 0, 7, 2, 1, 13, 3, 6, 8, 5, 9, 12, 15, 14},
    {13, 11, 4, 1, 3, 15, 5, 9, 0, 10, 14, 7, 6, 8, 2, 12}, {1, 15, 13, 0, 5, 7, 10, 4, 9, 2, 3, 14, 6, 11, 8, 12},
};

// Row 2r in the low nibbles of bytes 16r..16r+15, row 2r+1 in the high ones.
inline std::array<std::uint8_t, 64> PackedGostTestSBox()
{
    std::array<std::uint8_t, 64> packed{};
    for (int r = 0; r < 4; ++r)
        for (int v = 0; v < 16; ++v)
            packed[16 * r + v] =
                static_cast<std::uint8_t>(kGostTestSBoxRows[2 * r][v] | kGostTestSBoxRows[2 * r + 1][v] << 4);
    return packed;
}

}  // namespace cryptotest
