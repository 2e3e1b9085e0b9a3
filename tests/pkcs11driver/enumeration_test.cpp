// Key enumeration into stable slot numbers, and the driver object's opening
// by slot, against keys in the in-process PC/SC double.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

#include "DeviceTestSupport.h"
#include "pkcs11driver/PKCS11Driver.h"
#include "pkcs11driver/PKCS11QuorKorvo7Q.h"

namespace {

namespace pd = keyemu::pcscdouble;

struct DeviceReleaser {
    void operator()(PKCS11Device* d) const { d->Release(); }
};
using Device = std::unique_ptr<PKCS11Device, DeviceReleaser>;

class Pkcs11Enumeration : public devtest::DeviceTest {
protected:
    static std::string Entry(std::uint32_t index)
    {
        char text[KEY_SERIAL_TEXT_BYTES];
        return GetKeySerialEntry(index, text) ? std::string(text) : std::string("<none>");
    }
    // The serial number of the key the device object has open.
    static std::uint32_t OpenSerial(PKCS11Device* device)
    {
        DeviceInfo info{};
        DeviceContext* c = static_cast<PKCS11QuorKorvo7Q*>(device)->GetDeviceContext();
        if (c == nullptr || QueryDeviceInfo(c, &info) != 0) return 0;
        return info.serial;
    }
};

// The table lives as long as the process: every test runs in its own.
TEST_F(Pkcs11Enumeration, SerialsKeepTheirSlotNumbersAcrossUnplugAndNewKeys)
{
    const std::string first = AddKey(20);
    AddKey(10);
    ASSERT_EQ(EnumerateKeySerials(0), CKR_OK);
    EXPECT_EQ(KeySerialCount(), 1u) << "the scan stops once the wanted entry exists";
    ASSERT_EQ(EnumerateKeySerials(1), CKR_OK);
    EXPECT_EQ(Entry(0), "20");
    EXPECT_EQ(Entry(1), "10");

    ASSERT_TRUE(pd::RemoveReader(first));
    AddKey(30);
    ASSERT_EQ(EnumerateKeySerials(2), CKR_OK);
    EXPECT_EQ(Entry(2), "30");
    EXPECT_EQ(KeySerialCount(), 3u);
    EXPECT_EQ(EnumerateKeySerials(1), CKR_OK);

    Device device(CreatePKCS11Device());
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->Open(0), CKR_TOKEN_NOT_PRESENT);
    ASSERT_EQ(device->Open(1), CKR_OK);
    EXPECT_EQ(OpenSerial(device.get()), 10u);
    EXPECT_EQ(device->IsPresent(), 1);
    ASSERT_EQ(device->Open(2), CKR_OK) << "an open key is closed first";
    EXPECT_EQ(OpenSerial(device.get()), 30u);
    EXPECT_EQ(device->Open(3), CKR_SLOT_ID_INVALID);
    EXPECT_EQ(device->IsPresent(), 0);
}

TEST_F(Pkcs11Enumeration, TooFewKeysLeaveTheFoundOnesInTheTable)
{
    AddKey(7);
    AddKey(8);
    EXPECT_EQ(EnumerateKeySerials(5), CKR_SLOT_ID_INVALID);
    EXPECT_EQ(KeySerialCount(), 2u);
    EXPECT_EQ(Entry(0), "7");
    EXPECT_EQ(Entry(1), "8");
    EXPECT_EQ(Entry(2), "<none>");
    EXPECT_EQ(EnumerateKeySerials(KEY_SERIAL_ENTRIES), CKR_SLOT_ID_INVALID);
}

TEST_F(Pkcs11Enumeration, NoKeysNoSlots)
{
    for (std::uint32_t i : {0u, 1u, 255u, 256u}) EXPECT_EQ(EnumerateKeySerials(i), CKR_SLOT_ID_INVALID) << i;
    EXPECT_EQ(KeySerialCount(), 0u);
}

// A key that does not answer the scan is passed over, wherever its reader
// stands; the scans after it has recovered find it.
TEST_F(Pkcs11Enumeration, AKeyThatDoesNotAnswerHidesNoOther)
{
    const struct {
        const char* fault;
        void (*set)(keyemu::Faults&, bool);
    } faults[] = {
        {"busy", [](keyemu::Faults& f, bool on) { f.busy = on; }},
        {"short answers", [](keyemu::Faults& f, bool on) { f.shortAnswer = on; }},
    };
    for (const auto& fault : faults) {
        SCOPED_TRACE(fault.fault);
        pd::ResetAll();
        const std::uint32_t base = KeySerialCount();
        const std::string failing = AddKey(1000 + base);
        AddKey(2000 + base);
        fault.set(pd::GetKey(failing)->faults(), true);
        ASSERT_EQ(EnumerateKeySerials(base), CKR_OK);
        EXPECT_EQ(Entry(base), std::to_string(2000 + base)) << "the healthy key behind it";
        EXPECT_EQ(EnumerateKeySerials(base + 1), CKR_SLOT_ID_INVALID);
        fault.set(pd::GetKey(failing)->faults(), false);
        ASSERT_EQ(EnumerateKeySerials(base + 1), CKR_OK);
        EXPECT_EQ(Entry(base + 1), std::to_string(1000 + base));
    }
}

TEST_F(Pkcs11Enumeration, SerialsAreSignedDecimalTextsThatOpenAgain)
{
    AddKey(0x80000001u);
    ASSERT_EQ(EnumerateKeySerials(0), CKR_OK);
    EXPECT_EQ(Entry(0), "-2147483647");
    Device device(CreatePKCS11Device());
    ASSERT_EQ(device->Open(0), CKR_OK);
    EXPECT_EQ(OpenSerial(device.get()), 0x80000001u);
}

TEST_F(Pkcs11Enumeration, ReadersNeverSeeAnEntryBeforeItIsWritten)
{
    constexpr std::uint32_t keys = 24;
    for (std::uint32_t i = 0; i < keys; ++i) AddKey(1000 + i);
    std::atomic<bool> done{false};
    std::atomic<int> torn{0};
    std::thread reader([&] {
        while (!done.load()) {
            const std::uint32_t count = KeySerialCount();
            for (std::uint32_t i = 0; i < count; ++i) {
                char text[KEY_SERIAL_TEXT_BYTES];
                if (!GetKeySerialEntry(i, text) || std::strtol(text, nullptr, 10) != 1000 + static_cast<long>(i))
                    ++torn;
            }
        }
    });
    for (std::uint32_t i = 0; i < keys; ++i) EXPECT_EQ(EnumerateKeySerials(i), CKR_OK);
    done = true;
    reader.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_EQ(KeySerialCount(), keys);
}

TEST_F(Pkcs11Enumeration, TheDriverObjectsFixedAnswers)
{
    AddKey(5, 17);
    Device device(CreatePKCS11Device());
    EXPECT_EQ(device->Close(), CKR_DEVICE_ERROR) << "not open";
    EXPECT_EQ(device->IsPresent(), 0);
    EXPECT_EQ(device->HasExtendedHashes(), CKR_DEVICE_ERROR);
    EXPECT_EQ(device->GetTokenRecordSize(), 46u);
    EXPECT_EQ(device->GetDefaultTokenFlags(), 0x405u);
    EXPECT_EQ(device->CanInitToken(), 1);
    EXPECT_EQ(device->UsesTokenContexts(), 0);
    EXPECT_EQ(device->HasNativeObjectStore(), 0);
    EXPECT_EQ(device->IsConnected(), 1);
    EXPECT_EQ(device->ReleaseOthers(), CKR_OK);
    std::uint32_t number = 0;
    const CK_RV absent[] = {device->VerifyPINRecord(nullptr, 1, "1", 1),
                            device->UpdatePINRecord(nullptr, 1, "1", 1),
                            device->ReservedOperationA(),
                            device->SynchronizeContexts(0, 0, 0, 0, 1),
                            device->StoreObjectValue(nullptr),
                            device->DeleteDSTU4145PrivateKey(1),
                            device->ReadNativeObjects(0, nullptr, nullptr),
                            device->UpdateNativeObject(nullptr, nullptr),
                            device->ReservedOperationB(),
                            device->ReservedOperationC(),
                            device->ReservedOperationD(),
                            device->DeleteRSAPrivateKey(),
                            device->DeleteECPrivateKey(),
                            device->GetPrivateKeyNumber(CKK_DSTU4145, 1, &number),
                            device->StoreObject(nullptr),
                            device->GetCertificateNumber(CKK_DSTU4145, &number),
                            device->DeleteCertificate(CKK_DSTU4145)};
    for (CK_RV rv : absent) EXPECT_EQ(rv, CKR_FUNCTION_NOT_SUPPORTED);

    ASSERT_EQ(EnumerateKeySerials(0), CKR_OK);
    ASSERT_EQ(device->Open(0), CKR_OK);
    EXPECT_EQ(device->HasExtendedHashes(), CKR_FUNCTION_NOT_SUPPORTED) << "version 17";
    EXPECT_EQ(device->HasExtendedCiphers(), CKR_FUNCTION_NOT_SUPPORTED);
    EXPECT_EQ(device->Close(), CKR_OK);
    EXPECT_EQ(device->Close(), CKR_DEVICE_ERROR);
}

TEST_F(Pkcs11Enumeration, NewKeysHaveTheExtendedOperations)
{
    AddKey(6, 18);
    ASSERT_EQ(EnumerateKeySerials(0), CKR_OK);
    Device device(CreatePKCS11Device());
    ASSERT_EQ(device->Open(0), CKR_OK);
    EXPECT_EQ(device->HasExtendedHashes(), CKR_OK);
    EXPECT_EQ(device->HasExtendedCiphers(), CKR_OK);
}

}  // namespace
