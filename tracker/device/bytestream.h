#pragma once

#include "serialconfig.h"

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>

// The byte stream under the device link: a local terminal device, a raw
// TCP connection to a device server, or an RFC 2217 session. Which one is
// chosen once, from the port text, by makeByteStream; everything above
// reads and writes bytes without knowing which. Not locked: the owner
// serialises its use.
class ByteStream
{
public:
    virtual ~ByteStream();

    // Opens the link the port text of config names. 0 when open, else an
    // errno value; failure() then tells the reason as a user reads it.
    virtual int open(const SerialConfig &config) = 0;
    virtual void close() = 0;
    // Applies rate, data bits, parity and stop bits; false when refused.
    virtual bool configure(const SerialConfig &config) = 0;
    // Asserts or releases DTR and RTS; Unchanged leaves a line alone.
    // 0, or an errno value when the link refused to set them.
    virtual int setModemLines(LineControl dtr, LineControl rts) = 0;
    // True when the link itself sets the line's baud rate (so a search
    // through the rates means something); a raw network port runs at the
    // server's rate.
    virtual bool setsBaudRate() const { return true; }
    // True when a search through the rates sets each one on the open
    // link (configure, confirmed by the other side) instead of opening it
    // again: a network server may take seconds to accept the next session.
    virtual bool changesRateInSession() const { return false; }

    // Bytes that can be read right now.
    virtual int waiting() = 0;
    // Reads up to maxCount bytes that are already waiting; 0 when none.
    virtual size_t readWaiting(char *buffer, size_t maxCount) = 0;
    // Writes the whole block within timeoutMs: the count written, 0 when
    // the time ran out first.
    virtual size_t write(const char *buffer, size_t count, int timeoutMs) = 0;
    // Blocks until input is waiting or timeoutMs has passed; true when
    // input is waiting. A hung-up link returns false at once.
    virtual bool waitForInput(int timeoutMs) = 0;
    // Throws away what waits to be read and what waits to be sent.
    virtual void purge() = 0;
    // Looks at the link without reading; true when it hung up.
    virtual bool checkHungUp() = 0;

    bool isHungUp() const { return m_hungUp.load(); }
    int lastError() const { return m_lastError.load(); }
    // Why open failed, as the user reads it; empty after a good open.
    const std::string &failure() const { return m_failure; }

    // The stream for a port text: "tcp://HOST:PORT", "rfc2217://HOST:PORT",
    // else a local port (a COM number or a device path).
    static std::unique_ptr<ByteStream> make(const std::string &port);

protected:
    std::atomic<bool> m_hungUp{false};
    std::atomic<int> m_lastError{0};
    std::string m_failure;
};
