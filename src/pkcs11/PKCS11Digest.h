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

// The S-box and start vector of a CKM_GOST34311 parameter: empty, standard
// S-box 0 and a zero start vector; else encoded GOST 34.311 parameters whose
// S-box is given outright or named by a reference that the session's S-box
// objects resolve. A parameter that cannot be read, or a NULL one of a
// non-zero length: CKR_MECHANISM_PARAM_INVALID.
CK_RV ResolveGOST34311Parameters(CK_SESSION_HANDLE session, const void* parameter, CK_ULONG parameterLength,
                                 std::uint8_t sBox[64], std::uint8_t startVector[32]);

// The longest reference text, and the room it takes with its terminator.
enum : std::uint32_t { GOST34311_REFERENCE_CHARS = 128, GOST34311_REFERENCE_BYTES = GOST34311_REFERENCE_CHARS + 1 };

// The S-box of the session's GOST 28147 domain-parameter object whose CKA_ID
// is the reference (a dotted OID of at most 128 characters, terminated).
// None, a longer text, or one that again only names an S-box:
// CKR_MECHANISM_PARAM_INVALID.
CK_RV FindReferencedSBox(CK_SESSION_HANDLE session, const char* reference, std::uint8_t sBox[64]);

// The encoding ResolveGOST34311Parameters reads, typed CKA_VENDOR_DEFINED:
// `value` is the 64-byte S-box for kind 1 and a dotted OID for kind 2;
// `startVector` 32 bytes or NULL for none. The value is array new (delete[]).
bool MakeGOST34311ParametersAttribute(const void* value, const std::uint8_t* startVector, std::uint32_t kind,
                                      CK_ATTRIBUTE* out);

CK_RV DigestInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism);
CK_RV Digest(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pDigest,
             CK_ULONG_PTR pulDigestLen);
CK_RV DigestUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen);
CK_RV DigestFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pDigest, CK_ULONG_PTR pulDigestLen);

#endif
