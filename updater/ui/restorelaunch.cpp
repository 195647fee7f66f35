#include "restorelaunch.h"

#include "launchinstaller.h"
#include "moravelstrings.h"
#include "prompt.h"
#include "restoredlg.h"

namespace RestoreLaunch {

Chooser restoreDialog(IPrompt &prompt, QWidget *parent)
{
    return [&prompt, parent](const std::string &folder, std::string &release) {
        CRestoreDlg dialog(prompt, parent);
        dialog.setProgramFolder(folder);
        if (dialog.exec() != QDialog::Accepted)
            return false;
        release = dialog.chosenRelease();
        return !release.empty();
    };
}

std::string attentionText(const std::string &what, const std::string &tail)
{
    return std::string(" Attention!!\n") + MoravelText::kRuleLine + "\n" + what
        + " to stop the running application!\n" + tail;
}

std::string cannotStartText(const QString &reason, const std::string &what)
{
    return " The " + what + " could not be started!\n" + std::string(MoravelText::kRuleLine) + "\n "
        + reason.toStdString() + "\n\n The application keeps running.\n";
}

bool startInstaller(IPrompt &prompt, const QStringList &commandWords, const std::string &what)
{
    // The host ends only when the installer runs; otherwise the user is
    // told why, and everything stays as it was.
    QString reason;
    if (!LaunchInstaller(commandWords, &reason)) {
        prompt.message(cannotStartText(reason, what), std::string(), IPrompt::Buttons::Ok,
                       IPrompt::Icon::Stop);
        return false;
    }
    requestHostQuit();
    return true;
}

bool offerRestore(IPrompt &prompt, const Chooser &choose, const std::string &programFolder,
                  const std::string &programName)
{
    std::string release;
    // An empty release would start the installer for nothing.
    if (!choose || !choose(programFolder, release) || release.empty())
        return false;
    const std::string text =
        attentionText(" To install the old software release it is necessary\n");
    if (prompt.message(text, std::string(), IPrompt::Buttons::OkCancel, IPrompt::Icon::Warning)
        != IPrompt::Answer::Ok)
        return false;
    return startInstaller(prompt, restoreCommand(release, programFolder, programName));
}

} // namespace RestoreLaunch
