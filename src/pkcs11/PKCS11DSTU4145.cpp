#include "pkcs11/PKCS11DSTU4145.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

#include "csp/CSP.h"
#include "pkcs11/PKCS11Attribute.h"
#include "pkcs11/PKCS11ObjectManager.h"
#include "pkcs11/PKCS11PKI.h"
#include "pkcs11/PKCS11Session.h"

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

// Parameter sets the provider has passed, with the point record as its check
// left it (the check writes the order's bit length into it). The check costs
// a millisecond or so (it proves the curve sound), and every signature,
// verification and key-pair generation checks its key's set again: a set is
// checked once per start of the services. Only sets that passed are kept.
struct CheckedSet {
    DSTU4145FieldRecord field;
    DSTU4145PointRecord pointGiven;
    DSTU4145PointRecord pointChecked;
};
constexpr std::size_t kCheckedSets = 16;
std::mutex g_checkedLock;
CheckedSet g_checked[kCheckedSets];
std::size_t g_checkedCount = 0;
std::size_t g_checkedNext = 0;  // the slot the next set takes once all are used

bool CheckParameters(const DSTU4145FieldRecord* field, DSTU4145PointRecord* point)
{
    if (ModuleCSP == nullptr) return false;
    {
        std::lock_guard<std::mutex> lock(g_checkedLock);
        for (std::size_t i = 0; i < g_checkedCount; ++i) {
            const CheckedSet& c = g_checked[i];
            if (std::memcmp(&c.field, field, sizeof(c.field)) == 0 &&
                std::memcmp(&c.pointGiven, point, sizeof(c.pointGiven)) == 0) {
                *point = c.pointChecked;
                return true;
            }
        }
    }
    const DSTU4145PointRecord given = *point;
    if (ModuleCSP->CheckParametersDSTU4145(field, point) != CSP_OK) return false;
    std::lock_guard<std::mutex> lock(g_checkedLock);
    std::size_t slot = g_checkedNext;
    if (g_checkedCount < kCheckedSets)
        slot = g_checkedCount++;
    else
        g_checkedNext = (g_checkedNext + 1) % kCheckedSets;
    g_checked[slot] = {*field, given, *point};
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
    return !check || CheckParameters(field, point);
}

}  // namespace

void ForgetCheckedECParams()
{
    std::lock_guard<std::mutex> lock(g_checkedLock);
    g_checkedCount = 0;
    g_checkedNext = 0;
}

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
    // A standard curve is encoded by its name, so other programs find it.
    std::uint8_t s[kSBoxBytes];
    HeldParameters held;
    if (out == nullptr || !AreStandardIndexesValid(curve, sBox) || !GetStandardSBoxRecord(sBox, s) ||
        !NewParameters(&held))
        return false;
    if (held.object->SetStandard(1, curve, s) != PKI_OK) return false;
    return EncodePKIObjectAttribute(CKA_EC_PARAMS, held.object, out);
}

bool MakeSBoxInfoAttribute(const std::uint8_t* sBox, const char* reference, CK_ATTRIBUTE* out)
{
    if (out == nullptr || (sBox == nullptr) == (reference == nullptr) || PKIInterface == nullptr) return false;
    void* made = nullptr;
    if (PKIInterface->CreateObject(PKI_CLASS_GOST28147_PARAMETERS, PKI_IID_GOST28147_PARAMETERS, &made) != PKI_OK ||
        made == nullptr)
        return false;
    auto* parameters = static_cast<IPKIGOST28147Parameters*>(made);
    const bool done = parameters->SetParameters(sBox, reference) == PKI_OK &&
                      EncodePKIObjectAttribute(CKA_VENDOR_KEY_INFO, parameters, out);
    parameters->Release();
    return done;
}

bool DecodeGOST28147Parameters(const std::uint8_t* value, CK_ULONG length, bool* isReference, std::uint8_t sBox[64],
                               char* reference, std::uint32_t referenceBytes)
{
    if (value == nullptr || length == 0 || length > 0xFFFFFFFFu || isReference == nullptr) return false;
    IPKIObject* decoded = nullptr;
    if (!DecodePKIObject(value, static_cast<std::uint32_t>(length), PKI_CLASS_GOST28147_PARAMETERS,
                         PKI_IID_GOST28147_PARAMETERS, &decoded))
        return false;
    auto* parameters = static_cast<IPKIGOST28147Parameters*>(decoded);
    std::uint32_t kind = 0;
    const bool done = parameters->GetParameters(&kind, sBox, reference, referenceBytes) == PKI_OK;
    parameters->Release();
    if (done) *isReference = kind == PKI_GOST28147_REFERENCE;
    return done;
}

bool MakeStandardSBoxInfoAttribute(std::uint32_t index, CK_ATTRIBUTE* out)
{
    std::uint8_t s[kSBoxBytes];
    return GetStandardSBoxRecord(index, s) && MakeSBoxInfoAttribute(s, nullptr, out);
}

CK_RV CreateDomainParameterObjects(CK_SESSION_HANDLE session)
{
    std::shared_ptr<PKCS11Session> held;
    std::shared_ptr<PKCS11ObjectManager> objects;
    CK_RV rv = FindSession(session, &held);
    if (rv != CKR_OK || (rv = held->GetObjectManager(&objects)) != CKR_OK) return rv;
    CK_OBJECT_CLASS domain = CKO_DOMAIN_PARAMETERS;
    CK_KEY_TYPE keyType = CKK_DSTU4145;
    CK_BBOOL no = CK_FALSE, yes = CK_TRUE;
    CK_BBOOL local = CK_TRUE;
    for (std::uint32_t i = 0;; ++i) {
        CK_ATTRIBUTE parameters{};
        if (!MakeStandardECParamsAttribute(i, 0, &parameters)) break;
        DSTU4145FieldRecord field;
        DSTU4145PointRecord point;
        if (!GetStandardCurveRecords(i, &field, &point)) {
            FreeAttributeValue(&parameters);
            return CKR_GENERAL_ERROR;
        }
        char label[32];
        const int length =
            std::snprintf(label, sizeof(label), "EC Params (%d bits)", static_cast<int>(field.words[DSTU4145_FIELD_M]));
        CK_ATTRIBUTE t[] = {{CKA_CLASS, &domain, sizeof(domain)},
                            {CKA_TOKEN, &no, 1},
                            {CKA_PRIVATE, &no, 1},
                            {CKA_LOCAL, &local, 1},
                            {CKA_KEY_TYPE, &keyType, sizeof(keyType)},
                            {CKA_LABEL, label, static_cast<CK_ULONG>(length)},
                            {CKA_EC_PARAMS, parameters.pValue, parameters.ulValueLen}};
        CK_OBJECT_HANDLE handle = 0;
        rv = objects->CreateInternalObject(t, 7, &handle);
        FreeAttributeValue(&parameters);
        if (rv != CKR_OK) return rv;
        // It stays in the session's table but reads as a token object.
        CK_ATTRIBUTE token{CKA_TOKEN, &yes, 1};
        rv = objects->WithSessionObject(handle, [&](PKCS11Object* o) { return o->ApplyTemplate(&token, 1, false); });
        if (rv != CKR_OK) return rv;
    }
    CK_KEY_TYPE gost = CKK_GOST28147;
    CK_ATTRIBUTE info{};
    for (std::uint32_t j = 0; MakeStandardSBoxInfoAttribute(j, &info); ++j) {
        // The reference form is what a GOST 34.311 parameter naming this
        // S-box encodes, so it is found by CKA_ID.
        char text[40];
        std::snprintf(text, sizeof(text), "1.2.804.2.1.1.1.1.1.1.0.%u", static_cast<unsigned>(j));
        CK_ATTRIBUTE reference{};
        if (!MakeSBoxInfoAttribute(nullptr, text, &reference)) {
            FreeAttributeValue(&info);
            return CKR_GENERAL_ERROR;
        }
        CK_ATTRIBUTE t[] = {{CKA_CLASS, &domain, sizeof(domain)},
                            {CKA_TOKEN, &no, 1},
                            {CKA_PRIVATE, &no, 1},
                            {CKA_LOCAL, &local, 1},
                            {CKA_KEY_TYPE, &gost, sizeof(gost)},
                            {CKA_VENDOR_KEY_INFO, info.pValue, info.ulValueLen},
                            {CKA_ID, reference.pValue, reference.ulValueLen}};
        CK_OBJECT_HANDLE handle = 0;
        rv = objects->CreateInternalObject(t, 7, &handle);
        FreeAttributeValue(&info);
        FreeAttributeValue(&reference);
        if (rv != CKR_OK) return rv;
        CK_ATTRIBUTE token{CKA_TOKEN, &yes, 1};
        rv = objects->WithSessionObject(handle, [&](PKCS11Object* o) { return o->ApplyTemplate(&token, 1, false); });
        if (rv != CKR_OK) return rv;
    }
    return CKR_OK;
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
