#pragma once

#include "tracecsvwriter.h"

#include <cstddef>
#include <string>
#include <vector>

// A trace CSV report read back: its header and, for every sample line, the
// time (seconds after the start, with the report's 1 ms resolution) or the
// tick count, and the value read from the reply as the trace reads it.
struct TraceReport
{
    std::string part;
    std::string serial;
    std::string startTime; // "YYYY-MM-DD hh:mm:ss" as written
    std::string port;
    std::string command;
    double intervalMs = 0.0;
    bool tickMode = false;
    std::vector<double> x;      // seconds, or tick counts
    std::vector<double> values; // one per entry of x
};

// Reads the reports CTraceCsvWriter writes: the eight header lines, then
// "<seconds.ms>; <reply>;" or "<tick>; <reply>;" lines, each ending with
// CR LF (LF alone is taken too). Anything else is refused with one
// message naming the line: "line 9: the time is not a number".
class CTraceReportReader
{
public:
    static bool readFile(const std::string &path, TraceReport &report, std::string &error);
    static bool readText(const std::string &text, TraceReport &report, std::string &error);

    // A report of the points [first, last) in the report's own format,
    // header included: x is in seconds (time mode) or ticks (tick mode),
    // values are written in their shortest exact decimal form.
    static std::string csvText(const CTraceCsvWriter::Header &header, const std::vector<double> &x,
                               const std::vector<double> &values, size_t first, size_t last);
    // The shortest decimal text that reads back as exactly value ("C" locale).
    static std::string valueText(double value);
};
