#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// A real web server, proxy or forwarder on a free loopback port for the
// tests, until destroyed; its configuration and logs live in a temporary
// folder of its own. nginx and tinyproxy are Debian's, unpacked by
// scripts/install-deps.sh (unavailable() says why a test must skip);
// webserver.py and cutforward.py run with /usr/bin/python3.
class WebTestServer
{
public:
    // nginx serving rootFolder over HTTPS with HTTP/2, its certificate
    // server.pem made by makeCertificates in certificates; with no
    // certificates folder over plain HTTP.
    static std::unique_ptr<WebTestServer> nginx(const QString &rootFolder, const QString &certificates);
    // webserver.py serving rootFolder (over HTTPS with a certificates
    // folder) with modes, the arguments of its usage: page(), redirect()...
    static std::unique_ptr<WebTestServer> misbehaving(const QString &rootFolder, const QString &certificates,
                                                      const QStringList &modes = QStringList());
    // tinyproxy, asking for user and password when a user is given.
    static std::unique_ptr<WebTestServer> proxy(const QString &user = QString(),
                                                const QString &password = QString());
    // cutforward.py forwarding to target (started) and closing each
    // connection once cutAfterBytes went to the client (0: never);
    // url() is the target's with this port.
    // more: cutforward.py's further options (--replace).
    static std::unique_ptr<WebTestServer> cutter(const WebTestServer &target, qint64 cutAfterBytes,
                                                 const QStringList &more = QStringList());

    ~WebTestServer() { stop(); }
    WebTestServer(const WebTestServer &) = delete;
    WebTestServer &operator=(const WebTestServer &) = delete;

    bool start(int timeoutMs = 60000);
    void stop();
    quint16 port() const { return m_port; }
    // "https://127.0.0.1:PORT" or "http://…"; a proxy's holds its user and password.
    QString url() const;
    // Why start() failed, with the program's output.
    QString errorText() const { return m_errorText; }

    // The answers so far, one "STATUS BODYBYTES PATH" each (nginx and
    // webserver.py), and the body bytes in them; a cutter's body bytes are
    // all bytes it forwarded to clients.
    QStringList answers() const;
    qint64 bodyBytesSent() const;
    void clearAnswers();

    // webserver.py's modes for a file's path below the root or bare name.
    static QStringList page(const QString &name, int status) { return {"--page", withValue(name, status)}; }
    static QStringList redirect(const QString &name, const QString &url)
    {
        return {"--redirect", name + ':' + url};
    }
    static QStringList missing(const QString &name) { return {"--missing", name}; }
    static QStringList length(const QString &name, int delta) { return {"--length", withValue(name, delta)}; }
    static QStringList gzip(const QString &name) { return {"--gzip", name}; }
    static QStringList whole(const QString &name) { return {"--whole", name}; }
    static QStringList stall(const QString &name, int bytes) { return {"--stall", withValue(name, bytes)}; }
    static QStringList noValidators(const QString &name) { return {"--no-validators", name}; }
    static QStringList wrongRange(const QString &name) { return {"--wrong-range", name}; }
    static QStringList singleRange(const QString &name) { return {"--single-range", name}; }
    static QStringList longHeader(const QString &name, int bytes)
    {
        return {"--long-header", withValue(name, bytes)};
    }

    // ca.pem and server.pem (127.0.0.1) in folder, and more for the wrong
    // authority and host name: see FtpTestServer::makeCertificates.
    static bool makeCertificates(const QString &folder, QString &error);
    static QString caFile(const QString &certificates) { return certificates + "/ca.pem"; }
    // Why the unpacked nginx or tinyproxy cannot run; empty when they can.
    static QString unavailable();

private:
    enum class Kind
    {
        Nginx,
        Misbehaving,
        Proxy,
        Cutter
    };
    WebTestServer(Kind kind, const QString &rootFolder, const QString &certificates)
        : m_kind(kind)
        , m_rootFolder(rootFolder)
        , m_certificates(certificates)
    {
    }
    static QString withValue(const QString &name, qint64 value)
    {
        return name + ':' + QString::number(value);
    }
    // The program and its arguments, its configuration written.
    QStringList command();

    Kind m_kind;
    QString m_rootFolder;
    QString m_certificates;
    QStringList m_arguments; // webserver.py's modes, cutforward.py's target and cut
    QString m_user;
    QString m_password;
    QTemporaryDir m_state;
    QProcess m_process;
    quint16 m_port = 0;
    QString m_errorText;
};
