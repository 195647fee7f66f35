#pragma once

// Files, a job report and box texts shared by the update engine's tests.

#include "folder/folderlock.h"
#include "jobs/jobreport.h"
#include "scriptedprompt.h"
#include "testfiles.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QStringList>
#include <QTest>

#include <functional>
#include <string>

// Relative path -> content.
using Files = QMap<QString, QByteArray>;
Q_DECLARE_METATYPE(Files)

inline void writeFiles(const QString &folder, const Files &files)
{
    for (auto it = files.begin(); it != files.end(); ++it)
        writeFile(folder + "/" + it.key(), it.value());
}

// The files below folder, sub-folders included; the program folder's lock
// file is left out.
inline Files readTree(const QString &folder)
{
    Files files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        if (it.fileName() == QLatin1String(CProgramFolderLock::kFileName))
            continue;
        if (file.open(QIODevice::ReadOnly))
            files.insert(QDir(folder).relativeFilePath(file.fileName()), file.readAll());
    }
    return files;
}

// The update check's question around a body of file lines.
inline QString checkText(const QString &body)
{
    const QString rule = QString(58, QLatin1Char('-')) + "\n";
    return " Message from: <Moravel>-Tool  V 3.0.0\n" + rule + "\n\n" + body + "\n" + rule
        + "\n\n Click <yes> to see the NORVANE update notes \n and to start the installation procedure ...";
}

// Keeps a job's list as a window would show it. Read it after the job's
// wait(): every call comes from the worker thread, which has ended then.
struct RecordingReport : IJobReport
{
    std::function<void(const std::string &)> onLine;   // on the worker thread, per added line
    std::function<void(const std::string &)> onReason; // on the worker thread, per failure reason
    QStringList lines;
    int finishedCount = 0;

    void addLine(const std::string &line) override
    {
        lines << QString::fromStdString(line);
        if (onLine)
            onLine(line);
    }
    void removeLastLine() override { lines.removeLast(); }
    void failureReason(const std::string &reason) override
    {
        if (onReason)
            onReason(reason);
    }
    void setProgressRange(int, int) override { }
    void setProgress(int) override { }
    void finished() override { ++finishedCount; }
};

// The texts of the boxes that prompt showed.
inline QStringList boxTexts(const ScriptedPrompt &prompt)
{
    QStringList texts;
    for (const ScriptedPrompt::Box &box : prompt.boxes())
        texts << QString::fromStdString(box.text);
    return texts;
}
