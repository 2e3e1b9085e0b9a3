// The random-number operations shared by the CSP and the CSPI; each passes
// the functions of its own libraries (see CSPRandomCore.h).
#include "csp/CSPRandomCore.h"

#include <cstring>

#include "csp/CSPGuard.h"
#include "support/CSPParameters.h"

using qvkcsp::Guarded;
using qvkcsp::SecureWipe;

namespace csprandom {

namespace {

constexpr std::uint32_t kTestLength = 2500;

}  // namespace

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

const std::uint8_t* DefaultSBox()
{
    static const GOST28147PackedSBox box = [] {
        GOST28147PackedSBox b{};
        CSPParameters().GetStandardSBox(0, &b);
        return b;
    }();
    return box.rows[0];
}

int TestRNG(const Functions& f, CSPContext* context)
{
    return Guarded([&] {
        if (!f.initialized) return CSP_NOT_INITIALIZED;
        if (context == nullptr) return CSP_BAD_ARGUMENT;
        if (context->rng == nullptr) return CSP_OK;
        std::uint8_t buffer[kTestLength];
        int result = TestRandomSourceCtx(f, context, buffer, kTestLength);
        SecureWipe(buffer, sizeof buffer);
        return result;
    });
}

int TestRandomSourceCtx(const Functions& f, CSPContext* context, std::uint8_t* buffer, std::uint32_t length)
{
    return Guarded([&] {
        if (!f.initialized) return CSP_NOT_INITIALIZED;
        if (context == nullptr) return CSP_BAD_ARGUMENT;
        if (context->rng == nullptr) return CSP_NO_OBJECT;
        if (buffer == nullptr && length != 0) return CSP_BAD_ARGUMENT;
        const unsigned retries = length == kTestLength ? 2 : 16;
        auto test = f.test;
        auto release = f.releaseStatistic;
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

int GenerateRandomCtx(const Functions& f, CSPContext* context, std::uint8_t* buffer, std::uint32_t length)
{
    return Guarded([&] {
        if (!f.initialized) return CSP_NOT_INITIALIZED;
        if (context == nullptr) return CSP_BAD_ARGUMENT;
        if (context->prng == nullptr) return CSP_NO_OBJECT;
        if (buffer == nullptr && length != 0) return CSP_BAD_ARGUMENT;
        f.generate(buffer, length, context->prng);
        return CSP_OK;
    });
}

int GenerateTestedRandomCtx(const Functions& f, CSPContext* context, std::uint8_t* buffer, std::uint32_t length)
{
    return Guarded([&] {
        int result = TestRandomSourceCtx(f, context, buffer, length);
        if (result == CSP_OK) return CSP_OK;
        if (result == CSP_NOT_INITIALIZED || result == CSP_BAD_ARGUMENT) return result;
        return GenerateRandomCtx(f, context, buffer, length);
    });
}

int SeedFromNoiseGenerator(const Functions& f, CSPContext* context, std::uint8_t* seed, std::uint8_t* key,
                           std::uint8_t* secondSeed)
{
    return Guarded([&] {
        if (!f.initialized) return CSP_NOT_INITIALIZED;
        if (context == nullptr) return CSP_BAD_ARGUMENT;
        if (context->rng == nullptr && f.isEnable() == 0) return CSP_NOISE_SOURCE_FAILED;
        auto fill = [&](std::uint8_t* buffer, std::uint32_t size) {
            if (buffer == nullptr) return CSP_OK;
            if (context->rng != nullptr) return TestRandomSourceCtx(f, context, buffer, size);
            return f.noise(buffer, size) != 0 ? CSP_OK : CSP_NOISE_SOURCE_FAILED;
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

int CreatePRNG(const Functions& f, CSPContext* context, const std::uint8_t* sBox, const std::uint8_t* seed,
               const std::uint8_t* key)
{
    return Guarded([&] {
        if (!f.initialized) return CSP_NOT_INITIALIZED;
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
        if (context->rng == nullptr && f.defaultPrng != nullptr) {
            CSPContext local{nullptr, nullptr, f.defaultPrng};
            result = CSP_OK;
            if (seed == nullptr) result = GenerateRandomCtx(f, &local, seedCopy, 8);
            if (result == CSP_OK && key == nullptr) result = GenerateRandomCtx(f, &local, keyCopy, 32);
            if (result == CSP_OK) result = GenerateRandomCtx(f, &local, mix, 8);
        } else {
            result = SeedFromNoiseGenerator(f, context, seed == nullptr ? seedCopy : nullptr,
                                            key == nullptr ? keyCopy : nullptr, mix);
        }
        if (result != CSP_OK) {
            wipe();
            return CSP_NOISE_SOURCE_FAILED;
        }
        for (int i = 0; i < 8; ++i) mix[i] ^= seedCopy[i];
        TimeValue(time);
        CSPHandle state = f.initialize(mix, time, keyCopy, box);
        wipe();
        if (state == nullptr) return CSP_NO_MEMORY;
        context->prng = state;
        return CSP_OK;
    });
}

int ReseedPRNG(const Functions& f, CSPContext* context, const std::uint8_t* sBox, const std::uint8_t* seed,
               const std::uint8_t* key)
{
    return Guarded([&] {
        if (!f.initialized) return CSP_NOT_INITIALIZED;
        if (context == nullptr) return CSP_BAD_ARGUMENT;
        if (context->prng == nullptr) return CreatePRNG(f, context, sBox, seed, key);
        auto reinitialize = f.reinitialize;
        if (reinitialize == nullptr) return CSP_LIBRARY_ERROR;
        const std::uint8_t* box = sBox != nullptr ? sBox : DefaultSBox();
        std::uint8_t seedCopy[8] = {}, keyCopy[32] = {}, mix[8] = {}, time[8];
        if (seed != nullptr) std::memcpy(seedCopy, seed, 8);
        if (key != nullptr) std::memcpy(keyCopy, key, 32);
        int result = SeedFromNoiseGenerator(f, context, seed == nullptr ? seedCopy : nullptr,
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

}  // namespace csprandom
