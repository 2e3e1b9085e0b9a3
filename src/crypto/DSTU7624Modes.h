// DSTU 7624:2014 context, parameters and modes of operation.
//
// Results: 1 success, 0 failure (no reason given). Data operations take the
// data first and the context last. Bit strings start at the most significant
// bit of their first byte; 64-bit bit lengths cross the interface as two
// 32-bit halves, low half first (CRYPTO_BIT_LENGTH).
#ifndef QVK_CRYPTO_DSTU7624MODES_H
#define QVK_CRYPTO_DSTU7624MODES_H

#include <stdint.h>

#include "crypto/CryptoTypes.h"
#include "crypto/DSTU7624.h"

#ifdef __cplusplus
extern "C" {
#endif

// Parameter types of DSTU7624SetParameter / DSTU7624GetParameter.
enum {
    DSTU7624_SBOXES = 1,
    DSTU7624_BLOCK_BITS = 2,
    DSTU7624_KEY_BITS = 3,
    DSTU7624_KEY = 4,
    DSTU7624_IV = 5,
    DSTU7624_MAC_BITS = 6,
    DSTU7624_MAC = 7,
    DSTU7624_ROUND_KEYS = 8,
    DSTU7624_DECRYPTION_ROUND_KEYS = 9,
    DSTU7624_CONTEXT_SIZE = 10,
    DSTU7624_CONTEXT = 11,
    DSTU7624_COUNTER_OFFSET = 12
};

// Context flags: what has been set.
enum {
    DSTU7624_FLAG_SBOXES = 0x01,
    DSTU7624_FLAG_BLOCK_SIZE = 0x02,
    DSTU7624_FLAG_KEY_SIZE = 0x04,
    DSTU7624_FLAG_KEY = 0x08,
    DSTU7624_FLAG_IV = 0x10,
    DSTU7624_FLAG_MAC_BITS = 0x20,
    DSTU7624_FLAG_MAC_READY = 0x40,
    DSTU7624_FLAG_EXPECTED_MAC = 0x80
};

// Which kind of mode made the MAC held in a context.
enum { DSTU7624_MAC_MODE_GMAC = 0, DSTU7624_MAC_MODE_CMAC = 1 };

// The record; its export image (type 11) is the record itself, field order
// kept, with the four function fields pointer-sized.
typedef struct DSTU7624Context {
    uint32_t flags;
    uint32_t blockWords;
    uint32_t keyWords;
    uint32_t roundKeyCount;
    uint32_t decryptionRoundKeyCount;
    uint32_t gammaBitsLeft;
    uint32_t macBits;
    uint32_t macMode;
    uint64_t key[8];
    uint64_t keyReserved[4];
    uint64_t roundKeys[152];
    uint64_t decryptionRoundKeys[152];
    uint64_t iv[8];
    uint64_t gamma[8];
    uint64_t mac[8];
    uint8_t expectedMac[64];
    DSTU7624ExpandKeyFunction expandKey;
    DSTU7624InvertKeysFunction invertKeys;
    DSTU7624BlockFunction encryptBlock;
    DSTU7624BlockFunction decryptBlock;
    uint8_t sBoxes[1024];
    uint8_t inverseSBoxes[1024];
    uint64_t tTables[8 * 256];
    uint64_t inverseTTables[8 * 256];
    uint8_t reserved[48];
} DSTU7624Context;

// One block/key size pair and the functions that serve it.
typedef struct DSTU7624Variant {
    uint32_t blockWords;
    uint32_t keyWords;
    uint32_t rounds;
    uint32_t roundKeyCount;
    DSTU7624ExpandKeyFunction expandKey;
    DSTU7624InvertKeysFunction invertKeys;
    DSTU7624BlockFunction encryptBlock;
    DSTU7624BlockFunction decryptBlock;
} DSTU7624Variant;

extern const DSTU7624Variant DSTU7624Variants[5];

// ---- context and parameters ----
DSTU7624Context* DSTU7624CreateContext(void);
void DSTU7624FreeContext(DSTU7624Context* context);
int DSTU7624SetParameter(DSTU7624Context* context, const void* value, uint32_t type);
int DSTU7624GetParameter(DSTU7624Context* context, void* out, uint32_t type);
DSTU7624ExpandKeyFunction DSTU7624SelectKeyExpansion(DSTU7624Context* context);
DSTU7624InvertKeysFunction DSTU7624SelectKeyInversion(DSTU7624Context* context);
DSTU7624BlockFunction DSTU7624SelectBlockEncryption(DSTU7624Context* context);
DSTU7624BlockFunction DSTU7624SelectBlockDecryption(DSTU7624Context* context);

// ---- ECB and CMAC ----
int DSTU7624EncryptECB(uint8_t* data, uint32_t blocks, DSTU7624Context* context);
int DSTU7624DecryptECB(uint8_t* data, uint32_t blocks, DSTU7624Context* context);
int DSTU7624ComputeCMAC(const uint8_t* data, CRYPTO_BIT_LENGTH(bits), DSTU7624Context* context);
int DSTU7624VerifyCMAC(const uint8_t* data, CRYPTO_BIT_LENGTH(bits), DSTU7624Context* context);
void DSTU7624PadBlock(uint8_t* buffer, uint64_t bits, uint32_t blockWords);

// ---- CTR, CFB, OFB ----
int DSTU7624EncryptCTR(uint8_t* data, CRYPTO_BIT_LENGTH(bits), DSTU7624Context* context);
int DSTU7624DecryptCTR(uint8_t* data, CRYPTO_BIT_LENGTH(bits), DSTU7624Context* context);
int DSTU7624EncryptCFB(uint8_t* data, CRYPTO_BIT_LENGTH(bits), uint32_t feedbackBits, DSTU7624Context* context);
int DSTU7624DecryptCFB(uint8_t* data, CRYPTO_BIT_LENGTH(bits), uint32_t feedbackBits, DSTU7624Context* context);
int DSTU7624EncryptOFB(uint8_t* data, CRYPTO_BIT_LENGTH(bits), DSTU7624Context* context);
int DSTU7624DecryptOFB(uint8_t* data, CRYPTO_BIT_LENGTH(bits), DSTU7624Context* context);
// Copies source bits total-count .. total-1 to destination bits 0..count-1.
// Writes exactly (count + 7) / 8 bytes (spare low bits of the last cleared)
// and reads no byte past (total + 7) / 8.
void DSTU7624ExtractTrailingBits(const uint8_t* source, uint64_t totalBits, uint8_t* destination, uint32_t count);

// ---- CBC and key wrap ----
int DSTU7624EncryptCBC(uint8_t* data, CRYPTO_BIT_LENGTH(bits), CRYPTO_BIT_LENGTH(paddedBits), DSTU7624Context* context);
int DSTU7624DecryptCBC(uint8_t* data, CRYPTO_BIT_LENGTH(bits), int removePadding, CryptoBitLength* resultBits,
                       DSTU7624Context* context);
int DSTU7624RemovePadding(uint8_t* data, uint64_t totalBits, uint64_t* position, uint32_t blockWords);
int DSTU7624WrapKey(uint8_t* data, CRYPTO_BIT_LENGTH(bits), CRYPTO_BIT_LENGTH(wrappedBits), DSTU7624Context* context);
int DSTU7624UnwrapKey(uint8_t* data, CRYPTO_BIT_LENGTH(bits), int removePadding, CryptoBitLength* resultBits,
                      DSTU7624Context* context);

// ---- GMAC, GCM, CCM ----
int DSTU7624EncryptGCM(uint8_t* data, CRYPTO_BIT_LENGTH(dataBits), const uint8_t* associatedData,
                       CRYPTO_BIT_LENGTH(associatedBits), DSTU7624Context* context);
int DSTU7624DecryptGCM(uint8_t* data, CRYPTO_BIT_LENGTH(dataBits), const uint8_t* associatedData,
                       CRYPTO_BIT_LENGTH(associatedBits), DSTU7624Context* context);
int DSTU7624ComputeGMAC(const uint8_t* data, CRYPTO_BIT_LENGTH(bits), DSTU7624Context* context);
int DSTU7624VerifyGMAC(const uint8_t* data, CRYPTO_BIT_LENGTH(bits), DSTU7624Context* context);
int DSTU7624EncryptCCM(uint8_t* buffer, uint32_t plainBytes, uint32_t bufferBytes, const uint8_t* associatedData,
                       uint32_t associatedBytes, uint32_t lengthFieldBytes, DSTU7624Context* context);
int DSTU7624DecryptCCM(uint8_t* buffer, uint32_t bufferBytes, const uint8_t* associatedData, uint32_t associatedBytes,
                       uint32_t lengthFieldBytes, DSTU7624Context* context);
void DSTU7624ComputeGCMTag(const uint8_t* data, CRYPTO_BIT_LENGTH(dataBits), const uint8_t* associatedData,
                           CRYPTO_BIT_LENGTH(associatedBits), DSTU7624Context* context);
void DSTU7624CBCMAC(const uint8_t* data, uint32_t dataBytes, const uint8_t* associatedData, uint32_t associatedBytes,
                    uint32_t lengthFieldBytes, DSTU7624Context* context);
void DSTU7624GHash(const uint8_t* data, CRYPTO_BIT_LENGTH(bits), const uint64_t* hashKey, uint64_t* accumulator,
                   uint32_t words);
void DSTU7624MultiplyGF(const uint64_t* a, const uint64_t* b, uint32_t words, uint64_t* out);
void DSTU7624ShiftLeft(uint64_t* value, uint32_t words);

// ---- XTS ----
int DSTU7624EncryptXTS(uint8_t* data, CRYPTO_BIT_LENGTH(bits), DSTU7624Context* context);
int DSTU7624DecryptXTS(uint8_t* data, CRYPTO_BIT_LENGTH(bits), DSTU7624Context* context);
void DSTU7624MultiplyTweak(uint64_t* value, uint32_t words);
void DSTU7624ClearLeadingBits(uint8_t* buffer, CRYPTO_BIT_LENGTH(bits));

// ---- known-answer self-tests (1 pass, 0 fail) ----
extern const uint32_t DSTU7624TestBlockBits[5];
extern const uint32_t DSTU7624TestKeyBits[5];
extern const uint8_t DSTU7624TestKey[64];
int DSTU7624TestKeySchedule(void);
int DSTU7624TestCBC(int variant);
int DSTU7624TestKeyWrap(int variant);
int DSTU7624TestModes(void);

#ifdef __cplusplus
}

namespace qvkcrypto {
// For tests only: while true, the self-tests above run the cipher with a
// damaged S-box, so a test can see each of them fail. Not exported.
extern bool dstu7624SelfTestsBreakCipher;
}  // namespace qvkcrypto
#endif

#endif
