// The provider object: construction, initialisation, the kept password text,
// the hardware object, creation and destruction, and the forwarder through
// which the parameter files reach the provider.
#include "csp/CSP.h"

#include <cstring>
#include <new>

#include "csp/CSPGuard.h"

using qvkcsp::Guarded;
using qvkcsp::SecureWipe;

CSP::CSP()
    : defaultPrng_(nullptr), rng_(nullptr), hardware_(nullptr), flags_(0), extraFunctions_(nullptr),
      storedText_(nullptr), lock_{}, provider_(this)
{
    binding_.Clear();
    parameters_.SetCSP(&provider_);
}

CSP::~CSP()
{
    if (defaultPrng_ != nullptr) {
        if (binding_.baseModule != nullptr)
            binding_.Base<CGPseudoRNGDeinitializeFn>(CG_DSTU4145PseudoRNGDeinitialize)(defaultPrng_);
        defaultPrng_ = nullptr;
    }
    if (Initialized()) {
        DeleteCriticalSection(&lock_);
        CSPLibraryBinding::FreeExtraFunctionTable(&extraFunctions_);
        binding_.Unload();
    }
    if (storedText_ != nullptr) {
        SecureWipe(storedText_, std::strlen(storedText_));
        delete[] storedText_;
        storedText_ = nullptr;
    }
    binding_.FreeLibraries();
}

int CSP::Initialize()
{
    if (Initialized()) return CSP_OK;
    return Guarded([&] {
        if (!binding_.Load()) return CSP_LIBRARY_NOT_LOADED;
        InitializeCriticalSection(&lock_);
        flags_ |= CSP_FLAG_INITIALIZED;
        binding_.LoadExtraFunctionTable(&extraFunctions_);
        return CSP_OK;
    });
}

void CSP::SetHardware(ICSPHardware* hardware)
{
    hardware_ = hardware;
    if (hardware != nullptr)
        flags_ |= CSP_FLAG_HARDWARE;
    else
        flags_ &= ~CSP_FLAG_HARDWARE;
}

int CSP::SetStoredString(const char* text)
{
    return Guarded([&] {
        if (storedText_ != nullptr) {
            // The text is a password: wipe it before its memory goes back.
            SecureWipe(storedText_, std::strlen(storedText_));
            delete[] storedText_;
            storedText_ = nullptr;
        }
        if (text == nullptr) return CSP_OK;
        std::size_t size = std::strlen(text) + 1;
        char* copy = new (std::nothrow) char[size];
        if (copy == nullptr) return CSP_NO_MEMORY;
        std::memcpy(copy, text, size);
        storedText_ = copy;
        return CSP_OK;
    });
}

const char* CSP::GetStoredString()
{
    return storedText_;
}

CSPContext CSP::PlainContext() const
{
    CSPContext context;
    context.rng = (flags_ & CSP_FLAG_HARDWARE_RNG) ? rng_ : nullptr;
    context.hardware = (flags_ & CSP_FLAG_HARDWARE) ? hardware_ : nullptr;
    context.prng = defaultPrng_;
    return context;
}

void CSP::StoreDefaultPRNG(CSPHandle state)
{
    EnterCriticalSection(&lock_);
    const bool stored = defaultPrng_ == nullptr || defaultPrng_ == state;
    if (defaultPrng_ == nullptr) defaultPrng_ = state;
    LeaveCriticalSection(&lock_);
    // Another thread stored its generator first: this one would be lost.
    if (!stored) binding_.Base<CGPseudoRNGDeinitializeFn>(CG_DSTU4145PseudoRNGDeinitialize)(state);
}

CSP*& DefaultCSP()
{
    static CSP* module = nullptr;
    return module;
}

int CreateCSP(CSP** place, int startGenerator)
{
    if (place == nullptr) place = &DefaultCSP();
    CSP* csp = new (std::nothrow) CSP;
    *place = csp;
    if (csp == nullptr) return CSP_NO_MEMORY;
    int result = csp->Initialize();
    if (result == CSP_OK && startGenerator != 0) result = csp->InitializePRNG(nullptr, nullptr, nullptr);
    if (result != CSP_OK) {
        delete csp;
        *place = nullptr;
    }
    return result;
}

void DestroyCSP(CSP** place)
{
    if (place == nullptr) place = &DefaultCSP();
    if (*place != nullptr) {
        delete *place;
        *place = nullptr;
    }
}

// ---- the parameter files' view of the provider ----

int CSP::ParametersProvider::GenerateSignatureKeyPairDSTU4145(const DSTU4145FieldRecord* field,
                                                              const DSTU4145PointRecord* point,
                                                              std::uint8_t* privateKey, std::uint8_t* publicKey)
{
    // The provider may write the point record's last word; the caller's
    // records stay untouched.
    DSTU4145PointRecord copy = *point;
    return owner_->GenerateSignatureKeyPairDSTU4145(field, &copy, privateKey, publicKey);
}

const char* CSP::ParametersProvider::GetStoredString()
{
    return owner_->GetStoredString();
}

int CSP::ParametersProvider::ProtectDataGOST28147(std::uint8_t* data, std::uint32_t length,
                                                  const GOST28147PackedSBox* sBox, const std::uint8_t* startVector,
                                                  std::uint32_t* mac, std::uint8_t* tail, std::uint32_t* tailLength,
                                                  const char* password, const std::uint8_t* key)
{
    return owner_->ProtectDataGOST28147(data, length, sBox, startVector, mac, tail, tailLength, password, key);
}

int CSP::ParametersProvider::UnprotectDataGOST28147(std::uint8_t* data, std::uint32_t length,
                                                    const GOST28147PackedSBox* sBox, const std::uint8_t* startVector,
                                                    std::uint32_t expectedMac, const std::uint8_t* tail,
                                                    std::uint32_t tailLength, const char* password,
                                                    const std::uint8_t* key)
{
    return owner_->UnprotectDataGOST28147(data, length, sBox, startVector, expectedMac, tail, tailLength, password,
                                          key);
}

int CSP::ParametersProvider::HashGOST34311(const std::uint8_t* data, std::uint32_t length,
                                           const GOST28147PackedSBox* sBox, const std::uint8_t* startVector,
                                           std::uint8_t* hash)
{
    return owner_->HashGOST34311(data, length, sBox, startVector, hash);
}

int CSP::ParametersProvider::CompareHashGOST34311(const std::uint8_t* data, std::uint32_t length,
                                                  const GOST28147PackedSBox* sBox, const std::uint8_t* startVector,
                                                  const std::uint8_t* expectedHash)
{
    return owner_->CompareHashGOST34311(data, length, sBox, startVector, expectedHash);
}

int CSP::ParametersProvider::HashDSTU7564(const std::uint8_t* data, std::uint32_t length,
                                          const std::uint8_t* parameterBlock, std::uint32_t hashLength,
                                          std::uint8_t* hash)
{
    return owner_->HashDSTU7564(data, length, parameterBlock, hashLength, hash);
}

int CSP::ParametersProvider::CompareHashDSTU7564(const std::uint8_t* data, std::uint32_t length,
                                                 const std::uint8_t* parameterBlock, std::uint32_t hashLength,
                                                 const std::uint8_t* expectedHash)
{
    return owner_->CompareHashDSTU7564(data, length, parameterBlock, hashLength, expectedHash);
}

int CSP::ParametersProvider::EncryptWithPasswordDSTU7624Ex(const std::uint8_t* data, std::uint32_t length,
                                                           std::uint8_t* output, std::uint32_t outputSize,
                                                           const std::uint8_t* parameterBlock, const char* password,
                                                           const std::uint8_t* key, std::uint32_t keyLength,
                                                           const std::uint8_t* iv, std::uint32_t blockLength,
                                                           std::uint32_t macLength)
{
    return owner_->EncryptWithPasswordDSTU7624Ex(data, length, output, outputSize, parameterBlock, password, key,
                                                 keyLength, iv, blockLength, macLength);
}

int CSP::ParametersProvider::DecryptWithPasswordDSTU7624Ex(std::uint8_t* buffer, std::uint32_t size,
                                                           std::uint8_t** data, std::uint32_t* length,
                                                           const std::uint8_t* parameterBlock, const char* password,
                                                           const std::uint8_t* key, std::uint32_t keyLength)
{
    return owner_->DecryptWithPasswordDSTU7624Ex(buffer, size, data, length, parameterBlock, password, key, keyLength);
}

std::uint32_t CSP::ParametersProvider::CRC32Count(const std::uint8_t* data, std::uint32_t length)
{
    const CSPLibraryBinding& binding = owner_->binding_;
    if (binding.extModule == nullptr) return 0;
    return binding.Ext<CGCRC32CountFn>(CG_CRC32Count)(data, length);
}
