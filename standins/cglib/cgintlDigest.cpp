// SHA, HMAC, PBKDF2 and PKCS#12 entries of the stand-in cgintl.so over
// OpenSSL. PBKDF2I is PBKDF2 with HMAC-SHA-1 and a 20-byte key; the PKCS#12
// derivations take the password bytes as an ASCII text (turned into a
// BMPString) with SHA-1, and the SHA-2 HMAC key with the hash its bits name.
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/pkcs12.h>
#include <openssl/rand.h>

#include <new>
#include <vector>

#include "cgintlCommon.h"

namespace cgintl {

const EVP_MD* DigestOfBits(std::uint32_t bits)
{
    switch (bits) {
    case 160:
        return EVP_sha1();
    case 224:
        return EVP_sha224();
    case 256:
        return EVP_sha256();
    case 384:
        return EVP_sha384();
    case 512:
        return EVP_sha512();
    default:
        return nullptr;
    }
}

bool RandomBytes(std::uint8_t* out, std::size_t size)
{
    return RAND_bytes(out, static_cast<int>(size)) == 1;
}

}  // namespace cgintl

namespace {

struct SHAState {
    EVP_MD_CTX* ctx = nullptr;
    std::uint32_t bits = 0;
    std::uint8_t hash[64] = {};
    bool finished = false;
    ~SHAState() { EVP_MD_CTX_free(ctx); }
};

SHAState* SHAOf(CSPIState s)
{
    return static_cast<SHAState*>(s);
}

// HMAC over data collected until the MAC is finalised.
struct HMACState {
    std::uint32_t bits = 160;
    std::uint32_t keyLength = 0;
    std::vector<std::uint8_t> key;
    std::vector<std::uint8_t> data;
    std::uint8_t mac[64] = {};
    bool finished = false;
    ~HMACState()
    {
        if (!key.empty()) OPENSSL_cleanse(key.data(), key.size());
    }
};

HMACState* HMACOf(CSPIState s)
{
    return static_cast<HMACState*>(s);
}

int HMACUpdate(const std::uint8_t* data, std::uint32_t length, CSPIState state)
{
    HMACState* s = HMACOf(state);
    if (s == nullptr || s->key.empty() || s->finished || (data == nullptr && length != 0)) return 0;
    s->data.insert(s->data.end(), data, data + length);
    return 1;
}

int HMACFinalize(CSPIState state)
{
    HMACState* s = HMACOf(state);
    if (s == nullptr || s->key.empty()) return 0;
    unsigned int length = 0;
    static const std::uint8_t empty = 0;
    if (HMAC(cgintl::DigestOfBits(s->bits), s->key.data(), static_cast<int>(s->key.size()),
             s->data.empty() ? &empty : s->data.data(), s->data.size(), s->mac, &length) == nullptr)
        return 0;
    s->finished = true;
    return 1;
}

int HMACGet(CSPIState state, void* buffer, std::uint32_t code, std::uint32_t macCode)
{
    HMACState* s = HMACOf(state);
    if (s == nullptr || buffer == nullptr || code != macCode || !s->finished) return 0;
    std::memcpy(buffer, s->mac, s->bits / 8);
    return 1;
}

int PKCS12Derive(int id, const EVP_MD* md, const std::uint8_t* password, std::uint32_t passwordLength,
                 const std::uint8_t* salt, std::uint32_t saltLength, std::uint32_t iterations, std::uint32_t length,
                 std::uint8_t* out)
{
    if (md == nullptr || out == nullptr || iterations == 0 || length == 0 || (password == nullptr && passwordLength) ||
        (salt == nullptr && saltLength != 0))
        return 0;
    std::vector<char> text(passwordLength + 1, 0);
    if (passwordLength != 0) std::memcpy(text.data(), password, passwordLength);
    static unsigned char noSalt = 0;
    int ok = PKCS12_key_gen_asc(
        text.data(), static_cast<int>(passwordLength), saltLength != 0 ? const_cast<unsigned char*>(salt) : &noSalt,
        static_cast<int>(saltLength), id, static_cast<int>(iterations), static_cast<int>(length), out, md);
    OPENSSL_cleanse(text.data(), text.size());
    return ok == 1 ? 1 : 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// SHA.

CG_EXPORT int SHASelfTest(void)
{
    return 1;
}
CGI_SHAPE(SHASelfTest, CSPISelfTestFn);

CG_EXPORT CSPIState SHAAcquireState(int)
{
    return new (std::nothrow) SHAState();
}
CGI_SHAPE(SHAAcquireState, CSPIAcquireStateFn);

CG_EXPORT int SHAReleaseState(CSPIState state)
{
    delete SHAOf(state);
    return 1;
}
CGI_SHAPE(SHAReleaseState, CSPIReleaseStateFn);

CG_EXPORT int SHASetStateParameters(CSPIState state, const void* value, std::uint32_t code)
{
    SHAState* s = SHAOf(state);
    if (s == nullptr || value == nullptr || code != CSPI_SHA_HASH_BITS) return 0;
    std::uint32_t bits = cgintl::Word(value);
    const EVP_MD* md = cgintl::DigestOfBits(bits);
    if (md == nullptr) return 0;
    EVP_MD_CTX_free(s->ctx);
    s->ctx = EVP_MD_CTX_new();
    s->bits = bits;
    s->finished = false;
    return s->ctx != nullptr && EVP_DigestInit_ex(s->ctx, md, nullptr) == 1 ? 1 : 0;
}
CGI_SHAPE(SHASetStateParameters, CSPISetStateParametersFn);

CG_EXPORT int SHAGetStateParameters(CSPIState state, void* buffer, std::uint32_t code)
{
    SHAState* s = SHAOf(state);
    if (s == nullptr || buffer == nullptr || code != CSPI_SHA_HASH || !s->finished) return 0;
    std::memcpy(buffer, s->hash, s->bits / 8);
    return 1;
}
CGI_SHAPE(SHAGetStateParameters, CSPIGetStateParametersFn);

CG_EXPORT int SHAHashData(const std::uint8_t* data, std::uint32_t length, CSPIState state)
{
    SHAState* s = SHAOf(state);
    if (s == nullptr || s->ctx == nullptr || s->finished || (data == nullptr && length != 0)) return 0;
    return length == 0 || EVP_DigestUpdate(s->ctx, data, length) == 1 ? 1 : 0;
}
CGI_SHAPE(SHAHashData, CSPIConstDataStateFn);

CG_EXPORT int SHAFinalizeHash(CSPIState state)
{
    SHAState* s = SHAOf(state);
    if (s == nullptr || s->ctx == nullptr || s->finished) return 0;
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(s->ctx, s->hash, &length) != 1) return 0;
    s->finished = true;
    return 1;
}
CGI_SHAPE(SHAFinalizeHash, CSPIStateOperationFn);

// ---------------------------------------------------------------------------
// SHA-1 HMAC (optional entries): code 1 the 20-byte key, code 2 the MAC.

CG_EXPORT CSPIState SHA1HMACAcquireState(int)
{
    return new (std::nothrow) HMACState();
}
CGI_SHAPE(SHA1HMACAcquireState, CSPIAcquireStateFn);

CG_EXPORT int SHA1HMACReleaseState(CSPIState state)
{
    delete HMACOf(state);
    return 1;
}
CGI_SHAPE(SHA1HMACReleaseState, CSPIReleaseStateFn);

CG_EXPORT int SHA1HMACSetStateParameters(CSPIState state, const void* value, std::uint32_t code)
{
    HMACState* s = HMACOf(state);
    if (s == nullptr || value == nullptr || code != CSPI_SHA1HMAC_KEY) return 0;
    const auto* key = static_cast<const std::uint8_t*>(value);
    s->key.assign(key, key + CSPI_SHA1_BYTES);
    return 1;
}
CGI_SHAPE(SHA1HMACSetStateParameters, CSPISetStateParametersFn);

CG_EXPORT int SHA1HMACGetStateParameters(CSPIState state, void* buffer, std::uint32_t code)
{
    return HMACGet(state, buffer, code, CSPI_SHA1HMAC_MAC);
}
CGI_SHAPE(SHA1HMACGetStateParameters, CSPIGetStateParametersFn);

CG_EXPORT int SHA1HMACInitializeDataMac(CSPIState state)
{
    HMACState* s = HMACOf(state);
    if (s == nullptr || s->key.empty()) return 0;
    s->data.clear();
    s->finished = false;
    return 1;
}
CGI_SHAPE(SHA1HMACInitializeDataMac, CSPIStateOperationFn);

CG_EXPORT int SHA1HMACUpdateData(const std::uint8_t* data, std::uint32_t length, CSPIState state)
{
    return HMACUpdate(data, length, state);
}
CGI_SHAPE(SHA1HMACUpdateData, CSPIHMACUpdateFn);

CG_EXPORT int SHA1HMACFinalizeDataMac(CSPIState state)
{
    return HMACFinalize(state);
}
CGI_SHAPE(SHA1HMACFinalizeDataMac, CSPIStateOperationFn);

CG_EXPORT int SHA1HMACSelfTest(void)
{
    return 1;
}
CGI_SHAPE(SHA1HMACSelfTest, CSPISelfTestFn);

// ---------------------------------------------------------------------------
// SHA-2 HMAC (optional entries): code 1 hash bits, 2 key length, 3 key, 4 MAC.

CG_EXPORT CSPIState SHAHMACAcquireState(int)
{
    return new (std::nothrow) HMACState();
}
CGI_SHAPE(SHAHMACAcquireState, CSPIAcquireStateFn);

CG_EXPORT int SHAHMACReleaseState(CSPIState state)
{
    delete HMACOf(state);
    return 1;
}
CGI_SHAPE(SHAHMACReleaseState, CSPIReleaseStateFn);

CG_EXPORT int SHAHMACSetStateParameters(CSPIState state, const void* value, std::uint32_t code)
{
    HMACState* s = HMACOf(state);
    if (s == nullptr || value == nullptr) return 0;
    switch (code) {
    case CSPI_SHAHMAC_HASH_BITS: {
        std::uint32_t bits = cgintl::Word(value);
        if (cgintl::DigestOfBits(bits) == nullptr) return 0;
        s->bits = bits;
        return 1;
    }
    case CSPI_SHAHMAC_KEY_LENGTH:
        return cgintl::SetBounded(value, 128, &s->keyLength);
    case CSPI_SHAHMAC_KEY: {
        if (s->keyLength == 0) return 0;
        const auto* key = static_cast<const std::uint8_t*>(value);
        s->key.assign(key, key + s->keyLength);
        s->data.clear();
        s->finished = false;
        return 1;
    }
    default:
        return 0;
    }
}
CGI_SHAPE(SHAHMACSetStateParameters, CSPISetStateParametersFn);

CG_EXPORT int SHAHMACGetStateParameters(CSPIState state, void* buffer, std::uint32_t code)
{
    return HMACGet(state, buffer, code, CSPI_SHAHMAC_MAC);
}
CGI_SHAPE(SHAHMACGetStateParameters, CSPIGetStateParametersFn);

CG_EXPORT int SHAHMACUpdateData(const std::uint8_t* data, std::uint32_t length, CSPIState state)
{
    return HMACUpdate(data, length, state);
}
CGI_SHAPE(SHAHMACUpdateData, CSPIHMACUpdateFn);

CG_EXPORT int SHAHMACFinalizeDataMac(CSPIState state)
{
    return HMACFinalize(state);
}
CGI_SHAPE(SHAHMACFinalizeDataMac, CSPIStateOperationFn);

CG_EXPORT int SHAHMACSelfTest(void)
{
    return 1;
}
CGI_SHAPE(SHAHMACSelfTest, CSPISelfTestFn);

// ---------------------------------------------------------------------------
// Password-based derivations (optional entries).

CG_EXPORT int PKCS12PBKDFRC2DeriveKey(const std::uint8_t* password, std::uint32_t passwordLength,
                                      const std::uint8_t* salt, std::uint32_t saltLength, std::uint32_t iterations,
                                      std::uint32_t keyLength, std::uint8_t* key)
{
    return PKCS12Derive(PKCS12_KEY_ID, EVP_sha1(), password, passwordLength, salt, saltLength, iterations, keyLength,
                        key);
}
CGI_SHAPE(PKCS12PBKDFRC2DeriveKey, CSPIPKCS12DeriveRC2KeyFn);

CG_EXPORT int PKCS12PBKDFRC2DeriveIV(const std::uint8_t* password, std::uint32_t passwordLength,
                                     const std::uint8_t* salt, std::uint32_t saltLength, std::uint32_t iterations,
                                     std::uint8_t* iv)
{
    return PKCS12Derive(PKCS12_IV_ID, EVP_sha1(), password, passwordLength, salt, saltLength, iterations, 8, iv);
}
CGI_SHAPE(PKCS12PBKDFRC2DeriveIV, CSPIPKCS12DeriveFn);

CG_EXPORT int PKCS12PBKDFTDESDeriveKey(const std::uint8_t* password, std::uint32_t passwordLength,
                                       const std::uint8_t* salt, std::uint32_t saltLength, std::uint32_t iterations,
                                       std::uint8_t* key)
{
    return PKCS12Derive(PKCS12_KEY_ID, EVP_sha1(), password, passwordLength, salt, saltLength, iterations,
                        CSPI_TDEA_KEY_BYTES, key);
}
CGI_SHAPE(PKCS12PBKDFTDESDeriveKey, CSPIPKCS12DeriveFn);

CG_EXPORT int PKCS12PBKDFTDESDeriveIV(const std::uint8_t* password, std::uint32_t passwordLength,
                                      const std::uint8_t* salt, std::uint32_t saltLength, std::uint32_t iterations,
                                      std::uint8_t* iv)
{
    return PKCS12Derive(PKCS12_IV_ID, EVP_sha1(), password, passwordLength, salt, saltLength, iterations, 8, iv);
}
CGI_SHAPE(PKCS12PBKDFTDESDeriveIV, CSPIPKCS12DeriveFn);

CG_EXPORT int PKCS12PBKDFSHA1DeriveHMACKey(const std::uint8_t* password, std::uint32_t passwordLength,
                                           const std::uint8_t* salt, std::uint32_t saltLength, std::uint32_t iterations,
                                           std::uint8_t* key)
{
    return PKCS12Derive(PKCS12_MAC_ID, EVP_sha1(), password, passwordLength, salt, saltLength, iterations,
                        CSPI_SHA1_BYTES, key);
}
CGI_SHAPE(PKCS12PBKDFSHA1DeriveHMACKey, CSPIPKCS12DeriveFn);

CG_EXPORT int PKCS12PBKDFSHADeriveHMACKey(std::uint32_t hashBits, const std::uint8_t* password,
                                          std::uint32_t passwordLength, const std::uint8_t* salt,
                                          std::uint32_t saltLength, std::uint32_t iterations, std::uint8_t* key)
{
    return PKCS12Derive(PKCS12_MAC_ID, cgintl::DigestOfBits(hashBits), password, passwordLength, salt, saltLength,
                        iterations, hashBits / 8, key);
}
CGI_SHAPE(PKCS12PBKDFSHADeriveHMACKey, CSPIPKCS12DeriveSHAHMACKeyFn);

CG_EXPORT int PKCS12PBKDFSelfTest(void)
{
    return 1;
}
CGI_SHAPE(PKCS12PBKDFSelfTest, CSPISelfTestFn);

CG_EXPORT int PBKDF2IDeriveKey(const std::uint8_t* password, std::uint32_t passwordLength, const std::uint8_t* salt,
                               std::uint32_t saltLength, std::uint32_t iterations, std::uint8_t* key)
{
    if (key == nullptr || iterations == 0 || (password == nullptr && passwordLength != 0) ||
        (salt == nullptr && saltLength != 0))
        return 0;
    return PKCS5_PBKDF2_HMAC(reinterpret_cast<const char*>(password), static_cast<int>(passwordLength), salt,
                             static_cast<int>(saltLength), static_cast<int>(iterations), EVP_sha1(),
                             CSPI_PBKDF2I_KEY_BYTES, key) == 1
               ? 1
               : 0;
}
CGI_SHAPE(PBKDF2IDeriveKey, CSPIPKCS12DeriveFn);

CG_EXPORT int PBKDF2ISelfTest(void)
{
    return 1;
}
CGI_SHAPE(PBKDF2ISelfTest, CSPISelfTestFn);

CG_EXPORT int PBKDF2SHADeriveKey(const std::uint8_t* password, std::uint32_t passwordLength, std::uint32_t hashBits,
                                 const std::uint8_t* salt, std::uint32_t saltLength, std::uint32_t iterations,
                                 std::uint32_t keyLength, std::uint8_t* key)
{
    const EVP_MD* md = cgintl::DigestOfBits(hashBits);
    if (md == nullptr || key == nullptr || keyLength == 0 || iterations == 0 ||
        (password == nullptr && passwordLength != 0) || (salt == nullptr && saltLength != 0))
        return 0;
    return PKCS5_PBKDF2_HMAC(reinterpret_cast<const char*>(password), static_cast<int>(passwordLength), salt,
                             static_cast<int>(saltLength), static_cast<int>(iterations), md,
                             static_cast<int>(keyLength), key) == 1
               ? 1
               : 0;
}
CGI_SHAPE(PBKDF2SHADeriveKey, CSPIPBKDF2SHADeriveFn);
