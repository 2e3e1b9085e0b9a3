// Run-time binding of the international-algorithms provider (CSPI) to
// cgintl.so (100 required functions) and cgext.so (5 required functions), and
// the table of 42 further cgintl.so functions that may each be missing. Both
// libraries are found by their bare file names through the Win32 layer. The
// binding prints nothing and calls no finaliser of the libraries.
#ifndef QVK_CSP_CSPILIBRARYBINDING_H
#define QVK_CSP_CSPILIBRARYBINDING_H

#include <cstdint>

#include "wemu.h"

// Positions of the required cgintl.so functions, of the cgext.so functions
// and of the optional entries, in the order of their name lists.
enum CSPIIntlFunction : unsigned {
    CSPI_I_DSTU4145PseudoRNGSelfTest,
    CSPI_I_DSTU4145PseudoRNGInitialize,
    CSPI_I_DSTU4145PseudoRNGDeinitialize,
    CSPI_I_DSTU4145PseudoRNGGenerateSequence,
    CSPI_I_DSTU4145PseudoRNGGenerateSequenceInBits,
    CSPI_I_GOST28147SelfTest,
    CSPI_I_GOST28147AcquireState,
    CSPI_I_GOST28147ReleaseState,
    CSPI_I_GOST28147SetStateParameters,
    CSPI_I_GOST28147GetStateParameters,
    CSPI_I_GOST28147EncryptDataSSMode,
    CSPI_I_GOST28147DecryptDataSSMode,
    CSPI_I_GOST28147EncryptDataGMode,
    CSPI_I_GOST28147EncryptDataGOFBMode,
    CSPI_I_GOST28147DecryptDataGOFBMode,
    CSPI_I_GOST28147GetDataMAC,
    CSPI_I_GOST34311SelfTest,
    CSPI_I_GOST34311AcquireState,
    CSPI_I_GOST34311ReleaseState,
    CSPI_I_GOST34311SetStateParameters,
    CSPI_I_GOST34311GetStateParameters,
    CSPI_I_GOST34311HashData,
    CSPI_I_GOST34311FinalizeHash,
    CSPI_I_RSASelfTest,
    CSPI_I_RSAAcquireState,
    CSPI_I_RSAReleaseState,
    CSPI_I_RSASetStateParameters,
    CSPI_I_RSAGetStateParameters,
    CSPI_I_RSAGenerateParameters,
    CSPI_I_RSASignHash,
    CSPI_I_RSAVerifySignature,
    CSPI_I_RSAEncryptData,
    CSPI_I_RSADecryptData,
    CSPI_I_SHASelfTest,
    CSPI_I_SHAAcquireState,
    CSPI_I_SHAReleaseState,
    CSPI_I_SHASetStateParameters,
    CSPI_I_SHAGetStateParameters,
    CSPI_I_SHAHashData,
    CSPI_I_SHAFinalizeHash,
    CSPI_I_ECDSASelfTest,
    CSPI_I_ECDSAAcquireState,
    CSPI_I_ECDSAReleaseState,
    CSPI_I_ECDSASetStateParameters,
    CSPI_I_ECDSAGenerateParameters,
    CSPI_I_ECDSASignHash,
    CSPI_I_ECDSAVerifySignature,
    CSPI_I_ECDSAGetStateParameters,
    CSPI_I_ECDSATestOnStandartParameters,
    CSPI_I_GOSTR3410SelfTest,
    CSPI_I_GOSTR3410AcquireState,
    CSPI_I_GOSTR3410ReleaseState,
    CSPI_I_GOSTR3410SetStateParameters,
    CSPI_I_GOSTR3410GetStateParameters,
    CSPI_I_GOSTR3410GenerateParameters,
    CSPI_I_GOSTR3410SignHash,
    CSPI_I_GOSTR3410VerifySignature,
    CSPI_I_GOSTR3410TestOnStandartParameters,
    CSPI_I_TDEASelfTest,
    CSPI_I_TDEAAcquireState,
    CSPI_I_TDEAReleaseState,
    CSPI_I_TDEASetStateParameters,
    CSPI_I_TDEAGetStateParameters,
    CSPI_I_TDEAEncryptDataSSMode,
    CSPI_I_TDEADecryptDataSSMode,
    CSPI_I_TDEAEncryptDataCBCMode,
    CSPI_I_TDEADecryptDataCBCMode,
    CSPI_I_TDEAGetDataMAC,
    CSPI_I_DSASelfTest,
    CSPI_I_DSAAcquireState,
    CSPI_I_DSAReleaseState,
    CSPI_I_DSASetStateParameters,
    CSPI_I_DSAGetStateParameters,
    CSPI_I_DSAGenerateParameters,
    CSPI_I_DSASignHash,
    CSPI_I_DSAVerifySignature,
    CSPI_I_AESSelfTest,
    CSPI_I_AESAcquireState,
    CSPI_I_AESSetStateParameters,
    CSPI_I_AESReleaseState,
    CSPI_I_AESEncryptDataECBMode,
    CSPI_I_AESDecryptDataECBMode,
    CSPI_I_AESEncryptDataCBCMode,
    CSPI_I_AESDecryptDataCBCMode,
    CSPI_I_AESEncryptDataCFB1Mode,
    CSPI_I_AESDecryptDataCFB1Mode,
    CSPI_I_AESEncryptDataCFB8Mode,
    CSPI_I_AESDecryptDataCFB8Mode,
    CSPI_I_AESEncryptDataCFB128Mode,
    CSPI_I_AESDecryptDataCFB128Mode,
    CSPI_I_AESEnDecryptDataOFBMode,
    CSPI_I_AESEnDecryptDataCTRMode,
    CSPI_I_AESGetDataMAC,
    CSPI_I_AESExpandKey,
    CSPI_I_AESCipher,
    CSPI_I_AESInverseCipher,
    CSPI_I_DHSelfTest,
    CSPI_I_DHCalculateSharedSecret,
    CSPI_I_ECDHSelfTest,
    CSPI_I_ECDHCalculateSharedSecret,
    CSPI_INTL_FUNCTION_COUNT
};
enum CSPIExtFunction : unsigned {
    CSPI_X_TSCGIsEnable,
    CSPI_X_TSCGGenerateSequence,
    CSPI_X_BSTestSequence,
    CSPI_X_BSReleaseStatistic,
    CSPI_X_CRC32Count,
    CSPI_EXT_FUNCTION_COUNT
};
enum CSPIExtraFunction : unsigned {
    CSPI_E_SHA1HMACAcquireState,
    CSPI_E_SHA1HMACReleaseState,
    CSPI_E_SHA1HMACSetStateParameters,
    CSPI_E_SHA1HMACGetStateParameters,
    CSPI_E_SHA1HMACInitializeDataMac,
    CSPI_E_SHA1HMACUpdateData,
    CSPI_E_SHA1HMACFinalizeDataMac,
    CSPI_E_SHA1HMACSelfTest,
    CSPI_E_RC2AcquireState,
    CSPI_E_RC2ReleaseState,
    CSPI_E_RC2SetStateParameters,
    CSPI_E_RC2GetStateParameters,
    CSPI_E_RC2EncryptDataCBCMode,
    CSPI_E_RC2DecryptDataCBCMode,
    CSPI_E_RC2SelfTest,
    CSPI_E_PKCS12PBKDFRC2DeriveKey,
    CSPI_E_PKCS12PBKDFRC2DeriveIV,
    CSPI_E_PKCS12PBKDFTDESDeriveKey,
    CSPI_E_PKCS12PBKDFTDESDeriveIV,
    CSPI_E_PKCS12PBKDFSHA1DeriveHMACKey,
    CSPI_E_PKCS12PBKDFSelfTest,
    CSPI_E_PBKDF2IDeriveKey,
    CSPI_E_PBKDF2ISelfTest,
    CSPI_E_DSTU4145PseudoRNGReinitialize,
    CSPI_E_AESGetStateParameters,
    CSPI_E_AESEncryptDataGCMMode,
    CSPI_E_AESDecryptDataGCMMode,
    CSPI_E_ECDSACouplePart1EncryptKey,
    CSPI_E_ECDSACouplePart1Step1,
    CSPI_E_ECDSACouplePart2Step,
    CSPI_E_ECDSACouplePart1Step2,
    CSPI_E_ECDSACoupleMakeCommonKey,
    CSPI_E_ECDSACoupleSelfTest,
    CSPI_E_SHAHMACAcquireState,
    CSPI_E_SHAHMACReleaseState,
    CSPI_E_SHAHMACSetStateParameters,
    CSPI_E_SHAHMACGetStateParameters,
    CSPI_E_SHAHMACUpdateData,
    CSPI_E_SHAHMACFinalizeDataMac,
    CSPI_E_SHAHMACSelfTest,
    CSPI_E_PBKDF2SHADeriveKey,
    CSPI_E_PKCS12PBKDFSHADeriveHMACKey,
    CSPI_EXTRA_FUNCTION_COUNT
};

extern const char* const kCSPIIntlNames[CSPI_INTL_FUNCTION_COUNT];
extern const char* const kCSPIExtNames[CSPI_EXT_FUNCTION_COUNT];
extern const char* const kCSPIExtraNames[CSPI_EXTRA_FUNCTION_COUNT];

// Heap block owned by the CSPI: {42, 0} and the entries, null where missing.
struct CSPIExtraFunctionTable {
    std::uint32_t count;
    std::uint32_t reserved;
    FARPROC entries[CSPI_EXTRA_FUNCTION_COUNT];
};

struct CSPILibraryBinding {
    HMODULE intl;
    HMODULE ext;
    FARPROC intlFunctions[CSPI_INTL_FUNCTION_COUNT];
    FARPROC extFunctions[CSPI_EXT_FUNCTION_COUNT];

    // Sets both handles to 0.
    void Clear();
    // 1 when both libraries are loaded and every required name resolved;
    // otherwise 0 with both handles 0 and nothing left loaded.
    int Load();
    // Frees each loaded library and clears its handle.
    void Unload();
    // Frees each library whose handle is set, keeping the handles.
    void FreeLibraries();
    // Builds the optional table from cgintl.so; 0 (and the pointer as it was)
    // when cgintl.so is not loaded or the block cannot be had.
    int LoadExtraFunctionTable(CSPIExtraFunctionTable** table);

    template <typename F>
    F Intl(CSPIIntlFunction index) const
    {
        return reinterpret_cast<F>(intlFunctions[index]);
    }
    template <typename F>
    F Ext(CSPIExtFunction index) const
    {
        return reinterpret_cast<F>(extFunctions[index]);
    }
};

// Frees the table when both the address and the table are set, and clears it.
void FreeExtraFunctionTable(CSPIExtraFunctionTable** table);

// The entry of a table, or null when the table or the entry is missing.
template <typename F>
F CSPIExtraEntry(const CSPIExtraFunctionTable* table, CSPIExtraFunction index)
{
    return table == nullptr ? nullptr : reinterpret_cast<F>(table->entries[index]);
}

#endif
