// Context holders: a facade operation that computes with a key object of the
// PKI formats library reaches the CSP (or the CSPI) with the provider context
// that the key object lends, so that a key held by a hardware device is used
// through that device. A holder is built, used and released within one
// operation.
#ifndef QVK_PKIFORMATS_CONTEXTHOLDERS_H
#define QVK_PKIFORMATS_CONTEXTHOLDERS_H

#include <cstdint>

#include "csp/CSP.h"
#include "csp/CSPI.h"
#include "support/PKIInterface.h"

struct CSPContextHolder {
    std::uint32_t usable;  // 0: every call answers CSP_NO_OBJECT
    CSP* csp;
    std::uint32_t useOwnContext;  // no context of its own: the plain operation
    std::uint32_t contextPresent;
    std::uint32_t contextFlags;  // low three bits of the key's answer; 4: default generator
    CSPContext context;
    IPKIObject* contextInterface;  // the key object's interface 4215, or null
};

struct CSPIContextHolder {
    std::uint32_t usable;
    CSPI* cspi;
    std::uint32_t useOwnContext;
    std::uint32_t contextPresent;
    std::uint32_t contextFlags;
    CSPContext context;
    IPKIObject* contextInterface;  // interface 4230, or null
};

// keyObject: any interface of a key object, or null. fallback: without a
// context from the key, use the provider's default generator.
void InitCSPContextHolder(CSPContextHolder* holder, CSP* csp, IPKIObject* keyObject, std::uint32_t useOwnContext,
                          std::uint32_t fallback);
void InitCSPIContextHolder(CSPIContextHolder* holder, CSPI* cspi, IPKIObject* keyObject, std::uint32_t useOwnContext,
                           std::uint32_t fallback);
void ReleaseContextHolder(CSPContextHolder* holder);
void ReleaseContextHolder(CSPIContextHolder* holder);

// The provider's code (CSP_OK is 0); CSP_NO_OBJECT when the holder cannot call.
int CheckSignatureKeyPair(CSPContextHolder* holder, const DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                          const std::uint8_t* privateKey, const std::uint8_t* publicKey);
int CheckAgreementKeyPair(CSPContextHolder* holder, const DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                          const std::uint8_t* privateKey, const std::uint8_t* publicKey);
int SignHashWithHolder(CSPContextHolder* holder, std::uint32_t hashLength, const std::uint8_t* hash,
                       const DSTU4145FieldRecord* field, DSTU4145PointRecord* point, const std::uint8_t* privateKey,
                       std::uint8_t* signature);
// The plain signing route (a 32-byte hash, no hash length): SignHashDSTU4145Ctx
// with the holder's context, else SignHashDSTU4145.
int SignHashPlainWithHolder(CSPContextHolder* holder, const std::uint8_t* hash, const DSTU4145FieldRecord* field,
                            DSTU4145PointRecord* point, const std::uint8_t* privateKey, std::uint8_t* signature);
// The public key of a DSTU 4145 private key: the signature form, or the
// agreement form when `agreement` is set.
int PublicKeyWithHolder(CSPContextHolder* holder, bool agreement, const DSTU4145FieldRecord* field,
                        DSTU4145PointRecord* point, const std::uint8_t* privateKey, std::uint8_t* publicKey);
// The public record of an RSA private key and the public point of an ECDSA
// private key, computed by the second provider.
int PublicKeyRSAWithHolder(CSPIContextHolder* holder, const std::uint8_t* keyParameters, const std::uint8_t* privateKey,
                           std::uint8_t* record);
int PublicKeyECDSAWithHolder(CSPIContextHolder* holder, const std::uint8_t* curve, const std::uint8_t* privateKey,
                             std::uint8_t* publicKey);
int CheckKeyPairRSAWithHolder(CSPIContextHolder* holder, const std::uint8_t* keyParameters,
                              const std::uint8_t* privateKey, const std::uint8_t* publicKey);
int CheckKeyPairECDSAWithHolder(CSPIContextHolder* holder, const std::uint8_t* curve, const std::uint8_t* privateKey,
                                const std::uint8_t* publicKey);

#endif
