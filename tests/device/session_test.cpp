// Shared sessions between contexts, storage images, format, password change
// and the syslog texts.
#include <signal.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "DeviceTestSupport.h"

namespace devtest {
namespace {

const char kSource[] = "ТВР Квор Корво-7Ф";

class SessionTest : public DeviceTest {
protected:
    static std::vector<std::string> Messages()
    {
        std::vector<std::string> out;
        for (const auto& e : pcsctap::SyslogEvents()) {
            EXPECT_EQ(e.identity, kSource);
            EXPECT_EQ(e.priority, LOG_ERR);
            out.push_back(e.message);
        }
        return out;
    }
    static bool Zero(const uint8_t* p, size_t n)
    {
        for (size_t i = 0; i < n; ++i)
            if (p[i] != 0) return false;
        return true;
    }
};

// Tries the key has counted as failed (bits 28-31 of the capability word).
uint32_t FailedTries(DeviceContext* c)
{
    DeviceInfo info{};
    EXPECT_EQ(QueryDeviceInfo(c, &info), 0u);
    return info.capabilities >> 28;
}

TEST_F(SessionTest, SecondContextJoinsWithoutALoginAndTheLastOneLogsOut)
{
    const std::string reader = AddKey(401, 18, 0x200, "pw");
    Context a = Open(401), b = Open(401);
    ASSERT_TRUE(a && b);
    ASSERT_EQ(AuthenticateDevice(a.get(), "pw"), 0u);
    EXPECT_EQ(Record(401)->sessionUsers, 1);
    pd::ClearCommandLog(reader);
    ASSERT_EQ(AuthenticateDevice(b.get(), "pw"), 0u);
    EXPECT_EQ(Count(KeyCommands(reader), KEYCMD_LOGIN_NEW), 0) << "joined, not logged in";
    EXPECT_EQ(Record(401)->sessionUsers, 2);
    EXPECT_EQ(std::memcmp(a->sessionKey, b->sessionKey, 32), 0);
    uint8_t block[32] = {1, 2, 3};
    const uint32_t privateBlock = PublicAreaSize(b.get()) / 32;
    EXPECT_EQ(WriteMemoryBlock(b.get(), block, privateBlock), 0u) << "the joined session works";

    pd::ClearCommandLog(reader);
    ASSERT_EQ(LogoutDevice(a.get()), 0u);
    EXPECT_EQ(Count(KeyCommands(reader), KEYCMD_LOGOUT), 0);
    EXPECT_EQ(Record(401)->sessionUsers, 1);
    EXPECT_TRUE(Zero(a->sessionKey, 32));
    EXPECT_TRUE(Zero(a->encryptedPassword, 64));
    ASSERT_EQ(LogoutDevice(b.get()), 0u);
    EXPECT_EQ(Count(KeyCommands(reader), KEYCMD_LOGOUT), 1);
    DeviceCacheRecord* r = Record(401);
    EXPECT_EQ(r->sessionUsers, 0);
    EXPECT_TRUE(Zero(r->encryptedSessionKey, 32));
    EXPECT_TRUE(Zero(r->sessionSalt, 32));
    EXPECT_TRUE(Zero(r->privateImage, 3072));
    EXPECT_EQ(r->privateImageValid, 0u);
    // An unmatched logout never takes the count below zero.
    EXPECT_EQ(LogoutDevice(b.get()), 0u);
    EXPECT_EQ(r->sessionUsers, 0);
}

TEST_F(SessionTest, LogoutOfAContextWithoutAShareLeavesTheOthersLoggedIn)
{
    const std::string reader = AddKey(409, 18, 0x200, "pw");
    Context a = Open(409), b = Open(409), never = Open(409);
    ASSERT_TRUE(a && b && never);
    ASSERT_EQ(AuthenticateDevice(a.get(), "pw"), 0u);
    ASSERT_EQ(AuthenticateDevice(b.get(), "pw"), 0u);
    ASSERT_EQ(LogoutDevice(a.get()), 0u);
    pd::ClearCommandLog(reader);
    // A repeated logout and one of a context that never authenticated.
    EXPECT_EQ(LogoutDevice(a.get()), 0u);
    EXPECT_EQ(LogoutDevice(never.get()), 0u);
    EXPECT_EQ(Record(409)->sessionUsers, 1);
    EXPECT_EQ(Count(KeyCommands(reader), KEYCMD_LOGOUT), 0);
    uint8_t random[8];
    EXPECT_EQ(GetDeviceRandom(b.get(), random, sizeof(random)), 0u) << "b's session is still the key's";
    ASSERT_EQ(LogoutDevice(b.get()), 0u);
    EXPECT_EQ(Count(KeyCommands(reader), KEYCMD_LOGOUT), 1);
}

TEST_F(SessionTest, OldFormSessionIsSharedToo)
{
    const std::string reader = AddKey(402, 11, 0, "old");
    Context a = Open(402), b = Open(402);
    ASSERT_TRUE(a && b);
    ASSERT_EQ(AuthenticateDevice(a.get(), "old"), 0u);
    pd::ClearCommandLog(reader);
    ASSERT_EQ(AuthenticateDevice(b.get(), "old"), 0u);
    EXPECT_EQ(Count(KeyCommands(reader), KEYCMD_LOGIN), 0);
    uint8_t random[16];
    EXPECT_EQ(GetDeviceRandom(b.get(), random, 16), 0u);
}

// Nothing in shared memory tells a wrong password: the key refuses the session
// key it gave, and the login that follows counts one try like any wrong login.
TEST_F(SessionTest, WrongPasswordForTheSharedSessionIsRefusedByTheKey)
{
    const std::string reader = AddKey(403, 18, 0x200, "pw");
    Context a = Open(403), b = Open(403);
    ASSERT_TRUE(a && b);
    ASSERT_EQ(AuthenticateDevice(a.get(), "pw"), 0u);
    pd::ClearCommandLog(reader);
    pcsctap::Reset();
    EXPECT_EQ(AuthenticateDevice(b.get(), "nope"), 23u);
    EXPECT_EQ(FailedTries(a.get()), 1u);
    EXPECT_EQ(Record(403)->sessionUsers, 1) << "a failed authentication leaves the count alone";
    EXPECT_EQ(b->loggedIn, 0);
    EXPECT_TRUE(Zero(b->sessionKey, 32));
    EXPECT_EQ(Messages(), (std::vector<std::string>{"Виникла помилка при автентифікації у пристрої",
                                                    "Виникла помилка при перевірці сесії користувача"}));
    // The holder of the shared session gets it back with its own password.
    uint8_t r[4];
    const uint32_t failed = GetDeviceRandom(a.get(), r, 4);
    ASSERT_NE(failed, 0u);
    EXPECT_EQ(RecoverFromError(a.get(), failed), 0u);
    EXPECT_EQ(GetDeviceRandom(a.get(), r, 4), 0u);
    EXPECT_EQ(FailedTries(a.get()), 0u);
}

TEST_F(SessionTest, FailedLoginIsLogged)
{
    AddKey(404, 18, 0x200, "pw");
    Context a = Open(404);
    ASSERT_TRUE(a);
    pcsctap::Reset();
    EXPECT_EQ(AuthenticateDevice(a.get(), "bad"), 23u);
    EXPECT_EQ(Messages(), std::vector<std::string>{"Виникла помилка при автентифікації у пристрої"});
    EXPECT_EQ(Record(404)->sessionUsers, 0);
}

TEST_F(SessionTest, StaleSharedSessionIsReplacedAndTheOtherUserRecovers)
{
    const std::string reader = AddKey(405, 18, 0x200, "pw");
    Context a = Open(405), b = Open(405);
    ASSERT_TRUE(a && b);
    ASSERT_EQ(AuthenticateDevice(a.get(), "pw"), 0u);
    pd::ResetCard(reader);  // the key forgets the session the record still holds
    pd::ClearCommandLog(reader);
    ASSERT_EQ(AuthenticateDevice(b.get(), "pw"), 0u);
    EXPECT_EQ(Count(KeyCommands(reader), KEYCMD_LOGIN_NEW), 1) << "the joining context logged in anew";
    EXPECT_EQ(Record(405)->sessionUsers, 2) << "the count goes on from its old value";
    uint8_t r[4];
    EXPECT_EQ(GetDeviceRandom(b.get(), r, 4), 0u);

    // The first context recovers by taking over the new shared session.
    const uint32_t failed = GetDeviceRandom(a.get(), r, 4);
    ASSERT_EQ(failed, 40u);
    EXPECT_EQ(RecoverFromError(a.get(), failed), 0u);
    EXPECT_EQ(std::memcmp(a->sessionKey, b->sessionKey, 32), 0);
    EXPECT_EQ(GetDeviceRandom(a.get(), r, 4), 0u);
    EXPECT_EQ(GetDeviceRandom(b.get(), r, 4), 0u) << "and did not end the other's session";
}

TEST_F(SessionTest, FailedProbeLeavesTheJoiningContextLoggedOut)
{
    const std::string reader = AddKey(406, 18, 0x200, "pw");
    Context a = Open(406), b = Open(406);
    ASSERT_TRUE(a && b);
    ASSERT_EQ(AuthenticateDevice(a.get(), "pw"), 0u);
    pd::GetKey(reader)->faults().busy = true;
    pcsctap::Reset();
    EXPECT_EQ(AuthenticateDevice(b.get(), "pw"), 24u) << "the busy probe ends within the budget";
    EXPECT_EQ(b->loggedIn, 0);
    EXPECT_TRUE(Zero(b->sessionKey, 32));
    EXPECT_EQ(Record(406)->sessionUsers, 1);
    EXPECT_EQ(Messages(), (std::vector<std::string>{"Виникла помилка при взаємодії із пристроєм",
                                                    "Виникла помилка при перевірці сесії користувача"}));
}

TEST_F(SessionTest, PasswordChangeKeepsTheSharedSessionUnderTheNewPassword)
{
    const std::string reader = AddKey(407, 18, 0x200, "old");
    Context a = Open(407), b = Open(407), c = Open(407);
    ASSERT_TRUE(a && b && c);
    ASSERT_EQ(AuthenticateDevice(a.get(), "old"), 0u);
    ASSERT_EQ(ChangeDevicePassword(a.get(), "new"), 0u);
    pd::ClearCommandLog(reader);
    EXPECT_EQ(AuthenticateDevice(b.get(), "new"), 0u);
    EXPECT_EQ(Count(KeyCommands(reader), KEYCMD_LOGIN_NEW), 0);
    EXPECT_EQ(AuthenticateDevice(c.get(), "old"), 23u);
    // The kept password is the new one: a re-login after a lost session works.
    pd::ResetCard(reader);
    uint8_t r[1];
    ASSERT_NE(GetDeviceRandom(a.get(), r, 1), 0u);
    EXPECT_EQ(RecoverFromError(a.get(), 40), 0u);
}

TEST_F(SessionTest, OldKeyPasswordChange)
{
    AddKey(408, 9, 0, "old");
    Context a = Open(408), b = Open(408);
    ASSERT_TRUE(a && b);
    ASSERT_EQ(AuthenticateDevice(a.get(), "old"), 0u);
    ASSERT_EQ(ChangeDevicePassword(a.get(), "new"), 0u);
    ASSERT_EQ(LogoutDevice(a.get()), 0u);
    EXPECT_EQ(AuthenticateDevice(b.get(), "old"), 23u);
    EXPECT_EQ(AuthenticateDevice(b.get(), "new"), 0u);
}

TEST_F(SessionTest, FormatEndsTheSharedSessionAndErasesTheImages)
{
    const std::string reader = AddKey(409, 18, 0x200, "pw");
    Context a = Open(409), b = Open(409), c = Open(409);
    ASSERT_TRUE(a && b && c);
    ASSERT_EQ(AuthenticateDevice(a.get(), "pw"), 0u);
    uint8_t data[32];
    std::memset(data, 0x5A, sizeof(data));
    ASSERT_EQ(WriteMemoryBlock(a.get(), data, 3), 0u);

    ASSERT_EQ(FormatDevice(b.get(), "fresh"), 0u);
    DeviceCacheRecord* r = Record(409);
    EXPECT_EQ(r->sessionUsers, 0);
    EXPECT_TRUE(Zero(r->encryptedSessionKey, 32));
    pd::ClearCommandLog(reader);
    uint8_t out[32];
    ASSERT_EQ(ReadMemoryBlock(c.get(), out, 3), 0u);
    for (uint8_t byte : out) EXPECT_EQ(byte, 0xFF);
    EXPECT_EQ(Count(KeyCommands(reader), KEYCMD_READ_MEMORY), 0) << "the image serves the read";
    // The share a had went with the format: its logout leaves the count at zero.
    EXPECT_EQ(LogoutDevice(a.get()), 0u);
    EXPECT_EQ(r->sessionUsers, 0) << "never below zero";
    EXPECT_EQ(Count(KeyCommands(reader), KEYCMD_LOGOUT), 0);

    pd::ClearCommandLog(reader);
    EXPECT_EQ(AuthenticateDevice(c.get(), "fresh"), 0u);
    EXPECT_EQ(Count(KeyCommands(reader), KEYCMD_LOGIN_NEW), 1) << "a fresh login, not the old session";
}

TEST_F(SessionTest, StorageImagesOfAVersion7Key)
{
    const std::string reader = AddKey(410, 7, 0, "pw");
    Context a = Open(410);
    ASSERT_TRUE(a);
    EXPECT_EQ(PublicAreaSize(a.get()), 1024u);
    uint8_t out[32];
    EXPECT_EQ(ReadMemoryBlock(a.get(), out, 128), 8u);
    EXPECT_EQ(ReadMemoryBlock(a.get(), out, 31), 0u);
    EXPECT_NE(ReadMemoryBlock(a.get(), out, 32), 0u) << "the first private block needs a login";
    ASSERT_EQ(AuthenticateDevice(a.get(), "pw"), 0u);
    EXPECT_EQ(ReadMemoryBlock(a.get(), out, 32), 0u);
    EXPECT_EQ(ReadMemoryBlock(a.get(), out, 127), 0u);

    uint8_t data[32];
    for (int i = 0; i < 32; ++i) data[i] = static_cast<uint8_t>(i + 1);
    pd::ClearCommandLog(reader);
    ASSERT_EQ(WriteMemoryBlock(a.get(), data, 10), 0u);
    EXPECT_EQ(std::memcmp(Record(410)->publicImage + 320, data, 32), 0);
    ASSERT_EQ(ReadMemoryBlock(a.get(), out, 10), 0u);
    EXPECT_EQ(std::memcmp(out, data, 32), 0);
    EXPECT_EQ(KeyCommandsBesideTheMark(reader), std::vector<int>{KEYCMD_WRITE_MEMORY}) << "no read after the write";

    // A second context reads the public area from the shared image.
    Context b = Open(410);
    ASSERT_TRUE(b);
    pd::ClearCommandLog(reader);
    ASSERT_EQ(ReadMemoryBlock(b.get(), out, 10), 0u);
    EXPECT_EQ(std::memcmp(out, data, 32), 0);
    EXPECT_EQ(KeyCommands(reader), std::vector<int>{KEYCMD_READ_AUX}) << "only the mark is read";
}

TEST_F(SessionTest, ErasePageFillsTheImage)
{
    AddKey(411, 8, 0, "pw");
    Context a = Open(411);
    ASSERT_TRUE(a);
    ASSERT_EQ(AuthenticateDevice(a.get(), "pw"), 0u);
    uint8_t data[32] = {7};
    ASSERT_EQ(WriteMemoryBlock(a.get(), data, 32), 0u);  // first block of page 1
    ASSERT_EQ(EraseMemoryPage(a.get(), 1), 0u);
    for (uint32_t i = 1024; i < 2048; ++i) ASSERT_EQ(Record(411)->publicImage[i], 0xFF) << i;
    EXPECT_EQ(WriteMemoryBlock(a.get(), data, 256 + 128), 8u) << "a block number that does not fit the request";
}

// A run of blocks across the end of the public area reads as its blocks do
// one by one, and a run beyond the private area copies nothing.
TEST_F(SessionTest, ARunOfBlocksReadsAsItsBlocks)
{
    const std::string reader = AddKey(425, 7, 0, "pw");
    Context a = Open(425);
    ASSERT_TRUE(a);
    ASSERT_EQ(AuthenticateDevice(a.get(), "pw"), 0u);
    for (uint32_t block = 30; block < 34; ++block) {
        uint8_t data[32];
        for (int i = 0; i < 32; ++i) data[i] = static_cast<uint8_t>(block * 7 + i);
        ASSERT_EQ(WriteMemoryBlock(a.get(), data, block), 0u);
    }
    Context b = Open(425);
    ASSERT_TRUE(b);
    ASSERT_EQ(AuthenticateDevice(b.get(), "pw"), 0u);
    ASSERT_EQ(InvalidateMemoryImage(b.get(), 0), 0u);
    ASSERT_EQ(InvalidateMemoryImage(b.get(), 1), 0u);
    pd::ClearCommandLog(reader);
    std::vector<uint8_t> run(6 * 32);
    ASSERT_EQ(ReadMemoryBlocks(b.get(), run.data(), 29, 6), 0u);  // public 29..31, private 32..34
    EXPECT_EQ(Count(KeyCommands(reader), KEYCMD_READ_MEMORY), 128) << "each area read from the key once";
    for (uint32_t i = 0; i < 6; ++i) {
        uint8_t out[32];
        ASSERT_EQ(ReadMemoryBlock(a.get(), out, 29 + i), 0u);
        EXPECT_EQ(std::memcmp(run.data() + i * 32, out, 32), 0) << "block " << 29 + i;
    }
    EXPECT_EQ(run[32 * 3 + 5], static_cast<uint8_t>(32 * 7 + 5)) << "the first private block";

    std::vector<uint8_t> whole(128 * 32);
    EXPECT_EQ(ReadMemoryBlocks(b.get(), whole.data(), 0, 128), 0u);
    EXPECT_EQ(std::memcmp(whole.data() + 29 * 32, run.data(), run.size()), 0);
    std::vector<uint8_t> untouched(64, 0xA5);
    for (const auto& [first, count] : {std::pair<uint32_t, uint32_t>{127, 2}, {128, 1}, {0xFFFFFFFFu, 2}, {1, 128}})
        EXPECT_EQ(ReadMemoryBlocks(b.get(), untouched.data(), first, count), 8u) << first << "+" << count;
    EXPECT_EQ(untouched, std::vector<uint8_t>(64, 0xA5));
    EXPECT_EQ(ReadMemoryBlocks(b.get(), untouched.data(), 128, 0), 0u) << "an empty run at the end";
}

// A key that keeps answering 22 (its session hides what we read) gets one
// logout, and then the 22 goes back instead of another round.
TEST_F(SessionTest, PersistentAlreadyAuthenticatedEndsAfterOneLogout)
{
    const std::string reader = AddKey(413, 18, 0x200, "pw");
    Context c = Open(413);
    ASSERT_TRUE(c);
    struct Case {
        const char* name;
        uint8_t command;
        std::function<uint32_t()> run;
    };
    const Case cases[] = {
        {"public area", KEYCMD_READ_MEMORY,
         [&] {
             InvalidateMemoryImage(c.get(), 0);
             return LoadMemoryImage(c.get(), 0);
         }},
        {"key cache item", KEYCMD_READ_SIGN_KEY_PARAMS,
         [&] {
             InvalidateSignatureKeyParametersCache(c.get());
             return LoadSignatureKeyParameters(c.get(), nullptr);
         }},
    };
    for (const Case& k : cases) {
        pcsctap::Reset();
        pcsctap::ForceStatus(k.command, 22, 1000);
        pd::ClearCommandLog(reader);
        EXPECT_EQ(k.run(), 22u) << k.name;
        const std::vector<int> commands = KeyCommands(reader);
        EXPECT_EQ(Count(commands, KEYCMD_LOGOUT), 1) << k.name;
        EXPECT_EQ(Count(commands, k.command), 2) << k.name << ": the same chunk once more, then no more";
    }
    pcsctap::Reset();
    EXPECT_EQ(Record(413)->publicImageValid, 0u) << "a failed load leaves the image unknown";
    EXPECT_EQ(qvkdev::FindKeyRecord(413)->signKeyParametersValid, 0u);
}

// On a new key still on the old scheme the change goes out in the old form;
// the password kept for re-login must still be the one a re-login reads back.
TEST_F(SessionTest, PasswordChangedInTheOldFormOnANewKeyServesARelogin)
{
    const std::string reader = AddKey(414, 18, 0, "old");
    Context c = Open(414);
    ASSERT_TRUE(c);
    ASSERT_EQ(LoginWithPassword(c.get(), "old"), 0u);
    pcsctap::Reset();
    ASSERT_EQ(ChangeDevicePassword(c.get(), "new"), 0u);
    const auto apdus = pcsctap::Apdus();
    ASSERT_EQ(apdus.size(), 1u);
    EXPECT_EQ(apdus[0][5], KEYCMD_CHANGE_PASSWORD_NEW);
    EXPECT_EQ(apdus[0].size(), 64u + 5) << "the old form";
    pd::ResetCard(reader);
    pd::ClearCommandLog(reader);
    EXPECT_EQ(RecoverFromError(c.get(), 40), 0u);
    EXPECT_EQ(Count(KeyCommands(reader), KEYCMD_LOGIN_NEW), 1) << "logged in again with the new password";
    uint8_t r[4];
    EXPECT_EQ(GetDeviceRandom(c.get(), r, 4), 0u);
}

TEST_F(SessionTest, FailedKeySearchIsLogged)
{
    AddKey(412);
    pcsctap::Reset();
    pcsctap::FailListReaders(0x8010002E, 1);  // no readers: not worth a report
    EXPECT_FALSE(Open(412));
    EXPECT_TRUE(Messages().empty());
    pcsctap::FailListReaders(0x80100001, 1);
    EXPECT_FALSE(Open(412));
    pcsctap::FailEstablish(0x8010001D, 1);
    EXPECT_FALSE(Open(412));
    EXPECT_EQ(Messages(),
              (std::vector<std::string>{"Виникла помилка при пошуку пристроїв: 0x80100001",
                                        "Виникла помилка при конфігурації оточення пошуку пристроїв: 0x8010001d"}));
    EXPECT_TRUE(Open(412));
}

TEST_F(SessionTest, ContextFromBeforeAFormatHoldsNoShare)
{
    const std::string reader = AddKey(420, 18, 0x200, "pw");
    Context a = Open(420), b = Open(420), c = Open(420);
    ASSERT_TRUE(a && b && c);
    ASSERT_EQ(AuthenticateDevice(a.get(), "pw"), 0u);
    ASSERT_EQ(FormatDevice(b.get(), "fresh"), 0u);
    ASSERT_EQ(AuthenticateDevice(c.get(), "fresh"), 0u);
    EXPECT_EQ(Record(420)->sessionUsers, 1);

    pd::ClearCommandLog(reader);
    EXPECT_EQ(LogoutDevice(a.get()), 0u);
    EXPECT_EQ(Count(KeyCommands(reader), KEYCMD_LOGOUT), 0) << "a's share went with the format";
    EXPECT_EQ(Record(420)->sessionUsers, 1);
    uint8_t r[4];
    EXPECT_EQ(GetDeviceRandom(c.get(), r, 4), 0u) << "c's session survives a's logout";
    ASSERT_EQ(LogoutDevice(c.get()), 0u);
    EXPECT_EQ(Count(KeyCommands(reader), KEYCMD_LOGOUT), 1) << "the last real sharer logs the key out";
}

TEST_F(SessionTest, ContextFromBeforeAFormatNeverLogsInByItself)
{
    const std::string reader = AddKey(421, 18, 0x200, "pw");
    Context a = Open(421), b = Open(421), c = Open(421);
    ASSERT_TRUE(a && b && c);
    ASSERT_EQ(AuthenticateDevice(a.get(), "pw"), 0u);
    ASSERT_EQ(FormatDevice(b.get(), "fresh"), 0u);
    uint8_t r[4];
    // No shared session after the format: a is told it is not logged in, and
    // its outdated password reaches no key.
    uint32_t failed = GetDeviceRandom(a.get(), r, 4);
    ASSERT_NE(failed, 0u);
    pd::ClearCommandLog(reader);
    EXPECT_EQ(RecoverFromError(a.get(), failed), failed);
    EXPECT_EQ(Count(KeyCommands(reader), KEYCMD_LOGIN_NEW), 0);
    EXPECT_EQ(FailedTries(c.get()), 0u);

    // The key formatted with the same password and shared again: a joins
    // the new session instead of logging in.
    ASSERT_EQ(FormatDevice(b.get(), "pw"), 0u);
    ASSERT_EQ(AuthenticateDevice(c.get(), "pw"), 0u);
    failed = GetDeviceRandom(a.get(), r, 4);
    ASSERT_NE(failed, 0u);
    pd::ClearCommandLog(reader);
    EXPECT_EQ(RecoverFromError(a.get(), failed), 0u);
    EXPECT_EQ(Count(KeyCommands(reader), KEYCMD_LOGIN_NEW), 0);
    EXPECT_EQ(GetDeviceRandom(a.get(), r, 4), 0u);
    EXPECT_EQ(Record(421)->sessionUsers, 2);
    ASSERT_EQ(LogoutDevice(c.get()), 0u);
    EXPECT_EQ(GetDeviceRandom(a.get(), r, 4), 0u) << "a holds a share again";
}

// Shared memory carries no password: a sharer whose kept password another
// context has changed is told to log in again once the session is lost, and
// never spends a try on the old one.
TEST_F(SessionTest, SharerWithAnOutdatedPasswordIsToldToLogInAgain)
{
    const std::string reader = AddKey(422, 18, 0x200, "old");
    Context a = Open(422), b = Open(422);
    ASSERT_TRUE(a && b);
    ASSERT_EQ(AuthenticateDevice(a.get(), "old"), 0u);
    ASSERT_EQ(AuthenticateDevice(b.get(), "old"), 0u);
    ASSERT_EQ(ChangeDevicePassword(b.get(), "new"), 0u);
    uint8_t r[4];
    EXPECT_EQ(GetDeviceRandom(a.get(), r, 4), 0u) << "the session stays open";

    pd::ResetCard(reader);
    pd::ClearCommandLog(reader);
    const uint32_t failed = GetDeviceRandom(a.get(), r, 4);
    ASSERT_NE(failed, 0u);
    EXPECT_EQ(RecoverFromError(a.get(), failed), 23u);
    EXPECT_EQ(a->loggedIn, 0);
    EXPECT_EQ(RecoverFromError(a.get(), 21), 21u) << "logged out: nothing more to recover";
    EXPECT_EQ(Count(KeyCommands(reader), KEYCMD_LOGIN_NEW), 0);
    EXPECT_EQ(FailedTries(a.get()), 0u);
    ASSERT_EQ(AuthenticateDevice(a.get(), "new"), 0u);
    EXPECT_EQ(GetDeviceRandom(a.get(), r, 4), 0u);
    EXPECT_EQ(Record(422)->sessionUsers, 2) << "a's old share was given back, its new one counted";
}

TEST_F(SessionTest, SharerNeverSendsAPasswordKnownToBeOutdated)
{
    const std::string reader = AddKey(423, 18, 0x200, "old");
    Context a = Open(423), b = Open(423);
    ASSERT_TRUE(a && b);
    ASSERT_EQ(AuthenticateDevice(a.get(), "old"), 0u);
    ASSERT_EQ(AuthenticateDevice(b.get(), "old"), 0u);
    ASSERT_EQ(ChangeDevicePassword(b.get(), "new"), 0u);
    // b recovers first: the shared session is one a never had, so a cannot
    // read the new password and must not try the old one.
    pd::ResetCard(reader);
    uint8_t r[4];
    ASSERT_NE(GetDeviceRandom(b.get(), r, 4), 0u);
    ASSERT_EQ(RecoverFromError(b.get(), 40), 0u);
    pd::ClearCommandLog(reader);
    for (int i = 0; i < 3; ++i) {
        const uint32_t failed = GetDeviceRandom(a.get(), r, 4);
        ASSERT_NE(failed, 0u);
        EXPECT_NE(RecoverFromError(a.get(), failed), 0u);
    }
    EXPECT_EQ(Count(KeyCommands(reader), KEYCMD_LOGIN_NEW), 0);
    EXPECT_EQ(Count(KeyCommands(reader), KEYCMD_LOGIN), 0);
    EXPECT_EQ(FailedTries(b.get()), 0u);
    EXPECT_EQ(GetDeviceRandom(b.get(), r, 4), 0u);
}

TEST_F(SessionTest, OldFormSaveAndRestoreLeaveTheContextAlone)
{
    AddKey(424, 18, 0x200, "pw");
    Context a = Open(424);
    ASSERT_TRUE(a);
    ASSERT_EQ(AuthenticateDevice(a.get(), "pw"), 0u);
    DeviceCacheRecord scratch{};
    std::atomic<bool> stop{false};
    std::atomic<int> seen{0};
    std::thread watcher([&] {
        while (!stop.load())
            if (*static_cast<volatile uint8_t*>(&a->version) != 18) seen.fetch_add(1);
    });
    for (int i = 0; i < 2000; ++i) {
        ASSERT_EQ(SaveSharedSessionOld(a.get(), "pw", &scratch), 0u);
        ASSERT_EQ(RestoreSharedSessionOld(a.get(), "pw", &scratch), 0u);
    }
    stop.store(true);
    watcher.join();
    EXPECT_EQ(seen.load(), 0) << "another thread saw the version changed";
    // And the old form is what they used: the new form reads another key back.
    uint8_t kept[32];
    std::memcpy(kept, a->sessionKey, 32);
    ASSERT_EQ(RestoreSharedSession(a.get(), "pw", &scratch), 0u);
    EXPECT_NE(std::memcmp(kept, a->sessionKey, 32), 0);
    std::memcpy(a->sessionKey, kept, 32);
}

// Shared memory never holds the private area: a reader of it learns no
// private object, and an image left there (by a process of an older build
// that was killed) is wiped by the next open.
TEST_F(SessionTest, ThePrivateAreaStaysOutOfSharedMemory)
{
    AddKey(411, 18, 0x200, "pw");
    Context a = Open(411);
    ASSERT_TRUE(a);
    ASSERT_EQ(AuthenticateDevice(a.get(), "pw"), 0u);
    const uint32_t firstPrivate = PublicAreaSize(a.get()) / 32;
    uint8_t data[32], out[32];
    std::memset(data, 0x5A, sizeof(data));
    ASSERT_EQ(WriteMemoryBlock(a.get(), data, firstPrivate), 0u);
    ASSERT_EQ(ReadMemoryBlock(a.get(), out, firstPrivate), 0u);
    EXPECT_EQ(std::memcmp(out, data, 32), 0);
    DeviceCacheRecord* r = Record(411);
    EXPECT_TRUE(Zero(r->privateImage, sizeof(r->privateImage)));
    EXPECT_EQ(r->privateImageValid, 0u);

    std::memset(r->privateImage, 0x5A, sizeof(r->privateImage));
    r->privateImageValid = 1;
    Context b = Open(411);
    ASSERT_TRUE(b);
    EXPECT_TRUE(Zero(r->privateImage, sizeof(r->privateImage)));
    EXPECT_EQ(r->privateImageValid, 0u);
    // The logout leaves no private copy in the context either.
    ASSERT_EQ(LogoutDevice(a.get()), 0u);
    for (uint8_t byte : a->privateImage) ASSERT_EQ(byte, 0xFF);
}

// The bytes of a shared memory as a reader of its file under /dev/shm sees them.
std::vector<uint8_t> SharedFile(const char* escapedName)
{
    const std::string path =
        "/dev/shm/wemu+" + std::to_string(geteuid()) + "+s+" + std::getenv("WEMU_NAME_PREFIX") + "+" + escapedName;
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Contains(const std::vector<uint8_t>& haystack, const uint8_t* needle, size_t n)
{
    return std::search(haystack.begin(), haystack.end(), needle, needle + n) != haystack.end();
}

// A reader of the shared memories, with a password guess, derives every value
// the session could be kept under (the password hashed once, with the salt
// before or after it, and the login value and packet key, in both hash forms,
// with both ciphers) and looks for anything there that confirms the guess: a
// hash of the session key it decrypts, the key itself, the password kept under
// it. The right guess must find no more than a wrong one: none at all.
TEST_F(SessionTest, ASharedSessionConfirmsNoPasswordGuess)
{
    const char kRight[] = "correct horse 7";
    const char kWrong[] = "correct horse 8";
    for (const uint8_t version : {uint8_t{18}, uint8_t{11}}) {
        SCOPED_TRACE(static_cast<int>(version));
        const uint32_t serial = 430 + version;
        AddKey(serial, version, version >= 18 ? 0x200 : 0, kRight);
        Context a = Open(serial), b = Open(serial);
        ASSERT_TRUE(a && b);
        ASSERT_EQ(AuthenticateDevice(a.get(), kRight), 0u);

        const std::vector<uint8_t> devices = SharedFile("Global%5CQuorKorvo7QMemory");
        const std::vector<uint8_t> shares = SharedFile("Global%5CQuorKorvo7QSessionMemory");
        const std::vector<uint8_t> keys = SharedFile("Global%5CQuorKorvo7QKeysMemory");
        ASSERT_EQ(devices.size(), DEVICE_CACHE_SIZE);
        ASSERT_EQ(shares.size(), SESSION_SHARE_SIZE);
        size_t at = 0;
        while (at < devices.size() && std::memcmp(&devices[at], &serial, 4) != 0) at += sizeof(DeviceCacheRecord);
        ASSERT_LT(at, devices.size());
        DeviceCacheRecord record;
        std::memcpy(&record, &devices[at], sizeof(record));
        const size_t shareAt = at / sizeof(DeviceCacheRecord) * sizeof(SessionShareRecord);
        const std::vector<uint8_t> share(shares.begin() + shareAt,
                                         shares.begin() + shareAt + sizeof(SessionShareRecord));
        EXPECT_EQ(record.sessionUsers, 1);
        for (const auto* file : {&devices, &shares, &keys})
            EXPECT_FALSE(Contains(*file, a->sessionKey, 32)) << "the session key in clear";

        bool recovered = false;
        for (const char* guess : {kRight, kWrong}) {
            SCOPED_TRACE(guess);
            const size_t n = std::strlen(guess);
            std::vector<std::vector<uint8_t>> inputs = {std::vector<uint8_t>(guess, guess + n)};
            inputs.push_back(std::vector<uint8_t>(record.sessionSalt, record.sessionSalt + 32));
            inputs.back().insert(inputs.back().end(), guess, guess + n);
            inputs.push_back(std::vector<uint8_t>(guess, guess + n));
            inputs.back().insert(inputs.back().end(), record.sessionSalt, record.sessionSalt + 32);
            std::vector<std::array<uint8_t, 32>> derived;
            for (const auto& input : inputs) {
                std::array<uint8_t, 32> h{};
                ASSERT_EQ(qvkdev::Hash7564(input.data(), input.size(), h.data()), 0u);
                derived.push_back(h);
                ASSERT_TRUE(qvkdev::Hash34311(input.data(), input.size(), h.data()));
                derived.push_back(h);
            }
            std::array<uint8_t, 32> v{}, packet{};
            ASSERT_EQ(qvkdev::IterateHash7564(inputs[0].data(), n, v.data(), packet.data()), 0u);
            derived.push_back(v);
            derived.push_back(packet);
            ASSERT_TRUE(qvkdev::IterateHash34311(inputs[0].data(), n, v.data(), packet.data()));
            derived.push_back(v);
            derived.push_back(packet);

            for (const auto& k : derived) {
                for (const bool dstu : {true, false}) {
                    uint8_t candidate[32];
                    std::memcpy(candidate, record.encryptedSessionKey, 32);
                    if (dstu)
                        ASSERT_EQ(qvkdev::Dstu7624Ecb(k.data(), candidate, 1, false), 0u);
                    else
                        ASSERT_TRUE(qvkdev::Gost28147Ecb(k.data(), candidate, 4, false));
                    recovered |= std::memcmp(candidate, a->sessionKey, 32) == 0;
                    uint8_t hashes[2][32];
                    ASSERT_EQ(qvkdev::Hash7564(candidate, 32, hashes[0]), 0u);
                    ASSERT_TRUE(qvkdev::Hash34311(candidate, 32, hashes[1]));
                    for (const auto* file : {&devices, &shares, &keys}) {
                        EXPECT_FALSE(Contains(*file, k.data(), 32)) << "a password hash";
                        EXPECT_FALSE(Contains(*file, hashes[0], 32)) << "a hash of the decrypted key";
                        EXPECT_FALSE(Contains(*file, hashes[1], 32)) << "a hash of the decrypted key";
                    }
                    // The guess kept under the decrypted key, anywhere in the key's share record.
                    for (size_t i = 0; i + 64 <= share.size(); i += 4) {
                        uint8_t kept[64];
                        std::memcpy(kept, share.data() + i, 64);
                        if (dstu)
                            ASSERT_EQ(qvkdev::Dstu7624Ecb(candidate, kept, 2, false), 0u);
                        else
                            ASSERT_TRUE(qvkdev::Gost28147Ecb(candidate, kept, 8, false));
                        EXPECT_FALSE(std::memcmp(kept, guess, n) == 0 && kept[n] == 0) << "the password kept at " << i;
                    }
                }
            }
        }
        EXPECT_TRUE(recovered) << "the right guess does decrypt the session key: the test reads the right place";

        // The key tells them apart: the right password joins, a wrong one is
        // refused by the key with one try counted.
        ASSERT_EQ(AuthenticateDevice(b.get(), kRight), 0u);
        ASSERT_EQ(LogoutDevice(b.get()), 0u);
        EXPECT_EQ(AuthenticateDevice(b.get(), kWrong), 23u);
        EXPECT_EQ(FailedTries(a.get()), 1u);
    }
}

// A process that dies holding shares of the session gives them back at the
// next open: the others keep theirs, and when none is left the session kept
// in shared memory is wiped.
TEST_F(SessionTest, SharesOfAKilledProcessAreGivenBackAtTheNextOpen)
{
    AddKey(440, 18, 0x200, "pw");
    Context a = Open(440);
    ASSERT_TRUE(a);
    auto joinAndDie = [&] {
        const pid_t child = fork();
        if (child == 0) {
            DeviceContext* c = OpenDevice(440);
            DeviceContext* d = OpenDevice(440);
            if (c != nullptr && d != nullptr && AuthenticateDevice(c, "pw") == 0 && AuthenticateDevice(d, "pw") == 0)
                raise(SIGKILL);
            _exit(1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the child did not get its shares";
    };

    ASSERT_EQ(AuthenticateDevice(a.get(), "pw"), 0u);
    joinAndDie();
    EXPECT_EQ(Record(440)->sessionUsers, 3);
    EXPECT_TRUE(Open(440));
    EXPECT_EQ(Record(440)->sessionUsers, 1) << "a's share stays";
    EXPECT_FALSE(Zero(Record(440)->encryptedSessionKey, 32));

    ASSERT_EQ(LogoutDevice(a.get()), 0u);
    ASSERT_EQ(AuthenticateDevice(a.get(), "pw"), 0u);
    // The child logs in by itself this time (the key it has is a copy).
    ASSERT_EQ(LogoutDevice(a.get()), 0u);
    const pid_t child = fork();
    if (child == 0) {
        DeviceContext* c = OpenDevice(440);
        if (c != nullptr && AuthenticateDevice(c, "pw") == 0) raise(SIGKILL);
        _exit(1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    DeviceCacheRecord* r = Record(440);
    ASSERT_EQ(r->sessionUsers, 1);
    EXPECT_TRUE(Open(440));
    EXPECT_EQ(r->sessionUsers, 0);
    EXPECT_TRUE(Zero(r->encryptedSessionKey, 32));
    EXPECT_TRUE(Zero(r->sessionSalt, 32));
    ASSERT_EQ(AuthenticateDevice(a.get(), "pw"), 0u) << "a new session of its own";
    EXPECT_EQ(r->sessionUsers, 1);
}

}  // namespace
}  // namespace devtest
