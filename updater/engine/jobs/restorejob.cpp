#include "restorejob.h"

#include "files/folderfiles.h"
#include "folder/fileaside.h"
#include "folder/folderlock.h"
#include "folder/folderpaths.h"
#include "jobreport.h"
#include "revision/relinfo.h"
#include "folder/releaselist.h"
#include "folder/releasetrial.h"

#include <chrono>
#include <vector>

namespace {

// How long a restore waits for another run in the same folder to end.
constexpr std::chrono::seconds kLockWait{3};

} // namespace

CRestoreJob::CRestoreJob(IJobReport &report, const std::string &programFolder,
                         const std::string &release)
    : CUpdateJob(report)
    , m_programFolder(programFolder)
    , m_release(release)
{
}

CRestoreJob::~CRestoreJob()
{
    stopWorker();
}

CRestoreJob::Result CRestoreJob::result() const
{
    return isRunning() ? Result() : m_result;
}

void CRestoreJob::run()
{
    RestoreThread();
}

void CRestoreJob::RestoreThread()
{
    m_report.addLine("... Preparing restore from directory!");
    m_report.setProgressRange(0, 100);
    m_report.setProgress(1);

    CProgramFolderLock lock(m_programFolder);
    std::vector<std::string> sources;
    std::vector<std::string> targets;
    if (!lock.acquire(kLockWait, &m_cancel)) {
        m_result.cancelled = m_cancel;
        m_report.addLine(" fail! " + lock.error());
        m_report.failureReason(lock.error());
    } else if (CollectRestoreFiles(m_programFolder, m_release, sources, targets)) {
        m_result.releaseFound = true;
        // A release the user went back to is theirs: no trial of a newer
        // one undoes it.
        closeReleaseTrial(m_programFolder);
        m_result.files = sources.size();
        m_report.addLine("---- start restore to " + m_release);
        m_report.setProgressRange(0, static_cast<int>(sources.size()) + 1);
        for (std::size_t i = 0; i < sources.size(); ++i) {
            if (m_cancel) {
                m_result.cancelled = true;
                break;
            }
            m_report.addLine(" restore -> " + sources[i]);
            m_report.setProgress(static_cast<int>(i) + 1);
            const bool ok = restoreOne(sources[i], targets[i]);
            m_report.removeLastLine();
            m_report.addLine((ok ? "  ok!    " : " fail!    ") + sources[i]);
            ++(ok ? m_result.copied : m_result.failed);
        }
    }

    m_report.setProgress(100);
    m_report.addLine("   ");
    m_report.addLine("  End of restore procedure!! ");
}

bool CRestoreJob::restoreOne(const std::string &source, const std::string &target)
{
    // Never through a link: a sub-folder of either name that is one fails
    // the file; a version link of a library (libX.so -> libX.so.3) stays,
    // and the file it leads to gets the copy.
    const std::string written = linkedFileInFolder(m_programFolder, target);
    // The installed file keeps its own name throughout: the backup copy
    // arrives beside it and replaces it by one rename, and the upd_ name
    // only holds the old content meanwhile.
    MoveAside(m_programFolder, written);
    std::string error;
    const bool ok = copyFileInFolder(m_programFolder, source, written, error, &m_cancel);
    DropAside(m_programFolder, written);
    return ok;
}
