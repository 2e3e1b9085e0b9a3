// RSA entries of the stand-in cgintl.so over OpenSSL. Records as
// CSPIFunctions.h lays them out; PKCS#1 v1.5 signatures, PSS with scheme 21,
// PKCS#1 v1.5 encryption, and decryption by mode (0 PKCS#1 v1.5, 1 OAEP, 2
// none).
#include <openssl/rsa.h>

#include <new>
#include <vector>

#include "cgintlCommon.h"

using cgintl::Number;

namespace {

constexpr std::uint32_t kModulusOffset = 4;
constexpr std::uint32_t kModulusBytes = 512;
constexpr std::uint32_t kExponentOffset = kModulusOffset + kModulusBytes;
constexpr std::uint32_t kExponentBytes = 84;
constexpr std::uint32_t kHalf = CSPI_RSA_PRIVATE_KEY_BYTES / 2;
constexpr std::uint32_t kPrimeBytes = 256;

struct RSAState {
    bool checking = false;
    bool pss = false;
    std::uint32_t keyBits = 0;
    std::uint32_t hashBits = 0;
    RSA* key = nullptr;  // public part always, private part when set
    bool hasPrivate = false;
    std::uint8_t privateRecord[CSPI_RSA_PRIVATE_KEY_BYTES] = {};
    std::uint8_t hash[64] = {};
    bool hasHash = false;
    std::vector<std::uint8_t> signature;
    ~RSAState()
    {
        RSA_free(key);
        OPENSSL_cleanse(privateRecord, sizeof(privateRecord));
    }
};

RSAState* StateOf(CSPIState s)
{
    return static_cast<RSAState*>(s);
}

std::uint32_t KeyBytes(const RSAState* s)
{
    return s->keyBits / 8;
}

bool ValidProfile(std::uint32_t keyBits, std::uint32_t hashBits)
{
    return keyBits >= 1024 && keyBits <= 4096 && keyBits % 8 == 0 && cgintl::DigestOfBits(hashBits) != nullptr;
}

void StorePublic(const RSA* rsa, std::uint32_t keyBits, std::uint8_t* out)
{
    std::memset(out, 0, CSPI_RSA_PUBLIC_KEY_BYTES);
    cgintl::StoreLE32(out, keyBits);
    BN_bn2binpad(RSA_get0_n(rsa), out + kModulusOffset, kModulusBytes);
    BN_bn2binpad(RSA_get0_e(rsa), out + kExponentOffset, kExponentBytes);
}

// A public key of the profile's size.
RSA* LoadPublic(const std::uint8_t* record, std::uint32_t keyBits)
{
    if (cgintl::LoadLE32(record) != keyBits)
        return nullptr;
    BIGNUM* n = BN_bin2bn(record + kModulusOffset, kModulusBytes, nullptr);
    BIGNUM* e = BN_bin2bn(record + kExponentOffset, kExponentBytes, nullptr);
    RSA* rsa = RSA_new();
    if (n == nullptr || e == nullptr || rsa == nullptr || static_cast<std::uint32_t>(BN_num_bits(n)) != keyBits ||
        !BN_is_odd(e) || BN_is_one(e) || RSA_set0_key(rsa, n, e, nullptr) != 1) {
        BN_free(n);
        BN_free(e);
        RSA_free(rsa);
        return nullptr;
    }
    return rsa;
}

// The full key from the public half and the primes; d and the CRT values are
// derived.
RSA* LoadPrivate(const std::uint8_t* record, std::uint32_t keyBits)
{
    RSA* rsa = LoadPublic(record, keyBits);
    if (rsa == nullptr)
        return nullptr;
    BN_CTX* ctx = BN_CTX_new();
    BIGNUM* p = BN_bin2bn(record + kHalf, kPrimeBytes, nullptr);
    BIGNUM* q = BN_bin2bn(record + kHalf + kPrimeBytes, kPrimeBytes, nullptr);
    BIGNUM* d = BN_new();
    BIGNUM* dp = BN_new();
    BIGNUM* dq = BN_new();
    BIGNUM* qinv = BN_new();
    BIGNUM* p1 = BN_new();
    BIGNUM* q1 = BN_new();
    BIGNUM* lcm = BN_new();
    BIGNUM* gcd = BN_new();
    BIGNUM* product = BN_new();
    bool ok = ctx != nullptr && p != nullptr && q != nullptr && d != nullptr && dp != nullptr && dq != nullptr &&
              qinv != nullptr && p1 != nullptr && q1 != nullptr && lcm != nullptr && gcd != nullptr &&
              product != nullptr && BN_mul(product, p, q, ctx) == 1 && BN_cmp(product, RSA_get0_n(rsa)) == 0 &&
              BN_sub(p1, p, BN_value_one()) == 1 && BN_sub(q1, q, BN_value_one()) == 1 &&
              BN_gcd(gcd, p1, q1, ctx) == 1 && BN_mul(lcm, p1, q1, ctx) == 1 &&
              BN_div(lcm, nullptr, lcm, gcd, ctx) == 1 &&
              BN_mod_inverse(d, RSA_get0_e(rsa), lcm, ctx) != nullptr && BN_mod(dp, d, p1, ctx) == 1 &&
              BN_mod(dq, d, q1, ctx) == 1 && BN_mod_inverse(qinv, q, p, ctx) != nullptr;
    if (ok && RSA_set0_key(rsa, nullptr, nullptr, d) == 1) {
        d = nullptr;
        if (RSA_set0_factors(rsa, p, q) == 1) {
            p = q = nullptr;
            if (RSA_set0_crt_params(rsa, dp, dq, qinv) == 1)
                dp = dq = qinv = nullptr;
            else
                ok = false;
        } else {
            ok = false;
        }
    } else {
        ok = false;
    }
    BN_clear_free(p);
    BN_clear_free(q);
    BN_clear_free(d);
    BN_clear_free(dp);
    BN_clear_free(dq);
    BN_clear_free(qinv);
    BN_clear_free(p1);
    BN_clear_free(q1);
    BN_clear_free(lcm);
    BN_free(gcd);
    BN_free(product);
    BN_CTX_free(ctx);
    if (!ok) {
        RSA_free(rsa);
        return nullptr;
    }
    return rsa;
}

void StorePrivate(const RSA* rsa, std::uint32_t keyBits, std::uint8_t* out)
{
    std::memset(out, 0, CSPI_RSA_PRIVATE_KEY_BYTES);
    StorePublic(rsa, keyBits, out);
    BN_bn2binpad(RSA_get0_p(rsa), out + kHalf, kPrimeBytes);
    BN_bn2binpad(RSA_get0_q(rsa), out + kHalf + kPrimeBytes, kPrimeBytes);
}

int NidOfBits(std::uint32_t bits)
{
    return EVP_MD_get_type(cgintl::DigestOfBits(bits));
}

}  // namespace

CG_EXPORT int RSASelfTest(void)
{
    return 1;
}
CGI_SHAPE(RSASelfTest, CSPISelfTestFn);

CG_EXPORT CSPIState RSAAcquireState(int checking)
{
    RSAState* s = new (std::nothrow) RSAState();
    if (s != nullptr)
        s->checking = checking != 0;
    return s;
}
CGI_SHAPE(RSAAcquireState, CSPIAcquireStateFn);

CG_EXPORT int RSAReleaseState(CSPIState state)
{
    delete StateOf(state);
    return 1;
}
CGI_SHAPE(RSAReleaseState, CSPIReleaseStateFn);

CG_EXPORT int RSASetStateParameters(CSPIState state, const void* value, std::uint32_t code)
{
    RSAState* s = StateOf(state);
    if (s == nullptr || value == nullptr)
        return 0;
    const auto* bytes = static_cast<const std::uint8_t*>(value);
    switch (code) {
    case CSPI_RSA_KEY_PARAMETERS: {
        std::uint32_t keyBits = cgintl::LoadLE32(bytes);
        std::uint32_t hashBits = cgintl::LoadLE32(bytes + 4);
        if (!ValidProfile(keyBits, hashBits))
            return 0;
        s->keyBits = keyBits;
        s->hashBits = hashBits;
        return 1;
    }
    case CSPI_RSA_PRIVATE_KEY: {
        if (s->keyBits == 0)
            return 0;
        RSA* rsa = LoadPrivate(bytes, s->keyBits);
        if (rsa == nullptr)
            return 0;
        if (s->checking && RSA_check_key(rsa) != 1) {
            RSA_free(rsa);
            return 0;
        }
        RSA_free(s->key);
        s->key = rsa;
        s->hasPrivate = true;
        std::memcpy(s->privateRecord, bytes, CSPI_RSA_PRIVATE_KEY_BYTES);
        return 1;
    }
    case CSPI_RSA_PUBLIC_KEY: {
        if (s->keyBits == 0)
            return 0;
        RSA* rsa = LoadPublic(bytes, s->keyBits);
        if (rsa == nullptr)
            return 0;
        if (s->hasPrivate) {
            // A public key given beside the private one must be its own.
            bool same = BN_cmp(RSA_get0_n(rsa), RSA_get0_n(s->key)) == 0 &&
                        BN_cmp(RSA_get0_e(rsa), RSA_get0_e(s->key)) == 0;
            RSA_free(rsa);
            return same ? 1 : 0;
        }
        RSA_free(s->key);
        s->key = rsa;
        return 1;
    }
    case CSPI_RSA_PRNG:
        return 1;
    case CSPI_RSA_SIGNATURE:
        if (s->keyBits == 0)
            return 0;
        s->signature.assign(bytes, bytes + KeyBytes(s));
        return 1;
    case CSPI_RSA_HASH:
        if (s->hashBits == 0)
            return 0;
        std::memcpy(s->hash, bytes, s->hashBits / 8);
        s->hasHash = true;
        return 1;
    case CSPI_RSA_SCHEME: {
        std::uint32_t scheme = cgintl::Word(value);
        if (scheme != 0 && scheme != CSPI_RSA_SCHEME_PSS)
            return 0;
        s->pss = scheme == CSPI_RSA_SCHEME_PSS;
        return 1;
    }
    default:
        return 0;
    }
}
CGI_SHAPE(RSASetStateParameters, CSPISetStateParametersFn);

CG_EXPORT int RSAGetStateParameters(CSPIState state, void* buffer, std::uint32_t code)
{
    RSAState* s = StateOf(state);
    if (s == nullptr || buffer == nullptr)
        return 0;
    auto* out = static_cast<std::uint8_t*>(buffer);
    switch (code) {
    case CSPI_RSA_PRIVATE_KEY:
        if (!s->hasPrivate)
            return 0;
        std::memcpy(out, s->privateRecord, CSPI_RSA_PRIVATE_KEY_BYTES);
        return 1;
    case CSPI_RSA_PUBLIC_KEY:
        if (s->key == nullptr)
            return 0;
        StorePublic(s->key, s->keyBits, out);
        return 1;
    case CSPI_RSA_SIGNATURE:
        if (s->signature.empty())
            return 0;
        std::memcpy(out, s->signature.data(), s->signature.size());
        return 1;
    default:
        return 0;
    }
}
CGI_SHAPE(RSAGetStateParameters, CSPIGetStateParametersFn);

CG_EXPORT int RSAGenerateParameters(CSPIState state, std::uint32_t mode)
{
    RSAState* s = StateOf(state);
    if (s == nullptr || mode != CSPI_RSA_GENERATE_KEY_PAIR || s->keyBits == 0)
        return 0;
    RSA* rsa = RSA_new();
    BIGNUM* e = BN_new();
    bool ok = rsa != nullptr && e != nullptr && BN_set_word(e, RSA_F4) == 1 &&
              RSA_generate_key_ex(rsa, static_cast<int>(s->keyBits), e, nullptr) == 1;
    BN_free(e);
    if (!ok) {
        RSA_free(rsa);
        return 0;
    }
    RSA_free(s->key);
    s->key = rsa;
    s->hasPrivate = true;
    StorePrivate(rsa, s->keyBits, s->privateRecord);
    return 1;
}
CGI_SHAPE(RSAGenerateParameters, CSPIGenerateParametersFn);

CG_EXPORT int RSASignHash(CSPIState state)
{
    RSAState* s = StateOf(state);
    if (s == nullptr || !s->hasPrivate || !s->hasHash)
        return 0;
    std::vector<std::uint8_t> signature(RSA_size(s->key));
    const EVP_MD* md = cgintl::DigestOfBits(s->hashBits);
    if (s->pss) {
        std::vector<std::uint8_t> encoded(signature.size());
        if (RSA_padding_add_PKCS1_PSS(s->key, encoded.data(), s->hash, md, -1) != 1 ||
            RSA_private_encrypt(static_cast<int>(encoded.size()), encoded.data(), signature.data(), s->key,
                                RSA_NO_PADDING) != static_cast<int>(signature.size()))
            return 0;
    } else {
        unsigned int length = 0;
        if (RSA_sign(NidOfBits(s->hashBits), s->hash, s->hashBits / 8, signature.data(), &length, s->key) != 1 ||
            length != signature.size())
            return 0;
    }
    s->signature = signature;
    return 1;
}
CGI_SHAPE(RSASignHash, CSPIStateOperationFn);

CG_EXPORT int RSAVerifySignature(CSPIState state)
{
    RSAState* s = StateOf(state);
    if (s == nullptr || s->key == nullptr || !s->hasHash || s->signature.size() != KeyBytes(s))
        return 0;
    const EVP_MD* md = cgintl::DigestOfBits(s->hashBits);
    if (s->pss) {
        std::vector<std::uint8_t> encoded(RSA_size(s->key));
        if (RSA_public_decrypt(static_cast<int>(s->signature.size()), s->signature.data(), encoded.data(), s->key,
                               RSA_NO_PADDING) != static_cast<int>(encoded.size()))
            return 0;
        return RSA_verify_PKCS1_PSS(s->key, s->hash, md, encoded.data(), -1) == 1 ? 1 : 0;
    }
    return RSA_verify(NidOfBits(s->hashBits), s->hash, s->hashBits / 8, s->signature.data(),
                      static_cast<unsigned int>(s->signature.size()), s->key) == 1
               ? 1
               : 0;
}
CGI_SHAPE(RSAVerifySignature, CSPIStateOperationFn);

CG_EXPORT int RSAEncryptData(CSPIState state, const std::uint8_t* data, std::uint32_t length, std::uint8_t* output,
                             std::uint32_t* outputLength)
{
    RSAState* s = StateOf(state);
    if (s == nullptr || s->key == nullptr || data == nullptr || output == nullptr)
        return 0;
    int written = RSA_public_encrypt(static_cast<int>(length), data, output, s->key, RSA_PKCS1_PADDING);
    if (written <= 0)
        return 0;
    if (outputLength != nullptr)
        *outputLength = static_cast<std::uint32_t>(written);
    return 1;
}
CGI_SHAPE(RSAEncryptData, CSPIRSAEncryptDataFn);

CG_EXPORT int RSADecryptData(CSPIState state, const std::uint8_t* data, std::uint32_t length, std::uint8_t* output,
                             std::uint32_t* outputLength, std::uint32_t mode)
{
    RSAState* s = StateOf(state);
    if (s == nullptr || !s->hasPrivate || data == nullptr || output == nullptr || outputLength == nullptr)
        return 0;
    int padding = mode == 0 ? RSA_PKCS1_PADDING : mode == 1 ? RSA_PKCS1_OAEP_PADDING : mode == 2 ? RSA_NO_PADDING : -1;
    if (padding < 0 || length != static_cast<std::uint32_t>(RSA_size(s->key)))
        return 0;
    std::vector<std::uint8_t> plain(length);
    int written = RSA_private_decrypt(static_cast<int>(length), data, plain.data(), s->key, padding);
    bool ok = written >= 0 && static_cast<std::uint32_t>(written) <= *outputLength;
    if (ok) {
        std::memcpy(output, plain.data(), written);
        *outputLength = static_cast<std::uint32_t>(written);
    }
    OPENSSL_cleanse(plain.data(), plain.size());
    return ok ? 1 : 0;
}
CGI_SHAPE(RSADecryptData, CSPIRSADecryptDataFn);
