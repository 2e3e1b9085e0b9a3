// Slots: one per key the driver has numbered. Every C_GetSlotList rescans
// the attached keys by opening each numbered one with a throw-away device
// object; a slot is listed, and can be addressed by id, only when its key
// opened in the latest scan.
#ifndef QVK_PKCS11_PKCS11SLOT_H
#define QVK_PKCS11_PKCS11SLOT_H

#include <cstdint>
#include <memory>

#include "pkcs11/PKCS11Lock.h"
#include "pkcs11/PKCS11Token.h"
#include "pkcs11/pkcs11ua.h"

enum : std::uint32_t { SLOT_COUNT = 256 };

class PKCS11Slot : public PKCS11RWLock {
public:
    explicit PKCS11Slot(std::uint32_t slotId);
    ~PKCS11Slot() override;

    std::uint32_t GetSlotId() const { return slotId_; }
    CK_RV GetToken(PKCS11Token** token);
    CK_RV GetSlotInfo(CK_SLOT_INFO* info);

private:
    std::uint32_t slotId_;
    std::unique_ptr<PKCS11Token> token_;
};

class PKCS11SlotManager : public PKCS11Lock {
public:
    PKCS11SlotManager();
    ~PKCS11SlotManager() override;

    // Rebuilds the present flags; the caller holds the manager's lock.
    CK_RV ScanSlots();
    CK_RV GetSlotList(CK_SLOT_ID* list, CK_ULONG* count);
    // No scan: CKR_SLOT_ID_INVALID unless the key opened in the latest one.
    CK_RV GetSlotById(CK_SLOT_ID slotId, PKCS11Slot** slot);

private:
    std::uint32_t presentCount_ = 0;
    std::unique_ptr<PKCS11Slot> slots_[SLOT_COUNT];
    bool present_[SLOT_COUNT] = {};
};

#endif
