#pragma once

#include <string>

class IPrompt;

// The trial of a new release as the library's start-up call sees it
// (trialwatch.h): every call counts a start of the program on trial. When
// three starts before this one never reached good, the release has
// failed: the backup of its update is restored, the user is told, the
// older program is started and the host is asked to end. Otherwise the
// release is marked good as soon as the host's main window is up.
namespace TrialStart {

void onStartUp(IPrompt &prompt, const std::string &programPath);

} // namespace TrialStart
