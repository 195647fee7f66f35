#include "fileaside.h"

#include "revision/relinfo.h"

#include <cerrno>
#include <filesystem>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr const char *kAsidePrefix = "upd_";
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

// The temporary name beside a local path: its last part with the upd_
// prefix and a ".part" suffix, so a leftover is purged like any upd_ file.
std::string partPathFor(const std::string &path)
{
    const std::size_t cut = path.rfind('/');
    const std::string folder = cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
    const std::string base = cut == std::string::npos ? path : path.substr(cut + 1);
    return folder + kAsidePrefix + base + kPartSuffix;
}

// Copies the whole of in to out in bounded steps, checking cancel between
// them. The kernel copies where it can; plain reads and writes otherwise.
bool copyContents(int in, int out, const std::atomic<bool> *cancel)
{
    constexpr std::size_t kStep = 8 * 1024 * 1024;
    bool kernelCopy = true;
    std::vector<char> buffer;
    for (;;) {
        if (cancel && *cancel)
            return false;
        ssize_t done = -1;
        if (kernelCopy) {
            done = ::copy_file_range(in, nullptr, out, nullptr, kStep, 0);
            if (done < 0
                && (errno == ENOSYS || errno == EXDEV || errno == EINVAL || errno == EOPNOTSUPP)) {
                kernelCopy = false;
                continue;
            }
        } else {
            buffer.resize(1024 * 1024);
            done = ::read(in, buffer.data(), buffer.size());
            for (ssize_t written = 0; done > 0 && written < done;) {
                const ssize_t step =
                    ::write(out, buffer.data() + written, static_cast<std::size_t>(done - written));
                if (step < 0 && errno != EINTR)
                    return false;
                written += step > 0 ? step : 0;
            }
        }
        if (done == 0)
            return true;
        if (done < 0 && errno != EINTR)
            return false;
    }
}

} // namespace

std::string asideName(const std::string &name)
{
    const std::size_t cut = name.find_last_of("\\/");
    if (cut == std::string::npos)
        return kAsidePrefix + name;
    return name.substr(0, cut + 1) + kAsidePrefix + name.substr(cut + 1);
}

bool EnsureParentFolder(const std::string &path)
{
    const std::size_t cut = path.rfind('/');
    if (cut == std::string::npos || cut == 0)
        return true;
    const std::string folder = path.substr(0, cut);
    struct stat info;
    if (::lstat(folder.c_str(), &info) == 0)
        return S_ISDIR(info.st_mode); // a link or a file is no folder to write into
    return ::mkdir(folder.c_str(), 0777) == 0;
}

bool MoveAside(const std::string &programFolder, const std::string &name)
{
    const std::string target = localPathFor(programFolder, name);
    const std::string aside = localPathFor(programFolder, asideName(name));
    if (!removeIfPresent(aside))
        return false;
    struct stat info;
    if (::lstat(target.c_str(), &info) != 0)
        return true; // not installed yet: nothing to set aside
    if (!S_ISREG(info.st_mode))
        return false;
    if (::link(target.c_str(), aside.c_str()) == 0)
        return true;
    std::error_code ec;
    return fs::copy_file(target, aside, fs::copy_options::overwrite_existing, ec) && !ec;
}

bool DropAside(const std::string &programFolder, const std::string &name)
{
    return removeIfPresent(localPathFor(programFolder, asideName(name)));
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

bool copyFileReplacing(const std::string &source, const std::string &target,
                       const std::atomic<bool> *cancel)
{
    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (in < 0)
        return false;
    struct stat info;
    if (::fstat(in, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(in);
        return false;
    }
    const std::string part = partPathFor(target);
    removeIfPresent(part);
    const int out =
        ::open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, info.st_mode & 07777);
    if (out < 0) {
        ::close(in);
        return false;
    }
    ::fchmod(out, info.st_mode & 07777);
    bool ok = copyContents(in, out, cancel);
    ::close(in);
    ok = ::close(out) == 0 && ok;
    if (!ok || ::rename(part.c_str(), target.c_str()) != 0) {
        removeIfPresent(part);
        return false;
    }
    return true;
}
