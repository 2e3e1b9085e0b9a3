// Which multi-block paths of the ciphers and hashes this process may use.
// Decided once, from the processor's features; setting the environment
// variable QVK_CRYPTO_PORTABLE to anything but "0" or "" keeps every mode on
// the portable table code (for tests and for comparing speeds).
#pragma once

// The target of the vector code: named per function, never for a whole file
// or library, so the rest runs on any x86-64.
#define QVK_VECTOR_TARGET __attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi,gfni")))
#define QVK_VECTOR_INLINE QVK_VECTOR_TARGET inline __attribute__((always_inline))

namespace qvkcrypto {

// AVX-512 F/BW/VL with VBMI (byte permutes over two registers) and GFNI
// (multiplication in GF(2^8) as an affine map), with the OS saving the
// 512-bit state.
bool VectorPathAvailable();

// The processor has those features, whatever the environment says.
bool ProcessorHasVectorFeatures();

// For tests: turn the vector paths off, or back on where the processor has
// them. Returns whether they are now on.
bool UseVectorPath(bool on);

// Zeroes every vector register (zmm0-31): the end of a bulk call that held
// round keys in them. Only where VectorPathAvailable() said yes.
void ClearVectorRegisters();

// Zeroes the stack just below the caller: where the vector kernels it has
// called kept their frames (spilled registers hold data and round keys;
// unoptimised builds spill everything). Call at the end of a bulk call.
void ScrubStack();
// The same over 1 KiB, after the small kernels of a hash step.
void ScrubStackSmall();

}  // namespace qvkcrypto
