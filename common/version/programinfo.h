#pragma once

// --help and --version, answered the same way by every program, and where
// the running program lies.

#include <string>

// When the only argument is --help (or -h) or --version, prints the help
// text or "NAME VERSION" on standard output, sets status to 0 and returns
// true; the program then ends with that status.
bool answerInfoOption(int argc, char **argv, const char *name, const char *version,
                      const char *helpText, int &status);

// The folder of the running program's file (/proc/self/exe), without a
// final '/'; empty when it cannot be read.
std::string executableFolder();
