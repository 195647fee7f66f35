#include "installtree.h"

#include "childprocess.h"

#include <QProcess>

QString installTree(const QString &prefix)
{
    QProcess install;
    endWithParent(install);
    install.setProcessChannelMode(QProcess::MergedChannels);
    install.start(
        QStringLiteral(CMAKE_PROGRAM),
        {QStringLiteral("--install"), QStringLiteral(BUILD_FOLDER), QStringLiteral("--prefix"), prefix});
    if (!install.waitForFinished(300000))
        return QStringLiteral("cmake --install did not end");
    if (install.exitStatus() != QProcess::NormalExit || install.exitCode() != 0)
        return QString::fromLocal8Bit(install.readAll());
    return QString();
}

QString installedProgramFolder(const QString &prefix)
{
    return prefix + QStringLiteral("/lib/spelmar");
}
