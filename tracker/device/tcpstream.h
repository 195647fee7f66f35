#pragma once

#include "bytestream.h"

#include <string>

// A raw TCP connection to a device server ("tcp://HOST:PORT"): the bytes
// of the serial line, nothing else. The server sets the line; Nagle's
// delay is off. Received bytes pass through received(), where a protocol
// on top of the socket (RFC 2217) takes out what is not line data.
class TcpStream : public ByteStream
{
public:
    // Connecting (name look-up included) gives up after this long.
    static constexpr int kConnectTimeoutMs = 3000;
    // How long a fresh connection is watched for a server that refuses
    // the line by closing at once.
    static constexpr int kSettleMs = 150;
    // How long closing waits for the server to close its side.
    static constexpr int kCloseWaitMs = 500;
    // Received line data held at most; the socket is read no further
    // until the owner takes some.
    static constexpr size_t kMaxBuffered = 64 * 1024;

    TcpStream(std::string host, std::string service);
    ~TcpStream() override;

    int open(const SerialConfig &config) override;
    void close() override;
    bool configure(const SerialConfig &config) override;
    int setModemLines(LineControl dtr, LineControl rts) override;
    bool setsBaudRate() const override { return false; }
    int waiting() override;
    size_t readWaiting(char *buffer, size_t maxCount) override;
    size_t write(const char *buffer, size_t count, int timeoutMs) override;
    bool waitForInput(int timeoutMs) override;
    void purge() override;
    bool checkHungUp() override;

    // Splits "scheme://HOST:PORT" (HOST may be "[v6 address]"); false when
    // the text does not have that form.
    static bool splitAddress(const std::string &text, const std::string &scheme, std::string &host,
                             std::string &service);

protected:
    // After connecting: 0 when the line is ready, else an errno value
    // with m_failure set. The raw stream only watches for a refusal.
    virtual int handshake(const SerialConfig &config);
    // Takes bytes as they came from the socket into m_input.
    virtual void received(const char *data, size_t count);
    // The bytes that carry count bytes of line data.
    virtual std::string encode(const char *data, size_t count);

    // Reads what the socket holds into received(); false once the peer
    // closed or the connection failed (then hung up).
    bool pump();
    // Waits up to timeoutMs for the socket to become readable.
    bool waitSocket(int timeoutMs);
    // Sends all bytes within timeoutMs; false when they did not all go.
    bool sendAll(const char *data, size_t count, int timeoutMs);
    // What the server said before it closed a fresh connection, made
    // printable; the reason the line is refused reads better with it.
    std::string refusalText() const;
    // "HOST:PORT", as messages name the server.
    std::string peerName() const;
    size_t buffered() const { return m_input.size() - m_inputPos; }

    std::string m_host;
    std::string m_service;
    std::atomic<int> m_fd{-1};
    std::string m_input;
    size_t m_inputPos = 0;

private:
    int connectSocket();
};
