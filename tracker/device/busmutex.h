#pragma once

#include <atomic>
#include <ctime>
#include <string>

// Advisory lock that serialises device exchanges. A waiter polls every
// 10 ms and takes the lock over once the holder has kept it longer than
// the time-out.
class CBusMutex
{
public:
    CBusMutex();

    bool Lock(int timeoutMs, int tag);
    void Unlock();
    // Diagnostic hook for the lock's event texts; does nothing.
    bool Report(const char *text, int tag);

    bool isLocked() const;

private:
    void release();

    std::atomic<bool> m_locked{false};
    std::atomic<int> m_lockCount{0};
    std::atomic<std::time_t> m_lockTime{0}; // when taken; 0 while free
    std::atomic<int> m_heldSeconds{0};
    std::string m_objectName = "Unknown Object";
};
