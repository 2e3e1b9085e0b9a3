// Lookup tables shared by DSTU 7624 (block cipher) and DSTU 7564 (hash):
// the four S-boxes pi0..pi3, the MDS mixing in table form, and builders that
// make the same tables from caller-supplied S-boxes.
//
// A 64-bit table entry is one state column: byte r (bits 8r..8r+7) is row r.
// Each 64-bit table set is eight tables of 256 entries, table 0 first.
#ifndef QVK_CRYPTO_DSTUCIPHERSTABLES_H
#define QVK_CRYPTO_DSTUCIPHERSTABLES_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum {
    DSTU_SBOXES_BYTES = 4 * 256,   // pi0, pi1, pi2, pi3
    DSTU_TABLE_ENTRIES = 8 * 256,  // T0..T7 (or IT, IM)
    DSTU_TABLES_BYTES = 8 * 256 * 8
};

// pi_j in bytes 256j..256j+255.
extern const uint8_t DSTUDefaultSBoxes[DSTU_SBOXES_BYTES];
extern const uint8_t DSTUDefaultInverseSBoxes[DSTU_SBOXES_BYTES];
// T_b[x]: row b after its S-box, mixed: byte r = pi_(b mod 4)(x) * v((b - r) mod 8).
extern const uint64_t DSTUDefaultTTables[DSTU_TABLE_ENTRIES];
// IT_b[y] = IM_b[pi_(b mod 4)^-1(y)].
extern const uint64_t DSTUDefaultInverseTTables[DSTU_TABLE_ENTRIES];
// IM_b[x]: byte r = x * w((b - r) mod 8); independent of the S-boxes.
extern const uint64_t DSTUInverseMDSTables[DSTU_TABLE_ENTRIES];
// Byte m holds v((m + 1) mod 8) / w((m + 1) mod 8).
extern const uint8_t DSTUMDSRow[8];
extern const uint8_t DSTUInverseMDSRow[8];

// a * b in GF(2^8) modulo x^8 + x^4 + x^3 + x^2 + 1.
uint8_t DSTUMultiplyGF256(uint8_t a, uint8_t b);

// out byte k = value * row((position + 7 - k) mod 8): one entry of table
// T/IM/IT number `position` (only its low three bits count).
void DSTUMultiplyMDSRow(uint8_t value, const uint8_t* row, uint32_t position, uint64_t* out);

// Tables of one S-box at position j (0..3). inverseSBox may be null; the
// inverse tables are filled only when both are given.
void DSTUBuildSBoxTables(const uint8_t* sBox, uint32_t position, uint8_t* inverseSBox, uint64_t* table,
                         uint64_t* upperTable, uint64_t* inverseTable, uint64_t* upperInverseTable);

// Everything a cipher context derives from its four S-boxes.
void DSTUBuildCipherTables(const uint8_t* sBoxes, uint8_t* inverseSBoxes, uint64_t* tTables, uint64_t* inverseTTables);

// The T-tables of a hash context (no inverse tables).
void DSTUBuildHashTables(const uint8_t* sBoxes, uint64_t* tTables);

#ifdef __cplusplus
}
#endif

#endif
