// DSTU 4145 work over the library's dense records: every buffer comes with
// its size, folded into the parameter code as code + (size << 16). Software
// only. A size that does not fit the 16 bits of the code is refused rather
// than folded into the neighbouring code bits.
#include <cstring>
#include <memory>
#include <new>

#include "csp/CSPCallsCommon.h"
#include "csp/CSPCallsOperations.h"

namespace cspcalls {

namespace {

enum : std::uint32_t { kRecord = 28, kPrivate = 29, kPublic = 30, kSignature = 31 };
constexpr std::uint32_t kMaxHash = 64;
// Bytes 24..27 of the record receive the library's parameter 20.
constexpr std::uint32_t kMinRecord = 28;
constexpr std::uint32_t kMaxSize = 0xFFFF;

std::uint32_t Code(std::uint32_t code, std::uint32_t size)
{
    return code + (size << 16);
}

bool SizeFits(std::uint32_t size)
{
    return size <= kMaxSize;
}

bool Set(const Library& lib, void* s, const void* v, std::uint32_t code)
{
    return lib.DSTU4145SetStateParameters(s, v, code) != 0;
}
bool Get(const Library& lib, void* s, void* out, std::uint32_t code)
{
    return lib.DSTU4145GetStateParameters(s, out, code) != 0;
}

void StoreBits(std::uint8_t* record, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) record[24 + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

bool RecordOk(const std::uint8_t* record, std::uint32_t size)
{
    return record != nullptr && size >= kMinRecord && SizeFits(size);
}

// The common checks of the context forms.
int Precheck(const Library& lib, Context* c, const std::uint8_t* record, std::uint32_t size)
{
    if (!lib.initialized) return kNotInitialized;
    if (c == nullptr || !RecordOk(record, size)) return kBadArgument;
    if (c->prng == nullptr) return kNoObject;
    return kOk;
}

// Sets the record and the private key; the bit length goes to bytes 24..27
// once both were taken.
int SetRecordAndPrivate(const Library& lib, void* s, std::uint8_t* record, std::uint32_t size,
                        const std::uint8_t* privateKey, std::uint32_t privateSize)
{
    std::uint32_t bits = 0;
    if (!Set(lib, s, record, Code(kRecord, size)) || !Get(lib, s, &bits, 20) ||
        !Set(lib, s, privateKey, Code(kPrivate, privateSize)))
        return kBadParameters;
    StoreBits(record, bits);
    return kOk;
}

}  // namespace

int QueryParametersDSTU4145Ctx(const Library& lib, std::uint8_t* record, std::uint32_t size, int check)
{
    if (!lib.initialized) return kNotInitialized;
    if (!RecordOk(record, size)) return kBadArgument;
    try {
        std::uint32_t bits = 0;
        {
            ScopedState s(lib.DSTU4145AcquireState(check, 0), lib.DSTU4145ReleaseState);
            if (!s) return kNoMemory;
            if (!Set(lib, s.get(), record, Code(kRecord, size)) || !Get(lib, s.get(), &bits, 20)) return kBadParameters;
        }
        StoreBits(record, bits);
        return kOk;
    } catch (...) {
        return kLibraryError;
    }
}

int GenerateKeyPairDSTU4145SizedCtx(const Library& lib, Context* c, std::uint8_t* record, std::uint32_t size,
                                    std::uint8_t* privateKey, std::uint32_t privateSize, std::uint8_t* publicKey,
                                    std::uint32_t publicSize)
{
    int r = Precheck(lib, c, record, size);
    if (r != kOk) return r;
    if (privateKey == nullptr || publicKey == nullptr || !SizeFits(privateSize) || !SizeFits(publicSize))
        return kBadArgument;
    try {
        ScopedState s(lib.DSTU4145AcquireState(0, 0), lib.DSTU4145ReleaseState);
        if (!s) return kNoMemory;
        if (!Set(lib, s.get(), record, Code(kRecord, size))) return kBadParameters;
        std::uint32_t bits = 0;
        if (!Set(lib, s.get(), c->prng, 8) || !lib.DSTU4145GenerateParameters(s.get(), 3) ||
            !Get(lib, s.get(), privateKey, Code(kPrivate, privateSize)) ||
            !Get(lib, s.get(), publicKey, Code(kPublic, publicSize)) || !Get(lib, s.get(), &bits, 20))
            return kLibraryError;
        StoreBits(record, bits);
        return kOk;
    } catch (...) {
        return kLibraryError;
    }
}

int GetPublicKeyDSTU4145SizedCtx(const Library& lib, Context* c, std::uint8_t* record, std::uint32_t size,
                                 const std::uint8_t* privateKey, std::uint32_t privateSize, std::uint8_t* publicKey,
                                 std::uint32_t publicSize)
{
    int r = Precheck(lib, c, record, size);
    if (r != kOk) return r;
    if (privateKey == nullptr || publicKey == nullptr || !SizeFits(privateSize) || !SizeFits(publicSize))
        return kBadArgument;
    try {
        ScopedState s(lib.DSTU4145AcquireState(1, 0), lib.DSTU4145ReleaseState);
        if (!s) return kNoMemory;
        r = SetRecordAndPrivate(lib, s.get(), record, size, privateKey, privateSize);
        if (r != kOk) return r;
        if (!Set(lib, s.get(), c->prng, 8) || !lib.DSTU4145GenerateParameters(s.get(), 2) ||
            !Get(lib, s.get(), publicKey, Code(kPublic, publicSize)))
            return kLibraryError;
        return kOk;
    } catch (...) {
        return kLibraryError;
    }
}

int CheckKeyPairDSTU4145SizedCtx(const Library& lib, Context* c, std::uint8_t* record, std::uint32_t size,
                                 const std::uint8_t* privateKey, std::uint32_t privateSize,
                                 const std::uint8_t* publicKey, std::uint32_t publicSize)
{
    int r = Precheck(lib, c, record, size);
    if (r != kOk) return r;
    if (privateKey == nullptr || !SizeFits(privateSize) || (publicKey != nullptr && !SizeFits(publicSize)))
        return kBadArgument;
    try {
        ScopedState s(lib.DSTU4145AcquireState(1, 0), lib.DSTU4145ReleaseState);
        if (!s) return kNoMemory;
        r = SetRecordAndPrivate(lib, s.get(), record, size, privateKey, privateSize);
        if (r != kOk) return r;
        if (publicKey == nullptr) return kOk;
        if (!Set(lib, s.get(), publicKey, Code(kPublic, publicSize))) return kBadParameters;
        std::uint32_t m;
        std::memcpy(&m, record, 4);
        const std::uint32_t length = (m + 7) / 8;
        if (!SizeFits(length)) return kBadParameters;
        std::unique_ptr<std::uint8_t[]> computed(new (std::nothrow) std::uint8_t[length == 0 ? 1 : length]);
        if (!computed) return kNoMemory;
        std::memset(computed.get(), 0, length);
        if (!Set(lib, s.get(), c->prng, 8) || !lib.DSTU4145GenerateParameters(s.get(), 2) ||
            !Get(lib, s.get(), computed.get(), Code(kPublic, length)))
            return kLibraryError;
        const std::uint32_t common = publicSize < length ? publicSize : length;
        bool equal = std::memcmp(computed.get(), publicKey, common) == 0;
        for (std::uint32_t i = common; i < length && equal; ++i) equal = computed[i] == 0;
        return equal ? kOk : kBadParameters;
    } catch (...) {
        return kLibraryError;
    }
}

int SignHashDSTU4145SizedCtx(const Library& lib, Context* c, std::uint32_t hashLength, const std::uint8_t* hash,
                             std::uint8_t* record, std::uint32_t size, const std::uint8_t* privateKey,
                             std::uint32_t privateSize, std::uint8_t* signature, std::uint32_t signatureSize)
{
    if (!lib.initialized) return kNotInitialized;
    if (c == nullptr || hashLength > kMaxHash) return kBadArgument;
    int r = Precheck(lib, c, record, size);
    if (r != kOk) return r;
    if (hash == nullptr || privateKey == nullptr || signature == nullptr || !SizeFits(privateSize) ||
        !SizeFits(signatureSize))
        return kBadArgument;
    try {
        ScopedState s(lib.DSTU4145AcquireState(0, 0), lib.DSTU4145ReleaseState);
        if (!s) return kNoMemory;
        if (!Set(lib, s.get(), record, Code(kRecord, size)) ||
            !Set(lib, s.get(), privateKey, Code(kPrivate, privateSize)))
            return kBadParameters;
        WipedBuffer<kMaxHash> padded;
        std::memcpy(padded.data(), hash, hashLength);
        const std::uint32_t words = (hashLength + 3) / 4;
        std::uint32_t bits = 0;
        if (!Set(lib, s.get(), c->prng, 8) || !Set(lib, s.get(), &words, 18) || !Set(lib, s.get(), padded.data(), 12) ||
            !lib.DSTU4145SignHash(s.get()) || !Get(lib, s.get(), signature, Code(kSignature, signatureSize)) ||
            !Get(lib, s.get(), &bits, 20))
            return kLibraryError;
        StoreBits(record, bits);
        return kOk;
    } catch (...) {
        return kLibraryError;
    }
}

int VerifySignatureDSTU4145Sized(const Library& lib, std::uint32_t hashLength, const std::uint8_t* hash,
                                 std::uint8_t* record, std::uint32_t size, const std::uint8_t* publicKey,
                                 std::uint32_t publicSize, const std::uint8_t* signature, std::uint32_t signatureSize)
{
    if (!lib.initialized) return kNotInitialized;
    // The same hash bound as the context forms: the copy below holds 64 bytes.
    if (hashLength > kMaxHash || hash == nullptr || !RecordOk(record, size) || publicKey == nullptr ||
        signature == nullptr || !SizeFits(publicSize) || !SizeFits(signatureSize))
        return kBadArgument;
    try {
        ScopedState s(lib.DSTU4145AcquireState(0, 0), lib.DSTU4145ReleaseState);
        if (!s) return kNoMemory;
        if (!Set(lib, s.get(), record, Code(kRecord, size)) ||
            !Set(lib, s.get(), publicKey, Code(kPublic, publicSize)) ||
            !Set(lib, s.get(), signature, Code(kSignature, signatureSize)))
            return kBadParameters;
        WipedBuffer<kMaxHash> padded;
        std::memcpy(padded.data(), hash, hashLength);
        const std::uint32_t words = (hashLength + 3) / 4;
        if (!Set(lib, s.get(), &words, 18) || !Set(lib, s.get(), padded.data(), 12)) return kLibraryError;
        Wipe(padded.data(), kMaxHash);
        return lib.DSTU4145VerifySignature(s.get()) ? kOk : kInvalidSignature;
    } catch (...) {
        return kLibraryError;
    }
}

}  // namespace cspcalls
