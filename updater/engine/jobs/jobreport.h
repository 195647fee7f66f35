#pragma once

#include <string>

// What a download or restore job tells its window: lines of the run's list
// and the progress bar. Called on the job's worker thread, in the order of
// the run; a window hands each call over to its user-interface thread.
class IJobReport
{
public:
    virtual ~IJobReport() = default;

    virtual void addLine(const std::string &line) = 0;
    // Removes the last line (a " copy -> " or " restore -> " line that its
    // outcome replaces).
    virtual void removeLastLine() = 0;
    virtual void setProgressRange(int minimum, int maximum) = 0;
    virtual void setProgress(int position) = 0;
    // Why something of the run failed (a file, a folder, the server), as
    // one readable sentence; the list lines stay as they are. A window may
    // leave these out.
    virtual void failureReason(const std::string &reason) { (void)reason; }
    // The run is over; nothing else is reported. The window may then ask
    // the end-of-run question (CUpdateJob::askStartProgram) on its own
    // thread. The job must not be destroyed from within this call.
    virtual void finished() = 0;
};
