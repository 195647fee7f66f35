#pragma once

#include "jobreport.h"

#include <cstdio>
#include <mutex>
#include <string>

// Prints a job's list as it stands: a line is held back until the next one
// arrives, since its outcome may still replace it. Progress is not shown.
class CliReport : public IJobReport
{
public:
    explicit CliReport(std::FILE *out);

    void addLine(const std::string &line) override;
    void removeLastLine() override;
    void setProgressRange(int minimum, int maximum) override;
    void setProgress(int position) override;
    void finished() override;

private:
    void flushPending();

    std::mutex m_mutex;
    std::FILE *m_out;
    std::string m_pending;
    bool m_hasPending = false;
};
