#include "tracetiming.h"

#include "settingsdefaults.h"

#include <algorithm>

TraceTiming TraceTiming::next(double intervalMs, double durationMs)
{
    intervalMs = SettingsDefaults::usableInterval(intervalMs);
    if (!(durationMs > 0.0))
        durationMs = 0.0;
    TraceTiming timing;
    timing.restMs = intervalMs - durationMs;
    timing.sleepMs = std::min(std::max(timing.restMs, 1.0), intervalMs);
    timing.late = timing.restMs < 0.0;
    return timing;
}
