// Code-page conversion (Windows-1251, UTF-8) and strnicmp.
#include "Internal.h"

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <string.h>
#include <vector>

namespace wemu {
namespace {

// Windows-1251 bytes 0x80..0xBF; 0xC0..0xFF are U+0410..U+044F in order.
// 0x98 is unassigned (0).
const char32_t kCp1251High[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x0000, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
};

constexpr char32_t kInvalid = 0xFFFFFFFF;

char32_t cp1251ToCode(unsigned char b)
{
    if (b < 0x80) return b;
    if (b >= 0xC0) return 0x0410 + (b - 0xC0);
    char32_t c = kCp1251High[b - 0x80];
    return c ? c : kInvalid;
}

// The byte for a code point, or -1 when Windows-1251 has none.
int codeToCp1251(char32_t c)
{
    if (c < 0x80) return static_cast<int>(c);
    if (c >= 0x0410 && c <= 0x044F) return static_cast<int>(0xC0 + (c - 0x0410));
    for (int i = 0; i < 64; ++i)
        if (kCp1251High[i] == c) return 0x80 + i;
    return -1;
}

bool validCodePoint(char32_t c)
{
    return c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF);
}

// Decodes one UTF-8 sequence at text[i]; kInvalid for a malformed one.
char32_t decodeUtf8(const unsigned char* text, size_t length, size_t& i)
{
    unsigned char b = text[i++];
    if (b < 0x80) return b;
    int extra;
    char32_t c, minimum;
    if (b >= 0xC2 && b <= 0xDF) {
        extra = 1;
        c = b & 0x1F;
        minimum = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
        extra = 2;
        c = b & 0x0F;
        minimum = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
        extra = 3;
        c = b & 0x07;
        minimum = 0x10000;
    } else {
        return kInvalid;
    }
    for (int k = 0; k < extra; ++k) {
        if (i >= length || (text[i] & 0xC0) != 0x80) return kInvalid;
        c = (c << 6) | (text[i++] & 0x3F);
    }
    if (c < minimum || !validCodePoint(c)) return kInvalid;
    return c;
}

void encodeUtf8(char32_t c, std::vector<char>& out)
{
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

enum class Page { Cp1251, Utf8, Unknown };

Page pageOf(UINT codePage)
{
    if (codePage == CP_ACP || codePage == CP_1251) return Page::Cp1251;
    if (codePage == CP_UTF8) return Page::Utf8;
    return Page::Unknown;
}

// Texts that pass through here include passwords and PINs: the working
// copy's whole block is wiped when the call ends.
template <typename T>
struct WipedOnReturn {
    std::vector<T>& text;
    ~WipedOnReturn()
    {
        if (text.capacity() != 0) explicit_bzero(text.data(), text.capacity() * sizeof(T));
    }
};

// Win32 size rules shared by both directions: size 0 asks for the length,
// a short buffer fails and is left as it was.
template <typename T>
int deliver(const std::vector<T>& out, T* buffer, int size)
{
    if (out.size() > static_cast<size_t>(INT32_MAX)) {
        setError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    if (size == 0) {
        setError(ERROR_SUCCESS);
        return static_cast<int>(out.size());
    }
    if (out.size() > static_cast<size_t>(size)) {
        setError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (!out.empty()) std::memcpy(buffer, out.data(), out.size() * sizeof(T));
    setError(ERROR_SUCCESS);
    return static_cast<int>(out.size());
}

}  // namespace
}  // namespace wemu

using namespace wemu;

extern "C" {

int MultiByteToWideChar(UINT codePage, DWORD, LPCSTR text, int length, LPWSTR buffer, int size)
{
    if (injectedFailure("MultiByteToWideChar")) return 0;
    Page page = pageOf(codePage);
    if (page == Page::Unknown || !text || length == 0 || length < -1 || size < 0 || (size > 0 && !buffer)) {
        setError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t n = length == -1 ? std::strlen(text) + 1 : static_cast<size_t>(length);
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    std::vector<wchar_t> out;
    WipedOnReturn<wchar_t> wipe{out};
    out.reserve(n);
    for (size_t i = 0; i < n;) {
        char32_t c = page == Page::Utf8 ? decodeUtf8(bytes, n, i) : cp1251ToCode(bytes[i++]);
        if (c == kInvalid) {
            setError(ERROR_NO_UNICODE_TRANSLATION);
            return 0;
        }
        out.push_back(static_cast<wchar_t>(c));
    }
    return deliver(out, buffer, size);
}

int WideCharToMultiByte(UINT codePage, DWORD, LPCWSTR text, int length, LPSTR buffer, int size, LPCSTR defaultChar,
                        BOOL* usedDefault)
{
    if (injectedFailure("WideCharToMultiByte")) return 0;
    Page page = pageOf(codePage);
    if (page == Page::Unknown || !text || length == 0 || length < -1 || size < 0 || (size > 0 && !buffer) ||
        (page == Page::Utf8 && (defaultChar || usedDefault))) {
        setError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t n = length == -1 ? std::wcslen(text) + 1 : static_cast<size_t>(length);
    char fallback = defaultChar ? defaultChar[0] : '?';
    bool defaulted = false;
    std::vector<char> out;
    WipedOnReturn<char> wipe{out};
    // Room for the longest UTF-8 form, so the copy never moves half-wiped.
    out.reserve(page == Page::Utf8 ? 4 * n : n);
    for (size_t i = 0; i < n; ++i) {
        char32_t c = static_cast<char32_t>(text[i]);
        if (!validCodePoint(c)) {
            setError(ERROR_NO_UNICODE_TRANSLATION);
            return 0;
        }
        if (page == Page::Utf8) {
            encodeUtf8(c, out);
        } else {
            int b = codeToCp1251(c);
            if (b < 0) {
                defaulted = true;
                out.push_back(fallback);
            } else {
                out.push_back(static_cast<char>(b));
            }
        }
    }
    int result = deliver(out, buffer, size);
    if (usedDefault) *usedDefault = result && defaulted;
    return result;
}

int strnicmp(const char* a, const char* b, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        int x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x += 32;
        if (y >= 'A' && y <= 'Z') y += 32;
        if (x != y) return x - y;
        if (x == 0) return 0;
    }
    return 0;
}

}  // extern "C"
