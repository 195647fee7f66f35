#include "ser2net.h"

#include "childprocess.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Something listens on the port: it cannot be bound. (A connection would
// take the line for a moment.)
bool listening(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    const bool taken = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0;
    if (fd >= 0)
        ::close(fd);
    return taken;
}

} // namespace

quint16 Ser2Net::freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    quint16 port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr *>(&address), length) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    if (fd >= 0)
        ::close(fd);
    return port;
}

Ser2Net::Ser2Net(const QString &terminal)
{
    const QString program = QStringLiteral(SER2NET_ROOT "/usr/sbin/ser2net");
    if (!QFile::exists(program)) {
        m_error = program + " is missing: run scripts/install-deps.sh";
        return;
    }
    const quint16 raw = freePort();
    const quint16 rfc2217 = freePort();
    const QString device = QStringLiteral("serialdev,%1,9600n81,local").arg(terminal);
    QFile config(m_dir.filePath("ser2net.yaml"));
    if (!m_dir.isValid() || !config.open(QIODevice::WriteOnly)) {
        m_error = "no configuration file";
        return;
    }
    config.write(QStringLiteral("%YAML 1.1\n---\n"
                                "connection: &raw\n  accepter: tcp,127.0.0.1,%1\n  connector: %3\n"
                                "connection: &rfc2217\n  accepter: telnet(rfc2217),tcp,127.0.0.1,%2\n"
                                "  connector: %3\n")
                     .arg(raw)
                     .arg(rfc2217)
                     .arg(device)
                     .toUtf8());
    config.close();
    // It tells on standard error that it runs without mDNS, every time.
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.setStandardErrorFile(QProcess::nullDevice());
    endWithParent(m_process);
    m_process.start(program, {"-n", "-d", "-c", config.fileName(), "-P", m_dir.filePath("pid")});
    m_process.waitForStarted(10000);
    QDeadlineTimer deadline(10000);
    while (m_process.state() != QProcess::NotRunning && !deadline.hasExpired()
           && !(listening(raw) && listening(rfc2217)))
        QThread::msleep(20);
    if (m_process.state() == QProcess::NotRunning || deadline.hasExpired()) {
        m_error = "ser2net did not start: " + m_process.errorString();
        return;
    }
    m_rawPort = raw;
    m_rfc2217Port = rfc2217;
}

Ser2Net::~Ser2Net()
{
    kill();
}

void Ser2Net::kill()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished(30000);
}

TelnetPeer::TelnetPeer(const QString &mode)
{
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    endWithParent(m_process);
    m_process.start("/usr/bin/python3", {QStringLiteral(TELNET_PEER_SCRIPT), mode});
    QDeadlineTimer deadline(10000);
    while (!m_process.canReadLine() && m_process.state() != QProcess::NotRunning && !deadline.hasExpired())
        m_process.waitForReadyRead(100);
    m_port = static_cast<quint16>(m_process.readLine().trimmed().toUInt());
}

TelnetPeer::~TelnetPeer()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished(30000);
}

Rfc2217Example::Rfc2217Example(const QString &terminal)
{
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    endWithParent(m_process);
    m_process.start("/usr/bin/python3", {QStringLiteral(RFC2217_EXAMPLE_SCRIPT), terminal});
    QDeadlineTimer deadline(10000);
    while (!m_process.canReadLine() && m_process.state() != QProcess::NotRunning && !deadline.hasExpired())
        m_process.waitForReadyRead(100);
    m_port = static_cast<quint16>(m_process.readLine().trimmed().toUInt());
    if (m_port == 0)
        m_error = "python3-serial's RFC 2217 server did not start: run scripts/install-deps.sh";
}

int Rfc2217Example::sessions()
{
    m_process.waitForReadyRead(0);
    while (m_process.canReadLine())
        m_sessions += m_process.readLine().trimmed() == "session";
    return m_sessions;
}

Rfc2217Example::~Rfc2217Example()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished(30000);
}

bool NetworkPortUnderTest::start(const QString &server, const QStringList &simArgs)
{
    static const QStringList kPeerModes = {"echo", "refuse", "flood", "garbage", "silent", "noise"};
    url = server;
    if (server == "raw" || server == "rfc2217" || server == "example") {
        sim = std::make_unique<OrboSim>(simArgs);
        if (sim->path().isEmpty()) {
            error = sim->errorString();
            return false;
        }
        if (server == "example") {
            example = std::make_unique<Rfc2217Example>(sim->path());
            error = example->errorString();
            url = example->url();
            return example->isRunning();
        }
        ser2net = std::make_unique<Ser2Net>(sim->path());
        if (!ser2net->isRunning()) {
            error = ser2net->errorString();
            return false;
        }
        url = server == "raw" ? ser2net->rawUrl() : ser2net->rfc2217Url();
    } else if (kPeerModes.contains(server)) {
        peer = std::make_unique<TelnetPeer>(server);
        if (!peer->isRunning()) {
            error = "the Telnet peer did not start: " + server;
            return false;
        }
        url = peer->url();
    } else if (server.contains("%UNANSWERED%")) {
        unanswered = std::make_unique<UnansweredPort>();
        if (unanswered->port() == 0) {
            error = "the loopback backlog could not be filled";
            return false;
        }
        url.replace("%UNANSWERED%", QString::number(unanswered->port()));
    }
    return true;
}
