// Interfaces through which a crypto service provider does DSTU 4145 and
// GOST 28147 work on a key device and draws random numbers from it. The
// key-media library implements them; the provider calls them. Results are 1
// for success and 0 for failure. The operation order is fixed: slot n of the
// table is the operation numbered n below. Neither interface is destroyed
// through its table.
//
// Curves travel as the two records of DSTU4145Records.h. Public keys travel in
// 76-byte buffers: the key in the first (m + 7) / 8 bytes, zeros after.
// Arguments named "unused" are passed by callers but not read by the key's
// implementation.
#ifndef QVK_SUPPORT_ICSPHARDWARE_H
#define QVK_SUPPORT_ICSPHARDWARE_H

#include <cstdint>

#include "support/DSTU4145Records.h"

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif

class ICSPHardware {
public:
    // 0. With a null public key: asks whether the parameters (or, when m is 0,
    // the feature numbered in point word 38) are supported.
    virtual int GenerateSignatureKeyPair(const DSTU4145FieldRecord* field, const DSTU4145PointRecord* point,
                                         std::uint8_t* publicKey) = 0;
    // 1.
    virtual int GenerateAgreementKeyPair(const DSTU4145FieldRecord* field, const DSTU4145PointRecord* point,
                                         std::uint8_t* publicKey) = 0;
    // 2. 32-byte hash.
    virtual int SignHash(const DSTU4145FieldRecord* field, const DSTU4145PointRecord* unused, const std::uint8_t* hash,
                         std::uint8_t* signature) = 0;
    // 3. 8-byte UKM, 32-byte session key transformed in place, 4-byte MAC out.
    virtual int EncryptSessionKey(const DSTU4145FieldRecord* field, const DSTU4145PointRecord* point,
                                  const std::uint8_t* peerPublicKey, const std::uint8_t* ukm, std::uint8_t* key,
                                  std::uint32_t keyLength, std::uint8_t* mac) = 0;
    // 4. 4-byte expected MAC. All of UKM, key, length and MAC null or zero asks
    // whether the operation is supported.
    virtual int DecryptSessionKey(const DSTU4145FieldRecord* field, const DSTU4145PointRecord* point,
                                  const std::uint8_t* peerPublicKey, const std::uint8_t* ukm, std::uint8_t* key,
                                  std::uint32_t keyLength, const std::uint8_t* mac) = 0;
    // 5.
    virtual int CheckSignaturePublicKey(const DSTU4145FieldRecord* field, const DSTU4145PointRecord* unused,
                                        const std::uint8_t* publicKey) = 0;
    // 6.
    virtual int CheckAgreementPublicKey(const DSTU4145FieldRecord* field, const DSTU4145PointRecord* unused,
                                        const std::uint8_t* publicKey) = 0;
    // 7. 64-byte packed GOST 28147 S-box; the provider passes its caller's
    // four arguments through.
    virtual int SetSBox(const void* unused1, const void* unused2, const void* unused3, const std::uint8_t* sBox) = 0;
    // 8. 32-byte value kept on the key.
    virtual int GetStoredHash(std::uint8_t* hash) = 0;
    // 9. 32-byte key in, 44-byte wrapped key out.
    virtual int WrapKeyGOST28147(const void* unused1, const void* unused2, const std::uint8_t* peerPublicKey, int flag,
                                 const std::uint8_t* ukm, std::uint32_t ukmLength, const void* unused3,
                                 const void* unused4, const std::uint8_t* key, std::uint8_t* wrappedKey) = 0;
    // 10. 44-byte wrapped key in, 32-byte key out; a null wrapped key asks
    // whether the operation is supported.
    virtual int UnwrapKeyGOST28147(const void* unused1, const void* unused2, const std::uint8_t* peerPublicKey,
                                   int flag, const std::uint8_t* ukm, std::uint32_t ukmLength, const void* unused3,
                                   const void* unused4, const std::uint8_t* wrappedKey, std::uint8_t* key) = 0;
    // 11 to 19: not offered by the key.
    virtual int Reserved11() = 0;
    virtual int Reserved12() = 0;
    virtual int Reserved13() = 0;
    virtual int Reserved14() = 0;
    virtual int Reserved15() = 0;
    virtual int Reserved16() = 0;
    virtual int Reserved17() = 0;
    virtual int Reserved18() = 0;
    virtual int Reserved19() = 0;
    // 20. A field record with m = 0 is filled (with the point record) from the
    // key's curve; otherwise the records must match the key's curve.
    virtual int QuerySignaturePublicKey(DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                                        std::uint8_t* publicKey) = 0;
    // 21.
    virtual int QueryAgreementPublicKey(DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                                        std::uint8_t* publicKey) = 0;
    // 22. Step S of two-party signing: one-time value, common R, S out.
    virtual int MakeSignS(const DSTU4145FieldRecord* field, const DSTU4145PointRecord* point,
                          const std::uint8_t* oneTimeValue, const std::uint8_t* commonR, std::uint8_t* s) = 0;
    // 23. Hash of 32, 48 or 64 bytes.
    virtual int SignHashEx(const DSTU4145FieldRecord* field, const DSTU4145PointRecord* unused,
                           std::uint32_t hashLength, const std::uint8_t* hash, std::uint8_t* signature) = 0;
    // 24. 32-byte key in, 96-byte wrapped key out. The provider also passes
    // the address of its wrapped-length output last.
    virtual int WrapKeyDSTU7624(const void* unused1, const void* unused2, const std::uint8_t* peerPublicKey, int flag,
                                const std::uint8_t* data, std::uint32_t dataLength, const void* unused3,
                                const std::uint8_t* key, const void* unused4, std::uint8_t* wrappedKey,
                                std::uint32_t* unusedLength) = 0;
    // 25. 96-byte wrapped key in, 32-byte key out.
    virtual int UnwrapKeyDSTU7624(const void* unused1, const void* unused2, const std::uint8_t* peerPublicKey, int flag,
                                  const std::uint8_t* data, std::uint32_t dataLength, const void* unused3,
                                  const std::uint8_t* wrappedKey, const void* unused4, std::uint8_t* key) = 0;
};

class ICSPHardwareRNG {
public:
    // 0. Fills `length` bytes from the key.
    virtual int GenerateRandom(std::uint8_t* buffer, std::uint32_t length) = 0;
};

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

#endif
