#pragma once

#include <string>

// How the tracker's readers turn a stored text into the value they use,
// the C library way (text that does not convert gives 0), including the
// rule for a missing, empty or unusable value.
namespace SettingsDefaults {

// T_Interval in ms: below 1 (or not a finite number) becomes 100.
double interval(const std::string &stored);
// T_Size in seconds: below 1 (or not a finite number) becomes 60.
double size(const std::string &stored);
// T_Log, TraceTick: on when the number is greater than 0.
bool flag(const std::string &stored);
// ColorLine, ColorBack: the number, 0 (black) when missing.
int color(const std::string &stored);
// PlotCommand: "PRE" when missing or empty.
std::string plotCommand(const std::string &stored);

} // namespace SettingsDefaults
