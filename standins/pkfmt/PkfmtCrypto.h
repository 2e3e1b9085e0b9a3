// Password protection of this library's containers and entries, built on
// the project's own DSTU 7564 hash and DSTU 7624 cipher.
//
// Derivation: T1 = H256(salt || password), Ti = H256(Ti-1 || salt || password)
// for i = 2..iterations, then K = H512(Tn || salt); the first 32 bytes of K
// key the cipher (DSTU 7624, 128-bit block, 256-bit key), the last 32 the MAC
// (DSTU 7624 CMAC with the same variant, 128-bit tag). H256 and H512 are
// DSTU 7564 with 256- and 512-bit output.
#ifndef PKFMT_PKFMTCRYPTO_H
#define PKFMT_PKFMTCRYPTO_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pkfmt {

using Bytes = std::vector<std::uint8_t>;

enum : std::uint32_t {
    SALT_BYTES = 16,
    IV_BYTES = 16,
    MAC_BYTES = 16,
    KEY_BYTES = 32,
    // A protection value of 0 stands for this count, unless the environment
    // variable PKFMT_DEFAULT_ITERATIONS (read at each derivation) names
    // another one from 1 to MAX_ITERATIONS: tests choose a small count there.
    DEFAULT_ITERATIONS = 10000,
    // Encodings asking for more are refused as malformed, so that a damaged
    // or crafted container costs at most twice an ordinary derivation.
    MAX_ITERATIONS = 20000
};

// The count a protection value of 0 stands for (see DEFAULT_ITERATIONS).
std::uint32_t DefaultIterations();

struct DerivedKeys {
    std::uint8_t cipher[KEY_BYTES];
    std::uint8_t mac[KEY_BYTES];
    ~DerivedKeys();
};

// iterations 0 means DefaultIterations(). False on a failure of the primitives.
bool DeriveKeys(const std::string& password, const std::uint8_t* salt, std::uint32_t iterations, DerivedKeys* keys);

// A 20-byte key identifier: the first 20 bytes of H256(tag || key || extra).
// The tag keeps the identifiers of the library's three identifier operations
// apart; extra (may be empty) is the S-box of the DSTU 4145 form.
bool KeyIdentifier(std::uint8_t tag, const std::uint8_t* key, std::size_t length, const std::uint8_t* extra,
                   std::size_t extraLength, std::uint8_t* identifier);

// DSTU 7624 CTR in place (encryption and decryption are the same).
bool ApplyCTR(const std::uint8_t* key, const std::uint8_t* iv, std::uint8_t* data, std::size_t length);

// DSTU 7624 CMAC, 128-bit tag.
bool ComputeMAC(const std::uint8_t* key, const std::uint8_t* data, std::size_t length, std::uint8_t* tag);

bool EqualInConstantTime(const std::uint8_t* a, const std::uint8_t* b, std::size_t length);

// Bytes from the operating system's generator.
bool RandomBytes(std::uint8_t* out, std::size_t length);

// Windows-1251 text to UTF-8 (the one undefined byte, 0x98, becomes U+FFFD).
std::string Cp1251ToUtf8(const std::string& text);

// Zeroes memory in a way the optimiser keeps.
void Wipe(void* data, std::size_t length);

}  // namespace pkfmt

#endif
