#include "virtualdisplay.h"

#include "childprocess.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTest>

VirtualDisplay::VirtualDisplay()
{
    m_environment.insert("QT_QPA_PLATFORM", "xcb");
    m_environment.remove("XDG_SESSION_TYPE");
    // libxkbcommon-x11 hands strndup X11 names that are not NUL-terminated;
    // the sanitizer's strict string checks take that for an overflow.
    if (m_environment.contains("ASAN_OPTIONS"))
        m_environment.insert("ASAN_OPTIONS", m_environment.value("ASAN_OPTIONS") + ":strict_string_checks=0");
}

VirtualDisplay::~VirtualDisplay()
{
    // Asked to end, managers first, so that a server removes its lock file
    // and socket.
    for (auto it = m_processes.rbegin(); it != m_processes.rend(); ++it) {
        (*it)->terminate();
        if (!(*it)->waitForFinished(10000))
            (*it)->kill();
    }
}

QStringList VirtualDisplay::missingPrograms(const QStringList &extra)
{
    QStringList missing;
    for (const QString &program : QStringList{"Xvfb", "openbox", "xprop"} + extra) {
        if (QStandardPaths::findExecutable(program).isEmpty())
            missing << program;
    }
    return missing;
}

bool VirtualDisplay::start(const QString &size, QString *why)
{
    return startOnce(size, why) || startOnce(size, why);
}

QString VirtualDisplay::xprop(const QStringList &arguments) const
{
    return runProgram(QStringList{"xprop"} + arguments, m_environment, {}, 10000).output;
}

QProcess &VirtualDisplay::started(const QString &program, const QStringList &arguments)
{
    m_processes.push_back(std::make_unique<QProcess>());
    QProcess &process = *m_processes.back();
    process.setProcessEnvironment(m_environment);
    endWithParent(process);
    process.start(program, arguments);
    return process;
}

bool VirtualDisplay::startOnce(const QString &size, QString *why)
{
    // The server picks a free display itself and writes its number on
    // standard output once it accepts connections. A first server that
    // did not come up stays meanwhile, so that a second gets another number.
    QProcess &server = started("Xvfb", {"-displayfd", "1", "-screen", "0", size + "x24", "-nolisten", "tcp"});
    const auto said = [](QProcess &process, const char *name) {
        return QString("%1 %2 (%3): %4")
            .arg(name, process.state() == QProcess::NotRunning ? "ended" : "running")
            .arg(process.exitCode())
            .arg(QString::fromLocal8Bit(process.readAllStandardError() + process.readAllStandardOutput())
                     .trimmed());
    };
    bool numbered = false;
    const int display =
        QTest::qWaitFor([&] { return server.canReadLine() || server.state() == QProcess::NotRunning; }, 60000)
            && server.canReadLine()
        ? server.readLine().trimmed().toInt(&numbered)
        : -1;
    if (!numbered || display < 0) {
        *why += said(server, "Xvfb") + "; ";
        return false;
    }
    m_environment.insert("DISPLAY", QString(":%1").arg(display));
    QProcess &manager = started("openbox", {"--sm-disable"});
    const auto up = [&] { return xprop({"-root", "_NET_SUPPORTING_WM_CHECK"}).contains("window id"); };
    (void)QTest::qWaitFor(
        [&] {
            return up() || manager.state() == QProcess::NotRunning || server.state() == QProcess::NotRunning;
        },
        30000);
    if (manager.state() == QProcess::Running && up())
        return true;
    *why += QString("on display :%1, ").arg(display) + said(manager, "openbox") + ", " + said(server, "Xvfb")
        + "; ";
    return false;
}
