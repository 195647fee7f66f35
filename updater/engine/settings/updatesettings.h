#pragma once

#include <QVariant>

#include <cstdint>
#include <string>

// The update library's per-user settings: one store (QSettings, organisation
// kSettingsOrganisation, application kSettingsApplication), one group per host
// program under kReminderKeyBase, and every value name and default the library
// uses. Key paths may use "\" between key names as the registry does; they
// reach the store as "/".
constexpr const char *kSettingsOrganisation = "Norvane";
constexpr const char *kSettingsApplication = "AutoUpdate";
constexpr const char *kReminderKeyBase = "Software/Norvane/AutoUpdate/";
// The FTP server when neither the environment nor the settings name one.
constexpr const char *kDefaultFtpHost = "ftp.norvane.com";

namespace UpdateSettings {

// The reminder's values.
inline constexpr const char *kActive = "Active";
inline constexpr const char *kCheck = "Check";
inline constexpr const char *kInterval = "Interval";
inline constexpr const char *kLastUpdate = "LastUpdate";
// 1 once the scheduled check has said that the program folder is read-only.
inline constexpr const char *kReadOnlyNotice = "ReadOnlyNotice";
// Where the update server is and how to reach it.
inline constexpr const char *kHost = "Host";
inline constexpr const char *kTls = "TLS";
inline constexpr const char *kCaFile = "CAFile";
// The proxy for every transfer, "[scheme://][user:password@]host[:port]";
// unset: the environment's proxy variables (https_proxy, no_proxy, ...).
inline constexpr const char *kProxy = "Proxy";
// The slowest a download may arrive, "bytes/seconds": at least that many
// bytes a second over every window of that many seconds (ftpsettings.h).
inline constexpr const char *kMinRate = "MinRate";
// Seconds a program started after an update must run without failing
// before its release counts as good (trialwatch.h).
inline constexpr const char *kTrialSeconds = "TrialSeconds";

// Written on the first start.
inline constexpr std::uint32_t kDefaultActive = 1;
inline constexpr std::uint32_t kDefaultCheck = 0;
inline constexpr std::uint32_t kDefaultInterval = 5;

// The key path of a host program: the base followed directly by its server
// path as given.
std::string keyPath(const std::string &serverPath);

// A stored value; invalid when it is not set.
QVariant value(const std::string &keyPath, const std::string &valueName);
// False when the store cannot be written.
bool setValue(const std::string &keyPath, const std::string &valueName, const QVariant &value);

// A text value of a host program's group, trimmed; empty when not set.
std::string text(const std::string &serverPath, const char *valueName);

} // namespace UpdateSettings
