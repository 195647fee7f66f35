#include "trialstart.h"

#include "folder/programpath.h"
#include "folder/releasetrial.h"
#include "jobs/trialwatch.h"
#include "launchinstaller.h"
#include "prompt.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>

namespace {

constexpr int kLookMs = 100;
// A host that never shows a window stops being looked at.
constexpr int kMaxLooks = 10 * 60 * 1000 / kLookMs;

bool hostWindowShown()
{
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows)
        if (window->isVisible() && !qobject_cast<QMessageBox *>(window))
            return true;
    return false;
}

void markGoodWhenShown(const std::string &programFolder)
{
    auto *look = new QTimer(QCoreApplication::instance());
    look->setInterval(kLookMs);
    auto looks = std::make_shared<int>(0);
    QObject::connect(look, &QTimer::timeout, look, [look, looks, programFolder] {
        if (hostWindowShown())
            closeReleaseTrial(programFolder);
        if (hostWindowShown() || ++*looks >= kMaxLooks)
            look->deleteLater();
    });
    look->start();
}

} // namespace

namespace TrialStart {

void onStartUp(IPrompt &prompt, const std::string &programPath)
{
    const ProgramPath split = splitProgramPath(programPath);
    ReleaseTrial trial;
    if (split.name.empty() || !countTrialStart(split.folder, trial))
        return;
    if (trial.starts <= ReleaseTrial::kFailedStarts) {
        markGoodWhenShown(split.folder);
        return;
    }
    TrialOutcome outcome = rollBackUnfinishedStarts(split.folder, split.name, trial.starts - 1);
    QString reason;
    if (outcome.rollback.rolledBack) {
        outcome.olderStarted =
            LaunchInstaller({QString::fromStdString(split.folder + "/" + split.name)}, &reason);
        outcome.olderStartError = reason.toStdString();
    }
    prompt.message(failedReleaseText(outcome, split.folder, split.name), std::string(),
                   IPrompt::Buttons::Ok, IPrompt::Icon::Stop);
    // The failed release must not run on beside the older one.
    if (outcome.olderStarted)
        requestHostQuit();
}

} // namespace TrialStart
