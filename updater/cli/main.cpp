// moravel-cli: the update engine's check, download with backup, release
// list and restore, without windows.

#include "cliprompt.h"
#include "clireport.h"
#include "downloadjob.h"
#include "ftpfileclient.h"
#include "ftpsettings.h"
#include "installationaccess.h"
#include "programinfo.h"
#include "programpath.h"
#include "releaselist.h"
#include "restorejob.h"
#include "updatecheck.h"
#include "version.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNewerFiles = 3;

const char *const kUsage =
    "usage: moravel-cli check SERVERPATH PROGRAMPATH\n"
    "       moravel-cli update SERVERPATH PROGRAMPATH [--all]\n"
    "       moravel-cli releases PROGRAMFOLDER\n"
    "       moravel-cli restore RELEASE PROGRAMPATH\n"
    "\n"
    "PROGRAMPATH names the installed program file or the folder that holds it.\n"
    "       moravel-cli --help | --version\n"
    "\n"
    "PROGRAMPATH names the installed program file or the folder that holds it.\n"
    "The FTP server is MORAVEL_FTP_HOST (host or host:port) when set, else the\n"
    "reminder's Host value in $XDG_CONFIG_HOME/Norvane/AutoUpdate.conf, else\n"
    "the built-in server. MORAVEL_FTP_PASSIVE=1 asks for passive transfers,\n"
    "MORAVEL_FTP_VERBOSE=1 traces the FTP dialogue on standard error.\n"
    "\n"
    "exit status: 0 done (check: nothing newer), 3 check found newer files,\n"
    "             1 failed or no connection, 2 wrong usage\n";

volatile std::sig_atomic_t g_interrupted = 0;

void onInterrupt(int)
{
    g_interrupted = 1;
}

int usage()
{
    std::fputs(kUsage, stderr);
    return kExitUsage;
}

// Runs a job to its end; Ctrl-C or a termination request cancel it, so
// that the files are left in a sound state.
void runJob(CUpdateJob &job)
{
    struct sigaction action = {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    if (!job.start())
        return;
    while (job.isRunning()) {
        if (g_interrupted)
            job.cancel();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    job.wait();
}

// A program folder this user cannot write is said once, and nothing is
// tried.
bool readOnlyFolder(const ProgramPath &split)
{
    if (programFolderWritable(split.folder))
        return false;
    std::fputs(readOnlyInstallationMessage(split.folder).c_str(), stderr);
    return true;
}

int runCheck(const std::string &serverPath, const std::string &programPath)
{
    const ProgramPath split = splitProgramPath(programPath);
    if (readOnlyFolder(split))
        return kExitFailed;
    CliPrompt prompt(stdout);
    CFtpFileClient client(&prompt, ftpServerHost(serverPath));
    CUpdateCheck check(client, prompt);
    check.CheckForUpdates(serverPath, split.folder, split.name, false);
    switch (check.lastOutcome()) {
    case CUpdateCheck::Outcome::NothingNewer:
        return kExitOk;
    case CUpdateCheck::Outcome::NewerFiles:
        return kExitNewerFiles;
    default:
        return kExitFailed;
    }
}

int runUpdate(const std::string &serverPath, const std::string &programPath, bool takeAll)
{
    const ProgramPath split = splitProgramPath(programPath);
    if (readOnlyFolder(split))
        return kExitFailed;
    CliPrompt prompt(stderr);
    CliReport report(stdout);
    CDownloadJob job(report, &prompt, serverPath, split.folder, takeAll);
    runJob(job);
    return job.result().allArrived() ? kExitOk : kExitFailed;
}

int runReleases(const std::string &programFolder)
{
    ReleaseList releases;
    if (!ListReleases(releases, programFolder))
        return kExitFailed;
    for (std::size_t row = 0; row < releases.size(); ++row)
        std::printf("%s\t%s\n", releases.names[row].c_str(), releases.displays[row].c_str());
    return kExitOk;
}

int runRestore(const std::string &release, const std::string &programPath)
{
    const ProgramPath split = splitProgramPath(programPath);
    CliReport report(stdout);
    CRestoreJob job(report, split.folder, release);
    runJob(job);
    return job.result().allCopied() ? kExitOk : kExitFailed;
}

} // namespace

int main(int argc, char *argv[])
{
    int status = 0;
    if (answerInfoOption(argc, argv, "moravel-cli", MORAVEL_VERSION, kUsage, status))
        return status;
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty())
        return usage();
    const std::string &command = args[0];

    if (command == "check" && args.size() == 3)
        return runCheck(args[1], args[2]);
    if (command == "update" && (args.size() == 3 || (args.size() == 4 && args[3] == "--all")))
        return runUpdate(args[1], args[2], args.size() == 4);
    if (command == "releases" && args.size() == 2)
        return runReleases(args[1]);
    if (command == "restore" && args.size() == 3)
        return runRestore(args[1], args[2]);
    return usage();
}
