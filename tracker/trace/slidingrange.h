#pragma once

#include <deque>
#include <utility>

// Minimum and maximum of a window of (x, value) points that grows at the
// new end and shrinks at the old end, in constant time per point: the
// graph needs its value range on every redraw.
class CSlidingRange
{
public:
    void clear();
    // x must increase from call to call. NaN values are ignored.
    void add(double x, double value);
    // Forgets the points before x.
    void dropBefore(double x);
    // False when the window holds no value.
    bool range(double &minimum, double &maximum) const;

private:
    // Candidates for the minimum (values increasing) and maximum (values
    // decreasing), oldest first.
    std::deque<std::pair<double, double>> m_min;
    std::deque<std::pair<double, double>> m_max;
};
