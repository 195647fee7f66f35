#pragma once

#include "revision/relinfo.h"

#include <string>

// A release on trial: the files that an update run installed stay on
// probation until their program shows that it starts. The state lies in
// the program folder in kTrialFileName, written by the one writer
// (folderfiles.h); it names the backup folder of the run that installed
// the release (so that going back restores exactly that run's backup) and
// counts the starts that have not yet reached "good". No trial is open
// when the file is missing: the release passed, or the user went back to
// an older one by a restore of their own. The failed release's files are
// kept, for the maker's support, in the one folder kFailedReleaseFolder,
// which holds the newest failure only.
struct ReleaseTrial
{
    std::string release; // the backup folder of the run ("%Y%m%d%H%M")
    int starts = 0;      // starts since the update that never reached good

    // Starts in a row that never reach good and count as a failure.
    static constexpr int kFailedStarts = 3;
    // Seconds a program that does not mark itself good must run.
    static constexpr int kDefaultTrialSeconds = 20;
};

// False when no trial is open in the folder (or its file is unreadable).
bool readReleaseTrial(const std::string &programFolder, ReleaseTrial &trial);
// Opens (or opens again) the trial of the release a run just installed.
bool openReleaseTrial(const std::string &programFolder, const std::string &release,
                      std::string &error);
// Counts a start of the program on trial. True when a trial is open;
// trial then holds the state with this start counted.
bool countTrialStart(const std::string &programFolder, ReleaseTrial &trial);
// Ends the trial: the release is good, or it was given up. True when no
// trial is open afterwards.
bool closeReleaseTrial(const std::string &programFolder);

// The trial's text form and its reading (for the file; "C" numbers).
std::string releaseTrialText(const ReleaseTrial &trial);
bool parseReleaseTrial(const std::string &text, ReleaseTrial &trial);
