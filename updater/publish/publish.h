#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

// Publishing an update directory: RelInfoRemote.rel for the files of a
// folder, each record with the file's SHA-256 as its third field and its
// size as the fourth, a line binding LatestUpdate.html (when the folder
// holds one) by its SHA-256 and size, and the list's detached signature
// RelInfoRemote.rel.sig (revisionsignature.h), and the lines of a phased
// or critical release.
//
// The records of a RelInfoRemote.rel already in the folder keep their
// order and revisions; files it does not name are added in name order
// with defaultRevision. RelInfoRemote.rel, its signature and
// LatestUpdate.html themselves are not listed. A listed file that is
// missing is an error.
// Every file of kBlockIndexMinSize bytes or more gets its block index
// NAME.zsync beside it (blockindex.h), bound by its SHA-256 and size as the
// record's fifth and sixth fields.
constexpr const char *kBlockIndexSuffix = ".zsync";
constexpr std::uint64_t kBlockIndexMinSize = 1024 * 1024;

struct PublishOptions
{
    std::string keyFile; // the private key (PEM)
    // Further keys that sign the list, each a Signature line of its own
    // (revisionsignature.h); a list of one key keeps the four-line file.
    std::vector<std::string> moreKeyFiles;
    // Above 0: the release reaches the installations in phases over this
    // many days from the publishing time (revision/releasephase.h).
    unsigned phasedDays = 0;
    bool critical = false;      // every installation at once
    std::uint64_t sequence = 0; // 0: one above the folder's last, at least the UTC seconds
    int expiresDays = 30;
    std::string defaultRevision = "1.00.00";
    std::function<std::time_t()> clock; // empty: the system clock
};

struct PublishResult
{
    std::size_t files = 0;
    std::uint64_t sequence = 0;
    std::string expires;
};

bool publishFolder(const std::string &folder, const PublishOptions &options, PublishResult &result,
                   std::string &error);
