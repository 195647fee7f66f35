#pragma once

#include <string>

// Where the update library finds its FTP server.
//
// ftpServerHost(serverPath) gives, in this order: the environment variable
// MORAVEL_FTP_HOST ("host", "host:port" or "ftpes://host:port", see
// ftptls.h) when set and not empty; the
// string value `Host` of the reminder settings of serverPath (per-user
// QSettings, organisation kSettingsOrganisation, application
// kSettingsApplication, group kReminderKeyBase + serverPath); the built-in
// default kDefaultFtpHost.
constexpr const char *kDefaultFtpHost = "ftp.norvane.com";
constexpr const char *kFtpHostEnv = "MORAVEL_FTP_HOST";
constexpr const char *kFtpPassiveEnv = "MORAVEL_FTP_PASSIVE";
constexpr const char *kSettingsOrganisation = "Norvane";
constexpr const char *kSettingsApplication = "AutoUpdate";
constexpr const char *kReminderKeyBase = "Software/Norvane/AutoUpdate/";
constexpr const char *kHostValueName = "Host";

std::string ftpServerHost(const std::string &serverPath = std::string());

// A string value of the reminder settings of serverPath, trimmed; empty
// when not set.
std::string reminderSettingText(const std::string &serverPath, const char *valueName);

// True when MORAVEL_FTP_PASSIVE is set to "1" (or "yes"/"true").
bool ftpPassiveFromEnvironment();
