// Key-agreement UKM objects of the PKI formats library (class 4928): the
// shared data of a DSTU 4145 agreement together with what the agreed key is
// for, encoded for the key's agreement commands. Interface 4199 is the older
// form, whose agreed key wraps with GOST 28147; interface 4263 names the
// wrap algorithm by OID. Both are interfaces of the same object. The rules of
// PKIInterface.h hold: slot numbers on every line, never reorder.
#ifndef QVK_SUPPORT_PKIKEYAGREEMENT_H
#define QVK_SUPPORT_PKIKEYAGREEMENT_H

#include <cstdint>

#include "support/PKIInterface.h"

// The wrap algorithm that the older form names for its agreed key.
#define PKI_OID_UKM_GOST28147_WRAP "1.2.804.2.1.1.1.1.1.1.5"
// What the newer form is given for a DSTU 7624 agreed key.
#define PKI_OID_UKM_DSTU7624_WRAP "1.2.804.2.1.1.1.1.1.3.11"

enum : std::uint32_t {
    PKI_UKM_MAX_DATA_BYTES = 0xFFFF,  // longer shared data is refused
    PKI_UKM_MAX_OID_CHARS = 128       // dotted text, terminator excluded
};

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif

// clang-format off

class IPKIUKM : public IPKIObject {
public:
    // The shared data (may be empty: data null and length 0) and the length
    // in bits of the key the agreement makes (not 0).
    virtual int SetUKM(const std::uint8_t* data, std::uint32_t length, std::uint32_t keyBits) = 0;    // 3
    // data is filled by the library (FreeBlob; {0, null} for empty data);
    // PKI_E_NOT_SET while nothing was set.
    virtual int GetUKM(PKIBlob* data, std::uint32_t* keyBits) = 0;                                     // 4

protected:
    ~IPKIUKM() = default;
};

class IPKIUKMEx : public IPKIObject {
public:
    // algorithm: the dotted OID of the wrap algorithm of the agreed key.
    virtual int SetUKM(const char* algorithm, const std::uint8_t* data, std::uint32_t length,
                       std::uint32_t keyBits) = 0;                                                     // 3
    // algorithm (may be null) gets the OID and its terminator when it fits
    // in algorithmBytes; data as IPKIUKM::GetUKM.
    virtual int GetUKM(char* algorithm, std::uint32_t algorithmBytes, PKIBlob* data,
                       std::uint32_t* keyBits) = 0;                                                    // 4

protected:
    ~IPKIUKMEx() = default;
};

// clang-format on

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

#endif
