#include "moravelinstance.h"

#include "enginebinding.h"
#include "folder/installationaccess.h"
#include "libraryclosing.h"
#include "folder/programpath.h"
#include "releasenotesdlg.h"
#include "trialstart.h"
#include "updateprogressdlg.h"
#include "updatereminderdlg.h"
#include "widgetprompt.h"

#include <QApplication>
#include <QDateTime>
#include <QWindow>

#include <chrono>

namespace {

// The one scheduler instance; made by the first call that needs it and
// kept until the process ends. Its worker is stopped before that.
CUpdateReminderDlg *g_scheduler = nullptr;

// How long the host's ending waits for the reminder's worker. The worker
// sees the cancel within a twentieth of a second anywhere but while
// libcurl is being loaded.
constexpr std::chrono::milliseconds kWorkerStopBound{1000};

// The library's closing step: the reminder's check gives up, its boxes
// are answered without being shown, and its worker is joined.
void closeDown()
{
    if (g_scheduler)
        g_scheduler->cancelWorker();
    CWidgetPrompt::closeDown();
    if (g_scheduler)
        g_scheduler->stopWorker(kWorkerStopBound);
}

// A folder that the engine does not write gets the one notice, and no
// progress window.
bool refuseInstallation(const std::string &programFolder)
{
    const std::string refusal = installationRefusal(programFolder);
    if (refusal.empty())
        return false;
    CWidgetPrompt::instance().message(refusal, std::string(), IPrompt::Buttons::Ok,
                                      IPrompt::Icon::Information);
    return true;
}

} // namespace

bool CMoravelInstance::ensureApplication()
{
    if (QCoreApplication::instance())
        return qobject_cast<QApplication *>(QCoreApplication::instance()) != nullptr;
    // A host without Qt: the library's own application object, on the
    // calling thread, for this and every later call.
    static int argc = 1;
    static char name[] = "Moravel";
    static char *argv[] = {name, nullptr};
    static QApplication *application = new QApplication(argc, argv);
    return application != nullptr;
}

CUpdateReminderDlg &CMoravelInstance::scheduler()
{
    if (!g_scheduler) {
        IPrompt &prompt = CWidgetPrompt::instance();
        g_scheduler = new CUpdateReminderDlg(prompt);
        g_scheduler->setCheckFunction(EngineBinding::updateCheck(prompt));
        g_scheduler->setReleaseNotesStep([&prompt](CUpdateReminderDlg &instance) {
            EngineBinding::showLatestReleaseNotes(instance, prompt);
        });
        LibraryClosing::install(&closeDown);
    }
    return *g_scheduler;
}

CUpdateReminderDlg &CMoravelInstance::prepare(const std::string &serverPath,
                                              const std::string &programPath)
{
    // The first preparation fixes the paths. An instance that only the
    // settings window made has no program folder yet and takes them here,
    // so that its checks never work in an empty folder.
    CUpdateReminderDlg &instance = scheduler();
    if (!instance.isPrepared()) {
        instance.prepare(serverPath, programPath);
        instance.hide();
    }
    return instance;
}

void CMoravelInstance::showReleaseInfo(const std::string &pagePath)
{
    if (!ensureApplication())
        return;
    CReleaseNotesDlg notes(CWidgetPrompt::instance());
    notes.setPagePath(pagePath);
    notes.exec();
}

void CMoravelInstance::updateInfo(const std::string &serverPath, const std::string &programPath)
{
    if (!ensureApplication())
        return;
    prepare(serverPath, programPath).CheckForUpdates(serverPath);
}

bool CMoravelInstance::startSchedule(const std::string &serverPath, const std::string &programPath)
{
    if (!ensureApplication())
        return true; // nothing can be shown, so no check is due
    TrialStart::onStartUp(CWidgetPrompt::instance(), programPath);
    const bool started =
        prepare(serverPath, programPath).StartSchedule(QDateTime::currentDateTime());
    // After everything this thread set up: the worker is stopped before
    // any of it is torn down.
    LibraryClosing::armExitHandler();
    return started;
}

void CMoravelInstance::updateFiles(const std::string &serverPath, const std::string &programPath,
                                   bool takeAll)
{
    if (!ensureApplication())
        return;
    const ProgramPath split = splitProgramPath(programPath);
    if (refuseInstallation(split.folder))
        return;
    CUpdateProgressDlg progress(CWidgetPrompt::instance());
    progress.setRestoreMode(false);
    progress.setTakeAll(takeAll);
    progress.setServerPath(serverPath);
    progress.setProgramFolder(split.folder);
    progress.setProgramName(split.name);
    progress.exec();
}

void CMoravelInstance::restoreFiles(const std::string &release, const std::string &programPath)
{
    if (!ensureApplication())
        return;
    const ProgramPath split = splitProgramPath(programPath);
    if (refuseInstallation(split.folder))
        return;
    CUpdateProgressDlg progress(CWidgetPrompt::instance());
    progress.setRestoreMode(true);
    progress.setServerPath(release);
    progress.setProgramFolder(split.folder);
    progress.setProgramName(split.name);
    progress.exec();
}

void CMoravelInstance::setupScheduler(const std::string &serverPath)
{
    if (!ensureApplication())
        return;
    CUpdateReminderDlg &instance = scheduler();
    instance.setServerPath(serverPath);
    if (instance.isVisible())
        return;
    // A host whose main window runs modally would block a free window;
    // tied to the modal window the settings stay usable.
    QWidget *modal = QApplication::activeModalWidget();
    if (modal && modal != &instance) {
        instance.winId();
        if (QWindow *window = instance.windowHandle())
            window->setTransientParent(modal->window()->windowHandle());
    }
    instance.show();
}
