#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// Runs the orbo-sim device simulator ($ORBO_SIM, else beside the test
// executable) for the life of the object. path() is the pseudo-terminal the
// simulator printed first, empty when it did not start (errorString() says
// why).
class OrboSim
{
public:
    explicit OrboSim(const QStringList &arguments = {}, int startTimeoutMs = 30000);
    ~OrboSim();
    OrboSim(const OrboSim &) = delete;
    OrboSim &operator=(const OrboSim &) = delete;

    QString path() const { return m_path; }
    QString errorString() const { return m_error; }
    qint64 processId() const { return m_process.processId(); }

private:
    QProcess m_process;
    QString m_path;
    QString m_error;
};

// Opens a device session's port on the simulator: LF line ends, 2 s read
// time-out. A template, so that the helpers need not link the device code.
template <typename Session>
bool openOnSim(const OrboSim &sim, Session &session)
{
    auto &config = session.config();
    config.port = sim.path().toStdString();
    config.separator = config.terminator = '\n';
    config.readTimeout = 2000;
    config.inQueueSize = 4096;
    return !sim.path().isEmpty() && session.port().Open(config) == 1;
}
