#include "orbosim.h"

#include "childprocess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>

OrboSim::OrboSim(const QStringList &arguments, int startTimeoutMs)
{
    QString executable = qEnvironmentVariable("ORBO_SIM");
    if (executable.isEmpty())
        executable = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("orbo-sim"));
    if (!QFileInfo(executable).isExecutable()) {
        m_error = QStringLiteral("no simulator at %1").arg(executable);
        return;
    }
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    endWithParent(m_process);
    m_process.start(executable, arguments);
    QDeadlineTimer deadline(startTimeoutMs);
    while (!m_process.canReadLine() && m_process.state() != QProcess::NotRunning && !deadline.hasExpired())
        m_process.waitForReadyRead(100);
    m_path = QString::fromLocal8Bit(m_process.readLine()).trimmed();
    if (m_path.isEmpty())
        m_error = QStringLiteral("%1 printed no terminal path: %2").arg(executable, m_process.errorString());
}

OrboSim::~OrboSim()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(30000)) {
        m_process.kill();
        m_process.waitForFinished(30000);
    }
}
