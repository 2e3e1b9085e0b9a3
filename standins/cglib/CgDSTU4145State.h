// The DSTU 4145 library state of the stand-in cgbase.so, shared by its state,
// two-party and key-agreement entries.
//
// Library forms chosen here (the provider passes them through):
//   - private key, public key, one-time value: 76-byte buffers (19 words), the
//     number little-endian in its first bytes (private key and one-time value
//     in ceil(nBits / 8) bytes, public key compressed in (m + 7) / 8 bytes),
//     zeros after;
//   - signature: a 152-byte buffer, r then s in ceil(nBits / 8) bytes each,
//     zeros after (a signature made by the key, packed the same way in its
//     144-byte answer, verifies as it is);
//   - dense parameter record: bytes 0..23 the words m, k, j, l, A and the
//     cofactor, bytes 24..27 the bit length of n (written back by the
//     provider, ignored on reading), then B, n and the compressed base point
//     in (m + 7) / 8 bytes each; dense keys and signatures take the numbers
//     above in exactly the given size (a shorter size holds only a number
//     whose dropped high bytes are zero).
#ifndef QVK_STANDINS_CGLIB_CGDSTU4145STATE_H
#define QVK_STANDINS_CGLIB_CGDSTU4145STATE_H

#include <cstddef>
#include <cstdint>
#include <memory>

#include "dstu4145/DSTU4145.h"

namespace cglib {

enum : std::uint32_t { kDstuSignatureBytes = 152, kDstuMaxHashBytes = 64, kDenseHeaderBytes = 28 };

// A checked curve from the two records; null when the library refuses them.
// With `strict`, the cofactor word must match the curve and word 38 must be 0
// or the bit length of n.
std::unique_ptr<dstu4145::Engine> EngineFromRecords(const std::uint32_t* field, const std::uint32_t* point,
                                                    bool strict);
// A checked curve from a dense record of `size` bytes.
std::unique_ptr<dstu4145::Engine> EngineFromDense(const std::uint8_t* record, std::size_t size);

// Copies a number into `size` bytes: zero-padded, or cut when the dropped
// bytes are zero. False when they are not.
bool PutNumber(const dstu4145::Bytes& value, std::uint8_t* out, std::size_t size);

// x of Z = cofactor * d * Q in (m + 7) / 8 bytes.
bool AgreeX(const dstu4145::Engine& engine, const std::uint8_t* privateKey, std::size_t privateSize,
            const std::uint8_t* peerKey, std::size_t peerSize, dstu4145::Bytes& x);

// DSTU 7564 hash of `bits` (256, 384 or 512) over a || b, into bits / 8 bytes.
bool HashDstu7564(const std::uint8_t* a, std::size_t aLength, const std::uint8_t* b, std::size_t bLength,
                  std::uint32_t bits, std::uint8_t* out);

}  // namespace cglib

#endif
