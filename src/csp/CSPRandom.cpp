// Random numbers: the hardware random source with its statistical test, the
// noise generator of cgext.so, and the pseudo-random generator states of
// cgbase.so (classic and parameterised) with their seeding.
#include <cstring>

#include "csp/CSPGuard.h"
#include "support/CSPParameters.h"

using qvkcsp::Guarded;
using qvkcsp::SecureWipe;

namespace {

constexpr std::uint32_t kTestLength = 2500;

// GOST 28147-89 standard S-box 0, for generators given no S-box.
const std::uint8_t* DefaultSBox()
{
    static const GOST28147PackedSBox box = [] {
        GOST28147PackedSBox b{};
        CSPParameters().GetStandardSBox(0, &b);
        return b;
    }();
    return box.rows[0];
}

// The current system time as 8 bytes, low 32-bit word first.
void TimeValue(std::uint8_t* out)
{
    SYSTEMTIME now;
    FILETIME file{};
    GetSystemTime(&now);
    SystemTimeToFileTime(&now, &file);
    std::uint32_t words[2] = {static_cast<std::uint32_t>(file.dwLowDateTime),
                              static_cast<std::uint32_t>(file.dwHighDateTime)};
    std::memcpy(out, words, 8);
}

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
    return Guarded([&] {
        if (!Initialized()) return CSP_NOT_INITIALIZED;
        if (context == nullptr) return CSP_BAD_ARGUMENT;
        if (context->rng == nullptr) return CSP_OK;
        std::uint8_t buffer[kTestLength];
        int result = TestRandomSourceCtx(context, buffer, kTestLength);
        SecureWipe(buffer, sizeof buffer);
        return result;
    });
}

int CSP::TestRandomSourceCtx(CSPContext* context, std::uint8_t* buffer, std::uint32_t length)
{
    return Guarded([&] {
        if (!Initialized()) return CSP_NOT_INITIALIZED;
        if (context == nullptr) return CSP_BAD_ARGUMENT;
        if (context->rng == nullptr) return CSP_NO_OBJECT;
        if (buffer == nullptr && length != 0) return CSP_BAD_ARGUMENT;
        const unsigned retries = length == kTestLength ? 2 : 16;
        auto test = binding_.Ext<CGBSTestSequenceFn>(CG_BSTestSequence);
        auto release = binding_.Ext<CGBSReleaseStatisticFn>(CG_BSReleaseStatistic);
        for (unsigned failures = 0;;) {
            if (context->rng->GenerateRandom(buffer, length) == 0) return CSP_RNG_FAILED;
            // Draws shorter than 4 or longer than 2,048 bytes are taken
            // untested, except the 2,500-byte test draw.
            if (length - 4u > 2044u && length != kTestLength) return CSP_OK;
            void* statistics = nullptr;
            int passed = test(&statistics, buffer, length * 8);
            release(statistics);
            if (passed != 0) return CSP_OK;
            if (++failures > retries) return CSP_RANDOM_TEST_FAILED;
        }
    });
}

int CSP::TestRandomSource(std::uint8_t* buffer, std::uint32_t length)
{
    return Guarded([&] {
        CSPContext context = PlainContext();
        return TestRandomSourceCtx(&context, buffer, length);
    });
}

// ---- drawing bytes ----

int CSP::GenerateRandomCtx(CSPContext* context, std::uint8_t* buffer, std::uint32_t length)
{
    return Guarded([&] {
        if (!Initialized()) return CSP_NOT_INITIALIZED;
        if (context == nullptr) return CSP_BAD_ARGUMENT;
        if (context->prng == nullptr) return CSP_NO_OBJECT;
        if (buffer == nullptr && length != 0) return CSP_BAD_ARGUMENT;
        binding_.Base<CGPseudoRNGGenerateSequenceFn>(CG_DSTU4145PseudoRNGGenerateSequence)(buffer, length,
                                                                                           context->prng);
        return CSP_OK;
    });
}

int CSP::GenerateRandom(std::uint8_t* buffer, std::uint32_t length)
{
    return Guarded([&] {
        CSPContext context = PlainContext();
        return GenerateRandomCtx(&context, buffer, length);
    });
}

int CSP::GenerateTestedRandomCtx(CSPContext* context, std::uint8_t* buffer, std::uint32_t length)
{
    return Guarded([&] {
        int result = TestRandomSourceCtx(context, buffer, length);
        if (result == CSP_OK) return CSP_OK;
        if (result == CSP_NOT_INITIALIZED || result == CSP_BAD_ARGUMENT) return result;
        return GenerateRandomCtx(context, buffer, length);
    });
}

int CSP::GenerateTestedRandom(std::uint8_t* buffer, std::uint32_t length)
{
    return Guarded([&] {
        CSPContext context = PlainContext();
        return GenerateTestedRandomCtx(&context, buffer, length);
    });
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
    return Guarded([&] {
        if (!Initialized()) return CSP_NOT_INITIALIZED;
        if (context == nullptr) return CSP_BAD_ARGUMENT;
        if (context->rng == nullptr && binding_.Ext<CGTSCGIsEnableFn>(CG_TSCGIsEnable)() == 0)
            return CSP_NOISE_SOURCE_FAILED;
        auto fill = [&](std::uint8_t* buffer, std::uint32_t size) {
            if (buffer == nullptr) return CSP_OK;
            if (context->rng != nullptr) return TestRandomSourceCtx(context, buffer, size);
            return binding_.Ext<CGTSCGGenerateSequenceFn>(CG_TSCGGenerateSequence)(buffer, size) != 0
                       ? CSP_OK
                       : CSP_NOISE_SOURCE_FAILED;
        };
        int result = fill(seed, 8);
        if (result != CSP_OK) return result;
        result = fill(key, 32);
        if (result != CSP_OK) {
            SecureWipe(seed, seed ? 8 : 0);
            return result;
        }
        result = fill(secondSeed, 8);
        if (result != CSP_OK) {
            SecureWipe(key, key ? 32 : 0);
            SecureWipe(seed, seed ? 8 : 0);
        }
        return result;
    });
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
    return Guarded([&] {
        CSPContext context = PlainContext();
        return GenerateKeyAndIVCtx(&context, key, keyLength, iv, ivLength);
    });
}

int CSP::GenerateDataAndKeyCtx(CSPContext* context, std::uint8_t* data, std::uint32_t dataLength, std::uint8_t* key)
{
    return GenerateKeyAndIVCtx(context, data, dataLength, key, 32);
}

int CSP::GenerateDataAndKey(std::uint8_t* data, std::uint32_t dataLength, std::uint8_t* key)
{
    return Guarded([&] {
        CSPContext context = PlainContext();
        return GenerateDataAndKeyCtx(&context, data, dataLength, key);
    });
}

// ---- classic generator states ----

int CSP::CreatePRNG(CSPContext* context, const std::uint8_t* sBox, const std::uint8_t* seed, const std::uint8_t* key)
{
    return Guarded([&] {
        if (!Initialized()) return CSP_NOT_INITIALIZED;
        if (context == nullptr) return CSP_BAD_ARGUMENT;
        const std::uint8_t* box = sBox != nullptr ? sBox : DefaultSBox();
        std::uint8_t seedCopy[8] = {}, keyCopy[32] = {}, mix[8] = {}, time[8];
        if (seed != nullptr) std::memcpy(seedCopy, seed, 8);
        if (key != nullptr) std::memcpy(keyCopy, key, 32);
        auto wipe = [&] {
            SecureWipe(seedCopy, sizeof seedCopy);
            SecureWipe(keyCopy, sizeof keyCopy);
            SecureWipe(mix, sizeof mix);
        };
        int result;
        if (context->rng == nullptr && defaultPrng_ != nullptr) {
            CSPContext local{nullptr, nullptr, defaultPrng_};
            result = CSP_OK;
            if (seed == nullptr) result = GenerateRandomCtx(&local, seedCopy, 8);
            if (result == CSP_OK && key == nullptr) result = GenerateRandomCtx(&local, keyCopy, 32);
            if (result == CSP_OK) result = GenerateRandomCtx(&local, mix, 8);
        } else {
            result = SeedFromNoiseGenerator(context, seed == nullptr ? seedCopy : nullptr,
                                            key == nullptr ? keyCopy : nullptr, mix);
        }
        if (result != CSP_OK) {
            wipe();
            return CSP_NOISE_SOURCE_FAILED;
        }
        for (int i = 0; i < 8; ++i) mix[i] ^= seedCopy[i];
        TimeValue(time);
        CSPHandle state =
            binding_.Base<CGPseudoRNGInitializeFn>(CG_DSTU4145PseudoRNGInitialize)(mix, time, keyCopy, box);
        wipe();
        if (state == nullptr) return CSP_NO_MEMORY;
        context->prng = state;
        return CSP_OK;
    });
}

int CSP::ReseedPRNG(CSPContext* context, const std::uint8_t* sBox, const std::uint8_t* seed, const std::uint8_t* key)
{
    return Guarded([&] {
        if (!Initialized()) return CSP_NOT_INITIALIZED;
        if (context == nullptr) return CSP_BAD_ARGUMENT;
        if (context->prng == nullptr) return CreatePRNG(context, sBox, seed, key);
        auto reinitialize = Extra<CGPseudoRNGReinitializeFn>(CGX_DSTU4145PseudoRNGReinitialize);
        if (reinitialize == nullptr) return CSP_LIBRARY_ERROR;
        const std::uint8_t* box = sBox != nullptr ? sBox : DefaultSBox();
        std::uint8_t seedCopy[8] = {}, keyCopy[32] = {}, mix[8] = {}, time[8];
        if (seed != nullptr) std::memcpy(seedCopy, seed, 8);
        if (key != nullptr) std::memcpy(keyCopy, key, 32);
        int result = SeedFromNoiseGenerator(context, seed == nullptr ? seedCopy : nullptr,
                                            key == nullptr ? keyCopy : nullptr, mix);
        if (result == CSP_OK) {
            for (int i = 0; i < 8; ++i) mix[i] ^= seedCopy[i];
            TimeValue(time);
            result = reinitialize(mix, time, keyCopy, box, context->prng) != 0 ? CSP_OK : CSP_NO_MEMORY;
        } else {
            result = CSP_NOISE_SOURCE_FAILED;
        }
        SecureWipe(seedCopy, sizeof seedCopy);
        SecureWipe(keyCopy, sizeof keyCopy);
        SecureWipe(mix, sizeof mix);
        return result;
    });
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
        std::uint8_t keyCopy[32], seedCopy[32], mix[32], time[8];
        auto wipe = [&] {
            SecureWipe(keyCopy, sizeof keyCopy);
            SecureWipe(seedCopy, sizeof seedCopy);
            SecureWipe(mix, sizeof mix);
        };
        int result = CSP_OK;
        if (key != nullptr)
            std::memcpy(keyCopy, key, 32);
        else
            result = DrawForSeed(context, fromDefault, keyCopy, 32);
        if (result == CSP_OK) {
            if (seed != nullptr)
                std::memcpy(seedCopy, seed, 32);
            else
                result = DrawForSeed(context, fromDefault, seedCopy, 32);
        }
        if (result == CSP_OK) result = DrawForSeed(context, fromDefault, mix, 32);
        if (result != CSP_OK) {
            wipe();
            return result;
        }
        for (int i = 0; i < 32; ++i) mix[i] ^= seedCopy[i];
        TimeValue(time);

        CSPHandle state = acquire();
        if (state == nullptr) {
            wipe();
            return CSP_NO_MEMORY;
        }
        const std::uint32_t one = 1;
        bool ok = set(state, &one, 1) != 0 && (parameterBlock == nullptr || set(state, parameterBlock, 2) != 0) &&
                  set(state, keyCopy, 3) != 0 && set(state, mix, 4) != 0 && set(state, time, 5) != 0;
        wipe();
        if (!ok) {
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

        std::uint8_t keyCopy[32], seedCopy[32], mix[32], time[8];
        auto wipe = [&] {
            SecureWipe(keyCopy, sizeof keyCopy);
            SecureWipe(seedCopy, sizeof seedCopy);
            SecureWipe(mix, sizeof mix);
        };
        int result = CSP_OK;
        if (key != nullptr)
            std::memcpy(keyCopy, key, 32);
        else
            result = GenerateTestedRandomCtx(context, keyCopy, 32);
        if (result == CSP_OK) {
            if (seed != nullptr)
                std::memcpy(seedCopy, seed, 32);
            else
                result = GenerateTestedRandomCtx(context, seedCopy, 32);
        }
        if (result == CSP_OK) result = GenerateTestedRandomCtx(context, mix, 32);
        if (result != CSP_OK) {
            wipe();
            return result;
        }
        for (int i = 0; i < 32; ++i) mix[i] ^= seedCopy[i];
        TimeValue(time);

        const std::uint32_t one = 1;
        lock(context->prng);
        bool ok = set(context->prng, &one, 1) != 0 &&
                  (parameterBlock == nullptr || set(context->prng, parameterBlock, 2) != 0) &&
                  set(context->prng, keyCopy, 3) != 0 && set(context->prng, mix, 4) != 0 &&
                  set(context->prng, time, 5) != 0;
        unlock(context->prng);
        wipe();
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
