#pragma once

#include <string>

// Whether this user may rewrite the program folder. A system-wide
// installation (a package under /usr, a folder under /opt) is not written
// by the update engine: its updates come from the package manager or an
// administrator, and the engine says so once instead of failing file by
// file.

// True when the folder exists and this user may create and replace files
// in it.
bool programFolderWritable(const std::string &programFolder);

// The one message for a program folder that this user cannot write.
std::string readOnlyInstallationMessage(const std::string &programFolder);
