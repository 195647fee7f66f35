#pragma once

#include "updatejob.h"
#include "trust/updatesecurity.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class IFileTransfer;
class IPrompt;
class RelInfoList;
struct RelInfoRecord;

// The download with backup: brings the program folder up to the server's
// release. Connects to the FTP server, fetches RelInfoRemote.rel, selects
// the newer files (or all of them), and file by file keeps a copy of the
// installed file in a backup folder named by the run's local date and time
// ("%Y%m%d%H%M") and downloads the new one; finally, when at least one
// file arrived, RelInfoLocal.rel is rewritten. The list is taken as
// revisionfetch.h verifies it, from the first mirror whose list is
// accepted. Every step is reported as a list line. Runs within the same
// minute share a backup folder, which keeps the state before the first.
// The backup folder is made when the first file is about to change, and a
// run that installed nothing removes the one it made. One run at a time
// works in a program folder (CProgramFolderLock); a second one waits a
// little and then ends as Busy; the connection-failed box lets the lock go
// while it waits (CLockFreePrompt). Nothing is written through a symbolic
// link (folderpaths.h).
//
// An installed file is replaced only by a complete download (matching the
// SHA-256 when the server list gives one) and only once its backup copy is
// kept; a failed or cancelled download, or a failed backup copy, leaves it
// as it was. Names that would leave the program folder are refused, and
// once the server stops answering the remaining files fail at once. Every
// failure's reason goes to IJobReport::failureReason. The run starts by
// removing the leftovers of an earlier run that was killed
// (PurgeAsideFiles).
//
// A file whose record names its block index, and whose older copy is
// installed, is built from that copy and the parts it lacks where the
// server sends parts (deltafetch.h); its line then says how many MB were
// fetched of how many. Otherwise, and whenever that fails, it is fetched
// whole.
//
// Up to kMaxTransfersInFlight files are on their way at once, each on a
// connection of its own (CParallelTransfers); their lines still follow the
// server list's order, whichever file ends first.
class CDownloadJob : public CUpdateJob
{
public:
    enum class Outcome
    {
        NotRun,
        NoConnection, // the server could not be reached
        ServerError,  // update directory or RelInfoRemote.rel missing or unreadable
        Refused,      // every mirror's RelInfoRemote.rel failed the checks (revisionfetch.h)
        Busy,         // another run held the program folder's lock
        NothingNewer,
        Transferred, // the selected files were attempted
        Cancelled
    };

    struct Result
    {
        Outcome outcome = Outcome::NotRun;
        std::size_t selected = 0; // files the run attempted
        std::size_t transferred = 0;
        std::size_t failed = 0; // failed downloads and refused names
        bool localRelInfoWritten = false;
        std::string backupFolder;                // empty when the run made none
        std::string refusal;                     // why RelInfoRemote.rel was refused
        std::vector<std::string> failureReasons; // why each failed download failed

        // Nothing newer, or every selected file arrived and was recorded.
        bool allArrived() const
        {
            return outcome == Outcome::NothingNewer
                || (outcome == Outcome::Transferred && failed == 0 && localRelInfoWritten);
        }
    };

    using Clock = std::function<std::time_t()>;
    // Makes a client, not yet connected, that tells a failed connection
    // through prompt: the run's own one, and with further set one more for
    // another file at once (null: no further connection).
    using ClientFactory =
        std::function<std::unique_ptr<IFileTransfer>(IPrompt *prompt, bool further)>;

    static constexpr std::size_t kMaxTransfersInFlight = 4;

    // prompt: shows the client's connection-failed box; may be null.
    // host: the server text (filetransfer.h: FTP(S), HTTPS, or several
    // mirrors); empty takes ftpServerHost(serverPath).
    CDownloadJob(IJobReport &report, IPrompt *prompt, const std::string &serverPath,
                 const std::string &programFolder, bool takeAll,
                 const std::string &host = std::string());
    ~CDownloadJob() override;

    // The clock that names the backup folder; the system clock by default.
    // Set before start().
    void setClock(Clock clock);
    // The key, CA file and clock that decide on the server's signature and
    // certificate. Set before start().
    void setSecurity(const UpdateSecurity &security) { m_security = security; }

    // Valid once the job has finished.
    Result result() const;

    // The backup folder name of a moment: "%Y%m%d%H%M" of its local time.
    static std::string backupFolderName(std::time_t moment);

protected:
    void run() override;

private:
    void DownloadThread();
    struct FileState;
    void transferFiles(IFileTransfer &client, RelInfoList &remote, const std::string &backupFolder);
    // Checks one file, keeps its backup copy and hands it over; false when
    // it ended here (state.reason says why).
    bool prepareFile(const RelInfoRecord &record, const std::string &backupFolder,
                     std::uint64_t reservedBytes, FileState &state);
    // installed: the relative name whose file holds name's content.
    bool backupInstalledFile(const std::string &name, const std::string &installed,
                             const std::string &backupFolder);
    // Makes (or takes again) the backup folder before the first file
    // changes; false, with m_backupError, when its name is not a folder.
    bool prepareBackupFolder(const std::string &backupFolder);
    void dropUnusedBackupFolder();
    void fail(const std::string &name, const std::string &reason);

    const std::string m_serverPath;
    const std::string m_programFolder;
    const bool m_takeAll;
    const std::string m_host;
    IPrompt *m_prompt;
    Clock m_clock;
    ClientFactory m_makeClient;
    UpdateSecurity m_security;
    Result m_result;
    bool m_madeBackupFolder = false;
    std::string m_backupError;
};
