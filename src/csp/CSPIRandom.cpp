// CSPI random numbers and the GOST 28147 / GOST 34.311 operations that its
// parameter files need. They are the provider's own operations (shared with
// the CSP), run over the functions of cgintl.so and cgext.so; a null S-box
// means the default one.
#include <cstring>

#include "csp/CSPCallsOperations.h"
#include "csp/CSPI.h"
#include "csp/CSPIInternal.h"
#include "csp/CSPRandomCore.h"

using cspi::Guarded;

namespace {

csprandom::Functions RandomFunctions(const CSPI& cspi)
{
    const CSPILibraryBinding& b = cspi.Binding();
    bool initialized = (cspi.Flags() & CSP_FLAG_INITIALIZED) != 0;
    if (!initialized) return {false, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
    return {true, b.Ext<CGTSCGIsEnableFn>(CSPI_X_TSCGIsEnable),
            b.Ext<CGTSCGGenerateSequenceFn>(CSPI_X_TSCGGenerateSequence),
            b.Ext<CGBSTestSequenceFn>(CSPI_X_BSTestSequence), b.Ext<CGBSReleaseStatisticFn>(CSPI_X_BSReleaseStatistic),
            b.Intl<CGPseudoRNGInitializeFn>(CSPI_I_DSTU4145PseudoRNGInitialize),
            // The CSPI reseeds through its optional table.
            CSPIExtraEntry<CGPseudoRNGReinitializeFn>(cspi.ExtraFunctions(), CSPI_E_DSTU4145PseudoRNGReinitialize),
            b.Intl<CGPseudoRNGGenerateSequenceFn>(CSPI_I_DSTU4145PseudoRNGGenerateSequence), cspi.DefaultPRNG()};
}

// The GOST functions of cgintl.so in the record the shared operations take.
cspcalls::Library GOSTLibrary(const CSPI& cspi)
{
    cspcalls::Library lib{};
    lib.initialized = (cspi.Flags() & CSP_FLAG_INITIALIZED) != 0;
    if (!lib.initialized) return lib;
    const CSPILibraryBinding& b = cspi.Binding();
    lib.GOST28147AcquireState = b.Intl<decltype(lib.GOST28147AcquireState)>(CSPI_I_GOST28147AcquireState);
    lib.GOST28147ReleaseState = b.Intl<decltype(lib.GOST28147ReleaseState)>(CSPI_I_GOST28147ReleaseState);
    lib.GOST28147SetStateParameters =
        b.Intl<decltype(lib.GOST28147SetStateParameters)>(CSPI_I_GOST28147SetStateParameters);
    lib.GOST28147GetStateParameters =
        b.Intl<decltype(lib.GOST28147GetStateParameters)>(CSPI_I_GOST28147GetStateParameters);
    lib.GOST28147EncryptDataSSMode =
        b.Intl<decltype(lib.GOST28147EncryptDataSSMode)>(CSPI_I_GOST28147EncryptDataSSMode);
    lib.GOST28147DecryptDataSSMode =
        b.Intl<decltype(lib.GOST28147DecryptDataSSMode)>(CSPI_I_GOST28147DecryptDataSSMode);
    lib.GOST28147EncryptDataGMode = b.Intl<decltype(lib.GOST28147EncryptDataGMode)>(CSPI_I_GOST28147EncryptDataGMode);
    lib.GOST28147EncryptDataGOFBMode =
        b.Intl<decltype(lib.GOST28147EncryptDataGOFBMode)>(CSPI_I_GOST28147EncryptDataGOFBMode);
    lib.GOST28147DecryptDataGOFBMode =
        b.Intl<decltype(lib.GOST28147DecryptDataGOFBMode)>(CSPI_I_GOST28147DecryptDataGOFBMode);
    lib.GOST28147GetDataMAC = b.Intl<decltype(lib.GOST28147GetDataMAC)>(CSPI_I_GOST28147GetDataMAC);
    lib.GOST34311AcquireState = b.Intl<decltype(lib.GOST34311AcquireState)>(CSPI_I_GOST34311AcquireState);
    lib.GOST34311ReleaseState = b.Intl<decltype(lib.GOST34311ReleaseState)>(CSPI_I_GOST34311ReleaseState);
    lib.GOST34311SetStateParameters =
        b.Intl<decltype(lib.GOST34311SetStateParameters)>(CSPI_I_GOST34311SetStateParameters);
    lib.GOST34311GetStateParameters =
        b.Intl<decltype(lib.GOST34311GetStateParameters)>(CSPI_I_GOST34311GetStateParameters);
    lib.GOST34311HashData = b.Intl<decltype(lib.GOST34311HashData)>(CSPI_I_GOST34311HashData);
    lib.GOST34311FinalizeHash = b.Intl<decltype(lib.GOST34311FinalizeHash)>(CSPI_I_GOST34311FinalizeHash);
    return lib;
}

const GOST28147PackedSBox* SBoxOrDefault(const GOST28147PackedSBox* sBox)
{
    return sBox != nullptr ? sBox : reinterpret_cast<const GOST28147PackedSBox*>(csprandom::DefaultSBox());
}

}  // namespace

// ---------------------------------------------------------------------------
// Random numbers.

int CSPI::InitializePRNG(const std::uint8_t* sBox, const std::uint8_t* seed, const std::uint8_t* key)
{
    return Guarded([&]() -> int {
        CSPContext context = PlainContext();
        int result = ReseedPRNG(&context, sBox, seed, key);
        if (result != CSP_OK) return result;
        EnterCriticalSection(&lock_);
        const bool stored = prng_ == nullptr || prng_ == context.prng;
        if (prng_ == nullptr) prng_ = context.prng;
        LeaveCriticalSection(&lock_);
        // Another thread stored its generator first: this one would be lost.
        if (!stored) binding_.Intl<CGPseudoRNGDeinitializeFn>(CSPI_I_DSTU4145PseudoRNGDeinitialize)(context.prng);
        return CSP_OK;
    });
}

int CSPI::SetHardwareRNG(ICSPIHardwareRNG* rng)
{
    return Guarded([&]() -> int {
        SetHardwareRNGObject(nullptr);
        CSPContext context{rng, (flags_ & CSP_FLAG_HARDWARE) != 0 ? AsContextHardware(hardware_) : nullptr, prng_};
        int result = TestRNG(&context);
        if (result != CSP_OK) return result;
        return SetHardwareRNGObject(rng);
    });
}

int CSPI::TestRandomSource(std::uint8_t* buffer, std::uint32_t length)
{
    return OnPlainContext(&CSPI::TestRandomSourceCtx, buffer, length);
}

int CSPI::GenerateRandom(std::uint8_t* buffer, std::uint32_t length)
{
    return OnPlainContext(&CSPI::GenerateRandomCtx, buffer, length);
}

int CSPI::GenerateTestedRandom(std::uint8_t* buffer, std::uint32_t length)
{
    return OnPlainContext(&CSPI::GenerateTestedRandomCtx, buffer, length);
}

int CSPI::TestRandomSourceCtx(CSPContext* context, std::uint8_t* buffer, std::uint32_t length)
{
    return csprandom::TestRandomSourceCtx(RandomFunctions(*this), context, buffer, length);
}

int CSPI::SeedFromNoiseGenerator(CSPContext* context, std::uint8_t* firstSeed, std::uint8_t* key,
                                 std::uint8_t* secondSeed)
{
    return csprandom::SeedFromNoiseGenerator(RandomFunctions(*this), context, firstSeed, key, secondSeed);
}

int CSPI::CreatePRNG(CSPContext* context, const std::uint8_t* sBox, const std::uint8_t* seed, const std::uint8_t* key)
{
    return csprandom::CreatePRNG(RandomFunctions(*this), context, sBox, seed, key);
}

int CSPI::ReseedPRNG(CSPContext* context, const std::uint8_t* sBox, const std::uint8_t* seed, const std::uint8_t* key)
{
    return csprandom::ReseedPRNG(RandomFunctions(*this), context, sBox, seed, key);
}

int CSPI::TestRNG(CSPContext* context)
{
    return csprandom::TestRNG(RandomFunctions(*this), context);
}

int CSPI::GenerateRandomCtx(CSPContext* context, std::uint8_t* buffer, std::uint32_t length)
{
    return csprandom::GenerateRandomCtx(RandomFunctions(*this), context, buffer, length);
}

int CSPI::GenerateTestedRandomCtx(CSPContext* context, std::uint8_t* buffer, std::uint32_t length)
{
    return csprandom::GenerateTestedRandomCtx(RandomFunctions(*this), context, buffer, length);
}

// ---------------------------------------------------------------------------
// GOST 28147 protected blocks and GOST 34.311 hashes.

int CSPI::ProtectDataGOST28147(std::uint8_t* data, std::uint32_t length, const GOST28147PackedSBox* sBox,
                               const std::uint8_t* startVector, std::uint32_t* mac, std::uint8_t* tail,
                               std::uint32_t* tailLength, const char* password, const std::uint8_t* key)
{
    return Guarded([&]() -> int {
        return cspcalls::ProtectDataGOST28147(GOSTLibrary(*this), data, length, SBoxOrDefault(sBox), startVector, mac,
                                              tail, tailLength, password, key);
    });
}

int CSPI::UnprotectDataGOST28147(std::uint8_t* data, std::uint32_t length, const GOST28147PackedSBox* sBox,
                                 const std::uint8_t* startVector, std::uint32_t expectedMac, const std::uint8_t* tail,
                                 std::uint32_t tailLength, const char* password, const std::uint8_t* key)
{
    return Guarded([&]() -> int {
        return cspcalls::UnprotectDataGOST28147(GOSTLibrary(*this), data, length, SBoxOrDefault(sBox), startVector,
                                                expectedMac, tail, tailLength, password, key);
    });
}

int CSPI::HashGOST34311(const std::uint8_t* data, std::uint32_t length, const GOST28147PackedSBox* sBox,
                        const std::uint8_t* startVector, std::uint8_t* hash)
{
    return Guarded([&]() -> int {
        return cspcalls::HashGOST34311(GOSTLibrary(*this), data, length, SBoxOrDefault(sBox), startVector, hash);
    });
}

int CSPI::CompareHashGOST34311(const std::uint8_t* data, std::uint32_t length, const GOST28147PackedSBox* sBox,
                               const std::uint8_t* startVector, const std::uint8_t* expectedHash)
{
    return Guarded([&]() -> int {
        return cspcalls::CompareHashGOST34311(GOSTLibrary(*this), data, length, SBoxOrDefault(sBox), startVector,
                                              expectedHash);
    });
}
