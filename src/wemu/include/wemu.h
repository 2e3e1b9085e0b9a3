// Win32 compatibility layer: the subset of the Win32 API that the key's host
// software calls, implemented over POSIX in libwemu.so.
//
// Values follow Win32 unless noted. Deviations that callers rely on:
//  - CreateFileMapping protection 3 and MapViewOfFile access 3 mean read-write.
//  - CreateFile creation 0 opens an existing file, 0x240 creates or truncates.
//  - Code page 0 is this layer's ANSI code page (Windows-1251); 65001 is UTF-8.
//  - wchar_t is 32 bits wide.
//
// Named mutexes and memories live in POSIX shared memory (/dev/shm), one
// object per Win32 name and effective user: the name is escaped into a valid
// file name, so "Global\X" and "Local\X" stay distinct. Objects are created
// with mode 0600, and an existing object that is not the caller's own or is
// open to group or others is refused. An object lives while any process holds
// a handle or view of it; the last one out removes it, and an object left by
// crashed processes is started afresh by the next one to open it.
//
// Test hooks, all off unless their environment variable is set (read at each
// call):
//  - WEMU_NAME_PREFIX=text: put before every mutex and memory name, so that
//    tests running side by side never meet in the same objects.
//  - WEMU_REFUSE_GLOBAL=1: CreateFileMapping of a name beginning "Global\"
//    fails with ERROR_ACCESS_DENIED (callers then retry under "Local\").
//  - WEMU_FAIL=Call[:N][,Call[:N]...]: the named call fails as if the system
//    had refused it (result of failure, GetLastError() = ERROR_GEN_FAILURE);
//    with :N only the N-th call of it in this process fails (counting from 1
//    since the variable last changed or WemuResetTestHooks). Calls that honour
//    it: CreateMutex, WaitForSingleObject, CreateEvent, CreateFileMapping,
//    MapViewOfFile, CreateFile, ReadFile, WriteFile, GetFileSize, MoveFileEx, FindFirstFile,
//    LoadLibrary, GetProcAddress, MultiByteToWideChar, WideCharToMultiByte,
//    RegOpenKeyEx, RegQueryValueEx, RegEnumValue.
//  - WEMU_REGISTRY_DIR=path: root of the registry store (see below).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cwchar>

// Only this interface is exported from libwemu.so.
#pragma GCC visibility push(default)
extern "C" {

typedef int BOOL;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t UINT;
typedef void* HANDLE;
typedef void* HMODULE;
typedef void* HINSTANCE;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef wchar_t* LPWSTR;
typedef const wchar_t* LPCWSTR;
typedef DWORD* LPDWORD;
typedef void (*FARPROC)(void);

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0u
#define WAIT_ABANDONED 0x80u
#define WAIT_TIMEOUT 0x102u
#define WAIT_FAILED 0xFFFFFFFFu

#define ERROR_SUCCESS 0
#define ERROR_FILE_NOT_FOUND 2
#define ERROR_PATH_NOT_FOUND 3
#define ERROR_TOO_MANY_OPEN_FILES 4
#define ERROR_ACCESS_DENIED 5
#define ERROR_INVALID_HANDLE 6
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_NO_MORE_FILES 18
#define ERROR_GEN_FAILURE 31
#define ERROR_NOT_SUPPORTED 50
#define ERROR_FILE_EXISTS 80
#define ERROR_INVALID_PARAMETER 87
#define ERROR_DISK_FULL 112
#define ERROR_INSUFFICIENT_BUFFER 122
#define ERROR_INVALID_NAME 123
#define ERROR_MOD_NOT_FOUND 126
#define ERROR_PROC_NOT_FOUND 127
#define ERROR_ALREADY_EXISTS 183
#define ERROR_MORE_DATA 234
#define ERROR_NO_MORE_ITEMS 259
#define ERROR_NOT_OWNER 288
#define ERROR_INVALID_ADDRESS 487
#define ERROR_MAPPED_ALIGNMENT 1132
#define ERROR_NO_UNICODE_TRANSLATION 1113

// Security descriptors are accepted for their shape only: every named object
// this layer creates is owner-only, whatever the DACL says.
#define SECURITY_DESCRIPTOR_REVISION 1
typedef struct _SECURITY_DESCRIPTOR {
    BYTE Revision;
    BYTE Sbz1;
    WORD Control;
    void* Owner;
    void* Group;
    void* Sacl;
    void* Dacl;
} SECURITY_DESCRIPTOR, *PSECURITY_DESCRIPTOR;

typedef struct _SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

BOOL InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR sd, DWORD revision);
BOOL SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR sd, BOOL daclPresent, void* dacl, BOOL daclDefaulted);

// Handles and synchronisation. Events are in-process only: CreateEvent with
// a name fails with ERROR_NOT_SUPPORTED. A thread that closes its last handle
// to a mutex it owns keeps owning it until it ends, as on Win32.
BOOL CloseHandle(HANDLE h);
HANDLE CreateMutex(LPSECURITY_ATTRIBUTES sa, BOOL initialOwner, LPCSTR name);
BOOL ReleaseMutex(HANDLE h);
DWORD WaitForSingleObject(HANDLE h, DWORD milliseconds);
HANDLE CreateEvent(LPSECURITY_ATTRIBUTES sa, BOOL manualReset, BOOL initialState, LPCSTR name);
BOOL SetEvent(HANDLE h);
BOOL ResetEvent(HANDLE h);
void Sleep(DWORD milliseconds);
DWORD GetLastError(void);
void SetLastError(DWORD code);
DWORD GetCurrentProcessId(void);
DWORD GetCurrentThreadId(void);

// Re-entrant in-process lock. The storage is opaque and large enough for a
// pthread recursive mutex on every supported platform.
typedef struct _CRITICAL_SECTION {
    alignas(16) unsigned char opaque[64];
} CRITICAL_SECTION, *LPCRITICAL_SECTION;

void InitializeCriticalSection(LPCRITICAL_SECTION cs);
void EnterCriticalSection(LPCRITICAL_SECTION cs);
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION cs);
void LeaveCriticalSection(LPCRITICAL_SECTION cs);
void DeleteCriticalSection(LPCRITICAL_SECTION cs);

// Named shared memory. Only page-file backed memory (INVALID_HANDLE_VALUE) is
// offered; the size is fixed by whoever creates the name first. MapViewOfFile
// offsets are multiples of the page size; 0 bytes maps to the end.
#define PAGE_READWRITE 3u
#define FILE_MAP_ALL_ACCESS 3u
#define FILE_MAP_READ 4u
HANDLE CreateFileMapping(HANDLE file, LPSECURITY_ATTRIBUTES sa, DWORD protect, DWORD sizeHigh, DWORD sizeLow,
                         LPCSTR name);
LPVOID MapViewOfFile(HANDLE mapping, DWORD access, DWORD offsetHigh, DWORD offsetLow, size_t bytes);
BOOL UnmapViewOfFile(LPCVOID view);

// Files and folders. The creation value is a set of open flags: 0 opens an
// existing file, 0x40 creates, 0x80 with it insists on a new file, 0x200
// truncates, 0x400 appends; 0x240 creates or truncates. Files are created
// owner-only (0600); the share mode is not enforced. FindFirstFile matches
// '*' and '?' without regard to ASCII case, lists no "." or "..", and returns
// its matches in name order.
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define OPEN_EXISTING_FILE 0u
#define CREATE_OR_TRUNCATE_FILE 0x240u
#define FILE_ATTRIBUTE_DIRECTORY 0x10u
#define FILE_ATTRIBUTE_NORMAL 0x80u
#define INVALID_FILE_SIZE 0xFFFFFFFFu
#define MAX_PATH 260

HANDLE CreateFile(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa, DWORD creation, DWORD flags,
                  HANDLE templ);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD done, void* overlapped);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD count, LPDWORD done, void* overlapped);
DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh);
BOOL DeleteFile(LPCSTR path);
// Renames a file within one file system. With MOVEFILE_REPLACE_EXISTING an
// existing target is replaced in one step (readers see the old or the new
// file, never a mix); without it an existing target fails with
// ERROR_ALREADY_EXISTS.
#define MOVEFILE_REPLACE_EXISTING 0x1u
BOOL MoveFileEx(LPCSTR from, LPCSTR to, DWORD flags);

typedef struct _FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
} FILETIME, *LPFILETIME;

typedef struct _WIN32_FIND_DATA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    char cFileName[MAX_PATH];
    char cAlternateFileName[14];
} WIN32_FIND_DATA, *LPWIN32_FIND_DATA;

HANDLE FindFirstFile(LPCSTR pattern, LPWIN32_FIND_DATA data);
BOOL FindNextFile(HANDLE find, LPWIN32_FIND_DATA data);
BOOL FindClose(HANDLE find);
DWORD GetCurrentDirectory(DWORD size, LPSTR buffer);
BOOL SetCurrentDirectory(LPCSTR path);

// Modules. LoadLibrary of a bare file name looks in the current directory
// first, then the normal search path.
HMODULE LoadLibrary(LPCSTR name);
FARPROC GetProcAddress(HMODULE module, LPCSTR name);
BOOL FreeLibrary(HMODULE module);
DWORD GetModuleFileName(HMODULE module, LPSTR buffer, DWORD size);
// The handle of the module that contains the given address (what DllMain
// would have received as its instance handle).
HMODULE WemuModuleOfAddress(const void* address);

#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH 2
#define DLL_THREAD_DETACH 3

// Time
typedef struct _SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
} SYSTEMTIME, *LPSYSTEMTIME;

void GetSystemTime(LPSYSTEMTIME st);
void GetLocalTime(LPSYSTEMTIME st);
BOOL SystemTimeToFileTime(const SYSTEMTIME* st, LPFILETIME ft);
BOOL FileTimeToSystemTime(const FILETIME* ft, LPSYSTEMTIME st);
LONG CompareFileTime(const FILETIME* a, const FILETIME* b);

// Text. Code pages 0 and 1251 are Windows-1251, 65001 is UTF-8. Input with
// no meaning in its code page fails with ERROR_NO_UNICODE_TRANSLATION: bytes
// that are not well-formed UTF-8 (overlong forms, surrogates, beyond
// U+10FFFF), the one unassigned Windows-1251 byte 0x98, and wide characters
// that are surrogates or beyond U+10FFFF. Wide characters with no
// Windows-1251 form become the default character ('?' unless given) and set
// *usedDefault. Output size 0 returns the size needed; a short buffer fails
// with ERROR_INSUFFICIENT_BUFFER and leaves the buffer unchanged.
#define CP_ACP 0u
#define CP_1251 1251u
#define CP_UTF8 65001u
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int length, LPWSTR buffer, int size);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR text, int length, LPSTR buffer, int size,
                        LPCSTR defaultChar, BOOL* usedDefault);
int strnicmp(const char* a, const char* b, size_t n);

// Registry, backed by a file store under $WEMU_REGISTRY_DIR (default
// /var/lib/wemu/registry). HKEY_LOCAL_MACHINE is the folder "HKLM" there,
// HKEY_CURRENT_USER the folder "HKCU/<effective uid>". Below it every key is
// a folder and every value a file; each path component (key or value name)
// is escaped like object names (bytes outside [A-Za-z0-9._-], and a leading
// '.', become %XX in upper-case hex), and the unnamed value is the file "@".
// A value file holds the type in decimal, a newline, then the data bytes
// exactly (so a REG_SZ value carries its terminating NUL). Key and value
// names match without regard to ASCII case; values enumerate in byte order
// of their names.
typedef struct _HKEY_OPAQUE* HKEY;
typedef HKEY* PHKEY;
#define HKEY_CURRENT_USER ((HKEY)(uintptr_t)0x80000001u)
#define HKEY_LOCAL_MACHINE ((HKEY)(uintptr_t)0x80000002u)
#define KEY_QUERY_VALUE 0x0001u
#define KEY_ENUMERATE_SUB_KEYS 0x0008u
#define KEY_READ 0x20019u
#define REG_NONE 0u
#define REG_SZ 1u
#define REG_EXPAND_SZ 2u
#define REG_BINARY 3u
#define REG_DWORD 4u
#define REG_MULTI_SZ 7u

LONG RegOpenKeyEx(HKEY key, LPCSTR subKey, DWORD options, DWORD access, PHKEY result);
LONG RegQueryValueEx(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, BYTE* data, LPDWORD size);
LONG RegEnumValue(HKEY key, DWORD index, LPSTR valueName, LPDWORD valueNameSize, LPDWORD reserved, LPDWORD type,
                  BYTE* data, LPDWORD size);
LONG RegCloseKey(HKEY key);

// Not Win32: writes a value, creating the key path as needed (for tests and
// installers). ERROR_SUCCESS or a Win32 error code.
LONG WemuRegSetValue(HKEY root, LPCSTR subKey, LPCSTR valueName, DWORD type, const void* data, DWORD size);

// Not Win32: the file that backs a named mutex (isMutex TRUE) or memory under
// the current settings, such as "/dev/shm/wemu+0+s+...". Returns the length
// written without the NUL, or the size needed (with the NUL) when the buffer
// is too small.
DWORD WemuNamedObjectPath(LPCSTR name, BOOL isMutex, LPSTR buffer, DWORD size);

// Not Win32: forgets the WEMU_FAIL call counts of this process.
void WemuResetTestHooks(void);

}  // extern "C"
#pragma GCC visibility pop
