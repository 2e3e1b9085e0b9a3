// The device layer against emulated keys of every version behind a real
// pcscd: which login commands, block sizes, area sizes and clock commands
// each key sees, read from the key's own command log.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "E2EProcess.h"
#include "KeyCommandLog.h"
#include "KeyRig.h"
#include "device/DeviceProtocol.h"

namespace qvk::e2e {
namespace {

constexpr char kPassword[] = "12345678";

using Sized = std::pair<int, int>;  // command, block size

struct VersionCase {
    int version;
    uint32_t capability;
    int publicChunks;           // 32-byte chunks of the public area
    std::vector<Sized> logins;  // the login-related commands of one login and logout
};

const Sized kOldLogin{KEYCMD_LOGIN, 64}, kOldLogout{KEYCMD_LOGOUT, 64};
const Sized kNewLogin{KEYCMD_LOGIN_NEW, 76}, kNewLogout{KEYCMD_LOGOUT, 76};

const VersionCase kCases[] = {
    {7, 0, 32, {kOldLogin, kOldLogout}},
    {9, 0, 128, {kOldLogin, kOldLogout}},
    {11, 0, 128, {kOldLogin, kOldLogout}},
    {17, 0, 128, {kOldLogin, kOldLogout}},
    // The first login installs the new scheme: old login, password change in
    // the old form, logout, new login.
    {18, 0, 128, {kOldLogin, {KEYCMD_CHANGE_PASSWORD_NEW, 64}, kNewLogout, kNewLogin, kNewLogout}},
    {18, 0x200, 128, {kNewLogin, kNewLogout}},
};
constexpr int kCaseCount = static_cast<int>(sizeof(kCases) / sizeof(kCases[0]));

uint32_t SerialOf(int n)
{
    return 200000 + static_cast<uint32_t>(n);
}

// Two rounds of open, login, a private-area read and logout on key n.
int DriveKey(int n)
{
    for (int round = 0; round < 2; ++round) {
        DeviceContext* c = OpenDevice(SerialOf(n));
        if (c == nullptr) return 1;
        uint32_t r = AuthenticateDevice(c, kPassword);
        uint8_t out[32];
        if (r == 0) r = ReadMemoryBlock(c, out, PublicAreaSize(c) / 32);
        if (r == 0) r = LogoutDevice(c);
        CloseDevice(c);
        if (r != 0) {
            std::fprintf(stderr, "key %d round %d: %u\n", n, round, r);
            return 2;
        }
    }
    return 0;
}

std::vector<int> Range(int first, int count)
{
    std::vector<int> v;
    for (int i = first; i < first + count; ++i) v.push_back(i);
    return v;
}

TEST(DeviceVersionsE2ETest, EachVersionGetsItsLoginBlockSizeAndAreas)
{
    const std::string prefix = "qvkvers" + std::to_string(getpid()) + "_";
    setenv("WEMU_NAME_PREFIX", prefix.c_str(), 1);
    std::vector<RigKey> keys;
    for (int n = 0; n < kCaseCount; ++n) {
        keys.emplace_back(SerialOf(n), kCases[n].version, kPassword);
        keys.back().capability = kCases[n].capability;
    }
    KeyRig rig(keys);
    for (int n = 0; n < kCaseCount; ++n)
        ASSERT_EQ(RunChild([n] { return DriveKey(n); }, CloseSharedMemory), 0) << "key " << n;

    for (int n = 0; n < kCaseCount; ++n) {
        const VersionCase& v = kCases[n];
        SCOPED_TRACE("version " + std::to_string(v.version) + " capability " + std::to_string(v.capability));
        const int blockSize = v.version >= 18 ? 76 : 64;
        const std::vector<LoggedCommand> log = KeyCommandLog(rig, n);
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log[0].cmd, KEYCMD_GET_DEVICE_INFO);
        EXPECT_EQ(log[0].size, 64) << "the version is unknown until the key answers";

        std::vector<Sized> logins, expectedLogins = v.logins;
        std::vector<int> publicReads, privateReads;
        bool clock = false;
        for (const LoggedCommand& c : log) {
            EXPECT_EQ(c.status,
                      c.cmd >= KEYCMD_READ_SIGN_PUBLIC_KEY && c.cmd <= KEYCMD_READ_AGREE_KEY_PARAMS ? KEYERR_NO_KEY : 0)
                << "cmd=" << c.cmd;
            if (c.cmd == KEYCMD_LOGIN || c.cmd == KEYCMD_LOGIN_NEW || c.cmd == KEYCMD_LOGOUT ||
                c.cmd == KEYCMD_CHANGE_PASSWORD_NEW || c.cmd == KEYCMD_CHANGE_PASSWORD) {
                logins.emplace_back(c.cmd, c.size);
            } else if (c.cmd == KEYCMD_GET_DEVICE_INFO) {
                EXPECT_TRUE(c.size == 64 || c.size == blockSize);  // 64 while opening
            } else {
                EXPECT_EQ(c.size, blockSize) << "cmd=" << c.cmd;
            }
            if (c.cmd == KEYCMD_READ_MEMORY) (c.mode == KEYPROT_NONE ? publicReads : privateReads).push_back(c.par);
            clock = clock || c.cmd == KEYCMD_GET_CLOCK;
        }
        // The second round logs in with the scheme the first one left.
        const std::vector<Sized> again =
            v.capability == 0 && v.version >= 18 ? std::vector<Sized>{kNewLogin, kNewLogout} : v.logins;
        expectedLogins.insert(expectedLogins.end(), again.begin(), again.end());
        EXPECT_EQ(logins, expectedLogins);
        EXPECT_EQ(publicReads, Range(0, v.publicChunks)) << "read once, then served by the shared image";
        // The last logout wipes the private image, so each round reads it.
        std::vector<int> twice = Range(v.publicChunks, 96);
        twice.insert(twice.end(), twice.begin(), twice.end());
        EXPECT_EQ(privateReads, twice);
        EXPECT_EQ(clock, v.version > 8);
    }
}

}  // namespace
}  // namespace qvk::e2e
