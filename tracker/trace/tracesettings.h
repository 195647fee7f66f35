#pragma once

#include <string>

// The trace panel's values in the tool's settings store. Values are
// strings; a missing value reads as the empty string; a failed write is
// silent.
class CTraceSettings
{
public:
    static constexpr const char *kPlotCommand = "PlotCommand";
    static constexpr const char *kColorLine = "ColorLine";
    static constexpr const char *kColorBack = "ColorBack";
    static constexpr const char *kInterval = "T_Interval";
    static constexpr const char *kSize = "T_Size";
    static constexpr const char *kLog = "T_Log";
    static constexpr const char *kTraceTick = "TraceTick";
    static constexpr const char *kTracePath = "TracePath";
    static constexpr const char *kTraceFile = "TraceFile";

    static std::string read(const char *name);
    static void write(const char *name, const std::string &value);
};
