// The device layer in several processes against emulated keys behind a real
// pcscd: shared sessions, the shared storage images, and a per-key mutex left
// by a killed process.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "E2EProcess.h"
#include "KeyCommandLog.h"
#include "KeyRig.h"
#include "device/DeviceProtocol.h"
#include "device/DeviceSharedRecords.h"

namespace qvk::e2e {
namespace {

constexpr uint32_t kSerial = 100001;
constexpr char kPassword[] = "12345678";

class DeviceE2ETest : public ::testing::Test {
protected:
    void SetUp() override { setenv("WEMU_NAME_PREFIX", Prefix().c_str(), 1); }
    static std::string Prefix() { return "qvkdeve2e" + std::to_string(getpid()) + "_"; }

    // The key's device-cache record as a reader of the memory's file sees it.
    static DeviceCacheRecord FileRecord()
    {
        const std::string path =
            "/dev/shm/wemu+" + std::to_string(geteuid()) + "+s+" + Prefix() + "+Global%5CQuorKorvo7QMemory";
        DeviceCacheRecord record{};
        FILE* f = std::fopen(path.c_str(), "rb");
        if (f == nullptr) return record;
        while (std::fread(&record, sizeof(record), 1, f) == 1 && record.serial != kSerial) {}
        std::fclose(f);
        return record;
    }
    static bool Zero(const uint8_t* p, size_t n)
    {
        for (size_t i = 0; i < n; ++i)
            if (p[i] != 0) return false;
        return true;
    }
};

// A command that needs the key's session, with the one recovery callers make.
uint32_t RandomWithRecovery(DeviceContext* c)
{
    uint8_t random[16];
    uint32_t r = GetDeviceRandom(c, random, sizeof(random));
    if (r != 0) {
        const uint32_t recovered = RecoverFromError(c, r);
        r = recovered == 0 ? GetDeviceRandom(c, random, sizeof(random)) : recovered;
    }
    return r;
}

uint32_t FailedTries(DeviceContext* c)
{
    DeviceInfo info{};
    return QueryDeviceInfo(c, &info) == 0 ? FailedPasswordTries(info) : 99;
}

TEST_F(DeviceE2ETest, SecondProcessJoinsTheSessionAndTheLastLogoutLogsTheKeyOut)
{
    KeyRig rig({RigKey(kSerial, 18, kPassword)});
    Gate gate;
    const pid_t first = SpawnChild(
        [&] {
            DeviceContext* c = OpenDevice(kSerial);
            if (c == nullptr) return 1;
            if (AuthenticateDevice(c, kPassword) != 0) return 2;
            gate.SignalReady();
            gate.WaitRelease();
            // A wrong password tried meanwhile ended the session: it comes back.
            uint8_t random[16];
            uint32_t r = GetDeviceRandom(c, random, sizeof(random));
            if (r != 0 && RecoverFromError(c, r) == 0) r = GetDeviceRandom(c, random, sizeof(random));
            if (r == 0) r = LogoutDevice(c);
            CloseDevice(c);
            return r == 0 ? 0 : 3;
        },
        CloseSharedMemory);
    ASSERT_TRUE(gate.WaitReady());
    const size_t mark = KeyCommands(rig).size();
    EXPECT_EQ(Count(KeyCommands(rig), 0, KEYCMD_READ_MEMORY), 128) << "the first open read the public area once";

    // The second process opens from the shared images and joins the session.
    EXPECT_EQ(RunChild(
                  [&] {
                      DeviceContext* c = OpenDevice(kSerial);
                      if (c == nullptr) return 1;
                      uint32_t r = AuthenticateDevice(c, kPassword);
                      uint8_t random[16];
                      if (r == 0) r = GetDeviceRandom(c, random, sizeof(random));
                      if (r == 0) r = LogoutDevice(c);
                      CloseDevice(c);
                      return static_cast<int>(r);
                  },
                  CloseSharedMemory),
              0);
    auto commands = KeyCommands(rig);
    EXPECT_EQ(Count(commands, mark, KEYCMD_LOGIN_NEW) + Count(commands, mark, KEYCMD_LOGIN), 0);
    EXPECT_EQ(Count(commands, mark, KEYCMD_READ_MEMORY), 0) << "the shared image served the second open";
    EXPECT_EQ(Count(commands, mark, KEYCMD_LOGOUT), 0) << "the first process still uses the session";

    // A wrong password is refused by the key, at the cost of one try.
    EXPECT_EQ(RunChild(
                  [&] {
                      DeviceContext* c = OpenDevice(kSerial);
                      if (c == nullptr) return 1;
                      const uint32_t r = AuthenticateDevice(c, "wrong");
                      DeviceInfo info{};
                      const uint32_t q = QueryDeviceInfo(c, &info);
                      CloseDevice(c);
                      return r != 23 || q != 0 ? 2 : static_cast<int>(FailedPasswordTries(info));
                  },
                  CloseSharedMemory),
              1);

    const size_t released = KeyCommands(rig).size();
    gate.Release();
    EXPECT_EQ(WaitChild(first), 0);
    commands = KeyCommands(rig);
    EXPECT_EQ(Count(commands, released, KEYCMD_LOGOUT), 1) << "the last user logs the key out";
}

TEST_F(DeviceE2ETest, KilledHolderOfThePerKeyMutexDoesNotBlockOthers)
{
    KeyRig rig({RigKey(kSerial, 18, kPassword)});
    Gate gate;
    const pid_t holder = SpawnChild(
        [&] {
            DeviceContext* c = OpenDevice(kSerial);
            if (c == nullptr || LockDevice(c) != 0) return 1;
            gate.SignalReady();
            for (;;) pause();
        },
        CloseSharedMemory);
    ASSERT_TRUE(gate.WaitReady());
    ASSERT_EQ(kill(holder, SIGKILL), 0);
    EXPECT_EQ(WaitChild(holder), 200 + SIGKILL);
    const time_t start = time(nullptr);
    EXPECT_EQ(RunChild(
                  [&] {
                      DeviceContext* c = OpenDevice(kSerial);
                      if (c == nullptr) return 1;
                      const uint32_t r = AuthenticateDevice(c, kPassword);
                      if (r == 0) LogoutDevice(c);
                      CloseDevice(c);
                      return static_cast<int>(r);
                  },
                  CloseSharedMemory),
              0);
    EXPECT_LT(time(nullptr) - start, 10) << "taken over as abandoned, not after the 15 s wait";
}

TEST_F(DeviceE2ETest, FormatLeavesErasedImagesForEveryProcess)
{
    KeyRig rig({RigKey(kSerial, 18, kPassword)});
    Gate gate;
    const pid_t keeper = SpawnChild(
        [&] {  // keeps the shared memories alive between the steps
            DeviceContext* c = OpenDevice(kSerial);
            if (c == nullptr) return 1;
            uint8_t data[32];
            std::memset(data, 0x33, sizeof(data));
            if (AuthenticateDevice(c, kPassword) != 0 || WriteMemoryBlock(c, data, 5) != 0) return 2;
            gate.SignalReady();
            gate.WaitRelease();
            CloseDevice(c);
            return 0;
        },
        CloseSharedMemory);
    ASSERT_TRUE(gate.WaitReady());
    EXPECT_EQ(RunChild(
                  [&] {
                      DeviceContext* c = OpenDevice(kSerial);
                      if (c == nullptr) return 1;
                      const uint32_t r = FormatDevice(c, "fresh");
                      CloseDevice(c);
                      return static_cast<int>(r);
                  },
                  CloseSharedMemory),
              0);
    const size_t mark = KeyCommands(rig).size();
    EXPECT_EQ(RunChild(
                  [&] {
                      DeviceContext* c = OpenDevice(kSerial);
                      if (c == nullptr) return 1;
                      uint8_t out[32];
                      int r = static_cast<int>(ReadMemoryBlock(c, out, 5));
                      for (uint8_t b : out)
                          if (r == 0 && b != 0xFF) r = 50;
                      if (r == 0) r = static_cast<int>(AuthenticateDevice(c, "fresh"));
                      if (r == 0) LogoutDevice(c);
                      CloseDevice(c);
                      return r;
                  },
                  CloseSharedMemory),
              0);
    EXPECT_EQ(Count(KeyCommands(rig), mark, KEYCMD_READ_MEMORY), 0);
    EXPECT_EQ(Count(KeyCommands(rig), mark, KEYCMD_LOGIN_NEW), 1) << "a fresh login after the format";
    gate.Release();
    EXPECT_EQ(WaitChild(keeper), 0);
}

// A process killed while it is the last one logged in leaves a session in
// shared memory that another process keeps mapped; the next open gives the
// dead one's share back and wipes it, and the next login is a fresh one.
TEST_F(DeviceE2ETest, SessionOfAKilledLastHolderIsWipedAtTheNextOpen)
{
    KeyRig rig({RigKey(kSerial, 18, kPassword)});
    Gate keeperGate, holderGate;
    const pid_t keeper = SpawnChild(
        [&] {  // keeps the shared memories mapped, never logs in
            DeviceContext* c = OpenDevice(kSerial);
            if (c == nullptr) return 1;
            keeperGate.SignalReady();
            keeperGate.WaitRelease();
            CloseDevice(c);
            return 0;
        },
        CloseSharedMemory);
    ASSERT_TRUE(keeperGate.WaitReady());
    const pid_t holder = SpawnChild([&] {
        DeviceContext* c = OpenDevice(kSerial);
        if (c == nullptr || AuthenticateDevice(c, kPassword) != 0) return 1;
        holderGate.SignalReady();
        for (;;) pause();
    });
    ASSERT_TRUE(holderGate.WaitReady());
    ASSERT_EQ(kill(holder, SIGKILL), 0);
    EXPECT_EQ(WaitChild(holder), 200 + SIGKILL);
    DeviceCacheRecord left = FileRecord();
    ASSERT_EQ(left.serial, kSerial);
    EXPECT_EQ(left.sessionUsers, 1);
    EXPECT_TRUE(Zero(left.privateImage, sizeof(left.privateImage)));

    EXPECT_EQ(RunChild(
                  [&] {
                      DeviceContext* c = OpenDevice(kSerial);
                      if (c == nullptr) return 1;
                      CloseDevice(c);
                      return 0;
                  },
                  CloseSharedMemory),
              0);
    left = FileRecord();
    EXPECT_EQ(left.sessionUsers, 0);
    EXPECT_TRUE(Zero(left.encryptedSessionKey, 32));
    EXPECT_TRUE(Zero(left.sessionSalt, 32));

    const size_t mark = KeyCommands(rig).size();
    EXPECT_EQ(RunChild(
                  [&] {
                      DeviceContext* c = OpenDevice(kSerial);
                      if (c == nullptr) return 1;
                      uint32_t r = AuthenticateDevice(c, kPassword);
                      if (r == 0) r = RandomWithRecovery(c);
                      if (r == 0) r = LogoutDevice(c);
                      CloseDevice(c);
                      return static_cast<int>(r);
                  },
                  CloseSharedMemory),
              0);
    // The key still has the dead one's session: ended, then a login of its own.
    EXPECT_EQ(Count(KeyCommands(rig), mark, KEYCMD_LOGIN_NEW), 2) << "no dead session joined";
    keeperGate.Release();
    EXPECT_EQ(WaitChild(keeper), 0);
}

// Another program, with a session cache of its own, changes the key's
// password. A process still holding the old one spends at most one try on it
// however often it is driven into recovery, and is told its password is wrong.
TEST_F(DeviceE2ETest, ARecoveryNeverRetriesAPasswordTheKeyRefused)
{
    KeyRig rig({RigKey(kSerial, 18, kPassword)});
    Gate gate;
    const pid_t first = SpawnChild(
        [&] {
            setenv("WEMU_NAME_PREFIX", (Prefix() + "x").c_str(), 1);
            DeviceContext* c = OpenDevice(kSerial);
            if (c == nullptr || AuthenticateDevice(c, kPassword) != 0) return 20;
            gate.SignalReady();
            gate.WaitRelease();
            const uint32_t told = RandomWithRecovery(c);
            for (int i = 0; i < 3; ++i) RandomWithRecovery(c);
            const uint32_t tries = FailedTries(c);
            CloseDevice(c);
            return (told == KEYERR_WRONG_PASSWORD ? 0 : 10) + static_cast<int>(tries);
        },
        CloseSharedMemory);
    ASSERT_TRUE(gate.WaitReady());
    EXPECT_EQ(RunChild(
                  [&] {
                      setenv("WEMU_NAME_PREFIX", (Prefix() + "y").c_str(), 1);
                      DeviceContext* c = OpenDevice(kSerial);
                      if (c == nullptr) return 1;
                      uint32_t r = AuthenticateDevice(c, kPassword);
                      if (r == 0) r = ChangeDevicePassword(c, "87654321");
                      if (r == 0) r = LogoutDevice(c);
                      CloseDevice(c);
                      return static_cast<int>(r);
                  },
                  CloseSharedMemory),
              0);
    gate.Release();
    const int result = WaitChild(first);
    EXPECT_LT(result, 10) << "told the password is wrong";
    EXPECT_LE(result % 10, 1) << "failed tries";
}

// Two programs with session caches of their own take the key's one session
// from each other in turn: each gets it back with its own password, once per
// command, and no try is spent.
TEST_F(DeviceE2ETest, TwoSessionCachesTakeTheKeyInTurns)
{
    KeyRig rig({RigKey(kSerial, 18, kPassword)});
    Gate gates[2];
    pid_t children[2];
    for (int i = 0; i < 2; ++i) {
        children[i] = SpawnChild(
            [&, i] {
                setenv("WEMU_NAME_PREFIX", (Prefix() + (i == 0 ? "x" : "y")).c_str(), 1);
                DeviceContext* c = OpenDevice(kSerial);
                if (c == nullptr || AuthenticateDevice(c, kPassword) != 0) return 1;
                gates[i].SignalReady();
                for (int round = 0; round < 3; ++round) {
                    gates[i].WaitRelease();
                    const uint8_t r = static_cast<uint8_t>(RandomWithRecovery(c));
                    if (write(gates[i].ready[1], &r, 1) != 1) return 2;
                }
                gates[i].WaitRelease();
                const uint32_t tries = FailedTries(c);
                const uint32_t r = LogoutDevice(c);
                CloseDevice(c);
                return r == 0 && tries == 0 ? 0 : 3;
            },
            CloseSharedMemory);
        ASSERT_TRUE(gates[i].WaitReady());
    }
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 2; ++i) {
            gates[i].Release();
            uint8_t result = 0xFF;
            ASSERT_EQ(read(gates[i].ready[0], &result, 1), 1);
            EXPECT_EQ(result, 0) << "round " << round << ", program " << i;
        }
    }
    for (int i = 0; i < 2; ++i) {
        gates[i].Release();
        EXPECT_EQ(WaitChild(children[i]), 0);
    }
}

}  // namespace
}  // namespace qvk::e2e
