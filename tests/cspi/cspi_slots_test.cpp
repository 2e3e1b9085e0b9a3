// Other programs reach CSPI, ICSPIHardware and CSPIParameters by the position
// of each operation in the virtual table, so every position is checked
// against the published order.
#include <gtest/gtest.h>

#include <type_traits>

#include "VirtualSlot.h"
#include "csp/CSPI.h"
#include "csp/CSPIParameters.h"
#include "csp/ICSPIHardware.h"

using qvktest::SlotOf;

TEST(CSPISlots, TheProviderHasItsOperationsInOrder)
{
    static_assert(!std::has_virtual_destructor_v<CSPI>);
    struct Expected {
        std::ptrdiff_t slot;
        std::ptrdiff_t position;
        const char* name;
    };
    const Expected table[] = {
        {SlotOf(&CSPI::Initialize), 0, "Initialize"},
        {SlotOf(&CSPI::InitializePRNG), 1, "InitializePRNG"},
        {SlotOf(&CSPI::SetHardwareRNG), 2, "SetHardwareRNG"},
        {SlotOf(&CSPI::TestRandomSource), 3, "TestRandomSource"},
        {SlotOf(&CSPI::GenerateRandom), 4, "GenerateRandom"},
        {SlotOf(&CSPI::GenerateTestedRandom), 5, "GenerateTestedRandom"},
        {SlotOf(&CSPI::ProtectDataGOST28147), 6, "ProtectDataGOST28147"},
        {SlotOf(&CSPI::UnprotectDataGOST28147), 7, "UnprotectDataGOST28147"},
        {SlotOf(&CSPI::HashGOST34311), 8, "HashGOST34311"},
        {SlotOf(&CSPI::CompareHashGOST34311), 9, "CompareHashGOST34311"},
        {SlotOf(&CSPI::SetHardware), 10, "SetHardware"},
        {SlotOf(&CSPI::HashSHA), 11, "HashSHA"},
        {SlotOf(&CSPI::SignHashRSA), 12, "SignHashRSA"},
        {SlotOf(&CSPI::VerifySignatureRSA), 13, "VerifySignatureRSA"},
        {SlotOf(&CSPI::EncryptRSA), 14, "EncryptRSA"},
        {SlotOf(&CSPI::DecryptRSA), 15, "DecryptRSA"},
        {SlotOf(&CSPI::CheckPublicKeyRSA), 16, "CheckPublicKeyRSA"},
        {SlotOf(&CSPI::GenerateKeyPairRSA), 17, "GenerateKeyPairRSA"},
        {SlotOf(&CSPI::CheckKeyPairRSA), 18, "CheckKeyPairRSA"},
        {SlotOf(&CSPI::SignHashDSA), 19, "SignHashDSA"},
        {SlotOf(&CSPI::VerifySignatureDSA), 20, "VerifySignatureDSA"},
        {SlotOf(&CSPI::CheckParametersDSA), 21, "CheckParametersDSA"},
        {SlotOf(&CSPI::GenerateKeyPairDSA), 22, "GenerateKeyPairDSA"},
        {SlotOf(&CSPI::CheckKeyPairDSA), 23, "CheckKeyPairDSA"},
        {SlotOf(&CSPI::SignHashECDSA), 24, "SignHashECDSA"},
        {SlotOf(&CSPI::VerifySignatureECDSA), 25, "VerifySignatureECDSA"},
        {SlotOf(&CSPI::CheckParametersECDSA), 26, "CheckParametersECDSA"},
        {SlotOf(&CSPI::GenerateKeyPairECDSA), 27, "GenerateKeyPairECDSA"},
        {SlotOf(&CSPI::Reserved28), 28, "Reserved28"},
        {SlotOf(&CSPI::Reserved29), 29, "Reserved29"},
        {SlotOf(&CSPI::Reserved30), 30, "Reserved30"},
        {SlotOf(&CSPI::Reserved31), 31, "Reserved31"},
        {SlotOf(&CSPI::CheckKeyPairECDSA), 32, "CheckKeyPairECDSA"},
        {SlotOf(&CSPI::CalculateSharedSecretECDH), 33, "CalculateSharedSecretECDH"},
        {SlotOf(&CSPI::CalculateSharedSecretDH), 34, "CalculateSharedSecretDH"},
        {SlotOf(&CSPI::GenerateWrappedKeyTDEA), 35, "GenerateWrappedKeyTDEA"},
        {SlotOf(&CSPI::DecryptCBCTDEA), 36, "DecryptCBCTDEA"},
        {SlotOf(&CSPI::EncryptCBCAES), 37, "EncryptCBCAES"},
        {SlotOf(&CSPI::DecryptCBCAES), 38, "DecryptCBCAES"},
        {SlotOf(&CSPI::ComputeMACAES), 39, "ComputeMACAES"},
        {SlotOf(&CSPI::CheckMACAES), 40, "CheckMACAES"},
        {SlotOf(&CSPI::ComputeMACTDEA), 41, "ComputeMACTDEA"},
        {SlotOf(&CSPI::CheckMACTDEA), 42, "CheckMACTDEA"},
        {SlotOf(&CSPI::BeginHashSHA), 43, "BeginHashSHA"},
        {SlotOf(&CSPI::UpdateHashSHA), 44, "UpdateHashSHA"},
        {SlotOf(&CSPI::FinishHashSHA), 45, "FinishHashSHA"},
        {SlotOf(&CSPI::EncryptCBCTDEA), 46, "EncryptCBCTDEA"},
        {SlotOf(&CSPI::EncryptPBERC2), 47, "EncryptPBERC2"},
        {SlotOf(&CSPI::DecryptPBERC2), 48, "DecryptPBERC2"},
        {SlotOf(&CSPI::EncryptPBETDES), 49, "EncryptPBETDES"},
        {SlotOf(&CSPI::DecryptPBETDES), 50, "DecryptPBETDES"},
        {SlotOf(&CSPI::ComputePBEMACSHA1), 51, "ComputePBEMACSHA1"},
        {SlotOf(&CSPI::CheckPBEMACSHA1), 52, "CheckPBEMACSHA1"},
        {SlotOf(&CSPI::GenerateHardwareKeyPairRSA), 53, "GenerateHardwareKeyPairRSA"},
        {SlotOf(&CSPI::GenerateHardwareKeyPairDSA), 54, "GenerateHardwareKeyPairDSA"},
        {SlotOf(&CSPI::GenerateHardwareKeyPairECDSA), 55, "GenerateHardwareKeyPairECDSA"},
        {SlotOf(&CSPI::DeriveKeyPBKDF2I), 56, "DeriveKeyPBKDF2I"},
        {SlotOf(&CSPI::SetKeyParityDES), 57, "SetKeyParityDES"},
        {SlotOf(&CSPI::GenerateKeyTDEA), 58, "GenerateKeyTDEA"},
        {SlotOf(&CSPI::EncryptCBCTDEAState), 59, "EncryptCBCTDEAState"},
        {SlotOf(&CSPI::DestroyEncryptorTDEA), 60, "DestroyEncryptorTDEA"},
        {SlotOf(&CSPI::CreateCipherTDEA), 61, "CreateCipherTDEA"},
        {SlotOf(&CSPI::DecryptCBCTDEAState), 62, "DecryptCBCTDEAState"},
        {SlotOf(&CSPI::DestroyDecryptorTDEA), 63, "DestroyDecryptorTDEA"},
        {SlotOf(&CSPI::CreateCipherAESRandom), 64, "CreateCipherAESRandom"},
        {SlotOf(&CSPI::EncryptCBCAESState), 65, "EncryptCBCAESState"},
        {SlotOf(&CSPI::DestroyEncryptorAES), 66, "DestroyEncryptorAES"},
        {SlotOf(&CSPI::CreateCipherAES), 67, "CreateCipherAES"},
        {SlotOf(&CSPI::DecryptCBCAESState), 68, "DecryptCBCAESState"},
        {SlotOf(&CSPI::DestroyDecryptorAES), 69, "DestroyDecryptorAES"},
        {SlotOf(&CSPI::SetHardwareRNGObject), 70, "SetHardwareRNGObject"},
        {SlotOf(&CSPI::TestRandomSourceCtx), 71, "TestRandomSourceCtx"},
        {SlotOf(&CSPI::SeedFromNoiseGenerator), 72, "SeedFromNoiseGenerator"},
        {SlotOf(&CSPI::CreatePRNG), 73, "CreatePRNG"},
        {SlotOf(&CSPI::ReseedPRNG), 74, "ReseedPRNG"},
        {SlotOf(&CSPI::TestRNG), 75, "TestRNG"},
        {SlotOf(&CSPI::GenerateRandomCtx), 76, "GenerateRandomCtx"},
        {SlotOf(&CSPI::GenerateTestedRandomCtx), 77, "GenerateTestedRandomCtx"},
        {SlotOf(&CSPI::SignHashRSACtx), 78, "SignHashRSACtx"},
        {SlotOf(&CSPI::EncryptRSACtx), 79, "EncryptRSACtx"},
        {SlotOf(&CSPI::DecryptRSACtx), 80, "DecryptRSACtx"},
        {SlotOf(&CSPI::GenerateKeyPairRSACtx), 81, "GenerateKeyPairRSACtx"},
        {SlotOf(&CSPI::CheckKeyPairRSACtx), 82, "CheckKeyPairRSACtx"},
        {SlotOf(&CSPI::SignHashDSACtx), 83, "SignHashDSACtx"},
        {SlotOf(&CSPI::SignHashECDSACtx), 84, "SignHashECDSACtx"},
        {SlotOf(&CSPI::CalculateSharedSecretECDHCtx), 85, "CalculateSharedSecretECDHCtx"},
        {SlotOf(&CSPI::CalculateSharedSecretDHCtx), 86, "CalculateSharedSecretDHCtx"},
        {SlotOf(&CSPI::GenerateKeyPairDSACtx), 87, "GenerateKeyPairDSACtx"},
        {SlotOf(&CSPI::CheckKeyPairDSACtx), 88, "CheckKeyPairDSACtx"},
        {SlotOf(&CSPI::GenerateKeyPairECDSACtx), 89, "GenerateKeyPairECDSACtx"},
        {SlotOf(&CSPI::CheckKeyPairECDSACtx), 90, "CheckKeyPairECDSACtx"},
        {SlotOf(&CSPI::GenerateWrappedKeyTDEACtx), 91, "GenerateWrappedKeyTDEACtx"},
        {SlotOf(&CSPI::EncryptCBCAESCtx), 92, "EncryptCBCAESCtx"},
        {SlotOf(&CSPI::ComputeMACAESCtx), 93, "ComputeMACAESCtx"},
        {SlotOf(&CSPI::ComputeMACTDEACtx), 94, "ComputeMACTDEACtx"},
        {SlotOf(&CSPI::EncryptCBCTDEACtx), 95, "EncryptCBCTDEACtx"},
        {SlotOf(&CSPI::EncryptPBERC2Ctx), 96, "EncryptPBERC2Ctx"},
        {SlotOf(&CSPI::EncryptPBETDESCtx), 97, "EncryptPBETDESCtx"},
        {SlotOf(&CSPI::ComputePBEMACSHA1Ctx), 98, "ComputePBEMACSHA1Ctx"},
        {SlotOf(&CSPI::GenerateHardwareKeyPairRSACtx), 99, "GenerateHardwareKeyPairRSACtx"},
        {SlotOf(&CSPI::GenerateHardwareKeyPairDSACtx), 100, "GenerateHardwareKeyPairDSACtx"},
        {SlotOf(&CSPI::GenerateHardwareKeyPairECDSACtx), 101, "GenerateHardwareKeyPairECDSACtx"},
        {SlotOf(&CSPI::DeriveKeyPBKDF2ICtx), 102, "DeriveKeyPBKDF2ICtx"},
        {SlotOf(&CSPI::GenerateKeyTDEACtx), 103, "GenerateKeyTDEACtx"},
        {SlotOf(&CSPI::CreateCipherAESRandomCtx), 104, "CreateCipherAESRandomCtx"},
        {SlotOf(&CSPI::ComputeHMACSHA1), 105, "ComputeHMACSHA1"},
        {SlotOf(&CSPI::CompareHMACSHA1), 106, "CompareHMACSHA1"},
        {SlotOf(&CSPI::SignHashRSAEx), 107, "SignHashRSAEx"},
        {SlotOf(&CSPI::VerifySignatureRSAEx), 108, "VerifySignatureRSAEx"},
        {SlotOf(&CSPI::SignHashRSAExCtx), 109, "SignHashRSAExCtx"},
        {SlotOf(&CSPI::CreateEncryptorAESGCM), 110, "CreateEncryptorAESGCM"},
        {SlotOf(&CSPI::CreateEncryptorAESGCMCtx), 111, "CreateEncryptorAESGCMCtx"},
        {SlotOf(&CSPI::EncryptGCMAESState), 112, "EncryptGCMAESState"},
        {SlotOf(&CSPI::FinishEncryptorAESGCM), 113, "FinishEncryptorAESGCM"},
        {SlotOf(&CSPI::CreateDecryptorAESGCM), 114, "CreateDecryptorAESGCM"},
        {SlotOf(&CSPI::DecryptGCMAESState), 115, "DecryptGCMAESState"},
        {SlotOf(&CSPI::FinishDecryptorAESGCM), 116, "FinishDecryptorAESGCM"},
        {SlotOf(&CSPI::CoupleEncryptKeyECDSA), 117, "CoupleEncryptKeyECDSA"},
        {SlotOf(&CSPI::CoupleEncryptKeyECDSACtx), 118, "CoupleEncryptKeyECDSACtx"},
        {SlotOf(&CSPI::CoupleStep1ECDSA), 119, "CoupleStep1ECDSA"},
        {SlotOf(&CSPI::CoupleStep1ECDSACtx), 120, "CoupleStep1ECDSACtx"},
        {SlotOf(&CSPI::CoupleGenerateKeyECDSA), 121, "CoupleGenerateKeyECDSA"},
        {SlotOf(&CSPI::CoupleGenerateKeyECDSACtx), 122, "CoupleGenerateKeyECDSACtx"},
        {SlotOf(&CSPI::CoupleStep2ECDSA), 123, "CoupleStep2ECDSA"},
        {SlotOf(&CSPI::CoupleMakeCommonKeyECDSA), 124, "CoupleMakeCommonKeyECDSA"},
        {SlotOf(&CSPI::CoupleMakeCommonKeyECDSACtx), 125, "CoupleMakeCommonKeyECDSACtx"},
        {SlotOf(&CSPI::DeriveKeyPBKDF2SHA), 126, "DeriveKeyPBKDF2SHA"},
        {SlotOf(&CSPI::DeriveKeyPBKDF2SHACtx), 127, "DeriveKeyPBKDF2SHACtx"},
        {SlotOf(&CSPI::ComputeHMACSHA), 128, "ComputeHMACSHA"},
        {SlotOf(&CSPI::CompareHMACSHA), 129, "CompareHMACSHA"},
        {SlotOf(&CSPI::ComputePBEMACSHA), 130, "ComputePBEMACSHA"},
        {SlotOf(&CSPI::ComputePBEMACSHACtx), 131, "ComputePBEMACSHACtx"},
        {SlotOf(&CSPI::ComparePBEMACSHA), 132, "ComparePBEMACSHA"},
    };
    EXPECT_EQ(std::size(table), 133u);
    for (const Expected& e : table) EXPECT_EQ(e.slot, e.position) << e.name;
}

TEST(CSPISlots, TheHardwareInterfaceHasNineteenSlotsInOrder)
{
    static_assert(!std::has_virtual_destructor_v<ICSPIHardware>);
    using H = ICSPIHardware;
    EXPECT_EQ(SlotOf(&H::Reserved0), 0);
    EXPECT_EQ(SlotOf(&H::GenerateKeyPairRSA), 1);
    EXPECT_EQ(SlotOf(&H::SignHashRSA), 2);
    EXPECT_EQ(SlotOf(&H::CheckKeyPairRSA), 3);
    EXPECT_EQ(SlotOf(&H::SignHashDSA), 4);
    EXPECT_EQ(SlotOf(&H::GenerateKeyPairDSA), 5);
    EXPECT_EQ(SlotOf(&H::CheckKeyPairDSA), 6);
    EXPECT_EQ(SlotOf(&H::SignHashECDSA), 7);
    EXPECT_EQ(SlotOf(&H::GenerateKeyPairECDSA), 8);
    EXPECT_EQ(SlotOf(&H::CheckKeyPairECDSA), 9);
    EXPECT_EQ(SlotOf(&H::CalculateSharedSecretECDH), 10);
    EXPECT_EQ(SlotOf(&H::CalculateSharedSecretDH), 11);
    EXPECT_EQ(SlotOf(&H::GenerateHardwareKeyPairRSA), 12);
    EXPECT_EQ(SlotOf(&H::GenerateHardwareKeyPairDSA), 13);
    EXPECT_EQ(SlotOf(&H::GenerateHardwareKeyPairECDSA), 14);
    EXPECT_EQ(SlotOf(&H::DecryptRSA), 15);
    EXPECT_EQ(SlotOf(&H::SignHashRSAEx), 16);
    EXPECT_EQ(SlotOf(&H::CoupleGenerateKeyECDSA), 17);
    EXPECT_EQ(SlotOf(&H::CoupleMakeCommonKeyECDSA), 18);
    // The random source is the provider's own interface under another name.
    static_assert(std::is_base_of_v<ICSPHardwareRNG, ICSPIHardwareRNG>);
    EXPECT_EQ(SlotOf(&ICSPIHardwareRNG::GenerateRandom), 0);
}

TEST(CSPISlots, TheParameterStoreHasNineteenOperationsInOrder)
{
    static_assert(!std::has_virtual_destructor_v<CSPIParameters>);
    // The object is its table pointer and the owner pointer, nothing else.
    static_assert(sizeof(CSPIParameters) == 2 * sizeof(void*));
    using P = CSPIParameters;
    EXPECT_EQ(SlotOf(&P::LoadSBoxText), 0);
    EXPECT_EQ(SlotOf(&P::SetCSPI), 1);
    EXPECT_EQ(SlotOf(&P::LoadSBoxFile), 2);
    EXPECT_EQ(SlotOf(&P::LoadSBoxFileEx), 3);
    EXPECT_EQ(SlotOf(&P::SaveSBoxFile), 4);
    EXPECT_EQ(SlotOf(&P::SaveSBoxFileEx), 5);
    EXPECT_EQ(SlotOf(&P::LoadProfileFile), 6);
    EXPECT_EQ(SlotOf(&P::SaveProfileFile), 7);
    EXPECT_EQ(SlotOf(&P::GetRSAProfile), 8);
    EXPECT_EQ(SlotOf(&P::DescribeRSAProfile), 9);
    EXPECT_EQ(SlotOf(&P::LoadDomainParametersFile), 10);
    EXPECT_EQ(SlotOf(&P::SaveDomainParametersFile), 11);
    EXPECT_EQ(SlotOf(&P::GetDomainParameters), 12);
    EXPECT_EQ(SlotOf(&P::DescribeDomainParameters), 13);
    EXPECT_EQ(SlotOf(&P::LoadCurveFile), 14);
    EXPECT_EQ(SlotOf(&P::SaveCurveFile), 15);
    EXPECT_EQ(SlotOf(&P::GetCurve), 16);
    EXPECT_EQ(SlotOf(&P::DescribeCurve), 17);
    EXPECT_EQ(SlotOf(&P::FindCurveByOID), 18);
}
