#pragma once

#include <cstdint>
#include <string>

// The program exports GetTimeDiff and the C-linkage GetTimeDiffEx
// (timediffexport.h) for the modules it loads; they keep default
// visibility whatever the build's default is.
#define SPELMAR_EXPORT __attribute__((visibility("default")))

extern "C" {

// A moment in UTC with millisecond resolution, field for field like the
// system-time record the trace and protocol code were written against.
struct SYSTEMTIME
{
    uint16_t wYear;
    uint16_t wMonth;
    uint16_t wDayOfWeek;
    uint16_t wDay;
    uint16_t wHour;
    uint16_t wMinute;
    uint16_t wSecond;
    uint16_t wMilliseconds;
};

// The current UTC time.
void GetSystemTime(SYSTEMTIME *now);

// Milliseconds elapsed since start, from day, hour, minute, second and
// millisecond only; 86400000 when negative.
SPELMAR_EXPORT int32_t GetTimeDiff(const SYSTEMTIME *start);
}

// Elapsed time since start as text: mode 0 "%d:%02d:%02d,%03d",
// mode 1 "%lu.%03d", any other mode "?".
std::string GetTimeDiffEx(const SYSTEMTIME *start, int32_t mode);

// The same rules with the current moment given, for callers and tests
// that fix the clock.
int32_t timeDiffBetween(const SYSTEMTIME &start, const SYSTEMTIME &now);
std::string timeDiffTextBetween(const SYSTEMTIME &start, const SYSTEMTIME &now, int32_t mode);
// The text of an elapsed time in milliseconds, by the same modes.
std::string elapsedText(int64_t totalMs, int32_t mode);
