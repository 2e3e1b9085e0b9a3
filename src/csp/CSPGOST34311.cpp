// GOST 34.311-95 hashing (one-shot and incremental), HMAC, comparisons and
// the password-based key derivations.
#include <cstring>

#include "csp/CSPCallsCommon.h"
#include "csp/CSPCallsOperations.h"

namespace cspcalls {

namespace {

// Releases the caller's incremental state and clears the caller's handle, so
// that no later call can reach it again.
void ReleaseHandle(const Library& lib, void** state)
{
    lib.GOST34311ReleaseState(*state);
    *state = nullptr;
}

int DeriveKey(const Library& lib, Context* c, CGPBKDFDeriveKeyFn derive, const void* password,
              std::uint32_t passwordLength, std::uint8_t* salt, std::uint32_t saltLength, int drawSalt,
              std::uint32_t iterations, std::uint8_t* key, std::uint32_t keyLength, const void* sBox)
{
    if (!lib.initialized) return kNotInitialized;
    if (c == nullptr) return kBadArgument;
    if (derive == nullptr) return kLibraryError;
    try {
        if (drawSalt && salt != nullptr && saltLength != 0) {
            const int r = lib.generateTestedRandom(lib.provider, c, salt, saltLength);
            if (r != kOk) return r;
        }
        return derive(password, passwordLength, salt, saltLength, iterations, key, keyLength, sBox) ? kOk
                                                                                                    : kLibraryError;
    } catch (...) {
        return kLibraryError;
    }
}

}  // namespace

int HashGOST34311(const Library& lib, const std::uint8_t* data, std::uint32_t length, const SBox* sBox,
                  const std::uint8_t* startVector, std::uint8_t* hash)
{
    if (!lib.initialized) return kNotInitialized;
    if (sBox == nullptr || hash == nullptr || (data == nullptr && length != 0)) return kBadArgument;
    try {
        ScopedState s(lib.GOST34311AcquireState(), lib.GOST34311ReleaseState);
        if (!s) return kNoMemory;
        const bool ok = lib.GOST34311SetStateParameters(s.get(), sBox, 1) &&
                        lib.GOST34311SetStateParameters(s.get(), startVector, 2) &&
                        lib.GOST34311HashData(data, length, s.get()) && lib.GOST34311FinalizeHash(0, s.get()) &&
                        lib.GOST34311GetStateParameters(s.get(), hash, 2);
        return ok ? kOk : kLibraryError;
    } catch (...) {
        return kLibraryError;
    }
}

int BeginHashGOST34311(const Library& lib, const SBox* sBox, const std::uint8_t* startVector, void** state)
{
    if (!lib.initialized) return kNotInitialized;
    if (sBox == nullptr || state == nullptr) return kBadArgument;
    try {
        *state = lib.GOST34311AcquireState();
        if (*state == nullptr) return kNoMemory;
        if (!lib.GOST34311SetStateParameters(*state, sBox, 1) ||
            !lib.GOST34311SetStateParameters(*state, startVector, 2)) {
            ReleaseHandle(lib, state);
            return kLibraryError;
        }
        return kOk;
    } catch (...) {
        return kLibraryError;
    }
}

int UpdateHashGOST34311(const Library& lib, const std::uint8_t* data, std::uint32_t length, void** state)
{
    if (!lib.initialized) return kNotInitialized;
    if (state == nullptr || *state == nullptr || (data == nullptr && length != 0)) return kBadArgument;
    try {
        if (!lib.GOST34311HashData(data, length, *state)) {
            // A failed update ends the hash.
            ReleaseHandle(lib, state);
            return kLibraryError;
        }
        return kOk;
    } catch (...) {
        return kLibraryError;
    }
}

int FinishHashGOST34311(const Library& lib, std::uint8_t* hash, void** state)
{
    if (!lib.initialized) return kNotInitialized;
    if (hash == nullptr || state == nullptr || *state == nullptr) return kBadArgument;
    try {
        const bool ok = lib.GOST34311FinalizeHash(0, *state) && lib.GOST34311GetStateParameters(*state, hash, 2);
        ReleaseHandle(lib, state);
        return ok ? kOk : kLibraryError;
    } catch (...) {
        return kLibraryError;
    }
}

int CompareHashGOST34311(const Library& lib, const std::uint8_t* data, std::uint32_t length, const SBox* sBox,
                         const std::uint8_t* startVector, const std::uint8_t* expected)
{
    WipedBuffer<32> computed;
    const int r = HashGOST34311(lib, data, length, sBox, startVector, computed.data());
    if (r != kOk) return r;
    if (expected == nullptr) return kBadArgument;
    return std::memcmp(computed.data(), expected, 32) == 0 ? kOk : kValueMismatch;
}

int HashDataGOST34311Ctx(const Library& lib, Context* c, const std::uint8_t* data, std::uint32_t bits, const SBox* sBox,
                         const std::uint8_t* startVector, std::uint8_t* hash)
{
    if (!lib.initialized) return kNotInitialized;
    if (c == nullptr) return kBadArgument;
    // Trailing bits beyond a whole byte are not hashed.
    if (data != nullptr) return HashGOST34311(lib, data, bits / 8, sBox, startVector, hash);
    if (c->hardware == nullptr) return kNoObject;
    if (hash == nullptr) return kBadArgument;
    try {
        return c->hardware->GetStoredHash(hash) ? kOk : kHardwareError;
    } catch (...) {
        return kLibraryError;
    }
}

int ComputeHMACGOST34311(const Library& lib, const std::uint8_t* data, std::uint32_t length, const SBox* sBox,
                         const std::uint8_t* startVector, const std::uint8_t* key, std::uint8_t* mac)
{
    if (!lib.initialized) return kNotInitialized;
    // Every entry used, the release included, is checked before any work.
    if (lib.GOST34311HMACSetStateParameters == nullptr || lib.GOST34311HMACUpdateData == nullptr ||
        lib.GOST34311HMACFinalizeDataMac == nullptr || lib.GOST34311HMACGetStateParameters == nullptr ||
        lib.GOST34311HMACAcquireState == nullptr || lib.GOST34311HMACReleaseState == nullptr)
        return kLibraryError;
    if (sBox == nullptr || key == nullptr || mac == nullptr || (data == nullptr && length != 0)) return kBadArgument;
    try {
        ScopedState s(lib.GOST34311HMACAcquireState(), lib.GOST34311HMACReleaseState);
        if (!s) return kNoMemory;
        const bool ok = lib.GOST34311HMACSetStateParameters(s.get(), sBox, 1) &&
                        lib.GOST34311HMACSetStateParameters(s.get(), startVector, 2) &&
                        lib.GOST34311HMACSetStateParameters(s.get(), key, 3) &&
                        lib.GOST34311HMACUpdateData(data, length, s.get()) &&
                        lib.GOST34311HMACFinalizeDataMac(s.get()) &&
                        lib.GOST34311HMACGetStateParameters(s.get(), mac, 4);
        return ok ? kOk : kLibraryError;
    } catch (...) {
        return kLibraryError;
    }
}

int CompareHMACGOST34311(const Library& lib, const std::uint8_t* data, std::uint32_t length, const SBox* sBox,
                         const std::uint8_t* startVector, const std::uint8_t* key, const std::uint8_t* expected)
{
    WipedBuffer<32> computed;
    const int r = ComputeHMACGOST34311(lib, data, length, sBox, startVector, key, computed.data());
    if (r != kOk) return r;
    if (expected == nullptr) return kBadArgument;
    return std::memcmp(computed.data(), expected, 32) == 0 ? kOk : kValueMismatch;
}

int DeriveKeyPBKDF2Ctx(const Library& lib, Context* c, const void* password, std::uint32_t passwordLength,
                       std::uint8_t* salt, std::uint32_t saltLength, int drawSalt, std::uint32_t iterations,
                       std::uint8_t* key, std::uint32_t keyLength, const void* sBox)
{
    return DeriveKey(lib, c, lib.PBKDF2DeriveKey, password, passwordLength, salt, saltLength, drawSalt, iterations, key,
                     keyLength, sBox);
}

int DeriveKeyPBKDFMACCtx(const Library& lib, Context* c, const void* password, std::uint32_t passwordLength,
                         std::uint8_t* salt, std::uint32_t saltLength, int drawSalt, std::uint32_t iterations,
                         std::uint8_t* key, std::uint32_t keyLength, const void* sBox)
{
    return DeriveKey(lib, c, lib.PBKDFMACDeriveKey, password, passwordLength, salt, saltLength, drawSalt, iterations,
                     key, keyLength, sBox);
}

}  // namespace cspcalls
