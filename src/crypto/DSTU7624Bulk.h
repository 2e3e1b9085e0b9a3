// DSTU 7624 over many independent blocks at once, for the modes that have
// them (ECB, counter mode, CBC decryption, XTS). Used only when the processor has
// the vector features (CpuFeatures.h) and the context runs the standard
// block functions; the results equal those of the block functions.
//
// A batch is 256 bytes: 16, 8 or 4 blocks of 128, 256 or 512 bits. Each call
// returns how many blocks it did: whole batches from the start, 0 when the
// vector path is off. The caller does the rest with the block functions.
#pragma once

#include <cstdint>

#include "crypto/DSTU7624Modes.h"

namespace qvkcrypto {

inline uint64_t DSTU7624BatchBlocks(uint32_t blockWords)
{
    return 32 / blockWords;
}

// Whether the bulk functions serve this context's variant and functions.
bool DSTU7624BulkUsable(const DSTU7624Context* ctx, bool decrypting);

uint64_t DSTU7624BulkEncrypt(const DSTU7624Context* ctx, uint8_t* data, uint64_t blocks);
uint64_t DSTU7624BulkDecrypt(const DSTU7624Context* ctx, uint8_t* data, uint64_t blocks);

// Counter gamma: before each block the counter (blockWords words) steps by
// one in its low half, carries staying there; the block is XORed with the
// encrypted counter.
uint64_t DSTU7624BulkCounter(const DSTU7624Context* ctx, uint8_t* data, uint64_t blocks, uint64_t* counter);

// XTS, vector path only: for each of `blocks` blocks, t := t * x (modulo the
// block size's polynomial, reduced by `constant`), the block xored with t and
// t kept in `mask` (blocks * blockWords words) for the second xor.
void DSTU7624BulkXtsMask(uint8_t* data, uint64_t* mask, uint64_t blocks, uint64_t* t, uint32_t blockWords,
                         uint64_t constant);
// data ^= mask over `words` 64-bit words; vector path only.
void DSTU7624BulkXor(uint8_t* data, const uint64_t* mask, uint64_t words);

}  // namespace qvkcrypto
