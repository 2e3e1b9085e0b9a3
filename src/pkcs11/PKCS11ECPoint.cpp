#include "pkcs11/PKCS11ECPoint.h"

#include <cstring>
#include <limits>

#include "csp/CSP.h"
#include "pkcs11/PKCS11PKI.h"
#include "support/PKIInterface.h"

bool MakeECPointAttribute(const std::uint8_t* publicKey, std::uint32_t m, CK_ATTRIBUTE* out)
{
    if (PKIInterface == nullptr || publicKey == nullptr || out == nullptr) return false;
    void* made = nullptr;
    if (PKIInterface->CreateObject(PKI_CLASS_DSTU4145_PUBLIC_KEY, PKI_IID_DSTU4145_PUBLIC_KEY, &made) != PKI_OK ||
        made == nullptr)
        return false;
    auto* point = static_cast<IPKIECPoint*>(made);
    const bool ok = point->SetPoint(publicKey, m) == PKI_OK && EncodePKIObjectAttribute(CKA_EC_POINT, point, out);
    point->Release();
    return ok;
}

bool DecodeECPoint(const std::uint8_t* value, CK_ULONG length, std::uint8_t publicKey[DSTU4145_NUMBER_BYTES])
{
    if (value == nullptr || length == 0 || length > std::numeric_limits<std::uint32_t>::max() || publicKey == nullptr)
        return false;
    IPKIObject* decoded = nullptr;
    if (!DecodePKIObject(value, static_cast<std::uint32_t>(length), PKI_CLASS_DSTU4145_PUBLIC_KEY,
                         PKI_IID_DSTU4145_PUBLIC_KEY, &decoded))
        return false;
    auto* point = static_cast<IPKIECPoint*>(decoded);
    const bool ok = point->GetPoint(publicKey, nullptr) == PKI_OK;
    point->Release();
    return ok;
}

CK_RV DecodeECPointForCurve(const std::uint8_t* value, CK_ULONG length, const DSTU4145FieldRecord* field,
                            const DSTU4145PointRecord* point, std::uint8_t publicKey[DSTU4145_NUMBER_BYTES])
{
    if (field == nullptr || point == nullptr || publicKey == nullptr) return CKR_ARGUMENTS_BAD;
    if (value == nullptr || length == 0 || length > std::numeric_limits<std::uint32_t>::max())
        return CKR_MECHANISM_PARAM_INVALID;
    IPKIObject* decoded = nullptr;
    if (!DecodePKIObject(value, static_cast<std::uint32_t>(length), PKI_CLASS_DSTU4145_PUBLIC_KEY,
                         PKI_IID_DSTU4145_PUBLIC_KEY, &decoded))
        return CKR_MECHANISM_PARAM_INVALID;
    auto* decodedPoint = static_cast<IPKIECPoint*>(decoded);
    std::uint32_t encodedBits = 0;
    const bool read = decodedPoint->GetPoint(publicKey, &encodedBits) == PKI_OK;
    decodedPoint->Release();
    // The encoding holds the field's bytes, no fewer and no more.
    const std::uint32_t m = field->words[DSTU4145_FIELD_M];
    if (!read || m == 0 || (encodedBits + 7) / 8 != (m + 7) / 8) return CKR_MECHANISM_PARAM_INVALID;
    if (ModuleCSP == nullptr) return CKR_GENERAL_ERROR;
    // The provider has no check of a public key alone; loading the key into
    // a verification makes its library decompress it and check it (on the
    // curve, not infinity, n times it infinity) before the signature is
    // looked at. A zero signature never verifies, so a point that passes
    // answers "invalid signature" and one that does not "bad parameters".
    DSTU4145PointRecord curve = *point;
    const std::uint8_t hash[32] = {};
    const std::uint8_t signature[152] = {};
    const int result = ModuleCSP->VerifySignatureDSTU4145(sizeof(hash), hash, field, &curve, publicKey, signature);
    if (result == CSP_INVALID_SIGNATURE) return CKR_OK;
    std::memset(publicKey, 0, DSTU4145_NUMBER_BYTES);
    return result == CSP_BAD_PARAMETERS ? CKR_MECHANISM_PARAM_INVALID : CKR_GENERAL_ERROR;
}
