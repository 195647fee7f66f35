#include "tracecsvwriter.h"

#include "cnumber.h"
#include "devicesession.h"
#include "textline.h"
#include "timediff.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

CTraceCsvWriter::CTraceCsvWriter(Clock clock)
    : m_file(std::make_unique<CTextFile>())
    , m_clock(std::move(clock))
{
}

CTraceCsvWriter::~CTraceCsvWriter()
{
    stop();
}

void CTraceCsvWriter::setClock(Clock clock)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_clock = std::move(clock);
}

QDateTime CTraceCsvWriter::now() const
{
    return m_clock ? m_clock() : QDateTime::currentDateTimeUtc();
}

bool CTraceCsvWriter::start(const std::string &path, const TraceOwnerInfo &owner,
                            const std::string &command, double interval, bool tickMode)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_logging = false;
    m_file->CloseFile();
    m_lastError.clear();

    // Take the file exclusively before anything in it changes: a file that
    // cannot be opened (a folder without write access, a file another log
    // holds) keeps its content.
    if (!m_file->OpenFile(path, true, false, true, true)) {
        m_lastError = m_file->lastError();
        if (m_lastError.empty())
            m_lastError = "Error occurred! \n" + std::generic_category().message(EACCES) + "\n";
        m_lastError += path + "\n";
        return false;
    }
    // Then start it empty: the log replaces what the file held.
    try {
        if (!m_file->truncate())
            throw std::system_error(errno, std::generic_category(), "truncate");
        m_path = path;
        m_tickMode = tickMode;
        m_startTime = now();
        Header header;
        header.owner = owner;
        header.command = command;
        header.interval = interval;
        header.tickMode = tickMode;
        header.startTime = m_startTime;
        if (!m_file->AppendLine(headerText(header)))
            throw std::system_error(EIO, std::generic_category(), "header");
    } catch (const std::system_error &error) {
        m_lastError = "Error occurred! \n" + error.code().message() + "\n" + path + "\n";
        m_file->CloseFile();
        return false;
    }
    m_tickCounter = 0;
    m_logging = true;
    return true;
}

void CTraceCsvWriter::stop()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_logging = false;
    m_file->CloseFile();
}

bool CTraceCsvWriter::appendSample(const std::string &reply)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_logging.load())
        return true;
    // The reply's own line end would split the line in two for a
    // spreadsheet; the value field ends with the text.
    const std::string value = withoutLineEnd(reply);
    std::string line;
    if (m_tickMode.load())
        line = tickLine(m_tickCounter, value);
    else
        line = timeLine(m_startTime, now(), value);
    // A line that does not fit (a full disk) is taken back whole, so the
    // lines before it stay intact and later ones start on a line of their own.
    std::error_code error;
    const auto lengthBefore = std::filesystem::file_size(m_file->fullPath(), error);
    bool written = false;
    try {
        written = m_file->AppendLine(line);
    } catch (...) {
        written = false;
    }
    if (!written) {
        if (!error)
            std::filesystem::resize_file(m_file->fullPath(), lengthBefore, error);
        return false;
    }
    if (m_tickMode.load())
        ++m_tickCounter;
    return true;
}

std::string CTraceCsvWriter::path() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_path;
}

std::string CTraceCsvWriter::lastError() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lastError;
}

std::string CTraceCsvWriter::headerText(const Header &header)
{
    const QDate day = header.startTime.date();
    const QTime time = header.startTime.time();
    return formatC("Report for;%s\r\nSerial;%s\r\nStart time;%d-%02d-%02d %02d:%02d:%02d\r\n"
                   "Comport;%s\r\nSignal;%s\r\nInterval;%.0f ms\r\n\r\n%s;Value;",
                   header.owner.part.c_str(), header.owner.serial.c_str(), day.year(), day.month(),
                   day.day(), time.hour(), time.minute(), time.second(), header.owner.port.c_str(),
                   header.command.c_str(), header.interval,
                   header.tickMode ? "Tick counts" : "time[s.ms] after start");
}

std::string CTraceCsvWriter::timeLine(const QDateTime &start, const QDateTime &now,
                                      const std::string &reply)
{
    return elapsedText(start.msecsTo(now), 1) + "; " + reply + ";";
}

std::string CTraceCsvWriter::tickLine(uint32_t tick, const std::string &reply)
{
    return formatC("%lu; ", static_cast<unsigned long>(tick)) + reply + ";";
}
