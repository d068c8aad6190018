#include "serial/OpenFailure.h"

#include "serial/SerialLog.h"
#include "serial/remote/RemoteFailureText.h"
#include "serial/remote/RemotePortName.h"
#include "settings/ErrorText.h"

#include <QByteArrayView>
#include <QElapsedTimer>
#include <QFile>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <vector>

namespace {

// The whole of a small file under /proc (their size reads as 0, so read to the end).
// Empty when it cannot be read.
QByteArray ReadProcFile(const QByteArray& Name) {
    QByteArray content;
    const int handle = ::open(Name.constData(), O_RDONLY | O_CLOEXEC);
    if (handle < 0) {
        return content;
    }
    char buffer[4096];
    for (;;) {
        const ssize_t count = ::read(handle, buffer, sizeof buffer);
        if (count > 0) {
            content.append(buffer, count);
            continue;
        }
        if (count == -1 && errno == EINTR) {
            continue;
        }
        break; // the end, or an error: what was read so far
    }
    ::close(handle);
    return content;
}

QString ProcessName(pid_t Pid) {
    return QString::fromLocal8Bit(ReadProcFile("/proc/" + QByteArray::number(Pid) + "/comm"))
        .trimmed();
}

// Whether Node is the same device (or file) as Target.
bool SameNode(const struct stat& Node, const struct stat& Target) {
    if (S_ISCHR(Target.st_mode)) {
        return S_ISCHR(Node.st_mode) && Node.st_rdev == Target.st_rdev;
    }
    return Node.st_dev == Target.st_dev && Node.st_ino == Target.st_ino;
}

// The holder of any lock on Target's inode in /proc/locks, whose lines read
// "1: FLOCK  ADVISORY  WRITE 812 00:05:87 0 EOF" (pid, then the inode as the file
// system's major:minor in hex and the inode number); waiters are marked "->".
pid_t LockHolder(const struct stat& Target) {
    const QList<QByteArray> lines = ReadProcFile("/proc/locks").split('\n');
    for (const QByteArray& line : lines) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 6 || fields[1] == "->") {
            continue;
        }
        const QList<QByteArray> inode = fields[5].split(':');
        if (inode.size() != 3) {
            continue;
        }
        bool majorOk = false;
        bool minorOk = false;
        bool inodeOk = false;
        const unsigned majorNumber = inode[0].toUInt(&majorOk, 16);
        const unsigned minorNumber = inode[1].toUInt(&minorOk, 16);
        const qulonglong number = inode[2].toULongLong(&inodeOk, 10);
        if (!majorOk || !minorOk || !inodeOk || majorNumber != major(Target.st_dev) ||
            minorNumber != minor(Target.st_dev) || number != Target.st_ino) {
            continue;
        }
        bool pidOk = false;
        const long pid = fields[4].toLong(&pidOk);
        if (pidOk && pid > 0) {
            return static_cast<pid_t>(pid);
        }
    }
    return 0;
}

// Bounds of the search through other processes' descriptors, which runs on the GUI
// thread: it gives up (and names no holder) after this long or this many descriptors.
constexpr qint64 HolderSearchMs = 500;
constexpr int HolderSearchDescriptors = 50000;

// Whether the descriptor Name of the folder Descriptors (a /proc/<pid>/fd) is open on a
// device node: its link's text names a path under /dev. Only the text is read: a stat()
// of a descriptor on a hung network or FUSE mount would block until the mount answers.
bool IsDeviceDescriptor(int Descriptors, const char* Name) {
    char text[16];
    const ssize_t length = ::readlinkat(Descriptors, Name, text, sizeof text);
    static constexpr char DevFolder[] = "/dev/";
    constexpr size_t DevLength = sizeof DevFolder - 1;
    return length >= static_cast<ssize_t>(DevLength) &&
           QByteArrayView(text, DevLength) == QByteArrayView(DevFolder, DevLength);
}

// A process other than this one with a descriptor open on Target, among those whose
// descriptors this user may see; 0 as well when the search ran out of its bounds.
pid_t DescriptorHolder(const struct stat& Target) {
    DIR* processes = ::opendir("/proc");
    if (processes == nullptr) {
        return 0;
    }
    const pid_t self = ::getpid();
    pid_t found = 0;
    QElapsedTimer clock;
    clock.start();
    int examined = 0;
    const auto outOfBounds = [&] {
        return examined >= HolderSearchDescriptors || clock.elapsed() >= HolderSearchMs;
    };
    while (found == 0 && !outOfBounds()) {
        // glibc's readdir is safe on a stream that only one thread uses, as this local one.
        // NOLINTNEXTLINE(concurrency-mt-unsafe)
        const dirent* entry = ::readdir(processes);
        if (entry == nullptr) {
            break;
        }
        bool isPid = false;
        const long pid = QByteArray(entry->d_name).toLong(&isPid);
        if (!isPid || pid <= 0 || pid == self) {
            continue;
        }
        const QByteArray fdPath = "/proc/" + QByteArray::number(pid) + "/fd";
        DIR* descriptors = ::opendir(fdPath.constData());
        if (descriptors == nullptr) {
            continue; // gone, or another user's
        }
        // A stream of this thread alone, as above.
        // NOLINTNEXTLINE(concurrency-mt-unsafe)
        while (const dirent* fd = ::readdir(descriptors)) {
            if (fd->d_name[0] == '.') {
                continue;
            }
            if (outOfBounds()) {
                break;
            }
            ++examined;
            struct stat node {};
            if (IsDeviceDescriptor(::dirfd(descriptors), fd->d_name) &&
                ::fstatat(::dirfd(descriptors), fd->d_name, &node, 0) == 0 &&
                SameNode(node, Target)) {
                found = static_cast<pid_t>(pid);
                break;
            }
        }
        ::closedir(descriptors);
    }
    if (found == 0 && outOfBounds()) {
        qCDebug(lcSerial).noquote() << "the search for the holder gave up after" << examined
                                    << "descriptors and" << clock.elapsed() << "ms";
    }
    ::closedir(processes);
    return found;
}

} // namespace

TOpenFailure OpenFailureFor(const QString& Device, int Code, const QString& Detail) {
    TOpenFailure failure;
    failure.Device = Device;
    failure.ErrorCode = Code;
    failure.Detail = Detail;
    switch (Code) {
    case ENOENT:  // nothing by that name, or a by-id link whose adapter is gone
    case ENOTDIR: // a path through something that is no directory
    case ENODEV:
    case ENXIO:
    case EIO: // a ttyS number with no UART behind it
        failure.Kind = TOpenFailureKind::NotConnected;
        break;
    case EACCES:
    case EPERM:
        failure.Kind = TOpenFailureKind::NoPermission;
        failure.Group = DeviceGroup(Device);
        break;
    case EBUSY:       // another opener set exclusive mode
    case EWOULDBLOCK: // another opener holds the lock
        failure.Kind = TOpenFailureKind::InUse;
        FindDeviceHolder(Device, failure.HolderPid, failure.HolderName);
        break;
    default:
        failure.Kind = TOpenFailureKind::Other;
        break;
    }
    return failure;
}

bool FindDeviceHolder(const QString& Device, pid_t& Pid, QString& Name) {
    Pid = 0;
    Name.clear();
    struct stat target {};
    if (::stat(QFile::encodeName(Device).constData(), &target) == -1) {
        return false;
    }
    Pid = LockHolder(target);
    if (Pid == 0) {
        Pid = DescriptorHolder(target);
    }
    if (Pid == 0) {
        return false;
    }
    Name = ProcessName(Pid);
    return true;
}

QString DeviceGroup(const QString& Device) {
    struct stat node {};
    if (::stat(QFile::encodeName(Device).constData(), &node) == -1) {
        return {};
    }
    constexpr mode_t GroupReadWrite = S_IRGRP | S_IWGRP;
    if ((node.st_mode & GroupReadWrite) != GroupReadWrite || node.st_gid == 0) {
        return {};
    }
    std::vector<char> buffer(16384);
    struct group entry {};
    struct group* found = nullptr;
    if (::getgrgid_r(node.st_gid, &entry, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr) {
        return {};
    }
    return QString::fromLocal8Bit(found->gr_name);
}

QString TOpenFailure::Reason(const QString& PortName) const {
    const QString port =
        PortName.isEmpty() ? Device : QStringLiteral("%1 (%2)").arg(PortName, Device);
    if (IsRemotePortName(Device)) {
        return RemoteReason(*this, port);
    }
    switch (Kind) {
    case TOpenFailureKind::None:
    case TOpenFailureKind::NameNotFound:
    case TOpenFailureKind::Unreachable:
    case TOpenFailureKind::NoAnswer:
        break;
    case TOpenFailureKind::NotConnected:
        return port + QStringLiteral(" is not connected. Plug in the adapter, or select "
                                     "another port.");
    case TOpenFailureKind::NoPermission:
        if (!Group.isEmpty()) {
            return QStringLiteral("%1: permission denied. Join the group that owns it: sudo "
                                  "adduser $USER %2, then log in again.")
                .arg(port, Group);
        }
        return port + QStringLiteral(": permission denied, and no group may open it. Ask the "
                                     "administrator for access.");
    case TOpenFailureKind::InUse: {
        QString text = port + QStringLiteral(" is in use by another program");
        if (HolderPid > 0 && !HolderName.isEmpty()) {
            text += QStringLiteral(" (%1, pid %2)").arg(HolderName).arg(HolderPid);
        } else if (HolderPid > 0) {
            text += QStringLiteral(" (pid %1)").arg(HolderPid);
        }
        text += QStringLiteral(". Close that program, or select another port.");
        if (HolderPid <= 0 || HolderName == QLatin1String("ModemManager") ||
            HolderName == QLatin1String("brltty")) {
            text += QStringLiteral(
                "\nModemManager and brltty take serial adapters for themselves: stop "
                "ModemManager (sudo systemctl stop ModemManager), and remove brltty where no "
                "Braille display is used.");
        }
        return text;
    }
    case TOpenFailureKind::NotATty:
        return port + QStringLiteral(" is not a serial device. Select another port, or map "
                                     "%1 to the adapter in the [Ports] section of Bootload.Ini.")
                          .arg(PortName);
    case TOpenFailureKind::RateRefused:
    case TOpenFailureKind::DeviceChanged:
        return CommonReason(*this, port);
    case TOpenFailureKind::Other:
        return QStringLiteral("%1 cannot be opened: %2.")
            .arg(port, ErrorCode != 0 ? ErrorText(ErrorCode) : Detail);
    }
    return {};
}
