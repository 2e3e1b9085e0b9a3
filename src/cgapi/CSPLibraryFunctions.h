// Calling shapes of the outside crypto libraries cgbase.so and cgext.so, as
// the crypto service provider binds them by name. Both sides of the binding
// include this header: the provider casts each looked-up address to the type
// named here, and the stand-in libraries check their exports against it.
//
// Conventions: results are nonzero for success unless noted; a state is an
// opaque pointer that only the library reads; DSTU 7564 and DSTU 7624 data
// lengths are 64-bit bit counts passed as two 32-bit halves, low first.
#ifndef QVK_CGAPI_CSPLIBRARYFUNCTIONS_H
#define QVK_CGAPI_CSPLIBRARYFUNCTIONS_H

#include <stdint.h>

#include "crypto/CryptoTypes.h"
#include "support/DSTU4145Records.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef int (*CGSelfTestFn)(void);
typedef void* (*CGAcquireStateFn)(void);
typedef int (*CGReleaseStateFn)(void* state);
// (state, value, parameter code) / (state, buffer, parameter code)
typedef int (*CGSetStateParametersFn)(void* state, const void* value, uint32_t code);
typedef int (*CGGetStateParametersFn)(void* state, void* buffer, uint32_t code);

// ---- cgbase.so, required ----
typedef void* (*CGDSTU4145AcquireStateFn)(int check, int reserved);
typedef int (*CGDSTU4145GenerateParametersFn)(void* state, int mode);
typedef int (*CGDSTU4145StateFn)(void* state);
typedef int (*CGDSTU4145FieldFn)(void* state, const void* value, void* result);
// (mix 8, time 8, key 32, S-box 64) -> classic generator state or null
typedef void* (*CGPseudoRNGInitializeFn)(const uint8_t* mix, const uint8_t* time, const uint8_t* key,
                                         const uint8_t* sBox);
typedef int (*CGPseudoRNGDeinitializeFn)(void* state);
typedef int (*CGPseudoRNGGenerateSequenceFn)(uint8_t* buffer, uint32_t length, void* state);
typedef int (*CGECDHCalculateSharedKeyFn)(const DSTU4145FieldRecord* field, const DSTU4145PointRecord* point,
                                          const uint8_t* privateKey, const uint8_t* peerPublicKey, const uint8_t* ukm,
                                          const uint8_t* sBox, const void* argument, uint8_t* sharedKey);
typedef int (*CGGOST28147BlocksFn)(uint8_t* data, uint32_t blocks, void* state);
typedef int (*CGGOST28147DataFn)(uint8_t* data, uint32_t length, void* state);
typedef int (*CGGOST28147MACFn)(const uint8_t* data, uint32_t length, void* state);
typedef int (*CGGOST34311HashDataFn)(const uint8_t* data, uint32_t length, void* state);
typedef int (*CGGOST34311FinalizeHashFn)(uint32_t bits, void* state);
typedef int (*CGECDHUACalculateSharedKeyFn)(const DSTU4145FieldRecord* field, const DSTU4145PointRecord* point,
                                            const uint8_t* privateKey, const uint8_t* peerPublicKey, int a1,
                                            const uint8_t* a2, uint32_t a3, const void* a4, const void* a5,
                                            uint8_t* sharedKey);
typedef int (*CGGOST28147WrapSharedKeyFn)(const uint8_t* sharedKey, const void* w1, const uint8_t* w2,
                                          const void* reserved, void* prng, uint8_t* w3);
typedef int (*CGGOST28147UnwrapSharedKeyFn)(const uint8_t* sharedKey, const void* w1, const uint8_t* w2, uint8_t* w3);

// ---- cgext.so, required ----
typedef int (*CGTSCGIsEnableFn)(void);
typedef int (*CGTSCGGenerateSequenceFn)(uint8_t* buffer, uint32_t length);
// (address of a statistics handle, data, length in bits): nonzero when the data passes
typedef int (*CGBSTestSequenceFn)(void** statistics, const uint8_t* data, uint32_t bits);
typedef int (*CGBSReleaseStatisticFn)(void* statistics);
// Returns the CRC itself.
typedef uint32_t (*CGCRC32CountFn)(const uint8_t* data, uint32_t length);

// ---- cgbase.so, optional extension entries ----
typedef int (*CGGOST34311HMACUpdateDataFn)(const uint8_t* data, uint32_t length, void* state);
typedef int (*CGStateFinalizeFn)(void* state);
// (password, its length, salt, its length, iterations, key out, key length, S-box)
typedef int (*CGPBKDFDeriveKeyFn)(const void* password, uint32_t passwordLength, const uint8_t* salt,
                                  uint32_t saltLength, uint32_t iterations, uint8_t* key, uint32_t keyLength,
                                  const void* sBox);
typedef int (*CGPseudoRNGReinitializeFn)(const uint8_t* mix, const uint8_t* time, const uint8_t* key,
                                         const uint8_t* sBox, void* state);
typedef int (*CGCoupleMakeCommonKeyQFn)(void* state, const uint8_t* firstPublicKey);
typedef int (*CGCoupleMakeSignRFn)(void* state, uint8_t* r);
typedef int (*CGCoupleMakeCommonSignRFn)(void* state, const uint8_t* ownR, const uint8_t* otherR, uint8_t* commonR);
typedef int (*CGCoupleMakeSignSFn)(void* state, const uint8_t* commonR, uint8_t* s);
typedef int (*CGCoupleMakeCommonSignSFn)(void* state, const uint8_t* ownS, const uint8_t* otherS, uint8_t* commonS);
typedef int (*CGCoupleMakeCommonSignFn)(void* state, const uint8_t* commonR, const uint8_t* commonS);
// ECB: length in bytes, a whole number of blocks.
typedef int (*CGDSTU7624ECBFn)(uint8_t* data, uint32_t length, void* state);
typedef int (*CGDSTU7624StreamFn)(uint8_t* data, CRYPTO_BIT_LENGTH(bits), void* state);
typedef int (*CGDSTU7624CFBFn)(uint8_t* data, CRYPTO_BIT_LENGTH(bits), uint32_t feedbackBits, void* state);
typedef int (*CGDSTU7624MACFn)(const uint8_t* data, CRYPTO_BIT_LENGTH(bits), void* state);
typedef int (*CGDSTU7624PadEncryptFn)(uint8_t* data, CRYPTO_BIT_LENGTH(bits), CRYPTO_BIT_LENGTH(bufferBits),
                                      void* state);
typedef int (*CGDSTU7624PadDecryptFn)(uint8_t* data, CRYPTO_BIT_LENGTH(bits), int removePadding,
                                      CryptoBitLength* resultBits, void* state);
typedef int (*CGDSTU7624GCMFn)(uint8_t* data, CRYPTO_BIT_LENGTH(bits), const uint8_t* associatedData,
                               CRYPTO_BIT_LENGTH(associatedBits), void* state);
typedef int (*CGDSTU7624EncryptCCMFn)(uint8_t* buffer, uint32_t plainBytes, uint32_t bufferBytes,
                                      const uint8_t* associatedData, uint32_t associatedBytes,
                                      uint32_t lengthFieldBytes, void* state);
typedef int (*CGDSTU7624DecryptCCMFn)(uint8_t* buffer, uint32_t bufferBytes, const uint8_t* associatedData,
                                      uint32_t associatedBytes, uint32_t lengthFieldBytes, void* state);
typedef int (*CGDSTU7564HashDataFn)(const uint8_t* data, CRYPTO_BIT_LENGTH(bits), void* state);
// In place; the length in bytes.
typedef int (*CGDSTU8845EncryptDataFn)(uint8_t* data, uint32_t length, void* state);
// (password, its length, salt, its length, iterations, DSTU 7564 parameter
// block, key bits, key out, MAC length of the pseudo-random function in bytes)
typedef int (*CGPKCS5PBKDF2DSTU7564DeriveKeyFn)(const uint8_t* password, uint32_t passwordLength, const uint8_t* salt,
                                                uint32_t saltLength, uint32_t iterations, const uint8_t* parameterBlock,
                                                uint32_t keyBits, uint8_t* key, uint32_t macLength);
// (password, its length, salt, its length, iterations, purpose, key bits, key out, key bytes)
typedef int (*CGPKCS12PBKDFDSTU7564DeriveKeyFn)(const uint8_t* password, uint32_t passwordLength, const uint8_t* salt,
                                                uint32_t saltLength, uint32_t iterations, uint32_t purpose,
                                                uint32_t keyBits, uint8_t* key, uint32_t keyBytes);
typedef int (*CGECDHKDFDSTU7564CalculateSharedKeyFn)(const DSTU4145FieldRecord* field, const DSTU4145PointRecord* point,
                                                     const uint8_t* privateKey, const uint8_t* peerPublicKey, int a1,
                                                     const uint8_t* a2, uint32_t a3, const void* reserved,
                                                     uint32_t keyBits, uint8_t* sharedKey, uint32_t sharedKeyLength);
typedef int (*CGDSTU7624WrapSharedKeyFn)(const uint8_t* sharedKey, uint32_t sharedKeyLength, const void* w1,
                                         const uint8_t* w2, const void* w3, const void* reserved, uint32_t keyLength,
                                         void* prng, uint8_t* w4, void* w5);
typedef int (*CGDSTU7624UnwrapSharedKeyFn)(const uint8_t* sharedKey, uint32_t sharedKeyLength, const void* w1,
                                           const uint8_t* w2, const void* w3, uint8_t* w4, void* w5);
typedef int (*CGPseudoRNGLockFn)(void* state);
typedef int (*CGDSTU4145IsDenseNumbersSupportedFn)(void);
typedef int (*CGECDHKDFDSTU7564CalculateDenseSharedKeyFn)(const uint8_t* d1, uint32_t d2, const uint8_t* d3,
                                                          uint32_t d4, const uint8_t* d5, uint32_t d6,
                                                          const uint8_t* d7, uint32_t d8, const void* reserved,
                                                          uint32_t keyBits, uint8_t* sharedKey,
                                                          uint32_t sharedKeyLength);
// Optional export run right before cgbase.so is released.
typedef int (*CGFinalizeFn)(void);

#ifdef __cplusplus
}
#endif

#endif
