// The sign and verify entry points' work: the host hash of the mechanism
// carried in the session's operation from call to call, then the workers.
#include <memory>

#include "pkcs11/PKCS11DSTU4145.h"
#include "pkcs11/PKCS11Object.h"
#include "pkcs11/PKCS11ObjectManager.h"
#include "pkcs11/PKCS11Session.h"
#include "pkcs11/PKCS11SignVerify.h"

namespace {

// The host hash length of a multi-part sign or verify mechanism; 0 for one
// that has no host hash.
std::uint32_t HashedLength(CK_MECHANISM_TYPE mechanism)
{
    switch (mechanism) {
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

CK_RV BeginHash(CK_MECHANISM_TYPE mechanism, const PKCS11Object* key, PKIHashState* state)
{
    if (mechanism == CKM_DSTU4145_GOST34311) return BeginKeyDigestGOST34311(key, state);
    return BeginDigestDSTU7564(HashedLength(mechanism), state) ? CKR_OK : CKR_GENERAL_ERROR;
}

bool UpdateHash(CK_MECHANISM_TYPE mechanism, PKIHashState* state, const CK_BYTE* data, CK_ULONG length)
{
    constexpr CK_ULONG PIECE = 0x40000000UL;
    do {
        const auto n = static_cast<std::uint32_t>(length < PIECE ? length : PIECE);
        const bool ok = mechanism == CKM_DSTU4145_GOST34311 ? UpdateDigestGOST34311(state, data, n)
                                                            : UpdateDigestDSTU7564(state, data, n);
        if (!ok) return false;
        if (data != nullptr) data += n;
        length -= n;
    } while (length != 0);
    return true;
}

bool FinishHash(CK_MECHANISM_TYPE mechanism, PKIHashState* state, CK_BYTE* out)
{
    return mechanism == CKM_DSTU4145_GOST34311 ? FinishDigestGOST34311(state, out) : FinishDigestDSTU7564(state, out);
}

// A state taken out of the operation: given back, or released by its hash
// family, when the call ends.
struct TakenState {
    std::uint32_t kind;
    CK_MECHANISM_TYPE mechanism;
    std::shared_ptr<PKCS11Session> session;
    PKIHashState state = nullptr;
    bool giveBack = false;
    ~TakenState()
    {
        if (giveBack && state != nullptr)
            session->SetHashContext(state);
        else if (state != nullptr)
            ReleaseDigestState(kind, mechanism, &state);
    }
};

// Hashes `data` whole into `out` (a fresh state).
CK_RV HashWhole(std::uint32_t kind, CK_MECHANISM_TYPE mechanism, const PKCS11Object* key,
                const std::shared_ptr<PKCS11Session>& session, const CK_BYTE* data, CK_ULONG length, CK_BYTE* out)
{
    TakenState taken{kind, mechanism, session};
    CK_RV rv = BeginHash(mechanism, key, &taken.state);
    if (rv != CKR_OK) return rv;
    if (!UpdateHash(mechanism, &taken.state, data, length) || !FinishHash(mechanism, &taken.state, out))
        return CKR_GENERAL_ERROR;
    taken.state = nullptr;
    return CKR_OK;
}

CK_RV Init(std::uint32_t kind, CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey)
{
    if (pMechanism == nullptr) return CKR_ARGUMENTS_BAD;
    std::shared_ptr<PKCS11Session> session;
    std::shared_ptr<PKCS11ObjectManager> objects;
    PKCS11ObjectPtr key;
    CK_RV rv = FindKeyForUse(hSession, kind, pMechanism, hKey, &session, &objects, &key);
    if (rv != CKR_OK) return rv;
    if (kind == OPERATION_SIGN) {
        rv = session->BeginSign(kind, pMechanism);
    } else {
        rv = session->BeginOperation(kind, pMechanism->mechanism);
    }
    if (rv != CKR_OK) return rv;
    if ((rv = session->SetOperationKey(key.Detach())) != CKR_OK) session->EndOperation();
    return rv;
}

// The operation of `kind` in the session, its mechanism and key.
struct Active {
    std::shared_ptr<PKCS11Session> session;
    CK_MECHANISM_TYPE mechanism = 0;
    std::shared_ptr<const PKCS11Object> key;
};

CK_RV FindActive(CK_SESSION_HANDLE hSession, std::uint32_t kind, Active* active)
{
    CK_RV rv = FindSession(hSession, &active->session);
    if (rv != CKR_OK) return rv;
    if ((rv = active->session->CheckOperation(kind)) != CKR_OK) return rv;
    active->mechanism = active->session->GetOperationMechanism();
    active->key = active->session->GetOperationKey();
    return active->key ? CKR_OK : CKR_OPERATION_NOT_INITIALIZED;
}

// Multi-part update shared by sign and verify.
CK_RV Update(std::uint32_t kind, CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen)
{
    if (pPart == nullptr && ulPartLen != 0) return CKR_ARGUMENTS_BAD;
    Active a;
    CK_RV rv = FindActive(hSession, kind, &a);
    if (rv != CKR_OK) return rv;
    PKCS11Operation guard;
    guard.Bind(a.session);
    a.session->SetUpdateSeen();
    if (HashedLength(a.mechanism) == 0) return CKR_MECHANISM_INVALID;
    TakenState taken{kind, a.mechanism, a.session, a.session->TakeHashContext()};
    if (taken.state == nullptr && (rv = BeginHash(a.mechanism, a.key.get(), &taken.state)) != CKR_OK) return rv;
    if (!UpdateHash(a.mechanism, &taken.state, pPart, ulPartLen)) return CKR_GENERAL_ERROR;
    taken.giveBack = true;
    guard.Keep(true);
    return CKR_OK;
}

// Finishes the multi-part hash of the operation into `digest`.
CK_RV FinishParts(std::uint32_t kind, const Active& a, CK_BYTE* digest)
{
    TakenState taken{kind, a.mechanism, a.session, a.session->TakeHashContext()};
    CK_RV rv;
    if (taken.state == nullptr && (rv = BeginHash(a.mechanism, a.key.get(), &taken.state)) != CKR_OK) return rv;
    if (!FinishHash(a.mechanism, &taken.state, digest)) return CKR_GENERAL_ERROR;
    taken.state = nullptr;
    return CKR_OK;
}

}  // namespace

CK_RV BeginKeyDigestGOST34311(const PKCS11Object* key, PKIHashState* state)
{
    if (key == nullptr || state == nullptr) return CKR_ARGUMENTS_BAD;
    const std::uint8_t* params = nullptr;
    CK_ULONG length = 0;
    CK_RV rv = key->GetValueOf(CKA_EC_PARAMS, &params, &length);
    if (rv != CKR_OK) return rv;
    if (params == nullptr || length == 0) return CKR_ATTRIBUTE_TYPE_INVALID;
    DSTU4145FieldRecord field{};
    DSTU4145PointRecord point{};
    std::uint8_t sBox[64] = {};
    if (!DecodeECParams(params, length, &field, &point, sBox)) return CKR_DOMAIN_PARAMS_INVALID;
    return BeginDigestGOST34311(sBox, nullptr, state) ? CKR_OK : CKR_GENERAL_ERROR;
}

CK_RV SignInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey)
{
    return Init(OPERATION_SIGN, hSession, pMechanism, hKey);
}

CK_RV Sign(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature,
           CK_ULONG_PTR pulSignatureLen)
{
    if (pulSignatureLen == nullptr || (pData == nullptr && ulDataLen != 0)) return CKR_ARGUMENTS_BAD;
    Active a;
    CK_RV rv = FindActive(hSession, OPERATION_SIGN, &a);
    if (rv != CKR_OK) return rv;
    if (a.session->IsUpdateSeen()) return CKR_OPERATION_ACTIVE;
    PKCS11Operation guard;
    guard.Bind(a.session);
    PKCS11Device* device = nullptr;
    if ((rv = a.session->GetDevice(&device)) != CKR_OK) return rv;
    const std::uint32_t hashed = HashedLength(a.mechanism);
    const CK_ULONG n = hashed != 0 ? hashed : ulDataLen;
    CK_BYTE digest[64];
    const CK_BYTE* value = pData;
    if (hashed != 0) {
        value = nullptr;
        if (pSignature != nullptr) {
            if ((rv = HashWhole(OPERATION_SIGN, a.mechanism, a.key.get(), a.session, pData, ulDataLen, digest)) !=
                CKR_OK)
                return rv;
            value = digest;
        }
    }
    const std::vector<std::uint8_t> parameter = a.session->GetOperationParameter();
    rv = PKISign(device, a.mechanism, parameter.empty() ? nullptr : parameter.data(), parameter.size(), a.key.get(),
                 value, n, pSignature, pulSignatureLen);
    guard.Keep(rv == CKR_BUFFER_TOO_SMALL || (rv == CKR_OK && pSignature == nullptr));
    return rv;
}

CK_RV SignUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen)
{
    return Update(OPERATION_SIGN, hSession, pPart, ulPartLen);
}

CK_RV SignFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature, CK_ULONG_PTR pulSignatureLen)
{
    if (pulSignatureLen == nullptr) return CKR_ARGUMENTS_BAD;
    Active a;
    CK_RV rv = FindActive(hSession, OPERATION_SIGN, &a);
    if (rv != CKR_OK) return rv;
    PKCS11Device* device = nullptr;
    if ((rv = a.session->GetDevice(&device)) != CKR_OK) return rv;
    PKCS11Operation guard;
    guard.Bind(a.session);
    a.session->SetUpdateSeen();
    const std::uint32_t hashed = HashedLength(a.mechanism);
    if (hashed == 0) return CKR_MECHANISM_INVALID;
    // The length query passes the hash's length: the worker refuses any other.
    CK_ULONG needed = 0;
    if ((rv = PKISign(device, a.mechanism, nullptr, 0, a.key.get(), nullptr, hashed, nullptr, &needed)) != CKR_OK)
        return rv;
    if (pSignature == nullptr) {
        *pulSignatureLen = needed;
        guard.Keep(true);
        return CKR_OK;
    }
    if (*pulSignatureLen < needed) {
        *pulSignatureLen = needed;
        guard.Keep(true);
        return CKR_BUFFER_TOO_SMALL;
    }
    CK_BYTE digest[64];
    if ((rv = FinishParts(OPERATION_SIGN, a, digest)) != CKR_OK) return rv;
    return PKISign(device, a.mechanism, nullptr, 0, a.key.get(), digest, hashed, pSignature, pulSignatureLen);
}

CK_RV VerifyInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey)
{
    return Init(OPERATION_VERIFY, hSession, pMechanism, hKey);
}

CK_RV Verify(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature,
             CK_ULONG ulSignatureLen)
{
    if ((pData == nullptr && ulDataLen != 0) || (pSignature == nullptr && ulSignatureLen != 0))
        return CKR_ARGUMENTS_BAD;
    Active a;
    CK_RV rv = FindActive(hSession, OPERATION_VERIFY, &a);
    if (rv != CKR_OK) return rv;
    if (a.session->IsUpdateSeen()) return CKR_OPERATION_ACTIVE;
    PKCS11Operation guard;
    guard.Bind(a.session);
    PKCS11Device* device = nullptr;
    if ((rv = a.session->GetDevice(&device)) != CKR_OK) return rv;
    const std::uint32_t hashed = HashedLength(a.mechanism);
    CK_BYTE digest[64];
    const CK_BYTE* value = pData;
    CK_ULONG n = ulDataLen;
    if (hashed != 0) {
        if ((rv = HashWhole(OPERATION_VERIFY, a.mechanism, a.key.get(), a.session, pData, ulDataLen, digest)) != CKR_OK)
            return rv;
        value = digest;
        n = hashed;
    }
    return PKIVerify(device, a.mechanism, a.key.get(), value, n, pSignature, ulSignatureLen);
}

CK_RV VerifyUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen)
{
    return Update(OPERATION_VERIFY, hSession, pPart, ulPartLen);
}

CK_RV VerifyFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature, CK_ULONG ulSignatureLen)
{
    if (pSignature == nullptr && ulSignatureLen != 0) return CKR_ARGUMENTS_BAD;
    Active a;
    CK_RV rv = FindActive(hSession, OPERATION_VERIFY, &a);
    if (rv != CKR_OK) return rv;
    PKCS11Operation guard;
    guard.Bind(a.session);
    a.session->SetUpdateSeen();
    const std::uint32_t hashed = HashedLength(a.mechanism);
    if (hashed == 0) return CKR_MECHANISM_INVALID;
    PKCS11Device* device = nullptr;
    if ((rv = a.session->GetDevice(&device)) != CKR_OK) return rv;
    CK_BYTE digest[64];
    if ((rv = FinishParts(OPERATION_VERIFY, a, digest)) != CKR_OK) return rv;
    return PKIVerify(device, a.mechanism, a.key.get(), digest, hashed, pSignature, ulSignatureLen);
}
