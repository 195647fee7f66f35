#include "pageaddress.h"

#include <QFileInfo>
#include <QRegularExpression>

QUrl pageAddress(const QString &address)
{
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]+:"));
    if (scheme.match(address).hasMatch())
        return QUrl(address);
    return QUrl::fromLocalFile(QFileInfo(address).absoluteFilePath());
}
