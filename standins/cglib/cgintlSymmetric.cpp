// AES, TDEA and RC2 entries of the stand-in cgintl.so over OpenSSL (RC2
// through its legacy provider). A cipher state keeps its key and IV and one
// running stream, so consecutive calls continue the chaining.
//
// AES: the key is set with its size in bits as the code; the MAC is GMAC with
// the parameter record as the IV; GCM keeps copies of its IV and additional
// data and answers its 16-byte tag through code 10. The key schedule of
// AESExpandKey is the key itself in 32 bytes; AESCipher and AESInverseCipher
// transform one block with it. TDEA: 24-byte key, 8-byte IV; the simple
// substitution mode is ECB; the MAC is CBC-MAC over zero-padded data.
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <new>
#include <vector>

#include "cgintlCommon.h"

namespace {

enum class Mode {
    None,
    ECBEncrypt,
    ECBDecrypt,
    CBCEncrypt,
    CBCDecrypt,
    CFB1E,
    CFB1D,
    CFB8E,
    CFB8D,
    CFB128E,
    CFB128D,
    OFB,
    CTR
};

class Stream {
public:
    ~Stream() { EVP_CIPHER_CTX_free(ctx_); }
    // The running stream for a mode, started from the key and IV when it is
    // new or another mode was running.
    EVP_CIPHER_CTX* For(Mode mode, const EVP_CIPHER* cipher, bool encrypt, const std::uint8_t* key,
                        const std::uint8_t* iv, int keyLength = 0, int effectiveBits = 0)
    {
        if (ctx_ != nullptr && mode_ == mode) return ctx_;
        EVP_CIPHER_CTX_free(ctx_);
        ctx_ = EVP_CIPHER_CTX_new();
        mode_ = mode;
        if (ctx_ == nullptr || EVP_CipherInit_ex(ctx_, cipher, nullptr, nullptr, nullptr, encrypt ? 1 : 0) != 1 ||
            (keyLength != 0 && EVP_CIPHER_CTX_set_key_length(ctx_, keyLength) != 1) ||
            (effectiveBits != 0 && EVP_CIPHER_CTX_ctrl(ctx_, EVP_CTRL_SET_RC2_KEY_BITS, effectiveBits, nullptr) != 1) ||
            EVP_CipherInit_ex(ctx_, nullptr, nullptr, key, iv, -1) != 1 || EVP_CIPHER_CTX_set_padding(ctx_, 0) != 1) {
            EVP_CIPHER_CTX_free(ctx_);
            ctx_ = nullptr;
            mode_ = Mode::None;
        }
        return ctx_;
    }

private:
    EVP_CIPHER_CTX* ctx_ = nullptr;
    Mode mode_ = Mode::None;
};

// Transforms `length` bytes in place.
bool Run(EVP_CIPHER_CTX* ctx, std::uint8_t* data, std::uint32_t length)
{
    if (ctx == nullptr || data == nullptr) return false;
    if (length == 0) return true;
    std::vector<std::uint8_t> out(length + 32);
    int written = 0;
    bool ok = EVP_CipherUpdate(ctx, out.data(), &written, data, static_cast<int>(length)) == 1 &&
              static_cast<std::uint32_t>(written) == length;
    if (ok) std::memcpy(data, out.data(), length);
    OPENSSL_cleanse(out.data(), out.size());
    return ok;
}

// ---------------------------------------------------------------------------
// AES.

struct AESState {
    std::uint32_t keyBits = 0;
    std::uint8_t key[32] = {};
    std::uint8_t iv[16] = {};
    bool hasMAC = false;
    CSPIAESMACParameters mac{};
    bool hasGCM = false;
    std::vector<std::uint8_t> gcmIV;
    std::vector<std::uint8_t> gcmData;
    Stream stream;
    // GCM: the keystream side and, for decryption, an encrypting twin fed with
    // the recovered plaintext so that the tag over the ciphertext can be read.
    EVP_CIPHER_CTX* gcm = nullptr;
    EVP_CIPHER_CTX* gcmTwin = nullptr;
    bool gcmDecrypt = false;
    ~AESState()
    {
        EVP_CIPHER_CTX_free(gcm);
        EVP_CIPHER_CTX_free(gcmTwin);
        OPENSSL_cleanse(key, sizeof(key));
    }
};

AESState* AESOf(CSPIState s)
{
    return static_cast<AESState*>(s);
}

const EVP_CIPHER* AESCipherOf(std::uint32_t bits, Mode mode)
{
    switch (mode) {
    case Mode::ECBEncrypt:
    case Mode::ECBDecrypt:
        return bits == 128 ? EVP_aes_128_ecb() : bits == 192 ? EVP_aes_192_ecb() : EVP_aes_256_ecb();
    case Mode::CBCEncrypt:
    case Mode::CBCDecrypt:
        return bits == 128 ? EVP_aes_128_cbc() : bits == 192 ? EVP_aes_192_cbc() : EVP_aes_256_cbc();
    case Mode::CFB1E:
    case Mode::CFB1D:
        return bits == 128 ? EVP_aes_128_cfb1() : bits == 192 ? EVP_aes_192_cfb1() : EVP_aes_256_cfb1();
    case Mode::CFB8E:
    case Mode::CFB8D:
        return bits == 128 ? EVP_aes_128_cfb8() : bits == 192 ? EVP_aes_192_cfb8() : EVP_aes_256_cfb8();
    case Mode::CFB128E:
    case Mode::CFB128D:
        return bits == 128 ? EVP_aes_128_cfb128() : bits == 192 ? EVP_aes_192_cfb128() : EVP_aes_256_cfb128();
    case Mode::OFB:
        return bits == 128 ? EVP_aes_128_ofb() : bits == 192 ? EVP_aes_192_ofb() : EVP_aes_256_ofb();
    case Mode::CTR:
        return bits == 128 ? EVP_aes_128_ctr() : bits == 192 ? EVP_aes_192_ctr() : EVP_aes_256_ctr();
    default:
        return nullptr;
    }
}

const EVP_CIPHER* GCMOf(std::uint32_t bits)
{
    return bits == 128 ? EVP_aes_128_gcm() : bits == 192 ? EVP_aes_192_gcm() : EVP_aes_256_gcm();
}

bool Encrypting(Mode mode)
{
    switch (mode) {
    case Mode::ECBEncrypt:
    case Mode::CBCEncrypt:
    case Mode::CFB1E:
    case Mode::CFB8E:
    case Mode::CFB128E:
    case Mode::OFB:
    case Mode::CTR:
        return true;
    default:
        return false;
    }
}

int AESRun(Mode mode, std::uint8_t* data, std::uint32_t length, CSPIState state, std::uint32_t block)
{
    AESState* s = AESOf(state);
    if (s == nullptr || s->keyBits == 0 || length % block != 0) return 0;
    return Run(s->stream.For(mode, AESCipherOf(s->keyBits, mode), Encrypting(mode), s->key, s->iv), data, length) ? 1
                                                                                                                  : 0;
}

EVP_CIPHER_CTX* NewGCM(const AESState* s, bool encrypt)
{
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    int ignored = 0;
    if (ctx == nullptr || EVP_CipherInit_ex(ctx, GCMOf(s->keyBits), nullptr, nullptr, nullptr, encrypt ? 1 : 0) != 1 ||
        EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_SET_IVLEN, static_cast<int>(s->gcmIV.size()), nullptr) != 1 ||
        EVP_CipherInit_ex(ctx, nullptr, nullptr, s->key, s->gcmIV.data(), -1) != 1 ||
        (!s->gcmData.empty() &&
         EVP_CipherUpdate(ctx, nullptr, &ignored, s->gcmData.data(), static_cast<int>(s->gcmData.size())) != 1)) {
        EVP_CIPHER_CTX_free(ctx);
        return nullptr;
    }
    return ctx;
}

bool StartGCM(AESState* s, bool decrypt)
{
    if (s->gcm != nullptr) return s->gcmDecrypt == decrypt;
    // Both directions run the cipher forwards: CTR is its own inverse.
    s->gcm = NewGCM(s, true);
    s->gcmDecrypt = decrypt;
    if (decrypt) s->gcmTwin = NewGCM(s, true);
    return s->gcm != nullptr && (!decrypt || s->gcmTwin != nullptr);
}

}  // namespace

CG_EXPORT int AESSelfTest(void)
{
    return 1;
}
CGI_SHAPE(AESSelfTest, CSPISelfTestFn);

CG_EXPORT CSPIState AESAcquireState(int)
{
    return new (std::nothrow) AESState();
}
CGI_SHAPE(AESAcquireState, CSPIAcquireStateFn);

CG_EXPORT int AESReleaseState(CSPIState state)
{
    delete AESOf(state);
    return 1;
}
CGI_SHAPE(AESReleaseState, CSPIReleaseStateFn);

CG_EXPORT int AESSetStateParameters(CSPIState state, const void* value, std::uint32_t code)
{
    AESState* s = AESOf(state);
    if (s == nullptr || value == nullptr) return 0;
    switch (code) {
    case 128:
    case 192:
    case 256:
        s->keyBits = code;
        std::memcpy(s->key, value, code / 8);
        return 1;
    case CSPI_AES_IV:
        std::memcpy(s->iv, value, sizeof(s->iv));
        return 1;
    case CSPI_AES_MAC_PARAMETERS:
        // The block lives on the caller's stack: keep a copy.
        std::memcpy(&s->mac, value, sizeof(s->mac));
        if (s->mac.recordBits == 0 || s->mac.recordBits > 128 || s->mac.recordBits % 8 != 0) return 0;
        s->hasMAC = true;
        return 1;
    case CSPI_AES_GCM_PARAMETERS: {
        CSPIAESGCMParameters gcm;
        std::memcpy(&gcm, value, sizeof(gcm));
        if (gcm.iv == nullptr || gcm.ivLength == 0 || (gcm.additionalDataLength != 0 && gcm.additionalData == nullptr))
            return 0;
        s->gcmIV.assign(gcm.iv, gcm.iv + gcm.ivLength);
        s->gcmData.assign(gcm.additionalData, gcm.additionalData + gcm.additionalDataLength);
        s->hasGCM = true;
        return 1;
    }
    default:
        return 0;
    }
}
CGI_SHAPE(AESSetStateParameters, CSPISetStateParametersFn);

CG_EXPORT int AESGetStateParameters(CSPIState state, void* buffer, std::uint32_t code)
{
    AESState* s = AESOf(state);
    if (s == nullptr || buffer == nullptr || code != CSPI_AES_GCM_TAG || !s->hasGCM || s->keyBits == 0) return 0;
    if (s->gcm == nullptr && !StartGCM(s, false)) return 0;
    EVP_CIPHER_CTX* tagged = s->gcmDecrypt ? s->gcmTwin : s->gcm;
    std::uint8_t rest[16];
    int written = 0;
    if (EVP_EncryptFinal_ex(tagged, rest, &written) != 1 ||
        EVP_CIPHER_CTX_ctrl(tagged, EVP_CTRL_GCM_GET_TAG, CSPI_GCM_TAG_BYTES, buffer) != 1)
        return 0;
    return 1;
}
CGI_SHAPE(AESGetStateParameters, CSPIGetStateParametersFn);

CG_EXPORT int AESEncryptDataECBMode(std::uint8_t* data, std::uint32_t length, CSPIState state)
{
    return AESRun(Mode::ECBEncrypt, data, length, state, 16);
}
CGI_SHAPE(AESEncryptDataECBMode, CSPIDataStateFn);

CG_EXPORT int AESDecryptDataECBMode(std::uint8_t* data, std::uint32_t length, CSPIState state)
{
    return AESRun(Mode::ECBDecrypt, data, length, state, 16);
}
CGI_SHAPE(AESDecryptDataECBMode, CSPIDataStateFn);

CG_EXPORT int AESEncryptDataCBCMode(std::uint8_t* data, std::uint32_t length, CSPIState state)
{
    return AESRun(Mode::CBCEncrypt, data, length, state, 16);
}
CGI_SHAPE(AESEncryptDataCBCMode, CSPIDataStateFn);

CG_EXPORT int AESDecryptDataCBCMode(std::uint8_t* data, std::uint32_t length, CSPIState state)
{
    return AESRun(Mode::CBCDecrypt, data, length, state, 16);
}
CGI_SHAPE(AESDecryptDataCBCMode, CSPIDataStateFn);

CG_EXPORT int AESEncryptDataCFB1Mode(std::uint8_t* data, std::uint32_t length, CSPIState state)
{
    return AESRun(Mode::CFB1E, data, length, state, 1);
}
CGI_SHAPE(AESEncryptDataCFB1Mode, CSPIDataStateFn);

CG_EXPORT int AESDecryptDataCFB1Mode(std::uint8_t* data, std::uint32_t length, CSPIState state)
{
    return AESRun(Mode::CFB1D, data, length, state, 1);
}
CGI_SHAPE(AESDecryptDataCFB1Mode, CSPIDataStateFn);

CG_EXPORT int AESEncryptDataCFB8Mode(std::uint8_t* data, std::uint32_t length, CSPIState state)
{
    return AESRun(Mode::CFB8E, data, length, state, 1);
}
CGI_SHAPE(AESEncryptDataCFB8Mode, CSPIDataStateFn);

CG_EXPORT int AESDecryptDataCFB8Mode(std::uint8_t* data, std::uint32_t length, CSPIState state)
{
    return AESRun(Mode::CFB8D, data, length, state, 1);
}
CGI_SHAPE(AESDecryptDataCFB8Mode, CSPIDataStateFn);

CG_EXPORT int AESEncryptDataCFB128Mode(std::uint8_t* data, std::uint32_t length, CSPIState state)
{
    return AESRun(Mode::CFB128E, data, length, state, 1);
}
CGI_SHAPE(AESEncryptDataCFB128Mode, CSPIDataStateFn);

CG_EXPORT int AESDecryptDataCFB128Mode(std::uint8_t* data, std::uint32_t length, CSPIState state)
{
    return AESRun(Mode::CFB128D, data, length, state, 1);
}
CGI_SHAPE(AESDecryptDataCFB128Mode, CSPIDataStateFn);

CG_EXPORT int AESEnDecryptDataOFBMode(std::uint8_t* data, std::uint32_t length, CSPIState state)
{
    return AESRun(Mode::OFB, data, length, state, 1);
}
CGI_SHAPE(AESEnDecryptDataOFBMode, CSPIDataStateFn);

CG_EXPORT int AESEnDecryptDataCTRMode(std::uint8_t* data, std::uint32_t length, CSPIState state)
{
    return AESRun(Mode::CTR, data, length, state, 1);
}
CGI_SHAPE(AESEnDecryptDataCTRMode, CSPIDataStateFn);

CG_EXPORT int AESGetDataMAC(const std::uint8_t* data, std::uint32_t length, std::uint8_t* mac, std::uint32_t macBits,
                            CSPIState state)
{
    AESState* s = AESOf(state);
    if (s == nullptr || s->keyBits == 0 || !s->hasMAC || mac == nullptr || macBits != 128 ||
        (data == nullptr && length != 0))
        return 0;
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    int written = 0;
    std::uint8_t rest[16];
    int ivLength = static_cast<int>(s->mac.recordBits / 8);
    bool ok = ctx != nullptr && EVP_EncryptInit_ex(ctx, GCMOf(s->keyBits), nullptr, nullptr, nullptr) == 1 &&
              EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_SET_IVLEN, ivLength, nullptr) == 1 &&
              EVP_EncryptInit_ex(ctx, nullptr, nullptr, s->key, s->mac.record) == 1 &&
              (length == 0 || EVP_EncryptUpdate(ctx, nullptr, &written, data, static_cast<int>(length)) == 1) &&
              EVP_EncryptFinal_ex(ctx, rest, &written) == 1 &&
              EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_GET_TAG, 16, mac) == 1;
    EVP_CIPHER_CTX_free(ctx);
    return ok ? 1 : 0;
}
CGI_SHAPE(AESGetDataMAC, CSPIAESGetDataMACFn);

CG_EXPORT int AESExpandKey(const std::uint8_t* key, std::uint32_t keyBits, std::uint8_t* schedule)
{
    if (key == nullptr || schedule == nullptr || (keyBits != 128 && keyBits != 192 && keyBits != 256)) return 0;
    std::memset(schedule, 0, 32);
    std::memcpy(schedule, key, keyBits / 8);
    return 1;
}
CGI_SHAPE(AESExpandKey, CSPIAESExpandKeyFn);

namespace {

int OneBlock(const std::uint8_t* in, std::uint8_t* out, const std::uint8_t* schedule, std::uint32_t keyBits,
             bool encrypt)
{
    if (in == nullptr || out == nullptr || schedule == nullptr || (keyBits != 128 && keyBits != 192 && keyBits != 256))
        return 0;
    Stream stream;
    std::uint8_t block[16];
    std::memcpy(block, in, 16);
    Mode mode = encrypt ? Mode::ECBEncrypt : Mode::ECBDecrypt;
    if (!Run(stream.For(mode, AESCipherOf(keyBits, mode), encrypt, schedule, nullptr), block, 16)) return 0;
    std::memcpy(out, block, 16);
    return 1;
}

}  // namespace

CG_EXPORT int AESCipher(const std::uint8_t* in, std::uint8_t* out, const std::uint8_t* schedule, std::uint32_t keyBits)
{
    return OneBlock(in, out, schedule, keyBits, true);
}
CGI_SHAPE(AESCipher, CSPIAESCipherFn);

CG_EXPORT int AESInverseCipher(const std::uint8_t* in, std::uint8_t* out, const std::uint8_t* schedule,
                               std::uint32_t keyBits)
{
    return OneBlock(in, out, schedule, keyBits, false);
}
CGI_SHAPE(AESInverseCipher, CSPIAESCipherFn);

CG_EXPORT int AESEncryptDataGCMMode(std::uint8_t* data, std::uint32_t length, CSPIState state)
{
    AESState* s = AESOf(state);
    if (s == nullptr || !s->hasGCM || s->keyBits == 0 || !StartGCM(s, false)) return 0;
    return Run(s->gcm, data, length) ? 1 : 0;
}
CGI_SHAPE(AESEncryptDataGCMMode, CSPIDataStateFn);

CG_EXPORT int AESDecryptDataGCMMode(std::uint8_t* data, std::uint32_t length, CSPIState state)
{
    AESState* s = AESOf(state);
    if (s == nullptr || !s->hasGCM || s->keyBits == 0 || !StartGCM(s, true) || (data == nullptr && length != 0))
        return 0;
    if (length == 0) return 1;
    if (!Run(s->gcm, data, length)) return 0;
    std::vector<std::uint8_t> again(data, data + length);
    bool ok = Run(s->gcmTwin, again.data(), length);
    OPENSSL_cleanse(again.data(), again.size());
    return ok ? 1 : 0;
}
CGI_SHAPE(AESDecryptDataGCMMode, CSPIDataStateFn);

// ---------------------------------------------------------------------------
// TDEA.

namespace {

struct TDEAState {
    std::uint8_t key[CSPI_TDEA_KEY_BYTES] = {};
    std::uint8_t iv[8] = {};
    bool hasKey = false;
    Stream stream;
    ~TDEAState() { OPENSSL_cleanse(key, sizeof(key)); }
};

TDEAState* TDEAOf(CSPIState s)
{
    return static_cast<TDEAState*>(s);
}

int TDEARun(Mode mode, std::uint8_t* data, std::uint32_t length, CSPIState state)
{
    TDEAState* s = TDEAOf(state);
    if (s == nullptr || !s->hasKey || length % 8 != 0) return 0;
    bool ecb = mode == Mode::ECBEncrypt || mode == Mode::ECBDecrypt;
    const EVP_CIPHER* cipher = ecb ? EVP_des_ede3_ecb() : EVP_des_ede3_cbc();
    return Run(s->stream.For(mode, cipher, Encrypting(mode), s->key, ecb ? nullptr : s->iv), data, length) ? 1 : 0;
}

}  // namespace

CG_EXPORT int TDEASelfTest(void)
{
    return 1;
}
CGI_SHAPE(TDEASelfTest, CSPISelfTestFn);

CG_EXPORT CSPIState TDEAAcquireState(int)
{
    return new (std::nothrow) TDEAState();
}
CGI_SHAPE(TDEAAcquireState, CSPIAcquireStateFn);

CG_EXPORT int TDEAReleaseState(CSPIState state)
{
    delete TDEAOf(state);
    return 1;
}
CGI_SHAPE(TDEAReleaseState, CSPIReleaseStateFn);

CG_EXPORT int TDEASetStateParameters(CSPIState state, const void* value, std::uint32_t code)
{
    TDEAState* s = TDEAOf(state);
    if (s == nullptr || value == nullptr) return 0;
    if (code == CSPI_TDEA_KEY) {
        std::memcpy(s->key, value, sizeof(s->key));
        s->hasKey = true;
        return 1;
    }
    if (code == CSPI_TDEA_IV) {
        std::memcpy(s->iv, value, sizeof(s->iv));
        return 1;
    }
    return 0;
}
CGI_SHAPE(TDEASetStateParameters, CSPISetStateParametersFn);

CG_EXPORT int TDEAGetStateParameters(CSPIState state, void* buffer, std::uint32_t code)
{
    TDEAState* s = TDEAOf(state);
    if (s == nullptr || buffer == nullptr || code != CSPI_TDEA_IV) return 0;
    std::memcpy(buffer, s->iv, sizeof(s->iv));
    return 1;
}
CGI_SHAPE(TDEAGetStateParameters, CSPIGetStateParametersFn);

CG_EXPORT int TDEAEncryptDataSSMode(std::uint8_t* data, std::uint32_t length, CSPIState state)
{
    return TDEARun(Mode::ECBEncrypt, data, length, state);
}
CGI_SHAPE(TDEAEncryptDataSSMode, CSPIDataStateFn);

CG_EXPORT int TDEADecryptDataSSMode(std::uint8_t* data, std::uint32_t length, CSPIState state)
{
    return TDEARun(Mode::ECBDecrypt, data, length, state);
}
CGI_SHAPE(TDEADecryptDataSSMode, CSPIDataStateFn);

CG_EXPORT int TDEAEncryptDataCBCMode(std::uint8_t* data, std::uint32_t length, CSPIState state)
{
    return TDEARun(Mode::CBCEncrypt, data, length, state);
}
CGI_SHAPE(TDEAEncryptDataCBCMode, CSPIDataStateFn);

CG_EXPORT int TDEADecryptDataCBCMode(std::uint8_t* data, std::uint32_t length, CSPIState state)
{
    return TDEARun(Mode::CBCDecrypt, data, length, state);
}
CGI_SHAPE(TDEADecryptDataCBCMode, CSPIDataStateFn);

CG_EXPORT int TDEAGetDataMAC(const std::uint8_t* data, const std::uint8_t* iv, std::uint32_t length, CSPIState state,
                             std::uint8_t* mac)
{
    TDEAState* s = TDEAOf(state);
    if (s == nullptr || !s->hasKey || iv == nullptr || mac == nullptr || (data == nullptr && length != 0)) return 0;
    std::uint32_t padded = length == 0 ? 8 : (length + 7) / 8 * 8;
    std::vector<std::uint8_t> work(padded, 0);
    if (length != 0) std::memcpy(work.data(), data, length);
    Stream stream;
    if (!Run(stream.For(Mode::CBCEncrypt, EVP_des_ede3_cbc(), true, s->key, iv), work.data(), padded)) return 0;
    std::memcpy(mac, work.data() + padded - 8, 8);
    OPENSSL_cleanse(work.data(), work.size());
    return 1;
}
CGI_SHAPE(TDEAGetDataMAC, CSPITDEAGetDataMACFn);

// ---------------------------------------------------------------------------
// RC2 (optional entries).

namespace {

// RC2 lives in OpenSSL's legacy provider. Loading it stops the default one
// from loading by itself, so both are loaded; both are released, with the
// fetched cipher, when the library is unloaded.
class RC2Cipher {
public:
    RC2Cipher()
        : default_(OSSL_PROVIDER_load(nullptr, "default")), legacy_(OSSL_PROVIDER_load(nullptr, "legacy")),
          cipher_(EVP_CIPHER_fetch(nullptr, "RC2-CBC", nullptr))
    {
    }
    ~RC2Cipher()
    {
        EVP_CIPHER_free(cipher_);
        if (legacy_ != nullptr) OSSL_PROVIDER_unload(legacy_);
        if (default_ != nullptr) OSSL_PROVIDER_unload(default_);
    }
    RC2Cipher(const RC2Cipher&) = delete;
    RC2Cipher& operator=(const RC2Cipher&) = delete;
    const EVP_CIPHER* get() const { return cipher_; }

private:
    OSSL_PROVIDER* default_;
    OSSL_PROVIDER* legacy_;
    EVP_CIPHER* cipher_;
};

const EVP_CIPHER* RC2CBC()
{
    static RC2Cipher cipher;
    return cipher.get();
}

struct RC2State {
    std::uint32_t effectiveBits = 0;
    std::uint32_t keyLength = 0;
    std::uint8_t key[128] = {};
    bool hasKey = false;
    std::uint8_t iv[8] = {};
    Stream stream;
    ~RC2State() { OPENSSL_cleanse(key, sizeof(key)); }
};

RC2State* RC2Of(CSPIState s)
{
    return static_cast<RC2State*>(s);
}

int RC2Run(Mode mode, std::uint8_t* data, std::uint32_t blocks, CSPIState state)
{
    RC2State* s = RC2Of(state);
    if (s == nullptr || !s->hasKey || RC2CBC() == nullptr || blocks > 0x1FFFFFFFu) return 0;
    EVP_CIPHER_CTX* ctx = s->stream.For(mode, RC2CBC(), Encrypting(mode), s->key, s->iv, static_cast<int>(s->keyLength),
                                        static_cast<int>(s->effectiveBits));
    return Run(ctx, data, blocks * 8) ? 1 : 0;
}

}  // namespace

CG_EXPORT int RC2SelfTest(void)
{
    return 1;
}
CGI_SHAPE(RC2SelfTest, CSPISelfTestFn);

CG_EXPORT CSPIState RC2AcquireState(int)
{
    return new (std::nothrow) RC2State();
}
CGI_SHAPE(RC2AcquireState, CSPIAcquireStateFn);

CG_EXPORT int RC2ReleaseState(CSPIState state)
{
    delete RC2Of(state);
    return 1;
}
CGI_SHAPE(RC2ReleaseState, CSPIReleaseStateFn);

CG_EXPORT int RC2SetStateParameters(CSPIState state, const void* value, std::uint32_t code)
{
    RC2State* s = RC2Of(state);
    if (s == nullptr || value == nullptr) return 0;
    switch (code) {
    case CSPI_RC2_EFFECTIVE_BITS:
        return cgintl::SetBounded(value, 1024, &s->effectiveBits);
    case CSPI_RC2_KEY_LENGTH:
        return cgintl::SetBounded(value, sizeof(s->key), &s->keyLength);
    case CSPI_RC2_KEY:
        if (s->keyLength == 0) return 0;
        std::memcpy(s->key, value, s->keyLength);
        s->hasKey = true;
        return 1;
    case CSPI_RC2_IV:
        std::memcpy(s->iv, value, sizeof(s->iv));
        return 1;
    default:
        return 0;
    }
}
CGI_SHAPE(RC2SetStateParameters, CSPISetStateParametersFn);

CG_EXPORT int RC2GetStateParameters(CSPIState state, void* buffer, std::uint32_t code)
{
    RC2State* s = RC2Of(state);
    if (s == nullptr || buffer == nullptr || code != CSPI_RC2_IV) return 0;
    std::memcpy(buffer, s->iv, sizeof(s->iv));
    return 1;
}
CGI_SHAPE(RC2GetStateParameters, CSPIGetStateParametersFn);

CG_EXPORT int RC2EncryptDataCBCMode(std::uint8_t* data, std::uint32_t blocks, CSPIState state)
{
    return RC2Run(Mode::CBCEncrypt, data, blocks, state);
}
CGI_SHAPE(RC2EncryptDataCBCMode, CSPIRC2CryptFn);

CG_EXPORT int RC2DecryptDataCBCMode(std::uint8_t* data, std::uint32_t blocks, CSPIState state)
{
    return RC2Run(Mode::CBCDecrypt, data, blocks, state);
}
CGI_SHAPE(RC2DecryptDataCBCMode, CSPIRC2CryptFn);
