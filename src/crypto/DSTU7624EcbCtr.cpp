// DSTU 7624:2014 electronic codebook and counter modes.
#include "crypto/DSTU7624Modes.h"

#include <cstring>

#include "crypto/DSTU7624Bulk.h"
#include "crypto/DSTU7624ModesInternal.h"

using namespace qvkcrypto::dstu7624modes;

extern "C" int DSTU7624EncryptECB(uint8_t* data, uint32_t blocks, DSTU7624Context* ctx)
{
    if (!Has(ctx, kKeyed)) return 0;
    const DSTU7624BlockFunction encrypt = ctx->encryptBlock;
    const uint32_t step = ctx->blockWords * 8;
    const uint64_t bulk = qvkcrypto::DSTU7624BulkEncrypt(ctx, data, blocks);
    data += bulk * step;
    for (uint32_t i = static_cast<uint32_t>(bulk); i < blocks; ++i, data += step)
        encrypt(ctx->sBoxes, ctx->tTables, data, ctx->roundKeys);
    return 1;
}

extern "C" int DSTU7624DecryptECB(uint8_t* data, uint32_t blocks, DSTU7624Context* ctx)
{
    if (!Has(ctx, kKeyed)) return 0;
    const DSTU7624BlockFunction decrypt = ctx->decryptBlock;
    const uint32_t step = ctx->blockWords * 8;
    const uint64_t bulk = qvkcrypto::DSTU7624BulkDecrypt(ctx, data, blocks);
    data += bulk * step;
    for (uint32_t i = static_cast<uint32_t>(bulk); i < blocks; ++i, data += step)
        decrypt(ctx->inverseSBoxes, ctx->inverseTTables, data, ctx->decryptionRoundKeys);
    return 1;
}

extern "C" int DSTU7624EncryptCTR(uint8_t* data, CRYPTO_BIT_LENGTH(bits), DSTU7624Context* ctx)
{
    if (!Has(ctx, kKeyedIv)) return 0;
    uint64_t length = CryptoJoinBitLength(bitsLow, bitsHigh);
    if (length == 0) return 1;
    const uint32_t bw = ctx->blockWords;
    const uint32_t blockBytes = bw * 8;
    const uint32_t blockBits = bw * 64;
    const uint32_t g = ctx->gammaBitsLeft;
    uint64_t scratch[8];

    if (g == 0) {
        Encrypt(ctx, Bytes(ctx->iv));
    } else if (g < blockBits) {
        DSTU7624ExtractTrailingBits(Bytes(ctx->gamma), blockBits, Bytes(scratch), g);
        const uint64_t u = length >= g ? g : length;
        XorBits(data, Bytes(scratch), u);
        ctx->gammaBitsLeft = length < g ? static_cast<uint32_t>(g - u) : blockBits;
        length -= u;
        if (length == 0) return 1;
        data += Ceil8(u);
    }

    const DSTU7624BlockFunction encrypt = ctx->encryptBlock;
    const uint64_t bulk = qvkcrypto::DSTU7624BulkCounter(ctx, data, length / blockBits, ctx->iv);
    data += bulk * blockBytes;
    for (uint64_t i = length / blockBits - bulk; i; --i, data += blockBytes) {
        AddToCounter(ctx->iv, bw, 1);
        std::memcpy(scratch, ctx->iv, blockBytes);
        encrypt(ctx->sBoxes, ctx->tTables, Bytes(scratch), ctx->roundKeys);
        for (uint32_t w = 0; w < bw; ++w) StoreLE64(data + 8 * w, LoadLE64(data + 8 * w) ^ scratch[w]);
    }

    const uint32_t r = static_cast<uint32_t>(length % blockBits);
    ctx->gammaBitsLeft = blockBits - r;
    if (r == 0) return 1;
    AddToCounter(ctx->iv, bw, 1);
    std::memcpy(scratch, ctx->iv, blockBytes);
    Encrypt(ctx, Bytes(scratch));
    XorBits(data, Bytes(scratch), r);
    std::memcpy(ctx->gamma, scratch, blockBytes);
    return 1;
}

extern "C" int DSTU7624DecryptCTR(uint8_t* data, CRYPTO_BIT_LENGTH(bits), DSTU7624Context* ctx)
{
    return DSTU7624EncryptCTR(data, bitsLow, bitsHigh, ctx);
}
