// Which multi-block paths of the ciphers and hashes this process may use.
// Decided once, from the processor's features; setting the environment
// variable QVK_CRYPTO_PORTABLE to anything but "0" or "" keeps every mode on
// the portable table code (for tests and for comparing speeds).
#pragma once

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

} // namespace qvkcrypto
