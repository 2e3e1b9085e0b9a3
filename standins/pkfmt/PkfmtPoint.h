// DSTU 4145 public keys of the stand-in formats library.
#ifndef PKFMT_PKFMTPOINT_H
#define PKFMT_PKFMTPOINT_H

#include <cstddef>
#include <cstdint>

#include "support/PKIInterface.h"

namespace pkfmt {

// A new public-key object (4908 / 4130), or PKI_E_UNKNOWN_CLASS for any other
// pair.
int CreatePointObject(std::uint32_t classId, std::uint32_t interfaceId, void** object);

}  // namespace pkfmt

#endif
