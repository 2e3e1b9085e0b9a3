// Steps of the CMS signed-data operations that both signature families
// share: the signing-certificate check of a verification, the narrowing of a
// signer's wide name into a caller's text, and the reads of a certificate's
// identity and of a message's last signer.
#ifndef QVK_PKIFORMATS_SPKIFORMATSSIGNEDDATA_H
#define QVK_PKIFORMATS_SPKIFORMATSSIGNEDDATA_H

#include <cstdint>
#include <string>

#include "pkiformats/ISPKIFormats.h"
#include "pkiformats/SPKIFormatsInternal.h"

namespace pkif {

inline constexpr char kOidData[] = "1.2.840.113549.1.7.1";
inline constexpr char kOidSignedData[] = "1.2.840.113549.1.7.2";
inline constexpr char kOidGOST34311[] = "1.2.804.2.1.1.1.1.2.1";
inline constexpr std::uint32_t kSignerSerialBytes = 20;
// Capacity of the content-type buffers that a peer's message is read into.
inline constexpr std::uint32_t kContentTypeBytes = PKIF_OID_TEXT_BYTES;

// A signer's wide name as Windows-1251 text into `capacity` bytes; a name
// that does not fit (or is not terminated within PKI_SIGNER_NAME_BUFFER_CHARS)
// leaves the text empty and answers false.
bool NarrowSignerName(IPKIInterface* formats, const wchar_t* wide, char* text, std::uint32_t capacity);

// The signing-certificate entry of a signer against the certificate: the
// attribute must hold exactly one entry; its GOST 34.311 form (when
// `gostForm` allows it and the entry has it) is compared over the 32-byte
// hash, the general form over the whole hash of a known size (160, 224, 256,
// 384 or 512 bits); an entry that names an issuer and serial must name the
// signer's (whole wide name, 20 bytes).
bool SigningCertificateMatches(IPKIObject* attribute, IPKIObject* certificate, IPKIObject* parameters, bool gostForm,
                               const wchar_t* signerIssuer, const std::uint8_t* signerSerial);

// The issuer text (slot 9) and 20-byte serial (slot 7) of a certificate.
bool CertificateIdentity(IPKIInterface* formats, IPKIObject* certificate, std::string& issuer, std::uint8_t* serial);

// The issuer as wide text into PKI_SIGNER_NAME_BUFFER_CHARS and the serial as an
// integer object (4877 / 4111), as a signer identifier takes them.
bool CertificateIssuerAndSerialObject(IPKIInterface* formats, IPKIObject* certificate, wchar_t* issuer,
                                      ObjectRef& serial);

// The message's last signer (count - 1).
bool LastSigner(IPKIObject* signedData, ObjectRef& signer);

}  // namespace pkif

#endif
