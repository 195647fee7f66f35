#include "installationaccess.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Whether the file name in the folder dir holds line ("\nTEXT\n"), its
// first and last lines included; text is the buffer it is read into.
bool holdsLine(int dir, const char *name, const std::string &line, std::string &text)
{
    const int file = ::openat(dir, name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    struct stat info;
    if (file < 0)
        return false;
    if (::fstat(file, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(file);
        return false;
    }
    // A file that grew since fstat is read up to its size then.
    text.resize(static_cast<std::size_t>(info.st_size) + 2);
    text[0] = '\n';
    std::size_t size = 1;
    for (ssize_t got; size + 1 < text.size()
         && ((got = ::read(file, &text[size], text.size() - 1 - size)) > 0
             || (got < 0 && errno == EINTR));)
        size += got > 0 ? static_cast<std::size_t>(got) : 0;
    ::close(file);
    text[size++] = '\n';
    return ::memmem(text.data(), size, line.data(), line.size()) != nullptr;
}

// The packages that own folder by the package database, as
// "dpkg-query -S" names them ("a, b"); empty when none does or there is
// no database. Each package's file list is "info/PACKAGE[:ARCH].list" in
// dpkg's administrative folder, one path a line; reading them here costs
// a fraction of starting dpkg-query, and a folder's name is matched as it
// stands, never as a pattern.
std::string owningPackage(const std::string &folder)
{
    char resolved[PATH_MAX];
    if (!::realpath(folder.c_str(), resolved))
        return std::string();
    const char *adminFolder = std::getenv("DPKG_ADMINDIR");
    const std::string info =
        std::string(adminFolder && *adminFolder ? adminFolder : "/var/lib/dpkg") + "/info";
    DIR *lists = ::opendir(info.c_str());
    if (!lists)
        return std::string();
    const std::string line = std::string("\n") + resolved + '\n';
    const std::string suffix = ".list";
    std::vector<std::string> packages;
    std::string text;
    while (const dirent *entry = ::readdir(lists)) {
        const std::size_t length = std::strlen(entry->d_name);
        if (length <= suffix.size()
            || suffix.compare(0, suffix.size(), entry->d_name + length - suffix.size()) != 0)
            continue;
        if (holdsLine(::dirfd(lists), entry->d_name, line, text))
            packages.emplace_back(entry->d_name, length - suffix.size());
    }
    ::closedir(lists);
    std::sort(packages.begin(), packages.end());
    std::string names;
    for (const std::string &package : packages)
        names += (names.empty() ? "" : ", ") + package;
    return names;
}

} // namespace

InstallationAccess installationAccess(const std::string &programFolder, std::string *packageName)
{
    const std::string folder = programFolder.empty() ? std::string(".") : programFolder;
    struct stat info;
    if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return InstallationAccess::Missing;
    const std::string package = owningPackage(folder);
    if (!package.empty()) {
        if (packageName)
            *packageName = package;
        return InstallationAccess::Packaged;
    }
    // Effective ids, as the file operations that follow will use them; a
    // read-only mount answers no as well.
    if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0)
        return InstallationAccess::NotWritable;
    return InstallationAccess::Writable;
}

bool programFolderWritable(const std::string &programFolder)
{
    return installationAccess(programFolder) == InstallationAccess::Writable;
}

std::string installationRefusal(const std::string &programFolder)
{
    std::string package;
    const std::string head =
        " This installation cannot be updated from here: the program folder\n " + programFolder;
    switch (installationAccess(programFolder, &package)) {
    case InstallationAccess::Writable: return std::string();
    case InstallationAccess::Missing: return head + "\n does not exist.\n";
    case InstallationAccess::Packaged:
        return head + "\n belongs to the package " + package
            + ". Updates for it come from the system's\n package manager.\n";
    case InstallationAccess::NotWritable: break;
    }
    return head
        + "\n is not writable for you. Updates for it come from its package\n"
          " (the system's package manager) or need an administrator.\n";
}
