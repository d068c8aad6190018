#include "settings/RegularFile.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

TRegularFileContent ReadRegularFile(const QString& Path, size_t Limit) {
    struct TFd {
        const int Fd;
        ~TFd() {
            if (Fd >= 0) {
                ::close(Fd);
            }
        }
    };
    TRegularFileContent content;
    const QByteArray native = QFile::encodeName(Path);
    // Looked at before it is opened: opening a device can already act on it.
    struct stat info {};
    if (::stat(native.constData(), &info) != 0) {
        content.State =
            errno == ENOENT ? TRegularFileState::Missing : TRegularFileState::Unreadable;
        return content;
    }
    if (!S_ISREG(info.st_mode)) {
        content.State = TRegularFileState::NotAFile;
        return content;
    }
    const TFd file{::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)};
    if (file.Fd < 0) {
        content.State =
            errno == ENOENT ? TRegularFileState::Missing : TRegularFileState::Unreadable;
        return content;
    }
    // And again once open, in case the path was swapped in between.
    if (::fstat(file.Fd, &info) != 0) {
        return content;
    }
    if (!S_ISREG(info.st_mode)) {
        content.State = TRegularFileState::NotAFile;
        return content;
    }
    // One byte past the limit tells a file of exactly the limit from a longer one.
    content.Bytes.resize(Limit + 1);
    size_t filled = 0;
    while (filled < content.Bytes.size()) {
        const ssize_t n =
            ::read(file.Fd, content.Bytes.data() + filled, content.Bytes.size() - filled);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            content.Bytes.clear();
            return content;
        }
        if (n == 0) {
            break;
        }
        filled += static_cast<size_t>(n);
    }
    content.Truncated = filled > Limit;
    content.Bytes.resize(std::min(filled, Limit));
    content.State = TRegularFileState::Read;
    return content;
}
