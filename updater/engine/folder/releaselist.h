#pragma once

#include <string>
#include <vector>

// The backup folders (releases) of a program folder: folders directly
// inside it whose name is 12 characters long and begins with "20", the
// local date and time of the update that made them ("%Y%m%d%H%M").
struct ReleaseList
{
    std::vector<std::string> names;    // folder names, oldest first
    std::vector<std::string> displays; // "2014-08-11   (07:30)"

    std::size_t size() const { return names.size(); }
};

// True when a folder name has the form of a release name.
bool isReleaseName(const std::string &name);

// "%s-%s-%s   (%s:%s)" of characters 1-4, 5-6, 7-8, 9-10 and 11-12.
std::string releaseDisplayText(const std::string &name);

// True when the release was made before 29 March 2010 (its first eight
// characters read as a number are below 20100329); such releases cannot
// restore later ones.
bool isOldRelease(const std::string &name);

// Fills list with the releases of programFolder in ascending order of
// name. Returns whether at least one was found.
bool ListReleases(ReleaseList &list, const std::string &programFolder);

// The files to copy back when going back to release: the plain files of
// every release, its sub-folders included, from the newest down to the
// named one, so that the named release's copies come last. sources holds
// "RELEASE/file" or "RELEASE/sub/file" (relative to the program folder),
// targets "file" or "sub/file". Only real folders are releases, and
// symbolic links inside them are passed over. False when the program
// folder holds no releases or none of that exact name.
bool CollectRestoreFiles(const std::string &programFolder, const std::string &release,
                         std::vector<std::string> &sources, std::vector<std::string> &targets);
