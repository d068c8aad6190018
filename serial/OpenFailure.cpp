#include "serial/OpenFailure.h"

#include "serial/SerialLog.h"
#include "settings/ErrorText.h"

#include <QFile>
#include <QLocale>

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
    QByteArray Content;
    const int Handle = ::open(Name.constData(), O_RDONLY | O_CLOEXEC);
    if (Handle < 0) {
        return Content;
    }
    char Buffer[4096];
    for (;;) {
        const ssize_t Count = ::read(Handle, Buffer, sizeof Buffer);
        if (Count > 0) {
            Content.append(Buffer, Count);
            continue;
        }
        if (Count == -1 && errno == EINTR) {
            continue;
        }
        break; // the end, or an error: what was read so far
    }
    ::close(Handle);
    return Content;
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
    const QList<QByteArray> Lines = ReadProcFile("/proc/locks").split('\n');
    for (const QByteArray& Line : Lines) {
        const QList<QByteArray> Fields = Line.simplified().split(' ');
        if (Fields.size() < 6 || Fields[1] == "->") {
            continue;
        }
        const QList<QByteArray> Inode = Fields[5].split(':');
        if (Inode.size() != 3) {
            continue;
        }
        bool MajorOk = false;
        bool MinorOk = false;
        bool InodeOk = false;
        const unsigned Major = Inode[0].toUInt(&MajorOk, 16);
        const unsigned Minor = Inode[1].toUInt(&MinorOk, 16);
        const qulonglong Number = Inode[2].toULongLong(&InodeOk, 10);
        if (!MajorOk || !MinorOk || !InodeOk || Major != major(Target.st_dev) ||
            Minor != minor(Target.st_dev) || Number != Target.st_ino) {
            continue;
        }
        bool PidOk = false;
        const long Pid = Fields[4].toLong(&PidOk);
        if (PidOk && Pid > 0) {
            return static_cast<pid_t>(Pid);
        }
    }
    return 0;
}

// A process other than this one with a descriptor open on Target, among those whose
// descriptors this user may see.
pid_t DescriptorHolder(const struct stat& Target) {
    DIR* Processes = ::opendir("/proc");
    if (Processes == nullptr) {
        return 0;
    }
    const pid_t Self = ::getpid();
    pid_t Found = 0;
    while (Found == 0) {
        // glibc's readdir is safe on a stream that only one thread uses, as this local one.
        // NOLINTNEXTLINE(concurrency-mt-unsafe)
        const dirent* Entry = ::readdir(Processes);
        if (Entry == nullptr) {
            break;
        }
        bool IsPid = false;
        const long Pid = QByteArray(Entry->d_name).toLong(&IsPid);
        if (!IsPid || Pid <= 0 || Pid == Self) {
            continue;
        }
        const QByteArray FdPath = "/proc/" + QByteArray::number(Pid) + "/fd";
        DIR* Descriptors = ::opendir(FdPath.constData());
        if (Descriptors == nullptr) {
            continue; // gone, or another user's
        }
        // A stream of this thread alone, as above.
        // NOLINTNEXTLINE(concurrency-mt-unsafe)
        while (const dirent* Fd = ::readdir(Descriptors)) {
            struct stat Node {};
            if (Fd->d_name[0] != '.' &&
                ::fstatat(::dirfd(Descriptors), Fd->d_name, &Node, 0) == 0 &&
                SameNode(Node, Target)) {
                Found = static_cast<pid_t>(Pid);
                break;
            }
        }
        ::closedir(Descriptors);
    }
    ::closedir(Processes);
    return Found;
}

} // namespace

TOpenFailure OpenFailureFor(const QString& Device, int Code, const QString& Detail) {
    TOpenFailure Failure;
    Failure.Device = Device;
    Failure.ErrorCode = Code;
    Failure.Detail = Detail;
    switch (Code) {
    case ENOENT:  // nothing by that name, or a by-id link whose adapter is gone
    case ENOTDIR: // a path through something that is no directory
    case ENODEV:
    case ENXIO:
    case EIO: // a ttyS number with no UART behind it
        Failure.Kind = TOpenFailureKind::NotConnected;
        break;
    case EACCES:
    case EPERM:
        Failure.Kind = TOpenFailureKind::NoPermission;
        Failure.Group = DeviceGroup(Device);
        break;
    case EBUSY:       // another opener set exclusive mode
    case EWOULDBLOCK: // another opener holds the lock
        Failure.Kind = TOpenFailureKind::InUse;
        FindDeviceHolder(Device, Failure.HolderPid, Failure.HolderName);
        break;
    default:
        Failure.Kind = TOpenFailureKind::Other;
        break;
    }
    return Failure;
}

bool FindDeviceHolder(const QString& Device, pid_t& Pid, QString& Name) {
    Pid = 0;
    Name.clear();
    struct stat Target {};
    if (::stat(QFile::encodeName(Device).constData(), &Target) == -1) {
        return false;
    }
    Pid = LockHolder(Target);
    if (Pid == 0) {
        Pid = DescriptorHolder(Target);
    }
    if (Pid == 0) {
        return false;
    }
    Name = ProcessName(Pid);
    return true;
}

QString DeviceGroup(const QString& Device) {
    struct stat Node {};
    if (::stat(QFile::encodeName(Device).constData(), &Node) == -1) {
        return {};
    }
    constexpr mode_t GroupReadWrite = S_IRGRP | S_IWGRP;
    if ((Node.st_mode & GroupReadWrite) != GroupReadWrite || Node.st_gid == 0) {
        return {};
    }
    std::vector<char> Buffer(16384);
    struct group Entry {};
    struct group* Found = nullptr;
    if (::getgrgid_r(Node.st_gid, &Entry, Buffer.data(), Buffer.size(), &Found) != 0 ||
        Found == nullptr) {
        return {};
    }
    return QString::fromLocal8Bit(Found->gr_name);
}

QString GroupedNumber(uint64_t Number) {
    return QLocale(QLocale::English, QLocale::UnitedStates).toString(qulonglong(Number));
}

QString TOpenFailure::Reason(const QString& PortName) const {
    const QString Port =
        PortName.isEmpty() ? Device : QStringLiteral("%1 (%2)").arg(PortName, Device);
    switch (Kind) {
    case TOpenFailureKind::None:
        break;
    case TOpenFailureKind::NotConnected:
        return Port + QStringLiteral(" is not connected. Plug in the adapter, or select "
                                     "another port.");
    case TOpenFailureKind::NoPermission:
        if (!Group.isEmpty()) {
            return QStringLiteral("%1: permission denied. Join the group that owns it: sudo "
                                  "adduser $USER %2, then log in again.")
                .arg(Port, Group);
        }
        return Port + QStringLiteral(": permission denied, and no group may open it. Ask the "
                                     "administrator for access.");
    case TOpenFailureKind::InUse: {
        QString Text = Port + QStringLiteral(" is in use by another program");
        if (HolderPid > 0 && !HolderName.isEmpty()) {
            Text += QStringLiteral(" (%1, pid %2)").arg(HolderName).arg(HolderPid);
        } else if (HolderPid > 0) {
            Text += QStringLiteral(" (pid %1)").arg(HolderPid);
        }
        Text += QStringLiteral(". Close that program, or select another port.");
        if (HolderPid <= 0 || HolderName == QLatin1String("ModemManager") ||
            HolderName == QLatin1String("brltty")) {
            Text += QStringLiteral(
                "\nModemManager and brltty take serial adapters for themselves: stop "
                "ModemManager (sudo systemctl stop ModemManager), and remove brltty where no "
                "Braille display is used.");
        }
        return Text;
    }
    case TOpenFailureKind::NotATty:
        return Port + QStringLiteral(" is not a serial device. Select another port, or map "
                                     "%1 to the adapter in the [Ports] section of Bootload.Ini.")
                          .arg(PortName);
    case TOpenFailureKind::RateRefused:
        if (AskedRate == 0) {
            return Port + QStringLiteral(": a bit rate of 0 baud is not possible.");
        }
        if (ActualRate == 0) {
            return QStringLiteral("%1: the adapter cannot run at %2 baud. Use an adapter that can.")
                .arg(Port, GroupedNumber(AskedRate));
        }
        return QStringLiteral("%1: the adapter cannot run at %2 baud (its driver gives %3). Use "
                              "an adapter that can.")
            .arg(Port, GroupedNumber(AskedRate), GroupedNumber(ActualRate));
    case TOpenFailureKind::Other:
        return QStringLiteral("%1 cannot be opened: %2.")
            .arg(Port, ErrorCode != 0 ? ErrorText(ErrorCode) : Detail);
    }
    return {};
}
