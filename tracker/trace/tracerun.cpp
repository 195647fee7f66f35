#include "tracerun.h"

#include "cnumber.h"
#include "devicesession.h"
#include "settingsdefaults.h"
#include "tracecsvwriter.h"
#include "tracetiming.h"

#include <chrono>
#include <ctime>
#include <sys/prctl.h>

CTraceRun::CTraceRun(CDeviceSession &session, std::string command, double intervalMs,
                     CTraceCsvWriter *csv, SampleCallback onSample, FinishedCallback onFinished)
    : m_session(session)
    , m_command(std::move(command))
    , m_csv(csv)
    , m_onSample(std::move(onSample))
    , m_onFinished(std::move(onFinished))
    , m_interval(SettingsDefaults::usableInterval(intervalMs))
{
}

CTraceRun::~CTraceRun()
{
    stop();
    wait();
}

bool CTraceRun::start()
{
    bool expected = false;
    if (!m_started.compare_exchange_strong(expected, true))
        return false;
    m_stopRequest = Running;
    m_thread = std::thread(&CTraceRun::TraceThread, this);
    return true;
}

void CTraceRun::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_wakeMutex);
        int running = Running;
        m_stopRequest.compare_exchange_strong(running, StopRequested);
        m_stopExchange = true;
    }
    m_wake.notify_all();
}

void CTraceRun::wait()
{
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id())
        m_thread.join();
}

bool CTraceRun::isRunning() const
{
    return m_started.load() && m_stopRequest.load() != Ended;
}

void CTraceRun::setInterval(double intervalMs)
{
    m_interval = SettingsDefaults::usableInterval(intervalMs);
}

void CTraceRun::TraceThread()
{
    using Clock = std::chrono::steady_clock;
    using Ms = std::chrono::duration<double, std::milli>;
    // Short intervals need the sleep to end on time, not up to the
    // default 50 us timer slack later.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    // Back to back, so the first poll counts as taking no time.
    Clock::time_point stampA = Clock::now();
    Clock::time_point stampB = stampA;
    for (;;) {
        const TraceTiming timing =
            TraceTiming::next(m_interval.load(), Ms(stampB - stampA).count());
        {
            std::unique_lock<std::mutex> lock(m_wakeMutex);
            const auto wakeAt =
                stampB + std::chrono::duration_cast<Clock::duration>(Ms(timing.sleepMs));
            if (m_wake.wait_until(lock, wakeAt, [this] { return m_stopRequest.load() != Running; }))
                break;
        }
        stampA = Clock::now();
        TraceSample sample = PollSample(timing.late);
        // A poll cut short by a stop or a cancel tells nothing of the device.
        if (!sample.ok && (m_stopRequest.load() != Running || m_session.isCancelled()))
            break;
        if (m_onSample)
            m_onSample(sample);
        if (sample.lost && !waitForReturn())
            break;
        stampB = Clock::now();
    }
    m_stopRequest = Ended;
    if (m_onFinished)
        m_onFinished();
}

bool CTraceRun::waitForReturn()
{
    // The owner reopens the port; nothing is polled until it has.
    constexpr auto kLook = std::chrono::milliseconds(50);
    std::unique_lock<std::mutex> lock(m_wakeMutex);
    while (m_session.isLost()) {
        if (m_wake.wait_for(lock, kLook, [this] { return m_stopRequest.load() != Running; }))
            return false;
    }
    return true;
}

std::string CTraceRun::FailureStreak::add(const TraceSample &sample)
{
    if (sample.ok) {
        m_count = 0;
        return std::string();
    }
    if (m_count++ == 0) {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        char text[16];
        std::strftime(text, sizeof text, "%H:%M:%S", &local);
        m_since = text;
        return std::string();
    }
    return " (failing since " + m_since + ", " + std::to_string(m_count) + " polls)";
}

TraceSample CTraceRun::PollSample(bool late)
{
    TraceSample sample;
    sample.late = late;
    sample.command = m_command;
    sample.index = m_pollCount++;
    std::string echo;
    using Ms = std::chrono::duration<double, std::milli>;
    const auto begin = std::chrono::steady_clock::now();
    const int result =
        m_session.Transact(m_command, echo, sample.reply, 1, nullptr, &m_stopExchange);
    sample.startMs = Ms(begin.time_since_epoch()).count();
    sample.exchangeMs = Ms(std::chrono::steady_clock::now() - begin).count();
    if (result < 0 || m_command.empty() || sample.reply.empty()) {
        sample.ok = false;
        if (result < 0 && m_session.isLost()) {
            sample.lost = true;
            sample.reply = m_session.lossText();
        }
        return sample;
    }
    sample.ok = true;
    if (m_csv && !m_csv->appendSample(sample.reply)) {
        sample.writeFailed = true;
        sample.filePath = m_csv->path();
    }
    sample.value = parseValue(sample.reply);
    return sample;
}

double CTraceRun::parseValue(const std::string &reply)
{
    return atofC(reply);
}
