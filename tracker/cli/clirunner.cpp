#include "clirunner.h"

#include "commandconsole.h"
#include "deviceconnection.h"
#include "devicesession.h"
#include "linecontrol.h"
#include "settingskeys.h"
#include "settingsstore.h"
#include "reportpicture.h"
#include "terminaltext.h"
#include "textline.h"
#include "tracecsvwriter.h"
#include "tracereport.h"
#include "tracerun.h"
#include "tracestats.h"

#include <QSerialPortInfo>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <string>

namespace {

std::atomic<bool> g_interrupted{false};
// The session whose exchange a signal ends; set while a trace runs.
std::atomic<CDeviceSession *> g_session{nullptr};

extern "C" void onInterrupt(int)
{
    g_interrupted.store(true);
    // Only stores to lock-free atomics: safe in a signal handler.
    if (CDeviceSession *session = g_session.load())
        session->cancelExchanges();
}

// Failures of the connection go to the error stream as the window shows them.
void reportFailures(CDeviceConnection &connection, std::FILE *err)
{
    CDeviceConnection::Callbacks callbacks;
    callbacks.answer = [err](const std::string &text) {
        if (text.rfind("!!", 0) == 0)
            std::fprintf(err, "%s\n", terminalText(text).c_str());
    };
    connection.setCallbacks(std::move(callbacks));
}

} // namespace

CCliRunner::CCliRunner(const CliArguments &arguments, std::FILE *out, std::FILE *err)
    : m_args(arguments)
    , m_out(out)
    , m_err(err)
{
}

int CCliRunner::run()
{
    const std::string &sub = m_args.subcommand;
    if (sub == "ports")
        return runPorts();
    if (sub == "identify")
        return runIdentify();
    if (sub == "commands")
        return runCommands();
    if (sub == "send")
        return runSend();
    if (sub == "trace")
        return runTrace();
    if (sub == "review")
        return runReview();
    return runConfigure();
}

bool CCliRunner::open(CDeviceConnection &connection, OpenStep step)
{
    reportFailures(connection, m_err);
    connection.setLineControl(m_args.dtr.value_or(kDefaultLineControl),
                              m_args.rts.value_or(kDefaultLineControl));
    // The failure line names its reason (the port's, or the lost device's).
    const auto result = (connection.*step)(m_args.port, m_args.baud, m_args.simulate);
    if (connection.foundBaud() != 0)
        std::fprintf(m_err, ">> %s\n",
                     CDeviceConnection::foundBaudText(connection.foundBaud()).c_str());
    return result == CDeviceConnection::Result::Connected;
}

int CCliRunner::runPorts()
{
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        std::fprintf(m_out, "%s\n",
                     terminalText(info.systemLocation().toLocal8Bit().toStdString()).c_str());
    return 0;
}

int CCliRunner::runIdentify()
{
    CDeviceSession session;
    CDeviceConnection connection(session);
    if (!open(connection, &CDeviceConnection::openAndIdentify))
        return 1;
    std::fprintf(m_out, "Rev: %s\nPart: %s\nSerial: %s\nModel: %s\n",
                 terminalText(connection.revision()).c_str(),
                 terminalText(connection.part()).c_str(), terminalText(connection.serial()).c_str(),
                 terminalText(connection.model()).c_str());
    connection.Disconnect();
    // Identified by the revision alone: which fields are missing, and why.
    if (connection.unanswered().empty())
        return 0;
    std::string steps;
    for (const std::string &step : connection.unanswered())
        steps += " " + step;
    std::fprintf(m_err, "!! No answer to:%s\n", steps.c_str());
    return 1;
}

int CCliRunner::runCommands()
{
    CDeviceSession session;
    CDeviceConnection connection(session);
    if (!open(connection, &CDeviceConnection::Connect))
        return 1;
    printListing(connection.commandList(), connection.commandListCut());
    connection.Disconnect();
    return 0;
}

int CCliRunner::runSend()
{
    CDeviceSession session;
    CDeviceConnection connection(session);
    if (!open(connection, &CDeviceConnection::openPort))
        return 1;
    if (trimmed(m_args.sendCommand) == "HLP")
        return runHelpListing(session, connection);
    CCommandConsole console(session);
    const CCommandConsole::Outcome outcome = console.send(m_args.sendCommand);
    connection.Disconnect();
    if (!outcome.answered) {
        std::fprintf(m_err, "%s\n", terminalText(outcome.text).c_str());
        return 1;
    }
    std::fprintf(m_out, "%s\n", terminalText(outcome.text).c_str());
    return 0;
}

int CCliRunner::runHelpListing(CDeviceSession &session, CDeviceConnection &connection)
{
    // The help listing is many lines that end by silence, not the one
    // reply line of an exchange: it is read as the connection reads it.
    bool cut = false;
    const std::vector<std::string> entries = session.LoadCommandList(&cut);
    const bool lost = session.isLost();
    connection.Disconnect();
    if (lost) {
        std::fprintf(m_err, "%s\n", terminalText(CDeviceConnection::lostText(session)).c_str());
        return 1;
    }
    if (entries.empty()) {
        std::fprintf(m_err, "HLP%s\n", CCommandConsole::kNoAnswerSuffix);
        return 1;
    }
    printListing(entries, cut);
    return 0;
}

void CCliRunner::printListing(const std::vector<std::string> &entries, bool cut)
{
    for (const std::string &entry : entries)
        std::fprintf(m_out, "%s\n", terminalText(withoutLineEnd(entry)).c_str());
    if (cut)
        std::fprintf(m_err, "%s\n", CDeviceConnection::listingCutText().c_str());
}

int CCliRunner::runTrace()
{
    CDeviceSession session;
    CDeviceConnection connection(session);
    if (!open(connection, &CDeviceConnection::openAndIdentify))
        return 1;

    CTraceCsvWriter csv;
    if (!m_args.csvPath.empty()) {
        TraceOwnerInfo owner;
        owner.part = connection.part();
        owner.serial = connection.serial();
        owner.port = connection.portText();
        if (!csv.start(m_args.csvPath, owner, m_args.traceCommand, m_args.intervalMs,
                       m_args.tick)) {
            std::fprintf(m_err, "!! %s\n", terminalText(withoutLineEnd(csv.lastError())).c_str());
            connection.Disconnect();
            return 1;
        }
    }

    std::mutex mutex;
    std::condition_variable changed;
    long polls = 0;
    long good = 0;
    bool writeFailed = false;
    bool lost = false;      // the line hung up and has not come back
    bool lostAtEnd = false; // the trace ended on a lost device
    bool ended = false;
    CTraceStats stats;
    std::FILE *out = m_out;
    std::FILE *err = m_err;
    auto onSample = [&](const TraceSample &sample) {
        if (sample.ok) {
            std::fprintf(out, "%.6g\n", sample.value);
            std::fflush(out);
        } else if (sample.lost) {
            // Told once: the run polls again only if the port comes back.
            std::fprintf(err, "!! %s\n", terminalText(sample.reply).c_str());
        } else {
            std::fprintf(err, "%s -> %s\n", terminalText(sample.command).c_str(),
                         terminalText(withoutLineEnd(sample.reply)).c_str());
        }
        if (sample.writeFailed)
            std::fprintf(err, "!! ERROR! Can not write to the file: %s\n",
                         terminalText(sample.filePath).c_str());
        std::lock_guard<std::mutex> lock(mutex);
        stats.add(sample);
        ++polls;
        if (sample.ok)
            ++good;
        writeFailed = writeFailed || sample.writeFailed;
        lost = lost || sample.lost;
        changed.notify_all();
    };
    auto onFinished = [&] {
        std::lock_guard<std::mutex> lock(mutex);
        ended = true;
        changed.notify_all();
    };

    g_interrupted.store(false);
    g_session.store(&session);
    auto previousInt = std::signal(SIGINT, onInterrupt);
    auto previousTerm = std::signal(SIGTERM, onInterrupt);

    using Clock = std::chrono::steady_clock;
    CTraceRun traceRun(session, m_args.traceCommand, m_args.intervalMs, &csv, onSample, onFinished);
    traceRun.start();
    const auto deadline = Clock::now()
        + std::chrono::milliseconds(static_cast<long long>(m_args.durationSeconds * 1000.0));
    const auto reconnectFor =
        std::chrono::milliseconds(static_cast<long long>(m_args.reconnectSeconds * 1000.0));
    Clock::time_point lostSince;
    Clock::time_point nextTry;
    bool waiting = false;
    {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            if (ended || g_interrupted.load())
                break;
            if (m_args.samples > 0 && polls >= m_args.samples)
                break;
            if (m_args.samples == 0 && Clock::now() >= deadline)
                break;
            if (lost && !waiting) {
                if (m_args.reconnectSeconds <= 0.0) {
                    lostAtEnd = true;
                    break;
                }
                waiting = true;
                lostSince = Clock::now();
                nextTry = lostSince + std::chrono::seconds(1);
                std::fprintf(err, ">> waiting up to %g s for the port to come back ...\n",
                             m_args.reconnectSeconds);
            }
            if (waiting && Clock::now() - lostSince > reconnectFor) {
                std::fprintf(err, "!! The port did not come back within %g s\n",
                             m_args.reconnectSeconds);
                lostAtEnd = true;
                break;
            }
            if (waiting && Clock::now() >= nextTry) {
                // The run waits for the device; the port is tried again
                // with the same settings, outside this lock.
                lock.unlock();
                const bool back = session.reopenPort();
                lock.lock();
                nextTry = Clock::now() + std::chrono::seconds(1);
                if (back) {
                    waiting = false;
                    lost = false;
                    std::fprintf(err, "%s\n",
                                 CDeviceConnection::backText(connection.portText()).c_str());
                }
                continue;
            }
            changed.wait_for(lock, std::chrono::milliseconds(50));
        }
    }
    // The exchange under way ends too; rows already written stay whole.
    traceRun.stop();
    session.cancelExchanges();
    traceRun.wait();
    std::signal(SIGINT, previousInt);
    std::signal(SIGTERM, previousTerm);
    g_session.store(nullptr);

    csv.stop();
    connection.Disconnect();
    if (m_args.stats) {
        std::lock_guard<std::mutex> lock(mutex);
        std::fputs(CTraceStats::formatFigures(stats.figures()).c_str(), m_out);
    }
    if (lostAtEnd)
        return 1;
    const long failed = polls - good;
    if (failed > 0)
        std::fprintf(m_err, "!! %ld of %ld polls failed\n", failed, polls);
    if (writeFailed || failed > 0)
        return 1;
    return good > 0 ? 0 : 1;
}

int CCliRunner::runReview()
{
    TraceReport report;
    std::string error;
    if (!CTraceReportReader::readFile(m_args.reportPath, report, error)) {
        std::fprintf(m_err, "!! %s: %s\n", terminalText(m_args.reportPath).c_str(),
                     terminalText(error).c_str());
        return 1;
    }
    for (const std::string &note : report.notes)
        std::fprintf(m_err, ">> %s: %s\n", m_args.reportPath.c_str(), note.c_str());
    std::fprintf(m_out,
                 "report for: %s\nserial: %s\nport: %s\nstart time: %s\nsignal: %s\n"
                 "interval ms: %.9g\ncolumn: %s\n",
                 terminalText(report.part).c_str(), terminalText(report.serial).c_str(),
                 terminalText(report.port).c_str(), terminalText(report.startTime).c_str(),
                 terminalText(report.command).c_str(), report.intervalMs,
                 report.tickMode ? "tick" : "time");
    CTraceStats stats;
    for (size_t i = 0; i < report.x.size(); ++i)
        stats.addReportSample(report.tickMode ? -1.0 : report.x[i] * 1000.0, report.values[i]);
    // A report holds good samples only: failed and late polls are not in it.
    std::vector<CTraceStats::Figure> figures;
    for (const CTraceStats::Figure &figure : stats.figures())
        if (figure.first != "failed polls" && figure.first != "late polls")
            figures.push_back(figure);
    std::fputs(CTraceStats::formatFigures(figures).c_str(), m_out);
    bool written = true;
    for (const std::string *path : {&m_args.pngPath, &m_args.svgPath}) {
        if (path->empty())
            continue;
        if (!writeReportPicture(report, *path, m_args.pictureWidth, m_args.pictureHeight,
                                path == &m_args.svgPath, error)) {
            std::fprintf(m_err, "!! %s\n", terminalText(error).c_str());
            written = false;
        }
    }
    return written ? 0 : 1;
}

int CCliRunner::runConfigure()
{
    CSettingsStore store;
    bool stored = store.WriteValue(SettingsKeys::kComport, m_args.port) == CSettingsStore::kOk;
    stored = store.WriteValue(SettingsKeys::kBaud, m_args.baud) == CSettingsStore::kOk && stored;
    for (const auto &[name, control] :
         {std::pair(SettingsKeys::kDtr, m_args.dtr), std::pair(SettingsKeys::kRts, m_args.rts)}) {
        if (control)
            stored =
                store.WriteValue(name, lineControlText(*control)) == CSettingsStore::kOk && stored;
    }
    if (!stored) {
        std::fprintf(m_err, "!! Can not store the settings!\n");
        return 1;
    }
    return 0;
}
