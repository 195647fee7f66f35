#pragma once

#include "settingskeys.h"

#include <string>

// The trace panel's values in the tool's settings store. Values are
// strings; a missing value reads as the empty string; a failed write is
// silent.
class CTraceSettings
{
public:
    static constexpr const char *kPlotCommand = SettingsKeys::kPlotCommand;
    static constexpr const char *kColorLine = SettingsKeys::kColorLine;
    static constexpr const char *kColorBack = SettingsKeys::kColorBack;
    static constexpr const char *kInterval = SettingsKeys::kInterval;
    static constexpr const char *kSize = SettingsKeys::kSize;
    static constexpr const char *kLog = SettingsKeys::kLog;
    static constexpr const char *kTraceTick = SettingsKeys::kTraceTick;
    static constexpr const char *kTracePath = SettingsKeys::kTracePath;
    static constexpr const char *kTraceFile = SettingsKeys::kTraceFile;
    static constexpr const char *kExportSize = SettingsKeys::kExportSize;
    static constexpr const char *kExportPath = SettingsKeys::kExportPath;
    static constexpr const char *kRangePath = SettingsKeys::kRangePath;
    static constexpr const char *kReviewFile = SettingsKeys::kReviewFile;

    static std::string read(const char *name);
    static void write(const char *name, const std::string &value);
};
