#include "installationaccess.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

// The package that owns folder by the package database ("dpkg-query -S"),
// empty when none does or there is no database.
std::string owningPackage(const std::string &folder)
{
    char resolved[PATH_MAX];
    if (!::realpath(folder.c_str(), resolved))
        return std::string();
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return std::string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    char program[] = "dpkg-query";
    char option[] = "-S";
    char *const argv[] = {program, option, resolved, nullptr};
    pid_t child = -1;
    const int spawned = ::posix_spawnp(&child, program, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    std::string answer;
    char buffer[4096];
    for (ssize_t got; spawned == 0 && answer.size() < 65536
         && ((got = ::read(out[0], buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR));)
        answer.append(buffer, got > 0 ? static_cast<std::size_t>(got) : 0);
    ::close(out[0]);
    int status = 0;
    if (spawned != 0)
        return std::string();
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) { }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::string();
    // "package[, package...]: /path" per line; the folder's own line.
    const std::string suffix = std::string(": ") + resolved;
    for (std::size_t start = 0; start < answer.size();) {
        std::size_t end = answer.find('\n', start);
        if (end == std::string::npos)
            end = answer.size();
        const std::string line = answer.substr(start, end - start);
        if (line.size() > suffix.size()
            && line.compare(line.size() - suffix.size(), suffix.size(), suffix) == 0)
            return line.substr(0, line.size() - suffix.size());
        start = end + 1;
    }
    return std::string();
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
