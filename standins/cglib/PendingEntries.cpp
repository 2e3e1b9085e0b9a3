// DSTU 4145 signatures, key agreement, two-party signing and dense records,
// GOST 28147 and GOST 34.311 with their HMAC and key derivations, and the key
// transport entries: present so that the provider binds, but refusing until
// they are built. Acquire functions give no state, every other one reports
// failure.
#include "CGExport.h"

CG_EXPORT int DSTU4145SelfTest(void)
{
    return 0;
}
CG_SHAPE(DSTU4145SelfTest, CGSelfTestFn);

CG_EXPORT void* DSTU4145AcquireState(int, int)
{
    return nullptr;
}
CG_SHAPE(DSTU4145AcquireState, CGDSTU4145AcquireStateFn);

CG_EXPORT int DSTU4145ReleaseState(void*)
{
    return 0;
}
CG_SHAPE(DSTU4145ReleaseState, CGReleaseStateFn);

CG_EXPORT int DSTU4145SetStateParameters(void*, const void*, uint32_t)
{
    return 0;
}
CG_SHAPE(DSTU4145SetStateParameters, CGSetStateParametersFn);

CG_EXPORT int DSTU4145GetStateParameters(void*, void*, uint32_t)
{
    return 0;
}
CG_SHAPE(DSTU4145GetStateParameters, CGGetStateParametersFn);

CG_EXPORT int DSTU4145GenerateParameters(void*, int)
{
    return 0;
}
CG_SHAPE(DSTU4145GenerateParameters, CGDSTU4145GenerateParametersFn);

CG_EXPORT int DSTU4145SignHash(void*)
{
    return 0;
}
CG_SHAPE(DSTU4145SignHash, CGDSTU4145StateFn);

CG_EXPORT int DSTU4145VerifySignature(void*)
{
    return 0;
}
CG_SHAPE(DSTU4145VerifySignature, CGDSTU4145StateFn);

CG_EXPORT int DSTU4145Trace(void*, const void*, void*)
{
    return 0;
}
CG_SHAPE(DSTU4145Trace, CGDSTU4145FieldFn);

CG_EXPORT int DSTU4145HalfTrace(void*, const void*, void*)
{
    return 0;
}
CG_SHAPE(DSTU4145HalfTrace, CGDSTU4145FieldFn);

CG_EXPORT int DSTU4145SolveQuadEqual(void*, const void*, void*)
{
    return 0;
}
CG_SHAPE(DSTU4145SolveQuadEqual, CGDSTU4145FieldFn);

CG_EXPORT int ECDHSelfTest(void)
{
    return 0;
}
CG_SHAPE(ECDHSelfTest, CGSelfTestFn);

CG_EXPORT int ECDHCalculateSharedKey(const DSTU4145FieldRecord*, const DSTU4145PointRecord*, const uint8_t*,
                                     const uint8_t*, const uint8_t*, const uint8_t*, const void*, uint8_t*)
{
    return 0;
}
CG_SHAPE(ECDHCalculateSharedKey, CGECDHCalculateSharedKeyFn);

CG_EXPORT int GOST28147SelfTest(void)
{
    return 0;
}
CG_SHAPE(GOST28147SelfTest, CGSelfTestFn);

CG_EXPORT void* GOST28147AcquireState(void)
{
    return nullptr;
}
CG_SHAPE(GOST28147AcquireState, CGAcquireStateFn);

CG_EXPORT int GOST28147ReleaseState(void*)
{
    return 0;
}
CG_SHAPE(GOST28147ReleaseState, CGReleaseStateFn);

CG_EXPORT int GOST28147SetStateParameters(void*, const void*, uint32_t)
{
    return 0;
}
CG_SHAPE(GOST28147SetStateParameters, CGSetStateParametersFn);

CG_EXPORT int GOST28147GetStateParameters(void*, void*, uint32_t)
{
    return 0;
}
CG_SHAPE(GOST28147GetStateParameters, CGGetStateParametersFn);

CG_EXPORT int GOST28147EncryptDataSSMode(uint8_t*, uint32_t, void*)
{
    return 0;
}
CG_SHAPE(GOST28147EncryptDataSSMode, CGGOST28147BlocksFn);

CG_EXPORT int GOST28147DecryptDataSSMode(uint8_t*, uint32_t, void*)
{
    return 0;
}
CG_SHAPE(GOST28147DecryptDataSSMode, CGGOST28147BlocksFn);

CG_EXPORT int GOST28147EncryptDataGMode(uint8_t*, uint32_t, void*)
{
    return 0;
}
CG_SHAPE(GOST28147EncryptDataGMode, CGGOST28147DataFn);

CG_EXPORT int GOST28147EncryptDataGOFBMode(uint8_t*, uint32_t, void*)
{
    return 0;
}
CG_SHAPE(GOST28147EncryptDataGOFBMode, CGGOST28147DataFn);

CG_EXPORT int GOST28147DecryptDataGOFBMode(uint8_t*, uint32_t, void*)
{
    return 0;
}
CG_SHAPE(GOST28147DecryptDataGOFBMode, CGGOST28147DataFn);

CG_EXPORT int GOST28147GetDataMAC(const uint8_t*, uint32_t, void*)
{
    return 0;
}
CG_SHAPE(GOST28147GetDataMAC, CGGOST28147MACFn);

CG_EXPORT int GOST34311SelfTest(void)
{
    return 0;
}
CG_SHAPE(GOST34311SelfTest, CGSelfTestFn);

CG_EXPORT void* GOST34311AcquireState(void)
{
    return nullptr;
}
CG_SHAPE(GOST34311AcquireState, CGAcquireStateFn);

CG_EXPORT int GOST34311ReleaseState(void*)
{
    return 0;
}
CG_SHAPE(GOST34311ReleaseState, CGReleaseStateFn);

CG_EXPORT int GOST34311SetStateParameters(void*, const void*, uint32_t)
{
    return 0;
}
CG_SHAPE(GOST34311SetStateParameters, CGSetStateParametersFn);

CG_EXPORT int GOST34311GetStateParameters(void*, void*, uint32_t)
{
    return 0;
}
CG_SHAPE(GOST34311GetStateParameters, CGGetStateParametersFn);

CG_EXPORT int GOST34311HashData(const uint8_t*, uint32_t, void*)
{
    return 0;
}
CG_SHAPE(GOST34311HashData, CGGOST34311HashDataFn);

CG_EXPORT int GOST34311FinalizeHash(uint32_t, void*)
{
    return 0;
}
CG_SHAPE(GOST34311FinalizeHash, CGGOST34311FinalizeHashFn);

CG_EXPORT int ECDHUASelfTest(void)
{
    return 0;
}
CG_SHAPE(ECDHUASelfTest, CGSelfTestFn);

CG_EXPORT int ECDHUACalculateSharedKey(const DSTU4145FieldRecord*, const DSTU4145PointRecord*, const uint8_t*,
                                       const uint8_t*, int, const uint8_t*, uint32_t, const void*, const void*,
                                       uint8_t*)
{
    return 0;
}
CG_SHAPE(ECDHUACalculateSharedKey, CGECDHUACalculateSharedKeyFn);

CG_EXPORT int GOST28147WrapSharedKey(const uint8_t*, const void*, const uint8_t*, const void*, void*, uint8_t*)
{
    return 0;
}
CG_SHAPE(GOST28147WrapSharedKey, CGGOST28147WrapSharedKeyFn);

CG_EXPORT int GOST28147UnwrapSharedKey(const uint8_t*, const void*, const uint8_t*, uint8_t*)
{
    return 0;
}
CG_SHAPE(GOST28147UnwrapSharedKey, CGGOST28147UnwrapSharedKeyFn);

CG_EXPORT int GOST34311HMACSelfTest(void)
{
    return 0;
}
CG_SHAPE(GOST34311HMACSelfTest, CGSelfTestFn);

CG_EXPORT void* GOST34311HMACAcquireState(void)
{
    return nullptr;
}
CG_SHAPE(GOST34311HMACAcquireState, CGAcquireStateFn);

CG_EXPORT int GOST34311HMACReleaseState(void*)
{
    return 0;
}
CG_SHAPE(GOST34311HMACReleaseState, CGReleaseStateFn);

CG_EXPORT int GOST34311HMACSetStateParameters(void*, const void*, uint32_t)
{
    return 0;
}
CG_SHAPE(GOST34311HMACSetStateParameters, CGSetStateParametersFn);

CG_EXPORT int GOST34311HMACGetStateParameters(void*, void*, uint32_t)
{
    return 0;
}
CG_SHAPE(GOST34311HMACGetStateParameters, CGGetStateParametersFn);

CG_EXPORT int GOST34311HMACUpdateData(const uint8_t*, uint32_t, void*)
{
    return 0;
}
CG_SHAPE(GOST34311HMACUpdateData, CGGOST34311HMACUpdateDataFn);

CG_EXPORT int GOST34311HMACFinalizeDataMac(void*)
{
    return 0;
}
CG_SHAPE(GOST34311HMACFinalizeDataMac, CGStateFinalizeFn);

CG_EXPORT int PBKDF2SelfTest(void)
{
    return 0;
}
CG_SHAPE(PBKDF2SelfTest, CGSelfTestFn);

CG_EXPORT int PBKDF2DeriveKey(const void*, uint32_t, const uint8_t*, uint32_t, uint32_t, uint8_t*, uint32_t,
                              const void*)
{
    return 0;
}
CG_SHAPE(PBKDF2DeriveKey, CGPBKDFDeriveKeyFn);

CG_EXPORT int PBKDFMACSelfTest(void)
{
    return 0;
}
CG_SHAPE(PBKDFMACSelfTest, CGSelfTestFn);

CG_EXPORT int PBKDFMACDeriveKey(const void*, uint32_t, const uint8_t*, uint32_t, uint32_t, uint8_t*, uint32_t,
                                const void*)
{
    return 0;
}
CG_SHAPE(PBKDFMACDeriveKey, CGPBKDFDeriveKeyFn);

CG_EXPORT int DSTU4145CoupleSelfTest(void)
{
    return 0;
}
CG_SHAPE(DSTU4145CoupleSelfTest, CGSelfTestFn);

CG_EXPORT int DSTU4145CoupleMakeCommonKeyQ(void*, const uint8_t*)
{
    return 0;
}
CG_SHAPE(DSTU4145CoupleMakeCommonKeyQ, CGCoupleMakeCommonKeyQFn);

CG_EXPORT int DSTU4145CoupleMakeSignR(void*, uint8_t*)
{
    return 0;
}
CG_SHAPE(DSTU4145CoupleMakeSignR, CGCoupleMakeSignRFn);

CG_EXPORT int DSTU4145CoupleMakeCommonSignR(void*, const uint8_t*, const uint8_t*, uint8_t*)
{
    return 0;
}
CG_SHAPE(DSTU4145CoupleMakeCommonSignR, CGCoupleMakeCommonSignRFn);

CG_EXPORT int DSTU4145CoupleMakeSignS(void*, const uint8_t*, uint8_t*)
{
    return 0;
}
CG_SHAPE(DSTU4145CoupleMakeSignS, CGCoupleMakeSignSFn);

CG_EXPORT int DSTU4145CoupleMakeCommonSignS(void*, const uint8_t*, const uint8_t*, uint8_t*)
{
    return 0;
}
CG_SHAPE(DSTU4145CoupleMakeCommonSignS, CGCoupleMakeCommonSignSFn);

CG_EXPORT int DSTU4145CoupleMakeCommonSign(void*, const uint8_t*, const uint8_t*)
{
    return 0;
}
CG_SHAPE(DSTU4145CoupleMakeCommonSign, CGCoupleMakeCommonSignFn);

CG_EXPORT int ECDHDSTUSelfTest(void)
{
    return 0;
}
CG_SHAPE(ECDHDSTUSelfTest, CGSelfTestFn);

CG_EXPORT int ECDHKDFDSTU7564CalculateSharedKey(const DSTU4145FieldRecord*, const DSTU4145PointRecord*, const uint8_t*,
                                                const uint8_t*, int, const uint8_t*, uint32_t, const void*, uint32_t,
                                                uint8_t*, uint32_t)
{
    return 0;
}
CG_SHAPE(ECDHKDFDSTU7564CalculateSharedKey, CGECDHKDFDSTU7564CalculateSharedKeyFn);

CG_EXPORT int DSTU7624WrapSharedKey(const uint8_t*, uint32_t, const void*, const uint8_t*, const void*, const void*,
                                    uint32_t, void*, uint8_t*, void*)
{
    return 0;
}
CG_SHAPE(DSTU7624WrapSharedKey, CGDSTU7624WrapSharedKeyFn);

CG_EXPORT int DSTU7624UnwrapSharedKey(const uint8_t*, uint32_t, const void*, const uint8_t*, const void*, uint8_t*,
                                      void*)
{
    return 0;
}
CG_SHAPE(DSTU7624UnwrapSharedKey, CGDSTU7624UnwrapSharedKeyFn);

CG_EXPORT int DSTU4145IsDenseNumbersSupported(void)
{
    return 0;
}
CG_SHAPE(DSTU4145IsDenseNumbersSupported, CGDSTU4145IsDenseNumbersSupportedFn);

CG_EXPORT int ECDHKDFDSTU7564CalculateDenseSharedKey(const uint8_t*, uint32_t, const uint8_t*, uint32_t, const uint8_t*,
                                                     uint32_t, const uint8_t*, uint32_t, const void*, uint32_t,
                                                     uint8_t*, uint32_t)
{
    return 0;
}
CG_SHAPE(ECDHKDFDSTU7564CalculateDenseSharedKey, CGECDHKDFDSTU7564CalculateDenseSharedKeyFn);
