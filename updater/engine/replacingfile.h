#pragma once

#include <QCryptographicHash>

#include <cstddef>
#include <memory>
#include <string>

// A file that replaces its target only once it is complete: the data go to
// a temporary file beside the target (".name.part-XXXXXX", with the
// target's permissions when it exists), and commit() renames it over the
// target. Without commit() (a failed or cancelled transfer) the temporary
// file is removed and the target stays as it was.
class CReplacingFile
{
public:
    // withSha256: keep a SHA-256 of everything written.
    explicit CReplacingFile(const std::string &targetPath, bool withSha256 = false);
    ~CReplacingFile();

    CReplacingFile(const CReplacingFile &) = delete;
    CReplacingFile &operator=(const CReplacingFile &) = delete;

    bool open();
    bool write(const char *data, std::size_t size);
    // Lower-case hex digest of the data so far; empty without withSha256.
    std::string sha256Hex() const;
    // Flushes to disk and renames over the target.
    bool commit();
    void discard();

    // Why the last step failed.
    const std::string &error() const { return m_error; }

private:
    std::string m_targetPath;
    std::string m_tempPath;
    std::string m_error;
    int m_fd = -1;
    std::unique_ptr<QCryptographicHash> m_hash;
};
