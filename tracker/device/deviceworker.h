#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class CDeviceSession;

// The one thread on which a window runs its device exchanges (connect,
// identification, command list, console sends, disconnect), one job after
// the other in the order posted, so the window's own thread never waits on
// the device. While idle it watches the open line for a hang-up
// (CDeviceSession::watchLine). Jobs report back by whatever means they
// carry (a queued call into the window); the worker knows no window.
class CDeviceWorker
{
public:
    using Job = std::function<void()>;

    explicit CDeviceWorker(CDeviceSession &session, int watchIntervalMs = 100);
    // stop(): the job under way ends, waiting ones are dropped.
    ~CDeviceWorker();
    CDeviceWorker(const CDeviceWorker &) = delete;
    CDeviceWorker &operator=(const CDeviceWorker &) = delete;

    // Queues a job; ignored after stop().
    void post(Job job);
    // A job runs or waits.
    bool isBusy() const;
    // Waits for the job under way, drops the others and ends the thread.
    void stop();

private:
    void run();

    CDeviceSession &m_session;
    const int m_watchIntervalMs;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Job> m_jobs;
    bool m_running = false; // a job is under way
    bool m_stopping = false;
    std::thread m_thread;
};
