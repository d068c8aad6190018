// The settings lock with flock(2). A flock belongs to an open file description, so two
// threads of one program exclude each other as two programs do; reading rights are enough
// to take it, so any user who may read the folder can lock the file another user made.
#include "settings/SettingsLock.h"

#include "settings/ErrorText.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

void SetError(QString* Error, const QString& Text) {
    if (Error != nullptr) {
        *Error = Text;
    }
}

// Opens a regular file for locking, never blocking (a FIFO in its place) and never
// following a link; -1 with errno when it cannot (ENOENT when there is none).
int OpenForLocking(const QString& Path, int Flags = 0) {
    const QByteArray native = QFile::encodeName(Path);
    // Looked at first: opening a device can already act on it.
    struct stat info {};
    if (::lstat(native.constData(), &info) == 0 && !S_ISREG(info.st_mode)) {
        errno = EINVAL;
        return -1;
    }
    const int fd =
        ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW | Flags, 0644);
    if (fd < 0) {
        return -1;
    }
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

// The lock file, made when missing and Create: readable by all, whatever the umask, so
// that each user who may save the settings file can take its lock.
int OpenLockFile(const QString& Path, bool Create) {
    const int fd = OpenForLocking(Path);
    if (fd >= 0 || errno != ENOENT || !Create) {
        return fd;
    }
    const int made = OpenForLocking(Path, O_CREAT | O_EXCL);
    if (made < 0 && errno == EEXIST) {
        return OpenForLocking(Path); // another program made it meanwhile
    }
    if (made >= 0) {
        (void)::fchmod(made, 0644);
    }
    return made;
}

bool Exists(const QString& Path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(Path).constData(), &info) == 0;
}

bool CannotMake(int Code) {
    return Code == EACCES || Code == EPERM || Code == EROFS;
}

} // namespace

TSettingsLock::~TSettingsLock() {
    Release();
}

void TSettingsLock::Release() {
    if (Handle != NoHandle) {
        ::close(static_cast<int>(Handle)); // releases the flock
        Handle = NoHandle;
    }
}

bool TSettingsLock::Take(const QString& Target, TLockMode Mode, int TimeoutMs, QString* Error) {
    Release();
    const bool exclusive = Mode == TLockMode::Exclusive;
    QString locked = LockFilePath(Target);
    int fd = OpenLockFile(locked, exclusive);
    int code = errno;
    // No lock file, and none can be made here: the settings file itself is locked. A lock
    // file that is there but cannot be opened is no reason to lock anything else.
    if (fd < 0 && (code == ENOENT || (CannotMake(code) && !Exists(locked)))) {
        fd = OpenForLocking(Target);
        if (fd < 0 && errno == ENOENT) {
            if (!exclusive) {
                return true; // nothing to read, nothing to lock
            }
        } else {
            locked = Target;
            code = errno;
        }
    }
    if (fd < 0) {
        SetError(Error,
                 QStringLiteral("cannot open %1 to lock it: %2").arg(locked, ErrorText(code)));
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
    std::chrono::milliseconds pause{1};
    while (::flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
        code = errno;
        const auto now = std::chrono::steady_clock::now();
        if (code != EINTR && (code != EWOULDBLOCK || now >= deadline)) {
            ::close(fd);
            SetError(Error,
                     code == EWOULDBLOCK
                         ? QStringLiteral("another program is saving %1: it did not "
                                          "release %2 within %3 s")
                               .arg(Target, locked)
                               .arg(TimeoutMs / 1000.0)
                         : QStringLiteral("cannot lock %1: %2").arg(locked, ErrorText(code)));
            return false;
        }
        if (code == EWOULDBLOCK) {
            std::this_thread::sleep_for(
                std::min<std::chrono::steady_clock::duration>(pause, deadline - now));
            pause = std::min(pause * 2, std::chrono::milliseconds(50));
        }
    }
    Handle = fd;
    return true;
}
