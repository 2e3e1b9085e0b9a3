// The device layer in several processes against emulated keys behind a real
// pcscd: shared sessions, the shared storage images, and a per-key mutex left
// by a killed process.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "KeyRig.h"
#include "device/DeviceProtocol.h"

namespace qvk::e2e {
namespace {

constexpr uint32_t kSerial = 100001;
constexpr char kPassword[] = "12345678";

// Command codes key 0 has seen, from the rig's command log.
std::vector<int> KeyCommands(const KeyRig& rig)
{
    std::vector<int> out;
    std::ifstream in(rig.dir() + "/commands.log");
    std::string line;
    while (std::getline(in, line)) {
        const size_t at = line.find(" key0 cmd=");
        if (at != std::string::npos) out.push_back(std::atoi(line.c_str() + at + 10));
    }
    return out;
}

int Count(const std::vector<int>& commands, size_t from, int command)
{
    int n = 0;
    for (size_t i = from; i < commands.size(); ++i) n += commands[i] == command;
    return n;
}

// Runs body in a child process; its exit status (or 200 + signal).
pid_t Spawn(const std::function<int()>& body)
{
    const pid_t pid = fork();
    if (pid == 0) {
        const int code = body();
        CloseSharedMemory();
        _exit(code);
    }
    return pid;
}

int Wait(pid_t pid)
{
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return 255;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 200 + WTERMSIG(status);
}

int RunChild(const std::function<int()>& body)
{
    return Wait(Spawn(body));
}

class DeviceE2ETest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string prefix = "qvkdeve2e" + std::to_string(getpid()) + "_";
        setenv("WEMU_NAME_PREFIX", prefix.c_str(), 1);
    }
};

// A pipe to hold a child at a point until the parent lets it go on.
struct Gate {
    int ready[2];
    int go[2];
    Gate()
    {
        EXPECT_EQ(pipe(ready), 0);
        EXPECT_EQ(pipe(go), 0);
    }
    void SignalReady() { EXPECT_EQ(write(ready[1], "r", 1), 1); }
    bool WaitReady()
    {
        char c;
        return read(ready[0], &c, 1) == 1;
    }
    void Release() { EXPECT_EQ(write(go[1], "g", 1), 1); }
    void WaitRelease()
    {
        char c;
        EXPECT_EQ(read(go[0], &c, 1), 1);
    }
};

TEST_F(DeviceE2ETest, SecondProcessJoinsTheSessionAndTheLastLogoutLogsTheKeyOut)
{
    KeyRig rig({RigKey(kSerial, 18, kPassword)});
    Gate gate;
    const pid_t first = Spawn([&] {
        DeviceContext* c = OpenDevice(kSerial);
        if (c == nullptr) return 1;
        if (AuthenticateDevice(c, kPassword) != 0) return 2;
        gate.SignalReady();
        gate.WaitRelease();
        const uint32_t r = LogoutDevice(c);
        CloseDevice(c);
        return r == 0 ? 0 : 3;
    });
    ASSERT_TRUE(gate.WaitReady());
    const size_t mark = KeyCommands(rig).size();
    EXPECT_EQ(Count(KeyCommands(rig), 0, KEYCMD_READ_MEMORY), 128) << "the first open read the public area once";

    // The second process opens from the shared images and joins the session.
    EXPECT_EQ(RunChild([&] {
                  DeviceContext* c = OpenDevice(kSerial);
                  if (c == nullptr) return 1;
                  uint32_t r = AuthenticateDevice(c, kPassword);
                  uint8_t random[16];
                  if (r == 0) r = GetDeviceRandom(c, random, sizeof(random));
                  if (r == 0) r = LogoutDevice(c);
                  CloseDevice(c);
                  return static_cast<int>(r);
              }),
              0);
    // A wrong password is refused by the shared session alone.
    EXPECT_EQ(RunChild([&] {
                  DeviceContext* c = OpenDevice(kSerial);
                  if (c == nullptr) return 1;
                  const uint32_t r = AuthenticateDevice(c, "wrong");
                  CloseDevice(c);
                  return static_cast<int>(r);
              }),
              23);
    auto commands = KeyCommands(rig);
    EXPECT_EQ(Count(commands, mark, KEYCMD_LOGIN_NEW) + Count(commands, mark, KEYCMD_LOGIN), 0);
    EXPECT_EQ(Count(commands, mark, KEYCMD_READ_MEMORY), 0) << "the shared image served the second open";
    EXPECT_EQ(Count(commands, mark, KEYCMD_LOGOUT), 0) << "the first process still uses the session";

    gate.Release();
    EXPECT_EQ(Wait(first), 0);
    commands = KeyCommands(rig);
    EXPECT_EQ(Count(commands, mark, KEYCMD_LOGOUT), 1) << "the last user logs the key out";
}

TEST_F(DeviceE2ETest, KilledHolderOfThePerKeyMutexDoesNotBlockOthers)
{
    KeyRig rig({RigKey(kSerial, 18, kPassword)});
    Gate gate;
    const pid_t holder = Spawn([&] {
        DeviceContext* c = OpenDevice(kSerial);
        if (c == nullptr || LockDevice(c) != 0) return 1;
        gate.SignalReady();
        for (;;) pause();
    });
    ASSERT_TRUE(gate.WaitReady());
    ASSERT_EQ(kill(holder, SIGKILL), 0);
    EXPECT_EQ(Wait(holder), 200 + SIGKILL);
    const time_t start = time(nullptr);
    EXPECT_EQ(RunChild([&] {
                  DeviceContext* c = OpenDevice(kSerial);
                  if (c == nullptr) return 1;
                  const uint32_t r = AuthenticateDevice(c, kPassword);
                  if (r == 0) LogoutDevice(c);
                  CloseDevice(c);
                  return static_cast<int>(r);
              }),
              0);
    EXPECT_LT(time(nullptr) - start, 10) << "taken over as abandoned, not after the 15 s wait";
}

TEST_F(DeviceE2ETest, FormatLeavesErasedImagesForEveryProcess)
{
    KeyRig rig({RigKey(kSerial, 18, kPassword)});
    Gate gate;
    const pid_t keeper = Spawn([&] {  // keeps the shared memories alive between the steps
        DeviceContext* c = OpenDevice(kSerial);
        if (c == nullptr) return 1;
        uint8_t data[32];
        std::memset(data, 0x33, sizeof(data));
        if (AuthenticateDevice(c, kPassword) != 0 || WriteMemoryBlock(c, data, 5) != 0) return 2;
        gate.SignalReady();
        gate.WaitRelease();
        CloseDevice(c);
        return 0;
    });
    ASSERT_TRUE(gate.WaitReady());
    EXPECT_EQ(RunChild([&] {
                  DeviceContext* c = OpenDevice(kSerial);
                  if (c == nullptr) return 1;
                  const uint32_t r = FormatDevice(c, "fresh");
                  CloseDevice(c);
                  return static_cast<int>(r);
              }),
              0);
    const size_t mark = KeyCommands(rig).size();
    EXPECT_EQ(RunChild([&] {
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
              }),
              0);
    EXPECT_EQ(Count(KeyCommands(rig), mark, KEYCMD_READ_MEMORY), 0);
    EXPECT_EQ(Count(KeyCommands(rig), mark, KEYCMD_LOGIN_NEW), 1) << "a fresh login after the format";
    gate.Release();
    EXPECT_EQ(Wait(keeper), 0);
}

}  // namespace
}  // namespace qvk::e2e
