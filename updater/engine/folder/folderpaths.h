#pragma once

#include <string>

// Paths below a program folder as the update engine writes them: never
// through a symbolic link. Names are relative names as the revision files
// list them ("\" or "/" separate sub-folders).

// True when the path of name below base does not pass through a symbolic
// link or a file: every folder part of name (not its last part) that
// exists is a real folder. Missing parts are allowed (they are created
// later, as real folders).
bool parentFoldersAreReal(const std::string &base, const std::string &name);

// True when path is a real folder (not a symbolic link to one).
bool isRealFolder(const std::string &path);

// The relative name whose file is written for name: name itself, or, when
// name is a symbolic link to another name of its own folder, possibly
// through more such links (a library's version links: libX.so ->
// libX.so.3 -> libX.so.3.0.0), the regular file at the end of that chain,
// so that every name of the chain shows the new content. A link that
// leads out of its folder, or to anything but a regular file, is not
// followed: name itself is returned, and the link is replaced.
std::string linkedFileInFolder(const std::string &base, const std::string &name);
