// A driver object that keeps the token's two storage areas as images in
// memory, made from what the key itself holds: the framework's token-object
// changes stay in the images, key changes go to the key.
#ifndef QVK_PKCS11DRIVER_PKCS11VIRTUALQUORKORVO7Q_H
#define QVK_PKCS11DRIVER_PKCS11VIRTUALQUORKORVO7Q_H

#include <cstdint>

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
