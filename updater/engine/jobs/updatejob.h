#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

class IJobReport;
class IPrompt;

// A long job of the update library (download or restore) on a worker
// thread of its own: start, cancel, wait. The job reports lines and
// progress through an IJobReport and ends with IJobReport::finished().
//
// Cancelling sets an atomic flag that the job checks between files and
// during transfers; the job then ends soon with its files in a sound
// state, it is never killed. A derived class runs in run() and must call
// stopWorker() in its own destructor.
class CUpdateJob
{
public:
    explicit CUpdateJob(IJobReport &report);
    virtual ~CUpdateJob();

    CUpdateJob(const CUpdateJob &) = delete;
    CUpdateJob &operator=(const CUpdateJob &) = delete;

    // Starts the worker. False when a worker of this job runs already or
    // has run (a job runs once) or the thread cannot be created.
    bool start();
    // Asks the worker to stop; returns at once.
    void cancel();
    // Blocks until the worker has ended (at once when none was started).
    void wait();
    // True from start() until the worker has reported finished().
    bool isRunning() const;
    bool isCancelled() const;

    // The end-of-run question of both jobs, asked on the user-interface
    // thread once the job has finished: whether to start the program
    // (program folder, "/", programName) again. Nothing is asked, and false
    // returned, when programName is at most one character long.
    static bool askStartProgram(IPrompt &prompt, const std::string &programName);
    static std::string endOfRunQuestion(const std::string &programName);

protected:
    // The worker body. Runs on the worker thread.
    virtual void run() = 0;
    // Cancels and joins; for the destructors of derived classes.
    void stopWorker();

    IJobReport &m_report;
    std::atomic<bool> m_cancel{false};

private:
    void workerMain();

    std::mutex m_threadMutex;
    std::thread m_thread;
    std::atomic<bool> m_running{false};
    bool m_started = false;
};
