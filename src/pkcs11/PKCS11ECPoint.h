// DSTU 4145 public keys as the CKA_EC_POINT attribute carries them, encoded
// by the PKI formats library. Both answer false when the library cannot
// serve them.
#ifndef QVK_PKCS11_PKCS11ECPOINT_H
#define QVK_PKCS11_PKCS11ECPOINT_H

#include <cstdint>

#include "pkcs11/pkcs11ua.h"
#include "support/DSTU4145Records.h"

// `publicKey` is the key's public-key record (the compressed point, of
// DSTU4145_NUMBER_BYTES), `m` the field degree; the attribute's value
// is array new (delete[]).
bool MakeECPointAttribute(const std::uint8_t* publicKey, std::uint32_t m, CK_ATTRIBUTE* out);
bool DecodeECPoint(const std::uint8_t* value, CK_ULONG length, std::uint8_t publicKey[DSTU4145_NUMBER_BYTES]);
// A point of the given curve from outside (another party's public key):
// decoded, the curve's byte length exactly, and accepted by the crypto
// service provider as a point on the curve other than the point at infinity,
// of order n. CKR_MECHANISM_PARAM_INVALID when it is not; CKR_GENERAL_ERROR
// when the provider cannot tell.
CK_RV DecodeECPointForCurve(const std::uint8_t* value, CK_ULONG length, const DSTU4145FieldRecord* field,
                            const DSTU4145PointRecord* point, std::uint8_t publicKey[DSTU4145_NUMBER_BYTES]);

#endif
