// The objects of one session: its own session objects (CKA_TOKEN false) in
// a table whose entry number gives the handle, the token's objects through
// the token storage, who may read and write what in which session state,
// the search state, and the key-usage checks made before a cryptographic
// operation starts. Objects go in and out as copies.
#ifndef QVK_PKCS11_PKCS11OBJECTMANAGER_H
#define QVK_PKCS11_PKCS11OBJECTMANAGER_H

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "pkcs11/PKCS11Lock.h"
#include "pkcs11/PKCS11Object.h"
#include "pkcs11/pkcs11ua.h"

class PKCS11Session;
class PKCS11TokenStorage;

enum : std::uint32_t {
    // Entry 255 would give handle bits 0-7 of 0 and later entries would
    // alias earlier ones, so a session keeps at most 255 live objects.
    SESSION_OBJECT_ENTRIES = 255,
    ACCESS_READ = 1,
    ACCESS_WRITE = 2,
    KEY_USAGE_CREATE = 1,
    KEY_USAGE_SIGN = 2,
    KEY_USAGE_VERIFY = 3,
    KEY_USAGE_DERIVE = 5,
    KEY_USAGE_WRAP = 6,
    KEY_USAGE_UNWRAP = 7
};

class PKCS11ObjectManager : public PKCS11Lock {
public:
    explicit PKCS11ObjectManager(PKCS11Session* session);
    ~PKCS11ObjectManager() override;

    // A caller's template: vendor attributes the module keeps are refused.
    CK_RV CreateObject(const CK_ATTRIBUTE* entries, CK_ULONG count, CK_OBJECT_HANDLE* handle);
    // The standard objects every session starts with (domain parameters):
    // their handles carry no session, so they are the same in every session.
    CK_RV CreateInternalObject(const CK_ATTRIBUTE* entries, CK_ULONG count, CK_OBJECT_HANDLE* handle);
    CK_RV AddObject(PKCS11Object* object, CK_OBJECT_HANDLE* handle);
    CK_RV AddKeyPair(PKCS11Object* privateKey, PKCS11Object* publicKey, CK_OBJECT_HANDLE* privateHandle,
                     CK_OBJECT_HANDLE* publicHandle);
    CK_RV DestroyObject(CK_OBJECT_HANDLE handle);
    // Whether the objects would all be stored now: CKR_HOST_MEMORY when the
    // session table lacks entries, CKR_DEVICE_MEMORY when a token area lacks
    // bytes. Asked before work that cannot be undone.
    CK_RV CheckRoom(PKCS11Object* const* objects, std::uint32_t count);
    CK_RV GetObjectCopy(CK_OBJECT_HANDLE handle, std::uint32_t operation, PKCS11Object** copy);
    CK_RV LookUpObject(CK_OBJECT_HANDLE handle, PKCS11Object** copy)
    {
        return GetObjectCopy(handle, ACCESS_READ, copy);
    }
    CK_RV SetAttributeValue(CK_OBJECT_HANDLE handle, const CK_ATTRIBUTE* entries, CK_ULONG count);
    CK_RV GetAttributeValue(CK_OBJECT_HANDLE handle, CK_ATTRIBUTE* entries, CK_ULONG count);
    CK_RV GetObjectSize(CK_OBJECT_HANDLE handle, CK_ULONG* size);
    CK_RV ReplaceObject(CK_OBJECT_HANDLE handle, PKCS11Object* object);
    CK_RV FindObjectsInit(const CK_ATTRIBUTE* pattern, CK_ULONG count);
    CK_RV FindObjects(CK_OBJECT_HANDLE* handles, CK_ULONG max, CK_ULONG* count);
    CK_RV FindObjectsFinal();
    CK_RV CollectMatchingObjects(const CK_ATTRIBUTE* pattern, CK_ULONG count, std::vector<PKCS11Object*>* list);
    static void FreeObjectList(std::vector<PKCS11Object*>* list);
    // Runs the work on the live session object under the lock of the manager
    // whose table holds it (this session's or another of the application's).
    CK_RV WithSessionObject(CK_OBJECT_HANDLE handle, const std::function<CK_RV(PKCS11Object*)>& work);
    CK_RV CheckAccess(bool isToken, bool isPrivate, std::uint32_t operation, bool* allowed);
    CK_RV CheckKeyUsage(std::uint32_t kind, const PKCS11Object* key, const CK_MECHANISM* mechanism);

private:
    // The manager whose table holds a session object; `session` and
    // `objects` keep another session's alive for the call.
    struct SessionObjectHome {
        std::shared_ptr<PKCS11Session> session;
        std::shared_ptr<PKCS11ObjectManager> objects;
        PKCS11ObjectManager* table = nullptr;
    };
    CK_RV FindHome(CK_OBJECT_HANDLE handle, SessionObjectHome* home);
    // On this manager's own table, for a call made through `caller`.
    CK_RV RemoveSessionObject(CK_OBJECT_HANDLE handle, const PKCS11Session& caller);
    CK_RV ReplaceSessionObject(CK_OBJECT_HANDLE handle, PKCS11Object* object, const PKCS11Session& caller);
    CK_RV WithOwnSessionObject(CK_OBJECT_HANDLE handle, const std::function<CK_RV(PKCS11Object*)>& work);
    CK_RV AddObjectAs(PKCS11Object* object, bool standard, CK_OBJECT_HANDLE* handle);
    CK_RV AddSessionObject(PKCS11Object* object, bool standard);
    CK_RV StoreTokenObject(PKCS11Object* object);
    CK_RV FindEntryLocked(CK_OBJECT_HANDLE handle, CK_ULONG* index);
    CK_RV GetStorage(PKCS11TokenStorage** storage);
    CK_RV FindSessionObjects(const CK_ATTRIBUTE* pattern, CK_ULONG count, std::vector<PKCS11Object*>* list);
    CK_RV FindTokenObjects(const CK_ATTRIBUTE* pattern, CK_ULONG count, bool privateArea,
                           std::vector<PKCS11Object*>* list);
    CK_RV CreateChecked(const CK_ATTRIBUTE* entries, CK_ULONG count, bool standard, CK_OBJECT_HANDLE* handle);
    void ClearFindLocked();
    // Forgets the device's derivation contexts of a destroyed key.
    void DropDerivationContexts(CK_OBJECT_HANDLE handle);

    PKCS11Session* session_;
    PKCS11Object* entries_[SESSION_OBJECT_ENTRIES] = {};
    std::vector<PKCS11Object*> found_;
    std::size_t nextFound_ = 0;
    bool findActive_ = false;
};

// The access rules of the session states: which operation (ACCESS_READ or
// ACCESS_WRITE) a session may make on a session or token, public or private
// object. CKR_SESSION_READ_ONLY for a token write in a read-only session.
CK_RV AccessAllowed(CK_STATE state, bool readOnlySession, bool isToken, bool isPrivate, std::uint32_t operation,
                    bool* allowed);
// The rules of CheckKeyUsage up to the session's access, which it names.
CK_RV CheckKeyUsageRules(std::uint32_t kind, const PKCS11Object* key, const CK_MECHANISM* mechanism,
                         std::uint32_t* accessNeeded);

// Keeps a slot's write lock (or read lock) for a scope.
CK_RV LockSlotForWrite(std::uint32_t slotId, bool write, std::function<CK_RV()> work);

// What a key operation starts from: the session, its objects and key hKey,
// checked for `usage` (a KeyUsageKind or an operation) with this mechanism.
// A parameter length without a parameter is refused first.
CK_RV FindKeyForUse(CK_SESSION_HANDLE hSession, std::uint32_t usage, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE hKey,
                    std::shared_ptr<PKCS11Session>* session, std::shared_ptr<PKCS11ObjectManager>* objects,
                    PKCS11ObjectPtr* key);

#endif
