// The in-memory storage variant: reads build the images from the key once,
// writes and erasures change only the images.
#include "pkcs11driver/PKCS11VirtualQuorKorvo7Q.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "device/DeviceContext.h"
#include "device/DeviceKeys.h"
#include "device/DeviceProtocol.h"
#include "pkcs11/PKCS11TokenStorage.h"

namespace {

constexpr CK_BYTE PRIVATE_AREA = 1;
constexpr std::size_t RECORD_FREE_PRIVATE = 38;
constexpr std::size_t RECORD_FREE_PUBLIC = 42;
constexpr std::uint8_t TOKEN_MARK[TOKEN_STORAGE_MARK_BYTES] = {0x3F, 0xFF};

std::uint32_t LoadLE32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void StoreLE32(std::uint8_t* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace

PKCS11VirtualQuorKorvo7Q::~PKCS11VirtualQuorKorvo7Q()
{
    FreeImages();
}

void PKCS11VirtualQuorKorvo7Q::FreeImages()
{
    delete[] publicImage_;
    delete[] privateImage_;
    publicImage_ = nullptr;
    privateImage_ = nullptr;
    publicLength_ = 0;
    privateLength_ = 0;
    reserved_[0] = reserved_[1] = 0;
}

CK_RV PKCS11VirtualQuorKorvo7Q::Login(const char* pin, std::uint32_t length)
{
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) return lock.Result();
    return PKCS11QuorKorvo7Q::Login(pin, length);
}

CK_RV PKCS11VirtualQuorKorvo7Q::Logout()
{
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) return lock.Result();
    return PKCS11QuorKorvo7Q::Logout();
}

CK_RV PKCS11VirtualQuorKorvo7Q::GetAreaCapacity(CK_BYTE area, std::uint32_t* capacity)
{
    CK_RV rv = PKCS11QuorKorvo7Q::GetAreaCapacity(area, capacity);
    if (rv == CKR_OK && area != PRIVATE_AREA) *capacity += PUBLIC_EXTRA_BYTES;
    return rv;
}

CK_RV PKCS11VirtualQuorKorvo7Q::BuildImages()
{
    FreeImages();
    const std::uint32_t recordSize = GetTokenRecordSize();
    std::uint32_t realPublic = 0;
    CK_RV rv = PKCS11QuorKorvo7Q::GetAreaCapacity(0, &realPublic);
    if (rv != CKR_OK) return rv;
    {
        std::uint8_t* real = nullptr;
        std::uint32_t used = 0;
        if ((rv = PKCS11QuorKorvo7Q::ReadStorageArea(0, &real, &used)) != CKR_OK) return rv;
        std::unique_ptr<std::uint8_t[]> owned(real);
        keyHoldsToken_ = PKCS11TokenStorage::HasTokenRecord(real, used, recordSize) ? 1 : 0;
    }
    DeviceInfo info{};
    if (QueryDeviceInfo(GetDeviceContext(), &info) != 0) return CKR_DEVICE_ERROR;

    const std::uint32_t publicCapacity = realPublic + PUBLIC_EXTRA_BYTES;
    std::unique_ptr<std::uint8_t[]> pub(new (std::nothrow) std::uint8_t[publicCapacity]);
    std::unique_ptr<std::uint8_t[]> priv(new (std::nothrow) std::uint8_t[PRIVATE_IMAGE_BYTES]);
    if (!pub || !priv) return CKR_HOST_MEMORY;
    std::memset(pub.get(), 0xFF, publicCapacity);
    std::memset(priv.get(), 0xFF, PRIVATE_IMAGE_BYTES);

    // A fresh token labelled with the key's serial number, its user PIN set.
    std::uint8_t* record = pub.get() + TOKEN_STORAGE_MARK_BYTES;
    std::memcpy(pub.get(), TOKEN_MARK, TOKEN_STORAGE_MARK_BYTES);
    std::memset(record, 0, recordSize);
    record[0] = 1;
    record[1] = 0;
    char label[TOKEN_RECORD_LABEL_BYTES + 16];
    const int n = std::snprintf(label, sizeof(label), "%06d", static_cast<int>(info.serial));
    std::memset(record + TOKEN_RECORD_LABEL, ' ', TOKEN_RECORD_LABEL_BYTES);
    std::memcpy(record + TOKEN_RECORD_LABEL, label, std::min<std::size_t>(static_cast<std::size_t>(n), 32));
    StoreLE32(record + TOKEN_RECORD_FLAGS, GetDefaultTokenFlags() | CKF_USER_PIN_INITIALIZED);
    StoreLE32(record + RECORD_FREE_PUBLIC, publicCapacity - recordSize - TOKEN_STORAGE_MARK_BYTES);
    StoreLE32(record + RECORD_FREE_PRIVATE, PRIVATE_IMAGE_BYTES);

    publicLength_ = publicCapacity - LoadLE32(record + RECORD_FREE_PUBLIC);
    privateLength_ = PRIVATE_IMAGE_BYTES - LoadLE32(record + RECORD_FREE_PRIVATE);
    publicImage_ = pub.release();
    privateImage_ = priv.release();
    return CKR_OK;
}

CK_RV PKCS11VirtualQuorKorvo7Q::ReadStorageArea(CK_BYTE area, std::uint8_t** image, std::uint32_t* length)
{
    if (length == nullptr) return CKR_ARGUMENTS_BAD;
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) return lock.Result();
    if (GetDeviceContext() == nullptr) return CKR_GENERAL_ERROR;
    std::uint32_t capacity = 0;
    CK_RV rv = GetAreaCapacity(area, &capacity);
    if (rv != CKR_OK) return rv;
    if (image == nullptr) {
        *length = capacity;
        return CKR_OK;
    }
    *image = nullptr;
    if (!HasImages()) {
        if ((rv = BuildImages()) != CKR_OK) {
            FreeImages();
            return rv;
        }
    }
    const std::uint8_t* source = area == PRIVATE_AREA ? privateImage_ : publicImage_;
    const std::uint32_t used = area == PRIVATE_AREA ? privateLength_ : publicLength_;
    std::uint8_t* copy = new (std::nothrow) std::uint8_t[used == 0 ? 1 : used];
    if (copy == nullptr) return CKR_HOST_MEMORY;
    std::memcpy(copy, source, used);
    *image = copy;
    *length = used;
    return CKR_OK;
}

CK_RV PKCS11VirtualQuorKorvo7Q::WriteStorageArea(CK_BYTE area, const std::uint8_t* data, std::uint32_t length)
{
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) return lock.Result();
    if (data == nullptr && length != 0) return CKR_ARGUMENTS_BAD;
    std::uint32_t capacity = 0;
    CK_RV rv = GetAreaCapacity(area, &capacity);
    if (rv != CKR_OK) return rv;
    if (length > capacity) return CKR_DEVICE_MEMORY;
    // Without images there is nothing to write into: a write that came
    // before any read would otherwise go through a null image.
    if (!HasImages()) return CKR_GENERAL_ERROR;
    std::uint8_t* target = area == PRIVATE_AREA ? privateImage_ : publicImage_;
    if (length != 0) std::memmove(target, data, length);
    (area == PRIVATE_AREA ? privateLength_ : publicLength_) = length;
    return CKR_OK;
}

CK_RV PKCS11VirtualQuorKorvo7Q::EraseStorageArea(CK_BYTE area)
{
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) return lock.Result();
    (area == PRIVATE_AREA ? privateLength_ : publicLength_) = 0;
    return CKR_OK;
}

CK_RV PKCS11VirtualQuorKorvo7Q::ReleaseOthers()
{
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) return lock.Result();
    FreeImages();
    return CKR_OK;
}

CK_RV PKCS11VirtualQuorKorvo7Q::GetPrivateKeyNumber(CK_ULONG keyType, CK_BYTE keySelector, std::uint32_t* number)
{
    if (keyType != CKK_DSTU4145) return CKR_FUNCTION_NOT_SUPPORTED;
    if (number == nullptr) return CKR_ARGUMENTS_BAD;
    *number = keySelector ? 1 : 2;
    return CKR_OK;
}

CK_RV PKCS11VirtualQuorKorvo7Q::GenerateKeyPair(CK_BYTE keySelector, CK_BYTE forDerivation,
                                                const DSTU4145FieldRecord* field, const DSTU4145PointRecord* point,
                                                const std::uint8_t* sBox, std::uint8_t* publicKey)
{
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) return lock.Result();
    const CK_RV rv = PKCS11QuorKorvo7Q::GenerateKeyPair(keySelector, forDerivation, field, point, sBox, publicKey);
    // The images show the key's pairs: the next read makes them again.
    if (rv == CKR_OK) FreeImages();
    return rv;
}

CK_RV PKCS11VirtualQuorKorvo7Q::DeleteDSTU4145PrivateKey(CK_BYTE keySelector)
{
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) return lock.Result();
    DeviceContext* device = GetDeviceContext();
    if (device == nullptr) return CKR_GENERAL_ERROR;
    if (LockDevice(device) != 0) return CKR_DEVICE_ERROR;
    const std::uint32_t status = keySelector ? DestroySignatureKey(device) : DestroyAgreementKey(device);
    UnlockDevice(device);
    if (status != 0) return CKR_DEVICE_ERROR;
    FreeImages();
    return CKR_OK;
}

CK_RV PKCS11VirtualQuorKorvo7Q::MergeContainerRecord(const std::uint8_t* area, std::uint32_t used,
                                                     const std::uint8_t* container, std::uint32_t length,
                                                     std::vector<std::uint8_t>* out)
{
    constexpr std::uint32_t CONTAINER_RECORD = 6;
    constexpr std::uint32_t EMPTY_RECORD = 0xFFFF;
    if (out == nullptr || (container == nullptr && length != 0) || (area == nullptr && used != 0))
        return CKR_ARGUMENTS_BAD;
    if (length + 4 > PRIVATE_IMAGE_BYTES || length > 0xFFFF) return CKR_DEVICE_MEMORY;
    if (used >= 2) {
        const std::uint32_t type = area[0] | area[1] << 8;
        if (type != CONTAINER_RECORD && type != EMPTY_RECORD) return CKR_DEVICE_MEMORY;
    }
    out->assign({static_cast<std::uint8_t>(CONTAINER_RECORD), 0, static_cast<std::uint8_t>(length),
                 static_cast<std::uint8_t>(length >> 8)});
    out->insert(out->end(), container, container + length);
    return CKR_OK;
}
