// The settings file on disk: read without blocking or reading too much, and changed under
// the save lock (SettingsLock.h) by replacing it atomically (FileReplace.h), so that two
// programs that save at once both keep their lines, no reader ever sees half a file and a
// failed write leaves the old one as it was.
#include "settings/IniFile.h"

#include "settings/FileReplace.h"
#include "settings/RegularFile.h"
#include "settings/SettingsLock.h"

#include <functional>

namespace {

void SetError(QString* Error, const QString& Text) {
    if (Error != nullptr) {
        *Error = Text;
    }
}

// The file's bytes as they stand, the lock left to the caller.
TIniFile ReadUnlocked(const QString& Path) {
    TIniFile file;
    const TRegularFileContent content = ReadRegularFile(Path, MaxIniFileSize);
    switch (content.State) {
    case TRegularFileState::Missing:
        file.State = TIniFileState::Missing;
        return file;
    case TRegularFileState::NotAFile:
        file.State = TIniFileState::NotAFile;
        return file;
    case TRegularFileState::Unreadable:
        file.State = TIniFileState::Unreadable;
        return file;
    case TRegularFileState::Read:
        break;
    }
    const QByteArray bytes(reinterpret_cast<const char*>(content.Bytes.data()),
                           static_cast<qsizetype>(content.Bytes.size()));
    if (content.Truncated || bytes.contains('\0')) {
        file.State = TIniFileState::NotIni;
        return file;
    }
    file.State = TIniFileState::Usable;
    file.Bytes = bytes;
    return file;
}

// Changes the file at Path as one step for every program that saves it: under the save
// lock, the file is read, Change gives the new text for the old one (the empty text for a
// missing file), and the new text replaces the file.
bool ChangeIniFile(const QString& Path, const std::function<QByteArray(const QByteArray&)>& Change,
                   QString* Error) {
    QString target;
    if (!FollowLinks(Path, target)) {
        SetError(Error, QStringLiteral("%1: too many levels of symbolic links").arg(Path));
        return false;
    }
    const QString notSettings = QStringLiteral("%1 is not a settings file that can be read");
    // What can be no settings file is refused before a lock file is made beside it.
    if (!ReadUnlocked(target).CanBeWritten()) {
        SetError(Error, notSettings.arg(Path));
        return false;
    }
    TSettingsLock lock;
    if (!lock.Take(target, TLockMode::Exclusive, SaveLockWaitMs, Error)) {
        return false;
    }
    const TIniFile file = ReadUnlocked(target);
    if (!file.CanBeWritten()) {
        SetError(Error, notSettings.arg(Path));
        return false;
    }
    const QByteArray changed = Change(file.Bytes);
    if (file.State == TIniFileState::Usable && changed == file.Bytes) {
        return true;
    }
    // A longer file would be no settings file: every later start would refuse it.
    if (changed.size() > MaxIniFileSize) {
        SetError(Error, QStringLiteral("cannot save %1: it would grow past 1 MiB, the most a "
                                       "settings file may hold")
                            .arg(Path));
        return false;
    }
    return ReplaceFileContent(target, changed, Error);
}

bool RefuseUnlessHeld(QStringView Section, QStringView Key, QStringView Value, QString* Error) {
    if (IniCanHold(Section, Key, Value)) {
        return true;
    }
    SetError(Error, QStringLiteral("[%1] %2 cannot hold that value").arg(Section, Key));
    return false;
}

} // namespace

TIniFile TIniFile::Read(const QString& Path) {
    // A save under way is waited for, briefly: only one that rewrites the file in place
    // could be seen half done. After the wait, or when there is no lock to take, the file
    // is read as it stands.
    QString target;
    TSettingsLock lock;
    if (FollowLinks(Path, target)) {
        (void)lock.Take(target, TLockMode::Shared, ReadLockWaitMs);
    }
    return ReadUnlocked(Path);
}

bool WriteIniValue(const QString& Path, QStringView Section, QStringView Key, const QString& Value,
                   QString* Error) {
    return RefuseUnlessHeld(Section, Key, Value, Error) &&
           ChangeIniFile(
               Path,
               [&](const QByteArray& Text) { return IniWithValue(Text, Section, Key, Value); },
               Error);
}

bool AddIniValue(const QString& Path, QStringView Section, QStringView Key, const QString& Value,
                 QString* Held, QString* Error) {
    QString held;
    const auto addUnlessThere = [&](const QByteArray& Text) {
        if (const std::optional<QString> there = IniValue(Text, Section, Key)) {
            held = *there;
            return Text;
        }
        held = Value.trimmed();
        return IniWithValue(Text, Section, Key, Value);
    };
    if (!RefuseUnlessHeld(Section, Key, Value, Error) ||
        !ChangeIniFile(Path, addUnlessThere, Error)) {
        return false;
    }
    if (Held != nullptr) {
        *Held = held;
    }
    return true;
}
