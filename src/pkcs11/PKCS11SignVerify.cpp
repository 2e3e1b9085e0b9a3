#include "pkcs11/PKCS11SignVerify.h"

#include <cstring>

#include "csp/CSP.h"
#include "pkcs11/PKCS11DSTU4145.h"
#include "pkcs11/PKCS11ECPoint.h"
#include "pkcs11/PKCS11Object.h"
#include "pkcs11/PKCS11PKI.h"

namespace {

constexpr std::size_t SIGNATURE_BUFFER_BYTES = 152;

// CKR_ATTRIBUTE_TYPE_INVALID when the key lacks it.
CK_RV ReadInteger(const PKCS11Object* key, CK_ATTRIBUTE_TYPE type, CK_ULONG* out)
{
    return key->GetInteger(type, out);
}

}  // namespace

std::uint32_t SignedValueLength(CK_MECHANISM_TYPE mechanism, CK_ULONG length, CK_MECHANISM_TYPE* handledAs)
{
    CK_MECHANISM_TYPE as = mechanism;
    if (mechanism == CKM_DSTU4145_ALT)
        as = length == 48   ? CKM_DSTU4145_DSTU7564_384
             : length == 64 ? CKM_DSTU4145_DSTU7564_512
                            : CKM_DSTU4145_DSTU7564_256;
    if (handledAs != nullptr) *handledAs = as;
    switch (as) {
    case CKM_DSTU4145:
    case CKM_DSTU4145_GOST34311:
    case CKM_DSTU4145_DSTU7564_256:
        return 32;
    case CKM_DSTU4145_DSTU7564_384:
        return 48;
    case CKM_DSTU4145_DSTU7564_512:
        return 64;
    default:
        return 0;
    }
}

CK_RV PKISign(PKCS11Device* device, CK_MECHANISM_TYPE mechanism, const void*, CK_ULONG, const PKCS11Object* key,
              const std::uint8_t* value, CK_ULONG valueLength, std::uint8_t* signature, CK_ULONG* signatureLength)
{
    if (signatureLength == nullptr || key == nullptr || device == nullptr) return CKR_ARGUMENTS_BAD;
    // A value to sign must be there; only a length query goes without.
    if (signature != nullptr && value == nullptr) return CKR_ARGUMENTS_BAD;
    CK_ULONG objectClass = 0;
    CK_RV rv = ReadInteger(key, CKA_CLASS, &objectClass);
    if (rv != CKR_OK) return rv;
    if (objectClass != CKO_PRIVATE_KEY) return CKR_KEY_HANDLE_INVALID;
    if (device->UsesTokenContexts()) {
        const std::uint8_t* ref1 = nullptr;
        const std::uint8_t* ref2 = nullptr;
        CK_ULONG length1 = 0, length2 = 0;
        if ((rv = GetKeyReferences(key, &ref1, &length1, &ref2, &length2)) != CKR_OK) return rv;
        rv = device->SynchronizeContexts(reinterpret_cast<CK_ULONG>(ref1), length1, reinterpret_cast<CK_ULONG>(ref2),
                                         length2, 0);
        if (rv != CKR_OK) return rv;
    }
    CK_ULONG keyType = 0;
    if ((rv = ReadInteger(key, CKA_KEY_TYPE, &keyType)) != CKR_OK) return rv;
    if (keyType != CKK_DSTU4145) return CKR_KEY_TYPE_INCONSISTENT;
    if (mechanism < CKM_DSTU4145 || mechanism > CKM_DSTU4145_DSTU7564_512) return CKR_MECHANISM_INVALID;
    CK_MECHANISM_TYPE handledAs = mechanism;
    const std::uint32_t needed = SignedValueLength(mechanism, valueLength, &handledAs);
    if (needed == 0 || valueLength != needed) return CKR_DATA_LEN_RANGE;

    bool signatureKey = false;
    if ((rv = IsSignatureKey(key, &signatureKey)) != CKR_OK) return rv;
    const std::uint8_t* params = nullptr;
    CK_ULONG paramsLength = 0;
    // An optional attribute never given a value counts as missing.
    if ((rv = key->GetValueOf(CKA_EC_PARAMS, &params, &paramsLength)) != CKR_OK) return rv;
    if (params == nullptr || paramsLength == 0) return CKR_ATTRIBUTE_TYPE_INVALID;
    DSTU4145FieldRecord field{};
    DSTU4145PointRecord point{};
    std::uint8_t sBox[64] = {};
    if (!DecodeAndCheckECParams(params, paramsLength, &field, &point, sBox)) return CKR_DOMAIN_PARAMS_INVALID;
    const std::uint32_t nBits = point.words[DSTU4145_POINT_BITS];
    const CK_ULONG length = 2 * ((nBits + 7) / 8);
    if (length == 0 || length > SIGNATURE_BUFFER_BYTES) return CKR_DOMAIN_PARAMS_INVALID;

    if (signature == nullptr) {
        *signatureLength = length;
        return CKR_OK;
    }
    if (*signatureLength < length) {
        *signatureLength = length;
        return CKR_BUFFER_TOO_SMALL;
    }
    std::uint8_t buffer[SIGNATURE_BUFFER_BYTES] = {};
    const CK_BYTE selector = signatureKey ? 1 : 0;
    if (needed == 32) {
        std::uint8_t hash[32];
        std::memcpy(hash, value, sizeof(hash));
        rv = device->SignHash32(selector, &field, &point, sBox, hash, buffer);
    } else {
        rv = device->SignHash(selector, &field, &point, value, needed, buffer);
    }
    if (rv != CKR_OK) return rv;
    std::memcpy(signature, buffer, length);
    *signatureLength = length;
    return CKR_OK;
}

CK_RV PKIVerify(PKCS11Device*, CK_MECHANISM_TYPE mechanism, const PKCS11Object* key, const std::uint8_t* value,
                CK_ULONG valueLength, const std::uint8_t* signature, CK_ULONG signatureLength)
{
    if (ModuleCSP == nullptr) return CKR_FUNCTION_NOT_SUPPORTED;
    if (key == nullptr || value == nullptr || (signature == nullptr && signatureLength != 0)) return CKR_ARGUMENTS_BAD;
    CK_ULONG objectClass = 0;
    CK_RV rv = ReadInteger(key, CKA_CLASS, &objectClass);
    if (rv != CKR_OK) return rv;
    if (objectClass != CKO_PUBLIC_KEY) return CKR_KEY_HANDLE_INVALID;
    CK_ULONG keyType = 0;
    if ((rv = ReadInteger(key, CKA_KEY_TYPE, &keyType)) != CKR_OK) return rv;
    if (keyType != CKK_DSTU4145) return CKR_KEY_TYPE_INCONSISTENT;
    if (mechanism < CKM_DSTU4145 || mechanism > CKM_DSTU4145_DSTU7564_512) return CKR_MECHANISM_INVALID;
    const std::uint32_t needed = SignedValueLength(mechanism, valueLength, nullptr);
    if (needed == 0 || valueLength != needed) return CKR_DATA_LEN_RANGE;

    const std::uint8_t* params = nullptr;
    CK_ULONG paramsLength = 0;
    if ((rv = key->GetValueOf(CKA_EC_PARAMS, &params, &paramsLength)) != CKR_OK) return rv;
    if (params == nullptr || paramsLength == 0) return CKR_ATTRIBUTE_TYPE_INVALID;
    DSTU4145FieldRecord field{};
    DSTU4145PointRecord point{};
    std::uint8_t sBox[64] = {};
    if (!DecodeAndCheckECParams(params, paramsLength, &field, &point, sBox)) return CKR_DOMAIN_PARAMS_INVALID;

    const std::uint8_t* encodedPoint = nullptr;
    CK_ULONG encodedLength = 0;
    if ((rv = key->GetValueOf(CKA_EC_POINT, &encodedPoint, &encodedLength)) != CKR_OK) return rv;
    if (encodedPoint == nullptr || encodedLength == 0) return CKR_ATTRIBUTE_TYPE_INVALID;
    std::uint8_t publicKey[DSTU4145_NUMBER_BYTES] = {};
    if (!DecodeECPoint(encodedPoint, encodedLength, publicKey)) return CKR_KEY_TYPE_INCONSISTENT;

    if (signatureLength > SIGNATURE_BUFFER_BYTES) return CKR_SIGNATURE_LEN_RANGE;
    // Exactly the curve's length: zero-padding a short signature would let a
    // truncated one that ended in zero bytes verify.
    const CK_ULONG length = 2 * ((point.words[DSTU4145_POINT_BITS] + 7) / 8);
    if (signatureLength != length) return CKR_SIGNATURE_LEN_RANGE;
    std::uint8_t buffer[SIGNATURE_BUFFER_BYTES] = {};
    std::memcpy(buffer, signature, signatureLength);

    int result;
    if (needed == 32) {
        std::uint8_t hash[32];
        std::memcpy(hash, value, sizeof(hash));
        result = ModuleCSP->VerifyHashSignatureDSTU4145(hash, &field, &point, publicKey, buffer);
    } else {
        result = ModuleCSP->VerifySignatureDSTU4145(needed, value, &field, &point, publicKey, buffer);
    }
    if (result == CSP_OK) return CKR_OK;
    if (result == CSP_INVALID_SIGNATURE) return CKR_SIGNATURE_INVALID;
    return CKR_GENERAL_ERROR;
}
