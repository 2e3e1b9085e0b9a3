// DSTU 7624 ciphers through extension entries of cgbase.so: caller-held
// states for the stream modes, state export and import, and one-shot
// operations for every mode.
#include <cstring>
#include <initializer_list>

#include "csp/CSPGuard.h"

using qvkcsp::BitsHigh;
using qvkcsp::BitsLow;
using qvkcsp::Guarded;

namespace {

enum : std::uint32_t {
    kParameterBlock = 1,
    kBlockBits = 2,
    kKeyBits = 3,
    kKey = 4,
    kIV = 5,
    kMacBits = 6,
    kMac = 7,
    kExportSize = 10,
    kExportState = 11,
    kCounter = 12
};

}  // namespace

int CSP::CreateCipherDSTU7624(const std::uint8_t* parameterBlock, const std::uint8_t* key, std::uint32_t keyLength,
                              const std::uint8_t* iv, std::uint32_t blockLength, CSPHandle* state)
{
    return Guarded([&] {
        if (!Initialized()) return CSP_NOT_INITIALIZED;
        auto set = Extra<CGSetStateParametersFn>(CGX_DSTU7624SetStateParameters);
        auto acquire = Extra<CGAcquireStateFn>(CGX_DSTU7624AcquireState);
        if (set == nullptr || acquire == nullptr) return CSP_LIBRARY_ERROR;
        if (state == nullptr) return CSP_BAD_ARGUMENT;
        CSPHandle handle = acquire();
        if (handle == nullptr) return CSP_NO_MEMORY;
        const std::uint32_t blockBits = blockLength * 8, keyBits = keyLength * 8;
        if ((parameterBlock != nullptr && set(handle, parameterBlock, kParameterBlock) == 0) ||
            set(handle, &blockBits, kBlockBits) == 0 || set(handle, &keyBits, kKeyBits) == 0 ||
            set(handle, key, kKey) == 0 || (iv != nullptr && set(handle, iv, kIV) == 0)) {
            if (auto release = Extra<CGReleaseStateFn>(CGX_DSTU7624ReleaseState)) release(handle);
            return CSP_LIBRARY_ERROR;
        }
        *state = handle;
        return CSP_OK;
    });
}

int CSP::DestroyCipherDSTU7624(CSPHandle* state)
{
    return Guarded([&] {
        if (!Initialized()) return CSP_NOT_INITIALIZED;
        auto release = Extra<CGReleaseStateFn>(CGX_DSTU7624ReleaseState);
        if (release == nullptr) return CSP_LIBRARY_ERROR;
        if (state == nullptr) return CSP_BAD_ARGUMENT;
        release(*state);
        return CSP_OK;
    });
}

// ---- state operations ----

int CSP::StateCryptDSTU7624(CSPExtraFunction mode, std::uint8_t* data, std::uint32_t length, CSPHandle* state)
{
    return Guarded([&] {
        if (!Initialized()) return CSP_NOT_INITIALIZED;
        auto crypt = Extra<CGDSTU7624StreamFn>(mode);
        if (crypt == nullptr) return CSP_LIBRARY_ERROR;
        if (state == nullptr) return CSP_BAD_ARGUMENT;
        if (crypt(data, BitsLow(length), BitsHigh(length), *state) != 0) return CSP_OK;
        if (auto release = Extra<CGReleaseStateFn>(CGX_DSTU7624ReleaseState)) release(*state);
        // Released here: the caller's destroy must not free it a second time.
        *state = nullptr;
        return CSP_LIBRARY_ERROR;
    });
}

int CSP::StateCFBDSTU7624(CSPExtraFunction mode, std::uint8_t* data, std::uint32_t length, std::uint32_t feedbackBits,
                          CSPHandle* state)
{
    return Guarded([&] {
        if (!Initialized()) return CSP_NOT_INITIALIZED;
        auto crypt = Extra<CGDSTU7624CFBFn>(mode);
        if (crypt == nullptr) return CSP_LIBRARY_ERROR;
        if (state == nullptr) return CSP_BAD_ARGUMENT;
        if (crypt(data, BitsLow(length), BitsHigh(length), feedbackBits, *state) != 0) return CSP_OK;
        if (auto release = Extra<CGReleaseStateFn>(CGX_DSTU7624ReleaseState)) release(*state);
        *state = nullptr;
        return CSP_LIBRARY_ERROR;
    });
}

int CSP::StateCryptAtDSTU7624(CSPExtraFunction mode, std::uint8_t* data, std::uint32_t length, const std::uint8_t* iv,
                              std::uint32_t offsetLow, std::uint32_t offsetHigh, CSPHandle* state)
{
    return Guarded([&] {
        if (!Initialized()) return CSP_NOT_INITIALIZED;
        auto get = Extra<CGGetStateParametersFn>(CGX_DSTU7624GetStateParameters);
        auto set = Extra<CGSetStateParametersFn>(CGX_DSTU7624SetStateParameters);
        auto crypt = Extra<CGDSTU7624StreamFn>(mode);
        if (get == nullptr || set == nullptr || crypt == nullptr) return CSP_LIBRARY_ERROR;
        if (state == nullptr) return CSP_BAD_ARGUMENT;
        std::uint32_t blockBits = 0;
        bool ok = get(*state, &blockBits, kBlockBits) != 0 && blockBits >= 8;
        if (ok) {
            // Whole blocks before the offset; a remainder is dropped, the same
            // way for encryption and decryption.
            const std::uint64_t offset = (static_cast<std::uint64_t>(offsetHigh) << 32) | offsetLow;
            const std::uint64_t counter = offset / (blockBits / 8);
            const std::uint32_t words[2] = {static_cast<std::uint32_t>(counter),
                                            static_cast<std::uint32_t>(counter >> 32)};
            ok = set(*state, iv, kIV) != 0 && set(*state, words, kCounter) != 0 &&
                 crypt(data, BitsLow(length), BitsHigh(length), *state) != 0;
        }
        if (ok) return CSP_OK;
        if (auto release = Extra<CGReleaseStateFn>(CGX_DSTU7624ReleaseState)) release(*state);
        *state = nullptr;
        return CSP_LIBRARY_ERROR;
    });
}

int CSP::EncryptCTRDSTU7624State(std::uint8_t* data, std::uint32_t length, CSPHandle* state)
{
    return StateCryptDSTU7624(CGX_DSTU7624EncryptDataCTRMode, data, length, state);
}

int CSP::DecryptCTRDSTU7624State(std::uint8_t* data, std::uint32_t length, CSPHandle* state)
{
    return StateCryptDSTU7624(CGX_DSTU7624DecryptDataCTRMode, data, length, state);
}

int CSP::EncryptOFBDSTU7624State(std::uint8_t* data, std::uint32_t length, CSPHandle* state)
{
    return StateCryptDSTU7624(CGX_DSTU7624EncryptDataOFBMode, data, length, state);
}

int CSP::DecryptOFBDSTU7624State(std::uint8_t* data, std::uint32_t length, CSPHandle* state)
{
    return StateCryptDSTU7624(CGX_DSTU7624DecryptDataOFBMode, data, length, state);
}

int CSP::EncryptCFBDSTU7624State(std::uint8_t* data, std::uint32_t length, std::uint32_t feedbackBits, CSPHandle* state)
{
    return StateCFBDSTU7624(CGX_DSTU7624EncryptDataCFBMode, data, length, feedbackBits, state);
}

int CSP::DecryptCFBDSTU7624State(std::uint8_t* data, std::uint32_t length, std::uint32_t feedbackBits, CSPHandle* state)
{
    return StateCFBDSTU7624(CGX_DSTU7624DecryptDataCFBMode, data, length, feedbackBits, state);
}

int CSP::EncryptCTRDSTU7624StateAt(std::uint8_t* data, std::uint32_t length, const std::uint8_t* iv,
                                   std::uint32_t offsetLow, std::uint32_t offsetHigh, CSPHandle* state)
{
    return StateCryptAtDSTU7624(CGX_DSTU7624EncryptDataCTRMode, data, length, iv, offsetLow, offsetHigh, state);
}

int CSP::DecryptCTRDSTU7624StateAt(std::uint8_t* data, std::uint32_t length, const std::uint8_t* iv,
                                   std::uint32_t offsetLow, std::uint32_t offsetHigh, CSPHandle* state)
{
    return StateCryptAtDSTU7624(CGX_DSTU7624DecryptDataCTRMode, data, length, iv, offsetLow, offsetHigh, state);
}

// ---- export and import (shared with DSTU 8845) ----

int CSP::ExportState(CSPExtraFunction getEntry, std::uint32_t sizeCode, std::uint32_t stateCode, CSPHandle* state,
                     std::uint8_t* buffer, std::uint32_t* size)
{
    return Guarded([&] {
        if (!Initialized()) return CSP_NOT_INITIALIZED;
        auto get = Extra<CGGetStateParametersFn>(getEntry);
        if (get == nullptr) return CSP_LIBRARY_ERROR;
        if (state == nullptr) return CSP_BAD_ARGUMENT;
        std::uint32_t exportSize = 0;
        if (get(*state, &exportSize, sizeCode) == 0) return CSP_LIBRARY_ERROR;
        if (buffer != nullptr && get(*state, buffer, stateCode) == 0) return CSP_LIBRARY_ERROR;
        if (size != nullptr) *size = exportSize;
        return CSP_OK;
    });
}

int CSP::ImportState(CSPExtraFunction acquireEntry, CSPExtraFunction releaseEntry, CSPExtraFunction getEntry,
                     CSPExtraFunction setEntry, std::uint32_t sizeCode, std::uint32_t stateCode, CSPHandle* state,
                     const std::uint8_t* data, std::uint32_t size)
{
    return Guarded([&] {
        if (!Initialized()) return CSP_NOT_INITIALIZED;
        auto acquire = Extra<CGAcquireStateFn>(acquireEntry);
        auto release = Extra<CGReleaseStateFn>(releaseEntry);
        auto get = Extra<CGGetStateParametersFn>(getEntry);
        auto set = Extra<CGSetStateParametersFn>(setEntry);
        if (acquire == nullptr || release == nullptr || get == nullptr || set == nullptr) return CSP_LIBRARY_ERROR;
        if (state == nullptr) return CSP_BAD_ARGUMENT;
        bool acquired = false;
        if (*state == nullptr) {
            *state = acquire();
            if (*state == nullptr) return CSP_NO_MEMORY;
            acquired = true;
        }
        std::uint32_t expected = 0;
        if (get(*state, &expected, sizeCode) != 0 && expected == size && data != nullptr &&
            set(*state, data, stateCode) != 0)
            return CSP_OK;
        if (acquired) {
            release(*state);
            *state = nullptr;
        }
        return CSP_LIBRARY_ERROR;
    });
}

int CSP::ExportStateDSTU7624(CSPHandle* state, std::uint8_t* buffer, std::uint32_t* size)
{
    return ExportState(CGX_DSTU7624GetStateParameters, kExportSize, kExportState, state, buffer, size);
}

int CSP::ImportStateDSTU7624(CSPHandle* state, const std::uint8_t* data, std::uint32_t size)
{
    return ImportState(CGX_DSTU7624AcquireState, CGX_DSTU7624ReleaseState, CGX_DSTU7624GetStateParameters,
                       CGX_DSTU7624SetStateParameters, kExportSize, kExportState, state, data, size);
}

// ---- one-shot operations ----

namespace {

// The shape of every one-shot: make a state, run the steps, release it.
template <typename Provider, typename Steps>
int OneShot(Provider* csp, const CSPExtraFunctionTable* table, std::initializer_list<CSPExtraFunction> entries,
            const std::uint8_t* parameterBlock, const std::uint8_t* key, std::uint32_t keyLength,
            const std::uint8_t* iv, std::uint32_t blockLength, Steps steps)
{
    if ((csp->Flags() & CSP_FLAG_INITIALIZED) == 0) return CSP_NOT_INITIALIZED;
    if (table == nullptr) return CSP_LIBRARY_ERROR;
    for (CSPExtraFunction entry : entries)
        if (table->entries[entry] == nullptr) return CSP_LIBRARY_ERROR;
    CSPHandle state = nullptr;
    int result = csp->CreateCipherDSTU7624(parameterBlock, key, keyLength, iv, blockLength, &state);
    if (result != CSP_OK) return result;
    bool ok = steps(state);
    auto release = reinterpret_cast<CGReleaseStateFn>(table->entries[CGX_DSTU7624ReleaseState]);
    if (release == nullptr) return CSP_LIBRARY_ERROR;
    release(state);
    return ok ? CSP_OK : CSP_LIBRARY_ERROR;
}

template <typename Fn>
Fn Entry(const CSPExtraFunctionTable* table, CSPExtraFunction index)
{
    return reinterpret_cast<Fn>(table->entries[index]);
}

}  // namespace

int CSP::EncryptECBDSTU7624(std::uint8_t* data, std::uint32_t length, const std::uint8_t* parameterBlock,
                            const std::uint8_t* key, std::uint32_t keyLength, std::uint32_t blockLength)
{
    return Guarded([&] {
        return OneShot(this, extraFunctions_, {CGX_DSTU7624EncryptDataECBMode}, parameterBlock, key, keyLength, nullptr,
                       blockLength, [&](CSPHandle state) {
                           return Entry<CGDSTU7624ECBFn>(extraFunctions_, CGX_DSTU7624EncryptDataECBMode)(data, length,
                                                                                                          state) != 0;
                       });
    });
}

int CSP::DecryptECBDSTU7624(std::uint8_t* data, std::uint32_t length, const std::uint8_t* parameterBlock,
                            const std::uint8_t* key, std::uint32_t keyLength, std::uint32_t blockLength)
{
    return Guarded([&] {
        return OneShot(this, extraFunctions_, {CGX_DSTU7624DecryptDataECBMode}, parameterBlock, key, keyLength, nullptr,
                       blockLength, [&](CSPHandle state) {
                           return Entry<CGDSTU7624ECBFn>(extraFunctions_, CGX_DSTU7624DecryptDataECBMode)(data, length,
                                                                                                          state) != 0;
                       });
    });
}

int CSP::EncryptCTRDSTU7624(std::uint8_t* data, std::uint32_t length, const std::uint8_t* parameterBlock,
                            const std::uint8_t* key, std::uint32_t keyLength, const std::uint8_t* iv,
                            std::uint32_t blockLength)
{
    return Guarded([&] {
        CSPHandle state = nullptr;
        int result = CreateCipherDSTU7624(parameterBlock, key, keyLength, iv, blockLength, &state);
        if (result == CSP_OK) result = EncryptCTRDSTU7624State(data, length, &state);
        if (result == CSP_OK) result = DestroyCipherDSTU7624(&state);
        return result;
    });
}

int CSP::DecryptCTRDSTU7624(std::uint8_t* data, std::uint32_t length, const std::uint8_t* parameterBlock,
                            const std::uint8_t* key, std::uint32_t keyLength, const std::uint8_t* iv,
                            std::uint32_t blockLength)
{
    return Guarded([&] {
        CSPHandle state = nullptr;
        int result = CreateCipherDSTU7624(parameterBlock, key, keyLength, iv, blockLength, &state);
        if (result == CSP_OK) result = DecryptCTRDSTU7624State(data, length, &state);
        if (result == CSP_OK) result = DestroyCipherDSTU7624(&state);
        return result;
    });
}

int CSP::EncryptOFBDSTU7624(std::uint8_t* data, std::uint32_t length, const std::uint8_t* parameterBlock,
                            const std::uint8_t* key, std::uint32_t keyLength, const std::uint8_t* iv,
                            std::uint32_t blockLength)
{
    return Guarded([&] {
        CSPHandle state = nullptr;
        int result = CreateCipherDSTU7624(parameterBlock, key, keyLength, iv, blockLength, &state);
        if (result == CSP_OK) result = EncryptOFBDSTU7624State(data, length, &state);
        if (result == CSP_OK) result = DestroyCipherDSTU7624(&state);
        return result;
    });
}

int CSP::DecryptOFBDSTU7624(std::uint8_t* data, std::uint32_t length, const std::uint8_t* parameterBlock,
                            const std::uint8_t* key, std::uint32_t keyLength, const std::uint8_t* iv,
                            std::uint32_t blockLength)
{
    return Guarded([&] {
        CSPHandle state = nullptr;
        int result = CreateCipherDSTU7624(parameterBlock, key, keyLength, iv, blockLength, &state);
        if (result == CSP_OK) result = DecryptOFBDSTU7624State(data, length, &state);
        if (result == CSP_OK) result = DestroyCipherDSTU7624(&state);
        return result;
    });
}

int CSP::EncryptCFBDSTU7624(std::uint8_t* data, std::uint32_t length, const std::uint8_t* parameterBlock,
                            const std::uint8_t* key, std::uint32_t keyLength, const std::uint8_t* iv,
                            std::uint32_t blockLength, std::uint32_t feedbackBits)
{
    return Guarded([&] {
        return OneShot(this, extraFunctions_, {CGX_DSTU7624EncryptDataCFBMode}, parameterBlock, key, keyLength, iv,
                       blockLength, [&](CSPHandle state) {
                           return Entry<CGDSTU7624CFBFn>(extraFunctions_, CGX_DSTU7624EncryptDataCFBMode)(
                                      data, BitsLow(length), BitsHigh(length), feedbackBits, state) != 0;
                       });
    });
}

int CSP::DecryptCFBDSTU7624(std::uint8_t* data, std::uint32_t length, const std::uint8_t* parameterBlock,
                            const std::uint8_t* key, std::uint32_t keyLength, const std::uint8_t* iv,
                            std::uint32_t blockLength, std::uint32_t feedbackBits)
{
    return Guarded([&] {
        return OneShot(this, extraFunctions_, {CGX_DSTU7624DecryptDataCFBMode}, parameterBlock, key, keyLength, iv,
                       blockLength, [&](CSPHandle state) {
                           return Entry<CGDSTU7624CFBFn>(extraFunctions_, CGX_DSTU7624DecryptDataCFBMode)(
                                      data, BitsLow(length), BitsHigh(length), feedbackBits, state) != 0;
                       });
    });
}

int CSP::ComputeCMACDSTU7624(const std::uint8_t* data, std::uint32_t length, const std::uint8_t* parameterBlock,
                             const std::uint8_t* key, std::uint32_t keyLength, std::uint32_t blockLength,
                             std::uint8_t* mac, std::uint32_t macLength)
{
    return Guarded([&] {
        return OneShot(this, extraFunctions_,
                       {CGX_DSTU7624GetDataCMAC, CGX_DSTU7624SetStateParameters, CGX_DSTU7624GetStateParameters},
                       parameterBlock, key, keyLength, nullptr, blockLength, [&](CSPHandle state) {
                           auto set = Entry<CGSetStateParametersFn>(extraFunctions_, CGX_DSTU7624SetStateParameters);
                           auto get = Entry<CGGetStateParametersFn>(extraFunctions_, CGX_DSTU7624GetStateParameters);
                           const std::uint32_t macBits = macLength * 8;
                           return Entry<CGDSTU7624MACFn>(extraFunctions_, CGX_DSTU7624GetDataCMAC)(
                                      data, BitsLow(length), BitsHigh(length), state) != 0 &&
                                  set(state, &macBits, kMacBits) != 0 && get(state, mac, kMac) != 0;
                       });
    });
}

int CSP::CheckCMACDSTU7624(const std::uint8_t* data, std::uint32_t length, const std::uint8_t* expectedMac,
                           std::uint32_t macLength, const std::uint8_t* parameterBlock, const std::uint8_t* key,
                           std::uint32_t keyLength, std::uint32_t blockLength)
{
    return Guarded([&] {
        return OneShot(this, extraFunctions_, {CGX_DSTU7624CheckDataCMAC, CGX_DSTU7624SetStateParameters},
                       parameterBlock, key, keyLength, nullptr, blockLength, [&](CSPHandle state) {
                           auto set = Entry<CGSetStateParametersFn>(extraFunctions_, CGX_DSTU7624SetStateParameters);
                           const std::uint32_t macBits = macLength * 8;
                           return set(state, &macBits, kMacBits) != 0 && set(state, expectedMac, kMac) != 0 &&
                                  Entry<CGDSTU7624MACFn>(extraFunctions_, CGX_DSTU7624CheckDataCMAC)(
                                      data, BitsLow(length), BitsHigh(length), state) != 0;
                       });
    });
}

int CSP::EncryptCBCDSTU7624(std::uint8_t* data, std::uint32_t length, std::uint32_t bufferLength,
                            const std::uint8_t* parameterBlock, const std::uint8_t* key, std::uint32_t keyLength,
                            const std::uint8_t* iv, std::uint32_t blockLength)
{
    return Guarded([&] {
        return OneShot(this, extraFunctions_, {CGX_DSTU7624EncryptDataCBCMode}, parameterBlock, key, keyLength, iv,
                       blockLength, [&](CSPHandle state) {
                           return Entry<CGDSTU7624PadEncryptFn>(extraFunctions_, CGX_DSTU7624EncryptDataCBCMode)(
                                      data, BitsLow(length), BitsHigh(length), BitsLow(bufferLength),
                                      BitsHigh(bufferLength), state) != 0;
                       });
    });
}

int CSP::DecryptCBCDSTU7624(std::uint8_t* data, std::uint32_t* length, int removePadding,
                            const std::uint8_t* parameterBlock, const std::uint8_t* key, std::uint32_t keyLength,
                            const std::uint8_t* iv, std::uint32_t blockLength)
{
    return Guarded([&] {
        if (Initialized() && length == nullptr) return CSP_BAD_ARGUMENT;
        return OneShot(this, extraFunctions_, {CGX_DSTU7624DecryptDataCBCMode}, parameterBlock, key, keyLength, iv,
                       blockLength, [&](CSPHandle state) {
                           CryptoBitLength result{0, 0};
                           if (Entry<CGDSTU7624PadDecryptFn>(extraFunctions_, CGX_DSTU7624DecryptDataCBCMode)(
                                   data, BitsLow(*length), BitsHigh(*length), removePadding, &result, state) == 0)
                               return false;
                           *length = static_cast<std::uint32_t>((CryptoLoadBitLength(&result) + 7) / 8);
                           return true;
                       });
    });
}

int CSP::EncryptGCMDSTU7624(std::uint8_t* data, std::uint32_t length, const std::uint8_t* associatedData,
                            std::uint32_t associatedLength, const std::uint8_t* parameterBlock, const std::uint8_t* key,
                            std::uint32_t keyLength, const std::uint8_t* iv, std::uint32_t blockLength,
                            std::uint8_t* tag, std::uint32_t tagLength)
{
    return Guarded([&] {
        return OneShot(this, extraFunctions_,
                       {CGX_DSTU7624EncryptDataGCMMode, CGX_DSTU7624SetStateParameters, CGX_DSTU7624GetStateParameters},
                       parameterBlock, key, keyLength, iv, blockLength, [&](CSPHandle state) {
                           auto set = Entry<CGSetStateParametersFn>(extraFunctions_, CGX_DSTU7624SetStateParameters);
                           auto get = Entry<CGGetStateParametersFn>(extraFunctions_, CGX_DSTU7624GetStateParameters);
                           const std::uint32_t tagBits = tagLength * 8;
                           return Entry<CGDSTU7624GCMFn>(extraFunctions_, CGX_DSTU7624EncryptDataGCMMode)(
                                      data, BitsLow(length), BitsHigh(length), associatedData,
                                      BitsLow(associatedLength), BitsHigh(associatedLength), state) != 0 &&
                                  set(state, &tagBits, kMacBits) != 0 && get(state, tag, kMac) != 0;
                       });
    });
}

int CSP::DecryptGCMDSTU7624(std::uint8_t* data, std::uint32_t length, const std::uint8_t* associatedData,
                            std::uint32_t associatedLength, const std::uint8_t* expectedTag, std::uint32_t tagLength,
                            const std::uint8_t* parameterBlock, const std::uint8_t* key, std::uint32_t keyLength,
                            const std::uint8_t* iv, std::uint32_t blockLength)
{
    return Guarded([&] {
        return OneShot(this, extraFunctions_, {CGX_DSTU7624DecryptDataGCMMode, CGX_DSTU7624SetStateParameters},
                       parameterBlock, key, keyLength, iv, blockLength, [&](CSPHandle state) {
                           auto set = Entry<CGSetStateParametersFn>(extraFunctions_, CGX_DSTU7624SetStateParameters);
                           const std::uint32_t tagBits = tagLength * 8;
                           return set(state, &tagBits, kMacBits) != 0 && set(state, expectedTag, kMac) != 0 &&
                                  Entry<CGDSTU7624GCMFn>(extraFunctions_, CGX_DSTU7624DecryptDataGCMMode)(
                                      data, BitsLow(length), BitsHigh(length), associatedData,
                                      BitsLow(associatedLength), BitsHigh(associatedLength), state) != 0;
                       });
    });
}

int CSP::ComputeGMACDSTU7624(const std::uint8_t* data, std::uint32_t length, const std::uint8_t* parameterBlock,
                             const std::uint8_t* key, std::uint32_t keyLength, std::uint32_t blockLength,
                             std::uint8_t* mac, std::uint32_t macLength)
{
    return Guarded([&] {
        return OneShot(this, extraFunctions_,
                       {CGX_DSTU7624GetDataGMAC, CGX_DSTU7624SetStateParameters, CGX_DSTU7624GetStateParameters},
                       parameterBlock, key, keyLength, nullptr, blockLength, [&](CSPHandle state) {
                           auto set = Entry<CGSetStateParametersFn>(extraFunctions_, CGX_DSTU7624SetStateParameters);
                           auto get = Entry<CGGetStateParametersFn>(extraFunctions_, CGX_DSTU7624GetStateParameters);
                           const std::uint32_t macBits = macLength * 8;
                           return Entry<CGDSTU7624MACFn>(extraFunctions_, CGX_DSTU7624GetDataGMAC)(
                                      data, BitsLow(length), BitsHigh(length), state) != 0 &&
                                  set(state, &macBits, kMacBits) != 0 && get(state, mac, kMac) != 0;
                       });
    });
}

int CSP::CheckGMACDSTU7624(const std::uint8_t* data, std::uint32_t length, const std::uint8_t* expectedMac,
                           std::uint32_t macLength, const std::uint8_t* parameterBlock, const std::uint8_t* key,
                           std::uint32_t keyLength, std::uint32_t blockLength)
{
    return Guarded([&] {
        return OneShot(this, extraFunctions_, {CGX_DSTU7624CheckDataGMAC, CGX_DSTU7624SetStateParameters},
                       parameterBlock, key, keyLength, nullptr, blockLength, [&](CSPHandle state) {
                           auto set = Entry<CGSetStateParametersFn>(extraFunctions_, CGX_DSTU7624SetStateParameters);
                           const std::uint32_t macBits = macLength * 8;
                           return set(state, &macBits, kMacBits) != 0 && set(state, expectedMac, kMac) != 0 &&
                                  Entry<CGDSTU7624MACFn>(extraFunctions_, CGX_DSTU7624CheckDataGMAC)(
                                      data, BitsLow(length), BitsHigh(length), state) != 0;
                       });
    });
}

int CSP::EncryptCCMDSTU7624(std::uint8_t* buffer, std::uint32_t plainLength, std::uint32_t bufferLength,
                            const std::uint8_t* associatedData, std::uint32_t associatedLength,
                            const std::uint8_t* parameterBlock, const std::uint8_t* key, std::uint32_t keyLength,
                            const std::uint8_t* iv, std::uint32_t blockLength, std::uint32_t lengthFieldBytes,
                            std::uint32_t macLength)
{
    return Guarded([&] {
        return OneShot(this, extraFunctions_, {CGX_DSTU7624EncryptDataCCMMode, CGX_DSTU7624SetStateParameters},
                       parameterBlock, key, keyLength, iv, blockLength, [&](CSPHandle state) {
                           auto set = Entry<CGSetStateParametersFn>(extraFunctions_, CGX_DSTU7624SetStateParameters);
                           const std::uint32_t macBits = macLength * 8;
                           return set(state, &macBits, kMacBits) != 0 &&
                                  Entry<CGDSTU7624EncryptCCMFn>(extraFunctions_, CGX_DSTU7624EncryptDataCCMMode)(
                                      buffer, plainLength, bufferLength, associatedData, associatedLength,
                                      lengthFieldBytes, state) != 0;
                       });
    });
}

int CSP::DecryptCCMDSTU7624(std::uint8_t* buffer, std::uint32_t bufferLength, const std::uint8_t* associatedData,
                            std::uint32_t associatedLength, const std::uint8_t* parameterBlock, const std::uint8_t* key,
                            std::uint32_t keyLength, const std::uint8_t* iv, std::uint32_t blockLength,
                            std::uint32_t lengthFieldBytes, std::uint32_t macLength)
{
    return Guarded([&] {
        return OneShot(this, extraFunctions_, {CGX_DSTU7624DecryptDataCCMMode, CGX_DSTU7624SetStateParameters},
                       parameterBlock, key, keyLength, iv, blockLength, [&](CSPHandle state) {
                           auto set = Entry<CGSetStateParametersFn>(extraFunctions_, CGX_DSTU7624SetStateParameters);
                           const std::uint32_t macBits = macLength * 8;
                           return set(state, &macBits, kMacBits) != 0 &&
                                  Entry<CGDSTU7624DecryptCCMFn>(extraFunctions_, CGX_DSTU7624DecryptDataCCMMode)(
                                      buffer, bufferLength, associatedData, associatedLength, lengthFieldBytes,
                                      state) != 0;
                       });
    });
}

int CSP::EncryptXTSDSTU7624(std::uint8_t* data, std::uint32_t length, const std::uint8_t* parameterBlock,
                            const std::uint8_t* key, std::uint32_t keyLength, const std::uint8_t* iv,
                            std::uint32_t blockLength)
{
    return Guarded([&] {
        return OneShot(this, extraFunctions_, {CGX_DSTU7624EncryptDataXTSMode}, parameterBlock, key, keyLength, iv,
                       blockLength, [&](CSPHandle state) {
                           return Entry<CGDSTU7624StreamFn>(extraFunctions_, CGX_DSTU7624EncryptDataXTSMode)(
                                      data, BitsLow(length), BitsHigh(length), state) != 0;
                       });
    });
}

int CSP::DecryptXTSDSTU7624(std::uint8_t* data, std::uint32_t length, const std::uint8_t* parameterBlock,
                            const std::uint8_t* key, std::uint32_t keyLength, const std::uint8_t* iv,
                            std::uint32_t blockLength)
{
    return Guarded([&] {
        return OneShot(this, extraFunctions_, {CGX_DSTU7624DecryptDataXTSMode}, parameterBlock, key, keyLength, iv,
                       blockLength, [&](CSPHandle state) {
                           return Entry<CGDSTU7624StreamFn>(extraFunctions_, CGX_DSTU7624DecryptDataXTSMode)(
                                      data, BitsLow(length), BitsHigh(length), state) != 0;
                       });
    });
}

int CSP::EncryptKWDSTU7624(std::uint8_t* data, std::uint32_t length, std::uint32_t bufferLength,
                           const std::uint8_t* parameterBlock, const std::uint8_t* key, std::uint32_t keyLength,
                           std::uint32_t blockLength)
{
    return Guarded([&] {
        return OneShot(this, extraFunctions_, {CGX_DSTU7624EncryptDataKWMode}, parameterBlock, key, keyLength, nullptr,
                       blockLength, [&](CSPHandle state) {
                           return Entry<CGDSTU7624PadEncryptFn>(extraFunctions_, CGX_DSTU7624EncryptDataKWMode)(
                                      data, BitsLow(length), BitsHigh(length), BitsLow(bufferLength),
                                      BitsHigh(bufferLength), state) != 0;
                       });
    });
}

int CSP::DecryptKWDSTU7624(std::uint8_t* data, std::uint32_t* length, int removePadding,
                           const std::uint8_t* parameterBlock, const std::uint8_t* key, std::uint32_t keyLength,
                           const void* /*unused*/, std::uint32_t blockLength)
{
    return Guarded([&] {
        if (Initialized() && length == nullptr) return CSP_BAD_ARGUMENT;
        return OneShot(this, extraFunctions_, {CGX_DSTU7624DecryptDataKWMode}, parameterBlock, key, keyLength, nullptr,
                       blockLength, [&](CSPHandle state) {
                           CryptoBitLength result{0, 0};
                           if (Entry<CGDSTU7624PadDecryptFn>(extraFunctions_, CGX_DSTU7624DecryptDataKWMode)(
                                   data, BitsLow(*length), BitsHigh(*length), removePadding, &result, state) == 0)
                               return false;
                           *length = static_cast<std::uint32_t>((CryptoLoadBitLength(&result) + 7) / 8);
                           return true;
                       });
    });
}
