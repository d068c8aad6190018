// The settings file on disk: read without blocking or reading too much, and replaced
// atomically (FileReplace.h), so that no reader ever sees half a file and a failed write
// leaves the old one as it was.
#include "settings/IniFile.h"

#include "settings/FileReplace.h"
#include "settings/RegularFile.h"

namespace {

void SetError(QString* Error, const QString& Text) {
    if (Error != nullptr) {
        *Error = Text;
    }
}

} // namespace

TIniFile TIniFile::Read(const QString& Path) {
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

bool WriteIniValue(const QString& Path, QStringView Section, QStringView Key, const QString& Value,
                   QString* Error) {
    if (!IniCanHold(Section, Key, Value)) {
        SetError(Error, QStringLiteral("[%1] %2 cannot hold that value").arg(Section, Key));
        return false;
    }
    QString target;
    if (!FollowLinks(Path, target)) {
        SetError(Error, QStringLiteral("%1: too many levels of symbolic links").arg(Path));
        return false;
    }
    const TIniFile file = TIniFile::Read(target);
    if (!file.CanBeWritten()) {
        SetError(Error, QStringLiteral("%1 is not a settings file that can be read").arg(Path));
        return false;
    }
    const QByteArray changed = IniWithValue(file.Bytes, Section, Key, Value);
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
