// Replacing a file on Windows: a temporary file beside it, written and flushed to the disk,
// then put in its place by ReplaceFileW, which keeps the old file's attributes and
// security, or by MoveFileExW when there was none.
#include "settings/FileReplace.h"

#include "settings/Win32ErrorText.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

#include <windows.h>

#include <algorithm>

namespace {

void SetError(QString* Error, const QString& Text) {
    if (Error != nullptr) {
        *Error = Text;
    }
}

LPCWSTR Wide(const QString& Path) {
    return reinterpret_cast<LPCWSTR>(Path.utf16());
}

// A new, empty file beside Target, open for writing; its path in TempPath.
HANDLE CreateTemporary(const QString& Target, QString& TempPath) {
    const QFileInfo info(Target);
    for (int attempt = 0; attempt < 100; ++attempt) {
        TempPath = QDir::toNativeSeparators(
            QStringLiteral("%1/.%2.%3.tmp")
                .arg(info.path(), info.fileName())
                .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0')));
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

} // namespace

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
    const bool replaced =
        existed ? ::ReplaceFileW(Wide(target), Wide(tempPath), nullptr,
                                 REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) != FALSE
                : ::MoveFileExW(Wide(tempPath), Wide(target),
                                MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
    if (!replaced) {
        return fail(QStringLiteral("put in place of %1 the file").arg(Target));
    }
    return true;
}
