// DSTU 7564 entries of cgbase.so: the hash over the project's module, an HMAC
// over it (key as long as the MAC, block of 64 bytes up to 256-bit outputs and
// 128 above), and the PBKDF2 and PKCS#12 key derivations over that HMAC and
// hash.
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "CGExport.h"
#include "crypto/DSTU7564.h"
#include "crypto/SecureWipe.h"

using cglib::InjectedFailure;
using qvkcrypto::SecureWipe;

namespace {

DSTU7564Context* Ctx(void* state)
{
    return static_cast<DSTU7564Context*>(state);
}

uint32_t BlockBytes(uint32_t hashBytes)
{
    return hashBytes <= 32 ? 64 : 128;
}

// A hash context with the given S-boxes (or the default ones) and length.
DSTU7564Context* NewHash(const uint8_t* sBoxes, uint32_t hashBytes)
{
    DSTU7564Context* context = DSTU7564CreateContext();
    if (context == nullptr) return nullptr;
    uint32_t bits = hashBytes * 8;
    if ((sBoxes != nullptr && !DSTU7564SetParameter(context, sBoxes, DSTU7564_SBOXES)) ||
        !DSTU7564SetParameter(context, &bits, DSTU7564_HASH_BITS)) {
        DSTU7564FreeContext(context);
        return nullptr;
    }
    return context;
}

// HMAC over DSTU 7564 with a key of any length.
class Hmac {
public:
    Hmac() = default;
    Hmac(const Hmac&) = delete;
    Hmac& operator=(const Hmac&) = delete;
    ~Hmac()
    {
        DSTU7564FreeContext(inner_);
        SecureWipe(pad_, sizeof pad_);
    }

    bool Start(const uint8_t* sBoxes, uint32_t macBytes, const uint8_t* key, uint32_t keyLength)
    {
        if (macBytes == 0 || macBytes > 64) return false;
        hasSBoxes_ = sBoxes != nullptr;
        if (hasSBoxes_) std::memcpy(sBoxes_, sBoxes, sizeof sBoxes_);
        macBytes_ = macBytes;
        block_ = BlockBytes(macBytes);
        std::memset(pad_, 0, sizeof pad_);
        if (keyLength > block_) {
            DSTU7564Context* h = NewHash(Boxes(), macBytes);
            if (h == nullptr) return false;
            bool ok = DSTU7564UpdateHash(key, keyLength * 8, 0, h) && DSTU7564FinishHash(h) &&
                      DSTU7564GetParameter(h, pad_, DSTU7564_HASH);
            DSTU7564FreeContext(h);
            if (!ok) return false;
        } else if (keyLength != 0) {
            std::memcpy(pad_, key, keyLength);
        }
        DSTU7564FreeContext(inner_);
        inner_ = NewHash(Boxes(), macBytes);
        if (inner_ == nullptr) return false;
        uint8_t ipad[128];
        for (uint32_t i = 0; i < block_; ++i) ipad[i] = pad_[i] ^ 0x36;
        bool ok = DSTU7564UpdateHash(ipad, block_ * 8, 0, inner_);
        SecureWipe(ipad, sizeof ipad);
        return ok;
    }

    bool Update(const uint8_t* data, uint64_t bits)
    {
        return inner_ != nullptr &&
               DSTU7564UpdateHash(data, static_cast<uint32_t>(bits), static_cast<uint32_t>(bits >> 32), inner_);
    }

    bool Finish(uint8_t* mac)
    {
        if (inner_ == nullptr) return false;
        uint8_t innerHash[64];
        bool ok = DSTU7564FinishHash(inner_) && DSTU7564GetParameter(inner_, innerHash, DSTU7564_HASH);
        DSTU7564FreeContext(inner_);
        inner_ = nullptr;
        DSTU7564Context* outer = ok ? NewHash(Boxes(), macBytes_) : nullptr;
        if (outer != nullptr) {
            uint8_t opad[128];
            for (uint32_t i = 0; i < block_; ++i) opad[i] = pad_[i] ^ 0x5c;
            ok = DSTU7564UpdateHash(opad, block_ * 8, 0, outer) &&
                 DSTU7564UpdateHash(innerHash, macBytes_ * 8, 0, outer) && DSTU7564FinishHash(outer) &&
                 DSTU7564GetParameter(outer, mac, DSTU7564_HASH);
            SecureWipe(opad, sizeof opad);
            DSTU7564FreeContext(outer);
        } else {
            ok = false;
        }
        SecureWipe(innerHash, sizeof innerHash);
        return ok;
    }

private:
    const uint8_t* Boxes() const { return hasSBoxes_ ? sBoxes_ : nullptr; }

    DSTU7564Context* inner_ = nullptr;
    uint8_t pad_[128] = {};
    uint8_t sBoxes_[1024] = {};
    bool hasSBoxes_ = false;
    uint32_t macBytes_ = 0;
    uint32_t block_ = 64;
};

// The state behind a DSTU7564HMAC handle.
struct HmacState {
    Hmac hmac;
    uint8_t sBoxes[1024];
    bool hasSBoxes = false;
    uint32_t macBits = 0;
    bool keyed = false;
    bool finished = false;
    uint8_t mac[64] = {};
};

HmacState* Hm(void* state)
{
    return static_cast<HmacState*>(state);
}

}  // namespace

// ---- hash ----

CG_EXPORT int DSTU7564SelfTest(void)
{
    return DSTU7564RunTestVectors();
}
CG_SHAPE(DSTU7564SelfTest, CGSelfTestFn);

CG_EXPORT void* DSTU7564AcquireState(void)
{
    if (InjectedFailure("DSTU7564AcquireState")) return nullptr;
    return DSTU7564CreateContext();
}
CG_SHAPE(DSTU7564AcquireState, CGAcquireStateFn);

CG_EXPORT int DSTU7564ReleaseState(void* state)
{
    DSTU7564FreeContext(Ctx(state));
    return 1;
}
CG_SHAPE(DSTU7564ReleaseState, CGReleaseStateFn);

CG_EXPORT int DSTU7564SetStateParameters(void* state, const void* value, uint32_t code)
{
    if (state == nullptr || value == nullptr || InjectedFailure("DSTU7564SetStateParameters")) return 0;
    return DSTU7564SetParameter(Ctx(state), value, code);
}
CG_SHAPE(DSTU7564SetStateParameters, CGSetStateParametersFn);

CG_EXPORT int DSTU7564GetStateParameters(void* state, void* buffer, uint32_t code)
{
    if (state == nullptr || buffer == nullptr || InjectedFailure("DSTU7564GetStateParameters")) return 0;
    return DSTU7564GetParameter(Ctx(state), buffer, code);
}
CG_SHAPE(DSTU7564GetStateParameters, CGGetStateParametersFn);

CG_EXPORT int DSTU7564HashData(const uint8_t* data, uint32_t bitsLow, uint32_t bitsHigh, void* state)
{
    if (state == nullptr || (data == nullptr && (bitsLow | bitsHigh) != 0) || InjectedFailure("DSTU7564HashData"))
        return 0;
    return DSTU7564UpdateHash(data, bitsLow, bitsHigh, Ctx(state));
}
CG_SHAPE(DSTU7564HashData, CGDSTU7564HashDataFn);

CG_EXPORT int DSTU7564FinalizeHash(void* state)
{
    if (state == nullptr || InjectedFailure("DSTU7564FinalizeHash")) return 0;
    return DSTU7564FinishHash(Ctx(state));
}
CG_SHAPE(DSTU7564FinalizeHash, CGStateFinalizeFn);

// ---- HMAC: parameters 1 S-boxes, 2 MAC bits, 3 key (MAC-length bytes), 6 MAC ----

CG_EXPORT int DSTU7564HMACSelfTest(void)
{
    return 1;
}
CG_SHAPE(DSTU7564HMACSelfTest, CGSelfTestFn);

CG_EXPORT void* DSTU7564HMACAcquireState(void)
{
    if (InjectedFailure("DSTU7564HMACAcquireState")) return nullptr;
    return new (std::nothrow) HmacState;
}
CG_SHAPE(DSTU7564HMACAcquireState, CGAcquireStateFn);

CG_EXPORT int DSTU7564HMACReleaseState(void* state)
{
    if (state != nullptr) {
        SecureWipe(Hm(state)->mac, sizeof Hm(state)->mac);
        delete Hm(state);
    }
    return 1;
}
CG_SHAPE(DSTU7564HMACReleaseState, CGReleaseStateFn);

CG_EXPORT int DSTU7564HMACSetStateParameters(void* state, const void* value, uint32_t code)
{
    if (state == nullptr || value == nullptr || InjectedFailure("DSTU7564HMACSetStateParameters")) return 0;
    HmacState* s = Hm(state);
    switch (code) {
    case 1:
        std::memcpy(s->sBoxes, value, sizeof s->sBoxes);
        s->hasSBoxes = true;
        return 1;
    case 2: {
        uint32_t bits;
        std::memcpy(&bits, value, 4);
        if (bits == 0 || bits > 512 || bits % 8 != 0) return 0;
        s->macBits = bits;
        s->keyed = s->finished = false;
        return 1;
    }
    case 3:
        if (s->macBits == 0) return 0;
        s->finished = false;
        s->keyed = s->hmac.Start(s->hasSBoxes ? s->sBoxes : nullptr, s->macBits / 8, static_cast<const uint8_t*>(value),
                                 s->macBits / 8);
        return s->keyed ? 1 : 0;
    default:
        return 0;
    }
}
CG_SHAPE(DSTU7564HMACSetStateParameters, CGSetStateParametersFn);

CG_EXPORT int DSTU7564HMACGetStateParameters(void* state, void* buffer, uint32_t code)
{
    if (state == nullptr || buffer == nullptr || InjectedFailure("DSTU7564HMACGetStateParameters")) return 0;
    HmacState* s = Hm(state);
    if (code == 2) {
        std::memcpy(buffer, &s->macBits, 4);
        return 1;
    }
    if (code != 6 || !s->finished) return 0;
    std::memcpy(buffer, s->mac, s->macBits / 8);
    return 1;
}
CG_SHAPE(DSTU7564HMACGetStateParameters, CGGetStateParametersFn);

CG_EXPORT int DSTU7564HMACUpdateData(const uint8_t* data, uint32_t bitsLow, uint32_t bitsHigh, void* state)
{
    if (state == nullptr || !Hm(state)->keyed || Hm(state)->finished || InjectedFailure("DSTU7564HMACUpdateData"))
        return 0;
    if (data == nullptr && (bitsLow | bitsHigh) != 0) return 0;
    return Hm(state)->hmac.Update(data, (static_cast<uint64_t>(bitsHigh) << 32) | bitsLow) ? 1 : 0;
}
CG_SHAPE(DSTU7564HMACUpdateData, CGDSTU7564HashDataFn);

CG_EXPORT int DSTU7564HMACFinalizeDataMac(void* state)
{
    if (state == nullptr || !Hm(state)->keyed || Hm(state)->finished || InjectedFailure("DSTU7564HMACFinalizeDataMac"))
        return 0;
    HmacState* s = Hm(state);
    s->finished = s->hmac.Finish(s->mac);
    s->keyed = false;
    return s->finished ? 1 : 0;
}
CG_SHAPE(DSTU7564HMACFinalizeDataMac, CGStateFinalizeFn);

// ---- key derivations ----

CG_EXPORT int PKCS5PBKDF2DSTU7564SelfTest(void)
{
    return 1;
}
CG_SHAPE(PKCS5PBKDF2DSTU7564SelfTest, CGSelfTestFn);

// PBKDF2 (PKCS #5) with HMAC-DSTU 7564 of `macLength` bytes as the
// pseudo-random function.
CG_EXPORT int PKCS5PBKDF2DSTU7564DeriveKey(const uint8_t* password, uint32_t passwordLength, const uint8_t* salt,
                                           uint32_t saltLength, uint32_t iterations, const uint8_t* parameterBlock,
                                           uint32_t keyBits, uint8_t* key, uint32_t macLength)
{
    if (InjectedFailure("PKCS5PBKDF2DSTU7564DeriveKey")) return 0;
    if (key == nullptr || keyBits % 8 != 0 || iterations == 0 || macLength == 0 || macLength > 64 ||
        (password == nullptr && passwordLength != 0) || (salt == nullptr && saltLength != 0))
        return 0;
    try {
        const uint32_t keyBytes = keyBits / 8;
        uint8_t u[64], t[64];
        bool ok = true;
        for (uint32_t block = 1, done = 0; done < keyBytes && ok; ++block) {
            uint8_t index[4] = {static_cast<uint8_t>(block >> 24), static_cast<uint8_t>(block >> 16),
                                static_cast<uint8_t>(block >> 8), static_cast<uint8_t>(block)};
            Hmac h;
            ok = h.Start(parameterBlock, macLength, password, passwordLength) &&
                 h.Update(salt, static_cast<uint64_t>(saltLength) * 8) && h.Update(index, 32) && h.Finish(u);
            std::memcpy(t, u, macLength);
            for (uint32_t i = 1; i < iterations && ok; ++i) {
                Hmac next;
                ok = next.Start(parameterBlock, macLength, password, passwordLength) && next.Update(u, macLength * 8) &&
                     next.Finish(u);
                for (uint32_t j = 0; j < macLength; ++j) t[j] ^= u[j];
            }
            uint32_t take = std::min(macLength, keyBytes - done);
            if (ok) std::memcpy(key + done, t, take);
            done += take;
        }
        SecureWipe(u, sizeof u);
        SecureWipe(t, sizeof t);
        return ok ? 1 : 0;
    } catch (...) {
        return 0;
    }
}
CG_SHAPE(PKCS5PBKDF2DSTU7564DeriveKey, CGPKCS5PBKDF2DSTU7564DeriveKeyFn);

CG_EXPORT int PKCS12PBKDFDSTU7564SelfTest(void)
{
    return 1;
}
CG_SHAPE(PKCS12PBKDFDSTU7564SelfTest, CGSelfTestFn);

// The PKCS #12 derivation (its appendix B) with the 256-bit DSTU 7564 hash
// (u = 32, v = 64); `purpose` is its ID byte.
CG_EXPORT int PKCS12PBKDFDSTU7564DeriveKey(const uint8_t* password, uint32_t passwordLength, const uint8_t* salt,
                                           uint32_t saltLength, uint32_t iterations, uint32_t purpose, uint32_t keyBits,
                                           uint8_t* key, uint32_t keyBytes)
{
    if (InjectedFailure("PKCS12PBKDFDSTU7564DeriveKey")) return 0;
    if (key == nullptr || keyBits != keyBytes * 8 || iterations == 0 || purpose > 255 ||
        (password == nullptr && passwordLength != 0) || (salt == nullptr && saltLength != 0))
        return 0;
    try {
        constexpr uint32_t u = 32, v = 64;
        auto fill = [](const uint8_t* src, uint32_t n, std::vector<uint8_t>& out) {
            uint32_t size = n == 0 ? 0 : v * ((n + v - 1) / v);
            out.resize(size);
            for (uint32_t i = 0; i < size; ++i) out[i] = src[i % n];
        };
        std::vector<uint8_t> s, p;
        fill(salt, saltLength, s);
        fill(password, passwordLength, p);
        std::vector<uint8_t> input(s);
        input.insert(input.end(), p.begin(), p.end());
        uint8_t diversifier[v];
        std::memset(diversifier, static_cast<int>(purpose), v);
        uint8_t a[u];
        bool ok = true;
        for (uint32_t done = 0; done < keyBytes && ok;) {
            DSTU7564Context* h = NewHash(nullptr, u);
            ok = h != nullptr && DSTU7564UpdateHash(diversifier, v * 8, 0, h) &&
                 DSTU7564UpdateHash(input.data(), static_cast<uint32_t>(input.size() * 8), 0, h) &&
                 DSTU7564FinishHash(h) && DSTU7564GetParameter(h, a, DSTU7564_HASH);
            DSTU7564FreeContext(h);
            for (uint32_t i = 1; i < iterations && ok; ++i) {
                h = NewHash(nullptr, u);
                ok = h != nullptr && DSTU7564UpdateHash(a, u * 8, 0, h) && DSTU7564FinishHash(h) &&
                     DSTU7564GetParameter(h, a, DSTU7564_HASH);
                DSTU7564FreeContext(h);
            }
            if (!ok) break;
            uint32_t take = std::min(u, keyBytes - done);
            std::memcpy(key + done, a, take);
            done += take;
            // I_j = (I_j + B + 1) mod 2^(8v) for every v-byte block of I.
            uint8_t b[v];
            for (uint32_t i = 0; i < v; ++i) b[i] = a[i % u];
            for (std::size_t j = 0; j < input.size(); j += v) {
                unsigned carry = 1;
                for (int k = v - 1; k >= 0; --k) {
                    carry += input[j + k] + b[k];
                    input[j + k] = static_cast<uint8_t>(carry);
                    carry >>= 8;
                }
            }
            SecureWipe(b, sizeof b);
        }
        SecureWipe(a, sizeof a);
        SecureWipe(input.data(), input.size());
        SecureWipe(p.data(), p.size());
        return ok ? 1 : 0;
    } catch (...) {
        return 0;
    }
}
CG_SHAPE(PKCS12PBKDFDSTU7564DeriveKey, CGPKCS12PBKDFDSTU7564DeriveKeyFn);
