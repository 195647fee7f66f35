#pragma once

#include <string>

// printf-style formatting and atof-style parsing in the "C" locale,
// whatever locale the process runs in: reports and settings always use a
// decimal point.
std::string formatC(const char *format, ...) __attribute__((format(printf, 1, 2)));
// strtod in the "C" locale.
double strtodC(const char *text, char **end);
// Leading white space skipped, then the longest number; 0 when none.
double atofC(const std::string &text);
// Like atoi, but a number out of range is held at the nearest int
// instead of being undefined.
int atoiC(const std::string &text);
