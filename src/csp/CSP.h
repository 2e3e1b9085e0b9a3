// The crypto service provider: one object with 195 operations over the
// outside libraries cgbase.so and cgext.so, optionally with an on-key
// hardware object (ICSPHardware) and hardware random source
// (ICSPHardwareRNG).
//
// Other libraries call the operations by their position in the virtual table,
// so the order of the declarations below is a binary contract: operation n is
// slot n. There is no base class and no virtual destructor. Every operation
// answers a CSP_* code (SetHardware answers nothing, GetStoredString the kept
// text) and never lets an exception out.
//
// Library states (hash, HMAC, cipher, generator) are opaque pointer-sized
// handles; the state operations take the address of the caller's handle.
#ifndef QVK_CSP_CSP_H
#define QVK_CSP_CSP_H

#include <cstddef>
#include <cstdint>

#include "crypto/GOST28147.h"
#include "csp/CSPLibraryBinding.h"
#include "support/CSPParameters.h"
#include "support/DSTU4145Records.h"
#include "support/ICSPHardware.h"
#include "wemu.h"

// Results of the operations.
inline constexpr int CSP_OK = 0;
inline constexpr int CSP_NOT_INITIALIZED = 1;
inline constexpr int CSP_NO_OBJECT = 2;
inline constexpr int CSP_BAD_ARGUMENT = 3;
inline constexpr int CSP_LIBRARY_NOT_LOADED = 12;
inline constexpr int CSP_NO_MEMORY = 13;
inline constexpr int CSP_NOISE_SOURCE_FAILED = 14;
inline constexpr int CSP_LIBRARY_ERROR = 15;
inline constexpr int CSP_RNG_FAILED = 21;
inline constexpr int CSP_RANDOM_TEST_FAILED = 22;
inline constexpr int CSP_HARDWARE_ERROR = 23;
inline constexpr int CSP_VALUE_MISMATCH = 31;
inline constexpr int CSP_INVALID_SIGNATURE = 32;
inline constexpr int CSP_BAD_PARAMETERS = 33;

enum : std::uint32_t { CSP_FLAG_INITIALIZED = 1, CSP_FLAG_HARDWARE_RNG = 2, CSP_FLAG_HARDWARE = 4 };

// An opaque state of the outside library.
using CSPHandle = void*;

// What a context operation works with: the hardware random source, the
// hardware object and the pseudo-random generator state, each may be null.
struct CSPContext {
    ICSPHardwareRNG* rng;
    ICSPHardware* hardware;
    CSPHandle prng;
};

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif

class CSP final {
public:
    CSP();
    ~CSP();
    CSP(const CSP&) = delete;
    CSP& operator=(const CSP&) = delete;

    // ---- 0 to 5 ----
    virtual int Initialize();
    virtual int InitializePRNG(const std::uint8_t* sBox, const std::uint8_t* seed, const std::uint8_t* key);
    virtual int SetHardwareRNG(ICSPHardwareRNG* rng);
    virtual int GenerateRandom(std::uint8_t* buffer, std::uint32_t length);
    virtual int TestRandomSource(std::uint8_t* buffer, std::uint32_t length);
    virtual int GenerateTestedRandom(std::uint8_t* buffer, std::uint32_t length);
    // ---- 6 to 22: GOST 28147 protected blocks, GOST 34.311 hash, sessions ----
    virtual int ProtectDataGOST28147(std::uint8_t* data, std::uint32_t length, const GOST28147PackedSBox* sBox,
                                     const std::uint8_t* startVector, std::uint32_t* mac, std::uint8_t* tail,
                                     std::uint32_t* tailLength, const char* password, const std::uint8_t* key);
    virtual int UnprotectDataGOST28147(std::uint8_t* data, std::uint32_t length, const GOST28147PackedSBox* sBox,
                                       const std::uint8_t* startVector, std::uint32_t expectedMac,
                                       const std::uint8_t* tail, std::uint32_t tailLength, const char* password,
                                       const std::uint8_t* key);
    virtual int HashGOST34311(const std::uint8_t* data, std::uint32_t length, const GOST28147PackedSBox* sBox,
                              const std::uint8_t* startVector, std::uint8_t* hash);
    virtual int BeginHashGOST34311(const GOST28147PackedSBox* sBox, const std::uint8_t* startVector, CSPHandle* state);
    virtual int UpdateHashGOST34311(const std::uint8_t* data, std::uint32_t length, CSPHandle* state);
    virtual int FinishHashGOST34311(std::uint8_t* hash, CSPHandle* state);
    virtual int CompareHashGOST34311(const std::uint8_t* data, std::uint32_t length, const GOST28147PackedSBox* sBox,
                                     const std::uint8_t* startVector, const std::uint8_t* expectedHash);
    virtual int EncryptWithRandomKeyGOST28147(std::uint8_t* data, std::uint32_t length, const GOST28147PackedSBox* sBox,
                                              std::uint8_t* key, std::uint8_t* iv);
    virtual int CryptGammaGOST28147(std::uint8_t* data, std::uint32_t length, const GOST28147PackedSBox* sBox,
                                    const std::uint8_t* key, const std::uint8_t* iv);
    virtual int CreateSenderSessionGOST28147(const GOST28147PackedSBox* sBox, std::uint8_t* key, std::uint8_t* iv,
                                             int draw, CSPHandle* session);
    virtual int EncryptSessionGOST28147(std::uint8_t* data, std::uint32_t length, CSPHandle session);
    virtual int EncryptSessionGOST28147WithIV(std::uint8_t* data, std::uint32_t length, std::uint32_t ivFirst,
                                              std::uint32_t ivLast, CSPHandle session);
    virtual int DestroySenderSessionGOST28147(CSPHandle* session);
    virtual int CreateReceiverSessionGOST28147(const GOST28147PackedSBox* sBox, const std::uint8_t* key,
                                               const std::uint8_t* iv, CSPHandle* session);
    virtual int DecryptSessionGOST28147(std::uint8_t* data, std::uint32_t length, CSPHandle session);
    virtual int DecryptSessionGOST28147WithIV(std::uint8_t* data, std::uint32_t length, std::uint32_t ivFirst,
                                              std::uint32_t ivLast, CSPHandle session);
    virtual int DestroyReceiverSessionGOST28147(CSPHandle* session);
    // ---- 23 ----
    virtual void SetHardware(ICSPHardware* hardware);
    // ---- 24 to 53 ----
    virtual int SignHashDSTU4145(const std::uint8_t* hash, const DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                                 const std::uint8_t* privateKey, std::uint8_t* signature);
    virtual int VerifyHashSignatureDSTU4145(const std::uint8_t* hash, const DSTU4145FieldRecord* field,
                                            DSTU4145PointRecord* point, const std::uint8_t* publicKey,
                                            const std::uint8_t* signature);
    virtual int EncryptSessionKey(const DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                                  const std::uint8_t* privateKey, const std::uint8_t* peerPublicKey, std::uint8_t* ukm,
                                  const GOST28147PackedSBox* sBox, const void* agreementArgument, std::uint8_t* data,
                                  std::uint32_t length, std::uint8_t* mac);
    virtual int DecryptSessionKey(DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                                  const std::uint8_t* privateKey, const std::uint8_t* peerPublicKey,
                                  const std::uint8_t* ukm, const GOST28147PackedSBox* sBox,
                                  const void* agreementArgument, std::uint8_t* data, std::uint32_t length,
                                  const std::uint8_t* mac);
    virtual int CheckParametersDSTU4145(const DSTU4145FieldRecord* field, DSTU4145PointRecord* point);
    virtual int ValidateParametersDSTU4145(const DSTU4145FieldRecord* field, DSTU4145PointRecord* point);
    virtual int GenerateSignatureKeyPairDSTU4145(const DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                                                 std::uint8_t* privateKey, std::uint8_t* publicKey);
    virtual int GenerateAgreementKeyPairDSTU4145(const DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                                                 std::uint8_t* privateKey, std::uint8_t* publicKey);
    virtual int CheckSignatureKeyPairDSTU4145(const DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                                              const std::uint8_t* privateKey, const std::uint8_t* publicKey);
    virtual int CheckAgreementKeyPairDSTU4145(const DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                                              const std::uint8_t* privateKey, const std::uint8_t* publicKey);
    virtual int HashDataGOST34311(const std::uint8_t* data, std::uint32_t bitLength, const GOST28147PackedSBox* sBox,
                                  const std::uint8_t* startVector, std::uint8_t* hash);
    virtual int SetHardwareSBox(const void* argument1, const void* argument2, const void* argument3,
                                const std::uint8_t* sBox);
    virtual int EncryptWithRandomKeyCFBGOST28147(std::uint8_t* data, std::uint32_t length,
                                                 const GOST28147PackedSBox* sBox, std::uint8_t* key, std::uint8_t* iv);
    virtual int DecryptCFBGOST28147(std::uint8_t* data, std::uint32_t length, const GOST28147PackedSBox* sBox,
                                    const std::uint8_t* key, const std::uint8_t* iv);
    virtual int CreateSenderSessionGOST28147Ex(const GOST28147PackedSBox* sBox, std::uint8_t* key, std::uint8_t* iv,
                                               int draw, CSPHandle* session);
    virtual int EncryptCFBSessionGOST28147(std::uint8_t* data, std::uint32_t length, CSPHandle session);
    virtual int DestroySenderSessionGOST28147Ex(CSPHandle* session);
    virtual int CreateReceiverSessionGOST28147Ex(const GOST28147PackedSBox* sBox, const std::uint8_t* key,
                                                 const std::uint8_t* iv, CSPHandle* session);
    virtual int DecryptCFBSessionGOST28147(std::uint8_t* data, std::uint32_t length, CSPHandle session);
    virtual int DestroyReceiverSessionGOST28147Ex(CSPHandle* session);
    virtual int WrapKeyGOST28147(const DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                                 const std::uint8_t* privateKey, const std::uint8_t* peerPublicKey, int a1,
                                 const std::uint8_t* a2, std::uint32_t a3, const void* a4, const void* a5,
                                 const void* w1, const std::uint8_t* w2, std::uint8_t* w3);
    virtual int UnwrapKeyGOST28147(DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                                   const std::uint8_t* privateKey, const std::uint8_t* peerPublicKey, int a1,
                                   const std::uint8_t* a2, std::uint32_t a3, const void* a4, const void* a5,
                                   const void* w1, const std::uint8_t* w2, std::uint8_t* w3);
    virtual int EncryptCFBGOST28147(std::uint8_t* data, std::uint32_t length, const GOST28147PackedSBox* sBox,
                                    std::uint8_t* key, std::uint8_t* iv, int drawKey, int drawIV);
    virtual int CreateSenderSessionGOST28147Opt(const GOST28147PackedSBox* sBox, std::uint8_t* key, std::uint8_t* iv,
                                                int drawKey, int drawIV, CSPHandle* session);
    virtual int DeriveKeyPBKDF2(const void* password, std::uint32_t passwordLength, std::uint8_t* salt,
                                std::uint32_t saltLength, int drawSalt, std::uint32_t iterations, std::uint8_t* key,
                                std::uint32_t keyLength, const void* sBox);
    virtual int DeriveKeyPBKDFMAC(const void* password, std::uint32_t passwordLength, std::uint8_t* salt,
                                  std::uint32_t saltLength, int drawSalt, std::uint32_t iterations, std::uint8_t* key,
                                  std::uint32_t keyLength, const void* sBox);
    virtual int ComputeHMACGOST34311(const std::uint8_t* data, std::uint32_t length, const GOST28147PackedSBox* sBox,
                                     const std::uint8_t* startVector, const std::uint8_t* key, std::uint8_t* mac);
    virtual int CompareHMACGOST34311(const std::uint8_t* data, std::uint32_t length, const GOST28147PackedSBox* sBox,
                                     const std::uint8_t* startVector, const std::uint8_t* key,
                                     const std::uint8_t* expectedMac);
    virtual int GetSignaturePublicKeyDSTU4145(const DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                                              const std::uint8_t* privateKey, std::uint8_t* publicKey);
    virtual int GetAgreementPublicKeyDSTU4145(const DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                                              const std::uint8_t* privateKey, std::uint8_t* publicKey);
    // ---- 54 to 63 ----
    virtual int SetStoredString(const char* text);
    virtual const char* GetStoredString();
    virtual int CheckParametersDSTU4145Ctx(const DSTU4145FieldRecord* field, DSTU4145PointRecord* point, int check);
    virtual int TestRandomSourceCtx(CSPContext* context, std::uint8_t* buffer, std::uint32_t length);
    virtual int SeedFromNoiseGenerator(CSPContext* context, std::uint8_t* seed, std::uint8_t* key,
                                       std::uint8_t* secondSeed);
    virtual int CreatePRNG(CSPContext* context, const std::uint8_t* sBox, const std::uint8_t* seed,
                           const std::uint8_t* key);
    virtual int ReseedPRNG(CSPContext* context, const std::uint8_t* sBox, const std::uint8_t* seed,
                           const std::uint8_t* key);
    virtual int TestRNG(CSPContext* context);
    virtual int GenerateRandomCtx(CSPContext* context, std::uint8_t* buffer, std::uint32_t length);
    virtual int GenerateTestedRandomCtx(CSPContext* context, std::uint8_t* buffer, std::uint32_t length);
    // ---- 64 to 92: context forms ----
    virtual int EncryptWithRandomKeyGOST28147Ctx(CSPContext* context, std::uint8_t* data, std::uint32_t length,
                                                 const GOST28147PackedSBox* sBox, std::uint8_t* key, std::uint8_t* iv);
    virtual int SignHashDSTU4145Ctx(CSPContext* context, const std::uint8_t* hash, const DSTU4145FieldRecord* field,
                                    DSTU4145PointRecord* point, const std::uint8_t* privateKey,
                                    std::uint8_t* signature);
    virtual int VerifyHashSignatureDSTU4145Ctx(CSPContext* context, const std::uint8_t* hash,
                                               const DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                                               const std::uint8_t* publicKey, const std::uint8_t* signature);
    virtual int EncryptSessionKeyCtx(CSPContext* context, const DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                                     const std::uint8_t* privateKey, const std::uint8_t* peerPublicKey,
                                     std::uint8_t* ukm, const GOST28147PackedSBox* sBox, const void* agreementArgument,
                                     std::uint8_t* data, std::uint32_t length, std::uint8_t* mac);
    virtual int DecryptSessionKeyCtx(CSPContext* context, DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                                     const std::uint8_t* privateKey, const std::uint8_t* peerPublicKey,
                                     const std::uint8_t* ukm, const GOST28147PackedSBox* sBox,
                                     const void* agreementArgument, std::uint8_t* data, std::uint32_t length,
                                     const std::uint8_t* mac);
    virtual int GenerateSignatureKeyPairDSTU4145Ctx(CSPContext* context, const DSTU4145FieldRecord* field,
                                                    DSTU4145PointRecord* point, std::uint8_t* privateKey,
                                                    std::uint8_t* publicKey);
    virtual int GenerateAgreementKeyPairDSTU4145Ctx(CSPContext* context, const DSTU4145FieldRecord* field,
                                                    DSTU4145PointRecord* point, std::uint8_t* privateKey,
                                                    std::uint8_t* publicKey);
    virtual int CheckSignatureKeyPairDSTU4145Ctx(CSPContext* context, const DSTU4145FieldRecord* field,
                                                 DSTU4145PointRecord* point, const std::uint8_t* privateKey,
                                                 const std::uint8_t* publicKey);
    virtual int CheckAgreementKeyPairDSTU4145Ctx(CSPContext* context, const DSTU4145FieldRecord* field,
                                                 DSTU4145PointRecord* point, const std::uint8_t* privateKey,
                                                 const std::uint8_t* publicKey);
    virtual int CreateSenderSessionGOST28147Ctx(CSPContext* context, const GOST28147PackedSBox* sBox, std::uint8_t* key,
                                                std::uint8_t* iv, int draw, CSPHandle* session);
    virtual int EncryptSessionGOST28147Ctx(CSPContext* context, std::uint8_t* data, std::uint32_t length,
                                           CSPHandle session);
    virtual int EncryptSessionGOST28147WithIVCtx(CSPContext* context, std::uint8_t* data, std::uint32_t length,
                                                 std::uint32_t ivFirst, std::uint32_t ivLast, CSPHandle session);
    virtual int DestroySenderSessionGOST28147Ctx(CSPContext* context, CSPHandle* session);
    virtual int CreateReceiverSessionGOST28147Ctx(CSPContext* context, const GOST28147PackedSBox* sBox,
                                                  const std::uint8_t* key, const std::uint8_t* iv, CSPHandle* session);
    virtual int DecryptSessionGOST28147Ctx(CSPContext* context, std::uint8_t* data, std::uint32_t length,
                                           CSPHandle session);
    virtual int DecryptSessionGOST28147WithIVCtx(CSPContext* context, std::uint8_t* data, std::uint32_t length,
                                                 std::uint32_t ivFirst, std::uint32_t ivLast, CSPHandle session);
    virtual int DestroyReceiverSessionGOST28147Ctx(CSPContext* context, CSPHandle* session);
    virtual int HashDataGOST34311Ctx(CSPContext* context, const std::uint8_t* data, std::uint32_t bitLength,
                                     const GOST28147PackedSBox* sBox, const std::uint8_t* startVector,
                                     std::uint8_t* hash);
    virtual int SetHardwareSBoxCtx(CSPContext* context, const void* argument1, const void* argument2,
                                   const void* argument3, const std::uint8_t* sBox);
    virtual int EncryptWithRandomKeyCFBGOST28147Ctx(CSPContext* context, std::uint8_t* data, std::uint32_t length,
                                                    const GOST28147PackedSBox* sBox, std::uint8_t* key,
                                                    std::uint8_t* iv);
    virtual int CreateSenderSessionGOST28147ExCtx(CSPContext* context, const GOST28147PackedSBox* sBox,
                                                  std::uint8_t* key, std::uint8_t* iv, int draw, CSPHandle* session);
    virtual int WrapKeyGOST28147Ctx(CSPContext* context, const DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                                    const std::uint8_t* privateKey, const std::uint8_t* peerPublicKey, int a1,
                                    const std::uint8_t* a2, std::uint32_t a3, const void* a4, const void* a5,
                                    const void* w1, const std::uint8_t* w2, std::uint8_t* w3);
    virtual int UnwrapKeyGOST28147Ctx(CSPContext* context, DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                                      const std::uint8_t* privateKey, const std::uint8_t* peerPublicKey, int a1,
                                      const std::uint8_t* a2, std::uint32_t a3, const void* a4, const void* a5,
                                      const void* w1, const std::uint8_t* w2, std::uint8_t* w3);
    virtual int EncryptCFBGOST28147Ctx(CSPContext* context, std::uint8_t* data, std::uint32_t length,
                                       const GOST28147PackedSBox* sBox, std::uint8_t* key, std::uint8_t* iv,
                                       int drawKey, int drawIV);
    virtual int CreateSenderSessionGOST28147OptCtx(CSPContext* context, const GOST28147PackedSBox* sBox,
                                                   std::uint8_t* key, std::uint8_t* iv, int drawKey, int drawIV,
                                                   CSPHandle* session);
    virtual int DeriveKeyPBKDF2Ctx(CSPContext* context, const void* password, std::uint32_t passwordLength,
                                   std::uint8_t* salt, std::uint32_t saltLength, int drawSalt, std::uint32_t iterations,
                                   std::uint8_t* key, std::uint32_t keyLength, const void* sBox);
    virtual int DeriveKeyPBKDFMACCtx(CSPContext* context, const void* password, std::uint32_t passwordLength,
                                     std::uint8_t* salt, std::uint32_t saltLength, int drawSalt,
                                     std::uint32_t iterations, std::uint8_t* key, std::uint32_t keyLength,
                                     const void* sBox);
    virtual int GetSignaturePublicKeyDSTU4145Ctx(CSPContext* context, const DSTU4145FieldRecord* field,
                                                 DSTU4145PointRecord* point, const std::uint8_t* privateKey,
                                                 std::uint8_t* publicKey);
    virtual int GetAgreementPublicKeyDSTU4145Ctx(CSPContext* context, const DSTU4145FieldRecord* field,
                                                 DSTU4145PointRecord* point, const std::uint8_t* privateKey,
                                                 std::uint8_t* publicKey);
    // ---- 93 to 102 ----
    virtual int SetHardwareRNGObject(ICSPHardwareRNG* rng);
    virtual int MakeCommonKeyQDSTU4145(const DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                                       const std::uint8_t* firstPublicKey, const std::uint8_t* secondPublicKey,
                                       std::uint8_t* commonPublicKey);
    virtual int MakeSignRDSTU4145(const DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                                  std::uint8_t* oneTimeValue, std::uint8_t* r);
    virtual int MakeSignRDSTU4145Ctx(CSPContext* context, const DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                                     std::uint8_t* oneTimeValue, std::uint8_t* r);
    virtual int MakeCommonSignRDSTU4145(const DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                                        const std::uint8_t* hash, const std::uint8_t* otherR,
                                        std::uint8_t* oneTimeValue, std::uint8_t* commonR);
    virtual int MakeCommonSignRDSTU4145Ctx(CSPContext* context, const DSTU4145FieldRecord* field,
                                           DSTU4145PointRecord* point, const std::uint8_t* hash,
                                           const std::uint8_t* otherR, std::uint8_t* oneTimeValue,
                                           std::uint8_t* commonR);
    virtual int MakeSignSDSTU4145(const DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                                  const std::uint8_t* privateKey, const std::uint8_t* oneTimeValue,
                                  const std::uint8_t* commonR, std::uint8_t* s);
    virtual int MakeSignSDSTU4145Ctx(CSPContext* context, const DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                                     const std::uint8_t* privateKey, const std::uint8_t* oneTimeValue,
                                     const std::uint8_t* commonR, std::uint8_t* s);
    virtual int MakeCommonSignDSTU4145(const DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                                       const std::uint8_t* privateKey, const std::uint8_t* oneTimeValue,
                                       const std::uint8_t* commonR, const std::uint8_t* otherS,
                                       std::uint8_t* signature);
    virtual int MakeCommonSignDSTU4145Ctx(CSPContext* context, const DSTU4145FieldRecord* field,
                                          DSTU4145PointRecord* point, const std::uint8_t* privateKey,
                                          const std::uint8_t* oneTimeValue, const std::uint8_t* commonR,
                                          const std::uint8_t* otherS, std::uint8_t* signature);
    // ---- 103 to 109: DSTU 7564 hash, random keys and IVs ----
    virtual int BeginHashDSTU7564(const std::uint8_t* parameterBlock, std::uint32_t hashLength, CSPHandle* state);
    virtual int FinishHashDSTU7564(std::uint8_t* hash, CSPHandle* state);
    virtual int UpdateHashDSTU7564(const std::uint8_t* data, std::uint32_t length, CSPHandle* state);
    virtual int HashDSTU7564(const std::uint8_t* data, std::uint32_t length, const std::uint8_t* parameterBlock,
                             std::uint32_t hashLength, std::uint8_t* hash);
    virtual int CompareHashDSTU7564(const std::uint8_t* data, std::uint32_t length, const std::uint8_t* parameterBlock,
                                    std::uint32_t hashLength, const std::uint8_t* expectedHash);
    virtual int GenerateKeyAndIV(std::uint8_t* key, std::uint32_t keyLength, std::uint8_t* iv, std::uint32_t ivLength);
    virtual int GenerateKeyAndIVCtx(CSPContext* context, std::uint8_t* key, std::uint32_t keyLength, std::uint8_t* iv,
                                    std::uint32_t ivLength);
    // ---- 110 to 139: DSTU 7624 ----
    virtual int CreateCipherDSTU7624(const std::uint8_t* parameterBlock, const std::uint8_t* key,
                                     std::uint32_t keyLength, const std::uint8_t* iv, std::uint32_t blockLength,
                                     CSPHandle* state);
    virtual int DestroyCipherDSTU7624(CSPHandle* state);
    virtual int EncryptECBDSTU7624(std::uint8_t* data, std::uint32_t length, const std::uint8_t* parameterBlock,
                                   const std::uint8_t* key, std::uint32_t keyLength, std::uint32_t blockLength);
    virtual int DecryptECBDSTU7624(std::uint8_t* data, std::uint32_t length, const std::uint8_t* parameterBlock,
                                   const std::uint8_t* key, std::uint32_t keyLength, std::uint32_t blockLength);
    virtual int EncryptCTRDSTU7624State(std::uint8_t* data, std::uint32_t length, CSPHandle* state);
    virtual int EncryptCTRDSTU7624StateAt(std::uint8_t* data, std::uint32_t length, const std::uint8_t* iv,
                                          std::uint32_t offsetLow, std::uint32_t offsetHigh, CSPHandle* state);
    virtual int EncryptCTRDSTU7624(std::uint8_t* data, std::uint32_t length, const std::uint8_t* parameterBlock,
                                   const std::uint8_t* key, std::uint32_t keyLength, const std::uint8_t* iv,
                                   std::uint32_t blockLength);
    virtual int DecryptCTRDSTU7624State(std::uint8_t* data, std::uint32_t length, CSPHandle* state);
    virtual int DecryptCTRDSTU7624StateAt(std::uint8_t* data, std::uint32_t length, const std::uint8_t* iv,
                                          std::uint32_t offsetLow, std::uint32_t offsetHigh, CSPHandle* state);
    virtual int DecryptCTRDSTU7624(std::uint8_t* data, std::uint32_t length, const std::uint8_t* parameterBlock,
                                   const std::uint8_t* key, std::uint32_t keyLength, const std::uint8_t* iv,
                                   std::uint32_t blockLength);
    virtual int EncryptCFBDSTU7624(std::uint8_t* data, std::uint32_t length, const std::uint8_t* parameterBlock,
                                   const std::uint8_t* key, std::uint32_t keyLength, const std::uint8_t* iv,
                                   std::uint32_t blockLength, std::uint32_t feedbackBits);
    virtual int DecryptCFBDSTU7624(std::uint8_t* data, std::uint32_t length, const std::uint8_t* parameterBlock,
                                   const std::uint8_t* key, std::uint32_t keyLength, const std::uint8_t* iv,
                                   std::uint32_t blockLength, std::uint32_t feedbackBits);
    virtual int ComputeCMACDSTU7624(const std::uint8_t* data, std::uint32_t length, const std::uint8_t* parameterBlock,
                                    const std::uint8_t* key, std::uint32_t keyLength, std::uint32_t blockLength,
                                    std::uint8_t* mac, std::uint32_t macLength);
    virtual int CheckCMACDSTU7624(const std::uint8_t* data, std::uint32_t length, const std::uint8_t* expectedMac,
                                  std::uint32_t macLength, const std::uint8_t* parameterBlock, const std::uint8_t* key,
                                  std::uint32_t keyLength, std::uint32_t blockLength);
    virtual int EncryptCBCDSTU7624(std::uint8_t* data, std::uint32_t length, std::uint32_t bufferLength,
                                   const std::uint8_t* parameterBlock, const std::uint8_t* key, std::uint32_t keyLength,
                                   const std::uint8_t* iv, std::uint32_t blockLength);
    virtual int DecryptCBCDSTU7624(std::uint8_t* data, std::uint32_t* length, int removePadding,
                                   const std::uint8_t* parameterBlock, const std::uint8_t* key, std::uint32_t keyLength,
                                   const std::uint8_t* iv, std::uint32_t blockLength);
    virtual int EncryptOFBDSTU7624State(std::uint8_t* data, std::uint32_t length, CSPHandle* state);
    virtual int EncryptOFBDSTU7624(std::uint8_t* data, std::uint32_t length, const std::uint8_t* parameterBlock,
                                   const std::uint8_t* key, std::uint32_t keyLength, const std::uint8_t* iv,
                                   std::uint32_t blockLength);
    virtual int DecryptOFBDSTU7624State(std::uint8_t* data, std::uint32_t length, CSPHandle* state);
    virtual int DecryptOFBDSTU7624(std::uint8_t* data, std::uint32_t length, const std::uint8_t* parameterBlock,
                                   const std::uint8_t* key, std::uint32_t keyLength, const std::uint8_t* iv,
                                   std::uint32_t blockLength);
    virtual int EncryptGCMDSTU7624(std::uint8_t* data, std::uint32_t length, const std::uint8_t* associatedData,
                                   std::uint32_t associatedLength, const std::uint8_t* parameterBlock,
                                   const std::uint8_t* key, std::uint32_t keyLength, const std::uint8_t* iv,
                                   std::uint32_t blockLength, std::uint8_t* tag, std::uint32_t tagLength);
    virtual int DecryptGCMDSTU7624(std::uint8_t* data, std::uint32_t length, const std::uint8_t* associatedData,
                                   std::uint32_t associatedLength, const std::uint8_t* expectedTag,
                                   std::uint32_t tagLength, const std::uint8_t* parameterBlock, const std::uint8_t* key,
                                   std::uint32_t keyLength, const std::uint8_t* iv, std::uint32_t blockLength);
    virtual int ComputeGMACDSTU7624(const std::uint8_t* data, std::uint32_t length, const std::uint8_t* parameterBlock,
                                    const std::uint8_t* key, std::uint32_t keyLength, std::uint32_t blockLength,
                                    std::uint8_t* mac, std::uint32_t macLength);
    virtual int CheckGMACDSTU7624(const std::uint8_t* data, std::uint32_t length, const std::uint8_t* expectedMac,
                                  std::uint32_t macLength, const std::uint8_t* parameterBlock, const std::uint8_t* key,
                                  std::uint32_t keyLength, std::uint32_t blockLength);
    virtual int EncryptCCMDSTU7624(std::uint8_t* buffer, std::uint32_t plainLength, std::uint32_t bufferLength,
                                   const std::uint8_t* associatedData, std::uint32_t associatedLength,
                                   const std::uint8_t* parameterBlock, const std::uint8_t* key, std::uint32_t keyLength,
                                   const std::uint8_t* iv, std::uint32_t blockLength, std::uint32_t lengthFieldBytes,
                                   std::uint32_t macLength);
    virtual int DecryptCCMDSTU7624(std::uint8_t* buffer, std::uint32_t bufferLength, const std::uint8_t* associatedData,
                                   std::uint32_t associatedLength, const std::uint8_t* parameterBlock,
                                   const std::uint8_t* key, std::uint32_t keyLength, const std::uint8_t* iv,
                                   std::uint32_t blockLength, std::uint32_t lengthFieldBytes, std::uint32_t macLength);
    virtual int EncryptXTSDSTU7624(std::uint8_t* data, std::uint32_t length, const std::uint8_t* parameterBlock,
                                   const std::uint8_t* key, std::uint32_t keyLength, const std::uint8_t* iv,
                                   std::uint32_t blockLength);
    virtual int DecryptXTSDSTU7624(std::uint8_t* data, std::uint32_t length, const std::uint8_t* parameterBlock,
                                   const std::uint8_t* key, std::uint32_t keyLength, const std::uint8_t* iv,
                                   std::uint32_t blockLength);
    virtual int EncryptKWDSTU7624(std::uint8_t* data, std::uint32_t length, std::uint32_t bufferLength,
                                  const std::uint8_t* parameterBlock, const std::uint8_t* key, std::uint32_t keyLength,
                                  std::uint32_t blockLength);
    virtual int DecryptKWDSTU7624(std::uint8_t* data, std::uint32_t* length, int removePadding,
                                  const std::uint8_t* parameterBlock, const std::uint8_t* key, std::uint32_t keyLength,
                                  const void* unused, std::uint32_t blockLength);
    // ---- 140 to 144 ----
    virtual int SignHashDSTU4145Ex(std::uint32_t hashLength, const std::uint8_t* hash, const DSTU4145FieldRecord* field,
                                   DSTU4145PointRecord* point, const std::uint8_t* privateKey, std::uint8_t* signature);
    virtual int SignHashDSTU4145ExCtx(CSPContext* context, std::uint32_t hashLength, const std::uint8_t* hash,
                                      const DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                                      const std::uint8_t* privateKey, std::uint8_t* signature);
    virtual int VerifySignatureDSTU4145(std::uint32_t hashLength, const std::uint8_t* hash,
                                        const DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                                        const std::uint8_t* publicKey, const std::uint8_t* signature);
    virtual int GenerateDataAndKey(std::uint8_t* data, std::uint32_t dataLength, std::uint8_t* key);
    virtual int GenerateDataAndKeyCtx(CSPContext* context, std::uint8_t* data, std::uint32_t dataLength,
                                      std::uint8_t* key);
    // ---- 145 to 149: DSTU 8845 ----
    virtual int CreateCipherDSTU8845(const std::uint8_t* parameterBlock, const std::uint8_t* key,
                                     std::uint32_t keyLength, const std::uint8_t* iv, CSPHandle* state);
    virtual int DestroyCipherDSTU8845(CSPHandle* state);
    virtual int CryptDSTU8845State(std::uint8_t* data, std::uint32_t length, CSPHandle* state);
    virtual int CryptDSTU8845StateAt(std::uint8_t* data, std::uint32_t length, const std::uint8_t* iv,
                                     std::uint32_t positionLow, std::uint32_t positionHigh, CSPHandle* state);
    virtual int CryptDSTU8845(std::uint8_t* data, std::uint32_t length, const std::uint8_t* parameterBlock,
                              const std::uint8_t* key, std::uint32_t keyLength, const std::uint8_t* iv);
    // ---- 150 to 156: key derivation and DSTU 7564 HMAC ----
    virtual int DeriveKeyPKCS12DSTU7564(const std::uint8_t* password, std::uint32_t passwordLength,
                                        const std::uint8_t* salt, std::uint32_t saltLength, std::uint32_t iterations,
                                        std::uint32_t purpose, std::uint8_t* key, std::uint32_t keyLength);
    virtual int BeginHMACDSTU7564(const std::uint8_t* parameterBlock, const std::uint8_t* key, std::uint32_t macLength,
                                  CSPHandle* state);
    virtual int FinishHMACDSTU7564(std::uint8_t* mac, CSPHandle* state);
    virtual int UpdateHMACDSTU7564(const std::uint8_t* data, std::uint32_t length, CSPHandle* state);
    virtual int ComputeHMACDSTU7564(const std::uint8_t* data, std::uint32_t length, const std::uint8_t* parameterBlock,
                                    const std::uint8_t* key, std::uint32_t macLength, std::uint8_t* mac);
    virtual int CompareHMACDSTU7564(const std::uint8_t* data, std::uint32_t length, const std::uint8_t* parameterBlock,
                                    const std::uint8_t* key, std::uint32_t macLength, const std::uint8_t* expectedMac);
    virtual int DeriveKeyPBKDF2DSTU7564(const std::uint8_t* password, std::uint32_t passwordLength,
                                        const std::uint8_t* salt, std::uint32_t saltLength, std::uint32_t iterations,
                                        const std::uint8_t* parameterBlock, std::uint32_t keyLength, std::uint8_t* key,
                                        std::uint32_t macLength);
    // ---- 157 to 162: state export and import, password encryption ----
    virtual int ExportStateDSTU7624(CSPHandle* state, std::uint8_t* buffer, std::uint32_t* size);
    virtual int ImportStateDSTU7624(CSPHandle* state, const std::uint8_t* data, std::uint32_t size);
    virtual int ExportStateDSTU8845(CSPHandle* state, std::uint8_t* buffer, std::uint32_t* size);
    virtual int ImportStateDSTU8845(CSPHandle* state, const std::uint8_t* data, std::uint32_t size);
    virtual int EncryptWithPasswordDSTU7624(const std::uint8_t* data, std::uint32_t length, std::uint8_t* output,
                                            std::uint32_t outputSize, const std::uint8_t* parameterBlock,
                                            const char* password, const std::uint8_t* key, std::uint32_t blockLength,
                                            const std::uint8_t* iv);
    virtual int DecryptWithPasswordDSTU7624(std::uint8_t* buffer, std::uint32_t size, std::uint8_t** data,
                                            std::uint32_t* length, const std::uint8_t* parameterBlock,
                                            const char* password, const std::uint8_t* key, std::uint32_t blockLength);
    // ---- 163 to 170 ----
    virtual int HashDataDSTU7564(const std::uint8_t* data, std::uint32_t bitLength, const std::uint8_t* parameterBlock,
                                 std::uint32_t hashLength, std::uint8_t* hash);
    virtual int HashDataDSTU7564Ctx(CSPContext* context, const std::uint8_t* data, std::uint32_t bitLength,
                                    const std::uint8_t* parameterBlock, std::uint32_t hashLength, std::uint8_t* hash);
    virtual int WrapKeyDSTU7624(const DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                                const std::uint8_t* privateKey, const std::uint8_t* peerPublicKey, int a1,
                                const std::uint8_t* a2, std::uint32_t a3, const void* w1, const std::uint8_t* w2,
                                const void* w3, std::uint8_t* w4, void* w5);
    virtual int UnwrapKeyDSTU7624(const DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                                  const std::uint8_t* privateKey, const std::uint8_t* peerPublicKey, int a1,
                                  const std::uint8_t* a2, std::uint32_t a3, const void* w1, const std::uint8_t* w2,
                                  const void* w3, std::uint8_t* w4, void* w5);
    virtual int WrapKeyDSTU7624Ctx(CSPContext* context, const DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                                   const std::uint8_t* privateKey, const std::uint8_t* peerPublicKey, int a1,
                                   const std::uint8_t* a2, std::uint32_t a3, const void* w1, const std::uint8_t* w2,
                                   const void* w3, std::uint8_t* w4, void* w5);
    virtual int UnwrapKeyDSTU7624Ctx(CSPContext* context, const DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                                     const std::uint8_t* privateKey, const std::uint8_t* peerPublicKey, int a1,
                                     const std::uint8_t* a2, std::uint32_t a3, const void* w1, const std::uint8_t* w2,
                                     const void* w3, std::uint8_t* w4, void* w5);
    virtual int EncryptCFBDSTU7624State(std::uint8_t* data, std::uint32_t length, std::uint32_t feedbackBits,
                                        CSPHandle* state);
    virtual int DecryptCFBDSTU7624State(std::uint8_t* data, std::uint32_t length, std::uint32_t feedbackBits,
                                        CSPHandle* state);
    // ---- 171 to 177: generators, password encryption with chosen sizes ----
    virtual int ReseedDefaultPRNG(int kind, const std::uint8_t* parameterBlock, const std::uint8_t* key,
                                  const std::uint8_t* seed);
    virtual int GenerateNoiseRandom(CSPContext* context, std::uint8_t* buffer, std::uint32_t length);
    virtual int CreateDensePRNG(CSPContext* context, int kind, const std::uint8_t* parameterBlock,
                                const std::uint8_t* key, const std::uint8_t* seed);
    virtual int ReseedDensePRNG(CSPContext* context, int kind, const std::uint8_t* parameterBlock,
                                const std::uint8_t* key, const std::uint8_t* seed);
    virtual int EncryptWithPasswordDSTU7624Ex(const std::uint8_t* data, std::uint32_t length, std::uint8_t* output,
                                              std::uint32_t outputSize, const std::uint8_t* parameterBlock,
                                              const char* password, const std::uint8_t* key, std::uint32_t keyLength,
                                              const std::uint8_t* iv, std::uint32_t blockLength,
                                              std::uint32_t macLength);
    virtual int DecryptWithPasswordDSTU7624Ex(std::uint8_t* buffer, std::uint32_t size, std::uint8_t** data,
                                              std::uint32_t* length, const std::uint8_t* parameterBlock,
                                              const char* password, const std::uint8_t* key, std::uint32_t keyLength);
    virtual int CryptDSTU8845StateAtEx(std::uint8_t* data, std::uint32_t length, const std::uint8_t* iv,
                                       std::uint32_t positionLow, std::uint32_t positionHigh, CSPHandle* state);
    // ---- 178 to 194: dense DSTU 4145 records, dense key wrapping ----
    virtual int QueryParametersDSTU4145(std::uint8_t* record, std::uint32_t recordSize);
    virtual int GenerateKeyPairDSTU4145Sized(std::uint8_t* record, std::uint32_t recordSize, std::uint8_t* privateKey,
                                             std::uint32_t privateKeySize, std::uint8_t* publicKey,
                                             std::uint32_t publicKeySize);
    virtual int GenerateKeyPairDSTU4145SizedCtx(CSPContext* context, std::uint8_t* record, std::uint32_t recordSize,
                                                std::uint8_t* privateKey, std::uint32_t privateKeySize,
                                                std::uint8_t* publicKey, std::uint32_t publicKeySize);
    virtual int CheckKeyPairDSTU4145Sized(std::uint8_t* record, std::uint32_t recordSize,
                                          const std::uint8_t* privateKey, std::uint32_t privateKeySize,
                                          const std::uint8_t* publicKey, std::uint32_t publicKeySize);
    virtual int CheckKeyPairDSTU4145SizedCtx(CSPContext* context, std::uint8_t* record, std::uint32_t recordSize,
                                             const std::uint8_t* privateKey, std::uint32_t privateKeySize,
                                             const std::uint8_t* publicKey, std::uint32_t publicKeySize);
    virtual int GetPublicKeyDSTU4145Sized(std::uint8_t* record, std::uint32_t recordSize,
                                          const std::uint8_t* privateKey, std::uint32_t privateKeySize,
                                          std::uint8_t* publicKey, std::uint32_t publicKeySize);
    virtual int GetPublicKeyDSTU4145SizedCtx(CSPContext* context, std::uint8_t* record, std::uint32_t recordSize,
                                             const std::uint8_t* privateKey, std::uint32_t privateKeySize,
                                             std::uint8_t* publicKey, std::uint32_t publicKeySize);
    virtual int QueryParametersDSTU4145Ctx(std::uint8_t* record, std::uint32_t recordSize, int check);
    virtual int SignHashDSTU4145Sized(std::uint32_t hashLength, const std::uint8_t* hash, std::uint8_t* record,
                                      std::uint32_t recordSize, const std::uint8_t* privateKey,
                                      std::uint32_t privateKeySize, std::uint8_t* signature,
                                      std::uint32_t signatureSize);
    virtual int SignHashDSTU4145SizedCtx(CSPContext* context, std::uint32_t hashLength, const std::uint8_t* hash,
                                         std::uint8_t* record, std::uint32_t recordSize, const std::uint8_t* privateKey,
                                         std::uint32_t privateKeySize, std::uint8_t* signature,
                                         std::uint32_t signatureSize);
    virtual int VerifySignatureDSTU4145Sized(std::uint32_t hashLength, const std::uint8_t* hash, std::uint8_t* record,
                                             std::uint32_t recordSize, const std::uint8_t* publicKey,
                                             std::uint32_t publicKeySize, const std::uint8_t* signature,
                                             std::uint32_t signatureSize);
    virtual int WrapKeyDSTU7624Dense(const std::uint8_t* d1, std::uint32_t d2, const std::uint8_t* d3, std::uint32_t d4,
                                     const std::uint8_t* d5, std::uint32_t d6, const std::uint8_t* d7, std::uint32_t d8,
                                     const void* w1, const std::uint8_t* w2, const void* w3, std::uint8_t* w4,
                                     void* w5);
    virtual int WrapKeyDSTU7624DenseCtx(CSPContext* context, const std::uint8_t* d1, std::uint32_t d2,
                                        const std::uint8_t* d3, std::uint32_t d4, const std::uint8_t* d5,
                                        std::uint32_t d6, const std::uint8_t* d7, std::uint32_t d8, const void* w1,
                                        const std::uint8_t* w2, const void* w3, std::uint8_t* w4, void* w5);
    virtual int UnwrapKeyDSTU7624Dense(const std::uint8_t* d1, std::uint32_t d2, const std::uint8_t* d3,
                                       std::uint32_t d4, const std::uint8_t* d5, std::uint32_t d6,
                                       const std::uint8_t* d7, std::uint32_t d8, const void* w1, const std::uint8_t* w2,
                                       const void* w3, std::uint8_t* w4, void* w5);
    virtual int UnwrapKeyDSTU7624DenseCtx(CSPContext* context, const std::uint8_t* d1, std::uint32_t d2,
                                          const std::uint8_t* d3, std::uint32_t d4, const std::uint8_t* d5,
                                          std::uint32_t d6, const std::uint8_t* d7, std::uint32_t d8, const void* w1,
                                          const std::uint8_t* w2, const void* w3, std::uint8_t* w4, void* w5);
    virtual int MakeCommonSignRDSTU4145Ex(const DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                                          std::uint32_t hashLength, const std::uint8_t* hash,
                                          const std::uint8_t* otherR, std::uint8_t* oneTimeValue,
                                          std::uint8_t* commonR);
    virtual int MakeCommonSignRDSTU4145ExCtx(CSPContext* context, const DSTU4145FieldRecord* field,
                                             DSTU4145PointRecord* point, std::uint32_t hashLength,
                                             const std::uint8_t* hash, const std::uint8_t* otherR,
                                             std::uint8_t* oneTimeValue, std::uint8_t* commonR);

    // ---- not in the operation table ----
    // The parameter store; its file operations protect through this object.
    CSPParameters& Parameters() { return parameters_; }
    const CSPLibraryBinding& Binding() const { return binding_; }
    const CSPExtraFunctionTable* ExtraFunctions() const { return extraFunctions_; }
    CSPHandle DefaultPRNG() const { return defaultPrng_; }
    std::uint32_t Flags() const { return flags_; }
    // {hardware random source when installed, hardware object when
    // installed, default generator}: what the plain forms pass on.
    CSPContext PlainContext() const;

private:
    // The file operations of CSPParameters reach the provider through this
    // forwarder, which keeps the operation table above free of a base class.
    class ParametersProvider final : public ICSPParametersProvider {
    public:
        explicit ParametersProvider(CSP* owner) : owner_(owner) {}
        int GenerateSignatureKeyPairDSTU4145(const DSTU4145FieldRecord* field, const DSTU4145PointRecord* point,
                                             std::uint8_t* privateKey, std::uint8_t* publicKey) override;
        const char* GetStoredString() override;
        int ProtectDataGOST28147(std::uint8_t* data, std::uint32_t length, const GOST28147PackedSBox* sBox,
                                 const std::uint8_t* startVector, std::uint32_t* mac, std::uint8_t* tail,
                                 std::uint32_t* tailLength, const char* password, const std::uint8_t* key) override;
        int UnprotectDataGOST28147(std::uint8_t* data, std::uint32_t length, const GOST28147PackedSBox* sBox,
                                   const std::uint8_t* startVector, std::uint32_t expectedMac, const std::uint8_t* tail,
                                   std::uint32_t tailLength, const char* password, const std::uint8_t* key) override;
        int HashGOST34311(const std::uint8_t* data, std::uint32_t length, const GOST28147PackedSBox* sBox,
                          const std::uint8_t* startVector, std::uint8_t* hash) override;
        int CompareHashGOST34311(const std::uint8_t* data, std::uint32_t length, const GOST28147PackedSBox* sBox,
                                 const std::uint8_t* startVector, const std::uint8_t* expectedHash) override;
        int HashDSTU7564(const std::uint8_t* data, std::uint32_t length, const std::uint8_t* parameterBlock,
                         std::uint32_t hashLength, std::uint8_t* hash) override;
        int CompareHashDSTU7564(const std::uint8_t* data, std::uint32_t length, const std::uint8_t* parameterBlock,
                                std::uint32_t hashLength, const std::uint8_t* expectedHash) override;
        int EncryptWithPasswordDSTU7624Ex(const std::uint8_t* data, std::uint32_t length, std::uint8_t* output,
                                          std::uint32_t outputSize, const std::uint8_t* parameterBlock,
                                          const char* password, const std::uint8_t* key, std::uint32_t keyLength,
                                          const std::uint8_t* iv, std::uint32_t blockLength,
                                          std::uint32_t macLength) override;
        int DecryptWithPasswordDSTU7624Ex(std::uint8_t* buffer, std::uint32_t size, std::uint8_t** data,
                                          std::uint32_t* length, const std::uint8_t* parameterBlock,
                                          const char* password, const std::uint8_t* key,
                                          std::uint32_t keyLength) override;
        std::uint32_t CRC32Count(const std::uint8_t* data, std::uint32_t length) override;

    private:
        CSP* owner_;
    };

    // Shared steps of the operation families.
    const CSPExtraFunctionTable* ExtraTable() const { return extraFunctions_; }
    template <typename Fn>
    Fn Extra(CSPExtraFunction index) const
    {
        return extraFunctions_ ? reinterpret_cast<Fn>(extraFunctions_->entries[index]) : nullptr;
    }
    bool Initialized() const { return (flags_ & CSP_FLAG_INITIALIZED) != 0; }
    void StoreDefaultPRNG(CSPHandle state);
    int DrawForSeed(CSPContext* context, bool fromDefault, std::uint8_t* buffer, std::uint32_t length);
    int StateCryptDSTU7624(CSPExtraFunction mode, std::uint8_t* data, std::uint32_t length, CSPHandle* state);
    int StateCryptAtDSTU7624(CSPExtraFunction mode, std::uint8_t* data, std::uint32_t length, const std::uint8_t* iv,
                             std::uint32_t offsetLow, std::uint32_t offsetHigh, CSPHandle* state);
    int StateCFBDSTU7624(CSPExtraFunction mode, std::uint8_t* data, std::uint32_t length, std::uint32_t feedbackBits,
                         CSPHandle* state);
    int StateCryptAtDSTU8845(std::uint32_t code, std::uint8_t* data, std::uint32_t length, const std::uint8_t* iv,
                             std::uint32_t positionLow, std::uint32_t positionHigh, CSPHandle* state);
    int ExportState(CSPExtraFunction getEntry, std::uint32_t sizeCode, std::uint32_t stateCode, CSPHandle* state,
                    std::uint8_t* buffer, std::uint32_t* size);
    int ImportState(CSPExtraFunction acquireEntry, CSPExtraFunction releaseEntry, CSPExtraFunction getEntry,
                    CSPExtraFunction setEntry, std::uint32_t sizeCode, std::uint32_t stateCode, CSPHandle* state,
                    const std::uint8_t* data, std::uint32_t size);
    int PasswordKey(const char* password, const std::uint8_t* parameterBlock, std::uint32_t keyLength,
                    const std::uint8_t* givenKey, std::uint8_t* keyBuffer, const std::uint8_t** key);

    CSPLibraryBinding binding_;
    CSPParameters parameters_;
    CSPHandle defaultPrng_;
    ICSPHardwareRNG* rng_;
    ICSPHardware* hardware_;
    std::uint32_t flags_;
    CSPExtraFunctionTable* extraFunctions_;
    char* storedText_;
    CRITICAL_SECTION lock_;
    ParametersProvider provider_;
};

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

// Creates a provider in `place` (the module's default pointer when null),
// binds the libraries and, when asked, starts the default generator. On
// failure the object is destroyed, the place holds null and the code is
// returned.
int CreateCSP(CSP** place, int startGenerator);
// The PKCS#11 module's form: a null second argument leaves the generator
// unstarted.
inline int CreateCSP(CSP** place, std::nullptr_t)
{
    return CreateCSP(place, 0);
}
// Destroys and frees the provider in `place` (the default pointer when null)
// and sets the pointer to null.
void DestroyCSP(CSP** place);
// The module's default provider pointer.
CSP*& DefaultCSP();

#endif
