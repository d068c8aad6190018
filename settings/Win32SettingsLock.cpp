// The settings lock with LockFileEx. Windows locks are mandatory for the bytes they cover,
// so the lock covers one byte far past the end of any settings file: a lock on the
// settings file itself keeps nobody from reading it. A lock belongs to its handle, so two
// threads of one program exclude each other as two programs do.
#if defined(_WIN32)

#include "settings/SettingsLock.h"

#include "settings/Win32ErrorText.h"

#include <QDir>

#include <algorithm>
#include <chrono>
#include <thread>

#include <windows.h>

namespace {

// Past the 1 MiB a settings file may hold, and within any file system's offsets.
constexpr DWORD LockedByte = 0x7FFFFFF0;

void SetError(QString* Error, const QString& Text) {
    if (Error != nullptr) {
        *Error = Text;
    }
}

HANDLE OpenForLocking(const QString& Path, DWORD Disposition) {
    const QString native = QDir::toNativeSeparators(Path);
    return ::CreateFileW(reinterpret_cast<const wchar_t*>(native.utf16()), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         Disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool Missing(DWORD Code) {
    return Code == ERROR_FILE_NOT_FOUND || Code == ERROR_PATH_NOT_FOUND;
}

// Whether anything is at Path; GetLastError is kept for the caller.
bool Exists(const QString& Path) {
    const DWORD code = ::GetLastError();
    const QString native = QDir::toNativeSeparators(Path);
    const bool there = ::GetFileAttributesW(reinterpret_cast<const wchar_t*>(native.utf16())) !=
                           INVALID_FILE_ATTRIBUTES ||
                       !Missing(::GetLastError());
    ::SetLastError(code);
    return there;
}

} // namespace

TSettingsLock::~TSettingsLock() {
    Release();
}

void TSettingsLock::Release() {
    if (Handle != NoHandle) {
        ::CloseHandle(reinterpret_cast<HANDLE>(Handle)); // releases the lock
        Handle = NoHandle;
    }
}

bool TSettingsLock::Take(const QString& Target, TLockMode Mode, int TimeoutMs, QString* Error) {
    Release();
    const bool exclusive = Mode == TLockMode::Exclusive;
    QString locked = LockFilePath(Target);
    HANDLE file = OpenForLocking(locked, exclusive ? OPEN_ALWAYS : OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = ::GetLastError();
        // No lock file, and none can be made here: the settings file itself is locked. A
        // lock file that is there but cannot be opened is no reason to lock anything else:
        // the others lock that one.
        const bool cannotMake = code == ERROR_ACCESS_DENIED || code == ERROR_WRITE_PROTECT;
        if (Missing(code) || (cannotMake && !Exists(locked))) {
            file = OpenForLocking(Target, OPEN_EXISTING);
            if (file == INVALID_HANDLE_VALUE && Missing(::GetLastError())) {
                if (!exclusive) {
                    return true; // nothing to read, nothing to lock
                }
                ::SetLastError(code);
            } else {
                locked = Target;
            }
        } else {
            ::SetLastError(code);
        }
    }
    if (file == INVALID_HANDLE_VALUE) {
        SetError(Error, QStringLiteral("cannot open %1 to lock it: %2")
                            .arg(locked, Win32ErrorText(::GetLastError())));
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
    std::chrono::milliseconds pause{1};
    const DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
    while (true) {
        OVERLAPPED where{};
        where.Offset = LockedByte;
        if (::LockFileEx(file, flags, 0, 1, 0, &where)) {
            break;
        }
        const DWORD code = ::GetLastError();
        const auto now = std::chrono::steady_clock::now();
        if (code != ERROR_LOCK_VIOLATION || now >= deadline) {
            ::CloseHandle(file);
            SetError(Error,
                     code == ERROR_LOCK_VIOLATION
                         ? QStringLiteral("another program is saving %1: it did not "
                                          "release %2 within %3 s")
                               .arg(Target, locked)
                               .arg(TimeoutMs / 1000.0)
                         : QStringLiteral("cannot lock %1: %2").arg(locked, Win32ErrorText(code)));
            return false;
        }
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(pause, deadline - now));
        pause = std::min(pause * 2, std::chrono::milliseconds(50));
    }
    Handle = reinterpret_cast<intptr_t>(file);
    return true;
}

#endif // _WIN32
