#include "downloadjob.h"

#include "folder/releasetrial.h"

#include "files/folderfiles.h"
#include "folder/fileaside.h"
#include "folder/folderlock.h"
#include "folder/folderpaths.h"
#include "transfer/filetransfer.h"
#include "jobreport.h"
#include "transfer/paralleltransfers.h"
#include "revision/relinfo.h"
#include "revision/relinfolist.h"
#include "folder/transferbounds.h"
#include "lockfreeprompt.h"
#include "revisionfetch.h"
#include "updatetransfer.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string_view>
#include <filesystem>
#include <optional>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char *kFail = " fail!    ";
// How long a run waits for another run in the same folder to end.
constexpr std::chrono::seconds kLockWait{3};
constexpr const char *kOk = "  ok!    ";

// Forces everything written on the program folder's file system to disk.
void syncFileSystem(const std::string &folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        ::sync();
        return;
    }
    ::syncfs(fd);
    ::close(fd);
}

// Backup copies are made once per backup folder: a second run within the
// same minute shares the folder, and the copies must keep the state from
// before the first of those runs, not the state in between. installed and
// copy are names below the program folder. True when the copy is there,
// or there is nothing to copy (not installed yet).
bool keepBackupCopy(const std::string &folder, const std::string &installed,
                    const std::string &copy, const std::atomic<bool> &cancel)
{
    struct stat info;
    if (statInFolder(folder, copy, info))
        return S_ISREG(info.st_mode);
    if (!statInFolder(folder, installed, info) && errno == ENOENT)
        return true;
    std::string error;
    return copyFileInFolder(folder, installed, copy, error, &cancel);
}

// The backup folder's own name, as a name below the program folder.
std::string lastPartOf(const std::string &path)
{
    return path.substr(path.find_last_of('/') + 1);
}

// Bytes as megabytes (2^20) with one decimal, in the "C" way whatever
// the locale.
std::string megabytes(std::uint64_t bytes)
{
    const std::uint64_t tenths = (bytes * 10 + (1u << 19)) >> 20;
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
}

std::string systemReason()
{
    return errno ? std::string(": ") + std::strerror(errno) : std::string();
}

bool isSymbolicLink(const std::string &path)
{
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

// Puts the new file that arrived under name (a version link until then)
// in place of the regular file at the end of the link chain, and name back
// as the link it was: every name of the chain then shows the new content.
// No name of the chain is ever missing.
bool relinkArrivedFile(const std::string &folder, const std::string &name,
                       const std::string &chainEnd, const std::string &linkText)
{
    // Both names lie in one sub-folder, reached without a link.
    std::string leaf;
    std::string error;
    const int parent = openFolderOfName(folder, name, leaf, error);
    if (parent < 0)
        return false;
    const std::string end = chainEnd.substr(chainEnd.find_last_of("\\/") + 1);
    const std::string endPart = asideName(end) + ".part";
    const std::string linkPart = asideName(leaf) + ".part";
    ::unlinkat(parent, endPart.c_str(), 0);
    ::unlinkat(parent, linkPart.c_str(), 0);
    bool ok = ::linkat(parent, leaf.c_str(), parent, endPart.c_str(), 0) == 0
        && ::renameat(parent, endPart.c_str(), parent, end.c_str()) == 0;
    if (!ok)
        ::unlinkat(parent, endPart.c_str(), 0);
    else if (!(ok = ::symlinkat(linkText.c_str(), parent, linkPart.c_str()) == 0
                   && ::renameat(parent, linkPart.c_str(), parent, leaf.c_str()) == 0))
        ::unlinkat(parent, linkPart.c_str(), 0);
    const int failure = errno;
    ::close(parent);
    errno = failure;
    return ok;
}

} // namespace

CDownloadJob::CDownloadJob(IJobReport &report, IPrompt *prompt, const std::string &serverPath,
                           const std::string &programFolder, bool takeAll, const std::string &host)
    : CUpdateJob(report)
    , m_serverPath(serverPath)
    , m_programFolder(programFolder)
    , m_takeAll(takeAll)
    , m_host(host)
    , m_prompt(prompt)
    , m_clock([] { return std::time(nullptr); })
    , m_makeClient([this](IPrompt *prompt, bool further) {
        std::unique_ptr<IFileTransfer> client =
            openUpdateTransfer(prompt, m_serverPath, m_security, &m_cancel, m_host);
        if (further && !client->allowsSeveralSessions())
            client.reset();
        return client;
    })
{
}

CDownloadJob::~CDownloadJob()
{
    stopWorker();
}

void CDownloadJob::setClock(Clock clock)
{
    if (clock)
        m_clock = std::move(clock);
}

CDownloadJob::Result CDownloadJob::result() const
{
    return isRunning() ? Result() : m_result;
}

std::string CDownloadJob::backupFolderName(std::time_t moment)
{
    std::tm local{};
    localtime_r(&moment, &local);
    char name[32];
    const std::size_t length = std::strftime(name, sizeof name, "%Y%m%d%H%M", &local);
    return std::string(name, length);
}

void CDownloadJob::run()
{
    DownloadThread();
}

void CDownloadJob::DownloadThread()
{
    m_report.addLine("... Preparing download from server!");
    m_report.setProgressRange(0, 100);
    m_report.setProgress(1);
    // The leftovers of a killed run go; those of a run that is still at
    // work in this folder are never touched.
    CProgramFolderLock lock(m_programFolder);
    if (!lock.acquire(kLockWait, &m_cancel)) {
        m_result.outcome = m_cancel ? Outcome::Cancelled : Outcome::Busy;
        m_report.addLine(" fail! " + lock.error());
        if (!m_cancel)
            m_report.failureReason(lock.error());
        m_report.setProgress(100);
        m_report.addLine("   ");
        m_report.addLine("  End of download procedure!! ");
        return;
    }
    PurgeAsideFiles(m_programFolder);

    // The client's connection-failed box lets the folder go while it waits.
    std::optional<CLockFreePrompt> prompt;
    if (m_prompt)
        prompt.emplace(*m_prompt, lock, kLockWait, &m_cancel);
    const std::unique_ptr<IFileTransfer> madeClient =
        m_makeClient(prompt ? &*prompt : nullptr, false);
    IFileTransfer &client = *madeClient;
    RelInfoList local;
    RelInfoList remote;
    const std::string localRelInfo = localPathFor(m_programFolder, kLocalRelInfoName);

    // Each step either leads to the next or ends the run; the end lines
    // follow in every case.
    auto serverFailure = [&](Outcome outcome, const std::string &what) {
        if (m_cancel)
            return Outcome::Cancelled;
        m_report.failureReason(what + ": " + client.lastError());
        return outcome;
    };
    auto runSteps = [&]() -> Outcome {
        m_report.addLine("... connect to the NORVANE server");
        if (m_cancel)
            return Outcome::Cancelled;
        if (!client.Connect())
            return serverFailure(Outcome::NoConnection, "cannot connect to " + client.host());

        if (client.plainFallback())
            m_report.addLine("... " + client.host() + " offers no TLS: plain FTP");
        m_report.addLine("... set path (" + m_serverPath + ")");
        if (!client.SetCurrentDirectory(m_serverPath))
            return serverFailure(Outcome::ServerError, "no update folder " + m_serverPath);
        m_report.addLine("... check remote revision file");
        if (!client.FindFile(kRemoteRelInfoName))
            return serverFailure(Outcome::ServerError,
                                 std::string("no ") + kRemoteRelInfoName + " in " + m_serverPath);

        // Named now, made only when the first file is about to change.
        const std::string backupFolder = localPathFor(m_programFolder, backupFolderName(m_clock()));

        VerifiedList verified = fetchVerifiedList(client, m_programFolder, m_security);
        if (m_cancel)
            return Outcome::Cancelled;
        if (verified.outcome == VerifiedList::Outcome::NoList) {
            m_report.failureReason(std::string("cannot download ") + kRemoteRelInfoName + ": "
                                   + verified.problem);
            return Outcome::ServerError;
        }
        for (const std::string &why : verified.passedOver)
            m_report.failureReason("passed over " + std::string(kRemoteRelInfoName) + " of " + why);
        if (verified.outcome == VerifiedList::Outcome::Refused) {
            m_result.refusal = verified.refusal;
            m_report.addLine(" " + m_result.refusal);
            return Outcome::Refused;
        }
        if (verified.heldBackUntil != 0)
            m_report.addLine(" " + heldBackReason(verified.heldBackUntil));
        remote = std::move(verified.records);
        // Dropped before the local file is read: a huge server list
        // shrinks to what a run can install first.
        const std::vector<std::string> dropped = dropUnusableRecords(remote);
        m_report.addLine("... check local revision file");
        // A missing file makes every server file new; so does a symbolic
        // link, which is not read and is replaced by the rewritten file.
        if (isSymbolicLink(localRelInfo))
            m_report.failureReason(localRelInfo
                                   + " is a symbolic link: it is not read, and a file replaces it");
        ReadLocalRelInfo(local, localRelInfo);
        m_report.addLine("... compare new files");
        for (const std::string &reason : dropped)
            m_report.addLine(kFail + reason);
        if (!SelectNewerFiles(local, remote, m_takeAll)) {
            m_report.addLine(" end! No updates found!");
            return Outcome::NothingNewer;
        }

        transferFiles(client, remote, backupFolder);
        if (m_cancel)
            return Outcome::Cancelled;
        m_report.addLine("---- end transfer ----");
        m_report.addLine("... update local revision file");
        // The revision file must never name a revision whose data are not
        // on disk yet.
        // A run that brought nothing has nothing to record.
        if (m_result.transferred > 0) {
            syncFileSystem(m_programFolder);
            m_result.localRelInfoWritten = WriteLocalRelInfo(local, remote, localRelInfo);
            if (!m_result.localRelInfoWritten)
                m_report.failureReason("cannot rewrite " + localRelInfo + systemReason());
            // The new release is on trial until its program shows that it
            // starts (trialwatch.h); the backup just made is the way back.
            std::string trialError;
            if (m_result.localRelInfoWritten && !m_result.backupFolder.empty()
                && !openReleaseTrial(m_programFolder, lastPartOf(m_result.backupFolder),
                                     trialError))
                m_report.failureReason("cannot open the new release's trial: " + trialError);
        }
        m_report.addLine(m_result.localRelInfoWritten ? "  ok!  updated local revision file"
                                                      : " fail! no update in local revision file");
        return Outcome::Transferred;
    };

    m_result.outcome = runSteps();
    client.Close();
    dropUnusedBackupFolder();

    m_report.setProgress(100);
    m_report.addLine("   ");
    m_report.addLine("  End of download procedure!! ");
}

// One file of the transfer, from its checks until its lines are out.
struct CDownloadJob::FileState
{
    bool handedOver = false; // to a connection; otherwise it ended in its checks
    bool ended = false;
    bool arrived = false;
    bool copyLineShown = false;
    bool installed = true; // false when its name was free before the download
    std::string reason;    // why it failed
    std::string chainEnd;
    std::string linkText;
    std::uint64_t reservedBytes = 0; // its bound, while on its way
    std::string seedName;            // its older copy, while it is set aside
    bool byDelta = false;            // built from the older copy
    std::uint64_t fetched = 0;       // the bytes that built it then
};

void CDownloadJob::transferFiles(IFileTransfer &client, RelInfoList &remote,
                                 const std::string &backupFolder)
{
    m_report.setProgressRange(0, static_cast<int>(remote.size()) + 1);
    m_report.addLine("---- start transfer ----");

    std::vector<std::unique_ptr<IFileTransfer>> more;
    // Further connections where there are further files, and where the
    // factory makes them.
    while (more.size() + 1 < std::min(remote.size(), kMaxTransfersInFlight)) {
        std::unique_ptr<IFileTransfer> further = m_makeClient(nullptr, true);
        if (!further)
            break;
        more.push_back(std::move(further));
    }
    CParallelTransfers transfers(client, std::move(more), m_serverPath);
    std::vector<FileState> files(remote.size());
    std::size_t next = 0;     // the first file not handed over
    std::size_t reported = 0; // the first file whose lines are not out
    std::uint64_t reservedBytes = 0;
    std::string lostReason; // once the server stopped answering

    // Lines go out in the list's order: those of every ended file up to
    // the first one still on its way, which shows its copy line.
    auto reportInOrder = [&] {
        for (; reported < next; ++reported) {
            FileState &state = files[reported];
            const std::string name(remote[reported].fileName);
            if (!state.copyLineShown && (state.handedOver || state.ended))
                m_report.setProgress(static_cast<int>(reported) + 1);
            if (state.handedOver && !state.copyLineShown) {
                m_report.addLine(" copy -> " + name);
                state.copyLineShown = true;
            }
            if (!state.ended)
                return;
            if (state.handedOver)
                m_report.removeLastLine();
            if (state.arrived) {
                m_report.addLine(kOk + name
                                 + (state.byDelta ? " (" + megabytes(state.fetched) + " of "
                                            + megabytes(remote[reported].size) + " MB fetched)"
                                                  : std::string()));
                remote.setTransferred(reported);
                ++m_result.transferred;
            } else {
                fail(name, state.reason);
            }
        }
    };
    for (;;) {
        while (next < files.size() && !m_cancel && transfers.unfinished() < kMaxTransfersInFlight) {
            const RelInfoRecord record = remote[next];
            FileState &state = files[next];
            ++m_result.selected;
            if (!lostReason.empty()) {
                state.reason = "not downloaded: " + lostReason;
            } else if (prepareFile(record, backupFolder, reservedBytes, state)) {
                CParallelTransfers::Request request;
                request.index = next;
                request.name = std::string(record.fileName);
                request.folder = m_programFolder;
                request.options.expectedSha256 = std::string(record.sha256);
                request.options.maxBytes = state.reservedBytes;
                request.options.syncToDisk = false; // one sync for the whole run
                if (!state.seedName.empty() && record.hasSize && !record.indexSha256.empty()) {
                    request.delta.seedName = state.seedName;
                    request.delta.indexSha256 = std::string(record.indexSha256);
                    request.delta.indexSize = record.indexSize;
                    request.delta.size = record.size;
                    request.delta.cancel = &m_cancel;
                }
                reservedBytes += state.reservedBytes;
                state.handedOver = true;
                transfers.add(std::move(request));
            }
            state.ended = !state.handedOver;
            ++next;
            reportInOrder();
        }
        if (transfers.unfinished() == 0 && (next == files.size() || m_cancel))
            break;
        const CParallelTransfers::Outcome outcome = transfers.take();
        FileState &state = files[outcome.index];
        const std::string name(remote[outcome.index].fileName);
        reservedBytes -= state.reservedBytes;
        // The download replaced the installed file by one rename, or left
        // it untouched; either way the set-aside copy is no longer needed.
        if (state.installed)
            DropAside(m_programFolder, name);
        state.ended = true;
        state.arrived = outcome.arrived;
        state.byDelta = outcome.byDelta;
        state.fetched = outcome.fetched;
        state.reason = outcome.error;
        if (outcome.connectionLost && lostReason.empty())
            lostReason = outcome.error;
        if (outcome.arrived && state.chainEnd != name
            && !relinkArrivedFile(m_programFolder, name, state.chainEnd, state.linkText)) {
            state.arrived = false;
            state.reason = "arrived, but the links to " + state.chainEnd + " could not be kept"
                + systemReason();
        }
        reportInOrder();
    }
}

bool CDownloadJob::prepareFile(const RelInfoRecord &record, const std::string &backupFolder,
                               std::uint64_t reservedBytes, FileState &state)
{
    const std::string name(record.fileName);
    // The files still on their way will take their bounds' room.
    std::uint64_t freeSpace = 0;
    const TransferBound bound = freeBytes(m_programFolder, freeSpace)
        ? transferBound(record.hasSize, record.size,
                        freeSpace > reservedBytes ? freeSpace - reservedBytes : 0)
        : transferBound(record, m_programFolder);
    if (bound.maxBytes == 0) {
        state.reason = bound.refusal;
        return false;
    }
    const std::string target = localPathFor(m_programFolder, name);
    // Nothing is written through a symbolic link: a sub-folder that is
    // one fails the file, a link out of the folder is not replaced; a
    // version link (libX.so -> libX.so.3 -> libX.so.3.0.0) stays a link,
    // and the file at its end gets the new content.
    if (!parentFoldersAreReal(m_programFolder, name)) {
        state.reason = "not replaced: a folder of its path is a symbolic link or a file";
        return false;
    }
    // A name that is free has no link chain, no backup copy to keep and
    // nothing to set aside: one look settles all three.
    struct stat info;
    state.installed = ::lstat(target.c_str(), &info) == 0 || errno != ENOENT;
    state.chainEnd = state.installed ? linkedFileInFolder(m_programFolder, name) : name;
    if (state.installed && state.chainEnd == name && isSymbolicLink(target)) {
        state.reason = "not replaced: " + target + " is a symbolic link out of its folder";
        return false;
    }
    if (!prepareBackupFolder(backupFolder)) {
        state.reason = "not replaced: " + m_backupError;
        return false;
    }
    // "%" files get no backup copy. Without its backup copy the installed
    // file stays: it would be in no backup folder otherwise.
    if (state.installed && name[0] != '%'
        && !backupInstalledFile(name, state.chainEnd, backupFolder)) {
        state.reason =
            "not replaced: cannot keep a backup copy in " + backupFolder + systemReason();
        return false;
    }
    if (state.chainEnd != name) {
        std::vector<char> text(4096);
        const ssize_t length = ::readlink(target.c_str(), text.data(), text.size() - 1);
        state.linkText.assign(text.data(), length > 0 ? static_cast<std::size_t>(length) : 0);
    }
    // Only a name with a sub-folder needs one made.
    if (name.find_first_of("\\/") != std::string::npos)
        EnsureParentFolder(m_programFolder, name);
    if (state.installed) {
        const bool setAside = MoveAside(m_programFolder, name);
        // The older copy, which a delta builds on: where the chain ends, or
        // the file set aside.
        if (state.chainEnd != name)
            state.seedName = state.chainEnd;
        else if (setAside)
            state.seedName = asideName(name);
    }
    state.reservedBytes = bound.maxBytes;
    return true;
}

void CDownloadJob::fail(const std::string &name, const std::string &reason)
{
    m_report.addLine(kFail + name);
    ++m_result.failed;
    m_result.failureReasons.push_back(reason);
    if (!m_cancel)
        m_report.failureReason(name + ": " + reason);
}

bool CDownloadJob::backupInstalledFile(const std::string &name, const std::string &installed,
                                       const std::string &backupFolder)
{
    errno = 0;
    return keepBackupCopy(m_programFolder, installed, lastPartOf(backupFolder) + "/" + name,
                          m_cancel);
}

bool CDownloadJob::prepareBackupFolder(const std::string &backupFolder)
{
    if (!m_result.backupFolder.empty())
        return true;
    // A name taken by a link or a file is never used; a real folder of
    // this minute is used again.
    if (::mkdir(backupFolder.c_str(), 0777) == 0) {
        m_madeBackupFolder = true;
    } else if (errno != EEXIST || !isRealFolder(backupFolder)) {
        m_backupError = "the backup folder " + backupFolder
            + (errno == EEXIST ? std::string(" is taken by a symbolic link or a file")
                               : " cannot be made" + systemReason());
        return false;
    }
    m_result.backupFolder = backupFolder;
    keepBackupCopy(m_programFolder, kLocalRelInfoName,
                   lastPartOf(backupFolder) + "/" + kLocalRelInfoName, m_cancel);
    return true;
}

void CDownloadJob::dropUnusedBackupFolder()
{
    // A run that installed nothing leaves no release behind; a folder that
    // an earlier run of this minute made stays.
    if (m_result.transferred > 0 || m_result.backupFolder.empty() || !m_madeBackupFolder)
        return;
    std::error_code ec;
    std::filesystem::remove_all(m_result.backupFolder, ec); // links inside are not followed
    m_result.backupFolder.clear();
}
