#include "releasenotesfetch.h"

#include "files/folderfiles.h"
#include "folder/folderlock.h"
#include "folder/transferbounds.h"
#include "revision/relinfo.h"
#include "revisionfetch.h"
#include "transfer/filetransfer.h"
#include "trustedkey.h"
#include "updatetransfer.h"

#include <chrono>

namespace {

const char *const kNoNotes = "The release notes cannot be shown: ";
// As long as the check waits: the window is waiting for the page.
constexpr std::chrono::seconds kLockWait{1};

// The connected client's page, or why not.
ReleaseNotesResult fetchFrom(IFileTransfer &client, const std::string &serverPath,
                             const std::string &programFolder, const UpdateSecurity &security)
{
    ReleaseNotesResult result;
    auto problem = [&](const std::string &why) {
        result.problem = kNoNotes + why;
        return result;
    };
    // The revision files and the page are written into the folder.
    CProgramFolderLock lock(programFolder);
    if (!lock.acquire(kLockWait))
        return problem(lock.error());
    if (!client.Connect())
        return problem("no connection to " + client.host() + " (" + client.lastError() + ")");
    if (!client.SetCurrentDirectory(serverPath))
        return problem("no update folder " + serverPath + " on the server");

    IFileTransfer::GetFileOptions options;
    options.syncToDisk = false;
    options.maxBytes = kMaxReleaseNotesBytes;
    const TrustedKey key = findTrustedKey(security.publicKeyFile, security.rootFile);
    if (key.source != TrustedKey::Source::None) {
        const VerifiedList verified = fetchVerifiedList(client, programFolder, security);
        if (verified.outcome == VerifiedList::Outcome::Refused)
            return problem(verified.refusal);
        if (verified.outcome != VerifiedList::Outcome::Accepted)
            return problem(std::string("cannot fetch ") + kRemoteRelInfoName + " ("
                           + verified.problem + ")");
        const ReleaseNotesSeal seal = readReleaseNotesSeal(verified.bytes);
        if (!seal.found)
            return problem(std::string("they are not covered by the signature of ")
                           + kRemoteRelInfoName);
        if (seal.size > kMaxReleaseNotesBytes)
            return problem("they are larger than " + std::to_string(kMaxReleaseNotesBytes)
                           + " bytes");
        // A page of no bytes is bounded by its seal all the same.
        options.maxBytes = seal.size > 0 ? seal.size : 1;
        options.expectedSha256 = seal.sha256;
    }
    std::string page;
    if (!client.GetBytes(kReleaseNotesName, page, options))
        return problem(std::string("cannot fetch ") + kReleaseNotesName + ": "
                       + client.lastError());
    std::string error;
    // The window shows the page it was given; a copy that cannot be kept
    // takes nothing from it.
    replaceFileInFolder(programFolder, kReleaseNotesName, page, error, false);
    result.html = std::move(page);
    result.shown = true;
    return result;
}

} // namespace

ReleaseNotesResult fetchReleaseNotes(const std::string &serverPath,
                                     const std::string &programFolder,
                                     const UpdateSecurity &security,
                                     const std::atomic<bool> *cancel)
{
    const std::unique_ptr<IFileTransfer> client =
        openUpdateTransfer(nullptr, serverPath, security, cancel);
    ReleaseNotesResult result = fetchFrom(*client, serverPath, programFolder, security);
    result.host = client->host();
    client->Close();
    return result;
}
