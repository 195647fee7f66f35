#pragma once

#include "busmutex.h"
#include "serialconfig.h"
#include "serialport.h"

#include <atomic>
#include <functional>
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
    // The longest an exchange or the help listing may take in all,
    // however the device drips its bytes.
    static constexpr long long kMaxExchangeMs = 10000;

    // Why the device counts as lost. Only a hang-up loses it: a silent,
    // flooding or garbling device gives failed exchanges, nothing more.
    enum class Loss
    {
        None,
        HungUp // the line hung up (EIO or POLLHUP, the node gone, the peer closed)
    };
    // Called once when the device becomes lost, on the thread that
    // noticed it (an exchange's or the line watch's).
    using LossCallback = std::function<void(Loss)>;

    CDeviceSession();

    CSerialPort &port() { return m_port; }
    // The configuration the connection fills in; its separator byte and
    // read time-out are read at each exchange.
    SerialConfig &config() { return m_config; }

    // Opens the port (Open) and starts afresh: the device is not lost.
    int openPort(const SerialConfig &config);
    // After a loss: closes the port, opens it again with the same
    // configuration and asks the revision ("SSV"), all under one take of
    // the bus lock. The device is back (not lost) only when it answered;
    // else the port is closed again. True when back.
    bool reopenPort();
    // Closes the port under the bus lock, after the exchange under way.
    int closePort();
    // Ends the exchange under way and every later one at once (result -1,
    // reply "Timeout!") until resumeExchanges.
    void cancelExchanges();
    void resumeExchanges();
    bool isCancelled() const { return m_cancelled.load(); }

    Loss loss() const { return m_loss.load(); }
    bool isLost() const { return m_loss.load() != Loss::None; }
    // What the user reads: "ORBO lost: ..." naming the cause; empty when
    // the device is not lost.
    std::string lossText() const { return lossText(m_loss.load()); }
    static std::string lossText(Loss loss);
    // Set before any thread exchanges.
    void setLossCallback(LossCallback callback);
    // Looks at the idle line; a hang-up makes the device lost. True when lost.
    bool watchLine();

    double fullScale() const;
    void setFullScale(double value);

    // One command/answer exchange under the bus lock. Returns -1 (no echo
    // or time-out, reply "Timeout!"), -2 (reply beginning with "Can"), 16
    // in simulated mode, or the reply's length (2014 when cut off by a
    // full buffer). A command too long for the exchange buffer is refused
    // with -1 and the reply kCommandTooLong. An exchange whose lock was
    // taken over by a waiter stops touching the port and ends as a
    // time-out. Every exchange ends within exchangeBoundMs in all.
    int Transact(std::string command, std::string &echo, std::string &reply);
    // The same, but a failed exchange is tried again, up to `attempts`
    // exchanges in all, under one take of the bus lock, so a caller
    // waiting for the lock (the trace) cannot slip in between a try and
    // its retry. `made` receives the number of exchanges run. A set `stop`
    // ends the exchange under way (and any retry) as cancelExchanges does,
    // for this caller alone.
    int Transact(std::string command, std::string &echo, std::string &reply, int attempts,
                 int *made, const std::atomic<bool> *stop = nullptr);

    // The total bound of one exchange: the read time-out plus the time a
    // full exchange buffer takes at the line's rate, at most kMaxExchangeMs.
    static long long exchangeBoundMs(const SerialConfig &config);

    // Sends "HLP" outside the lock and collects the listing until the
    // device has been silent longer than the read time-out, kMaxListing
    // bytes have come or kMaxExchangeMs have passed; returns the
    // command-list entries ("Simulation mode" alone in simulated mode).
    // cut, when given, tells whether the listing reached kMaxListing.
    std::vector<std::string> LoadCommandList(bool *cut = nullptr);

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
    // How one exchange ended besides its result.
    enum class End
    {
        Answered, // an answer came (good, "Can" or cut off)
        TimedOut, // the device stayed silent for the read time-out
        Abandoned // hung up, cancelled or taken over: nothing to count
    };
    int exchange(const std::string &command, std::string &echo, std::string &reply, bool &simulated,
                 End &end, const std::atomic<bool> *stop);
    void markLost(Loss loss);

    CSerialPort m_port;
    SerialConfig m_config;
    CBusMutex m_mutex;
    std::atomic<double> m_fullScale{0.0};
    std::atomic<Loss> m_loss{Loss::None};
    std::atomic<bool> m_cancelled{false};
    LossCallback m_onLoss;
};
