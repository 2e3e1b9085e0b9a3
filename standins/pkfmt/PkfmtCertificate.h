// Certificates, names, key usages, integers and CMS content of the stand-in
// formats library, read with OpenSSL.
#ifndef PKFMT_PKFMTCERTIFICATE_H
#define PKFMT_PKFMTCERTIFICATE_H

#include <cstddef>
#include <cstdint>

#include "PkfmtObject.h"  // the object count
#include "support/PKIInterface.h"

namespace pkfmt {

// A new object of the certificate family, or PKI_E_UNKNOWN_CLASS when the
// pair is not one of them.
int CreateCertificateObject(std::uint32_t classId, std::uint32_t interfaceId, void** object);

// From the library's core (pkfmt.cpp): its blocks.
int CopyToLibraryBlock(PKIBlob* out, const void* data, std::size_t length, bool terminate);
int FreeLibraryBlock(PKIBlob* blob);

// DSTU 4145 parameters from their DER: their kind (PKI_KEY_PARAMETERS_*)
// and, when `parameters` is given, a new parameters object (4880 / 4114)
// holding them. PKI_E_BAD_ENCODING when the DER is not such parameters.
int ReadKeyParameters(const std::uint8_t* der, std::size_t length, void** parameters, std::uint32_t* kind);

}  // namespace pkfmt

#endif
