// DSA and DH entries of the stand-in cgintl.so over OpenSSL. The domain record
// holds p, q and g of 400 bytes each; keys are 400 bytes; a DSA signature is r
// and s of 32 bytes each (subgroups up to 256 bits).
#include <openssl/dsa.h>

#include <new>

#include "cgintlCommon.h"

using cgintl::Number;

namespace {

constexpr std::uint32_t kNumber = CSPI_DOMAIN_NUMBER_BYTES;
constexpr std::uint32_t kHalfSignature = CSPI_DSA_SIGNATURE_BYTES / 2;
static_assert(CSPI_DSA_SIGNATURE_BYTES == 2 * kHalfSignature);

struct Domain {
    Number p, q, g;
    // The record's sizes match the numbers; with `full`, the group is checked
    // too (primes, q dividing p - 1, g of order q).
    bool Load(const std::uint8_t* record, bool full)
    {
        std::uint32_t pBits = cgintl::LoadLE32(record + CSPI_DOMAIN_MODULUS_BITS);
        std::uint32_t qBits = cgintl::LoadLE32(record + CSPI_DOMAIN_SUBGROUP_BITS);
        if (!p.Load(record + CSPI_DOMAIN_P, kNumber) || !q.Load(record + CSPI_DOMAIN_Q, kNumber) ||
            !g.Load(record + CSPI_DOMAIN_G, kNumber))
            return false;
        if (pBits < 512 || pBits > 3072 || qBits < 160 || qBits > 256 ||
            static_cast<std::uint32_t>(p.Bits()) != pBits || static_cast<std::uint32_t>(q.Bits()) != qBits ||
            BN_cmp(g.get(), BN_value_one()) <= 0 || BN_cmp(g.get(), p.get()) >= 0)
            return false;
        BN_CTX* ctx = BN_CTX_new();
        Number t;
        bool ok = ctx != nullptr && BN_mod_exp(t.get(), g.get(), q.get(), p.get(), ctx) == 1 && BN_is_one(t.get());
        if (ok && full) {
            Number p1, r;
            ok = BN_check_prime(p.get(), ctx, nullptr) == 1 && BN_check_prime(q.get(), ctx, nullptr) == 1 &&
                 BN_sub(p1.get(), p.get(), BN_value_one()) == 1 &&
                 BN_div(nullptr, r.get(), p1.get(), q.get(), ctx) == 1 && BN_is_zero(r.get());
        }
        BN_CTX_free(ctx);
        return ok;
    }
};

struct DSAState : cgintl::SignedHash<kHalfSignature> {
    bool checking = false;
    bool hasDomain = false;
    Domain domain;
    Number x, y;
    bool hasPrivate = false;
    bool hasPublic = false;
};

DSAState* StateOf(CSPIState s)
{
    return static_cast<DSAState*>(s);
}

bool PublicFromPrivate(DSAState* s)
{
    BN_CTX* ctx = BN_CTX_new();
    bool ok = ctx != nullptr && BN_mod_exp(s->y.get(), s->domain.g.get(), s->x.get(), s->domain.p.get(), ctx) == 1;
    BN_CTX_free(ctx);
    s->hasPublic = ok;
    return ok;
}

DSA* BuildKey(DSAState* s, bool withPrivate)
{
    DSA* dsa = DSA_new();
    if (dsa == nullptr) return nullptr;
    BIGNUM* p = BN_dup(s->domain.p.get());
    BIGNUM* q = BN_dup(s->domain.q.get());
    BIGNUM* g = BN_dup(s->domain.g.get());
    BIGNUM* y = BN_dup(s->y.get());
    BIGNUM* x = withPrivate ? BN_dup(s->x.get()) : nullptr;
    if (DSA_set0_pqg(dsa, p, q, g) != 1 || DSA_set0_key(dsa, y, x) != 1) {
        DSA_free(dsa);
        return nullptr;
    }
    return dsa;
}

}  // namespace

CG_EXPORT int DSASelfTest(void)
{
    return 1;
}
CGI_SHAPE(DSASelfTest, CSPISelfTestFn);

CG_EXPORT CSPIState DSAAcquireState(int checking)
{
    DSAState* s = new (std::nothrow) DSAState();
    if (s != nullptr) s->checking = checking != 0;
    return s;
}
CGI_SHAPE(DSAAcquireState, CSPIAcquireStateFn);

CG_EXPORT int DSAReleaseState(CSPIState state)
{
    delete StateOf(state);
    return 1;
}
CGI_SHAPE(DSAReleaseState, CSPIReleaseStateFn);

CG_EXPORT int DSASetStateParameters(CSPIState state, const void* value, std::uint32_t code)
{
    DSAState* s = StateOf(state);
    if (s == nullptr || value == nullptr) return 0;
    const auto* bytes = static_cast<const std::uint8_t*>(value);
    switch (code) {
    case CSPI_DSA_DOMAIN:
        s->hasDomain = s->domain.Load(bytes, s->checking);
        return s->hasDomain ? 1 : 0;
    case CSPI_DSA_PRIVATE_KEY:
        if (!s->hasDomain || !s->x.Load(bytes, kNumber) || BN_is_zero(s->x.get()) ||
            BN_cmp(s->x.get(), s->domain.q.get()) >= 0)
            return 0;
        s->hasPrivate = true;
        return PublicFromPrivate(s) ? 1 : 0;
    case CSPI_DSA_PUBLIC_KEY: {
        Number y;
        if (!s->hasDomain || !y.Load(bytes, kNumber) || BN_cmp(y.get(), BN_value_one()) <= 0 ||
            BN_cmp(y.get(), s->domain.p.get()) >= 0)
            return 0;
        if (s->hasPrivate) return BN_cmp(y.get(), s->y.get()) == 0 ? 1 : 0;
        BN_CTX* ctx = BN_CTX_new();
        Number t;
        bool ok = ctx != nullptr && BN_mod_exp(t.get(), y.get(), s->domain.q.get(), s->domain.p.get(), ctx) == 1 &&
                  BN_is_one(t.get()) && BN_copy(s->y.get(), y.get()) != nullptr;
        BN_CTX_free(ctx);
        s->hasPublic = ok;
        return ok ? 1 : 0;
    }
    case CSPI_DSA_PRNG:
        return 1;
    case CSPI_DSA_SIGNATURE:
        return s->SetSignature(bytes);
    case CSPI_DSA_HASH_LENGTH:
        return s->SetHashLength(value);
    case CSPI_DSA_HASH:
        return s->SetHash(bytes);
    default:
        return 0;
    }
}
CGI_SHAPE(DSASetStateParameters, CSPISetStateParametersFn);

CG_EXPORT int DSAGetStateParameters(CSPIState state, void* buffer, std::uint32_t code)
{
    DSAState* s = StateOf(state);
    if (s == nullptr || buffer == nullptr) return 0;
    auto* out = static_cast<std::uint8_t*>(buffer);
    switch (code) {
    case CSPI_DSA_PRIVATE_KEY:
        return s->hasPrivate && s->x.Store(out, kNumber) ? 1 : 0;
    case CSPI_DSA_PUBLIC_KEY:
        return s->hasPublic && s->y.Store(out, kNumber) ? 1 : 0;
    case CSPI_DSA_SIGNATURE:
        return s->GetSignature(out);
    default:
        return 0;
    }
}
CGI_SHAPE(DSAGetStateParameters, CSPIGetStateParametersFn);

CG_EXPORT int DSAGenerateParameters(CSPIState state, std::uint32_t mode)
{
    DSAState* s = StateOf(state);
    if (s == nullptr || !s->hasDomain) return 0;
    switch (mode) {
    case CSPI_DSA_GENERATE_KEY_PAIR:
        do {
            if (BN_rand_range(s->x.get(), s->domain.q.get()) != 1) return 0;
        } while (BN_is_zero(s->x.get()));
        s->hasPrivate = true;
        return PublicFromPrivate(s) ? 1 : 0;
    case CSPI_DSA_PREPARE_SIGNATURE:
        return s->hasPrivate ? 1 : 0;
    case CSPI_DSA_PUBLIC_FROM_PRIVATE:
        return s->hasPrivate && PublicFromPrivate(s) ? 1 : 0;
    default:
        return 0;
    }
}
CGI_SHAPE(DSAGenerateParameters, CSPIGenerateParametersFn);

CG_EXPORT int DSASignHash(CSPIState state)
{
    DSAState* s = StateOf(state);
    if (s == nullptr || !s->hasPrivate || !s->hasHash) return 0;
    DSA* dsa = BuildKey(s, true);
    if (dsa == nullptr) return 0;
    DSA_SIG* sig = DSA_do_sign(s->hash, static_cast<int>(s->hashLength), dsa);
    DSA_free(dsa);
    if (sig == nullptr) return 0;
    const BIGNUM* r = nullptr;
    const BIGNUM* sv = nullptr;
    DSA_SIG_get0(sig, &r, &sv);
    int kept = s->Keep(r, sv);
    DSA_SIG_free(sig);
    return kept;
}
CGI_SHAPE(DSASignHash, CSPIStateOperationFn);

CG_EXPORT int DSAVerifySignature(CSPIState state)
{
    DSAState* s = StateOf(state);
    if (s == nullptr || !s->hasPublic || !s->hasHash || !s->hasSignature) return 0;
    DSA* dsa = BuildKey(s, false);
    DSA_SIG* sig = DSA_SIG_new();
    bool ok = dsa != nullptr && s->Fill(sig, DSA_SIG_set0) &&
              DSA_do_verify(s->hash, static_cast<int>(s->hashLength), sig, dsa) == 1;
    DSA_SIG_free(sig);
    DSA_free(dsa);
    return ok ? 1 : 0;
}
CGI_SHAPE(DSAVerifySignature, CSPIStateOperationFn);

CG_EXPORT int DHSelfTest(void)
{
    return 1;
}
CGI_SHAPE(DHSelfTest, CSPISelfTestFn);

// z = y^x mod p over the group of the domain record; the peer's value must lie
// in the subgroup of order q.
CG_EXPORT int DHCalculateSharedSecret(const std::uint8_t* domain, const std::uint8_t* privateKey,
                                      const std::uint8_t* peerPublicKey, std::uint8_t* secret)
{
    if (domain == nullptr || privateKey == nullptr || peerPublicKey == nullptr || secret == nullptr) return 0;
    Domain d;
    Number x, y, z, t;
    if (!d.Load(domain, false) || !x.Load(privateKey, kNumber) || !y.Load(peerPublicKey, kNumber) ||
        BN_is_zero(x.get()) || BN_cmp(x.get(), d.q.get()) >= 0 || BN_cmp(y.get(), BN_value_one()) <= 0 ||
        BN_cmp(y.get(), d.p.get()) >= 0)
        return 0;
    BN_CTX* ctx = BN_CTX_new();
    bool ok = ctx != nullptr && BN_mod_exp(t.get(), y.get(), d.q.get(), d.p.get(), ctx) == 1 && BN_is_one(t.get()) &&
              BN_mod_exp(z.get(), y.get(), x.get(), d.p.get(), ctx) == 1 && z.Store(secret, kNumber);
    BN_CTX_free(ctx);
    return ok ? 1 : 0;
}
CGI_SHAPE(DHCalculateSharedSecret, CSPIDHSharedSecretFn);
