// A token's data on the key: the mark and the token record at the start of
// the public area (label, token flags, free memory of both areas). Every read
// goes through ReadStorageArea and every change rewrites the used part of an
// area with WriteStorageArea.
#ifndef QVK_PKCS11_PKCS11TOKENSTORAGE_H
#define QVK_PKCS11_PKCS11TOKENSTORAGE_H

#include <cstdint>
#include <memory>
#include <vector>

#include "pkcs11/PKCS11Device.h"
#include "pkcs11/pkcs11ua.h"

class PKCS11Object;
class PKCS11TokenConnector;

enum : std::uint32_t {
    TOKEN_RECORD_BYTES = 46,
    TOKEN_RECORD_LABEL = 2,
    TOKEN_RECORD_LABEL_BYTES = 32,
    TOKEN_RECORD_FLAGS = 34,
    TOKEN_STORAGE_MARK_BYTES = 2
};

// The object records of an area's used part from `start` on: each record's
// offset and whole length (header included). CKR_DEVICE_MEMORY when the
// bytes are not whole records back to back.
struct ObjectRecordSpan {
    std::uint32_t offset;
    std::uint32_t length;
};
CK_RV SplitObjectRecords(const std::uint8_t* bytes, std::uint32_t used, std::uint32_t start,
                         std::vector<ObjectRecordSpan>* spans);
constexpr std::uint32_t OBJECT_RECORD_HEADER_BYTES = 6;
// The object's record (header and stored form) appended to `out`; nothing
// appended on failure.
CK_RV AppendObjectRecord(const PKCS11Object* object, std::vector<std::uint8_t>* out);

// The key held from the read of an area to the write of its new content:
// another session or process that changes the area meanwhile would otherwise
// have its objects overwritten by content built before its change.
class StorageHold {
public:
    explicit StorageHold(PKCS11Device* device) : device_(device), result_(device->HoldStorage()) {}
    ~StorageHold()
    {
        if (result_ == CKR_OK) device_->ReleaseStorage();
    }
    StorageHold(const StorageHold&) = delete;
    StorageHold& operator=(const StorageHold&) = delete;
    CK_RV Result() const { return result_; }

private:
    PKCS11Device* device_;
    CK_RV result_;
};

// Bytes of a token record owned by the caller.
using TokenRecordBytes = std::unique_ptr<std::uint8_t[]>;

std::uint32_t TokenRecordFlags(const std::uint8_t* record);
void SetTokenRecordFlags(std::uint8_t* record, std::uint32_t flags);

class PKCS11TokenStorage {
public:
    explicit PKCS11TokenStorage(PKCS11TokenConnector* connector) : connector_(connector) {}
    virtual ~PKCS11TokenStorage() = default;

    // CKR_DEVICE_ERROR when the connector is not open.
    CK_RV GetDevice(PKCS11Device** device);
    static bool HasTokenRecord(const std::uint8_t* bytes, std::uint32_t length, std::uint32_t recordSize);
    CK_RV IsInitialized(bool* initialized);
    // CKR_DEVICE_MEMORY when the area holds no token.
    CK_RV ReadTokenRecord(TokenRecordBytes* record);
    CK_RV WriteTokenRecord(const std::uint8_t* record);
    // mode 0: free + n, 1: free - n, 2: capacity - n.
    CK_RV AdjustFreeMemory(CK_BYTE area, int mode, std::uint32_t n);
    CK_RV UpdatePINRecord(const char* pin, std::uint32_t length, CK_BYTE user);
    CK_RV SetTokenFlags(std::uint32_t bits);
    CK_RV ClearTokenFlags(std::uint32_t bits);

    // ---- Token objects (PKCS11TokenStorageObjects.cpp) ----
    // Area 0 public, 1 private. Objects handed out are new; the caller
    // releases them (FreeObjectList for lists).
    CK_RV ReadObjects(std::vector<PKCS11Object*>* list, std::uint32_t* count, CK_BYTE area);
    CK_RV CountObjects(std::uint32_t* count, CK_BYTE area);
    CK_RV FindObjects(const CK_ATTRIBUTE* pattern, CK_ULONG patternCount, std::vector<PKCS11Object*>* list,
                      CK_BYTE area);
    CK_RV FindFreeObjectNumber(std::uint32_t* number, CK_BYTE area);
    CK_RV ReadObjectByHandle(CK_OBJECT_HANDLE handle, CK_BYTE area, PKCS11Object** object);
    CK_RV AddObject(PKCS11Object* object);
    CK_RV AppendObjects(PKCS11Object* const* objects, std::uint32_t count, CK_BYTE area);
    // CKR_DEVICE_MEMORY when the objects would not fit beside the area's
    // present records; nothing is written.
    CK_RV CheckRoom(PKCS11Object* const* objects, std::uint32_t count, CK_BYTE area);
    // Runs the device's delete hooks (unless the device keeps its copy)
    // before anything is written; no matching object: nothing written, 0.
    CK_RV RemoveObject(CK_OBJECT_HANDLE handle, CK_BYTE area, bool keepDeviceCopy);
    // The stored object of the handle replaced by the given one in a single
    // rewrite, refused before anything is written when it does not fit.
    CK_RV ReplaceObject(CK_OBJECT_HANDLE handle, CK_BYTE area, PKCS11Object* object);
    CK_RV ClearArea(CK_BYTE area);

private:
    CK_RV ReadPublicArea(PKCS11Device* device, std::unique_ptr<std::uint8_t[]>* image, std::uint32_t* used);
    // The public area's content with the given token record in place.
    CK_RV PublicContentWithRecord(PKCS11Device* device, const std::uint8_t* record, std::vector<std::uint8_t>* content);
    struct StoredRecord;
    CK_RV ReadRecords(CK_BYTE area, std::vector<StoredRecord>* records, bool parse);
    CK_RV WriteObjectArea(CK_BYTE area, const std::vector<std::uint8_t>& records);
    // The area's records followed by those of the objects.
    CK_RV ContentWithObjects(PKCS11Object* const* objects, std::uint32_t count, CK_BYTE area,
                             std::vector<std::uint8_t>* content);
    CK_RV CheckAreaAccess(CK_BYTE area);
    // CheckAreaAccess, then the key's device.
    CK_RV AreaDevice(CK_BYTE area, PKCS11Device** device);
    CK_RV RemoveObjectHeld(PKCS11Device* device, CK_OBJECT_HANDLE handle, CK_BYTE area, bool keepDeviceCopy,
                           bool* deviceChanged);

    PKCS11TokenConnector* connector_;
};

#endif
