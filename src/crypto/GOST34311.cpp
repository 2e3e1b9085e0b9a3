// GOST 34.311-95 hash over GOST 28147-89.

#include "crypto/GOST34311.h"
#include "crypto/SecureWipe.h"

#include <cstdlib>
#include <cstring>

#include "crypto/CpuFeatures.h"
#include "crypto/GOST28147Core.h"
#include "crypto/GOST34311Vector.h"

using namespace gost28147core;

namespace {

using qvkcrypto::LoadLE16;

// C3 of the key generation as four little-endian 64-bit words (C2 = C4 = 0).
constexpr uint64_t kC3[4] = {0xFF00FF00FF00FF00ull, 0x00FF00FF00FF00FFull, 0xFF0000FF00FFFF00ull,
                             0xFF00FFFF000000FFull};

void Load256(uint64_t* w, const uint8_t* p)
{
    for (int i = 0; i < 4; ++i) w[i] = LoadLE64(p + 8 * i);
}

void Store256(uint8_t* p, const uint64_t* w)
{
    for (int i = 0; i < 4; ++i) StoreLE64(p + 8 * i, w[i]);
}

// A: shift by one 64-bit word towards the low end; the new top word is y1 xor y2.
inline void TransformA(uint64_t* y)
{
    const uint64_t top = y[0] ^ y[1];
    y[0] = y[1];
    y[1] = y[2];
    y[2] = y[3];
    y[3] = top;
}

// P: key byte i + 4k is W byte 8i + k; so key word k gathers byte k of each
// of the four 64-bit words of W.
inline void TransformP(uint32_t* key, const uint64_t* w)
{
    for (int k = 0; k < 8; ++k) {
        const unsigned s = 8 * k;
        key[k] = static_cast<uint32_t>((w[0] >> s) & 0xFF) | static_cast<uint32_t>((w[1] >> s) & 0xFF) << 8 |
                 static_cast<uint32_t>((w[2] >> s) & 0xFF) << 16 | static_cast<uint32_t>((w[3] >> s) & 0xFF) << 24;
    }
}

// psi^n over sixteen 16-bit words held in x[0..15]; x must have room for
// 16 + n words, and the result is x[n..n+15]. Each new word is the xor of
// words 1, 2, 3, 4, 13 and 16 (counted from 1) of the previous state.
inline void Psi(uint16_t* x, int n)
{
    for (int k = 0; k < n; ++k) x[16 + k] = x[k] ^ x[k + 1] ^ x[k + 2] ^ x[k + 3] ^ x[k + 12] ^ x[k + 15];
}

constexpr uint32_t kBlockBytes = 32;

void AbsorbBlock(GOST34311Context* c, const uint8_t* block)
{
    GOST34311Step(c->H, block, c);
    GOST34311Add256(c->checksum, block);
}

inline void Wipe(void* p, size_t n)
{
    qvkcrypto::SecureWipe(p, n);
}

}  // namespace

extern "C" void GOST34311Add256(uint8_t* a, const uint8_t* b)
{
    uint32_t carry = 0;
    for (int i = 0; i < 8; ++i) {
        const uint64_t s = uint64_t(LoadLE32(a + 4 * i)) + LoadLE32(b + 4 * i) + carry;
        StoreLE32(a + 4 * i, static_cast<uint32_t>(s));
        carry = static_cast<uint32_t>(s >> 32);
    }
}

extern "C" void GOST34311MixPsi(uint8_t* H, const uint8_t* M, const uint8_t* S)
{
    if (qvkcrypto::VectorPathAvailable()) {
        qvkcrypto::GOST34311MixPsiVector(H, M, S);
        qvkcrypto::ScrubStackSmall();
        return;
    }
    uint16_t x[16 + 61];
    for (int i = 0; i < 16; ++i) x[i] = LoadLE16(S + 2 * i);
    Psi(x, 12);
    uint16_t y[16 + 1];
    for (int i = 0; i < 16; ++i) y[i] = x[12 + i] ^ LoadLE16(M + 2 * i);
    Psi(y, 1);
    for (int i = 0; i < 16; ++i) x[i] = y[1 + i] ^ LoadLE16(H + 2 * i);
    Psi(x, 61);
    for (int i = 0; i < 16; ++i) {
        H[2 * i] = static_cast<uint8_t>(x[61 + i]);
        H[2 * i + 1] = static_cast<uint8_t>(x[61 + i] >> 8);
    }
    Wipe(x, sizeof x);
    Wipe(y, sizeof y);
}

extern "C" void GOST34311Step(uint8_t* H, const uint8_t* M, GOST34311Context* context)
{
    // Key generation: K1 from H xor M, then three more with A applied to U
    // once and to V twice per key, and C3 added before the third.
    if (qvkcrypto::VectorPathAvailable()) {
        qvkcrypto::GOST34311StepsVector(context, H, M, 1, nullptr);
        qvkcrypto::ClearVectorRegisters();
        qvkcrypto::ScrubStackSmall();
        return;
    }
    uint32_t keys[4][8];
    {
        uint64_t u[4], v[4], w[4];
        Load256(u, H);
        Load256(v, M);
        for (int i = 0; i < 4; ++i) w[i] = u[i] ^ v[i];
        TransformP(keys[0], w);
        for (int j = 1; j < 4; ++j) {
            TransformA(u);
            if (j == 2)
                for (int i = 0; i < 4; ++i) u[i] ^= kC3[i];
            TransformA(v);
            TransformA(v);
            for (int i = 0; i < 4; ++i) w[i] = u[i] ^ v[i];
            TransformP(keys[j], w);
        }
        Store256(context->U, u);
        Store256(context->V, v);
        Store256(context->W, w);
        Wipe(u, sizeof u);
        Wipe(v, sizeof v);
        Wipe(w, sizeof w);
    }
    std::memcpy(context->stepKeys, keys[3], sizeof context->stepKeys);

    // Encryption: word h_i of H under K_i, the four at once.
    uint32_t n[8];
    for (int i = 0; i < 8; ++i) n[i] = LoadLE32(H + 4 * i);
    Encrypt4(n, keys[0], keys[1], keys[2], keys[3], context->expandedSBox.tables);
    for (int i = 0; i < 8; ++i) StoreLE32(context->S + 4 * i, n[i]);
    // The step keys come from H and M: from a password, in a login.
    Wipe(keys, sizeof keys);
    Wipe(n, sizeof n);

    GOST34311MixPsi(H, M, context->S);
}

extern "C" GOST34311Context* GOST34311CreateContext(void)
{
    return static_cast<GOST34311Context*>(std::calloc(1, sizeof(GOST34311Context)));
}

extern "C" void GOST34311FreeContext(GOST34311Context* context)
{
    if (!context) return;
    Wipe(context, sizeof *context);
    std::free(context);
}

extern "C" int GOST34311SetParameter(GOST34311Context* context, const void* value, uint32_t type)
{
    switch (type) {
    case GOST34311_SBOX:
        GOST28147ExpandSBox(value, &context->expandedSBox);
        context->flags |= GOST34311_FLAG_SBOX;
        return 1;
    case GOST34311_START_VECTOR:
        context->bufferedCount = 0;
        std::memset(context->bitLength, 0, sizeof context->bitLength);
        std::memset(context->checksum, 0, sizeof context->checksum);
        std::memset(context->U, 0, sizeof context->U);
        std::memset(context->V, 0, sizeof context->V);
        std::memset(context->W, 0, sizeof context->W);
        std::memset(context->S, 0, sizeof context->S);
        std::memset(context->blockBuffer, 0, sizeof context->blockBuffer);
        std::memset(context->stepKeys, 0, sizeof context->stepKeys);
        if (value)
            std::memcpy(context->H, value, sizeof context->H);
        else
            std::memset(context->H, 0, sizeof context->H);
        // A finished hash stays readable; only the absorption starts afresh.
        context->flags &= ~uint32_t(GOST34311_FLAG_ABSORBED);
        return 1;
    default:
        return 0;
    }
}

extern "C" int GOST34311GetParameter(GOST34311Context* context, void* value, uint32_t type)
{
    if (type != GOST34311_HASH || !(context->flags & GOST34311_FLAG_HASH_READY)) return 0;
    std::memcpy(value, context->H, sizeof context->H);
    context->flags &= ~uint32_t(GOST34311_FLAG_HASH_READY);
    return 1;
}

extern "C" int GOST34311UpdateHash(const void* data, uint32_t length, GOST34311Context* context)
{
    if (!(context->flags & GOST34311_FLAG_SBOX) || (context->flags & GOST34311_FLAG_HASH_READY)) return 0;

    if (length == 0) {
        // Keys set up with an empty password were registered with the value
        // this produces: a single empty update on a fresh context steps once
        // over the (zero) block buffer, so the empty password does not hash
        // to the standard's empty-message value. That is kept for them. Once
        // anything has been absorbed an empty update adds nothing, so a
        // message split with empty pieces hashes like the whole message.
        if (!(context->flags & GOST34311_FLAG_ABSORBED)) {
            AbsorbBlock(context, context->blockBuffer);
            context->flags |= GOST34311_FLAG_ABSORBED;
        }
        return 1;
    }
    context->flags |= GOST34311_FLAG_ABSORBED;

    const uint8_t* p = static_cast<const uint8_t*>(data);
    uint64_t bits = (uint64_t(context->bitLength[1]) << 32) | context->bitLength[0];
    bits += uint64_t(length) * 8;
    context->bitLength[0] = static_cast<uint32_t>(bits);
    context->bitLength[1] = static_cast<uint32_t>(bits >> 32);

    if (context->bufferedCount != 0) {
        const uint32_t room = kBlockBytes - context->bufferedCount;
        if (length < room) {
            std::memcpy(context->blockBuffer + context->bufferedCount, p, length);
            context->bufferedCount += length;
            return 1;
        }
        std::memcpy(context->blockBuffer + context->bufferedCount, p, room);
        AbsorbBlock(context, context->blockBuffer);
        std::memset(context->blockBuffer, 0, sizeof context->blockBuffer);
        context->bufferedCount = 0;
        p += room;
        length -= room;
    }
    if (length >= kBlockBytes && qvkcrypto::VectorPathAvailable()) {
        // Whole blocks in one register-resident run; the registers and the
        // stack hold the chaining value and the step keys until cleared.
        const uint32_t blocks = length / kBlockBytes;
        qvkcrypto::GOST34311StepsVector(context, context->H, p, blocks, context->checksum);
        qvkcrypto::ClearVectorRegisters();
        qvkcrypto::ScrubStackSmall();
        p += size_t(blocks) * kBlockBytes;
        length -= blocks * kBlockBytes;
    }
    for (; length >= kBlockBytes; length -= kBlockBytes, p += kBlockBytes) AbsorbBlock(context, p);
    if (length != 0) {
        std::memcpy(context->blockBuffer, p, length);
        context->bufferedCount = length;
    }
    return 1;
}

extern "C" int GOST34311FinishHash(uint32_t bits, GOST34311Context* context)
{
    if (!(context->flags & GOST34311_FLAG_SBOX) || (context->flags & GOST34311_FLAG_HASH_READY)) return 0;
    if (context->bufferedCount != 0) AbsorbBlock(context, context->blockBuffer);
    if (bits != 0) {
        uint64_t total = (uint64_t(context->bitLength[1]) << 32) | context->bitLength[0];
        total -= bits;
        context->bitLength[0] = static_cast<uint32_t>(total);
        context->bitLength[1] = static_cast<uint32_t>(total >> 32);
    }
    uint8_t lengthBlock[kBlockBytes];
    for (int i = 0; i < 8; ++i) StoreLE32(lengthBlock + 4 * i, context->bitLength[i]);
    GOST34311Step(context->H, lengthBlock, context);
    GOST34311Step(context->H, context->checksum, context);
    context->flags |= GOST34311_FLAG_HASH_READY;
    return 1;
}
