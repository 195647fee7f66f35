#include "tracereport.h"

#include "cnumber.h"
#include "timediff.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/stat.h>

namespace {

constexpr size_t kLongestLine = 65536;
constexpr const char *kTimeColumns = "time[s.ms] after start;Value;";
constexpr const char *kTickColumns = "Tick counts;Value;";

// Reads a report line by line; every line is handed over once, without its
// line end and with a NUL byte after it, so numbers can be read in place.
class ReportParser
{
public:
    explicit ReportParser(TraceReport &report)
        : m_report(report)
    {
    }

    // False (and error() set) when the line is wrong.
    bool line(char *begin, char *end);
    // False when the text stopped inside the header.
    bool finish();
    const std::string &error() const { return m_error; }
    size_t lineNumber() const { return m_line; }
    // The line after the last one handed over is wrong.
    bool failNext(const std::string &what)
    {
        ++m_line;
        return fail(what);
    }
    bool fail(const std::string &what)
    {
        m_error = formatC("line %zu: ", m_line) + what;
        return false;
    }

private:
    bool header(const std::string &text);
    bool sample(char *begin, char *end);
    bool field(const std::string &text, const char *label, std::string &value);

    TraceReport &m_report;
    std::string m_error;
    size_t m_line = 0;
};

bool ReportParser::field(const std::string &text, const char *label, std::string &value)
{
    const size_t length = std::strlen(label);
    if (text.compare(0, length, label) != 0)
        return fail(std::string("expected \"") + label + "\"");
    value = text.substr(length);
    return true;
}

bool ReportParser::header(const std::string &text)
{
    switch (m_line) {
    case 1: return field(text, "Report for;", m_report.part);
    case 2: return field(text, "Serial;", m_report.serial);
    case 3: {
        if (!field(text, "Start time;", m_report.startTime))
            return false;
        int year, month, day, hour, minute, second;
        char end = 0;
        if (m_report.startTime.size() != 19
            || std::sscanf(m_report.startTime.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &year, &month,
                           &day, &hour, &minute, &second, &end)
                != 6
            || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59
            || second > 60)
            return fail("the start time is not YYYY-MM-DD hh:mm:ss");
        return true;
    }
    case 4: return field(text, "Comport;", m_report.port);
    case 5: return field(text, "Signal;", m_report.command);
    case 6: {
        std::string interval;
        if (!field(text, "Interval;", interval))
            return false;
        char *end = nullptr;
        const double ms = strtodC(interval.c_str(), &end);
        if (end == interval.c_str() || std::strcmp(end, " ms") != 0 || !std::isfinite(ms) || ms < 0)
            return fail("the interval is not \"<number> ms\"");
        m_report.intervalMs = ms;
        return true;
    }
    case 7: return text.empty() || fail("expected an empty line");
    default:
        if (text == kTimeColumns)
            m_report.tickMode = false;
        else if (text == kTickColumns)
            m_report.tickMode = true;
        else
            return fail(std::string("expected \"") + kTimeColumns + "\" or \"" + kTickColumns
                        + "\"");
        return true;
    }
}

bool ReportParser::sample(char *begin, char *end)
{
    if (begin == end)
        return fail("empty line");
    if (end[-1] != ';')
        return fail("the line does not end with \";\"");
    char *separator = static_cast<char *>(std::memchr(begin, ';', size_t(end - begin)));
    if (separator == end - 1 || separator[1] != ' ')
        return fail("no \"; \" after the first field");
    *separator = '\0';
    double x = 0.0;
    char *parsedEnd = nullptr;
    if (m_report.tickMode) {
        const auto result = std::from_chars(begin, separator, x);
        // The writer counts 0, 1, 2...: whole numbers only.
        if (result.ec != std::errc() || result.ptr != separator || !std::isfinite(x) || x < 0
            || x != std::floor(x))
            return fail("the tick count is not a whole number");
    } else {
        x = strtodC(begin, &parsedEnd);
        if (parsedEnd == begin || parsedEnd != separator || !std::isfinite(x))
            return fail("the time is not a number");
    }
    if (!m_report.x.empty() && x < m_report.x.back())
        return fail(m_report.tickMode ? "the tick count goes back" : "the time goes back");
    end[-1] = '\0';
    m_report.x.push_back(x);
    m_report.values.push_back(strtodC(separator + 2, nullptr));
    return true;
}

bool ReportParser::line(char *begin, char *end)
{
    ++m_line;
    if (end > begin && end[-1] == '\r')
        --end;
    *end = '\0';
    if (size_t(end - begin) > kLongestLine)
        return fail(formatC("longer than %zu bytes", kLongestLine));
    if (std::memchr(begin, '\0', size_t(end - begin)))
        return fail("holds a NUL byte");
    if (m_line <= 8)
        return header(std::string(begin, end));
    return sample(begin, end);
}

bool ReportParser::finish()
{
    if (m_line >= 8)
        return true;
    return failNext(m_line == 0 ? "the file is empty" : "the report ends inside its header");
}

// Hands every line of [data, data + size) to the parser; data[size] must
// be writable (a NUL goes there).
bool parseAll(ReportParser &parser, char *data, size_t size, bool final, size_t &used)
{
    char *cursor = data;
    char *const stop = data + size;
    for (;;) {
        char *newline = static_cast<char *>(std::memchr(cursor, '\n', size_t(stop - cursor)));
        if (!newline)
            break;
        if (!parser.line(cursor, newline))
            return false;
        cursor = newline + 1;
    }
    if (final && cursor != stop) {
        if (!parser.line(cursor, stop))
            return false;
        cursor = stop;
    }
    used = size_t(cursor - data);
    return true;
}

} // namespace

bool CTraceReportReader::readText(const std::string &text, TraceReport &report, std::string &error)
{
    report = TraceReport();
    std::string copy = text;
    copy.push_back('\0');
    ReportParser parser(report);
    size_t used = 0;
    if (!parseAll(parser, copy.data(), text.size(), true, used) || !parser.finish()) {
        error = parser.error();
        return false;
    }
    return true;
}

bool CTraceReportReader::readFile(const std::string &path, TraceReport &report, std::string &error)
{
    report = TraceReport();
    std::unique_ptr<std::FILE, int (*)(std::FILE *)> file(std::fopen(path.c_str(), "rb"),
                                                          &std::fclose);
    if (!file) {
        error = std::strerror(errno);
        return false;
    }
    // Room for the shortest possible lines ("0; 1;" CR LF): the memory of
    // what is never filled is never touched.
    struct stat info
    { };
    if (fstat(fileno(file.get()), &info) == 0 && info.st_size > 0) {
        report.x.reserve(size_t(info.st_size) / 7);
        report.values.reserve(size_t(info.st_size) / 7);
    }
    ReportParser parser(report);
    constexpr size_t kChunk = 1 << 20;
    std::vector<char> buffer(kChunk + 1);
    size_t filled = 0;
    for (;;) {
        const size_t room = buffer.size() - 1 - filled;
        const size_t got = std::fread(buffer.data() + filled, 1, room, file.get());
        if (got == 0 && std::ferror(file.get())) {
            error = std::strerror(errno);
            return false;
        }
        const bool final = got == 0;
        filled += got;
        size_t used = 0;
        if (!parseAll(parser, buffer.data(), filled, final, used)) {
            error = parser.error();
            return false;
        }
        std::memmove(buffer.data(), buffer.data() + used, filled - used);
        filled -= used;
        if (filled > kLongestLine + 1) {
            parser.failNext(formatC("longer than %zu bytes", kLongestLine));
            error = parser.error();
            return false;
        }
        if (final)
            break;
    }
    if (!parser.finish()) {
        error = parser.error();
        return false;
    }
    return true;
}

std::string CTraceReportReader::valueText(double value)
{
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

std::string CTraceReportReader::csvText(const CTraceCsvWriter::Header &header,
                                        const std::vector<double> &x,
                                        const std::vector<double> &values, size_t first,
                                        size_t last)
{
    std::string text = CTraceCsvWriter::headerText(header) + "\r\n";
    last = std::min({last, x.size(), values.size()});
    for (size_t i = first; i < last; ++i) {
        const std::string value = valueText(values[i]);
        if (header.tickMode)
            text += CTraceCsvWriter::tickLine(uint32_t(std::llround(x[i])), value);
        else
            text += elapsedText(std::llround(x[i] * 1000.0), 1) + "; " + value + ";";
        text += "\r\n";
    }
    return text;
}
