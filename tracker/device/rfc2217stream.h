#pragma once

#include "tcpstream.h"

#include <cstdint>
#include <string>

// An RFC 2217 session ("rfc2217://HOST:PORT"): Telnet with the
// COM-PORT-OPTION, through which the line's rate, format and modem lines
// are set on the server. Option negotiation follows RFC 1143 (a request
// already made is never repeated, so two sides asking at once agree),
// data bytes 255 travel doubled both ways, and all option traffic is
// bounded: a server that never agrees, or floods options or garbage, ends
// the open (or, later, the line) instead of holding it.
class Rfc2217Stream : public TcpStream
{
public:
    // The negotiation at open, and the answer to each line setting, is
    // waited for this long at most.
    static constexpr int kNegotiateTimeoutMs = 3000;
    // After a new rate in a running session, the server's answer to
    // PURGE-DATA is waited for this long at most.
    static constexpr int kPurgeAnswerMs = 500;
    // Option commands taken in a row without line data between them; a
    // peer that sends more is flooding.
    static constexpr int kMaxOptionRun = 200;
    // Bytes of one subnegotiation kept at most.
    static constexpr size_t kMaxSubnegotiation = 64;

    using TcpStream::TcpStream;

    bool configure(const SerialConfig &config) override;
    int setModemLines(LineControl dtr, LineControl rts) override;
    bool setsBaudRate() const override { return true; }
    bool changesRateInSession() const override { return true; }
    void purge() override;

    // The last modem and line state the server notified (RFC 2217 bits).
    uint8_t modemState() const { return m_modemState; }
    uint8_t lineState() const { return m_lineState; }

protected:
    int handshake(const SerialConfig &config) override;
    void received(const char *data, size_t count) override;
    std::string encode(const char *data, size_t count) override;

private:
    enum class State : uint8_t
    {
        Data,
        Command,       // after IAC
        Option,        // after IAC and WILL, WONT, DO or DONT
        Sub,           // inside IAC SB ... IAC SE
        SubCommand,    // IAC inside a subnegotiation
        CarriageReturn // CR from a peer that does not send binary
    };
    // One side of an option as RFC 1143 keeps it: enabled, or asked for
    // and not yet answered.
    struct Side
    {
        bool enabled = false;
        bool asked = false;
        bool refused = false;
    };

    void takeByte(uint8_t byte);
    void takeOption(uint8_t verb, uint8_t option);
    void takeSubnegotiation();
    // Counts one option command; too many in a row end the line.
    void countOption();
    void sendCommand(uint8_t verb, uint8_t option);
    void sendComPort(uint8_t command, const std::string &value);
    // Asks for an option on our side (WILL) or the server's (DO).
    void ask(uint8_t verb, uint8_t option);
    // Waits until done() holds, the line breaks or timeoutMs passes.
    template <typename Done>
    bool waitFor(Done done, int timeoutMs);

    Side m_us[256];
    Side m_him[256];
    State m_state = State::Data;
    uint8_t m_verb = 0;
    std::string m_sub;
    bool m_subTooLong = false;
    int m_optionRun = 0;
    bool m_flooded = false;
    uint8_t m_modemState = 0;
    uint8_t m_lineState = 0;
    // Throws away the server's receive buffer and what came from it so
    // far: after a new rate, bytes sent at the old one are noise.
    void purgeReceived();

    // Answers to line settings: bit n set when command n was answered.
    uint32_t m_answered = 0;
    uint32_t m_answeredBaud = 0;
    // The line settings the server last confirmed.
    bool m_applied = false;
    uint32_t m_baudRate = 0;
    uint8_t m_dataBits = 0;
    uint8_t m_parity = 0;
    uint8_t m_stopBits = 0;
};
