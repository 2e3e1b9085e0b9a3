// The built module, loaded with dlopen, against an emulated key behind a real
// pcscd when things go wrong under a live session: the key resets (its
// session with the host is gone; the next C_Sign logs in again with the
// cached PIN and succeeds), the key is unplugged (the command fails with
// CKR_DEVICE_ERROR after recovery fails, and the slot is gone at the next
// slot list), and two processes with several threads each sign with one key
// pair at the same time, each thread writing a token object on the way.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "E2EProcess.h"
#include "KeyCommandLog.h"
#include "KeyRig.h"
#include "Pkcs11Module.h"
#include "device/DeviceProtocol.h"

namespace qvk::e2e {
namespace {

using Bytes = std::vector<CK_BYTE>;

CK_RV Random(LoadedModule& m, CK_SESSION_HANDLE h, std::string* out, std::size_t n = 32)
{
    out->assign(n, '\0');
    return m.f->C_GenerateRandom(h, reinterpret_cast<CK_BYTE*>(out->data()), n);
}

// A public data object on the token.
CK_RV CreateTokenData(LoadedModule& m, CK_SESSION_HANDLE h, const std::string& label)
{
    CK_OBJECT_CLASS dataClass = CKO_DATA;
    CK_BBOOL yes = CK_TRUE, no = CK_FALSE;
    CK_ATTRIBUTE t[] = {{CKA_CLASS, &dataClass, sizeof(dataClass)},
                        {CKA_TOKEN, &yes, 1},
                        {CKA_PRIVATE, &no, 1},
                        {CKA_LABEL, const_cast<char*>(label.data()), label.size()},
                        {CKA_VALUE, const_cast<char*>(label.data()), label.size()}};
    CK_OBJECT_HANDLE object = 0;
    return m.f->C_CreateObject(h, t, 5, &object);
}

// The objects of a class the session sees.
std::vector<CK_OBJECT_HANDLE> Objects(LoadedModule& m, CK_SESSION_HANDLE h, CK_OBJECT_CLASS objectClass)
{
    CK_ATTRIBUTE find[] = {{CKA_CLASS, &objectClass, sizeof(objectClass)}};
    std::vector<CK_OBJECT_HANDLE> found;
    if (m.f->C_FindObjectsInit(h, find, 1) != CKR_OK) return found;
    CK_OBJECT_HANDLE objects[64];
    CK_ULONG count = 0;
    if (m.f->C_FindObjects(h, objects, 64, &count) == CKR_OK) found.assign(objects, objects + count);
    m.f->C_FindObjectsFinal(h);
    return found;
}

// The labels of the token's data objects.
std::set<std::string> TokenDataLabels(LoadedModule& m, CK_SESSION_HANDLE h)
{
    std::set<std::string> labels;
    for (CK_OBJECT_HANDLE object : Objects(m, h, CKO_DATA)) {
        char label[64];
        CK_ATTRIBUTE a{CKA_LABEL, label, sizeof(label)};
        if (m.f->C_GetAttributeValue(h, object, &a, 1) == CKR_OK) labels.insert(std::string(label, a.ulValueLen));
    }
    return labels;
}

Bytes Message(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

// Signs with the DSTU 7564-256 hash of the message computed on the host.
constexpr CK_MECHANISM_TYPE kSignMechanism = CKM_DSTU4145_DSTU7564_256;

class Pkcs11RecoveryE2E : public ::testing::Test {
protected:
    void SetUp() override { setenv("WEMU_NAME_PREFIX", ("qvkp11rec" + std::to_string(getpid())).c_str(), 1); }
    void TearDown() override { unsetenv("WEMU_NAME_PREFIX"); }

    // Starts the key and gives its token a record.
    void StartInitialised(uint32_t serial)
    {
        rig_ = std::make_unique<KeyRig>(std::vector<RigKey>{RigKey(serial, 18, kRigPin)});
        LoadedModule m;
        ASSERT_TRUE(m.ok()) << dlerror();
        ASSERT_NO_FATAL_FAILURE(m.InitializeToken("recovery"));
    }

    // A user session of m (loaded here) in which a signature key pair was
    // made on the key.
    static void SigningSession(LoadedModule& m, CK_SESSION_HANDLE* h, CK_OBJECT_HANDLE* pub, CK_OBJECT_HANDLE* priv)
    {
        ASSERT_TRUE(m.ok());
        ASSERT_NO_FATAL_FAILURE(m.Initialize());
        *h = m.LoggedIn();
        ASSERT_EQ(m.GenerateSigningPair(*h, m.FirstCurveParams(*h), pub, priv), CKR_OK);
    }

    // Starts the key, gives its token a record and makes a signature key pair
    // on it, in a module unloaded again.
    void StartWithSigningPair(uint32_t serial)
    {
        ASSERT_NO_FATAL_FAILURE(StartInitialised(serial));
        LoadedModule m;
        CK_SESSION_HANDLE h = 0;
        CK_OBJECT_HANDLE pub = 0, priv = 0;
        ASSERT_NO_FATAL_FAILURE(SigningSession(m, &h, &pub, &priv));
    }

    std::unique_ptr<KeyRig> rig_;
};

TEST_F(Pkcs11RecoveryE2E, AResetKeyIsLoggedInAgainAndTheSignatureSucceeds)
{
    StartInitialised(4501);
    LoadedModule m;
    CK_SESSION_HANDLE h = 0;
    CK_OBJECT_HANDLE pub = 0, priv = 0;
    ASSERT_NO_FATAL_FAILURE(SigningSession(m, &h, &pub, &priv));
    const Bytes message = Message("signed across a reset");
    Bytes before, after;
    ASSERT_EQ(m.Sign(h, kSignMechanism, priv, message, &before), CKR_OK);

    const std::size_t mark = KeyCommandLog(*rig_, 0).size();
    rig_->Control("reset 0");
    ASSERT_EQ(m.Sign(h, kSignMechanism, priv, message, &after), CKR_OK);
    EXPECT_EQ(m.Verify(h, kSignMechanism, pub, message, after), CKR_OK);
    EXPECT_NE(before, after) << "a fresh signature";
    std::vector<LoggedCommand> log = KeyCommandLog(*rig_, 0);
    // Reads of the storage change mark (the verification reads the stored key) come after.
    while (!log.empty() && log.back().cmd == KEYCMD_READ_AUX) log.pop_back();
    ASSERT_GT(log.size(), mark);
    // The key lost its session with the host: the module logged in again
    // with the cached PIN (the key's new-protocol login) and signed.
    int logins = 0;
    for (std::size_t i = mark; i < log.size(); ++i) logins += log[i].cmd == KEYCMD_LOGIN_NEW && log[i].status == 0;
    EXPECT_EQ(logins, 1);
    EXPECT_EQ(log.back().cmd, KEYCMD_SIGN_HASH);
    EXPECT_EQ(log.back().status, 0);

    CK_SESSION_INFO info{};
    ASSERT_EQ(m.f->C_GetSessionInfo(h, &info), CKR_OK);
    EXPECT_EQ(info.state, CKS_RW_USER_FUNCTIONS);
}

TEST_F(Pkcs11RecoveryE2E, AnUnpluggedKeyFailsItsSessionAndLeavesTheSlotList)
{
    StartInitialised(4502);
    LoadedModule m;
    ASSERT_TRUE(m.ok());
    ASSERT_NO_FATAL_FAILURE(m.Initialize());
    const CK_SESSION_HANDLE h = m.LoggedIn();
    std::string bytes;
    ASSERT_EQ(Random(m, h, &bytes), CKR_OK);

    rig_->Control("unplug 0");
    ASSERT_TRUE(rig_->WaitCard(0, false));
    EXPECT_EQ(Random(m, h, &bytes), CKR_DEVICE_REMOVED);
    const CK_SLOT_ID slot = m.slot;
    EXPECT_EQ(m.Slots().size(), 0u);
    CK_SLOT_INFO info{};
    EXPECT_EQ(m.f->C_GetSlotInfo(slot, &info), CKR_SLOT_ID_INVALID);

    // Plugged in again, the key comes back in the same slot.
    rig_->Control("replug 0");
    ASSERT_TRUE(rig_->WaitCard(0, true));
    ASSERT_EQ(m.Slots(), std::vector<CK_SLOT_ID>{slot});
    const CK_SESSION_HANDLE again = m.LoggedIn();
    EXPECT_EQ(Random(m, again, &bytes), CKR_OK);
}

// Two processes of four threads each sign with the key's one signature key
// pair, draw random numbers and write a token object, all at once. Each
// signature goes back to the parent with the message it signs: every one
// verifies with the public key (no answer reached another thread or mixed
// with another), and every token object is there afterwards.
TEST_F(Pkcs11RecoveryE2E, TwoProcessesWithSeveralThreadsSignWithOneKey)
{
    ASSERT_NO_FATAL_FAILURE(StartWithSigningPair(4503));
    constexpr int kThreads = 4;
    constexpr int kCalls = 8;
    constexpr std::size_t kSignatureBytes = 42;  // an order of 163 bits
    // The message thread t of process pid signs in its call i.
    auto message = [](pid_t pid, int t, int i) {
        return Message("process " + std::to_string(pid) + " thread " + std::to_string(t) + " call " +
                       std::to_string(i));
    };
    Channel channels[2];
    pid_t children[2];
    for (int p = 0; p < 2; ++p) {
        Channel& channel = channels[p];
        children[p] = SpawnChild([&channel, &message] {
            LoadedModule m;
            // Slot ids come from the slot list, as in any application.
            if (!m.ok() || m.f->C_Initialize(nullptr) != CKR_OK || m.Slots().size() != 1) return 1;
            std::atomic<int> failures{0};
            std::vector<std::string> outputs(kThreads * kCalls);
            std::vector<Bytes> signatures(kThreads * kCalls);
            std::vector<std::thread> threads;
            for (int t = 0; t < kThreads; ++t) {
                threads.emplace_back([&, t] {
                    CK_SESSION_HANDLE h = 0;
                    std::vector<CK_OBJECT_HANDLE> keys;
                    if (m.f->C_OpenSession(m.slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &h) !=
                            CKR_OK ||
                        m.f->C_Login(h, CKU_USER, U(kRigPin), kRigPin.size()) != CKR_OK ||
                        (keys = Objects(m, h, CKO_PRIVATE_KEY)).size() != 1) {
                        failures += 2 * kCalls + 1;
                        return;
                    }
                    for (int i = 0; i < kCalls; ++i) {
                        const int n = t * kCalls + i;
                        if (Random(m, h, &outputs[n], 16) != CKR_OK) ++failures;
                        const CK_RV signRv =
                            m.Sign(h, kSignMechanism, keys[0], message(getpid(), t, i), &signatures[n]);
                        if (signRv != CKR_OK || signatures[n].size() != kSignatureBytes) {
                            std::fprintf(stderr, "C_Sign: rv 0x%lx\n", static_cast<unsigned long>(signRv));
                            ++failures;
                            signatures[n].resize(kSignatureBytes);
                        }
                        // Each thread writes one token object half-way, while
                        // the others keep the key busy.
                        if (i == kCalls / 2) {
                            const CK_RV rv =
                                CreateTokenData(m, h, "p" + std::to_string(getpid()) + "t" + std::to_string(t));
                            if (rv != CKR_OK) {
                                std::fprintf(stderr, "C_CreateObject: rv 0x%lx\n", static_cast<unsigned long>(rv));
                                ++failures;
                            }
                        }
                    }
                    m.f->C_CloseSession(h);
                });
            }
            for (std::thread& t : threads) t.join();
            const int failed = failures.load();
            const pid_t self = getpid();
            channel.Send(&self, sizeof(self));
            channel.Send(&failed, sizeof(failed));
            for (const std::string& o : outputs) channel.Send(o.data(), 16);
            for (const Bytes& s : signatures) channel.Send(s.data(), kSignatureBytes);
            return 0;
        });
    }
    std::set<std::string> seen;
    std::set<std::string> written;
    pid_t pids[2] = {};
    std::vector<Bytes> signatures[2];
    for (int p = 0; p < 2; ++p) {
        ASSERT_TRUE(channels[p].Receive(&pids[p], sizeof(pids[p])));
        for (int t = 0; t < kThreads; ++t) written.insert("p" + std::to_string(pids[p]) + "t" + std::to_string(t));
        int failed = -1;
        ASSERT_TRUE(channels[p].Receive(&failed, sizeof(failed)));
        EXPECT_EQ(failed, 0) << "process " << p;
        for (int i = 0; i < kThreads * kCalls; ++i) {
            std::string o(16, '\0');
            ASSERT_TRUE(channels[p].Receive(o.data(), o.size()));
            seen.insert(o);
        }
        signatures[p].assign(kThreads * kCalls, Bytes(kSignatureBytes));
        for (Bytes& s : signatures[p]) ASSERT_TRUE(channels[p].Receive(s.data(), s.size()));
    }
    for (pid_t child : children) EXPECT_EQ(WaitChild(child), 0);
    // Every answer reached the thread that asked for it, whole.
    EXPECT_EQ(seen.size(), 2u * kThreads * kCalls);
    // No command met the key busy or was answered out of turn.
    for (const LoggedCommand& c : KeyCommandLog(*rig_, 0)) {
        EXPECT_NE(c.status, KEYERR_DEVICE_BUSY);
        EXPECT_NE(c.status, KEYERR_CORRUPTED_REQUEST);
    }

    // The token's record came through whole, a new process finds every
    // object that every thread wrote, and every signature verifies with the
    // public key over the message its thread signed (and over no other).
    LoadedModule m;
    ASSERT_TRUE(m.ok());
    ASSERT_NO_FATAL_FAILURE(m.Initialize());
    CK_TOKEN_INFO info{};
    ASSERT_EQ(m.f->C_GetTokenInfo(m.slot, &info), CKR_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(info.label), 8), "recovery");
    const CK_SESSION_HANDLE h = m.Open(CKF_SERIAL_SESSION);
    EXPECT_EQ(TokenDataLabels(m, h), written);
    const std::vector<CK_OBJECT_HANDLE> publicKeys = Objects(m, h, CKO_PUBLIC_KEY);
    ASSERT_EQ(publicKeys.size(), 1u);
    for (int p = 0; p < 2; ++p) {
        for (int t = 0; t < kThreads; ++t) {
            for (int i = 0; i < kCalls; ++i) {
                const Bytes& signature = signatures[p][t * kCalls + i];
                EXPECT_EQ(m.Verify(h, kSignMechanism, publicKeys[0], message(pids[p], t, i), signature), CKR_OK)
                    << "process " << p << " thread " << t << " call " << i;
            }
        }
    }
    EXPECT_EQ(m.Verify(h, kSignMechanism, publicKeys[0], message(pids[0], 0, 1), signatures[0][0]),
              CKR_SIGNATURE_INVALID);
}

// The key's count of failed password tries, as the key itself reports it.
int KeyFailedTries(const KeyRig& rig)
{
    const std::string dump = rig.Control("dump 0");
    const std::size_t at = dump.find("failed tries ");
    return at == std::string::npos ? -1 : std::atoi(dump.c_str() + at + 13);
}

// Two programs whose session caches are their own (another WEMU_NAME_PREFIX)
// sign with the key in turns, each taking the key's one session over with its
// cached PIN. Then one changes the PIN: the other hears that its PIN is wrong
// at its next signature, and the key counts at most one failed try for it
// however often it signs afterwards.
TEST_F(Pkcs11RecoveryE2E, TwoSessionCachesSignInTurnsAndAPinChangedByOneCostsTheOtherOneTry)
{
    ASSERT_NO_FATAL_FAILURE(StartWithSigningPair(4504));
    const std::string prefix = std::getenv("WEMU_NAME_PREFIX");
    const std::string kNewPin = "87654321";
    constexpr int kRounds = 3;
    Channel channels[2];
    pid_t children[2];
    for (int p = 0; p < 2; ++p) {
        Channel& channel = channels[p];
        children[p] = SpawnChild([&channels, &prefix, &kNewPin, p] {
            Channel& channel = channels[p];
            // Only this child writes to its channel: one that dies ends the
            // parent's wait instead of leaving it blocked.
            close(channels[1 - p].up[1]);
            setenv("WEMU_NAME_PREFIX", (prefix + (p == 0 ? "x" : "y")).c_str(), 1);
            LoadedModule m;
            if (!m.ok() || m.f->C_Initialize(nullptr) != CKR_OK || m.Slots().size() != 1) return 1;
            const CK_SESSION_HANDLE h = m.LoggedIn();
            const std::vector<CK_OBJECT_HANDLE> keys = Objects(m, h, CKO_PRIVATE_KEY);
            const CK_RV ready = keys.size() == 1 ? CKR_OK : CKR_GENERAL_ERROR;
            channel.Send(&ready, sizeof(ready));
            if (ready != CKR_OK) return 2;
            // Each release: one signature (the last one of the second
            // program changes the PIN and logs out instead).
            const int turns = p == 0 ? kRounds + 4 : kRounds + 1;
            for (int round = 0; round < turns && channel.WaitRelease(); ++round) {
                CK_RV rv = CKR_OK;
                if (p == 1 && round == kRounds) {
                    rv = m.f->C_SetPIN(h, U(kRigPin), kRigPin.size(), U(kNewPin), kNewPin.size());
                    if (rv == CKR_OK) rv = m.f->C_Logout(h);
                } else {
                    Bytes signature;
                    rv = m.Sign(h, kSignMechanism, keys[0], Message("turn " + std::to_string(round)), &signature);
                }
                channel.Send(&rv, sizeof(rv));
            }
            m.f->C_Finalize(nullptr);
            return 0;
        });
        close(channel.up[1]);
        // One program logs in after the other: each takes the key over in turn.
        CK_RV ready = ~CK_RV{0};
        ASSERT_TRUE(channel.Receive(&ready, sizeof(ready)));
        ASSERT_EQ(ready, CKR_OK) << "program " << p;
    }
    auto turn = [&](int p) {
        channels[p].Release();
        CK_RV rv = ~CK_RV{0};
        EXPECT_TRUE(channels[p].Receive(&rv, sizeof(rv)));
        return rv;
    };
    for (int round = 0; round < kRounds; ++round)
        for (int p = 0; p < 2; ++p) EXPECT_EQ(turn(p), CKR_OK) << "round " << round << ", program " << p;
    EXPECT_EQ(KeyFailedTries(*rig_), 0);

    EXPECT_EQ(turn(1), CKR_OK) << "the PIN changed and the key logged out";
    EXPECT_EQ(turn(0), CKR_PIN_INCORRECT);
    for (int i = 0; i < 3; ++i) EXPECT_NE(turn(0), CKR_OK);
    EXPECT_LE(KeyFailedTries(*rig_), 1);
    for (pid_t child : children) EXPECT_EQ(WaitChild(child), 0);
}

}  // namespace
}  // namespace qvk::e2e
