// The PKI bridge: the module's crypto service provider and the interface of
// the outside PKI formats library, started in C_Initialize and stopped in
// C_Finalize, with the hash wrappers, the PIN digest and the attribute
// helpers that the framework's PKI work shares.
//
// Both handles are written only while C_Initialize and C_Finalize run (which
// never overlap other calls) and read without a lock.
#ifndef QVK_PKCS11_PKCS11PKI_H
#define QVK_PKCS11_PKCS11PKI_H

#include <cstdint>

#include "pkcs11/pkcs11ua.h"
#include "support/PKIInterface.h"
#include "wemu.h"

class CSP;

extern CSP* ModuleCSP;
extern IPKIInterface* PKIInterface;

// Switches to the module's folder, creates the CSP (which binds the outside
// crypto libraries found there) and loads the PKI formats library; hands the
// CSP to a library of version above 264 that asks for it. The previous
// folder is restored in every case. On failure nothing stays made.
bool StartPKIServices(const void* prngSeed);
void StopPKIServices();
bool IsPKILibraryReady();
bool PKILibraryHasOptionA();
bool PKILibraryHasOptionB();

// Hash state between calls: the CSP's opaque handle, null when none.
typedef void* PKIHashState;

// sBox NULL: standard S-box 0; startVector NULL: 32 zero bytes.
bool BeginDigestGOST34311(const std::uint8_t* sBox, const std::uint8_t* startVector, PKIHashState* state);
bool UpdateDigestGOST34311(PKIHashState* state, const std::uint8_t* data, std::uint32_t length);
// Finishes and releases the state; out (32 bytes) may be NULL.
bool FinishDigestGOST34311(PKIHashState* state, std::uint8_t* out);
// outputLength 32, 48 or 64.
bool BeginDigestDSTU7564(std::uint32_t outputLength, PKIHashState* state);
bool UpdateDigestDSTU7564(PKIHashState* state, const std::uint8_t* data, std::uint32_t length);
bool FinishDigestDSTU7564(PKIHashState* state, std::uint8_t* out);
// Releases an operation's hash state by its mechanism's hash family
// (operation kinds 2 sign, 3 verify, 4 digest); other kinds keep nothing.
void ReleaseDigestState(std::uint32_t operationKind, CK_MECHANISM_TYPE mechanism, PKIHashState* state);

// GOST 34.311 of the PIN under S-box 0 and a zero start vector.
bool DigestPIN(const std::uint8_t* pin, std::uint32_t length, std::uint8_t out[32]);
bool VerifyPINDigest(const std::uint8_t* pin, std::uint32_t length, const std::uint8_t expected[32]);

// Attributes made here own a copy of their value (array new); the receiver
// frees it with delete[].
bool MakeAttribute(CK_ATTRIBUTE_TYPE type, const void* data, CK_ULONG length, CK_ATTRIBUTE* out);
bool MakeAttributeFromBlob(CK_ATTRIBUTE_TYPE type, const PKIBlob* blob, CK_ATTRIBUTE* out);
// CK_DATE: "YYYYMMDD".
bool MakeDateAttribute(CK_ATTRIBUTE_TYPE type, const SYSTEMTIME* time, CK_ATTRIBUTE* out);
// A 600-byte big-endian field without its leading zero bytes.
bool MakeUnpaddedAttribute(CK_ATTRIBUTE_TYPE type, const std::uint8_t field[600], CK_ATTRIBUTE* out);
// dst zero-filled with src at its end; false when src does not fit.
bool PadLeftCopy(const std::uint8_t* src, std::uint32_t srcLength, std::uint8_t* dst, std::uint32_t dstLength);
// The object's encoding (through the library's codec) as an attribute.
bool EncodePKIObjectAttribute(CK_ATTRIBUTE_TYPE type, IPKIObject* object, CK_ATTRIBUTE* out);
// A new object of the class and interface decoded from the data; the caller
// releases it.
bool DecodePKIObject(const std::uint8_t* data, std::uint32_t length, std::uint32_t classId, std::uint32_t interfaceId,
                     IPKIObject** out);

#endif
