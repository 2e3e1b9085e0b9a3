// Loading and binding cgbase.so and cgext.so from the current directory, the
// frame of the provider object, and the operations that wait for the next
// stage of the provider.
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

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
    const std::string log = testing::TempDir() + std::to_string(getpid()) + "-csp_finalize.log";
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
    // The forwarder answers the feature queries (16 and 24 for hashed files)
    // through the provider.
    GOST28147PackedSBox box{};
    EXPECT_EQ(p->Parameters().GetStandardSBox(0, &box), 1);
    const std::string path = testing::TempDir() + std::to_string(getpid()) + "-csp_hashed.bin";
    EXPECT_EQ(p->Parameters().SaveHashedFile(path.c_str(), reinterpret_cast<const std::uint8_t*>("abc"), 3), 1);
    std::remove(path.c_str());
}
