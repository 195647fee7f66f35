#pragma once

#include "restorelaunch.h"

#include <QDialog>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class QDateTime;
class IPrompt;
namespace Ui {
class MoravelReminder;
}

// The scheduler instance: one per process. It keeps the host program's
// server path, folder and name, decides at start-up whether a scheduled
// update check is due and runs it on a worker thread, and is the
// "Automatic Update Reminder" settings window (hidden unless the user
// edits the settings).
class CUpdateReminderDlg : public QDialog
{
    Q_OBJECT

public:
    // What an update check is given.
    struct CheckRequest
    {
        std::string serverPath;
        std::string programFolder;
        std::string programName;
        bool scheduledRun = false;
        // A check the user asked for now: a release in phases reaches this
        // installation at once.
        bool ignorePhases = false;
        // Set when the check should give up (the host is ending); null for
        // a check on request.
        const std::atomic<bool> *cancel = nullptr;
    };
    // Runs one update check. Called on the worker thread for a scheduled
    // run, on the user-interface thread otherwise.
    using CheckFunction = std::function<void(CUpdateReminderDlg &, const CheckRequest &)>;

    explicit CUpdateReminderDlg(IPrompt &prompt, QWidget *parent = nullptr);
    ~CUpdateReminderDlg() override;

    // Fills the paths from the first preparation: the server path as given
    // and the program path split into folder and name (case kept).
    void prepare(const std::string &serverPath, const std::string &programPath);
    // True once prepare() has run.
    bool isPrepared() const;

    // Decides whether a scheduled check is due at the moment now and starts
    // the worker if so. True when no check is due or a worker runs; false
    // when the worker could not be started.
    bool StartSchedule(const QDateTime &now);

    // Runs the check at once on the calling thread, not as a scheduled run
    // and past any phases. Always false.
    bool CheckForUpdates(const std::string &serverPath);

    // "Look for updates now": the check past any phases on the worker
    // thread, at once and without stamping the reminder. False when a
    // worker already runs or none may start.
    bool LookForUpdatesNow();

    // Arms the one-shot timer that shows the release notes on the
    // user-interface thread; callable from any thread.
    void armReleaseNotesTimer();

    void setServerPath(const std::string &serverPath);
    std::string serverPath() const;
    std::string programFolder() const;
    std::string programName() const;
    bool workerRunning() const { return m_workerRunning.load(); }
    // Waits until a running worker has ended (one let go by stopWorker too).
    void waitForWorker();
    // Asks a running worker to give up its wait or check; no worker starts
    // after this. Callable from any thread.
    void cancelWorker();
    // cancelWorker(), then waits at most bound for the worker to end. True
    // when no worker is left; false when it is still running (it is then
    // let go and ends on its own).
    bool stopWorker(std::chrono::milliseconds bound);

    // Replaces the check that runs (tests, and the engine's check).
    void setCheckFunction(CheckFunction check);
    // Replaces what the release-notes timer does.
    void setReleaseNotesStep(std::function<void(CUpdateReminderDlg &)> step);
    // Replaces the restore dialog behind "Restore older release ..." (tests).
    void setRestoreChooser(RestoreLaunch::Chooser chooser) { m_chooseRelease = std::move(chooser); }

    // The release-notes timer's id and period.
    static constexpr int kReleaseNotesTimerId = 1000;
    static constexpr int kReleaseNotesDelayMs = 100;
    // The worker waits this long before it checks.
    static constexpr int kWorkerDelayMs = 1000;
    // The worker's thread name (ps, debuggers).
    static constexpr const char *kWorkerThreadName = "moravel-remind";

protected:
    void showEvent(QShowEvent *event) override;

public slots:
    void accept() override;
    void reject() override;

private:
    void reload();
    void applyEnablingRule();
    void selectCheckMode(bool afterDays);
    void ReminderThread(CheckFunction check, CheckRequest request, std::string keyPath);
    void runReleaseNotesStep();
    std::string keyPath() const;

    std::unique_ptr<Ui::MoravelReminder> m_ui;
    IPrompt &m_prompt;

    mutable std::mutex m_pathsMutex; // the worker reads copies only
    std::string m_serverPath;
    std::string m_programName;
    std::string m_programFolder;
    RestoreLaunch::Chooser m_chooseRelease;
    bool m_prepared = false;

    CheckFunction m_check;
    std::function<void(CUpdateReminderDlg &)> m_releaseNotesStep;
    std::atomic<bool> m_workerRunning{false};
    std::atomic<bool> m_cancel{false};
    std::mutex m_workerMutex; // with m_workerChanged: a cancel, the worker's end
    std::condition_variable m_workerChanged;
    std::thread m_worker;
};
