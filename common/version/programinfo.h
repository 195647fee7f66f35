#pragma once

// --help and --version, answered the same way by every program.

// When the only argument is --help (or -h) or --version, prints the help
// text or "NAME VERSION" on standard output, sets status to 0 and returns
// true; the program then ends with that status.
bool answerInfoOption(int argc, char **argv, const char *name, const char *version,
                      const char *helpText, int &status);
