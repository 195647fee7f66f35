#include "busmutex.h"

#include <chrono>

namespace {

// How often the caller first in line looks whether the holder has kept
// the lock too long; a release wakes it at once.
constexpr auto kTakeOverCheck = std::chrono::milliseconds(50);

} // namespace

CBusMutex::CBusMutex() = default;

bool CBusMutex::Lock(int timeoutMs, int tag)
{
    (void)tag;
    std::unique_lock<std::mutex> lock(m_state);
    const uint64_t ticket = m_nextTicket++;
    for (;;) {
        if (ticket != m_nowServing) {
            m_turn.wait(lock);
            continue;
        }
        const std::time_t now = std::time(nullptr);
        if (!m_locked) {
            m_locked = true;
            m_lockTime = now;
            m_holder = std::this_thread::get_id();
            ++m_nowServing;
            m_turn.notify_all();
            return true;
        }
        const long long held = static_cast<long long>(now - m_lockTime);
        if (held * 1000 > static_cast<long long>(timeoutMs)) {
            // The holder is taking too long: take the lock over. Its time
            // restarts, so the next in line waits its own turn.
            m_holder = std::this_thread::get_id();
            m_lockTime = now;
            ++m_nowServing;
            m_turn.notify_all();
            return true;
        }
        m_turn.wait_for(lock, kTakeOverCheck);
    }
}

void CBusMutex::Unlock()
{
    std::lock_guard<std::mutex> lock(m_state);
    // Never locked, or this caller was taken over: the lock stays as it is.
    if (!m_locked || m_holder != std::this_thread::get_id())
        return;
    m_locked = false;
    m_lockTime = 0;
    m_holder = std::thread::id();
    m_turn.notify_all();
}

bool CBusMutex::isLocked() const
{
    std::lock_guard<std::mutex> lock(m_state);
    return m_locked;
}

int CBusMutex::waiting() const
{
    std::lock_guard<std::mutex> lock(m_state);
    return static_cast<int>(m_nextTicket - m_nowServing);
}

bool CBusMutex::holdsLock() const
{
    std::lock_guard<std::mutex> lock(m_state);
    return m_locked && m_holder == std::this_thread::get_id();
}
