#include "webserver.h"

#include "childprocess.h"
#include "ftpserver.h"
#include "testfiles.h"

#include <QDeadlineTimer>
#include <QTcpServer>
#include <QTcpSocket>

#include <unistd.h>

namespace {

const QString kNginx = QStringLiteral(WEB_TESTS_ROOT "/nginx/usr/sbin/nginx");
const QString kTinyproxy = QStringLiteral(WEB_TESTS_ROOT "/tinyproxy/usr/bin/tinyproxy");

quint16 freePort()
{
    QTcpServer server;
    return server.listen(QHostAddress::LocalHost) ? server.serverPort() : 0;
}

bool accepts(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(1000);
}

} // namespace

std::unique_ptr<WebTestServer> WebTestServer::nginx(const QString &rootFolder, const QString &certificates)
{
    return std::unique_ptr<WebTestServer>(new WebTestServer(Kind::Nginx, rootFolder, certificates));
}

std::unique_ptr<WebTestServer> WebTestServer::misbehaving(const QString &rootFolder,
                                                          const QString &certificates,
                                                          const QStringList &modes)
{
    std::unique_ptr<WebTestServer> server(new WebTestServer(Kind::Misbehaving, rootFolder, certificates));
    server->m_arguments = modes;
    return server;
}

std::unique_ptr<WebTestServer> WebTestServer::proxy(const QString &user, const QString &password)
{
    std::unique_ptr<WebTestServer> server(new WebTestServer(Kind::Proxy, QString(), QString()));
    server->m_user = user;
    server->m_password = password;
    return server;
}

std::unique_ptr<WebTestServer> WebTestServer::cutter(const WebTestServer &target, qint64 cutAfterBytes,
                                                     const QStringList &more)
{
    std::unique_ptr<WebTestServer> server(new WebTestServer(Kind::Cutter, QString(), target.m_certificates));
    server->m_arguments =
        QStringList{QString::number(target.port()), "--cut-after", QString::number(cutAfterBytes)} + more;
    return server;
}

bool WebTestServer::makeCertificates(const QString &folder, QString &error)
{
    return FtpTestServer::makeCertificates(folder, error);
}

QString WebTestServer::unavailable()
{
    for (const QString &program : {kNginx, kTinyproxy})
        if (!QFileInfo(program).isExecutable())
            return program + QStringLiteral(" is missing (scripts/install-deps.sh unpacks it)");
    return QString();
}

QString WebTestServer::url() const
{
    const bool tls = m_kind != Kind::Proxy && !m_certificates.isEmpty();
    const QString login = m_user.isEmpty() ? QString() : m_user + ':' + m_password + '@';
    return QString(tls ? "https://" : "http://") + login + "127.0.0.1:" + QString::number(m_port);
}

QStringList WebTestServer::command()
{
    const QString state = m_state.path();
    const QString answers = state + "/answers.log";
    switch (m_kind) {
    case Kind::Misbehaving: {
        QStringList command{"/usr/bin/python3", WEBSERVER_SCRIPT, m_rootFolder, "--log", answers};
        if (!m_certificates.isEmpty())
            command << "--certificate" << m_certificates + "/server.pem";
        return command + m_arguments;
    }
    case Kind::Cutter:
        return QStringList{"/usr/bin/python3", CUTFORWARD_SCRIPT} + m_arguments
            + QStringList{"--count", answers};
    case Kind::Proxy: {
        QByteArray text = "Port " + QByteArray::number(m_port)
            + "\nListen 127.0.0.1\nAllow 127.0.0.1\n"
              "Timeout 60\nMaxClients 200\nDisableViaHeader Yes\nLogLevel Info\nLogFile \""
            + QFile::encodeName(state) + "/proxy.log\"\n";
        if (::geteuid() == 0)
            text += "User root\nGroup root\n";
        if (!m_user.isEmpty())
            text += "BasicAuth " + m_user.toUtf8() + ' ' + m_password.toUtf8() + '\n';
        writeFile(state + "/tinyproxy.conf", text);
        return {kTinyproxy, "-d", "-c", state + "/tinyproxy.conf"};
    }
    case Kind::Nginx: break;
    }
    // One process (ending with the test), files in the state folder.
    QByteArray text = "daemon off;\nmaster_process off;\nerror_log stderr warn;\npid "
        + QFile::encodeName(state) + "/nginx.pid;\n";
    if (::geteuid() == 0)
        text += "user root;\n";
    text += "events { worker_connections 1024; }\nhttp {\n"
            "  log_format answers '$status $body_bytes_sent $request_uri';\n"
            "  access_log "
        + QFile::encodeName(answers) + " answers;\n";
    for (const char *temp : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
        text += QByteArray("  ") + temp + "_temp_path " + QFile::encodeName(state) + '/' + temp + ";\n";
    text += "  types { text/html html; }\n  default_type application/octet-stream;\n"
            "  sendfile on;\n  keepalive_requests 100000;\n  server {\n    listen 127.0.0.1:"
        + QByteArray::number(m_port);
    if (!m_certificates.isEmpty())
        text += " ssl http2;\n    ssl_certificate " + QFile::encodeName(m_certificates)
            + "/server.crt;\n    ssl_certificate_key " + QFile::encodeName(m_certificates) + "/server.key";
    text += ";\n    root " + QFile::encodeName(m_rootFolder) + ";\n  }\n}\n";
    writeFile(state + "/nginx.conf", text);
    return {kNginx, "-p", state, "-c", state + "/nginx.conf"};
}

bool WebTestServer::start(int timeoutMs)
{
    stop();
    const bool script = m_kind == Kind::Misbehaving || m_kind == Kind::Cutter;
    m_errorText = script ? QString() : unavailable();
    if (!m_errorText.isEmpty())
        return false;
    if (!script)
        m_port = freePort();
    const QStringList program = command();
    // stdin stays an open pipe: the scripts end when it closes.
    endWithParent(m_process);
    m_process.start(program.first(), program.mid(1));
    QDeadlineTimer deadline(timeoutMs);
    while (script ? !m_process.canReadLine() : !accepts(m_port)) {
        if (m_process.state() == QProcess::NotRunning || deadline.hasExpired()) {
            m_errorText = program.join(' ') + " did not start: "
                + QString::fromLocal8Bit(m_process.readAllStandardOutput()
                                         + m_process.readAllStandardError());
            stop();
            return false;
        }
        m_process.waitForReadyRead(50);
    }
    if (script)
        m_port = static_cast<quint16>(m_process.readLine().trimmed().toUInt());
    return m_port != 0;
}

void WebTestServer::stop()
{
    stopChild(m_process);
    m_port = 0;
}

QStringList WebTestServer::answers() const
{
    const QFile log(m_state.path() + "/answers.log");
    return log.exists() ? QString::fromUtf8(readFile(log.fileName())).split('\n', Qt::SkipEmptyParts)
                        : QStringList();
}

qint64 WebTestServer::bodyBytesSent() const
{
    const QStringList lines = answers();
    qint64 bytes = 0;
    for (const QString &line : lines)
        bytes += (m_kind == Kind::Cutter ? line : line.section(' ', 1, 1)).toLongLong();
    return bytes;
}

void WebTestServer::clearAnswers()
{
    QFile(m_state.path() + "/answers.log").resize(0);
}
