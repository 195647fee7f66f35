#pragma once

#include <string>

// Whether the update engine may rewrite a program folder. A folder that a
// package owns (Debian's package database names it) is left to its package
// whoever runs the engine, root included; a system-wide installation this
// user cannot write needs an administrator. The engine then says so once,
// instead of failing file by file.

enum class InstallationAccess
{
    Writable,
    Missing,     // the program folder does not exist
    NotWritable, // this user may not create and replace files in it
    Packaged     // a package owns it
};

// packageName: set to the owning package for Packaged.
InstallationAccess installationAccess(const std::string &programFolder,
                                      std::string *packageName = nullptr);

// True when the folder exists, no package owns it and this user may create
// and replace files in it.
bool programFolderWritable(const std::string &programFolder);

// The one message for a program folder that the engine does not write;
// empty when it may.
std::string installationRefusal(const std::string &programFolder);
