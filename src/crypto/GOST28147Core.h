// Inline round code of GOST 28147-89, shared by the cipher module and the
// GOST 34.311-95 hash. Not part of either module's interface.
//
// The 32 steps are written out with the two halves alternating roles instead
// of being exchanged: after an even number of steps a/b sit where N1/N2 were,
// and the final step of the encryption cycle (no exchange) leaves N1 in b.
#ifndef QVK_CRYPTO_GOST28147CORE_H
#define QVK_CRYPTO_GOST28147CORE_H

#include <bit>
#include <cstdint>
#include <cstring>

#include "crypto/ByteOrder.h"
#include "crypto/GOST28147.h"

namespace gost28147core {

using qvkcrypto::LoadLE32;
using qvkcrypto::LoadLE64;
using qvkcrypto::StoreLE32;
using qvkcrypto::StoreLE64;

// Substitution and rotation by 11 of x, through the expanded tables t.
#define GOST_F(t, x) ((t)[0][(x)&0xFF] ^ (t)[1][((x) >> 8) & 0xFF] ^ (t)[2][((x) >> 16) & 0xFF] ^ (t)[3][(x) >> 24])

// Step orders; R(p, q, i): q ^= f(p + K_i).
#define GOST_K0_TO_K7(R) R(a, b, 0) R(b, a, 1) R(a, b, 2) R(b, a, 3) R(a, b, 4) R(b, a, 5) R(a, b, 6) R(b, a, 7)
#define GOST_K7_TO_K0(R) R(a, b, 7) R(b, a, 6) R(a, b, 5) R(b, a, 4) R(a, b, 3) R(b, a, 2) R(a, b, 1) R(b, a, 0)
#define GOST_ENCRYPT_STEPS(R) GOST_K0_TO_K7(R) GOST_K0_TO_K7(R) GOST_K0_TO_K7(R) GOST_K7_TO_K0(R)
#define GOST_DECRYPT_STEPS(R) GOST_K0_TO_K7(R) GOST_K7_TO_K0(R) GOST_K7_TO_K0(R) GOST_K7_TO_K0(R)
#define GOST_MAC_STEPS(R) GOST_K0_TO_K7(R) GOST_K0_TO_K7(R)

// An empty statement that holds v in a register of its own: the compiler
// may not fold it into a longer chain of xors.
#define GOST_KEEP(v) __asm__("" : "+r"(v))

// A lone chain waits for each step: the lookups of bytes 0 and 3 (one
// instruction to pick each) go into q first, those of bytes 1 and 2 (whose
// picks take longer) are summed aside, so the step ends one xor after the
// last load.
#define GOST_STEP1(p, q, i)                                                                                            \
    {                                                                                                                  \
        const uint32_t x = p + k[i];                                                                                   \
        uint32_t late = t[1][(x >> 8) & 0xFF] ^ t[2][(x >> 16) & 0xFF];                                                \
        GOST_KEEP(late);                                                                                               \
        uint32_t early = q ^ t[0][x & 0xFF] ^ t[3][x >> 24];                                                           \
        GOST_KEEP(early);                                                                                              \
        q = early ^ late;                                                                                              \
    }

#define GOST_STEP2(p, q, i)                                                                                            \
    {                                                                                                                  \
        uint32_t x0 = p##0 + k0[i];                                                                                    \
        uint32_t x1 = p##1 + k1[i];                                                                                    \
        q##0 ^= GOST_F(t, x0);                                                                                         \
        q##1 ^= GOST_F(t, x1);                                                                                         \
    }

#define GOST_STEP4(p, q, i)                                                                                            \
    {                                                                                                                  \
        uint32_t x0 = p##0 + k0[i];                                                                                    \
        uint32_t x1 = p##1 + k1[i];                                                                                    \
        uint32_t x2 = p##2 + k2[i];                                                                                    \
        uint32_t x3 = p##3 + k3[i];                                                                                    \
        q##0 ^= GOST_F(t, x0);                                                                                         \
        q##1 ^= GOST_F(t, x1);                                                                                         \
        q##2 ^= GOST_F(t, x2);                                                                                         \
        q##3 ^= GOST_F(t, x3);                                                                                         \
    }

using Tables = const uint32_t (*)[256];

// The single-block cycles run inside their callers' block loops, the halves
// in registers from block to block.
#define GOST_SERIAL inline __attribute__((always_inline))

// 32-step encryption cycle on (n1, n2).
GOST_SERIAL void Encrypt(uint32_t& n1, uint32_t& n2, const uint32_t* k, Tables t)
{
    uint32_t a = n1, b = n2;
    GOST_ENCRYPT_STEPS(GOST_STEP1)
    n1 = b;
    n2 = a;
}

GOST_SERIAL void Decrypt(uint32_t& n1, uint32_t& n2, const uint32_t* k, Tables t)
{
    uint32_t a = n1, b = n2;
    GOST_DECRYPT_STEPS(GOST_STEP1)
    n1 = b;
    n2 = a;
}

// 16-step cycle of the MAC mode; every step exchanges the halves.
GOST_SERIAL void Mac16(uint32_t& n1, uint32_t& n2, const uint32_t* k, Tables t)
{
    uint32_t a = n1, b = n2;
    GOST_MAC_STEPS(GOST_STEP1)
    n1 = a;
    n2 = b;
}

// Two independent blocks under two key sets, interleaved so that the table
// lookups of one hide the latency of the other.
inline void Encrypt2(uint32_t* n, const uint32_t* k0, const uint32_t* k1, Tables t)
{
    uint32_t a0 = n[0], b0 = n[1], a1 = n[2], b1 = n[3];
    GOST_ENCRYPT_STEPS(GOST_STEP2)
    n[0] = b0;
    n[1] = a0;
    n[2] = b1;
    n[3] = a1;
}

inline void Decrypt2(uint32_t* n, const uint32_t* k0, const uint32_t* k1, Tables t)
{
    uint32_t a0 = n[0], b0 = n[1], a1 = n[2], b1 = n[3];
    GOST_DECRYPT_STEPS(GOST_STEP2)
    n[0] = b0;
    n[1] = a0;
    n[2] = b1;
    n[3] = a1;
}

inline void Encrypt4(uint32_t* n, const uint32_t* k0, const uint32_t* k1, const uint32_t* k2, const uint32_t* k3,
                     Tables t)
{
    uint32_t a0 = n[0], b0 = n[1], a1 = n[2], b1 = n[3], a2 = n[4], b2 = n[5], a3 = n[6], b3 = n[7];
    GOST_ENCRYPT_STEPS(GOST_STEP4)
    n[0] = b0;
    n[1] = a0;
    n[2] = b1;
    n[3] = a1;
    n[4] = b2;
    n[5] = a2;
    n[6] = b3;
    n[7] = a3;
}

inline void Decrypt4(uint32_t* n, const uint32_t* k0, const uint32_t* k1, const uint32_t* k2, const uint32_t* k3,
                     Tables t)
{
    uint32_t a0 = n[0], b0 = n[1], a1 = n[2], b1 = n[3], a2 = n[4], b2 = n[5], a3 = n[6], b3 = n[7];
    GOST_DECRYPT_STEPS(GOST_STEP4)
    n[0] = b0;
    n[1] = a0;
    n[2] = b1;
    n[3] = a1;
    n[4] = b2;
    n[5] = a2;
    n[6] = b3;
    n[7] = a3;
}

}  // namespace gost28147core

#endif
