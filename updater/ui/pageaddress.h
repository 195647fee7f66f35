#pragma once

#include <QString>
#include <QUrl>

// The address of a page as the viewers take it: a URL with a scheme stays
// as it is; anything else is a local file path.
QUrl pageAddress(const QString &address);
