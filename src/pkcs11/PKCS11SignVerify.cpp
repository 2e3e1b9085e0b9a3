#include "pkcs11/PKCS11SignVerify.h"

#include <cstring>

#include "pkcs11/PKCS11DSTU4145.h"
#include "pkcs11/PKCS11Object.h"

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
