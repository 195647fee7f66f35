#include "settingsdefaults.h"

#include "cnumber.h"
#include "linecontrol.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

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

int sendInterval(const std::string &stored)
{
    const double ms = atofC(stored);
    if (!std::isfinite(ms) || ms <= 0.0)
        return 200;
    return static_cast<int>(std::lround(std::min(10000.0, std::max(10.0, ms))));
}

bool pictureSize(const std::string &text, int &width, int &height)
{
    int w = 0;
    int h = 0;
    char rest = 0;
    if (std::sscanf(text.c_str(), "%dx%d%c", &w, &h, &rest) != 2 || w < 16 || h < 16 || w > 20000
        || h > 20000)
        return false;
    width = w;
    height = h;
    return true;
}

std::string plotCommand(const std::string &stored)
{
    return stored.empty() ? std::string("PRE") : stored;
}

LineControl lineControl(const std::string &stored)
{
    LineControl control = kDefaultLineControl;
    parseLineControl(stored, control);
    return control;
}

} // namespace SettingsDefaults
