// DSTU 7564 hashing and HMAC, their comparisons and the DSTU 7564-based key
// derivations, all through extension entries of cgbase.so.
#include <cstring>

#include "csp/CSPGuard.h"

using qvkcsp::BitsHigh;
using qvkcsp::BitsLow;
using qvkcsp::Guarded;
using qvkcsp::SecureWipe;

namespace {

// The largest DSTU 7564 output: the compare buffers hold this much.
constexpr std::uint32_t kMaxOutput = 64;

}  // namespace

// ---- hash ----

int CSP::BeginHashDSTU7564(const std::uint8_t* parameterBlock, std::uint32_t hashLength, CSPHandle* state)
{
    return Guarded([&] {
        if (!Initialized()) return CSP_NOT_INITIALIZED;
        auto set = Extra<CGSetStateParametersFn>(CGX_DSTU7564SetStateParameters);
        auto acquire = Extra<CGAcquireStateFn>(CGX_DSTU7564AcquireState);
        if (set == nullptr || acquire == nullptr) return CSP_LIBRARY_ERROR;
        if (state == nullptr) return CSP_BAD_ARGUMENT;
        CSPHandle handle = acquire();
        if (handle == nullptr) return CSP_NO_MEMORY;
        const std::uint32_t bits = hashLength * 8;
        if ((parameterBlock != nullptr && set(handle, parameterBlock, 1) == 0) || set(handle, &bits, 2) == 0) {
            if (auto release = Extra<CGReleaseStateFn>(CGX_DSTU7564ReleaseState)) release(handle);
            return CSP_LIBRARY_ERROR;
        }
        *state = handle;
        return CSP_OK;
    });
}

int CSP::UpdateHashDSTU7564(const std::uint8_t* data, std::uint32_t length, CSPHandle* state)
{
    return Guarded([&] {
        if (!Initialized()) return CSP_NOT_INITIALIZED;
        auto hash = Extra<CGDSTU7564HashDataFn>(CGX_DSTU7564HashData);
        if (hash == nullptr) return CSP_LIBRARY_ERROR;
        if (state == nullptr) return CSP_BAD_ARGUMENT;
        if (hash(data, BitsLow(length), BitsHigh(length), *state) != 0) return CSP_OK;
        if (auto release = Extra<CGReleaseStateFn>(CGX_DSTU7564ReleaseState)) release(*state);
        // The state is gone: a later finish or destroy must not free it again.
        *state = nullptr;
        return CSP_LIBRARY_ERROR;
    });
}

int CSP::FinishHashDSTU7564(std::uint8_t* hash, CSPHandle* state)
{
    return Guarded([&] {
        if (!Initialized()) return CSP_NOT_INITIALIZED;
        auto finalize = Extra<CGStateFinalizeFn>(CGX_DSTU7564FinalizeHash);
        auto get = Extra<CGGetStateParametersFn>(CGX_DSTU7564GetStateParameters);
        if (finalize == nullptr || get == nullptr) return CSP_LIBRARY_ERROR;
        if (state == nullptr) return CSP_BAD_ARGUMENT;
        auto release = Extra<CGReleaseStateFn>(CGX_DSTU7564ReleaseState);
        bool ok = hash == nullptr || (finalize(*state) != 0 && get(*state, hash, 3) != 0);
        if (release == nullptr) return CSP_LIBRARY_ERROR;
        release(*state);
        *state = nullptr;
        return ok ? CSP_OK : CSP_LIBRARY_ERROR;
    });
}

int CSP::HashDSTU7564(const std::uint8_t* data, std::uint32_t length, const std::uint8_t* parameterBlock,
                      std::uint32_t hashLength, std::uint8_t* hash)
{
    return Guarded([&] {
        CSPHandle state = nullptr;
        int result = BeginHashDSTU7564(parameterBlock, hashLength, &state);
        if (result != CSP_OK) return result;
        result = UpdateHashDSTU7564(data, length, &state);
        if (result != CSP_OK) return result;
        return FinishHashDSTU7564(hash, &state);
    });
}

int CSP::CompareHashDSTU7564(const std::uint8_t* data, std::uint32_t length, const std::uint8_t* parameterBlock,
                             std::uint32_t hashLength, const std::uint8_t* expectedHash)
{
    return Guarded([&] {
        // No DSTU 7564 output is longer than the compare buffer.
        if (hashLength > kMaxOutput) return CSP_BAD_ARGUMENT;
        std::uint8_t computed[kMaxOutput];
        int result = HashDSTU7564(data, length, parameterBlock, hashLength, computed);
        if (result == CSP_OK)
            result = std::memcmp(computed, expectedHash, hashLength) == 0 ? CSP_OK : CSP_VALUE_MISMATCH;
        SecureWipe(computed, sizeof computed);
        return result;
    });
}

int CSP::HashDataDSTU7564Ctx(CSPContext* context, const std::uint8_t* data, std::uint32_t bitLength,
                             const std::uint8_t* parameterBlock, std::uint32_t hashLength, std::uint8_t* hash)
{
    return Guarded([&] {
        if (!Initialized()) return CSP_NOT_INITIALIZED;
        if (context == nullptr) return CSP_BAD_ARGUMENT;
        if (data != nullptr) return HashDSTU7564(data, bitLength / 8, parameterBlock, hashLength, hash);
        if (context->hardware == nullptr) return CSP_NO_OBJECT;
        if (hashLength != 32 || hash == nullptr) return CSP_BAD_ARGUMENT;
        std::uint8_t stored[32];
        if (context->hardware->GetStoredHash(stored) == 0) return CSP_HARDWARE_ERROR;
        std::memcpy(hash, stored, 32);
        SecureWipe(stored, sizeof stored);
        return CSP_OK;
    });
}

int CSP::HashDataDSTU7564(const std::uint8_t* data, std::uint32_t bitLength, const std::uint8_t* parameterBlock,
                          std::uint32_t hashLength, std::uint8_t* hash)
{
    return Guarded([&] {
        CSPContext context = PlainContext();
        return HashDataDSTU7564Ctx(&context, data, bitLength, parameterBlock, hashLength, hash);
    });
}

// ---- HMAC ----

int CSP::BeginHMACDSTU7564(const std::uint8_t* parameterBlock, const std::uint8_t* key, std::uint32_t macLength,
                           CSPHandle* state)
{
    return Guarded([&] {
        if (!Initialized()) return CSP_NOT_INITIALIZED;
        auto set = Extra<CGSetStateParametersFn>(CGX_DSTU7564HMACSetStateParameters);
        auto acquire = Extra<CGAcquireStateFn>(CGX_DSTU7564HMACAcquireState);
        if (set == nullptr || acquire == nullptr) return CSP_LIBRARY_ERROR;
        if (state == nullptr) return CSP_BAD_ARGUMENT;
        CSPHandle handle = acquire();
        if (handle == nullptr) return CSP_NO_MEMORY;
        const std::uint32_t bits = macLength * 8;
        if ((parameterBlock != nullptr && set(handle, parameterBlock, 1) == 0) || set(handle, &bits, 2) == 0 ||
            set(handle, key, 3) == 0) {
            if (auto release = Extra<CGReleaseStateFn>(CGX_DSTU7564HMACReleaseState)) release(handle);
            return CSP_LIBRARY_ERROR;
        }
        *state = handle;
        return CSP_OK;
    });
}

int CSP::UpdateHMACDSTU7564(const std::uint8_t* data, std::uint32_t length, CSPHandle* state)
{
    return Guarded([&] {
        if (!Initialized()) return CSP_NOT_INITIALIZED;
        auto update = Extra<CGDSTU7564HashDataFn>(CGX_DSTU7564HMACUpdateData);
        if (update == nullptr) return CSP_LIBRARY_ERROR;
        if (state == nullptr) return CSP_BAD_ARGUMENT;
        if (update(data, BitsLow(length), BitsHigh(length), *state) != 0) return CSP_OK;
        if (auto release = Extra<CGReleaseStateFn>(CGX_DSTU7564HMACReleaseState)) release(*state);
        *state = nullptr;
        return CSP_LIBRARY_ERROR;
    });
}

int CSP::FinishHMACDSTU7564(std::uint8_t* mac, CSPHandle* state)
{
    return Guarded([&] {
        if (!Initialized()) return CSP_NOT_INITIALIZED;
        auto finalize = Extra<CGStateFinalizeFn>(CGX_DSTU7564HMACFinalizeDataMac);
        auto get = Extra<CGGetStateParametersFn>(CGX_DSTU7564HMACGetStateParameters);
        if (finalize == nullptr || get == nullptr) return CSP_LIBRARY_ERROR;
        if (state == nullptr) return CSP_BAD_ARGUMENT;
        auto release = Extra<CGReleaseStateFn>(CGX_DSTU7564HMACReleaseState);
        bool ok = mac == nullptr || (finalize(*state) != 0 && get(*state, mac, 6) != 0);
        if (release == nullptr) return CSP_LIBRARY_ERROR;
        release(*state);
        *state = nullptr;
        return ok ? CSP_OK : CSP_LIBRARY_ERROR;
    });
}

int CSP::ComputeHMACDSTU7564(const std::uint8_t* data, std::uint32_t length, const std::uint8_t* parameterBlock,
                             const std::uint8_t* key, std::uint32_t macLength, std::uint8_t* mac)
{
    return Guarded([&] {
        CSPHandle state = nullptr;
        int result = BeginHMACDSTU7564(parameterBlock, key, macLength, &state);
        if (result != CSP_OK) return result;
        result = UpdateHMACDSTU7564(data, length, &state);
        if (result != CSP_OK) return result;
        return FinishHMACDSTU7564(mac, &state);
    });
}

int CSP::CompareHMACDSTU7564(const std::uint8_t* data, std::uint32_t length, const std::uint8_t* parameterBlock,
                             const std::uint8_t* key, std::uint32_t macLength, const std::uint8_t* expectedMac)
{
    return Guarded([&] {
        if (macLength > kMaxOutput) return CSP_BAD_ARGUMENT;
        std::uint8_t computed[kMaxOutput];
        int result = ComputeHMACDSTU7564(data, length, parameterBlock, key, macLength, computed);
        if (result == CSP_OK) result = std::memcmp(computed, expectedMac, macLength) == 0 ? CSP_OK : CSP_VALUE_MISMATCH;
        SecureWipe(computed, sizeof computed);
        return result;
    });
}

// ---- key derivations ----

int CSP::DeriveKeyPKCS12DSTU7564(const std::uint8_t* password, std::uint32_t passwordLength, const std::uint8_t* salt,
                                 std::uint32_t saltLength, std::uint32_t iterations, std::uint32_t purpose,
                                 std::uint8_t* key, std::uint32_t keyLength)
{
    return Guarded([&] {
        if (!Initialized()) return CSP_NOT_INITIALIZED;
        auto derive = Extra<CGPKCS12PBKDFDSTU7564DeriveKeyFn>(CGX_PKCS12PBKDFDSTU7564DeriveKey);
        if (derive == nullptr) return CSP_LIBRARY_ERROR;
        return derive(password, passwordLength, salt, saltLength, iterations, purpose, keyLength * 8, key, keyLength) !=
                       0
                   ? CSP_OK
                   : CSP_LIBRARY_ERROR;
    });
}

int CSP::DeriveKeyPBKDF2DSTU7564(const std::uint8_t* password, std::uint32_t passwordLength, const std::uint8_t* salt,
                                 std::uint32_t saltLength, std::uint32_t iterations, const std::uint8_t* parameterBlock,
                                 std::uint32_t keyLength, std::uint8_t* key, std::uint32_t macLength)
{
    return Guarded([&] {
        if (!Initialized()) return CSP_NOT_INITIALIZED;
        auto derive = Extra<CGPKCS5PBKDF2DSTU7564DeriveKeyFn>(CGX_PKCS5PBKDF2DSTU7564DeriveKey);
        if (derive == nullptr) return CSP_LIBRARY_ERROR;
        return derive(password, passwordLength, salt, saltLength, iterations, parameterBlock, keyLength * 8, key,
                      macLength) != 0
                   ? CSP_OK
                   : CSP_LIBRARY_ERROR;
    });
}
