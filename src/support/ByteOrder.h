// The little-endian word helpers under the names the PKI formats facade
// includes them by; the tree's one byte-order header is crypto/ByteOrder.h.
#ifndef QVK_SUPPORT_BYTEORDER_H
#define QVK_SUPPORT_BYTEORDER_H

#include "crypto/ByteOrder.h"

using qvkcrypto::LoadLE32;
using qvkcrypto::StoreLE32;

#endif
