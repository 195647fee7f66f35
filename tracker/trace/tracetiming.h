#pragma once

// The poll loop's timing rule, as pure arithmetic.
//
// rest  = interval - duration of the previous poll, truncated to whole ms;
// sleep = rest, but at least 1 ms and at most the interval truncated;
// late  = rest < 0: the previous poll took longer than the interval.
struct TraceTiming
{
    int restMs = 0;
    int sleepMs = 1;
    bool late = false;

    static TraceTiming next(double intervalMs, long long durationMs);
};
