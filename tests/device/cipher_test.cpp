// On-key ciphering and MAC against the project's own DSTU 7624 and GOST
// 28147-89 code, random numbers with the repeat filter, secret values, and
// key agreement and wrapping between two keys.
#include <algorithm>
#include <cstring>
#include <set>

#include "DeviceTestSupport.h"
#include "StandardParameters.h"
#include "crypto/DSTU7624Modes.h"
#include "crypto/GOST28147.h"

namespace devtest {
namespace {

std::vector<uint8_t> Pattern(size_t n, uint8_t seed)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + 29 * i + (i >> 3));
    return v;
}

class CipherTest : public DeviceTest {};

// --- host references --------------------------------------------------------

struct GostHost {
    GOST28147Context ctx{};
    GostHost(const uint8_t* key, const uint8_t* sbox)
    {
        GOST28147SetParameter(&ctx, sbox, GOST28147_SBOX);
        GOST28147SetParameter(&ctx, key, GOST28147_KEY);
    }
    std::vector<uint8_t> Cfb(const uint8_t* iv, std::vector<uint8_t> data)
    {
        GOST28147Context run = ctx;
        GOST28147SetParameter(&run, iv, GOST28147_IV);
        EXPECT_TRUE(GOST28147EncryptCFB(data.data(), static_cast<uint32_t>(data.size()), &run));
        return data;
    }
    uint32_t Mac(const std::vector<uint8_t>& data)
    {
        GOST28147Context run = ctx;  // key and S-box only: the MAC register starts at zero
        uint32_t mac = 0;
        EXPECT_TRUE(GOST28147ComputeMAC(data.data(), static_cast<uint32_t>(data.size()), &run));
        EXPECT_TRUE(GOST28147GetParameter(&run, &mac, GOST28147_MAC));
        return mac;
    }
};

DSTU7624Context* Dstu256(const uint8_t* key)
{
    DSTU7624Context* ctx = DSTU7624CreateContext();
    uint32_t bits = 256;
    DSTU7624SetParameter(ctx, &bits, DSTU7624_BLOCK_BITS);
    DSTU7624SetParameter(ctx, &bits, DSTU7624_KEY_BITS);
    DSTU7624SetParameter(ctx, key, DSTU7624_KEY);
    return ctx;
}

// --- old form -----------------------------------------------------------------

TEST_F(CipherTest, OldCfbAndMacEqualGost28147UnderTheLoadedKeyAndTable2)
{
    AddKey(601, 17, 0);
    AddKey(602, 18);
    const auto key = Pattern(32, 0x31);
    // Table 2 is what the key's 8-byte blocks use: load a non-default S-box.
    CSPParameters store;
    GOST28147PackedSBox sbox;
    ASSERT_TRUE(store.GetStandardSBox(3, &sbox));
    for (uint32_t serial : {601u, 602u}) {
        SCOPED_TRACE(serial);
        Context c = OpenLoggedIn(serial);
        ASSERT_TRUE(c);
        ASSERT_EQ(LockDevice(c.get()), 0u);
        ASSERT_EQ(SetSubstitutionTable(c.get(), 2, reinterpret_cast<const uint8_t*>(&sbox)), 0u);
        ASSERT_EQ(LoadKeyContext(c.get(), key.data()), 0u);
        GostHost host(key.data(), reinterpret_cast<const uint8_t*>(&sbox));
        const auto iv = Pattern(8, 0x77);
        for (size_t length : {8u, 12u, 37u, 64u}) {
            const auto plain = Pattern(length, static_cast<uint8_t>(length));
            auto buffer = plain;
            pcsctap::Reset();
            ASSERT_EQ(CfbEncryptOnDevice(c.get(), iv.data(), buffer.data(), static_cast<uint32_t>(length), 0x40), 0u);
            EXPECT_EQ(buffer, host.Cfb(iv.data(), plain)) << length;
            EXPECT_EQ(Parameters(KEYCMD_CIPHER_BLOCKS).size(), (length + 7) / 8) << "one exchange per 8 bytes";
            ASSERT_EQ(CfbDecryptOnDevice(c.get(), iv.data(), buffer.data(), static_cast<uint32_t>(length)), 0u);
            EXPECT_EQ(buffer, plain) << length;
        }
        for (size_t length : {8u, 32u, 56u, 61u, 130u}) {
            const auto data = Pattern(length, static_cast<uint8_t>(length + 1));
            auto padded = data;
            padded.resize((length + 7) / 8 * 8, 0);
            uint32_t mac = 0;
            pcsctap::Reset();
            ASSERT_EQ(ComputeMacOnDevice(c.get(), data.data(), static_cast<uint32_t>(length), &mac, 0x40), 0u);
            EXPECT_EQ(mac, host.Mac(padded)) << length;
            if (length == 32) {
                EXPECT_EQ(Parameters(KEYCMD_CIPHER_BLOCKS), (std::vector<int>{0xC4}));
            }
            if (length == 130) {
                EXPECT_EQ(Parameters(KEYCMD_CIPHER_BLOCKS), (std::vector<int>{0xC7, 0xC7, 0xC3}));
            }
        }
        // Block commands: 66 encrypts, 50 decrypts.
        auto blocks = Pattern(24, 5);
        const auto plain = blocks;
        ASSERT_EQ(CipherBlocks(c.get(), blocks.data(), 3, 0x40), 0u);
        auto expected = plain;
        GOST28147Context ecb{};
        GOST28147SetParameter(&ecb, &sbox, GOST28147_SBOX);
        GOST28147SetParameter(&ecb, key.data(), GOST28147_KEY);
        GOST28147EncryptECB(expected.data(), 3, &ecb);
        EXPECT_EQ(blocks, expected);
        ASSERT_EQ(CipherBlocksProtected(c.get(), blocks.data(), 3, 0x40), 0u);
        EXPECT_EQ(blocks, plain);
        UnlockDevice(c.get());
    }
}

// The old 44-byte wrap built step by step from its construction with the
// plain GOST 28147-89 cipher under the loaded working key: U, then the CFB
// under U of K and its MAC, the 44 bytes reversed, then the CFB under the
// fixed IV. Wrap and unwrap are checked against it, not against each other.
TEST_F(CipherTest, OldWrapEqualsItsConstructionStepByStep)
{
    AddKey(603, 17, 0);
    Context c = OpenLoggedIn(603);
    ASSERT_TRUE(c);
    const auto working = Pattern(32, 0x5D);
    CSPParameters store;
    GOST28147PackedSBox sbox;
    ASSERT_TRUE(store.GetStandardSBox(2, &sbox));
    ASSERT_EQ(LockDevice(c.get()), 0u);
    ASSERT_EQ(SetSubstitutionTable(c.get(), 2, reinterpret_cast<const uint8_t*>(&sbox)), 0u);
    ASSERT_EQ(LoadKeyContext(c.get(), working.data()), 0u);
    GostHost host(working.data(), reinterpret_cast<const uint8_t*>(&sbox));
    const uint8_t fixedIv[8] = {0x4A, 0xDD, 0xA2, 0x2C, 0x79, 0xE8, 0x21, 0x05};
    const auto content = Pattern(32, 0xA7);

    // Wrap: a reference built from U with the plain cipher.
    const auto wrapWith = [&](const std::vector<uint8_t>& u) {
        std::vector<uint8_t> inner = content;
        const uint32_t mac = host.Mac(content);
        for (int i = 0; i < 4; ++i) inner.push_back(static_cast<uint8_t>(mac >> (8 * i)));
        inner = host.Cfb(u.data(), inner);
        std::vector<uint8_t> t = u;
        t.insert(t.end(), inner.begin(), inner.end());
        std::reverse(t.begin(), t.end());
        return host.Cfb(fixedIv, t);
    };
    uint8_t wrapped[44];
    ASSERT_EQ(WrapKeyOnDeviceOld(c.get(), content.data(), wrapped), 0u);
    // U is random: recover it by undoing the outer CFB by hand (the CFB
    // gamma of a block is the encryption of the previous ciphertext block).
    std::vector<uint8_t> outer(wrapped, wrapped + 44);
    std::vector<uint8_t> plainOuter(44);
    std::vector<uint8_t> feedback(fixedIv, fixedIv + 8);
    for (size_t offset = 0; offset < 44; offset += 8) {
        const auto gamma = host.Cfb(feedback.data(), std::vector<uint8_t>(8, 0));
        const size_t n = std::min<size_t>(8, 44 - offset);
        for (size_t i = 0; i < n; ++i) plainOuter[offset + i] = outer[offset + i] ^ gamma[i];
        if (n == 8) feedback.assign(outer.begin() + offset, outer.begin() + offset + 8);
    }
    const std::vector<uint8_t> u(plainOuter.rbegin(), plainOuter.rbegin() + 8);
    EXPECT_EQ(std::vector<uint8_t>(wrapped, wrapped + 44), wrapWith(u));

    // Unwrap of a value built entirely by the test, with a U of its choosing.
    const auto chosen = wrapWith(Pattern(8, 0x3E));
    uint8_t unwrapped[32] = {};
    ASSERT_EQ(UnwrapKeyOnDeviceOld(c.get(), chosen.data(), unwrapped), 0u);
    EXPECT_EQ(std::vector<uint8_t>(unwrapped, unwrapped + 32), content);
    UnlockDevice(c.get());
}

TEST_F(CipherTest, BlockCountsOutsideOneRequestAreRefusedUnsent)
{
    AddKey(603, 17, 0);
    AddKey(604, 18);
    Context old = OpenLoggedIn(603), fresh = OpenLoggedIn(604);
    ASSERT_TRUE(old && fresh);
    uint8_t buffer[128] = {};
    pcsctap::Reset();
    for (int count : {0, -1, -64, 8, 64, 0x47}) EXPECT_EQ(CipherBlocks(old.get(), buffer, count, 0x40), 8u) << count;
    for (int count : {0, -1, 9}) EXPECT_EQ(CipherBlocksProtected(fresh.get(), buffer, count, 0x40), 8u) << count;
    for (int count : {0, -1, 3}) {
        EXPECT_EQ(CipherBlocksNew(fresh.get(), buffer, count, 0x40), 8u) << count;
        EXPECT_EQ(CipherBlocksProtectedNew(fresh.get(), buffer, count, 0x40), 8u) << count;
    }
    EXPECT_EQ(CipherBlocksNew(old.get(), buffer, 2, 0), 8u) << "the count is checked before the version";
    EXPECT_EQ(GetValueBySize(fresh.get(), buffer, 40), 8u);
    EXPECT_TRUE(pcsctap::Apdus().empty());
    EXPECT_EQ(CipherBlocksNew(old.get(), buffer, 1, 0), 99u);
    EXPECT_EQ(GetDeviceMacNew(old.get(), buffer), 99u);
    EXPECT_EQ(GetValueBySize(old.get(), buffer, 32), 99u);
    EXPECT_EQ(WriteTableNew(old.get(), buffer), 99u);
    EXPECT_EQ(SetSubstitutionTable(old.get(), 0, buffer), 8u);
    EXPECT_EQ(SetSubstitutionTable(old.get(), 4, buffer), 8u);
    EXPECT_TRUE(pcsctap::Apdus().empty());
    // The largest counts go through.
    EXPECT_EQ(CipherBlocks(old.get(), buffer, 7, 0x40), 0u);
    EXPECT_EQ(CipherBlocks(fresh.get(), buffer, 8, 0x40), 0u);
    EXPECT_EQ(CipherBlocksNew(fresh.get(), buffer, 2, 0x40), 0u);
    pcsctap::Reset();
    for (uint32_t size : {32u, 48u, 64u}) {
        uint8_t value[64 + 8];
        std::memset(value, 0xEE, sizeof(value));
        ASSERT_EQ(GetValueBySize(fresh.get(), value, size), 0u);
        for (size_t i = size; i < sizeof(value); ++i) EXPECT_EQ(value[i], 0xEE);
    }
    EXPECT_EQ(Parameters(KEYCMD_GET_VALUE_NEW), (std::vector<int>{0, 1, 2}));
}

// --- new form -------------------------------------------------------------------

TEST_F(CipherTest, NewCfbAndMacEqualDstu7624)
{
    AddKey(605, 18);
    Context c = OpenLoggedIn(605);
    ASSERT_TRUE(c);
    const auto key = Pattern(32, 0x52);
    const auto iv = Pattern(32, 0x13);
    ASSERT_EQ(LoadKeyContext(c.get(), key.data()), 0u);
    DSTU7624Context* host = Dstu256(key.data());
    ASSERT_NE(host, nullptr);
    for (size_t length : {32u, 64u, 96u}) {
        const auto plain = Pattern(length, static_cast<uint8_t>(length));
        auto buffer = plain;
        ASSERT_EQ(CfbEncryptOnDeviceNew(c.get(), iv.data(), buffer.data(), static_cast<uint32_t>(length)), 0u);
        auto expected = plain;
        ASSERT_TRUE(DSTU7624SetParameter(host, iv.data(), DSTU7624_IV));
        ASSERT_TRUE(DSTU7624EncryptCFB(expected.data(), static_cast<uint32_t>(length * 8), 0, 256, host));
        EXPECT_EQ(buffer, expected) << length;
        ASSERT_EQ(CfbDecryptOnDeviceNew(c.get(), iv.data(), buffer.data(), static_cast<uint32_t>(length)), 0u);
        EXPECT_EQ(buffer, plain);
    }
    // A 40-byte run: the tail takes the last 8 bytes of the second register,
    // E(C1) bytes 24..31.
    const auto plain = Pattern(40, 3);
    auto buffer = plain;
    pcsctap::Reset();
    ASSERT_EQ(CfbEncryptOnDeviceNew(c.get(), iv.data(), buffer.data(), 40), 0u);
    EXPECT_EQ(Parameters(KEYCMD_CIPHER_BLOCKS_NEW), (std::vector<int>{0x41, 0x41}));
    std::vector<uint8_t> register1(buffer.begin(), buffer.begin() + 32);
    ASSERT_TRUE(DSTU7624EncryptECB(register1.data(), 1, host));
    auto head = std::vector<uint8_t>(plain.begin(), plain.begin() + 32);
    ASSERT_TRUE(DSTU7624SetParameter(host, iv.data(), DSTU7624_IV));
    ASSERT_TRUE(DSTU7624EncryptCFB(head.data(), 256, 0, 256, host));
    EXPECT_TRUE(std::equal(head.begin(), head.end(), buffer.begin()));
    for (size_t i = 0; i < 8; ++i) EXPECT_EQ(buffer[32 + i], plain[32 + i] ^ register1[24 + i]) << i;
    ASSERT_EQ(CfbDecryptOnDeviceNew(c.get(), iv.data(), buffer.data(), 40), 0u);
    EXPECT_EQ(buffer, plain);

    // The MAC of one 32-byte value: the 256-bit CMAC.
    const auto value = Pattern(32, 0x99);
    uint8_t mac[32];
    ASSERT_EQ(ComputeMacOnDeviceNew(c.get(), value.data(), mac), 0u);
    uint8_t expected[32];
    uint32_t macBits = 256;
    ASSERT_TRUE(DSTU7624ComputeCMAC(value.data(), 256, 0, host));
    ASSERT_TRUE(DSTU7624SetParameter(host, &macBits, DSTU7624_MAC_BITS));
    ASSERT_TRUE(DSTU7624GetParameter(host, expected, DSTU7624_MAC));
    EXPECT_EQ(std::memcmp(mac, expected, 32), 0);
    DSTU7624FreeContext(host);
}

// --- random numbers ---------------------------------------------------------------

TEST_F(CipherTest, RandomNumbersOfEveryLength)
{
    AddKey(606, 9, 0);
    AddKey(607, 18);
    for (uint32_t serial : {606u, 607u}) {
        Context c = Open(serial);
        ASSERT_TRUE(c);
        const uint32_t perAnswer = BlockDataSize(c.get()) - 1;
        for (int count : {1, 8, 55, 56, 63, 64, 200}) {
            std::vector<uint8_t> out(count + 8, 0xEE);
            pcsctap::Reset();
            ASSERT_EQ(GetDeviceRandom(c.get(), out.data(), count), 0u);
            for (int i = count; i < count + 8; ++i) ASSERT_EQ(out[i], 0xEE) << "written past the count";
            if (count >= 16) {
                EXPECT_GT(std::set<uint8_t>(out.begin(), out.begin() + count).size(), 4u) << "filled";
            }
            // One request per answer's worth, and on version 9 one more sample.
            const size_t expected = (count + perAnswer - 1) / perAnswer + (serial == 606 ? 1 : 0);
            EXPECT_EQ(pcsctap::Apdus().size(), expected) << serial << " " << count;
        }
    }
}

struct RandomAnswers {
    std::vector<std::vector<uint8_t>> seen;  // data bytes of each answer as it reached the host
};

TEST_F(CipherTest, RepeatFilterDropsARepeatedSampleBelowVersion10)
{
    AddKey(608, 9, 0);
    AddKey(609, 10, 0);
    for (uint32_t serial : {608u, 609u}) {
        SCOPED_TRACE(serial);
        Context c = Open(serial);
        ASSERT_TRUE(c);
        RandomAnswers answers;
        // The second answer repeats the first one's bytes.
        pcsctap::SetAnswerHook([&](const std::vector<uint8_t>& apdu, std::vector<uint8_t>& answer) {
            if (apdu[5] != KEYCMD_GET_RANDOM) return;
            if (answers.seen.size() == 1) std::copy(answers.seen[0].begin(), answers.seen[0].end(), answer.begin() + 3);
            answers.seen.emplace_back(answer.begin() + 3, answer.begin() + 3 + 56);
        });
        std::vector<uint8_t> out(110);
        ASSERT_EQ(GetDeviceRandom(c.get(), out.data(), 110), 0u);
        pcsctap::SetAnswerHook(nullptr);
        const auto& s = answers.seen;
        if (serial == 608) {
            ASSERT_EQ(s.size(), 4u) << "the repeat is dropped and one sample more is kept";
            EXPECT_TRUE(std::equal(out.begin(), out.begin() + 55, s[0].begin() + 1));
            EXPECT_TRUE(std::equal(out.begin() + 55, out.end(), s[2].begin() + 1));
            EXPECT_EQ(c->lastSampleLength, 8);
            EXPECT_EQ(std::memcmp(c->lastSample, s[3].data() + 1, 8), 0) << "the sample not handed out";
        } else {
            ASSERT_EQ(s.size(), 2u) << "version 10 never drops an answer";
            EXPECT_TRUE(std::equal(out.begin() + 55, out.end(), s[1].begin() + 1));
        }
    }
}

TEST_F(CipherTest, AKeyRepeatingItsSampleEndsWithinTheBudget)
{
    AddKey(611, 9, 0);
    Context c = Open(611);
    ASSERT_TRUE(c);
    // Every answer repeats the first one for two seconds, far past the budget.
    std::vector<uint8_t> first;
    const auto start = std::chrono::steady_clock::now();
    pcsctap::SetAnswerHook([&](const std::vector<uint8_t>& apdu, std::vector<uint8_t>& answer) {
        if (apdu[5] != KEYCMD_GET_RANDOM || std::chrono::steady_clock::now() - start > std::chrono::seconds(2)) return;
        if (first.empty())
            first.assign(answer.begin() + 3, answer.begin() + 3 + 56);
        else
            std::copy(first.begin(), first.end(), answer.begin() + 3);
    });
    uint8_t out[60];
    EXPECT_EQ(GetDeviceRandom(c.get(), out, sizeof(out)), 24u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    pcsctap::SetAnswerHook(nullptr);
}

TEST_F(CipherTest, RandomCountByteOutsideTheAnswerIsACorruptedAnswer)
{
    AddKey(610, 17, 0);
    Context c = Open(610);
    ASSERT_TRUE(c);
    for (int count : {0, 56, 255, 55}) {
        pcsctap::Reset();
        pcsctap::SetAnswerHook([&](const std::vector<uint8_t>& apdu, std::vector<uint8_t>& answer) {
            if (apdu[5] == KEYCMD_GET_RANDOM) answer[3] = static_cast<uint8_t>(count);
        });
        uint8_t out[64];
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(GetDeviceRandom(c.get(), out, 20), count == 55 ? 0u : 40u) << count;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    }
}

// --- secret values ------------------------------------------------------------------

TEST_F(CipherTest, SecretValuesAreGeneratedStoredReadAndErased)
{
    AddKey(611, 18);
    AddKey(612, 6, 0);
    AddKey(613, 17, 0);
    Context c = OpenLoggedIn(611);
    ASSERT_TRUE(c);
    uint8_t value[32], read[32];
    const uint8_t zeros[32] = {};
    ASSERT_EQ(LockDevice(c.get()), 0u);
    EXPECT_EQ(ReadDeviceSecret(c.get(), read, 0), 26u);
    ASSERT_EQ(LoadKeyContext(c.get(), zeros), 0u);
    ASSERT_EQ(GenerateDeviceSecret(c.get(), value), 0u);
    ASSERT_EQ(StoreDeviceSecret(c.get(), value, 0x80), 0u);
    ASSERT_EQ(ReadDeviceSecret(c.get(), read, 0), 0u);
    EXPECT_EQ(std::memcmp(read, value, 32), 0);
    ASSERT_EQ(EraseDeviceSecret(c.get(), 0), 0u);
    EXPECT_EQ(ReadDeviceSecret(c.get(), read, 0), 26u);
    ASSERT_EQ(StoreDeviceSecretNew(c.get(), value, 0x81), 0u);
    ASSERT_EQ(ReadDeviceSecretNew(c.get(), read, 1), 0u);
    EXPECT_EQ(std::memcmp(read, value, 32), 0);
    ASSERT_EQ(EraseDeviceSecretNew(c.get(), 1), 0u);
    EXPECT_EQ(ReadDeviceSecretNew(c.get(), read, 1), 26u);
    UnlockDevice(c.get());

    Context v6 = OpenLoggedIn(612), v17 = OpenLoggedIn(613);
    ASSERT_TRUE(v6 && v17);
    pcsctap::Reset();
    EXPECT_EQ(GenerateDeviceSecret(v6.get(), value), 20u);
    EXPECT_EQ(EraseDeviceSecretNew(v17.get(), 0), 99u);
    EXPECT_TRUE(pcsctap::Apdus().empty());
}

// --- agreement and wrapping between two keys -------------------------------------------

class AgreementTest : public CipherTest {
protected:
    // Two keys with key-agreement pairs on one curve, each holding the other's
    // public key.
    void SetUpPair(uint32_t a, uint32_t b, uint8_t version, unsigned curve)
    {
        AddKey(a, version, version >= 18 ? 0x200 : 0);
        AddKey(b, version, version >= 18 ? 0x200 : 0);
        first = OpenLoggedIn(a);
        second = OpenLoggedIn(b);
        ASSERT_TRUE(first && second);
        const DeviceKeyParameters parameters = StandardParameters(curve);
        ASSERT_EQ(GenerateAgreementKey(first.get(), parameters.bytes(), DEVICE_KEY_AGREEMENT_OPTION), 0u);
        ASSERT_EQ(GenerateAgreementKey(second.get(), parameters.bytes(), DEVICE_KEY_AGREEMENT_OPTION), 0u);
        ASSERT_EQ(GetAgreementPublicKey(first.get(), firstPublic), 0u);
        ASSERT_EQ(GetAgreementPublicKey(second.get(), secondPublic), 0u);
    }
    // The same block through both keys' block command: equal under equal keys.
    void ExpectSameWorkingKey(bool newForm)
    {
        auto a = Pattern(32, 0x44), b = a;
        if (newForm) {
            ASSERT_EQ(CipherBlocksNew(first.get(), a.data(), 1, 0x40), 0u);
            ASSERT_EQ(CipherBlocksNew(second.get(), b.data(), 1, 0x40), 0u);
        } else {
            ASSERT_EQ(CipherBlocks(first.get(), a.data(), 4, 0x40), 0u);
            ASSERT_EQ(CipherBlocks(second.get(), b.data(), 4, 0x40), 0u);
        }
        EXPECT_EQ(a, b);
        EXPECT_NE(a, Pattern(32, 0x44));
    }
    Context first, second;
    uint8_t firstPublic[72], secondPublic[72];
};

TEST_F(AgreementTest, OldAgreementAndWrapBetweenTwoKeys)
{
    SetUpPair(621, 622, 17, 6);
    const uint8_t zeros[32] = {};
    const auto ukm = Pattern(8, 0x21);
    for (Context* c : {&first, &second}) {
        ASSERT_EQ(LoadKeyContext(c->get(), zeros), 0u);
        ASSERT_EQ(AgreeKeyOnDevice(c->get(), c == &first ? secondPublic : firstPublic, ukm.data(), 8, 0xC0), 0u);
    }
    ExpectSameWorkingKey(false);

    const auto content = Pattern(32, 0xC3);
    uint8_t wrapped[44], unwrapped[32];
    ASSERT_EQ(WrapKeyOnDeviceOld(first.get(), content.data(), wrapped), 0u);
    ASSERT_EQ(UnwrapKeyOnDeviceOld(second.get(), wrapped, unwrapped), 0u);
    EXPECT_EQ(std::memcmp(unwrapped, content.data(), 32), 0);
    ASSERT_EQ(WrapKeyOnDeviceOld(second.get(), content.data(), wrapped), 0u);
    ASSERT_EQ(UnwrapKeyOnDeviceOld(first.get(), wrapped, unwrapped), 0u);
    EXPECT_EQ(std::memcmp(unwrapped, content.data(), 32), 0);
    // Any changed byte is refused, and the output is left alone.
    for (int at : {0, 7, 8, 20, 39, 40, 43}) {
        uint8_t changed[44];
        std::memcpy(changed, wrapped, 44);
        changed[at] ^= 0x10;
        std::memset(unwrapped, 0xEE, 32);
        EXPECT_EQ(UnwrapKeyOnDeviceOld(first.get(), changed, unwrapped), 29u) << at;
        for (uint8_t byte : unwrapped) ASSERT_EQ(byte, 0xEE);
    }
    // A different UKM gives a different working key.
    ASSERT_EQ(LoadKeyContext(second.get(), zeros), 0u);
    const auto otherUkm = Pattern(8, 0x22);
    ASSERT_EQ(AgreeKeyOnDevice(second.get(), firstPublic, otherUkm.data(), 8, 0xC0), 0u);
    EXPECT_EQ(UnwrapKeyOnDeviceOld(second.get(), wrapped, unwrapped), 29u);
    EXPECT_EQ(WrapKeyOnDevice(first.get(), content.data(), wrapped, 0), 99u) << "no new wrap on old keys";
}

TEST_F(AgreementTest, NewAgreementAndOnKeyAndComposedWrapsOpenEachOther)
{
    SetUpPair(631, 632, 18, 8);
    const auto ukm = Pattern(64, 0x61);
    ASSERT_EQ(AgreeKeyOnDeviceNew(first.get(), secondPublic, ukm.data(), 64, 0x80), 0u);
    ASSERT_EQ(AgreeKeyOnDeviceNew(second.get(), firstPublic, ukm.data(), 64, 0x80), 0u);
    ExpectSameWorkingKey(true);

    const auto content = Pattern(32, 0x5A);
    for (int wrapOnKey : {1, 0}) {
        for (int unwrapOnKey : {1, 0}) {
            for (bool forward : {true, false}) {
                SCOPED_TRACE(std::to_string(wrapOnKey) + std::to_string(unwrapOnKey) + (forward ? "f" : "b"));
                DeviceContext* wrapper = forward ? first.get() : second.get();
                DeviceContext* opener = forward ? second.get() : first.get();
                uint8_t wrapped[96], unwrapped[32] = {};
                ASSERT_EQ(WrapKeyOnDevice(wrapper, content.data(), wrapped, wrapOnKey), 0u);
                ASSERT_EQ(UnwrapKeyOnDevice(opener, wrapped, unwrapped, unwrapOnKey), 0u);
                EXPECT_EQ(std::memcmp(unwrapped, content.data(), 32), 0);
                for (int at : {0, 31, 32, 64, 95}) {
                    uint8_t changed[96];
                    std::memcpy(changed, wrapped, 96);
                    changed[at] ^= 0x01;
                    std::memset(unwrapped, 0xEE, 32);
                    EXPECT_EQ(UnwrapKeyOnDevice(opener, changed, unwrapped, unwrapOnKey), 29u) << at;
                    for (uint8_t byte : unwrapped) ASSERT_EQ(byte, 0xEE);
                }
            }
        }
    }
    // The key's wrap answer must be encrypted: mode 1 is refused.
    pcsctap::SetAnswerHook([](const std::vector<uint8_t>& apdu, std::vector<uint8_t>& answer) {
        if (apdu[5] == KEYCMD_WRAP_KEY) answer[1] = KEYPROT_MAC;
    });
    uint8_t wrapped[96];
    EXPECT_EQ(WrapKeyOnDevice(first.get(), content.data(), wrapped, 1), 40u);
}

}  // namespace
}  // namespace devtest
