// Start and stop of the PKI bridge, and its hash wrappers.
#include <cstring>
#include <string>

#include "crypto/SecureWipe.h"
#include "csp/CSP.h"
#include "pkcs11/PKCS11DSTU4145.h"
#include "pkcs11/PKCS11Library.h"
#include "pkcs11/PKCS11PKI.h"
#include "support/PKIFormats.h"

CSP* ModuleCSP = nullptr;
IPKIInterface* PKIInterface = nullptr;

namespace {

constexpr std::uint32_t PKI_VERSION_WITH_CSP = 264;  // versions above it may take the CSP
const std::uint8_t ZeroStartVector[32] = {};

// Operation kinds whose hash state the bridge keeps.
enum : std::uint32_t { OPERATION_SIGN = 2, OPERATION_VERIFY = 3, OPERATION_DIGEST = 4 };

bool DefaultSBox(GOST28147PackedSBox* sBox)
{
    return ModuleCSP != nullptr && ModuleCSP->Parameters().GetStandardSBox(0, sBox) != 0;
}

// The module's own folder: its file name up to the last '/'. Empty when the
// name has none (the current folder is kept then).
std::string ModuleFolder()
{
    char path[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileName(static_cast<HMODULE>(LibraryModuleHandle()), path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return std::string();
    const char* slash = std::strrchr(path, '/');
    if (slash == nullptr) return std::string();
    return slash == path ? std::string("/") : std::string(path, static_cast<std::size_t>(slash - path));
}

bool Started()
{
    // The CSP first; the crypto libraries it binds are found in the module's
    // folder, which is current here.
    if (CreateCSP(&ModuleCSP, nullptr) != CSP_OK) return false;
    const int acquired = AcquirePKILibrary();
    if (acquired != 0) {
        // The loader counts a reference once the library is loaded, even when
        // its initialisation failed: give that back.
        void* unused = nullptr;
        if (GetPKIInterface(&unused) != PKI_LIBRARY_NOT_LOADED) ReleasePKILibrary();
        return false;
    }
    void* pki = nullptr;
    if (GetPKIInterface(&pki) != 0 || pki == nullptr) {
        ReleasePKILibrary();
        return false;
    }
    PKIInterface = static_cast<IPKIInterface*>(pki);
    if (PKILibraryHasOptionA()) PKIInterface->SetCSP(ModuleCSP);  // the library's answer changes nothing here
    return true;
}

}  // namespace

bool StartPKIServices(const void* prngSeed)
{
    // The module's CSP never starts its generator here.
    (void)prngSeed;
    PKIInterface = nullptr;
    char saved[1040] = {};
    const DWORD savedLength = GetCurrentDirectory(sizeof(saved), saved);
    const bool restore = savedLength > 0 && savedLength < sizeof(saved);
    const std::string folder = ModuleFolder();
    if (!folder.empty()) SetCurrentDirectory(folder.c_str());
    const bool started = Started();
    if (restore) SetCurrentDirectory(saved);
    if (!started) {
        // Nothing of a failed start stays: a retried C_Initialize starts clean.
        PKIInterface = nullptr;
        if (ModuleCSP != nullptr) DestroyCSP(&ModuleCSP);
    }
    return started;
}

void StopPKIServices()
{
    // A provider started later checks its parameter sets afresh.
    ForgetCheckedECParams();
    if (PKIInterface != nullptr) {
        ReleasePKILibrary();
        PKIInterface = nullptr;
    }
    if (ModuleCSP != nullptr) DestroyCSP(&ModuleCSP);
}

bool IsPKILibraryReady()
{
    return PKIInterface != nullptr;
}

namespace {

bool VersionAbove264()
{
    std::uint32_t version = 0;
    return PKIInterface != nullptr && PKIInterface->GetVersion(&version) == PKI_OK && version > PKI_VERSION_WITH_CSP;
}

}  // namespace

bool PKILibraryHasOptionA()
{
    return VersionAbove264() && PKIInterface->HasOptionA() != 0;
}

bool PKILibraryHasOptionB()
{
    return VersionAbove264() && PKIInterface->HasOptionB() != 0;
}

// ---- hash wrappers ----

bool BeginDigestGOST34311(const std::uint8_t* sBox, const std::uint8_t* startVector, PKIHashState* state)
{
    if (ModuleCSP == nullptr || state == nullptr) return false;
    static_assert(sizeof(GOST28147PackedSBox) == 64);
    GOST28147PackedSBox table;
    if (sBox != nullptr)
        std::memcpy(&table, sBox, sizeof(table));
    else if (!DefaultSBox(&table))
        return false;
    CSPHandle made = nullptr;
    if (ModuleCSP->BeginHashGOST34311(&table, startVector != nullptr ? startVector : ZeroStartVector, &made) !=
            CSP_OK ||
        made == nullptr)
        return false;
    *state = made;
    return true;
}

bool UpdateDigestGOST34311(PKIHashState* state, const std::uint8_t* data, std::uint32_t length)
{
    if (ModuleCSP == nullptr || state == nullptr || *state == nullptr || (data == nullptr && length != 0)) return false;
    return ModuleCSP->UpdateHashGOST34311(data, length, state) == CSP_OK;
}

bool FinishDigestGOST34311(PKIHashState* state, std::uint8_t* out)
{
    if (ModuleCSP == nullptr || state == nullptr || *state == nullptr) return false;
    std::uint8_t hash[32];
    if (ModuleCSP->FinishHashGOST34311(hash, state) != CSP_OK) return false;
    if (out != nullptr) std::memcpy(out, hash, sizeof(hash));
    return true;
}

bool BeginDigestDSTU7564(std::uint32_t outputLength, PKIHashState* state)
{
    if (ModuleCSP == nullptr || state == nullptr) return false;
    CSPHandle made = nullptr;
    if (ModuleCSP->BeginHashDSTU7564(nullptr, outputLength, &made) != CSP_OK || made == nullptr) return false;
    *state = made;
    return true;
}

bool UpdateDigestDSTU7564(PKIHashState* state, const std::uint8_t* data, std::uint32_t length)
{
    if (ModuleCSP == nullptr || state == nullptr || *state == nullptr || (data == nullptr && length != 0)) return false;
    return ModuleCSP->UpdateHashDSTU7564(data, length, state) == CSP_OK;
}

bool FinishDigestDSTU7564(PKIHashState* state, std::uint8_t* out)
{
    if (ModuleCSP == nullptr || state == nullptr || *state == nullptr) return false;
    std::uint8_t hash[64];
    std::uint8_t* target = out != nullptr ? out : hash;  // the state knows its own length (at most 64)
    return ModuleCSP->FinishHashDSTU7564(target, state) == CSP_OK;
}

void ReleaseDigestState(std::uint32_t operationKind, CK_MECHANISM_TYPE mechanism, PKIHashState* state)
{
    if (state == nullptr || *state == nullptr) return;
    if (operationKind != OPERATION_SIGN && operationKind != OPERATION_VERIFY && operationKind != OPERATION_DIGEST)
        return;
    // Sign and verify states are released through the hash family of their
    // mechanism too, so none is left behind.
    switch (mechanism) {
    case CKM_GOST34311:
    case CKM_DSTU4145_GOST34311:
        FinishDigestGOST34311(state, nullptr);
        break;
    case CKM_DIGEST_ALT_256:
    case CKM_DSTU7564_256:
    case CKM_DSTU7564_384:
    case CKM_DSTU7564_512:
    case CKM_DSTU4145_DSTU7564_256:
    case CKM_DSTU4145_DSTU7564_384:
    case CKM_DSTU4145_DSTU7564_512:
        FinishDigestDSTU7564(state, nullptr);
        break;
    default:
        break;
    }
}

// ---- PIN digest ----

bool DigestPIN(const std::uint8_t* pin, std::uint32_t length, std::uint8_t out[32])
{
    GOST28147PackedSBox sBox;
    if (ModuleCSP == nullptr || out == nullptr || (pin == nullptr && length != 0) || !DefaultSBox(&sBox)) return false;
    std::uint8_t hash[32];
    const bool ok = ModuleCSP->HashGOST34311(pin, length, &sBox, ZeroStartVector, hash) == CSP_OK;
    if (ok) std::memcpy(out, hash, sizeof(hash));
    qvkcrypto::SecureWipe(hash, sizeof(hash));
    return ok;
}

bool VerifyPINDigest(const std::uint8_t* pin, std::uint32_t length, const std::uint8_t expected[32])
{
    GOST28147PackedSBox sBox;
    if (ModuleCSP == nullptr || expected == nullptr || (pin == nullptr && length != 0) || !DefaultSBox(&sBox))
        return false;
    std::uint8_t copy[32];
    std::memcpy(copy, expected, sizeof(copy));
    const bool same = ModuleCSP->CompareHashGOST34311(pin, length, &sBox, ZeroStartVector, copy) == CSP_OK;
    qvkcrypto::SecureWipe(copy, sizeof(copy));
    return same;
}
