#pragma once

#include "trust/updatesecurity.h"

#include <functional>
#include <string>

class IFileTransfer;
class CProgramFolderLock;
class IPrompt;
class RelInfoList;

// The update check: finds out whether the update server holds newer files
// than the program folder, tells the user in one box and, on Yes, hands
// over to the release-notes step. The server's list is taken as
// revisionfetch.h verifies it, from the first mirror whose list is
// accepted.
//
// The check holds the program folder's lock while it works in the folder,
// and never while a box waits: it lets the lock go before it connects (the
// client tells a failed connection itself) and before each of its boxes.
//
// The check runs on the caller's thread (a reminder worker or the
// user-interface thread); the release-notes request is called on that same
// thread, and whoever provides it moves the step to the user-interface
// thread.
class CUpdateCheck
{
public:
    enum class Outcome
    {
        NotRun,
        NewerFiles,
        NothingNewer,
        NoConnection,   // connect, update directory or RelInfoRemote.rel test failed
        NoRevisionFile, // RelInfoRemote.rel could not be downloaded or read
        Refused,        // every mirror's RelInfoRemote.rel failed the checks (revisionfetch.h)
        Busy,           // a download or restore held the program folder's lock
        Error           // an exception ended the check
    };

    using ReleaseNotesRequest = std::function<void()>;

    // The client and the prompt must outlive the check object.
    CUpdateCheck(IFileTransfer &client, IPrompt &prompt,
                 ReleaseNotesRequest requestReleaseNotes = ReleaseNotesRequest());

    // Runs one check. Always returns false; the user learns the outcome
    // from the boxes, the caller from lastOutcome() and lastMessage().
    // programName is accepted and not used.
    bool CheckForUpdates(const std::string &serverPath, const std::string &programFolder,
                         const std::string &programName, bool scheduledRun);

    // The key and clock that decide on the revision file's signature.
    void setSecurity(const UpdateSecurity &security) { m_security = security; }

    Outcome lastOutcome() const { return m_outcome; }
    // The text of the last box the check showed (or would have shown, in a
    // scheduled run with nothing newer); empty when it showed none.
    const std::string &lastMessage() const { return m_message; }
    // Why the last check failed, or which server records it passed over,
    // one reason a line; empty when there is nothing to tell.
    const std::string &lastReasons() const { return m_reasons; }

    // The question text for a remote list reduced to the newer files
    // (anyNewer false: the nothing-newer text).
    static std::string composeMessage(const RelInfoList &newer, bool anyNewer);
    // The caption of the release-notes window for the FTP host.
    static std::string releaseNotesCaption(const std::string &host);

    static constexpr std::size_t kMaxListedFiles = 10;

private:
    Outcome runCheck(CProgramFolderLock &lock, const std::string &serverPath,
                     const std::string &programFolder, bool scheduledRun);
    Outcome busy(const CProgramFolderLock &lock, bool scheduledRun);
    Outcome noConnection(const std::string &what);
    void addReason(const std::string &reason);

    IFileTransfer &m_client;
    IPrompt &m_prompt;
    UpdateSecurity m_security;
    ReleaseNotesRequest m_requestReleaseNotes;
    Outcome m_outcome = Outcome::NotRun;
    std::string m_message;
    std::string m_reasons;
};
