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

double interval(const std::string &stored)
{
    double value = atofC(stored);
    return usable(value) ? value : 100.0;
}

double size(const std::string &stored)
{
    double value = atofC(stored);
    return usable(value) ? value : 60.0;
}

bool flag(const std::string &stored)
{
    return atoiC(stored) > 0;
}

int color(const std::string &stored)
{
    return atoiC(stored);
}

std::string plotCommand(const std::string &stored)
{
    return stored.empty() ? std::string("PRE") : stored;
}

} // namespace SettingsDefaults
