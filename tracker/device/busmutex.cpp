#include "busmutex.h"

#include "pseudorandom.h"

#include <algorithm>
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
            // Finding the lock free and taking it, stamped with the time,
            // is one step; a lock time of 0 means free. A waiter therefore
            // never measures against the time of an earlier holder.
            const std::time_t now = std::max<std::time_t>(std::time(nullptr), 1);
            std::time_t since = 0;
            if (m_lockTime.compare_exchange_strong(since, now)) {
                m_locked = true;
                break;
            }
            const long long held = static_cast<long long>(now - since);
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

        if (++m_lockCount == 1)
            return true;

        // Two callers registered at the same moment: back off for a random
        // while and give up this registration.
        const int pauseMs = static_cast<int>(pseudoRandom32767() / 32767.0 * 1000.0);
        std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
        Report("Multiple locked mutex object -> Continue wait for lock!", tag);
        if (--m_lockCount <= 0)
            release();
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
    release();
}

void CBusMutex::release()
{
    m_locked = false;
    m_lockTime = 0;
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
