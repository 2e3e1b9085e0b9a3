// Modules over the dynamic loader. A module handle is the loader's own handle
// (its link map), so handles from LoadLibrary and WemuModuleOfAddress agree.
#include "Internal.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <link.h>
#include <string>
#include <unistd.h>

using namespace wemu;

extern "C" {

HMODULE LoadLibrary(LPCSTR name)
{
    if (injectedFailure("LoadLibrary")) return nullptr;
    if (!name || !*name) {
        setError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    void* module = nullptr;
    if (!std::strchr(name, '/')) {
        // A bare name is looked for in the current directory first, as the
        // Win32 loader does; the absolute path keeps the handle's file name
        // right after the directory changes again.
        char cwd[PATH_MAX];
        if (getcwd(cwd, sizeof cwd)) {
            std::string local = std::string(cwd) + "/" + name;
            if (access(local.c_str(), F_OK) == 0) module = dlopen(local.c_str(), RTLD_NOW);
        }
    }
    if (!module) module = dlopen(name, RTLD_NOW);
    if (!module) {
        setError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return module;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name)
{
    if (injectedFailure("GetProcAddress")) return nullptr;
    if (!module || !name) {
        setError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    dlerror();
    void* symbol = dlsym(module, name);
    if (!symbol) {
        setError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(symbol);
}

BOOL FreeLibrary(HMODULE module)
{
    if (!module || dlclose(module) != 0) {
        setError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

HMODULE WemuModuleOfAddress(const void* address)
{
    Dl_info info;
    struct link_map* map = nullptr;
    if (!dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) || !map) {
        setError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return map;
}

DWORD GetModuleFileName(HMODULE module, LPSTR buffer, DWORD size)
{
    std::string path;
    struct link_map* map = nullptr;
    if (module) {
        if (dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || !map) {
            setError(ERROR_MOD_NOT_FOUND);
            return 0;
        }
    }
    if (!map || !map->l_name || !*map->l_name) {
        // The main program has no name in its link map.
        char exe[PATH_MAX];
        ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
        if (n <= 0) {
            setErrno(errno);
            return 0;
        }
        path.assign(exe, static_cast<size_t>(n));
    } else {
        char real[PATH_MAX];
        path = realpath(map->l_name, real) ? real : map->l_name;
    }
    if (!buffer || size == 0) {
        setError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (path.size() + 1 > size) {
        // Win32: truncated, terminated, the full size and an error.
        std::memcpy(buffer, path.data(), size - 1);
        buffer[size - 1] = '\0';
        setError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    std::memcpy(buffer, path.c_str(), path.size() + 1);
    setError(ERROR_SUCCESS);
    return static_cast<DWORD>(path.size());
}

}  // extern "C"
