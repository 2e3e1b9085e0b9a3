// The device layer in several processes against emulated keys behind a real
// pcscd: shared sessions, the shared storage images, and a per-key mutex left
// by a killed process.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "E2EProcess.h"
#include "KeyCommandLog.h"
#include "KeyRig.h"
#include "device/DeviceProtocol.h"

namespace qvk::e2e {
namespace {

constexpr uint32_t kSerial = 100001;
constexpr char kPassword[] = "12345678";

class DeviceE2ETest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string prefix = "qvkdeve2e" + std::to_string(getpid()) + "_";
        setenv("WEMU_NAME_PREFIX", prefix.c_str(), 1);
    }
};

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
            const uint32_t r = LogoutDevice(c);
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
    // A wrong password is refused by the shared session alone.
    EXPECT_EQ(RunChild(
                  [&] {
                      DeviceContext* c = OpenDevice(kSerial);
                      if (c == nullptr) return 1;
                      const uint32_t r = AuthenticateDevice(c, "wrong");
                      CloseDevice(c);
                      return static_cast<int>(r);
                  },
                  CloseSharedMemory),
              23);
    auto commands = KeyCommands(rig);
    EXPECT_EQ(Count(commands, mark, KEYCMD_LOGIN_NEW) + Count(commands, mark, KEYCMD_LOGIN), 0);
    EXPECT_EQ(Count(commands, mark, KEYCMD_READ_MEMORY), 0) << "the shared image served the second open";
    EXPECT_EQ(Count(commands, mark, KEYCMD_LOGOUT), 0) << "the first process still uses the session";

    gate.Release();
    EXPECT_EQ(WaitChild(first), 0);
    commands = KeyCommands(rig);
    EXPECT_EQ(Count(commands, mark, KEYCMD_LOGOUT), 1) << "the last user logs the key out";
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

}  // namespace
}  // namespace qvk::e2e
