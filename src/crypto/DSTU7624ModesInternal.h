// Helpers shared by the DSTU 7624 context and mode files; private to this folder.
#ifndef QVK_CRYPTO_DSTU7624MODESINTERNAL_H
#define QVK_CRYPTO_DSTU7624MODESINTERNAL_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "crypto/ByteOrder.h"
#include "crypto/DSTU7624Modes.h"
#include "crypto/SecureWipe.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "blocks are read as little-endian 64-bit columns in place");

namespace qvkcrypto::dstu7624modes {

using qvkcrypto::LoadLE64;
using qvkcrypto::StoreLE64;

inline constexpr uint32_t kMaxBlockBytes = 64;

// Zeroing that the optimiser may not drop: contexts and unverified
// plaintext are wiped through it.
inline void Wipe(void* p, size_t n)
{
    qvkcrypto::SecureWipe(p, n);
}

inline bool Has(const DSTU7624Context* ctx, uint32_t flags)
{
    return (ctx->flags & flags) == flags;
}

inline uint8_t* Bytes(uint64_t* words)
{
    return reinterpret_cast<uint8_t*>(words);
}

inline void Encrypt(DSTU7624Context* ctx, uint8_t* block)
{
    ctx->encryptBlock(ctx->sBoxes, ctx->tTables, block, ctx->roundKeys);
}

inline void Decrypt(DSTU7624Context* ctx, uint8_t* block)
{
    ctx->decryptBlock(ctx->inverseSBoxes, ctx->inverseTTables, block, ctx->decryptionRoundKeys);
}

// The first `bits` most significant bits of a byte.
inline uint8_t HighMask(uint32_t bits)
{
    return static_cast<uint8_t>(0xFF00u >> bits);
}

inline uint64_t Ceil8(uint64_t bits)
{
    return (bits + 7) / 8;
}

// data[0 .. n) ^= gamma[0 .. n) in words, then bytes.
inline void XorBytes(uint8_t* data, const uint8_t* gamma, uint64_t n)
{
    uint64_t i = 0;
    for (; i + 8 <= n; i += 8) StoreLE64(data + i, LoadLE64(data + i) ^ LoadLE64(gamma + i));
    for (; i < n; ++i) data[i] ^= gamma[i];
}

// XOR the first `bits` bits of gamma into data and clear the spare low bits
// of the last byte touched.
inline void XorBits(uint8_t* data, const uint8_t* gamma, uint64_t bits)
{
    XorBytes(data, gamma, bits / 8);
    if (bits % 8) data[bits / 8] = static_cast<uint8_t>((data[bits / 8] ^ gamma[bits / 8]) & HighMask(bits % 8));
}

// Constant-time comparison of MACs.
inline bool SameBytes(const uint8_t* a, const uint8_t* b, uint32_t n)
{
    uint8_t diff = 0;
    for (uint32_t i = 0; i < n; ++i) diff |= static_cast<uint8_t>(a[i] ^ b[i]);
    return diff == 0;
}

inline bool IsCmacLength(uint32_t bits)
{
    return bits == 64 || bits == 128 || bits == 256 || bits == 384 || bits == 512;
}

// MAC length rule: never longer than the block; once a CMAC-kind MAC is
// held, only the lengths its tag-length code can express.
inline bool MacLengthAllowed(const DSTU7624Context* ctx, uint32_t bits)
{
    if (bits > ctx->blockWords * 64) return false;
    if ((ctx->flags & DSTU7624_FLAG_MAC_READY) && ctx->macMode == DSTU7624_MAC_MODE_CMAC) return IsCmacLength(bits);
    return true;
}

// The computed MAC as get type 7 hands it out.
inline uint32_t ReadMac(const DSTU7624Context* ctx, uint8_t* out)
{
    const uint32_t n = (ctx->macBits + 7) / 8;
    std::memcpy(out, ctx->mac, n);
    if (ctx->macBits % 8) out[n - 1] &= HighMask(ctx->macBits % 8);
    return n;
}

// Counter step: add n to the low half of the block, carries staying inside it.
inline void AddToCounter(uint64_t* counter, uint32_t blockWords, uint64_t n)
{
    counter[0] += n;
    bool carry = counter[0] < n;
    for (uint32_t j = 1; carry && j < blockWords / 2; ++j) {
        counter[j] += 1;
        carry = counter[j] == 0;
    }
}
inline constexpr uint32_t kKeyed = DSTU7624_FLAG_SBOXES | DSTU7624_FLAG_BLOCK_SIZE | DSTU7624_FLAG_KEY;
inline constexpr uint32_t kKeyedIv = kKeyed | DSTU7624_FLAG_IV;

// Multiplication by x in the block-sized field, shared by GMAC and the XTS tweak.
inline uint64_t ReductionConstant(uint32_t words)
{
    return words == 2 ? 0x87 : words == 4 ? 0x425 : 0x125;
}

inline void TimesX(uint64_t* value, uint32_t words, uint64_t constant)
{
    const uint64_t top = value[words - 1] >> 63;
    DSTU7624ShiftLeft(value, words);
    if (top) value[0] ^= constant;
}

}  // namespace qvkcrypto::dstu7624modes

#endif
