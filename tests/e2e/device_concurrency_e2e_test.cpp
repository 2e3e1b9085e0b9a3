// Several processes with several threads each drive one emulated key through
// a real pcscd with multi-block sequences (chunked key writes, groups of
// storage writes under LockDevice, whole-area reloads, logout and login,
// single unlocked commands in between, then short sessions that take the
// share count to zero now and then). Afterwards the key's own command log
// must show every multi-block sequence in one piece, and every operation must
// have succeeded or been refused as busy.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "E2EProcess.h"
#include "KeyCommandLog.h"
#include "KeyRig.h"
#include "device/DeviceProtocol.h"
#include "dstu4145/DSTU4145.h"
#include "support/CSPStandardTables.h"

namespace qvk::e2e {
namespace {

constexpr uint32_t kSerial = 100001;
constexpr char kPassword[] = "12345678";
constexpr int kProcesses = 4;
constexpr int kThreads = 3;
constexpr int kRounds = 5;
constexpr int kShortSessions = 4;
constexpr int kGroupBlocks = 4;
constexpr int kPublicChunks = 128;                 // version 18: 4,096 bytes
constexpr int kFirstPrivateBlock = kPublicChunks;  // then 96 private chunks
constexpr int kPrivateChunks = 96;
constexpr int kSignKeyChunks = 5;  // 304 bytes in 64-byte chunks

// What the children did, sent back to the parent through a pipe.
struct Tally {
    int keyWrites = 0;
    int writeGroups = 0;
    int reloads = 0;
    int relogins = 0;
    int singles = 0;
    int busy = 0;
    int failures = 0;

    Tally& operator+=(const Tally& t)
    {
        keyWrites += t.keyWrites;
        writeGroups += t.writeGroups;
        reloads += t.reloads;
        relogins += t.relogins;
        singles += t.singles;
        busy += t.busy;
        failures += t.failures;
        return *this;
    }
};

// A signature key for the key-write sequences: the first standard curve of
// the polynomial basis and a private key of that curve.
struct SignKey {
    uint8_t parameters[240] = {};
    uint8_t privateKey[64] = {};
};

bool MakeSignKey(SignKey* out)
{
    const CSPStandardCurve* standard = CSPStandardCurveAt(1, 0);
    dstu4145::Curve curve;
    if (standard == nullptr ||
        dstu4145::CurveFromRecords(standard->field.words, standard->point.words, curve) != dstu4145::Result::Ok)
        return false;
    auto engine = dstu4145::Engine::Create(curve);
    dstu4145::Bytes d, q;
    if (!engine || engine->GenerateKey(d, q) != dstu4145::Result::Ok || d.size() > sizeof(out->privateKey))
        return false;
    std::memcpy(out->privateKey, d.data(), d.size());
    return dstu4145::CurveToDeviceKeyParameters(curve, out->parameters) == dstu4145::Result::Ok;
}

// The 32 bytes one thread writes to one block in one round.
void BlockPattern(int slot, int round, int index, uint8_t out[32])
{
    for (int i = 0; i < 32; ++i) out[i] = static_cast<uint8_t>(slot * 31 + round * 7 + index * 3 + i);
}

class Worker {
public:
    Worker(int process, int thread, const SignKey& key, Tally* tally)
        : process_(process), thread_(thread), slot_(process * kThreads + thread), key_(key), tally_(tally)
    {
    }

    // Opens and logs in; false (after saying why) when that fails.
    bool Start()
    {
        context_ = OpenDevice(kSerial);
        if (context_ == nullptr) {
            Fail("OpenDevice", 1);
            return false;
        }
        return Login("AuthenticateDevice");
    }

    void Run()
    {
        for (int round = 0; round < kRounds; ++round)
            for (int step = 0; step < 4; ++step) {
                switch ((step + slot_) % 4) {
                case 0:
                    Count(KeyWrite(), &tally_->keyWrites);
                    break;
                case 1:
                    Count(WriteGroup(round), &tally_->writeGroups);
                    break;
                case 2:
                    Count(Reload(round), &tally_->reloads);
                    break;
                default:
                    Count(Relogin(), &tally_->relogins);
                    break;
                }
                Single();
            }
        // Short sessions while the others finish: the share count reaches
        // zero now and then, so real logins and logouts meet the load.
        for (int i = 0; i < kShortSessions; ++i) {
            Count(ShortSession(), &tally_->relogins);
            Single();
        }
    }

    void Finish()
    {
        if (context_ == nullptr) return;
        if (context_->loggedIn) Checked("LogoutDevice", LogoutDevice(context_));
        CloseDevice(context_);
    }

private:
    void Fail(const char* what, uint32_t code)
    {
        std::fprintf(stderr, "process %d thread %d: %s answered %u\n", process_, thread_, what, code);
        tally_->failures += 1;
    }

    // 0 and the busy answer are the outcomes a caller must be ready for;
    // anything else is reported here.
    uint32_t Checked(const char* what, uint32_t code)
    {
        if (code != 0 && code != KEYERR_DEVICE_BUSY) Fail(what, code);
        return code;
    }

    void Count(uint32_t code, int* successes)
    {
        if (code == 0) *successes += 1;
        if (code == KEYERR_DEVICE_BUSY) tally_->busy += 1;
    }

    bool Login(const char* what)
    {
        uint32_t r = KEYERR_DEVICE_BUSY;
        for (int attempt = 0; attempt < 3 && r == KEYERR_DEVICE_BUSY; ++attempt)
            r = Checked(what, AuthenticateDevice(context_, kPassword));
        return r == 0;
    }

    uint32_t KeyWrite()
    {
        uint32_t r = Checked("LockDevice", LockDevice(context_));
        if (r != 0) return r;
        r = Checked("WriteSignatureKey", WriteSignatureKey(context_, key_.parameters, key_.privateKey, 0));
        UnlockDevice(context_);
        return r;
    }

    // Four blocks of this thread's own range of the private area, written
    // while holding the key, then read back through the shared image.
    uint32_t WriteGroup(int round)
    {
        const uint32_t base = kFirstPrivateBlock + static_cast<uint32_t>(slot_ * kGroupBlocks);
        uint32_t r = Checked("LockDevice", LockDevice(context_));
        if (r != 0) return r;
        for (int i = 0; i < kGroupBlocks && r == 0; ++i) {
            uint8_t data[32];
            BlockPattern(slot_, round, i, data);
            r = Checked("WriteMemoryBlock", WriteMemoryBlock(context_, data, base + static_cast<uint32_t>(i)));
        }
        UnlockDevice(context_);
        if (r != 0) return r;
        lastRound_ = round;
        for (int i = 0; i < kGroupBlocks && r == 0; ++i) r = ReadBack(base + static_cast<uint32_t>(i), i);
        return r;
    }

    // Block `block` must hold what this thread wrote there last.
    uint32_t ReadBack(uint32_t block, int index)
    {
        uint8_t expected[32], read[32];
        BlockPattern(slot_, lastRound_, index, expected);
        const uint32_t r = Checked("ReadMemoryBlock", ReadMemoryBlock(context_, read, block));
        if (r == 0 && std::memcmp(read, expected, sizeof(read)) != 0) {
            std::fprintf(stderr, "process %d thread %d: block %u does not hold what was written\n", process_, thread_,
                         block);
            tally_->failures += 1;
        }
        return r;
    }

    // Drops one area's shared image and reads from it again: one whole-area
    // sequence of 32-byte chunks unless another thread reloads it first.
    uint32_t Reload(int round)
    {
        const uint32_t area = static_cast<uint32_t>((round + slot_) % 2);
        const uint32_t r = Checked("InvalidateMemoryImage", InvalidateMemoryImage(context_, area));
        if (r != 0) return r;
        if (area == 1 && lastRound_ >= 0)
            return ReadBack(kFirstPrivateBlock + static_cast<uint32_t>(slot_ * kGroupBlocks), 0);
        uint8_t out[32];
        return Checked("ReadMemoryBlock", ReadMemoryBlock(context_, out, area == 0 ? 5 : kFirstPrivateBlock));
    }

    // One exchange that takes the key only for itself.
    void Single()
    {
        uint8_t sample[1];
        Count(Checked("GetDeviceRandom", GetDeviceRandom(context_, sample, 1)), &tally_->singles);
    }

    uint32_t ShortSession()
    {
        uint32_t r = Checked("LogoutDevice", LogoutDevice(context_));
        if (r != 0) return r;
        if (!Login("AuthenticateDevice after a logout")) return KEYERR_DEVICE_BUSY;
        uint8_t sample[8];
        return Checked("GetDeviceRandom", GetDeviceRandom(context_, sample, sizeof(sample)));
    }

    uint32_t Relogin()
    {
        const uint32_t r = Checked("LogoutDevice", LogoutDevice(context_));
        if (r != 0) return r;
        return Login("AuthenticateDevice after logout") ? 0 : KEYERR_DEVICE_BUSY;
    }

    int process_, thread_, slot_;
    const SignKey& key_;
    Tally* tally_;
    DeviceContext* context_ = nullptr;
    int lastRound_ = -1;
};

// One child: kThreads workers that start together when the parent says go.
int RunProcess(int process, const SignKey& key, int readyFd, int goFd, int tallyFd)
{
    std::vector<Tally> tallies(kThreads);
    std::latch started(kThreads);
    std::latch go(1);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            Worker w(process, t, key, &tallies[t]);
            const bool ok = w.Start();
            started.count_down();
            go.wait();
            if (ok) w.Run();
            w.Finish();
        });
    started.wait();
    char c = 'r';
    bool gate = write(readyFd, &c, 1) == 1 && read(goFd, &c, 1) == 1;
    go.count_down();
    for (auto& t : threads) t.join();
    Tally sum;
    for (const Tally& t : tallies) sum += t;
    gate = gate && write(tallyFd, &sum, sizeof(sum)) == static_cast<ssize_t>(sizeof(sum));
    return gate && sum.failures == 0 ? 0 : 1;
}

// The multi-block sequences found in the key's log.
struct Sequences {
    int keyWrites = 0;
    int writeGroups = 0;
    int areaReads = 0;
    int upgrades = 0;
    int logins = 0;  // LOGIN_NEW alone, or the upgrade sequence
    int logouts = 0;
    bool sessionOpen = false;
    std::string fault;  // the first sequence broken by a foreign command
};

// Reads the log as a stream of sequences. Whole-area reads are runs of
// command 11 over every chunk of the area in order; a key write is command 68
// with chunk numbers 0 to 4 in a row; a write group is four writes (command
// 70) to four consecutive blocks of one thread's range, where a whole read of
// the private area may sit between two writes (the writer reloading the image
// another thread dropped); the login that installs the new password scheme is
// 1, 101, 20 and the new login (13 for the capabilities, 131) in a row. Anything else inside a sequence is foreign.
// Logins and logouts must alternate: the key never sees a login while its session is open, nor a logout without one.
Sequences ParseSequences(const std::vector<LoggedCommand>& log)
{
    Sequences s;
    size_t i = 0;
    auto at = [&](size_t k) { return k < log.size() ? log[k] : LoggedCommand{-1, -1, 0, 0, 0}; };
    auto broken = [&](const char* what, size_t start) {
        char text[200];
        const LoggedCommand c = at(i);
        std::snprintf(text, sizeof(text), "%s starting at entry %zu broken at entry %zu by cmd=%d par=%d", what, start,
                      i, c.cmd, c.par);
        s.fault = text;
    };
    auto areaRun = [&](int first, int count) {
        const size_t start = i;
        for (int p = first; p < first + count; ++p, ++i)
            if (at(i).cmd != KEYCMD_READ_MEMORY || at(i).par != p) {
                broken("area read", start);
                return false;
            }
        s.areaReads += 1;
        return true;
    };
    while (i < log.size() && s.fault.empty()) {
        const LoggedCommand c = log[i];
        if (c.cmd == KEYCMD_WRITE_SIGN_KEY) {
            const size_t start = i;
            for (int k = 0; k < kSignKeyChunks && s.fault.empty(); ++k, ++i)
                if (at(i).cmd != KEYCMD_WRITE_SIGN_KEY || at(i).par != k) broken("key write", start);
            s.keyWrites += 1;
        } else if (c.cmd == KEYCMD_READ_MEMORY) {
            if (c.par == 0)
                areaRun(0, kPublicChunks);
            else if (c.par == kFirstPrivateBlock)
                areaRun(kFirstPrivateBlock, kPrivateChunks);
            else
                broken("area read", i);
        } else if (c.cmd == KEYCMD_WRITE_MEMORY) {
            const size_t start = i;
            const int base = c.par;
            if ((base - kFirstPrivateBlock) % kGroupBlocks != 0) broken("write group", start);
            for (int k = 0; k < kGroupBlocks && s.fault.empty(); ++k) {
                if (k > 0 && at(i).cmd == KEYCMD_READ_MEMORY && at(i).par == kFirstPrivateBlock &&
                    !areaRun(kFirstPrivateBlock, kPrivateChunks))
                    break;
                if (at(i).cmd != KEYCMD_WRITE_MEMORY || at(i).par != base + k)
                    broken("write group", start);
                else
                    ++i;
            }
            s.writeGroups += 1;
        } else if (c.cmd == KEYCMD_LOGIN) {
            const size_t start = i;
            for (int expected :
                 {KEYCMD_LOGIN, KEYCMD_CHANGE_PASSWORD_NEW, KEYCMD_LOGOUT, KEYCMD_GET_DEVICE_INFO, KEYCMD_LOGIN_NEW}) {
                if (at(i).cmd != expected || at(i).status != 0) {
                    broken("upgrade login", start);
                    break;
                }
                ++i;
            }
            if (s.sessionOpen) broken("login over an open session", start);
            s.upgrades += 1;
            s.logins += 1;
            s.sessionOpen = true;
        } else if (c.cmd == KEYCMD_LOGIN_NEW || c.cmd == KEYCMD_LOGOUT) {
            const bool login = c.cmd == KEYCMD_LOGIN_NEW;
            if (s.sessionOpen == login) broken(login ? "login over an open session" : "logout without a session", i);
            (login ? s.logins : s.logouts) += 1;
            s.sessionOpen = login;
            ++i;
        } else {
            ++i;  // a single exchange
        }
    }
    return s;
}

TEST(ParseSequencesTest, FindsAForeignCommandInsideEachKindOfSequence)
{
    auto run = [](int cmd, int first, int count) {
        std::vector<LoggedCommand> v;
        for (int p = first; p < first + count; ++p) v.push_back({cmd, p, 0, 76, 0});
        return v;
    };
    auto cat = [](std::vector<std::vector<LoggedCommand>> parts) {
        std::vector<LoggedCommand> v;
        for (auto& p : parts) v.insert(v.end(), p.begin(), p.end());
        return v;
    };
    const auto keyWrite = run(KEYCMD_WRITE_SIGN_KEY, 0, 5);
    const auto publicRead = run(KEYCMD_READ_MEMORY, 0, 128);
    const auto privateRead = run(KEYCMD_READ_MEMORY, 128, 96);
    const auto random = run(KEYCMD_GET_RANDOM, 0, 1);
    std::vector<LoggedCommand> group = run(KEYCMD_WRITE_MEMORY, 132, 2);
    group.insert(group.end(), privateRead.begin(), privateRead.end());
    const auto rest = run(KEYCMD_WRITE_MEMORY, 134, 2);
    group.insert(group.end(), rest.begin(), rest.end());

    const Sequences good = ParseSequences(cat({publicRead, random, keyWrite, group, random, privateRead}));
    EXPECT_EQ(good.fault, "");
    EXPECT_EQ(good.keyWrites, 1);
    EXPECT_EQ(good.writeGroups, 1);
    EXPECT_EQ(good.areaReads, 3);

    auto withInsert = [&](std::vector<LoggedCommand> v, size_t at, const std::vector<LoggedCommand>& what) {
        v.insert(v.begin() + static_cast<long>(at), what.begin(), what.end());
        return ParseSequences(v).fault;
    };
    EXPECT_NE(withInsert(keyWrite, 2, random), "");
    EXPECT_NE(withInsert(keyWrite, 3, keyWrite), "");
    EXPECT_NE(withInsert(publicRead, 64, random), "");
    EXPECT_NE(withInsert(privateRead, 10, run(KEYCMD_WRITE_MEMORY, 128, 1)), "");
    EXPECT_NE(withInsert(group, 1, random), "");
    EXPECT_NE(withInsert(group, 1, run(KEYCMD_WRITE_MEMORY, 140, 4)), "");
    EXPECT_NE(ParseSequences(cat({run(KEYCMD_WRITE_SIGN_KEY, 0, 4), random})).fault, "") << "a key write cut short";

    const std::vector<LoggedCommand> upgrade = {{KEYCMD_LOGIN, 0, 2, 64, 0},
                                                {KEYCMD_CHANGE_PASSWORD_NEW, 0, 2, 64, 0},
                                                {KEYCMD_LOGOUT, 0, 0, 76, 0},
                                                {KEYCMD_GET_DEVICE_INFO, 0, 0, 76, 0},
                                                {KEYCMD_LOGIN_NEW, 0, 2, 76, 0}};
    const auto login = run(KEYCMD_LOGIN_NEW, 0, 1);
    const auto logout = run(KEYCMD_LOGOUT, 0, 1);
    const Sequences sessions = ParseSequences(cat({upgrade, random, logout, login, keyWrite, logout}));
    EXPECT_EQ(sessions.fault, "");
    EXPECT_EQ(sessions.upgrades, 1);
    EXPECT_EQ(sessions.logins, 2);
    EXPECT_EQ(sessions.logouts, 2);
    EXPECT_FALSE(sessions.sessionOpen);
    EXPECT_NE(withInsert(upgrade, 2, random), "");
    EXPECT_NE(withInsert(upgrade, 3, random), "");
    EXPECT_NE(ParseSequences(cat({login, random, login})).fault, "");
    EXPECT_NE(ParseSequences(cat({login, logout, logout})).fault, "");
}

TEST(DeviceConcurrencyE2ETest, MultiBlockSequencesStayWholeUnderLoad)
{
    const std::string prefix = "qvkconc" + std::to_string(getpid()) + "_";
    setenv("WEMU_NAME_PREFIX", prefix.c_str(), 1);
    SignKey key;
    ASSERT_TRUE(MakeSignKey(&key));
    // Without the new password scheme yet: the first of the concurrent logins
    // installs it with the four-command upgrade.
    RigKey rigKey(kSerial, 18, kPassword);
    rigKey.capability = 0;
    KeyRig rig({rigKey});
    const size_t mark = KeyCommandLog(rig, 0).size();

    int ready[2], go[2], tallies[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(go), 0);
    ASSERT_EQ(pipe(tallies), 0);
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p)
        children.push_back(
            SpawnChild([&, p] { return RunProcess(p, key, ready[1], go[0], tallies[1]); }, CloseSharedMemory));
    for (int p = 0; p < kProcesses; ++p) {
        char c;
        ASSERT_EQ(read(ready[0], &c, 1), 1);
    }
    // Everybody has opened and logged in; now all sequences run at once.
    for (int p = 0; p < kProcesses; ++p) ASSERT_EQ(write(go[1], "g", 1), 1);
    Tally total;
    for (pid_t child : children) EXPECT_EQ(WaitChild(child), 0);
    for (int p = 0; p < kProcesses; ++p) {
        Tally t;
        ASSERT_EQ(read(tallies[0], &t, sizeof(t)), static_cast<ssize_t>(sizeof(t)));
        total += t;
    }
    EXPECT_EQ(total.failures, 0);
    // Every sequence either ran or was refused as busy (never silently skipped).
    const int rounds = kProcesses * kThreads * kRounds;
    EXPECT_EQ(total.keyWrites + total.writeGroups + total.reloads + total.relogins + total.singles + total.busy,
              8 * rounds + 2 * kProcesses * kThreads * kShortSessions);
    RecordProperty("busy", total.busy);

    const std::vector<LoggedCommand> all = KeyCommandLog(rig, 0);
    const std::vector<LoggedCommand> log(all.begin() + static_cast<long>(mark), all.end());
    const Sequences s = ParseSequences(log);
    EXPECT_EQ(s.fault, "");
    EXPECT_EQ(s.keyWrites, total.keyWrites) << "every key write reached the key as one sequence";
    EXPECT_EQ(s.writeGroups, total.writeGroups);
    EXPECT_GT(s.areaReads, kProcesses) << "the reloads went to the key";
    EXPECT_EQ(s.upgrades, 1);
    EXPECT_EQ(s.logins, s.logouts);
    EXPECT_FALSE(s.sessionOpen) << "the last user of the shared session logged the key out";
    for (const LoggedCommand& c : log) {
        if (c.cmd == KEYCMD_WRITE_SIGN_KEY || c.cmd == KEYCMD_WRITE_MEMORY || c.cmd == KEYCMD_READ_MEMORY) {
            ASSERT_EQ(c.status, 0) << "cmd=" << c.cmd << " par=" << c.par;
        }
    }
}

}  // namespace
}  // namespace qvk::e2e
