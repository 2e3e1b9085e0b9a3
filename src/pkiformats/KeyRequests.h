// The arguments of the common-key requests and the capacity of the
// sequenced location names. The caller buffers of the key operations:
// - GetECKeyIdentifier's identifier and CopyECPublicKeyFromCertificate's
//   given identifier: PKIF_KEY_IDENTIFIER_MAX bytes (a 20-byte value at the
//   front, the rest zero);
// - the record of CreateDSTU4145RequestForKeyId: PKIF_EC_RECORD_WITH_HASH_BYTES
//   (the 536-byte record and its curve's word, as GetECParametersByCurve
//   gives them);
// - the usages of CreateDSTU4145Request and BuildKeyRequest: a multi-string
//   of dotted OIDs, or null for none;
// - CreateCommonKeyRequest's common key: PKIF_COMMON_KEY_BYTES, or null.
#ifndef QVK_PKIFORMATS_KEYREQUESTS_H
#define QVK_PKIFORMATS_KEYREQUESTS_H

#include <cstdint>

#include "support/PKIInterface.h"

enum : std::uint32_t {
    // ComposeSequencedName's output (bytes, terminator included): the longest
    // location text a certificate gives (1,024 bytes) with room for a "-S"
    // suffix of any 32-bit number. A longer result is refused, the output
    // left empty.
    PKIF_SEQUENCED_NAME_BYTES = 1040,
    // CreateCommonKeyRequest's common public key.
    PKIF_COMMON_KEY_BYTES = 76
};

// BuildCommonKeyRequest and BuildCommonKeyRequest7564 take their arguments
// packed: the common public key (76 bytes, little-endian), the curve both
// holders share (its field record names the basis: a nonzero cofactor word
// is a polynomial basis, zero a normal basis), the S-box (64 bytes, or null
// for the standard one), the extended key usages (a multi-string, or null
// for none) and the blob the encoded request goes to (empty on entry).
struct PKIFCommonKeyRequest {
    const std::uint8_t* publicKey;
    const DSTU4145FieldRecord* field;
    const DSTU4145PointRecord* point;
    const std::uint8_t* sBox;
    const char* usages;
    PKIBlob* out;
};

#endif
