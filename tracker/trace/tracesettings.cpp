#include "tracesettings.h"

#include <QSettings>
#include <QString>

// Fallback used until the settings store is part of the build.
std::string CTraceSettings::read(const char *name)
{
    QSettings settings(QStringLiteral("Norvane"), QStringLiteral("Dunvik"));
    return settings.value(QString::fromLatin1(name)).toString().toStdString();
}

void CTraceSettings::write(const char *name, const std::string &value)
{
    QSettings settings(QStringLiteral("Norvane"), QStringLiteral("Dunvik"));
    settings.setValue(QString::fromLatin1(name), QString::fromStdString(value));
}
