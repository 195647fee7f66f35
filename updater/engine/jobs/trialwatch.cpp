#include "trialwatch.h"

#include "files/folderfiles.h"
#include "folder/folderlock.h"
#include "folder/releaselist.h"
#include "jobreport.h"
#include "restorejob.h"
#include "revision/relinfolist.h"
#include "settings/updatesettings.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>
#include <system_error>
#include <thread>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

constexpr std::chrono::seconds kLockWait{3};
constexpr std::chrono::milliseconds kPollStep{10};
// How often the watch looks whether the program has closed the trial.
constexpr std::chrono::milliseconds kTrialLookStep{100};
constexpr int kMaxTrialSeconds = 3600;

// Keeps the lines of the restore job for the reason of a failure.
struct FailureLines : IJobReport
{
    std::vector<std::string> reasons;
    void addLine(const std::string &) override { }
    void removeLastLine() override { }
    void failureReason(const std::string &reason) override { reasons.push_back(reason); }
    void setProgressRange(int, int) override { }
    void setProgress(int) override { }
    void finished() override { }
};

std::string revisionOf(const std::string &programFolder, const std::string &programName)
{
    RelInfoList local;
    ReadLocalRelInfo(local, localPathFor(programFolder, kLocalRelInfoName));
    for (const RelInfoRecord record : local)
        if (record.fileName == programName)
            return std::string(record.revision);
    return std::string();
}

} // namespace

RollbackResult rollBackRelease(const std::string &programFolder, const std::string &programName)
{
    RollbackResult result;
    CProgramFolderLock lock(programFolder);
    if (!lock.acquire(kLockWait)) {
        result.problem = lock.error();
        return result;
    }
    ReleaseTrial trial;
    if (!readReleaseTrial(programFolder, trial)) {
        result.problem = "no release is on trial in " + programFolder;
        return result;
    }
    result.release = trial.release;
    result.failedRevision = revisionOf(programFolder, programName);
    std::vector<std::string> sources;
    std::vector<std::string> targets;
    if (!CollectRestoreFiles(programFolder, trial.release, sources, targets)) {
        result.problem = "the backup folder " + trial.release + " is missing";
        closeReleaseTrial(programFolder);
        return result;
    }
    // The newest failure only: the folder never fills the disk.
    const std::string kept = localPathFor(programFolder, kFailedReleaseFolder);
    std::error_code ec;
    std::filesystem::remove_all(kept, ec); // links inside are not followed
    std::set<std::string> keptNames;
    for (const std::string &name : targets) {
        std::string error;
        if (keptNames.insert(name).second)
            copyFileInFolder(programFolder, name, std::string(kFailedReleaseFolder) + "/" + name,
                             error);
    }
    result.keptIn = kept;
    // Nothing undoes what follows: the trial ends before the restore.
    closeReleaseTrial(programFolder);
    lock.release();

    FailureLines lines;
    CRestoreJob restore(lines, programFolder, trial.release);
    if (!restore.start()) {
        result.problem = "the restore could not be started";
        return result;
    }
    restore.wait();
    result.rolledBack = restore.result().allCopied();
    if (!result.rolledBack)
        result.problem = lines.reasons.empty()
            ? "not every file of " + trial.release + " could be copied back"
            : lines.reasons.front();
    return result;
}

std::chrono::seconds trialTimeFor(const std::string &serverPath)
{
    const QVariant stored =
        UpdateSettings::value(UpdateSettings::keyPath(serverPath), UpdateSettings::kTrialSeconds);
    bool ok = false;
    const int seconds = stored.toString().trimmed().toInt(&ok);
    return std::chrono::seconds(ok && seconds >= 1 && seconds <= kMaxTrialSeconds
                                    ? seconds
                                    : ReleaseTrial::kDefaultTrialSeconds);
}

pid_t startProgram(const std::string &path, const std::vector<std::string> &arguments,
                   std::string &error)
{
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(path.c_str()));
    for (const std::string &argument : arguments)
        argv.push_back(const_cast<char *>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int failed = ::posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv.data(), environ);
    if (failed != 0) {
        error = path + ": " + std::strerror(failed);
        return -1;
    }
    return pid;
}

TrialOutcome watchTrial(pid_t pid, const std::string &programFolder, const std::string &programName,
                        std::chrono::milliseconds trialTime, const std::string &startPath)
{
    TrialOutcome outcome;
    ReleaseTrial trial;
    if (!countTrialStart(programFolder, trial))
        return outcome;
    const auto started = std::chrono::steady_clock::now();
    auto lastLook = started;
    int status = 0;
    for (;;) {
        const pid_t ended = ::waitpid(pid, &status, WNOHANG);
        if (ended == pid || (ended < 0 && errno != EINTR))
            break;
        const auto now = std::chrono::steady_clock::now();
        if (now - started >= trialTime) {
            closeReleaseTrial(programFolder);
            outcome.end = TrialOutcome::End::Passed;
            return outcome;
        }
        if (now - lastLook >= kTrialLookStep) {
            lastLook = now;
            // Closed by the program itself (good), or by a restore.
            if (!readReleaseTrial(programFolder, trial)) {
                outcome.end = TrialOutcome::End::Passed;
                return outcome;
            }
        }
        std::this_thread::sleep_for(kPollStep);
    }
    const auto end = std::chrono::steady_clock::now();
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        outcome.end = TrialOutcome::End::EndedWell;
        return outcome;
    }
    // A program that marked its release good just before it failed
    // keeps it.
    if (!readReleaseTrial(programFolder, trial)) {
        outcome.end = TrialOutcome::End::Passed;
        return outcome;
    }
    outcome.end = TrialOutcome::End::Failed;
    outcome.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 0;
    outcome.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    outcome.rollback = rollBackRelease(programFolder, programName);
    if (outcome.rollback.rolledBack) {
        const pid_t older =
            startProgram(startPath.empty() ? localPathFor(programFolder, programName) : startPath,
                         {}, outcome.olderStartError);
        outcome.olderStarted = older > 0;
    }
    outcome.rollbackTime = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - end);
    return outcome;
}

TrialOutcome rollBackUnfinishedStarts(const std::string &programFolder,
                                      const std::string &programName, int unfinishedStarts)
{
    TrialOutcome outcome;
    outcome.end = TrialOutcome::End::Failed;
    outcome.unfinishedStarts = unfinishedStarts;
    outcome.rollback = rollBackRelease(programFolder, programName);
    return outcome;
}

std::string howItEnded(const TrialOutcome &outcome)
{
    if (outcome.unfinishedStarts > 0)
        return "did not get through " + std::to_string(outcome.unfinishedStarts)
            + " starts in a row";
    if (outcome.signal == 0)
        return "ended with exit status " + std::to_string(outcome.exitStatus);
    const char *name = ::sigabbrev_np(outcome.signal);
    return "ended with signal "
        + (name ? "SIG" + std::string(name) : std::to_string(outcome.signal));
}

std::string failedReleaseText(const TrialOutcome &outcome, const std::string &programFolder,
                              const std::string &programName)
{
    const RollbackResult &rollback = outcome.rollback;
    std::string release = programName;
    if (!rollback.failedRevision.empty())
        release += " " + rollback.failedRevision;
    std::string text = " The new release failed to start!\n"
                       "----------------------------------------------------------\n\n ";
    text += release;
    if (!rollback.release.empty())
        text += ", installed by the update of " + releaseDisplayText(rollback.release) + ",";
    text += "\n " + howItEnded(outcome) + " during its trial.\n\n";
    if (rollback.rolledBack) {
        text += " The older release is back in " + programFolder;
        if (outcome.olderStarted)
            text += " and has been started.\n";
        else if (!outcome.olderStartError.empty())
            text += ", but it could not be started:\n " + outcome.olderStartError + "\n";
        else
            text += ".\n";
    } else {
        text += " The older release could not be brought back:\n " + rollback.problem
            + "\n Use \"Restore older release ...\" to go back by hand.\n";
    }
    if (!rollback.keptIn.empty())
        text += "\n The failed release's files are kept for the maker's support in\n "
            + rollback.keptIn + "\n";
    return text;
}
