// CSPI TDEA and AES operations: CBC with a tail, MACs, random keys, streaming
// states kept by the caller, and AES GCM through the optional table.
#include <cstring>

#include "crypto/SecureWipe.h"
#include "csp/CSPI.h"
#include "csp/CSPIInternal.h"

using cspi::Family;
using cspi::Guarded;
using cspi::LibraryState;
using cspi::SecretArray;
using cspi::SecretBuffer;
using cspi::ValidAESKeyBits;

namespace {

Family TDEAFamily(const CSPILibraryBinding& b)
{
    return {b.Intl<CSPIAcquireStateFn>(CSPI_I_TDEAAcquireState), b.Intl<CSPIReleaseStateFn>(CSPI_I_TDEAReleaseState),
            b.Intl<CSPISetStateParametersFn>(CSPI_I_TDEASetStateParameters),
            b.Intl<CSPIGetStateParametersFn>(CSPI_I_TDEAGetStateParameters)};
}

// AESGetStateParameters sits in the optional table; only the GCM finish uses it.
Family AESFamily(const CSPILibraryBinding& b, const CSPIExtraFunctionTable* extra)
{
    return {b.Intl<CSPIAcquireStateFn>(CSPI_I_AESAcquireState), b.Intl<CSPIReleaseStateFn>(CSPI_I_AESReleaseState),
            b.Intl<CSPISetStateParametersFn>(CSPI_I_AESSetStateParameters),
            CSPIExtraEntry<CSPIGetStateParametersFn>(extra, CSPI_E_AESGetStateParameters)};
}

void Release(const CSPILibraryBinding& b, CSPIIntlFunction release, CSPIState* state)
{
    if (*state != nullptr) b.Intl<CSPIReleaseStateFn>(release)(*state);
    *state = nullptr;
}

// The outputs an encryption with a tail writes: data (unless empty) and,
// where the data is not whole blocks, the tail and its length. Checked before
// anything is drawn, so a refused call uses up no key.
bool TailOutputsGiven(const std::uint8_t* data, std::uint32_t length, std::uint32_t block, const std::uint8_t* tail,
                      const std::uint32_t* tailLength)
{
    if (data == nullptr && length != 0) return false;
    const std::uint64_t padded = (static_cast<std::uint64_t>(length) + block - 1) / block * block;
    if (padded > 0xFFFFFFFFu) return false;
    return padded == length || (tail != nullptr && tailLength != nullptr);
}

// Wipes what an operation drew into the caller's key and IV when it fails:
// a key that encrypted nothing is not handed out.
int WipeDrawnOnFailure(int code, std::uint8_t* key, std::uint32_t keyLength, std::uint8_t* iv, std::uint32_t ivLength)
{
    if (code != CSP_OK) {
        qvkcrypto::SecureWipe(key, keyLength);
        qvkcrypto::SecureWipe(iv, ivLength);
    }
    return code;
}

// Encrypts a zero-padded copy and splits the ciphertext into the data and a
// tail of one block; whole blocks leave the tail untouched.
int EncryptWithTail(std::uint8_t* data, std::uint32_t length, std::uint32_t block, std::uint8_t* tail,
                    std::uint32_t* tailLength, CSPIDataStateFn encrypt, CSPIState state)
{
    if (!TailOutputsGiven(data, length, block, tail, tailLength)) return CSP_BAD_ARGUMENT;
    std::uint32_t padded = static_cast<std::uint32_t>((static_cast<std::uint64_t>(length) + block - 1) / block * block);
    SecretBuffer work(padded == 0 ? 1 : padded);
    if (length != 0) std::memcpy(work.data(), data, length);
    if (encrypt(work.data(), padded, state) == 0) return CSP_LIBRARY_ERROR;
    if (length != 0) std::memcpy(data, work.data(), length);
    if (padded > length) {
        std::memset(tail, 0, block);
        std::memcpy(tail, work.data() + length, padded - length);
        *tailLength = padded - length;
    } else if (tailLength != nullptr) {
        *tailLength = 0;
    }
    return CSP_OK;
}

// Decrypts the data joined with its tail; only whole blocks made of a short
// tail are accepted.
int DecryptWithTail(std::uint8_t* data, std::uint32_t length, const std::uint8_t* tail, std::uint32_t tailLength,
                    CSPIDataStateFn decrypt, CSPIState state)
{
    std::uint32_t joined = length + tailLength;
    SecretBuffer work(joined == 0 ? 1 : joined);
    std::memcpy(work.data(), data, length);
    if (tailLength != 0) std::memcpy(work.data() + length, tail, tailLength);
    if (decrypt(work.data(), joined, state) == 0) return CSP_LIBRARY_ERROR;
    std::memcpy(data, work.data(), length);
    return CSP_OK;
}

// A cipher state keyed with key and IV, handed to the caller.
int CreateKeyedState(const Family& family, const void* key, std::uint32_t keyCode, const void* iv, std::uint32_t ivCode,
                     CSPIState* stateOut)
{
    LibraryState state(family, 0);
    if (!state.ok()) return CSP_NO_MEMORY;
    if (!state.Set(key, keyCode) || !state.Set(iv, ivCode)) return CSP_LIBRARY_ERROR;
    *stateOut = state.Take();
    return CSP_OK;
}

bool TailFits(std::uint32_t length, const std::uint8_t* tail, std::uint32_t tailLength, std::uint32_t block)
{
    if (tailLength >= block || (tailLength != 0 && tail == nullptr)) return false;
    return (static_cast<std::uint64_t>(length) + tailLength) % block == 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// TDEA.

int CSPI::EncryptCBCTDEA(std::uint8_t* data, std::uint32_t length, std::uint8_t* key, std::uint8_t* iv, int generate,
                         std::uint8_t* tail, std::uint32_t* tailLength)
{
    return OnPlainContext(&CSPI::EncryptCBCTDEACtx, data, length, key, iv, generate, tail, tailLength);
}

int CSPI::EncryptCBCTDEACtx(CSPContext* context, std::uint8_t* data, std::uint32_t length, std::uint8_t* key,
                            std::uint8_t* iv, int generate, std::uint8_t* tail, std::uint32_t* tailLength)
{
    return WhenReady(context, [&]() -> int {
        if (!TailOutputsGiven(data, length, CSPI_TDEA_BLOCK_BYTES, tail, tailLength)) return CSP_BAD_ARGUMENT;
        auto encrypt = [&]() -> int {
            if (generate != 0) {
                for (int i = 0; i < 3; ++i) {
                    if (GenerateTestedRandomCtx(context, key + 8 * i, 8) != CSP_OK) return CSP_NOISE_SOURCE_FAILED;
                }
                if (GenerateTestedRandomCtx(context, iv, 8) != CSP_OK) return CSP_NOISE_SOURCE_FAILED;
            }
            LibraryState state(TDEAFamily(binding_), 0);
            if (!state.ok()) return CSP_NO_MEMORY;
            if (!state.Set(key, CSPI_TDEA_KEY) || !state.Set(iv, CSPI_TDEA_IV)) return CSP_LIBRARY_ERROR;
            return EncryptWithTail(data, length, CSPI_TDEA_BLOCK_BYTES, tail, tailLength,
                                   binding_.Intl<CSPIDataStateFn>(CSPI_I_TDEAEncryptDataCBCMode), state.get());
        };
        const int code = encrypt();
        return generate != 0 ? WipeDrawnOnFailure(code, key, CSPI_TDEA_KEY_BYTES, iv, CSPI_TDEA_BLOCK_BYTES) : code;
    });
}

int CSPI::DecryptCBCTDEA(std::uint8_t* data, std::uint32_t length, const std::uint8_t* key, const std::uint8_t* iv,
                         const std::uint8_t* tail, std::uint32_t tailLength)
{
    return WhenReady([&]() -> int {
        if (!TailFits(length, tail, tailLength, CSPI_TDEA_BLOCK_BYTES)) return CSP_BAD_ARGUMENT;
        LibraryState state(TDEAFamily(binding_), 0);
        if (!state.ok()) return CSP_NO_MEMORY;
        if (!state.Set(key, CSPI_TDEA_KEY) || !state.Set(iv, CSPI_TDEA_IV)) return CSP_LIBRARY_ERROR;
        return DecryptWithTail(data, length, tail, tailLength,
                               binding_.Intl<CSPIDataStateFn>(CSPI_I_TDEADecryptDataCBCMode), state.get());
    });
}

int CSPI::GenerateWrappedKeyTDEA(std::uint8_t* data, std::uint32_t length, std::uint8_t* key, std::uint8_t* iv,
                                 std::uint8_t* tail, std::uint32_t* tailLength)
{
    return OnPlainContext(&CSPI::GenerateWrappedKeyTDEACtx, data, length, key, iv, tail, tailLength);
}

int CSPI::GenerateWrappedKeyTDEACtx(CSPContext* context, std::uint8_t* data, std::uint32_t length, std::uint8_t* key,
                                    std::uint8_t* iv, std::uint8_t* tail, std::uint32_t* tailLength)
{
    return WhenReady(context, [&]() -> int {
        if (!TailOutputsGiven(data, length, CSPI_TDEA_BLOCK_BYTES, tail, tailLength)) return CSP_BAD_ARGUMENT;
        if (GenerateTestedRandomCtx(context, key, 8) != CSP_OK ||
            GenerateTestedRandomCtx(context, key + 8, 8) != CSP_OK || GenerateTestedRandomCtx(context, iv, 8) != CSP_OK)
            return WipeDrawnOnFailure(CSP_NOISE_SOURCE_FAILED, key, CSPI_TDEA_KEY_BYTES, iv, CSPI_TDEA_BLOCK_BYTES);
        std::memcpy(key + 16, key, 8);
        return WipeDrawnOnFailure(EncryptCBCTDEACtx(context, data, length, key, iv, 0, tail, tailLength), key,
                                  CSPI_TDEA_KEY_BYTES, iv, CSPI_TDEA_BLOCK_BYTES);
    });
}

int CSPI::ComputeMACTDEA(const std::uint8_t* data, std::uint32_t length, std::uint8_t* key, std::uint8_t* iv,
                         std::uint8_t* mac)
{
    return OnPlainContext(&CSPI::ComputeMACTDEACtx, data, length, key, iv, mac);
}

int CSPI::ComputeMACTDEACtx(CSPContext* context, const std::uint8_t* data, std::uint32_t length, std::uint8_t* key,
                            std::uint8_t* iv, std::uint8_t* mac)
{
    return WhenReady(context, [&]() -> int {
        if (GenerateTestedRandomCtx(context, key, 8) != CSP_OK ||
            GenerateTestedRandomCtx(context, key + 8, 8) != CSP_OK || GenerateTestedRandomCtx(context, iv, 8) != CSP_OK)
            return CSP_NOISE_SOURCE_FAILED;
        std::memcpy(key + 16, key, 8);
        LibraryState state(TDEAFamily(binding_), 0);
        if (!state.ok()) return CSP_NO_MEMORY;
        if (!state.Set(key, CSPI_TDEA_KEY) ||
            binding_.Intl<CSPITDEAGetDataMACFn>(CSPI_I_TDEAGetDataMAC)(data, iv, length, state.get(), mac) == 0)
            return CSP_LIBRARY_ERROR;
        return CSP_OK;
    });
}

int CSPI::CheckMACTDEA(const std::uint8_t* data, std::uint32_t length, const std::uint8_t* key, const std::uint8_t* iv,
                       const std::uint8_t* expectedMac)
{
    return WhenReady([&]() -> int {
        LibraryState state(TDEAFamily(binding_), 0);
        if (!state.ok()) return CSP_NO_MEMORY;
        SecretArray<CSPI_TDEA_BLOCK_BYTES> mac;
        if (!state.Set(key, CSPI_TDEA_KEY) ||
            binding_.Intl<CSPITDEAGetDataMACFn>(CSPI_I_TDEAGetDataMAC)(data, iv, length, state.get(), mac.data()) == 0)
            return CSP_LIBRARY_ERROR;
        return std::memcmp(mac.data(), expectedMac, CSPI_TDEA_BLOCK_BYTES) == 0 ? CSP_OK : CSP_VALUE_MISMATCH;
    });
}

int CSPI::SetKeyParityDES(std::uint8_t* key)
{
    return Guarded([&]() -> int {
        for (int i = 0; i < 8; ++i) {
            std::uint8_t b = key[i] & 0xFE;
            int ones = __builtin_popcount(b);
            key[i] = static_cast<std::uint8_t>(b | ((ones % 2 == 0) ? 1 : 0));
        }
        return CSP_OK;
    });
}

int CSPI::GenerateKeyTDEA(std::uint8_t* key, std::uint8_t* iv, int generate, CSPIState* state)
{
    return OnPlainContext(&CSPI::GenerateKeyTDEACtx, key, iv, generate, state);
}

int CSPI::GenerateKeyTDEACtx(CSPContext* context, std::uint8_t* key, std::uint8_t* iv, int generate,
                             CSPIState* stateOut)
{
    return WhenReady([&]() -> int {
        if (context == nullptr || key == nullptr || iv == nullptr || stateOut == nullptr) return CSP_BAD_ARGUMENT;
        if (generate != 0) {
            for (int i = 0; i < 3; ++i) {
                if (GenerateTestedRandomCtx(context, key + 8 * i, 8) != CSP_OK) return CSP_NOISE_SOURCE_FAILED;
            }
            if (GenerateTestedRandomCtx(context, iv, 8) != CSP_OK) return CSP_NOISE_SOURCE_FAILED;
            for (int i = 0; i < 3; ++i) SetKeyParityDES(key + 8 * i);
        }
        return CreateKeyedState(TDEAFamily(binding_), key, CSPI_TDEA_KEY, iv, CSPI_TDEA_IV, stateOut);
    });
}

int CSPI::CreateCipherTDEA(const std::uint8_t* key, const std::uint8_t* iv, CSPIState* stateOut)
{
    return WhenReady([&]() -> int {
        if (key == nullptr || iv == nullptr || stateOut == nullptr) return CSP_BAD_ARGUMENT;
        return CreateKeyedState(TDEAFamily(binding_), key, CSPI_TDEA_KEY, iv, CSPI_TDEA_IV, stateOut);
    });
}

namespace {

// One step of a streaming cipher; a refused step ends the stream.
int StreamStep(const CSPILibraryBinding& b, CSPIIntlFunction crypt, CSPIIntlFunction release, std::uint32_t block,
               std::uint8_t* data, std::uint32_t length, CSPIState* state)
{
    if (state == nullptr) return CSP_BAD_ARGUMENT;
    if (length % block != 0) {
        Release(b, release, state);
        return CSP_BAD_ARGUMENT;
    }
    if (b.Intl<CSPIDataStateFn>(crypt)(data, length, *state) == 0) {
        Release(b, release, state);
        return CSP_LIBRARY_ERROR;
    }
    return CSP_OK;
}

}  // namespace

int CSPI::EncryptCBCTDEAState(std::uint8_t* data, std::uint32_t length, CSPIState* state)
{
    return WhenReady([&]() -> int {
        return StreamStep(binding_, CSPI_I_TDEAEncryptDataCBCMode, CSPI_I_TDEAReleaseState, CSPI_TDEA_BLOCK_BYTES, data,
                          length, state);
    });
}

int CSPI::DecryptCBCTDEAState(std::uint8_t* data, std::uint32_t length, CSPIState* state)
{
    return WhenReady([&]() -> int {
        return StreamStep(binding_, CSPI_I_TDEADecryptDataCBCMode, CSPI_I_TDEAReleaseState, CSPI_TDEA_BLOCK_BYTES, data,
                          length, state);
    });
}

int CSPI::DestroyEncryptorTDEA(CSPIState* state)
{
    return WhenReady([&]() -> int {
        if (state != nullptr) Release(binding_, CSPI_I_TDEAReleaseState, state);
        return CSP_OK;
    });
}

int CSPI::DestroyDecryptorTDEA(CSPIState* state)
{
    return DestroyEncryptorTDEA(state);
}

// ---------------------------------------------------------------------------
// AES.

int CSPI::EncryptCBCAES(std::uint8_t* data, std::uint32_t length, std::uint8_t* key, std::uint32_t keyBits,
                        std::uint8_t* iv, std::uint8_t* tail, std::uint32_t* tailLength)
{
    return OnPlainContext(&CSPI::EncryptCBCAESCtx, data, length, key, keyBits, iv, tail, tailLength);
}

int CSPI::EncryptCBCAESCtx(CSPContext* context, std::uint8_t* data, std::uint32_t length, std::uint8_t* key,
                           std::uint32_t keyBits, std::uint8_t* iv, std::uint8_t* tail, std::uint32_t* tailLength)
{
    return WhenReady([&]() -> int {
        if (context == nullptr || !ValidAESKeyBits(keyBits) ||
            !TailOutputsGiven(data, length, CSPI_AES_BLOCK_BYTES, tail, tailLength))
            return CSP_BAD_ARGUMENT;
        auto encrypt = [&]() -> int {
            if (GenerateTestedRandomCtx(context, key, keyBits / 8) != CSP_OK ||
                GenerateTestedRandomCtx(context, iv, CSPI_AES_BLOCK_BYTES) != CSP_OK)
                return CSP_NOISE_SOURCE_FAILED;
            LibraryState state(AESFamily(binding_, extra_), 0);
            if (!state.ok()) return CSP_NO_MEMORY;
            if (!state.Set(key, keyBits) || !state.Set(iv, CSPI_AES_IV)) return CSP_LIBRARY_ERROR;
            return EncryptWithTail(data, length, CSPI_AES_BLOCK_BYTES, tail, tailLength,
                                   binding_.Intl<CSPIDataStateFn>(CSPI_I_AESEncryptDataCBCMode), state.get());
        };
        return WipeDrawnOnFailure(encrypt(), key, keyBits / 8, iv, CSPI_AES_BLOCK_BYTES);
    });
}

int CSPI::DecryptCBCAES(std::uint8_t* data, std::uint32_t length, const std::uint8_t* key, std::uint32_t keyBits,
                        const std::uint8_t* iv, const std::uint8_t* tail, std::uint32_t tailLength)
{
    return WhenReady([&]() -> int {
        if (!ValidAESKeyBits(keyBits) || !TailFits(length, tail, tailLength, CSPI_AES_BLOCK_BYTES))
            return CSP_BAD_ARGUMENT;
        LibraryState state(AESFamily(binding_, extra_), 0);
        if (!state.ok()) return CSP_NO_MEMORY;
        if (!state.Set(key, keyBits) || !state.Set(iv, CSPI_AES_IV)) return CSP_LIBRARY_ERROR;
        return DecryptWithTail(data, length, tail, tailLength,
                               binding_.Intl<CSPIDataStateFn>(CSPI_I_AESDecryptDataCBCMode), state.get());
    });
}

int CSPI::ComputeMACAES(const std::uint8_t* data, std::uint32_t length, std::uint8_t* key, std::uint32_t keyBits,
                        std::uint8_t* record, std::uint32_t recordBits, std::uint8_t* mac)
{
    return OnPlainContext(&CSPI::ComputeMACAESCtx, data, length, key, keyBits, record, recordBits, mac);
}

namespace {

int MACAES(const CSPILibraryBinding& b, const CSPIExtraFunctionTable* extra, const std::uint8_t* data,
           std::uint32_t length, const std::uint8_t* key, std::uint32_t keyBits, const std::uint8_t* record,
           std::uint32_t recordBits, std::uint8_t* mac)
{
    LibraryState state(AESFamily(b, extra), 0);
    if (!state.ok()) return CSP_NO_MEMORY;
    CSPIAESMACParameters parameters{};
    std::memcpy(parameters.record, record, sizeof(parameters.record));
    parameters.recordBits = recordBits;
    parameters.mode = 1;
    if (!state.Set(key, keyBits) || !state.Set(&parameters, CSPI_AES_MAC_PARAMETERS) ||
        b.Intl<CSPIAESGetDataMACFn>(CSPI_I_AESGetDataMAC)(data, length, mac, 128, state.get()) == 0)
        return CSP_LIBRARY_ERROR;
    return CSP_OK;
}

}  // namespace

int CSPI::ComputeMACAESCtx(CSPContext* context, const std::uint8_t* data, std::uint32_t length, std::uint8_t* key,
                           std::uint32_t keyBits, std::uint8_t* record, std::uint32_t recordBits, std::uint8_t* mac)
{
    return WhenReady([&]() -> int {
        // The record holds 16 bytes: more bits would draw past it.
        if (context == nullptr || !ValidAESKeyBits(keyBits) || recordBits > 128) return CSP_BAD_ARGUMENT;
        if (GenerateTestedRandomCtx(context, key, keyBits / 8) != CSP_OK ||
            GenerateTestedRandomCtx(context, record, recordBits / 8) != CSP_OK)
            return CSP_NOISE_SOURCE_FAILED;
        return MACAES(binding_, extra_, data, length, key, keyBits, record, recordBits, mac);
    });
}

int CSPI::CheckMACAES(const std::uint8_t* data, std::uint32_t length, const std::uint8_t* key, std::uint32_t keyBits,
                      const std::uint8_t* record, std::uint32_t recordBits, const std::uint8_t* expectedMac)
{
    return WhenReady([&]() -> int {
        if (!ValidAESKeyBits(keyBits) || recordBits > 128) return CSP_BAD_ARGUMENT;
        SecretArray<CSPI_AES_BLOCK_BYTES> mac;
        int code = MACAES(binding_, extra_, data, length, key, keyBits, record, recordBits, mac.data());
        if (code != CSP_OK) return code;
        return std::memcmp(mac.data(), expectedMac, CSPI_AES_BLOCK_BYTES) == 0 ? CSP_OK : CSP_VALUE_MISMATCH;
    });
}

int CSPI::CreateCipherAESRandom(std::uint8_t* key, std::uint32_t keyBits, std::uint8_t* iv, int generate,
                                CSPIState* state)
{
    return OnPlainContext(&CSPI::CreateCipherAESRandomCtx, key, keyBits, iv, generate, state);
}

int CSPI::CreateCipherAESRandomCtx(CSPContext* context, std::uint8_t* key, std::uint32_t keyBits, std::uint8_t* iv,
                                   int generate, CSPIState* stateOut)
{
    return WhenReady([&]() -> int {
        if (context == nullptr || key == nullptr || iv == nullptr || stateOut == nullptr || !ValidAESKeyBits(keyBits))
            return CSP_BAD_ARGUMENT;
        if (generate != 0 && (GenerateTestedRandomCtx(context, key, keyBits / 8) != CSP_OK ||
                              GenerateTestedRandomCtx(context, iv, CSPI_AES_BLOCK_BYTES) != CSP_OK))
            return CSP_NOISE_SOURCE_FAILED;
        return CreateKeyedState(AESFamily(binding_, extra_), key, keyBits, iv, CSPI_AES_IV, stateOut);
    });
}

int CSPI::CreateCipherAES(const std::uint8_t* key, std::uint32_t keyBits, const std::uint8_t* iv, CSPIState* stateOut)
{
    return WhenReady([&]() -> int {
        if (key == nullptr || iv == nullptr || stateOut == nullptr || !ValidAESKeyBits(keyBits))
            return CSP_BAD_ARGUMENT;
        return CreateKeyedState(AESFamily(binding_, extra_), key, keyBits, iv, CSPI_AES_IV, stateOut);
    });
}

int CSPI::EncryptCBCAESState(std::uint8_t* data, std::uint32_t length, CSPIState* state)
{
    return WhenReady([&]() -> int {
        return StreamStep(binding_, CSPI_I_AESEncryptDataCBCMode, CSPI_I_AESReleaseState, CSPI_AES_BLOCK_BYTES, data,
                          length, state);
    });
}

int CSPI::DecryptCBCAESState(std::uint8_t* data, std::uint32_t length, CSPIState* state)
{
    return WhenReady([&]() -> int {
        return StreamStep(binding_, CSPI_I_AESDecryptDataCBCMode, CSPI_I_AESReleaseState, CSPI_AES_BLOCK_BYTES, data,
                          length, state);
    });
}

int CSPI::DestroyEncryptorAES(CSPIState* state)
{
    return WhenReady([&]() -> int {
        if (state != nullptr) Release(binding_, CSPI_I_AESReleaseState, state);
        return CSP_OK;
    });
}

int CSPI::DestroyDecryptorAES(CSPIState* state)
{
    return DestroyEncryptorAES(state);
}

// ---------------------------------------------------------------------------
// AES GCM. These test their optional entry before the initialised flag.

int CSPI::CreateEncryptorAESGCM(std::uint8_t* key, std::uint32_t keyBits, std::uint8_t* iv, std::uint32_t ivLength,
                                std::uint8_t* additionalData, std::uint32_t additionalDataLength, int drawKey,
                                int drawIV, int drawData, CSPIState* state)
{
    return OnPlainContext(&CSPI::CreateEncryptorAESGCMCtx, key, keyBits, iv, ivLength, additionalData,
                          additionalDataLength, drawKey, drawIV, drawData, state);
}

namespace {

int CreateGCMState(const CSPILibraryBinding& b, const CSPIExtraFunctionTable* extra, const std::uint8_t* key,
                   std::uint32_t keyBits, const std::uint8_t* iv, std::uint32_t ivLength,
                   const std::uint8_t* additionalData, std::uint32_t additionalDataLength, CSPIState* stateOut)
{
    LibraryState state(AESFamily(b, extra), 0);
    if (!state.ok()) return CSP_NO_MEMORY;
    CSPIAESGCMParameters parameters{iv, ivLength, additionalData, additionalDataLength};
    if (!state.Set(key, keyBits) || !state.Set(&parameters, CSPI_AES_GCM_PARAMETERS)) return CSP_LIBRARY_ERROR;
    *stateOut = state.Take();
    return CSP_OK;
}

}  // namespace

int CSPI::CreateEncryptorAESGCMCtx(CSPContext* context, std::uint8_t* key, std::uint32_t keyBits, std::uint8_t* iv,
                                   std::uint32_t ivLength, std::uint8_t* additionalData,
                                   std::uint32_t additionalDataLength, int drawKey, int drawIV, int drawData,
                                   CSPIState* state)
{
    return Guarded([&]() -> int {
        if (CSPIExtraEntry<FARPROC>(extra_, CSPI_E_AESEncryptDataGCMMode) == nullptr) return CSP_LIBRARY_ERROR;
        if (!Initialized()) return CSP_NOT_INITIALIZED;
        if (context == nullptr || key == nullptr || iv == nullptr || state == nullptr ||
            (additionalDataLength != 0 && additionalData == nullptr) || !ValidAESKeyBits(keyBits))
            return CSP_BAD_ARGUMENT;
        if ((drawKey != 0 && GenerateTestedRandomCtx(context, key, keyBits / 8) != CSP_OK) ||
            (drawIV != 0 && GenerateTestedRandomCtx(context, iv, ivLength) != CSP_OK) ||
            (drawData != 0 && additionalDataLength != 0 &&
             GenerateTestedRandomCtx(context, additionalData, additionalDataLength) != CSP_OK))
            return CSP_NOISE_SOURCE_FAILED;
        return CreateGCMState(binding_, extra_, key, keyBits, iv, ivLength, additionalData, additionalDataLength,
                              state);
    });
}

int CSPI::CreateDecryptorAESGCM(const std::uint8_t* key, std::uint32_t keyBits, const std::uint8_t* iv,
                                std::uint32_t ivLength, const std::uint8_t* additionalData,
                                std::uint32_t additionalDataLength, CSPIState* state)
{
    return Guarded([&]() -> int {
        if (CSPIExtraEntry<FARPROC>(extra_, CSPI_E_AESDecryptDataGCMMode) == nullptr) return CSP_LIBRARY_ERROR;
        if (!Initialized()) return CSP_NOT_INITIALIZED;
        if (key == nullptr || iv == nullptr || state == nullptr ||
            (additionalDataLength != 0 && additionalData == nullptr) || !ValidAESKeyBits(keyBits))
            return CSP_BAD_ARGUMENT;
        return CreateGCMState(binding_, extra_, key, keyBits, iv, ivLength, additionalData, additionalDataLength,
                              state);
    });
}

namespace {

int GCMStep(const CSPILibraryBinding& b, CSPIDataStateFn crypt, std::uint8_t* data, std::uint32_t length,
            CSPIState* state)
{
    if (state == nullptr) return CSP_BAD_ARGUMENT;
    if (crypt(data, length, *state) == 0) {
        Release(b, CSPI_I_AESReleaseState, state);
        return CSP_LIBRARY_ERROR;
    }
    return CSP_OK;
}

int GCMFinish(const CSPILibraryBinding& b, CSPIGetStateParametersFn get, std::uint8_t* tag, CSPIState* state)
{
    if (state == nullptr) return CSP_BAD_ARGUMENT;
    if (tag == nullptr) {
        Release(b, CSPI_I_AESReleaseState, state);
        return CSP_BAD_ARGUMENT;
    }
    int read = get(*state, tag, CSPI_AES_GCM_TAG);
    Release(b, CSPI_I_AESReleaseState, state);
    return read != 0 ? CSP_OK : CSP_LIBRARY_ERROR;
}

}  // namespace

int CSPI::EncryptGCMAESState(std::uint8_t* data, std::uint32_t length, CSPIState* state)
{
    return Guarded([&]() -> int {
        auto crypt = CSPIExtraEntry<CSPIDataStateFn>(extra_, CSPI_E_AESEncryptDataGCMMode);
        if (crypt == nullptr) return CSP_LIBRARY_ERROR;
        if (!Initialized()) return CSP_NOT_INITIALIZED;
        return GCMStep(binding_, crypt, data, length, state);
    });
}

int CSPI::DecryptGCMAESState(std::uint8_t* data, std::uint32_t length, CSPIState* state)
{
    return Guarded([&]() -> int {
        auto crypt = CSPIExtraEntry<CSPIDataStateFn>(extra_, CSPI_E_AESDecryptDataGCMMode);
        if (crypt == nullptr) return CSP_LIBRARY_ERROR;
        if (!Initialized()) return CSP_NOT_INITIALIZED;
        return GCMStep(binding_, crypt, data, length, state);
    });
}

int CSPI::FinishEncryptorAESGCM(std::uint8_t* tag, CSPIState* state)
{
    return Guarded([&]() -> int {
        auto get = CSPIExtraEntry<CSPIGetStateParametersFn>(extra_, CSPI_E_AESGetStateParameters);
        if (get == nullptr) return CSP_LIBRARY_ERROR;
        if (!Initialized()) return CSP_NOT_INITIALIZED;
        return GCMFinish(binding_, get, tag, state);
    });
}

int CSPI::FinishDecryptorAESGCM(std::uint8_t* tag, CSPIState* state)
{
    return FinishEncryptorAESGCM(tag, state);
}
