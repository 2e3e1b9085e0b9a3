// Key-agreement UKM objects of the stand-in formats library (class 4928,
// interfaces 4199 and 4263 on one object), in DER read and written with
// OpenSSL, in the shape of the CMS shared information of elliptic-curve
// key agreement:
//
//   UKM ::= SEQUENCE {
//     keyInfo     AlgorithmIdentifier,          -- the agreed key's wrap algorithm, no parameters
//     entityUInfo [0] EXPLICIT OCTET STRING OPTIONAL,  -- the shared data, absent when empty
//     suppPubInfo [2] EXPLICIT OCTET STRING }   -- the key length in bits, 4 bytes big-endian
#ifndef PKFMT_PKFMTUKM_H
#define PKFMT_PKFMTUKM_H

#include <cstdint>

namespace pkfmt {

// A new UKM object, or PKI_E_UNKNOWN_CLASS for another interface.
int CreateUkmObject(std::uint32_t interfaceId, void** object);

}  // namespace pkfmt

#endif
