#pragma once

#include <atomic>
#include <string>

// File steps shared by the download and the restore: backup folders and
// the upd_ files that hold an installed file's old content while its
// replacement moves in.
//
// Every function takes the program folder explicitly; none relies on the
// process's current directory. Names are relative names as the revision
// files list them ("\" or "/" separate sub-folders); the caller refuses
// unsafe names (isSafeRelativeName) before handing them over.

// The upd_ name of a relative name: "upd_" put in front of its last part,
// the sub-folder and its separator kept ("sub\App.so" -> "sub\upd_App.so").
std::string asideName(const std::string &name);

// Creates the folder that holds the last part of name below the program
// folder, one level only, reached without following a link. True when
// name has no folder part or the folder exists (a real folder, not a
// symbolic link) or was created.
bool EnsureParentFolder(const std::string &programFolder, const std::string &name);

// Sets the installed file aside under its upd_ name, after deleting an
// earlier upd_ file of that name. The installed file keeps its own name
// while the upd_ name holds the same content (a hard link, or a copy where
// the file system has none), so that the installed file is never absent:
// the replacement later moves in over it by one rename. True when there
// was nothing to set aside or the upd_ name now holds the file.
bool MoveAside(const std::string &programFolder, const std::string &name);

// Deletes the upd_ file of a name. True when it is gone afterwards.
bool DropAside(const std::string &programFolder, const std::string &name);

// Deletes every file of the program folder (not of its sub-folders) whose
// name begins with "upd_", and the update engine's own leftovers at every
// depth below it: half-written files ("upd_NAME.part" and
// "upd_NAME.part-XXXXXX") and set-aside files that are still hard links of
// the installed file beside them. Other files of the sub-folders stay,
// whatever their names; symbolic links are not followed. True when all of
// them are gone.
bool PurgeAsideFiles(const std::string &programFolder);

// True for the names the engine gives half-written files:
// "upd_NAME.part" and "upd_NAME.part-XXXXXX".
bool isPartialFileName(const std::string &fileName);
