// Binding of cgintl.so and cgext.so, the optional table, and the frame of the
// provider: initialisation, creation and its failures, the hardware objects.
#include "CSPITestSupport.h"

using namespace cspitest;

namespace {

TEST(CSPIBinding, BindsEveryRequiredNameAndBuildsTheOptionalTable)
{
    CSPILibraryBinding binding;
    binding.Clear();
    {
        InVariant in("full");
        ASSERT_EQ(binding.Load(), 1);
    }
    EXPECT_NE(binding.intl, nullptr);
    EXPECT_NE(binding.ext, nullptr);
    for (unsigned i = 0; i < CSPI_INTL_FUNCTION_COUNT; ++i)
        EXPECT_NE(binding.intlFunctions[i], nullptr) << kCSPIIntlNames[i];
    HMODULE first = binding.intl;
    EXPECT_EQ(binding.Load(), 1) << "a second load finds the binding made";
    EXPECT_EQ(binding.intl, first);

    CSPIExtraFunctionTable* table = nullptr;
    ASSERT_EQ(binding.LoadExtraFunctionTable(&table), 1);
    EXPECT_EQ(table->count, 42u);
    EXPECT_EQ(table->reserved, 0u);
    for (unsigned i = 0; i < CSPI_EXTRA_FUNCTION_COUNT; ++i) {
        bool couple = std::string(kCSPIExtraNames[i]).rfind("ECDSACouple", 0) == 0;
        // The stand-in has no two-party ECDSA; it has every other entry.
        EXPECT_EQ(table->entries[i] == nullptr, couple) << kCSPIExtraNames[i];
    }
    FreeExtraFunctionTable(&table);
    EXPECT_EQ(table, nullptr);
    binding.Unload();
    EXPECT_EQ(binding.intl, nullptr);
    EXPECT_EQ(binding.ext, nullptr);
}

TEST(CSPIBinding, RefusesLibrariesThatLackARequiredNameAndPrintsNothing)
{
    for (const char* variant : {"without_standart_test", "without_cgext", "cgext_without_crc"}) {
        CSPILibraryBinding binding;
        binding.Clear();
        testing::internal::CaptureStderr();
        testing::internal::CaptureStdout();
        {
            InVariant in(variant);
            EXPECT_EQ(binding.Load(), 0) << variant;
        }
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << variant;
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << variant;
        EXPECT_EQ(binding.intl, nullptr) << variant;
        EXPECT_EQ(binding.ext, nullptr) << variant;
    }
}

TEST(CSPIBinding, TheTableNeedsALoadedLibrary)
{
    CSPILibraryBinding binding;
    binding.Clear();
    CSPIExtraFunctionTable* table = reinterpret_cast<CSPIExtraFunctionTable*>(&binding);
    EXPECT_EQ(binding.LoadExtraFunctionTable(&table), 0);
    EXPECT_EQ(table, reinterpret_cast<CSPIExtraFunctionTable*>(&binding)) << "the pointer is left as it was";
}

TEST(CSPIFrame, CreationFailsCleanlyWithoutTheLibraries)
{
    for (const char* variant : {"without_standart_test", "without_cgext"}) {
        int code = -1;
        CSPIPointer p = Create(variant, &code);
        EXPECT_EQ(code, CSP_LIBRARY_NOT_LOADED) << variant;
        EXPECT_EQ(p, nullptr) << variant;
    }
}

TEST(CSPIFrame, InitializeTwiceLoadsOnceAndReservedSlotsAnswerZero)
{
    CSPI cspi;
    EXPECT_EQ(cspi.Reserved28(), CSP_OK) << "before Initialize too";
    EXPECT_EQ(cspi.Reserved31(), CSP_OK);
    {
        InVariant in("full");
        ASSERT_EQ(cspi.Initialize(), CSP_OK);
    }
    HMODULE first = cspi.Binding().intl;
    EXPECT_EQ(cspi.Initialize(), CSP_OK);
    EXPECT_EQ(cspi.Binding().intl, first);
    EXPECT_EQ(cspi.Flags() & CSP_FLAG_INITIALIZED, CSP_FLAG_INITIALIZED);
}

TEST(CSPIFrame, EveryLibraryOperationAnswersOneBeforeInitialize)
{
    CSPI cspi;
    std::uint8_t buffer[64] = {};
    std::uint32_t length = 16;
    CSPIState state = nullptr;
    CSPContext context{};
    EXPECT_EQ(cspi.HashSHA(buffer, 3, 256, buffer), CSP_NOT_INITIALIZED);
    EXPECT_EQ(cspi.VerifySignatureECDSA(32, buffer, buffer, buffer, buffer), CSP_NOT_INITIALIZED);
    EXPECT_EQ(cspi.DecryptCBCAES(buffer, 16, buffer, 128, buffer, nullptr, 0), CSP_NOT_INITIALIZED);
    EXPECT_EQ(cspi.SignHashRSACtx(&context, buffer, buffer, buffer, buffer), CSP_NOT_INITIALIZED);
    EXPECT_EQ(cspi.DecryptPBETDES(buffer, &length, buffer, 1, buffer, 1, 1), CSP_NOT_INITIALIZED);
    EXPECT_EQ(cspi.CreateCipherAES(buffer, 128, buffer, &state), CSP_NOT_INITIALIZED);
    // The GCM operations look at their table entry first: without a table, 15.
    EXPECT_EQ(cspi.CreateDecryptorAESGCM(buffer, 128, buffer, 12, nullptr, 0, &state), CSP_LIBRARY_ERROR);
    EXPECT_EQ(cspi.FinishEncryptorAESGCM(buffer, &state), CSP_LIBRARY_ERROR);
}

}  // namespace
