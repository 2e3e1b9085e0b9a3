// Key transport and key wrapping: a 32-byte key agreed between a local
// key-agreement private key and a peer's public key protects a session key
// or wraps a key, in software; without a private key the whole operation runs
// on the context's hardware object. The agreed key lives in a wiped stack
// buffer.
#include <cstring>

#include "csp/CSPCallsCommon.h"
#include "csp/CSPCallsOperations.h"

namespace cspcalls {

namespace {

constexpr std::uint32_t kSessionKeyBytes = 32;
constexpr std::uint32_t kUnwrapFlag = 0x80000000u;

int Probe(const Library& lib, Context* c, bool signatureForm, std::uint32_t feature)
{
    Field field{};
    Point point{};
    point.words[DSTU4145_POINT_BITS] = feature;
    return signatureForm ? GenerateSignatureKeyPairDSTU4145Ctx(lib, c, &field, &point, nullptr, nullptr)
                         : GenerateAgreementKeyPairDSTU4145Ctx(lib, c, &field, &point, nullptr, nullptr);
}

// The question form of the hardware transport: no UKM, no data, length 0,
// no MAC.
bool IsCapabilityProbe(const void* ukm, const void* data, std::uint32_t length, const void* mac)
{
    return ukm == nullptr && data == nullptr && length == 0 && mac == nullptr;
}

// Bit 31 of the first field word flags the unwrapping operations for the
// hardware object. The library and the parameter check get a copy without it;
// the caller's record keeps it and goes to the hardware object as it is.
Field WithoutFlag(const Field* field)
{
    Field copy = *field;
    copy.words[0] &= ~kUnwrapFlag;
    return copy;
}

}  // namespace

int EncryptSessionKeyCtx(const Library& lib, Context* c, const Field* field, Point* point,
                         const std::uint8_t* privateKey, const std::uint8_t* peerPublicKey, std::uint8_t* ukm,
                         const SBox* sBox, const void* argument, std::uint8_t* data, std::uint32_t length,
                         std::uint8_t* mac)
{
    if (!lib.initialized) return kNotInitialized;
    if (c == nullptr) return kBadArgument;
    if (length % 8 != 0) return kBadArgument;
    if (field == nullptr || point == nullptr) return kBadArgument;
    try {
        if (mac != nullptr) {
            if (ukm == nullptr) return kBadArgument;
            const int r = lib.generateTestedRandom(lib.provider, c, ukm, 8);
            if (r != kOk) return r;
        }
        if (privateKey == nullptr) {
            if (c->hardware == nullptr) return kNoObject;
            if (mac == nullptr && Probe(lib, c, false, 3) != kOk) return kBadArgument;
            // The key transforms 32 bytes in place: shorter data is refused.
            if (!IsCapabilityProbe(ukm, data, length, mac) && (data == nullptr || length < kSessionKeyBytes))
                return kBadArgument;
            Field copy = *field;
            const int check = CheckParametersDSTU4145Ctx(lib, &copy, point, 0);
            if (check != kOk) return check;
            return c->hardware->EncryptSessionKey(field, point, peerPublicKey, ukm, data, length, mac) ? kOk
                                                                                                       : kHardwareError;
        }
        if (data == nullptr || ukm == nullptr || sBox == nullptr) return kBadArgument;
        // Without a MAC the agreed key itself is handed out: 32 bytes.
        if (mac == nullptr && length < kSessionKeyBytes) return kBadArgument;
        WipedBuffer<32> shared;
        if (!lib.ECDHCalculateSharedKey(field, point, privateKey, peerPublicKey, ukm,
                                        reinterpret_cast<const std::uint8_t*>(sBox), argument, shared.data()))
            return kLibraryError;
        if (mac == nullptr) {
            std::memcpy(data, shared.data(), kSessionKeyBytes);
            return kOk;
        }
        std::uint32_t value = 0;
        const int r =
            ProtectDataGOST28147(lib, data, length, sBox, nullptr, &value, nullptr, nullptr, nullptr, shared.data());
        if (r == kOk) std::memcpy(mac, &value, 4);
        return r;
    } catch (...) {
        return kLibraryError;
    }
}

int DecryptSessionKeyCtx(const Library& lib, Context* c, const Field* field, Point* point,
                         const std::uint8_t* privateKey, const std::uint8_t* peerPublicKey, const std::uint8_t* ukm,
                         const SBox* sBox, const void* argument, std::uint8_t* data, std::uint32_t length,
                         const std::uint8_t* mac)
{
    if (!lib.initialized) return kNotInitialized;
    if (c == nullptr) return kBadArgument;
    if (length % 8 != 0) return kBadArgument;
    if (field == nullptr || point == nullptr) return kBadArgument;
    try {
        Field plain = WithoutFlag(field);
        if (privateKey == nullptr) {
            if (c->hardware == nullptr) return kNoObject;
            if (!IsCapabilityProbe(ukm, data, length, mac) && (data == nullptr || length < kSessionKeyBytes))
                return kBadArgument;
            const int check = CheckParametersDSTU4145Ctx(lib, &plain, point, 0);
            if (check != kOk) return check;
            return c->hardware->DecryptSessionKey(field, point, peerPublicKey, ukm, data, length, mac) ? kOk
                                                                                                       : kHardwareError;
        }
        if (data == nullptr || ukm == nullptr || sBox == nullptr || mac == nullptr) return kBadArgument;
        WipedBuffer<32> shared;
        if (!lib.ECDHCalculateSharedKey(&plain, point, privateKey, peerPublicKey, ukm,
                                        reinterpret_cast<const std::uint8_t*>(sBox), argument, shared.data()))
            return kLibraryError;
        std::uint32_t expected;
        std::memcpy(&expected, mac, 4);
        return UnprotectDataGOST28147(lib, data, length, sBox, nullptr, expected, nullptr, 0, nullptr, shared.data());
    } catch (...) {
        return kLibraryError;
    }
}

namespace {

int GostWrap(const Library& lib, Context* c, const Field* field, Point* point, const std::uint8_t* privateKey,
             const std::uint8_t* peerPublicKey, int a1, const std::uint8_t* a2, std::uint32_t a3, const void* a4,
             const void* a5, const void* w1, const std::uint8_t* w2, std::uint8_t* w3, bool wrap)
{
    if (!lib.initialized) return kNotInitialized;
    if (c == nullptr || field == nullptr || point == nullptr) return kBadArgument;
    try {
        Field plain = wrap ? *field : WithoutFlag(field);
        if (privateKey != nullptr) {
            if (wrap && c->prng == nullptr) return kNoObject;
            WipedBuffer<32> shared;
            if (!lib.ECDHUACalculateSharedKey(&plain, point, privateKey, peerPublicKey, a1, a2, a3, a4, a5,
                                              shared.data()))
                return kLibraryError;
            const int ok = wrap ? lib.GOST28147WrapSharedKey(shared.data(), w1, w2, nullptr, c->prng, w3)
                                : lib.GOST28147UnwrapSharedKey(shared.data(), w1, w2, w3);
            return ok ? kOk : kLibraryError;
        }
        if (c->hardware == nullptr) return kNoObject;
        const int check = CheckParametersDSTU4145Ctx(lib, &plain, point, 0);
        if (check != kOk) return check;
        const int ok = wrap ? c->hardware->WrapKeyGOST28147(field, point, peerPublicKey, a1, a2, a3, a4, w1, w2, w3)
                            : c->hardware->UnwrapKeyGOST28147(field, point, peerPublicKey, a1, a2, a3, a4, w1, w2, w3);
        return ok ? kOk : kHardwareError;
    } catch (...) {
        return kLibraryError;
    }
}

int DstuWrap(const Library& lib, Context* c, const Field* field, Point* point, const std::uint8_t* privateKey,
             const std::uint8_t* peerPublicKey, int a1, const std::uint8_t* a2, std::uint32_t a3, const void* w1,
             const std::uint8_t* w2, const void* w3, std::uint8_t* w4, void* w5, bool wrap)
{
    if (!lib.initialized) return kNotInitialized;
    if (c == nullptr || field == nullptr || point == nullptr) return kBadArgument;
    try {
        if (privateKey != nullptr) {
            if (lib.ECDHKDFDSTU7564CalculateSharedKey == nullptr ||
                (wrap ? lib.DSTU7624WrapSharedKey == nullptr : lib.DSTU7624UnwrapSharedKey == nullptr))
                return kLibraryError;
            if (wrap && c->prng == nullptr) return kNoObject;
            WipedBuffer<32> shared;
            if (!lib.ECDHKDFDSTU7564CalculateSharedKey(field, point, privateKey, peerPublicKey, a1, a2, a3, nullptr,
                                                       256, shared.data(), 32))
                return kLibraryError;
            const int ok = wrap ? lib.DSTU7624WrapSharedKey(shared.data(), 32, w1, w2, w3, nullptr, 32, c->prng, w4, w5)
                                : lib.DSTU7624UnwrapSharedKey(shared.data(), 32, w1, w2, w3, w4, w5);
            return ok ? kOk : kLibraryError;
        }
        if (c->hardware == nullptr) return kNoObject;
        const int check = CheckParametersDSTU4145Ctx(lib, field, point, 0);
        if (check != kOk) return check;
        if (Probe(lib, c, true, 21) != kOk) return kHardwareError;
        // The key's unwrap reads no length output: the last argument stays here.
        const int ok = wrap ? c->hardware->WrapKeyDSTU7624(field, point, peerPublicKey, a1, a2, a3, w1, w2, w3, w4,
                                                           static_cast<std::uint32_t*>(w5))
                            : c->hardware->UnwrapKeyDSTU7624(field, point, peerPublicKey, a1, a2, a3, w1, w2, w3, w4);
        return ok ? kOk : kHardwareError;
    } catch (...) {
        return kLibraryError;
    }
}

int DenseWrap(const Library& lib, Context* c, const std::uint8_t* d1, std::uint32_t d2, const std::uint8_t* d3,
              std::uint32_t d4, const std::uint8_t* d5, std::uint32_t d6, const std::uint8_t* d7, std::uint32_t d8,
              const void* w1, const std::uint8_t* w2, const void* w3, std::uint8_t* w4, void* w5, bool wrap)
{
    if (!lib.initialized) return kNotInitialized;
    if (c == nullptr) return kBadArgument;
    if (lib.ECDHKDFDSTU7564CalculateDenseSharedKey == nullptr ||
        (wrap ? lib.DSTU7624WrapSharedKey == nullptr : lib.DSTU7624UnwrapSharedKey == nullptr))
        return kLibraryError;
    if (wrap && c->prng == nullptr) return kNoObject;
    try {
        WipedBuffer<32> shared;
        if (!lib.ECDHKDFDSTU7564CalculateDenseSharedKey(d1, d2, d3, d4, d5, d6, d7, d8, nullptr, 256, shared.data(),
                                                        32))
            return kLibraryError;
        const int ok = wrap ? lib.DSTU7624WrapSharedKey(shared.data(), 32, w1, w2, w3, nullptr, 32, c->prng, w4, w5)
                            : lib.DSTU7624UnwrapSharedKey(shared.data(), 32, w1, w2, w3, w4, w5);
        return ok ? kOk : kLibraryError;
    } catch (...) {
        return kLibraryError;
    }
}

}  // namespace

int WrapKeyGOST28147Ctx(const Library& lib, Context* c, const Field* field, Point* point,
                        const std::uint8_t* privateKey, const std::uint8_t* peerPublicKey, int a1,
                        const std::uint8_t* a2, std::uint32_t a3, const void* a4, const void* a5, const void* w1,
                        const std::uint8_t* w2, std::uint8_t* w3)
{
    return GostWrap(lib, c, field, point, privateKey, peerPublicKey, a1, a2, a3, a4, a5, w1, w2, w3, true);
}

int UnwrapKeyGOST28147Ctx(const Library& lib, Context* c, const Field* field, Point* point,
                          const std::uint8_t* privateKey, const std::uint8_t* peerPublicKey, int a1,
                          const std::uint8_t* a2, std::uint32_t a3, const void* a4, const void* a5, const void* w1,
                          const std::uint8_t* w2, std::uint8_t* w3)
{
    return GostWrap(lib, c, field, point, privateKey, peerPublicKey, a1, a2, a3, a4, a5, w1, w2, w3, false);
}

int WrapKeyDSTU7624Ctx(const Library& lib, Context* c, const Field* field, Point* point, const std::uint8_t* privateKey,
                       const std::uint8_t* peerPublicKey, int a1, const std::uint8_t* a2, std::uint32_t a3,
                       const void* w1, const std::uint8_t* w2, const void* w3, std::uint8_t* w4, void* w5)
{
    return DstuWrap(lib, c, field, point, privateKey, peerPublicKey, a1, a2, a3, w1, w2, w3, w4, w5, true);
}

int UnwrapKeyDSTU7624Ctx(const Library& lib, Context* c, const Field* field, Point* point,
                         const std::uint8_t* privateKey, const std::uint8_t* peerPublicKey, int a1,
                         const std::uint8_t* a2, std::uint32_t a3, const void* w1, const std::uint8_t* w2,
                         const void* w3, std::uint8_t* w4, void* w5)
{
    return DstuWrap(lib, c, field, point, privateKey, peerPublicKey, a1, a2, a3, w1, w2, w3, w4, w5, false);
}

int WrapKeyDSTU7624DenseCtx(const Library& lib, Context* c, const std::uint8_t* d1, std::uint32_t d2,
                            const std::uint8_t* d3, std::uint32_t d4, const std::uint8_t* d5, std::uint32_t d6,
                            const std::uint8_t* d7, std::uint32_t d8, const void* w1, const std::uint8_t* w2,
                            const void* w3, std::uint8_t* w4, void* w5)
{
    return DenseWrap(lib, c, d1, d2, d3, d4, d5, d6, d7, d8, w1, w2, w3, w4, w5, true);
}

int UnwrapKeyDSTU7624DenseCtx(const Library& lib, Context* c, const std::uint8_t* d1, std::uint32_t d2,
                              const std::uint8_t* d3, std::uint32_t d4, const std::uint8_t* d5, std::uint32_t d6,
                              const std::uint8_t* d7, std::uint32_t d8, const void* w1, const std::uint8_t* w2,
                              const void* w3, std::uint8_t* w4, void* w5)
{
    return DenseWrap(lib, c, d1, d2, d3, d4, d5, d6, d7, d8, w1, w2, w3, w4, w5, false);
}

}  // namespace cspcalls
