// The stand-in cgbase.so and cgext.so on their own: exactly the bound names
// are exported, and the entries the provider relies on answer as published
// standards and step-by-step recomputations say.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "CGLibTestSupport.h"
#include "TestHex.h"
#include "crypto/DSTU7564.h"
#include "crypto/DSTU7624Modes.h"
#include "crypto/GOST28147.h"
#include "csp/CSPLibraryBinding.h"
#include "support/CSPParameters.h"

using cryptotest::Bytes;
using cryptotest::Hex;

namespace {

struct Libraries {
    CGLib base{"full/cgbase.so"};
    CGLib ext{"full/cgext.so"};
};

// The same well-mixed bytes on every run, so that a statistical test's verdict
// on them never changes (bytes of the operating system fail such a test now
// and then, as random data must).
Bytes Drawn(std::size_t n, unsigned seed)
{
    std::mt19937 generator(seed);
    Bytes b(n);
    for (std::uint8_t& byte : b) byte = static_cast<std::uint8_t>(generator() >> 24);
    return b;
}

Bytes HashByHand(const Bytes& data, uint32_t bytes)
{
    DSTU7564Context* c = DSTU7564CreateContext();
    uint32_t bits = bytes * 8;
    DSTU7564SetParameter(c, &bits, DSTU7564_HASH_BITS);
    DSTU7564UpdateHash(data.data(), static_cast<uint32_t>(data.size() * 8), 0, c);
    DSTU7564FinishHash(c);
    Bytes out(bytes);
    DSTU7564GetParameter(c, out.data(), DSTU7564_HASH);
    DSTU7564FreeContext(c);
    return out;
}

// H((K xor opad) || H((K xor ipad) || m)) with the key no longer than a block.
Bytes HmacByHand(const Bytes& key, const Bytes& message, uint32_t macBytes)
{
    const uint32_t block = macBytes <= 32 ? 64 : 128;
    Bytes inner(block, 0x36), outer(block, 0x5C);
    for (std::size_t i = 0; i < key.size(); ++i) {
        inner[i] ^= key[i];
        outer[i] ^= key[i];
    }
    inner.insert(inner.end(), message.begin(), message.end());
    Bytes innerHash = HashByHand(inner, macBytes);
    outer.insert(outer.end(), innerHash.begin(), innerHash.end());
    return HashByHand(outer, macBytes);
}

// The state entries of one family of cgbase.so, looked up by its prefix.
struct StateEntries {
    CGAcquireStateFn acquire;
    CGReleaseStateFn release;
    CGSetStateParametersFn set;
    CGGetStateParametersFn get;
};

StateEntries EntriesOf(const CGLib& lib, const std::string& family)
{
    return {lib.Get<CGAcquireStateFn>((family + "AcquireState").c_str()),
            lib.Get<CGReleaseStateFn>((family + "ReleaseState").c_str()),
            lib.Get<CGSetStateParametersFn>((family + "SetStateParameters").c_str()),
            lib.Get<CGGetStateParametersFn>((family + "GetStateParameters").c_str())};
}

// A DSTU 7624 state with its block size, key size and key set.
void* KeyedDSTU7624(const StateEntries& cipher, uint32_t blockBits, uint32_t keyBits, const Bytes& key)
{
    void* state = cipher.acquire();
    EXPECT_NE(state, nullptr);
    EXPECT_EQ(cipher.set(state, &blockBits, 2), 1);
    EXPECT_EQ(cipher.set(state, &keyBits, 3), 1);
    EXPECT_EQ(cipher.set(state, key.data(), 4), 1);
    return state;
}

}  // namespace

TEST(CGLibExports, EachLibraryExportsTheBoundNamesAndNoOthersOfTheSet)
{
    Libraries lib;
    for (const char* name : CSPBaseFunctionNames) {
        EXPECT_NE(lib.base.Raw(name), nullptr) << name;
        EXPECT_EQ(lib.ext.Raw(name), nullptr) << name;
    }
    for (const char* name : CSPExtraFunctionNames) EXPECT_NE(lib.base.Raw(name), nullptr) << name;
    for (const char* name : CSPExtFunctionNames) {
        EXPECT_NE(lib.ext.Raw(name), nullptr) << name;
        EXPECT_EQ(lib.base.Raw(name), nullptr) << name;
    }
    EXPECT_NE(lib.base.Raw("CSPFinalize"), nullptr);
    // The wrapped modules stay inside.
    EXPECT_EQ(lib.base.Raw("DSTU7624CreateContext"), nullptr);
    EXPECT_EQ(lib.base.Raw("DSTU7564UpdateHash"), nullptr);
}

TEST(CGLibExt, CRC32IsTheStandardCheckValue)
{
    Libraries lib;
    auto crc = lib.ext.Get<CGCRC32CountFn>("CRC32Count");
    const char* check = "123456789";
    EXPECT_EQ(crc(reinterpret_cast<const uint8_t*>(check), 9), 0xCBF43926u);
    EXPECT_EQ(crc(reinterpret_cast<const uint8_t*>(check), 0), 0u);
}

TEST(CGLibExt, StatisticalTestJudgesDrawsAndHandsOutAStatisticsHandle)
{
    Libraries lib;
    auto test = lib.ext.Get<CGBSTestSequenceFn>("BSTestSequence");
    auto release = lib.ext.Get<CGBSReleaseStatisticFn>("BSReleaseStatistic");
    auto judge = [&](const Bytes& data) {
        void* statistics = nullptr;
        int passed = test(&statistics, data.data(), static_cast<uint32_t>(data.size() * 8));
        EXPECT_NE(statistics, nullptr);
        release(statistics);
        return passed;
    };
    EXPECT_EQ(judge(Drawn(2500, 1)), 1);
    EXPECT_EQ(judge(Drawn(64, 2)), 1);
    EXPECT_EQ(judge(Bytes(2500, 0)), 0);
    EXPECT_EQ(judge(Bytes(64, 0xFF)), 0);
    // Balanced, but runs of length 1 only: the runs test refuses it.
    EXPECT_EQ(judge(Bytes(2500, 0x55)), 0);
    // Random apart from one run of 32 zero bits: the long-run test refuses it.
    Bytes longRun = Drawn(2500, 1);
    std::memset(longRun.data() + 1000, 0, 4);
    EXPECT_EQ(judge(longRun), 0);
    Bytes shortLongRun = Drawn(256, 3);
    std::memset(shortLongRun.data() + 100, 0, 4);
    EXPECT_EQ(judge(shortLongRun), 0);
}

TEST(CGLibExt, NoiseGeneratorFillsBuffersAndObeysTheFailureSwitch)
{
    Libraries lib;
    auto enabled = lib.ext.Get<CGTSCGIsEnableFn>("TSCGIsEnable");
    auto generate = lib.ext.Get<CGTSCGGenerateSequenceFn>("TSCGGenerateSequence");
    EXPECT_EQ(enabled(), 1);
    Bytes a(64, 0), b(64, 0);
    ASSERT_EQ(generate(a.data(), 64), 1);
    ASSERT_EQ(generate(b.data(), 64), 1);
    EXPECT_NE(a, b);
    setenv("QVK_CGLIB_FAIL", "BSTestSequence,TSCGIsEnable", 1);
    EXPECT_EQ(enabled(), 0);
    EXPECT_EQ(generate(a.data(), 64), 1);
    unsetenv("QVK_CGLIB_FAIL");
    EXPECT_EQ(enabled(), 1);
}

TEST(CGLibBase, ClassicGeneratorFollowsTheAnnexConstructionStepByStep)
{
    Libraries lib;
    auto init = lib.base.Get<CGPseudoRNGInitializeFn>("DSTU4145PseudoRNGInitialize");
    auto generate = lib.base.Get<CGPseudoRNGGenerateSequenceFn>("DSTU4145PseudoRNGGenerateSequence");
    auto deinit = lib.base.Get<CGPseudoRNGDeinitializeFn>("DSTU4145PseudoRNGDeinitialize");
    GOST28147PackedSBox box{};
    ASSERT_EQ(CSPParameters().GetStandardSBox(0, &box), 1);
    const Bytes mix = Hex("0011223344556677"), time = Hex("8899AABBCCDDEEFF");
    Bytes key(32);
    for (int i = 0; i < 32; ++i) key[i] = static_cast<uint8_t>(i * 7 + 1);

    void* state = init(mix.data(), time.data(), key.data(), box.rows[0]);
    ASSERT_NE(state, nullptr);
    Bytes out(20);
    ASSERT_EQ(generate(out.data(), 20, state), 1);
    deinit(state);

    // I = E(D); x = E(I xor s); s = E(x xor I); the output is x, x, ...
    GOST28147Context c{};
    ASSERT_EQ(GOST28147SetParameter(&c, &box, GOST28147_SBOX), 1);
    ASSERT_EQ(GOST28147SetParameter(&c, key.data(), GOST28147_KEY), 1);
    uint8_t i[8], s[8], x[8];
    std::memcpy(i, time.data(), 8);
    std::memcpy(s, mix.data(), 8);
    ASSERT_EQ(GOST28147EncryptECB(i, 1, &c), 1);
    Bytes expected;
    for (int block = 0; block < 3; ++block) {
        for (int k = 0; k < 8; ++k) x[k] = i[k] ^ s[k];
        GOST28147EncryptECB(x, 1, &c);
        expected.insert(expected.end(), x, x + 8);
        for (int k = 0; k < 8; ++k) s[k] = x[k] ^ i[k];
        GOST28147EncryptECB(s, 1, &c);
    }
    expected.resize(20);
    EXPECT_EQ(out, expected);
}

TEST(CGLibBase, ParameterisedGeneratorNeedsKeySeedAndTimeAndSerialisesReseeds)
{
    Libraries lib;
    auto acquire = lib.base.Get<CGAcquireStateFn>("DSTU4145PseudoRNGAcquireState");
    auto set = lib.base.Get<CGSetStateParametersFn>("DSTU4145PseudoRNGSetStateParameters");
    auto lock = lib.base.Get<CGPseudoRNGLockFn>("DSTU4145PseudoRNGLockState");
    auto unlock = lib.base.Get<CGPseudoRNGLockFn>("DSTU4145PseudoRNGUnlockState");
    auto generate = lib.base.Get<CGPseudoRNGGenerateSequenceFn>("DSTU4145PseudoRNGGenerateSequence");
    auto deinit = lib.base.Get<CGPseudoRNGDeinitializeFn>("DSTU4145PseudoRNGDeinitialize");
    void* state = acquire();
    ASSERT_NE(state, nullptr);
    uint8_t out[16];
    const uint32_t one = 1, two = 2;
    EXPECT_EQ(set(state, &two, 1), 0);
    EXPECT_EQ(set(state, &one, 1), 1);
    EXPECT_EQ(generate(out, 16, state), 0) << "no key, seed or time yet";
    const Bytes key(32, 0x11), seed(32, 0x22), time(8, 0x33);
    ASSERT_EQ(lock(state), 1);
    EXPECT_EQ(set(state, key.data(), 3), 1);
    EXPECT_EQ(set(state, seed.data(), 4), 1);
    EXPECT_EQ(set(state, time.data(), 5), 1);
    ASSERT_EQ(unlock(state), 1);
    EXPECT_EQ(set(state, key.data(), 99), 0);
    EXPECT_EQ(generate(out, 16, state), 1);
    EXPECT_EQ(deinit(state), 1);
}

TEST(CGLibBase, EcbRefusesALengthThatIsNotWholeBlocks)
{
    Libraries lib;
    const StateEntries cipher = EntriesOf(lib.base, "DSTU7624");
    auto ecb = lib.base.Get<CGDSTU7624ECBFn>("DSTU7624EncryptDataECBMode");
    void* state = KeyedDSTU7624(cipher, 128, 128, Bytes(16, 0));
    Bytes data(32, 0);
    EXPECT_EQ(ecb(data.data(), 20, state), 0);
    EXPECT_EQ(data, Bytes(32, 0));
    EXPECT_EQ(ecb(data.data(), 32, state), 1);
    cipher.release(state);
}

TEST(CGLibBase, HmacIsTheClassicConstructionOverTheHash)
{
    Libraries lib;
    const auto [acquire, release, set, get] = EntriesOf(lib.base, "DSTU7564HMAC");
    auto update = lib.base.Get<CGDSTU7564HashDataFn>("DSTU7564HMACUpdateData");
    auto finish = lib.base.Get<CGStateFinalizeFn>("DSTU7564HMACFinalizeDataMac");
    for (uint32_t macBytes : {32u, 48u, 64u}) {
        SCOPED_TRACE(macBytes);
        Bytes key(macBytes), message(100);
        for (uint32_t i = 0; i < macBytes; ++i) key[i] = static_cast<uint8_t>(0xA0 + i);
        for (int i = 0; i < 100; ++i) message[i] = static_cast<uint8_t>(i);
        void* state = acquire();
        const uint32_t bits = macBytes * 8;
        ASSERT_EQ(set(state, &bits, 2), 1);
        ASSERT_EQ(set(state, key.data(), 3), 1);
        ASSERT_EQ(update(message.data(), 100 * 8, 0, state), 1);
        ASSERT_EQ(finish(state), 1);
        Bytes mac(macBytes);
        ASSERT_EQ(get(state, mac.data(), 6), 1);
        release(state);

        EXPECT_EQ(mac, HmacByHand(key, message, macBytes));
    }
}

TEST(CGLibBase, FailureSwitchMakesTheNamedEntryFail)
{
    Libraries lib;
    const StateEntries hashing = EntriesOf(lib.base, "DSTU7564");
    auto hash = lib.base.Get<CGDSTU7564HashDataFn>("DSTU7564HashData");
    void* state = hashing.acquire();
    const uint32_t bits = 256;
    ASSERT_EQ(hashing.set(state, &bits, 2), 1);
    const uint8_t data[4] = {1, 2, 3, 4};
    setenv("QVK_CGLIB_FAIL", "DSTU7564HashData", 1);
    EXPECT_EQ(hash(data, 32, 0, state), 0);
    setenv("QVK_CGLIB_FAIL", "SomethingElse,*", 1);
    EXPECT_EQ(hash(data, 32, 0, state), 0);
    unsetenv("QVK_CGLIB_FAIL");
    EXPECT_EQ(hash(data, 32, 0, state), 1);
    hashing.release(state);
}

TEST(CGLibBase, CmacOfEmptyDataIsOnePaddedBlockUnderTheIncompleteBlockSubkey)
{
    Libraries lib;
    const StateEntries cipher = EntriesOf(lib.base, "DSTU7624");
    auto set = cipher.set;
    auto get = cipher.get;
    auto cmac = lib.base.Get<CGDSTU7624MACFn>("DSTU7624GetDataCMAC");
    auto check = lib.base.Get<CGDSTU7624MACFn>("DSTU7624CheckDataCMAC");
    const uint32_t blockBits = 256, keyBits = 256;
    const Bytes key = Hex("000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F");
    void* state = KeyedDSTU7624(cipher, blockBits, keyBits, key);
    const uint8_t none = 0;
    ASSERT_EQ(cmac(&none, 0, 0, state), 1);
    ASSERT_EQ(set(state, &blockBits, 6), 1);
    Bytes mac(32);
    ASSERT_EQ(get(state, mac.data(), 7), 1);

    // E(pad xor E(1)), pad = 80 00 ... 00, with the module's own ECB.
    DSTU7624Context* c = DSTU7624CreateContext();
    DSTU7624SetParameter(c, &blockBits, DSTU7624_BLOCK_BITS);
    DSTU7624SetParameter(c, &keyBits, DSTU7624_KEY_BITS);
    DSTU7624SetParameter(c, key.data(), DSTU7624_KEY);
    Bytes subkey(32, 0), block(32, 0);
    subkey[0] = 1;
    block[0] = 0x80;
    ASSERT_EQ(DSTU7624EncryptECB(subkey.data(), 1, c), 1);
    for (int i = 0; i < 32; ++i) block[static_cast<std::size_t>(i)] ^= subkey[static_cast<std::size_t>(i)];
    ASSERT_EQ(DSTU7624EncryptECB(block.data(), 1, c), 1);
    DSTU7624FreeContext(c);
    EXPECT_EQ(mac, block);

    ASSERT_EQ(set(state, mac.data(), 7), 1);
    EXPECT_EQ(check(&none, 0, 0, state), 1);
    mac[3] ^= 1;
    ASSERT_EQ(set(state, mac.data(), 7), 1);
    EXPECT_EQ(check(&none, 0, 0, state), 0);
    cipher.release(state);
}

TEST(CGLibBase, Pbkdf2IsTheXorOfChainedHmacsPerBlock)
{
    Libraries lib;
    auto derive = lib.base.Get<CGPKCS5PBKDF2DSTU7564DeriveKeyFn>("PKCS5PBKDF2DSTU7564DeriveKey");
    const Bytes password = {'p', 'a', 's', 's', 'w', 'o', 'r', 'd'}, salt = Hex("0102030405060708");
    Bytes key(40);
    ASSERT_EQ(derive(password.data(), 8, salt.data(), 8, 2, nullptr, 40 * 8, key.data(), 32), 1);
    Bytes expected;
    for (uint8_t index : {1, 2}) {
        Bytes message = salt;
        message.insert(message.end(), {0, 0, 0, index});
        const Bytes u1 = HmacByHand(password, message, 32);
        const Bytes u2 = HmacByHand(password, u1, 32);
        for (int i = 0; i < 32; ++i)
            expected.push_back(u1[static_cast<std::size_t>(i)] ^ u2[static_cast<std::size_t>(i)]);
    }
    expected.resize(40);
    EXPECT_EQ(key, expected);
}
