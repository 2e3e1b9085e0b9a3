// GOST 28147 parameters (class 4932 / interface 4210): an explicit S-box or
// a reference to one, in DER read and written with OpenSSL:
//
//   GOST28147Parameters ::= CHOICE {
//     sBox      OCTET STRING (SIZE (64)),   -- the packed S-box as held
//     reference OBJECT IDENTIFIER }
#ifndef PKFMT_PKFMTGOST28147_H
#define PKFMT_PKFMTGOST28147_H

#include <cstddef>
#include <cstdint>

#include "PkfmtDerObject.h"
#include "support/PKIInterface.h"

namespace pkfmt {

// A new parameters object, or PKI_E_UNKNOWN_CLASS for another interface.
int CreateGost28147Parameters(std::uint32_t interfaceId, void** object);

}  // namespace pkfmt

#endif
