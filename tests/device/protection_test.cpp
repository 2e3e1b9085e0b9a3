// Request blocks: the pseudo-APDU framing, MAC and encryption against blocks
// built by hand from the cipher modules, and the chunked senders.
#include <atomic>
#include <cstring>

#include "DeviceTestSupport.h"
#include "crypto/DSTU7624Modes.h"
#include "crypto/GOST28147.h"
#include "support/CSPParameters.h"

namespace devtest {
namespace {

const uint8_t kKey[32] = {0x10, 0x32, 0x54, 0x76, 0x98, 0xba, 0xdc, 0xfe, 0x01, 0x23, 0x45,
                          0x67, 0x89, 0xab, 0xcd, 0xef, 0xf0, 0xe1, 0xd2, 0xc3, 0xb4, 0xa5,
                          0x96, 0x87, 0x78, 0x69, 0x5a, 0x4b, 0x3c, 0x2d, 0x1e, 0x0f};

DeviceBlock SampleRequest()
{
    DeviceBlock b{};
    b.direction = 1;
    b.command = KEYCMD_WRITE_MEMORY;
    b.parameter = 7;
    for (int i = 0; i < 64; ++i) b.data[i] = static_cast<uint8_t>(i * 7 + 3);
    return b;
}

// The new form built from the standard's primitives: CMAC of bytes 0..67 cut
// to 64 bits, then ECB encryption of bytes 4..67.
DeviceBlock HandProtectNew(DeviceBlock b, uint8_t mode)
{
    uint8_t* raw = b.bytes();
    raw[2] = mode;
    const uint32_t bits = 256, macBits = 64;
    DSTU7624Context* c = DSTU7624CreateContext();
    EXPECT_TRUE(DSTU7624SetParameter(c, &bits, DSTU7624_BLOCK_BITS) &&
                DSTU7624SetParameter(c, &bits, DSTU7624_KEY_BITS) && DSTU7624SetParameter(c, kKey, DSTU7624_KEY));
    EXPECT_TRUE(DSTU7624ComputeCMAC(raw, 544, 0, c));
    EXPECT_TRUE(DSTU7624SetParameter(c, &macBits, DSTU7624_MAC_BITS));
    EXPECT_TRUE(DSTU7624GetParameter(c, raw + 68, DSTU7624_MAC));
    DSTU7624FreeContext(c);
    if (mode == 2) {
        c = DSTU7624CreateContext();
        DSTU7624SetParameter(c, &bits, DSTU7624_BLOCK_BITS);
        DSTU7624SetParameter(c, &bits, DSTU7624_KEY_BITS);
        DSTU7624SetParameter(c, kKey, DSTU7624_KEY);
        EXPECT_TRUE(DSTU7624EncryptECB(raw + 4, 2, c));
        DSTU7624FreeContext(c);
    }
    return b;
}

// The old form: GOST 28147-89 MAC of the 64 bytes (MAC field zero) with the
// standard S-box 0, then simple replacement of bytes 4..59.
DeviceBlock HandProtectOld(DeviceBlock b, uint8_t mode)
{
    uint8_t* raw = b.bytes();
    raw[2] = mode;
    std::memset(raw + 60, 0, 16);
    CSPParameters parameters;
    GOST28147PackedSBox sbox;
    EXPECT_EQ(parameters.GetStandardSBox(0, &sbox), 1);
    GOST28147Context c{};
    GOST28147SetParameter(&c, &sbox, GOST28147_SBOX);
    GOST28147SetParameter(&c, kKey, GOST28147_KEY);
    uint32_t mac = 0;
    EXPECT_TRUE(GOST28147ComputeMAC(raw, 64, &c));
    EXPECT_TRUE(GOST28147GetParameter(&c, &mac, GOST28147_MAC));
    for (int i = 0; i < 4; ++i) raw[60 + i] = static_cast<uint8_t>(mac >> (8 * i));
    if (mode == 2) {
        GOST28147Context e{};
        GOST28147SetParameter(&e, &sbox, GOST28147_SBOX);
        GOST28147SetParameter(&e, kKey, GOST28147_KEY);
        EXPECT_TRUE(GOST28147EncryptECB(raw + 4, 7, &e));
    }
    return b;
}

TEST(BlockProtection, NewFormMatchesTheStandardsPrimitives)
{
    for (uint8_t mode : {1, 2}) {
        DeviceBlock mine = SampleRequest();
        ASSERT_EQ(ProtectBlockNew(&mine, kKey, mode), 0u);
        const DeviceBlock hand = HandProtectNew(SampleRequest(), mode);
        EXPECT_EQ(std::memcmp(mine.bytes(), hand.bytes(), 76), 0) << int(mode);
        const DeviceBlock original = SampleRequest();
        if (mode == 1) {
            EXPECT_EQ(std::memcmp(mine.data, original.data, 64), 0) << "mode 1 stays plain";
        } else {
            EXPECT_EQ(std::memcmp(mine.bytes(), original.bytes(), 2), 0) << "the header is never encrypted";
            EXPECT_EQ(mine.parameter, original.parameter);
        }
    }
}

TEST(BlockProtection, OldFormMatchesTheStandardsPrimitives)
{
    for (uint8_t mode : {1, 2}) {
        DeviceBlock mine = SampleRequest();
        std::memset(mine.bytes() + 60, 0, 16);
        ProtectBlockOld(&mine, kKey, mode);
        const DeviceBlock hand = HandProtectOld(SampleRequest(), mode);
        EXPECT_EQ(std::memcmp(mine.bytes(), hand.bytes(), 64), 0) << int(mode);
    }
}

TEST(BlockProtection, VerificationAcceptsOnlyIntactAnswers)
{
    struct Form {
        bool isNew;
        uint32_t size;
    };
    for (const Form form : {Form{true, 76}, Form{false, 64}}) {
        auto protect = [&](uint8_t mode) {
            DeviceBlock b = SampleRequest();
            if (!form.isNew) std::memset(b.bytes() + 60, 0, 16);
            b.direction = 2;  // answers are MACed with the direction the host sets
            if (form.isNew)
                ProtectBlockNew(&b, kKey, mode);
            else
                ProtectBlockOld(&b, kKey, mode);
            return b;
        };
        auto verify = [&](DeviceBlock b) { return form.isNew ? VerifyBlockNew(&b, kKey) : VerifyBlockOld(&b, kKey); };

        for (uint8_t mode : {1, 2}) {
            DeviceBlock b = protect(mode);
            DeviceBlock decrypted = b;
            ASSERT_EQ(verify(b), 0u) << form.size << " mode " << int(mode);
            ASSERT_EQ(form.isNew ? VerifyBlockNew(&decrypted, kKey) : VerifyBlockOld(&decrypted, kKey), 0u);
            EXPECT_EQ(std::memcmp(decrypted.data, SampleRequest().data, 56), 0) << "data recovered";
            // Any changed byte of the data area or of the MAC is refused.
            for (uint32_t at : {4u, 30u, 59u, form.size - 1}) {
                DeviceBlock t = b;
                t.bytes()[at] ^= 0x01;
                EXPECT_EQ(verify(t), 40u) << form.size << " byte " << at;
            }
        }
        DeviceBlock plain = SampleRequest();
        plain.protection = 0;
        plain.bytes()[form.size - 1] ^= 0xFF;
        EXPECT_EQ(verify(plain), 0u) << "mode 0 is taken unchecked";
        DeviceBlock three = protect(1);
        three.protection = 3;
        EXPECT_EQ(verify(three), 40u);
    }
}

class TransportTest : public DeviceTest {};

TEST_F(TransportTest, ApduFramingOfBothForms)
{
    const std::string r18 = AddKey(101, 18);
    const std::string r17 = AddKey(102, 17, 0);
    for (const auto& [serial, size] : {std::pair<uint32_t, uint32_t>{101, 76}, {102, 64}}) {
        Context c = Open(serial);
        ASSERT_TRUE(c);
        pcsctap::Reset();
        DeviceBlock b;
        std::memset(&b, 0, sizeof(b));
        b.direction = 1;
        b.command = KEYCMD_GET_DEVICE_INFO;
        ASSERT_EQ(ExchangeBlock(c.get(), &b), 0u);
        const auto apdus = pcsctap::Apdus();
        ASSERT_EQ(apdus.size(), 1u);
        const auto& a = apdus[0];
        ASSERT_EQ(a.size(), size + 5) << "B + 5 bytes";
        EXPECT_EQ(a[0], 0xFF);
        EXPECT_EQ(a[1], 0x14);
        EXPECT_EQ(a[2], 0x00);
        EXPECT_EQ(a[3], 0x00);
        EXPECT_EQ(a[4], size - 1) << "Lc = B - 1";
        EXPECT_EQ(a[5], KEYCMD_GET_DEVICE_INFO) << "block byte 1 first; the direction is not sent";
        EXPECT_EQ(a[size + 4], size + 2) << "Le = B + 2";
        EXPECT_EQ(b.direction, 2) << "the answer is marked as a response";
        uint32_t serialInAnswer;
        std::memcpy(&serialInAnswer, b.data, 4);
        EXPECT_EQ(serialInAnswer, serial);
        // No other block size is sent: it would read and write past the block.
        pcsctap::Reset();
        for (uint32_t other : {0u, 1u, 63u, 65u, 77u, 251u}) EXPECT_EQ(TransmitBlock(c.get(), &b, other), 8u) << other;
        EXPECT_TRUE(pcsctap::Apdus().empty());
    }
}

TEST_F(TransportTest, ShortAnswerIsAReceiveFailureNotSuccess)
{
    const std::string reader = AddKey(103, 18);
    Context c = Open(103);
    ASSERT_TRUE(c);
    pd::GetKey(reader)->faults().shortAnswer = true;
    DeviceInfo info;
    EXPECT_EQ(QueryDeviceInfo(c.get(), &info), 3u);
    DeviceBlock b;
    qvkdev::InitRequest(&b, KEYCMD_GET_CLOCK, 0);
    EXPECT_EQ(ExchangeBlock(c.get(), &b), 3u);
}

TEST_F(TransportTest, SendFailureIsStatus2)
{
    const std::string reader = AddKey(104, 18);
    Context c = Open(104);
    ASSERT_TRUE(c);
    pd::FailTransmits(reader, 1);
    DeviceBlock b;
    qvkdev::InitRequest(&b, KEYCMD_GET_CLOCK, 0);
    EXPECT_EQ(ExchangeBlock(c.get(), &b), 2u);
    qvkdev::InitRequest(&b, KEYCMD_GET_CLOCK, 0);
    EXPECT_EQ(ExchangeBlock(c.get(), &b), 0u) << "the mutex was released after the failure";
}

// The chunked senders: count, parameter bytes, protection and the last chunk.
TEST_F(TransportTest, ChunkedKeyWriteOnOldAndNewKeys)
{
    AddKey(105, 17, 0);
    AddKey(106, 18);
    struct Case {
        uint32_t serial;
        int chunks;
        uint32_t size;
        uint32_t lastBytes;
    };
    for (const Case k : {Case{105, 6, 64, 24}, Case{106, 5, 76, 48}}) {
        Context c = Open(k.serial);
        ASSERT_TRUE(c);
        ASSERT_EQ(AuthenticateDevice(c.get(), "1234"), 0u);
        uint8_t parameters[240], privateKey[64];
        for (int i = 0; i < 240; ++i) parameters[i] = static_cast<uint8_t>(i);
        for (int i = 0; i < 64; ++i) privateKey[i] = static_cast<uint8_t>(0xA0 + i);
        pcsctap::Reset();
        WriteSignatureKey(c.get(), parameters, privateKey, 0x40);  // the key may refuse the made-up curve
        const auto apdus = pcsctap::Apdus();
        ASSERT_GE(apdus.size(), 1u);
        int sent = 0;
        for (const auto& a : apdus) {
            ASSERT_EQ(a.size(), k.size + 5);
            EXPECT_EQ(a[5], KEYCMD_WRITE_SIGN_KEY);
            EXPECT_EQ(a[6], KEYPROT_MAC_ENCRYPT);
            EXPECT_EQ(a[7], 0x40 | sent) << "option bits OR the chunk index";
            ++sent;
        }
        EXPECT_EQ(sent, k.chunks) << k.serial;
        // The last chunk carries the tail of the private key, the rest zero.
        DeviceBlock last{};
        last.direction = 1;
        std::memcpy(last.bytes() + 1, apdus.back().data() + 5, k.size - 1);
        ASSERT_EQ(VerifyBlock(c.get(), &last), 0u);
        EXPECT_EQ(std::memcmp(last.data, privateKey + 64 - k.lastBytes, k.lastBytes), 0);
        for (uint32_t i = k.lastBytes; i < BlockDataSize(c.get()); ++i) EXPECT_EQ(last.data[i], 0) << i;
        LogoutDevice(c.get());
    }
}

TEST_F(TransportTest, PerKeyMutexHeldElsewhereGives24)
{
    AddKey(107, 18);
    Context c = Open(107);
    ASSERT_TRUE(c);
    qvkdev::DeviceTimings().mutexWaitMs = 100;
    // The holder keeps the mutex until the exchange has given up on it.
    std::atomic<bool> held{false}, exchanged{false};
    std::thread holder([&] {
        EXPECT_EQ(LockDevice(c.get()), 0u);
        held = true;
        while (!exchanged.load()) std::this_thread::yield();
        UnlockDevice(c.get());
    });
    while (!held.load()) std::this_thread::yield();
    DeviceBlock b;
    qvkdev::InitRequest(&b, KEYCMD_GET_CLOCK, 0);
    EXPECT_EQ(ExchangeBlock(c.get(), &b), 24u);
    exchanged = true;
    holder.join();
    qvkdev::InitRequest(&b, KEYCMD_GET_CLOCK, 0);
    EXPECT_EQ(ExchangeBlock(c.get(), &b), 0u);
}

}  // namespace
}  // namespace devtest
