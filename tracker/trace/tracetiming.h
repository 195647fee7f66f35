#pragma once

// The poll loop's timing rule, as pure arithmetic on exact durations
// (milliseconds with their fraction), so that every period is as long as
// the interval and not up to a millisecond longer.
//
// rest  = interval - duration of the previous poll;
// sleep = rest, but at least 1 ms and at most the interval;
// late  = rest < 0: the previous poll took longer than the interval.
struct TraceTiming
{
    double restMs = 0.0;
    double sleepMs = 1.0;
    bool late = false;

    static TraceTiming next(double intervalMs, double durationMs);
};
