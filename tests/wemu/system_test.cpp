// Files, folders, modules, time and the registry store.
#include "wemu.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// A scratch folder, removed with its contents afterwards; restores the
// current directory too.
class Scratch : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/wemu-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        char cwd[4096];
        ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
        savedCwd = cwd;
    }
    void TearDown() override
    {
        EXPECT_EQ(chdir(savedCwd.c_str()), 0);
        std::string cmd = "rm -rf '" + dir + "'";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
    }
    void writeFile(const std::string& name, const std::string& content)
    {
        std::ofstream(dir + "/" + name, std::ios::binary) << content;
    }
    std::string readFile(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    std::string dir, savedCwd;
};

using WemuFiles = Scratch;

TEST_F(WemuFiles, CreateWriteReadSizeDelete)
{
    std::string path = dir + "/params.bin";
    // Opening a file that is not there fails with the Win32 code.
    EXPECT_EQ(CreateFile(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING_FILE, FILE_ATTRIBUTE_NORMAL, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    for (const std::string& content : {std::string(336, '\x11'), std::string(80, '\x22')}) {
        HANDLE w = CreateFile(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_OR_TRUNCATE_FILE, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
        ASSERT_NE(w, INVALID_HANDLE_VALUE);
        DWORD done = 0;
        EXPECT_TRUE(WriteFile(w, content.data(), static_cast<DWORD>(content.size()), &done, nullptr));
        EXPECT_EQ(done, content.size());
        EXPECT_TRUE(CloseHandle(w));
        EXPECT_EQ(readFile(path), content) << "0x240 must truncate the longer old file";
    }
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    HANDLE r = CreateFile(path.c_str(), GENERIC_READ, 3, nullptr, OPEN_EXISTING_FILE, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(r, INVALID_HANDLE_VALUE);
    DWORD high = 7;
    EXPECT_EQ(GetFileSize(r, nullptr), 80u);
    EXPECT_EQ(GetFileSize(r, &high), 80u);
    EXPECT_EQ(high, 0u);
    char buffer[100];
    DWORD done = 0;
    EXPECT_TRUE(ReadFile(r, buffer, sizeof buffer, &done, nullptr));
    EXPECT_EQ(done, 80u) << "a read past the end succeeds short";
    EXPECT_TRUE(ReadFile(r, buffer, sizeof buffer, &done, nullptr));
    EXPECT_EQ(done, 0u);
    EXPECT_FALSE(WriteFile(r, buffer, 1, &done, nullptr)) << "opened for reading only";
    EXPECT_TRUE(CloseHandle(r));

    EXPECT_EQ(GetFileSize(r, nullptr), INVALID_FILE_SIZE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(ReadFile(r, buffer, 1, &done, nullptr));

    EXPECT_TRUE(DeleteFile(path.c_str()));
    EXPECT_FALSE(DeleteFile(path.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    // A folder is not a file; unknown creation values are refused.
    EXPECT_EQ(CreateFile(dir.c_str(), GENERIC_READ, 0, nullptr, 0, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(CreateFile(path.c_str(), GENERIC_WRITE, 0, nullptr, 2 /* Win32 CREATE_ALWAYS */, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(WemuFiles, InjectedFailures)
{
    std::string path = dir + "/f";
    writeFile("f", "abc");
    setenv("WEMU_FAIL", "GetFileSize,WriteFile:1", 1);
    WemuResetTestHooks();
    HANDLE h = CreateFile(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, 0, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetFileSize(h, nullptr), INVALID_FILE_SIZE);
    DWORD done = 9;
    EXPECT_FALSE(WriteFile(h, "x", 1, &done, nullptr));
    EXPECT_EQ(done, 0u);
    EXPECT_TRUE(WriteFile(h, "x", 1, &done, nullptr));
    unsetenv("WEMU_FAIL");
    EXPECT_EQ(GetFileSize(h, nullptr), 3u);
    CloseHandle(h);
}

TEST_F(WemuFiles, MoveFileExRenamesAndReplacesOnlyWhenAsked)
{
    writeFile("a", "new");
    writeFile("b", "old");
    std::string a = dir + "/a", b = dir + "/b", c = dir + "/c";
    EXPECT_FALSE(MoveFileEx(a.c_str(), b.c_str(), 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(readFile(b), "old");
    EXPECT_TRUE(MoveFileEx(a.c_str(), b.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(readFile(b), "new");
    EXPECT_NE(access(a.c_str(), F_OK), 0);
    EXPECT_TRUE(MoveFileEx(b.c_str(), c.c_str(), 0));
    EXPECT_EQ(readFile(c), "new");
    EXPECT_NE(access(b.c_str(), F_OK), 0);
    EXPECT_FALSE(MoveFileEx(a.c_str(), c.c_str(), MOVEFILE_REPLACE_EXISTING));  // source gone
    EXPECT_FALSE(MoveFileEx(c.c_str(), b.c_str(), 0x8));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(WemuFiles, FindMatchesWildcardsInNameOrder)
{
    writeFile("b.p7b", "1");
    writeFile("A.P7B", "22");
    writeFile("c.cer", "333");
    writeFile("c.p7bx", "");
    writeFile("noext", "");
    ASSERT_EQ(mkdir((dir + "/sub.p7b").c_str(), 0700), 0);

    auto find = [&](const std::string& mask) {
        std::vector<std::string> names;
        WIN32_FIND_DATA data;
        HANDLE h = FindFirstFile((dir + "/" + mask).c_str(), &data);
        if (h == INVALID_HANDLE_VALUE) {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
            return names;
        }
        do {
            std::string n = data.cFileName;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                n += "/";
            else
                n += ":" + std::to_string(data.nFileSizeLow);
            names.push_back(n);
        } while (FindNextFile(h, &data));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
        EXPECT_TRUE(FindClose(h));
        return names;
    };
    using V = std::vector<std::string>;
    EXPECT_EQ(find("*.p7b"), (V{"A.P7B:2", "b.p7b:1", "sub.p7b/"}));
    EXPECT_EQ(find("?.cer"), (V{"c.cer:3"}));
    EXPECT_EQ(find("*.*"), (V{"A.P7B:2", "b.p7b:1", "c.cer:3", "c.p7bx:0", "noext:0", "sub.p7b/"}));
    EXPECT_EQ(find("c.*x"), (V{"c.p7bx:0"}));
    EXPECT_EQ(find("*.crl"), V{});
    WIN32_FIND_DATA data;
    EXPECT_EQ(FindFirstFile((dir + "/missing/*").c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST_F(WemuFiles, CurrentDirectory)
{
    ASSERT_TRUE(SetCurrentDirectory(dir.c_str()));
    DWORD needed = GetCurrentDirectory(0, nullptr);
    char real[4096];
    ASSERT_NE(realpath(dir.c_str(), real), nullptr);
    EXPECT_EQ(needed, std::strlen(real) + 1);
    std::vector<char> buffer(needed);
    EXPECT_EQ(GetCurrentDirectory(needed - 1, buffer.data()), needed) << "too small: the size needed";
    EXPECT_EQ(GetCurrentDirectory(needed, buffer.data()), needed - 1);
    EXPECT_STREQ(buffer.data(), real);
    EXPECT_FALSE(SetCurrentDirectory((dir + "/none").c_str()));
}

using WemuModules = Scratch;

TEST_F(WemuModules, BareNameIsFoundInTheCurrentDirectoryFirst)
{
    const char* bare = "wemu_testmod.so";
    std::string copy = dir + "/" + bare;
    {
        std::ifstream in(WEMU_TESTMOD_PATH, std::ios::binary);
        std::ofstream out(copy, std::ios::binary);
        out << in.rdbuf();
    }
    ASSERT_TRUE(SetCurrentDirectory("/"));
    EXPECT_EQ(LoadLibrary(bare), nullptr) << "not on the search path";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));

    ASSERT_TRUE(SetCurrentDirectory(dir.c_str()));
    HMODULE module = LoadLibrary(bare);
    ASSERT_NE(module, nullptr);
    ASSERT_TRUE(SetCurrentDirectory("/"));

    auto answer = reinterpret_cast<int (*)()>(GetProcAddress(module, "wemu_testmod_answer"));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);
    EXPECT_EQ(GetProcAddress(module, "no_such_function"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));

    // Its file name stays absolute after the directory changed back, and the
    // module found from an address inside it is the same handle.
    char name[MAX_PATH];
    char real[4096];
    ASSERT_NE(realpath(copy.c_str(), real), nullptr);
    EXPECT_EQ(GetModuleFileName(module, name, MAX_PATH), std::strlen(real));
    EXPECT_STREQ(name, real);
    EXPECT_EQ(WemuModuleOfAddress(reinterpret_cast<const void*>(answer)), module);
    char shortName[8];
    EXPECT_EQ(GetModuleFileName(module, shortName, sizeof shortName), sizeof shortName);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(std::strlen(shortName), sizeof shortName - 1);
    EXPECT_TRUE(FreeLibrary(module));

    // Other bare names still come from the normal search; the program itself
    // has its own file name.
    HMODULE libc = LoadLibrary("libc.so.6");
    EXPECT_NE(libc, nullptr);
    EXPECT_NE(GetProcAddress(libc, "strlen"), nullptr);
    FreeLibrary(libc);
    EXPECT_GT(GetModuleFileName(nullptr, name, MAX_PATH), 0u);
    EXPECT_EQ(name[0], '/');
}

TEST(WemuTime, FileTimesCountHundredNanosecondsFrom1601)
{
    SYSTEMTIME epoch1601 = {1601, 1, 0, 1, 0, 0, 0, 0};
    FILETIME ft;
    ASSERT_TRUE(SystemTimeToFileTime(&epoch1601, &ft));
    EXPECT_EQ(ft.dwHighDateTime, 0u);
    EXPECT_EQ(ft.dwLowDateTime, 0u);
    // The Unix epoch is 116444736000000000 in FILETIME units.
    SYSTEMTIME epoch1970 = {1970, 1, 4, 1, 0, 0, 0, 0};
    ASSERT_TRUE(SystemTimeToFileTime(&epoch1970, &ft));
    EXPECT_EQ((uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime, 116444736000000000ull);

    // Against the C library's calendar over many instants, both ways.
    for (int64_t t = -11644473600LL; t < 32503680000LL; t += 86400LL * 997 + 3661) {
        time_t tt = static_cast<time_t>(t);
        struct tm tm;
        ASSERT_NE(gmtime_r(&tt, &tm), nullptr);
        SYSTEMTIME st = {WORD(tm.tm_year + 1900), WORD(tm.tm_mon + 1), 0,  WORD(tm.tm_mday), WORD(tm.tm_hour),
                         WORD(tm.tm_min),         WORD(tm.tm_sec),     123};
        ASSERT_TRUE(SystemTimeToFileTime(&st, &ft)) << t;
        uint64_t ticks = (uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
        EXPECT_EQ(ticks, uint64_t(t + 11644473600LL) * 10000000ull + 1230000ull) << t;
        SYSTEMTIME back;
        ASSERT_TRUE(FileTimeToSystemTime(&ft, &back));
        EXPECT_EQ(back.wYear, st.wYear);
        EXPECT_EQ(back.wMonth, st.wMonth);
        EXPECT_EQ(back.wDay, st.wDay);
        EXPECT_EQ(back.wDayOfWeek, WORD(tm.tm_wday)) << t;
        EXPECT_EQ(back.wHour, st.wHour);
        EXPECT_EQ(back.wMinute, st.wMinute);
        EXPECT_EQ(back.wSecond, st.wSecond);
        EXPECT_EQ(back.wMilliseconds, 123);
    }

    // Dates that do not exist are refused.
    SYSTEMTIME bad[] = {{2100, 2, 0, 29, 0, 0, 0, 0},  {2024, 13, 0, 1, 0, 0, 0, 0}, {2024, 4, 0, 31, 0, 0, 0, 0},
                        {1600, 12, 0, 31, 0, 0, 0, 0}, {2024, 1, 0, 1, 24, 0, 0, 0}, {2024, 1, 0, 1, 0, 0, 0, 1000}};
    for (const auto& st : bad)
        EXPECT_FALSE(SystemTimeToFileTime(&st, &ft)) << st.wYear << "-" << st.wMonth << "-" << st.wDay;
    SYSTEMTIME leap = {2000, 2, 0, 29, 23, 59, 59, 999};
    EXPECT_TRUE(SystemTimeToFileTime(&leap, &ft));
    FILETIME tooLate = {0, 0x80000000u};
    SYSTEMTIME out;
    EXPECT_FALSE(FileTimeToSystemTime(&tooLate, &out));
}

TEST(WemuTime, CompareAndNow)
{
    FILETIME a = {5, 1}, b = {4, 2}, c = {5, 1};
    EXPECT_EQ(CompareFileTime(&a, &b), -1);
    EXPECT_EQ(CompareFileTime(&b, &a), 1);
    EXPECT_EQ(CompareFileTime(&a, &c), 0);

    // time() reads the coarse clock, which can lag the fine one by a tick: bracket with the fine one.
    auto fine = [] {
        timespec ts{};
        clock_gettime(CLOCK_REALTIME, &ts);
        return ts.tv_sec;
    };
    time_t before = fine();
    SYSTEMTIME now;
    GetSystemTime(&now);
    time_t after = fine();
    FILETIME ft;
    ASSERT_TRUE(SystemTimeToFileTime(&now, &ft));
    int64_t seconds = int64_t(((uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime) / 10000000ull) - 11644473600LL;
    EXPECT_GE(seconds, before);
    EXPECT_LE(seconds, after);
    SYSTEMTIME local;
    GetLocalTime(&local);
    EXPECT_TRUE(SystemTimeToFileTime(&local, &ft));
}

class WemuRegistry : public Scratch {
protected:
    void SetUp() override
    {
        Scratch::SetUp();
        setenv("WEMU_REGISTRY_DIR", dir.c_str(), 1);
    }
    void TearDown() override
    {
        unsetenv("WEMU_REGISTRY_DIR");
        Scratch::TearDown();
    }
};

const char kCaKey[] = "SOFTWARE\\Tavren\\Keyrond\\Common\\OIDs\\ExtKeyUsages\\CA\\";

TEST_F(WemuRegistry, ValuesSetAreReadBackAndEnumerated)
{
    const char ocsp[] = "OCSP";
    const DWORD number = 0x01020304;
    ASSERT_EQ(WemuRegSetValue(HKEY_LOCAL_MACHINE, kCaKey, "1.3.6.1.5.5.7.3.9", REG_SZ, ocsp, sizeof ocsp),
              ERROR_SUCCESS);
    ASSERT_EQ(WemuRegSetValue(HKEY_LOCAL_MACHINE, kCaKey, "1.3.6.1.5.5.7.3.10", REG_SZ, "DVCS", 5), ERROR_SUCCESS);
    ASSERT_EQ(WemuRegSetValue(HKEY_LOCAL_MACHINE, kCaKey, "Count", REG_DWORD, &number, 4), ERROR_SUCCESS);

    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kCaKey, 0, KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS, &key),
              ERROR_SUCCESS);
    std::vector<std::string> names;
    for (DWORD i = 0;; ++i) {
        char name[257];
        DWORD nameSize = sizeof name, type = 0;
        LONG rc = RegEnumValue(key, i, name, &nameSize, nullptr, &type, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        ASSERT_EQ(rc, ERROR_SUCCESS);
        EXPECT_EQ(nameSize, std::strlen(name));
        names.push_back(std::string(name) + "/" + std::to_string(type));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"1.3.6.1.5.5.7.3.10/1", "1.3.6.1.5.5.7.3.9/1", "Count/4"}));

    BYTE data[257];
    DWORD size = sizeof data, type = 0;
    EXPECT_EQ(RegQueryValueEx(key, "1.3.6.1.5.5.7.3.9", nullptr, &type, data, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, sizeof ocsp);
    EXPECT_STREQ(reinterpret_cast<char*>(data), "OCSP");
    size = 4;
    EXPECT_EQ(RegQueryValueEx(key, "count", nullptr, &type, data, &size), ERROR_SUCCESS) << "names ignore case";
    DWORD readBack;
    std::memcpy(&readBack, data, 4);
    EXPECT_EQ(readBack, number);
    size = 3;
    EXPECT_EQ(RegQueryValueEx(key, "1.3.6.1.5.5.7.3.9", nullptr, &type, data, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, sizeof ocsp);
    size = 0;
    EXPECT_EQ(RegQueryValueEx(key, "1.3.6.1.5.5.7.3.9", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, sizeof ocsp);
    EXPECT_EQ(RegQueryValueEx(key, "missing", nullptr, &type, data, &size), ERROR_FILE_NOT_FOUND);
    char tiny[4];
    DWORD tinySize = sizeof tiny;
    EXPECT_EQ(RegEnumValue(key, 0, tiny, &tinySize, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);

    // Keys match without regard to case; HKCU is a tree of its own.
    EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "software\\TAVREN\\keyrond", 0, KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, kCaKey, 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Other", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
}

TEST_F(WemuRegistry, StoreFormatIsPlainFiles)
{
    // Written by hand in the documented layout: escaped names, type line, data.
    std::string user = dir + "/HKCU/" + std::to_string(geteuid());
    std::string folder = user + "/My%20Key/%2Ehidden";
    ASSERT_EQ(std::system(("mkdir -p '" + folder + "'").c_str()), 0);
    std::ofstream(folder + "/a%20b", std::ios::binary) << std::string("1\nx y\0", 6);
    std::ofstream(folder + "/@", std::ios::binary) << std::string("3\n\x01\x02", 4);

    HKEY key, sub;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "My Key", 0, KEY_READ, &key), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyEx(key, ".hidden", 0, KEY_READ, &sub), ERROR_SUCCESS);
    BYTE data[8];
    DWORD size = sizeof data, type = 0;
    EXPECT_EQ(RegQueryValueEx(sub, "a b", nullptr, &type, data, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data), size), std::string("x y\0", 4));
    size = sizeof data;
    EXPECT_EQ(RegQueryValueEx(sub, nullptr, nullptr, &type, data, &size), ERROR_SUCCESS) << "the unnamed value";
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(size, 2u);
    RegCloseKey(sub);
    RegCloseKey(key);
    // ".." is a name like any other, never a way out of the store.
    EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "..\\..", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);

    // And the writer produces exactly that layout.
    const DWORD value = 7;
    ASSERT_EQ(WemuRegSetValue(HKEY_CURRENT_USER, "New\\..", "v/1", REG_DWORD, &value, 4), ERROR_SUCCESS);
    EXPECT_EQ(readFile(user + "/New/%2E./v%2F1"), std::string("4\n\x07\0\0\0", 6));
}

}  // namespace
