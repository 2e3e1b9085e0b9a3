// The CSPI object: construction, initialisation, the hardware objects, and the
// RSA, DSA, ECDSA, DH, ECDH and two-party ECDSA operations.
#include "csp/CSPI.h"

#include <cstring>
#include <initializer_list>
#include <new>

#include "csp/CSPIInternal.h"

using cspi::Family;
using cspi::Guarded;
using cspi::HasPrng;
using cspi::LibraryState;
using cspi::PrngValue;

namespace {

CSPI* g_defaultCSPI = nullptr;

constexpr std::uint32_t kAlwaysAvailable = 0xB66;
constexpr std::uint32_t kQueryPBKDF2SHA = 12;
constexpr std::uint32_t kQueryPKCS12SHAHMAC = 13;
constexpr std::uint32_t kQueryHardwareKeyPair = 3;
constexpr std::uint32_t kQueryHardwareDecrypt = 4;
constexpr std::uint32_t kQueryHardwareRSAEx = 7;
constexpr std::uint32_t kQueryHardwareCouple = 10;
const std::uint32_t kSchemePSS = CSPI_RSA_SCHEME_PSS;
const std::uint32_t kOne = 1;

Family RSAFamily(const CSPILibraryBinding& b)
{
    return {b.Intl<CSPIAcquireStateFn>(CSPI_I_RSAAcquireState), b.Intl<CSPIReleaseStateFn>(CSPI_I_RSAReleaseState),
            b.Intl<CSPISetStateParametersFn>(CSPI_I_RSASetStateParameters),
            b.Intl<CSPIGetStateParametersFn>(CSPI_I_RSAGetStateParameters)};
}

Family DSAFamily(const CSPILibraryBinding& b)
{
    return {b.Intl<CSPIAcquireStateFn>(CSPI_I_DSAAcquireState), b.Intl<CSPIReleaseStateFn>(CSPI_I_DSAReleaseState),
            b.Intl<CSPISetStateParametersFn>(CSPI_I_DSASetStateParameters),
            b.Intl<CSPIGetStateParametersFn>(CSPI_I_DSAGetStateParameters)};
}

Family ECDSAFamily(const CSPILibraryBinding& b)
{
    return {b.Intl<CSPIAcquireStateFn>(CSPI_I_ECDSAAcquireState), b.Intl<CSPIReleaseStateFn>(CSPI_I_ECDSAReleaseState),
            b.Intl<CSPISetStateParametersFn>(CSPI_I_ECDSASetStateParameters),
            b.Intl<CSPIGetStateParametersFn>(CSPI_I_ECDSAGetStateParameters)};
}

int Call(const CSPILibraryBinding& b, CSPIIntlFunction f, CSPIState state)
{
    return b.Intl<CSPIStateOperationFn>(f)(state);
}

int Generate(const CSPILibraryBinding& b, CSPIIntlFunction f, CSPIState state, std::uint32_t mode)
{
    return b.Intl<CSPIGenerateParametersFn>(f)(state, mode);
}

int HardwareResult(int answer)
{
    return answer != 0 ? CSP_OK : CSP_HARDWARE_ERROR;
}

// The codes one public-key family gives its domain (RSA: key parameters),
// its keys and the generator, and its generation function.
struct KeyCodes {
    Family (*family)(const CSPILibraryBinding&);
    CSPIIntlFunction generate;
    std::uint32_t domain;
    std::uint32_t privateKey;
    std::uint32_t publicKey;
    std::uint32_t prng;
};

const KeyCodes kRSACodes{
    RSAFamily,    CSPI_I_RSAGenerateParameters, CSPI_RSA_KEY_PARAMETERS, CSPI_RSA_PRIVATE_KEY, CSPI_RSA_PUBLIC_KEY,
    CSPI_RSA_PRNG};
const KeyCodes kDSACodes{
    DSAFamily, CSPI_I_DSAGenerateParameters, CSPI_DSA_DOMAIN, CSPI_DSA_PRIVATE_KEY, CSPI_DSA_PUBLIC_KEY, CSPI_DSA_PRNG};
const KeyCodes kECDSACodes{ECDSAFamily,           CSPI_I_ECDSAGenerateParameters,
                           CSPI_ECDSA_CURVE,      CSPI_ECDSA_PRIVATE_KEY,
                           CSPI_ECDSA_PUBLIC_KEY, CSPI_ECDSA_PRNG};

// A domain is sound when a checking state takes it.
int CheckDomain(const CSPILibraryBinding& b, const KeyCodes& codes, const std::uint8_t* domain)
{
    LibraryState state(codes.family(b), 1);
    if (!state.ok()) return CSP_NO_MEMORY;
    return state.Set(domain, codes.domain) ? CSP_OK : CSP_BAD_PARAMETERS;
}

// A key pair is sound when a checking state takes the domain and both keys
// (the public one may be left out).
int CheckKeyPairInLibrary(const CSPILibraryBinding& b, const KeyCodes& codes, const CSPContext* context,
                          const std::uint8_t* domain, const std::uint8_t* privateKey, const std::uint8_t* publicKey)
{
    if (!HasPrng(context)) return CSP_NO_OBJECT;
    LibraryState state(codes.family(b), 1);
    if (!state.ok()) return CSP_NO_MEMORY;
    if (!state.Set(PrngValue(context), codes.prng)) return CSP_LIBRARY_ERROR;
    if (!state.Set(domain, codes.domain) || !state.Set(privateKey, codes.privateKey) ||
        (publicKey != nullptr && !state.Set(publicKey, codes.publicKey)))
        return CSP_BAD_PARAMETERS;
    return CSP_OK;
}

// A key pair drawn from the context's generator by the family's generation
// steps, run in order; the public key may be left out.
int GenerateKeyPairInLibrary(const CSPILibraryBinding& b, const KeyCodes& codes, const CSPContext* context,
                             const std::uint8_t* domain, std::uint8_t* privateKey, std::uint8_t* publicKey,
                             std::initializer_list<std::uint32_t> steps)
{
    if (!HasPrng(context)) return CSP_NO_OBJECT;
    LibraryState state(codes.family(b), 0);
    if (!state.ok()) return CSP_NO_MEMORY;
    if (!state.Set(domain, codes.domain)) return CSP_BAD_PARAMETERS;
    if (!state.Set(PrngValue(context), codes.prng)) return CSP_LIBRARY_ERROR;
    for (std::uint32_t step : steps)
        if (Generate(b, codes.generate, state.get(), step) == 0) return CSP_LIBRARY_ERROR;
    if (!state.Get(privateKey, codes.privateKey) || (publicKey != nullptr && !state.Get(publicKey, codes.publicKey)))
        return CSP_LIBRARY_ERROR;
    return CSP_OK;
}

// The codes a DSA-style signature adds to its family's: the hash, its length,
// the signature and the verifying function.
struct SignatureCodes {
    const KeyCodes& keys;
    CSPIIntlFunction verify;
    std::uint32_t hashLength;
    std::uint32_t hash;
    std::uint32_t signature;
};

const SignatureCodes kDSASignature{kDSACodes, CSPI_I_DSAVerifySignature, CSPI_DSA_HASH_LENGTH, CSPI_DSA_HASH,
                                   CSPI_DSA_SIGNATURE};
const SignatureCodes kECDSASignature{kECDSACodes, CSPI_I_ECDSAVerifySignature, CSPI_ECDSA_HASH_LENGTH, CSPI_ECDSA_HASH,
                                     CSPI_ECDSA_SIGNATURE};

int VerifyWithHashLength(const CSPILibraryBinding& b, const SignatureCodes& codes, std::uint32_t hashLength,
                         const std::uint8_t* hash, const std::uint8_t* domain, const std::uint8_t* publicKey,
                         const std::uint8_t* signature)
{
    LibraryState state(codes.keys.family(b), 0);
    if (!state.ok()) return CSP_NO_MEMORY;
    if (!state.Set(domain, codes.keys.domain) || !state.Set(publicKey, codes.keys.publicKey) ||
        !state.Set(signature, codes.signature))
        return CSP_BAD_PARAMETERS;
    if (!state.Set(&hashLength, codes.hashLength) || !state.Set(hash, codes.hash)) return CSP_LIBRARY_ERROR;
    return Call(b, codes.verify, state.get()) != 0 ? CSP_OK : CSP_INVALID_SIGNATURE;
}

}  // namespace

template <typename Call>
int CSPI::OnHardware(CSPContext* context, Call&& call)
{
    ICSPIHardware* hardware = HardwareOf(context);
    if (hardware == nullptr) return CSP_NO_OBJECT;
    return HardwareResult(call(*hardware));
}

template <typename Call>
int CSPI::OnHardware(CSPContext* context, std::uint32_t capability, Call&& call)
{
    if (HardwareOf(context) != nullptr && CapabilityQuery(context, capability) != 0) return CSP_LIBRARY_ERROR;
    return OnHardware(context, call);
}

CSPI::CSPI() : prng_{}, rng_(nullptr), hardware_(nullptr), flags_(0), extra_(nullptr), lock_{}
{
    binding_.Clear();
    parameters_.SetCSPI(this);
}

CSPI::~CSPI()
{
    if (prng_ != decltype(prng_){}) {
        binding_.Intl<int (*)(decltype(prng_))>(CSPI_I_DSTU4145PseudoRNGDeinitialize)(prng_);
        prng_ = {};
    }
    parameters_.SetCSPI(nullptr);
    if (Initialized()) {
        DeleteCriticalSection(&lock_);
        FreeExtraFunctionTable(&extra_);
        binding_.Unload();
    }
    binding_.FreeLibraries();
}

CSPContext CSPI::PlainContext() const
{
    CSPContext context{};
    context.rng = (flags_ & CSP_FLAG_HARDWARE_RNG) != 0 ? rng_ : nullptr;
    context.hardware = (flags_ & CSP_FLAG_HARDWARE) != 0 ? AsContextHardware(hardware_) : nullptr;
    context.prng = prng_;
    return context;
}

int CSPI::Initialize()
{
    return Guarded([&]() -> int {
        if (Initialized()) return CSP_OK;
        if (binding_.Load() == 0) return CSP_LIBRARY_NOT_LOADED;
        InitializeCriticalSection(&lock_);
        flags_ |= CSP_FLAG_INITIALIZED;
        binding_.LoadExtraFunctionTable(&extra_);
        return CSP_OK;
    });
}

void CSPI::SetHardware(ICSPIHardware* hardware)
{
    hardware_ = hardware;
    if (hardware != nullptr)
        flags_ |= CSP_FLAG_HARDWARE;
    else
        flags_ &= ~static_cast<std::uint32_t>(CSP_FLAG_HARDWARE);
}

int CSPI::SetHardwareRNGObject(ICSPIHardwareRNG* rng)
{
    flags_ &= ~static_cast<std::uint32_t>(CSP_FLAG_HARDWARE_RNG);
    rng_ = nullptr;
    if (rng != nullptr) {
        rng_ = rng;
        flags_ |= CSP_FLAG_HARDWARE_RNG;
    }
    return CSP_OK;
}

int CSPI::Reserved28()
{
    return CSP_OK;
}
int CSPI::Reserved29()
{
    return CSP_OK;
}
int CSPI::Reserved30()
{
    return CSP_OK;
}
int CSPI::Reserved31()
{
    return CSP_OK;
}

// ---------------------------------------------------------------------------
// Capability query: a pair {code, 0} in place of the RSA key parameters.

int CSPI::CapabilityQuery(CSPContext* context, std::uint32_t code)
{
    std::uint32_t pair[2] = {code, 0};
    return GenerateKeyPairRSACtx(context, reinterpret_cast<const std::uint8_t*>(pair), nullptr, nullptr);
}

// ---------------------------------------------------------------------------
// RSA.

int CSPI::SignHashRSA(const std::uint8_t* hash, const std::uint8_t* keyParameters, const std::uint8_t* privateKey,
                      std::uint8_t* signature)
{
    return OnPlainContext(&CSPI::SignHashRSACtx, hash, keyParameters, privateKey, signature);
}

int CSPI::SignHashRSACtx(CSPContext* context, const std::uint8_t* hash, const std::uint8_t* keyParameters,
                         const std::uint8_t* privateKey, std::uint8_t* signature)
{
    return WhenReady(context, [&]() -> int {
        if (privateKey == nullptr)
            return OnHardware(
                context, [&](ICSPIHardware& hardware) { return hardware.SignHashRSA(hash, keyParameters, signature); });
        if (!HasPrng(context)) return CSP_NO_OBJECT;
        LibraryState state(RSAFamily(binding_), 0);
        if (!state.ok()) return CSP_NO_MEMORY;
        if (!state.Set(keyParameters, CSPI_RSA_KEY_PARAMETERS) || !state.Set(privateKey, CSPI_RSA_PRIVATE_KEY))
            return CSP_BAD_PARAMETERS;
        if (!state.Set(PrngValue(context), CSPI_RSA_PRNG) || !state.Set(hash, CSPI_RSA_HASH) ||
            Call(binding_, CSPI_I_RSASignHash, state.get()) == 0 || !state.Get(signature, CSPI_RSA_SIGNATURE))
            return CSP_LIBRARY_ERROR;
        return CSP_OK;
    });
}

int CSPI::SignHashRSAEx(const std::uint8_t* hash, const std::uint8_t* keyParameters, const std::uint8_t* privateKey,
                        std::uint8_t* signature)
{
    return OnPlainContext(&CSPI::SignHashRSAExCtx, hash, keyParameters, privateKey, signature);
}

int CSPI::SignHashRSAExCtx(CSPContext* context, const std::uint8_t* hash, const std::uint8_t* keyParameters,
                           const std::uint8_t* privateKey, std::uint8_t* signature)
{
    return WhenReady(context, [&]() -> int {
        if (privateKey == nullptr)
            return OnHardware(context, kQueryHardwareRSAEx, [&](ICSPIHardware& hardware) {
                return hardware.SignHashRSAEx(hash, keyParameters, signature);
            });
        if (!HasPrng(context)) return CSP_NO_OBJECT;
        LibraryState state(RSAFamily(binding_), 0);
        if (!state.ok()) return CSP_NO_MEMORY;
        if (!state.Set(&kSchemePSS, CSPI_RSA_SCHEME) || !state.Set(keyParameters, CSPI_RSA_KEY_PARAMETERS) ||
            !state.Set(privateKey, CSPI_RSA_PRIVATE_KEY))
            return CSP_BAD_PARAMETERS;
        if (!state.Set(PrngValue(context), CSPI_RSA_PRNG) || !state.Set(hash, CSPI_RSA_HASH) ||
            Call(binding_, CSPI_I_RSASignHash, state.get()) == 0 || !state.Get(signature, CSPI_RSA_SIGNATURE))
            return CSP_LIBRARY_ERROR;
        return CSP_OK;
    });
}

namespace {

int VerifyRSA(const CSPILibraryBinding& binding, bool pss, const std::uint8_t* hash, const std::uint8_t* keyParameters,
              const std::uint8_t* publicKey, const std::uint8_t* signature)
{
    LibraryState state(RSAFamily(binding), 0);
    if (!state.ok()) return CSP_NO_MEMORY;
    if ((pss && !state.Set(&kSchemePSS, CSPI_RSA_SCHEME)) || !state.Set(keyParameters, CSPI_RSA_KEY_PARAMETERS) ||
        !state.Set(publicKey, CSPI_RSA_PUBLIC_KEY) || !state.Set(signature, CSPI_RSA_SIGNATURE))
        return CSP_BAD_PARAMETERS;
    if (!state.Set(hash, CSPI_RSA_HASH)) return CSP_LIBRARY_ERROR;
    return Call(binding, CSPI_I_RSAVerifySignature, state.get()) != 0 ? CSP_OK : CSP_INVALID_SIGNATURE;
}

}  // namespace

int CSPI::VerifySignatureRSA(const std::uint8_t* hash, const std::uint8_t* keyParameters, const std::uint8_t* publicKey,
                             const std::uint8_t* signature)
{
    return WhenReady([&]() -> int { return VerifyRSA(binding_, false, hash, keyParameters, publicKey, signature); });
}

int CSPI::VerifySignatureRSAEx(const std::uint8_t* hash, const std::uint8_t* keyParameters,
                               const std::uint8_t* publicKey, const std::uint8_t* signature)
{
    return WhenReady([&]() -> int { return VerifyRSA(binding_, true, hash, keyParameters, publicKey, signature); });
}

int CSPI::EncryptRSA(const std::uint8_t* data, std::uint32_t length, const std::uint8_t* keyParameters,
                     const std::uint8_t* publicKey, std::uint8_t* output)
{
    return OnPlainContext(&CSPI::EncryptRSACtx, data, length, keyParameters, publicKey, output);
}

int CSPI::EncryptRSACtx(CSPContext* context, const std::uint8_t* data, std::uint32_t length,
                        const std::uint8_t* keyParameters, const std::uint8_t* publicKey, std::uint8_t* output)
{
    return WhenReady(context, [&]() -> int {
        if (!HasPrng(context)) return CSP_NO_OBJECT;
        LibraryState state(RSAFamily(binding_), 0);
        if (!state.ok()) return CSP_NO_MEMORY;
        if (!state.Set(PrngValue(context), CSPI_RSA_PRNG) || !state.Set(keyParameters, CSPI_RSA_KEY_PARAMETERS) ||
            !state.Set(publicKey, CSPI_RSA_PUBLIC_KEY))
            return CSP_BAD_PARAMETERS;
        std::uint32_t discarded = 0;
        if (binding_.Intl<CSPIRSAEncryptDataFn>(CSPI_I_RSAEncryptData)(state.get(), data, length, output, &discarded) ==
            0)
            return CSP_INVALID_SIGNATURE;
        return CSP_OK;
    });
}

int CSPI::DecryptRSA(std::uint8_t* buffer, std::uint32_t* length, const std::uint8_t* keyParameters,
                     const std::uint8_t* privateKey, std::uint32_t mode)
{
    return OnPlainContext(&CSPI::DecryptRSACtx, buffer, length, keyParameters, privateKey, mode);
}

int CSPI::DecryptRSACtx(CSPContext* context, std::uint8_t* buffer, std::uint32_t* length,
                        const std::uint8_t* keyParameters, const std::uint8_t* privateKey, std::uint32_t mode)
{
    return WhenReady([&]() -> int {
        if (context == nullptr || buffer == nullptr || length == nullptr) return CSP_BAD_ARGUMENT;
        if (privateKey == nullptr)
            return OnHardware(context, kQueryHardwareDecrypt, [&](ICSPIHardware& hardware) {
                return hardware.DecryptRSA(buffer, length, keyParameters, mode);
            });
        LibraryState state(RSAFamily(binding_), 0);
        if (!state.ok()) return CSP_NO_MEMORY;
        if (!state.Set(keyParameters, CSPI_RSA_KEY_PARAMETERS) || !state.Set(privateKey, CSPI_RSA_PRIVATE_KEY))
            return CSP_BAD_PARAMETERS;
        // The result never outgrows the input; a library that claims more is
        // refused rather than trusted with the caller's buffer.
        const std::uint32_t inputLength = *length;
        cspi::SecretBuffer work(inputLength == 0 ? 1 : inputLength);
        std::uint32_t resultLength = inputLength;
        if (binding_.Intl<CSPIRSADecryptDataFn>(CSPI_I_RSADecryptData)(state.get(), buffer, inputLength, work.data(),
                                                                       &resultLength, mode) == 0)
            return CSP_LIBRARY_ERROR;
        if (resultLength > inputLength) return CSP_LIBRARY_ERROR;
        std::memset(buffer, 0, inputLength);
        std::memcpy(buffer, work.data(), resultLength);
        *length = resultLength;
        return CSP_OK;
    });
}

int CSPI::CheckPublicKeyRSA(const std::uint8_t* keyParameters)
{
    return WhenReady([&]() -> int { return CheckDomain(binding_, kRSACodes, keyParameters); });
}

int CSPI::GenerateKeyPairRSA(const std::uint8_t* keyParameters, std::uint8_t* privateKey, std::uint8_t* publicKey)
{
    return OnPlainContext(&CSPI::GenerateKeyPairRSACtx, keyParameters, privateKey, publicKey);
}

int CSPI::GenerateKeyPairRSACtx(CSPContext* context, const std::uint8_t* keyParameters, std::uint8_t* privateKey,
                                std::uint8_t* publicKey)
{
    return WhenReady(context, [&]() -> int {
        if (privateKey == nullptr && publicKey == nullptr) {
            if (keyParameters == nullptr) return CSP_BAD_ARGUMENT;
            std::uint32_t pair[2];
            std::memcpy(pair, keyParameters, sizeof(pair));
            if (pair[1] == 0 && pair[0] < 32 && ((kAlwaysAvailable >> pair[0]) & 1) != 0) return CSP_OK;
            if (pair[1] == 0 && pair[0] == kQueryPBKDF2SHA)
                return CSPIExtraEntry<FARPROC>(extra_, CSPI_E_PBKDF2SHADeriveKey) != nullptr ? CSP_OK
                                                                                             : CSP_LIBRARY_ERROR;
            if (pair[1] == 0 && pair[0] == kQueryPKCS12SHAHMAC)
                return CSPIExtraEntry<FARPROC>(extra_, CSPI_E_PKCS12PBKDFSHADeriveHMACKey) != nullptr
                           ? CSP_OK
                           : CSP_LIBRARY_ERROR;
            return OnHardware(
                context, [&](ICSPIHardware& hardware) { return hardware.GenerateKeyPairRSA(keyParameters, nullptr); });
        }
        if (privateKey == nullptr)
            return OnHardware(context, [&](ICSPIHardware& hardware) {
                return hardware.GenerateKeyPairRSA(keyParameters, publicKey);
            });
        return GenerateKeyPairInLibrary(binding_, kRSACodes, context, keyParameters, privateKey, publicKey,
                                        {CSPI_RSA_GENERATE_KEY_PAIR});
    });
}

int CSPI::CheckKeyPairRSA(const std::uint8_t* keyParameters, const std::uint8_t* privateKey,
                          const std::uint8_t* publicKey)
{
    return OnPlainContext(&CSPI::CheckKeyPairRSACtx, keyParameters, privateKey, publicKey);
}

int CSPI::CheckKeyPairRSACtx(CSPContext* context, const std::uint8_t* keyParameters, const std::uint8_t* privateKey,
                             const std::uint8_t* publicKey)
{
    return WhenReady(context, [&]() -> int {
        if (privateKey == nullptr)
            return OnHardware(
                context, [&](ICSPIHardware& hardware) { return hardware.CheckKeyPairRSA(keyParameters, publicKey); });
        return CheckKeyPairInLibrary(binding_, kRSACodes, context, keyParameters, privateKey, publicKey);
    });
}

int CSPI::GenerateHardwareKeyPairRSA(const std::uint8_t* keyParameters, const std::uint8_t* privateRecord,
                                     std::uint8_t* record)
{
    return OnPlainContext(&CSPI::GenerateHardwareKeyPairRSACtx, keyParameters, privateRecord, record);
}

int CSPI::GenerateHardwareKeyPairRSACtx(CSPContext* context, const std::uint8_t* keyParameters,
                                        const std::uint8_t* privateRecord, std::uint8_t* record)
{
    return WhenReady(context, [&]() -> int {
        if (privateRecord == nullptr)
            return OnHardware(context, kQueryHardwareKeyPair, [&](ICSPIHardware& hardware) {
                return hardware.GenerateHardwareKeyPairRSA(keyParameters, record);
            });
        if (!HasPrng(context)) return CSP_NO_OBJECT;
        {
            LibraryState state(RSAFamily(binding_), 0);
            if (!state.ok()) return CSP_NO_MEMORY;
            if (!state.Set(PrngValue(context), CSPI_RSA_PRNG)) return CSP_LIBRARY_ERROR;
            if (!state.Set(keyParameters, CSPI_RSA_KEY_PARAMETERS) || !state.Set(privateRecord, CSPI_RSA_PRIVATE_KEY))
                return CSP_BAD_PARAMETERS;
        }
        std::memcpy(record, privateRecord, CSPI_RSA_PRIVATE_KEY_BYTES / 2);
        std::memcpy(record + CSPI_RSA_PRIVATE_KEY_BYTES / 2, privateRecord + CSPI_RSA_PRIVATE_KEY_BYTES / 2,
                    CSPI_RSA_PRIVATE_KEY_BYTES / 2);
        return CSP_OK;
    });
}

// ---------------------------------------------------------------------------
// DSA and DH.

int CSPI::SignHashDSA(std::uint32_t hashLength, const std::uint8_t* hash, const std::uint8_t* domain,
                      const std::uint8_t* privateKey, std::uint8_t* signature)
{
    return OnPlainContext(&CSPI::SignHashDSACtx, hashLength, hash, domain, privateKey, signature);
}

int CSPI::SignHashDSACtx(CSPContext* context, std::uint32_t hashLength, const std::uint8_t* hash,
                         const std::uint8_t* domain, const std::uint8_t* privateKey, std::uint8_t* signature)
{
    return WhenReady(context, [&]() -> int {
        if (privateKey == nullptr)
            return OnHardware(context, [&](ICSPIHardware& hardware) {
                return hardware.SignHashDSA(hashLength, hash, domain, signature);
            });
        if (!HasPrng(context)) return CSP_NO_OBJECT;
        LibraryState state(DSAFamily(binding_), 0);
        if (!state.ok()) return CSP_NO_MEMORY;
        if (!state.Set(domain, CSPI_DSA_DOMAIN) || !state.Set(privateKey, CSPI_DSA_PRIVATE_KEY))
            return CSP_BAD_PARAMETERS;
        if (!state.Set(PrngValue(context), CSPI_DSA_PRNG) || !state.Set(&hashLength, CSPI_DSA_HASH_LENGTH) ||
            !state.Set(hash, CSPI_DSA_HASH) ||
            Generate(binding_, CSPI_I_DSAGenerateParameters, state.get(), CSPI_DSA_PREPARE_SIGNATURE) == 0 ||
            Call(binding_, CSPI_I_DSASignHash, state.get()) == 0 || !state.Get(signature, CSPI_DSA_SIGNATURE))
            return CSP_LIBRARY_ERROR;
        return CSP_OK;
    });
}

int CSPI::VerifySignatureDSA(std::uint32_t hashLength, const std::uint8_t* hash, const std::uint8_t* domain,
                             const std::uint8_t* publicKey, const std::uint8_t* signature)
{
    return WhenReady([&]() -> int {
        return VerifyWithHashLength(binding_, kDSASignature, hashLength, hash, domain, publicKey, signature);
    });
}

int CSPI::CheckParametersDSA(const std::uint8_t* domain)
{
    return WhenReady([&]() -> int { return CheckDomain(binding_, kDSACodes, domain); });
}

int CSPI::GenerateKeyPairDSA(const std::uint8_t* domain, std::uint8_t* privateKey, std::uint8_t* publicKey)
{
    return OnPlainContext(&CSPI::GenerateKeyPairDSACtx, domain, privateKey, publicKey);
}

int CSPI::GenerateKeyPairDSACtx(CSPContext* context, const std::uint8_t* domain, std::uint8_t* privateKey,
                                std::uint8_t* publicKey)
{
    return WhenReady(context, [&]() -> int {
        if (privateKey == nullptr)
            return OnHardware(context,
                              [&](ICSPIHardware& hardware) { return hardware.GenerateKeyPairDSA(domain, publicKey); });
        return GenerateKeyPairInLibrary(binding_, kDSACodes, context, domain, privateKey, publicKey,
                                        {CSPI_DSA_GENERATE_KEY_PAIR});
    });
}

int CSPI::CheckKeyPairDSA(const std::uint8_t* domain, const std::uint8_t* privateKey, const std::uint8_t* publicKey)
{
    return OnPlainContext(&CSPI::CheckKeyPairDSACtx, domain, privateKey, publicKey);
}

int CSPI::CheckKeyPairDSACtx(CSPContext* context, const std::uint8_t* domain, const std::uint8_t* privateKey,
                             const std::uint8_t* publicKey)
{
    return WhenReady(context, [&]() -> int {
        if (privateKey == nullptr)
            return OnHardware(context,
                              [&](ICSPIHardware& hardware) { return hardware.CheckKeyPairDSA(domain, publicKey); });
        return CheckKeyPairInLibrary(binding_, kDSACodes, context, domain, privateKey, publicKey);
    });
}

int CSPI::GenerateHardwareKeyPairDSA(const std::uint8_t* domain, const std::uint8_t* privateKey,
                                     std::uint8_t* publicKey)
{
    return OnPlainContext(&CSPI::GenerateHardwareKeyPairDSACtx, domain, privateKey, publicKey);
}

int CSPI::GenerateHardwareKeyPairDSACtx(CSPContext* context, const std::uint8_t* domain, const std::uint8_t* privateKey,
                                        std::uint8_t* publicKey)
{
    return WhenReady(context, [&]() -> int {
        if (privateKey == nullptr)
            return OnHardware(context, kQueryHardwareKeyPair, [&](ICSPIHardware& hardware) {
                return hardware.GenerateHardwareKeyPairDSA(domain, publicKey);
            });
        if (!HasPrng(context)) return CSP_NO_OBJECT;
        LibraryState state(DSAFamily(binding_), 0);
        if (!state.ok()) return CSP_NO_MEMORY;
        if (!state.Set(PrngValue(context), CSPI_DSA_PRNG)) return CSP_LIBRARY_ERROR;
        if (!state.Set(domain, CSPI_DSA_DOMAIN) || !state.Set(privateKey, CSPI_DSA_PRIVATE_KEY) ||
            Generate(binding_, CSPI_I_DSAGenerateParameters, state.get(), CSPI_DSA_PUBLIC_FROM_PRIVATE) == 0 ||
            !state.Get(publicKey, CSPI_DSA_PUBLIC_KEY))
            return CSP_BAD_PARAMETERS;
        return CSP_OK;
    });
}

int CSPI::CalculateSharedSecretDH(const std::uint8_t* domain, const std::uint8_t* privateKey,
                                  const std::uint8_t* peerPublicKey, std::uint8_t* secret)
{
    return OnPlainContext(&CSPI::CalculateSharedSecretDHCtx, domain, privateKey, peerPublicKey, secret);
}

int CSPI::CalculateSharedSecretDHCtx(CSPContext* context, const std::uint8_t* domain, const std::uint8_t* privateKey,
                                     const std::uint8_t* peerPublicKey, std::uint8_t* secret)
{
    return WhenReady(context, [&]() -> int {
        if (privateKey == nullptr)
            return OnHardware(context, [&](ICSPIHardware& hardware) {
                return hardware.CalculateSharedSecretDH(domain, peerPublicKey, secret);
            });
        return binding_.Intl<CSPIDHSharedSecretFn>(CSPI_I_DHCalculateSharedSecret)(domain, privateKey, peerPublicKey,
                                                                                   secret) != 0
                   ? CSP_OK
                   : CSP_LIBRARY_ERROR;
    });
}

// ---------------------------------------------------------------------------
// ECDSA and ECDH.

int CSPI::SignHashECDSA(std::uint32_t hashLength, const std::uint8_t* hash, const std::uint8_t* curve,
                        const std::uint8_t* privateKey, std::uint8_t* signature)
{
    return OnPlainContext(&CSPI::SignHashECDSACtx, hashLength, hash, curve, privateKey, signature);
}

int CSPI::SignHashECDSACtx(CSPContext* context, std::uint32_t hashLength, const std::uint8_t* hash,
                           const std::uint8_t* curve, const std::uint8_t* privateKey, std::uint8_t* signature)
{
    return WhenReady(context, [&]() -> int {
        if (privateKey == nullptr)
            return OnHardware(context, [&](ICSPIHardware& hardware) {
                return hardware.SignHashECDSA(hashLength, hash, curve, signature);
            });
        if (!HasPrng(context)) return CSP_NO_OBJECT;
        LibraryState state(ECDSAFamily(binding_), 0);
        if (!state.ok()) return CSP_NO_MEMORY;
        if (!state.Set(curve, CSPI_ECDSA_CURVE) || !state.Set(privateKey, CSPI_ECDSA_PRIVATE_KEY))
            return CSP_BAD_PARAMETERS;
        if (!state.Set(&kOne, CSPI_ECDSA_RANDOM_NONCE) || !state.Set(PrngValue(context), CSPI_ECDSA_PRNG) ||
            !state.Set(&hashLength, CSPI_ECDSA_HASH_LENGTH) || !state.Set(hash, CSPI_ECDSA_HASH) ||
            Call(binding_, CSPI_I_ECDSASignHash, state.get()) == 0 || !state.Get(signature, CSPI_ECDSA_SIGNATURE))
            return CSP_LIBRARY_ERROR;
        return CSP_OK;
    });
}

int CSPI::VerifySignatureECDSA(std::uint32_t hashLength, const std::uint8_t* hash, const std::uint8_t* curve,
                               const std::uint8_t* publicKey, const std::uint8_t* signature)
{
    return WhenReady([&]() -> int {
        return VerifyWithHashLength(binding_, kECDSASignature, hashLength, hash, curve, publicKey, signature);
    });
}

int CSPI::CheckParametersECDSA(const std::uint8_t* curve)
{
    return WhenReady([&]() -> int { return CheckDomain(binding_, kECDSACodes, curve); });
}

int CSPI::GenerateKeyPairECDSA(const std::uint8_t* curve, std::uint8_t* privateKey, std::uint8_t* publicKey)
{
    return OnPlainContext(&CSPI::GenerateKeyPairECDSACtx, curve, privateKey, publicKey);
}

int CSPI::GenerateKeyPairECDSACtx(CSPContext* context, const std::uint8_t* curve, std::uint8_t* privateKey,
                                  std::uint8_t* publicKey)
{
    return WhenReady(context, [&]() -> int {
        if (privateKey == nullptr)
            return OnHardware(context,
                              [&](ICSPIHardware& hardware) { return hardware.GenerateKeyPairECDSA(curve, publicKey); });
        return GenerateKeyPairInLibrary(binding_, kECDSACodes, context, curve, privateKey, publicKey,
                                        {CSPI_ECDSA_GENERATE_PRIVATE, CSPI_ECDSA_PUBLIC_FROM_PRIVATE});
    });
}

int CSPI::CheckKeyPairECDSA(const std::uint8_t* curve, const std::uint8_t* privateKey, const std::uint8_t* publicKey)
{
    return OnPlainContext(&CSPI::CheckKeyPairECDSACtx, curve, privateKey, publicKey);
}

int CSPI::CheckKeyPairECDSACtx(CSPContext* context, const std::uint8_t* curve, const std::uint8_t* privateKey,
                               const std::uint8_t* publicKey)
{
    return WhenReady(context, [&]() -> int {
        if (privateKey == nullptr)
            return OnHardware(context,
                              [&](ICSPIHardware& hardware) { return hardware.CheckKeyPairECDSA(curve, publicKey); });
        return CheckKeyPairInLibrary(binding_, kECDSACodes, context, curve, privateKey, publicKey);
    });
}

int CSPI::GenerateHardwareKeyPairECDSA(const std::uint8_t* curve, const std::uint8_t* privateKey,
                                       std::uint8_t* publicKey)
{
    return OnPlainContext(&CSPI::GenerateHardwareKeyPairECDSACtx, curve, privateKey, publicKey);
}

int CSPI::GenerateHardwareKeyPairECDSACtx(CSPContext* context, const std::uint8_t* curve,
                                          const std::uint8_t* privateKey, std::uint8_t* publicKey)
{
    return WhenReady(context, [&]() -> int {
        if (privateKey == nullptr)
            return OnHardware(context, kQueryHardwareKeyPair, [&](ICSPIHardware& hardware) {
                return hardware.GenerateHardwareKeyPairECDSA(curve, publicKey);
            });
        if (!HasPrng(context)) return CSP_NO_OBJECT;
        LibraryState state(ECDSAFamily(binding_), 0);
        if (!state.ok()) return CSP_NO_MEMORY;
        if (!state.Set(PrngValue(context), CSPI_ECDSA_PRNG)) return CSP_LIBRARY_ERROR;
        if (!state.Set(curve, CSPI_ECDSA_CURVE) || !state.Set(privateKey, CSPI_ECDSA_PRIVATE_KEY) ||
            Generate(binding_, CSPI_I_ECDSAGenerateParameters, state.get(), CSPI_ECDSA_PUBLIC_FROM_PRIVATE) == 0)
            return CSP_BAD_PARAMETERS;
        if (!state.Get(publicKey, CSPI_ECDSA_PUBLIC_KEY)) return CSP_LIBRARY_ERROR;
        return CSP_OK;
    });
}

int CSPI::CalculateSharedSecretECDH(const std::uint8_t* curve, const std::uint8_t* privateKey,
                                    const std::uint8_t* peerPublicKey, std::uint8_t* secret)
{
    return OnPlainContext(&CSPI::CalculateSharedSecretECDHCtx, curve, privateKey, peerPublicKey, secret);
}

int CSPI::CalculateSharedSecretECDHCtx(CSPContext* context, const std::uint8_t* curve, const std::uint8_t* privateKey,
                                       const std::uint8_t* peerPublicKey, std::uint8_t* secret)
{
    return WhenReady(context, [&]() -> int {
        if (privateKey == nullptr)
            return OnHardware(context, [&](ICSPIHardware& hardware) {
                return hardware.CalculateSharedSecretECDH(curve, peerPublicKey, secret);
            });
        if (curve == nullptr) return CSP_BAD_ARGUMENT;
        return binding_.Intl<CSPIECDHSharedSecretFn>(CSPI_I_ECDHCalculateSharedSecret)(
                   curve, curve + CSPI_CURVE_G, privateKey, peerPublicKey, secret) != 0
                   ? CSP_OK
                   : CSP_LIBRARY_ERROR;
    });
}

// ---------------------------------------------------------------------------
// Two-party ECDSA.

int CSPI::CoupleEncryptKeyECDSA(const std::uint8_t* partnerValue, const std::uint8_t* curve,
                                const std::uint8_t* privateKey, std::uint8_t* output)
{
    return OnPlainContext(&CSPI::CoupleEncryptKeyECDSACtx, partnerValue, curve, privateKey, output);
}

int CSPI::CoupleEncryptKeyECDSACtx(CSPContext* context, const std::uint8_t* partnerValue, const std::uint8_t* curve,
                                   const std::uint8_t* privateKey, std::uint8_t* output)
{
    return WhenReady([&]() -> int {
        auto encrypt = CSPIExtraEntry<CSPICoupleEncryptKeyFn>(extra_, CSPI_E_ECDSACouplePart1EncryptKey);
        if (encrypt == nullptr) return CSP_LIBRARY_ERROR;
        if (context == nullptr) return CSP_BAD_ARGUMENT;
        if (!HasPrng(context)) return CSP_NO_OBJECT;
        LibraryState state(ECDSAFamily(binding_), 0);
        if (!state.ok()) return CSP_NO_MEMORY;
        if (!state.Set(curve, CSPI_ECDSA_CURVE) || !state.Set(privateKey, CSPI_ECDSA_PRIVATE_KEY))
            return CSP_BAD_PARAMETERS;
        if (!state.Set(PrngValue(context), CSPI_ECDSA_PRNG) || !state.Set(partnerValue, CSPI_ECDSA_PARTNER_VALUE) ||
            encrypt(state.get(), output) == 0)
            return CSP_LIBRARY_ERROR;
        return CSP_OK;
    });
}

int CSPI::CoupleStep1ECDSA(const std::uint8_t* curve, std::uint8_t* firstStep, const std::uint8_t* input)
{
    return OnPlainContext(&CSPI::CoupleStep1ECDSACtx, curve, firstStep, input);
}

int CSPI::CoupleStep1ECDSACtx(CSPContext* context, const std::uint8_t* curve, std::uint8_t* firstStep,
                              const std::uint8_t* input)
{
    return WhenReady([&]() -> int {
        auto step = CSPIExtraEntry<CSPICoupleStep1Fn>(extra_, CSPI_E_ECDSACouplePart1Step1);
        if (step == nullptr) return CSP_LIBRARY_ERROR;
        if (context == nullptr) return CSP_BAD_ARGUMENT;
        if (!HasPrng(context)) return CSP_NO_OBJECT;
        LibraryState state(ECDSAFamily(binding_), 0);
        if (!state.ok()) return CSP_NO_MEMORY;
        if (!state.Set(curve, CSPI_ECDSA_CURVE)) return CSP_BAD_PARAMETERS;
        if (!state.Set(PrngValue(context), CSPI_ECDSA_PRNG) || step(state.get(), input) == 0 ||
            !state.Get(firstStep, CSPI_ECDSA_FIRST_STEP))
            return CSP_LIBRARY_ERROR;
        return CSP_OK;
    });
}

int CSPI::CoupleGenerateKeyECDSA(std::uint32_t hashLength, const std::uint8_t* hash, const std::uint8_t* partnerValue,
                                 const std::uint8_t* curve, const std::uint8_t* privateKey, std::uint8_t* result1,
                                 std::uint8_t* result2, std::uint8_t* result3, std::uint8_t* result4)
{
    return OnPlainContext(&CSPI::CoupleGenerateKeyECDSACtx, hashLength, hash, partnerValue, curve, privateKey, result1,
                          result2, result3, result4);
}

int CSPI::CoupleGenerateKeyECDSACtx(CSPContext* context, std::uint32_t hashLength, const std::uint8_t* hash,
                                    const std::uint8_t* partnerValue, const std::uint8_t* curve,
                                    const std::uint8_t* privateKey, std::uint8_t* result1, std::uint8_t* result2,
                                    std::uint8_t* result3, std::uint8_t* result4)
{
    return WhenReady(context, [&]() -> int {
        if (privateKey == nullptr)
            return OnHardware(context, kQueryHardwareCouple, [&](ICSPIHardware& hardware) {
                return hardware.CoupleGenerateKeyECDSA(hashLength, hash, partnerValue, curve, result1, result2, result3,
                                                       result4);
            });
        auto step = CSPIExtraEntry<CSPICouplePart2StepFn>(extra_, CSPI_E_ECDSACouplePart2Step);
        if (step == nullptr) return CSP_LIBRARY_ERROR;
        if (!HasPrng(context)) return CSP_NO_OBJECT;
        LibraryState state(ECDSAFamily(binding_), 0);
        if (!state.ok()) return CSP_NO_MEMORY;
        if (!state.Set(curve, CSPI_ECDSA_CURVE) || !state.Set(privateKey, CSPI_ECDSA_PRIVATE_KEY))
            return CSP_BAD_PARAMETERS;
        if (!state.Set(PrngValue(context), CSPI_ECDSA_PRNG) || !state.Set(&hashLength, CSPI_ECDSA_HASH_LENGTH) ||
            !state.Set(hash, CSPI_ECDSA_HASH) || !state.Set(partnerValue, CSPI_ECDSA_PARTNER_VALUE) ||
            step(state.get(), result1, result2, result3, result4) == 0)
            return CSP_LIBRARY_ERROR;
        return CSP_OK;
    });
}

int CSPI::CoupleStep2ECDSA(const std::uint8_t* answer, const std::uint8_t* curve, const std::uint8_t* firstStep,
                           const std::uint8_t* input1, const std::uint8_t* input2, std::uint8_t* signature)
{
    return WhenReady([&]() -> int {
        auto step = CSPIExtraEntry<CSPICoupleStep2Fn>(extra_, CSPI_E_ECDSACouplePart1Step2);
        if (step == nullptr) return CSP_LIBRARY_ERROR;
        LibraryState state(ECDSAFamily(binding_), 0);
        if (!state.ok()) return CSP_NO_MEMORY;
        if (!state.Set(curve, CSPI_ECDSA_CURVE) || !state.Set(firstStep, CSPI_ECDSA_FIRST_STEP))
            return CSP_BAD_PARAMETERS;
        if (!state.Set(answer, CSPI_ECDSA_PARTNER_ANSWER) || step(state.get(), input1, input2) == 0 ||
            !state.Get(signature, CSPI_ECDSA_SIGNATURE))
            return CSP_LIBRARY_ERROR;
        return CSP_OK;
    });
}

int CSPI::CoupleMakeCommonKeyECDSA(const std::uint8_t* curve, const std::uint8_t* privateKey,
                                   const std::uint8_t* partnerPublic, std::uint8_t* commonKey)
{
    return OnPlainContext(&CSPI::CoupleMakeCommonKeyECDSACtx, curve, privateKey, partnerPublic, commonKey);
}

int CSPI::CoupleMakeCommonKeyECDSACtx(CSPContext* context, const std::uint8_t* curve, const std::uint8_t* privateKey,
                                      const std::uint8_t* partnerPublic, std::uint8_t* commonKey)
{
    return WhenReady(context, [&]() -> int {
        if (privateKey == nullptr)
            return OnHardware(context, kQueryHardwareCouple, [&](ICSPIHardware& hardware) {
                return hardware.CoupleMakeCommonKeyECDSA(curve, partnerPublic, commonKey);
            });
        auto make = CSPIExtraEntry<CSPICoupleMakeCommonKeyFn>(extra_, CSPI_E_ECDSACoupleMakeCommonKey);
        if (make == nullptr) return CSP_LIBRARY_ERROR;
        LibraryState state(ECDSAFamily(binding_), 0);
        if (!state.ok()) return CSP_NO_MEMORY;
        if (!state.Set(curve, CSPI_ECDSA_CURVE) || !state.Set(privateKey, CSPI_ECDSA_PRIVATE_KEY))
            return CSP_BAD_PARAMETERS;
        return make(state.get(), partnerPublic, commonKey) != 0 ? CSP_OK : CSP_LIBRARY_ERROR;
    });
}

// ---------------------------------------------------------------------------
// Creation and destruction.

int CreateCSPI(CSPI** place)
{
    CSPI** target = place != nullptr ? place : &g_defaultCSPI;
    CSPI* object = new (std::nothrow) CSPI();
    *target = object;
    if (object == nullptr) return CSP_NO_MEMORY;
    int code = object->Initialize();
    if (code == CSP_OK) code = object->InitializePRNG(nullptr, nullptr, nullptr);
    if (code != CSP_OK) {
        delete object;
        *target = nullptr;
    }
    return code;
}

void DestroyCSPI(CSPI** place)
{
    CSPI** target = place != nullptr ? place : &g_defaultCSPI;
    if (*target != nullptr) {
        delete *target;
        *target = nullptr;
    }
}
