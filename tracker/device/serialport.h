#pragma once

#include "serialconfig.h"

#include <cstdint>
#include <string>

// The program's only access to the device: a byte stream chosen from the
// port text (a terminal device opened non-blocking, "tcp://HOST:PORT" or
// "rfc2217://HOST:PORT"), or a simulated link that touches no hardware.
// The object has no lock of its own; callers serialise their use.
class CSerialPort
{
public:
    CSerialPort();
    ~CSerialPort();
    CSerialPort(const CSerialPort &) = delete;
    CSerialPort &operator=(const CSerialPort &) = delete;

    // 1 = open (also when it already was, and in simulated mode); -1 = failed.
    int Open(const SerialConfig &config);
    // 1 = applied; -1 = refused or the driver failed.
    int Configure(const SerialConfig &config);
    // 1 = closed; -1 = was not open.
    int Close();
    // Bytes that were waiting and were discarded; 0 in simulated mode; -1 not open.
    int DrainInput();
    // Reads exactly count bytes when that many are waiting, else nothing: 0.
    uint32_t ReadAvailable(char *buffer, uint32_t count);
    // Bytes written (plus the terminator), 0 on a write time-out, -1 not open
    // or a negative count.
    int Write(const char *buffer, int count);

    // Reads up to maxCount bytes that are already waiting, without waiting
    // for more; returns the count read (0 when none, closed or simulated).
    uint32_t readWaiting(char *buffer, uint32_t maxCount);
    // Bytes waiting in the input queue right now (0 when closed, simulated
    // or unreadable).
    int bytesWaiting();
    // Blocks until at least one byte is waiting or timeoutMs has passed;
    // true when input is waiting. A closed, simulated or hung-up link just
    // lets the time pass.
    bool waitForInput(int timeoutMs);

    // The device hung up the line (the far end closed, a USB adapter was
    // pulled, the server dropped the connection): reads fail with EIO or
    // poll reports POLLHUP/POLLERR. Set by any operation that meets it,
    // cleared by Open; false while closed or simulated.
    bool isHungUp() const;
    // Looks at the line without reading or waiting; true when it hung up.
    bool checkHungUp();

    // Why the last Open failed (an errno value; 0 after a good Open), and
    // the reason as a user reads it (busy, no such device, no permission).
    int openError() const;
    static std::string openErrorText(int error);
    // The reason the last Open failed as the user reads it: the network
    // stream's own words (refused, unreachable, the server holds the
    // line), else openErrorText(openError()).
    std::string openFailure() const;
    // True unless the open link runs at a rate it cannot set (a raw
    // network port runs at the server's rate).
    bool setsBaudRate() const;
    // True when the open link takes a new rate in the same session (an
    // RFC 2217 session) rather than being opened again for it.
    bool changesRateInSession() const;

    bool isOpen() const;
    bool isSimulated() const;
    // Set by the owner only while the port is closed.
    void setSimulated(bool simulated);
    const SerialConfig &config() const;

    // The device path a port text names ("3" -> "/dev/ttyS2"); empty when
    // the text names no port.
    static std::string devicePath(const std::string &port);

private:
    struct Impl;
    Impl *m_d;
};
