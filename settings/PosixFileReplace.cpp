// Replacing a file on a POSIX system: a temporary file beside it, given the old file's
// owner and permissions, written, flushed to the disk and renamed over it; in a folder
// where no file can be made, the file rewritten in place.
#include "settings/FileReplace.h"

#include "settings/ErrorText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <csignal>
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

// The temporary files of a save: ".<name>.<pid>-<16 hex digits>.tmp" beside the file, so
// that one a program left behind when it died can be told from any other file, and its
// program looked for.
QString TemporaryName(const QString& FileName) {
    return QStringLiteral(".%1.%2-%3.tmp")
        .arg(FileName)
        .arg(::getpid())
        .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'));
}

QRegularExpression TemporaryNamePattern(const QString& FileName) {
    return QRegularExpression(QStringLiteral("^\\.%1\\.([0-9]{1,9})-[0-9a-f]{16}\\.tmp$")
                                  .arg(QRegularExpression::escape(FileName)));
}

// Removes the temporary files that saves of Target left behind when their program ended
// before it could (a crash, a power cut): those of processes that are gone. Saves take the
// save lock, so none is under way meanwhile; a process that is still there keeps its own.
void RemoveStaleTemporaries(const QString& Target) {
    const QFileInfo info(Target);
    const QRegularExpression ours = TemporaryNamePattern(info.fileName());
    const QDir folder(info.path());
    for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden | QDir::NoSymLinks)) {
        const QRegularExpressionMatch match = ours.match(name);
        if (!match.hasMatch()) {
            continue;
        }
        const auto pid = static_cast<pid_t>(match.captured(1).toLong());
        if (pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH) {
            (void)::unlink(QFile::encodeName(folder.filePath(name)).constData());
        }
    }
}

// A new, empty file beside Target, open for writing; its path in TempPath. Created with
// the default permissions (the umask applies), as a new settings file would be.
int CreateTemporary(const QString& Target, QString& TempPath) {
    const QFileInfo info(Target);
    for (int attempt = 0; attempt < 100; ++attempt) {
        TempPath = info.path() + u'/' + TemporaryName(info.fileName());
        const int fd = ::open(QFile::encodeName(TempPath).constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    errno = EEXIST;
    return -1;
}

// Writes Bytes at Fd's offset; how many reached the file in Done, also on failure.
bool WriteAll(int Fd, QByteArrayView Bytes, qsizetype* Done = nullptr) {
    qsizetype done = 0;
    const auto result = [&](bool Written) {
        if (Done != nullptr) {
            *Done = done;
        }
        return Written;
    };
    while (done < Bytes.size()) {
        const ssize_t n = ::write(Fd, Bytes.data() + done, Bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = EIO;
            }
            return result(false);
        }
        done += n;
    }
    return result(true);
}

bool ReadAll(int Fd, QByteArray& Bytes) {
    qsizetype done = 0;
    while (done < Bytes.size()) {
        const ssize_t n = ::read(Fd, Bytes.data() + done, Bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = EIO; // shorter than it was a moment ago
            }
            return false;
        }
        done += n;
    }
    return true;
}

// Rewrites Target with Bytes in place, for a folder where no file can be made beside it
// (one the user may not write): the file stays the same file, its owner and permissions
// with it. Room for a longer file is taken first, so that a full disk or a size limit
// fails before any byte changes; a write that fails part-way puts the old bytes back.
// Flushed to the disk before it reports success.
bool RewriteInPlace(const QString& Target, const QByteArray& Bytes, QString* Error) {
    const auto fail = [&](const QString& Step) {
        SetError(Error,
                 QStringLiteral("cannot %1 %2 in place: %3").arg(Step, Target, ErrorText(errno)));
        return false;
    };
    TFd file(::open(QFile::encodeName(Target).constData(),
                    O_RDWR | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW));
    if (file.Get() < 0) {
        return fail(QStringLiteral("open"));
    }
    struct stat info {};
    if (::fstat(file.Get(), &info) != 0) {
        return fail(QStringLiteral("look at"));
    }
    if (!S_ISREG(info.st_mode)) {
        errno = EINVAL;
        return fail(QStringLiteral("rewrite"));
    }
    QByteArray old(static_cast<qsizetype>(info.st_size), Qt::Uninitialized);
    if (!ReadAll(file.Get(), old)) {
        return fail(QStringLiteral("read"));
    }
    // Puts back the old bytes that the first Written bytes of the rewrite replaced, and the
    // old length; false when even that fails.
    const auto putBack = [&](qsizetype Written) {
        struct stat now {};
        return ::lseek(file.Get(), 0, SEEK_SET) == 0 &&
               WriteAll(file.Get(), QByteArrayView(old).first(std::min(Written, old.size()))) &&
               ::fstat(file.Get(), &now) == 0 &&
               (now.st_size == old.size() || ::ftruncate(file.Get(), old.size()) == 0) &&
               ::fsync(file.Get()) == 0;
    };
    const auto restore = [&](const QString& Step, qsizetype Written) {
        const int code = errno;
        const bool back = putBack(Written);
        errno = code;
        fail(Step);
        if (!back && Error != nullptr) {
            *Error += QStringLiteral("; its old content could not be put back");
        }
        return false;
    };
    if (Bytes.size() > old.size()) {
        const int code = ::posix_fallocate(file.Get(), 0, Bytes.size());
        if (code != 0 && code != EINVAL && code != EOPNOTSUPP) {
            errno = code;
            return restore(QStringLiteral("make room to rewrite"), 0);
        }
    }
    qsizetype written = 0;
    if (::lseek(file.Get(), 0, SEEK_SET) != 0 || !WriteAll(file.Get(), Bytes, &written)) {
        return restore(QStringLiteral("write"), written);
    }
    if (Bytes.size() < old.size() && ::ftruncate(file.Get(), Bytes.size()) != 0) {
        return restore(QStringLiteral("shorten"), written);
    }
    if (::fsync(file.Get()) != 0) {
        return fail(QStringLiteral("flush"));
    }
    if (file.Close() != 0) {
        return fail(QStringLiteral("close"));
    }
    return true;
}

// Replaces Target with Bytes: written to the temporary file Temp (at TempPath) beside it,
// flushed to the disk, given Old's owner and permissions (when there was a file), renamed
// over it. On failure the temporary file is removed and Target is as it was.
bool ReplaceFile(const QString& Target, const QByteArray& Bytes, const struct stat* Old, TFd& Temp,
                 const QString& TempPath, QString* Error) {
    const QByteArray nativeTemp = QFile::encodeName(TempPath);
    const auto fail = [&](const QString& Step) {
        const int code = errno;
        Temp.Close();
        ::unlink(nativeTemp.constData());
        SetError(Error, QStringLiteral("cannot %1 %2: %3").arg(Step, TempPath, ErrorText(code)));
        return false;
    };
    if (Old != nullptr) {
        // The owner only where the rights allow it (root, or a group of one's own); the
        // permissions always, and before any byte is written.
        if (::fchown(Temp.Get(), Old->st_uid, Old->st_gid) != 0 &&
            ::fchown(Temp.Get(), static_cast<uid_t>(-1), Old->st_gid) != 0) {
            // Neither: the new file keeps the user's own owner and group.
        }
        if (::fchmod(Temp.Get(), Old->st_mode & 07777) != 0) {
            return fail(QStringLiteral("set the permissions of"));
        }
    }
    if (!WriteAll(Temp.Get(), Bytes)) {
        return fail(QStringLiteral("write"));
    }
    if (::fsync(Temp.Get()) != 0) {
        return fail(QStringLiteral("flush"));
    }
    if (Temp.Close() != 0) {
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
    RemoveStaleTemporaries(Target);
    QString tempPath;
    TFd temp(CreateTemporary(Target, tempPath));
    if (temp.Get() < 0) {
        const int code = errno;
        // A folder the user may not write, holding a file they may: rewritten in place.
        if (existed && (code == EACCES || code == EPERM)) {
            return RewriteInPlace(Target, Bytes, Error);
        }
        SetError(Error, QStringLiteral("cannot create a file in %1: %2")
                            .arg(QFileInfo(Target).path(), ErrorText(code)));
        return false;
    }
    return ReplaceFile(Target, Bytes, existed ? &old : nullptr, temp, tempPath, Error);
}
