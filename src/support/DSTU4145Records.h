// The curve form of DSTU 4145 parameter sets as the support layer, the device
// protocol, the key-media library and the crypto service provider pass them:
// two records of 32-bit words. Multi-word numbers are little-endian by word
// (least significant word first); words above a number's length are zero.
#ifndef QVK_SUPPORT_DSTU4145RECORDS_H
#define QVK_SUPPORT_DSTU4145RECORDS_H

#include <cstddef>
#include <cstdint>

enum : std::size_t {
    DSTU4145_NUMBER_WORDS = 19,  // up to 608 bits per number
    // A number as bytes, least significant first: a private key, a
    // compressed public key, a signature half.
    DSTU4145_NUMBER_BYTES = 4 * DSTU4145_NUMBER_WORDS,  // 76

    DSTU4145_FIELD_WORDS = 25,
    DSTU4145_FIELD_A = 0,   // coefficient A (0 or 1)
    DSTU4145_FIELD_B = 1,   // words 1..19: coefficient B
    DSTU4145_FIELD_M = 20,  // degree of GF(2^m)
    DSTU4145_FIELD_K = 21,  // exponents of x^m + x^k + x^j + x^l + 1
    DSTU4145_FIELD_J = 22,
    DSTU4145_FIELD_L = 23,
    DSTU4145_FIELD_COFACTOR = 24,  // 2 or 4 in the polynomial-basis records, 0 in the normal-basis ones

    DSTU4145_POINT_WORDS = 39,
    DSTU4145_POINT_P = 0,     // words 0..18: base point, compressed
    DSTU4145_POINT_N = 19,    // words 19..37: order n of the base point
    DSTU4145_POINT_BITS = 38  // bit length of n
};

struct DSTU4145FieldRecord {
    std::uint32_t words[DSTU4145_FIELD_WORDS];
};

struct DSTU4145PointRecord {
    std::uint32_t words[DSTU4145_POINT_WORDS];
};

static_assert(sizeof(DSTU4145FieldRecord) == 100, "field record is 25 words");
static_assert(sizeof(DSTU4145PointRecord) == 156, "point record is 39 words");

#endif
