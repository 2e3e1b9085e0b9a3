#include "pkcs11/PKCS11Digest.h"

#include <cstring>
#include <memory>
#include <vector>

#include "pkcs11/PKCS11Attribute.h"
#include "pkcs11/PKCS11DSTU4145.h"
#include "pkcs11/PKCS11ObjectManager.h"
#include "pkcs11/PKCS11Session.h"
#include "support/PKIGOST34311Parameters.h"

namespace {

bool IsGOST34311(CK_MECHANISM_TYPE mechanism)
{
    return mechanism == CKM_GOST34311;
}

bool Update(CK_MECHANISM_TYPE mechanism, PKIHashState* state, const CK_BYTE* data, CK_ULONG length)
{
    // The hash wrappers take 32-bit lengths: longer data goes in pieces.
    constexpr CK_ULONG PIECE = 0x40000000UL;
    do {
        const auto n = static_cast<std::uint32_t>(length < PIECE ? length : PIECE);
        const bool ok =
            IsGOST34311(mechanism) ? UpdateDigestGOST34311(state, data, n) : UpdateDigestDSTU7564(state, data, n);
        if (!ok) return false;
        if (data != nullptr) data += n;
        length -= n;
    } while (length != 0);
    return true;
}

bool Finish(CK_MECHANISM_TYPE mechanism, PKIHashState* state, CK_BYTE* out)
{
    return IsGOST34311(mechanism) ? FinishDigestGOST34311(state, out) : FinishDigestDSTU7564(state, out);
}

// Hands a taken state back to the operation unless it was consumed.
struct TakenState {
    std::shared_ptr<PKCS11Session> session;
    PKIHashState state = nullptr;
    bool giveBack = false;
    ~TakenState()
    {
        if (giveBack && state != nullptr)
            session->SetHashContext(state);
        else if (state != nullptr)
            ReleaseDigestState(OPERATION_DIGEST, session->GetOperationMechanism(), &state);
    }
};

// The explicit S-box of a GOST 28147 domain-parameter object.
CK_RV ReadSBoxObject(const PKCS11Object* object, std::uint8_t sBox[64])
{
    const std::uint8_t* info = nullptr;
    CK_ULONG length = 0;
    CK_RV rv = object->GetValueOf(CKA_VENDOR_KEY_INFO, &info, &length);
    if (rv != CKR_OK) return rv;
    bool isReference = false;
    std::uint8_t table[64];
    if (!DecodeGOST28147Parameters(info, length, &isReference, table, nullptr, 0)) return CKR_GENERAL_ERROR;
    // A reference to a reference is not followed.
    if (isReference) return CKR_MECHANISM_PARAM_INVALID;
    std::memcpy(sBox, table, sizeof(table));
    return CKR_OK;
}

}  // namespace

std::uint32_t DigestLength(CK_MECHANISM_TYPE mechanism)
{
    switch (mechanism) {
    case CKM_GOST34311:
    case CKM_DIGEST_ALT_256:
    case CKM_DSTU7564_256:
        return 32;
    case CKM_DSTU7564_384:
        return 48;
    case CKM_DSTU7564_512:
        return 64;
    default:
        return 0;
    }
}

CK_RV FindReferencedSBox(CK_SESSION_HANDLE session, const char* reference, std::uint8_t sBox[64])
{
    if (reference == nullptr || sBox == nullptr) return CKR_ARGUMENTS_BAD;
    // The text must end within the room it is held in: it is read as a
    // terminated string from here on.
    if (std::memchr(reference, 0, GOST34311_REFERENCE_BYTES) == nullptr) return CKR_MECHANISM_PARAM_INVALID;
    std::shared_ptr<PKCS11Session> held;
    std::shared_ptr<PKCS11ObjectManager> objects;
    CK_RV rv = FindSession(session, &held);
    if (rv != CKR_OK || (rv = held->GetObjectManager(&objects)) != CKR_OK) return rv;
    CK_ATTRIBUTE id{};
    if (!MakeSBoxInfoAttribute(nullptr, reference, &id)) return CKR_GENERAL_ERROR;
    CK_OBJECT_CLASS domain = CKO_DOMAIN_PARAMETERS;
    CK_KEY_TYPE gost = CKK_GOST28147;
    CK_BBOOL yes = CK_TRUE, no = CK_FALSE;
    CK_ATTRIBUTE pattern[] = {{CKA_CLASS, &domain, sizeof(domain)},
                              {CKA_TOKEN, &yes, 1},
                              {CKA_PRIVATE, &no, 1},
                              {CKA_LOCAL, &yes, 1},
                              {CKA_KEY_TYPE, &gost, sizeof(gost)},
                              {CKA_ID, id.pValue, id.ulValueLen}};
    std::vector<PKCS11Object*> found;
    rv = objects->CollectMatchingObjects(pattern, 6, &found);
    FreeAttributeValue(&id);
    if (rv != CKR_OK) return rv;
    rv = found.empty() ? CKR_MECHANISM_PARAM_INVALID : ReadSBoxObject(found.front(), sBox);
    PKCS11ObjectManager::FreeObjectList(&found);
    return rv;
}

CK_RV ResolveGOST34311Parameters(CK_SESSION_HANDLE session, const void* parameter, CK_ULONG parameterLength,
                                 std::uint8_t sBox[64], std::uint8_t startVector[32])
{
    if (sBox == nullptr || startVector == nullptr) return CKR_ARGUMENTS_BAD;
    if (parameterLength == 0) {
        if (!GetStandardSBoxRecord(0, sBox)) return CKR_GENERAL_ERROR;
        std::memset(startVector, 0, 32);
        return CKR_OK;
    }
    if (parameter == nullptr || parameterLength > 0xFFFFFFFFu) return CKR_MECHANISM_PARAM_INVALID;
    IPKIObject* decoded = nullptr;
    if (!DecodePKIObject(static_cast<const std::uint8_t*>(parameter), static_cast<std::uint32_t>(parameterLength),
                         PKI_CLASS_GOST34311_PARAMETERS, PKI_IID_GOST34311_PARAMETERS, &decoded))
        return CKR_MECHANISM_PARAM_INVALID;
    auto* parameters = static_cast<IPKIGOST34311Parameters*>(decoded);
    std::uint32_t kind = 0, hasStartVector = 0;
    std::uint8_t table[64] = {};
    std::uint8_t vector[32] = {};
    // One byte more than the longest text, so a text of full length still
    // has its terminator.
    char reference[GOST34311_REFERENCE_BYTES] = {};
    const int got = parameters->GetParameters(&kind, table, reference, sizeof(reference), &hasStartVector, vector);
    parameters->Release();
    if (got != PKI_OK) return CKR_MECHANISM_PARAM_INVALID;
    if (hasStartVector == 0) std::memset(vector, 0, sizeof(vector));
    if (kind == PKI_GOST34311_REFERENCE) {
        const CK_RV rv = FindReferencedSBox(session, reference, table);
        if (rv != CKR_OK) return rv;
    }
    std::memcpy(sBox, table, sizeof(table));
    std::memcpy(startVector, vector, sizeof(vector));
    return CKR_OK;
}

bool MakeGOST34311ParametersAttribute(const void* value, const std::uint8_t* startVector, std::uint32_t kind,
                                      CK_ATTRIBUTE* out)
{
    if (out == nullptr || value == nullptr || PKIInterface == nullptr) return false;
    void* made = nullptr;
    if (PKIInterface->CreateObject(PKI_CLASS_GOST34311_PARAMETERS, PKI_IID_GOST34311_PARAMETERS, &made) != PKI_OK ||
        made == nullptr)
        return false;
    auto* parameters = static_cast<IPKIGOST34311Parameters*>(made);
    const bool done = parameters->SetParameters(kind, value, startVector) == PKI_OK &&
                      EncodePKIObjectAttribute(CKA_VENDOR_DEFINED, parameters, out);
    parameters->Release();
    return done;
}

CK_RV InitDigestGOST34311(CK_SESSION_HANDLE session, const void* parameter, CK_ULONG parameterLength,
                          PKIHashState* state)
{
    std::uint8_t sBox[64];
    std::uint8_t startVector[32];
    const CK_RV rv = ResolveGOST34311Parameters(session, parameter, parameterLength, sBox, startVector);
    if (rv != CKR_OK) return rv;
    return BeginDigestGOST34311(sBox, startVector, state) ? CKR_OK : CKR_GENERAL_ERROR;
}

CK_RV DigestInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism)
{
    if (pMechanism == nullptr) return CKR_ARGUMENTS_BAD;
    const std::uint32_t length = DigestLength(pMechanism->mechanism);
    if (length == 0) return CKR_MECHANISM_INVALID;
    // A parameter said to be there but missing is refused before the
    // operation begins.
    if (pMechanism->pParameter == nullptr && pMechanism->ulParameterLen != 0) return CKR_MECHANISM_PARAM_INVALID;
    std::shared_ptr<PKCS11Session> session;
    CK_RV rv = FindSession(hSession, &session);
    if (rv != CKR_OK) return rv;
    if ((rv = session->BeginOperation(OPERATION_DIGEST, pMechanism->mechanism)) != CKR_OK) return rv;
    PKCS11Operation guard;
    guard.Bind(session);
    PKIHashState state = nullptr;
    if (IsGOST34311(pMechanism->mechanism)) {
        rv = InitDigestGOST34311(hSession, pMechanism->pParameter, pMechanism->ulParameterLen, &state);
    } else {
        rv = BeginDigestDSTU7564(length, &state) ? CKR_OK : CKR_GENERAL_ERROR;
    }
    if (rv != CKR_OK) return rv;
    session->SetHashContext(state);
    guard.Keep(true);
    return CKR_OK;
}

CK_RV Digest(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pDigest,
             CK_ULONG_PTR pulDigestLen)
{
    // Missing data is refused before anything is looked at: the operation
    // stays as it was.
    if (pulDigestLen == nullptr || (pData == nullptr && ulDataLen != 0)) return CKR_ARGUMENTS_BAD;
    std::shared_ptr<PKCS11Session> session;
    CK_RV rv = FindSession(hSession, &session);
    if (rv != CKR_OK) return rv;
    if ((rv = session->CheckOperation(OPERATION_DIGEST)) != CKR_OK) return rv;
    if (session->IsUpdateSeen()) return CKR_OPERATION_ACTIVE;
    const CK_MECHANISM_TYPE mechanism = session->GetOperationMechanism();
    const std::uint32_t length = DigestLength(mechanism);
    if (pDigest == nullptr) {
        *pulDigestLen = length;
        return CKR_OK;
    }
    if (*pulDigestLen < length) {
        // The caller learns the size to allocate, as from a length query.
        *pulDigestLen = length;
        return CKR_BUFFER_TOO_SMALL;
    }
    PKCS11Operation guard;
    guard.Bind(session);
    TakenState taken{session, session->TakeHashContext()};
    if (!Update(mechanism, &taken.state, pData, ulDataLen) || !Finish(mechanism, &taken.state, pDigest))
        return CKR_GENERAL_ERROR;
    taken.state = nullptr;
    *pulDigestLen = length;
    return CKR_OK;
}

CK_RV DigestUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen)
{
    if (pPart == nullptr && ulPartLen != 0) return CKR_ARGUMENTS_BAD;
    std::shared_ptr<PKCS11Session> session;
    CK_RV rv = FindSession(hSession, &session);
    if (rv != CKR_OK) return rv;
    if ((rv = session->CheckOperation(OPERATION_DIGEST)) != CKR_OK) return rv;
    PKCS11Operation guard;
    guard.Bind(session);
    session->SetUpdateSeen();
    const CK_MECHANISM_TYPE mechanism = session->GetOperationMechanism();
    TakenState taken{session, session->TakeHashContext()};
    if (!Update(mechanism, &taken.state, pPart, ulPartLen)) return CKR_GENERAL_ERROR;
    taken.giveBack = true;
    guard.Keep(true);
    return CKR_OK;
}

CK_RV DigestFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pDigest, CK_ULONG_PTR pulDigestLen)
{
    if (pulDigestLen == nullptr) return CKR_ARGUMENTS_BAD;
    std::shared_ptr<PKCS11Session> session;
    CK_RV rv = FindSession(hSession, &session);
    if (rv != CKR_OK) return rv;
    if ((rv = session->CheckOperation(OPERATION_DIGEST)) != CKR_OK) return rv;
    session->SetUpdateSeen();
    const CK_MECHANISM_TYPE mechanism = session->GetOperationMechanism();
    const std::uint32_t length = DigestLength(mechanism);
    if (pDigest == nullptr) {
        *pulDigestLen = length;
        return CKR_OK;
    }
    if (*pulDigestLen < length) {
        // The caller learns the size to allocate, as from a length query.
        *pulDigestLen = length;
        return CKR_BUFFER_TOO_SMALL;
    }
    PKCS11Operation guard;
    guard.Bind(session);
    TakenState taken{session, session->TakeHashContext()};
    if (!Finish(mechanism, &taken.state, pDigest)) return CKR_GENERAL_ERROR;
    taken.state = nullptr;
    *pulDigestLen = length;
    return CKR_OK;
}
