// DSTU 4145 signatures, verification, parameter checks, key pairs and public
// keys: the library state is filled in a fixed order, one library operation
// runs, results are read back. Without a private key the work goes to the
// context's hardware object.
#include <cstring>
#include <new>

#include "csp/CSPCallsCommon.h"
#include "csp/CSPCallsOperations.h"

namespace cspcalls {

namespace {

enum : std::uint32_t {
    kCodeField = 2,
    kCodePoint = 3,
    kCodePrivate = 5,
    kCodePublic = 6,
    kCodePrng = 8,
    kCodeSignature = 9,
    kCodeHash = 12,
    kCodeHashWords = 18,
    kCodeBits = 20
};

constexpr std::uint32_t kMaxHash = 64;
constexpr std::size_t kSignatureBytes = 152;
// Feature numbers the provider answers itself: 8, 10, 12, 13, 15, 16, 18,
// 19, 20, 22 and 23.
constexpr std::uint32_t kOwnFeatures = 0xDDB500;
constexpr std::uint32_t kFeatureDense = 24;

bool Set(const Library& lib, void* s, const void* value, std::uint32_t code)
{
    return lib.DSTU4145SetStateParameters(s, value, code) != 0;
}
bool Get(const Library& lib, void* s, void* out, std::uint32_t code)
{
    return lib.DSTU4145GetStateParameters(s, out, code) != 0;
}

ScopedState Acquire(const Library& lib, int check)
{
    return ScopedState(lib.DSTU4145AcquireState(check, 0), lib.DSTU4145ReleaseState);
}

bool SetCurve(const Library& lib, void* s, const Field* field, Point* point)
{
    return Set(lib, s, field, kCodeField) && Set(lib, s, point, kCodePoint);
}

// The bit length of n into the point record's last word.
bool ReadBits(const Library& lib, void* s, Point* point)
{
    return Get(lib, s, &point->words[DSTU4145_POINT_BITS], kCodeBits);
}

int Probe(const Library& lib, Context* c, bool signatureForm, std::uint32_t feature)
{
    Field field{};
    Point point{};
    point.words[DSTU4145_POINT_BITS] = feature;
    return signatureForm ? GenerateSignatureKeyPairDSTU4145Ctx(lib, c, &field, &point, nullptr, nullptr)
                         : GenerateAgreementKeyPairDSTU4145Ctx(lib, c, &field, &point, nullptr, nullptr);
}

int GenerateKeyPair(const Library& lib, Context* c, const Field* field, Point* point, std::uint8_t* privateKey,
                    std::uint8_t* publicKey, bool signatureForm)
{
    if (!lib.initialized) return kNotInitialized;
    if (c == nullptr || field == nullptr || point == nullptr) return kBadArgument;
    try {
        if (privateKey != nullptr) {
            if (c->prng == nullptr) return kNoObject;
            ScopedState s = Acquire(lib, 0);
            if (!s) return kNoMemory;
            if (!SetCurve(lib, s.get(), field, point)) return kBadParameters;
            if (!Set(lib, s.get(), c->prng, kCodePrng) || !lib.DSTU4145GenerateParameters(s.get(), 3) ||
                !Get(lib, s.get(), privateKey, kCodePrivate))
                return kLibraryError;
            // A caller may want the private key alone.
            if (publicKey != nullptr && !Get(lib, s.get(), publicKey, kCodePublic)) return kLibraryError;
            return ReadBits(lib, s.get(), point) ? kOk : kLibraryError;
        }
        const std::uint32_t m = field->words[DSTU4145_FIELD_M];
        const std::uint32_t feature = point->words[DSTU4145_POINT_BITS];
        if (signatureForm && publicKey == nullptr && m == 0 && feature <= kFeatureDense) {
            if (feature < 24 && ((kOwnFeatures >> feature) & 1) != 0) return kOk;
            if (feature == kFeatureDense) {
                if (lib.DSTU4145IsDenseNumbersSupported == nullptr) return kLibraryError;
                return lib.DSTU4145IsDenseNumbersSupported() ? kOk : kLibraryError;
            }
        }
        if (c->hardware == nullptr) return kNoObject;
        if (m != 0) {
            const int check = CheckParametersDSTU4145Ctx(lib, field, point, 0);
            if (check != kOk) return check;
        }
        const int ok = signatureForm ? c->hardware->GenerateSignatureKeyPair(field, point, publicKey)
                                     : c->hardware->GenerateAgreementKeyPair(field, point, publicKey);
        return ok ? kOk : kHardwareError;
    } catch (...) {
        return kLibraryError;
    }
}

int CheckKeyPair(const Library& lib, Context* c, const Field* field, Point* point, const std::uint8_t* privateKey,
                 const std::uint8_t* publicKey, bool signatureForm)
{
    if (!lib.initialized) return kNotInitialized;
    if (c == nullptr || field == nullptr || point == nullptr) return kBadArgument;
    try {
        if (privateKey != nullptr) {
            if (c->prng == nullptr) return kNoObject;
            ScopedState s = Acquire(lib, 1);
            if (!s) return kNoMemory;
            if (!SetCurve(lib, s.get(), field, point) || !ReadBits(lib, s.get(), point) ||
                !Set(lib, s.get(), privateKey, kCodePrivate))
                return kBadParameters;
            if (publicKey == nullptr) return kOk;
            if (!Set(lib, s.get(), publicKey, kCodePublic)) return kBadParameters;
            WipedBuffer<DSTU4145_NUMBER_BYTES> computed;
            if (!Set(lib, s.get(), c->prng, kCodePrng) || !lib.DSTU4145GenerateParameters(s.get(), 2) ||
                !Get(lib, s.get(), computed.data(), kCodePublic))
                return kLibraryError;
            return std::memcmp(computed.data(), publicKey, DSTU4145_NUMBER_BYTES) == 0 ? kOk : kBadParameters;
        }
        if (c->hardware == nullptr) return kNoObject;
        const int check = CheckParametersDSTU4145Ctx(lib, field, point, 1);
        if (check != kOk) return check;
        const int ok = signatureForm ? c->hardware->CheckSignaturePublicKey(field, point, publicKey)
                                     : c->hardware->CheckAgreementPublicKey(field, point, publicKey);
        return ok ? kOk : kHardwareError;
    } catch (...) {
        return kLibraryError;
    }
}

int GetPublicKey(const Library& lib, Context* c, const Field* field, Point* point, const std::uint8_t* privateKey,
                 std::uint8_t* publicKey, bool signatureForm)
{
    if (!lib.initialized) return kNotInitialized;
    if (c == nullptr || field == nullptr || point == nullptr || publicKey == nullptr) return kBadArgument;
    try {
        if (privateKey != nullptr) {
            if (c->prng == nullptr) return kNoObject;
            ScopedState s = Acquire(lib, 1);
            if (!s) return kNoMemory;
            if (!SetCurve(lib, s.get(), field, point) || !ReadBits(lib, s.get(), point) ||
                !Set(lib, s.get(), privateKey, kCodePrivate))
                return kBadParameters;
            std::memset(publicKey, 0, DSTU4145_NUMBER_BYTES);
            if (!Set(lib, s.get(), c->prng, kCodePrng) || !lib.DSTU4145GenerateParameters(s.get(), 2) ||
                !Get(lib, s.get(), publicKey, kCodePublic))
                return kLibraryError;
            return kOk;
        }
        if (c->hardware == nullptr) return kNoObject;
        // Both key kinds ask the signature form whether the key hands its keys out.
        if (Probe(lib, c, true, 11) != kOk) return kLibraryError;
        const int check = CheckParametersDSTU4145Ctx(lib, field, point, 1);
        if (check != kOk) return check;
        // The check above refused an empty field record, so the hardware
        // object only compares the records and never fills them.
        auto* records = const_cast<Field*>(field);
        const int ok = signatureForm ? c->hardware->QuerySignaturePublicKey(records, point, publicKey)
                                     : c->hardware->QueryAgreementPublicKey(records, point, publicKey);
        return ok ? kOk : kHardwareError;
    } catch (...) {
        return kLibraryError;
    }
}

// Software signing; hash is either 32 bytes as given (words 0) or a 64-byte
// padded copy with its word count.
int SignSoftware(const Library& lib, Context* c, const std::uint8_t* hash, std::uint32_t words, const Field* field,
                 Point* point, const std::uint8_t* privateKey, std::uint8_t* signature)
{
    if (c->prng == nullptr) return kNoObject;
    ScopedState s = Acquire(lib, 0);
    if (!s) return kNoMemory;
    if (!SetCurve(lib, s.get(), field, point) || !Set(lib, s.get(), privateKey, kCodePrivate)) return kBadParameters;
    if (!Set(lib, s.get(), c->prng, kCodePrng)) return kLibraryError;
    if (words != 0 && !Set(lib, s.get(), &words, kCodeHashWords)) return kLibraryError;
    if (!Set(lib, s.get(), hash, kCodeHash) || !lib.DSTU4145SignHash(s.get()) ||
        !Get(lib, s.get(), signature, kCodeSignature) || !ReadBits(lib, s.get(), point))
        return kLibraryError;
    return kOk;
}

}  // namespace

int CheckParametersDSTU4145Ctx(const Library& lib, const Field* field, Point* point, int check)
{
    if (!lib.initialized) return kNotInitialized;
    if (field == nullptr || point == nullptr) return kBadArgument;
    try {
        ScopedState s = Acquire(lib, check);
        if (!s) return kNoMemory;
        return SetCurve(lib, s.get(), field, point) && ReadBits(lib, s.get(), point) ? kOk : kBadParameters;
    } catch (...) {
        return kLibraryError;
    }
}

int SignHashDSTU4145Ctx(const Library& lib, Context* c, const std::uint8_t* hash, const Field* field, Point* point,
                        const std::uint8_t* privateKey, std::uint8_t* signature)
{
    if (!lib.initialized) return kNotInitialized;
    if (c == nullptr || hash == nullptr || field == nullptr || point == nullptr || signature == nullptr)
        return kBadArgument;
    try {
        if (privateKey != nullptr) return SignSoftware(lib, c, hash, 0, field, point, privateKey, signature);
        if (c->hardware == nullptr) return kNoObject;
        const int check = CheckParametersDSTU4145Ctx(lib, field, point, 0);
        if (check != kOk) return check;
        return c->hardware->SignHash(field, point, hash, signature) ? kOk : kHardwareError;
    } catch (...) {
        return kLibraryError;
    }
}

int SignHashDSTU4145ExCtx(const Library& lib, Context* c, std::uint32_t hashLength, const std::uint8_t* hash,
                          const Field* field, Point* point, const std::uint8_t* privateKey, std::uint8_t* signature)
{
    if (!lib.initialized) return kNotInitialized;
    if (c == nullptr || hashLength > kMaxHash) return kBadArgument;
    if (hash == nullptr || field == nullptr || point == nullptr || signature == nullptr) return kBadArgument;
    try {
        WipedBuffer<kMaxHash> padded;
        std::memcpy(padded.data(), hash, hashLength);
        if (privateKey != nullptr)
            return SignSoftware(lib, c, padded.data(), (hashLength + 3) / 4, field, point, privateKey, signature);
        if (c->hardware == nullptr) return kNoObject;
        const int check = CheckParametersDSTU4145Ctx(lib, field, point, 0);
        if (check != kOk) return check;
        if (Probe(lib, c, true, 17) == kOk)
            return c->hardware->SignHashEx(field, point, hashLength, hash, signature) ? kOk : kHardwareError;
        if (hashLength != 32) return kLibraryError;
        return c->hardware->SignHash(field, point, padded.data(), signature) ? kOk : kHardwareError;
    } catch (...) {
        return kLibraryError;
    }
}

int VerifyHashSignatureDSTU4145Ctx(const Library& lib, Context* c, const std::uint8_t* hash, const Field* field,
                                   Point* point, const std::uint8_t* publicKey, const std::uint8_t* signature)
{
    if (!lib.initialized) return kNotInitialized;
    if (c == nullptr || hash == nullptr || field == nullptr || point == nullptr || publicKey == nullptr ||
        signature == nullptr)
        return kBadArgument;
    try {
        if (c->hardware != nullptr && Probe(lib, c, false, 2) == kOk) {
            const int check = CheckParametersDSTU4145Ctx(lib, field, point, 0);
            if (check != kOk) return check;
            // The request block: the field record with the cofactor word
            // 0xFFFFFFFF, then the public key.
            auto* block = new (std::nothrow) std::uint8_t[176];
            if (block != nullptr) {
                std::memset(block, 0, 176);
                std::memcpy(block, field, sizeof *field);
                std::memcpy(block + 100, publicKey, DSTU4145_NUMBER_BYTES);
                const std::uint32_t marker = 0xFFFFFFFFu;
                std::memcpy(block + 96, &marker, 4);
                // The hardware signer writes into its last argument: it gets a
                // copy, never the caller's signature.
                WipedBuffer<kSignatureBytes> copy;
                std::memcpy(copy.data(), signature, kSignatureBytes);
                const int ok = c->hardware->SignHash(reinterpret_cast<const Field*>(block), point, hash, copy.data());
                delete[] block;
                return ok ? kOk : kInvalidSignature;
            }
        }
        ScopedState s = Acquire(lib, 0);
        if (!s) return kNoMemory;
        if (!SetCurve(lib, s.get(), field, point) || !Set(lib, s.get(), publicKey, kCodePublic) ||
            !Set(lib, s.get(), signature, kCodeSignature))
            return kBadParameters;
        if (!Set(lib, s.get(), hash, kCodeHash)) return kLibraryError;
        return lib.DSTU4145VerifySignature(s.get()) ? kOk : kInvalidSignature;
    } catch (...) {
        return kLibraryError;
    }
}

int VerifySignatureDSTU4145(const Library& lib, std::uint32_t hashLength, const std::uint8_t* hash, const Field* field,
                            Point* point, const std::uint8_t* publicKey, const std::uint8_t* signature)
{
    if (!lib.initialized) return kNotInitialized;
    if (hashLength > kMaxHash || hash == nullptr || field == nullptr || point == nullptr || publicKey == nullptr ||
        signature == nullptr)
        return kBadArgument;
    try {
        ScopedState s = Acquire(lib, 0);
        if (!s) return kNoMemory;
        if (!SetCurve(lib, s.get(), field, point) || !Set(lib, s.get(), publicKey, kCodePublic) ||
            !Set(lib, s.get(), signature, kCodeSignature))
            return kBadParameters;
        WipedBuffer<kMaxHash> padded;
        std::memcpy(padded.data(), hash, hashLength);
        const std::uint32_t words = (hashLength + 3) / 4;
        if (!Set(lib, s.get(), &words, kCodeHashWords) || !Set(lib, s.get(), padded.data(), kCodeHash))
            return kLibraryError;
        Wipe(padded.data(), kMaxHash);
        return lib.DSTU4145VerifySignature(s.get()) ? kOk : kInvalidSignature;
    } catch (...) {
        return kLibraryError;
    }
}

int GenerateSignatureKeyPairDSTU4145Ctx(const Library& lib, Context* c, const Field* field, Point* point,
                                        std::uint8_t* privateKey, std::uint8_t* publicKey)
{
    return GenerateKeyPair(lib, c, field, point, privateKey, publicKey, true);
}

int GenerateAgreementKeyPairDSTU4145Ctx(const Library& lib, Context* c, const Field* field, Point* point,
                                        std::uint8_t* privateKey, std::uint8_t* publicKey)
{
    return GenerateKeyPair(lib, c, field, point, privateKey, publicKey, false);
}

int CheckSignatureKeyPairDSTU4145Ctx(const Library& lib, Context* c, const Field* field, Point* point,
                                     const std::uint8_t* privateKey, const std::uint8_t* publicKey)
{
    return CheckKeyPair(lib, c, field, point, privateKey, publicKey, true);
}

int CheckAgreementKeyPairDSTU4145Ctx(const Library& lib, Context* c, const Field* field, Point* point,
                                     const std::uint8_t* privateKey, const std::uint8_t* publicKey)
{
    return CheckKeyPair(lib, c, field, point, privateKey, publicKey, false);
}

int GetSignaturePublicKeyDSTU4145Ctx(const Library& lib, Context* c, const Field* field, Point* point,
                                     const std::uint8_t* privateKey, std::uint8_t* publicKey)
{
    return GetPublicKey(lib, c, field, point, privateKey, publicKey, true);
}

int GetAgreementPublicKeyDSTU4145Ctx(const Library& lib, Context* c, const Field* field, Point* point,
                                     const std::uint8_t* privateKey, std::uint8_t* publicKey)
{
    return GetPublicKey(lib, c, field, point, privateKey, publicKey, false);
}

}  // namespace cspcalls
