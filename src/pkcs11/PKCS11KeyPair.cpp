#include "pkcs11/PKCS11KeyPair.h"

#include <cstring>
#include <memory>
#include <vector>

#include "pkcs11/PKCS11DSTU4145.h"
#include "pkcs11/PKCS11DeviceObjects.h"
#include "pkcs11/PKCS11ECPoint.h"
#include "pkcs11/PKCS11KeyManagement.h"
#include "pkcs11/PKCS11Library.h"
#include "pkcs11/PKCS11Object.h"
#include "pkcs11/PKCS11ObjectManager.h"
#include "pkcs11/PKCS11Session.h"

namespace {

CK_RV ReferencesAgree(const PKCS11Object* privateKey, const PKCS11Object* publicKey)
{
    const std::uint8_t* p1 = nullptr;
    const std::uint8_t* p2 = nullptr;
    const std::uint8_t* q1 = nullptr;
    const std::uint8_t* q2 = nullptr;
    CK_ULONG pl1 = 0, pl2 = 0, ql1 = 0, ql2 = 0;
    CK_RV rv = GetKeyReferences(privateKey, &p1, &pl1, &p2, &pl2);
    if (rv != CKR_OK) return rv;
    if ((rv = GetKeyReferences(publicKey, &q1, &ql1, &q2, &ql2)) != CKR_OK) return rv;
    if (p1 == nullptr) return q1 == nullptr ? CKR_OK : CKR_ATTRIBUTE_VALUE_INVALID;
    if (q1 != nullptr && (pl1 != ql1 || std::memcmp(p1, q1, pl1) != 0)) return CKR_ATTRIBUTE_VALUE_INVALID;
    return CKR_OK;
}

// Copies of the two objects as they will be stored (shared parameters, a
// public point of the curve's encoded length) must fit before the key
// replaces its pair: afterwards the old pair is gone either way. Objects the
// worker will refuse are left to it.
CK_RV CheckRoomForPair(PKCS11ObjectManager* objects, const PKCS11Object* privateKey, const PKCS11Object* publicKey)
{
    PKCS11Template* made = nullptr;
    CK_RV rv = privateKey->Clone(&made);
    if (rv != CKR_OK) return rv;
    PKCS11ObjectPtr trialPrivate(static_cast<PKCS11Object*>(made));
    if ((rv = publicKey->Clone(&made)) != CKR_OK) return rv;
    PKCS11ObjectPtr trialPublic(static_cast<PKCS11Object*>(made));
    if (trialPrivate->ReconcileAttribute(CKA_EC_PARAMS, *trialPublic.Get()) != CKR_OK) return CKR_OK;
    const std::uint8_t* params = nullptr;
    CK_ULONG paramsLength = 0;
    DSTU4145FieldRecord field{};
    DSTU4145PointRecord point{};
    std::uint8_t sBox[64] = {};
    if (trialPrivate->GetValueOf(CKA_EC_PARAMS, &params, &paramsLength) != CKR_OK || params == nullptr ||
        !DecodeAndCheckECParams(params, paramsLength, &field, &point, sBox))
        return CKR_OK;
    const std::uint8_t zeros[DSTU4145_NUMBER_BYTES] = {};
    CK_ATTRIBUTE ecPoint{CKA_EC_POINT, nullptr, 0};
    if (!MakeECPointAttribute(zeros, field.words[DSTU4145_FIELD_M], &ecPoint)) return CKR_HOST_MEMORY;
    rv = trialPublic->SetAttributes(&ecPoint, 1);
    delete[] static_cast<std::uint8_t*>(ecPoint.pValue);
    if (rv != CKR_OK) return rv;
    PKCS11Object* both[] = {trialPrivate.Get(), trialPublic.Get()};
    // Stored objects carry their handle; any entry stands for it.
    for (PKCS11Object* trial : both) {
        CK_OBJECT_HANDLE handle = 0;
        if ((rv = trial->MakeHandle(SESSION_OBJECT_ENTRIES - 1, &handle)) != CKR_OK ||
            (rv = SetObjectHandleAttribute(trial, handle)) != CKR_OK)
            return rv;
    }
    return objects->CheckRoom(both, 2);
}

}  // namespace

CK_RV PKIGenerateKeyPair(PKCS11Device* device, PKCS11Object* privateKey, PKCS11Object* publicKey)
{
    if (device == nullptr || privateKey == nullptr || publicKey == nullptr) return CKR_ARGUMENTS_BAD;
    CK_ULONG keyType = 0;
    CK_RV rv = privateKey->GetInteger(CKA_KEY_TYPE, &keyType);
    if (rv != CKR_OK) return rv;
    if (device->UsesTokenContexts()) {
        if ((rv = ReferencesAgree(privateKey, publicKey)) != CKR_OK) return rv;
        const std::uint8_t* ref1 = nullptr;
        const std::uint8_t* ref2 = nullptr;
        CK_ULONG length1 = 0, length2 = 0;
        if ((rv = GetKeyReferences(privateKey, &ref1, &length1, &ref2, &length2)) != CKR_OK) return rv;
        rv = device->SynchronizeContexts(reinterpret_cast<CK_ULONG>(ref1), length1, reinterpret_cast<CK_ULONG>(ref2),
                                         length2, 0);
        if (rv != CKR_OK) return rv;
    }
    if (keyType != CKK_DSTU4145) return CKR_MECHANISM_INVALID;
    bool signatureKey = false;
    if ((rv = IsSignatureKey(privateKey, &signatureKey)) != CKR_OK) return rv;
    bool derive = false;
    if ((rv = privateKey->GetBoolOr(CKA_DERIVE, false, &derive)) != CKR_OK) return rv;
    if (privateKey->ReconcileAttribute(CKA_EC_PARAMS, *publicKey) != CKR_OK) return CKR_DOMAIN_PARAMS_INVALID;
    const std::uint8_t* params = nullptr;
    CK_ULONG paramsLength = 0;
    if ((rv = privateKey->GetValueOf(CKA_EC_PARAMS, &params, &paramsLength)) != CKR_OK) return rv;
    if (params == nullptr || paramsLength == 0) return CKR_ATTRIBUTE_TYPE_INVALID;
    DSTU4145FieldRecord field{};
    DSTU4145PointRecord point{};
    std::uint8_t sBox[64] = {};
    if (!DecodeAndCheckECParams(params, paramsLength, &field, &point, sBox)) return CKR_DOMAIN_PARAMS_INVALID;
    std::uint8_t publicValue[DSTU4145_NUMBER_BYTES] = {};
    rv = device->GenerateKeyPair(signatureKey ? 1 : 0, derive ? 1 : 0, &field, &point, sBox, publicValue);
    if (rv != CKR_OK) return rv;
    CK_ATTRIBUTE ecPoint{CKA_EC_POINT, nullptr, 0};
    if (!MakeECPointAttribute(publicValue, field.words[DSTU4145_FIELD_M], &ecPoint)) return CKR_HOST_MEMORY;
    rv = publicKey->SetAttributes(&ecPoint, 1);
    delete[] static_cast<std::uint8_t*>(ecPoint.pValue);
    return rv;
}

CK_RV GenerateKeyPair(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_ATTRIBUTE_PTR pPublicKeyTemplate,
                      CK_ULONG ulPublicKeyAttributeCount, CK_ATTRIBUTE_PTR pPrivateKeyTemplate,
                      CK_ULONG ulPrivateKeyAttributeCount, CK_OBJECT_HANDLE_PTR phPublicKey,
                      CK_OBJECT_HANDLE_PTR phPrivateKey)
{
    if (pMechanism == nullptr) return CKR_MECHANISM_INVALID;
    // Checked before the key's single pair is replaced, so a bad call loses
    // nothing.
    if (phPublicKey == nullptr || phPrivateKey == nullptr) return CKR_ARGUMENTS_BAD;
    if ((pPublicKeyTemplate == nullptr && ulPublicKeyAttributeCount != 0) ||
        (pPrivateKeyTemplate == nullptr && ulPrivateKeyAttributeCount != 0))
        return CKR_ARGUMENTS_BAD;
    std::shared_ptr<PKCS11Session> session;
    CK_RV rv = FindSession(hSession, &session);
    if (rv != CKR_OK) return rv;
    PKCS11Device* device = nullptr;
    if ((rv = session->GetDevice(&device)) != CKR_OK) return rv;
    if (pMechanism->mechanism != CKM_DSTU4145_KEY_PAIR_GEN) return CKR_MECHANISM_INVALID;

    CK_ULONG keyType = CKK_DSTU4145;
    CK_MECHANISM_TYPE generatedBy = pMechanism->mechanism;
    CK_MECHANISM_TYPE allowed[] = {
        CKM_DSTU4145,        CKM_DSTU4145_GOST34311,  CKM_DSTU4145_ALT,          CKM_DSTU4145_DSTU7564_256,
        CKM_DSTU4145_DERIVE, CKM_DSTU4145_DERIVE_EXT, CKM_DSTU4145_DSTU7564_384, CKM_DSTU4145_DSTU7564_512};
    const CK_ULONG allowedCount = device->HasExtendedHashes() == CKR_OK ? 8 : 6;
    CK_ATTRIBUTE defaults[] = {{CKA_KEY_TYPE, &keyType, sizeof(keyType)},
                               {CKA_KEY_GEN_MECHANISM, &generatedBy, sizeof(generatedBy)},
                               {CKA_ALLOWED_MECHANISMS, allowed, allowedCount * sizeof(CK_MECHANISM_TYPE)}};
    PKCS11ObjectPtr privateKey, publicKey;
    if ((rv = CreateKeyObject(CKO_PRIVATE_KEY, defaults, 3, pPrivateKeyTemplate, ulPrivateKeyAttributeCount,
                              privateKey.Address())) != CKR_OK)
        return rv;
    if ((rv = CreateKeyObject(CKO_PUBLIC_KEY, defaults, 3, pPublicKeyTemplate, ulPublicKeyAttributeCount,
                              publicKey.Address())) != CKR_OK)
        return rv;
    std::shared_ptr<PKCS11ObjectManager> objects;
    if ((rv = session->GetObjectManager(&objects)) != CKR_OK) return rv;
    if ((rv = objects->CheckKeyUsage(KEY_USAGE_CREATE, privateKey.Get(), pMechanism)) != CKR_OK) return rv;
    if ((rv = objects->CheckKeyUsage(KEY_USAGE_CREATE, publicKey.Get(), pMechanism)) != CKR_OK) return rv;

    if ((rv = CheckRoomForPair(objects.get(), privateKey.Get(), publicKey.Get())) != CKR_OK) return rv;

    PKCS11Entity* entity = nullptr;
    if ((rv = GetEntity(&entity)) != CKR_OK) return rv;
    if ((rv = entity->ReleaseSlotDevice(session->GetSlotId(), device)) != CKR_OK) return rv;
    if ((rv = PKIGenerateKeyPair(device, privateKey.Get(), publicKey.Get())) != CKR_OK) return rv;
    std::uint32_t number = 0;
    rv = GetDeviceObjectNumber(device, privateKey.Get(), &number);
    if (rv != CKR_OK && rv != CKR_FUNCTION_NOT_SUPPORTED) return rv;
    return objects->AddKeyPair(privateKey.Get(), publicKey.Get(), phPrivateKey, phPublicKey);
}
