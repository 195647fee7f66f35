#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

// Writes content to path, making its folders; false when that fails.
inline bool writeFile(const QString &path, const QByteArray &content = "x")
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// The texts of the boxes that a program answering from a test script wrote
// to output, one "box: " line each.
inline QStringList boxLines(const QByteArray &output)
{
    QStringList boxes;
    for (const QString &line : QString::fromLocal8Bit(output).split(QLatin1Char('\n')))
        if (line.startsWith(QLatin1String("box: ")))
            boxes.append(line.mid(5));
    return boxes;
}
