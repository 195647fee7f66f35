#include "graphsettings.h"

#include "cnumber.h"
#include "settingsdefaults.h"

#include <cmath>
#include <limits>

GraphSettings GraphSettings::compute(double intervalMs, double sizeSeconds)
{
    GraphSettings settings;
    settings.interval = SettingsDefaults::usableInterval(intervalMs);
    settings.points = sizeSeconds * 1000.0 / settings.interval;
    const double length = std::trunc(settings.points + 1.0);
    // A span too large (or negative) for a chart is held at what fits.
    if (!(length >= 0.0))
        settings.chartLength = 0;
    else if (length > std::numeric_limits<int>::max())
        settings.chartLength = std::numeric_limits<int>::max();
    else
        settings.chartLength = static_cast<int>(length);
    settings.xMin = 0.0;
    settings.xMax = settings.points;
    // Seconds per sample; the same as interval / 1000 whenever the span
    // holds any points at all.
    const double perSample = settings.points != 0.0 && std::isfinite(settings.points)
        ? sizeSeconds / settings.points
        : settings.interval / 1000.0;
    settings.labelFormat = formatC("*%f\"s", perSample);
    return settings;
}

std::string GraphSettings::rangeError(double minimum, double maximum, bool logScale)
{
    if (!std::isfinite(minimum) || !std::isfinite(maximum))
        return "Minimum and maximum must be numbers.";
    if (minimum >= maximum)
        return "The minimum must be below the maximum.";
    if (logScale && minimum <= 0.0)
        return "On the log scale both limits must be above 0.";
    return std::string();
}
