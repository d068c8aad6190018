// Replacing a file on a POSIX system: a temporary file beside it, given the old file's
// owner and permissions, written, flushed to the disk and renamed over it.
#include "settings/FileReplace.h"

#include "settings/ErrorText.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void SetError(QString* Error, const QString& Text) {
    if (Error != nullptr) {
        *Error = Text;
    }
}

class TFd {
public:
    explicit TFd(int Descriptor) : Fd(Descriptor) {}
    ~TFd() { Close(); }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int Get() const { return Fd; }
    int Close() {
        const int result = Fd >= 0 ? ::close(Fd) : 0;
        Fd = -1;
        return result;
    }

private:
    int Fd;
};

// A new, empty file beside Target, open for writing; its path in TempPath. Created with
// the default permissions (the umask applies), as a new settings file would be.
int CreateTemporary(const QString& Target, QString& TempPath) {
    const QFileInfo info(Target);
    for (int attempt = 0; attempt < 100; ++attempt) {
        TempPath = QStringLiteral("%1/.%2.%3.tmp")
                       .arg(info.path(), info.fileName())
                       .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'));
        const int fd = ::open(QFile::encodeName(TempPath).constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    errno = EEXIST;
    return -1;
}

bool WriteAll(int Fd, const QByteArray& Bytes) {
    qsizetype done = 0;
    while (done < Bytes.size()) {
        const ssize_t n = ::write(Fd, Bytes.constData() + done, Bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = EIO;
            }
            return false;
        }
        done += n;
    }
    return true;
}

// Replaces Target with Bytes: written to a temporary file beside it, flushed to the disk,
// given Old's owner and permissions (when there was a file), renamed over it. On failure
// the temporary file is removed and Target is as it was.
bool ReplaceFile(const QString& Target, const QByteArray& Bytes, const struct stat* Old,
                 QString* Error) {
    QString tempPath;
    TFd temp(CreateTemporary(Target, tempPath));
    if (temp.Get() < 0) {
        SetError(Error, QStringLiteral("cannot create a file in %1: %2")
                            .arg(QFileInfo(Target).path(), ErrorText(errno)));
        return false;
    }
    const QByteArray nativeTemp = QFile::encodeName(tempPath);
    const auto fail = [&](const QString& Step) {
        const int code = errno;
        temp.Close();
        ::unlink(nativeTemp.constData());
        SetError(Error, QStringLiteral("cannot %1 %2: %3").arg(Step, tempPath, ErrorText(code)));
        return false;
    };
    if (Old != nullptr) {
        // The owner only where the rights allow it (root, or a group of one's own); the
        // permissions always, and before any byte is written.
        if (::fchown(temp.Get(), Old->st_uid, Old->st_gid) != 0) {
            (void)::fchown(temp.Get(), static_cast<uid_t>(-1), Old->st_gid);
        }
        if (::fchmod(temp.Get(), Old->st_mode & 07777) != 0) {
            return fail(QStringLiteral("set the permissions of"));
        }
    }
    if (!WriteAll(temp.Get(), Bytes)) {
        return fail(QStringLiteral("write"));
    }
    if (::fsync(temp.Get()) != 0) {
        return fail(QStringLiteral("flush"));
    }
    if (temp.Close() != 0) {
        return fail(QStringLiteral("close"));
    }
    if (::rename(nativeTemp.constData(), QFile::encodeName(Target).constData()) != 0) {
        return fail(QStringLiteral("rename over %1 the file").arg(Target));
    }
    // The rename itself reaches the disk with the directory.
    const TFd dir(::open(QFile::encodeName(QFileInfo(Target).path()).constData(),
                         O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Get() >= 0) {
        (void)::fsync(dir.Get());
    }
    return true;
}

} // namespace

bool FollowLinks(const QString& Path, QString& Target) {
    Target = Path;
    for (int hops = 0; hops < 40; ++hops) {
        const QFileInfo info(Target);
        if (!info.isSymLink()) {
            return true;
        }
        char buffer[4096];
        const QByteArray native = QFile::encodeName(Target);
        const ssize_t length = ::readlink(native.constData(), buffer, sizeof buffer);
        if (length < 0 || static_cast<size_t>(length) >= sizeof buffer) {
            return false;
        }
        const QString next = QFile::decodeName(QByteArray(buffer, length));
        Target = next.startsWith(u'/') ? next : info.path() + u'/' + next;
    }
    return false;
}

bool ReplaceFileContent(const QString& Target, const QByteArray& Bytes, QString* Error) {
    const QByteArray native = QFile::encodeName(Target);
    struct stat old {};
    const bool existed = ::stat(native.constData(), &old) == 0;
    // The rename would replace a file whatever its permissions: one that may not be
    // written (made read-only by its owner) is left as it is.
    if (existed && ::access(native.constData(), W_OK) != 0) {
        SetError(Error, QStringLiteral("cannot write %1: %2").arg(Target, ErrorText(errno)));
        return false;
    }
    return ReplaceFile(Target, Bytes, existed ? &old : nullptr, Error);
}
