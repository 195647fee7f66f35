#pragma once

#include <string>
#include <vector>

// What the installer was asked to do, from its arguments (without the
// program name):
//   SERVERPATH PROGRAMPATH               download the newer files
//   instcomplete SERVERPATH PROGRAMPATH  download all files
//   REST=RELEASE PROGRAMPATH             restore a backup release
struct InstallerCommand
{
    enum class Kind
    {
        Invalid,
        UpdateNewer,
        UpdateAll,
        Restore
    };

    Kind kind = Kind::Invalid;
    std::string serverPath; // UpdateNewer, UpdateAll
    std::string release;    // Restore; may be empty
    std::string programPath;

    static InstallerCommand parse(const std::vector<std::string> &arguments);
};
