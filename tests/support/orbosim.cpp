#include "orbosim.h"

#include "childprocess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>

QString OrboSim::program()
{
    QString fromEnvironment = qEnvironmentVariable("ORBO_SIM");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("orbo-sim"));
}

OrboSim::OrboSim(const QStringList &arguments, int startTimeoutMs)
{
    QString executable = program();
    if (!QFileInfo(executable).isExecutable()) {
        m_error = QStringLiteral("no simulator at %1").arg(executable);
        m_stopped = true;
        return;
    }
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    endWithParent(m_process);
    m_process.start(executable, arguments);
    if (!m_process.waitForStarted(startTimeoutMs)) {
        m_error = QStringLiteral("cannot start %1: %2").arg(executable, m_process.errorString());
        m_stopped = true;
        return;
    }
    QDeadlineTimer deadline(startTimeoutMs);
    while (!m_process.canReadLine()) {
        if (m_process.state() != QProcess::Running || deadline.hasExpired()) {
            m_error = QStringLiteral("the simulator printed no terminal path");
            stop();
            return;
        }
        m_process.waitForReadyRead(100);
    }
    m_path = QString::fromLocal8Bit(m_process.readLine()).trimmed();
    if (m_path.isEmpty()) {
        m_error = QStringLiteral("the simulator printed an empty terminal path");
        stop();
    }
}

OrboSim::~OrboSim()
{
    stop();
}

bool OrboSim::isRunning() const
{
    return m_process.state() == QProcess::Running;
}

bool OrboSim::stop(int timeoutMs)
{
    if (m_stopped)
        return m_cleanExit;
    m_stopped = true;
    if (m_process.state() == QProcess::NotRunning)
        return false;
    m_process.terminate();
    if (!m_process.waitForFinished(timeoutMs)) {
        m_process.kill();
        m_process.waitForFinished(timeoutMs);
        return false;
    }
    m_cleanExit = m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
    return m_cleanExit;
}
