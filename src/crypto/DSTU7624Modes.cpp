// DSTU 7624:2014 context, parameters and modes of operation.
#include "crypto/DSTU7624Modes.h"

#include <cstdlib>
#include <cstring>

#include "crypto/ByteOrder.h"
#include "crypto/DSTU7624Bulk.h"
#include "crypto/DSTUCiphersTables.h"
#include "crypto/SecureWipe.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "blocks are read as little-endian 64-bit columns in place");

extern "C" const DSTU7624Variant DSTU7624Variants[5] = {
    {2, 2, 10, 11, DSTU7624ExpandKey128x128, DSTU7624InvertKeys128x128, DSTU7624EncryptBlock128x128,
     DSTU7624DecryptBlock128x128},
    {2, 4, 14, 15, DSTU7624ExpandKey128x256, DSTU7624InvertKeys128x256, DSTU7624EncryptBlock128x256,
     DSTU7624DecryptBlock128x256},
    {4, 4, 14, 15, DSTU7624ExpandKey256x256, DSTU7624InvertKeys256x256, DSTU7624EncryptBlock256x256,
     DSTU7624DecryptBlock256x256},
    {4, 8, 18, 19, DSTU7624ExpandKey256x512, DSTU7624InvertKeys256x512, DSTU7624EncryptBlock256x512,
     DSTU7624DecryptBlock256x512},
    {8, 8, 18, 19, DSTU7624ExpandKey512x512, DSTU7624InvertKeys512x512, DSTU7624EncryptBlock512x512,
     DSTU7624DecryptBlock512x512},
};

namespace {

constexpr uint32_t kMaxBlockBytes = 64;

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

using qvkcrypto::Load64;
using qvkcrypto::Store64;

inline uint32_t U32(const void* p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
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
    for (; i + 8 <= n; i += 8) Store64(data + i, Load64(data + i) ^ Load64(gamma + i));
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

bool IsCmacLength(uint32_t bits)
{
    return bits == 64 || bits == 128 || bits == 256 || bits == 384 || bits == 512;
}

// MAC length rule: never longer than the block; once a CMAC-kind MAC is
// held, only the lengths its tag-length code can express.
bool MacLengthAllowed(const DSTU7624Context* ctx, uint32_t bits)
{
    if (bits > ctx->blockWords * 64) return false;
    if ((ctx->flags & DSTU7624_FLAG_MAC_READY) && ctx->macMode == DSTU7624_MAC_MODE_CMAC) return IsCmacLength(bits);
    return true;
}

// The computed MAC as get type 7 hands it out.
uint32_t ReadMac(const DSTU7624Context* ctx, uint8_t* out)
{
    const uint32_t n = (ctx->macBits + 7) / 8;
    std::memcpy(out, ctx->mac, n);
    if (ctx->macBits % 8) out[n - 1] &= HighMask(ctx->macBits % 8);
    return n;
}

// Counter step: add n to the low half of the block, carries staying inside it.
void AddToCounter(uint64_t* counter, uint32_t blockWords, uint64_t n)
{
    counter[0] += n;
    bool carry = counter[0] < n;
    for (uint32_t j = 1; carry && j < blockWords / 2; ++j) {
        counter[j] += 1;
        carry = counter[j] == 0;
    }
}

const DSTU7624Variant* FindVariant(const DSTU7624Context* ctx)
{
    if (!Has(ctx, DSTU7624_FLAG_BLOCK_SIZE | DSTU7624_FLAG_KEY_SIZE)) return nullptr;
    for (const DSTU7624Variant& v : DSTU7624Variants) {
        if (v.blockWords == ctx->blockWords && v.keyWords == ctx->keyWords) return &v;
    }
    return nullptr;
}

// Runs the four selections in order; on the first empty one clears the
// key-size flag (and the key flag: a key without functions must not be used).
bool Select(DSTU7624Context* ctx)
{
    ctx->expandKey = DSTU7624SelectKeyExpansion(ctx);
    if (ctx->expandKey) {
        ctx->invertKeys = DSTU7624SelectKeyInversion(ctx);
        if (ctx->invertKeys) {
            ctx->encryptBlock = DSTU7624SelectBlockEncryption(ctx);
            if (ctx->encryptBlock) {
                ctx->decryptBlock = DSTU7624SelectBlockDecryption(ctx);
                if (ctx->decryptBlock) return true;
            }
        }
    }
    ctx->flags &= ~static_cast<uint32_t>(DSTU7624_FLAG_KEY_SIZE | DSTU7624_FLAG_KEY);
    return false;
}

// An export image is taken only when it can do no harm: sizes that name
// real buffers, MAC and gamma counts inside the block, no key without a key
// size. A context that imports it may then run every mode safely.
bool ImageIsSound(const DSTU7624Context* image)
{
    const uint32_t f = image->flags;
    if (f & ~0xFFu) return false;
    if (image->macBits > 512 || image->gammaBitsLeft > 512) return false;
    if (image->macMode != DSTU7624_MAC_MODE_GMAC && image->macMode != DSTU7624_MAC_MODE_CMAC) return false;
    if (f & DSTU7624_FLAG_BLOCK_SIZE) {
        const uint32_t bw = image->blockWords;
        if (bw != 2 && bw != 4 && bw != 8) return false;
        if (image->gammaBitsLeft > bw * 64) return false;
        if ((f & DSTU7624_FLAG_MAC_BITS) && image->macBits > bw * 64) return false;
    } else if (f & (DSTU7624_FLAG_KEY_SIZE | DSTU7624_FLAG_KEY | DSTU7624_FLAG_IV | DSTU7624_FLAG_MAC_BITS |
                    DSTU7624_FLAG_MAC_READY | DSTU7624_FLAG_EXPECTED_MAC)) {
        return false;
    }
    if (f & DSTU7624_FLAG_KEY_SIZE) {
        if (image->keyWords != image->blockWords && image->keyWords != 2 * image->blockWords) return false;
    }
    if ((f & DSTU7624_FLAG_KEY) && !(f & DSTU7624_FLAG_KEY_SIZE)) return false;
    return true;
}

}  // namespace

// ===================================================================
// Context and parameters
// ===================================================================

extern "C" DSTU7624Context* DSTU7624CreateContext(void)
{
    DSTU7624Context* ctx = static_cast<DSTU7624Context*>(std::calloc(1, sizeof(DSTU7624Context)));
    if (!ctx) return nullptr;
    std::memcpy(ctx->sBoxes, DSTUDefaultSBoxes, sizeof ctx->sBoxes);
    std::memcpy(ctx->inverseSBoxes, DSTUDefaultInverseSBoxes, sizeof ctx->inverseSBoxes);
    std::memcpy(ctx->tTables, DSTUDefaultTTables, sizeof ctx->tTables);
    std::memcpy(ctx->inverseTTables, DSTUDefaultInverseTTables, sizeof ctx->inverseTTables);
    ctx->flags = DSTU7624_FLAG_SBOXES;
    return ctx;
}

extern "C" void DSTU7624FreeContext(DSTU7624Context* context)
{
    if (!context) return;
    Wipe(context, sizeof(DSTU7624Context));
    std::free(context);
}

extern "C" DSTU7624ExpandKeyFunction DSTU7624SelectKeyExpansion(DSTU7624Context* ctx)
{
    const DSTU7624Variant* v = FindVariant(ctx);
    if (!v) return nullptr;
    ctx->roundKeyCount = v->roundKeyCount;
    return v->expandKey;
}

extern "C" DSTU7624InvertKeysFunction DSTU7624SelectKeyInversion(DSTU7624Context* ctx)
{
    const DSTU7624Variant* v = FindVariant(ctx);
    if (!v) return nullptr;
    ctx->decryptionRoundKeyCount = v->roundKeyCount;
    return v->invertKeys;
}

extern "C" DSTU7624BlockFunction DSTU7624SelectBlockEncryption(DSTU7624Context* ctx)
{
    const DSTU7624Variant* v = FindVariant(ctx);
    return v ? v->encryptBlock : nullptr;
}

extern "C" DSTU7624BlockFunction DSTU7624SelectBlockDecryption(DSTU7624Context* ctx)
{
    const DSTU7624Variant* v = FindVariant(ctx);
    return v ? v->decryptBlock : nullptr;
}

extern "C" int DSTU7624SetParameter(DSTU7624Context* ctx, const void* value, uint32_t type)
{
    switch (type) {
    case DSTU7624_SBOXES:
        std::memcpy(ctx->sBoxes, value, sizeof ctx->sBoxes);
        DSTUBuildCipherTables(ctx->sBoxes, ctx->inverseSBoxes, ctx->tTables, ctx->inverseTTables);
        ctx->flags |= DSTU7624_FLAG_SBOXES;
        return 1;

    case DSTU7624_BLOCK_BITS: {
        const uint32_t words = U32(value) / 64;
        if (words != 2 && words != 4 && words != 8) return 0;
        ctx->blockWords = words;
        ctx->flags = (ctx->flags & DSTU7624_FLAG_SBOXES) | DSTU7624_FLAG_BLOCK_SIZE;
        return 1;
    }

    case DSTU7624_KEY_BITS: {
        if (!Has(ctx, DSTU7624_FLAG_BLOCK_SIZE)) return 0;
        const uint32_t words = U32(value) / 64;
        if (words != ctx->blockWords && words != 2 * ctx->blockWords) return 0;
        ctx->keyWords = words;
        ctx->flags = (ctx->flags & ~static_cast<uint32_t>(DSTU7624_FLAG_KEY)) | DSTU7624_FLAG_KEY_SIZE;
        return Select(ctx) ? 1 : 0;
    }

    case DSTU7624_KEY:
        if (!Has(ctx, DSTU7624_FLAG_SBOXES | DSTU7624_FLAG_BLOCK_SIZE | DSTU7624_FLAG_KEY_SIZE)) return 0;
        std::memcpy(ctx->key, value, ctx->keyWords * 8);
        ctx->expandKey(ctx->tTables, ctx->key, ctx->roundKeys);
        ctx->invertKeys(ctx->roundKeys, ctx->decryptionRoundKeys);
        ctx->gammaBitsLeft = 0;
        ctx->flags |= DSTU7624_FLAG_KEY;
        return 1;

    case DSTU7624_IV:
        if (!Has(ctx, DSTU7624_FLAG_BLOCK_SIZE)) return 0;
        std::memcpy(ctx->iv, value, ctx->blockWords * 8);
        ctx->gammaBitsLeft = 0;
        ctx->flags |= DSTU7624_FLAG_IV;
        return 1;

    case DSTU7624_MAC_BITS: {
        if (!Has(ctx, DSTU7624_FLAG_BLOCK_SIZE)) return 0;
        const uint32_t bits = U32(value);
        if (!MacLengthAllowed(ctx, bits)) return 0;
        ctx->macBits = bits;
        ctx->flags |= DSTU7624_FLAG_MAC_BITS;
        return 1;
    }

    case DSTU7624_MAC:
        if (!Has(ctx, DSTU7624_FLAG_MAC_BITS)) return 0;
        std::memcpy(ctx->expectedMac, value, (ctx->macBits + 7) / 8);
        ctx->flags |= DSTU7624_FLAG_EXPECTED_MAC;
        return 1;

    case DSTU7624_CONTEXT: {
        const DSTU7624Context* image = static_cast<const DSTU7624Context*>(value);
        if (!ImageIsSound(image)) return 0;
        std::memmove(ctx, image, sizeof(DSTU7624Context));
        ctx->expandKey = nullptr;
        ctx->invertKeys = nullptr;
        ctx->encryptBlock = nullptr;
        ctx->decryptBlock = nullptr;
        return Select(ctx) ? 1 : 0;
    }

    case DSTU7624_COUNTER_OFFSET: {
        if (!Has(ctx, DSTU7624_FLAG_SBOXES | DSTU7624_FLAG_BLOCK_SIZE | DSTU7624_FLAG_KEY | DSTU7624_FLAG_IV) ||
            ctx->gammaBitsLeft != 0)
            return 0;
        uint64_t n;
        std::memcpy(&n, value, 8);
        Encrypt(ctx, Bytes(ctx->iv));
        AddToCounter(ctx->iv, ctx->blockWords, n);
        ctx->gammaBitsLeft = ctx->blockWords * 64;
        return 1;
    }

    default:
        return 0;
    }
}

extern "C" int DSTU7624GetParameter(DSTU7624Context* ctx, void* out, uint32_t type)
{
    switch (type) {
    case DSTU7624_BLOCK_BITS: {
        if (!Has(ctx, DSTU7624_FLAG_BLOCK_SIZE)) return 0;
        const uint32_t bits = ctx->blockWords * 64;
        std::memcpy(out, &bits, 4);
        return 1;
    }
    case DSTU7624_KEY_BITS: {
        if (!Has(ctx, DSTU7624_FLAG_KEY_SIZE)) return 0;
        const uint32_t bits = ctx->keyWords * 64;
        std::memcpy(out, &bits, 4);
        return 1;
    }
    case DSTU7624_MAC: {
        if (!Has(ctx, DSTU7624_FLAG_MAC_BITS | DSTU7624_FLAG_MAC_READY)) return 0;
        uint8_t mac[kMaxBlockBytes];
        const uint32_t n = ReadMac(ctx, mac);
        std::memcpy(out, mac, n);
        return 1;
    }
    case DSTU7624_ROUND_KEYS:
        if (!Has(ctx, DSTU7624_FLAG_SBOXES | DSTU7624_FLAG_BLOCK_SIZE | DSTU7624_FLAG_KEY)) return 0;
        std::memcpy(out, ctx->roundKeys, size_t(ctx->roundKeyCount) * ctx->blockWords * 8);
        return 1;
    case DSTU7624_DECRYPTION_ROUND_KEYS:
        if (!Has(ctx, DSTU7624_FLAG_SBOXES | DSTU7624_FLAG_BLOCK_SIZE | DSTU7624_FLAG_KEY)) return 0;
        std::memcpy(out, ctx->decryptionRoundKeys, size_t(ctx->decryptionRoundKeyCount) * ctx->blockWords * 8);
        return 1;
    case DSTU7624_CONTEXT_SIZE: {
        const uint32_t size = sizeof(DSTU7624Context);
        std::memcpy(out, &size, 4);
        return 1;
    }
    case DSTU7624_CONTEXT:
        std::memmove(out, ctx, sizeof(DSTU7624Context));
        return 1;
    default:
        return 0;
    }
}

// ===================================================================
// ECB and CMAC
// ===================================================================

namespace {
constexpr uint32_t kKeyed = DSTU7624_FLAG_SBOXES | DSTU7624_FLAG_BLOCK_SIZE | DSTU7624_FLAG_KEY;
constexpr uint32_t kKeyedIv = kKeyed | DSTU7624_FLAG_IV;
}  // namespace

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
        for (uint32_t w = 0; w < bw; ++w) v[w] ^= Load64(data + 8 * w);
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

// ===================================================================
// CTR, CFB, OFB
// ===================================================================

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
        for (uint32_t w = 0; w < bw; ++w) Store64(data + 8 * w, Load64(data + 8 * w) ^ scratch[w]);
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
        for (uint32_t w = 0; w < bw; ++w) Store64(data + 8 * w, Load64(data + 8 * w) ^ ctx->iv[w]);
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
                const uint64_t in = Load64(data + w);
                const uint64_t out = in ^ Load64(tail + w);
                Store64(data + w, out);
                Store64(tail + w, encrypting ? out : in);
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

// ===================================================================
// CBC and key wrap
// ===================================================================

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
        Store64(len, length);
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
        Store64(a, Load64(a) ^ i);
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
        Store64(a, Load64(a) ^ t);
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
        if (Load64(len + 8 * w) != 0) return refuse();
    }
    const uint64_t s = p - halfBits;
    const uint64_t messageBits = s + wrapped - (q + 1) * blockBits;
    if (Load64(len) != messageBits) return refuse();
    CryptoStoreBitLength(resultBits, messageBits);
    if (messageBits % 8) data[messageBits / 8] &= HighMask(messageBits % 8);
    return 1;
}

// ===================================================================
// GMAC, GCM, CCM
// ===================================================================

namespace {

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

}  // namespace

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
        for (uint32_t w = 0; w < words; ++w) accumulator[w] ^= Load64(data + 8 * w);
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
        for (uint32_t k = 0; k < bw; ++k) x[k] ^= Load64(block + 8 * k);
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

// ===================================================================
// XTS
// ===================================================================

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
    for (uint32_t w = 0; w < words; ++w) Store64(block + 8 * w, Load64(block + 8 * w) ^ tweak[w]);
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

// ===================================================================
// Known-answer self-tests
// ===================================================================
//
// Inputs are slices of one example string (bytes 0x10, 0x11, ... 0xFF) and the
// example key 00 01 ... 3F, laid out like the standard's examples; where a
// vector repeats one of those examples its expected value is the published one.

extern "C" const uint32_t DSTU7624TestBlockBits[5] = {128, 128, 256, 256, 512};
extern "C" const uint32_t DSTU7624TestKeyBits[5] = {128, 256, 256, 512, 512};
extern "C" const uint8_t DSTU7624TestKey[64] = {
    0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F,
    0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F,
    0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2A, 0x2B, 0x2C, 0x2D, 0x2E, 0x2F,
    0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3A, 0x3B, 0x3C, 0x3D, 0x3E, 0x3F,
};

#include "crypto/DSTU7624SelfTestVectors.inc"

bool qvkcrypto::dstu7624SelfTestsBreakCipher = false;

namespace {

constexpr uint8_t kFirstExampleByte = 0x10;

// The S-boxes the self-tests run with: the standard ones, or, when a test
// asks for a broken cipher, pi0 shifted by one place.
const uint8_t* SelfTestSBoxes()
{
    static const auto broken = [] {
        struct {
            uint8_t bytes[DSTU_SBOXES_BYTES];
        } b;
        for (uint32_t i = 0; i < DSTU_SBOXES_BYTES; ++i)
            b.bytes[i] = i < 256 ? DSTUDefaultSBoxes[(i + 1) & 255] : DSTUDefaultSBoxes[i];
        return b;
    }();
    return qvkcrypto::dstu7624SelfTestsBreakCipher ? broken.bytes : DSTUDefaultSBoxes;
}

// Slice of the example string that starts with byte value `first`.
inline const uint8_t* Example(uint8_t first)
{
    return kExampleString + (first - kFirstExampleByte);
}

// Slice starts per variant.
constexpr uint8_t kIvStart[5] = {0x10, 0x20, 0x20, 0x40, 0x40};    // IV, nonce, ECB data, key-wrap data
constexpr uint8_t kDataStart[5] = {0x20, 0x30, 0x40, 0x60, 0x80};  // most data, associated data
constexpr uint8_t kGcmDataStart[5] = {0x30, 0x50, 0x60, 0x80, 0xC0};
constexpr uint8_t kCcmDataStart[5] = {0x30, 0x40, 0x60, 0x80, 0xC0};

struct TestLengths {
    uint32_t ctr, cfb, cfbFeedback, cmac, cbc, ofb, gcm, gcmMac, gcmAssociated, gmac, gmacMac, ccm, ccmMac, ccmWidth,
        ccmAssociated, xts, keyWrap;
};

constexpr TestLengths kLengths[5] = {
    {328, 384, 128, 384, 384, 384, 256, 128, 128, 139, 128, 128, 128, 4, 128, 256, 128},
    {259, 85, 8, 752, 368, 154, 256, 128, 128, 128, 128, 120, 128, 4, 96, 328, 314},
    {641, 648, 128, 570, 768, 648, 512, 128, 256, 256, 128, 512, 128, 4, 256, 520, 648},
    {643, 648, 256, 265, 768, 648, 512, 256, 256, 256, 256, 512, 256, 6, 256, 768, 768},
    {770, 776, 512, 1024, 1024, 776, 512, 512, 512, 512, 512, 512, 512, 8, 512, 1024, 1024},
};

enum class LastByte { Stored, Cleared, Mask, SingleBit };

// Copies ceil(bits/8) bytes and treats a last partial byte as asked.
void Prepare(uint8_t* out, const uint8_t* slice, uint32_t bits, LastByte how)
{
    const uint32_t bytes = (bits + 7) / 8;
    std::memcpy(out, slice, bytes);
    const uint32_t r = bits % 8;
    if (!r) return;
    switch (how) {
    case LastByte::Stored:
        break;
    case LastByte::Cleared:
        out[bytes - 1] &= HighMask(r);
        break;
    case LastByte::Mask:
        out[bytes - 1] = HighMask(r);
        break;
    case LastByte::SingleBit:
        out[bytes - 1] = static_cast<uint8_t>(0x80u >> (r - 1));
        break;
    }
}

// Owns one context for a sub-test and frees it on every path.
class TestContext {
public:
    TestContext() : ctx_(DSTU7624CreateContext())
    {
        if (ctx_ && qvkcrypto::dstu7624SelfTestsBreakCipher)
            DSTU7624SetParameter(ctx_, SelfTestSBoxes(), DSTU7624_SBOXES);
    }
    ~TestContext() { DSTU7624FreeContext(ctx_); }
    TestContext(const TestContext&) = delete;
    TestContext& operator=(const TestContext&) = delete;
    DSTU7624Context* get() const { return ctx_; }

    bool Configure(int v)
    {
        return ctx_ && DSTU7624SetParameter(ctx_, &DSTU7624TestBlockBits[v], DSTU7624_BLOCK_BITS) &&
               DSTU7624SetParameter(ctx_, &DSTU7624TestKeyBits[v], DSTU7624_KEY_BITS) &&
               DSTU7624SetParameter(ctx_, DSTU7624TestKey, DSTU7624_KEY);
    }
    bool SetIv(int v) { return DSTU7624SetParameter(ctx_, Example(kIvStart[v]), DSTU7624_IV) == 1; }
    bool SetMacBits(uint32_t bits) { return DSTU7624SetParameter(ctx_, &bits, DSTU7624_MAC_BITS) == 1; }

private:
    DSTU7624Context* ctx_;
};

inline bool Same(const uint8_t* a, const uint8_t* b, uint32_t n)
{
    return std::memcmp(a, b, n) == 0;
}

bool TestEcb(int v)
{
    TestContext t;
    if (!t.Configure(v)) return false;
    const uint32_t bytes = DSTU7624TestBlockBits[v] / 8;
    uint8_t buf[kMaxBlockBytes];
    std::memcpy(buf, Example(kIvStart[v]), bytes);
    return DSTU7624EncryptECB(buf, 1, t.get()) && Same(buf, kExpectedEcb[v], bytes) &&
           DSTU7624DecryptECB(buf, 1, t.get()) && Same(buf, Example(kIvStart[v]), bytes);
}

bool TestCtr(int v)
{
    const uint32_t L = kLengths[v].ctr;
    const uint32_t bytes = (L + 7) / 8;
    uint8_t buf[192], ref[192];
    Prepare(buf, Example(kDataStart[v]), L, LastByte::Stored);
    Prepare(ref, Example(kDataStart[v]), L, LastByte::Cleared);
    TestContext t;
    if (!t.Configure(v) || !t.SetIv(v)) return false;
    // Byte-aligned pieces must give the stream of one call.
    if (!DSTU7624EncryptCTR(buf, 88, 0, t.get()) || !DSTU7624EncryptCTR(buf + 11, L - 88, 0, t.get()) ||
        !Same(buf, kExpectedCtr[v], bytes))
        return false;
    if (!t.SetIv(v) || !DSTU7624DecryptCTR(buf, 24, 0, t.get()) || !DSTU7624DecryptCTR(buf + 3, L - 24, 0, t.get()) ||
        !Same(buf, ref, bytes))
        return false;
    Prepare(buf, Example(kDataStart[v]), L, LastByte::Stored);
    if (!t.Configure(v) || !t.SetIv(v) || !DSTU7624EncryptCTR(buf, L, 0, t.get()) || !Same(buf, kExpectedCtr[v], bytes))
        return false;
    return t.SetIv(v) && DSTU7624DecryptCTR(buf, 64, 0, t.get()) && DSTU7624DecryptCTR(buf + 8, 16, 0, t.get()) &&
           DSTU7624DecryptCTR(buf + 10, L - 80, 0, t.get()) && Same(buf, ref, bytes);
}

bool TestCfb1()
{
    TestContext t;
    if (!t.Configure(0) || !t.SetIv(0)) return false;
    uint8_t buf[48], copy[48];
    std::memcpy(buf, Example(kDataStart[0]), 48);
    std::memcpy(copy, buf, 48);
    return DSTU7624EncryptCFB(buf, 384, 0, 1, t.get()) && t.SetIv(0) && DSTU7624DecryptCFB(buf, 384, 0, 1, t.get()) &&
           Same(buf, copy, 48);
}

bool TestCfb(int v)
{
    const uint32_t L = kLengths[v].cfb;
    const uint32_t s = kLengths[v].cfbFeedback;
    const uint32_t bytes = (L + 7) / 8;
    uint8_t buf[192], ref[192];
    Prepare(buf, Example(kDataStart[v]), L, LastByte::Stored);
    Prepare(ref, Example(kDataStart[v]), L, LastByte::Cleared);
    TestContext t;
    return t.Configure(v) && t.SetIv(v) && DSTU7624EncryptCFB(buf, L, 0, s, t.get()) &&
           Same(buf, kExpectedCfb[v], bytes) && t.SetIv(v) && DSTU7624DecryptCFB(buf, L, 0, s, t.get()) &&
           Same(buf, ref, bytes);
}

bool TestCmac(int v)
{
    const uint32_t L = kLengths[v].cmac;
    uint8_t buf[192], mac[16];
    Prepare(buf, Example(kDataStart[v]), L, LastByte::SingleBit);
    TestContext t;
    return t.Configure(v) && DSTU7624ComputeCMAC(buf, L, 0, t.get()) && t.SetMacBits(128) &&
           DSTU7624GetParameter(t.get(), mac, DSTU7624_MAC) && t.SetMacBits(128) &&
           DSTU7624SetParameter(t.get(), mac, DSTU7624_MAC) && DSTU7624VerifyCMAC(buf, L, 0, t.get());
}

bool TestOfb(int v)
{
    const uint32_t L = kLengths[v].ofb;
    const uint32_t bytes = (L + 7) / 8;
    uint8_t buf[192], ref[192];
    Prepare(buf, Example(kDataStart[v]), L, LastByte::Mask);
    std::memcpy(ref, buf, bytes);
    TestContext t;
    return t.Configure(v) && t.SetIv(v) && DSTU7624EncryptOFB(buf, 72, 0, t.get()) &&
           DSTU7624EncryptOFB(buf + 9, L - 72, 0, t.get()) && Same(buf, kExpectedOfb[v], bytes) && t.SetIv(v) &&
           DSTU7624DecryptOFB(buf, 32, 0, t.get()) && DSTU7624DecryptOFB(buf + 4, L - 32, 0, t.get()) &&
           Same(buf, ref, bytes);
}

bool TestGcm(int v)
{
    const TestLengths& n = kLengths[v];
    const uint32_t bytes = (n.gcm + 7) / 8;
    const uint8_t* ad = Example(kDataStart[v]);
    uint8_t buf[192], ref[192], mac[64];
    Prepare(buf, Example(kGcmDataStart[v]), n.gcm, LastByte::Stored);
    Prepare(ref, Example(kGcmDataStart[v]), n.gcm, LastByte::Cleared);
    TestContext t;
    return t.Configure(v) && t.SetIv(v) && DSTU7624EncryptGCM(buf, n.gcm, 0, ad, n.gcmAssociated, 0, t.get()) &&
           t.SetMacBits(n.gcmMac) && DSTU7624GetParameter(t.get(), mac, DSTU7624_MAC) &&
           Same(mac, kExpectedGcmMac[v], n.gcmMac / 8) && Same(buf, kExpectedGcm[v], bytes) && t.SetIv(v) &&
           t.SetMacBits(n.gcmMac) && DSTU7624SetParameter(t.get(), mac, DSTU7624_MAC) &&
           DSTU7624DecryptGCM(buf, n.gcm, 0, ad, n.gcmAssociated, 0, t.get()) && Same(buf, ref, bytes);
}

bool TestGmac(int v)
{
    const TestLengths& n = kLengths[v];
    uint8_t buf[192], mac[64];
    Prepare(buf, Example(kDataStart[v]), n.gmac, LastByte::Mask);
    TestContext t;
    return t.Configure(v) && DSTU7624ComputeGMAC(buf, n.gmac, 0, t.get()) && t.SetMacBits(n.gmacMac) &&
           DSTU7624GetParameter(t.get(), mac, DSTU7624_MAC) && Same(mac, kExpectedGmac[v], n.gmacMac / 8) &&
           t.SetMacBits(n.gmacMac) && DSTU7624SetParameter(t.get(), mac, DSTU7624_MAC) &&
           DSTU7624VerifyGMAC(buf, n.gmac, 0, t.get());
}

bool TestCcm(int v)
{
    const TestLengths& n = kLengths[v];
    const uint32_t plain = n.ccm / 8;
    const uint32_t total = plain + n.ccmMac / 8;
    const uint8_t* ad = Example(kDataStart[v]);
    uint8_t buf[192], mac[64];
    std::memcpy(buf, Example(kCcmDataStart[v]), plain);
    TestContext t;
    return t.Configure(v) && t.SetIv(v) && t.SetMacBits(n.ccmMac) &&
           DSTU7624EncryptCCM(buf, plain, total, ad, n.ccmAssociated / 8, n.ccmWidth, t.get()) &&
           t.SetMacBits(n.ccmMac) && DSTU7624GetParameter(t.get(), mac, DSTU7624_MAC) &&
           Same(mac, kExpectedCcmMac[v], n.ccmMac / 8) && Same(buf, kExpectedCcm[v], total) && t.SetIv(v) &&
           t.SetMacBits(n.ccmMac) && DSTU7624DecryptCCM(buf, total, ad, n.ccmAssociated / 8, n.ccmWidth, t.get()) &&
           Same(buf, Example(kCcmDataStart[v]), plain);
}

bool TestXts(int v)
{
    const uint32_t L = kLengths[v].xts;
    const uint32_t bytes = (L + 7) / 8;
    uint8_t buf[192], ref[192];
    Prepare(buf, Example(kDataStart[v]), L, LastByte::Stored);
    Prepare(ref, Example(kDataStart[v]), L, LastByte::Cleared);
    TestContext t;
    return t.Configure(v) && t.SetIv(v) && DSTU7624EncryptXTS(buf, L, 0, t.get()) &&
           Same(buf, kExpectedXts[v], bytes) && t.SetIv(v) && DSTU7624DecryptXTS(buf, L, 0, t.get()) &&
           Same(buf, ref, bytes);
}

inline uint32_t WrappedBits(int v)
{
    const uint32_t B = DSTU7624TestBlockBits[v];
    const uint32_t L = kLengths[v].keyWrap;
    const uint32_t r = L % B;
    return r == 0 ? L + B : B * ((B / 2 + r + B) / B + 1) + L - r;
}

}  // namespace

extern "C" int DSTU7624TestKeySchedule(void)
{
    TestContext t;
    const uint32_t bits = 128;
    uint8_t keys[176];
    return t.get() && DSTU7624SetParameter(t.get(), SelfTestSBoxes(), DSTU7624_SBOXES) &&
                   DSTU7624SetParameter(t.get(), &bits, DSTU7624_BLOCK_BITS) &&
                   DSTU7624SetParameter(t.get(), &bits, DSTU7624_KEY_BITS) &&
                   DSTU7624SetParameter(t.get(), DSTU7624TestKey, DSTU7624_KEY) &&
                   DSTU7624GetParameter(t.get(), keys, DSTU7624_ROUND_KEYS) && Same(keys, kExpectedRoundKeys, 176) &&
                   DSTU7624GetParameter(t.get(), keys, DSTU7624_DECRYPTION_ROUND_KEYS) &&
                   Same(keys, kExpectedDecryptionRoundKeys, 176)
               ? 1
               : 0;
}

extern "C" int DSTU7624TestCBC(int v)
{
    if (v < 0 || v > 4) return 0;
    const uint32_t L = kLengths[v].cbc;
    const uint32_t B = DSTU7624TestBlockBits[v];
    const uint32_t P = (L + B - 1) / B * B;
    uint8_t buf[192], ref[192];
    Prepare(buf, Example(kDataStart[v]), L, LastByte::Stored);
    Prepare(ref, Example(kDataStart[v]), L, LastByte::Cleared);
    TestContext t;
    CryptoBitLength result{};
    return t.Configure(v) && t.SetIv(v) && DSTU7624EncryptCBC(buf, L, 0, P, 0, t.get()) &&
                   Same(buf, kExpectedCbc[v], P / 8) && t.SetIv(v) &&
                   DSTU7624DecryptCBC(buf, P, 0, P != L, &result, t.get()) && result.low == L && result.high == 0 &&
                   Same(buf, ref, (L + 7) / 8)
               ? 1
               : 0;
}

extern "C" int DSTU7624TestKeyWrap(int v)
{
    if (v < 0 || v > 4) return 0;
    const uint32_t L = kLengths[v].keyWrap;
    const uint32_t W = WrappedBits(v);
    uint8_t buf[192], ref[192];
    Prepare(buf, Example(kIvStart[v]), L, LastByte::SingleBit);
    std::memcpy(ref, buf, (L + 7) / 8);
    TestContext t;
    CryptoBitLength result{};
    return t.Configure(v) && DSTU7624WrapKey(buf, L, 0, W, 0, t.get()) && Same(buf, kExpectedKeyWrap[v], W / 8) &&
                   DSTU7624UnwrapKey(buf, W, 0, L % DSTU7624TestBlockBits[v] != 0, &result, t.get()) &&
                   result.low == L && result.high == 0 && Same(buf, ref, (L + 7) / 8)
               ? 1
               : 0;
}

extern "C" int DSTU7624TestModes(void)
{
    if (!DSTU7624TestKeySchedule()) return 0;
    for (int v = 0; v < 5; ++v) {
        if (!TestEcb(v) || !TestCtr(v) || (v == 0 && !TestCfb1()) || !TestCfb(v) || !TestCmac(v) ||
            !DSTU7624TestCBC(v) || !TestOfb(v) || !TestGcm(v) || !TestGmac(v) || !TestCcm(v) || !TestXts(v) ||
            !DSTU7624TestKeyWrap(v))
            return 0;
    }
    return 1;
}
