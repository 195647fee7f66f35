#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class QProcess;

// A virtual display (Xvfb) with a window manager (openbox) on it, for
// checks that only a real window manager shows: stacking, focus. The
// programs end with this object, the manager first.
class VirtualDisplay
{
public:
    VirtualDisplay();
    ~VirtualDisplay();

    // The programs this needs that are not installed, or empty; extra
    // names programs a test needs besides.
    static QStringList missingPrograms(const QStringList &extra = {});

    // Starts the server with one screen of size ("1024x768") and the
    // manager, a second time on a new display when the first does not come
    // up. False with what the programs said in why.
    bool start(const QString &size, QString *why);

    // The environment of a Qt program on the display.
    const QProcessEnvironment &environment() const { return m_environment; }
    QProcessEnvironment &environment() { return m_environment; }

    // xprop's answer on the display.
    QString xprop(const QStringList &arguments) const;

private:
    bool startOnce(const QString &size, QString *why);
    QProcess &started(const QString &program, const QStringList &arguments);

    std::vector<std::unique_ptr<QProcess>> m_processes; // servers and managers
    QProcessEnvironment m_environment = QProcessEnvironment::systemEnvironment();
};
