// PKCS#11 attributes taken from a DER certificate (a CKA_VALUE attribute)
// through the PKI formats library's certificate object, and the choice of a
// certificate by key kind and key usage.
//
// Extractors answer CKR_ATTRIBUTE_TYPE_INVALID for a NULL input or one that
// is not CKA_VALUE and CKR_ATTRIBUTE_VALUE_INVALID when the certificate does
// not load. Attributes handed out own their value (delete[]).
#ifndef QVK_PKCS11_PKCS11CERTIFICATEATTRIBUTES_H
#define QVK_PKCS11_PKCS11CERTIFICATEATTRIBUTES_H

#include <cstdint>

#include "pkcs11/pkcs11ua.h"

// Key kinds of certificates.
enum : std::uint32_t { CERTIFICATE_KEY_DSTU4145 = 1, CERTIFICATE_KEY_RSA = 2, CERTIFICATE_KEY_ECDSA = 4 };

// Key-usage bits a certificate without the key-usage extension is taken to
// have: every bit of X.509 KeyUsage (its use is not restricted).
constexpr std::uint32_t CERTIFICATE_ANY_KEY_USAGE = 0x1FF;

CK_RV GetCertificateSubjectAttribute(const CK_ATTRIBUTE* certificate, CK_ATTRIBUTE* subject);
// CKA_LABEL: the display name in UTF-8, at most 64 bytes, no terminator.
CK_RV GetCertificateLabelAttribute(const CK_ATTRIBUTE* certificate, CK_ATTRIBUTE* label);
CK_RV GetCertificateKeyIdAttribute(const CK_ATTRIBUTE* certificate, CK_ATTRIBUTE* id);
CK_RV GetCertificateIssuerSerialAttributes(const CK_ATTRIBUTE* certificate, CK_ATTRIBUTE* issuer, CK_ATTRIBUTE* serial);
CK_RV GetCertificateValidityAttributes(const CK_ATTRIBUTE* certificate, CK_ATTRIBUTE* start, CK_ATTRIBUTE* end);
CK_RV GetCertificateRSAKeyAttributes(const CK_ATTRIBUTE* certificate, CK_ATTRIBUTE* modulusBits,
                                     CK_ATTRIBUTE* exponent);
CK_RV GetCertificateModulusAttribute(const CK_ATTRIBUTE* certificate, CK_ATTRIBUTE* modulus);
// EC keys of certificates are not converted to attributes yet: always fails
// (CKR_HOST_MEMORY after the key is read).
CK_RV GetCertificateECKeyAttributes(const CK_ATTRIBUTE* certificate, CK_ATTRIBUTE* params, CK_ATTRIBUTE* point);

// Each output optional; key: modulus then exponent, 600 big-endian bytes each.
CK_RV MakeRSAPublicKeyAttributes(std::uint32_t modulusBits, const std::uint8_t key[1200], CK_ATTRIBUTE* modulus,
                                 CK_ATTRIBUTE* exponent, CK_ATTRIBUTE* bits);

// True when the certificate loads, has that key kind and every wanted usage
// bit; then out = CKA_VALUE with a copy of the bytes.
bool SelectCertificateByUsage(const std::uint8_t* certificate, std::uint32_t length, std::uint32_t kind,
                              std::uint32_t usage, CK_ATTRIBUTE* out);

// The PKCS#11 key type of a DER certificate's key: CKK_RSA, CKK_EC, or for
// a DSTU 4145 key CKK_DSTU4145_PB when its curve has a polynomial basis and
// CKK_DSTU4145 otherwise. CKR_ATTRIBUTE_VALUE_INVALID when the certificate
// does not load or its key is of another kind.
CK_RV GetCertificateKeyType(const std::uint8_t* certificate, std::uint32_t length, CK_KEY_TYPE* keyType);

// The certificate's key kind, key-usage bits and public key: 76 bytes of a
// DSTU 4145 key (kind 1) or the 600-byte RSA modulus (kind 2).
bool ReadCertificateKey(const std::uint8_t* certificate, std::uint32_t length, std::uint32_t* kind,
                        std::uint32_t* usage, std::uint8_t key[600], std::uint32_t* keyLength);

#endif
