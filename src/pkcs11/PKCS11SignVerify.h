// The sign and verify workers: a DSTU 4145 private key object has the key sign a hash
// through the device object.
#ifndef QVK_PKCS11_PKCS11SIGNVERIFY_H
#define QVK_PKCS11_PKCS11SIGNVERIFY_H

#include <cstdint>

#include "pkcs11/PKCS11Device.h"
#include "pkcs11/PKCS11PKI.h"
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

// The GOST 34.311 state of CKM_DSTU4145_GOST34311: the key's own S-box from
// its curve parameters and a zero start vector.
CK_RV BeginKeyDigestGOST34311(const PKCS11Object* key, PKIHashState* state);

// The sign and verify entry points' work (the entry layer adds the frame).
CK_RV SignInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey);
CK_RV Sign(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature,
           CK_ULONG_PTR pulSignatureLen);
CK_RV SignUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen);
CK_RV SignFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature, CK_ULONG_PTR pulSignatureLen);
CK_RV VerifyInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey);
CK_RV Verify(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature,
             CK_ULONG ulSignatureLen);
CK_RV VerifyUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen);
CK_RV VerifyFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature, CK_ULONG ulSignatureLen);

#endif
