// DSTU 8845 entries of cgbase.so: the standard's stream cipher with 256- and
// 512-bit keys and a 256-bit IV. Sixteen 64-bit words of a linear feedback
// register (multiplication by alpha and by its inverse over GF(2^8)^8) feed a
// finite state machine of two words whose nonlinear step is the DSTU 7624
// column transformation T.
//
// Byte order: key and IV bytes are read as 64-bit words least significant
// byte first (key word K0 from bytes 0..7), and the keystream words are
// written the same way, 128 bytes per round of sixteen words.
//
// Parameters: 1 parameter block (accepted, not used), 2 key bits (256 or
// 512), 3 key, 4 IV (32 bytes; starts the cipher), 5 a byte position and 6 a
// position in 128-byte keystream blocks (u64; each restarts from key and IV
// and skips to it), 7 (get) export size, 8 export or import the state.
#include <cstring>
#include <new>

#include "CGExport.h"
#include "crypto/ByteOrder.h"
#include "crypto/DSTUCiphersTables.h"
#include "crypto/SecureWipe.h"

using cglib::InjectedFailure;
using qvkcrypto::LoadLE64;
using qvkcrypto::SecureWipe;
using qvkcrypto::StoreLE64;

namespace {

constexpr uint32_t kMagic = 0x38383435;  // "8845"
constexpr uint64_t kMaxSkipBytes = 1ull << 32;

uint8_t GFMultiply(uint8_t a, uint8_t b)
{
    unsigned product = 0, x = a;
    for (; b != 0; b >>= 1) {
        if (b & 1) product ^= x;
        x <<= 1;
        if (x & 0x100) x ^= 0x11d;
    }
    return static_cast<uint8_t>(product);
}

// Tables of byte b times alpha's reduction word (alpha_mul) and times the
// inverse's (alphainv_mul), bytewise in GF(2^8) modulo x^8+x^4+x^3+x^2+1.
struct AlphaTables {
    uint64_t mul[256];
    uint64_t inverse[256];
    AlphaTables()
    {
        const uint64_t reduction = 0xd73f04125e000004ull, inverseReduction = 0x47fcc6018a990000ull;
        for (unsigned b = 0; b < 256; ++b) {
            uint64_t m = 0, n = 0;
            for (int k = 0; k < 8; ++k) {
                m |= uint64_t(GFMultiply(static_cast<uint8_t>(b), static_cast<uint8_t>(reduction >> (8 * k))))
                     << (8 * k);
                n |= uint64_t(GFMultiply(static_cast<uint8_t>(b), static_cast<uint8_t>(inverseReduction >> (8 * k))))
                     << (8 * k);
            }
            mul[b] = m;
            inverse[b] = n;
        }
    }
};

const AlphaTables& Alpha()
{
    static const AlphaTables tables;
    return tables;
}

uint64_t MulAlpha(uint64_t w)
{
    return (w << 8) ^ Alpha().mul[w >> 56];
}

uint64_t MulAlphaInverse(uint64_t w)
{
    return (w >> 8) ^ Alpha().inverse[w & 0xff];
}

uint64_t TransformT(uint64_t w)
{
    uint64_t out = 0;
    for (int k = 0; k < 8; ++k) out ^= DSTUDefaultTTables[k * 256 + ((w >> (8 * k)) & 0xff)];
    return out;
}

// The whole state: a flat record without pointers, exported as it is.
struct State {
    uint32_t magic;
    uint32_t keyBits;
    uint32_t haveKey;
    uint32_t ready;
    uint64_t key[8];
    uint64_t iv[4];
    uint64_t s[16];  // s[0] the oldest word
    uint64_t r1, r2;
    uint8_t block[128];
    uint32_t blockLeft;  // unused keystream bytes at the end of block
    uint32_t reserved;
};

State* St(void* state)
{
    auto* s = static_cast<State*>(state);
    return s != nullptr && s->magic == kMagic ? s : nullptr;
}

// One clock of register and machine; with `feedback` the machine's output is
// mixed into the new register word (initialisation).
void Clock(State* st, bool feedback)
{
    uint64_t* s = st->s;
    uint64_t word = MulAlpha(s[0]) ^ s[13] ^ MulAlphaInverse(s[11]);
    if (feedback) word ^= (st->r1 + s[15]) ^ st->r2;
    const uint64_t r1 = st->r2 + s[13];
    st->r2 = TransformT(st->r1);
    st->r1 = r1;
    std::memmove(s, s + 1, 15 * sizeof(uint64_t));
    s[15] = word;
}

void Start(State* st)
{
    const uint64_t* k = st->key;
    const uint64_t* v = st->iv;
    uint64_t* s = st->s;
    if (st->keyBits == 256) {
        const uint64_t init[16] = {k[3] ^ v[0], k[2], k[1] ^ v[1], k[0] ^ v[2], k[3], k[2] ^ v[3], ~k[1], ~k[0],
                                   k[3],        k[2], ~k[1],       k[0],        k[3], ~k[2],       k[1],  ~k[0]};
        std::memcpy(s, init, sizeof init);
    } else {
        const uint64_t init[16] = {k[7] ^ v[0], k[6],  k[5], k[4] ^ v[1], k[3], k[2] ^ v[2], k[1],  ~k[0],
                                   k[4] ^ v[3], ~k[6], k[5], ~k[7],       k[3], k[2],        ~k[1], k[0]};
        std::memcpy(s, init, sizeof init);
    }
    st->r1 = st->r2 = 0;
    for (int i = 0; i < 32; ++i) Clock(st, true);
    st->blockLeft = 0;
    st->ready = 1;
}

// The next keystream word: one clock, then (r1 + s15) ^ r2 ^ s0.
uint64_t NextWord(State* st)
{
    Clock(st, false);
    return (st->r1 + st->s[15]) ^ st->r2 ^ st->s[0];
}

void NextBlock(State* st)
{
    for (int i = 0; i < 16; ++i) StoreLE64(st->block + 8 * i, NextWord(st));
    st->blockLeft = 128;
}

void Crypt(State* st, uint8_t* data, uint64_t length)
{
    for (uint64_t done = 0; done < length;) {
        if (st->blockLeft == 0) NextBlock(st);
        const uint8_t* stream = st->block + (128 - st->blockLeft);
        uint64_t take = length - done < st->blockLeft ? length - done : st->blockLeft;
        if (data != nullptr)
            for (uint64_t i = 0; i < take; ++i) data[done + i] ^= stream[i];
        st->blockLeft -= static_cast<uint32_t>(take);
        done += take;
    }
}

}  // namespace

CG_EXPORT int DSTU8845SelfTest(void)
{
    return 1;
}
CG_SHAPE(DSTU8845SelfTest, CGSelfTestFn);

CG_EXPORT void* DSTU8845AcquireState(void)
{
    if (InjectedFailure("DSTU8845AcquireState")) return nullptr;
    auto* st = new (std::nothrow) State{};
    if (st != nullptr) st->magic = kMagic;
    return st;
}
CG_SHAPE(DSTU8845AcquireState, CGAcquireStateFn);

CG_EXPORT int DSTU8845ReleaseState(void* state)
{
    State* st = St(state);
    if (st == nullptr) return 0;
    SecureWipe(st, sizeof *st);
    delete st;
    return 1;
}
CG_SHAPE(DSTU8845ReleaseState, CGReleaseStateFn);

CG_EXPORT int DSTU8845SetStateParameters(void* state, const void* value, uint32_t code)
{
    State* st = St(state);
    if (st == nullptr || value == nullptr || InjectedFailure("DSTU8845SetStateParameters")) return 0;
    const auto* bytes = static_cast<const uint8_t*>(value);
    switch (code) {
    case 1:
        return 1;
    case 2: {
        uint32_t bits;
        std::memcpy(&bits, value, 4);
        if (bits != 256 && bits != 512) return 0;
        st->keyBits = bits;
        st->haveKey = 0;
        st->ready = 0;
        return 1;
    }
    case 3:
        if (st->keyBits == 0) return 0;
        for (uint32_t i = 0; i < st->keyBits / 64; ++i) st->key[i] = LoadLE64(bytes + 8 * i);
        st->haveKey = 1;
        st->ready = 0;
        return 1;
    case 4:
        if (!st->haveKey) return 0;
        for (int i = 0; i < 4; ++i) st->iv[i] = LoadLE64(bytes + 8 * i);
        Start(st);
        return 1;
    case 5:
    case 6: {
        if (!st->haveKey) return 0;
        const uint64_t position = LoadLE64(bytes);
        if (code == 6 && position > kMaxSkipBytes / 128) return 0;
        const uint64_t skip = code == 5 ? position : position * 128;
        if (skip > kMaxSkipBytes) return 0;
        Start(st);
        for (uint64_t blocks = skip / 128; blocks != 0; --blocks)
            for (int i = 0; i < 16; ++i) NextWord(st);
        Crypt(st, nullptr, skip % 128);
        return 1;
    }
    case 8: {
        State image;
        std::memcpy(&image, value, sizeof image);
        const bool sound = image.magic == kMagic && (image.keyBits == 256 || image.keyBits == 512) &&
                           image.blockLeft <= 128 && image.ready <= 1 && image.haveKey <= 1;
        if (sound) std::memcpy(st, &image, sizeof image);
        SecureWipe(&image, sizeof image);
        return sound ? 1 : 0;
    }
    default:
        return 0;
    }
}
CG_SHAPE(DSTU8845SetStateParameters, CGSetStateParametersFn);

CG_EXPORT int DSTU8845GetStateParameters(void* state, void* buffer, uint32_t code)
{
    State* st = St(state);
    if (st == nullptr || buffer == nullptr || InjectedFailure("DSTU8845GetStateParameters")) return 0;
    if (code == 7) {
        const uint32_t size = sizeof(State);
        std::memcpy(buffer, &size, 4);
        return 1;
    }
    if (code == 8) {
        std::memcpy(buffer, st, sizeof(State));
        return 1;
    }
    if (code == 2) {
        std::memcpy(buffer, &st->keyBits, 4);
        return 1;
    }
    return 0;
}
CG_SHAPE(DSTU8845GetStateParameters, CGGetStateParametersFn);

CG_EXPORT int DSTU8845EncryptData(uint8_t* data, uint32_t length, void* state)
{
    State* st = St(state);
    if (st == nullptr || !st->ready || (data == nullptr && length != 0) || InjectedFailure("DSTU8845EncryptData"))
        return 0;
    Crypt(st, data, length);
    return 1;
}
CG_SHAPE(DSTU8845EncryptData, CGDSTU8845EncryptDataFn);
