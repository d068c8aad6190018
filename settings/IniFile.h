// "Bootload.Ini" as people write it by hand, read and written without loss.
//
// Reading: section and key names match without regard to case; blanks around names and
// values are ignored; lines starting with ';' or '#' are comments; LF or CRLF line ends;
// a leading UTF-8 byte-order mark; bytes that are not UTF-8 are tolerated (such a value
// reads as Latin-1); a line that is none of these is skipped; of two equal keys in a
// section, the first wins.
//
// Writing changes the value of one key and nothing else: every other byte of the file
// (comments, order, blank lines, line ends) stays. A missing key is added as a line of its
// own right after the last line of its section that is neither blank nor a comment (the
// blank lines and comments that lead into the next section stay with that section); a
// missing section is added at the end of the file, after a blank line. An added line takes
// the file's line end (that of its first line; LF in a file without one), and a file that
// does not end with a line end gets one first. Of a section that appears twice, the first
// one grows. Writing the value the file holds already leaves the file untouched, not even
// rewritten. The file is replaced atomically: a temporary file beside it, written, flushed
// to the disk, given the old file's owner and permissions, renamed over it; in a folder the
// user may not write, a file they may write is rewritten in place and flushed to the disk
// (FileReplace.h). A path that is a symbolic link is written through: its target is
// replaced and the link stays.
//
// Programs that save the file at the same time take turns (SettingsLock.h, a lock file
// "Bootload.Ini.lock" beside it): each reads, changes and replaces the file while the others
// wait, so every line each of them saves is kept. A save waits a few seconds at most for
// the others, then fails and says so.
//
// Only a file that cannot be a settings file (a directory, FIFO or device, NUL bytes,
// over 1 MiB) is refused, and it is never written; so is a file that may not be written
// (read-only), though the rename would replace it. No write makes a file longer than
// 1 MiB: it fails and leaves the file as it was.
#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringView>

#include <optional>

// The longest settings file: a file of more bytes is not one.
constexpr qsizetype MaxIniFileSize = 1024 * 1024;

enum class TIniFileState {
    Missing,    // nothing at the path: the file may be created
    Usable,     // read; may be rewritten
    NotAFile,   // a directory, FIFO, device or other non-regular file
    Unreadable, // there, but cannot be opened or read (no rights, I/O error)
    NotIni,     // NUL bytes, or over 1 MiB
};

// The file's bytes as they stand. Never blocks (a FIFO) and never reads more than a
// settings file may hold.
struct TIniFile {
    TIniFileState State = TIniFileState::Missing;
    QByteArray Bytes; // empty unless Usable

    static TIniFile Read(const QString& Path);
    bool CanBeWritten() const {
        return State == TIniFileState::Missing || State == TIniFileState::Usable;
    }
};

// The value of Key in Section of an INI text, blanks trimmed; nothing when absent.
std::optional<QString> IniValue(const QByteArray& Text, QStringView Section, QStringView Key);

// Every key of Section with its value, in file order, each key once (the first wins).
QList<QPair<QString, QString>> IniSectionEntries(const QByteArray& Text, QStringView Section);

// Whether the names and the value can be written so that they read back as they are: each
// on one line, the section name without ']', the key not empty, without '=' and not
// starting like a comment or a section header. Blanks around them are not kept.
bool IniCanHold(QStringView Section, QStringView Key, QStringView Value);

// Text with Key of Section set to Value: only that value's bytes change; the key is added
// at the end of its section (the section at the end of the text) when missing. Text itself
// when it already holds that value, or when IniCanHold refuses the names or the value.
QByteArray IniWithValue(const QByteArray& Text, QStringView Section, QStringView Key,
                        const QString& Value);

// Sets one value in the file at Path. True when the file holds the value afterwards
// (written, or already there). False with a reason in Error when the file cannot be a
// settings file, IniCanHold refuses the names or the value, the file would grow past
// MaxIniFileSize, or the atomic replace fails; the file is then as it was and no temporary
// file is left. A missing file is created.
bool WriteIniValue(const QString& Path, QStringView Section, QStringView Key, const QString& Value,
                   QString* Error = nullptr);

// Adds Key=Value to Section of the file at Path unless the section holds Key already; the
// look and the write are one step for every program that saves the file. True when the
// file holds Key afterwards, with the value it holds in Held: Value (trimmed) when added,
// the value found otherwise. False as for WriteIniValue, the file as it was.
bool AddIniValue(const QString& Path, QStringView Section, QStringView Key, const QString& Value,
                 QString* Held, QString* Error = nullptr);
