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
// A lost device (CDeviceSession::isLost) ends the run: its last sample
// says so (TraceSample::lost), then the finished callback follows.
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
    // Asks the thread to end at once: a sleep in progress is cut short and
    // no further poll starts; a poll under way completes and is reported.
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

private:
    void TraceThread();

    CDeviceSession &m_session;
    const std::string m_command;
    CTraceCsvWriter *m_csv;
    SampleCallback m_onSample;
    FinishedCallback m_onFinished;

    std::atomic<double> m_interval;
    std::atomic<int> m_stopRequest{Ended};
    std::atomic<bool> m_started{false};
    uint64_t m_pollCount = 0; // worker thread only

    std::mutex m_wakeMutex;
    std::condition_variable m_wake;
    std::thread m_thread;
};
