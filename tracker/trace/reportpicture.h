#pragma once

#include "tracereport.h"

#include <string>

// Draws a report's graph into a PNG (300 dpi) or SVG file, dark on white
// for printing, without showing a window (the caller provides a
// QApplication). False with the reason, naming the path, in error.
bool writeReportPicture(const TraceReport &report, const std::string &path, int width, int height,
                        bool svg, std::string &error);
