// The token objects of PKCS11TokenStorage: object records (1F FF, the
// serialised length big-endian, the serialised attributes) back to back
// after the token record in the public area and from the start of the
// private area. Every change builds the area's whole new content first,
// checks that it fits, and then erases and writes the area once, with the
// free-memory field of the record computed from what was written.
#include <cstring>
#include <new>
#include <vector>

#include "crypto/ByteOrder.h"
#include "pkcs11/PKCS11DeviceObjects.h"
#include "pkcs11/PKCS11Library.h"
#include "pkcs11/PKCS11Object.h"
#include "pkcs11/PKCS11Token.h"
#include "pkcs11/PKCS11TokenManager.h"
#include "pkcs11/PKCS11TokenStorage.h"

namespace {

using qvkcrypto::LoadBE32;

constexpr std::uint8_t TOKEN_MARK[2] = {0x3F, 0xFF};
constexpr std::uint8_t OBJECT_MARK[2] = {0x1F, 0xFF};
constexpr std::uint32_t OBJECT_HEADER_BYTES = OBJECT_RECORD_HEADER_BYTES;
constexpr CK_RV DEVICE_NOT_SUPPORTED = CKR_FUNCTION_NOT_SUPPORTED;  // 0x54

CK_ULONG StoredHandle(const PKCS11Object* object)
{
    CK_ULONG handle = 0;
    return object->GetInteger(CKA_VENDOR_OBJECT_HANDLE, &handle) == CKR_OK ? handle : 0;
}

// Whether `size` bytes of object records fit the area beside its header (the
// public area starts with the mark and the token record); the header and the
// area's capacity.
CK_RV AreaRoom(PKCS11Device* device, CK_BYTE area, std::uint64_t size, std::uint64_t* header, std::uint32_t* capacity)
{
    const CK_RV rv = device->GetAreaCapacity(area, capacity);
    if (rv != CKR_OK) return rv;
    *header = area == 0 ? TOKEN_STORAGE_MARK_BYTES + device->GetTokenRecordSize() : 0;
    return *header + size > *capacity ? CKR_DEVICE_MEMORY : CKR_OK;
}

}  // namespace

CK_RV AppendObjectRecord(const PKCS11Object* object, std::vector<std::uint8_t>* out)
{
    CK_ULONG length = 0;
    CK_RV rv = object->Serialize(nullptr, &length);
    if (rv != CKR_OK) return rv;
    if (length > 0xFFFFFFFFu - OBJECT_HEADER_BYTES) return CKR_DEVICE_MEMORY;
    const std::size_t start = out->size();
    out->resize(start + OBJECT_HEADER_BYTES + length);
    std::uint8_t* p = out->data() + start;
    p[0] = OBJECT_MARK[0];
    p[1] = OBJECT_MARK[1];
    for (int i = 0; i < 4; ++i) p[2 + i] = static_cast<std::uint8_t>(length >> (24 - 8 * i));
    CK_ULONG written = length;
    rv = object->Serialize(p + OBJECT_HEADER_BYTES, &written);
    if (rv == CKR_OK && written != length) rv = CKR_GENERAL_ERROR;
    if (rv != CKR_OK) out->resize(start);
    return rv;
}

CK_RV SplitObjectRecords(const std::uint8_t* bytes, std::uint32_t used, std::uint32_t start,
                         std::vector<ObjectRecordSpan>* spans)
{
    if (spans == nullptr || (bytes == nullptr && used != 0)) return CKR_ARGUMENTS_BAD;
    spans->clear();
    std::uint32_t offset = start;
    while (offset < used) {
        const std::uint32_t left = used - offset;
        const std::uint8_t* p = bytes + offset;
        if (left < OBJECT_HEADER_BYTES || p[0] != OBJECT_MARK[0] || p[1] != OBJECT_MARK[1]) break;
        const std::uint32_t n = LoadBE32(p + 2);
        // Compared with what remains, so a length near 2^32 cannot wrap.
        if (n > left - OBJECT_HEADER_BYTES) break;
        spans->push_back(ObjectRecordSpan{offset, OBJECT_HEADER_BYTES + n});
        offset += OBJECT_HEADER_BYTES + n;
    }
    if (offset != used) {
        spans->clear();
        return CKR_DEVICE_MEMORY;
    }
    return CKR_OK;
}

struct PKCS11TokenStorage::StoredRecord {
    std::vector<std::uint8_t> bytes;  // the whole record with its header
    PKCS11ObjectPtr object;
};

CK_RV PKCS11TokenStorage::CheckAreaAccess(CK_BYTE area)
{
    if (area == 0) return CKR_OK;
    if (connector_ == nullptr || !connector_->IsLoggedIn() || connector_->GetUserType() != CKU_USER)
        return CKR_USER_NOT_LOGGED_IN;
    return CKR_OK;
}

CK_RV PKCS11TokenStorage::AreaDevice(CK_BYTE area, PKCS11Device** device)
{
    const CK_RV rv = CheckAreaAccess(area);
    return rv != CKR_OK ? rv : GetDevice(device);
}

CK_RV PKCS11TokenStorage::ReadRecords(CK_BYTE area, std::vector<StoredRecord>* records, bool parse)
{
    records->clear();
    PKCS11Device* device = nullptr;
    CK_RV rv = GetDevice(&device);
    if (rv != CKR_OK) return rv;
    // One state of the key: the token record that says the area is in use and
    // the area itself come from the same hold.
    StorageHold hold(device);
    if (hold.Result() != CKR_OK) return hold.Result();
    const std::uint32_t recordSize = device->GetTokenRecordSize();
    if (area != 0) {
        bool initialized = false;
        if ((rv = IsInitialized(&initialized)) != CKR_OK) return rv;
        if (!initialized) return CKR_OK;
    }
    std::uint8_t* raw = nullptr;
    std::uint32_t used = 0;
    rv = device->ReadStorageArea(area, &raw, &used);
    std::unique_ptr<std::uint8_t[]> image(raw);
    if (rv != CKR_OK) return rv;
    std::uint32_t offset = 0;
    if (area == 0) {
        if (!HasTokenRecord(image.get(), used, recordSize)) return CKR_TOKEN_NOT_RECOGNIZED;
        offset = TOKEN_STORAGE_MARK_BYTES + recordSize;
    }
    std::vector<ObjectRecordSpan> spans;
    if ((rv = SplitObjectRecords(image.get(), used, offset, &spans)) != CKR_OK) return rv;
    for (const ObjectRecordSpan& span : spans) {
        const std::uint8_t* p = image.get() + span.offset;
        StoredRecord record;
        record.bytes.assign(p, p + span.length);
        if (parse) {
            rv = CreateObjectFromStoredForm(p + OBJECT_HEADER_BYTES, span.length - OBJECT_HEADER_BYTES,
                                            record.object.Address());
            if (rv != CKR_OK) {
                records->clear();
                return rv;
            }
        }
        records->push_back(std::move(record));
    }
    return CKR_OK;
}

CK_RV PKCS11TokenStorage::WriteObjectArea(CK_BYTE area, const std::vector<std::uint8_t>& records)
{
    PKCS11Device* device = nullptr;
    CK_RV rv = GetDevice(&device);
    if (rv != CKR_OK) return rv;
    TokenRecordBytes record;
    if ((rv = ReadTokenRecord(&record)) != CKR_OK) return area == 0 ? rv : CKR_DEVICE_ERROR;
    const std::uint32_t recordSize = device->GetTokenRecordSize();
    std::uint64_t header = 0;
    std::uint32_t capacity = 0;
    if ((rv = AreaRoom(device, area, records.size(), &header, &capacity)) != CKR_OK) return rv;
    const std::uint32_t free = static_cast<std::uint32_t>(capacity - header - records.size());
    if ((rv = device->SetFreeMemory(record.get(), area, free)) != CKR_OK) return rv;
    if (area == 0) {
        std::vector<std::uint8_t> content(header);
        content[0] = TOKEN_MARK[0];
        content[1] = TOKEN_MARK[1];
        std::memcpy(content.data() + TOKEN_STORAGE_MARK_BYTES, record.get(), recordSize);
        content.insert(content.end(), records.begin(), records.end());
        return device->WriteStorageArea(0, content.data(), static_cast<std::uint32_t>(content.size()));
    }
    // The private records and the record's count of them change together: a
    // count of the other content makes the area unreadable.
    std::vector<std::uint8_t> content;
    if ((rv = PublicContentWithRecord(device, record.get(), &content)) != CKR_OK) return rv;
    return device->WriteBothAreas(records.data(), static_cast<std::uint32_t>(records.size()), content.data(),
                                  static_cast<std::uint32_t>(content.size()));
}

CK_RV PKCS11TokenStorage::ReadObjects(std::vector<PKCS11Object*>* list, std::uint32_t* count, CK_BYTE area)
{
    if (count == nullptr) return CKR_ARGUMENTS_BAD;
    *count = 0;
    std::vector<StoredRecord> records;
    CK_RV rv = ReadRecords(area, &records, list != nullptr);
    if (rv != CKR_OK) return rv;
    if (list != nullptr)
        for (StoredRecord& r : records) list->push_back(r.object.Detach());
    *count = static_cast<std::uint32_t>(records.size());
    return CKR_OK;
}

CK_RV PKCS11TokenStorage::CountObjects(std::uint32_t* count, CK_BYTE area)
{
    return ReadObjects(nullptr, count, area);
}

CK_RV PKCS11TokenStorage::FindObjects(const CK_ATTRIBUTE* pattern, CK_ULONG patternCount,
                                      std::vector<PKCS11Object*>* list, CK_BYTE area)
{
    if (list == nullptr || (pattern == nullptr && patternCount != 0)) return CKR_ARGUMENTS_BAD;
    std::vector<StoredRecord> records;
    CK_RV rv = ReadRecords(area, &records, true);
    if (rv != CKR_OK) return rv;
    for (StoredRecord& r : records)
        if (r.object->Matches(pattern, patternCount)) list->push_back(r.object.Detach());
    return CKR_OK;
}

CK_RV PKCS11TokenStorage::FindFreeObjectNumber(std::uint32_t* number, CK_BYTE area)
{
    if (number == nullptr) return CKR_ARGUMENTS_BAD;
    std::vector<StoredRecord> records;
    CK_RV rv = ReadRecords(area, &records, true);
    if (rv != CKR_OK) return rv;
    std::vector<bool> taken(records.size() + 1, false);
    for (const StoredRecord& r : records) {
        const CK_ULONG low = StoredHandle(r.object.Get()) & 0x0FFFFFFF;
        if (low != 0 && low - 1 < taken.size()) taken[low - 1] = true;
    }
    std::uint32_t n = 0;
    while (taken[n]) ++n;
    *number = n;
    return CKR_OK;
}

CK_RV PKCS11TokenStorage::ReadObjectByHandle(CK_OBJECT_HANDLE handle, CK_BYTE area, PKCS11Object** object)
{
    if (object == nullptr) return CKR_ARGUMENTS_BAD;
    CK_RV rv = CheckAreaAccess(area);
    if (rv != CKR_OK) return rv;
    CK_ULONG stored = handle & HANDLE_STORED_MASK;
    CK_ATTRIBUTE pattern{CKA_VENDOR_OBJECT_HANDLE, &stored, sizeof(stored)};
    std::vector<PKCS11Object*> found;
    if ((rv = FindObjects(&pattern, 1, &found, area)) != CKR_OK) return rv;
    if (found.empty()) return CKR_OBJECT_HANDLE_INVALID;
    *object = found[0];
    for (std::size_t i = 1; i < found.size(); ++i) found[i]->Release();
    return CKR_OK;
}

CK_RV PKCS11TokenStorage::AddObject(PKCS11Object* object)
{
    if (object == nullptr) return CKR_ARGUMENTS_BAD;
    bool isPrivate = false;
    CK_RV rv = object->GetBoolOr(CKA_PRIVATE, false, &isPrivate);
    if (rv != CKR_OK) return rv;
    PKCS11Device* device = nullptr;
    if ((rv = GetDevice(&device)) != CKR_OK) return rv;
    if (device->HasNativeObjectStore()) return CKR_OK;
    rv = device->StoreObject(object);
    if (rv != CKR_OK && rv != DEVICE_NOT_SUPPORTED) return rv;
    return AppendObjects(&object, 1, isPrivate ? 1 : 0);
}

CK_RV PKCS11TokenStorage::AppendObjects(PKCS11Object* const* objects, std::uint32_t count, CK_BYTE area)
{
    if (count == 0) return CKR_OK;
    if (objects == nullptr) return CKR_ARGUMENTS_BAD;
    PKCS11Device* device = nullptr;
    CK_RV rv = AreaDevice(area, &device);
    if (rv != CKR_OK) return rv;
    StorageHold hold(device);
    if (hold.Result() != CKR_OK) return hold.Result();
    std::vector<std::uint8_t> content;
    if ((rv = ContentWithObjects(objects, count, area, &content)) != CKR_OK) return rv;
    return WriteObjectArea(area, content);
}

CK_RV PKCS11TokenStorage::ContentWithObjects(PKCS11Object* const* objects, std::uint32_t count, CK_BYTE area,
                                             std::vector<std::uint8_t>* content)
{
    std::vector<StoredRecord> records;
    CK_RV rv = ReadRecords(area, &records, false);
    if (rv != CKR_OK) return rv;
    for (const StoredRecord& r : records) content->insert(content->end(), r.bytes.begin(), r.bytes.end());
    for (std::uint32_t i = 0; i < count; ++i)
        if (objects[i] != nullptr && (rv = AppendObjectRecord(objects[i], content)) != CKR_OK) return rv;
    return CKR_OK;
}

CK_RV PKCS11TokenStorage::CheckRoom(PKCS11Object* const* objects, std::uint32_t count, CK_BYTE area)
{
    if (count == 0) return CKR_OK;
    if (objects == nullptr) return CKR_ARGUMENTS_BAD;
    PKCS11Device* device = nullptr;
    CK_RV rv = AreaDevice(area, &device);
    if (rv != CKR_OK) return rv;
    if (device->HasNativeObjectStore()) return CKR_OK;
    std::vector<std::uint8_t> content;
    if ((rv = ContentWithObjects(objects, count, area, &content)) != CKR_OK) return rv;
    std::uint64_t header = 0;
    std::uint32_t capacity = 0;
    return AreaRoom(device, area, content.size(), &header, &capacity);
}

CK_RV PKCS11TokenStorage::RemoveObject(CK_OBJECT_HANDLE handle, CK_BYTE area, bool keepDeviceCopy)
{
    PKCS11Device* device = nullptr;
    CK_RV rv = AreaDevice(area, &device);
    if (rv != CKR_OK) return rv;
    bool deviceChanged = false;
    if ((rv = RemoveObjectHeld(device, handle, area, keepDeviceCopy, &deviceChanged)) != CKR_OK) return rv;
    if (deviceChanged) {
        PKCS11Entity* entity = nullptr;
        PKCS11Token* token = nullptr;
        if (GetEntity(&entity) == CKR_OK && connector_->GetToken(&token) == CKR_OK)
            entity->ReleaseSlotDevice(token->GetSlotId(), device);
    }
    return CKR_OK;
}

CK_RV PKCS11TokenStorage::RemoveObjectHeld(PKCS11Device* device, CK_OBJECT_HANDLE handle, CK_BYTE area,
                                           bool keepDeviceCopy, bool* deviceChanged)
{
    StorageHold hold(device);
    if (hold.Result() != CKR_OK) return hold.Result();
    std::vector<StoredRecord> records;
    CK_RV rv = ReadRecords(area, &records, true);
    if (rv != CKR_OK) return rv;
    if (records.empty()) return CKR_OBJECT_HANDLE_INVALID;
    const CK_ULONG wanted = handle & HANDLE_STORED_MASK;
    std::vector<std::uint8_t> content;
    bool matched = false;
    for (const StoredRecord& r : records) {
        if (StoredHandle(r.object.Get()) != wanted) {
            content.insert(content.end(), r.bytes.begin(), r.bytes.end());
            continue;
        }
        matched = true;
        if (keepDeviceCopy) continue;
        // The hooks run before anything is written: a refusal keeps every object.
        rv = NotifyDeviceObjectDeleted(device, r.object.Get());
        if (rv != CKR_OK && rv != DEVICE_NOT_SUPPORTED) return rv;
        *deviceChanged = *deviceChanged || rv == CKR_OK;
    }
    if (!matched) return CKR_OK;
    return WriteObjectArea(area, content);
}

CK_RV PKCS11TokenStorage::ReplaceObject(CK_OBJECT_HANDLE handle, CK_BYTE area, PKCS11Object* object)
{
    if (object == nullptr) return CKR_ARGUMENTS_BAD;
    PKCS11Device* device = nullptr;
    CK_RV rv = AreaDevice(area, &device);
    if (rv != CKR_OK) return rv;
    StorageHold hold(device);
    if (hold.Result() != CKR_OK) return hold.Result();
    std::vector<StoredRecord> records;
    if ((rv = ReadRecords(area, &records, true)) != CKR_OK) return rv;
    const CK_ULONG wanted = handle & HANDLE_STORED_MASK;
    std::vector<std::uint8_t> content;
    bool placed = false;
    for (const StoredRecord& r : records) {
        if (StoredHandle(r.object.Get()) != wanted) {
            content.insert(content.end(), r.bytes.begin(), r.bytes.end());
        } else if (!placed) {
            if ((rv = AppendObjectRecord(object, &content)) != CKR_OK) return rv;
            placed = true;
        }
    }
    if (!placed) return CKR_OBJECT_HANDLE_INVALID;
    return WriteObjectArea(area, content);
}

CK_RV PKCS11TokenStorage::ClearArea(CK_BYTE area)
{
    PKCS11Device* device = nullptr;
    CK_RV rv = AreaDevice(area, &device);
    if (rv != CKR_OK) return rv;
    StorageHold hold(device);
    if (hold.Result() != CKR_OK) return hold.Result();
    return WriteObjectArea(area, {});
}
