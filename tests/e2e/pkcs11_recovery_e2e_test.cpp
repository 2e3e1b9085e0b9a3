// The built module, loaded with dlopen, against an emulated key behind a real
// pcscd when things go wrong under a live session: the key resets (its
// session with the host is gone; the module logs in again with the cached
// PIN and the command succeeds), the key is unplugged (the command fails with
// CKR_DEVICE_ERROR after recovery fails, and the slot is gone at the next
// slot list), and two processes with several threads each work one key at
// the same time, each thread writing a token object on the way.
#include <dlfcn.h>
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
#include "device/DeviceProtocol.h"
#include "pkcs11/pkcs11ua.h"

#ifndef QVK_PKCS11_MODULE
#error "QVK_PKCS11_MODULE must name the built module"
#endif

namespace qvk::e2e {
namespace {

const std::string kPin = "12345678";

CK_UTF8CHAR* U(const std::string& s)
{
    return reinterpret_cast<CK_UTF8CHAR*>(const_cast<char*>(s.data()));
}

// The module, loaded and initialised in this process.
struct Module {
    Module()
    {
        handle = dlopen(QVK_PKCS11_MODULE, RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) return;
        auto get = reinterpret_cast<CK_C_GetFunctionList>(dlsym(handle, "C_GetFunctionList"));
        if (get == nullptr || get(&f) != CKR_OK) f = nullptr;
    }
    ~Module()
    {
        if (f != nullptr) f->C_Finalize(nullptr);
        if (handle != nullptr) dlclose(handle);
    }
    bool ok() const { return f != nullptr; }

    // The number of slots; the first becomes the slot these helpers use
    // (slot ids stay given to their keys while the module stays loaded, so
    // a later test of the same process may find its key elsewhere than 0).
    CK_ULONG SlotCount()
    {
        CK_ULONG count = 0;
        EXPECT_EQ(f->C_GetSlotList(CK_TRUE, nullptr, &count), CKR_OK);
        if (count != 0) {
            std::vector<CK_SLOT_ID> slots(count);
            EXPECT_EQ(f->C_GetSlotList(CK_TRUE, slots.data(), &count), CKR_OK);
            slot = slots[0];
        }
        return count;
    }

    // A session on slot 0 logged in as the user.
    CK_SESSION_HANDLE LoggedIn()
    {
        CK_SESSION_HANDLE h = 0;
        EXPECT_EQ(f->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &h), CKR_OK);
        EXPECT_EQ(f->C_Login(h, CKU_USER, U(kPin), kPin.size()), CKR_OK);
        return h;
    }

    CK_RV Random(CK_SESSION_HANDLE h, std::string* out, std::size_t n = 32)
    {
        out->assign(n, '\0');
        return f->C_GenerateRandom(h, reinterpret_cast<CK_BYTE*>(out->data()), n);
    }

    // A public data object on the token.
    CK_RV CreateTokenData(CK_SESSION_HANDLE h, const std::string& label)
    {
        static CK_OBJECT_CLASS dataClass = CKO_DATA;
        static CK_BBOOL yes = CK_TRUE, no = CK_FALSE;
        CK_ATTRIBUTE t[] = {{CKA_CLASS, &dataClass, sizeof(dataClass)},
                            {CKA_TOKEN, &yes, 1},
                            {CKA_PRIVATE, &no, 1},
                            {CKA_LABEL, const_cast<char*>(label.data()), label.size()},
                            {CKA_VALUE, const_cast<char*>(label.data()), label.size()}};
        CK_OBJECT_HANDLE object = 0;
        return f->C_CreateObject(h, t, 5, &object);
    }

    // The labels of the token's data objects.
    std::set<std::string> TokenDataLabels(CK_SESSION_HANDLE h)
    {
        static CK_OBJECT_CLASS dataClass = CKO_DATA;
        CK_ATTRIBUTE find[] = {{CKA_CLASS, &dataClass, sizeof(dataClass)}};
        std::set<std::string> labels;
        if (f->C_FindObjectsInit(h, find, 1) != CKR_OK) return labels;
        CK_OBJECT_HANDLE objects[64];
        CK_ULONG count = 0;
        EXPECT_EQ(f->C_FindObjects(h, objects, 64, &count), CKR_OK);
        f->C_FindObjectsFinal(h);
        for (CK_ULONG i = 0; i < count; ++i) {
            char label[64];
            CK_ATTRIBUTE a{CKA_LABEL, label, sizeof(label)};
            if (f->C_GetAttributeValue(h, objects[i], &a, 1) == CKR_OK) labels.insert(std::string(label, a.ulValueLen));
        }
        return labels;
    }

    void* handle = nullptr;
    CK_FUNCTION_LIST* f = nullptr;
    CK_SLOT_ID slot = 0;
};

class Pkcs11RecoveryE2E : public ::testing::Test {
protected:
    void SetUp() override { setenv("WEMU_NAME_PREFIX", ("qvkp11rec" + std::to_string(getpid())).c_str(), 1); }
    void TearDown() override { unsetenv("WEMU_NAME_PREFIX"); }

    // Starts the key and gives its token a record.
    void StartInitialised(uint32_t serial)
    {
        rig_ = std::make_unique<KeyRig>(std::vector<RigKey>{RigKey(serial, 18, kPin)});
        Module m;
        ASSERT_TRUE(m.ok()) << dlerror();
        ASSERT_EQ(m.f->C_Initialize(nullptr), CKR_OK);
        ASSERT_EQ(m.SlotCount(), 1u);
        std::string label = "recovery";
        label.resize(32, ' ');
        ASSERT_EQ(m.f->C_InitToken(m.slot, U(kPin), kPin.size(), U(label)), CKR_OK);
    }

    std::unique_ptr<KeyRig> rig_;
};

TEST_F(Pkcs11RecoveryE2E, AResetKeyIsLoggedInAgainAndTheCommandSucceeds)
{
    StartInitialised(4501);
    Module m;
    ASSERT_TRUE(m.ok());
    ASSERT_EQ(m.f->C_Initialize(nullptr), CKR_OK);
    ASSERT_EQ(m.SlotCount(), 1u);
    const CK_SESSION_HANDLE h = m.LoggedIn();
    std::string before, after;
    ASSERT_EQ(m.Random(h, &before), CKR_OK);

    const std::size_t mark = KeyCommands(*rig_).size();
    rig_->Control("reset 0");
    ASSERT_EQ(m.Random(h, &after), CKR_OK);
    EXPECT_NE(before, after);
    const std::vector<LoggedCommand> log = KeyCommandLog(*rig_, 0);
    ASSERT_GT(log.size(), mark);
    // The key lost its session with the host: the module logged in again
    // with the cached PIN (the key's new-protocol login) and went on.
    int logins = 0;
    for (std::size_t i = mark; i < log.size(); ++i) logins += log[i].cmd == KEYCMD_LOGIN_NEW && log[i].status == 0;
    EXPECT_EQ(logins, 1);
    EXPECT_EQ(log.back().cmd, KEYCMD_GET_RANDOM);
    EXPECT_EQ(log.back().status, 0);

    CK_SESSION_INFO info{};
    ASSERT_EQ(m.f->C_GetSessionInfo(h, &info), CKR_OK);
    EXPECT_EQ(info.state, CKS_RW_USER_FUNCTIONS);
}

TEST_F(Pkcs11RecoveryE2E, AnUnpluggedKeyFailsItsSessionAndLeavesTheSlotList)
{
    StartInitialised(4502);
    Module m;
    ASSERT_TRUE(m.ok());
    ASSERT_EQ(m.f->C_Initialize(nullptr), CKR_OK);
    ASSERT_EQ(m.SlotCount(), 1u);
    const CK_SESSION_HANDLE h = m.LoggedIn();
    std::string bytes;
    ASSERT_EQ(m.Random(h, &bytes), CKR_OK);

    rig_->Control("unplug 0");
    ASSERT_TRUE(rig_->WaitCard(0, false));
    EXPECT_EQ(m.Random(h, &bytes), CKR_DEVICE_ERROR);
    EXPECT_EQ(m.SlotCount(), 0u);
    CK_SLOT_INFO slot{};
    EXPECT_EQ(m.f->C_GetSlotInfo(m.slot, &slot), CKR_SLOT_ID_INVALID);

    // Plugged in again, the key comes back in the same slot.
    rig_->Control("replug 0");
    ASSERT_TRUE(rig_->WaitCard(0, true));
    EXPECT_EQ(m.SlotCount(), 1u);
    const CK_SESSION_HANDLE again = m.LoggedIn();
    EXPECT_EQ(m.Random(again, &bytes), CKR_OK);
}

TEST_F(Pkcs11RecoveryE2E, TwoProcessesWithSeveralThreadsShareOneKey)
{
    StartInitialised(4503);
    constexpr int kThreads = 4;
    constexpr int kCalls = 10;
    Channel channels[2];
    pid_t children[2];
    for (int p = 0; p < 2; ++p) {
        Channel& channel = channels[p];
        children[p] = SpawnChild([&channel] {
            Module m;
            // Slot ids come from the slot list, as in any application.
            if (!m.ok() || m.f->C_Initialize(nullptr) != CKR_OK || m.SlotCount() != 1) return 1;
            std::atomic<int> failures{0};
            std::vector<std::string> outputs(kThreads * kCalls);
            std::vector<std::thread> threads;
            for (int t = 0; t < kThreads; ++t) {
                threads.emplace_back([&, t] {
                    CK_SESSION_HANDLE h = 0;
                    if (m.f->C_OpenSession(m.slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &h) !=
                            CKR_OK ||
                        m.f->C_Login(h, CKU_USER, U(kPin), kPin.size()) != CKR_OK) {
                        failures += kCalls + 1;
                        return;
                    }
                    for (int i = 0; i < kCalls; ++i) {
                        if (m.Random(h, &outputs[t * kCalls + i], 16) != CKR_OK) ++failures;
                        // Each thread writes one token object half-way, while
                        // the others keep the key busy.
                        if (i == kCalls / 2) {
                            const CK_RV rv =
                                m.CreateTokenData(h, "p" + std::to_string(getpid()) + "t" + std::to_string(t));
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
            return 0;
        });
    }
    std::set<std::string> seen;
    std::set<std::string> written;
    for (int p = 0; p < 2; ++p) {
        pid_t pid = 0;
        ASSERT_TRUE(channels[p].Receive(&pid, sizeof(pid)));
        for (int t = 0; t < kThreads; ++t) written.insert("p" + std::to_string(pid) + "t" + std::to_string(t));
        int failed = -1;
        ASSERT_TRUE(channels[p].Receive(&failed, sizeof(failed)));
        EXPECT_EQ(failed, 0) << "process " << p;
        for (int i = 0; i < kThreads * kCalls; ++i) {
            std::string o(16, '\0');
            ASSERT_TRUE(channels[p].Receive(o.data(), o.size()));
            seen.insert(o);
        }
    }
    for (pid_t child : children) EXPECT_EQ(WaitChild(child), 0);
    // Every answer reached the thread that asked for it, whole.
    EXPECT_EQ(seen.size(), 2u * kThreads * kCalls);
    // No command met the key busy or was answered out of turn.
    for (const LoggedCommand& c : KeyCommandLog(*rig_, 0)) {
        EXPECT_NE(c.status, KEYERR_DEVICE_BUSY);
        EXPECT_NE(c.status, KEYERR_CORRUPTED_REQUEST);
    }

    // The token's record came through whole, and a new process finds every
    // object that every thread wrote.
    Module m;
    ASSERT_TRUE(m.ok());
    ASSERT_EQ(m.f->C_Initialize(nullptr), CKR_OK);
    ASSERT_EQ(m.SlotCount(), 1u);
    CK_TOKEN_INFO info{};
    ASSERT_EQ(m.f->C_GetTokenInfo(m.slot, &info), CKR_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(info.label), 8), "recovery");
    CK_SESSION_HANDLE h = 0;
    ASSERT_EQ(m.f->C_OpenSession(m.slot, CKF_SERIAL_SESSION, nullptr, nullptr, &h), CKR_OK);
    EXPECT_EQ(m.TokenDataLabels(h), written);
}

}  // namespace
}  // namespace qvk::e2e
