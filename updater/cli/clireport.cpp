#include "clireport.h"

CliReport::CliReport(std::FILE *out, std::FILE *reasons)
    : m_out(out)
    , m_reasons(reasons)
{
}

void CliReport::addLine(const std::string &line)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    flushPending();
    m_pending = line;
    m_hasPending = true;
}

void CliReport::removeLastLine()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_hasPending = false;
    m_pending.clear();
}

void CliReport::setProgressRange(int, int)
{
}

void CliReport::setProgress(int)
{
}

void CliReport::finished()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    flushPending();
}

void CliReport::failureReason(const std::string &reason)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    flushPending();
    std::fprintf(m_reasons, "moravel-cli: %s\n", reason.c_str());
    std::fflush(m_reasons);
}

void CliReport::flushPending()
{
    if (!m_hasPending)
        return;
    m_pending += '\n';
    std::fwrite(m_pending.data(), 1, m_pending.size(), m_out);
    std::fflush(m_out);
    m_hasPending = false;
    m_pending.clear();
}
