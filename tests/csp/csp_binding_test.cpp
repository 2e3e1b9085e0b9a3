// Loading and binding cgbase.so and cgext.so from the current directory, the
// frame of the provider object, and the operations that wait for the next
// stage of the provider.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "CSPTestSupport.h"

using namespace csptest;

TEST(CSPBinding, LoadsBothLibrariesFromTheCurrentDirectoryAndBuildsTheExtensionTable)
{
    Provider p;
    ASSERT_NE(p.csp, nullptr);
    EXPECT_EQ(p->Flags() & CSP_FLAG_INITIALIZED, CSP_FLAG_INITIALIZED);
    EXPECT_TRUE(p->Binding().IsLoaded());
    const CSPExtraFunctionTable* table = p->ExtraFunctions();
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->count, 80u);
    EXPECT_EQ(table->reserved, 0u);
    for (std::size_t i = 0; i < CGX_EXTRA_FUNCTION_COUNT; ++i)
        EXPECT_NE(table->entries[i], nullptr) << CSPExtraFunctionNames[i];
    // A second initialisation loads nothing again.
    const void* base = p->Binding().baseModule;
    EXPECT_EQ(p->Initialize(), CSP_OK);
    EXPECT_EQ(p->Binding().baseModule, base);
}

TEST(CSPBinding, MissingCgbaseNameFailsSilentlyAndLeavesNoObject)
{
    CSP* csp = reinterpret_cast<CSP*>(1);
    testing::internal::CaptureStderr();
    int result = InVariant("base_without_generate", [&] { return CreateCSP(&csp, 0); });
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(result, CSP_LIBRARY_NOT_LOADED);
    EXPECT_EQ(csp, nullptr);
}

TEST(CSPBinding, MissingCgextNameIsReportedByItsIndex)
{
    for (int index = 0; index < 5; ++index) {
        SCOPED_TRACE(index);
        const std::string variant = "ext_without_" + std::to_string(index);
        CSP* csp = nullptr;
        testing::internal::CaptureStderr();
        int result = InVariant(variant.c_str(), [&] { return CreateCSP(&csp, 0); });
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "CGExtension: Function " + std::to_string(index) + " not found\n");
        EXPECT_EQ(result, CSP_LIBRARY_NOT_LOADED);
        EXPECT_EQ(csp, nullptr);
    }
}

TEST(CSPBinding, BindingReleasesBothHandlesWhenACgextNameIsMissing)
{
    CSPLibraryBinding binding;
    binding.Clear();
    testing::internal::CaptureStderr();
    int loaded = InVariant("ext_without_2", [&] { return binding.Load(); });
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "CGExtension: Function 2 not found\n");
    EXPECT_EQ(loaded, 0);
    EXPECT_EQ(binding.baseModule, nullptr);
    EXPECT_EQ(binding.extModule, nullptr);
}

TEST(CSPBinding, WithoutExtensionEntriesTheProviderRunsAndThoseOperationsAnswer15)
{
    Provider p(0, "base_without_extras");
    ASSERT_NE(p.csp, nullptr);
    const CSPExtraFunctionTable* table = p->ExtraFunctions();
    ASSERT_NE(table, nullptr);
    for (std::size_t i = 0; i < CGX_EXTRA_FUNCTION_COUNT; ++i) EXPECT_EQ(table->entries[i], nullptr);
    const Bytes data = Sequence(0, 64), key(32, 1);
    Bytes out(64);
    CSPHandle state = nullptr;
    EXPECT_EQ(p->HashDSTU7564(data.data(), 64, nullptr, 32, out.data()), CSP_LIBRARY_ERROR);
    EXPECT_EQ(p->BeginHashDSTU7564(nullptr, 32, &state), CSP_LIBRARY_ERROR);
    EXPECT_EQ(state, nullptr);
    EXPECT_EQ(p->ComputeHMACDSTU7564(data.data(), 64, nullptr, key.data(), 32, out.data()), CSP_LIBRARY_ERROR);
    EXPECT_EQ(p->BeginHMACDSTU7564(nullptr, key.data(), 32, &state), CSP_LIBRARY_ERROR);
    EXPECT_EQ(p->CreateCipherDSTU7624(nullptr, key.data(), 32, nullptr, 32, &state), CSP_LIBRARY_ERROR);
    EXPECT_EQ(p->EncryptCTRDSTU7624(out.data(), 64, nullptr, key.data(), 32, key.data(), 32), CSP_LIBRARY_ERROR);
    EXPECT_EQ(p->CryptDSTU8845(out.data(), 64, nullptr, key.data(), 32, key.data()), CSP_LIBRARY_ERROR);
    EXPECT_EQ(p->DeriveKeyPBKDF2DSTU7564(key.data(), 32, key.data(), 8, 1, nullptr, 32, out.data(), 32),
              CSP_LIBRARY_ERROR);
    // The classic generator lives in the required names and still works.
    EXPECT_EQ(p->InitializePRNG(nullptr, nullptr, nullptr), CSP_OK);
    EXPECT_EQ(p->GenerateRandom(out.data(), 16), CSP_OK);
    // Reseeding needs an extension entry.
    EXPECT_EQ(p->InitializePRNG(nullptr, nullptr, nullptr), CSP_LIBRARY_ERROR);
}

TEST(CSPBinding, FinalizeRunsOnceBeforeReleaseAndIsOptional)
{
    const std::string log = testing::TempDir() + "csp_finalize.log";
    std::remove(log.c_str());
    setenv("QVK_CGLIB_FINALIZE_LOG", log.c_str(), 1);
    {
        Provider p;
        ASSERT_NE(p.csp, nullptr);
    }
    {
        Provider p(0, "base_without_finalize");
        ASSERT_NE(p.csp, nullptr);
    }
    unsetenv("QVK_CGLIB_FINALIZE_LOG");
    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "CSPFinalize\n");
}

TEST(CSPFrame, BeforeInitializeLibraryOperationsAnswer1AndTheFrameStillWorks)
{
    CSP csp;
    Bytes buffer(32);
    CSPHandle state = nullptr;
    CSPContext context{};
    EXPECT_EQ(csp.GenerateRandom(buffer.data(), 32), CSP_NOT_INITIALIZED);
    EXPECT_EQ(csp.HashDSTU7564(buffer.data(), 32, nullptr, 32, buffer.data()), CSP_NOT_INITIALIZED);
    EXPECT_EQ(csp.BeginHMACDSTU7564(nullptr, buffer.data(), 32, &state), CSP_NOT_INITIALIZED);
    EXPECT_EQ(csp.CreateCipherDSTU7624(nullptr, buffer.data(), 32, nullptr, 32, &state), CSP_NOT_INITIALIZED);
    EXPECT_EQ(csp.EncryptCBCDSTU7624(buffer.data(), 32, 32, nullptr, buffer.data(), 32, buffer.data(), 32),
              CSP_NOT_INITIALIZED);
    EXPECT_EQ(csp.CreatePRNG(&context, nullptr, nullptr, nullptr), CSP_NOT_INITIALIZED);
    EXPECT_EQ(csp.CreateCipherDSTU8845(nullptr, buffer.data(), 32, nullptr, &state), CSP_NOT_INITIALIZED);
    FakeRNG rng(FakeRNG::Random);
    EXPECT_EQ(csp.SetHardwareRNG(&rng), CSP_NOT_INITIALIZED);
    EXPECT_EQ(csp.Flags() & CSP_FLAG_HARDWARE_RNG, 0u);
    EXPECT_EQ(csp.SetHardwareRNGObject(&rng), CSP_OK);
    EXPECT_EQ(csp.Flags() & CSP_FLAG_HARDWARE_RNG, CSP_FLAG_HARDWARE_RNG);
    FakeHardware hardware;
    csp.SetHardware(&hardware);
    EXPECT_EQ(csp.PlainContext().hardware, &hardware);
    EXPECT_EQ(csp.PlainContext().rng, &rng);
    csp.SetHardware(nullptr);
    EXPECT_EQ(csp.Flags() & CSP_FLAG_HARDWARE, 0u);
    EXPECT_EQ(csp.PlainContext().hardware, nullptr);
    EXPECT_EQ(csp.SetStoredString("secret"), CSP_OK);
    EXPECT_STREQ(csp.GetStoredString(), "secret");
    EXPECT_EQ(csp.SetStoredString("other"), CSP_OK);
    EXPECT_STREQ(csp.GetStoredString(), "other");
    EXPECT_EQ(csp.SetStoredString(nullptr), CSP_OK);
    EXPECT_EQ(csp.GetStoredString(), nullptr);
}

TEST(CSPFrame, DefaultPlaceHoldsTheModuleProvider)
{
    int result = InVariant("full", [] { return CreateCSP(nullptr, 0); });
    ASSERT_EQ(result, CSP_OK);
    ASSERT_NE(DefaultCSP(), nullptr);
    EXPECT_EQ(DefaultCSP()->Flags() & CSP_FLAG_INITIALIZED, CSP_FLAG_INITIALIZED);
    DestroyCSP(nullptr);
    EXPECT_EQ(DefaultCSP(), nullptr);
    DestroyCSP(nullptr);
}

TEST(CSPFrame, ParameterStoreReachesTheProviderThroughItsForwarder)
{
    Provider p;
    // The forwarder answers the feature query through the provider; the DSTU
    // 4145 operations are not offered yet, so no feature is available.
    GOST28147PackedSBox box{};
    EXPECT_EQ(p->Parameters().GetStandardSBox(0, &box), 1);
    EXPECT_EQ(p->Parameters().SaveHashedFile((testing::TempDir() + "csp_hashed.bin").c_str(),
                                             reinterpret_cast<const std::uint8_t*>("abc"), 3),
              0);
}

// The operations of the next stage keep their slots and answer 15 until they
// are built; the list names each one so that none is forgotten.
TEST(CSPPending, EveryOperationOfTheNextStageAnswers15)
{
    Provider p;
    DSTU4145FieldRecord field{};
    DSTU4145PointRecord point{};
    CSPContext context = p->PlainContext();
    Bytes b(256);
    std::uint8_t* u = b.data();
    CSPHandle h = nullptr;
    std::uint32_t word = 0;
    const GOST28147PackedSBox* box = reinterpret_cast<const GOST28147PackedSBox*>(u);
    const int results[] = {
        p->ProtectDataGOST28147(u, 8, box, u, &word, u, &word, nullptr, u),
        p->UnprotectDataGOST28147(u, 8, box, u, 0, u, 0, nullptr, u),
        p->HashGOST34311(u, 8, box, u, u),
        p->BeginHashGOST34311(box, u, &h),
        p->UpdateHashGOST34311(u, 8, &h),
        p->FinishHashGOST34311(u, &h),
        p->CompareHashGOST34311(u, 8, box, u, u),
        p->EncryptWithRandomKeyGOST28147(u, 8, box, u, u),
        p->CryptGammaGOST28147(u, 8, box, u, u),
        p->CreateSenderSessionGOST28147(box, u, u, 0, &h),
        p->EncryptSessionGOST28147(u, 8, h),
        p->EncryptSessionGOST28147WithIV(u, 8, 0, 0, h),
        p->DestroySenderSessionGOST28147(&h),
        p->CreateReceiverSessionGOST28147(box, u, u, &h),
        p->DecryptSessionGOST28147(u, 8, h),
        p->DecryptSessionGOST28147WithIV(u, 8, 0, 0, h),
        p->DestroyReceiverSessionGOST28147(&h),
        p->SignHashDSTU4145(u, &field, &point, u, u),
        p->VerifyHashSignatureDSTU4145(u, &field, &point, u, u),
        p->EncryptSessionKey(&field, &point, u, u, u, box, u, u, 32, u),
        p->DecryptSessionKey(&field, &point, u, u, u, box, u, u, 32, u),
        p->CheckParametersDSTU4145(&field, &point),
        p->ValidateParametersDSTU4145(&field, &point),
        p->GenerateSignatureKeyPairDSTU4145(&field, &point, nullptr, nullptr),
        p->GenerateAgreementKeyPairDSTU4145(&field, &point, nullptr, nullptr),
        p->CheckSignatureKeyPairDSTU4145(&field, &point, u, u),
        p->CheckAgreementKeyPairDSTU4145(&field, &point, u, u),
        p->HashDataGOST34311(u, 64, box, u, u),
        p->SetHardwareSBox(nullptr, nullptr, u, nullptr),
        p->EncryptWithRandomKeyCFBGOST28147(u, 8, box, u, u),
        p->DecryptCFBGOST28147(u, 8, box, u, u),
        p->CreateSenderSessionGOST28147Ex(box, u, u, 0, &h),
        p->EncryptCFBSessionGOST28147(u, 8, h),
        p->DestroySenderSessionGOST28147Ex(&h),
        p->CreateReceiverSessionGOST28147Ex(box, u, u, &h),
        p->DecryptCFBSessionGOST28147(u, 8, h),
        p->DestroyReceiverSessionGOST28147Ex(&h),
        p->WrapKeyGOST28147(&field, &point, u, u, 0, u, 8, u, u, u, u, u),
        p->UnwrapKeyGOST28147(&field, &point, u, u, 0, u, 8, u, u, u, u, u),
        p->EncryptCFBGOST28147(u, 8, box, u, u, 0, 0),
        p->CreateSenderSessionGOST28147Opt(box, u, u, 0, 0, &h),
        p->DeriveKeyPBKDF2(u, 8, u, 8, 0, 1, u, 32, u),
        p->DeriveKeyPBKDFMAC(u, 8, u, 8, 0, 1, u, 32, u),
        p->ComputeHMACGOST34311(u, 8, box, u, u, u),
        p->CompareHMACGOST34311(u, 8, box, u, u, u),
        p->GetSignaturePublicKeyDSTU4145(&field, &point, u, u),
        p->GetAgreementPublicKeyDSTU4145(&field, &point, u, u),
        p->CheckParametersDSTU4145Ctx(&field, &point, 1),
        p->EncryptWithRandomKeyGOST28147Ctx(&context, u, 8, box, u, u),
        p->SignHashDSTU4145Ctx(&context, u, &field, &point, u, u),
        p->VerifyHashSignatureDSTU4145Ctx(&context, u, &field, &point, u, u),
        p->EncryptSessionKeyCtx(&context, &field, &point, u, u, u, box, u, u, 32, u),
        p->DecryptSessionKeyCtx(&context, &field, &point, u, u, u, box, u, u, 32, u),
        p->GenerateSignatureKeyPairDSTU4145Ctx(&context, &field, &point, nullptr, nullptr),
        p->GenerateAgreementKeyPairDSTU4145Ctx(&context, &field, &point, nullptr, nullptr),
        p->CheckSignatureKeyPairDSTU4145Ctx(&context, &field, &point, u, u),
        p->CheckAgreementKeyPairDSTU4145Ctx(&context, &field, &point, u, u),
        p->CreateSenderSessionGOST28147Ctx(&context, box, u, u, 0, &h),
        p->EncryptSessionGOST28147Ctx(&context, u, 8, h),
        p->EncryptSessionGOST28147WithIVCtx(&context, u, 8, 0, 0, h),
        p->DestroySenderSessionGOST28147Ctx(&context, &h),
        p->CreateReceiverSessionGOST28147Ctx(&context, box, u, u, &h),
        p->DecryptSessionGOST28147Ctx(&context, u, 8, h),
        p->DecryptSessionGOST28147WithIVCtx(&context, u, 8, 0, 0, h),
        p->DestroyReceiverSessionGOST28147Ctx(&context, &h),
        p->HashDataGOST34311Ctx(&context, u, 64, box, u, u),
        p->SetHardwareSBoxCtx(&context, nullptr, nullptr, u, nullptr),
        p->EncryptWithRandomKeyCFBGOST28147Ctx(&context, u, 8, box, u, u),
        p->CreateSenderSessionGOST28147ExCtx(&context, box, u, u, 0, &h),
        p->WrapKeyGOST28147Ctx(&context, &field, &point, u, u, 0, u, 8, u, u, u, u, u),
        p->UnwrapKeyGOST28147Ctx(&context, &field, &point, u, u, 0, u, 8, u, u, u, u, u),
        p->EncryptCFBGOST28147Ctx(&context, u, 8, box, u, u, 0, 0),
        p->CreateSenderSessionGOST28147OptCtx(&context, box, u, u, 0, 0, &h),
        p->DeriveKeyPBKDF2Ctx(&context, u, 8, u, 8, 0, 1, u, 32, u),
        p->DeriveKeyPBKDFMACCtx(&context, u, 8, u, 8, 0, 1, u, 32, u),
        p->GetSignaturePublicKeyDSTU4145Ctx(&context, &field, &point, u, u),
        p->GetAgreementPublicKeyDSTU4145Ctx(&context, &field, &point, u, u),
        p->MakeCommonKeyQDSTU4145(&field, &point, u, u, u),
        p->MakeSignRDSTU4145(&field, &point, u, u),
        p->MakeSignRDSTU4145Ctx(&context, &field, &point, u, u),
        p->MakeCommonSignRDSTU4145(&field, &point, u, u, u, u),
        p->MakeCommonSignRDSTU4145Ctx(&context, &field, &point, u, u, u, u),
        p->MakeSignSDSTU4145(&field, &point, u, u, u, u),
        p->MakeSignSDSTU4145Ctx(&context, &field, &point, u, u, u, u),
        p->MakeCommonSignDSTU4145(&field, &point, u, u, u, u, u),
        p->MakeCommonSignDSTU4145Ctx(&context, &field, &point, u, u, u, u, u),
        p->SignHashDSTU4145Ex(32, u, &field, &point, u, u),
        p->SignHashDSTU4145ExCtx(&context, 32, u, &field, &point, u, u),
        p->VerifySignatureDSTU4145(32, u, &field, &point, u, u),
        p->WrapKeyDSTU7624(&field, &point, u, u, 0, u, 8, u, u, u, u, u),
        p->UnwrapKeyDSTU7624(&field, &point, u, u, 0, u, 8, u, u, u, u, u),
        p->WrapKeyDSTU7624Ctx(&context, &field, &point, u, u, 0, u, 8, u, u, u, u, u),
        p->UnwrapKeyDSTU7624Ctx(&context, &field, &point, u, u, 0, u, 8, u, u, u, u, u),
        p->QueryParametersDSTU4145(u, 64),
        p->GenerateKeyPairDSTU4145Sized(u, 64, u, 32, u, 32),
        p->GenerateKeyPairDSTU4145SizedCtx(&context, u, 64, u, 32, u, 32),
        p->CheckKeyPairDSTU4145Sized(u, 64, u, 32, u, 32),
        p->CheckKeyPairDSTU4145SizedCtx(&context, u, 64, u, 32, u, 32),
        p->GetPublicKeyDSTU4145Sized(u, 64, u, 32, u, 32),
        p->GetPublicKeyDSTU4145SizedCtx(&context, u, 64, u, 32, u, 32),
        p->QueryParametersDSTU4145Ctx(u, 64, 1),
        p->SignHashDSTU4145Sized(32, u, u, 64, u, 32, u, 64),
        p->SignHashDSTU4145SizedCtx(&context, 32, u, u, 64, u, 32, u, 64),
        p->VerifySignatureDSTU4145Sized(32, u, u, 64, u, 32, u, 64),
        p->WrapKeyDSTU7624Dense(u, 8, u, 8, u, 8, u, 8, u, u, u, u, u),
        p->WrapKeyDSTU7624DenseCtx(&context, u, 8, u, 8, u, 8, u, 8, u, u, u, u, u),
        p->UnwrapKeyDSTU7624Dense(u, 8, u, 8, u, 8, u, 8, u, u, u, u, u),
        p->UnwrapKeyDSTU7624DenseCtx(&context, u, 8, u, 8, u, 8, u, 8, u, u, u, u, u),
        p->MakeCommonSignRDSTU4145Ex(&field, &point, 32, u, u, u, u),
        p->MakeCommonSignRDSTU4145ExCtx(&context, &field, &point, 32, u, u, u, u),
    };
    static_assert(std::size(results) == 110);
    for (std::size_t i = 0; i < std::size(results); ++i) EXPECT_EQ(results[i], CSP_LIBRARY_ERROR) << "entry " << i;
}
