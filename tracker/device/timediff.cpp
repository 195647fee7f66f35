#include "timediff.h"

#include <cinttypes>
#include <climits>
#include <cstdio>
#include <ctime>

namespace {

constexpr int32_t kOneDayMs = 86400000;

time_t calendarSeconds(const SYSTEMTIME &t)
{
    tm fields{};
    fields.tm_year = t.wYear - 1900;
    fields.tm_mon = t.wMonth - 1;
    fields.tm_mday = t.wDay;
    fields.tm_hour = t.wHour;
    fields.tm_min = t.wMinute;
    fields.tm_sec = t.wSecond;
    fields.tm_isdst = 0;
    return ::timegm(&fields);
}

} // namespace

extern "C" {

void GetSystemTime(SYSTEMTIME *now)
{
    if (!now)
        return;
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    tm fields{};
    ::gmtime_r(&ts.tv_sec, &fields);
    now->wYear = static_cast<uint16_t>(fields.tm_year + 1900);
    now->wMonth = static_cast<uint16_t>(fields.tm_mon + 1);
    now->wDayOfWeek = static_cast<uint16_t>(fields.tm_wday);
    now->wDay = static_cast<uint16_t>(fields.tm_mday);
    now->wHour = static_cast<uint16_t>(fields.tm_hour);
    now->wMinute = static_cast<uint16_t>(fields.tm_min);
    now->wSecond = static_cast<uint16_t>(fields.tm_sec);
    now->wMilliseconds = static_cast<uint16_t>(ts.tv_nsec / 1000000);
}

int32_t GetTimeDiff(const SYSTEMTIME *start)
{
    if (!start)
        return kOneDayMs;
    SYSTEMTIME now{};
    GetSystemTime(&now);
    return timeDiffBetween(*start, now);
}

} // extern "C"

std::string GetTimeDiffEx(const SYSTEMTIME *start, int32_t mode)
{
    if (!start)
        return "?";
    SYSTEMTIME now{};
    GetSystemTime(&now);
    return timeDiffTextBetween(*start, now, mode);
}

int32_t timeDiffBetween(const SYSTEMTIME &start, const SYSTEMTIME &now)
{
    // Day of month, hour, minute, second and millisecond only: across a
    // change of month the day difference goes negative.
    const int64_t days = int64_t(now.wDay) - int64_t(start.wDay);
    const int64_t hours = int64_t(now.wHour) - int64_t(start.wHour);
    const int64_t minutes = int64_t(now.wMinute) - int64_t(start.wMinute);
    const int64_t seconds = int64_t(now.wSecond) - int64_t(start.wSecond);
    const int64_t millis = int64_t(now.wMilliseconds) - int64_t(start.wMilliseconds);
    const int64_t total = (((days * 24 + hours) * 60 + minutes) * 60 + seconds) * 1000 + millis;
    if (total < 0)
        return kOneDayMs;
    // More than 24.8 days does not fit; it stays a very long time.
    if (total > INT32_MAX)
        return INT32_MAX;
    return static_cast<int32_t>(total);
}

std::string timeDiffTextBetween(const SYSTEMTIME &start, const SYSTEMTIME &now, int32_t mode)
{
    const int64_t d = int64_t(calendarSeconds(now)) - int64_t(calendarSeconds(start));
    return elapsedText(d * 1000 + (int64_t(now.wMilliseconds) - int64_t(start.wMilliseconds)),
                       mode);
}

std::string elapsedText(int64_t total, int32_t mode)
{
    if (mode != 0 && mode != 1)
        return "?";
    // A start in the future (clock set back) is shown as a negative time
    // rather than as a wrapped-around unsigned count.
    const char *sign = "";
    if (total < 0) {
        sign = "-";
        total = -total;
    }
    const int64_t s = total / 1000;
    const int m = static_cast<int>(total % 1000);
    char text[64];
    if (mode == 0)
        std::snprintf(text, sizeof text, "%s%" PRId64 ":%02d:%02d,%03d", sign, s / 3600,
                      static_cast<int>((s / 60) % 60), static_cast<int>(s % 60), m);
    else
        std::snprintf(text, sizeof text, "%s%" PRId64 ".%03d", sign, s, m);
    return text;
}
