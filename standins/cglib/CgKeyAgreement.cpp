// Key agreement and key wrapping entries of the stand-in cgbase.so. They are
// built exactly as the key builds them, so that a key wrapped in software
// unwraps on the key and the other way round:
//   - the agreed key is DSTU 7564-256 of x(Z) in (m + 7) / 8 bytes followed by
//     the user keying material, Z = cofactor * d * Q (the key's commands 38
//     and 133);
//   - the 44-byte GOST 28147 wrap: T = U || K || MAC(K), bytes 8..43 of T
//     CFB-encrypted under U, T byte-reversed, then CFB-encrypted under the
//     fixed IV 4A DD A2 2C 79 E8 21 05 (GOST 28147 gamma with feedback, the
//     MAC being the 32-bit GOST 28147 MAC of K with a zero start register);
//   - the 96-byte DSTU 7624 wrap: the same with 32-byte units, DSTU 7624
//     (256-bit block and key) in CFB with 32-byte feedback, the 32-byte CMAC
//     of K, and the fixed IV of eight bytes above four times.
#include <algorithm>
#include <cstring>

#include "CGExport.h"
#include "CgDSTU4145State.h"
#include "crypto/DSTU7624Modes.h"
#include "crypto/GOST28147.h"
#include "crypto/SecureWipe.h"
#include "dstu4145/DSTU4145.h"

#include <openssl/rand.h>

namespace cglib {
namespace {

using qvkcrypto::SecureWipe;

constexpr std::uint8_t kWrapIv[8] = {0x4A, 0xDD, 0xA2, 0x2C, 0x79, 0xE8, 0x21, 0x05};
// The default GOST 28147 S-box, used when the caller gives none.
constexpr std::uint8_t kDefaultSBox[64] = {0x8a, 0x09, 0xcd, 0x46, 0x9e, 0x6b, 0x74, 0xb5, 0x2f, 0x31, 0x13, 0xfc, 0x57,
                                           0xe0, 0xa8, 0xd2, 0x3f, 0x86, 0xd5, 0x98, 0x6e, 0xbb, 0xfa, 0x04, 0x2c, 0x50,
                                           0xc3, 0xa7, 0x42, 0xe9, 0x11, 0x7d, 0x2f, 0x88, 0x9e, 0x79, 0x57, 0xf2, 0x00,
                                           0xbd, 0xcc, 0x16, 0xd1, 0xe5, 0xab, 0x34, 0x63, 0x4a, 0x13, 0x28, 0x3b, 0xe5,
                                           0x66, 0xd4, 0xbe, 0x8a, 0xf2, 0xac, 0xc1, 0x57, 0x79, 0x9f, 0x0d, 0x40};

// Agreed key of the curve records, or false.
bool AgreeRecords(const void* field, const void* point, const std::uint8_t* privateKey, const std::uint8_t* peerKey,
                  const std::uint8_t* data, std::uint32_t dataLength, std::uint32_t bits, std::uint8_t* out)
{
    if (field == nullptr || point == nullptr || (data == nullptr && dataLength != 0)) return false;
    auto engine =
        EngineFromRecords(static_cast<const std::uint32_t*>(field), static_cast<const std::uint32_t*>(point), false);
    if (!engine) return false;
    dstu4145::Bytes x;
    if (!AgreeX(*engine, privateKey, DSTU4145_NUMBER_BYTES, peerKey, DSTU4145_NUMBER_BYTES, x)) return false;
    const bool ok = HashDstu7564(x.data(), x.size(), data, dataLength, bits, out);
    SecureWipe(x.data(), x.size());
    return ok;
}

// --- GOST 28147 primitives with an explicit key ---

struct Gost {
    GOST28147Context ctx{};
    Gost(const std::uint8_t* key, const std::uint8_t* sBox)
    {
        GOST28147SetParameter(&ctx, sBox != nullptr ? sBox : kDefaultSBox, GOST28147_SBOX);
        GOST28147SetParameter(&ctx, key, GOST28147_KEY);
    }
    ~Gost() { SecureWipe(&ctx, sizeof ctx); }
    void Cfb(const std::uint8_t iv[8], std::uint8_t* data, std::size_t length, bool encrypt)
    {
        std::uint8_t f[8];
        std::memcpy(f, iv, 8);
        for (std::size_t off = 0; off < length; off += 8) {
            GOST28147EncryptBlock(f, ctx.key, &ctx.expandedSBox);
            const std::size_t n = std::min<std::size_t>(8, length - off);
            std::uint8_t in[8];
            std::memcpy(in, data + off, n);
            for (std::size_t i = 0; i < n; ++i) data[off + i] ^= f[i];
            if (n == 8) std::memcpy(f, encrypt ? data + off : in, 8);
            SecureWipe(in, sizeof in);
        }
        SecureWipe(f, sizeof f);
    }
    bool Mac(const std::uint8_t* data, std::size_t length, std::uint8_t out[4])
    {
        std::uint32_t mac = 0;
        if (!GOST28147ComputeMAC(data, static_cast<std::uint32_t>(length), &ctx) ||
            !GOST28147GetParameter(&ctx, &mac, GOST28147_MAC))
            return false;
        for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(mac >> (8 * i));
        return true;
    }
};

// --- DSTU 7624 (256/256) primitives ---

struct Dstu {
    DSTU7624Context* ctx = nullptr;
    explicit Dstu(const std::uint8_t* key)
    {
        ctx = DSTU7624CreateContext();
        std::uint32_t bits = 256;
        if (ctx != nullptr &&
            (!DSTU7624SetParameter(ctx, &bits, DSTU7624_BLOCK_BITS) ||
             !DSTU7624SetParameter(ctx, &bits, DSTU7624_KEY_BITS) || !DSTU7624SetParameter(ctx, key, DSTU7624_KEY))) {
            DSTU7624FreeContext(ctx);
            ctx = nullptr;
        }
    }
    ~Dstu() { DSTU7624FreeContext(ctx); }
    bool Cfb(const std::uint8_t iv[32], std::uint8_t* data, std::size_t length, bool encrypt)
    {
        std::uint8_t f[32];
        std::memcpy(f, iv, 32);
        bool ok = true;
        for (std::size_t off = 0; off < length && ok; off += 32) {
            ok = DSTU7624EncryptECB(f, 1, ctx) != 0;
            const std::size_t n = std::min<std::size_t>(32, length - off);
            std::uint8_t* tail = f + 32 - n;
            for (std::size_t i = 0; i < n && ok; ++i) {
                const std::uint8_t in = data[off + i];
                data[off + i] = static_cast<std::uint8_t>(in ^ tail[i]);
                tail[i] = encrypt ? data[off + i] : in;
            }
        }
        SecureWipe(f, sizeof f);
        return ok;
    }
    bool Cmac(const std::uint8_t* data, std::uint8_t out[32])
    {
        std::uint32_t macBits = 256;
        return DSTU7624ComputeCMAC(data, 256, 0, ctx) && DSTU7624SetParameter(ctx, &macBits, DSTU7624_MAC_BITS) &&
               DSTU7624GetParameter(ctx, out, DSTU7624_MAC);
    }
};

std::uint8_t kWrapIvNew[32];
bool InitIvNew()
{
    for (int i = 0; i < 4; ++i) std::memcpy(kWrapIvNew + 8 * i, kWrapIv, 8);
    return true;
}
const bool kIvNewReady = InitIvNew();

}  // namespace
}  // namespace cglib

using namespace cglib;

CG_EXPORT int ECDHSelfTest(void)
{
    return 1;
}
CG_SHAPE(ECDHSelfTest, CGSelfTestFn);
CG_EXPORT int ECDHUASelfTest(void)
{
    return 1;
}
CG_SHAPE(ECDHUASelfTest, CGSelfTestFn);
CG_EXPORT int ECDHDSTUSelfTest(void)
{
    return 1;
}
CG_SHAPE(ECDHDSTUSelfTest, CGSelfTestFn);

// Session-key transport agreement: the 8-byte UKM is the keying material.
// The S-box and the last argument are not used by this construction.
CG_EXPORT int ECDHCalculateSharedKey(const DSTU4145FieldRecord* field, const DSTU4145PointRecord* point,
                                     const std::uint8_t* privateKey, const std::uint8_t* peerKey,
                                     const std::uint8_t* ukm, const std::uint8_t* /*sBox*/, const void* /*reserved*/,
                                     std::uint8_t* sharedKey)
{
    if (ukm == nullptr || sharedKey == nullptr) return 0;
    try {
        return AgreeRecords(field, point, privateKey, peerKey, ukm, 8, 256, sharedKey) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

// Wrap agreement: flag (the key's agreement option, no effect on the value),
// UKM and its length (at most 95 bytes, as the key takes), two reserved.
CG_EXPORT int ECDHUACalculateSharedKey(const DSTU4145FieldRecord* field, const DSTU4145PointRecord* point,
                                       const std::uint8_t* privateKey, const std::uint8_t* peerKey, int /*flag*/,
                                       const std::uint8_t* ukm, std::uint32_t ukmLength, const void* /*reserved1*/,
                                       const void* /*reserved2*/, std::uint8_t* sharedKey)
{
    if (sharedKey == nullptr || ukmLength > 95) return 0;
    try {
        return AgreeRecords(field, point, privateKey, peerKey, ukm, ukmLength, 256, sharedKey) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

// flag, data and its length (at most 183 bytes, as the key takes), a
// reserved 0, the output size in bits (256, 384 or 512), the output and its
// size in bytes (at least bits / 8).
CG_EXPORT int ECDHKDFDSTU7564CalculateSharedKey(const DSTU4145FieldRecord* field, const DSTU4145PointRecord* point,
                                                const std::uint8_t* privateKey, const std::uint8_t* peerKey,
                                                int /*flag*/, const std::uint8_t* data, std::uint32_t dataLength,
                                                const void* /*reserved*/, std::uint32_t bits, std::uint8_t* sharedKey,
                                                std::uint32_t outSize)
{
    if (sharedKey == nullptr || dataLength > 183 || outSize < bits / 8) return 0;
    try {
        return AgreeRecords(field, point, privateKey, peerKey, data, dataLength, bits, sharedKey) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

// The same over a dense record and dense keys with their sizes.
CG_EXPORT int ECDHKDFDSTU7564CalculateDenseSharedKey(const std::uint8_t* record, std::uint32_t recordSize,
                                                     const std::uint8_t* privateKey, std::uint32_t privateSize,
                                                     const std::uint8_t* peerKey, std::uint32_t peerSize,
                                                     const std::uint8_t* data, std::uint32_t dataLength,
                                                     const void* /*reserved*/, std::uint32_t bits,
                                                     std::uint8_t* sharedKey, std::uint32_t outSize)
{
    if (sharedKey == nullptr || dataLength > 183 || outSize < bits / 8 || (data == nullptr && dataLength != 0))
        return 0;
    try {
        auto engine = EngineFromDense(record, recordSize);
        dstu4145::Bytes x;
        if (!engine || !AgreeX(*engine, privateKey, privateSize, peerKey, peerSize, x)) return 0;
        const bool ok = HashDstu7564(x.data(), x.size(), data, dataLength, bits, sharedKey);
        SecureWipe(x.data(), x.size());
        return ok ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

// (agreed key, S-box or null for the default, 32-byte key, 8-byte U or null
// to draw one, generator handle, 44-byte output).
CG_EXPORT int GOST28147WrapSharedKey(const std::uint8_t* sharedKey, const void* sBoxArgument, const std::uint8_t* key,
                                     const void* fixedUArgument, void* /*prng*/, std::uint8_t* wrapped)
{
    const auto* sBox = static_cast<const std::uint8_t*>(sBoxArgument);
    const auto* fixedU = static_cast<const std::uint8_t*>(fixedUArgument);
    if (sharedKey == nullptr || key == nullptr || wrapped == nullptr) return 0;
    std::uint8_t t[44];
    if (fixedU != nullptr)
        std::memcpy(t, fixedU, 8);
    else if (RAND_bytes(t, 8) != 1)
        return 0;
    Gost g(sharedKey, sBox);
    std::memcpy(t + 8, key, 32);
    if (!g.Mac(key, 32, t + 40)) {
        SecureWipe(t, sizeof t);
        return 0;
    }
    std::uint8_t u[8];
    std::memcpy(u, t, 8);
    g.Cfb(u, t + 8, 36, true);
    std::reverse(t, t + 44);
    g.Cfb(kWrapIv, t, 44, true);
    std::memcpy(wrapped, t, 44);
    SecureWipe(t, sizeof t);
    return 1;
}

// (agreed key, S-box or null, 44-byte wrapped key, 32-byte output); the
// output is written only when the MAC matches.
CG_EXPORT int GOST28147UnwrapSharedKey(const std::uint8_t* sharedKey, const void* sBoxArgument,
                                       const std::uint8_t* wrapped, std::uint8_t* key)
{
    const auto* sBox = static_cast<const std::uint8_t*>(sBoxArgument);
    if (sharedKey == nullptr || wrapped == nullptr || key == nullptr) return 0;
    std::uint8_t t[44];
    std::memcpy(t, wrapped, 44);
    Gost g(sharedKey, sBox);
    g.Cfb(kWrapIv, t, 44, false);
    std::reverse(t, t + 44);
    std::uint8_t u[8];
    std::memcpy(u, t, 8);
    g.Cfb(u, t + 8, 36, false);
    std::uint8_t mac[4];
    const bool ok = g.Mac(t + 8, 32, mac) && std::memcmp(mac, t + 40, 4) == 0;
    if (ok) std::memcpy(key, t + 8, 32);
    SecureWipe(t, sizeof t);
    return ok ? 1 : 0;
}

// (agreed key, its size 32, reserved, 32-byte key, 32-byte V or null to draw
// one, reserved 0, block size 32, generator handle, 96-byte output, output
// length out or null).
CG_EXPORT int DSTU7624WrapSharedKey(const std::uint8_t* sharedKey, std::uint32_t sharedSize, const void* /*reserved1*/,
                                    const std::uint8_t* key, const void* fixedVArgument, const void* /*reserved2*/,
                                    std::uint32_t keyLength, void* /*prng*/, std::uint8_t* wrapped,
                                    void* wrappedLengthArgument)
{
    const auto* fixedV = static_cast<const std::uint8_t*>(fixedVArgument);
    auto* wrappedLength = static_cast<std::uint32_t*>(wrappedLengthArgument);
    if (sharedKey == nullptr || sharedSize != 32 || keyLength != 32 || key == nullptr || wrapped == nullptr) return 0;
    (void)kIvNewReady;
    std::uint8_t w[96];
    if (fixedV != nullptr)
        std::memcpy(w, fixedV, 32);
    else if (RAND_bytes(w, 32) != 1)
        return 0;
    Dstu d(sharedKey);
    std::memcpy(w + 32, key, 32);
    std::uint8_t v[32];
    std::memcpy(v, w, 32);
    bool ok = d.ctx != nullptr && d.Cmac(key, w + 64) && d.Cfb(v, w + 32, 64, true);
    if (ok) {
        std::reverse(w, w + 96);
        ok = d.Cfb(kWrapIvNew, w, 96, true);
    }
    if (ok) {
        std::memcpy(wrapped, w, 96);
        if (wrappedLength != nullptr) *wrappedLength = 96;
    }
    SecureWipe(w, sizeof w);
    SecureWipe(v, sizeof v);
    return ok ? 1 : 0;
}

// (agreed key, 32, reserved, 96-byte wrapped key, reserved, 32-byte output,
// output length out or null); the output is written only when the MAC matches.
CG_EXPORT int DSTU7624UnwrapSharedKey(const std::uint8_t* sharedKey, std::uint32_t sharedSize,
                                      const void* /*reserved1*/, const std::uint8_t* wrapped, const void* /*reserved2*/,
                                      std::uint8_t* key, void* keyLengthArgument)
{
    auto* keyLength = static_cast<std::uint32_t*>(keyLengthArgument);
    if (sharedKey == nullptr || sharedSize != 32 || wrapped == nullptr || key == nullptr) return 0;
    std::uint8_t w[96];
    std::memcpy(w, wrapped, 96);
    Dstu d(sharedKey);
    bool ok = d.ctx != nullptr && d.Cfb(kWrapIvNew, w, 96, false);
    if (ok) {
        std::reverse(w, w + 96);
        std::uint8_t v[32];
        std::memcpy(v, w, 32);
        ok = d.Cfb(v, w + 32, 64, false);
        SecureWipe(v, sizeof v);
    }
    std::uint8_t mac[32];
    ok = ok && d.Cmac(w + 32, mac) && std::memcmp(mac, w + 64, 32) == 0;
    if (ok) {
        std::memcpy(key, w + 32, 32);
        if (keyLength != nullptr) *keyLength = 32;
    }
    SecureWipe(w, sizeof w);
    SecureWipe(mac, sizeof mac);
    return ok ? 1 : 0;
}

CG_SHAPE(ECDHCalculateSharedKey, CGECDHCalculateSharedKeyFn);
CG_SHAPE(ECDHUACalculateSharedKey, CGECDHUACalculateSharedKeyFn);
CG_SHAPE(ECDHKDFDSTU7564CalculateSharedKey, CGECDHKDFDSTU7564CalculateSharedKeyFn);
CG_SHAPE(ECDHKDFDSTU7564CalculateDenseSharedKey, CGECDHKDFDSTU7564CalculateDenseSharedKeyFn);
CG_SHAPE(GOST28147WrapSharedKey, CGGOST28147WrapSharedKeyFn);
CG_SHAPE(GOST28147UnwrapSharedKey, CGGOST28147UnwrapSharedKeyFn);
CG_SHAPE(DSTU7624WrapSharedKey, CGDSTU7624WrapSharedKeyFn);
CG_SHAPE(DSTU7624UnwrapSharedKey, CGDSTU7624UnwrapSharedKeyFn);
