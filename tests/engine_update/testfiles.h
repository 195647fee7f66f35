#pragma once

// Files and texts shared by the update engine's tests.

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QString>
#include <QTest>

// Relative path -> content.
using Files = QMap<QString, QByteArray>;
Q_DECLARE_METATYPE(Files)

inline void writeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
    file.write(data);
}

// The files below folder, sub-folders included.
inline Files readTree(const QString &folder)
{
    Files files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            files.insert(QDir(folder).relativeFilePath(path), file.readAll());
    }
    return files;
}

inline QString ruleLine()
{
    return QString(58, QLatin1Char('-')) + "\n";
}

// The update check's question around a body of file lines.
inline QString checkText(const QString &body)
{
    return " Message from: <Moravel>-Tool  V 3.0.0\n" + ruleLine() + "\n\n" + body + "\n" + ruleLine()
        + "\n\n Click <yes> to see the NORVANE update notes \n and to start the installation procedure ...";
}
