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
    std::vector<double> x;      // seconds, or tick counts, in file order
    std::vector<double> values; // one per entry of x
    // What was read past, each once and naming its line: times that go
    // back, a last line cut off, samples beyond the cap.
    std::vector<std::string> notes;
};

// Reads the reports CTraceCsvWriter writes: the eight header lines, then
// "<seconds.ms>; <reply>;" or "<tick>; <reply>;" lines, each ending with
// CR LF (a file whose first line ends with LF alone has LF line ends).
// The reply may hold any bytes, NUL included; its value is what atof reads.
// Whatever a writer can leave behind is read and noted: a clock stepped
// back (the times are kept in file order), a run killed in the middle of
// its last line (that line is left out). Anything else is refused with one
// message naming the line: "line 9: the time is not a number".
class CTraceReportReader
{
public:
    // Samples read at most; the rest of a longer report is noted and left
    // out, so memory follows this cap and never the file's size.
    static constexpr size_t kMostSamples = 10000000;

    // Only a regular file is read: a FIFO, a device or a folder is refused
    // at once, without waiting for a writer.
    static bool readFile(const std::string &path, TraceReport &report, std::string &error,
                         size_t mostSamples = kMostSamples);
    static bool readText(const std::string &text, TraceReport &report, std::string &error,
                         size_t mostSamples = kMostSamples);

    // A report of the points [first, last) in the report's own format,
    // header included: x is in seconds (time mode) or ticks (tick mode),
    // values are written in their shortest exact decimal form.
    static std::string csvText(const CTraceCsvWriter::Header &header, const std::vector<double> &x,
                               const std::vector<double> &values, size_t first, size_t last);
    // The shortest decimal text that reads back as exactly value ("C" locale).
    static std::string valueText(double value);
};
