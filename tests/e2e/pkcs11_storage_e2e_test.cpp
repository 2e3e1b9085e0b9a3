// The token's storage on the key as several programs meet it: programs that
// keep the module loaded (as a browser does) beside programs with a cache of
// their own (another user's, another cache namespace), writes interleaved, the
// key unplugged and changed meanwhile. Every write must reach the key on top
// of every earlier one.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <string>

#include "E2EProcess.h"
#include "KeyRig.h"
#include "Pkcs11Module.h"

namespace qvk::e2e {
namespace {

CK_RV CreateData(LoadedModule& m, CK_SESSION_HANDLE h, const std::string& label, bool isPrivate)
{
    CK_OBJECT_CLASS cls = CKO_DATA;
    CK_BBOOL yes = CK_TRUE;
    CK_BBOOL priv = isPrivate ? CK_TRUE : CK_FALSE;
    const std::string value = "value of " + label;
    CK_ATTRIBUTE t[] = {{CKA_CLASS, &cls, sizeof(cls)},
                        {CKA_TOKEN, &yes, 1},
                        {CKA_PRIVATE, &priv, 1},
                        {CKA_LABEL, const_cast<char*>(label.data()), label.size()},
                        {CKA_VALUE, const_cast<char*>(value.data()), value.size()}};
    CK_OBJECT_HANDLE object = 0;
    return m.f->C_CreateObject(h, t, 5, &object);
}

// The labels of the data objects the session finds, joined in order.
std::string DataLabels(LoadedModule& m, CK_SESSION_HANDLE h)
{
    CK_OBJECT_CLASS cls = CKO_DATA;
    CK_ATTRIBUTE pattern{CKA_CLASS, &cls, sizeof(cls)};
    const CK_RV rv = m.f->C_FindObjectsInit(h, &pattern, 1);
    if (rv != CKR_OK) return "C_FindObjectsInit " + std::to_string(rv);
    std::set<std::string> labels;
    CK_OBJECT_HANDLE found[32];
    CK_ULONG count = 0;
    while (m.f->C_FindObjects(h, found, 32, &count) == CKR_OK && count != 0) {
        for (CK_ULONG i = 0; i < count; ++i) {
            char label[64];
            CK_ATTRIBUTE a{CKA_LABEL, label, sizeof(label)};
            if (m.f->C_GetAttributeValue(h, found[i], &a, 1) == CKR_OK) labels.insert(std::string(label, a.ulValueLen));
        }
    }
    m.f->C_FindObjectsFinal(h);
    std::string joined;
    for (const std::string& l : labels) joined += (joined.empty() ? "" : " ") + l;
    return joined;
}

// A program in a process of its own with a cache namespace of its own: it
// loads the module once, keeps a session, and runs the parent's requests one
// at a time ("c LABEL 0|1" creates a data object, "l" lists the data objects,
// each under a login of its own; "r" opens a new session).
class Program {
public:
    explicit Program(const std::string& name)
    {
        EXPECT_EQ(pipe(toChild_), 0);
        EXPECT_EQ(pipe(fromChild_), 0);
        const std::string prefix = "qvkstore" + name + std::to_string(getpid()) + "_";
        pid_ = SpawnChild([this, prefix] {
            setenv("WEMU_NAME_PREFIX", prefix.c_str(), 1);
            LoadedModule m;
            if (!m.ok() || m.f->C_Initialize(nullptr) != CKR_OK) return 1;
            m.Slots();
            CK_SESSION_HANDLE h = 0;
            if (m.f->C_OpenSession(m.slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &h) != CKR_OK)
                return 3;
            char request[128];
            while (ReadLine(toChild_[0], request, sizeof(request))) {
                if (request[0] == 'q') break;
                if (request[0] == 'r') {
                    // The key came back: a new session of the same loaded module.
                    m.f->C_CloseAllSessions(m.slot);
                    m.Slots();
                    const CK_RV rv =
                        m.f->C_OpenSession(m.slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &h);
                    const std::string answer = std::to_string(rv) + "\n";
                    if (write(fromChild_[1], answer.data(), answer.size()) != static_cast<ssize_t>(answer.size()))
                        return 2;
                    continue;
                }
                // Logged in for each request only: the key holds one login at
                // a time, and the program's cache stays loaded in between.
                CK_RV rv = m.f->C_Login(h, CKU_USER, U(kRigPin), kRigPin.size());
                std::string answer;
                if (rv != CKR_OK) {
                    answer = "C_Login " + std::to_string(rv);
                } else if (request[0] == 'c') {
                    char label[64] = {};
                    int isPrivate = 0;
                    std::sscanf(request + 2, "%63s %d", label, &isPrivate);
                    answer = std::to_string(CreateData(m, h, label, isPrivate != 0));
                } else if (request[0] == 'l') {
                    answer = DataLabels(m, h);
                }
                m.f->C_Logout(h);
                answer += '\n';
                if (write(fromChild_[1], answer.data(), answer.size()) != static_cast<ssize_t>(answer.size())) return 2;
            }
            return 0;
        });
        // A child that dies must end the parent's reads.
        close(toChild_[0]);
        close(fromChild_[1]);
    }
    ~Program()
    {
        // Told to leave: later children hold copies of the pipe's write end.
        Ask("q");
        WaitChild(pid_);
        for (int fd : {toChild_[1], fromChild_[0]}) close(fd);
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    std::string Ask(const std::string& request)
    {
        const std::string line = request + "\n";
        if (write(toChild_[1], line.data(), line.size()) != static_cast<ssize_t>(line.size())) return "no child";
        char answer[1024];
        return ReadLine(fromChild_[0], answer, sizeof(answer)) ? answer : "no answer";
    }
    // CKR_OK of C_CreateObject, as text.
    std::string Create(const std::string& label, bool isPrivate)
    {
        return Ask("c " + label + (isPrivate ? " 1" : " 0"));
    }

private:
    static bool ReadLine(int fd, char* out, size_t size)
    {
        size_t n = 0;
        char c;
        while (n + 1 < size && read(fd, &c, 1) == 1) {
            if (c == '\n') {
                out[n] = '\0';
                return true;
            }
            out[n++] = c;
        }
        return false;
    }

    int toChild_[2] = {-1, -1};
    int fromChild_[2] = {-1, -1};
    pid_t pid_ = -1;
};

class Pkcs11StorageE2E : public ::testing::Test {
protected:
    void SetUp() override
    {
        rig_ = std::make_unique<KeyRig>(std::vector<RigKey>{RigKey(6101, 18, kRigPin)});
        // The token is made by a program of its own cache namespace.
        EXPECT_EQ(RunChild([] {
                      setenv("WEMU_NAME_PREFIX", ("qvkstoreinit" + std::to_string(getpid())).c_str(), 1);
                      LoadedModule m;
                      if (!m.ok() || m.f->C_Initialize(nullptr) != CKR_OK) return 1;
                      m.Slots();
                      return m.InitToken(m.slot, kRigPin, "storage") == CKR_OK ? 0 : 2;
                  }),
                  0);
    }
    std::unique_ptr<KeyRig> rig_;
};

TEST_F(Pkcs11StorageE2E, TwoCacheNamespacesInterleaveWritesAndEveryObjectSurvives)
{
    Program a("a"), b("b");
    // Both have read the (empty) areas into their caches before anyone writes.
    ASSERT_EQ(a.Ask("l"), "");
    ASSERT_EQ(b.Ask("l"), "");
    // Public and private areas, each changed by both programs in turn.
    ASSERT_EQ(a.Create("a1", false), "0");
    ASSERT_EQ(b.Create("b1", false), "0");
    ASSERT_EQ(a.Create("a2", true), "0");
    ASSERT_EQ(b.Create("b2", true), "0");
    ASSERT_EQ(a.Create("a3", false), "0");
    ASSERT_EQ(b.Create("b3", true), "0");
    const std::string all = "a1 a2 a3 b1 b2 b3";
    EXPECT_EQ(a.Ask("l"), all);
    EXPECT_EQ(b.Ask("l"), all);
    Program fresh("c");
    EXPECT_EQ(fresh.Ask("l"), all);
}

TEST_F(Pkcs11StorageE2E, AChangeMadeWhileTheKeyWasAwaySurvivesTheFirstProgramsNextWrite)
{
    Program a("a");
    ASSERT_EQ(a.Create("a1", false), "0");
    ASSERT_EQ(a.Create("a2", true), "0");
    rig_->Control("unplug 0");
    ASSERT_TRUE(rig_->WaitCard(0, false));
    rig_->Control("replug 0");
    ASSERT_TRUE(rig_->WaitCard(0, true));
    {
        // Elsewhere: a program of another cache namespace changes both areas.
        Program elsewhere("e");
        ASSERT_EQ(elsewhere.Create("e1", false), "0");
        ASSERT_EQ(elsewhere.Create("e2", true), "0");
    }
    // The first program, still loaded with its cache, logs in again and writes.
    ASSERT_EQ(a.Ask("r"), "0");
    ASSERT_EQ(a.Create("a3", false), "0");
    ASSERT_EQ(a.Create("a4", true), "0");
    const std::string all = "a1 a2 a3 a4 e1 e2";
    EXPECT_EQ(a.Ask("l"), all);
    Program fresh("c");
    EXPECT_EQ(fresh.Ask("l"), all);
}

}  // namespace
}  // namespace qvk::e2e

namespace qvk::e2e {
namespace {

CK_RV CreatePublicValue(LoadedModule& m, CK_SESSION_HANDLE h, std::size_t length, CK_OBJECT_HANDLE* object)
{
    CK_OBJECT_CLASS cls = CKO_DATA;
    CK_BBOOL yes = CK_TRUE, no = CK_FALSE;
    const std::string value(length, 'v');
    CK_ATTRIBUTE t[] = {{CKA_CLASS, &cls, sizeof(cls)},
                        {CKA_TOKEN, &yes, 1},
                        {CKA_PRIVATE, &no, 1},
                        {CKA_VALUE, const_cast<char*>(value.data()), value.size()}};
    return m.f->C_CreateObject(h, t, 4, object);
}

CK_ULONG FreePublic(LoadedModule& m)
{
    CK_TOKEN_INFO info{};
    EXPECT_EQ(m.f->C_GetTokenInfo(m.slot, &info), CKR_OK);
    return info.ulFreePublicMemory;
}

// The public area holds the mark and the token record (48 bytes) before its
// objects: after appends the free count is the capacity less those 48 bytes
// and the records, so an object exactly as large as the count fits and one
// byte more does not, on both area sizes.
TEST_F(Pkcs11StorageE2E, ThePublicAreasFreeCountLeavesOutItsHeaderAfterAppends)
{
    setenv("WEMU_NAME_PREFIX", ("qvkstorefree" + std::to_string(getpid())).c_str(), 1);
    struct Case {
        int version;
        CK_ULONG capacity;
    } cases[] = {{18, 4096}, {7, 1024}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version);
        rig_.reset();
        rig_ = std::make_unique<KeyRig>(std::vector<RigKey>{RigKey(6102, c.version, kRigPin)});
        LoadedModule m;
        ASSERT_NO_FATAL_FAILURE(m.InitializeToken("free"));
        const CK_SESSION_HANDLE h = m.LoggedIn();
        CK_OBJECT_HANDLE first = 0, last = 0;
        ASSERT_EQ(CreatePublicValue(m, h, 10, &first), CKR_OK);
        CK_ULONG firstSize = 0;
        ASSERT_EQ(m.f->C_GetObjectSize(h, first, &firstSize), CKR_OK);
        const CK_ULONG free = FreePublic(m);
        ASSERT_EQ(free, c.capacity - 48 - firstSize);
        // The stored size grows with the value byte for byte.
        const std::size_t fits = 10 + (free - firstSize);
        EXPECT_EQ(CreatePublicValue(m, h, fits + 1, &last), CKR_DEVICE_MEMORY);
        ASSERT_EQ(CreatePublicValue(m, h, fits, &last), CKR_OK);
        EXPECT_EQ(FreePublic(m), 0u);
        // What another process reads from the key says the same.
        ASSERT_EQ(m.f->C_Finalize(nullptr), CKR_OK);
        EXPECT_EQ(RunChild([&] {
                      LoadedModule other;
                      if (!other.ok() || other.f->C_Initialize(nullptr) != CKR_OK) return 1;
                      other.Slots();
                      CK_TOKEN_INFO info{};
                      if (other.f->C_GetTokenInfo(other.slot, &info) != CKR_OK) return 2;
                      return info.ulFreePublicMemory == 0 ? 0 : 3;
                  }),
                  0);
    }
    unsetenv("WEMU_NAME_PREFIX");
}

}  // namespace
}  // namespace qvk::e2e
