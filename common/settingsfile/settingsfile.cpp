#include "settingsfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringDecoder>

#include <cerrno>
#include <cstdio>
#include <map>
#include <mutex>
#include <tuple>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

FileStamp stampOf(const struct stat &info)
{
    return FileStamp(info.st_dev, info.st_ino, info.st_size, info.st_mtim.tv_sec,
                     info.st_mtim.tv_nsec);
}

std::map<QString, FileStamp> &soundFiles()
{
    static std::map<QString, FileStamp> files;
    return files;
}

// Files found not to be regular, and already told: each is told once.
std::map<QString, std::pair<FileStamp, mode_t>> &toldIrregular()
{
    static std::map<QString, std::pair<FileStamp, mode_t>> files;
    return files;
}

QString kindOf(mode_t mode)
{
    if (S_ISFIFO(mode))
        return QStringLiteral("a FIFO");
    if (S_ISDIR(mode))
        return QStringLiteral("a folder");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("a device");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    return QStringLiteral("of an unknown kind");
}

// A settings file that is not a regular file (a FIFO, a device, a folder)
// could block an open or a read, and replacing it would destroy what it
// is: it is neither read nor written, and named once.
bool refuseIrregular(const QString &file, const struct stat &info, QString &notice)
{
    const std::pair<FileStamp, mode_t> stamp(stampOf(info), info.st_mode);
    const auto told = toldIrregular().find(file);
    if (told == toldIrregular().end() || told->second != stamp) {
        toldIrregular()[file] = stamp;
        notice = QStringLiteral(
                     "!! The settings file %1 is %2, not a regular file: it is left as it is, "
                     "neither read nor written, and the settings start from their "
                     "defaults.")
                     .arg(file, kindOf(info.st_mode));
    }
    soundFiles().erase(file);
    return false;
}

// prepare() under the lock; notice receives the line to tell.
bool prepareLocked(const QString &organisation, const QString &application, const QDateTime &now,
                   QString &notice)
{
    const QString file = path(organisation, application);
    const QByteArray name = QFile::encodeName(file);
    // The type is known before any open: opening a FIFO for reading
    // waits for a writer.
    struct stat info;
    if (::stat(name.constData(), &info) != 0)
        return true; // missing: a store creates it
    if (!S_ISREG(info.st_mode))
        return refuseIrregular(file, info, notice);
    toldIrregular().erase(file);
    FileStamp stamp = stampOf(info);
    const auto known = soundFiles().find(file);
    if (known != soundFiles().end() && known->second == stamp)
        return true;
    // Opened without waiting, and checked again: the name may have been
    // given to something else since.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return true; // a store cannot open it either
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return refuseIrregular(file, info, notice);
    }
    stamp = stampOf(info);
    // One byte more than a settings file may hold tells a larger one.
    QByteArray content(kMaxFileBytes + 1, Qt::Uninitialized);
    qint64 got = 0;
    while (got < content.size()) {
        const ssize_t count = ::read(fd, content.data() + got, size_t(content.size() - got));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            break;
        got += count;
    }
    ::close(fd);
    content.truncate(got);
    const bool truncated = content.size() > kMaxFileBytes;
    int line = 0;
    const State state = inspect(content, truncated, &line);
    if (state == State::Sound) {
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
