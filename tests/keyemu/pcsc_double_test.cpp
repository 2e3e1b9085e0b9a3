// The in-process PC/SC double through the pcsc-lite calls, as the device
// protocol makes them.
#include <gtest/gtest.h>
#include <reader.h>
#include <winscard.h>

#include <cstring>
#include <string>
#include <vector>

#include "keyemu/PcscDouble.h"

namespace pd = keyemu::pcscdouble;

namespace {

class PcscDoubleTest : public testing::Test {
protected:
    void SetUp() override { pd::ResetAll(); }
    void TearDown() override { pd::ResetAll(); }

    static keyemu::KeyConfig Config(uint32_t serial, uint8_t version)
    {
        keyemu::KeyConfig c;
        c.serial = serial;
        c.version = version;
        c.capability = version >= 18 ? 0x200 : 0;
        c.password = "pw";
        return c;
    }

    static std::vector<std::string> List(SCARDCONTEXT ctx)
    {
        char buf[2048];
        DWORD len = sizeof buf;
        std::vector<std::string> out;
        if (SCardListReaders(ctx, "SCard$AllReaders", buf, &len) != SCARD_S_SUCCESS) return out;
        for (const char* p = buf; *p; p += std::strlen(p) + 1) out.emplace_back(p);
        return out;
    }

    // Device information (command 13) in the old 64-byte block, as the serial query sends it.
    static LONG DeviceInfo(SCARDHANDLE h, uint32_t* serial, uint8_t* version)
    {
        uint8_t apdu[69] = {0xFF, 0x14, 0x00, 0x00, 63, 13};
        apdu[68] = 66;
        uint8_t answer[256];
        DWORD len = sizeof answer;
        LONG rv = SCardTransmit(h, SCARD_PCI_T1, apdu, sizeof apdu, nullptr, answer, &len);
        if (rv != SCARD_S_SUCCESS) return rv;
        EXPECT_EQ(len, 65u);  // 63 block bytes and the status word
        EXPECT_EQ(answer[63], 0x90);
        EXPECT_EQ(answer[2], 0);  // key status
        std::memcpy(serial, answer + 3, 4);
        *version = answer[3 + 5];
        return rv;
    }
};

TEST_F(PcscDoubleTest, ListsReadersAndAnswersDeviceInfoWithTheSerial)
{
    pd::AddForeignReader("Other Reader 00 00");
    EXPECT_EQ(pd::AddKey(Config(111111, 17)), "TVR Q.uor Korvo-7Q 00 00");
    EXPECT_EQ(pd::AddKey(Config(222222, 18)), "TVR Q.uor Korvo-7Q 00 01");

    SCARDCONTEXT ctx;
    ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &ctx), SCARD_S_SUCCESS);
    EXPECT_EQ(List(ctx),
              (std::vector<std::string>{"Other Reader 00 00", "TVR Q.uor Korvo-7Q 00 00", "TVR Q.uor Korvo-7Q 00 01"}));
    DWORD need = 0;
    EXPECT_EQ(SCardListReaders(ctx, nullptr, nullptr, &need), SCARD_S_SUCCESS);
    char small[10];
    DWORD smallLen = sizeof small;
    EXPECT_EQ(SCardListReaders(ctx, nullptr, small, &smallLen), SCARD_E_INSUFFICIENT_BUFFER);

    SCARDHANDLE h;
    DWORD proto = 0;
    EXPECT_EQ(SCardConnect(ctx, "Other Reader 00 00", SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1, &h, &proto),
              SCARD_E_NO_SMARTCARD);
    ASSERT_EQ(SCardConnect(ctx, "TVR Q.uor Korvo-7Q 00 01", SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1, &h, &proto),
              SCARD_S_SUCCESS);
    EXPECT_EQ(proto, static_cast<DWORD>(SCARD_PROTOCOL_T1));
    uint32_t serial = 0;
    uint8_t version = 0;
    ASSERT_EQ(DeviceInfo(h, &serial, &version), SCARD_S_SUCCESS);
    EXPECT_EQ(serial, 222222u);
    EXPECT_EQ(version, 18);
    EXPECT_EQ(pd::CommandLog("TVR Q.uor Korvo-7Q 00 01"),
              std::vector<std::string>{"cmd=13 par=0x00 mode=0 size=64 status=0"});

    // The borrowed-handle path reads the reader name back from the handle.
    char name[257];
    DWORD nameLen = sizeof name;
    ASSERT_EQ(SCardGetAttrib(h, SCARD_ATTR_DEVICE_SYSTEM_NAME_A, reinterpret_cast<LPBYTE>(name), &nameLen),
              SCARD_S_SUCCESS);
    EXPECT_EQ(std::string(name, nameLen - 1), "TVR Q.uor Korvo-7Q 00 01");
    EXPECT_EQ(name[nameLen - 1], '\0');

    EXPECT_EQ(SCardDisconnect(h, SCARD_LEAVE_CARD), SCARD_S_SUCCESS);
    EXPECT_EQ(SCardDisconnect(h, SCARD_LEAVE_CARD), SCARD_E_INVALID_HANDLE);
    EXPECT_EQ(SCardReleaseContext(ctx), SCARD_S_SUCCESS);
    EXPECT_EQ(pd::Calls().transmit, 1);
}

TEST_F(PcscDoubleTest, UnplugEmptiesTheReaderAndReplugBringsTheKeyBack)
{
    std::string reader = pd::AddKey(Config(333333, 11));
    SCARDCONTEXT ctx;
    ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &ctx), SCARD_S_SUCCESS);
    SCARDHANDLE h;
    DWORD proto;
    ASSERT_EQ(SCardConnect(ctx, reader.c_str(), SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1, &h, &proto), SCARD_S_SUCCESS);

    auto key = pd::Unplug(reader);
    ASSERT_NE(key, nullptr);
    uint32_t serial;
    uint8_t version;
    EXPECT_EQ(DeviceInfo(h, &serial, &version), SCARD_W_REMOVED_CARD);
    SCARDHANDLE h2;
    EXPECT_EQ(SCardConnect(ctx, reader.c_str(), SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1, &h2, &proto),
              SCARD_E_NO_SMARTCARD);
    EXPECT_EQ(List(ctx), std::vector<std::string>{reader});  // the reader stays, empty

    ASSERT_TRUE(pd::Replug(reader, std::move(key)));
    EXPECT_EQ(DeviceInfo(h, &serial, &version), SCARD_W_REMOVED_CARD);  // old handle stays dead
    ASSERT_EQ(SCardConnect(ctx, reader.c_str(), SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1, &h2, &proto), SCARD_S_SUCCESS);
    ASSERT_EQ(DeviceInfo(h2, &serial, &version), SCARD_S_SUCCESS);
    EXPECT_EQ(serial, 333333u);

    // Transport failures on demand, then normal service.
    pd::FailTransmits(reader, 1);
    EXPECT_EQ(DeviceInfo(h2, &serial, &version), SCARD_E_NOT_TRANSACTED);
    EXPECT_EQ(DeviceInfo(h2, &serial, &version), SCARD_S_SUCCESS);
    // Faults set through the control side reach the wire.
    pd::GetKey(reader)->faults().busy = true;
    uint8_t apdu[69] = {0xFF, 0x14, 0x00, 0x00, 63, 13};
    uint8_t answer[256];
    DWORD len = sizeof answer;
    ASSERT_EQ(SCardTransmit(h2, SCARD_PCI_T1, apdu, sizeof apdu, nullptr, answer, &len), SCARD_S_SUCCESS);
    EXPECT_EQ(answer[2], 24);
    SCardReleaseContext(ctx);
    EXPECT_EQ(SCardTransmit(h2, SCARD_PCI_T1, apdu, sizeof apdu, nullptr, answer, &len), SCARD_E_INVALID_HANDLE);
}

TEST_F(PcscDoubleTest, NoReadersAndBadHandles)
{
    SCARDCONTEXT ctx;
    ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &ctx), SCARD_S_SUCCESS);
    char buf[64];
    DWORD len = sizeof buf;
    EXPECT_EQ(SCardListReaders(ctx, nullptr, buf, &len), SCARD_E_NO_READERS_AVAILABLE);
    EXPECT_EQ(SCardListReaders(ctx + 999, nullptr, buf, &len), SCARD_E_INVALID_HANDLE);
    SCARDHANDLE h;
    DWORD proto;
    EXPECT_EQ(SCardConnect(ctx, "TVR Q.uor Korvo-7Q 00 00", SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1, &h, &proto),
              SCARD_E_UNKNOWN_READER);
    EXPECT_EQ(SCardReleaseContext(ctx), SCARD_S_SUCCESS);
    EXPECT_EQ(SCardReleaseContext(ctx), SCARD_E_INVALID_HANDLE);
}

}  // namespace
