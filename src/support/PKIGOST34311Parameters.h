// GOST 34.311 hash parameters of the outside PKI formats library (class 4933,
// interface 4211): the hash's GOST 28147 S-box, given outright or named by a
// reference, and an optional start vector. The rules of PKIInterface.h hold:
// the slot numbers are the binary interface.
#ifndef QVK_SUPPORT_PKIGOST34311PARAMETERS_H
#define QVK_SUPPORT_PKIGOST34311PARAMETERS_H

#include <cstdint>

#include "support/PKIInterface.h"

enum PKIGOST34311ParametersKind : std::uint32_t {
    PKI_GOST34311_SBOX = 1,      // the 64-byte packed S-box
    PKI_GOST34311_REFERENCE = 2  // a dotted OID naming the S-box
};

enum : std::uint32_t {
    PKI_GOST34311_START_VECTOR_BYTES = 32,
    // The longest reference held, without its terminator.
    PKI_GOST34311_REFERENCE_CHARS = 128
};

class IPKIGOST34311Parameters : public IPKIObject {
public:
    // kind out; sBox (64 bytes, may be null) filled for an S-box; reference
    // (may be null) gets the dotted OID and its terminator, PKI_E_INVALID_ARGUMENT
    // when they do not fit in referenceBytes; hasStartVector (may be null)
    // 1 or 0; startVector (32 bytes, may be null) filled when there is one.
    // PKI_E_NOT_SET while empty.
    virtual int GetParameters(std::uint32_t* kind, std::uint8_t* sBox, char* reference, std::uint32_t referenceBytes,
                              std::uint32_t* hasStartVector, std::uint8_t* startVector) = 0;  // 3
    // kind PKI_GOST34311_SBOX: value is the 64-byte S-box; PKI_GOST34311_REFERENCE:
    // value is a dotted OID of at most 128 characters. startVector: 32 bytes,
    // or null for none.
    virtual int SetParameters(std::uint32_t kind, const void* value, const std::uint8_t* startVector) = 0;  // 4

protected:
    ~IPKIGOST34311Parameters() = default;
};

#endif
