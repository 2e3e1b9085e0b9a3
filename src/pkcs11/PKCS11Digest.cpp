#include "pkcs11/PKCS11Digest.h"

#include <memory>

#include "pkcs11/PKCS11Session.h"

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

CK_RV InitDigestGOST34311(CK_SESSION_HANDLE, const void*, CK_ULONG parameterLength, PKIHashState* state)
{
    // Encoded GOST 34.311 parameters are read by the PKI formats library,
    // which does not offer them in this build: only the defaults are taken.
    if (parameterLength != 0) return CKR_MECHANISM_PARAM_INVALID;
    return BeginDigestGOST34311(nullptr, nullptr, state) ? CKR_OK : CKR_GENERAL_ERROR;
}

CK_RV DigestInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism)
{
    if (pMechanism == nullptr) return CKR_ARGUMENTS_BAD;
    const std::uint32_t length = DigestLength(pMechanism->mechanism);
    if (length == 0) return CKR_MECHANISM_INVALID;
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
    if (*pulDigestLen < length) return CKR_BUFFER_TOO_SMALL;
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
    if (*pulDigestLen < length) return CKR_BUFFER_TOO_SMALL;
    PKCS11Operation guard;
    guard.Bind(session);
    TakenState taken{session, session->TakeHashContext()};
    if (!Finish(mechanism, &taken.state, pDigest)) return CKR_GENERAL_ERROR;
    taken.state = nullptr;
    *pulDigestLen = length;
    return CKR_OK;
}
