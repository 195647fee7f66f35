#pragma once

#include "sha256.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class Sha256Digest;

// A file that replaces its target only once it is complete: the data go to
// a temporary file beside the target ("upd_name.part-XXXXXX", with the
// target's permissions when it exists), and commit() renames it over the
// target. Without commit() (a failed or cancelled transfer) the temporary
// file is removed and the target stays as it was; one left behind by a
// killed process carries the upd_ prefix, so the next update check
// purges it with the set-aside files.
//
// The target is a relative name below a folder and is reached as
// replaceFileInFolder reaches it (folderfiles.h): the folder is opened
// once, its sub-folders without following links, and the temporary file
// and the rename stay within the sub-folder so opened. A link under the
// target's name is replaced, never written through.
class CReplacingFile
{
public:
    static constexpr std::uint64_t kEarlyWriteOutBytes = 128 * 1024;

    // relativeName below folder ("\" or "/" separate its sub-folders,
    // which must exist); withSha256: keep a SHA-256 of everything written.
    CReplacingFile(const std::string &folder, const std::string &relativeName,
                   bool withSha256 = false);
    ~CReplacingFile();

    CReplacingFile(const CReplacingFile &) = delete;
    CReplacingFile &operator=(const CReplacingFile &) = delete;

    bool open();
    // The permissions the target gets (instead of its own, or 0644).
    bool setPermissions(unsigned mode);
    bool write(const char *data, std::size_t size);
    // Appends the rest of the file open as source, the kernel copying where
    // it can; a cancel flag that becomes true stops it within a few
    // megabytes (false).
    bool copyFrom(int source, const std::atomic<bool> *cancel = nullptr);
    // Drops everything written so far (the SHA-256 starts afresh too).
    bool restart();
    // Lower-case hex digest of the data so far; empty without withSha256.
    std::string sha256Hex() const;
    // Renames over the target, after forcing the data to disk when sync;
    // without, the write-out of kEarlyWriteOutBytes or more is started and
    // not waited for.
    bool commit(bool sync = true);
    void discard();

    // Why the last step failed, and its errno (0 when none applies).
    const std::string &error() const { return m_error; }
    int lastErrno() const { return m_errno; }

private:
    void setError(const std::string &what, int number);

    std::string m_folder;
    std::string m_name;
    std::string m_leaf;     // the name's last part
    std::string m_tempName; // beside it
    int m_folderFd = -1;    // the sub-folder that holds both
    std::string m_error;
    int m_errno = 0;
    int m_fd = -1;
    std::uint64_t m_written = 0; // bytes in the temporary file
    std::unique_ptr<Sha256> m_hash;
};
