// GOST 28147-89 and GOST 34.311-95 entries of the stand-in cgbase.so, over
// the project's cipher and hash modules. All lengths are in bytes, except the
// simple-replacement calls, which count 8-byte blocks.
//
// GOST 28147 state: the bare 4,164-byte cipher context, so that a copy of it
// is a working state (the provider keeps sessions that way). Codes: 1 key
// (32 bytes), 2 S-box (64 bytes), 3 IV (8 bytes, after S-box and key), 4 get
// the MAC (32-bit value, after GetDataMAC), 5 a new IV (8 bytes) on a running
// session: the gamma restarts from it. Data calls on a state without a key
// (and, for the gamma modes, an IV) are refused.
//
// GOST 34.311 state: codes 1 S-box, 2 start vector (set) or the hash (get).
// HMAC state: codes 1 S-box, 2 start vector, 3 key (32 bytes), 4 get the
// MAC; HMAC(K, m) = H((K ^ opad) || H((K ^ ipad) || m)) with 32-byte blocks.
//
// The acquire functions, the hash's parameter and data calls and the MAC
// call answer failure when the test switch names them (CGExport.h).
#include <cstdint>
#include <cstring>
#include <new>

#include "CGExport.h"
#include "crypto/GOST28147.h"
#include "crypto/GOST34311.h"
#include "crypto/SecureWipe.h"

static_assert(sizeof(GOST28147Context) == 4164, "the provider copies 4,164-byte states");

namespace {

using qvkcrypto::SecureWipe;

constexpr std::uint32_t kKeyed = GOST28147_FLAG_KEY | GOST28147_FLAG_SBOX;
constexpr std::uint32_t kGammaReady = kKeyed | GOST28147_FLAG_IV;

GOST28147Context* Cipher(void* state)
{
    return static_cast<GOST28147Context*>(state);
}
bool Keyed(const GOST28147Context* c)
{
    return c != nullptr && (c->flags & kKeyed) == kKeyed;
}
bool GammaReady(const GOST28147Context* c)
{
    return c != nullptr && (c->flags & kGammaReady) == kGammaReady;
}

struct Hmac {
    GOST34311Context inner{};
    GOST34311Context outer{};
    std::uint8_t sBox[64] = {};
    std::uint8_t startVector[32] = {};
    std::uint8_t key[32] = {};
    std::uint8_t mac[32] = {};
    bool haveSBox = false, haveKey = false, started = false, done = false;
    ~Hmac() { SecureWipe(this, sizeof *this); }

    bool Start()
    {
        if (!haveSBox || !haveKey) return false;
        std::uint8_t pad[32];
        for (int i = 0; i < 32; ++i) pad[i] = static_cast<std::uint8_t>(key[i] ^ 0x36);
        const bool ok = GOST34311SetParameter(&inner, sBox, GOST34311_SBOX) &&
                        GOST34311SetParameter(&inner, startVector, GOST34311_START_VECTOR) &&
                        GOST34311UpdateHash(pad, 32, &inner);
        SecureWipe(pad, sizeof pad);
        started = ok;
        done = false;
        return ok;
    }
    bool Finish()
    {
        std::uint8_t h[32], pad[32];
        for (int i = 0; i < 32; ++i) pad[i] = static_cast<std::uint8_t>(key[i] ^ 0x5C);
        const bool ok = GOST34311FinishHash(0, &inner) && GOST34311GetParameter(&inner, h, GOST34311_HASH) &&
                        GOST34311SetParameter(&outer, sBox, GOST34311_SBOX) &&
                        GOST34311SetParameter(&outer, startVector, GOST34311_START_VECTOR) &&
                        GOST34311UpdateHash(pad, 32, &outer) && GOST34311UpdateHash(h, 32, &outer) &&
                        GOST34311FinishHash(0, &outer) && GOST34311GetParameter(&outer, mac, GOST34311_HASH);
        SecureWipe(h, sizeof h);
        SecureWipe(pad, sizeof pad);
        started = false;
        done = ok;
        return ok;
    }
};

}  // namespace

// --- GOST 28147-89 ---

CG_EXPORT int GOST28147SelfTest(void)
{
    return 1;
}

CG_EXPORT void* GOST28147AcquireState(void)
{
    if (cglib::InjectedFailure("GOST28147AcquireState")) return nullptr;
    return GOST28147CreateContext();
}

CG_EXPORT int GOST28147ReleaseState(void* state)
{
    GOST28147FreeContext(Cipher(state));
    return 1;
}

CG_EXPORT int GOST28147SetStateParameters(void* state, const void* value, std::uint32_t code)
{
    GOST28147Context* c = Cipher(state);
    if (c == nullptr || value == nullptr) return 0;
    switch (code) {
    case 1:
        return GOST28147SetParameter(c, value, GOST28147_KEY);
    case 2:
        return GOST28147SetParameter(c, value, GOST28147_SBOX);
    case 3:
        return GOST28147SetParameter(c, value, GOST28147_IV);
    case 5:
        // A new IV on a running session: only where one was set before.
        if (!GammaReady(c)) return 0;
        return GOST28147SetParameter(c, value, GOST28147_IV);
    default:
        return 0;
    }
}

CG_EXPORT int GOST28147GetStateParameters(void* state, void* buffer, std::uint32_t code)
{
    GOST28147Context* c = Cipher(state);
    if (c == nullptr || buffer == nullptr) return 0;
    switch (code) {
    case 3:
        return GOST28147GetParameter(c, buffer, GOST28147_IV);
    case 4:
        return GOST28147GetParameter(c, buffer, GOST28147_MAC);
    default:
        return 0;
    }
}

CG_EXPORT int GOST28147EncryptDataSSMode(std::uint8_t* data, std::uint32_t blocks, void* state)
{
    GOST28147Context* c = Cipher(state);
    if (!Keyed(c) || (data == nullptr && blocks != 0)) return 0;
    return GOST28147EncryptECB(data, blocks, c);
}

CG_EXPORT int GOST28147DecryptDataSSMode(std::uint8_t* data, std::uint32_t blocks, void* state)
{
    GOST28147Context* c = Cipher(state);
    if (!Keyed(c) || (data == nullptr && blocks != 0)) return 0;
    return GOST28147DecryptECB(data, blocks, c);
}

CG_EXPORT int GOST28147EncryptDataGMode(std::uint8_t* data, std::uint32_t length, void* state)
{
    GOST28147Context* c = Cipher(state);
    if (!GammaReady(c) || (data == nullptr && length != 0)) return 0;
    return GOST28147ApplyCounterGamma(data, length, c);
}

CG_EXPORT int GOST28147EncryptDataGOFBMode(std::uint8_t* data, std::uint32_t length, void* state)
{
    GOST28147Context* c = Cipher(state);
    if (!GammaReady(c) || (data == nullptr && length != 0)) return 0;
    return GOST28147EncryptCFB(data, length, c);
}

CG_EXPORT int GOST28147DecryptDataGOFBMode(std::uint8_t* data, std::uint32_t length, void* state)
{
    GOST28147Context* c = Cipher(state);
    if (!GammaReady(c) || (data == nullptr && length != 0)) return 0;
    return GOST28147DecryptCFB(data, length, c);
}

// MAC of `length` bytes (a partial last block is padded with zeros), read
// with code 4.
CG_EXPORT int GOST28147GetDataMAC(const std::uint8_t* data, std::uint32_t length, void* state)
{
    GOST28147Context* c = Cipher(state);
    if (!Keyed(c) || (data == nullptr && length != 0) || cglib::InjectedFailure("GOST28147GetDataMAC")) return 0;
    // A MAC not read yet is dropped: each call starts afresh.
    c->mac[0] = c->mac[1] = 0;
    c->flags &= ~std::uint32_t(GOST28147_FLAG_MAC_READY);
    return GOST28147ComputeMAC(data, length, c);
}

// --- GOST 34.311-95 ---

CG_EXPORT int GOST34311SelfTest(void)
{
    return 1;
}

CG_EXPORT void* GOST34311AcquireState(void)
{
    if (cglib::InjectedFailure("GOST34311AcquireState")) return nullptr;
    return GOST34311CreateContext();
}

CG_EXPORT int GOST34311ReleaseState(void* state)
{
    GOST34311FreeContext(static_cast<GOST34311Context*>(state));
    return 1;
}

CG_EXPORT int GOST34311SetStateParameters(void* state, const void* value, std::uint32_t code)
{
    auto* c = static_cast<GOST34311Context*>(state);
    if (c == nullptr || (code == 1 && value == nullptr) || cglib::InjectedFailure("GOST34311SetStateParameters"))
        return 0;
    if (code != 1 && code != 2) return 0;
    return GOST34311SetParameter(c, value, code == 1 ? GOST34311_SBOX : GOST34311_START_VECTOR);
}

CG_EXPORT int GOST34311GetStateParameters(void* state, void* buffer, std::uint32_t code)
{
    auto* c = static_cast<GOST34311Context*>(state);
    if (c == nullptr || buffer == nullptr || code != 2) return 0;
    return GOST34311GetParameter(c, buffer, GOST34311_HASH);
}

CG_EXPORT int GOST34311HashData(const std::uint8_t* data, std::uint32_t length, void* state)
{
    auto* c = static_cast<GOST34311Context*>(state);
    if (c == nullptr || !(c->flags & GOST34311_FLAG_SBOX) || (data == nullptr && length != 0) ||
        cglib::InjectedFailure("GOST34311HashData"))
        return 0;
    return GOST34311UpdateHash(data, length, c);
}

// bits: bits of the last byte not to count (0 for whole bytes).
CG_EXPORT int GOST34311FinalizeHash(std::uint32_t bits, void* state)
{
    auto* c = static_cast<GOST34311Context*>(state);
    if (c == nullptr || !(c->flags & GOST34311_FLAG_SBOX)) return 0;
    return GOST34311FinishHash(bits, c);
}

// --- GOST 34.311 HMAC ---

CG_EXPORT int GOST34311HMACSelfTest(void)
{
    return 1;
}

CG_EXPORT void* GOST34311HMACAcquireState(void)
{
    return new (std::nothrow) Hmac;
}

CG_EXPORT int GOST34311HMACReleaseState(void* state)
{
    delete static_cast<Hmac*>(state);
    return 1;
}

CG_EXPORT int GOST34311HMACSetStateParameters(void* state, const void* value, std::uint32_t code)
{
    auto* h = static_cast<Hmac*>(state);
    if (h == nullptr) return 0;
    switch (code) {
    case 1:
        if (value == nullptr) return 0;
        std::memcpy(h->sBox, value, 64);
        h->haveSBox = true;
        break;
    case 2:
        if (value != nullptr)
            std::memcpy(h->startVector, value, 32);
        else
            std::memset(h->startVector, 0, 32);
        break;
    case 3:
        if (value == nullptr) return 0;
        std::memcpy(h->key, value, 32);
        h->haveKey = true;
        break;
    default:
        return 0;
    }
    // Every change of the parameters starts the MAC afresh.
    h->started = false;
    h->done = false;
    return 1;
}

CG_EXPORT int GOST34311HMACGetStateParameters(void* state, void* buffer, std::uint32_t code)
{
    auto* h = static_cast<Hmac*>(state);
    if (h == nullptr || buffer == nullptr || code != 4 || !h->done) return 0;
    std::memcpy(buffer, h->mac, 32);
    return 1;
}

CG_EXPORT int GOST34311HMACUpdateData(const std::uint8_t* data, std::uint32_t length, void* state)
{
    auto* h = static_cast<Hmac*>(state);
    if (h == nullptr || (data == nullptr && length != 0)) return 0;
    if (!h->started && !h->Start()) return 0;
    return GOST34311UpdateHash(data, length, &h->inner);
}

CG_EXPORT int GOST34311HMACFinalizeDataMac(void* state)
{
    auto* h = static_cast<Hmac*>(state);
    if (h == nullptr) return 0;
    if (!h->started && !h->Start()) return 0;
    return h->Finish() ? 1 : 0;
}

CG_SHAPE(GOST28147SelfTest, CGSelfTestFn);
CG_SHAPE(GOST28147AcquireState, CGAcquireStateFn);
CG_SHAPE(GOST28147ReleaseState, CGReleaseStateFn);
CG_SHAPE(GOST28147SetStateParameters, CGSetStateParametersFn);
CG_SHAPE(GOST28147GetStateParameters, CGGetStateParametersFn);
CG_SHAPE(GOST28147EncryptDataSSMode, CGGOST28147BlocksFn);
CG_SHAPE(GOST28147DecryptDataSSMode, CGGOST28147BlocksFn);
CG_SHAPE(GOST28147EncryptDataGMode, CGGOST28147DataFn);
CG_SHAPE(GOST28147EncryptDataGOFBMode, CGGOST28147DataFn);
CG_SHAPE(GOST28147DecryptDataGOFBMode, CGGOST28147DataFn);
CG_SHAPE(GOST28147GetDataMAC, CGGOST28147MACFn);
CG_SHAPE(GOST34311SelfTest, CGSelfTestFn);
CG_SHAPE(GOST34311AcquireState, CGAcquireStateFn);
CG_SHAPE(GOST34311ReleaseState, CGReleaseStateFn);
CG_SHAPE(GOST34311SetStateParameters, CGSetStateParametersFn);
CG_SHAPE(GOST34311GetStateParameters, CGGetStateParametersFn);
CG_SHAPE(GOST34311HashData, CGGOST34311HashDataFn);
CG_SHAPE(GOST34311FinalizeHash, CGGOST34311FinalizeHashFn);
CG_SHAPE(GOST34311HMACSelfTest, CGSelfTestFn);
CG_SHAPE(GOST34311HMACAcquireState, CGAcquireStateFn);
CG_SHAPE(GOST34311HMACReleaseState, CGReleaseStateFn);
CG_SHAPE(GOST34311HMACSetStateParameters, CGSetStateParametersFn);
CG_SHAPE(GOST34311HMACGetStateParameters, CGGetStateParametersFn);
CG_SHAPE(GOST34311HMACUpdateData, CGGOST34311HMACUpdateDataFn);
CG_SHAPE(GOST34311HMACFinalizeDataMac, CGStateFinalizeFn);
