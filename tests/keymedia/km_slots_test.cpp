// Callers reach the device-object operations by slot number, so each
// operation's position in the virtual table is checked here: under the
// Itanium C++ ABI a pointer to a virtual member function holds 1 + the byte
// offset of its entry in the table. The real objects are then called through
// raw table slots to show their tables follow the interfaces.
#include <gtest/gtest.h>

#include "KMTestSupport.h"
#include "VirtualSlot.h"

namespace kmtest {
namespace {

using qvktest::SlotOf;

TEST(KMSlots, KMDeviceAndIKMQuorKorvo7Q)
{
    EXPECT_EQ(SlotOf(&KMDevice::Release), 0);
    EXPECT_EQ(SlotOf(&KMDevice::EnumDevice), 1);
    EXPECT_EQ(SlotOf(&KMDevice::GetInfo), 2);
    EXPECT_EQ(SlotOf(&KMDevice::Open), 3);
    EXPECT_EQ(SlotOf(&KMDevice::Close), 4);
    EXPECT_EQ(SlotOf(&KMDevice::ChangePassword), 5);
    EXPECT_EQ(SlotOf(&KMDevice::Erase), 6);
    EXPECT_EQ(SlotOf(&KMDevice::GetRecordHeader), 7);
    EXPECT_EQ(SlotOf(&KMDevice::ReadRecord), 8);
    EXPECT_EQ(SlotOf(&KMDevice::WriteRecord), 9);
    EXPECT_EQ(SlotOf(&KMDevice::Reserved10), 10);
    EXPECT_EQ(SlotOf(&IKMQuorKorvo7Q::GetJournalRecord), 11);
    EXPECT_EQ(SlotOf(&IKMQuorKorvo7Q::GetDeviceInfo), 12);
    EXPECT_EQ(SlotOf(&IKMQuorKorvo7Q::Reserved13), 13);
    EXPECT_EQ(SlotOf(&IKMQuorKorvo7Q::GetDeviceStatus), 14);
    EXPECT_EQ(SlotOf(&IKMQuorKorvo7Q::Reserved15), 15);
    EXPECT_EQ(SlotOf(&IKMQuorKorvo7Q::Reserved16), 16);
}

TEST(KMSlots, Extensions)
{
    EXPECT_EQ(SlotOf(&IKMDeviceInfoApplication::GetVersion), 0);
    EXPECT_EQ(SlotOf(&IKMDeviceInfoApplication::Reserved1), 1);
    EXPECT_EQ(SlotOf(&IKMDeviceInfoApplication::Reserved2), 2);
    EXPECT_EQ(SlotOf(&IKMDeviceInfoApplication::GetPasswordTries), 3);
    EXPECT_EQ(SlotOf(&IKMDeviceInfoApplication::GetDeviceFlag), 4);
    EXPECT_EQ(SlotOf(&IKMDeviceInfoApplication::Reserved5), 5);
    EXPECT_EQ(SlotOf(&IKMAliasApplication::GetVersion), 0);
    EXPECT_EQ(SlotOf(&IKMAliasApplication::GetAlias), 1);
}

// Calls slot n of an object's table the way a caller holding only the table
// layout does.
template <typename... Args>
int CallSlot(void* object, int slot, Args... args)
{
    using Function = int (*)(void*, Args...);
    void** table = *static_cast<void***>(object);
    return reinterpret_cast<Function>(table[slot])(object, args...);
}

class KMSlotCalls : public KMTest {};

TEST_F(KMSlotCalls, TheRealObjectsAnswerBySlot)
{
    Device full = FullKey();
    Device carrier = Carrier();
    ASSERT_TRUE(full && carrier);
    for (IKMQuorKorvo7Q* d : {full.get(), carrier.get()})
        for (int slot : {10, 13, 15, 16}) EXPECT_EQ(CallSlot(d, slot), KM_NOT_SUPPORTED) << "slot " << slot;

    int caps = 0;
    EXPECT_EQ(CallSlot(full.get(), 2, static_cast<const char*>(nullptr), &caps, static_cast<void**>(nullptr)), 0);
    EXPECT_EQ(caps, KM_CAPS_FULL_KEY);
    EXPECT_EQ(CallSlot(carrier.get(), 2, static_cast<const char*>(nullptr), &caps, static_cast<void**>(nullptr)), 0);
    EXPECT_EQ(caps, KM_CAPS_STORAGE);
    // The carrier has no journal, information or status (slots 11, 12, 14).
    EXPECT_EQ(CallSlot(carrier.get(), 14, static_cast<const char*>(nullptr), static_cast<unsigned*>(nullptr)),
              KM_NOT_SUPPORTED);

    void* objects[2] = {nullptr, nullptr};
    ASSERT_EQ(full->GetInfo("DeviceInfoExtension", &caps, objects), KM_OK);
    ASSERT_NE(objects[0], nullptr);
    EXPECT_EQ(CallSlot(objects[0], 0), 6);
    for (int slot : {1, 2, 5}) EXPECT_EQ(CallSlot(objects[0], slot), KM_NOT_SUPPORTED) << "slot " << slot;

    ASSERT_EQ(full->GetInfo("AliasExtension", &caps, objects), KM_OK);
    EXPECT_EQ(CallSlot(objects[0], 0), 2);
    int length = 0;
    char text[64] = {};
    EXPECT_EQ(CallSlot(objects[0], 1, static_cast<char*>(text), &length), 1);
    EXPECT_EQ(length, 26);
    EXPECT_STREQ(text, "1.3.6.1.4.1.19398.1.1.8.22");
}

}  // namespace
}  // namespace kmtest
