// DSTU 7624:2014 message authentication (CMAC, GMAC) and authenticated encryption (GCM, CCM).
#include "crypto/DSTU7624Modes.h"

#include <cstring>

#include "crypto/DSTU7624ModesInternal.h"

using namespace qvkcrypto::dstu7624modes;

extern "C" int DSTU7624ComputeCMAC(const uint8_t* data, CRYPTO_BIT_LENGTH(bits), DSTU7624Context* ctx)
{
    if (!Has(ctx, kKeyed)) return 0;
    ctx->flags &= ~static_cast<uint32_t>(DSTU7624_FLAG_MAC_READY);
    ctx->macMode = DSTU7624_MAC_MODE_CMAC;
    const uint64_t length = CryptoJoinBitLength(bitsLow, bitsHigh);
    if (length == 0) return 0;

    const uint32_t bw = ctx->blockWords;
    const uint32_t blockBytes = bw * 8;
    const uint64_t blockBits = uint64_t(bw) * 64;
    const uint64_t n = (length + blockBits - 1) / blockBits;
    const uint64_t d = length % blockBits;

    uint64_t v[8] = {0};
    for (uint64_t i = 0; i + 1 < n; ++i, data += blockBytes) {
        for (uint32_t w = 0; w < bw; ++w) v[w] ^= LoadLE64(data + 8 * w);
        Encrypt(ctx, Bytes(v));
    }

    uint64_t last[8] = {0};
    uint64_t subkey[8] = {0};
    if (d == 0) {
        std::memcpy(last, data, blockBytes);
    } else {
        const uint32_t bytes = static_cast<uint32_t>(Ceil8(d));
        std::memcpy(last, data, bytes);
        if (d % 8) Bytes(last)[bytes - 1] &= HighMask(d % 8);
        DSTU7624PadBlock(Bytes(last), d, bw);
        subkey[0] = 1;
    }
    Encrypt(ctx, Bytes(subkey));
    for (uint32_t w = 0; w < bw; ++w) v[w] ^= last[w] ^ subkey[w];
    Encrypt(ctx, Bytes(v));

    std::memset(ctx->mac, 0, sizeof ctx->mac);
    std::memcpy(ctx->mac, v, blockBytes);
    ctx->flags |= DSTU7624_FLAG_MAC_READY;
    return 1;
}

extern "C" int DSTU7624VerifyCMAC(const uint8_t* data, CRYPTO_BIT_LENGTH(bits), DSTU7624Context* ctx)
{
    if (!Has(ctx, kKeyed | DSTU7624_FLAG_MAC_BITS | DSTU7624_FLAG_EXPECTED_MAC)) return 0;
    if (!DSTU7624ComputeCMAC(data, bitsLow, bitsHigh, ctx)) return 0;
    if (!MacLengthAllowed(ctx, ctx->macBits)) return 0;
    uint8_t mac[kMaxBlockBytes];
    const uint32_t n = ReadMac(ctx, mac);
    return SameBytes(mac, ctx->expectedMac, n) ? 1 : 0;
}

extern "C" void DSTU7624ShiftLeft(uint64_t* value, uint32_t words)
{
    for (uint32_t i = words - 1; i >= 1; --i) value[i] = (value[i] << 1) | (value[i - 1] >> 63);
    value[0] <<= 1;
}

extern "C" void DSTU7624MultiplyGF(const uint64_t* a, const uint64_t* b, uint32_t words, uint64_t* out)
{
    const uint64_t constant = ReductionConstant(words);
    uint64_t acc[8] = {0};
    uint64_t m[8];
    std::memcpy(m, b, words * 8);
    for (uint32_t w = 0; w < words; ++w) {
        const uint64_t aw = a[w];
        for (uint32_t bit = 0; bit < 64; ++bit) {
            if ((aw >> bit) & 1u) {
                for (uint32_t k = 0; k < words; ++k) acc[k] ^= m[k];
            }
            TimesX(m, words, constant);
        }
    }
    std::memcpy(out, acc, words * 8);
}

extern "C" void DSTU7624GHash(const uint8_t* data, CRYPTO_BIT_LENGTH(bits), const uint64_t* hashKey,
                              uint64_t* accumulator, uint32_t words)
{
    const uint64_t length = CryptoJoinBitLength(bitsLow, bitsHigh);
    const uint64_t blockBits = uint64_t(words) * 64;
    const uint32_t blockBytes = words * 8;
    for (uint64_t i = length / blockBits; i; --i, data += blockBytes) {
        for (uint32_t w = 0; w < words; ++w) accumulator[w] ^= LoadLE64(data + 8 * w);
        DSTU7624MultiplyGF(accumulator, hashKey, words, accumulator);
    }
    const uint64_t r = length % blockBits;
    if (r == 0) return;
    uint64_t last[8] = {0};
    const uint32_t bytes = static_cast<uint32_t>(Ceil8(r));
    std::memcpy(last, data, bytes);
    if (r % 8) Bytes(last)[bytes - 1] &= HighMask(r % 8);
    DSTU7624PadBlock(Bytes(last), r, words);
    for (uint32_t w = 0; w < words; ++w) accumulator[w] ^= last[w];
    DSTU7624MultiplyGF(accumulator, hashKey, words, accumulator);
}

extern "C" void DSTU7624ComputeGCMTag(const uint8_t* data, CRYPTO_BIT_LENGTH(dataBits), const uint8_t* associatedData,
                                      CRYPTO_BIT_LENGTH(associatedBits), DSTU7624Context* ctx)
{
    ctx->flags &= ~static_cast<uint32_t>(DSTU7624_FLAG_MAC_READY);
    ctx->macMode = DSTU7624_MAC_MODE_GMAC;
    const uint32_t bw = ctx->blockWords;
    const uint64_t ld = CryptoJoinBitLength(dataBitsLow, dataBitsHigh);
    const uint64_t la = CryptoJoinBitLength(associatedBitsLow, associatedBitsHigh);
    uint64_t h[8] = {0};
    Encrypt(ctx, Bytes(h));
    uint64_t acc[8] = {0};
    if (la) DSTU7624GHash(associatedData, associatedBitsLow, associatedBitsHigh, h, acc, bw);
    if (ld) DSTU7624GHash(data, dataBitsLow, dataBitsHigh, h, acc, bw);
    acc[0] ^= la;
    acc[bw / 2] ^= ld;
    Encrypt(ctx, Bytes(acc));
    std::memset(ctx->mac, 0, sizeof ctx->mac);
    std::memcpy(ctx->mac, acc, bw * 8);
    ctx->flags |= DSTU7624_FLAG_MAC_READY;
}

extern "C" int DSTU7624EncryptGCM(uint8_t* data, CRYPTO_BIT_LENGTH(dataBits), const uint8_t* associatedData,
                                  CRYPTO_BIT_LENGTH(associatedBits), DSTU7624Context* ctx)
{
    if (!Has(ctx, kKeyed)) return 0;
    const uint64_t ld = CryptoJoinBitLength(dataBitsLow, dataBitsHigh);
    const uint64_t la = CryptoJoinBitLength(associatedBitsLow, associatedBitsHigh);
    if (ld + la == 0) return 0;
    if (ld != 0 && !DSTU7624EncryptCTR(data, dataBitsLow, dataBitsHigh, ctx)) return 0;
    DSTU7624ComputeGCMTag(data, dataBitsLow, dataBitsHigh, associatedData, associatedBitsLow, associatedBitsHigh, ctx);
    return 1;
}

extern "C" int DSTU7624DecryptGCM(uint8_t* data, CRYPTO_BIT_LENGTH(dataBits), const uint8_t* associatedData,
                                  CRYPTO_BIT_LENGTH(associatedBits), DSTU7624Context* ctx)
{
    if (!Has(ctx, kKeyed | DSTU7624_FLAG_MAC_BITS | DSTU7624_FLAG_EXPECTED_MAC)) return 0;
    const uint64_t ld = CryptoJoinBitLength(dataBitsLow, dataBitsHigh);
    const uint64_t la = CryptoJoinBitLength(associatedBitsLow, associatedBitsHigh);
    if (ld + la == 0) return 0;
    DSTU7624ComputeGCMTag(data, dataBitsLow, dataBitsHigh, associatedData, associatedBitsLow, associatedBitsHigh, ctx);
    if (!MacLengthAllowed(ctx, ctx->macBits)) return 0;
    uint8_t mac[kMaxBlockBytes];
    const uint32_t n = ReadMac(ctx, mac);
    if (!SameBytes(mac, ctx->expectedMac, n)) return 0;
    return DSTU7624DecryptCTR(data, dataBitsLow, dataBitsHigh, ctx);
}

extern "C" int DSTU7624ComputeGMAC(const uint8_t* data, CRYPTO_BIT_LENGTH(bits), DSTU7624Context* ctx)
{
    if (!Has(ctx, kKeyed)) return 0;
    DSTU7624ComputeGCMTag(nullptr, 0, 0, data, bitsLow, bitsHigh, ctx);
    return 1;
}

extern "C" int DSTU7624VerifyGMAC(const uint8_t* data, CRYPTO_BIT_LENGTH(bits), DSTU7624Context* ctx)
{
    if (!Has(ctx, kKeyed | DSTU7624_FLAG_MAC_BITS | DSTU7624_FLAG_EXPECTED_MAC)) return 0;
    DSTU7624ComputeGCMTag(nullptr, 0, 0, data, bitsLow, bitsHigh, ctx);
    if (!MacLengthAllowed(ctx, ctx->macBits)) return 0;
    uint8_t mac[kMaxBlockBytes];
    const uint32_t n = ReadMac(ctx, mac);
    return SameBytes(mac, ctx->expectedMac, n) ? 1 : 0;
}

namespace {

inline uint8_t TagLengthCode(uint32_t macBits)
{
    switch (macBits) {
    case 64:
        return 2;
    case 128:
        return 3;
    case 256:
        return 4;
    case 384:
        return 5;
    case 512:
        return 6;
    default:
        return 0;
    }
}

// Writes `value` as a w-byte little-endian number (bytes past the fourth 0).
inline void PutLength(uint8_t* p, uint32_t w, uint32_t value)
{
    for (uint32_t i = 0; i < w; ++i) p[i] = i < 4 ? static_cast<uint8_t>(value >> (8 * i)) : 0;
}

// The width must leave room for the flags byte and fit its 4-bit field, and
// both lengths must fit in it (a narrower field would silently truncate).
bool CcmWidthFits(const DSTU7624Context* ctx, uint32_t w, uint32_t plainBytes, uint32_t associatedBytes)
{
    const uint32_t blockBytes = ctx->blockWords * 8;
    const uint32_t widest = blockBytes - 1 < 16 ? blockBytes - 1 : 16;
    if (w < 1 || w > widest) return false;
    if (w <= 3) {
        const uint64_t limit = uint64_t(1) << (8 * w);
        if (plainBytes >= limit || associatedBytes >= limit) return false;
    }
    return true;
}

}  // namespace

extern "C" void DSTU7624CBCMAC(const uint8_t* data, uint32_t dataBytes, const uint8_t* associatedData,
                               uint32_t associatedBytes, uint32_t w, DSTU7624Context* ctx)
{
    ctx->flags &= ~static_cast<uint32_t>(DSTU7624_FLAG_MAC_READY);
    ctx->macMode = DSTU7624_MAC_MODE_CMAC;
    const uint32_t bw = ctx->blockWords;
    const uint32_t blockBytes = bw * 8;

    uint64_t x[8] = {0};
    uint8_t* xb = Bytes(x);
    std::memcpy(xb, ctx->iv, blockBytes - w - 1);
    PutLength(xb + blockBytes - w - 1, w, dataBytes);
    xb[blockBytes - 1] =
        static_cast<uint8_t>((associatedBytes ? 0x80u : 0u) | (TagLengthCode(ctx->macBits) << 4) | (w - 1));

    const auto absorb = [&](const uint8_t* block) {
        for (uint32_t k = 0; k < bw; ++k) x[k] ^= LoadLE64(block + 8 * k);
        Encrypt(ctx, xb);
    };

    if (associatedBytes) {
        Encrypt(ctx, xb);
        // Header: length, zeros, then the first (a mod block) data bytes, so
        // that the rest of the data falls on whole blocks.
        const uint32_t lead = associatedBytes % blockBytes;
        const uint32_t zeros = (blockBytes - (w + associatedBytes) % blockBytes) % blockBytes;
        uint8_t header[2 * kMaxBlockBytes] = {0};
        PutLength(header, w, associatedBytes);
        std::memcpy(header + w + zeros, associatedData, lead);
        const uint32_t headerBytes = w + zeros + lead;
        for (uint32_t off = 0; off < headerBytes; off += blockBytes) absorb(header + off);
        for (uint32_t off = lead; off < associatedBytes; off += blockBytes) absorb(associatedData + off);
    }
    const uint32_t whole = dataBytes / blockBytes;
    for (uint32_t i = 0; i < whole; ++i) absorb(data + i * blockBytes);
    const uint32_t rest = dataBytes % blockBytes;
    if (rest) {
        uint8_t last[kMaxBlockBytes] = {0};
        std::memcpy(last, data + whole * blockBytes, rest);
        last[rest] = 0x80;
        absorb(last);
    }
    std::memset(ctx->mac, 0, sizeof ctx->mac);
    std::memcpy(ctx->mac, x, blockBytes);
    ctx->flags |= DSTU7624_FLAG_MAC_READY;
}

extern "C" int DSTU7624EncryptCCM(uint8_t* buffer, uint32_t plainBytes, uint32_t bufferBytes,
                                  const uint8_t* associatedData, uint32_t associatedBytes, uint32_t w,
                                  DSTU7624Context* ctx)
{
    if (!Has(ctx, kKeyedIv | DSTU7624_FLAG_MAC_BITS)) return 0;
    if (!CcmWidthFits(ctx, w, plainBytes, associatedBytes)) return 0;
    const uint32_t tagBytes = ctx->macBits / 8;
    if (uint64_t(bufferBytes) != uint64_t(plainBytes) + tagBytes) return 0;
    DSTU7624CBCMAC(buffer, plainBytes, associatedData, associatedBytes, w, ctx);
    if (!MacLengthAllowed(ctx, ctx->macBits)) return 0;
    uint8_t mac[kMaxBlockBytes];
    ReadMac(ctx, mac);
    std::memcpy(buffer + plainBytes, mac, tagBytes);
    const uint64_t bits = uint64_t(bufferBytes) * 8;
    return DSTU7624EncryptCTR(buffer, CryptoBitLengthLow(bits), CryptoBitLengthHigh(bits), ctx);
}

extern "C" int DSTU7624DecryptCCM(uint8_t* buffer, uint32_t bufferBytes, const uint8_t* associatedData,
                                  uint32_t associatedBytes, uint32_t w, DSTU7624Context* ctx)
{
    if (!Has(ctx, kKeyedIv | DSTU7624_FLAG_MAC_BITS)) return 0;
    const uint32_t tagBytes = ctx->macBits / 8;
    if (tagBytes > bufferBytes) return 0;
    const uint32_t plainBytes = bufferBytes - tagBytes;
    if (!CcmWidthFits(ctx, w, plainBytes, associatedBytes)) return 0;
    uint64_t savedIv[8];
    std::memcpy(savedIv, ctx->iv, sizeof savedIv);
    const uint64_t bits = uint64_t(bufferBytes) * 8;
    if (!DSTU7624DecryptCTR(buffer, CryptoBitLengthLow(bits), CryptoBitLengthHigh(bits), ctx)) return 0;
    std::memcpy(ctx->iv, savedIv, sizeof savedIv);
    DSTU7624CBCMAC(buffer, plainBytes, associatedData, associatedBytes, w, ctx);
    uint8_t mac[kMaxBlockBytes];
    if (MacLengthAllowed(ctx, ctx->macBits)) {
        ReadMac(ctx, mac);
        if (SameBytes(mac, buffer + plainBytes, tagBytes)) return 1;
    }
    // Plaintext that failed its check never reaches the caller.
    Wipe(buffer, bufferBytes);
    return 0;
}
