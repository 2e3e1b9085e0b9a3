// The provider's DSTU 4145, key-transport, GOST 28147 and GOST 34.311
// operations over the functions of the outside crypto library, written
// against a record of typed function pointers so that each operation states
// exactly which functions it needs. The CSP object fills the record from its
// binding and extension table (entries of the extension table may be null)
// and forwards its operation slots here.
#ifndef QVK_CSP_CSPLIBRARYCALLS_H
#define QVK_CSP_CSPLIBRARYCALLS_H

#include <cstdint>

#include "cgapi/CSPLibraryFunctions.h"
#include "crypto/GOST28147.h"
#include "csp/CSP.h"
#include "support/DSTU4145Records.h"
#include "support/ICSPHardware.h"

namespace cspcalls {

// Result codes of the provider.
enum : int {
    kOk = CSP_OK,
    kNotInitialized = CSP_NOT_INITIALIZED,
    kNoObject = CSP_NO_OBJECT,
    kBadArgument = CSP_BAD_ARGUMENT,
    kNoMemory = CSP_NO_MEMORY,
    kLibraryError = CSP_LIBRARY_ERROR,
    kHardwareError = CSP_HARDWARE_ERROR,
    kValueMismatch = CSP_VALUE_MISMATCH,
    kInvalidSignature = CSP_INVALID_SIGNATURE,
    kBadParameters = CSP_BAD_PARAMETERS
};

using Context = CSPContext;

struct Library {
    // --- required functions (never null once bound) ---
    CGDSTU4145AcquireStateFn DSTU4145AcquireState;
    CGReleaseStateFn DSTU4145ReleaseState;
    CGSetStateParametersFn DSTU4145SetStateParameters;
    CGGetStateParametersFn DSTU4145GetStateParameters;
    CGDSTU4145GenerateParametersFn DSTU4145GenerateParameters;
    CGDSTU4145StateFn DSTU4145SignHash;
    CGDSTU4145StateFn DSTU4145VerifySignature;
    CGECDHCalculateSharedKeyFn ECDHCalculateSharedKey;
    CGECDHUACalculateSharedKeyFn ECDHUACalculateSharedKey;
    CGGOST28147WrapSharedKeyFn GOST28147WrapSharedKey;
    CGGOST28147UnwrapSharedKeyFn GOST28147UnwrapSharedKey;
    CGAcquireStateFn GOST28147AcquireState;
    CGReleaseStateFn GOST28147ReleaseState;
    CGSetStateParametersFn GOST28147SetStateParameters;
    CGGetStateParametersFn GOST28147GetStateParameters;
    CGGOST28147BlocksFn GOST28147EncryptDataSSMode;
    CGGOST28147BlocksFn GOST28147DecryptDataSSMode;
    CGGOST28147DataFn GOST28147EncryptDataGMode;
    CGGOST28147DataFn GOST28147EncryptDataGOFBMode;
    CGGOST28147DataFn GOST28147DecryptDataGOFBMode;
    CGGOST28147MACFn GOST28147GetDataMAC;
    CGAcquireStateFn GOST34311AcquireState;
    CGReleaseStateFn GOST34311ReleaseState;
    CGSetStateParametersFn GOST34311SetStateParameters;
    CGGetStateParametersFn GOST34311GetStateParameters;
    CGGOST34311HashDataFn GOST34311HashData;
    CGGOST34311FinalizeHashFn GOST34311FinalizeHash;

    // --- extension entries (null when the library lacks them, or when there is no table) ---
    CGAcquireStateFn GOST34311HMACAcquireState;
    CGReleaseStateFn GOST34311HMACReleaseState;
    CGSetStateParametersFn GOST34311HMACSetStateParameters;
    CGGetStateParametersFn GOST34311HMACGetStateParameters;
    CGGOST34311HMACUpdateDataFn GOST34311HMACUpdateData;
    CGStateFinalizeFn GOST34311HMACFinalizeDataMac;
    CGPBKDFDeriveKeyFn PBKDF2DeriveKey;
    CGPBKDFDeriveKeyFn PBKDFMACDeriveKey;
    CGCoupleMakeCommonKeyQFn DSTU4145CoupleMakeCommonKeyQ;
    CGCoupleMakeSignRFn DSTU4145CoupleMakeSignR;
    CGCoupleMakeCommonSignRFn DSTU4145CoupleMakeCommonSignR;
    CGCoupleMakeSignSFn DSTU4145CoupleMakeSignS;
    CGCoupleMakeCommonSignSFn DSTU4145CoupleMakeCommonSignS;
    CGCoupleMakeCommonSignFn DSTU4145CoupleMakeCommonSign;
    CGECDHKDFDSTU7564CalculateSharedKeyFn ECDHKDFDSTU7564CalculateSharedKey;
    CGECDHKDFDSTU7564CalculateDenseSharedKeyFn ECDHKDFDSTU7564CalculateDenseSharedKey;
    CGDSTU7624WrapSharedKeyFn DSTU7624WrapSharedKey;
    CGDSTU7624UnwrapSharedKeyFn DSTU7624UnwrapSharedKey;
    CGDSTU4145IsDenseNumbersSupportedFn DSTU4145IsDenseNumbersSupported;

    // --- the provider itself ---
    bool initialized;
    // Tested random bytes through the context (the provider's own operation).
    int (*generateTestedRandom)(void* provider, Context* context, std::uint8_t* out, std::uint32_t length);
    void* provider;
};

}  // namespace cspcalls

#endif
