// Steps the signer and signed-data operations share: the signer hash the
// library computes (bounded before it is written), the issuer and serial of
// a certificate as a signer identifier takes them, and the checks of a
// signer's signing-certificate entry and of the data a verification covers.
#ifndef QVK_PKIFORMATS_SIGNEDDATAINTERNAL_H
#define QVK_PKIFORMATS_SIGNEDDATAINTERNAL_H

#include <cstdint>
#include <memory>

#include "pkiformats/ISPKIFormats.h"
#include "pkiformats/KeyBuffers.h"
#include "pkiformats/SignedDataLimits.h"

namespace pkif {

// Hash lengths of the hash-algorithm codes 0 to 9 (0: no hash type).
inline constexpr std::uint32_t kCodeHashLengths[10] = {0, 32, 20, 28, 32, 48, 64, 32, 48, 64};

// The signer's own hash of its signature value (slot 32): its length is
// asked first, and one above PKIF_SIGNER_HASH_MAX is refused before the
// library writes anything. `hash` holds PKIF_SIGNER_HASH_MAX bytes.
bool ReadSignerHash(IPKIObject* signer, std::uint8_t* hash, std::uint32_t* length);

// Whether the signer offers the feature of slot 9.
bool SignerHasFeature(IPKIObject* signer, std::uint32_t feature);

// A certificate's issuer as wide text (slot 9) and its serial number loaded
// into an integer object (slot 7, class 4877); `issuer` holds
// PKIF_NAME_TEXT_BYTES wide characters.
bool ReadIssuerAndSerial(IPKIInterface* formats, IPKIObject* certificate, wchar_t* issuer, ObjectRef& serial);

// The general form of a signing-certificate entry against the signer's
// certificate: the entry must give one of the known hash sizes (160, 224,
// 256, 384, 512 bits), the certificate's hash of that size must equal the
// entry's hash in all its bytes, and a named issuer and serial must equal
// the signer's (the whole wide string, 20 bytes). `attribute` is the
// signer's signing-certificate attribute (slot 35), which must hold exactly
// one entry.
bool CheckSigningCertificateEntry(IPKIObject* attribute, IPKIObject* certificate, const wchar_t* signerIssuer,
                                  const std::uint8_t* signerSerial);

// What a verification covers when the caller gives data and the message may
// carry content: with both, they must be equal. `data` is the caller's
// (may be null or empty), `content` what the message carries (null when it
// carries none). Answers false when nothing is there to verify or the two
// differ, else sets `covered` to the bytes to verify.
bool ChooseVerifiedData(const PKIBlob* data, const PKIBlob* content, const PKIBlob** covered);

// The encapsulated content type of a message (slot 16) into the facade's
// buffer of PKIF_CONTENT_TYPE_BYTES: the library is told that size, and a
// type that does not fit with its terminator is refused.
inline bool ReadContentType(IPKIObject* signedData, char* type)
{
    std::uint32_t length = PKIF_CONTENT_TYPE_BYTES;
    if (static_cast<IPKISignedDataSigners*>(signedData)->GetContentType(type, &length) != PKI_OK) return false;
    if (length >= PKIF_CONTENT_TYPE_BYTES) return false;
    type[length] = 0;
    return true;
}

// The signer at `index` (slot 11), or with -1 the certificate's signer
// found through the facade.
inline bool TakeSigner(ISPKIFormats& facade, IPKIObject* signedData, std::int32_t index, IPKIObject* certificate,
                       ObjectRef& signer)
{
    if (index >= 0)
        return static_cast<IPKISignedDataSigners*>(signedData)
                       ->GetSigner(static_cast<std::uint32_t>(index), signer.Out()) == PKI_OK &&
               signer;
    if (index != -1 || !certificate) return false;
    return facade.FindSignerByCertificate(signedData, certificate, signer.Out()) == 1 && signer;
}

// The usage a signer's certificate needs: digital signature, else
// non-repudiation.
inline bool AllowsSigning(ISPKIFormats& facade, IPKIObject* certificate)
{
    return facade.HasKeyUsage(1, certificate) == 1 || facade.HasKeyUsage(2, certificate) == 1;
}

}  // namespace pkif

#endif
