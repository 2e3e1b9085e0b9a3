// GOST 28147-89 ciphering: protected blocks (MAC, then simple replacement),
// one-shot gamma and gamma-with-feedback, session objects holding a copy of a
// keyed library state, and the hardware object's S-box.
#include <cstring>
#include <memory>
#include <new>

#include "csp/CSPCallsCommon.h"
#include "csp/CSPCallsOperations.h"

namespace cspcalls {

namespace {

enum : std::uint32_t { kKey = 1, kSBox = 2, kIv = 3, kMac = 4, kNewIv = 5 };
constexpr std::size_t kSessionBytes = 4164;

struct Cipher {
    const Library& lib;
    ScopedState state;
    explicit Cipher(const Library& l) : lib(l), state(l.GOST28147AcquireState(), l.GOST28147ReleaseState) {}
    bool Set(const void* v, std::uint32_t code) { return lib.GOST28147SetStateParameters(state.get(), v, code) != 0; }
};

// The key of a password: GOST 34.311 of its bytes up to the terminating zero.
bool PasswordKey(const Library& lib, void* hashState, const SBox* sBox, const std::uint8_t* startVector,
                 const char* password, std::uint8_t* key)
{
    return lib.GOST34311SetStateParameters(hashState, sBox, 1) &&
           lib.GOST34311SetStateParameters(hashState, startVector, 2) &&
           lib.GOST34311HashData(reinterpret_cast<const std::uint8_t*>(password),
                                 static_cast<std::uint32_t>(std::strlen(password)), hashState) &&
           lib.GOST34311FinalizeHash(0, hashState) && lib.GOST34311GetStateParameters(hashState, key, 2);
}

// Sets S-box and key (the password's hash or the given key) on the cipher.
int KeyCipher(const Library& lib, Cipher& cipher, const SBox* sBox, const std::uint8_t* startVector,
              const char* password, const std::uint8_t* key)
{
    ScopedState hash(lib.GOST34311AcquireState(), lib.GOST34311ReleaseState);
    if (!cipher.state || !hash) return kNoMemory;
    WipedBuffer<32> passwordKey;
    if (password != nullptr && !PasswordKey(lib, hash.get(), sBox, startVector, password, passwordKey.data()))
        return kLibraryError;
    if (!cipher.Set(sBox, kSBox) || !cipher.Set(password != nullptr ? passwordKey.data() : key, kKey))
        return kLibraryError;
    return kOk;
}

int OneShot(const Library& lib, std::uint8_t* data, std::uint32_t length, const SBox* sBox, const std::uint8_t* key,
            const std::uint8_t* iv, CGGOST28147DataFn mode)
{
    if (sBox == nullptr || key == nullptr || iv == nullptr || (data == nullptr && length != 0)) return kBadArgument;
    Cipher cipher(lib);
    if (!cipher.state) return kNoMemory;
    if (!cipher.Set(sBox, kSBox) || !cipher.Set(key, kKey) || !cipher.Set(iv, kIv) ||
        !mode(data, length, cipher.state.get()))
        return kLibraryError;
    return kOk;
}

int Draw(const Library& lib, Context* c, std::uint8_t* out, std::uint32_t length)
{
    return lib.generateTestedRandom(lib.provider, c, out, length);
}

// Draws a 32-byte key and an 8-byte IV into the caller's buffers; when either
// draw fails, neither buffer keeps anything drawn.
int DrawKeyAndIv(const Library& lib, Context* c, std::uint8_t* key, std::uint8_t* iv)
{
    int r = Draw(lib, c, key, 32);
    if (r == kOk) r = Draw(lib, c, iv, 8);
    if (r != kOk) {
        Wipe(key, 32);
        Wipe(iv, 8);
    }
    return r;
}

int RandomKeyThen(const Library& lib, Context* c, std::uint8_t* data, std::uint32_t length, const SBox* sBox,
                  std::uint8_t* key, std::uint8_t* iv, CGGOST28147DataFn mode)
{
    if (!lib.initialized) return kNotInitialized;
    if (key == nullptr || iv == nullptr) return kBadArgument;
    try {
        int r = DrawKeyAndIv(lib, c, key, iv);
        if (r != kOk) return r;
        r = OneShot(lib, data, length, sBox, key, iv, mode);
        // A key that encrypted nothing is not handed out.
        if (r != kOk) {
            Wipe(key, 32);
            Wipe(iv, 8);
        }
        return r;
    } catch (...) {
        return kLibraryError;
    }
}

}  // namespace

int ProtectDataGOST28147(const Library& lib, std::uint8_t* data, std::uint32_t length, const SBox* sBox,
                         const std::uint8_t* startVector, std::uint32_t* mac, std::uint8_t* tail,
                         std::uint32_t* tailLength, const char* password, const std::uint8_t* key)
{
    if (!lib.initialized) return kNotInitialized;
    // Nothing is set up for a call that names neither a password nor a key.
    if (password == nullptr && key == nullptr) return kBadArgument;
    const std::uint32_t extra = (8 - length % 8) % 8;
    if (sBox == nullptr || mac == nullptr || (data == nullptr && length != 0)) return kBadArgument;
    // Tail outputs may be left out only where no tail arises.
    if (extra != 0 && (tail == nullptr || tailLength == nullptr)) return kBadArgument;
    if (length > 0xFFFFFFFFu - 8) return kBadArgument;
    try {
        Cipher cipher(lib);
        int r = KeyCipher(lib, cipher, sBox, startVector, password, key);
        if (r != kOk) return r;
        const std::uint32_t rounded = length + extra;
        std::unique_ptr<std::uint8_t[]> copy;
        std::uint8_t* work = data;
        if (extra != 0) {
            copy.reset(new (std::nothrow) std::uint8_t[rounded]);
            if (!copy) return kNoMemory;
            std::memset(copy.get(), 0, rounded);
            std::memcpy(copy.get(), data, length);
            work = copy.get();
        }
        std::uint32_t computed = 0;
        const bool ok = lib.GOST28147GetDataMAC(work, length, cipher.state.get()) &&
                        lib.GOST28147GetStateParameters(cipher.state.get(), &computed, kMac) &&
                        lib.GOST28147EncryptDataSSMode(work, rounded / 8, cipher.state.get());
        if (ok) {
            *mac = computed;
            if (extra != 0) {
                std::memcpy(data, work, length);
                std::memset(tail, 0, 8);
                std::memcpy(tail, work + length, extra);
                *tailLength = extra;
            } else if (tailLength != nullptr) {
                *tailLength = 0;
            }
        }
        if (copy) Wipe(copy.get(), rounded);
        return ok ? kOk : kLibraryError;
    } catch (...) {
        return kLibraryError;
    }
}

int UnprotectDataGOST28147(const Library& lib, std::uint8_t* data, std::uint32_t length, const SBox* sBox,
                           const std::uint8_t* startVector, std::uint32_t expectedMac, const std::uint8_t* tail,
                           std::uint32_t tailLength, const char* password, const std::uint8_t* key)
{
    if (!lib.initialized) return kNotInitialized;
    if (password == nullptr && key == nullptr) return kBadArgument;
    const std::uint32_t extra = (8 - length % 8) % 8;
    if (sBox == nullptr || (data == nullptr && length != 0) || length > 0xFFFFFFFFu - 8) return kBadArgument;
    if (extra != 0 && (tail == nullptr || tailLength != extra)) return kBadArgument;
    try {
        Cipher cipher(lib);
        int r = KeyCipher(lib, cipher, sBox, startVector, password, key);
        if (r != kOk) return r;
        // The data is decrypted in a working copy and written back only when
        // the MAC matches, so a damaged block leaves the data as given.
        const std::uint32_t rounded = length + extra;
        std::unique_ptr<std::uint8_t[]> work(new (std::nothrow) std::uint8_t[rounded == 0 ? 1 : rounded]);
        if (!work) return kNoMemory;
        if (length != 0) std::memcpy(work.get(), data, length);
        if (extra != 0) std::memcpy(work.get() + length, tail, extra);
        std::uint32_t computed = 0;
        int result = kLibraryError;
        if (lib.GOST28147DecryptDataSSMode(work.get(), rounded / 8, cipher.state.get()) &&
            lib.GOST28147GetDataMAC(work.get(), length, cipher.state.get()) &&
            lib.GOST28147GetStateParameters(cipher.state.get(), &computed, kMac)) {
            result = computed == expectedMac ? kOk : kValueMismatch;
            if (result == kOk && length != 0) std::memcpy(data, work.get(), length);
        }
        Wipe(work.get(), rounded);
        return result;
    } catch (...) {
        return kLibraryError;
    }
}

int EncryptWithRandomKeyGOST28147Ctx(const Library& lib, Context* c, std::uint8_t* data, std::uint32_t length,
                                     const SBox* sBox, std::uint8_t* key, std::uint8_t* iv)
{
    return RandomKeyThen(lib, c, data, length, sBox, key, iv, lib.GOST28147EncryptDataGMode);
}

int CryptGammaGOST28147(const Library& lib, std::uint8_t* data, std::uint32_t length, const SBox* sBox,
                        const std::uint8_t* key, const std::uint8_t* iv)
{
    if (!lib.initialized) return kNotInitialized;
    try {
        return OneShot(lib, data, length, sBox, key, iv, lib.GOST28147EncryptDataGMode);
    } catch (...) {
        return kLibraryError;
    }
}

int EncryptWithRandomKeyCFBGOST28147Ctx(const Library& lib, Context* c, std::uint8_t* data, std::uint32_t length,
                                        const SBox* sBox, std::uint8_t* key, std::uint8_t* iv)
{
    if (!lib.initialized) return kNotInitialized;
    if (c == nullptr) return kBadArgument;
    return RandomKeyThen(lib, c, data, length, sBox, key, iv, lib.GOST28147EncryptDataGOFBMode);
}

int DecryptCFBGOST28147(const Library& lib, std::uint8_t* data, std::uint32_t length, const SBox* sBox,
                        const std::uint8_t* key, const std::uint8_t* iv)
{
    if (!lib.initialized) return kNotInitialized;
    try {
        return OneShot(lib, data, length, sBox, key, iv, lib.GOST28147DecryptDataGOFBMode);
    } catch (...) {
        return kLibraryError;
    }
}

int EncryptCFBGOST28147Ctx(const Library& lib, Context* c, std::uint8_t* data, std::uint32_t length, const SBox* sBox,
                           std::uint8_t* key, std::uint8_t* iv, int drawKey, int drawIv)
{
    if (!lib.initialized) return kNotInitialized;
    if (c == nullptr || key == nullptr || iv == nullptr) return kBadArgument;
    try {
        if (drawKey) {
            const int r = Draw(lib, c, key, 32);
            if (r != kOk) return r;
        }
        if (drawIv) {
            const int r = Draw(lib, c, iv, 8);
            if (r != kOk) return r;
        }
        return OneShot(lib, data, length, sBox, key, iv, lib.GOST28147EncryptDataGOFBMode);
    } catch (...) {
        return kLibraryError;
    }
}

namespace {

int CreateSession(const Library& lib, const SBox* sBox, const std::uint8_t* key, const std::uint8_t* iv, bool keyAndIv,
                  void** session)
{
    Cipher cipher(lib);
    if (!cipher.state) return kNoMemory;
    if (!cipher.Set(sBox, kSBox)) return kLibraryError;
    if (keyAndIv && (!cipher.Set(key, kKey) || !cipher.Set(iv, kIv))) return kLibraryError;
    auto* block = new (std::nothrow) std::uint8_t[kSessionBytes];
    if (block == nullptr) return kNoMemory;
    std::memcpy(block, cipher.state.get(), kSessionBytes);
    *session = block;
    return kOk;
}

}  // namespace

int CreateSenderSessionGOST28147Ctx(const Library& lib, Context* c, const SBox* sBox, std::uint8_t* key,
                                    std::uint8_t* iv, int draw, void** session)
{
    if (!lib.initialized) return kNotInitialized;
    if (c == nullptr || sBox == nullptr || session == nullptr) return kBadArgument;
    try {
        const bool keyAndIv = key != nullptr && iv != nullptr;
        if (keyAndIv && draw) {
            const int r = DrawKeyAndIv(lib, c, key, iv);
            if (r != kOk) return r;
        }
        return CreateSession(lib, sBox, key, iv, keyAndIv, session);
    } catch (...) {
        return kLibraryError;
    }
}

int CreateSenderSessionGOST28147OptCtx(const Library& lib, Context* c, const SBox* sBox, std::uint8_t* key,
                                       std::uint8_t* iv, int drawKey, int drawIv, void** session)
{
    if (!lib.initialized) return kNotInitialized;
    if (c == nullptr) return kBadArgument;
    try {
        if ((drawKey != 0) != (drawIv != 0)) {
            std::uint8_t* target = drawKey ? key : iv;
            if (target == nullptr) return kBadArgument;
            const int r = Draw(lib, c, target, drawKey ? 32 : 8);
            if (r != kOk) return r;
            return CreateSenderSessionGOST28147Ctx(lib, c, sBox, key, iv, 0, session);
        }
        return CreateSenderSessionGOST28147Ctx(lib, c, sBox, key, iv, drawKey ? 1 : 0, session);
    } catch (...) {
        return kLibraryError;
    }
}

int CreateReceiverSessionGOST28147Ctx(const Library& lib, Context* c, const SBox* sBox, const std::uint8_t* key,
                                      const std::uint8_t* iv, void** session)
{
    if (!lib.initialized) return kNotInitialized;
    if (c == nullptr || sBox == nullptr || key == nullptr || iv == nullptr || session == nullptr) return kBadArgument;
    try {
        return CreateSession(lib, sBox, key, iv, true, session);
    } catch (...) {
        return kLibraryError;
    }
}

int CryptSessionGOST28147Ctx(const Library& lib, Context* c, std::uint8_t* data, std::uint32_t length, void* session)
{
    if (!lib.initialized) return kNotInitialized;
    // A null session never reaches the library.
    if (c == nullptr || session == nullptr || (data == nullptr && length != 0)) return kBadArgument;
    try {
        return lib.GOST28147EncryptDataGMode(data, length, session) ? kOk : kLibraryError;
    } catch (...) {
        return kLibraryError;
    }
}

int CryptSessionGOST28147WithIVCtx(const Library& lib, Context* c, std::uint8_t* data, std::uint32_t length,
                                   std::uint32_t ivLow, std::uint32_t ivHigh, void* session)
{
    if (!lib.initialized) return kNotInitialized;
    if (c == nullptr || session == nullptr || (data == nullptr && length != 0)) return kBadArgument;
    try {
        std::uint8_t iv[8];
        for (int i = 0; i < 4; ++i) {
            iv[i] = static_cast<std::uint8_t>(ivLow >> (8 * i));
            iv[4 + i] = static_cast<std::uint8_t>(ivHigh >> (8 * i));
        }
        if (!lib.GOST28147SetStateParameters(session, iv, kNewIv)) return kLibraryError;
        return lib.GOST28147EncryptDataGMode(data, length, session) ? kOk : kLibraryError;
    } catch (...) {
        return kLibraryError;
    }
}

int DestroySessionGOST28147Ctx(const Library& lib, Context* c, void** session)
{
    if (!lib.initialized) return kNotInitialized;
    if (c == nullptr) return kBadArgument;
    if (session == nullptr || *session == nullptr) return kOk;
    auto* block = static_cast<std::uint8_t*>(*session);
    Wipe(block, kSessionBytes);
    delete[] block;
    *session = nullptr;
    return kOk;
}

int CryptCFBSessionGOST28147(const Library& lib, std::uint8_t* data, std::uint32_t length, void* session, bool encrypt)
{
    if (!lib.initialized) return kNotInitialized;
    if (session == nullptr || (data == nullptr && length != 0)) return kBadArgument;
    try {
        const int ok = encrypt ? lib.GOST28147EncryptDataGOFBMode(data, length, session)
                               : lib.GOST28147DecryptDataGOFBMode(data, length, session);
        return ok ? kOk : kLibraryError;
    } catch (...) {
        return kLibraryError;
    }
}

int SetHardwareSBoxCtx(const Library& lib, Context* c, const void* a1, const void* a2, const void* a3,
                       const std::uint8_t* sBox)
{
    if (!lib.initialized) return kNotInitialized;
    if (c == nullptr) return kBadArgument;
    if (c->hardware == nullptr) return kOk;
    try {
        return c->hardware->SetSBox(a1, a2, a3, sBox) ? kOk : kHardwareError;
    } catch (...) {
        return kLibraryError;
    }
}

}  // namespace cspcalls
