#include "pkiformats/ContextHolders.h"

#include <cstring>

namespace {

bool ContextSet(const CSPContext& c)
{
    return c.rng || c.hardware || c.prng;
}

// Fills the holder's context from the key object's context interface, the
// common part of both holders. Kinds: 4215 (operations 4 and 5) for the CSP,
// 4230 (8 and 9) for the CSPI.
template <typename Holder, typename KeyContext>
void FromKeyObject(Holder* h, IPKIObject* keyObject, std::uint32_t interfaceId, std::uint32_t fallback,
                   CSPHandle defaultPrng)
{
    void* queried = nullptr;
    if (!keyObject || keyObject->QueryInterface(interfaceId, &queried) != 0 || !queried) {
        h->usable = 1;
        h->contextPresent = fallback;
        if (fallback) {
            h->context = CSPContext{nullptr, nullptr, defaultPrng};
            h->contextFlags = 4;
        }
        return;
    }
    auto* keyContext = static_cast<KeyContext*>(queried);
    h->contextInterface = keyContext;
    try {
        h->contextFlags = keyContext->GetContextFlags() & 7;
        h->context = CSPContext{};
        if (keyContext->GetContext(&h->context, h->contextFlags) != 0) {
            h->contextInterface = nullptr;
            keyContext->Release();
            return;
        }
    } catch (...) {
        h->contextInterface = nullptr;
        keyContext->Release();
        throw;
    }
    h->usable = 1;
    h->contextPresent = 1;
    if (fallback && !ContextSet(h->context)) {
        h->contextInterface = nullptr;
        keyContext->Release();
        h->context = CSPContext{nullptr, nullptr, defaultPrng};
        h->contextFlags = 4;
    }
}

template <typename Holder>
void Clear(Holder* h, std::uint32_t useOwnContext)
{
    h->usable = 0;
    h->useOwnContext = useOwnContext;
    h->contextPresent = 0;
    h->contextFlags = 0;
    h->context = CSPContext{};
    h->contextInterface = nullptr;
}

// 0: the context form; 1: the plain form; -1: no call (CSP_NO_OBJECT).
template <typename Holder>
int Route(const Holder* h)
{
    if (!h || !h->usable) return -1;
    if (h->contextPresent && ContextSet(h->context)) return 0;
    return h->useOwnContext ? 1 : -1;
}

template <typename Holder>
void Release(Holder* h)
{
    if (h && h->usable && h->contextPresent && h->contextInterface) {
        IPKIObject* o = h->contextInterface;
        h->contextInterface = nullptr;
        o->Release();
    }
}

}  // namespace

void InitCSPContextHolder(CSPContextHolder* holder, CSP* csp, IPKIObject* keyObject, std::uint32_t useOwnContext,
                          std::uint32_t fallback)
{
    Clear(holder, useOwnContext);
    holder->csp = csp;
    if (!csp) return;
    // An initialised CSP answers this probe with 0 and generates nothing;
    // any other answer leaves it to build its own context on every call.
    DSTU4145FieldRecord field{};
    DSTU4145PointRecord point{};
    point.words[38] = 13;
    if (csp->GenerateSignatureKeyPairDSTU4145(&field, &point, nullptr, nullptr) != 0) {
        holder->usable = 1;
        return;
    }
    FromKeyObject<CSPContextHolder, IPKIKeyContextDSTU4145>(holder, keyObject, PKI_IID_KEY_CONTEXT_DSTU4145, fallback,
                                                            csp->DefaultPRNG());
}

void InitCSPIContextHolder(CSPIContextHolder* holder, CSPI* cspi, IPKIObject* keyObject, std::uint32_t useOwnContext,
                           std::uint32_t fallback)
{
    Clear(holder, useOwnContext);
    holder->cspi = cspi;
    if (!cspi) return;
    const std::uint32_t parameters[2] = {6, 0};
    if (cspi->GenerateKeyPairRSA(reinterpret_cast<const std::uint8_t*>(parameters), nullptr, nullptr) != 0) {
        holder->usable = 1;
        return;
    }
    FromKeyObject<CSPIContextHolder, IPKIKeyContextIntl>(holder, keyObject, PKI_IID_KEY_CONTEXT_INTL, fallback,
                                                         cspi->DefaultPRNG());
}

void ReleaseContextHolder(CSPContextHolder* holder)
{
    Release(holder);
}

void ReleaseContextHolder(CSPIContextHolder* holder)
{
    Release(holder);
}

int CheckSignatureKeyPair(CSPContextHolder* h, const DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                          const std::uint8_t* privateKey, const std::uint8_t* publicKey)
{
    switch (Route(h)) {
    case 0:
        return h->csp->CheckSignatureKeyPairDSTU4145Ctx(&h->context, field, point, privateKey, publicKey);
    case 1:
        return h->csp->CheckSignatureKeyPairDSTU4145(field, point, privateKey, publicKey);
    default:
        return CSP_NO_OBJECT;
    }
}

int CheckAgreementKeyPair(CSPContextHolder* h, const DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                          const std::uint8_t* privateKey, const std::uint8_t* publicKey)
{
    switch (Route(h)) {
    case 0:
        return h->csp->CheckAgreementKeyPairDSTU4145Ctx(&h->context, field, point, privateKey, publicKey);
    case 1:
        return h->csp->CheckAgreementKeyPairDSTU4145(field, point, privateKey, publicKey);
    default:
        return CSP_NO_OBJECT;
    }
}

int SignHashWithHolder(CSPContextHolder* h, std::uint32_t hashLength, const std::uint8_t* hash,
                       const DSTU4145FieldRecord* field, DSTU4145PointRecord* point, const std::uint8_t* privateKey,
                       std::uint8_t* signature)
{
    switch (Route(h)) {
    case 0:
        return h->csp->SignHashDSTU4145ExCtx(&h->context, hashLength, hash, field, point, privateKey, signature);
    case 1:
        return h->csp->SignHashDSTU4145Ex(hashLength, hash, field, point, privateKey, signature);
    default:
        return CSP_NO_OBJECT;
    }
}

int CheckKeyPairRSAWithHolder(CSPIContextHolder* h, const std::uint8_t* keyParameters, const std::uint8_t* privateKey,
                              const std::uint8_t* publicKey)
{
    switch (Route(h)) {
    case 0:
        return h->cspi->CheckKeyPairRSACtx(&h->context, keyParameters, privateKey, publicKey);
    case 1:
        return h->cspi->CheckKeyPairRSA(keyParameters, privateKey, publicKey);
    default:
        return CSP_NO_OBJECT;
    }
}

int CheckKeyPairECDSAWithHolder(CSPIContextHolder* h, const std::uint8_t* curve, const std::uint8_t* privateKey,
                                const std::uint8_t* publicKey)
{
    switch (Route(h)) {
    case 0:
        return h->cspi->CheckKeyPairECDSACtx(&h->context, curve, privateKey, publicKey);
    case 1:
        return h->cspi->CheckKeyPairECDSA(curve, privateKey, publicKey);
    default:
        return CSP_NO_OBJECT;
    }
}

int SignHashPlainWithHolder(CSPContextHolder* h, const std::uint8_t* hash, const DSTU4145FieldRecord* field,
                            DSTU4145PointRecord* point, const std::uint8_t* privateKey, std::uint8_t* signature)
{
    switch (Route(h)) {
    case 0:
        return h->csp->SignHashDSTU4145Ctx(&h->context, hash, field, point, privateKey, signature);
    case 1:
        return h->csp->SignHashDSTU4145(hash, field, point, privateKey, signature);
    default:
        return CSP_NO_OBJECT;
    }
}

int PublicKeyWithHolder(CSPContextHolder* h, bool agreement, const DSTU4145FieldRecord* field,
                        DSTU4145PointRecord* point, const std::uint8_t* privateKey, std::uint8_t* publicKey)
{
    switch (Route(h)) {
    case 0:
        return agreement ? h->csp->GetAgreementPublicKeyDSTU4145Ctx(&h->context, field, point, privateKey, publicKey)
                         : h->csp->GetSignaturePublicKeyDSTU4145Ctx(&h->context, field, point, privateKey, publicKey);
    case 1:
        return agreement ? h->csp->GetAgreementPublicKeyDSTU4145(field, point, privateKey, publicKey)
                         : h->csp->GetSignaturePublicKeyDSTU4145(field, point, privateKey, publicKey);
    default:
        return CSP_NO_OBJECT;
    }
}

int PublicKeyRSAWithHolder(CSPIContextHolder* h, const std::uint8_t* keyParameters, const std::uint8_t* privateKey,
                           std::uint8_t* record)
{
    switch (Route(h)) {
    case 0:
        return h->cspi->GenerateHardwareKeyPairRSACtx(&h->context, keyParameters, privateKey, record);
    case 1:
        return h->cspi->GenerateHardwareKeyPairRSA(keyParameters, privateKey, record);
    default:
        return CSP_NO_OBJECT;
    }
}

int PublicKeyECDSAWithHolder(CSPIContextHolder* h, const std::uint8_t* curve, const std::uint8_t* privateKey,
                             std::uint8_t* publicKey)
{
    switch (Route(h)) {
    case 0:
        return h->cspi->GenerateHardwareKeyPairECDSACtx(&h->context, curve, privateKey, publicKey);
    case 1:
        return h->cspi->GenerateHardwareKeyPairECDSA(curve, privateKey, publicKey);
    default:
        return CSP_NO_OBJECT;
    }
}
