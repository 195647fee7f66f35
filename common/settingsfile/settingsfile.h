#pragma once

#include <QDateTime>
#include <QString>

#include <functional>
#include <string>

// The per-user settings files (QSettings, INI layout, below the XDG
// configuration folder) may have been edited by hand. Before a store opens
// one, prepare() makes sure that opening it is safe and that writing it
// loses nothing:
// - a name that is not a regular file (a FIFO, a device, a folder) is
//   neither opened for reading nor written: it is named once and the store
//   starts from its defaults;
// - a file larger than kMaxFileBytes or one that is not text (NUL bytes,
//   control characters, invalid UTF-8) cannot be read as settings: it is
//   moved aside whole and the store starts without it;
// - a text file with lines a store would drop on its next write (comments,
//   lines without "=") is copied aside whole, and those lines leave the
//   file itself; the settings it holds stay.
// The copy is named after the file with ".bad-YYYYMMDDhhmm" (local time)
// added, and a further "-N" when that name is taken. Each copy is told to
// the notice handler in one line that names the file and the copy.
namespace SettingsFile {

// What a settings file may hold; a reader looks at no more, and a store
// writes no single value longer than kMaxValueBytes.
constexpr qint64 kMaxFileBytes = 1024 * 1024;
constexpr int kMaxValueBytes = 64 * 1024;

// The file of a per-user store as QSettings (UserScope, IniFormat) names it.
QString path(const QString &organisation, const QString &application);

enum class State
{
    Sound,        // missing, or only settings, section headers and empty lines
    ForeignLines, // text with lines a store would drop
    Unreadable    // too large or not text
};

// What a file holds, judged from at most kMaxFileBytes + 1 of its bytes.
// firstForeignLine is the 1-based number of the first line a store would
// drop, or 0.
State inspect(const QByteArray &content, bool truncated, int *firstForeignLine = nullptr);

// Checks the file of a store and sets it aside as described above. False
// when the file is not safe to open: it is not a regular file, or it is
// unreadable or foreign and could not be copied aside; it is then left as
// it was and must not be read or written.
// Thread-safe; now names the copy.
bool prepare(const QString &organisation, const QString &application,
             const QDateTime &now = QDateTime::currentDateTime());

// Receives every notice of prepare(); the default writes it to standard
// error. The handler may be called on any thread that opens a store.
void setNoticeHandler(std::function<void(const std::string &)> handler);

} // namespace SettingsFile
