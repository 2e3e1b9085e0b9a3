// The in-memory storage variant against an emulated key behind a real pcscd:
// the images it serves, the write it refuses before they exist, and the
// key's own records, which image changes must never reach.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "KeyRig.h"
#include "device/DeviceProtocol.h"
#include "pkcs11/PKCS11TokenStorage.h"
#include "pkcs11driver/PKCS11Driver.h"
#include "pkcs11driver/PKCS11VirtualQuorKorvo7Q.h"

namespace qvk::e2e {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint32_t LE32(const std::uint8_t* p)
{
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

Bytes ReadArea(PKCS11Device& device, CK_BYTE area)
{
    std::uint8_t* image = nullptr;
    std::uint32_t length = 0;
    EXPECT_EQ(device.ReadStorageArea(area, &image, &length), CKR_OK);
    Bytes out(image, image + length);
    delete[] image;
    return out;
}

class Pkcs11VirtualE2E : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("WEMU_NAME_PREFIX", ("qvkp11virt" + std::to_string(getpid())).c_str(), 1);
        rig_ = std::make_unique<KeyRig>(std::vector<RigKey>{RigKey(4321)});
        ASSERT_EQ(EnumerateKeySerials(0), CKR_OK);
    }
    void TearDown() override
    {
        rig_.reset();
        CloseSharedMemory();
        unsetenv("WEMU_NAME_PREFIX");
    }
    std::unique_ptr<KeyRig> rig_;
};

TEST_F(Pkcs11VirtualE2E, ServesImagesAndLeavesTheKeysRecordsAlone)
{
    // A key formatted for the key-media library: its certificate record at
    // block 1 of the public area, written by the plain driver.
    Bytes keyMedia(64, 0xFF);
    keyMedia[32] = 17;
    keyMedia[33] = 0;
    keyMedia[34] = 28;
    keyMedia[35] = 0;
    for (int i = 36; i < 64; ++i) keyMedia[i] = static_cast<std::uint8_t>(i);
    {
        PKCS11QuorKorvo7Q plain;
        ASSERT_EQ(plain.Open(0), CKR_OK);
        ASSERT_EQ(plain.Login("12345678", 8), CKR_OK);
        ASSERT_EQ(plain.WriteStorageArea(0, keyMedia.data(), keyMedia.size()), CKR_OK);
        ASSERT_EQ(plain.Close(), CKR_OK);
    }

    PKCS11VirtualQuorKorvo7Q virt;
    ASSERT_EQ(virt.Open(0), CKR_OK);
    std::uint32_t real = 0;
    std::uint32_t capacity = 0;
    ASSERT_EQ(virt.PKCS11QuorKorvo7Q::GetAreaCapacity(0, &real), CKR_OK);
    ASSERT_EQ(virt.GetAreaCapacity(0, &capacity), CKR_OK);
    EXPECT_EQ(capacity, real + 4096);
    std::uint32_t length = 0;
    ASSERT_EQ(virt.ReadStorageArea(1, nullptr, &length), CKR_OK);
    EXPECT_EQ(length, 3072u);

    // Before any read there are no images: the write is refused.
    const Bytes junk(40, 0xAB);
    EXPECT_NE(virt.WriteStorageArea(1, junk.data(), junk.size()), CKR_OK);
    EXPECT_FALSE(virt.HasImages());

    // The first read builds a fresh token labelled with the serial number.
    const Bytes pub = ReadArea(virt, 0);
    EXPECT_FALSE(virt.KeyHoldsToken());
    const std::uint32_t recordSize = virt.GetTokenRecordSize();
    ASSERT_EQ(pub.size(), recordSize + 2);
    EXPECT_EQ(pub[0], 0x3F);
    EXPECT_EQ(pub[1], 0xFF);
    EXPECT_EQ(pub[2], 1);
    std::string label(reinterpret_cast<const char*>(pub.data() + 2 + TOKEN_RECORD_LABEL), 32);
    EXPECT_EQ(label, "004321" + std::string(26, ' '));
    EXPECT_NE(LE32(pub.data() + 2 + TOKEN_RECORD_FLAGS) & CKF_USER_PIN_INITIALIZED, 0u);
    EXPECT_EQ(LE32(pub.data() + 2 + 42), capacity - recordSize - 2);
    EXPECT_EQ(LE32(pub.data() + 2 + 38), 3072u);
    EXPECT_TRUE(ReadArea(virt, 1).empty());

    // Writes and erasures change the images only.
    ASSERT_EQ(virt.WriteStorageArea(1, junk.data(), junk.size()), CKR_OK);
    EXPECT_EQ(ReadArea(virt, 1), junk);
    Bytes tooLong(3073, 1);
    EXPECT_EQ(virt.WriteStorageArea(1, tooLong.data(), tooLong.size()), CKR_DEVICE_MEMORY);
    EXPECT_EQ(ReadArea(virt, 1), junk);
    ASSERT_EQ(virt.EraseStorageArea(0), CKR_OK);
    EXPECT_TRUE(ReadArea(virt, 0).empty());

    // After ReleaseOthers the next read rebuilds both images from the key.
    ASSERT_EQ(virt.ReleaseOthers(), CKR_OK);
    EXPECT_FALSE(virt.HasImages());
    EXPECT_EQ(ReadArea(virt, 0), pub);
    EXPECT_TRUE(ReadArea(virt, 1).empty());

    std::uint32_t number = 0;
    EXPECT_EQ(virt.GetPrivateKeyNumber(CKK_DSTU4145, 1, &number), CKR_OK);
    EXPECT_EQ(number, 1u);
    EXPECT_EQ(virt.GetPrivateKeyNumber(CKK_DSTU4145, 0, &number), CKR_OK);
    EXPECT_EQ(number, 2u);
    EXPECT_EQ(virt.GetPrivateKeyNumber(CKK_RSA, 0, &number), CKR_FUNCTION_NOT_SUPPORTED);
    ASSERT_EQ(virt.Close(), CKR_OK);

    // The key's own record survived every image change.
    PKCS11QuorKorvo7Q plain;
    ASSERT_EQ(plain.Open(0), CKR_OK);
    std::uint8_t* image = nullptr;
    ASSERT_EQ(plain.ReadStorageArea(0, &image, &length), CKR_OK);
    std::unique_ptr<std::uint8_t[]> owned(image);
    ASSERT_GE(length, 64u);
    EXPECT_EQ(Bytes(image + 32, image + 64), Bytes(keyMedia.begin() + 32, keyMedia.end()));
    ASSERT_EQ(plain.Close(), CKR_OK);
}

TEST(Pkcs11VirtualContainerRecord, ReplacesOnlyAContainerOrAnEmptyArea)
{
    const Bytes container = {0x30, 0x03, 0x02, 0x01, 0x07};
    const Bytes expected = {6, 0, 5, 0, 0x30, 0x03, 0x02, 0x01, 0x07};
    const Bytes empty(32, 0xFF);
    const Bytes oldContainer = {6, 0, 2, 0, 0xAA, 0xBB};
    const Bytes otherRecord = {3, 0, 2, 0, 0xAA, 0xBB};
    Bytes out;
    EXPECT_EQ(PKCS11VirtualQuorKorvo7Q::MergeContainerRecord(nullptr, 0, container.data(), 5, &out), CKR_OK);
    EXPECT_EQ(out, expected);
    EXPECT_EQ(PKCS11VirtualQuorKorvo7Q::MergeContainerRecord(empty.data(), 32, container.data(), 5, &out), CKR_OK);
    EXPECT_EQ(out, expected);
    EXPECT_EQ(PKCS11VirtualQuorKorvo7Q::MergeContainerRecord(oldContainer.data(), 6, container.data(), 5, &out),
              CKR_OK);
    EXPECT_EQ(out, expected);
    out.clear();
    EXPECT_EQ(PKCS11VirtualQuorKorvo7Q::MergeContainerRecord(otherRecord.data(), 6, container.data(), 5, &out),
              CKR_DEVICE_MEMORY);
    EXPECT_TRUE(out.empty());
    const Bytes big(3069, 1);
    EXPECT_EQ(PKCS11VirtualQuorKorvo7Q::MergeContainerRecord(nullptr, 0, big.data(), 3069, &out), CKR_DEVICE_MEMORY);
    EXPECT_EQ(PKCS11VirtualQuorKorvo7Q::MergeContainerRecord(nullptr, 0, big.data(), 3068, &out), CKR_OK);
}

}  // namespace
}  // namespace qvk::e2e
