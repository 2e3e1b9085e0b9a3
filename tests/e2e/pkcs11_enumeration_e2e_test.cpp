// Key enumeration into slot numbers against emulated keys behind a real
// pcscd: serials keep their numbers while keys come and go, and the driver
// object opens each slot's key by its serial.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "KeyRig.h"
#include "device/DeviceProtocol.h"
#include "pkcs11driver/PKCS11Driver.h"
#include "pkcs11driver/PKCS11QuorKorvo7Q.h"

namespace qvk::e2e {
namespace {

struct DeviceReleaser {
    void operator()(PKCS11Device* d) const { d->Release(); }
};
using Device = std::unique_ptr<PKCS11Device, DeviceReleaser>;

std::string Entry(std::uint32_t index)
{
    char text[KEY_SERIAL_TEXT_BYTES];
    return GetKeySerialEntry(index, text) ? std::string(text) : std::string("<none>");
}

std::uint32_t OpenSerial(PKCS11Device* device)
{
    DeviceInfo info{};
    DeviceContext* c = static_cast<PKCS11QuorKorvo7Q*>(device)->GetDeviceContext();
    return c != nullptr && QueryDeviceInfo(c, &info) == 0 ? info.serial : 0;
}

class Pkcs11EnumerationE2E : public ::testing::Test {
protected:
    void SetUp() override { setenv("WEMU_NAME_PREFIX", ("qvkp11enum" + std::to_string(getpid())).c_str(), 1); }
    void TearDown() override
    {
        CloseSharedMemory();
        unsetenv("WEMU_NAME_PREFIX");
    }
};

TEST_F(Pkcs11EnumerationE2E, SerialsKeepTheirSlotsWhileKeysComeAndGo)
{
    {
        KeyRig rig({RigKey(20), RigKey(10)});
        EXPECT_EQ(EnumerateKeySerials(5), CKR_SLOT_ID_INVALID) << "two keys, no sixth slot";
        ASSERT_EQ(KeySerialCount(), 2u) << "both keys stay in the table";
        EXPECT_EQ(Entry(0), "20");
        EXPECT_EQ(Entry(1), "10");
        Device device(CreatePKCS11Device());
        ASSERT_EQ(device->Open(0), CKR_OK);
        EXPECT_EQ(OpenSerial(device.get()), 20u);
        EXPECT_EQ(device->IsPresent(), 1);
        EXPECT_EQ(device->Close(), CKR_OK);
    }
    // The first key is gone; a new one with serial 30 is there instead.
    KeyRig rig({RigKey(10), RigKey(30)});
    ASSERT_EQ(EnumerateKeySerials(2), CKR_OK);
    EXPECT_EQ(Entry(2), "30");
    EXPECT_EQ(KeySerialCount(), 3u);
    Device device(CreatePKCS11Device());
    EXPECT_EQ(device->Open(0), CKR_TOKEN_NOT_PRESENT);
    ASSERT_EQ(device->Open(1), CKR_OK);
    EXPECT_EQ(OpenSerial(device.get()), 10u);
    ASSERT_EQ(device->Open(2), CKR_OK);
    EXPECT_EQ(OpenSerial(device.get()), 30u);
    EXPECT_EQ(device->Open(3), CKR_SLOT_ID_INVALID);
}

TEST_F(Pkcs11EnumerationE2E, AnEmptyFirstReaderHidesNoKey)
{
    KeyRig rig({RigKey(50), RigKey(60)});
    rig.Control("unplug 0");
    ASSERT_TRUE(rig.WaitCard(0, false));
    const std::uint32_t known = KeySerialCount();
    ASSERT_EQ(EnumerateKeySerials(known), CKR_OK) << "the key behind the empty reader gets a slot";
    EXPECT_EQ(Entry(known), "60");
    Device device(CreatePKCS11Device());
    ASSERT_EQ(device->Open(known), CKR_OK);
    EXPECT_EQ(OpenSerial(device.get()), 60u);
    EXPECT_EQ(device->Close(), CKR_OK);
}

TEST_F(Pkcs11EnumerationE2E, NoKeysNoSlots)
{
    KeyRig rig({RigKey(40)});
    rig.Control("unplug 0");
    ASSERT_TRUE(rig.WaitCard(0, false));
    // The table lives as long as the process: nothing is added to it.
    const std::uint32_t known = KeySerialCount();
    EXPECT_EQ(EnumerateKeySerials(known), CKR_SLOT_ID_INVALID);
    EXPECT_EQ(KeySerialCount(), known);
}

}  // namespace
}  // namespace qvk::e2e
