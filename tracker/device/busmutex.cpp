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
    try {
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
                ++m_lockCount;
                m_holder = std::this_thread::get_id();
                ++m_nowServing;
                m_turn.notify_all();
                return true;
            }
            const long long held = static_cast<long long>(now - m_lockTime);
            m_heldSeconds = static_cast<int>(held);
            if (held * 1000 > static_cast<long long>(timeoutMs)) {
                // The holder is taking too long: take the lock over. Its
                // time restarts, so the next in line waits its own turn.
                m_holder = std::this_thread::get_id();
                m_lockTime = now;
                ++m_nowServing;
                m_turn.notify_all();
                lock.unlock();
                Report("Timeout in Lock", 0);
                return true;
            }
            m_turn.wait_for(lock, kTakeOverCheck);
        }
    } catch (...) {
        return false;
    }
}

void CBusMutex::Unlock()
{
    std::unique_lock<std::mutex> lock(m_state);
    if (!m_locked) {
        lock.unlock();
        Report("Unlock object but never locked!", 0);
        return;
    }
    if (m_holder != std::this_thread::get_id()) {
        // This caller was taken over: the lock stays with the one that
        // took it.
        lock.unlock();
        Report("Unlock but other object still locked!", 0);
        return;
    }
    m_lockCount = 0;
    m_locked = false;
    m_lockTime = 0;
    m_holder = std::thread::id();
    m_turn.notify_all();
}

bool CBusMutex::Report(const char *text, int tag)
{
    (void)text;
    (void)tag;
    return true;
}

bool CBusMutex::isLocked() const
{
    std::lock_guard<std::mutex> lock(m_state);
    return m_locked;
}

bool CBusMutex::holdsLock() const
{
    std::lock_guard<std::mutex> lock(m_state);
    return m_locked && m_holder == std::this_thread::get_id();
}
