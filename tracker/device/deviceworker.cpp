#include "deviceworker.h"

#include "devicesession.h"

#include <chrono>

CDeviceWorker::CDeviceWorker(CDeviceSession &session, int watchIntervalMs)
    : m_session(session)
    , m_watchIntervalMs(watchIntervalMs)
{
    m_thread = std::thread(&CDeviceWorker::run, this);
}

CDeviceWorker::~CDeviceWorker()
{
    stop();
}

void CDeviceWorker::post(Job job)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping)
            return;
        m_jobs.push_back(std::move(job));
    }
    m_wake.notify_all();
}

bool CDeviceWorker::isBusy() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_running || !m_jobs.empty();
}

void CDeviceWorker::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        m_jobs.clear();
    }
    m_wake.notify_all();
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id())
        m_thread.join();
}

void CDeviceWorker::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        if (m_stopping)
            return;
        if (m_jobs.empty()) {
            if (!m_wake.wait_for(lock, std::chrono::milliseconds(m_watchIntervalMs),
                                 [this] { return m_stopping || !m_jobs.empty(); })) {
                // Idle: the port opens and closes only on this thread, so
                // the line can be looked at safely here.
                lock.unlock();
                m_session.watchLine();
                lock.lock();
            }
            continue;
        }
        Job job = std::move(m_jobs.front());
        m_jobs.pop_front();
        m_running = true;
        lock.unlock();
        job();
        lock.lock();
        m_running = false;
    }
}
