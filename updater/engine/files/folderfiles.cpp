#include "folderfiles.h"

#include "replacingfile.h"

#include <cerrno>
#include <cstdint>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Descriptor
{
    int fd = -1;
    explicit Descriptor(int descriptor)
        : fd(descriptor)
    {
    }
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
};

// Opens the sub-folder part of the folder open as parent, without
// following a link; makes it first when missing and make is set.
int openSubFolder(int parent, const std::string &part, bool make)
{
    constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int next = ::openat(parent, part.c_str(), kFlags);
    if (next < 0 && errno == ENOENT && make
        && (::mkdirat(parent, part.c_str(), 0777) == 0 || errno == EEXIST))
        next = ::openat(parent, part.c_str(), kFlags);
    return next;
}

} // namespace

int openFolderOfName(const std::string &folder, const std::string &name, std::string &leaf,
                     std::string &error, bool makeFolders)
{
    int current = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (current < 0) {
        const int openErrno = errno;
        error = "cannot open the folder " + folder + ": " + std::strerror(openErrno);
        errno = openErrno;
        return -1;
    }
    std::size_t start = 0;
    for (std::size_t end; (end = name.find_first_of("\\/", start)) != std::string::npos;
         start = end + 1) {
        const int next = openSubFolder(current, name.substr(start, end - start), makeFolders);
        const int openErrno = errno;
        ::close(current);
        if (next < 0) {
            // O_NOFOLLOW | O_DIRECTORY on a link gives ENOTDIR or ELOOP.
            error = "cannot open the folder " + name.substr(0, end) + " in " + folder + ": "
                + (openErrno == ELOOP || openErrno == ENOTDIR
                       ? std::string("it is a symbolic link or a file")
                       : std::string(std::strerror(openErrno)));
            errno = openErrno;
            return -1;
        }
        current = next;
    }
    leaf = name.substr(start);
    return current;
}

bool statInFolder(const std::string &folder, const std::string &name, struct stat &info)
{
    std::string leaf;
    std::string error;
    const Descriptor parent(openFolderOfName(folder, name, leaf, error));
    return parent.fd >= 0 && ::fstatat(parent.fd, leaf.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
}

int openFileInFolder(const std::string &folder, const std::string &name, std::string &error)
{
    std::string leaf;
    const Descriptor parent(openFolderOfName(folder, name, leaf, error));
    if (parent.fd < 0)
        return -1;
    // Not blocking: a FIFO is refused below instead of waited for.
    const int fd =
        ::openat(parent.fd, leaf.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat info = {};
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const int openErrno = fd < 0 ? errno : EINVAL;
        error = "cannot read " + name + " in " + folder + ": "
            + (openErrno == ELOOP ? std::string("it is a symbolic link")
                   : fd < 0       ? std::string(std::strerror(openErrno))
                                  : std::string("it is no regular file"));
        if (fd >= 0)
            ::close(fd);
        errno = openErrno;
        return -1;
    }
    return fd;
}

bool replaceFileInFolder(const std::string &folder, const std::string &name, std::string_view bytes,
                         std::string &error, bool sync)
{
    CReplacingFile file(folder, name);
    if (!file.open() || !file.write(bytes.data(), bytes.size()) || !file.commit(sync)) {
        error = file.error();
        return false;
    }
    return true;
}

bool readFileInFolder(const std::string &folder, const std::string &name, std::string &bytes,
                      std::size_t maxSize)
{
    bytes.clear();
    std::string error;
    const Descriptor file(openFileInFolder(folder, name, error));
    struct stat info = {};
    if (file.fd < 0 || ::fstat(file.fd, &info) != 0
        || static_cast<std::uint64_t>(info.st_size) > maxSize)
        return false;
    bytes.resize(static_cast<std::size_t>(info.st_size));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::read(file.fd, &bytes[done], bytes.size() - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    // A file that shrank meanwhile is read as far as it goes; one that
    // grew is refused rather than read in part.
    char more;
    if (done == bytes.size() && ::read(file.fd, &more, 1) > 0) {
        bytes.clear();
        return false;
    }
    bytes.resize(done);
    return true;
}

bool copyFileInFolder(const std::string &folder, const std::string &source,
                      const std::string &target, std::string &error,
                      const std::atomic<bool> *cancel)
{
    const Descriptor in(openFileInFolder(folder, source, error));
    if (in.fd < 0)
        return false;
    struct stat info = {};
    ::fstat(in.fd, &info);
    std::string leaf;
    const Descriptor made(openFolderOfName(folder, target, leaf, error, true));
    if (made.fd < 0)
        return false;
    CReplacingFile copy(folder, target);
    // The source's permissions, whatever the target had.
    if (!copy.open() || !copy.setPermissions(info.st_mode & 07777)
        || !copy.copyFrom(in.fd, cancel)) {
        error = copy.error().empty() ? "cancelled" : copy.error();
        return false;
    }
    if (!copy.commit(false)) {
        error = copy.error();
        return false;
    }
    return true;
}
