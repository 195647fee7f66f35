#pragma once

#include <QString>

// Installs this build's programs below prefix, as `cmake --install` does
// for a user. Returns the empty text on success, else what went wrong.
// The test that calls it depends on every installed target.
QString installTree(const QString &prefix);

// The program folder of an installation below prefix.
QString installedProgramFolder(const QString &prefix);
