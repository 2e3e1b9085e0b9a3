// GOST 28147-89 over many independent blocks at once (simple replacement,
// counter gamma, and the four key encryptions of a GOST 34.311 step). Used
// only when the processor has the vector features (CpuFeatures.h); results
// equal those of the table code.
#pragma once

#include <cstdint>

#include "crypto/GOST28147.h"

namespace qvkcrypto {

// Blocks a bulk call does at a time; calls return how many they did (whole
// groups from the start, 0 when the vector path is off).
constexpr uint32_t kGOST28147BulkBlocks = 16;

uint32_t GOST28147BulkECB(uint8_t* data, uint32_t blocks, const uint32_t* key, const GOST28147ExpandedSBox* sBox,
                          bool decrypting);

// Counter gamma over whole blocks: before each block (N3, N4) steps as the
// mode says; the block is XORed with the encrypted counters. n3/n4 end as
// the last counters used.
uint32_t GOST28147BulkCounter(uint8_t* data, uint32_t blocks, const uint32_t* key, const GOST28147ExpandedSBox* sBox,
                              uint32_t& n3, uint32_t& n4);

}  // namespace qvkcrypto
