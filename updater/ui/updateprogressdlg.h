#pragma once

#include <QDialog>

#include <memory>
#include <string>

class CUpdateJob;
class IPrompt;
class QTimer;
namespace Ui {
class MoravelProgress;
}

// Runs a download (or, in restore mode, the restore of a backup release)
// on a worker and shows its lines and progress. When the run is over it
// offers to start the program again and then asks the host to end.
class CUpdateProgressDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CUpdateProgressDlg(IPrompt &prompt, QWidget *parent = nullptr);
    ~CUpdateProgressDlg() override;

    void setRestoreMode(bool on) { m_restoreMode = on; }
    void setTakeAll(bool on) { m_takeAll = on; }
    // In restore mode: the backup release to go back to.
    void setServerPath(const std::string &path) { m_serverPath = path; }
    void setProgramFolder(const std::string &folder) { m_programFolder = folder; }
    void setProgramName(const std::string &name) { m_programName = name; }
    // The FTP server to use instead of the configured one (tests).
    void setHost(const std::string &host) { m_host = host; }

    // The list's lines, for display and tests.
    QStringList lines() const;
    bool workerRunning() const;

    static constexpr int kStartTimerMs = 1000; // timer 999
    static constexpr int kEndTimerMs = 100;    // timer 1000

public slots:
    void accept() override;
    void reject() override;

protected:
    void showEvent(QShowEvent *event) override;

private:
    class Report;

    void initialise();
    void startWorker();
    void addLine(const QString &line);
    void addJobLine(const QString &line);
    void removeLastLine();
    void onFinished();
    void endOfRun();
    void stopWorker();

    std::unique_ptr<Ui::MoravelProgress> m_ui;
    IPrompt &m_prompt;
    bool m_restoreMode = false;
    bool m_takeAll = false;
    std::string m_serverPath;
    std::string m_programFolder;
    std::string m_programName;
    std::string m_host;
    bool m_initialised = false;
    bool m_jobHasReported = false;
    QTimer *m_startTimer = nullptr;
    QTimer *m_endTimer = nullptr;
    std::unique_ptr<Report> m_report;
    std::unique_ptr<CUpdateJob> m_job;
};
