// The DSTU 4145 pseudo-random generator entries of cgbase.so. Both kinds run
// the generator of the DSTU 4145 annex over GOST 28147-89 in simple
// replacement: with D the 8-byte time value, I = E(D); each output block is
// x = E(I xor s), and the next seed s = E(x xor I).
//
// Classic state: made whole by DSTU4145PseudoRNGInitialize (mix as the seed,
// time, key, S-box). Parameterised state: acquired empty, then parameter 1
// (u32 1), 2 (optional 64-byte S-box), 3 (32-byte key), 4 (32-byte mixed
// seed, folded to 8 bytes) and 5 (8-byte time) are set; it generates once 3
// to 5 are set. Both carry a lock so that draws and reseeds do not interleave.
#include <cstring>
#include <mutex>
#include <new>

#include "CGExport.h"
#include "crypto/GOST28147.h"
#include "crypto/SecureWipe.h"
#include "support/CSPParameters.h"

using cglib::InjectedFailure;
using qvkcrypto::SecureWipe;

namespace {

// GOST 28147-89 standard S-box 0, for a state that is given none.
const uint8_t* DefaultSBox()
{
    static const GOST28147PackedSBox box = [] {
        GOST28147PackedSBox b{};
        CSPParameters().GetStandardSBox(0, &b);
        return b;
    }();
    return box.rows[0];
}

constexpr uint32_t Magic = 0x474e5250;  // "PRNG"

struct Generator {
    uint32_t magic = Magic;
    bool parameterised = false;
    uint32_t have = 0;  // parameterised: bits 3, 4, 5 for what is set
    GOST28147Context cipher{};
    uint8_t sBox[64];
    uint8_t key[32] = {};
    uint8_t seed[8] = {};
    uint8_t time[8] = {};
    uint8_t i[8] = {};
    std::recursive_mutex lock;

    bool Ready() const { return !parameterised || (have & 0x38) == 0x38; }

    // Keys the cipher and computes I = E(D).
    bool Start()
    {
        std::memset(&cipher, 0, sizeof cipher);
        if (!GOST28147SetParameter(&cipher, sBox, GOST28147_SBOX) ||
            !GOST28147SetParameter(&cipher, key, GOST28147_KEY))
            return false;
        std::memcpy(i, time, 8);
        return GOST28147EncryptECB(i, 1, &cipher) != 0;
    }

    bool Generate(uint8_t* out, uint32_t length)
    {
        uint8_t x[8];
        for (uint32_t done = 0; done < length;) {
            for (int k = 0; k < 8; ++k) x[k] = i[k] ^ seed[k];
            if (!GOST28147EncryptECB(x, 1, &cipher)) return false;
            uint32_t take = length - done < 8 ? length - done : 8;
            std::memcpy(out + done, x, take);
            done += take;
            for (int k = 0; k < 8; ++k) seed[k] = x[k] ^ i[k];
            if (!GOST28147EncryptECB(seed, 1, &cipher)) return false;
        }
        SecureWipe(x, sizeof x);
        return true;
    }

    ~Generator()
    {
        SecureWipe(&cipher, sizeof cipher);
        SecureWipe(key, sizeof key);
        SecureWipe(seed, sizeof seed);
        SecureWipe(i, sizeof i);
        magic = 0;
    }
};

Generator* Gen(void* state)
{
    auto* g = static_cast<Generator*>(state);
    return g != nullptr && g->magic == Magic ? g : nullptr;
}

bool Load(Generator* g, const uint8_t* mix, const uint8_t* time, const uint8_t* key, const uint8_t* sBox)
{
    std::memcpy(g->seed, mix, 8);
    std::memcpy(g->time, time, 8);
    std::memcpy(g->key, key, 32);
    std::memcpy(g->sBox, sBox != nullptr ? sBox : DefaultSBox(), 64);
    return g->Start();
}

}  // namespace

CG_EXPORT int DSTU4145PseudoRNGSelfTest(void)
{
    return 1;
}
CG_SHAPE(DSTU4145PseudoRNGSelfTest, CGSelfTestFn);

CG_EXPORT void* DSTU4145PseudoRNGInitialize(const uint8_t* mix, const uint8_t* time, const uint8_t* key,
                                            const uint8_t* sBox)
{
    if (mix == nullptr || time == nullptr || key == nullptr || InjectedFailure("DSTU4145PseudoRNGInitialize"))
        return nullptr;
    auto* g = new (std::nothrow) Generator;
    if (g == nullptr) return nullptr;
    if (!Load(g, mix, time, key, sBox)) {
        delete g;
        return nullptr;
    }
    return g;
}
CG_SHAPE(DSTU4145PseudoRNGInitialize, CGPseudoRNGInitializeFn);

CG_EXPORT int DSTU4145PseudoRNGReinitialize(const uint8_t* mix, const uint8_t* time, const uint8_t* key,
                                            const uint8_t* sBox, void* state)
{
    Generator* g = Gen(state);
    if (g == nullptr || mix == nullptr || time == nullptr || key == nullptr ||
        InjectedFailure("DSTU4145PseudoRNGReinitialize"))
        return 0;
    std::lock_guard<std::recursive_mutex> hold(g->lock);
    return Load(g, mix, time, key, sBox) ? 1 : 0;
}
CG_SHAPE(DSTU4145PseudoRNGReinitialize, CGPseudoRNGReinitializeFn);

CG_EXPORT int DSTU4145PseudoRNGDeinitialize(void* state)
{
    Generator* g = Gen(state);
    if (g == nullptr) return 0;
    delete g;
    return 1;
}
CG_SHAPE(DSTU4145PseudoRNGDeinitialize, CGPseudoRNGDeinitializeFn);

CG_EXPORT int DSTU4145PseudoRNGGenerateSequence(uint8_t* buffer, uint32_t length, void* state)
{
    Generator* g = Gen(state);
    if (g == nullptr || (buffer == nullptr && length != 0) || InjectedFailure("DSTU4145PseudoRNGGenerateSequence"))
        return 0;
    std::lock_guard<std::recursive_mutex> hold(g->lock);
    if (!g->Ready()) return 0;
    return g->Generate(buffer, length) ? 1 : 0;
}
CG_SHAPE(DSTU4145PseudoRNGGenerateSequence, CGPseudoRNGGenerateSequenceFn);

CG_EXPORT void* DSTU4145PseudoRNGAcquireState(void)
{
    if (InjectedFailure("DSTU4145PseudoRNGAcquireState")) return nullptr;
    auto* g = new (std::nothrow) Generator;
    if (g != nullptr) {
        g->parameterised = true;
        std::memcpy(g->sBox, DefaultSBox(), 64);
    }
    return g;
}
CG_SHAPE(DSTU4145PseudoRNGAcquireState, CGAcquireStateFn);

CG_EXPORT int DSTU4145PseudoRNGLockState(void* state)
{
    Generator* g = Gen(state);
    if (g == nullptr) return 0;
    g->lock.lock();
    return 1;
}
CG_SHAPE(DSTU4145PseudoRNGLockState, CGPseudoRNGLockFn);

CG_EXPORT int DSTU4145PseudoRNGUnlockState(void* state)
{
    Generator* g = Gen(state);
    if (g == nullptr) return 0;
    g->lock.unlock();
    return 1;
}
CG_SHAPE(DSTU4145PseudoRNGUnlockState, CGPseudoRNGLockFn);

CG_EXPORT int DSTU4145PseudoRNGSetStateParameters(void* state, const void* value, uint32_t code)
{
    Generator* g = Gen(state);
    if (g == nullptr || !g->parameterised || value == nullptr || InjectedFailure("DSTU4145PseudoRNGSetStateParameters"))
        return 0;
    std::lock_guard<std::recursive_mutex> hold(g->lock);
    const auto* bytes = static_cast<const uint8_t*>(value);
    switch (code) {
    case 1: {
        uint32_t kind;
        std::memcpy(&kind, value, 4);
        return kind == 1 ? 1 : 0;
    }
    case 2:
        std::memcpy(g->sBox, bytes, 64);
        break;
    case 3:
        std::memcpy(g->key, bytes, 32);
        g->have |= 0x08;
        break;
    case 4:
        for (int k = 0; k < 8; ++k) g->seed[k] = bytes[k] ^ bytes[8 + k] ^ bytes[16 + k] ^ bytes[24 + k];
        g->have |= 0x10;
        break;
    case 5:
        std::memcpy(g->time, bytes, 8);
        g->have |= 0x20;
        break;
    default:
        return 0;
    }
    return g->Ready() ? (g->Start() ? 1 : 0) : 1;
}
CG_SHAPE(DSTU4145PseudoRNGSetStateParameters, CGSetStateParametersFn);
