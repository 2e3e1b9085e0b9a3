// DSTU 4145 curve parameters as the CKA_EC_PARAMS attribute carries them:
// the standard polynomial-basis curves and GOST 28147 S-boxes of the module's
// crypto service provider, and the encodings of the PKI formats library.
// Every operation answers false when the provider or the library cannot
// serve it.
#ifndef QVK_PKCS11_PKCS11DSTU4145_H
#define QVK_PKCS11_PKCS11DSTU4145_H

#include <cstdint>

#include "pkcs11/pkcs11ua.h"
#include "support/DSTU4145Records.h"

bool GetStandardCurveRecords(std::uint32_t index, DSTU4145FieldRecord* field, DSTU4145PointRecord* point);
bool GetStandardSBoxRecord(std::uint32_t index, std::uint8_t sBox[64]);
bool FindStandardCurveIndex(const DSTU4145FieldRecord* field, const DSTU4145PointRecord* point, std::uint32_t* index);
bool FindStandardSBoxIndex(const std::uint8_t sBox[64], std::uint32_t* index);

// The encoded parameters; the attribute's value is array new (delete[]).
bool EncodeECParams(const DSTU4145FieldRecord* field, const DSTU4145PointRecord* point, const std::uint8_t* sBox,
                    CK_ATTRIBUTE* out);
bool DecodeECParams(const std::uint8_t* value, CK_ULONG length, DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                    std::uint8_t sBox[64]);
// Decodes, then has the provider check the set; a set that passed is
// remembered until ForgetCheckedECParams (run when the services stop).
bool DecodeAndCheckECParams(const std::uint8_t* value, CK_ULONG length, DSTU4145FieldRecord* field,
                            DSTU4145PointRecord* point, std::uint8_t sBox[64]);

void ForgetCheckedECParams();

bool ECParamsToStandardIndexes(const std::uint8_t* value, CK_ULONG length, std::uint32_t* curve, std::uint32_t* sBox);
bool AreStandardIndexesValid(std::uint32_t curve, std::uint32_t sBox);
bool MakeStandardECParamsAttribute(std::uint32_t curve, std::uint32_t sBox, CK_ATTRIBUTE* out);
// GOST 28147 parameters as CKA_VENDOR_KEY_INFO: exactly one of an S-box
// (64 bytes) and a reference text (a dotted OID naming one).
bool MakeSBoxInfoAttribute(const std::uint8_t* sBox, const char* reference, CK_ATTRIBUTE* out);
// sBox is filled for an S-box, reference (may be null) for a reference.
bool DecodeGOST28147Parameters(const std::uint8_t* value, CK_ULONG length, bool* isReference, std::uint8_t sBox[64],
                               char* reference, std::uint32_t referenceBytes);
bool MakeStandardSBoxInfoAttribute(std::uint32_t index, CK_ATTRIBUTE* out);
bool SameECParams(const std::uint8_t* value1, CK_ULONG length1, const std::uint8_t* value2, CK_ULONG length2);

// Run at every session open (its result ignored): one CKO_DOMAIN_PARAMETERS
// object per standard curve (S-box 0) and per standard S-box, labelled
// "EC Params (%d bits)", kept in the session's table but reading as token
// objects.
CK_RV CreateDomainParameterObjects(CK_SESSION_HANDLE session);

#endif
