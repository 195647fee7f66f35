#pragma once

#include <string>

#include <sys/types.h>

// The program that the library starts after an update runs on trial under
// the installer's eyes. Processes started detached by this process (the
// library's start of the program) become its children: once enabled, this
// process is their reaper, so their end and its status reach it.
void becomeReaperOfStartedPrograms();

// A child process of this process, -1 when there is none.
pid_t startedChild();

// Watches the program started after the update of serverPath for the
// program at programPath during its trial; on a failure the older release
// comes back and a box says so. Nothing when no program was started or no
// release is on trial.
void watchStartedProgram(const std::string &serverPath, const std::string &programPath);
