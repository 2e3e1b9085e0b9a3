// GOST 28147-89 block cipher around a caller-held context: packed S-box and
// its expansion into lookup tables, single blocks, simple replacement (ECB),
// the MAC generation mode, and the two gamma modes (counter gamma and gamma
// with feedback).
//
// All 32-bit words are read from and written to bytes little-endian: key byte
// 0 is the least significant byte of K0, block bytes 0..3 are N1.
#ifndef QVK_CRYPTO_GOST28147_H
#define QVK_CRYPTO_GOST28147_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Packed S-box, 64 bytes: four rows of 16 bytes. In row r, byte v holds the
// output of S-box 2r for input v in its low nibble and that of S-box 2r+1 in
// its high nibble; S-box m substitutes bits 4m..4m+3 of the round value.
typedef struct GOST28147PackedSBox {
    uint8_t rows[4][16];
} GOST28147PackedSBox;

// Four tables of 256 words: tables[k][x] is byte x substituted by S-boxes 2k
// (low nibble) and 2k+1 (high nibble), moved to byte k and rotated left by 11.
typedef struct GOST28147ExpandedSBox {
    uint32_t tables[4][256];
} GOST28147ExpandedSBox;

enum {
    GOST28147_FLAG_KEY = 0x01,
    GOST28147_FLAG_SBOX = 0x02,
    GOST28147_FLAG_IV = 0x04,
    GOST28147_FLAG_GAMMA_STARTED = 0x08,
    GOST28147_FLAG_MAC_READY = 0x10
};

// Parameter codes of GOST28147SetParameter / GOST28147GetParameter.
enum {
    GOST28147_KEY = 1,          // set: 32 key bytes
    GOST28147_SBOX = 2,         // set: 64-byte packed S-box
    GOST28147_IV = 3,           // set/get: 8 bytes
    GOST28147_MAC = 4,          // get: 4 bytes, the 32-bit MAC
    GOST28147_GAMMA_OFFSET = 5  // set: unsigned 64-bit byte offset into the counter gamma
};

// A plain value: no pointers, no outside resources. All zeros is the empty
// context (nothing set, MAC register zero, no gamma in progress).
typedef struct GOST28147Context {
    uint32_t key[8];                     // K0..K7
    GOST28147ExpandedSBox expandedSBox;  // from the packed S-box last set
    uint32_t iv[2];                      // the IV as set
    uint32_t gamma[2];                   // N3, N4 (counter gamma) or the feedback block
    uint8_t leftoverCount;               // unused bytes of the last gamma block, 0..7
    uint8_t leftover[7];                 // those bytes, next one first
    uint32_t mac[2];                     // MAC register N1, N2
    uint32_t flags;                      // GOST28147_FLAG_*
} GOST28147Context;

// A new zero-filled context, or null when memory is exhausted.
GOST28147Context* GOST28147CreateContext(void);
// Zero-fills the whole record, then releases it; null is accepted.
void GOST28147FreeContext(GOST28147Context* context);

int GOST28147SetParameter(GOST28147Context* context, const void* value, uint32_t type);
int GOST28147GetParameter(GOST28147Context* context, void* value, uint32_t type);

// packedSBox: 64 bytes (GOST28147PackedSBox).
void GOST28147ExpandSBox(const void* packedSBox, GOST28147ExpandedSBox* table);

// One 8-byte block in place, with the given key words and tables; no context.
void GOST28147EncryptBlock(uint8_t* block, const uint32_t* key, const GOST28147ExpandedSBox* table);
void GOST28147DecryptBlock(uint8_t* block, const uint32_t* key, const GOST28147ExpandedSBox* table);

// Simple replacement over `blocks` consecutive 8-byte blocks in place.
int GOST28147EncryptECB(void* data, uint32_t blocks, GOST28147Context* context);
int GOST28147DecryptECB(void* data, uint32_t blocks, GOST28147Context* context);

// MAC of `length` bytes into the MAC register; read it with GOST28147_MAC.
int GOST28147ComputeMAC(const void* data, uint32_t length, GOST28147Context* context);

// Gamma modes, in place, any length; state carries over between calls until
// the IV is set again. The counter gamma encrypts and decrypts alike.
int GOST28147ApplyCounterGamma(void* data, uint32_t length, GOST28147Context* context);
int GOST28147EncryptCFB(void* data, uint32_t length, GOST28147Context* context);
int GOST28147DecryptCFB(void* data, uint32_t length, GOST28147Context* context);

#ifdef __cplusplus
}
#endif

#endif
