#pragma once

#include <QProcess>
#include <QString>

// A real FTP server with explicit TLS on a free loopback port: Debian's
// pure-ftpd, run from its unpacked package (scripts/install-deps.sh puts
// it in PURE_FTPD_ROOT), with TLS required for logins (-Y 2), one virtual
// user (FtpTestServer's account) in a database made by pure-pw, and a
// certificate the test makes with the openssl tool.
//
// Debian's build logs users in only when it runs as root; unavailable()
// says why a test must be skipped on a machine where it cannot run.
class TlsFtpTestServer
{
public:
    // Certificates made by makeCertificates(folder):
    //   ca.pem        the test's certificate authority
    //   server.pem    key and certificate for 127.0.0.1, signed by ca.pem
    //   othername.pem key and certificate for another host name, signed by ca.pem
    //   stranger.pem  key and certificate for 127.0.0.1 from another authority
    static bool makeCertificates(const QString &folder, QString &error);

    // Empty when pure-ftpd can run here, else the reason.
    static QString unavailable();

    // rootFolder: the virtual user's home (made readable for the server's
    // user); certificate: a PEM file holding key and certificate.
    TlsFtpTestServer(const QString &rootFolder, const QString &certificate);
    ~TlsFtpTestServer();

    TlsFtpTestServer(const TlsFtpTestServer &) = delete;
    TlsFtpTestServer &operator=(const TlsFtpTestServer &) = delete;

    bool start(int timeoutMs = 30000);
    void stop();
    // "127.0.0.1:PORT"
    QString host() const;
    QString errorText() const { return m_errorText; }

private:
    QString m_rootFolder;
    QString m_certificate;
    QString m_stateFolder;
    QProcess m_process;
    quint16 m_port = 0;
    QString m_errorText;
};
