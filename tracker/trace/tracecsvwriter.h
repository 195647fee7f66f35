#pragma once

#include "textfile.h"
#include "traceownerinfo.h"

#include <QDateTime>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

// The trace CSV report: eight header lines, then one line per good sample,
// every line ending with CR LF.
//
// Start, stop and every append are serialised by one mutex, so a line
// written by the acquisition thread never reaches a file that is being
// closed or is not yet fully opened. While a log runs the file is held
// with an exclusive advisory lock.
class CTraceCsvWriter
{
public:
    // Gives the current moment in UTC; the log's start time and the
    // elapsed time of each line come from it.
    using Clock = std::function<QDateTime()>;

    struct Header
    {
        TraceOwnerInfo owner;
        std::string command;
        double interval = 100.0; // ms
        bool tickMode = false;
        QDateTime startTime; // UTC
    };

    explicit CTraceCsvWriter(Clock clock = {});
    ~CTraceCsvWriter();
    CTraceCsvWriter(const CTraceCsvWriter &) = delete;
    CTraceCsvWriter &operator=(const CTraceCsvWriter &) = delete;

    void setClock(Clock clock);

    // Opens path exclusively, empties it and writes the header. On failure
    // nothing at path is changed, logging stays off and lastError() says
    // why. A running log is stopped first.
    bool start(const std::string &path, const TraceOwnerInfo &owner, const std::string &command,
               double interval, bool tickMode);
    // Ends the log and closes the file. Harmless when no log runs.
    void stop();

    // Writes the line of one good sample when a log runs. True when
    // nothing was to be written or the line was written; false when the
    // write failed (the log keeps running).
    bool appendSample(const std::string &reply);

    bool isLogging() const { return m_logging.load(); }
    bool tickMode() const { return m_tickMode.load(); }
    // Full path of the current (or last) log file.
    std::string path() const;
    // Text of the last failure: "Error occurred! \n<reason>\n<path>\n" for
    // an open failure; empty when none occurred yet.
    std::string lastError() const;

    // The header block as one line (the final CR LF not included).
    static std::string headerText(const Header &header);
    // One data line without its CR LF: "<elapsed>; <reply>;" in time mode,
    // "<tick>; <reply>;" in tick mode.
    static std::string timeLine(const QDateTime &start, const QDateTime &now,
                                const std::string &reply);
    static std::string tickLine(uint32_t tick, const std::string &reply);

private:
    QDateTime now() const;

    mutable std::mutex m_mutex;
    std::unique_ptr<CTextFile> m_file;
    Clock m_clock;
    std::string m_path;
    std::string m_lastError;
    QDateTime m_startTime;
    uint32_t m_tickCounter = 0;
    std::atomic<bool> m_logging{false};
    std::atomic<bool> m_tickMode{false};
};
