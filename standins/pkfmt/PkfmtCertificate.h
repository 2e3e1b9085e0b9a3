// Certificates, names, key usages, integers and CMS content of the stand-in
// formats library, read with OpenSSL.
#ifndef PKFMT_PKFMTCERTIFICATE_H
#define PKFMT_PKFMTCERTIFICATE_H

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "support/PKIInterface.h"

namespace pkfmt {

// A new object of the certificate family, or PKI_E_UNKNOWN_CLASS when the
// pair is not one of them.
int CreateCertificateObject(std::uint32_t classId, std::uint32_t interfaceId, void** object);

// From the library's core (pkfmt.cpp): its blocks and its object count.
int CopyToLibraryBlock(PKIBlob* out, const void* data, std::size_t length, bool terminate);
int FreeLibraryBlock(PKIBlob* blob);
std::atomic<int>& LiveObjectCount();

}  // namespace pkfmt

#endif
