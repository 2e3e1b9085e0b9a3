// The driver object's login, storage areas and token information against a
// key in the in-process PC/SC double.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "DeviceTestSupport.h"
#include "device/DeviceJournal.h"
#include "pkcs11driver/PKCS11Driver.h"
#include "pkcs11driver/PKCS11QuorKorvo7Q.h"

namespace {

namespace pd = keyemu::pcscdouble;

struct DeviceReleaser {
    void operator()(PKCS11Device* d) const { d->Release(); }
};
using Device = std::unique_ptr<PKCS11Device, DeviceReleaser>;
using Bytes = std::vector<std::uint8_t>;

class Pkcs11DriverStorage : public devtest::DeviceTest {
protected:
    Device OpenKey(std::uint32_t serial, std::uint8_t version = 18, const std::string& password = "1234")
    {
        AddKey(serial, version, 0x200, password);
        slot_ = SlotOf(serial);
        Device device(CreatePKCS11Device());
        EXPECT_EQ(device->Open(slot_), CKR_OK);
        return device;
    }
    // The serial table lives as long as the process and only grows, so an
    // earlier test's keys stay in front of this test's.
    static std::uint32_t SlotOf(std::uint32_t serial)
    {
        const std::string wanted = std::to_string(serial);
        char text[KEY_SERIAL_TEXT_BYTES];
        for (std::uint32_t slot = 0; EnumerateKeySerials(slot) == CKR_OK; ++slot)
            if (GetKeySerialEntry(slot, text) && wanted == text) return slot;
        ADD_FAILURE() << "no slot for key " << serial;
        return 0;
    }
    std::uint32_t slot_ = 0;
    // The key's auxiliary record as any program reads it.
    static Bytes AuxRecord(std::uint32_t serial)
    {
        devtest::Context c = Open(serial);
        Bytes aux(16);
        int length = 0;
        EXPECT_EQ(ReadAuxRecord(c.get(), 0, aux.data(), &length), 0u);
        return aux;
    }
    // The key back in the saved state, and a new device object logged in to it.
    void ReplugLoggedIn(const std::string& reader, const std::vector<std::uint8_t>& state, Device* device)
    {
        ASSERT_NE(pd::Unplug(reader), nullptr);
        ASSERT_TRUE(pd::Replug(reader, keyemu::Key::Deserialize(state)));
        device->reset(CreatePKCS11Device());
        ASSERT_EQ((*device)->Open(slot_), CKR_OK);
        ASSERT_EQ((*device)->Login("1234", 4), CKR_OK);
    }
    static Bytes Read(PKCS11Device* device, CK_BYTE area)
    {
        std::uint8_t* image = nullptr;
        std::uint32_t length = 0;
        EXPECT_EQ(device->ReadStorageArea(area, &image, &length), CKR_OK);
        Bytes out(image, image + length);
        delete[] image;
        return out;
    }
};

TEST_F(Pkcs11DriverStorage, LoginTakesUtf8PinsInWindows1251)
{
    // "Пароль" in Windows-1251 is the key's password.
    Device device = OpenKey(11, 18, "\xCF\xE0\xF0\xEE\xEB\xFC");
    const std::string wrong = "1234";
    EXPECT_EQ(device->Login(wrong.data(), 4), CKR_PIN_INCORRECT);
    EXPECT_EQ(device->Login("", 0), CKR_PIN_INCORRECT) << "the empty password";
    const std::string utf8 = "\xD0\x9F\xD0\xB0\xD1\x80\xD0\xBE\xD0\xBB\xD1\x8C";
    EXPECT_EQ(device->Login(utf8.data(), static_cast<std::uint32_t>(utf8.size())), CKR_OK);
    EXPECT_EQ(device->Logout(), CKR_OK);
}

TEST_F(Pkcs11DriverStorage, AnOversizedWriteIsRefusedBeforeAnythingIsErased)
{
    Device device = OpenKey(12);
    ASSERT_EQ(device->Login("1234", 4), CKR_OK);
    Bytes data(100);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i + 1);
    ASSERT_EQ(device->WriteStorageArea(1, data.data(), 100), CKR_OK);
    Bytes big(3073, 0x55);
    EXPECT_EQ(device->WriteStorageArea(1, big.data(), 3073), CKR_DEVICE_MEMORY);
    const Bytes back = Read(device.get(), 1);
    ASSERT_EQ(back.size(), 3072u) << "no token record: the whole area";
    EXPECT_EQ(Bytes(back.begin(), back.begin() + 100), data) << "the area kept its content";
    EXPECT_EQ(back[100], 0) << "the last block padded with zeros";
    EXPECT_EQ(back[128], 0xFF) << "erased";
}

TEST_F(Pkcs11DriverStorage, APartialLastBlockIsPaddedWithZeros)
{
    Device device = OpenKey(13);
    ASSERT_EQ(device->Login("1234", 4), CKR_OK);
    Bytes data(33, 0x77);
    ASSERT_EQ(device->WriteStorageArea(0, data.data(), 33), CKR_OK);
    const Bytes back = Read(device.get(), 0);
    ASSERT_EQ(back.size(), 4096u) << "a public area without the mark reads back whole";
    EXPECT_EQ(back[32], 0x77);
    EXPECT_EQ(Bytes(back.begin() + 33, back.begin() + 64), Bytes(31, 0));
    EXPECT_EQ(back[64], 0xFF) << "erased";
    std::uint32_t capacity = 0;
    EXPECT_EQ(device->ReadStorageArea(0, nullptr, &capacity), CKR_OK);
    EXPECT_EQ(capacity, 4096u);
}

TEST_F(Pkcs11DriverStorage, TokenRecordAndTokenInformation)
{
    Device device = OpenKey(1234, 7);
    std::uint32_t capacity = 0;
    ASSERT_EQ(device->GetAreaCapacity(0, &capacity), CKR_OK);
    EXPECT_EQ(capacity, 1024u) << "keys below version 8";
    ASSERT_EQ(device->GetAreaCapacity(1, &capacity), CKR_OK);
    EXPECT_EQ(capacity, 3072u);
    std::uint8_t record[46] = {};
    ASSERT_EQ(device->SetFreeMemory(record, 0, 900), CKR_OK);
    ASSERT_EQ(device->SetFreeMemory(record, 1, 3000), CKR_OK);
    EXPECT_EQ(record[42] | record[43] << 8, 900);
    EXPECT_EQ(record[38] | record[39] << 8, 3000);
    std::uint32_t free = 0;
    EXPECT_EQ(device->GetFreeMemory(record, 0, &free), CKR_OK);
    EXPECT_EQ(free, 900u);
    CK_TOKEN_INFO info{};
    ASSERT_EQ(device->FillTokenInfo(record, &info), CKR_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(info.serialNumber), 16), "001234          ");
    EXPECT_EQ(info.ulTotalPublicMemory, 1024u);
    EXPECT_EQ(info.ulFreePublicMemory, 900u);
    EXPECT_EQ(info.ulTotalPrivateMemory, 3072u);
    EXPECT_EQ(info.ulFreePrivateMemory, 3000u);
    EXPECT_EQ(device->FillTokenInfo(nullptr, &info), CKR_ARGUMENTS_BAD);
    // Values past what the areas hold (a damaged record) are reported clamped.
    ASSERT_EQ(device->SetFreeMemory(record, 0, 0xFFFFFFF0u), CKR_OK);
    ASSERT_EQ(device->SetFreeMemory(record, 1, 5000), CKR_OK);
    ASSERT_EQ(device->FillTokenInfo(record, &info), CKR_OK);
    EXPECT_EQ(info.ulFreePublicMemory, 1024u - 48);
    EXPECT_EQ(info.ulFreePrivateMemory, 3072u);
}

// A public area as the token keeps it: the mark, a token record whose free
// count leaves `used` bytes in use, then `fill` up to `used`.
Bytes TokenArea(std::uint32_t used, std::uint8_t fill)
{
    Bytes area(used, fill);
    area[0] = 0x3F;
    area[1] = 0xFF;
    std::memset(area.data() + 2, 0, 46);
    const std::uint32_t free = 4096 - used;
    for (int i = 0; i < 4; ++i) area[2 + 42 + i] = static_cast<std::uint8_t>(free >> (8 * i));
    return area;
}

// A rewrite of the page that holds the token record, stopped at each command
// in turn until the key holds the named copy: the record names it as laid
// out byte by byte here, a reader before any login sees the new content, and
// the next logged-in hold completes the copy and clears the names.
TEST_F(Pkcs11DriverStorage, ARewriteStoppedAfterNamingItsCopyIsCompletedByTheNextLogin)
{
    const std::uint32_t serial = 15;
    Device device = OpenKey(serial);
    ASSERT_EQ(device->Login("1234", 4), CKR_OK);
    const Bytes before = TokenArea(200, 0x11);
    ASSERT_EQ(device->WriteStorageArea(0, before.data(), 200), CKR_OK);
    const std::string reader = pd::Readers()[0];
    const std::vector<std::uint8_t> baseline = pd::GetKey(reader)->Serialize();
    const Bytes after = TokenArea(300, 0x22);

    Bytes aux;
    for (int n = 0; n < 200; ++n) {
        ASSERT_NO_FATAL_FAILURE(ReplugLoggedIn(reader, baseline, &device));
        pd::FailTransmitsAfter(reader, n, -1);
        const CK_RV rv = device->WriteStorageArea(0, after.data(), 300);
        pd::FailTransmits(reader, 0);
        ASSERT_NE(rv, CKR_OK) << "the write ended without naming a copy";
        aux = AuxRecord(serial);
        if (aux[4] != 0) break;
    }
    // Tag, one copy: target page 0 from shadow page 1 (the first free page),
    // zeros, then the CRC-32 of those eight bytes, little-endian (0x786A4956,
    // as zlib's crc32 gives it).
    const Bytes copies = {0xC7, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x56, 0x49, 0x6A, 0x78};
    ASSERT_EQ(Bytes(aux.begin() + 4, aux.end()), copies);

    device.reset(CreatePKCS11Device());
    ASSERT_EQ(device->Open(slot_), CKR_OK);
    EXPECT_EQ(Read(device.get(), 0), after) << "not logged in: the shadow read in the target's place";
    EXPECT_EQ(AuxRecord(serial), aux) << "and the copy still named";

    device.reset(CreatePKCS11Device());
    ASSERT_EQ(device->Open(slot_), CKR_OK);
    ASSERT_EQ(device->Login("1234", 4), CKR_OK);
    std::uint8_t* image = nullptr;
    std::uint32_t used = 0;
    ASSERT_EQ(device->ReadStorageArea(0, &image, &used), CKR_OK);
    const Bytes whole(image, image + 4096);
    delete[] image;
    EXPECT_EQ(Bytes(whole.begin(), whole.begin() + used), after);
    EXPECT_EQ(Bytes(whole.begin() + 1024, whole.begin() + 2048), Bytes(1024, 0xFF)) << "the shadow erased";
    const Bytes cleared = AuxRecord(serial);
    EXPECT_EQ(Bytes(cleared.begin() + 4, cleared.end()), Bytes(12, 0));
    EXPECT_NE(Bytes(cleared.begin(), cleared.begin() + 4), Bytes(aux.begin(), aux.begin() + 4)) << "a new mark";
}

// The private records and the token record's count of them rewritten
// together, stopped at each command in turn: a logged-in reader afterwards
// finds both areas old or both new (never a count of the other records), and
// the one journal entry the write makes names the private page from a free
// private page and the token record's page from a free public page, as laid
// out byte by byte here.
TEST_F(Pkcs11DriverStorage, BothAreasRewrittenTogetherReadOldOrNewWhereverTheWriteStops)
{
    const std::uint32_t serial = 17;
    Device device = OpenKey(serial);
    ASSERT_EQ(device->Login("1234", 4), CKR_OK);
    auto withPrivateFree = [](Bytes area, std::uint32_t free) {
        for (int i = 0; i < 4; ++i) area[2 + 38 + i] = static_cast<std::uint8_t>(free >> (8 * i));
        return area;
    };
    const Bytes publicBefore = withPrivateFree(TokenArea(200, 0x11), 3072 - 600);
    const Bytes privateBefore(600, 0x44);
    ASSERT_EQ(device->WriteBothAreas(privateBefore.data(), 600, publicBefore.data(), 200), CKR_OK);
    ASSERT_EQ(Read(device.get(), 1), privateBefore);
    const std::string reader = pd::Readers()[0];
    const std::vector<std::uint8_t> baseline = pd::GetKey(reader)->Serialize();
    const Bytes publicAfter = withPrivateFree(publicBefore, 3072 - 300);
    const Bytes privateAfter(300, 0x55);

    Bytes named;
    bool ended = false;
    for (int n = 0; !ended; ++n) {
        SCOPED_TRACE("stopped after " + std::to_string(n) + " commands");
        ASSERT_NO_FATAL_FAILURE(ReplugLoggedIn(reader, baseline, &device));
        pd::FailTransmitsAfter(reader, n, -1);
        ended = device->WriteBothAreas(privateAfter.data(), 300, publicAfter.data(), 200) == CKR_OK;
        pd::FailTransmits(reader, 0);
        const Bytes aux = AuxRecord(serial);
        if (named.empty() && aux[4] != 0) named.assign(aux.begin() + 4, aux.end());
        device.reset(CreatePKCS11Device());
        ASSERT_EQ(device->Open(slot_), CKR_OK);
        ASSERT_EQ(device->Login("1234", 4), CKR_OK);
        const Bytes publicSeen = Read(device.get(), 0);
        const Bytes privateSeen = Read(device.get(), 1);
        EXPECT_TRUE((publicSeen == publicBefore && privateSeen == privateBefore) ||
                    (publicSeen == publicAfter && privateSeen == privateAfter))
            << privateSeen.size() << " private bytes";
        if (HasFailure()) break;
    }
    // Tag, two copies: private page 4 from page 5, public page 0 from page 1
    // (each area's first free page), zeros, then the CRC-32 of those eight
    // bytes, little-endian (0xE02B3201, as zlib's crc32 gives it).
    const Bytes copies = {0xC7, 0x02, 0x45, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01, 0x32, 0x2B, 0xE0};
    EXPECT_EQ(named, copies);
}

// A reader that keeps the key's cache loaded meanwhile (as a browser keeps
// the module) sees the area's old or new content after a writer beside it
// stopped at any command, before any login and after one; the pages the
// writer left half-done in the cache are never shown.
TEST_F(Pkcs11DriverStorage, AReaderWithTheCacheLoadedSeesOldOrNewContentWhereverAWriterStopped)
{
    const std::uint32_t serial = 16;
    Device writer = OpenKey(serial);
    ASSERT_EQ(writer->Login("1234", 4), CKR_OK);
    Bytes before = TokenArea(1500, 0x11);
    ASSERT_EQ(writer->WriteStorageArea(0, before.data(), 1500), CKR_OK);
    const std::string reader = pd::Readers()[0];
    const std::vector<std::uint8_t> baseline = pd::GetKey(reader)->Serialize();
    Bytes after = TokenArea(1700, 0x22);
    after[1200] = 0x33;  // a change on the second page, in its part in use

    bool ended = false;
    for (int n = 0; !ended; ++n) {
        SCOPED_TRACE("stopped after " + std::to_string(n) + " commands");
        ASSERT_NE(pd::Unplug(reader), nullptr);
        ASSERT_TRUE(pd::Replug(reader, keyemu::Key::Deserialize(baseline)));
        Device kept(CreatePKCS11Device());
        ASSERT_EQ(kept->Open(slot_), CKR_OK);
        ASSERT_EQ(Read(kept.get(), 0), before);
        writer.reset(CreatePKCS11Device());
        ASSERT_EQ(writer->Open(slot_), CKR_OK);
        ASSERT_EQ(writer->Login("1234", 4), CKR_OK);
        pd::FailTransmitsAfter(reader, n, -1);
        ended = writer->WriteStorageArea(0, after.data(), 1700) == CKR_OK;
        pd::FailTransmits(reader, 0);
        writer.reset();
        const Bytes seen = Read(kept.get(), 0);
        EXPECT_TRUE(seen == before || seen == after) << seen.size() << " bytes";
        ASSERT_EQ(kept->Login("1234", 4), CKR_OK);
        const Bytes loggedIn = Read(kept.get(), 0);
        EXPECT_TRUE(loggedIn == before || loggedIn == after) << loggedIn.size() << " bytes";
        if (seen == after) {
            EXPECT_EQ(loggedIn, after) << "what was shown stays";
        }
        if (HasFailure()) break;
    }
}

// A key that refuses the auxiliary-data commands keeps no journal: the
// changed pages are rewritten in place, the free ones left alone.
TEST_F(Pkcs11DriverStorage, AKeyWithoutAuxiliaryDataHasItsChangedPagesRewrittenInPlace)
{
    Device device = OpenKey(17);
    ASSERT_EQ(device->Login("1234", 4), CKR_OK);
    const Bytes before = TokenArea(1500, 0x11);
    ASSERT_EQ(device->WriteStorageArea(0, before.data(), 1500), CKR_OK);
    pcsctap::Reset();
    for (std::uint8_t command : {6, 7}) pcsctap::ForceStatus(command, 20, 1000);
    Bytes after = TokenArea(1700, 0x22);
    after[1200] = 0x33;
    ASSERT_EQ(device->WriteStorageArea(0, after.data(), 1700), CKR_OK);
    int blocks = 0;
    for (const auto& [command, parameter] : Requests()) {
        EXPECT_NE(command, 7) << "no auxiliary record written";
        if (command == 70) {
            ++blocks;
            EXPECT_LT(parameter, 64) << "no block written past the second page";
        }
    }
    EXPECT_EQ(blocks, 54) << "the two pages' blocks in use";
    pcsctap::Reset();
    EXPECT_EQ(Read(device.get(), 0), after);
}

TEST_F(Pkcs11DriverStorage, AClosedObjectAnswersWithoutTouchingAKey)
{
    Device device(CreatePKCS11Device());
    std::uint32_t length = 0;
    std::uint8_t* image = nullptr;
    EXPECT_EQ(device->ReadStorageArea(0, &image, &length), CKR_GENERAL_ERROR);
    EXPECT_EQ(device->WriteStorageArea(0, nullptr, 0), CKR_GENERAL_ERROR);
    EXPECT_EQ(device->EraseStorageArea(1), CKR_GENERAL_ERROR);
    EXPECT_EQ(device->Login("1", 1), CKR_DEVICE_ERROR);
    EXPECT_EQ(device->Logout(), CKR_DEVICE_ERROR);
    EXPECT_EQ(device->SetPIN(1, "1", 1), CKR_DEVICE_ERROR);
    std::uint8_t* record = nullptr;
    EXPECT_EQ(device->InitToken("1", 1, &record), CKR_DEVICE_ERROR);
    EXPECT_EQ(device->ReadStorageArea(0, nullptr, nullptr), CKR_ARGUMENTS_BAD);
}

}  // namespace
