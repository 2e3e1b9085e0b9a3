// Interfaces of a hardware object and a hardware random source for the
// international-algorithms provider (CSPI). The system has no implementation
// of them; a caller that supplies one installs it with CSPI::SetHardware or
// CSPI::SetHardwareRNGObject and keeps it alive while it is installed.
//
// ICSPIHardware's operations are reached by position: slot n is operation n
// below, and slot 0 is never called. Each returns nonzero for success. Key,
// signature and parameter buffers have the layouts of CSPIFunctions.h.
#ifndef QVK_CSP_ICSPIHARDWARE_H
#define QVK_CSP_ICSPIHARDWARE_H

#include <cstdint>

#include "support/ICSPHardware.h"

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif

class ICSPIHardware {
public:
    // 0. Never called.
    virtual int Reserved0() = 0;
    // 1. RSA key pair kept by the hardware; with a null public key the key
    // parameters are a capability query pair {code, 0}.
    virtual int GenerateKeyPairRSA(const std::uint8_t* keyParameters, std::uint8_t* publicKey) = 0;
    // 2.
    virtual int SignHashRSA(const std::uint8_t* hash, const std::uint8_t* keyParameters,
                            std::uint8_t* signature) = 0;
    // 3.
    virtual int CheckKeyPairRSA(const std::uint8_t* keyParameters, const std::uint8_t* publicKey) = 0;
    // 4.
    virtual int SignHashDSA(std::uint32_t hashLength, const std::uint8_t* hash, const std::uint8_t* domain,
                            std::uint8_t* signature) = 0;
    // 5.
    virtual int GenerateKeyPairDSA(const std::uint8_t* domain, std::uint8_t* publicKey) = 0;
    // 6.
    virtual int CheckKeyPairDSA(const std::uint8_t* domain, const std::uint8_t* publicKey) = 0;
    // 7.
    virtual int SignHashECDSA(std::uint32_t hashLength, const std::uint8_t* hash, const std::uint8_t* curve,
                              std::uint8_t* signature) = 0;
    // 8.
    virtual int GenerateKeyPairECDSA(const std::uint8_t* curve, std::uint8_t* publicKey) = 0;
    // 9.
    virtual int CheckKeyPairECDSA(const std::uint8_t* curve, const std::uint8_t* publicKey) = 0;
    // 10.
    virtual int CalculateSharedSecretECDH(const std::uint8_t* curve, const std::uint8_t* peerPublicKey,
                                          std::uint8_t* secret) = 0;
    // 11.
    virtual int CalculateSharedSecretDH(const std::uint8_t* domain, const std::uint8_t* peerPublicKey,
                                        std::uint8_t* secret) = 0;
    // 12. 1,200-byte record out.
    virtual int GenerateHardwareKeyPairRSA(const std::uint8_t* keyParameters, std::uint8_t* record) = 0;
    // 13.
    virtual int GenerateHardwareKeyPairDSA(const std::uint8_t* domain, std::uint8_t* publicKey) = 0;
    // 14.
    virtual int GenerateHardwareKeyPairECDSA(const std::uint8_t* curve, std::uint8_t* publicKey) = 0;
    // 15. Decrypts in place; the length is replaced.
    virtual int DecryptRSA(std::uint8_t* buffer, std::uint32_t* length, const std::uint8_t* keyParameters,
                           std::uint32_t mode) = 0;
    // 16. Under the explicit scheme of the Ex operations.
    virtual int SignHashRSAEx(const std::uint8_t* hash, const std::uint8_t* keyParameters,
                              std::uint8_t* signature) = 0;
    // 17. The second party's step of two-party ECDSA.
    virtual int CoupleGenerateKeyECDSA(std::uint32_t hashLength, const std::uint8_t* hash,
                                       const std::uint8_t* partnerValue, const std::uint8_t* curve,
                                       std::uint8_t* result1, std::uint8_t* result2, std::uint8_t* result3,
                                       std::uint8_t* result4) = 0;
    // 18. The common two-party ECDSA key.
    virtual int CoupleMakeCommonKeyECDSA(const std::uint8_t* curve, const std::uint8_t* partnerPublicValue,
                                         std::uint8_t* commonKey) = 0;
};

// One operation, position 0: fill a buffer, nonzero for success. It is the
// provider's random-source interface under the CSPI's name, so the random
// operations shared with the CSP serve both.
class ICSPIHardwareRNG : public ICSPHardwareRNG {};

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

#endif
