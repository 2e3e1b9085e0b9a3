// The provider's DSTU 4145, key-transport, GOST 28147 and GOST 34.311
// operations over the functions of the outside crypto library, written
// against a record of typed function pointers so that each operation states
// exactly which functions it needs. The CSP object fills the record from its
// binding and extension table (entries of the extension table may be null)
// and forwards its operation slots here.
#ifndef QVK_CSP_CSPLIBRARYCALLS_H
#define QVK_CSP_CSPLIBRARYCALLS_H

#include <cstdint>

#include "crypto/GOST28147.h"
#include "support/DSTU4145Records.h"
#include "support/ICSPHardware.h"

namespace cspcalls {

// Result codes of the provider.
enum : int {
    kOk = 0,
    kNotInitialized = 1,
    kNoObject = 2,
    kBadArgument = 3,
    kNoMemory = 13,
    kLibraryError = 15,
    kHardwareError = 23,
    kValueMismatch = 31,
    kInvalidSignature = 32,
    kBadParameters = 33
};

// The three words a context operation takes first.
struct Context {
    ICSPHardwareRNG* hardwareRNG;
    ICSPHardware* hardware;
    void* prng;
};

struct Library {
    // --- required functions (never null once bound) ---
    void* (*DSTU4145AcquireState)(int check, int reserved);
    int (*DSTU4145ReleaseState)(void* state);
    int (*DSTU4145SetStateParameters)(void* state, const void* value, std::uint32_t code);
    int (*DSTU4145GetStateParameters)(void* state, void* buffer, std::uint32_t code);
    int (*DSTU4145GenerateParameters)(void* state, int mode);
    int (*DSTU4145SignHash)(void* state);
    int (*DSTU4145VerifySignature)(void* state);
    int (*ECDHCalculateSharedKey)(const void* field, const void* point, const std::uint8_t* privateKey,
                                  const std::uint8_t* peerKey, const std::uint8_t* ukm, const void* sBox,
                                  const void* argument, std::uint8_t* sharedKey);
    int (*ECDHUACalculateSharedKey)(const void* field, const void* point, const std::uint8_t* privateKey,
                                    const std::uint8_t* peerKey, int a1, const std::uint8_t* a2, std::uint32_t a3,
                                    const void* a4, const void* a5, std::uint8_t* sharedKey);
    int (*GOST28147WrapSharedKey)(const std::uint8_t* sharedKey, const std::uint8_t* w1, const std::uint8_t* w2,
                                  const std::uint8_t* fixed, const void* prng, std::uint8_t* w3);
    int (*GOST28147UnwrapSharedKey)(const std::uint8_t* sharedKey, const std::uint8_t* w1, const std::uint8_t* w2,
                                    std::uint8_t* w3);
    void* (*GOST28147AcquireState)();
    int (*GOST28147ReleaseState)(void* state);
    int (*GOST28147SetStateParameters)(void* state, const void* value, std::uint32_t code);
    int (*GOST28147GetStateParameters)(void* state, void* buffer, std::uint32_t code);
    int (*GOST28147EncryptDataSSMode)(void* data, std::uint32_t blocks, void* state);
    int (*GOST28147DecryptDataSSMode)(void* data, std::uint32_t blocks, void* state);
    int (*GOST28147EncryptDataGMode)(void* data, std::uint32_t length, void* state);
    int (*GOST28147EncryptDataGOFBMode)(void* data, std::uint32_t length, void* state);
    int (*GOST28147DecryptDataGOFBMode)(void* data, std::uint32_t length, void* state);
    int (*GOST28147GetDataMAC)(const void* data, std::uint32_t length, void* state);
    void* (*GOST34311AcquireState)();
    int (*GOST34311ReleaseState)(void* state);
    int (*GOST34311SetStateParameters)(void* state, const void* value, std::uint32_t code);
    int (*GOST34311GetStateParameters)(void* state, void* buffer, std::uint32_t code);
    int (*GOST34311HashData)(const void* data, std::uint32_t length, void* state);
    int (*GOST34311FinalizeHash)(std::uint32_t bits, void* state);

    // --- extension entries (null when the library lacks them, or when there is no table) ---
    void* (*GOST34311HMACAcquireState)();
    int (*GOST34311HMACReleaseState)(void* state);
    int (*GOST34311HMACSetStateParameters)(void* state, const void* value, std::uint32_t code);
    int (*GOST34311HMACGetStateParameters)(void* state, void* buffer, std::uint32_t code);
    int (*GOST34311HMACUpdateData)(const void* data, std::uint32_t length, void* state);
    int (*GOST34311HMACFinalizeDataMac)(void* state);
    int (*PBKDF2DeriveKey)(const void* p1, const void* p2, const std::uint8_t* salt, std::uint32_t saltLength,
                           const void* k1, const void* k2, const void* k3, const void* k4);
    int (*PBKDFMACDeriveKey)(const void* p1, const void* p2, const std::uint8_t* salt, std::uint32_t saltLength,
                             const void* k1, const void* k2, const void* k3, const void* k4);
    int (*DSTU4145CoupleMakeCommonKeyQ)(void* state, const std::uint8_t* firstPublicKey);
    int (*DSTU4145CoupleMakeSignR)(void* state, std::uint8_t* r);
    int (*DSTU4145CoupleMakeCommonSignR)(void* state, const std::uint8_t* ownR, const std::uint8_t* otherR,
                                         std::uint8_t* commonR);
    int (*DSTU4145CoupleMakeSignS)(void* state, const std::uint8_t* commonR, std::uint8_t* s);
    int (*DSTU4145CoupleMakeCommonSignS)(void* state, const std::uint8_t* ownS, const std::uint8_t* otherS,
                                         std::uint8_t* commonS);
    int (*DSTU4145CoupleMakeCommonSign)(void* state, const std::uint8_t* commonR, const std::uint8_t* commonS);
    int (*ECDHKDFDSTU7564CalculateSharedKey)(const void* field, const void* point, const std::uint8_t* privateKey,
                                             const std::uint8_t* peerKey, int a1, const std::uint8_t* a2,
                                             std::uint32_t a3, std::uint32_t zero, std::uint32_t bits,
                                             std::uint8_t* sharedKey, std::uint32_t size);
    int (*ECDHKDFDSTU7564CalculateDenseSharedKey)(const std::uint8_t* d1, std::uint32_t d2, const std::uint8_t* d3,
                                                  std::uint32_t d4, const std::uint8_t* d5, std::uint32_t d6,
                                                  const std::uint8_t* d7, std::uint32_t d8, std::uint32_t zero,
                                                  std::uint32_t bits, std::uint8_t* sharedKey, std::uint32_t size);
    int (*DSTU7624WrapSharedKey)(const std::uint8_t* sharedKey, std::uint32_t size, const void* w1,
                                 const std::uint8_t* w2, const std::uint8_t* w3, std::uint32_t zero,
                                 std::uint32_t blockSize, const void* prng, std::uint8_t* w4, std::uint32_t* w5);
    int (*DSTU7624UnwrapSharedKey)(const std::uint8_t* sharedKey, std::uint32_t size, const void* w1,
                                   const std::uint8_t* w2, const void* w3, std::uint8_t* w4, std::uint32_t* w5);
    int (*DSTU4145IsDenseNumbersSupported)();

    // --- the provider itself ---
    bool initialized;
    // Tested random bytes through the context (the provider's own operation).
    int (*generateTestedRandom)(void* provider, Context* context, std::uint8_t* out, std::uint32_t length);
    void* provider;
};

}  // namespace cspcalls

#endif
