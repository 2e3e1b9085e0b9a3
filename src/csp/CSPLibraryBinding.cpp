// Loading and binding of cgbase.so and cgext.so.
#include "csp/CSPLibraryBinding.h"

#include <cstdio>
#include <cstdlib>
#include <new>

#include "csp/CGLibraries.h"
#include "wemu.h"

const char* const CSPBaseFunctionNames[CG_BASE_FUNCTION_COUNT] = {
    "DSTU4145SelfTest",
    "DSTU4145AcquireState",
    "DSTU4145ReleaseState",
    "DSTU4145SetStateParameters",
    "DSTU4145GetStateParameters",
    "DSTU4145GenerateParameters",
    "DSTU4145SignHash",
    "DSTU4145VerifySignature",
    "DSTU4145Trace",
    "DSTU4145HalfTrace",
    "DSTU4145SolveQuadEqual",
    QVK_CG_PSEUDO_RNG_NAMES,
    "ECDHSelfTest",
    "ECDHCalculateSharedKey",
    QVK_CG_GOST_NAMES,
    "ECDHUASelfTest",
    "ECDHUACalculateSharedKey",
    "GOST28147WrapSharedKey",
    "GOST28147UnwrapSharedKey",
};

const char* const CSPExtFunctionNames[CG_EXT_FUNCTION_COUNT] = {
    "TSCGIsEnable", "TSCGGenerateSequence", "BSTestSequence", "BSReleaseStatistic", "CRC32Count",
};

const char* const CSPExtraFunctionNames[CGX_EXTRA_FUNCTION_COUNT] = {
    "GOST34311HMACSelfTest",
    "GOST34311HMACAcquireState",
    "GOST34311HMACReleaseState",
    "GOST34311HMACSetStateParameters",
    "GOST34311HMACGetStateParameters",
    "GOST34311HMACUpdateData",
    "GOST34311HMACFinalizeDataMac",
    "PBKDF2SelfTest",
    "PBKDF2DeriveKey",
    "PBKDFMACSelfTest",
    "PBKDFMACDeriveKey",
    "DSTU4145PseudoRNGReinitialize",
    "DSTU4145CoupleSelfTest",
    "DSTU4145CoupleMakeCommonKeyQ",
    "DSTU4145CoupleMakeSignR",
    "DSTU4145CoupleMakeCommonSignR",
    "DSTU4145CoupleMakeSignS",
    "DSTU4145CoupleMakeCommonSignS",
    "DSTU4145CoupleMakeCommonSign",
    "DSTU7624SelfTest",
    "DSTU7624AcquireState",
    "DSTU7624ReleaseState",
    "DSTU7624SetStateParameters",
    "DSTU7624GetStateParameters",
    "DSTU7624EncryptDataECBMode",
    "DSTU7624DecryptDataECBMode",
    "DSTU7624EncryptDataCTRMode",
    "DSTU7624DecryptDataCTRMode",
    "DSTU7624EncryptDataCFBMode",
    "DSTU7624DecryptDataCFBMode",
    "DSTU7624GetDataCMAC",
    "DSTU7624CheckDataCMAC",
    "DSTU7624EncryptDataCBCMode",
    "DSTU7624DecryptDataCBCMode",
    "DSTU7624EncryptDataOFBMode",
    "DSTU7624DecryptDataOFBMode",
    "DSTU7624EncryptDataGCMMode",
    "DSTU7624DecryptDataGCMMode",
    "DSTU7624GetDataGMAC",
    "DSTU7624CheckDataGMAC",
    "DSTU7624EncryptDataCCMMode",
    "DSTU7624DecryptDataCCMMode",
    "DSTU7624EncryptDataXTSMode",
    "DSTU7624DecryptDataXTSMode",
    "DSTU7624EncryptDataKWMode",
    "DSTU7624DecryptDataKWMode",
    "DSTU7564SelfTest",
    "DSTU7564AcquireState",
    "DSTU7564ReleaseState",
    "DSTU7564SetStateParameters",
    "DSTU7564GetStateParameters",
    "DSTU7564HashData",
    "DSTU7564FinalizeHash",
    "DSTU8845SelfTest",
    "DSTU8845AcquireState",
    "DSTU8845ReleaseState",
    "DSTU8845SetStateParameters",
    "DSTU8845GetStateParameters",
    "DSTU8845EncryptData",
    "DSTU7564HMACSelfTest",
    "DSTU7564HMACAcquireState",
    "DSTU7564HMACReleaseState",
    "DSTU7564HMACSetStateParameters",
    "DSTU7564HMACGetStateParameters",
    "DSTU7564HMACUpdateData",
    "DSTU7564HMACFinalizeDataMac",
    "PKCS5PBKDF2DSTU7564SelfTest",
    "PKCS5PBKDF2DSTU7564DeriveKey",
    "PKCS12PBKDFDSTU7564SelfTest",
    "PKCS12PBKDFDSTU7564DeriveKey",
    "ECDHDSTUSelfTest",
    "ECDHKDFDSTU7564CalculateSharedKey",
    "DSTU7624WrapSharedKey",
    "DSTU7624UnwrapSharedKey",
    "DSTU4145PseudoRNGAcquireState",
    "DSTU4145PseudoRNGLockState",
    "DSTU4145PseudoRNGUnlockState",
    "DSTU4145PseudoRNGSetStateParameters",
    "DSTU4145IsDenseNumbersSupported",
    "ECDHKDFDSTU7564CalculateDenseSharedKey",
};

void CSPLibraryBinding::Clear()
{
    baseModule = nullptr;
    extModule = nullptr;
}

int CSPLibraryBinding::Load()
{
    if (baseModule != nullptr && extModule != nullptr) return 1;

    std::size_t missing = CG_EXT_FUNCTION_COUNT;
    if (cglibraries::LoadPair({"cgbase.so", CSPBaseFunctionNames, CG_BASE_FUNCTION_COUNT, base},
                              {"cgext.so", CSPExtFunctionNames, CG_EXT_FUNCTION_COUNT, ext}, &baseModule, &extModule,
                              &missing))
        return 1;
    if (missing != CG_EXT_FUNCTION_COUNT)
        std::fprintf(stderr, "CGExtension: Function %d not found\n", static_cast<int>(missing));
    return 0;
}

int CSPLibraryBinding::LoadExtraFunctionTable(CSPExtraFunctionTable** table)
{
    if (baseModule == nullptr) return 0;
    auto* built = new (std::nothrow) CSPExtraFunctionTable;
    if (built == nullptr) return 0;
    built->count = CGX_EXTRA_FUNCTION_COUNT;
    built->reserved = 0;
    for (std::size_t i = 0; i < CGX_EXTRA_FUNCTION_COUNT; ++i)
        built->entries[i] = GetProcAddress(baseModule, CSPExtraFunctionNames[i]);
    *table = built;
    return 1;
}

void CSPLibraryBinding::Unload()
{
    if (baseModule != nullptr) {
        if (auto finalize = reinterpret_cast<CGFinalizeFn>(GetProcAddress(baseModule, "CSPFinalize"))) finalize();
        FreeLibrary(baseModule);
        baseModule = nullptr;
    }
    if (extModule != nullptr) {
        FreeLibrary(extModule);
        extModule = nullptr;
    }
}

void CSPLibraryBinding::FreeExtraFunctionTable(CSPExtraFunctionTable** table)
{
    if (table != nullptr && *table != nullptr) {
        delete *table;
        *table = nullptr;
    }
}

void CSPLibraryBinding::FreeLibraries()
{
    if (baseModule != nullptr) FreeLibrary(baseModule);
    if (extModule != nullptr) FreeLibrary(extModule);
}
