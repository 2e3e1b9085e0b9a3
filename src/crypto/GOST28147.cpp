// GOST 28147-89: context, block cipher, simple replacement, MAC and the
// gamma modes.

#include "crypto/GOST28147.h"
#include "crypto/SecureWipe.h"

#include <cstdlib>
#include <cstring>

#include "crypto/GOST28147Bulk.h"
#include "crypto/GOST28147Core.h"

using namespace gost28147core;

namespace {

constexpr uint32_t kC1 = 0x01010104;  // added to N4 modulo 2^32 - 1
constexpr uint32_t kC2 = 0x01010101;  // added to N3 modulo 2^32
constexpr uint32_t kKeyAndSBox = GOST28147_FLAG_KEY | GOST28147_FLAG_SBOX;
constexpr uint32_t kReadyForGamma = kKeyAndSBox | GOST28147_FLAG_IV;

inline uint32_t RotateLeft(uint32_t v, unsigned n)
{
    n &= 31;
    return n ? (v << n) | (v >> (32 - n)) : v;
}

// One step of the counters: N3 + C2 modulo 2^32; N4 + C1 modulo 2^32 - 1,
// kept in 1..2^32-1 (an addition that carries out of 32 bits adds one more).
inline void StepCounters(uint32_t& n3, uint32_t& n4)
{
    n3 += kC2;
    const uint32_t before = n4;
    n4 += kC1;
    if (n4 < before) n4 += 1;
}

enum class Gamma { Counter, FeedbackEncrypt, FeedbackDecrypt };

int ApplyGamma(uint8_t* data, uint32_t length, GOST28147Context* c, Gamma mode)
{
    if ((c->flags & kReadyForGamma) != kReadyForGamma) return 0;
    const uint32_t* k = c->key;
    Tables t = c->expandedSBox.tables;
    const bool feedback = mode != Gamma::Counter;

    if (!(c->flags & GOST28147_FLAG_GAMMA_STARTED)) {
        c->leftoverCount = 0;
        std::memset(c->leftover, 0, sizeof c->leftover);
        if (mode == Gamma::Counter) Encrypt(c->gamma[0], c->gamma[1], k, t);
        c->flags |= GOST28147_FLAG_GAMMA_STARTED;
    } else if (c->leftoverCount != 0) {
        const uint32_t a = c->leftoverCount;
        const uint32_t used = length < a ? length : a;
        uint8_t g[8];
        StoreLE32(g, c->gamma[0]);
        StoreLE32(g + 4, c->gamma[1]);
        for (uint32_t j = 0; j < used; ++j) {
            const uint8_t in = data[j];
            const uint8_t out = in ^ c->leftover[j];
            data[j] = out;
            if (feedback) g[8 - a + j] = mode == Gamma::FeedbackEncrypt ? out : in;
        }
        if (feedback) {
            c->gamma[0] = LoadLE32(g);
            c->gamma[1] = LoadLE32(g + 4);
        }
        if (used == a) {
            c->leftoverCount = 0;
        } else {
            std::memmove(c->leftover, c->leftover + used, a - used);
            c->leftoverCount = static_cast<uint8_t>(a - used);
        }
        data += used;
        length -= used;
    }

    uint32_t g0 = c->gamma[0], g1 = c->gamma[1];
    uint32_t blocks = length / 8;

    switch (mode) {
    case Gamma::Counter:
        // Counters are known ahead, so many gamma blocks are made at once.
        {
            const uint32_t bulk = qvkcrypto::GOST28147BulkCounter(data, blocks, k, &c->expandedSBox, g0, g1);
            blocks -= bulk;
            data += 8 * bulk;
        }
        for (; blocks >= 4; blocks -= 4, data += 32) {
            uint32_t n[8];
            for (int i = 0; i < 4; ++i) {
                StepCounters(g0, g1);
                n[2 * i] = g0;
                n[2 * i + 1] = g1;
            }
            Encrypt4(n, k, k, k, k, t);
            for (int i = 0; i < 8; ++i) StoreLE32(data + 4 * i, LoadLE32(data + 4 * i) ^ n[i]);
        }
        for (; blocks > 0; --blocks, data += 8) {
            StepCounters(g0, g1);
            uint32_t n1 = g0, n2 = g1;
            Encrypt(n1, n2, k, t);
            StoreLE32(data, LoadLE32(data) ^ n1);
            StoreLE32(data + 4, LoadLE32(data + 4) ^ n2);
        }
        break;
    case Gamma::FeedbackEncrypt:
        for (; blocks > 0; --blocks, data += 8) {
            Encrypt(g0, g1, k, t);
            g0 ^= LoadLE32(data);
            g1 ^= LoadLE32(data + 4);
            StoreLE32(data, g0);
            StoreLE32(data + 4, g1);
        }
        break;
    case Gamma::FeedbackDecrypt:
        // Each gamma block is the encryption of the previous ciphertext block,
        // all of which are in hand: four at a time.
        for (; blocks >= 4; blocks -= 4, data += 32) {
            uint32_t n[8] = {g0, g1};
            for (int i = 2; i < 8; ++i) n[i] = LoadLE32(data + 4 * (i - 2));
            g0 = LoadLE32(data + 24);
            g1 = LoadLE32(data + 28);
            Encrypt4(n, k, k, k, k, t);
            for (int i = 0; i < 8; ++i) StoreLE32(data + 4 * i, LoadLE32(data + 4 * i) ^ n[i]);
        }
        for (; blocks > 0; --blocks, data += 8) {
            Encrypt(g0, g1, k, t);
            const uint32_t c0 = LoadLE32(data), c1 = LoadLE32(data + 4);
            StoreLE32(data, c0 ^ g0);
            StoreLE32(data + 4, c1 ^ g1);
            g0 = c0;
            g1 = c1;
        }
        break;
    }

    const uint32_t r = length % 8;
    if (r != 0) {
        uint8_t g[8];
        if (mode == Gamma::Counter) {
            StepCounters(g0, g1);
            uint32_t n1 = g0, n2 = g1;
            Encrypt(n1, n2, k, t);
            StoreLE32(g, n1);
            StoreLE32(g + 4, n2);
            for (uint32_t j = 0; j < r; ++j) data[j] ^= g[j];
        } else {
            Encrypt(g0, g1, k, t);
            StoreLE32(g, g0);
            StoreLE32(g + 4, g1);
            uint8_t fb[8];
            std::memcpy(fb, g, 8);
            for (uint32_t j = 0; j < r; ++j) {
                const uint8_t in = data[j];
                const uint8_t out = in ^ g[j];
                data[j] = out;
                fb[j] = mode == Gamma::FeedbackEncrypt ? out : in;
            }
            g0 = LoadLE32(fb);
            g1 = LoadLE32(fb + 4);
        }
        std::memcpy(c->leftover, g + r, 8 - r);
        c->leftoverCount = static_cast<uint8_t>(8 - r);
    }

    c->gamma[0] = g0;
    c->gamma[1] = g1;
    return 1;
}

// Counters after n steps from the encrypted IV (A, B), without stepping n times.
void PositionCounterGamma(GOST28147Context* c, uint64_t offset)
{
    const uint64_t n = offset / 8;
    uint32_t a = c->iv[0], b = c->iv[1];
    Encrypt(a, b, c->key, c->expandedSBox.tables);
    c->gamma[0] = a + static_cast<uint32_t>(n) * kC2;
    if (n == 0) {
        c->gamma[1] = b;
    } else {
        constexpr uint64_t m = 0xFFFFFFFFu;
        const uint64_t v = (b % m + (n % m) * kC1) % m;
        c->gamma[1] = v == 0 ? 0xFFFFFFFFu : static_cast<uint32_t>(v);
    }
    c->leftoverCount = 0;
    std::memset(c->leftover, 0, sizeof c->leftover);
    c->flags |= GOST28147_FLAG_GAMMA_STARTED;
}

}  // namespace

extern "C" GOST28147Context* GOST28147CreateContext(void)
{
    return static_cast<GOST28147Context*>(std::calloc(1, sizeof(GOST28147Context)));
}

extern "C" void GOST28147FreeContext(GOST28147Context* context)
{
    if (!context) return;
    qvkcrypto::SecureWipe(context, sizeof(GOST28147Context));
    std::free(context);
}

extern "C" void GOST28147ExpandSBox(const void* packedSBox, GOST28147ExpandedSBox* table)
{
    // The two nibbles occupy different bits and the rotation is linear, so
    // an entry is the rotated low-nibble part XOR the rotated high-nibble
    // part: 32 rotations per table, the rest a plain XOR the compiler
    // vectorises (login derivations expand the S-box once per hashing).
    const uint8_t* rows = static_cast<const uint8_t*>(packedSBox);
    for (unsigned k = 0; k < 4; ++k) {
        const uint8_t* row = rows + 16 * k;
        uint32_t low[16], high[16];
        for (unsigned v = 0; v < 16; ++v) {
            low[v] = RotateLeft(row[v] & 0x0Fu, 11 + 8 * k);
            high[v] = RotateLeft(row[v] & 0xF0u, 11 + 8 * k);
        }
        for (unsigned h = 0; h < 16; ++h)
            for (unsigned l = 0; l < 16; ++l) table->tables[k][16 * h + l] = low[l] ^ high[h];
    }
}

extern "C" void GOST28147EncryptBlock(uint8_t* block, const uint32_t* key, const GOST28147ExpandedSBox* table)
{
    uint32_t n1 = LoadLE32(block), n2 = LoadLE32(block + 4);
    Encrypt(n1, n2, key, table->tables);
    StoreLE32(block, n1);
    StoreLE32(block + 4, n2);
}

extern "C" void GOST28147DecryptBlock(uint8_t* block, const uint32_t* key, const GOST28147ExpandedSBox* table)
{
    uint32_t n1 = LoadLE32(block), n2 = LoadLE32(block + 4);
    Decrypt(n1, n2, key, table->tables);
    StoreLE32(block, n1);
    StoreLE32(block + 4, n2);
}

extern "C" int GOST28147SetParameter(GOST28147Context* context, const void* value, uint32_t type)
{
    const uint8_t* bytes = static_cast<const uint8_t*>(value);
    switch (type) {
    case GOST28147_KEY:
        for (int i = 0; i < 8; ++i) context->key[i] = LoadLE32(bytes + 4 * i);
        context->flags |= GOST28147_FLAG_KEY;
        return 1;
    case GOST28147_SBOX:
        GOST28147ExpandSBox(value, &context->expandedSBox);
        context->flags |= GOST28147_FLAG_SBOX;
        return 1;
    case GOST28147_IV:
        if ((context->flags & kKeyAndSBox) != kKeyAndSBox) return 0;
        context->iv[0] = context->gamma[0] = LoadLE32(bytes);
        context->iv[1] = context->gamma[1] = LoadLE32(bytes + 4);
        context->flags = (context->flags | GOST28147_FLAG_IV) & ~uint32_t(GOST28147_FLAG_GAMMA_STARTED);
        return 1;
    case GOST28147_GAMMA_OFFSET: {
        if ((context->flags & kReadyForGamma) != kReadyForGamma) return 0;
        uint64_t offset;
        std::memcpy(&offset, value, sizeof offset);
        PositionCounterGamma(context, offset);
        return 1;
    }
    default:
        return 0;
    }
}

extern "C" int GOST28147GetParameter(GOST28147Context* context, void* value, uint32_t type)
{
    uint8_t* out = static_cast<uint8_t*>(value);
    switch (type) {
    case GOST28147_IV:
        if (!(context->flags & GOST28147_FLAG_IV)) return 0;
        StoreLE32(out, context->iv[0]);
        StoreLE32(out + 4, context->iv[1]);
        return 1;
    case GOST28147_MAC:
        if (!(context->flags & GOST28147_FLAG_MAC_READY)) return 0;
        StoreLE32(out, context->mac[0]);
        context->mac[0] = context->mac[1] = 0;
        context->flags &= ~uint32_t(GOST28147_FLAG_MAC_READY);
        return 1;
    default:
        return 0;
    }
}

extern "C" int GOST28147EncryptECB(void* data, uint32_t blocks, GOST28147Context* context)
{
    if ((context->flags & kKeyAndSBox) != kKeyAndSBox) return 0;
    uint8_t* p = static_cast<uint8_t*>(data);
    const uint32_t* k = context->key;
    Tables t = context->expandedSBox.tables;
    const uint32_t bulk = qvkcrypto::GOST28147BulkECB(p, blocks, k, &context->expandedSBox, false);
    blocks -= bulk;
    p += 8 * bulk;
    for (; blocks >= 4; blocks -= 4, p += 32) {
        uint32_t n[8];
        for (int i = 0; i < 8; ++i) n[i] = LoadLE32(p + 4 * i);
        Encrypt4(n, k, k, k, k, t);
        for (int i = 0; i < 8; ++i) StoreLE32(p + 4 * i, n[i]);
    }
    for (; blocks > 0; --blocks, p += 8) GOST28147EncryptBlock(p, k, &context->expandedSBox);
    return 1;
}

extern "C" int GOST28147DecryptECB(void* data, uint32_t blocks, GOST28147Context* context)
{
    if ((context->flags & kKeyAndSBox) != kKeyAndSBox) return 0;
    uint8_t* p = static_cast<uint8_t*>(data);
    const uint32_t* k = context->key;
    Tables t = context->expandedSBox.tables;
    const uint32_t bulk = qvkcrypto::GOST28147BulkECB(p, blocks, k, &context->expandedSBox, true);
    blocks -= bulk;
    p += 8 * bulk;
    for (; blocks >= 4; blocks -= 4, p += 32) {
        uint32_t n[8];
        for (int i = 0; i < 8; ++i) n[i] = LoadLE32(p + 4 * i);
        Decrypt4(n, k, k, k, k, t);
        for (int i = 0; i < 8; ++i) StoreLE32(p + 4 * i, n[i]);
    }
    for (; blocks > 0; --blocks, p += 8) GOST28147DecryptBlock(p, k, &context->expandedSBox);
    return 1;
}

extern "C" int GOST28147ComputeMAC(const void* data, uint32_t length, GOST28147Context* context)
{
    if ((context->flags & kKeyAndSBox) != kKeyAndSBox || (context->flags & GOST28147_FLAG_MAC_READY)) return 0;
    const uint8_t* p = static_cast<const uint8_t*>(data);
    const uint32_t* k = context->key;
    Tables t = context->expandedSBox.tables;
    // The register starts from zero: a fresh context, or one whose MAC was read.
    uint32_t n1 = context->mac[0], n2 = context->mac[1];
    for (uint32_t blocks = length / 8; blocks > 0; --blocks, p += 8) {
        n1 ^= LoadLE32(p);
        n2 ^= LoadLE32(p + 4);
        Mac16(n1, n2, k, t);
    }
    const uint32_t r = length % 8;
    if (r != 0) {
        uint8_t last[8] = {};
        std::memcpy(last, p, r);
        n1 ^= LoadLE32(last);
        n2 ^= LoadLE32(last + 4);
        Mac16(n1, n2, k, t);
    }
    context->mac[0] = n1;
    context->mac[1] = n2;
    context->flags |= GOST28147_FLAG_MAC_READY;
    return 1;
}

extern "C" int GOST28147ApplyCounterGamma(void* data, uint32_t length, GOST28147Context* context)
{
    return ApplyGamma(static_cast<uint8_t*>(data), length, context, Gamma::Counter);
}

extern "C" int GOST28147EncryptCFB(void* data, uint32_t length, GOST28147Context* context)
{
    return ApplyGamma(static_cast<uint8_t*>(data), length, context, Gamma::FeedbackEncrypt);
}

extern "C" int GOST28147DecryptCFB(void* data, uint32_t length, GOST28147Context* context)
{
    return ApplyGamma(static_cast<uint8_t*>(data), length, context, Gamma::FeedbackDecrypt);
}
