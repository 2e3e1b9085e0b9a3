// Helpers of the stand-in cgintl.so: exports checked against the calling
// shapes the CSPI binds them with, big-endian numbers of fixed width, and the
// state objects' common part.
#ifndef QVK_STANDINS_CGLIB_CGINTLCOMMON_H
#define QVK_STANDINS_CGLIB_CGINTLCOMMON_H

#include <openssl/bn.h>
#include <openssl/evp.h>

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "CGExport.h"
#include "cgapi/CSPIFunctions.h"
#include "cgapi/CSPIRecords.h"
#include "crypto/ByteOrder.h"

#define CGI_SHAPE(name, type) static_assert(std::is_same_v<decltype(&name), type>, #name " has the wrong shape")

namespace cgintl {

using qvkcrypto::LoadLE32;
using qvkcrypto::StoreLE32;

// A big number that frees itself.
class Number {
public:
    Number() : bn_(BN_new()) {}
    ~Number() { BN_clear_free(bn_); }
    Number(const Number&) = delete;
    Number& operator=(const Number&) = delete;
    BIGNUM* get() const { return bn_; }
    // Reads `size` big-endian bytes.
    bool Load(const std::uint8_t* bytes, std::size_t size)
    {
        return BN_bin2bn(bytes, static_cast<int>(size), bn_) != nullptr;
    }
    // Writes right-aligned into `size` bytes; false when it does not fit.
    bool Store(std::uint8_t* out, std::size_t size) const
    {
        return BN_bn2binpad(bn_, out, static_cast<int>(size)) == static_cast<int>(size);
    }
    int Bits() const { return BN_num_bits(bn_); }

private:
    BIGNUM* bn_;
};

inline std::uint32_t Word(const void* value)
{
    std::uint32_t w;
    std::memcpy(&w, value, sizeof(w));
    return w;
}

// Takes a word from 1 to `most` into *into: 1, or 0 (and *into as it was).
inline int SetBounded(const void* value, std::uint32_t most, std::uint32_t* into)
{
    std::uint32_t word = Word(value);
    if (word == 0 || word > most) return 0;
    *into = word;
    return 1;
}

// The digest that a hash size in bits names, or null.
const EVP_MD* DigestOfBits(std::uint32_t bits);

// The random bytes of the library come from OpenSSL's generator; the PRNG
// handle that the provider hands in only has to be present.
bool RandomBytes(std::uint8_t* out, std::size_t size);

// The hash and the signature (r then s, each `Half` bytes) of a DSA-style
// state, with the parameter codes that set and read them.
template <std::size_t Half>
struct SignedHash {
    std::uint32_t hashLength = 0;
    std::uint8_t hash[64] = {};
    bool hasHash = false;
    std::uint8_t signature[2 * Half] = {};
    bool hasSignature = false;

    int SetSignature(const std::uint8_t* bytes)
    {
        std::memcpy(signature, bytes, sizeof(signature));
        hasSignature = true;
        return 1;
    }
    // 1 to 64 bytes; the hash itself is set after its length.
    int SetHashLength(const void* value) { return SetBounded(value, sizeof(hash), &hashLength); }
    int SetHash(const std::uint8_t* bytes)
    {
        if (hashLength == 0) return 0;
        std::memcpy(hash, bytes, hashLength);
        hasHash = true;
        return 1;
    }
    int GetSignature(std::uint8_t* out) const
    {
        if (!hasSignature) return 0;
        std::memcpy(out, signature, sizeof(signature));
        return 1;
    }
    // Keeps r and s of a signature just made.
    int Keep(const BIGNUM* r, const BIGNUM* s)
    {
        hasSignature = BN_bn2binpad(r, signature, Half) == static_cast<int>(Half) &&
                       BN_bn2binpad(s, signature + Half, Half) == static_cast<int>(Half);
        return hasSignature ? 1 : 0;
    }
    // Hands r and s of the kept signature to a signature object of the
    // algorithm through its set0 function; false (and nothing leaked) when
    // sig is null or a number cannot be had.
    template <typename Sig>
    bool Fill(Sig* sig, int (*set0)(Sig*, BIGNUM*, BIGNUM*)) const
    {
        BIGNUM* r = BN_bin2bn(signature, Half, nullptr);
        BIGNUM* s = BN_bin2bn(signature + Half, Half, nullptr);
        if (sig != nullptr && r != nullptr && s != nullptr && set0(sig, r, s) == 1) return true;
        BN_free(r);
        BN_free(s);
        return false;
    }
};

}  // namespace cgintl

#endif
