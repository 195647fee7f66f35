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
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t kLongestLine = 65536;
constexpr const char *kTimeColumns = "time[s.ms] after start;Value;";
constexpr const char *kTickColumns = "Tick counts;Value;";

// Reads a report line by line; every line is handed over once, without its
// line end and with a NUL byte after it, so numbers can be read in place.
class ReportParser
{
public:
    ReportParser(TraceReport &report, size_t mostSamples)
        : m_report(report)
        , m_mostSamples(mostSamples)
    {
    }

    // False (and error() set) when the line is wrong. last: the line is
    // the end of the text and has no line end.
    bool line(char *begin, char *end, bool last = false);
    // False when the text stopped inside the header.
    bool finish();
    // The cap is reached: nothing more is to be read.
    bool full() const { return m_full; }
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
    // Line ends are CR LF, unless the text's first block holds no CR LF
    // at all (a report edited into LF line ends).
    bool crlf = true;
    bool crlfKnown = false;

private:
    bool header(const std::string &text);
    bool sample(char *begin, char *end);
    bool field(const std::string &text, const char *label, std::string &value);
    void note(const std::string &what)
    {
        m_report.notes.push_back(formatC("line %zu: ", m_line) + what);
    }

    TraceReport &m_report;
    const size_t m_mostSamples;
    std::string m_error;
    size_t m_line = 0;
    bool m_wentBack = false;
    bool m_full = false;
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
    if (m_report.x.size() >= m_mostSamples) {
        note(formatC("more than %zu samples; the rest is left out", m_mostSamples));
        m_full = true;
        return true;
    }
    // A clock set back during the run: the times stay in the order written.
    if (!m_wentBack && !m_report.x.empty() && x < m_report.x.back()) {
        m_wentBack = true;
        note(m_report.tickMode ? "the tick count goes back" : "the time goes back");
    }
    // The value ends where atof stops: at the first byte that is not part
    // of a number, a NUL in the reply included.
    end[-1] = '\0';
    m_report.x.push_back(x);
    m_report.values.push_back(strtodC(separator + 2, nullptr));
    return true;
}

bool ReportParser::line(char *begin, char *end, bool last)
{
    ++m_line;
    if (size_t(end - begin) > kLongestLine)
        return fail(formatC("longer than %zu bytes", kLongestLine));
    *end = '\0';
    if (m_line <= 8)
        return header(std::string(begin, end));
    if (!last)
        return sample(begin, end);
    // A last line without its line end is what a run killed while writing
    // leaves: taken when whole, else left out.
    if (sample(begin, end))
        return true;
    m_error.clear();
    note("the last line is not whole; left out");
    return true;
}

bool ReportParser::finish()
{
    if (m_line >= 8)
        return true;
    return failNext(m_line == 0 ? "the file is empty" : "the report ends inside its header");
}

// The next line end at or after from: CR LF, or in a file of LF line ends
// LF alone. Returns its LF, or null when none is in [from, stop).
char *lineEnd(const ReportParser &parser, char *begin, char *from, char *stop)
{
    for (;;) {
        char *newline = static_cast<char *>(std::memchr(from, '\n', size_t(stop - from)));
        if (!newline || !parser.crlf || (newline > begin && newline[-1] == '\r'))
            return newline;
        from = newline + 1; // a lone LF is part of the line
    }
}

// Hands every line of [data, data + size) to the parser; data[size] must
// be writable (a NUL goes there).
bool parseAll(ReportParser &parser, char *data, size_t size, bool final, size_t &used)
{
    char *cursor = data;
    char *const stop = data + size;
    if (!parser.crlfKnown && (size > 0 || final)) {
        // A file edited into LF line ends holds no CR LF at all.
        static const char kCrLf[] = "\r\n";
        parser.crlf = size == 0 || memmem(data, size, kCrLf, 2) != nullptr;
        parser.crlfKnown = true;
    }
    while (!parser.full()) {
        char *newline = lineEnd(parser, cursor, cursor, stop);
        if (!newline)
            break;
        char *end = newline;
        if (end > cursor && end[-1] == '\r')
            --end;
        if (!parser.line(cursor, end))
            return false;
        cursor = newline + 1;
    }
    if (parser.full()) {
        used = size;
        return true;
    }
    if (final && cursor != stop) {
        char *end = stop;
        if (end[-1] == '\r')
            --end;
        if (!parser.line(cursor, end, true))
            return false;
        cursor = stop;
    }
    used = size_t(cursor - data);
    return true;
}

std::string kindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return "a folder";
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (S_ISCHR(mode))
        return "a character device";
    if (S_ISBLK(mode))
        return "a block device";
    if (S_ISSOCK(mode))
        return "a socket";
    return "not a file";
}

std::string notRegular(mode_t mode)
{
    return "not a regular file (" + kindOf(mode) + ")";
}

// Runs parse, which fills report and returns false with error set; a
// report that failed, or ran out of memory, is left empty.
template <class Parse>
bool parseWhole(TraceReport &report, std::string &error, Parse parse)
{
    try {
        if (parse())
            return true;
    } catch (const std::bad_alloc &) {
        error = "not enough memory for the report";
    }
    report = TraceReport();
    return false;
}

} // namespace

bool CTraceReportReader::readText(const std::string &text, TraceReport &report, std::string &error,
                                  size_t mostSamples)
{
    report = TraceReport();
    return parseWhole(report, error, [&] {
        std::string copy = text;
        copy.push_back('\0');
        ReportParser parser(report, mostSamples);
        size_t used = 0;
        if (!parseAll(parser, copy.data(), text.size(), true, used) || !parser.finish()) {
            error = parser.error();
            return false;
        }
        return true;
    });
}

bool CTraceReportReader::readFile(const std::string &path, TraceReport &report, std::string &error,
                                  size_t mostSamples)
{
    report = TraceReport();
    // Look before opening: opening a FIFO waits for a writer.
    struct stat info
    { };
    if (::stat(path.c_str(), &info) != 0) {
        error = std::strerror(errno);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        error = notRegular(info.st_mode);
        return false;
    }
    // The path may have been swapped since: the open does not wait, and the
    // file opened is looked at again.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    struct Closer
    {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    if (::fstat(fd, &info) != 0) {
        error = std::strerror(errno);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        error = notRegular(info.st_mode);
        return false;
    }
    return parseWhole(report, error, [&] {
        ReportParser parser(report, mostSamples);
        constexpr size_t kChunk = 1 << 20;
        std::vector<char> buffer(kChunk + 1);
        size_t filled = 0;
        for (;;) {
            const size_t room = buffer.size() - 1 - filled;
            ssize_t got = 0;
            do
                got = ::read(fd, buffer.data() + filled, room);
            while (got < 0 && errno == EINTR);
            if (got < 0) {
                error = std::strerror(errno);
                return false;
            }
            const bool final = got == 0;
            filled += size_t(got);
            size_t used = 0;
            if (!parseAll(parser, buffer.data(), filled, final, used)) {
                error = parser.error();
                return false;
            }
            if (parser.full())
                break;
            std::memmove(buffer.data(), buffer.data() + used, filled - used);
            filled -= used;
            if (filled > kLongestLine + 2) {
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
    });
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
