// DSTU 7624:2014 cipher block chaining and its bit padding.
#include "crypto/DSTU7624Modes.h"

#include <cstring>

#include "crypto/DSTU7624Bulk.h"
#include "crypto/DSTU7624ModesInternal.h"

using namespace qvkcrypto::dstu7624modes;

extern "C" void DSTU7624PadBlock(uint8_t* buffer, uint64_t bits, uint32_t blockWords)
{
    const uint64_t blockBits = uint64_t(blockWords) * 64;
    const uint64_t r = bits % blockBits;
    if (r == 0) return;
    uint8_t* block = buffer + (bits / blockBits) * blockWords * 8;
    const uint32_t at = static_cast<uint32_t>(r / 8);
    const uint32_t keep = static_cast<uint32_t>(r % 8);
    block[at] = static_cast<uint8_t>((block[at] & HighMask(keep)) | (0x80u >> keep));
    std::memset(block + at + 1, 0, blockWords * 8 - at - 1);
}

extern "C" int DSTU7624EncryptCBC(uint8_t* data, CRYPTO_BIT_LENGTH(bits), CRYPTO_BIT_LENGTH(paddedBits),
                                  DSTU7624Context* ctx)
{
    if (!Has(ctx, kKeyedIv)) return 0;
    const uint64_t length = CryptoJoinBitLength(bitsLow, bitsHigh);
    if (length == 0) return 1;
    const uint32_t bw = ctx->blockWords;
    const uint32_t blockBytes = bw * 8;
    const uint64_t blockBits = uint64_t(bw) * 64;
    const uint64_t blocks = (length + blockBits - 1) / blockBits;
    if (CryptoJoinBitLength(paddedBitsLow, paddedBitsHigh) != blocks * blockBits) return 0;
    if (length % blockBits) DSTU7624PadBlock(data, length, bw);
    const uint8_t* chain = Bytes(ctx->iv);
    for (uint64_t i = 0; i < blocks; ++i, data += blockBytes) {
        XorBytes(data, chain, blockBytes);
        Encrypt(ctx, data);
        chain = data;
    }
    return 1;
}

extern "C" int DSTU7624RemovePadding(uint8_t* data, uint64_t totalBits, uint64_t* position, uint32_t blockWords)
{
    if (blockWords == 0) return 0;
    const uint64_t blockBits = uint64_t(blockWords) * 64;
    if (totalBits % blockBits != 0 || totalBits == 0) return 0;
    const uint64_t lastBlock = totalBits / blockBits - 1;
    uint8_t* block = data + lastBlock * blockWords * 8;
    for (int32_t byte = static_cast<int32_t>(blockWords * 8) - 1; byte >= 0; --byte) {
        const uint8_t v = block[byte];
        if (v == 0) continue;
        uint32_t bit = 0;  // lowest set bit of the byte
        while (!((v >> bit) & 1u)) ++bit;
        block[byte] = static_cast<uint8_t>(v & ~(1u << bit));
        *position = lastBlock * blockBits + 8 * uint64_t(byte) + (7 - bit);
        return 1;
    }
    return 0;
}

extern "C" int DSTU7624DecryptCBC(uint8_t* data, CRYPTO_BIT_LENGTH(bits), int removePadding,
                                  CryptoBitLength* resultBits, DSTU7624Context* ctx)
{
    if (!Has(ctx, kKeyedIv)) return 0;
    const uint64_t length = CryptoJoinBitLength(bitsLow, bitsHigh);
    if (length == 0) return 1;
    const uint32_t bw = ctx->blockWords;
    const uint32_t blockBytes = bw * 8;
    const uint64_t blockBits = uint64_t(bw) * 64;
    if (length % blockBits) return 0;
    uint8_t previous[kMaxBlockBytes], kept[kMaxBlockBytes];
    std::memcpy(previous, ctx->iv, blockBytes);
    uint8_t* p = data;
    uint64_t left = length / blockBits;
    // Whole batches: the ciphertext is kept aside for the chaining, the
    // blocks decrypted together.
    const uint64_t batch = qvkcrypto::DSTU7624BatchBlocks(bw);
    if (left >= batch && qvkcrypto::DSTU7624BulkUsable(ctx, true)) {
        constexpr uint32_t kChunk = 32768;  // one key preparation (and wiping) per chunk: at 8 KiB these cost a quarter
        uint64_t ciphertext[kChunk / 8];
        const uint64_t chunkBlocks = kChunk / blockBytes;
        while (left >= batch) {
            const uint64_t n = (left < chunkBlocks ? left : chunkBlocks) / batch * batch;
            const size_t bytes = static_cast<size_t>(n * blockBytes);
            std::memcpy(ciphertext, p, bytes);
            qvkcrypto::DSTU7624BulkDecrypt(ctx, p, n);
            XorBytes(p, previous, blockBytes);
            // Eight words at a time in vector registers: word by word the
            // chaining took about a tenth of a chunk's time.
            qvkcrypto::DSTU7624BulkXor(p + blockBytes, ciphertext, (bytes - blockBytes) / 8);
            std::memcpy(previous, reinterpret_cast<const uint8_t*>(ciphertext) + bytes - blockBytes, blockBytes);
            p += bytes;
            left -= n;
        }
        Wipe(ciphertext, sizeof ciphertext);
    }
    for (uint64_t i = left; i; --i, p += blockBytes) {
        std::memcpy(kept, p, blockBytes);
        Decrypt(ctx, p);
        XorBytes(p, previous, blockBytes);
        std::memcpy(previous, kept, blockBytes);
    }
    CryptoStoreBitLength(resultBits, length);
    if (!removePadding) return 1;
    uint64_t position;
    if (!DSTU7624RemovePadding(data + (length - blockBits) / 8, blockBits, &position, bw)) return 0;
    CryptoStoreBitLength(resultBits, length - blockBits + position);
    return 1;
}
