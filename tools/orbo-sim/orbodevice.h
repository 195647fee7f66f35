#pragma once

#include <cstdint>
#include <random>
#include <string>

// The device side of the ORBO protocol, without any I/O: what the device
// sends back for one received command line.
class OrboDevice
{
public:
    // What goes out for one command: the echo block at once, the rest
    // (reply line or help listing) after the configured reply delay.
    struct Answer
    {
        std::string echo;
        std::string reply;
    };

    OrboDevice(uint32_t seed, bool bootState);

    // command: one received line without its line end; seconds: time since
    // the simulator started (drives the drifting reading).
    Answer answer(const std::string &command, double seconds);

    // The pressure reading at a point in time, "1.234E-3" style.
    std::string pressure(double seconds);

    // The help listing, one "CMD: text" line each, CR LF terminated.
    static std::string helpListing();

private:
    std::string reply(const std::string &command, double seconds);

    std::mt19937 m_random;
    std::normal_distribution<double> m_noise{0.0, 1.0};
    bool m_bootState;
};
