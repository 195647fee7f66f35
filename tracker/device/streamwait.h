#pragma once

#include <chrono>
#include <thread>

// Deadlines of the byte streams, on the monotonic clock.
using StreamClock = std::chrono::steady_clock;

inline StreamClock::time_point deadlineIn(long long ms)
{
    return StreamClock::now() + std::chrono::milliseconds(ms > 0 ? ms : 0);
}

inline int msLeft(StreamClock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - StreamClock::now())
            .count();
    return left > 0 ? static_cast<int>(left) : 0;
}

inline void sleepMs(int ms)
{
    if (ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
