// Password-based key derivations of the stand-in cgbase.so over GOST 34.311:
//   - PBKDF2DeriveKey: PBKDF2 (the construction of RFC 8018) with the GOST
//     34.311 HMAC (32-byte blocks) as the pseudo-random function; a password
//     longer than 32 bytes keys the HMAC with its hash, a shorter one is
//     padded with zeros;
//   - PBKDFMACDeriveKey: the same construction keyed always with the GOST
//     34.311 hash of the password.
// Both hash with the given S-box (the default one when null) and a zero start
// vector; the iteration count must be at least 1.
#include <cstdint>
#include <cstring>
#include <vector>

#include "CGExport.h"
#include "crypto/GOST34311.h"
#include "crypto/SecureWipe.h"

namespace {

using qvkcrypto::SecureWipe;

constexpr std::uint8_t kDefaultSBox[64] = {0x8a, 0x09, 0xcd, 0x46, 0x9e, 0x6b, 0x74, 0xb5, 0x2f, 0x31, 0x13, 0xfc, 0x57,
                                           0xe0, 0xa8, 0xd2, 0x3f, 0x86, 0xd5, 0x98, 0x6e, 0xbb, 0xfa, 0x04, 0x2c, 0x50,
                                           0xc3, 0xa7, 0x42, 0xe9, 0x11, 0x7d, 0x2f, 0x88, 0x9e, 0x79, 0x57, 0xf2, 0x00,
                                           0xbd, 0xcc, 0x16, 0xd1, 0xe5, 0xab, 0x34, 0x63, 0x4a, 0x13, 0x28, 0x3b, 0xe5,
                                           0x66, 0xd4, 0xbe, 0x8a, 0xf2, 0xac, 0xc1, 0x57, 0x79, 0x9f, 0x0d, 0x40};

bool Hash(const std::uint8_t* sBox, const std::uint8_t* a, std::size_t aLength, const std::uint8_t* b,
          std::size_t bLength, std::uint8_t out[32])
{
    GOST34311Context ctx;
    std::memset(&ctx, 0, sizeof ctx);
    const bool ok = GOST34311SetParameter(&ctx, sBox, GOST34311_SBOX) &&
                    GOST34311SetParameter(&ctx, nullptr, GOST34311_START_VECTOR) &&
                    GOST34311UpdateHash(a, static_cast<std::uint32_t>(aLength), &ctx) &&
                    GOST34311UpdateHash(b, static_cast<std::uint32_t>(bLength), &ctx) && GOST34311FinishHash(0, &ctx) &&
                    GOST34311GetParameter(&ctx, out, GOST34311_HASH);
    SecureWipe(&ctx, sizeof ctx);
    return ok;
}

bool Hmac(const std::uint8_t* sBox, const std::uint8_t key[32], const std::uint8_t* data, std::size_t length,
          std::uint8_t out[32])
{
    std::uint8_t pad[32], inner[32];
    for (int i = 0; i < 32; ++i) pad[i] = static_cast<std::uint8_t>(key[i] ^ 0x36);
    bool ok = Hash(sBox, pad, 32, data, length, inner);
    for (int i = 0; i < 32; ++i) pad[i] = static_cast<std::uint8_t>(key[i] ^ 0x5C);
    ok = ok && Hash(sBox, pad, 32, inner, 32, out);
    SecureWipe(pad, sizeof pad);
    SecureWipe(inner, sizeof inner);
    return ok;
}

int Derive(const void* password, std::uint32_t passwordLength, const std::uint8_t* salt, std::uint32_t saltLength,
           std::uint32_t iterations, std::uint8_t* key, std::uint32_t keyLength, const void* sBoxArgument,
           bool alwaysHash)
{
    if ((password == nullptr && passwordLength != 0) || (salt == nullptr && saltLength != 0) || key == nullptr ||
        keyLength == 0 || iterations == 0)
        return 0;
    const auto* sBox = sBoxArgument != nullptr ? static_cast<const std::uint8_t*>(sBoxArgument) : kDefaultSBox;
    const auto* p = static_cast<const std::uint8_t*>(password);
    std::uint8_t k[32] = {};
    bool ok = true;
    if (alwaysHash || passwordLength > 32)
        ok = Hash(sBox, p, passwordLength, nullptr, 0, k);
    else if (passwordLength != 0)
        std::memcpy(k, p, passwordLength);
    std::vector<std::uint8_t> block(salt, salt + saltLength);
    block.resize(saltLength + 4);
    std::uint8_t u[32], t[32];
    for (std::uint32_t index = 1, done = 0; ok && done < keyLength; ++index) {
        for (int i = 0; i < 4; ++i) block[saltLength + i] = static_cast<std::uint8_t>(index >> (24 - 8 * i));
        ok = Hmac(sBox, k, block.data(), block.size(), u);
        std::memcpy(t, u, 32);
        for (std::uint32_t n = 1; ok && n < iterations; ++n) {
            ok = Hmac(sBox, k, u, 32, u);
            for (int i = 0; i < 32; ++i) t[i] ^= u[i];
        }
        const std::uint32_t take = keyLength - done < 32 ? keyLength - done : 32;
        if (ok) std::memcpy(key + done, t, take);
        done += take;
    }
    SecureWipe(k, sizeof k);
    SecureWipe(u, sizeof u);
    SecureWipe(t, sizeof t);
    return ok ? 1 : 0;
}

}  // namespace

CG_EXPORT int PBKDF2SelfTest(void)
{
    return 1;
}

CG_EXPORT int PBKDF2DeriveKey(const void* password, std::uint32_t passwordLength, const std::uint8_t* salt,
                              std::uint32_t saltLength, std::uint32_t iterations, std::uint8_t* key,
                              std::uint32_t keyLength, const void* sBox)
{
    try {
        return Derive(password, passwordLength, salt, saltLength, iterations, key, keyLength, sBox, false);
    } catch (...) {
        return 0;
    }
}

CG_EXPORT int PBKDFMACSelfTest(void)
{
    return 1;
}

CG_EXPORT int PBKDFMACDeriveKey(const void* password, std::uint32_t passwordLength, const std::uint8_t* salt,
                                std::uint32_t saltLength, std::uint32_t iterations, std::uint8_t* key,
                                std::uint32_t keyLength, const void* sBox)
{
    try {
        return Derive(password, passwordLength, salt, saltLength, iterations, key, keyLength, sBox, true);
    } catch (...) {
        return 0;
    }
}

CG_SHAPE(PBKDF2SelfTest, CGSelfTestFn);
CG_SHAPE(PBKDF2DeriveKey, CGPBKDFDeriveKeyFn);
CG_SHAPE(PBKDFMACSelfTest, CGSelfTestFn);
CG_SHAPE(PBKDFMACDeriveKey, CGPBKDFDeriveKeyFn);
