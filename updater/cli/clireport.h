#pragma once

#include "jobs/jobreport.h"

#include <cstdio>
#include <mutex>
#include <string>

// Prints a job's list as it stands: a line is held back until the next one
// arrives, since its outcome may still replace it. Progress is not shown.
// Failure reasons go to a second stream (standard error), each after the
// list line it explains, as "moravel-cli: REASON".
class CliReport : public IJobReport
{
public:
    explicit CliReport(std::FILE *out, std::FILE *reasons = stderr);

    void addLine(const std::string &line) override;
    void removeLastLine() override;
    void setProgressRange(int minimum, int maximum) override;
    void setProgress(int position) override;
    void finished() override;
    void failureReason(const std::string &reason) override;

private:
    void flushPending();

    std::mutex m_mutex;
    std::FILE *m_out;
    std::FILE *m_reasons;
    std::string m_pending;
    bool m_hasPending = false;
};
