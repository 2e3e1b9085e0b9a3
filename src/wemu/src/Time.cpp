// SYSTEMTIME and FILETIME (100 ns units since 1601-01-01 UTC).
#include "Internal.h"

#include <ctime>
#include <time.h>

namespace wemu {
namespace {

constexpr uint64_t kTicksPerSecond = 10000000ull;
constexpr uint64_t kTicksPerDay = 86400ull * kTicksPerSecond;

bool isLeap(int64_t y)
{
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int daysInMonth(int64_t y, int m)
{
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeap(y) ? 29 : days[m - 1];
}

// Days from 1970-01-01 to the civil date (proleptic Gregorian), by counting
// 400-year eras from 0000-03-01.
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void civilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);
}

const int64_t kDays1601To1970 = -daysFromCivil(1601, 1, 1);

void fromTm(const struct tm& t, long nanoseconds, LPSYSTEMTIME st)
{
    st->wYear = static_cast<WORD>(t.tm_year + 1900);
    st->wMonth = static_cast<WORD>(t.tm_mon + 1);
    st->wDayOfWeek = static_cast<WORD>(t.tm_wday);
    st->wDay = static_cast<WORD>(t.tm_mday);
    st->wHour = static_cast<WORD>(t.tm_hour);
    st->wMinute = static_cast<WORD>(t.tm_min);
    st->wSecond = static_cast<WORD>(t.tm_sec > 59 ? 59 : t.tm_sec);
    st->wMilliseconds = static_cast<WORD>(nanoseconds / 1000000);
}

}  // namespace
}  // namespace wemu

using namespace wemu;

extern "C" {

void GetSystemTime(LPSYSTEMTIME st)
{
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    struct tm t;
    gmtime_r(&now.tv_sec, &t);
    fromTm(t, now.tv_nsec, st);
}

void GetLocalTime(LPSYSTEMTIME st)
{
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    struct tm t;
    localtime_r(&now.tv_sec, &t);
    fromTm(t, now.tv_nsec, st);
}

BOOL SystemTimeToFileTime(const SYSTEMTIME* st, LPFILETIME ft)
{
    if (!st || !ft || st->wYear < 1601 || st->wYear > 30827 || st->wMonth < 1 || st->wMonth > 12 || st->wDay < 1 ||
        st->wDay > daysInMonth(st->wYear, st->wMonth) || st->wHour > 23 || st->wMinute > 59 || st->wSecond > 59 ||
        st->wMilliseconds > 999) {
        setError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // wDayOfWeek is ignored, as on Win32.
    int64_t days = daysFromCivil(st->wYear, st->wMonth, st->wDay) + kDays1601To1970;
    uint64_t ticks = static_cast<uint64_t>(days) * kTicksPerDay +
                     (static_cast<uint64_t>(st->wHour) * 3600 + st->wMinute * 60u + st->wSecond) * kTicksPerSecond +
                     static_cast<uint64_t>(st->wMilliseconds) * 10000u;
    ft->dwLowDateTime = static_cast<DWORD>(ticks);
    ft->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return TRUE;
}

BOOL FileTimeToSystemTime(const FILETIME* ft, LPSYSTEMTIME st)
{
    if (!ft || !st) {
        setError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    uint64_t ticks = (static_cast<uint64_t>(ft->dwHighDateTime) << 32) | ft->dwLowDateTime;
    if (ticks >= 0x8000000000000000ull) {
        setError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    int64_t days = static_cast<int64_t>(ticks / kTicksPerDay);
    uint64_t rest = ticks % kTicksPerDay;
    int64_t y;
    unsigned m, d;
    civilFromDays(days - kDays1601To1970, y, m, d);
    st->wYear = static_cast<WORD>(y);
    st->wMonth = static_cast<WORD>(m);
    st->wDay = static_cast<WORD>(d);
    st->wDayOfWeek = static_cast<WORD>((days + 1) % 7);  // 1601-01-01 was a Monday
    st->wHour = static_cast<WORD>(rest / (3600 * kTicksPerSecond));
    st->wMinute = static_cast<WORD>(rest / (60 * kTicksPerSecond) % 60);
    st->wSecond = static_cast<WORD>(rest / kTicksPerSecond % 60);
    st->wMilliseconds = static_cast<WORD>(rest / 10000 % 1000);
    return TRUE;
}

LONG CompareFileTime(const FILETIME* a, const FILETIME* b)
{
    uint64_t x = (static_cast<uint64_t>(a->dwHighDateTime) << 32) | a->dwLowDateTime;
    uint64_t y = (static_cast<uint64_t>(b->dwHighDateTime) << 32) | b->dwLowDateTime;
    return x < y ? -1 : x > y ? 1 : 0;
}

}  // extern "C"
