#include "installationaccess.h"

#include <fcntl.h>
#include <unistd.h>

bool programFolderWritable(const std::string &programFolder)
{
    const std::string folder = programFolder.empty() ? std::string(".") : programFolder;
    // Effective ids, as the file operations that follow will use them; a
    // read-only mount answers no as well.
    return ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

std::string readOnlyInstallationMessage(const std::string &programFolder)
{
    return " This installation cannot be updated from here: the program folder\n " + programFolder
        + "\n is not writable for you. Updates for it come from its package\n"
          " (the system's package manager) or need an administrator.\n";
}
