#include "pkcs11/PKCS11ObjectManager.h"

#include <cstring>
#include <new>

#include "pkcs11/PKCS11DeviceObjects.h"
#include "pkcs11/PKCS11Library.h"
#include "pkcs11/PKCS11Mechanisms.h"
#include "pkcs11/PKCS11Session.h"
#include "pkcs11/PKCS11Slot.h"
#include "pkcs11/PKCS11TokenManager.h"
#include "pkcs11/PKCS11TokenStorage.h"

namespace {

CK_BYTE AreaOf(bool isPrivate)
{
    return isPrivate ? 1 : 0;
}

bool HandleIsToken(CK_OBJECT_HANDLE handle)
{
    return (handle & HANDLE_TOKEN_BIT) != 0;
}
bool HandleIsPrivate(CK_OBJECT_HANDLE handle)
{
    return (handle & HANDLE_PRIVATE_BIT) != 0;
}

// Bits 8-27 of a session object's handle: the handle of the session whose
// table holds it, so that the handle names one object in every session of
// the application; 0 for the standard objects each session starts with,
// which have the same handles in every session.
constexpr unsigned HANDLE_OWNER_SHIFT = 8;

CK_SESSION_HANDLE HandleOwner(CK_OBJECT_HANDLE handle)
{
    return (handle & HANDLE_CONTEXT_MASK) >> HANDLE_OWNER_SHIFT;
}

// Bits 30-31, 0 in every handle.
constexpr CK_ULONG HANDLE_UNUSED_BITS = 0xC0000000UL;

// Whether the handle has the shape of one this manager gives out, matched
// whole: 32 bits with bits 30-31 clear, and no bits 8-27 on a token object
// (this manager gives token objects no context numbers), so a handle that
// only shares the stored bits with a token object names none.
bool HandleHasValidShape(CK_OBJECT_HANDLE handle)
{
    if (handle > 0xFFFFFFFFUL || (handle & HANDLE_UNUSED_BITS) != 0) return false;
    return !HandleIsToken(handle) || (handle & HANDLE_CONTEXT_MASK) == 0;
}

// A caller's template that names an attribute the module keeps for itself.
bool NamesInternalAttribute(const CK_ATTRIBUTE* entries, CK_ULONG count)
{
    for (CK_ULONG i = 0; i < count; ++i)
        if (IsInternalAttributeType(entries[i].type)) return true;
    return false;
}

// The entry of the type, or none.
const CK_ATTRIBUTE* EntryOf(const CK_ATTRIBUTE* entries, CK_ULONG count, CK_ATTRIBUTE_TYPE type)
{
    for (CK_ULONG i = 0; i < count; ++i)
        if (entries[i].type == type) return &entries[i];
    return nullptr;
}

bool SaysTrue(const CK_ATTRIBUTE* entry)
{
    return entry != nullptr && entry->ulValueLen >= 1 && entry->pValue != nullptr &&
           *static_cast<const CK_BBOOL*>(entry->pValue) != CK_FALSE;
}

// An object that reports itself a token object (a session's domain
// parameters do) is not changed from a read-only session, wherever it lives.
CK_RV CheckReportedTokenWrite(const PKCS11Object* object, const PKCS11Session& caller)
{
    bool reportsToken = false;
    const CK_RV rv = object->GetBoolOr(CKA_TOKEN, false, &reportsToken);
    if (rv != CKR_OK) return rv;
    return reportsToken && caller.IsReadOnly() ? CKR_SESSION_READ_ONLY : CKR_OK;
}

CK_RV ReleaseAll(std::vector<PKCS11Object*>* list, CK_RV rv)
{
    PKCS11ObjectManager::FreeObjectList(list);
    return rv;
}

}  // namespace

CK_RV LockSlotForWrite(std::uint32_t slotId, bool write, std::function<CK_RV()> work)
{
    PKCS11Entity* entity = nullptr;
    PKCS11SlotManager* slots = nullptr;
    PKCS11Slot* slot = nullptr;
    CK_RV rv;
    if ((rv = GetEntity(&entity)) != CKR_OK || (rv = entity->GetSlotManager(&slots)) != CKR_OK ||
        (rv = slots->GetSlotById(slotId, &slot)) != CKR_OK)
        return rv;
    if ((rv = write ? slot->WriteLock() : slot->ReadLock()) != CKR_OK) return rv;
    try {
        rv = work();
    } catch (...) {
        write ? slot->WriteUnlock() : slot->ReadUnlock();
        throw;
    }
    write ? slot->WriteUnlock() : slot->ReadUnlock();
    return rv;
}

PKCS11ObjectManager::PKCS11ObjectManager(PKCS11Session* session) : session_(session) {}

PKCS11ObjectManager::~PKCS11ObjectManager()
{
    ClearFindLocked();
    for (PKCS11Object*& entry : entries_) {
        if (entry != nullptr) entry->Release();
        entry = nullptr;
    }
}

void PKCS11ObjectManager::FreeObjectList(std::vector<PKCS11Object*>* list)
{
    if (list == nullptr) return;
    for (PKCS11Object* object : *list)
        if (object != nullptr) object->Release();
    list->clear();
}

void PKCS11ObjectManager::ClearFindLocked()
{
    FreeObjectList(&found_);
    nextFound_ = 0;
    findActive_ = false;
}

CK_RV AccessAllowed(CK_STATE state, bool readOnlySession, bool isToken, bool isPrivate, std::uint32_t operation,
                    bool* allowed)
{
    if (allowed == nullptr) return CKR_ARGUMENTS_BAD;
    *allowed = false;
    const bool write = operation == ACCESS_WRITE;
    if (write && isToken && readOnlySession) return CKR_SESSION_READ_ONLY;
    switch (state) {
    case CKS_RO_PUBLIC_SESSION:
        *allowed = !isPrivate && (!isToken || !write);
        break;
    case CKS_RO_USER_FUNCTIONS:
        *allowed = !isToken || !write;
        break;
    case CKS_RW_PUBLIC_SESSION:
        // The key takes no write without a login: a token write would only
        // reach it to be refused.
        *allowed = !isPrivate && (!isToken || !write);
        break;
    case CKS_RW_SO_FUNCTIONS:
        *allowed = !isPrivate;
        break;
    case CKS_RW_USER_FUNCTIONS:
        *allowed = true;
        break;
    default:
        break;
    }
    return CKR_OK;
}

CK_RV PKCS11ObjectManager::CheckAccess(bool isToken, bool isPrivate, std::uint32_t operation, bool* allowed)
{
    if (allowed == nullptr) return CKR_ARGUMENTS_BAD;
    *allowed = false;
    if (operation == ACCESS_WRITE && isToken && session_->IsReadOnly()) return CKR_SESSION_READ_ONLY;
    CK_STATE state = 0;
    CK_RV rv = session_->GetState(&state);
    if (rv != CKR_OK) return rv;
    return AccessAllowed(state, session_->IsReadOnly(), isToken, isPrivate, operation, allowed);
}

CK_RV PKCS11ObjectManager::GetStorage(PKCS11TokenStorage** storage)
{
    PKCS11TokenManager* manager = nullptr;
    CK_RV rv = session_->GetTokenManager(&manager);
    if (rv != CKR_OK) return rv;
    return manager->GetStorage(storage);
}

CK_RV PKCS11ObjectManager::AddSessionObject(PKCS11Object* object, bool standard)
{
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) return lock.Result();
    CK_ULONG free = SESSION_OBJECT_ENTRIES;
    for (CK_ULONG i = 0; i < SESSION_OBJECT_ENTRIES && free == SESSION_OBJECT_ENTRIES; ++i)
        if (entries_[i] == nullptr) free = i;
    if (free == SESSION_OBJECT_ENTRIES) return CKR_HOST_MEMORY;
    CK_OBJECT_HANDLE handle = 0;
    CK_RV rv = object->MakeHandle(free, &handle);
    if (rv != CKR_OK) return rv;
    // A session object is never stored on the key, so its handle keeps the
    // owner's bits whole. The standard objects every session starts with
    // have the same handles in every session, as token objects do.
    if (!standard) handle |= (CK_ULONG(session_->GetHandle()) << HANDLE_OWNER_SHIFT) & HANDLE_CONTEXT_MASK;
    if ((rv = object->SetIntegerAttribute(CKA_VENDOR_OBJECT_HANDLE, handle, false)) != CKR_OK) return rv;
    PKCS11Template* copy = nullptr;
    if ((rv = object->Clone(&copy)) != CKR_OK) return rv;
    entries_[free] = static_cast<PKCS11Object*>(copy);
    return CKR_OK;
}

CK_RV PKCS11ObjectManager::StoreTokenObject(PKCS11Object* object)
{
    PKCS11TokenStorage* storage = nullptr;
    PKCS11Device* device = nullptr;
    CK_RV rv;
    if ((rv = session_->GetDevice(&device)) != CKR_OK || (rv = GetStorage(&storage)) != CKR_OK) return rv;
    bool isPrivate = false;
    if ((rv = object->GetBoolOr(CKA_PRIVATE, false, &isPrivate)) != CKR_OK) return rv;
    return LockSlotForWrite(session_->GetSlotId(), true, [&]() -> CK_RV {
        // The key is held from the choice of a free object number to the
        // write: another process must not take the same number in between.
        CK_RV r = device->HoldStorage();
        if (r != CKR_OK) return r;
        struct Release {
            PKCS11Device* device;
            ~Release() { device->ReleaseStorage(); }
        } release{device};
        CK_OBJECT_HANDLE handle = 0;
        r = GetObjectHandle(object, &handle);
        if (r != CKR_OK) return r;
        if (handle == 0) {
            std::uint32_t number = 0;
            r = GetDeviceObjectNumber(device, object, &number);
            if (r == CKR_FUNCTION_NOT_SUPPORTED) r = storage->FindFreeObjectNumber(&number, AreaOf(isPrivate));
            if (r != CKR_OK) return r;
            if ((r = object->MakeHandle(number, &handle)) != CKR_OK ||
                (r = SetObjectHandleAttribute(object, handle)) != CKR_OK)
                return r;
        }
        return storage->AddObject(object);
    });
}

CK_RV PKCS11ObjectManager::AddObject(PKCS11Object* object, CK_OBJECT_HANDLE* handle)
{
    return AddObjectAs(object, false, handle);
}

CK_RV PKCS11ObjectManager::AddObjectAs(PKCS11Object* object, bool standard, CK_OBJECT_HANDLE* handle)
{
    if (object == nullptr || handle == nullptr) return CKR_ARGUMENTS_BAD;
    bool isToken = false, isPrivate = false, allowed = false;
    CK_RV rv;
    if ((rv = object->GetBoolOr(CKA_TOKEN, false, &isToken)) != CKR_OK ||
        (rv = object->GetBoolOr(CKA_PRIVATE, false, &isPrivate)) != CKR_OK ||
        (rv = CheckAccess(isToken, isPrivate, ACCESS_WRITE, &allowed)) != CKR_OK)
        return rv;
    if (!allowed) return CKR_USER_NOT_LOGGED_IN;
    rv = isToken ? StoreTokenObject(object) : AddSessionObject(object, standard);
    if (rv != CKR_OK) return rv;
    return GetObjectHandle(object, handle);
}

CK_RV PKCS11ObjectManager::CreateChecked(const CK_ATTRIBUTE* entries, CK_ULONG count, bool standard,
                                         CK_OBJECT_HANDLE* handle)
{
    PKCS11ObjectPtr object;
    CK_RV rv = CreateObjectFromTemplate(entries, count, true, object.Address());
    if (rv != CKR_OK) return rv;
    // Only the SO may make a certificate trusted, so one made in any other
    // session without saying so is not.
    CK_ULONG objectClass = 0;
    if ((rv = object->GetInteger(CKA_CLASS, &objectClass)) != CKR_OK) return rv;
    if (objectClass == CKO_CERTIFICATE && EntryOf(entries, count, CKA_TRUSTED) == nullptr) {
        CK_STATE state = 0;
        if ((rv = session_->GetState(&state)) != CKR_OK) return rv;
        if (state != CKS_RW_SO_FUNCTIONS && (rv = object->SetBoolAttribute(CKA_TRUSTED, false, false)) != CKR_OK)
            return rv;
    }
    return AddObjectAs(object.Get(), standard, handle);
}

CK_RV PKCS11ObjectManager::CreateObject(const CK_ATTRIBUTE* entries, CK_ULONG count, CK_OBJECT_HANDLE* handle)
{
    if (entries == nullptr || handle == nullptr) return CKR_ARGUMENTS_BAD;
    // The handle and the key references are the module's own: a caller
    // naming them could alias another object's handle.
    if (NamesInternalAttribute(entries, count)) return CKR_ATTRIBUTE_TYPE_INVALID;
    if (SaysTrue(EntryOf(entries, count, CKA_TRUSTED))) {
        CK_STATE state = 0;
        CK_RV rv = session_->GetState(&state);
        if (rv != CKR_OK) return rv;
        if (state != CKS_RW_SO_FUNCTIONS) return CKR_ATTRIBUTE_READ_ONLY;
    }
    return CreateChecked(entries, count, false, handle);
}

CK_RV PKCS11ObjectManager::CreateInternalObject(const CK_ATTRIBUTE* entries, CK_ULONG count, CK_OBJECT_HANDLE* handle)
{
    if (entries == nullptr || handle == nullptr) return CKR_ARGUMENTS_BAD;
    return CreateChecked(entries, count, true, handle);
}

CK_RV PKCS11ObjectManager::AddKeyPair(PKCS11Object* privateKey, PKCS11Object* publicKey,
                                      CK_OBJECT_HANDLE* privateHandle, CK_OBJECT_HANDLE* publicHandle)
{
    if (privateKey == nullptr || publicKey == nullptr || privateHandle == nullptr || publicHandle == nullptr)
        return CKR_ARGUMENTS_BAD;
    CK_RV rv = AddObject(publicKey, publicHandle);
    if (rv != CKR_OK) return rv;
    rv = AddObject(privateKey, privateHandle);
    if (rv != CKR_OK) DestroyObject(*publicHandle);
    return rv;
}

CK_RV PKCS11ObjectManager::CheckRoom(PKCS11Object* const* objects, std::uint32_t count)
{
    if (objects == nullptr && count != 0) return CKR_ARGUMENTS_BAD;
    std::vector<PKCS11Object*> areas[2];
    CK_ULONG sessionObjects = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        bool isToken = false, isPrivate = false;
        CK_RV rv;
        if ((rv = objects[i]->GetBoolOr(CKA_TOKEN, false, &isToken)) != CKR_OK ||
            (rv = objects[i]->GetBoolOr(CKA_PRIVATE, false, &isPrivate)) != CKR_OK)
            return rv;
        if (isToken)
            areas[AreaOf(isPrivate)].push_back(objects[i]);
        else
            ++sessionObjects;
    }
    if (sessionObjects != 0) {
        PKCS11LockGuard lock(*this);
        if (lock.Result() != CKR_OK) return lock.Result();
        CK_ULONG free = 0;
        for (const PKCS11Object* entry : entries_)
            if (entry == nullptr) ++free;
        if (free < sessionObjects) return CKR_HOST_MEMORY;
    }
    for (CK_BYTE area = 0; area < 2; ++area) {
        if (areas[area].empty()) continue;
        PKCS11TokenStorage* storage = nullptr;
        CK_RV rv = GetStorage(&storage);
        if (rv != CKR_OK) return rv;
        rv = LockSlotForWrite(session_->GetSlotId(), false, [&] {
            return storage->CheckRoom(areas[area].data(), static_cast<std::uint32_t>(areas[area].size()), area);
        });
        if (rv != CKR_OK) return rv;
    }
    return CKR_OK;
}

CK_RV PKCS11ObjectManager::FindEntryLocked(CK_OBJECT_HANDLE handle, CK_ULONG* index)
{
    for (CK_ULONG i = 0; i < SESSION_OBJECT_ENTRIES; ++i) {
        CK_OBJECT_HANDLE h = 0;
        if (entries_[i] != nullptr && GetObjectHandle(entries_[i], &h) == CKR_OK && h == handle) {
            *index = i;
            return CKR_OK;
        }
    }
    return CKR_OBJECT_HANDLE_INVALID;
}

CK_RV PKCS11ObjectManager::FindHome(CK_OBJECT_HANDLE handle, SessionObjectHome* home)
{
    const CK_SESSION_HANDLE owner = HandleOwner(handle);
    if (owner == 0 || owner == session_->GetHandle()) {
        home->table = this;
        return CKR_OK;
    }
    // Another session of the application on this token made it; a session
    // that has gone took its objects along.
    if (FindSession(owner, &home->session) != CKR_OK || home->session->GetSlotId() != session_->GetSlotId() ||
        home->session->GetObjectManager(&home->objects) != CKR_OK)
        return CKR_OBJECT_HANDLE_INVALID;
    home->table = home->objects.get();
    return CKR_OK;
}

CK_RV PKCS11ObjectManager::RemoveSessionObject(CK_OBJECT_HANDLE handle, const PKCS11Session& caller)
{
    {
        PKCS11LockGuard lock(*this);
        if (lock.Result() != CKR_OK) return lock.Result();
        CK_ULONG index = 0;
        CK_RV rv = FindEntryLocked(handle, &index);
        if (rv != CKR_OK) return rv;
        if ((rv = CheckReportedTokenWrite(entries_[index], caller)) != CKR_OK) return rv;
        entries_[index]->Release();
        entries_[index] = nullptr;
    }
    // The derivations were recorded under the session that holds the key.
    DropDerivationContexts(handle);
    return CKR_OK;
}

CK_RV PKCS11ObjectManager::DestroyObject(CK_OBJECT_HANDLE handle)
{
    if (!HandleHasValidShape(handle)) return CKR_OBJECT_HANDLE_INVALID;
    bool allowed = false;
    CK_RV rv = CheckAccess(HandleIsToken(handle), HandleIsPrivate(handle), ACCESS_WRITE, &allowed);
    if (rv != CKR_OK) return rv;
    if (!allowed) return CKR_USER_NOT_LOGGED_IN;
    if (HandleIsToken(handle)) {
        PKCS11TokenStorage* storage = nullptr;
        if ((rv = GetStorage(&storage)) != CKR_OK) return rv;
        rv = LockSlotForWrite(session_->GetSlotId(), true,
                              [&] { return storage->RemoveObject(handle, AreaOf(HandleIsPrivate(handle)), false); });
        if (rv == CKR_OK) DropDerivationContexts(handle);
        return rv;
    }
    SessionObjectHome home;
    if ((rv = FindHome(handle, &home)) != CKR_OK) return rv;
    return home.table->RemoveSessionObject(handle, *session_);
}

void PKCS11ObjectManager::DropDerivationContexts(CK_OBJECT_HANDLE handle)
{
    // A derivation recorded for this key must not pass to a later object
    // that is given the same handle.
    PKCS11Device* device = nullptr;
    if (session_ != nullptr && session_->GetDevice(&device) == CKR_OK && device != nullptr)
        device->DropKeyContexts(session_->GetHandle(), handle);
}

CK_RV PKCS11ObjectManager::GetObjectCopy(CK_OBJECT_HANDLE handle, std::uint32_t operation, PKCS11Object** copy)
{
    if (copy == nullptr || handle == 0) return CKR_ARGUMENTS_BAD;
    if (!HandleHasValidShape(handle)) return CKR_OBJECT_HANDLE_INVALID;
    bool allowed = false;
    CK_RV rv = CheckAccess(HandleIsToken(handle), HandleIsPrivate(handle), operation, &allowed);
    if (rv != CKR_OK) return rv;
    if (!allowed) return CKR_USER_NOT_LOGGED_IN;
    if (HandleIsToken(handle)) {
        PKCS11TokenStorage* storage = nullptr;
        if ((rv = GetStorage(&storage)) != CKR_OK) return rv;
        return LockSlotForWrite(session_->GetSlotId(), false, [&] {
            return storage->ReadObjectByHandle(handle, AreaOf(HandleIsPrivate(handle)), copy);
        });
    }
    return WithSessionObject(handle, [&](PKCS11Object* entry) {
        PKCS11Template* made = nullptr;
        const CK_RV r = entry->Clone(&made);
        if (r == CKR_OK) *copy = static_cast<PKCS11Object*>(made);
        return r;
    });
}

CK_RV PKCS11ObjectManager::ReplaceObject(CK_OBJECT_HANDLE handle, PKCS11Object* object)
{
    if (object == nullptr || handle == 0) return CKR_ARGUMENTS_BAD;
    if (!HandleHasValidShape(handle)) return CKR_OBJECT_HANDLE_INVALID;
    bool allowed = false;
    CK_RV rv = CheckAccess(HandleIsToken(handle), HandleIsPrivate(handle), ACCESS_WRITE, &allowed);
    if (rv != CKR_OK) return rv;
    if (!allowed) return CKR_USER_NOT_LOGGED_IN;
    if (!HandleIsToken(handle)) {
        SessionObjectHome home;
        if ((rv = FindHome(handle, &home)) != CKR_OK) return rv;
        return home.table->ReplaceSessionObject(handle, object, *session_);
    }
    PKCS11TokenStorage* storage = nullptr;
    if ((rv = GetStorage(&storage)) != CKR_OK) return rv;
    return LockSlotForWrite(session_->GetSlotId(), true,
                            [&] { return storage->ReplaceObject(handle, AreaOf(HandleIsPrivate(handle)), object); });
}

CK_RV PKCS11ObjectManager::SetAttributeValue(CK_OBJECT_HANDLE handle, const CK_ATTRIBUTE* entries, CK_ULONG count)
{
    if (entries == nullptr && count != 0) return CKR_ARGUMENTS_BAD;
    if (NamesInternalAttribute(entries, count)) return CKR_ATTRIBUTE_TYPE_INVALID;
    PKCS11ObjectPtr copy;
    CK_RV rv = GetObjectCopy(handle, ACCESS_READ, copy.Address());
    if (rv != CKR_OK) return rv;
    bool modifiable = true;
    if ((rv = copy->GetBoolOr(CKA_MODIFIABLE, true, &modifiable)) != CKR_OK) return rv;
    if (!modifiable) return CKR_ATTRIBUTE_READ_ONLY;
    // Class, token and private stay as created, for every class.
    for (CK_ATTRIBUTE_TYPE fixed : {CKA_CLASS, CKA_TOKEN, CKA_PRIVATE}) {
        const CK_ATTRIBUTE* entry = EntryOf(entries, count, fixed);
        PKCS11Attribute* current = copy->FindAttribute(fixed);
        if (entry == nullptr || current == nullptr || current->IsEmpty()) continue;
        PKCS11Attribute* probe = nullptr;
        if ((rv = current->Clone(&probe)) != CKR_OK) return rv;
        const bool same = probe->SetValue(entry->pValue, entry->ulValueLen) == CKR_OK && current->Equals(*probe);
        probe->Release();
        if (!same) return CKR_ATTRIBUTE_READ_ONLY;
    }
    if (SaysTrue(EntryOf(entries, count, CKA_TRUSTED))) {
        CK_STATE state = 0;
        if ((rv = session_->GetState(&state)) != CKR_OK) return rv;
        if (state != CKS_RW_SO_FUNCTIONS) return CKR_ATTRIBUTE_READ_ONLY;
    }
    if ((rv = copy->ApplyTemplate(entries, count, true)) != CKR_OK) return rv;
    return ReplaceObject(handle, copy.Get());
}

CK_RV PKCS11ObjectManager::GetAttributeValue(CK_OBJECT_HANDLE handle, CK_ATTRIBUTE* entries, CK_ULONG count)
{
    if (entries == nullptr && count != 0) return CKR_ARGUMENTS_BAD;
    PKCS11ObjectPtr copy;
    CK_RV rv = GetObjectCopy(handle, ACCESS_READ, copy.Address());
    if (rv != CKR_OK) return rv;
    return copy->GetAttributeValues(entries, count);
}

CK_RV PKCS11ObjectManager::GetObjectSize(CK_OBJECT_HANDLE handle, CK_ULONG* size)
{
    if (size == nullptr) return CKR_ARGUMENTS_BAD;
    PKCS11ObjectPtr copy;
    CK_RV rv = GetObjectCopy(handle, ACCESS_READ, copy.Address());
    if (rv != CKR_OK) return rv;
    CK_ULONG length = 0;
    if ((rv = copy->Serialize(nullptr, &length)) != CKR_OK) return rv;
    *size = length + 6;  // the object record's header on the key
    return CKR_OK;
}

CK_RV PKCS11ObjectManager::ReplaceSessionObject(CK_OBJECT_HANDLE handle, PKCS11Object* object,
                                                const PKCS11Session& caller)
{
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) return lock.Result();
    CK_ULONG index = 0;
    CK_RV rv = FindEntryLocked(handle, &index);
    if (rv != CKR_OK || (rv = CheckReportedTokenWrite(entries_[index], caller)) != CKR_OK) return rv;
    PKCS11Template* made = nullptr;
    if ((rv = object->Clone(&made)) != CKR_OK) return rv;
    entries_[index]->Release();
    entries_[index] = static_cast<PKCS11Object*>(made);
    return CKR_OK;
}

CK_RV PKCS11ObjectManager::WithSessionObject(CK_OBJECT_HANDLE handle, const std::function<CK_RV(PKCS11Object*)>& work)
{
    if (HandleIsToken(handle) || !HandleHasValidShape(handle)) return CKR_OBJECT_HANDLE_INVALID;
    SessionObjectHome home;
    CK_RV rv = FindHome(handle, &home);
    if (rv != CKR_OK) return rv;
    return home.table->WithOwnSessionObject(handle, work);
}

CK_RV PKCS11ObjectManager::WithOwnSessionObject(CK_OBJECT_HANDLE handle,
                                                const std::function<CK_RV(PKCS11Object*)>& work)
{
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) return lock.Result();
    CK_ULONG index = 0;
    CK_RV rv = FindEntryLocked(handle, &index);
    if (rv != CKR_OK) return rv;
    return work(entries_[index]);
}

CK_RV PKCS11ObjectManager::FindSessionObjects(const CK_ATTRIBUTE* pattern, CK_ULONG count,
                                              std::vector<PKCS11Object*>* list)
{
    bool publicAllowed = false, privateAllowed = false;
    CK_RV rv;
    if ((rv = CheckAccess(false, false, ACCESS_READ, &publicAllowed)) != CKR_OK ||
        (rv = CheckAccess(false, true, ACCESS_READ, &privateAllowed)) != CKR_OK)
        return rv;
    if (!publicAllowed && !privateAllowed) return CKR_OK;
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) return lock.Result();
    for (PKCS11Object* entry : entries_) {
        if (entry == nullptr || !entry->Matches(pattern, count)) continue;
        bool isPrivate = false;
        if (entry->GetBoolOr(CKA_PRIVATE, false, &isPrivate) != CKR_OK) continue;
        if (isPrivate ? !privateAllowed : !publicAllowed) continue;
        PKCS11Template* copy = nullptr;
        if (entry->Clone(&copy) != CKR_OK) continue;
        list->push_back(static_cast<PKCS11Object*>(copy));
    }
    return CKR_OK;
}

CK_RV PKCS11ObjectManager::FindTokenObjects(const CK_ATTRIBUTE* pattern, CK_ULONG count, bool privateArea,
                                            std::vector<PKCS11Object*>* list)
{
    bool allowed = false;
    CK_RV rv = CheckAccess(true, privateArea, ACCESS_READ, &allowed);
    if (rv != CKR_OK || !allowed) return rv;
    if (!privateArea) {
        const CK_ATTRIBUTE* cls = EntryOf(pattern, count, CKA_CLASS);
        if (cls != nullptr && cls->ulValueLen == sizeof(CK_ULONG) && cls->pValue != nullptr &&
            *static_cast<const CK_ULONG*>(cls->pValue) == CKO_PRIVATE_KEY)
            return CKR_OK;
    }
    PKCS11TokenStorage* storage = nullptr;
    if ((rv = GetStorage(&storage)) != CKR_OK) return rv;
    return LockSlotForWrite(session_->GetSlotId(), false,
                            [&] { return storage->FindObjects(pattern, count, list, AreaOf(privateArea)); });
}

CK_RV PKCS11ObjectManager::CollectMatchingObjects(const CK_ATTRIBUTE* pattern, CK_ULONG count,
                                                  std::vector<PKCS11Object*>* list)
{
    if (list == nullptr || (pattern == nullptr && count != 0)) return CKR_ARGUMENTS_BAD;
    CK_RV rv = FindSessionObjects(pattern, count, list);
    if (rv == CKR_OK) rv = FindTokenObjects(pattern, count, false, list);
    PKCS11TokenManager* manager = nullptr;
    PKCS11TokenConnector* connector = nullptr;
    if (rv == CKR_OK && (rv = session_->GetTokenManager(&manager)) == CKR_OK &&
        (rv = manager->GetConnector(&connector)) == CKR_OK && connector->IsLoggedIn())
        rv = FindTokenObjects(pattern, count, true, list);
    return rv == CKR_OK ? CKR_OK : ReleaseAll(list, rv);
}

CK_RV PKCS11ObjectManager::FindObjectsInit(const CK_ATTRIBUTE* pattern, CK_ULONG count)
{
    if (pattern == nullptr && count != 0) return CKR_ARGUMENTS_BAD;
    {
        PKCS11LockGuard lock(*this);
        if (lock.Result() != CKR_OK) return lock.Result();
        if (findActive_ && nextFound_ < found_.size()) return CKR_OPERATION_ACTIVE;
        ClearFindLocked();
    }
    std::vector<PKCS11Object*> list;
    CK_RV rv = CollectMatchingObjects(pattern, count, &list);
    if (rv != CKR_OK) return rv;
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) return ReleaseAll(&list, lock.Result());
    ClearFindLocked();
    found_ = std::move(list);
    findActive_ = true;
    return CKR_OK;
}

CK_RV PKCS11ObjectManager::FindObjects(CK_OBJECT_HANDLE* handles, CK_ULONG max, CK_ULONG* count)
{
    if (handles == nullptr || count == nullptr || max == 0) return CKR_ARGUMENTS_BAD;
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) return lock.Result();
    if (!findActive_) return CKR_OPERATION_NOT_INITIALIZED;
    CK_RV first = CKR_OK;
    CK_ULONG filled = 0;
    while (filled < max && nextFound_ < found_.size()) {
        CK_OBJECT_HANDLE handle = 0;
        const CK_RV rv = GetObjectHandle(found_[nextFound_++], &handle);
        if (rv != CKR_OK && first == CKR_OK) first = rv;
        handles[filled++] = rv == CKR_OK ? handle : 0;
    }
    *count = filled;
    return first;
}

CK_RV PKCS11ObjectManager::FindObjectsFinal()
{
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) return lock.Result();
    if (!findActive_) return CKR_OPERATION_NOT_INITIALIZED;
    ClearFindLocked();
    return CKR_OK;
}

CK_RV PKCS11ObjectManager::CheckKeyUsage(std::uint32_t kind, const PKCS11Object* key, const CK_MECHANISM* mechanism)
{
    std::uint32_t access = ACCESS_READ;
    CK_RV rv = CheckKeyUsageRules(kind, key, mechanism, &access);
    if (rv != CKR_OK) return rv;
    bool isToken = false, isPrivate = false, allowed = false;
    if ((rv = key->GetBoolOr(CKA_TOKEN, false, &isToken)) != CKR_OK ||
        (rv = key->GetBoolOr(CKA_PRIVATE, false, &isPrivate)) != CKR_OK ||
        (rv = CheckAccess(isToken, isPrivate, access, &allowed)) != CKR_OK)
        return rv;
    return allowed ? CKR_OK : CKR_USER_NOT_LOGGED_IN;
}

CK_RV CheckKeyUsageRules(std::uint32_t kind, const PKCS11Object* key, const CK_MECHANISM* mechanism,
                         std::uint32_t* accessNeeded)
{
    if (key == nullptr || mechanism == nullptr || accessNeeded == nullptr) return CKR_ARGUMENTS_BAD;
    bool isToken = false, isPrivate = false;
    CK_ULONG objectClass = 0;
    CK_RV rv;
    if ((rv = key->GetBoolOr(CKA_TOKEN, false, &isToken)) != CKR_OK ||
        (rv = key->GetBoolOr(CKA_PRIVATE, false, &isPrivate)) != CKR_OK ||
        (rv = key->GetInteger(CKA_CLASS, &objectClass)) != CKR_OK)
        return rv;
    const CK_MECHANISM_TYPE m = mechanism->mechanism;
    CK_KEY_TYPE required = 0;
    std::uint32_t access = ACCESS_READ;
    if (kind == KEY_USAGE_CREATE) {
        access = ACCESS_WRITE;
        switch (objectClass) {
        case CKO_PRIVATE_KEY:
        case CKO_PUBLIC_KEY:
            if (!isToken || (objectClass == CKO_PRIVATE_KEY && !isPrivate)) return CKR_TEMPLATE_INCONSISTENT;
            if (m != CKM_DSTU4145_KEY_PAIR_GEN) return CKR_MECHANISM_INVALID;
            required = CKK_DSTU4145;
            break;
        case CKO_SECRET_KEY: {
            if (isToken || !isPrivate) return CKR_TEMPLATE_INCONSISTENT;
            CK_ULONG kdf = 0;
            const bool deriveParameter =
                mechanism->ulParameterLen == sizeof(CK_DSTU4145_DERIVE_PARAMS) && mechanism->pParameter != nullptr;
            if (deriveParameter) kdf = static_cast<const CK_DSTU4145_DERIVE_PARAMS*>(mechanism->pParameter)->kdf;
            if (m == CKM_GOST28147_KEY_GEN) {
                required = CKK_GOST28147;
            } else if (m == CKM_DSTU7624_KEY_GEN) {
                required = CKK_DSTU7624;
            } else if (m == CKM_GOST28147_KEY_WRAP || m == CKM_DSTU7624_KEY_WRAP) {
                // An unwrapped key is of the kind its unwrapping key wraps.
                required = m == CKM_GOST28147_KEY_WRAP ? CKK_GOST28147 : CKK_DSTU7624;
            } else if (m == CKM_DSTU4145_DERIVE) {
                if (!deriveParameter || kdf != CKD_DSTU4145_GOST28147) return CKR_MECHANISM_PARAM_INVALID;
                required = CKK_GOST28147;
            } else if (m == CKM_DSTU4145_DERIVE_EXT) {
                if (deriveParameter && kdf == CKD_DSTU4145_GOST28147)
                    required = CKK_GOST28147;
                else if (deriveParameter && kdf == CKD_DSTU4145_DSTU7624)
                    required = CKK_DSTU7624;
                else
                    return CKR_MECHANISM_PARAM_INVALID;
            } else {
                return CKR_MECHANISM_INVALID;
            }
            break;
        }
        default:
            return CKR_TEMPLATE_INCONSISTENT;
        }
    } else {
        CK_ATTRIBUTE_TYPE flag = 0;
        CK_OBJECT_CLASS wantedClass = 0;
        bool tokenWanted = true, privateWanted = true;
        switch (kind) {
        case KEY_USAGE_SIGN:
        case KEY_USAGE_VERIFY:
            flag = kind == KEY_USAGE_SIGN ? CKA_SIGN : CKA_VERIFY;
            wantedClass = kind == KEY_USAGE_SIGN ? CKO_PRIVATE_KEY : CKO_PUBLIC_KEY;
            privateWanted = kind == KEY_USAGE_SIGN;
            break;
        case KEY_USAGE_DERIVE:
            flag = CKA_DERIVE;
            wantedClass = CKO_PRIVATE_KEY;
            break;
        case KEY_USAGE_WRAP:
        case KEY_USAGE_UNWRAP:
            flag = kind == KEY_USAGE_WRAP ? CKA_WRAP : CKA_UNWRAP;
            wantedClass = CKO_SECRET_KEY;
            tokenWanted = false;
            break;
        default:
            return CKR_ARGUMENTS_BAD;
        }
        const PKCS11Mechanism* entry = FindMechanism(m);
        const bool accepted = entry != nullptr && (entry->keyUses & (1u << kind)) != 0;
        if (accepted) required = entry->keyType;
        bool usable = false;
        if ((rv = key->GetBoolOr(flag, false, &usable)) != CKR_OK) return rv;
        if (!usable) return CKR_KEY_FUNCTION_NOT_PERMITTED;
        if (objectClass != wantedClass) return CKR_KEY_HANDLE_INVALID;
        if (isToken != tokenWanted || (privateWanted && !isPrivate)) return CKR_KEY_FUNCTION_NOT_PERMITTED;
        if (!accepted) return CKR_MECHANISM_INVALID;
        if ((rv = CheckAllowedMechanism(key, m)) != CKR_OK) return rv;
    }
    CK_ULONG keyType = 0;
    if ((rv = key->GetInteger(CKA_KEY_TYPE, &keyType)) != CKR_OK) return rv;
    if (keyType != required) return CKR_KEY_TYPE_INCONSISTENT;
    *accessNeeded = access;
    return CKR_OK;
}

CK_RV PKCS11Session::GetObjectManager(std::shared_ptr<PKCS11ObjectManager>* manager)
{
    if (manager == nullptr) return CKR_ARGUMENTS_BAD;
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) return lock.Result();
    if (!objectManager_) {
        auto made = std::make_shared<PKCS11ObjectManager>(this);
        if (made->CreationError() != CKR_OK) return made->CreationError();
        objectManager_ = made;
    }
    *manager = objectManager_;
    return CKR_OK;
}

CK_RV FindKeyForUse(CK_SESSION_HANDLE hSession, std::uint32_t usage, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE hKey,
                    std::shared_ptr<PKCS11Session>* session, std::shared_ptr<PKCS11ObjectManager>* objects,
                    PKCS11ObjectPtr* key)
{
    if (mechanism->pParameter == nullptr && mechanism->ulParameterLen != 0) return CKR_MECHANISM_PARAM_INVALID;
    CK_RV rv = FindSession(hSession, session);
    if (rv != CKR_OK) return rv;
    if ((rv = (*session)->GetObjectManager(objects)) != CKR_OK) return rv;
    if ((rv = (*objects)->LookUpObject(hKey, key->Address())) != CKR_OK) return rv;
    return (*objects)->CheckKeyUsage(usage, key->Get(), mechanism);
}
