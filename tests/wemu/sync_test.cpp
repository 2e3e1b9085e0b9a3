// Named mutexes and memories across processes, events, critical sections.
#include "TestSupport.h"

#include "wemu.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

using wemu_test::finishChild;
using wemu_test::runChild;
using wemu_test::Signal;
using wemu_test::startChild;

namespace {

// The names and sizes the device layer uses.
const char kKeyMutex[] = "Global\\QuorKorvo7QOpenMutex 00 00";
const char kGlobalMutex[] = "Global\\QuorKorvo7QMutex";
const char kDeviceCache[] = "Global\\QuorKorvo7QMemory";
const char kDeviceCacheLocal[] = "Local\\QuorKorvo7QMemory";
const DWORD kDeviceCacheSize = 0xE2A00;

std::string backingPath(const char* name, bool isMutex)
{
    char path[512];
    DWORD n = WemuNamedObjectPath(name, isMutex, path, sizeof path);
    EXPECT_GT(n, 0u);
    EXPECT_LT(n, sizeof path);
    return path;
}

bool allZero(const void* p, size_t n)
{
    const auto* b = static_cast<const unsigned char*>(p);
    for (size_t i = 0; i < n; ++i)
        if (b[i]) return false;
    return true;
}

// The security attributes exactly as the device layer builds them.
struct NullDaclAttributes {
    SECURITY_DESCRIPTOR sd;
    SECURITY_ATTRIBUTES sa;
    NullDaclAttributes()
    {
        EXPECT_TRUE(InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION));
        EXPECT_TRUE(SetSecurityDescriptorDacl(&sd, TRUE, nullptr, FALSE));
        sa = {12, &sd, TRUE};
    }
};

class WemuNamedObjects : public wemu_test::HermeticNames {};

TEST_F(WemuNamedObjects, TwoProcessesShareOneMutexAndOneMemory)
{
    NullDaclAttributes attrs;
    HANDLE mutex = CreateMutex(&attrs.sa, FALSE, kKeyMutex);
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    HANDLE mapping =
        CreateFileMapping(INVALID_HANDLE_VALUE, &attrs.sa, PAGE_READWRITE, 0, kDeviceCacheSize, kDeviceCache);
    ASSERT_NE(mapping, nullptr);
    auto* view = static_cast<unsigned char*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, kDeviceCacheSize));
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(allZero(view, kDeviceCacheSize));

    ASSERT_EQ(WaitForSingleObject(mutex, 15000), WAIT_OBJECT_0);
    Signal childWrote, parentWrote;
    pid_t child = startChild([&] {
        NullDaclAttributes a;
        HANDLE m = CreateMutex(&a.sa, FALSE, kKeyMutex);
        if (!m || GetLastError() != ERROR_ALREADY_EXISTS) return 10;
        if (WaitForSingleObject(m, 200) != WAIT_TIMEOUT)  // the parent holds it
            return 11;
        HANDLE s = CreateFileMapping(INVALID_HANDLE_VALUE, &a.sa, PAGE_READWRITE, 0, kDeviceCacheSize, kDeviceCache);
        if (!s || GetLastError() != ERROR_ALREADY_EXISTS) return 12;
        auto* v = static_cast<unsigned char*>(MapViewOfFile(s, FILE_MAP_ALL_ACCESS, 0, 0, kDeviceCacheSize));
        if (!v) return 13;
        v[0] = 0xA5;
        v[kDeviceCacheSize - 1] = 0x5A;
        childWrote.post();
        if (!parentWrote.await()) return 14;
        if (WaitForSingleObject(m, 15000) != WAIT_OBJECT_0)  // released by the parent
            return 15;
        int seen = v[7240];
        ReleaseMutex(m);
        return seen == 0x77 ? 0 : 16;
    });
    ASSERT_TRUE(childWrote.await());
    EXPECT_EQ(view[0], 0xA5);
    EXPECT_EQ(view[kDeviceCacheSize - 1], 0x5A);
    view[7240] = 0x77;
    parentWrote.post();
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_EQ(finishChild(child), 0);

    EXPECT_TRUE(UnmapViewOfFile(view));
    EXPECT_TRUE(CloseHandle(mapping));
    EXPECT_TRUE(CloseHandle(mutex));
}

TEST_F(WemuNamedObjects, WaiterTimesOutWhileAnotherThreadHolds)
{
    HANDLE mutex = CreateMutex(nullptr, FALSE, kGlobalMutex);
    ASSERT_NE(mutex, nullptr);
    ASSERT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
    DWORD zero = 1, timed = 1;
    std::thread other([&] {
        zero = WaitForSingleObject(mutex, 0);
        timed = WaitForSingleObject(mutex, 150);
    });
    other.join();
    EXPECT_EQ(zero, WAIT_TIMEOUT);
    EXPECT_EQ(timed, WAIT_TIMEOUT);
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_TRUE(CloseHandle(mutex));
}

TEST_F(WemuNamedObjects, MutexIsRecursiveForItsOwnerOnly)
{
    HANDLE a = CreateMutex(nullptr, FALSE, kGlobalMutex);
    HANDLE b = CreateMutex(nullptr, FALSE, kGlobalMutex);  // second handle, same object
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(WaitForSingleObject(a, 15000), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(b, 15000), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(a));
    DWORD other = 0;
    std::thread([&] { other = WaitForSingleObject(a, 0); }).join();
    EXPECT_EQ(other, WAIT_TIMEOUT) << "one release of two must keep it owned";
    EXPECT_TRUE(ReleaseMutex(b));
    EXPECT_FALSE(ReleaseMutex(a));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_OWNER));
    std::thread([&] {
        other = WaitForSingleObject(a, 0);
        ReleaseMutex(a);
    }).join();
    EXPECT_EQ(other, WAIT_OBJECT_0);
    CloseHandle(a);
    CloseHandle(b);
}

TEST_F(WemuNamedObjects, HolderKilledLeavesMutexAbandoned)
{
    HANDLE mutex = CreateMutex(nullptr, FALSE, kKeyMutex);
    ASSERT_NE(mutex, nullptr);
    Signal holding;
    pid_t child = startChild([&] {
        HANDLE m = CreateMutex(nullptr, FALSE, kKeyMutex);
        if (!m || WaitForSingleObject(m, 15000) != WAIT_OBJECT_0 || WaitForSingleObject(m, 15000) != WAIT_OBJECT_0)
            return 1;
        holding.post();
        for (;;) pause();
    });
    ASSERT_TRUE(holding.await());
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_TIMEOUT);
    kill(child, SIGKILL);
    EXPECT_EQ(finishChild(child), 128 + SIGKILL);

    EXPECT_EQ(WaitForSingleObject(mutex, 15000), WAIT_ABANDONED);
    // Obtained once (not the dead owner's two), and usable from then on.
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_FALSE(ReleaseMutex(mutex));
    EXPECT_EQ(runChild([] {
                  HANDLE m = CreateMutex(nullptr, FALSE, kKeyMutex);
                  DWORD r = WaitForSingleObject(m, 15000);
                  ReleaseMutex(m);
                  return r == WAIT_OBJECT_0 ? 0 : 1;
              }),
              0);
    EXPECT_TRUE(CloseHandle(mutex));
}

TEST_F(WemuNamedObjects, ThreadClosingAnOwnedMutexLeavesItOwnedThenAbandoned)
{
    HANDLE mutex = CreateMutex(nullptr, FALSE, kGlobalMutex);
    ASSERT_NE(mutex, nullptr);
    DWORD waitWhileClosed = 0;
    std::thread owner([&] {
        HANDLE mine = CreateMutex(nullptr, FALSE, kGlobalMutex);
        WaitForSingleObject(mine, 15000);
        CloseHandle(mine);
        // A second robust mutex taken and released after the close must not
        // trip over the closed one.
        HANDLE other = CreateMutex(nullptr, FALSE, kKeyMutex);
        WaitForSingleObject(other, 15000);
        ReleaseMutex(other);
        CloseHandle(other);
        waitWhileClosed = 1;
    });
    owner.join();
    EXPECT_EQ(waitWhileClosed, 1u);
    EXPECT_EQ(WaitForSingleObject(mutex, 15000), WAIT_ABANDONED);
    EXPECT_TRUE(ReleaseMutex(mutex));
    CloseHandle(mutex);
}

TEST_F(WemuNamedObjects, NewMemoryReadsZeroAndExistingKeepsItsSize)
{
    HANDLE first = CreateFileMapping(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 83456, "Global\\Keys");
    ASSERT_NE(first, nullptr);
    auto* view = static_cast<unsigned char*>(MapViewOfFile(first, FILE_MAP_ALL_ACCESS, 0, 0, 83456));
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(allZero(view, 83456));
    std::memset(view, 0xEE, 83456);

    // Opening under the same name ignores the size asked for.
    HANDLE second = CreateFileMapping(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, "Global\\Keys");
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    auto* again = static_cast<unsigned char*>(MapViewOfFile(second, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again[83455], 0xEE);
    EXPECT_EQ(MapViewOfFile(second, FILE_MAP_ALL_ACCESS, 0, 0, 83457), nullptr);

    // A view keeps the memory alive after its mapping handle is closed.
    EXPECT_TRUE(CloseHandle(first));
    EXPECT_TRUE(CloseHandle(second));
    HANDLE third = CreateFileMapping(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 83456, "Global\\Keys");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_TRUE(UnmapViewOfFile(view));
    EXPECT_TRUE(UnmapViewOfFile(again));
    EXPECT_FALSE(UnmapViewOfFile(again));
    EXPECT_TRUE(CloseHandle(third));

    // The last one out removes it: the next is new and zero again.
    struct stat st;
    EXPECT_NE(stat(backingPath("Global\\Keys", false).c_str(), &st), 0);
    HANDLE fresh = CreateFileMapping(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 83456, "Global\\Keys");
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    void* v = MapViewOfFile(fresh, FILE_MAP_ALL_ACCESS, 0, 0, 83456);
    EXPECT_TRUE(allZero(v, 83456));
    UnmapViewOfFile(v);
    CloseHandle(fresh);
}

TEST_F(WemuNamedObjects, MemoryLeftByKilledProcessesStartsAfresh)
{
    Signal written;
    pid_t child = startChild([&] {
        HANDLE s = CreateFileMapping(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 8192, kDeviceCache);
        auto* v = static_cast<unsigned char*>(MapViewOfFile(s, FILE_MAP_ALL_ACCESS, 0, 0, 8192));
        if (!v) return 1;
        std::memset(v, 0x42, 8192);
        written.post();
        for (;;) pause();
    });
    ASSERT_TRUE(written.await());
    kill(child, SIGKILL);
    finishChild(child);
    HANDLE s = CreateFileMapping(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 16384, kDeviceCache);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    void* v = MapViewOfFile(s, FILE_MAP_ALL_ACCESS, 0, 0, 16384);
    ASSERT_NE(v, nullptr);
    EXPECT_TRUE(allZero(v, 16384));
    UnmapViewOfFile(v);
    CloseHandle(s);
}

// The inode behind a mapped address, from the kernel's list of mappings.
ino_t inodeOfView(const void* view)
{
    FILE* maps = std::fopen("/proc/self/maps", "r");
    if (!maps) return 0;
    char line[1024];
    ino_t inode = 0;
    while (std::fgets(line, sizeof line, maps)) {
        unsigned long start, end, offset, ino;
        char perms[8], dev[16];
        if (std::sscanf(line, "%lx-%lx %7s %lx %15s %lu", &start, &end, perms, &offset, dev, &ino) == 6 &&
            start == reinterpret_cast<uintptr_t>(view)) {
            inode = static_cast<ino_t>(ino);
            break;
        }
    }
    std::fclose(maps);
    return inode;
}

TEST_F(WemuNamedObjects, ProcessesOpeningAndClosingAtOnceNeverSplitOneName)
{
    // Whoever holds the memory must find its name pointing at that very
    // memory, however openers and last-one-out closers interleave.
    std::string path = backingPath(kDeviceCache, false);
    std::vector<pid_t> children;
    for (int c = 0; c < 6; ++c) {
        children.push_back(startChild([&] {
            for (int i = 0; i < 300; ++i) {
                HANDLE s = CreateFileMapping(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, kDeviceCache);
                if (!s) return 1;
                void* v = MapViewOfFile(s, FILE_MAP_ALL_ACCESS, 0, 0, 4096);
                if (!v) return 2;
                struct stat st;
                if (stat(path.c_str(), &st) != 0 || st.st_ino != inodeOfView(v)) return 3;
                UnmapViewOfFile(v);
                CloseHandle(s);
            }
            return 0;
        }));
    }
    for (pid_t child : children) EXPECT_EQ(finishChild(child), 0);
    struct stat st;
    EXPECT_NE(stat(path.c_str(), &st), 0) << "the last one out removes the name";
}

TEST_F(WemuNamedObjects, LocalFallbackWhenGlobalIsRefused)
{
    setenv("WEMU_REFUSE_GLOBAL", "1", 1);
    EXPECT_EQ(CreateFileMapping(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, kDeviceCache), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    HANDLE local = CreateFileMapping(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, kDeviceCacheLocal);
    ASSERT_NE(local, nullptr);
    // Mutexes have no fallback and are not refused.
    HANDLE mutex = CreateMutex(nullptr, FALSE, kGlobalMutex);
    EXPECT_NE(mutex, nullptr);
    // Another process falls back the same way and meets the same memory.
    auto* view = static_cast<unsigned char*>(MapViewOfFile(local, FILE_MAP_ALL_ACCESS, 0, 0, 4096));
    ASSERT_NE(view, nullptr);
    view[100] = 9;
    EXPECT_EQ(runChild([] {
                  HANDLE s = CreateFileMapping(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, kDeviceCache);
                  if (!s)
                      s = CreateFileMapping(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, kDeviceCacheLocal);
                  auto* v = static_cast<unsigned char*>(MapViewOfFile(s, FILE_MAP_ALL_ACCESS, 0, 0, 4096));
                  return v && v[100] == 9 ? 0 : 1;
              }),
              0);
    UnmapViewOfFile(view);
    CloseHandle(local);
    CloseHandle(mutex);
}

TEST_F(WemuNamedObjects, NamesMapToDistinctValidFiles)
{
    std::string longA(300, 'x'), longB(300, 'x');
    longA += "A";
    longB += "B";
    std::vector<std::string> names = {"Global\\X",   "Local\\X",    "Global\\a b", "Global\\a%20b", "Global\\a_b",
                                      "Global\\a+b", "Global\\a/b", "Global\\..",  longA,           longB};
    std::vector<std::string> paths;
    for (const auto& n : names) {
        std::string p = backingPath(n.c_str(), false);
        EXPECT_EQ(p.rfind("/dev/shm/", 0), 0u) << p;
        std::string file = p.substr(9);
        EXPECT_EQ(file.find('/'), std::string::npos) << p;
        EXPECT_LE(file.size(), 255u) << p;
        EXPECT_NE(file, "..");
        for (const auto& q : paths) EXPECT_NE(p, q) << n;
        paths.push_back(p);
    }
    EXPECT_NE(backingPath("Global\\X", true), backingPath("Global\\X", false));
    // The long names really work as objects and stay apart.
    HANDLE a = CreateFileMapping(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, longA.c_str());
    HANDLE b = CreateFileMapping(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, longB.c_str());
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    CloseHandle(a);
    CloseHandle(b);
}

TEST_F(WemuNamedObjects, ObjectsAreOwnerOnly)
{
    NullDaclAttributes attrs;  // a null DACL must not open them to others
    HANDLE mutex = CreateMutex(&attrs.sa, FALSE, kKeyMutex);
    HANDLE mapping = CreateFileMapping(INVALID_HANDLE_VALUE, &attrs.sa, PAGE_READWRITE, 0, 4096, kDeviceCache);
    ASSERT_NE(mutex, nullptr);
    ASSERT_NE(mapping, nullptr);
    auto* view = static_cast<unsigned char*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 4096));
    ASSERT_NE(view, nullptr);
    std::memset(view, 0x5E, 4096);  // stands for session-key material

    for (bool isMutex : {true, false}) {
        struct stat st;
        ASSERT_EQ(stat(backingPath(isMutex ? kKeyMutex : kDeviceCache, isMutex).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        EXPECT_EQ(st.st_uid, geteuid());
    }

    if (geteuid() != 0) GTEST_SKIP() << "switching to another user needs root";
    std::string path = backingPath(kDeviceCache, false);
    int rc = runChild([&] {
        if (setgid(65534) != 0 || setuid(65534) != 0) return 20;
        if (open(path.c_str(), O_RDONLY) >= 0 || errno != EACCES) return 21;
        // Under the same Win32 name the other user gets memory of its own.
        HANDLE s = CreateFileMapping(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, kDeviceCache);
        if (s) {
            auto* v = static_cast<unsigned char*>(MapViewOfFile(s, FILE_MAP_ALL_ACCESS, 0, 0, 4096));
            if (v && v[0] == 0x5E) return 22;
            UnmapViewOfFile(v);
            CloseHandle(s);
        }
        return 0;
    });
    EXPECT_EQ(rc, 0);
    UnmapViewOfFile(view);
    CloseHandle(mapping);
    CloseHandle(mutex);
}

TEST_F(WemuNamedObjects, ObjectPlantedWithLooseModeIsRefused)
{
    // Someone made the backing object readable by others before us: using it
    // would hand them the caches.
    for (bool isMutex : {true, false}) {
        const char* name = isMutex ? kGlobalMutex : kDeviceCache;
        std::string path = backingPath(name, isMutex);
        int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(fchmod(fd, 0644), 0);
        HANDLE h = isMutex ? CreateMutex(nullptr, FALSE, name)
                           : CreateFileMapping(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, name);
        EXPECT_EQ(h, nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        close(fd);
        unlink(path.c_str());
    }
}

TEST_F(WemuNamedObjects, InjectedFailureHitsTheChosenCall)
{
    setenv("WEMU_FAIL", "CreateFileMapping:2", 1);
    WemuResetTestHooks();
    HANDLE a = CreateFileMapping(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, "Local\\A");
    HANDLE b = CreateFileMapping(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, "Local\\B");
    DWORD error = GetLastError();
    HANDLE c = CreateFileMapping(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, "Local\\C");
    EXPECT_NE(a, nullptr);
    EXPECT_EQ(b, nullptr);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_GEN_FAILURE));
    EXPECT_NE(c, nullptr);
    CloseHandle(a);
    CloseHandle(c);

    setenv("WEMU_FAIL", "WaitForSingleObject,MapViewOfFile", 1);
    HANDLE m = CreateMutex(nullptr, FALSE, kGlobalMutex);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_FAILED);
    EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_FAILED);
    unsetenv("WEMU_FAIL");
    EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0);
    ReleaseMutex(m);
    CloseHandle(m);
}

TEST(WemuHandles, BadAndClosedHandlesAreRefused)
{
    HANDLE e = CreateEvent(nullptr, FALSE, FALSE, nullptr);
    ASSERT_NE(e, nullptr);
    EXPECT_TRUE(CloseHandle(e));
    EXPECT_FALSE(CloseHandle(e));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_FAILED);
    EXPECT_FALSE(ReleaseMutex(INVALID_HANDLE_VALUE));
    EXPECT_EQ(MapViewOfFile(nullptr, FILE_MAP_ALL_ACCESS, 0, 0, 0), nullptr);
    // Unnamed objects work and are private to their handles.
    HANDLE m = CreateMutex(nullptr, TRUE, nullptr);
    ASSERT_NE(m, nullptr);
    EXPECT_TRUE(ReleaseMutex(m));
    EXPECT_FALSE(ReleaseMutex(m));
    CloseHandle(m);
}

TEST(WemuEvents, AutoResetReleasesOneWaitThenClears)
{
    HANDLE e = CreateEvent(nullptr, FALSE, FALSE, nullptr);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
    std::atomic<DWORD> result{WAIT_FAILED};
    std::thread waiter([&] { result = WaitForSingleObject(e, INFINITE); });
    Sleep(20);
    EXPECT_TRUE(SetEvent(e));
    waiter.join();
    EXPECT_EQ(result.load(), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(e, 50), WAIT_TIMEOUT) << "the wait must have reset it";
    EXPECT_TRUE(SetEvent(e));
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
    CloseHandle(e);

    HANDLE manual = CreateEvent(nullptr, TRUE, TRUE, nullptr);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ResetEvent(manual));
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_TIMEOUT);
    CloseHandle(manual);
}

TEST(WemuCriticalSections, OwnerMayEnterAgainOthersWait)
{
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    EnterCriticalSection(&cs);
    EnterCriticalSection(&cs);
    bool other = true;
    std::thread([&] { other = TryEnterCriticalSection(&cs); }).join();
    EXPECT_FALSE(other);
    LeaveCriticalSection(&cs);
    std::thread([&] { other = TryEnterCriticalSection(&cs); }).join();
    EXPECT_FALSE(other) << "still entered once";
    LeaveCriticalSection(&cs);
    std::thread([&] {
        other = TryEnterCriticalSection(&cs);
        if (other) LeaveCriticalSection(&cs);
    }).join();
    EXPECT_TRUE(other);
    DeleteCriticalSection(&cs);
}

TEST(WemuSecurity, DescriptorCallsAcceptTheNullDacl)
{
    SECURITY_DESCRIPTOR sd;
    EXPECT_TRUE(InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION));
    EXPECT_TRUE(SetSecurityDescriptorDacl(&sd, TRUE, nullptr, FALSE));
    EXPECT_FALSE(InitializeSecurityDescriptor(&sd, 2));
}

}  // namespace
