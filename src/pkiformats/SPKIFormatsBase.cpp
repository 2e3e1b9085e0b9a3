// The facade object and its base services: blobs, whole-file reads and
// writes, file-system wrappers, times and the Kyiv local time, and the
// length limits of name attributes.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "pkiformats/SPKIFormats.h"
#include "pkiformats/SPKIFormatsInternal.h"

using namespace pkif;

SPKIFormats::SPKIFormats(CSP* csp, CSPI* cspi, IPKIInterface* formats)
    : csp_(csp), cspi_(cspi), formats_(formats), startVector_{}, keyContainerMode_(0), timeConversionOff_(0)
{
}

IPKIInterface* SPKIFormats::GetFormatsInterface()
{
    return formats_;
}

CSP* SPKIFormats::GetCSP()
{
    return csp_;
}

std::uint32_t SPKIFormats::GetOperationCount()
{
    return PKIF_OPERATION_COUNT;
}

void SPKIFormats::SetKeyContainerMode(std::uint32_t mode)
{
    keyContainerMode_ = mode;
}

void SPKIFormats::SetTimeConversionDisabled(std::uint32_t disabled)
{
    timeConversionOff_ = disabled;
}

int SPKIFormats::AllocateBlob(PKIBlob* blob, std::uint32_t size)
{
    try {
        if (!blob) return 0;
        if (formats_) {
            PKIBlob fresh{0, nullptr};
            if (formats_->AllocateBlob(&fresh, size) != 0 || (!fresh.data && size)) return 0;
            *blob = fresh;
        } else {
            // malloc(0) may answer null; an empty block is still a block.
            void* data = std::malloc(size ? size : 1);
            if (!data) return 0;
            blob->data = static_cast<std::uint8_t*>(data);
            blob->length = size;
        }
        if (size) std::memset(blob->data, 0, size);
        return 1;
    } catch (...) {
        return 0;
    }
}

void SPKIFormats::ReleaseBlob(PKIBlob* blob)
{
    try {
        if (!blob || !blob->data) return;
        if (blob->length) std::memset(blob->data, 0, blob->length);
        if (formats_) {
            formats_->FreeBlob(blob);
        } else {
            std::free(blob->data);
        }
        blob->data = nullptr;
        blob->length = 0;
    } catch (...) {
    }
}

void* SPKIFormats::AllocateMemory(std::uint32_t size)
{
    PKIBlob blob{0, nullptr};
    return AllocateBlob(&blob, size) ? blob.data : nullptr;
}

void SPKIFormats::FreeMemory(void* memory)
{
    PKIBlob blob{0, static_cast<std::uint8_t*>(memory)};
    ReleaseBlob(&blob);
}

int SPKIFormats::BlobsEqual(const PKIBlob* a, const PKIBlob* b)
{
    try {
        if (!a || !b || a->length != b->length) return 0;
        if (a->length == 0) return 1;
        if (!a->data || !b->data) return 0;
        return std::memcmp(a->data, b->data, a->length) == 0 ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::OpenFileHandle(const char* fileName, std::uint32_t access, std::uint32_t share, std::uint32_t creation,
                                std::uint32_t flags, HANDLE* handle)
{
    try {
        HANDLE h = CreateFile(fileName, access, share, nullptr, creation, flags, nullptr);
        if (h == INVALID_HANDLE_VALUE) return 0;
        if (handle)
            *handle = h;
        else
            CloseHandle(h);
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::FindFirstFileEntry(const char* pattern, HANDLE* handle, WIN32_FIND_DATA* data)
{
    try {
        HANDLE h = FindFirstFile(pattern, data);
        if (h == INVALID_HANDLE_VALUE) return 0;
        if (handle)
            *handle = h;
        else
            FindClose(h);
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::FindNextFileEntry(HANDLE handle, WIN32_FIND_DATA* data)
{
    try {
        return FindNextFile(handle, data);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::ReadFileToBlob(const char* fileName, PKIBlob* blob)
{
    try {
        if (!blob) return 0;
        HANDLE h = nullptr;
        if (!OpenFileHandle(fileName, GENERIC_READ, 3, OPEN_EXISTING_FILE, FILE_ATTRIBUTE_NORMAL, &h)) return 0;
        DWORD high = 0;
        DWORD size = GetFileSize(h, &high);
        // A blob counts its bytes in 32 bits: files of 4 GiB or more do not fit.
        if (size == INVALID_FILE_SIZE || high != 0) {
            CloseHandle(h);
            return 0;
        }
        if (!AllocateBlob(blob, size)) {
            CloseHandle(h);
            return 0;
        }
        DWORD done = 0;
        BOOL ok = ReadFile(h, blob->data, blob->length, &done, nullptr);
        CloseHandle(h);
        if (ok && done == blob->length) return 1;
        ReleaseBlob(blob);
        return 0;
    } catch (...) {
        return 0;
    }
}

namespace {

// A name beside the target that no other writer picks at the same time.
std::string TemporaryNameFor(const char* fileName)
{
    static std::atomic<unsigned> counter{0};
    return std::string(fileName) + "." + std::to_string(getpid()) + "." + std::to_string(++counter) + ".tmp";
}

}  // namespace

// The blob goes to a new file in the target's folder, which replaces the
// target only once every byte is written: a failure leaves an existing file as
// it was and nothing new behind.
int SPKIFormats::WriteBlobToFile(const char* fileName, const PKIBlob* blob)
{
    std::string temporary;
    try {
        if (!fileName || !blob || (blob->length && !blob->data)) return 0;
        temporary = TemporaryNameFor(fileName);
        HANDLE h = nullptr;
        // 0xC0: create, and insist on a new file.
        if (!OpenFileHandle(temporary.c_str(), GENERIC_WRITE, 0, 0xC0, FILE_ATTRIBUTE_NORMAL, &h)) return 0;
        DWORD done = 0;
        BOOL ok = WriteFile(h, blob->data, blob->length, &done, nullptr);
        CloseHandle(h);
        if (ok && done == blob->length) {
            // A replaced file keeps its permissions.
            std::error_code ec;
            auto old = std::filesystem::status(fileName, ec);
            bool replacing = std::filesystem::exists(old);
            ec.clear();
            if (replacing) std::filesystem::permissions(temporary, old.permissions(), ec);
            if (!ec && MoveFileEx(temporary.c_str(), fileName, MOVEFILE_REPLACE_EXISTING)) return 1;
        }
        DeleteFile(temporary.c_str());
        return 0;
    } catch (...) {
        if (!temporary.empty()) DeleteFile(temporary.c_str());
        return 0;
    }
}

int SPKIFormats::CompareSystemTimes(const SYSTEMTIME* a, const SYSTEMTIME* b)
{
    try {
        FILETIME fa, fb;
        if (!SystemTimeToFileTime(a, &fa) || !SystemTimeToFileTime(b, &fb)) return -1;
        return CompareFileTime(&fa, &fb);
    } catch (...) {
        return -1;
    }
}

namespace {

SYSTEMTIME LastSunday(int year, int month, int base, int hour)
{
    int q = (year - 1900) / 4;
    int day = 31 - ((year + q - base) % 7);
    SYSTEMTIME t{};
    t.wYear = static_cast<WORD>(year);
    t.wMonth = static_cast<WORD>(month);
    t.wDayOfWeek = 0;
    t.wDay = static_cast<WORD>(day);
    t.wHour = static_cast<WORD>(hour);
    return t;
}

}  // namespace

// Summer time in Kyiv runs from the last Sunday of March 01:00 UTC (04:00 by
// the local clock as read in summer) to the last Sunday of October, same hours.
int SPKIFormats::IsSummerTime(const SYSTEMTIME* t, bool utc)
{
    int hour = utc ? 1 : 4;
    SYSTEMTIME march = LastSunday(t->wYear, 3, 1894, hour);
    SYSTEMTIME october = LastSunday(t->wYear, 10, 1897, hour);
    return CompareSystemTimes(t, &march) >= 0 && CompareSystemTimes(t, &october) < 0;
}

int SPKIFormats::ShiftTime(const SYSTEMTIME* in, SYSTEMTIME* out, bool toLocal)
{
    try {
        if (!in || !out) return 0;
        if (timeConversionOff_) {
            *out = *in;
            return 1;
        }
        FILETIME ft;
        if (!SystemTimeToFileTime(in, &ft)) return 0;
        std::uint64_t offset = (IsSummerTime(in, toLocal) ? 10800ull : 7200ull) * 10000000ull;
        std::uint64_t ticks = (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
        if (toLocal)
            ticks += offset;
        else if (ticks >= offset)
            ticks -= offset;
        else
            return 0;
        ft.dwLowDateTime = static_cast<DWORD>(ticks);
        ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
        SYSTEMTIME result;
        if (!FileTimeToSystemTime(&ft, &result)) return 0;
        *out = result;
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::UniversalToLocalTime(const SYSTEMTIME* utc, SYSTEMTIME* local)
{
    return ShiftTime(utc, local, true);
}

int SPKIFormats::LocalToUniversalTime(const SYSTEMTIME* local, SYSTEMTIME* utc)
{
    return ShiftTime(local, utc, false);
}

namespace {

struct NameLimit {
    const char* oid;
    std::uint32_t limit;
};

constexpr NameLimit kNameLimits[] = {{"1.2.804.2.1.1.1.11.1.4.1.1", 10},
                                     {"1.2.804.2.1.1.1.11.1.4.2.1", 10},
                                     {"1.2.804.2.1.1.1.11.1.4.3.1", 6},
                                     {"1.2.804.2.1.1.1.11.1.4.4.1", 6},
                                     {"1.2.804.2.1.1.1.11.1.4.5.1", 32},
                                     {"1.2.804.2.1.1.1.11.1.4.6.1", 32},
                                     {"1.2.804.2.1.1.1.11.1.4.7.1", 32},
                                     {"1.2.804.2.1.1.1.11.1.4.11.1", 14},
                                     {"2.5.4.5", 64},
                                     {"2.5.4.6", 2},
                                     {"2.5.4.8", 128},
                                     {"2.5.4.7", 128},
                                     {"2.5.4.10", 64},
                                     {"2.5.4.11", 64},
                                     {"2.5.4.3", 64},
                                     {"2.5.4.4", 40},
                                     {"2.5.4.42", 32},
                                     {"2.5.4.12", 64},
                                     {"2.5.4.97", 32}};

}  // namespace

int SPKIFormats::GetNameAttributeMaxLength(const char* oid, std::uint32_t* maxLength)
{
    try {
        if (!oid) return 0;
        for (const NameLimit& row : kNameLimits) {
            if (std::strcmp(row.oid, oid) == 0) {
                if (maxLength) *maxLength = row.limit;
                return 1;
            }
        }
        return 0;
    } catch (...) {
        return 0;
    }
}

void** SPKIFormats::AllocateNameAttributeBuffers(std::uint32_t count, const char* const* oids,
                                                 std::uint32_t characterSize)
{
    try {
        if (!oids || count == 0 || characterSize == 0) return nullptr;
        // An array of pointers, sized in 64 bits so that a large count cannot wrap.
        std::uint64_t arrayBytes = static_cast<std::uint64_t>(count) * sizeof(void*);
        if (!FitsU32(arrayBytes)) return nullptr;
        void** array = static_cast<void**>(AllocateMemory(static_cast<std::uint32_t>(arrayBytes)));
        if (!array) return nullptr;
        for (std::uint32_t i = 0; i < count; ++i) {
            std::uint32_t limit = 0;
            if (!GetNameAttributeMaxLength(oids[i], &limit)) continue;
            std::uint64_t bytes = (static_cast<std::uint64_t>(limit) + 1) * characterSize;
            array[i] = FitsU32(bytes) ? AllocateMemory(static_cast<std::uint32_t>(bytes)) : nullptr;
            if (!array[i]) {
                FreeMemoryArray(i, array);
                return nullptr;
            }
        }
        return array;
    } catch (...) {
        return nullptr;
    }
}

void SPKIFormats::FreeMemoryArray(std::uint32_t count, void** array)
{
    try {
        if (!array) return;
        for (std::uint32_t i = 0; i < count; ++i)
            if (array[i]) FreeMemory(array[i]);
        FreeMemory(array);
    } catch (...) {
    }
}

int SPKIFormats::CopyOut(const std::uint8_t* data, std::uint64_t length, PKIBlob* out)
{
    if (!out || !FitsU32(length)) return 0;
    if (!AllocateBlob(out, static_cast<std::uint32_t>(length))) return 0;
    if (length) std::memcpy(out->data, data, length);
    return 1;
}
