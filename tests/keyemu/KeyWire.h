// Test side of the key's wire protocol, written from the standards'
// primitives (the cipher and hash modules) and not from the host protocol
// code: request blocks, their protection, and the APDU around them.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "crypto/DSTU7564.h"
#include "crypto/DSTU7624Modes.h"
#include "crypto/GOST28147.h"
#include "crypto/GOST34311.h"
#include "keyemu/KeyModel.h"

namespace keyemu_test {

using Bytes = std::vector<uint8_t>;

// The DKE No. 1 S-box (standard GOST 28147 S-box 0), packed.
inline const uint8_t kSBox0[64] = {0x8a, 0x09, 0xcd, 0x46, 0x9e, 0x6b, 0x74, 0xb5, 0x2f, 0x31, 0x13, 0xfc, 0x57,
                                   0xe0, 0xa8, 0xd2, 0x3f, 0x86, 0xd5, 0x98, 0x6e, 0xbb, 0xfa, 0x04, 0x2c, 0x50,
                                   0xc3, 0xa7, 0x42, 0xe9, 0x11, 0x7d, 0x2f, 0x88, 0x9e, 0x79, 0x57, 0xf2, 0x00,
                                   0xbd, 0xcc, 0x16, 0xd1, 0xe5, 0xab, 0x34, 0x63, 0x4a, 0x13, 0x28, 0x3b, 0xe5,
                                   0x66, 0xd4, 0xbe, 0x8a, 0xf2, 0xac, 0xc1, 0x57, 0x79, 0x9f, 0x0d, 0x40};

inline Bytes H34311(const Bytes& data)
{
    GOST34311Context c;
    std::memset(&c, 0, sizeof c);
    GOST34311SetParameter(&c, kSBox0, GOST34311_SBOX);
    GOST34311SetParameter(&c, nullptr, GOST34311_START_VECTOR);
    GOST34311UpdateHash(data.data(), static_cast<uint32_t>(data.size()), &c);
    GOST34311FinishHash(0, &c);
    Bytes out(32);
    GOST34311GetParameter(&c, out.data(), GOST34311_HASH);
    return out;
}

inline Bytes H7564(const Bytes& data)
{
    DSTU7564Context* c = DSTU7564CreateContext();
    uint32_t bits = 256;
    DSTU7564SetParameter(c, &bits, DSTU7564_HASH_BITS);
    DSTU7564UpdateHash(data.data(), static_cast<uint32_t>(data.size() * 8), 0, c);
    DSTU7564FinishHash(c);
    Bytes out(32);
    DSTU7564GetParameter(c, out.data(), DSTU7564_HASH);
    DSTU7564FreeContext(c);
    return out;
}

template <typename H>
Bytes LoginValue(const std::string& password, H h)
{
    Bytes v = h(Bytes(password.begin(), password.end()));
    for (int i = 1; i < 10000; ++i) v = h(v);
    return v;
}

// The GOST 28147-89 MAC of length bytes under key and S-box 0.
inline Bytes GostMac(const uint8_t* data, uint32_t length, const Bytes& key)
{
    GOST28147Context c;
    std::memset(&c, 0, sizeof c);
    GOST28147SetParameter(&c, kSBox0, GOST28147_SBOX);
    GOST28147SetParameter(&c, key.data(), GOST28147_KEY);
    GOST28147ComputeMAC(data, length, &c);
    Bytes mac(4);
    GOST28147GetParameter(&c, mac.data(), GOST28147_MAC);
    return mac;
}

inline Bytes GostMac64(const Bytes& block, const Bytes& key)
{
    return GostMac(block.data(), 64, key);
}

inline void GostEcb(uint8_t* data, uint32_t blocks, const Bytes& key, bool encrypt)
{
    GOST28147Context c;
    std::memset(&c, 0, sizeof c);
    GOST28147SetParameter(&c, kSBox0, GOST28147_SBOX);
    GOST28147SetParameter(&c, key.data(), GOST28147_KEY);
    if (encrypt)
        GOST28147EncryptECB(data, blocks, &c);
    else
        GOST28147DecryptECB(data, blocks, &c);
}

inline DSTU7624Context* Dstu(const Bytes& key)
{
    DSTU7624Context* c = DSTU7624CreateContext();
    uint32_t bits = 256;
    DSTU7624SetParameter(c, &bits, DSTU7624_BLOCK_BITS);
    DSTU7624SetParameter(c, &bits, DSTU7624_KEY_BITS);
    DSTU7624SetParameter(c, key.data(), DSTU7624_KEY);
    return c;
}

inline Bytes DstuMac(const uint8_t* data, size_t bits, const Bytes& key, uint32_t macBits)
{
    DSTU7624Context* c = Dstu(key);
    DSTU7624ComputeCMAC(data, static_cast<uint32_t>(bits), 0, c);
    DSTU7624SetParameter(c, &macBits, DSTU7624_MAC_BITS);
    Bytes mac(macBits / 8);
    DSTU7624GetParameter(c, mac.data(), DSTU7624_MAC);
    DSTU7624FreeContext(c);
    return mac;
}

inline void DstuEcb(uint8_t* data, uint32_t blocks, const Bytes& key, bool encrypt)
{
    DSTU7624Context* c = Dstu(key);
    if (encrypt)
        DSTU7624EncryptECB(data, blocks, c);
    else
        DSTU7624DecryptECB(data, blocks, c);
    DSTU7624FreeContext(c);
}

// A request block: direction 1, command, mode, parameter, data.
inline Bytes Block(size_t size, uint8_t cmd, uint8_t param, const Bytes& data = {})
{
    Bytes b(size, 0);
    b[0] = 1;
    b[1] = cmd;
    b[3] = param;
    if (!data.empty()) std::memcpy(b.data() + 4, data.data(), std::min(data.size(), size - (size == 76 ? 12 : 8)));
    return b;
}

// MAC over the whole block (MAC field zero in the old form), then the data
// area encrypted for mode 2.
inline void Protect(Bytes& b, const Bytes& key, uint8_t mode)
{
    b[2] = mode;
    if (mode == 0) return;
    if (b.size() == 64) {
        std::memset(b.data() + 60, 0, 4);
        Bytes mac = GostMac64(b, key);
        std::memcpy(b.data() + 60, mac.data(), 4);
        if (mode == 2) GostEcb(b.data() + 4, 7, key, true);
    } else {
        Bytes mac = DstuMac(b.data(), 544, key, 64);
        std::memcpy(b.data() + 68, mac.data(), 8);
        if (mode == 2) DstuEcb(b.data() + 4, 2, key, true);
    }
}

// Checks and opens an answer; false when its MAC does not match or its mode is above 2.
inline bool Verify(Bytes& b, const Bytes& key)
{
    if (b[2] > 2) return false;
    if (b[2] == 0) return true;
    if (b.size() == 64) {
        if (b[2] == 2) GostEcb(b.data() + 4, 7, key, false);
        Bytes mac(b.begin() + 60, b.end());
        std::memset(b.data() + 60, 0, 4);
        return GostMac64(b, key) == mac;
    }
    if (b[2] == 2) DstuEcb(b.data() + 4, 2, key, false);
    return DstuMac(b.data(), 544, key, 64) == Bytes(b.begin() + 68, b.end());
}

inline Bytes Apdu(const Bytes& block)
{
    Bytes a(block.size() + 5, 0);
    a[0] = 0xFF;
    a[1] = 0x14;
    a[4] = static_cast<uint8_t>(block.size() - 1);
    std::memcpy(a.data() + 5, block.data() + 1, block.size() - 1);
    a[block.size() + 4] = static_cast<uint8_t>(block.size() + 2);
    return a;
}

// Sends a block; the answer block with byte 0 set to 2 (empty when the key
// gave no block back).
inline Bytes Exchange(keyemu::Key& key, const Bytes& block)
{
    Bytes answer = key.Transmit(Apdu(block));
    if (answer.size() != block.size() + 1) return {};
    Bytes b(block.size());
    b[0] = 2;
    std::memcpy(b.data() + 1, answer.data(), block.size() - 1);
    return b;
}

inline Bytes DataOf(const Bytes& b, size_t n)
{
    return Bytes(b.begin() + 4, b.begin() + 4 + n);
}

}  // namespace keyemu_test
