#include "rfc2217stream.h"

#include "streamwait.h"

#include <cerrno>

namespace {

// Telnet (RFC 854, 856, 858) and its COM-PORT-OPTION (RFC 2217).
constexpr uint8_t kIac = 255;
constexpr uint8_t kDont = 254;
constexpr uint8_t kDo = 253;
constexpr uint8_t kWont = 252;
constexpr uint8_t kWill = 251;
constexpr uint8_t kSb = 250;
constexpr uint8_t kSe = 240;
constexpr uint8_t kBinary = 0;
constexpr uint8_t kSuppressGoAhead = 3;
constexpr uint8_t kComPort = 44;

// Client commands; the server answers each with the command plus 100.
constexpr uint8_t kSetBaudRate = 1;
constexpr uint8_t kSetDataSize = 2;
constexpr uint8_t kSetParity = 3;
constexpr uint8_t kSetStopSize = 4;
constexpr uint8_t kSetControl = 5;
constexpr uint8_t kNotifyLineState = 6;
constexpr uint8_t kNotifyModemState = 7;
constexpr uint8_t kPurgeData = 12;
constexpr uint8_t kServerOffset = 100;

constexpr uint8_t kNoFlowControl = 1;
constexpr uint8_t kDtrOn = 8;
constexpr uint8_t kDtrOff = 9;
constexpr uint8_t kRtsOn = 11;
constexpr uint8_t kRtsOff = 12;
constexpr uint8_t kPurgeReceived = 1; // the server's receive buffer
constexpr uint8_t kPurgeBoth = 3;
constexpr int kCommandSendMs = 500;
constexpr size_t kKeptWhileWaiting = 256;

bool wantedOnOurSide(uint8_t option)
{
    return option == kBinary || option == kSuppressGoAhead || option == kComPort;
}

// Some servers also offer the COM-PORT-OPTION on their side; agreeing to
// that costs nothing, refusing it may make them end the session.
bool wantedOnServerSide(uint8_t option)
{
    return option == kBinary || option == kSuppressGoAhead || option == kComPort;
}

std::string byteValue(uint8_t value)
{
    return std::string(1, static_cast<char>(value));
}

} // namespace

template <typename Done>
bool Rfc2217Stream::waitFor(Done done, int timeoutMs)
{
    const StreamClock::time_point deadline = deadlineIn(timeoutMs);
    for (;;) {
        pump();
        if (done())
            return true;
        // Line data that nobody reads while the session is set up is not
        // kept without end: the first bytes stay (they may say why a server
        // refuses), the rest goes, and the socket is read on.
        if (buffered() >= kMaxBuffered)
            m_input.resize(m_inputPos + kKeptWhileWaiting);
        if (m_hungUp || m_flooded || msLeft(deadline) == 0)
            return false;
        waitSocket(msLeft(deadline));
    }
}

void Rfc2217Stream::sendCommand(uint8_t verb, uint8_t option)
{
    const char bytes[3] = {static_cast<char>(kIac), static_cast<char>(verb),
                           static_cast<char>(option)};
    sendAll(bytes, sizeof bytes, kCommandSendMs);
}

void Rfc2217Stream::sendComPort(uint8_t command, const std::string &value)
{
    std::string bytes = {static_cast<char>(kIac), static_cast<char>(kSb),
                         static_cast<char>(kComPort), static_cast<char>(command)};
    for (char c : value) {
        bytes += c;
        if (static_cast<uint8_t>(c) == kIac)
            bytes += c;
    }
    bytes += static_cast<char>(kIac);
    bytes += static_cast<char>(kSe);
    sendAll(bytes.data(), bytes.size(), kCommandSendMs);
}

void Rfc2217Stream::ask(uint8_t verb, uint8_t option)
{
    Side &side = verb == kWill ? m_us[option] : m_him[option];
    if (side.enabled || side.asked)
        return;
    side.asked = true;
    sendCommand(verb, option);
}

int Rfc2217Stream::handshake(const SerialConfig &config)
{
    for (Side &side : m_us)
        side = Side();
    for (Side &side : m_him)
        side = Side();
    m_state = State::Data;
    m_optionRun = 0;
    m_flooded = false;
    m_applied = false;

    ask(kWill, kBinary);
    ask(kDo, kBinary);
    ask(kWill, kSuppressGoAhead);
    ask(kDo, kSuppressGoAhead);
    ask(kWill, kComPort);
    const Side &comPort = m_us[kComPort];
    // The server's answer to the first line setting shows that it gave
    // us the line: a server that keeps it for another client closes.
    if (waitFor([&] { return comPort.enabled || comPort.refused; }, kNegotiateTimeoutMs)
        && comPort.enabled)
        configure(config);
    if (m_flooded) {
        m_failure = peerName() + " floods Telnet option traffic";
        return EPROTO;
    }
    if (m_hungUp) {
        m_failure = "the server holds the line: another client is using it" + refusalText();
        return EBUSY;
    }
    if (comPort.refused) {
        m_failure = peerName() + " does not offer RFC 2217 port control";
        return EPROTONOSUPPORT;
    }
    if (!comPort.enabled || !m_applied) {
        m_failure = "no RFC 2217 answer from " + peerName() + " within "
            + std::to_string(kNegotiateTimeoutMs / 1000) + " s";
        return ETIMEDOUT;
    }
    return 0;
}

bool Rfc2217Stream::configure(const SerialConfig &config)
{
    // RFC 2217 codes: parity none 1, odd 2, even 3, mark 4, space 5; stop
    // size one 1, two 2, one and a half 3.
    static const uint8_t kStopSize[] = {1, 3, 2};
    if (config.parity > 4 || config.stopBits > 2 || config.dataBits < 5 || config.dataBits > 8
        || config.baudRate == 0)
        return false;
    if (m_applied && config.baudRate == m_baudRate && config.dataBits == m_dataBits
        && config.parity == m_parity && config.stopBits == m_stopBits)
        return true;
    const bool rateChanged = m_applied && config.baudRate != m_baudRate;
    m_applied = false;
    m_answered = 0;
    const uint32_t baud = config.baudRate;
    sendComPort(kSetBaudRate,
                {static_cast<char>(baud >> 24), static_cast<char>(baud >> 16),
                 static_cast<char>(baud >> 8), static_cast<char>(baud)});
    sendComPort(kSetDataSize, byteValue(config.dataBits));
    sendComPort(kSetParity, byteValue(static_cast<uint8_t>(config.parity + 1)));
    sendComPort(kSetStopSize, byteValue(kStopSize[config.stopBits]));
    sendComPort(kSetControl, byteValue(kNoFlowControl));
    const uint32_t all =
        1u << kSetBaudRate | 1u << kSetDataSize | 1u << kSetParity | 1u << kSetStopSize;
    if (!waitFor([&] { return (m_answered & all) == all; }, kNegotiateTimeoutMs)
        || m_answeredBaud != baud)
        return false;
    if (rateChanged)
        purgeReceived();
    m_applied = true;
    m_baudRate = config.baudRate;
    m_dataBits = config.dataBits;
    m_parity = config.parity;
    m_stopBits = config.stopBits;
    return true;
}

int Rfc2217Stream::setModemLines(LineControl dtr, LineControl rts)
{
    if (dtr != LineControl::Unchanged)
        sendComPort(kSetControl, byteValue(dtr == LineControl::Asserted ? kDtrOn : kDtrOff));
    if (rts != LineControl::Unchanged)
        sendComPort(kSetControl, byteValue(rts == LineControl::Asserted ? kRtsOn : kRtsOff));
    return 0;
}

void Rfc2217Stream::purgeReceived()
{
    // The answer marks the point in the stream: what came before it is
    // from the old rate. A server that does not answer is not waited for
    // long; what came so far goes all the same.
    m_answered &= ~(1u << kPurgeData);
    sendComPort(kPurgeData, byteValue(kPurgeReceived));
    waitFor([&] { return (m_answered & 1u << kPurgeData) != 0; }, kPurgeAnswerMs);
    m_input.clear();
    m_inputPos = 0;
}

void Rfc2217Stream::purge()
{
    if (m_fd >= 0 && !m_hungUp)
        sendComPort(kPurgeData, byteValue(kPurgeBoth));
    TcpStream::purge();
}

std::string Rfc2217Stream::encode(const char *data, size_t count)
{
    // A new exchange: option traffic before it does not count against
    // the line.
    m_optionRun = 0;
    const bool binary = m_us[kBinary].enabled;
    std::string bytes;
    bytes.reserve(count + 8);
    for (size_t i = 0; i < count; ++i) {
        bytes += data[i];
        if (static_cast<uint8_t>(data[i]) == kIac)
            bytes += data[i];
        else if (data[i] == '\r' && !binary)
            bytes += '\0';
    }
    return bytes;
}

void Rfc2217Stream::received(const char *data, size_t count)
{
    for (size_t i = 0; i < count && !m_flooded; ++i)
        takeByte(static_cast<uint8_t>(data[i]));
}

void Rfc2217Stream::countOption()
{
    if (++m_optionRun > kMaxOptionRun && !m_flooded) {
        m_flooded = true;
        m_lastError = EPROTO;
        m_hungUp = true;
    }
}

void Rfc2217Stream::takeByte(uint8_t byte)
{
    switch (m_state) {
    case State::CarriageReturn:
        m_state = State::Data;
        // CR NUL stands for a bare CR.
        if (byte == 0)
            return;
        [[fallthrough]];
    case State::Data:
        if (byte == kIac) {
            m_state = State::Command;
            return;
        }
        m_input += static_cast<char>(byte);
        m_optionRun = 0;
        if (byte == '\r' && !m_him[kBinary].enabled)
            m_state = State::CarriageReturn;
        return;
    case State::Command:
        m_state = State::Data;
        if (byte == kIac) {
            m_input += static_cast<char>(byte);
            m_optionRun = 0;
        } else if (byte >= kWill && byte <= kDont) {
            m_verb = byte;
            m_state = State::Option;
        } else if (byte == kSb) {
            m_sub.clear();
            m_subTooLong = false;
            m_state = State::Sub;
        } else {
            // NOP, go-ahead and the like, or garbage: nothing to do.
            countOption();
        }
        return;
    case State::Option:
        m_state = State::Data;
        takeOption(m_verb, byte);
        return;
    case State::Sub:
        if (byte == kIac)
            m_state = State::SubCommand;
        else if (m_sub.size() < kMaxSubnegotiation)
            m_sub += static_cast<char>(byte);
        else
            m_subTooLong = true;
        return;
    case State::SubCommand:
        if (byte == kIac) {
            m_state = State::Sub;
            if (m_sub.size() < kMaxSubnegotiation)
                m_sub += static_cast<char>(byte);
            return;
        }
        m_state = State::Data;
        // IAC SE ends it; anything else is a broken subnegotiation,
        // dropped.
        if (byte == kSe && !m_subTooLong)
            takeSubnegotiation();
        else
            countOption();
        return;
    }
}

void Rfc2217Stream::takeOption(uint8_t verb, uint8_t option)
{
    countOption();
    if (m_flooded)
        return;
    const bool ours = verb == kDo || verb == kDont;
    Side &side = ours ? m_us[option] : m_him[option];
    const bool wanted = ours ? wantedOnOurSide(option) : wantedOnServerSide(option);
    const uint8_t yes = ours ? kWill : kDo;
    const uint8_t no = ours ? kWont : kDont;
    if (verb == kWill || verb == kDo) {
        if (!wanted) {
            sendCommand(no, option);
        } else if (!side.enabled) {
            side.enabled = true;
            // An answer to our own request is not answered again.
            if (!side.asked)
                sendCommand(yes, option);
        }
        side.asked = false;
        return;
    }
    if (side.enabled) {
        side.enabled = false;
        sendCommand(no, option);
    } else if (side.asked) {
        side.refused = true;
    }
    side.asked = false;
}

void Rfc2217Stream::takeSubnegotiation()
{
    countOption();
    if (m_sub.size() < 3 || static_cast<uint8_t>(m_sub[0]) != kComPort)
        return;
    const uint8_t command = static_cast<uint8_t>(m_sub[1]);
    const std::string value = m_sub.substr(2);
    if (command == kServerOffset + kSetBaudRate && value.size() >= 4) {
        m_answeredBaud = 0;
        for (int i = 0; i < 4; ++i)
            m_answeredBaud = m_answeredBaud << 8 | static_cast<uint8_t>(value[i]);
        m_answered |= 1u << kSetBaudRate;
    } else if ((command > kServerOffset && command <= kServerOffset + kSetControl)
               || command == kServerOffset + kPurgeData) {
        m_answered |= 1u << (command - kServerOffset);
        // Line data before the purge's answer is from before the purge.
        if (command == kServerOffset + kPurgeData) {
            m_input.clear();
            m_inputPos = 0;
        }
    } else if (command == kServerOffset + kNotifyLineState) {
        m_lineState = static_cast<uint8_t>(value[0]);
    } else if (command == kServerOffset + kNotifyModemState) {
        m_modemState = static_cast<uint8_t>(value[0]);
    }
}
