// The calling contract between the international-algorithms provider (CSPI)
// and its outside library cgintl.so: the function shapes that CSPI calls, the
// parameter codes and the record layouts that both sides agree on.
//
// Every state family works the same way: AcquireState (flag) returns an opaque
// state or null (flag 1 asks for a checking state: values set on it are
// validated as they are set); SetStateParameters (state, value, code) and
// GetStateParameters (state, buffer, code) return nonzero for success;
// ReleaseState (state) frees the state. Data functions return nonzero for
// success. Lengths are byte counts unless a comment says otherwise.
//
// Record layouts chosen for this system (all numbers big-endian, right-aligned
// and zero-filled on the left; sizes fixed):
//   RSA key parameters: the 8-byte profile record {u32 key bits, u32 hash
//     bits}, little-endian; key bits 1024 to 4096 in steps of 8, hash bits
//     160, 224, 256, 384 or 512.
//   RSA public key (600 bytes): u32 key bits (little-endian), modulus (512),
//     public exponent (84).
//   RSA private key (1,200 bytes): the public key, then the primes p (256) and
//     q (256) and 88 zero bytes.
//   RSA signature: key bits / 8 bytes. Hash value: hash bits / 8 bytes.
//   RSA schemes: PKCS#1 v1.5 signatures with the DigestInfo of the profile's
//     hash; with scheme value 21 set (the Ex operations), PSS with MGF1 over
//     the same hash and a salt as long as the hash. Encryption is PKCS#1 v1.5;
//     the decryption mode is 0 PKCS#1 v1.5, 1 OAEP (SHA-1), 2 none.
//   DSA domain parameters (1,208 bytes): u32 modulus bits, u32 subgroup bits
//     (little-endian), then p, q, g of 400 bytes each. Private and public keys:
//     400 bytes. Signature: r (32) then s (32).
//   DH: the DSA domain record; keys and the shared secret 400 bytes.
//   ECDSA curve entry: 540 bytes (CSPIParameters.h). Private key: 76 bytes.
//     Public key: the uncompressed point (0x04, x, y) in 152 bytes, as the
//     base point of the entry. Signature: r (76) then s (76).
//   ECDH shared secret: the x coordinate, field size in bytes (up to 66).
//   AES MAC: GMAC (GCM over no plaintext, the data as additional data) with
//     the parameter record as the IV (record bits / 8 bytes) and a 16-byte
//     tag. TDEA MAC: CBC-MAC over zero-padded data from the given IV.
//   PBKDF2I: PBKDF2 with HMAC-SHA-1, a 20-byte key. PKCS#12 derivations use
//     the password bytes as an ASCII text (converted to BMPString) and SHA-1,
//     except the SHA-2 HMAC key, which uses the hash that its bits name.
#ifndef QVK_CGAPI_CSPIFUNCTIONS_H
#define QVK_CGAPI_CSPIFUNCTIONS_H

#include <cstddef>
#include <cstdint>

// An opaque state of cgintl.so.
using CSPIState = void*;

enum : std::uint32_t {
    CSPI_RSA_PROFILE_BYTES = 8,
    CSPI_RSA_PUBLIC_KEY_BYTES = 600,
    CSPI_RSA_PRIVATE_KEY_BYTES = 1200,
    CSPI_RSA_MAX_BYTES = 512,
    CSPI_DSA_NUMBER_BYTES = 400,
    CSPI_DSA_SIGNATURE_BYTES = 64,
    CSPI_EC_NUMBER_BYTES = 76,
    CSPI_EC_POINT_BYTES = 152,
    CSPI_EC_SIGNATURE_BYTES = 152,
    CSPI_SHA1_BYTES = 20,
    CSPI_PBKDF2I_KEY_BYTES = 20,
    CSPI_AES_BLOCK_BYTES = 16,
    CSPI_TDEA_BLOCK_BYTES = 8,
    CSPI_TDEA_KEY_BYTES = 24,
    CSPI_GCM_TAG_BYTES = 16
};

// Parameter codes.
enum : std::uint32_t {
    CSPI_RSA_KEY_PARAMETERS = 1,
    CSPI_RSA_PRIVATE_KEY = 2,
    CSPI_RSA_PUBLIC_KEY = 4,
    CSPI_RSA_PRNG = 5,
    CSPI_RSA_SIGNATURE = 6,
    CSPI_RSA_HASH = 7,
    CSPI_RSA_SCHEME = 16,
    CSPI_RSA_GENERATE_KEY_PAIR = 17,
    CSPI_RSA_SCHEME_PSS = 21,

    CSPI_DSA_DOMAIN = 1,
    CSPI_DSA_GENERATE_KEY_PAIR = 2,
    CSPI_DSA_PREPARE_SIGNATURE = 3,
    CSPI_DSA_PRIVATE_KEY = 3,
    CSPI_DSA_PUBLIC_FROM_PRIVATE = 4,
    CSPI_DSA_PUBLIC_KEY = 5,
    CSPI_DSA_PRNG = 6,
    CSPI_DSA_SIGNATURE = 7,
    CSPI_DSA_HASH = 8,
    CSPI_DSA_HASH_LENGTH = 9,

    CSPI_ECDSA_CURVE = 1,
    CSPI_ECDSA_GENERATE_PRIVATE = 1,
    CSPI_ECDSA_PUBLIC_FROM_PRIVATE = 2,
    CSPI_ECDSA_PRIVATE_KEY = 5,
    CSPI_ECDSA_PUBLIC_KEY = 6,
    CSPI_ECDSA_PRNG = 8,
    CSPI_ECDSA_SIGNATURE = 9,
    CSPI_ECDSA_HASH = 12,
    CSPI_ECDSA_FIRST_STEP = 13,
    CSPI_ECDSA_HASH_LENGTH = 14,
    CSPI_ECDSA_RANDOM_NONCE = 24,
    CSPI_ECDSA_PARTNER_ANSWER = 27,
    CSPI_ECDSA_PARTNER_VALUE = 29,

    CSPI_TDEA_KEY = 1,
    CSPI_TDEA_IV = 2,

    CSPI_AES_IV = 1,
    CSPI_AES_MAC_PARAMETERS = 7,
    CSPI_AES_GCM_PARAMETERS = 9,
    CSPI_AES_GCM_TAG = 10,

    CSPI_SHA_HASH_BITS = 1,
    CSPI_SHA_HASH = 2,

    CSPI_SHA1HMAC_KEY = 1,
    CSPI_SHA1HMAC_MAC = 2,
    CSPI_SHAHMAC_HASH_BITS = 1,
    CSPI_SHAHMAC_KEY_LENGTH = 2,
    CSPI_SHAHMAC_KEY = 3,
    CSPI_SHAHMAC_MAC = 4,

    CSPI_RC2_EFFECTIVE_BITS = 1,
    CSPI_RC2_KEY_LENGTH = 2,
    CSPI_RC2_KEY = 3,
    CSPI_RC2_IV = 4
};

// AES code 7: a 16-byte parameter record, its length in bits and a mode word.
struct CSPIAESMACParameters {
    std::uint8_t record[16];
    std::uint32_t recordBits;
    std::uint32_t mode;  // 1
};

// AES code 9.
struct CSPIAESGCMParameters {
    const std::uint8_t* iv;
    std::uint32_t ivLength;
    const std::uint8_t* additionalData;
    std::uint32_t additionalDataLength;
};

extern "C" {
// Generic state family.
typedef CSPIState (*CSPIAcquireStateFn)(int checking);
typedef int (*CSPIReleaseStateFn)(CSPIState state);
typedef int (*CSPISetStateParametersFn)(CSPIState state, const void* value, std::uint32_t code);
typedef int (*CSPIGetStateParametersFn)(CSPIState state, void* buffer, std::uint32_t code);
typedef int (*CSPISelfTestFn)(void);
typedef int (*CSPIStateOperationFn)(CSPIState state);
typedef int (*CSPIGenerateParametersFn)(CSPIState state, std::uint32_t mode);

// RSA.
typedef int (*CSPIRSAEncryptDataFn)(CSPIState state, const std::uint8_t* data, std::uint32_t length,
                                    std::uint8_t* output, std::uint32_t* outputLength);
typedef int (*CSPIRSADecryptDataFn)(CSPIState state, const std::uint8_t* data, std::uint32_t length,
                                    std::uint8_t* output, std::uint32_t* outputLength, std::uint32_t mode);

// Ciphers and hashes working on a state.
typedef int (*CSPIDataStateFn)(std::uint8_t* data, std::uint32_t length, CSPIState state);
typedef int (*CSPIConstDataStateFn)(const std::uint8_t* data, std::uint32_t length, CSPIState state);
typedef int (*CSPITDEAGetDataMACFn)(const std::uint8_t* data, const std::uint8_t* iv, std::uint32_t length,
                                    CSPIState state, std::uint8_t* mac);
typedef int (*CSPIAESGetDataMACFn)(const std::uint8_t* data, std::uint32_t length, std::uint8_t* mac,
                                   std::uint32_t macBits, CSPIState state);
typedef int (*CSPIAESExpandKeyFn)(const std::uint8_t* key, std::uint32_t keyBits, std::uint8_t* schedule);
typedef int (*CSPIAESCipherFn)(const std::uint8_t* in, std::uint8_t* out, const std::uint8_t* schedule,
                               std::uint32_t keyBits);

// DH and ECDH.
typedef int (*CSPIDHSharedSecretFn)(const std::uint8_t* domain, const std::uint8_t* privateKey,
                                    const std::uint8_t* peerPublicKey, std::uint8_t* secret);
typedef int (*CSPIECDHSharedSecretFn)(const std::uint8_t* curve, const std::uint8_t* basePoint,
                                      const std::uint8_t* privateKey, const std::uint8_t* peerPublicKey,
                                      std::uint8_t* secret);

// RC2 in CBC mode over whole 8-byte blocks.
typedef int (*CSPIRC2CryptFn)(std::uint8_t* data, std::uint32_t blocks, CSPIState state);

// Password-based derivations.
typedef int (*CSPIPKCS12DeriveFn)(const std::uint8_t* password, std::uint32_t passwordLength, const std::uint8_t* salt,
                                  std::uint32_t saltLength, std::uint32_t iterations, std::uint8_t* out);
typedef int (*CSPIPKCS12DeriveRC2KeyFn)(const std::uint8_t* password, std::uint32_t passwordLength,
                                        const std::uint8_t* salt, std::uint32_t saltLength, std::uint32_t iterations,
                                        std::uint32_t keyLength, std::uint8_t* key);
typedef int (*CSPIPKCS12DeriveSHAHMACKeyFn)(std::uint32_t hashBits, const std::uint8_t* password,
                                            std::uint32_t passwordLength, const std::uint8_t* salt,
                                            std::uint32_t saltLength, std::uint32_t iterations, std::uint8_t* key);
// PBKDF2 over the SHA family: password, password length, hash bits, salt,
// salt length, iteration count, key length, key out.
typedef int (*CSPIPBKDF2SHADeriveFn)(const std::uint8_t* password, std::uint32_t passwordLength, std::uint32_t hashBits,
                                     const std::uint8_t* salt, std::uint32_t saltLength, std::uint32_t iterations,
                                     std::uint32_t keyLength, std::uint8_t* key);

// HMAC entries beyond the state family.
typedef int (*CSPIHMACUpdateFn)(const std::uint8_t* data, std::uint32_t length, CSPIState state);

// Two-party ECDSA (absent from this system's stand-in).
typedef int (*CSPICoupleEncryptKeyFn)(CSPIState state, std::uint8_t* output);
typedef int (*CSPICoupleStep1Fn)(CSPIState state, const std::uint8_t* input);
typedef int (*CSPICouplePart2StepFn)(CSPIState state, std::uint8_t* r1, std::uint8_t* r2, std::uint8_t* r3,
                                     std::uint8_t* r4);
typedef int (*CSPICoupleStep2Fn)(CSPIState state, const std::uint8_t* input1, const std::uint8_t* input2);
typedef int (*CSPICoupleMakeCommonKeyFn)(CSPIState state, const std::uint8_t* partnerPublic, std::uint8_t* commonKey);
}

#endif
