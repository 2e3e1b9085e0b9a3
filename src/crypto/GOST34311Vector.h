// Vector forms of two parts of the GOST 34.311-95 step: the key generation
// and the psi mixing. Used only when VectorPathAvailable() (CpuFeatures.h);
// results equal those of the portable code.
#pragma once

#include <cstdint>

namespace qvkcrypto {

// The four 256-bit keys of a step from H and M (32 bytes each); U, V and W
// get their values after the last key, as the portable code leaves them.
void GOST34311KeysVector(const uint8_t* H, const uint8_t* M, uint32_t (*keys)[8], uint8_t* U, uint8_t* V, uint8_t* W);

// H := psi^61(H xor psi(M xor psi^12(S))), as one linear map of H, M and S.
void GOST34311MixPsiVector(uint8_t* H, const uint8_t* M, const uint8_t* S);

}  // namespace qvkcrypto
