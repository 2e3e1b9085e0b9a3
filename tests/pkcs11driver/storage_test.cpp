// The driver object's login, storage areas and token information against a
// key in the in-process PC/SC double.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "DeviceTestSupport.h"
#include "pkcs11driver/PKCS11Driver.h"
#include "pkcs11driver/PKCS11QuorKorvo7Q.h"

namespace {

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
        EXPECT_EQ(EnumerateKeySerials(0), CKR_OK);
        Device device(CreatePKCS11Device());
        EXPECT_EQ(device->Open(0), CKR_OK);
        return device;
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
