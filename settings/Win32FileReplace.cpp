// Replacing a file on Windows: a temporary file beside it, written and flushed to the disk,
// then put in its place by ReplaceFileW, which keeps the old file's attributes and
// security and the old file under a backup name until the new one is in place, or by
// MoveFileExW when there was none. A replacement the system leaves half done is finished
// or undone by what is where afterwards, so that the old file or the new one remains.
#include "settings/Win32FileReplace.h"
#include "settings/FileReplace.h"

#include "settings/Win32ErrorText.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <windows.h>

#include <algorithm>
#include <atomic>

namespace {

void SetError(QString* Error, const QString& Text) {
    if (Error != nullptr) {
        *Error = Text;
    }
}

LPCWSTR Wide(const QString& Path) {
    return reinterpret_cast<LPCWSTR>(Path.utf16());
}

int SystemReplaceFile(const wchar_t* Replaced, const wchar_t* Replacement, const wchar_t* Backup) {
    return ::ReplaceFileW(Replaced, Replacement, Backup, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                          nullptr);
}

std::atomic<TReplaceFileCall> ReplaceCall{SystemReplaceFile};

bool Exists(const QString& Path) {
    return ::GetFileAttributesW(Wide(Path)) != INVALID_FILE_ATTRIBUTES;
}

// The files of a save beside Target: ".<name>.<pid>-<16 hex digits>.tmp" for the new
// content and ".bak" for the old file while ReplaceFileW puts the new one in its place,
// so that those a program left behind when it died can be told from any other file, and
// their program looked for.
QString SaveFilePath(const QString& Target, const char* Kind) {
    const QFileInfo info(Target);
    return QDir::toNativeSeparators(
        QStringLiteral("%1/.%2.%3-%4.%5")
            .arg(info.path(), info.fileName())
            .arg(::GetCurrentProcessId())
            .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'))
            .arg(QLatin1String(Kind)));
}

// Whether the process Pid has ended; one that cannot be looked at (another user's) has not.
bool ProcessGone(DWORD Pid) {
    const HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, Pid);
    if (process == nullptr) {
        return ::GetLastError() == ERROR_INVALID_PARAMETER; // no such process
    }
    const bool gone = ::WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
    ::CloseHandle(process);
    return gone;
}

// Removes the files that saves of Target left behind when their program ended before it
// could (a crash, a power cut): those of processes that are gone. Saves take the save
// lock, so none is under way meanwhile; a process that is still there keeps its own. While
// Target itself is missing they are left alone: a save cut short inside ReplaceFileW
// leaves the old file and the new one only under these names.
void RemoveStaleSaveFiles(const QString& Target) {
    if (!Exists(Target)) {
        return;
    }
    const QFileInfo info(Target);
    const QRegularExpression ours(
        QStringLiteral("^\\.%1\\.([0-9]{1,10})-[0-9a-f]{16}\\.(?:tmp|bak)$")
            .arg(QRegularExpression::escape(info.fileName())),
        QRegularExpression::CaseInsensitiveOption);
    const QDir folder(info.path());
    for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        const QRegularExpressionMatch match = ours.match(name);
        if (match.hasMatch() && ProcessGone(static_cast<DWORD>(match.captured(1).toULong()))) {
            (void)::DeleteFileW(Wide(QDir::toNativeSeparators(folder.filePath(name))));
        }
    }
}

// A new, empty file beside Target, open for writing; its path in TempPath.
HANDLE CreateTemporary(const QString& Target, QString& TempPath) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        TempPath = SaveFilePath(Target, "tmp");
        const HANDLE file = ::CreateFileW(Wide(TempPath), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_FILE_EXISTS) {
            return file;
        }
    }
    ::SetLastError(ERROR_FILE_EXISTS);
    return INVALID_HANDLE_VALUE;
}

bool WriteAll(HANDLE File, const QByteArray& Bytes) {
    qsizetype done = 0;
    while (done < Bytes.size()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<qsizetype>(Bytes.size() - done, 1 << 30));
        if (!::WriteFile(File, Bytes.constData() + done, chunk, &written, nullptr)) {
            return false;
        }
        if (written == 0) {
            ::SetLastError(ERROR_WRITE_FAULT);
            return false;
        }
        done += written;
    }
    return true;
}

// Finishes or undoes a ReplaceFileW of Target by Temp (the new content) that failed with
// Code, keeping the old file under Backup: by what is where now, not by the code alone
// (without the old file in place, 1176 leaves the new one under its temporary name, 1177
// the old one under the backup name). True when the new content is in place; never removes
// the last copy of either.
bool SettleFailedReplace(const QString& Target, const QString& Temp, const QString& Backup,
                         DWORD Code, QString* Error) {
    const QString failure = Win32ErrorText(Code);
    if (Exists(Target)) {
        (void)::DeleteFileW(Wide(Backup));
        if (!Exists(Temp)) {
            return true; // the new file reached its place all the same
        }
        // The old file is in place, as it was.
        (void)::DeleteFileW(Wide(Temp));
        SetError(Error,
                 QStringLiteral("cannot put %1 in place of %2: %3").arg(Temp, Target, failure));
        return false;
    }
    if (Exists(Temp) && ::MoveFileExW(Wide(Temp), Wide(Target), MOVEFILE_WRITE_THROUGH)) {
        (void)::DeleteFileW(Wide(Backup));
        return true;
    }
    const DWORD moveCode = ::GetLastError();
    if (Exists(Backup) && ::MoveFileExW(Wide(Backup), Wide(Target), MOVEFILE_WRITE_THROUGH)) {
        (void)::DeleteFileW(Wide(Temp));
        SetError(Error, QStringLiteral("cannot put %1 in place of %2: %3; the old file is back")
                            .arg(Temp, Target, failure));
        return false;
    }
    SetError(Error, QStringLiteral("cannot put %1 in place of %2: %3, nor finish the replacement: "
                                   "%4; the new content is in %1, the old in %5")
                        .arg(Temp, Target, failure, Win32ErrorText(moveCode), Backup));
    return false;
}

} // namespace

void SetReplaceFileCall(TReplaceFileCall Call) {
    ReplaceCall.store(Call != nullptr ? Call : SystemReplaceFile);
}

bool FollowLinks(const QString& Path, QString& Target) {
    Target = Path;
    for (int hops = 0; hops < 40; ++hops) {
        const QFileInfo info(Target);
        // Symbolic links only: a shortcut (.lnk) is a file of its own.
        if (!info.isSymbolicLink()) {
            return true;
        }
        const QString next = info.symLinkTarget();
        if (next.isEmpty()) {
            return false;
        }
        Target = next;
    }
    return false;
}

bool ReplaceFileContent(const QString& Target, const QByteArray& Bytes, QString* Error) {
    const QString target = QDir::toNativeSeparators(Target);
    const DWORD attributes = ::GetFileAttributesW(Wide(target));
    const bool existed = attributes != INVALID_FILE_ATTRIBUTES;
    // Replacing would succeed even so: a file its owner made read-only is left as it is.
    if (existed && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        SetError(Error, QStringLiteral("cannot write %1: it is read-only").arg(Target));
        return false;
    }
    RemoveStaleSaveFiles(target);
    QString tempPath;
    const HANDLE temp = CreateTemporary(target, tempPath);
    if (temp == INVALID_HANDLE_VALUE) {
        SetError(Error, QStringLiteral("cannot create a file in %1: %2")
                            .arg(QFileInfo(Target).path(), Win32ErrorText(::GetLastError())));
        return false;
    }
    bool open = true;
    const auto fail = [&](const QString& Step) {
        const DWORD code = ::GetLastError();
        if (open) {
            ::CloseHandle(temp);
        }
        ::DeleteFileW(Wide(tempPath));
        SetError(Error,
                 QStringLiteral("cannot %1 %2: %3").arg(Step, tempPath, Win32ErrorText(code)));
        return false;
    };
    if (!WriteAll(temp, Bytes)) {
        return fail(QStringLiteral("write"));
    }
    if (!::FlushFileBuffers(temp)) {
        return fail(QStringLiteral("flush"));
    }
    open = false;
    if (!::CloseHandle(temp)) {
        return fail(QStringLiteral("close"));
    }
    if (!existed) {
        if (!::MoveFileExW(Wide(tempPath), Wide(target),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            return fail(QStringLiteral("put in place of %1 the file").arg(Target));
        }
        return true;
    }
    // The old file is kept under a backup name until the new one is in place, so that a
    // replacement the system leaves half done can be finished or undone.
    const QString backupPath = SaveFilePath(target, "bak");
    if (ReplaceCall.load()(Wide(target), Wide(tempPath), Wide(backupPath)) == FALSE) {
        return SettleFailedReplace(target, tempPath, backupPath, ::GetLastError(), Error);
    }
    // Left behind, it goes with the next save once this program has ended.
    (void)::DeleteFileW(Wide(backupPath));
    return true;
}
