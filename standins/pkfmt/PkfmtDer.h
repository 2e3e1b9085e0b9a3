// DER forms this library gives DSTU 4145 parameters, read and written with
// OpenSSL's generic ASN.1 code:
//
//   DSTU4145Params ::= SEQUENCE {
//     definition CHOICE { ecbinary ECBinary, namedCurve OBJECT IDENTIFIER },
//     dke OCTET STRING OPTIONAL }            -- the 64-byte S-box as held
//   ECBinary ::= SEQUENCE {
//     f BinaryField, a INTEGER, b OCTET STRING, n INTEGER, bp OCTET STRING }
//   BinaryField ::= SEQUENCE { m INTEGER, basis CHOICE {
//     trinomial INTEGER, pentanomial SEQUENCE { k INTEGER, j INTEGER, l INTEGER } } }
//
// b and bp (the compressed base point) are the field elements' bytes, least
// significant first, (m + 7) / 8 of them.
#ifndef PKFMT_PKFMTDER_H
#define PKFMT_PKFMTDER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "support/DSTU4145Records.h"

namespace pkfmt {

struct DerParameters {
    bool named = false;
    std::string oid;  // dotted, when named
    DSTU4145FieldRecord field{};
    DSTU4145PointRecord point{};
    bool hasSBox = false;
    std::uint8_t sBox[64] = {};
};

bool EncodeParametersDer(const DerParameters& in, std::vector<std::uint8_t>* out);
// The cofactor of explicit parameters follows from A (2 for A = 1, 4 for
// A = 0) and the bit length of n is counted.
bool DecodeParametersDer(const std::uint8_t* data, std::size_t length, DerParameters* out);

}  // namespace pkfmt

#endif
