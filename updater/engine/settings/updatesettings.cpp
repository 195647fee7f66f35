#include "updatesettings.h"

#include "settingsfile.h"

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

// Checks the store's file before QSettings reads it (see SettingsFile).
bool storeFileSafe()
{
    return SettingsFile::prepare(QString::fromLatin1(kSettingsOrganisation),
                                 QString::fromLatin1(kSettingsApplication));
}

} // namespace

std::string keyPath(const std::string &serverPath)
{
    return std::string(kReminderKeyBase) + serverPath;
}

QVariant value(const std::string &keyPath, const std::string &valueName)
{
    if (!storeFileSafe())
        return QVariant();
    QSettings store(QSettings::UserScope, QString::fromLatin1(kSettingsOrganisation),
                    QString::fromLatin1(kSettingsApplication));
    return store.value(storeKey(keyPath, valueName));
}

bool setValue(const std::string &keyPath, const std::string &valueName, const QVariant &value)
{
    if (!storeFileSafe())
        return false;
    QSettings store(QSettings::UserScope, QString::fromLatin1(kSettingsOrganisation),
                    QString::fromLatin1(kSettingsApplication));
    if (!store.isWritable())
        return false;
    store.setValue(storeKey(keyPath, valueName), value);
    store.sync();
    // A format error belongs to the text read before: the value is written.
    return store.status() != QSettings::AccessError;
}

std::string text(const std::string &serverPath, const char *valueName)
{
    return value(keyPath(serverPath), valueName).toString().trimmed().toStdString();
}

} // namespace UpdateSettings
