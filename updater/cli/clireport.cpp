#include "clireport.h"

CliReport::CliReport(std::FILE *out)
    : m_out(out)
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
