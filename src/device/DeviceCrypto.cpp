// Cipher and hash steps of the device layer over the block-cipher and hash
// modules: block MACs and encryption, password hashing.
#include <cstring>

#include "crypto/DSTU7564.h"
#include "crypto/DSTU7624Modes.h"
#include "crypto/GOST28147.h"
#include "crypto/GOST34311.h"
#include "device/DeviceInternal.h"

namespace qvkdev {

// The DKE No. 1 table in packed form: the S-box of the key's old protection
// and of the old password hash.
const uint8_t kDefaultGostSBox[64] = {
    0x8a, 0x09, 0xcd, 0x46, 0x9e, 0x6b, 0x74, 0xb5, 0x2f, 0x31, 0x13, 0xfc, 0x57, 0xe0, 0xa8, 0xd2,
    0x3f, 0x86, 0xd5, 0x98, 0x6e, 0xbb, 0xfa, 0x04, 0x2c, 0x50, 0xc3, 0xa7, 0x42, 0xe9, 0x11, 0x7d,
    0x2f, 0x88, 0x9e, 0x79, 0x57, 0xf2, 0x00, 0xbd, 0xcc, 0x16, 0xd1, 0xe5, 0xab, 0x34, 0x63, 0x4a,
    0x13, 0x28, 0x3b, 0xe5, 0x66, 0xd4, 0xbe, 0x8a, 0xf2, 0xac, 0xc1, 0x57, 0x79, 0x9f, 0x0d, 0x40,
};

namespace {

// Each thread keeps one DSTU 7624 context for the block steps: a context is
// some 37 KB of tables that creating copies and freeing wipes byte by byte,
// which costs several times the cipher work of a block and showed as most
// of the host's share of a protected exchange. The cached context is wiped
// whole (freed) when the thread ends.
struct Dstu7624Slot {
    DSTU7624Context* context = DSTU7624CreateContext();
    bool busy = false;
    ~Dstu7624Slot() { DSTU7624FreeContext(context); }
};

Dstu7624Slot& ThreadDstu7624Slot()
{
    thread_local Dstu7624Slot slot;
    return slot;
}

// A DSTU 7624 context keyed for the 256/256 variant: the thread's cached one
// when it is free (its key-dependent state wiped on scope exit), else a
// fresh one freed (and wiped) on scope exit.
class Dstu7624Key {
public:
    explicit Dstu7624Key(const uint8_t key[32])
    {
        Dstu7624Slot& slot = ThreadDstu7624Slot();
        if (!slot.busy && slot.context != nullptr) {
            slot.busy = true;
            cached_ = true;
            context_ = slot.context;
        } else {
            context_ = DSTU7624CreateContext();
        }
        if (context_ == nullptr) return;
        const uint32_t bits = 256;
        // Setting the block size first clears every key and mode state.
        ready_ = DSTU7624SetParameter(context_, &bits, DSTU7624_BLOCK_BITS) &&
                 DSTU7624SetParameter(context_, &bits, DSTU7624_KEY_BITS) &&
                 DSTU7624SetParameter(context_, key, DSTU7624_KEY);
    }
    ~Dstu7624Key()
    {
        if (!cached_) {
            DSTU7624FreeContext(context_);
            return;
        }
        DSTU7624Context* c = context_;
        SecureWipe(c->key, sizeof(c->key));
        SecureWipe(c->keyReserved, sizeof(c->keyReserved));
        SecureWipe(c->roundKeys, sizeof(c->roundKeys));
        SecureWipe(c->decryptionRoundKeys, sizeof(c->decryptionRoundKeys));
        SecureWipe(c->iv, sizeof(c->iv));
        SecureWipe(c->gamma, sizeof(c->gamma));
        SecureWipe(c->mac, sizeof(c->mac));
        SecureWipe(c->expectedMac, sizeof(c->expectedMac));
        const uint32_t bits = 256;
        DSTU7624SetParameter(c, &bits, DSTU7624_BLOCK_BITS);  // no key any more
        ThreadDstu7624Slot().busy = false;
    }
    Dstu7624Key(const Dstu7624Key&) = delete;
    Dstu7624Key& operator=(const Dstu7624Key&) = delete;

    // 0, 4 or 100 for the set-up.
    uint32_t Status() const { return context_ == nullptr ? KEYERR_NO_MEMORY : ready_ ? 0 : KEYERR_GENERAL_FAILURE; }
    DSTU7624Context* get() const { return context_; }

private:
    DSTU7624Context* context_ = nullptr;
    bool cached_ = false;
    bool ready_ = false;
};

// A GOST 28147-89 context with the default S-box and the given key.
struct GostKey {
    GOST28147Context context;
    bool ready;
    explicit GostKey(const uint8_t key[32])
    {
        std::memset(&context, 0, sizeof(context));
        ready = GOST28147SetParameter(&context, kDefaultGostSBox, GOST28147_SBOX) &&
                GOST28147SetParameter(&context, key, GOST28147_KEY);
    }
    ~GostKey() { SecureWipe(&context, sizeof(context)); }
};

// DSTU 7564-256 in one context, restarted for every hashing.
class Hasher7564 {
public:
    Hasher7564() : context_(DSTU7564CreateContext()) {}
    ~Hasher7564() { DSTU7564FreeContext(context_); }
    Hasher7564(const Hasher7564&) = delete;
    Hasher7564& operator=(const Hasher7564&) = delete;

    bool ok() const { return context_ != nullptr; }
    bool Hash(const uint8_t* data, size_t length, uint8_t out[32])
    {
        const uint32_t hashBits = 256;
        const uint64_t bits = static_cast<uint64_t>(length) * 8;
        return DSTU7564SetParameter(context_, &hashBits, DSTU7564_HASH_BITS) &&
               DSTU7564UpdateHash(data, static_cast<uint32_t>(bits), static_cast<uint32_t>(bits >> 32), context_) &&
               DSTU7564FinishHash(context_) && DSTU7564GetParameter(context_, out, DSTU7564_HASH);
    }

private:
    DSTU7564Context* context_;
};

// GOST 34.311-95 with the default S-box and a zero start vector, one message
// per freshly initialised context.
bool HashOnce34311(GOST34311Context* context, const uint8_t* data, size_t length, uint8_t out[32])
{
    std::memset(context, 0, sizeof(*context));
    return length <= UINT32_MAX && GOST34311SetParameter(context, kDefaultGostSBox, GOST34311_SBOX) &&
           GOST34311SetParameter(context, nullptr, GOST34311_START_VECTOR) &&
           GOST34311UpdateHash(data, static_cast<uint32_t>(length), context) && GOST34311FinishHash(0, context) &&
           GOST34311GetParameter(context, out, GOST34311_HASH);
}

constexpr int kPasswordHashings = 10000;

}  // namespace

uint32_t Dstu7624Cmac64(const uint8_t key[32], const uint8_t* data, uint32_t bits, uint8_t mac[8])
{
    Dstu7624Key k(key);
    if (const uint32_t s = k.Status()) return s;
    const uint32_t macBits = 64;
    return DSTU7624ComputeCMAC(data, bits, 0, k.get()) && DSTU7624SetParameter(k.get(), &macBits, DSTU7624_MAC_BITS) &&
                   DSTU7624GetParameter(k.get(), mac, DSTU7624_MAC)
               ? 0
               : KEYERR_GENERAL_FAILURE;
}

uint32_t Dstu7624Ecb(const uint8_t key[32], uint8_t* data, uint32_t blocks, bool encrypt)
{
    Dstu7624Key k(key);
    if (const uint32_t s = k.Status()) return s;
    const int ok = encrypt ? DSTU7624EncryptECB(data, blocks, k.get()) : DSTU7624DecryptECB(data, blocks, k.get());
    return ok ? 0 : KEYERR_GENERAL_FAILURE;
}

bool Gost28147Mac(const uint8_t key[32], const uint8_t* data, uint32_t length, uint8_t mac[4])
{
    GostKey k(key);
    uint32_t value = 0;
    const bool ok = k.ready && GOST28147ComputeMAC(data, length, &k.context) &&
                    GOST28147GetParameter(&k.context, &value, GOST28147_MAC);
    if (ok)
        for (int i = 0; i < 4; ++i) mac[i] = static_cast<uint8_t>(value >> (8 * i));
    SecureWipe(&value, sizeof(value));
    return ok;
}

bool Gost28147Ecb(const uint8_t key[32], uint8_t* data, uint32_t blocks, bool encrypt)
{
    GostKey k(key);
    if (!k.ready) return false;
    return encrypt ? GOST28147EncryptECB(data, blocks, &k.context) != 0
                   : GOST28147DecryptECB(data, blocks, &k.context) != 0;
}

uint32_t Hash7564(const uint8_t* data, size_t length, uint8_t out[32])
{
    Hasher7564 h;
    if (!h.ok()) return KEYERR_NO_MEMORY;
    return h.Hash(data, length, out) ? 0 : KEYERR_GENERAL_FAILURE;
}

bool Hash34311(const uint8_t* data, size_t length, uint8_t out[32])
{
    GOST34311Context context;
    const bool ok = HashOnce34311(&context, data, length, out);
    SecureWipe(&context, sizeof(context));
    return ok;
}

uint32_t IterateHash7564(const uint8_t* data, size_t length, uint8_t value[32], uint8_t* packetKey)
{
    Hasher7564 h;
    if (!h.ok()) return KEYERR_NO_MEMORY;
    uint8_t v[32];
    bool ok = h.Hash(data, length, v);
    for (int i = 1; ok && i < kPasswordHashings; ++i) ok = h.Hash(v, 32, v);
    if (ok && packetKey != nullptr) ok = h.Hash(v, 32, packetKey);
    if (ok) std::memcpy(value, v, 32);
    SecureWipe(v, sizeof(v));
    return ok ? 0 : KEYERR_GENERAL_FAILURE;
}

bool IterateHash34311(const uint8_t* data, size_t length, uint8_t value[32], uint8_t* packetKey)
{
    GOST34311Context context;
    uint8_t v[32];
    bool ok = HashOnce34311(&context, data, length, v);
    for (int i = 1; ok && i < kPasswordHashings; ++i) ok = HashOnce34311(&context, v, 32, v);
    if (ok && packetKey != nullptr) ok = HashOnce34311(&context, v, 32, packetKey);
    if (ok) std::memcpy(value, v, 32);
    SecureWipe(v, sizeof(v));
    SecureWipe(&context, sizeof(context));
    return ok;
}

}  // namespace qvkdev
