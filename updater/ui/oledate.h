#pragma once

#include <string>

class QDateTime;

// OLE automation dates: days since 30 December 1899, 00:00, as a double;
// the fraction is the time of day. The library stores local time this way.

// The moment's local date and time as an OLE automation date.
double toOleDate(const QDateTime &moment);

// "%f" of the date (six decimals, "." whatever the locale).
std::string formatOleDate(double oleDate);

// Reads a number the way the C library's atof does, but independent of the
// locale: leading white space is skipped, the longest number prefix counts,
// text without one gives 0.
double parseOleDate(const std::string &text);
