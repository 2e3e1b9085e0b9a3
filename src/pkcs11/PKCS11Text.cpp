#include "pkcs11/PKCS11Text.h"

#include <climits>
#include <cstring>
#include <new>
#include <vector>

#include "crypto/SecureWipe.h"
#include "wemu.h"

CK_RV Utf8ToCp1251(const char* text, CK_ULONG length, char* out, CK_ULONG* outLength, bool* usedDefault)
{
    if (usedDefault != nullptr) *usedDefault = false;
    if (length == 0 || text == nullptr || outLength == nullptr) return CKR_ARGUMENTS_BAD;
    if (length > INT_MAX) return CKR_ARGUMENTS_BAD;
    try {
        // UTF-8 never gives more characters than it has bytes. PINs pass
        // through here: the wide copy is wiped.
        qvkcrypto::SecureVector<wchar_t> wide(length);
        const int units =
            MultiByteToWideChar(CP_UTF8, 0, text, static_cast<int>(length), wide.data(), static_cast<int>(length));
        if (units <= 0) return CKR_GENERAL_ERROR;
        BOOL defaulted = FALSE;
        const int needed = WideCharToMultiByte(CP_1251, 0, wide.data(), units, nullptr, 0, nullptr, &defaulted);
        if (needed <= 0) return CKR_GENERAL_ERROR;
        if (usedDefault != nullptr) *usedDefault = defaulted != FALSE;
        *outLength = static_cast<CK_ULONG>(needed);
        if (out != nullptr &&
            WideCharToMultiByte(CP_1251, 0, wide.data(), units, out, needed, nullptr, nullptr) != needed)
            return CKR_GENERAL_ERROR;
        return CKR_OK;
    } catch (const std::bad_alloc&) {
        return CKR_HOST_MEMORY;
    }
}

CK_RV Cp1251ToUtf8(const char* text, CK_ULONG length, char* out, CK_ULONG* outLength, CK_ULONG cap)
{
    if (length == 0 || text == nullptr || outLength == nullptr) return CKR_ARGUMENTS_BAD;
    if (length > INT_MAX) return CKR_ARGUMENTS_BAD;
    try {
        std::vector<wchar_t> wide(length);
        const int units =
            MultiByteToWideChar(CP_1251, 0, text, static_cast<int>(length), wide.data(), static_cast<int>(length));
        if (units <= 0) return CKR_GENERAL_ERROR;
        const int total = WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, nullptr, 0, nullptr, nullptr);
        if (total <= 0) return CKR_GENERAL_ERROR;
        std::vector<char> utf8(static_cast<std::size_t>(total));
        if (WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, utf8.data(), total, nullptr, nullptr) != total)
            return CKR_GENERAL_ERROR;
        // Over the cap: keep whole characters only, never a lone lead byte.
        std::size_t keep = static_cast<std::size_t>(total);
        if (keep > cap) {
            keep = cap;
            while (keep > 0 && (static_cast<unsigned char>(utf8[keep]) & 0xC0) == 0x80) --keep;
        }
        *outLength = static_cast<CK_ULONG>(keep);
        if (out != nullptr && keep > 0) std::memcpy(out, utf8.data(), keep);
        return CKR_OK;
    } catch (const std::bad_alloc&) {
        return CKR_HOST_MEMORY;
    }
}

bool IsExactCp1251Text(const char* text, CK_ULONG length)
{
    if (text == nullptr || length == 0) return false;
    if (std::memchr(text, 0, length) != nullptr) return false;
    CK_ULONG converted = 0;
    bool defaulted = true;
    return Utf8ToCp1251(text, length, nullptr, &converted, &defaulted) == CKR_OK && !defaulted;
}
