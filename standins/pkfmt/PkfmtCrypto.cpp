#include "PkfmtCrypto.h"
#include "crypto/SecureWipe.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <sys/random.h>

#include "crypto/DSTU7564.h"
#include "crypto/DSTU7624Modes.h"

namespace pkfmt {

namespace {

struct HashDeleter {
    void operator()(DSTU7564Context* c) const { DSTU7564FreeContext(c); }
};
using HashContext = std::unique_ptr<DSTU7564Context, HashDeleter>;

struct CipherDeleter {
    void operator()(DSTU7624Context* c) const { DSTU7624FreeContext(c); }
};
using CipherContext = std::unique_ptr<DSTU7624Context, CipherDeleter>;

bool Restart(DSTU7564Context* c, std::uint32_t bits)
{
    return DSTU7564SetParameter(c, &bits, DSTU7564_HASH_BITS) == 1;
}

bool Absorb(DSTU7564Context* c, const void* data, std::size_t length)
{
    const std::uint64_t bits = static_cast<std::uint64_t>(length) * 8;
    return DSTU7564UpdateHash(data, CryptoBitLengthLow(bits), CryptoBitLengthHigh(bits), c) == 1;
}

bool Finish(DSTU7564Context* c, std::uint8_t* out)
{
    return DSTU7564FinishHash(c) == 1 && DSTU7564GetParameter(c, out, DSTU7564_HASH) == 1;
}

// DSTU 7624 with a 128-bit block and the given 256-bit key.
CipherContext KeyedCipher(const std::uint8_t* key)
{
    CipherContext c(DSTU7624CreateContext());
    std::uint32_t blockBits = 128, keyBits = 256;
    if (!c || DSTU7624SetParameter(c.get(), &blockBits, DSTU7624_BLOCK_BITS) != 1 ||
        DSTU7624SetParameter(c.get(), &keyBits, DSTU7624_KEY_BITS) != 1 ||
        DSTU7624SetParameter(c.get(), key, DSTU7624_KEY) != 1)
        return nullptr;
    return c;
}

}  // namespace

DerivedKeys::~DerivedKeys()
{
    Wipe(this, sizeof *this);
}

bool KeyIdentifier(std::uint8_t tag, const std::uint8_t* key, std::size_t length, const std::uint8_t* extra,
                   std::size_t extraLength, std::uint8_t* identifier)
{
    HashContext c(DSTU7564CreateContext());
    std::uint8_t digest[32];
    bool ok = c && Restart(c.get(), 256) && Absorb(c.get(), &tag, 1) && Absorb(c.get(), key, length) &&
              (extraLength == 0 || Absorb(c.get(), extra, extraLength)) && Finish(c.get(), digest);
    if (ok) std::memcpy(identifier, digest, 20);
    Wipe(digest, sizeof digest);
    return ok;
}

std::uint32_t DefaultIterations()
{
    const char* text = std::getenv("PKFMT_DEFAULT_ITERATIONS");
    if (text == nullptr || *text == '\0') return DEFAULT_ITERATIONS;
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 10);
    return *end == '\0' && value >= 1 && value <= MAX_ITERATIONS ? static_cast<std::uint32_t>(value)
                                                                 : DEFAULT_ITERATIONS;
}

bool DeriveKeys(const std::string& password, const std::uint8_t* salt, std::uint32_t iterations, DerivedKeys* keys)
{
    if (iterations == 0) iterations = DefaultIterations();
    HashContext c(DSTU7564CreateContext());
    if (!c) return false;
    std::uint8_t chain[32];
    bool ok = Restart(c.get(), 256) && Absorb(c.get(), salt, SALT_BYTES) &&
              Absorb(c.get(), password.data(), password.size()) && Finish(c.get(), chain);
    for (std::uint32_t i = 1; ok && i < iterations; ++i)
        ok = Restart(c.get(), 256) && Absorb(c.get(), chain, sizeof chain) && Absorb(c.get(), salt, SALT_BYTES) &&
             Absorb(c.get(), password.data(), password.size()) && Finish(c.get(), chain);
    std::uint8_t both[64];
    ok = ok && Restart(c.get(), 512) && Absorb(c.get(), chain, sizeof chain) && Absorb(c.get(), salt, SALT_BYTES) &&
         Finish(c.get(), both);
    if (ok) {
        std::memcpy(keys->cipher, both, KEY_BYTES);
        std::memcpy(keys->mac, both + KEY_BYTES, KEY_BYTES);
    }
    Wipe(chain, sizeof chain);
    Wipe(both, sizeof both);
    return ok;
}

bool ApplyCTR(const std::uint8_t* key, const std::uint8_t* iv, std::uint8_t* data, std::size_t length)
{
    if (length == 0) return true;
    CipherContext c = KeyedCipher(key);
    const std::uint64_t bits = static_cast<std::uint64_t>(length) * 8;
    return c && DSTU7624SetParameter(c.get(), iv, DSTU7624_IV) == 1 &&
           DSTU7624EncryptCTR(data, CryptoBitLengthLow(bits), CryptoBitLengthHigh(bits), c.get()) == 1;
}

bool ComputeMAC(const std::uint8_t* key, const std::uint8_t* data, std::size_t length, std::uint8_t* tag)
{
    CipherContext c = KeyedCipher(key);
    const std::uint64_t bits = static_cast<std::uint64_t>(length) * 8;
    std::uint32_t tagBits = MAC_BYTES * 8;
    return c && DSTU7624ComputeCMAC(data, CryptoBitLengthLow(bits), CryptoBitLengthHigh(bits), c.get()) == 1 &&
           DSTU7624SetParameter(c.get(), &tagBits, DSTU7624_MAC_BITS) == 1 &&
           DSTU7624GetParameter(c.get(), tag, DSTU7624_MAC) == 1;
}

bool EqualInConstantTime(const std::uint8_t* a, const std::uint8_t* b, std::size_t length)
{
    std::uint8_t difference = 0;
    for (std::size_t i = 0; i < length; ++i) difference |= static_cast<std::uint8_t>(a[i] ^ b[i]);
    return difference == 0;
}

bool RandomBytes(std::uint8_t* out, std::size_t length)
{
    while (length > 0) {
        ssize_t got = getrandom(out, length, 0);
        if (got <= 0) return false;
        out += got;
        length -= static_cast<std::size_t>(got);
    }
    return true;
}

std::string Cp1251ToUtf8(const std::string& text)
{
    // Code points of bytes 0x80..0xBF; 0xC0..0xFF are U+0410..U+044F.
    static const std::uint16_t high[64] = {
        0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
        0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0xFFFD, 0x2122,
        0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
        0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
        0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457};
    std::string out;
    for (unsigned char ch : text) {
        std::uint32_t cp = ch < 0x80 ? ch : ch < 0xC0 ? high[ch - 0x80] : 0x0410u + (ch - 0xC0u);
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

void Wipe(void* data, std::size_t length)
{
    qvkcrypto::SecureWipe(data, length);
}

}  // namespace pkfmt
