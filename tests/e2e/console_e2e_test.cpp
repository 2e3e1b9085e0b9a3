// The console as an administrator runs it, against emulated keys behind a real
// pcscd: the real qvk7qc, km.qvk7q.so and pkfmt.so from the distribution folder.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "../console/ConsoleRunner.h"
#include "KeyCommandLog.h"
#include "KeyRig.h"

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
int FailedTries(const KeyRig &rig, int key)
{
    std::smatch m;
    std::string dump = rig.Control("dump " + std::to_string(key));
    if (!std::regex_search(dump, m, std::regex("failed tries (\\d+)")))
        return -1;
    return std::stoi(m[1]);
}

bool Contains(const std::vector<qvk::e2e::LoggedCommand> &log, int cmd)
{
    return std::any_of(log.begin(), log.end(), [cmd](const auto &c) { return c.cmd == cmd; });
}

class ConsoleE2E : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // Named objects of this process's runs stay apart from other test programs.
        setenv("WEMU_NAME_PREFIX", ("qvkconsole" + std::to_string(getpid())).c_str(), 1);
    }
};

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
        EXPECT_EQ(Console({"enum"}).out,
                  kPrefix + "Attached quors -\n\t1: " + kTypeName + " 310001\n" + kPrefix + "Founded 1 attached quor(s)\n");

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
    for (const auto &c : cases) {
        auto run = Console(c.args);
        if (c.status == 255)
            EXPECT_EQ(run.out.rfind(kPrefix + "Bad command line parameters\n", 0), 0u) << c.args[0];
        else
            EXPECT_EQ(run.out, c.out) << c.args[0] << " " << c.args[1];
        EXPECT_EQ(run.status, c.status) << c.args[0];
    }
    for (const auto &c : KeyCommandLog(rig, 0))
        EXPECT_TRUE(c.cmd != 1 && c.cmd != 131 && c.cmd != 12 && c.cmd != 111) << "command " << c.cmd;
}

TEST_F(ConsoleE2E, DashAndSlashSelectFormat)
{
    KeyRig rig({RigKey(310031)});
    for (const char *word : {"-format", "/format"}) {
        auto run = Console({word, "310031", "fresh-pass"});
        EXPECT_EQ(run.out, kPrefix + "Quor format in progress...\n" + kPrefix + "Quor formatted successfully\n")
            << word;
        EXPECT_EQ(run.status, 0);
    }
    EXPECT_EQ(Console({"check", "310031", "fresh-pass"}).status, 0);
}

}  // namespace
