#include "busmutex.h"

#include "pseudorandom.h"

#include <chrono>
#include <thread>

namespace {

constexpr int kPollMs = 10;

} // namespace

CBusMutex::CBusMutex() = default;

bool CBusMutex::Lock(int timeoutMs, int tag)
{
    try {
        for (;;) {
            // Testing the mark and taking the lock is one step.
            bool expected = false;
            if (m_locked.compare_exchange_strong(expected, true))
                break;
            const std::time_t now = std::time(nullptr);
            const long long held = static_cast<long long>(now - m_lockTime.load());
            m_heldSeconds = static_cast<int>(held);
            if (held * 1000 > static_cast<long long>(timeoutMs)) {
                // The holder is taking too long: take the lock over as it
                // stands (its time and count stay).
                m_locked = true;
                Report("Timeout in Lock", 0);
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
        }

        m_lockTime = std::time(nullptr);
        if (++m_lockCount == 1)
            return true;

        // Two callers registered at the same moment: back off for a random
        // while and give up this registration.
        const int pauseMs = static_cast<int>(pseudoRandom32767() / 32767.0 * 1000.0);
        std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
        Report("Multiple locked mutex object -> Continue wait for lock!", tag);
        if (--m_lockCount <= 0)
            m_locked = false;
        return false;
    } catch (...) {
        return m_locked;
    }
}

void CBusMutex::Unlock()
{
    if (!m_locked)
        Report("Unlock object but never locked!", 0);
    else
        --m_lockCount;
    if (m_lockCount > 0)
        Report("Unlock but other object still locked!", 0);
    m_lockCount = 0;
    m_locked = false;
}

bool CBusMutex::Report(const char *text, int tag)
{
    (void)text;
    (void)tag;
    return true;
}

bool CBusMutex::isLocked() const
{
    return m_locked;
}
