#pragma once

#include "tracesample.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

class CDeviceSession;
class CTraceCsvWriter;

// One trace run: a worker thread that polls the device with a command at
// a set interval and reports every poll. No widgets; the trace panel and
// the command-line tool both drive it.
//
// The first poll happens one interval after start(); later polls follow
// one interval apart, the sleep shortened by the time the previous poll
// took (see TraceTiming). A good sample is written to the CSV writer (when
// one is given and its log runs) before it is reported.
//
// A failed poll is reported and polling goes on. A lost device (a hang-up,
// CDeviceSession::isLost) is reported once (TraceSample::lost); the run
// then waits, polling nothing, until the device is back (its owner reopens
// the port) or the run is stopped. stop() also ends the exchange under
// way; a poll cut short that way, or by a cancel of the session's
// exchanges, is not reported.
//
// The callbacks run on the worker thread; a window hands them on to its
// own thread. They must not destroy the run.
class CTraceRun
{
public:
    using SampleCallback = std::function<void(const TraceSample &)>;
    using FinishedCallback = std::function<void()>;

    enum StopState
    {
        Running = 0,
        StopRequested = 1,
        Ended = 2
    };

    CTraceRun(CDeviceSession &session, std::string command, double intervalMs, CTraceCsvWriter *csv,
              SampleCallback onSample, FinishedCallback onFinished = {});
    // Aborts the run and waits for the thread.
    ~CTraceRun();
    CTraceRun(const CTraceRun &) = delete;
    CTraceRun &operator=(const CTraceRun &) = delete;

    // Starts the worker thread; false when it already ran.
    bool start();
    // Asks the thread to end at once: a sleep in progress is cut short, the
    // exchange under way ends and no further poll starts.
    void stop();
    // Waits for the thread to end (after stop()).
    void wait();

    // The thread exists and has not ended yet.
    bool isRunning() const;
    StopState stopState() const { return static_cast<StopState>(m_stopRequest.load()); }

    // The interval used from the next turn of the loop on; below 1 ms
    // means 100 ms.
    void setInterval(double intervalMs);
    double interval() const { return m_interval.load(); }
    const std::string &command() const { return m_command; }

    // One poll: exchange, CSV line, parse. Used by the thread; public so a
    // caller can take a single sample without a thread.
    TraceSample PollSample(bool late);

    // The reply's leading number as the C library's atof reads it, but
    // independent of the process locale; 0 when there is none.
    static double parseValue(const std::string &reply);

    // The failed polls in a row, for the message line: since when they
    // fail and how many. A good sample ends the streak.
    class FailureStreak
    {
    public:
        // Counts the sample; returns the note to append to a failure's
        // text, " (failing since HH:MM:SS, N polls)" from the second
        // failure in a row on, else empty.
        std::string add(const TraceSample &sample);
        int count() const { return m_count; }

    private:
        int m_count = 0;
        std::string m_since; // local time of the first failure
    };

private:
    void TraceThread();
    // After a lost sample: waits until the device is back (true) or the
    // run is stopped (false).
    bool waitForReturn();

    CDeviceSession &m_session;
    const std::string m_command;
    CTraceCsvWriter *m_csv;
    SampleCallback m_onSample;
    FinishedCallback m_onFinished;

    std::atomic<double> m_interval;
    std::atomic<int> m_stopRequest{Ended};
    // Set by stop(): ends the exchange under way.
    std::atomic<bool> m_stopExchange{false};
    std::atomic<bool> m_started{false};
    uint64_t m_pollCount = 0; // worker thread only

    std::mutex m_wakeMutex;
    std::condition_variable m_wake;
    std::thread m_thread;
};
