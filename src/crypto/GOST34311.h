// GOST 34.311-95 hash: 256-bit result over 256-bit blocks, GOST 28147-89 as
// the cipher of its step function, with a settable S-box and start vector.
//
// H, message blocks, the length and the checksum are 32-byte strings read as
// 256-bit numbers whose first byte is the least significant.
#ifndef QVK_CRYPTO_GOST34311_H
#define QVK_CRYPTO_GOST34311_H

#include <stdint.h>

#include "crypto/GOST28147.h"

#ifdef __cplusplus
extern "C" {
#endif

enum {
    GOST34311_FLAG_SBOX = 0x01,
    GOST34311_FLAG_HASH_READY = 0x02,
    // Something has been absorbed since the start vector was set (or since
    // the record was zeroed): an empty update no longer takes a step.
    GOST34311_FLAG_ABSORBED = 0x04
};

// Parameter codes.
enum {
    GOST34311_SBOX = 1,          // set: 64-byte GOST28147PackedSBox
    GOST34311_START_VECTOR = 2,  // set: 32 bytes, or null for zeros; resets the computation
    GOST34311_HASH = 2           // get: the 32-byte hash; needs a finished computation
};

// A record the caller owns; all zeros is a valid empty context.
typedef struct GOST34311Context {
    GOST28147ExpandedSBox expandedSBox;
    uint8_t H[32];           // chaining value; after finish, the hash
    uint32_t bufferedCount;  // bytes in blockBuffer, 0..31
    uint32_t bitLength[8];   // 64-bit bit count (low word first), then zeros: the length block
    uint8_t checksum[32];    // sum modulo 2^256 of the message blocks
    uint8_t U[32];           // step function work area
    uint8_t V[32];
    uint8_t W[32];
    uint8_t S[32];            // the four encryption results
    uint8_t blockBuffer[32];  // bytes beyond bufferedCount are zero
    uint32_t stepKeys[8];     // key of the current encryption inside the step
    uint32_t flags;           // GOST34311_FLAG_*
} GOST34311Context;

// A zeroed heap context, or null.
GOST34311Context* GOST34311CreateContext(void);
// Overwrites the whole record with zeros and releases it; null is ignored.
void GOST34311FreeContext(GOST34311Context* context);

int GOST34311SetParameter(GOST34311Context* context, const void* value, uint32_t type);
int GOST34311GetParameter(GOST34311Context* context, void* value, uint32_t type);

int GOST34311UpdateHash(const void* data, uint32_t length, GOST34311Context* context);
// bits: how many bits of the last byte to take off the length (0 for whole bytes).
int GOST34311FinishHash(uint32_t bits, GOST34311Context* context);

// The step function f(H, M), in place on H (32 bytes each).
void GOST34311Step(uint8_t* H, const uint8_t* M, GOST34311Context* context);
// H := psi^61(H xor psi(M xor psi^12(S))).
void GOST34311MixPsi(uint8_t* H, const uint8_t* M, const uint8_t* S);
// a := (a + b) mod 2^256.
void GOST34311Add256(uint8_t* a, const uint8_t* b);

#ifdef __cplusplus
}
#endif

#endif
