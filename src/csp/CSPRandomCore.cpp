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
        // A refused draw is a failure, never bytes to use: whatever the
        // library left in the buffer goes.
        if (f.generate == nullptr || f.generate(buffer, length, context->prng) == 0) {
            SecureWipe(buffer, length);
            return CSP_LIBRARY_ERROR;
        }
        return CSP_OK;
    });
}

int GenerateTestedRandomCtx(const Functions& f, CSPContext* context, std::uint8_t* buffer, std::uint32_t length)
{
    return Guarded([&] {
        int result = TestRandomSourceCtx(f, context, buffer, length);
        if (result == CSP_OK) return CSP_OK;
        if (result == CSP_NOT_INITIALIZED || result == CSP_BAD_ARGUMENT) return result;
        result = GenerateRandomCtx(f, context, buffer, length);
        // Neither a draw that failed its test nor anything else is left to
        // be taken for random bytes.
        if (result != CSP_OK && buffer != nullptr) SecureWipe(buffer, length);
        return result;
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

namespace {

// The seed material of a classic generator: seed and key as given (zeros to
// be drawn into otherwise), the mixing value and the time. The secret parts
// are wiped when it goes.
struct ClassicSeed {
    std::uint8_t seed[8] = {};
    std::uint8_t key[32] = {};
    std::uint8_t mix[8] = {};
    std::uint8_t time[8];

    ClassicSeed(const std::uint8_t* givenSeed, const std::uint8_t* givenKey)
    {
        if (givenSeed != nullptr) std::memcpy(seed, givenSeed, 8);
        if (givenKey != nullptr) std::memcpy(key, givenKey, 32);
    }
    ClassicSeed(const ClassicSeed&) = delete;
    ClassicSeed& operator=(const ClassicSeed&) = delete;
    ~ClassicSeed()
    {
        SecureWipe(seed, sizeof seed);
        SecureWipe(key, sizeof key);
        SecureWipe(mix, sizeof mix);
    }

    // Draws the mixing value, and the seed and key not given, from the noise
    // generator (or the hardware source).
    int DrawFromNoise(const Functions& f, CSPContext* context, const std::uint8_t* givenSeed,
                      const std::uint8_t* givenKey)
    {
        return SeedFromNoiseGenerator(f, context, givenSeed == nullptr ? seed : nullptr,
                                      givenKey == nullptr ? key : nullptr, mix);
    }
    // Once drawn: the seed is mixed in and the time taken.
    void Finish()
    {
        for (int i = 0; i < 8; ++i) mix[i] ^= seed[i];
        TimeValue(time);
    }
};

}  // namespace

int CreatePRNG(const Functions& f, CSPContext* context, const std::uint8_t* sBox, const std::uint8_t* seed,
               const std::uint8_t* key)
{
    return Guarded([&] {
        if (!f.initialized) return CSP_NOT_INITIALIZED;
        if (context == nullptr) return CSP_BAD_ARGUMENT;
        const std::uint8_t* box = sBox != nullptr ? sBox : DefaultSBox();
        ClassicSeed material(seed, key);
        int result;
        if (context->rng == nullptr && f.defaultPrng != nullptr) {
            CSPContext local{nullptr, nullptr, f.defaultPrng};
            result = CSP_OK;
            if (seed == nullptr) result = GenerateRandomCtx(f, &local, material.seed, 8);
            if (result == CSP_OK && key == nullptr) result = GenerateRandomCtx(f, &local, material.key, 32);
            if (result == CSP_OK) result = GenerateRandomCtx(f, &local, material.mix, 8);
        } else {
            result = material.DrawFromNoise(f, context, seed, key);
        }
        if (result != CSP_OK) return CSP_NOISE_SOURCE_FAILED;
        material.Finish();
        CSPHandle state = f.initialize(material.mix, material.time, material.key, box);
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
        ClassicSeed material(seed, key);
        if (material.DrawFromNoise(f, context, seed, key) != CSP_OK) return CSP_NOISE_SOURCE_FAILED;
        material.Finish();
        return reinitialize(material.mix, material.time, material.key, box, context->prng) != 0 ? CSP_OK
                                                                                                : CSP_NO_MEMORY;
    });
}

}  // namespace csprandom
