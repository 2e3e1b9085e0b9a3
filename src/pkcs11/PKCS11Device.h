// The contract between the PKCS#11 framework and a token driver. The
// framework reaches a key only through these 52 operations, by their
// position: never reorder them, and give the interface no destructor (an
// implementation adds its own after the 52; the framework destroys a device
// object only through Release).
//
// Results are CK_RV unless noted. CKR_FUNCTION_NOT_SUPPORTED from an
// optional operation means the capability is absent. PINs cross as UTF-8
// with an explicit length; storage areas are addressed by a byte, 0 the
// public area and 1 the private one; a key selector byte true selects the
// key's signature key, false its key-agreement key. Derivation contexts are
// keyed by (session handle, key object handle).
#ifndef QVK_PKCS11_PKCS11DEVICE_H
#define QVK_PKCS11_PKCS11DEVICE_H

#include <cstdint>

#include "pkcs11/pkcs11ua.h"
#include "support/DSTU4145Records.h"

class PKCS11Object;

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif

class PKCS11Device {
public:
    // Destroys the object, closing the key first.
    virtual CK_RV Release() = 0;  // 1
    // CKR_SLOT_ID_INVALID: no key has that index; CKR_TOKEN_NOT_PRESENT: the
    // key cannot be opened. An open key is closed first.
    virtual CK_RV Open(std::uint32_t slotIndex) = 0;  // 2
    virtual CK_RV Close() = 0;                        // 3
    // Fills serialNumber and the four memory fields.
    virtual CK_RV FillTokenInfo(const std::uint8_t* tokenRecord, CK_TOKEN_INFO* info) = 0;  // 4
    virtual CK_BYTE IsPresent() = 0;                                                        // 5
    virtual CK_RV Login(const char* pin, std::uint32_t length) = 0;                         // 6
    virtual CK_RV Logout() = 0;                                                             // 7
    // Formats the key; *record is a new token record (array new, the
    // caller's) with flags and free memory set.
    virtual CK_RV InitToken(const char* soPin, std::uint32_t length, std::uint8_t** record) = 0;  // 8
    virtual CK_RV SetPIN(CK_BYTE user, const char* pin, std::uint32_t length) = 0;                // 9
    virtual CK_RV VerifyPINRecord(std::uint8_t* record, CK_BYTE userType, const char* pin,
                                  std::uint32_t length) = 0;  // 10
    virtual CK_RV UpdatePINRecord(std::uint8_t* record, CK_BYTE user, const char* pin,
                                  std::uint32_t length) = 0;  // 11
    // With an image pointer: a new buffer (array new, the caller's) with the
    // used part of the area; without: the area's capacity.
    virtual CK_RV ReadStorageArea(CK_BYTE area, std::uint8_t** image, std::uint32_t* length) = 0;      // 12
    virtual CK_RV WriteStorageArea(CK_BYTE area, const std::uint8_t* data, std::uint32_t length) = 0;  // 13
    virtual CK_RV EraseStorageArea(CK_BYTE area) = 0;                                                  // 14
    virtual std::uint32_t GetTokenRecordSize() = 0;                                                    // 15
    virtual std::uint32_t GetDefaultTokenFlags() = 0;                                                  // 16
    virtual CK_RV GetAreaCapacity(CK_BYTE area, std::uint32_t* capacity) = 0;                          // 17
    virtual CK_RV GetFreeMemory(const std::uint8_t* record, CK_BYTE area, std::uint32_t* value) = 0;   // 18
    virtual CK_RV SetFreeMemory(std::uint8_t* record, CK_BYTE area, std::uint32_t value) = 0;          // 19
    // 1: C_InitToken logs in as security officer with the new PIN afterwards.
    virtual CK_BYTE CanInitToken() = 0;                                            // 20
    virtual CK_RV GenerateRandom(std::uint8_t* buffer, std::uint32_t length) = 0;  // 21
    virtual CK_RV GenerateKeyPair(CK_BYTE keySelector, CK_BYTE forDerivation, const DSTU4145FieldRecord* field,
                                  const DSTU4145PointRecord* point, const std::uint8_t* sBox,
                                  std::uint8_t* publicKey) = 0;  // 22
    virtual CK_RV DeriveKey(CK_ULONG session, CK_ULONG key, CK_BYTE extended, const DSTU4145FieldRecord* field,
                            const DSTU4145PointRecord* point, const std::uint8_t* sBox,
                            const std::uint8_t* otherPublicKey, const std::uint8_t* ukm,
                            std::uint32_t ukmLength) = 0;  // 23
    virtual CK_RV SignHash32(CK_BYTE keySelector, const DSTU4145FieldRecord* field, const DSTU4145PointRecord* point,
                             const std::uint8_t* sBox, const std::uint8_t* hash,
                             std::uint8_t* signature) = 0;  // 24
    virtual CK_RV WrapKeyOld(CK_ULONG session, CK_ULONG key, const std::uint8_t* keyValue,
                             std::uint8_t* wrapped) = 0;  // 25
    virtual CK_RV UnwrapKeyOld(CK_ULONG session, CK_ULONG key, const std::uint8_t* wrapped,
                               std::uint8_t* keyValue) = 0;    // 26
    virtual CK_RV ReservedOperationA() = 0;                    // 27
    virtual CK_BYTE UsesTokenContexts() = 0;                   // 28
    virtual CK_RV CloseSessionContexts(CK_ULONG session) = 0;  // 29
    virtual CK_RV SynchronizeContexts(CK_ULONG word1, CK_ULONG word2, CK_ULONG word3, CK_ULONG word4,
                                      CK_BYTE flag) = 0;    // 30
    virtual CK_RV StoreObjectValue(void* objectValue) = 0;  // 31
    virtual CK_BYTE IsConnected() = 0;                      // 32
    // The key's content changed through another device object: forget what
    // was cached.
    virtual CK_RV ReleaseOthers() = 0;                                                                       // 33
    virtual CK_RV DeleteDSTU4145PrivateKey(CK_BYTE keySelector) = 0;                                         // 34
    virtual CK_BYTE HasNativeObjectStore() = 0;                                                              // 35
    virtual CK_RV ReadNativeObjects(CK_ULONG object, std::uint8_t** serialized, std::uint32_t* length) = 0;  // 36
    virtual CK_RV UpdateNativeObject(PKCS11Object* object, void* value) = 0;                                 // 37
    virtual CK_RV ReservedOperationB() = 0;                                                                  // 38
    virtual CK_RV ReservedOperationC() = 0;                                                                  // 39
    virtual CK_RV ReservedOperationD() = 0;                                                                  // 40
    virtual CK_RV DeleteRSAPrivateKey() = 0;                                                                 // 41
    virtual CK_RV DeleteECPrivateKey() = 0;                                                                  // 42
    virtual CK_RV GetPrivateKeyNumber(CK_ULONG keyType, CK_BYTE keySelector, std::uint32_t* number) = 0;     // 43
    virtual CK_RV StoreObject(PKCS11Object* object) = 0;                                                     // 44
    virtual CK_RV GetCertificateNumber(CK_ULONG keyType, std::uint32_t* number) = 0;                         // 45
    virtual CK_RV DeleteCertificate(CK_ULONG keyType) = 0;                                                   // 46
    // CKR_OK when the key signs 48- and 64-byte hashes.
    virtual CK_RV HasExtendedHashes() = 0;  // 47
    // CKR_OK when the key offers DSTU 7624 key generation, wrapping and derivation.
    virtual CK_RV HasExtendedCiphers() = 0;  // 48
    virtual CK_RV SignHash(CK_BYTE keySelector, const DSTU4145FieldRecord* field, const DSTU4145PointRecord* point,
                           const std::uint8_t* hash, std::uint32_t length, std::uint8_t* signature) = 0;  // 49
    virtual CK_RV DeriveKeyNew(CK_ULONG session, CK_ULONG key, const DSTU4145FieldRecord* field,
                               const DSTU4145PointRecord* point, const std::uint8_t* otherPublicKey,
                               const std::uint8_t* ukm, std::uint32_t ukmLength) = 0;  // 50
    virtual CK_RV WrapKeyNew(CK_ULONG session, CK_ULONG key, const std::uint8_t* keyValue, std::uint32_t keyLength,
                             std::uint8_t* wrapped, std::uint32_t wrappedLength) = 0;  // 51
    virtual CK_RV UnwrapKeyNew(CK_ULONG session, CK_ULONG key, const std::uint8_t* wrapped, std::uint32_t wrappedLength,
                               std::uint8_t* keyValue,
                               std::uint32_t keyLength) = 0;  // 52

    // Beyond the 52: drops the derivation contexts recorded for (session, key)
    // when that key object goes away or its derivation failed, so that a new
    // object given the same handle starts without the old agreement. A driver
    // without contexts keeps the default.
    virtual CK_RV DropKeyContexts(CK_ULONG session, CK_ULONG key)  // 53
    {
        (void)session;
        (void)key;
        return CKR_OK;
    }
    // Hold the key for a whole read-modify-write of a storage area, across
    // the device objects of every process, so that no other writer comes
    // between the read and the write; calls nest. A driver whose storage no
    // one else writes keeps the defaults.
    virtual CK_RV HoldStorage() { return CKR_OK; }     // 54
    virtual CK_RV ReleaseStorage() { return CKR_OK; }  // 55
    // The private area's new content and the public area's (its token record
    // counting the private area's new free memory) as one change where the
    // driver can; the default writes the private area, then the public one.
    virtual CK_RV WriteBothAreas(const std::uint8_t* privateData, std::uint32_t privateLength,
                                 const std::uint8_t* publicData, std::uint32_t publicLength)  // 56
    {
        const CK_RV rv = privateLength == 0 ? EraseStorageArea(1) : WriteStorageArea(1, privateData, privateLength);
        return rv != CKR_OK ? rv : WriteStorageArea(0, publicData, publicLength);
    }

protected:
    ~PKCS11Device() = default;
};

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

#endif
