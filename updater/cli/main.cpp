// moravel-cli: the update engine's check, download with backup, release
// list and restore, without windows.

#include "cliprompt.h"
#include "clireport.h"
#include "transfer/curllibrary.h"
#include "jobs/downloadjob.h"
#include "transfer/filetransfer.h"
#include "transfer/ftpsettings.h"
#include "folder/installationaccess.h"
#include "programinfo.h"
#include "folder/programpath.h"
#include "publish.h"
#include "rootpublish.h"
#include "folder/releaselist.h"
#include "jobs/restorejob.h"
#include "signing.h"
#include "jobs/trialwatch.h"
#include "jobs/updatecheck.h"
#include "jobs/updatetransfer.h"
#include "revision/releasephase.h"
#include "trust/updatesecurity.h"
#include "version.h"

#include <algorithm>
#include <filesystem>
#include <atomic>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <future>
#include <string>
#include <vector>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNewerFiles = 3;

const char *const kUsage =
    "usage: moravel-cli check SERVERPATH PROGRAMPATH [--now] [TRUST]\n"
    "       moravel-cli update SERVERPATH PROGRAMPATH [--all] [--now] [--start PROGRAM] [TRUST]\n"
    "       moravel-cli releases PROGRAMFOLDER\n"
    "       moravel-cli restore RELEASE PROGRAMPATH\n"
    "       moravel-cli keygen NAME\n"
    "       moravel-cli publish FOLDER --key NAME.key [--key NAME.key ...] [--sequence N]\n"
    "                   [--expires DAYS] [--phased-days DAYS] [--critical]\n"
    "       moravel-cli root FOLDER --keys A.pub,B.pub,... --threshold N\n"
    "                   --sign X.key,Y.key,... [--expires DAYS]\n"
    "       moravel-cli --help | --version\n"
    "TRUST: [--root FILE] [--public-key FILE] [--ca-file FILE]\n"
    "\n"
    "PROGRAMPATH names the installed program file or the folder that holds it.\n"
    "The update server is MORAVEL_FTP_HOST (host, host:port or ftpes://host:port\n"
    "for FTP over TLS, https://host[:port][/prefix] for a web server, several\n"
    "separated by commas for mirrors) when set, else the reminder's Host value\n"
    "in $XDG_CONFIG_HOME/Norvane/AutoUpdate.conf, else the built-in server. The\n"
    "proxy is the reminder's Proxy value, else https_proxy and its kin.\n"
    "MORAVEL_FTP_PASSIVE=1 asks for passive transfers, MORAVEL_FTP_VERBOSE=1\n"
    "traces the FTP dialogue on standard error.\n"
    "A revision file must be signed with the key of --public-key, else the\n"
    "built-in key, else moravel.pub beside moravel-cli; without any key it is\n"
    "taken unsigned. A root of trust (--root, else moravel.root beside\n"
    "moravel-cli) names several keys and how many must sign; each check walks\n"
    "the server's newer roots (root/N.root) from it. --ca-file names the\n"
    "certificates a TLS server must present instead of the system's.\n"
    "keygen writes NAME.key (private, mode 0600) and NAME.pub. publish writes\n"
    "FOLDER/RelInfoRemote.rel with each file's SHA-256 and its signature\n"
    "RelInfoRemote.rel.sig (sequence: one above the last, at least the UTC\n"
    "seconds; valid for DAYS days, 30 by default), signed by every --key.\n"
    "--phased-days offers the release to the installations over that many days\n"
    "from now, each at its own private moment; --critical offers it to all at\n"
    "once, as --now does for one check or update.\n"
    "root writes FOLDER/root/N.root, the next root of trust, valid for DAYS days\n"
    "(365 by default), signed by every key of --sign.\n"
    "A host file:///PATH reads a published folder on this machine (a stick).\n"
    "update --start PROGRAM starts PROGRAM (a name in the program folder, or a\n"
    "path) afterwards. A new release is on trial then: when PROGRAM ends with\n"
    "a failure status or a signal within TrialSeconds (20 s unless the\n"
    "reminder's settings say otherwise), the update's backup is restored,\n"
    "PROGRAM is started again from it, and the exit status is 1.\n"
    "\n"
    "exit status: 0 done (check: nothing newer), 3 check found newer files,\n"
    "             1 failed or no connection, 2 wrong usage\n";

// The job that Ctrl-C or a termination request cancels: cancelling only
// sets its lock-free flag, which a signal handler may do.
std::atomic<CUpdateJob *> g_runningJob{nullptr};
static_assert(std::atomic<CUpdateJob *>::is_always_lock_free);

void onInterrupt(int)
{
    if (CUpdateJob *job = g_runningJob.load())
        job->cancel();
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
    g_runningJob = &job;
    struct sigaction action = {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    if (job.start())
        job.wait();
    g_runningJob = nullptr;
}

// Removes "NAME VALUE" from args; false when NAME is last (no value).
bool takeOption(std::vector<std::string> &args, const char *name, std::string &value)
{
    const auto at = std::find(args.begin(), args.end(), name);
    if (at == args.end())
        return true;
    if (at + 1 == args.end())
        return false;
    value = *(at + 1);
    args.erase(at, at + 2);
    return !value.empty();
}

// Removes every "NAME VALUE" from args into values; false when one has no
// value.
bool takeRepeatedOption(std::vector<std::string> &args, const char *name,
                        std::vector<std::string> &values)
{
    for (;;) {
        std::string value;
        const std::size_t before = args.size();
        if (!takeOption(args, name, value))
            return false;
        if (args.size() == before)
            return true;
        values.push_back(value);
    }
}

// Removes NAME from args; whether it was there.
bool takeFlag(std::vector<std::string> &args, const char *name)
{
    const auto at = std::find(args.begin(), args.end(), name);
    if (at == args.end())
        return false;
    args.erase(at);
    return true;
}

// The parts of a comma-separated list (empty parts are kept, to be refused).
std::vector<std::string> commaParts(const std::string &text)
{
    std::vector<std::string> parts;
    for (std::size_t start = 0;;) {
        const std::size_t comma = text.find(',', start);
        parts.push_back(text.substr(start, comma - start));
        if (comma == std::string::npos)
            return parts;
        start = comma + 1;
    }
}

template <typename Number>
bool parseNumber(const std::string &text, Number &number)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    return !text.empty() && error == std::errc() && end == text.data() + text.size();
}

// A program folder that the engine does not write (a package's, one this
// user cannot write, a missing one) is said once, and nothing is tried.
// For a command that goes on to the server, libcurl loads meanwhile: the
// package database takes a few milliseconds to read, and so does loading
// libcurl with the libraries it brings.
bool readOnlyFolder(const ProgramPath &split, bool network)
{
    std::future<void> loading;
    if (network)
        loading =
            std::async(std::launch::async | std::launch::deferred, [] { CurlLibrary::get(); });
    const std::string refusal = installationRefusal(split.folder);
    if (refusal.empty())
        return false;
    std::fputs(refusal.c_str(), stderr);
    return true;
}

int runCheck(const std::string &serverPath, const std::string &programPath,
             const UpdateSecurity &security)
{
    const ProgramPath split = splitProgramPath(programPath);
    if (readOnlyFolder(split, true))
        return kExitFailed;
    CliPrompt prompt(stdout);
    const std::unique_ptr<IFileTransfer> client = openUpdateTransfer(&prompt, serverPath, security);
    CUpdateCheck check(*client, prompt);
    check.setSecurity(security);
    check.CheckForUpdates(serverPath, split.folder, split.name, false);
    // Every reason a line, after the box's text.
    const std::string &reasons = check.lastReasons();
    for (std::size_t start = 0; start < reasons.size();) {
        const std::size_t end = reasons.find('\n', start);
        std::fprintf(stderr, "moravel-cli: %s\n", reasons.substr(start, end - start).c_str());
        start = end == std::string::npos ? reasons.size() : end + 1;
    }
    switch (check.lastOutcome()) {
    case CUpdateCheck::Outcome::NothingNewer: return kExitOk;
    case CUpdateCheck::Outcome::NewerFiles: return kExitNewerFiles;
    default: return kExitFailed;
    }
}

// Starts the program after an update and watches it while its release is
// on trial. False when the release failed (or the program did not start).
bool startOnTrial(const std::string &serverPath, const ProgramPath &split,
                  const std::string &program)
{
    const bool inFolder = program.find('/') == std::string::npos;
    const std::string path = inFolder ? split.folder + "/" + program : program;
    const std::string name =
        inFolder ? program : std::filesystem::path(program).filename().string();
    std::string error;
    const pid_t pid = startProgram(path, {}, error);
    if (pid < 0) {
        std::fprintf(stderr, "moravel-cli: cannot start %s\n", error.c_str());
        return false;
    }
    const TrialOutcome outcome =
        watchTrial(pid, split.folder, name, trialTimeFor(serverPath), path);
    if (outcome.end != TrialOutcome::End::Failed)
        return true;
    std::fputs(failedReleaseText(outcome, split.folder, name).c_str(), stderr);
    return false;
}

int runUpdate(const std::string &serverPath, const std::string &programPath, bool takeAll,
              const UpdateSecurity &security, const std::string &start)
{
    const ProgramPath split = splitProgramPath(programPath);
    if (readOnlyFolder(split, true))
        return kExitFailed;
    CliPrompt prompt(stderr);
    CliReport report(stdout);
    CDownloadJob job(report, &prompt, serverPath, split.folder, takeAll);
    job.setSecurity(security);
    runJob(job); // the report tells each failure's reason as it happens
    const bool arrived = job.result().allArrived();
    // The program starts whatever the update brought: the older release
    // is still there after a failed one.
    if (!start.empty() && !job.isCancelled() && !startOnTrial(serverPath, split, start))
        return kExitFailed;
    return arrived ? kExitOk : kExitFailed;
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
    if (readOnlyFolder(split, false))
        return kExitFailed;
    CliReport report(stdout);
    CRestoreJob job(report, split.folder, release);
    runJob(job);
    return job.result().allCopied() ? kExitOk : kExitFailed;
}

int runKeygen(const std::string &name)
{
    std::string error;
    if (!Signature::makeKeyPair(name + ".key", name + ".pub", error)) {
        std::fprintf(stderr, "moravel-cli: %s\n", error.c_str());
        return kExitFailed;
    }
    std::printf("%s.key\n%s.pub\n", name.c_str(), name.c_str());
    return kExitOk;
}

int runRoot(const std::string &folder, const RootOptions &options)
{
    RootResult result;
    std::string error;
    if (!publishRoot(folder, options, result, error)) {
        std::fprintf(stderr, "moravel-cli: %s\n", error.c_str());
        return kExitFailed;
    }
    std::printf("%s: version %llu, expires %s\n", result.path.c_str(),
                static_cast<unsigned long long>(result.version), result.expires.c_str());
    return kExitOk;
}

int runPublish(const std::string &folder, const PublishOptions &options)
{
    PublishResult result;
    std::string error;
    if (!publishFolder(folder, options, result, error)) {
        std::fprintf(stderr, "moravel-cli: %s\n", error.c_str());
        return kExitFailed;
    }
    std::printf("%zu files, sequence %llu, expires %s\n", result.files,
                static_cast<unsigned long long>(result.sequence), result.expires.c_str());
    return kExitOk;
}

} // namespace

int main(int argc, char *argv[])
{
    int status = 0;
    if (answerInfoOption(argc, argv, "moravel-cli", MORAVEL_VERSION, kUsage, status))
        return status;
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty())
        return usage();
    const std::string command = args[0];

    UpdateSecurity security;
    PublishOptions publish;
    RootOptions root;
    std::string sequence;
    std::string expires;
    std::string phasedDays;
    std::vector<std::string> keys;
    std::string start;
    std::string rootKeys;
    std::string threshold;
    std::string rootSigners;
    security.ignorePhases = takeFlag(args, "--now");
    publish.critical = takeFlag(args, "--critical");
    if (!takeOption(args, "--public-key", security.publicKeyFile)
        || !takeOption(args, "--root", security.rootFile) || !takeOption(args, "--start", start)
        || !takeOption(args, "--ca-file", security.caFile)
        || !takeRepeatedOption(args, "--key", keys) || !takeOption(args, "--sequence", sequence)
        || !takeOption(args, "--expires", expires) || !takeOption(args, "--phased-days", phasedDays)
        || !takeOption(args, "--keys", rootKeys) || !takeOption(args, "--threshold", threshold)
        || !takeOption(args, "--sign", rootSigners)
        || (!phasedDays.empty()
            && (!parseNumber(phasedDays, publish.phasedDays) || publish.phasedDays < 1
                || publish.phasedDays > kMaxPhasedDays))
        || (!threshold.empty() && !parseNumber(threshold, root.threshold))
        || (!sequence.empty()
            && (!parseNumber(sequence, publish.sequence) || publish.sequence == 0))
        || (!expires.empty()
            && (!parseNumber(expires, publish.expiresDays) || publish.expiresDays < 1
                || publish.expiresDays > 36500)))
        return usage();
    if (!keys.empty()) {
        publish.keyFile = keys.front();
        publish.moreKeyFiles.assign(keys.begin() + 1, keys.end());
    }
    const bool trustOptions = !security.publicKeyFile.empty() || !security.caFile.empty()
        || !security.rootFile.empty() || security.ignorePhases;
    const bool publishOptions =
        !publish.keyFile.empty() || !sequence.empty() || !phasedDays.empty() || publish.critical;
    const bool rootOptions = !rootKeys.empty() || !threshold.empty() || !rootSigners.empty();
    if ((publishOptions && command != "publish") || (rootOptions && command != "root"))
        return usage();
    if (!expires.empty() && command != "publish" && command != "root")
        return usage();
    if (trustOptions && command != "check" && command != "update")
        return usage();
    if (command == "root") {
        if (args.size() != 2 || rootKeys.empty() || threshold.empty() || rootSigners.empty())
            return usage();
        root.publicKeyFiles = commaParts(rootKeys);
        root.signingKeyFiles = commaParts(rootSigners);
        if (!expires.empty())
            root.expiresDays = publish.expiresDays;
        return runRoot(args[1], root);
    }
    if (!start.empty() && command != "update")
        return usage();

    if (command == "check" && args.size() == 3)
        return runCheck(args[1], args[2], security);
    if (command == "update" && (args.size() == 3 || (args.size() == 4 && args[3] == "--all")))
        return runUpdate(args[1], args[2], args.size() == 4, security, start);
    if (command == "keygen" && args.size() == 2)
        return runKeygen(args[1]);
    if (command == "publish" && args.size() == 2 && !publish.keyFile.empty())
        return runPublish(args[1], publish);
    if (command == "releases" && args.size() == 2)
        return runReleases(args[1]);
    if (command == "restore" && args.size() == 3)
        return runRestore(args[1], args[2]);
    return usage();
}
