// The context and no-context operations of the provider over the outside
// crypto library (see CSPLibraryCalls.h). Arguments follow those of the
// provider's slots; the provider's plain forms build the Context and call the
// context forms here.
#ifndef QVK_CSP_CSPCALLSOPERATIONS_H
#define QVK_CSP_CSPCALLSOPERATIONS_H

#include <cstdint>

#include "csp/CSPLibraryCalls.h"

namespace cspcalls {

using Field = DSTU4145FieldRecord;
using Point = DSTU4145PointRecord;
using SBox = GOST28147PackedSBox;

// --- DSTU 4145 signatures and key pairs ---
int CheckParametersDSTU4145Ctx(const Library& lib, const Field* field, Point* point, int check);
int SignHashDSTU4145Ctx(const Library& lib, Context* c, const std::uint8_t* hash, const Field* field, Point* point,
                        const std::uint8_t* privateKey, std::uint8_t* signature);
int SignHashDSTU4145ExCtx(const Library& lib, Context* c, std::uint32_t hashLength, const std::uint8_t* hash,
                          const Field* field, Point* point, const std::uint8_t* privateKey, std::uint8_t* signature);
int VerifyHashSignatureDSTU4145Ctx(const Library& lib, Context* c, const std::uint8_t* hash, const Field* field,
                                   Point* point, const std::uint8_t* publicKey, const std::uint8_t* signature);
int VerifySignatureDSTU4145(const Library& lib, std::uint32_t hashLength, const std::uint8_t* hash, const Field* field,
                            Point* point, const std::uint8_t* publicKey, const std::uint8_t* signature);
int GenerateSignatureKeyPairDSTU4145Ctx(const Library& lib, Context* c, const Field* field, Point* point,
                                        std::uint8_t* privateKey, std::uint8_t* publicKey);
int GenerateAgreementKeyPairDSTU4145Ctx(const Library& lib, Context* c, const Field* field, Point* point,
                                        std::uint8_t* privateKey, std::uint8_t* publicKey);
int CheckSignatureKeyPairDSTU4145Ctx(const Library& lib, Context* c, const Field* field, Point* point,
                                     const std::uint8_t* privateKey, const std::uint8_t* publicKey);
int CheckAgreementKeyPairDSTU4145Ctx(const Library& lib, Context* c, const Field* field, Point* point,
                                     const std::uint8_t* privateKey, const std::uint8_t* publicKey);
int GetSignaturePublicKeyDSTU4145Ctx(const Library& lib, Context* c, const Field* field, Point* point,
                                     const std::uint8_t* privateKey, std::uint8_t* publicKey);
int GetAgreementPublicKeyDSTU4145Ctx(const Library& lib, Context* c, const Field* field, Point* point,
                                     const std::uint8_t* privateKey, std::uint8_t* publicKey);

// --- two-party signing ---
int MakeCommonKeyQDSTU4145(const Library& lib, const Field* field, Point* point, const std::uint8_t* firstPublicKey,
                           const std::uint8_t* secondPublicKey, std::uint8_t* commonPublicKey);
int MakeSignRDSTU4145Ctx(const Library& lib, Context* c, const Field* field, Point* point, std::uint8_t* oneTimeValue,
                         std::uint8_t* r);
int MakeCommonSignRDSTU4145Ctx(const Library& lib, Context* c, const Field* field, Point* point,
                               const std::uint8_t* hash, const std::uint8_t* otherR, std::uint8_t* oneTimeValue,
                               std::uint8_t* commonR);
int MakeCommonSignRDSTU4145ExCtx(const Library& lib, Context* c, const Field* field, Point* point,
                                 std::uint32_t hashLength, const std::uint8_t* hash, const std::uint8_t* otherR,
                                 std::uint8_t* oneTimeValue, std::uint8_t* commonR);
int MakeSignSDSTU4145Ctx(const Library& lib, Context* c, const Field* field, Point* point,
                         const std::uint8_t* privateKey, const std::uint8_t* oneTimeValue, const std::uint8_t* commonR,
                         std::uint8_t* s);
int MakeCommonSignDSTU4145Ctx(const Library& lib, Context* c, const Field* field, Point* point,
                              const std::uint8_t* privateKey, const std::uint8_t* oneTimeValue,
                              const std::uint8_t* commonR, const std::uint8_t* otherS, std::uint8_t* signature);

// --- key transport and wrapping ---
int EncryptSessionKeyCtx(const Library& lib, Context* c, const Field* field, Point* point,
                         const std::uint8_t* privateKey, const std::uint8_t* peerPublicKey, std::uint8_t* ukm,
                         const SBox* sBox, const void* argument, std::uint8_t* data, std::uint32_t length,
                         std::uint8_t* mac);
int DecryptSessionKeyCtx(const Library& lib, Context* c, const Field* field, Point* point,
                         const std::uint8_t* privateKey, const std::uint8_t* peerPublicKey, const std::uint8_t* ukm,
                         const SBox* sBox, const void* argument, std::uint8_t* data, std::uint32_t length,
                         const std::uint8_t* mac);
int WrapKeyGOST28147Ctx(const Library& lib, Context* c, const Field* field, Point* point,
                        const std::uint8_t* privateKey, const std::uint8_t* peerPublicKey, int a1,
                        const std::uint8_t* a2, std::uint32_t a3, const void* a4, const void* a5, const void* w1,
                        const std::uint8_t* w2, std::uint8_t* w3);
int UnwrapKeyGOST28147Ctx(const Library& lib, Context* c, const Field* field, Point* point,
                          const std::uint8_t* privateKey, const std::uint8_t* peerPublicKey, int a1,
                          const std::uint8_t* a2, std::uint32_t a3, const void* a4, const void* a5, const void* w1,
                          const std::uint8_t* w2, std::uint8_t* w3);
int WrapKeyDSTU7624Ctx(const Library& lib, Context* c, const Field* field, Point* point, const std::uint8_t* privateKey,
                       const std::uint8_t* peerPublicKey, int a1, const std::uint8_t* a2, std::uint32_t a3,
                       const void* w1, const std::uint8_t* w2, const void* w3, std::uint8_t* w4, void* w5);
int UnwrapKeyDSTU7624Ctx(const Library& lib, Context* c, const Field* field, Point* point,
                         const std::uint8_t* privateKey, const std::uint8_t* peerPublicKey, int a1,
                         const std::uint8_t* a2, std::uint32_t a3, const void* w1, const std::uint8_t* w2,
                         const void* w3, std::uint8_t* w4, void* w5);
int WrapKeyDSTU7624DenseCtx(const Library& lib, Context* c, const std::uint8_t* d1, std::uint32_t d2,
                            const std::uint8_t* d3, std::uint32_t d4, const std::uint8_t* d5, std::uint32_t d6,
                            const std::uint8_t* d7, std::uint32_t d8, const void* w1, const std::uint8_t* w2,
                            const void* w3, std::uint8_t* w4, void* w5);
int UnwrapKeyDSTU7624DenseCtx(const Library& lib, Context* c, const std::uint8_t* d1, std::uint32_t d2,
                              const std::uint8_t* d3, std::uint32_t d4, const std::uint8_t* d5, std::uint32_t d6,
                              const std::uint8_t* d7, std::uint32_t d8, const void* w1, const std::uint8_t* w2,
                              const void* w3, std::uint8_t* w4, void* w5);

// --- GOST 28147 ---
int ProtectDataGOST28147(const Library& lib, std::uint8_t* data, std::uint32_t length, const SBox* sBox,
                         const std::uint8_t* startVector, std::uint32_t* mac, std::uint8_t* tail,
                         std::uint32_t* tailLength, const char* password, const std::uint8_t* key);
int UnprotectDataGOST28147(const Library& lib, std::uint8_t* data, std::uint32_t length, const SBox* sBox,
                           const std::uint8_t* startVector, std::uint32_t expectedMac, const std::uint8_t* tail,
                           std::uint32_t tailLength, const char* password, const std::uint8_t* key);
int EncryptWithRandomKeyGOST28147Ctx(const Library& lib, Context* c, std::uint8_t* data, std::uint32_t length,
                                     const SBox* sBox, std::uint8_t* key, std::uint8_t* iv);
int CryptGammaGOST28147(const Library& lib, std::uint8_t* data, std::uint32_t length, const SBox* sBox,
                        const std::uint8_t* key, const std::uint8_t* iv);
int EncryptWithRandomKeyCFBGOST28147Ctx(const Library& lib, Context* c, std::uint8_t* data, std::uint32_t length,
                                        const SBox* sBox, std::uint8_t* key, std::uint8_t* iv);
int DecryptCFBGOST28147(const Library& lib, std::uint8_t* data, std::uint32_t length, const SBox* sBox,
                        const std::uint8_t* key, const std::uint8_t* iv);
int EncryptCFBGOST28147Ctx(const Library& lib, Context* c, std::uint8_t* data, std::uint32_t length, const SBox* sBox,
                           std::uint8_t* key, std::uint8_t* iv, int drawKey, int drawIv);
int CreateSenderSessionGOST28147Ctx(const Library& lib, Context* c, const SBox* sBox, std::uint8_t* key,
                                    std::uint8_t* iv, int draw, void** session);
int CreateSenderSessionGOST28147OptCtx(const Library& lib, Context* c, const SBox* sBox, std::uint8_t* key,
                                       std::uint8_t* iv, int drawKey, int drawIv, void** session);
int CreateReceiverSessionGOST28147Ctx(const Library& lib, Context* c, const SBox* sBox, const std::uint8_t* key,
                                      const std::uint8_t* iv, void** session);
int CryptSessionGOST28147Ctx(const Library& lib, Context* c, std::uint8_t* data, std::uint32_t length, void* session);
int CryptSessionGOST28147WithIVCtx(const Library& lib, Context* c, std::uint8_t* data, std::uint32_t length,
                                   std::uint32_t ivLow, std::uint32_t ivHigh, void* session);
int DestroySessionGOST28147Ctx(const Library& lib, Context* c, void** session);
int CryptCFBSessionGOST28147(const Library& lib, std::uint8_t* data, std::uint32_t length, void* session, bool encrypt);
int SetHardwareSBoxCtx(const Library& lib, Context* c, const void* a1, const void* a2, const void* a3,
                       const std::uint8_t* sBox);

// --- GOST 34.311 ---
int HashGOST34311(const Library& lib, const std::uint8_t* data, std::uint32_t length, const SBox* sBox,
                  const std::uint8_t* startVector, std::uint8_t* hash);
int BeginHashGOST34311(const Library& lib, const SBox* sBox, const std::uint8_t* startVector, void** state);
int UpdateHashGOST34311(const Library& lib, const std::uint8_t* data, std::uint32_t length, void** state);
int FinishHashGOST34311(const Library& lib, std::uint8_t* hash, void** state);
int CompareHashGOST34311(const Library& lib, const std::uint8_t* data, std::uint32_t length, const SBox* sBox,
                         const std::uint8_t* startVector, const std::uint8_t* expected);
int HashDataGOST34311Ctx(const Library& lib, Context* c, const std::uint8_t* data, std::uint32_t bits, const SBox* sBox,
                         const std::uint8_t* startVector, std::uint8_t* hash);
int ComputeHMACGOST34311(const Library& lib, const std::uint8_t* data, std::uint32_t length, const SBox* sBox,
                         const std::uint8_t* startVector, const std::uint8_t* key, std::uint8_t* mac);
int CompareHMACGOST34311(const Library& lib, const std::uint8_t* data, std::uint32_t length, const SBox* sBox,
                         const std::uint8_t* startVector, const std::uint8_t* key, const std::uint8_t* expected);
int DeriveKeyPBKDF2Ctx(const Library& lib, Context* c, const void* password, std::uint32_t passwordLength,
                       std::uint8_t* salt, std::uint32_t saltLength, int drawSalt, std::uint32_t iterations,
                       std::uint8_t* key, std::uint32_t keyLength, const void* sBox);
int DeriveKeyPBKDFMACCtx(const Library& lib, Context* c, const void* password, std::uint32_t passwordLength,
                         std::uint8_t* salt, std::uint32_t saltLength, int drawSalt, std::uint32_t iterations,
                         std::uint8_t* key, std::uint32_t keyLength, const void* sBox);

// --- DSTU 4145 dense records ---
int QueryParametersDSTU4145Ctx(const Library& lib, std::uint8_t* record, std::uint32_t size, int check);
int GenerateKeyPairDSTU4145SizedCtx(const Library& lib, Context* c, std::uint8_t* record, std::uint32_t size,
                                    std::uint8_t* privateKey, std::uint32_t privateSize, std::uint8_t* publicKey,
                                    std::uint32_t publicSize);
int CheckKeyPairDSTU4145SizedCtx(const Library& lib, Context* c, std::uint8_t* record, std::uint32_t size,
                                 const std::uint8_t* privateKey, std::uint32_t privateSize,
                                 const std::uint8_t* publicKey, std::uint32_t publicSize);
int GetPublicKeyDSTU4145SizedCtx(const Library& lib, Context* c, std::uint8_t* record, std::uint32_t size,
                                 const std::uint8_t* privateKey, std::uint32_t privateSize, std::uint8_t* publicKey,
                                 std::uint32_t publicSize);
int SignHashDSTU4145SizedCtx(const Library& lib, Context* c, std::uint32_t hashLength, const std::uint8_t* hash,
                             std::uint8_t* record, std::uint32_t size, const std::uint8_t* privateKey,
                             std::uint32_t privateSize, std::uint8_t* signature, std::uint32_t signatureSize);
int VerifySignatureDSTU4145Sized(const Library& lib, std::uint32_t hashLength, const std::uint8_t* hash,
                                 std::uint8_t* record, std::uint32_t size, const std::uint8_t* publicKey,
                                 std::uint32_t publicSize, const std::uint8_t* signature, std::uint32_t signatureSize);

}  // namespace cspcalls

#endif
