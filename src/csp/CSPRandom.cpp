// Random numbers: the hardware random source with its statistical test, the
// noise generator of cgext.so, and the pseudo-random generator states of
// cgbase.so (classic and parameterised) with their seeding.
#include <cstring>

#include "csp/CSPGuard.h"
#include "csp/CSPRandomCore.h"
#include "support/CSPParameters.h"

using qvkcsp::Guarded;
using qvkcsp::SecureWipe;

namespace {

// The functions of this provider's libraries for the shared random operations.
csprandom::Functions RandomFunctions(const CSP& csp)
{
    const CSPLibraryBinding& b = csp.Binding();
    const CSPExtraFunctionTable* extra = csp.ExtraFunctions();
    bool initialized = (csp.Flags() & CSP_FLAG_INITIALIZED) != 0;
    return {initialized,
            initialized ? b.Ext<CGTSCGIsEnableFn>(CG_TSCGIsEnable) : nullptr,
            initialized ? b.Ext<CGTSCGGenerateSequenceFn>(CG_TSCGGenerateSequence) : nullptr,
            initialized ? b.Ext<CGBSTestSequenceFn>(CG_BSTestSequence) : nullptr,
            initialized ? b.Ext<CGBSReleaseStatisticFn>(CG_BSReleaseStatistic) : nullptr,
            initialized ? b.Base<CGPseudoRNGInitializeFn>(CG_DSTU4145PseudoRNGInitialize) : nullptr,
            extra != nullptr
                ? reinterpret_cast<CGPseudoRNGReinitializeFn>(extra->entries[CGX_DSTU4145PseudoRNGReinitialize])
                : nullptr,
            initialized ? b.Base<CGPseudoRNGGenerateSequenceFn>(CG_DSTU4145PseudoRNGGenerateSequence) : nullptr,
            csp.DefaultPRNG()};
}

// The seed material of a parameterised generator: key and seed as given or
// drawn, a drawn value mixed with the seed, and the time. The secret parts are
// wiped when it goes.
struct DenseSeed {
    std::uint8_t key[32];
    std::uint8_t seed[32];
    std::uint8_t mix[32];
    std::uint8_t time[8];

    DenseSeed() = default;
    DenseSeed(const DenseSeed&) = delete;
    DenseSeed& operator=(const DenseSeed&) = delete;
    ~DenseSeed()
    {
        SecureWipe(key, sizeof key);
        SecureWipe(seed, sizeof seed);
        SecureWipe(mix, sizeof mix);
    }

    // draw(buffer, length) answers a CSP code; the first failing draw's code
    // is answered.
    template <typename Draw>
    int Fill(const std::uint8_t* givenKey, const std::uint8_t* givenSeed, Draw&& draw)
    {
        int result = CSP_OK;
        if (givenKey != nullptr)
            std::memcpy(key, givenKey, 32);
        else
            result = draw(key, 32);
        if (result == CSP_OK) {
            if (givenSeed != nullptr)
                std::memcpy(seed, givenSeed, 32);
            else
                result = draw(seed, 32);
        }
        if (result == CSP_OK) result = draw(mix, 32);
        if (result != CSP_OK) return result;
        for (int i = 0; i < 32; ++i) mix[i] ^= seed[i];
        csprandom::TimeValue(time);
        return CSP_OK;
    }

    // Sets the kind (1), the parameter block when there is one, the key, the
    // mixed value and the time, in that order, stopping at a refusal.
    bool HandTo(CGSetStateParametersFn set, CSPHandle state, const std::uint8_t* parameterBlock) const
    {
        const std::uint32_t one = 1;
        return set(state, &one, 1) != 0 && (parameterBlock == nullptr || set(state, parameterBlock, 2) != 0) &&
               set(state, key, 3) != 0 && set(state, mix, 4) != 0 && set(state, time, 5) != 0;
    }
};

}  // namespace

// ---- hardware random source ----

int CSP::SetHardwareRNGObject(ICSPHardwareRNG* rng)
{
    flags_ &= ~CSP_FLAG_HARDWARE_RNG;
    rng_ = nullptr;
    if (rng != nullptr) {
        rng_ = rng;
        flags_ |= CSP_FLAG_HARDWARE_RNG;
    }
    return CSP_OK;
}

int CSP::SetHardwareRNG(ICSPHardwareRNG* rng)
{
    return Guarded([&] {
        SetHardwareRNGObject(nullptr);
        CSPContext context{rng, (flags_ & CSP_FLAG_HARDWARE) ? hardware_ : nullptr, defaultPrng_};
        int result = TestRNG(&context);
        if (result != CSP_OK) return result;
        return SetHardwareRNGObject(rng);
    });
}

int CSP::TestRNG(CSPContext* context)
{
    return csprandom::TestRNG(RandomFunctions(*this), context);
}

int CSP::TestRandomSourceCtx(CSPContext* context, std::uint8_t* buffer, std::uint32_t length)
{
    return csprandom::TestRandomSourceCtx(RandomFunctions(*this), context, buffer, length);
}

int CSP::TestRandomSource(std::uint8_t* buffer, std::uint32_t length)
{
    return qvkcsp::OnPlainContext(*this, &CSP::TestRandomSourceCtx, buffer, length);
}

// ---- drawing bytes ----

int CSP::GenerateRandomCtx(CSPContext* context, std::uint8_t* buffer, std::uint32_t length)
{
    return csprandom::GenerateRandomCtx(RandomFunctions(*this), context, buffer, length);
}

int CSP::GenerateRandom(std::uint8_t* buffer, std::uint32_t length)
{
    return qvkcsp::OnPlainContext(*this, &CSP::GenerateRandomCtx, buffer, length);
}

int CSP::GenerateTestedRandomCtx(CSPContext* context, std::uint8_t* buffer, std::uint32_t length)
{
    return csprandom::GenerateTestedRandomCtx(RandomFunctions(*this), context, buffer, length);
}

int CSP::GenerateTestedRandom(std::uint8_t* buffer, std::uint32_t length)
{
    return qvkcsp::OnPlainContext(*this, &CSP::GenerateTestedRandomCtx, buffer, length);
}

int CSP::GenerateNoiseRandom(CSPContext* context, std::uint8_t* buffer, std::uint32_t length)
{
    return Guarded([&] {
        if (!Initialized()) return CSP_NOT_INITIALIZED;
        if (context == nullptr) return CSP_BAD_ARGUMENT;
        if (context->rng == nullptr && binding_.Ext<CGTSCGIsEnableFn>(CG_TSCGIsEnable)() == 0)
            return CSP_NOISE_SOURCE_FAILED;
        if (buffer == nullptr) return CSP_OK;
        if (context->rng != nullptr) return TestRandomSourceCtx(context, buffer, length);
        return binding_.Ext<CGTSCGGenerateSequenceFn>(CG_TSCGGenerateSequence)(buffer, length) != 0
                   ? CSP_OK
                   : CSP_NOISE_SOURCE_FAILED;
    });
}

int CSP::SeedFromNoiseGenerator(CSPContext* context, std::uint8_t* seed, std::uint8_t* key, std::uint8_t* secondSeed)
{
    return csprandom::SeedFromNoiseGenerator(RandomFunctions(*this), context, seed, key, secondSeed);
}

int CSP::DrawForSeed(CSPContext* context, bool fromDefault, std::uint8_t* buffer, std::uint32_t length)
{
    if (fromDefault) {
        CSPContext local{nullptr, nullptr, defaultPrng_};
        return GenerateRandomCtx(&local, buffer, length);
    }
    return GenerateNoiseRandom(context, buffer, length);
}

int CSP::GenerateKeyAndIVCtx(CSPContext* context, std::uint8_t* key, std::uint32_t keyLength, std::uint8_t* iv,
                             std::uint32_t ivLength)
{
    return Guarded([&] {
        if (key != nullptr) {
            int result = GenerateTestedRandomCtx(context, key, keyLength);
            if (result != CSP_OK) return result;
        }
        if (iv != nullptr) return GenerateTestedRandomCtx(context, iv, ivLength);
        return CSP_OK;
    });
}

int CSP::GenerateKeyAndIV(std::uint8_t* key, std::uint32_t keyLength, std::uint8_t* iv, std::uint32_t ivLength)
{
    return qvkcsp::OnPlainContext(*this, &CSP::GenerateKeyAndIVCtx, key, keyLength, iv, ivLength);
}

int CSP::GenerateDataAndKeyCtx(CSPContext* context, std::uint8_t* data, std::uint32_t dataLength, std::uint8_t* key)
{
    return GenerateKeyAndIVCtx(context, data, dataLength, key, 32);
}

int CSP::GenerateDataAndKey(std::uint8_t* data, std::uint32_t dataLength, std::uint8_t* key)
{
    return qvkcsp::OnPlainContext(*this, &CSP::GenerateDataAndKeyCtx, data, dataLength, key);
}

// ---- classic generator states ----

int CSP::CreatePRNG(CSPContext* context, const std::uint8_t* sBox, const std::uint8_t* seed, const std::uint8_t* key)
{
    return csprandom::CreatePRNG(RandomFunctions(*this), context, sBox, seed, key);
}

int CSP::ReseedPRNG(CSPContext* context, const std::uint8_t* sBox, const std::uint8_t* seed, const std::uint8_t* key)
{
    return csprandom::ReseedPRNG(RandomFunctions(*this), context, sBox, seed, key);
}

int CSP::InitializePRNG(const std::uint8_t* sBox, const std::uint8_t* seed, const std::uint8_t* key)
{
    return Guarded([&] {
        CSPContext context = PlainContext();
        int result = ReseedPRNG(&context, sBox, seed, key);
        if (result != CSP_OK) return result;
        StoreDefaultPRNG(context.prng);
        return CSP_OK;
    });
}

// ---- parameterised generator states ----

int CSP::CreateDensePRNG(CSPContext* context, int kind, const std::uint8_t* parameterBlock, const std::uint8_t* key,
                         const std::uint8_t* seed)
{
    return Guarded([&] {
        if (kind == 0) return CreatePRNG(context, parameterBlock, seed, key);
        if (!Initialized()) return CSP_NOT_INITIALIZED;
        auto acquire = Extra<CGAcquireStateFn>(CGX_DSTU4145PseudoRNGAcquireState);
        auto set = Extra<CGSetStateParametersFn>(CGX_DSTU4145PseudoRNGSetStateParameters);
        if (acquire == nullptr || set == nullptr) return CSP_LIBRARY_ERROR;
        if (context == nullptr) return CSP_BAD_ARGUMENT;
        if (kind != 1) return CSP_LIBRARY_ERROR;

        const bool fromDefault = context->rng == nullptr && defaultPrng_ != nullptr;
        DenseSeed material;
        int result = material.Fill(key, seed, [&](std::uint8_t* buffer, std::uint32_t length) {
            return DrawForSeed(context, fromDefault, buffer, length);
        });
        if (result != CSP_OK) return result;

        CSPHandle state = acquire();
        if (state == nullptr) return CSP_NO_MEMORY;
        if (!material.HandTo(set, state, parameterBlock)) {
            // A refused parameter leaves nothing behind: the state is released.
            binding_.Base<CGPseudoRNGDeinitializeFn>(CG_DSTU4145PseudoRNGDeinitialize)(state);
            return CSP_NOISE_SOURCE_FAILED;
        }
        context->prng = state;
        return CSP_OK;
    });
}

int CSP::ReseedDensePRNG(CSPContext* context, int kind, const std::uint8_t* parameterBlock, const std::uint8_t* key,
                         const std::uint8_t* seed)
{
    return Guarded([&] {
        if (kind == 0) return ReseedPRNG(context, parameterBlock, seed, key);
        if (!Initialized()) return CSP_NOT_INITIALIZED;
        if (context == nullptr) return CSP_BAD_ARGUMENT;
        if (context->prng == nullptr) return CreateDensePRNG(context, kind, parameterBlock, key, seed);
        auto lock = Extra<CGPseudoRNGLockFn>(CGX_DSTU4145PseudoRNGLockState);
        auto unlock = Extra<CGPseudoRNGLockFn>(CGX_DSTU4145PseudoRNGUnlockState);
        auto set = Extra<CGSetStateParametersFn>(CGX_DSTU4145PseudoRNGSetStateParameters);
        if (lock == nullptr || unlock == nullptr || set == nullptr || kind != 1) return CSP_LIBRARY_ERROR;

        DenseSeed material;
        int result = material.Fill(key, seed, [&](std::uint8_t* buffer, std::uint32_t length) {
            return GenerateTestedRandomCtx(context, buffer, length);
        });
        if (result != CSP_OK) return result;

        lock(context->prng);
        bool ok = material.HandTo(set, context->prng, parameterBlock);
        unlock(context->prng);
        return ok ? CSP_OK : CSP_NOISE_SOURCE_FAILED;
    });
}

int CSP::ReseedDefaultPRNG(int kind, const std::uint8_t* parameterBlock, const std::uint8_t* key,
                           const std::uint8_t* seed)
{
    return Guarded([&] {
        CSPContext context = PlainContext();
        int result = ReseedDensePRNG(&context, kind, parameterBlock, key, seed);
        if (result != CSP_OK) return result;
        StoreDefaultPRNG(context.prng);
        return CSP_OK;
    });
}
