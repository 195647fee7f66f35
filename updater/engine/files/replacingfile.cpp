#include "replacingfile.h"

#include "folderwalk.h"
#include "sha256.h"

#include <cerrno>
#include <cstring>
#include <random>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

CReplacingFile::CReplacingFile(const std::string &folder, const std::string &relativeName,
                               bool withSha256)
    : m_folder(folder)
    , m_name(relativeName)
{
    if (withSha256)
        m_hash = std::make_unique<Sha256>();
}

CReplacingFile::~CReplacingFile()
{
    discard();
}

void CReplacingFile::setError(const std::string &what, int number)
{
    m_errno = number;
    m_error = what + ": " + std::strerror(number);
}

bool CReplacingFile::open()
{
    discard();
    m_errno = 0;
    m_error.clear();
    m_folderFd = openFolderOfName(m_folder, m_name, m_leaf, m_error);
    if (m_folderFd < 0) {
        m_errno = errno;
        return false;
    }
    if (m_leaf.empty()) {
        setError("cannot write " + m_name + " in " + m_folder, EISDIR);
        discard();
        return false;
    }
    // The target's own permissions when it is a regular file; a link under
    // its name is replaced, not looked through.
    struct stat existing = {};
    const mode_t mode = ::fstatat(m_folderFd, m_leaf.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0
            && S_ISREG(existing.st_mode)
        ? (existing.st_mode & 07777)
        : 0644;
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device random;
    for (int attempt = 0; attempt < 100 && m_fd < 0; ++attempt) {
        std::string temp = "upd_" + m_leaf + ".part-";
        for (int i = 0; i < 6; ++i)
            temp += kLetters[random() % (sizeof kLetters - 1)];
        m_fd = ::openat(m_folderFd, temp.c_str(),
                        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (m_fd >= 0)
            m_tempName = temp;
        else if (errno != EEXIST)
            break;
    }
    if (m_fd < 0) {
        setError("cannot create a file beside " + m_name + " in " + m_folder, errno);
        discard();
        return false;
    }
    ::fchmod(m_fd, mode); // not narrowed by the umask
    if (m_hash)
        m_hash->reset();
    m_written = 0;
    return true;
}

bool CReplacingFile::setPermissions(unsigned mode)
{
    if (m_fd < 0 || ::fchmod(m_fd, static_cast<mode_t>(mode)) != 0) {
        setError("cannot write " + m_name + " in " + m_folder, m_fd < 0 ? EBADF : errno);
        return false;
    }
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
            setError("cannot write " + m_name + " in " + m_folder, errno);
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
        m_written += static_cast<std::uint64_t>(written);
    }
    return true;
}

bool CReplacingFile::copyFrom(int source, const std::atomic<bool> *cancel)
{
    if (m_fd < 0)
        return false;
    constexpr std::size_t kStep = 8 * 1024 * 1024;
    // The kernel copies where it can (not when a digest must see the
    // bytes); plain reads and writes otherwise.
    bool kernelCopy = !m_hash;
    std::vector<char> buffer;
    for (;;) {
        if (cancel && *cancel)
            return false;
        ssize_t done = -1;
        if (kernelCopy) {
            done = ::copy_file_range(source, nullptr, m_fd, nullptr, kStep, 0);
            if (done < 0
                && (errno == ENOSYS || errno == EXDEV || errno == EINVAL || errno == EOPNOTSUPP)) {
                kernelCopy = false;
                continue;
            }
            if (done > 0)
                m_written += static_cast<std::uint64_t>(done);
        } else {
            buffer.resize(1024 * 1024);
            done = ::read(source, buffer.data(), buffer.size());
            if (done > 0 && !write(buffer.data(), static_cast<std::size_t>(done)))
                return false;
        }
        if (done == 0)
            return true;
        if (done < 0 && errno != EINTR) {
            setError("cannot copy into " + m_name + " in " + m_folder, errno);
            return false;
        }
    }
}

bool CReplacingFile::restart()
{
    if (m_fd < 0)
        return false;
    if (::ftruncate(m_fd, 0) != 0 || ::lseek(m_fd, 0, SEEK_SET) != 0) {
        setError("cannot write " + m_name + " in " + m_folder, errno);
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
        setError("cannot write " + m_name + " in " + m_folder, errno);
    else if (::renameat(m_folderFd, m_tempName.c_str(), m_folderFd, m_leaf.c_str()) != 0) {
        setError("cannot replace " + m_name + " in " + m_folder, errno);
        ok = false;
    }
    if (ok)
        m_tempName.clear();
    discard();
    return ok;
}

void CReplacingFile::discard()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    if (m_folderFd >= 0) {
        if (!m_tempName.empty())
            ::unlinkat(m_folderFd, m_tempName.c_str(), 0);
        ::close(m_folderFd);
    }
    m_folderFd = -1;
    m_tempName.clear();
}
