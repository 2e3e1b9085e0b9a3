// The value both GOST parameter objects carry: a 64-byte packed S-box, or a
// dotted OID that names one. Kind 1 is the S-box and 2 the reference in both
// objects' interfaces.
#ifndef PKFMT_PKFMTSBOXCHOICE_H
#define PKFMT_PKFMTSBOXCHOICE_H

#include <cstdint>
#include <string>

#include "PkfmtAsn1.h"
#include "support/PKIInterface.h"

namespace pkfmt {

class SBoxChoice {
public:
    static constexpr std::uint32_t kSBox = 1;
    static constexpr std::uint32_t kReference = 2;
    static constexpr std::size_t kMaxReferenceChars = 128;

    std::uint32_t kind() const { return kind_; }

    int SetSBox(const std::uint8_t* sBox);
    // PKI_E_INVALID_ARGUMENT unless it is a dotted OID within the limit.
    int SetReference(const char* reference);

    // The kind, and the value of that kind into the outputs given (the
    // reference with its NUL, within `referenceBytes`); PKI_E_NOT_SET while
    // nothing was set.
    int Get(std::uint32_t* kind, std::uint8_t* sBox, char* reference, std::uint32_t referenceBytes) const;

    // The value as DER: an OCTET STRING or an OBJECT IDENTIFIER.
    Asn1Type Encode() const;
    // Takes the value from an OCTET STRING of 64 bytes or an OBJECT
    // IDENTIFIER; PKI_E_BAD_ENCODING for anything else.
    int Decode(const ASN1_TYPE* value);

private:
    std::uint32_t kind_ = 0;
    std::uint8_t sBox_[PKI_SBOX_BYTES] = {};
    std::string reference_;
};

}  // namespace pkfmt

#endif
