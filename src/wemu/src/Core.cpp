// Handle table, last error, test hooks, object names and the shared-object
// lifetime protocol.
#include "Internal.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace wemu {

namespace {

std::mutex& tableLock()
{
    static std::mutex m;
    return m;
}

std::unordered_map<HANDLE, std::shared_ptr<Object>>& table()
{
    static auto* t = new std::unordered_map<HANDLE, std::shared_ptr<Object>>();
    return *t;
}

thread_local DWORD lastError = 0;

}  // namespace

HANDLE registerHandle(std::shared_ptr<Object> object)
{
    HANDLE h = object.get();
    std::lock_guard<std::mutex> g(tableLock());
    table()[h] = std::move(object);
    return h;
}

std::shared_ptr<Object> lookupAnyHandle(HANDLE h)
{
    std::lock_guard<std::mutex> g(tableLock());
    auto it = table().find(h);
    if (it == table().end()) {
        setError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return it->second;
}

std::shared_ptr<Object> lookupHandle(HANDLE h, Kind kind)
{
    auto object = lookupAnyHandle(h);
    if (object && object->kind != kind) {
        setError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return object;
}

std::shared_ptr<Object> takeHandle(HANDLE h)
{
    std::lock_guard<std::mutex> g(tableLock());
    auto it = table().find(h);
    if (it == table().end()) return nullptr;
    auto object = std::move(it->second);
    table().erase(it);
    return object;
}

void setError(DWORD code)
{
    lastError = code;
}

DWORD errorFromErrno(int err)
{
    switch (err) {
    case 0:
        return ERROR_SUCCESS;
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EMFILE:
    case ENFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
        return ERROR_ACCESS_DENIED;
    case EBADF:
        return ERROR_INVALID_HANDLE;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case EEXIST:
        return ERROR_FILE_EXISTS;
    case EINVAL:
        return ERROR_INVALID_PARAMETER;
    case ENOSPC:
    case EFBIG:
        return ERROR_DISK_FULL;
    case ENAMETOOLONG:
        return ERROR_INVALID_NAME;
    default:
        return ERROR_GEN_FAILURE;
    }
}

// ---- Test hooks ----

namespace {

struct FailRule {
    std::string call;
    long nth;  // 0: every call
};

std::mutex& hookLock()
{
    static std::mutex m;
    return m;
}
std::string hookSpec;
std::vector<FailRule> hookRules;
std::map<std::string, long> hookCounts;

void parseRules(const std::string& spec)
{
    hookRules.clear();
    hookCounts.clear();
    size_t pos = 0;
    while (pos <= spec.size()) {
        size_t end = spec.find(',', pos);
        if (end == std::string::npos) end = spec.size();
        std::string item = spec.substr(pos, end - pos);
        if (!item.empty()) {
            FailRule rule{item, 0};
            size_t colon = item.find(':');
            if (colon != std::string::npos) {
                rule.call = item.substr(0, colon);
                rule.nth = std::strtol(item.c_str() + colon + 1, nullptr, 10);
                if (rule.nth <= 0) rule.nth = -1;  // malformed count: never fires
            }
            hookRules.push_back(rule);
        }
        pos = end + 1;
    }
}

}  // namespace

bool injectedFailure(const char* call)
{
    const char* env = std::getenv("WEMU_FAIL");
    std::lock_guard<std::mutex> g(hookLock());
    std::string spec = env ? env : "";
    if (spec != hookSpec) {
        hookSpec = spec;
        parseRules(spec);
    }
    if (hookRules.empty()) return false;
    long count = ++hookCounts[call];
    for (const auto& rule : hookRules) {
        if (rule.call != call) continue;
        if (rule.nth == 0 || rule.nth == count) {
            setError(ERROR_GEN_FAILURE);
            return true;
        }
    }
    return false;
}

std::string namePrefix()
{
    const char* env = std::getenv("WEMU_NAME_PREFIX");
    return env ? env : "";
}

bool refuseGlobal()
{
    const char* env = std::getenv("WEMU_REFUSE_GLOBAL");
    return env && env[0] != '\0' && std::strcmp(env, "0") != 0;
}

// ---- Names ----

std::string escapeName(std::string_view name, bool escapeLeadingDot)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(name.size());
    for (size_t i = 0; i < name.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(name[i]);
        bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
                     c == '-' || (c == '.' && !(i == 0 && escapeLeadingDot));
        if (plain) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        unsigned char a = static_cast<unsigned char>(text[i]), b = static_cast<unsigned char>(prefix[i]);
        if (a >= 'A' && a <= 'Z') a = static_cast<unsigned char>(a + 32);
        if (b >= 'A' && b <= 'Z') b = static_cast<unsigned char>(b + 32);
        if (a != b) return false;
    }
    return true;
}

namespace {

uint64_t fnv1a(std::string_view data, uint64_t basis)
{
    uint64_t h = basis;
    for (unsigned char c : data) {
        h ^= c;
        h *= 0x100000001B3ull;
    }
    return h;
}

}  // namespace

std::string sharedObjectName(char kind, std::string_view name)
{
    // '+' never comes out of escapeName, so the parts cannot run into each
    // other; the user id keeps users apart (a session is one user here).
    std::string prefix = namePrefix();
    std::string full = "/wemu+" + std::to_string(geteuid()) + "+" + kind + "+" + escapeName(prefix, false) + "+" +
                       escapeName(name, false);
    const size_t limit = 250;  // NAME_MAX of /dev/shm less the leading '/'
    if (full.size() <= limit) return full;
    // Too long for a file name: keep a readable head and add a digest of the
    // whole; '~' marks it, and no escaped name contains '~'.
    std::string whole = prefix + '\0' + std::string(name);
    char digest[40];
    std::snprintf(digest, sizeof digest, "~%016llx%016llx",
                  static_cast<unsigned long long>(fnv1a(whole, 0xCBF29CE484222325ull)),
                  static_cast<unsigned long long>(fnv1a(whole, 0x84222325CBF29CE4ull)));
    return full.substr(0, limit - std::strlen(digest)) + digest;
}

// ---- Shared objects ----

namespace {

int lockWithin(int fd, int op, int milliseconds)
{
    for (int waited = 0;; waited += 1) {
        if (flock(fd, op | LOCK_NB) == 0) return 0;
        if (errno != EWOULDBLOCK && errno != EINTR) return -1;
        if (waited >= milliseconds) return -1;
        usleep(1000);
    }
}

}  // namespace

std::shared_ptr<SharedObject> SharedObject::open(const std::string& osName, size_t size, bool mapWhole,
                                                 void (*init)(void*), bool (*valid)(const void*, size_t), bool& existed)
{
    for (int attempt = 0; attempt < 200; ++attempt) {
        int fd = shm_open(osName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0) {
            setErrno(errno);
            return nullptr;
        }
        std::shared_ptr<SharedObject> obj(new SharedObject());
        obj->fd_ = fd;  // closed by the destructor from here on
        obj->name_ = osName;
        struct stat st;
        if (fstat(fd, &st) != 0) {
            setErrno(errno);
            return nullptr;
        }
        // Someone else's object, or one others may read, is never used: it
        // would carry session keys to them.
        if (st.st_uid != geteuid() || (st.st_mode & 077) != 0) {
            obj->name_.clear();
            setError(ERROR_ACCESS_DENIED);
            return nullptr;
        }
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
            // Nobody else holds it: a new object, or one left by processes
            // that are gone. Either way it starts afresh.
            if (fstat(fd, &st) != 0 || st.st_nlink == 0) continue;
            if (ftruncate(fd, 0) != 0 || ftruncate(fd, static_cast<off_t>(size)) != 0 || fchmod(fd, 0600) != 0) {
                int err = errno;
                obj->name_.clear();
                shm_unlink(osName.c_str());
                setErrno(err);
                return nullptr;
            }
            obj->size_ = size;
            if (mapWhole) {
                void* base = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
                if (base == MAP_FAILED) {
                    setErrno(errno);
                    return nullptr;
                }
                obj->base_ = base;
                obj->mapped_ = size;
                if (init) init(base);
            }
            // Downgrading is not atomic: a closer may slip in and remove the
            // name, which the link count then shows.
            if (lockWithin(fd, LOCK_SH, 10000) != 0) continue;
            if (fstat(fd, &st) != 0 || st.st_nlink == 0 || static_cast<size_t>(st.st_size) != size) continue;
            if (mapWhole && valid && !valid(obj->base_, size)) continue;
            obj->ownerPid_ = getpid();
            existed = false;
            return obj;
        }
        if (errno != EWOULDBLOCK) {
            setErrno(errno);
            return nullptr;
        }
        // In use by others (or being set up): wait for a shared hold.
        if (lockWithin(fd, LOCK_SH, 10000) != 0) {
            obj->name_.clear();
            setError(ERROR_GEN_FAILURE);
            return nullptr;
        }
        if (fstat(fd, &st) != 0 || st.st_nlink == 0 || st.st_size <= 0)
            continue;  // removed meanwhile, or its creator died half-way
        obj->size_ = static_cast<size_t>(st.st_size);
        if (mapWhole) {
            void* base = mmap(nullptr, obj->size_, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
            if (base == MAP_FAILED) {
                setErrno(errno);
                return nullptr;
            }
            obj->base_ = base;
            obj->mapped_ = obj->size_;
            if (valid && !valid(base, obj->size_)) continue;
        }
        obj->ownerPid_ = getpid();
        existed = true;
        return obj;
    }
    setError(ERROR_GEN_FAILURE);
    return nullptr;
}

std::shared_ptr<SharedObject> SharedObject::anonymous(size_t size, bool mapWhole, void (*init)(void*))
{
    int fd = static_cast<int>(syscall(SYS_memfd_create, "wemu", 1u /* MFD_CLOEXEC */));
    if (fd < 0) {
        setErrno(errno);
        return nullptr;
    }
    std::shared_ptr<SharedObject> obj(new SharedObject());
    obj->fd_ = fd;
    if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
        setErrno(errno);
        return nullptr;
    }
    obj->size_ = size;
    if (mapWhole) {
        void* base = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (base == MAP_FAILED) {
            setErrno(errno);
            return nullptr;
        }
        obj->base_ = base;
        obj->mapped_ = size;
        if (init) init(base);
    }
    return obj;
}

SharedObject::~SharedObject()
{
    if (base_ && mapped_) munmap(base_, mapped_);
    if (fd_ < 0) return;
    // Only the process that opened it decides removal: a forked child shares
    // the parent's lock and must not take it for its own.
    if (!name_.empty() && ownerPid_ == getpid() && flock(fd_, LOCK_EX | LOCK_NB) == 0) {
        struct stat st;
        if (fstat(fd_, &st) == 0 && st.st_nlink > 0) shm_unlink(name_.c_str());
    }
    close(fd_);
}

}  // namespace wemu

extern "C" {

DWORD GetLastError(void)
{
    return wemu::lastError;
}
void SetLastError(DWORD code)
{
    wemu::lastError = code;
}

BOOL CloseHandle(HANDLE h)
{
    if (!wemu::takeHandle(h)) {
        wemu::setError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

DWORD GetCurrentProcessId(void)
{
    return static_cast<DWORD>(getpid());
}
DWORD GetCurrentThreadId(void)
{
    return static_cast<DWORD>(syscall(SYS_gettid));
}

void Sleep(DWORD milliseconds)
{
    struct timespec ts;
    ts.tv_sec = milliseconds / 1000;
    ts.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {}
}

BOOL InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR sd, DWORD revision)
{
    if (!sd || revision != SECURITY_DESCRIPTOR_REVISION) {
        wemu::setError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::memset(sd, 0, sizeof *sd);
    sd->Revision = static_cast<BYTE>(revision);
    return TRUE;
}

BOOL SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR sd, BOOL daclPresent, void* dacl, BOOL daclDefaulted)
{
    if (!sd || sd->Revision != SECURITY_DESCRIPTOR_REVISION) {
        wemu::setError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const WORD present = 0x0004, defaulted = 0x0008;
    sd->Control = static_cast<WORD>((sd->Control & ~(present | defaulted)) | (daclPresent ? present : 0) |
                                    (daclDefaulted ? defaulted : 0));
    sd->Dacl = daclPresent ? dacl : nullptr;
    return TRUE;
}

DWORD WemuNamedObjectPath(LPCSTR name, BOOL isMutex, LPSTR buffer, DWORD size)
{
    if (!name) {
        wemu::setError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string path = "/dev/shm" + wemu::sharedObjectName(isMutex ? 'm' : 's', name);
    if (!buffer || size < path.size() + 1) return static_cast<DWORD>(path.size() + 1);
    std::memcpy(buffer, path.c_str(), path.size() + 1);
    return static_cast<DWORD>(path.size());
}

void WemuResetTestHooks(void)
{
    std::lock_guard<std::mutex> g(wemu::hookLock());
    wemu::hookCounts.clear();
}

}  // extern "C"
