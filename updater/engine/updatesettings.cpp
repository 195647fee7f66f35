#include "updatesettings.h"

#include <QSettings>
#include <QString>

namespace UpdateSettings {

namespace {

QString storeKey(const std::string &keyPath, const std::string &valueName)
{
    QString group = QString::fromStdString(keyPath);
    group.replace(QLatin1Char('\\'), QLatin1Char('/'));
    while (group.endsWith(QLatin1Char('/')))
        group.chop(1);
    return group + QLatin1Char('/') + QString::fromStdString(valueName);
}

} // namespace

std::string keyPath(const std::string &serverPath)
{
    return std::string(kReminderKeyBase) + serverPath;
}

QVariant value(const std::string &keyPath, const std::string &valueName)
{
    QSettings store(QSettings::UserScope, QString::fromLatin1(kSettingsOrganisation),
                    QString::fromLatin1(kSettingsApplication));
    return store.value(storeKey(keyPath, valueName));
}

bool setValue(const std::string &keyPath, const std::string &valueName, const QVariant &value)
{
    QSettings store(QSettings::UserScope, QString::fromLatin1(kSettingsOrganisation),
                    QString::fromLatin1(kSettingsApplication));
    if (!store.isWritable())
        return false;
    store.setValue(storeKey(keyPath, valueName), value);
    store.sync();
    return store.status() == QSettings::NoError;
}

std::string text(const std::string &serverPath, const char *valueName)
{
    return value(keyPath(serverPath), valueName).toString().trimmed().toStdString();
}

} // namespace UpdateSettings
