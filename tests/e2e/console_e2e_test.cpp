// The console as an administrator runs it, against emulated keys behind a real
// pcscd: the real qvk7qc, km.qvk7q.so and pkfmt.so from the distribution folder.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "../console/ConsoleRunner.h"
#include "E2EProcess.h"
#include "KeyCommandLog.h"
#include "KeyRig.h"
#include "keymedia/KMDevice.h"

namespace {

using consoletest::kPrefix;
using consoletest::kTypeName;
using qvk::e2e::KeyCommandLog;
using qvk::e2e::KeyRig;
using qvk::e2e::RigKey;

consoletest::ConsoleRun Console(std::vector<std::string> args)
{
    return consoletest::RunConsole(QVK7QC_PATH, QVK_DIST_DIR, std::move(args));
}

// The key's failed-try count, as the emulator reports it.
int FailedTries(const KeyRig& rig, int key)
{
    std::smatch m;
    std::string dump = rig.Control("dump " + std::to_string(key));
    if (!std::regex_search(dump, m, std::regex("failed tries (\\d+)"))) return -1;
    return std::stoi(m[1]);
}

bool Contains(const std::vector<qvk::e2e::LoggedCommand>& log, int cmd)
{
    return std::any_of(log.begin(), log.end(), [cmd](const auto& c) { return c.cmd == cmd; });
}

class ConsoleE2E : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // Named objects of this process's runs stay apart from other test programs.
        setenv("WEMU_NAME_PREFIX", ("qvkconsole" + std::to_string(getpid())).c_str(), 1);
    }
};

// A key that does not answer the scan (busy, or cutting its answers short)
// in the first reader hides neither the healthy key behind it nor its
// password check.
TEST_F(ConsoleE2E, AKeyThatDoesNotAnswerHidesNoOther)
{
    KeyRig rig({RigKey(330001), RigKey(330002)});
    const std::string listed =
        kPrefix + "Attached quors -\n\t1: " + kTypeName + " 330002\n" + kPrefix + "Founded 1 attached quor(s)\n";
    rig.Control("busy 0 on");
    auto enumBusy = Console({"enum"});
    EXPECT_EQ(enumBusy.out, listed) << "busy";
    EXPECT_EQ(enumBusy.status, 0);
    rig.Control("busy 0 off");
    rig.Control("short-answer 0 on");
    EXPECT_EQ(Console({"enum"}).out, listed) << "short answers";
    auto check = Console({"check", "330002", "12345678"});
    EXPECT_EQ(check.out, kPrefix + "Quor checked successfully\n");
    EXPECT_EQ(check.status, 0);
}

TEST_F(ConsoleE2E, EnumListsNoneOneAndTwoKeys)
{
    {
        KeyRig rig({RigKey(310001), RigKey(310002, 9, "oldkey")});
        auto two = Console({"enum"});
        EXPECT_EQ(two.out, kPrefix + "Attached quors -\n\t1: " + kTypeName + " 310001\n\t2: " + kTypeName +
                               " 310002\n" + kPrefix + "Founded 2 attached quor(s)\n");
        EXPECT_EQ(two.status, 0);

        rig.Control("unplug 1");
        ASSERT_TRUE(rig.WaitCard(1, false));
        EXPECT_EQ(Console({"enum"}).out, kPrefix + "Attached quors -\n\t1: " + kTypeName + " 310001\n" + kPrefix +
                                             "Founded 1 attached quor(s)\n");

        rig.Control("unplug 0");
        ASSERT_TRUE(rig.WaitCard(0, false));
        auto none = Console({"enum"});
        EXPECT_EQ(none.out, kPrefix + "No quors attached or error occurred while enum attached quors\n");
        EXPECT_EQ(none.status, 0);
    }
}

TEST_F(ConsoleE2E, FormatCheckAndChangePasswordOnTheKey)
{
    KeyRig rig({RigKey(310011)});

    auto format = Console({"format", "310011", "first-pass"});
    EXPECT_EQ(format.out, kPrefix + "Quor format in progress...\n" + kPrefix + "Quor formatted successfully\n");
    EXPECT_EQ(format.status, 0);

    auto check = Console({"check", "310011", "first-pass"});
    EXPECT_EQ(check.out, kPrefix + "Quor checked successfully\n");
    EXPECT_EQ(check.status, 0);
    auto log = KeyCommandLog(rig, 0);
    EXPECT_TRUE(Contains(log, 131) || Contains(log, 1)) << "a login reached the key";
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().cmd, 20) << "the key was logged out at the end";

    int before = FailedTries(rig, 0);
    auto bad = Console({"check", "310011", "not-the-pass"});
    EXPECT_EQ(bad.out, kPrefix + "Error while check quor\n");
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(FailedTries(rig, 0), before + 1);

    auto change = Console({"changepassword", "310011", "first-pass", "second-pass"});
    EXPECT_EQ(change.out, kPrefix + "Quor password changed successfully\n");
    EXPECT_EQ(change.status, 0);
    EXPECT_EQ(Console({"check", "310011", "second-pass"}).status, 0);
    auto old = Console({"check", "310011", "first-pass"});
    EXPECT_EQ(old.out, kPrefix + "Error while check quor\n");
    EXPECT_EQ(old.status, 1);
}

TEST_F(ConsoleE2E, AnEmptyFirstOrSecondReaderHidesNoKey)
{
    KeyRig rig({RigKey(310021, 18, "first"), RigKey(310022, 18, "second")});
    rig.Control("unplug 0");
    ASSERT_TRUE(rig.WaitCard(0, false));
    EXPECT_EQ(Console({"enum"}).out,
              kPrefix + "Attached quors -\n\t1: " + kTypeName + " 310022\n" + kPrefix + "Founded 1 attached quor(s)\n");
    EXPECT_EQ(Console({"check", "310022", "second"}).out, kPrefix + "Quor checked successfully\n");
    EXPECT_EQ(Console({"check", "310021", "first"}).out, kPrefix + "Quor is not attached (SN - 310021)\n");

    rig.Control("replug 0");
    ASSERT_TRUE(rig.WaitCard(0, true));
    rig.Control("unplug 1");
    ASSERT_TRUE(rig.WaitCard(1, false));
    EXPECT_EQ(Console({"enum"}).out,
              kPrefix + "Attached quors -\n\t1: " + kTypeName + " 310021\n" + kPrefix + "Founded 1 attached quor(s)\n");
    EXPECT_EQ(Console({"check", "310021", "first"}).out, kPrefix + "Quor checked successfully\n");
    EXPECT_EQ(Console({"check", "310022", "second"}).out, kPrefix + "Quor is not attached (SN - 310022)\n");
}

// A program that holds the key open through the key-media library and works
// on it whenever the test asks: each request byte answers with one result byte.
class KeyHolder {
public:
    KeyHolder(uint32_t serial, const char* password)
    {
        pid_ = qvk::e2e::SpawnChild([this, serial, password] {
            close(channel_.up[0]);
            close(channel_.down[1]);
            return Run(serial, password);
        });
        // Only the child writes answers and reads requests: a child that dies
        // ends the test's wait instead of leaving it blocked.
        close(channel_.up[1]);
        close(channel_.down[0]);
    }
    ~KeyHolder()
    {
        if (pid_ > 0) Finish();
    }
    // 'o' opened, 'w' write and read back a record, 'c' close; the result
    // byte: 0 ok, else the failing key-media code (truncated to a byte).
    int Ask(char request)
    {
        if (write(channel_.down[1], &request, 1) != 1) return -1;
        uint8_t answer = 0xEE;
        return channel_.Receive(&answer, 1) ? answer : -1;
    }
    int Finish()
    {
        Ask('q');
        close(channel_.down[1]);
        close(channel_.up[0]);
        const int status = qvk::e2e::WaitChild(pid_);
        pid_ = -1;
        return status;
    }

private:
    int Run(uint32_t serial, const char* password)
    {
        if (chdir(QVK_DIST_DIR) != 0) return 10;
        void* km = dlopen((std::string(QVK_DIST_DIR) + "/km.qvk7q.so").c_str(), RTLD_NOW | RTLD_LOCAL);
        if (km == nullptr) return 11;
        auto getInterface = reinterpret_cast<KMGetInterfaceFunction>(dlsym(km, "KMGetInterface"));
        IKMQuorKorvo7Q* d = getInterface != nullptr ? getInterface(kTypeName.c_str()) : nullptr;
        if (d == nullptr) return 12;
        std::string s = std::to_string(serial), p = password;
        for (;;) {
            char request = 0;
            if (read(channel_.down[0], &request, 1) != 1) break;
            int result = 0;
            if (request == 'o') {
                result = d->Open(s.data(), p.data(), 0);
            } else if (request == 'w') {
                uint8_t data[48], back[48] = {};
                for (size_t i = 0; i < sizeof(data); ++i) data[i] = static_cast<uint8_t>(i * 7 + request);
                unsigned length = sizeof(back);
                result = d->WriteRecord(nullptr, 4, data, sizeof(data));
                if (result == KM_OK) result = d->ReadRecord(nullptr, 4, back, &length);
                if (result == KM_OK && (length != sizeof(data) || std::memcmp(data, back, length) != 0)) result = 99;
            } else if (request == 'c') {
                result = d->Close(nullptr);
            } else {
                break;
            }
            const uint8_t answer = static_cast<uint8_t>(result);
            channel_.Send(&answer, 1);
        }
        d->Release();
        return 0;
    }
    qvk::e2e::Channel channel_;
    pid_t pid_ = -1;
};

TEST_F(ConsoleE2E, ChangePasswordAndFormatWhileAnotherProgramHoldsTheKey)
{
    KeyRig rig({RigKey(310031, 18, "old-pass")});
    KeyHolder holder(310031, "old-pass");
    ASSERT_EQ(holder.Ask('o'), KM_OK);
    ASSERT_EQ(holder.Ask('w'), KM_OK);

    // A password change keeps the holder's session. When the key loses it,
    // the holder's outdated password is never sent (shared memory carries no
    // password to learn the new one from): its work fails cleanly, no try is
    // spent, and a program opened with the new password works.
    EXPECT_EQ(Console({"changepassword", "310031", "old-pass", "new-pass"}).out,
              kPrefix + "Quor password changed successfully\n");
    EXPECT_EQ(holder.Ask('w'), KM_OK);
    rig.Control("reset 0");
    EXPECT_NE(holder.Ask('w'), KM_OK);
    EXPECT_EQ(FailedTries(rig, 0), 0);
    KeyHolder renewed(310031, "new-pass");
    ASSERT_EQ(renewed.Ask('o'), KM_OK);
    EXPECT_EQ(Console({"check", "310031", "new-pass"}).out, kPrefix + "Quor checked successfully\n");
    EXPECT_EQ(renewed.Ask('w'), KM_OK) << "the check's close left the holder's session alone";
    EXPECT_EQ(renewed.Ask('c'), KM_OK);
    EXPECT_EQ(renewed.Finish(), 0);

    // A format ends the holder's session for good: its work fails cleanly,
    // its close logs nobody out and spends no try.
    EXPECT_EQ(Console({"format", "310031", "formatted"}).out,
              kPrefix + "Quor format in progress...\n" + kPrefix + "Quor formatted successfully\n");
    KeyHolder other(310031, "formatted");
    ASSERT_EQ(other.Ask('o'), KM_OK);
    EXPECT_NE(holder.Ask('w'), KM_OK);
    const size_t mark = KeyCommandLog(rig, 0).size();
    EXPECT_EQ(holder.Ask('c'), KM_OK);
    auto log = KeyCommandLog(rig, 0);
    for (size_t i = mark; i < log.size(); ++i) {
        EXPECT_NE(log[i].cmd, 20) << "the holder's close logged the key out";
        EXPECT_NE(log[i].cmd, 131) << "the holder logged in with an outdated password";
    }
    EXPECT_EQ(other.Ask('w'), KM_OK) << "the other program's session survives";
    EXPECT_EQ(FailedTries(rig, 0), 0);
    EXPECT_EQ(other.Ask('c'), KM_OK);
    EXPECT_EQ(holder.Finish(), 0);
    EXPECT_EQ(other.Finish(), 0);
}

TEST_F(ConsoleE2E, RefusalsNeverReachTheKey)
{
    KeyRig rig({RigKey(310021)});
    const std::string tooLong(32, 'x');
    struct Case {
        std::vector<std::string> args;
        std::string out;
        int status;
    };
    const std::vector<Case> cases = {
        {{"check", "310029", "12345678"}, kPrefix + "Quor is not attached (SN - 310029)\n", 1},
        {{"check", "31002", "12345678"}, kPrefix + "Wrong quor SN format (000000..999999)\n", 1},
        {{"check", "31002x", "12345678"}, kPrefix + "Wrong quor SN format (must be 000000..999999)\n", 1},
        {{"format", "310021", tooLong}, kPrefix + "Quor password too long (must be 1..31 symbols)\n", 1},
        {{"--format", "310021", "12345678"}, "", 255},
        {{"Format", "310021", "12345678"}, "", 255},
        {{"help", "x"}, "", 255},
    };
    for (const auto& c : cases) {
        auto run = Console(c.args);
        if (c.status == 255)
            EXPECT_EQ(run.out.rfind(kPrefix + "Bad command line parameters\n", 0), 0u) << c.args[0];
        else
            EXPECT_EQ(run.out, c.out) << c.args[0] << " " << c.args[1];
        EXPECT_EQ(run.status, c.status) << c.args[0];
    }
    for (const auto& c : KeyCommandLog(rig, 0))
        EXPECT_TRUE(c.cmd != 1 && c.cmd != 131 && c.cmd != 12 && c.cmd != 111) << "command " << c.cmd;
}

TEST_F(ConsoleE2E, DashAndSlashSelectFormat)
{
    KeyRig rig({RigKey(310031)});
    for (const char* word : {"-format", "/format"}) {
        auto run = Console({word, "310031", "fresh-pass"});
        EXPECT_EQ(run.out, kPrefix + "Quor format in progress...\n" + kPrefix + "Quor formatted successfully\n")
            << word;
        EXPECT_EQ(run.status, 0);
    }
    EXPECT_EQ(Console({"check", "310031", "fresh-pass"}).status, 0);
}

}  // namespace
