#pragma once

#include <string>

// What the trace graph is set to for a poll interval and a time span.
struct GraphSettings
{
    double interval = 100.0; // ms actually used (below 1 becomes 100)
    double points = 600.0;   // samples in the time span
    int chartLength = 601;   // points kept by the graph: points + 1, truncated
    double xMin = 0.0;
    double xMax = 600.0;     // the X axis counts samples
    std::string labelFormat; // "*%f\"s" with the seconds per sample

    static GraphSettings compute(double intervalMs, double sizeSeconds);
    // Why a manual value range cannot be used; empty when it can.
    static std::string rangeError(double minimum, double maximum, bool logScale);
};
