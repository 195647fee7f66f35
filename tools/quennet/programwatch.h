#pragma once

#include <chrono>
#include <string>

// True while a process other than this one runs the program file at path
// (compared by the process's executable, symbolic links resolved).
bool isProgramRunning(const std::string &path);

// Waits until no process runs the program at path, at most timeout.
// True when it ended (or never ran); false on time-out.
bool waitForProgramEnd(const std::string &path, std::chrono::milliseconds timeout);
