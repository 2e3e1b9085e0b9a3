// DSTU 7624:2014 key wrapping.
#include "crypto/DSTU7624Modes.h"

#include <cstring>

#include "crypto/DSTU7624ModesInternal.h"

using namespace qvkcrypto::dstu7624modes;

namespace {

// OR `bits` bits of src (from its bit 0) into dst from bit `at` on.
void OrBitsAt(uint8_t* dst, uint64_t at, const uint8_t* src, uint32_t bits)
{
    const uint32_t shift = static_cast<uint32_t>(at % 8);
    uint8_t* d = dst + at / 8;
    const uint32_t bytes = static_cast<uint32_t>(Ceil8(bits));
    for (uint32_t j = 0; j < bytes; ++j) {
        d[j] |= static_cast<uint8_t>(src[j] >> shift);
        if (shift) d[j + 1] |= static_cast<uint8_t>(src[j] << (8 - shift));
    }
}

}  // namespace

extern "C" int DSTU7624WrapKey(uint8_t* data, CRYPTO_BIT_LENGTH(bits), CRYPTO_BIT_LENGTH(wrappedBits),
                               DSTU7624Context* ctx)
{
    if (!Has(ctx, kKeyed)) return 0;
    const uint64_t length = CryptoJoinBitLength(bitsLow, bitsHigh);
    const uint64_t wrapped = CryptoJoinBitLength(wrappedBitsLow, wrappedBitsHigh);
    const uint32_t bw = ctx->blockWords;
    const uint32_t blockBytes = bw * 8;
    const uint64_t blockBits = uint64_t(bw) * 64;
    const uint32_t halfBytes = blockBytes / 2;
    const uint64_t r = length % blockBits;
    uint64_t prepared;

    if (r == 0) {
        if (wrapped != length + blockBits) return 0;
        prepared = length;
    } else {
        const uint64_t d = (r + blockBits / 2) / blockBits + 1;
        if (wrapped != (length - r) + (d + 1) * blockBits) return 0;
        // Tail, LEN bit-packed right after it, then the padding bit.
        uint8_t scratch[2 * kMaxBlockBytes] = {0};
        uint8_t* tail = data + (length - r) / 8;
        const uint32_t tailBytes = static_cast<uint32_t>(Ceil8(r));
        std::memcpy(scratch, tail, tailBytes);
        if (r % 8) scratch[tailBytes - 1] &= HighMask(r % 8);
        uint8_t len[kMaxBlockBytes / 2] = {0};
        StoreLE64(len, length);
        OrBitsAt(scratch, r, len, halfBytes * 8);
        // The padding bit always goes right after LEN, also when LEN ends on
        // a block boundary (block padding alone would leave no bit there and
        // the key could not be unwrapped).
        const uint64_t padAt = r + blockBits / 2;
        scratch[padAt / 8] |= static_cast<uint8_t>(0x80u >> (padAt % 8));
        std::memcpy(tail, scratch, d * blockBytes);
        prepared = (length - r) + d * blockBits;
    }
    std::memset(data + prepared / 8, 0, blockBytes);  // check block

    const uint64_t n = prepared / (blockBits / 2);  // half-blocks before the check block
    uint8_t a[kMaxBlockBytes / 2];
    uint8_t block[kMaxBlockBytes];
    std::memcpy(a, data, halfBytes);
    const uint64_t registers = n + 1;
    for (uint64_t i = 1; i <= 6 * registers; ++i) {
        uint8_t* rj = data + ((i - 1) % registers + 1) * halfBytes;
        std::memcpy(block, a, halfBytes);
        std::memcpy(block + halfBytes, rj, halfBytes);
        Encrypt(ctx, block);
        std::memcpy(rj, block, halfBytes);
        std::memcpy(a, block + halfBytes, halfBytes);
        StoreLE64(a, LoadLE64(a) ^ i);
    }
    std::memcpy(data, a, halfBytes);
    return 1;
}

extern "C" int DSTU7624UnwrapKey(uint8_t* data, CRYPTO_BIT_LENGTH(bits), int removePadding, CryptoBitLength* resultBits,
                                 DSTU7624Context* ctx)
{
    if (!Has(ctx, kKeyed)) return 0;
    const uint64_t wrapped = CryptoJoinBitLength(bitsLow, bitsHigh);
    const uint32_t bw = ctx->blockWords;
    const uint32_t blockBytes = bw * 8;
    const uint64_t blockBits = uint64_t(bw) * 64;
    const uint64_t halfBits = blockBits / 2;
    const uint32_t halfBytes = blockBytes / 2;
    if (wrapped % blockBits != 0 || wrapped < 2 * blockBits) return 0;

    const uint64_t registers = wrapped / halfBits - 1;
    uint8_t a[kMaxBlockBytes / 2];
    uint8_t block[kMaxBlockBytes];
    std::memcpy(a, data, halfBytes);
    for (uint64_t t = 6 * registers; t >= 1; --t) {
        uint8_t* rj = data + ((t - 1) % registers + 1) * halfBytes;
        StoreLE64(a, LoadLE64(a) ^ t);
        std::memcpy(block, rj, halfBytes);
        std::memcpy(block + halfBytes, a, halfBytes);
        Decrypt(ctx, block);
        std::memcpy(rj, block + halfBytes, halfBytes);
        std::memcpy(a, block, halfBytes);
    }
    std::memcpy(data, a, halfBytes);

    const uint64_t totalBytes = wrapped / 8;
    // Unverified key material never stays behind in the caller's buffer.
    const auto refuse = [&]() {
        Wipe(data, totalBytes);
        return 0;
    };

    const uint8_t* check = data + totalBytes - blockBytes;
    uint8_t any = 0;
    for (uint32_t i = 0; i < blockBytes; ++i) any |= check[i];
    if (any) return refuse();

    CryptoStoreBitLength(resultBits, wrapped - blockBits);
    if (!removePadding) return 1;

    const uint64_t q = wrapped >= 3 * blockBits ? 2 : 1;
    uint8_t scratch[2 * kMaxBlockBytes];
    std::memcpy(scratch, data + (wrapped - (q + 1) * blockBits) / 8, q * blockBytes);
    uint64_t p;
    if (!DSTU7624RemovePadding(scratch, q * blockBits, &p, bw)) return refuse();
    // LEN must lie wholly inside the scratch: a padding bit before bit B/2
    // would make it start in front of it.
    if (p < halfBits) return refuse();
    uint8_t len[kMaxBlockBytes / 2];
    DSTU7624ExtractTrailingBits(scratch, p, len, static_cast<uint32_t>(halfBits));
    for (uint32_t w = 1; w < halfBytes / 8; ++w) {
        if (LoadLE64(len + 8 * w) != 0) return refuse();
    }
    const uint64_t s = p - halfBits;
    const uint64_t messageBits = s + wrapped - (q + 1) * blockBits;
    if (LoadLE64(len) != messageBits) return refuse();
    CryptoStoreBitLength(resultBits, messageBits);
    if (messageBits % 8) data[messageBits / 8] &= HighMask(messageBits % 8);
    return 1;
}
