#include "settingsdefaults.h"

#include "cnumber.h"

#include <cmath>

namespace {

// A stored "nan" or "inf" is no more usable than a value below 1.
bool usable(double value)
{
    return std::isfinite(value) && value >= 1.0;
}

} // namespace

namespace SettingsDefaults {

double usableInterval(double intervalMs)
{
    return usable(intervalMs) ? intervalMs : 100.0;
}

double usableSize(double sizeSeconds)
{
    return usable(sizeSeconds) ? sizeSeconds : 60.0;
}

double interval(const std::string &stored)
{
    return usableInterval(atofC(stored));
}

double size(const std::string &stored)
{
    return usableSize(atofC(stored));
}

bool flag(const std::string &stored)
{
    return atoiC(stored) > 0;
}

int color(const std::string &stored)
{
    return atoiC(stored);
}

int lineColor(const std::string &stored)
{
    return stored.empty() ? 0x0000FF00 : atoiC(stored);
}

std::string plotCommand(const std::string &stored)
{
    return stored.empty() ? std::string("PRE") : stored;
}

} // namespace SettingsDefaults
