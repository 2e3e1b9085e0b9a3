#include "pkcs11/PKCS11Slot.h"

#include <cstring>
#include <new>

#include "pkcs11/PKCS11DriverSeam.h"
#include "pkcs11/PKCS11Library.h"
#include "pkcs11/PKCS11Text.h"
#include "pkcs11/PKCS11TokenManager.h"

namespace {

const char MANUFACTURER[] = "JSC_TVR";
const char DESCRIPTION[] = "Q.uor_Korvo-7Q_Slot";

CK_RV PadText(CK_UTF8CHAR* field, CK_ULONG size, const char* text)
{
    std::memset(field, ' ', size);
    CK_ULONG written = 0;
    return Cp1251ToUtf8(text, std::strlen(text), reinterpret_cast<char*>(field), &written, size);
}

}  // namespace

PKCS11Slot::PKCS11Slot(std::uint32_t slotId) : slotId_(slotId), token_(new (std::nothrow) PKCS11Token(slotId)) {}

PKCS11Slot::~PKCS11Slot() = default;

CK_RV PKCS11Slot::GetToken(PKCS11Token** token)
{
    if (token == nullptr) return CKR_ARGUMENTS_BAD;
    if (!token_) return CKR_GENERAL_ERROR;
    *token = token_.get();
    return CKR_OK;
}

CK_RV PKCS11Slot::GetSlotInfo(CK_SLOT_INFO* info)
{
    if (info == nullptr) return CKR_ARGUMENTS_BAD;
    CK_RV rv;
    if ((rv = PadText(info->manufacturerID, sizeof(info->manufacturerID), MANUFACTURER)) != CKR_OK ||
        (rv = PadText(info->slotDescription, sizeof(info->slotDescription), DESCRIPTION)) != CKR_OK)
        return rv;
    PKCS11Device* ownDevice = nullptr;
    if (!token_) return CKR_DEVICE_ERROR;
    if ((rv = token_->GetDevice(&ownDevice)) != CKR_OK) return rv;
    PKCS11Entity* entity = nullptr;
    PKCS11TokenManagerPool* pool = nullptr;
    PKCS11TokenManager* manager = nullptr;
    info->hardwareVersion = {2, 2};
    info->firmwareVersion = {2, 2};
    info->flags = CKF_REMOVABLE_DEVICE;
    if ((rv = GetEntity(&entity)) != CKR_OK || (rv = entity->GetTokenManagerPool(&pool)) != CKR_OK) return rv;
    // A key that is gone (or cannot be opened) is a slot without a token.
    rv = pool->Acquire(slotId_, &manager);
    if (rv == CKR_TOKEN_NOT_PRESENT || rv == CKR_DEVICE_ERROR) return CKR_OK;
    if (rv != CKR_OK) return rv;
    rv = [&]() -> CK_RV {
        PKCS11Token* token = nullptr;
        PKCS11Device* device = nullptr;
        PKCS11TokenConnector* connector = nullptr;
        CK_RV r;
        if ((r = manager->GetToken(&token)) != CKR_OK || (r = token->GetDevice(&device)) != CKR_OK ||
            (r = manager->GetConnector(&connector)) != CKR_OK)
            return r;
        info->flags = CKF_REMOVABLE_DEVICE;
        if (connector->Open() != CKR_OK) return CKR_OK;
        if (device->UsesTokenContexts() && (r = device->SynchronizeContexts(0, 0, 0, 0, 1)) != CKR_OK) {
            connector->Close();
            return r;
        }
        if (device->IsPresent()) info->flags |= CKF_TOKEN_PRESENT;
        connector->Close();
        return CKR_OK;
    }();
    pool->Release(manager);
    return rv;
}

PKCS11SlotManager::PKCS11SlotManager() = default;

PKCS11SlotManager::~PKCS11SlotManager() = default;

CK_RV PKCS11SlotManager::ScanSlots()
{
    presentCount_ = 0;
    std::memset(present_, 0, sizeof(present_));
    if (!RegisteredDeviceLayerAvailable()) return CKR_DEVICE_ERROR;
    for (std::uint32_t i = 0; i < SLOT_COUNT; ++i) {
        CK_RV rv = EnumerateRegisteredKeySerials(i);
        if (rv == CKR_SLOT_ID_INVALID) return CKR_OK;
        if (rv != CKR_OK) return rv;
        if (!slots_[i]) {
            slots_[i].reset(new (std::nothrow) PKCS11Slot(i));
            if (!slots_[i]) return CKR_HOST_MEMORY;
        }
        PKCS11Device* probe = CreateRegisteredDevice();
        if (probe == nullptr) return CKR_HOST_MEMORY;
        if (probe->Open(i) == CKR_OK) {
            probe->Close();
            present_[i] = true;
            ++presentCount_;
        }
        probe->Release();
    }
    return CKR_OK;
}

CK_RV PKCS11SlotManager::GetSlotList(CK_SLOT_ID* list, CK_ULONG* count)
{
    if (count == nullptr) return CKR_ARGUMENTS_BAD;
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) return lock.Result();
    CK_RV rv = ScanSlots();
    if (rv != CKR_OK) return rv;
    if (list != nullptr) {
        if (*count < presentCount_) {
            *count = presentCount_;
            return CKR_BUFFER_TOO_SMALL;
        }
        CK_ULONG at = 0;
        for (std::uint32_t i = 0; i < SLOT_COUNT; ++i)
            if (present_[i]) list[at++] = i;
    }
    *count = presentCount_;
    return CKR_OK;
}

CK_RV PKCS11SlotManager::GetSlotById(CK_SLOT_ID slotId, PKCS11Slot** slot)
{
    if (slotId >= SLOT_COUNT) return CKR_SLOT_ID_INVALID;
    if (slot == nullptr) return CKR_ARGUMENTS_BAD;
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) return lock.Result();
    if (!slots_[slotId] || !present_[slotId]) return CKR_SLOT_ID_INVALID;
    *slot = slots_[slotId].get();
    return CKR_OK;
}
