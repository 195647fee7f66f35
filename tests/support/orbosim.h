#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// Runs the orbo-sim device simulator for the life of the object.
//
// The simulator is looked up in $ORBO_SIM, else next to the running test
// executable. The constructor waits (generously) for the terminal path the
// simulator prints first; path() is empty when that failed, and
// errorString() then says why. The destructor ends the simulator.
class OrboSim
{
public:
    explicit OrboSim(const QStringList &arguments = {}, int startTimeoutMs = 30000);
    ~OrboSim();
    OrboSim(const OrboSim &) = delete;
    OrboSim &operator=(const OrboSim &) = delete;

    // The pseudo-terminal a client opens, e.g. "/dev/pts/3".
    QString path() const { return m_path; }
    bool isRunning() const;
    qint64 processId() const { return m_process.processId(); }
    QString errorString() const { return m_error; }

    // Ends the simulator now (SIGTERM, then kill); true when it exited
    // normally with status 0.
    bool stop(int timeoutMs = 30000);

    static QString program();

private:
    QProcess m_process;
    QString m_path;
    QString m_error;
    bool m_stopped = false;
    bool m_cleanExit = false;
};
