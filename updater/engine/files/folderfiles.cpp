#include "folderfiles.h"

#include "replacingfile.h"

#include <cerrno>
#include <cstdint>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
    const FileDescriptor file(openFileInFolder(folder, name, error));
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
    const FileDescriptor in(openFileInFolder(folder, source, error));
    if (in.fd < 0)
        return false;
    struct stat info = {};
    ::fstat(in.fd, &info);
    std::string leaf;
    const FileDescriptor made(openFolderOfName(folder, target, leaf, error, true));
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
