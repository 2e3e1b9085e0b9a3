#include "KeyCrypto.h"
#include "crypto/SecureWipe.h"

#include <openssl/rand.h>

#include <cstring>

#include "crypto/DSTU7564.h"
#include "crypto/DSTU7624Modes.h"
#include "crypto/GOST28147.h"
#include "crypto/GOST34311.h"

namespace keyemu::kc {

const uint8_t kDefaultSBox[64] = {0x8a, 0x09, 0xcd, 0x46, 0x9e, 0x6b, 0x74, 0xb5, 0x2f, 0x31, 0x13, 0xfc, 0x57,
                                  0xe0, 0xa8, 0xd2, 0x3f, 0x86, 0xd5, 0x98, 0x6e, 0xbb, 0xfa, 0x04, 0x2c, 0x50,
                                  0xc3, 0xa7, 0x42, 0xe9, 0x11, 0x7d, 0x2f, 0x88, 0x9e, 0x79, 0x57, 0xf2, 0x00,
                                  0xbd, 0xcc, 0x16, 0xd1, 0xe5, 0xab, 0x34, 0x63, 0x4a, 0x13, 0x28, 0x3b, 0xe5,
                                  0x66, 0xd4, 0xbe, 0x8a, 0xf2, 0xac, 0xc1, 0x57, 0x79, 0x9f, 0x0d, 0x40};

void Wipe(void* p, size_t n)
{
    qvkcrypto::SecureWipe(p, n);
}

bool GostEcb(const uint8_t key[32], const uint8_t sbox[64], uint8_t* data, size_t blocks, bool encrypt)
{
    GOST28147Context ctx;
    std::memset(&ctx, 0, sizeof ctx);
    bool ok = GOST28147SetParameter(&ctx, sbox, GOST28147_SBOX) && GOST28147SetParameter(&ctx, key, GOST28147_KEY);
    if (ok) {
        ok = encrypt ? GOST28147EncryptECB(data, static_cast<uint32_t>(blocks), &ctx)
                     : GOST28147DecryptECB(data, static_cast<uint32_t>(blocks), &ctx);
    }
    Wipe(&ctx, sizeof ctx);
    return ok;
}

bool GostMac(const uint8_t key[32], const uint8_t sbox[64], const uint8_t* data, size_t length, uint32_t* mac)
{
    GOST28147Context ctx;
    std::memset(&ctx, 0, sizeof ctx);
    bool ok = GOST28147SetParameter(&ctx, sbox, GOST28147_SBOX) && GOST28147SetParameter(&ctx, key, GOST28147_KEY) &&
              GOST28147ComputeMAC(data, static_cast<uint32_t>(length), &ctx) &&
              GOST28147GetParameter(&ctx, mac, GOST28147_MAC);
    Wipe(&ctx, sizeof ctx);
    return ok;
}

namespace {
DSTU7624Context* DstuContext(const uint8_t key[32])
{
    DSTU7624Context* ctx = DSTU7624CreateContext();
    if (!ctx) return nullptr;
    uint32_t bits = 256;
    if (!DSTU7624SetParameter(ctx, &bits, DSTU7624_BLOCK_BITS) ||
        !DSTU7624SetParameter(ctx, &bits, DSTU7624_KEY_BITS) || !DSTU7624SetParameter(ctx, key, DSTU7624_KEY)) {
        DSTU7624FreeContext(ctx);
        return nullptr;
    }
    return ctx;
}
}  // namespace

bool DstuEcb(const uint8_t key[32], uint8_t* data, size_t blocks, bool encrypt)
{
    DSTU7624Context* ctx = DstuContext(key);
    if (!ctx) return false;
    bool ok = encrypt ? DSTU7624EncryptECB(data, static_cast<uint32_t>(blocks), ctx)
                      : DSTU7624DecryptECB(data, static_cast<uint32_t>(blocks), ctx);
    DSTU7624FreeContext(ctx);
    return ok;
}

bool DstuCmac(const uint8_t key[32], const uint8_t* data, size_t bits, size_t macBytes, uint8_t* mac)
{
    DSTU7624Context* ctx = DstuContext(key);
    if (!ctx) return false;
    uint32_t macBits = static_cast<uint32_t>(macBytes * 8);
    uint64_t b = bits;
    bool ok = DSTU7624ComputeCMAC(data, static_cast<uint32_t>(b), static_cast<uint32_t>(b >> 32), ctx) &&
              DSTU7624SetParameter(ctx, &macBits, DSTU7624_MAC_BITS) && DSTU7624GetParameter(ctx, mac, DSTU7624_MAC);
    DSTU7624FreeContext(ctx);
    return ok;
}

bool HashGost(const uint8_t* data, size_t length, uint8_t out[32])
{
    GOST34311Context ctx;
    std::memset(&ctx, 0, sizeof ctx);
    bool ok = GOST34311SetParameter(&ctx, kDefaultSBox, GOST34311_SBOX) &&
              GOST34311SetParameter(&ctx, nullptr, GOST34311_START_VECTOR) &&
              GOST34311UpdateHash(data, static_cast<uint32_t>(length), &ctx) && GOST34311FinishHash(0, &ctx) &&
              GOST34311GetParameter(&ctx, out, GOST34311_HASH);
    Wipe(&ctx, sizeof ctx);
    return ok;
}

bool HashDstu(const uint8_t* data, size_t length, uint8_t out[32])
{
    DSTU7564Context* ctx = DSTU7564CreateContext();
    if (!ctx) return false;
    uint32_t bits = 256;
    uint64_t n = static_cast<uint64_t>(length) * 8;
    bool ok = DSTU7564SetParameter(ctx, &bits, DSTU7564_HASH_BITS) &&
              DSTU7564UpdateHash(data, static_cast<uint32_t>(n), static_cast<uint32_t>(n >> 32), ctx) &&
              DSTU7564FinishHash(ctx) && DSTU7564GetParameter(ctx, out, DSTU7564_HASH);
    DSTU7564FreeContext(ctx);
    return ok;
}

namespace {
template <typename H>
bool LoginValue(const std::string& password, uint8_t out[32], H hash)
{
    uint8_t v[32];
    if (!hash(reinterpret_cast<const uint8_t*>(password.data()), password.size(), v)) return false;
    for (int i = 1; i < 10000; ++i) {
        uint8_t next[32];
        if (!hash(v, 32, next)) return false;
        std::memcpy(v, next, 32);
    }
    std::memcpy(out, v, 32);
    Wipe(v, sizeof v);
    return true;
}
}  // namespace

bool LoginValueOld(const std::string& password, uint8_t out[32])
{
    return LoginValue(password, out, HashGost);
}
bool LoginValueNew(const std::string& password, uint8_t out[32])
{
    return LoginValue(password, out, HashDstu);
}

bool Random(uint8_t* out, size_t length)
{
    return length == 0 || RAND_bytes(out, static_cast<int>(length)) == 1;
}

}  // namespace keyemu::kc
