#include "pkcs11/PKCS11TokenStorage.h"

#include <cstring>
#include <new>
#include <vector>

#include "crypto/ByteOrder.h"
#include "pkcs11/PKCS11TokenManager.h"

namespace {

using qvkcrypto::LoadLE32;
using qvkcrypto::StoreLE32;

constexpr std::uint8_t MARK[2] = {0x3F, 0xFF};

}  // namespace

std::uint32_t TokenRecordFlags(const std::uint8_t* record)
{
    return LoadLE32(record + TOKEN_RECORD_FLAGS);
}

void SetTokenRecordFlags(std::uint8_t* record, std::uint32_t flags)
{
    StoreLE32(record + TOKEN_RECORD_FLAGS, flags);
}

CK_RV PKCS11TokenStorage::GetDevice(PKCS11Device** device)
{
    if (device == nullptr) return CKR_ARGUMENTS_BAD;
    if (connector_ == nullptr || !connector_->IsOpen()) return CKR_DEVICE_ERROR;
    PKCS11Token* token = nullptr;
    CK_RV rv = connector_->GetToken(&token);
    if (rv != CKR_OK) return rv;
    return token->GetDevice(device);
}

bool PKCS11TokenStorage::HasTokenRecord(const std::uint8_t* bytes, std::uint32_t length, std::uint32_t recordSize)
{
    return bytes != nullptr && length >= recordSize + TOKEN_STORAGE_MARK_BYTES && bytes[0] == MARK[0] &&
           bytes[1] == MARK[1];
}

CK_RV PKCS11TokenStorage::ReadPublicArea(PKCS11Device* device, std::unique_ptr<std::uint8_t[]>* image,
                                         std::uint32_t* used)
{
    std::uint8_t* bytes = nullptr;
    *used = 0;
    CK_RV rv = device->ReadStorageArea(0, &bytes, used);
    image->reset(bytes);
    return rv;
}

CK_RV PKCS11TokenStorage::IsInitialized(bool* initialized)
{
    if (initialized == nullptr) return CKR_ARGUMENTS_BAD;
    *initialized = false;
    PKCS11Device* device = nullptr;
    CK_RV rv = GetDevice(&device);
    if (rv != CKR_OK) return rv;
    std::unique_ptr<std::uint8_t[]> image;
    std::uint32_t used = 0;
    if ((rv = ReadPublicArea(device, &image, &used)) != CKR_OK) return rv;
    *initialized = HasTokenRecord(image.get(), used, device->GetTokenRecordSize());
    return CKR_OK;
}

CK_RV PKCS11TokenStorage::ReadTokenRecord(TokenRecordBytes* record)
{
    if (record == nullptr) return CKR_ARGUMENTS_BAD;
    PKCS11Device* device = nullptr;
    CK_RV rv = GetDevice(&device);
    if (rv != CKR_OK) return rv;
    std::unique_ptr<std::uint8_t[]> image;
    std::uint32_t used = 0;
    if ((rv = ReadPublicArea(device, &image, &used)) != CKR_OK) return rv;
    const std::uint32_t size = device->GetTokenRecordSize();
    if (!HasTokenRecord(image.get(), used, size)) return CKR_DEVICE_MEMORY;
    record->reset(new (std::nothrow) std::uint8_t[size]);
    if (!*record) return CKR_HOST_MEMORY;
    std::memcpy(record->get(), image.get() + TOKEN_STORAGE_MARK_BYTES, size);
    return CKR_OK;
}

CK_RV PKCS11TokenStorage::WriteTokenRecord(const std::uint8_t* record)
{
    if (record == nullptr) return CKR_ARGUMENTS_BAD;
    PKCS11Device* device = nullptr;
    CK_RV rv = GetDevice(&device);
    if (rv != CKR_OK) return rv;
    StorageHold hold(device);
    if (hold.Result() != CKR_OK) return hold.Result();
    std::vector<std::uint8_t> content;
    if ((rv = PublicContentWithRecord(device, record, &content)) != CKR_OK) return rv;
    return device->WriteStorageArea(0, content.data(), static_cast<std::uint32_t>(content.size()));
}

CK_RV PKCS11TokenStorage::PublicContentWithRecord(PKCS11Device* device, const std::uint8_t* record,
                                                  std::vector<std::uint8_t>* content)
{
    std::unique_ptr<std::uint8_t[]> image;
    std::uint32_t used = 0;
    const CK_RV rv = ReadPublicArea(device, &image, &used);
    if (rv != CKR_OK) return rv;
    const std::uint32_t size = device->GetTokenRecordSize();
    if (HasTokenRecord(image.get(), used, size)) {
        content->assign(image.get(), image.get() + used);  // the objects after the record stay
    } else {
        content->assign(TOKEN_STORAGE_MARK_BYTES + size, 0);
        (*content)[0] = MARK[0];
        (*content)[1] = MARK[1];
    }
    std::memcpy(content->data() + TOKEN_STORAGE_MARK_BYTES, record, size);
    return CKR_OK;
}

CK_RV PKCS11TokenStorage::AdjustFreeMemory(CK_BYTE area, int mode, std::uint32_t n)
{
    PKCS11Device* held = nullptr;
    CK_RV rv = GetDevice(&held);
    if (rv != CKR_OK) return rv;
    // The record read and written back under one hold: a change of another
    // writer in between would be lost.
    StorageHold hold(held);
    if (hold.Result() != CKR_OK) return hold.Result();
    TokenRecordBytes record;
    rv = ReadTokenRecord(&record);
    if (rv != CKR_OK) return rv;
    PKCS11Device* device = nullptr;
    if ((rv = GetDevice(&device)) != CKR_OK) return rv;
    std::uint32_t capacity = 0;
    std::uint32_t free = 0;
    if ((rv = device->GetAreaCapacity(area, &capacity)) != CKR_OK ||
        (rv = device->GetFreeMemory(record.get(), area, &free)) != CKR_OK)
        return rv;
    switch (mode) {
    case 0:
        free += n;
        break;
    case 1:
        free = n > free ? 0 : free - n;  // a damaged value from the key must not wrap
        break;
    case 2:
        free = capacity - n;
        break;
    default:
        break;
    }
    if (free > capacity) free = capacity;
    if ((rv = device->SetFreeMemory(record.get(), area, free)) != CKR_OK) return rv;
    return WriteTokenRecord(record.get());
}

CK_RV PKCS11TokenStorage::UpdatePINRecord(const char* pin, std::uint32_t length, CK_BYTE user)
{
    PKCS11Device* held = nullptr;
    CK_RV rv = GetDevice(&held);
    if (rv != CKR_OK) return rv;
    // The record read and written back under one hold: a change of another
    // writer in between would be lost.
    StorageHold hold(held);
    if (hold.Result() != CKR_OK) return hold.Result();
    TokenRecordBytes record;
    rv = ReadTokenRecord(&record);
    if (rv != CKR_OK) return rv;
    PKCS11Device* device = nullptr;
    if ((rv = GetDevice(&device)) != CKR_OK) return rv;
    if ((rv = device->UpdatePINRecord(record.get(), user, pin, length)) != CKR_OK) return rv;
    return WriteTokenRecord(record.get());
}

CK_RV PKCS11TokenStorage::SetTokenFlags(std::uint32_t bits)
{
    PKCS11Device* held = nullptr;
    CK_RV rv = GetDevice(&held);
    if (rv != CKR_OK) return rv;
    // The record read and written back under one hold: a change of another
    // writer in between would be lost.
    StorageHold hold(held);
    if (hold.Result() != CKR_OK) return hold.Result();
    TokenRecordBytes record;
    rv = ReadTokenRecord(&record);
    if (rv != CKR_OK) return rv;
    const std::uint32_t flags = TokenRecordFlags(record.get());
    if ((flags | bits) == flags) return CKR_OK;
    SetTokenRecordFlags(record.get(), flags | bits);
    return WriteTokenRecord(record.get());
}

CK_RV PKCS11TokenStorage::ClearTokenFlags(std::uint32_t bits)
{
    PKCS11Device* held = nullptr;
    CK_RV rv = GetDevice(&held);
    if (rv != CKR_OK) return rv;
    // The record read and written back under one hold: a change of another
    // writer in between would be lost.
    StorageHold hold(held);
    if (hold.Result() != CKR_OK) return hold.Result();
    TokenRecordBytes record;
    rv = ReadTokenRecord(&record);
    if (rv != CKR_OK) return rv;
    const std::uint32_t flags = TokenRecordFlags(record.get());
    if ((flags & ~bits) == flags) return CKR_OK;
    SetTokenRecordFlags(record.get(), flags & ~bits);
    return WriteTokenRecord(record.get());
}
