#pragma once

#include "folder/releasetrial.h"

#include <chrono>
#include <string>
#include <vector>

#include <sys/types.h>

// The trial of a new release (releasetrial.h) as the installer and
// moravel-cli run it: the program they start after an update is watched
// until it has run the trial time without failing, or has marked its
// release good itself (the trial is closed), whichever comes first. When it
// ends with a failure exit status or a signal during the trial, the backup
// of the run that installed it is restored as a restore restores it, the
// failed release's files are kept in the one failed-release folder, and the
// older program is started.

// Going back from a failed release.
struct RollbackResult
{
    bool rolledBack = false;    // every file of the backup is back
    std::string release;        // the backup folder restored
    std::string failedRevision; // the program's revision in the failed release
    std::string keptIn;         // where the failed release's files are kept
    std::string problem;        // why it could not be done (or not fully)
};

// Restores the backup of the open trial and closes the trial; first keeps
// the files that the restore replaces (and RelInfoLocal.rel) in
// kFailedReleaseFolder, which is emptied first. Nothing happens when no
// trial is open (it passed, or the user restored a release of their own):
// problem says so then.
RollbackResult rollBackRelease(const std::string &programFolder, const std::string &programName);

// How a watched start ended.
struct TrialOutcome
{
    enum class End
    {
        NotOnTrial, // no trial open: the program was started, not watched
        Passed,     // ran the trial time, or marked its release good
        EndedWell,  // ended with status 0 during the trial; still on trial
        Failed      // failure status or signal during the trial
    };
    End end = End::NotOnTrial;
    int exitStatus = 0; // Failed: when it exited
    int signal = 0;     // Failed: the signal that ended it (0: none)
    // Failed without a watched end: the starts in a row that never
    // reached good (0 for a watched start).
    int unfinishedStarts = 0;
    RollbackResult rollback;
    bool olderStarted = false;
    std::string olderStartError;
    // From the failing program's end until the older program runs.
    std::chrono::milliseconds rollbackTime{0};
};

// The trial time of a server path: its `TrialSeconds` setting (1 to
// 3600), else ReleaseTrial::kDefaultTrialSeconds.
std::chrono::seconds trialTimeFor(const std::string &serverPath);

// Starts path with arguments (no shell) in the current directory; the
// process id, or -1 with the reason in error.
pid_t startProgram(const std::string &path, const std::vector<std::string> &arguments,
                   std::string &error);

// Watches pid (a child of this process) running the program programName
// of programFolder on trial, counting its start. Returns when the trial
// has ended one way or the other; the program may run on afterwards. The
// older program is started as startPath (empty: programFolder/programName).
TrialOutcome watchTrial(pid_t pid, const std::string &programFolder, const std::string &programName,
                        std::chrono::milliseconds trialTime,
                        const std::string &startPath = std::string());

// "ended with exit status 3", "ended with signal SIGSEGV" or "did not get
// through 3 starts in a row".
std::string howItEnded(const TrialOutcome &outcome);
// The failure of a program whose starts nobody watched: unfinishedStarts
// starts never reached good. Goes back as watchTrial does, without
// starting the older program (outcome.olderStarted stays false).
TrialOutcome rollBackUnfinishedStarts(const std::string &programFolder,
                                      const std::string &programName, int unfinishedStarts);
// The text that tells the user that a release failed and the older one is
// back (or could not be brought back).
std::string failedReleaseText(const TrialOutcome &outcome, const std::string &programFolder,
                              const std::string &programName);
