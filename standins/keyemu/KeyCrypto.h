// The key's symmetric primitives, over the project's cipher and hash modules.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace keyemu::kc {

// The default GOST 28147 S-box (the DKE No. 1 table) in packed form.
extern const uint8_t kDefaultSBox[64];

// GOST 28147-89 simple replacement of `blocks` 8-byte blocks in place.
bool GostEcb(const uint8_t key[32], const uint8_t sbox[64], uint8_t* data, size_t blocks, bool encrypt);
// GOST 28147-89 MAC (zero start register) of `length` bytes.
bool GostMac(const uint8_t key[32], const uint8_t sbox[64], const uint8_t* data, size_t length, uint32_t* mac);

// DSTU 7624 with a 256-bit block and key, ECB, `blocks` 32-byte blocks in place.
bool DstuEcb(const uint8_t key[32], uint8_t* data, size_t blocks, bool encrypt);
// DSTU 7624 (256/256) CMAC of the first `bits` bits, cut to `macBytes` (8 or 32).
bool DstuCmac(const uint8_t key[32], const uint8_t* data, size_t bits, size_t macBytes, uint8_t* mac);

// One hashing: GOST 34.311-95 (default S-box, zero start vector) and DSTU 7564-256.
bool HashGost(const uint8_t* data, size_t length, uint8_t out[32]);
bool HashDstu(const uint8_t* data, size_t length, uint8_t out[32]);

// The login value V = H^10000(password) of each scheme.
bool LoginValueOld(const std::string& password, uint8_t out[32]);
bool LoginValueNew(const std::string& password, uint8_t out[32]);

// Random bytes from the key's generator.
bool Random(uint8_t* out, size_t length);

// Overwrites memory in a way the compiler keeps.
void Wipe(void* p, size_t n);

}  // namespace keyemu::kc
