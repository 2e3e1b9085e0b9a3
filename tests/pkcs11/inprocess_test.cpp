// The entry functions linked in with the in-process PC/SC double, where the
// sanitizer builds run them:
// - threads work on a session's objects while the session ends
//   (C_CloseSession, C_CloseAllSessions) or its key is pulled out and its
//   slot forgotten by a scan. Each call answers with a result, never touches
//   freed memory, and the objects of the other sessions stay;
// - the token storage's free-memory bookkeeping over a damaged record;
// - a derived key's agreement, which goes with the key.
#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "DeviceTestSupport.h"
#include "PkiServicesStart.h"
#include "pkcs11/PKCS11Library.h"
#include "pkcs11/PKCS11Session.h"
#include "pkcs11/PKCS11Token.h"
#include "pkcs11/PKCS11TokenManager.h"
#include "pkcs11/PKCS11TokenStorage.h"
#include "pkcs11/pkcs11ua.h"
#include "wemu.h"

namespace {

const std::string kPin = "1234";
CK_BBOOL no = CK_FALSE;

CK_UTF8CHAR* U(const std::string& s)
{
    return reinterpret_cast<CK_UTF8CHAR*>(const_cast<char*>(s.data()));
}

class Pkcs11InProcess : public devtest::DeviceTest {
protected:
    void SetUp() override
    {
        DeviceTest::SetUp();
        DllMain(DistributionModule(), DLL_PROCESS_ATTACH, nullptr);
        reader_ = AddKey(81, 18, 0x200, kPin);
        ASSERT_EQ(C_Initialize(nullptr), CKR_OK);
        CK_ULONG count = 0;
        ASSERT_EQ(C_GetSlotList(CK_TRUE, nullptr, &count), CKR_OK);
        ASSERT_EQ(count, 1u);
        std::string label = "threads";
        label.resize(32, ' ');
        ASSERT_EQ(C_InitToken(0, U(kPin), kPin.size(), U(label)), CKR_OK);
    }
    void TearDown() override
    {
        C_Finalize(nullptr);
        DeviceTest::TearDown();
    }

    CK_SESSION_HANDLE Open()
    {
        CK_SESSION_HANDLE h = 0;
        EXPECT_EQ(C_OpenSession(0, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &h), CKR_OK);
        return h;
    }

    static CK_RV CreateData(CK_SESSION_HANDLE s, const std::string& label, CK_OBJECT_HANDLE* h)
    {
        CK_OBJECT_CLASS dataClass = CKO_DATA;
        CK_ATTRIBUTE t[] = {{CKA_CLASS, &dataClass, sizeof(dataClass)},
                            {CKA_TOKEN, &no, 1},
                            {CKA_PRIVATE, &no, 1},
                            {CKA_LABEL, const_cast<char*>(label.data()), label.size()},
                            {CKA_VALUE, (void*)"value", 5}};
        return C_CreateObject(s, t, 5, h);
    }

    // A key-agreement pair on the session's first curve; its public point as
    // CKA_EC_POINT carries it (the key agrees with itself).
    static void MakeAgreementPair(CK_SESSION_HANDLE s, CK_OBJECT_HANDLE* privateKey, std::vector<CK_BYTE>* point)
    {
        CK_BBOOL yes = CK_TRUE;
        CK_ATTRIBUTE read{CKA_EC_PARAMS, nullptr, 0};
        ASSERT_EQ(C_GetAttributeValue(s, 1, &read, 1), CKR_OK);
        std::vector<CK_BYTE> params(read.ulValueLen);
        read.pValue = params.data();
        ASSERT_EQ(C_GetAttributeValue(s, 1, &read, 1), CKR_OK);
        CK_ATTRIBUTE publicTemplate[] = {
            {CKA_TOKEN, &yes, 1}, {CKA_EC_PARAMS, params.data(), params.size()}, {CKA_DERIVE, &yes, 1}};
        CK_ATTRIBUTE privateTemplate[] = {{CKA_TOKEN, &yes, 1}, {CKA_PRIVATE, &yes, 1}, {CKA_DERIVE, &yes, 1}};
        CK_MECHANISM generate{CKM_DSTU4145_KEY_PAIR_GEN, nullptr, 0};
        CK_OBJECT_HANDLE publicKey = 0;
        ASSERT_EQ(C_GenerateKeyPair(s, &generate, publicTemplate, 3, privateTemplate, 3, &publicKey, privateKey),
                  CKR_OK);
        CK_ATTRIBUTE pointRead{CKA_EC_POINT, nullptr, 0};
        ASSERT_EQ(C_GetAttributeValue(s, publicKey, &pointRead, 1), CKR_OK);
        point->resize(pointRead.ulValueLen);
        pointRead.pValue = point->data();
        ASSERT_EQ(C_GetAttributeValue(s, publicKey, &pointRead, 1), CKR_OK);
    }

    std::string reader_;
};

enum class Ending { CloseSession, CloseAllSessions, KeyPulled };

class Pkcs11SessionObjectLifetime : public Pkcs11InProcess, public ::testing::WithParamInterface<Ending> {};

// What a call on a session's objects may answer while the session ends.
bool Expected(CK_RV rv)
{
    switch (rv) {
    case CKR_OK:
    case CKR_SESSION_HANDLE_INVALID:
    case CKR_SESSION_CLOSED:
    case CKR_OBJECT_HANDLE_INVALID:
    case CKR_SLOT_ID_INVALID:  // the key is out and its slot forgotten
    case CKR_DEVICE_REMOVED:
    case CKR_TOKEN_NOT_PRESENT:
    case CKR_DEVICE_ERROR:
        return true;
    default:
        return false;
    }
}

TEST_P(Pkcs11SessionObjectLifetime, ObjectsInUseWhileTheSessionEnds)
{
    const CK_SESSION_HANDLE other = Open();
    CK_OBJECT_HANDLE kept = 0;
    ASSERT_EQ(CreateData(other, "kept", &kept), CKR_OK);
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE(round);
        const CK_SESSION_HANDLE s = Open();
        std::vector<CK_OBJECT_HANDLE> objects(4);
        for (CK_OBJECT_HANDLE& h : objects) ASSERT_EQ(CreateData(s, "work", &h), CKR_OK);

        std::atomic<bool> stop{false};
        std::atomic<int> unexpected{0};
        std::atomic<CK_RV> firstUnexpected{CKR_OK};
        std::atomic<int> started{0};
        // Set once the session has ended; each worker then counts itself in
        // ranAfterEnd at its first call after that.
        std::atomic<bool> ended{false};
        std::atomic<int> ranAfterEnd{0};
        struct Worker {
            bool worked = false;
            bool ranAfterEnd = false;
        };
        auto note = [&](CK_RV rv, Worker* worker) {
            if (rv == CKR_OK && !worker->worked) {
                worker->worked = true;
                ++started;
            }
            if (ended.load() && !worker->ranAfterEnd) {
                worker->ranAfterEnd = true;
                ++ranAfterEnd;
            }
            if (!Expected(rv) && unexpected++ == 0) firstUnexpected = rv;
        };
        std::vector<std::thread> workers;
        std::unique_ptr<keyemu::Key> pulled;
        // Reads attributes and sizes.
        workers.emplace_back([&] {
            Worker worker;
            char label[16];
            for (unsigned i = 0; !stop.load(); ++i) {
                CK_ATTRIBUTE a{CKA_LABEL, label, sizeof(label)};
                note(C_GetAttributeValue(s, objects[i % objects.size()], &a, 1), &worker);
                CK_ULONG size = 0;
                note(C_GetObjectSize(s, objects[i % objects.size()], &size), &worker);
            }
        });
        // Searches.
        workers.emplace_back([&] {
            Worker worker;
            CK_ATTRIBUTE pattern{CKA_LABEL, (void*)"work", 4};
            while (!stop.load()) {
                CK_RV rv = C_FindObjectsInit(s, &pattern, 1);
                note(rv, &worker);
                if (rv != CKR_OK) continue;
                CK_OBJECT_HANDLE found[2];
                CK_ULONG n = 0;
                do {
                    rv = C_FindObjects(s, found, 2, &n);
                    note(rv, &worker);
                } while (rv == CKR_OK && n != 0);
                note(C_FindObjectsFinal(s), &worker);
            }
        });
        // Changes, creates and destroys.
        workers.emplace_back([&] {
            Worker worker;
            for (unsigned i = 0; !stop.load(); ++i) {
                CK_ATTRIBUTE rename{CKA_LABEL, (void*)"work", 4};
                note(C_SetAttributeValue(s, objects[i % objects.size()], &rename, 1), &worker);
                CK_OBJECT_HANDLE h = 0;
                CK_RV rv = CreateData(s, "passing", &h);
                note(rv, &worker);
                if (rv == CKR_OK) note(C_DestroyObject(s, h), &worker);
            }
        });
        // Every worker is inside the session's objects before it ends.
        for (int wait = 0; started.load() < 3 && wait < 2000; ++wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_EQ(started.load(), 3);
        switch (GetParam()) {
        case Ending::CloseSession:
            EXPECT_EQ(C_CloseSession(s), CKR_OK);
            break;
        case Ending::CloseAllSessions:
            EXPECT_EQ(C_CloseAllSessions(0), CKR_OK);
            break;
        case Ending::KeyPulled: {
            pulled = devtest::pd::Unplug(reader_);
            ASSERT_NE(pulled, nullptr);
            CK_ULONG count = 0;
            EXPECT_EQ(C_GetSlotList(CK_TRUE, nullptr, &count), CKR_OK);
            EXPECT_EQ(count, 0u);
            break;
        }
        }
        // Every worker makes calls into what the ending left before it stops.
        ended = true;
        for (auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
             ranAfterEnd.load() < 3 && std::chrono::steady_clock::now() < deadline;)
            std::this_thread::yield();
        EXPECT_EQ(ranAfterEnd.load(), 3);
        stop = true;
        for (std::thread& t : workers) t.join();
        EXPECT_EQ(unexpected.load(), 0) << "first: 0x" << std::hex << firstUnexpected.load();
        if (pulled) {
            // The slot comes back with its number and the session with it;
            // its objects are still there to be closed with it.
            ASSERT_TRUE(devtest::pd::Replug(reader_, std::move(pulled)));
            CK_ULONG count = 0;
            EXPECT_EQ(C_GetSlotList(CK_TRUE, nullptr, &count), CKR_OK);
            char label[16];
            CK_ATTRIBUTE a{CKA_LABEL, label, sizeof(label)};
            EXPECT_EQ(C_GetAttributeValue(s, objects[0], &a, 1), CKR_OK);
            EXPECT_EQ(C_CloseSession(s), CKR_OK);
        }
        CK_SESSION_INFO info;
        EXPECT_EQ(C_GetSessionInfo(s, &info), CKR_SESSION_HANDLE_INVALID);
    }
    char label[16];
    CK_ATTRIBUTE a{CKA_LABEL, label, sizeof(label)};
    if (GetParam() != Ending::CloseAllSessions) {
        // The other session and its object are untouched.
        ASSERT_EQ(C_GetAttributeValue(other, kept, &a, 1), CKR_OK);
        EXPECT_EQ(std::string(label, a.ulValueLen), "kept");
    } else if (GetParam() == Ending::CloseAllSessions) {
        EXPECT_EQ(C_GetAttributeValue(other, kept, &a, 1), CKR_SESSION_HANDLE_INVALID);
    }
}

INSTANTIATE_TEST_SUITE_P(Endings, Pkcs11SessionObjectLifetime,
                         ::testing::Values(Ending::CloseSession, Ending::CloseAllSessions, Ending::KeyPulled),
                         [](const ::testing::TestParamInfo<Ending>& info) {
                             switch (info.param) {
                             case Ending::CloseSession:
                                 return "CloseSession";
                             case Ending::CloseAllSessions:
                                 return "CloseAllSessions";
                             default:
                                 return "KeyPulled";
                             }
                         });

TEST_F(Pkcs11InProcess, TakingFromTheFreeMemoryOfADamagedRecordStaysWithinTheArea)
{
    const CK_SESSION_HANDLE s = Open();
    ASSERT_EQ(C_Login(s, CKU_USER, U(kPin), kPin.size()), CKR_OK);  // the key writes only then
    std::shared_ptr<PKCS11Session> session;
    PKCS11TokenManager* manager = nullptr;
    PKCS11TokenStorage* storage = nullptr;
    PKCS11Device* device = nullptr;
    ASSERT_EQ(FindSession(s, &session), CKR_OK);
    ASSERT_EQ(session->GetTokenManager(&manager), CKR_OK);
    ASSERT_EQ(manager->GetStorage(&storage), CKR_OK);
    ASSERT_EQ(storage->GetDevice(&device), CKR_OK);
    auto setFree = [&](CK_BYTE area, std::uint32_t value) {
        TokenRecordBytes record;
        ASSERT_EQ(storage->ReadTokenRecord(&record), CKR_OK);
        ASSERT_EQ(device->SetFreeMemory(record.get(), area, value), CKR_OK);
        ASSERT_EQ(storage->WriteTokenRecord(record.get()), CKR_OK);
    };
    auto getFree = [&](CK_BYTE area) {
        TokenRecordBytes record;
        std::uint32_t value = 0;
        EXPECT_EQ(storage->ReadTokenRecord(&record), CKR_OK);
        if (record) {
            EXPECT_EQ(device->GetFreeMemory(record.get(), area, &value), CKR_OK);
        }
        return value;
    };
    struct Case {
        CK_BYTE area;
        std::uint32_t stored;
        std::uint32_t n;
        std::uint32_t expected;
    } cases[] = {
        {0, 1000, 100, 900},         {0, 50, 100, 0},  // more taken than is free: none left, not 2^32 - 50
        {0, 0xFFFFFFF0u, 100, 4096},                   // past the area: the area's capacity
        {1, 0xFFFFFFF0u, 100, 3072}, {1, 0, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.area) + ": " + std::to_string(c.stored) + " - " + std::to_string(c.n));
        setFree(c.area, c.stored);
        ASSERT_EQ(storage->AdjustFreeMemory(c.area, 1, c.n), CKR_OK);
        EXPECT_EQ(getFree(c.area), c.expected);
    }
    CK_TOKEN_INFO info{};
    ASSERT_EQ(C_GetTokenInfo(0, &info), CKR_OK);
    EXPECT_EQ(info.ulFreePrivateMemory, 0u);
    session.reset();
    EXPECT_EQ(C_CloseSession(s), CKR_OK);
}

// A derived key's agreement goes with it: the next key given its handle
// cannot wrap under it.
TEST_F(Pkcs11InProcess, ADestroyedDerivedKeyLeavesNoAgreementForTheNextKeyOfItsHandle)
{
    const CK_SESSION_HANDLE s = Open();
    ASSERT_EQ(C_Login(s, CKU_USER, U(kPin), kPin.size()), CKR_OK);
    CK_BBOOL yes = CK_TRUE;
    CK_OBJECT_HANDLE privateKey = 0;
    std::vector<CK_BYTE> point;
    ASSERT_NO_FATAL_FAILURE(MakeAgreementPair(s, &privateKey, &point));

    CK_DSTU4145_DERIVE_PARAMS derive{CKD_DSTU4145_GOST28147, 0, nullptr, point.size(), point.data()};
    CK_MECHANISM deriveMechanism{CKM_DSTU4145_DERIVE, &derive, sizeof(derive)};
    CK_ATTRIBUTE derivedTemplate[] = {{CKA_WRAP, &yes, 1}};

    // The key to wrap, and a key of the derived kind for the freed handle.
    CK_OBJECT_CLASS secretClass = CKO_SECRET_KEY;
    CK_KEY_TYPE gost = CKK_GOST28147;
    std::vector<CK_BYTE> value(32, 0x5A);
    CK_MECHANISM_TYPE wrapType = CKM_GOST28147_KEY_WRAP;
    CK_ATTRIBUTE secretTemplate[] = {{CKA_CLASS, &secretClass, sizeof(secretClass)},
                                     {CKA_KEY_TYPE, &gost, sizeof(gost)},
                                     {CKA_EXTRACTABLE, &yes, 1},
                                     {CKA_VALUE, value.data(), value.size()}};
    CK_OBJECT_HANDLE secret = 0;
    ASSERT_EQ(C_CreateObject(s, secretTemplate, 4, &secret), CKR_OK);
    CK_ATTRIBUTE successorTemplate[] = {{CKA_CLASS, &secretClass, sizeof(secretClass)},
                                        {CKA_KEY_TYPE, &gost, sizeof(gost)},
                                        {CKA_WRAP, &yes, 1},
                                        {CKA_ALLOWED_MECHANISMS, &wrapType, sizeof(wrapType)},
                                        {CKA_VALUE, value.data(), value.size()}};

    CK_MECHANISM wrap{CKM_GOST28147_KEY_WRAP, nullptr, 0};
    std::vector<CK_BYTE> wrapped(44);
    CK_ULONG length = wrapped.size();
    CK_OBJECT_HANDLE derived = 0;
    ASSERT_EQ(C_DeriveKey(s, &deriveMechanism, privateKey, derivedTemplate, 1, &derived), CKR_OK);
    ASSERT_EQ(C_WrapKey(s, &wrap, derived, secret, wrapped.data(), &length), CKR_OK);
    ASSERT_EQ(C_DestroyObject(s, derived), CKR_OK);
    CK_OBJECT_HANDLE successor = 0;
    ASSERT_EQ(C_CreateObject(s, successorTemplate, 5, &successor), CKR_OK);
    ASSERT_EQ(successor, derived) << "the handle is given again";
    length = wrapped.size();
    EXPECT_NE(C_WrapKey(s, &wrap, successor, secret, wrapped.data(), &length), CKR_OK);
    EXPECT_EQ(C_CloseSession(s), CKR_OK);
}

// A derivation whose key was destroyed by another thread while the device
// recorded its agreement fails, and its own destroy then finds no object to
// destroy: the agreement recorded for the handle must still go, or the next
// key given that handle would wrap under it. The other thread destroys the
// handle the derivation is given until a derivation fails that way.
TEST_F(Pkcs11InProcess, AFailedDerivationLeavesNoAgreementForItsHandle)
{
    const CK_SESSION_HANDLE s = Open();
    ASSERT_EQ(C_Login(s, CKU_USER, U(kPin), kPin.size()), CKR_OK);
    CK_BBOOL yes = CK_TRUE;
    CK_OBJECT_HANDLE privateKey = 0;
    std::vector<CK_BYTE> point;
    ASSERT_NO_FATAL_FAILURE(MakeAgreementPair(s, &privateKey, &point));
    CK_DSTU4145_DERIVE_PARAMS derive{CKD_DSTU4145_GOST28147, 0, nullptr, point.size(), point.data()};
    CK_MECHANISM deriveMechanism{CKM_DSTU4145_DERIVE, &derive, sizeof(derive)};
    CK_ATTRIBUTE derivedTemplate[] = {{CKA_WRAP, &yes, 1}};
    CK_OBJECT_CLASS secretClass = CKO_SECRET_KEY;
    CK_KEY_TYPE gost = CKK_GOST28147;
    CK_MECHANISM_TYPE wrapType = CKM_GOST28147_KEY_WRAP;
    std::vector<CK_BYTE> value(32, 0x3C);
    CK_ATTRIBUTE secretTemplate[] = {{CKA_CLASS, &secretClass, sizeof(secretClass)},
                                     {CKA_KEY_TYPE, &gost, sizeof(gost)},
                                     {CKA_EXTRACTABLE, &yes, 1},
                                     {CKA_VALUE, value.data(), value.size()}};
    CK_ATTRIBUTE successorTemplate[] = {{CKA_CLASS, &secretClass, sizeof(secretClass)},
                                        {CKA_KEY_TYPE, &gost, sizeof(gost)},
                                        {CKA_WRAP, &yes, 1},
                                        {CKA_ALLOWED_MECHANISMS, &wrapType, sizeof(wrapType)},
                                        {CKA_VALUE, value.data(), value.size()}};
    CK_OBJECT_HANDLE secret = 0;
    ASSERT_EQ(C_CreateObject(s, secretTemplate, 4, &secret), CKR_OK);
    // The handle every derivation below is given: the one freed before it.
    CK_OBJECT_HANDLE handle = 0;
    ASSERT_EQ(C_DeriveKey(s, &deriveMechanism, privateKey, derivedTemplate, 1, &handle), CKR_OK);
    ASSERT_EQ(C_DestroyObject(s, handle), CKR_OK);

    CK_MECHANISM wrap{CKM_GOST28147_KEY_WRAP, nullptr, 0};
    std::vector<CK_BYTE> wrapped(44);

    // The object may go before or after the device records the agreement;
    // several failures take in both.
    int failures = 0;
    for (int attempt = 0; attempt < 4000 && failures < 8; ++attempt) {
        std::atomic<bool> done{false};
        std::thread destroyer([&] {
            while (!done.load()) C_DestroyObject(s, handle);
        });
        CK_OBJECT_HANDLE made = 0;
        const CK_RV rv = C_DeriveKey(s, &deriveMechanism, privateKey, derivedTemplate, 1, &made);
        done = true;
        destroyer.join();
        C_DestroyObject(s, handle);
        if (rv == CKR_OK) continue;
        ++failures;
        ASSERT_EQ(rv, CKR_OBJECT_HANDLE_INVALID);
        CK_OBJECT_HANDLE successor = 0;
        ASSERT_EQ(C_CreateObject(s, successorTemplate, 5, &successor), CKR_OK);
        ASSERT_EQ(successor, handle);
        CK_ULONG length = wrapped.size();
        EXPECT_EQ(C_WrapKey(s, &wrap, successor, secret, wrapped.data(), &length), CKR_KEY_HANDLE_INVALID)
            << "failure " << failures;
        ASSERT_EQ(C_DestroyObject(s, successor), CKR_OK);
    }
    EXPECT_GT(failures, 0) << "no derivation lost its object under way";
    EXPECT_EQ(C_CloseSession(s), CKR_OK);
}

// First-come, first-served mutexes given to the module as the application's
// own: a thread that lets a lock go and asks for it again queues behind the
// threads already waiting, so threads released together take their steps in
// turn, as a busy machine may schedule them.
struct FairMutex {
    std::mutex guard;
    std::condition_variable turn;
    unsigned long next = 0;
    unsigned long serving = 0;
    // The holder and the threads waiting.
    unsigned long Queued()
    {
        std::lock_guard<std::mutex> hold(guard);
        return next - serving;
    }
};
thread_local FairMutex* t_lastLocked = nullptr;

CK_RV FairCreate(void** mutex)
{
    *mutex = new FairMutex;
    return CKR_OK;
}
CK_RV FairDestroy(void* mutex)
{
    delete static_cast<FairMutex*>(mutex);
    return CKR_OK;
}
CK_RV FairLock(void* mutex)
{
    auto* m = static_cast<FairMutex*>(mutex);
    std::unique_lock<std::mutex> hold(m->guard);
    const unsigned long ticket = m->next++;
    m->turn.wait(hold, [&] { return m->serving == ticket; });
    t_lastLocked = m;
    return CKR_OK;
}
CK_RV FairUnlock(void* mutex)
{
    auto* m = static_cast<FairMutex*>(mutex);
    {
        std::lock_guard<std::mutex> hold(m->guard);
        ++m->serving;
    }
    m->turn.notify_all();
    return CKR_OK;
}

// Threads that log one session in at the same moment make one login: the
// others find it made, and one logout makes the session public again.
TEST_F(Pkcs11InProcess, LoginsOfOneSessionAtOneMomentMakeOneLogin)
{
    ASSERT_EQ(C_Finalize(nullptr), CKR_OK);
    CK_C_INITIALIZE_ARGS args{};
    args.CreateMutex = FairCreate;
    args.DestroyMutex = FairDestroy;
    args.LockMutex = FairLock;
    args.UnlockMutex = FairUnlock;
    ASSERT_EQ(C_Initialize(&args), CKR_OK);
    CK_ULONG count = 0;
    ASSERT_EQ(C_GetSlotList(CK_TRUE, nullptr, &count), CKR_OK);
    const CK_SESSION_HANDLE s = Open();
    constexpr int threads = 4;
    constexpr int rounds = 10;
    std::barrier start(threads + 1);
    std::barrier finish(threads + 1);
    std::vector<CK_RV> results(threads);
    std::shared_ptr<PKCS11Session> session;
    PKCS11TokenManager* manager = nullptr;
    PKCS11Token* token = nullptr;
    ASSERT_EQ(FindSession(s, &session), CKR_OK);
    ASSERT_EQ(session->GetTokenManager(&manager), CKR_OK);
    ASSERT_EQ(manager->GetToken(&token), CKR_OK);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&, t] {
            for (int round = 0; round < rounds; ++round) {
                start.arrive_and_wait();
                results[t] = C_Login(s, CKU_USER, U(kPin), kPin.size());
                finish.arrive_and_wait();
            }
        });
    for (int round = 0; round < rounds; ++round) {
        SCOPED_TRACE(round);
        // The logins meet at the token's lock, held here until every one
        // waits for it.
        ASSERT_EQ(token->Lock(), CKR_OK);
        FairMutex* tokenMutex = t_lastLocked;
        start.arrive_and_wait();
        for (auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
             tokenMutex->Queued() < threads + 1 && std::chrono::steady_clock::now() < deadline;)
            std::this_thread::yield();
        EXPECT_EQ(tokenMutex->Queued(), threads + 1u);
        ASSERT_EQ(token->Unlock(), CKR_OK);
        finish.arrive_and_wait();
        int made = 0;
        for (CK_RV rv : results) {
            if (rv == CKR_OK) {
                ++made;
            } else {
                EXPECT_EQ(rv, CKR_USER_ALREADY_LOGGED_IN);
            }
        }
        EXPECT_EQ(made, 1);
        EXPECT_EQ(C_Logout(s), CKR_OK);
        CK_SESSION_INFO info{};
        ASSERT_EQ(C_GetSessionInfo(s, &info), CKR_OK);
        EXPECT_EQ(info.state, CKS_RW_PUBLIC_SESSION) << "one logout ends the one login";
        EXPECT_EQ(C_Logout(s), CKR_USER_NOT_LOGGED_IN);
    }
    for (std::thread& t : workers) t.join();
}

// Every session keeps a pool entry of its own: past the pool's last entry of
// the slot a session is refused, never given a share of another's login.
TEST_F(Pkcs11InProcess, PastThePoolASessionIsRefusedNotShared)
{
    std::vector<CK_SESSION_HANDLE> sessions;
    for (std::uint32_t i = 0; i < TOKEN_MANAGER_POOL_CAPACITY; ++i) {
        CK_SESSION_HANDLE h = 0;
        ASSERT_EQ(C_OpenSession(0, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &h), CKR_OK) << i;
        sessions.push_back(h);
    }
    ASSERT_EQ(C_Login(sessions[0], CKU_USER, U(kPin), kPin.size()), CKR_OK);
    CK_SESSION_HANDLE extra = 0;
    const CK_RV rv = C_OpenSession(0, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &extra);
    CK_SESSION_INFO info{};
    if (rv == CKR_OK) {
        EXPECT_EQ(C_GetSessionInfo(extra, &info), CKR_OK);
        ADD_FAILURE() << "a session past the pool opened, in state " << info.state;
    }
    EXPECT_EQ(rv, CKR_SESSION_COUNT);
    CK_TOKEN_INFO token{};
    EXPECT_EQ(C_GetTokenInfo(0, &token), CKR_OK) << "a look at the token still gets an entry";

    // A closed session's entry serves the next session, logged out.
    ASSERT_EQ(C_CloseSession(sessions.back()), CKR_OK);
    ASSERT_EQ(C_OpenSession(0, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &extra), CKR_OK);
    ASSERT_EQ(C_GetSessionInfo(extra, &info), CKR_OK);
    EXPECT_EQ(info.state, CKS_RW_PUBLIC_SESSION);
    EXPECT_EQ(C_OpenSession(0, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &extra), CKR_SESSION_COUNT);
    EXPECT_EQ(C_CloseAllSessions(0), CKR_OK);
}

}  // namespace
