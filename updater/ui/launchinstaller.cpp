#include "launchinstaller.h"

#include "programinfo.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace {

QString programPath(const std::string &folder, const std::string &name)
{
    return QString::fromStdString(folder) + QLatin1Char('/') + QString::fromStdString(name);
}

bool isProgramFile(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

QString hostProgramFolder()
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    return QString::fromStdString(executableFolder());
}

} // namespace

QStringList installNewCommand(const std::string &serverPath, const std::string &programFolder,
                              const std::string &programName)
{
    return {QString::fromLatin1(kInstallerProgram), QString::fromStdString(serverPath),
            programPath(programFolder, programName)};
}

QStringList installAllCommand(const std::string &serverPath, const std::string &programFolder,
                              const std::string &programName)
{
    return {QString::fromLatin1(kInstallerProgram), QStringLiteral("instcomplete"),
            QString::fromStdString(serverPath), programPath(programFolder, programName)};
}

QStringList restoreCommand(const std::string &release, const std::string &programFolder,
                           const std::string &programName)
{
    return {QString::fromLatin1(kInstallerProgram),
            QStringLiteral("REST=") + QString::fromStdString(release),
            programPath(programFolder, programName)};
}

QString findProgram(const QString &program)
{
    if (program.isEmpty())
        return QString();
    if (program.contains(QLatin1Char('/')))
        return isProgramFile(program) ? program : QString();

    const QString hostFolder = hostProgramFolder();
    if (!hostFolder.isEmpty()) {
        const QString beside = QDir(hostFolder).filePath(program);
        if (isProgramFile(beside))
            return beside;
    }
    const QString onPath = QStandardPaths::findExecutable(program);
    if (!onPath.isEmpty())
        return onPath;
    const QString here = QDir::current().filePath(program);
    return isProgramFile(here) ? here : QString();
}

bool LaunchInstaller(const QStringList &commandWords, QString *reason)
{
    const auto failed = [reason](const QString &why) {
        if (reason)
            *reason = why;
        return false;
    };
    if (commandWords.isEmpty())
        return failed(QStringLiteral("no program named"));
    const QString program = findProgram(commandWords.first());
    if (program.isEmpty())
        return failed(QStringLiteral("the program %1 was not found beside %2, on the search path "
                                     "or in %3")
                          .arg(commandWords.first(), hostProgramFolder(), QDir::currentPath()));
    QProcess process;
    process.setProgram(program);
    process.setArguments(commandWords.mid(1));
    process.setWorkingDirectory(QDir::currentPath());
    if (!process.startDetached())
        return failed(program + QStringLiteral(": ") + process.errorString());
    return true;
}

void requestHostQuit()
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return;
    QMetaObject::invokeMethod(
        app, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
}
