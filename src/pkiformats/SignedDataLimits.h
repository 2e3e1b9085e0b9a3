// Capacities of the caller buffers that the signer and signed-data
// operations fill, and of the facade's own buffers for texts read from a
// peer's message. A value that would not fit is refused (the operation
// answers 0) and the buffer is left as it was.
#ifndef QVK_PKIFORMATS_SIGNEDDATALIMITS_H
#define QVK_PKIFORMATS_SIGNEDDATALIMITS_H

#include <cstdint>

enum : std::uint32_t {
    // The signature-value hashes (GetSignatureValueHashRSA, ...ECDSA,
    // ...DSTU7564, HashSignatureValueECDSA) and the certificate-identifier
    // hashes (GetCertificateIdentifierHashType, GetEntryIdentifierHashType):
    // a hash the library reports as longer is refused before it is written.
    PKIF_SIGNER_HASH_MAX = 64,
    // A signature value read from a signer to be hashed here.
    PKIF_SIGNER_SIGNATURE_VALUE_MAX = 152,
    // A content type or digest OID read from a message, terminator included.
    PKIF_CONTENT_TYPE_BYTES = 64
};

#endif
