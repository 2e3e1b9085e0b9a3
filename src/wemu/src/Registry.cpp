// Read-only registry over a file store (layout described in wemu.h).
#include "Internal.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <mutex>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace wemu {
namespace {

struct KeyObject {
    std::string path;  // folder of the key
};

std::mutex& keyLock()
{
    static std::mutex m;
    return m;
}

std::set<KeyObject*>& openKeys()
{
    static auto* s = new std::set<KeyObject*>();
    return *s;
}

std::string storeRoot()
{
    const char* env = std::getenv("WEMU_REGISTRY_DIR");
    return env && *env ? env : "/var/lib/wemu/registry";
}

// Folder of a root or opened key; false for a handle that is neither.
bool keyPath(HKEY key, std::string& path)
{
    if (key == HKEY_LOCAL_MACHINE) {
        path = storeRoot() + "/HKLM";
        return true;
    }
    if (key == HKEY_CURRENT_USER) {
        path = storeRoot() + "/HKCU/" + std::to_string(geteuid());
        return true;
    }
    std::lock_guard<std::mutex> g(keyLock());
    auto* k = reinterpret_cast<KeyObject*>(key);
    if (!openKeys().count(k)) return false;
    path = k->path;
    return true;
}

std::string unescape(const std::string& name)
{
    std::string out;
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '%' && i + 2 < name.size() && std::isxdigit(static_cast<unsigned char>(name[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(name[i + 2]))) {
            out += static_cast<char>(std::strtol(name.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
        } else {
            out += name[i];
        }
    }
    return out;
}

std::string valueFileName(const char* valueName)
{
    return !valueName || !*valueName ? "@" : escapeName(valueName, true);
}

std::string displayName(const std::string& fileName)
{
    return fileName == "@" ? "" : unescape(fileName);
}

bool equalNoCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && startsWithNoCase(a, b);
}

// The entry of `folder` named `name` (exactly, else without regard to ASCII
// case) that is a folder (wantFolder) or a regular file.
bool findEntry(const std::string& folder, const std::string& name, const std::string& escaped, bool wantFolder,
               std::string& found)
{
    auto isWanted = [&](const std::string& p) {
        struct stat st;
        return stat(p.c_str(), &st) == 0 && (wantFolder ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode));
    };
    if (isWanted(folder + "/" + escaped)) {
        found = folder + "/" + escaped;
        return true;
    }
    DIR* dir = opendir(folder.c_str());
    if (!dir) return false;
    bool ok = false;
    while (struct dirent* e = readdir(dir)) {
        std::string entry = e->d_name;
        if (entry == "." || entry == ".." || entry[0] == '.') continue;
        if (equalNoCase(displayName(entry), name) && isWanted(folder + "/" + entry)) {
            found = folder + "/" + entry;
            ok = true;
            break;
        }
    }
    closedir(dir);
    return ok;
}

std::vector<std::string> components(const char* subKey)
{
    std::vector<std::string> parts;
    std::string current;
    for (const char* p = subKey ? subKey : ""; *p; ++p) {
        if (*p == '\\') {
            if (!current.empty()) parts.push_back(current);
            current.clear();
        } else {
            current += *p;
        }
    }
    if (!current.empty()) parts.push_back(current);
    return parts;
}

struct Value {
    DWORD type = REG_NONE;
    std::string data;
};

bool readValue(const std::string& file, Value& value)
{
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t nl = all.find('\n');
    if (nl == std::string::npos || nl == 0 || nl > 10) return false;
    const std::string digits = all.substr(0, nl);
    if (digits.find_first_not_of("0123456789") != std::string::npos) return false;
    unsigned long type = std::strtoul(digits.c_str(), nullptr, 10);
    value.type = static_cast<DWORD>(type);
    value.data = all.substr(nl + 1);
    return true;
}

LONG copyData(const Value& value, LPDWORD type, BYTE* data, LPDWORD size)
{
    if (type) *type = value.type;
    DWORD needed = static_cast<DWORD>(value.data.size());
    if (data) {
        if (!size) return ERROR_INVALID_PARAMETER;
        if (*size < needed) {
            *size = needed;
            return ERROR_MORE_DATA;
        }
        std::memcpy(data, value.data.data(), needed);
    }
    if (size) *size = needed;
    return ERROR_SUCCESS;
}

bool makeFolders(const std::string& path)
{
    size_t pos = 1;
    while (true) {
        pos = path.find('/', pos);
        std::string part = path.substr(0, pos);
        if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
        if (pos == std::string::npos) return true;
        ++pos;
    }
}

}  // namespace
}  // namespace wemu

using namespace wemu;

extern "C" {

LONG RegOpenKeyEx(HKEY key, LPCSTR subKey, DWORD, DWORD, PHKEY result)
{
    if (injectedFailure("RegOpenKeyEx")) return ERROR_GEN_FAILURE;
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    std::string path;
    if (!keyPath(key, path)) return ERROR_INVALID_HANDLE;
    for (const auto& part : components(subKey)) {
        std::string next;
        if (!findEntry(path, part, escapeName(part, true), true, next)) return ERROR_FILE_NOT_FOUND;
        path = next;
    }
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return ERROR_FILE_NOT_FOUND;
    auto* k = new KeyObject{path};
    std::lock_guard<std::mutex> g(keyLock());
    openKeys().insert(k);
    *result = reinterpret_cast<HKEY>(k);
    return ERROR_SUCCESS;
}

LONG RegQueryValueEx(HKEY key, LPCSTR valueName, LPDWORD, LPDWORD type, BYTE* data, LPDWORD size)
{
    if (injectedFailure("RegQueryValueEx")) return ERROR_GEN_FAILURE;
    std::string path, file;
    if (!keyPath(key, path)) return ERROR_INVALID_HANDLE;
    std::string name = valueName ? valueName : "";
    if (!findEntry(path, name, valueFileName(valueName), false, file)) return ERROR_FILE_NOT_FOUND;
    Value value;
    if (!readValue(file, value)) return ERROR_GEN_FAILURE;
    return copyData(value, type, data, size);
}

LONG RegEnumValue(HKEY key, DWORD index, LPSTR valueName, LPDWORD valueNameSize, LPDWORD, LPDWORD type, BYTE* data,
                  LPDWORD size)
{
    if (injectedFailure("RegEnumValue")) return ERROR_GEN_FAILURE;
    if (!valueName || !valueNameSize) return ERROR_INVALID_PARAMETER;
    std::string path;
    if (!keyPath(key, path)) return ERROR_INVALID_HANDLE;
    std::vector<std::pair<std::string, std::string>> values;  // shown name, file
    if (DIR* dir = opendir(path.c_str())) {
        while (struct dirent* e = readdir(dir)) {
            std::string entry = e->d_name;
            if (entry[0] == '.') continue;  // ".", "..", and files being written
            struct stat st;
            std::string file = path + "/" + entry;
            if (stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode)) values.emplace_back(displayName(entry), file);
        }
        closedir(dir);
    }
    std::sort(values.begin(), values.end());
    if (index >= values.size()) return ERROR_NO_MORE_ITEMS;
    const auto& [name, file] = values[index];
    if (name.size() + 1 > *valueNameSize) return ERROR_MORE_DATA;
    Value value;
    if (!readValue(file, value)) return ERROR_GEN_FAILURE;
    LONG rc = copyData(value, type, data, size);
    if (rc != ERROR_SUCCESS) return rc;
    std::memcpy(valueName, name.c_str(), name.size() + 1);
    *valueNameSize = static_cast<DWORD>(name.size());
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key)
{
    if (key == HKEY_LOCAL_MACHINE || key == HKEY_CURRENT_USER) return ERROR_SUCCESS;
    std::lock_guard<std::mutex> g(keyLock());
    auto* k = reinterpret_cast<KeyObject*>(key);
    if (!openKeys().erase(k)) return ERROR_INVALID_HANDLE;
    delete k;
    return ERROR_SUCCESS;
}

LONG WemuRegSetValue(HKEY root, LPCSTR subKey, LPCSTR valueName, DWORD type, const void* data, DWORD size)
{
    if (!data && size) return ERROR_INVALID_PARAMETER;
    std::string path;
    if (!keyPath(root, path)) return ERROR_INVALID_HANDLE;
    for (const auto& part : components(subKey)) {
        std::string next;
        path = findEntry(path, part, escapeName(part, true), true, next) ? next : path + "/" + escapeName(part, true);
    }
    if (!makeFolders(path)) return static_cast<LONG>(errorFromErrno(errno));
    std::string name = valueName ? valueName : "", file;
    if (!findEntry(path, name, valueFileName(valueName), false, file)) file = path + "/" + valueFileName(valueName);
    // Written aside and renamed, so readers see the old value or the new one.
    std::string temp = path + "/.new." + std::to_string(getpid());
    std::string header = std::to_string(type) + "\n";
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return static_cast<LONG>(errorFromErrno(errno));
    bool ok = write(fd, header.data(), header.size()) == static_cast<ssize_t>(header.size()) &&
              (size == 0 || write(fd, data, size) == static_cast<ssize_t>(size));
    ok = (close(fd) == 0) && ok;
    if (!ok || rename(temp.c_str(), file.c_str()) != 0) {
        int err = errno;
        unlink(temp.c_str());
        return static_cast<LONG>(errorFromErrno(err ? err : EIO));
    }
    return ERROR_SUCCESS;
}

}  // extern "C"
