// Shared pieces of the Win32 layer: handle table, last error, names, hooks.
#pragma once

#include "wemu.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace wemu {

enum class Kind { Mutex, Event, Section, File, Find };

// Every kernel-like object behind a HANDLE. The table owns it through a
// shared_ptr so that a call in progress keeps it alive across CloseHandle.
struct Object {
    explicit Object(Kind k) : kind(k) {}
    virtual ~Object() = default;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;
    const Kind kind;
};

HANDLE registerHandle(std::shared_ptr<Object> object);
// The live object of that handle and kind, or null with ERROR_INVALID_HANDLE.
std::shared_ptr<Object> lookupHandle(HANDLE h, Kind kind);
std::shared_ptr<Object> lookupAnyHandle(HANDLE h);
// Removes the handle from the table; the object goes when its last user does.
std::shared_ptr<Object> takeHandle(HANDLE h);

void setError(DWORD code);
// Win32 code for an errno value.
DWORD errorFromErrno(int err);
inline void setErrno(int err)
{
    setError(errorFromErrno(err));
}

// Test hooks (see wemu.h).
bool injectedFailure(const char* call);
std::string namePrefix();
bool refuseGlobal();

// Escapes every byte outside [A-Za-z0-9._-] (and a leading '.') as %XX.
std::string escapeName(std::string_view name, bool escapeLeadingDot);
bool startsWithNoCase(std::string_view text, std::string_view prefix);

// POSIX shared-memory name ("/wemu+...") of a named mutex ('m') or memory ('s').
std::string sharedObjectName(char kind, std::string_view name);

// A named object in /dev/shm whose lifetime follows the processes that hold
// it: every holder keeps a shared flock on its descriptor, and the one that
// can turn it exclusive on the way out is the last and removes the name.
class SharedObject {
public:
    // Creates or opens the object; `init` runs (under the exclusive lock) on
    // a fresh mapping of `size` bytes, `valid` tells an initialised one.
    // When `mapWhole` is false the object is only sized, not mapped.
    static std::shared_ptr<SharedObject> open(const std::string& osName, size_t size, bool mapWhole,
                                              void (*init)(void* base), bool (*valid)(const void* base, size_t size),
                                              bool& existed);
    // Anonymous (unnamed) object of the same shape.
    static std::shared_ptr<SharedObject> anonymous(size_t size, bool mapWhole, void (*init)(void* base));
    ~SharedObject();
    SharedObject(const SharedObject&) = delete;
    SharedObject& operator=(const SharedObject&) = delete;

    int fd() const { return fd_; }
    void* base() const { return base_; }
    size_t size() const { return size_; }
    // Leaves the mapping in place when the object goes.
    void keepMapped() { mapped_ = 0; }

private:
    SharedObject() = default;
    int fd_ = -1;
    void* base_ = nullptr;
    size_t size_ = 0;
    size_t mapped_ = 0;
    std::string name_;
    int ownerPid_ = 0;
};

}  // namespace wemu
