// Many programs of one user at one key at once, through the built module and
// a real pcscd: writers create and destroy private and public token objects
// while readers search, read attributes and sign. A reader always meets one
// whole state of the key's storage (never an area paired with another
// state's free count, which reads as a full or damaged area), and every
// object the writers kept is there, whole, at the end.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "E2EProcess.h"
#include "KeyRig.h"
#include "Pkcs11Module.h"

namespace qvk::e2e {
namespace {

constexpr int kPrograms = 8;
constexpr int kThreads = 4;  // one writer and three readers in each program
constexpr int kWrites = 5;   // per writer: each a private and a public object made and destroyed
constexpr int kReads = 6;    // per reader: a search, attribute reads and a signature
const std::string kFixedPrivate = "fixed-private";
const std::string kFixedPublic = "fixed-public";

std::string ValueOf(const std::string& label)
{
    return "value of " + label;
}

CK_RV CreateData(CK_FUNCTION_LIST* f, CK_SESSION_HANDLE h, const std::string& label, bool isPrivate,
                 CK_OBJECT_HANDLE* object)
{
    CK_OBJECT_CLASS cls = CKO_DATA;
    CK_BBOOL yes = CK_TRUE;
    CK_BBOOL priv = isPrivate ? CK_TRUE : CK_FALSE;
    const std::string value = ValueOf(label);
    CK_ATTRIBUTE t[] = {{CKA_CLASS, &cls, sizeof(cls)},
                        {CKA_TOKEN, &yes, 1},
                        {CKA_PRIVATE, &priv, 1},
                        {CKA_LABEL, const_cast<char*>(label.data()), label.size()},
                        {CKA_VALUE, const_cast<char*>(value.data()), value.size()}};
    return f->C_CreateObject(h, t, 5, object);
}

// The objects a search with this template finds, or the failing call's code.
CK_RV Find(CK_FUNCTION_LIST* f, CK_SESSION_HANDLE h, CK_ATTRIBUTE* pattern, CK_ULONG count,
           std::vector<CK_OBJECT_HANDLE>* found, std::string* call)
{
    found->clear();
    *call = "C_FindObjectsInit";
    CK_RV rv = f->C_FindObjectsInit(h, pattern, count);
    if (rv != CKR_OK) return rv;
    CK_OBJECT_HANDLE batch[16];
    CK_ULONG n = 0;
    *call = "C_FindObjects";
    while ((rv = f->C_FindObjects(h, batch, 16, &n)) == CKR_OK && n != 0) found->insert(found->end(), batch, batch + n);
    const CK_RV ended = f->C_FindObjectsFinal(h);
    if (rv == CKR_OK && ended != CKR_OK) *call = "C_FindObjectsFinal";
    return rv != CKR_OK ? rv : ended;
}

CK_RV ReadText(CK_FUNCTION_LIST* f, CK_SESSION_HANDLE h, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type,
               std::string* text)
{
    char buffer[128];
    CK_ATTRIBUTE a{type, buffer, sizeof(buffer)};
    const CK_RV rv = f->C_GetAttributeValue(h, object, &a, 1);
    if (rv == CKR_OK) text->assign(buffer, a.ulValueLen);
    return rv;
}

// Calls that did not answer as they should, as lines "call: code", a few of
// each program kept.
class Faults {
public:
    void Note(const std::string& call, CK_RV rv)
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (lines_.size() < 20) lines_.push_back(call + ": 0x" + Hex(rv));
        ++count_;
    }
    void Note(const std::string& what)
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (lines_.size() < 20) lines_.push_back(what);
        ++count_;
    }
    int count() const { return count_; }
    std::string Text() const
    {
        std::string all;
        for (const std::string& l : lines_) all += l + "\n";
        return all;
    }
    static std::string Hex(CK_RV rv)
    {
        char text[32];
        std::snprintf(text, sizeof(text), "%lx", static_cast<unsigned long>(rv));
        return text;
    }

private:
    std::mutex lock_;
    std::vector<std::string> lines_;
    int count_ = 0;
};

// A writer: objects made and destroyed in both areas; its last pair stays.
void Write(CK_FUNCTION_LIST* f, CK_SESSION_HANDLE h, int program, Faults* faults)
{
    for (int i = 0; i <= kWrites; ++i) {
        const bool last = i == kWrites;
        const std::string base = (last ? "kept-" : "passing-") + std::to_string(program) + "-" + std::to_string(i);
        for (bool isPrivate : {true, false}) {
            const std::string label = base + (isPrivate ? "-private" : "-public");
            CK_OBJECT_HANDLE object = 0;
            CK_RV rv = CreateData(f, h, label, isPrivate, &object);
            if (rv != CKR_OK) {
                faults->Note("C_CreateObject " + label, rv);
                continue;
            }
            if (last) continue;
            if ((rv = f->C_DestroyObject(h, object)) != CKR_OK) faults->Note("C_DestroyObject " + label, rv);
        }
    }
}

// A reader: every data object found and read (one a writer destroyed meanwhile
// may be gone), the fixed ones read whole, and a signature made.
void Read(CK_FUNCTION_LIST* f, CK_SESSION_HANDLE h, Faults* faults)
{
    CK_OBJECT_CLASS dataClass = CKO_DATA;
    CK_OBJECT_CLASS keyClass = CKO_PRIVATE_KEY;
    std::vector<CK_BYTE> data(40, 0x5A);
    for (int i = 0; i < kReads; ++i) {
        std::vector<CK_OBJECT_HANDLE> found;
        std::string call;
        CK_ATTRIBUTE all{CKA_CLASS, &dataClass, sizeof(dataClass)};
        CK_RV rv = Find(f, h, &all, 1, &found, &call);
        if (rv != CKR_OK) faults->Note(call + " (data objects)", rv);
        for (CK_OBJECT_HANDLE object : found) {
            std::string label;
            rv = ReadText(f, h, object, CKA_LABEL, &label);
            if (rv != CKR_OK && rv != CKR_OBJECT_HANDLE_INVALID) faults->Note("C_GetAttributeValue CKA_LABEL", rv);
        }
        for (const std::string& label : {kFixedPrivate, kFixedPublic}) {
            CK_ATTRIBUTE byLabel[] = {{CKA_CLASS, &dataClass, sizeof(dataClass)},
                                      {CKA_LABEL, const_cast<char*>(label.data()), label.size()}};
            rv = Find(f, h, byLabel, 2, &found, &call);
            if (rv != CKR_OK) {
                faults->Note(call + " " + label, rv);
                continue;
            }
            if (found.size() != 1) {
                faults->Note(label + " found " + std::to_string(found.size()) + " times");
                continue;
            }
            std::string value;
            rv = ReadText(f, h, found[0], CKA_VALUE, &value);
            if (rv != CKR_OK) {
                faults->Note("C_GetAttributeValue CKA_VALUE " + label, rv);
            } else if (value != ValueOf(label)) {
                faults->Note(label + " reads \"" + value + "\"");
            }
        }
        CK_ATTRIBUTE keys{CKA_CLASS, &keyClass, sizeof(keyClass)};
        rv = Find(f, h, &keys, 1, &found, &call);
        if (rv != CKR_OK || found.size() != 1) {
            faults->Note(call + " (private key, " + std::to_string(found.size()) + " found)", rv);
            continue;
        }
        CK_MECHANISM m{CKM_DSTU4145_DSTU7564_256, nullptr, 0};
        if ((rv = f->C_SignInit(h, &m, found[0])) != CKR_OK) {
            faults->Note("C_SignInit", rv);
            continue;
        }
        CK_BYTE signature[152];
        CK_ULONG length = sizeof(signature);
        if ((rv = f->C_Sign(h, data.data(), data.size(), signature, &length)) != CKR_OK) faults->Note("C_Sign", rv);
    }
}

// One program: the module loaded once, a session of its own per thread, all
// logged in as the user. Its faults go up the pipe; its exit status is 0
// when there were none.
int Program(int program, int report)
{
    LoadedModule m;
    if (!m.ok()) return 1;
    CK_C_INITIALIZE_ARGS args{};
    args.flags = CKF_OS_LOCKING_OK;
    if (m.f->C_Initialize(&args) != CKR_OK) return 2;
    m.Slots();
    Faults faults;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            CK_SESSION_HANDLE h = 0;
            CK_RV rv = m.f->C_OpenSession(m.slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &h);
            if (rv != CKR_OK) {
                faults.Note("C_OpenSession", rv);
                return;
            }
            if ((rv = m.f->C_Login(h, CKU_USER, U(kRigPin), kRigPin.size())) != CKR_OK) {
                faults.Note("C_Login", rv);
            } else if (t == 0) {
                Write(m.f, h, program, &faults);
            } else {
                Read(m.f, h, &faults);
            }
            m.f->C_CloseSession(h);
        });
    for (std::thread& t : threads) t.join();
    const std::string text = faults.Text();
    if (write(report, text.data(), text.size()) != static_cast<ssize_t>(text.size())) return 3;
    return faults.count() == 0 ? 0 : 4;
}

class Pkcs11StressE2E : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Every program of the test is one user: one set of named objects.
        setenv("WEMU_NAME_PREFIX", ("qvkstress" + std::to_string(getpid()) + "_").c_str(), 1);
        rig_ = std::make_unique<KeyRig>(std::vector<RigKey>{RigKey(6201, 18, kRigPin)});
    }
    void TearDown() override { unsetenv("WEMU_NAME_PREFIX"); }
    std::unique_ptr<KeyRig> rig_;
};

TEST_F(Pkcs11StressE2E, ReadersMeetOneWholeStateWhileOtherProgramsWrite)
{
    // The token, a fixed object in each area and a signing key pair, made by
    // a program of its own.
    ASSERT_EQ(RunChild([] {
                  LoadedModule m;
                  if (!m.ok() || m.f->C_Initialize(nullptr) != CKR_OK) return 1;
                  m.Slots();
                  if (m.InitToken(m.slot, kRigPin, "stress") != CKR_OK) return 2;
                  CK_SESSION_HANDLE h = 0;
                  if (m.f->C_OpenSession(m.slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &h) != CKR_OK ||
                      m.f->C_Login(h, CKU_USER, U(kRigPin), kRigPin.size()) != CKR_OK)
                      return 3;
                  CK_OBJECT_HANDLE object = 0, pub = 0, priv = 0;
                  if (CreateData(m.f, h, kFixedPrivate, true, &object) != CKR_OK ||
                      CreateData(m.f, h, kFixedPublic, false, &object) != CKR_OK)
                      return 4;
                  return m.GenerateSigningPair(h, m.FirstCurveParams(h), &pub, &priv) == CKR_OK ? 0 : 5;
              }),
              0);

    std::vector<pid_t> children;
    std::vector<int> reports;
    for (int p = 0; p < kPrograms; ++p) {
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        children.push_back(SpawnChild([p, fds] {
            close(fds[0]);
            return Program(p, fds[1]);
        }));
        close(fds[1]);
        reports.push_back(fds[0]);
    }
    for (int p = 0; p < kPrograms; ++p) {
        std::string text;
        char buffer[4096];
        ssize_t n;
        while ((n = read(reports[p], buffer, sizeof(buffer))) > 0) text.append(buffer, static_cast<size_t>(n));
        close(reports[p]);
        EXPECT_EQ(WaitChild(children[p]), 0) << "program " << p << ":\n" << text;
    }

    // One more program finds exactly the fixed objects and the kept ones,
    // each whole, and still signs.
    LoadedModule m;
    ASSERT_TRUE(m.ok());
    ASSERT_NO_FATAL_FAILURE(m.Initialize());
    const CK_SESSION_HANDLE h = m.LoggedIn();
    std::map<std::string, std::string> expected{{kFixedPrivate, ValueOf(kFixedPrivate)},
                                                {kFixedPublic, ValueOf(kFixedPublic)}};
    for (int p = 0; p < kPrograms; ++p)
        for (const char* area : {"-private", "-public"}) {
            const std::string label = "kept-" + std::to_string(p) + "-" + std::to_string(kWrites) + area;
            expected[label] = ValueOf(label);
        }
    CK_OBJECT_CLASS dataClass = CKO_DATA;
    CK_ATTRIBUTE all{CKA_CLASS, &dataClass, sizeof(dataClass)};
    std::vector<CK_OBJECT_HANDLE> found;
    std::string call;
    ASSERT_EQ(Find(m.f, h, &all, 1, &found, &call), CKR_OK) << call;
    std::map<std::string, std::string> stored;
    for (CK_OBJECT_HANDLE object : found) {
        std::string label, value;
        EXPECT_EQ(ReadText(m.f, h, object, CKA_LABEL, &label), CKR_OK);
        EXPECT_EQ(ReadText(m.f, h, object, CKA_VALUE, &value), CKR_OK);
        EXPECT_TRUE(stored.emplace(label, value).second) << "twice: " << label;
    }
    EXPECT_EQ(stored, expected);
    CK_OBJECT_CLASS keyClass = CKO_PRIVATE_KEY;
    CK_ATTRIBUTE keys{CKA_CLASS, &keyClass, sizeof(keyClass)};
    ASSERT_EQ(Find(m.f, h, &keys, 1, &found, &call), CKR_OK) << call;
    ASSERT_EQ(found.size(), 1u);
    std::vector<CK_BYTE> signature;
    EXPECT_EQ(m.Sign(h, CKM_DSTU4145_DSTU7564_256, found[0], std::vector<CK_BYTE>(40, 0x5A), &signature), CKR_OK);
}

}  // namespace
}  // namespace qvk::e2e
