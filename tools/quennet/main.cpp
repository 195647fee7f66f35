// Quennet: started by the update library with the words of its command
// line. Waits for the host program to end, then loads the update library
// and runs the download or the restore in the library's window.
#include "installercommand.h"
#include "moravel.h"
#include "programinfo.h"
#include "programwatch.h"
#include "trialrun.h"
#include "version.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include <dlfcn.h>

namespace {

constexpr auto kWaitForHost = std::chrono::seconds(30);
const char *const kLibraryName = "libMoravel.so";

void *loadLibrary()
{
    const std::string folder = executableFolder();
    if (!folder.empty()) {
        const std::string beside = folder + "/" + kLibraryName;
        if (void *handle = dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL))
            return handle;
    }
    return dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);
}

const char *const kUsage =
    "usage: Quennet SERVERPATH PROGRAMPATH\n"
    "       Quennet instcomplete SERVERPATH PROGRAMPATH\n"
    "       Quennet REST=RELEASE PROGRAMPATH\n"
    "       Quennet --help | --version\n"
    "\n"
    "The installer that the update library starts: waits for the program at\n"
    "PROGRAMPATH to end, then installs the newer files from SERVERPATH on the\n"
    "update server (instcomplete: all files) or restores the backup folder\n"
    "RELEASE, and offers to start the program again.\n"
    "\n"
    "A program started after an update runs on trial: when it ends with a\n"
    "failure status or a signal within TrialSeconds (20 s unless the\n"
    "reminder's settings say otherwise) before it marks its release good, the\n"
    "update's backup is restored, the older program started, and a box says so.\n";

int usage()
{
    std::fputs(kUsage, stderr);
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    int status = 0;
    if (answerInfoOption(argc, argv, "Quennet", MORAVEL_VERSION, kUsage, status))
        return status;
    const InstallerCommand command =
        InstallerCommand::parse(std::vector<std::string>(argv + 1, argv + argc));
    if (command.kind == InstallerCommand::Kind::Invalid)
        return usage();
    // The program that the library starts at the end becomes a child.
    becomeReaperOfStartedPrograms();

    // Files of a running program can still be replaced here; waiting only
    // lets the host end in peace first.
    if (!waitForProgramEnd(command.programPath, kWaitForHost))
        std::fprintf(stderr, "Quennet: %s is still running; going on\n",
                     command.programPath.c_str());

    void *library = loadLibrary();
    if (!library) {
        std::fprintf(stderr, "Quennet: cannot load %s: %s\n", kLibraryName, dlerror());
        return 3;
    }
    if (command.kind == InstallerCommand::Kind::Restore) {
        auto restore = reinterpret_cast<RestoreFilesFunction>(dlsym(library, "RestoreFiles"));
        if (!restore)
            return 3;
        restore(command.release.c_str(), command.programPath.c_str());
    } else {
        auto update = reinterpret_cast<UpdateFilesFunction>(dlsym(library, "UpdateFiles"));
        if (!update)
            return 3;
        const unsigned char takeAll = command.kind == InstallerCommand::Kind::UpdateAll ? 1 : 0;
        update(command.serverPath.c_str(), command.programPath.c_str(), takeAll);
        // A new release runs on trial; a restored one does not.
        watchStartedProgram(command.serverPath, command.programPath);
    }
    // The library stays loaded: its windows and threads belong to the
    // process until it ends.
    return 0;
}
