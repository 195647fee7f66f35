#include "settingsdefaults.h"

#include <climits>
#include <cmath>
#include <cstdlib>

namespace {

// atoi without its undefined behaviour on numbers out of range.
int toInt(const std::string &text)
{
    long value = std::strtol(text.c_str(), nullptr, 10);
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

// A stored "nan" or "inf" is no more usable than a value below 1.
bool usable(double value)
{
    return std::isfinite(value) && value >= 1.0;
}

} // namespace

namespace SettingsDefaults {

double interval(const std::string &stored)
{
    double value = std::atof(stored.c_str());
    return usable(value) ? value : 100.0;
}

double size(const std::string &stored)
{
    double value = std::atof(stored.c_str());
    return usable(value) ? value : 60.0;
}

bool flag(const std::string &stored)
{
    return toInt(stored) > 0;
}

int color(const std::string &stored)
{
    return toInt(stored);
}

std::string plotCommand(const std::string &stored)
{
    return stored.empty() ? std::string("PRE") : stored;
}

} // namespace SettingsDefaults
