// Objects of the stand-in formats library that the codec carries by their
// own DER (besides DSTU 4145 parameters): GOST 28147 parameters, public keys.
#ifndef PKFMT_PKFMTDEROBJECT_H
#define PKFMT_PKFMTDEROBJECT_H

#include <cstddef>
#include <cstdint>

#include "support/PKIInterface.h"

namespace pkfmt {

class DerObject {
public:
    // PKI_OK with the DER in a library block, or an error code.
    virtual int EncodeDer(PKIBlob* out) = 0;
    virtual int DecodeDer(const std::uint8_t* data, std::size_t length) = 0;
    virtual void HoldDer() = 0;
    virtual void DropDer() = 0;

protected:
    ~DerObject() = default;
};

// The object as the codec sees it, or null when it carries no DER of its own.
inline DerObject* AsDerObject(IPKIObject* object)
{
    return dynamic_cast<DerObject*>(object);
}

}  // namespace pkfmt

#endif
