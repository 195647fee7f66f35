#include "settingsfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringDecoder>

#include <cstdio>
#include <map>
#include <mutex>
#include <tuple>

#include <sys/stat.h>

namespace SettingsFile {

namespace {

std::mutex &guard()
{
    static std::mutex mutex;
    return mutex;
}

std::function<void(const std::string &)> &noticeHandler()
{
    static std::function<void(const std::string &)> handler;
    return handler;
}

void tell(const std::function<void(const std::string &)> &handler, const QString &text)
{
    const std::string line = text.toStdString();
    if (handler)
        handler(line);
    else
        std::fprintf(stderr, "%s\n", line.c_str());
}

bool isSettingsLine(const QByteArray &line)
{
    const QByteArray text = line.trimmed();
    if (text.isEmpty())
        return true;
    if (text.startsWith('['))
        return text.endsWith(']');
    if (text.startsWith(';') || text.startsWith('#'))
        return false;
    const qsizetype equals = text.indexOf('=');
    return equals > 0 && !text.left(equals).trimmed().isEmpty();
}

bool isText(const QByteArray &content)
{
    for (const char c : content) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 && c != '\n' && c != '\r' && c != '\t')
            return false;
        if (byte == 0x7f)
            return false;
    }
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString decoded = decoder(content);
    return !decoder.hasError();
}

// The first free name of the copy of path.
QString copyName(const QString &path, const QDateTime &now)
{
    const QString base =
        path + QStringLiteral(".bad-") + now.toString(QStringLiteral("yyyyMMddhhmm"));
    QString name = base;
    for (int n = 2; QFileInfo::exists(name) || QFileInfo(name).isSymLink(); ++n)
        name = base + QLatin1Char('-') + QString::number(n);
    return name;
}

} // namespace

QString path(const QString &organisation, const QString &application)
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QLatin1Char('/') + organisation + QLatin1Char('/') + application
        + QStringLiteral(".conf");
}

State inspect(const QByteArray &content, bool truncated, int *firstForeignLine)
{
    if (firstForeignLine)
        *firstForeignLine = 0;
    if (truncated || content.size() > kMaxFileBytes || !isText(content))
        return State::Unreadable;
    const QList<QByteArray> lines = content.split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        if (!isSettingsLine(lines.at(i))) {
            if (firstForeignLine)
                *firstForeignLine = i + 1;
            return State::ForeignLines;
        }
    }
    return State::Sound;
}

namespace {

// A file as stat() sees it: when it is unchanged since it was last found
// sound, it is not read again (a store reads and writes one value a call).
using FileStamp = std::tuple<dev_t, ino_t, off_t, long long, long long>;

std::map<QString, FileStamp> &soundFiles()
{
    static std::map<QString, FileStamp> files;
    return files;
}

bool stampOf(const QString &file, FileStamp &stamp)
{
    struct stat info;
    if (::stat(QFile::encodeName(file).constData(), &info) != 0)
        return false;
    stamp = FileStamp(info.st_dev, info.st_ino, info.st_size, info.st_mtim.tv_sec,
                      info.st_mtim.tv_nsec);
    return true;
}

// prepare() under the lock; notice receives the line to tell.
bool prepareLocked(const QString &organisation, const QString &application, const QDateTime &now,
                   QString &notice)
{
    const QString file = path(organisation, application);
    FileStamp stamp;
    const bool stamped = stampOf(file, stamp);
    const auto known = soundFiles().find(file);
    if (stamped && known != soundFiles().end() && known->second == stamp)
        return true;
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return true; // missing, or a store cannot open it either
    const QByteArray content = in.read(kMaxFileBytes + 1);
    const bool truncated = content.size() > kMaxFileBytes || !in.atEnd();
    in.close();
    int line = 0;
    const State state = inspect(content, truncated, &line);
    if (state == State::Sound) {
        if (stamped)
            soundFiles()[file] = stamp;
        return true;
    }
    soundFiles().erase(file);

    const QString copy = copyName(file, now);
    if (state == State::Unreadable) {
        // Nothing of it is read: the whole file moves aside.
        if (!QFile::rename(file, copy)) {
            notice = (QStringLiteral(
                          "!! The settings file %1 can not be read as settings and can not be "
                          "moved aside to %2: it is left as it is and not written.")
                          .arg(file, copy));
            return false;
        }
        notice = (QStringLiteral(
                      "!! The settings file %1 can not be read as settings (%2); it was moved "
                      "to %3 and the settings start afresh.")
                      .arg(file,
                           truncated ? QStringLiteral("larger than %1 bytes").arg(kMaxFileBytes)
                                     : QStringLiteral("not text"),
                           copy));
        return true;
    }

    // Text with foreign lines: a whole copy first, then the file without them.
    if (!QFile::copy(file, copy)) {
        notice = (QStringLiteral(
                      "!! The settings file %1 holds lines that are not settings (line %2) and "
                      "can not be copied to %3: it is left as it is and not written.")
                      .arg(file)
                      .arg(line)
                      .arg(copy));
        return false;
    }
    QList<QByteArray> keptLines;
    for (const QByteArray &text : content.split('\n')) {
        if (isSettingsLine(text))
            keptLines.append(text);
    }
    const QByteArray kept = keptLines.join('\n');
    QSaveFile out(file);
    const bool rewritten =
        out.open(QIODevice::WriteOnly) && out.write(kept) == kept.size() && out.commit();
    notice = (QStringLiteral(
                  "!! The settings file %1 holds lines that are not settings (line %2); the whole "
                  "file was copied to %3%4.")
                  .arg(file)
                  .arg(line)
                  .arg(copy,
                       rewritten ? QStringLiteral(" and those lines left it")
                                 : QStringLiteral(
                                     ", but they can not be taken out of it: it is not written")));
    return rewritten;
}

} // namespace

bool prepare(const QString &organisation, const QString &application, const QDateTime &now)
{
    QString notice;
    bool safe = false;
    std::function<void(const std::string &)> handler;
    {
        std::lock_guard<std::mutex> lock(guard());
        safe = prepareLocked(organisation, application, now, notice);
        handler = noticeHandler();
    }
    if (!notice.isEmpty())
        tell(handler, notice);
    return safe;
}

void setNoticeHandler(std::function<void(const std::string &)> handler)
{
    std::lock_guard<std::mutex> lock(guard());
    noticeHandler() = std::move(handler);
}

} // namespace SettingsFile
