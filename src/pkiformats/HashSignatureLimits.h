// Capacities of the caller buffers that the facade's signature, key
// identifier and public-key operations fill. A value that would not fit is
// refused (the operation answers 0) and the buffer is left as it was.
#ifndef QVK_PKIFORMATS_HASHSIGNATURELIMITS_H
#define QVK_PKIFORMATS_HASHSIGNATURELIMITS_H

#include <cstdint>

enum : std::uint32_t {
    // DecodeDSTU4145Signature and the signing buffers: the provider's
    // signature size (r and s of up to 76 bytes each).
    PKIF_DSTU4145_SIGNATURE_MAX = 152,
    // DecodeRSASignature; an RSA key whose signature would be longer is
    // refused for signing.
    PKIF_SIGNATURE_MAX = 1152,
    // DecodeECDSASignature, EncodeECDSASignature: the provider's r and s of
    // 76 bytes each; a shorter value is zero-filled to the record's end.
    PKIF_ECDSA_SIGNATURE_RECORD = 152,
    // ComputeKeyIdentifier: 20-byte identifiers and 32-byte ones, at the
    // front, the rest zero-filled.
    PKIF_KEY_IDENTIFIER_MAX = 32,
    // GetDSTU4145PublicKey, GetRSAPublicKey, GetECPublicKey.
    PKIF_DSTU4145_PUBLIC_KEY_BYTES = 76,
    PKIF_RSA_PUBLIC_KEY_BYTES = 1200,
    PKIF_RSA_PROFILE_BYTES = 8,
    // What key slot 9 may write: the RSA private key's 1,200 words.
    PKIF_RSA_PRIVATE_KEY_BYTES = 4800,
    PKIF_EC_PUBLIC_KEY_BYTES = 152,
    PKIF_EC_PRIVATE_KEY_BYTES = 76,
    // GetECParametersByCurve and the EC verification: the 536-byte record
    // followed by one word, the hash size in bits of the curve chosen.
    PKIF_EC_RECORD_BYTES = 536,
    PKIF_EC_RECORD_WITH_HASH_BYTES = 540
};

#endif
