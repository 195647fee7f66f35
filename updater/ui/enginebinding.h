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

// The release-notes step, on the user-interface thread: opens the window in
// install mode at once and shows LatestUpdate.html in it once a worker has
// fetched and checked it (releasenotesfetch.h), or one line why not.
void showLatestReleaseNotes(CUpdateReminderDlg &scheduler, IPrompt &prompt);

} // namespace EngineBinding
