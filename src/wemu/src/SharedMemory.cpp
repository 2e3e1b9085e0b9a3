// Named shared memory: CreateFileMapping, MapViewOfFile, UnmapViewOfFile.
#include "Internal.h"

#include <cerrno>
#include <map>
#include <mutex>
#include <sys/mman.h>
#include <unistd.h>

namespace wemu {
namespace {

struct SectionObject : Object {
    SectionObject() : Object(Kind::Section) {}
    std::shared_ptr<SharedObject> shared;
};

// A view keeps its memory alive after the mapping handle is closed, as on
// Win32, so it holds the shared object too.
struct View {
    size_t length;
    std::shared_ptr<SharedObject> shared;
};

std::mutex& viewLock()
{
    static std::mutex m;
    return m;
}

std::map<const void*, View>& views()
{
    static auto* v = new std::map<const void*, View>();
    return *v;
}

}  // namespace
}  // namespace wemu

using namespace wemu;

extern "C" {

HANDLE CreateFileMapping(HANDLE file, LPSECURITY_ATTRIBUTES, DWORD protect, DWORD sizeHigh, DWORD sizeLow, LPCSTR name)
{
    if (injectedFailure("CreateFileMapping")) return nullptr;
    uint64_t size = (static_cast<uint64_t>(sizeHigh) << 32) | sizeLow;
    if (file != INVALID_HANDLE_VALUE || protect != PAGE_READWRITE || size == 0) {
        setError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (name && refuseGlobal() && startsWithNoCase(name, "Global\\")) {
        setError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    auto section = std::make_shared<SectionObject>();
    bool existed = false;
    if (name)
        section->shared = SharedObject::open(sharedObjectName('s', name), static_cast<size_t>(size), false, nullptr,
                                             nullptr, existed);
    else
        section->shared = SharedObject::anonymous(static_cast<size_t>(size), false, nullptr);
    if (!section->shared) return nullptr;
    HANDLE h = registerHandle(section);
    setError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return h;
}

LPVOID MapViewOfFile(HANDLE mapping, DWORD access, DWORD offsetHigh, DWORD offsetLow, size_t bytes)
{
    if (injectedFailure("MapViewOfFile")) return nullptr;
    auto object = lookupHandle(mapping, Kind::Section);
    if (!object) return nullptr;
    auto shared = static_cast<SectionObject&>(*object).shared;
    int prot;
    if (access == FILE_MAP_ALL_ACCESS || access == 2u /* write */ || access == 0xF001Fu)
        prot = PROT_READ | PROT_WRITE;
    else if (access == FILE_MAP_READ)
        prot = PROT_READ;
    else {
        setError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    uint64_t offset = (static_cast<uint64_t>(offsetHigh) << 32) | offsetLow;
    if (offset % static_cast<uint64_t>(sysconf(_SC_PAGESIZE)) != 0) {
        setError(ERROR_MAPPED_ALIGNMENT);
        return nullptr;
    }
    if (offset >= shared->size() || (bytes != 0 && bytes > shared->size() - offset)) {
        setError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    size_t length = bytes ? bytes : static_cast<size_t>(shared->size() - offset);
    void* base = mmap(nullptr, length, prot, MAP_SHARED, shared->fd(), static_cast<off_t>(offset));
    if (base == MAP_FAILED) {
        setErrno(errno);
        return nullptr;
    }
    std::lock_guard<std::mutex> g(viewLock());
    views()[base] = View{length, shared};
    return base;
}

BOOL UnmapViewOfFile(LPCVOID view)
{
    std::shared_ptr<SharedObject> keep;  // dropped after the lock is released
    {
        std::lock_guard<std::mutex> g(viewLock());
        auto it = views().find(view);
        if (it == views().end()) {
            setError(ERROR_INVALID_ADDRESS);
            return FALSE;
        }
        munmap(const_cast<void*>(view), it->second.length);
        keep = std::move(it->second.shared);
        views().erase(it);
    }
    return TRUE;
}

}  // extern "C"
