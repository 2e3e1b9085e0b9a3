// DSTU 4145 entries of the stand-in cgbase.so: the library state with its
// parameter codes, key generation, signing, verification, the dense-record
// codes and the two-party signing functions, over the shared engine.
//
// Parameter codes (set / get):
//   2 field record (25 words)          3 point record (39 words)
//   5 private key (76 bytes)           6 public key (76 bytes)
//   8 generator state handle (value)   9 signature (152 bytes)
//  12 hash: (word count) * 4 bytes, 8 words unless code 18 says otherwise
//  16 one-time value of two-party signing (76 bytes)
//  18 hash word count (address of a 32-bit value, 1 to 16)
//  20 get: the bit length of n (32-bit value)
//  28..31 + (size << 16): dense record, private key, public key, signature
// The acquire flag asks for the strict check of the curve records. The
// generator handle must be given for the operations that draw random numbers;
// the numbers themselves come from the engine's own source. Acquiring and
// signing answer failure when the test switch names them (CGExport.h).
#include <cstring>
#include <memory>
#include <new>

#include "CGExport.h"
#include "CgDSTU4145State.h"
#include "crypto/ByteOrder.h"
#include "crypto/DSTU7564.h"
#include "crypto/SecureWipe.h"

namespace cglib {

using dstu4145::Bytes;
using dstu4145::ByteSpan;
using dstu4145::Engine;
using dstu4145::Result;
using qvkcrypto::LoadLE32;

namespace {

constexpr std::uint32_t kMaxHashWords = kDstuMaxHashBytes / 4;

void Wipe(Bytes& b)
{
    qvkcrypto::SecureWipe(b.data(), b.size());
    b.clear();
}

bool AllZero(const std::uint8_t* p, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i)
        if (p[i] != 0) return false;
    return true;
}

// The number in the first `size` bytes, cut to its significant bytes.
Bytes Number(const std::uint8_t* p, std::size_t size)
{
    while (size > 0 && p[size - 1] == 0) --size;
    return Bytes(p, p + size);
}

}  // namespace

std::unique_ptr<Engine> EngineFromRecords(const std::uint32_t* field, const std::uint32_t* point, bool strict)
{
    dstu4145::Curve curve;
    if (dstu4145::CurveFromRecords(field, point, curve) != Result::Ok) return nullptr;
    auto engine = Engine::Create(curve);
    if (!engine) return nullptr;
    if (strict) {
        if (field[24] != static_cast<std::uint32_t>(engine->Cofactor())) return nullptr;
        if (point[38] != 0 && point[38] != static_cast<std::uint32_t>(engine->NBits())) return nullptr;
        // Words above each number must be zero.
        if (field[20] != 0) {
            const std::size_t words = (field[20] + 31) / 32;
            for (std::size_t i = words; i < 19; ++i)
                if (field[1 + i] != 0 || point[i] != 0 || point[19 + i] != 0) return nullptr;
        }
    }
    return engine;
}

std::unique_ptr<Engine> EngineFromDense(const std::uint8_t* record, std::size_t size)
{
    if (record == nullptr || size < kDenseHeaderBytes) return nullptr;
    const std::uint32_t m = LoadLE32(record);
    if (m == 0 || m > 608) return nullptr;
    const std::size_t fb = (m + 7) / 8;
    if (size < kDenseHeaderBytes + 3 * fb) return nullptr;
    dstu4145::Curve curve;
    curve.m = static_cast<int>(m);
    curve.k = static_cast<int>(LoadLE32(record + 4));
    curve.j = static_cast<int>(LoadLE32(record + 8));
    curve.l = static_cast<int>(LoadLE32(record + 12));
    const std::uint32_t a = LoadLE32(record + 16);
    if (a > 1 || curve.k <= 0 || static_cast<std::uint32_t>(curve.k) >= m || curve.j < 0 || curve.l < 0 ||
        static_cast<std::uint32_t>(curve.j) >= m || static_cast<std::uint32_t>(curve.l) >= m)
        return nullptr;
    curve.a = static_cast<int>(a);
    const std::uint8_t* p = record + kDenseHeaderBytes;
    curve.b.assign(p, p + fb);
    curve.n.assign(p + fb, p + 2 * fb);
    curve.p.assign(p + 2 * fb, p + 3 * fb);
    auto engine = Engine::Create(curve);
    if (!engine || LoadLE32(record + 20) != static_cast<std::uint32_t>(engine->Cofactor())) return nullptr;
    return engine;
}

bool PutNumber(const Bytes& value, std::uint8_t* out, std::size_t size)
{
    if (out == nullptr) return false;
    if (value.size() > size && !AllZero(value.data() + size, value.size() - size)) return false;
    const std::size_t n = value.size() < size ? value.size() : size;
    std::memcpy(out, value.data(), n);
    std::memset(out + n, 0, size - n);
    return true;
}

bool AgreeX(const Engine& engine, const std::uint8_t* privateKey, std::size_t privateSize, const std::uint8_t* peerKey,
            std::size_t peerSize, Bytes& x)
{
    if (privateKey == nullptr || peerKey == nullptr) return false;
    Bytes d = Number(privateKey, privateSize);
    const bool ok = engine.Agree(d, Number(peerKey, peerSize), x) == Result::Ok;
    Wipe(d);
    return ok;
}

bool HashDstu7564(const std::uint8_t* a, std::size_t aLength, const std::uint8_t* b, std::size_t bLength,
                  std::uint32_t bits, std::uint8_t* out)
{
    if (bits != 256 && bits != 384 && bits != 512) return false;
    Bytes all;
    if (aLength) all.insert(all.end(), a, a + aLength);
    if (bLength) all.insert(all.end(), b, b + bLength);
    DSTU7564Context* ctx = DSTU7564CreateContext();
    if (ctx == nullptr) return false;
    const std::uint64_t n = static_cast<std::uint64_t>(all.size()) * 8;
    const bool ok =
        DSTU7564SetParameter(ctx, &bits, DSTU7564_HASH_BITS) &&
        DSTU7564UpdateHash(all.data(), static_cast<std::uint32_t>(n), static_cast<std::uint32_t>(n >> 32), ctx) &&
        DSTU7564FinishHash(ctx) && DSTU7564GetParameter(ctx, out, DSTU7564_HASH);
    DSTU7564FreeContext(ctx);
    Wipe(all);
    return ok;
}

namespace {

struct DstuState {
    bool strict = false;
    std::uint32_t field[25] = {};
    bool haveField = false;
    std::unique_ptr<Engine> engine;
    Bytes privateKey, publicKey, signature, oneTime;
    const void* prng = nullptr;
    std::uint8_t hash[kDstuMaxHashBytes] = {};
    std::uint32_t hashWords = 8;
    bool haveHash = false;

    ~DstuState()
    {
        Wipe(privateKey);
        Wipe(oneTime);
        qvkcrypto::SecureWipe(hash, sizeof hash);
    }
    std::size_t HashBytes() const { return hashWords * 4; }
};

DstuState* State(void* handle)
{
    return static_cast<DstuState*>(handle);
}

// Reads a 76-byte (or sized) scalar below n.
bool SetScalar(DstuState& s, const std::uint8_t* p, std::size_t size, Bytes& into)
{
    if (!s.engine || p == nullptr) return false;
    Bytes v = Number(p, size);
    Bytes check;
    // A private key must give a public key; a one-time value must lie in [1, n-1] too.
    if (v.size() > s.engine->OrderBytes() || s.engine->PublicFromPrivate(v, check) != Result::Ok) {
        Wipe(v);
        return false;
    }
    Wipe(into);
    into.swap(v);
    into.resize(s.engine->OrderBytes(), 0);
    return true;
}

bool SetPublic(DstuState& s, const std::uint8_t* p, std::size_t size)
{
    if (!s.engine || p == nullptr) return false;
    Bytes v = Number(p, size);
    if (v.size() > s.engine->FieldBytes() || s.engine->CheckPublicKey(v) != Result::Ok) return false;
    v.resize(s.engine->FieldBytes(), 0);
    s.publicKey.swap(v);
    return true;
}

bool SetSignature(DstuState& s, const std::uint8_t* p, std::size_t size)
{
    if (!s.engine || p == nullptr) return false;
    const std::size_t len = s.engine->SignatureBytes();
    if (size < len) return false;
    // Extra bytes are kept so that the verification refuses nonzero ones.
    s.signature.assign(p, p + size);
    return true;
}

}  // namespace

}  // namespace cglib

using namespace cglib;

CG_EXPORT int DSTU4145SelfTest(void)
{
    return 1;
}

CG_EXPORT void* DSTU4145AcquireState(int check, int)
{
    if (InjectedFailure("DSTU4145AcquireState")) return nullptr;
    DstuState* s = new (std::nothrow) DstuState;
    if (s != nullptr) s->strict = check != 0;
    return s;
}

CG_EXPORT int DSTU4145ReleaseState(void* state)
{
    delete State(state);
    return 1;
}

CG_EXPORT int DSTU4145SetStateParameters(void* state, const void* value, std::uint32_t code)
{
    DstuState* s = State(state);
    if (s == nullptr) return 0;
    const auto* p = static_cast<const std::uint8_t*>(value);
    const std::uint32_t kind = code & 0xFFFF;
    const std::size_t size = code >> 16;
    if (size != 0 && (kind < 28 || kind > 31)) return 0;
    try {
        switch (kind) {
        case 2:
            if (p == nullptr) return 0;
            std::memcpy(s->field, p, sizeof s->field);
            s->haveField = true;
            s->engine.reset();
            return 1;
        case 3: {
            if (p == nullptr || !s->haveField) return 0;
            std::uint32_t point[39];
            std::memcpy(point, p, sizeof point);
            s->engine = EngineFromRecords(s->field, point, s->strict);
            return s->engine ? 1 : 0;
        }
        case 5:
            return SetScalar(*s, p, DSTU4145_NUMBER_BYTES, s->privateKey) ? 1 : 0;
        case 6:
            return SetPublic(*s, p, DSTU4145_NUMBER_BYTES) ? 1 : 0;
        case 8:
            if (value == nullptr) return 0;
            s->prng = value;
            return 1;
        case 9:
            return SetSignature(*s, p, kDstuSignatureBytes) ? 1 : 0;
        case 12:
            if (p == nullptr) return 0;
            std::memset(s->hash, 0, sizeof s->hash);
            std::memcpy(s->hash, p, s->HashBytes());
            s->haveHash = true;
            return 1;
        case 16:
            return SetScalar(*s, p, DSTU4145_NUMBER_BYTES, s->oneTime) ? 1 : 0;
        case 18: {
            if (p == nullptr) return 0;
            std::uint32_t words;
            std::memcpy(&words, p, 4);
            if (words == 0 || words > kMaxHashWords) return 0;
            s->hashWords = words;
            return 1;
        }
        case 28:
            s->engine = EngineFromDense(p, size);
            return s->engine ? 1 : 0;
        case 29:
            return SetScalar(*s, p, size, s->privateKey) ? 1 : 0;
        case 30:
            return SetPublic(*s, p, size) ? 1 : 0;
        case 31:
            return SetSignature(*s, p, size) ? 1 : 0;
        default:
            return 0;
        }
    } catch (...) {
        return 0;
    }
}

CG_EXPORT int DSTU4145GetStateParameters(void* state, void* buffer, std::uint32_t code)
{
    DstuState* s = State(state);
    auto* out = static_cast<std::uint8_t*>(buffer);
    if (s == nullptr || out == nullptr || !s->engine) return 0;
    const std::uint32_t kind = code & 0xFFFF;
    const std::size_t size = code >> 16;
    if (size != 0 && (kind < 28 || kind > 31)) return 0;
    switch (kind) {
    case 5:
        return !s->privateKey.empty() && PutNumber(s->privateKey, out, DSTU4145_NUMBER_BYTES) ? 1 : 0;
    case 6:
        return !s->publicKey.empty() && PutNumber(s->publicKey, out, DSTU4145_NUMBER_BYTES) ? 1 : 0;
    case 9:
        return !s->signature.empty() && PutNumber(s->signature, out, kDstuSignatureBytes) ? 1 : 0;
    case 16:
        return !s->oneTime.empty() && PutNumber(s->oneTime, out, DSTU4145_NUMBER_BYTES) ? 1 : 0;
    case 20: {
        const std::uint32_t bits = static_cast<std::uint32_t>(s->engine->NBits());
        std::memcpy(out, &bits, 4);
        return 1;
    }
    case 29:
        return !s->privateKey.empty() && PutNumber(s->privateKey, out, size) ? 1 : 0;
    case 30:
        return !s->publicKey.empty() && PutNumber(s->publicKey, out, size) ? 1 : 0;
    case 31:
        // r and s must both stay whole.
        if (s->signature.empty() || size < s->engine->SignatureBytes()) return 0;
        return PutNumber(s->signature, out, size) ? 1 : 0;
    default:
        return 0;
    }
}

// Mode 3: a new key pair; mode 2: the public key of the private key set.
CG_EXPORT int DSTU4145GenerateParameters(void* state, int mode)
{
    DstuState* s = State(state);
    if (s == nullptr || !s->engine || s->prng == nullptr) return 0;
    try {
        Bytes d, q;
        if (mode == 3) {
            if (s->engine->GenerateKey(d, q) != Result::Ok) return 0;
            d.resize(s->engine->OrderBytes(), 0);
            Wipe(s->privateKey);
            s->privateKey.swap(d);
        } else if (mode == 2) {
            if (s->privateKey.empty() || s->engine->PublicFromPrivate(s->privateKey, q) != Result::Ok) return 0;
        } else {
            return 0;
        }
        s->publicKey.swap(q);
        return 1;
    } catch (...) {
        return 0;
    }
}

CG_EXPORT int DSTU4145SignHash(void* state)
{
    DstuState* s = State(state);
    if (s == nullptr || !s->engine || s->prng == nullptr || s->privateKey.empty() || !s->haveHash ||
        InjectedFailure("DSTU4145SignHash"))
        return 0;
    try {
        Bytes sig;
        if (s->engine->Sign(ByteSpan(s->hash, s->HashBytes()), s->privateKey, sig) != Result::Ok) return 0;
        s->signature.swap(sig);
        return 1;
    } catch (...) {
        return 0;
    }
}

CG_EXPORT int DSTU4145VerifySignature(void* state)
{
    DstuState* s = State(state);
    if (s == nullptr || !s->engine || s->publicKey.empty() || s->signature.empty() || !s->haveHash) return 0;
    try {
        return s->engine->Verify(ByteSpan(s->hash, s->HashBytes()), s->publicKey, s->signature) == Result::Ok ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

CG_EXPORT int DSTU4145IsDenseNumbersSupported(void)
{
    return 1;
}

// --- two-party signing ---------------------------------------------------

CG_EXPORT int DSTU4145CoupleSelfTest(void)
{
    return 1;
}

// The state's public key (set as code 6) becomes first + that key.
CG_EXPORT int DSTU4145CoupleMakeCommonKeyQ(void* state, const std::uint8_t* firstPublicKey)
{
    DstuState* s = State(state);
    if (s == nullptr || !s->engine || s->publicKey.empty() || firstPublicKey == nullptr) return 0;
    try {
        Bytes sum;
        if (s->engine->AddPublicKeys(Number(firstPublicKey, DSTU4145_NUMBER_BYTES), s->publicKey, sum) != Result::Ok)
            return 0;
        s->publicKey.swap(sum);
        return 1;
    } catch (...) {
        return 0;
    }
}

// A fresh one-time value e (code 16) and R = eP into 76 bytes.
CG_EXPORT int DSTU4145CoupleMakeSignR(void* state, std::uint8_t* r)
{
    DstuState* s = State(state);
    if (s == nullptr || !s->engine || s->prng == nullptr || r == nullptr) return 0;
    try {
        Bytes e, unused, point;
        if (s->engine->GenerateKey(e, unused) != Result::Ok) return 0;
        e.resize(s->engine->OrderBytes(), 0);
        if (s->engine->CommitNonce(e, point) != Result::Ok || !PutNumber(point, r, DSTU4145_NUMBER_BYTES)) {
            Wipe(e);
            return 0;
        }
        Wipe(s->oneTime);
        s->oneTime.swap(e);
        return 1;
    } catch (...) {
        return 0;
    }
}

// r = trunc(h * x(own R + other R)), the common R, into 76 bytes.
CG_EXPORT int DSTU4145CoupleMakeCommonSignR(void* state, const std::uint8_t* ownR, const std::uint8_t* otherR,
                                            std::uint8_t* commonR)
{
    DstuState* s = State(state);
    if (s == nullptr || !s->engine || !s->haveHash || ownR == nullptr || otherR == nullptr || commonR == nullptr)
        return 0;
    try {
        Bytes sum, r;
        if (s->engine->AddPublicKeys(Number(ownR, DSTU4145_NUMBER_BYTES), Number(otherR, DSTU4145_NUMBER_BYTES), sum) !=
                Result::Ok ||
            s->engine->RFromPoint(ByteSpan(s->hash, s->HashBytes()), sum, r) != Result::Ok)
            return 0;
        return PutNumber(r, commonR, DSTU4145_NUMBER_BYTES) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

// s_i = e + d r mod n with the one-time value (code 16) and the private key.
CG_EXPORT int DSTU4145CoupleMakeSignS(void* state, const std::uint8_t* commonR, std::uint8_t* sOut)
{
    DstuState* s = State(state);
    if (s == nullptr || !s->engine || s->oneTime.empty() || s->privateKey.empty() || commonR == nullptr ||
        sOut == nullptr)
        return 0;
    try {
        Bytes v;
        const bool ok = s->engine->ScalarMulAdd(s->oneTime, s->privateKey, Number(commonR, DSTU4145_NUMBER_BYTES), v) ==
                            Result::Ok &&
                        PutNumber(v, sOut, DSTU4145_NUMBER_BYTES);
        Wipe(v);
        // A one-time value serves one signature.
        Wipe(s->oneTime);
        return ok ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

CG_EXPORT int DSTU4145CoupleMakeCommonSignS(void* state, const std::uint8_t* ownS, const std::uint8_t* otherS,
                                            std::uint8_t* commonS)
{
    DstuState* s = State(state);
    if (s == nullptr || !s->engine || ownS == nullptr || otherS == nullptr || commonS == nullptr) return 0;
    try {
        Bytes v;
        const bool ok = s->engine->ScalarMulAdd(Number(ownS, DSTU4145_NUMBER_BYTES), {},
                                                Number(otherS, DSTU4145_NUMBER_BYTES), v) == Result::Ok &&
                        !AllZero(v.data(), v.size()) && PutNumber(v, commonS, DSTU4145_NUMBER_BYTES);
        return ok ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

// The signature (code 9) from the common R and the common S.
CG_EXPORT int DSTU4145CoupleMakeCommonSign(void* state, const std::uint8_t* commonR, const std::uint8_t* commonS)
{
    DstuState* s = State(state);
    if (s == nullptr || !s->engine || commonR == nullptr || commonS == nullptr) return 0;
    const std::size_t len = s->engine->OrderBytes();
    Bytes r = Number(commonR, DSTU4145_NUMBER_BYTES), v = Number(commonS, DSTU4145_NUMBER_BYTES);
    if (r.empty() || v.empty() || r.size() > len || v.size() > len) return 0;
    Bytes sig(2 * len, 0);
    std::memcpy(sig.data(), r.data(), r.size());
    std::memcpy(sig.data() + len, v.data(), v.size());
    s->signature.swap(sig);
    return 1;
}

// The field helpers are bound but called by no operation of the provider;
// this library does not offer them.
CG_EXPORT int DSTU4145Trace(void*, const void*, void*)
{
    return 0;
}
CG_EXPORT int DSTU4145HalfTrace(void*, const void*, void*)
{
    return 0;
}
CG_EXPORT int DSTU4145SolveQuadEqual(void*, const void*, void*)
{
    return 0;
}

CG_SHAPE(DSTU4145SelfTest, CGSelfTestFn);
CG_SHAPE(DSTU4145AcquireState, CGDSTU4145AcquireStateFn);
CG_SHAPE(DSTU4145ReleaseState, CGReleaseStateFn);
CG_SHAPE(DSTU4145SetStateParameters, CGSetStateParametersFn);
CG_SHAPE(DSTU4145GetStateParameters, CGGetStateParametersFn);
CG_SHAPE(DSTU4145GenerateParameters, CGDSTU4145GenerateParametersFn);
CG_SHAPE(DSTU4145SignHash, CGDSTU4145StateFn);
CG_SHAPE(DSTU4145VerifySignature, CGDSTU4145StateFn);
CG_SHAPE(DSTU4145Trace, CGDSTU4145FieldFn);
CG_SHAPE(DSTU4145HalfTrace, CGDSTU4145FieldFn);
CG_SHAPE(DSTU4145SolveQuadEqual, CGDSTU4145FieldFn);
CG_SHAPE(DSTU4145IsDenseNumbersSupported, CGDSTU4145IsDenseNumbersSupportedFn);
CG_SHAPE(DSTU4145CoupleSelfTest, CGSelfTestFn);
CG_SHAPE(DSTU4145CoupleMakeCommonKeyQ, CGCoupleMakeCommonKeyQFn);
CG_SHAPE(DSTU4145CoupleMakeSignR, CGCoupleMakeSignRFn);
CG_SHAPE(DSTU4145CoupleMakeCommonSignR, CGCoupleMakeCommonSignRFn);
CG_SHAPE(DSTU4145CoupleMakeSignS, CGCoupleMakeSignSFn);
CG_SHAPE(DSTU4145CoupleMakeCommonSignS, CGCoupleMakeCommonSignSFn);
CG_SHAPE(DSTU4145CoupleMakeCommonSign, CGCoupleMakeCommonSignFn);
