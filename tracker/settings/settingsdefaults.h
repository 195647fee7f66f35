#pragma once

#include "serialconfig.h"

#include <string>

// How the tracker's readers turn a stored text into the value they use,
// the C library way (text that does not convert gives 0), including the
// rule for a missing, empty or unusable value.
namespace SettingsDefaults {

// An interval in ms below 1 (or not a finite number, which no poll loop
// could wait for) becomes 100.
double usableInterval(double intervalMs);
// A time span in seconds below 1 (or not a finite number) becomes 60.
double usableSize(double sizeSeconds);

// T_Interval in ms, by usableInterval.
double interval(const std::string &stored);
// T_Size in seconds, by usableSize.
double size(const std::string &stored);
// T_Log, TraceTick: on when the number is greater than 0.
bool flag(const std::string &stored);
// ColorBack: the number, 0 (black) when missing.
int color(const std::string &stored);
// ColorLine: the number; green (BGR 0x00FF00) when missing, so that the
// first trace does not draw black on the black background.
int lineColor(const std::string &stored);
// SendInterval in ms: 200 when missing or not a number, else held
// between 10 and 10000.
int sendInterval(const std::string &stored);
// T_ExportSize "WxH": both from 16 to 20000 pixels, else false.
bool pictureSize(const std::string &text, int &width, int &height);
// PlotCommand: "PRE" when missing or empty.
std::string plotCommand(const std::string &stored);
// DTR, RTS: "on", "off" or "keep" in any case; anything else, a missing
// value included, raises the line (kDefaultLineControl).
LineControl lineControl(const std::string &stored);

} // namespace SettingsDefaults
