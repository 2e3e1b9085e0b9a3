// DSTU 7564:2014 hash: a heap context with bit-granular input, outputs of 0
// to 512 bits in steps of 8 (a 512-bit state with 10 rounds up to 256 bits, a
// 1024-bit state with 14 rounds above), and the two compression functions
// through which the context does all its per-block work.
//
// State, blocks and table entries are little-endian 64-bit column words:
// byte 8j + i is row i of column j. Message bits are taken from each byte
// most significant bit first.
#ifndef QVK_CRYPTO_DSTU7564_H
#define QVK_CRYPTO_DSTU7564_H

#include <stdint.h>

#include "crypto/CryptoTypes.h"

#ifdef __cplusplus
extern "C" {
#endif

enum {
    DSTU7564_FLAG_SBOXES = 0x01,
    DSTU7564_FLAG_HASH_BITS = 0x02,  // hash length set, state initialised
    DSTU7564_FLAG_FINISHED = 0x04
};

// Parameter codes.
enum {
    DSTU7564_SBOXES = 1,        // set: 1,024 bytes, the four S-boxes (T-tables rebuilt)
    DSTU7564_HASH_BITS = 2,     // set/get: uint32_t hash length in bits; setting restarts
    DSTU7564_HASH = 3,          // get: the hash value, hash bits / 8 bytes
    DSTU7564_COMPRESS_TAIL = 4  // set: pad and compress what has been absorbed (value ignored)
};

// (T-tables T0..T7, block of 8 or 16 columns at any address, state in place)
typedef void (*DSTU7564CompressFunction)(const uint64_t* tTables, const uint8_t* block, uint8_t* state);

typedef struct DSTU7564Context {
    uint32_t flags;                     // DSTU7564_FLAG_*
    uint32_t columns;                   // 8 or 16; 0 until the hash length is set
    uint32_t hashBits;                  // 0..512, a multiple of 8
    uint32_t bufferedBits;              // bits in blockBuffer, less than a block
    uint32_t totalBits[4];              // 128-bit, least significant word first
    uint32_t lengthField[4];            // the count the next padding appends (low 96 bits)
    uint8_t blockBuffer[128];           // the incomplete block; unused bits zero
    uint8_t state[128];                 // chaining value, `columns` words used
    DSTU7564CompressFunction compress;  // for the state size; empty until the length is set
    uint8_t sBoxes[1024];               // pi0..pi3 by default
    uint64_t tTables[8 * 256];          // made from sBoxes
} DSTU7564Context;

// A new context with the default S-boxes and T-tables and no hash length, or
// null when memory runs out.
DSTU7564Context* DSTU7564CreateContext(void);
// Overwrites the whole record with zeros and releases it; null is ignored.
void DSTU7564FreeContext(DSTU7564Context* context);

int DSTU7564SetParameter(DSTU7564Context* context, const void* value, uint32_t type);
int DSTU7564GetParameter(DSTU7564Context* context, void* value, uint32_t type);

// Absorbs the first `length` bits of data.
int DSTU7564UpdateHash(const void* data, CRYPTO_BIT_LENGTH(length), DSTU7564Context* context);
// Pads, compresses the tail and applies the output transformation.
int DSTU7564FinishHash(DSTU7564Context* context);
// Pads what has been absorbed since the last reset or tail and compresses it,
// without the output transformation.
int DSTU7564CompressTail(DSTU7564Context* context);

// Known-answer self-test over the standard's examples; 1 when all match.
int DSTU7564RunTestVectors(void);

// f(h, m) = P(h xor m) xor Q(m) xor h for the 512-bit and the 1024-bit state.
void DSTU7564Compress512(const uint64_t* tTables, const uint8_t* block, uint8_t* state);
void DSTU7564Compress1024(const uint64_t* tTables, const uint8_t* block, uint8_t* state);

#ifdef __cplusplus
}
#endif

#endif
