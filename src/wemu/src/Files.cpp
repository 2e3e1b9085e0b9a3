// Files and folders.
#include "Internal.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace wemu {
namespace {

struct FileObject : Object {
    FileObject() : Object(Kind::File) {}
    ~FileObject() override
    {
        if (fd >= 0) close(fd);
    }
    int fd = -1;
};

struct FindObject : Object {
    FindObject() : Object(Kind::Find) {}
    std::vector<WIN32_FIND_DATA> entries;
    size_t next = 0;
};

constexpr DWORD kKnownCreationBits = O_CREAT | O_EXCL | O_TRUNC | O_APPEND;

FILETIME fileTimeOf(const struct timespec& ts)
{
    // 100 ns units since 1601-01-01; 11,644,473,600 s lie between the epochs.
    uint64_t t =
        (static_cast<uint64_t>(ts.tv_sec) + 11644473600ull) * 10000000ull + static_cast<uint64_t>(ts.tv_nsec) / 100;
    return FILETIME{static_cast<DWORD>(t), static_cast<DWORD>(t >> 32)};
}

char lowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

// Win32 wildcard match: '*' any run, '?' one character, ASCII case ignored.
bool matchPattern(const char* p, const char* s)
{
    const char *star = nullptr, *resume = nullptr;
    while (*s) {
        if (*p == '*') {
            star = p++;
            resume = s;
        } else if (*p == '?' || (*p && lowerAscii(*p) == lowerAscii(*s))) {
            ++p;
            ++s;
        } else if (star) {
            p = star + 1;
            s = ++resume;
        } else {
            return false;
        }
    }
    while (*p == '*') ++p;
    return *p == '\0';
}

bool nextEntry(FindObject& find, LPWIN32_FIND_DATA data)
{
    if (find.next >= find.entries.size()) {
        setError(ERROR_NO_MORE_FILES);
        return false;
    }
    *data = find.entries[find.next++];
    return true;
}

}  // namespace
}  // namespace wemu

using namespace wemu;

extern "C" {

HANDLE CreateFile(LPCSTR path, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD creation, DWORD, HANDLE)
{
    if (injectedFailure("CreateFile")) return INVALID_HANDLE_VALUE;
    if (!path || (creation & ~kKnownCreationBits) != 0 || (access & (GENERIC_READ | GENERIC_WRITE)) == 0) {
        setError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    int flags = O_CLOEXEC | static_cast<int>(creation);
    bool reading = access & GENERIC_READ, writing = access & GENERIC_WRITE;
    flags |= reading && writing ? O_RDWR : writing ? O_WRONLY : O_RDONLY;
    int fd = open(path, flags, 0600);
    if (fd < 0) {
        setError(errno == EEXIST ? ERROR_FILE_EXISTS : errorFromErrno(errno));
        return INVALID_HANDLE_VALUE;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        close(fd);
        setError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    auto file = std::make_shared<FileObject>();
    file->fd = fd;
    return registerHandle(file);
}

BOOL ReadFile(HANDLE h, LPVOID buffer, DWORD count, LPDWORD done, void*)
{
    if (done) *done = 0;
    if (injectedFailure("ReadFile")) return FALSE;
    auto object = lookupHandle(h, Kind::File);
    if (!object) return FALSE;
    if (!buffer && count) {
        setError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    int fd = static_cast<FileObject&>(*object).fd;
    DWORD total = 0;
    while (total < count) {
        ssize_t n = read(fd, static_cast<char*>(buffer) + total, count - total);
        if (n < 0) {
            if (errno == EINTR) continue;
            setErrno(errno);
            if (done) *done = total;
            return FALSE;
        }
        if (n == 0) break;  // end of file: success with fewer bytes
        total += static_cast<DWORD>(n);
    }
    if (done) *done = total;
    return TRUE;
}

BOOL WriteFile(HANDLE h, LPCVOID buffer, DWORD count, LPDWORD done, void*)
{
    if (done) *done = 0;
    if (injectedFailure("WriteFile")) return FALSE;
    auto object = lookupHandle(h, Kind::File);
    if (!object) return FALSE;
    if (!buffer && count) {
        setError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    int fd = static_cast<FileObject&>(*object).fd;
    DWORD total = 0;
    while (total < count) {
        ssize_t n = write(fd, static_cast<const char*>(buffer) + total, count - total);
        if (n < 0) {
            if (errno == EINTR) continue;
            setErrno(errno);
            if (done) *done = total;
            return FALSE;
        }
        total += static_cast<DWORD>(n);
    }
    if (done) *done = total;
    return TRUE;
}

DWORD GetFileSize(HANDLE h, LPDWORD sizeHigh)
{
    if (injectedFailure("GetFileSize")) return INVALID_FILE_SIZE;
    auto object = lookupHandle(h, Kind::File);
    if (!object) return INVALID_FILE_SIZE;
    struct stat st;
    if (fstat(static_cast<FileObject&>(*object).fd, &st) != 0) {
        setErrno(errno);
        return INVALID_FILE_SIZE;
    }
    uint64_t size = static_cast<uint64_t>(st.st_size);
    if (sizeHigh) *sizeHigh = static_cast<DWORD>(size >> 32);
    setError(ERROR_SUCCESS);
    return static_cast<DWORD>(size);
}

BOOL DeleteFile(LPCSTR path)
{
    if (!path) {
        setError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (unlink(path) != 0) {
        setErrno(errno);
        return FALSE;
    }
    return TRUE;
}

BOOL MoveFileEx(LPCSTR from, LPCSTR to, DWORD flags)
{
    if (injectedFailure("MoveFileEx")) return FALSE;
    if (!from || !to || (flags & ~MOVEFILE_REPLACE_EXISTING) != 0) {
        setError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!(flags & MOVEFILE_REPLACE_EXISTING)) {
        // link() refuses an existing target atomically; the source name goes after.
        if (link(from, to) != 0) {
            setError(errno == EEXIST ? ERROR_ALREADY_EXISTS : errorFromErrno(errno));
            return FALSE;
        }
        unlink(from);
        return TRUE;
    }
    if (rename(from, to) != 0) {
        setErrno(errno);
        return FALSE;
    }
    return TRUE;
}

HANDLE FindFirstFile(LPCSTR pattern, LPWIN32_FIND_DATA data)
{
    if (injectedFailure("FindFirstFile")) return INVALID_HANDLE_VALUE;
    if (!pattern || !data || !*pattern) {
        setError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::string text(pattern);
    size_t slash = text.rfind('/');
    std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : text.substr(0, slash);
    std::string mask = slash == std::string::npos ? text : text.substr(slash + 1);
    if (mask.empty()) {
        setError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    const bool everything = mask == "*.*";  // Win32: also names without a dot
    DIR* dir = opendir(folder.c_str());
    if (!dir) {
        setError(errno == ENOENT ? ERROR_PATH_NOT_FOUND : errorFromErrno(errno));
        return INVALID_HANDLE_VALUE;
    }
    auto find = std::make_shared<FindObject>();
    while (struct dirent* e = readdir(dir)) {
        if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, "..")) continue;
        if (std::strlen(e->d_name) >= MAX_PATH || !(everything || matchPattern(mask.c_str(), e->d_name))) continue;
        struct stat st;
        if (fstatat(dirfd(dir), e->d_name, &st, 0) != 0) continue;  // vanished, or a dangling link
        WIN32_FIND_DATA fd{};
        fd.dwFileAttributes = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
        fd.ftCreationTime = fileTimeOf(st.st_ctim);
        fd.ftLastAccessTime = fileTimeOf(st.st_atim);
        fd.ftLastWriteTime = fileTimeOf(st.st_mtim);
        uint64_t size = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);
        fd.nFileSizeHigh = static_cast<DWORD>(size >> 32);
        fd.nFileSizeLow = static_cast<DWORD>(size);
        std::strcpy(fd.cFileName, e->d_name);
        find->entries.push_back(fd);
    }
    closedir(dir);
    if (find->entries.empty()) {
        setError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    std::sort(find->entries.begin(), find->entries.end(), [](const WIN32_FIND_DATA& a, const WIN32_FIND_DATA& b) {
        return std::strcmp(a.cFileName, b.cFileName) < 0;
    });
    nextEntry(*find, data);
    return registerHandle(find);
}

BOOL FindNextFile(HANDLE h, LPWIN32_FIND_DATA data)
{
    auto object = lookupHandle(h, Kind::Find);
    if (!object) return FALSE;
    if (!data) {
        setError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return nextEntry(static_cast<FindObject&>(*object), data);
}

BOOL FindClose(HANDLE h)
{
    auto object = lookupHandle(h, Kind::Find);
    if (!object) return FALSE;
    takeHandle(h);
    return TRUE;
}

DWORD GetCurrentDirectory(DWORD size, LPSTR buffer)
{
    std::vector<char> path(4096);
    while (!getcwd(path.data(), path.size())) {
        if (errno != ERANGE) {
            setErrno(errno);
            return 0;
        }
        path.resize(path.size() * 2);
    }
    size_t length = std::strlen(path.data());
    if (!buffer || size < length + 1) return static_cast<DWORD>(length + 1);
    std::memcpy(buffer, path.data(), length + 1);
    return static_cast<DWORD>(length);
}

BOOL SetCurrentDirectory(LPCSTR path)
{
    if (!path) {
        setError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (chdir(path) != 0) {
        setError(errno == ENOENT ? ERROR_FILE_NOT_FOUND : errorFromErrno(errno));
        return FALSE;
    }
    return TRUE;
}

}  // extern "C"
