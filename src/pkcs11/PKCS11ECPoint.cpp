#include "pkcs11/PKCS11ECPoint.h"

#include <limits>

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

bool DecodeECPoint(const std::uint8_t* value, CK_ULONG length, std::uint8_t publicKey[DSTU4145_PUBLIC_KEY_BYTES])
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
