// The DSTU 8845 stream cipher through extension entries of cgbase.so: one
// call encrypts and decrypts, from the state's position or from a given one.
#include "csp/CSPGuard.h"

using qvkcsp::Guarded;

namespace {

enum : std::uint32_t {
    kParameterBlock = 1,
    kKeyBits = 2,
    kKey = 3,
    kIV = 4,
    kPosition = 5,
    kPositionEx = 6,
    kExportSize = 7,
    kExportState = 8
};

}  // namespace

int CSP::CreateCipherDSTU8845(const std::uint8_t* parameterBlock, const std::uint8_t* key, std::uint32_t keyLength,
                              const std::uint8_t* iv, CSPHandle* state)
{
    return Guarded([&] {
        if (!Initialized()) return CSP_NOT_INITIALIZED;
        auto set = Extra<CGSetStateParametersFn>(CGX_DSTU8845SetStateParameters);
        auto acquire = Extra<CGAcquireStateFn>(CGX_DSTU8845AcquireState);
        if (set == nullptr || acquire == nullptr) return CSP_LIBRARY_ERROR;
        if (state == nullptr) return CSP_BAD_ARGUMENT;
        CSPHandle handle = acquire();
        if (handle == nullptr) return CSP_NO_MEMORY;
        const std::uint32_t keyBits = keyLength * 8;
        if ((parameterBlock != nullptr && set(handle, parameterBlock, kParameterBlock) == 0) ||
            set(handle, &keyBits, kKeyBits) == 0 || set(handle, key, kKey) == 0 ||
            (iv != nullptr && set(handle, iv, kIV) == 0)) {
            if (auto release = Extra<CGReleaseStateFn>(CGX_DSTU8845ReleaseState)) release(handle);
            return CSP_LIBRARY_ERROR;
        }
        *state = handle;
        return CSP_OK;
    });
}

int CSP::DestroyCipherDSTU8845(CSPHandle* state)
{
    return Guarded([&] {
        if (!Initialized()) return CSP_NOT_INITIALIZED;
        auto release = Extra<CGReleaseStateFn>(CGX_DSTU8845ReleaseState);
        if (release == nullptr) return CSP_LIBRARY_ERROR;
        if (state == nullptr) return CSP_BAD_ARGUMENT;
        release(*state);
        return CSP_OK;
    });
}

int CSP::CryptDSTU8845State(std::uint8_t* data, std::uint32_t length, CSPHandle* state)
{
    return Guarded([&] {
        if (!Initialized()) return CSP_NOT_INITIALIZED;
        auto crypt = Extra<CGDSTU8845EncryptDataFn>(CGX_DSTU8845EncryptData);
        if (crypt == nullptr) return CSP_LIBRARY_ERROR;
        if (state == nullptr) return CSP_BAD_ARGUMENT;
        if (crypt(data, length, *state) != 0) return CSP_OK;
        if (auto release = Extra<CGReleaseStateFn>(CGX_DSTU8845ReleaseState)) release(*state);
        // Released here: the caller's destroy must not free it a second time.
        *state = nullptr;
        return CSP_LIBRARY_ERROR;
    });
}

int CSP::StateCryptAtDSTU8845(std::uint32_t code, std::uint8_t* data, std::uint32_t length, const std::uint8_t* iv,
                              std::uint32_t positionLow, std::uint32_t positionHigh, CSPHandle* state)
{
    return Guarded([&] {
        if (!Initialized()) return CSP_NOT_INITIALIZED;
        auto get = Extra<CGGetStateParametersFn>(CGX_DSTU8845GetStateParameters);
        auto set = Extra<CGSetStateParametersFn>(CGX_DSTU8845SetStateParameters);
        auto crypt = Extra<CGDSTU8845EncryptDataFn>(CGX_DSTU8845EncryptData);
        if (get == nullptr || set == nullptr || crypt == nullptr) return CSP_LIBRARY_ERROR;
        if (state == nullptr) return CSP_BAD_ARGUMENT;
        const std::uint32_t position[2] = {positionLow, positionHigh};
        if (set(*state, iv, kIV) != 0 && set(*state, position, code) != 0 && crypt(data, length, *state) != 0)
            return CSP_OK;
        if (auto release = Extra<CGReleaseStateFn>(CGX_DSTU8845ReleaseState)) release(*state);
        *state = nullptr;
        return CSP_LIBRARY_ERROR;
    });
}

int CSP::CryptDSTU8845StateAt(std::uint8_t* data, std::uint32_t length, const std::uint8_t* iv,
                              std::uint32_t positionLow, std::uint32_t positionHigh, CSPHandle* state)
{
    return StateCryptAtDSTU8845(kPosition, data, length, iv, positionLow, positionHigh, state);
}

int CSP::CryptDSTU8845StateAtEx(std::uint8_t* data, std::uint32_t length, const std::uint8_t* iv,
                                std::uint32_t positionLow, std::uint32_t positionHigh, CSPHandle* state)
{
    return StateCryptAtDSTU8845(kPositionEx, data, length, iv, positionLow, positionHigh, state);
}

int CSP::CryptDSTU8845(std::uint8_t* data, std::uint32_t length, const std::uint8_t* parameterBlock,
                       const std::uint8_t* key, std::uint32_t keyLength, const std::uint8_t* iv)
{
    return Guarded([&] {
        CSPHandle state = nullptr;
        int result = CreateCipherDSTU8845(parameterBlock, key, keyLength, iv, &state);
        if (result == CSP_OK) result = CryptDSTU8845State(data, length, &state);
        if (result == CSP_OK) result = DestroyCipherDSTU8845(&state);
        return result;
    });
}

int CSP::ExportStateDSTU8845(CSPHandle* state, std::uint8_t* buffer, std::uint32_t* size)
{
    return ExportState(CGX_DSTU8845GetStateParameters, kExportSize, kExportState, state, buffer, size);
}

int CSP::ImportStateDSTU8845(CSPHandle* state, const std::uint8_t* data, std::uint32_t size)
{
    return ImportState(CGX_DSTU8845AcquireState, CGX_DSTU8845ReleaseState, CGX_DSTU8845GetStateParameters,
                       CGX_DSTU8845SetStateParameters, kExportSize, kExportState, state, data, size);
}
