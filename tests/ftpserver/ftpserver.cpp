#include "ftpserver.h"

#include "childprocess.h"

#include <QDeadlineTimer>

FtpTestServer::FtpTestServer(const QString &rootFolder, const QStringList &extraArguments,
                             const QString &user, const QString &password)
    : m_rootFolder(rootFolder)
    , m_extraArguments(extraArguments)
    , m_user(user)
    , m_password(password)
{
}

FtpTestServer::~FtpTestServer()
{
    stop();
}

QString FtpTestServer::scriptPath()
{
    return QString::fromUtf8(FTPSERVER_SCRIPT);
}

bool FtpTestServer::start(int timeoutMs)
{
    stop();
    m_errorText.clear();
    QStringList arguments{scriptPath(), m_rootFolder, m_user, m_password, QStringLiteral("0")};
    arguments += m_extraArguments;
    // stdin stays an open pipe: the server ends when it closes, so it never
    // outlives a crashed test (it gets SIGKILL as well).
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    endWithParent(m_process);
    m_process.setWorkingDirectory(m_rootFolder);
    m_process.start(QStringLiteral("/usr/bin/python3"), arguments);
    if (!m_process.waitForStarted(timeoutMs)) {
        m_errorText = QStringLiteral("cannot start /usr/bin/python3: ") + m_process.errorString();
        return false;
    }
    QDeadlineTimer deadline(timeoutMs);
    QByteArray line;
    while (!m_process.canReadLine()) {
        if (m_process.state() != QProcess::Running || deadline.hasExpired()) {
            m_errorText = QStringLiteral("FTP test server gave no port: ")
                + QString::fromLocal8Bit(m_process.readAllStandardError());
            stop();
            return false;
        }
        m_process.waitForReadyRead(200);
    }
    line = m_process.readLine().trimmed();
    bool ok = false;
    const uint port = line.toUInt(&ok);
    if (!ok || port == 0 || port > 65535) {
        m_errorText = QStringLiteral("FTP test server printed no port: ") + QString::fromLatin1(line);
        stop();
        return false;
    }
    m_port = static_cast<quint16>(port);
    return true;
}

void FtpTestServer::stop()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    m_port = 0;
}

bool FtpTestServer::isRunning() const
{
    return m_process.state() == QProcess::Running && m_port != 0;
}

QString FtpTestServer::host() const
{
    return QStringLiteral("127.0.0.1:%1").arg(m_port);
}
