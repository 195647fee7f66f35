#pragma once

#include "updatejob.h"

#include <cstddef>
#include <string>

// Going back to an older release: the files of the chosen backup folder
// and of every later one are copied back into the program folder, the
// newest first, so that for each file the chosen release's copy stays.
class CRestoreJob : public CUpdateJob
{
public:
    struct Result
    {
        bool releaseFound = false;
        std::size_t files = 0; // files listed for copying back
        std::size_t copied = 0;
        std::size_t failed = 0;
        bool cancelled = false;

        // Every listed file copied back (false when the release is missing).
        bool allCopied() const
        {
            return releaseFound && !cancelled && failed == 0 && copied == files;
        }
    };

    CRestoreJob(IJobReport &report, const std::string &programFolder, const std::string &release);
    ~CRestoreJob() override;

    // Valid once the job has finished.
    Result result() const;

protected:
    void run() override;

private:
    void RestoreThread();
    bool restoreOne(const std::string &source, const std::string &target);

    const std::string m_programFolder;
    const std::string m_release;
    Result m_result;
};
