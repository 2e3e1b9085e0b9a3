// One event to the system log in UTF-8. Texts arrive in the Win32 layer's
// ANSI code page (Windows-1251) and are converted on the way.
#ifndef QVK_SUPPORT_SYSTEMLOG_H
#define QVK_SUPPORT_SYSTEMLOG_H

#include <cstdint>

#include "wemu.h"

enum : std::uint32_t {
    SYSTEM_LOG_ERROR = 0xC0000302u,       // LOG_ERR
    SYSTEM_LOG_WARNING = 0x80000303u,     // LOG_WARNING
    SYSTEM_LOG_INFORMATION = 0x40000301u  // LOG_INFO
};

enum : unsigned {
    SYSTEM_LOG_SOURCE_BYTES = 256,  // without the NUL
    SYSTEM_LOG_MESSAGE_BYTES = 2048
};

// Writes the message under the source name as identity (with the process id,
// facility LOG_DAEMON). Newlines in the message become blanks; a percent sign
// is logged as it stands. Texts longer than their limits, before or after the
// conversion, are cut at a character boundary. An unknown event type logs
// nothing. A target code page of 0 means UTF-8. 1 when the event was handled,
// 0 when a text could not be converted.
int SystemLogReport(const char* source, const char* message, std::uint32_t eventType, unsigned targetCodePage);

// Converts a NUL-terminated string from one code page to another through wide
// characters. 0 when a pointer is null, a conversion fails, or the result with
// its NUL does not fit outputSize. The output may be the input buffer.
int ConvertCodePage(const char* text, unsigned sourceCodePage, char* output, unsigned outputSize,
                    unsigned targetCodePage);

// The source name of this system's events: "ТВР Квор Корво-7Ф" in Windows-1251.
inline constexpr char SYSTEM_LOG_SOURCE_NAME[] = "\xD2\xC2\xD0 \xCA\xE2\xEE\xF0 \xCA\xEE\xF0\xE2\xEE-7\xD4";

// LoadLibrary of an outside library by its bare file name (the current folder
// first, then the library search path). When it cannot be loaded, an error
// event under SYSTEM_LOG_SOURCE_NAME names the file, the folder looked in
// first and the loader's reason, so that an installation that lacks a
// companion library says which one.
HMODULE LoadLibraryOrReport(const char* fileName);

#endif
