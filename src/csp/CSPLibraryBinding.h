// Run-time binding of the outside crypto libraries cgbase.so and cgext.so:
// both module handles, the 39 cgbase.so and 5 cgext.so functions that must
// exist, and the table of 80 optional cgbase.so extension entries. The
// libraries are loaded by bare file name, so the current directory is
// searched first.
#ifndef QVK_CSP_CSPLIBRARYBINDING_H
#define QVK_CSP_CSPLIBRARYBINDING_H

#include <cstddef>
#include <cstdint>

#include "cgapi/CSPLibraryFunctions.h"

// Indices of the required cgbase.so functions.
enum CSPBaseFunction : std::size_t {
    CG_DSTU4145SelfTest,
    CG_DSTU4145AcquireState,
    CG_DSTU4145ReleaseState,
    CG_DSTU4145SetStateParameters,
    CG_DSTU4145GetStateParameters,
    CG_DSTU4145GenerateParameters,
    CG_DSTU4145SignHash,
    CG_DSTU4145VerifySignature,
    CG_DSTU4145Trace,
    CG_DSTU4145HalfTrace,
    CG_DSTU4145SolveQuadEqual,
    CG_DSTU4145PseudoRNGSelfTest,
    CG_DSTU4145PseudoRNGInitialize,
    CG_DSTU4145PseudoRNGDeinitialize,
    CG_DSTU4145PseudoRNGGenerateSequence,
    CG_ECDHSelfTest,
    CG_ECDHCalculateSharedKey,
    CG_GOST28147SelfTest,
    CG_GOST28147AcquireState,
    CG_GOST28147ReleaseState,
    CG_GOST28147SetStateParameters,
    CG_GOST28147GetStateParameters,
    CG_GOST28147EncryptDataSSMode,
    CG_GOST28147DecryptDataSSMode,
    CG_GOST28147EncryptDataGMode,
    CG_GOST28147EncryptDataGOFBMode,
    CG_GOST28147DecryptDataGOFBMode,
    CG_GOST28147GetDataMAC,
    CG_GOST34311SelfTest,
    CG_GOST34311AcquireState,
    CG_GOST34311ReleaseState,
    CG_GOST34311SetStateParameters,
    CG_GOST34311GetStateParameters,
    CG_GOST34311HashData,
    CG_GOST34311FinalizeHash,
    CG_ECDHUASelfTest,
    CG_ECDHUACalculateSharedKey,
    CG_GOST28147WrapSharedKey,
    CG_GOST28147UnwrapSharedKey,
    CG_BASE_FUNCTION_COUNT
};

// Indices of the required cgext.so functions.
enum CSPExtFunction : std::size_t {
    CG_TSCGIsEnable,
    CG_TSCGGenerateSequence,
    CG_BSTestSequence,
    CG_BSReleaseStatistic,
    CG_CRC32Count,
    CG_EXT_FUNCTION_COUNT
};

// Indices of the optional extension entries.
enum CSPExtraFunction : std::size_t {
    CGX_GOST34311HMACSelfTest,
    CGX_GOST34311HMACAcquireState,
    CGX_GOST34311HMACReleaseState,
    CGX_GOST34311HMACSetStateParameters,
    CGX_GOST34311HMACGetStateParameters,
    CGX_GOST34311HMACUpdateData,
    CGX_GOST34311HMACFinalizeDataMac,
    CGX_PBKDF2SelfTest,
    CGX_PBKDF2DeriveKey,
    CGX_PBKDFMACSelfTest,
    CGX_PBKDFMACDeriveKey,
    CGX_DSTU4145PseudoRNGReinitialize,
    CGX_DSTU4145CoupleSelfTest,
    CGX_DSTU4145CoupleMakeCommonKeyQ,
    CGX_DSTU4145CoupleMakeSignR,
    CGX_DSTU4145CoupleMakeCommonSignR,
    CGX_DSTU4145CoupleMakeSignS,
    CGX_DSTU4145CoupleMakeCommonSignS,
    CGX_DSTU4145CoupleMakeCommonSign,
    CGX_DSTU7624SelfTest,
    CGX_DSTU7624AcquireState,
    CGX_DSTU7624ReleaseState,
    CGX_DSTU7624SetStateParameters,
    CGX_DSTU7624GetStateParameters,
    CGX_DSTU7624EncryptDataECBMode,
    CGX_DSTU7624DecryptDataECBMode,
    CGX_DSTU7624EncryptDataCTRMode,
    CGX_DSTU7624DecryptDataCTRMode,
    CGX_DSTU7624EncryptDataCFBMode,
    CGX_DSTU7624DecryptDataCFBMode,
    CGX_DSTU7624GetDataCMAC,
    CGX_DSTU7624CheckDataCMAC,
    CGX_DSTU7624EncryptDataCBCMode,
    CGX_DSTU7624DecryptDataCBCMode,
    CGX_DSTU7624EncryptDataOFBMode,
    CGX_DSTU7624DecryptDataOFBMode,
    CGX_DSTU7624EncryptDataGCMMode,
    CGX_DSTU7624DecryptDataGCMMode,
    CGX_DSTU7624GetDataGMAC,
    CGX_DSTU7624CheckDataGMAC,
    CGX_DSTU7624EncryptDataCCMMode,
    CGX_DSTU7624DecryptDataCCMMode,
    CGX_DSTU7624EncryptDataXTSMode,
    CGX_DSTU7624DecryptDataXTSMode,
    CGX_DSTU7624EncryptDataKWMode,
    CGX_DSTU7624DecryptDataKWMode,
    CGX_DSTU7564SelfTest,
    CGX_DSTU7564AcquireState,
    CGX_DSTU7564ReleaseState,
    CGX_DSTU7564SetStateParameters,
    CGX_DSTU7564GetStateParameters,
    CGX_DSTU7564HashData,
    CGX_DSTU7564FinalizeHash,
    CGX_DSTU8845SelfTest,
    CGX_DSTU8845AcquireState,
    CGX_DSTU8845ReleaseState,
    CGX_DSTU8845SetStateParameters,
    CGX_DSTU8845GetStateParameters,
    CGX_DSTU8845EncryptData,
    CGX_DSTU7564HMACSelfTest,
    CGX_DSTU7564HMACAcquireState,
    CGX_DSTU7564HMACReleaseState,
    CGX_DSTU7564HMACSetStateParameters,
    CGX_DSTU7564HMACGetStateParameters,
    CGX_DSTU7564HMACUpdateData,
    CGX_DSTU7564HMACFinalizeDataMac,
    CGX_PKCS5PBKDF2DSTU7564SelfTest,
    CGX_PKCS5PBKDF2DSTU7564DeriveKey,
    CGX_PKCS12PBKDFDSTU7564SelfTest,
    CGX_PKCS12PBKDFDSTU7564DeriveKey,
    CGX_ECDHDSTUSelfTest,
    CGX_ECDHKDFDSTU7564CalculateSharedKey,
    CGX_DSTU7624WrapSharedKey,
    CGX_DSTU7624UnwrapSharedKey,
    CGX_DSTU4145PseudoRNGAcquireState,
    CGX_DSTU4145PseudoRNGLockState,
    CGX_DSTU4145PseudoRNGUnlockState,
    CGX_DSTU4145PseudoRNGSetStateParameters,
    CGX_DSTU4145IsDenseNumbersSupported,
    CGX_ECDHKDFDSTU7564CalculateDenseSharedKey,
    CGX_EXTRA_FUNCTION_COUNT
};

// A function address as looked up; cast to its type from
// CSPLibraryFunctions.h before the call.
typedef void (*CSPProc)(void);

// The heap table of optional entries: count 80, reserved 0, then the entries
// in index order, null where cgbase.so lacks the name.
struct CSPExtraFunctionTable {
    std::uint32_t count;
    std::uint32_t reserved;
    CSPProc entries[CGX_EXTRA_FUNCTION_COUNT];
};

// The names looked up, by index (for the tests and diagnostics too).
extern const char* const CSPBaseFunctionNames[CG_BASE_FUNCTION_COUNT];
extern const char* const CSPExtFunctionNames[CG_EXT_FUNCTION_COUNT];
extern const char* const CSPExtraFunctionNames[CGX_EXTRA_FUNCTION_COUNT];

struct CSPLibraryBinding {
    void* baseModule;  // cgbase.so, null while not loaded
    void* extModule;   // cgext.so, null while not loaded
    CSPProc base[CG_BASE_FUNCTION_COUNT];
    CSPProc ext[CG_EXT_FUNCTION_COUNT];

    // Both handles to null.
    void Clear();
    // 1 when both libraries are loaded and every required name is bound; a
    // missing cgext.so name is reported on standard error by its index.
    int Load();
    // 1 when a table was built and stored through `table`.
    int LoadExtraFunctionTable(CSPExtraFunctionTable** table);
    // Runs the optional CSPFinalize of cgbase.so, then releases both.
    void Unload();
    static void FreeExtraFunctionTable(CSPExtraFunctionTable** table);
    // Releases each loaded handle without clearing it.
    void FreeLibraries();

    bool IsLoaded() const { return baseModule != nullptr && extModule != nullptr; }

    template <typename Fn>
    Fn Base(CSPBaseFunction index) const
    {
        return reinterpret_cast<Fn>(base[index]);
    }
    template <typename Fn>
    Fn Ext(CSPExtFunction index) const
    {
        return reinterpret_cast<Fn>(ext[index]);
    }
};

#endif
