#include "ftpsettings.h"

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
