// The digest entry points' work: host hashing by mechanism, carried in the
// session's operation from call to call.
#ifndef QVK_PKCS11_PKCS11DIGEST_H
#define QVK_PKCS11_PKCS11DIGEST_H

#include <cstdint>

#include "pkcs11/PKCS11PKI.h"
#include "pkcs11/pkcs11ua.h"

// The length of a digest mechanism's hash; 0 for a mechanism that is not one.
std::uint32_t DigestLength(CK_MECHANISM_TYPE mechanism);

// The GOST 34.311 state of CKM_GOST34311 from its mechanism parameter; an
// empty parameter means standard S-box 0 and a zero start vector.
CK_RV InitDigestGOST34311(CK_SESSION_HANDLE session, const void* parameter, CK_ULONG parameterLength,
                          PKIHashState* state);

CK_RV DigestInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism);
CK_RV Digest(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pDigest,
             CK_ULONG_PTR pulDigestLen);
CK_RV DigestUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen);
CK_RV DigestFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pDigest, CK_ULONG_PTR pulDigestLen);

#endif
