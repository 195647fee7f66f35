#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// A real FTP server on a free loopback port serving rootFolder to the
// update library's built-in account, until destroyed. Without a certificate
// it is ftpserver.py (pyftpdlib) with extraArguments (see its usage); with
// one (key and certificate in a PEM file) Debian's pure-ftpd, unpacked by
// scripts/install-deps.sh, which requires TLS for logins and logs users in
// only when run as root: tlsUnavailable() says why a test must skip.
class FtpTestServer
{
public:
    static constexpr const char *kUser = "vaskolt";
    static constexpr const char *kPassword = "tovrask27";

    explicit FtpTestServer(const QString &rootFolder, const QStringList &extraArguments = QStringList(),
                           const QString &tlsCertificate = QString());
    ~FtpTestServer() { stop(); }
    FtpTestServer(const FtpTestServer &) = delete;
    FtpTestServer &operator=(const FtpTestServer &) = delete;

    bool start(int timeoutMs = 60000);
    void stop();
    qint64 processId() const { return m_process.processId(); }
    QString host() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }
    // Why start() failed, with the server's output.
    QString errorText() const { return m_errorText; }

    // Arguments of ftpserver.py's hostile modes for the file name (see its
    // usage): bytes without end, a drip of bytesPerSecond, silence after
    // bytes, a generated page (kind tables, lists, divs, word or links).
    static QStringList endless(const QString &name) { return {"--endless", name}; }
    static QStringList drip(const QString &name, int bytesPerSecond)
    {
        return {"--drip", QStringLiteral("%1:%2").arg(name).arg(bytesPerSecond)};
    }
    static QStringList stallAfter(const QString &name, qint64 bytes)
    {
        return {"--stall-after", QStringLiteral("%1:%2").arg(name).arg(bytes)};
    }
    static QStringList page(const QString &name, const QString &kind, int count)
    {
        return {"--page", QStringLiteral("%1:%2:%3").arg(name, kind).arg(count)};
    }

    // Makes in folder ca.pem and otherca.pem (two authorities) and, each
    // holding key and certificate, server.pem (127.0.0.1, from ca),
    // othername.pem (another host name, from ca) and stranger.pem
    // (127.0.0.1, from otherca).
    static bool makeCertificates(const QString &folder, QString &error);
    static QString tlsUnavailable();

private:
    bool prepareTls();

    QString m_rootFolder;
    QStringList m_extraArguments;
    QString m_certificate;
    QProcess m_process;
    quint16 m_port = 0;
    QString m_errorText;
};
