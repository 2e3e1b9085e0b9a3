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

#include "support/PKIInterface.h"

namespace pkfmt {

// Objects the codec carries by their own DER, besides DSTU 4145 parameters.
class DerObject {
public:
    virtual int EncodeDer(PKIBlob* out) = 0;
    virtual int DecodeDer(const std::uint8_t* data, std::size_t length) = 0;
    virtual void HoldDer() = 0;
    virtual void DropDer() = 0;

protected:
    ~DerObject() = default;
};

// A new parameters object, or PKI_E_UNKNOWN_CLASS for another interface.
int CreateGost28147Parameters(std::uint32_t interfaceId, void** object);
// The object as the codec sees it, or null when it is not one of these.
DerObject* AsDerObject(IPKIObject* object);

}  // namespace pkfmt

#endif
