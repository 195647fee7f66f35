#include "folderfiles.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <random>

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

std::string systemText()
{
    return std::strerror(errno);
}

// The folder that holds name's last part, opened without following a
// link on the way (-1 with error set); leaf gets that last part.
int openParentFolder(const std::string &folder, const std::string &name, std::string &leaf,
                     std::string &error)
{
    int current = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (current < 0) {
        error = "cannot open the folder " + folder + ": " + systemText();
        return -1;
    }
    std::size_t start = 0;
    for (std::size_t end; (end = name.find_first_of("\\/", start)) != std::string::npos;
         start = end + 1) {
        const std::string part = name.substr(start, end - start);
        const int next =
            ::openat(current, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int openErrno = errno;
        ::close(current);
        if (next < 0) {
            error = "cannot open the folder " + name.substr(0, end) + " in " + folder + ": "
                + (openErrno == ELOOP || openErrno == ENOTDIR
                       ? std::string("it is a link or a file")
                       : std::string(std::strerror(openErrno)));
            return -1;
        }
        current = next;
    }
    leaf = name.substr(start);
    return current;
}

bool writeAll(int fd, std::string_view bytes)
{
    const char *data = bytes.data();
    std::size_t size = bytes.size();
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

} // namespace

bool replaceFileInFolder(const std::string &folder, const std::string &name, std::string_view bytes,
                         std::string &error, bool sync)
{
    std::string leaf;
    const Descriptor parent(openParentFolder(folder, name, leaf, error));
    if (parent.fd < 0)
        return false;
    // The target's own permissions when it is a regular file; a link
    // under its name is replaced, not looked through.
    struct stat existing = {};
    const mode_t mode = ::fstatat(parent.fd, leaf.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0
            && S_ISREG(existing.st_mode)
        ? (existing.st_mode & 07777)
        : 0644;
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device random;
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = "upd_" + leaf + ".part-";
        for (int i = 0; i < 6; ++i)
            temp += kLetters[random() % (sizeof kLetters - 1)];
        fd = ::openat(parent.fd, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                      mode);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        error = "cannot create a file beside " + name + " in " + folder + ": " + systemText();
        return false;
    }
    const Descriptor file(fd);
    ::fchmod(fd, mode); // not narrowed by the umask
    if (!writeAll(fd, bytes) || (sync && ::fsync(fd) != 0)
        || ::renameat(parent.fd, temp.c_str(), parent.fd, leaf.c_str()) != 0) {
        error = "cannot write " + name + " in " + folder + ": " + systemText();
        ::unlinkat(parent.fd, temp.c_str(), 0);
        return false;
    }
    return true;
}

bool readFileInFolder(const std::string &folder, const std::string &name, std::string &bytes,
                      std::size_t maxSize)
{
    bytes.clear();
    std::string leaf;
    std::string error;
    const Descriptor parent(openParentFolder(folder, name, leaf, error));
    if (parent.fd < 0)
        return false;
    // Not blocking: a FIFO is refused below instead of waited for.
    const Descriptor file(
        ::openat(parent.fd, leaf.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info = {};
    if (file.fd < 0 || ::fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode)
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
