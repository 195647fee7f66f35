#include "registryaccess.h"

#include "moravelstrings.h"

#include <QSettings>
#include <QString>
#include <QVariant>

namespace {

// The registry's "\" between key names becomes the store's group separator.
QString settingsKey(const std::string &keyPath, const std::string &valueName)
{
    QString group = QString::fromStdString(keyPath);
    group.replace(QLatin1Char('\\'), QLatin1Char('/'));
    while (group.endsWith(QLatin1Char('/')))
        group.chop(1);
    return group + QLatin1Char('/') + QString::fromStdString(valueName);
}

} // namespace

int CRegistryAccess::ReadDword(const std::string &keyPath, const std::string &valueName,
                               std::uint32_t &value)
{
    value = 0;
    QSettings store(QSettings::UserScope, MoravelText::kStoreOrganisation,
                    MoravelText::kStoreApplication);
    const QVariant stored = store.value(settingsKey(keyPath, valueName));
    if (!stored.isValid())
        return m_result = kNoKey;
    bool ok = false;
    const qlonglong number = stored.toLongLong(&ok);
    if (!ok)
        return m_result = kNoKey;
    value = static_cast<std::uint32_t>(number);
    return m_result = kOk;
}

int CRegistryAccess::WriteDword(const std::string &keyPath, const std::string &valueName,
                                std::uint32_t value)
{
    QSettings store(QSettings::UserScope, MoravelText::kStoreOrganisation,
                    MoravelText::kStoreApplication);
    if (!store.isWritable())
        return m_result = kWriteFailed;
    store.setValue(settingsKey(keyPath, valueName), static_cast<qulonglong>(value));
    store.sync();
    return m_result = store.status() == QSettings::NoError ? kOk : kWriteFailed;
}

int CRegistryAccess::ReadString(const std::string &keyPath, const std::string &valueName,
                                std::string &value)
{
    value.clear();
    m_lastString.clear();
    QSettings store(QSettings::UserScope, MoravelText::kStoreOrganisation,
                    MoravelText::kStoreApplication);
    const QVariant stored = store.value(settingsKey(keyPath, valueName));
    if (!stored.isValid() || !stored.canConvert<QString>())
        return m_result = kNoString;
    const QByteArray bytes = stored.toString().toUtf8();
    if (static_cast<std::size_t>(bytes.size()) > kMaxStringBytes)
        return m_result = kNoString;
    value = std::string(bytes.constData()); // up to the first zero byte
    m_lastString = value;
    return m_result = kOk;
}

int CRegistryAccess::WriteString(const std::string &keyPath, const std::string &valueName,
                                 const std::string &value)
{
    QSettings store(QSettings::UserScope, MoravelText::kStoreOrganisation,
                    MoravelText::kStoreApplication);
    if (!store.isWritable())
        return m_result = kWriteFailed;
    store.setValue(settingsKey(keyPath, valueName), QString::fromStdString(value));
    store.sync();
    return m_result = store.status() == QSettings::NoError ? kOk : kWriteFailed;
}
