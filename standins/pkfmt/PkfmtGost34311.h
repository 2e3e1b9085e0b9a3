// GOST 34.311 hash parameters (class 4933 / interface 4211): the S-box as
// GOST 28147 parameters carry it and an optional start vector, in DER read
// and written with OpenSSL:
//
//   GOST34311Parameters ::= SEQUENCE {
//     sBox        CHOICE {
//                   table     OCTET STRING (SIZE (64)),  -- the packed S-box
//                   reference OBJECT IDENTIFIER },
//     startVector OCTET STRING (SIZE (32)) OPTIONAL }
#ifndef PKFMT_PKFMTGOST34311_H
#define PKFMT_PKFMTGOST34311_H

#include <cstdint>

namespace pkfmt {

// A new parameters object, or PKI_E_UNKNOWN_CLASS for another interface.
int CreateGost34311Parameters(std::uint32_t interfaceId, void** object);

}  // namespace pkfmt

#endif
