#include "replacingfile.h"

#include "sha256.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

CReplacingFile::CReplacingFile(const std::string &targetPath, bool withSha256)
    : m_targetPath(targetPath)
{
    if (withSha256)
        m_hash = std::make_unique<Sha256>();
}

CReplacingFile::~CReplacingFile()
{
    discard();
}

bool CReplacingFile::open()
{
    discard();
    const std::size_t slash = m_targetPath.find_last_of('/');
    const std::string folder =
        slash == std::string::npos ? std::string(".") : m_targetPath.substr(0, slash);
    const std::string name =
        slash == std::string::npos ? m_targetPath : m_targetPath.substr(slash + 1);
    std::string pattern = (slash == 0 ? std::string() : folder) + "/upd_" + name + ".part-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    m_fd = ::mkstemp(buffer.data());
    if (m_fd < 0) {
        m_errno = errno;
        m_error = "cannot create a file in " + folder + ": " + std::strerror(errno);
        return false;
    }
    m_tempPath = buffer.data();
    // The target's own permissions; a symbolic link's target is not
    // looked at (the link is replaced).
    struct stat existing = {};
    ::fchmod(m_fd,
             ::lstat(m_targetPath.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)
                 ? (existing.st_mode & 07777)
                 : 0644);
    if (m_hash)
        m_hash->reset();
    m_written = 0;
    return true;
}

bool CReplacingFile::write(const char *data, std::size_t size)
{
    if (m_fd < 0)
        return false;
    if (m_hash)
        m_hash->add(data, size);
    while (size > 0) {
        const ssize_t written = ::write(m_fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            m_errno = errno;
            m_error = "cannot write " + m_tempPath + ": " + std::strerror(errno);
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
        m_written += static_cast<std::uint64_t>(written);
    }
    return true;
}

bool CReplacingFile::restart()
{
    if (m_fd < 0)
        return false;
    if (::ftruncate(m_fd, 0) != 0 || ::lseek(m_fd, 0, SEEK_SET) != 0) {
        m_errno = errno;
        m_error = "cannot write " + m_tempPath + ": " + std::strerror(errno);
        return false;
    }
    if (m_hash)
        m_hash->reset();
    m_written = 0;
    return true;
}

std::string CReplacingFile::sha256Hex() const
{
    return m_hash ? m_hash->hex() : std::string();
}

bool CReplacingFile::commit(bool sync)
{
    if (m_fd < 0)
        return false;
    // Without sync, the write-out of a file of some size starts now and
    // runs beside the rest of the work; whoever syncs the file system
    // later waits for less. Small files are left to that sync, which
    // writes neighbouring ones together.
    if (!sync && m_written >= kEarlyWriteOutBytes)
        ::sync_file_range(m_fd, 0, 0, SYNC_FILE_RANGE_WRITE);
    bool ok = !sync || ::fsync(m_fd) == 0;
    ok = ::close(m_fd) == 0 && ok;
    m_fd = -1;
    if (!ok)
        m_error = "cannot write " + m_tempPath + ": " + std::strerror(errno);
    else if (::rename(m_tempPath.c_str(), m_targetPath.c_str()) != 0) {
        m_error = "cannot replace " + m_targetPath + ": " + std::strerror(errno);
        ok = false;
    }
    if (!ok)
        ::unlink(m_tempPath.c_str());
    m_tempPath.clear();
    return ok;
}

void CReplacingFile::discard()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    if (!m_tempPath.empty())
        ::unlink(m_tempPath.c_str());
    m_tempPath.clear();
}
