// DSTU 7624:2014 XTS mode with ciphertext stealing.
#include "crypto/DSTU7624Modes.h"

#include <cstring>

#include "crypto/DSTU7624Bulk.h"
#include "crypto/DSTU7624ModesInternal.h"

using namespace qvkcrypto::dstu7624modes;

extern "C" void DSTU7624MultiplyTweak(uint64_t* value, uint32_t words)
{
    TimesX(value, words, ReductionConstant(words));
}

extern "C" void DSTU7624ClearLeadingBits(uint8_t* buffer, CRYPTO_BIT_LENGTH(bits))
{
    const uint64_t b = CryptoJoinBitLength(bitsLow, bitsHigh);
    std::memset(buffer, 0, b / 8);
    if (b % 8) buffer[b / 8] &= static_cast<uint8_t>(0xFFu >> (b % 8));
}

namespace {

inline void XorTweak(uint8_t* block, const uint64_t* tweak, uint32_t words)
{
    for (uint32_t w = 0; w < words; ++w) StoreLE64(block + 8 * w, LoadLE64(block + 8 * w) ^ tweak[w]);
}

// Whole XTS blocks from `block` on: the tweaks of a chunk are made first,
// then its blocks go through the cipher together. Returns how many blocks
// it did (none when the vector path does not serve the context).
uint64_t XtsBulk(DSTU7624Context* ctx, uint8_t* block, uint64_t count, bool decrypting)
{
    const uint32_t bw = ctx->blockWords, blockBytes = bw * 8;
    const uint64_t batch = qvkcrypto::DSTU7624BatchBlocks(bw);
    if (count < batch || !qvkcrypto::DSTU7624BulkUsable(ctx, decrypting)) return 0;
    constexpr uint32_t kChunk = 32768;  // one key preparation (and wiping) per chunk: at 8 KiB these cost a quarter
    const uint64_t constant = ReductionConstant(bw);
    uint64_t tweaks[kChunk / 8];
    const uint64_t chunkBlocks = kChunk / blockBytes;
    uint64_t done = 0;
    while (count - done >= batch) {
        const uint64_t n = (count - done < chunkBlocks ? count - done : chunkBlocks) / batch * batch;
        // The chunk's tweaks made in vector registers and xored in as they
        // are made, kept for the xor after the cipher.
        const uint64_t words = n * bw;
        qvkcrypto::DSTU7624BulkXtsMask(block, tweaks, n, ctx->iv, bw, constant);
        if (decrypting)
            qvkcrypto::DSTU7624BulkDecrypt(ctx, block, n);
        else
            qvkcrypto::DSTU7624BulkEncrypt(ctx, block, n);
        qvkcrypto::DSTU7624BulkXor(block, tweaks, words);
        block += n * blockBytes;
        done += n;
    }
    Wipe(tweaks, sizeof tweaks);
    return done;
}

// Copies the first `bits` bits of src over dst, spare low bits cleared.
inline void CopyBits(uint8_t* dst, const uint8_t* src, uint64_t bits)
{
    const uint64_t bytes = Ceil8(bits);
    std::memcpy(dst, src, bytes);
    if (bits % 8) dst[bytes - 1] &= HighMask(bits % 8);
}

}  // namespace

extern "C" int DSTU7624EncryptXTS(uint8_t* data, CRYPTO_BIT_LENGTH(bits), DSTU7624Context* ctx)
{
    if (!Has(ctx, kKeyedIv)) return 0;
    const uint64_t length = CryptoJoinBitLength(bitsLow, bitsHigh);
    const uint32_t bw = ctx->blockWords;
    const uint32_t blockBytes = bw * 8;
    const uint64_t blockBits = uint64_t(bw) * 64;
    if (length < blockBits) return 0;
    const uint64_t m = length / blockBits;
    const uint32_t r = static_cast<uint32_t>(length % blockBits);
    uint64_t* tweak = ctx->iv;
    Encrypt(ctx, Bytes(tweak));
    uint8_t* block = data;
    const uint64_t bulk = XtsBulk(ctx, block, m, false);
    block += bulk * blockBytes;
    for (uint64_t i = bulk; i < m; ++i, block += blockBytes) {
        DSTU7624MultiplyTweak(tweak, bw);
        XorTweak(block, tweak, bw);
        Encrypt(ctx, block);
        XorTweak(block, tweak, bw);
    }
    if (r == 0) return 1;
    uint8_t* last = data + (m - 1) * blockBytes;  // CC
    uint8_t* partial = data + m * blockBytes;     // Pr
    uint8_t stolen[kMaxBlockBytes];
    uint8_t pp[kMaxBlockBytes] = {0};
    std::memcpy(stolen, last, blockBytes);
    CopyBits(pp, partial, r);
    CopyBits(partial, stolen, r);
    DSTU7624ClearLeadingBits(stolen, r, 0);
    for (uint32_t i = 0; i < blockBytes; ++i) pp[i] |= stolen[i];
    DSTU7624MultiplyTweak(tweak, bw);
    XorTweak(pp, tweak, bw);
    Encrypt(ctx, pp);
    XorTweak(pp, tweak, bw);
    std::memcpy(last, pp, blockBytes);
    return 1;
}

extern "C" int DSTU7624DecryptXTS(uint8_t* data, CRYPTO_BIT_LENGTH(bits), DSTU7624Context* ctx)
{
    if (!Has(ctx, kKeyedIv)) return 0;
    const uint64_t length = CryptoJoinBitLength(bitsLow, bitsHigh);
    const uint32_t bw = ctx->blockWords;
    const uint32_t blockBytes = bw * 8;
    const uint64_t blockBits = uint64_t(bw) * 64;
    if (length < blockBits) return 0;
    const uint64_t m = length / blockBits;
    const uint32_t r = static_cast<uint32_t>(length % blockBits);
    const uint64_t k = r ? m - 1 : m;
    uint64_t* tweak = ctx->iv;
    Encrypt(ctx, Bytes(tweak));
    uint8_t* block = data;
    const uint64_t bulk = XtsBulk(ctx, block, k, true);
    block += bulk * blockBytes;
    for (uint64_t i = bulk; i < k; ++i, block += blockBytes) {
        DSTU7624MultiplyTweak(tweak, bw);
        XorTweak(block, tweak, bw);
        Decrypt(ctx, block);
        XorTweak(block, tweak, bw);
    }
    if (r == 0) return 1;
    uint8_t* last = data + (m - 1) * blockBytes;
    uint8_t* partial = data + m * blockBytes;  // Cr
    uint64_t t1[8];
    DSTU7624MultiplyTweak(tweak, bw);
    std::memcpy(t1, tweak, blockBytes);
    DSTU7624MultiplyTweak(tweak, bw);
    uint8_t pp[kMaxBlockBytes];
    uint8_t cc[kMaxBlockBytes] = {0};
    std::memcpy(pp, last, blockBytes);
    XorTweak(pp, tweak, bw);
    Decrypt(ctx, pp);
    XorTweak(pp, tweak, bw);
    CopyBits(cc, partial, r);
    CopyBits(partial, pp, r);
    DSTU7624ClearLeadingBits(pp, r, 0);
    for (uint32_t i = 0; i < blockBytes; ++i) cc[i] |= pp[i];
    XorTweak(cc, t1, bw);
    Decrypt(ctx, cc);
    XorTweak(cc, t1, bw);
    std::memcpy(last, cc, blockBytes);
    return 1;
}
