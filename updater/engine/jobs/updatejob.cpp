#include "updatejob.h"

#include "jobreport.h"
#include "messagetexts.h"
#include "prompt.h"

#include <system_error>

CUpdateJob::CUpdateJob(IJobReport &report)
    : m_report(report)
{
}

CUpdateJob::~CUpdateJob()
{
    stopWorker();
}

bool CUpdateJob::start()
{
    std::lock_guard<std::mutex> lock(m_threadMutex);
    if (m_started)
        return false;
    m_running = true;
    try {
        m_thread = std::thread(&CUpdateJob::workerMain, this);
    } catch (const std::system_error &) {
        m_running = false;
        return false;
    }
    m_started = true;
    return true;
}

void CUpdateJob::cancel()
{
    m_cancel = true;
}

void CUpdateJob::wait()
{
    std::lock_guard<std::mutex> lock(m_threadMutex);
    if (m_thread.joinable())
        m_thread.join();
}

bool CUpdateJob::isRunning() const
{
    return m_running;
}

bool CUpdateJob::isCancelled() const
{
    return m_cancel;
}

void CUpdateJob::stopWorker()
{
    cancel();
    wait();
}

bool CUpdateJob::askStartProgram(IPrompt &prompt, const std::string &programName)
{
    if (programName.size() <= 1)
        return false;
    return prompt.message(endOfRunQuestion(programName), std::string(), IPrompt::Buttons::YesNo,
                          IPrompt::Icon::Question)
        == IPrompt::Answer::Yes;
}

std::string CUpdateJob::endOfRunQuestion(const std::string &programName)
{
    return std::string(" End of software update!\n") + kRuleLine + "\n" + "\n"
        + " Do you want to start the new released programm ?\n" + "\n" + " Press <yes> to start "
        + programName + "\n";
}

void CUpdateJob::workerMain()
{
    try {
        run();
    } catch (...) {
        // The job's own steps report failures as lines; anything thrown
        // beyond them must not take the process down with the thread.
    }
    m_running = false;
    m_report.finished();
}
