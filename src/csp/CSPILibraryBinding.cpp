// Binding of cgintl.so and cgext.so for the CSPI.
#include "csp/CSPILibraryBinding.h"

#include <cstdlib>
#include <new>

#include "csp/CGLibraries.h"

const char* const kCSPIIntlNames[CSPI_INTL_FUNCTION_COUNT] = {
    QVK_CG_PSEUDO_RNG_NAMES,
    "DSTU4145PseudoRNGGenerateSequenceInBits",
    QVK_CG_GOST_NAMES,
    "RSASelfTest",
    "RSAAcquireState",
    "RSAReleaseState",
    "RSASetStateParameters",
    "RSAGetStateParameters",
    "RSAGenerateParameters",
    "RSASignHash",
    "RSAVerifySignature",
    "RSAEncryptData",
    "RSADecryptData",
    "SHASelfTest",
    "SHAAcquireState",
    "SHAReleaseState",
    "SHASetStateParameters",
    "SHAGetStateParameters",
    "SHAHashData",
    "SHAFinalizeHash",
    "ECDSASelfTest",
    "ECDSAAcquireState",
    "ECDSAReleaseState",
    "ECDSASetStateParameters",
    "ECDSAGenerateParameters",
    "ECDSASignHash",
    "ECDSAVerifySignature",
    "ECDSAGetStateParameters",
    "ECDSATestOnStandartParameters",
    "GOSTR3410SelfTest",
    "GOSTR3410AcquireState",
    "GOSTR3410ReleaseState",
    "GOSTR3410SetStateParameters",
    "GOSTR3410GetStateParameters",
    "GOSTR3410GenerateParameters",
    "GOSTR3410SignHash",
    "GOSTR3410VerifySignature",
    "GOSTR3410TestOnStandartParameters",
    "TDEASelfTest",
    "TDEAAcquireState",
    "TDEAReleaseState",
    "TDEASetStateParameters",
    "TDEAGetStateParameters",
    "TDEAEncryptDataSSMode",
    "TDEADecryptDataSSMode",
    "TDEAEncryptDataCBCMode",
    "TDEADecryptDataCBCMode",
    "TDEAGetDataMAC",
    "DSASelfTest",
    "DSAAcquireState",
    "DSAReleaseState",
    "DSASetStateParameters",
    "DSAGetStateParameters",
    "DSAGenerateParameters",
    "DSASignHash",
    "DSAVerifySignature",
    "AESSelfTest",
    "AESAcquireState",
    "AESSetStateParameters",
    "AESReleaseState",
    "AESEncryptDataECBMode",
    "AESDecryptDataECBMode",
    "AESEncryptDataCBCMode",
    "AESDecryptDataCBCMode",
    "AESEncryptDataCFB1Mode",
    "AESDecryptDataCFB1Mode",
    "AESEncryptDataCFB8Mode",
    "AESDecryptDataCFB8Mode",
    "AESEncryptDataCFB128Mode",
    "AESDecryptDataCFB128Mode",
    "AESEnDecryptDataOFBMode",
    "AESEnDecryptDataCTRMode",
    "AESGetDataMAC",
    "AESExpandKey",
    "AESCipher",
    "AESInverseCipher",
    "DHSelfTest",
    "DHCalculateSharedSecret",
    "ECDHSelfTest",
    "ECDHCalculateSharedSecret",
};
const char* const kCSPIExtNames[CSPI_EXT_FUNCTION_COUNT] = {
    "TSCGIsEnable", "TSCGGenerateSequence", "BSTestSequence", "BSReleaseStatistic", "CRC32Count",
};
const char* const kCSPIExtraNames[CSPI_EXTRA_FUNCTION_COUNT] = {
    "SHA1HMACAcquireState",
    "SHA1HMACReleaseState",
    "SHA1HMACSetStateParameters",
    "SHA1HMACGetStateParameters",
    "SHA1HMACInitializeDataMac",
    "SHA1HMACUpdateData",
    "SHA1HMACFinalizeDataMac",
    "SHA1HMACSelfTest",
    "RC2AcquireState",
    "RC2ReleaseState",
    "RC2SetStateParameters",
    "RC2GetStateParameters",
    "RC2EncryptDataCBCMode",
    "RC2DecryptDataCBCMode",
    "RC2SelfTest",
    "PKCS12PBKDFRC2DeriveKey",
    "PKCS12PBKDFRC2DeriveIV",
    "PKCS12PBKDFTDESDeriveKey",
    "PKCS12PBKDFTDESDeriveIV",
    "PKCS12PBKDFSHA1DeriveHMACKey",
    "PKCS12PBKDFSelfTest",
    "PBKDF2IDeriveKey",
    "PBKDF2ISelfTest",
    "DSTU4145PseudoRNGReinitialize",
    "AESGetStateParameters",
    "AESEncryptDataGCMMode",
    "AESDecryptDataGCMMode",
    "ECDSACouplePart1EncryptKey",
    "ECDSACouplePart1Step1",
    "ECDSACouplePart2Step",
    "ECDSACouplePart1Step2",
    "ECDSACoupleMakeCommonKey",
    "ECDSACoupleSelfTest",
    "SHAHMACAcquireState",
    "SHAHMACReleaseState",
    "SHAHMACSetStateParameters",
    "SHAHMACGetStateParameters",
    "SHAHMACUpdateData",
    "SHAHMACFinalizeDataMac",
    "SHAHMACSelfTest",
    "PBKDF2SHADeriveKey",
    "PKCS12PBKDFSHADeriveHMACKey",
};

void CSPILibraryBinding::Clear()
{
    intl = nullptr;
    ext = nullptr;
}

int CSPILibraryBinding::Load()
{
    if (intl != nullptr && ext != nullptr) return 1;
    // The CSPI prints nothing about a missing name.
    std::size_t missing = 0;
    return cglibraries::LoadPair({"cgintl.so", kCSPIIntlNames, CSPI_INTL_FUNCTION_COUNT, intlFunctions},
                                 {"cgext.so", kCSPIExtNames, CSPI_EXT_FUNCTION_COUNT, extFunctions}, &intl, &ext,
                                 &missing)
               ? 1
               : 0;
}

void CSPILibraryBinding::Unload()
{
    if (intl != nullptr) {
        FreeLibrary(intl);
        intl = nullptr;
    }
    if (ext != nullptr) {
        FreeLibrary(ext);
        ext = nullptr;
    }
}

void CSPILibraryBinding::FreeLibraries()
{
    if (intl != nullptr) FreeLibrary(intl);
    if (ext != nullptr) FreeLibrary(ext);
}

int CSPILibraryBinding::LoadExtraFunctionTable(CSPIExtraFunctionTable** table)
{
    auto* block = static_cast<CSPIExtraFunctionTable*>(std::malloc(sizeof(CSPIExtraFunctionTable)));
    if (block == nullptr) return 0;
    block->count = CSPI_EXTRA_FUNCTION_COUNT;
    block->reserved = 0;
    if (intl == nullptr) {
        std::free(block);
        return 0;
    }
    for (unsigned i = 0; i < CSPI_EXTRA_FUNCTION_COUNT; ++i)
        block->entries[i] = GetProcAddress(intl, kCSPIExtraNames[i]);
    *table = block;
    return 1;
}

void FreeExtraFunctionTable(CSPIExtraFunctionTable** table)
{
    if (table != nullptr && *table != nullptr) {
        std::free(*table);
        *table = nullptr;
    }
}
