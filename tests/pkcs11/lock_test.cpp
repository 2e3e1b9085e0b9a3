// The lock layer: application mutex callbacks (not recursive themselves),
// the platform's mutexes, locks that remember the layer that made them, and
// the writer preference of the readers/writer lock.
#include <gtest/gtest.h>

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

#include "pkcs11/PKCS11Lock.h"

namespace {

// Application callbacks over a plain, non-recursive mutex: a second lock by
// the holding thread is reported as an error instead of hanging.
struct AppMutex {
    std::mutex mutex;
    std::atomic<std::thread::id> holder{};
};

std::atomic<int> g_creates{0}, g_destroys{0}, g_locks{0}, g_unlocks{0}, g_reentered{0};
std::atomic<CK_RV> g_createResult{CKR_OK};

CK_RV AppCreate(CK_VOID_PTR_PTR mutex)
{
    ++g_creates;
    if (g_createResult.load() != CKR_OK) return g_createResult.load();
    *mutex = new AppMutex;
    return CKR_OK;
}
CK_RV AppDestroy(CK_VOID_PTR mutex)
{
    ++g_destroys;
    delete static_cast<AppMutex*>(mutex);
    return CKR_OK;
}
CK_RV AppLock(CK_VOID_PTR mutex)
{
    auto* m = static_cast<AppMutex*>(mutex);
    ++g_locks;
    if (m->holder.load() == std::this_thread::get_id()) {
        ++g_reentered;
        return CKR_MUTEX_BAD;
    }
    m->mutex.lock();
    m->holder.store(std::this_thread::get_id());
    return CKR_OK;
}
CK_RV AppUnlock(CK_VOID_PTR mutex)
{
    auto* m = static_cast<AppMutex*>(mutex);
    ++g_unlocks;
    m->holder.store(std::thread::id());
    m->mutex.unlock();
    return CKR_OK;
}

// The kernel's id of the calling thread.
pid_t ThreadId()
{
    return static_cast<pid_t>(syscall(SYS_gettid));
}

// Waits until the flag is set, then until that thread sleeps in the kernel.
// A thread sets its flag just before it calls the lock, so once it sleeps it
// waits inside the lock: the order a test needs, seen rather than assumed
// from a pause. False when that has not happened within 20 seconds.
bool WaitUntilBlocked(const std::atomic<pid_t>& thread)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (thread.load() == 0)
        if (std::chrono::steady_clock::now() > deadline) return false;
    const std::string path = "/proc/self/task/" + std::to_string(thread.load()) + "/stat";
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream in(path);
        std::string stat;
        std::getline(in, stat);
        // The state follows the parenthesised program name.
        const std::size_t close = stat.rfind(')');
        if (close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'S') return true;
        std::this_thread::yield();
    }
    return false;
}

class Pkcs11LockLayer : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_creates = g_destroys = g_locks = g_unlocks = g_reentered = 0;
        g_createResult = CKR_OK;
    }
    void TearDown() override { SetMutexCallbacks(nullptr); }

    static CK_C_INITIALIZE_ARGS AppArgs(CK_FLAGS flags = 0)
    {
        CK_C_INITIALIZE_ARGS args{};
        args.CreateMutex = AppCreate;
        args.DestroyMutex = AppDestroy;
        args.LockMutex = AppLock;
        args.UnlockMutex = AppUnlock;
        args.flags = flags;
        return args;
    }
};

TEST_F(Pkcs11LockLayer, ApplicationMutexesAreReenteredByTheirHolderWithoutCallingBackTwice)
{
    CK_C_INITIALIZE_ARGS args = AppArgs();
    SetMutexCallbacks(&args);
    ASSERT_TRUE(UsesApplicationMutexes());
    {
        PKCS11Lock lock;
        ASSERT_EQ(lock.CreationError(), CKR_OK);
        EXPECT_EQ(g_creates, 1);
        ASSERT_EQ(lock.Lock(), CKR_OK);
        ASSERT_EQ(lock.Lock(), CKR_OK);
        ASSERT_EQ(lock.Lock(), CKR_OK);
        EXPECT_EQ(g_locks, 1);
        EXPECT_EQ(lock.Unlock(), CKR_OK);
        EXPECT_EQ(lock.Unlock(), CKR_OK);
        EXPECT_EQ(g_unlocks, 0) << "still held once";
        EXPECT_EQ(lock.Unlock(), CKR_OK);
        EXPECT_EQ(g_unlocks, 1);
        EXPECT_EQ(lock.Unlock(), CKR_MUTEX_NOT_LOCKED);
    }
    EXPECT_EQ(g_destroys, 1);
    EXPECT_EQ(g_reentered, 0);
}

TEST_F(Pkcs11LockLayer, AnotherThreadWaitsForTheHolderAndCannotUnlockForIt)
{
    CK_C_INITIALIZE_ARGS args = AppArgs();
    SetMutexCallbacks(&args);
    PKCS11Lock lock;
    ASSERT_EQ(lock.Lock(), CKR_OK);
    ASSERT_EQ(lock.Lock(), CKR_OK);
    std::atomic<bool> entered{false};
    std::atomic<pid_t> locking{0};
    CK_RV foreignUnlock = CKR_OK;
    std::thread other([&] {
        foreignUnlock = lock.Unlock();
        locking = ThreadId();
        ASSERT_EQ(lock.Lock(), CKR_OK);
        entered = true;
        lock.Unlock();
    });
    ASSERT_TRUE(WaitUntilBlocked(locking));
    EXPECT_FALSE(entered.load());
    lock.Unlock();
    ASSERT_TRUE(WaitUntilBlocked(locking));
    EXPECT_FALSE(entered.load()) << "the first Unlock only undid the re-entry";
    lock.Unlock();
    other.join();
    EXPECT_TRUE(entered.load());
    EXPECT_EQ(foreignUnlock, CKR_MUTEX_NOT_LOCKED);
    EXPECT_EQ(g_reentered, 0);
}

TEST_F(Pkcs11LockLayer, EachLockKeepsTheLayerItWasMadeWith)
{
    CK_C_INITIALIZE_ARGS args = AppArgs();
    SetMutexCallbacks(&args);
    auto* appLock = new PKCS11Lock;
    // Cleared (as C_Finalize and a later C_Initialize(NULL) do) while the
    // lock still exists.
    SetMutexCallbacks(nullptr);
    EXPECT_FALSE(UsesApplicationMutexes());
    {
        PKCS11Lock platformLock;
        ASSERT_EQ(platformLock.Lock(), CKR_OK);
        ASSERT_EQ(platformLock.Lock(), CKR_OK);  // critical sections are recursive
        platformLock.Unlock();
        platformLock.Unlock();
    }
    EXPECT_EQ(g_creates, 1) << "the platform lock did not use the callbacks";
    ASSERT_EQ(appLock->Lock(), CKR_OK);
    appLock->Unlock();
    EXPECT_EQ(g_locks, 1);
    EXPECT_EQ(g_unlocks, 1);
    delete appLock;
    EXPECT_EQ(g_destroys, 1) << "destroyed through the callbacks it was made with";
}

TEST_F(Pkcs11LockLayer, OsLockingFlagMeansTheCallbacksAreNeverCalled)
{
    CK_C_INITIALIZE_ARGS args = AppArgs(CKF_OS_LOCKING_OK);
    SetMutexCallbacks(&args);
    EXPECT_FALSE(UsesApplicationMutexes());
    {
        PKCS11Lock lock;
        PKCS11RWLock rw;
        ASSERT_EQ(lock.Lock(), CKR_OK);
        lock.Unlock();
        ASSERT_EQ(rw.WriteLock(), CKR_OK);
        rw.WriteUnlock();
    }
    EXPECT_EQ(g_creates + g_locks + g_unlocks + g_destroys, 0);
}

TEST_F(Pkcs11LockLayer, ALockWhoseMutexFailedAnswersWithThatError)
{
    CK_C_INITIALIZE_ARGS args = AppArgs();
    SetMutexCallbacks(&args);
    g_createResult = CKR_HOST_MEMORY;
    {
        PKCS11Lock lock;
        EXPECT_EQ(lock.CreationError(), CKR_HOST_MEMORY);
        EXPECT_EQ(lock.Lock(), CKR_HOST_MEMORY);
        EXPECT_EQ(lock.Unlock(), CKR_HOST_MEMORY);
        PKCS11RWLock rw;
        EXPECT_EQ(rw.ReadLock(), CKR_HOST_MEMORY);
        EXPECT_EQ(rw.WriteLock(), CKR_HOST_MEMORY);
    }
    EXPECT_EQ(g_destroys, 0);
    EXPECT_EQ(MutexLayerCreate(nullptr), CKR_ARGUMENTS_BAD);
}

class Pkcs11RWLock : public Pkcs11LockLayer, public ::testing::WithParamInterface<bool> {};

TEST_P(Pkcs11RWLock, AWriterWaitsForTheReadersInsideAndKeepsNewReadersOut)
{
    CK_C_INITIALIZE_ARGS args = AppArgs();
    if (GetParam()) SetMutexCallbacks(&args);
    PKCS11RWLock rw;
    ASSERT_EQ(rw.CreationError(), CKR_OK);
    EXPECT_EQ(rw.ReadUnlock(), CKR_MUTEX_NOT_LOCKED) << "idle lock";

    std::atomic<int> readersIn{0};
    std::atomic<bool> release{false}, writerIn{false}, lateReaderIn{false};
    auto reader = [&] {
        ASSERT_EQ(rw.ReadLock(), CKR_OK);
        ++readersIn;
        while (!release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_FALSE(writerIn.load());
        EXPECT_EQ(rw.ReadUnlock(), CKR_OK);
    };
    std::thread r1(reader), r2(reader);
    while (readersIn.load() < 2) std::this_thread::sleep_for(std::chrono::milliseconds(1));

    std::atomic<pid_t> writing{0}, lateReading{0};
    std::thread writer([&] {
        writing = ThreadId();
        ASSERT_EQ(rw.WriteLock(), CKR_OK);
        writerIn = true;
        // The late reader has been seen waiting before the readers left.
        EXPECT_FALSE(lateReaderIn.load()) << "a reader got in while the writer held the lock";
        writerIn = false;
        EXPECT_EQ(rw.WriteUnlock(), CKR_OK);
    });
    ASSERT_TRUE(WaitUntilBlocked(writing));
    EXPECT_FALSE(writerIn.load()) << "the writer must wait for both readers";

    std::thread late([&] {
        lateReading = ThreadId();
        ASSERT_EQ(rw.ReadLock(), CKR_OK);
        lateReaderIn = true;
        EXPECT_EQ(rw.ReadUnlock(), CKR_OK);
    });
    ASSERT_TRUE(WaitUntilBlocked(lateReading));
    EXPECT_FALSE(lateReaderIn.load()) << "a waiting writer keeps new readers out";

    release = true;
    r1.join();
    r2.join();
    writer.join();
    late.join();
    EXPECT_TRUE(lateReaderIn.load());
    EXPECT_EQ(g_reentered, 0);
}

TEST_P(Pkcs11RWLock, AReaderEntersAgainWhileAWriterWaits)
{
    CK_C_INITIALIZE_ARGS args = AppArgs();
    if (GetParam()) SetMutexCallbacks(&args);
    PKCS11RWLock rw;
    ASSERT_EQ(rw.ReadLock(), CKR_OK);
    std::atomic<bool> writerIn{false};
    std::atomic<pid_t> writing{0};
    std::thread writer([&] {
        writing = ThreadId();
        ASSERT_EQ(rw.WriteLock(), CKR_OK);
        writerIn = true;
        EXPECT_EQ(rw.WriteUnlock(), CKR_OK);
    });
    ASSERT_TRUE(WaitUntilBlocked(writing));
    // The writer now waits for this reader; taking the read lock again must
    // not queue behind it.
    ASSERT_EQ(rw.ReadLock(), CKR_OK);
    EXPECT_FALSE(writerIn.load());
    EXPECT_EQ(rw.ReadUnlock(), CKR_OK);
    ASSERT_TRUE(WaitUntilBlocked(writing));
    EXPECT_FALSE(writerIn.load()) << "one read is still held";
    EXPECT_EQ(rw.ReadUnlock(), CKR_OK);
    writer.join();
    EXPECT_TRUE(writerIn.load());
}

INSTANTIATE_TEST_SUITE_P(Layers, Pkcs11RWLock, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "ApplicationMutexes" : "PlatformMutexes";
                         });

}  // namespace
