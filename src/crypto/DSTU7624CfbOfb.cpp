// DSTU 7624:2014 cipher feedback and output feedback modes.
#include "crypto/DSTU7624Modes.h"

#include <cstring>

#include "crypto/DSTU7624ModesInternal.h"

using namespace qvkcrypto::dstu7624modes;

extern "C" void DSTU7624ExtractTrailingBits(const uint8_t* source, uint64_t totalBits, uint8_t* destination,
                                            uint32_t count)
{
    if (count == 0) return;
    const uint64_t start = totalBits - count;
    const uint64_t first = start / 8;
    const uint32_t shift = static_cast<uint32_t>(start % 8);
    const uint64_t sourceEnd = Ceil8(totalBits);  // bytes that may be read
    const uint32_t bytes = static_cast<uint32_t>(Ceil8(count));
    for (uint32_t j = 0; j < bytes; ++j) {
        unsigned v = static_cast<unsigned>(source[first + j]) << shift;
        if (shift && first + j + 1 < sourceEnd) v |= source[first + j + 1] >> (8 - shift);
        destination[j] = static_cast<uint8_t>(v);
    }
    if (count % 8) destination[bytes - 1] &= HighMask(count % 8);
}

extern "C" int DSTU7624EncryptOFB(uint8_t* data, CRYPTO_BIT_LENGTH(bits), DSTU7624Context* ctx)
{
    if (!Has(ctx, kKeyedIv)) return 0;
    uint64_t length = CryptoJoinBitLength(bitsLow, bitsHigh);
    if (length == 0) return 1;
    const uint32_t bw = ctx->blockWords;
    const uint32_t blockBytes = bw * 8;
    const uint32_t blockBits = bw * 64;
    const uint32_t g = ctx->gammaBitsLeft;

    if (g != 0) {
        DSTU7624ExtractTrailingBits(Bytes(ctx->iv), blockBits, Bytes(ctx->gamma), g);
        const uint64_t u = length >= g ? g : length;
        XorBits(data, Bytes(ctx->gamma), u);
        ctx->gammaBitsLeft = length < g ? static_cast<uint32_t>(g - u) : 0;
        length -= u;
        if (length == 0) return 1;
        data += Ceil8(u);
    }

    for (uint64_t i = length / blockBits; i; --i, data += blockBytes) {
        Encrypt(ctx, Bytes(ctx->iv));
        for (uint32_t w = 0; w < bw; ++w) StoreLE64(data + 8 * w, LoadLE64(data + 8 * w) ^ ctx->iv[w]);
    }

    const uint32_t r = static_cast<uint32_t>(length % blockBits);
    ctx->gammaBitsLeft = r ? blockBits - r : 0;
    if (r == 0) return 1;
    Encrypt(ctx, Bytes(ctx->iv));
    XorBits(data, Bytes(ctx->iv), r);
    return 1;
}

extern "C" int DSTU7624DecryptOFB(uint8_t* data, CRYPTO_BIT_LENGTH(bits), DSTU7624Context* ctx)
{
    return DSTU7624EncryptOFB(data, bitsLow, bitsHigh, ctx);
}

namespace {

int Cfb(uint8_t* data, uint64_t length, uint32_t s, DSTU7624Context* ctx, bool encrypting)
{
    if (!Has(ctx, kKeyedIv)) return 0;
    const uint32_t bw = ctx->blockWords;
    const uint32_t blockBytes = bw * 8;
    const uint32_t blockBits = bw * 64;
    if (s > blockBits) return 0;
    if (s != 1 && s != 8 && s != 64 && s != 128 && s != 256 && s != 512) return 0;
    uint8_t* reg = Bytes(ctx->iv);

    if (s == 1) {
        // One block encryption per bit; the register's last bit is the gamma
        // and takes the ciphertext bit. Spare bits of a last byte are kept.
        for (uint64_t i = 0; i < length; ++i) {
            Encrypt(ctx, reg);
            const uint32_t bit = 7 - static_cast<uint32_t>(i % 8);
            uint8_t& byte = data[i / 8];
            const unsigned in = (byte >> bit) & 1u;
            const unsigned out = in ^ (reg[blockBytes - 1] & 1u);
            byte = static_cast<uint8_t>((byte & ~(1u << bit)) | (out << bit));
            reg[blockBytes - 1] = static_cast<uint8_t>((reg[blockBytes - 1] & 0xFEu) | (encrypting ? out : in));
        }
        return 1;
    }

    const uint32_t segBytes = s / 8;
    uint8_t* tail = reg + blockBytes - segBytes;
    const uint64_t segments = length / s;
    for (uint64_t i = 0; i < segments; ++i, data += segBytes) {
        Encrypt(ctx, reg);
        if (segBytes == 1) {
            const uint8_t in = data[0];
            const uint8_t out = static_cast<uint8_t>(in ^ tail[0]);
            data[0] = out;
            tail[0] = encrypting ? out : in;
        } else {
            for (uint32_t w = 0; w < segBytes; w += 8) {
                const uint64_t in = LoadLE64(data + w);
                const uint64_t out = in ^ LoadLE64(tail + w);
                StoreLE64(data + w, out);
                StoreLE64(tail + w, encrypting ? out : in);
            }
        }
    }
    const uint32_t t = static_cast<uint32_t>(length % s);
    if (t) {
        // A last partial segment: gamma from the trailing t bits, no feedback.
        uint8_t gamma[kMaxBlockBytes];
        Encrypt(ctx, reg);
        DSTU7624ExtractTrailingBits(reg, blockBits, gamma, t);
        XorBits(data, gamma, t);
    }
    return 1;
}

}  // namespace

extern "C" int DSTU7624EncryptCFB(uint8_t* data, CRYPTO_BIT_LENGTH(bits), uint32_t feedbackBits, DSTU7624Context* ctx)
{
    return Cfb(data, CryptoJoinBitLength(bitsLow, bitsHigh), feedbackBits, ctx, true);
}

extern "C" int DSTU7624DecryptCFB(uint8_t* data, CRYPTO_BIT_LENGTH(bits), uint32_t feedbackBits, DSTU7624Context* ctx)
{
    return Cfb(data, CryptoJoinBitLength(bitsLow, bitsHigh), feedbackBits, ctx, false);
}
