// DSTU 7624:2014 key schedules and block functions.
//
// A block is a row of little-endian 64-bit columns; byte r of a column is
// state row r. One round (S-boxes, row shifts, column mixing) is eight
// T-table lookups per column. The block functions are written out round by
// round for each variant so that the compiler sees straight-line code with
// constant indices; they do no checks and no allocation.
#include "crypto/DSTU7624.h"

#include <cstring>

#include "crypto/ByteOrder.h"
#include "crypto/DSTUCiphersTables.h"

namespace {

using qvkcrypto::LoadLE64;
using qvkcrypto::StoreLE64;

}  // namespace

// Row r of column w, as a table index.
#define QB(w, r) (static_cast<unsigned>((w) >> (8 * (r))) & 0xFFu)
#define QL(T, r, w) (T)[256 * (r) + QB(w, r)]

// Output column c of one round: rows taken from the columns the row shift
// brings there. Encryption moves row r by floor(r * nb / 8) columns towards
// higher numbers; decryption moves it back.
#define ENC2(T, s, c)                                                                                                  \
    (QL(T, 0, s[c]) ^ QL(T, 1, s[c]) ^ QL(T, 2, s[c]) ^ QL(T, 3, s[c]) ^ QL(T, 4, s[((c) + 1) & 1]) ^                  \
     QL(T, 5, s[((c) + 1) & 1]) ^ QL(T, 6, s[((c) + 1) & 1]) ^ QL(T, 7, s[((c) + 1) & 1]))
#define DEC2(T, s, c) ENC2(T, s, c)
#define ENC4(T, s, c)                                                                                                  \
    (QL(T, 0, s[c]) ^ QL(T, 1, s[c]) ^ QL(T, 2, s[((c) + 3) & 3]) ^ QL(T, 3, s[((c) + 3) & 3]) ^                       \
     QL(T, 4, s[((c) + 2) & 3]) ^ QL(T, 5, s[((c) + 2) & 3]) ^ QL(T, 6, s[((c) + 1) & 3]) ^                            \
     QL(T, 7, s[((c) + 1) & 3]))
#define DEC4(T, s, c)                                                                                                  \
    (QL(T, 0, s[c]) ^ QL(T, 1, s[c]) ^ QL(T, 2, s[((c) + 1) & 3]) ^ QL(T, 3, s[((c) + 1) & 3]) ^                       \
     QL(T, 4, s[((c) + 2) & 3]) ^ QL(T, 5, s[((c) + 2) & 3]) ^ QL(T, 6, s[((c) + 3) & 3]) ^                            \
     QL(T, 7, s[((c) + 3) & 3]))
#define ENC8(T, s, c)                                                                                                  \
    (QL(T, 0, s[c]) ^ QL(T, 1, s[((c) + 7) & 7]) ^ QL(T, 2, s[((c) + 6) & 7]) ^ QL(T, 3, s[((c) + 5) & 7]) ^           \
     QL(T, 4, s[((c) + 4) & 7]) ^ QL(T, 5, s[((c) + 3) & 7]) ^ QL(T, 6, s[((c) + 2) & 7]) ^                            \
     QL(T, 7, s[((c) + 1) & 7]))
#define DEC8(T, s, c)                                                                                                  \
    (QL(T, 0, s[c]) ^ QL(T, 1, s[((c) + 1) & 7]) ^ QL(T, 2, s[((c) + 2) & 7]) ^ QL(T, 3, s[((c) + 3) & 7]) ^           \
     QL(T, 4, s[((c) + 4) & 7]) ^ QL(T, 5, s[((c) + 5) & 7]) ^ QL(T, 6, s[((c) + 6) & 7]) ^                            \
     QL(T, 7, s[((c) + 7) & 7]))

// Inverse mixing of one column, no shift.
#define IMIX(w)                                                                                                        \
    (QL(DSTUInverseMDSTables, 0, w) ^ QL(DSTUInverseMDSTables, 1, w) ^ QL(DSTUInverseMDSTables, 2, w) ^                \
     QL(DSTUInverseMDSTables, 3, w) ^ QL(DSTUInverseMDSTables, 4, w) ^ QL(DSTUInverseMDSTables, 5, w) ^                \
     QL(DSTUInverseMDSTables, 6, w) ^ QL(DSTUInverseMDSTables, 7, w))

// Last decryption step: inverse shift and inverse S-boxes of rows r of the
// columns named, no mixing.
#define ISB(S, r, w) (static_cast<uint64_t>((S)[256 * ((r)&3) + QB(w, r)]) << (8 * (r)))
#define ILAST(S, w0, w1, w2, w3, w4, w5, w6, w7)                                                                       \
    (ISB(S, 0, w0) | ISB(S, 1, w1) | ISB(S, 2, w2) | ISB(S, 3, w3) | ISB(S, 4, w4) | ISB(S, 5, w5) | ISB(S, 6, w6) |   \
     ISB(S, 7, w7))
#define ILAST2(S, s, c)                                                                                                \
    ILAST(S, s[c], s[c], s[c], s[c], s[((c) + 1) & 1], s[((c) + 1) & 1], s[((c) + 1) & 1], s[((c) + 1) & 1])
#define ILAST4(S, s, c)                                                                                                \
    ILAST(S, s[c], s[c], s[((c) + 1) & 3], s[((c) + 1) & 3], s[((c) + 2) & 3], s[((c) + 2) & 3], s[((c) + 3) & 3],     \
          s[((c) + 3) & 3])
#define ILAST8(S, s, c)                                                                                                \
    ILAST(S, s[c], s[((c) + 1) & 7], s[((c) + 2) & 7], s[((c) + 3) & 7], s[((c) + 4) & 7], s[((c) + 5) & 7],           \
          s[((c) + 6) & 7], s[((c) + 7) & 7])

// ---- 128-bit block (2 columns) -------------------------------------------

#define R2(d, s, k)                                                                                                    \
    d[0] = ENC2(T, s, 0) ^ (k)[0];                                                                                     \
    d[1] = ENC2(T, s, 1) ^ (k)[1];
#define R2LAST(d, s, k)                                                                                                \
    d[0] = ENC2(T, s, 0) + (k)[0];                                                                                     \
    d[1] = ENC2(T, s, 1) + (k)[1];
#define IR2(d, s, k)                                                                                                   \
    d[0] = DEC2(T, s, 0) ^ (k)[0];                                                                                     \
    d[1] = DEC2(T, s, 1) ^ (k)[1];

#define ENC_BEGIN2                                                                                                     \
    uint64_t s[2], t[2];                                                                                               \
    s[0] = LoadLE64(block) + k[0];                                                                                     \
    s[1] = LoadLE64(block + 8) + k[1];
#define ENC_END2(nr)                                                                                                   \
    R2LAST(s, t, k + 2 * (nr))                                                                                         \
    StoreLE64(block, s[0]);                                                                                            \
    StoreLE64(block + 8, s[1]);                                                                                        \
    return block;
#define DEC_BEGIN2(nr)                                                                                                 \
    uint64_t s[2], t[2];                                                                                               \
    t[0] = LoadLE64(block) - k[2 * (nr)];                                                                              \
    t[1] = LoadLE64(block + 8) - k[2 * (nr) + 1];                                                                      \
    s[0] = IMIX(t[0]);                                                                                                 \
    s[1] = IMIX(t[1]);
#define DEC_END2                                                                                                       \
    s[0] = ILAST2(S, t, 0) - k[0];                                                                                     \
    s[1] = ILAST2(S, t, 1) - k[1];                                                                                     \
    StoreLE64(block, s[0]);                                                                                            \
    StoreLE64(block + 8, s[1]);                                                                                        \
    return block;

// The unrolled rounds read best as one chain per line.
// clang-format off
extern "C" uint8_t* DSTU7624EncryptBlock128x128(const uint8_t*, const uint64_t* T, uint8_t* block, const uint64_t* k)
{
    ENC_BEGIN2
    R2(t, s, k + 2) R2(s, t, k + 4) R2(t, s, k + 6) R2(s, t, k + 8) R2(t, s, k + 10)
    R2(s, t, k + 12) R2(t, s, k + 14) R2(s, t, k + 16) R2(t, s, k + 18)
    ENC_END2(10)
}

extern "C" uint8_t* DSTU7624EncryptBlock128x256(const uint8_t*, const uint64_t* T, uint8_t* block, const uint64_t* k)
{
    ENC_BEGIN2
    R2(t, s, k + 2) R2(s, t, k + 4) R2(t, s, k + 6) R2(s, t, k + 8) R2(t, s, k + 10)
    R2(s, t, k + 12) R2(t, s, k + 14) R2(s, t, k + 16) R2(t, s, k + 18) R2(s, t, k + 20)
    R2(t, s, k + 22) R2(s, t, k + 24) R2(t, s, k + 26)
    ENC_END2(14)
}

extern "C" uint8_t* DSTU7624DecryptBlock128x128(const uint8_t* S, const uint64_t* T, uint8_t* block, const uint64_t* k)
{
    DEC_BEGIN2(10)
    IR2(t, s, k + 18) IR2(s, t, k + 16) IR2(t, s, k + 14) IR2(s, t, k + 12) IR2(t, s, k + 10)
    IR2(s, t, k + 8) IR2(t, s, k + 6) IR2(s, t, k + 4) IR2(t, s, k + 2)
    DEC_END2
}

extern "C" uint8_t* DSTU7624DecryptBlock128x256(const uint8_t* S, const uint64_t* T, uint8_t* block, const uint64_t* k)
{
    DEC_BEGIN2(14)
    IR2(t, s, k + 26) IR2(s, t, k + 24) IR2(t, s, k + 22) IR2(s, t, k + 20) IR2(t, s, k + 18)
    IR2(s, t, k + 16) IR2(t, s, k + 14) IR2(s, t, k + 12) IR2(t, s, k + 10) IR2(s, t, k + 8)
    IR2(t, s, k + 6) IR2(s, t, k + 4) IR2(t, s, k + 2)
    DEC_END2
}

// ---- 256-bit block (4 columns) -------------------------------------------

#define R4(d, s, k)                                                                                                    \
    d[0] = ENC4(T, s, 0) ^ (k)[0];                                                                                     \
    d[1] = ENC4(T, s, 1) ^ (k)[1];                                                                                     \
    d[2] = ENC4(T, s, 2) ^ (k)[2];                                                                                     \
    d[3] = ENC4(T, s, 3) ^ (k)[3];
#define R4LAST(d, s, k)                                                                                                \
    d[0] = ENC4(T, s, 0) + (k)[0];                                                                                     \
    d[1] = ENC4(T, s, 1) + (k)[1];                                                                                     \
    d[2] = ENC4(T, s, 2) + (k)[2];                                                                                     \
    d[3] = ENC4(T, s, 3) + (k)[3];
#define IR4(d, s, k)                                                                                                   \
    d[0] = DEC4(T, s, 0) ^ (k)[0];                                                                                     \
    d[1] = DEC4(T, s, 1) ^ (k)[1];                                                                                     \
    d[2] = DEC4(T, s, 2) ^ (k)[2];                                                                                     \
    d[3] = DEC4(T, s, 3) ^ (k)[3];

#define ENC_BEGIN4                                                                                                     \
    uint64_t s[4], t[4];                                                                                               \
    s[0] = LoadLE64(block) + k[0];                                                                                       \
    s[1] = LoadLE64(block + 8) + k[1];                                                                                   \
    s[2] = LoadLE64(block + 16) + k[2];                                                                                  \
    s[3] = LoadLE64(block + 24) + k[3];
#define ENC_END4(nr)                                                                                                   \
    R4LAST(s, t, k + 4 * (nr))                                                                                         \
    StoreLE64(block, s[0]);                                                                                              \
    StoreLE64(block + 8, s[1]);                                                                                          \
    StoreLE64(block + 16, s[2]);                                                                                         \
    StoreLE64(block + 24, s[3]);                                                                                         \
    return block;
#define DEC_BEGIN4(nr)                                                                                                 \
    uint64_t s[4], t[4];                                                                                               \
    t[0] = LoadLE64(block) - k[4 * (nr)];                                                                                \
    t[1] = LoadLE64(block + 8) - k[4 * (nr) + 1];                                                                        \
    t[2] = LoadLE64(block + 16) - k[4 * (nr) + 2];                                                                       \
    t[3] = LoadLE64(block + 24) - k[4 * (nr) + 3];                                                                       \
    s[0] = IMIX(t[0]);                                                                                                 \
    s[1] = IMIX(t[1]);                                                                                                 \
    s[2] = IMIX(t[2]);                                                                                                 \
    s[3] = IMIX(t[3]);
#define DEC_END4                                                                                                       \
    s[0] = ILAST4(S, t, 0) - k[0];                                                                                     \
    s[1] = ILAST4(S, t, 1) - k[1];                                                                                     \
    s[2] = ILAST4(S, t, 2) - k[2];                                                                                     \
    s[3] = ILAST4(S, t, 3) - k[3];                                                                                     \
    StoreLE64(block, s[0]);                                                                                              \
    StoreLE64(block + 8, s[1]);                                                                                          \
    StoreLE64(block + 16, s[2]);                                                                                         \
    StoreLE64(block + 24, s[3]);                                                                                         \
    return block;

extern "C" uint8_t* DSTU7624EncryptBlock256x256(const uint8_t*, const uint64_t* T, uint8_t* block, const uint64_t* k)
{
    ENC_BEGIN4
    R4(t, s, k + 4) R4(s, t, k + 8) R4(t, s, k + 12) R4(s, t, k + 16) R4(t, s, k + 20)
    R4(s, t, k + 24) R4(t, s, k + 28) R4(s, t, k + 32) R4(t, s, k + 36) R4(s, t, k + 40)
    R4(t, s, k + 44) R4(s, t, k + 48) R4(t, s, k + 52)
    ENC_END4(14)
}

extern "C" uint8_t* DSTU7624EncryptBlock256x512(const uint8_t*, const uint64_t* T, uint8_t* block, const uint64_t* k)
{
    ENC_BEGIN4
    R4(t, s, k + 4) R4(s, t, k + 8) R4(t, s, k + 12) R4(s, t, k + 16) R4(t, s, k + 20)
    R4(s, t, k + 24) R4(t, s, k + 28) R4(s, t, k + 32) R4(t, s, k + 36) R4(s, t, k + 40)
    R4(t, s, k + 44) R4(s, t, k + 48) R4(t, s, k + 52) R4(s, t, k + 56) R4(t, s, k + 60)
    R4(s, t, k + 64) R4(t, s, k + 68)
    ENC_END4(18)
}

extern "C" uint8_t* DSTU7624DecryptBlock256x256(const uint8_t* S, const uint64_t* T, uint8_t* block, const uint64_t* k)
{
    DEC_BEGIN4(14)
    IR4(t, s, k + 52) IR4(s, t, k + 48) IR4(t, s, k + 44) IR4(s, t, k + 40) IR4(t, s, k + 36)
    IR4(s, t, k + 32) IR4(t, s, k + 28) IR4(s, t, k + 24) IR4(t, s, k + 20) IR4(s, t, k + 16)
    IR4(t, s, k + 12) IR4(s, t, k + 8) IR4(t, s, k + 4)
    DEC_END4
}

extern "C" uint8_t* DSTU7624DecryptBlock256x512(const uint8_t* S, const uint64_t* T, uint8_t* block, const uint64_t* k)
{
    DEC_BEGIN4(18)
    IR4(t, s, k + 68) IR4(s, t, k + 64) IR4(t, s, k + 60) IR4(s, t, k + 56) IR4(t, s, k + 52)
    IR4(s, t, k + 48) IR4(t, s, k + 44) IR4(s, t, k + 40) IR4(t, s, k + 36) IR4(s, t, k + 32)
    IR4(t, s, k + 28) IR4(s, t, k + 24) IR4(t, s, k + 20) IR4(s, t, k + 16) IR4(t, s, k + 12)
    IR4(s, t, k + 8) IR4(t, s, k + 4)
    DEC_END4
}

// ---- 512-bit block (8 columns) -------------------------------------------

#define R8(d, s, k)                                                                                                    \
    d[0] = ENC8(T, s, 0) ^ (k)[0];                                                                                     \
    d[1] = ENC8(T, s, 1) ^ (k)[1];                                                                                     \
    d[2] = ENC8(T, s, 2) ^ (k)[2];                                                                                     \
    d[3] = ENC8(T, s, 3) ^ (k)[3];                                                                                     \
    d[4] = ENC8(T, s, 4) ^ (k)[4];                                                                                     \
    d[5] = ENC8(T, s, 5) ^ (k)[5];                                                                                     \
    d[6] = ENC8(T, s, 6) ^ (k)[6];                                                                                     \
    d[7] = ENC8(T, s, 7) ^ (k)[7];
#define IR8(d, s, k)                                                                                                   \
    d[0] = DEC8(T, s, 0) ^ (k)[0];                                                                                     \
    d[1] = DEC8(T, s, 1) ^ (k)[1];                                                                                     \
    d[2] = DEC8(T, s, 2) ^ (k)[2];                                                                                     \
    d[3] = DEC8(T, s, 3) ^ (k)[3];                                                                                     \
    d[4] = DEC8(T, s, 4) ^ (k)[4];                                                                                     \
    d[5] = DEC8(T, s, 5) ^ (k)[5];                                                                                     \
    d[6] = DEC8(T, s, 6) ^ (k)[6];                                                                                     \
    d[7] = DEC8(T, s, 7) ^ (k)[7];

extern "C" uint8_t* DSTU7624EncryptBlock512x512(const uint8_t*, const uint64_t* T, uint8_t* block, const uint64_t* k)
{
    uint64_t s[8], t[8];
    s[0] = LoadLE64(block) + k[0];
    s[1] = LoadLE64(block + 8) + k[1];
    s[2] = LoadLE64(block + 16) + k[2];
    s[3] = LoadLE64(block + 24) + k[3];
    s[4] = LoadLE64(block + 32) + k[4];
    s[5] = LoadLE64(block + 40) + k[5];
    s[6] = LoadLE64(block + 48) + k[6];
    s[7] = LoadLE64(block + 56) + k[7];
    R8(t, s, k + 8) R8(s, t, k + 16) R8(t, s, k + 24) R8(s, t, k + 32) R8(t, s, k + 40)
    R8(s, t, k + 48) R8(t, s, k + 56) R8(s, t, k + 64) R8(t, s, k + 72) R8(s, t, k + 80)
    R8(t, s, k + 88) R8(s, t, k + 96) R8(t, s, k + 104) R8(s, t, k + 112) R8(t, s, k + 120)
    R8(s, t, k + 128) R8(t, s, k + 136)
    StoreLE64(block, ENC8(T, t, 0) + k[144]);
    StoreLE64(block + 8, ENC8(T, t, 1) + k[145]);
    StoreLE64(block + 16, ENC8(T, t, 2) + k[146]);
    StoreLE64(block + 24, ENC8(T, t, 3) + k[147]);
    StoreLE64(block + 32, ENC8(T, t, 4) + k[148]);
    StoreLE64(block + 40, ENC8(T, t, 5) + k[149]);
    StoreLE64(block + 48, ENC8(T, t, 6) + k[150]);
    StoreLE64(block + 56, ENC8(T, t, 7) + k[151]);
    return block;
}

extern "C" uint8_t* DSTU7624DecryptBlock512x512(const uint8_t* S, const uint64_t* T, uint8_t* block, const uint64_t* k)
{
    uint64_t s[8], t[8];
    t[0] = LoadLE64(block) - k[144];
    t[1] = LoadLE64(block + 8) - k[145];
    t[2] = LoadLE64(block + 16) - k[146];
    t[3] = LoadLE64(block + 24) - k[147];
    t[4] = LoadLE64(block + 32) - k[148];
    t[5] = LoadLE64(block + 40) - k[149];
    t[6] = LoadLE64(block + 48) - k[150];
    t[7] = LoadLE64(block + 56) - k[151];
    s[0] = IMIX(t[0]);
    s[1] = IMIX(t[1]);
    s[2] = IMIX(t[2]);
    s[3] = IMIX(t[3]);
    s[4] = IMIX(t[4]);
    s[5] = IMIX(t[5]);
    s[6] = IMIX(t[6]);
    s[7] = IMIX(t[7]);
    IR8(t, s, k + 136) IR8(s, t, k + 128) IR8(t, s, k + 120) IR8(s, t, k + 112) IR8(t, s, k + 104)
    IR8(s, t, k + 96) IR8(t, s, k + 88) IR8(s, t, k + 80) IR8(t, s, k + 72) IR8(s, t, k + 64)
    IR8(t, s, k + 56) IR8(s, t, k + 48) IR8(t, s, k + 40) IR8(s, t, k + 32) IR8(t, s, k + 24)
    IR8(s, t, k + 16) IR8(t, s, k + 8)
    StoreLE64(block, ILAST8(S, t, 0) - k[0]);
    StoreLE64(block + 8, ILAST8(S, t, 1) - k[1]);
    StoreLE64(block + 16, ILAST8(S, t, 2) - k[2]);
    StoreLE64(block + 24, ILAST8(S, t, 3) - k[3]);
    StoreLE64(block + 32, ILAST8(S, t, 4) - k[4]);
    StoreLE64(block + 40, ILAST8(S, t, 5) - k[5]);
    StoreLE64(block + 48, ILAST8(S, t, 6) - k[6]);
    StoreLE64(block + 56, ILAST8(S, t, 7) - k[7]);
    return block;
}
// clang-format on

// ---- key schedules ------------------------------------------------------
//
// Specialised per variant through the template arguments: every size is a
// constant and the compiler unrolls the fixed-count loops.

namespace {

// One keyless round R.
template <int NB>
inline void KeylessRound(const uint64_t* T, const uint64_t* s, uint64_t* d)
{
    if constexpr (NB == 2) {
        d[0] = ENC2(T, s, 0);
        d[1] = ENC2(T, s, 1);
    } else if constexpr (NB == 4) {
        d[0] = ENC4(T, s, 0);
        d[1] = ENC4(T, s, 1);
        d[2] = ENC4(T, s, 2);
        d[3] = ENC4(T, s, 3);
    } else {
        d[0] = ENC8(T, s, 0);
        d[1] = ENC8(T, s, 1);
        d[2] = ENC8(T, s, 2);
        d[3] = ENC8(T, s, 3);
        d[4] = ENC8(T, s, 4);
        d[5] = ENC8(T, s, 5);
        d[6] = ENC8(T, s, 6);
        d[7] = ENC8(T, s, 7);
    }
}

template <int NB, int NK, int NR>
inline void ExpandKey(const uint64_t* T, const uint64_t* key, uint64_t* rk)
{
    const uint64_t* ka = key;
    const uint64_t* kw = (NK == NB) ? key : key + NB;
    uint64_t s[NB], t[NB], sigma[NB];

    // K-sigma from the key.
    for (int c = 0; c < NB; ++c) s[c] = ka[c];
    s[0] += static_cast<uint64_t>(NB + NK + 1);
    KeylessRound<NB>(T, s, t);
    for (int c = 0; c < NB; ++c) t[c] ^= kw[c];
    KeylessRound<NB>(T, t, s);
    for (int c = 0; c < NB; ++c) s[c] += ka[c];
    KeylessRound<NB>(T, s, sigma);

    // Even round keys.
    for (int i = 0; i <= NR / 2; ++i) {
        uint64_t kt[NB];
        const uint64_t constant = 0x0001000100010001ULL << i;
        for (int c = 0; c < NB; ++c) kt[c] = sigma[c] + constant;
        for (int c = 0; c < NB; ++c) {
            int word;
            if constexpr (NK == NB)
                word = (i + c) % NK;
            else
                word = (i / 2 + (i % 2) * NB + c) % NK;
            s[c] = key[word] + kt[c];
        }
        KeylessRound<NB>(T, s, t);
        for (int c = 0; c < NB; ++c) t[c] ^= kt[c];
        KeylessRound<NB>(T, t, s);
        for (int c = 0; c < NB; ++c) rk[2 * i * NB + c] = s[c] + kt[c];
    }

    // Odd round keys: the even key before, rotated by 2 * NB + 3 bytes
    // towards its low end.
    constexpr int bytes = 8 * NB;
    constexpr int shift = 2 * NB + 3;
    for (int i = 0; i < NR / 2; ++i) {
        uint8_t even[bytes], odd[bytes];
        std::memcpy(even, rk + 2 * i * NB, bytes);
        for (int j = 0; j < bytes; ++j) odd[j] = even[(j + shift) % bytes];
        std::memcpy(rk + (2 * i + 1) * NB, odd, bytes);
    }
}

template <int NB, int NR>
inline void InvertKeys(const uint64_t* rk, uint64_t* dk)
{
    for (int c = 0; c < NB; ++c) {
        dk[c] = rk[c];
        dk[NR * NB + c] = rk[NR * NB + c];
    }
    for (int i = NB; i < NR * NB; ++i) dk[i] = IMIX(rk[i]);
}

}  // namespace

extern "C" void DSTU7624ExpandKey128x128(const uint64_t* T, const uint64_t* key, uint64_t* rk)
{
    ExpandKey<2, 2, 10>(T, key, rk);
}
extern "C" void DSTU7624ExpandKey128x256(const uint64_t* T, const uint64_t* key, uint64_t* rk)
{
    ExpandKey<2, 4, 14>(T, key, rk);
}
extern "C" void DSTU7624ExpandKey256x256(const uint64_t* T, const uint64_t* key, uint64_t* rk)
{
    ExpandKey<4, 4, 14>(T, key, rk);
}
extern "C" void DSTU7624ExpandKey256x512(const uint64_t* T, const uint64_t* key, uint64_t* rk)
{
    ExpandKey<4, 8, 18>(T, key, rk);
}
extern "C" void DSTU7624ExpandKey512x512(const uint64_t* T, const uint64_t* key, uint64_t* rk)
{
    ExpandKey<8, 8, 18>(T, key, rk);
}

extern "C" void DSTU7624InvertKeys128x128(const uint64_t* rk, uint64_t* dk)
{
    InvertKeys<2, 10>(rk, dk);
}
extern "C" void DSTU7624InvertKeys128x256(const uint64_t* rk, uint64_t* dk)
{
    InvertKeys<2, 14>(rk, dk);
}
extern "C" void DSTU7624InvertKeys256x256(const uint64_t* rk, uint64_t* dk)
{
    InvertKeys<4, 14>(rk, dk);
}
extern "C" void DSTU7624InvertKeys256x512(const uint64_t* rk, uint64_t* dk)
{
    InvertKeys<4, 18>(rk, dk);
}
extern "C" void DSTU7624InvertKeys512x512(const uint64_t* rk, uint64_t* dk)
{
    InvertKeys<8, 18>(rk, dk);
}
