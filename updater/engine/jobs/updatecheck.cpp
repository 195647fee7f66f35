#include "updatecheck.h"

#include "folder/fileaside.h"
#include "folder/folderlock.h"
#include "transfer/filetransfer.h"
#include "messagetexts.h"
#include "prompt.h"
#include "revision/relinfo.h"
#include "revision/relinfolist.h"
#include "revisionfetch.h"

#include <chrono>
#include <exception>

namespace {

// How long a check waits for a download or restore in the folder to end;
// short, as the host's ending may be waiting for the check.
constexpr std::chrono::seconds kLockWait{1};

std::string separator()
{
    return std::string("\n") + kRuleLine + "\n\n";
}

} // namespace

CUpdateCheck::CUpdateCheck(IFileTransfer &client, IPrompt &prompt,
                           ReleaseNotesRequest requestReleaseNotes)
    : m_client(client)
    , m_prompt(prompt)
    , m_requestReleaseNotes(std::move(requestReleaseNotes))
{
}

bool CUpdateCheck::CheckForUpdates(const std::string &serverPath, const std::string &programFolder,
                                   const std::string & /*programName*/, bool scheduledRun)
{
    m_message.clear();
    m_reasons.clear();
    // The check writes the revision files it keeps and purges upd_ files:
    // not while another run works in the folder.
    CProgramFolderLock lock(programFolder);
    if (!lock.acquire(kLockWait)) {
        m_outcome = busy(lock, scheduledRun);
        return false;
    }
    PurgeAsideFiles(programFolder);
    try {
        m_outcome = runCheck(lock, serverPath, programFolder, scheduledRun);
    } catch (...) {
        // The client is left as it was on this path.
        m_outcome = Outcome::Error;
        m_message = kCheckException;
        lock.release();
        m_prompt.message(m_message, std::string(), IPrompt::Buttons::Ok, IPrompt::Icon::None);
    }
    return false;
}

CUpdateCheck::Outcome CUpdateCheck::busy(const CProgramFolderLock &lock, bool scheduledRun)
{
    addReason(lock.error());
    if (!scheduledRun) {
        m_message = " " + lock.error() + "\n";
        m_prompt.message(m_message, std::string(), IPrompt::Buttons::Ok,
                         IPrompt::Icon::Information);
    }
    return Outcome::Busy;
}

CUpdateCheck::Outcome CUpdateCheck::runCheck(CProgramFolderLock &lock,
                                             const std::string &serverPath,
                                             const std::string &programFolder, bool scheduledRun)
{
    // No box waits while the folder is locked: the client tells a failed
    // connection itself, and every box of the check ends it.
    lock.release();
    if (!m_client.Connect())
        return noConnection("cannot connect to " + m_client.host());
    if (!lock.acquire(kLockWait)) {
        m_client.Close();
        return busy(lock, scheduledRun);
    }
    if (m_client.plainFallback())
        addReason(m_client.host() + " offers no TLS: the check ran over plain FTP");
    if (!m_client.SetCurrentDirectory(serverPath)) {
        lock.release();
        return noConnection("no update folder " + serverPath);
    }
    if (!m_client.FindFile(kRemoteRelInfoName)) {
        lock.release();
        return noConnection(std::string("no ") + kRemoteRelInfoName + " in " + serverPath);
    }

    VerifiedList verified = fetchVerifiedList(m_client, programFolder, m_security);
    if (verified.outcome == VerifiedList::Outcome::NoList) {
        addReason(std::string("cannot download ") + kRemoteRelInfoName + ": " + verified.problem);
        m_client.Close();
        return Outcome::NoRevisionFile;
    }
    for (const std::string &why : verified.passedOver)
        addReason("passed over " + std::string(kRemoteRelInfoName) + " of " + why);
    if (verified.outcome == VerifiedList::Outcome::Refused) {
        m_client.Close();
        // Told in scheduled runs too: someone may be tampering with updates.
        m_message = verified.refusal;
        lock.release();
        m_prompt.message(m_message, std::string(), IPrompt::Buttons::Ok, IPrompt::Icon::Warning);
        return Outcome::Refused;
    }
    if (verified.heldBackUntil != 0)
        addReason(heldBackReason(verified.heldBackUntil));
    RelInfoList &remote = verified.records;
    for (const std::string &reason : dropUnusableRecords(remote))
        addReason(reason);
    RelInfoList local;
    ReadLocalRelInfo(local, localPathFor(programFolder, kLocalRelInfoName));

    const bool anyNewer = SelectNewerFiles(local, remote, false);
    m_message = composeMessage(remote, anyNewer);
    // The folder's files are read; the user may take his time to answer,
    // and the release notes take the lock for themselves.
    lock.release();
    if (anyNewer || !scheduledRun) {
        const IPrompt::Answer answer = m_prompt.message(
            m_message, std::string(), IPrompt::Buttons::YesNo, IPrompt::Icon::Question);
        if (answer == IPrompt::Answer::Yes && m_requestReleaseNotes)
            m_requestReleaseNotes();
    }
    m_client.Close();
    return anyNewer ? Outcome::NewerFiles : Outcome::NothingNewer;
}

void CUpdateCheck::addReason(const std::string &reason)
{
    m_reasons += reason + "\n";
}

CUpdateCheck::Outcome CUpdateCheck::noConnection(const std::string &what)
{
    addReason(what + ": " + m_client.lastError());
    const bool tlsRefused = m_client.tlsRefused();
    m_client.Close();
    if (tlsRefused) {
        // The client's box said why; the line is not the problem.
        m_message = m_client.lastError();
        return Outcome::NoConnection;
    }
    // Shown in scheduled runs too.
    m_message = kCheckNoConnection;
    m_prompt.message(m_message, std::string(), IPrompt::Buttons::Ok, IPrompt::Icon::Question);
    return Outcome::NoConnection;
}

std::string CUpdateCheck::composeMessage(const RelInfoList &newer, bool anyNewer)
{
    std::string text = std::string(kCheckHead) + kToolVersion + separator();
    if (anyNewer) {
        text += kCheckNewerFiles;
        std::size_t listed = 0;
        for (const RelInfoRecord &record : newer) {
            if (listed == kMaxListedFiles) {
                text += kCheckOverflow;
                break;
            }
            text += "   ";
            text += record.revision;
            text += "\t\t->> ";
            text += record.fileName;
            text += " \n";
            ++listed;
        }
    } else {
        text += kCheckNothingNewer;
    }
    return text + separator() + kCheckQuestion;
}

std::string CUpdateCheck::releaseNotesCaption(const std::string &host)
{
    std::string caption = kReleaseNotesCaption;
    const std::size_t at = caption.find("%s");
    return caption.replace(at, 2, host);
}
