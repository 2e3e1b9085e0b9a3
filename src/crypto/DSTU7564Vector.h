// DSTU 7564 compression of whole blocks with AVX-512 VBMI and GFNI: P's state
// of 8 columns is one 64-byte register, Q runs byte-sliced over batches of
// blocks beside it. Used only when VectorPathAvailable() (CpuFeatures.h) and
// the context runs the standard compression functions; results equal theirs.
#pragma once

#include <cstdint>

#include "crypto/DSTU7564.h"

namespace qvkcrypto {

// Compresses `blocks` consecutive blocks (at any address) into the state;
// false (nothing done) when the vector path does not serve this context.
bool DSTU7564CompressVector(const DSTU7564Context* c, const uint8_t* data, uint64_t blocks, uint8_t* state);

}  // namespace qvkcrypto
