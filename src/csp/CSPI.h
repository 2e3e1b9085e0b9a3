// The crypto service provider for the international algorithms: RSA, DSA,
// ECDSA, DH and ECDH, TDEA, AES (CBC, MAC, GCM), RC2, SHA digests and HMAC,
// PBKDF2 and PKCS#12 derivation and encryption, two-party ECDSA, and the
// random, GOST 28147 and GOST 34.311 operations its parameter files need, over
// cgintl.so and cgext.so. The PKCS#11 module never creates one; callers that
// want one use CreateCSPI and DestroyCSPI.
//
// The 133 virtual operations keep their order (slot n is operation n); the
// object has no base class and no virtual destructor. Results are CSP_* codes,
// and every operation turns an exception into CSP_LIBRARY_ERROR. A plain
// operation builds a CSPContext from the object's fields and calls its
// context form (the name with Ctx). The context's hardware field carries an
// ICSPIHardware pointer (see HardwareOf).
#ifndef QVK_CSP_CSPI_H
#define QVK_CSP_CSPI_H

#include <cstdint>

#include "cgapi/CSPIFunctions.h"
#include "crypto/GOST28147.h"
#include "csp/CSP.h"
#include "csp/CSPILibraryBinding.h"
#include "csp/CSPIParameters.h"
#include "csp/ICSPIHardware.h"
#include "wemu.h"

// The CSPI hardware objects travel in the provider's shared context record.
inline ICSPIHardware* HardwareOf(const CSPContext* context)
{
    return reinterpret_cast<ICSPIHardware*>(context->hardware);
}
inline ICSPHardware* AsContextHardware(ICSPIHardware* hardware)
{
    return reinterpret_cast<ICSPHardware*>(hardware);
}

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif
class CSPI final {
public:
    CSPI();
    ~CSPI();
    CSPI(const CSPI&) = delete;
    CSPI& operator=(const CSPI&) = delete;

    // 0 to 10.
    virtual int Initialize();
    virtual int InitializePRNG(const std::uint8_t* sBox, const std::uint8_t* seed, const std::uint8_t* key);
    virtual int SetHardwareRNG(ICSPIHardwareRNG* rng);
    virtual int TestRandomSource(std::uint8_t* buffer, std::uint32_t length);
    virtual int GenerateRandom(std::uint8_t* buffer, std::uint32_t length);
    virtual int GenerateTestedRandom(std::uint8_t* buffer, std::uint32_t length);
    // A null S-box means the provider's default one.
    virtual int ProtectDataGOST28147(std::uint8_t* data, std::uint32_t length, const GOST28147PackedSBox* sBox,
                                     const std::uint8_t* startVector, std::uint32_t* mac, std::uint8_t* tail,
                                     std::uint32_t* tailLength, const char* password, const std::uint8_t* key);
    virtual int UnprotectDataGOST28147(std::uint8_t* data, std::uint32_t length, const GOST28147PackedSBox* sBox,
                                       const std::uint8_t* startVector, std::uint32_t expectedMac,
                                       const std::uint8_t* tail, std::uint32_t tailLength, const char* password,
                                       const std::uint8_t* key);
    virtual int HashGOST34311(const std::uint8_t* data, std::uint32_t length, const GOST28147PackedSBox* sBox,
                              const std::uint8_t* startVector, std::uint8_t* hash);
    virtual int CompareHashGOST34311(const std::uint8_t* data, std::uint32_t length, const GOST28147PackedSBox* sBox,
                                     const std::uint8_t* startVector, const std::uint8_t* expectedHash);
    virtual void SetHardware(ICSPIHardware* hardware);
    // 11 to 27.
    virtual int HashSHA(const std::uint8_t* data, std::uint32_t length, std::uint32_t hashBits, std::uint8_t* hash);
    virtual int SignHashRSA(const std::uint8_t* hash, const std::uint8_t* keyParameters, const std::uint8_t* privateKey,
                            std::uint8_t* signature);
    virtual int VerifySignatureRSA(const std::uint8_t* hash, const std::uint8_t* keyParameters,
                                   const std::uint8_t* publicKey, const std::uint8_t* signature);
    virtual int EncryptRSA(const std::uint8_t* data, std::uint32_t length, const std::uint8_t* keyParameters,
                           const std::uint8_t* publicKey, std::uint8_t* output);
    virtual int DecryptRSA(std::uint8_t* buffer, std::uint32_t* length, const std::uint8_t* keyParameters,
                           const std::uint8_t* privateKey, std::uint32_t mode);
    virtual int CheckPublicKeyRSA(const std::uint8_t* keyParameters);
    virtual int GenerateKeyPairRSA(const std::uint8_t* keyParameters, std::uint8_t* privateKey,
                                   std::uint8_t* publicKey);
    virtual int CheckKeyPairRSA(const std::uint8_t* keyParameters, const std::uint8_t* privateKey,
                                const std::uint8_t* publicKey);
    virtual int SignHashDSA(std::uint32_t hashLength, const std::uint8_t* hash, const std::uint8_t* domain,
                            const std::uint8_t* privateKey, std::uint8_t* signature);
    virtual int VerifySignatureDSA(std::uint32_t hashLength, const std::uint8_t* hash, const std::uint8_t* domain,
                                   const std::uint8_t* publicKey, const std::uint8_t* signature);
    virtual int CheckParametersDSA(const std::uint8_t* domain);
    virtual int GenerateKeyPairDSA(const std::uint8_t* domain, std::uint8_t* privateKey, std::uint8_t* publicKey);
    virtual int CheckKeyPairDSA(const std::uint8_t* domain, const std::uint8_t* privateKey,
                                const std::uint8_t* publicKey);
    virtual int SignHashECDSA(std::uint32_t hashLength, const std::uint8_t* hash, const std::uint8_t* curve,
                              const std::uint8_t* privateKey, std::uint8_t* signature);
    virtual int VerifySignatureECDSA(std::uint32_t hashLength, const std::uint8_t* hash, const std::uint8_t* curve,
                                     const std::uint8_t* publicKey, const std::uint8_t* signature);
    virtual int CheckParametersECDSA(const std::uint8_t* curve);
    virtual int GenerateKeyPairECDSA(const std::uint8_t* curve, std::uint8_t* privateKey, std::uint8_t* publicKey);
    // 28 to 31: do nothing, answer 0.
    virtual int Reserved28();
    virtual int Reserved29();
    virtual int Reserved30();
    virtual int Reserved31();
    // 32 to 42.
    virtual int CheckKeyPairECDSA(const std::uint8_t* curve, const std::uint8_t* privateKey,
                                  const std::uint8_t* publicKey);
    virtual int CalculateSharedSecretECDH(const std::uint8_t* curve, const std::uint8_t* privateKey,
                                          const std::uint8_t* peerPublicKey, std::uint8_t* secret);
    virtual int CalculateSharedSecretDH(const std::uint8_t* domain, const std::uint8_t* privateKey,
                                        const std::uint8_t* peerPublicKey, std::uint8_t* secret);
    virtual int GenerateWrappedKeyTDEA(std::uint8_t* data, std::uint32_t length, std::uint8_t* key, std::uint8_t* iv,
                                       std::uint8_t* tail, std::uint32_t* tailLength);
    virtual int DecryptCBCTDEA(std::uint8_t* data, std::uint32_t length, const std::uint8_t* key,
                               const std::uint8_t* iv, const std::uint8_t* tail, std::uint32_t tailLength);
    virtual int EncryptCBCAES(std::uint8_t* data, std::uint32_t length, std::uint8_t* key, std::uint32_t keyBits,
                              std::uint8_t* iv, std::uint8_t* tail, std::uint32_t* tailLength);
    virtual int DecryptCBCAES(std::uint8_t* data, std::uint32_t length, const std::uint8_t* key, std::uint32_t keyBits,
                              const std::uint8_t* iv, const std::uint8_t* tail, std::uint32_t tailLength);
    virtual int ComputeMACAES(const std::uint8_t* data, std::uint32_t length, std::uint8_t* key, std::uint32_t keyBits,
                              std::uint8_t* record, std::uint32_t recordBits, std::uint8_t* mac);
    virtual int CheckMACAES(const std::uint8_t* data, std::uint32_t length, const std::uint8_t* key,
                            std::uint32_t keyBits, const std::uint8_t* record, std::uint32_t recordBits,
                            const std::uint8_t* expectedMac);
    virtual int ComputeMACTDEA(const std::uint8_t* data, std::uint32_t length, std::uint8_t* key, std::uint8_t* iv,
                               std::uint8_t* mac);
    virtual int CheckMACTDEA(const std::uint8_t* data, std::uint32_t length, const std::uint8_t* key,
                             const std::uint8_t* iv, const std::uint8_t* expectedMac);
    // 43 to 45. The state is the caller's between the calls.
    virtual int BeginHashSHA(std::uint32_t hashBits, CSPIState* state);
    virtual int UpdateHashSHA(const std::uint8_t* data, std::uint32_t length, CSPIState* state);
    virtual int FinishHashSHA(std::uint8_t* hash, CSPIState* state);
    // 46 to 52.
    virtual int EncryptCBCTDEA(std::uint8_t* data, std::uint32_t length, std::uint8_t* key, std::uint8_t* iv,
                               int generate, std::uint8_t* tail, std::uint32_t* tailLength);
    virtual int EncryptPBERC2(std::uint8_t* data, std::uint32_t* length, std::uint32_t capacity,
                              std::uint32_t keyLength, const std::uint8_t* password, std::uint32_t passwordLength,
                              std::uint8_t* salt, std::uint32_t saltLength, int drawSalt, std::uint32_t iterations);
    virtual int DecryptPBERC2(std::uint8_t* data, std::uint32_t* length, std::uint32_t keyLength,
                              const std::uint8_t* password, std::uint32_t passwordLength, const std::uint8_t* salt,
                              std::uint32_t saltLength, std::uint32_t iterations);
    virtual int EncryptPBETDES(std::uint8_t* data, std::uint32_t* length, std::uint32_t capacity,
                               const std::uint8_t* password, std::uint32_t passwordLength, std::uint8_t* salt,
                               std::uint32_t saltLength, int drawSalt, std::uint32_t iterations);
    virtual int DecryptPBETDES(std::uint8_t* data, std::uint32_t* length, const std::uint8_t* password,
                               std::uint32_t passwordLength, const std::uint8_t* salt, std::uint32_t saltLength,
                               std::uint32_t iterations);
    virtual int ComputePBEMACSHA1(const std::uint8_t* data, std::uint32_t length, const std::uint8_t* password,
                                  std::uint32_t passwordLength, std::uint8_t* salt, std::uint32_t saltLength,
                                  int drawSalt, std::uint32_t iterations, std::uint8_t* mac);
    virtual int CheckPBEMACSHA1(const std::uint8_t* data, std::uint32_t length, const std::uint8_t* password,
                                std::uint32_t passwordLength, const std::uint8_t* salt, std::uint32_t saltLength,
                                std::uint32_t iterations, const std::uint8_t* expectedMac);
    // 53 to 56.
    virtual int GenerateHardwareKeyPairRSA(const std::uint8_t* keyParameters, const std::uint8_t* privateRecord,
                                           std::uint8_t* record);
    virtual int GenerateHardwareKeyPairDSA(const std::uint8_t* domain, const std::uint8_t* privateKey,
                                           std::uint8_t* publicKey);
    virtual int GenerateHardwareKeyPairECDSA(const std::uint8_t* curve, const std::uint8_t* privateKey,
                                             std::uint8_t* publicKey);
    virtual int DeriveKeyPBKDF2I(const std::uint8_t* password, std::uint32_t passwordLength, std::uint8_t* salt,
                                 std::uint32_t saltLength, int drawSalt, std::uint32_t iterations, std::uint8_t* key);
    // 57 to 69.
    virtual int SetKeyParityDES(std::uint8_t* key);
    virtual int GenerateKeyTDEA(std::uint8_t* key, std::uint8_t* iv, int generate, CSPIState* state);
    virtual int EncryptCBCTDEAState(std::uint8_t* data, std::uint32_t length, CSPIState* state);
    virtual int DestroyEncryptorTDEA(CSPIState* state);
    virtual int CreateCipherTDEA(const std::uint8_t* key, const std::uint8_t* iv, CSPIState* state);
    virtual int DecryptCBCTDEAState(std::uint8_t* data, std::uint32_t length, CSPIState* state);
    virtual int DestroyDecryptorTDEA(CSPIState* state);
    virtual int CreateCipherAESRandom(std::uint8_t* key, std::uint32_t keyBits, std::uint8_t* iv, int generate,
                                      CSPIState* state);
    virtual int EncryptCBCAESState(std::uint8_t* data, std::uint32_t length, CSPIState* state);
    virtual int DestroyEncryptorAES(CSPIState* state);
    virtual int CreateCipherAES(const std::uint8_t* key, std::uint32_t keyBits, const std::uint8_t* iv,
                                CSPIState* state);
    virtual int DecryptCBCAESState(std::uint8_t* data, std::uint32_t length, CSPIState* state);
    virtual int DestroyDecryptorAES(CSPIState* state);
    // 70 to 77.
    virtual int SetHardwareRNGObject(ICSPIHardwareRNG* rng);
    virtual int TestRandomSourceCtx(CSPContext* context, std::uint8_t* buffer, std::uint32_t length);
    virtual int SeedFromNoiseGenerator(CSPContext* context, std::uint8_t* firstSeed, std::uint8_t* key,
                                       std::uint8_t* secondSeed);
    virtual int CreatePRNG(CSPContext* context, const std::uint8_t* sBox, const std::uint8_t* seed,
                           const std::uint8_t* key);
    virtual int ReseedPRNG(CSPContext* context, const std::uint8_t* sBox, const std::uint8_t* seed,
                           const std::uint8_t* key);
    virtual int TestRNG(CSPContext* context);
    virtual int GenerateRandomCtx(CSPContext* context, std::uint8_t* buffer, std::uint32_t length);
    virtual int GenerateTestedRandomCtx(CSPContext* context, std::uint8_t* buffer, std::uint32_t length);
    // 78 to 104: context forms.
    virtual int SignHashRSACtx(CSPContext* context, const std::uint8_t* hash, const std::uint8_t* keyParameters,
                               const std::uint8_t* privateKey, std::uint8_t* signature);
    virtual int EncryptRSACtx(CSPContext* context, const std::uint8_t* data, std::uint32_t length,
                              const std::uint8_t* keyParameters, const std::uint8_t* publicKey, std::uint8_t* output);
    virtual int DecryptRSACtx(CSPContext* context, std::uint8_t* buffer, std::uint32_t* length,
                              const std::uint8_t* keyParameters, const std::uint8_t* privateKey, std::uint32_t mode);
    virtual int GenerateKeyPairRSACtx(CSPContext* context, const std::uint8_t* keyParameters, std::uint8_t* privateKey,
                                      std::uint8_t* publicKey);
    virtual int CheckKeyPairRSACtx(CSPContext* context, const std::uint8_t* keyParameters,
                                   const std::uint8_t* privateKey, const std::uint8_t* publicKey);
    virtual int SignHashDSACtx(CSPContext* context, std::uint32_t hashLength, const std::uint8_t* hash,
                               const std::uint8_t* domain, const std::uint8_t* privateKey, std::uint8_t* signature);
    virtual int SignHashECDSACtx(CSPContext* context, std::uint32_t hashLength, const std::uint8_t* hash,
                                 const std::uint8_t* curve, const std::uint8_t* privateKey, std::uint8_t* signature);
    virtual int CalculateSharedSecretECDHCtx(CSPContext* context, const std::uint8_t* curve,
                                             const std::uint8_t* privateKey, const std::uint8_t* peerPublicKey,
                                             std::uint8_t* secret);
    virtual int CalculateSharedSecretDHCtx(CSPContext* context, const std::uint8_t* domain,
                                           const std::uint8_t* privateKey, const std::uint8_t* peerPublicKey,
                                           std::uint8_t* secret);
    virtual int GenerateKeyPairDSACtx(CSPContext* context, const std::uint8_t* domain, std::uint8_t* privateKey,
                                      std::uint8_t* publicKey);
    virtual int CheckKeyPairDSACtx(CSPContext* context, const std::uint8_t* domain, const std::uint8_t* privateKey,
                                   const std::uint8_t* publicKey);
    virtual int GenerateKeyPairECDSACtx(CSPContext* context, const std::uint8_t* curve, std::uint8_t* privateKey,
                                        std::uint8_t* publicKey);
    virtual int CheckKeyPairECDSACtx(CSPContext* context, const std::uint8_t* curve, const std::uint8_t* privateKey,
                                     const std::uint8_t* publicKey);
    virtual int GenerateWrappedKeyTDEACtx(CSPContext* context, std::uint8_t* data, std::uint32_t length,
                                          std::uint8_t* key, std::uint8_t* iv, std::uint8_t* tail,
                                          std::uint32_t* tailLength);
    virtual int EncryptCBCAESCtx(CSPContext* context, std::uint8_t* data, std::uint32_t length, std::uint8_t* key,
                                 std::uint32_t keyBits, std::uint8_t* iv, std::uint8_t* tail,
                                 std::uint32_t* tailLength);
    virtual int ComputeMACAESCtx(CSPContext* context, const std::uint8_t* data, std::uint32_t length, std::uint8_t* key,
                                 std::uint32_t keyBits, std::uint8_t* record, std::uint32_t recordBits,
                                 std::uint8_t* mac);
    virtual int ComputeMACTDEACtx(CSPContext* context, const std::uint8_t* data, std::uint32_t length,
                                  std::uint8_t* key, std::uint8_t* iv, std::uint8_t* mac);
    virtual int EncryptCBCTDEACtx(CSPContext* context, std::uint8_t* data, std::uint32_t length, std::uint8_t* key,
                                  std::uint8_t* iv, int generate, std::uint8_t* tail, std::uint32_t* tailLength);
    virtual int EncryptPBERC2Ctx(CSPContext* context, std::uint8_t* data, std::uint32_t* length, std::uint32_t capacity,
                                 std::uint32_t keyLength, const std::uint8_t* password, std::uint32_t passwordLength,
                                 std::uint8_t* salt, std::uint32_t saltLength, int drawSalt, std::uint32_t iterations);
    virtual int EncryptPBETDESCtx(CSPContext* context, std::uint8_t* data, std::uint32_t* length,
                                  std::uint32_t capacity, const std::uint8_t* password, std::uint32_t passwordLength,
                                  std::uint8_t* salt, std::uint32_t saltLength, int drawSalt, std::uint32_t iterations);
    virtual int ComputePBEMACSHA1Ctx(CSPContext* context, const std::uint8_t* data, std::uint32_t length,
                                     const std::uint8_t* password, std::uint32_t passwordLength, std::uint8_t* salt,
                                     std::uint32_t saltLength, int drawSalt, std::uint32_t iterations,
                                     std::uint8_t* mac);
    virtual int GenerateHardwareKeyPairRSACtx(CSPContext* context, const std::uint8_t* keyParameters,
                                              const std::uint8_t* privateRecord, std::uint8_t* record);
    virtual int GenerateHardwareKeyPairDSACtx(CSPContext* context, const std::uint8_t* domain,
                                              const std::uint8_t* privateKey, std::uint8_t* publicKey);
    virtual int GenerateHardwareKeyPairECDSACtx(CSPContext* context, const std::uint8_t* curve,
                                                const std::uint8_t* privateKey, std::uint8_t* publicKey);
    virtual int DeriveKeyPBKDF2ICtx(CSPContext* context, const std::uint8_t* password, std::uint32_t passwordLength,
                                    std::uint8_t* salt, std::uint32_t saltLength, int drawSalt,
                                    std::uint32_t iterations, std::uint8_t* key);
    virtual int GenerateKeyTDEACtx(CSPContext* context, std::uint8_t* key, std::uint8_t* iv, int generate,
                                   CSPIState* state);
    virtual int CreateCipherAESRandomCtx(CSPContext* context, std::uint8_t* key, std::uint32_t keyBits,
                                         std::uint8_t* iv, int generate, CSPIState* state);
    // 105 to 109.
    virtual int ComputeHMACSHA1(const std::uint8_t* data, std::uint32_t length, const std::uint8_t* key,
                                std::uint8_t* mac);
    virtual int CompareHMACSHA1(const std::uint8_t* data, std::uint32_t length, const std::uint8_t* key,
                                const std::uint8_t* expectedMac);
    virtual int SignHashRSAEx(const std::uint8_t* hash, const std::uint8_t* keyParameters,
                              const std::uint8_t* privateKey, std::uint8_t* signature);
    virtual int VerifySignatureRSAEx(const std::uint8_t* hash, const std::uint8_t* keyParameters,
                                     const std::uint8_t* publicKey, const std::uint8_t* signature);
    virtual int SignHashRSAExCtx(CSPContext* context, const std::uint8_t* hash, const std::uint8_t* keyParameters,
                                 const std::uint8_t* privateKey, std::uint8_t* signature);
    // 110 to 116: AES GCM on a state kept by the caller.
    virtual int CreateEncryptorAESGCM(std::uint8_t* key, std::uint32_t keyBits, std::uint8_t* iv,
                                      std::uint32_t ivLength, std::uint8_t* additionalData,
                                      std::uint32_t additionalDataLength, int drawKey, int drawIV, int drawData,
                                      CSPIState* state);
    virtual int CreateEncryptorAESGCMCtx(CSPContext* context, std::uint8_t* key, std::uint32_t keyBits,
                                         std::uint8_t* iv, std::uint32_t ivLength, std::uint8_t* additionalData,
                                         std::uint32_t additionalDataLength, int drawKey, int drawIV, int drawData,
                                         CSPIState* state);
    virtual int EncryptGCMAESState(std::uint8_t* data, std::uint32_t length, CSPIState* state);
    virtual int FinishEncryptorAESGCM(std::uint8_t* tag, CSPIState* state);
    virtual int CreateDecryptorAESGCM(const std::uint8_t* key, std::uint32_t keyBits, const std::uint8_t* iv,
                                      std::uint32_t ivLength, const std::uint8_t* additionalData,
                                      std::uint32_t additionalDataLength, CSPIState* state);
    virtual int DecryptGCMAESState(std::uint8_t* data, std::uint32_t length, CSPIState* state);
    // Reads the computed tag; comparing it with the received one is the caller's.
    virtual int FinishDecryptorAESGCM(std::uint8_t* tag, CSPIState* state);
    // 117 to 125: two-party ECDSA.
    virtual int CoupleEncryptKeyECDSA(const std::uint8_t* partnerValue, const std::uint8_t* curve,
                                      const std::uint8_t* privateKey, std::uint8_t* output);
    virtual int CoupleEncryptKeyECDSACtx(CSPContext* context, const std::uint8_t* partnerValue,
                                         const std::uint8_t* curve, const std::uint8_t* privateKey,
                                         std::uint8_t* output);
    virtual int CoupleStep1ECDSA(const std::uint8_t* curve, std::uint8_t* firstStep, const std::uint8_t* input);
    virtual int CoupleStep1ECDSACtx(CSPContext* context, const std::uint8_t* curve, std::uint8_t* firstStep,
                                    const std::uint8_t* input);
    virtual int CoupleGenerateKeyECDSA(std::uint32_t hashLength, const std::uint8_t* hash,
                                       const std::uint8_t* partnerValue, const std::uint8_t* curve,
                                       const std::uint8_t* privateKey, std::uint8_t* result1, std::uint8_t* result2,
                                       std::uint8_t* result3, std::uint8_t* result4);
    virtual int CoupleGenerateKeyECDSACtx(CSPContext* context, std::uint32_t hashLength, const std::uint8_t* hash,
                                          const std::uint8_t* partnerValue, const std::uint8_t* curve,
                                          const std::uint8_t* privateKey, std::uint8_t* result1, std::uint8_t* result2,
                                          std::uint8_t* result3, std::uint8_t* result4);
    virtual int CoupleStep2ECDSA(const std::uint8_t* answer, const std::uint8_t* curve, const std::uint8_t* firstStep,
                                 const std::uint8_t* input1, const std::uint8_t* input2, std::uint8_t* signature);
    virtual int CoupleMakeCommonKeyECDSA(const std::uint8_t* curve, const std::uint8_t* privateKey,
                                         const std::uint8_t* partnerPublic, std::uint8_t* commonKey);
    virtual int CoupleMakeCommonKeyECDSACtx(CSPContext* context, const std::uint8_t* curve,
                                            const std::uint8_t* privateKey, const std::uint8_t* partnerPublic,
                                            std::uint8_t* commonKey);
    // 126 to 132.
    virtual int DeriveKeyPBKDF2SHA(const std::uint8_t* password, std::uint32_t passwordLength, std::uint32_t hashBits,
                                   std::uint8_t* salt, std::uint32_t saltLength, int drawSalt, std::uint32_t iterations,
                                   std::uint32_t keyLength, std::uint8_t* key);
    virtual int DeriveKeyPBKDF2SHACtx(CSPContext* context, const std::uint8_t* password, std::uint32_t passwordLength,
                                      std::uint32_t hashBits, std::uint8_t* salt, std::uint32_t saltLength,
                                      int drawSalt, std::uint32_t iterations, std::uint32_t keyLength,
                                      std::uint8_t* key);
    virtual int ComputeHMACSHA(const std::uint8_t* data, std::uint32_t length, std::uint32_t hashBits,
                               const std::uint8_t* key, std::uint8_t* mac);
    virtual int CompareHMACSHA(const std::uint8_t* data, std::uint32_t length, std::uint32_t hashBits,
                               const std::uint8_t* key, const std::uint8_t* expectedMac);
    virtual int ComputePBEMACSHA(const std::uint8_t* data, std::uint32_t length, std::uint32_t hashBits,
                                 const std::uint8_t* password, std::uint32_t passwordLength, std::uint8_t* salt,
                                 std::uint32_t saltLength, int drawSalt, std::uint32_t iterations, std::uint8_t* mac);
    virtual int ComputePBEMACSHACtx(CSPContext* context, const std::uint8_t* data, std::uint32_t length,
                                    std::uint32_t hashBits, const std::uint8_t* password, std::uint32_t passwordLength,
                                    std::uint8_t* salt, std::uint32_t saltLength, int drawSalt,
                                    std::uint32_t iterations, std::uint8_t* mac);
    virtual int ComparePBEMACSHA(const std::uint8_t* data, std::uint32_t length, std::uint32_t hashBits,
                                 const std::uint8_t* password, std::uint32_t passwordLength, const std::uint8_t* salt,
                                 std::uint32_t saltLength, std::uint32_t iterations, const std::uint8_t* expectedMac);

    // Not in the table: the parameter store and the state of the object.
    CSPIParameters* Parameters() { return &parameters_; }
    std::uint32_t Flags() const { return flags_; }
    const CSPIExtraFunctionTable* ExtraFunctions() const { return extra_; }
    const CSPILibraryBinding& Binding() const { return binding_; }
    // The default generator's state, as the CSP's DefaultPRNG.
    CSPHandle DefaultPRNG() const { return prng_; }

private:
    CSPContext PlainContext() const;
    bool Initialized() const { return (flags_ & CSP_FLAG_INITIALIZED) != 0; }
    int CapabilityQuery(CSPContext* context, std::uint32_t code);
    // The operations' common shapes (defined where the operations are):
    // the plain form runs the context form on the object's own context, and
    // a null private key hands the operation to the context's hardware, which
    // may first be asked whether it offers the operation.
    template <typename... Inputs, typename... Arguments>
    int OnPlainContext(int (CSPI::*operation)(CSPContext*, Inputs...), Arguments... arguments);
    // Runs body behind the exception boundary once the object is initialised
    // (and, in the second form, the context is given).
    template <typename Body>
    int WhenReady(Body&& body);
    template <typename Body>
    int WhenReady(CSPContext* context, Body&& body);
    template <typename Call>
    int OnHardware(CSPContext* context, Call&& call);
    template <typename Call>
    int OnHardware(CSPContext* context, std::uint32_t capability, Call&& call);

    CSPILibraryBinding binding_;
    CSPIParameters parameters_;
    CSPHandle prng_;
    ICSPIHardwareRNG* rng_;
    ICSPIHardware* hardware_;
    std::uint32_t flags_;
    CSPIExtraFunctionTable* extra_;
    CRITICAL_SECTION lock_;
};
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

// Creates, initialises and starts the PRNG of a CSPI in *place (null: the
// module's default CSPI pointer). On failure the object is destroyed, the
// place holds null and the code is returned.
int CreateCSPI(CSPI** place);
// Destroys the CSPI in *place (null: the default pointer) and clears it.
void DestroyCSPI(CSPI** place);

#endif
