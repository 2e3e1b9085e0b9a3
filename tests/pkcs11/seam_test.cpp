// The framework over a device registered through its seam: the start and
// stop reach the registered layer, and the slot list holds the keys whose
// device opens, in index order.
#include <gtest/gtest.h>

#include <vector>

#include "TestDevice.h"
#include "pkcs11/pkcs11ua.h"

namespace {

TEST(Pkcs11DriverSeam, SlotListHoldsTheKeysThatOpenAndEveryDeviceIsReleased)
{
    TestDevice() = TestDeviceState{};
    TestDevice().keys = 4;
    TestDevice().presentMask = 0b1010;
    ASSERT_EQ(C_Initialize(nullptr), CKR_OK);
    EXPECT_EQ(TestDevice().starts, 1);

    CK_ULONG count = 0;
    ASSERT_EQ(C_GetSlotList(CK_TRUE, nullptr, &count), CKR_OK);
    EXPECT_EQ(count, 2u);
    std::vector<CK_SLOT_ID> slots(1);
    count = 1;
    EXPECT_EQ(C_GetSlotList(CK_TRUE, slots.data(), &count), CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(count, 2u);
    slots.resize(count);
    ASSERT_EQ(C_GetSlotList(CK_TRUE, slots.data(), &count), CKR_OK);
    EXPECT_EQ(slots, (std::vector<CK_SLOT_ID>{1, 3}));

    // A key taken out between two lists leaves the second.
    TestDevice().presentMask = 0b0010;
    ASSERT_EQ(C_GetSlotList(CK_TRUE, nullptr, &count), CKR_OK);
    EXPECT_EQ(count, 1u);

    // The slots' devices and the probes go with the library.
    EXPECT_EQ(C_Finalize(nullptr), CKR_OK);
    EXPECT_EQ(TestDevice().stops, 1);
    EXPECT_EQ(TestDevice().liveDevices, 0);
}

TEST(Pkcs11DriverSeam, AFailedStartLeavesTheLibraryUninitialized)
{
    TestDevice() = TestDeviceState{};
    TestDevice().startSucceeds = false;
    EXPECT_EQ(C_Initialize(nullptr), CKR_FUNCTION_FAILED);
    CK_ULONG count = 0;
    EXPECT_EQ(C_GetSlotList(CK_TRUE, nullptr, &count), CKR_CRYPTOKI_NOT_INITIALIZED);
    TestDevice().startSucceeds = true;
    ASSERT_EQ(C_Initialize(nullptr), CKR_OK);
    EXPECT_EQ(C_Finalize(nullptr), CKR_OK);
}

}  // namespace
