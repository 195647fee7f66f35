#include "deviceconnection.h"

#include "cnumber.h"
#include "devicesession.h"
#include "textline.h"

#include <algorithm>
#include <cerrno>

namespace {

const char kLineFeed = 10;
const uint32_t kConnectedReadTimeoutMs = 2000;
const uint32_t kSearchReadTimeoutMs = 200;
const uint32_t kInputQueueSize = 4096;

} // namespace

const char *const CDeviceConnection::kLoadingText =
    ">> ... load all ORBO commands! Please wait ...";
const char *const CDeviceConnection::kNoAnswerText =
    "!! Fail ! No answer from ORBO. Try again after the device has been started.";
const char *const CDeviceConnection::kBootStateText =
    "!! Fail ! No answer from ORBO. Check the device is not in boot state. Else wait one minute";
const char *const CDeviceConnection::kReadyText = ">> OK, ready to operate!";
const char *const CDeviceConnection::kDisconnectedText = ">> OK! Device disconnected.";

const std::vector<unsigned> &CDeviceConnection::searchOrder()
{
    static const std::vector<unsigned> order{9600, 57600, 19200, 38400};
    return order;
}

const std::vector<std::string> &CDeviceConnection::baudChoices()
{
    static const std::vector<std::string> choices{"auto", "9600", "19200", "38400", "57600"};
    return choices;
}

std::string CDeviceConnection::openFailedText(const std::string &port)
{
    return "!! Can not open comport " + port + "!";
}

std::string CDeviceConnection::openedText(const std::string &port)
{
    return ">> Connection to ORBO on comport " + port + " successfull!";
}

std::string CDeviceConnection::foundBaudText(unsigned baud)
{
    return "Baud rate found: " + std::to_string(baud);
}

std::string CDeviceConnection::lostText(const CDeviceSession &session)
{
    return "!! " + session.lossText();
}

std::string CDeviceConnection::listingCutText()
{
    return "... (listing cut at " + std::to_string(CDeviceSession::kMaxListing / 1024) + " KiB)";
}

std::string CDeviceConnection::reconnectingText(const CDeviceSession &session)
{
    return lostText(session) + " - trying to reopen the port every second ...";
}

std::string CDeviceConnection::backText(const std::string &port)
{
    return ">> ORBO is back on comport " + port + "! The connection goes on.";
}

CDeviceConnection::Result CDeviceConnection::lost()
{
    const std::string text = lostText(m_session);
    Disconnect();
    report(text);
    return Result::Lost;
}

CDeviceConnection::CDeviceConnection(CDeviceSession &session)
    : m_session(session)
{
}

void CDeviceConnection::setCallbacks(Callbacks callbacks)
{
    m_callbacks = std::move(callbacks);
}

void CDeviceConnection::setLineControl(LineControl dtr, LineControl rts)
{
    m_dtr = dtr;
    m_rts = rts;
}

bool CDeviceConnection::isOpen() const
{
    return m_session.port().isOpen();
}

void CDeviceConnection::report(const std::string &text)
{
    if (m_callbacks.answer)
        m_callbacks.answer(text);
}

void CDeviceConnection::setField(Field field, const std::string &text)
{
    switch (field) {
    case Field::Model: m_model = text; break;
    case Field::Revision: m_revision = text; break;
    case Field::Serial: m_serial = text; break;
    case Field::Part: m_part = text; break;
    }
    if (m_callbacks.field)
        m_callbacks.field(field, text);
}

CDeviceConnection::Result CDeviceConnection::openPort(const std::string &port,
                                                      const std::string &baud, bool simulated)
{
    m_port = trimmed(port);
    m_baud = baud;
    m_foundBaud = 0;
    m_commands.clear();
    m_commandsCut = false;
    if (!isOpen())
        m_session.port().setSimulated(simulated);

    if (m_baud == "auto") {
        const int found = SearchBaud();
        if (found == -1)
            return Result::OpenFailed;
        if (found == -2) {
            // Every rate failed the probe: the revision query cannot succeed.
            Disconnect();
            report(kNoAnswerText);
            return Result::NoAnswer;
        }
    } else if (!OpenLink(false)) {
        return Result::OpenFailed;
    }
    return Result::Connected;
}

CDeviceConnection::Result CDeviceConnection::openAndIdentify(const std::string &port,
                                                             const std::string &baud,
                                                             bool simulated)
{
    const Result opened = openPort(port, baud, simulated);
    if (opened != Result::Connected)
        return opened;
    report(kLoadingText);
    if (!Identify()) {
        if (m_session.isLost())
            return lost();
        Disconnect();
        report(kNoAnswerText);
        return Result::NoAnswer;
    }
    return Result::Connected;
}

CDeviceConnection::Result CDeviceConnection::Connect(const std::string &port,
                                                     const std::string &baud, bool simulated)
{
    const Result identified = openAndIdentify(port, baud, simulated);
    if (identified != Result::Connected)
        return identified;
    m_commands = m_session.LoadCommandList(&m_commandsCut);
    if (m_session.isLost())
        return lost();
    if (!m_session.port().isSimulated() && m_commands.empty()) {
        Disconnect();
        report(kBootStateText);
        return Result::BootState;
    }
    report(m_foundBaud != 0 ? std::string(kReadyText) + " " + foundBaudText(m_foundBaud)
                            : std::string(kReadyText));
    return Result::Connected;
}

bool CDeviceConnection::OpenLink(bool automatic)
{
    SerialConfig &config = m_session.config();
    if (!automatic) {
        config.baudRate = static_cast<uint32_t>(std::max(atoiC(m_baud), 0));
        config.readTimeout = kConnectedReadTimeoutMs;
    } else {
        config.readTimeout = kSearchReadTimeoutMs;
    }
    config.port = m_port;
    config.separator = kLineFeed;
    config.terminator = kLineFeed;
    config.inQueueSize = kInputQueueSize;
    config.dtr = m_dtr;
    config.rts = m_rts;

    if (isOpen())
        return true;

    // A port text that names no device, or a zero baud rate from a
    // garbled baud text, cannot be opened; a simulated port needs neither.
    const bool simulated = m_session.port().isSimulated();
    if ((!simulated && (m_port.empty() || config.baudRate == 0))
        || m_session.openPort(config) != 1) {
        m_openFailure = config.baudRate == 0 ? std::string("no such baud rate")
            : m_port.empty()                 ? CSerialPort::openErrorText(ENOENT)
                                             : m_session.port().openFailure();
        // The reason is told in the line itself.
        report(openFailedText(m_port) + " (" + m_openFailure + ")");
        if (m_callbacks.linkOpened)
            m_callbacks.linkOpened(false);
        return false;
    }
    m_openFailure.clear();
    report(openedText(m_port));
    if (m_callbacks.linkOpened)
        m_callbacks.linkOpened(true);
    return true;
}

int CDeviceConnection::SearchBaud()
{
    m_foundBaud = 0;
    // Set once a session that takes each rate without reconnecting is open.
    bool inSession = false;
    for (unsigned rate : searchOrder()) {
        if (isOpen() && !inSession)
            return 1;
        m_session.config().baudRate = rate;
        if (inSession) {
            // The server confirms the new rate and purges what came at the
            // old one; one it does not confirm is a failed attempt.
            if (m_session.port().Configure(m_session.config()) != 1) {
                if (!m_session.port().isHungUp())
                    continue;
                // The session broke: the next rate opens a new one.
                inSession = false;
                Disconnect();
                if (!OpenLink(true))
                    return -1;
            } else {
                m_session.port().DrainInput();
            }
        } else if (!OpenLink(true)) {
            return -1;
        }
        std::string echo;
        std::string reply;
        if (m_session.Transact("SSV", echo, reply) >= 0) {
            m_session.config().readTimeout = kConnectedReadTimeoutMs;
            // A simulated device answers at any rate: nothing was found.
            // Nor does a link at the server's rate.
            m_foundBaud =
                m_session.port().isSimulated() || !m_session.port().setsBaudRate() ? 0 : rate;
            return 1;
        }
        // A link at the server's rate has no other rate to try.
        const bool fixedRate = !m_session.port().setsBaudRate();
        inSession =
            !fixedRate && m_session.port().changesRateInSession() && !m_session.port().isHungUp();
        // Over a session that sets rates itself the next rate is tried in
        // the same session.
        if (!inSession)
            Disconnect();
        if (fixedRate)
            break;
    }
    Disconnect();
    return -2;
}

bool CDeviceConnection::Identify()
{
    m_unanswered.clear();
    std::string echo;
    std::string reply;
    if (m_session.Transact("SSV", echo, reply) < 0)
        return false;
    const auto at = reply.find("SSV");
    if (at != std::string::npos && at != 0)
        return false;
    setField(Field::Revision, withoutLineEnd(reply));

    // A failing step skips the ones after it but does not fail the
    // identification: the revision is enough. Only a device lost on the
    // way (hung up) fails it, so no half identity is taken as one.
    const auto answered = [&](const char *command) {
        if (m_session.Transact(command, echo, reply) >= 0)
            return true;
        m_unanswered.push_back(command);
        return false;
    };
    if (answered("PAN")) {
        const std::string part = withoutLineEnd(reply);
        setField(Field::Part, part.empty() ? std::string("unknown") : part);
    }
    if (answered("SNU"))
        setField(Field::Serial, withoutLineEnd(reply));

    if (answered("SPR")) {
        double fullScale = atofC("1.0" + reply);
        m_session.setFullScale(fullScale);
        if (answered("SFS")) {
            fullScale *= atofC(reply);
            m_session.setFullScale(fullScale);
            if (answered("AUN"))
                setField(Field::Model, formatC("%g", fullScale) + " " + withoutLineEnd(reply));
        }
    }
    return !m_session.isLost();
}

bool CDeviceConnection::Disconnect()
{
    if (isOpen()) {
        m_session.closePort();
        m_revision.clear();
        m_part.clear();
        m_serial.clear();
        m_model.clear();
        if (m_callbacks.linkClosed)
            m_callbacks.linkClosed();
    }
    return true;
}
