#include "folderwalk.h"

#include <cerrno>
#include <cstdint>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

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

FileDescriptor::~FileDescriptor()
{
    if (fd >= 0)
        ::close(fd);
}

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
    const FileDescriptor parent(openFolderOfName(folder, name, leaf, error));
    return parent.fd >= 0 && ::fstatat(parent.fd, leaf.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
}

int openFileInFolder(const std::string &folder, const std::string &name, std::string &error)
{
    std::string leaf;
    const FileDescriptor parent(openFolderOfName(folder, name, leaf, error));
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
