#pragma once

#include "busmutex.h"
#include "serialconfig.h"
#include "serialport.h"

#include <atomic>
#include <string>
#include <vector>

// One owner for the device: the port, its configuration, the exchange
// buffer, the full-scale value and the bus lock. The main window, the
// trace thread and the command-line tool all exchange through Transact.
class CDeviceSession
{
public:
    static constexpr int kExchangeBufferSize = 2016;
    static constexpr int kMaxCollected = 2014;
    // The most of a help listing that is collected; a device that never
    // falls silent must not keep the connection waiting for ever.
    static constexpr size_t kMaxListing = 256 * 1024;
    static const char *const kCommandTooLong;
    static const char *const kTimeoutText;

    CDeviceSession();

    CSerialPort &port() { return m_port; }
    // The configuration the connection fills in; its separator byte and
    // read time-out are read at each exchange.
    SerialConfig &config() { return m_config; }

    double fullScale() const;
    void setFullScale(double value);

    // One command/answer exchange under the bus lock. Returns -1 (no echo
    // or time-out, reply "Timeout!"), -2 (reply beginning with "Can"), 16
    // in simulated mode, or the reply's length (2014 when cut off by a
    // full buffer). A command too long for the exchange buffer is refused
    // with -1 and the reply kCommandTooLong. An exchange whose lock was
    // taken over by a waiter stops touching the port and ends as a
    // time-out.
    int Transact(std::string command, std::string &echo, std::string &reply);
    // The same, but a failed exchange is tried again, up to `attempts`
    // exchanges in all, under one take of the bus lock, so a caller
    // waiting for the lock (the trace) cannot slip in between a try and
    // its retry. `made` receives the number of exchanges run.
    int Transact(std::string command, std::string &echo, std::string &reply, int attempts,
                 int *made);

    // Sends "HLP" outside the lock and collects the listing until the
    // device has been silent longer than the read time-out; returns the
    // command-list entries ("Simulation mode" alone in simulated mode).
    std::vector<std::string> LoadCommandList();

    // The reply a simulated device gives to a (trimmed) command.
    std::string simulatedReply(const std::string &command) const;

private:
    // Next received byte, taken from a small read-ahead that is refilled
    // with whatever is waiting; false when nothing is waiting.
    struct ReadAhead
    {
        char data[256] = {};
        size_t next = 0;
        size_t size = 0;
    };
    bool nextByte(ReadAhead &ahead, char &byte);
    // One exchange; the caller holds the bus lock.
    int exchange(const std::string &command, std::string &echo, std::string &reply,
                 bool &simulated);

    CSerialPort m_port;
    SerialConfig m_config;
    CBusMutex m_mutex;
    std::atomic<double> m_fullScale{0.0};
};
