// The exported face of the module: the 68 functions of the PKCS#11 v2.20
// function list. Every live function refuses work before C_Initialize,
// checks the arguments the frame owns and delegates; no exception ever
// leaves an exported function (CKR_GENERAL_ERROR).
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>

#include "pkcs11/PKCS11DSTU4145.h"
#include "pkcs11/PKCS11Digest.h"
#include "pkcs11/PKCS11KeyManagement.h"
#include "pkcs11/PKCS11KeyPair.h"
#include "pkcs11/PKCS11Library.h"
#include "pkcs11/PKCS11ObjectManager.h"
#include "pkcs11/PKCS11Session.h"
#include "pkcs11/PKCS11SignVerify.h"
#include "pkcs11/PKCS11Slot.h"
#include "pkcs11/PKCS11Token.h"
#include "pkcs11/PKCS11TokenManager.h"
#include "pkcs11/pkcs11ua.h"

#define QVK_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// C_Initialize and C_Finalize never run at the same time.
std::mutex g_lifecycleLock;

template <typename Body>
CK_RV Guard(Body body) noexcept
{
    try {
        return body();
    } catch (...) {
        return CKR_GENERAL_ERROR;
    }
}

// The frame of a live function: not initialised, then the body.
template <typename Body>
CK_RV Live(Body body) noexcept
{
    if (!IsLibraryInitialized()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    return Guard(body);
}

// Data of a non-zero length must be there.
inline bool MissingData(const void* data, CK_ULONG length)
{
    return data == nullptr && length != 0;
}

PKCS11SessionManager* Sessions(CK_RV* rv)
{
    PKCS11Entity* entity = nullptr;
    PKCS11SessionManager* sessions = nullptr;
    if ((*rv = GetEntity(&entity)) == CKR_OK) *rv = entity->GetSessionManager(&sessions);
    return sessions;
}

// The session's object manager for the length of one call: the session and
// the manager stay alive while a concurrent C_CloseSession drops them.
template <typename Body>
CK_RV WithObjects(CK_SESSION_HANDLE handle, Body body)
{
    std::shared_ptr<PKCS11Session> session;
    std::shared_ptr<PKCS11ObjectManager> objects;
    CK_RV rv = FindSession(handle, &session);
    if (rv != CKR_OK) return rv;
    if ((rv = session->GetObjectManager(&objects)) != CKR_OK) return rv;
    return body(*objects);
}

}  // namespace

// ---- general purpose ----

QVK_EXPORT CK_RV C_Initialize(CK_VOID_PTR pInitArgs)
{
    return Guard([&]() -> CK_RV {
        std::lock_guard<std::mutex> lifecycle(g_lifecycleLock);
        if (IsLibraryInitialized()) return CKR_CRYPTOKI_ALREADY_INITIALIZED;
        if (!InitializeLibrary(static_cast<const CK_C_INITIALIZE_ARGS*>(pInitArgs))) return CKR_FUNCTION_FAILED;
        PKCS11Entity* entity = nullptr;
        CK_RV rv = GetEntity(&entity);
        if (rv != CKR_OK) FinalizeLibrary();  // nothing of the start may stay behind
        return rv;
    });
}

QVK_EXPORT CK_RV C_Finalize(CK_VOID_PTR pReserved)
{
    (void)pReserved;
    return Guard([&]() -> CK_RV {
        std::lock_guard<std::mutex> lifecycle(g_lifecycleLock);
        PKCS11Entity::Destroy();
        FinalizeLibrary();
        return CKR_OK;
    });
}

QVK_EXPORT CK_RV C_GetInfo(CK_INFO_PTR pInfo)
{
    return Live([&] { return GetLibraryInfo(pInfo); });
}

extern const CK_FUNCTION_LIST g_functionList;

QVK_EXPORT CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR ppFunctionList)
{
    if (ppFunctionList == nullptr) return CKR_ARGUMENTS_BAD;
    // Callers receive a non-const pointer by the standard's signature; the
    // list itself is never written.
    *ppFunctionList = const_cast<CK_FUNCTION_LIST_PTR>(&g_functionList);
    return CKR_OK;
}

// ---- slot and token management ----

QVK_EXPORT CK_RV C_GetSlotList(CK_BBOOL tokenPresent, CK_SLOT_ID_PTR pSlotList, CK_ULONG_PTR pulCount)
{
    (void)tokenPresent;
    return Live([&] {
        PKCS11Entity* entity = nullptr;
        PKCS11SlotManager* slots = nullptr;
        CK_RV rv;
        if ((rv = GetEntity(&entity)) != CKR_OK || (rv = entity->GetSlotManager(&slots)) != CKR_OK) return rv;
        return slots->GetSlotList(pSlotList, pulCount);
    });
}

QVK_EXPORT CK_RV C_GetSlotInfo(CK_SLOT_ID slotID, CK_SLOT_INFO_PTR pInfo)
{
    return Live([&] {
        PKCS11Entity* entity = nullptr;
        PKCS11Slot* slot = nullptr;
        CK_RV rv;
        if ((rv = GetEntity(&entity)) != CKR_OK || (rv = entity->GetSlot(slotID, &slot)) != CKR_OK) return rv;
        return slot->GetSlotInfo(pInfo);
    });
}

QVK_EXPORT CK_RV C_GetTokenInfo(CK_SLOT_ID slotID, CK_TOKEN_INFO_PTR pInfo)
{
    return Live([&] {
        PKCS11Entity* entity = nullptr;
        PKCS11Token* token = nullptr;
        CK_RV rv;
        if ((rv = GetEntity(&entity)) != CKR_OK || (rv = entity->GetTokenOfSlot(slotID, &token)) != CKR_OK) return rv;
        return token->GetTokenInfo(pInfo);
    });
}

QVK_EXPORT CK_RV C_GetMechanismList(CK_SLOT_ID slotID, CK_MECHANISM_TYPE_PTR pMechanismList, CK_ULONG_PTR pulCount)
{
    return Live([&] {
        PKCS11Entity* entity = nullptr;
        PKCS11Token* token = nullptr;
        CK_RV rv;
        if ((rv = GetEntity(&entity)) != CKR_OK || (rv = entity->GetTokenOfSlot(slotID, &token)) != CKR_OK) return rv;
        return token->GetMechanismList(pMechanismList, pulCount);
    });
}

QVK_EXPORT CK_RV C_GetMechanismInfo(CK_SLOT_ID slotID, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO_PTR pInfo)
{
    return Live([&] {
        PKCS11Entity* entity = nullptr;
        PKCS11Token* token = nullptr;
        CK_RV rv;
        if ((rv = GetEntity(&entity)) != CKR_OK || (rv = entity->GetTokenOfSlot(slotID, &token)) != CKR_OK) return rv;
        return GetMechanismInfo(type, pInfo);
    });
}

QVK_EXPORT CK_RV C_InitToken(CK_SLOT_ID slotID, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen, CK_UTF8CHAR_PTR pLabel)
{
    return Live([&] {
        if (MissingData(pPin, ulPinLen)) return CKR_ARGUMENTS_BAD;
        PKCS11Entity* entity = nullptr;
        PKCS11TokenManager* manager = nullptr;
        CK_RV rv;
        if ((rv = GetEntity(&entity)) != CKR_OK || (rv = entity->GetTokenManagerOfSlot(slotID, &manager)) != CKR_OK ||
            (rv = entity->ReleaseSlotDevice(slotID, nullptr)) != CKR_OK)
            return rv;
        return manager->InitToken(pPin, ulPinLen, pLabel);
    });
}

QVK_EXPORT CK_RV C_InitPIN(CK_SESSION_HANDLE hSession, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen)
{
    return Live([&] {
        if (MissingData(pPin, ulPinLen)) return CKR_ARGUMENTS_BAD;
        std::shared_ptr<PKCS11Session> session;
        PKCS11TokenManager* manager = nullptr;
        CK_RV rv;
        if ((rv = FindSession(hSession, &session)) != CKR_OK || (rv = session->GetTokenManager(&manager)) != CKR_OK)
            return rv;
        return manager->InitPIN(hSession, pPin, ulPinLen);
    });
}

QVK_EXPORT CK_RV C_SetPIN(CK_SESSION_HANDLE hSession, CK_UTF8CHAR_PTR pOldPin, CK_ULONG ulOldLen,
                          CK_UTF8CHAR_PTR pNewPin, CK_ULONG ulNewLen)
{
    return Live([&] {
        if (MissingData(pOldPin, ulOldLen) || MissingData(pNewPin, ulNewLen)) return CKR_ARGUMENTS_BAD;
        std::shared_ptr<PKCS11Session> session;
        PKCS11TokenManager* manager = nullptr;
        CK_RV rv;
        if ((rv = FindSession(hSession, &session)) != CKR_OK || (rv = session->GetTokenManager(&manager)) != CKR_OK)
            return rv;
        return manager->SetPIN(hSession, pOldPin, ulOldLen, pNewPin, ulNewLen);
    });
}

// ---- session management ----

QVK_EXPORT CK_RV C_OpenSession(CK_SLOT_ID slotID, CK_FLAGS flags, CK_VOID_PTR pApplication, CK_NOTIFY Notify,
                               CK_SESSION_HANDLE_PTR phSession)
{
    (void)pApplication;
    (void)Notify;
    return Live([&] {
        CK_RV rv;
        PKCS11SessionManager* sessions = Sessions(&rv);
        if (rv != CKR_OK || (rv = sessions->OpenSession(slotID, flags, phSession)) != CKR_OK) return rv;
        CreateDomainParameterObjects(*phSession);  // a session works without them
        return CKR_OK;
    });
}

QVK_EXPORT CK_RV C_CloseSession(CK_SESSION_HANDLE hSession)
{
    return Live([&] {
        CK_RV rv;
        PKCS11SessionManager* sessions = Sessions(&rv);
        return rv != CKR_OK ? rv : sessions->CloseSession(hSession);
    });
}

QVK_EXPORT CK_RV C_CloseAllSessions(CK_SLOT_ID slotID)
{
    return Live([&] {
        CK_RV rv;
        PKCS11SessionManager* sessions = Sessions(&rv);
        return rv != CKR_OK ? rv : sessions->CloseAllSessions(slotID);
    });
}

QVK_EXPORT CK_RV C_GetSessionInfo(CK_SESSION_HANDLE hSession, CK_SESSION_INFO_PTR pInfo)
{
    return Live([&] {
        CK_RV rv;
        PKCS11SessionManager* sessions = Sessions(&rv);
        return rv != CKR_OK ? rv : sessions->GetSessionInfo(hSession, pInfo);
    });
}

QVK_EXPORT CK_RV C_GetOperationState(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG_PTR)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}

QVK_EXPORT CK_RV C_SetOperationState(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_OBJECT_HANDLE, CK_OBJECT_HANDLE)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}

QVK_EXPORT CK_RV C_Login(CK_SESSION_HANDLE hSession, CK_USER_TYPE userType, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen)
{
    return Live([&] {
        CK_RV rv;
        PKCS11SessionManager* sessions = Sessions(&rv);
        // A PIN must come in a buffer, even an empty one: there is no
        // protected authentication path to log in through.
        return rv != CKR_OK ? rv : sessions->Login(hSession, userType, pPin, ulPinLen);
    });
}

QVK_EXPORT CK_RV C_Logout(CK_SESSION_HANDLE hSession)
{
    return Live([&] {
        CK_RV rv;
        PKCS11SessionManager* sessions = Sessions(&rv);
        return rv != CKR_OK ? rv : sessions->Logout(hSession);
    });
}

// ---- object management ----

QVK_EXPORT CK_RV C_CreateObject(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount,
                                CK_OBJECT_HANDLE_PTR phObject)
{
    return Live([&] {
        if (MissingData(pTemplate, ulCount) || phObject == nullptr) return CKR_ARGUMENTS_BAD;
        return WithObjects(
            hSession, [&](PKCS11ObjectManager& objects) { return objects.CreateObject(pTemplate, ulCount, phObject); });
    });
}

QVK_EXPORT CK_RV C_CopyObject(CK_SESSION_HANDLE, CK_OBJECT_HANDLE, CK_ATTRIBUTE_PTR, CK_ULONG, CK_OBJECT_HANDLE_PTR)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}

QVK_EXPORT CK_RV C_DestroyObject(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject)
{
    return Live([&] {
        return WithObjects(hSession, [&](PKCS11ObjectManager& objects) { return objects.DestroyObject(hObject); });
    });
}

QVK_EXPORT CK_RV C_GetObjectSize(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ULONG_PTR pulSize)
{
    return Live([&] {
        if (pulSize == nullptr) return CKR_ARGUMENTS_BAD;
        return WithObjects(hSession,
                           [&](PKCS11ObjectManager& objects) { return objects.GetObjectSize(hObject, pulSize); });
    });
}

QVK_EXPORT CK_RV C_GetAttributeValue(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE_PTR pTemplate,
                                     CK_ULONG ulCount)
{
    return Live([&] {
        if (MissingData(pTemplate, ulCount)) return CKR_ARGUMENTS_BAD;
        return WithObjects(hSession, [&](PKCS11ObjectManager& objects) {
            return objects.GetAttributeValue(hObject, pTemplate, ulCount);
        });
    });
}

QVK_EXPORT CK_RV C_SetAttributeValue(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE_PTR pTemplate,
                                     CK_ULONG ulCount)
{
    return Live([&] {
        if (MissingData(pTemplate, ulCount)) return CKR_ARGUMENTS_BAD;
        return WithObjects(hSession, [&](PKCS11ObjectManager& objects) {
            return objects.SetAttributeValue(hObject, pTemplate, ulCount);
        });
    });
}

QVK_EXPORT CK_RV C_FindObjectsInit(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount)
{
    return Live([&] {
        if (MissingData(pTemplate, ulCount)) return CKR_ARGUMENTS_BAD;
        return WithObjects(hSession,
                           [&](PKCS11ObjectManager& objects) { return objects.FindObjectsInit(pTemplate, ulCount); });
    });
}

QVK_EXPORT CK_RV C_FindObjects(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE_PTR phObject, CK_ULONG ulMaxObjectCount,
                               CK_ULONG_PTR pulObjectCount)
{
    return Live([&] {
        if (MissingData(phObject, ulMaxObjectCount) || pulObjectCount == nullptr) return CKR_ARGUMENTS_BAD;
        return WithObjects(hSession, [&](PKCS11ObjectManager& objects) {
            return objects.FindObjects(phObject, ulMaxObjectCount, pulObjectCount);
        });
    });
}

QVK_EXPORT CK_RV C_FindObjectsFinal(CK_SESSION_HANDLE hSession)
{
    return Live([&] {
        return WithObjects(hSession, [&](PKCS11ObjectManager& objects) { return objects.FindObjectsFinal(); });
    });
}

// ---- encryption and decryption: not offered ----

QVK_EXPORT CK_RV C_EncryptInit(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}
QVK_EXPORT CK_RV C_Encrypt(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}
QVK_EXPORT CK_RV C_EncryptUpdate(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}
QVK_EXPORT CK_RV C_EncryptFinal(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG_PTR)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}
QVK_EXPORT CK_RV C_DecryptInit(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}
QVK_EXPORT CK_RV C_Decrypt(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}
QVK_EXPORT CK_RV C_DecryptUpdate(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}
QVK_EXPORT CK_RV C_DecryptFinal(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG_PTR)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}

// ---- digest, sign and verify ----

QVK_EXPORT CK_RV C_DigestInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism)
{
    return Live([&] { return DigestInit(hSession, pMechanism); });
}

QVK_EXPORT CK_RV C_Digest(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pDigest,
                          CK_ULONG_PTR pulDigestLen)
{
    return Live([&] { return Digest(hSession, pData, ulDataLen, pDigest, pulDigestLen); });
}

QVK_EXPORT CK_RV C_DigestUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen)
{
    return Live([&] { return DigestUpdate(hSession, pPart, ulPartLen); });
}

QVK_EXPORT CK_RV C_DigestKey(CK_SESSION_HANDLE, CK_OBJECT_HANDLE)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}

QVK_EXPORT CK_RV C_DigestFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pDigest, CK_ULONG_PTR pulDigestLen)
{
    return Live([&] { return DigestFinal(hSession, pDigest, pulDigestLen); });
}

QVK_EXPORT CK_RV C_SignInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey)
{
    return Live([&] { return SignInit(hSession, pMechanism, hKey); });
}

QVK_EXPORT CK_RV C_Sign(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature,
                        CK_ULONG_PTR pulSignatureLen)
{
    return Live([&] { return Sign(hSession, pData, ulDataLen, pSignature, pulSignatureLen); });
}

QVK_EXPORT CK_RV C_SignUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen)
{
    return Live([&] { return SignUpdate(hSession, pPart, ulPartLen); });
}

QVK_EXPORT CK_RV C_SignFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature, CK_ULONG_PTR pulSignatureLen)
{
    return Live([&] { return SignFinal(hSession, pSignature, pulSignatureLen); });
}

QVK_EXPORT CK_RV C_SignRecoverInit(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}

QVK_EXPORT CK_RV C_SignRecover(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}

QVK_EXPORT CK_RV C_VerifyInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey)
{
    return Live([&] { return VerifyInit(hSession, pMechanism, hKey); });
}

QVK_EXPORT CK_RV C_Verify(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature,
                          CK_ULONG ulSignatureLen)
{
    return Live([&] { return Verify(hSession, pData, ulDataLen, pSignature, ulSignatureLen); });
}

QVK_EXPORT CK_RV C_VerifyUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen)
{
    return Live([&] { return VerifyUpdate(hSession, pPart, ulPartLen); });
}

QVK_EXPORT CK_RV C_VerifyFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature, CK_ULONG ulSignatureLen)
{
    return Live([&] { return VerifyFinal(hSession, pSignature, ulSignatureLen); });
}

QVK_EXPORT CK_RV C_VerifyRecoverInit(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}

QVK_EXPORT CK_RV C_VerifyRecover(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}

// ---- dual-function operations: not offered ----

QVK_EXPORT CK_RV C_DigestEncryptUpdate(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}
QVK_EXPORT CK_RV C_DecryptDigestUpdate(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}
QVK_EXPORT CK_RV C_SignEncryptUpdate(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}
QVK_EXPORT CK_RV C_DecryptVerifyUpdate(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}

// ---- key management ----

QVK_EXPORT CK_RV C_GenerateKey(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_ATTRIBUTE_PTR, CK_ULONG, CK_OBJECT_HANDLE_PTR)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}

QVK_EXPORT CK_RV C_GenerateKeyPair(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                                   CK_ATTRIBUTE_PTR pPublicKeyTemplate, CK_ULONG ulPublicKeyAttributeCount,
                                   CK_ATTRIBUTE_PTR pPrivateKeyTemplate, CK_ULONG ulPrivateKeyAttributeCount,
                                   CK_OBJECT_HANDLE_PTR phPublicKey, CK_OBJECT_HANDLE_PTR phPrivateKey)
{
    return Live([&] {
        return GenerateKeyPair(hSession, pMechanism, pPublicKeyTemplate, ulPublicKeyAttributeCount, pPrivateKeyTemplate,
                               ulPrivateKeyAttributeCount, phPublicKey, phPrivateKey);
    });
}

QVK_EXPORT CK_RV C_WrapKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hWrappingKey,
                           CK_OBJECT_HANDLE hKey, CK_BYTE_PTR pWrappedKey, CK_ULONG_PTR pulWrappedKeyLen)
{
    return Live([&] { return WrapKey(hSession, pMechanism, hWrappingKey, hKey, pWrappedKey, pulWrappedKeyLen); });
}

QVK_EXPORT CK_RV C_UnwrapKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hUnwrappingKey,
                             CK_BYTE_PTR pWrappedKey, CK_ULONG ulWrappedKeyLen, CK_ATTRIBUTE_PTR pTemplate,
                             CK_ULONG ulAttributeCount, CK_OBJECT_HANDLE_PTR phKey)
{
    return Live([&] {
        return UnwrapKey(hSession, pMechanism, hUnwrappingKey, pWrappedKey, ulWrappedKeyLen, pTemplate,
                         ulAttributeCount, phKey);
    });
}

QVK_EXPORT CK_RV C_DeriveKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hBaseKey,
                             CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulAttributeCount, CK_OBJECT_HANDLE_PTR phKey)
{
    return Live([&] { return DeriveKey(hSession, pMechanism, hBaseKey, pTemplate, ulAttributeCount, phKey); });
}

// ---- random numbers ----

QVK_EXPORT CK_RV C_SeedRandom(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG)
{
    return CKR_RANDOM_SEED_NOT_SUPPORTED;
}

QVK_EXPORT CK_RV C_GenerateRandom(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pRandomData, CK_ULONG ulRandomLen)
{
    return Live([&] {
        if (MissingData(pRandomData, ulRandomLen)) return CKR_ARGUMENTS_BAD;
        std::shared_ptr<PKCS11Session> session;
        CK_RV rv = FindSession(hSession, &session);
        if (rv != CKR_OK) return rv;
        PKCS11Device* device = nullptr;
        if ((rv = session->GetDevice(&device)) != CKR_OK) return rv;
        if (ulRandomLen == 0) return CKR_OK;
        if (ulRandomLen > 0xFFFFFFFFUL) return CKR_ARGUMENTS_BAD;
        return device->GenerateRandom(pRandomData, static_cast<std::uint32_t>(ulRandomLen));
    });
}

// ---- parallel function management and slot events ----

QVK_EXPORT CK_RV C_GetFunctionStatus(CK_SESSION_HANDLE)
{
    return CKR_FUNCTION_NOT_PARALLEL;
}

QVK_EXPORT CK_RV C_CancelFunction(CK_SESSION_HANDLE)
{
    return CKR_FUNCTION_NOT_PARALLEL;
}

QVK_EXPORT CK_RV C_WaitForSlotEvent(CK_FLAGS, CK_SLOT_ID_PTR, CK_VOID_PTR)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}

// The function list, in the order of the PKCS#11 v2.20 header.
extern const CK_FUNCTION_LIST g_functionList = {
    {2, 20},
    C_Initialize,
    C_Finalize,
    C_GetInfo,
    C_GetFunctionList,
    C_GetSlotList,
    C_GetSlotInfo,
    C_GetTokenInfo,
    C_GetMechanismList,
    C_GetMechanismInfo,
    C_InitToken,
    C_InitPIN,
    C_SetPIN,
    C_OpenSession,
    C_CloseSession,
    C_CloseAllSessions,
    C_GetSessionInfo,
    C_GetOperationState,
    C_SetOperationState,
    C_Login,
    C_Logout,
    C_CreateObject,
    C_CopyObject,
    C_DestroyObject,
    C_GetObjectSize,
    C_GetAttributeValue,
    C_SetAttributeValue,
    C_FindObjectsInit,
    C_FindObjects,
    C_FindObjectsFinal,
    C_EncryptInit,
    C_Encrypt,
    C_EncryptUpdate,
    C_EncryptFinal,
    C_DecryptInit,
    C_Decrypt,
    C_DecryptUpdate,
    C_DecryptFinal,
    C_DigestInit,
    C_Digest,
    C_DigestUpdate,
    C_DigestKey,
    C_DigestFinal,
    C_SignInit,
    C_Sign,
    C_SignUpdate,
    C_SignFinal,
    C_SignRecoverInit,
    C_SignRecover,
    C_VerifyInit,
    C_Verify,
    C_VerifyUpdate,
    C_VerifyFinal,
    C_VerifyRecoverInit,
    C_VerifyRecover,
    C_DigestEncryptUpdate,
    C_DecryptDigestUpdate,
    C_SignEncryptUpdate,
    C_DecryptVerifyUpdate,
    C_GenerateKey,
    C_GenerateKeyPair,
    C_WrapKey,
    C_UnwrapKey,
    C_DeriveKey,
    C_SeedRandom,
    C_GenerateRandom,
    C_GetFunctionStatus,
    C_CancelFunction,
    C_WaitForSlotEvent,
};
