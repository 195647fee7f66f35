#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// A real FTP server (pyftpdlib, run by /usr/bin/python3) on a free
// loopback port, serving a test's folder. start() launches ftpserver.py
// and waits for the port it chose; the destructor stops it.
//
//   FtpTestServer server(tempDir.path());
//   QVERIFY2(server.start(), qPrintable(server.errorText()));
//   client.setHost(server.host().toStdString());   // "127.0.0.1:PORT"
//
// Extra arguments go to ftpserver.py, for example
// {"--drop-after-bytes", "Spelmar/Updates/big.bin:40000"} (close the data
// connection after 40000 bytes of that file, answering 426),
// {"--lie-after-bytes", "NAME:N"} (send N bytes, then report success),
// {"--read-only"}.
class FtpTestServer
{
public:
    static constexpr const char *kUser = "vaskolt";
    static constexpr const char *kPassword = "tovrask27";

    explicit FtpTestServer(const QString &rootFolder, const QStringList &extraArguments = QStringList(),
                           const QString &user = QString::fromLatin1(kUser),
                           const QString &password = QString::fromLatin1(kPassword));
    ~FtpTestServer();

    FtpTestServer(const FtpTestServer &) = delete;
    FtpTestServer &operator=(const FtpTestServer &) = delete;

    // Starts the server and waits (up to timeoutMs) for its port line.
    bool start(int timeoutMs = 60000);
    void stop();

    bool isRunning() const;
    qint64 processId() const { return m_process.processId(); }
    quint16 port() const { return m_port; }
    // "127.0.0.1:PORT"
    QString host() const;
    QString rootFolder() const { return m_rootFolder; }
    // Why start() failed, with the server's error output.
    QString errorText() const { return m_errorText; }

    // Path of ftpserver.py, for tests that run it themselves.
    static QString scriptPath();

private:
    QString m_rootFolder;
    QStringList m_extraArguments;
    QString m_user;
    QString m_password;
    QProcess m_process;
    quint16 m_port = 0;
    QString m_errorText;
};
