// DSTU 4145 public keys of the stand-in formats library, and the hook by
// which the codec encodes objects that carry their own DER.
#ifndef PKFMT_PKFMTPOINT_H
#define PKFMT_PKFMTPOINT_H

#include <cstddef>
#include <cstdint>

#include "support/PKIInterface.h"

namespace pkfmt {

// An object the codec attaches and then encodes or decodes through the
// object's own DER.
class SelfEncoding {
public:
    virtual void Hold() = 0;
    virtual void Unhold() = 0;
    // PKI_OK with the DER in a library block, or an error code.
    virtual int EncodeInto(PKIBlob* out) = 0;
    virtual int DecodeFrom(const std::uint8_t* data, std::size_t length) = 0;

protected:
    ~SelfEncoding() = default;
};

// A new public-key object (4908 / 4130), or PKI_E_UNKNOWN_CLASS for any other
// pair.
int CreatePointObject(std::uint32_t classId, std::uint32_t interfaceId, void** object);

}  // namespace pkfmt

#endif
