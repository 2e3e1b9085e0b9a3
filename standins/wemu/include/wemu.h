// Win32 compatibility layer: the subset of the Win32 API that the key's host
// software calls, implemented over POSIX in libwemu.so.
//
// Values follow Win32 unless noted. Deviations that callers rely on:
//  - CreateFileMapping protection 3 and MapViewOfFile access 3 mean read-write.
//  - CreateFile creation 0 opens an existing file, 0x240 creates or truncates.
//  - Code page 0 is this layer's ANSI code page (Windows-1251); 65001 is UTF-8.
//  - wchar_t is 32 bits wide.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cwchar>

extern "C" {

typedef int BOOL;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t UINT;
typedef void *HANDLE;
typedef void *HMODULE;
typedef void *HINSTANCE;
typedef void *LPVOID;
typedef const void *LPCVOID;
typedef char *LPSTR;
typedef const char *LPCSTR;
typedef wchar_t *LPWSTR;
typedef const wchar_t *LPCWSTR;
typedef DWORD *LPDWORD;
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
#define ERROR_ACCESS_DENIED 5
#define ERROR_INVALID_HANDLE 6
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_INVALID_PARAMETER 87
#define ERROR_INSUFFICIENT_BUFFER 122
#define ERROR_ALREADY_EXISTS 183
#define ERROR_MORE_DATA 234
#define ERROR_NO_MORE_ITEMS 259
#define ERROR_NO_UNICODE_TRANSLATION 1113

// Security descriptors are accepted for their shape only: every named object
// this layer creates is owner-only, whatever the DACL says.
#define SECURITY_DESCRIPTOR_REVISION 1
typedef struct _SECURITY_DESCRIPTOR {
    BYTE Revision;
    BYTE Sbz1;
    WORD Control;
    void *Owner;
    void *Group;
    void *Sacl;
    void *Dacl;
} SECURITY_DESCRIPTOR, *PSECURITY_DESCRIPTOR;

typedef struct _SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

BOOL InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR sd, DWORD revision);
BOOL SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR sd, BOOL daclPresent, void *dacl, BOOL daclDefaulted);

// Handles and synchronisation
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

// Named shared memory
#define PAGE_READWRITE 3u
#define FILE_MAP_ALL_ACCESS 3u
HANDLE CreateFileMapping(HANDLE file, LPSECURITY_ATTRIBUTES sa, DWORD protect, DWORD sizeHigh, DWORD sizeLow,
                         LPCSTR name);
LPVOID MapViewOfFile(HANDLE mapping, DWORD access, DWORD offsetHigh, DWORD offsetLow, size_t bytes);
BOOL UnmapViewOfFile(LPCVOID view);

// Files and folders
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
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD done, void *overlapped);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD count, LPDWORD done, void *overlapped);
DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh);
BOOL DeleteFile(LPCSTR path);

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
HMODULE WemuModuleOfAddress(const void *address);

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
BOOL SystemTimeToFileTime(const SYSTEMTIME *st, LPFILETIME ft);
BOOL FileTimeToSystemTime(const FILETIME *ft, LPSYSTEMTIME st);
LONG CompareFileTime(const FILETIME *a, const FILETIME *b);

// Text
#define CP_ACP 0u
#define CP_UTF8 65001u
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int length, LPWSTR buffer, int size);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR text, int length, LPSTR buffer, int size,
                        LPCSTR defaultChar, BOOL *usedDefault);
int strnicmp(const char *a, const char *b, size_t n);

// Registry, backed by a file store under $WEMU_REGISTRY_DIR (default
// /var/lib/wemu/registry).
typedef struct _HKEY_OPAQUE *HKEY;
typedef HKEY *PHKEY;
#define HKEY_CURRENT_USER ((HKEY)(uintptr_t)0x80000001u)
#define HKEY_LOCAL_MACHINE ((HKEY)(uintptr_t)0x80000002u)
#define KEY_QUERY_VALUE 0x0001u
#define KEY_ENUMERATE_SUB_KEYS 0x0008u
#define KEY_READ 0x20019u
#define REG_NONE 0u
#define REG_SZ 1u
#define REG_BINARY 3u
#define REG_DWORD 4u

LONG RegOpenKeyEx(HKEY key, LPCSTR subKey, DWORD options, DWORD access, PHKEY result);
LONG RegQueryValueEx(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, BYTE *data, LPDWORD size);
LONG RegEnumValue(HKEY key, DWORD index, LPSTR valueName, LPDWORD valueNameSize, LPDWORD reserved, LPDWORD type,
                  BYTE *data, LPDWORD size);
LONG RegCloseKey(HKEY key);

} // extern "C"
