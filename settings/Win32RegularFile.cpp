#include "settings/RegularFile.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <windows.h>

#include <algorithm>

namespace {

// A name in the device namespace, or one of the reserved device names that Windows finds
// in every folder ("NUL", "COM1", "con.ini"): opening it would open the device.
bool IsDeviceName(const QString& Path) {
    if (Path.startsWith(QStringLiteral("\\\\.\\")) || Path.startsWith(QStringLiteral("//./"))) {
        return true;
    }
    static const QRegularExpression reserved(
        QStringLiteral("^(CON|PRN|AUX|NUL|COM[0-9]|LPT[0-9]|CONIN\\$|CONOUT\\$)(\\..*)?$"),
        QRegularExpression::CaseInsensitiveOption);
    return reserved.match(QFileInfo(Path).fileName().trimmed()).hasMatch();
}

bool IsMissing(DWORD Code) {
    return Code == ERROR_FILE_NOT_FOUND || Code == ERROR_PATH_NOT_FOUND;
}

} // namespace

TRegularFileContent ReadRegularFile(const QString& Path, size_t Limit) {
    TRegularFileContent content;
    if (IsDeviceName(Path)) {
        content.State = TRegularFileState::NotAFile;
        return content;
    }
    const auto* name = reinterpret_cast<LPCWSTR>(Path.utf16());
    // Looked at before it is opened: opening a device can already act on it.
    const DWORD attributes = ::GetFileAttributesW(name);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        content.State = IsMissing(::GetLastError()) ? TRegularFileState::Missing
                                                    : TRegularFileState::Unreadable;
        return content;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        content.State = TRegularFileState::NotAFile;
        return content;
    }
    const HANDLE file =
        ::CreateFileW(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        content.State = IsMissing(::GetLastError()) ? TRegularFileState::Missing
                                                    : TRegularFileState::Unreadable;
        return content;
    }
    struct TClose {
        HANDLE Handle;
        ~TClose() { ::CloseHandle(Handle); }
    } closer{file};
    // And again once open, in case the path was swapped in between: a pipe or a device is
    // no file.
    if (::GetFileType(file) != FILE_TYPE_DISK) {
        content.State = TRegularFileState::NotAFile;
        return content;
    }
    // One byte past the limit tells a file of exactly the limit from a longer one.
    content.Bytes.resize(Limit + 1);
    size_t filled = 0;
    while (filled < content.Bytes.size()) {
        const DWORD want =
            static_cast<DWORD>(std::min<size_t>(content.Bytes.size() - filled, 1u << 30));
        DWORD got = 0;
        if (!::ReadFile(file, content.Bytes.data() + filled, want, &got, nullptr)) {
            content.Bytes.clear();
            return content;
        }
        if (got == 0) {
            break;
        }
        filled += got;
    }
    content.Truncated = filled > Limit;
    content.Bytes.resize(std::min(filled, Limit));
    content.State = TRegularFileState::Read;
    return content;
}
