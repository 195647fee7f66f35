#include "tracetiming.h"

TraceTiming TraceTiming::next(double intervalMs, long long durationMs)
{
    if (!(intervalMs >= 1.0))
        intervalMs = 100.0;
    if (durationMs < 0)
        durationMs = 0;
    TraceTiming timing;
    const double rest = intervalMs - static_cast<double>(durationMs);
    // Truncated toward zero, like the interval below.
    timing.restMs = rest < -2e9 ? -2000000000 : rest > 2e9 ? 2000000000 : static_cast<int>(rest);
    const double maxSleep = intervalMs > 2e9 ? 2e9 : intervalMs;
    timing.sleepMs = timing.restMs < 1 ? 1 : timing.restMs;
    if (timing.sleepMs > static_cast<int>(maxSleep))
        timing.sleepMs = static_cast<int>(maxSleep);
    timing.late = timing.restMs < 0;
    return timing;
}
