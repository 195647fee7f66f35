#include "fileaside.h"

#include "files/folderfiles.h"
#include "revision/relinfo.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr const char *kAsidePrefix = kAsideFilePrefix;
constexpr const char *kPartSuffix = ".part";

bool exists(const std::string &path)
{
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0;
}

bool removeIfPresent(const std::string &path)
{
    if (::unlink(path.c_str()) == 0 || errno == ENOENT)
        return true;
    return !exists(path);
}

} // namespace

std::string asideName(const std::string &name)
{
    const std::size_t cut = name.find_last_of("\\/");
    if (cut == std::string::npos)
        return kAsidePrefix + name;
    return name.substr(0, cut + 1) + kAsidePrefix + name.substr(cut + 1);
}

bool EnsureParentFolder(const std::string &programFolder, const std::string &name)
{
    const std::size_t cut = name.find_last_of("\\/");
    if (cut == std::string::npos)
        return true;
    // One level only: the folder above the new one must exist.
    std::string leaf;
    std::string error;
    const int above = openFolderOfName(programFolder, name.substr(0, cut), leaf, error);
    if (above < 0)
        return false;
    struct stat info;
    const bool made = ::mkdirat(above, leaf.c_str(), 0777) == 0
        || (errno == EEXIST && ::fstatat(above, leaf.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0
            && S_ISDIR(info.st_mode)); // a link or a file is no folder to write into
    ::close(above);
    return made;
}

bool MoveAside(const std::string &programFolder, const std::string &name)
{
    std::string leaf;
    std::string error;
    const int folder = openFolderOfName(programFolder, name, leaf, error);
    if (folder < 0)
        return errno == ENOENT; // not installed yet: nothing to set aside
    const std::string aside = kAsidePrefix + leaf;
    struct stat info;
    bool ok = ::unlinkat(folder, aside.c_str(), 0) == 0 || errno == ENOENT;
    if (ok && ::fstatat(folder, leaf.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0)
        ok = S_ISREG(info.st_mode)
            && (::linkat(folder, leaf.c_str(), folder, aside.c_str(), 0) == 0
                || copyFileInFolder(programFolder, name, asideName(name), error));
    ::close(folder);
    return ok;
}

bool DropAside(const std::string &programFolder, const std::string &name)
{
    std::string leaf;
    std::string error;
    const int folder = openFolderOfName(programFolder, name, leaf, error);
    if (folder < 0)
        return errno == ENOENT;
    const bool gone = ::unlinkat(folder, (kAsidePrefix + leaf).c_str(), 0) == 0 || errno == ENOENT;
    ::close(folder);
    return gone;
}

bool isPartialFileName(const std::string &fileName)
{
    const std::size_t prefix = std::char_traits<char>::length(kAsidePrefix);
    if (fileName.compare(0, prefix, kAsidePrefix) != 0)
        return false;
    const std::size_t suffix = fileName.rfind(kPartSuffix);
    if (suffix == std::string::npos || suffix <= prefix)
        return false;
    const std::string tail = fileName.substr(suffix + std::char_traits<char>::length(kPartSuffix));
    // mkstemp's six characters follow a "-".
    return tail.empty() || (tail.size() == 7 && tail[0] == '-');
}

namespace {

// A set-aside file that a killed run left: the upd_ name is still a hard
// link of the installed file of the same folder.
bool isLeftAsideLink(const fs::path &path, const struct stat &info)
{
    if (info.st_nlink < 2)
        return false;
    const std::string fileName = path.filename().string();
    const std::string installed =
        (path.parent_path() / fileName.substr(std::char_traits<char>::length(kAsidePrefix)))
            .string();
    struct stat other;
    return ::lstat(installed.c_str(), &other) == 0 && other.st_dev == info.st_dev
        && other.st_ino == info.st_ino;
}

} // namespace

bool PurgeAsideFiles(const std::string &programFolder)
{
    std::error_code ec;
    fs::recursive_directory_iterator it(programFolder,
                                        fs::directory_options::skip_permission_denied, ec);
    if (ec)
        return false;
    bool allGone = true;
    for (const fs::recursive_directory_iterator end; it != end; it.increment(ec)) {
        const std::string fileName = it->path().filename().string();
        if (fileName.rfind(kAsidePrefix, 0) != 0)
            continue;
        struct stat info;
        if (::lstat(it->path().c_str(), &info) != 0 || S_ISDIR(info.st_mode))
            continue;
        const bool purge = it.depth() == 0 || isPartialFileName(fileName)
            || (S_ISREG(info.st_mode) && isLeftAsideLink(it->path(), info));
        if (purge && !removeIfPresent(it->path().string()))
            allGone = false;
    }
    return allGone && !ec;
}
