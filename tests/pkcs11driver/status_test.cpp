// What the key's answers mean to a PKCS#11 application: the driver's one
// table from device statuses to CK_RV, the PIN flags of the key's failed-try
// count, and the driver operations that answer through them, against keys in
// the in-process PC/SC double.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "DeviceTestSupport.h"
#include "pkcs11driver/PKCS11DeviceStatus.h"
#include "pkcs11driver/PKCS11Driver.h"
#include "pkcs11driver/PKCS11QuorKorvo7Q.h"

namespace {

struct DeviceReleaser {
    void operator()(PKCS11Device* d) const { d->Release(); }
};
using Device = std::unique_ptr<PKCS11Device, DeviceReleaser>;

TEST(DeviceStatusTable, EachStatusAnswersItsCode)
{
    const struct {
        std::uint32_t status;
        CK_RV rv;
    } rows[] = {
        {KEYERR_OK, CKR_OK},
        {KEYERR_WRONG_PASSWORD, CKR_PIN_INCORRECT},
        {KEYERR_PASSWORD_BLOCKED, CKR_PIN_LOCKED},
        {KEYERR_NOT_FOUND, CKR_DEVICE_REMOVED},
        {KEYERR_SEND_FAILED, CKR_DEVICE_REMOVED},
        {KEYERR_READER_EMPTY, CKR_DEVICE_REMOVED},
        {KEYERR_DEVICE_BUSY, CKR_FUNCTION_FAILED},
        {KEYERR_NO_MEMORY, CKR_DEVICE_MEMORY},
        {KEYERR_NO_SPACE, CKR_DEVICE_MEMORY},
        {KEYERR_NOT_AUTHENTICATED, CKR_USER_NOT_LOGGED_IN},
        {KEYERR_BAD_CHECKSUM, CKR_WRAPPED_KEY_INVALID},
        {KEYERR_RECEIVE_FAILED, CKR_DEVICE_ERROR},
        {KEYERR_CORRUPTED_REQUEST, CKR_DEVICE_ERROR},
        // Whatever has no row of its own is a device error, never success.
        {KEYERR_BAD_PARAMETER, CKR_DEVICE_ERROR},
        {KEYERR_ALREADY_AUTHENTICATED, CKR_DEVICE_ERROR},
        {KEYERR_ROM_WRITE_FAILED, CKR_DEVICE_ERROR},
        {KEYERR_NOT_SUPPORTED, CKR_DEVICE_ERROR},
        {KEYERR_GENERAL_FAILURE, CKR_DEVICE_ERROR},
        {255, CKR_DEVICE_ERROR},
        {256, CKR_DEVICE_ERROR},
    };
    for (const auto& row : rows) EXPECT_EQ(DeviceStatusToCKR(row.status), row.rv) << "status " << row.status;
}

TEST(DeviceStatusTable, PinFlagsFollowTheKeysFailedTries)
{
    const CK_FLAGS low = CKF_USER_PIN_COUNT_LOW | CKF_SO_PIN_COUNT_LOW;
    const struct {
        std::uint32_t capabilities;
        CK_FLAGS flags;
    } rows[] = {
        {0x00000200u, 0},
        {0xFFFFFFFFu, 0},  // a key that reports no capabilities has no failed tries
        {0x10000200u, low},
        {0xD0000000u, low},
        {0xE0000200u, low | CKF_USER_PIN_FINAL_TRY | CKF_SO_PIN_FINAL_TRY},
        {0xF0000200u, low | CKF_USER_PIN_LOCKED | CKF_SO_PIN_LOCKED},
    };
    for (const auto& row : rows) {
        DeviceInfo info{};
        info.capabilities = row.capabilities;
        EXPECT_EQ(PinTryFlags(FailedPasswordTries(info)), row.flags) << std::hex << row.capabilities;
    }
}

class Pkcs11DriverStatus : public devtest::DeviceTest {
protected:
    // Key `serial` (password "1234", `failedTries` already used) open in a
    // new driver object.
    Device OpenKey(std::uint32_t serial, std::uint32_t failedTries = 0)
    {
        reader_ = AddKey(serial, 18, 0x200 | failedTries << 28);
        EXPECT_EQ(EnumerateKeySerials(0), CKR_OK);
        Device device(CreatePKCS11Device());
        EXPECT_EQ(device->Open(0), CKR_OK);
        return device;
    }
    keyemu::Faults& Faults() { return devtest::pd::GetKey(reader_)->faults(); }
    int Logins() const
    {
        return Count(KeyCommands(reader_), KEYCMD_LOGIN) + Count(KeyCommands(reader_), KEYCMD_LOGIN_NEW);
    }

    std::string reader_;
};

// A login that fails for another reason than the password does not read as a
// wrong PIN.
TEST_F(Pkcs11DriverStatus, LoginTellsTheKeysTroubleFromAWrongPin)
{
    Device device = OpenKey(31);
    EXPECT_EQ(device->Login("9999", 4), CKR_PIN_INCORRECT);
    Faults().busy = true;
    EXPECT_EQ(device->Login("1234", 4), CKR_FUNCTION_FAILED) << "busy";
    Faults().busy = false;
    Faults().shortAnswer = true;
    EXPECT_EQ(device->Login("1234", 4), CKR_DEVICE_ERROR) << "short answers";
    Faults().shortAnswer = false;
    ASSERT_EQ(device->Login("1234", 4), CKR_OK);
    ASSERT_EQ(device->Logout(), CKR_OK);
    ASSERT_NE(devtest::pd::Unplug(reader_), nullptr);
    EXPECT_EQ(device->Login("1234", 4), CKR_DEVICE_REMOVED);
}

TEST_F(Pkcs11DriverStatus, CommandsAnswerThroughTheTable)
{
    Device device = OpenKey(32);
    ASSERT_EQ(device->Login("1234", 4), CKR_OK);
    std::uint8_t random[16];
    Faults().busy = true;
    EXPECT_EQ(device->GenerateRandom(random, sizeof(random)), CKR_FUNCTION_FAILED);
    EXPECT_EQ(device->SetPIN(CKU_USER, "5678", 4), CKR_FUNCTION_FAILED) << "no wrong PIN";
    Faults().busy = false;
    Faults().shortAnswer = true;
    EXPECT_EQ(device->SetPIN(CKU_USER, "5678", 4), CKR_DEVICE_ERROR);
    Faults().shortAnswer = false;
    EXPECT_EQ(device->GenerateRandom(random, sizeof(random)), CKR_OK);
    ASSERT_NE(devtest::pd::Unplug(reader_), nullptr);
    EXPECT_EQ(device->GenerateRandom(random, sizeof(random)), CKR_DEVICE_REMOVED);
    EXPECT_EQ(device->HasExtendedHashes(), CKR_DEVICE_REMOVED);
}

// The last try blocks the password; after that the key is not asked at all.
TEST_F(Pkcs11DriverStatus, ABlockedPasswordIsNotTried)
{
    Device device = OpenKey(33, 13);
    CK_TOKEN_INFO info{};
    const std::uint8_t record[46] = {};
    info.flags = CKF_TOKEN_INITIALIZED | CKF_SO_PIN_LOCKED;
    ASSERT_EQ(device->FillTokenInfo(record, &info), CKR_OK);
    EXPECT_EQ(info.flags,
              CKF_TOKEN_INITIALIZED | CKF_USER_PIN_INITIALIZED | CKF_USER_PIN_COUNT_LOW | CKF_SO_PIN_COUNT_LOW)
        << "13 failed tries: the key's count, not a stale flag given to the call";

    EXPECT_EQ(device->Login("9999", 4), CKR_PIN_INCORRECT);
    ASSERT_EQ(device->FillTokenInfo(record, &info), CKR_OK);
    EXPECT_TRUE(info.flags & CKF_USER_PIN_FINAL_TRY);
    EXPECT_EQ(device->Login("9999", 4), CKR_PIN_LOCKED) << "the try that blocks";
    ASSERT_EQ(device->FillTokenInfo(record, &info), CKR_OK);
    EXPECT_TRUE(info.flags & CKF_USER_PIN_LOCKED);
    EXPECT_FALSE(info.flags & CKF_USER_PIN_FINAL_TRY);

    const int logins = Logins();
    EXPECT_EQ(device->Login("1234", 4), CKR_PIN_LOCKED);
    EXPECT_EQ(Logins(), logins) << "no login reached the key";
}

// First initialisation formats only with the key's password.
TEST_F(Pkcs11DriverStatus, InitTokenProvesThePasswordBeforeFormatting)
{
    Device device = OpenKey(34);
    ASSERT_EQ(device->Login("1234", 4), CKR_OK);
    const std::uint8_t note[32] = {'k', 'e', 'p', 't'};
    ASSERT_EQ(device->WriteStorageArea(0, note, sizeof(note)), CKR_OK);
    ASSERT_EQ(device->Logout(), CKR_OK);

    devtest::pd::ClearCommandLog(reader_);
    std::uint8_t* record = nullptr;
    EXPECT_EQ(device->InitToken("9999", 4, &record), CKR_PIN_INCORRECT);
    EXPECT_EQ(record, nullptr);
    EXPECT_EQ(Count(KeyCommands(reader_), KEYCMD_FORMAT_NEW) + Count(KeyCommands(reader_), KEYCMD_FORMAT), 0);
    std::uint8_t* image = nullptr;
    std::uint32_t length = 0;
    ASSERT_EQ(device->ReadStorageArea(0, &image, &length), CKR_OK);
    std::unique_ptr<std::uint8_t[]> kept(image);
    EXPECT_EQ(std::memcmp(image, note, sizeof(note)), 0) << "nothing erased";

    ASSERT_EQ(device->InitToken("1234", 4, &record), CKR_OK);
    std::unique_ptr<std::uint8_t[]> made(record);
    EXPECT_EQ(Count(KeyCommands(reader_), KEYCMD_FORMAT_NEW), 1);
}

}  // namespace
