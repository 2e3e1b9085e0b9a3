#include "pkcs11/PKCS11DSTU4145.h"

#include <cstring>

#include "csp/CSP.h"
#include "pkcs11/PKCS11Attribute.h"
#include "pkcs11/PKCS11PKI.h"

namespace {

constexpr std::uint32_t kSBoxBytes = 64;

// One reference to a formats-library object, dropped when it goes.
struct HeldParameters {
    IPKIParameters* object = nullptr;
    ~HeldParameters()
    {
        if (object != nullptr) object->Release();
    }
};

bool NewParameters(HeldParameters* held)
{
    if (PKIInterface == nullptr) return false;
    void* made = nullptr;
    if (PKIInterface->CreateObject(PKI_CLASS_DSTU4145_PARAMETERS, PKI_IID_DSTU4145_PARAMETERS, &made) != PKI_OK ||
        made == nullptr)
        return false;
    held->object = static_cast<IPKIParameters*>(made);
    return true;
}

bool DecodeInto(const std::uint8_t* value, CK_ULONG length, DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                std::uint8_t sBox[64], bool check)
{
    if (value == nullptr || length == 0 || length > 0xFFFFFFFFu) return false;
    IPKIObject* decoded = nullptr;
    if (!DecodePKIObject(value, static_cast<std::uint32_t>(length), PKI_CLASS_DSTU4145_PARAMETERS,
                         PKI_IID_DSTU4145_PARAMETERS, &decoded))
        return false;
    HeldParameters held;
    held.object = static_cast<IPKIParameters*>(decoded);
    if (held.object->GetParameters(field, point, sBox) != PKI_OK) return false;
    return !check || (ModuleCSP != nullptr && ModuleCSP->CheckParametersDSTU4145(field, point) == CSP_OK);
}

}  // namespace

bool GetStandardCurveRecords(std::uint32_t index, DSTU4145FieldRecord* field, DSTU4145PointRecord* point)
{
    if (ModuleCSP == nullptr) return false;
    return ModuleCSP->Parameters().GetStandardCurve(1, index, field, point) != 0;
}

bool GetStandardSBoxRecord(std::uint32_t index, std::uint8_t sBox[64])
{
    if (ModuleCSP == nullptr) return false;
    GOST28147PackedSBox packed;
    if (ModuleCSP->Parameters().GetStandardSBox(index, &packed) == 0) return false;
    static_assert(sizeof(packed) == kSBoxBytes, "a packed S-box is 64 bytes");
    std::memcpy(sBox, &packed, kSBoxBytes);
    return true;
}

bool FindStandardCurveIndex(const DSTU4145FieldRecord* field, const DSTU4145PointRecord* point, std::uint32_t* index)
{
    DSTU4145FieldRecord f;
    DSTU4145PointRecord p;
    for (std::uint32_t i = 0; GetStandardCurveRecords(i, &f, &p); ++i) {
        if (std::memcmp(&f, field, sizeof(f)) == 0 && std::memcmp(&p, point, sizeof(p)) == 0) {
            *index = i;
            return true;
        }
    }
    return false;
}

bool FindStandardSBoxIndex(const std::uint8_t sBox[64], std::uint32_t* index)
{
    std::uint8_t s[kSBoxBytes];
    for (std::uint32_t i = 0; GetStandardSBoxRecord(i, s); ++i) {
        if (std::memcmp(s, sBox, kSBoxBytes) == 0) {
            *index = i;
            return true;
        }
    }
    return false;
}

bool EncodeECParams(const DSTU4145FieldRecord* field, const DSTU4145PointRecord* point, const std::uint8_t* sBox,
                    CK_ATTRIBUTE* out)
{
    HeldParameters held;
    if (field == nullptr || point == nullptr || out == nullptr || !NewParameters(&held)) return false;
    if (held.object->SetExplicit(field, point, sBox) != PKI_OK) return false;
    return EncodePKIObjectAttribute(CKA_EC_PARAMS, held.object, out);
}

bool DecodeECParams(const std::uint8_t* value, CK_ULONG length, DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                    std::uint8_t sBox[64])
{
    return DecodeInto(value, length, field, point, sBox, false);
}

bool DecodeAndCheckECParams(const std::uint8_t* value, CK_ULONG length, DSTU4145FieldRecord* field,
                            DSTU4145PointRecord* point, std::uint8_t sBox[64])
{
    return DecodeInto(value, length, field, point, sBox, true);
}

bool ECParamsToStandardIndexes(const std::uint8_t* value, CK_ULONG length, std::uint32_t* curve, std::uint32_t* sBox)
{
    DSTU4145FieldRecord field;
    DSTU4145PointRecord point;
    std::uint8_t s[kSBoxBytes];
    return DecodeAndCheckECParams(value, length, &field, &point, s) && FindStandardCurveIndex(&field, &point, curve) &&
           FindStandardSBoxIndex(s, sBox);
}

bool AreStandardIndexesValid(std::uint32_t curve, std::uint32_t sBox)
{
    DSTU4145FieldRecord field;
    DSTU4145PointRecord point;
    std::uint8_t s[kSBoxBytes];
    return GetStandardCurveRecords(curve, &field, &point) && GetStandardSBoxRecord(sBox, s);
}

bool MakeStandardECParamsAttribute(std::uint32_t curve, std::uint32_t sBox, CK_ATTRIBUTE* out)
{
    DSTU4145FieldRecord field;
    DSTU4145PointRecord point;
    std::uint8_t s[kSBoxBytes];
    if (!GetStandardCurveRecords(curve, &field, &point) || !GetStandardSBoxRecord(sBox, s)) return false;
    return EncodeECParams(&field, &point, s, out);
}

bool SameECParams(const std::uint8_t* value1, CK_ULONG length1, const std::uint8_t* value2, CK_ULONG length2)
{
    DSTU4145FieldRecord f1, f2;
    DSTU4145PointRecord p1, p2;
    std::uint8_t s1[kSBoxBytes], s2[kSBoxBytes];
    return DecodeAndCheckECParams(value1, length1, &f1, &p1, s1) &&
           DecodeAndCheckECParams(value2, length2, &f2, &p2, s2) && std::memcmp(&f1, &f2, sizeof(f1)) == 0 &&
           std::memcmp(&p1, &p2, sizeof(p1)) == 0 && std::memcmp(s1, s2, kSBoxBytes) == 0;
}
