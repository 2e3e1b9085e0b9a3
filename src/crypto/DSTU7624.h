// DSTU 7624:2014 key schedules and single-block functions, one set per
// block/key variant. The context of DSTU7624Modes selects them by variant;
// nothing here checks its arguments.
#ifndef QVK_CRYPTO_DSTU7624_H
#define QVK_CRYPTO_DSTU7624_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// (T-tables, key words, round keys out)
typedef void (*DSTU7624ExpandKeyFunction)(const uint64_t* tTables, const uint64_t* key, uint64_t* roundKeys);
// (round keys, decryption round keys out)
typedef void (*DSTU7624InvertKeysFunction)(const uint64_t* roundKeys, uint64_t* decryptionRoundKeys);
// (S-boxes or inverse S-boxes, T-tables or inverse T-tables, block in place, keys)
typedef uint8_t* (*DSTU7624BlockFunction)(const uint8_t* sBoxes, const uint64_t* tables, uint8_t* block,
                                          const uint64_t* keys);

void DSTU7624ExpandKey128x128(const uint64_t* tTables, const uint64_t* key, uint64_t* roundKeys);
void DSTU7624ExpandKey128x256(const uint64_t* tTables, const uint64_t* key, uint64_t* roundKeys);
void DSTU7624ExpandKey256x256(const uint64_t* tTables, const uint64_t* key, uint64_t* roundKeys);
void DSTU7624ExpandKey256x512(const uint64_t* tTables, const uint64_t* key, uint64_t* roundKeys);
void DSTU7624ExpandKey512x512(const uint64_t* tTables, const uint64_t* key, uint64_t* roundKeys);

void DSTU7624InvertKeys128x128(const uint64_t* roundKeys, uint64_t* decryptionRoundKeys);
void DSTU7624InvertKeys128x256(const uint64_t* roundKeys, uint64_t* decryptionRoundKeys);
void DSTU7624InvertKeys256x256(const uint64_t* roundKeys, uint64_t* decryptionRoundKeys);
void DSTU7624InvertKeys256x512(const uint64_t* roundKeys, uint64_t* decryptionRoundKeys);
void DSTU7624InvertKeys512x512(const uint64_t* roundKeys, uint64_t* decryptionRoundKeys);

uint8_t* DSTU7624EncryptBlock128x128(const uint8_t* sBoxes, const uint64_t* tTables, uint8_t* block,
                                     const uint64_t* roundKeys);
uint8_t* DSTU7624EncryptBlock128x256(const uint8_t* sBoxes, const uint64_t* tTables, uint8_t* block,
                                     const uint64_t* roundKeys);
uint8_t* DSTU7624EncryptBlock256x256(const uint8_t* sBoxes, const uint64_t* tTables, uint8_t* block,
                                     const uint64_t* roundKeys);
uint8_t* DSTU7624EncryptBlock256x512(const uint8_t* sBoxes, const uint64_t* tTables, uint8_t* block,
                                     const uint64_t* roundKeys);
uint8_t* DSTU7624EncryptBlock512x512(const uint8_t* sBoxes, const uint64_t* tTables, uint8_t* block,
                                     const uint64_t* roundKeys);

uint8_t* DSTU7624DecryptBlock128x128(const uint8_t* inverseSBoxes, const uint64_t* inverseTTables, uint8_t* block,
                                     const uint64_t* decryptionRoundKeys);
uint8_t* DSTU7624DecryptBlock128x256(const uint8_t* inverseSBoxes, const uint64_t* inverseTTables, uint8_t* block,
                                     const uint64_t* decryptionRoundKeys);
uint8_t* DSTU7624DecryptBlock256x256(const uint8_t* inverseSBoxes, const uint64_t* inverseTTables, uint8_t* block,
                                     const uint64_t* decryptionRoundKeys);
uint8_t* DSTU7624DecryptBlock256x512(const uint8_t* inverseSBoxes, const uint64_t* inverseTTables, uint8_t* block,
                                     const uint64_t* decryptionRoundKeys);
uint8_t* DSTU7624DecryptBlock512x512(const uint8_t* inverseSBoxes, const uint64_t* inverseTTables, uint8_t* block,
                                     const uint64_t* decryptionRoundKeys);

#ifdef __cplusplus
}
#endif

#endif
