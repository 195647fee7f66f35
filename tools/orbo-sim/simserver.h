#pragma once

#include "orbodevice.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <string>

// The simulator's terminal side: a pseudo-terminal pair whose slave end is
// the "serial port" a client opens. Commands arrive on the master end and
// the device's answers go back the same way. One poll loop, no threads.
class SimServer
{
public:
    struct Options
    {
        uint32_t baud = 0;     // 0: answer at any speed
        bool boot = false;     // boot state: HLP stays silent
        bool silent = false;   // answer nothing at all
        int delayMs = 0;       // pause before each reply line
        bool lineRate = false; // pace output at the terminal's speed
        uint32_t seed = 1;
        bool verbose = false;  // log commands to stderr
        long hangUpAfter = 0;  // > 0: hang up on receiving this command
        long silentAfter = -1; // >= 0: answer no command after this many
        long silentMs = 0;     // > 0: the silence after silentAfter lasts this long
        int dripMs = 0;        // > 0: a silent device drips a byte this often
    };

    explicit SimServer(const Options &options);
    ~SimServer();
    SimServer(const SimServer &) = delete;
    SimServer &operator=(const SimServer &) = delete;

    // Opens the pseudo-terminal pair; false with errorText() on failure.
    bool open();
    const std::string &slavePath() const { return m_slavePath; }
    const std::string &errorText() const { return m_error; }

    // Serves until a byte arrives on stopFd (or it closes), or until the
    // command that hangUpAfter names. Returns false when the terminal failed.
    bool run(int stopFd);

    // Bits per second of a termios speed constant; 0 when unknown.
    static uint32_t speedValue(unsigned speed);

private:
    using Clock = std::chrono::steady_clock;

    struct Chunk
    {
        Clock::time_point notBefore;
        std::string bytes;
    };

    uint32_t currentSpeed() const;
    void receive();
    void handleLine(const std::string &line);
    // Whether the command just received goes unanswered.
    bool staysSilent();
    // Sends the drip's byte when due; returns when the next one is due.
    Clock::time_point drip();
    // Writes what is due; returns the time the next byte is due, or
    // Clock::time_point::max() when the queue is empty or waiting for
    // the master end to drain.
    Clock::time_point send();

    Options m_options;
    OrboDevice m_device;
    int m_master = -1;
    int m_slave = -1;
    std::string m_slavePath;
    std::string m_error;
    std::string m_line;
    std::deque<Chunk> m_queue;
    bool m_blocked = false; // master end full: wait for POLLOUT
    Clock::time_point m_start;
    Clock::time_point m_nextByte; // line-rate pacing
    bool m_failed = false;
    bool m_hangUp = false;
    long m_received = 0; // commands received
    bool m_silenced = false;
    Clock::time_point m_silentSince;
    bool m_dripping = false;
    Clock::time_point m_nextDrip;
};
