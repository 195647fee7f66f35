#pragma once

#include "relinfolist.h"

#include <string>
#include <string_view>
#include <vector>

// Revision-information files (RelInfoRemote.rel on the server,
// RelInfoLocal.rel in the program folder and in every backup folder).
//
// Format: 8-bit text, one record per CR LF line, fields split at ";".
// Field 1 is the file name relative to the program folder, field 2 the
// revision; a server record may carry a third field of 64 hex digits, the
// SHA-256 of the file, and a fourth, the file's size in bytes (decimal
// digits). A line whose first field is empty is no record: a server list
// uses one, "; LatestUpdate.html; <SHA-256>; <size>", to name the release
// notes that belong to it (readReleaseNotesSeal). White space around a field is not part of it; a
// line whose trimmed first field is empty is skipped.
//
// Every function takes explicit paths; none relies on the current
// directory. Input of any shape ends in bounded time and memory: lines
// longer than kMaxRelInfoLineLength are skipped, files larger than
// kMaxRelInfoFileSize are refused.
//
// kMaxRelInfoLineLength bounds the reader and the writer alike: a record
// is taken only when the line the writer makes of it (name, "; ",
// revision) fits (relInfoRecordFits), so every record read is written back
// in a form that the next read takes again.

constexpr const char *kRemoteRelInfoName = "RelInfoRemote.rel";
constexpr const char *kLocalRelInfoName = "RelInfoLocal.rel";
constexpr std::size_t kMaxRelInfoLineLength = 8192; // bytes, without the CR LF
constexpr long long kMaxRelInfoFileSize = 64LL * 1024 * 1024;

// True when the written line of a record (name, "; ", revision) is at most
// kMaxRelInfoLineLength bytes long.
bool relInfoRecordFits(std::string_view fileName, std::string_view revision);

// Field n (counting from 1) of text split at every separator: "a;;b" has
// the fields "a", "" and "b"; a trailing separator gives an empty last
// field; a field number beyond the last (or below 1) gives empty text.
std::string GetField(const std::string &text, int n, char separator = ';');

// Strips spaces, tabs, CR, LF, VT and FF from both ends.
std::string trimField(const std::string &text);

// Appends the records of the file at path to list (file name and revision;
// transfer marks stay empty). False when the file does not exist or cannot
// be read; the list is then unchanged.
bool ReadLocalRelInfo(RelInfoList &list, const std::string &path);

// As ReadLocalRelInfo, and every record gets the transfer mark "0",
// when its third field is 64 hex digits the SHA-256 (lower case), and when
// its fourth field is a decimal number the size.
bool ReadRemoteRelInfo(RelInfoList &list, const std::string &path);
// As ReadRemoteRelInfo, over a server list's bytes (at most
// kMaxRelInfoFileSize) as they arrived: the records are those of exactly
// the bytes a signature check saw.
bool readRemoteRelInfo(RelInfoList &list, std::string_view bytes);

// Appends the plain files of one backup folder (bare names sorted by byte
// value, no sub-folders) with the revision the folder's own
// RelInfoLocal.rel gives each, "-" for files it does not name (names
// compared with case; a later record wins; an empty revision is ignored).
// When the folder has no RelInfoLocal.rel an empty one is created. Returns
// whether at least one file was found.
bool ListBackupFolder(const std::string &folder, RelInfoList &list);

// True when remoteRevision is newer than localRevision by the revision
// rule: each text gets "00000000" appended; the major is its leading
// integer, the minor the decimal number from index 2 (remote major <= 9) or
// index 3 (remote major >= 10) on, the same index for both. Newer means a
// greater major, or an equal major and a greater minor. Parsing does not
// depend on the locale and does not overflow.
bool isNewerRevision(std::string_view remoteRevision, std::string_view localRevision);

// Reduces remote to the records that are newer than the local record of
// the same name (compared without regard to ASCII letter case) or have no
// local record.
// takeAll keeps remote whole and returns true at once. Returns whether
// remote still holds a record. local is not changed.
bool SelectNewerFiles(const RelInfoList &local, RelInfoList &remote, bool takeAll);

// The names of the program folder that belong to the update engine, which
// no server record may name (compared without regard to ASCII letter
// case, backslash and "/" both separating parts): the folder lock, the local
// list, the accepted sequence and root, the phase number, every name beginning
// "RelInfoRemote." in the folder itself (the server's list, its
// signature, the validators kept for them), every name whose last part
// begins "upd_" (set-aside and half-written files), and every name of or
// inside a backup folder (a first part of twelve digits), the trial state
// of a new release and every name of or inside the folder that keeps a
// failed release (releasetrial.h). Returns why name is one of them, or
// empty text.
constexpr const char *kLockFileName = ".moravel.lock";
constexpr const char *kAcceptedSequenceName = "RelInfoLocal.seq";
// The newest root of trust accepted (jobs/rootchain.h), and the private
// number that places this installation in a phased release.
constexpr const char *kAcceptedRootName = "RelInfoLocal.root";
constexpr const char *kPhaseNumberName = "RelInfoLocal.phase";
constexpr const char *kTrialFileName = "RelInfoLocal.trial";
constexpr const char *kFailedReleaseFolder = "RelInfoFailed";
constexpr const char *kRemoteFilePrefix = "RelInfoRemote.";
constexpr const char *kAsideFilePrefix = "upd_";
std::string reservedNameReason(std::string_view name);

// Drops the server records that no run installs: names that are not safe
// relative names (isSafeRelativeName) or are reserved (reservedNameReason),
// and every later record of a name listed before (compared without regard
// to case: one file). Returns a
// readable reason for each of the first 100 dropped records and, when more
// were dropped, one last line that counts the others. The update check and
// the download both apply it before SelectNewerFiles, so they agree on
// what is newer.
std::vector<std::string> dropUnusableRecords(RelInfoList &remote);

// Merges the transferred remote records into local (revision taken over,
// or new record appended; a new file that was not transferred is appended
// with "0.00.00") and replaces the file at path atomically with the
// records, each written as name, "; ", revision, CR LF (a record that does
// not fit kMaxRelInfoLineLength, which no read yields, is left out).
// Returns false when the file could not be written; the old file is then
// left as it was.
bool WriteLocalRelInfo(RelInfoList &local, const RelInfoList &remote, const std::string &path);

// A file size as the fourth field gives it: 1 to 20 decimal digits that fit
// 64 bits.
bool parseFileSize(std::string_view text, std::uint64_t &size);

// The release notes' line of a server list: its SHA-256 (lower case) and
// size. found stays false when the list names none.
struct ReleaseNotesSeal
{
    bool found = false;
    std::string sha256;
    std::uint64_t size = 0;
};
constexpr const char *kReleaseNotesName = "LatestUpdate.html";
ReleaseNotesSeal readReleaseNotesSeal(std::string_view listBytes);
// The line that names the release notes in a server list (with CR LF).
std::string releaseNotesSealLine(const std::string &sha256, std::uint64_t size);

// True when text is 64 hex digits (either case): a SHA-256 as text.
bool isSha256Text(std::string_view text);

// True when name (as listed by the server) is safe to use below the program
// folder: not empty, not absolute, no drive letter, no empty part, no "."
// or ".." part, no control characters. "\" and "/" both separate parts.
bool isSafeRelativeName(std::string_view name);

// The local path of a listed name: programFolder (a trailing "/" or "\" is
// dropped), "/", and the name with every "\" turned into "/".
std::string localPathFor(const std::string &programFolder, const std::string &name);
