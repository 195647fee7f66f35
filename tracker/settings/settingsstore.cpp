#include "settingsstore.h"

#include "settingskeys.h"
#include "settingsfile.h"

#include <QSettings>
#include <QString>
#include <QStringList>
#include <QVariant>

namespace {

// The registry-style "\" between key names becomes the store's group
// separator; empty names (doubled or trailing separators) are dropped.
QString groupOf(const std::string &keyPath)
{
    const QStringList parts =
        QString::fromStdString(keyPath).split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    return parts.join(QLatin1Char('/'));
}

// Checks the store's file before QSettings reads it (see SettingsFile).
bool storeFileSafe()
{
    return SettingsFile::prepare(QString::fromLatin1(SettingsKeys::kOrganisation),
                                 QString::fromLatin1(SettingsKeys::kApplication));
}

} // namespace

int CSettingsStore::ReadValue(const std::string &keyPath, const std::string &valueName,
                              std::string &value)
{
    value.clear();
    if (!storeFileSafe())
        return m_status = kNoKey;
    QSettings store(QSettings::UserScope, QString::fromLatin1(SettingsKeys::kOrganisation),
                    QString::fromLatin1(SettingsKeys::kApplication));
    if (store.status() != QSettings::NoError)
        return m_status = kNoKey;
    const QString group = groupOf(keyPath);
    if (!group.isEmpty()) {
        store.beginGroup(group);
        // A key exists once something has been written below it.
        if (store.allKeys().isEmpty())
            return m_status = kNoKey;
    }
    const QVariant stored = store.value(QString::fromStdString(valueName));
    if (!stored.isValid())
        return m_status = kNoValue;
    value = stored.toString().toStdString();
    return m_status = kOk;
}

int CSettingsStore::WriteValue(const std::string &keyPath, const std::string &valueName,
                               const std::string &text)
{
    if (text.size() > static_cast<std::size_t>(SettingsFile::kMaxValueBytes))
        return m_status = kWriteFailed;
    if (!storeFileSafe())
        return m_status = kNoKey;
    QSettings store(QSettings::UserScope, QString::fromLatin1(SettingsKeys::kOrganisation),
                    QString::fromLatin1(SettingsKeys::kApplication));
    if (!store.isWritable())
        return m_status = kNoKey;
    const QString group = groupOf(keyPath);
    if (!group.isEmpty())
        store.beginGroup(group);
    store.setValue(QString::fromStdString(valueName), QString::fromStdString(text));
    store.sync();
    // A format error belongs to the text read before: the values are written.
    return m_status = (store.status() == QSettings::AccessError ? kWriteFailed : kOk);
}

int CSettingsStore::ReadValue(const std::string &valueName, std::string &value)
{
    return ReadValue(SettingsKeys::kKeyPath, valueName, value);
}

int CSettingsStore::WriteValue(const std::string &valueName, const std::string &text)
{
    return WriteValue(SettingsKeys::kKeyPath, valueName, text);
}

std::string CSettingsStore::value(const std::string &valueName)
{
    std::string value;
    ReadValue(valueName, value);
    return value;
}
