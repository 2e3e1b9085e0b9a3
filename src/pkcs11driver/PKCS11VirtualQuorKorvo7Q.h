// A driver object that keeps the token's two storage areas as images in
// memory, made from what the key itself holds: the framework's token-object
// changes stay in the images, key changes go to the key.
#ifndef QVK_PKCS11DRIVER_PKCS11VIRTUALQUORKORVO7Q_H
#define QVK_PKCS11DRIVER_PKCS11VIRTUALQUORKORVO7Q_H

#include <cstdint>
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

    // Whether the key's real public area held a token when the images were
    // last built.
    bool KeyHoldsToken() const { return keyHoldsToken_ != 0; }
    bool HasImages() const { return publicImage_ != nullptr && privateImage_ != nullptr; }

    static constexpr std::uint32_t PUBLIC_EXTRA_BYTES = 4096;
    static constexpr std::uint32_t PRIVATE_IMAGE_BYTES = 3072;

private:
    CK_RV BuildImages();
    void FreeImages();

    std::uint8_t* publicImage_ = nullptr;
    std::uint8_t* privateImage_ = nullptr;
    std::uint32_t publicLength_ = 0;
    std::uint32_t privateLength_ = 0;
    std::uint32_t reserved_[2] = {};
    std::uint8_t keyHoldsToken_ = 0;
};

#endif
