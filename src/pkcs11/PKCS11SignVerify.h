// The sign and verify workers: a DSTU 4145 private key object has the key sign a hash
// through the device object.
#ifndef QVK_PKCS11_PKCS11SIGNVERIFY_H
#define QVK_PKCS11_PKCS11SIGNVERIFY_H

#include <cstdint>

#include "pkcs11/PKCS11Device.h"
#include "pkcs11/pkcs11ua.h"

class PKCS11Object;

// The hash length a DSTU 4145 signing mechanism takes for a value of
// `length` bytes, and the mechanism it is handled as (CKM_DSTU4145_ALT goes
// by the length); 0 when the length does not fit or the mechanism is none.
std::uint32_t SignedValueLength(CK_MECHANISM_TYPE mechanism, CK_ULONG length, CK_MECHANISM_TYPE* handledAs);

// Signs `value` (`valueLength` bytes, a hash by the mechanism) with the key.
// A NULL signature asks for the length; a short buffer answers
// CKR_BUFFER_TOO_SMALL with the length needed. The parameter is not used.
CK_RV PKISign(PKCS11Device* device, CK_MECHANISM_TYPE mechanism, const void* parameter, CK_ULONG parameterLength,
              const PKCS11Object* key, const std::uint8_t* value, CK_ULONG valueLength, std::uint8_t* signature,
              CK_ULONG* signatureLength);

// Checks on the host that `signature` is the public key object's signature of
// `value`. The signature must be exactly the curve's length: a short one is
// never padded out, so no truncation verifies.
CK_RV PKIVerify(PKCS11Device* device, CK_MECHANISM_TYPE mechanism, const PKCS11Object* key, const std::uint8_t* value,
                CK_ULONG valueLength, const std::uint8_t* signature, CK_ULONG signatureLength);

#endif
