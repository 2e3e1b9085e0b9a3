// Declarations of the DSTU 4145, key-agreement, key-wrap, GOST 28147, GOST
// 34.311 and key-derivation entries of the stand-in cgbase.so, for tests
// that link its objects and call them directly. The provider binds them by
// name instead.
#ifndef QVK_STANDINS_CGLIB_CGDSTUGOSTENTRIES_H
#define QVK_STANDINS_CGLIB_CGDSTUGOSTENTRIES_H

#include <cstdint>

#include "support/DSTU4145Records.h"

extern "C" {
void* DSTU4145AcquireState(int check, int reserved);
int DSTU4145ReleaseState(void* state);
int DSTU4145SetStateParameters(void* state, const void* value, std::uint32_t code);
int DSTU4145GetStateParameters(void* state, void* buffer, std::uint32_t code);
int DSTU4145GenerateParameters(void* state, int mode);
int DSTU4145SignHash(void* state);
int DSTU4145VerifySignature(void* state);
int DSTU4145IsDenseNumbersSupported(void);
int DSTU4145CoupleMakeCommonKeyQ(void* state, const std::uint8_t* firstPublicKey);
int DSTU4145CoupleMakeSignR(void* state, std::uint8_t* r);
int DSTU4145CoupleMakeCommonSignR(void* state, const std::uint8_t* ownR, const std::uint8_t* otherR,
                                  std::uint8_t* commonR);
int DSTU4145CoupleMakeSignS(void* state, const std::uint8_t* commonR, std::uint8_t* s);
int DSTU4145CoupleMakeCommonSignS(void* state, const std::uint8_t* ownS, const std::uint8_t* otherS,
                                  std::uint8_t* commonS);
int DSTU4145CoupleMakeCommonSign(void* state, const std::uint8_t* commonR, const std::uint8_t* commonS);

int ECDHCalculateSharedKey(const DSTU4145FieldRecord* field, const DSTU4145PointRecord* point,
                           const std::uint8_t* privateKey, const std::uint8_t* peerKey, const std::uint8_t* ukm,
                           const std::uint8_t* sBox, const void* reserved, std::uint8_t* sharedKey);
int ECDHUACalculateSharedKey(const DSTU4145FieldRecord* field, const DSTU4145PointRecord* point,
                             const std::uint8_t* privateKey, const std::uint8_t* peerKey, int flag,
                             const std::uint8_t* ukm, std::uint32_t ukmLength, const void* reserved1,
                             const void* reserved2, std::uint8_t* sharedKey);
int ECDHKDFDSTU7564CalculateSharedKey(const DSTU4145FieldRecord* field, const DSTU4145PointRecord* point,
                                      const std::uint8_t* privateKey, const std::uint8_t* peerKey, int flag,
                                      const std::uint8_t* data, std::uint32_t dataLength, const void* reserved,
                                      std::uint32_t bits, std::uint8_t* sharedKey, std::uint32_t outSize);
int ECDHKDFDSTU7564CalculateDenseSharedKey(const std::uint8_t* record, std::uint32_t recordSize,
                                           const std::uint8_t* privateKey, std::uint32_t privateSize,
                                           const std::uint8_t* peerKey, std::uint32_t peerSize,
                                           const std::uint8_t* data, std::uint32_t dataLength, const void* reserved,
                                           std::uint32_t bits, std::uint8_t* sharedKey, std::uint32_t outSize);
int GOST28147WrapSharedKey(const std::uint8_t* sharedKey, const void* sBox, const std::uint8_t* key, const void* fixedU,
                           void* prng, std::uint8_t* wrapped);
int GOST28147UnwrapSharedKey(const std::uint8_t* sharedKey, const void* sBox, const std::uint8_t* wrapped,
                             std::uint8_t* key);
int DSTU7624WrapSharedKey(const std::uint8_t* sharedKey, std::uint32_t sharedSize, const void* reserved1,
                          const std::uint8_t* key, const void* fixedV, const void* reserved2, std::uint32_t keyLength,
                          void* prng, std::uint8_t* wrapped, void* wrappedLength);
int DSTU7624UnwrapSharedKey(const std::uint8_t* sharedKey, std::uint32_t sharedSize, const void* reserved1,
                            const std::uint8_t* wrapped, const void* reserved2, std::uint8_t* key, void* keyLength);

void* GOST28147AcquireState(void);
int GOST28147ReleaseState(void* state);
int GOST28147SetStateParameters(void* state, const void* value, std::uint32_t code);
int GOST28147GetStateParameters(void* state, void* buffer, std::uint32_t code);
int GOST28147EncryptDataSSMode(std::uint8_t* data, std::uint32_t blocks, void* state);
int GOST28147DecryptDataSSMode(std::uint8_t* data, std::uint32_t blocks, void* state);
int GOST28147EncryptDataGMode(std::uint8_t* data, std::uint32_t length, void* state);
int GOST28147EncryptDataGOFBMode(std::uint8_t* data, std::uint32_t length, void* state);
int GOST28147DecryptDataGOFBMode(std::uint8_t* data, std::uint32_t length, void* state);
int GOST28147GetDataMAC(const std::uint8_t* data, std::uint32_t length, void* state);

void* GOST34311AcquireState(void);
int GOST34311ReleaseState(void* state);
int GOST34311SetStateParameters(void* state, const void* value, std::uint32_t code);
int GOST34311GetStateParameters(void* state, void* buffer, std::uint32_t code);
int GOST34311HashData(const std::uint8_t* data, std::uint32_t length, void* state);
int GOST34311FinalizeHash(std::uint32_t bits, void* state);
void* GOST34311HMACAcquireState(void);
int GOST34311HMACReleaseState(void* state);
int GOST34311HMACSetStateParameters(void* state, const void* value, std::uint32_t code);
int GOST34311HMACGetStateParameters(void* state, void* buffer, std::uint32_t code);
int GOST34311HMACUpdateData(const std::uint8_t* data, std::uint32_t length, void* state);
int GOST34311HMACFinalizeDataMac(void* state);
int PBKDF2DeriveKey(const void* password, std::uint32_t passwordLength, const std::uint8_t* salt,
                    std::uint32_t saltLength, std::uint32_t iterations, std::uint8_t* key, std::uint32_t keyLength,
                    const void* sBox);
}

#endif
