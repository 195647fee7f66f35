#include "registryaccess.h"

#include "settings/updatesettings.h"

#include <QString>
#include <QVariant>

int CRegistryAccess::ReadDword(const std::string &keyPath, const std::string &valueName,
                               std::uint32_t &value)
{
    value = 0;
    const QVariant stored = UpdateSettings::value(keyPath, valueName);
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
    return m_result = UpdateSettings::setValue(keyPath, valueName, static_cast<qulonglong>(value))
        ? kOk
        : kWriteFailed;
}

int CRegistryAccess::ReadString(const std::string &keyPath, const std::string &valueName,
                                std::string &value)
{
    value.clear();
    m_lastString.clear();
    const QVariant stored = UpdateSettings::value(keyPath, valueName);
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
    return m_result = UpdateSettings::setValue(keyPath, valueName, QString::fromStdString(value))
        ? kOk
        : kWriteFailed;
}
