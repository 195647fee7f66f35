#pragma once

#include <QString>
#include <QStringList>

#include <string>

// The installer's program name.
inline constexpr const char *kInstallerProgram = "Quennet";

// What the installer is told, as the words of its command line: the
// program first, then its arguments. A folder with blanks stays one word.
// The program path is folder, "/", name (just folder and "/" without a
// name).
QStringList installNewCommand(const std::string &serverPath, const std::string &programFolder,
                              const std::string &programName);
QStringList installAllCommand(const std::string &serverPath, const std::string &programFolder,
                              const std::string &programName);
QStringList restoreCommand(const std::string &release, const std::string &programFolder,
                           const std::string &programName);

// Where a program named without a folder is looked for: the host
// program's folder, then the search path, then the current directory. A
// name with a "/" is taken as it is. Empty when nothing is found.
QString findProgram(const QString &program);

// Starts commandWords[0] with the other words as arguments, detached, in
// the current directory, without a shell; does not wait for it. False when
// it could not be started, with why in *reason when given; nothing is
// shown.
bool LaunchInstaller(const QStringList &commandWords, QString *reason = nullptr);

// Asks the host program to end: an exit request queued to the thread that
// runs the application object, taken when that thread returns to its
// event loop (every running loop of that thread ends).
void requestHostQuit();
