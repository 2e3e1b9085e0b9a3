// DSTU 8845 entries of cgbase.so (being built).
#include "CGExport.h"

CG_EXPORT int DSTU8845SelfTest(void)
{
    return 0;
}
CG_SHAPE(DSTU8845SelfTest, CGSelfTestFn);

CG_EXPORT void* DSTU8845AcquireState(void)
{
    return nullptr;
}
CG_SHAPE(DSTU8845AcquireState, CGAcquireStateFn);

CG_EXPORT int DSTU8845ReleaseState(void*)
{
    return 1;
}
CG_SHAPE(DSTU8845ReleaseState, CGReleaseStateFn);

CG_EXPORT int DSTU8845SetStateParameters(void*, const void*, uint32_t)
{
    return 0;
}
CG_SHAPE(DSTU8845SetStateParameters, CGSetStateParametersFn);

CG_EXPORT int DSTU8845GetStateParameters(void*, void*, uint32_t)
{
    return 0;
}
CG_SHAPE(DSTU8845GetStateParameters, CGGetStateParametersFn);

CG_EXPORT int DSTU8845EncryptData(uint8_t*, uint32_t, void*)
{
    return 0;
}
CG_SHAPE(DSTU8845EncryptData, CGDSTU8845EncryptDataFn);
