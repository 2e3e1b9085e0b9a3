// Two-party DSTU 4145 signing. One party makes its R (MakeSignR) and hands it
// over; the other makes its own R with the common R (MakeCommonSignR) and
// hands the common R back; the first makes its S (MakeSignS); the second
// makes its own S and the whole signature (MakeCommonSign), which verifies
// under the common public key (MakeCommonKeyQ).
#include <cstring>

#include "csp/CSPCallsCommon.h"
#include "csp/CSPCallsOperations.h"

namespace cspcalls {

namespace {

constexpr std::uint32_t kMaxHash = 64;

bool Set(const Library& lib, void* s, const void* value, std::uint32_t code)
{
    return lib.DSTU4145SetStateParameters(s, value, code) != 0;
}
bool Get(const Library& lib, void* s, void* out, std::uint32_t code)
{
    return lib.DSTU4145GetStateParameters(s, out, code) != 0;
}
ScopedState Acquire(const Library& lib)
{
    return ScopedState(lib.DSTU4145AcquireState(0, 0), lib.DSTU4145ReleaseState);
}
bool SetCurve(const Library& lib, void* s, const Field* field, Point* point)
{
    return Set(lib, s, field, 2) && Set(lib, s, point, 3);
}

int ProbeTwoParty(const Library& lib, Context* c)
{
    Field field{};
    Point point{};
    point.words[DSTU4145_POINT_BITS] = 14;
    return GenerateSignatureKeyPairDSTU4145Ctx(lib, c, &field, &point, nullptr, nullptr);
}

// The own S on the hardware object (no private key given).
int HardwareS(const Library& lib, Context* c, const Field* field, Point* point, const std::uint8_t* oneTimeValue,
              const std::uint8_t* commonR, std::uint8_t* s)
{
    if (c->hardware == nullptr) return kNoObject;
    const int check = CheckParametersDSTU4145Ctx(lib, field, point, 0);
    if (check != kOk) return check;
    if (ProbeTwoParty(lib, c) != kOk) return kLibraryError;
    return c->hardware->MakeSignS(field, point, oneTimeValue, commonR, s) ? kOk : kHardwareError;
}

// The own S in software on a state that has nothing set yet.
int SoftwareS(const Library& lib, void* state, const Field* field, Point* point, const std::uint8_t* privateKey,
              const std::uint8_t* oneTimeValue, const std::uint8_t* commonR, std::uint8_t* s)
{
    if (!SetCurve(lib, state, field, point) || !Set(lib, state, privateKey, 5)) return kBadParameters;
    if (!Set(lib, state, oneTimeValue, 16) || !lib.DSTU4145CoupleMakeSignS(state, commonR, s)) return kLibraryError;
    return kOk;
}

int CommonSignR(const Library& lib, Context* c, const Field* field, Point* point, const std::uint8_t* hash,
                std::uint32_t hashLength, bool explicitLength, const std::uint8_t* otherR, std::uint8_t* oneTimeValue,
                std::uint8_t* commonR)
{
    if (!lib.initialized) return kNotInitialized;
    if (lib.DSTU4145CoupleMakeSignR == nullptr || lib.DSTU4145CoupleMakeCommonSignR == nullptr) return kLibraryError;
    if (c == nullptr || (explicitLength && hashLength > kMaxHash)) return kBadArgument;
    if (field == nullptr || point == nullptr || hash == nullptr || otherR == nullptr || oneTimeValue == nullptr ||
        commonR == nullptr)
        return kBadArgument;
    if (c->prng == nullptr) return kNoObject;
    try {
        ScopedState s = Acquire(lib);
        if (!s) return kNoMemory;
        if (!SetCurve(lib, s.get(), field, point)) return kBadParameters;
        WipedBuffer<DSTU4145_NUMBER_BYTES> ownR;
        if (!Set(lib, s.get(), c->prng, 8) || !lib.DSTU4145CoupleMakeSignR(s.get(), ownR.data()) ||
            !Get(lib, s.get(), oneTimeValue, 16))
            return kLibraryError;
        WipedBuffer<kMaxHash> padded;
        if (explicitLength) {
            std::memcpy(padded.data(), hash, hashLength);
            const std::uint32_t words = (hashLength + 3) / 4;
            if (!Set(lib, s.get(), &words, 18) || !Set(lib, s.get(), padded.data(), 12)) return kLibraryError;
        } else if (!Set(lib, s.get(), hash, 12)) {
            return kLibraryError;
        }
        return lib.DSTU4145CoupleMakeCommonSignR(s.get(), ownR.data(), otherR, commonR) ? kOk : kLibraryError;
    } catch (...) {
        return kLibraryError;
    }
}

}  // namespace

int MakeCommonKeyQDSTU4145(const Library& lib, const Field* field, Point* point, const std::uint8_t* firstPublicKey,
                           const std::uint8_t* secondPublicKey, std::uint8_t* commonPublicKey)
{
    if (!lib.initialized) return kNotInitialized;
    if (lib.DSTU4145CoupleMakeCommonKeyQ == nullptr) return kLibraryError;
    if (field == nullptr || point == nullptr || firstPublicKey == nullptr || secondPublicKey == nullptr ||
        commonPublicKey == nullptr)
        return kBadArgument;
    try {
        ScopedState s = Acquire(lib);
        if (!s) return kNoMemory;
        if (!SetCurve(lib, s.get(), field, point) || !Set(lib, s.get(), secondPublicKey, 6)) return kBadParameters;
        if (!lib.DSTU4145CoupleMakeCommonKeyQ(s.get(), firstPublicKey) || !Get(lib, s.get(), commonPublicKey, 6))
            return kLibraryError;
        return kOk;
    } catch (...) {
        return kLibraryError;
    }
}

int MakeSignRDSTU4145Ctx(const Library& lib, Context* c, const Field* field, Point* point, std::uint8_t* oneTimeValue,
                         std::uint8_t* r)
{
    if (!lib.initialized) return kNotInitialized;
    if (lib.DSTU4145CoupleMakeSignR == nullptr) return kLibraryError;
    if (c == nullptr || field == nullptr || point == nullptr || oneTimeValue == nullptr || r == nullptr)
        return kBadArgument;
    if (c->prng == nullptr) return kNoObject;
    try {
        ScopedState s = Acquire(lib);
        if (!s) return kNoMemory;
        if (!SetCurve(lib, s.get(), field, point)) return kBadParameters;
        if (!Set(lib, s.get(), c->prng, 8) || !lib.DSTU4145CoupleMakeSignR(s.get(), r) ||
            !Get(lib, s.get(), oneTimeValue, 16))
            return kLibraryError;
        return kOk;
    } catch (...) {
        return kLibraryError;
    }
}

int MakeCommonSignRDSTU4145Ctx(const Library& lib, Context* c, const Field* field, Point* point,
                               const std::uint8_t* hash, const std::uint8_t* otherR, std::uint8_t* oneTimeValue,
                               std::uint8_t* commonR)
{
    return CommonSignR(lib, c, field, point, hash, 32, false, otherR, oneTimeValue, commonR);
}

int MakeCommonSignRDSTU4145ExCtx(const Library& lib, Context* c, const Field* field, Point* point,
                                 std::uint32_t hashLength, const std::uint8_t* hash, const std::uint8_t* otherR,
                                 std::uint8_t* oneTimeValue, std::uint8_t* commonR)
{
    return CommonSignR(lib, c, field, point, hash, hashLength, true, otherR, oneTimeValue, commonR);
}

int MakeSignSDSTU4145Ctx(const Library& lib, Context* c, const Field* field, Point* point,
                         const std::uint8_t* privateKey, const std::uint8_t* oneTimeValue, const std::uint8_t* commonR,
                         std::uint8_t* s)
{
    if (!lib.initialized) return kNotInitialized;
    if (c == nullptr || field == nullptr || point == nullptr || oneTimeValue == nullptr || commonR == nullptr ||
        s == nullptr)
        return kBadArgument;
    try {
        if (privateKey == nullptr) return HardwareS(lib, c, field, point, oneTimeValue, commonR, s);
        if (lib.DSTU4145CoupleMakeSignS == nullptr) return kLibraryError;
        ScopedState state = Acquire(lib);
        if (!state) return kNoMemory;
        return SoftwareS(lib, state.get(), field, point, privateKey, oneTimeValue, commonR, s);
    } catch (...) {
        return kLibraryError;
    }
}

int MakeCommonSignDSTU4145Ctx(const Library& lib, Context* c, const Field* field, Point* point,
                              const std::uint8_t* privateKey, const std::uint8_t* oneTimeValue,
                              const std::uint8_t* commonR, const std::uint8_t* otherS, std::uint8_t* signature)
{
    if (!lib.initialized) return kNotInitialized;
    if (c == nullptr || field == nullptr || point == nullptr || oneTimeValue == nullptr || commonR == nullptr ||
        otherS == nullptr || signature == nullptr)
        return kBadArgument;
    try {
        ScopedState s = Acquire(lib);
        if (!s) return kNoMemory;
        WipedBuffer<DSTU4145_NUMBER_BYTES> ownS, commonS;
        if (privateKey != nullptr) {
            if (lib.DSTU4145CoupleMakeSignS == nullptr) return kLibraryError;
            const int r = SoftwareS(lib, s.get(), field, point, privateKey, oneTimeValue, commonR, ownS.data());
            if (r != kOk) return r;
        } else {
            const int r = HardwareS(lib, c, field, point, oneTimeValue, commonR, ownS.data());
            if (r != kOk) return r;
            if (!SetCurve(lib, s.get(), field, point)) return kBadParameters;
        }
        if (lib.DSTU4145CoupleMakeCommonSignS == nullptr || lib.DSTU4145CoupleMakeCommonSign == nullptr)
            return kLibraryError;
        if (!lib.DSTU4145CoupleMakeCommonSignS(s.get(), ownS.data(), otherS, commonS.data()) ||
            !lib.DSTU4145CoupleMakeCommonSign(s.get(), commonR, commonS.data()) || !Get(lib, s.get(), signature, 9) ||
            !Get(lib, s.get(), &point->words[DSTU4145_POINT_BITS], 20))
            return kLibraryError;
        return kOk;
    } catch (...) {
        return kLibraryError;
    }
}

}  // namespace cspcalls
