#include "enginebinding.h"

#include "transfer/curllibrary.h"
#include "transfer/filetransfer.h"
#include "transfer/ftpsettings.h"
#include "transfer/transferfactory.h"
#include "folder/installationaccess.h"
#include "libraryclosing.h"
#include "prompt.h"
#include "releasenotesdlg.h"
#include "reminderschedule.h"
#include "jobs/releasenotesfetch.h"
#include "jobs/updatecheck.h"
#include "jobs/updatetransfer.h"

#include <QPointer>

#include <filesystem>
#include <atomic>
#include <mutex>
#include <system_error>
#include <thread>

namespace EngineBinding {

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
            UpdateSecurity security;
            security.ignorePhases = request.ignorePhases;
            const std::unique_ptr<IFileTransfer> client =
                openUpdateTransfer(&prompt, request.serverPath, security, request.cancel);
            CUpdateCheck check(*client, prompt, [&scheduler] { scheduler.armReleaseNotesTimer(); });
            check.setSecurity(security);
            check.CheckForUpdates(request.serverPath, request.programFolder, request.programName,
                                  request.scheduledRun);
        };
}

void showLatestReleaseNotes(CUpdateReminderDlg &scheduler, IPrompt &prompt)
{
    const std::string serverPath = scheduler.serverPath();
    std::string folder = scheduler.programFolder();
    if (folder.empty()) {
        std::error_code ec;
        folder = std::filesystem::current_path(ec).string();
    }

    CReleaseNotesDlg notes(prompt);
    notes.setServerPath(serverPath);
    notes.setProgramFolder(scheduler.programFolder());
    notes.setInstallMode(true);
    notes.setProgramName(scheduler.programName());
    notes.setCaptionPrefix(CUpdateCheck::releaseNotesCaption(
        makeFileTransfer(nullptr, ftpServerHost(serverPath))->host()));

    // The page comes on a worker while the window is open and answers;
    // closing the window cancels the transfer within a twentieth of a
    // second.
    std::atomic<bool> cancel{false};
    QPointer<CReleaseNotesDlg> window(&notes);
    std::thread fetcher([&cancel, window, serverPath, folder] {
        const ReleaseNotesResult page =
            fetchReleaseNotes(serverPath, folder, UpdateSecurity(), &cancel);
        if (cancel.load())
            return;
        QMetaObject::invokeMethod(
            window.data(),
            [window, page] {
                if (!window)
                    return;
                if (page.shown)
                    window->showPage(QByteArray::fromStdString(page.html));
                else
                    window->showPageProblem(QString::fromStdString(page.problem));
            },
            Qt::QueuedConnection);
    });
    notes.exec();
    cancel.store(true);
    fetcher.join();
}

} // namespace EngineBinding
