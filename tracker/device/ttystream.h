#pragma once

#include "bytestream.h"

// A local serial port: a terminal device opened non-blocking, locked
// against a second user, set up through termios.
class TtyStream : public ByteStream
{
public:
    ~TtyStream() override;

    int open(const SerialConfig &config) override;
    void close() override;
    bool configure(const SerialConfig &config) override;
    int setModemLines(LineControl dtr, LineControl rts) override;
    int waiting() override;
    size_t readWaiting(char *buffer, size_t maxCount) override;
    size_t write(const char *buffer, size_t count, int timeoutMs) override;
    bool waitForInput(int timeoutMs) override;
    void purge() override;
    bool checkHungUp() override;

    // The device path a port text names ("3" -> "/dev/ttyS2"); empty when
    // the text names no port.
    static std::string devicePath(const std::string &port);

private:
    // Notes an error of a read, write or query; EIO and ENXIO mean the
    // line is gone.
    void noteError(int error);

    int m_fd = -1;
};
