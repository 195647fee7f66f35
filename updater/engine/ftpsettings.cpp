#include "ftpsettings.h"

#include <QSettings>
#include <QString>

#include <cstdlib>
#include <cstring>
#include <strings.h>

std::string ftpServerHost(const std::string &serverPath)
{
    const char *fromEnvironment = std::getenv(kFtpHostEnv);
    if (fromEnvironment && *fromEnvironment)
        return fromEnvironment;

    const std::string host = reminderSettingText(serverPath, kHostValueName);
    if (!host.empty())
        return host;
    return kDefaultFtpHost;
}

std::string reminderSettingText(const std::string &serverPath, const char *valueName)
{
    QSettings settings(QString::fromLatin1(kSettingsOrganisation),
                       QString::fromLatin1(kSettingsApplication));
    // The registry's "\" between key names is the store's "/".
    QString group = QString::fromLatin1(kReminderKeyBase) + QString::fromStdString(serverPath);
    group.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const QString key = group + QLatin1Char('/') + QString::fromLatin1(valueName);
    return settings.value(key).toString().trimmed().toStdString();
}

bool ftpPassiveFromEnvironment()
{
    const char *value = std::getenv(kFtpPassiveEnv);
    if (!value)
        return false;
    return std::strcmp(value, "1") == 0 || strcasecmp(value, "yes") == 0
        || strcasecmp(value, "true") == 0;
}
