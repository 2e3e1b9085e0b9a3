// Record storage through the device objects on the in-process PC/SC double:
// the two record places, their limits, the stored layout that other programs
// read back, erasing, and the storage carrier's differences.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "KMTestSupport.h"

namespace kmtest {
namespace {

std::vector<uint8_t> Pattern(size_t length, uint8_t seed)
{
    std::vector<uint8_t> out(length);
    for (size_t i = 0; i < length; ++i) out[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
    return out;
}

class KMRecordsTest : public KMTest {
protected:
    // The raw bytes of the key's memory from `offset`, read through a
    // connection of the test's own.
    static std::vector<uint8_t> RawMemory(uint32_t serial, uint32_t offset, uint32_t length)
    {
        Context c = Open(serial);
        std::vector<uint8_t> out;
        EXPECT_TRUE(c);
        if (!c) return out;
        EXPECT_EQ(AuthenticateDevice(c.get(), "pw"), 0u);
        for (uint32_t at = offset; at < offset + length; at += 32) {
            uint8_t block[32];
            EXPECT_EQ(ReadMemoryBlock(c.get(), block, at / 32), 0u);
            out.insert(out.end(), block, block + 32);
        }
        LogoutDevice(c.get());
        out.resize(length);
        return out;
    }
};

TEST_F(KMRecordsTest, PublicRecordFitsUpToItsPlaceOnBothKeySizes)
{
    struct Case {
        uint32_t serial;
        uint8_t version;
        unsigned limit;
    };
    for (const Case& c : {Case{2001, 7, 988}, Case{2002, 18, 4060}}) {
        AddKey(c.serial, c.version, c.version >= 18 ? 0x200 : 0, "pw");
        const std::string serial = std::to_string(c.serial);
        Device d = OpenFullKey(serial.c_str(), "pw");
        const std::vector<uint8_t> data = Pattern(c.limit, 3);
        EXPECT_EQ(d->WriteRecord(nullptr, 17, data.data(), c.limit + 1), KM_DEVICE_ERROR) << c.serial;
        ASSERT_EQ(d->WriteRecord(nullptr, 17, data.data(), c.limit), KM_OK) << c.serial;
        ASSERT_EQ(d->Close(nullptr), KM_OK);

        // Readable without opening, by a fresh object.
        Device reader = FullKey();
        std::string text = serial;
        unsigned length = 0;
        ASSERT_EQ(reader->ReadRecord(text.data(), 17, nullptr, &length), KM_OK);
        EXPECT_EQ(length, c.limit);
        std::vector<uint8_t> back(4096, 0xEE);
        ASSERT_EQ(reader->ReadRecord(text.data(), 17, back.data(), &length), KM_OK);
        back.resize(length);
        EXPECT_EQ(back, data);
        EXPECT_EQ(OpenConnections(), 0);

        // Stored layout: block 0 erased, header {17, length} at byte 32.
        const std::vector<uint8_t> raw = RawMemory(c.serial, 0, 64);
        EXPECT_EQ(raw[0], 0xFF);
        EXPECT_EQ(raw[32], 17);
        EXPECT_EQ(raw[33], 0);
        EXPECT_EQ(raw[34], c.limit & 0xFF);
        EXPECT_EQ(raw[35], c.limit >> 8);
        EXPECT_EQ(std::memcmp(raw.data() + 36, data.data(), 28), 0);
    }
}

TEST_F(KMRecordsTest, OnlyTheFullKeyProbesTheStateBeforeReadingAClosedKey)
{
    const std::string reader = AddKey(2004, 18, 0x200, "pw");
    {
        Device writer = OpenFullKey("2004", "pw");
        const std::vector<uint8_t> data = Pattern(10, 1);
        ASSERT_EQ(writer->WriteRecord(nullptr, 17, data.data(), 10), KM_OK);
    }
    for (bool carrier : {false, true}) {
        Device d = carrier ? Carrier() : FullKey();
        char serial[] = "2004";
        unsigned length = 0;
        pd::ClearCommandLog(reader);
        ASSERT_EQ(d->ReadRecord(serial, 17, nullptr, &length), KM_OK);
        EXPECT_EQ(length, 10u);
        EXPECT_EQ(Count(KeyCommands(reader), KEYCMD_GET_STATE), carrier ? 0 : 1) << (carrier ? "carrier" : "full key");
        EXPECT_EQ(OpenConnections(), 0);
    }
}

TEST_F(KMRecordsTest, APublicRecordLongerThanItsPlaceIsRefusedEvenToASizeQuery)
{
    AddKey(2003, 7, 0, "pw");
    {
        // Another program left a header whose length runs past the area.
        Context c = Open(2003);
        ASSERT_TRUE(c);
        ASSERT_EQ(AuthenticateDevice(c.get(), "pw"), 0u);
        ASSERT_EQ(EraseMemoryPage(c.get(), 0), 0u);
        uint8_t block[32];
        std::memset(block, 0x41, sizeof(block));
        block[0] = 17;
        block[1] = 0;
        block[2] = 0x88;  // 5,000 bytes
        block[3] = 0x13;
        ASSERT_EQ(WriteMemoryBlock(c.get(), block, 1), 0u);
        LogoutDevice(c.get());
    }
    Device d = FullKey();
    char serial[] = "2003";
    unsigned length = 0;
    EXPECT_EQ(d->ReadRecord(serial, 17, nullptr, &length), KM_DEVICE_ERROR);
    EXPECT_EQ(length, 0u) << "no length that would size a buffer";
    std::vector<uint8_t> buffer(4096);
    EXPECT_EQ(d->ReadRecord(serial, 17, buffer.data(), &length), KM_DEVICE_ERROR);
}

TEST_F(KMRecordsTest, DataRecordRoundTripsAndKeepsItsLayout)
{
    AddKey(2101, 18, 0x200, "pw");
    Device d = OpenFullKey("2101", "pw");
    for (unsigned size : {0u, 1u, 28u, 29u, 1000u, 3068u}) {
        const std::vector<uint8_t> data = Pattern(size, static_cast<uint8_t>(size));
        ASSERT_EQ(d->WriteRecord(nullptr, 3, data.data(), size), KM_OK) << size;
        unsigned length = 0;
        ASSERT_EQ(d->ReadRecord(nullptr, 3, nullptr, &length), KM_OK);
        EXPECT_EQ(length, 4096u) << "a size query reports the buffer a reader needs";
        std::vector<uint8_t> back(4096);
        ASSERT_EQ(d->ReadRecord(nullptr, 3, back.data(), &length), KM_OK) << size;
        back.resize(length);
        EXPECT_EQ(back, data) << size;
        int header = -1;
        ASSERT_EQ(d->GetRecordHeader(nullptr, 0, &header), KM_OK);
        EXPECT_EQ(header, 3);
    }
    EXPECT_EQ(d->GetRecordHeader(nullptr, 1, nullptr), KM_NOT_FOUND);
    ASSERT_EQ(d->Close(nullptr), KM_OK);

    const std::vector<uint8_t> raw = RawMemory(2101, 4096, 3072);
    EXPECT_EQ(raw[0], 3);
    EXPECT_EQ(raw[1], 0);
    EXPECT_EQ(raw[2], 3068 & 0xFF);
    EXPECT_EQ(raw[3], 3068 >> 8);
    EXPECT_EQ(std::memcmp(raw.data() + 4, Pattern(3068, static_cast<uint8_t>(3068)).data(), 3068), 0);
}

TEST_F(KMRecordsTest, OneDataRecordAtATimeAndItsTypeMustMatch)
{
    AddKey(2102, 18, 0x200, "pw");
    for (bool carrier : {false, true}) {
        Device d = carrier ? Carrier() : FullKey();
        ASSERT_EQ(OpenWith(d.get(), "2102", "pw"), KM_OK);
        const std::vector<uint8_t> first = Pattern(100, 1), second = Pattern(50, 2);
        ASSERT_EQ(d->WriteRecord(nullptr, 3, first.data(), 100), KM_OK);
        ASSERT_EQ(d->WriteRecord(nullptr, 7, second.data(), 50), KM_OK);
        std::vector<uint8_t> back(4096);
        unsigned length = 0;
        EXPECT_EQ(d->ReadRecord(nullptr, 3, back.data(), &length), KM_DEVICE_ERROR) << "replaced";
        EXPECT_EQ(d->ReadRecord(nullptr, 4, back.data(), &length), KM_DEVICE_ERROR);
        ASSERT_EQ(d->ReadRecord(nullptr, 7, back.data(), &length), KM_OK);
        EXPECT_EQ(length, 50u);
        EXPECT_EQ(std::memcmp(back.data(), second.data(), 50), 0);
        for (unsigned type : {16u, 18u, 0xFFFFu}) {
            EXPECT_EQ(d->WriteRecord(nullptr, type, second.data(), 50), KM_DEVICE_ERROR) << type;
            EXPECT_EQ(d->ReadRecord(nullptr, type, back.data(), &length), KM_DEVICE_ERROR) << type;
        }
        char other[] = "2103";
        EXPECT_EQ(d->ReadRecord(other, 7, back.data(), &length), KM_SERIAL_MISMATCH);
        EXPECT_EQ(d->WriteRecord("2103", 7, back.data(), 5), KM_SERIAL_MISMATCH);
        ASSERT_EQ(d->Close(nullptr), KM_OK);
        EXPECT_EQ(d->ReadRecord(nullptr, 7, back.data(), &length), KM_BAD_STATE);
        EXPECT_EQ(d->WriteRecord(nullptr, 7, back.data(), 5), KM_BAD_STATE);
    }
}

TEST_F(KMRecordsTest, DataTooLargeForTheKeyNeedsTheFormatsLibrary)
{
    // Without pkfmt.so nothing can wrap the record: refused, nothing written.
    AddKey(2104, 18, 0x200, "pw");
    Device d = OpenFullKey("2104", "pw");
    const std::vector<uint8_t> small = Pattern(10, 9), big = Pattern(3069, 1);
    ASSERT_EQ(d->WriteRecord(nullptr, 2, small.data(), 10), KM_OK);
    EXPECT_EQ(d->WriteRecord(nullptr, 2, big.data(), 3069), KM_DEVICE_ERROR);
    std::vector<uint8_t> back(4096);
    unsigned length = 0;
    ASSERT_EQ(d->ReadRecord(nullptr, 2, back.data(), &length), KM_OK);
    EXPECT_EQ(length, 10u);
}

TEST_F(KMRecordsTest, EraseClearsTheMemoryAndTheKeys)
{
    const std::string reader = AddKey(2201, 18, 0x200, "pw");
    Device d = OpenFullKey("2201", "pw");
    const std::vector<uint8_t> data = Pattern(200, 5);
    ASSERT_EQ(d->WriteRecord(nullptr, 17, data.data(), 200), KM_OK);
    ASSERT_EQ(d->WriteRecord(nullptr, 1, data.data(), 200), KM_OK);
    EXPECT_EQ(d->Erase("2202"), KM_SERIAL_MISMATCH);
    pd::ClearCommandLog(reader);
    ASSERT_EQ(d->Erase(nullptr), KM_OK);
    const std::vector<int> commands = KeyCommands(reader);
    EXPECT_EQ(Count(commands, KEYCMD_ERASE_PAGE), 7) << "4 public and 3 private pages";
    EXPECT_EQ(Count(commands, KEYCMD_DESTROY_SIGN_KEY), 1);
    EXPECT_EQ(Count(commands, KEYCMD_DESTROY_AGREE_KEY), 1);
    int header = -1;
    EXPECT_EQ(d->GetRecordHeader(nullptr, 0, &header), KM_NOT_FOUND);
    std::vector<uint8_t> back(4096);
    unsigned length = 0;
    EXPECT_EQ(d->ReadRecord(nullptr, 1, back.data(), &length), KM_DEVICE_ERROR);
    char serial[] = "2201";
    EXPECT_EQ(d->ReadRecord(serial, 17, back.data(), &length), KM_DEVICE_ERROR);
}

TEST_F(KMRecordsTest, TheCarrierAnswersFourForWhatItDoesNotOfferAndNeverRetries)
{
    const std::string reader = AddKey(2301, 18, 0x200, "pw");
    Device d = Carrier();
    const auto before = pd::Calls();
    void* objects[2] = {reinterpret_cast<void*>(0x1), reinterpret_cast<void*>(0x2)};
    int caps = 0;
    for (const char* name : {static_cast<const char*>(nullptr), "AliasExtension", "DeviceInfoExtension", "2301"}) {
        EXPECT_EQ(d->GetInfo(name, &caps, objects), KM_OK);
        EXPECT_EQ(caps, KM_CAPS_STORAGE);
    }
    EXPECT_EQ(objects[0], reinterpret_cast<void*>(0x1));
    EXPECT_EQ(objects[1], reinterpret_cast<void*>(0x2));
    unsigned value = 0;
    char text[256];
    EXPECT_EQ(d->GetJournalRecord("2301", 0, &value, text, text, text), KM_NOT_SUPPORTED);
    EXPECT_EQ(d->GetDeviceInfo("2301", &value, &value, &value, &value, &value, &value, &value), KM_NOT_SUPPORTED);
    EXPECT_EQ(d->GetDeviceStatus("2301", &value), KM_NOT_SUPPORTED);
    EXPECT_EQ(d->Reserved10(), KM_NOT_SUPPORTED);
    EXPECT_EQ(d->Reserved13(), KM_NOT_SUPPORTED);
    EXPECT_EQ(pd::Calls().connect, before.connect) << "the key was not touched";

    ASSERT_EQ(OpenWith(d.get(), "2301", "pw"), KM_OK);
    int header = -1;
    EXPECT_EQ(d->GetRecordHeader(nullptr, 0, &header), KM_NOT_FOUND) << "the carrier reports no header";
    EXPECT_EQ(header, -1);

    // One failed erase answers at once: no recovery, no second attempt.
    pd::ClearCommandLog(reader);
    pcsctap::ForceStatus(KEYCMD_ERASE_PAGE, KEYERR_NOT_AUTHENTICATED, 1);
    EXPECT_EQ(d->Erase(nullptr), KM_DEVICE_ERROR);
    EXPECT_EQ(Count(KeyCommands(reader), KEYCMD_ERASE_PAGE), 1);
    EXPECT_EQ(Count(KeyCommands(reader), KEYCMD_LOGIN_NEW), 0);
}

TEST_F(KMRecordsTest, TheFullKeyRecoversOnceAndTriesAgain)
{
    const std::string reader = AddKey(2302, 18, 0x200, "pw");
    Device d = OpenFullKey("2302", "pw");
    pd::ClearCommandLog(reader);
    pcsctap::ForceStatus(KEYCMD_ERASE_PAGE, KEYERR_NOT_AUTHENTICATED, 1);
    const std::vector<uint8_t> data = Pattern(40, 1);
    ASSERT_EQ(d->WriteRecord(nullptr, 9, data.data(), 40), KM_OK);
    EXPECT_EQ(Count(KeyCommands(reader), KEYCMD_LOGIN_NEW), 1) << "logged in again";
    EXPECT_EQ(Count(KeyCommands(reader), KEYCMD_ERASE_PAGE), 4) << "the failed page once more, then two";
    std::vector<uint8_t> back(4096);
    unsigned length = 0;
    ASSERT_EQ(d->ReadRecord(nullptr, 9, back.data(), &length), KM_OK);
    EXPECT_EQ(length, 40u);
}

}  // namespace
}  // namespace kmtest
