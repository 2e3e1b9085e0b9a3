// CSPI SHA digests, SHA-1 and SHA-2 HMACs, PBKDF2 and PKCS#12 derivations,
// password-based RC2 and TDEA encryption and password-based MACs.
#include <cstring>

#include "csp/CSPI.h"
#include "csp/CSPIInternal.h"

using cspi::Family;
using cspi::Guarded;
using cspi::LibraryState;
using cspi::SecretArray;

namespace {

constexpr std::uint32_t kMaxHashBits = 512;
constexpr std::uint32_t kMaxHashBytes = kMaxHashBits / 8;
constexpr std::uint32_t kRC2MaxKeyBytes = 128;

Family SHAFamily(const CSPILibraryBinding& b)
{
    return {b.Intl<CSPIAcquireStateFn>(CSPI_I_SHAAcquireState), b.Intl<CSPIReleaseStateFn>(CSPI_I_SHAReleaseState),
            b.Intl<CSPISetStateParametersFn>(CSPI_I_SHASetStateParameters),
            b.Intl<CSPIGetStateParametersFn>(CSPI_I_SHAGetStateParameters)};
}

template <typename F>
F Entry(const CSPIExtraFunctionTable* table, CSPIExtraFunction index)
{
    return CSPIExtraEntry<F>(table, index);
}

bool HasEntries(const CSPIExtraFunctionTable* table, std::initializer_list<CSPIExtraFunction> entries)
{
    for (CSPIExtraFunction e : entries) {
        if (CSPIExtraEntry<FARPROC>(table, e) == nullptr) return false;
    }
    return true;
}

void ReleaseSHA(const CSPILibraryBinding& b, CSPIState* state)
{
    if (*state != nullptr) b.Intl<CSPIReleaseStateFn>(CSPI_I_SHAReleaseState)(*state);
    *state = nullptr;
}

// Draws a salt when the caller asks for one and gives a buffer and a length.
template <typename CSPIType>
int DrawSalt(CSPIType* self, CSPContext* context, int drawSalt, std::uint8_t* salt, std::uint32_t saltLength)
{
    if (drawSalt == 0 || salt == nullptr || saltLength == 0) return CSP_OK;
    return self->GenerateTestedRandomCtx(context, salt, saltLength);
}

// PKCS#5 padding: 1 to 8 bytes, each holding their count.
std::uint64_t PaddedLength(std::uint32_t length)
{
    return static_cast<std::uint64_t>(length) / 8 * 8 + 8;
}

void Pad(std::uint8_t* data, std::uint32_t length, std::uint32_t padded)
{
    std::uint8_t count = static_cast<std::uint8_t>(padded - length);
    std::memset(data + length, count, count);
}

// The pad count of decrypted data: 1 to 8 equal bytes, else 0.
std::uint32_t PadCount(const std::uint8_t* data, std::uint32_t length)
{
    std::uint8_t count = data[length - 1];
    if (count == 0 || count > 8) return 0;
    for (std::uint32_t i = 1; i <= count; ++i) {
        if (data[length - i] != count) return 0;
    }
    return count;
}

}  // namespace

// ---------------------------------------------------------------------------
// SHA.

int CSPI::HashSHA(const std::uint8_t* data, std::uint32_t length, std::uint32_t hashBits, std::uint8_t* hash)
{
    return WhenReady([&]() -> int {
        LibraryState state(SHAFamily(binding_), 0);
        if (!state.ok()) return CSP_NO_MEMORY;
        if (!state.Set(&hashBits, CSPI_SHA_HASH_BITS) ||
            binding_.Intl<CSPIConstDataStateFn>(CSPI_I_SHAHashData)(data, length, state.get()) == 0 ||
            binding_.Intl<CSPIStateOperationFn>(CSPI_I_SHAFinalizeHash)(state.get()) == 0 ||
            !state.Get(hash, CSPI_SHA_HASH))
            return CSP_LIBRARY_ERROR;
        return CSP_OK;
    });
}

int CSPI::BeginHashSHA(std::uint32_t hashBits, CSPIState* state)
{
    return WhenReady([&]() -> int {
        if (state == nullptr) return CSP_BAD_ARGUMENT;
        *state = binding_.Intl<CSPIAcquireStateFn>(CSPI_I_SHAAcquireState)(0);
        if (*state == nullptr) return CSP_NO_MEMORY;
        if (binding_.Intl<CSPISetStateParametersFn>(CSPI_I_SHASetStateParameters)(*state, &hashBits,
                                                                                  CSPI_SHA_HASH_BITS) == 0) {
            ReleaseSHA(binding_, state);
            return CSP_LIBRARY_ERROR;
        }
        return CSP_OK;
    });
}

int CSPI::UpdateHashSHA(const std::uint8_t* data, std::uint32_t length, CSPIState* state)
{
    return WhenReady([&]() -> int {
        if (state == nullptr) return CSP_BAD_ARGUMENT;
        if (binding_.Intl<CSPIConstDataStateFn>(CSPI_I_SHAHashData)(data, length, *state) == 0) {
            ReleaseSHA(binding_, state);
            return CSP_LIBRARY_ERROR;
        }
        return CSP_OK;
    });
}

int CSPI::FinishHashSHA(std::uint8_t* hash, CSPIState* state)
{
    return WhenReady([&]() -> int {
        if (state == nullptr) return CSP_BAD_ARGUMENT;
        bool ok =
            binding_.Intl<CSPIStateOperationFn>(CSPI_I_SHAFinalizeHash)(*state) != 0 &&
            binding_.Intl<CSPIGetStateParametersFn>(CSPI_I_SHAGetStateParameters)(*state, hash, CSPI_SHA_HASH) != 0;
        ReleaseSHA(binding_, state);
        return ok ? CSP_OK : CSP_LIBRARY_ERROR;
    });
}

// ---------------------------------------------------------------------------
// HMAC.

int CSPI::ComputeHMACSHA1(const std::uint8_t* data, std::uint32_t length, const std::uint8_t* key, std::uint8_t* mac)
{
    return WhenReady([&]() -> int {
        // The derivation entry is required although this operation does not
        // call it: a library without it offers no usable PKCS#12 MAC.
        if (!HasEntries(extra_,
                        {CSPI_E_SHA1HMACAcquireState, CSPI_E_SHA1HMACReleaseState, CSPI_E_SHA1HMACSetStateParameters,
                         CSPI_E_SHA1HMACGetStateParameters, CSPI_E_SHA1HMACInitializeDataMac, CSPI_E_SHA1HMACUpdateData,
                         CSPI_E_SHA1HMACFinalizeDataMac, CSPI_E_PKCS12PBKDFSHA1DeriveHMACKey}))
            return CSP_LIBRARY_ERROR;
        Family family{Entry<CSPIAcquireStateFn>(extra_, CSPI_E_SHA1HMACAcquireState),
                      Entry<CSPIReleaseStateFn>(extra_, CSPI_E_SHA1HMACReleaseState),
                      Entry<CSPISetStateParametersFn>(extra_, CSPI_E_SHA1HMACSetStateParameters),
                      Entry<CSPIGetStateParametersFn>(extra_, CSPI_E_SHA1HMACGetStateParameters)};
        LibraryState state(family, 0);
        if (!state.ok()) return CSP_NO_MEMORY;
        if (!state.Set(key, CSPI_SHA1HMAC_KEY) ||
            Entry<CSPIStateOperationFn>(extra_, CSPI_E_SHA1HMACInitializeDataMac)(state.get()) == 0 ||
            Entry<CSPIHMACUpdateFn>(extra_, CSPI_E_SHA1HMACUpdateData)(data, length, state.get()) == 0 ||
            Entry<CSPIStateOperationFn>(extra_, CSPI_E_SHA1HMACFinalizeDataMac)(state.get()) == 0 ||
            !state.Get(mac, CSPI_SHA1HMAC_MAC))
            return CSP_LIBRARY_ERROR;
        return CSP_OK;
    });
}

int CSPI::CompareHMACSHA1(const std::uint8_t* data, std::uint32_t length, const std::uint8_t* key,
                          const std::uint8_t* expectedMac)
{
    return Guarded([&]() -> int {
        SecretArray<CSPI_SHA1_BYTES> mac;
        int code = ComputeHMACSHA1(data, length, key, mac.data());
        if (code != CSP_OK) return code;
        return std::memcmp(mac.data(), expectedMac, CSPI_SHA1_BYTES) == 0 ? CSP_OK : CSP_VALUE_MISMATCH;
    });
}

int CSPI::ComputeHMACSHA(const std::uint8_t* data, std::uint32_t length, std::uint32_t hashBits,
                         const std::uint8_t* key, std::uint8_t* mac)
{
    return WhenReady([&]() -> int {
        if (!HasEntries(extra_,
                        {CSPI_E_SHAHMACAcquireState, CSPI_E_SHAHMACReleaseState, CSPI_E_SHAHMACSetStateParameters,
                         CSPI_E_SHAHMACGetStateParameters, CSPI_E_SHAHMACUpdateData, CSPI_E_SHAHMACFinalizeDataMac}))
            return CSP_LIBRARY_ERROR;
        Family family{Entry<CSPIAcquireStateFn>(extra_, CSPI_E_SHAHMACAcquireState),
                      Entry<CSPIReleaseStateFn>(extra_, CSPI_E_SHAHMACReleaseState),
                      Entry<CSPISetStateParametersFn>(extra_, CSPI_E_SHAHMACSetStateParameters),
                      Entry<CSPIGetStateParametersFn>(extra_, CSPI_E_SHAHMACGetStateParameters)};
        LibraryState state(family, 0);
        if (!state.ok()) return CSP_NO_MEMORY;
        std::uint32_t keyLength = hashBits / 8;
        if (!state.Set(&hashBits, CSPI_SHAHMAC_HASH_BITS) || !state.Set(&keyLength, CSPI_SHAHMAC_KEY_LENGTH) ||
            !state.Set(key, CSPI_SHAHMAC_KEY) ||
            Entry<CSPIHMACUpdateFn>(extra_, CSPI_E_SHAHMACUpdateData)(data, length, state.get()) == 0 ||
            Entry<CSPIStateOperationFn>(extra_, CSPI_E_SHAHMACFinalizeDataMac)(state.get()) == 0 ||
            !state.Get(mac, CSPI_SHAHMAC_MAC))
            return CSP_LIBRARY_ERROR;
        return CSP_OK;
    });
}

int CSPI::CompareHMACSHA(const std::uint8_t* data, std::uint32_t length, std::uint32_t hashBits,
                         const std::uint8_t* key, const std::uint8_t* expectedMac)
{
    return Guarded([&]() -> int {
        // The recomputed MAC lives in a buffer of the longest hash.
        if (hashBits > kMaxHashBits) return CSP_BAD_ARGUMENT;
        SecretArray<kMaxHashBytes> mac;
        int code = ComputeHMACSHA(data, length, hashBits, key, mac.data());
        if (code != CSP_OK) return code;
        return std::memcmp(mac.data(), expectedMac, hashBits / 8) == 0 ? CSP_OK : CSP_VALUE_MISMATCH;
    });
}

// ---------------------------------------------------------------------------
// Key derivation.

int CSPI::DeriveKeyPBKDF2I(const std::uint8_t* password, std::uint32_t passwordLength, std::uint8_t* salt,
                           std::uint32_t saltLength, int drawSalt, std::uint32_t iterations, std::uint8_t* key)
{
    return OnPlainContext(&CSPI::DeriveKeyPBKDF2ICtx, password, passwordLength, salt, saltLength, drawSalt, iterations,
                          key);
}

int CSPI::DeriveKeyPBKDF2ICtx(CSPContext* context, const std::uint8_t* password, std::uint32_t passwordLength,
                              std::uint8_t* salt, std::uint32_t saltLength, int drawSalt, std::uint32_t iterations,
                              std::uint8_t* key)
{
    return WhenReady([&]() -> int {
        auto derive = Entry<CSPIPKCS12DeriveFn>(extra_, CSPI_E_PBKDF2IDeriveKey);
        if (derive == nullptr) return CSP_LIBRARY_ERROR;
        if (context == nullptr) return CSP_BAD_ARGUMENT;
        int code = DrawSalt(this, context, drawSalt, salt, saltLength);
        if (code != CSP_OK) return code;
        return derive(password, passwordLength, salt, saltLength, iterations, key) != 0 ? CSP_OK : CSP_LIBRARY_ERROR;
    });
}

int CSPI::DeriveKeyPBKDF2SHA(const std::uint8_t* password, std::uint32_t passwordLength, std::uint32_t hashBits,
                             std::uint8_t* salt, std::uint32_t saltLength, int drawSalt, std::uint32_t iterations,
                             std::uint32_t keyLength, std::uint8_t* key)
{
    return OnPlainContext(&CSPI::DeriveKeyPBKDF2SHACtx, password, passwordLength, hashBits, salt, saltLength, drawSalt,
                          iterations, keyLength, key);
}

int CSPI::DeriveKeyPBKDF2SHACtx(CSPContext* context, const std::uint8_t* password, std::uint32_t passwordLength,
                                std::uint32_t hashBits, std::uint8_t* salt, std::uint32_t saltLength, int drawSalt,
                                std::uint32_t iterations, std::uint32_t keyLength, std::uint8_t* key)
{
    return WhenReady([&]() -> int {
        auto derive = Entry<CSPIPBKDF2SHADeriveFn>(extra_, CSPI_E_PBKDF2SHADeriveKey);
        if (derive == nullptr) return CSP_LIBRARY_ERROR;
        if (context == nullptr) return CSP_BAD_ARGUMENT;
        int code = DrawSalt(this, context, drawSalt, salt, saltLength);
        if (code != CSP_OK) return code;
        return derive(password, passwordLength, hashBits, salt, saltLength, iterations, keyLength, key) != 0
                   ? CSP_OK
                   : CSP_LIBRARY_ERROR;
    });
}

// ---------------------------------------------------------------------------
// PKCS#12 password-based encryption.

int CSPI::EncryptPBETDES(std::uint8_t* data, std::uint32_t* length, std::uint32_t capacity,
                         const std::uint8_t* password, std::uint32_t passwordLength, std::uint8_t* salt,
                         std::uint32_t saltLength, int drawSalt, std::uint32_t iterations)
{
    return OnPlainContext(&CSPI::EncryptPBETDESCtx, data, length, capacity, password, passwordLength, salt, saltLength,
                          drawSalt, iterations);
}

int CSPI::EncryptPBETDESCtx(CSPContext* context, std::uint8_t* data, std::uint32_t* length, std::uint32_t capacity,
                            const std::uint8_t* password, std::uint32_t passwordLength, std::uint8_t* salt,
                            std::uint32_t saltLength, int drawSalt, std::uint32_t iterations)
{
    return WhenReady([&]() -> int {
        auto deriveKey = Entry<CSPIPKCS12DeriveFn>(extra_, CSPI_E_PKCS12PBKDFTDESDeriveKey);
        auto deriveIV = Entry<CSPIPKCS12DeriveFn>(extra_, CSPI_E_PKCS12PBKDFTDESDeriveIV);
        if (deriveKey == nullptr || deriveIV == nullptr) return CSP_LIBRARY_ERROR;
        if (context == nullptr || length == nullptr) return CSP_BAD_ARGUMENT;
        std::uint64_t padded = PaddedLength(*length);
        if (capacity < padded) {
            if (padded <= 0xFFFFFFFFu) *length = static_cast<std::uint32_t>(padded);
            return CSP_BAD_ARGUMENT;
        }
        int code = DrawSalt(this, context, drawSalt, salt, saltLength);
        if (code != CSP_OK) return code;
        SecretArray<CSPI_TDEA_KEY_BYTES> key;
        SecretArray<CSPI_TDEA_BLOCK_BYTES> iv;
        if (deriveKey(password, passwordLength, salt, saltLength, iterations, key.data()) == 0 ||
            deriveIV(password, passwordLength, salt, saltLength, iterations, iv.data()) == 0)
            return CSP_LIBRARY_ERROR;
        std::uint32_t paddedLength = static_cast<std::uint32_t>(padded);
        Pad(data, *length, paddedLength);
        std::uint8_t tail[CSPI_TDEA_BLOCK_BYTES];
        std::uint32_t tailLength = 0;
        code = EncryptCBCTDEACtx(context, data, paddedLength, key.data(), iv.data(), 0, tail, &tailLength);
        if (code != CSP_OK) return code;
        *length = paddedLength;
        return CSP_OK;
    });
}

int CSPI::DecryptPBETDES(std::uint8_t* data, std::uint32_t* length, const std::uint8_t* password,
                         std::uint32_t passwordLength, const std::uint8_t* salt, std::uint32_t saltLength,
                         std::uint32_t iterations)
{
    return WhenReady([&]() -> int {
        auto deriveKey = Entry<CSPIPKCS12DeriveFn>(extra_, CSPI_E_PKCS12PBKDFTDESDeriveKey);
        auto deriveIV = Entry<CSPIPKCS12DeriveFn>(extra_, CSPI_E_PKCS12PBKDFTDESDeriveIV);
        if (deriveKey == nullptr || deriveIV == nullptr) return CSP_LIBRARY_ERROR;
        if (length == nullptr || *length % 8 != 0 || *length < 16) return CSP_BAD_ARGUMENT;
        SecretArray<CSPI_TDEA_KEY_BYTES> key;
        SecretArray<CSPI_TDEA_BLOCK_BYTES> iv;
        if (deriveKey(password, passwordLength, salt, saltLength, iterations, key.data()) == 0 ||
            deriveIV(password, passwordLength, salt, saltLength, iterations, iv.data()) == 0)
            return CSP_LIBRARY_ERROR;
        int code = DecryptCBCTDEA(data, *length, key.data(), iv.data(), nullptr, 0);
        if (code != CSP_OK) return code;
        // Without a sound pad (a wrong password, most likely) there is no
        // plaintext length to report.
        std::uint32_t pad = PadCount(data, *length);
        if (pad == 0) return CSP_LIBRARY_ERROR;
        *length -= pad;
        return CSP_OK;
    });
}

namespace {

struct RC2Entries {
    CSPIPKCS12DeriveRC2KeyFn deriveKey;
    CSPIPKCS12DeriveFn deriveIV;
    Family family;
    CSPIRC2CryptFn encrypt;
    CSPIRC2CryptFn decrypt;

    explicit RC2Entries(const CSPIExtraFunctionTable* t)
        : deriveKey(Entry<CSPIPKCS12DeriveRC2KeyFn>(t, CSPI_E_PKCS12PBKDFRC2DeriveKey)),
          deriveIV(Entry<CSPIPKCS12DeriveFn>(t, CSPI_E_PKCS12PBKDFRC2DeriveIV)),
          family{Entry<CSPIAcquireStateFn>(t, CSPI_E_RC2AcquireState),
                 Entry<CSPIReleaseStateFn>(t, CSPI_E_RC2ReleaseState),
                 Entry<CSPISetStateParametersFn>(t, CSPI_E_RC2SetStateParameters),
                 Entry<CSPIGetStateParametersFn>(t, CSPI_E_RC2GetStateParameters)},
          encrypt(Entry<CSPIRC2CryptFn>(t, CSPI_E_RC2EncryptDataCBCMode)),
          decrypt(Entry<CSPIRC2CryptFn>(t, CSPI_E_RC2DecryptDataCBCMode))
    {
    }
    bool Usable(CSPIRC2CryptFn crypt) const
    {
        return deriveKey != nullptr && deriveIV != nullptr && family.acquire != nullptr && family.release != nullptr &&
               family.set != nullptr && crypt != nullptr;
    }
};

// Derives the RC2 key and IV and runs the cipher over whole blocks in place.
int RC2Crypt(const RC2Entries& rc2, CSPIRC2CryptFn crypt, std::uint8_t* data, std::uint32_t length,
             std::uint32_t keyLength, const std::uint8_t* password, std::uint32_t passwordLength,
             const std::uint8_t* salt, std::uint32_t saltLength, std::uint32_t iterations)
{
    SecretArray<kRC2MaxKeyBytes> key;
    SecretArray<8> iv;
    if (rc2.deriveKey(password, passwordLength, salt, saltLength, iterations, keyLength, key.data()) == 0 ||
        rc2.deriveIV(password, passwordLength, salt, saltLength, iterations, iv.data()) == 0)
        return CSP_LIBRARY_ERROR;
    LibraryState state(rc2.family, 0);
    if (!state.ok()) return CSP_NO_MEMORY;
    std::uint32_t effectiveBits = keyLength * 8;
    if (!state.Set(&effectiveBits, CSPI_RC2_EFFECTIVE_BITS) || !state.Set(&keyLength, CSPI_RC2_KEY_LENGTH) ||
        !state.Set(key.data(), CSPI_RC2_KEY) || !state.Set(iv.data(), CSPI_RC2_IV) ||
        crypt(data, length / 8, state.get()) == 0)
        return CSP_LIBRARY_ERROR;
    return CSP_OK;
}

}  // namespace

int CSPI::EncryptPBERC2(std::uint8_t* data, std::uint32_t* length, std::uint32_t capacity, std::uint32_t keyLength,
                        const std::uint8_t* password, std::uint32_t passwordLength, std::uint8_t* salt,
                        std::uint32_t saltLength, int drawSalt, std::uint32_t iterations)
{
    return OnPlainContext(&CSPI::EncryptPBERC2Ctx, data, length, capacity, keyLength, password, passwordLength, salt,
                          saltLength, drawSalt, iterations);
}

int CSPI::EncryptPBERC2Ctx(CSPContext* context, std::uint8_t* data, std::uint32_t* length, std::uint32_t capacity,
                           std::uint32_t keyLength, const std::uint8_t* password, std::uint32_t passwordLength,
                           std::uint8_t* salt, std::uint32_t saltLength, int drawSalt, std::uint32_t iterations)
{
    return WhenReady([&]() -> int {
        RC2Entries rc2(extra_);
        if (!rc2.Usable(rc2.encrypt)) return CSP_LIBRARY_ERROR;
        if (context == nullptr || length == nullptr) return CSP_BAD_ARGUMENT;
        std::uint64_t padded = PaddedLength(*length);
        if (capacity < padded) {
            if (padded <= 0xFFFFFFFFu) *length = static_cast<std::uint32_t>(padded);
            return CSP_BAD_ARGUMENT;
        }
        if (keyLength > kRC2MaxKeyBytes) return CSP_BAD_ARGUMENT;
        int code = DrawSalt(this, context, drawSalt, salt, saltLength);
        if (code != CSP_OK) return code;
        std::uint32_t paddedLength = static_cast<std::uint32_t>(padded);
        Pad(data, *length, paddedLength);
        code = RC2Crypt(rc2, rc2.encrypt, data, paddedLength, keyLength, password, passwordLength, salt, saltLength,
                        iterations);
        if (code != CSP_OK) return code;
        *length = paddedLength;
        return CSP_OK;
    });
}

int CSPI::DecryptPBERC2(std::uint8_t* data, std::uint32_t* length, std::uint32_t keyLength,
                        const std::uint8_t* password, std::uint32_t passwordLength, const std::uint8_t* salt,
                        std::uint32_t saltLength, std::uint32_t iterations)
{
    return WhenReady([&]() -> int {
        RC2Entries rc2(extra_);
        if (!rc2.Usable(rc2.decrypt)) return CSP_LIBRARY_ERROR;
        if (length == nullptr || *length % 8 != 0 || *length < 16 || keyLength > kRC2MaxKeyBytes)
            return CSP_BAD_ARGUMENT;
        int code = RC2Crypt(rc2, rc2.decrypt, data, *length, keyLength, password, passwordLength, salt, saltLength,
                            iterations);
        if (code != CSP_OK) return code;
        std::uint32_t pad = PadCount(data, *length);
        if (pad == 0) return CSP_LIBRARY_ERROR;
        *length -= pad;
        return CSP_OK;
    });
}

// ---------------------------------------------------------------------------
// PKCS#12 password-based MACs.

int CSPI::ComputePBEMACSHA1(const std::uint8_t* data, std::uint32_t length, const std::uint8_t* password,
                            std::uint32_t passwordLength, std::uint8_t* salt, std::uint32_t saltLength, int drawSalt,
                            std::uint32_t iterations, std::uint8_t* mac)
{
    return OnPlainContext(&CSPI::ComputePBEMACSHA1Ctx, data, length, password, passwordLength, salt, saltLength,
                          drawSalt, iterations, mac);
}

int CSPI::ComputePBEMACSHA1Ctx(CSPContext* context, const std::uint8_t* data, std::uint32_t length,
                               const std::uint8_t* password, std::uint32_t passwordLength, std::uint8_t* salt,
                               std::uint32_t saltLength, int drawSalt, std::uint32_t iterations, std::uint8_t* mac)
{
    return WhenReady([&]() -> int {
        auto derive = Entry<CSPIPKCS12DeriveFn>(extra_, CSPI_E_PKCS12PBKDFSHA1DeriveHMACKey);
        if (derive == nullptr ||
            !HasEntries(extra_,
                        {CSPI_E_SHA1HMACAcquireState, CSPI_E_SHA1HMACReleaseState, CSPI_E_SHA1HMACSetStateParameters,
                         CSPI_E_SHA1HMACGetStateParameters, CSPI_E_SHA1HMACInitializeDataMac, CSPI_E_SHA1HMACUpdateData,
                         CSPI_E_SHA1HMACFinalizeDataMac}))
            return CSP_LIBRARY_ERROR;
        if (context == nullptr) return CSP_BAD_ARGUMENT;
        int code = DrawSalt(this, context, drawSalt, salt, saltLength);
        if (code != CSP_OK) return code;
        SecretArray<CSPI_SHA1_BYTES> key;
        if (derive(password, passwordLength, salt, saltLength, iterations, key.data()) == 0) return CSP_LIBRARY_ERROR;
        return ComputeHMACSHA1(data, length, key.data(), mac);
    });
}

int CSPI::CheckPBEMACSHA1(const std::uint8_t* data, std::uint32_t length, const std::uint8_t* password,
                          std::uint32_t passwordLength, const std::uint8_t* salt, std::uint32_t saltLength,
                          std::uint32_t iterations, const std::uint8_t* expectedMac)
{
    return Guarded([&]() -> int {
        SecretArray<CSPI_SHA1_BYTES> mac;
        int code = ComputePBEMACSHA1(data, length, password, passwordLength, const_cast<std::uint8_t*>(salt),
                                     saltLength, 0, iterations, mac.data());
        if (code != CSP_OK) return code;
        return std::memcmp(mac.data(), expectedMac, CSPI_SHA1_BYTES) == 0 ? CSP_OK : CSP_VALUE_MISMATCH;
    });
}

int CSPI::ComputePBEMACSHA(const std::uint8_t* data, std::uint32_t length, std::uint32_t hashBits,
                           const std::uint8_t* password, std::uint32_t passwordLength, std::uint8_t* salt,
                           std::uint32_t saltLength, int drawSalt, std::uint32_t iterations, std::uint8_t* mac)
{
    return OnPlainContext(&CSPI::ComputePBEMACSHACtx, data, length, hashBits, password, passwordLength, salt,
                          saltLength, drawSalt, iterations, mac);
}

int CSPI::ComputePBEMACSHACtx(CSPContext* context, const std::uint8_t* data, std::uint32_t length,
                              std::uint32_t hashBits, const std::uint8_t* password, std::uint32_t passwordLength,
                              std::uint8_t* salt, std::uint32_t saltLength, int drawSalt, std::uint32_t iterations,
                              std::uint8_t* mac)
{
    return WhenReady([&]() -> int {
        auto derive = Entry<CSPIPKCS12DeriveSHAHMACKeyFn>(extra_, CSPI_E_PKCS12PBKDFSHADeriveHMACKey);
        if (derive == nullptr) return CSP_LIBRARY_ERROR;
        // The derived key lives in a buffer of the longest hash.
        if (context == nullptr || hashBits > kMaxHashBits) return CSP_BAD_ARGUMENT;
        int code = DrawSalt(this, context, drawSalt, salt, saltLength);
        if (code != CSP_OK) return code;
        SecretArray<kMaxHashBytes> key;
        if (derive(hashBits, password, passwordLength, salt, saltLength, iterations, key.data()) == 0)
            return CSP_LIBRARY_ERROR;
        return ComputeHMACSHA(data, length, hashBits, key.data(), mac);
    });
}

int CSPI::ComparePBEMACSHA(const std::uint8_t* data, std::uint32_t length, std::uint32_t hashBits,
                           const std::uint8_t* password, std::uint32_t passwordLength, const std::uint8_t* salt,
                           std::uint32_t saltLength, std::uint32_t iterations, const std::uint8_t* expectedMac)
{
    return Guarded([&]() -> int {
        if (hashBits > kMaxHashBits) return CSP_BAD_ARGUMENT;
        SecretArray<kMaxHashBytes> mac;
        int code = ComputePBEMACSHA(data, length, hashBits, password, passwordLength, const_cast<std::uint8_t*>(salt),
                                    saltLength, 0, iterations, mac.data());
        if (code != CSP_OK) return code;
        return std::memcmp(mac.data(), expectedMac, hashBits / 8) == 0 ? CSP_OK : CSP_VALUE_MISMATCH;
    });
}
