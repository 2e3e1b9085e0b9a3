// A driver object that keeps the token's two storage areas as images in
// memory, made from what the key itself holds: the framework's token-object
// changes stay in the images, key changes go to the key.
#ifndef QVK_PKCS11DRIVER_PKCS11VIRTUALQUORKORVO7Q_H
#define QVK_PKCS11DRIVER_PKCS11VIRTUALQUORKORVO7Q_H

#include <cstdint>
#include <memory>
#include <vector>

#include "pkcs11driver/PKCS11QuorKorvo7Q.h"

class PKCS11VirtualQuorKorvo7Q : public PKCS11QuorKorvo7Q {
public:
    PKCS11VirtualQuorKorvo7Q() = default;
    ~PKCS11VirtualQuorKorvo7Q() override;

    CK_RV Login(const char* pin, std::uint32_t length) override;
    CK_RV Logout() override;
    CK_RV ReadStorageArea(CK_BYTE area, std::uint8_t** image, std::uint32_t* length) override;
    CK_RV WriteStorageArea(CK_BYTE area, const std::uint8_t* data, std::uint32_t length) override;
    CK_RV EraseStorageArea(CK_BYTE area) override;
    // Through this driver's own area writes.
    CK_RV WriteBothAreas(const std::uint8_t* privateData, std::uint32_t privateLength, const std::uint8_t* publicData,
                         std::uint32_t publicLength) override
    {
        return PKCS11Device::WriteBothAreas(privateData, privateLength, publicData, publicLength);
    }
    CK_RV GetAreaCapacity(CK_BYTE area, std::uint32_t* capacity) override;
    CK_RV ReleaseOthers() override;
    CK_RV GetPrivateKeyNumber(CK_ULONG keyType, CK_BYTE keySelector, std::uint32_t* number) override;
    CK_RV GenerateKeyPair(CK_BYTE keySelector, CK_BYTE forDerivation, const DSTU4145FieldRecord* field,
                          const DSTU4145PointRecord* point, const std::uint8_t* sBox, std::uint8_t* publicKey) override;
    CK_RV DeleteDSTU4145PrivateKey(CK_BYTE keySelector) override;

    // The private area of a key formatted for the key-media library with the
    // container record (u16 6, u16 length, container) in place of the one it
    // holds. Only an empty area or an earlier container record is replaced:
    // a record of another type is the library's own data, and the merge is
    // refused (CKR_DEVICE_MEMORY) rather than lose it, as is a container
    // that does not fit the area.
    static CK_RV MergeContainerRecord(const std::uint8_t* area, std::uint32_t used, const std::uint8_t* container,
                                      std::uint32_t length, std::vector<std::uint8_t>* out);

    // Conversions between the key-media library's records (its certificate
    // record in the public area, its container record in the private area)
    // and token objects. Nothing in the module calls them, and the library
    // steps they need are not available, so each one refuses with
    // CKR_FUNCTION_NOT_SUPPORTED and changes nothing. The two that read a
    // record first check it: a missing or malformed one answers
    // CKR_DEVICE_MEMORY.
    CK_RV CertificateFromRecord(CK_ULONG keyType, CK_ULONG usage, std::vector<std::uint8_t>* certificate);
    CK_RV KeyFromContainerRecord(std::uint32_t kind, std::vector<std::uint8_t>* decoded);
    CK_RV ReencodeContainerRecord();
    CK_RV WriteCertificateRecord(const std::uint8_t* certificate, std::uint32_t length);
    CK_RV CertificateToObjects(const std::uint8_t* certificate, std::uint32_t length,
                               std::vector<std::uint8_t>* serialized);
    CK_RV ContainerToPrivateKeyObjects(const std::uint8_t* container, std::uint32_t length,
                                       std::vector<std::uint8_t>* serialized);

    // Whether the key's real public area held a token when the images were
    // last built.
    bool KeyHoldsToken() const { return keyHoldsToken_ != 0; }
    bool HasImages() const { return publicImage_ != nullptr && privateImage_ != nullptr; }

    static constexpr std::uint32_t PUBLIC_EXTRA_BYTES = 4096;
    static constexpr std::uint32_t PRIVATE_IMAGE_BYTES = 3072;

private:
    struct KeyObjects;
    CK_RV BuildImages();
    void FreeImages();
    // The token objects of the key's pairs and their container, with their
    // handles; no pair on the key: none.
    CK_RV MakeKeyObjects(KeyObjects* out);
    // After a key change: the key's own areas get the fresh key objects,
    // every other record on them stays.
    CK_RV RewriteKeyAreas();
    CK_RV MergeIntoTokenAreas(KeyObjects* objects, const std::uint8_t* realPublic, std::uint32_t publicCapacity);
    CK_RV WriteContainerRecord(const KeyObjects& objects);
    // The whole real area (its capacity in bytes) through the plain driver.
    CK_RV ReadRealArea(CK_BYTE area, std::unique_ptr<std::uint8_t[]>* bytes, std::uint32_t* capacity);

    std::uint8_t* publicImage_ = nullptr;
    std::uint8_t* privateImage_ = nullptr;
    std::uint32_t publicLength_ = 0;
    std::uint32_t privateLength_ = 0;
    std::uint32_t reserved_[2] = {};
    std::uint8_t keyHoldsToken_ = 0;
};

#endif
