// ECDSA and ECDH entries of the stand-in cgintl.so over OpenSSL, on prime
// curves built from the CSPI's 540-byte curve entries. Private keys are 76
// bytes, public keys the uncompressed point in 152 bytes, signatures r and s
// of 76 bytes each.
#include <openssl/ec.h>
#include <openssl/ecdsa.h>

#include <new>

#include "cgintlCommon.h"

using cgintl::Number;

namespace {

constexpr std::uint32_t kNumber = CSPI_EC_NUMBER_BYTES;
static_assert(CSPI_EC_SIGNATURE_BYTES == 2 * kNumber);
constexpr std::uint32_t kPoint = CSPI_EC_POINT_BYTES;

// A curve of a curve entry, with `basePoint` (152 bytes) as its generator.
EC_GROUP* BuildGroup(const std::uint8_t* entry, const std::uint8_t* basePoint, bool check)
{
    std::uint32_t bits = static_cast<std::uint32_t>(entry[0]) | (static_cast<std::uint32_t>(entry[1]) << 8);
    std::uint32_t type = static_cast<std::uint32_t>(entry[2]) | (static_cast<std::uint32_t>(entry[3]) << 8);
    if (bits < 160 || bits > 521 || type != 1) return nullptr;
    Number p, a, b, n;
    if (!p.Load(entry + CSPI_CURVE_P, kNumber) || !a.Load(entry + CSPI_CURVE_A, kNumber) ||
        !b.Load(entry + CSPI_CURVE_B, kNumber) || !n.Load(entry + CSPI_CURVE_N, kNumber) ||
        static_cast<std::uint32_t>(p.Bits()) != bits || !BN_is_odd(p.get()))
        return nullptr;
    std::size_t coordinate = (bits + 7) / 8;
    std::size_t pointLength = 2 * coordinate + 1;
    const std::uint8_t* encoded = basePoint + (kPoint - pointLength);
    for (const std::uint8_t* z = basePoint; z < encoded; ++z) {
        if (*z != 0) return nullptr;
    }
    BN_CTX* ctx = BN_CTX_new();
    EC_GROUP* group = ctx != nullptr ? EC_GROUP_new_curve_GFp(p.get(), a.get(), b.get(), ctx) : nullptr;
    EC_POINT* g = group != nullptr ? EC_POINT_new(group) : nullptr;
    bool ok = g != nullptr && encoded[0] == 0x04 && EC_POINT_oct2point(group, g, encoded, pointLength, ctx) == 1 &&
              EC_GROUP_set_generator(group, g, n.get(), BN_value_one()) == 1;
    if (ok && check)
        ok = BN_check_prime(p.get(), ctx, nullptr) == 1 && BN_check_prime(n.get(), ctx, nullptr) == 1 &&
             EC_GROUP_check(group, ctx) == 1;
    EC_POINT_free(g);
    BN_CTX_free(ctx);
    if (!ok) {
        EC_GROUP_free(group);
        return nullptr;
    }
    return group;
}

std::size_t CoordinateBytes(const EC_GROUP* group)
{
    return (EC_GROUP_get_degree(group) + 7) / 8;
}

// A point of the curve other than infinity, right-aligned in 152 bytes.
EC_POINT* LoadPoint(const EC_GROUP* group, const std::uint8_t* bytes)
{
    std::size_t pointLength = 2 * CoordinateBytes(group) + 1;
    const std::uint8_t* encoded = bytes + (kPoint - pointLength);
    for (const std::uint8_t* z = bytes; z < encoded; ++z) {
        if (*z != 0) return nullptr;
    }
    EC_POINT* point = EC_POINT_new(group);
    if (point == nullptr || encoded[0] != 0x04 ||
        EC_POINT_oct2point(group, point, encoded, pointLength, nullptr) != 1 ||
        EC_POINT_is_at_infinity(group, point) == 1) {
        EC_POINT_free(point);
        return nullptr;
    }
    return point;
}

bool StorePoint(const EC_GROUP* group, const EC_POINT* point, std::uint8_t* out)
{
    std::size_t pointLength = 2 * CoordinateBytes(group) + 1;
    std::memset(out, 0, kPoint);
    return EC_POINT_point2oct(group, point, POINT_CONVERSION_UNCOMPRESSED, out + (kPoint - pointLength), pointLength,
                              nullptr) == pointLength;
}

struct ECState : cgintl::SignedHash<kNumber> {
    bool checking = false;
    EC_GROUP* group = nullptr;
    Number d;
    EC_POINT* q = nullptr;
    bool hasPrivate = false;
    ~ECState()
    {
        EC_POINT_free(q);
        EC_GROUP_free(group);
    }
};

ECState* StateOf(CSPIState s)
{
    return static_cast<ECState*>(s);
}

bool ComputePublic(ECState* s)
{
    EC_POINT* q = EC_POINT_new(s->group);
    if (q == nullptr || EC_POINT_mul(s->group, q, s->d.get(), nullptr, nullptr, nullptr) != 1) {
        EC_POINT_free(q);
        return false;
    }
    EC_POINT_free(s->q);
    s->q = q;
    return true;
}

EC_KEY* BuildKey(ECState* s, bool withPrivate)
{
    EC_KEY* key = EC_KEY_new();
    bool ok = key != nullptr && EC_KEY_set_group(key, s->group) == 1 && EC_KEY_set_public_key(key, s->q) == 1 &&
              (!withPrivate || EC_KEY_set_private_key(key, s->d.get()) == 1);
    if (!ok) {
        EC_KEY_free(key);
        return nullptr;
    }
    return key;
}

}  // namespace

CG_EXPORT int ECDSASelfTest(void)
{
    return 1;
}
CGI_SHAPE(ECDSASelfTest, CSPISelfTestFn);

CG_EXPORT int ECDSATestOnStandartParameters(void)
{
    return 1;
}
CGI_SHAPE(ECDSATestOnStandartParameters, CSPISelfTestFn);

CG_EXPORT CSPIState ECDSAAcquireState(int checking)
{
    ECState* s = new (std::nothrow) ECState();
    if (s != nullptr) s->checking = checking != 0;
    return s;
}
CGI_SHAPE(ECDSAAcquireState, CSPIAcquireStateFn);

CG_EXPORT int ECDSAReleaseState(CSPIState state)
{
    delete StateOf(state);
    return 1;
}
CGI_SHAPE(ECDSAReleaseState, CSPIReleaseStateFn);

CG_EXPORT int ECDSASetStateParameters(CSPIState state, const void* value, std::uint32_t code)
{
    ECState* s = StateOf(state);
    if (s == nullptr || value == nullptr) return 0;
    const auto* bytes = static_cast<const std::uint8_t*>(value);
    switch (code) {
    case CSPI_ECDSA_CURVE: {
        EC_GROUP* group = BuildGroup(bytes, bytes + CSPI_CURVE_G, s->checking);
        if (group == nullptr) return 0;
        EC_GROUP_free(s->group);
        s->group = group;
        return 1;
    }
    case CSPI_ECDSA_PRIVATE_KEY:
        if (s->group == nullptr || !s->d.Load(bytes, kNumber) || BN_is_zero(s->d.get()) ||
            BN_cmp(s->d.get(), EC_GROUP_get0_order(s->group)) >= 0)
            return 0;
        s->hasPrivate = true;
        return ComputePublic(s) ? 1 : 0;
    case CSPI_ECDSA_PUBLIC_KEY: {
        if (s->group == nullptr) return 0;
        EC_POINT* q = LoadPoint(s->group, bytes);
        if (q == nullptr) return 0;
        if (s->hasPrivate) {
            bool same = EC_POINT_cmp(s->group, q, s->q, nullptr) == 0;
            EC_POINT_free(q);
            return same ? 1 : 0;
        }
        EC_POINT_free(s->q);
        s->q = q;
        return 1;
    }
    case CSPI_ECDSA_PRNG:
    case CSPI_ECDSA_RANDOM_NONCE:
        return 1;
    case CSPI_ECDSA_SIGNATURE:
        return s->SetSignature(bytes);
    case CSPI_ECDSA_HASH_LENGTH:
        return s->SetHashLength(value);
    case CSPI_ECDSA_HASH:
        return s->SetHash(bytes);
    default:
        return 0;
    }
}
CGI_SHAPE(ECDSASetStateParameters, CSPISetStateParametersFn);

CG_EXPORT int ECDSAGetStateParameters(CSPIState state, void* buffer, std::uint32_t code)
{
    ECState* s = StateOf(state);
    if (s == nullptr || buffer == nullptr) return 0;
    auto* out = static_cast<std::uint8_t*>(buffer);
    switch (code) {
    case CSPI_ECDSA_PRIVATE_KEY:
        return s->hasPrivate && s->d.Store(out, kNumber) ? 1 : 0;
    case CSPI_ECDSA_PUBLIC_KEY:
        return s->q != nullptr && StorePoint(s->group, s->q, out) ? 1 : 0;
    case CSPI_ECDSA_SIGNATURE:
        return s->GetSignature(out);
    default:
        return 0;
    }
}
CGI_SHAPE(ECDSAGetStateParameters, CSPIGetStateParametersFn);

CG_EXPORT int ECDSAGenerateParameters(CSPIState state, std::uint32_t mode)
{
    ECState* s = StateOf(state);
    if (s == nullptr || s->group == nullptr) return 0;
    if (mode == CSPI_ECDSA_GENERATE_PRIVATE) {
        do {
            if (BN_rand_range(s->d.get(), EC_GROUP_get0_order(s->group)) != 1) return 0;
        } while (BN_is_zero(s->d.get()));
        s->hasPrivate = true;
        return 1;
    }
    if (mode == CSPI_ECDSA_PUBLIC_FROM_PRIVATE) return s->hasPrivate && ComputePublic(s) ? 1 : 0;
    return 0;
}
CGI_SHAPE(ECDSAGenerateParameters, CSPIGenerateParametersFn);

CG_EXPORT int ECDSASignHash(CSPIState state)
{
    ECState* s = StateOf(state);
    if (s == nullptr || !s->hasPrivate || !s->hasHash) return 0;
    EC_KEY* key = BuildKey(s, true);
    if (key == nullptr) return 0;
    ECDSA_SIG* sig = ECDSA_do_sign(s->hash, static_cast<int>(s->hashLength), key);
    EC_KEY_free(key);
    if (sig == nullptr) return 0;
    const BIGNUM* r = nullptr;
    const BIGNUM* sv = nullptr;
    ECDSA_SIG_get0(sig, &r, &sv);
    int kept = s->Keep(r, sv);
    ECDSA_SIG_free(sig);
    return kept;
}
CGI_SHAPE(ECDSASignHash, CSPIStateOperationFn);

CG_EXPORT int ECDSAVerifySignature(CSPIState state)
{
    ECState* s = StateOf(state);
    if (s == nullptr || s->q == nullptr || !s->hasHash || !s->hasSignature) return 0;
    EC_KEY* key = BuildKey(s, false);
    ECDSA_SIG* sig = ECDSA_SIG_new();
    bool ok = key != nullptr && s->Fill(sig, ECDSA_SIG_set0) &&
              ECDSA_do_verify(s->hash, static_cast<int>(s->hashLength), sig, key) == 1;
    ECDSA_SIG_free(sig);
    EC_KEY_free(key);
    return ok ? 1 : 0;
}
CGI_SHAPE(ECDSAVerifySignature, CSPIStateOperationFn);

CG_EXPORT int ECDHSelfTest(void)
{
    return 1;
}
CGI_SHAPE(ECDHSelfTest, CSPISelfTestFn);

// The x coordinate of d Q, field size in bytes.
CG_EXPORT int ECDHCalculateSharedSecret(const std::uint8_t* curve, const std::uint8_t* basePoint,
                                        const std::uint8_t* privateKey, const std::uint8_t* peerPublicKey,
                                        std::uint8_t* secret)
{
    if (curve == nullptr || basePoint == nullptr || privateKey == nullptr || peerPublicKey == nullptr ||
        secret == nullptr)
        return 0;
    EC_GROUP* group = BuildGroup(curve, basePoint, false);
    if (group == nullptr) return 0;
    Number d, x;
    EC_POINT* q = LoadPoint(group, peerPublicKey);
    EC_POINT* z = EC_POINT_new(group);
    bool ok = q != nullptr && z != nullptr && d.Load(privateKey, kNumber) && !BN_is_zero(d.get()) &&
              BN_cmp(d.get(), EC_GROUP_get0_order(group)) < 0 &&
              EC_POINT_mul(group, z, nullptr, q, d.get(), nullptr) == 1 && EC_POINT_is_at_infinity(group, z) != 1 &&
              EC_POINT_get_affine_coordinates(group, z, x.get(), nullptr, nullptr) == 1 &&
              x.Store(secret, CoordinateBytes(group));
    EC_POINT_free(q);
    EC_POINT_clear_free(z);
    EC_GROUP_free(group);
    return ok ? 1 : 0;
}
CGI_SHAPE(ECDHCalculateSharedSecret, CSPIECDHSharedSecretFn);
