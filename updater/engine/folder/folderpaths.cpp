#include "folderpaths.h"

#include "revision/relinfo.h"

#include <cerrno>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

bool isRealFolder(const std::string &path)
{
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool parentFoldersAreReal(const std::string &base, const std::string &name)
{
    std::string folder;
    for (std::size_t cut = name.find_first_of("\\/"); cut != std::string::npos;
         cut = name.find_first_of("\\/", cut + 1)) {
        folder = name.substr(0, cut);
        struct stat info;
        if (::lstat(localPathFor(base, folder).c_str(), &info) != 0) {
            if (errno == ENOENT)
                return true; // the rest is made later
            return false;
        }
        if (!S_ISDIR(info.st_mode))
            return false;
    }
    return true;
}

std::string linkedFileInFolder(const std::string &base, const std::string &name)
{
    const std::size_t cut = name.find_last_of("\\/");
    const std::string folder = cut == std::string::npos ? std::string() : name.substr(0, cut + 1);
    std::string current = name;
    // A chain longer than this is no version chain (or a loop).
    for (int step = 0; step < 8; ++step) {
        const std::string path = localPathFor(base, current);
        struct stat info;
        if (::lstat(path.c_str(), &info) != 0)
            return name;
        if (S_ISREG(info.st_mode))
            return current;
        if (!S_ISLNK(info.st_mode))
            return name;
        std::vector<char> target(static_cast<std::size_t>(info.st_size > 0 ? info.st_size : 255)
                                 + 1);
        const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
        if (length <= 0 || static_cast<std::size_t>(length) >= target.size())
            return name;
        const std::string next(target.data(), static_cast<std::size_t>(length));
        if (next.find_first_of("\\/") != std::string::npos || next == "." || next == "..")
            return name;
        current = folder + next;
    }
    return name;
}
