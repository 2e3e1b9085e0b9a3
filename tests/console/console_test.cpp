// The console as a user runs it: a fresh process per command, standard output
// compared byte for byte, and the exit status.
#include <gtest/gtest.h>

#include "ConsoleRunner.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::string kP = consoletest::kPrefix;
const std::string kType = consoletest::kTypeName;
const std::string kUsage = "Quor Korvo-7Q Configuration: Command line parameters next\n"
                           "\tEnum attached quors  : enum\n"
                           "\tFormat quor          : format <SN> <Password>\n"
                           "\tChange quor password : changepassword <SN> <OldPassword> <NewPassword>\n"
                           "\tCheck quor           : check <SN> <Password>\n"
                           "Quor SN format - 000000..999999\n"
                           "Quor password length - 1..31 symbols\n";
const std::string kBad = kP + "Bad command line parameters\n" + kUsage;

using consoletest::RunConsole;
using RunResult = consoletest::ConsoleRun;

class ConsoleTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/qvk7qc-test-XXXXXX";
        dir_ = mkdtemp(pattern);
        state_ = dir_ + "/keys";
        log_ = dir_ + "/calls";
        SetKeys("000001 first\n000002 second\n");
    }
    void TearDown() override { std::system(("rm -rf " + dir_).c_str()); }

    void SetKeys(const std::string& text) { std::ofstream(state_, std::ios::trunc) << text; }
    std::string Keys() const { return Slurp(state_); }
    std::string Calls() const { return Slurp(log_); }
    static std::string Slurp(const std::string& path)
    {
        std::ifstream in(path);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    RunResult Console(std::vector<std::string> args, const std::string& variant = "full")
    {
        return RunConsole(QVK7QC_PATH, std::string(FAKEKM_ROOT) + "/" + variant, std::move(args),
                          {{"FAKEKM_STATE", state_}, {"FAKEKM_LOG", log_}});
    }

    std::string dir_, state_, log_;
};

TEST_F(ConsoleTest, EnumListsEveryKeyOrSaysThereIsNone)
{
    RunResult two = Console({"enum"});
    EXPECT_EQ(two.out, kP + "Attached quors -\n\t1: " + kType + " 000001\n\t2: " + kType + " 000002\n" + kP +
                           "Founded 2 attached quor(s)\n");
    EXPECT_EQ(two.status, 0);

    SetKeys("000007 pw\n");
    EXPECT_EQ(Console({"enum"}).out,
              kP + "Attached quors -\n\t1: " + kType + " 000007\n" + kP + "Founded 1 attached quor(s)\n");

    SetKeys("");
    RunResult none = Console({"enum"});
    EXPECT_EQ(none.out, kP + "No quors attached or error occurred while enum attached quors\n");
    EXPECT_EQ(none.status, 0);
}

TEST_F(ConsoleTest, FormatCheckAndChangePassword)
{
    RunResult format = Console({"format", "000001", "fresh"});
    EXPECT_EQ(format.out, kP + "Quor format in progress...\n" + kP + "Quor formatted successfully\n");
    EXPECT_EQ(format.status, 0);
    EXPECT_EQ(Keys(), "000001 fresh\n000002 second\n");

    RunResult check = Console({"check", "000001", "fresh"});
    EXPECT_EQ(check.out, kP + "Quor checked successfully\n");
    EXPECT_EQ(check.status, 0);

    RunResult bad = Console({"check", "000001", "wrong"});
    EXPECT_EQ(bad.out, kP + "Error while check quor\n");
    EXPECT_EQ(bad.status, 1);

    RunResult change = Console({"changepassword", "000001", "fresh", "newer"});
    EXPECT_EQ(change.out, kP + "Quor password changed successfully\n");
    EXPECT_EQ(change.status, 0);
    EXPECT_EQ(Console({"check", "000001", "newer"}).status, 0);
    EXPECT_EQ(Console({"check", "000001", "fresh"}).status, 1);

    RunResult changeBad = Console({"changepassword", "000001", "fresh", "other"});
    EXPECT_EQ(changeBad.out, kP + "Error while change quor password\n");
    EXPECT_EQ(changeBad.status, 1);
}

TEST_F(ConsoleTest, EveryKeyOpenedIsClosedAndTheLibraryFinalized)
{
    Console({"check", "000002", "second"});
    EXPECT_EQ(Calls(), "open 000002 second 0\nclose 000002\nfinalize\n");
}

struct Refusal {
    std::vector<std::string> args;
    std::string out;
    int status;
};

TEST_F(ConsoleTest, RefusedArgumentsAndCommandWords)
{
    const std::string pw31(31, 'p'), pw32(32, 'p'), pw256(256, 'p'), pw257(257, 'p');
    const std::vector<Refusal> cases = {
        {{"help"}, kUsage, 0},
        {{"-help"}, kUsage, 0},
        {{"help", "x"}, kBad, 255},
        {{}, kBad, 255},
        {{"list"}, kBad, 255},
        {{"--format", "000001", "pw"}, kBad, 255},
        {{"Format", "000001", "pw"}, kBad, 255},
        {{"format", "000001"}, kBad, 255},
        {{"check", "000001", "p"}, kBad, 255},  // one-character arguments are a bad command line
        {{"check", "12345", "pw"}, kP + "Wrong quor SN format (000000..999999)\n", 1},
        {{"check", "12a456", "pw"}, kP + "Wrong quor SN format (must be 000000..999999)\n", 1},
        {{"check", "000001", pw32}, kP + "Quor password too long (must be 1..31 symbols)\n", 1},
        {{"check", "000001", pw256}, kP + "Quor password too long (must be 1..31 symbols)\n", 1},
        {{"check", "000001", pw257}, kBad, 255},  // no argument may exceed 256 characters
        {{"check", "000001", pw31}, kP + "Error while check quor\n", 1},
        {{"check", "000009", "pw"}, kP + "Quor is not attached (SN - 000009)\n", 1},
        {{"changepassword", "000001", pw32, pw32}, kP + "Quor password too long (must be 1..31 symbols)\n", 1},
        {{"changepassword", "000009", "first", pw32}, kP + "Quor password too long (must be 1..31 symbols)\n", 1},
    };
    for (const auto& c : cases) {
        std::string joined;
        for (auto& a : c.args) joined += a + " ";
        RunResult run = Console(c.args);
        EXPECT_EQ(run.out, c.out) << joined;
        EXPECT_EQ(run.status, c.status) << joined;
    }
    // Only the 31-character password reached a key; every refusal stopped before.
    std::string calls = Calls();
    size_t first = calls.find("open ");
    EXPECT_EQ(calls.substr(first, 13 + 31), "open 000001 " + pw31 + " ");
    EXPECT_EQ(calls.find("open ", first + 1), std::string::npos);
}

TEST_F(ConsoleTest, AMalformedListedSerialEndsTheListingButNotTheSearch)
{
    SetKeys("12345 x\n000002 second\n");
    RunResult listing = Console({"enum"});
    EXPECT_EQ(listing.out, kP + "Wrong quor SN format (000000..999999)\n" + kP +
                               "No quors attached or error occurred while enum attached quors\n");
    EXPECT_EQ(listing.status, 0);

    RunResult check = Console({"check", "000002", "second"});
    EXPECT_EQ(check.out, kP + "Wrong quor SN format (000000..999999)\n" + kP + "Quor checked successfully\n");
    EXPECT_EQ(check.status, 0);
}

TEST_F(ConsoleTest, OneLeadingCharacterOfAnyKindSelectsTheCommand)
{
    for (const char* word : {"-format", "/format", "xformat"}) {
        RunResult run = Console({word, "000002", "again"});
        EXPECT_EQ(run.out, kP + "Quor format in progress...\n" + kP + "Quor formatted successfully\n") << word;
    }
}

TEST_F(ConsoleTest, LibraryBinding)
{
    RunResult noFinalize = Console({"check", "000001", "first"}, "nofinalize");
    EXPECT_EQ(noFinalize.out, kP + "Quor checked successfully\n");
    EXPECT_EQ(noFinalize.status, 0);
    EXPECT_EQ(Calls().find("finalize"), std::string::npos);

    RunResult noInterface = Console({"enum"}, "nointerface");
    EXPECT_EQ(noInterface.out, "Error while initializing quor library\n");
    EXPECT_EQ(noInterface.status, 255);

    // The console and libwemu.so alone in a folder: the key-media library
    // is neither in the working folder nor beside libwemu.so, where the
    // loader looks next.
    const std::string alone = dir_ + "/alone";
    const std::string dist = std::filesystem::path(QVK7QC_PATH).parent_path().string();
    ASSERT_EQ(std::system(("mkdir " + alone + " && cp " + QVK7QC_PATH + " " + dist + "/libwemu.so " + alone).c_str()),
              0);
    RunResult missing = RunConsole(alone + "/qvk7qc", std::string(FAKEKM_ROOT) + "/..", {"enum"},
                                   {{"FAKEKM_STATE", state_}, {"FAKEKM_LOG", log_}});
    EXPECT_EQ(missing.out, "Error while initializing quor library\n");
    EXPECT_EQ(missing.status, 255);
}

}  // namespace
