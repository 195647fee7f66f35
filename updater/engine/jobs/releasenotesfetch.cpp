#include "releasenotesfetch.h"

#include "transfer/filetransfer.h"
#include "revision/relinfo.h"
#include "revision/relinfolist.h"
#include "revision/revisionsignature.h"
#include "trust/revisiontrust.h"
#include "folder/transferbounds.h"
#include "updatetransfer.h"
#include "validatorcache.h"

namespace {

const char *const kNoNotes = "The release notes cannot be shown: ";

// The connected client's page, or why not.
ReleaseNotesResult fetchFrom(IFileTransfer &client, const std::string &serverPath,
                             const std::string &programFolder, const UpdateSecurity &security)
{
    ReleaseNotesResult result;
    auto problem = [&](const std::string &why) {
        result.problem = kNoNotes + why;
        return result;
    };
    if (!client.Connect())
        return problem("no connection to " + client.host() + " (" + client.lastError() + ")");
    if (!client.SetCurrentDirectory(serverPath))
        return problem("no update folder " + serverPath + " on the server");

    IFileTransfer::GetFileOptions options;
    options.syncToDisk = false;
    options.maxBytes = kMaxReleaseNotesBytes;
    const TrustedKey key = findTrustedKey(security.publicKeyFile);
    if (key.source != TrustedKey::Source::None) {
        IFileTransfer::GetFileOptions listOptions;
        listOptions.syncToDisk = false;
        listOptions.maxBytes = static_cast<std::uint64_t>(kMaxRelInfoFileSize);
        RelInfoList remote;
        const std::string listPath = localPathFor(programFolder, kRemoteRelInfoName);
        if (!fetchRevisionFile(client, kRemoteRelInfoName, programFolder, listOptions)
            || !ReadRemoteRelInfo(remote, listPath))
            return problem(std::string("cannot fetch ") + kRemoteRelInfoName + " ("
                           + client.lastError() + ")");
        CRevisionTrust trust(security);
        if (!trust.accept(client, programFolder, remote))
            return problem(trust.refusal());
        const ReleaseNotesSeal seal = readReleaseNotesSeal(listPath);
        if (!seal.found)
            return problem(std::string("they are not covered by the signature of ")
                           + kRemoteRelInfoName);
        if (seal.size > kMaxReleaseNotesBytes)
            return problem("they are larger than " + std::to_string(kMaxReleaseNotesBytes)
                           + " bytes");
        options.maxBytes = seal.size;
        options.expectedSha256 = seal.sha256;
    }
    if (!client.GetFile(kReleaseNotesName, programFolder, options))
        return problem(std::string("cannot fetch ") + kReleaseNotesName + ": "
                       + client.lastError());
    if (!appendWholeFile(localPathFor(programFolder, kReleaseNotesName), result.html,
                         static_cast<std::size_t>(options.maxBytes))) {
        result.html.clear();
        return problem(std::string(kReleaseNotesName) + " cannot be read");
    }
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
