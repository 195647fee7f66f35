#include "slidingrange.h"

#include <cmath>

void CSlidingRange::clear()
{
    m_min.clear();
    m_max.clear();
}

void CSlidingRange::add(double x, double value)
{
    if (std::isnan(value))
        return;
    while (!m_min.empty() && m_min.back().second >= value)
        m_min.pop_back();
    m_min.emplace_back(x, value);
    while (!m_max.empty() && m_max.back().second <= value)
        m_max.pop_back();
    m_max.emplace_back(x, value);
}

void CSlidingRange::dropBefore(double x)
{
    while (!m_min.empty() && m_min.front().first < x)
        m_min.pop_front();
    while (!m_max.empty() && m_max.front().first < x)
        m_max.pop_front();
}

bool CSlidingRange::range(double &minimum, double &maximum) const
{
    if (m_min.empty() || m_max.empty())
        return false;
    minimum = m_min.front().second;
    maximum = m_max.front().second;
    return true;
}
