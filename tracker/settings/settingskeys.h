#pragma once

// Where the tracker keeps its settings and the names of its values. All
// values are strings; numbers are stored as their decimal text.
namespace SettingsKeys {

// The per-user store: organisation and application of the settings file.
constexpr const char *kOrganisation = "Norvane";
constexpr const char *kApplication = "Dunvik";
// The update library's store beside it (its reminder settings).
constexpr const char *kUpdateApplication = "AutoUpdate";
// The key inside the store that holds every value below.
constexpr const char *kKeyPath = "Software\\Norvane\\Dunvik";

// Connection: the port as typed, the baud list's text.
constexpr const char *kComport = "Comport";
constexpr const char *kBaud = "Baud";
// What opening the port does with DTR and with RTS: "keep", "on" or "off".
constexpr const char *kDtr = "DTR";
constexpr const char *kRts = "RTS";
// Console: the commands sent, newest first, one a line.
constexpr const char *kCommandHistory = "CommandHistory";
// Console: the pace of continuous sending in ms.
constexpr const char *kSendInterval = "SendInterval";
// Trace panel.
constexpr const char *kPlotCommand = "PlotCommand";
constexpr const char *kColorLine = "ColorLine";
constexpr const char *kColorBack = "ColorBack";
constexpr const char *kInterval = "T_Interval";
constexpr const char *kSize = "T_Size";
constexpr const char *kLog = "T_Log";
// CSV logging.
constexpr const char *kTraceTick = "TraceTick";
constexpr const char *kTracePath = "TracePath";
constexpr const char *kTraceFile = "TraceFile";
// Trace panel's pictures and reports: the picture size ("1200x800"), the
// folder pictures were last saved to, the folder the visible range was
// last saved to as CSV, the report last opened.
constexpr const char *kExportSize = "T_ExportSize";
constexpr const char *kExportPath = "T_ExportPath";
constexpr const char *kRangePath = "T_RangePath";
constexpr const char *kReviewFile = "T_ReviewFile";

} // namespace SettingsKeys
