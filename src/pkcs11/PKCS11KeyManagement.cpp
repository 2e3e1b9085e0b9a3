#include "pkcs11/PKCS11KeyManagement.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "pkcs11/PKCS11DSTU4145.h"
#include "pkcs11/PKCS11ECPoint.h"
#include "pkcs11/PKCS11Object.h"
#include "pkcs11/PKCS11ObjectManager.h"
#include "pkcs11/PKCS11PKI.h"
#include "pkcs11/PKCS11Session.h"
#include "support/PKIKeyAgreement.h"

namespace {

constexpr std::uint32_t AGREED_KEY_BITS = 256;

// Frees an attribute value made here on every path.
struct HeldValue {
    CK_ATTRIBUTE attribute{0, nullptr, 0};
    ~HeldValue() { FreeAttributeValue(&attribute); }
};

// The derivation parameter when it is there whole, else null.
const CK_DSTU4145_DERIVE_PARAMS* DeriveParameter(const CK_MECHANISM* mechanism)
{
    if (mechanism == nullptr || mechanism->pParameter == nullptr ||
        mechanism->ulParameterLen != sizeof(CK_DSTU4145_DERIVE_PARAMS))
        return nullptr;
    return static_cast<const CK_DSTU4145_DERIVE_PARAMS*>(mechanism->pParameter);
}

bool MakeUKM(const char* algorithm, const std::uint8_t* data, std::uint32_t length, CK_ATTRIBUTE* out)
{
    if (out == nullptr || PKIInterface == nullptr || (data == nullptr && length != 0)) return false;
    void* made = nullptr;
    const std::uint32_t face = algorithm == nullptr ? PKI_IID_UKM : PKI_IID_UKM_EX;
    if (PKIInterface->CreateObject(PKI_CLASS_UKM, face, &made) != PKI_OK || made == nullptr) return false;
    auto* object = static_cast<IPKIObject*>(made);
    const int set = algorithm == nullptr
                        ? static_cast<IPKIUKM*>(made)->SetUKM(data, length, AGREED_KEY_BITS)
                        : static_cast<IPKIUKMEx*>(made)->SetUKM(algorithm, data, length, AGREED_KEY_BITS);
    const bool done = set == PKI_OK && EncodePKIObjectAttribute(CKA_VENDOR_DEFINED, object, out);
    object->Release();
    return done;
}

CK_RV SynchronizeKeyContexts(PKCS11Device* device, const PKCS11Object* key)
{
    if (!device->UsesTokenContexts()) return CKR_OK;
    const std::uint8_t* ref1 = nullptr;
    const std::uint8_t* ref2 = nullptr;
    CK_ULONG length1 = 0, length2 = 0;
    CK_RV rv = GetKeyReferences(key, &ref1, &length1, &ref2, &length2);
    if (rv != CKR_OK) return rv;
    return device->SynchronizeContexts(reinterpret_cast<CK_ULONG>(ref1), length1, reinterpret_cast<CK_ULONG>(ref2),
                                       length2, 0);
}

// L of a wrapping key: 44 under GOST 28147, 96 under DSTU 7624.
CK_RV WrappedLength(const PKCS11Object* key, CK_ULONG* length, bool* newForm)
{
    CK_ULONG keyType = 0;
    CK_RV rv = key->GetInteger(CKA_KEY_TYPE, &keyType);
    if (rv != CKR_OK) return rv;
    if (keyType == CKK_GOST28147) {
        *length = WRAPPED_KEY_OLD_BYTES;
        *newForm = false;
    } else if (keyType == CKK_DSTU7624) {
        *length = WRAPPED_KEY_NEW_BYTES;
        *newForm = true;
    } else {
        return CKR_KEY_TYPE_INCONSISTENT;
    }
    return CKR_OK;
}

// What a derivation function makes: the key's type and generating
// mechanism, the mechanism it is used with, and the mechanisms of the keys it
// wraps and unwraps.
struct DerivedKind {
    CK_KEY_TYPE keyType;
    CK_MECHANISM_TYPE generatedBy;
    CK_MECHANISM_TYPE usedWith;
    const CK_MECHANISM_TYPE* wrapped;
    CK_ULONG wrappedCount;
};

const CK_MECHANISM_TYPE kGOST28147Wrapped[] = {CKM_GOST28147_CIPHER_1, CKM_GOST28147_CIPHER_2, CKM_GOST28147_CIPHER_3,
                                               CKM_GOST28147_MAC, CKM_GOST28147_DERIVED_USE};
const CK_MECHANISM_TYPE kDSTU7624Wrapped[] = {CKM_VENDOR_EXT_1, CKM_VENDOR_EXT_2, CKM_VENDOR_EXT_3};

const DerivedKind kGOST28147Kind{CKK_GOST28147, CKM_GOST28147_KEY_GEN, CKM_GOST28147_KEY_WRAP, kGOST28147Wrapped, 5};
const DerivedKind kDSTU7624Kind{CKK_DSTU7624, CKM_DSTU7624_KEY_GEN, CKM_DSTU7624_KEY_WRAP, kDSTU7624Wrapped, 3};

}  // namespace

bool MakeUKMAttribute(const std::uint8_t* data, std::uint32_t length, CK_ATTRIBUTE* out)
{
    return MakeUKM(nullptr, data, length, out);
}

bool MakeUKMAttributeNew(const std::uint8_t* data, std::uint32_t length, CK_ATTRIBUTE* out)
{
    return MakeUKM(PKI_OID_UKM_DSTU7624_WRAP, data, length, out);
}

CK_RV CreateKeyObject(CK_OBJECT_CLASS objectClass, const CK_ATTRIBUTE* defaults, CK_ULONG defaultCount,
                      const CK_ATTRIBUTE* entries, CK_ULONG count, PKCS11Object** out)
{
    if ((entries == nullptr && count != 0) || (defaults == nullptr && defaultCount != 0)) return CKR_ARGUMENTS_BAD;
    std::vector<CK_ATTRIBUTE> all;
    for (CK_ULONG d = 0; d < defaultCount; ++d) {
        bool given = false;
        for (CK_ULONG e = 0; e < count && !given; ++e) given = entries[e].type == defaults[d].type;
        if (!given) all.push_back(defaults[d]);
    }
    if (count != 0) all.insert(all.end(), entries, entries + count);
    return CreateObjectForClass(objectClass, all.data(), all.size(), true, out);
}

CK_RV PKIDeriveKey(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE newKeyHandle, PKCS11Device* device,
                   const CK_MECHANISM* mechanism, const PKCS11Object* baseKey, PKCS11Object* newKey)
{
    if (device == nullptr || mechanism == nullptr || baseKey == nullptr || newKey == nullptr) return CKR_ARGUMENTS_BAD;
    const CK_DSTU4145_DERIVE_PARAMS* parameter = DeriveParameter(mechanism);
    if (parameter == nullptr) return CKR_MECHANISM_PARAM_INVALID;
    const CK_ULONG kdf = parameter->kdf;
    if (kdf != CKD_DSTU4145_GOST28147 && kdf != CKD_DSTU4145_DSTU7624) return CKR_MECHANISM_PARAM_INVALID;
    // Lengths without their data, and data no agreement takes, are the
    // caller's parameter at fault.
    if ((parameter->pSharedData == nullptr && parameter->ulSharedDataLen != 0) ||
        parameter->ulSharedDataLen > MAX_SHARED_DATA_BYTES ||
        (parameter->pPublicData == nullptr && parameter->ulPublicDataLen != 0))
        return CKR_MECHANISM_PARAM_INVALID;
    CK_RV rv = SynchronizeKeyContexts(device, baseKey);
    if (rv != CKR_OK) return rv;

    const std::uint8_t* params = nullptr;
    CK_ULONG paramsLength = 0;
    if ((rv = baseKey->GetValueOf(CKA_EC_PARAMS, &params, &paramsLength)) != CKR_OK) return rv;
    if (params == nullptr || paramsLength == 0) return CKR_ATTRIBUTE_TYPE_INVALID;
    DSTU4145FieldRecord field{};
    DSTU4145PointRecord point{};
    std::uint8_t sBox[64] = {};
    if (!DecodeAndCheckECParams(params, paramsLength, &field, &point, sBox)) return CKR_DOMAIN_PARAMS_INVALID;
    // The other party's point must be one of the base key's curve, else the
    // key would agree with whatever it was given.
    std::uint8_t otherPublicKey[DSTU4145_NUMBER_BYTES] = {};
    if ((rv = DecodeECPointForCurve(parameter->pPublicData, parameter->ulPublicDataLen, &field, &point,
                                    otherPublicKey)) != CKR_OK)
        return rv;
    const auto sharedLength = static_cast<std::uint32_t>(parameter->ulSharedDataLen);

    HeldValue ukm;
    if (kdf == CKD_DSTU4145_GOST28147) {
        HeldValue info;
        if (!MakeSBoxInfoAttribute(sBox, nullptr, &info.attribute)) return CKR_GENERAL_ERROR;
        info.attribute.type = CKA_VENDOR_KEY_INFO;
        if ((rv = newKey->ApplyTemplate(&info.attribute, 1, true)) != CKR_OK) return rv;
        if (!MakeUKMAttribute(parameter->pSharedData, sharedLength, &ukm.attribute)) return CKR_GENERAL_ERROR;
        return device->DeriveKey(session, newKeyHandle, mechanism->mechanism == CKM_DSTU4145_DERIVE_EXT ? 1 : 0, &field,
                                 &point, sBox, otherPublicKey, static_cast<const std::uint8_t*>(ukm.attribute.pValue),
                                 static_cast<std::uint32_t>(ukm.attribute.ulValueLen));
    }
    if (!MakeUKMAttributeNew(parameter->pSharedData, sharedLength, &ukm.attribute)) return CKR_GENERAL_ERROR;
    return device->DeriveKeyNew(session, newKeyHandle, &field, &point, otherPublicKey,
                                static_cast<const std::uint8_t*>(ukm.attribute.pValue),
                                static_cast<std::uint32_t>(ukm.attribute.ulValueLen));
}

CK_RV PKIWrapKey(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE wrappingKeyHandle, PKCS11Device* device,
                 const PKCS11Object* wrappingKey, const PKCS11Object* key, std::uint8_t* out, CK_ULONG* outLength)
{
    if (outLength == nullptr) return CKR_ARGUMENTS_BAD;
    if (device == nullptr || wrappingKey == nullptr || key == nullptr) return CKR_ARGUMENTS_BAD;
    CK_ULONG length = 0;
    bool newForm = false;
    CK_RV rv = WrappedLength(wrappingKey, &length, &newForm);
    if (rv != CKR_OK) return rv;
    if (out == nullptr) {
        *outLength = length;
        return CKR_OK;
    }
    if (*outLength < length) {
        *outLength = length;
        return CKR_BUFFER_TOO_SMALL;
    }

    const PKCS11Attribute* value = key->FindAttribute(CKA_VALUE);
    if (value == nullptr || value->IsEmpty()) return CKR_ATTRIBUTE_TYPE_INVALID;
    if (value->GetKind() != ATTR_KIND_BYTES) return CKR_ATTRIBUTE_VALUE_INVALID;
    if (value->GetLength() != SECRET_KEY_BYTES) return CKR_KEY_SIZE_RANGE;
    if (newForm) {
        rv = device->WrapKeyNew(session, wrappingKeyHandle, value->GetValue(), SECRET_KEY_BYTES, out,
                                WRAPPED_KEY_NEW_BYTES);
    } else {
        std::uint8_t copy[SECRET_KEY_BYTES];
        std::uint8_t wrapped[WRAPPED_KEY_OLD_BYTES] = {};
        std::memcpy(copy, value->GetValue(), sizeof(copy));
        rv = device->WrapKeyOld(session, wrappingKeyHandle, copy, wrapped);
        explicit_bzero(copy, sizeof(copy));
        if (rv == CKR_OK) std::memcpy(out, wrapped, sizeof(wrapped));
    }
    if (rv != CKR_OK) return rv;
    *outLength = length;
    return CKR_OK;
}

CK_RV PKIUnwrapKey(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE unwrappingKeyHandle, PKCS11Device* device,
                   const std::uint8_t* wrapped, CK_ULONG wrappedLength, const PKCS11Object* unwrappingKey,
                   PKCS11Object* newKey)
{
    if (wrapped == nullptr) return CKR_ARGUMENTS_BAD;
    if (device == nullptr || unwrappingKey == nullptr || newKey == nullptr) return CKR_ARGUMENTS_BAD;
    CK_ULONG length = 0;
    bool newForm = false;
    CK_RV rv = WrappedLength(unwrappingKey, &length, &newForm);
    if (rv != CKR_OK) return rv;
    if (wrappedLength != length) return CKR_WRAPPED_KEY_LEN_RANGE;
    std::uint8_t value[SECRET_KEY_BYTES] = {};
    if (newForm) {
        rv =
            device->UnwrapKeyNew(session, unwrappingKeyHandle, wrapped, WRAPPED_KEY_NEW_BYTES, value, SECRET_KEY_BYTES);
    } else {
        std::uint8_t copy[WRAPPED_KEY_OLD_BYTES];
        std::memcpy(copy, wrapped, sizeof(copy));
        rv = device->UnwrapKeyOld(session, unwrappingKeyHandle, copy, value);
    }
    if (rv == CKR_OK) {
        HeldValue made;
        if (!MakeAttribute(CKA_VALUE, value, sizeof(value), &made.attribute))
            rv = CKR_HOST_MEMORY;
        else
            rv = newKey->ApplyTemplate(&made.attribute, 1, true);
        if (made.attribute.pValue != nullptr) explicit_bzero(made.attribute.pValue, made.attribute.ulValueLen);
    }
    explicit_bzero(value, sizeof(value));
    return rv;
}

CK_RV DeriveKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hBaseKey,
                CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulAttributeCount, CK_OBJECT_HANDLE_PTR phKey)
{
    if (pMechanism == nullptr) return CKR_MECHANISM_INVALID;
    if ((pTemplate == nullptr && ulAttributeCount != 0) || phKey == nullptr) return CKR_ARGUMENTS_BAD;
    std::shared_ptr<PKCS11Session> session;
    CK_RV rv = FindSession(hSession, &session);
    if (rv != CKR_OK) return rv;
    PKCS11Device* device = nullptr;
    if ((rv = session->GetDevice(&device)) != CKR_OK) return rv;
    // The kdf is read only from a parameter that is there whole.
    const CK_DSTU4145_DERIVE_PARAMS* parameter = DeriveParameter(pMechanism);
    if (parameter == nullptr) return CKR_MECHANISM_PARAM_INVALID;
    const DerivedKind* kind = nullptr;
    if (parameter->kdf == CKD_DSTU4145_GOST28147) {
        kind = &kGOST28147Kind;
    } else if (parameter->kdf == CKD_DSTU4145_DSTU7624) {
        if (device->HasExtendedCiphers() != CKR_OK) return CKR_FUNCTION_NOT_SUPPORTED;
        kind = &kDSTU7624Kind;
    } else {
        return CKR_MECHANISM_PARAM_INVALID;
    }

    CK_OBJECT_CLASS secretKey = CKO_SECRET_KEY;
    CK_BBOOL no = CK_FALSE, yes = CK_TRUE;
    CK_KEY_TYPE keyType = kind->keyType;
    CK_MECHANISM_TYPE generatedBy = kind->generatedBy;
    CK_MECHANISM_TYPE derivedBy = pMechanism->mechanism;
    CK_MECHANISM_TYPE usedWith = kind->usedWith;
    CK_ATTRIBUTE nested[] = {{CKA_CLASS, &secretKey, sizeof(secretKey)},
                             {CKA_TOKEN, &no, sizeof(no)},
                             {CKA_PRIVATE, &yes, sizeof(yes)},
                             {CKA_KEY_TYPE, &keyType, sizeof(keyType)},
                             {CKA_KEY_GEN_MECHANISM, &generatedBy, sizeof(generatedBy)},
                             {CKA_ALLOWED_MECHANISMS, const_cast<CK_MECHANISM_TYPE*>(kind->wrapped),
                              kind->wrappedCount * sizeof(CK_MECHANISM_TYPE)}};
    // The key's own type is given as well, so that a derivation with an empty
    // template makes a usable key of the kind the function names. Extractable
    // unless the caller says otherwise, as unwrapped keys are: C_WrapKey
    // refuses keys that are not.
    CK_ATTRIBUTE defaults[] = {{CKA_KEY_TYPE, &keyType, sizeof(keyType)},
                               {CKA_KEY_GEN_MECHANISM, &derivedBy, sizeof(derivedBy)},
                               {CKA_ALLOWED_MECHANISMS, &usedWith, sizeof(usedWith)},
                               {CKA_WRAP_TEMPLATE, nested, 4 * sizeof(CK_ATTRIBUTE)},
                               {CKA_UNWRAP_TEMPLATE, nested, 6 * sizeof(CK_ATTRIBUTE)},
                               {CKA_EXTRACTABLE, &yes, sizeof(yes)}};
    PKCS11ObjectPtr newKey;
    if ((rv = CreateKeyObject(CKO_SECRET_KEY, defaults, 6, pTemplate, ulAttributeCount, newKey.Address())) != CKR_OK)
        return rv;

    std::shared_ptr<PKCS11ObjectManager> objects;
    if ((rv = session->GetObjectManager(&objects)) != CKR_OK) return rv;
    PKCS11ObjectPtr baseKey;
    if ((rv = objects->LookUpObject(hBaseKey, baseKey.Address())) != CKR_OK) return rv;
    if ((rv = objects->CheckKeyUsage(KEY_USAGE_DERIVE, baseKey.Get(), pMechanism)) != CKR_OK) return rv;
    if ((rv = objects->CheckKeyUsage(KEY_USAGE_CREATE, newKey.Get(), pMechanism)) != CKR_OK) return rv;

    CK_OBJECT_HANDLE handle = 0;
    if ((rv = objects->AddObject(newKey.Get(), &handle)) != CKR_OK) return rv;
    rv = PKIDeriveKey(session->GetHandle(), handle, device, pMechanism, baseKey.Get(), newKey.Get());
    if (rv == CKR_OK) rv = objects->ReplaceObject(handle, newKey.Get());
    if (rv != CKR_OK) {
        // Neither the object nor an agreement the device recorded for its
        // handle may outlive the failed call.
        objects->DestroyObject(handle);
        device->DropKeyContexts(session->GetHandle(), handle);
        return rv;
    }
    *phKey = handle;
    return CKR_OK;
}

CK_RV WrapKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hWrappingKey,
              CK_OBJECT_HANDLE hKey, CK_BYTE_PTR pWrappedKey, CK_ULONG_PTR pulWrappedKeyLen)
{
    if (pMechanism == nullptr || pulWrappedKeyLen == nullptr) return CKR_ARGUMENTS_BAD;
    std::shared_ptr<PKCS11Session> session;
    std::shared_ptr<PKCS11ObjectManager> objects;
    PKCS11ObjectPtr wrappingKey, key;
    CK_RV rv = FindKeyForUse(hSession, KEY_USAGE_WRAP, pMechanism, hWrappingKey, &session, &objects, &wrappingKey);
    if (rv != CKR_OK) return rv;
    if ((rv = objects->LookUpObject(hKey, key.Address())) != CKR_OK) return rv;
    // Only secret keys that may leave the token are wrapped.
    CK_ULONG keyClass = 0;
    if (key->GetInteger(CKA_CLASS, &keyClass) != CKR_OK || keyClass != CKO_SECRET_KEY) return CKR_KEY_HANDLE_INVALID;
    bool extractable = false;
    if ((rv = key->GetBoolOr(CKA_EXTRACTABLE, false, &extractable)) != CKR_OK) return rv;
    if (!extractable) return CKR_KEY_UNEXTRACTABLE;
    // Only keys that match the wrapping key's template leave it; an empty
    // template lets every key through.
    const PKCS11Attribute* wrapTemplate = wrappingKey->FindAttribute(CKA_WRAP_TEMPLATE);
    if (wrapTemplate != nullptr && !wrapTemplate->IsEmpty()) {
        PKCS11Template* nested = nullptr;
        if ((rv = wrappingKey->GetNestedTemplateOf(CKA_WRAP_TEMPLATE, &nested)) != CKR_OK) return rv;
        if (!key->ContainsTemplate(*nested)) return CKR_KEY_HANDLE_INVALID;
    }
    PKCS11Device* device = nullptr;
    if ((rv = session->GetDevice(&device)) != CKR_OK) return rv;
    return PKIWrapKey(session->GetHandle(), hWrappingKey, device, wrappingKey.Get(), key.Get(), pWrappedKey,
                      pulWrappedKeyLen);
}

CK_RV UnwrapKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hUnwrappingKey,
                CK_BYTE_PTR pWrappedKey, CK_ULONG ulWrappedKeyLen, CK_ATTRIBUTE_PTR pTemplate,
                CK_ULONG ulAttributeCount, CK_OBJECT_HANDLE_PTR phKey)
{
    if (pMechanism == nullptr || pWrappedKey == nullptr || (pTemplate == nullptr && ulAttributeCount != 0) ||
        phKey == nullptr)
        return CKR_ARGUMENTS_BAD;
    std::shared_ptr<PKCS11Session> session;
    std::shared_ptr<PKCS11ObjectManager> objects;
    PKCS11ObjectPtr unwrappingKey;
    CK_RV rv =
        FindKeyForUse(hSession, KEY_USAGE_UNWRAP, pMechanism, hUnwrappingKey, &session, &objects, &unwrappingKey);
    if (rv != CKR_OK) return rv;

    // The unwrapping key's template gives the defaults of the new key, and
    // says whether it is extractable; a template that does not say makes it
    // extractable, as a derived key is.
    CK_ATTRIBUTE* nestedDefaults = nullptr;
    CK_ULONG nestedCount = 0;
    const PKCS11Attribute* unwrapTemplate = unwrappingKey->FindAttribute(CKA_UNWRAP_TEMPLATE);
    if (unwrapTemplate != nullptr && !unwrapTemplate->IsEmpty()) {
        PKCS11Template* nested = nullptr;
        if ((rv = unwrappingKey->GetNestedTemplateOf(CKA_UNWRAP_TEMPLATE, &nested)) != CKR_OK ||
            (rv = nested->ToCkAttributeArray(&nestedDefaults, &nestedCount)) != CKR_OK)
            return rv;
    }
    CK_BBOOL yes = CK_TRUE;
    std::vector<CK_ATTRIBUTE> defaults(nestedDefaults, nestedDefaults + nestedCount);
    if (std::none_of(defaults.begin(), defaults.end(), [](const CK_ATTRIBUTE& a) { return a.type == CKA_EXTRACTABLE; }))
        defaults.push_back(CK_ATTRIBUTE{CKA_EXTRACTABLE, &yes, sizeof(yes)});
    PKCS11ObjectPtr newKey;
    rv = CreateKeyObject(CKO_SECRET_KEY, defaults.data(), defaults.size(), pTemplate, ulAttributeCount,
                         newKey.Address());
    FreeCkAttributeArray(nestedDefaults, nestedCount);
    if (rv != CKR_OK) return rv;
    // The same rules as for a derived key, before the key is asked: secret
    // keys are private session objects, of the type the mechanism unwraps.
    if ((rv = objects->CheckKeyUsage(KEY_USAGE_CREATE, newKey.Get(), pMechanism)) != CKR_OK) return rv;

    PKCS11Device* device = nullptr;
    if ((rv = session->GetDevice(&device)) != CKR_OK) return rv;
    if ((rv = PKIUnwrapKey(session->GetHandle(), hUnwrappingKey, device, pWrappedKey, ulWrappedKeyLen,
                           unwrappingKey.Get(), newKey.Get())) != CKR_OK)
        return rv;
    return objects->AddObject(newKey.Get(), phKey);
}
