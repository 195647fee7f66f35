#pragma once

#include "updatereminderdlg.h"

class IPrompt;

// Binds the scheduler instance to the update engine: the update check and
// the release-notes step that follows the user's Yes. Each run has an FTP
// client of its own, so a scheduled check and one on request never share
// a connection.
namespace EngineBinding {

// The check the scheduler runs (on its worker or on request).
CUpdateReminderDlg::CheckFunction updateCheck(IPrompt &prompt);

// The release-notes step, on the user-interface thread: downloads
// LatestUpdate.html into the program folder and shows it in install mode.
void showLatestReleaseNotes(CUpdateReminderDlg &scheduler, IPrompt &prompt);

} // namespace EngineBinding
