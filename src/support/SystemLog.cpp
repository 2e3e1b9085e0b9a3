#include "support/SystemLog.h"

#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <mutex>
#include <string>
#include <syslog.h>
#include <vector>

#include "wemu.h"

namespace {

// openlog keeps the identity pointer process-wide until closelog: one event
// at a time.
std::mutex& SyslogLock()
{
    static std::mutex lock;
    return lock;
}

bool ToWide(const char* text, unsigned codePage, std::vector<wchar_t>& wide)
{
    int needed = MultiByteToWideChar(codePage, 0, text, -1, nullptr, 0);
    if (needed <= 0) return false;
    wide.assign(static_cast<std::size_t>(needed), L'\0');
    return MultiByteToWideChar(codePage, 0, text, -1, wide.data(), needed) == needed;
}

bool FromWide(const std::vector<wchar_t>& wide, unsigned codePage, std::string& out)
{
    int needed = WideCharToMultiByte(codePage, 0, wide.data(), -1, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return false;
    std::vector<char> buffer(static_cast<std::size_t>(needed), '\0');
    if (WideCharToMultiByte(codePage, 0, wide.data(), -1, buffer.data(), needed, nullptr, nullptr) != needed)
        return false;
    out.assign(buffer.data());
    return true;
}

// Converts and cuts the result to at most `limit` bytes without splitting a
// character.
bool ConvertBounded(const char* text, unsigned targetCodePage, std::size_t limit, std::string& out)
{
    std::vector<wchar_t> wide;
    if (!ToWide(text, CP_ACP, wide) || !FromWide(wide, targetCodePage, out)) return false;
    if (out.size() <= limit) return true;
    std::size_t cut = limit;
    if (targetCodePage == CP_UTF8) {
        while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
        out.resize(cut);
        return true;
    }
    // Other targets: drop whole characters until the text fits.
    std::size_t chars = wide.size() - 1;
    while (chars > 0) {
        --chars;
        wide[chars] = L'\0';
        std::vector<wchar_t> shorter(wide.begin(), wide.begin() + static_cast<std::ptrdiff_t>(chars) + 1);
        if (!FromWide(shorter, targetCodePage, out)) return false;
        if (out.size() <= limit) return true;
    }
    out.clear();
    return true;
}

}  // namespace

int ConvertCodePage(const char* text, unsigned sourceCodePage, char* output, unsigned outputSize,
                    unsigned targetCodePage)
{
    if (text == nullptr || output == nullptr) return 0;
    std::vector<wchar_t> wide;
    if (!ToWide(text, sourceCodePage, wide)) return 0;
    int needed = WideCharToMultiByte(targetCodePage, 0, wide.data(), -1, nullptr, 0, nullptr, nullptr);
    if (needed <= 0 || static_cast<unsigned>(needed) > outputSize) return 0;
    return WideCharToMultiByte(targetCodePage, 0, wide.data(), -1, output, needed, nullptr, nullptr) == needed ? 1 : 0;
}

int SystemLogReport(const char* source, const char* message, std::uint32_t eventType, unsigned targetCodePage)
{
    if (source == nullptr) source = "";
    if (message == nullptr) message = "";
    if (targetCodePage == 0) targetCodePage = CP_UTF8;

    // Bounded copies: the ANSI code page is single-byte, so a byte cut is a
    // character cut.
    char sourceCopy[SYSTEM_LOG_SOURCE_BYTES + 1];
    char messageCopy[SYSTEM_LOG_MESSAGE_BYTES + 1];
    std::strncpy(sourceCopy, source, SYSTEM_LOG_SOURCE_BYTES);
    sourceCopy[SYSTEM_LOG_SOURCE_BYTES] = '\0';
    std::strncpy(messageCopy, message, SYSTEM_LOG_MESSAGE_BYTES);
    messageCopy[SYSTEM_LOG_MESSAGE_BYTES] = '\0';
    for (char* p = messageCopy; *p != '\0'; ++p)
        if (*p == '\n') *p = ' ';

    std::string identity;
    std::string text;
    try {
        if (!ConvertBounded(sourceCopy, targetCodePage, SYSTEM_LOG_SOURCE_BYTES, identity) ||
            !ConvertBounded(messageCopy, targetCodePage, SYSTEM_LOG_MESSAGE_BYTES, text))
            return 0;
    } catch (...) {
        return 0;
    }

    int priority = -1;
    switch (eventType) {
    case SYSTEM_LOG_ERROR:
        priority = LOG_ERR;
        break;
    case SYSTEM_LOG_WARNING:
        priority = LOG_WARNING;
        break;
    case SYSTEM_LOG_INFORMATION:
        priority = LOG_INFO;
        break;
    default:
        break;
    }

    std::lock_guard<std::mutex> guard(SyslogLock());
    openlog(identity.c_str(), LOG_CONS | LOG_PID, LOG_DAEMON);
    if (priority >= 0) syslog(priority, "%s", text.c_str());
    closelog();
    return 1;
}

HMODULE LoadLibraryOrReport(const char* fileName)
{
    HMODULE module = LoadLibrary(fileName);
    if (module != nullptr) return module;
    // The loader's reason, when the dynamic loader gave one (a refusal by
    // the Win32 layer itself leaves none).
    const char* reason = dlerror();
    char folder[1040] = {};
    const DWORD folderLength = GetCurrentDirectory(sizeof(folder), folder);
    if (folderLength == 0 || folderLength >= sizeof(folder)) std::strcpy(folder, "?");
    // "Не вдалося завантажити бібліотеку FILE з теки FOLDER: REASON" in Windows-1251.
    static const char kCannotLoad[] =
        "\xCD\xE5 \xE2\xE4\xE0\xEB\xEE\xF1\xFF \xE7\xE0\xE2\xE0\xED\xF2\xE0\xE6\xE8\xF2\xE8 "
        "\xE1\xB3\xE1\xEB\xB3\xEE\xF2\xE5\xEA\xF3 ";
    static const char kFromFolder[] = " \xE7 \xF2\xE5\xEA\xE8 ";
    char message[SYSTEM_LOG_MESSAGE_BYTES + 1];
    std::snprintf(message, sizeof(message), "%s%s%s%s%s%s", kCannotLoad, fileName != nullptr ? fileName : "",
                  kFromFolder, folder, reason != nullptr ? ": " : "", reason != nullptr ? reason : "");
    SystemLogReport(SYSTEM_LOG_SOURCE_NAME, message, SYSTEM_LOG_ERROR, 0);
    return nullptr;
}
