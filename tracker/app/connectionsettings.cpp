#include "connectionsettings.h"

#include <QSettings>
#include <QString>

std::string CConnectionSettings::read(const char *name)
{
    QSettings settings(QStringLiteral("Norvane"), QStringLiteral("Dunvik"));
    return settings.value(QString::fromUtf8(name)).toString().toStdString();
}

bool CConnectionSettings::write(const char *name, const std::string &value)
{
    QSettings settings(QStringLiteral("Norvane"), QStringLiteral("Dunvik"));
    settings.setValue(QString::fromUtf8(name), QString::fromStdString(value));
    settings.sync();
    return settings.status() == QSettings::NoError;
}
