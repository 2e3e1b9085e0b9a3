// DSTU 7624:2014 context: variant table, function selection, parameters.
#include "crypto/DSTU7624Modes.h"

#include <cstdlib>
#include <cstring>

#include "crypto/DSTU7624ModesInternal.h"
#include "crypto/DSTUCiphersTables.h"

using namespace qvkcrypto::dstu7624modes;

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

inline uint32_t U32(const void* p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
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
