// Small declarations shared by the cipher and hash modules and by the
// libraries that export them.
#ifndef QVK_CRYPTO_CRYPTOTYPES_H
#define QVK_CRYPTO_CRYPTOTYPES_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Bit lengths of the DSTU modes are unsigned 64-bit counts that cross every
// interface as two 32-bit halves, low half first: the exported calling shape
// stays the same on every platform. Declare such a parameter pair with
// CRYPTO_BIT_LENGTH(name), which expands to "uint32_t nameLow, uint32_t nameHigh".
#define CRYPTO_BIT_LENGTH(name) uint32_t name##Low, uint32_t name##High

// A bit length written back to the caller: two 32-bit words, low first (the
// same bytes as a little-endian 64-bit number).
typedef struct CryptoBitLength {
    uint32_t low;
    uint32_t high;
} CryptoBitLength;

static inline uint64_t CryptoJoinBitLength(uint32_t low, uint32_t high)
{
    return ((uint64_t)high << 32) | (uint64_t)low;
}

static inline uint32_t CryptoBitLengthLow(uint64_t bits)
{
    return (uint32_t)bits;
}

static inline uint32_t CryptoBitLengthHigh(uint64_t bits)
{
    return (uint32_t)(bits >> 32);
}

static inline void CryptoStoreBitLength(CryptoBitLength* out, uint64_t bits)
{
    out->low = (uint32_t)bits;
    out->high = (uint32_t)(bits >> 32);
}

static inline uint64_t CryptoLoadBitLength(const CryptoBitLength* in)
{
    return CryptoJoinBitLength(in->low, in->high);
}

#ifdef __cplusplus
}
#endif

#endif
