#pragma once

#include <QProcessEnvironment>
#include <QStringList>

class QProcess;

// Makes the program that process starts next end with the test that
// starts it (SIGKILL when the test's thread that started it dies), so a
// test that crashes or is killed leaves nothing behind that holds ctest's
// output pipe. Call before start(), on the thread that stays until the
// child has ended.
void endWithParent(QProcess &process);

// Ends a server the test started: its input closes, then SIGTERM, then
// SIGKILL when it has not ended within 5 s. Nothing when it is not running.
void stopChild(QProcess &process);

// How a program run by runProgram ended.
struct ProgramRun
{
    int exitCode = -1; // -1 when it crashed or did not end in time (then it is killed)
    QString output;
    QString errors;
};

// Runs command (the program first) in folder with environment and waits
// for its end, at most timeoutMs.
ProgramRun runProgram(const QStringList &command,
                      const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment(),
                      const QString &folder = QString(), int timeoutMs = 120000);
