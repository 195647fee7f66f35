#pragma once

#include "orbosim.h"
#include "silentserver.h"

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// Debian's ser2net, unpacked by scripts/install-deps.sh, run on loopback in
// front of one terminal: a raw TCP port and an RFC 2217 port on free
// ports, at 9600 8N1 until a client sets the line. Ends with the object.
class Ser2Net
{
public:
    explicit Ser2Net(const QString &terminal);
    ~Ser2Net();
    Ser2Net(const Ser2Net &) = delete;
    Ser2Net &operator=(const Ser2Net &) = delete;

    bool isRunning() const { return m_process.state() == QProcess::Running && m_rawPort != 0; }
    QString errorString() const { return m_error; }
    QString rawUrl() const { return QStringLiteral("tcp://127.0.0.1:%1").arg(m_rawPort); }
    QString rfc2217Url() const { return QStringLiteral("rfc2217://127.0.0.1:%1").arg(m_rfc2217Port); }
    quint16 rawPort() const { return m_rawPort; }
    // Ends the server at once, as a crash or a power cut would.
    void kill();

    // A loopback port that nothing listens on right now.
    static quint16 freePort();

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_rawPort = 0;
    quint16 m_rfc2217Port = 0;
    QString m_error;
};

// tests/support/telnetpeer.py in one of its modes (echo, refuse, flood,
// garbage, silent) on a free loopback port. Ends with the object.
class TelnetPeer
{
public:
    explicit TelnetPeer(const QString &mode);
    ~TelnetPeer();
    TelnetPeer(const TelnetPeer &) = delete;
    TelnetPeer &operator=(const TelnetPeer &) = delete;

    QString url() const { return QStringLiteral("rfc2217://127.0.0.1:%1").arg(m_port); }
    bool isRunning() const { return m_port != 0; }

private:
    QProcess m_process;
    quint16 m_port = 0;
};

// python3-serial's RFC 2217 server example in front of one terminal, on a
// free loopback port (tests/support/rfc2217example.py). Ends with the
// object.
class Rfc2217Example
{
public:
    explicit Rfc2217Example(const QString &terminal);
    ~Rfc2217Example();
    Rfc2217Example(const Rfc2217Example &) = delete;
    Rfc2217Example &operator=(const Rfc2217Example &) = delete;

    QString url() const { return QStringLiteral("rfc2217://127.0.0.1:%1").arg(m_port); }
    bool isRunning() const { return m_port != 0; }
    QString errorString() const { return m_error; }
    // The sessions it has accepted so far.
    int sessions();

private:
    QProcess m_process;
    quint16 m_port = 0;
    int m_sessions = 0;
    QString m_error;
};

// The port a network test talks to: "raw" or "rfc2217" is ser2net in front
// of an orbo-sim started with simArgs, "example" python3-serial's server, a TelnetPeer mode is that peer, and
// any other text is its own url (or none), where %UNANSWERED% becomes the
// port of an UnansweredPort. Everything ends with the object.
struct NetworkPortUnderTest
{
    std::unique_ptr<OrboSim> sim;
    std::unique_ptr<Ser2Net> ser2net;
    std::unique_ptr<TelnetPeer> peer;
    std::unique_ptr<Rfc2217Example> example;
    std::unique_ptr<UnansweredPort> unanswered;
    QString url;
    QString error;

    // False, with error, when a server or the simulator did not start.
    bool start(const QString &server, const QStringList &simArgs);
};
