// Binding of cgintl.so and cgext.so, the optional table, and the frame of the
// provider: initialisation, creation and its failures, the hardware objects.
#include <cstdlib>
#include <cstring>

#include "CSPITestSupport.h"
#include "csp/CSPRandomCore.h"

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

namespace {

// A hardware random source that hands out a fixed pattern, or fails.
class PatternRNG : public ICSPIHardwareRNG {
public:
    explicit PatternRNG(bool random) : random_(random) {}
    int draws = 0;
    int GenerateRandom(std::uint8_t* buffer, std::uint32_t length) override
    {
        ++draws;
        for (std::uint32_t i = 0; i < length; ++i) buffer[i] = random_ ? static_cast<std::uint8_t>(std::rand()) : 0;
        return 1;
    }

private:
    bool random_;
};

TEST(CSPIFrame, CreationNeedsANoiseSourceForTheGenerator)
{
    InjectedFailure off("TSCGIsEnable");
    int code = -1;
    CSPI* place = reinterpret_cast<CSPI*>(&code);
    {
        InVariant in("full");
        code = CreateCSPI(&place);
    }
    EXPECT_EQ(code, CSP_NOISE_SOURCE_FAILED);
    EXPECT_EQ(place, nullptr);
}

TEST(CSPIFrame, TheDefaultPointerServesANullPlace)
{
    {
        InVariant in("full");
        ASSERT_EQ(CreateCSPI(nullptr), CSP_OK);
    }
    DestroyCSPI(nullptr);
    DestroyCSPI(nullptr);  // the pointer was cleared: nothing to do
}

TEST(CSPIFrame, TheGeneratorStartsAndReseedsInPlace)
{
    int code = -1;
    CSPIPointer cspi = Create("full", &code);
    ASSERT_EQ(code, CSP_OK);
    CSPHandle first = cspi->DefaultPRNG();
    ASSERT_NE(first, nullptr);
    std::uint8_t a[32] = {}, b[32] = {};
    ASSERT_EQ(cspi->GenerateRandom(a, 32), CSP_OK);
    ASSERT_EQ(cspi->InitializePRNG(nullptr, nullptr, nullptr), CSP_OK);
    EXPECT_EQ(cspi->DefaultPRNG(), first) << "a reseed keeps the state";
    ASSERT_EQ(cspi->GenerateTestedRandom(b, 32), CSP_OK);
    EXPECT_NE(std::memcmp(a, b, 32), 0);

    // A context without generator or source has nothing to draw from.
    CSPContext empty{};
    EXPECT_EQ(cspi->GenerateTestedRandomCtx(&empty, a, 32), CSP_NO_OBJECT);
    EXPECT_EQ(cspi->GenerateRandomCtx(nullptr, a, 32), CSP_BAD_ARGUMENT);
}

TEST(CSPIFrame, AHardwareSourceIsInstalledOnlyAfterItsTest)
{
    int code = -1;
    CSPIPointer cspi = Create("full", &code);
    ASSERT_EQ(code, CSP_OK);
    PatternRNG stuck(false);
    EXPECT_EQ(cspi->SetHardwareRNG(&stuck), CSP_RANDOM_TEST_FAILED);
    EXPECT_EQ(stuck.draws, 3) << "a 2,500-byte test draws at most three times";
    EXPECT_EQ(cspi->Flags() & CSP_FLAG_HARDWARE_RNG, 0u);

    PatternRNG good(true);
    ASSERT_EQ(cspi->SetHardwareRNG(&good), CSP_OK);
    EXPECT_EQ(cspi->Flags() & CSP_FLAG_HARDWARE_RNG, CSP_FLAG_HARDWARE_RNG);
    int before = good.draws;
    std::uint8_t key[32];
    ASSERT_EQ(cspi->GenerateTestedRandom(key, 32), CSP_OK);
    EXPECT_EQ(good.draws, before + 1) << "tested draws come from the hardware source";
    EXPECT_EQ(cspi->SetHardwareRNGObject(nullptr), CSP_OK);
    EXPECT_EQ(cspi->Flags() & CSP_FLAG_HARDWARE_RNG, 0u);
}

TEST(CSPIFrame, GOSTOperationsTakeTheDefaultSBoxForANullOne)
{
    int code = -1;
    CSPIPointer cspi = Create("full", &code);
    ASSERT_EQ(code, CSP_OK);
    GOST28147PackedSBox box{};
    ASSERT_EQ(CSPParameters().GetStandardSBox(0, &box), 1);
    const std::uint8_t zero[32] = {};
    std::uint8_t h1[32], h2[32];
    ASSERT_EQ(cspi->HashGOST34311(U8("abc"), 3, nullptr, zero, h1), CSP_OK);
    ASSERT_EQ(cspi->HashGOST34311(U8("abc"), 3, &box, zero, h2), CSP_OK);
    EXPECT_EQ(std::memcmp(h1, h2, 32), 0);
    EXPECT_EQ(cspi->CompareHashGOST34311(U8("abc"), 3, nullptr, zero, h2), CSP_OK);
    h2[0] ^= 1;
    EXPECT_EQ(cspi->CompareHashGOST34311(U8("abc"), 3, nullptr, zero, h2), CSP_VALUE_MISMATCH);

    std::uint8_t data[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, tail[8] = {};
    std::uint32_t mac = 0, tailLength = 0;
    ASSERT_EQ(cspi->ProtectDataGOST28147(data, 10, nullptr, zero, &mac, tail, &tailLength, nullptr, zero), CSP_OK);
    EXPECT_EQ(tailLength, 6u);
    ASSERT_EQ(cspi->UnprotectDataGOST28147(data, 10, &box, zero, mac, tail, tailLength, nullptr, zero), CSP_OK);
    EXPECT_EQ(data[9], 10);
}

}  // namespace

namespace {

TEST(CGIntlStandIn, DrawsWholeBytesForABitCountAndClearsTheRest)
{
    CSPILibraryBinding binding;
    binding.Clear();
    {
        InVariant in("full");
        ASSERT_EQ(binding.Load(), 1);
    }
    std::uint8_t mix[8] = {1}, time[8] = {2}, key[32] = {3};
    void* state = binding.Intl<CGPseudoRNGInitializeFn>(CSPI_I_DSTU4145PseudoRNGInitialize)(mix, time, key,
                                                                                            csprandom::DefaultSBox());
    ASSERT_NE(state, nullptr);
    using InBits = int (*)(std::uint8_t*, std::uint32_t, void*);
    auto inBits = binding.Intl<InBits>(CSPI_I_DSTU4145PseudoRNGGenerateSequenceInBits);
    bool sawHighBits = false;
    for (int round = 0; round < 16; ++round) {
        std::uint8_t buffer[4] = {0xFF, 0xFF, 0xFF, 0xFF};
        ASSERT_EQ(inBits(buffer, 13, state), 1);
        EXPECT_EQ(buffer[1] & 0x07, 0) << "bits beyond the thirteenth are clear";
        EXPECT_EQ(buffer[2], 0xFF) << "nothing beyond the second byte is written";
        sawHighBits |= (buffer[1] & 0xF8) != 0;
    }
    EXPECT_TRUE(sawHighBits);
    binding.Intl<CGPseudoRNGDeinitializeFn>(CSPI_I_DSTU4145PseudoRNGDeinitialize)(state);
    binding.Unload();
}

}  // namespace

namespace {

TEST(CSPIFrame, SoftwarePathsThatDrawNeedTheGenerator)
{
    int code = -1;
    CSPIPointer cspi = Initialized("full", &code);  // generator not started
    ASSERT_EQ(code, CSP_OK);
    Bytes curve = Curve(*cspi, 4), key = RightAligned({1, 2, 3}, 76), out(512);
    std::uint8_t hash[32] = {};
    const std::uint32_t profile[2] = {1024, 160};
    const auto* parameters = reinterpret_cast<const std::uint8_t*>(profile);
    EXPECT_EQ(cspi->SignHashECDSA(32, hash, curve.data(), key.data(), out.data()), CSP_NO_OBJECT);
    EXPECT_EQ(cspi->GenerateKeyPairRSA(parameters, out.data(), out.data()), CSP_NO_OBJECT);
    EXPECT_EQ(cspi->EncryptRSA(hash, 16, parameters, out.data(), out.data()), CSP_NO_OBJECT);
    EXPECT_EQ(cspi->GenerateRandom(out.data(), 8), CSP_NO_OBJECT);
    // Draws for keys fail as the noise source failing.
    Bytes aesKey(16), iv(16), tail(16);
    std::uint32_t tailLength = 0;
    EXPECT_EQ(cspi->EncryptCBCAES(out.data(), 16, aesKey.data(), 128, iv.data(), tail.data(), &tailLength),
              CSP_NOISE_SOURCE_FAILED);
    // Verification and the calls that draw nothing still work.
    EXPECT_EQ(cspi->HashSHA(U8("abc"), 3, 160, out.data()), CSP_OK);
    // A context of the caller's own, with a generator of its own, is honoured.
    CSPContext context{};
    ASSERT_EQ(cspi->CreatePRNG(&context, nullptr, nullptr, nullptr), CSP_OK);
    ASSERT_NE(context.prng, nullptr);
    EXPECT_EQ(cspi->SignHashECDSACtx(&context, 32, hash, curve.data(), key.data(), out.data()), CSP_OK);
    EXPECT_EQ(cspi->DefaultPRNG(), nullptr) << "the object's default is untouched";
    cspi->Binding().Intl<CGPseudoRNGDeinitializeFn>(CSPI_I_DSTU4145PseudoRNGDeinitialize)(context.prng);
}

}  // namespace
