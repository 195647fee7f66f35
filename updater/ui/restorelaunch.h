#pragma once

#include <QString>

#include <functional>
#include <string>

class IPrompt;
class QWidget;

// Going back to a kept release, as the release-notes window and the update
// settings window offer it: the user picks a release of the program folder
// (the restore dialog), confirms that the running application must stop,
// and the installer is started with "REST=" and the release; the host is
// then asked to end. A folder that keeps no release, or no choice, starts
// nothing.
namespace RestoreLaunch {

// Lets the user pick a backup release of the program folder; false when
// the choice was abandoned or nothing was chosen.
using Chooser = std::function<bool(const std::string &programFolder, std::string &release)>;

// The restore dialog as the chooser, owned by parent.
Chooser restoreDialog(IPrompt &prompt, QWidget *parent);

// " Attention!!", the rule line, what and the stop notice.
std::string attentionText(const std::string &what, const std::string &tail = std::string());
// The box for an installer or program that could not be started.
std::string cannotStartText(const QString &reason, const std::string &what);

// Starts the installer's command; on failure shows why and returns false
// (the host keeps running). On success the host is asked to end.
// what: "installer" or "program", for the box.
bool startInstaller(IPrompt &prompt, const QStringList &commandWords,
                    const std::string &what = "installer");

// The whole step: choose, confirm, start. True when the installer started.
bool offerRestore(IPrompt &prompt, const Chooser &choose, const std::string &programFolder,
                  const std::string &programName);

} // namespace RestoreLaunch
