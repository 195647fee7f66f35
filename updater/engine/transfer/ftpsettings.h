#pragma once

#include "filetransfer.h"
#include "settings/updatesettings.h"

#include <string>

// Where the update library finds its server, and the settings of its
// transfers.
//
// ftpServerHost(serverPath) gives, in this order: the environment variable
// MORAVEL_FTP_HOST ("host", "host:port", "ftpes://host:port" (ftptls.h),
// "https://host[:port][/prefix]", or several of them separated by commas:
// filetransfer.h) when set and not empty; the
// string value `Host` of serverPath's group in the update settings
// (updatesettings.h); the built-in default kDefaultFtpHost.
constexpr const char *kFtpHostEnv = "MORAVEL_FTP_HOST";
constexpr const char *kFtpPassiveEnv = "MORAVEL_FTP_PASSIVE";
constexpr const char *kFtpStallEnv = "MORAVEL_FTP_STALL_SECONDS";
constexpr long kDefaultStallSeconds = 30;

std::string ftpServerHost(const std::string &serverPath = std::string());

// True when MORAVEL_FTP_PASSIVE is set to "1" (or "yes"/"true").
bool ftpPassiveFromEnvironment();

// Seconds without progress after which a request gives up: MORAVEL_FTP_STALL_SECONDS
// when it holds a whole number from 1 to 3600, else kDefaultStallSeconds.
long ftpStallSecondsFromEnvironment();

// The minimum rate of downloads for a server path: its `MinRate` setting,
// "bytes/seconds" (at least bytes a second over every window of seconds;
// "0" switches the rule off), else kDefaultMinRate (1 KiB/s over 60 s).
constexpr std::uint64_t kDefaultMinRateBytes = 1024;
constexpr long kDefaultMinRateWindow = 60;
IFileTransfer::MinRate parseMinRate(const std::string &text);
IFileTransfer::MinRate ftpMinRate(const std::string &serverPath);

// The TLS settings of a server path: its `CAFile` setting, or caFile when
// that is not empty.
IFileTransfer::TlsSettings transferTlsSettings(const std::string &serverPath,
                                               const std::string &caFile = std::string());
