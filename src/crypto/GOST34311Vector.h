// Vector forms of the GOST 34.311-95 step and of its psi mixing. Used only
// when VectorPathAvailable() (CpuFeatures.h); results equal those of the
// portable code.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/GOST34311.h"

namespace qvkcrypto {

// H := psi^61(H xor psi(M xor psi^12(S))), as one linear map of H, M and S.
void GOST34311MixPsiVector(uint8_t* H, const uint8_t* M, const uint8_t* S);

// count steps of the hash: H := step(H, block) over the 32-byte blocks in
// turn, all in registers; each block is also added to the 256-bit checksum
// unless checksum is null. U, V, W, S and stepKeys of the context end as
// the portable steps leave them. The caller clears the vector registers and
// the stack afterwards.
void GOST34311StepsVector(GOST34311Context* context, uint8_t* H, const uint8_t* blocks, size_t count,
                          uint8_t* checksum);

}  // namespace qvkcrypto
