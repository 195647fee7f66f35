#pragma once

#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <thread>

// Advisory lock that serialises device exchanges, handed over fairly:
// callers are served in the order they asked, so a waiting caller always
// gets the lock before its holder can take it again. A waiter first in
// line takes the lock over once the holder has kept it longer than the
// time-out (measured in whole calendar seconds); the holder that was
// taken over no longer holds it (holdsLock() turns false) and its Unlock
// leaves the lock to the one that took it.
class CBusMutex
{
public:
    CBusMutex();

    // True when the caller now holds the lock, also after taking it over.
    bool Lock(int timeoutMs, int tag);
    void Unlock();

    bool isLocked() const;
    // Callers of Lock that wait for their turn.
    int waiting() const;
    // The calling thread holds the lock and has not been taken over.
    bool holdsLock() const;

private:
    mutable std::mutex m_state;
    std::condition_variable m_turn;
    uint64_t m_nextTicket = 0; // handed to the next caller of Lock
    uint64_t m_nowServing = 0; // the ticket whose turn it is
    bool m_locked = false;
    std::time_t m_lockTime = 0;
    std::thread::id m_holder;
};
