// A writer process killed (SIGKILL) at each command of one token object's
// write in turn, through the module on the rig: the rig's key carries out the
// chosen command and holds its answer back, the writer stalls there and is
// killed. A process that kept the module loaded meanwhile, and a new process,
// then find the token with every earlier object, and the killed write's
// object whole or not at all (a killed removal: as before or gone); and the
// token takes writes.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "E2EProcess.h"
#include "KeyRig.h"
#include "Pkcs11Module.h"

namespace qvk::e2e {
namespace {

struct StoredObject {
    std::string label;
    bool isPrivate;
    std::string value;
};

std::string Value(std::size_t n, char seed)
{
    std::string v(n, ' ');
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<char>(seed + static_cast<char>(i % 61));
    return v;
}

// On the token before the write: public and private objects (the unit test
// of the write has them across pages; here each area's content stays within
// its first page, which keeps the number of commands of a write, and so of
// the processes to kill, small).
const std::vector<StoredObject>& Earlier()
{
    static const std::vector<StoredObject> objects = {
        {"first", false, Value(300, 'a')},
        {"second", false, Value(200, 'b')},
        {"secret", true, Value(300, 'c')},
        {"secret2", true, Value(200, 'd')},
    };
    return objects;
}

CK_RV Create(LoadedModule& m, CK_SESSION_HANDLE h, const StoredObject& o)
{
    CK_OBJECT_CLASS cls = CKO_DATA;
    CK_BBOOL yes = CK_TRUE;
    CK_BBOOL isPrivate = o.isPrivate ? CK_TRUE : CK_FALSE;
    CK_ATTRIBUTE t[] = {{CKA_CLASS, &cls, sizeof(cls)},
                        {CKA_TOKEN, &yes, 1},
                        {CKA_PRIVATE, &isPrivate, 1},
                        {CKA_LABEL, const_cast<char*>(o.label.data()), o.label.size()},
                        {CKA_VALUE, const_cast<char*>(o.value.data()), o.value.size()}};
    CK_OBJECT_HANDLE object = 0;
    return m.f->C_CreateObject(h, t, 5, &object);
}

// The one object of the label, or CK_INVALID_HANDLE.
CK_OBJECT_HANDLE FindOne(LoadedModule& m, CK_SESSION_HANDLE h, const std::string& label)
{
    CK_ATTRIBUTE pattern{CKA_LABEL, const_cast<char*>(label.data()), label.size()};
    if (m.f->C_FindObjectsInit(h, &pattern, 1) != CKR_OK) return CK_INVALID_HANDLE;
    CK_OBJECT_HANDLE found = CK_INVALID_HANDLE;
    CK_ULONG n = 0;
    const CK_RV rv = m.f->C_FindObjects(h, &found, 1, &n);
    m.f->C_FindObjectsFinal(h);
    return rv == CKR_OK && n == 1 ? found : CK_INVALID_HANDLE;
}

// How many objects of the label the session finds, or -1 when one of them
// does not carry the value or a call fails.
int Count(LoadedModule& m, CK_SESSION_HANDLE h, const StoredObject& o)
{
    CK_ATTRIBUTE pattern{CKA_LABEL, const_cast<char*>(o.label.data()), o.label.size()};
    if (m.f->C_FindObjectsInit(h, &pattern, 1) != CKR_OK) return -1;
    CK_OBJECT_HANDLE found[4];
    CK_ULONG n = 0;
    const CK_RV rv = m.f->C_FindObjects(h, found, 4, &n);
    m.f->C_FindObjectsFinal(h);
    if (rv != CKR_OK) return -1;
    for (CK_ULONG i = 0; i < n; ++i) {
        std::string value(o.value.size() + 1, '\0');
        CK_ATTRIBUTE a{CKA_VALUE, value.data(), value.size()};
        if (m.f->C_GetAttributeValue(h, found[i], &a, 1) != CKR_OK) return -1;
        value.resize(a.ulValueLen);
        if (value != o.value) return -1;
    }
    return static_cast<int>(n);
}

// The pipes of a Channel closed when it goes (a test makes hundreds).
struct ClosingChannel : Channel {
    ~ClosingChannel()
    {
        for (int fd : {up[0], up[1], down[0], down[1]}) close(fd);
    }
};

// A child process that answers with one line.
class AnsweringChild {
public:
    // Runs body in a child process; `channel` lets it wait for the parent.
    explicit AnsweringChild(const std::function<std::string(Channel&)>& body)
    {
        pid_ = SpawnChild([&] {
            const std::string answer = body(channel_) + "\n";
            return channel_.Send(answer.data(), answer.size()) ? 0 : 1;
        });
        // A child that dies without an answer ends the read.
        close(channel_.up[1]);
        channel_.up[1] = -1;
    }
    Channel& channel() { return channel_; }
    // The line the child wrote, once it has ended.
    std::string Answer()
    {
        std::string answer;
        char c;
        while (channel_.Receive(&c, 1) && c != '\n') answer += c;
        WaitChild(pid_);
        return answer;
    }

private:
    ClosingChannel channel_;
    pid_t pid_ = -1;
};

// Runs body in a child process and gives back the line it wrote.
std::string ChildAnswer(const std::function<std::string()>& body)
{
    return AnsweringChild([&](Channel&) { return body(); }).Answer();
}

// The public objects a session finds before any login: "ok N" with N objects
// of `added`, or the earlier object that is missing.
std::string PublicObjects(LoadedModule& m, CK_SESSION_HANDLE h, const StoredObject& added)
{
    for (const StoredObject& o : Earlier())
        if (!o.isPrivate && o.label != added.label && Count(m, h, o) != 1) return "before the login: " + o.label;
    return "ok " + std::to_string(added.isPrivate ? 0 : Count(m, h, added));
}

class Pkcs11TornWriteE2E : public ::testing::Test {
protected:
    void SetUp() override
    {
        rig_ = std::make_unique<KeyRig>(std::vector<RigKey>{RigKey(6201, 18, kRigPin)});
        prefix_ = "qvktorn" + std::to_string(getpid()) + "_";
        const std::string made = ChildAnswer([&] {
            setenv("WEMU_NAME_PREFIX", (prefix_ + "init").c_str(), 1);
            LoadedModule m;
            if (!m.ok() || m.f->C_Initialize(nullptr) != CKR_OK) return std::string("C_Initialize");
            m.Slots();
            if (m.InitToken(m.slot, kRigPin, "torn") != CKR_OK) return std::string("C_InitToken");
            const CK_SESSION_HANDLE h = m.LoggedIn();
            for (const StoredObject& o : Earlier())
                if (Create(m, h, o) != CKR_OK) return "C_CreateObject " + o.label;
            return std::string("ok");
        });
        ASSERT_EQ(made, "ok");
        rig_->Control("save 0");
        baseline_ = rig_->dir() + "/baseline.state";
        std::string output;
        ASSERT_EQ(RunShell("cp '" + rig_->dir() + "/key0.state' '" + baseline_ + "'", &output), 0) << output;
    }

    // The key back in the state the token had before the write.
    void RestoreKey() { rig_->Control("load 0 " + baseline_); }

    // A writer that logs in, reads the token's objects, then creates `added`
    // (or destroys it, an earlier object) while the key holds back its answer
    // to the command after `answered`.
    // True when the writer stalled there (and was killed); false when its
    // write ended first.
    bool KillWriterAt(int answered, const StoredObject& added, const std::string& prefix, bool destroy)
    {
        ClosingChannel channel;
        const pid_t pid = SpawnChild([&] {
            setenv("WEMU_NAME_PREFIX", prefix.c_str(), 1);
            LoadedModule m;
            if (!m.ok() || m.f->C_Initialize(nullptr) != CKR_OK) return 1;
            m.Slots();
            const CK_SESSION_HANDLE h = m.LoggedIn();
            for (const StoredObject& o : Earlier())
                if (Count(m, h, o) != 1) return 2;
            const CK_OBJECT_HANDLE target = destroy ? FindOne(m, h, added.label) : CK_INVALID_HANDLE;
            if (destroy && target == CK_INVALID_HANDLE) return 2;
            if (!channel.Send("r", 1) || !channel.WaitRelease()) return 3;
            const CK_RV rv = destroy ? m.f->C_DestroyObject(h, target) : Create(m, h, added);
            return channel.Send(&rv, sizeof(rv)) ? 0 : 4;
        });
        char ready = 0;
        EXPECT_TRUE(channel.Receive(&ready, 1)) << "the writer did not log in";
        rig_->Control("hold-answer 0 " + std::to_string(answered));
        channel.Release();
        // Until the key holds the answer or the writer has its result.
        bool held = false;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        for (;;) {
            pollfd done{channel.up[0], POLLIN, 0};
            if (poll(&done, 1, 20) == 1) break;
            if (rig_->Control("held 0").rfind("held", 0) == 0) {
                held = true;
                break;
            }
            if (std::chrono::steady_clock::now() > deadline) {
                ADD_FAILURE() << "the writer neither stalled nor ended";
                break;
            }
        }
        if (held) kill(pid, SIGKILL);
        const int status = WaitChild(pid);
        rig_->Control("release 0");
        EXPECT_EQ(status, held ? 200 + SIGKILL : 0);
        return held;
    }

    // What a new process finds: "ok N" with N objects of `added`, or what failed.
    std::string Check(const StoredObject& added, const std::string& prefix)
    {
        return ChildAnswer([&] {
            setenv("WEMU_NAME_PREFIX", prefix.c_str(), 1);
            LoadedModule m;
            if (!m.ok() || m.f->C_Initialize(nullptr) != CKR_OK) return std::string("C_Initialize");
            m.Slots();
            CK_TOKEN_INFO info{};
            if (const CK_RV rv = m.f->C_GetTokenInfo(m.slot, &info); rv != CKR_OK)
                return "C_GetTokenInfo " + std::to_string(rv);
            CK_SESSION_HANDLE h = 0;
            if (m.f->C_OpenSession(m.slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &h) != CKR_OK)
                return std::string("C_OpenSession");
            if (const std::string found = PublicObjects(m, h, added); found.rfind("ok", 0) != 0) return found;
            if (const CK_RV rv = m.f->C_Login(h, CKU_USER, U(kRigPin), kRigPin.size()); rv != CKR_OK)
                return "C_Login " + std::to_string(rv);
            for (const StoredObject& o : Earlier())
                if (o.label != added.label && Count(m, h, o) != 1) return o.label;
            const int found = Count(m, h, added);
            const StoredObject later{"later", added.isPrivate, Value(40, 'z')};
            if (const CK_RV rv = Create(m, h, later); rv != CKR_OK) return "a later write: " + std::to_string(rv);
            if (Count(m, h, later) != 1) return std::string("the later object");
            return "ok " + std::to_string(found);
        });
    }

    void KillAtEachCommand(bool isPrivate)
    {
        KillAtEachCommand({"added", isPrivate, Value(isPrivate ? 400 : 200, 'k')}, false);
    }

    // `added`: the object created, or the earlier one destroyed.
    void KillAtEachCommand(const StoredObject& added, bool destroy)
    {
        int stops = 0;
        for (int n = 0;; ++n) {
            SCOPED_TRACE("killed at command " + std::to_string(n + 1));
            ASSERT_NO_FATAL_FAILURE(RestoreKey());
            const std::string prefix = prefix_ + std::to_string(n);
            // A process of the writer's cache namespace keeps the module
            // loaded across the writer's death (as a browser does), and reads
            // the public objects, without a login, before and after it.
            AnsweringChild kept([&](Channel& channel) {
                setenv("WEMU_NAME_PREFIX", prefix.c_str(), 1);
                LoadedModule m;
                if (!m.ok() || m.f->C_Initialize(nullptr) != CKR_OK) return std::string("C_Initialize");
                m.Slots();
                CK_SESSION_HANDLE h = 0;
                if (m.f->C_OpenSession(m.slot, CKF_SERIAL_SESSION, nullptr, nullptr, &h) != CKR_OK)
                    return std::string("C_OpenSession");
                const std::string before = PublicObjects(m, h, added);
                if (!channel.Send("r", 1) || !channel.WaitRelease()) return std::string("not let go");
                const std::string expected = destroy && !added.isPrivate ? "ok 1" : "ok 0";
                return before != expected ? "before the write: " + before : PublicObjects(m, h, added);
            });
            char ready = 0;
            ASSERT_TRUE(kept.channel().Receive(&ready, 1)) << kept.Answer();
            const bool stalled = KillWriterAt(n, added, prefix, destroy);
            kept.channel().Release();
            const std::string keptFound = kept.Answer();
            if (!stalled) break;
            ++stops;
            EXPECT_TRUE(keptFound == "ok 0" || keptFound == "ok 1") << "the process kept loaded: " << keptFound;
            const std::string found = Check(added, prefix);
            EXPECT_TRUE(found == "ok 0" || found == "ok 1") << found;
            if (HasFailure()) break;
        }
        EXPECT_GT(stops, 5) << "the write took as many commands";
    }

    std::unique_ptr<KeyRig> rig_;
    std::string prefix_;
    std::string baseline_;
};

TEST_F(Pkcs11TornWriteE2E, AWriterKilledAtEachCommandOfAPublicObjectsWriteLosesNoObject)
{
    KillAtEachCommand(false);
}

TEST_F(Pkcs11TornWriteE2E, AWriterKilledAtEachCommandOfAPrivateObjectsWriteLosesNoObject)
{
    KillAtEachCommand(true);
}

// "secret" is the private area's first record: the one after it moves.
TEST_F(Pkcs11TornWriteE2E, AWriterKilledAtEachCommandOfAPrivateObjectsRemovalLosesNoOtherObject)
{
    KillAtEachCommand(Earlier()[2], true);
}

}  // namespace
}  // namespace qvk::e2e
