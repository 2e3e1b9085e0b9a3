// Random numbers through the provider: the hardware random source and its
// statistical test, the noise generator, and the generator states.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "CSPTestSupport.h"

using namespace csptest;

TEST(CSPRandom, SourceThatAlwaysFailsTheTestGives22AfterThreeDrawsAndIsNotInstalled)
{
    Provider p;
    FakeRNG zeros(FakeRNG::Zeros);
    EXPECT_EQ(p->SetHardwareRNG(&zeros), CSP_RANDOM_TEST_FAILED);
    EXPECT_EQ(zeros.draws, 3);
    EXPECT_EQ(zeros.lastLength, 2500u);
    EXPECT_EQ(p->Flags() & CSP_FLAG_HARDWARE_RNG, 0u);
    EXPECT_EQ(p->PlainContext().rng, nullptr);

    FakeRNG failing(FakeRNG::Failing);
    EXPECT_EQ(p->SetHardwareRNG(&failing), CSP_RNG_FAILED);
    EXPECT_EQ(failing.draws, 1);

    FakeRNG good(FakeRNG::Random);
    EXPECT_EQ(p->SetHardwareRNG(&good), CSP_OK);
    EXPECT_EQ(p->PlainContext().rng, &good);
    EXPECT_EQ(p->SetHardwareRNG(nullptr), CSP_OK);
    EXPECT_EQ(p->PlainContext().rng, nullptr);
}

TEST(CSPRandom, DrawLengthsDecideWhetherAndHowOftenTheDrawIsTested)
{
    Provider p;
    const struct {
        std::uint32_t length;
        int drawsOfAFailingSource;
        int result;
    } cases[] = {
        {3, 1, CSP_OK},
        {4, 17, CSP_RANDOM_TEST_FAILED},
        {64, 17, CSP_RANDOM_TEST_FAILED},
        {2048, 17, CSP_RANDOM_TEST_FAILED},
        {2049, 1, CSP_OK},
        {2500, 3, CSP_RANDOM_TEST_FAILED},
        {4096, 1, CSP_OK},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        FakeRNG zeros(FakeRNG::Zeros);
        CSPContext context{&zeros, nullptr, nullptr};
        Bytes buffer(c.length);
        EXPECT_EQ(p->TestRandomSourceCtx(&context, buffer.data(), c.length), c.result);
        EXPECT_EQ(zeros.draws, c.drawsOfAFailingSource);
        FakeRNG random(FakeRNG::Random);
        context.rng = &random;
        EXPECT_EQ(p->TestRandomSourceCtx(&context, buffer.data(), c.length), CSP_OK);
    }
    CSPContext none{};
    Bytes buffer(16);
    EXPECT_EQ(p->TestRandomSourceCtx(&none, buffer.data(), 16), CSP_NO_OBJECT);
    EXPECT_EQ(p->TestRandomSourceCtx(nullptr, buffer.data(), 16), CSP_BAD_ARGUMENT);
    FakeRNG random(FakeRNG::Random);
    CSPContext withSource{&random, nullptr, nullptr};
    EXPECT_EQ(p->TestRandomSourceCtx(&withSource, nullptr, 16), CSP_BAD_ARGUMENT);
    EXPECT_EQ(random.draws, 0);
}

TEST(CSPRandom, PlainRandomNeedsAStartedGenerator)
{
    Provider p;
    Bytes a(32), b(32);
    EXPECT_EQ(p->GenerateRandom(a.data(), 32), CSP_NO_OBJECT);
    EXPECT_EQ(p->GenerateTestedRandom(a.data(), 32), CSP_NO_OBJECT);
    ASSERT_EQ(p->InitializePRNG(nullptr, nullptr, nullptr), CSP_OK);
    const CSPHandle state = p->DefaultPRNG();
    ASSERT_NE(state, nullptr);
    ASSERT_EQ(p->GenerateRandom(a.data(), 32), CSP_OK);
    ASSERT_EQ(p->GenerateRandom(b.data(), 32), CSP_OK);
    EXPECT_NE(a, b);
    // A second start reseeds the same state.
    ASSERT_EQ(p->InitializePRNG(nullptr, nullptr, nullptr), CSP_OK);
    EXPECT_EQ(p->DefaultPRNG(), state);
    EXPECT_EQ(p->GenerateRandom(nullptr, 32), CSP_BAD_ARGUMENT);
    ASSERT_EQ(p->GenerateKeyAndIV(a.data(), 32, b.data(), 8), CSP_OK);
    ASSERT_EQ(p->GenerateDataAndKey(b.data(), 16, a.data()), CSP_OK);
}

TEST(CSPRandom, CreateWithTheStartFlagStartsTheGeneratorOrLeavesNothing)
{
    {
        Provider p(1);
        ASSERT_NE(p.csp, nullptr);
        Bytes a(16);
        EXPECT_EQ(p->GenerateRandom(a.data(), 16), CSP_OK);
    }
    FailSwitch fail("TSCGIsEnable");
    CSP* csp = nullptr;
    EXPECT_EQ(InVariant("full", [&] { return CreateCSP(&csp, 1); }), CSP_NOISE_SOURCE_FAILED);
    EXPECT_EQ(csp, nullptr);
}

TEST(CSPRandom, TestedRandomPrefersTheHardwareSourceAndFallsBackToTheGenerator)
{
    Provider p;
    FakeRNG zeros(FakeRNG::Zeros);
    CSPContext context{&zeros, nullptr, nullptr};
    Bytes buffer(64, 1);
    EXPECT_EQ(p->GenerateTestedRandomCtx(&context, buffer.data(), 64), CSP_NO_OBJECT);
    // Seeding from a source that fails the test is a seeding failure.
    EXPECT_EQ(p->CreatePRNG(&context, nullptr, nullptr, nullptr), CSP_NOISE_SOURCE_FAILED);
    CSPContext noSource{nullptr, nullptr, nullptr};
    ASSERT_EQ(p->CreatePRNG(&noSource, nullptr, nullptr, nullptr), CSP_OK);
    context.prng = noSource.prng;
    ASSERT_EQ(p->GenerateTestedRandomCtx(&context, buffer.data(), 64), CSP_OK);
    EXPECT_NE(buffer, Bytes(64, 0));
    FakeRNG random(FakeRNG::Random);
    context.rng = &random;
    ASSERT_EQ(p->GenerateTestedRandomCtx(&context, buffer.data(), 64), CSP_OK);
    EXPECT_EQ(random.draws, 1);
    p->Binding().Base<CGPseudoRNGDeinitializeFn>(CG_DSTU4145PseudoRNGDeinitialize)(noSource.prng);
}

TEST(CSPRandom, NoiseGeneratorAndSeedFilling)
{
    Provider p;
    CSPContext none{};
    Bytes buffer(40, 0);
    EXPECT_EQ(p->GenerateNoiseRandom(&none, nullptr, 16), CSP_OK);
    ASSERT_EQ(p->GenerateNoiseRandom(&none, buffer.data(), 40), CSP_OK);
    EXPECT_NE(buffer, Bytes(40, 0));
    EXPECT_EQ(p->SeedFromNoiseGenerator(&none, nullptr, nullptr, nullptr), CSP_OK);
    Bytes seed(8, 0), key(32, 0), second(8, 0);
    ASSERT_EQ(p->SeedFromNoiseGenerator(&none, seed.data(), key.data(), second.data()), CSP_OK);
    EXPECT_NE(key, Bytes(32, 0));
    {
        FailSwitch fail("TSCGIsEnable");
        EXPECT_EQ(p->GenerateNoiseRandom(&none, nullptr, 16), CSP_NOISE_SOURCE_FAILED);
        EXPECT_EQ(p->SeedFromNoiseGenerator(&none, nullptr, nullptr, nullptr), CSP_NOISE_SOURCE_FAILED);
    }
    FakeRNG failing(FakeRNG::Failing);
    CSPContext withSource{&failing, nullptr, nullptr};
    EXPECT_EQ(p->SeedFromNoiseGenerator(&withSource, nullptr, key.data(), nullptr), CSP_RNG_FAILED);
}

TEST(CSPRandom, DenseGeneratorKindsAndReseeding)
{
    Provider p;
    CSPContext context{};
    EXPECT_EQ(p->CreateDensePRNG(&context, 2, nullptr, nullptr, nullptr), CSP_LIBRARY_ERROR);
    EXPECT_EQ(p->CreateDensePRNG(nullptr, 1, nullptr, nullptr, nullptr), CSP_BAD_ARGUMENT);
    ASSERT_EQ(p->CreateDensePRNG(&context, 1, nullptr, nullptr, nullptr), CSP_OK);
    ASSERT_NE(context.prng, nullptr);
    Bytes a(48), b(48);
    ASSERT_EQ(p->GenerateRandomCtx(&context, a.data(), 48), CSP_OK);
    const CSPHandle state = context.prng;
    EXPECT_EQ(p->ReseedDensePRNG(&context, 2, nullptr, nullptr, nullptr), CSP_LIBRARY_ERROR);
    // Without a hardware source the reseed draws from the state itself, which
    // keeps its handle.
    ASSERT_EQ(p->ReseedDensePRNG(&context, 1, nullptr, nullptr, nullptr), CSP_OK);
    EXPECT_EQ(context.prng, state);
    ASSERT_EQ(p->GenerateRandomCtx(&context, b.data(), 48), CSP_OK);
    EXPECT_NE(a, b);

    // Kind 0 is the classic generator with the parameter block as S-box.
    CSPContext classic{};
    ASSERT_EQ(p->CreateDensePRNG(&classic, 0, nullptr, nullptr, nullptr), CSP_OK);
    ASSERT_EQ(p->GenerateRandomCtx(&classic, b.data(), 48), CSP_OK);
    EXPECT_NE(a, b);

    ASSERT_EQ(p->ReseedDefaultPRNG(1, nullptr, nullptr, nullptr), CSP_OK);
    ASSERT_NE(p->DefaultPRNG(), nullptr);
    ASSERT_EQ(p->GenerateRandom(a.data(), 48), CSP_OK);
    {
        FailSwitch fail("DSTU4145PseudoRNGSetStateParameters");
        CSPContext refused{};
        EXPECT_EQ(p->CreateDensePRNG(&refused, 1, nullptr, nullptr, nullptr), CSP_NOISE_SOURCE_FAILED);
        EXPECT_EQ(refused.prng, nullptr);
    }
    // The states made here are released with the provider only when they are
    // its default; release the others through the library's own entry.
    auto release = p->Binding().Base<CGPseudoRNGDeinitializeFn>(CG_DSTU4145PseudoRNGDeinitialize);
    release(context.prng);
    release(classic.prng);
}

TEST(CSPRandom, ConcurrentStartsKeepOneDefaultGeneratorAndReleaseTheOther)
{
    for (int round = 0; round < 20; ++round) {
        Provider p;
        int results[2] = {-1, -1};
        std::thread a([&] { results[0] = p->InitializePRNG(nullptr, nullptr, nullptr); });
        std::thread b([&] { results[1] = p->InitializePRNG(nullptr, nullptr, nullptr); });
        a.join();
        b.join();
        EXPECT_EQ(results[0], CSP_OK);
        EXPECT_EQ(results[1], CSP_OK);
        ASSERT_NE(p->DefaultPRNG(), nullptr);
        Bytes out(16);
        EXPECT_EQ(p->GenerateRandom(out.data(), 16), CSP_OK);
    }
}

TEST(CSPRandom, AFailingGeneratorIsALibraryErrorAndLeavesNoKeyIvOrOutput)
{
    Provider p(1);
    FailSwitch fail("DSTU4145PseudoRNGGenerateSequence");
    const Bytes zeros16(16, 0);
    Bytes out(16, 0x5A);
    EXPECT_EQ(p->GenerateRandom(out.data(), 16), CSP_LIBRARY_ERROR);
    EXPECT_EQ(out, zeros16);
    // Without a hardware source the tested draw is the generator's.
    out.assign(16, 0x5A);
    EXPECT_EQ(p->GenerateTestedRandom(out.data(), 16), CSP_LIBRARY_ERROR);
    EXPECT_EQ(out, zeros16);
    // A source that fails its test falls back to the failing generator: its
    // rejected draw is not handed out either.
    FakeRNG zeros(FakeRNG::Zeros);
    CSPContext withSource{&zeros, nullptr, p->DefaultPRNG()};
    out.assign(16, 0x5A);
    EXPECT_EQ(p->GenerateTestedRandomCtx(&withSource, out.data(), 16), CSP_LIBRARY_ERROR);
    EXPECT_EQ(zeros.draws, 17);
    Bytes key(32, 0x5A), iv(8, 0x5A);
    EXPECT_EQ(p->GenerateKeyAndIV(key.data(), 32, iv.data(), 8), CSP_LIBRARY_ERROR);
    EXPECT_EQ(key, Bytes(32, 0));

    // The operations that draw a key or an IV answer the same and hand out
    // nothing: two calls never give an all-zero IV and equal ciphertexts.
    const Bytes data = Sequence(5, 32);
    for (int round = 0; round < 2; ++round) {
        Bytes output(97, 0x5A);
        EXPECT_EQ(p->EncryptWithPasswordDSTU7624(data.data(), 32, output.data(), 97, nullptr, "password", nullptr, 32,
                                                 nullptr),
                  CSP_LIBRARY_ERROR);
        EXPECT_EQ(output, Bytes(97, 0));
        Bytes ex(97, 0x5A);
        EXPECT_EQ(p->EncryptWithPasswordDSTU7624Ex(data.data(), 32, ex.data(), 97, nullptr, "password", nullptr, 32,
                                                   nullptr, 32, 32),
                  CSP_LIBRARY_ERROR);
        EXPECT_EQ(ex, Bytes(97, 0));
    }
    GOST28147PackedSBox box{};
    Bytes message = data, gostKey(32, 0x5A), gostIv(8, 0x5A);
    EXPECT_EQ(p->EncryptWithRandomKeyGOST28147(message.data(), 32, &box, gostKey.data(), gostIv.data()),
              CSP_LIBRARY_ERROR);
    EXPECT_EQ(gostKey, Bytes(32, 0));
    EXPECT_EQ(gostIv, Bytes(8, 0));
    EXPECT_EQ(message, data) << "nothing is encrypted under a key that was never drawn";
}

TEST(CSPRandom, AFailedPasswordEncryptionKeepsTheCallersDataWhenItSharesTheOutput)
{
    // In place: the data already sits where the ciphertext goes. A failure
    // wipes the IV, MAC and flag it would have written, never the data.
    Provider p(1);
    Bytes buffer(97, 0x5A);
    const Bytes data = Sequence(5, 32);
    std::copy(data.begin(), data.end(), buffer.begin() + 32);
    FailSwitch fail("DSTU4145PseudoRNGGenerateSequence");
    EXPECT_EQ(p->EncryptWithPasswordDSTU7624(buffer.data() + 32, 32, buffer.data(), 97, nullptr, "password", nullptr,
                                             32, nullptr),
              CSP_LIBRARY_ERROR);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 32), Bytes(32, 0));
    EXPECT_EQ(Bytes(buffer.begin() + 32, buffer.begin() + 64), data);
    EXPECT_EQ(Bytes(buffer.begin() + 64, buffer.end()), Bytes(33, 0));
}
