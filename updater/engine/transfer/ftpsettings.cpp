#include "ftpsettings.h"

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <strings.h>

std::string ftpServerHost(const std::string &serverPath)
{
    const char *fromEnvironment = std::getenv(kFtpHostEnv);
    if (fromEnvironment && *fromEnvironment)
        return fromEnvironment;

    const std::string host = UpdateSettings::text(serverPath, UpdateSettings::kHost);
    if (!host.empty())
        return host;
    return kDefaultFtpHost;
}

bool ftpPassiveFromEnvironment()
{
    const char *value = std::getenv(kFtpPassiveEnv);
    if (!value)
        return false;
    return std::strcmp(value, "1") == 0 || strcasecmp(value, "yes") == 0
        || strcasecmp(value, "true") == 0;
}

long ftpStallSecondsFromEnvironment()
{
    const char *value = std::getenv(kFtpStallEnv);
    if (!value || !*value)
        return kDefaultStallSeconds;
    char *end = nullptr;
    const long seconds = std::strtol(value, &end, 10);
    return *end == '\0' && seconds >= 1 && seconds <= 3600 ? seconds : kDefaultStallSeconds;
}

IFileTransfer::MinRate parseMinRate(const std::string &text)
{
    IFileTransfer::MinRate rate{kDefaultMinRateBytes, kDefaultMinRateWindow};
    if (text == "0")
        return IFileTransfer::MinRate();
    const std::size_t slash = text.find('/');
    if (slash == std::string::npos)
        return rate;
    std::uint64_t bytes = 0;
    long seconds = 0;
    const char *first = text.data();
    const char *middle = first + slash;
    const char *last = first + text.size();
    const auto bytesRead = std::from_chars(first, middle, bytes);
    const auto secondsRead = std::from_chars(middle + 1, last, seconds);
    if (bytesRead.ec != std::errc() || bytesRead.ptr != middle || secondsRead.ec != std::errc()
        || secondsRead.ptr != last || seconds < 1 || seconds > 86400
        || bytes > (std::uint64_t(1) << 40))
        return rate;
    return IFileTransfer::MinRate{bytes, seconds};
}

IFileTransfer::MinRate ftpMinRate(const std::string &serverPath)
{
    return parseMinRate(UpdateSettings::text(serverPath, UpdateSettings::kMinRate));
}

IFileTransfer::TlsSettings transferTlsSettings(const std::string &serverPath,
                                               const std::string &caFile)
{
    IFileTransfer::TlsSettings settings;
    settings.caFile =
        caFile.empty() ? UpdateSettings::text(serverPath, UpdateSettings::kCaFile) : caFile;
    return settings;
}
