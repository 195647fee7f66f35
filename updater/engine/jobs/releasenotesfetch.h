#pragma once

#include "trust/updatesecurity.h"

#include <atomic>
#include <string>

// Fetches the release notes (LatestUpdate.html) for the release-notes
// window, on the caller's thread (a worker: nothing here touches a
// window).
//
// The page is bounded like every transfer: by the size that the signed
// revision file gives it when a key is in force, else by
// kMaxReleaseNotesBytes, and by the minimum rate. With a key in force the
// server's RelInfoRemote.rel is fetched and checked again (revisionfetch.h)
// and the page must match the SHA-256 and size of its line in those very
// bytes (relinfo.h); a page that does not, or a list that names none, is
// not shown. The page shown is the page fetched; a copy is kept in the
// program folder as LatestUpdate.html. The fetch holds the folder's lock
// for its writes, and a page refused leaves the files kept before as they
// are.
struct ReleaseNotesResult
{
    bool shown = false;  // html holds the page
    std::string html;    // the page's bytes
    std::string problem; // one line why there is no page to show
    std::string host;    // the server asked
};

ReleaseNotesResult fetchReleaseNotes(const std::string &serverPath,
                                     const std::string &programFolder,
                                     const UpdateSecurity &security,
                                     const std::atomic<bool> *cancel);
