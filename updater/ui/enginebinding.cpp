#include "enginebinding.h"

#include "curllibrary.h"
#include "ftpfileclient.h"
#include "ftpsettings.h"
#include "installationaccess.h"
#include "libraryclosing.h"
#include "prompt.h"
#include "releasenotesdlg.h"
#include "reminderschedule.h"
#include "updatecheck.h"

#include <filesystem>
#include <mutex>
#include <system_error>

namespace EngineBinding {

namespace {
const char *const kReleaseNotesPage = "LatestUpdate.html";
}

CUpdateReminderDlg::CheckFunction updateCheck(IPrompt &prompt)
{
    return
        [&prompt](CUpdateReminderDlg &scheduler, const CUpdateReminderDlg::CheckRequest &request) {
            const std::string refusal = installationRefusal(request.programFolder);
            if (!refusal.empty()) {
                // Scheduled runs say it once for good; an asked-for check
                // says it each time.
                if (!request.scheduledRun
                    || ReminderSchedule::takeReadOnlyNotice(
                        UpdateSettings::keyPath(request.serverPath)))
                    prompt.message(refusal, std::string(), IPrompt::Buttons::Ok,
                                   IPrompt::Icon::Information);
                return;
            }
            // libcurl brings OpenSSL, which registers an exit handler of its
            // own; the library's closing has to run before it.
            static std::once_flag loaded;
            std::call_once(loaded, [] {
                CurlLibrary::get();
                LibraryClosing::armExitHandler();
            });
            CFtpFileClient client(&prompt, ftpServerHost(request.serverPath));
            client.setTls(ftpTlsSettings(request.serverPath));
            client.setCancelFlag(request.cancel);
            CUpdateCheck check(client, prompt, [&scheduler] { scheduler.armReleaseNotesTimer(); });
            check.CheckForUpdates(request.serverPath, request.programFolder, request.programName,
                                  request.scheduledRun);
        };
}

void showLatestReleaseNotes(CUpdateReminderDlg &scheduler, IPrompt &prompt)
{
    const std::string serverPath = scheduler.serverPath();
    std::string folder = scheduler.programFolder();

    CReleaseNotesDlg notes(prompt);
    notes.setServerPath(serverPath);
    notes.setProgramFolder(folder);

    CFtpFileClient client(&prompt, ftpServerHost(serverPath));
    client.setTls(ftpTlsSettings(serverPath));
    if (!client.Connect())
        return;
    if (!client.SetCurrentDirectory(serverPath) || !client.FindFile(kReleaseNotesPage)) {
        client.Close();
        return;
    }
    if (folder.empty()) {
        std::error_code ec;
        folder = std::filesystem::current_path(ec).string();
    }
    const bool fetched = client.GetFile(kReleaseNotesPage, folder);
    const std::string host = client.host();
    // The connection is not kept open while the user reads.
    client.Close();
    if (!fetched)
        return;
    notes.setInstallMode(true);
    notes.setPagePath(folder + "/" + kReleaseNotesPage);
    notes.setProgramName(scheduler.programName());
    notes.setCaptionPrefix(CUpdateCheck::releaseNotesCaption(host));
    notes.exec();
}

} // namespace EngineBinding
