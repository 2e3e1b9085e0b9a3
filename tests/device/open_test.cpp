// Discovery, open, the borrowed-handle table, clock, close, reconnect and
// recovery.
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <future>
#include <thread>
#include <vector>

#include "DeviceTestSupport.h"
#include "wemu.h"

namespace devtest {
namespace {

class OpenTest : public DeviceTest {};

TEST_F(OpenTest, AnEmptyReaderHasItsOwnAnswerAndHidesNoKeyAfterIt)
{
    const std::string first = AddKey(311);
    const std::string second = AddKey(312);
    auto key = pd::Unplug(first);
    ASSERT_TRUE(key);
    uint32_t serial = 0;
    EXPECT_EQ(GetSerialByOrdinal(0, &serial), KEYERR_READER_EMPTY);
    ASSERT_EQ(GetSerialByOrdinal(1, &serial), 0u) << "the ordinal stays the reader's index";
    EXPECT_EQ(serial, 312u);
    EXPECT_EQ(GetSerialByOrdinal(2, &serial), 1u);
    EXPECT_TRUE(Open(312));

    ASSERT_TRUE(pd::Replug(first, std::move(key)));
    ASSERT_TRUE(pd::Unplug(second));
    ASSERT_EQ(GetSerialByOrdinal(0, &serial), 0u);
    EXPECT_EQ(serial, 311u);
    EXPECT_EQ(GetSerialByOrdinal(1, &serial), KEYERR_READER_EMPTY);
    EXPECT_EQ(GetSerialByOrdinal(2, &serial), 1u);
}

TEST_F(OpenTest, OpenBySerialWalksTheReadersOfTheModel)
{
    pd::AddForeignReader("Other Vendor Reader 00 00");
    pd::AddForeignReader("TVR Q.uor Korvo");  // shorter than the model prefix
    AddKey(301);
    AddKey(302);
    EXPECT_EQ(pd::Readers().size(), 4u);

    uint32_t serial = 0;
    ASSERT_EQ(GetSerialByOrdinal(0, &serial), 0u);
    EXPECT_EQ(serial, 301u);
    ASSERT_EQ(GetSerialByOrdinal(1, &serial), 0u);
    EXPECT_EQ(serial, 302u);
    EXPECT_EQ(GetSerialByOrdinal(2, &serial), 1u);

    const auto before = pd::Calls();
    Context c = Open(302);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->deviceId, 302u);
    EXPECT_EQ(c->version, 18);
    EXPECT_EQ(c->capabilities, 0x200u);
    const auto after = pd::Calls();
    EXPECT_EQ(after.connect - before.connect, 2) << "first reader tried, then the second";
    EXPECT_EQ(after.disconnect - before.disconnect, 1);
    EXPECT_FALSE(Open(303)) << "no such key";
}

TEST_F(OpenTest, OpenBySerialGoesOnPastAReaderThatFailsToConnect)
{
    const std::string empty = AddKey(311);
    AddKey(312);
    ASSERT_TRUE(pd::Unplug(empty));
    Context c = Open(312);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->deviceId, 312u);
}

// A key in front that does not answer at once costs the open of a key behind
// it no wait: it is asked once, passed over, and waited for only when no
// other reader holds the key sought.
TEST_F(OpenTest, OpenBySerialPassesOverAKeyInFrontThatDoesNotAnswerAtOnce)
{
    const struct {
        const char* fault;
        void (*set)(keyemu::Faults&, bool);
    } faults[] = {
        {"busy", [](keyemu::Faults& f, bool on) { f.busy = on; }},
        {"not ready", [](keyemu::Faults& f, bool on) { f.notReady = on; }},
    };
    for (const auto& fault : faults) {
        SCOPED_TRACE(fault.fault);
        pd::ResetAll();
        const std::string front = AddKey(341);
        AddKey(342);
        fault.set(pd::GetKey(front)->faults(), true);
        Context c = Open(342);
        ASSERT_TRUE(c);
        EXPECT_EQ(c->deviceId, 342u);
        EXPECT_EQ(KeyCommands(front), std::vector<int>{KEYCMD_GET_DEVICE_INFO}) << "asked once, not waited for";

        // The key in front itself is still waited for while it is busy.
        fault.set(pd::GetKey(front)->faults(), false);
        pd::GetKey(front)->faults().busyAnswers = 3;
        pd::ClearCommandLog(front);
        Context f = Open(341);
        ASSERT_TRUE(f);
        EXPECT_EQ(f->deviceId, 341u);
    }
}

// The same for a key in front whose mutex another thread holds: the key
// behind opens while it is still held.
TEST_F(OpenTest, OpenBySerialPassesOverAKeyInFrontThatAnotherThreadHolds)
{
    const std::string front = AddKey(351);
    AddKey(352);
    Context held = Open(351);
    ASSERT_TRUE(held);
    // Long enough that a wait for the mutex could not end within the bound below.
    qvkdev::DeviceTimings().mutexWaitMs = 120000;
    std::promise<void> holding, release;
    std::thread holder([&] {
        EXPECT_EQ(LockDevice(held.get()), 0u);
        holding.set_value();
        release.get_future().wait();
        UnlockDevice(held.get());
    });
    holding.get_future().wait();
    Context c;
    auto opened = std::async(std::launch::async, [&] { c = Open(352); });
    EXPECT_EQ(opened.wait_for(std::chrono::seconds(20)), std::future_status::ready)
        << "the open waited for the key in front";
    release.set_value();
    opened.wait();
    holder.join();
    ASSERT_TRUE(c);
    EXPECT_EQ(c->deviceId, 352u);
}

TEST_F(OpenTest, SerialsInTheBorrowedRangeOpenAsSerials)
{
    const uint32_t serial = 999700;  // 0xF4114: shares the bits of a borrowed id
    ASSERT_EQ(serial & BORROWED_HANDLE_BASE, BORROWED_HANDLE_BASE);
    AddKey(serial);
    Context c = Open(serial);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->deviceId, serial);
    EXPECT_EQ(c->borrowed, 0u);
}

TEST_F(OpenTest, BorrowedConnectionSurvivesReconnectAndClose)
{
    const std::string reader = AddKey(321);
    BorrowedHandlePair own{};
    ASSERT_TRUE(pcsctap::ConnectOwn(reader, &own.pcscContext, &own.cardHandle));
    uint32_t id = 0;
    ASSERT_EQ(RegisterBorrowedHandle(&own, &id), 0u);
    EXPECT_EQ(id & BORROWED_HANDLE_BASE, BORROWED_HANDLE_BASE);

    DeviceContext* c = OpenDevice(id);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->deviceId, 321u) << "the serial replaces the borrowed id";
    EXPECT_EQ(c->borrowed, 1u);
    EXPECT_EQ(c->cardHandle, own.cardHandle);

    const auto before = pd::Calls();
    ASSERT_EQ(ReconnectDevice(c), 0u);
    EXPECT_NE(c->cardHandle, own.cardHandle);
    EXPECT_EQ(c->borrowed, 0u) << "the context now owns its fresh connection";
    EXPECT_TRUE(pcsctap::ProbeOwn(own.cardHandle)) << "the caller's connection is still alive after reconnect";
    CloseDevice(c);
    const auto after = pd::Calls();
    EXPECT_EQ(after.disconnect - before.disconnect, 1) << "only the layer's own connection is closed";
    EXPECT_TRUE(pcsctap::ProbeOwn(own.cardHandle));

    EXPECT_EQ(UnregisterBorrowedHandle(id), 0u);
    EXPECT_EQ(UnregisterBorrowedHandle(id), 1u);
    pcsctap::DisconnectOwn(own.pcscContext, own.cardHandle);
}

TEST_F(OpenTest, BorrowedHandleTable)
{
    std::vector<uint32_t> ids;
    for (uint32_t i = 0; i < BORROWED_HANDLE_ENTRIES; ++i) {
        BorrowedHandlePair pair{static_cast<intptr_t>(1000 + i), static_cast<intptr_t>(2000 + i)};
        uint32_t id = 0;
        ASSERT_EQ(RegisterBorrowedHandle(&pair, &id), 0u);
        EXPECT_EQ(id, BORROWED_HANDLE_BASE | i);
        ids.push_back(id);
    }
    BorrowedHandlePair extra{1, 1};
    uint32_t id = 0;
    EXPECT_EQ(RegisterBorrowedHandle(&extra, &id), 4u);
    EXPECT_EQ(UnregisterBorrowedHandle(BORROWED_HANDLE_BASE | 128), 8u);
    EXPECT_EQ(UnregisterBorrowedHandle(12345), 8u);

    // Ordinals count entries in use only; ids stay stable.
    ASSERT_EQ(UnregisterBorrowedHandle(ids[0]), 0u);
    ASSERT_EQ(UnregisterBorrowedHandle(ids[2]), 0u);
    ASSERT_EQ(GetBorrowedHandleId(0, &id), 0u);
    EXPECT_EQ(id, ids[1]);
    ASSERT_EQ(GetBorrowedHandleId(1, &id), 0u);
    EXPECT_EQ(id, ids[3]);
    EXPECT_EQ(GetBorrowedHandleId(126, &id), 1u);
    // An id whose entry is empty opens nothing (and is not mistaken for a serial of a missing key).
    EXPECT_EQ(OpenDevice(ids[0]), nullptr);
    for (uint32_t i = 1; i < BORROWED_HANDLE_ENTRIES; ++i)
        if (i != 2) {
            ASSERT_EQ(UnregisterBorrowedHandle(ids[i]), 0u);
        }
    EXPECT_EQ(GetBorrowedHandleId(0, &id), 1u);
}

TEST_F(OpenTest, DeviceCacheRecordIsClaimedPerKey)
{
    AddKey(331);
    Context a = Open(331);
    Context b = Open(331);
    ASSERT_TRUE(a && b);
    DeviceCacheRecord* r = Record(331);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->openCount, 2);
    EXPECT_EQ(r->publicImageValid, 1u);
    a.reset();
    b.reset();
    EXPECT_EQ(r->openCount, 0);
    EXPECT_EQ(r->serial, 331u) << "the record stays with the key";
}

TEST_F(OpenTest, SharedMemoriesFallBackToLocalNames)
{
    setenv("WEMU_REFUSE_GLOBAL", "1", 1);
    AddKey(341);
    Context c = Open(341);
    ASSERT_TRUE(c);
    for (const char* name : {QVK_DEVICE_MEMORY_LOCAL_NAME, QVK_KEYS_MEMORY_LOCAL_NAME}) {
        char path[512];
        ASSERT_LT(WemuNamedObjectPath(name, FALSE, path, sizeof(path)), sizeof(path));
        EXPECT_EQ(access(path, F_OK), 0) << name;
    }
}

TEST_F(OpenTest, FailedKeyCacheMappingLeavesNeitherMapped)
{
    setenv("WEMU_FAIL", "MapViewOfFile:2", 1);
    EXPECT_EQ(OpenSharedMemory(), 0);
    EXPECT_EQ(qvkdev::DeviceCacheView(), nullptr);
    EXPECT_EQ(qvkdev::KeyCacheView(), nullptr);
    EXPECT_EQ(OpenSharedMemory(), 1) << "the next call starts again";
    EXPECT_NE(qvkdev::KeyCacheView(), nullptr);
    unsetenv("WEMU_FAIL");
    WemuResetTestHooks();
}

TEST_F(OpenTest, FailedSessionShareMappingLeavesNoneMapped)
{
    setenv("WEMU_FAIL", "MapViewOfFile:3", 1);
    EXPECT_EQ(OpenSharedMemory(), 0);
    EXPECT_EQ(qvkdev::DeviceCacheView(), nullptr);
    EXPECT_EQ(qvkdev::KeyCacheView(), nullptr);
    EXPECT_EQ(OpenSharedMemory(), 1) << "the next call starts again";
    unsetenv("WEMU_FAIL");
    WemuResetTestHooks();
    // The share record lies beside the device-cache record and starts at zero.
    AddKey(352);
    Context c = Open(352);
    ASSERT_TRUE(c);
    ASSERT_EQ(qvkdev::WaitGlobalMutex(), 0u);
    const SessionShareRecord* share = qvkdev::SessionShareOf(Record(352));
    ASSERT_NE(share, nullptr);
    EXPECT_EQ(share->serial, 352u);
    EXPECT_EQ(share->generation, 0u);
    DeviceCacheRecord copy = *Record(352);
    EXPECT_EQ(qvkdev::SessionShareOf(&copy), nullptr) << "a copy outside the cache has none";
    qvkdev::ReleaseGlobalMutex();
}

TEST_F(OpenTest, ClockIsSetOnlyWhenMoreThanFiveSecondsOff)
{
    const std::string reader = AddKey(351, 11, 0);
    Context c = Open(351);
    ASSERT_TRUE(c);
    for (const auto& [skew, sets] : {std::pair<int, int>{5, 0}, {-5, 0}, {6, 1}, {-6, 1}}) {
        pd::GetKey(reader)->faults().clockSkewSeconds = skew;
        pd::ClearCommandLog(reader);
        EXPECT_EQ(SyncDeviceClock(c.get()), 0u);
        EXPECT_EQ(Count(KeyCommands(reader), KEYCMD_SET_CLOCK), sets) << skew;
    }
    const std::string old = AddKey(352, 8, 0);
    Context o = Open(352);
    ASSERT_TRUE(o);
    uint32_t seconds;
    EXPECT_EQ(GetDeviceClock(o.get(), &seconds), 99u);
    EXPECT_EQ(SetDeviceClock(o.get(), 0), 99u);
}

TEST_F(OpenTest, BusyOrNotReadyKeyEndsWith24WithinTheBudget)
{
    const std::string reader = AddKey(361);
    Context c = Open(361);
    ASSERT_TRUE(c);
    for (int fault = 0; fault < 2; ++fault) {
        auto& f = pd::GetKey(reader)->faults();
        f.busy = fault == 0;
        f.notReady = fault == 1;
        pd::ClearCommandLog(reader);
        const auto start = std::chrono::steady_clock::now();
        DeviceInfo info;
        EXPECT_EQ(QueryDeviceInfo(c.get(), &info), 24u);
        const auto elapsed = std::chrono::steady_clock::now() - start;
        EXPECT_GE(elapsed, std::chrono::milliseconds(300));
        EXPECT_LT(elapsed, std::chrono::milliseconds(3000));
        EXPECT_GT(KeyCommands(reader).size(), 2u) << "asked again every 10 ms";
    }
    auto& f = pd::GetKey(reader)->faults();
    f.busy = f.notReady = false;
    DeviceInfo info;
    EXPECT_EQ(QueryDeviceInfo(c.get(), &info), 0u);
    EXPECT_EQ(info.serial, 361u);
}

TEST_F(OpenTest, AbandonedPerKeyMutexIsTakenOver)
{
    AddKey(371);
    Context c = Open(371);
    ASSERT_TRUE(c);
    qvkdev::DeviceTimings().mutexWaitMs = 1000;
    std::thread([&] { EXPECT_EQ(LockDevice(c.get()), 0u); }).join();  // exits holding it
    DeviceInfo info;
    EXPECT_EQ(QueryDeviceInfo(c.get(), &info), 0u);
}

// Recovery: a send failure reconnects (and logs in again when logged in); 21
// and 40 while logged in log in again with the kept password.
TEST_F(OpenTest, RecoverFromErrorReconnectsAndLogsInAgain)
{
    const std::string reader = AddKey(381, 18, 0x200, "pw");
    Context c = Open(381);
    ASSERT_TRUE(c);
    uint8_t r[8];

    // Not logged in: a send failure only reconnects.
    pd::FailTransmits(reader, 1);
    const uint32_t sendFailure = GetDeviceRandom(c.get(), r, 8);
    ASSERT_EQ(sendFailure, 2u);
    const auto before = pd::Calls();
    EXPECT_EQ(RecoverFromError(c.get(), sendFailure), 0u);
    EXPECT_GT(pd::Calls().connect, before.connect);
    EXPECT_EQ(GetDeviceRandom(c.get(), r, 8), 0u);

    ASSERT_EQ(AuthenticateDevice(c.get(), "pw"), 0u);
    // Logged in: reconnect and log in again.
    pd::FailTransmits(reader, 1);
    ASSERT_EQ(GetDeviceRandom(c.get(), r, 8), 2u);
    pd::ClearCommandLog(reader);
    EXPECT_EQ(RecoverFromError(c.get(), 2), 0u);
    EXPECT_EQ(Count(KeyCommands(reader), KEYCMD_LOGIN_NEW), 1);
    EXPECT_EQ(GetDeviceRandom(c.get(), r, 8), 0u) << "the command works the second time";

    // The key lost the session: 40 (or 21) while logged in logs in again.
    pd::ResetCard(reader);
    const uint32_t lost = GetDeviceRandom(c.get(), r, 8);
    ASSERT_TRUE(lost == 40u || lost == 21u) << lost;
    pd::ClearCommandLog(reader);
    EXPECT_EQ(RecoverFromError(c.get(), lost), 0u);
    EXPECT_EQ(Count(KeyCommands(reader), KEYCMD_LOGIN_NEW), 1);
    EXPECT_EQ(GetDeviceRandom(c.get(), r, 8), 0u);
    uint8_t block[32] = {9};
    ASSERT_EQ(WriteMemoryBlock(c.get(), block, PublicAreaSize(c.get()) / 32 + 1), 0u) << "a private write works";

    // Other codes go back untouched, without an exchange.
    pd::ClearCommandLog(reader);
    EXPECT_EQ(RecoverFromError(c.get(), 23), 23u);
    EXPECT_EQ(RecoverFromError(c.get(), 24), 24u);
    EXPECT_TRUE(KeyCommands(reader).empty());
    ASSERT_EQ(LogoutDevice(c.get()), 0u);
    EXPECT_EQ(RecoverFromError(c.get(), 40), 40u) << "not logged in";
    EXPECT_EQ(RecoverFromError(c.get(), 21), 21u);
}

}  // namespace
}  // namespace devtest
